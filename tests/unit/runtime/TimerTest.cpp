#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/Clock.h"
#include "runtime/DispatchQueue.h"
#include "runtime/MainLoop.h"
#include "runtime/TBNTimer.h"
#include "runtime/log/LogDispatcher.h"
#include "runtime/log/TBNLogger.h"

using namespace lumvane;

namespace {

// The test thread plays the main thread: tick() moves the manual clock and serves the
// loop, so every pause and run happens deterministically here.
class TimerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MainLoop::setMain(loop);
        loop->runPending();  // this thread is the main thread
    }
    void TearDown() override { MainLoop::setMain(nullptr); }

    void tick(double seconds) {
        clock->advance(seconds);
        loop->runPending();
    }

    std::shared_ptr<TBNTimer> counting(double interval, bool again) {
        return TBNTimer::timerWithInterval(
            interval,
            [this, again] {
                runs++;
                return again;
            },
            loop);
    }

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<HeadlessMainLoop> loop = std::make_shared<HeadlessMainLoop>(clock);
    int runs = 0;
};

TEST_F(TimerTest, NewTimerIsStoppedAndRunsNothing) {
    auto timer = counting(1.0, true);
    EXPECT_FALSE(timer->running());
    tick(10.0);
    EXPECT_EQ(runs, 0);
}

TEST_F(TimerTest, CallbackReturningFalseRunsOnceAfterTheIntervalAndStops) {
    auto timer = counting(2.0, false);
    timer->run();
    EXPECT_TRUE(timer->running());
    tick(1.99);
    EXPECT_EQ(runs, 0);
    tick(0.01);
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(timer->running());
    tick(10.0);
    EXPECT_EQ(runs, 1);

    timer->run();  // starts again
    tick(2.0);
    EXPECT_EQ(runs, 2);
}

TEST_F(TimerTest, CallbackReturningTrueRunsEveryInterval) {
    auto timer = counting(1.0, true);
    timer->run();
    for (int i = 1; i <= 5; ++i) {
        tick(1.0);
        EXPECT_EQ(runs, i);
    }
    EXPECT_TRUE(timer->running());
    timer->cancel();
    tick(5.0);
    EXPECT_EQ(runs, 5);
}

TEST_F(TimerTest, RunTwiceArmsOnePauseOnly) {
    auto timer = counting(1.0, true);
    timer->run();
    timer->run();
    tick(1.0);
    EXPECT_EQ(runs, 1);
    tick(1.0);
    EXPECT_EQ(runs, 2);
}

TEST_F(TimerTest, ResetRestartsThePauseOnlyWhileRunning) {
    auto timer = counting(1.0, true);
    timer->reset();  // stopped: nothing
    tick(5.0);
    EXPECT_EQ(runs, 0);
    EXPECT_FALSE(timer->running());

    timer->run();
    tick(0.6);
    timer->reset();
    tick(0.6);
    EXPECT_EQ(runs, 0);
    tick(0.4);
    EXPECT_EQ(runs, 1);
}

TEST_F(TimerTest, ResetWithIntervalOnAStoppedTimerStoresTheIntervalForTheNextRun) {
    auto timer = counting(1.0, false);
    timer->resetWithInterval(3.0);
    EXPECT_FALSE(timer->running());
    EXPECT_DOUBLE_EQ(timer->interval(), 3.0);
    timer->run();
    tick(2.0);
    EXPECT_EQ(runs, 0);
    tick(1.0);
    EXPECT_EQ(runs, 1);
}

TEST_F(TimerTest, CancelDuringTheCallbackLetsItFinishAndStopsTheTimer) {
    std::shared_ptr<TBNTimer> timer;
    bool finished = false;
    timer = TBNTimer::timerWithInterval(
        1.0,
        [&] {
            runs++;
            timer->cancel();
            finished = true;
            return true;  // asks for more, but the cancel wins
        },
        loop);
    timer->run();
    tick(1.0);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(timer->running());
    tick(5.0);
    EXPECT_EQ(runs, 1);
}

TEST_F(TimerTest, CancelAndRunDuringTheCallbackLeaveExactlyOnePause) {
    std::shared_ptr<TBNTimer> timer;
    timer = TBNTimer::timerWithInterval(
        1.0,
        [&] {
            if (++runs == 1) {
                timer->cancel();
                timer->run();
            }
            return runs < 3;
        },
        loop);
    timer->run();
    tick(1.0);
    EXPECT_EQ(runs, 1);
    tick(1.0);
    EXPECT_EQ(runs, 2);  // one run per interval, not two
    tick(1.0);
    EXPECT_EQ(runs, 3);
    EXPECT_FALSE(timer->running());
}

TEST_F(TimerTest, CancelOnABackgroundThreadBeforeTheMainThreadArmedMeansNoRun) {
    auto timer = counting(1.0, true);
    std::thread([&] {
        timer->run();
        timer->cancel();
    }).join();
    EXPECT_EQ(loop->queuedTasks(), 1u);  // the arming step handed to the main thread
    tick(0.0);
    tick(10.0);
    EXPECT_EQ(runs, 0);
    EXPECT_FALSE(timer->running());
    EXPECT_EQ(clock->pendingCalls(), 0u);
}

TEST_F(TimerTest, RunFromABackgroundThreadArmsOnTheMainThread) {
    auto timer = counting(1.0, false);
    std::thread([&] { timer->run(); }).join();
    tick(0.0);  // the main thread arms now
    tick(1.0);
    EXPECT_EQ(runs, 1);
}

TEST_F(TimerTest, CallbackGetsNullOnceTheContextIsGone) {
    auto context = std::make_shared<std::string>("ctx");
    std::vector<std::string> seen;
    auto timer = TBNTimer::timerWithInterval(
        1.0, std::weak_ptr<void>(context),
        [&](const std::shared_ptr<void>& c) {
            seen.push_back(c ? *std::static_pointer_cast<std::string>(c) : "<null>");
            return true;
        },
        loop);
    timer->run();
    tick(1.0);
    context.reset();
    tick(1.0);
    EXPECT_EQ(seen, (std::vector<std::string>{"ctx", "<null>"}));
    timer->cancel();
}

TEST_F(TimerTest, CallbackWithAQueueRunsOnThatQueueWhileTheMainThreadWaits) {
    auto queue = DispatchQueue::create("test.timerQueue");
    std::string label;
    bool onQueue = false;
    bool earlierBlockDone = false;
    auto timer = TBNTimer::timerWithInterval(
        1.0, queue,
        [&] {
            label = DispatchQueue::currentLabel();
            onQueue = queue->isCurrent();
            return false;
        },
        loop);
    timer->run();
    queue->async([&] { earlierBlockDone = true; });
    tick(1.0);
    EXPECT_EQ(label, "test.timerQueue");
    EXPECT_TRUE(onQueue);
    EXPECT_TRUE(earlierBlockDone);  // the callback took its turn on the queue
    EXPECT_FALSE(timer->running());
}

TEST_F(TimerTest, CallbackWithTheMainQueueRunsDirectlyOnTheMainThread) {
    std::string label = "unset";
    bool onMain = false;
    auto timer = TBNTimer::timerWithInterval(
        1.0, DispatchQueue::main(),
        [&] {
            label = DispatchQueue::currentLabel();
            onMain = loop->isMainThread();
            return false;
        },
        loop);
    timer->run();
    tick(1.0);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(label, "");  // not through the queue
}

TEST_F(TimerTest, ArmedTimerStaysAliveWithoutItsOwnerUntilCancelled) {
    std::weak_ptr<TBNTimer> weak;
    {
        auto timer = counting(1.0, true);
        weak = timer;
        timer->run();
    }
    tick(1.0);
    EXPECT_EQ(runs, 1);
    ASSERT_FALSE(weak.expired());
    weak.lock()->cancel();
    EXPECT_TRUE(weak.expired());
}

TEST_F(TimerTest, TimerWithoutALoopFollowsTheInstalledMainLoop) {
    auto timer = TBNTimer::timerWithInterval(1.0, [&] {
        runs++;
        return false;
    });
    auto later = std::make_shared<HeadlessMainLoop>(clock);
    MainLoop::setMain(later);
    timer->run();
    clock->advance(1.0);
    EXPECT_EQ(loop->runPending(), 0u);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(later->runPending(), 1u);  // the pause ended on the loop installed now
    EXPECT_EQ(runs, 1);
}

TEST_F(TimerTest, NullCallbackIsRefused) {
    EXPECT_THROW(TBNTimer::timerWithInterval(1.0, TBNTimer::Block(), loop), std::invalid_argument);
}

}  // namespace

namespace {

class CapturingLogger : public lumvane::Logger {
  public:
    void logMessage(const lumvane::LogRecord& record) override {
        std::lock_guard<std::mutex> g(mutex);
        auto tag = std::dynamic_pointer_cast<const lumvane::TBNLogTag>(record.tag);
        if (!tag || tag->logTags() != std::vector<std::string>{"misc", "timer"}) return;
        lines.push_back(std::to_string(tag->logType()) + " " + record.function + " " +
                        record.message.value_or(""));
    }
    std::string loggerName() const override { return "capture"; }
    std::mutex mutex;
    std::vector<std::string> lines;
};

TEST_F(TimerTest, StepsAreLoggedAtDebugLevelUnderMiscTimer) {
    auto capture = std::make_shared<CapturingLogger>();
    LogDispatcher::sharedInstance().addLogger(capture);
    const auto previous = TBNLogger::maxLevel();
    TBNLogger::setMaxLevel(kTBNLogLevelDebug);
    auto timer = counting(1.0, false);
    timer->run();
    timer->run();
    tick(1.0);
    TBNLogger::setMaxLevel(previous);
    LogDispatcher::sharedInstance().flush();

    std::lock_guard<std::mutex> g(capture->mutex);
    auto has = [&](const std::string& line) {
        return std::find(capture->lines.begin(), capture->lines.end(), line) !=
               capture->lines.end();
    };
    EXPECT_TRUE(has("7 TBNTimer::TBNTimer <: interval = 1.000000 :>"));
    EXPECT_TRUE(has("1 TBNTimer::run "));
    EXPECT_TRUE(has("3 TBNTimer::run self.running"));
    EXPECT_TRUE(has("7 TBNTimer::runner <: ret = FL :>"));
    EXPECT_TRUE(has("2 TBNTimer::runner "));
}

}  // namespace
