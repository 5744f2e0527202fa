// Trust of the local identity in NSS databases and the full set-up on a temporary root.
#include <gtest/gtest.h>

#include <filesystem>

#include "BrowserTestSupport.h"
#include "extension/browser/ChildProcess.h"
#include "extension/browser/HostsRecord.h"
#include "extension/browser/NSSTrust.h"
#include "extension/browser/TBNBrowserExtensionManager.h"

namespace fs = std::filesystem;
using lumvane::BrowserIntegrationOptions;
using lumvane::NSSTrust;
using lumvane::runChildProcess;
using lumvane::TBNBrowserExtensionManager;
using lumvane::testing::readText;
using lumvane::testing::TempRoot;
using lumvane::testing::writeText;

namespace {

const std::string kName(lumvane::kLocalHostName);

bool makeDatabase(const std::string& folder) {
    fs::create_directories(folder);
    return runChildProcess({"certutil", "-N", "-d", "sql:" + folder, "--empty-password"})
               .exitStatus == 0;
}

// How many certificates the database holds under the local host name.
size_t certificatesNamed(const std::string& folder) {
    auto listed = runChildProcess({"certutil", "-L", "-d", "sql:" + folder, "-n", kName, "-a"});
    if (listed.exitStatus != 0) return 0;
    size_t count = 0;
    for (size_t at = 0; (at = listed.output.find("BEGIN CERTIFICATE", at)) != std::string::npos;
         ++at) {
        ++count;
    }
    return count;
}

class NSSTrustTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!runChildProcess({"certutil", "-H"}).started) GTEST_SKIP() << "certutil is missing";
        ASSERT_TRUE(makeDatabase(nssdb()));
        writeText(hosts(), "127.0.0.1 localhost\n");
    }
    std::string nssdb() const { return root / "home/.pki/nssdb"; }
    std::string hosts() const { return root / "etc/hosts"; }
    std::string firefoxRoot() const { return root / "home/.mozilla/firefox"; }

    BrowserIntegrationOptions options() {
        BrowserIntegrationOptions o;
        o.environment = lumvane::BrowserEnvironment::underHome(root / "home");
        o.settingsFolder = root / "settings";
        o.hostsFile = hosts();
        o.hostsHelper = LUMVANE_HOSTS_HELPER;
        o.elevation = {};  // the test runs the helper directly on its own hosts file
        return o;
    }
    TempRoot root;
};

TEST_F(NSSTrustTest, TrustWrittenWithCertutilIsFoundByTheTrustCheck) {
    TBNBrowserExtensionManager manager(options());
    ASSERT_TRUE(manager.generateSSLIdentity());
    EXPECT_FALSE(manager.isTrustedSSLIdentity());
    EXPECT_FALSE(manager.isSetupedSSLIdentity());

    ASSERT_TRUE(manager.writeTrustSSLIdentity());
    EXPECT_TRUE(manager.isTrustedSSLIdentity());
    EXPECT_TRUE(manager.isValidatedHostsRecord());
    EXPECT_EQ(readText(hosts()), "127.0.0.1 localhost\n127.0.0.1 local.lumvane.io\n");
    EXPECT_TRUE(manager.isSetupedSSLIdentity());

    // A new certificate is not trusted just because the old one had the same name.
    ASSERT_TRUE(manager.generateSSLIdentity());
    EXPECT_FALSE(manager.isTrustedSSLIdentity());
    EXPECT_FALSE(manager.isSetupedSSLIdentity());
}

TEST_F(NSSTrustTest, CertificateWithoutServerTrustDoesNotCount) {
    TBNBrowserExtensionManager manager(options());
    ASSERT_TRUE(manager.generateSSLIdentity());
    ASSERT_EQ(runChildProcess({"certutil", "-A", "-d", "sql:" + nssdb(), "-n", kName, "-t", ",,",
                               "-i", manager.certificatePath()})
                  .exitStatus,
              0);
    EXPECT_FALSE(manager.isTrustedSSLIdentity());
    NSSTrust nss;
    EXPECT_TRUE(nss.hasNickname(nssdb(), kName));
}

TEST_F(NSSTrustTest, MissingDatabaseIsCreatedByTheTrustStep) {
    fs::remove_all(nssdb());
    TBNBrowserExtensionManager manager(options());
    ASSERT_TRUE(manager.generateSSLIdentity());
    EXPECT_FALSE(manager.isTrustedSSLIdentity());
    ASSERT_TRUE(manager.writeTrustSSLIdentity());
    EXPECT_TRUE(NSSTrust::hasDatabase(nssdb()));
    EXPECT_TRUE(manager.isTrustedSSLIdentity());
}

TEST_F(NSSTrustTest, TabSeparatedHostsLineLeavesTheSetUpIncompleteUntilFixed) {
    writeText(hosts(), "127.0.0.1\tlocal.lumvane.io\n");
    TBNBrowserExtensionManager manager(options());
    ASSERT_TRUE(manager.generateSSLIdentity());
    NSSTrust nss;
    ASSERT_TRUE(nss.importTrusted(nssdb(), kName, manager.certificatePath()));
    EXPECT_TRUE(manager.isExistSSLIdentity());
    EXPECT_TRUE(manager.isTrustedSSLIdentity());
    EXPECT_FALSE(manager.isSetupedSSLIdentity());
    ASSERT_TRUE(manager.writeTrustSSLIdentity());
    EXPECT_TRUE(manager.isSetupedSSLIdentity());
}

TEST_F(NSSTrustTest, FailedElevationLeavesTheHostsLineMissingAndIsReported) {
    BrowserIntegrationOptions o = options();
    o.elevation = {"false"};  // as if the administrator prompt was cancelled
    TBNBrowserExtensionManager manager(o);
    ASSERT_TRUE(manager.generateSSLIdentity());
    EXPECT_FALSE(manager.writeTrustSSLIdentity());
    EXPECT_FALSE(manager.isValidatedHostsRecord());
    EXPECT_TRUE(manager.isTrustedSSLIdentity());
    EXPECT_FALSE(manager.isSetupedSSLIdentity());
}

TEST_F(NSSTrustTest, SetUpTwiceLeavesOneTrustedIdentity) {
    TBNBrowserExtensionManager manager(options());
    ASSERT_TRUE(manager.setupSSLIdentity());
    std::string first = readText(manager.certificatePath());
    ASSERT_TRUE(manager.setupSSLIdentity());
    EXPECT_NE(readText(manager.certificatePath()), first);
    EXPECT_EQ(certificatesNamed(nssdb()), 1u);
    EXPECT_TRUE(manager.isSetupedSSLIdentity());
    EXPECT_FALSE(manager.isExpiredSSLIdentity());
    EXPECT_EQ(readText(hosts()), "127.0.0.1 localhost\n127.0.0.1 local.lumvane.io\n");
}

TEST_F(NSSTrustTest, FirefoxProfilesWithADatabaseAreTrustedAndKeptCurrent) {
    std::string profile = firefoxRoot() + "/abcd1234.default-release";
    ASSERT_TRUE(makeDatabase(profile));
    fs::create_directories(firefoxRoot() + "/Crash Reports");
    fs::create_directories(firefoxRoot() + "/emptyprofile.default");

    TBNBrowserExtensionManager manager(options());
    EXPECT_EQ(manager.firefoxProfileFolders(), std::vector<std::string>{profile});
    EXPECT_TRUE(TBNBrowserExtensionManager::hasFirefoxProfileCertDB(profile));
    EXPECT_FALSE(TBNBrowserExtensionManager::hasFirefoxProfileCertDB(firefoxRoot() +
                                                                     "/emptyprofile.default"));

    EXPECT_FALSE(manager.writeTrustSSLIdentityForFirefox());  // no certificate yet
    ASSERT_TRUE(manager.generateSSLIdentity());
    ASSERT_TRUE(manager.writeTrustSSLIdentityForFirefox());
    NSSTrust nss;
    EXPECT_TRUE(nss.isTrusted(profile, kName, readText(manager.certificatePath())));

    // A later set-up replaces the identity; the profile that trusted the old one follows.
    ASSERT_TRUE(manager.setupSSLIdentity());
    EXPECT_TRUE(nss.isTrusted(profile, kName, readText(manager.certificatePath())));
    EXPECT_EQ(certificatesNamed(profile), 1u);
}

TEST_F(NSSTrustTest, InstallingTheFirefoxExtensionTrustsTheIdentityInItsProfiles) {
    std::string profile = firefoxRoot() + "/xyz.default";
    ASSERT_TRUE(makeDatabase(profile));
    BrowserIntegrationOptions o = options();
    int opened = 0;
    o.urlOpener = [&](const std::string&, const lumvane::BrowserLaunch&) { return ++opened > 0; };
    TBNBrowserExtensionManager manager(o);
    ASSERT_TRUE(manager.generateSSLIdentity());
    manager.installFirefoxExtension();
    EXPECT_EQ(opened, 1);
    NSSTrust nss;
    EXPECT_TRUE(nss.isTrusted(profile, kName, readText(manager.certificatePath())));
}

}  // namespace
