// The simulated radio end to end over its socket: a central finds an advertising
// peripheral, connects, discovers, reads, writes, gets notifications, and sees
// the connection end when the peripheral, the radio or the hub goes away.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <thread>

#include "SimTestSupport.h"
#include "platform/ble/SimBleAir.h"
#include "platform/ble/SimBleCentral.h"
#include "platform/ble/SimBlePeripheral.h"

extern char** environ;

namespace lumvane {
namespace {

using namespace ble;
using namespace ble::sim;
using blectest::Events;
using blectest::Recorder;

const std::string kService = "05550D60-F72F-11E5-97D7-0002A5D5C51B";
const std::string kDeviceId = "05550D60-A000-11E5-97D7-0002A5D5C51B";
const std::string kCommunicate = "05550D60-A040-11E5-97D7-0002A5D5C51B";
const std::string kDelivered = "05550D60-A041-11E5-97D7-0002A5D5C51B";
const std::string kPhone = "5A:00:00:00:00:01";

// A phone-like peripheral: echoes every write to the communication
// characteristic back as a notification with its bytes reversed.
class Phone : public SimPeripheralDelegate {
  public:
    Events events;
    std::shared_ptr<SimBlePeripheralDevice> device;

    uint8_t simPeripheralWrite(SimBlePeripheralDevice& d, const std::string& central,
                               const std::string&, const std::string& characteristic,
                               const Bytes& value, bool withResponse) override {
        events.add("write " + characteristic + " " + blectest::hex(value) +
                   (withResponse ? " response" : ""));
        if (characteristic == kCommunicate) {
            Bytes reversed(value.rbegin(), value.rend());
            d.notify(kService, kCommunicate, reversed, central);
        }
        return Status::Ok;
    }
    void simPeripheralSubscribe(SimBlePeripheralDevice&, const std::string&, const std::string&,
                                const std::string& characteristic, bool enabled) override {
        events.add("subscribe " + characteristic + (enabled ? " on" : " off"));
    }
    void simPeripheralCentralConnected(SimBlePeripheralDevice&, const std::string&,
                                       uint16_t mtu) override {
        events.add("central connected " + std::to_string(mtu));
    }
    void simPeripheralCentralDisconnected(SimBlePeripheralDevice&, const std::string&) override {
        events.add("central disconnected");
    }
};

std::vector<SimService> phoneServices() {
    using namespace CharacteristicProperty;
    return {SimService{kService,
                       {SimCharacteristic{kDeviceId, Read, Bytes{'d', 'i', 'd'}},
                        SimCharacteristic{kCommunicate, Write | WriteWithoutResponse | Notify, {}},
                        SimCharacteristic{kDelivered, Write | Notify, {}}}},
            SimService{"180A", {SimCharacteristic{"2A24", Read, Bytes{'i', 'P'}}}}};
}

AdvertisementData phoneAdvert() {
    AdvertisementData adv;
    adv.localName = "Test Phone";
    adv.serviceUuids = std::vector<std::string>{"11111111-2222-3333-4444-555555555555"};
    adv.manufacturerData = Bytes{0x4C, 0x00, 1, 2, 3};
    adv.isConnectable = true;
    return adv;
}

class SimRadio : public ::testing::Test {
  protected:
    void SetUp() override {
        path = blectest::tempSocketPath("radio");
        air = std::make_unique<SimBleAir>(path);
        ASSERT_TRUE(air->start());
        phone = std::make_shared<Phone>();
        SimPeripheralOptions options{path, kPhone, "Test Phone", kDefaultMtu};
        phone->device = SimBlePeripheralDevice::create(options, phone);
        ASSERT_TRUE(phone->device->open());
        ASSERT_TRUE(phone->device->setServices(phoneServices()));
        ASSERT_TRUE(phone->device->startAdvertising(phoneAdvert()));
        recorder = std::make_shared<Recorder>("test.central");
        queue = DispatchQueue::create("test.central", DispatchQueue::Kind::Concurrent);
        SimCentralOptions copts;
        copts.socketPath = path;
        copts.reconnectInterval = 0.05;
        central = createSimBleCentral(copts, recorder, queue);
        ASSERT_TRUE(recorder->events.waitFor("state CBCentralManagerStatePoweredOn"));
    }

    void TearDown() override {
        central.reset();
        if (phone && phone->device) phone->device->close();
        air.reset();
        if (recorder) EXPECT_EQ(recorder->offQueue, 0) << "an event ran off the central's queue";
    }

    // Scans, connects and discovers the phone service's characteristics.
    std::shared_ptr<BlePeripheral> connectPhone() {
        central->scanForPeripherals({}, true);
        EXPECT_TRUE(recorder->events.waitFor("discover " + kPhone));
        auto p = recorder->peripheral(kPhone);
        if (!p) return nullptr;
        p->setDelegate(recorder);
        central->connect(p);
        EXPECT_TRUE(recorder->events.waitFor("connect " + kPhone));
        size_t mark = recorder->events.size();
        p->discoverServices({kService});
        EXPECT_TRUE(recorder->events.waitFor("services " + kService, mark));
        p->discoverCharacteristics({}, p->serviceByServiceId(kService));
        EXPECT_TRUE(recorder->events.waitFor(
            "characteristics " + kService + " " + kDeviceId + " " + kCommunicate + " " + kDelivered,
            mark));
        return p;
    }

    std::string path;
    std::unique_ptr<SimBleAir> air;
    std::shared_ptr<Phone> phone;
    std::shared_ptr<Recorder> recorder;
    std::shared_ptr<DispatchQueue> queue;
    std::shared_ptr<BleCentral> central;
};

TEST_F(SimRadio, FindsConnectsDiscoversReadsWritesAndGetsNotifications) {
    auto p = connectPhone();
    ASSERT_TRUE(p);
    EXPECT_EQ(recorder->lastAdvertisement(kPhone), phoneAdvert());
    EXPECT_EQ(p->name(), "Test Phone");
    EXPECT_EQ(p->state(), PeripheralState::Connected);
    EXPECT_TRUE(phone->events.waitFor("central connected 185"));
    // Both sides agree on the smaller MTU: 185 - 3 bytes per write.
    EXPECT_EQ(p->maximumWriteValueLength(WriteType::WithoutResponse), 182u);
    EXPECT_EQ(central->retrievePeripherals({kPhone, "5A:FF:FF:FF:FF:FF"}).size(), 1u);

    auto service = p->serviceByServiceId(kService);
    ASSERT_TRUE(service);
    EXPECT_EQ(p->services().size(), 1u) << "the filter asked for one service";
    auto did = service->characteristicByCharacteristicId(kDeviceId);
    auto comm = service->characteristicByCharacteristicId(kCommunicate);
    auto delivered = service->characteristicByCharacteristicId(kDelivered);
    ASSERT_TRUE(did && comm && delivered);
    EXPECT_FALSE(p->serviceByServiceId("05550d60-f72f-11e5-97d7-0002a5d5c51b"))
        << "lookups compare the text exactly";
    EXPECT_TRUE(comm->hasProperty(CharacteristicProperty::Notify));

    p->readValue(did);
    EXPECT_TRUE(recorder->events.waitFor("value " + kDeviceId + " 646964"));
    EXPECT_EQ(did->value(), (Bytes{'d', 'i', 'd'}));

    p->setNotifyValue(true, comm);
    EXPECT_TRUE(recorder->events.waitFor("notifying " + kCommunicate + " on"));
    EXPECT_TRUE(phone->events.waitFor("subscribe " + kCommunicate + " on"));

    ASSERT_TRUE(p->writeValue(Bytes{1, 2, 3}, comm, WriteType::WithoutResponse));
    EXPECT_TRUE(phone->events.waitFor("write " + kCommunicate + " 010203"));
    EXPECT_TRUE(recorder->events.waitFor("value " + kCommunicate + " 030201"));

    ASSERT_TRUE(p->writeValue(Bytes{5, 0, 0, 0}, delivered, WriteType::WithResponse));
    EXPECT_TRUE(phone->events.waitFor("write " + kDelivered + " 05000000 response"));
    EXPECT_TRUE(recorder->events.waitFor("written " + kDelivered));

    // A full-size write passes, one byte more is refused before it reaches the air.
    EXPECT_TRUE(p->writeValue(Bytes(182, 7), comm, WriteType::WithoutResponse));
    EXPECT_FALSE(p->writeValue(Bytes(183, 7), comm, WriteType::WithoutResponse));
    // The delivered-id characteristic takes no write without response.
    EXPECT_FALSE(p->writeValue(Bytes{1}, delivered, WriteType::WithoutResponse));
    EXPECT_TRUE(
        recorder->events.waitFor("value " + kCommunicate + " " + blectest::hex(Bytes(182, 7))));
}

TEST_F(SimRadio, NotificationsKeepTheirOrder) {
    auto p = connectPhone();
    ASSERT_TRUE(p);
    auto comm = p->serviceByServiceId(kService)->characteristicByCharacteristicId(kCommunicate);
    p->setNotifyValue(true, comm);
    ASSERT_TRUE(phone->events.waitFor("subscribe " + kCommunicate + " on"));
    const std::string central = phone->device->connectedCentrals().at(0);
    for (uint8_t i = 0; i < 100; ++i) {
        ASSERT_EQ(phone->device->notify(kService, kCommunicate, Bytes{i}, central), 1u);
    }
    ASSERT_TRUE(recorder->events.waitFor("value " + kCommunicate + " 63"));
    std::vector<std::string> values;
    for (const auto& l : recorder->events.lines()) {
        if (l.rfind("value " + kCommunicate, 0) == 0) values.push_back(l);
    }
    ASSERT_EQ(values.size(), 100u);
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i], "value " + kCommunicate + " " + blectest::hex(Bytes{uint8_t(i)}));
    }
    // A value longer than MTU - 3 is not sent.
    EXPECT_EQ(phone->device->notify(kService, kCommunicate, Bytes(183, 1)), 0u);
}

TEST_F(SimRadio, ErrorsComeBackAsAnswers) {
    auto p = connectPhone();
    ASSERT_TRUE(p);
    auto comm = p->serviceByServiceId(kService)->characteristicByCharacteristicId(kCommunicate);
    // No read property: the answer is an error, the phone is not asked.
    p->readValue(comm);
    EXPECT_TRUE(recorder->events.waitFor("value " + kCommunicate + " error"));
    // The device id characteristic does not notify.
    auto did = p->serviceByServiceId(kService)->characteristicByCharacteristicId(kDeviceId);
    p->setNotifyValue(true, did);
    EXPECT_TRUE(recorder->events.waitFor("notifying " + kDeviceId + " error"));
}

TEST_F(SimRadio, PeripheralObjectGoingAwayDisconnectsWithAnError) {
    auto p = connectPhone();
    ASSERT_TRUE(p);
    phone->device.reset();
    EXPECT_TRUE(recorder->events.waitFor("disconnect " + kPhone + " error"));
    EXPECT_EQ(p->state(), PeripheralState::Disconnected);
    EXPECT_TRUE(p->services().empty()) << "discovered services end with the connection";
}

TEST_F(SimRadio, PeripheralDisconnectingTheCentralAndTheCentralCancelling) {
    auto p = connectPhone();
    ASSERT_TRUE(p);
    // The central may learn of the connection before the phone's own reader thread does.
    ASSERT_TRUE(phone->events.waitUntil([&] { return !phone->device->connectedCentrals().empty(); }));
    const std::string id = phone->device->connectedCentrals().at(0);
    ASSERT_TRUE(phone->device->disconnectCentral(id));
    EXPECT_TRUE(recorder->events.waitFor("disconnect " + kPhone + " error"));

    size_t mark = recorder->events.size();
    central->connect(p);
    ASSERT_TRUE(recorder->events.waitFor("connect " + kPhone, mark));
    central->cancelPeripheralConnection(p);
    EXPECT_TRUE(recorder->events.waitFor("disconnect " + kPhone, mark));
    EXPECT_TRUE(
        phone->events.waitUntil([&] { return phone->events.count("central disconnected") == 2; }));
}

TEST_F(SimRadio, ConnectWaitsUntilThePeripheralAdvertises) {
    central->scanForPeripherals({}, false);
    ASSERT_TRUE(recorder->events.waitFor("discover " + kPhone));
    auto p = recorder->peripheral(kPhone);
    ASSERT_TRUE(phone->device->stopAdvertising());
    // The stop reaches the hub before the connect (both travel in order from
    // different sockets; wait for the hub to have seen it via a round trip).
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    central->connect(p);
    EXPECT_EQ(p->state(), PeripheralState::Connecting);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(recorder->events.count("connect " + kPhone), 0u);
    ASSERT_TRUE(phone->device->startAdvertising(phoneAdvert()));
    EXPECT_TRUE(recorder->events.waitFor("connect " + kPhone));
}

TEST_F(SimRadio, ScanFilterAndDuplicates) {
    // Without duplicates a peripheral is reported once per scan.
    central->scanForPeripherals({}, false);
    ASSERT_TRUE(recorder->events.waitFor("discover " + kPhone));
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    EXPECT_EQ(recorder->events.count("discover " + kPhone), 1u);
    // With duplicates it keeps coming at the advertising interval.
    central->scanForPeripherals({}, true);
    EXPECT_TRUE(recorder->events.waitUntil(
        [&] { return recorder->events.count("discover " + kPhone) >= 4; }));
    central->stopScan();
    EXPECT_FALSE(central->isScanning());
    // A filter that the advertisement does not carry reports nothing.
    size_t before = recorder->events.count("discover " + kPhone);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    before = recorder->events.count("discover " + kPhone);
    central->scanForPeripherals({"AAAAAAAA-2222-3333-4444-555555555555"}, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(recorder->events.count("discover " + kPhone), before);
    central->scanForPeripherals({"11111111-2222-3333-4444-555555555555"}, true);
    EXPECT_TRUE(recorder->events.waitUntil(
        [&] { return recorder->events.count("discover " + kPhone) > before; }));
}

TEST_F(SimRadio, RadioPowerAndHubLoss) {
    auto p = connectPhone();
    ASSERT_TRUE(p);
    size_t mark = recorder->events.size();
    air->setCentralState(CentralState::PoweredOff);
    EXPECT_TRUE(recorder->events.waitFor("state CBCentralManagerStatePoweredOff", mark));
    EXPECT_TRUE(recorder->events.waitFor("disconnect " + kPhone + " error", mark));
    EXPECT_EQ(central->state(), CentralState::PoweredOff);
    air->setCentralState(CentralState::PoweredOn);
    EXPECT_TRUE(recorder->events.waitFor("state CBCentralManagerStatePoweredOn", mark));

    // The hub goes away: powered off; it comes back: powered on again.
    mark = recorder->events.size();
    air->stop();
    EXPECT_TRUE(recorder->events.waitFor("state CBCentralManagerStatePoweredOff", mark));
    ASSERT_TRUE(air->start());
    EXPECT_TRUE(recorder->events.waitFor("state CBCentralManagerStatePoweredOn", mark));
}

TEST_F(SimRadio, ServicesThatThePeripheralTakesAwayAreReported) {
    auto p = connectPhone();
    ASSERT_TRUE(p);
    ASSERT_TRUE(phone->device->setServices({SimService{"180A", {}}}));
    EXPECT_TRUE(recorder->events.waitFor("modified " + kService));
    EXPECT_FALSE(p->serviceByServiceId(kService));
}

TEST_F(SimRadio, SecondPeripheralWithTheSameAddressIsRefused) {
    auto twin = std::make_shared<Phone>();
    twin->device = SimBlePeripheralDevice::create({path, kPhone, "Twin", kDefaultMtu}, twin);
    ASSERT_TRUE(twin->device->open());
    EXPECT_TRUE(twin->events.waitUntil([&] { return !twin->device->isOpen(); }));
    EXPECT_EQ(air->peripheralCount(), 1u);
}

#ifdef BLEC_SIM_PERIPHERAL_HELPER
TEST_F(SimRadio, PeripheralProcessKilledDisconnectsTheCentral) {
    const std::string helperId = "5A:00:00:00:00:99";
    const std::string helper = BLEC_SIM_PERIPHERAL_HELPER;
    char* argv[] = {const_cast<char*>(helper.c_str()), const_cast<char*>(path.c_str()),
                    const_cast<char*>(helperId.c_str()), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, helper.c_str(), nullptr, nullptr, argv, environ), 0);
    central->scanForPeripherals({}, true);
    ASSERT_TRUE(recorder->events.waitFor("discover " + helperId));
    auto p = recorder->peripheral(helperId);
    p->setDelegate(recorder);
    central->connect(p);
    ASSERT_TRUE(recorder->events.waitFor("connect " + helperId));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(recorder->events.waitFor("disconnect " + helperId + " error"));
    EXPECT_EQ(p->state(), PeripheralState::Disconnected);
}
#endif

TEST(SimRadioNoHub, CentralIsPoweredOffUntilTheHubAppears) {
    const std::string path = blectest::tempSocketPath("late");
    auto recorder = std::make_shared<Recorder>("test.late");
    auto queue = DispatchQueue::create("test.late", DispatchQueue::Kind::Concurrent);
    SimCentralOptions options;
    options.socketPath = path;
    options.reconnectInterval = 0.05;
    auto central = createSimBleCentral(options, recorder, queue);
    EXPECT_TRUE(recorder->events.waitFor("state CBCentralManagerStatePoweredOff"));
    EXPECT_EQ(central->state(), CentralState::PoweredOff);
    central->scanForPeripherals({}, true);
    EXPECT_FALSE(central->isScanning());
    SimBleAir air(path);
    ASSERT_TRUE(air.start());
    EXPECT_TRUE(recorder->events.waitFor("state CBCentralManagerStatePoweredOn"));
    central.reset();
    EXPECT_EQ(recorder->offQueue, 0);
}

TEST(BleCentralFactory, SpecSelectsTheSimulatedRadioAndNoFactoryMeansUnsupported) {
    EXPECT_TRUE(bleCentralFactoryForSpec("sim:/tmp/x.sock"));
    EXPECT_FALSE(bleCentralFactoryForSpec("sim:"));
    EXPECT_FALSE(bleCentralFactoryForSpec("bluez"));

    auto recorder = std::make_shared<Recorder>("test.none");
    auto queue = DispatchQueue::create("test.none");
    setDefaultBleCentralFactory({});
    auto central = createBleCentral(recorder, queue);
    EXPECT_TRUE(recorder->events.waitFor("state CBCentralManagerStateUnsupported"));
    EXPECT_EQ(central->state(), CentralState::Unsupported);
    EXPECT_TRUE(central->retrievePeripherals({"x"}).empty());
}

}  // namespace
}  // namespace lumvane
