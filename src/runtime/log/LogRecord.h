#pragma once
// The record that travels from a log call through the dispatcher to every logger.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace lumvane {

// Base of whatever object a record carries as its tag. Our own log calls carry a
// TBNLogTag; code that logs straight through the dispatcher may carry anything (or
// nothing), and the filter and formatter drop such records.
class LogTagObject {
  public:
    virtual ~LogTagObject() = default;
};

using LogTimePoint = std::chrono::system_clock::time_point;

// What a record knows about the thread that made it.
struct LogThreadSnapshot {
    std::string threadNumber;  // decimal text of the thread's number
    std::string threadName;
    std::string queueLabel;
};

// Sources of the time stamp and thread data of new records. Both can be replaced so
// tests get fixed lines; passing an empty function restores the real source.
namespace logenv {
LogTimePoint now();
void setWallClock(std::function<LogTimePoint()> clock);
LogThreadSnapshot currentThread();
void setThreadSource(std::function<LogThreadSnapshot()> source);
}  // namespace logenv

struct LogRecord {
    std::optional<std::string> message;  // absent: the record has no text
    uint64_t level = 31;
    uint64_t flag = 0;
    uint64_t context = 0;  // the kind of the record (TBNLogTagType)
    std::string file;
    std::string function;
    uint64_t line = 0;
    std::shared_ptr<const LogTagObject> tag;
    uint64_t options = 0;
    LogTimePoint timestamp{};
    std::string threadNumber;
    std::string threadName;
    std::string queueLabel;

    // Stamps the record with the current time and calling thread.
    static LogRecord make(std::optional<std::string> message, uint64_t level, uint64_t flag,
                          uint64_t context, std::string file, std::string function, uint64_t line,
                          std::shared_ptr<const LogTagObject> tag, uint64_t options = 0,
                          std::optional<LogTimePoint> timestamp = std::nullopt);
};

}  // namespace lumvane
