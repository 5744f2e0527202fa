#include "blec/TBNBlecPeriphialValidator.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "blec/BLECCharacteristics.h"
#include "blec/BLECLog.h"
#include "blec/TBNBlecCentralManager.h"
#include "runtime/DispatchQueue.h"

namespace lumvane {

namespace {

constexpr const char* kTags = "core|blec|validator";
constexpr const char* kUnusedTags = "core|blec|explorer|unused";
const std::string kBangs(54, '!');

void logLine(blec::LogLevel level, const std::string& text, const char* tags = kTags) {
    blec::log(level, tags, text);
}

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

std::string errorText(const std::optional<ble::BleError>& error) {
    return error ? error->message + " (" + std::to_string(error->code) + ")" : "(null)";
}

bool hasPrefix(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Characters of a UTF-8 text (code points), for the model's length rule.
size_t characterCount(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++n;
    }
    return n;
}

std::string stateLogText(uint64_t state, const std::string& bleId) {
    static const char* const kTexts[] = {
        "unknown peripheral",     "not available peripheral", "availabled peripheral",
        "unsupported peripheral", "supported peripheral",     "found peripheral",
    };
    if (state > 5) return {};
    return std::string(kTexts[state]) + ": '<" + bleId + ">'";
}

}  // namespace

double blecNowSeconds(const Clock& clock) {
    return std::chrono::duration<double>(clock.now().time_since_epoch()).count();
}

std::shared_ptr<TBNBlecPeriphialValidator> TBNBlecPeriphialValidator::create(
    std::weak_ptr<TBNBlecCentralManager> blecCentralManager,
    std::weak_ptr<TBNBlecPeriphialValidatorDelegate> delegate, Options options) {
    return std::make_shared<TBNBlecPeriphialValidator>(Token{}, std::move(blecCentralManager),
                                                       std::move(delegate), std::move(options));
}

TBNBlecPeriphialValidator::TBNBlecPeriphialValidator(
    Token, std::weak_ptr<TBNBlecCentralManager> blecCentralManager,
    std::weak_ptr<TBNBlecPeriphialValidatorDelegate> delegate, Options options)
    : blecCentralManager_(std::move(blecCentralManager)),
      delegate_(std::move(delegate)),
      store_(options.peripheralStore ? options.peripheralStore
                                     : &TBNBlecPeripheralStore::sharedStore()),
      clock_(options.clock ? options.clock : Clock::steady()),
      notifyQueue_(options.notifyQueue ? options.notifyQueue
                                       : DispatchQueue::create("com.tobrin.ios.validator.notify")) {
}

double TBNBlecPeriphialValidator::now() const {
    return blecNowSeconds(*clock_);
}

std::shared_ptr<TBNBlecPeripheral> TBNBlecPeriphialValidator::blecPeripheral() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return blecPeripheral_;
}
double TBNBlecPeriphialValidator::connectingTime() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return connectingTime_;
}
double TBNBlecPeriphialValidator::processingTime() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return processingTime_;
}
double TBNBlecPeriphialValidator::disconnectingTime() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return disconnectingTime_;
}

std::shared_ptr<ble::BlePeripheral> TBNBlecPeriphialValidator::platformPeripheral() const {
    auto central = blecCentralManager_.lock();
    if (!central || !blecPeripheral_) return nullptr;
    return central->periphealByBleId(blecPeripheral_->bleId());
}

bool TBNBlecPeriphialValidator::isCurrent(const ble::BlePeripheral& peripheral) const {
    return blecPeripheral_ && blecPeripheral_->bleId() == peripheralId(peripheral);
}

// Notifications leave the lock: the owner may call back in from them.
void TBNBlecPeriphialValidator::deliver(
    std::function<void(TBNBlecPeriphialValidatorDelegate&)> call) {
    std::weak_ptr<TBNBlecPeriphialValidatorDelegate> weak = delegate_;
    notifyQueue_->async([weak, call = std::move(call)] {
        if (auto d = weak.lock()) call(*d);
    });
}

// ---- a run --------------------------------------------------------------------------------

void TBNBlecPeriphialValidator::validate(const std::shared_ptr<TBNBlecPeripheral>& record) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (blecPeripheral_ || !record) return;
    blecPeripheral_ = record;
    failureNextConnectTime_ = 0;
    auto peripheral = platformPeripheral();
    if (!peripheral) {
        logLine(blec::LogLevel::Error, "peripheral == nil");
        didFailProcessPeripheral();
        notifyDidDisconectFromPeripheral();
        return;
    }
    logLine(blec::LogLevel::Info, "validate peripheral: '<" + peripheralId(*peripheral) + "> " +
                                      peripheral->name().value_or("") + "'");
    peripheral->setDelegate(
        std::static_pointer_cast<ble::BlePeripheralDelegate>(shared_from_this()));
    connectingTime_ = now();
    if (auto central = blecCentralManager_.lock()) {
        central->centralManager()->connect(peripheral, true);
    }
}

void TBNBlecPeriphialValidator::centralManagerDidConnectPeripheral(
    ble::BleCentral&, const std::shared_ptr<ble::BlePeripheral>& peripheral) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!peripheral || !isCurrent(*peripheral)) return;
    if (blecPeripheral_->state() == TBNBlecPeripheralStateUnknown) {
        setBlecPeripheralState(TBNBlecPeripheralStateAvailable);
    }
    connectingTime_ = 0;
    processingTime_ = now();
    peripheral->discoverServices({});
}

void TBNBlecPeriphialValidator::peripheralDidDiscoverServices(
    ble::BlePeripheral& peripheral, const std::optional<ble::BleError>& error) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!isCurrent(peripheral)) return;
    std::shared_ptr<ble::BleService> app, info;
    if (error) {
        logLine(blec::LogLevel::Error, "error = " + errorText(error));
    } else {
        app = peripheral.serviceByServiceId(kAppService);
        info = peripheral.serviceByServiceId(kDeviceInformationService);
    }
    if (app) {
        logLine(blec::LogLevel::Debug, "found our service");
        logLine(blec::LogLevel::Debug, "supported peripheral");
        peripheral.discoverCharacteristics({}, app);
        setBlecPeripheralState(TBNBlecPeripheralStateSupported);
        return;
    }
    const uint64_t state = blecPeripheral_->state();
    if (state == TBNBlecPeripheralStateAvailable) {
        if (info) {
            logLine(blec::LogLevel::Debug, "check support device");
            peripheral.discoverCharacteristics({}, info);
        } else {
            didFailProcessPeripheral();
            disconnectFromPeripheral();
        }
    } else if (state == TBNBlecPeripheralStateFound) {
        logLine(blec::LogLevel::Debug, "lost our device");
        setBlecPeripheralState(TBNBlecPeripheralStateSupported);
        disconnectFromPeripheral();
    } else {
        logLine(blec::LogLevel::Info,
                "did not find Lumvane, peripheral: '<" + blecPeripheral_->bleId() + ">'");
        disconnectFromPeripheral();
    }
}

void TBNBlecPeriphialValidator::readFirst(ble::BlePeripheral& peripheral,
                                          const std::shared_ptr<ble::BleService>& service,
                                          std::initializer_list<const char*> characteristics) {
    for (const char* uuid : characteristics) {
        if (auto c = service ? service->characteristicByCharacteristicId(uuid) : nullptr) {
            peripheral.readValue(c);
            return;
        }
    }
    disconnectFromPeripheral();
}

void TBNBlecPeriphialValidator::peripheralDidDiscoverCharacteristicsForService(
    ble::BlePeripheral& peripheral, const std::shared_ptr<ble::BleService>& service,
    const std::optional<ble::BleError>& error) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!isCurrent(peripheral) || !service) return;
    if (service->uuid() == kDeviceInformationService) {
        auto model =
            error ? nullptr : service->characteristicByCharacteristicId(kModelNumberCharacteristic);
        if (error) logLine(blec::LogLevel::Error, "error = " + errorText(error));
        if (model) {
            peripheral.readValue(model);
        } else {
            didFailProcessPeripheral();
            disconnectFromPeripheral();
        }
        return;
    }
    if (error) {
        logLine(blec::LogLevel::Error, "error = " + errorText(error));
        disconnectFromPeripheral();
        return;
    }
    if (blecPeripheral_->state() == TBNBlecPeripheralStateFound) {
        readFirst(peripheral, service, {kAuthTokenCharacteristic, kAuthResponseDataCharacteristic});
    } else {
        readFirst(peripheral, service, {kDeviceIdCharacteristic});
    }
}

void TBNBlecPeriphialValidator::peripheralDidUpdateValueForCharacteristic(
    ble::BlePeripheral& peripheral, const std::shared_ptr<ble::BleCharacteristic>& c,
    const std::optional<Bytes>& value, const std::optional<ble::BleError>& error) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!isCurrent(peripheral) || !c) return;
    const std::string& uuid = c->uuid();
    auto record = blecPeripheral_;
    if (uuid == kModelNumberCharacteristic) {
        if (error) {
            logLine(blec::LogLevel::Error, "error = " + errorText(error));
            didFailProcessPeripheral();
            disconnectFromPeripheral();
            return;
        }
        auto text = blec::decodeString(value.value_or(Bytes{}));
        const size_t length = text ? characterCount(*text) : 0;
        logLine(blec::LogLevel::Debug,
                "device model = " + text.value_or("(null)") + " (" + std::to_string(length) + ")");
        if (length < 3) {
            didFailProcessPeripheral();
            disconnectFromPeripheral();
            return;
        }
        record->setDeviceModel(*text);
        if (hasPrefix(*text, "iPhone")) {
            logLine(blec::LogLevel::Debug, "supported peripheral");
            if (record->state() == TBNBlecPeripheralStateAvailable) {
                setBlecPeripheralState(TBNBlecPeripheralStateSupported);
            }
            if (auto app = peripheral.serviceByServiceId(kAppService)) {
                peripheral.discoverCharacteristics({}, app);
            } else {
                didFailProcessPeripheral();
                disconnectFromPeripheral();
            }
        } else {
            logLine(blec::LogLevel::Debug, "unsupported peripheral");
            setBlecPeripheralState(TBNBlecPeripheralStateUnsupported);
            didFailProcessPeripheral();
            disconnectFromPeripheral();
        }
        return;
    }
    if (uuid == kAuthTokenCharacteristic) {
        if (error) {
            logLine(blec::LogLevel::Error, "error = " + errorText(error));
        } else {
            record->setAuthToken(blec::decodeString(value.value_or(Bytes{})));
            logLine(blec::LogLevel::Debug, "authToken = " + record->authToken().value_or("(null)"));
            deliver([self = shared_from_this(), record](TBNBlecPeriphialValidatorDelegate& d) {
                d.blecPeriphialValidatorUpdatePeriphealInfo(self.get(), record);
            });
        }
        disconnectFromPeripheral();
        return;
    }
    if (uuid == kAuthResponseDataCharacteristic) {
        if (error) {
            logLine(blec::LogLevel::Error, "error = " + errorText(error));
        } else {
            record->setAuthResponseData(value.value_or(Bytes{}));
            logLine(blec::LogLevel::Debug,
                    "authResponseData.length = " + std::to_string(value ? value->size() : 0));
            deliver([self = shared_from_this(), record](TBNBlecPeriphialValidatorDelegate& d) {
                d.blecPeriphialValidatorUpdatePeriphealInfo(self.get(), record);
            });
        }
        disconnectFromPeripheral();
        return;
    }
    if (uuid == kDeviceIdCharacteristic) {
        if (error) {
            logLine(blec::LogLevel::Error, "error = " + errorText(error));
            disconnectFromPeripheral();
            return;
        }
        auto text = blec::decodeString(value.value_or(Bytes{}));
        if (!text || text->empty()) {
            // Nothing to record a phone under.
            logLine(blec::LogLevel::Error, "deviceId == nil");
            disconnectFromPeripheral();
            return;
        }
        logLine(blec::LogLevel::Debug, "found peripheral");
        record->setDeviceId(upper(*text));
        logLine(blec::LogLevel::Debug, "deviceId = " + *record->deviceId());
        setBlecPeripheralState(TBNBlecPeripheralStateFound);
        store_->setBleId(record->bleId(), *record->deviceId());
        readFirst(peripheral, c->service(),
                  {kAuthTokenCharacteristic, kAuthResponseDataCharacteristic});
    }
}

void TBNBlecPeriphialValidator::disconnectFromPeripheral() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!blecPeripheral_) return;
    logLine(blec::LogLevel::Debug,
            "self.currentPeripheral = '<" + blecPeripheral_->bleId() + ">' state = " +
                TBNBlecPeripheral::strBlecPeripheralStateByState(blecPeripheral_->state()));
    connectingTime_ = 0;
    processingTime_ = 0;
    disconnectingTime_ = now();
    if (auto peripheral = platformPeripheral()) {
        if (auto central = blecCentralManager_.lock()) {
            central->centralManager()->cancelPeripheralConnection(peripheral);
        }
    }
}

void TBNBlecPeriphialValidator::centralManagerDidDisconnectPeripheral(
    ble::BleCentral&, const std::shared_ptr<ble::BlePeripheral>& peripheral,
    const std::optional<ble::BleError>& error) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!peripheral || !isCurrent(*peripheral)) return;
    if (error) logLine(blec::LogLevel::Error, "error = " + errorText(error));
    connectingTime_ = 0;
    disconnectingTime_ = 0;
    // A disconnection ends discovery too: a stale processing time would fire at
    // the next run's first tick.
    processingTime_ = 0;
    // The disconnection ends the run; it must not shorten a back-off the failure
    // step of this run has just set (30 s or 60 s after repeated failures).
    const double next = now() + (error ? kRetryAfterDisconnectError : kRetryAfterDisconnect);
    blecPeripheral_->setNextConnectTime(std::max(next, failureNextConnectTime_));
    notifyDidDisconectFromPeripheral();
}

void TBNBlecPeriphialValidator::centralManagerDidFailToConnectPeripheral(
    ble::BleCentral&, const std::shared_ptr<ble::BlePeripheral>& peripheral,
    const std::optional<ble::BleError>& error) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!peripheral || !isCurrent(*peripheral)) return;
    logLine(blec::LogLevel::Error, "error = " + errorText(error));
    connectingTime_ = 0;
    didFailProcessPeripheral();
    notifyDidDisconectFromPeripheral();
}

void TBNBlecPeriphialValidator::notifyDidDisconectFromPeripheral() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!blecPeripheral_) return;
    if (auto peripheral = platformPeripheral()) {
        if (peripheral->delegate().get() == this) peripheral->setDelegate({});
    }
    auto record = std::move(blecPeripheral_);
    blecPeripheral_.reset();
    connectingTime_ = 0;
    processingTime_ = 0;
    disconnectingTime_ = 0;
    deliver([self = shared_from_this(), record](TBNBlecPeriphialValidatorDelegate& d) {
        d.blecPeriphialValidatorDidDisconnectFrom(self.get(), record);
    });
}

void TBNBlecPeriphialValidator::didFailProcessPeripheral() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!blecPeripheral_) return;
    auto& record = *blecPeripheral_;
    const uint64_t count = record.failConnectCount() + 1;
    record.setFailConnectCount(count);
    const uint64_t state = record.state();
    const uint64_t limit = state == TBNBlecPeripheralStateFound ? 1 : 4;
    if (count < limit) {
        record.setNextConnectTime(now() + kRetryAfterFailure);
    } else {
        record.setFailConnectCount(0);
        if (state == TBNBlecPeripheralStateUnknown) {
            logLine(blec::LogLevel::Debug, "not available peripheral");
            logLine(blec::LogLevel::Debug, "try reconnect later to peripheral");
            record.setNextConnectTime(now() + kRetryAfterLimitUnknown);
        } else {
            logLine(blec::LogLevel::Debug, "try reconnect later to peripheral");
            record.setNextConnectTime(now() + kRetryAfterLimit);
            if (state == TBNBlecPeripheralStateFound) {
                logLine(blec::LogLevel::Debug, "lost our device");
                setBlecPeripheralState(TBNBlecPeripheralStateSupported);
            }
        }
    }
    failureNextConnectTime_ = record.nextConnectTime();
    connectingTime_ = 0;
    processingTime_ = 0;
}

void TBNBlecPeriphialValidator::setBlecPeripheralState(uint64_t state) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!blecPeripheral_) return;
    auto record = blecPeripheral_;
    const uint64_t old = record->state();
    if (old == state) {
        logLine(blec::LogLevel::Debug, "blecPeripheral.state == state");
        return;
    }
    record->setState(state);
    if (state <= 5) logLine(blec::LogLevel::Info, stateLogText(state, record->bleId()));
    deliver([self = shared_from_this(), record, old, state](TBNBlecPeriphialValidatorDelegate& d) {
        d.blecPeriphialValidatorUpdatePeripheal(self.get(), record, old, state);
    });
}

// ---- the watchdog -------------------------------------------------------------------------

void TBNBlecPeriphialValidator::update() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!blecPeripheral_) return;
    auto peripheral = platformPeripheral();
    if (!peripheral) {
        notifyDidDisconectFromPeripheral();
        return;
    }
    auto framed = [](const std::string& text) {
        logLine(blec::LogLevel::Debug, kBangs);
        logLine(blec::LogLevel::Error, text);
        logLine(blec::LogLevel::Debug, kBangs);
    };
    const std::string id = "'<" + blecPeripheral_->bleId() + ">'";
    const auto disconnectOrFinish = [&] {
        if (peripheral->state() != ble::PeripheralState::Disconnected) {
            disconnectFromPeripheral();
        } else {
            notifyDidDisconectFromPeripheral();
        }
    };
    const double t = now();
    const double connectLimit = blecPeripheral_->state() == TBNBlecPeripheralStateUnknown
                                    ? kConnectTimeoutUnknown
                                    : kConnectTimeout;
    if (connectingTime_ > 0 && t - connectingTime_ > connectLimit) {
        framed("did timeout to connect to peripheral: " + id);
        didFailProcessPeripheral();
        disconnectOrFinish();
        if (!blecPeripheral_) return;
    }
    if (processingTime_ > 0 && t - processingTime_ > kProcessingTimeout) {
        framed("did timeout to processing with peripheral: " + id);
        processingTime_ = 0;
        disconnectOrFinish();
        if (!blecPeripheral_) return;
    }
    if (disconnectingTime_ > 0 && t - disconnectingTime_ > kDisconnectTimeout) {
        framed("did timeout to disconnect from peripheral: " + id);
        disconnectingTime_ = 0;
        notifyDidDisconectFromPeripheral();
    }
}

void TBNBlecPeriphialValidator::invalidate() {
    std::shared_ptr<ble::BlePeripheral> peripheral;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (!blecPeripheral_) return;
        peripheral = platformPeripheral();
    }
    if (peripheral && peripheral->state() != ble::PeripheralState::Disconnected) {
        disconnectFromPeripheral();
    } else {
        notifyDidDisconectFromPeripheral();
    }
}

// ---- events that only log -------------------------------------------------------------------

void TBNBlecPeriphialValidator::peripheralDidModifyServices(
    ble::BlePeripheral& peripheral, const std::vector<std::shared_ptr<ble::BleService>>& services) {
    for (const auto& s : services) {
        logLine(blec::LogLevel::Debug,
                "peripheral: '<" + peripheralId(peripheral) + ">' service: " + s->uuid(),
                kUnusedTags);
    }
}

void TBNBlecPeriphialValidator::peripheralDidWriteValueForCharacteristic(
    ble::BlePeripheral& peripheral, const std::shared_ptr<ble::BleCharacteristic>& c,
    const std::optional<ble::BleError>& error) {
    logLine(blec::LogLevel::Debug,
            "peripheral: '<" + peripheralId(peripheral) + ">' characteristic: " +
                (c ? c->uuid() : std::string("(null)")) + " error: " + errorText(error),
            kUnusedTags);
}

void TBNBlecPeriphialValidator::peripheralDidUpdateNotificationStateForCharacteristic(
    ble::BlePeripheral& peripheral, const std::shared_ptr<ble::BleCharacteristic>& c,
    const std::optional<ble::BleError>& error) {
    logLine(blec::LogLevel::Debug,
            "peripheral: '<" + peripheralId(peripheral) + ">' characteristic: " +
                (c ? c->uuid() : std::string("(null)")) + " error: " + errorText(error),
            kUnusedTags);
}

void TBNBlecPeriphialValidator::peripheralDidUpdateName(ble::BlePeripheral& peripheral) {
    logLine(blec::LogLevel::Debug, "peripheral: '<" + peripheralId(peripheral) + ">'", kUnusedTags);
}

void TBNBlecPeriphialValidator::peripheralDidUpdateRSSI(ble::BlePeripheral& peripheral, int,
                                                        const std::optional<ble::BleError>&) {
    logLine(blec::LogLevel::Debug, "peripheral: '<" + peripheralId(peripheral) + ">'");
}

}  // namespace lumvane
