#include "SafariLog.h"

#include <cstdio>
#include <mutex>

namespace lumvane {
namespace {
std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
SafariLog::Sink& systemSink() {
    static SafariLog::Sink s;
    return s;
}
SafariLog::Sink& printSink() {
    static SafariLog::Sink s;
    return s;
}
}  // namespace

void SafariLog::system(const std::string& line) {
    Sink sink;
    {
        std::lock_guard<std::mutex> lock(sinkMutex());
        sink = systemSink();
    }
    if (sink) {
        sink(line);
    } else {
        std::fprintf(stderr, "LumvaneSafari: %s\n", line.c_str());
    }
}

void SafariLog::print(const std::string& line) {
    Sink sink;
    {
        std::lock_guard<std::mutex> lock(sinkMutex());
        sink = printSink();
    }
    if (sink) {
        sink(line);
    } else {
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    }
}

SafariLog::Sink SafariLog::setSystemSink(Sink sink) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    std::swap(systemSink(), sink);
    return sink;
}

SafariLog::Sink SafariLog::setPrintSink(Sink sink) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    std::swap(printSink(), sink);
    return sink;
}

}  // namespace lumvane
