// The runtime's main loop as a view of Qt's event loop, and the clipboard on QClipboard
// (offscreen platform).
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMimeData>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <thread>
#include <vector>

#include "app/shell/QtMainLoop.h"
#include "app/desktop/QtPasteboard.h"
#include "app/desktop/TBNStatusItem.h"
#include "core/pasteboard/Pasteboard.h"
#include "runtime/Clock.h"

namespace lumvane {
namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "desktop_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Serves Qt's events until `done` holds or a generous deadline passes.
bool processUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

TEST(QtMainLoop, TasksFromAnyThreadRunOnTheGuiThreadInOrder) {
    application();
    auto loop = std::make_shared<QtMainLoop>();
    EXPECT_TRUE(loop->isMainThread());
    std::vector<int> order;
    std::atomic<bool> onMain{true};
    std::thread other([&] {
        EXPECT_FALSE(loop->isMainThread());
        for (int i = 0; i < 3; ++i) {
            loop->post([&, i] {
                onMain = onMain && loop->isMainThread();
                order.push_back(i);
            });
        }
    });
    other.join();
    ASSERT_TRUE(processUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(onMain);
}

TEST(QtMainLoop, DelayedTasksFollowTheLoopsClockAndCanBeCancelled) {
    application();
    auto clock = std::make_shared<ManualClock>();
    auto loop = std::make_shared<QtMainLoop>(clock);
    std::vector<std::string> ran;
    loop->postAfter(2.0, [&] { ran.push_back("late"); });
    loop->postAfter(1.0, [&] { ran.push_back("early"); });
    const auto dropped = loop->postAfter(1.5, [&] { ran.push_back("dropped"); });
    EXPECT_NE(dropped, 0u);
    EXPECT_TRUE(loop->cancel(dropped));
    EXPECT_FALSE(loop->cancel(dropped));
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran.empty()) << "nothing before the clock moves";
    clock->advance(1.0);
    ASSERT_TRUE(processUntil([&] { return ran.size() == 1; }));
    clock->advance(1.0);
    ASSERT_TRUE(processUntil([&] { return ran.size() == 2; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"early", "late"}));
    clock->cancelAll();
}

// The copy that clears itself, on the real clipboard object: the text is marked as a
// secret, the expiry clears it only while it is unchanged.
TEST(QtPasteboard, MarksTheSecretAndExpiresOnlyAnUnchangedText) {
    application();
    auto clock = std::make_shared<ManualClock>();
    auto loop = std::make_shared<QtMainLoop>(clock);
    auto clipboard = std::make_shared<QtPasteboard>();
    auto copy = TBNPasteboard::create(clipboard, loop);

    ASSERT_TRUE(copy->setString("s3cret", 30.0));
    EXPECT_EQ(clipboard->string(), "s3cret");
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->data(QtPasteboard::kPasswordHintType), QByteArray("secret"));

    // Read and written from another thread: carried out on the GUI thread.
    std::optional<std::string> seen;
    std::atomic<bool> done{false};
    std::thread other([&] {
        seen = clipboard->string();
        done = true;
    });
    ASSERT_TRUE(processUntil([&] { return done.load(); }));
    other.join();
    EXPECT_EQ(seen, "s3cret");

    clock->advance(30.0);
    ASSERT_TRUE(processUntil([&] { return !copy->expiryPending(); }));
    EXPECT_EQ(clipboard->string().value_or("?"), "");

    // The user copies something else before the expiry: it stays.
    ASSERT_TRUE(copy->setString("another", 5.0));
    QGuiApplication::clipboard()->setText("mine");
    clock->advance(5.0);
    ASSERT_TRUE(processUntil([&] { return !copy->expiryPending(); }));
    EXPECT_EQ(clipboard->string(), "mine");
    clock->cancelAll();
}

// The phone's copy requests arrive on a service thread while the user copies on the
// generator page (GUI thread): neither may wait for the other for ever.
TEST(QtPasteboard, CopiesFromAServiceThreadAndTheGuiThreadAtOnceAllFinish) {
    application();
    auto loop = std::make_shared<QtMainLoop>();
    auto copy = TBNPasteboard::create(std::make_shared<QtPasteboard>(), loop);
    // A hang would stop this thread's event loop too: the watchdog ends the program.
    std::atomic<bool> finished{false};
    std::thread watchdog([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!finished.load()) {
            if (std::chrono::steady_clock::now() > end) {
                std::fputs("copies from two threads did not finish: deadlock\n", stderr);
                std::_Exit(3);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    int guiCopies = 0;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout,
                     [&] { EXPECT_TRUE(copy->setString("gui" + std::to_string(guiCopies++), 30)); });
    timer.start();
    std::atomic<int> serviceCopies{0};
    std::thread service([&] {
        for (int i = 0; i < 400; ++i) {
            if (copy->setString("phone" + std::to_string(i), 30)) ++serviceCopies;
        }
    });
    const bool done = processUntil([&] { return serviceCopies.load() == 400 && guiCopies > 50; });
    timer.stop();
    service.join();
    finished = true;
    watchdog.join();
    EXPECT_TRUE(done) << serviceCopies.load() << " service copies, " << guiCopies << " GUI copies";
    // The last copy is the one on the clipboard, and its expiry is the one pending.
    ASSERT_TRUE(processUntil([&] { return copy->string().has_value(); }));
    EXPECT_EQ(copy->string(), QtPasteboard().string());
}

// A page's window refuses every close but the status item's own; a stop (a signal, Quit,
// the end of the wizard) still ends the event loop while one is shown.
TEST(QtMainLoop, TheApplicationEndsWhileAPageRefusesToClose) {
    application();
    auto* content = new QLabel("page");
    TBNPopoverWindow page(content);
    page.show();
    ASSERT_TRUE(processUntil([&] { return page.isVisible(); }));
    page.close();
    ASSERT_TRUE(page.isVisible()) << "the page window closed without the status item";

    auto loop = std::make_shared<QtMainLoop>();
    loop->post([] { quitApplication(); });
    // Should the stop not end the loop, this ends it with another status.
    QTimer::singleShot(std::chrono::seconds(20), [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(page.isVisible());
    page.forced = true;
    page.close();
}

}  // namespace
}  // namespace lumvane
