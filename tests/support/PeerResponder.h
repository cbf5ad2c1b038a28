#pragma once
// A supply scripted line by line: a thread that reads each line the host sends over a PtyPeer and
// writes back what the test's answer function gives for it.

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "support/PtyPeer.h"

namespace serialtest {

class PeerResponder {
public:
    // Gets the line without its line feed; returns the bytes to send back, or nothing for silence.
    using Answer = std::function<std::optional<std::string>(const std::string& line)>;

    // The peer is used by the responder's thread alone until the responder is destroyed.
    PeerResponder(PtyPeer& peer, Answer answer);
    ~PeerResponder();
    PeerResponder(const PeerResponder&) = delete;
    PeerResponder& operator=(const PeerResponder&) = delete;

private:
    void Run();

    PtyPeer& peer_;
    Answer answer_;
    std::atomic<bool> stop_{false};
    std::thread thread_; // last, so it starts after the fields above exist
};

} // namespace serialtest
