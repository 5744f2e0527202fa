// The feature switches read the settings: security keys need both switches on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/pasteboard/Pasteboard.h"
#include "runtime/Paths.h"
#include "settings/TBNSettings.h"

namespace lumvane {
namespace {

TEST(FeatureSwitch, YubikeyNeedsExtendedModeAndSecurityKeySwitch) {
    char pattern[] = "/tmp/lumvane-features-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    std::filesystem::path root = pattern;
    Paths::setRootOverride(root);
    {
        auto store = TBNSettings::create();
        store->loadBySettingsClass(root / "settings.tbnlmveprf");
        store->decryptEncryptedSettingsByKey(Bytes(32, 7));
        const struct {
            bool extended, yubikey, expected;
        } cases[] = {
            {false, false, false}, {true, false, false}, {false, true, false}, {true, true, true}};
        for (const auto& c : cases) {
            store->setOsxExtendedMode(c.extended);
            store->setSupportYubiKey(c.yubikey);
            store->waitForPendingSaves();
            EXPECT_EQ(TBNOSXFeatureManager::yubikey(*store), c.expected) << c.extended << c.yubikey;
        }
        EXPECT_TRUE(TBNOSXFeatureManager::generateSSLCerts());
        store->waitForPendingSaves();
    }
    Paths::setRootOverride(std::nullopt);
    std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace lumvane
