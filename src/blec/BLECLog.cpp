#include "blec/BLECLog.h"

#include <cstdio>
#include <mutex>

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

void defaultSink(LogLevel level, std::string_view tags, std::string_view text) {
    if (level < LogLevel::Warning) return;
    std::fprintf(stderr, "[%s]%s%.*s %.*s\n", level == LogLevel::Error ? "E" : "W",
                 tags.empty() ? "" : " ", static_cast<int>(tags.size()), tags.data(),
                 static_cast<int>(text.size()), text.data());
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

}  // namespace lumvane::blec
