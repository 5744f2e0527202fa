// Two starts of the program against a real Secret Service that answers on the bus but
// has no collection to store into (GNOME Keyring started without a login keyring, as on
// many desktops other than GNOME). Each start is a process of its own.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/StartupSteps.h"
#include "crypto/TBNKeyChainManager.h"
#include "platform/keychain/KeychainStore.h"
#include "runtime/Paths.h"
#include "settings/TBNSettings.h"

namespace lumvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kStepVariable = "LUMVANE_KEYRING_STEP";
constexpr const char* kRootVariable = "LUMVANE_KEYRING_ROOT";
constexpr const char* kNoService = "no Secret Service answered";

// One start inside the session: the steps the program runs, against the system keychain.
class KeyringStart : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* step = std::getenv(kStepVariable);
        const char* root = std::getenv(kRootVariable);
        if (!step || !root) GTEST_SKIP() << "runs inside the keyring session of its outer test";
        step_ = std::atoi(step);
        Paths::setRootOverride(fs::path(root));
        auto store = makeSystemKeychainStore(TBNSettings::settingFolder());
        if (store->storeName() == "file") GTEST_SKIP() << kNoService;
        keychain_ = std::make_unique<TBNKeyChainManager>(store);
    }
    void TearDown() override { Paths::setRootOverride(std::nullopt); }

    int step_ = 0;
    std::unique_ptr<TBNKeyChainManager> keychain_;
};

TEST_F(KeyringStart, PairedPhoneSurvivesTheRestart) {
    TBNSettings::Options options;
    options.bundleVersion = "1.0.0.0";
    auto settings = TBNSettings::create(options);
    const fs::path file = TBNSettings::settingsFilePath();
    auto result = StartupSteps::runServiceSideSteps(
        *keychain_, *settings, file, TBNSettings::oldSettingFolder() / "none", nullptr, nullptr);
    ASSERT_TRUE(result.completed);
    if (step_ == 1) {
        auto device = std::make_shared<TBNOSXDeviceInfo>();
        device->setHardwareId("AA:BB:CC:DD:EE:FF");
        device->setDeviceId("phone-1");
        settings->addPairedDevice(device);
        settings->setClientSecret(std::string("secret-1"));
    } else {
        EXPECT_EQ(result.settingsAttempt, 1);
        EXPECT_FALSE(result.settingsMovedAside);
        EXPECT_TRUE(settings->isPairedDeviceByDeviceId(std::string("phone-1")));
        EXPECT_EQ(settings->clientSecret(), std::optional<std::string>("secret-1"));
    }
    settings->waitForPendingSaves();
}

// Starts a private D-Bus session whose GNOME Keyring has no login collection, and runs the
// two starts in it. Bounded by timeout(1): a stuck bus cannot hang the suite.
TEST(KeyringWithoutCollection, APairedPhoneSurvivesARestart) {
    if (std::getenv(kStepVariable) != nullptr) GTEST_SKIP() << "already inside the session";
    for (const char* tool : {"dbus-run-session", "gnome-keyring-daemon", "timeout"}) {
        const std::string probe = std::string("command -v ") + tool + " >/dev/null 2>&1";
        if (std::system(probe.c_str()) != 0) GTEST_SKIP() << tool << " is not installed";
    }
    char pattern[] = "/tmp/lumvane-keyring-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path home = pattern;
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all);
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path log = home / "inner.log";
    const std::string run = std::string("\"$0\" --gtest_filter=KeyringStart.*");
    const std::string cmd = "cd " + home.string() + " && env HOME=" + home.string() +
                            " XDG_DATA_HOME=" + (home / "data").string() +
                            " XDG_RUNTIME_DIR=" + (home / "run").string() + " " + kRootVariable +
                            "=" + (home / "root").string() +
                            " timeout -k 5 120 dbus-run-session -- sh -c '"
                            "gnome-keyring-daemon --start --components=secrets >/dev/null 2>&1; " +
                            kStepVariable + "=1 " + run + " && " + kStepVariable + "=2 " + run +
                            "' " + self.string() + " > " + log.string() + " 2>&1";
    const int rc = std::system(cmd.c_str());
    std::ifstream in(log);
    const std::string output((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    std::error_code ec;
    fs::remove_all(home, ec);
    ASSERT_TRUE(WIFEXITED(rc)) << output;
    ASSERT_NE(WEXITSTATUS(rc), 124) << "the keyring session timed out\n" << output;
    if (output.find(kNoService) != std::string::npos) {
        GTEST_SKIP() << "gnome-keyring-daemon did not start a Secret Service here:\n" << output;
    }
    EXPECT_EQ(WEXITSTATUS(rc), 0) << output;
    size_t passed = 0;
    for (size_t at = output.find("[  PASSED  ] 1 test"); at != std::string::npos;
         at = output.find("[  PASSED  ] 1 test", at + 1)) {
        ++passed;
    }
    EXPECT_EQ(passed, 2u) << output;
}

}  // namespace
}  // namespace lumvane
