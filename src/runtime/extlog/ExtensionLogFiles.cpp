#include "runtime/extlog/ExtensionLogFiles.h"

#include <algorithm>
#include <system_error>

#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace fs = std::filesystem;

ExtensionLogFileManager::ExtensionLogFileManager(std::string folder, std::string appId,
                                                 std::string appVersion)
    : TBNLogFileManager(std::move(folder)), prefix_(appId + " ") {
    setCustomApplicationName(std::move(appId));
    setCustomApplicationVersion(std::move(appVersion));
}

bool ExtensionLogFileManager::isLogFile(const std::string& fileName) const {
    static constexpr std::string_view kExtension = ".tbnlog";
    return fileName.size() >= prefix_.size() + kExtension.size() &&
           fileName.compare(0, prefix_.size(), prefix_) == 0 &&
           fileName.compare(fileName.size() - kExtension.size(), kExtension.size(), kExtension) ==
               0;
}

size_t enforceFolderQuota(const fs::path& folder, uint64_t quotaBytes,
                          const std::set<std::string>& keep) {
    struct Found {
        fs::path path;
        uint64_t size;
        fs::file_time_type time;
    };
    std::vector<Found> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc) || it->path().extension() != ".tbnlog") continue;
        const uint64_t size = it->file_size(fileEc);
        if (fileEc) continue;
        const fs::file_time_type time = it->last_write_time(fileEc);
        if (fileEc) continue;
        files.push_back(Found{it->path(), size, time});
    }
    std::sort(files.begin(), files.end(), [](const Found& a, const Found& b) {
        if (a.time != b.time) return a.time > b.time;
        return a.path.filename() > b.path.filename();
    });
    uint64_t total = 0;
    for (const Found& f : files) {
        if (keep.count(f.path.string())) total += f.size;
    }
    size_t deleted = 0;
    bool full = false;  // once a file does not fit, every older one goes too
    for (const Found& f : files) {
        if (keep.count(f.path.string())) continue;
        if (!full && total + f.size <= quotaBytes) {
            total += f.size;
            continue;
        }
        full = true;
        std::error_code removeEc;
        if (fs::remove(f.path, removeEc)) ++deleted;
    }
    return deleted;
}

TimeBeginGuardFormatter::TimeBeginGuardFormatter(std::shared_ptr<LogFormatter> inner,
                                                 size_t capacity)
    : inner_(std::move(inner)), capacity_(capacity) {}

std::optional<std::string> TimeBeginGuardFormatter::formatRecord(
    const LogRecord& record, const std::optional<std::string>& message) {
    const auto* tag = dynamic_cast<const TBNLogTag*>(record.tag.get());
    if (tag &&
        (tag->logType() == TBNLogTagTypeTimeBegin || tag->logType() == TBNLogTagTypeTimeEnd)) {
        const std::string key = message && !message->empty() ? *message : record.function;
        // Held across the inner call so the two tables change together.
        std::lock_guard lock(mutex_);
        if (tag->logType() == TBNLogTagTypeTimeBegin) {
            if (!open_.count(key) && open_.size() >= capacity_) return std::nullopt;
            open_.insert(key);
        } else {
            open_.erase(key);
        }
        return inner_->formatRecord(record, message);
    }
    return inner_->formatRecord(record, message);
}

size_t TimeBeginGuardFormatter::openKeys() const {
    std::lock_guard lock(mutex_);
    return open_.size();
}

}  // namespace lumvane
