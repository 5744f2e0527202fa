#include "core/remote/TBNThriftRemoteMobileSevice.h"

#include <unistd.h>

#include <algorithm>
#include <any>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <fmt/format.h>

#include "blec/TBNBlecPeripheralStore.h"
#include "core/pasteboard/Pasteboard.h"
#include "crypto/TBNCryptAES.h"
#include "crypto/TBNCryptHash.h"
#include "extension/TBNProtocolHelper.h"
#include "protocol/PasswordEncoding.h"
#include "protocol/TBNErrors.h"
#include "protocol/services/ProtocolFactories.h"
#include "protocol/site/HostPath.h"
#include "runtime/HexString.h"
#include "runtime/TBNUtil.h"
#include "runtime/TBNWaitManager.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

constexpr const char* kTag = "core|thrift";

std::string show(const std::optional<std::string>& text) {
    return text.value_or("(null)");
}

std::string upper(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool sameId(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return a && b && upper(*a) == upper(*b);
}

std::string hostName() {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return "localhost";
    return buffer;
}

// "OSX %02lu.%02lu" from VERSION_ID of /etc/os-release ("12" gives 12.00).
std::string systemOsVersion() {
    std::ifstream in("/etc/os-release");
    std::string line;
    unsigned long major = 0, minor = 0;
    while (std::getline(in, line)) {
        if (line.rfind("VERSION_ID=", 0) != 0) continue;
        std::string value = line.substr(11);
        value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
        std::sscanf(value.c_str(), "%lu.%lu", &major, &minor);
        break;
    }
    return TBNThriftRemoteMobileSevice::osVersionText(major, minor);
}

std::string jsonEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += fmt::format("\\u{:04x}", c);
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

std::shared_ptr<TBNAuthentication> copyAuth(const std::shared_ptr<TBNAuthentication>& auth) {
    return std::make_shared<TBNAuthentication>(auth ? auth->clientId() : std::nullopt,
                                               auth ? auth->clientSecret() : std::nullopt);
}

}  // namespace

std::shared_ptr<TBNError> TBNThriftRemoteMobileServiceDelegate::TBNErrorsNoBackup() {
    return TBNErrors::internalException(std::string("no backup to restore"));
}

// ---- Creation --------------------------------------------------------------------------

std::shared_ptr<TBNThriftRemoteMobileSevice> TBNThriftRemoteMobileSevice::create(
    std::weak_ptr<TBNThriftRemoteMobileServiceDelegate> delegate, Options options) {
    auto service = std::make_shared<TBNThriftRemoteMobileSevice>(Token{}, std::move(delegate),
                                                                 std::move(options));
    service->init();
    return service;
}

TBNThriftRemoteMobileSevice::TBNThriftRemoteMobileSevice(
    Token, std::weak_ptr<TBNThriftRemoteMobileServiceDelegate> delegate, Options options)
    : delegate_(std::move(delegate)), options_(std::move(options)) {
    settings_ = options_.settings ? options_.settings
                                  : std::shared_ptr<TBNSettings>(&TBNSettings::sharedSettings(),
                                                                 [](TBNSettings*) {});
    store_ = options_.peripheralStore ? options_.peripheralStore
                                      : &TBNBlecPeripheralStore::sharedStore();
    waits_ = options_.waitManager ? options_.waitManager : &TBNWaitManager::sharedManager();
    clock_ = options_.clock ? options_.clock : Clock::steady();
    if (!options_.nextRequest) {
        options_.nextRequest = [] { return TBNProtocolHelper::sharedHelper().nextRequest(); };
    }
    if (options_.clientName.empty()) options_.clientName = hostName();
    if (options_.clientModel.empty()) options_.clientModel = hostName();
    if (options_.osVersion.empty()) options_.osVersion = systemOsVersion();
}

TBNThriftRemoteMobileSevice::~TBNThriftRemoteMobileSevice() = default;

void TBNThriftRemoteMobileSevice::init() {
    TBN_LOG_TIME_BEGIN(DEBUG, kTag, "init");
    TBN_LOG_DEBUG_BEGIN(kTag);
    settings_->addDelegate(shared_from_this());

    auto secret = settings_->clientSecret();
    clientAuth_ =
        std::make_shared<TBNAuthentication>(settings_->clientId(), secret ? secret : std::string());

    if (options_.connectPushAsync) {
        std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
        DispatchQueue::global()->async([weak] {
            if (auto self = weak.lock()) self->connectPush();
        });
    } else {
        connectPush();
    }

    loadBlePeripherals();
    store_->setDelegate(std::weak_ptr<TBNBlecPeripheralStoreDelegate>(shared_from_this()));

    backupRestoreQueue_ = DispatchQueue::create("com.tobrin.lumvane.backuprestorequeue");
    backupRestoreProcessing_ = false;

    auto cert = settings_->clientCert();
    if (options_.clientFactory) {
        client_ = options_.clientFactory(cert ? cert->privateKey() : std::nullopt,
                                         cert ? cert->cert() : std::nullopt);
    }
    if (client_) {
        client_->setDelegate(std::weak_ptr<RemotePhoneClientDelegate>(shared_from_this()));
    } else {
        TBN_LOG_ERROR(kTag, "no phone client: the phone cannot be reached");
    }
    if (options_.explorerFactory) {
        blecExplorer_ =
            options_.explorerFactory(std::weak_ptr<TBNBlecExplorerDelegate>(shared_from_this()));
    }
    bluetoothOn_ = true;
    TBN_LOG_DEBUG_END(kTag);
    TBN_LOG_TIME_END(DEBUG, kTag, "init");
}

std::string TBNThriftRemoteMobileSevice::pushCertificatePath(const std::string& resourceFolder) {
    const std::string name =
        TBNSettings::isDebugVersion() ? "ios_push_dev.p12" : "ios_push_dest.p12";
    return resourceFolder.empty() ? name : resourceFolder + "/" + name;
}

void TBNThriftRemoteMobileSevice::connectPush() {
    std::string error;
    // Builds from this source tree come without the certificate: that is how they run, not
    // a fault to report at every start (the program tells the user once).
    bool missingCertificate = false;
    std::shared_ptr<PushClient> pusher;
    if (options_.pushConnector) {
        pusher = options_.pushConnector(&error);
    } else {
        const bool debug = TBNSettings::isDebugVersion();
        const std::string path = pushCertificatePath(options_.resourceFolder);
        const std::string name = std::filesystem::path(path).filename().string();
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            error = "certificate resource \"" + name + "\" not found";
            missingCertificate = true;
        } else {
            Bytes p12((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            pusher = ApnsPushClient::connect(
                p12, kPushPassphrase,
                debug ? PushEnvironment::Sandbox : PushEnvironment::Production, &error);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pusher_ = pusher;
    }
    if (pusher) {
        TBN_LOG_INFO(kTag, "connected to APNs");
    } else if (missingCertificate) {
        TBN_LOG_WARN(kTag, "unable to connect: {}", error);
    } else {
        TBN_LOG_ERROR(kTag, "unable to connect: {}", error);
    }
}

void TBNThriftRemoteMobileSevice::start() {
    TBN_LOG_DEBUG_BEGIN(kTag);
    auto device = settings_->firstPairedDevice();
    if (device && client_) client_->startForDeviceId(device->deviceId(), device->hardwareId());
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::stop() {
    TBN_LOG_DEBUG_BEGIN(kTag);
    if (client_) client_->stop();
    TBN_LOG_DEBUG_END(kTag);
}

// ---- State -----------------------------------------------------------------------------

std::shared_ptr<TBNAuthentication> TBNThriftRemoteMobileSevice::clientAuth() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return copyAuth(clientAuth_);
}

std::shared_ptr<RemotePhoneTransport> TBNThriftRemoteMobileSevice::onlinedTransportFactory() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return onlinedTransportFactory_;
}

std::shared_ptr<PushClient> TBNThriftRemoteMobileSevice::pusher() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pusher_;
}

std::optional<std::string> TBNThriftRemoteMobileSevice::peerPublicKey() const {
    auto transport = onlinedTransportFactory();
    return transport ? transport->peerPublicKey() : std::nullopt;
}

bool TBNThriftRemoteMobileSevice::pairingInProgress() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return currentAuthKey_.has_value();
}

void TBNThriftRemoteMobileSevice::after(double seconds, std::function<void()> block) {
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    clock_->callAt(clock_->deadlineAfter(seconds), [this, weak, block = std::move(block)] {
        if (auto self = weak.lock()) async(block);
    });
}

void TBNThriftRemoteMobileSevice::async(std::function<void()> block) {
    if (options_.runAsync) {
        options_.runAsync(std::move(block));
    } else {
        DispatchQueue::global()->async(std::move(block));
    }
}

// ---- Pairing ---------------------------------------------------------------------------

std::string TBNThriftRemoteMobileSevice::osVersionText(unsigned long major, unsigned long minor) {
    return fmt::format("OSX {:02}.{:02}", major, minor);
}

void TBNThriftRemoteMobileSevice::startPairWithAuthKey(const Bytes& authKey,
                                                       const std::string& authToken,
                                                       ProcessHandler process,
                                                       SuccessHandler success, FailHandler fail) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        currentAuthKey_ = authKey;
        currentClientSecret_.reset();
        currentPairingDeviceId_.reset();
        currentProcessHandler_ = std::move(process);
        currentSuccessHandler_ = std::move(success);
        currentFailHandler_ = std::move(fail);
        ++pairingGeneration_;
    }
    if (client_) {
        client_->stop();
        client_->startForAuthToken(authToken);
    }
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::stopPair() {
    TBN_LOG_DEBUG_BEGIN(kTag);
    if (client_) client_->stop();
    std::lock_guard<std::mutex> lock(mutex_);
    currentAuthKey_.reset();
    currentClientSecret_.reset();
    currentPairingDeviceId_.reset();
    currentSuccessHandler_ = nullptr;
    currentFailHandler_ = nullptr;
    ++pairingGeneration_;
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::unpairFromDevice(const std::optional<std::string>& deviceId) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    TBN_LOG_DEBUG(kTag, "unpair device id: {}", show(deviceId));
    if (client_) client_->stop();
    auto device = settings_->firstPairedDevice();
    settings_->unpairDeviceAtHardwareId(device ? device->hardwareId() : std::nullopt);
    if (device && device->deviceId()) store_->resetPeripheralByDeviceId(*device->deviceId());
    TBN_LOG_DEBUG_END(kTag);
}

// Called holding the transport's lock when it reported the pairing answer.
void TBNThriftRemoteMobileSevice::continuePairingLocked(
    const std::shared_ptr<RemotePhoneTransport>& transport) {
    auto info = transport->deviceInfo()->snapshot();
    Bytes key;
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!currentAuthKey_ || currentClientSecret_ || !info.authResponseData) return;
        key = *currentAuthKey_;
        generation = pairingGeneration_;
    }
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    // Both ends clear the pairing state first, then tell the pairing's owner, unless a
    // newer pairing (or stopPair) has replaced this one meanwhile.
    auto finish = [weak, generation](auto pick, auto argument) {
        auto self = weak.lock();
        if (!self) return;
        decltype(pick(*self)) handler;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            if (self->pairingGeneration_ != generation) return;
            self->currentAuthKey_.reset();
            self->currentClientSecret_.reset();
            self->currentPairingDeviceId_.reset();
            handler = pick(*self);
        }
        if (handler) handler(argument);
    };
    SuccessHandler success = [finish](uint32_t value) {
        finish([](TBNThriftRemoteMobileSevice& s) { return s.currentSuccessHandler_; }, value);
    };
    FailHandler fail = [finish](const std::shared_ptr<TBNError>& error) {
        finish([](TBNThriftRemoteMobileSevice& s) { return s.currentFailHandler_; }, error);
    };

    Bytes plain = TBNCryptAES::decryptData(*info.authResponseData, key);
    if (plain.empty()) {
        // An answer that does not open under the QR key is no pairing: never go on with
        // an empty secret.
        TBN_LOG_ERROR(kTag, "did fail to read the pairing answer of device: '<{}> {}'",
                      show(info.bleId), show(info.name));
        {
            // Ends the pairing now: a further report of this phone (its battery, its app
            // state) must not fail the same pairing a second time.
            std::lock_guard<std::mutex> lock(mutex_);
            if (pairingGeneration_ == generation) currentAuthKey_.reset();
        }
        if (client_) {
            async([weak] {
                if (auto self = weak.lock()) self->client_->stop();
            });
        }
        async([fail] {
            fail(TBNErrors::internalException(std::string("pairing answer not readable")));
        });
        return;
    }
    std::string secret(plain.begin(), plain.end());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        currentClientSecret_ = secret;
        currentPairingDeviceId_ = info.did;
    }
    const std::string deviceId = info.did.value_or("");
    async([weak, deviceId, secret, success, fail] {
        if (auto self = weak.lock()) self->startPairToDevice(deviceId, secret, success, fail);
    });
}

void TBNThriftRemoteMobileSevice::startPairToDevice(const std::string& deviceId,
                                                    const std::string& clientSecret,
                                                    SuccessHandler success, FailHandler fail) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    TBN_LOG_DEBUG(kTag, "pair to device id: {}", deviceId);
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    async([weak, deviceId, clientSecret, success, fail] {
        auto self = weak.lock();
        if (!self) return;
        if (self->client_)
            self->client_->startForDeviceId(deviceId, self->store_->bleIdByDeviceId(deviceId));
        auto online = self->onlinedTransportFactory();
        // The phone usually came online before this point (its pairing answer is read
        // during its handshake): then the release of the wait has already passed.
        if (!(online && sameId(online->deviceInfo()->did(), deviceId))) {
            TBN_LOG_TIME_BEGIN(DEBUG, kTag, "wait device to online for pair");
            std::any response =
                self->waits_->waitWithName(kWaitPairToDevice, std::any(deviceId), kPairTimeout);
            TBN_LOG_TIME_END(DEBUG, kTag, "wait device to online for pair");
            TBN_LOG_DEBUG(kTag, "response: {}", response.has_value() ? "released" : "(null)");
            online = self->onlinedTransportFactory();
        }
        if (!online || !sameId(online->deviceInfo()->did(), deviceId)) {
            TBN_LOG_DEBUG(kTag, "self.onlineTransportFactory == nil");
            if (self->client_) self->client_->stop();
            if (fail) fail(TBNErrors::requestTimedOut());
            return;
        }
        self->async([weak, online, clientSecret, success, fail] {
            if (auto self = weak.lock()) self->approveClient(online, clientSecret, success, fail);
        });
    });
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::approveClient(
    const std::shared_ptr<RemotePhoneTransport>& transport, const std::string& clientSecret,
    const SuccessHandler& success, const FailHandler& fail) {
    auto info = transport->deviceInfo()->snapshot();
    TBN_LOG_INFO(kTag, "approve client to pair with device: '<{}> {}'", show(info.bleId),
                 show(info.name));
    try {
        // Kept aside until the phone has accepted it.
        auto newAuth = std::make_shared<TBNAuthentication>(settings_->clientId(), clientSecret);
        auto cert = settings_->clientCert();
        auto lastBackup = std::chrono::duration_cast<std::chrono::seconds>(
                              settings_->lastBackupTime().time_since_epoch())
                              .count();
        auto request = std::make_shared<TBNApproveClientRequest>(
            options_.nextRequest(), copyAuth(newAuth), options_.clientName, options_.clientModel,
            options_.osVersion, settings_->appVersion(), static_cast<int64_t>(lastBackup),
            cert ? cert->publicKey() : std::nullopt, settings_->clientSecretKey());
        auto client = createMobileStorageServiceWithTransportFactory(transport);
        auto response = client->approveClient(request);
        auto error = response && response->info() ? response->info()->error() : nullptr;
        if (!response) error = TBNErrors::internalException(std::string("no approval answer"));
        if (error) {
            if (client_) client_->stop();
            TBN_LOG_ERROR(kTag,
                          "did fail to approve client to pair with device: '<{}> {}' with error: "
                          "{} {}",
                          show(info.bleId), show(info.name), error->category(), error->id());
            if (fail) fail(error);
            return;
        }
        TBN_LOG_INFO(kTag, "did approve client to pair with device: '<{}> {}'", show(info.bleId),
                     show(info.name));
        TBN_LOG_INFO(kTag, "  device id: {}", show(response->deviceId()));
        if (response->deviceInfoIsSet() && response->deviceInfo()) {
            const auto& d = *response->deviceInfo();
            TBN_LOG_INFO(kTag, "  device name: {}", show(d.name()));
            TBN_LOG_INFO(kTag, "  device model: {}", show(d.model()));
            TBN_LOG_INFO(kTag, "  os version: {}", show(d.osVersion()));
            TBN_LOG_INFO(kTag, "  app version: {}", show(d.appVersion()));
            TBN_LOG_INFO(kTag, "  push token: {}", show(d.pushToken()));
        }
        // The link may not have read every detail yet; what the phone told in its answer
        // fills the gaps (without its push token a sleeping phone could never be woken).
        auto fill = [](std::optional<std::string>& field, const std::optional<std::string>& v) {
            if ((!field || field->empty()) && v && !v->empty()) field = v;
        };
        fill(info.did, response->deviceId());
        if (response->deviceInfoIsSet() && response->deviceInfo()) {
            const auto& d = *response->deviceInfo();
            fill(info.name, d.name());
            fill(info.model, d.model());
            fill(info.osVersion, d.osVersion());
            fill(info.appVersion, d.appVersion());
            fill(info.token, d.pushToken());
        }
        auto record = std::make_shared<TBNOSXDeviceInfo>(
            info.did, info.bleId, static_cast<int32_t>(info.rssi), info.name, info.model,
            info.token, static_cast<int32_t>(info.batteryLevel),
            static_cast<int32_t>(info.batteryState), info.osVersion, info.appVersion,
            static_cast<int32_t>(info.appState), true, true, nullptr, transport->peerPublicKey());
        // The record and the secret the phone now accepts reach the file together, and
        // before anyone hears of the pairing: a start that finds one without the other,
        // or neither after "paired" was shown, has lost the phone.
        if (!settings_->addPairedDeviceWithClientSecret(record, clientSecret)) {
            TBN_LOG_ERROR(kTag,
                          "did fail to pair with device: '<{}> {}': the settings could not be "
                          "saved",
                          show(info.bleId), show(info.name));
            if (client_) client_->stop();
            if (fail) {
                fail(TBNErrors::internalException(
                    std::string("the pairing could not be saved in the settings")));
            }
            return;
        }
        // What the link read while the phone was approving (its app state, its battery)
        // came while there was no record to take it; from here on reports reach the
        // record, and it takes the link's latest view now.
        const auto latest = transport->deviceInfo()->snapshot();
        if (latest.appState != info.appState || latest.batteryLevel != info.batteryLevel ||
            latest.batteryState != info.batteryState || latest.rssi != info.rssi) {
            settings_->updateDeviceInfoWithDeviceId(
                record->deviceId(), record->hardwareId(), static_cast<int32_t>(latest.rssi),
                record->name(), record->model(), record->token(),
                static_cast<int32_t>(latest.batteryLevel),
                static_cast<int32_t>(latest.batteryState), record->osVersion(),
                record->appVersion(), static_cast<int32_t>(latest.appState), true);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            clientAuth_ = newAuth;
        }
        auto bleId = info.bleId;
        std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
        after(1.0, [weak, bleId] {
            if (auto self = weak.lock()) self->updateSiteCacheForHardwareId(bleId);
        });
        if (client_) client_->setPairedDeviceId(info.did, info.bleId);
        if (success) success(0);
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(
            kTag, "did fail to approve client to pair with device: '<{}> {}' with exception: {}",
            show(info.bleId), show(info.name), e.what());
        if (fail) fail(TBNErrors::internalException(e));
    }
}

// ---- Online transport ------------------------------------------------------------------

std::string TBNThriftRemoteMobileSevice::pushPayload(const std::string& message) {
    const std::string blanks(84, ' ');
    auto b = [&](size_t n) { return blanks.substr(0, n); };
    // Appended piece by piece: GCC 12 warns (-Wrestrict, a false positive) on
    // "literal" + std::string&&.
    std::string payload = "{";
    payload += b(56) + "\"aps\":{" + b(76) + "\"alert\":\"" + jsonEscape(message) + "\"," + b(68) +
               "\"category\": \"LUMVANE_GLOBAL\"," + b(52) + "\"sound\": \"radar.mp3\"" + b(61) +
               "}" + b(84) + "}";
    return payload;
}

std::shared_ptr<RemotePhoneTransport> TBNThriftRemoteMobileSevice::getOnlineTransportFactory() {
    TBN_LOG_DEBUG_BEGIN(kTag);
    if (!onlinedTransportFactory()) {
        requestDeviceToOnline(options_.notificationMessage);
        if (onlinedTransportFactory()) {
            for (int poll = 0; poll < kAppStatePolls; ++poll) {
                auto transport = onlinedTransportFactory();
                uint32_t state = transport ? transport->deviceInfo()->appState() : 0;
                if (state != 0 && state != 2) break;
                clock_->sleepUntil(clock_->deadlineAfter(0.1));
            }
        }
    }
    auto transport = onlinedTransportFactory();
    TBN_LOG_DEBUG(kTag, "self.onlinedTransportFactory.deviceInfo.bleId = {}",
                  transport ? show(transport->deviceInfo()->bleId()) : "(null)");
    TBN_LOG_DEBUG_END(kTag);
    return transport;
}

bool TBNThriftRemoteMobileSevice::requestDeviceToOnline(const std::string& message) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    TBN_LOG_DEBUG(kTag, "message = {}", message);
    auto device = settings_->firstPairedDevice();
    if (!device) {
        TBN_LOG_DEBUG(kTag, "deviceInfo == nil");
        TBN_LOG_DEBUG_ALT_END(kTag);
        return false;
    }
    bool ret = false;
    try {
        if (settings_->expectedDeviceId()) {
            TBN_LOG_DEBUG(kTag, "sessionsettings.expectedDeviceId != nil");
            TBN_LOG_DEBUG_ALT_END(kTag);
            return false;
        }
        const auto& token = device->token();
        if (!token || token->empty()) {
            TBN_LOG_INFO(kTag, "don't send push notification to device: '<{}> {}'",
                         show(device->hardwareId()), show(device->name()));
        } else {
            TBN_LOG_INFO(kTag, "send push notification to device: '<{}> {}'",
                         show(device->hardwareId()), show(device->name()));
            PushNotification notification;
            std::string payload = pushPayload(message);
            notification.payload.assign(payload.begin(), payload.end());
            notification.deviceToken = hexData(*token);
            notification.identifier = 1;
            notification.expiration = 10;
            notification.expires = true;
            notification.priority = 10;
            auto push = pusher();
            std::optional<std::string> error =
                push ? push->sendNotification(notification)
                     : std::optional<std::string>("no connection to the push service");
            if (error) {
                TBN_LOG_ERROR(kTag,
                              "did fail to send push notification to device: '<{}> {}' with "
                              "error: {}",
                              show(device->hardwareId()), show(device->name()), *error);
                TBN_LOG_FAIL(DEBUG, kTag, "{}", *error);
                return false;
            }
            TBN_LOG_INFO(kTag, "did send push notification to device: '<{}> {}'",
                         show(device->hardwareId()), show(device->name()));
        }
        settings_->setExpectedDeviceId(device->deviceId());
        if (auto d = delegate()) d->remoteMobileShowExpectingPopover(*this);
        TBN_LOG_TIME_BEGIN(DEBUG, kTag, "wait paired device to online");
        std::any response = waits_->waitWithName(kWaitRemoteNotification, kWakeUpTimeout);
        TBN_LOG_TIME_END(DEBUG, kTag, "wait paired device to online");
        TBN_LOG_DEBUG(kTag, "response = {}", response.has_value() ? "released" : "(null)");
        if (response.has_value()) {
            ret = true;
        } else {
            // The phone did not come: forget the wake-up, so that the next call pushes
            // again instead of failing at once until the phone happens to appear.
            settings_->setExpectedDeviceId(std::nullopt);
        }
        if (auto d = delegate()) d->remoteMobileHideExpectingPopover(*this);
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTag, "did fail to request device: '<{}> {}' to online with exception: {}",
                      show(device->hardwareId()), show(device->name()), e.what());
    }
    TBN_LOG_DEBUG(kTag, "ret = {}", ret);
    TBN_LOG_DEBUG_END(kTag);
    return ret;
}

std::shared_ptr<TBNStorageServiceClient>
TBNThriftRemoteMobileSevice::createStorageServiceWithTransportFactory(
    const std::shared_ptr<RemotePhoneTransport>& transport) {
    LimitedCompactProtocolFactory factory;
    return std::make_shared<TBNStorageServiceClient>(factory.getProtocol(transport->transport()));
}

std::shared_ptr<TBNMobileStorageServiceClient>
TBNThriftRemoteMobileSevice::createMobileStorageServiceWithTransportFactory(
    const std::shared_ptr<RemotePhoneTransport>& transport) {
    LimitedCompactProtocolFactory factory;
    return std::make_shared<TBNMobileStorageServiceClient>(
        factory.getProtocol(transport->transport()));
}

Bytes TBNThriftRemoteMobileSevice::decodeBase64(const std::string& text) {
    auto decoded = base64Decode(text);
    if (!decoded) return {};
    return Bytes(decoded->begin(), decoded->end());
}

Bytes TBNThriftRemoteMobileSevice::secretKey() {
    auto text = settings_->clientSecretKey();
    return text ? decodeBase64(*text) : Bytes{};
}

// Whether the link to this phone must be encrypted: the phone's app says it can, or the
// paired record of this phone says so (a phone that suddenly reports an old or no app
// version does not turn encryption off), or a pairing runs (its approval carries the
// Mac's secret key).
bool TBNThriftRemoteMobileSevice::needsEncryption(
    const std::shared_ptr<RemotePhoneTransport>& transport) {
    const uint64_t minimum = TBNUtil::versionCode(kMinEncryptedAppVersion);
    auto info = transport ? transport->deviceInfo()->snapshot() : BLECDeviceInfoValues{};
    if (TBNUtil::versionCode(info.appVersion.value_or("")) >= minimum) return true;
    if (pairingInProgress()) return true;
    auto record = settings_->pairedDeviceByHardwareId(info.bleId);
    if (!record && info.did) record = settings_->pairedDeviceByDeviceId(info.did);
    if (record) {
        // A paired phone always had the secret key handed over in its approval.
        return true;
    }
    return false;
}

std::optional<Bytes> TBNThriftRemoteMobileSevice::encryptKeyForBlecThriftTransportFactory(
    const std::shared_ptr<RemotePhoneTransport>& transport) {
    if (!needsEncryption(transport)) return std::nullopt;
    if (settings_->firstPairedDevice()) return secretKey();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (currentAuthKey_) return *currentAuthKey_;
    }
    return TBNCryptHash::sha256FromString(std::string(kPhraseKeyText));
}

std::optional<std::vector<Bytes>>
TBNThriftRemoteMobileSevice::decryptKeysForBlecThriftTransportFactory(
    const std::shared_ptr<RemotePhoneTransport>& transport) {
    if (!needsEncryption(transport)) return std::nullopt;
    std::vector<Bytes> keys;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (currentAuthKey_) keys.push_back(*currentAuthKey_);
    }
    keys.push_back(secretKey());
    keys.push_back(TBNCryptHash::sha256FromString(std::string(kPhraseKeyText)));
    return keys;
}

void TBNThriftRemoteMobileSevice::storeBlePeripherals() {
    std::vector<std::shared_ptr<TBNOSXBlecPeripheral>> list;
    for (const auto& p : store_->allBlePeripherals()) {
        uint64_t state = p->state();
        if (state == TBNBlecPeripheralStateFound) state = TBNBlecPeripheralStateSupported;
        list.push_back(std::make_shared<TBNOSXBlecPeripheral>(
            static_cast<int32_t>(state), p->bleId(), p->deviceId(), p->deviceName(),
            p->deviceModel(), p->osVersion(), p->appVersion()));
    }
    settings_->setAllBlePeripherals(list);
}

void TBNThriftRemoteMobileSevice::loadBlePeripherals() {
    // The saved records go back into the store, so that a phone known before the restart
    // (and its device id) is known again.
    std::vector<TBNBlecPeripheralStore::Record> records;
    for (const auto& saved : settings_->allBlePeripherals()) {
        if (!saved || !saved->bleId() || saved->bleId()->empty()) continue;
        auto record = std::make_shared<TBNBlecPeripheral>(*saved->bleId());
        int32_t state = saved->state();
        record->setState(state == TBNBlecPeripheralStateFound
                             ? TBNBlecPeripheralStateSupported
                             : static_cast<uint64_t>(std::max(state, 0)));
        record->setDeviceId(saved->deviceId());
        record->setDeviceName(saved->deviceName());
        record->setDeviceModel(saved->deviceModel());
        record->setOsVersion(saved->osVersion());
        record->setAppVersion(saved->appVersion());
        records.push_back(record);
    }
    store_->setAllBlePeripheralsFromArray(records);
}

bool TBNThriftRemoteMobileSevice::transportBelongsToPairedPhone(
    const std::shared_ptr<RemotePhoneTransport>& transport) {
    if (!transport) return false;
    auto info = transport->deviceInfo()->snapshot();
    if (!info.bleId) return false;
    auto record = settings_->pairedDeviceByHardwareId(info.bleId);
    if (!record) return false;
    // Same radio address but another phone application: not the paired phone.
    if (record->deviceId() && !sameId(record->deviceId(), info.did)) return false;
    return true;
}

std::shared_ptr<RemotePhoneTransport> TBNThriftRemoteMobileSevice::pairedTransportForHardwareId(
    const std::optional<std::string>& hardwareId) {
    auto transport = onlinedTransportFactory();
    if (!transport) return nullptr;
    if (hardwareId && transport->deviceInfo()->bleId() != hardwareId) return nullptr;
    return transportBelongsToPairedPhone(transport) ? transport : nullptr;
}

// ---- Link callbacks --------------------------------------------------------------------

void TBNThriftRemoteMobileSevice::blecClientDidBluetoothStateChange(RemotePhoneClient&, bool on) {
    TBN_LOG_VERBOSE(kTag, "enabledBluetooth = {}", on);
    bluetoothOn_ = on;
    if (auto d = delegate()) d->remoteMobileClientDidBluetoothStateUpadate(*this, on);
}

std::shared_ptr<BLECMutableDeviceInfo>
TBNThriftRemoteMobileSevice::blecClientGetPairedDeviceInfoByBLEId(RemotePhoneClient&,
                                                                  const std::string& bleId) {
    auto record = settings_->pairedDeviceByHardwareId(bleId);
    if (!record) record = settings_->onlineDeviceByHardwareId(bleId);
    TBN_LOG_DEBUG(kTag, "deviceInfo != ((void *)0) = {}", record != nullptr);
    if (!record) return nullptr;
    return std::make_shared<BLECMutableDeviceInfo>(record->deviceId(), record->token(),
                                                   record->name(), record->model(),
                                                   record->osVersion(), record->appVersion());
}

void TBNThriftRemoteMobileSevice::blecClientDidFindTransportFactory(
    RemotePhoneClient&, const std::shared_ptr<RemotePhoneTransport>& transport) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    if (!transport) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        onlinedTransportFactory_ = transport;
    }
    transport->setDelegate(std::weak_ptr<RemotePhoneTransportDelegate>(shared_from_this()));
    auto info = transport->deviceInfo()->snapshot();
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    if (auto record = settings_->pairedDeviceByHardwareId(info.bleId)) {
        TBN_LOG_INFO(kTag, "go to online exist paired device: '<{}> {}'", show(info.bleId),
                     show(info.name));
        settings_->updateDeviceInfoWithDeviceId(
            info.did, info.bleId, static_cast<int32_t>(info.rssi), info.name, info.model,
            info.token, static_cast<int32_t>(info.batteryLevel),
            static_cast<int32_t>(info.batteryState), info.osVersion, info.appVersion,
            static_cast<int32_t>(info.appState), true);
        after(1.0, [weak, info] {
            auto self = weak.lock();
            if (!self) return;
            if (sameId(self->settings_->expectedDeviceId(), info.did)) {
                TBN_LOG_INFO(kTag, "live expected timer for device: '<{}> {}'", show(info.bleId),
                             show(info.name));
                self->settings_->setExpectedDeviceId(std::nullopt);
                self->waits_->releaseForName(kWaitRemoteNotification, std::any(std::string()));
            } else {
                self->updateSiteCacheForHardwareId(info.bleId);
                self->getBackupForHardwareId(info.bleId);
            }
        });
    } else if (auto oldId = settings_->pairedDeviceHardwareIdByDeviceId(info.did);
               oldId && settings_->pairedDeviceByHardwareId(oldId)) {
        TBN_LOG_INFO(kTag, "update online paired device: <{}> to <{}>", *oldId, show(info.bleId));
        auto moved = settings_->pairedDeviceByHardwareId(oldId);
        moved->setHardwareId(info.bleId);
        settings_->removePairedDeviceAtHardwareId(oldId);
        settings_->addPairedDevice(moved);
    } else {
        TBN_LOG_INFO(kTag, "find online device to pair: '<{}> {}'", show(info.bleId),
                     show(info.name));
        after(1.0, [weak] {
            if (auto self = weak.lock())
                self->waits_->releaseForName(kWaitPairToDevice, std::any(std::string()));
        });
    }
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::blecClientDidLostTransportFactory(
    RemotePhoneClient&, const std::shared_ptr<RemotePhoneTransport>& transport) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    std::shared_ptr<RemotePhoneTransport> current;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        current = onlinedTransportFactory_;
    }
    if (current) current->setDelegate({});
    if (transport) {
        auto bleId = transport->deviceInfo()->bleId();
        if (auto record = bleId ? settings_->pairedDeviceByHardwareId(bleId) : nullptr) {
            TBN_LOG_DEBUG(kTag, "go to offline paired device: '<{}> {}'",
                          show(record->hardwareId()), show(record->name()));
            settings_->updateDeviceInfoWithDeviceId(
                record->deviceId(), record->hardwareId(), record->rssi(), record->name(),
                record->model(), record->token(), record->batteryLevel(), record->batteryState(),
                record->osVersion(), record->appVersion(), 0, false);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        onlinedTransportFactory_.reset();
    }
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::blecClientDidInvalidateDeviceId(RemotePhoneClient&) {
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    async([weak] {
        auto self = weak.lock();
        if (!self) return;
        if (self->client_) self->client_->stop();
        auto device = self->settings_->firstPairedDevice();
        self->unpairFromDevice(device ? device->deviceId() : std::nullopt);
        if (auto d = self->delegate()) d->remoteMobileShowUpdatedDeviceIdForPairedDevice(*self);
    });
}

void TBNThriftRemoteMobileSevice::blecClientDidChangePairingStatus(RemotePhoneClient&,
                                                                   const std::string& status) {
    ProcessHandler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handler = currentProcessHandler_;
    }
    if (handler) handler(status);
}

void TBNThriftRemoteMobileSevice::blecThriftTransportFactoryDidDeviceInfoUpdated(
    const std::shared_ptr<RemotePhoneTransport>& transport) {
    if (!transport) return;
    std::lock_guard<std::recursive_mutex> transportLock(transport->objectLock());
    auto info = transport->deviceInfo()->snapshot();
    bool pairing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pairing = info.authResponseData && currentAuthKey_ && !currentClientSecret_;
    }
    if (pairing) {
        continuePairingLocked(transport);
        return;
    }
    auto record = settings_->pairedDeviceByHardwareId(info.bleId);
    if (!record) record = settings_->onlineDeviceByHardwareId(info.bleId);
    if (!record) return;
    TBN_LOG_VERBOSE(kTag, "di.appState = {}, blecThriftTransport.deviceInfo.appState = {}",
                    record->appState(), info.appState);
    settings_->updateDeviceInfoWithDeviceId(
        info.did, info.bleId, static_cast<int32_t>(info.rssi), info.name, info.model, info.token,
        static_cast<int32_t>(info.batteryLevel), static_cast<int32_t>(info.batteryState),
        info.osVersion, info.appVersion, static_cast<int32_t>(info.appState), true);
}

void TBNThriftRemoteMobileSevice::blecThriftTransportFactoryDidDBUpdated(
    const std::shared_ptr<RemotePhoneTransport>& transport) {
    if (!transport) return;
    auto bleId = transport->deviceInfo()->bleId();
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    async([weak, bleId] {
        if (auto self = weak.lock()) self->updateSiteCacheForHardwareId(bleId);
    });
}

void TBNThriftRemoteMobileSevice::blecThriftTransportFactoryDidNeedCommunicationTypeUpdated(
    const std::shared_ptr<RemotePhoneTransport>& transport, uint64_t type) {
    TBN_LOG_DEBUG(kTag, "type = {}", type);
    if (!transport) return;
    auto bleId = transport->deviceInfo()->bleId();
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    switch (type) {
        case 0:
            if (backupRestoreProcessing_) {
                if (auto d = delegate()) d->remoteMobileCancelLoadOrSaveBackUp(*this);
            }
            break;
        case 1:
            after(5.0, [weak, bleId] {
                if (auto self = weak.lock()) self->getBackupForHardwareId(bleId);
            });
            break;
        case 2:
            backupRestoreQueue_->async([weak, transport] {
                if (auto self = weak.lock()) self->restoreToTransport(transport);
            });
            break;
        case 3:
            async([weak, bleId] {
                if (auto self = weak.lock()) self->getAccountForClipboardForHardwareId(bleId);
            });
            break;
        case 4:
            async([weak, bleId] {
                if (auto self = weak.lock()) self->getURLToOpenForHardwareId(bleId);
            });
            break;
        default:
            break;
    }
}

void TBNThriftRemoteMobileSevice::restoreToTransport(
    const std::shared_ptr<RemotePhoneTransport>& transport) {
    backupRestoreProcessing_ = true;
    auto info = transport->deviceInfo()->snapshot();
    try {
        // The vault goes only to the paired phone, whoever asks for it.
        if (!transportBelongsToPairedPhone(transport)) {
            TBN_LOG_ERROR(kTag,
                          "did refuse to set backUp to device: '<{}> {}': not the paired phone",
                          show(info.bleId), show(info.name));
        } else {
            Bytes buffer;
            std::shared_ptr<TBNError> error;
            if (auto d = delegate()) {
                error = d->remoteMobileCanLoadBackUp(*this, buffer);
            } else {
                error = TBNErrors::internalException(std::string("no backup to restore"));
            }
            TBN_LOG_INFO(kTag, "set backUp to device: '<{}> {}'", show(info.bleId),
                         show(info.name));
            auto request =
                std::make_shared<TBNSetBackUp>(options_.nextRequest(), clientAuth(),
                                               std::optional<Bytes>(std::move(buffer)), error);
            createMobileStorageServiceWithTransportFactory(transport)->setBackUp(request);
        }
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTag, "did fail to set backUp to device: '<{}> {}' with exception: {}",
                      show(info.bleId), show(info.name), e.what());
    }
    backupRestoreProcessing_ = false;
}

void TBNThriftRemoteMobileSevice::settingsDidUpdated(TBNSettings&,
                                                     TBNSettingsComponents components) {
    if (components & TBNSettingsComponentSwitches) {
        // The same rule as at start-up and for each request: both switches must be on.
        if (TBNOSXFeatureManager::yubikey(*settings_)) {
            startU2F();
        } else {
            stopU2F();
        }
    }
}

void TBNThriftRemoteMobileSevice::blecPeripheralStoreDidUpdate(TBNBlecPeripheralStore&) {
    storeBlePeripherals();
}

// ---- Explorer callbacks: phones seen around the Mac become the session's online records.

void TBNThriftRemoteMobileSevice::blecExplorerOnStateChange(TBNBlecExplorer&, bool on) {
    TBN_LOG_DEBUG(kTag, "running = {}", on);
}

void TBNThriftRemoteMobileSevice::blecExplorerOnDidFindDevice(
    TBNBlecExplorer&, const std::optional<std::string>& deviceId) {
    auto bleId = deviceId ? store_->bleIdByDeviceId(*deviceId) : std::nullopt;
    TBN_LOG_DEBUG(kTag, "deviceId = {}, bleId = {}", show(deviceId), show(bleId));
    // Without the radio address there is no record to key: nothing to add.
    if (!bleId || settings_->onlineDeviceByHardwareId(bleId)) return;
    auto record = std::make_shared<TBNOSXDeviceInfo>(
        deviceId, bleId, 0, store_->deviceNameByDeviceId(*deviceId),
        store_->deviceModelNameByDeviceId(*deviceId), std::nullopt, 0, 0,
        store_->osVersionByDeviceId(*deviceId), std::nullopt, 0, true, true, nullptr, std::nullopt);
    settings_->addOnlineDevice(record);
}

void TBNThriftRemoteMobileSevice::blecExplorerOnDidUpdateDevice(
    TBNBlecExplorer&, const std::optional<std::string>& deviceId) {
    auto bleId = deviceId ? store_->bleIdByDeviceId(*deviceId) : std::nullopt;
    TBN_LOG_DEBUG(kTag, "deviceId = {}, bleId = {}", show(deviceId), show(bleId));
    if (!bleId) return;
    auto name = store_->deviceNameByDeviceId(*deviceId);
    auto model = store_->deviceModelNameByDeviceId(*deviceId);
    auto osVersion = store_->osVersionByDeviceId(*deviceId);
    TBN_LOG_DEBUG(kTag, "deviceName = {}, deviceModel = {}, osVersion = {}", show(name),
                  show(model), show(osVersion));
    // The explorer learns no push token, app version, battery or app state: what the
    // record already holds stays (a paired phone keeps its token, so it can be woken).
    auto known = settings_->pairedDeviceByHardwareId(bleId);
    if (!known) known = settings_->onlineDeviceByHardwareId(bleId);
    settings_->updateDeviceInfoWithDeviceId(
        deviceId, bleId, known ? known->rssi() : 0, name, model,
        known ? known->token() : std::nullopt, known ? known->batteryLevel() : 0,
        known ? known->batteryState() : 0, osVersion, known ? known->appVersion() : std::nullopt,
        known ? known->appState() : 0, true);
}

void TBNThriftRemoteMobileSevice::blecExplorerOnDidLostDevice(
    TBNBlecExplorer&, const std::optional<std::string>& deviceId) {
    auto bleId = deviceId ? store_->bleIdByDeviceId(*deviceId) : std::nullopt;
    TBN_LOG_DEBUG(kTag, "deviceId = {}, bleId = {}", show(deviceId), show(bleId));
    if (bleId) settings_->removeOnlineDeviceAtHardwareId(bleId);
}

}  // namespace lumvane
