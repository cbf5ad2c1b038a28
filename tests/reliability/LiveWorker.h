#pragma once
// The real acquisition worker on a short interval, with the real transaction, against a supply on
// a pseudo-terminal: a view that keeps what a chart keeps, a record of every transaction, and a
// fixture that owns the supply, the temporary AppDir and the worker's end.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/GlobalsGuard.h"
#include "support/TestSupport.h"
#include "support/WorkerTestSupport.h"
#include "worker/ubaseThread.h"

namespace reliability {

// Keeps the points, as the charts do, and the texts last shown.
class PointsView : public IReadingsView {
public:
    // Room for this many points up front, so that storing them costs only the points themselves.
    void Reserve(std::size_t points);
    void AppendSample(double sample, double volts, double amperes, double watts) override;
    void ShowReadingTexts(const std::string& volts, const std::string& amperes,
                          const std::string& watts) override;
    void ShowReadingMissing() override;
    void ShowWorkerEnded() override;
    void ShowSinkProblem(const std::string& problem) override;

    std::vector<workertest::Sample> Points() const;
    // Every sink problem shown, in order (an empty one: the problem went away).
    std::vector<std::string> SinkProblems() const;
    std::size_t PointCount() const;
    std::size_t ShownCount() const;
    std::size_t MissingCount() const;
    bool EndShown() const;
    workertest::Texts LastShown() const;

private:
    mutable std::mutex mutex_;
    std::vector<workertest::Sample> points_;
    workertest::Texts lastShown_;
    std::vector<std::string> sinkProblems_;
    std::size_t shownCount_ = 0;
    std::size_t missingCount_ = 0;
    bool endShown_ = false;
};

// What a worker sent and got. It outlives the worker, which deletes itself.
class WorkerRecord {
public:
    struct Tally {
        int64_t polls = 0;
        int64_t answeredPolls = 0; // with a non-empty reply
        int64_t sends = 0;         // queued lines
        int64_t answeredSends = 0;
        int64_t Replies() const { return answeredPolls + answeredSends; }
    };
    struct Send {
        std::string line;
        std::string reply;
        int64_t pollsBefore; // polls done when the line was sent
    };

    void Transacted(const std::string& command, const std::string& reply);
    void Ended(int32_t sampleCount, int64_t droppedReplies);

    Tally Counts() const;
    std::vector<Send> Sends() const;
    bool Ended() const;
    int32_t SampleCountAtEnd() const;
    int64_t DroppedAtEnd() const;

private:
    mutable std::mutex mutex_;
    Tally counts_;
    std::vector<Send> sends_;
    bool ended_ = false;
    int32_t sampleCount_ = 0;
    int64_t dropped_ = 0;
};

// TbaseThread as the program runs it, with its Interval set and every transaction recorded.
class LiveWorker : public TbaseThread {
public:
    LiveWorker(WorkerRecord& record, ISyncCaller& sync, IReadingsView& view, int32_t interval)
        : TbaseThread(sync, view), record_(record) {
        Interval = interval;
    }
    ~LiveWorker() override { record_.Ended(SampleCount, DroppedReplies); }

protected:
    std::string Transact(const std::string& command) override;

private:
    WorkerRecord& record_;
};

// "5.00,0.50,2.50": what psu-sim without noise reads on its first preset through its 10 ohm load.
inline const workertest::Sample kFirstPreset{0, 5.0, 0.5, 2.5};
inline const workertest::Texts kFirstPresetTexts{"5.00", "0.50", "2.50"};

// One line of psu-sim's transcript.
struct Received {
    long long ms; // since psu-sim started
    std::string line;
};

class LiveWorkerTest : public ::testing::Test {
protected:
    static constexpr int kPort = 3;

    void SetUp() override;
    void TearDown() override;

    // Starts psu-sim without noise, with a transcript, as COM<kPort> of AppDir.
    void StartSim(const std::vector<std::string>& faults = {});
    // Starts the worker as the connect action does: stored in Worker before its thread runs,
    // with the sink, if any, that the connect would give it.
    void StartWorker(IReadingsView& view, int32_t interval = 1,
                     std::unique_ptr<IReadingSink> sink = nullptr);
    void StartWorker() { StartWorker(view); }
    // Asks the worker to stop and waits for its end.
    void StopWorker();

    bool WaitForPoints(std::size_t count,
                       std::chrono::milliseconds limit = std::chrono::seconds(20));
    bool WaitForPolls(int64_t count, std::chrono::milliseconds limit = std::chrono::seconds(20));

    // The lines psu-sim received, in order.
    std::vector<Received> Transcript() const;
    // How often the text occurs in the log files of the channel under AppDir.
    std::size_t LogCount(const std::string& channel, const std::string& text) const;

    testsupport::GlobalsGuard globals; // first in, last out: put back after everything else
    testsupport::TempDir dir;
    std::string transcriptPath;
    std::unique_ptr<testsupport::SimProcess> sim;
    PointsView view;
    workertest::WindowThread window;
    WorkerRecord record;
};

} // namespace reliability
