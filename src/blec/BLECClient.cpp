#include "blec/BLECClient.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>

#include "blec/BLECLog.h"
#include "runtime/DispatchQueue.h"

namespace lumvane {

namespace {

constexpr const char* kTags = "core|blec|client";

void logLine(blec::LogLevel level, const std::string& text) {
    blec::log(level, kTags, text);
}

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

// Device ids are UUID texts: letter case carries no meaning.
bool sameDeviceId(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return a && b && !a->empty() && upper(*a) == upper(*b);
}

std::string phone(const std::string& bleId, const std::optional<std::string>& name) {
    return "'<" + bleId + "> " + name.value_or("") + "'";
}

// The 16 bytes of a 128-bit UUID text, in the order the text shows them.
std::optional<Bytes> uuidBytes(const std::string& uuid) {
    Bytes out;
    int high = -1;
    for (char c : uuid) {
        if (c == '-') continue;
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else {
            return std::nullopt;
        }
        if (high < 0) {
            high = v;
        } else {
            out.push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0 || out.size() != 16) return std::nullopt;
    return out;
}

const std::string kPluses(54, '+');
const std::string kBangs(54, '!');
const std::string kEquals(54, '=');

}  // namespace

// ---- advertisement rule -------------------------------------------------------------------

std::optional<std::string> BLECClient::deviceIdUuid(const std::string& deviceId) {
    auto canonical = ble::canonicalUuid(upper(deviceId));
    if (!canonical || canonical->size() != 36) return std::nullopt;
    return canonical;
}

std::optional<std::string> BLECClient::authTokenUuid(const std::string& authToken) {
    const std::string token = upper(authToken);
    if (token.size() != 16) return std::nullopt;
    std::string out;
    char hex[3];
    for (size_t i = 0; i < token.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(token[i]));
        out += hex;
    }
    return out;
}

BLECClient::Match BLECClient::matchAdvertisement(const ble::AdvertisementData& ad,
                                                 const std::optional<std::string>& deviceIdUuid,
                                                 const std::optional<std::string>& authTokenUuid) {
    if (ad.serviceUuids) {
        for (const auto& s : *ad.serviceUuids) {
            auto canonical = ble::canonicalUuid(s);
            if (!canonical) continue;
            if ((deviceIdUuid && *canonical == *deviceIdUuid) ||
                (authTokenUuid && *canonical == *authTokenUuid)) {
                return Match::ServiceUuid;
            }
        }
        return Match::None;
    }
    if (authTokenUuid || !deviceIdUuid || !ad.manufacturerData) return Match::None;
    const Bytes& data = *ad.manufacturerData;
    if (data.size() != 19 || data[0] != 0x4C || data[1] != 0x00) return Match::None;
    auto id = uuidBytes(*deviceIdUuid);
    if (!id) return Match::None;
    for (size_t i = 0; i < 4; ++i) {
        if (((*id)[i] & data[3 + i]) != (*id)[i]) return Match::None;
    }
    return Match::ManufacturerData;
}

std::string BLECClient::defaultPairingStatusText(const std::string& key) {
    if (key == "PAIR_STATE_SEARCH_FOR_PHONE") return "Looking for your phone…";
    if (key == "PAIR_STATE_CONNECTING") return "Connecting to your phone…";
    if (key == "PAIR_STATE_READING_AUTH_DATA") return "Reading pairing data…";
    if (key == "PAIR_STATE_COMPLETED") return "Phone found";
    return {};
}

// ---- creation -----------------------------------------------------------------------------

std::shared_ptr<BLECClient> BLECClient::create(const std::string& privateKey,
                                               const std::string& cert, Options options) {
    auto self = std::make_shared<BLECClient>(Token{}, privateKey, cert, std::move(options));
    self->central_ = std::make_shared<TBNBlecCentralManager>(
        std::weak_ptr<ble::BleCentralDelegate>(
            std::static_pointer_cast<ble::BleCentralDelegate>(self)),
        self->options_.queueLabel, self->options_.centralFactory, self->clock_);
    TBNBlecPeriphialValidator::Options v;
    v.peripheralStore = self->store_;
    v.clock = self->clock_;
    v.notifyQueue = self->options_.delegateQueue;
    self->validator_ = TBNBlecPeriphialValidator::create(
        self->central_,
        std::weak_ptr<TBNBlecPeriphialValidatorDelegate>(
            std::static_pointer_cast<TBNBlecPeriphialValidatorDelegate>(self)),
        v);
    return self;
}

BLECClient::BLECClient(Token, std::string privateKey, std::string cert, Options options)
    : privateKey_(std::move(privateKey)),
      cert_(std::move(cert)),
      options_(std::move(options)),
      store_(options_.peripheralStore ? options_.peripheralStore
                                      : &TBNBlecPeripheralStore::sharedStore()),
      clock_(options_.clock ? options_.clock : Clock::steady()),
      delegateQueue_(options_.delegateQueue
                         ? options_.delegateQueue
                         : DispatchQueue::create("com.tobrin.ios.client.notify")) {}

BLECClient::~BLECClient() {
    // Leave the radio as found: no scan and no connection of ours stays behind.
    std::shared_ptr<BLECMutableThriftFactoryTransport> transport;
    {
        std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
        if (blecPeripheral_) transport = blecPeripheral_->transport();
        blecPeripheral_.reset();
    }
    if (transport) transport->disconnect();
    if (central_ && central_->centralManager() && central_->centralManager()->isScanning()) {
        central_->centralManager()->stopScan();
    }
}

std::shared_ptr<BLECClientDelegate> BLECClient::delegate() const {
    std::lock_guard<std::mutex> lock(idsLock_);
    return delegate_.lock();
}

void BLECClient::setDelegate(std::weak_ptr<BLECClientDelegate> delegate) {
    {
        std::lock_guard<std::mutex> lock(idsLock_);
        delegate_ = std::move(delegate);
        reportedOn_.reset();
    }
    // The central may have told its state before there was a delegate to hear it.
    switch (central_->centralManager()->state()) {
        case ble::CentralState::PoweredOn:
            reportBluetooth(true);
            break;
        case ble::CentralState::PoweredOff:
        case ble::CentralState::Resetting:
            reportBluetooth(false);
            break;
        default:
            break;
    }
}

void BLECClient::reportBluetooth(bool on) {
    std::weak_ptr<BLECClient> weak = weak_from_this();
    delegateQueue_->async([weak, on] {
        auto self = weak.lock();
        if (!self) return;
        std::shared_ptr<BLECClientDelegate> d;
        {
            // Reports run in order on the delegate queue; one that repeats the last
            // value told to this delegate tells it nothing.
            std::lock_guard<std::mutex> lock(self->idsLock_);
            if (self->reportedOn_ == on) return;
            d = self->delegate_.lock();
            if (d) self->reportedOn_ = on;
        }
        if (d) d->blecClientDidBluetoothStateChange(*self, on);
    });
}

// ---- read-outs ----------------------------------------------------------------------------

bool BLECClient::running() const {
    std::lock_guard<std::mutex> lock(idsLock_);
    return running_;
}
std::optional<std::string> BLECClient::currentBleId() const {
    std::lock_guard<std::mutex> lock(idsLock_);
    return currentBleId_;
}
std::optional<std::string> BLECClient::currentDeviceId() const {
    std::lock_guard<std::mutex> lock(idsLock_);
    return currentDeviceId_;
}
std::optional<std::string> BLECClient::currentAuthToken() const {
    std::lock_guard<std::mutex> lock(idsLock_);
    return currentAuthToken_;
}
bool BLECClient::pairingMode() const {
    std::lock_guard<std::mutex> lock(idsLock_);
    return currentAuthTokenUuid_.has_value();
}
bool BLECClient::scanning() const {
    std::lock_guard<std::mutex> lock(scanLock_);
    return startScanTime_.has_value();
}
std::shared_ptr<BLECPeripheral> BLECClient::blecPeripheral() const {
    std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
    return blecPeripheral_;
}
std::shared_ptr<BLECMutableThriftFactoryTransport> BLECClient::currentTransport() const {
    std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
    return blecPeripheral_ ? blecPeripheral_->transport() : nullptr;
}
std::vector<std::string> BLECClient::connectQueue() const {
    std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
    return connectQueue_;
}
std::optional<std::string> BLECClient::peerPublicKey() const {
    auto transport = currentTransport();
    return transport ? transport->peerPublicKey() : std::nullopt;
}

// ---- start, stop, re-target -----------------------------------------------------------------

void BLECClient::startForDeviceId(const std::optional<std::string>& deviceId,
                                  const std::optional<std::string>& bleId) {
    std::lock_guard<std::recursive_mutex> lock(clientLock_);
    {
        std::lock_guard<std::mutex> ids(idsLock_);
        if (running_) {
            logLine(blec::LogLevel::Debug, "self.running");
            return;
        }
        logLine(blec::LogLevel::Info, "start for: '" + bleId.value_or("(null)") + "'");
        currentBleId_ = bleId;
        currentDeviceId_ = deviceId;
        currentDeviceIdUuid_ = deviceId ? deviceIdUuid(*deviceId) : std::nullopt;
        currentAuthToken_.reset();
        currentAuthTokenUuid_.reset();
        running_ = true;
        ++runGeneration_;
    }
    {
        std::lock_guard<std::recursive_mutex> plock(peripheralsLock_);
        rejected_.clear();
    }
    startUpdate();
    if (central_->centralManager()->state() == ble::CentralState::PoweredOn) startScan();
}

void BLECClient::startForAuthToken(const std::string& authToken) {
    std::lock_guard<std::recursive_mutex> lock(clientLock_);
    {
        std::lock_guard<std::mutex> ids(idsLock_);
        if (running_) {
            logLine(blec::LogLevel::Debug, "self.running");
            return;
        }
        auto uuid = authTokenUuid(authToken);
        if (!uuid) {
            // Only a 16-byte token can be advertised as a service UUID.
            logLine(blec::LogLevel::Error,
                    "authToken has " + std::to_string(authToken.size()) + " bytes, 16 expected");
            return;
        }
        currentBleId_.reset();
        currentDeviceId_.reset();
        currentDeviceIdUuid_.reset();
        currentAuthToken_ = authToken;
        currentAuthTokenUuid_ = uuid;
        running_ = true;
        ++runGeneration_;
    }
    {
        std::lock_guard<std::recursive_mutex> plock(peripheralsLock_);
        rejected_.clear();
    }
    startUpdate();
    if (central_->centralManager()->state() == ble::CentralState::PoweredOn) startScan();
}

void BLECClient::stop() {
    std::lock_guard<std::recursive_mutex> lock(clientLock_);
    if (!running()) {
        logLine(blec::LogLevel::Debug, "!self.running");
        return;
    }
    if (central_->centralManager()->state() == ble::CentralState::PoweredOn) stopScan();
    {
        std::lock_guard<std::recursive_mutex> plock(peripheralsLock_);
        if (blecPeripheral_) {
            auto transport = blecPeripheral_->transport();
            if (transport) transport->disconnect();
            if (auto d = delegate()) d->blecClientDidLostTransportFactory(*this, transport);
            blecPeripheral_.reset();
        }
        for (const auto& record : store_->allBlePeripherals()) {
            if (record->state() == TBNBlecPeripheralStateFound) {
                setBlecPeripheralState(TBNBlecPeripheralStateSupported, record);
                record->setNextConnectTime(blecNowSeconds(*clock_));
            }
        }
        connectQueue_.clear();
    }
    std::lock_guard<std::mutex> ids(idsLock_);
    currentBleId_.reset();
    currentDeviceId_.reset();
    currentDeviceIdUuid_.reset();
    currentAuthToken_.reset();
    currentAuthTokenUuid_.reset();
    running_ = false;
}

void BLECClient::setPairedDeviceId(const std::optional<std::string>& deviceId,
                                   const std::optional<std::string>& bleId) {
    std::lock_guard<std::recursive_mutex> lock(clientLock_);
    std::lock_guard<std::mutex> ids(idsLock_);
    currentDeviceId_ = deviceId;
    currentDeviceIdUuid_ = deviceId ? deviceIdUuid(*deviceId) : std::nullopt;
    currentBleId_ = bleId;
    // Paired now: leave pairing mode, so that after a loss the client looks for the
    // paired phone (background advertisements included), not for the pairing token.
    if (deviceId) {
        currentAuthToken_.reset();
        currentAuthTokenUuid_.reset();
    }
}

// ---- scan ------------------------------------------------------------------------------------

void BLECClient::reportPairingStatus(const std::string& key) {
    auto d = delegate();
    if (!d) return;
    const std::string text =
        options_.localizedString ? options_.localizedString(key) : defaultPairingStatusText(key);
    d->blecClientDidChangePairingStatus(*this, text);
}

void BLECClient::startScan() {
    bool pairing;
    std::optional<std::string> deviceId;
    {
        std::lock_guard<std::mutex> ids(idsLock_);
        pairing = currentAuthTokenUuid_.has_value();
        deviceId = currentDeviceId_;
    }
    if (pairing) {
        logLine(blec::LogLevel::Info, "start scan for device to pair");
        reportPairingStatus("PAIR_STATE_SEARCH_FOR_PHONE");
    } else {
        logLine(blec::LogLevel::Info,
                "start scan for device to connect: did - '" + deviceId.value_or("(null)") + "'");
    }
    std::lock_guard<std::mutex> lock(scanLock_);
    startScanTime_ = clock_->now();
    try {
        central_->centralManager()->scanForPeripherals({}, true);
    } catch (const std::exception& e) {
        blec::logException(kTags, e);
    }
}

void BLECClient::stopScan() {
    logLine(blec::LogLevel::Info, "stop scan for device");
    std::lock_guard<std::mutex> lock(scanLock_);
    try {
        central_->centralManager()->stopScan();
    } catch (const std::exception& e) {
        blec::logException(kTags, e);
    }
    startScanTime_.reset();
}

// ---- the 1 s loop -----------------------------------------------------------------------------

void BLECClient::startUpdate() {
    logLine(blec::LogLevel::Info, "start updater");
    uint64_t generation;
    {
        std::lock_guard<std::mutex> ids(idsLock_);
        generation = runGeneration_;
    }
    std::weak_ptr<BLECClient> weak = weak_from_this();
    dispatch_repeat_after_interval(
        central_->centralManagerQueue(),
        [weak, generation](bool* stop) {
            auto self = weak.lock();
            if (!self) {
                *stop = true;
                return;
            }
            {
                // A loop of an earlier run ends: one loop drives the phone.
                std::lock_guard<std::mutex> ids(self->idsLock_);
                if (self->runGeneration_ != generation) {
                    *stop = true;
                    return;
                }
            }
            self->tick(stop);
        },
        kUpdateInterval);
}

void BLECClient::tick(bool* stop) {
    std::shared_ptr<BLECMutableThriftFactoryTransport> transport;
    {
        std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
        if (!blecPeripheral_) {
            bool longScan;
            {
                std::lock_guard<std::mutex> scan(scanLock_);
                longScan = startScanTime_ && clock_->now() - *startScanTime_ > Clock::seconds(10.0);
            }
            if (longScan && validator_->blecPeripheral()) validator_->update();
        } else {
            transport = blecPeripheral_->transport();
            if (transport) transport->update();
        }
    }
    if (!running()) *stop = true;
}

// ---- central events ---------------------------------------------------------------------------

void BLECClient::centralManagerDidUpdateState(ble::BleCentral& central) {
    const auto state = central.state();
    logLine(blec::LogLevel::Debug, std::string("central.state = ") + ble::centralStateName(state));
    std::lock_guard<std::recursive_mutex> lock(clientLock_);
    bool on;
    switch (state) {
        case ble::CentralState::PoweredOn:
            if (running()) startScan();
            on = true;
            break;
        case ble::CentralState::Unsupported:
        case ble::CentralState::Unauthorized:
            return;
        default:
            if (running()) stopScan();
            on = false;
            break;
    }
    reportBluetooth(on);
}

bool BLECClient::rejectedLocked(const std::string& bleId) {
    auto it = rejected_.find(bleId);
    if (it == rejected_.end()) return false;
    if (clock_->now() < it->second) return true;
    rejected_.erase(it);
    return false;
}

void BLECClient::centralManagerDidDiscoverPeripheral(
    ble::BleCentral&, const std::shared_ptr<ble::BlePeripheral>& peripheral,
    const ble::AdvertisementData& ad, int) {
    if (!peripheral) return;
    std::optional<std::string> idUuid, tokenUuid, deviceId;
    {
        std::lock_guard<std::mutex> ids(idsLock_);
        if (!running_) return;
        idUuid = currentDeviceIdUuid_;
        tokenUuid = currentAuthTokenUuid_;
        deviceId = currentDeviceId_;
    }
    const Match match = matchAdvertisement(ad, idUuid, tokenUuid);
    if (match == Match::None) return;
    const std::string bleId = peripheralId(*peripheral);
    const auto name = peripheral->name();
    std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
    if (rejectedLocked(bleId)) return;
    if (match == Match::ServiceUuid) {
        if (tokenUuid) {
            logLine(blec::LogLevel::Info,
                    "founded device to pair [serviceUuids]: " + phone(bleId, name));
        } else {
            logLine(blec::LogLevel::Info, "founded device to connect [serviceUuids]: did - '" +
                                              deviceId.value_or("") + "', " + phone(bleId, name));
        }
    } else {
        logLine(blec::LogLevel::Info, "founded device to connect [manafactureData]: did - '" +
                                          deviceId.value_or("") + "', " + phone(bleId, name));
    }
    pickLocked(bleId, name);
}

// Makes (or reuses) the one connection and asks it to connect. Caller holds
// peripheralsLock_.
void BLECClient::pickLocked(const std::string& bleId, const std::optional<std::string>& name) {
    if (!blecPeripheral_) {
        auto p = std::make_shared<BLECPeripheral>();
        p->setBleId(bleId);
        auto d = delegate();
        auto info = d ? d->blecClientGetPairedDeviceInfoByBLEId(*this, bleId) : nullptr;
        BLECMutableThriftFactoryTransport::create(
            privateKey_, cert_, p, info, central_,
            std::weak_ptr<BLECMutableThriftTransportFactoryDelegate>(
                std::static_pointer_cast<BLECMutableThriftTransportFactoryDelegate>(
                    shared_from_this())),
            clock_);
        blecPeripheral_ = p;
    }
    auto transport = blecPeripheral_->transport();
    // A repeated advertisement of the phone being handled (one already on its way
    // when the scan stopped) must not restart a connection that is under way.
    auto system = central_->periphealByBleId(blecPeripheral_->bleId());
    if (system && system->state() != ble::PeripheralState::Disconnected) {
        if (scanning()) stopScan();
        return;
    }
    if (validator_->blecPeripheral()) validator_->invalidate();
    if (pairingMode()) reportPairingStatus("PAIR_STATE_CONNECTING");
    stopScan();
    logLine(blec::LogLevel::Info, "connect to device: " + phone(bleId, name));
    if (!transport || !transport->connect()) {
        blecPeripheral_.reset();
        startScan();
    }
}

std::shared_ptr<BLECMutableThriftFactoryTransport> BLECClient::currentTransportFor(
    const std::string& bleId) const {
    if (!blecPeripheral_ || blecPeripheral_->bleId() != bleId) return nullptr;
    return blecPeripheral_->transport();
}

void BLECClient::centralManagerDidConnectPeripheral(
    ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral) {
    if (!peripheral) return;
    const std::string bleId = peripheralId(*peripheral);
    logLine(blec::LogLevel::Debug, kPluses);
    logLine(blec::LogLevel::Debug, "did connect to device: " + phone(bleId, peripheral->name()));
    logLine(blec::LogLevel::Debug, kPluses);
    if (pairingMode()) reportPairingStatus("PAIR_STATE_READING_AUTH_DATA");
    std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
    if (auto record = validator_->blecPeripheral(); record && record->bleId() == bleId) {
        validator_->centralManagerDidConnectPeripheral(central, peripheral);
    } else if (auto transport = currentTransportFor(bleId)) {
        transport->centralManagerDidConnectPeripheral(central, peripheral);
    }
}

void BLECClient::centralManagerDidFailToConnectPeripheral(
    ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral,
    const std::optional<ble::BleError>& error) {
    if (!peripheral) return;
    const std::string bleId = peripheralId(*peripheral);
    logLine(blec::LogLevel::Debug, kBangs);
    logLine(blec::LogLevel::Error,
            "did fail to connect to device: " + phone(bleId, peripheral->name()) + " with " +
                (error ? error->message : std::string("(null)")));
    logLine(blec::LogLevel::Debug, kBangs);
    std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
    if (auto record = validator_->blecPeripheral(); record && record->bleId() == bleId) {
        validator_->centralManagerDidFailToConnectPeripheral(central, peripheral, error);
    } else if (auto transport = currentTransportFor(bleId)) {
        transport->centralManagerDidFailToConnectPeripheral(central, peripheral, error);
    }
}

void BLECClient::centralManagerDidDisconnectPeripheral(
    ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral,
    const std::optional<ble::BleError>& error) {
    if (!peripheral) return;
    const std::string bleId = peripheralId(*peripheral);
    logLine(blec::LogLevel::Debug, kEquals);
    if (error) {
        logLine(blec::LogLevel::Error,
                "did disconnect from device: " + phone(bleId, peripheral->name()) + " with " +
                    error->message);
    } else {
        logLine(blec::LogLevel::Debug,
                "did disconnect from device: " + phone(bleId, peripheral->name()));
    }
    logLine(blec::LogLevel::Debug, kEquals);
    std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
    if (auto record = validator_->blecPeripheral(); record && record->bleId() == bleId) {
        validator_->centralManagerDidDisconnectPeripheral(central, peripheral, error);
    } else if (auto transport = currentTransportFor(bleId)) {
        transport->centralManagerDidDisconnectPeripheral(central, peripheral, error);
    }
}

// ---- connection reports -----------------------------------------------------------------------

void BLECClient::blecThriftTransportFactoryDidFindDevice(BLECThriftTransportFactory& factory) {
    auto transport =
        std::dynamic_pointer_cast<BLECMutableThriftFactoryTransport>(factory.shared_from_this());
    if (!transport) return;
    const auto info = transport->deviceInfo()->snapshot();
    const std::string bleId = info.bleId.value_or("");
    bool pairing;
    std::optional<std::string> pairedBleId, pairedDeviceId;
    {
        std::lock_guard<std::mutex> ids(idsLock_);
        pairing = currentAuthTokenUuid_.has_value();
        pairedBleId = currentBleId_;
        pairedDeviceId = currentDeviceId_;
    }
    if (!pairing) {
        if (pairedBleId && *pairedBleId == bleId) {
            if (!sameDeviceId(pairedDeviceId, info.did)) {
                logLine(blec::LogLevel::Error,
                        "paired phone " + phone(bleId, info.name) + " reports another device id");
                if (auto d = delegate()) d->blecClientDidInvalidateDeviceId(*this);
                return;
            }
        } else if (!sameDeviceId(pairedDeviceId, info.did)) {
            // Another peripheral that advertised the paired phone's id but is not
            // that phone: it must not take the paired phone's place, nor cost the
            // pairing. Drop it and leave it alone for a while.
            logLine(blec::LogLevel::Warning,
                    "peripheral " + phone(bleId, info.name) + " is not the paired phone, ignored");
            {
                std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
                rejected_[bleId] = clock_->deadlineAfter(options_.rejectedPeripheralPause);
            }
            transport->disconnect();
            return;
        }
    }
    if (pairing) reportPairingStatus("PAIR_STATE_COMPLETED");
    std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
    if (!blecPeripheral_ || blecPeripheral_->transport() != transport) return;
    if (!blecPeripheral_->sentFounded()) {
        if (auto d = delegate()) d->blecClientDidFindTransportFactory(*this, transport);
        blecPeripheral_->setSentFounded(true);
    }
}

void BLECClient::blecThriftTransportFactoryDidLostDevice(BLECThriftTransportFactory& factory) {
    std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
    if (!blecPeripheral_ || !blecPeripheral_->sentFounded()) return;
    auto transport = blecPeripheral_->transport();
    if (transport.get() != &factory) return;
    if (auto d = delegate()) d->blecClientDidLostTransportFactory(*this, transport);
    blecPeripheral_->setSentFounded(false);
}

void BLECClient::blecThriftTransportFactory(BLECThriftTransportFactory& factory,
                                            const std::string& peripheralId) {
    {
        std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
        auto transport = blecPeripheral_ ? blecPeripheral_->transport() : nullptr;
        if (transport && transport.get() != &factory) {
            // A late report of an earlier connection: the current phone stays.
            logLine(blec::LogLevel::Debug,
                    "disconnect report of an old connection: '<" + peripheralId + ">'");
            return;
        }
        if (auto d = delegate()) d->blecClientDidLostTransportFactory(*this, transport);
        blecPeripheral_.reset();
        if (auto record = store_->blePeripheralByBleId(peripheralId)) {
            record->setNextConnectTime(blecNowSeconds(*clock_) + kReconnectPause);
        }
    }
    std::lock_guard<std::recursive_mutex> lock(clientLock_);
    bool scan;
    {
        std::lock_guard<std::recursive_mutex> plock(peripheralsLock_);
        // Another phone may have been picked meanwhile.
        scan = running() && !blecPeripheral_ &&
               central_->centralManager()->state() == ble::CentralState::PoweredOn;
    }
    if (scan) startScan();
}

// ---- validator reports ------------------------------------------------------------------------

void BLECClient::blecPeriphialValidatorDidDisconnectFrom(
    TBNBlecPeriphialValidator*, const std::shared_ptr<TBNBlecPeripheral>& record) {
    if (!record) return;
    logLine(blec::LogLevel::Debug, "blecPeripheral = '<" + record->bleId() + ">'");
    std::optional<std::string> deviceId, token;
    {
        std::lock_guard<std::mutex> ids(idsLock_);
        deviceId = currentDeviceId_;
        token = currentAuthToken_;
    }
    std::lock_guard<std::recursive_mutex> lock(peripheralsLock_);
    if (blecPeripheral_) return;
    const bool awaited = sameDeviceId(record->deviceId(), deviceId) ||
                         (token && record->authToken() == token) ||
                         record->authResponseData().has_value();
    if (awaited) {
        logLine(blec::LogLevel::Debug, "found waited peripheral: '<" + record->bleId() + ">'");
        pickLocked(record->bleId(), record->deviceName());
        return;
    }
    const uint64_t state = record->state();
    if (state != TBNBlecPeripheralStateNotAvailable && state != TBNBlecPeripheralStateUnsupported) {
        record->setNextConnectTime(blecNowSeconds(*clock_) + 10);
        logLine(blec::LogLevel::Debug, "readd device to connect");
        connectQueue_.push_back(record->bleId());
    }
}

void BLECClient::blecPeriphialValidatorUpdatePeriphealInfo(
    TBNBlecPeriphialValidator*, const std::shared_ptr<TBNBlecPeripheral>& record) {
    if (record) logLine(blec::LogLevel::Debug, "blecPeripheral = '<" + record->bleId() + ">'");
}

void BLECClient::blecPeriphialValidatorUpdatePeripheal(
    TBNBlecPeriphialValidator*, const std::shared_ptr<TBNBlecPeripheral>& record,
    uint64_t fromState, uint64_t toState) {
    if (!record) return;
    logLine(blec::LogLevel::Debug,
            "chnage '" + TBNBlecPeripheral::strBlecPeripheralStateByState(fromState) +
                "' state to '" + TBNBlecPeripheral::strBlecPeripheralStateByState(toState) +
                "': '<" + record->bleId() + ">'");
}

void BLECClient::setBlecPeripheralState(uint64_t state,
                                        const std::shared_ptr<TBNBlecPeripheral>& record) {
    if (!record) return;
    const uint64_t old = record->state();
    if (old == state) {
        logLine(blec::LogLevel::Debug, "blecPeripheral.state == state");
        return;
    }
    record->setState(state);
    blecPeriphialValidatorUpdatePeripheal(nullptr, record, old, state);
}

}  // namespace lumvane
