#include "support/PeerResponder.h"

namespace serialtest {

PeerResponder::PeerResponder(PtyPeer& peer, Answer answer)
    : peer_(peer), answer_(std::move(answer)), thread_([this] { Run(); }) {}

PeerResponder::~PeerResponder() {
    stop_ = true;
    thread_.join();
}

void PeerResponder::Run() {
    std::string pending;
    while (!stop_) {
        // A short read limit, so that the end is noticed soon; a line cut by it is kept.
        pending += peer_.ReadLine(std::chrono::milliseconds(50));
        if (pending.empty() || pending.back() != '\n')
            continue;
        pending.pop_back();
        if (const std::optional<std::string> reply = answer_(pending))
            peer_.Send(*reply);
        pending.clear();
    }
}

} // namespace serialtest
