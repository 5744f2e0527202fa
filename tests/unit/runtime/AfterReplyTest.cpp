#include "runtime/AfterReply.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace lumvane;

namespace {

TEST(AfterReply, WithoutAScopeWorkRunsAtOnce) {
    std::vector<int> ran;
    afterReply([&] { ran.push_back(1); });
    EXPECT_EQ(ran, std::vector<int>{1});
}

// Work waits for runPending, runs in the order it was asked for, takes along the work it
// asks for itself, and a failing piece stops neither the others nor the thread.
TEST(AfterReply, AScopeHoldsWorkUntilThePendingRun) {
    std::vector<std::string> ran;
    {
        AfterReplyScope scope;
        afterReply([&] { ran.push_back("cache"); });
        afterReply([&] {
            ran.push_back("tick");
            afterReply([&] { ran.push_back("asked by tick"); });
        });
        afterReply([] { throw std::runtime_error("bookkeeping failed"); });
        afterReply([&] { ran.push_back("notice"); });
        EXPECT_TRUE(ran.empty());
        scope.runPending();
        EXPECT_EQ(ran, (std::vector<std::string>{"cache", "tick", "notice", "asked by tick"}));
        afterReply([&] { ran.push_back("left for the end"); });
    }
    EXPECT_EQ(ran.back(), "left for the end");
    // The scope is gone: work runs at once again.
    afterReply([&] { ran.push_back("after"); });
    EXPECT_EQ(ran.back(), "after");
}

TEST(AfterReply, ScopesBelongToTheirThreadAndNest) {
    std::vector<std::string> ran;
    AfterReplyScope outer;
    std::thread other([&] {
        std::vector<std::string> mine;
        afterReply([&] { mine.push_back("other thread"); });  // no scope there
        EXPECT_EQ(mine.size(), 1u);
    });
    other.join();
    {
        AfterReplyScope inner;
        afterReply([&] { ran.push_back("inner"); });
    }
    EXPECT_EQ(ran, std::vector<std::string>{"inner"});
    afterReply([&] { ran.push_back("outer"); });
    EXPECT_EQ(ran.size(), 1u);
    outer.runPending();
    EXPECT_EQ(ran.back(), "outer");
}

}  // namespace
