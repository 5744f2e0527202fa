#include "runtime/log/ThreadInfo.h"

#include <pthread.h>

#include <atomic>

namespace lumvane::threadinfo {
namespace {
std::atomic<uint64_t> g_nextThreadNumber{1};
thread_local uint64_t t_threadNumber = 0;
thread_local std::string t_threadName;
thread_local bool t_nameSet = false;
thread_local std::string t_queueLabel;
}  // namespace

uint64_t currentThreadNumber() {
    if (t_threadNumber == 0) t_threadNumber = g_nextThreadNumber.fetch_add(1);
    return t_threadNumber;
}

std::string currentThreadName() {
    if (t_nameSet) return t_threadName;
    // The OS name is read once per thread and kept: every log record asks for it, and
    // threads are named when they start.
    char buf[32] = {0};
    if (pthread_getname_np(pthread_self(), buf, sizeof buf) == 0) t_threadName = buf;
    t_nameSet = true;
    return t_threadName;
}

void setCurrentThreadName(const std::string& name) {
    t_threadName = name;
    t_nameSet = true;
    // The OS keeps at most 15 characters; ours keeps the whole name.
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

const std::string& currentQueueLabel() {
    return t_queueLabel;
}

void setCurrentQueueLabel(const std::string& label) {
    t_queueLabel = label;
}

QueueLabelScope::QueueLabelScope(const std::string& label) : previous_(t_queueLabel) {
    t_queueLabel = label;
}

QueueLabelScope::~QueueLabelScope() {
    t_queueLabel = std::move(previous_);
}

}  // namespace lumvane::threadinfo
