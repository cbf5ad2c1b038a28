#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "worker/ubaseThread.h"

namespace {

TEST(CommandQueue, TakesLinesOldestFirstAndNothingWhenEmpty) {
    TCommandQueue queue;
    EXPECT_FALSE(queue.TakeFirst().has_value());
    queue.Append("SOUR:VOLT 12.50");
    queue.Append("SOUR:APPLY M1");
    EXPECT_EQ(queue.Count(), 2u);
    EXPECT_EQ(queue.TakeFirst(), "SOUR:VOLT 12.50");
    EXPECT_EQ(queue.TakeFirst(), "SOUR:APPLY M1");
    EXPECT_FALSE(queue.TakeFirst().has_value());
    queue.Append("x");
    queue.Clear();
    EXPECT_EQ(queue.Count(), 0u);
}

TEST(CommandQueue, ConcurrentAppendAndTakeLoseAndReorderNothing) {
    constexpr int kLines = 20000;
    TCommandQueue queue;
    std::thread producer([&] {
        for (int i = 0; i < kLines; ++i)
            queue.Append(std::to_string(i));
    });
    std::vector<std::string> taken;
    while (taken.size() < kLines) {
        if (auto line = queue.TakeFirst())
            taken.push_back(*line);
    }
    producer.join();
    for (int i = 0; i < kLines; ++i)
        ASSERT_EQ(taken[i], std::to_string(i));
    EXPECT_EQ(queue.Count(), 0u);
}

TEST(Event, ManualResetKeepsItsState) {
    TEvent event(true);
    EXPECT_TRUE(event.WaitFor(0));
    EXPECT_TRUE(event.WaitFor(0)) << "a wait must not reset the event";
    event.Reset();
    EXPECT_FALSE(event.WaitFor(0));
    EXPECT_FALSE(event.WaitFor(-5));
    event.Set();
    EXPECT_TRUE(event.WaitFor(0));
}

TEST(Event, SetFromAnotherThreadEndsAWait) {
    TEvent event(false);
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = event.WaitFor(60'000); });
    event.Set();
    waiter.join();
    EXPECT_TRUE(woke);
}

} // namespace
