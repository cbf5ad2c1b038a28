#pragma once
// The serving loop: reads command lines from the pseudo-terminal, writes the replies with the
// configured timing and faults, until a signal or the exit time.

#include "Options.h"
#include "Responder.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>

namespace sim {

using Clock = std::chrono::steady_clock;

// Collects bytes into lines ended by LF; a CR before the LF is dropped. A line longer than
// kMaxLine keeps its first kMaxLine bytes and is marked truncated.
class LineAssembler {
public:
    static constexpr std::size_t kMaxLine = 4096;
    // Returns the next complete line, consuming bytes from data (advanced past what was used).
    std::optional<ReceivedLine> Next(const char*& data, const char* end);

private:
    std::string line_;
    bool truncated_ = false;
};

// Appends "<ms since start> <line>" per received line, flushed at once; bytes outside printable
// ASCII are written as \xNN so every entry stays on one line.
class Transcript {
public:
    explicit Transcript(const std::string& path); // throws std::runtime_error
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;
    void Write(long long ms, const ReceivedLine& line);

private:
    std::FILE* file_;
    std::string path_;
};

// Reply bytes waiting for their time, then for the master to take them.
class OutputQueue {
public:
    explicit OutputQueue(const Options& options) : options_(options) {}
    // Schedules a reply (without line ending) after the earlier ones.
    void Schedule(const std::string& reply, Clock::time_point now);
    // Moves what is due into the pending bytes; drops what does not fit the bound.
    void Release(Clock::time_point now);
    std::optional<Clock::time_point> NextDue() const;
    std::string& pending() { return pending_; }

private:
    static constexpr std::size_t kMaxPending = 64 * 1024;
    struct Segment {
        Clock::time_point due;
        std::string bytes;
    };
    void Add(Clock::time_point due, std::string bytes);
    static std::string Flood(int size);

    const Options& options_;
    std::deque<Segment> scheduled_;
    std::string pending_;
    long replies_ = 0;
    bool overflowReported_ = false;
};

class Server {
public:
    Server(int master, int signalFd, Responder& responder, const Options& options,
           Transcript* transcript, Clock::time_point start);
    // Serves until a signal or the exit time (returns 0); throws on a failure of the terminal.
    int Run();

private:
    int PollTimeoutMs(Clock::time_point now) const;
    void ReadCommands(Clock::time_point now);
    void WritePending();

    int master_;
    int signalFd_;
    Responder& responder_;
    Transcript* transcript_;
    Clock::time_point start_;
    std::optional<Clock::time_point> exitAt_;
    LineAssembler lines_;
    OutputQueue output_;
};

} // namespace sim
