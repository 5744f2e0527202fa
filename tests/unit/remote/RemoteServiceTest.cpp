// The remote phone service against the simulated phone's vault: QR pairing and approval,
// wake-up by push, storage calls with the Mac's credentials, errors, unpairing, keys.
#include <fstream>
#include <future>

#include <thrift/protocol/TBinaryProtocol.h>
#include <nlohmann/json.hpp>

#include "RemoteTestSupport.h"
#include "crypto/TBNCryptHash.h"
#include "crypto/TBNCryptThrift.h"
#include "protocol/TBNErrors.h"
#include "runtime/Digest.h"
#include "runtime/TBNUtil.h"

namespace lumvane::remotetest {
namespace {

std::shared_ptr<TBNRequestInfo> info(const std::string& id) {
    auto i = std::make_shared<TBNRequestInfo>();
    i->setId(id);
    i->setTimeStampUtc(1700000000);
    return i;
}

std::shared_ptr<TBNAuthentication> extensionAuth() {
    return std::make_shared<TBNAuthentication>(std::string("EXTENSION"), std::string("EXT-SECRET"));
}

class RemoteServiceTest : public RemoteFixture {
  protected:
    struct PairingResult {
        std::promise<uint32_t> success;
        std::promise<std::shared_ptr<TBNError>> failure;
        std::vector<std::string> statuses;
    };

    // The phone scanned the QR code: it holds the key and token and answers with the
    // client secret sealed under the key (or with `answer` when given).
    void phoneScansQr(const Bytes& key, const std::string& token, const std::string& secret,
                      std::optional<Bytes> answer = std::nullopt) {
        std::lock_guard<std::mutex> lock(phone_.mutex);
        phone_.qrToken = token;
        phone_.qrKey = key;
        phone_.authResponse =
            answer ? *answer : TBNCryptAES::encryptData(Bytes(secret.begin(), secret.end()), key);
    }

    std::shared_ptr<PairingResult> startPairing(const Bytes& key, const std::string& token) {
        auto result = std::make_shared<PairingResult>();
        service_->startPairWithAuthKey(
            key, token, [](const std::string&) {},
            [result](uint32_t v) { result->success.set_value(v); },
            [result](const std::shared_ptr<TBNError>& e) { result->failure.set_value(e); });
        return result;
    }

    size_t phoneCalls(const std::string& method) {
        size_t n = 0;
        for (const auto& m : phone_.sim->stats().methods) n += m == method;
        return n;
    }
};

TEST_F(RemoteServiceTest, QrPairingApprovesTheMacAndStoresThePairedPhone) {
    makeService();
    EXPECT_EQ(service_->clientAuth()->clientSecret(), std::string(""));
    const Bytes qrKey = TBNCryptAES::generateKey();
    phoneScansQr(qrKey, "0123456789ABCDEF", "SECRET-FROM-PHONE");
    auto result = startPairing(qrKey, "0123456789ABCDEF");
    auto done = result->success.get_future();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(done.get(), 0u);

    auto record = settings_->firstPairedDevice();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->deviceId(), phone_.deviceId());
    EXPECT_EQ(record->hardwareId(), phone_.bleId);
    EXPECT_TRUE(record->online());
    EXPECT_TRUE(record->deviceIsNear());
    EXPECT_FALSE(record->sitesCache());
    EXPECT_EQ(record->publicKey(), std::string("PHONE-PUBLIC-KEY"));
    // The link had read nothing of the phone yet: its approval answer fills the record,
    // the push token above all (without it a sleeping phone could never be woken).
    const auto device = phone_.sim->vault().content().device;
    EXPECT_EQ(record->token(), std::optional<std::string>(device.token));
    EXPECT_EQ(record->name(), std::optional<std::string>(device.name));
    EXPECT_EQ(record->model(), std::optional<std::string>(device.model));
    EXPECT_EQ(settings_->clientSecret(), std::string("SECRET-FROM-PHONE"));
    EXPECT_EQ(service_->clientAuth()->clientSecret(), std::string("SECRET-FROM-PHONE"));
    EXPECT_FALSE(service_->pairingInProgress());
    EXPECT_EQ(client_->pairedDeviceId, phone_.deviceId());
    EXPECT_EQ(phoneCalls("approveClient"), 1u);
    {
        // The approval travelled under the QR key; nothing went out in clear.
        std::lock_guard<std::mutex> lock(phone_.wire->mutex);
        ASSERT_EQ(phone_.wire->requestKeys.size(), 1u);
        EXPECT_EQ(phone_.wire->requestKeys[0], qrKey);
    }

    // From now on the calls carry the new credentials under the Mac's secret key.
    auto request = std::make_shared<TBNGetLoginDataRequest>();
    request->setInfo(info("7"));
    request->setAuth(extensionAuth());
    request->setSiteUrl(std::string("https://www.example.com/login"));
    request->setDomain(std::string("example.com"));
    auto response = service_->getLoginData(request);
    ASSERT_TRUE(response);
    EXPECT_FALSE(response->info()->error());
    ASSERT_TRUE(response->data());
    EXPECT_EQ(response->data()->login(), std::string("alice"));
    std::lock_guard<std::mutex> lock(phone_.wire->mutex);
    EXPECT_EQ(phone_.wire->requestKeys.back(), macSecretKey());
}

// The link goes on reading the phone while the approval travels; what it learns then
// (here its app state and battery) ends up in the paired record, so the phone shows ready.
TEST_F(RemoteServiceTest, WhatTheLinkReadsDuringTheApprovalReachesThePairedRecord) {
    phone_.appState = 0;  // not read yet when the pairing answer comes
    phone_.beforeAnswer = [this] {
        auto connection = client_->connection();
        if (!connection) return;
        auto info = connection->mutableInfo();
        if (info->appState() != 0) return;
        info->updateAppState(1);
        info->updateBatteryLevel(64);
        if (auto d = connection->delegate())
            d->blecThriftTransportFactoryDidDeviceInfoUpdated(connection);
    };
    makeService();
    const Bytes qrKey = TBNCryptAES::generateKey();
    phoneScansQr(qrKey, "0A0B0C0D0E0F0A0B", "SECRET-FROM-PHONE");
    auto result = startPairing(qrKey, "0A0B0C0D0E0F0A0B");
    auto done = result->success.get_future();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    settings_->waitForPendingSaves();
    auto record = settings_->firstPairedDevice();
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->online());
    EXPECT_EQ(record->appState(), 1);
    EXPECT_EQ(record->batteryLevel(), 64);
}

TEST_F(RemoteServiceTest, PairingFailuresLeaveTheCredentialsAndSettingsUntouched) {
    makeService();
    const Bytes qrKey = TBNCryptAES::generateKey();

    // The phone refuses the approval: its error reaches the failure callback.
    phoneScansQr(qrKey, "AAAABBBBCCCCDDDD", "SECRET-1");
    phone_.sim->vault().setForcedError(std::make_pair(4, 11));
    auto refused = startPairing(qrKey, "AAAABBBBCCCCDDDD");
    auto refusedError = refused->failure.get_future();
    ASSERT_EQ(refusedError.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    auto e = refusedError.get();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->category(), 4);
    EXPECT_EQ(e->id(), 11);
    EXPECT_FALSE(settings_->firstPairedDevice());
    EXPECT_FALSE(settings_->clientSecret());
    EXPECT_EQ(service_->clientAuth()->clientSecret(), std::string(""));
    EXPECT_FALSE(service_->pairingInProgress());
    EXPECT_FALSE(client_->running());
    phone_.sim->vault().setForcedError(std::nullopt);

    // An answer sealed under another key is no pairing: nothing is sent to the phone.
    const size_t approvalsBefore = phoneCalls("approveClient");
    phoneScansQr(qrKey, "1111222233334444", "",
                 TBNCryptAES::encryptData(Bytes{'x', 'y'}, TBNCryptAES::generateKey()));
    auto unreadable = startPairing(qrKey, "1111222233334444");
    auto unreadableError = unreadable->failure.get_future();
    ASSERT_EQ(unreadableError.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_TRUE(unreadableError.get());
    EXPECT_EQ(phoneCalls("approveClient"), approvalsBefore);
    EXPECT_FALSE(settings_->clientSecret());
    EXPECT_FALSE(service_->pairingInProgress());
}

// What a start after a crash would find in the settings file: the paired phone's device
// id and the client secret, read straight from the bytes on disk.
struct OnDisk {
    std::optional<std::string> pairedDeviceId;
    std::optional<std::string> clientSecret;
};

OnDisk readOnDisk(const fs::path& file) {
    OnDisk found;
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) return found;
    auto buffer = std::make_shared<apache::thrift::transport::TMemoryBuffer>(
        reinterpret_cast<uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()),
        apache::thrift::transport::TMemoryBuffer::COPY);
    apache::thrift::protocol::TBinaryProtocol protocol(buffer);
    TBNSettingsBlob blob;
    blob.read(&protocol);
    TBNEncryptedBlob plain;
    TBNCryptThrift::decryptObject(plain, *blob.settings(),
                                  sha256(std::string_view(TBNSettings::kPlainPartPhrase)));
    TBNOSXSettings settings;
    TBNCryptThrift::getObject(settings, plain);
    if (settings.pairedDevices() && !settings.pairedDevices()->empty()) {
        found.pairedDeviceId = settings.pairedDevices()->begin()->second->deviceId();
    }
    if (blob.encryptedSettings()) {
        TBNEncryptedBlob sealed;
        TBNCryptThrift::decryptObject(sealed, *blob.encryptedSettings(), testSettingsKey());
        TBNOSXEncryptedSettings encrypted;
        TBNCryptThrift::getObject(encrypted, sealed);
        found.clientSecret = encrypted.clientSecret();
    }
    return found;
}

// "Paired" is said once a start killed right after it would still find the phone: the
// record and the secret the phone accepts are on disk together before the success call.
TEST_F(RemoteServiceTest, APairingIsReportedOnlyOnceThePhoneAndItsSecretAreOnDisk) {
    makeService();
    const Bytes qrKey = TBNCryptAES::generateKey();
    phoneScansQr(qrKey, "ABCDEF0123456789", "SECRET-ON-DISK");
    auto seen = std::make_shared<std::promise<OnDisk>>();
    const fs::path file = root_ / TBNSettings::kSettingsFileName;
    service_->startPairWithAuthKey(
        qrKey, "ABCDEF0123456789", [](const std::string&) {},
        [seen, file](uint32_t) { seen->set_value(readOnDisk(file)); },
        [seen](const std::shared_ptr<TBNError>&) { seen->set_value(OnDisk{}); });
    auto done = seen->get_future();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    const OnDisk onDisk = done.get();
    EXPECT_EQ(onDisk.pairedDeviceId, phone_.deviceId());
    EXPECT_EQ(onDisk.clientSecret, std::optional<std::string>("SECRET-ON-DISK"));
}

TEST_F(RemoteServiceTest, APairingTheSettingsCannotKeepIsReportedAsFailed) {
    makeService();
    const Bytes qrKey = TBNCryptAES::generateKey();
    phoneScansQr(qrKey, "FEDCBA9876543210", "SECRET-LOST");
    // The settings folder is gone: no save can reach the disk.
    std::error_code ec;
    fs::remove_all(root_, ec);
    auto result = startPairing(qrKey, "FEDCBA9876543210");
    auto failed = result->failure.get_future();
    ASSERT_EQ(failed.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_TRUE(failed.get());
    EXPECT_FALSE(settings_->firstPairedDevice());
    EXPECT_FALSE(settings_->clientSecret());
    EXPECT_EQ(service_->clientAuth()->clientSecret(), std::string(""));
    EXPECT_FALSE(service_->pairingInProgress());
    fs::create_directories(root_);
}

TEST_F(RemoteServiceTest, PairingWithThePhoneGoneTimesOutOnTheClock) {
    makeService();
    const Bytes qrKey = TBNCryptAES::generateKey();
    phoneScansQr(qrKey, "5555666677778888", "SECRET-2");
    phone_.dropAfterPairingAnswer = true;
    auto result = startPairing(qrKey, "5555666677778888");
    auto failure = result->failure.get_future();
    ASSERT_TRUE(eventually([&] { return waits_.waitedWithName("pairToDevice"); }));
    EXPECT_EQ(failure.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    clock_->advance(TBNThriftRemoteMobileSevice::kPairTimeout + 1);
    ASSERT_EQ(failure.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    auto e = failure.get();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->category(), TBNErrors::requestTimedOut()->category());
    EXPECT_EQ(e->id(), TBNErrors::requestTimedOut()->id());
    EXPECT_FALSE(service_->pairingInProgress());
    EXPECT_FALSE(settings_->firstPairedDevice());
    EXPECT_EQ(phoneCalls("approveClient"), 0u);
}

TEST_F(RemoteServiceTest, ApprovalOsVersionTextHasTwoDigitsPerNumber) {
    const std::vector<std::tuple<unsigned long, unsigned long, std::string>> cases = {
        {10, 15, "OSX 10.15"}, {11, 1, "OSX 11.01"}, {12, 0, "OSX 12.00"}, {6, 123, "OSX 06.123"}};
    for (const auto& [major, minor, text] : cases) {
        EXPECT_EQ(TBNThriftRemoteMobileSevice::osVersionText(major, minor), text);
    }
}

TEST_F(RemoteServiceTest, SleepingPhoneIsWokenByOnePushAndTheCallReturnsItsAnswer) {
    pairDirectly();
    phone_.awake = false;
    makeService();
    service_->start();
    ASSERT_FALSE(service_->onlinedTransportFactory());

    auto request = std::make_shared<TBNGetSiteDataListRequest>();
    request->setInfo(info("11"));
    request->setAuth(extensionAuth());
    auto call = std::async(std::launch::async, [&] { return service_->getSiteDataList(request); });
    ASSERT_TRUE(advanceUntil(
        [&] { return call.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    auto response = call.get();
    ASSERT_TRUE(response);
    EXPECT_FALSE(response->info()->error());
    ASSERT_TRUE(response->records());
    EXPECT_EQ(response->records()->size(), 1u);

    ASSERT_EQ(push_->count(), 1u);
    const auto& n = push_->sent[0];
    const std::string message = "Open Lumvane on your phone to continue.";
    EXPECT_EQ(n.payload.size(), 467 + message.size());
    EXPECT_EQ(n.identifier, 1u);
    EXPECT_EQ(n.expiration, 10);
    EXPECT_TRUE(n.expires);
    EXPECT_EQ(n.priority, 10);
    EXPECT_EQ(n.deviceToken, (Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}));
    EXPECT_EQ(delegate_->showExpecting, 1);
    EXPECT_EQ(delegate_->hideExpecting, 1);
    EXPECT_FALSE(settings_->expectedDeviceId());
    EXPECT_TRUE(settings_->firstPairedDevice()->online());
}

TEST_F(RemoteServiceTest, NoPhoneGivesNothingAfterTheBoundedWaitAndTheNextCallPushesAgain) {
    // No paired phone: nothing at once, no push.
    makeService();
    auto request = std::make_shared<TBNAddLoginDataRequest>();
    request->setInfo(info("21"));
    request->setAuth(extensionAuth());
    request->setSiteUrl(std::string("https://new.example.org"));
    EXPECT_FALSE(service_->addLoginData(request));
    EXPECT_EQ(push_->count(), 0u);
    EXPECT_EQ(delegate_->showExpecting, 0);
    // The extension server turns nothing into "Device not available".
    EXPECT_EQ(TBNErrors::deviceNotFound()->category(), 3);
    EXPECT_EQ(TBNErrors::deviceNotFound()->id(), 7);

    // A paired phone out of reach: one push, then nothing after the wake-up time-out.
    pairDirectly();
    phone_.awake = false;
    push_->reachable = false;
    service_->start();
    for (int round = 1; round <= 2; ++round) {
        auto call = std::async(std::launch::async, [&] { return service_->addLoginData(request); });
        ASSERT_TRUE(eventually([&] { return waits_.waitedWithName("remoteNotification"); }));
        EXPECT_EQ(settings_->expectedDeviceId(), phone_.deviceId());
        clock_->advance(TBNThriftRemoteMobileSevice::kWakeUpTimeout - 1);
        EXPECT_EQ(call.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
        clock_->advance(2.0);
        ASSERT_EQ(call.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        EXPECT_FALSE(call.get());
        // The wake-up is forgotten and its notice hidden, so the next call pushes again.
        EXPECT_FALSE(settings_->expectedDeviceId());
        EXPECT_EQ(push_->count(), static_cast<size_t>(round));
        EXPECT_EQ(delegate_->showExpecting, round);
        EXPECT_EQ(delegate_->hideExpecting, round);
    }

    // A refused push: nothing at once, no wait, no expected id.
    push_->refuse = true;
    EXPECT_FALSE(service_->addLoginData(request));
    EXPECT_FALSE(settings_->expectedDeviceId());
    EXPECT_EQ(delegate_->showExpecting, 2);
}

TEST_F(RemoteServiceTest, NotAuthorizedAnswerIsPassedOnAndUnpairsThePhone) {
    pairDirectly();
    {
        // The phone forgot the Mac.
        std::lock_guard<std::mutex> lock(phone_.sim->vault().mutex_);
        phone_.sim->vault().content_.clients = {{"SOMEONE-ELSE", "NOT-THE-MAC"}};
    }
    makeService();
    service_->start();
    ASSERT_TRUE(eventually([&] { return service_->onlinedTransportFactory() != nullptr; }));
    auto request = std::make_shared<TBNDeleteSiteDataRequest>();
    request->setInfo(info("31"));
    request->setAuth(extensionAuth());
    request->setSiteUrl(std::string("https://www.example.com"));
    request->setDomain(std::string("example.com"));
    auto response = service_->deleteSiteData(request);
    ASSERT_TRUE(response);
    ASSERT_TRUE(response->info()->error());
    EXPECT_EQ(response->info()->error()->category(), 1);
    EXPECT_EQ(response->info()->error()->id(), 1);
    ASSERT_TRUE(eventually([&] { return delegate_->notAuthorized == 1; }));
    EXPECT_FALSE(settings_->firstPairedDevice());
    EXPECT_FALSE(client_->running());
}

TEST_F(RemoteServiceTest, UnpairRemovesThePairedPhoneAndResetsItsPeripheral) {
    pairDirectly();
    auto known = std::make_shared<TBNBlecPeripheral>(phone_.bleId);
    known->setDeviceId(phone_.deviceId());
    known->setState(TBNBlecPeripheralStateSupported);
    store_.setAllBlePeripheralsFromArray({known});
    settings_->setAllBlePeripherals({std::make_shared<TBNOSXBlecPeripheral>(
        4, phone_.bleId, phone_.deviceId(), std::string("Test iPhone"), std::nullopt, std::nullopt,
        std::nullopt)});
    makeService();
    service_->start();
    ASSERT_TRUE(eventually([&] { return service_->onlinedTransportFactory() != nullptr; }));
    service_->unpairFromDevice(std::string("any id"));
    EXPECT_FALSE(settings_->firstPairedDevice());
    EXPECT_FALSE(client_->running());
    EXPECT_FALSE(service_->onlinedTransportFactory());
    auto record = store_.blePeripheralByBleId(phone_.bleId);
    ASSERT_TRUE(record);
    EXPECT_FALSE(record->deviceId());
    EXPECT_FALSE(store_.bleIdByDeviceId(phone_.deviceId()));
    // Unpairing with nothing paired changes nothing and does not throw.
    service_->unpairFromDevice(std::nullopt);
    EXPECT_FALSE(settings_->firstPairedDevice());
}

// Every storage call reaches the phone with the Mac's credentials and its answer comes
// back as the phone gave it; errors pass through.
TEST_F(RemoteServiceTest, EveryStorageCallReachesThePhoneWithTheMacCredentials) {
    pairDirectly();
    makeService();
    service_->start();
    ASSERT_TRUE(eventually([&] { return service_->onlinedTransportFactory() != nullptr; }));
    auto reference = phone_.sim->vault().storageService();
    auto macAuth = [] {
        return std::make_shared<TBNAuthentication>(std::string("MAC-CLIENT-ID"),
                                                   std::string("MAC-SECRET"));
    };
    const std::string url = "https://www.example.com/login";

    struct Case {
        std::string method;
        // Runs the call through the service and directly on the vault; compares.
        std::function<void(bool forcedError)> run;
    };
    auto sameAnswer = [](auto viaMac, auto direct, bool forcedError) {
        ASSERT_TRUE(viaMac);
        ASSERT_TRUE(direct);
        ASSERT_TRUE(viaMac->info());
        if (forcedError) {
            ASSERT_TRUE(viaMac->info()->error());
            EXPECT_EQ(viaMac->info()->error()->category(), 4);
            EXPECT_EQ(viaMac->info()->error()->id(), 6);
        } else {
            EXPECT_FALSE(viaMac->info()->error());
        }
        auto a = std::make_shared<std::decay_t<decltype(*viaMac)>>(*viaMac);
        auto b = std::make_shared<std::decay_t<decltype(*direct)>>(*direct);
        a->setInfo(nullptr);
        b->setInfo(nullptr);
        EXPECT_TRUE(*a == *b);
    };
    std::vector<Case> cases;
    cases.push_back({"getLoginData", [&](bool f) {
                         auto r = std::make_shared<TBNGetLoginDataRequest>();
                         r->setInfo(info("g1"));
                         r->setAuth(extensionAuth());
                         r->setSiteUrl(url);
                         r->setDomain(std::string("example.com"));
                         r->setLogin(std::string("alice"));
                         auto viaMac = service_->getLoginData(r);
                         EXPECT_EQ(r->auth()->clientId(), std::string("MAC-CLIENT-ID"));
                         auto copy = std::make_shared<TBNGetLoginDataRequest>(*r);
                         copy->setAuth(macAuth());
                         sameAnswer(viaMac, reference->getLoginData(copy), f);
                     }});
    cases.push_back({"addLoginData", [&](bool f) {
                         auto login = std::make_shared<TBNLoginData>();
                         login->setLogin(std::string("bob"));
                         login->setPassword(std::string("b0b"));
                         auto r = std::make_shared<TBNAddLoginDataRequest>(
                             info("a1"), extensionAuth(), std::string("https://new.example.net"),
                             std::string("example.net"), login, false);
                         auto viaMac = service_->addLoginData(r);
                         EXPECT_EQ(r->auth()->clientSecret(), std::string("MAC-SECRET"));
                         ASSERT_TRUE(viaMac);
                         if (f) {
                             ASSERT_TRUE(viaMac->info()->error());
                             EXPECT_EQ(viaMac->info()->error()->id(), 6);
                         } else {
                             EXPECT_FALSE(viaMac->info()->error());
                         }
                     }});
    cases.push_back({"updateLoginData", [&](bool f) {
                         auto r = std::make_shared<TBNUpdateLoginDataRequest>();
                         r->setInfo(info("u1"));
                         r->setAuth(extensionAuth());
                         r->setSiteUrl(url);
                         r->setDomain(std::string("example.com"));
                         auto changed = std::make_shared<TBNLoginData>();
                         changed->setLogin(std::string("alice"));
                         changed->setPassword(std::string("n3w-pa55"));
                         r->setLoginData(changed);
                         r->setCurrentLogin(std::string("alice"));
                         auto viaMac = service_->updateLoginData(r);
                         auto copy = std::make_shared<TBNUpdateLoginDataRequest>(*r);
                         copy->setAuth(macAuth());
                         sameAnswer(viaMac, reference->updateLoginData(copy), f);
                     }});
    cases.push_back({"getSiteData", [&](bool f) {
                         auto r = std::make_shared<TBNGetSiteDataRequest>();
                         r->setInfo(info("s1"));
                         r->setAuth(extensionAuth());
                         r->setSiteUrl(url);
                         r->setDomain(std::string("example.com"));
                         auto viaMac = service_->getSiteData(r);
                         auto copy = std::make_shared<TBNGetSiteDataRequest>(*r);
                         copy->setAuth(macAuth());
                         sameAnswer(viaMac, reference->getSiteData(copy), f);
                     }});
    cases.push_back({"getSiteDataList", [&](bool f) {
                         auto r = std::make_shared<TBNGetSiteDataListRequest>();
                         r->setInfo(info("l1"));
                         r->setAuth(extensionAuth());
                         auto viaMac = service_->getSiteDataList(r);
                         auto copy = std::make_shared<TBNGetSiteDataListRequest>(*r);
                         copy->setAuth(macAuth());
                         sameAnswer(viaMac, reference->getSiteDataList(copy), f);
                     }});
    cases.push_back({"get2FACode", [&](bool f) {
                         auto r = std::make_shared<TBNGet2FACodeRequest>();
                         r->setInfo(info("t1"));
                         r->setAuth(extensionAuth());
                         r->setSiteUrl(url);
                         r->setDomain(std::string("example.com"));
                         r->setLogin(std::string("alice"));
                         auto viaMac = service_->get2FACode(r);
                         ASSERT_TRUE(viaMac);
                         auto copy = std::make_shared<TBNGet2FACodeRequest>(*r);
                         copy->setAuth(macAuth());
                         auto direct = reference->get2FACode(copy);
                         if (f) {
                             ASSERT_TRUE(viaMac->info()->error());
                             EXPECT_EQ(viaMac->info()->error()->id(), 6);
                         } else {
                             EXPECT_FALSE(viaMac->info()->error());
                             // Codes depend on the moment; the site's code fields match.
                             EXPECT_EQ(viaMac->period(), direct->period());
                         }
                     }});
    cases.push_back({"deleteLoginData", [&](bool f) {
                         auto r = std::make_shared<TBNDeleteLoginDataRequest>();
                         r->setInfo(info("d1"));
                         r->setAuth(extensionAuth());
                         r->setSiteUrl(std::string("https://new.example.net"));
                         r->setDomain(std::string("example.net"));
                         r->setLogin(std::string("bob"));
                         auto viaMac = service_->deleteLoginData(r);
                         ASSERT_TRUE(viaMac);
                         EXPECT_EQ(viaMac->info()->error() != nullptr, f);
                     }});
    cases.push_back({"deleteSiteData", [&](bool f) {
                         auto r = std::make_shared<TBNDeleteSiteDataRequest>();
                         r->setInfo(info("x1"));
                         r->setAuth(extensionAuth());
                         r->setSiteUrl(std::string("https://new.example.net"));
                         r->setDomain(std::string("example.net"));
                         auto viaMac = service_->deleteSiteData(r);
                         ASSERT_TRUE(viaMac);
                         EXPECT_EQ(viaMac->info()->error() != nullptr, f);
                     }});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        const size_t before = phoneCalls(c.method);
        c.run(false);
        EXPECT_EQ(phoneCalls(c.method), before + 1);
    }
    phone_.sim->vault().setForcedError(std::make_pair(4, 6));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method + " with a phone error");
        c.run(true);
    }
    // None of these errors unpairs the phone.
    EXPECT_TRUE(settings_->firstPairedDevice());
    EXPECT_EQ(delegate_->notAuthorized, 0);
}

TEST_F(RemoteServiceTest, KeysFollowPairingStateAndNeverDropForAPairedPhone) {
    makeService();
    const Bytes phrase = TBNCryptHash::sha256FromString(std::string("wrb.fendlox.garimu.net"));
    auto connection =
        std::make_shared<FakeConnection>(phone_.sim, phone_.wire, &phone_.key, &phone_.mutex);
    auto info = connection->mutableInfo();
    info->updateBLEId(phone_.bleId);
    info->updateDid(phone_.deviceId());

    struct Row {
        std::optional<std::string> appVersion;
        bool encrypted;
    };
    // Not paired, no pairing: the phone's own version decides.
    for (const auto& row : std::vector<Row>{{std::nullopt, false},
                                            {std::string("0.8.14.6"), false},
                                            {std::string("0.8.14.7"), true},
                                            {std::string("1.0"), true}}) {
        info->updateAppVersion(row.appVersion);
        SCOPED_TRACE(row.appVersion.value_or("none"));
        EXPECT_EQ(service_->encryptKeyForBlecThriftTransportFactory(connection).has_value(),
                  row.encrypted);
        if (row.encrypted) {
            EXPECT_EQ(*service_->encryptKeyForBlecThriftTransportFactory(connection), phrase);
        }
    }
    // Paired: the secret key, whatever version the phone now reports.
    pairDirectly();
    for (const auto& version : {std::optional<std::string>(), std::optional<std::string>("0.1")}) {
        info->updateAppVersion(version);
        EXPECT_EQ(service_->encryptKeyForBlecThriftTransportFactory(connection), macSecretKey());
        EXPECT_EQ(service_->decryptKeysForBlecThriftTransportFactory(connection),
                  (std::vector<Bytes>{macSecretKey(), phrase}));
    }
    // A pairing key comes first among the keys tried while a pairing runs.
    const Bytes qrKey = TBNCryptAES::generateKey();
    service_->startPairWithAuthKey(qrKey, "FFFFEEEEDDDDCCCC", nullptr, nullptr, nullptr);
    EXPECT_EQ(service_->decryptKeysForBlecThriftTransportFactory(connection),
              (std::vector<Bytes>{qrKey, macSecretKey(), phrase}));
    service_->stopPair();
}

TEST_F(RemoteServiceTest, PushPayloadKeepsItsLayoutAndEscapesTheMessage) {
    EXPECT_EQ(TBNThriftRemoteMobileSevice::pushPayload("").size(), 467u);
    const std::vector<std::string> messages = {"Open the app", "say \"hi\"", "back\\slash",
                                               "line\nbreak", "ünïcödé"};
    for (const auto& message : messages) {
        SCOPED_TRACE(message);
        const std::string payload = TBNThriftRemoteMobileSevice::pushPayload(message);
        auto json = nlohmann::json::parse(payload);
        EXPECT_EQ(json["aps"]["alert"].get<std::string>(), message);
        EXPECT_EQ(json["aps"]["category"], "LUMVANE_GLOBAL");
        EXPECT_EQ(json["aps"]["sound"], "radar.mp3");
    }
    EXPECT_EQ(TBNThriftRemoteMobileSevice::pushPayload("say \"hi\"").size(), 467u + 10u);
}

TEST_F(RemoteServiceTest, KnownPeripheralsAreRestoredAtStartAndSavedWithFoundAsSupported) {
    settings_->setAllBlePeripherals(
        {std::make_shared<TBNOSXBlecPeripheral>(
             5, std::string("AA:00:00:00:00:01"), std::string("DEV-1"), std::string("One"),
             std::string("iPhone9,3"), std::string("10.3"), std::string("1.0")),
         std::make_shared<TBNOSXBlecPeripheral>(3, std::string("AA:00:00:00:00:02"), std::nullopt,
                                                std::nullopt, std::nullopt, std::nullopt,
                                                std::nullopt)});
    makeService();
    auto restored = store_.allBlePeripherals();
    ASSERT_EQ(restored.size(), 2u);
    EXPECT_EQ(store_.bleIdByDeviceId("DEV-1"), std::string("AA:00:00:00:00:01"));
    EXPECT_EQ(store_.blePeripheralByBleId("AA:00:00:00:00:01")->state(),
              TBNBlecPeripheralStateSupported);
    EXPECT_EQ(store_.blePeripheralByBleId("AA:00:00:00:00:02")->state(),
              TBNBlecPeripheralStateUnsupported);
    EXPECT_EQ(store_.deviceNameByDeviceId("DEV-1"), std::string("One"));

    store_.blePeripheralByBleId("AA:00:00:00:00:02")->setState(TBNBlecPeripheralStateFound);
    service_->blecPeripheralStoreDidUpdate(store_);
    auto saved = settings_->allBlePeripherals();
    ASSERT_EQ(saved.size(), 2u);
    for (const auto& p : saved) EXPECT_NE(p->state(), 5);
}

TEST_F(RemoteServiceTest, RestoreGoesOnlyToThePairedPhone) {
    struct BackupDelegate : RecordingDelegate {
        std::shared_ptr<TBNError> remoteMobileCanLoadBackUp(Service&, Bytes& b) override {
            ++asked;
            b = Bytes{1, 2, 3};
            return nullptr;
        }
        std::atomic<int> asked{0};
    };
    auto backup = std::make_shared<BackupDelegate>();
    delegate_ = backup;
    makeService();
    // A phone that is not paired asks for a restore: the backup is not even read.
    client_->startForDeviceId(phone_.deviceId(), phone_.bleId);
    ASSERT_TRUE(eventually([&] { return service_->onlinedTransportFactory() != nullptr; }));
    auto connection = client_->connection();
    service_->blecThriftTransportFactoryDidNeedCommunicationTypeUpdated(connection, 2);
    service_->backupRestoreQueue()->sync([] {});
    EXPECT_EQ(backup->asked, 0);
    EXPECT_EQ(phoneCalls("setBackUp"), 0u);

    // Once paired it goes.
    pairDirectly();
    service_->blecThriftTransportFactoryDidNeedCommunicationTypeUpdated(connection, 2);
    service_->backupRestoreQueue()->sync([] {});
    EXPECT_EQ(backup->asked, 1);
    EXPECT_EQ(phoneCalls("setBackUp"), 1u);
    EXPECT_FALSE(service_->backupRestoreProcessing());
}

TEST_F(RemoteServiceTest, MissingPushCertificateLeavesNoPusherAndWakeUpsFailAtOnce) {
    TBNThriftRemoteMobileSevice::Options o;
    o.settings = settings_;
    o.peripheralStore = &store_;
    o.waitManager = &waits_;
    o.clock = clock_;
    auto client = client_;
    o.clientFactory = [client](const auto&, const auto&) { return client; };
    o.resourceFolder = (root_ / "no-resources").string();
    o.connectPushAsync = false;
    service_ = TBNThriftRemoteMobileSevice::create(delegate_, o);
    EXPECT_FALSE(service_->pusher());
    pairDirectly();
    phone_.awake = false;
    EXPECT_FALSE(service_->requestDeviceToOnline("wake up"));
    EXPECT_FALSE(settings_->expectedDeviceId());
    EXPECT_EQ(delegate_->showExpecting, 0);
}

}  // namespace
}  // namespace lumvane::remotetest

namespace lumvane::remotetest {
namespace {

class RemoteNoticeTest : public RemoteFixture {
  protected:
    std::shared_ptr<TBNGetLoginDataRequest> loginRequest(const std::string& url) {
        auto r = std::make_shared<TBNGetLoginDataRequest>();
        r->setInfo(std::make_shared<TBNRequestInfo>());
        r->setAuth(std::make_shared<TBNAuthentication>(std::string("EXT"), std::string("X")));
        r->setSiteUrl(url);
        r->setDomain(std::string("example.com"));
        r->setLogin(std::string("alice"));
        return r;
    }
};

// A slow answer shows the waiting notice at 5 s and hides it at the end; a quick one shows
// none; a failing link also brings the access-timeout notice.
TEST_F(RemoteNoticeTest, WaitingNoticeFollowsTheClockAndIsAlwaysHidden) {
    pairDirectly();
    std::mutex gateMutex;
    std::condition_variable gateCv;
    bool open = false, entered = false, failLink = false;
    phone_.beforeAnswer = [&] {
        std::unique_lock<std::mutex> lock(gateMutex);
        entered = true;
        gateCv.notify_all();
        gateCv.wait(lock, [&] { return open; });
        if (failLink) throw TTransportException(TTransportException::TIMED_OUT, "link lost");
    };
    makeService();
    service_->start();
    ASSERT_TRUE(eventually([&] { return service_->onlinedTransportFactory() != nullptr; }));

    struct Row {
        double answerAfter;
        bool fails;
        int shown;
        int timeouts;
    };
    int shownSoFar = 0, timeoutsSoFar = 0;
    for (const auto& row : std::vector<Row>{{6, false, 1, 0}, {2, false, 0, 0}, {7, true, 1, 1}}) {
        SCOPED_TRACE(row.answerAfter);
        {
            std::lock_guard<std::mutex> lock(gateMutex);
            open = false;
            entered = false;
            failLink = row.fails;
        }
        auto call = std::async(std::launch::async, [&] {
            return service_->getLoginData(loginRequest("https://www.example.com/login"));
        });
        {
            std::unique_lock<std::mutex> lock(gateMutex);
            ASSERT_TRUE(gateCv.wait_for(lock, std::chrono::seconds(10), [&] { return entered; }));
        }
        clock_->advance(row.answerAfter);
        if (row.shown) {
            ASSERT_TRUE(eventually([&] { return delegate_->showWaiting == shownSoFar + 1; }));
        }
        {
            std::lock_guard<std::mutex> lock(gateMutex);
            open = true;
        }
        gateCv.notify_all();
        auto response = call.get();
        EXPECT_EQ(response == nullptr, row.fails);
        shownSoFar += row.shown;
        timeoutsSoFar += row.timeouts;
        EXPECT_EQ(delegate_->showWaiting, shownSoFar);
        EXPECT_EQ(delegate_->hideWaiting, shownSoFar);
        EXPECT_EQ(delegate_->accessTimeout, timeoutsSoFar);
    }
    // The first answered login showed the first-fill guide, once.
    EXPECT_EQ(delegate_->firstFill, 1);
    EXPECT_TRUE(settings_->firstFillGuideShowed());
}

// With the paired phone offline, its sites cache decides whether the phone is woken.
TEST_F(RemoteNoticeTest, SiteDataAsksAnOfflinePhoneOnlyForCachedUnprotectedSites) {
    pairDirectly();
    phone_.awake = false;
    push_->reachable = false;
    auto cache = std::make_shared<TBNSitesCache>(
        1,
        std::make_shared<std::set<std::string>>(
            std::set<std::string>{TBNCryptHash::strSha256FromSiteUrl(std::string("example.com"))}),
        nullptr,
        std::make_shared<std::set<std::string>>(
            std::set<std::string>{TBNCryptHash::strSha256FromSiteUrl(std::string("secret.org"))}));
    settings_->updateSitesCache(cache, phone_.bleId);
    settings_->waitForPendingSaves();
    makeService();

    auto request = [](const std::string& url, bool manual) {
        auto r = std::make_shared<TBNGetSiteDataRequest>();
        r->setInfo(std::make_shared<TBNRequestInfo>());
        r->setSiteUrl(url);
        if (manual) r->setManual(true);
        return r;
    };
    // Manual request, phone offline: nothing, no wake-up.
    EXPECT_FALSE(service_->getSiteData(request("https://www.example.com/", true)));
    // Not cached, or protected: an empty answer, no wake-up.
    for (const std::string url : {"https://unknown.net/", "https://www.secret.org/"}) {
        auto r = service_->getSiteData(request(url, false));
        ASSERT_TRUE(r);
        EXPECT_FALSE(r->infoIsSet());
        EXPECT_FALSE(r->recordIsSet());
    }
    EXPECT_EQ(push_->count(), 0u);
    // Cached and not protected: the phone is woken.
    auto call = std::async(std::launch::async, [&] {
        return service_->getSiteData(request("https://www.example.com/", false));
    });
    ASSERT_TRUE(eventually([&] { return waits_.waitedWithName("remoteNotification"); }));
    EXPECT_EQ(push_->count(), 1u);
    clock_->advance(TBNThriftRemoteMobileSevice::kWakeUpTimeout + 1);
    EXPECT_FALSE(call.get());
}

}  // namespace
}  // namespace lumvane::remotetest
