#pragma once
// Where the program's traces live on this machine, and the tools the uninstaller uses to
// take them away. Every location comes from the component that makes it (the settings
// store's paths, the browser-integration manager), so the uninstaller removes exactly
// what the program writes.
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "extension/browser/TBNBrowserExtensionManager.h"

namespace lumvane {

class KeychainStore;

struct UninstallEnvironment {
    std::filesystem::path home;
    std::filesystem::path settingsFolder;     // $XDG_DATA_HOME/Lumvane
    std::filesystem::path logsFolder;         // <settings folder>/logs
    std::filesystem::path oldSettingsFolder;  // $XDG_DATA_HOME/Tobrin/Lumvane
    std::filesystem::path backupFolder;       // <documents>/Lumvane
    std::filesystem::path autostartFolder;    // $XDG_CONFIG_HOME/autostart
    std::filesystem::path userUnitFolder;     // $XDG_CONFIG_HOME/systemd/user

    // Browser folders, the NSS databases and the local TLS identity.
    BrowserIntegrationOptions browser;

    // The program whose running instances are stopped and whose files are removed.
    std::string programName = "lumvane";
    // The folder the program is installed in. When set, only instances started from there
    // are stopped; when not, every instance of this user named programName is, and the
    // program files are looked for in the folder of the running uninstaller.
    std::optional<std::filesystem::path> programFolder;
    // Where dpkg keeps the file lists of installed packages: a program that belongs to the
    // package is the package manager's to remove.
    std::filesystem::path dpkgInfoFolder = "/var/lib/dpkg/info";
    std::chrono::milliseconds stopTimeout{10000};
    std::filesystem::path procRoot = "/proc";

    // Takes the loopback line out of the hosts file; run through `elevation` unless the
    // uninstaller already runs as root. Empty: lumvane-uninstall-hosts-helper next to
    // the running uninstaller.
    std::string hostsRemovalHelper;

    // The keychain of the program's items; empty: the system keychain (Secret Service, or
    // the file store in the settings folder), as the program itself picks it.
    std::shared_ptr<KeychainStore> keychain;

    // From the environment of this process (HOME, the XDG variables, PATH), through the
    // same path functions the program uses.
    static UninstallEnvironment fromProcess();

    // Folder of the running executable.
    static std::filesystem::path ownFolder();
    // Where the program files are looked for.
    std::filesystem::path installFolder() const;
    std::string hostsRemovalHelperPath() const;
};

// "~/..." for a path inside the home folder, the path itself otherwise.
std::string pathWithTilde(const std::filesystem::path& path, const std::filesystem::path& home);

}  // namespace lumvane
