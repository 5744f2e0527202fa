#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <latch>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "runtime/Clock.h"
#include "runtime/DispatchQueue.h"
#include "runtime/MainLoop.h"

using namespace lumvane;
using Kind = DispatchQueue::Kind;
using Priority = DispatchQueue::Priority;
using lumvane::testing::completes;
using lumvane::testing::eventually;

namespace {

TEST(DispatchQueue, SerialQueueRunsBlocksOneAtATimeInOrder) {
    auto q = DispatchQueue::create("test.serial");
    std::vector<int> order;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    for (int i = 0; i < 500; ++i) {
        q->async([&, i] {
            if (inside.fetch_add(1) != 0) overlaps++;
            order.push_back(i);
            inside.fetch_sub(1);
        });
    }
    q->sync([] {});
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(order[i], i);
    EXPECT_EQ(overlaps.load(), 0);
}

TEST(DispatchQueue, ConcurrentQueueRunsBlocksAtTheSameTime) {
    auto q = DispatchQueue::create("test.concurrent", Kind::Concurrent);
    std::latch together(3);
    std::latch done(3);
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    for (int i = 0; i < 3; ++i) {
        q->async([&] {
            const int now = ++inside;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            together.arrive_and_wait();  // only returns when all three run at once
            --inside;
            done.count_down();
        });
    }
    done.wait();
    EXPECT_EQ(most.load(), 3);
}

// Readers may overlap each other but never a barrier; a barrier waits for the blocks
// queued before it and holds back the ones queued after it.
TEST(DispatchQueue, BarrierRunsAloneBetweenTheBlocksBeforeAndAfterIt) {
    auto q = DispatchQueue::create("test.barrier", Kind::Concurrent);
    std::atomic<int> readers{0};
    std::atomic<bool> writer{false};
    std::atomic<int> violations{0};
    std::mutex logMutex;
    std::vector<std::string> log;
    auto note = [&](std::string s) {
        std::lock_guard<std::mutex> g(logMutex);
        log.push_back(std::move(s));
    };
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 8; ++i) {
            q->async([&, round] {
                readers++;
                if (writer.load()) violations++;
                note("r" + std::to_string(round));
                readers--;
            });
        }
        q->asyncBarrier([&, round] {
            writer = true;
            if (readers.load() != 0) violations++;
            note("w" + std::to_string(round));
            writer = false;
        });
    }
    q->syncBarrier([] {});
    EXPECT_EQ(violations.load(), 0);
    // Every round's readers come before its barrier, and after the previous barrier.
    int round = 0;
    int readersSeen = 0;
    for (const auto& entry : log) {
        if (entry[0] == 'r') {
            EXPECT_EQ(entry, "r" + std::to_string(round));
            readersSeen++;
        } else {
            EXPECT_EQ(entry, "w" + std::to_string(round));
            EXPECT_EQ(readersSeen, 8);
            readersSeen = 0;
            round++;
        }
    }
    EXPECT_EQ(round, 20);
}

TEST(DispatchQueue, SyncBarrierWaitsForRunningReaders) {
    auto q = DispatchQueue::create("test.syncBarrier", Kind::Concurrent);
    std::promise<void> release;
    auto gate = release.get_future().share();
    std::atomic<bool> readerDone{false};
    std::atomic<bool> started{false};
    q->async([&, gate] {
        started = true;
        gate.wait();
        readerDone = true;
    });
    ASSERT_TRUE(eventually([&] { return started.load(); }));
    auto barrier = std::async(std::launch::async, [&] {
        bool sawReaderDone = false;
        q->syncBarrier([&] { sawReaderDone = readerDone.load(); });
        return sawReaderDone;
    });
    EXPECT_TRUE(lumvane::testing::stillPending(barrier));
    release.set_value();
    ASSERT_TRUE(completes(barrier));
    EXPECT_TRUE(barrier.get());
}

// sync from inside a queue's own block: what may run on and what would deadlock.
TEST(DispatchQueue, SyncReentrancyRules) {
    struct Case {
        const char* name;
        Kind kind;
        bool outerBarrier;
        bool innerBarrier;
        bool throws;
    };
    const Case cases[] = {
        {"serial sync in serial block", Kind::Serial, false, false, true},
        {"serial barrier sync in serial block", Kind::Serial, false, true, true},
        {"plain sync in concurrent block", Kind::Concurrent, false, false, false},
        {"barrier sync in concurrent block", Kind::Concurrent, false, true, true},
        {"plain sync in barrier block", Kind::Concurrent, true, false, false},
        {"barrier sync in barrier block", Kind::Concurrent, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto q = DispatchQueue::create("test.reentrant", c.kind);
        bool threw = false;
        bool ran = false;
        std::string innerLabel;
        auto outer = [&] {
            try {
                auto inner = [&] {
                    ran = true;
                    innerLabel = DispatchQueue::currentLabel();
                };
                if (c.innerBarrier) {
                    q->syncBarrier(inner);
                } else {
                    q->sync(inner);
                }
            } catch (const std::logic_error&) {
                threw = true;
            }
        };
        if (c.outerBarrier) {
            q->syncBarrier(outer);
        } else {
            q->sync(outer);
        }
        EXPECT_EQ(threw, c.throws);
        EXPECT_EQ(ran, !c.throws);
        if (ran) {
            EXPECT_EQ(innerLabel, "test.reentrant");
        }
        // The queue still works afterwards.
        EXPECT_EQ(q->sync([] { return 5; }), 5);
    }
}

TEST(DispatchQueue, SyncOntoAnotherQueueFromABlockIsFine) {
    auto a = DispatchQueue::create("test.a");
    auto b = DispatchQueue::create("test.b");
    std::vector<std::string> labels;
    a->sync([&] {
        labels.push_back(DispatchQueue::currentLabel());
        b->sync([&] {
            labels.push_back(DispatchQueue::currentLabel());
            EXPECT_TRUE(a->isCurrent());
            EXPECT_TRUE(b->isCurrent());
        });
        labels.push_back(DispatchQueue::currentLabel());
    });
    EXPECT_EQ(labels, (std::vector<std::string>{"test.a", "test.b", "test.a"}));
    EXPECT_EQ(DispatchQueue::currentLabel(), "");
    EXPECT_FALSE(a->isCurrent());
}

TEST(DispatchQueue, SyncWaitsForEarlierBlocksReturnsValuesAndRethrows) {
    auto q = DispatchQueue::create("test.sync");
    std::atomic<int> counter{0};
    for (int i = 0; i < 100; ++i) q->async([&] { counter++; });
    EXPECT_EQ(q->sync([&] { return counter.load(); }), 100);
    EXPECT_THROW(q->sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
    EXPECT_EQ(q->sync([] { return std::string("after"); }), "after");
    const std::string kept = "kept";
    EXPECT_EQ(q->sync([&]() -> const std::string& { return kept; }), "kept");
    EXPECT_THROW(q->async(nullptr), std::invalid_argument);
}

TEST(DispatchQueue, LabelIsVisibleInsideBlocksOnly) {
    auto q = DispatchQueue::create("io.lumvane.test.label");
    std::promise<std::string> seen;
    q->async([&] { seen.set_value(DispatchQueue::currentLabel()); });
    EXPECT_EQ(seen.get_future().get(), "io.lumvane.test.label");
    EXPECT_EQ(q->label(), "io.lumvane.test.label");
    EXPECT_EQ(DispatchQueue::currentLabel(), "");
}

TEST(DispatchQueue, GlobalQueuesArePerPriorityConcurrentAndIgnoreBarriers) {
    const Priority all[] = {Priority::High, Priority::Default, Priority::Low, Priority::Background};
    std::vector<std::string> labels;
    for (Priority p : all) {
        auto q = DispatchQueue::global(p);
        EXPECT_EQ(q, DispatchQueue::global(p));
        EXPECT_EQ(q->kind(), Kind::Concurrent);
        EXPECT_EQ(q->priority(), p);
        labels.push_back(q->sync([] { return DispatchQueue::currentLabel(); }));
        EXPECT_EQ(labels.back(), q->label());
    }
    std::sort(labels.begin(), labels.end());
    EXPECT_EQ(std::unique(labels.begin(), labels.end()), labels.end());
    EXPECT_EQ(DispatchQueue::global(), DispatchQueue::global(Priority::Default));

    // A barrier on a global queue does not wait for a block that is blocked.
    std::promise<void> release;
    auto gate = release.get_future().share();
    DispatchQueue::global()->async([gate] { gate.wait(); });
    std::promise<void> barrierRan;
    DispatchQueue::global()->asyncBarrier([&] { barrierRan.set_value(); });
    auto f = barrierRan.get_future();
    EXPECT_TRUE(completes(f));
    release.set_value();
}

TEST(DispatchQueue, AfterRunsOnceTheManualClockPassesTheDelay) {
    auto clock = std::make_shared<ManualClock>();
    auto q = DispatchQueue::create("test.after", Kind::Serial, Priority::Default, clock);
    std::vector<std::string> ran;
    q->after(3.0, [&] { ran.push_back("three"); });
    q->after(1.0, [&] { ran.push_back("one"); });
    clock->advance(0.99);
    q->sync([] {});
    EXPECT_TRUE(ran.empty());
    clock->advance(0.01);
    q->sync([] {});
    EXPECT_EQ(ran, std::vector<std::string>{"one"});
    clock->advance(5.0);
    q->sync([] {});
    EXPECT_EQ(ran, (std::vector<std::string>{"one", "three"}));
    EXPECT_EQ(clock->pendingCalls(), 0u);
}

TEST(DispatchQueue, AfterWithAHugeDelayNeverComesDue) {
    auto clock = std::make_shared<ManualClock>();
    auto q = DispatchQueue::create("test.afterHuge", Kind::Serial, Priority::Default, clock);
    bool ran = false;
    q->after(1e300, [&] { ran = true; });
    clock->advance(1e9);
    q->sync([] {});
    EXPECT_FALSE(ran);
    EXPECT_EQ(clock->pendingCalls(), 1u);
    clock->cancelAll();  // the pending block holds its queue, which holds the clock
}

TEST(DispatchQueue, QueuedBlocksRunAfterTheOwnerDropsTheQueue) {
    std::latch done(10);
    std::atomic<int> ran{0};
    std::weak_ptr<DispatchQueue> weak;
    {
        auto q = DispatchQueue::create("test.dropped");
        weak = q;
        for (int i = 0; i < 10; ++i) {
            q->async([&] {
                ran++;
                done.count_down();
            });
        }
    }
    done.wait();
    EXPECT_EQ(ran.load(), 10);
    EXPECT_TRUE(eventually([&] { return weak.expired(); }));
}

TEST(DispatchQueue, BlocksThatBlockDoNotStarveOtherQueues) {
    // More blocked blocks than cores: later work on another queue must still run.
    const int blocked = static_cast<int>(std::thread::hardware_concurrency()) + 4;
    std::promise<void> release;
    auto gate = release.get_future().share();
    auto busy = DispatchQueue::create("test.busy", Kind::Concurrent);
    for (int i = 0; i < blocked; ++i) busy->async([gate] { gate.wait(); });
    auto other = DispatchQueue::create("test.other");
    EXPECT_EQ(other->sync([] { return 1; }), 1);
    std::promise<void> ran;
    other->async([&] { ran.set_value(); });
    auto f = ran.get_future();
    EXPECT_TRUE(completes(f));
    release.set_value();
    busy->syncBarrier([] {});
}

// A capture that takes a while to let go of what it holds: a queue that lets the next
// sync() or barrier go before the previous block's closure is destroyed shows it.
struct LingeringCapture {
    std::shared_ptr<int> held;
    explicit LingeringCapture(std::shared_ptr<int> h) : held(std::move(h)) {}
    LingeringCapture(const LingeringCapture&) = default;
    LingeringCapture(LingeringCapture&&) = default;
    ~LingeringCapture() {
        if (held) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

struct CaptureCase {
    const char* name;
    Kind kind;
    // Dispatches blocks that capture `c` onto `q` (moving `clock` when it needs to).
    std::function<void(DispatchQueue& q, ManualClock& clock, const LingeringCapture& c)> dispatch;
    // Waits for the queue; `check` runs once the wait is over (inside a barrier block for
    // the asynchronous barrier).
    std::function<void(DispatchQueue& q, const std::function<void()>& check)> wait;
};

TEST(DispatchQueue, ABlocksCapturesAreGoneBeforeTheNextSyncOrBarrierGoesOn) {
    const auto one = [](DispatchQueue& q, ManualClock&, const LingeringCapture& c) {
        q.async([c] { (void)c; });
    };
    const auto several = [](DispatchQueue& q, ManualClock&, const LingeringCapture& c) {
        for (int i = 0; i < 4; ++i) q.async([c] { (void)c; });
    };
    const auto barrier = [](DispatchQueue& q, ManualClock&, const LingeringCapture& c) {
        q.asyncBarrier([c] { (void)c; });
    };
    const auto later = [](DispatchQueue& q, ManualClock& clock, const LingeringCapture& c) {
        q.after(1.0, [c] { (void)c; });
        q.after(2.0, [c] { (void)c; });
        clock.advance(2.0);
    };
    const auto bySync = [](DispatchQueue& q, const std::function<void()>& check) {
        q.sync([] {});
        check();
    };
    const auto bySyncBarrier = [](DispatchQueue& q, const std::function<void()>& check) {
        q.syncBarrier([] {});
        check();
    };
    const auto byAsyncBarrier = [](DispatchQueue& q, const std::function<void()>& check) {
        std::promise<void> checked;
        q.asyncBarrier([&] {
            check();
            checked.set_value();
        });
        auto f = checked.get_future();
        ASSERT_TRUE(completes(f));
    };
    const CaptureCase cases[] = {
        {"serial async, sync", Kind::Serial, one, bySync},
        {"serial async, barrier sync", Kind::Serial, one, bySyncBarrier},
        {"serial async, next block", Kind::Serial, one, byAsyncBarrier},
        {"serial after, sync", Kind::Serial, later, bySync},
        {"concurrent async, barrier sync", Kind::Concurrent, several, bySyncBarrier},
        {"concurrent async, async barrier", Kind::Concurrent, several, byAsyncBarrier},
        {"concurrent barrier, sync", Kind::Concurrent, barrier, bySync},
        {"concurrent after, barrier sync", Kind::Concurrent, later, bySyncBarrier},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto clock = std::make_shared<ManualClock>();
        auto q = DispatchQueue::create("test.captures", c.kind, Priority::Default, clock);
        int failures = 0;
        for (int round = 0; round < 50; ++round) {
            auto token = std::make_shared<int>(round);
            c.dispatch(*q, *clock, LingeringCapture(token));
            long seen = 0;
            c.wait(*q, [&] { seen = token.use_count(); });
            if (seen != 1) ++failures;
        }
        EXPECT_EQ(failures, 0) << "rounds in which a finished block still held its capture";
    }
}

class MainQueueTest : public ::testing::Test {
  protected:
    void SetUp() override { MainLoop::setMain(loop); }
    void TearDown() override { MainLoop::setMain(nullptr); }
    std::shared_ptr<HeadlessMainLoop> loop = std::make_shared<HeadlessMainLoop>();
};

TEST_F(MainQueueTest, MainQueueBlocksRunOnTheMainLoop) {
    std::vector<std::string> labels;
    bool onMain = false;
    DispatchQueue::main()->async([&] {
        labels.push_back(DispatchQueue::currentLabel());
        onMain = loop->isMainThread();
    });
    EXPECT_TRUE(labels.empty());
    loop->runPending();
    EXPECT_EQ(labels, std::vector<std::string>{DispatchQueue::main()->label()});
    EXPECT_TRUE(onMain);
}

TEST_F(MainQueueTest, SyncOntoTheMainQueueRunsOnTheMainThreadAndNotFromIt) {
    loop->runPending();  // this thread is the main thread now
    EXPECT_THROW(DispatchQueue::main()->sync([] {}), std::logic_error);

    auto worker = std::async(std::launch::async, [&] {
        return DispatchQueue::main()->sync([&] { return loop->isMainThread(); });
    });
    std::thread stopper([&] {
        worker.wait();
        loop->stop();
    });
    loop->run();
    stopper.join();
    EXPECT_TRUE(worker.get());
}

}  // namespace
