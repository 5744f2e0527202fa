// The service's own calls to the phone over the simulated radio: backups and restores,
// clipboard values and URLs the phone puts up, cache refreshes, a new password, a new
// account and U2F forwarding. The phone keeps what it received; the tests compare.
#include <future>
#include <random>

#include "RemoteCallsSupport.h"
#include "core/pasteboard/Pasteboard.h"
#include "crypto/TBNCryptHash.h"
#include "runtime/MainLoop.h"

namespace lumvane::remotecalls {
namespace {

Bytes randomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(gen());
    return b;
}

int64_t secondsOf(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

std::chrono::system_clock::time_point at(int64_t seconds) {
    return std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
}

using RemoteCallsTest = CallsFixture;

// ---- Backups --------------------------------------------------------------------------

TEST_F(RemoteCallsTest, PhoneAskingForABackupHandsItsBytesToTheDelegateAndMovesTheBackupTime) {
    startService();
    // Binary, and large enough to take many chunks.
    const Bytes backUp = randomBytes(40000, 7);
    storage().setBackUp(backUp, 1700000500);

    // The phone asks; the service fetches 5 s later.
    service_->blecThriftTransportFactoryDidNeedCommunicationTypeUpdated(transport_, 1);
    clock_->advance(4.9);
    EXPECT_TRUE(eventually([&] { return received().backUpRequests.size() == 1; }, 0.2));
    clock_->advance(0.2);
    ASSERT_TRUE(eventually([&] { return received().backUpResults.size() == 2; }));

    ASSERT_EQ(delegate_->savedCount(), 1u);
    EXPECT_EQ(delegate_->savedBackUps[0], backUp);
    auto r = received();
    EXPECT_EQ(r.backUpRequests[1].lastBackUpTime, 0);  // no backup stored before
    EXPECT_FALSE(r.backUpResults[1].result);
    EXPECT_EQ(r.backUpResults[1].backupTime, 1700000500);
    EXPECT_EQ(secondsOf(settings_->lastBackupTime()), 1700000500);

    // A stored backup is not asked for again; the next fetch carries the new time.
    clock_->advance(301);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(received().backUpRequests.size(), 2u);
    service_->getBackupForHardwareId(std::string(kBleId));
    ASSERT_TRUE(eventually([&] { return received().backUpResults.size() == 3; }));
    EXPECT_EQ(received().backUpRequests[2].lastBackUpTime, 1700000500);
}

struct FailedBackup {
    const char* name;
    bool delegateRefuses;  // else the phone answers with an error
};

class FailedBackupTest : public CallsFixture, public ::testing::WithParamInterface<FailedBackup> {};

TEST_P(FailedBackupTest, ReportsTheErrorWithTheOldTimeAndAsksAgainAfter300Seconds) {
    startService();
    settings_->setLastBackupTime(at(1600000000));
    storage().setBackUp(Bytes{1, 2, 3}, 1700000500);
    if (GetParam().delegateRefuses) {
        delegate_->saveAnswer = makeError(4, 10, "exception: disk full");
    } else {
        storage().setMethodError("getBackUp", makeError(4, 14, "Vault locked"));
    }

    service_->getBackupForHardwareId(std::string(kBleId));
    ASSERT_TRUE(eventually([&] { return received().backUpResults.size() == 2; }));
    auto r = received();
    ASSERT_TRUE(r.backUpResults[1].result);
    EXPECT_EQ(r.backUpResults[1].result->id(), GetParam().delegateRefuses ? 10 : 14);
    EXPECT_EQ(r.backUpResults[1].backupTime, 1600000000);
    EXPECT_EQ(secondsOf(settings_->lastBackupTime()), 1600000000);
    EXPECT_EQ(delegate_->savedCount(), GetParam().delegateRefuses ? 1u : 0u);

    clock_->advance(299);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(received().backUpRequests.size(), 2u);
    // The retry succeeds once the cause is gone.
    delegate_->saveAnswer = nullptr;
    storage().setMethodError("getBackUp", nullptr);
    clock_->advance(1.5);
    ASSERT_TRUE(eventually([&] { return received().backUpResults.size() == 3; }));
    EXPECT_FALSE(received().backUpResults[2].result);
    EXPECT_EQ(secondsOf(settings_->lastBackupTime()), 1700000500);
}

INSTANTIATE_TEST_SUITE_P(Causes, FailedBackupTest,
                         ::testing::Values(FailedBackup{"DelegateRefuses", true},
                                           FailedBackup{"PhoneError", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RemoteCallsTest, BackupFetchWithoutTheOnlinePhoneSendsNothing) {
    startService();
    storage().setBackUp(Bytes{1}, 5);
    service_->getBackupForHardwareId(std::string("00:00:00:00:00:00"));
    client_->stop();
    service_->getBackupForHardwareId(std::string(kBleId));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(received().backUpRequests.size(), 1u);
    EXPECT_EQ(delegate_->savedCount(), 0u);
}

TEST_F(RemoteCallsTest, RestoreSendsTheLoadedBackupByteForByte) {
    startService();
    delegate_->backUpToLoad = randomBytes(30000, 11);
    service_->blecThriftTransportFactoryDidNeedCommunicationTypeUpdated(transport_, 2);
    ASSERT_TRUE(eventually([&] { return received().restores.size() == 1; }));
    auto restore = received().restores[0];
    ASSERT_TRUE(restore.backUp);
    EXPECT_EQ(*restore.backUp, delegate_->backUpToLoad);
    EXPECT_FALSE(restore.result);
}

// ---- Clipboard and URL ----------------------------------------------------------------

TEST_F(RemoteCallsTest, ClipboardValueReachesTheDelegateWhole) {
    startService();
    auto answer = std::make_shared<TBNLoadDataForClipboardResponse>();
    answer->setLogin(std::string("alice"));
    answer->setPassword(std::string("pa55, \"w\xC3\xB6rd\"\n"));
    answer->setAccountId(std::string("ACC-1"));
    answer->setComment(std::string("work"));
    answer->setTwoFactorCode(std::string("123456"));
    answer->setClearTimeout(30);
    storage().setClipboard(answer);

    // The application service puts the copy on an expiring clipboard.
    auto loop = std::make_shared<HeadlessMainLoop>(clock_);
    auto board = std::make_shared<MemoryPasteboard>();
    auto paste = TBNPasteboard::create(board, loop);
    delegate_->onCopy = [&](const CallsDelegate::Copy& c) {
        paste->setString(c.password.value_or(""), c.clearTimeout);
    };

    service_->blecThriftTransportFactoryDidNeedCommunicationTypeUpdated(transport_, 3);
    ASSERT_TRUE(eventually([&] { return delegate_->copyCount() == 1; }));
    const auto c = delegate_->copies[0];
    EXPECT_EQ(c.login, "alice");
    EXPECT_EQ(c.password, *answer->password());
    EXPECT_EQ(c.accountId, "ACC-1");
    EXPECT_EQ(c.comment, "work");
    EXPECT_EQ(c.twoFactorCode, "123456");
    EXPECT_EQ(c.clearTimeout, 30);

    // The value expires after the phone's time-out.
    EXPECT_EQ(board->string(), *answer->password());
    clock_->advance(29.5);
    loop->runPending();
    EXPECT_EQ(board->string(), *answer->password());
    clock_->advance(1);
    loop->runPending();
    EXPECT_EQ(board->string(), "");
}

TEST_F(RemoteCallsTest, EmptyOrRefusedClipboardAndUrlAnswersReachNoOneAndNeverUnpair) {
    startService();
    // Neither login nor password: nothing to copy.
    auto onlyCode = std::make_shared<TBNLoadDataForClipboardResponse>();
    onlyCode->setTwoFactorCode(std::string("654321"));
    storage().setClipboard(onlyCode);
    service_->getAccountForClipboardForHardwareId(std::string(kBleId));
    service_->getURLToOpenForHardwareId(std::string(kBleId));
    EXPECT_EQ(received().clipboardRequests, 1u);
    EXPECT_EQ(received().urlRequests, 1u);

    // Even a "not authorised" answer to these calls is only logged.
    storage().setMethodError("loadDataForClipboard", makeError(1, 1, "Client not authorized"));
    storage().setMethodError("getUrlToOpen", makeError(1, 1, "Client not authorized"));
    service_->getAccountForClipboardForHardwareId(std::string(kBleId));
    service_->getURLToOpenForHardwareId(std::string(kBleId));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    EXPECT_EQ(delegate_->copyCount(), 0u);
    EXPECT_TRUE(delegate_->urls.empty());
    EXPECT_EQ(delegate_->notAuthorized.load(), 0);
    EXPECT_TRUE(settings_->pairedDeviceByHardwareId(std::string(kBleId)));
}

TEST_F(RemoteCallsTest, UrlThePhoneSendsIsOpened) {
    startService();
    storage().setUrlToOpen(std::string("https://example.com/reset?token=a%20b&x=\xC3\xA9"));
    service_->blecThriftTransportFactoryDidNeedCommunicationTypeUpdated(transport_, 4);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(delegate_->mutex);
        return delegate_->urls.size() == 1;
    }));
    EXPECT_EQ(delegate_->urls[0], "https://example.com/reset?token=a%20b&x=\xC3\xA9");
}

// ---- Caches ---------------------------------------------------------------------------

TEST_F(RemoteCallsTest, SiteCacheRefreshRunsOncePerPhoneAndCarriesTheStoredTime) {
    startService();
    const auto first = received().cacheRequests;
    ASSERT_EQ(first.size(), 1u);  // the refresh after the handshake
    EXPECT_EQ(first[0].updateTimeStamp, 0);
    EXPECT_FALSE(first[0].includeAccountsCache);
    auto stored = settings_->pairedDeviceByHardwareId(std::string(kBleId))->sitesCache();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->updateTimeStamp(), 1700000100);
    EXPECT_EQ(stored->urlsCache()->size(), 1u);
    // The first refresh has ended (its cache is stored before it lets go of the phone).
    ASSERT_TRUE(callsSettled());

    // Hold the next refresh at the phone; a second one meanwhile is dropped.
    std::promise<void> release;
    auto released = release.get_future().share();
    std::atomic<int> held{0};
    storage().setBeforeAnswer([&, released](const std::string& method) {
        if (method == "getSitesCache") {
            ++held;
            released.wait();
        }
    });
    service_->updateSiteCacheForHardwareId(std::string(kBleId));
    ASSERT_TRUE(eventually([&] { return held.load() == 1; }));
    service_->updateSiteCacheForHardwareId(std::string(kBleId));
    release.set_value();
    ASSERT_TRUE(eventually([&] { return received().cacheRequests.size() == 2; }));
    ASSERT_TRUE(callsSettled());
    auto requests = received().cacheRequests;
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].updateTimeStamp, 1700000100);

    // Once it ended, the next refresh goes out again.
    storage().setBeforeAnswer(nullptr);
    service_->updateSiteCacheForHardwareId(std::string(kBleId));
    EXPECT_TRUE(eventually([&] { return received().cacheRequests.size() == 3; }));
}

TEST_F(RemoteCallsTest, AccountsCacheIsAskedWithTheSitesTimeAndStoredUnderItsDigest) {
    startService();
    const std::string site = "https://www.example.com";
    service_->updateAccountsCacheForHardwareId(std::string(kBleId), site);
    ASSERT_TRUE(eventually([&] { return received().cacheRequests.size() == 2; }));
    auto request = received().cacheRequests[1];
    EXPECT_EQ(request.method, "getAccountsCache");
    EXPECT_EQ(request.updateTimeStamp, 0);  // no entry for the site yet
    EXPECT_EQ(request.siteUrl, site);
    EXPECT_EQ(request.domain, "");

    const auto digest = TBNCryptHash::strSha256FromSiteUrl(std::string("example.com"));
    ASSERT_TRUE(eventually([&] {
        auto cache = settings_->pairedDeviceByHardwareId(std::string(kBleId))->sitesCache();
        return cache && cache->accountsCache() && cache->accountsCache()->count(digest) == 1;
    }));
    auto entry = settings_->pairedDeviceByHardwareId(std::string(kBleId))
                     ->sitesCache()
                     ->accountsCache()
                     ->at(digest);
    EXPECT_EQ(entry->loginsCache()->size(), 1u);

    // The next refresh of the same site carries the stored entry's time; one asked for
    // before the first has ended would be dropped.
    ASSERT_TRUE(callsSettled());
    service_->updateAccountsCacheForHardwareId(std::string(kBleId), site);
    ASSERT_TRUE(eventually([&] { return received().cacheRequests.size() == 3; }));
    EXPECT_EQ(received().cacheRequests[2].updateTimeStamp, 1700000100);
}

// ---- New password and new account -----------------------------------------------------

TEST_F(RemoteCallsTest, SendPasswordAlwaysAnswersItsCaller) {
    startService();
    auto send = [&](const std::string& password) {
        std::promise<bool> sent;
        auto future = sent.get_future();
        auto once = std::make_shared<std::atomic<int>>(0);
        service_->sendPasswordToPairedDevice(password, [&sent, once](bool ok) {
            if (++*once == 1) sent.set_value(ok);
        });
        EXPECT_EQ(future.wait_for(std::chrono::seconds(15)), std::future_status::ready);
        bool ok = future.get();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(once->load(), 1);
        return ok;
    };

    EXPECT_TRUE(send("Gen3rated!Pa55 \xE2\x82\xAC"));
    EXPECT_EQ(received().passwords, std::vector<std::string>{"Gen3rated!Pa55 \xE2\x82\xAC"});

    storage().setMethodError("sendPassword", makeError(2, 3, "User canceled"));
    EXPECT_FALSE(send("refused"));

    // No phone to be reached: the caller hears so instead of waiting forever.
    client_->stop();
    EXPECT_FALSE(send("offline"));
    EXPECT_EQ(received().passwords.size(), 1u);
}

TEST_F(RemoteCallsTest, CreateAccountAddsTheLoginToThePhone) {
    startService();
    service_->createAccount("bob@example.net", "s3cret, \"quoted\"", "https://new.example.net",
                            "new.example.net", true);
    ASSERT_TRUE(eventually([&] {
        for (const auto& s : phone_->vault().content().sites)
            if (s.domain == "new.example.net" && !s.logins.empty()) return true;
        return false;
    }));
    for (const auto& s : phone_->vault().content().sites) {
        if (s.domain != "new.example.net") continue;
        EXPECT_EQ(s.siteUrl, "https://new.example.net");
        ASSERT_EQ(s.logins.size(), 1u);
        EXPECT_EQ(s.logins[0].login, "bob@example.net");
        EXPECT_EQ(s.logins[0].password, "s3cret, \"quoted\"");
        EXPECT_TRUE(s.logins[0].isSecured);
    }
}

// ---- U2F ------------------------------------------------------------------------------

class RecordingBridge : public TBNThriftRemoteMobileSevice::U2FBridge {
  public:
    void setupRegisterCallback(Answer answer) override { registerAnswer = std::move(answer); }
    void setupAuthenticationCallback(Answer answer) override { authAnswer = std::move(answer); }
    bool running() const override { return running_; }
    bool start() override {
        ++starts;
        running_ = true;
        return true;
    }
    void stop() override {
        ++stops;
        running_ = false;
    }
    Answer registerAnswer, authAnswer;
    std::atomic<bool> running_{false};
    std::atomic<int> starts{0}, stops{0};
};

class U2FTest : public CallsFixture {
  protected:
    void enableFeature(bool on) {
        settings_->setOsxExtendedMode(on);
        settings_->setSupportYubiKey(on);
        settings_->waitForPendingSaves();
    }
    // The phone signs by answering the request's bytes reversed, behind a marker.
    static Bytes signed_(bool registering, const Bytes& raw) {
        Bytes out(raw.rbegin(), raw.rend());
        out.push_back(registering ? 0x05 : 0x01);
        out.push_back(0x90);
        out.push_back(0x00);
        return out;
    }
};

TEST_F(U2FTest, FeatureOffAnswersNothingWithoutAskingThePhone) {
    startService();
    enableFeature(false);
    EXPECT_FALSE(service_->registerYubikeyWithRaw(Bytes{1, 2, 3}));
    EXPECT_FALSE(service_->authenticationYubikeyWithRaw(Bytes{1, 2, 3}));
    EXPECT_TRUE(received().u2fRequests.empty());
}

TEST_F(U2FTest, BridgeCallbacksForwardTheRawRequestAndFollowTheSwitch) {
    startService();
    enableFeature(true);
    storage().setU2FResponder(signed_);
    auto bridge = std::make_shared<RecordingBridge>();
    service_->setU2FBridge(bridge);
    EXPECT_TRUE(bridge->running());

    const Bytes registerRaw = randomBytes(73, 3);
    auto answer = bridge->registerAnswer(registerRaw);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, signed_(true, registerRaw));
    const Bytes authRaw = randomBytes(2000, 4);  // several chunks each way
    answer = bridge->authAnswer(authRaw);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, signed_(false, authRaw));

    auto seen = received().u2fRequests;
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].registering);
    EXPECT_EQ(seen[0].requestRaw, registerRaw);
    EXPECT_FALSE(seen[0].siteUrlSet);
    EXPECT_FALSE(seen[0].loginSet);
    EXPECT_FALSE(seen[1].registering);

    // A phone error or an answer without bytes gives nothing.
    storage().setU2FResponder(nullptr);
    EXPECT_FALSE(bridge->authAnswer(Bytes{9}));
    storage().setMethodError("registerYubikey", makeError(4, 10, "exception: no key"));
    EXPECT_FALSE(bridge->registerAnswer(Bytes{9}));

    // Turning the switch off stops the bridge; the callbacks let the service go.
    settings_->setSupportYubiKey(false);
    settings_->waitForPendingSaves();
    EXPECT_TRUE(eventually([&] { return !bridge->running(); }));
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = service_;
    service_->stop();
    service_.reset();
    EXPECT_TRUE(eventually([&] { return weak.expired(); }, 5));
    EXPECT_FALSE(bridge->registerAnswer(Bytes{1}));
}

// The key runs only while both extended mode and the security-key switch are on, whichever
// switch the change was about. Each step turns one switch, so no change passes through a
// state of its own.
TEST_F(U2FTest, SwitchChangeFollowsExtendedModeAndTheSecurityKeySwitch) {
    startService();
    auto bridge = std::make_shared<RecordingBridge>();
    service_->setU2FBridge(bridge);
    struct Step {
        bool extended, yubikey;
    };
    const Step steps[] = {{true, false}, {true, true}, {false, true}, {false, false},
                          {false, true}, {true, true}, {true, false}, {false, false},
                          {true, false}, {true, true}};
    for (const Step& s : steps) {
        SCOPED_TRACE(::testing::Message() << "extended " << s.extended << " yubikey " << s.yubikey);
        const bool expected = s.extended && s.yubikey;
        settings_->setOsxExtendedMode(s.extended);
        settings_->setSupportYubiKey(s.yubikey);
        settings_->waitForPendingSaves();
        EXPECT_TRUE(eventually([&] { return bridge->running() == expected; }));
        // Told again, the service keeps the key as it is.
        service_->settingsDidUpdated(*settings_, TBNSettingsComponentSwitches);
        EXPECT_EQ(bridge->running(), expected);
    }
}

TEST_F(U2FTest, ExtendedModeOffStopsTheKeyAndOtherSwitchesDoNotStartIt) {
    startService();
    enableFeature(true);
    auto bridge = std::make_shared<RecordingBridge>();
    service_->setU2FBridge(bridge);
    ASSERT_TRUE(bridge->running());

    settings_->setOsxExtendedMode(false);
    settings_->waitForPendingSaves();
    EXPECT_TRUE(eventually([&] { return !bridge->running(); }));

    // Another extended-mode switch changes while the security-key switch stays on.
    const int startsBefore = bridge->starts;
    settings_->setExtensionExtendedMode(!settings_->extensionExtendedMode());
    settings_->waitForPendingSaves();
    service_->settingsDidUpdated(*settings_, TBNSettingsComponentSwitches);
    EXPECT_FALSE(bridge->running());
    EXPECT_EQ(bridge->starts, startsBefore);
}

TEST_F(U2FTest, ConcurrentRequestsEachGetTheirOwnAnswer) {
    startService();
    enableFeature(true);
    // The first request is slow at the phone: the others are sent while it waits.
    storage().setU2FResponder([](bool registering, const Bytes& raw) -> std::optional<Bytes> {
        if (!raw.empty() && raw[0] == 'A')
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        return signed_(registering, raw);
    });
    const Bytes a{'A', 1, 2}, b{'B', 3, 4}, c{'C', 5, 6};
    auto fa =
        std::async(std::launch::async, [&] { return service_->authenticationYubikeyWithRaw(a); });
    ASSERT_TRUE(eventually([&] { return received().u2fRequests.size() == 1; }));
    auto fb =
        std::async(std::launch::async, [&] { return service_->authenticationYubikeyWithRaw(b); });
    auto fc = std::async(std::launch::async, [&] { return service_->registerYubikeyWithRaw(c); });

    auto ra = fa.get(), rb = fb.get(), rc = fc.get();
    ASSERT_TRUE(ra && rb && rc);
    EXPECT_EQ(*ra, signed_(false, a));
    EXPECT_EQ(*rb, signed_(false, b));
    EXPECT_EQ(*rc, signed_(true, c));
}

TEST_F(U2FTest, UnansweredRequestGivesNothingAfterItsTimeOnTheClock) {
    startService();
    enableFeature(true);
    std::promise<void> release;
    auto released = release.get_future().share();
    storage().setU2FResponder([released](bool registering, const Bytes& raw) {
        released.wait();
        return std::optional<Bytes>(signed_(registering, raw));
    });
    auto pending = std::async(std::launch::async, [&] {
        return service_->registerYubikeyWithRaw(Bytes{7, 7});
    });
    ASSERT_TRUE(eventually([&] { return received().u2fRequests.size() == 1; }));
    ASSERT_TRUE(clock_->waitForSleepers(1));
    clock_->advance(299);
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    clock_->advance(1.5);
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(pending.get());

    // The late answer is dropped; the next request gets its own.
    release.set_value();
    storage().setU2FResponder(signed_);
    auto next = service_->registerYubikeyWithRaw(Bytes{8});
    ASSERT_TRUE(next);
    EXPECT_EQ(*next, signed_(true, Bytes{8}));
}

}  // namespace
}  // namespace lumvane::remotecalls
