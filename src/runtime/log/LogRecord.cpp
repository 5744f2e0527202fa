#include "runtime/log/LogRecord.h"

#include <atomic>
#include <mutex>

#include "runtime/log/ThreadInfo.h"

namespace lumvane {
namespace logenv {
namespace {
// The overrides are rare (tests); the flags keep the usual path free of the mutex.
std::atomic<bool> g_clockOverridden{false};
std::atomic<bool> g_threadOverridden{false};
std::mutex g_envMutex;
std::function<LogTimePoint()> g_clock;
std::function<LogThreadSnapshot()> g_threadSource;
}  // namespace

LogTimePoint now() {
    if (g_clockOverridden.load(std::memory_order_acquire)) {
        std::function<LogTimePoint()> clock;
        {
            std::lock_guard lock(g_envMutex);
            clock = g_clock;
        }
        if (clock) return clock();
    }
    return std::chrono::system_clock::now();
}

void setWallClock(std::function<LogTimePoint()> clock) {
    std::lock_guard lock(g_envMutex);
    g_clockOverridden.store(static_cast<bool>(clock), std::memory_order_release);
    g_clock = std::move(clock);
}

LogThreadSnapshot currentThread() {
    if (g_threadOverridden.load(std::memory_order_acquire)) {
        std::function<LogThreadSnapshot()> source;
        {
            std::lock_guard lock(g_envMutex);
            source = g_threadSource;
        }
        if (source) return source();
    }
    return LogThreadSnapshot{std::to_string(threadinfo::currentThreadNumber()),
                             threadinfo::currentThreadName(), threadinfo::currentQueueLabel()};
}

void setThreadSource(std::function<LogThreadSnapshot()> source) {
    std::lock_guard lock(g_envMutex);
    g_threadOverridden.store(static_cast<bool>(source), std::memory_order_release);
    g_threadSource = std::move(source);
}
}  // namespace logenv

LogRecord LogRecord::make(std::optional<std::string> message, uint64_t level, uint64_t flag,
                          uint64_t context, std::string file, std::string function, uint64_t line,
                          std::shared_ptr<const LogTagObject> tag, uint64_t options,
                          std::optional<LogTimePoint> timestamp) {
    LogRecord r;
    r.message = std::move(message);
    r.level = level;
    r.flag = flag;
    r.context = context;
    r.file = std::move(file);
    r.function = std::move(function);
    r.line = line;
    r.tag = std::move(tag);
    r.options = options;
    r.timestamp = timestamp ? *timestamp : logenv::now();
    LogThreadSnapshot thread = logenv::currentThread();
    r.threadNumber = std::move(thread.threadNumber);
    r.threadName = std::move(thread.threadName);
    r.queueLabel = std::move(thread.queueLabel);
    return r;
}

}  // namespace lumvane
