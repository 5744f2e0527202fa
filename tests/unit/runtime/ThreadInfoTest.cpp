#include <gtest/gtest.h>

#include <thread>

#include "runtime/log/ThreadInfo.h"

using namespace lumvane::threadinfo;

TEST(ThreadInfo, NumbersAreStablePerThreadAndDistinctAcrossThreads) {
    const uint64_t mine = currentThreadNumber();
    EXPECT_EQ(mine, currentThreadNumber());
    uint64_t other = 0;
    std::thread([&] { other = currentThreadNumber(); }).join();
    EXPECT_NE(mine, other);
    EXPECT_NE(other, 0u);
}

TEST(ThreadInfo, QueueLabelScopeRestoresThePreviousLabel) {
    EXPECT_EQ(currentQueueLabel(), "");
    {
        QueueLabelScope outer("outer");
        {
            QueueLabelScope inner("inner");
            EXPECT_EQ(currentQueueLabel(), "inner");
        }
        EXPECT_EQ(currentQueueLabel(), "outer");
    }
    EXPECT_EQ(currentQueueLabel(), "");
}

TEST(ThreadInfo, NamesLongerThanTheOsLimitAreKeptWhole) {
    std::thread([] {
        setCurrentThreadName("com.lumvane.a-rather-long-thread-name");
        EXPECT_EQ(currentThreadName(), "com.lumvane.a-rather-long-thread-name");
    }).join();
}
