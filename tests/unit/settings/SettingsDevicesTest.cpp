// Paired and online phones.
#include "SettingsTestSupport.h"

namespace lumvane::settingstest {
namespace {

using T = TBNSettings::Text;

class DevicesTest : public SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        store_ = startStore();
        observer_ = std::make_shared<RecordingDelegate>();
        store_->addDelegate(observer_);
    }
    // The mask of the next change (waits for its notification).
    TBNSettingsComponents nextMask() {
        const size_t n = ++expected_;
        EXPECT_TRUE(observer_->waitForCount(n));
        return observer_->masks().at(n - 1);
    }
    T idMapEntry(const std::string& deviceId) {
        return store_->pairedDeviceHardwareIdByDeviceId(deviceId);
    }
    void update(const std::string& d, const std::string& h, int32_t appState, bool online = true) {
        store_->updateDeviceInfoWithDeviceId(d, h, -40, std::string("n"), std::string("m"),
                                             std::string("tok"), 80, 1, std::string("17"),
                                             std::string("3.0"), appState, online);
    }
    std::shared_ptr<TBNSettings> store_;
    std::shared_ptr<RecordingDelegate> observer_;
    size_t expected_ = 0;
};

TEST_F(DevicesTest, PairingMovesAnOnlinePhoneAndASecondCallFindsNothing) {
    store_->addOnlineDevice(phone("H", "D"));
    EXPECT_EQ(nextMask(), TBNSettingsComponentOnlineDevices);
    store_->pairDeviceAtHardwareId(std::string("H"));
    EXPECT_EQ(nextMask(), 20u);
    EXPECT_TRUE(store_->isPairedDeviceByHardwareId(std::string("H")));
    EXPECT_EQ(idMapEntry("D"), "H");
    EXPECT_EQ(store_->onlineDeviceByHardwareId(std::string("H")), nullptr);
    store_->pairDeviceAtHardwareId(std::string("H"));
    EXPECT_EQ(nextMask(), 20u);
    EXPECT_TRUE(store_->isPairedDeviceByHardwareId(std::string("H")));
}

TEST_F(DevicesTest, UnpairingPutsOnlyAnOnlinePhoneBackOnline) {
    store_->addPairedDevice(phone("H1", "D1", false));
    store_->addPairedDevice(phone("H2", "D2", true));
    store_->unpairDeviceAtHardwareId(std::string("H1"));
    store_->unpairDeviceAtHardwareId(std::string("H2"));
    EXPECT_FALSE(store_->isPairedDeviceByHardwareId(std::string("H1")));
    EXPECT_FALSE(store_->isPairedDeviceByHardwareId(std::string("H2")));
    EXPECT_EQ(idMapEntry("D1"), std::nullopt);
    EXPECT_EQ(idMapEntry("D2"), std::nullopt);
    EXPECT_EQ(store_->onlineDeviceByHardwareId(std::string("H1")), nullptr);
    ASSERT_NE(store_->onlineDeviceByHardwareId(std::string("H2")), nullptr);
    EXPECT_EQ(store_->allOnlineDevices().size(), 1u);
}

TEST_F(DevicesTest, DeviceInfoUpdateMasks) {
    store_->addPairedDevice(phone("HP", "DP", true, 1));
    EXPECT_EQ(nextMask(), 16u);
    store_->addOnlineDevice(phone("HO", "DO", true, 1));
    EXPECT_EQ(nextMask(), 4u);
    update("DP", "HP", 2);
    EXPECT_EQ(nextMask(), 40u) << "paired phone whose app state changed";
    update("DO", "HO", 1);
    EXPECT_EQ(nextMask(), 2u) << "online phone, same state";
    update("DX", "HX", 1);
    EXPECT_EQ(nextMask(), 2u) << "unknown phone changes nothing";
    EXPECT_EQ(store_->pairedDeviceByHardwareId(std::string("HX")), nullptr);

    auto p = store_->pairedDeviceByHardwareId(std::string("HP"));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->appState(), 2);
    EXPECT_EQ(p->token(), "tok");
    EXPECT_TRUE(p->deviceIsNear()) << "fields outside the update are kept";
}

TEST_F(DevicesTest, APairedPhoneUnderANewHardwareIdIsReKeyed) {
    store_->addPairedDevice(phone("H0", "D", false, 1));
    EXPECT_EQ(nextMask(), 16u);
    update("D", "H", 1);
    EXPECT_EQ(nextMask(), 2u);
    EXPECT_FALSE(store_->isPairedDeviceByHardwareId(std::string("H0")));
    auto moved = store_->pairedDeviceByHardwareId(std::string("H"));
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->hardwareId(), "H");
    EXPECT_EQ(idMapEntry("D"), "H");
    EXPECT_TRUE(store_->isPairedDeviceByDeviceId(std::string("D")));
}

TEST_F(DevicesTest, MissingIdentifiersAreRefusedWithoutSavingOrTelling) {
    const uint64_t writes = store_->fileWrites();
    store_->updateDeviceInfoWithDeviceId(std::string("D"), std::nullopt, 0, std::nullopt,
                                         std::nullopt, std::nullopt, 0, 0, std::nullopt,
                                         std::nullopt, 0, true);
    auto noHardware = phone("", "D");
    auto noDevice = phone("H", "D");
    noDevice->unsetDeviceId();
    store_->addPairedDevice(noHardware);
    store_->addPairedDevice(noDevice);
    store_->addOnlineDevice(noHardware);
    store_->addPairedDevice(nullptr);
    store_->removePairedDeviceAtHardwareId(std::nullopt);
    store_->addToCacheUserName(std::string("u"), std::string("p"), std::string("https://a.com"),
                               std::nullopt);
    store_->waitForPendingSaves();
    EXPECT_EQ(store_->fileWrites(), writes);
    EXPECT_TRUE(observer_->masks().empty());
    EXPECT_EQ(store_->firstPairedDevice(), nullptr);
    EXPECT_TRUE(store_->allOnlineDevices().empty());
    auto keys = store_->valueFromSettings<size_t>([](TBNSettings& s) -> std::optional<size_t> {
        return s.osxSettings().pairedDevices()->size() + s.osxSessionSettings().onlineDevices()->size() +
               s.osxSessionSettings().localSitesCache()->size();
    });
    EXPECT_EQ(keys, 0u);
}

TEST_F(DevicesTest, RemovingAPairedPhoneLeavesItsDeviceIdEntry) {
    store_->addPairedDevice(phone("H", "D"));
    store_->removePairedDeviceAtHardwareId(std::string("H"));
    EXPECT_FALSE(store_->isPairedDeviceByDeviceId(std::string("D")));
    EXPECT_EQ(store_->pairedDeviceByDeviceId(std::string("D")), nullptr);
    EXPECT_EQ(idMapEntry("D"), "H");
    EXPECT_EQ(store_->pairedDeviceByHardwareId(std::string("nobody")), nullptr);
}

TEST_F(DevicesTest, CopiesHaveEveryFieldSetAndAreDeep) {
    EXPECT_EQ(store_->firstPairedDevice(), nullptr);
    store_->addPairedDevice(phone("H", "D"));
    auto copy = store_->firstPairedDevice();
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->sitesCacheIsSet() && copy->publicKeyIsSet() && copy->tokenIsSet());
    EXPECT_EQ(copy->sitesCache(), nullptr);
    copy->setOnline(false);
    EXPECT_TRUE(store_->firstPairedDevice()->online());

    auto cache = std::make_shared<TBNSitesCache>();
    cache->setUrlsCache(std::make_shared<std::set<std::string>>(std::set<std::string>{"a"}));
    auto clone = TBNSettings::cloneSitesCache(cache);
    ASSERT_TRUE(clone->accountsCache());
    EXPECT_TRUE(clone->accountsCache()->empty()) << "a missing accounts map becomes empty";
    clone->urlsCache()->insert("b");
    EXPECT_EQ(cache->urlsCache()->size(), 1u);
    EXPECT_EQ(TBNSettings::cloneDeviceInfo(nullptr), nullptr);
    EXPECT_EQ(TBNSettings::cloneAccountsCache(nullptr), nullptr);
}

TEST_F(DevicesTest, PeripheralListIsReplacedWhole) {
    auto p = [](const char* id) {
        return std::make_shared<TBNOSXBlecPeripheral>(4, id, "D", "n", "m", "o", "a");
    };
    store_->setAllBlePeripherals({p("b1"), p("b2")});
    ASSERT_EQ(store_->allBlePeripherals().size(), 2u);
    EXPECT_EQ(store_->allBlePeripherals()[1]->bleId(), "b2");
    store_->setAllBlePeripherals({});
    EXPECT_TRUE(store_->allBlePeripherals().empty());
}

TEST_F(DevicesTest, RemoveAllDevicesEmptiesEverySet) {
    store_->addPairedDevice(phone("H1", "D1"));
    store_->addOnlineDevice(phone("H2", "D2"));
    store_->removeAllDevices();
    EXPECT_EQ(store_->firstPairedDevice(), nullptr);
    EXPECT_TRUE(store_->allOnlineDevices().empty());
    EXPECT_EQ(idMapEntry("D1"), std::nullopt);
}

}  // namespace
}  // namespace lumvane::settingstest
