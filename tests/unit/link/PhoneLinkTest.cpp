// End to end over the simulated radio: the Mac side's connection and transport
// against the simulated phone, with real chunking, compression and encryption.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <future>
#include <thread>

#include <thrift/transport/TTransportException.h>

#include "PhoneLinkHarness.h"
#include "PhoneSim.h"
#include "blec/BLECThriftTransport.h"
#include "platform/ble/SimBleAir.h"
#include "protocol/ProtocolLimits.h"
#include "runtime/Digest.h"
#include "runtime/HexString.h"

namespace lumvane::linktest {
namespace {

using phonesim::PhoneLinkHarness;
using phonesim::PhoneLinkOptions;
using phonesim::PhoneSim;
using phonesim::PhoneSimOptions;

std::string socketPath() {
    static std::atomic<int> n{0};
    return "/tmp/lumvane-link-" + std::to_string(::getpid()) + "-" + std::to_string(n++) + ".sock";
}

phonesim::VaultContent fixture() {
    return phonesim::loadVaultFile(PHONE_SIM_FIXTURE);
}

Bytes linkKey() {
    Bytes k(32);
    for (size_t i = 0; i < k.size(); ++i) k[i] = uint8_t(0x40 + i);
    return k;
}

std::shared_ptr<TBNRequestInfo> info(size_t contextLength = 8) {
    auto i = std::make_shared<TBNRequestInfo>();
    i->setId("req-1");
    i->setTimeStampUtc(1700000000);
    // A long, repetitive context makes the call worth compressing.
    i->setContextName(std::string(contextLength, 'c'));
    return i;
}

struct Rig {
    std::string path = socketPath();
    ble::sim::SimBleAir air{path};
    std::shared_ptr<PhoneSim> phone;
    std::shared_ptr<PhoneLinkHarness> link;
    std::shared_ptr<BLECMutableThriftFactoryTransport> connection;

    Rig(PhoneSimOptions po, phonesim::VaultContent vault, PhoneLinkOptions lo = {}) {
        EXPECT_TRUE(air.start());
        po.socketPath = path;
        phone = PhoneSim::create(po, std::move(vault));
        EXPECT_TRUE(phone->start());
        lo.socketPath = path;
        link = PhoneLinkHarness::create(lo);
        connection = link->connect(phone->deviceId());
        EXPECT_TRUE(connection);
    }
    ~Rig() {
        if (connection) connection->disconnect();
        link.reset();
        phone->stop();
        air.stop();
    }

    TBNMobileStorageServiceClient mobile() {
        return TBNMobileStorageServiceClient(makeCompactProtocol(connection->transport()));
    }
    TBNStorageServiceClient storage() {
        return TBNStorageServiceClient(makeCompactProtocol(connection->transport()));
    }
};

std::shared_ptr<TBNGetSitesCacheRequest> sitesCacheRequest(size_t contextLength) {
    auto r = std::make_shared<TBNGetSitesCacheRequest>();
    r->setInfo(info(contextLength));
    r->setUpdateTimeStamp(0);
    r->setIncludeAccountsCache(true);
    return r;
}

std::shared_ptr<TBNGetLoginDataRequest> loginRequest(const std::string& domain,
                                                     const std::string& login,
                                                     size_t contextLength = 8) {
    auto r = std::make_shared<TBNGetLoginDataRequest>();
    r->setInfo(info(contextLength));
    r->setDomain(domain);
    r->setLogin(login);
    return r;
}

std::string lowerHex(const Bytes& b) {
    auto s = stringWithHexData(b);
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct Variant {
    uint16_t mtu;  // the phone's MTU: chunks are MTU - 3
    bool compress;
    bool encrypt;
};

class PhoneLinkCalls : public testing::TestWithParam<Variant> {};

TEST_P(PhoneLinkCalls, SitesCacheAndLoginTravelToThePhoneAndBack) {
    const Variant v = GetParam();
    PhoneSimOptions po;
    po.mtu = v.mtu;
    if (v.encrypt) po.key = linkKey();
    auto vault = fixture();
    // Versions up to 1.0.4.1 get no compression.
    vault.device.appVersion = v.compress ? "1.0.4.2" : "1.0.4.1";
    PhoneLinkOptions lo;
    if (v.encrypt) lo.key = linkKey();
    Rig rig(po, vault, lo);
    ASSERT_TRUE(rig.connection);
    ASSERT_TRUE(rig.link->waitUntil(
        [&] { return rig.connection->deviceInfo()->appVersion() == vault.device.appVersion; }));

    const size_t context = 600;
    auto cache = rig.mobile().getSitesCache(sitesCacheRequest(context));
    ASSERT_TRUE(cache && cache->sitesCache());
    EXPECT_FALSE(cache->info()->error());
    EXPECT_EQ(cache->info()->requestId(), "req-1");
    EXPECT_EQ(*cache->sitesCache()->urlsCache(),
              (std::set<std::string>{"github.com", "example.com"}));
    EXPECT_EQ(*cache->sitesCache()->protectedUrlsCache(), (std::set<std::string>{"example.com"}));
    const auto& accounts = cache->sitesCache()->accountsCache()->at("github.com");
    EXPECT_TRUE(accounts->loginsCache()->count(lowerHex(sha256(std::string("alice")))));

    auto stats = rig.phone->stats();
    EXPECT_EQ(stats.announcedChunkSize, v.mtu - 3);
    if (!v.compress) EXPECT_EQ(stats.largestRequestChunk, size_t(v.mtu - 3));
    EXPECT_EQ(stats.lastRequestEncrypted, v.encrypt);
    EXPECT_EQ(stats.lastRequestCompressed, v.compress);

    auto login = rig.storage().getLoginData(loginRequest("example.com", "alice", context));
    ASSERT_TRUE(login && login->data());
    EXPECT_EQ(login->data()->password(), "p\u00e4ssw\u00f6rd \u2713");
    EXPECT_EQ(login->data()->notes(), "PIN is not here");

    auto second = rig.storage().getLoginData(loginRequest("github.com", "alice-work"));
    ASSERT_TRUE(second && second->data());
    EXPECT_EQ(second->data()->password(), "Tr0ub4dor&3");

    stats = rig.phone->stats();
    EXPECT_EQ(stats.methods,
              (std::vector<std::string>{"getSitesCache", "getLoginData", "getLoginData"}));
    EXPECT_EQ(stats.requestIds, (std::vector<uint16_t>{0, 1, 2}));
    // The Mac acknowledges every reply.
    EXPECT_TRUE(rig.link->waitUntil([&] { return rig.phone->stats().macAcks == 3; }));
    EXPECT_EQ(rig.phone->stats().macAckIds, (std::vector<uint32_t>{0, 1, 2}));
}

INSTANTIATE_TEST_SUITE_P(ChunkSizesCompressionEncryption, PhoneLinkCalls,
                         testing::Values(Variant{23, false, false}, Variant{23, true, false},
                                         Variant{23, false, true}, Variant{23, true, true},
                                         Variant{185, false, false}, Variant{185, true, false},
                                         Variant{185, false, true}, Variant{185, true, true}),
                         [](const testing::TestParamInfo<Variant>& i) {
                             return "chunk" + std::to_string(i.param.mtu - 3) +
                                    (i.param.compress ? "_compressed" : "_plain") +
                                    (i.param.encrypt ? "_encrypted" : "_clear");
                         });

TEST(PhoneLink, HandshakeFillsTheDeviceRecord) {
    Rig rig({}, fixture());
    ASSERT_TRUE(rig.connection);
    auto record = rig.connection->deviceInfo();
    ASSERT_TRUE(rig.link->waitUntil([&] { return record->appState() == 1; }));
    const auto v = record->snapshot();
    EXPECT_EQ(v.did, "6F1C2D3E-4A5B-4C6D-8E9F-A0B1C2D3E4F5") << "device id upper-cased";
    EXPECT_EQ(v.name, "Alice's iPhone");
    EXPECT_EQ(v.token, "a1b2c3d4e5f60718");
    EXPECT_EQ(v.model, "iPhone9,3");
    EXPECT_EQ(v.osVersion, "10.3.1");
    EXPECT_EQ(v.appVersion, "1.2.0");
    EXPECT_EQ(v.batteryLevel, 77u);
    EXPECT_EQ(v.batteryState, 2u);
    EXPECT_EQ(v.bleId, rig.phone->address());

    // Later values keep the record current.
    rig.phone->setUInt32("A010", 42);
    EXPECT_TRUE(rig.link->waitUntil([&] { return record->batteryLevel() == 42; }));
    rig.phone->notifyDbUpdated();
    EXPECT_TRUE(rig.link->waitUntil([&] { return rig.link->dbUpdates() == 1; }));
}

TEST(PhoneLink, PhoneWithoutDeliveredIdAndAppVersionStillAnswers) {
    PhoneSimOptions po;
    po.deliveredId = false;
    auto vault = fixture();
    vault.device.appVersion.reset();
    Rig rig(po, vault);
    ASSERT_TRUE(rig.connection);
    auto login = rig.storage().getLoginData(loginRequest("github.com", "alice", 2000));
    ASSERT_TRUE(login && login->data());
    EXPECT_EQ(login->data()->password(), "correct horse battery staple");
    EXPECT_FALSE(rig.phone->stats().lastRequestCompressed) << "version code 0: no compression";
    EXPECT_EQ(rig.phone->stats().macAcks, 0u);
}

TEST(PhoneLink, PhoneErrorsPassThroughUnchanged) {
    Rig rig({}, fixture());
    ASSERT_TRUE(rig.connection);
    auto missing = rig.storage().getLoginData(loginRequest("nowhere.org", "alice"));
    ASSERT_TRUE(missing && missing->info() && missing->info()->error());
    EXPECT_EQ(missing->info()->error()->category(), 4);
    EXPECT_EQ(missing->info()->error()->id(), 6);

    rig.phone->setForcedError(std::make_pair(4, 16));
    auto forced = rig.mobile().getSitesCache(sitesCacheRequest(8));
    ASSERT_TRUE(forced && forced->info()->error());
    EXPECT_EQ(forced->info()->error()->id(), 16);
}

TEST(PhoneLink, DisconnectMidReplyFailsTheCallPromptly) {
    PhoneSimOptions po;
    po.mtu = 23;
    po.disconnectAfterChunks = 2;
    PhoneLinkOptions lo;
    lo.clock = std::make_shared<ManualClock>();  // stands still: only the drop can end the call
    Rig rig(po, fixture(), lo);
    ASSERT_TRUE(rig.connection);
    EXPECT_THROW(rig.mobile().getSitesCache(sitesCacheRequest(8)),
                 apache::thrift::transport::TTransportException);
    EXPECT_TRUE(rig.link->waitUntil([&] { return rig.link->lostCount() == 1; }));
    std::static_pointer_cast<ManualClock>(lo.clock)->cancelAll();
}

TEST(PhoneLink, SilentPhoneIsDroppedByTheWatchdog) {
    PhoneSimOptions po;
    po.silent = true;
    auto clock = std::make_shared<ManualClock>();
    PhoneLinkOptions lo;
    lo.clock = clock;
    Rig rig(po, fixture(), lo);
    ASSERT_TRUE(rig.connection);

    for (int call = 1; call <= 4; ++call) {
        SCOPED_TRACE(call);
        auto pending = std::async(std::launch::async, [&] {
            try {
                rig.mobile().getSitesCache(sitesCacheRequest(8));
                return false;
            } catch (const apache::thrift::transport::TTransportException&) {
                return true;
            }
        });
        ASSERT_TRUE(
            rig.link->waitUntil([&] { return rig.phone->stats().requests == size_t(call); }));
        // An unacknowledged small call has 10 s; the watchdog looks once a second.
        for (int s = 0; s < 30; ++s) {
            if (pending.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready) break;
            clock->advance(1.0);
            rig.link->waitUntil([&] {
                return clock->pendingCalls() > 0 ||
                       pending.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
            });
        }
        ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_TRUE(pending.get()) << "the call fails";
        if (call < 4) EXPECT_EQ(rig.link->lostCount(), 0u);
    }
    EXPECT_TRUE(rig.link->waitUntil([&] { return rig.link->lostCount() == 1; }))
        << "four time-outs drop the connection";
    clock->cancelAll();
}

TEST(PhoneLink, RepliesOnTheSecondChannelAreReassembledThere) {
    PhoneSimOptions po;
    po.secondChannel = true;
    po.mtu = 23;
    Rig rig(po, fixture());
    ASSERT_TRUE(rig.connection);
    auto login = rig.storage().getLoginData(loginRequest("github.com", "alice"));
    ASSERT_TRUE(login && login->data());
    EXPECT_EQ(login->data()->password(), "correct horse battery staple");
}

TEST(PhoneLink, ReplyThatNoOfferedKeyOpensFailsTheCall) {
    PhoneSimOptions po;
    po.key = linkKey();
    PhoneLinkOptions lo;
    lo.key = linkKey();
    Rig rig(po, fixture(), lo);
    ASSERT_TRUE(rig.connection);
    // The phone opens the request with its key but answers with another one.
    Bytes other = linkKey();
    other[0] ^= 0xFF;
    struct WrongKeys : BLECThriftTransportFactoryDelegate {
        Bytes request, reply;
        std::optional<Bytes> encryptKeyForBlecThriftTransportFactory(
            BLECThriftTransportFactory&) override {
            return request;
        }
        std::optional<std::vector<Bytes>> decryptKeysForBlecThriftTransportFactory(
            BLECThriftTransportFactory&) override {
            return std::vector<Bytes>{reply};
        }
    };
    auto keys = std::make_shared<WrongKeys>();
    keys->request = linkKey();
    keys->reply = other;
    rig.connection->setDelegate(keys);
    EXPECT_THROW(rig.storage().getLoginData(loginRequest("github.com", "alice")),
                 apache::thrift::transport::TTransportException);
    EXPECT_EQ(rig.phone->stats().replies, 1u) << "the phone did answer";
}

// The phone-sim program, as other tests and demos run it.
TEST(PhoneSimProgram, ServesCallsOnItsOwnRadio) {
    const std::string path = socketPath();
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string key = "404142434445464748494A4B4C4D4E4F505152535455565758595A5B5C5D5E5F";
    std::vector<std::string> args = {PHONE_SIM_PROGRAM, "--air", path, "--start-air",
                                     "--fixture", PHONE_SIM_FIXTURE, "--mtu", "23",
                                     "--key", key};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, PHONE_SIM_PROGRAM, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    FILE* f = fdopen(out[0], "r");
    char line[256] = {};
    ASSERT_TRUE(fgets(line, sizeof line, f)) << "phone-sim did not start";
    EXPECT_EQ(std::string(line).rfind("phone-sim ready", 0), 0u) << line;
    {
        PhoneLinkOptions lo;
        lo.socketPath = path;
        lo.key = linkKey();
        auto link = PhoneLinkHarness::create(lo);
        auto connection = link->connect("6F1C2D3E-4A5B-4C6D-8E9F-A0B1C2D3E4F5");
        ASSERT_TRUE(connection);
        TBNMobileStorageServiceClient client(makeCompactProtocol(connection->transport()));
        auto cache = client.getSitesCache(sitesCacheRequest(8));
        ASSERT_TRUE(cache && cache->sitesCache());
        EXPECT_EQ(cache->sitesCache()->urlsCache()->size(), 2u);
        connection->disconnect();
    }
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    fclose(f);
}

}  // namespace
}  // namespace lumvane::linktest
