// lumvane-uninstall as a user runs it: command line, output and exit status.
#include <gtest/gtest.h>

#include "UninstallTestSupport.h"
#include "platform/keychain/FileKeychain.h"

namespace lumvane::testing {
namespace {

class UninstallProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!runChildProcess({"certutil", "-H"}).started) GTEST_SKIP() << "certutil is missing";
    }

    // The program under the fake home, with the file keychain (no Secret Service answers
    // on a bus that is not there), aimed at the fake installation only.
    ChildResult run(std::vector<std::string> arguments) {
        std::vector<std::string> argv = {LUMVANE_UNINSTALL_PROGRAM};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        argv.insert(argv.end(), {"--program-folder", install.bin().string(), "--hosts-file",
                                 install.hosts().string()});
        ChildOptions options;
        const char* path = std::getenv("PATH");
        options.environment = std::vector<std::string>{
            "HOME=" + install.home.string(), "PATH=" + std::string(path ? path : "/usr/bin:/bin"),
            "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (install.home / "no-bus").string(),
            "ASAN_OPTIONS=detect_leaks=0"};
        return runChildProcess(argv, options);
    }

    FakeInstall install;
};

TEST_F(UninstallProgramTest, RemovesEverythingAndASecondRunIsHarmless) {
    install.populate();
    pid_t running = install.startProgram();
    // Without a Secret Service the program keeps its keys in the file keychain of the
    // settings folder.
    fs::remove(install.settings() / "keychain.json");
    FileKeychain fileKeychain(install.settings());
    ASSERT_EQ(fileKeychain.addItem(StartupSteps::kSettingsKeyItem, std::vector<uint8_t>(32, 1)),
              kKeychainSuccess);

    ChildResult first = run({"--all", "--yes"});
    EXPECT_EQ(first.exitStatus, 0) << first.output << first.errors;
    EXPECT_NE(first.output.find("Lumvane was uninstalled."), std::string::npos) << first.output;
    EXPECT_NE(first.output.find("Removed the keychain item com.tobrin.lumvane.passcode"),
              std::string::npos)
        << first.output;
    EXPECT_FALSE(processAlive(running));
    for (const fs::path& gone :
         {install.settings(), install.backups(), install.program(), install.chromeManifest(),
          install.autostart() / "lumvane.desktop"}) {
        EXPECT_FALSE(present(gone)) << gone;
    }
    EXPECT_EQ(readText(install.hosts()), FakeInstall::kUserHosts);
    EXPECT_EQ(certificatesNamed(install.nssdb(), std::string(kLocalHostName)), 0u);
    EXPECT_TRUE(present(install.autostart() / "other.desktop"));

    ChildResult second = run({"--all", "--yes"});
    EXPECT_EQ(second.exitStatus, 0) << second.output << second.errors;
    EXPECT_NE(second.output.find("Lumvane was uninstalled."), std::string::npos);
}

TEST_F(UninstallProgramTest, FailureMakesTheExitStatusOneAndSaysWhy) {
    install.populate(false);
    fs::remove_all(install.settings());
    writeText(install.settings(), "not a folder");

    ChildResult result = run({"--remove-settings", "--keep-logs", "--remove-backups", "--yes"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("Could not clear settings folder: cannot list"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("was not removed completely"), std::string::npos);
    EXPECT_EQ(result.output.find("Lumvane was uninstalled."), std::string::npos);
    // The backups, the step after, still went.
    EXPECT_FALSE(present(install.backups()));
}

TEST_F(UninstallProgramTest, UnconfirmedBackupsAndWrongCommandLinesRemoveNothing) {
    install.populate(false);
    // Standard input is not a terminal and --yes is missing: the backups stay.
    ChildResult unconfirmed = run({"--remove-backups"});
    EXPECT_EQ(unconfirmed.exitStatus, 0);
    EXPECT_NE(unconfirmed.output.find("The backups stay"), std::string::npos);
    EXPECT_TRUE(present(install.backups()));

    EXPECT_EQ(run({}).exitStatus, 2);
    EXPECT_EQ(run({"--remove-everything"}).exitStatus, 2);
    EXPECT_TRUE(present(install.settings()));
    EXPECT_TRUE(present(install.program()));
}

TEST_F(UninstallProgramTest, DryRunListsEveryRemovalAndRemovesNothing) {
    install.populate();
    pid_t running = install.startProgram();
    const std::string hostsBefore = readText(install.hosts());

    ChildResult result = run({"--all", "--dry-run"});
    EXPECT_EQ(result.exitStatus, 0) << result.output << result.errors;
    for (const std::string& line :
         {"Would stop " + install.program().string(), "Would remove " + install.settings().string(),
          "Would remove " + install.backups().string(),
          "Would remove " + install.program().string(),
          "Would remove " + install.chromeManifest().string(),
          "Would remove " + (install.autostart() / "lumvane.desktop").string(),
          std::string("Would remove the line '") + hostsRecordLine() + "'",
          std::string("Would remove the local certificate ") + std::string(kLocalHostName),
          std::string("Dry run: nothing was removed.")}) {
        EXPECT_NE(result.output.find(line), std::string::npos) << line << "\n" << result.output;
    }
    EXPECT_TRUE(processAlive(running));
    for (const fs::path& kept :
         {install.settings(), install.backups(), install.program(), install.chromeManifest(),
          install.autostart() / "lumvane.desktop"}) {
        EXPECT_TRUE(present(kept)) << kept;
    }
    EXPECT_EQ(readText(install.hosts()), hostsBefore);
    EXPECT_EQ(certificatesNamed(install.nssdb(), std::string(kLocalHostName)), 1u);

    // With the logs kept, the files beside the logs are listed one by one, the logs never.
    ChildResult keepLogs = run({"--remove-settings", "--keep-logs", "--dry-run"});
    EXPECT_EQ(keepLogs.exitStatus, 0) << keepLogs.output;
    EXPECT_EQ(keepLogs.output.find("Would remove " + (install.settings() / "logs").string()),
              std::string::npos)
        << keepLogs.output;
    EXPECT_NE(keepLogs.output.find("Would remove " + install.settings().string() + "/"),
              std::string::npos)
        << keepLogs.output;
    EXPECT_TRUE(present(install.settings() / "logs"));
}

TEST_F(UninstallProgramTest, HelpSpeaksOfThisSystemAndOfStoppingRunningCopies) {
    ChildResult help = run({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.output.find(".app"), std::string::npos) << help.output;
    for (const std::string& text :
         {std::string("--dry-run"), std::string("every running lumvane of this user"),
          std::string("~/.local/share/Lumvane"), std::string("~/Documents/Lumvane"),
          std::string("native-messaging manifests"), std::string("keyring")}) {
        EXPECT_NE(help.output.find(text), std::string::npos) << text << "\n" << help.output;
    }
}

}  // namespace
}  // namespace lumvane::testing
