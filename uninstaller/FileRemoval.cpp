#include "uninstaller/FileRemoval.h"

#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace lumvane {
namespace {

std::string describe(const std::string& step, const fs::path& path, const std::error_code& code) {
    return step + " " + path.string() + ": " + code.message();
}

// Depth first; keeps going after a failure so that as much as possible goes.
bool removeAll(const fs::path& path, std::string& error) {
    std::error_code code;
    fs::file_status status = fs::symlink_status(path, code);
    if (code) {
        if (code == std::errc::no_such_file_or_directory) return true;
        if (error.empty()) error = describe("cannot inspect", path, code);
        return false;
    }
    bool ok = true;
    if (fs::is_directory(status)) {
        std::vector<fs::path> children;
        for (fs::directory_iterator it(path, code), end; !code && it != end; it.increment(code)) {
            children.push_back(it->path());
        }
        if (code) {
            if (error.empty()) error = describe("cannot list", path, code);
            return false;
        }
        for (const auto& child : children) ok = removeAll(child, error) && ok;
        if (!ok) return false;
    }
    if (!fs::remove(path, code) && code) {
        if (error.empty()) error = describe("cannot remove", path, code);
        return false;
    }
    return true;
}

}  // namespace

Removal removeTree(const fs::path& path, std::string& error) {
    std::error_code code;
    (void)fs::symlink_status(path, code);
    if (code == std::errc::no_such_file_or_directory) return Removal::Missing;
    return removeAll(path, error) ? Removal::Removed : Removal::Failed;
}

Removal clearFolderExcept(const fs::path& folder, const std::set<std::string>& kept,
                          std::string& error) {
    std::error_code code;
    // The folder itself may be a link to where its content really is.
    fs::file_status status = fs::status(folder, code);
    if (code == std::errc::no_such_file_or_directory) return Removal::Missing;
    if (!code && !fs::is_directory(status)) code = std::make_error_code(std::errc::not_a_directory);
    std::vector<fs::path> entries;
    if (!code) {
        for (fs::directory_iterator it(folder, code), end; !code && it != end; it.increment(code)) {
            entries.push_back(it->path());
        }
    }
    if (code) {
        error = describe("cannot list", folder, code);
        return Removal::Failed;
    }
    bool ok = true;
    for (const auto& entry : entries) {
        if (kept.count(entry.filename().string())) continue;
        ok = removeAll(entry, error) && ok;
    }
    return ok ? Removal::Removed : Removal::Failed;
}

}  // namespace lumvane
