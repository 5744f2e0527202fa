#include "platform/power/LogindSleepWakeSource.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {
constexpr const char* kTag = "core|power";
constexpr auto kThreadWait = std::chrono::seconds(10);
constexpr int kCallTimeoutMs = 5000;
std::atomic<uint64_t> connectionCounter{0};
}  // namespace

class LogindReceiver : public QObject {
    Q_OBJECT
  public:
    explicit LogindReceiver(LogindSleepWakeSource::Impl& impl) : impl_(impl) {}

  public Q_SLOTS:
    void prepareForSleep(bool start);

  private:
    LogindSleepWakeSource::Impl& impl_;
};

struct LogindSleepWakeSource::Impl {
    Options options;

    std::mutex mutex;  // everything below
    std::condition_variable cv;
    Handler willSleep;
    Handler didWake;
    std::thread thread;
    bool ready = false;      // the thread has set up (or failed to)
    bool listening = false;  // connected and subscribed
    bool stopped = false;    // no handler may run any more
    QEventLoop* loop = nullptr;

    // Only on the source's thread.
    std::optional<QDBusConnection> connection;
    std::string connectionName;
    std::atomic<int> lockFd{-1};

    void body();
    void takeLock();
    void releaseLock();
    void run(bool sleeping);
};

void LogindSleepWakeSource::Impl::takeLock() {
    if (!options.takeDelayLock || !connection || lockFd.load() >= 0) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromStdString(options.service), QString::fromStdString(options.path),
        QString::fromStdString(options.interface), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Lumvane")
         << QStringLiteral("Stopping the phone link") << QStringLiteral("delay");
    QDBusReply<QDBusUnixFileDescriptor> reply =
        connection->call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid() || !reply.value().isValid()) {
        TBN_LOG_WARN(kTag, "no delay lock from logind: {}", reply.error().message().toStdString());
        return;
    }
    // The descriptor object closes its own copy; keep one of ours.
    int fd = ::dup(reply.value().fileDescriptor());
    if (fd >= 0) lockFd = fd;
}

void LogindSleepWakeSource::Impl::releaseLock() {
    int fd = lockFd.exchange(-1);
    if (fd >= 0) ::close(fd);
}

void LogindSleepWakeSource::Impl::run(bool sleeping) {
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopped) return;
        handler = sleeping ? willSleep : didWake;
    }
    TBN_LOG_INFO(kTag, "{}", sleeping ? "the machine goes to sleep" : "the machine woke up");
    if (handler) handler();
}

void LogindReceiver::prepareForSleep(bool start) {
    if (start) {
        impl_.run(true);
        // Done: let the suspend go on.
        impl_.releaseLock();
    } else {
        impl_.takeLock();
        impl_.run(false);
    }
}

void LogindSleepWakeSource::Impl::body() {
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char arg0[] = "lumvane";
        static char* argv[] = {arg0, nullptr};
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    {
        QEventLoop eventLoop;
        LogindReceiver receiver(*this);
        bool ok = false;
        if (options.busAddress.empty()) {
            connection = QDBusConnection::systemBus();
        } else {
            connectionName = "lumvane-power-" + std::to_string(++connectionCounter);
            connection = QDBusConnection::connectToBus(QString::fromStdString(options.busAddress),
                                                       QString::fromStdString(connectionName));
        }
        if (connection->isConnected()) {
            ok = connection->connect(
                QString::fromStdString(options.service), QString::fromStdString(options.path),
                QString::fromStdString(options.interface), QStringLiteral("PrepareForSleep"),
                &receiver, SLOT(prepareForSleep(bool)));
        }
        if (!ok) {
            TBN_LOG_WARN(kTag, "cannot listen to logind: {}",
                         connection->lastError().message().toStdString());
        } else {
            takeLock();
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            listening = ok;
            ready = true;
            loop = ok ? &eventLoop : nullptr;
        }
        cv.notify_all();
        if (ok) eventLoop.exec();
        {
            std::lock_guard<std::mutex> lock(mutex);
            loop = nullptr;
            listening = false;
        }
        releaseLock();
        if (ok) {
            connection->disconnect(
                QString::fromStdString(options.service), QString::fromStdString(options.path),
                QString::fromStdString(options.interface), QStringLiteral("PrepareForSleep"),
                &receiver, SLOT(prepareForSleep(bool)));
        }
        connection.reset();
        if (!connectionName.empty()) {
            QDBusConnection::disconnectFromBus(QString::fromStdString(connectionName));
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    app.reset();
}

LogindSleepWakeSource::LogindSleepWakeSource() : LogindSleepWakeSource(Options{}) {}

LogindSleepWakeSource::LogindSleepWakeSource(Options options) : impl_(std::make_shared<Impl>()) {
    impl_->options = std::move(options);
}

LogindSleepWakeSource::~LogindSleepWakeSource() {
    stop();
}

void LogindSleepWakeSource::setHandlers(Handler willSleep, Handler didWake) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->willSleep = std::move(willSleep);
    impl_->didWake = std::move(didWake);
}

bool LogindSleepWakeSource::start() {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    if (impl_->listening) return true;
    if (impl_->thread.joinable()) {
        // A thread that failed to set up has ended (or is ending) by itself.
        lock.unlock();
        impl_->thread.join();
        lock.lock();
    }
    impl_->ready = false;
    impl_->stopped = false;
    impl_->thread = std::thread([impl = impl_] { impl->body(); });
    impl_->cv.wait_for(lock, kThreadWait, [&] { return impl_->ready; });
    return impl_->listening;
}

void LogindSleepWakeSource::stop() {
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->stopped = true;
        if (impl_->loop) {
            QEventLoop* loop = impl_->loop;
            QMetaObject::invokeMethod(
                loop, [loop] { loop->quit(); }, Qt::QueuedConnection);
        }
        thread = std::move(impl_->thread);
    }
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();  // stopped from inside a handler: the loop ends after it
    } else {
        thread.join();
    }
}

bool LogindSleepWakeSource::holdsDelayLock() const {
    return impl_->lockFd.load() >= 0;
}

}  // namespace lumvane

#include "LogindSleepWakeSource.moc"
