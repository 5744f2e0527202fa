#pragma once
// Set-up of the main log files, the flush and roll callbacks other parts hook into,
// the log archive, log-file naming and an in-memory logger.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/log/LogDispatcher.h"
#include "runtime/log/LogFileLogger.h"
#include "runtime/log/Logger.h"
#include "runtime/log/TBNLogFilter.h"
#include "runtime/log/TBNLogFormatter.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

// Names log files "<name> <version> <date>.tbnlog" and owns every file of its folder
// whose name begins with the application name and ends with ".tbnlog".
class TBNLogFileManager : public LogFileManager {
  public:
    explicit TBNLogFileManager(std::string logsDirectory);

    std::string applicationName() const override;
    std::string newLogFileName() override;
    bool isLogFile(const std::string& fileName) const override;

    // The program's version (kAppVersion).
    static std::string applicationVersion();

    std::optional<std::string> customApplicationName() const;
    void setCustomApplicationName(std::optional<std::string> name);
    std::optional<std::string> customApplicationVersion() const;
    void setCustomApplicationVersion(std::optional<std::string> version);

  private:
    mutable std::mutex customMutex_;
    std::optional<std::string> customApplicationName_;
    std::optional<std::string> customApplicationVersion_;
};

// Keeps the last lines in memory (at most maxRowCount, oldest dropped first).
class TBNArrayLogger : public Logger {
  public:
    static std::shared_ptr<TBNArrayLogger> sharedInstance();
    // A new array logger, or nothing once the shared one exists.
    static std::shared_ptr<TBNArrayLogger> init();

    void logMessage(const LogRecord& record) override;
    std::string loggerName() const override { return "com.tobrin.arrayLogger"; }

    std::vector<std::string> rows() const;
    std::vector<std::string> logs() const { return rows(); }
    void setLogs(std::vector<std::string> lines);
    uint64_t maxRowCount() const { return maxRowCount_.load(); }
    void setMaxRowCount(uint64_t count) { maxRowCount_.store(count); }

  private:
    TBNArrayLogger() = default;
    mutable std::mutex mutex_;
    std::deque<std::string> logs_;
    std::atomic<uint64_t> maxRowCount_{10240};
};

class TBNLogHelper {
  public:
    using Callback = std::function<void()>;
    using ConfigCallback = std::function<void(TBNLogFilter&, TBNLogFormatter&)>;

    static TBNLogHelper& shared();

    // Sets up the main log files in the folder: a filter (mask 31) and a formatter
    // chained in front of a file logger on a TBNLogFileManager (20 files, 32 MiB),
    // rolled at once so every start begins a new file, registered with the shared
    // dispatcher. The console callback is accepted and not called (there is no
    // console logger); the file callback gets the filter and formatter to keep.
    static void initializeLogsInFolder(const std::string& folder, ConfigCallback ttyLogConfig,
                                       ConfigCallback fileLogConfig);

    // Class operations: each forwards to the shared instance.
    static void flushLog();
    static std::optional<std::string> archiveAllLogsToZipFile(const std::string& logsFolder);
    static void addFlushLogsCallback(Callback callback);
    static void addRollLogsCallback(Callback callback);
    static void startTraceCallstacksWithRefreshTime(double seconds);
    static void stopTraceCallstacks();

    // Applies a stored log-level setting: 0-2 off, 11 info, 12 debug, 13 verbose.
    // Every setting first empties the filter's six sets and turns its scope and
    // value switches off; a known setting then sets the logger's mask, the filter's
    // tags and switches and the formatter's time format. Returns whether the setting
    // was known (another value leaves mask and time format as they were).
    static bool applyLoggingLevel(int64_t setting, TBNLogFilter& filter,
                                  TBNLogFormatter& formatter);
    // The logger mask of a setting, nothing for an unknown one.
    static std::optional<uint64_t> maxLevelForLoggingLevel(int64_t setting);

    // Instance operations.
    TBNLogHelper() = default;
    ~TBNLogHelper();
    TBNLogHelper(const TBNLogHelper&) = delete;
    TBNLogHelper& operator=(const TBNLogHelper&) = delete;

    // Runs the flush callbacks in order, then waits until the shared dispatcher has
    // written everything queued so far.
    void instanceFlushLog();
    // Packs every entry of the logs folder (except "*.zip" and ".DS_Store") into
    // "osx_logs_<date>.zip" in that folder and returns its path. The entries are moved
    // to a working folder of their own next to the logs folder while the ZIP file is
    // written; the working folder is removed only once the ZIP file was written. On
    // failure every entry goes back into the logs folder and nothing is returned.
    std::optional<std::string> instanceArchiveAllLogsToZipFile(const std::string& logsFolder);
    void instanceAddFlushLogsCallback(Callback callback);
    void instanceAddRollLogsCallback(Callback callback);
    void instanceStartTraceCallstacksWithRefreshTime(double seconds);
    void instanceStopTraceCallstacks();
    bool traceCallstacksRunning() const;

    // Replaces the ZIP writer (tests make it fail); an empty function restores libzip.
    // It writes the contents of the folder into a new ZIP file and says whether it did.
    using ZipWriter = std::function<bool(const std::string& folder, const std::string& zipPath)>;
    void setZipWriter(ZipWriter writer);
    // The libzip writer: every file and folder under the folder by its relative path.
    static bool writeZipFromFolder(const std::string& folder, const std::string& zipPath);

  private:
    std::vector<Callback> callbacksCopy(const std::vector<Callback>& list) const;

    mutable std::mutex mutex_;
    std::vector<Callback> flushCallbacks_;
    std::vector<Callback> rollCallbacks_;
    ZipWriter zipWriter_;

    // The call-stack trace: a ticker with no work of its own.
    struct TraceTimer {
        std::thread thread;
        std::mutex mutex;
        std::condition_variable cv;
        bool stop = false;
    };
    std::unique_ptr<TraceTimer> traceCallstacksTimer_;
};

}  // namespace lumvane
