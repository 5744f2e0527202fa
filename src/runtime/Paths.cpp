#include "runtime/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace lumvane {

namespace fs = std::filesystem;

namespace {

std::mutex g_mutex;
std::optional<fs::path> g_root;

// An XDG variable counts only when it holds an absolute path.
std::optional<fs::path> xdgVariable(const char* name) {
    if (Paths::rootOverride()) return std::nullopt;
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return std::nullopt;
    return fs::path(value);
}

// The value of one line KEY="..." of user-dirs.dirs: "$HOME/..." or an absolute path.
std::optional<fs::path> userDir(const fs::path& file, const std::string& key,
                                const fs::path& home) {
    std::ifstream in(file);
    std::string line;
    std::optional<fs::path> found;
    while (std::getline(in, line)) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        if (line.compare(start, key.size() + 1, key + "=") != 0) continue;
        std::string value = line.substr(start + key.size() + 1);
        while (!value.empty() &&
               (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) {
            value.pop_back();
        }
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (value.rfind("$HOME", 0) == 0) {
            std::string rest = value.substr(5);
            if (!rest.empty() && rest[0] != '/') continue;
            while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
            // "$HOME/" alone means the home folder itself: the user switched it off.
            found = rest.empty() ? std::optional<fs::path>() : home / rest;
        } else if (!value.empty() && value[0] == '/') {
            found = fs::path(value);
        }
    }
    return found;
}

}  // namespace

void Paths::setRootOverride(std::optional<fs::path> root) {
    std::lock_guard<std::mutex> g(g_mutex);
    g_root = std::move(root);
}

std::optional<fs::path> Paths::rootOverride() {
    std::lock_guard<std::mutex> g(g_mutex);
    return g_root;
}

void Paths::createPrivateFolder(const fs::path& folder) {
    std::vector<fs::path> missing;
    for (fs::path p = folder; !p.empty() && !fs::exists(p); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        std::error_code ec;
        if (!fs::create_directory(*it, ec) && ec) {
            throw fs::filesystem_error("cannot create folder", *it, ec);
        }
        fs::permissions(*it, fs::perms::owner_all, fs::perm_options::replace);
    }
    if (!fs::is_directory(folder)) {
        throw fs::filesystem_error("not a folder", folder,
                                   std::make_error_code(std::errc::not_a_directory));
    }
}

fs::path Paths::homeFolder() {
    if (auto root = rootOverride()) return *root;
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return fs::temp_directory_path();
}

fs::path Paths::dataHome() {
    if (auto v = xdgVariable("XDG_DATA_HOME")) return *v;
    return homeFolder() / ".local" / "share";
}

fs::path Paths::configHome() {
    if (auto v = xdgVariable("XDG_CONFIG_HOME")) return *v;
    return homeFolder() / ".config";
}

fs::path Paths::settingsFolder() {
    return dataHome() / "Lumvane";
}

fs::path Paths::logsFolder() {
    return settingsFolder() / "logs";
}

fs::path Paths::oldSettingsFolder() {
    return dataHome() / "Tobrin" / "Lumvane";
}

fs::path Paths::documentsFolder() {
    const fs::path home = homeFolder();
    if (auto dir = userDir(configHome() / "user-dirs.dirs", "XDG_DOCUMENTS_DIR", home)) {
        return *dir;
    }
    return home / "Documents";
}

}  // namespace lumvane
