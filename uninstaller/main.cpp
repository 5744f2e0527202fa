// lumvane-uninstall: stops Lumvane and removes what it put on this computer, as chosen on
// the command line. Every failure is printed with its reason and makes the exit status 1.
#include <unistd.h>

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

void indentedLabel(const std::string& option, const std::string& label) {
    std::string text = label;
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        text.insert(at + 1, "                        ");
    }
    std::printf("  %-20s  %s\n", option.c_str(), text.c_str());
}

void printUsage(const lumvane::UninstallEnvironment& environment) {
    auto labels = UninstallerOptions::optionLabels(environment);
    std::printf(
        "Usage: lumvane-uninstall [OPTION]...\n"
        "Stops Lumvane and removes what it put on this computer.\n\n");
    indentedLabel("--remove-app", labels.removeApp);
    std::printf(
        "%24s(also its browser manifests, start-at-login entry, the trust of its\n"
        "%24slocal certificate and its line in the hosts file)\n",
        "", "");
    indentedLabel("--remove-settings", labels.removePreferences);
    std::printf("%24s(also its keychain items)\n", "");
    indentedLabel("--keep-logs", labels.keepLogs);
    std::printf("%24s(only with --remove-settings)\n", "");
    indentedLabel("--remove-backups", labels.removeBackups);
    std::printf(
        "  --all                 the three removals\n"
        "  --yes                 confirm the removal of the backups without asking\n"
        "  --program-folder DIR  the folder Lumvane is installed in; only instances started\n"
        "                        from there are stopped (default: the folder of this\n"
        "                        program, and every running lumvane of this user is stopped)\n"
        "  --hosts-file PATH     the hosts file to take the line out of (for tests)\n"
        "  -h, --help            show this text\n\n"
        "Without options on a desktop, a window offers the same choices.\n"
        "Exit status: 0 when everything chosen was removed, 1 when something could not\n"
        "be removed, 2 for a wrong command line.\n");
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
    lumvane::UninstallReport report = uninstaller.performUninstall(options.choices());
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
