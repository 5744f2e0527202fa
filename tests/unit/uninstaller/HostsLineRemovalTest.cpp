// Taking the program's loopback line out of the hosts file, and only that line.
#include <gtest/gtest.h>

#include "UninstallTestSupport.h"
#include "uninstaller/HostsLineRemoval.h"

namespace lumvane::testing {
namespace {

TEST(HostsLineRemovalTest, OnlyTheProgramsOwnLineGoes) {
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    };
    const std::string own = hostsRecordLine();
    for (const Case& c : std::vector<Case>{
             {"appended line", "127.0.0.1 localhost\n" + own + "\n", "127.0.0.1 localhost\n"},
             {"no final newline", "127.0.0.1 localhost\n" + own, "127.0.0.1 localhost\n"},
             {"trailing blanks and CRLF", "a\r\n" + own + " \t\r\nb\r\n", "a\r\nb\r\n"},
             {"added twice", own + "\nx\n" + own + "\n", "x\n"},
             {"the user's variants stay",
              "#" + own + "\n" + own + " # mine\n127.0.0.1\tlocal.lumvane.io\n" + own +
                  ".example\n10.0.0.2 local.lumvane.io\n",
              "#" + own + "\n" + own + " # mine\n127.0.0.1\tlocal.lumvane.io\n" + own +
                  ".example\n10.0.0.2 local.lumvane.io\n"},
             {"empty", "", ""},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hostsTextWithoutOwnRecord(c.text), c.expected);
        EXPECT_EQ(hostsTextHasOwnRecord(c.text), c.text != c.expected);
    }
}

TEST(HostsLineRemovalTest, FileIsReplacedWithItsModeAndLinksAreFollowed) {
    FakeInstall install;
    const fs::path real = install.home / "etc/hosts.real";
    const fs::path link = install.home / "etc/hosts";
    writeText(real, "127.0.0.1 localhost\n" + hostsRecordLine() + "\n", 0640);
    fs::create_symlink(real, link);

    std::string error;
    EXPECT_EQ(removeHostsRecord(link.string(), &error), HostsRemoval::Removed) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readText(real), "127.0.0.1 localhost\n");
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(real.parent_path()), fs::directory_iterator()),
              2);

    EXPECT_EQ(removeHostsRecord(link.string(), &error), HostsRemoval::NotPresent);
    EXPECT_EQ(removeHostsRecord((install.home / "missing").string(), &error),
              HostsRemoval::NotPresent);
}

TEST(HostsLineRemovalTest, HelperUndoesWhatTheAddingHelperDid) {
    FakeInstall install;
    const std::string hosts = (install.home / "hosts").string();
    writeText(hosts, FakeInstall::kUserHosts);
    ASSERT_EQ(runChildProcess({LUMVANE_HOSTS_HELPER, "--hosts-file", hosts}).exitStatus, 0);
    ASSERT_TRUE(hostsTextHasRecord(readText(hosts)));

    ChildResult removed = runChildProcess({LUMVANE_UNINSTALL_HOSTS_HELPER, "--hosts-file", hosts});
    EXPECT_EQ(removed.exitStatus, 0) << removed.errors;
    EXPECT_EQ(readText(hosts), FakeInstall::kUserHosts);

    // Elevated, only the system hosts file may be named; wrong use is refused.
    ChildOptions elevated;
    elevated.environment = std::vector<std::string>{"PKEXEC_UID=1000"};
    EXPECT_EQ(runChildProcess({LUMVANE_UNINSTALL_HOSTS_HELPER, "--hosts-file", hosts}, elevated)
                  .exitStatus,
              2);
    EXPECT_EQ(runChildProcess({LUMVANE_UNINSTALL_HOSTS_HELPER, "--other"}).exitStatus, 2);
}

}  // namespace
}  // namespace lumvane::testing
