// The loopback line of the local host name: the check and the privileged helper.
#include <gtest/gtest.h>

#include <filesystem>

#include "BrowserTestSupport.h"
#include "extension/browser/ChildProcess.h"
#include "extension/browser/HostsRecord.h"
#include "extension/browser/TBNBrowserExtensionManager.h"

namespace fs = std::filesystem;
using lumvane::hostsTextHasRecord;
using lumvane::runChildProcess;
using lumvane::testing::readText;
using lumvane::testing::TempRoot;
using lumvane::testing::writeText;

namespace {

TEST(HostsRecordTest, LineMatchesOnlyTheExactMappingOfTheName) {
    struct Case {
        const char* text;
        bool present;
    };
    const Case cases[] = {
        {"127.0.0.1 local.lumvane.io\n", true},
        {"127.0.0.1 localhost\n127.0.0.1 local.lumvane.io", true},  // no final line feed
        {"  127.0.0.1 local.lumvane.io # added by Lumvane\n", true},
        {"127.0.0.1 local.lumvane.io other.alias\n", true},
        {"127.0.0.1 local.lumvane.io\r\n", true},
        {"127.0.0.1\tlocal.lumvane.io\n", false},
        {"127.0.0.1  local.lumvane.io\n", false},
        {"#127.0.0.1 local.lumvane.io\n", false},
        {"# 127.0.0.1 local.lumvane.io\n", false},
        {"127.0.0.1 local.lumvane.io.example\n", false},
        {"127.0.0.10 local.lumvane.io\n", false},
        {"10.0.0.1 local.lumvane.io 127.0.0.1 local.lumvane.io\n", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(hostsTextHasRecord(c.text), c.present) << c.text;
}

class HostsHelperTest : public ::testing::Test {
  protected:
    int runHelper(const std::vector<std::string>& arguments,
                  std::optional<std::vector<std::string>> environment = std::nullopt) {
        std::vector<std::string> argv = {LUMVANE_HOSTS_HELPER};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        lumvane::ChildOptions options;
        options.environment = std::move(environment);
        return runChildProcess(argv, options).exitStatus;
    }
    TempRoot root;
    std::string hosts = root / "hosts";
};

TEST_F(HostsHelperTest, AppendsTheLineOnceKeepingEveryOtherLine) {
    writeText(hosts, "127.0.0.1 localhost\n::1 localhost ip6-localhost");  // no final line feed
    EXPECT_EQ(runHelper({"--hosts-file", hosts}), 0);
    const std::string expected =
        "127.0.0.1 localhost\n::1 localhost ip6-localhost\n127.0.0.1 local.lumvane.io\n";
    EXPECT_EQ(readText(hosts), expected);
    EXPECT_EQ(runHelper({"--hosts-file", hosts}), 0);
    EXPECT_EQ(readText(hosts), expected);
}

TEST_F(HostsHelperTest, TabSeparatedLineIsNotEnoughAndGetsTheRealOne) {
    writeText(hosts, "127.0.0.1\tlocal.lumvane.io\n");
    EXPECT_EQ(runHelper({"--hosts-file", hosts}), 0);
    EXPECT_EQ(readText(hosts), "127.0.0.1\tlocal.lumvane.io\n127.0.0.1 local.lumvane.io\n");
}

TEST_F(HostsHelperTest, CreatesAMissingFile) {
    EXPECT_EQ(runHelper({"--hosts-file", hosts}), 0);
    EXPECT_EQ(readText(hosts), "127.0.0.1 local.lumvane.io\n");
}

TEST_F(HostsHelperTest, RefusesAnotherFileWhenElevatedAndBadUsage) {
    writeText(hosts, "127.0.0.1 localhost\n");
    EXPECT_EQ(runHelper({"--hosts-file", hosts}, std::vector<std::string>{"PKEXEC_UID=1000"}), 2);
    EXPECT_EQ(runHelper({"--hosts-file"}), 2);
    EXPECT_EQ(runHelper({"--other", hosts}), 2);
    EXPECT_EQ(readText(hosts), "127.0.0.1 localhost\n");
}

TEST_F(HostsHelperTest, UnwritableTargetFails) {
    fs::create_directories(hosts);  // a folder where the file should be
    EXPECT_EQ(runHelper({"--hosts-file", hosts}), 1);
}

TEST_F(HostsHelperTest, ManagerChecksTheConfiguredFile) {
    lumvane::BrowserIntegrationOptions options;
    options.environment = lumvane::BrowserEnvironment::underHome(root / "home");
    options.hostsFile = hosts;
    lumvane::TBNBrowserExtensionManager manager(options);
    EXPECT_FALSE(manager.isValidatedHostsRecord());  // unreadable
    writeText(hosts, "127.0.0.1\tlocal.lumvane.io\n");
    EXPECT_FALSE(manager.isValidatedHostsRecord());
    writeText(hosts, "127.0.0.1 local.lumvane.io\n");
    EXPECT_TRUE(manager.isValidatedHostsRecord());
}

}  // namespace
