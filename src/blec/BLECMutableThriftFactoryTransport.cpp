#include "blec/BLECMutableThriftFactoryTransport.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "blec/BLECCharacteristics.h"
#include "blec/BLECLog.h"
#include "blec/TBNBlecCentralManager.h"
#include "runtime/DispatchQueue.h"

namespace lumvane {

namespace {
constexpr const char* kTags = "core|thrift|blec";
void logLine(blec::LogLevel level, const std::string& text) {
    blec::log(level, kTags, text);
}
std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}
std::shared_ptr<ble::BleCharacteristic> characteristic(
    const std::shared_ptr<ble::BleService>& service, const char* code) {
    return service ? service->characteristicByCharacteristicId(blec::characteristicUuid(code))
                   : nullptr;
}
const std::string kBangs(54, '!');
}  // namespace

BLECMutableThriftFactoryTransport::BLECMutableThriftFactoryTransport(
    Token, const std::shared_ptr<BLECPeripheral>& blecPeripheral,
    const std::shared_ptr<TBNBlecCentralManager>& central,
    std::weak_ptr<BLECMutableThriftTransportFactoryDelegate> d, std::shared_ptr<Clock> clock)
    : BLECThriftTransportFactory(blecPeripheral, central, nullptr, std::move(clock)),
      mDelegate_(std::move(d)) {}

std::shared_ptr<BLECMutableThriftFactoryTransport> BLECMutableThriftFactoryTransport::create(
    const std::string& /*privateKey*/, const std::string& /*cert*/,
    const std::shared_ptr<BLECPeripheral>& blecPeripheral,
    const std::shared_ptr<BLECDeviceInfo>& deviceInfo,
    const std::shared_ptr<TBNBlecCentralManager>& blecCentralManager,
    std::weak_ptr<BLECMutableThriftTransportFactoryDelegate> delegate,
    std::shared_ptr<Clock> clock) {
    auto self = std::make_shared<BLECMutableThriftFactoryTransport>(
        Token{}, blecPeripheral, blecCentralManager, std::move(delegate), std::move(clock));
    if (blecPeripheral) blecPeripheral->setTransport(self);
    if (auto peripheral = self->systemPeripheral()) {
        peripheral->setDelegate(std::static_pointer_cast<ble::BlePeripheralDelegate>(
            std::static_pointer_cast<BLECThriftTransportFactory>(self)));
    }
    auto& info = *self->mDeviceInfo_;
    info.updateBLEId(self->bleId_);
    if (deviceInfo) {
        const auto v = deviceInfo->snapshot();
        info.updateDid(v.did);
        info.updateName(v.name);
        info.updateModel(v.model);
        info.updateToken(v.token);
        info.updateOsVersion(v.osVersion);
        info.updateAppVersion(v.appVersion);
    }
    return self;
}

Bytes BLECMutableThriftFactoryTransport::encodeUInt32(uint32_t v) {
    return blec::encodeUInt32(v);
}
uint32_t BLECMutableThriftFactoryTransport::decodeUInt32(const Bytes& v) {
    return blec::decodeUInt32(v);
}
Bytes BLECMutableThriftFactoryTransport::encodeString(const std::string& v) {
    return blec::encodeString(v);
}
std::optional<std::string> BLECMutableThriftFactoryTransport::decodeString(const Bytes& v) {
    return blec::decodeString(v);
}

bool BLECMutableThriftFactoryTransport::handshakeProcessing() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return handshakeProcessing_;
}
std::optional<Clock::TimePoint> BLECMutableThriftFactoryTransport::connectingTime() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return connectingTime_;
}
std::optional<Clock::TimePoint> BLECMutableThriftFactoryTransport::processingTime() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return processingTime_;
}
std::optional<Clock::TimePoint> BLECMutableThriftFactoryTransport::disconnectingTime() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return disconnectingTime_;
}

std::string BLECMutableThriftFactoryTransport::describe() const {
    return "'<" + bleId_.value_or("") + "> " + mDeviceInfo_->name().value_or("") + "'";
}

// ---- connecting ---------------------------------------------------------------------

bool BLECMutableThriftFactoryTransport::connect() {
    auto peripheral = systemPeripheral();
    if (!peripheral) {
        logLine(blec::LogLevel::Debug, "peripheral == nil");
        return false;
    }
    logLine(blec::LogLevel::Debug, "connect to device: " + describe());
    try {
        {
            std::lock_guard<std::recursive_mutex> lock(lock_);
            connectingTime_ = clock_->now();
        }
        auto central = blecCentralManager();
        if (!central) throw std::runtime_error("central manager is gone");
        central->centralManager()->connect(peripheral, true);
    } catch (const std::exception& e) {
        blec::logException(kTags, e);
        disconnectFromCurrentPeripheral();
    }
    return true;
}

void BLECMutableThriftFactoryTransport::disconnect() {
    disconnectFromCurrentPeripheral();
}

void BLECMutableThriftFactoryTransport::reset() {
    mDeviceInfo_->updateAppState(0);
}

void BLECMutableThriftFactoryTransport::update() {
    if (!systemPeripheral()) return;
    const auto now = clock_->now();
    auto over = [&](const std::optional<Clock::TimePoint>& t, double limit) {
        return t && std::chrono::duration<double>(now - *t).count() > limit;
    };
    auto errorFramed = [](const std::string& text) {
        logLine(blec::LogLevel::Debug, kBangs);
        logLine(blec::LogLevel::Error, text);
        logLine(blec::LogLevel::Debug, kBangs);
    };
    bool dropConnecting = false, dropProcessing = false, disconnected = false;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (over(connectingTime_, kConnectTimeout)) {
            connectingTime_.reset();
            dropConnecting = true;
        }
    }
    if (dropConnecting) {
        errorFramed("did timeout to connect to peripheral: " + describe());
        disconnectFromCurrentPeripheral();
    }
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (over(processingTime_, kProcessingTimeout)) {
            processingTime_.reset();
            dropProcessing = true;
        }
    }
    if (dropProcessing) {
        errorFramed("did timeout to processing with peripheral: " + describe());
        disconnectFromCurrentPeripheral();
    }
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (over(disconnectingTime_, kDisconnectTimeout)) {
            disconnectingTime_.reset();
            disconnected = true;
        }
    }
    if (disconnected) {
        errorFramed("did timeout to disconnect from peripheral: " + describe());
        tellLost(false);
    }
}

// Tells mDelegate, on the default global queue, that the connection ended
// (after "lost" when `lost`).
void BLECMutableThriftFactoryTransport::tellLost(bool lost) {
    std::weak_ptr<BLECThriftTransportFactory> weak = weak_from_this();
    auto id = bleId_.value_or("");
    DispatchQueue::global()->async([weak, id, lost] {
        auto self = std::static_pointer_cast<BLECMutableThriftFactoryTransport>(weak.lock());
        if (!self) return;
        auto d = self->mDelegate();
        if (!d) return;
        if (lost) d->blecThriftTransportFactoryDidLostDevice(*self);
        d->blecThriftTransportFactory(*self, id);
    });
}

void BLECMutableThriftFactoryTransport::disconnectFromCurrentPeripheral() {
    auto peripheral = systemPeripheral();
    if (peripheral && peripheral->state() != ble::PeripheralState::Disconnected) {
        try {
            {
                std::lock_guard<std::recursive_mutex> lock(lock_);
                connectingTime_.reset();
                processingTime_.reset();
                disconnectingTime_ = clock_->now();
            }
            failAllRequests();
            auto central = blecCentralManager();
            if (!central) throw std::runtime_error("central manager is gone");
            central->centralManager()->cancelPeripheralConnection(peripheral);
            return;
        } catch (const std::exception& e) {
            blec::logException(kTags, e);
        }
    }
    // Nothing to drop; requests cannot be answered either.
    failAllRequests();
    tellLost(true);
}

void BLECMutableThriftFactoryTransport::centralManagerDidConnectPeripheral(
    ble::BleCentral&, const std::shared_ptr<ble::BlePeripheral>& peripheral) {
    try {
        {
            std::lock_guard<std::recursive_mutex> lock(lock_);
            connectingTime_.reset();
            processingTime_ = clock_->now();
        }
        peripheral->discoverServices({blec::kServiceUuid});
    } catch (const std::exception& e) {
        blec::logException(kTags, e);
        disconnectFromCurrentPeripheral();
    }
}

void BLECMutableThriftFactoryTransport::centralManagerDidFailToConnectPeripheral(
    ble::BleCentral&, const std::shared_ptr<ble::BlePeripheral>& peripheral,
    const std::optional<ble::BleError>& error) {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        connectingTime_.reset();
    }
    std::weak_ptr<BLECThriftTransportFactory> weak = weak_from_this();
    const std::string id = peripheral ? peripheral->identifier() : bleId_.value_or("");
    DispatchQueue::global()->async([weak, id] {
        auto self = std::static_pointer_cast<BLECMutableThriftFactoryTransport>(weak.lock());
        if (!self) return;
        if (auto d = self->mDelegate()) d->blecThriftTransportFactory(*self, id);
    });
    if (error) logLine(blec::LogLevel::Error, "did fail to connect: " + error->message);
}

void BLECMutableThriftFactoryTransport::centralManagerDidDisconnectPeripheral(
    ble::BleCentral&, const std::shared_ptr<ble::BlePeripheral>& peripheral,
    const std::optional<ble::BleError>& error) {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        connectingTime_.reset();
        processingTime_.reset();
        disconnectingTime_.reset();
    }
    // The phone is gone: nothing it was asked will be answered, so the callers
    // learn it now instead of at their time-outs.
    failAllRequests();
    std::weak_ptr<BLECThriftTransportFactory> weak = weak_from_this();
    const std::string id = peripheral ? peripheral->identifier() : bleId_.value_or("");
    DispatchQueue::global()->async([weak, id] {
        auto self = std::static_pointer_cast<BLECMutableThriftFactoryTransport>(weak.lock());
        if (!self) return;
        auto d = self->mDelegate();
        if (!d) return;
        d->blecThriftTransportFactoryDidLostDevice(*self);
        d->blecThriftTransportFactory(*self, id);
    });
    if (error) logLine(blec::LogLevel::Error, "did disconnect: " + error->message);
}

// ---- discovery ----------------------------------------------------------------------

void BLECMutableThriftFactoryTransport::peripheralDidDiscoverServices(
    ble::BlePeripheral& peripheral, const std::optional<ble::BleError>&) {
    try {
        logLine(blec::LogLevel::Verbose, "peripheral: " + describe());
        for (const auto& s : peripheral.services()) {
            logLine(blec::LogLevel::Debug, "discover services: " + s->uuid());
        }
        auto service = peripheral.serviceByServiceId(blec::kServiceUuid);
        if (!service) {
            disconnectFromCurrentPeripheral();
            return;
        }
        peripheral.discoverCharacteristics({}, service);
    } catch (const std::exception& e) {
        blec::logException(kTags, e);
        disconnectFromCurrentPeripheral();
    }
}

void BLECMutableThriftFactoryTransport::peripheralDidModifyServices(
    ble::BlePeripheral& peripheral,
    const std::vector<std::shared_ptr<ble::BleService>>& invalidated) {
    for (const auto& s : peripheral.services()) {
        logLine(blec::LogLevel::Debug, "exist services: " + s->uuid());
    }
    bool ours = false;
    for (const auto& s : invalidated) {
        logLine(blec::LogLevel::Debug, "invalidated services: " + s->uuid());
        ours = ours || s->uuid() == blec::kServiceUuid;
    }
    if (ours) disconnectFromCurrentPeripheral();
}

void BLECMutableThriftFactoryTransport::peripheralDidDiscoverCharacteristicsForService(
    ble::BlePeripheral& peripheral, const std::shared_ptr<ble::BleService>& service,
    const std::optional<ble::BleError>&) {
    try {
        if (!service) return;
        logLine(blec::LogLevel::Debug, "discover characteristics for service: " + service->uuid());
        for (const auto& c : service->characteristics()) {
            logLine(blec::LogLevel::Debug, "characteristic: " + c->uuid());
        }
        auto deviceId = characteristic(service, blec::code::kDeviceId);
        if (!deviceId) {
            logLine(blec::LogLevel::Error,
                    "didDiscoverCharacteristicsForService: deviceIdCharacteristic == nil");
            disconnectFromCurrentPeripheral();
            return;
        }
        peripheral.readValue(deviceId);
    } catch (const std::exception& e) {
        blec::logException(kTags, e);
        disconnectFromCurrentPeripheral();
    }
}

void BLECMutableThriftFactoryTransport::peripheralDidUpdateNotificationStateForCharacteristic(
    ble::BlePeripheral&, const std::shared_ptr<ble::BleCharacteristic>& c,
    const std::optional<ble::BleError>& error) {
    if (error) {
        logLine(blec::LogLevel::Error, "notification state: " + error->message);
        return;
    }
    if (!c) return;
    logLine(blec::LogLevel::Debug, "notification state: " + c->uuid());
    if (c->uuid() != blec::characteristicUuid(blec::code::kCommunicate) || !c->isNotifying()) {
        return;
    }
    bool start = false;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (!handshakeProcessing_) {
            handshakeProcessing_ = true;
            start = true;
        }
    }
    if (start) startHandshake();
}

void BLECMutableThriftFactoryTransport::peripheralDidWriteValueForCharacteristic(
    ble::BlePeripheral&, const std::shared_ptr<ble::BleCharacteristic>& c,
    const std::optional<ble::BleError>& error) {
    if (error) {
        logLine(blec::LogLevel::Error,
                "did write value for " + (c ? c->uuid() : std::string()) + ": " + error->message);
    }
}

// ---- handshake ------------------------------------------------------------------------

void BLECMutableThriftFactoryTransport::startHandshake() {
    nextHandshakeWithRecievedData(std::nullopt);
}

void BLECMutableThriftFactoryTransport::nextHandshakeWithRecievedData(const std::optional<Bytes>&) {
    if (auto d = mDelegate()) d->blecThriftTransportFactoryDidFindDevice(*this);
    try {
        auto peripheral = systemPeripheral();
        if (!peripheral) {
            logLine(blec::LogLevel::Error, "nextHandshakeWithRecievedData: peripheral == nil");
            return;
        }
        auto service = peripheral->serviceByServiceId(blec::kServiceUuid);
        if (!service) {
            logLine(blec::LogLevel::Error, "nextHandshakeWithRecievedData: service == nil");
            return;
        }
        struct Required {
            const char* code;
            const char* name;
        };
        static const Required kRequired[] = {
            {blec::code::kDeviceToken, "deviceTokenCharacteristic"},
            {blec::code::kDeviceModel, "deviceModelCharacteristic"},
            {blec::code::kDeviceName, "deviceNameCharacteristic"},
            {blec::code::kOsVersion, "osVersionCharacteristic"},
            {blec::code::kAppState, "appStateCharacteristic"},
            {blec::code::kBatteryLevel, "batteryLevelCharacteristic"},
            {blec::code::kBatteryState, "batteryStateCharacteristic"},
            {blec::code::kDbUpdated, "dbUpdatedCharacteristic"},
        };
        std::map<std::string, std::shared_ptr<ble::BleCharacteristic>> c;
        for (const auto& r : kRequired) {
            c[r.code] = characteristic(service, r.code);
            if (!c[r.code]) {
                logLine(blec::LogLevel::Error,
                        std::string("nextHandshakeWithRecievedData: ") + r.name + " == nil");
                disconnectFromCurrentPeripheral();
                return;
            }
        }
        auto appVersion = characteristic(service, blec::code::kAppVersion);
        auto needCommunicate = characteristic(service, blec::code::kNeedCommunicate);
        auto a051 = characteristic(service, blec::code::kA051);
        auto authResponse = characteristic(service, blec::code::kAuthResponseData);
        auto communicate2 = characteristic(service, blec::code::kCommunicate2);

        if (authResponse) peripheral->readValue(authResponse);
        if (communicate2) peripheral->setNotifyValue(true, communicate2);
        peripheral->readValue(c[blec::code::kDeviceToken]);
        peripheral->readValue(c[blec::code::kDeviceModel]);
        peripheral->readValue(c[blec::code::kOsVersion]);
        if (appVersion) peripheral->readValue(appVersion);
        peripheral->readValue(c[blec::code::kDeviceName]);
        peripheral->readValue(c[blec::code::kBatteryLevel]);
        peripheral->readValue(c[blec::code::kBatteryState]);
        peripheral->readValue(c[blec::code::kAppState]);
        peripheral->setNotifyValue(true, c[blec::code::kBatteryLevel]);
        peripheral->setNotifyValue(true, c[blec::code::kBatteryState]);
        peripheral->setNotifyValue(true, c[blec::code::kAppState]);
        peripheral->setNotifyValue(true, c[blec::code::kDbUpdated]);
        if (needCommunicate) {
            peripheral->readValue(needCommunicate);
            peripheral->setNotifyValue(true, needCommunicate);
        }
        if (a051) peripheral->setNotifyValue(true, a051);
    } catch (const std::exception& e) {
        blec::logException(kTags, e);
        disconnectFromCurrentPeripheral();
    }
}

// ---- values ----------------------------------------------------------------------------

void BLECMutableThriftFactoryTransport::peripheralDidUpdateValueForCharacteristic(
    ble::BlePeripheral& peripheral, const std::shared_ptr<ble::BleCharacteristic>& c,
    const std::optional<Bytes>& value, const std::optional<ble::BleError>&) {
    if (!c) return;
    logLine(blec::LogLevel::Verbose, "value of " + c->uuid() + " from " + describe());
    try {
        handleValue(peripheral, c, value.value_or(Bytes{}));
    } catch (const std::exception& e) {
        blec::logException(kTags, e);
        disconnectFromCurrentPeripheral();
    }
}

void BLECMutableThriftFactoryTransport::tellDeviceInfoUpdated() {
    if (auto d = delegate()) d->blecThriftTransportFactoryDidDeviceInfoUpdated(*this);
}

void BLECMutableThriftFactoryTransport::handleValue(
    ble::BlePeripheral& peripheral, const std::shared_ptr<ble::BleCharacteristic>& c,
    const Bytes& value) {
    const auto code = blec::characteristicCode(c->uuid()).value_or("");
    auto& info = *mDeviceInfo_;
    if (code == blec::code::kDeviceId) {
        auto did = blec::decodeString(value);
        info.updateDid(did ? std::optional<std::string>(upper(*did)) : std::nullopt);
        {
            std::lock_guard<std::recursive_mutex> lock(lock_);
            processingTime_.reset();
        }
        auto service = c->service();
        auto communicate = characteristic(service, blec::code::kCommunicate);
        if (!communicate) {
            logLine(blec::LogLevel::Error,
                    "didUpdateValueForCharacteristic: communicateCharacteristic == nil");
            disconnectFromCurrentPeripheral();
            return;
        }
        peripheral.setNotifyValue(true, communicate);
        if (auto delivered = characteristic(service, blec::code::kCommunicateDeliveredId)) {
            peripheral.setNotifyValue(true, delivered);
        }
    } else if (code == blec::code::kDeviceName) {
        info.updateName(blec::decodeString(value));
        tellDeviceInfoUpdated();
    } else if (code == blec::code::kDeviceToken) {
        info.updateToken(blec::decodeString(value));
        tellDeviceInfoUpdated();
    } else if (code == blec::code::kDeviceModel) {
        info.updateModel(blec::decodeString(value));
        tellDeviceInfoUpdated();
    } else if (code == blec::code::kOsVersion) {
        info.updateOsVersion(blec::decodeString(value));
        tellDeviceInfoUpdated();
    } else if (code == blec::code::kAppVersion) {
        info.updateAppVersion(blec::decodeString(value));
        tellDeviceInfoUpdated();
    } else if (code == blec::code::kAuthResponseData) {
        info.updateAuthResponseData(value);
        tellDeviceInfoUpdated();
    } else if (code == blec::code::kBatteryLevel) {
        const uint32_t v = blec::decodeUInt32(value);
        logLine(blec::LogLevel::Info, "batteryLevel = " + std::to_string(v));
        info.updateBatteryLevel(v);
        tellDeviceInfoUpdated();
    } else if (code == blec::code::kBatteryState) {
        const uint32_t v = blec::decodeUInt32(value);
        logLine(blec::LogLevel::Info, "batteryState = " + std::to_string(v));
        info.updateBatteryState(v);
        tellDeviceInfoUpdated();
    } else if (code == blec::code::kAppState) {
        if (info.updateAppStateIfChanged(blec::decodeUInt32(value))) tellDeviceInfoUpdated();
    } else if (code == blec::code::kDbUpdated) {
        if (auto d = delegate()) d->blecThriftTransportFactoryDidDBUpdated(*this);
    } else if (code == blec::code::kNeedCommunicate) {
        const uint64_t type = blec::decodeUInt32(value);
        if (auto d = delegate()) d->blecThriftTransportFactory(*this, type);
    } else if (code == blec::code::kCommunicate) {
        handleReplyChunk(value, false);
    } else if (code == blec::code::kCommunicate2) {
        handleReplyChunk(value, true);
    } else if (code == blec::code::kCommunicateDeliveredId) {
        handleDeliveredValue(value);
    } else {
        logLine(blec::LogLevel::Warning, "update else value: " + c->uuid());
    }
}

}  // namespace lumvane
