#pragma once
// A phone for the remote phone service's tests: the simulated phone's vault and services
// (tests/phone-sim) behind a connection that encrypts like the link (AES under the key the
// service hands out; the phone opens requests only with the key it holds), a phone client
// that connects it when it is awake or advertises the pairing token, and a push client
// that wakes it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <thrift/protocol/TCompactProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TTransportException.h>
#include <thrift/transport/TVirtualTransport.h>

#include "PhoneSim.h"
#include "blec/TBNBlecPeripheralStore.h"
#include "core/remote/TBNThriftRemoteMobileSevice.h"
#include "crypto/TBNCryptAES.h"
#include "runtime/Clock.h"
#include "runtime/DispatchQueue.h"
#include "runtime/TBNWaitManager.h"
#include "settings/TBNSettings.h"

namespace lumvane::remotetest {

namespace fs = std::filesystem;
using apache::thrift::transport::TTransportException;

// Polls (real time) until the condition holds; for hand-overs between threads, not for
// the service's own time-outs, which run on the manual clock.
inline bool eventually(const std::function<bool()>& condition, double seconds = 10) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

class FakeConnection;

// What travels on a connection, as the phone saw it.
struct WireLog {
    std::mutex mutex;
    std::vector<std::optional<Bytes>> requestKeys;  // key each request was sealed with
    size_t refused = 0;                             // requests the phone could not open
};

// The RPC transport of one connection: the call is sealed with the service's key, the
// phone opens it with its own key, runs it and seals the answer the same way.
class FakeRpcTransport : public apache::thrift::transport::TVirtualTransport<FakeRpcTransport> {
  public:
    explicit FakeRpcTransport(FakeConnection& connection) : connection_(connection) {}
    bool isOpen() const override { return true; }
    void write(const uint8_t* buf, uint32_t len) {
        request_.insert(request_.end(), buf, buf + len);
    }
    uint32_t read(uint8_t* buf, uint32_t len) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(len, reply_.size() - offset_));
        std::copy_n(reply_.begin() + static_cast<long>(offset_), n, buf);
        offset_ += n;
        return n;
    }
    void flush() override;

  private:
    FakeConnection& connection_;
    Bytes request_;
    Bytes reply_;
    size_t offset_ = 0;
};

class FakeConnection : public RemotePhoneTransport,
                       public std::enable_shared_from_this<FakeConnection> {
  public:
    FakeConnection(std::shared_ptr<phonesim::PhoneSim> phone, std::shared_ptr<WireLog> wire,
                   std::optional<Bytes>* phoneKey, std::mutex* phoneMutex)
        : phone_(std::move(phone)),
          wire_(std::move(wire)),
          phoneKey_(phoneKey),
          phoneMutex_(phoneMutex),
          info_(std::make_shared<BLECMutableDeviceInfo>()) {}

    std::shared_ptr<BLECDeviceInfo> deviceInfo() const override { return info_; }
    std::shared_ptr<BLECMutableDeviceInfo> mutableInfo() const { return info_; }
    std::shared_ptr<apache::thrift::transport::TTransport> transport() override {
        return std::make_shared<FakeRpcTransport>(*this);
    }
    std::optional<std::string> peerPublicKey() const override { return "PHONE-PUBLIC-KEY"; }
    void setDelegate(std::weak_ptr<RemotePhoneTransportDelegate> delegate) override {
        std::lock_guard<std::mutex> lock(mutex_);
        delegate_ = std::move(delegate);
    }
    std::shared_ptr<RemotePhoneTransportDelegate> delegate() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return delegate_.lock();
    }
    std::recursive_mutex& objectLock() override { return objectLock_; }

    // The phone's side of one call; throws like a failed link.
    Bytes exchange(const Bytes& request) {
        auto self = shared_from_this();
        auto d = delegate();
        std::optional<Bytes> key =
            d ? d->encryptKeyForBlecThriftTransportFactory(self) : std::nullopt;
        {
            std::lock_guard<std::mutex> lock(wire_->mutex);
            wire_->requestKeys.push_back(key);
        }
        Bytes plain = request;
        std::optional<Bytes> phoneKey;
        {
            std::lock_guard<std::mutex> lock(*phoneMutex_);
            phoneKey = *phoneKey_;
        }
        if (key) {
            Bytes sealed = TBNCryptAES::encryptData(request, *key);
            plain = phoneKey ? TBNCryptAES::decryptData(sealed, *phoneKey) : Bytes{};
            if (plain.empty() || plain != request) {
                std::lock_guard<std::mutex> lock(wire_->mutex);
                ++wire_->refused;
                throw TTransportException(TTransportException::TIMED_OUT,
                                          "phone dropped the request");
            }
        }
        if (beforeAnswer) beforeAnswer();
        Bytes reply = phone_->process(plain);
        if (reply.empty()) throw TTransportException(TTransportException::TIMED_OUT, "no reply");
        learnApprovedKey(plain);
        if (!key) return reply;
        Bytes sealedReply = TBNCryptAES::encryptData(reply, *phoneKey);
        auto keys = d ? d->decryptKeysForBlecThriftTransportFactory(self) : std::nullopt;
        for (const auto& k : keys.value_or(std::vector<Bytes>{})) {
            Bytes opened = TBNCryptAES::decryptData(sealedReply, k);
            if (opened == reply) return opened;
        }
        throw TTransportException(TTransportException::CORRUPTED_DATA, "reply did not open");
    }

    // Runs on the caller's thread before the phone answers (slow or failing phones).
    std::function<void()> beforeAnswer;

  private:
    // After approving the Mac the phone uses the secret key the approval carried.
    void learnApprovedKey(const Bytes& plain) {
        using namespace apache::thrift;
        auto buffer = std::make_shared<transport::TMemoryBuffer>(
            const_cast<uint8_t*>(plain.data()), static_cast<uint32_t>(plain.size()));
        protocol::TCompactProtocol proto(buffer);
        std::string name;
        protocol::TMessageType type;
        int32_t seq = 0;
        proto.readMessageBegin(name, type, seq);
        if (name != "approveClient") return;
        std::string structName;
        protocol::TType fieldType;
        int16_t fieldId = 0;
        proto.readStructBegin(structName);
        proto.readFieldBegin(structName, fieldType, fieldId);
        TBNApproveClientRequest request;
        request.read(&proto);
        auto key = TBNThriftRemoteMobileSevice::decodeBase64(request.secretKey().value_or(""));
        std::lock_guard<std::mutex> lock(*phoneMutex_);
        *phoneKey_ = key;
    }

    std::shared_ptr<phonesim::PhoneSim> phone_;
    std::shared_ptr<WireLog> wire_;
    std::optional<Bytes>* phoneKey_;
    std::mutex* phoneMutex_;
    std::shared_ptr<BLECMutableDeviceInfo> info_;
    mutable std::mutex mutex_;
    std::weak_ptr<RemotePhoneTransportDelegate> delegate_;
    std::recursive_mutex objectLock_;
};

inline void FakeRpcTransport::flush() {
    Bytes request;
    request.swap(request_);
    reply_ = connection_.exchange(request);
    offset_ = 0;
}

// The phone in the tests: asleep or awake, whether it scanned the QR code, its key.
struct TestPhone {
    std::shared_ptr<phonesim::PhoneSim> sim;
    std::string bleId = "5A:12:9C:00:00:01";
    std::string appVersion = "1.2.0";
    uint32_t appState = 1;
    std::mutex mutex;
    std::optional<Bytes> key;            // the key the phone opens requests with
    std::optional<std::string> qrToken;  // token of the QR code it scanned
    Bytes qrKey;
    std::optional<Bytes> authResponse;  // what it publishes as its pairing answer
    bool awake = true;
    bool dropAfterPairingAnswer = false;
    std::function<void()> beforeAnswer;
    std::shared_ptr<WireLog> wire = std::make_shared<WireLog>();

    std::string deviceId() const { return sim->deviceId(); }
};

// The phone client: connects the test phone when it is awake and wanted.
class FakeClient : public RemotePhoneClient {
  public:
    explicit FakeClient(TestPhone& phone) : phone_(phone) {}
    void setDelegate(std::weak_ptr<RemotePhoneClientDelegate> delegate) override {
        std::lock_guard<std::mutex> lock(mutex_);
        delegate_ = std::move(delegate);
    }
    void startForDeviceId(const std::optional<std::string>& deviceId,
                          const std::optional<std::string>& bleId) override {
        std::shared_ptr<FakeConnection> dropped;
        std::shared_ptr<RemotePhoneClientDelegate> d;
        {
            // The phone that gave its pairing answer walks away before the approval.
            std::lock_guard<std::mutex> lock(mutex_);
            if (phone_.dropAfterPairingAnswer && connection_) {
                dropped = std::move(connection_);
                d = delegate_.lock();
            }
        }
        if (dropped && d) d->blecClientDidLostTransportFactory(*this, dropped);
        std::lock_guard<std::mutex> lock(mutex_);
        ++starts;
        if (running_) return;
        running_ = true;
        token_.reset();
        deviceId_ = deviceId;
        (void)bleId;
        maybeConnectLocked();
    }
    void startForAuthToken(const std::string& authToken) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_) return;
        running_ = true;
        token_ = authToken;
        deviceId_.reset();
        maybeConnectLocked();
    }
    void stop() override {
        std::shared_ptr<FakeConnection> lost;
        std::shared_ptr<RemotePhoneClientDelegate> d;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++stops;
            if (!running_) return;
            running_ = false;
            lost = std::move(connection_);
            d = delegate_.lock();
        }
        if (lost && d) d->blecClientDidLostTransportFactory(*this, lost);
    }
    void setPairedDeviceId(const std::optional<std::string>& deviceId,
                           const std::optional<std::string>& bleId) override {
        std::lock_guard<std::mutex> lock(mutex_);
        pairedDeviceId = deviceId;
        pairedBleId = bleId;
        deviceId_ = deviceId;
        token_.reset();
    }
    // The push arrived: the phone wakes and is found when the client looks for it.
    void wake() {
        {
            std::lock_guard<std::mutex> lock(phone_.mutex);
            phone_.awake = true;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        maybeConnectLocked();
    }
    bool running() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return running_;
    }
    std::shared_ptr<FakeConnection> connection() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return connection_;
    }

    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::optional<std::string> pairedDeviceId, pairedBleId;

  private:
    // Reports go out from another thread, as the link's queues do.
    void maybeConnectLocked() {
        if (!running_ || connection_) return;
        bool pairingMatch;
        std::optional<Bytes> answer;
        {
            std::lock_guard<std::mutex> lock(phone_.mutex);
            pairingMatch = token_ && phone_.qrToken == token_;
            bool deviceMatch = deviceId_ && *deviceId_ == phone_.deviceId() && phone_.awake;
            if (!pairingMatch && !deviceMatch) return;
            if (pairingMatch) {
                answer = phone_.authResponse;
                phone_.key = phone_.qrKey;
            }
        }
        auto connection =
            std::make_shared<FakeConnection>(phone_.sim, phone_.wire, &phone_.key, &phone_.mutex);
        connection->beforeAnswer = phone_.beforeAnswer;
        auto info = connection->mutableInfo();
        info->updateBLEId(phone_.bleId);
        info->updateDid(phone_.deviceId());
        info->updateName(std::string("Test iPhone"));
        info->updateToken(std::string("0011223344556677"));
        info->updateAppVersion(phone_.appVersion);
        info->updateAppState(phone_.appState);
        connection_ = connection;
        auto d = delegate_.lock();
        DispatchQueue::global()->async([this, d, connection, info, answer] {
            if (!d) return;
            d->blecClientDidFindTransportFactory(*this, connection);
            if (answer) {
                info->updateAuthResponseData(answer);
                if (auto td = connection->delegate())
                    td->blecThriftTransportFactoryDidDeviceInfoUpdated(connection);
            }
        });
    }

    TestPhone& phone_;
    mutable std::mutex mutex_;
    std::weak_ptr<RemotePhoneClientDelegate> delegate_;
    bool running_ = false;
    std::optional<std::string> token_;
    std::optional<std::string> deviceId_;
    std::shared_ptr<FakeConnection> connection_;
};

// Records every notification; wakes the phone unless it is out of reach.
class FakePush : public PushClient {
  public:
    std::optional<std::string> sendNotification(const PushNotification& n) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            sent.push_back(n);
        }
        if (refuse) return std::string("refused by the test");
        if (reachable && client) client->wake();
        return std::nullopt;
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return sent.size();
    }
    std::mutex mutex;
    std::vector<PushNotification> sent;
    std::atomic<bool> reachable{true};
    std::atomic<bool> refuse{false};
    FakeClient* client = nullptr;
};

// Counts what the service asked the application service to show.
struct RecordingDelegate : TBNThriftRemoteMobileServiceDelegate {
    std::atomic<int> showExpecting{0}, hideExpecting{0}, notAuthorized{0}, showWaiting{0},
        hideWaiting{0}, accessDenied{0}, accessTimeout{0}, firstFill{0}, updatedDeviceId{0};
    void remoteMobileShowExpectingPopover(Service&) override { ++showExpecting; }
    void remoteMobileHideExpectingPopover(Service&) override { ++hideExpecting; }
    void remoteMobileShowClientNotAuthorized(Service&) override { ++notAuthorized; }
    void remoteMobileShowWaitingPopover(Service&) override { ++showWaiting; }
    void remoteMobileHideWaitingPopover(Service&) override { ++hideWaiting; }
    void remoteMobileAccessDenyToSite(Service&, const std::string&) override { ++accessDenied; }
    void remoteMobileAccessTimeoutToSite(Service&, const std::string&) override { ++accessTimeout; }
    void remoteMobileShowFirstFillGuidePopover(Service&) override { ++firstFill; }
    void remoteMobileShowUpdatedDeviceIdForPairedDevice(Service&) override { ++updatedDeviceId; }
};

inline Bytes testSettingsKey() {
    return Bytes(32, 0x5A);
}

// A settings folder of its own, the simulated phone, the fakes and the service.
class RemoteFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("lumvane-remote-" + std::to_string(::getpid()) + "-" +
                                             std::to_string(counter()++));
        fs::create_directories(root_);
        TBNSettings::Options o;
        o.clock = clock_;
        o.bundleVersion = "1.0.0.0";
        settings_ = TBNSettings::create(o);
        settings_->loadBySettingsClass(root_ / TBNSettings::kSettingsFileName);
        settings_->decryptEncryptedSettingsByKey(testSettingsKey());
        settings_->upgrade();
        settings_->setClientId(std::string("MAC-CLIENT-ID"));
        settings_->waitForPendingSaves();

        phonesim::VaultContent vault;
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
        vault.sites.push_back(site);
        // The phone knows no client until it approves one.
        vault.clients.emplace_back("SOMEONE-ELSE", "NOT-THE-MAC");
        phonesim::PhoneSimOptions options;
        options.address = phone_.bleId;
        phone_.sim = phonesim::PhoneSim::create(options, vault);
        client_ = std::make_shared<FakeClient>(phone_);
        push_->client = client_.get();
        delegate_ = std::make_shared<RecordingDelegate>();
        store_.setNotifier([](std::function<void()> f) { f(); });
    }

    void TearDown() override {
        if (service_) service_->stop();
        service_.reset();
        settings_->waitForPendingSaves();
        settings_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    std::shared_ptr<TBNThriftRemoteMobileSevice> makeService() {
        TBNThriftRemoteMobileSevice::Options o;
        o.settings = settings_;
        o.peripheralStore = &store_;
        o.waitManager = &waits_;
        o.clock = clock_;
        auto client = client_;
        o.clientFactory = [client](const auto&, const auto&) { return client; };
        auto push = push_;
        o.pushConnector = [push](std::string*) { return push; };
        o.connectPushAsync = false;
        o.osVersion = "OSX 12.00";
        service_ = TBNThriftRemoteMobileSevice::create(delegate_, o);
        return service_;
    }

    // The phone as paired by an earlier approval: settings, secret and the phone's client
    // list agree; the phone holds the Mac's secret key.
    void pairDirectly() {
        auto record = std::make_shared<TBNOSXDeviceInfo>(
            phone_.deviceId(), phone_.bleId, 0, std::string("Test iPhone"),
            std::string("iPhone9,3"), std::string("0011223344556677"), 80, 2, std::string("10.3.1"),
            phone_.appVersion, 1, false, false, nullptr, std::string("PHONE-PUBLIC-KEY"));
        settings_->addPairedDevice(record);
        settings_->setClientSecret(std::string("MAC-SECRET"));
        settings_->waitForPendingSaves();
        {
            std::lock_guard<std::mutex> lock(phone_.sim->vault().mutex_);
            phone_.sim->vault().content_.clients.emplace_back("MAC-CLIENT-ID", "MAC-SECRET");
        }
        std::lock_guard<std::mutex> lock(phone_.mutex);
        phone_.key = macSecretKey();
    }

    Bytes macSecretKey() {
        auto text = settings_->clientSecretKey();
        return TBNThriftRemoteMobileSevice::decodeBase64(text.value_or(""));
    }

    // Moves the manual clock in small steps until `done` holds (bounded).
    bool advanceUntil(const std::function<bool()>& done, double step = 0.5, double limit = 30) {
        for (double t = 0; t <= limit; t += step) {
            if (eventually(done, 0.05)) return true;
            clock_->advance(step);
        }
        return done();
    }

    static int& counter() {
        static int n = 0;
        return n;
    }

    fs::path root_;
    std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
    std::shared_ptr<TBNSettings> settings_;
    TBNWaitManager waits_{clock_};
    TBNBlecPeripheralStore store_;
    TestPhone phone_;
    std::shared_ptr<FakeClient> client_;
    std::shared_ptr<FakePush> push_ = std::make_shared<FakePush>();
    std::shared_ptr<RecordingDelegate> delegate_;
    std::shared_ptr<TBNThriftRemoteMobileSevice> service_;
};

}  // namespace lumvane::remotetest
