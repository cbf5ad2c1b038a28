#pragma once
// Stand-ins for the window and the supply around a TbaseThread: a recording view, two kinds of
// synchronised call, and a worker whose transactions answer from a script.

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "worker/ubaseThread.h"

namespace workertest {

struct Sample {
    double x, volts, amperes, watts;
    bool operator==(const Sample&) const = default;
};

struct Texts {
    std::string volts, amperes, watts;
    bool operator==(const Texts&) const = default;
};

// Records what the worker shows, and on which thread.
class RecordingView : public IReadingsView {
public:
    void AppendSample(double sample, double volts, double amperes, double watts) override;
    void ShowReadingTexts(const std::string& volts, const std::string& amperes,
                          const std::string& watts) override;
    void ShowReadingMissing() override;
    void ShowWorkerEnded() override;
    void ShowSinkProblem(const std::string& problem) override;

    // What the view was told, in order: 'S' a reading shown, 'M' a reading missing, 'E' the end.
    std::string Marks() const;
    std::vector<std::string> SinkProblems() const;
    std::vector<Sample> Samples() const;
    std::vector<Texts> Shown() const;
    std::vector<std::thread::id> CallerThreads() const;
    // Makes every later AppendSample throw std::logic_error.
    void FailAppends();

private:
    mutable std::mutex mutex_;
    std::vector<Sample> samples_;
    std::vector<Texts> shown_;
    std::string marks_;
    std::vector<std::string> sinkProblems_;
    std::vector<std::thread::id> threads_;
    bool failAppends_ = false;
};

// Runs the routine on the worker's own thread.
class DirectSync : public ISyncCaller {
public:
    void Synchronize(const std::function<void()>& routine) override { routine(); }
};

// A thread that stands for the window thread: it runs each routine while the caller waits, and
// hands a failure back to the caller.
class WindowThread : public ISyncCaller {
public:
    WindowThread();
    ~WindowThread() override;
    void Synchronize(const std::function<void()>& routine) override;
    std::thread::id Id() const { return thread_.get_id(); }

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::packaged_task<void()>> tasks_;
    bool done_ = false;
    std::thread thread_; // last, so it starts after the fields above exist
};

// What the supply answers, and every command it was sent. Shared between the test and a worker,
// and it outlives the worker (which deletes itself).
class Script {
public:
    // Replies to the poll command, in order; once used up, polls get an empty reply.
    void AddPollReplies(std::initializer_list<std::string> replies);
    // Every poll throws std::runtime_error from the transaction.
    void FailPolls();
    // The first transaction of this command waits inside the transaction until Release().
    void BlockOn(const std::string& command);
    bool Blocked() const;
    void Release();

    std::vector<std::string> Sent() const;
    std::size_t SentCount() const;
    // DroppedReplies of the worker as its destructor saw it; -1 while it runs.
    int64_t DroppedAtEnd() const;

    std::string Answer(const std::string& command);
    void RecordEnd(int64_t droppedReplies);

private:
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::deque<std::string> pollReplies_;
    std::vector<std::string> sent_;
    std::string blockOn_;
    bool blocked_ = false, release_ = false, failPolls_ = false;
    int64_t droppedAtEnd_ = -1;
};

// What a worker's sink was handed. It outlives the sink, which ends with its worker.
class SinkLog {
public:
    std::vector<SupplyIdentity> Begun() const;
    std::vector<CycleRecord> Records() const;
    int Ends() const;
    // From the next Record on, the sink reports this problem.
    void SetProblem(std::string problem);

    void Begun(const SupplyIdentity& identity);
    void Recorded(const CycleRecord& record);
    void Ended();
    std::string Problem() const;

private:
    mutable std::mutex mutex_;
    std::vector<SupplyIdentity> begun_;
    std::vector<CycleRecord> records_;
    int ends_ = 0;
    std::string problem_;
};

class RecordingSink : public IReadingSink {
public:
    explicit RecordingSink(SinkLog& log) : log_(log) {}
    void Begin(const SupplyIdentity& identity, const platform::LocalDateTime&) override {
        log_.Begun(identity);
    }
    void Record(const CycleRecord& record) override { log_.Recorded(record); }
    void End() override { log_.Ended(); }
    std::string Problem() const override { return log_.Problem(); }

private:
    SinkLog& log_;
};

class ScriptedWorker : public TbaseThread {
public:
    ScriptedWorker(Script& script, ISyncCaller& sync, IReadingsView& view)
        : TbaseThread(sync, view), script_(script) {}
    ~ScriptedWorker() override { script_.RecordEnd(DroppedReplies); }

protected:
    std::string Transact(const std::string& command) override { return script_.Answer(command); }

private:
    Script& script_;
};

} // namespace workertest
