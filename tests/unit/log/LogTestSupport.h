#pragma once
// Shared helpers of the logging tests: a logger that keeps what it gets, a fixed
// clock and thread, and a scratch folder.
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/log/LogDispatcher.h"
#include "runtime/log/LogRecord.h"
#include "runtime/log/Logger.h"

namespace lumvane::testing {

class CapturingLogger : public Logger {
  public:
    void logMessage(const LogRecord& record) override {
        std::optional<std::string> line = lineFor(record);
        std::lock_guard lock(mutex_);
        records_.push_back(record);
        if (line) lines_.push_back(*line);
    }
    std::string loggerName() const override { return "test.capture"; }
    std::vector<LogRecord> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
    std::vector<std::string> lines_;
};

// Fixes the wall clock and the thread data of new records for its lifetime.
class FixedLogEnvironment {
  public:
    explicit FixedLogEnvironment(LogTimePoint time,
                                 LogThreadSnapshot thread = {"7", "worker", "io.lumvane.main"}) {
        setTime(time);
        setThread(std::move(thread));
    }
    ~FixedLogEnvironment() {
        logenv::setWallClock(nullptr);
        logenv::setThreadSource(nullptr);
    }
    void setTime(LogTimePoint time) {
        logenv::setWallClock([time] { return time; });
    }
    void setThread(LogThreadSnapshot thread) {
        logenv::setThreadSource([thread] { return thread; });
    }
};

// A fresh, empty folder under the system's temporary folder, removed afterwards.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Local time in the tests is UTC, so golden lines do not depend on the machine.
void useUtc();

// 2026-03-04 05:06:07.089 UTC plus the given milliseconds.
LogTimePoint fixedTime(int64_t plusMilliseconds = 0);

std::vector<std::string> readLines(const std::filesystem::path& file);
std::vector<std::string> listFolder(const std::filesystem::path& folder);

}  // namespace lumvane::testing
