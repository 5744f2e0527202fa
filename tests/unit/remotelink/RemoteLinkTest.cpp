// The remote phone service on the real phone link: the phone client and its connections
// over the simulated radio against the simulated phone. QR pairing, waking a sleeping
// phone by push, no phone, the phone's "not authorized", unpairing, and every storage call
// with the Mac's credentials. The service's own time-outs run on a manual clock; the
// radio runs in real time.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "PhonePairing.h"
#include "PhoneSim.h"
#include "PhoneWakeFile.h"
#include "blec/TBNBlecPeripheralStore.h"
#include "core/remote/BlecPhoneLink.h"
#include "core/remote/TBNThriftRemoteMobileSevice.h"
#include "crypto/TBNCryptAES.h"
#include "crypto/TBNCryptHash.h"
#include "crypto/TBNCryptRnd.h"
#include "extension/handlers/TBNThriftProxy.h"
#include "platform/ble/SimBleAir.h"
#include "protocol/PasswordEncoding.h"
#include "runtime/Clock.h"
#include "runtime/HexString.h"
#include "runtime/TBNWaitManager.h"
#include "settings/TBNSettings.h"

namespace lumvane::remotelinktest {
namespace {

namespace fs = std::filesystem;
using phonesim::PhoneSim;

constexpr const char* kPhoneAddress = "5A:12:9C:00:00:21";
constexpr const char* kMacClientId = "MAC-CLIENT-ID";

// Real-time polling for hand-overs between threads; never for the service's time-outs.
bool eventually(const std::function<bool()>& condition, double seconds = 15) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

std::shared_ptr<TBNRequestInfo> info(const std::string& id) {
    auto i = std::make_shared<TBNRequestInfo>();
    i->setId(id);
    i->setTimeStampUtc(1700000000);
    return i;
}

std::shared_ptr<TBNAuthentication> extensionAuth() {
    return std::make_shared<TBNAuthentication>(std::string("EXTENSION"), std::string("EXT-SECRET"));
}

// The invitation the Mac shows in its QR code.
std::string pairingUrl(const std::string& token, const Bytes& key) {
    Bytes plain(token.begin(), token.end());
    plain.insert(plain.end(), key.begin(), key.end());
    const Bytes sealed = TBNCryptAES::encryptData(
        plain, TBNCryptHash::sha256FromString(std::string("nu.bafrimo.tosxwed")));
    return "https://lumvane.io/auth/appinstall.html?client=" + base64Encode("Test Mac") +
           "&auth=" + base64Encode(std::string(sealed.begin(), sealed.end()));
}

struct Recorder : TBNThriftRemoteMobileServiceDelegate {
    std::atomic<int> showExpecting{0}, hideExpecting{0}, notAuthorized{0};
    void remoteMobileShowExpectingPopover(Service&) override { ++showExpecting; }
    void remoteMobileHideExpectingPopover(Service&) override { ++hideExpecting; }
    void remoteMobileShowClientNotAuthorized(Service&) override { ++notAuthorized; }
};

class RemoteLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static std::atomic<int> n{0};
        const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(n++);
        root_ = fs::temp_directory_path() / ("lumvane-remotelink-" + tag);
        fs::create_directories(root_);
        socket_ = "/tmp/lumvane-remotelink-" + tag + ".sock";
        wakeFile_ = (root_ / "wake").string();
        air_ = std::make_unique<ble::sim::SimBleAir>(socket_);
        ASSERT_TRUE(air_->start());

        TBNSettings::Options o;
        o.clock = clock_;
        o.bundleVersion = "1.0.0.0";
        settings_ = TBNSettings::create(o);
        settings_->loadBySettingsClass(root_ / TBNSettings::kSettingsFileName);
        settings_->decryptEncryptedSettingsByKey(Bytes(32, 0x5A));
        settings_->upgrade();
        settings_->setClientId(std::string(kMacClientId));
        settings_->waitForPendingSaves();
        store_.setNotifier([](std::function<void()> f) { f(); });

        phonesim::VaultSite site;
        site.siteUrl = "https://www.example.com/login";
        site.domain = "example.com";
        site.displayName = "Example";
        phonesim::VaultLogin login;
        login.login = "alice";
        login.password = "pa55word";
        phonesim::VaultTwoFactor twoFactor;
        twoFactor.secret = Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9', '0'};
        login.twoFactor = twoFactor;
        site.logins.push_back(login);
        vault_.sites.push_back(site);
        // The phone knows no client of this Mac until it approves one.
        vault_.clients.emplace_back("SOMEONE-ELSE", "NOT-THE-MAC");
    }

    void TearDown() override {
        if (service_) service_->stop();
        pumping_ = false;
        if (pump_.joinable()) pump_.join();
        clock_->cancelAll();
        service_.reset();
        if (phone_) phone_->stop();
        if (air_) air_->stop();
        settings_->waitForPendingSaves();
        settings_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
        fs::remove(socket_, ec);
    }

    void startPhone(bool sleeping = false) {
        phonesim::PhoneSimOptions o;
        o.socketPath = socket_;
        o.address = kPhoneAddress;
        o.sleeping = sleeping;
        phone_ = PhoneSim::create(o, vault_);
        ASSERT_TRUE(phone_->start());
    }

    // The service on the real link; pushes go to the wake file, which a pump hands to the
    // phone the way phone-sim --wake-file does.
    void makeService() {
        TBNThriftRemoteMobileSevice::Options o;
        o.settings = settings_;
        o.peripheralStore = &store_;
        o.waitManager = &waits_;
        o.clock = clock_;
        BlecPhoneLinkOptions link;
        link.centralFactory = *ble::bleCentralFactoryForSpec("sim:" + socket_);
        link.peripheralStore = &store_;
        o.clientFactory = makeBlecPhoneClientFactory(link);
        o.explorerFactory = makeBlecExplorerFactory(link);
        o.pushConnector = *pushConnectorForSpec("file:" + wakeFile_);
        o.connectPushAsync = false;
        o.osVersion = "OSX 12.00";
        service_ = TBNThriftRemoteMobileSevice::create(recorder_, o);
        pumping_ = true;
        pump_ = std::thread([this] {
            phonesim::WakeFileReader reader(wakeFile_);
            while (pumping_) {
                for (const auto& line : reader.newLines()) {
                    {
                        std::lock_guard<std::mutex> lock(pushMutex_);
                        pushes_.push_back(line);
                    }
                    if (phone_) phone_->takePush(line);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }

    // A pairing made earlier: settings, the phone's client list and its link key agree.
    void pairDirectly() {
        auto record = std::make_shared<TBNOSXDeviceInfo>(
            phone_->deviceId(), std::string(kPhoneAddress), 0, std::string("Test iPhone"),
            std::string("iPhone9,3"), std::string("0011223344556677"), 80, 2, std::string("10.3.1"),
            std::string("1.2.0"), 1, false, false, nullptr, std::nullopt);
        settings_->addPairedDevice(record);
        settings_->setClientSecret(std::string("MAC-SECRET"));
        settings_->waitForPendingSaves();
        {
            std::lock_guard<std::mutex> lock(phone_->vault().mutex_);
            phone_->vault().content_.clients.emplace_back(kMacClientId, "MAC-SECRET");
        }
        phone_->addLinkKey(macSecretKey());
    }

    Bytes macSecretKey() {
        return TBNThriftRemoteMobileSevice::decodeBase64(settings_->clientSecretKey().value_or(""));
    }

    bool online() { return service_->onlinedTransportFactory() != nullptr; }

    // Moves the manual clock in small steps until `done` holds; the radio meanwhile runs
    // in real time.
    bool advanceUntil(const std::function<bool()>& done, double step = 0.5, double limit = 60) {
        for (double t = 0; t <= limit; t += step) {
            if (eventually(done, 0.1)) return true;
            clock_->advance(step);
        }
        return done();
    }

    std::vector<std::string> pushes() {
        std::lock_guard<std::mutex> lock(pushMutex_);
        return pushes_;
    }

    size_t phoneCalls(const std::string& method) {
        size_t n = 0;
        for (const auto& m : phone_->stats().methods) n += m == method;
        return n;
    }

    std::shared_ptr<TBNGetLoginDataRequest> loginRequest(const std::string& id) {
        auto r = std::make_shared<TBNGetLoginDataRequest>();
        r->setInfo(info(id));
        r->setAuth(extensionAuth());
        r->setSiteUrl(std::string("https://www.example.com/login"));
        r->setDomain(std::string("example.com"));
        r->setLogin(std::string("alice"));
        return r;
    }

    fs::path root_;
    std::string socket_, wakeFile_;
    std::unique_ptr<ble::sim::SimBleAir> air_;
    std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
    std::shared_ptr<TBNSettings> settings_;
    TBNWaitManager waits_{clock_};
    TBNBlecPeripheralStore store_;
    phonesim::VaultContent vault_;
    std::shared_ptr<PhoneSim> phone_;
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
    std::shared_ptr<TBNThriftRemoteMobileSevice> service_;
    std::atomic<bool> pumping_{false};
    std::thread pump_;
    std::mutex pushMutex_;
    std::vector<std::string> pushes_;
};

TEST_F(RemoteLinkTest, QrPairingOverTheRadioStoresThePairedPhoneAndSwitchesToTheSecretKey) {
    startPhone();
    makeService();
    const std::string token = TBNCryptRnd::shareRnd().randomHexByLenght(16);
    ASSERT_EQ(token.size(), 16u);
    const Bytes key = TBNCryptAES::generateKey();
    std::string problem;
    ASSERT_TRUE(phone_->startPairing(pairingUrl(token, key), &problem)) << problem;
    const std::string secret = phone_->pairing()->clientSecret();

    std::mutex mutex;
    std::vector<std::string> statuses;
    std::promise<uint32_t> success;
    std::promise<std::shared_ptr<TBNError>> failure;
    service_->startPairWithAuthKey(
        key, token,
        [&](const std::string& s) {
            std::lock_guard<std::mutex> lock(mutex);
            statuses.push_back(s);
        },
        [&](uint32_t v) { success.set_value(v); },
        [&](const std::shared_ptr<TBNError>& e) { failure.set_value(e); });
    auto done = success.get_future();
    auto failed = failure.get_future();
    ASSERT_TRUE(advanceUntil([&] {
        return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready ||
               failed.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }));
    ASSERT_EQ(failed.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "pairing failed: " << failed.get()->debugMessage().value_or("");
    EXPECT_EQ(done.get(), 0u);

    // The phone decrypted the invitation, handed out its secret and approved this Mac.
    auto approved = phone_->pairing()->approved();
    ASSERT_TRUE(approved);
    EXPECT_EQ(approved->clientId, kMacClientId);
    EXPECT_EQ(approved->clientSecret, secret);
    EXPECT_EQ(approved->secretKey, macSecretKey());
    EXPECT_EQ(approved->osVersion, "OSX 12.00");

    // The Mac stored the phone under its radio address, and the secret.
    auto paired = settings_->firstPairedDevice();
    ASSERT_TRUE(paired);
    EXPECT_EQ(paired->deviceId(), phone_->deviceId());
    EXPECT_EQ(paired->hardwareId(), std::string(kPhoneAddress));
    EXPECT_TRUE(paired->online());
    EXPECT_TRUE(paired->deviceIsNear());
    EXPECT_EQ(settings_->clientSecret(), secret);
    EXPECT_EQ(service_->clientAuth()->clientSecret(), secret);
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.back(), BLECClient::defaultPairingStatusText("PAIR_STATE_COMPLETED"));
    }

    // The link now runs under the Mac's secret key; the next call gets the phone's data.
    auto response = service_->getLoginData(loginRequest("after-pairing"));
    ASSERT_TRUE(response);
    ASSERT_TRUE(response->info());
    EXPECT_FALSE(response->info()->error());
    ASSERT_TRUE(response->data());
    EXPECT_EQ(response->data()->password(), std::string("pa55word"));
    EXPECT_TRUE(phone_->stats().lastRequestEncrypted);
    EXPECT_TRUE(pushes().empty());
}

TEST_F(RemoteLinkTest, PairingWithAForeignInvitationKeyNeverApproves) {
    // The phone scanned a code whose key is not the one the Mac holds: its answer does not
    // open, and the Mac neither approves nor stores anything.
    startPhone();
    makeService();
    const std::string token = TBNCryptRnd::shareRnd().randomHexByLenght(16);
    ASSERT_TRUE(phone_->startPairing(pairingUrl(token, TBNCryptAES::generateKey())));
    std::promise<std::shared_ptr<TBNError>> failure;
    std::atomic<int> failures{0};
    service_->startPairWithAuthKey(
        TBNCryptAES::generateKey(), token, [](const std::string&) {},
        [](uint32_t) { ADD_FAILURE() << "paired with a foreign key"; },
        [&](const std::shared_ptr<TBNError>& e) {
            // Once per pairing, however many reports the phone sends meanwhile.
            if (failures++ == 0) failure.set_value(e);
        });
    auto failed = failure.get_future();
    ASSERT_TRUE(advanceUntil(
        [&] { return failed.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(failed.get());
    phone_->setUInt32("A010", 42);  // one more report of the phone, if it is still there
    clock_->advance(2);
    EXPECT_FALSE(eventually([&] { return failures > 1; }, 0.5));
    EXPECT_FALSE(phone_->pairing()->approved());
    EXPECT_EQ(phoneCalls("approveClient"), 0u);
    EXPECT_FALSE(settings_->firstPairedDevice());
    EXPECT_FALSE(settings_->clientSecret());
}

TEST_F(RemoteLinkTest, SleepingPhoneIsWokenByOnePushAndTheCallReturnsItsAnswer) {
    startPhone(/*sleeping=*/true);
    pairDirectly();
    makeService();
    service_->start();
    // Asleep, the phone is not found.
    EXPECT_FALSE(eventually([&] { return online(); }, 1.0));

    auto call = std::async(std::launch::async,
                           [&] { return service_->getLoginData(loginRequest("wake-1")); });
    ASSERT_TRUE(advanceUntil(
        [&] { return call.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    auto response = call.get();
    ASSERT_TRUE(response);
    EXPECT_FALSE(response->info()->error());
    ASSERT_TRUE(response->data());
    EXPECT_EQ(response->data()->login(), std::string("alice"));
    EXPECT_EQ(response->data()->password(), std::string("pa55word"));

    // One push, to the phone's token, with the wake-up payload.
    auto sent = pushes();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].substr(0, 17), "0011223344556677 ");
    EXPECT_NE(sent[0].find("\"category\": \"LUMVANE_GLOBAL\""), std::string::npos);
    EXPECT_EQ(phone_->wakeUps(), 1u);
    EXPECT_EQ(recorder_->showExpecting, 1);
    EXPECT_EQ(recorder_->hideExpecting, 1);
    EXPECT_FALSE(settings_->expectedDeviceId());

    // Awake and online: the next call goes straight through, without a push.
    ASSERT_TRUE(service_->getLoginData(loginRequest("wake-2")));
    EXPECT_EQ(pushes().size(), 1u);
    EXPECT_EQ(phoneCalls("getLoginData"), 2u);

    // Asleep again, the phone is lost; the next call wakes it with a second push.
    phone_->sleep();
    ASSERT_TRUE(eventually([&] { return !online(); }));
    EXPECT_FALSE(settings_->firstPairedDevice()->online());
    auto third = std::async(std::launch::async,
                            [&] { return service_->getLoginData(loginRequest("wake-3")); });
    ASSERT_TRUE(advanceUntil(
        [&] { return third.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    auto again = third.get();
    ASSERT_TRUE(again && again->data());
    EXPECT_EQ(pushes().size(), 2u);
    EXPECT_EQ(phone_->wakeUps(), 2u);
}

TEST_F(RemoteLinkTest, NoPhoneGivesNothingAfterTheBoundedWaitAndTheNextCallPushesAgain) {
    startPhone(/*sleeping=*/true);
    pairDirectly();
    phone_->stop();  // the phone is gone: pushes reach nobody
    makeService();
    service_->start();
    // The extension's road: the storage handler in front of the service.
    settings_->approveExtForClientId(std::string("EXTENSION"), std::string("EXT-SECRET"));
    TBNThriftProxyOptions proxyOptions;
    proxyOptions.settings = settings_;
    auto proxy = TBNThriftProxy::initWithLocalSevice({}, service_, proxyOptions);

    auto call =
        std::async(std::launch::async, [&] { return proxy->getLoginData(loginRequest("gone-1")); });
    ASSERT_TRUE(eventually([&] { return pushes().size() == 1; }));
    ASSERT_TRUE(clock_->waitForSleepers(1));
    clock_->advance(TBNThriftRemoteMobileSevice::kWakeUpTimeout - 1);
    EXPECT_EQ(call.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    clock_->advance(2);
    ASSERT_EQ(call.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    // "No paired phone or phone not online".
    auto response = call.get();
    ASSERT_TRUE(response && response->info() && response->info()->error());
    EXPECT_EQ(response->info()->error()->category(), 3);
    EXPECT_EQ(response->info()->error()->id(), 7);
    EXPECT_FALSE(response->data());
    EXPECT_FALSE(settings_->expectedDeviceId());

    // The timed-out wake-up is forgotten: the next call pushes again.
    auto second = std::async(std::launch::async, [&] {
        auto r = std::make_shared<TBNGetSiteDataListRequest>();
        r->setInfo(info("gone-2"));
        r->setAuth(extensionAuth());
        return service_->getSiteDataList(r);
    });
    ASSERT_TRUE(eventually([&] { return pushes().size() == 2; }));
    ASSERT_TRUE(clock_->waitForSleepers(1));
    clock_->advance(TBNThriftRemoteMobileSevice::kWakeUpTimeout + 1);
    EXPECT_FALSE(second.get());
}

TEST_F(RemoteLinkTest, PhoneThatNoLongerKnowsTheMacAnswersNotAuthorizedAndIsUnpaired) {
    startPhone();
    pairDirectly();
    {
        // The user removed this Mac on the phone.
        std::lock_guard<std::mutex> lock(phone_->vault().mutex_);
        phone_->vault().content_.clients = {{"SOMEONE-ELSE", "NOT-THE-MAC"}};
    }
    makeService();
    service_->start();
    ASSERT_TRUE(eventually([&] { return online(); }));
    ASSERT_TRUE(advanceUntil([&] { return settings_->firstPairedDevice()->online(); }));

    auto response = service_->getLoginData(loginRequest("na-1"));
    ASSERT_TRUE(response);
    ASSERT_TRUE(response->info()->error());
    EXPECT_EQ(response->info()->error()->category(), 1);
    EXPECT_EQ(response->info()->error()->id(), 1);
    EXPECT_FALSE(response->data());

    ASSERT_TRUE(eventually([&] { return !settings_->firstPairedDevice(); }));
    ASSERT_TRUE(eventually([&] { return recorder_->notAuthorized == 1; }));
    EXPECT_TRUE(eventually([&] { return !online(); }));
    auto client = std::dynamic_pointer_cast<BlecPhoneClient>(service_->client());
    ASSERT_TRUE(client);
    EXPECT_FALSE(client->client()->running());
}

TEST_F(RemoteLinkTest, UnpairForgetsThePhoneAndLeavesTheClientStopped) {
    startPhone();
    pairDirectly();
    makeService();
    service_->start();
    ASSERT_TRUE(eventually([&] { return online(); }));
    // What the link learnt about the phone.
    auto known = std::make_shared<TBNBlecPeripheral>(std::string(kPhoneAddress));
    known->setState(TBNBlecPeripheralStateFound);
    known->setDeviceId(phone_->deviceId());
    known->setDeviceName(std::string("Test iPhone"));
    store_.setBlePeripheral(known, kPhoneAddress);
    store_.setBleId(kPhoneAddress, phone_->deviceId());

    service_->unpairFromDevice(std::string("any id"));
    EXPECT_FALSE(settings_->firstPairedDevice());
    EXPECT_FALSE(settings_->pairedDeviceByHardwareId(std::string(kPhoneAddress)));
    EXPECT_TRUE(eventually([&] { return !online(); }));
    auto client = std::dynamic_pointer_cast<BlecPhoneClient>(service_->client());
    ASSERT_TRUE(client);
    EXPECT_FALSE(client->client()->running());
    auto reset = store_.blePeripheralByBleId(kPhoneAddress);
    ASSERT_TRUE(reset);
    EXPECT_FALSE(reset->deviceId());
    EXPECT_EQ(reset->state(), TBNBlecPeripheralStateSupported);
    // Nothing is paired any more: a storage call gives nothing at once, without a push.
    EXPECT_FALSE(service_->getLoginData(loginRequest("after-unpair")));
    EXPECT_TRUE(pushes().empty());
    EXPECT_EQ(phoneCalls("getLoginData"), 0u);
}

TEST_F(RemoteLinkTest, EveryStorageCallReachesThePhoneWithTheMacCredentialsAndItsAnswerUnchanged) {
    startPhone();
    pairDirectly();
    makeService();
    service_->start();
    ASSERT_TRUE(eventually([&] { return online(); }));
    // The phone only knows the Mac's credentials: an extension's would be refused (1, 1).
    auto reference = phone_->vault().storageService();
    auto macAuth = [] {
        return std::make_shared<TBNAuthentication>(std::string(kMacClientId),
                                                   std::string("MAC-SECRET"));
    };
    const std::string url = "https://www.example.com/login";
    auto checkInfo = [](const auto& response, std::optional<std::pair<int, int>> error) {
        ASSERT_TRUE(response);
        ASSERT_TRUE(response->info());
        if (error) {
            ASSERT_TRUE(response->info()->error());
            EXPECT_EQ(response->info()->error()->category(), error->first);
            EXPECT_EQ(response->info()->error()->id(), error->second);
            EXPECT_EQ(response->info()->error()->debugMessage(),
                      std::string("forced by the simulated phone"));
        } else {
            EXPECT_FALSE(response->info()->error());
        }
    };
    // The phone's answer as it left the phone, without the info's stamp and id.
    auto same = [](auto viaMac, auto direct) {
        ASSERT_TRUE(viaMac && direct);
        auto a = std::make_shared<std::decay_t<decltype(*viaMac)>>(*viaMac);
        auto b = std::make_shared<std::decay_t<decltype(*direct)>>(*direct);
        EXPECT_EQ(a->info()->requestId(), b->info()->requestId());
        a->setInfo(nullptr);
        b->setInfo(nullptr);
        EXPECT_TRUE(*a == *b);
    };

    struct Case {
        std::string method;
        std::function<void(std::optional<std::pair<int, int>>)> run;
    };
    std::vector<Case> cases;
    cases.push_back({"getLoginData", [&](auto error) {
                         auto r = loginRequest("g");
                         auto viaMac = service_->getLoginData(r);
                         EXPECT_EQ(r->auth()->clientId(), std::string(kMacClientId));
                         checkInfo(viaMac, error);
                         auto copy = std::make_shared<TBNGetLoginDataRequest>(*r);
                         copy->setAuth(macAuth());
                         same(viaMac, reference->getLoginData(copy));
                     }});
    cases.push_back({"getSiteData", [&](auto error) {
                         auto r = std::make_shared<TBNGetSiteDataRequest>();
                         r->setInfo(info("s"));
                         r->setAuth(extensionAuth());
                         r->setSiteUrl(url);
                         r->setDomain(std::string("example.com"));
                         auto viaMac = service_->getSiteData(r);
                         checkInfo(viaMac, error);
                         auto copy = std::make_shared<TBNGetSiteDataRequest>(*r);
                         copy->setAuth(macAuth());
                         same(viaMac, reference->getSiteData(copy));
                     }});
    cases.push_back({"getSiteDataList", [&](auto error) {
                         auto r = std::make_shared<TBNGetSiteDataListRequest>();
                         r->setInfo(info("l"));
                         r->setAuth(extensionAuth());
                         auto viaMac = service_->getSiteDataList(r);
                         checkInfo(viaMac, error);
                         auto copy = std::make_shared<TBNGetSiteDataListRequest>(*r);
                         copy->setAuth(macAuth());
                         same(viaMac, reference->getSiteDataList(copy));
                     }});
    cases.push_back({"get2FACode", [&](auto error) {
                         auto r = std::make_shared<TBNGet2FACodeRequest>();
                         r->setInfo(info("t"));
                         r->setAuth(extensionAuth());
                         r->setSiteUrl(url);
                         r->setDomain(std::string("example.com"));
                         r->setLogin(std::string("alice"));
                         auto viaMac = service_->get2FACode(r);
                         checkInfo(viaMac, error);
                         if (!error) {
                             ASSERT_TRUE(viaMac->code());
                             EXPECT_EQ(viaMac->code()->size(), 6u);
                         }
                     }});
    cases.push_back({"addLoginData", [&](auto error) {
                         auto login = std::make_shared<TBNLoginData>();
                         login->setLogin(std::string("bob"));
                         login->setPassword(std::string("b0b"));
                         auto r = std::make_shared<TBNAddLoginDataRequest>(
                             info("a"), extensionAuth(), std::string("https://new.example.net"),
                             std::string("example.net"), login, false);
                         checkInfo(service_->addLoginData(r), error);
                     }});
    cases.push_back({"updateLoginData", [&](auto error) {
                         auto r = std::make_shared<TBNUpdateLoginDataRequest>();
                         r->setInfo(info("u"));
                         r->setAuth(extensionAuth());
                         r->setSiteUrl(std::string("https://new.example.net"));
                         r->setDomain(std::string("example.net"));
                         auto changed = std::make_shared<TBNLoginData>();
                         changed->setLogin(std::string("bob"));
                         changed->setPassword(std::string("n3w-b0b"));
                         r->setLoginData(changed);
                         r->setCurrentLogin(std::string("bob"));
                         checkInfo(service_->updateLoginData(r), error);
                     }});
    cases.push_back({"deleteLoginData", [&](auto error) {
                         auto r = std::make_shared<TBNDeleteLoginDataRequest>();
                         r->setInfo(info("d"));
                         r->setAuth(extensionAuth());
                         r->setSiteUrl(std::string("https://new.example.net"));
                         r->setDomain(std::string("example.net"));
                         r->setLogin(std::string("bob"));
                         checkInfo(service_->deleteLoginData(r), error);
                     }});
    cases.push_back({"deleteSiteData", [&](auto error) {
                         auto r = std::make_shared<TBNDeleteSiteDataRequest>();
                         r->setInfo(info("x"));
                         r->setAuth(extensionAuth());
                         r->setSiteUrl(std::string("https://new.example.net"));
                         r->setDomain(std::string("example.net"));
                         checkInfo(service_->deleteSiteData(r), error);
                     }});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        const size_t before = phoneCalls(c.method);
        c.run(std::nullopt);
        EXPECT_EQ(phoneCalls(c.method), before + 1);
    }
    // The update and the deletes worked on what the add stored.
    {
        std::lock_guard<std::mutex> lock(phone_->vault().mutex_);
        for (const auto& s : phone_->vault().content_.sites) EXPECT_NE(s.domain, "example.net");
    }
    // Errors from the phone pass through unchanged, and none of them unpairs.
    phone_->setForcedError(std::make_pair(4, 8));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method + " with a phone error");
        c.run(std::make_pair(4, 8));
    }
    EXPECT_TRUE(settings_->firstPairedDevice());
    EXPECT_EQ(recorder_->notAuthorized, 0);
    EXPECT_TRUE(pushes().empty());
}

TEST_F(RemoteLinkTest, PairedPhoneReportingAnOldAppVersionStillGetsAnEncryptedLink) {
    // An app below 0.8.14.7 runs the link in the clear, but a phone this Mac paired has
    // the secret key: a report of an old version never turns encryption off.
    vault_.device.appVersion = std::string("0.8.0");
    startPhone();
    pairDirectly();
    makeService();
    service_->start();
    ASSERT_TRUE(eventually([&] { return online(); }));
    auto response = service_->getLoginData(loginRequest("old-app"));
    ASSERT_TRUE(response && response->data());
    EXPECT_EQ(response->data()->password(), std::string("pa55word"));
    const auto stats = phone_->stats();
    EXPECT_TRUE(stats.lastRequestEncrypted);
    EXPECT_EQ(stats.failedRequests, 0u);
}

TEST_F(RemoteLinkTest, ExplorerReportsKeepOnlineRecordsAndNeverEraseThePairedPhonesToken) {
    startPhone();
    pairDirectly();
    makeService();
    ASSERT_TRUE(service_->blecExplorer());
    auto& explorer = *service_->blecExplorer();
    auto remember = [&](const std::string& bleId, const std::string& deviceId,
                        const std::string& name) {
        auto record = std::make_shared<TBNBlecPeripheral>(bleId);
        record->setDeviceId(deviceId);
        record->setDeviceName(name);
        record->setOsVersion(std::string("11.0"));
        store_.setBlePeripheral(record, bleId);
        store_.setBleId(bleId, deviceId);
    };

    // A phone nearby that is not paired.
    const std::string otherBle = "5A:12:9C:00:00:99";
    const std::string otherId = "11111111-2222-3333-4444-555555555555";
    remember(otherBle, otherId, "Other Phone");
    service_->blecExplorerOnDidFindDevice(explorer, otherId);
    auto seen = settings_->onlineDeviceByHardwareId(otherBle);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->deviceId(), otherId);
    EXPECT_EQ(seen->name(), std::string("Other Phone"));
    EXPECT_TRUE(seen->online());
    EXPECT_TRUE(seen->deviceIsNear());
    EXPECT_FALSE(seen->token());
    service_->blecExplorerOnDidLostDevice(explorer, otherId);
    EXPECT_FALSE(settings_->onlineDeviceByHardwareId(otherBle));

    // The paired phone seen by the explorer keeps what only its own link reports.
    remember(kPhoneAddress, phone_->deviceId(), "Renamed iPhone");
    service_->blecExplorerOnDidUpdateDevice(explorer, phone_->deviceId());
    auto paired = settings_->firstPairedDevice();
    ASSERT_TRUE(paired);
    EXPECT_EQ(paired->name(), std::string("Renamed iPhone"));
    EXPECT_EQ(paired->token(), std::string("0011223344556677"));
    EXPECT_EQ(paired->appVersion(), std::string("1.2.0"));

    // A device id the store cannot place adds nothing.
    service_->blecExplorerOnDidFindDevice(explorer,
                                          std::string("99999999-0000-0000-0000-000000000000"));
    service_->blecExplorerOnDidFindDevice(explorer, std::nullopt);
    EXPECT_FALSE(settings_->onlineDeviceByHardwareId(std::string("")));
}

TEST(PhonePairingInvitation, OnlyAWellFormedInvitationIsTaken) {
    const std::string token = "0123456789ABCDEF";
    const Bytes key(32, 0x11);
    auto good = phonesim::readPairingUrl(pairingUrl(token, key));
    ASSERT_TRUE(good);
    EXPECT_EQ(good->token, token);
    EXPECT_EQ(good->key, key);
    EXPECT_EQ(good->clientName, "Test Mac");
    EXPECT_EQ(phonesim::tokenServiceUuid(token), "30313233-3435-3637-3839-414243444546");
    EXPECT_EQ(BLECClient::authTokenUuid(token), phonesim::tokenServiceUuid(token));

    auto sealedUnder = [&](const std::string& phrase, const Bytes& plain) {
        const Bytes sealed =
            TBNCryptAES::encryptData(plain, TBNCryptHash::sha256FromString(phrase));
        return "https://lumvane.io/auth/appinstall.html?client=eA==&auth=" +
               base64Encode(std::string(sealed.begin(), sealed.end()));
    };
    Bytes plain(token.begin(), token.end());
    plain.insert(plain.end(), key.begin(), key.end());
    Bytes shortKey(token.begin(), token.end());
    shortKey.insert(shortKey.end(), 16, 0x11);
    Bytes notHex(plain);
    notHex[0] = 'Z';
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"no query", "https://lumvane.io/auth/appinstall.html"},
        {"no auth value", "https://lumvane.io/auth/appinstall.html?client=eA=="},
        {"not Base64", "https://lumvane.io/auth/appinstall.html?auth=%%%%"},
        {"another phrase", sealedUnder("not.the.phrase", plain)},
        {"short key", sealedUnder("nu.bafrimo.tosxwed", shortKey)},
        {"token not hex", sealedUnder("nu.bafrimo.tosxwed", notHex)},
    };
    for (const auto& [what, url] : bad) {
        SCOPED_TRACE(what);
        std::string reason;
        EXPECT_FALSE(phonesim::readPairingUrl(url, &reason));
        EXPECT_FALSE(reason.empty());
    }
}

// ---- The phone-sim program, as the end-to-end tests and demos run it ------------------

// A running phone-sim with its standard output collected line by line.
class PhoneSimProgram {
  public:
    explicit PhoneSimProgram(std::vector<std::string> args) {
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        args.insert(args.begin(), PHONE_SIM_PROGRAM);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, PHONE_SIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = 0;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        reader_ = std::thread([this, fd = out[0]] {
            FILE* f = fdopen(fd, "r");
            char line[512];
            while (f && fgets(line, sizeof line, f)) {
                std::lock_guard<std::mutex> lock(mutex_);
                lines_.emplace_back(line);
            }
            if (f) fclose(f);
        });
    }
    ~PhoneSimProgram() { stop(); }

    bool started() const { return pid_ != 0; }
    bool said(const std::string& prefix, double seconds = 15) {
        return eventually(
            [&] {
                std::lock_guard<std::mutex> lock(mutex_);
                for (const auto& l : lines_) {
                    if (l.rfind(prefix, 0) == 0) return true;
                }
                return false;
            },
            seconds);
    }
    // Stops it with SIGTERM; its exit status.
    int stop() {
        int status = -1;
        if (pid_ != 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, &status, 0);
            pid_ = 0;
        }
        if (reader_.joinable()) reader_.join();
        return status;
    }

  private:
    pid_t pid_ = 0;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

TEST_F(RemoteLinkTest, PhoneSimProgramPairsFromTheInvitationUrl) {
    makeService();
    const std::string token = TBNCryptRnd::shareRnd().randomHexByLenght(16);
    const Bytes key = TBNCryptAES::generateKey();
    PhoneSimProgram program({"--air", socket_, "--address", kPhoneAddress, "--pair-url",
                             pairingUrl(token, key), "--pair-secret", "PROGRAM-SECRET"});
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.said("phone-sim ready"));
    ASSERT_TRUE(program.said("phone-sim pairing: token " + token));

    std::atomic<bool> paired{false};
    service_->startPairWithAuthKey(
        key, token, [](const std::string&) {}, [&](uint32_t) { paired = true; },
        [](const std::shared_ptr<TBNError>&) { ADD_FAILURE() << "pairing failed"; });
    ASSERT_TRUE(advanceUntil([&] { return paired.load(); }));
    EXPECT_TRUE(program.said(std::string("phone-sim paired: client ") + kMacClientId));
    EXPECT_EQ(settings_->clientSecret(), std::string("PROGRAM-SECRET"));

    auto r = std::make_shared<TBNGetSiteDataListRequest>();
    r->setInfo(info("program-1"));
    r->setAuth(extensionAuth());
    auto list = service_->getSiteDataList(r);
    ASSERT_TRUE(list);
    EXPECT_FALSE(list->info()->error());
    EXPECT_EQ(program.stop(), 0);
}

TEST_F(RemoteLinkTest, PhoneSimProgramSleepsUntilThePushForItsTokenArrives) {
    const auto fixture = phonesim::loadVaultFile(PHONE_SIM_FIXTURE);
    auto record = std::make_shared<TBNOSXDeviceInfo>(
        fixture.device.id, std::string(kPhoneAddress), 0, fixture.device.name, fixture.device.model,
        fixture.device.token, 0, 0, fixture.device.osVersion, fixture.device.appVersion, 1, false,
        false, nullptr, std::nullopt);
    settings_->addPairedDevice(record);
    settings_->setClientSecret(std::string("MAC-SECRET"));
    settings_->waitForPendingSaves();
    // A push for another phone must not wake it.
    { std::ofstream(wakeFile_) << "FFEEDDCCBBAA9988 {}\n"; }
    PhoneSimProgram program({"--air", socket_, "--address", kPhoneAddress, "--fixture",
                             PHONE_SIM_FIXTURE, "--key", stringWithHexData(macSecretKey()),
                             "--sleep-until-push", "--wake-file", wakeFile_});
    ASSERT_TRUE(program.said("phone-sim ready"));
    TBNThriftRemoteMobileSevice::Options o;
    o.settings = settings_;
    o.peripheralStore = &store_;
    o.waitManager = &waits_;
    o.clock = clock_;
    BlecPhoneLinkOptions link;
    link.centralFactory = *ble::bleCentralFactoryForSpec("sim:" + socket_);
    link.peripheralStore = &store_;
    o.clientFactory = makeBlecPhoneClientFactory(link);
    o.pushConnector = *pushConnectorForSpec("file:" + wakeFile_);
    o.connectPushAsync = false;
    service_ = TBNThriftRemoteMobileSevice::create(recorder_, o);
    service_->start();
    EXPECT_FALSE(program.said("phone-sim woke", 1.0));
    EXPECT_FALSE(online());

    auto call = std::async(std::launch::async, [&] {
        auto r = std::make_shared<TBNGetLoginDataRequest>();
        r->setInfo(info("program-wake"));
        r->setAuth(extensionAuth());
        r->setSiteUrl(std::string("https://github.com/login"));
        r->setDomain(std::string("github.com"));
        r->setLogin(std::string("alice"));
        return service_->getLoginData(r);
    });
    ASSERT_TRUE(advanceUntil(
        [&] { return call.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(program.said("phone-sim woke: push received"));
    auto response = call.get();
    ASSERT_TRUE(response && response->data());
    EXPECT_EQ(response->data()->password(), std::string("correct horse battery staple"));
    service_->stop();
    EXPECT_EQ(program.stop(), 0);
}

}  // namespace
}  // namespace lumvane::remotelinktest
