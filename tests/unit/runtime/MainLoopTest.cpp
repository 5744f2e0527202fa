#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "runtime/Clock.h"
#include "runtime/MainLoop.h"

using namespace lumvane;

namespace {

class HeadlessMainLoopTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    HeadlessMainLoop loop{clock};
    std::vector<std::string> ran;
};

TEST_F(HeadlessMainLoopTest, PostedTasksRunInOrderIncludingTheOnesTheyPost) {
    loop.post([&] { ran.push_back("a"); });
    loop.post([&] {
        ran.push_back("b");
        loop.post([&] { ran.push_back("d"); });
    });
    loop.post([&] { ran.push_back("c"); });
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(loop.runPending(), 4u);
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(HeadlessMainLoopTest, DelayedTasksWaitForTheClockAndCanBeCancelled) {
    loop.postAfter(2.0, [&] { ran.push_back("two"); });
    const auto dropped = loop.postAfter(1.0, [&] { ran.push_back("dropped"); });
    loop.postAfter(1.0, [&] { ran.push_back("one"); });
    EXPECT_NE(dropped, 0u);
    EXPECT_TRUE(loop.cancel(dropped));
    EXPECT_FALSE(loop.cancel(dropped));

    clock->advance(0.5);
    EXPECT_EQ(loop.runPending(), 0u);
    clock->advance(0.5);
    loop.runPending();
    EXPECT_EQ(ran, std::vector<std::string>{"one"});
    clock->advance(1.0);
    loop.runPending();
    EXPECT_EQ(ran, (std::vector<std::string>{"one", "two"}));
}

TEST_F(HeadlessMainLoopTest, RunServesTheCallingThreadUntilStopped) {
    std::thread::id runner;
    std::thread poster([&] {
        loop.post([&] {
            runner = std::this_thread::get_id();
            ran.push_back(loop.isMainThread() ? "main" : "other");
        });
        loop.post([&] { loop.stop(); });
    });
    loop.run();
    poster.join();
    EXPECT_EQ(runner, std::this_thread::get_id());
    EXPECT_EQ(ran, std::vector<std::string>{"main"});
    EXPECT_TRUE(loop.isMainThread());
    bool otherIsMain = true;
    std::thread([&] { otherIsMain = loop.isMainThread(); }).join();
    EXPECT_FALSE(otherIsMain);
}

TEST_F(HeadlessMainLoopTest, DelayedTaskOfADestroyedLoopIsDropped) {
    bool ran2 = false;
    {
        HeadlessMainLoop shortLived(clock);
        shortLived.postAfter(1.0, [&] { ran2 = true; });
    }
    EXPECT_EQ(clock->pendingCalls(), 0u);
    clock->advance(2.0);
    EXPECT_FALSE(ran2);
}

TEST(MainLoop, MainIsTheInstalledLoop) {
    auto mine = std::make_shared<HeadlessMainLoop>();
    MainLoop::setMain(mine);
    EXPECT_EQ(MainLoop::main(), mine);
    MainLoop::setMain(nullptr);
    auto fallback = MainLoop::main();
    EXPECT_NE(fallback, nullptr);
    EXPECT_NE(fallback, mine);
    EXPECT_EQ(MainLoop::main(), fallback);
}

}  // namespace
