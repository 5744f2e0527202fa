// The choices of the uninstaller: what can be pressed, what a disabled choice means, and
// the labels.
#include <gtest/gtest.h>

#include "uninstaller/UninstallerOptions.h"

namespace lumvane {
namespace {

TEST(UninstallerOptionsTest, UninstallNeedsOneRemovalAndLeaveLogsFollowsTheSettingsSwitch) {
    struct Case {
        bool app, settings, backups;
        bool uninstallEnabled, leaveLogsEnabled;
    };
    for (const Case& c :
         {Case{false, false, false, false, false}, Case{true, false, false, true, false},
          Case{false, true, false, true, true}, Case{false, false, true, true, false},
          Case{true, true, true, true, true}}) {
        SCOPED_TRACE(::testing::Message() << c.app << c.settings << c.backups);
        UninstallerOptions options;
        options.setRemoveApp(c.app);
        options.setRemovePreferences(c.settings);
        options.setRemoveBackups(c.backups, true);
        EXPECT_EQ(options.uninstallEnabled(), c.uninstallEnabled);
        EXPECT_EQ(options.leaveLogsEnabled(), c.leaveLogsEnabled);
        EXPECT_EQ(options.choices().any(), c.uninstallEnabled);
    }
}

TEST(UninstallerOptionsTest, LeaveLogsKeepsItsValueWhileDisabledAndCountsOnlyWithSettings) {
    UninstallerOptions options;
    options.setRemoveApp(true);
    options.setLeaveLogs(true);
    EXPECT_FALSE(options.leaveLogsEnabled());
    EXPECT_TRUE(options.leaveLogs());
    EXPECT_FALSE(options.choices().leaveLogs);

    options.setRemovePreferences(true);
    EXPECT_TRUE(options.leaveLogsEnabled());
    EXPECT_TRUE(options.choices().leaveLogs);
    EXPECT_TRUE(options.choices().removeSettings);
}

TEST(UninstallerOptionsTest, BackupsStayChosenOnlyAfterYes) {
    UninstallerOptions options;
    options.setRemoveBackups(true, false);  // "No"
    EXPECT_FALSE(options.removeBackups());
    EXPECT_FALSE(options.uninstallEnabled());

    options.setRemoveBackups(true, true);  // "Yes"
    EXPECT_TRUE(options.removeBackups());
    EXPECT_TRUE(options.uninstallEnabled());

    // Turning it off asks too; either answer leaves it off.
    for (bool answer : {true, false}) {
        options.setRemoveBackups(true, true);
        options.setRemoveBackups(false, answer);
        EXPECT_FALSE(options.removeBackups());
        EXPECT_FALSE(options.choices().removeBackups);
    }
}

TEST(UninstallerOptionsTest, LabelsShowTheFoldersWithTheHomeAsTilde) {
    UninstallEnvironment environment;
    environment.home = "/home/ann";
    environment.settingsFolder = "/home/ann/.local/share/Lumvane";
    environment.logsFolder = "/home/ann/.local/share/Lumvane/logs";
    environment.backupFolder = "/data/ann/Documents/Lumvane";
    environment.programFolder = "/home/ann/.local/bin";
    auto labels = UninstallerOptions::optionLabels(environment);
    EXPECT_EQ(labels.removeApp, "remove Lumvane.app from:\n'~/.local/bin'");
    EXPECT_EQ(labels.removePreferences,
              "remove application preferences directory:\n'~/.local/share/Lumvane'");
    EXPECT_EQ(labels.keepLogs, "leave application logs in:\n'~/.local/share/Lumvane/logs'");
    // Outside the home folder the path is shown as it is.
    EXPECT_EQ(labels.removeBackups, "remove backup directory:\n'/data/ann/Documents/Lumvane'");

    EXPECT_EQ(pathWithTilde("/home/annex/x", "/home/ann"), "/home/annex/x");
    EXPECT_EQ(pathWithTilde("/home/ann", "/home/ann/"), "~");
}

}  // namespace
}  // namespace lumvane
