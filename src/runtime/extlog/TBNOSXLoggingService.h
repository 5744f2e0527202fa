#pragma once
// The handler of the logging service: writes the log lines that browser extensions send
// into rolling files of their own, one set per extension version, in "extensions" inside
// the logs folder.
//
// The peers are unauthenticated local programs, so the handler bounds what they can
// grow: app id and version must be plain file-name words, at most maxLiveLogs logs are
// open at once (the least recently used is closed), the whole folder stays within one
// quota, the formatter's table of open time measurements is capped, and every text that
// reaches a line is on one line and of bounded length. A record that fails these checks
// is dropped; the call still returns normally.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "idl/protocols.h"
#include "runtime/NotificationCenter.h"
#include "runtime/extlog/ExtensionLogFiles.h"
#include "runtime/extlog/ExtensionLogRecord.h"
#include "runtime/log/LogDispatcher.h"
#include "runtime/log/LogFileLogger.h"
#include "runtime/log/TBNLogFilter.h"
#include "runtime/log/TBNLogFormatter.h"
#include "runtime/log/TBNLogHelper.h"

namespace lumvane {

class TBNOSXLoggingService : public TBNLoggingService,
                             public std::enable_shared_from_this<TBNOSXLoggingService> {
  public:
    struct Options {
        // Default: Paths::logsFolder() / "extensions".
        std::optional<std::filesystem::path> folder;
        size_t maxLiveLogs = 16;
        uint64_t folderQuota = 0x10000000;        // all extension files together, bytes
        uint64_t maximumNumberOfLogFiles = 100;   // per extension
        uint64_t logFilesDiskQuota = 0x10000000;  // per extension, bytes
        size_t maxOpenTimeMeasurements = 1024;
        // The folder quota is checked whenever a log is opened or rolled and after
        // every this many bytes of accepted text.
        uint64_t quotaCheckInterval = 1024 * 1024;
        ExtensionFieldLimits fieldLimits;
        // Where the level notifications come from; null: none are observed.
        NotificationCenter* notificationCenter = &NotificationCenter::defaultCenter();
        // Where the flush (before a log archive) and roll (after it) callbacks go;
        // null: not registered.
        TBNLogHelper* logHelper = &TBNLogHelper::shared();
    };

    // `loggingLevelSetting` is the stored log level: 11 info, 12 debug, 13 verbose,
    // anything else off.
    static std::shared_ptr<TBNOSXLoggingService> create(int64_t loggingLevelSetting);
    static std::shared_ptr<TBNOSXLoggingService> create(int64_t loggingLevelSetting,
                                                        Options options);
    ~TBNOSXLoggingService() override;

    // Records one extension log line; returns at once, the line is written later.
    void sendLog(std::shared_ptr<TBNLogMessage> logMessage) override;

    // Flushes every extension log, one after another.
    void flushLog();
    // Rolls every extension log one after another, then calls completion once.
    void rollLogFileWithCompletionBlock(std::function<void()> completion);

    std::string extLogsFolder() const;

    uint64_t maxLevel() const { return maxLevel_.load(std::memory_order_relaxed); }
    void setMaxLevel(uint64_t mask) { maxLevel_.store(mask, std::memory_order_relaxed); }
    void loggingDisabled() { setMaxLevel(0); }
    void loggingInfoLevel() { setMaxLevel(7); }
    void loggingDebugLevel() { setMaxLevel(15); }
    void loggingVerboseLevel() { setMaxLevel(31); }
    // 0 for 0..2 and unknown settings, 7, 15, 31 for 11, 12, 13.
    static uint64_t maxLevelForSetting(int64_t setting);

    const std::shared_ptr<TBNLogFormatter>& logFormater() const { return logFormater_; }
    const std::shared_ptr<TBNLogFilter>& logFilter() const { return logFilter_; }
    size_t openTimeMeasurements() const { return timeGuard_->openKeys(); }

    // The live logs, as "appId_appVersion" keys, least recently used first.
    std::vector<std::string> extLogs() const;
    // Their log-file managers, in the same order.
    std::vector<std::shared_ptr<TBNLogFileManager>> extLogFileManagers() const;

    // Whether a text may name log files: 1..64 of [A-Za-z0-9._-], not "." or "..".
    static bool isValidLogName(std::string_view name);

  private:
    struct ExtLog {
        std::shared_ptr<LogDispatcher> dispatcher;
        std::shared_ptr<ExtensionLogFileManager> manager;
        std::shared_ptr<LogFileLogger> fileLogger;
        uint64_t lastUse = 0;
    };
    using Key = std::pair<std::string, std::string>;  // app id, app version

    TBNOSXLoggingService(int64_t loggingLevelSetting, Options options);
    void registerCallbacks();
    std::shared_ptr<LogDispatcher> logFor(const Key& key);
    std::vector<ExtLog> snapshot() const;
    void checkFolderQuota();
    void rollAll();

    Options options_;
    std::filesystem::path folder_;
    std::shared_ptr<TBNLogFormatter> logFormater_;
    std::shared_ptr<TBNLogFilter> logFilter_;
    std::shared_ptr<TimeBeginGuardFormatter> timeGuard_;
    std::atomic<uint64_t> maxLevel_{0};

    mutable std::mutex mutex_;  // guards the table and the use counter
    std::map<Key, ExtLog> table_;
    uint64_t useCounter_ = 0;

    std::mutex quotaMutex_;
    std::atomic<uint64_t> bytesSinceQuotaCheck_{0};

    std::vector<NotificationCenter::ObserverId> observers_;
};

}  // namespace lumvane
