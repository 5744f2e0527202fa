#include "blec/BLECLog.h"

#include <mutex>
#include <string>

#include "runtime/log/TBNLogger.h"

namespace lumvane::blec {

namespace {

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

LogSink& sinkSlot() {
    static LogSink sink;
    return sink;
}

// The program's logger; the level mask it holds decides what is written.
void defaultSink(LogLevel level, std::string_view tags, std::string_view text) {
    switch (level) {
        case LogLevel::Error:
            TBN_LOG_ERROR(tags, "{}", text);
            break;
        case LogLevel::Warning:
            TBN_LOG_WARN(tags, "{}", text);
            break;
        case LogLevel::Info:
            TBN_LOG_INFO(tags, "{}", text);
            break;
        case LogLevel::Debug:
            TBN_LOG_DEBUG(tags, "{}", text);
            break;
        case LogLevel::Verbose:
            TBN_LOG_VERBOSE(tags, "{}", text);
            break;
    }
}

}  // namespace

LogSink setLogSink(LogSink sink) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    LogSink old = std::move(sinkSlot());
    sinkSlot() = std::move(sink);
    return old;
}

void log(LogLevel level, std::string_view tags, std::string_view text) {
    LogSink sink;
    {
        std::lock_guard<std::mutex> lock(sinkMutex());
        sink = sinkSlot();
    }
    if (sink) {
        sink(level, tags, text);
    } else {
        defaultSink(level, tags, text);
    }
}

void logException(std::string_view tags, const std::exception& e) {
    log(LogLevel::Error, tags,
        std::string("exception = '") + e.what() + "'\n*** First throw call stack:\n");
}

}  // namespace lumvane::blec
