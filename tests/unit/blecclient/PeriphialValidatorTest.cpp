// The peripheral validator on the simulated radio: what it concludes about a
// phone running the app, other devices and a peripheral that has gone, and the
// retry schedule it keeps in the records. Time-outs run on a manual clock.
#include <gtest/gtest.h>

#include <mutex>

#include "BlecTestSupport.h"
#include "blec/TBNBlecCentralManager.h"
#include "blec/TBNBlecPeriphialValidator.h"
#include "runtime/DispatchQueue.h"

namespace lumvane::blectest {
namespace {

constexpr const char* kId = "0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9";

// The validator's owner: knows what the scan found and forwards the central's
// connection events for the record being validated.
class Owner : public ble::BleCentralDelegate, public TBNBlecPeriphialValidatorDelegate {
  public:
    struct Change {
        uint64_t from, to;
    };

    void setValidator(std::shared_ptr<TBNBlecPeriphialValidator> v) {
        std::lock_guard<std::mutex> lock(mutex_);
        validator_ = std::move(v);
    }
    std::shared_ptr<TBNBlecPeriphialValidator> validator() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return validator_;
    }

    void centralManagerDidDiscoverPeripheral(ble::BleCentral&,
                                             const std::shared_ptr<ble::BlePeripheral>& p,
                                             const ble::AdvertisementData&, int) override {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.insert(p->identifier());
    }
    void centralManagerDidConnectPeripheral(ble::BleCentral& c,
                                            const std::shared_ptr<ble::BlePeripheral>& p) override {
        if (auto v = validator()) v->centralManagerDidConnectPeripheral(c, p);
    }
    void centralManagerDidFailToConnectPeripheral(ble::BleCentral& c,
                                                  const std::shared_ptr<ble::BlePeripheral>& p,
                                                  const std::optional<ble::BleError>& e) override {
        if (auto v = validator()) v->centralManagerDidFailToConnectPeripheral(c, p, e);
    }
    void centralManagerDidDisconnectPeripheral(ble::BleCentral& c,
                                               const std::shared_ptr<ble::BlePeripheral>& p,
                                               const std::optional<ble::BleError>& e) override {
        if (auto v = validator()) v->centralManagerDidDisconnectPeripheral(c, p, e);
    }

    void blecPeriphialValidatorDidDisconnectFrom(
        TBNBlecPeriphialValidator*, const std::shared_ptr<TBNBlecPeripheral>&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++finished_;
    }
    void blecPeriphialValidatorUpdatePeriphealInfo(
        TBNBlecPeriphialValidator*, const std::shared_ptr<TBNBlecPeripheral>&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++infos_;
    }
    void blecPeriphialValidatorUpdatePeripheal(TBNBlecPeriphialValidator*,
                                               const std::shared_ptr<TBNBlecPeripheral>&,
                                               uint64_t from, uint64_t to) override {
        std::lock_guard<std::mutex> lock(mutex_);
        changes_.push_back({from, to});
    }

    bool seen(const std::string& id) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_.count(id) > 0;
    }
    size_t finished() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return finished_;
    }
    size_t infos() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return infos_;
    }
    std::vector<std::pair<uint64_t, uint64_t>> changes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::pair<uint64_t, uint64_t>> out;
        for (const auto& c : changes_) out.emplace_back(c.from, c.to);
        return out;
    }

  private:
    mutable std::mutex mutex_;
    std::set<std::string> seen_;
    size_t finished_ = 0, infos_ = 0;
    std::vector<Change> changes_;
    std::shared_ptr<TBNBlecPeriphialValidator> validator_;
};

struct ValidatorRig {
    std::string path = socketPath();
    ble::sim::SimBleAir air{path};
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    TBNBlecPeripheralStore store;
    std::shared_ptr<Owner> owner = std::make_shared<Owner>();
    std::shared_ptr<TBNBlecCentralManager> central;
    std::shared_ptr<TBNBlecPeriphialValidator> validator;

    ValidatorRig() {
        // Before start: the radio reads it without a lock while it runs.
        air.setAdvertisingInterval(std::chrono::milliseconds(20));
        EXPECT_TRUE(air.start());
        store.setNotifier([](std::function<void()> f) { f(); });
        central = std::make_shared<TBNBlecCentralManager>(
            owner, "test.validator", *ble::bleCentralFactoryForSpec("sim:" + path), clock);
        TBNBlecPeriphialValidator::Options o;
        o.peripheralStore = &store;
        o.clock = clock;
        validator = TBNBlecPeriphialValidator::create(central, owner, o);
        owner->setValidator(validator);
        EXPECT_TRUE(waitFor(
            [&] { return central->centralManager()->state() == ble::CentralState::PoweredOn; }));
        central->centralManager()->scanForPeripherals({}, false);
    }
    ~ValidatorRig() {
        owner->setValidator(nullptr);
        validator.reset();
        central.reset();
        clock->cancelAll();
        air.stop();
        // A central still alive when the radio goes away schedules its reconnect
        // on the manual clock; drop that too.
        settle(std::chrono::milliseconds(50));
        clock->cancelAll();
    }

    double now() const { return blecNowSeconds(*clock); }

    // Validates the record and waits for the run to end.
    bool run(const std::shared_ptr<TBNBlecPeripheral>& record) {
        const size_t before = owner->finished();
        validator->validate(record);
        return waitFor([&] { return owner->finished() == before + 1; }) &&
               !validator->blecPeripheral();
    }
};

using S = TBNBlecPeripheralState;

TEST(PeriphialValidator, PhoneRunningTheAppIsFoundWithItsIdAndToken) {
    ValidatorRig rig;
    FakePeripheral phone(
        rig.path, "11:22:33:44:55:01", advertising({}),
        {deviceInformation("iPhone9,3"),
         appService("0a1b2c3d-4e5f-4061-8293-a4b5c6d7e8f9", "tok-1234", Bytes{1, 2, 3})});
    ASSERT_TRUE(phone.start());
    ASSERT_TRUE(waitFor([&] { return rig.owner->seen(phone.address()); }));
    auto record = std::make_shared<TBNBlecPeripheral>(phone.address());
    ASSERT_TRUE(rig.run(record));

    EXPECT_EQ(record->state(), S::TBNBlecPeripheralStateFound);
    EXPECT_EQ(record->deviceId(), kId);  // read in lower case, stored upper-cased
    EXPECT_EQ(record->authToken(), "tok-1234");
    EXPECT_EQ(record->authResponseData(), std::nullopt);  // the token is read, not both
    EXPECT_EQ(rig.store.bleIdByDeviceId(kId), phone.address());
    EXPECT_EQ(record->failConnectCount(), 0u);
    EXPECT_EQ(record->nextConnectTime(), rig.now() + 10);
    ASSERT_TRUE(waitFor([&] { return rig.owner->changes().size() == 3; }));
    EXPECT_EQ(rig.owner->changes(),
              (std::vector<std::pair<uint64_t, uint64_t>>{{0, 2}, {2, 4}, {4, 5}}));
    EXPECT_TRUE(waitFor([&] { return rig.owner->infos() == 1; }));
    EXPECT_TRUE(waitFor([&] { return phone.connectedCentrals() == 0; }));
}

TEST(PeriphialValidator, PhoneWithoutTokenGivesItsAuthResponseData) {
    ValidatorRig rig;
    FakePeripheral phone(rig.path, "11:22:33:44:55:02", advertising({}),
                         {appService(kId, std::nullopt, Bytes{9, 8, 7, 6})});
    ASSERT_TRUE(phone.start());
    ASSERT_TRUE(waitFor([&] { return rig.owner->seen(phone.address()); }));
    auto record = std::make_shared<TBNBlecPeripheral>(phone.address());
    ASSERT_TRUE(rig.run(record));
    EXPECT_EQ(record->state(), S::TBNBlecPeripheralStateFound);
    EXPECT_EQ(record->authResponseData(), (Bytes{9, 8, 7, 6}));
    EXPECT_EQ(record->authToken(), std::nullopt);
    EXPECT_TRUE(waitFor([&] { return rig.owner->infos() == 1; }));
}

TEST(PeriphialValidator, ClassifiesDevicesByTheirModelText) {
    struct Case {
        const char* name;
        std::optional<std::string> model;  // nothing: no Device Information service
        uint64_t startState;
        uint64_t startFails;
        uint64_t state;
        uint64_t fails;
        double next;  // seconds from now
    };
    const std::vector<Case> cases = {
        {"tablet", "iPad2,1", S::TBNBlecPeripheralStateUnknown, 0,
         S::TBNBlecPeripheralStateUnsupported, 1, 10},
        {"three letters of a phone model", "iPh", S::TBNBlecPeripheralStateUnknown, 0,
         S::TBNBlecPeripheralStateUnsupported, 1, 10},
        {"two characters: a failure, no verdict", "iP", S::TBNBlecPeripheralStateUnknown, 0,
         S::TBNBlecPeripheralStateAvailable, 1, 10},
        {"phone without the app", "iPhone3,1", S::TBNBlecPeripheralStateUnknown, 0,
         S::TBNBlecPeripheralStateSupported, 1, 10},
        {"no device information", std::nullopt, S::TBNBlecPeripheralStateUnknown, 0,
         S::TBNBlecPeripheralStateAvailable, 1, 10},
        // The fourth failure in a row backs off for 30 s; the disconnection that
        // ends the run keeps that back-off.
        {"fourth failure of an available phone", "iPhone3,1", S::TBNBlecPeripheralStateAvailable, 3,
         S::TBNBlecPeripheralStateSupported, 0, 30},
    };
    ValidatorRig rig;
    int n = 0;
    for (const auto& c : cases) {
        std::vector<ble::sim::SimService> services;
        if (c.model) services.push_back(deviceInformation(*c.model));
        services.push_back({"180F", {readable("2A19", "x")}});  // a battery service
        FakePeripheral device(rig.path, "22:00:00:00:00:0" + std::to_string(n++), advertising({}),
                              services);
        ASSERT_TRUE(device.start());
        ASSERT_TRUE(waitFor([&] { return rig.owner->seen(device.address()); })) << c.name;
        auto record = std::make_shared<TBNBlecPeripheral>(device.address());
        record->setState(c.startState);
        record->setFailConnectCount(c.startFails);
        ASSERT_TRUE(rig.run(record)) << c.name;
        EXPECT_EQ(record->state(), c.state) << c.name;
        EXPECT_EQ(record->failConnectCount(), c.fails) << c.name;
        EXPECT_EQ(record->nextConnectTime(), rig.now() + c.next) << c.name;
        EXPECT_EQ(record->deviceModel(), c.model && c.model->size() >= 3 ? c.model : std::nullopt)
            << c.name;
        EXPECT_EQ(record->deviceId(), std::nullopt) << c.name;
    }
}

TEST(PeriphialValidator, DeadPeripheralFailsAtTheConnectTimeoutAndBacksOff) {
    ValidatorRig rig;
    auto record = std::make_shared<TBNBlecPeripheral>("33:00:00:00:00:01");
    {
        FakePeripheral gone(rig.path, record->bleId(), advertising({}), {deviceInformation("x")});
        ASSERT_TRUE(gone.start());
        ASSERT_TRUE(waitFor([&] { return rig.owner->seen(gone.address()); }));
    }  // it leaves the air; the central still knows it
    // Four runs, each ends at the connect time-out of a record in state unknown (4 s).
    const std::vector<std::pair<uint64_t, double>> expected = {{1, 10}, {2, 10}, {3, 10}, {0, 60}};
    for (const auto& [fails, next] : expected) {
        const size_t before = rig.owner->finished();
        rig.validator->validate(record);
        ASSERT_TRUE(rig.validator->blecPeripheral());
        rig.clock->advance(4.0);
        rig.validator->update();  // 4 s: not over yet (the limit is strict)
        EXPECT_EQ(record->failConnectCount(), fails == 0 ? 3u : fails - 1);
        rig.clock->advance(0.5);
        rig.validator->update();
        ASSERT_TRUE(waitFor([&] { return rig.owner->finished() == before + 1; }));
        EXPECT_EQ(record->failConnectCount(), fails);
        EXPECT_EQ(record->nextConnectTime(), rig.now() + next);
        EXPECT_EQ(record->state(), S::TBNBlecPeripheralStateUnknown);
    }
    // Outside state unknown the connect limit is 10 s.
    record->setState(S::TBNBlecPeripheralStateSupported);
    const size_t before = rig.owner->finished();
    rig.validator->validate(record);
    rig.clock->advance(9.5);
    rig.validator->update();
    EXPECT_EQ(record->failConnectCount(), 0u);
    rig.clock->advance(1.0);
    rig.validator->update();
    ASSERT_TRUE(waitFor([&] { return rig.owner->finished() == before + 1; }));
    EXPECT_EQ(record->failConnectCount(), 1u);
}

TEST(PeriphialValidator, FailureScheduleByStateAndCount) {
    struct Case {
        const char* name;
        uint64_t state, fails;
        uint64_t stateAfter, failsAfter;
        double next;
    };
    using enum TBNBlecPeripheralState;
    const std::vector<Case> cases = {
        {"first failure", TBNBlecPeripheralStateSupported, 0, TBNBlecPeripheralStateSupported, 1,
         5},
        {"third failure", TBNBlecPeripheralStateSupported, 2, TBNBlecPeripheralStateSupported, 3,
         5},
        {"fourth failure", TBNBlecPeripheralStateSupported, 3, TBNBlecPeripheralStateSupported, 0,
         30},
        {"fourth failure, unknown", TBNBlecPeripheralStateUnknown, 3, TBNBlecPeripheralStateUnknown,
         0, 60},
        {"found: first failure is the last", TBNBlecPeripheralStateFound, 0,
         TBNBlecPeripheralStateSupported, 0, 30},
    };
    ValidatorRig rig;
    for (const auto& c : cases) {
        // A peripheral the central does not know: the run fails and ends at once.
        auto record = std::make_shared<TBNBlecPeripheral>("44:00:00:00:00:09");
        record->setState(c.state);
        record->setFailConnectCount(c.fails);
        ASSERT_TRUE(rig.run(record)) << c.name;
        EXPECT_EQ(record->state(), c.stateAfter) << c.name;
        EXPECT_EQ(record->failConnectCount(), c.failsAfter) << c.name;
        EXPECT_EQ(record->nextConnectTime(), rig.now() + c.next) << c.name;
    }
}

TEST(PeriphialValidator, OneRunAtATimeAndDisconnectionsSetTheNextTry) {
    ValidatorRig rig;
    for (bool withError : {true, false}) {
        // A peripheral of its own per round: the radio's answer to the previous
        // round's cancelled connect must not end this one.
        auto held = std::make_shared<TBNBlecPeripheral>(withError ? "55:00:00:00:00:01"
                                                                  : "55:00:00:00:00:03");
        {
            FakePeripheral gone(rig.path, held->bleId(), advertising({}), {deviceInformation("x")});
            ASSERT_TRUE(gone.start());
            ASSERT_TRUE(waitFor([&] { return rig.owner->seen(gone.address()); }));
        }
        rig.validator->validate(held);
        ASSERT_EQ(rig.validator->blecPeripheral(), held);
        auto other = std::make_shared<TBNBlecPeripheral>("55:00:00:00:00:02");
        rig.validator->validate(other);  // ignored while a run goes on
        EXPECT_EQ(rig.validator->blecPeripheral(), held);
        EXPECT_GT(rig.validator->connectingTime(), 0);

        const size_t before = rig.owner->finished();
        auto peripheral = rig.central->periphealByBleId(held->bleId());
        ASSERT_TRUE(peripheral);
        std::optional<ble::BleError> error;
        if (withError) error = ble::BleError{7, "link lost"};
        rig.validator->centralManagerDidDisconnectPeripheral(*rig.central->centralManager(),
                                                             peripheral, error);
        EXPECT_TRUE(waitFor([&] { return rig.owner->finished() == before + 1; }));
        EXPECT_FALSE(rig.validator->blecPeripheral());
        EXPECT_EQ(held->nextConnectTime(), rig.now() + (withError ? 1 : 10));
        EXPECT_EQ(held->failConnectCount(), 0u);
        EXPECT_EQ(rig.validator->connectingTime(), 0);
        EXPECT_EQ(rig.validator->processingTime(), 0);
        rig.central->centralManager()->cancelPeripheralConnection(peripheral);
    }
}

TEST(PeriphialValidator, InvalidateEndsTheRunAtOnce) {
    ValidatorRig rig;
    auto held = std::make_shared<TBNBlecPeripheral>("66:00:00:00:00:01");
    {
        FakePeripheral gone(rig.path, held->bleId(), advertising({}), {deviceInformation("x")});
        ASSERT_TRUE(gone.start());
        ASSERT_TRUE(waitFor([&] { return rig.owner->seen(gone.address()); }));
    }
    rig.validator->validate(held);
    ASSERT_TRUE(rig.validator->blecPeripheral());
    rig.validator->invalidate();  // connecting: the run ends through the disconnection
    ASSERT_TRUE(waitFor([&] { return rig.owner->finished() == 1; }));
    EXPECT_FALSE(rig.validator->blecPeripheral());
    EXPECT_EQ(held->failConnectCount(), 0u);
    rig.validator->invalidate();  // idle: nothing happens
    settle(std::chrono::milliseconds(100));
    EXPECT_EQ(rig.owner->finished(), 1u);
}

}  // namespace
}  // namespace lumvane::blectest
