#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "protocol/Protocol.h"
#include "support/TestSupport.h"
#include "support/WorkerTestSupport.h"
#include "worker/ubaseThread.h"

using namespace workertest;

namespace {

constexpr int32_t ShortInterval = 2;

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
        StopRequested = false;
        CommandQueue.Clear();
    }

    // Stores the worker in Worker before its thread starts, as the connect action does.
    ScriptedWorker* StartWorker(ISyncCaller& sync, int32_t interval = ShortInterval) {
        auto* worker = new ScriptedWorker(script, sync, view);
        worker->Interval = interval;
        Worker = worker;
        worker->Start();
        return worker;
    }

    static bool WaitForEnd() {
        return testsupport::WaitUntil([] { return Worker.load() == nullptr; });
    }

    bool WaitForShown(std::size_t count) {
        return testsupport::WaitUntil([&] { return view.shown().size() >= count; });
    }

    Script script;
    RecordingView view;
    DirectSync direct;
    WindowThread window;
};

TEST_F(WorkerTest, EachCycleCountsAppendsAndShowsOnTheWindowThread) {
    script.AddPollReplies({"12.00,1.50,18.00", " 12.10 , 1.40 ,16.94 "});
    StartWorker(window);
    ASSERT_TRUE(WaitForShown(2));

    EXPECT_EQ(view.samples(), (std::vector<Sample>{{1, 12.0, 1.5, 18.0}, {2, 12.1, 1.4, 16.94}}));
    EXPECT_EQ(view.shown(),
              (std::vector<Texts>{{"12.00", "1.50", "18.00"}, {"12.10", "1.40", "16.94"}}));
    for (std::thread::id caller : view.callerThreads())
        EXPECT_EQ(caller, window.id());
}

TEST_F(WorkerTest, SendsOneQueuedLinePerCycleEachFollowedByAPoll) {
    CommandQueue.Append("L1");
    CommandQueue.Append("L2");
    StartWorker(direct);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return script.SentCount() >= 5; }));

    const std::vector<std::string> sent = script.sent();
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 5),
              (std::vector<std::string>{"L1", CmdReadAll, "L2", CmdReadAll, CmdReadAll}));
    EXPECT_EQ(CommandQueue.Count(), 0u);
}

TEST_F(WorkerTest, EmptyRepliesCountNothingAndPollingGoesOn) {
    script.AddPollReplies({"", "", "4,5,6"});
    StartWorker(window);
    ASSERT_TRUE(WaitForShown(1));

    EXPECT_EQ(view.samples(), (std::vector<Sample>{{1, 4, 5, 6}}));
    EXPECT_GE(script.SentCount(), 3u);
}

TEST_F(WorkerTest, ALaterWorkerStartsAgainAtSampleOne) {
    script.AddPollReplies({"1,2,3"});
    ScriptedWorker* first = StartWorker(direct);
    ASSERT_TRUE(WaitForShown(1));
    first->RequestStop();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_FALSE(StopRequested.load()) << "RequestStop must stop only its own worker";

    script.AddPollReplies({"4,5,6"});
    StartWorker(direct);
    ASSERT_TRUE(WaitForShown(2));
    EXPECT_EQ(view.samples(), (std::vector<Sample>{{1, 1, 2, 3}, {1, 4, 5, 6}}));
}

// ---- Replies that do not parse ---------------------------------------------------------------

class WorkerBadReplyTest : public WorkerTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(WorkerBadReplyTest, IsDroppedWholeAndPollingGoesOn) {
    script.AddPollReplies({GetParam(), "5,6,7"});
    StartWorker(window);
    ASSERT_TRUE(WaitForShown(1));

    // The bad reply was counted (X = 2 next) but left no point and no text behind.
    EXPECT_EQ(view.samples(), (std::vector<Sample>{{2, 5, 6, 7}}));
    EXPECT_EQ(view.shown(), (std::vector<Texts>{{"5", "6", "7"}}));

    StopRequested = true;
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(script.droppedAtEnd(), 1);
}

INSTANTIATE_TEST_SUITE_P(Replies, WorkerBadReplyTest,
                         ::testing::Values("12.00,1.50",  // current empty
                                           "12.00",       // no comma
                                           "1,2,3,4",     // power "3,4"
                                           "ERR", "1,x,3" // not a number
                                           ));

// ---- Failures of other kinds -----------------------------------------------------------------

TEST_F(WorkerTest, AFailingTransactionEndsTheWorkerSilently) {
    script.FailPolls();
    StartWorker(direct);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(script.sent(), (std::vector<std::string>{CmdReadAll}));
    EXPECT_TRUE(view.shown().empty());
}

TEST_F(WorkerTest, AFailureInsideTheWindowCallEndsTheWorkerSilently) {
    script.AddPollReplies({"1,2,3", "4,5,6"});
    view.FailAppends();
    StartWorker(window);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(script.sent(), (std::vector<std::string>{CmdReadAll}));
    EXPECT_TRUE(view.shown().empty());
    EXPECT_EQ(script.droppedAtEnd(), 0);
}

// ---- The three stop tests --------------------------------------------------------------------

struct StopWay {
    const char* name;
    void (*stop)(TbaseThread& worker);
};

const StopWay StopWays[] = {
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

    EXPECT_EQ(script.sent(), (std::vector<std::string>{CmdReadAll}));
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

    EXPECT_EQ(script.sent(), (std::vector<std::string>{"L1"}));
    EXPECT_TRUE(view.shown().empty());
}

TEST_P(WorkerStopTest, DuringThePollStillShowsThatReading) {
    script.AddPollReplies({"1,2,3"});
    script.BlockOn(CmdReadAll);
    ScriptedWorker* worker = StartWorker(window);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return script.Blocked(); }));
    GetParam().stop(*worker);
    script.Release();
    ASSERT_TRUE(WaitForEnd());

    EXPECT_EQ(script.sent(), (std::vector<std::string>{CmdReadAll}));
    EXPECT_EQ(view.shown(), (std::vector<Texts>{{"1", "2", "3"}}));
}

INSTANTIATE_TEST_SUITE_P(Ways, WorkerStopTest, ::testing::ValuesIn(StopWays), StopWayName);

TEST_F(WorkerTest, StopRequestedBeforeStartEndsAtOnceAndClearsWorker) {
    StopRequested = true;
    CommandQueue.Append("L1");
    StartWorker(direct, 60'000);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(script.sent().empty());
    EXPECT_EQ(CommandQueue.Count(), 1u);
}

} // namespace
