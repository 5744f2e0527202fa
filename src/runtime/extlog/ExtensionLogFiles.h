#pragma once
// The files of the extension logs: a log-file manager that recognises only its own
// extension's files, a bound on the whole folder, and a guard that bounds the
// formatter's table of open time measurements that extensions can fill.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "runtime/log/Logger.h"
#include "runtime/log/TBNLogHelper.h"

namespace lumvane {

// Files "<appId> <appVersion> <date>.tbnlog". A file is this manager's when its name
// begins with the app id and a blank, so "com.a" never prunes the files of "com.a.b";
// all versions of one extension share the manager's limits.
class ExtensionLogFileManager : public TBNLogFileManager {
  public:
    ExtensionLogFileManager(std::string folder, std::string appId, std::string appVersion);
    bool isLogFile(const std::string& fileName) const override;

  private:
    std::string prefix_;
};

// Deletes the oldest "*.tbnlog" files of the folder until the rest fit in quotaBytes;
// files named in `keep` (the files being written) are never deleted. Returns how many
// files were deleted.
size_t enforceFolderQuota(const std::filesystem::path& folder, uint64_t quotaBytes,
                          const std::set<std::string>& keep);

// Sits in front of the shared formatter. Time-begin records leave an entry in that
// formatter until their time-end record arrives; this guard tracks the open keys the
// same way (the text, or the function when the text is empty) and drops a time-begin
// record with a new key once `capacity` keys are open. A time-begin record writes no
// line in the extension logs, so dropping it only loses one elapsed time.
class TimeBeginGuardFormatter : public LogFormatter {
  public:
    TimeBeginGuardFormatter(std::shared_ptr<LogFormatter> inner, size_t capacity);
    std::optional<std::string> formatRecord(const LogRecord& record,
                                            const std::optional<std::string>& message) override;
    size_t openKeys() const;

  private:
    std::shared_ptr<LogFormatter> inner_;
    size_t capacity_;
    mutable std::mutex mutex_;
    std::set<std::string, std::less<>> open_;
};

}  // namespace lumvane
