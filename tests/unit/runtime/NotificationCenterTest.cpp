#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "runtime/NotificationCenter.h"

using namespace lumvane;

namespace {

TEST(NotificationCenter, LevelNamesAreTheProgramsOwn) {
    EXPECT_STREQ(kLoggingDisabledNotification, "io.lumvane.loggingDisabled");
    EXPECT_STREQ(kLoggingInfoLevelNotification, "io.lumvane.loggingInfoLevel");
    EXPECT_STREQ(kLoggingDebugLevelNotification, "io.lumvane.loggingDebugLevel");
    EXPECT_STREQ(kLoggingVerboseLevelNotification, "io.lumvane.loggingVerboseLevel");
}

TEST(NotificationCenter, DeliversByNameAndSenderSynchronouslyOnThePostingThread) {
    NotificationCenter center;
    int senderA = 0, senderB = 0;
    std::vector<std::string> got;
    const auto poster = std::this_thread::get_id();
    bool samethread = true;
    center.addObserver(kLoggingInfoLevelNotification, [&](const Notification& n) {
        got.push_back("any:" + n.name);
        samethread = samethread && std::this_thread::get_id() == poster;
    });
    center.addObserver(
        kLoggingInfoLevelNotification, [&](const Notification&) { got.push_back("fromA"); },
        &senderA);
    center.addObserver("", [&](const Notification& n) { got.push_back("all:" + n.name); });

    center.postNotification(kLoggingInfoLevelNotification, &senderB);
    EXPECT_EQ(got, (std::vector<std::string>{"any:io.lumvane.loggingInfoLevel",
                                             "all:io.lumvane.loggingInfoLevel"}));
    got.clear();
    center.postNotification(kLoggingInfoLevelNotification, &senderA);
    EXPECT_EQ(got, (std::vector<std::string>{"any:io.lumvane.loggingInfoLevel", "fromA",
                                             "all:io.lumvane.loggingInfoLevel"}));
    got.clear();
    center.postNotification(kLoggingDebugLevelNotification, nullptr, 12);
    EXPECT_EQ(got, std::vector<std::string>{"all:io.lumvane.loggingDebugLevel"});
    EXPECT_TRUE(samethread);
}

TEST(NotificationCenter, ObserversMayChangeTheListDuringDelivery) {
    NotificationCenter center;
    std::vector<std::string> got;
    NotificationCenter::ObserverId second = 0;
    const auto first = center.addObserver("n", [&](const Notification&) {
        got.push_back("first");
        center.removeObserver(second);  // not called in this delivery
        center.addObserver("n", [&](const Notification&) { got.push_back("added"); });
    });
    second = center.addObserver("n", [&](const Notification&) { got.push_back("second"); });
    center.postNotification("n");
    EXPECT_EQ(got, std::vector<std::string>{"first"});
    center.removeObserver(first);
    center.removeObserver(first);  // unknown now: ignored
    got.clear();
    center.postNotification("n");
    EXPECT_EQ(got, std::vector<std::string>{"added"});
}

TEST(NotificationCenter, RemoveWaitsForACallbackRunningOnAnotherThread) {
    NotificationCenter center;
    std::atomic<bool> entered{false}, letGo{false}, finished{false};
    const auto id = center.addObserver("n", [&](const Notification&) {
        entered = true;
        while (!letGo) std::this_thread::yield();
        finished = true;
    });
    std::thread poster([&] { center.postNotification("n"); });
    ASSERT_TRUE(lumvane::testing::eventually([&] { return entered.load(); }));
    auto remover = std::async(std::launch::async, [&] {
        center.removeObserver(id);
        return finished.load();
    });
    EXPECT_TRUE(lumvane::testing::stillPending(remover));
    letGo = true;
    EXPECT_TRUE(remover.get());
    poster.join();
    int calls = 0;
    center.addObserver("other", [&](const Notification&) { calls++; });
    center.postNotification("n");
    EXPECT_EQ(calls, 0);
}

TEST(NotificationCenter, DefaultCenterIsOneInstance) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}

}  // namespace
