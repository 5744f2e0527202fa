#include "runtime/log/LogFileLogger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "lumvane/Version.h"
#include "runtime/log/LogDateFormatter.h"

namespace fs = std::filesystem;

namespace lumvane {
namespace {

bool makeFolder(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return true;
    fs::create_directories(path, ec);
    if (ec) return false;
    ::chmod(path.c_str(), 0700);
    return true;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

LogFileManager::LogFileManager(std::string logsDirectory)
    : logsDirectory_(std::move(logsDirectory)) {
    makeFolder(logsDirectory_);
}

std::string LogFileManager::applicationName() const {
    return kAppName;
}

std::string LogFileManager::newLogFileName() {
    return applicationName() + " " + fileNameDateText() + ".log";
}

bool LogFileManager::isLogFile(const std::string& fileName) const {
    return fileName.rfind(applicationName() + " ", 0) == 0 && endsWith(fileName, ".log");
}

std::string LogFileManager::fileNameDateText() const {
    // Kept for the whole process: the exit-time flush may still roll a file.
    static const auto* formatter = new LogDateFormatter("yyyy'-'MM'-'dd'--'HH'-'mm'-'ss'-'SSS");
    return formatter->stringFromDate(logenv::now());
}

std::string LogFileManager::createNewLogFileLocked() {
    if (!makeFolder(logsDirectory_)) return {};
    std::string name = newLogFileName();
    // Two files asked for within one millisecond get " 2", " 3", ... before the
    // extension, so the name keeps its beginning and its ending.
    std::string stem = name;
    std::string extension;
    if (size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
        stem = name.substr(0, dot);
        extension = name.substr(dot);
    }
    for (int attempt = 1; attempt < 10000; ++attempt) {
        std::string candidate =
            attempt == 1 ? name : stem + " " + std::to_string(attempt) + extension;
        std::string path = (fs::path(logsDirectory_) / candidate).string();
        int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

std::string LogFileManager::rollLogFile() {
    std::lock_guard lock(mutex_);
    std::string path = createNewLogFileLocked();
    if (!path.empty()) {
        currentPath_ = path;
        generation_.fetch_add(1, std::memory_order_acq_rel);
    }
    deleteOldLogFilesLocked();
    return path;
}

std::string LogFileManager::currentLogFilePath() {
    std::lock_guard lock(mutex_);
    if (currentPath_.empty()) return rollLogFile();
    return currentPath_;
}

std::vector<std::string> LogFileManager::sortedLogFilePaths() const {
    struct Found {
        std::string path;
        std::string name;
        fs::file_time_type time;
    };
    std::vector<Found> found;
    std::error_code ec;
    for (fs::directory_iterator it(logsDirectory_, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc)) continue;
        std::string name = it->path().filename().string();
        if (!isLogFile(name)) continue;
        fs::file_time_type time = it->last_write_time(fileEc);
        found.push_back(Found{it->path().string(), name, time});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        if (a.time != b.time) return a.time > b.time;
        return a.name > b.name;
    });
    std::vector<std::string> out;
    out.reserve(found.size());
    for (Found& f : found) out.push_back(std::move(f.path));
    return out;
}

std::vector<std::string> LogFileManager::sortedLogFileNames() const {
    std::vector<std::string> names;
    for (const std::string& path : sortedLogFilePaths()) {
        names.push_back(fs::path(path).filename().string());
    }
    return names;
}

void LogFileManager::deleteOldLogFiles() {
    std::lock_guard lock(mutex_);
    deleteOldLogFilesLocked();
}

void LogFileManager::deleteOldLogFilesLocked() {
    const uint64_t maxFiles = maxFiles_.load();
    const uint64_t quota = diskQuota_.load();
    std::vector<std::string> paths = sortedLogFilePaths();
    // The current file counts first whatever its time stamp says.
    if (auto it = std::find(paths.begin(), paths.end(), currentPath_);
        it != paths.end() && it != paths.begin()) {
        std::rotate(paths.begin(), it, it + 1);
    }
    uint64_t kept = 0;
    uint64_t bytes = 0;
    for (const std::string& path : paths) {
        std::error_code ec;
        uint64_t size = fs::file_size(path, ec);
        if (ec) size = 0;
        bool isCurrent = path == currentPath_;
        bool overCount = maxFiles != 0 && kept + 1 > maxFiles;
        bool overQuota = quota != 0 && bytes + size > quota;
        if (!isCurrent && (overCount || overQuota)) {
            fs::remove(path, ec);
            continue;
        }
        ++kept;
        bytes += size;
    }
}

namespace {

// The logger a fatal signal writes to; cleared before that logger goes.
std::atomic<LogFileLogger*> gFatalSignalTarget{nullptr};

// Writes all of it, unless the descriptor fails. Async-signal-safe.
void writeAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
}

}  // namespace

LogFileLogger::LogFileLogger(std::shared_ptr<LogFileManager> manager)
    : manager_(std::move(manager)), buffer_(new char[kBufferSize]) {}

LogFileLogger::~LogFileLogger() {
    LogFileLogger* self = this;
    gFatalSignalTarget.compare_exchange_strong(self, nullptr);
    std::lock_guard lock(mutex_);
    closeLocked();
}

void LogFileLogger::becomeFatalSignalTarget() {
    gFatalSignalTarget.store(this);
}

void LogFileLogger::writeAtFatalSignal(const char* line, size_t length) {
    LogFileLogger* target = gFatalSignalTarget.load();
    if (!target) return;
    const int fd = target->fd_.load();
    if (fd < 0) return;
    const size_t buffered = target->buffered_.load(std::memory_order_acquire);
    writeAll(fd, target->buffer_.get(), std::min(buffered, kBufferSize));
    writeAll(fd, line, length);
}

void LogFileLogger::writeOutLocked() {
    const size_t buffered = buffered_.load(std::memory_order_relaxed);
    const int fd = fd_.load();
    if (fd >= 0 && buffered > 0) writeAll(fd, buffer_.get(), buffered);
    buffered_.store(0, std::memory_order_release);
}

void LogFileLogger::closeLocked() {
    writeOutLocked();
    const int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

void LogFileLogger::openLocked() {
    closeLocked();
    openedGeneration_ = manager_->generation();
    path_ = manager_->currentLogFilePath();
    openedGeneration_ = manager_->generation();
    if (path_.empty()) return;
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
    int fd = ::open(path_.c_str(), flags, 0666);
    if (fd < 0) {
        // The file went away between its creation and now: start another one.
        path_ = manager_->rollLogFile();
        openedGeneration_ = manager_->generation();
        if (!path_.empty()) fd = ::open(path_.c_str(), flags, 0666);
    }
    if (fd < 0) return;
    fd_.store(fd);
    std::error_code ec;
    size_ = fs::file_size(path_, ec);
    if (ec) size_ = 0;
}

void LogFileLogger::logMessage(const LogRecord& record) {
    std::optional<std::string> line = lineFor(record);
    if (!line) return;
    line->push_back('\n');
    std::lock_guard lock(mutex_);
    if (fd_.load() < 0 || openedGeneration_ != manager_->generation()) openLocked();
    if (fd_.load() < 0) return;
    size_t buffered = buffered_.load(std::memory_order_relaxed);
    if (buffered + line->size() > kBufferSize) {
        writeOutLocked();
        buffered = 0;
    }
    if (line->size() > kBufferSize) {
        writeAll(fd_.load(), line->data(), line->size());
    } else {
        std::copy(line->begin(), line->end(), buffer_.get() + buffered);
        buffered_.store(buffered + line->size(), std::memory_order_release);
    }
    size_ += line->size();
    const uint64_t maxSize = maxFileSize_.load();
    if (maxSize != 0 && size_ >= maxSize) {
        writeOutLocked();
        manager_->rollLogFile();
        openLocked();
    }
}

void LogFileLogger::flush() {
    std::lock_guard lock(mutex_);
    if (fd_.load() < 0) return;
    writeOutLocked();
    // A file (or its folder) removed underneath is made again with the next line.
    struct stat st;
    if (::stat(path_.c_str(), &st) != 0) {
        closeLocked();
        manager_->rollLogFile();
    }
}

void LogFileLogger::rollLogFileWithCompletionBlock(std::function<void()> completion) {
    {
        std::lock_guard lock(mutex_);
        writeOutLocked();
        manager_->rollLogFile();
        openLocked();
    }
    if (completion) completion();
}

std::string LogFileLogger::currentLogFilePath() const {
    std::lock_guard lock(mutex_);
    return path_;
}

}  // namespace lumvane
