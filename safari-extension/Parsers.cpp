#include "Parsers.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "SafariLog.h"
#include "runtime/AtomicFile.h"

namespace lumvane {

namespace {
std::mutex& bundleMutex() {
    static std::mutex m;
    return m;
}
std::optional<std::string>& bundleDirOverride() {
    static std::optional<std::string> dir;
    return dir;
}
std::string defaultResourceDirectory() {
    if (const char* env = std::getenv("LUMVANE_SAFARI_RESOURCES"); env && *env) return env;
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return "resources";
    return (exe.parent_path() / "resources").string();
}
}  // namespace

void SafariBundle::setResourceDirectory(std::optional<std::string> dir) {
    std::lock_guard<std::mutex> lock(bundleMutex());
    bundleDirOverride() = std::move(dir);
}

std::optional<std::string> SafariBundle::pathForResource(const std::string& name,
                                                         const std::string& ext) {
    std::string dir;
    {
        std::lock_guard<std::mutex> lock(bundleMutex());
        dir = bundleDirOverride().value_or(defaultResourceDirectory());
    }
    std::string path = dir + "/" + name + "." + ext;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    return path;
}

Parsers& Parsers::shared() {
    static Parsers instance(SafariBundle::pathForResource("parserdb", "json"));
    return instance;
}

Parsers::Parsers(const std::optional<std::string>& resourcePath) {
    if (!resourcePath) return;
    std::string bytes;
    if (!readWholeFile(*resourcePath, bytes)) {
        SafariLog::system("error: cannot read " + *resourcePath);
        return;
    }
    nlohmann::json parsed;
    try {
        parsed = nlohmann::json::parse(bytes);
    } catch (const std::exception& e) {
        SafariLog::system(std::string("error: ") + e.what());
        return;
    }
    if (!parsed.is_object()) {
        // A valid JSON text that is not an object cannot hold the table.
        SafariLog::system("error: the parser database is not a JSON object");
        return;
    }
    JSParsers table;
    try {
        table = JSParsers::fromDictionary(parsed);
    } catch (const std::exception& e) {
        SafariLog::system(std::string("error: ") + e.what());
        return;
    }
    sites_ = std::move(table.sites);
    if (!sites_ || sites_->empty()) return;
    auto site = sites_->find("default");
    if (site == sites_->end() || !site->second.paths || site->second.paths->empty()) return;
    auto info = site->second.paths->find("");
    if (info != site->second.paths->end()) defaultParserInfo_ = info->second;
}

}  // namespace lumvane
