// The Qt-served main loop of the wizard windows: order, delays, cancel, posts from other
// threads.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "ui/wizard/WizardQtLoop.h"

namespace lumvane {
namespace {

bool serveUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

TEST(WizardQtLoop, RunsPostsInOrderDelaysAfterTheirTimeAndNotWhenCancelled) {
    auto loop = std::make_shared<WizardQtLoop>();
    EXPECT_TRUE(loop->isMainThread());
    std::vector<int> ran;
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration delayed{};
    loop->postAfter(0.05, [&] {
        delayed = std::chrono::steady_clock::now() - start;
        ran.push_back(3);
    });
    const auto dropped = loop->postAfter(0.01, [&] { ran.push_back(99); });
    loop->post([&] { ran.push_back(1); });
    loop->post([&] { ran.push_back(2); });
    EXPECT_TRUE(loop->cancel(dropped));
    EXPECT_FALSE(loop->cancel(dropped));

    std::atomic<bool> fromThread{false};
    std::thread([&] {
        EXPECT_FALSE(loop->isMainThread());
        loop->post([&] { fromThread = loop->isMainThread(); });
    }).join();

    ASSERT_TRUE(serveUntil([&] { return ran.size() == 3 && fromThread; }));
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_GE(delayed, std::chrono::milliseconds(50));
    EXPECT_TRUE(fromThread);
}

}  // namespace
}  // namespace lumvane
