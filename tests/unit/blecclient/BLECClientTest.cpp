// The phone client on the simulated radio: finding and keeping the paired phone,
// losing and finding it again, pairing mode, Bluetooth power, and peripherals that
// only pretend to be the paired phone. Link time runs on a manual clock.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <mutex>

#include "BlecTestSupport.h"
#include "PhoneSim.h"
#include "blec/BLECClient.h"
#include "blec/BLECLog.h"
#include "blec/BLECThriftTransport.h"
#include "protocol/ProtocolLimits.h"
#include "runtime/Clock.h"
#include "runtime/DispatchQueue.h"

namespace lumvane::blectest {
namespace {

using phonesim::PhoneSim;
using phonesim::PhoneSimOptions;

constexpr const char* kPhoneId = "6F1C2D3E-4A5B-4C6D-8E9F-A0B1C2D3E4F5";
constexpr const char* kPhoneAddress = "5A:12:9C:00:00:01";

// What the client reported, in order.
class Recorder : public BLECClientDelegate {
  public:
    struct Event {
        std::string what;
        std::shared_ptr<BLECMutableThriftFactoryTransport> transport;
        std::string text;
    };

    void blecClientDidBluetoothStateChange(BLECClient&, bool on) override {
        add({on ? "on" : "off", nullptr, {}});
    }
    std::shared_ptr<BLECMutableDeviceInfo> blecClientGetPairedDeviceInfoByBLEId(
        BLECClient&, const std::string& bleId) override {
        std::lock_guard<std::mutex> lock(mutex_);
        asked_.push_back(bleId);
        return stored_;
    }
    void blecClientDidFindTransportFactory(
        BLECClient&, const std::shared_ptr<BLECMutableThriftFactoryTransport>& t) override {
        add({"found", t, {}});
    }
    void blecClientDidLostTransportFactory(
        BLECClient&, const std::shared_ptr<BLECMutableThriftFactoryTransport>& t) override {
        add({"lost", t, {}});
    }
    void blecClientDidInvalidateDeviceId(BLECClient&) override { add({"invalidate", nullptr, {}}); }
    void blecClientDidChangePairingStatus(BLECClient&, const std::string& status) override {
        add({"status", nullptr, status});
    }

    std::vector<Event> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    size_t count(const std::string& what) const {
        size_t n = 0;
        for (const auto& e : events()) n += e.what == what;
        return n;
    }
    std::vector<std::shared_ptr<BLECMutableThriftFactoryTransport>> transports(
        const std::string& what) const {
        std::vector<std::shared_ptr<BLECMutableThriftFactoryTransport>> out;
        for (const auto& e : events())
            if (e.what == what) out.push_back(e.transport);
        return out;
    }
    std::vector<std::string> statuses() const {
        std::vector<std::string> out;
        for (const auto& e : events())
            if (e.what == "status") out.push_back(e.text);
        return out;
    }
    std::vector<std::string> asked() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return asked_;
    }
    void setStored(std::shared_ptr<BLECMutableDeviceInfo> info) {
        std::lock_guard<std::mutex> lock(mutex_);
        stored_ = std::move(info);
    }

  private:
    void add(Event e) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(e));
    }
    mutable std::mutex mutex_;
    std::vector<Event> events_;
    std::vector<std::string> asked_;
    std::shared_ptr<BLECMutableDeviceInfo> stored_;
};

struct ClientRig {
    std::string path = socketPath();
    ble::sim::SimBleAir air{path};
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    TBNBlecPeripheralStore store;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<BLECClient> client;

    explicit ClientRig(bool poweredOn = true) {
        // Before start: the radio reads it without a lock while it runs.
        air.setAdvertisingInterval(std::chrono::milliseconds(20));
        EXPECT_TRUE(air.start());
        if (!poweredOn) air.setCentralState(ble::CentralState::PoweredOff);
        store.setNotifier([](std::function<void()> f) { f(); });
        BLECClient::Options o;
        o.centralFactory = *ble::bleCentralFactoryForSpec("sim:" + path);
        o.peripheralStore = &store;
        o.clock = clock;
        client = BLECClient::create("private-key", "certificate", o);
        client->setDelegate(recorder);
        // The central reports its state once it reached the radio.
        EXPECT_TRUE(waitFor([&] { return recorder->count(poweredOn ? "on" : "off") >= 1; }));
    }
    ~ClientRig() {
        client->stop();
        client.reset();
        clock->cancelAll();
        air.stop();
        settle(std::chrono::milliseconds(50));
        clock->cancelAll();
    }

    std::shared_ptr<PhoneSim> phone(const std::string& address = kPhoneAddress) {
        PhoneSimOptions po;
        po.socketPath = path;
        po.address = address;
        auto p = PhoneSim::create(po, phonesim::loadVaultFile(PHONE_SIM_FIXTURE));
        EXPECT_TRUE(p->start());
        return p;
    }

    // Moves link time one loop interval at a time (the loop and the watchdogs run
    // on the manual clock), giving each tick a moment of real time to finish.
    void advance(double seconds) {
        for (double t = 0; t < seconds; t += 1.0) {
            clock->advance(1.0);
            settle(std::chrono::milliseconds(30));
        }
    }
};

std::shared_ptr<TBNGetSitesCacheRequest> sitesCacheRequest() {
    auto info = std::make_shared<TBNRequestInfo>();
    info->setId("req-1");
    info->setTimeStampUtc(1700000000);
    info->setContextName("blecclient");
    auto r = std::make_shared<TBNGetSitesCacheRequest>();
    r->setInfo(info);
    r->setUpdateTimeStamp(0);
    r->setIncludeAccountsCache(true);
    return r;
}

// ---- the advertisement rule ----------------------------------------------------------------

ble::AdvertisementData manufacturer(Bytes data) {
    ble::AdvertisementData ad;
    ad.manufacturerData = std::move(data);
    ad.isConnectable = true;
    return ad;
}

// 4C 00, one byte not examined, four mask bytes, twelve bytes not compared.
Bytes mask(uint8_t b3, uint8_t b4, uint8_t b5, uint8_t b6, size_t size = 19, uint8_t b0 = 0x4C) {
    Bytes d(size, 0xEE);
    d[0] = b0;
    d[1] = 0x00;
    if (size > 6) {
        d[2] = 0x00;
        d[3] = b3;
        d[4] = b4;
        d[5] = b5;
        d[6] = b6;
    }
    return d;
}

TEST(BLECClientAdvertisementRule, MatchesServiceUuidsAndManufacturerMasks) {
    // Device id bytes 0..3: 6F 1C 2D 3E ("00" bytes are covered by anything).
    const auto id = BLECClient::deviceIdUuid(kPhoneId);
    const auto zeroId = BLECClient::deviceIdUuid("00000000-4A5B-4C6D-8E9F-A0B1C2D3E4F5");
    const auto token = BLECClient::authTokenUuid("A1B2C3D4E5F60718");
    ASSERT_TRUE(id && zeroId && token);
    using M = BLECClient::Match;
    struct Case {
        const char* name;
        ble::AdvertisementData ad;
        std::optional<std::string> idUuid, tokenUuid;
        M expected;
    };
    auto withBoth = advertising({"180A"});
    withBoth.manufacturerData = mask(0x6F, 0x1C, 0x2D, 0x3E);
    const std::vector<Case> cases = {
        {"service list with the id", advertising({"180A", kPhoneId}), id, {}, M::ServiceUuid},
        {"id in lower case",
         advertising({"6f1c2d3e-4a5b-4c6d-8e9f-a0b1c2d3e4f5"}),
         id,
         {},
         M::ServiceUuid},
        {"service list without the id", advertising({"180A"}), id, {}, M::None},
        {"list without the id beats matching manufacturer data", withBoth, id, {}, M::None},
        {"token uuid in pairing mode", advertising({*token}), {}, token, M::ServiceUuid},
        {"device id while pairing", advertising({kPhoneId}), {}, token, M::None},
        {"exact mask", manufacturer(mask(0x6F, 0x1C, 0x2D, 0x3E)), id, {}, M::ManufacturerData},
        {"mask with extra bits",
         manufacturer(mask(0xFF, 0x1D, 0xFF, 0x3F)),
         id,
         {},
         M::ManufacturerData},
        {"mask missing one bit", manufacturer(mask(0x6F, 0x1C, 0x2D, 0x3C)), id, {}, M::None},
        {"18 bytes", manufacturer(mask(0x6F, 0x1C, 0x2D, 0x3E, 18)), id, {}, M::None},
        {"20 bytes", manufacturer(mask(0x6F, 0x1C, 0x2D, 0x3E, 20)), id, {}, M::None},
        {"other company", manufacturer(mask(0x6F, 0x1C, 0x2D, 0x3E, 19, 0x4D)), id, {}, M::None},
        {"zero id bytes accept any mask",
         manufacturer(mask(0x00, 0x5B, 0x4C, 0x6D)),
         zeroId,
         {},
         M::ManufacturerData},
        {"pairing mode never reads manufacturer data",
         manufacturer(mask(0xFF, 0xFF, 0xFF, 0xFF)),
         {},
         token,
         M::None},
        {"nothing looked for", advertising({kPhoneId}), {}, {}, M::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BLECClient::matchAdvertisement(c.ad, c.idUuid, c.tokenUuid), c.expected)
            << c.name;
    }
}

TEST(BLECClientAdvertisementRule, ZeroBytesOfTheIdAcceptAnyMask) {
    // Only the first four bytes count; 00 bytes there demand nothing.
    const auto id = BLECClient::deviceIdUuid("00FF0000-0000-0000-0000-000000000000");
    ASSERT_TRUE(id);
    for (uint8_t any : {uint8_t(0x00), uint8_t(0x5A), uint8_t(0xFF)}) {
        EXPECT_EQ(BLECClient::matchAdvertisement(manufacturer(mask(any, 0xFF, any, any)), id, {}),
                  BLECClient::Match::ManufacturerData);
        EXPECT_EQ(BLECClient::matchAdvertisement(manufacturer(mask(any, 0xFE, any, any)), id, {}),
                  BLECClient::Match::None);
    }
}

TEST(BLECClientAdvertisementRule, TokenAndDeviceIdUuids) {
    // The token's 16 UTF-8 bytes, upper-cased, are the UUID's bytes.
    EXPECT_EQ(BLECClient::authTokenUuid("a1b2c3d4e5f60718"),
              "41314232-4333-4434-4535-463630373138");
    EXPECT_EQ(BLECClient::authTokenUuid("A1B2C3D4E5F6071"), std::nullopt);
    EXPECT_EQ(BLECClient::authTokenUuid("A1B2C3D4E5F607189"), std::nullopt);
    EXPECT_EQ(BLECClient::deviceIdUuid("6f1c2d3e-4a5b-4c6d-8e9f-a0b1c2d3e4f5"), kPhoneId);
    EXPECT_EQ(BLECClient::deviceIdUuid("not a uuid"), std::nullopt);
    EXPECT_EQ(BLECClient::deviceIdUuid("180A"), std::nullopt);
}

// ---- finding, losing and finding the phone again ----------------------------------------------

TEST(BLECClientOnRadio, FindsThePairedPhoneAndHandsOverAConnectionThatCarriesCalls) {
    ClientRig rig;
    auto stored = std::make_shared<BLECMutableDeviceInfo>(kPhoneId, "tok", "Stored name", "iPhone",
                                                          "10.0", "1.2.0");
    rig.recorder->setStored(stored);
    auto phone = rig.phone();
    rig.client->startForDeviceId(kPhoneId, std::string(kPhoneAddress));
    EXPECT_TRUE(rig.client->running());
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 1; }));
    auto transport = rig.recorder->transports("found").front();
    ASSERT_TRUE(transport);
    EXPECT_EQ(transport, rig.client->currentTransport());
    EXPECT_EQ(transport->deviceInfo()->did(), kPhoneId);
    EXPECT_EQ(transport->deviceInfo()->bleId(), kPhoneAddress);
    // The connection was seeded with what is stored under that identifier.
    EXPECT_EQ(rig.recorder->asked(), std::vector<std::string>{kPhoneAddress});
    EXPECT_FALSE(rig.client->scanning());
    EXPECT_TRUE(rig.recorder->statuses().empty());

    TBNMobileStorageServiceClient mobile(makeCompactProtocol(transport->transport()));
    auto cache = mobile.getSitesCache(sitesCacheRequest());
    ASSERT_TRUE(cache && cache->sitesCache());
    EXPECT_EQ(*cache->sitesCache()->urlsCache(),
              (std::set<std::string>{"github.com", "example.com"}));

    // Repeated advertisements and loop ticks make no second connection.
    rig.advance(3);
    settle();
    EXPECT_EQ(rig.recorder->count("found"), 1u);
    EXPECT_EQ(rig.client->currentTransport(), transport);
    EXPECT_EQ(rig.recorder->asked().size(), 1u);

    rig.client->stop();
    EXPECT_FALSE(rig.client->running());
    EXPECT_EQ(rig.recorder->transports("lost"),
              std::vector<std::shared_ptr<BLECMutableThriftFactoryTransport>>{transport});
    EXPECT_FALSE(rig.client->blecPeripheral());
    EXPECT_TRUE(waitFor([&] { return rig.air.connectionCount() == 0; }));
    phone->stop();
}

TEST(BLECClientOnRadio, PhoneThatGoesAwayIsLostAndFoundAgainWhenItComesBack) {
    ClientRig rig;
    auto phone = rig.phone();
    rig.client->startForDeviceId(kPhoneId, std::string(kPhoneAddress));
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 1; }));
    auto first = rig.recorder->transports("found").front();

    phone->stop();  // leaves the air: the connection drops
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("lost") == 2; }));
    EXPECT_EQ(rig.recorder->transports("lost").front(), first);
    ASSERT_TRUE(waitFor([&] { return rig.client->scanning(); }));
    EXPECT_FALSE(rig.client->blecPeripheral());
    EXPECT_TRUE(rig.client->running());

    auto again = rig.phone();
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 2; }));
    auto second = rig.recorder->transports("found").back();
    EXPECT_NE(second, first);
    EXPECT_EQ(second->deviceInfo()->did(), kPhoneId);
    TBNMobileStorageServiceClient mobile(makeCompactProtocol(second->transport()));
    auto cache = mobile.getSitesCache(sitesCacheRequest());
    EXPECT_TRUE(cache && cache->sitesCache());
    again->stop();
}

// The phone-sim program, killed and started again.
class PhoneSimProcess {
  public:
    explicit PhoneSimProcess(const std::string& path) {
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args = {PHONE_SIM_PROGRAM, "--air", path, "--fixture",
                                         PHONE_SIM_FIXTURE};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, PHONE_SIM_PROGRAM, &actions, nullptr, argv.data(), environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = fdopen(out[0], "r");
        char line[256] = {};
        ready_ =
            fgets(line, sizeof line, out_) && std::string(line).rfind("phone-sim ready", 0) == 0;
    }
    ~PhoneSimProcess() {
        kill(SIGKILL);
        fclose(out_);
    }
    bool ready() const { return ready_; }
    void kill(int signal) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
    }

  private:
    pid_t pid_ = 0;
    FILE* out_ = nullptr;
    bool ready_ = false;
};

TEST(BLECClientOnRadio, KilledPhoneSimIsLostAndItsRestartIsReconnected) {
    ClientRig rig;
    rig.client->startForDeviceId(kPhoneId, std::string(kPhoneAddress));
    {
        PhoneSimProcess phone(rig.path);
        ASSERT_TRUE(phone.ready());
        ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 1; }));
        phone.kill(SIGKILL);
        // Lost while online, then disconnected: both are reported.
        ASSERT_TRUE(waitFor([&] { return rig.recorder->count("lost") == 2; }));
        for (const auto& t : rig.recorder->transports("lost")) {
            EXPECT_EQ(t, rig.recorder->transports("found").front());
        }
        ASSERT_TRUE(waitFor([&] { return rig.client->scanning(); }));
    }
    PhoneSimProcess restarted(rig.path);
    ASSERT_TRUE(restarted.ready());
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 2; }));
    auto transport = rig.recorder->transports("found").back();
    TBNMobileStorageServiceClient mobile(makeCompactProtocol(transport->transport()));
    auto cache = mobile.getSitesCache(sitesCacheRequest());
    EXPECT_TRUE(cache && cache->sitesCache());
}

TEST(BLECClientOnRadio, ConnectionThatNeverComesUpIsDroppedAtTheConnectTimeout) {
    ClientRig rig;
    // It advertises the id but takes no connection: the radio keeps the connect
    // pending, as a phone out of range does.
    auto ad = advertising({kPhoneId});
    ad.isConnectable = false;
    FakePeripheral unreachable(rig.path, kPhoneAddress, ad, {appService(kPhoneId)});
    ASSERT_TRUE(unreachable.start());
    rig.client->startForDeviceId(kPhoneId, std::string(kPhoneAddress));
    ASSERT_TRUE(waitFor([&] { return rig.client->currentTransport() != nullptr; }));
    auto first = rig.client->currentTransport();
    rig.advance(9);
    settle();
    EXPECT_EQ(rig.recorder->count("lost"), 0u);
    EXPECT_EQ(rig.client->currentTransport(), first);
    // More than 10 s of link time: the connection gives up, the client scans and
    // picks the phone again with a fresh connection.
    rig.advance(3);
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("lost") >= 1; }));
    EXPECT_EQ(rig.recorder->transports("lost").front(), first);
    ASSERT_TRUE(waitFor([&] {
        auto t = rig.client->currentTransport();
        return t && t != first;
    }));
    EXPECT_EQ(rig.recorder->count("found"), 0u);
}

// ---- Bluetooth power ----------------------------------------------------------------------------

TEST(BLECClientOnRadio, WaitsForBluetoothAndFollowsItsPower) {
    ClientRig rig(/*poweredOn=*/false);
    auto phone = rig.phone();
    rig.client->startForDeviceId(kPhoneId, std::nullopt);
    EXPECT_TRUE(rig.client->running());
    settle();
    EXPECT_FALSE(rig.client->scanning());
    EXPECT_EQ(rig.recorder->count("found"), 0u);

    rig.air.setCentralState(ble::CentralState::PoweredOn);
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("on") == 1; }));
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 1; }));

    rig.air.setCentralState(ble::CentralState::PoweredOff);
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("off") == 2; }));
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("lost") >= 1; }));
    settle();
    EXPECT_FALSE(rig.client->scanning());
    EXPECT_TRUE(rig.client->running());

    rig.air.setCentralState(ble::CentralState::PoweredOn);
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 2; }));
    phone->stop();
}

TEST(BLECClientOnRadio, DelegateSetAfterTheFirstStateReportStillHearsIt) {
    ClientRig rig;
    BLECClient::Options o;
    o.centralFactory = *ble::bleCentralFactoryForSpec("sim:" + rig.path);
    o.peripheralStore = &rig.store;
    o.clock = rig.clock;
    auto client = BLECClient::create("k", "c", o);
    ASSERT_TRUE(waitFor([&] {
        return client->blecCentralManager()->centralManager()->state() ==
               ble::CentralState::PoweredOn;
    }));
    settle(std::chrono::milliseconds(100));  // the first report went to no one
    auto late = std::make_shared<Recorder>();
    client->setDelegate(late);
    ASSERT_TRUE(waitFor([&] { return late->count("on") == 1; }));
    rig.air.setCentralState(ble::CentralState::PoweredOff);
    ASSERT_TRUE(waitFor([&] { return late->count("off") == 1; }));
    settle(std::chrono::milliseconds(100));
    EXPECT_EQ(late->count("on"), 1u);
}

TEST(BLECClientOnRadio, UnsupportedAndUnauthorizedStatesAreNotReported) {
    ClientRig rig;
    const size_t reports = rig.recorder->count("on") + rig.recorder->count("off");
    rig.air.setCentralState(ble::CentralState::Unsupported);
    settle();
    rig.air.setCentralState(ble::CentralState::Unauthorized);
    settle();
    EXPECT_EQ(rig.recorder->count("on") + rig.recorder->count("off"), reports);
}

// ---- pairing mode -------------------------------------------------------------------------------

TEST(BLECClientOnRadio, PairingModeFindsThePhoneShowingTheToken) {
    ClientRig rig;
    const std::string token = "A1B2C3D4E5F60718";
    auto paired = rig.phone();  // advertises its device id: not what pairing looks for
    FakePeripheral pairing(rig.path, "5A:12:9C:00:00:07",
                           advertising({*BLECClient::authTokenUuid(token)}),
                           {appService("11111111-2222-3333-4444-555555555555")});
    ASSERT_TRUE(pairing.start());
    rig.client->startForAuthToken(token);
    EXPECT_TRUE(rig.client->pairingMode());
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 1; }));
    auto transport = rig.recorder->transports("found").front();
    EXPECT_EQ(transport->deviceInfo()->bleId(), "5A:12:9C:00:00:07");
    EXPECT_EQ(transport->deviceInfo()->did(), "11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(rig.recorder->statuses(),
              (std::vector<std::string>{
                  BLECClient::defaultPairingStatusText("PAIR_STATE_SEARCH_FOR_PHONE"),
                  BLECClient::defaultPairingStatusText("PAIR_STATE_CONNECTING"),
                  BLECClient::defaultPairingStatusText("PAIR_STATE_READING_AUTH_DATA"),
                  BLECClient::defaultPairingStatusText("PAIR_STATE_COMPLETED")}));
    // Starting again while running changes nothing.
    rig.client->startForDeviceId(kPhoneId, std::nullopt);
    EXPECT_TRUE(rig.client->pairingMode());
    EXPECT_EQ(rig.client->currentAuthToken(), token);

    // Pairing done: the owner re-targets the running client to the new phone.
    rig.client->setPairedDeviceId("11111111-2222-3333-4444-555555555555",
                                  std::string("5A:12:9C:00:00:07"));
    EXPECT_EQ(rig.client->currentDeviceId(), "11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(rig.client->currentTransport(), transport);
    // ...and out of pairing mode: after a loss it looks for the paired phone.
    EXPECT_FALSE(rig.client->pairingMode());
    EXPECT_FALSE(rig.client->currentAuthToken());
    paired->stop();
}

TEST(BLECClientOnRadio, PairingModeTakesOnlySixteenByteTokensAndLocalisesStatuses) {
    ClientRig rig;
    rig.client->startForAuthToken("SHORT");
    EXPECT_FALSE(rig.client->running());
    rig.client.reset();
    BLECClient::Options o;
    o.centralFactory = *ble::bleCentralFactoryForSpec("sim:" + rig.path);
    o.peripheralStore = &rig.store;
    o.clock = rig.clock;
    o.localizedString = [](const std::string& key) { return "L:" + key; };
    rig.client = BLECClient::create("k", "c", o);
    rig.client->setDelegate(rig.recorder);
    rig.client->startForAuthToken("A1B2C3D4E5F60718");
    ASSERT_TRUE(waitFor([&] { return !rig.recorder->statuses().empty(); }));
    EXPECT_EQ(rig.recorder->statuses().front(), "L:PAIR_STATE_SEARCH_FOR_PHONE");
}

// ---- identity of the phone
// ------------------------------------------------------------------------

TEST(BLECClientOnRadio, LookAlikeCopyingTheAdvertisementIsNotHandedOverAndCostsNoPairing) {
    ClientRig rig;
    // Another peripheral advertises the paired phone's id, but its own id differs.
    FakePeripheral lookAlike(rig.path, "66:66:66:00:00:01", advertising({kPhoneId}),
                             {appService("99999999-8888-7777-6666-555555555555")});
    ASSERT_TRUE(lookAlike.start());
    rig.client->startForDeviceId(kPhoneId, std::string(kPhoneAddress));
    // It is connected, found out and dropped; the client scans again.
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("lost") >= 1; }));
    ASSERT_TRUE(waitFor([&] { return rig.client->scanning(); }));
    EXPECT_EQ(rig.recorder->count("found"), 0u);
    EXPECT_EQ(rig.recorder->count("invalidate"), 0u);
    EXPECT_TRUE(waitFor([&] { return lookAlike.connectedCentrals() == 0; }));

    // While it keeps advertising, the real phone is still found.
    auto phone = rig.phone();
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 1; }));
    auto transport = rig.recorder->transports("found").front();
    EXPECT_EQ(transport->deviceInfo()->bleId(), kPhoneAddress);
    EXPECT_EQ(rig.recorder->count("invalidate"), 0u);
    phone->stop();
}

TEST(BLECClientOnRadio, LookAlikeIsTriedAgainOnlyAfterItsPause) {
    ClientRig rig;
    FakePeripheral lookAlike(rig.path, "66:66:66:00:00:02", advertising({kPhoneId}),
                             {appService("99999999-8888-7777-6666-555555555555")});
    ASSERT_TRUE(lookAlike.start());
    rig.client->startForDeviceId(kPhoneId, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("lost") == 1; }));
    settle();
    EXPECT_EQ(rig.recorder->count("lost"), 1u);  // ignored while its pause runs
    rig.advance(31);
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("lost") == 2; }));
    EXPECT_EQ(rig.recorder->count("found"), 0u);
}

TEST(BLECClientOnRadio, BackgroundAdvertisementIsMatchedByItsManufacturerMask) {
    ClientRig rig;
    // A phone with the app in the background: no service list, only the 19-byte
    // manufacturer data whose mask covers the device id's first bytes.
    ble::AdvertisementData background;
    background.manufacturerData = mask(0x6F, 0x1C, 0x2D, 0x3E);
    background.isConnectable = true;
    FakePeripheral phone(rig.path, "5A:12:9C:00:00:21", background, {appService(kPhoneId)});
    // Anything whose mask has every bit set also matches, and is found out.
    ble::AdvertisementData everyBit;
    everyBit.manufacturerData = mask(0xFF, 0xFF, 0xFF, 0xFF);
    everyBit.isConnectable = true;
    FakePeripheral other(rig.path, "5A:12:9C:00:00:22", everyBit,
                         {appService("99999999-8888-7777-6666-555555555555")});
    ASSERT_TRUE(other.start());
    rig.client->startForDeviceId(kPhoneId, std::string(kPhoneAddress));
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("lost") >= 1; }));
    EXPECT_EQ(rig.recorder->count("found"), 0u);
    ASSERT_TRUE(phone.start());
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 1; }));
    EXPECT_EQ(rig.recorder->transports("found").front()->deviceInfo()->bleId(),
              "5A:12:9C:00:00:21");
    EXPECT_EQ(rig.recorder->count("invalidate"), 0u);
}

TEST(BLECClientOnRadio, PhoneOnAnotherIdentifierWithThePairedIdIsHandedOver) {
    ClientRig rig;
    // The paired phone now shows up under a new address (its radio address changed).
    auto phone = rig.phone("5A:12:9C:00:00:99");
    rig.client->startForDeviceId("6f1c2d3e-4a5b-4c6d-8e9f-a0b1c2d3e4f5",
                                 std::string(kPhoneAddress));
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 1; }));
    EXPECT_EQ(rig.recorder->transports("found").front()->deviceInfo()->bleId(),
              "5A:12:9C:00:00:99");
    EXPECT_EQ(rig.recorder->count("invalidate"), 0u);
    phone->stop();
}

TEST(BLECClientOnRadio, PairedIdStoredInLowerCaseIsStillThePairedPhone) {
    ClientRig rig;
    auto phone = rig.phone();
    // Device ids are UUID texts: a difference in letter case is no other phone,
    // and must not cost the pairing.
    rig.client->startForDeviceId("6f1c2d3e-4a5b-4c6d-8e9f-a0b1c2d3e4f5",
                                 std::string(kPhoneAddress));
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 1; }));
    EXPECT_EQ(rig.recorder->count("invalidate"), 0u);
    phone->stop();
}

TEST(BLECClientOnRadio, PairedIdentifierReportingAnotherDeviceIdInvalidatesThePairing) {
    ClientRig rig;
    FakePeripheral changed(rig.path, kPhoneAddress, advertising({kPhoneId}),
                           {appService("99999999-8888-7777-6666-555555555555")});
    ASSERT_TRUE(changed.start());
    rig.client->startForDeviceId(kPhoneId, std::string(kPhoneAddress));
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("invalidate") == 1; }));
    settle();
    EXPECT_EQ(rig.recorder->count("found"), 0u);
}

// ---- stop and late reports
// -------------------------------------------------------------------------

TEST(BLECClientOnRadio, StopDemotesFoundRecordsAndIgnoresLateReports) {
    ClientRig rig;
    auto found = std::make_shared<TBNBlecPeripheral>("AA:00:00:00:00:01");
    found->setState(TBNBlecPeripheralStateFound);
    auto other = std::make_shared<TBNBlecPeripheral>("AA:00:00:00:00:02");
    other->setState(TBNBlecPeripheralStateUnsupported);
    other->setNextConnectTime(7);
    rig.store.setBlePeripheral(found, found->bleId());
    rig.store.setBlePeripheral(other, other->bleId());

    auto phone = rig.phone();
    rig.client->startForDeviceId(kPhoneId, std::string(kPhoneAddress));
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 1; }));
    auto transport = rig.recorder->transports("found").front();
    rig.client->stop();
    rig.client->stop();  // a stop while stopped is ignored
    EXPECT_EQ(rig.recorder->count("lost"), 1u);
    EXPECT_EQ(found->state(), TBNBlecPeripheralStateSupported);
    EXPECT_EQ(found->nextConnectTime(), blecNowSeconds(*rig.clock));
    EXPECT_EQ(other->state(), TBNBlecPeripheralStateUnsupported);
    EXPECT_EQ(other->nextConnectTime(), 7);
    EXPECT_FALSE(rig.client->currentDeviceId());

    // A disconnection report after the stop: a null connection, no scan.
    rig.client->blecThriftTransportFactory(*transport, kPhoneAddress);
    auto lost = rig.recorder->transports("lost");
    ASSERT_EQ(lost.size(), 2u);
    EXPECT_EQ(lost.back(), nullptr);
    EXPECT_FALSE(rig.client->scanning());
    // A lost report for a connection that is not online changes nothing.
    rig.client->blecThriftTransportFactoryDidLostDevice(*transport);
    EXPECT_EQ(rig.recorder->count("lost"), 2u);
    phone->stop();
}

TEST(BLECClientOnRadio, DisconnectReportOfAnOldConnectionLeavesTheCurrentPhone) {
    ClientRig rig;
    auto phone = rig.phone();
    rig.client->startForDeviceId(kPhoneId, std::string(kPhoneAddress));
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 1; }));
    auto first = rig.recorder->transports("found").front();
    rig.client->stop();
    rig.client->startForDeviceId(kPhoneId, std::string(kPhoneAddress));
    ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 2; }));
    auto second = rig.recorder->transports("found").back();
    ASSERT_NE(first, second);

    rig.client->blecThriftTransportFactory(*first, kPhoneAddress);
    EXPECT_EQ(rig.client->currentTransport(), second);
    EXPECT_EQ(rig.recorder->count("lost"), 1u);
    phone->stop();
}

TEST(BLECClientOnRadio, LogLinesNameThePhoneButCarryNoKeys) {
    std::mutex m;
    std::vector<std::string> lines;
    auto old = blec::setLogSink([&](blec::LogLevel, std::string_view tags, std::string_view text) {
        std::lock_guard<std::mutex> lock(m);
        lines.push_back(std::string(tags) + " " + std::string(text));
    });
    {
        ClientRig rig;
        auto phone = rig.phone();
        rig.client->startForDeviceId(kPhoneId, std::string(kPhoneAddress));
        ASSERT_TRUE(waitFor([&] { return rig.recorder->count("found") == 1; }));
        phone->stop();
    }
    blec::setLogSink(old);
    std::lock_guard<std::mutex> lock(m);
    bool named = false;
    for (const auto& l : lines) {
        named = named || l == std::string(
                                  "core|blec|client founded device to connect "
                                  "[serviceUuids]: did - '") +
                                  kPhoneId + "', '<" + kPhoneAddress + "> Alice's iPhone'";
        EXPECT_EQ(l.find("private-key"), std::string::npos) << l;
        EXPECT_EQ(l.find("certificate"), std::string::npos) << l;
    }
    EXPECT_TRUE(named);
}

}  // namespace
}  // namespace lumvane::blectest
