#include "uninstaller/UninstallEnvironment.h"

#include <system_error>

#include "runtime/Paths.h"

namespace fs = std::filesystem;

namespace lumvane {

UninstallEnvironment UninstallEnvironment::fromProcess() {
    UninstallEnvironment environment;
    environment.home = Paths::homeFolder();
    environment.settingsFolder = Paths::settingsFolder();
    environment.logsFolder = Paths::logsFolder();
    environment.oldSettingsFolder = Paths::oldSettingsFolder();
    // The default backup location of the settings; a folder the user chose elsewhere
    // is the user's and stays.
    environment.backupFolder = Paths::documentsFolder() / "Lumvane";
    environment.autostartFolder = Paths::configHome() / "autostart";
    environment.userUnitFolder = Paths::configHome() / "systemd" / "user";

    // Under a root override (tests) the browser folders follow it too.
    if (auto root = Paths::rootOverride()) {
        environment.browser.environment = BrowserEnvironment::underHome(root->string());
    } else {
        environment.browser.environment = BrowserEnvironment::fromProcess();
    }
    environment.browser.settingsFolder = environment.settingsFolder.string();
    return environment;
}

fs::path UninstallEnvironment::ownFolder() {
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return self.parent_path();
}

fs::path UninstallEnvironment::installFolder() const {
    return programFolder ? *programFolder : ownFolder();
}

std::string UninstallEnvironment::hostsRemovalHelperPath() const {
    if (!hostsRemovalHelper.empty()) return hostsRemovalHelper;
    // pkexec wants an absolute path.
    return (ownFolder() / "lumvane-uninstall-hosts-helper").string();
}

std::string pathWithTilde(const fs::path& path, const fs::path& home) {
    const fs::path normalHome = home.lexically_normal();
    const fs::path normalPath = path.lexically_normal();
    if (normalHome.empty() || !normalHome.is_absolute()) return path.string();
    fs::path relative = normalPath.lexically_relative(normalHome);
    if (relative.empty() || *relative.begin() == "..") return path.string();
    if (relative == ".") return "~";
    return "~/" + relative.string();
}

}  // namespace lumvane
