#include <gtest/gtest.h>

#include <any>
#include <cmath>
#include <future>
#include <limits>
#include <string>

#include "TestSupport.h"
#include "runtime/Clock.h"
#include "runtime/TBNWaitManager.h"

using namespace lumvane;
using lumvane::testing::completes;
using lumvane::testing::eventually;
using lumvane::testing::stillPending;

namespace {

std::string text(const std::any& v) {
    return v.has_value() ? std::any_cast<std::string>(v) : "<null>";
}

class WaitManagerTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    TBNWaitManager waits{clock};

    std::future<std::any> waitAsync(const std::string& name, std::any context, double timeout) {
        return std::async(std::launch::async, [this, name, context, timeout] {
            return waits.waitWithName(name, context, timeout);
        });
    }
};

TEST_F(WaitManagerTest, ReleaseHandsTheResponseToTheBlockedWait) {
    auto w = waitAsync("saveAccount", {}, 310);
    ASSERT_TRUE(eventually([&] { return waits.waitedWithName("saveAccount"); }));
    waits.releaseForName("saveAccount", std::string("chosen"));
    ASSERT_TRUE(completes(w));
    EXPECT_EQ(text(w.get()), "chosen");
    EXPECT_FALSE(waits.waitedWithName("saveAccount"));
}

TEST_F(WaitManagerTest, ReleaseBeforeTheWaitIsLostAndTheWaitRunsItsFullTimeOut) {
    waits.releaseForName("pairDevice", std::string("early"));
    auto w = waitAsync("pairDevice", {}, 5);
    ASSERT_TRUE(clock->waitForSleepers(1));
    clock->advance(4.9);
    EXPECT_TRUE(stillPending(w));
    clock->advance(0.1);
    ASSERT_TRUE(completes(w));
    EXPECT_FALSE(w.get().has_value());
    EXPECT_FALSE(waits.waitedWithName("pairDevice"));
}

// A wait that starts right after a release, while the released wait has not yet
// returned, must begin afresh instead of receiving the earlier answer.
TEST_F(WaitManagerTest, WaitBegunAfterAReleaseNeverReceivesTheOldAnswer) {
    auto first = waitAsync("chooseAccount", std::string("first"), 310);
    ASSERT_TRUE(eventually([&] { return waits.waitedWithName("chooseAccount"); }));
    waits.releaseForName("chooseAccount", std::string("old answer"));
    EXPECT_FALSE(waits.waitedWithName("chooseAccount"));

    auto second = waitAsync("chooseAccount", std::string("second"), 1);
    ASSERT_TRUE(eventually([&] { return waits.waitedWithName("chooseAccount"); }));
    EXPECT_EQ(text(waits.contextForName("chooseAccount")), "second");
    EXPECT_TRUE(stillPending(second));

    waits.releaseForName("chooseAccount", std::string("new answer"));
    ASSERT_TRUE(completes(first));
    ASSERT_TRUE(completes(second));
    EXPECT_EQ(text(first.get()), "old answer");
    EXPECT_EQ(text(second.get()), "new answer");
}

TEST_F(WaitManagerTest, WaitAfterATimedOutWaitStartsAfresh) {
    auto first = waitAsync("loadDatabase", {}, 1);
    ASSERT_TRUE(clock->waitForSleepers(1));
    clock->advance(1.0);
    ASSERT_TRUE(completes(first));
    EXPECT_FALSE(first.get().has_value());

    auto second = waitAsync("loadDatabase", {}, 10);
    ASSERT_TRUE(clock->waitForSleepers(1));
    EXPECT_TRUE(stillPending(second));
    waits.releaseForName("loadDatabase", std::string("path"));
    ASSERT_TRUE(completes(second));
    EXPECT_EQ(text(second.get()), "path");
}

TEST_F(WaitManagerTest, TwoWaitsOnOneNameShareOneRelease) {
    auto a = waitAsync("flush", std::string("a"), 400);
    ASSERT_TRUE(eventually([&] { return waits.waitedWithName("flush"); }));
    auto b = waitAsync("flush", std::string("b"), 400);
    ASSERT_TRUE(clock->waitForSleepers(2));
    // The joining wait's context is ignored.
    EXPECT_EQ(text(waits.contextForName("flush")), "a");

    waits.releaseForName("flush", std::string("reply"));
    ASSERT_TRUE(completes(a));
    ASSERT_TRUE(completes(b));
    EXPECT_EQ(text(a.get()), "reply");
    EXPECT_EQ(text(b.get()), "reply");
    EXPECT_FALSE(waits.waitedWithName("flush"));
    EXPECT_FALSE(waits.contextForName("flush").has_value());
}

TEST_F(WaitManagerTest, TheShortestTimeOutOfASharedWaitEndsEveryWaitOnIt) {
    auto shortWait = waitAsync("remoteNotification", {}, 1);
    ASSERT_TRUE(clock->waitForSleepers(1));
    auto longWait = waitAsync("remoteNotification", {}, 10);
    ASSERT_TRUE(clock->waitForSleepers(2));
    clock->advance(1.0);
    ASSERT_TRUE(completes(shortWait));
    ASSERT_TRUE(completes(longWait));
    EXPECT_FALSE(shortWait.get().has_value());
    EXPECT_FALSE(longWait.get().has_value());
}

TEST_F(WaitManagerTest, ReleaseWithNullAndTimeOutBothReturnNull) {
    auto released = waitAsync("installDriver", {}, 300);
    ASSERT_TRUE(eventually([&] { return waits.waitedWithName("installDriver"); }));
    waits.releaseForName("installDriver");
    ASSERT_TRUE(completes(released));
    EXPECT_FALSE(released.get().has_value());

    auto timedOut = waitAsync("installDriver", {}, 300);
    ASSERT_TRUE(clock->waitForSleepers(1));
    EXPECT_TRUE(waits.waitedWithName("installDriver"));
    clock->advance(300.0);
    ASSERT_TRUE(completes(timedOut));
    EXPECT_FALSE(timedOut.get().has_value());
    EXPECT_FALSE(waits.waitedWithName("installDriver"));
}

// Time-outs that mean "no time-out": only a release ends these waits.
TEST_F(WaitManagerTest, NonPositiveOrUnusableTimeOutsNeverEndTheWait) {
    const double cases[] = {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity(),
                            1e300};
    for (double timeout : cases) {
        SCOPED_TRACE(timeout);
        auto w = waitAsync("did_open_popover", {}, timeout);
        ASSERT_TRUE(eventually([&] { return waits.waitedWithName("did_open_popover"); }));
        clock->advance(1e6);
        EXPECT_TRUE(stillPending(w));
        EXPECT_TRUE(waits.waitedWithName("did_open_popover"));
        waits.releaseForName("did_open_popover", std::string("done"));
        ASSERT_TRUE(completes(w));
        EXPECT_EQ(text(w.get()), "done");
    }
}

TEST_F(WaitManagerTest, ShortFormsUseNullContextAndNoTimeOut) {
    auto plain = std::async(std::launch::async, [&] { return waits.waitWithName("guide"); });
    ASSERT_TRUE(eventually([&] { return waits.waitedWithName("guide"); }));
    EXPECT_FALSE(waits.contextForName("guide").has_value());
    clock->advance(1e6);
    EXPECT_TRUE(stillPending(plain));
    waits.releaseForName("guide", 7);
    ASSERT_TRUE(completes(plain));
    EXPECT_EQ(std::any_cast<int>(plain.get()), 7);

    auto withContext = std::async(
        std::launch::async, [&] { return waits.waitWithName("pairToDevice", std::string("id")); });
    ASSERT_TRUE(eventually([&] { return waits.waitedWithName("pairToDevice"); }));
    EXPECT_EQ(text(waits.contextForName("pairToDevice")), "id");
    waits.releaseForName("pairToDevice", std::string(""));
    ASSERT_TRUE(completes(withContext));

    auto timed = std::async(std::launch::async,
                            [&] { return waits.waitWithName("debugSettingsPopover", 30.0); });
    ASSERT_TRUE(clock->waitForSleepers(1));
    clock->advance(30.0);
    ASSERT_TRUE(completes(timed));
    EXPECT_FALSE(timed.get().has_value());
}

TEST(WaitManager, PrivateManagersKeepTheirNamesApart) {
    auto clock = std::make_shared<ManualClock>();
    TBNWaitManager transportA(clock), transportB(clock);
    auto a =
        std::async(std::launch::async, [&] { return transportA.waitWithName("flush", 400.0); });
    ASSERT_TRUE(eventually([&] { return transportA.waitedWithName("flush"); }));
    EXPECT_FALSE(transportB.waitedWithName("flush"));
    transportB.releaseForName("flush", std::string("wrong transport"));
    EXPECT_TRUE(stillPending(a));
    transportA.releaseForName("flush", std::string("right"));
    ASSERT_TRUE(completes(a));
    EXPECT_EQ(text(a.get()), "right");
}

TEST(WaitManager, SharedManagerIsOneInstanceAndTimesOutOnTheRealClock) {
    TBNWaitManager* seen[4] = {};
    std::thread threads[4];
    for (int i = 0; i < 4; ++i)
        threads[i] = std::thread([&, i] { seen[i] = &TBNWaitManager::sharedManager(); });
    for (auto& t : threads) t.join();
    for (auto* m : seen) EXPECT_EQ(m, &TBNWaitManager::sharedManager());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(TBNWaitManager::sharedManager().waitWithName("test.realClock", 0.02).has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

TEST(WaitManager, SharedManagerTakesAnInjectedClockForLaterWaits) {
    auto clock = std::make_shared<ManualClock>();
    auto& shared = TBNWaitManager::sharedManager();
    shared.setClock(clock);
    auto w =
        std::async(std::launch::async, [&] { return shared.waitWithName("test.injected", 310.0); });
    ASSERT_TRUE(clock->waitForSleepers(1));
    clock->advance(310.0);
    ASSERT_TRUE(completes(w));
    EXPECT_FALSE(w.get().has_value());
    shared.setClock(nullptr);
    EXPECT_EQ(shared.clock(), Clock::steady());
}

TEST(WaitManager, DestroyingAPrivateManagerEndsItsWaits) {
    auto waits = std::make_unique<TBNWaitManager>();
    auto a = std::async(std::launch::async, [&] { return waits->waitWithName("flush", 400.0); });
    auto b = std::async(std::launch::async, [&] { return waits->waitWithName("other"); });
    ASSERT_TRUE(eventually(
        [&] { return waits->waitedWithName("flush") && waits->waitedWithName("other"); }));
    waits.reset();  // returns only when both waits have left the manager
    ASSERT_TRUE(completes(a));
    ASSERT_TRUE(completes(b));
    EXPECT_FALSE(a.get().has_value());
    EXPECT_FALSE(b.get().has_value());
}

TEST(WaitManager, ManyWaitersAndReleasersOnManyNamesAllEnd) {
    TBNWaitManager waits;
    constexpr int kNames = 16;
    std::vector<std::future<std::any>> results;
    for (int i = 0; i < kNames; ++i) {
        results.push_back(std::async(std::launch::async, [&, i] {
            return waits.waitWithName("n" + std::to_string(i), 0.0);
        }));
    }
    for (int i = 0; i < kNames; ++i) {
        const std::string name = "n" + std::to_string(i);
        ASSERT_TRUE(eventually([&] { return waits.waitedWithName(name); }));
        std::thread([&, name, i] { waits.releaseForName(name, i); }).join();
    }
    for (int i = 0; i < kNames; ++i) {
        ASSERT_TRUE(completes(results[i]));
        EXPECT_EQ(std::any_cast<int>(results[i].get()), i);
    }
}

}  // namespace
