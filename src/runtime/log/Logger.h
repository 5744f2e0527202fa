#pragma once
// Loggers and formatters of the logging framework.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "runtime/log/LogRecord.h"

namespace lumvane {

// Turns a record into text; nothing drops the record. Formatters may be shared by
// several loggers and are then called from several threads.
class LogFormatter {
  public:
    virtual ~LogFormatter() = default;
    std::optional<std::string> formatLogMessage(const LogRecord& record) {
        return formatRecord(record, record.message);
    }
    // The record with `message` read in place of its own message (a chain hands each
    // link the previous link's text this way, without copying the record).
    virtual std::optional<std::string> formatRecord(const LogRecord& record,
                                                    const std::optional<std::string>& message) = 0;
};

// A chain of formatters: each link sees the previous link's text as the record's
// message; nothing from any link drops the record.
class LogMultiFormatter final : public LogFormatter {
  public:
    explicit LogMultiFormatter(std::vector<std::shared_ptr<LogFormatter>> formatters);
    std::optional<std::string> formatRecord(const LogRecord& record,
                                            const std::optional<std::string>& message) override;
    const std::vector<std::shared_ptr<LogFormatter>>& formatters() const { return formatters_; }

  private:
    std::vector<std::shared_ptr<LogFormatter>> formatters_;
};

// Base of every logger: an optional formatter, one operation per record, a name.
// The dispatcher calls logMessage() for one logger from one thread at a time.
class Logger {
  public:
    virtual ~Logger() = default;
    virtual void logMessage(const LogRecord& record) = 0;
    virtual std::string loggerName() const = 0;
    // Writes out whatever the logger buffers; called on the dispatcher's thread.
    virtual void flush() {}

    std::shared_ptr<LogFormatter> logFormatter() const;
    void setLogFormatter(std::shared_ptr<LogFormatter> formatter);

  protected:
    // The formatter's text of the record, or the record's message when there is no
    // formatter; nothing when the record is dropped.
    std::optional<std::string> lineFor(const LogRecord& record) const;

  private:
    mutable std::mutex formatterMutex_;
    std::shared_ptr<LogFormatter> formatter_;
};

}  // namespace lumvane
