#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <future>
#include <limits>
#include <mutex>
#include <vector>

#include "TestSupport.h"
#include "runtime/Clock.h"

using namespace lumvane;
using namespace std::chrono_literals;

namespace {

TEST(ManualClock, StandsStillUntilAdvanced) {
    ManualClock clock;
    const auto t0 = clock.now();
    EXPECT_EQ(clock.now(), t0);
    clock.advance(1.5);
    EXPECT_EQ(clock.now() - t0, 1500ms);
    clock.advance(-1.0);  // time never runs backwards
    EXPECT_EQ(clock.now() - t0, 1500ms);
    clock.advanceTo(t0);
    EXPECT_EQ(clock.now() - t0, 1500ms);
}

TEST(ManualClock, CallsRunInDeadlineOrderInsideAdvance) {
    ManualClock clock;
    std::vector<int> ran;
    const auto t0 = clock.now();
    clock.callAt(t0 + 3s, [&] { ran.push_back(3); });
    clock.callAt(t0 + 1s, [&] { ran.push_back(1); });
    clock.callAt(t0 + 1s, [&] { ran.push_back(11); });
    const auto dropped = clock.callAt(t0 + 2s, [&] { ran.push_back(2); });
    clock.callAt(t0 + 2s, [&] {
        ran.push_back(22);
        clock.callAt(clock.now(), [&] { ran.push_back(23); });  // due at once: same advance
    });
    EXPECT_TRUE(clock.cancel(dropped));
    EXPECT_FALSE(clock.cancel(dropped));
    clock.advance(2.0);
    EXPECT_EQ(ran, (std::vector<int>{1, 11, 22, 23}));
    clock.advance(1.0);
    EXPECT_EQ(ran, (std::vector<int>{1, 11, 22, 23, 3}));
    EXPECT_EQ(clock.pendingCalls(), 0u);
}

TEST(ManualClock, WaitUntilEndsAtTheDeadlineOrWhenTheConditionHolds) {
    ManualClock clock;
    std::mutex m;
    std::condition_variable cv;
    bool flag = false;
    auto timed = std::async(std::launch::async, [&] {
        std::unique_lock<std::mutex> lk(m);
        return clock.waitUntil(lk, cv, clock.deadlineAfter(10.0), [&] { return flag; });
    });
    ASSERT_TRUE(clock.waitForSleepers(1));
    clock.advance(9.0);
    EXPECT_TRUE(lumvane::testing::stillPending(timed));
    clock.advance(1.0);
    ASSERT_TRUE(lumvane::testing::completes(timed));
    EXPECT_FALSE(timed.get());
    EXPECT_EQ(clock.sleepers(), 0u);

    auto signalled = std::async(std::launch::async, [&] {
        std::unique_lock<std::mutex> lk(m);
        return clock.waitUntil(lk, cv, clock.deadlineAfter(10.0), [&] { return flag; });
    });
    ASSERT_TRUE(clock.waitForSleepers(1));
    {
        std::lock_guard<std::mutex> g(m);
        flag = true;
    }
    cv.notify_all();
    ASSERT_TRUE(lumvane::testing::completes(signalled));
    EXPECT_TRUE(signalled.get());
}

TEST(ManualClock, ManySleepersWakeAtTheirOwnDeadlines) {
    ManualClock clock;
    std::vector<std::future<void>> sleepers;
    for (int i = 1; i <= 8; ++i) {
        sleepers.push_back(std::async(
            std::launch::async, [&, i] { clock.sleepUntil(clock.deadlineAfter(double(i))); }));
    }
    ASSERT_TRUE(clock.waitForSleepers(8));
    for (int i = 1; i <= 8; ++i) {
        clock.advance(1.0);
        ASSERT_TRUE(lumvane::testing::completes(sleepers[i - 1]));
        if (i < 8) {
            EXPECT_TRUE(lumvane::testing::stillPending(sleepers[i]));
        }
    }
}

TEST(Clock, DeadlinesSaturateInsteadOfOverflowing) {
    ManualClock clock;
    struct Case {
        double seconds;
        bool never;
    };
    const Case cases[] = {{1e300, true},        {std::numeric_limits<double>::infinity(), true},
                          {std::nan(""), true}, {0.0, false},
                          {-5.0, false},        {60.0, false}};
    for (const auto& c : cases) {
        const auto d = clock.deadlineAfter(c.seconds);
        EXPECT_EQ(d == Clock::TimePoint::max(), c.never) << c.seconds;
        EXPECT_GE(d, clock.now()) << c.seconds;
    }
    EXPECT_EQ(clock.deadlineAfter(Clock::Duration::max()), Clock::TimePoint::max());
    EXPECT_EQ(Clock::seconds(-1.0), Clock::Duration::zero());
}

TEST(Clock, SteadyClockRunsCallsOnItsOwnThread) {
    auto clock = Clock::steady();
    EXPECT_EQ(clock, Clock::steady());
    std::promise<void> ran;
    clock->callAt(clock->now() + 1ms, [&] { ran.set_value(); });
    auto f = ran.get_future();
    EXPECT_TRUE(lumvane::testing::completes(f));
    const auto dropped = clock->callAt(clock->now() + 1h, [] {});
    EXPECT_TRUE(clock->cancel(dropped));
}

// The clock's thread sleeps until its earliest call: a call due sooner wakes it, a call
// due later than one already waiting runs at its own time all the same.
TEST(Clock, SteadyClockRunsEarlierAndLaterCallsOnTime) {
    auto clock = Clock::steady();
    const auto far = clock->callAt(clock->now() + 1h, [] {});
    std::mutex m;
    std::vector<int> order;
    std::promise<void> soon, later, latest;
    const auto t0 = clock->now();
    clock->callAt(t0 + 40ms, [&] {
        std::lock_guard<std::mutex> g(m);
        order.push_back(2);
        later.set_value();
    });
    clock->callAt(t0 + 10ms, [&] {
        std::lock_guard<std::mutex> g(m);
        order.push_back(1);
        soon.set_value();
    });
    clock->callAt(t0 + 80ms, [&] {
        std::lock_guard<std::mutex> g(m);
        order.push_back(3);
        latest.set_value();
    });
    auto f1 = soon.get_future(), f2 = later.get_future(), f3 = latest.get_future();
    EXPECT_TRUE(lumvane::testing::completes(f1));
    EXPECT_TRUE(lumvane::testing::completes(f2));
    EXPECT_TRUE(lumvane::testing::completes(f3));
    EXPECT_GE(clock->now() - t0, 80ms);
    std::lock_guard<std::mutex> g(m);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(clock->cancel(far));
}

}  // namespace
