#pragma once
// The removal steps of lumvane-uninstall. Each step runs only when chosen, a failing step
// never stops the next one, and every failure ends up in the report; something that is
// already gone is no failure, so a second run is harmless.
//
//   (first)      stop the running program when the application or the settings go, so
//                that it cannot write them back
//   application  the program's browser manifests, its start-at-login entry, the links
//                that enable its systemd user service, the trust of its local
//                certificate in the NSS databases, its loopback line in the hosts file
//                and its program files: everything an install put in place, as its list
//                of installed files names it (the program and its helpers without one)
//   settings     the keychain items of the settings key and the extension credentials,
//                then the settings folder (all of it, or all but the logs folder) and the
//                folder older versions used
//   backups      the default backup folder
//
// In a dry run every step looks for what it would take away and reports it as
// "Would ..." lines in `removed`; nothing is signalled, deleted or changed.
#include <optional>
#include <string>
#include <vector>

#include "uninstaller/UninstallEnvironment.h"
#include "uninstaller/UninstallerOptions.h"

namespace lumvane {

struct UninstallReport {
    std::vector<std::string> removed;   // one line per item taken away
    std::vector<std::string> failures;  // one line per failure, with the reason

    bool succeeded() const { return failures.empty(); }
};

class Uninstaller {
  public:
    explicit Uninstaller(UninstallEnvironment environment);

    UninstallReport performUninstall(const UninstallChoices& choices);

    void setDryRun(bool dryRun) { dryRun_ = dryRun; }
    bool dryRun() const { return dryRun_; }

    void removeApplication(UninstallReport& report);
    void stopRunningProgram(UninstallReport& report);
    void removeBrowserManifests(UninstallReport& report);
    void removeStartAtLogin(UninstallReport& report);
    void removeUserService(UninstallReport& report);
    void removeCertificateTrust(UninstallReport& report);
    void removeHostsRecord(UninstallReport& report);
    void removeProgramFiles(UninstallReport& report);

    void removeSettings(bool leaveLogs, UninstallReport& report);
    void removeKeychainItems(UninstallReport& report);
    void clearSettingsFolderKeepingLogs(UninstallReport& report);

    void removeBackups(UninstallReport& report);

    const UninstallEnvironment& environment() const { return environment_; }

  private:
    // Removes the folder with everything in it; a link to a folder is emptied and then
    // removed, so the data behind it goes too.
    void removeFolder(const std::filesystem::path& folder, const std::string& failurePrefix,
                      UninstallReport& report);

    // The files an install put in place, from its list; empty when there is no list.
    std::vector<std::filesystem::path> installedFiles(UninstallReport& report) const;
    // The Debian package the program belongs to, when dpkg lists it.
    std::optional<std::string> owningPackage(const std::filesystem::path& program) const;

    UninstallEnvironment environment_;
    bool dryRun_ = false;
};

}  // namespace lumvane
