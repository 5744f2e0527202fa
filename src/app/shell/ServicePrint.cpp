#include "app/shell/ServicePrint.h"

#include <cstdio>
#include <mutex>

namespace lumvane {

namespace {
std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}
ServicePrintSink& currentSink() {
    static ServicePrintSink sink;
    return sink;
}
}  // namespace

void servicePrint(std::string_view line) {
    std::lock_guard lock(sinkMutex());
    if (currentSink()) {
        currentSink()(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

ScopedServicePrintSink::ScopedServicePrintSink(ServicePrintSink sink) {
    std::lock_guard lock(sinkMutex());
    previous_ = std::move(currentSink());
    currentSink() = std::move(sink);
}

ScopedServicePrintSink::~ScopedServicePrintSink() {
    std::lock_guard lock(sinkMutex());
    currentSink() = std::move(previous_);
}

}  // namespace lumvane
