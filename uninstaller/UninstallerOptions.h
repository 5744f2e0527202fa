#pragma once
// The uninstaller's four choices and the rules between them: what can be pressed, what a
// disabled choice means, the labels that show where each removal happens, and the
// confirmation that removing backups needs.
#include <string>

#include "uninstaller/UninstallEnvironment.h"

namespace lumvane {

// What one run removes. leaveLogs only counts together with removeSettings.
struct UninstallChoices {
    bool removeApp = false;
    bool removeSettings = false;
    bool leaveLogs = false;
    bool removeBackups = false;

    bool any() const { return removeApp || removeSettings || removeBackups; }
};

class UninstallerOptions {
  public:
    static constexpr const char* kRemoveAppText = "remove Lumvane.app from";
    static constexpr const char* kRemovePreferencesText =
        "remove application preferences directory";
    static constexpr const char* kKeepLogsText = "leave application logs in";
    static constexpr const char* kRemoveBackupsText = "remove backup directory";
    static constexpr const char* kConfirmBackupsText =
        "Are you sure you want to delete your backups?";

    struct Labels {
        std::string removeApp;
        std::string removePreferences;
        std::string keepLogs;
        std::string removeBackups;
    };
    // Each label is the text, ":", a line break, and the path in single quotes, shown with
    // "~" for the home folder.
    static Labels optionLabels(const UninstallEnvironment& environment);
    static std::string labelText(const std::string& text, const std::string& path);

    // Switch values as the user set them.
    bool removeApp() const { return removeApp_; }
    bool removePreferences() const { return removePreferences_; }
    bool leaveLogs() const { return leaveLogs_; }
    bool removeBackups() const { return removeBackups_; }

    void setRemoveApp(bool on);
    void setRemovePreferences(bool on);
    // The leave-logs switch keeps its value while disabled.
    void setLeaveLogs(bool on) { leaveLogs_ = on; }
    // Any change of the backups switch asks for confirmation: only "Yes" to the question
    // leaves it as set; any other answer turns it off.
    void setRemoveBackups(bool on, bool confirmed);

    // Uninstall can be pressed when at least one removal is chosen; leave-logs only
    // matters (and is enabled) when the settings are removed.
    bool uninstallEnabled() const { return uninstallEnabled_; }
    bool leaveLogsEnabled() const { return leaveLogsEnabled_; }

    // What pressing Uninstall removes.
    UninstallChoices choices() const;

  private:
    void updateControlStates();

    bool removeApp_ = false;
    bool removePreferences_ = false;
    bool leaveLogs_ = false;
    bool removeBackups_ = false;
    bool uninstallEnabled_ = false;
    bool leaveLogsEnabled_ = false;
};

}  // namespace lumvane
