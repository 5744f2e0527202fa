#include "uninstaller/Uninstaller.h"

#include <unistd.h>

#include <fmt/format.h>

#include <fstream>
#include <set>
#include <system_error>

#include "app/StartupSteps.h"
#include "crypto/TBNKeyChainManager.h"
#include "extension/browser/ChildProcess.h"
#include "extension/browser/HostsRecord.h"
#include "extension/browser/NSSTrust.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "platform/keychain/KeychainStore.h"
#include "runtime/AtomicFile.h"
#include "uninstaller/FileRemoval.h"
#include "uninstaller/HostsLineRemoval.h"
#include "uninstaller/RunningPrograms.h"

namespace fs = std::filesystem;

namespace lumvane {
namespace {

constexpr const char* kHostsHelperName = "lumvane-hosts-helper";
constexpr const char* kUhidHelperName = "lumvane-uhid-helper";
constexpr const char* kDesktopEntryGroup = "[Desktop Entry]";
constexpr const char* kUserUnitName = "lumvane.service";
// The list an install writes of the files it put in place, relative to its prefix.
constexpr const char* kInstalledFilesList = "share/lumvane/installed-files";
constexpr const char* kPackageName = "lumvane";

// The program a .desktop file starts: the first word of its Exec key.
std::string desktopEntryProgram(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    bool inEntry = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inEntry = line == kDesktopEntryGroup;
            continue;
        }
        if (!inEntry || line.rfind("Exec", 0) != 0) continue;
        size_t at = 4;
        while (at < line.size() && line[at] == ' ') ++at;
        if (at >= line.size() || line[at] != '=') continue;
        ++at;
        while (at < line.size() && line[at] == ' ') ++at;
        std::string program;
        if (at < line.size() && line[at] == '"') {
            size_t end = line.find('"', at + 1);
            program = line.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        } else {
            size_t end = line.find_first_of(" \t", at);
            program = line.substr(at, end == std::string::npos ? end : end - at);
        }
        return program;
    }
    return {};
}

bool exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

}  // namespace

Uninstaller::Uninstaller(UninstallEnvironment environment) : environment_(std::move(environment)) {}

UninstallReport Uninstaller::performUninstall(const UninstallChoices& choices) {
    UninstallReport report;
    // First the program, so that it cannot write its files or keys back behind us.
    if (choices.removeApp || choices.removeSettings) stopRunningProgram(report);
    if (choices.removeApp) removeApplication(report);
    if (choices.removeSettings) removeSettings(choices.leaveLogs, report);
    if (choices.removeBackups) removeBackups(report);
    return report;
}

// --- Application ---

void Uninstaller::removeApplication(UninstallReport& report) {
    removeBrowserManifests(report);
    removeStartAtLogin(report);
    removeUserService(report);
    removeCertificateTrust(report);
    removeHostsRecord(report);
    removeProgramFiles(report);
}

void Uninstaller::stopRunningProgram(UninstallReport& report) {
    auto running = findRunningPrograms(environment_.programName, environment_.programFolder,
                                       environment_.procRoot);
    if (running.empty()) return;
    if (dryRun_) {
        for (const auto& program : running) {
            report.removed.push_back(fmt::format("Would stop {} (process {})",
                                                 program.executable.string(), program.pid));
        }
        return;
    }
    StopResult result = stopPrograms(running, environment_.stopTimeout);
    for (const auto& program : result.stopped) {
        report.removed.push_back(
            fmt::format("Stopped {} (process {})", program.executable.string(), program.pid));
    }
    for (const auto& program : result.stillRunning) {
        report.failures.push_back(fmt::format(
            "Could not stop Lumvane: process {} ({}) did not quit within {} ms", program.pid,
            program.executable.string(), environment_.stopTimeout.count()));
    }
    for (const auto& [program, reason] : result.failed) {
        report.failures.push_back(fmt::format("Could not stop Lumvane: process {} ({}): {}",
                                              program.pid, program.executable.string(), reason));
    }
}

void Uninstaller::removeBrowserManifests(UninstallReport& report) {
    TBNBrowserExtensionManager manager(environment_.browser);
    std::set<fs::path> seen;
    for (TBNBrowser browser :
         {TBNBrowser::Chrome, TBNBrowser::Chromium, TBNBrowser::Edge, TBNBrowser::Firefox,
          TBNBrowser::Opera, TBNBrowser::Brave, TBNBrowser::Vivaldi}) {
        std::string folder = manager.manifestFolder(browser);
        if (folder.empty()) continue;
        fs::path manifest = fs::path(folder) / TBNBrowserExtensionManager::kManifestFileName;
        if (!seen.insert(manifest).second) continue;
        // Only the manifest goes: the folder holds other programs' manifests too.
        std::error_code error;
        fs::file_status status = fs::symlink_status(manifest, error);
        if (error || !fs::exists(status)) continue;
        if (fs::is_directory(status)) {
            report.failures.push_back(fmt::format(
                "Could not remove the browser manifest {}: it is a folder", manifest.string()));
            continue;
        }
        if (dryRun_) {
            report.removed.push_back("Would remove " + manifest.string());
            continue;
        }
        if (!fs::remove(manifest, error) && error) {
            report.failures.push_back(fmt::format("Could not remove the browser manifest {}: {}",
                                                  manifest.string(), error.message()));
            continue;
        }
        report.removed.push_back("Removed " + manifest.string());
    }
}

void Uninstaller::removeStartAtLogin(UninstallReport& report) {
    std::error_code error;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(environment_.autostartFolder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().extension() == ".desktop") entries.push_back(it->path());
    }
    if (error && error != std::errc::no_such_file_or_directory) {
        report.failures.push_back(fmt::format("Could not remove the start-at-login entry: {}: {}",
                                              environment_.autostartFolder.string(),
                                              error.message()));
        return;
    }
    for (const auto& entry : entries) {
        std::string program = desktopEntryProgram(entry);
        if (program.empty() || fs::path(program).filename() != environment_.programName) continue;
        if (dryRun_) {
            report.removed.push_back("Would remove " + entry.string());
            continue;
        }
        std::error_code removeError;
        if (!fs::remove(entry, removeError) && removeError) {
            report.failures.push_back(
                fmt::format("Could not remove the start-at-login entry {}: {}", entry.string(),
                            removeError.message()));
            continue;
        }
        report.removed.push_back("Removed " + entry.string());
    }
}

void Uninstaller::removeCertificateTrust(UninstallReport& report) {
    TBNBrowserExtensionManager manager(environment_.browser);
    NSSTrust nss(environment_.browser.certutil);
    const std::string nickname(kLocalHostName);
    std::vector<std::string> databases = {manager.nssDatabaseFolder()};
    for (const auto& profile : manager.firefoxProfileFolders()) databases.push_back(profile);
    for (const auto& database : databases) {
        if (!NSSTrust::hasDatabase(database) || !nss.hasNickname(database, nickname)) continue;
        if (dryRun_) {
            report.removed.push_back(
                fmt::format("Would remove the local certificate {} from {}", nickname, database));
            continue;
        }
        nss.removeNickname(database, nickname);
        if (nss.hasNickname(database, nickname)) {
            report.failures.push_back(fmt::format(
                "Could not remove the trust of the local certificate from {}", database));
        } else {
            report.removed.push_back(
                fmt::format("Removed the local certificate {} from {}", nickname, database));
        }
    }
}

void Uninstaller::removeHostsRecord(UninstallReport& report) {
    const std::string& hostsFile = environment_.browser.hostsFile;
    std::string text;
    if (!readWholeFile(hostsFile, text)) {
        if (exists(hostsFile)) {
            report.failures.push_back(
                fmt::format("Could not remove the hosts line: cannot read {}", hostsFile));
        }
        return;
    }
    if (!hostsTextHasOwnRecord(text)) return;
    if (dryRun_) {
        report.removed.push_back(
            fmt::format("Would remove the line '{}' from {}", hostsRecordLine(), hostsFile));
        return;
    }

    std::vector<std::string> command;
    if (geteuid() != 0) command = environment_.browser.elevation;
    command.push_back(environment_.hostsRemovalHelperPath());
    if (hostsFile != kSystemHostsFile) {
        command.push_back("--hosts-file");
        command.push_back(hostsFile);
    }
    ChildResult result = runChildProcess(command);
    std::string after;
    if (readWholeFile(hostsFile, after) && !hostsTextHasOwnRecord(after)) {
        report.removed.push_back(
            fmt::format("Removed the line '{}' from {}", hostsRecordLine(), hostsFile));
        return;
    }
    std::string reason = !result.started
                             ? "the helper could not be started"
                             : fmt::format("the helper ended with status {}", result.exitStatus);
    if (!result.errors.empty()) {
        std::string errors = result.errors;
        while (!errors.empty() && (errors.back() == '\n' || errors.back() == '\r')) {
            errors.pop_back();
        }
        reason += ": " + errors;
    }
    report.failures.push_back(fmt::format("Could not remove the line '{}' from {}: {}",
                                          hostsRecordLine(), hostsFile, reason));
}

void Uninstaller::removeUserService(UninstallReport& report) {
    // `systemctl --user enable` links the unit into the user's unit folder and its
    // .wants/.requires folders; those links (and a copy of the unit that starts this
    // program) are this user's part of the service. Other units stay.
    const fs::path& folder = environment_.userUnitFolder;
    std::vector<fs::path> candidates = {folder / kUserUnitName};
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const bool dependencies = name.size() > 6 && (name.ends_with(".wants") ||
                                                      name.ends_with(".requires"));
        std::error_code kind;
        if (dependencies && it->is_directory(kind)) {
            candidates.push_back(it->path() / kUserUnitName);
        }
    }
    for (const auto& candidate : candidates) {
        std::error_code statusError;
        const fs::file_status status = fs::symlink_status(candidate, statusError);
        if (statusError || !fs::exists(status)) continue;
        if (!fs::is_symlink(status)) {
            // A unit the user wrote: only one that starts this program is ours.
            std::ifstream in(candidate);
            std::string line;
            bool ours = false;
            while (std::getline(in, line)) {
                if (line.rfind("ExecStart=", 0) != 0) continue;
                std::string program = line.substr(10);
                while (!program.empty() && (program[0] == '-' || program[0] == '@' ||
                                            program[0] == '"' || program[0] == ' ')) {
                    program.erase(0, 1);
                }
                program = program.substr(0, program.find_first_of(" \t\""));
                ours = fs::path(program).filename() == environment_.programName;
            }
            if (!fs::is_regular_file(status) || !ours) continue;
        }
        if (dryRun_) {
            report.removed.push_back("Would remove " + candidate.string());
            continue;
        }
        std::error_code removeError;
        if (!fs::remove(candidate, removeError) && removeError) {
            report.failures.push_back(fmt::format("Could not remove the service link {}: {}",
                                                  candidate.string(), removeError.message()));
            continue;
        }
        report.removed.push_back("Removed " + candidate.string());
    }
}

std::optional<std::string> Uninstaller::owningPackage(const fs::path& program) const {
    std::ifstream list(environment_.dpkgInfoFolder / (std::string(kPackageName) + ".list"));
    std::string line;
    while (std::getline(list, line)) {
        if (line == program.string()) return std::string(kPackageName);
    }
    return std::nullopt;
}

std::vector<fs::path> Uninstaller::installedFiles(UninstallReport& report) const {
    const fs::path folder = environment_.installFolder();
    if (folder.filename() != "bin") return {};
    const fs::path prefix = folder.parent_path();
    const fs::path listFile = prefix / kInstalledFilesList;
    std::ifstream in(listFile);
    if (!in) return {};
    std::vector<fs::path> files;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const fs::path relative = fs::path(line).lexically_normal();
        // Only paths inside the prefix: a damaged list must not reach anything else.
        if (relative.is_absolute() || relative.empty() || *relative.begin() == "..") {
            report.failures.push_back(fmt::format(
                "Could not remove Lumvane: {} names a file outside {}: {}", listFile.string(),
                prefix.string(), line));
            continue;
        }
        files.push_back(prefix / relative);
    }
    return files;
}

void Uninstaller::removeProgramFiles(UninstallReport& report) {
    const fs::path folder = environment_.installFolder();
    if (folder.empty()) return;
    const fs::path program = folder / environment_.programName;
    if (auto package = owningPackage(program)) {
        report.failures.push_back(fmt::format(
            "Could not remove Lumvane: {} belongs to the package {}; remove it with your "
            "package manager (sudo apt remove {})",
            program.string(), *package, *package));
        return;
    }
    // An install lists every file it put in place (launcher, icon, service unit, helpers):
    // exactly those go, and the folders they lie in stay, since others share them.
    std::vector<fs::path> files = installedFiles(report);
    std::vector<fs::path> trees;
    if (files.empty()) {
        files = {program, folder / kHostsHelperName, folder / kUhidHelperName};
    }
    // An installation prefix: <prefix>/bin with its data in <prefix>/share/lumvane.
    if (folder.filename() == "bin") trees.push_back(folder.parent_path() / "share" / "lumvane");
    for (const auto& file : files) {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(file, error);
        if (error || !fs::exists(status)) continue;
        if (fs::is_directory(status)) continue;  // the list names files only
        if (dryRun_) {
            report.removed.push_back("Would remove " + file.string());
            continue;
        }
        if (!fs::remove(file, error) && error) {
            report.failures.push_back(
                fmt::format("Could not remove Lumvane: {}: {}", file.string(), error.message()));
            continue;
        }
        report.removed.push_back("Removed " + file.string());
    }
    for (const auto& item : trees) {
        if (dryRun_) {
            if (lumvane::exists(item)) report.removed.push_back("Would remove " + item.string());
            continue;
        }
        std::string error;
        switch (removeTree(item, error)) {
            case Removal::Removed:
                report.removed.push_back("Removed " + item.string());
                break;
            case Removal::Missing:
                break;
            case Removal::Failed:
                report.failures.push_back("Could not remove Lumvane: " + error);
                break;
        }
    }
}

// --- Settings ---

void Uninstaller::removeSettings(bool leaveLogs, UninstallReport& report) {
    // The items first: the file store of the keychain lives in the settings folder.
    removeKeychainItems(report);
    if (leaveLogs) {
        clearSettingsFolderKeepingLogs(report);
    } else {
        removeFolder(environment_.settingsFolder, "Could not clear settings folder: ", report);
    }
    // The folder older versions kept their settings in, and its parent when that is empty.
    removeFolder(environment_.oldSettingsFolder, "Could not clear old settings folder: ", report);
    if (dryRun_) return;
    std::error_code error;
    fs::path parent = environment_.oldSettingsFolder.parent_path();
    if (fs::is_directory(fs::symlink_status(parent, error)) && fs::is_empty(parent, error)) {
        fs::remove(parent, error);
    }
}

void Uninstaller::removeKeychainItems(UninstallReport& report) {
    std::shared_ptr<KeychainStore> store = environment_.keychain;
    if (!store) store = makeSystemKeychainStore(environment_.settingsFolder);
    for (const char* item :
         {StartupSteps::kSettingsKeyItem, StartupSteps::kExtensionCredentialsItem}) {
        if (dryRun_) {
            std::vector<uint8_t> value;
            if (store->copyItem(item, value) == kKeychainSuccess) {
                report.removed.push_back(fmt::format("Would remove the keychain item {}", item));
            }
            continue;
        }
        KeychainStatus status = store->deleteItem(item);
        if (status == kKeychainSuccess) {
            report.removed.push_back(fmt::format("Removed the keychain item {}", item));
        } else if (status != kKeychainItemNotFound) {
            auto exception = TBNKeyChainManager::exceptionByStatus(status, "");
            report.failures.push_back(fmt::format(
                "Could not remove the keychain item {} from the {} keychain: {} (status {})", item,
                store->storeName(),
                exception ? std::string(exception->what()).substr(1) : "unknown error", status));
        }
    }
}

void Uninstaller::clearSettingsFolderKeepingLogs(UninstallReport& report) {
    const fs::path& folder = environment_.settingsFolder;
    std::set<std::string> kept = {environment_.logsFolder.filename().string(), ".DS_Store"};
    if (dryRun_) {
        std::error_code code;
        for (fs::directory_iterator it(folder, code), end; !code && it != end; it.increment(code)) {
            if (kept.count(it->path().filename().string())) continue;
            report.removed.push_back("Would remove " + it->path().string());
        }
        return;
    }
    std::string error;
    switch (clearFolderExcept(folder, kept, error)) {
        case Removal::Removed:
            report.removed.push_back(fmt::format("Removed {} except {}", folder.string(),
                                                 environment_.logsFolder.filename().string()));
            break;
        case Removal::Missing:
            break;
        case Removal::Failed:
            report.failures.push_back("Could not clear settings folder: " + error);
            break;
    }
}

// --- Backups ---

void Uninstaller::removeBackups(UninstallReport& report) {
    removeFolder(environment_.backupFolder, "Could not clear backup folder: ", report);
}

void Uninstaller::removeFolder(const fs::path& folder, const std::string& failurePrefix,
                               UninstallReport& report) {
    if (dryRun_) {
        if (lumvane::exists(folder)) report.removed.push_back("Would remove " + folder.string());
        return;
    }
    std::string error;
    std::error_code code;
    Removal result;
    if (fs::is_symlink(fs::symlink_status(folder, code)) && fs::is_directory(folder, code)) {
        result = clearFolderExcept(folder, {}, error);
        if (result != Removal::Failed) result = removeTree(folder, error);
    } else {
        result = removeTree(folder, error);
    }
    switch (result) {
        case Removal::Removed:
            report.removed.push_back("Removed " + folder.string());
            break;
        case Removal::Missing:
            break;
        case Removal::Failed:
            report.failures.push_back(failurePrefix + error);
            break;
    }
}

}  // namespace lumvane
