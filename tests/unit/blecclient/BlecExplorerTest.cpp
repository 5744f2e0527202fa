// The explorer on the simulated radio: Bluetooth state reports, finding a phone
// among other devices, the connect queue and what stop leaves behind. The 1 s
// tick runs on a manual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "BlecTestSupport.h"
#include "blec/TBNBlecExplorer.h"
#include "runtime/DispatchQueue.h"

namespace lumvane::blectest {
namespace {

constexpr const char* kId = "0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9";

class ExplorerRecorder : public TBNBlecExplorerDelegate {
  public:
    void blecExplorerOnStateChange(TBNBlecExplorer&, bool on) override { add(on ? "on" : "off"); }
    void blecExplorerOnDidFindDevice(TBNBlecExplorer&,
                                     const std::optional<std::string>& id) override {
        add("find " + id.value_or("-"));
    }
    void blecExplorerOnDidUpdateDevice(TBNBlecExplorer&,
                                       const std::optional<std::string>& id) override {
        add("update " + id.value_or("-"));
    }
    void blecExplorerOnDidLostDevice(TBNBlecExplorer&,
                                     const std::optional<std::string>& id) override {
        add("lost " + id.value_or("-"));
    }
    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    size_t count(const std::string& e) const {
        auto all = events();
        return size_t(std::count(all.begin(), all.end(), e));
    }

  private:
    void add(std::string e) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(e));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

struct ExplorerRig {
    std::string path = socketPath();
    ble::sim::SimBleAir air{path};
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    TBNBlecPeripheralStore store;
    std::shared_ptr<ExplorerRecorder> recorder = std::make_shared<ExplorerRecorder>();
    std::shared_ptr<TBNBlecExplorer> explorer;

    explicit ExplorerRig(bool poweredOn = true) {
        // Before start: the radio reads it without a lock while it runs.
        air.setAdvertisingInterval(std::chrono::milliseconds(20));
        EXPECT_TRUE(air.start());
        if (!poweredOn) air.setCentralState(ble::CentralState::PoweredOff);
        store.setNotifier([](std::function<void()> f) { f(); });
        TBNBlecExplorer::Options o;
        o.centralFactory = *ble::bleCentralFactoryForSpec("sim:" + path);
        o.peripheralStore = &store;
        o.clock = clock;
        explorer = TBNBlecExplorer::create(recorder, o);
        // The central's first state report reaches a delegate that never asked to explore.
        EXPECT_TRUE(waitFor([&] { return recorder->count("off") == 1; }));
    }
    ~ExplorerRig() {
        explorer->stop();
        explorer.reset();
        clock->cancelAll();
        air.stop();
        settle(std::chrono::milliseconds(50));
        clock->cancelAll();
    }
    void tick(int n = 1) {
        for (int i = 0; i < n; ++i) {
            clock->advance(1.0);
            settle(std::chrono::milliseconds(40));
        }
    }
    std::shared_ptr<TBNBlecPeripheral> record(const std::string& id) {
        return store.blePeripheralByBleId(id);
    }
};

TEST(BlecExplorer, ReportsBluetoothOnAndOff) {
    ExplorerRig rig;
    // Not exploring: every change is reported as off.
    rig.air.setCentralState(ble::CentralState::PoweredOff);
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("off") == 2; }));
    rig.air.setCentralState(ble::CentralState::PoweredOn);
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("off") == 3; }));
    EXPECT_EQ(rig.recorder->count("on"), 0u);

    rig.explorer->start();
    rig.explorer->start();  // a second start starts nothing more
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("on") == 1; }));
    EXPECT_TRUE(rig.explorer->explorering());
    EXPECT_TRUE(rig.explorer->blecCentralManager()->centralManager()->isScanning());

    rig.air.setCentralState(ble::CentralState::PoweredOff);
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("off") == 4; }));
    EXPECT_FALSE(rig.explorer->explorering());
    EXPECT_TRUE(rig.explorer->starting());
    rig.air.setCentralState(ble::CentralState::PoweredOn);
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("on") == 2; }));

    rig.explorer->stop();
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("off") == 5; }));
    EXPECT_FALSE(rig.explorer->starting());
    EXPECT_FALSE(rig.explorer->explorering());
    rig.explorer->stop();  // idle: nothing
    settle();
    EXPECT_EQ(rig.recorder->events(),
              (std::vector<std::string>{"off", "off", "off", "on", "off", "on", "off"}));
}

TEST(BlecExplorer, StartWithBluetoothOffWaitsForPower) {
    ExplorerRig rig(/*poweredOn=*/false);
    rig.explorer->start();
    EXPECT_TRUE(rig.explorer->starting());
    EXPECT_FALSE(rig.explorer->explorering());
    rig.air.setCentralState(ble::CentralState::PoweredOn);
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("on") == 1; }));
    EXPECT_TRUE(rig.explorer->explorering());
}

TEST(BlecExplorer, FindsThePhoneAmongOtherDevicesAndLosesItAtStop) {
    ExplorerRig rig;
    FakePeripheral phone(rig.path, "77:00:00:00:00:01", advertising({}),
                         {deviceInformation("iPhone9,3"), appService(kId, "tok")});
    FakePeripheral tablet(rig.path, "77:00:00:00:00:02", advertising({}),
                          {deviceInformation("iPad2,1")});
    auto beacon = advertising({});
    beacon.manufacturerData = Bytes{0x4C, 0x00, 0x02, 0x15};
    FakePeripheral withManufacturerData(rig.path, "77:00:00:00:00:03", beacon, {appService(kId)});
    auto silent = advertising({});
    silent.isConnectable = false;
    FakePeripheral notConnectable(rig.path, "77:00:00:00:00:04", silent, {appService(kId)});
    for (auto* p : {&phone, &tablet, &withManufacturerData, &notConnectable}) {
        ASSERT_TRUE(p->start());
    }
    rig.explorer->start();
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("find " + std::string(kId)) == 1; }));
    EXPECT_TRUE(waitFor([&] { return rig.recorder->count("update " + std::string(kId)) == 1; }));
    ASSERT_TRUE(waitFor([&] {
        auto t = rig.record(tablet.address());
        return t && t->state() == TBNBlecPeripheralStateUnsupported;
    }));
    auto found = rig.record(phone.address());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->state(), TBNBlecPeripheralStateFound);
    EXPECT_EQ(found->authToken(), "tok");
    EXPECT_EQ(rig.store.bleIdByDeviceId(kId), phone.address());
    EXPECT_FALSE(rig.record(withManufacturerData.address()));
    EXPECT_FALSE(rig.record(notConnectable.address()));

    // Rediscovery of an unsupported record neither queues nor validates it again.
    ASSERT_TRUE(waitFor([&] { return !rig.explorer->periphialValidator()->blecPeripheral(); }));
    rig.tick(2);
    const auto queue = rig.explorer->connectQueue();
    EXPECT_EQ(std::count(queue.begin(), queue.end(), tablet.address()), 0);
    EXPECT_EQ(rig.record(tablet.address())->failConnectCount(), 1u);

    rig.explorer->stop();
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("lost " + std::string(kId)) == 1; }));
    EXPECT_EQ(found->state(), TBNBlecPeripheralStateSupported);
    EXPECT_EQ(found->nextConnectTime(), blecNowSeconds(*rig.clock));
    EXPECT_TRUE(rig.explorer->connectQueue().empty());
}

TEST(BlecExplorer, QueueWaitsForEachRecordsNextConnectTime) {
    ExplorerRig rig;
    // Phones without the app: each run fails and is queued again for 10 s later.
    FakePeripheral a(rig.path, "88:00:00:00:00:01", advertising({}),
                     {deviceInformation("iPhone3,1")});
    FakePeripheral b(rig.path, "88:00:00:00:00:02", advertising({}),
                     {deviceInformation("iPhone3,1")});
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    rig.explorer->start();
    ASSERT_TRUE(waitFor([&] {
        auto ra = rig.record(a.address());
        auto rb = rig.record(b.address());
        return ra && rb && ra->failConnectCount() == 1 && rb->failConnectCount() == 1 &&
               rig.explorer->connectQueue().size() == 2 &&
               !rig.explorer->periphialValidator()->blecPeripheral();
    }));
    const auto order = rig.explorer->connectQueue();
    // Both wait: ticks change neither the queue nor the records.
    rig.tick(3);
    EXPECT_EQ(rig.explorer->connectQueue(), order);
    EXPECT_EQ(rig.record(a.address())->failConnectCount(), 1u);
    // Once due they are validated again; a phone already known as supported
    // that still lacks the app ends its run without a further failure.
    const double due = rig.record(a.address())->nextConnectTime();
    rig.tick(8);
    ASSERT_TRUE(waitFor([&] {
        return rig.record(a.address())->nextConnectTime() > due &&
               rig.record(b.address())->nextConnectTime() > due;
    }));
    EXPECT_EQ(rig.record(a.address())->state(), TBNBlecPeripheralStateSupported);
    EXPECT_EQ(rig.record(a.address())->failConnectCount(), 1u);
    EXPECT_TRUE(waitFor([&] { return rig.explorer->connectQueue().size() == 2; }));
}

TEST(BlecExplorer, StateChangesOfRecordsBecomeFindAndLost) {
    ExplorerRig rig;
    auto record = std::make_shared<TBNBlecPeripheral>("99:00:00:00:00:01");
    record->setDeviceId(std::string(kId));
    rig.explorer->setBlecPeripheralState(TBNBlecPeripheralStateSupported, record);
    rig.explorer->setBlecPeripheralState(TBNBlecPeripheralStateFound, record);
    rig.explorer->setBlecPeripheralState(TBNBlecPeripheralStateFound, record);  // no change
    rig.explorer->setBlecPeripheralState(TBNBlecPeripheralStateSupported, record);
    ASSERT_TRUE(waitFor([&] { return rig.recorder->events().size() == 3; }));
    settle(std::chrono::milliseconds(100));
    EXPECT_EQ(rig.recorder->events(), (std::vector<std::string>{"off", "find " + std::string(kId),
                                                                "lost " + std::string(kId)}));
}

}  // namespace
}  // namespace lumvane::blectest
