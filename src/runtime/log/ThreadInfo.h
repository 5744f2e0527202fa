#pragma once
// What the log records say about the calling thread: a small stable number, the
// thread's name and the label of the dispatch queue running on it (if any).
#include <cstdint>
#include <string>

namespace lumvane::threadinfo {

// A process-unique number for the calling thread, handed out in order of first use.
uint64_t currentThreadNumber();

// The name set with setCurrentThreadName(), else the name the OS knew when the thread
// first asked (may be empty).
std::string currentThreadName();
void setCurrentThreadName(const std::string& name);

// The label of the queue whose block is running on this thread, empty outside queues.
// DispatchQueue sets and restores it around every block it runs.
const std::string& currentQueueLabel();
void setCurrentQueueLabel(const std::string& label);

// Sets the label for the lifetime of the guard and restores the previous one after.
class QueueLabelScope {
  public:
    explicit QueueLabelScope(const std::string& label);
    ~QueueLabelScope();
    QueueLabelScope(const QueueLabelScope&) = delete;
    QueueLabelScope& operator=(const QueueLabelScope&) = delete;

  private:
    std::string previous_;
};

}  // namespace lumvane::threadinfo
