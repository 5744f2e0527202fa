// A keychain that cannot be read is not a missing key: with a settings file there, the
// start stops before a new key could replace the one that opens it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/StartupSteps.h"
#include "app/desktop/DesktopApp.h"
#include "crypto/TBNKeyChainManager.h"
#include "keychain/FakeKeychain.h"

namespace lumvane {
namespace {

TEST(KeychainBlocksStartup, OnlyAnUnreadableKeychainWithSettingsThereStops) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("startup-guard-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto settingFile = folder / "settings.tbnlmveprf";
    auto store = std::make_shared<FakeKeychain>();
    TBNKeyChainManager keychain(store);

    // No settings file: nothing to lose, whatever the keychain says.
    store->setAvailable(false);
    EXPECT_FALSE(keychainBlocksStartup(keychain, settingFile));

    std::ofstream(settingFile) << "sealed";
    // Missing key: the first start makes one.
    store->setAvailable(true);
    EXPECT_FALSE(keychainBlocksStartup(keychain, settingFile));
    // A readable key.
    keychain.setData(Bytes(32, 7), StartupSteps::kSettingsKeyItem);
    EXPECT_FALSE(keychainBlocksStartup(keychain, settingFile));
    // Locked or unreachable: stop, and say so.
    store->failNextWith(FakeKeychain::Operation::copy, kKeychainNotAvailable);
    auto why = keychainBlocksStartup(keychain, settingFile);
    ASSERT_TRUE(why);
    EXPECT_NE(why->find(settingFile.string()), std::string::npos);
    store->setAvailable(false);
    EXPECT_TRUE(keychainBlocksStartup(keychain, settingFile));
    EXPECT_TRUE(std::filesystem::exists(settingFile));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace lumvane
