#include "LiveWorker.h"

#include <sstream>

#include "common/uCheckAll.h"
#include "protocol/Protocol.h"
#include "support/LogCount.h"

namespace reliability {

// ---- PointsView ------------------------------------------------------------------------------

void PointsView::Reserve(std::size_t points) {
    std::lock_guard lock(mutex_);
    points_.reserve(points);
}

void PointsView::AppendSample(double sample, double volts, double amperes, double watts) {
    std::lock_guard lock(mutex_);
    points_.push_back({sample, volts, amperes, watts});
}

void PointsView::ShowReadingTexts(const std::string& volts, const std::string& amperes,
                                  const std::string& watts) {
    std::lock_guard lock(mutex_);
    lastShown_ = {volts, amperes, watts};
    ++shownCount_;
}

void PointsView::ShowReadingMissing() {
    std::lock_guard lock(mutex_);
    ++missingCount_;
}

void PointsView::ShowWorkerEnded() {
    std::lock_guard lock(mutex_);
    endShown_ = true;
}

void PointsView::ShowSinkProblem(const std::string& problem) {
    std::lock_guard lock(mutex_);
    sinkProblems_.push_back(problem);
}

std::vector<std::string> PointsView::SinkProblems() const {
    std::lock_guard lock(mutex_);
    return sinkProblems_;
}

std::size_t PointsView::MissingCount() const {
    std::lock_guard lock(mutex_);
    return missingCount_;
}

bool PointsView::EndShown() const {
    std::lock_guard lock(mutex_);
    return endShown_;
}

std::vector<workertest::Sample> PointsView::Points() const {
    std::lock_guard lock(mutex_);
    return points_;
}

std::size_t PointsView::PointCount() const {
    std::lock_guard lock(mutex_);
    return points_.size();
}

std::size_t PointsView::ShownCount() const {
    std::lock_guard lock(mutex_);
    return shownCount_;
}

workertest::Texts PointsView::LastShown() const {
    std::lock_guard lock(mutex_);
    return lastShown_;
}

// ---- WorkerRecord ----------------------------------------------------------------------------

void WorkerRecord::Transacted(const std::string& command, const std::string& reply) {
    std::lock_guard lock(mutex_);
    if (command == PollCommand) {
        ++counts_.polls;
        counts_.answeredPolls += reply.empty() ? 0 : 1;
        return;
    }
    ++counts_.sends;
    counts_.answeredSends += reply.empty() ? 0 : 1;
    sends_.push_back({command, reply, counts_.polls});
}

void WorkerRecord::Ended(int32_t sampleCount, int64_t droppedReplies) {
    std::lock_guard lock(mutex_);
    ended_ = true;
    sampleCount_ = sampleCount;
    dropped_ = droppedReplies;
}

WorkerRecord::Tally WorkerRecord::Counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

std::vector<WorkerRecord::Send> WorkerRecord::Sends() const {
    std::lock_guard lock(mutex_);
    return sends_;
}

bool WorkerRecord::Ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

int32_t WorkerRecord::SampleCountAtEnd() const {
    std::lock_guard lock(mutex_);
    return sampleCount_;
}

int64_t WorkerRecord::DroppedAtEnd() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

// ---- LiveWorker ------------------------------------------------------------------------------

std::string LiveWorker::Transact(const std::string& command) {
    const std::string reply = TbaseThread::Transact(command);
    record_.Transacted(command, reply);
    return reply;
}

// ---- LiveWorkerTest --------------------------------------------------------------------------

void LiveWorkerTest::SetUp() {
    AppDir = dir.Path();
    // Set once: the worker reads it for every transaction, so it never changes while one runs.
    ComPortName = "COM" + std::to_string(kPort);
    ComBaudRate = 115200;
    StopRequested = false;
    CommandQueue.Clear();
    PollCommand = CmdReadAll;
    transcriptPath = dir.Path() + "transcript.txt";
}

void LiveWorkerTest::TearDown() {
    if (Worker.load() != nullptr) {
        StopRequested = true;
        EXPECT_TRUE(testsupport::WaitUntil([] { return Worker.load() == nullptr; }))
            << "the worker did not end";
    }
    sim.reset();
}

void LiveWorkerTest::StartSim(const std::vector<std::string>& faults) {
    std::vector<std::string> options = {"--noise", "0", "--transcript", transcriptPath};
    options.insert(options.end(), faults.begin(), faults.end());
    sim = std::make_unique<testsupport::SimProcess>(AppDir, kPort, options);
    ASSERT_EQ(sim->PortName(), ComPortName);
}

void LiveWorkerTest::StartWorker(IReadingsView& target, int32_t interval,
                                 std::unique_ptr<IReadingSink> sink) {
    auto worker = std::make_unique<LiveWorker>(record, window, target, interval);
    worker->Identity = {ComPortName, ComBaudRate, "PSU3005", "SN1", "V1", 30, 5};
    worker->Sink = std::move(sink);
    LaunchWorker(std::move(worker));
}

void LiveWorkerTest::StopWorker() {
    RequestWorkerStop();
    ASSERT_TRUE(testsupport::WaitUntil([] { return Worker.load() == nullptr; }))
        << "the worker did not end";
}

bool LiveWorkerTest::WaitForPoints(std::size_t count, std::chrono::milliseconds limit) {
    return testsupport::WaitUntil([&] { return view.PointCount() >= count; }, limit);
}

bool LiveWorkerTest::WaitForPolls(int64_t count, std::chrono::milliseconds limit) {
    return testsupport::WaitUntil([&] { return record.Counts().polls >= count; }, limit);
}

std::vector<Received> LiveWorkerTest::Transcript() const {
    std::vector<Received> lines;
    std::istringstream in(testsupport::ReadFile(transcriptPath));
    Received entry;
    while (in >> entry.ms && in.get() == ' ' && std::getline(in, entry.line))
        lines.push_back(entry);
    return lines;
}

std::size_t LiveWorkerTest::LogCount(const std::string& channel, const std::string& text) const {
    return testsupport::LogCount(AppDir, channel, text);
}

} // namespace reliability
