#pragma once
// The acquisition worker: one thread that, each Interval, sends at most one queued line and polls
// the readings, handing them to the window thread. Free of Qt: it reaches the window through
// ISyncCaller and IReadingsView.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/uCheckAll.h"
#include "worker/ReadingSink.h"

// Runs a routine on the window thread while the caller waits; an exception thrown by the routine
// is rethrown in the caller.
class ISyncCaller {
public:
    virtual ~ISyncCaller() = default;
    virtual void Synchronize(const std::function<void()>& routine) = 0;
};

// What the worker changes in the window; called on the window thread only.
class IReadingsView {
public:
    virtual ~IReadingsView() = default;
    // One point per chart: (sample, volts), (sample, amperes), (sample, watts).
    virtual void AppendSample(double sample, double volts, double amperes, double watts) = 0;
    virtual void ShowReadingTexts(const std::string& volts, const std::string& amperes,
                                  const std::string& watts) = 0;
    // A poll brought no usable reading (no reply, or one that did not parse): what is shown is
    // no longer live.
    virtual void ShowReadingMissing() = 0;
    // The worker has ended; nothing shown follows the supply any more.
    virtual void ShowWorkerEnded() = 0;
    // What the worker's sink cannot do (empty again once it can), for the operator to see.
    virtual void ShowSinkProblem(const std::string& problem) = 0;
};

// First in, first out; every append and every take happens whole.
class TCommandQueue {
public:
    void Append(std::string line);
    // Takes and removes the first line, as one step; empty when there is none.
    std::optional<std::string> TakeFirst();
    std::size_t Count() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::deque<std::string> lines_;
};

// A manual-reset event with a timed wait.
class TEvent {
public:
    explicit TEvent(bool signalled) : signalled_(signalled) {}
    void Set();
    void Reset();
    // True when signalled within timeoutMs.
    bool WaitFor(int32_t timeoutMs);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_;
};

class TbaseThread;

extern TCommandQueue CommandQueue;
extern std::atomic<bool> StopRequested;
// The one running worker, or nullptr; cleared by the worker as its last act. Read it only to test
// for a worker: to reach the worker, use RequestWorkerStop, which cannot meet a freed one.
extern std::atomic<TbaseThread*> Worker;
// "READ:ALL?", set when the window is created.
extern std::string PollCommand;

class TbaseThread {
public:
    TbaseThread(ISyncCaller& sync, IReadingsView& view);
    virtual ~TbaseThread();
    TbaseThread(const TbaseThread&) = delete;
    TbaseThread& operator=(const TbaseThread&) = delete;

    // Starts the thread. From then on the worker owns itself: it deletes itself on its own thread
    // when its loop ends. Throws std::runtime_error "Thread creation error: ..." when refused.
    void Start();

    // Asks this worker alone to end at its next stop test.
    void RequestStop() { stopFlag_ = true; }

    int32_t SampleCount = 0;
    // The x before this worker's first point, so that a later worker's points follow an earlier
    // one's: a point's x is SampleBase + SampleCount.
    double SampleBase = 0;
    // The supply as the connect identified it, and where every cycle goes besides the window
    // (none when empty). Set before Start; the sink is the worker's and ends with it.
    SupplyIdentity Identity;
    std::unique_ptr<IReadingSink> Sink;
    int32_t Interval = 1000;
    // Poll replies that did not parse and were dropped whole.
    std::atomic<int64_t> DroppedReplies{0};

    // Run on the window thread inside the synchronised call.
    void ParseReadings(const std::string& reply);
    void ShowReadings();

protected:
    virtual void Execute();
    virtual void SendQueuedCommand();
    virtual void PollReadings();
    void WaitInterval(int32_t milliseconds);
    bool ShouldStop() const;
    // One transaction with ComPortName and ComBaudRate, reply awaited; tests replace it.
    virtual std::string Transact(const std::string& command);

    TEvent WaitEvent{true};
    ISyncCaller& sync_;
    IReadingsView& view_;

private:
    static void ThreadBody(TbaseThread* self);
    void ShowMissing();
    void ShowEnded();
    void RecordCycle(const std::optional<Measurement>& reading);
    void ReportSinkProblem();
    void ReportCauseChange(const std::string& portName);

    std::atomic<bool> stopFlag_{false};
    // The failure of the last real transaction, so that only a change reaches standard error.
    TransactFailure lastFailure_ = TransactFailure::None;
    std::string LastVoltageText, LastCurrentText, LastPowerText;
    Measurement lastMeasurement_;
    // The queued line sent in this cycle with its reply, for the sink.
    std::string cycleEvent_;
    std::string sinkProblem_;
};

// Records the worker in Worker and starts it; it owns itself from then on. When the start is
// refused, Worker is cleared, the worker deleted and the error rethrown.
void LaunchWorker(std::unique_ptr<TbaseThread> worker);

// Asks the running worker, if any, to end. Safe against a worker that is ending on its own: the
// request and the worker's destruction exclude each other.
void RequestWorkerStop();
