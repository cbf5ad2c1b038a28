#include "Server.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace sim {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

long long MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

std::string Escaped(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        }
    }
    return out;
}

} // namespace

std::optional<ReceivedLine> LineAssembler::Next(const char*& data, const char* end) {
    while (data != end) {
        const char c = *data++;
        if (c == '\n') {
            ReceivedLine line{std::move(line_), truncated_};
            if (!line.truncated && !line.text.empty() && line.text.back() == '\r')
                line.text.pop_back();
            line_.clear();
            truncated_ = false;
            return line;
        }
        if (line_.size() < kMaxLine)
            line_ += c;
        else
            truncated_ = true;
    }
    return std::nullopt;
}

Transcript::Transcript(const std::string& path)
    : file_(std::fopen(path.c_str(), "a")), path_(path) {
    if (!file_)
        ThrowErrno("cannot open transcript " + path);
}

Transcript::~Transcript() {
    std::fclose(file_);
}

void Transcript::Write(long long ms, const ReceivedLine& line) {
    const std::string entry = std::to_string(ms) + " " + Escaped(line.text) +
                              (line.truncated ? " [truncated]" : "") + "\n";
    if (std::fputs(entry.c_str(), file_) < 0 || std::fflush(file_) != 0)
        ThrowErrno("cannot write transcript " + path_);
}

void OutputQueue::Schedule(const std::string& reply, Clock::time_point now) {
    ++replies_;
    Clock::time_point due = now + std::chrono::milliseconds(options_.delayMs);
    if (!scheduled_.empty())
        due = std::max(due, scheduled_.back().due);
    if (options_.floodEvery > 0 && replies_ % options_.floodEvery == 0) {
        Add(due, Flood(options_.floodBytes));
        due += std::chrono::milliseconds(options_.floodPauseMs);
    }
    const std::string line = reply + (options_.crlf ? "\r\n" : "\n");
    const std::size_t piece = options_.chunkBytes > 0 ? options_.chunkBytes : line.size();
    for (std::size_t at = 0; at < line.size(); at += piece) {
        if (at > 0)
            due += std::chrono::milliseconds(options_.chunkPauseMs);
        Add(due, line.substr(at, piece));
    }
}

void OutputQueue::Add(Clock::time_point due, std::string bytes) {
    scheduled_.push_back({due, std::move(bytes)});
}

std::string OutputQueue::Flood(int size) {
    // Printable noise: no LF or CR, nothing a terminal would act on.
    std::string noise(static_cast<std::size_t>(size), ' ');
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>('!' + (i * 7) % 94);
    return noise;
}

void OutputQueue::Release(Clock::time_point now) {
    while (!scheduled_.empty() && scheduled_.front().due <= now) {
        std::string& bytes = scheduled_.front().bytes;
        if (pending_.size() + bytes.size() <= kMaxPending) {
            pending_ += bytes;
            overflowReported_ = false;
        } else if (!overflowReported_) {
            std::fprintf(stderr, "psu-sim: the peer is not reading; dropping replies\n");
            overflowReported_ = true;
        }
        scheduled_.pop_front();
    }
}

std::optional<Clock::time_point> OutputQueue::NextDue() const {
    if (scheduled_.empty())
        return std::nullopt;
    return scheduled_.front().due;
}

Server::Server(int master, int signalFd, Responder& responder, const Options& options,
               Transcript* transcript, Clock::time_point start)
    : master_(master), signalFd_(signalFd), responder_(responder), transcript_(transcript),
      start_(start), output_(options) {
    if (options.exitAfterMs)
        exitAt_ = start + std::chrono::milliseconds(*options.exitAfterMs);
}

int Server::PollTimeoutMs(Clock::time_point now) const {
    std::optional<Clock::time_point> wake = output_.NextDue();
    if (exitAt_ && (!wake || *exitAt_ < *wake))
        wake = exitAt_;
    if (!wake)
        return -1;
    // Round up so the loop does not wake just before the time and spin.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
    return static_cast<int>(std::clamp<long long>(wait, 0, 60 * 1000));
}

int Server::Run() {
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (exitAt_ && now >= *exitAt_)
            return 0;
        output_.Release(now);
        const short masterEvents = output_.pending().empty() ? POLLIN : (POLLIN | POLLOUT);
        pollfd fds[2] = {{master_, masterEvents, 0}, {signalFd_, POLLIN, 0}};
        const int ready = poll(fds, 2, PollTimeoutMs(now));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno("poll");
        }
        if (fds[1].revents & POLLIN)
            return 0;
        if (fds[0].revents & POLLIN)
            ReadCommands(Clock::now());
        else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            throw std::runtime_error("the pseudo-terminal failed");
        if (fds[0].revents & POLLOUT)
            WritePending();
    }
}

void Server::ReadCommands(Clock::time_point now) {
    char buffer[4096];
    const ssize_t count = read(master_, buffer, sizeof buffer);
    if (count < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return;
        ThrowErrno("read from the pseudo-terminal");
    }
    const char* data = buffer;
    const char* end = buffer + count;
    while (auto line = lines_.Next(data, end)) {
        if (line->text.empty() && !line->truncated)
            continue;
        if (transcript_)
            transcript_->Write(MillisecondsBetween(start_, now), *line);
        if (auto reply = responder_.Answer(*line))
            output_.Schedule(*reply, now);
    }
}

void Server::WritePending() {
    std::string& pending = output_.pending();
    const ssize_t written = write(master_, pending.data(), pending.size());
    if (written < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return;
        ThrowErrno("write to the pseudo-terminal");
    }
    pending.erase(0, static_cast<std::size_t>(written));
}

} // namespace sim
