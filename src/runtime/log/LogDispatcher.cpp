#include "runtime/log/LogDispatcher.h"

#include <chrono>
#include <cstdlib>
#include <utility>

#include "runtime/log/LogFileLogger.h"

namespace lumvane {
namespace {
constexpr auto kPollTime = std::chrono::milliseconds(10);
constexpr auto kStayAwake = std::chrono::seconds(2);
constexpr size_t kGatherCount = 256;
// The dispatcher whose worker runs on this thread. Set by the worker itself before it
// takes any record, so other threads never read what a starting thread writes.
thread_local const LogDispatcher* t_ownDispatcher = nullptr;
}  // namespace

LogDispatcher::LogDispatcher() = default;

LogDispatcher::~LogDispatcher() {
    std::thread worker;
    {
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
        worker = std::move(worker_);
    }
    queueCv_.notify_all();
    if (worker.joinable()) {
        if (worker.get_id() == std::this_thread::get_id()) {
            worker.detach();
        } else {
            worker.join();
        }
    }
    // Whatever arrived without a thread to write it is written here.
    std::vector<Item> rest;
    size_t restCount = 0;
    {
        std::lock_guard lock(queueMutex_);
        rest.swap(queue_);
        restCount = std::exchange(queueCount_, 0);
    }
    for (size_t i = 0; i < restCount; ++i) {
        if (rest[i].record) deliver(*rest[i].record);
        if (rest[i].done) rest[i].done->set_value();
    }
    flushLoggers();
}

LogDispatcher& LogDispatcher::sharedInstance() {
    // Never destroyed: loggers may log until the very end of the process. What is
    // queued when the process exits is written by the exit handler.
    static LogDispatcher* shared = [] {
        auto* d = new LogDispatcher();
        std::atexit([] { LogDispatcher::sharedInstance().flush(); });
        return d;
    }();
    return *shared;
}

void LogDispatcher::addLogger(std::shared_ptr<Logger> logger, uint64_t levelMask) {
    if (!logger) return;
    std::lock_guard lock(loggersMutex_);
    loggers_.push_back(Entry{std::move(logger), levelMask});
}

void LogDispatcher::removeAllLoggers() {
    std::lock_guard lock(loggersMutex_);
    loggers_.clear();
}

std::vector<std::shared_ptr<Logger>> LogDispatcher::allLoggers() const {
    std::lock_guard lock(loggersMutex_);
    std::vector<std::shared_ptr<Logger>> out;
    out.reserve(loggers_.size());
    for (const Entry& e : loggers_) out.push_back(e.logger);
    return out;
}

bool LogDispatcher::onOwnThread() const {
    return t_ownDispatcher == this;
}

void LogDispatcher::startLocked() {
    if (worker_.joinable() || stopping_) return;
    worker_ = std::thread([this] {
        t_ownDispatcher = this;
        run();
    });
}

void LogDispatcher::log(bool asynchronous, LogRecord record) {
    if (!asynchronous && onOwnThread()) {
        deliver(record);
        return;
    }
    std::shared_ptr<std::promise<void>> done;
    std::future<void> wait;
    if (!asynchronous) {
        done = std::make_shared<std::promise<void>>();
        wait = done->get_future();
    }
    bool wake = false;
    {
        std::lock_guard lock(queueMutex_);
        if (stopping_) {
            deliver(record);
            return;
        }
        startLocked();
        pushLocked(Item{std::move(record), std::move(done)});
        // A busy worker takes the record with its next batch (it looks at the queue
        // under this lock before it waits); an idle one is woken for the first record,
        // a polling one only once the batch is full or somebody waits.
        if (!asynchronous) urgent_ = true;
        wake = workerState_ == WorkerState::Idle ||
               (workerState_ == WorkerState::Polling && (urgent_ || queueCount_ >= kGatherCount));
    }
    if (wake) queueCv_.notify_one();
    if (wait.valid()) wait.wait();
}

void LogDispatcher::flush() {
    if (onOwnThread()) {
        flushLoggers();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> wait = done->get_future();
    {
        std::lock_guard lock(queueMutex_);
        if (stopping_ || !worker_.joinable()) {
            // Nothing was ever queued (or the dispatcher is going away): flush here.
            done.reset();
        } else {
            pushLocked(Item{std::nullopt, done});
            urgent_ = true;
        }
    }
    if (!done) {
        flushLoggers();
        return;
    }
    queueCv_.notify_one();
    wait.wait();
}

void LogDispatcher::run() {
    std::vector<Item> batch;
    // When records last came, and whether the loggers hold records not yet flushed.
    auto lastRecords = std::chrono::steady_clock::now() - kStayAwake;
    bool unflushed = false;
    for (;;) {
        size_t batchCount = 0;
        {
            std::unique_lock lock(queueMutex_);
            if (queueCount_ == 0 && !stopping_ && unflushed) {
                // The queue ran empty: write out what the loggers buffered.
                lock.unlock();
                flushLoggers();
                unflushed = false;
                lock.lock();
            }
            if (queueCount_ == 0 && !stopping_ &&
                std::chrono::steady_clock::now() - lastRecords >= kStayAwake) {
                // A quiet spell: sleep until somebody logs.
                workerState_ = WorkerState::Idle;
                queueCv_.wait(lock, [this] { return stopping_ || queueCount_ != 0; });
            }
            if (!stopping_ && !urgent_ && queueCount_ < kGatherCount) {
                // Records come in a stream: take them in turns, so that logging a line
                // costs its thread no wake-up call.
                workerState_ = WorkerState::Polling;
                queueCv_.wait_for(lock, kPollTime, [this] {
                    return stopping_ || urgent_ || queueCount_ >= kGatherCount;
                });
            }
            workerState_ = WorkerState::Busy;
            if (queueCount_ == 0) {
                if (stopping_) return;
                continue;
            }
            urgent_ = false;
            batch.swap(queue_);
            batchCount = std::exchange(queueCount_, 0);
        }
        lastRecords = std::chrono::steady_clock::now();
        unflushed = true;
        std::vector<Entry> loggers;
        {
            std::lock_guard lock(loggersMutex_);
            loggers = loggers_;
        }
        for (size_t i = 0; i < batchCount; ++i) {
            Item& item = batch[i];
            if (item.record) {
                deliver(*item.record, loggers);
            } else {
                flushLoggers();
                // Loggers added meanwhile get the records after the flush.
                std::lock_guard lock(loggersMutex_);
                loggers = loggers_;
            }
            if (item.done) {
                item.done->set_value();
                item.done.reset();
            }
        }
    }
}

void LogDispatcher::pushLocked(Item item) {
    // The written records of an earlier batch are overwritten in place, so their
    // memory is released on the logging thread that made it, not on the writer's.
    if (queueCount_ < queue_.size()) {
        queue_[queueCount_] = std::move(item);
    } else {
        queue_.push_back(std::move(item));
    }
    ++queueCount_;
}

void LogDispatcher::deliver(const LogRecord& record) {
    std::vector<Entry> loggers;
    {
        std::lock_guard lock(loggersMutex_);
        loggers = loggers_;
    }
    deliver(record, loggers);
}

void LogDispatcher::deliver(const LogRecord& record, const std::vector<Entry>& loggers) {
    for (const Entry& e : loggers) {
        if ((record.flag & e.levelMask) != record.flag) continue;
        e.logger->logMessage(record);
    }
}

void LogDispatcher::flushLoggers() {
    for (const std::shared_ptr<Logger>& logger : allLoggers()) logger->flush();
}

void LogDispatcher::rollLogFileWithCompletionBlock(std::function<void()> completion) {
    for (const std::shared_ptr<Logger>& logger : allLoggers()) {
        if (auto fileLogger = std::dynamic_pointer_cast<LogFileLogger>(logger)) {
            fileLogger->rollLogFileWithCompletionBlock(std::move(completion));
            return;
        }
    }
    if (completion) completion();
}

}  // namespace lumvane
