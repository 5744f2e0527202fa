// lumvane-uninstall: stops Lumvane and removes what it put on this computer, as chosen on
// the command line. Every failure is printed with its reason and makes the exit status 1.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "uninstaller/Uninstaller.h"
#include "uninstaller/UninstallerOptions.h"

#ifdef LUMVANE_UNINSTALL_WINDOW
#include <QApplication>

#include "uninstaller/ViewController.h"
#endif

namespace {

using lumvane::UninstallerOptions;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void printUsage(const lumvane::UninstallEnvironment& environment) {
    using lumvane::pathWithTilde;
    const auto& home = environment.home;
    const std::string program = pathWithTilde(environment.installFolder(), home);
    const std::string settings = pathWithTilde(environment.settingsFolder, home);
    std::printf(
        "Usage: lumvane-uninstall [OPTION]...\n"
        "Stops Lumvane and removes what it put on this computer.\n\n"
        "  --remove-app          the program: what its install put in place (lumvane,\n"
        "                        its helpers and this program in %s, the desktop\n"
        "                        launcher and icon, the systemd user unit, as the\n"
        "                        install's list share/lumvane/installed-files names them),\n"
        "                        the browsers' native-messaging manifests, the start-at-\n"
        "                        login entry in %s, the links that enable the\n"
        "                        service in %s, the trust of the local\n"
        "                        certificate in the NSS databases (Chromium family,\n"
        "                        Firefox profiles) and its line in %s\n"
        "  --remove-settings     the settings folder %s (settings, logs,\n"
        "                        local certificate), the folder of older versions\n"
        "                        %s, and the two keys in the keyring\n"
        "                        (Secret Service) or the key file of the settings folder\n"
        "  --keep-logs           with --remove-settings: leave %s\n"
        "  --remove-backups      the backup folder %s\n"
        "  --all                 the three removals\n"
        "  --yes                 confirm the removal of the backups without asking\n"
        "  --dry-run             print what would be removed and remove nothing\n"
        "  --program-folder DIR  the folder Lumvane is installed in (default: the folder of\n"
        "                        this program); only copies started from there are stopped\n"
        "  --hosts-file PATH     the hosts file to take the line out of (for tests)\n"
        "  -h, --help            show this text\n\n"
        "Before the program or its settings are removed, every running lumvane of this user\n"
        "is stopped (asked to quit, waited for up to %lld s), so that it cannot write them\n"
        "back; with --program-folder only the copies started from that folder are.\n"
        "Without options on a desktop, a window offers the same choices.\n"
        "Exit status: 0 when everything chosen was removed, 1 when something could not\n"
        "be removed, 2 for a wrong command line.\n",
        program.c_str(), pathWithTilde(environment.autostartFolder, home).c_str(),
        pathWithTilde(environment.userUnitFolder, home).c_str(),
        environment.browser.hostsFile.c_str(), settings.c_str(),
        pathWithTilde(environment.oldSettingsFolder, home).c_str(),
        pathWithTilde(environment.logsFolder, home).c_str(),
        pathWithTilde(environment.backupFolder, home).c_str(),
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::seconds>(environment.stopTimeout).count()));
}

bool askConfirmation(const char* question) {
    std::printf("%s [yes/no] ", question);
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

}  // namespace

int main(int argc, char** argv) {
    lumvane::UninstallEnvironment environment = lumvane::UninstallEnvironment::fromProcess();
#ifdef LUMVANE_UNINSTALL_WINDOW
    // Without options, on a desktop: the window.
    if (argc == 1 && (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"))) {
        QApplication application(argc, argv);
        lumvane::ViewController controller(environment);
        controller.show();
        return application.exec();
    }
#endif
    bool removeApp = false, removeSettings = false, keepLogs = false, removeBackups = false;
    bool confirmed = false;
    bool dryRun = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr, "lumvane-uninstall: %s needs a value\n", argument.c_str());
                return false;
            }
            out = argv[++i];
            return true;
        };
        if (argument == "--remove-app") {
            removeApp = true;
        } else if (argument == "--remove-settings") {
            removeSettings = true;
        } else if (argument == "--keep-logs") {
            keepLogs = true;
        } else if (argument == "--remove-backups") {
            removeBackups = true;
        } else if (argument == "--all") {
            removeApp = removeSettings = removeBackups = true;
        } else if (argument == "--dry-run") {
            dryRun = true;
        } else if (argument == "--yes") {
            confirmed = true;
        } else if (argument == "--program-folder") {
            std::string folder;
            if (!value(folder)) return kExitUsage;
            environment.programFolder = folder;
        } else if (argument == "--hosts-file") {
            if (!value(environment.browser.hostsFile)) return kExitUsage;
        } else if (argument == "-h" || argument == "--help") {
            printUsage(environment);
            return 0;
        } else {
            std::fprintf(stderr,
                         "lumvane-uninstall: unknown option '%s' (--help lists the options)\n",
                         argument.c_str());
            return kExitUsage;
        }
    }
    if (!removeApp && !removeSettings && !removeBackups) {
        std::fprintf(stderr, "lumvane-uninstall: nothing chosen to remove\n\n");
        printUsage(environment);
        return kExitUsage;
    }

    UninstallerOptions options;
    options.setRemoveApp(removeApp);
    options.setRemovePreferences(removeSettings);
    options.setLeaveLogs(keepLogs);
    if (removeBackups) {
        // A dry run removes nothing, so there is nothing to confirm.
        if (dryRun) confirmed = true;
        if (!confirmed && isatty(STDIN_FILENO)) {
            confirmed = askConfirmation(UninstallerOptions::kConfirmBackupsText);
        }
        options.setRemoveBackups(true, confirmed);
        if (!confirmed) {
            std::printf("The backups stay: their removal was not confirmed (--yes confirms it).\n");
        }
    }
    if (!options.uninstallEnabled()) {
        std::printf("Nothing was removed.\n");
        return 0;
    }

    lumvane::Uninstaller uninstaller(environment);
    uninstaller.setDryRun(dryRun);
    lumvane::UninstallReport report = uninstaller.performUninstall(options.choices());
    if (dryRun) {
        for (const auto& line : report.removed) std::printf("%s\n", line.c_str());
        for (const auto& line : report.failures) std::printf("%s\n", line.c_str());
        std::printf(report.removed.empty() ? "Nothing of Lumvane was found to remove.\n"
                                           : "Dry run: nothing was removed.\n");
        return report.succeeded() ? 0 : kExitFailure;
    }
    for (const auto& line : report.removed) std::printf("%s\n", line.c_str());
    for (const auto& line : report.failures) std::printf("%s\n", line.c_str());
    if (!report.succeeded()) {
        std::printf("Lumvane was not removed completely: %zu failure(s), listed above.\n",
                    report.failures.size());
        return kExitFailure;
    }
    std::printf("Lumvane was uninstalled.\n");
    return 0;
}
