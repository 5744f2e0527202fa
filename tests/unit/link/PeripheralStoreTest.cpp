// The known-peripheral store and the device records.
#include <gtest/gtest.h>

#include "blec/BLECDeviceInfo.h"
#include "blec/TBNBlecPeripheralStore.h"

namespace lumvane {
namespace {

struct CountingDelegate : TBNBlecPeripheralStoreDelegate {
    int calls = 0;
    void blecPeripheralStoreDidUpdate(TBNBlecPeripheralStore&) override { ++calls; }
};

struct StoreFixture : testing::Test {
    TBNBlecPeripheralStore store;
    std::shared_ptr<CountingDelegate> delegate = std::make_shared<CountingDelegate>();
    StoreFixture() {
        store.setDelegate(delegate);
        store.setNotifier([](std::function<void()> f) { f(); });
    }
    std::shared_ptr<TBNBlecPeripheral> record(const std::string& bleId,
                                              std::optional<std::string> deviceId) {
        auto r = std::make_shared<TBNBlecPeripheral>(bleId);
        r->setDeviceId(deviceId);
        r->setDeviceName("Phone " + bleId);
        r->setDeviceModel("iPhone9,3");
        r->setOsVersion("10.3");
        r->setAppVersion("1.2.0");
        r->setAuthToken("TOKEN");
        r->setState(TBNBlecPeripheralStateFound);
        return r;
    }
};

TEST_F(StoreFixture, ResetForgetsThePhoneButKeepsWhatTheRadioKnows) {
    store.setAllBlePeripheralsFromArray({record("B1", "D1")});
    EXPECT_EQ(delegate->calls, 0) << "replacing the content does not notify";
    store.resetPeripheralByDeviceId("unknown");
    EXPECT_EQ(delegate->calls, 0);

    store.resetPeripheralByDeviceId("D1");
    EXPECT_EQ(delegate->calls, 1);
    auto r = store.blePeripheralByBleId("B1");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->state(), TBNBlecPeripheralStateSupported);
    EXPECT_EQ(r->deviceId(), std::nullopt);
    EXPECT_EQ(r->deviceName(), std::nullopt);
    EXPECT_EQ(r->osVersion(), std::nullopt);
    EXPECT_EQ(r->deviceModel(), "iPhone9,3");
    EXPECT_EQ(r->authToken(), "TOKEN");
    EXPECT_EQ(store.deviceNameByDeviceId("D1"), std::nullopt);
    EXPECT_EQ(store.bleIdByDeviceId("D1"), std::nullopt);
}

TEST_F(StoreFixture, MappingMovesAndRemovals) {
    store.setAllBlePeripheralsFromArray({record("B1", "D1"), record("B2", std::nullopt)});
    store.setBleId("B1", "D1");  // same identifier: record kept, still notifies
    EXPECT_EQ(delegate->calls, 1);
    EXPECT_TRUE(store.blePeripheralByBleId("B1"));

    store.setBleId("B2", "D1");  // moved: the old peripheral's record goes
    EXPECT_FALSE(store.blePeripheralByBleId("B1"));
    EXPECT_EQ(store.bleIdByDeviceId("D1"), "B2");
    EXPECT_EQ(store.deviceModelNameByDeviceId("D1"), "iPhone 7");

    store.removeBlePeripheralByBleId("B2");
    EXPECT_EQ(store.bleIdByDeviceId("D1"), "B2") << "the mapping stays";
    EXPECT_EQ(store.deviceNameByDeviceId("D1"), std::nullopt);
    EXPECT_EQ(store.osVersionByDeviceId("D1"), std::nullopt);

    const int before = delegate->calls;
    store.setAllBlePeripheralsFromArray({});
    EXPECT_TRUE(store.allBlePeripherals().empty());
    EXPECT_EQ(delegate->calls, before);
}

TEST(PeripheralStore, ModelNamesAndStateTexts) {
    const std::pair<std::optional<std::string>, std::optional<std::string>> cases[] = {
        {"iPad4,6", "iPad mini 2G (Cellular)"},
        {"AppleTV3,2", "Apple TV 3G"},
        {"iPhone1,1", "iPhone 1G"},
        {"iPod7,1", "iPod touch 6G"},
        {"iPhone14,2", "iPhone14,2"},
        {"iphone9,3", "iphone9,3"},
        {std::nullopt, std::nullopt},
    };
    for (const auto& [id, name] : cases) {
        EXPECT_EQ(TBNBlecPeripheralStore::modelNameForModelIdentifier(id), name);
    }
    EXPECT_EQ(TBNBlecPeripheral::strBlecPeripheralStateByState(5), "found");
    EXPECT_EQ(TBNBlecPeripheral::strBlecPeripheralStateByState(6), "unknown");
}

struct InfoDelegate : BLECMutableDeviceInfoDelegate {
    int battery = 0, app = 0;
    void deviceInfoDidBatarryInfoUpdated(BLECMutableDeviceInfo&) override { ++battery; }
    void deviceInfoDidAppStateUpdated(BLECMutableDeviceInfo&) override { ++app; }
};

TEST(DeviceInfo, DelegateHearsBatteryChangesOnlyAndEveryAppState) {
    BLECMutableDeviceInfo info("D", "T", "N", "M", "10.3", "1.2.0");
    auto d = std::make_shared<InfoDelegate>();
    info.setDelegate(d);
    info.updateBatarryLevel(0, 0);
    EXPECT_EQ(d->battery, 0) << "values already held";
    info.updateBatarryLevel(50, 0);
    EXPECT_EQ(d->battery, 1);
    info.updateAppState(0);
    info.updateAppState(0);
    EXPECT_EQ(d->app, 2);
    EXPECT_EQ(info.snapshot().osVersion, "10.3");
}

}  // namespace
}  // namespace lumvane
