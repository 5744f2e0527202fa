#include "uninstaller/UninstallerOptions.h"

namespace lumvane {

std::string UninstallerOptions::labelText(const std::string& text, const std::string& path) {
    return text + ":\n'" + path + "'";
}

UninstallerOptions::Labels UninstallerOptions::optionLabels(
    const UninstallEnvironment& environment) {
    const auto& home = environment.home;
    Labels labels;
    labels.removeApp = labelText(kRemoveAppText, pathWithTilde(environment.installFolder(), home));
    labels.removePreferences =
        labelText(kRemovePreferencesText, pathWithTilde(environment.settingsFolder, home));
    labels.keepLogs = labelText(kKeepLogsText, pathWithTilde(environment.logsFolder, home));
    labels.removeBackups =
        labelText(kRemoveBackupsText, pathWithTilde(environment.backupFolder, home));
    return labels;
}

void UninstallerOptions::setRemoveApp(bool on) {
    removeApp_ = on;
    updateControlStates();
}

void UninstallerOptions::setRemovePreferences(bool on) {
    removePreferences_ = on;
    updateControlStates();
}

void UninstallerOptions::setRemoveBackups(bool on, bool confirmed) {
    removeBackups_ = on && confirmed;
    updateControlStates();
}

void UninstallerOptions::updateControlStates() {
    uninstallEnabled_ = removeApp_ || removePreferences_ || removeBackups_;
    leaveLogsEnabled_ = removePreferences_;
}

UninstallChoices UninstallerOptions::choices() const {
    UninstallChoices choices;
    choices.removeApp = removeApp_;
    choices.removeSettings = removePreferences_;
    choices.leaveLogs = removePreferences_ && leaveLogs_;
    choices.removeBackups = removeBackups_;
    return choices;
}

}  // namespace lumvane
