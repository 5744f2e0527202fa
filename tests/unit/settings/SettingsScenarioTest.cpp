// A phone's life through the store across a restart, as the service uses it.
#include "SettingsTestSupport.h"
#include "crypto/TBNCryptHash.h"

namespace lumvane::settingstest {
namespace {

TEST_F(SettingsTest, FirstStartPairUpdateRestartLookupsAndApproval) {
    // First start: no file, approval of the own extension before the upgrade.
    auto store = makeStore();
    store->loadBySettingsClass(filePath());
    store->decryptEncryptedSettingsByKey(testKey());
    store->approveExtForClientId(std::string("safari-id"), std::string("safari-secret"));
    store->upgrade();
    EXPECT_EQ(store->pongFlags() & 48, 32);

    // A phone comes online and is paired.
    store->addOnlineDevice(phone("HW-1", "DEV-1", true, 1));
    EXPECT_EQ(store->allOnlineDevices().size(), 1u);
    store->pairDeviceAtHardwareId(std::string("HW-1"));
    EXPECT_EQ(store->pongFlags() & 48, 0) << "paired and online";
    store->setClientSecret(std::string("mac-secret"));

    // It reports in under a new hardware id.
    store->updateDeviceInfoWithDeviceId(std::string("DEV-1"), std::string("HW-2"), -50,
                                        std::string("Phone"), std::string("model"),
                                        std::string("push-token"), 90, 1, std::string("17.1"),
                                        std::string("2.0"), 3, true);
    auto sites = std::make_shared<TBNSitesCache>();
    sites->setUrlsCache(std::make_shared<std::set<std::string>>(
        std::set<std::string>{TBNCryptHash::strSha256FromString("example.com")}));
    sites->setProtectedUrlsCache(std::make_shared<std::set<std::string>>());
    store->updateSitesCache(sites, std::string("HW-2"));
    store->waitForPendingSaves();

    // Restart.
    auto next = startStore();
    auto device = next->firstPairedDevice();
    ASSERT_TRUE(device);
    EXPECT_EQ(device->hardwareId(), "HW-2");
    EXPECT_EQ(device->token(), "push-token");
    EXPECT_FALSE(device->online());
    EXPECT_TRUE(next->isPairedDeviceByDeviceId(std::string("DEV-1")));
    EXPECT_FALSE(next->isPairedDeviceByHardwareId(std::string("HW-1")));
    EXPECT_EQ(next->pairedDeviceHardwareIdByDeviceId(std::string("DEV-1")), "HW-2");
    EXPECT_EQ(next->clientSecret(), "mac-secret");
    EXPECT_EQ(next->pongFlags() & 48, 16) << "paired, offline";

    // Cache lookups.
    bool isProtected = true;
    EXPECT_TRUE(next->cachedSiteUrl(std::string("example.com"), std::string("HW-2"), &isProtected));
    EXPECT_FALSE(isProtected);
    next->addToCacheUserName(std::string("me"), std::string("pw"),
                             std::string("https://www.example.com/login"), std::string("HW-2"));
    EXPECT_TRUE(next->isCachedUserName(std::string("me"), std::string("example.com"),
                                       std::string("HW-2")));

    // Approvals: the first start's one was kept, a new client joins.
    EXPECT_TRUE(next->isApprovedExtensionClient(std::string("safari-id"),
                                                std::string("safari-secret")));
    next->approveExtForClientId(std::string("chrome-id"), std::string("chrome-secret"));
    EXPECT_EQ(next->clientSecretByClientId(std::string("chrome-id")), "chrome-secret");
    next->waitForPendingSaves();
    auto third = startStore();
    EXPECT_TRUE(third->isApprovedExtensionClient(std::string("chrome-id"),
                                                 std::string("chrome-secret")));
}

}  // namespace
}  // namespace lumvane::settingstest
