#pragma once
// Rolling log files: a manager that names, creates and prunes the log files of one
// folder, and a logger that writes one line per record into the manager's current file.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/log/LogRecord.h"
#include "runtime/log/Logger.h"

namespace lumvane {

class LogFileManager {
  public:
    // Creates the folder (and its parents, mode 0700) when it is missing.
    explicit LogFileManager(std::string logsDirectory);
    virtual ~LogFileManager() = default;
    LogFileManager(const LogFileManager&) = delete;
    LogFileManager& operator=(const LogFileManager&) = delete;

    const std::string& logsDirectory() const { return logsDirectory_; }

    // Limits: the newest files are kept, at most this many (0: no limit) and at most
    // this many bytes together (0: no limit). The current file is never removed.
    uint64_t maximumNumberOfLogFiles() const { return maxFiles_.load(); }
    void setMaximumNumberOfLogFiles(uint64_t count) { maxFiles_.store(count); }
    uint64_t logFilesDiskQuota() const { return diskQuota_.load(); }
    void setLogFilesDiskQuota(uint64_t bytes) { diskQuota_.store(bytes); }

    // The program's name as file names use it ("Lumvane").
    virtual std::string applicationName() const;
    // Name of the next log file: "<name> <date>.log" here; subclasses decide.
    virtual std::string newLogFileName();
    // Whether a file of the folder (by name) is one of this manager's log files.
    virtual bool isLogFile(const std::string& fileName) const;
    // The date text of file names, from the log wall clock, local time:
    // "yyyy-MM-dd--HH-mm-ss-SSS".
    std::string fileNameDateText() const;

    // Creates a new log file now and makes it the current one; the logger attached
    // to this manager writes the lines that follow into it. Removes files beyond the
    // limits. Returns the new file's path (empty when it could not be made).
    std::string rollLogFile();
    // The current file, made on first use.
    std::string currentLogFilePath();
    // Counts rolls; the file logger reopens when it changes.
    uint64_t generation() const { return generation_.load(std::memory_order_acquire); }

    // The manager's log files, newest first (modification time, then name).
    std::vector<std::string> sortedLogFilePaths() const;
    std::vector<std::string> sortedLogFileNames() const;
    void deleteOldLogFiles();

  private:
    std::string createNewLogFileLocked();
    void deleteOldLogFilesLocked();

    std::string logsDirectory_;
    std::atomic<uint64_t> maxFiles_{5};
    std::atomic<uint64_t> diskQuota_{20 * 1024 * 1024};
    std::atomic<uint64_t> generation_{0};
    mutable std::recursive_mutex mutex_;
    std::string currentPath_;
};

// Writes one line (the formatter's text and a line break) per record into the current
// file of its manager. Lines are buffered and written out at every flush, which the
// dispatcher does whenever its queue runs empty. A file that grows beyond
// maximumFileSize rolls on its own; a file or folder removed underneath is made again.
//
// The buffer is the logger's own (written with write(2)), so that a fatal signal can
// still write out the lines it holds without taking a lock or allocating.
class LogFileLogger : public Logger {
  public:
    static constexpr size_t kBufferSize = 64 * 1024;

    explicit LogFileLogger(std::shared_ptr<LogFileManager> manager);
    ~LogFileLogger() override;

    void logMessage(const LogRecord& record) override;
    std::string loggerName() const override { return "lumvane.fileLogger"; }
    void flush() override;

    const std::shared_ptr<LogFileManager>& logFileManager() const { return manager_; }

    // 0: never roll by size.
    uint64_t maximumFileSize() const { return maxFileSize_.load(); }
    void setMaximumFileSize(uint64_t bytes) { maxFileSize_.store(bytes); }

    // Starts a new file now; the completion runs once it is in place (may be empty).
    void rollLogFileWithCompletionBlock(std::function<void()> completion);
    // The path lines currently go to (empty before the first line).
    std::string currentLogFilePath() const;

    // Makes this logger the one a fatal signal writes to (the program's main log).
    void becomeFatalSignalTarget();
    // For a signal handler: writes out the lines the target logger holds, then `line`
    // (`length` bytes, preformatted), with write(2) alone: no lock, no allocation.
    // Best effort: a line being added at that moment may be lost.
    static void writeAtFatalSignal(const char* line, size_t length);

  private:
    void openLocked();
    void closeLocked();
    void writeOutLocked();

    std::shared_ptr<LogFileManager> manager_;
    std::atomic<uint64_t> maxFileSize_{1024 * 1024};
    mutable std::mutex mutex_;
    std::atomic<int> fd_{-1};
    const std::unique_ptr<char[]> buffer_;
    std::atomic<size_t> buffered_{0};
    std::string path_;
    uint64_t openedGeneration_ = 0;
    uint64_t size_ = 0;
};

}  // namespace lumvane
