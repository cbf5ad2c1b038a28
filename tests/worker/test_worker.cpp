#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "protocol/Protocol.h"
#include "support/GlobalsGuard.h"
#include "support/TestSupport.h"
#include "support/WorkerTestSupport.h"
#include "worker/ubaseThread.h"

using namespace workertest;

namespace {

constexpr int32_t kShortInterval = 2;

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        StopRequested = false;
        CommandQueue.Clear();
        PollCommand = CmdReadAll;
    }

    void TearDown() override {
        script.Release();
        if (Worker.load() != nullptr) {
            StopRequested = true;
            EXPECT_TRUE(WaitForEnd()) << "worker did not end";
        }
    }

    // Starts the worker as the connect action does; it may already be gone when this returns,
    // so a test uses the pointer only while it holds the worker back (a blocked or long wait).
    ScriptedWorker* StartWorker(ISyncCaller& sync, int32_t interval = kShortInterval,
                                std::unique_ptr<IReadingSink> sink = nullptr) {
        auto worker = std::make_unique<ScriptedWorker>(script, sync, view);
        worker->Interval = interval;
        worker->Sink = std::move(sink);
        ScriptedWorker* started = worker.get();
        LaunchWorker(std::move(worker));
        return started;
    }

    static bool WaitForEnd() {
        return testsupport::WaitUntil([] { return Worker.load() == nullptr; });
    }

    bool WaitForShown(std::size_t count) {
        return testsupport::WaitUntil([&] { return view.Shown().size() >= count; });
    }

    testsupport::GlobalsGuard globals;
    Script script;
    RecordingView view;
    DirectSync direct;
    WindowThread window;
};

TEST_F(WorkerTest, EachCycleCountsAppendsAndShowsOnTheWindowThread) {
    script.AddPollReplies({"12.00,1.50,18.00", " 12.10 , 1.40 ,16.94 "});
    StartWorker(window);
    ASSERT_TRUE(WaitForShown(2));

    EXPECT_EQ(view.Samples(), (std::vector<Sample>{{1, 12.0, 1.5, 18.0}, {2, 12.1, 1.4, 16.94}}));
    EXPECT_EQ(view.Shown(),
              (std::vector<Texts>{{"12.00", "1.50", "18.00"}, {"12.10", "1.40", "16.94"}}));
    for (std::thread::id caller : view.CallerThreads())
        EXPECT_EQ(caller, window.Id());
}

TEST_F(WorkerTest, SendsOneQueuedLinePerCycleEachFollowedByAPoll) {
    CommandQueue.Append("L1");
    CommandQueue.Append("L2");
    StartWorker(direct);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return script.SentCount() >= 5; }));

    const std::vector<std::string> sent = script.Sent();
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 5),
              (std::vector<std::string>{"L1", CmdReadAll, "L2", CmdReadAll, CmdReadAll}));
    EXPECT_EQ(CommandQueue.Count(), 0u);
}

TEST_F(WorkerTest, EmptyRepliesCountNothingAndPollingGoesOn) {
    script.AddPollReplies({"", "", "4,5,6"});
    StartWorker(window);
    ASSERT_TRUE(WaitForShown(1));

    EXPECT_EQ(view.Samples(), (std::vector<Sample>{{1, 4, 5, 6}}));
    EXPECT_GE(script.SentCount(), 3u);
}

TEST_F(WorkerTest, TellsTheViewOfEveryPollWithoutAReadingAndOfItsEnd) {
    script.AddPollReplies({"", "ERR", "4,5,6"});
    StartWorker(window);
    ASSERT_TRUE(WaitForShown(1));
    RequestWorkerStop();
    ASSERT_TRUE(WaitForEnd());

    const std::string marks = view.Marks();
    EXPECT_EQ(marks.substr(0, 3), "MMS") << "an empty and a dropped reply, then a reading";
    EXPECT_EQ(marks.back(), 'E');
    EXPECT_EQ(marks.find('E'), marks.size() - 1) << "the end is told once, last";
    for (std::thread::id caller : view.CallerThreads())
        EXPECT_EQ(caller, window.Id());
}

TEST_F(WorkerTest, ALaterWorkerCountsFromOneAndPlacesItsPointsAfterItsBase) {
    script.AddPollReplies({"1,2,3"});
    ScriptedWorker* first = StartWorker(direct, 300);
    ASSERT_TRUE(WaitForShown(1));
    first->RequestStop();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_FALSE(StopRequested.load()) << "RequestStop must stop only its own worker";

    script.AddPollReplies({"4,5,6", "7,8,9"});
    auto second = std::make_unique<ScriptedWorker>(script, direct, view);
    second->Interval = kShortInterval;
    second->SampleBase = 1;
    LaunchWorker(std::move(second));
    ASSERT_TRUE(WaitForShown(3));
    EXPECT_EQ(view.Samples(), (std::vector<Sample>{{1, 1, 2, 3}, {2, 4, 5, 6}, {3, 7, 8, 9}}));
}

// ---- The sink -------------------------------------------------------------------------------

TEST_F(WorkerTest, HandsItsSinkEveryCycleWithAReadingOrACommand) {
    SinkLog log;
    CommandQueue.Append("L1");
    CommandQueue.Append("L2");
    script.AddPollReplies({"1,2,3", "ERR"});
    auto worker = std::make_unique<ScriptedWorker>(script, direct, view);
    worker->Interval = kShortInterval;
    worker->SampleBase = 10;
    worker->Identity = {"COM9", 115200, "XYZ3010N", "SN1", "V1.0", 30, 10};
    worker->Sink = std::make_unique<RecordingSink>(log);
    LaunchWorker(std::move(worker));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return script.SentCount() >= 6; }));
    RequestWorkerStop();
    ASSERT_TRUE(WaitForEnd());

    ASSERT_EQ(log.Begun().size(), 1u);
    EXPECT_EQ(log.Begun()[0].portName, "COM9");
    EXPECT_EQ(log.Begun()[0].ratedVoltage, 30);
    const std::vector<CycleRecord> records = log.Records();
    ASSERT_EQ(records.size(), 2u) << "a cycle without a reading or a command is not recorded";
    EXPECT_EQ(records[0].sample, 11);
    ASSERT_TRUE(records[0].reading.has_value());
    EXPECT_EQ(records[0].reading->watts, 3);
    EXPECT_EQ(records[0].event, "L1 -> OK");
    EXPECT_EQ(records[1].sample, 12) << "the dropped reply was still counted";
    EXPECT_FALSE(records[1].reading.has_value());
    EXPECT_EQ(records[1].event, "L2 -> OK");
    EXPECT_EQ(log.Ends(), 1);
}

TEST_F(WorkerTest, ASinkProblemReachesTheViewAndStandardErrorOncePerChange) {
    SinkLog log;
    log.SetProblem("记录文件无法写入");
    script.AddPollReplies({"1,2,3", "4,5,6", "7,8,9"});
    ::testing::internal::CaptureStderr();
    StartWorker(window, kShortInterval, std::make_unique<RecordingSink>(log));
    const bool shown = WaitForShown(3);
    RequestWorkerStop();
    const bool ended = WaitForEnd();
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(shown && ended);

    EXPECT_EQ(view.SinkProblems(), (std::vector<std::string>{"记录文件无法写入"}));
    const std::size_t first = said.find("记录文件无法写入");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(said.find("记录文件无法写入", first + 1), std::string::npos) << said;
}

// ---- Replies that do not parse ---------------------------------------------------------------

class WorkerBadReplyTest : public WorkerTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(WorkerBadReplyTest, IsDroppedWholeAndPollingGoesOn) {
    script.AddPollReplies({GetParam(), "5,6,7"});
    StartWorker(window);
    ASSERT_TRUE(WaitForShown(1));

    // The bad reply was counted (X = 2 next) but left no point and no text behind.
    EXPECT_EQ(view.Samples(), (std::vector<Sample>{{2, 5, 6, 7}}));
    EXPECT_EQ(view.Shown(), (std::vector<Texts>{{"5", "6", "7"}}));

    StopRequested = true;
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(script.DroppedAtEnd(), 1);
}

INSTANTIATE_TEST_SUITE_P(Replies, WorkerBadReplyTest,
                         ::testing::Values("12.00,1.50",  // current empty
                                           "12.00",       // no comma
                                           "1,2,3,4",     // power "3,4"
                                           "ERR", "1,x,3" // not a number
                                           ));

// ---- Failures of other kinds -----------------------------------------------------------------

TEST_F(WorkerTest, AFailingTransactionEndsTheWorkerAndSaysWhyOnStandardError) {
    script.FailPolls();
    ::testing::internal::CaptureStderr();
    StartWorker(direct);
    const bool ended = WaitForEnd();
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ended);
    EXPECT_EQ(script.Sent(), (std::vector<std::string>{CmdReadAll}));
    EXPECT_TRUE(view.Shown().empty());
    EXPECT_NE(said.find("port exploded"), std::string::npos) << said;
    EXPECT_EQ(view.Marks(), "E");
}

TEST_F(WorkerTest, AFailureInsideTheWindowCallEndsTheWorkerAndSaysWhy) {
    script.AddPollReplies({"1,2,3", "4,5,6"});
    view.FailAppends();
    ::testing::internal::CaptureStderr();
    StartWorker(window);
    const bool ended = WaitForEnd();
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ended);
    EXPECT_EQ(script.Sent(), (std::vector<std::string>{CmdReadAll}));
    EXPECT_TRUE(view.Shown().empty());
    EXPECT_EQ(script.DroppedAtEnd(), 0);
    EXPECT_NE(said.find("chart refused the point"), std::string::npos) << said;
}

// ---- One owner: a stop request never meets a freed worker ------------------------------------

TEST_F(WorkerTest, StopRequestsRacingAWorkerThatEndsOnItsOwn) {
    // Each worker ends at its first poll while the test keeps asking it to stop; a request that
    // reached a worker being freed is what the sanitizers would report.
    script.FailPolls();
    ::testing::internal::CaptureStderr();
    for (int round = 0; round < 300; ++round) {
        auto worker = std::make_unique<ScriptedWorker>(script, direct, view);
        worker->Interval = round % 3; // the end lands before, during and after the requests
        LaunchWorker(std::move(worker));
        while (Worker.load() != nullptr)
            RequestWorkerStop();
    }
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Worker.load(), nullptr);
    EXPECT_EQ(view.Marks(), std::string(300, 'E'));
}

// ---- The three stop tests --------------------------------------------------------------------

struct StopWay {
    const char* name;
    void (*stop)(TbaseThread& worker);
};

const StopWay kStopWays[] = {
    {"StopRequested", [](TbaseThread&) { StopRequested = true; }},
    {"RequestStop", [](TbaseThread& worker) { worker.RequestStop(); }},
};

void PrintTo(const StopWay& way, std::ostream* out) {
    *out << way.name;
}

std::string StopWayName(const ::testing::TestParamInfo<StopWay>& info) {
    return info.param.name;
}

class WorkerStopTest : public WorkerTest, public ::testing::WithParamInterface<StopWay> {};

TEST_P(WorkerStopTest, DuringTheWaitSkipsSendAndPoll) {
    script.AddPollReplies({"1,2,3"});
    // Long enough that the stop lands in the second cycle's wait.
    ScriptedWorker* worker = StartWorker(direct, 300);
    ASSERT_TRUE(WaitForShown(1));
    CommandQueue.Append("L2");
    GetParam().stop(*worker);
    ASSERT_TRUE(WaitForEnd());

    EXPECT_EQ(script.Sent(), (std::vector<std::string>{CmdReadAll}));
    EXPECT_EQ(CommandQueue.Count(), 1u) << "the queued line stays for the next worker";
}

TEST_P(WorkerStopTest, DuringTheSendSkipsThePoll) {
    CommandQueue.Append("L1");
    script.AddPollReplies({"1,2,3"});
    script.BlockOn("L1");
    ScriptedWorker* worker = StartWorker(direct);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return script.Blocked(); }));
    GetParam().stop(*worker);
    script.Release();
    ASSERT_TRUE(WaitForEnd());

    EXPECT_EQ(script.Sent(), (std::vector<std::string>{"L1"}));
    EXPECT_TRUE(view.Shown().empty());
}

TEST_P(WorkerStopTest, DuringThePollStillShowsThatReading) {
    script.AddPollReplies({"1,2,3"});
    script.BlockOn(CmdReadAll);
    ScriptedWorker* worker = StartWorker(window);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return script.Blocked(); }));
    GetParam().stop(*worker);
    script.Release();
    ASSERT_TRUE(WaitForEnd());

    EXPECT_EQ(script.Sent(), (std::vector<std::string>{CmdReadAll}));
    EXPECT_EQ(view.Shown(), (std::vector<Texts>{{"1", "2", "3"}}));
}

INSTANTIATE_TEST_SUITE_P(Ways, WorkerStopTest, ::testing::ValuesIn(kStopWays), StopWayName);

TEST_F(WorkerTest, StopRequestedBeforeStartEndsAtOnceAndClearsWorker) {
    StopRequested = true;
    CommandQueue.Append("L1");
    StartWorker(direct, 60'000);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(script.Sent().empty());
    EXPECT_EQ(CommandQueue.Count(), 1u);
}

} // namespace
