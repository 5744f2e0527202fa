// The removal steps on a fake installation in a temporary home.
#include <algorithm>

#include <gtest/gtest.h>

#include "UninstallTestSupport.h"
#include "uninstaller/Uninstaller.h"

namespace lumvane::testing {
namespace {

bool mentions(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& line : lines) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

class UninstallerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!runChildProcess({"certutil", "-H"}).started) GTEST_SKIP() << "certutil is missing";
    }
    UninstallChoices all(bool leaveLogs = false) {
        return UninstallChoices{true, true, leaveLogs, true};
    }
    FakeInstall install;
};

TEST_F(UninstallerTest, EverythingTheProgramMadeGoesAndTheUsersThingsStay) {
    install.populate();
    pid_t running = install.startProgram();
    // The same program installed elsewhere is another installation: it keeps running.
    pid_t elsewhere = startFakeProgram(install.home / "elsewhere/lumvane");
    install.processes.push_back(elsewhere);

    Uninstaller uninstaller(install.environment());
    UninstallReport report = uninstaller.performUninstall(all());
    EXPECT_TRUE(report.succeeded()) << joined(report.failures);

    EXPECT_FALSE(processAlive(running));
    EXPECT_TRUE(processAlive(elsewhere));
    for (const fs::path& gone :
         {install.settings(), install.oldSettings(), install.home / ".local/share/Tobrin",
          install.backups(), install.program(), install.bin() / "lumvane-hosts-helper",
          install.home / "opt/share/lumvane", install.chromeManifest(), install.firefoxManifest(),
          install.braveManifest(), install.autostart() / "lumvane.desktop"}) {
        EXPECT_FALSE(present(gone)) << gone;
    }
    for (const fs::path& kept :
         {install.bin() / "other-tool", install.home / "opt/share/other/data",
          install.home / ".config/google-chrome/NativeMessagingHosts/org.other.host.json",
          install.autostart() / "other.desktop", install.home / "Documents",
          install.home / ".local/share"}) {
        EXPECT_TRUE(present(kept)) << kept;
    }
    EXPECT_EQ(readText(install.hosts()), FakeInstall::kUserHosts);
    EXPECT_EQ(certificatesNamed(install.nssdb(), std::string(kLocalHostName)), 0u);
    EXPECT_EQ(certificatesNamed(install.firefoxProfile(), std::string(kLocalHostName)), 0u);
    EXPECT_EQ(certificatesNamed(install.nssdb(), "Other CA"), 1u);
    std::vector<uint8_t> value;
    EXPECT_EQ(install.keychain->copyItem(StartupSteps::kSettingsKeyItem, value),
              kKeychainItemNotFound);
    EXPECT_EQ(install.keychain->copyItem(StartupSteps::kExtensionCredentialsItem, value),
              kKeychainItemNotFound);
    EXPECT_EQ(install.keychain->copyItem("org.example.other", value), kKeychainSuccess);

    // A second run finds nothing left and says so without failing.
    UninstallReport again = uninstaller.performUninstall(all());
    EXPECT_TRUE(again.succeeded()) << joined(again.failures);
    EXPECT_TRUE(again.removed.empty()) << joined(again.removed);
    EXPECT_TRUE(processAlive(elsewhere));
}

TEST_F(UninstallerTest, KeepingLogsEmptiesTheSettingsFolderButForItsLogs) {
    install.populate(false);
    writeText(install.settings() / ".DS_Store", "finder");
    pid_t running = install.startProgram();
    Uninstaller uninstaller(install.environment());
    UninstallReport report = uninstaller.performUninstall({false, true, true, false});
    EXPECT_TRUE(report.succeeded()) << joined(report.failures);
    // A running program would write its settings back: it is stopped first.
    EXPECT_FALSE(processAlive(running));

    EXPECT_EQ(readText(install.settings() / "logs/Lumvane 1.0.0.0 2026-12-11.tbnlog"),
              "log line\n");
    EXPECT_EQ(readText(install.settings() / "logs/extensions/chrome-lumvane.log"), "ext line\n");
    EXPECT_TRUE(present(install.settings() / ".DS_Store"));
    // The settings file, the file keychain and the TLS identity with its private key go.
    EXPECT_FALSE(present(install.settings() / "settings.tbnlmveprf"));
    EXPECT_FALSE(present(install.settings() / "keychain.json"));
    EXPECT_FALSE(present(install.settings() / "tls"));
    EXPECT_FALSE(present(install.oldSettings()));
    // Only the settings were chosen.
    EXPECT_TRUE(present(install.backups()));
    EXPECT_TRUE(present(install.program()));
    EXPECT_TRUE(present(install.chromeManifest()));
    EXPECT_TRUE(hostsTextHasRecord(readText(install.hosts())));
}

TEST_F(UninstallerTest, EachChoiceTouchesOnlyWhatItNames) {
    struct Case {
        const char* name;
        UninstallChoices choices;
        bool appGone, settingsGone, backupsGone;
    };
    for (const Case& c :
         {Case{"app", {true, false, false, false}, true, false, false},
          Case{"settings", {false, true, false, false}, false, true, false},
          Case{"backups", {false, false, false, true}, false, false, true},
          Case{"logs switch alone", {false, false, true, false}, false, false, false}}) {
        SCOPED_TRACE(c.name);
        FakeInstall fresh;
        fresh.populate(false);
        Uninstaller uninstaller(fresh.environment());
        UninstallReport report = uninstaller.performUninstall(c.choices);
        EXPECT_TRUE(report.succeeded()) << joined(report.failures);
        EXPECT_EQ(present(fresh.program()), !c.appGone);
        EXPECT_EQ(present(fresh.chromeManifest()), !c.appGone);
        EXPECT_EQ(hostsTextHasRecord(readText(fresh.hosts())), !c.appGone);
        EXPECT_EQ(present(fresh.settings()), !c.settingsGone);
        std::vector<uint8_t> value;
        EXPECT_EQ(
            fresh.keychain->copyItem(StartupSteps::kSettingsKeyItem, value) == kKeychainSuccess,
            !c.settingsGone);
        EXPECT_EQ(present(fresh.backups()), !c.backupsGone);
    }
}

TEST_F(UninstallerTest, SymlinkedFoldersTakeTheirContentAlongButNothingBeyondTheLinks) {
    // The backups live on another disk behind a link; the settings hold a link to a
    // folder of the user.
    writeText(install.home / "disk/backups/backup_1.lmbk", "backup");
    fs::create_directories(install.backups().parent_path());
    fs::create_directory_symlink(install.home / "disk/backups", install.backups());
    writeText(install.home / "mine/notes.txt", "mine");
    fs::create_directories(install.settings());
    fs::create_directory_symlink(install.home / "mine", install.settings() / "linked");

    Uninstaller uninstaller(install.environment());
    UninstallReport report = uninstaller.performUninstall({false, true, false, true});
    EXPECT_TRUE(report.succeeded()) << joined(report.failures);
    EXPECT_FALSE(present(install.backups()));
    EXPECT_FALSE(present(install.home / "disk/backups/backup_1.lmbk"));
    EXPECT_FALSE(present(install.settings()));
    EXPECT_EQ(readText(install.home / "mine/notes.txt"), "mine");
}

TEST_F(UninstallerTest, FailuresAreReportedAndTheOtherStepsStillRun) {
    struct Case {
        const char* name;
        std::function<void(FakeInstall&, UninstallEnvironment&)> arrange;
        UninstallChoices choices;
        std::string expected;
    };
    std::vector<Case> cases = {
        {"program ignores the request to quit",
         [](FakeInstall& f, UninstallEnvironment& e) {
             f.startProgram(true);
             e.stopTimeout = std::chrono::milliseconds(300);
         },
         {true, false, false, false},
         "Could not stop Lumvane: process"},
        {"hosts helper fails",
         [](FakeInstall&, UninstallEnvironment& e) { e.hostsRemovalHelper = "/bin/false"; },
         {true, false, false, false},
         "Could not remove the line '127.0.0.1 local.lumvane.io'"},
        {"hosts helper missing",
         [](FakeInstall& f, UninstallEnvironment& e) {
             e.hostsRemovalHelper = (f.home / "no-such-helper").string();
         },
         {true, false, false, false},
         "the helper could not be started"},
        {"keychain refuses",
         [](FakeInstall& f, UninstallEnvironment&) {
             f.keychain->failNextWith(FakeKeychain::Operation::remove, kKeychainIOError);
         },
         {false, true, false, false},
         "Could not remove the keychain item com.tobrin.lumvane.passcode"},
        {"settings folder cannot be listed",
         [](FakeInstall& f, UninstallEnvironment&) {
             fs::remove_all(f.settings());
             writeText(f.settings(), "not a folder");
         },
         {false, true, true, false},
         "Could not clear settings folder: cannot list"},
        {"manifest path is a folder",
         [](FakeInstall& f, UninstallEnvironment&) {
             fs::remove(f.firefoxManifest());
             fs::create_directories(f.firefoxManifest());
         },
         {true, false, false, false},
         "Could not remove the browser manifest"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeInstall fresh;
        fresh.populate(false);
        UninstallEnvironment environment = fresh.environment();
        c.arrange(fresh, environment);
        Uninstaller uninstaller(environment);
        UninstallReport report = uninstaller.performUninstall(c.choices);
        EXPECT_FALSE(report.succeeded());
        EXPECT_TRUE(mentions(report.failures, c.expected)) << joined(report.failures);
        // The steps after the failing one still ran.
        if (c.choices.removeApp) {
            EXPECT_FALSE(present(fresh.chromeManifest()));
            EXPECT_FALSE(present(fresh.program()));
        }
        if (c.choices.removeSettings) EXPECT_FALSE(present(fresh.oldSettings()));
    }
}

// What `cmake --install` puts in place, with the list it writes of it, beside files of
// other programs in the same folders.
TEST_F(UninstallerTest, AnInstallsListedFilesGoAndTheirFoldersAndNeighboursStay) {
    install.populate(false);
    const fs::path prefix = install.bin().parent_path();
    const std::vector<std::string> listed = {
        "share/lumvane/installed-files",
        "share/lumvane/uniq_dict_8_n.dic",
        "bin/lumvane-hosts-helper",
        "bin/lumvane-uhid-helper",
        "bin/lumvane",
        "bin/lumvane-uninstall",
        "bin/lumvane-uninstall-hosts-helper",
        "share/icons/hicolor/scalable/apps/io.lumvane.Lumvane.svg",
        "share/applications/io.lumvane.Lumvane.desktop",
        "share/systemd/user/lumvane.service"};
    std::string list;
    for (const auto& file : listed) {
        list += file + "\n";
        if (file != "bin/lumvane") writeText(prefix / file, "installed");
    }
    writeText(prefix / "share/lumvane/installed-files", list);
    writeText(prefix / "share/applications/other.desktop", "[Desktop Entry]\n");
    writeText(prefix / "share/icons/hicolor/scalable/apps/other.svg", "<svg/>");
    writeText(prefix / "share/systemd/user/other.service", "[Service]\n");

    Uninstaller uninstaller(install.environment());
    UninstallReport report = uninstaller.performUninstall({true, false, false, false});
    EXPECT_TRUE(report.succeeded()) << joined(report.failures);
    for (const auto& file : listed) EXPECT_FALSE(present(prefix / file)) << file;
    EXPECT_FALSE(present(prefix / "share/lumvane"));
    for (const char* kept :
         {"bin/other-tool", "share/other/data", "share/applications/other.desktop",
          "share/icons/hicolor/scalable/apps/other.svg", "share/systemd/user/other.service"}) {
        EXPECT_TRUE(present(prefix / kept)) << kept;
    }
    EXPECT_TRUE(fs::is_directory(prefix / "share/applications"));
    EXPECT_TRUE(fs::is_directory(prefix / "bin"));
}

TEST_F(UninstallerTest, AListNamingPlacesOutsideThePrefixReachesNothingThere) {
    install.populate(false);
    const fs::path prefix = install.bin().parent_path();
    writeText(install.home / "precious.txt", "mine");
    writeText(prefix / "share/lumvane/installed-files",
              "bin/lumvane\n../precious.txt\nshare/../../precious.txt\n" +
                  (install.home / "precious.txt").string() + "\n");
    Uninstaller uninstaller(install.environment());
    UninstallReport report = uninstaller.performUninstall({true, false, false, false});
    EXPECT_EQ(readText(install.home / "precious.txt"), "mine");
    EXPECT_FALSE(present(install.program()));
    EXPECT_EQ(std::count_if(report.failures.begin(), report.failures.end(),
                            [](const std::string& line) {
                                return line.find("names a file outside") != std::string::npos;
                            }),
              3)
        << joined(report.failures);
}

// `systemctl --user enable` links the unit into the user's unit folder; those links go,
// other units and a unit of the user's own that starts something else stay.
TEST_F(UninstallerTest, TheLinksThatEnableTheServiceGoAndOtherUnitsStay) {
    install.populate(false);
    const fs::path units = install.home / ".config/systemd/user";
    const fs::path installed = install.bin().parent_path() / "share/systemd/user/lumvane.service";
    writeText(installed, "[Service]\nExecStart=\"" + install.program().string() + "\" --headless\n");
    writeText(units / "other.service", "[Service]\nExecStart=/usr/bin/other\n");
    fs::create_directories(units / "default.target.wants");
    fs::create_directories(units / "graphical-session.target.wants");
    fs::create_symlink(installed, units / "lumvane.service");
    fs::create_symlink(units / "lumvane.service", units / "default.target.wants/lumvane.service");
    fs::create_symlink(installed, units / "graphical-session.target.wants/lumvane.service");
    fs::create_symlink(units / "other.service", units / "default.target.wants/other.service");

    Uninstaller uninstaller(install.environment());
    UninstallReport report = uninstaller.performUninstall({true, false, false, false});
    EXPECT_TRUE(report.succeeded()) << joined(report.failures);
    for (const char* gone : {"lumvane.service", "default.target.wants/lumvane.service",
                             "graphical-session.target.wants/lumvane.service"}) {
        EXPECT_FALSE(present(units / gone)) << gone;
    }
    EXPECT_TRUE(present(units / "other.service"));
    EXPECT_TRUE(present(units / "default.target.wants/other.service"));

    // A unit file of the user's own under the same name: only one that starts this
    // program is taken away.
    struct Case {
        std::string execStart;
        bool removed;
    };
    for (const Case& c : {Case{"ExecStart=" + install.program().string() + " --headless", true},
                          Case{"ExecStart=-\"" + install.program().string() + "\"", true},
                          Case{"ExecStart=/usr/local/bin/my-lumvane-wrapper", false}}) {
        SCOPED_TRACE(c.execStart);
        writeText(units / "lumvane.service", "[Service]\n" + c.execStart + "\n");
        Uninstaller again(install.environment());
        UninstallReport second = again.performUninstall({true, false, false, false});
        EXPECT_TRUE(second.succeeded()) << joined(second.failures);
        EXPECT_EQ(present(units / "lumvane.service"), !c.removed);
    }
}

TEST_F(UninstallerTest, AProgramOfTheDebianPackageIsLeftToThePackageManager) {
    install.populate(false);
    writeText(install.home / "var/lib/dpkg/info/lumvane.list",
              "/.\n/usr\n" + install.program().string() + "\n");
    Uninstaller uninstaller(install.environment());
    UninstallReport report = uninstaller.performUninstall({true, false, false, false});
    EXPECT_TRUE(mentions(report.failures, "belongs to the package lumvane")) << joined(report.failures);
    EXPECT_TRUE(mentions(report.failures, "sudo apt remove lumvane"));
    EXPECT_TRUE(present(install.program()));
    EXPECT_TRUE(present(install.bin() / "lumvane-hosts-helper"));
    // This user's traces went all the same.
    EXPECT_FALSE(present(install.chromeManifest()));
    EXPECT_FALSE(present(install.autostart() / "lumvane.desktop"));
}

}  // namespace
}  // namespace lumvane::testing
