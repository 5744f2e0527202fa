#pragma once
// The remote phone service wired to the simulated phone over the simulated radio: the
// phone-sim program's phone runs in-process, PhoneLinkHarness makes the Mac's connection
// (real chunking, compression and encryption), a small RemotePhoneTransport hands that
// connection to the service and a phone client reports it found. The service's own
// delays and waits run on a manual clock; the link runs in real time.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PhoneLinkHarness.h"
#include "PhoneSim.h"
#include "blec/BLECThriftTransport.h"
#include "blec/TBNBlecPeripheralStore.h"
#include "core/remote/TBNThriftRemoteMobileSevice.h"
#include "platform/ble/SimBleAir.h"
#include "runtime/Clock.h"
#include "runtime/DispatchQueue.h"
#include "runtime/TBNWaitManager.h"
#include "settings/TBNSettings.h"

namespace lumvane::remotecalls {

namespace fs = std::filesystem;

// Polls (real time) until the condition holds: for hand-overs between threads and the
// link, never for the service's own time-outs, which run on the manual clock.
inline bool eventually(const std::function<bool()>& condition, double seconds = 15) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

// The link's connection to the phone, as the service sees it.
class HarnessTransport : public RemotePhoneTransport {
  public:
    HarnessTransport(std::shared_ptr<BLECMutableThriftFactoryTransport> connection,
                     const std::string& bleId, const std::string& deviceId)
        : connection_(std::move(connection)), info_(std::make_shared<BLECMutableDeviceInfo>()) {
        info_->updateBLEId(bleId);
        info_->updateDid(deviceId);
        info_->updateName(std::string("Test iPhone"));
        info_->updateToken(std::string("0011223344556677"));
        info_->updateAppVersion(std::string("1.2.0"));
        info_->updateAppState(1);
    }
    std::shared_ptr<BLECDeviceInfo> deviceInfo() const override { return info_; }
    std::shared_ptr<apache::thrift::transport::TTransport> transport() override {
        return connection_->transport();
    }
    std::optional<std::string> peerPublicKey() const override { return "PHONE-PUBLIC-KEY"; }
    void setDelegate(std::weak_ptr<RemotePhoneTransportDelegate> delegate) override {
        std::lock_guard<std::mutex> lock(mutex_);
        delegate_ = std::move(delegate);
    }
    std::recursive_mutex& objectLock() override { return objectLock_; }

  private:
    std::shared_ptr<BLECMutableThriftFactoryTransport> connection_;
    std::shared_ptr<BLECMutableDeviceInfo> info_;
    std::mutex mutex_;
    std::weak_ptr<RemotePhoneTransportDelegate> delegate_;
    std::recursive_mutex objectLock_;
};

// The phone client: reports the connection found when the service starts it for the
// paired phone, and lost when it stops.
class HarnessClient : public RemotePhoneClient {
  public:
    explicit HarnessClient(std::shared_ptr<HarnessTransport> transport)
        : transport_(std::move(transport)) {}
    void setDelegate(std::weak_ptr<RemotePhoneClientDelegate> delegate) override {
        std::lock_guard<std::mutex> lock(mutex_);
        delegate_ = std::move(delegate);
    }
    void startForDeviceId(const std::optional<std::string>&,
                          const std::optional<std::string>&) override {
        std::shared_ptr<RemotePhoneClientDelegate> d;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (running_) return;
            running_ = true;
            d = delegate_.lock();
        }
        if (d) d->blecClientDidFindTransportFactory(*this, transport_);
    }
    void startForAuthToken(const std::string&) override {}
    void stop() override {
        std::shared_ptr<RemotePhoneClientDelegate> d;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!running_) return;
            running_ = false;
            d = delegate_.lock();
        }
        if (d) d->blecClientDidLostTransportFactory(*this, transport_);
    }
    void setPairedDeviceId(const std::optional<std::string>&,
                           const std::optional<std::string>&) override {}

  private:
    std::shared_ptr<HarnessTransport> transport_;
    std::mutex mutex_;
    std::weak_ptr<RemotePhoneClientDelegate> delegate_;
    bool running_ = false;
};

// What the service handed to the application service.
struct CallsDelegate : TBNThriftRemoteMobileServiceDelegate {
    std::mutex mutex;
    std::vector<Bytes> savedBackUps;
    std::shared_ptr<TBNError> saveAnswer;  // what remoteMobileCanSaveBackUp answers
    Bytes backUpToLoad;
    std::shared_ptr<TBNError> loadAnswer;
    struct Copy {
        std::optional<std::string> login, password, accountId, comment, twoFactorCode;
        int16_t clearTimeout = 0;
    };
    std::vector<Copy> copies;
    std::function<void(const Copy&)> onCopy;
    std::vector<std::string> urls;
    std::atomic<int> notAuthorized{0};

    std::shared_ptr<TBNError> remoteMobileCanSaveBackUp(Service&, const Bytes& backUp) override {
        std::lock_guard<std::mutex> lock(mutex);
        savedBackUps.push_back(backUp);
        return saveAnswer;
    }
    std::shared_ptr<TBNError> remoteMobileCanLoadBackUp(Service&, Bytes& backUp) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (loadAnswer) return loadAnswer;
        backUp = backUpToLoad;
        return nullptr;
    }
    void remoteMobileDidCopyLogin(Service&, const std::optional<std::string>& login,
                                  const std::optional<std::string>& password,
                                  const std::optional<std::string>& accountId,
                                  const std::optional<std::string>& comment,
                                  const std::optional<std::string>& twoFactorCode,
                                  int16_t clearTimeout) override {
        Copy copy{login, password, accountId, comment, twoFactorCode, clearTimeout};
        std::function<void(const Copy&)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex);
            hook = onCopy;
        }
        if (hook) hook(copy);
        // Counted once the hook is through: a test that saw the copy may rely on it.
        std::lock_guard<std::mutex> lock(mutex);
        copies.push_back(copy);
    }
    void remoteMobileDidOpenUrl(Service&, const std::string& url) override {
        std::lock_guard<std::mutex> lock(mutex);
        urls.push_back(url);
    }
    void remoteMobileShowClientNotAuthorized(Service&) override { ++notAuthorized; }

    size_t savedCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return savedBackUps.size();
    }
    size_t copyCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return copies.size();
    }
};

inline std::string socketPath() {
    static std::atomic<int> n{0};
    return "/tmp/lumvane-calls-" + std::to_string(::getpid()) + "-" + std::to_string(n++) + ".sock";
}

inline Bytes linkKey() {
    Bytes k(32);
    for (size_t i = 0; i < k.size(); ++i) k[i] = uint8_t(0x61 + i);
    return k;
}

inline std::shared_ptr<TBNError> makeError(int32_t category, int64_t id, const std::string& text) {
    auto e = std::make_shared<TBNError>();
    e->setCategory(category);
    e->setId(id);
    e->setDebugMessage(text);
    return e;
}

// The phone on the air, the Mac's connection to it, settings that pair the two, and the
// service with its delegate.
class CallsFixture : public ::testing::Test {
  protected:
    static constexpr const char* kBleId = "5A:12:9C:00:00:07";

    void SetUp() override {
        static std::atomic<int> counter{0};
        root_ = fs::temp_directory_path() /
                ("lumvane-calls-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(root_);
        TBNSettings::Options o;
        o.clock = clock_;
        o.bundleVersion = "1.0.0.0";
        settings_ = TBNSettings::create(o);
        settings_->loadBySettingsClass(root_ / TBNSettings::kSettingsFileName);
        settings_->decryptEncryptedSettingsByKey(Bytes(32, 0x5A));
        settings_->upgrade();
        settings_->setClientId(std::string("MAC-CLIENT-ID"));
        settings_->setClientSecret(std::string("MAC-SECRET"));

        ASSERT_TRUE(air_.start());
        phonesim::PhoneSimOptions po;
        po.socketPath = path_;
        po.address = kBleId;
        po.key = linkKey();
        phone_ = phonesim::PhoneSim::create(po, vaultContent());
        ASSERT_TRUE(phone_->start());
        phonesim::PhoneLinkOptions lo;
        lo.socketPath = path_;
        lo.key = linkKey();
        link_ = phonesim::PhoneLinkHarness::create(lo);
        connection_ = link_->connect(phone_->deviceId());
        ASSERT_TRUE(connection_);

        auto record = std::make_shared<TBNOSXDeviceInfo>(
            phone_->deviceId(), std::string(kBleId), 0, std::string("Test iPhone"),
            std::string("iPhone9,3"), std::string("0011223344556677"), 80, 2, std::string("10.3.1"),
            std::string("1.2.0"), 1, false, false, nullptr, std::string("PHONE-PUBLIC-KEY"));
        settings_->addPairedDevice(record);
        settings_->waitForPendingSaves();

        transport_ = std::make_shared<HarnessTransport>(connection_, kBleId, phone_->deviceId());
        client_ = std::make_shared<HarnessClient>(transport_);
        store_.setNotifier([](std::function<void()> f) { f(); });
    }

    void TearDown() override {
        if (service_) service_->stop();
        clock_->cancelAll();
        service_.reset();
        if (connection_) connection_->disconnect();
        link_.reset();
        if (phone_) phone_->stop();
        air_.stop();
        settings_->waitForPendingSaves();
        settings_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // One site with a login and its two-factor secret; the Mac is a known client.
    virtual phonesim::VaultContent vaultContent() {
        phonesim::VaultContent vault;
        phonesim::VaultSite site;
        site.siteUrl = "https://www.example.com";
        site.domain = "example.com";
        site.displayName = "Example";
        site.updateTimeStamp = 1700000100;
        site.formUrls = {"https://www.example.com/login"};
        phonesim::VaultLogin login;
        login.login = "alice";
        login.password = "pa55word";
        phonesim::VaultTwoFactor twoFactor;
        twoFactor.secret = Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9', '0'};
        login.twoFactor = twoFactor;
        site.logins.push_back(login);
        vault.sites.push_back(site);
        vault.clients.emplace_back("MAC-CLIENT-ID", "MAC-SECRET");
        return vault;
    }

    // The service, started: the phone is online from then on.
    std::shared_ptr<TBNThriftRemoteMobileSevice> startService() {
        TBNThriftRemoteMobileSevice::Options o;
        o.settings = settings_;
        o.peripheralStore = &store_;
        o.waitManager = &waits_;
        o.clock = clock_;
        auto client = client_;
        o.clientFactory = [client](const auto&, const auto&) { return client; };
        o.pushConnector = [](std::string* error) {
            if (error) *error = "no push in these tests";
            return std::shared_ptr<PushClient>();
        };
        o.connectPushAsync = false;
        o.osVersion = "OSX 12.00";
        auto calls = calls_;
        o.runAsync = [calls](std::function<void()> block) { calls->async(std::move(block)); };
        service_ = TBNThriftRemoteMobileSevice::create(delegate_, o);
        service_->start();
        EXPECT_TRUE(eventually([&] { return service_->onlinedTransportFactory() != nullptr; }));
        // A second after the handshake the service refreshes the site cache and asks for a
        // backup (the phone has none yet): let that settle so tests start from it.
        clock_->advance(1.0);
        EXPECT_TRUE(eventually([&] {
            auto device = settings_->pairedDeviceByHardwareId(std::string(kBleId));
            return device && device->sitesCache() && received().backUpResults.size() == 1;
        }));
        return service_;
    }

    // Waits until every call the service has handed to its background queue so far has
    // ended (a refresh asked for while one runs is dropped, so tests wait for the end).
    bool callsSettled(double seconds = 15) {
        auto done = std::make_shared<std::promise<void>>();
        auto settled = done->get_future();
        calls_->asyncBarrier([done] { done->set_value(); });
        return settled.wait_for(std::chrono::duration<double>(seconds)) ==
               std::future_status::ready;
    }

    phonesim::PhoneMobileStorage& storage() { return phone_->vault().mobileStorage(); }
    phonesim::PhoneMobileStorage::Received received() { return storage().received(); }

    fs::path root_;
    std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
    // The service's background calls (the global queue in the program).
    std::shared_ptr<DispatchQueue> calls_ =
        DispatchQueue::create("test.remote-calls", DispatchQueue::Kind::Concurrent);
    std::shared_ptr<TBNSettings> settings_;
    TBNWaitManager waits_{clock_};
    TBNBlecPeripheralStore store_;
    std::string path_ = socketPath();
    ble::sim::SimBleAir air_{path_};
    std::shared_ptr<phonesim::PhoneSim> phone_;
    std::shared_ptr<phonesim::PhoneLinkHarness> link_;
    std::shared_ptr<BLECMutableThriftFactoryTransport> connection_;
    std::shared_ptr<HarnessTransport> transport_;
    std::shared_ptr<HarnessClient> client_;
    std::shared_ptr<CallsDelegate> delegate_ = std::make_shared<CallsDelegate>();
    std::shared_ptr<TBNThriftRemoteMobileSevice> service_;
};

}  // namespace lumvane::remotecalls
