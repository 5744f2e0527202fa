// The logind sleep-wake source against a private D-Bus daemon on which the test plays
// logind: it hands out delay locks and sends PrepareForSleep.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "platform/power/LogindSleepWakeSource.h"

extern char** environ;

namespace lumvane {

// logind as far as the source uses it.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
  public:
    std::atomic<int> inhibits{0};
    std::atomic<int> openLocks{0};  // locks whose holder has not closed them yet (pipe test)
    std::mutex mutex;
    std::vector<int> writeEnds;

  public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        (void)who, (void)why;
        if (what != QStringLiteral("sleep") || mode != QStringLiteral("delay")) {
            return QDBusUnixFileDescriptor();
        }
        ++inhibits;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return QDBusUnixFileDescriptor();
        QDBusUnixFileDescriptor result(fds[0]);  // duplicates it
        ::close(fds[0]);
        std::lock_guard<std::mutex> lock(mutex);
        writeEnds.push_back(fds[1]);
        return result;
    }

  public:
    // Locks still held: a write end whose read end is gone reports POLLERR/EPIPE.
    int heldLocks() {
        std::lock_guard<std::mutex> lock(mutex);
        int held = 0;
        for (int fd : writeEnds) {
            char c = 0;
            // Non-blocking write of one byte: fails with EPIPE once every reader closed.
            int flags = ::fcntl(fd, F_GETFL);
            ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
            if (::write(fd, &c, 1) == 1 || errno == EAGAIN) ++held;
        }
        return held;
    }
    ~FakeLogind() override {
        for (int fd : writeEnds) ::close(fd);
    }
};

namespace {

bool eventually(const std::function<bool()>& condition, double seconds = 10) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

class LogindSleepWakeSourceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::signal(SIGPIPE, SIG_IGN);
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char arg0[] = "service_tests";
            static char* argv[] = {arg0, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }

    void SetUp() override {
        folder_ =
            std::filesystem::temp_directory_path() /
            ("lumvane-logind-" + std::to_string(::getpid()) + "-" + std::to_string(++counter_));
        std::filesystem::create_directories(folder_);
        address_ = "unix:path=" + (folder_ / "bus").string();
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string addressArg = "--address=" + address_;
        const char* argv[] = {"dbus-daemon",     "--session",        "--nofork",
                              "--print-address", addressArg.c_str(), nullptr};
        int rc = posix_spawnp(&daemon_, "dbus-daemon", &actions, nullptr,
                              const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            ::close(out[0]);
            GTEST_SKIP() << "dbus-daemon is not available";
        }
        // The daemon prints its address once it listens.
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(out[0]);
        ASSERT_FALSE(line.empty());

        logindThread_ = std::thread([this] { runLogind(); });
        std::unique_lock<std::mutex> lock(mutex_);
        ASSERT_TRUE(cv_.wait_for(lock, std::chrono::seconds(10), [&] { return ready_; }));
        ASSERT_TRUE(registered_);
    }

    void TearDown() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (loop_) {
                QEventLoop* loop = loop_;
                QMetaObject::invokeMethod(
                    loop, [loop] { loop->quit(); }, Qt::QueuedConnection);
            }
        }
        if (logindThread_.joinable()) logindThread_.join();
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
            int status = 0;
            ::waitpid(daemon_, &status, 0);
        }
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }

    void runLogind() {
        QEventLoop loop;
        FakeLogind logind;
        auto connection = QDBusConnection::connectToBus(QString::fromStdString(address_),
                                                        QStringLiteral("fake-logind"));
        bool ok = connection.isConnected() &&
                  connection.registerService(QStringLiteral("org.freedesktop.login1")) &&
                  connection.registerObject(QStringLiteral("/org/freedesktop/login1"), &logind,
                                            QDBusConnection::ExportAllSlots);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            logind_ = &logind;
            loop_ = &loop;
            registered_ = ok;
            ready_ = true;
        }
        cv_.notify_all();
        if (ok) loop.exec();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            logind_ = nullptr;
            loop_ = nullptr;
        }
        connection.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
    }

    void prepareForSleep(bool start) {
        auto connection = QDBusConnection(QStringLiteral("fake-logind"));
        auto signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                 QStringLiteral("org.freedesktop.login1.Manager"),
                                                 QStringLiteral("PrepareForSleep"));
        signal << start;
        ASSERT_TRUE(connection.send(signal));
    }

    LogindSleepWakeSource::Options sourceOptions() const {
        LogindSleepWakeSource::Options o;
        o.busAddress = address_;
        return o;
    }

    static inline std::atomic<int> counter_{0};
    std::filesystem::path folder_;
    std::string address_;
    pid_t daemon_ = -1;
    std::thread logindThread_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool ready_ = false;
    bool registered_ = false;
    FakeLogind* logind_ = nullptr;
    QEventLoop* loop_ = nullptr;
};

TEST_F(LogindSleepWakeSourceTest, SleepAndWakeRunTheHandlersAndTheDelayLockFollows) {
    LogindSleepWakeSource source(sourceOptions());
    std::atomic<int> sleeps{0}, wakes{0};
    std::atomic<bool> lockHeldDuringSleep{false};
    source.setHandlers(
        [&] {
            lockHeldDuringSleep = source.holdsDelayLock();
            ++sleeps;
        },
        [&] { ++wakes; });
    ASSERT_TRUE(source.start());
    EXPECT_TRUE(source.start());  // again: nothing changes
    EXPECT_TRUE(source.holdsDelayLock());
    EXPECT_EQ(logind_->inhibits, 1);
    EXPECT_EQ(logind_->heldLocks(), 1);

    prepareForSleep(true);
    ASSERT_TRUE(eventually([&] { return sleeps == 1; }));
    // Suspend may go on once the handler has run: the lock is given back.
    EXPECT_TRUE(lockHeldDuringSleep);
    EXPECT_TRUE(eventually([&] { return !source.holdsDelayLock(); }));
    EXPECT_TRUE(eventually([&] { return logind_->heldLocks() == 0; }));
    EXPECT_EQ(wakes, 0);

    prepareForSleep(false);
    ASSERT_TRUE(eventually([&] { return wakes == 1; }));
    EXPECT_TRUE(source.holdsDelayLock());
    EXPECT_EQ(logind_->inhibits, 2);
    EXPECT_EQ(logind_->heldLocks(), 1);

    // Stopped: no handler runs any more and the lock is released.
    source.stop();
    EXPECT_FALSE(source.holdsDelayLock());
    EXPECT_TRUE(eventually([&] { return logind_->heldLocks() == 0; }));
    prepareForSleep(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sleeps, 1);
}

TEST_F(LogindSleepWakeSourceTest, NoBusMeansNoNoticesAndNoHang) {
    auto o = sourceOptions();
    o.busAddress = "unix:path=" + (folder_ / "no-bus-here").string();
    LogindSleepWakeSource source(o);
    source.setHandlers([] {}, [] {});
    EXPECT_FALSE(source.start());
    EXPECT_FALSE(source.holdsDelayLock());
    source.stop();
}

}  // namespace
}  // namespace lumvane

#include "LogindSleepWakeSourceTest.moc"
