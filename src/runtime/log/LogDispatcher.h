#pragma once
// Hands records to loggers. One process-wide dispatcher serves the program's own log
// calls; further instances serve loggers of their own (one per extension version).
// Asynchronous records are written on the dispatcher's own thread in the order they
// were handed over, so the records of one thread reach every logger in call order.
// The thread writes in batches: while records come it looks for them every few
// milliseconds (sooner when many records wait, a flush or a synchronous record comes),
// so logging a line wakes nobody; after a quiet spell of a few seconds it sleeps until
// the next record. It flushes the loggers whenever the queue runs empty.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "runtime/log/LogRecord.h"
#include "runtime/log/Logger.h"

namespace lumvane {

class LogDispatcher {
  public:
    LogDispatcher();
    // Writes what is still queued, then stops the thread.
    ~LogDispatcher();
    LogDispatcher(const LogDispatcher&) = delete;
    LogDispatcher& operator=(const LogDispatcher&) = delete;

    // The process-wide dispatcher; it lives until the process ends and is flushed at exit.
    static LogDispatcher& sharedInstance();

    // Adds a logger that receives the records whose flag lies inside levelMask.
    void addLogger(std::shared_ptr<Logger> logger, uint64_t levelMask = ~uint64_t{0});
    void removeAllLoggers();
    std::vector<std::shared_ptr<Logger>> allLoggers() const;

    // Asynchronous: queue and return. Synchronous: return once every logger has
    // handled the record (and every record queued before it).
    void log(bool asynchronous, LogRecord record);

    // Returns when every record queued so far is written and every logger flushed.
    void flush();

    // Rolls the file of the first file logger (in the order loggers were added); the
    // completion runs once the new file is in place, at once when there is none.
    void rollLogFileWithCompletionBlock(std::function<void()> completion);

  private:
    struct Entry {
        std::shared_ptr<Logger> logger;
        uint64_t levelMask;
    };
    struct Item {
        std::optional<LogRecord> record;  // absent: a flush marker
        std::shared_ptr<std::promise<void>> done;
    };

    void run();
    void deliver(const LogRecord& record);
    void deliver(const LogRecord& record, const std::vector<Entry>& loggers);
    void flushLoggers();
    bool onOwnThread() const;
    void startLocked();
    void pushLocked(Item item);

    mutable std::mutex loggersMutex_;
    std::vector<Entry> loggers_;

    std::mutex queueMutex_;
    std::condition_variable queueCv_;
    // Swapped with the worker's batch. Only the first queueCount_ items are queued; the
    // rest are records already written, kept until a new record takes their place.
    std::vector<Item> queue_;
    size_t queueCount_ = 0;
    bool stopping_ = false;
    // Idle: the worker sleeps until the first record. Polling: records came lately; it
    // looks again after a moment by itself, so a stream of records costs their threads
    // no wake-up calls. Busy: it writes.
    enum class WorkerState { Busy, Idle, Polling };
    WorkerState workerState_ = WorkerState::Busy;
    bool urgent_ = false;  // a synchronous record or a flush waits
    std::thread worker_;
};

}  // namespace lumvane
