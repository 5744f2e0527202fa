#include "blec/TBNBlecExplorer.h"

#include <algorithm>
#include <exception>

#include "blec/BLECLog.h"
#include "runtime/DispatchQueue.h"

namespace lumvane {

namespace {

constexpr const char* kTags = "core|blec|explorer";
const std::string kDashes(54, '-');
const std::string kPluses(54, '+');
const std::string kBangs(54, '!');
const std::string kEquals(54, '=');

void logLine(blec::LogLevel level, const std::string& text, const char* tags = kTags) {
    blec::log(level, tags, text);
}

std::string phone(const ble::BlePeripheral& p) {
    return "'<" + peripheralId(p) + "> " + p.name().value_or("") + "'";
}

std::string describe(const ble::AdvertisementData& ad) {
    std::string out = "{";
    if (ad.localName) out += " name = " + *ad.localName + ";";
    if (ad.serviceUuids) {
        out += " services = (";
        for (const auto& s : *ad.serviceUuids) out += " " + s;
        out += " );";
    }
    if (ad.manufacturerData) {
        out += " manufacturerData = " + std::to_string(ad.manufacturerData->size()) + " bytes;";
    }
    if (ad.isConnectable)
        out += std::string(" connectable = ") + (*ad.isConnectable ? "1" : "0") + ";";
    if (ad.txPowerLevel) out += " txPower = " + std::to_string(*ad.txPowerLevel) + ";";
    return out + " }";
}

}  // namespace

std::shared_ptr<TBNBlecExplorer> TBNBlecExplorer::create(
    std::weak_ptr<TBNBlecExplorerDelegate> delegate, Options options) {
    auto self = std::make_shared<TBNBlecExplorer>(Token{}, std::move(delegate), std::move(options));
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

TBNBlecExplorer::TBNBlecExplorer(Token, std::weak_ptr<TBNBlecExplorerDelegate> delegate,
                                 Options options)
    : delegate_(std::move(delegate)),
      options_(std::move(options)),
      store_(options_.peripheralStore ? options_.peripheralStore
                                      : &TBNBlecPeripheralStore::sharedStore()),
      clock_(options_.clock ? options_.clock : Clock::steady()),
      delegateQueue_(options_.delegateQueue
                         ? options_.delegateQueue
                         : DispatchQueue::create("com.tobrin.ios.explorer.notify")) {}

TBNBlecExplorer::~TBNBlecExplorer() {
    if (central_ && central_->centralManager() && central_->centralManager()->isScanning()) {
        central_->centralManager()->stopScan();
    }
}

bool TBNBlecExplorer::starting() const {
    std::lock_guard<std::recursive_mutex> lock(explorerLock_);
    return starting_;
}
bool TBNBlecExplorer::explorering() const {
    std::lock_guard<std::recursive_mutex> lock(wrapperLock_);
    return explorering_;
}
std::vector<std::string> TBNBlecExplorer::connectQueue() const {
    std::lock_guard<std::recursive_mutex> lock(queueLock_);
    return connectQueue_;
}

bool TBNBlecExplorer::poweredOn() const {
    return central_->centralManager()->state() == ble::CentralState::PoweredOn;
}

void TBNBlecExplorer::deliver(
    std::function<void(TBNBlecExplorerDelegate&, TBNBlecExplorer&)> call) {
    std::weak_ptr<TBNBlecExplorer> weak = weak_from_this();
    std::weak_ptr<TBNBlecExplorerDelegate> weakDelegate = delegate_;
    delegateQueue_->async([weak, weakDelegate, call = std::move(call)] {
        auto self = weak.lock();
        auto d = weakDelegate.lock();
        if (self && d) call(*d, *self);
    });
}

// ---- start and stop ---------------------------------------------------------------------------

void TBNBlecExplorer::start() {
    std::lock_guard<std::recursive_mutex> lock(explorerLock_);
    if (starting_) return;
    starting_ = true;
    if (poweredOn()) startExplorer();
}

void TBNBlecExplorer::stop() {
    std::lock_guard<std::recursive_mutex> lock(explorerLock_);
    if (!starting_) return;
    starting_ = false;
    if (poweredOn()) stopExplorer();
    std::lock_guard<std::recursive_mutex> queue(queueLock_);
    for (const auto& record : store_->allBlePeripherals()) {
        if (record->state() == TBNBlecPeripheralStateFound) {
            setBlecPeripheralState(TBNBlecPeripheralStateSupported, record);
            record->setNextConnectTime(blecNowSeconds(*clock_));
        }
    }
    connectQueue_.clear();
}

void TBNBlecExplorer::startExplorer() {
    {
        std::lock_guard<std::recursive_mutex> lock(wrapperLock_);
        try {
            if (explorering_) return;
            central_->centralManager()->scanForPeripherals({}, true);
            explorering_ = true;
            const uint64_t generation = ++tickGeneration_;
            std::weak_ptr<TBNBlecExplorer> weak = weak_from_this();
            dispatch_repeat_after_interval(
                central_->centralManagerQueue(),
                [weak, generation](bool* stop) {
                    auto self = weak.lock();
                    if (!self) {
                        *stop = true;
                        return;
                    }
                    {
                        std::lock_guard<std::recursive_mutex> queue(self->queueLock_);
                        if (self->validator_->blecPeripheral()) {
                            self->validator_->update();
                        } else {
                            self->validateNextAvailablePeripheral();
                        }
                    }
                    std::lock_guard<std::recursive_mutex> wrapper(self->wrapperLock_);
                    // A stop ends this loop; a later start runs a loop of its own.
                    if (!self->explorering_ || self->tickGeneration_ != generation) *stop = true;
                },
                kTickInterval);
        } catch (const std::exception& e) {
            logLine(blec::LogLevel::Error,
                    std::string("exception = '") + e.what() + "'\n*** First throw call stack:\n");
            return;
        }
    }
    deliver([](TBNBlecExplorerDelegate& d, TBNBlecExplorer& e) {
        d.blecExplorerOnStateChange(e, true);
    });
}

void TBNBlecExplorer::stopExplorer() {
    std::lock_guard<std::recursive_mutex> lock(wrapperLock_);
    if (!explorering_) return;
    explorering_ = false;
    central_->centralManager()->stopScan();
    deliver([](TBNBlecExplorerDelegate& d, TBNBlecExplorer& e) {
        d.blecExplorerOnStateChange(e, false);
    });
}

void TBNBlecExplorer::centralManagerDidUpdateState(ble::BleCentral& central) {
    const int state = static_cast<int>(central.state());
    if (state >= 0 && state <= 5) {
        logLine(blec::LogLevel::Debug,
                std::string("central.state = ") + ble::centralStateName(central.state()));
    }
    std::lock_guard<std::recursive_mutex> lock(explorerLock_);
    if (starting_) {
        if (central.state() == ble::CentralState::PoweredOn) {
            startExplorer();
        } else {
            stopExplorer();
        }
        return;
    }
    deliver([](TBNBlecExplorerDelegate& d, TBNBlecExplorer& e) {
        d.blecExplorerOnStateChange(e, false);
    });
}

// ---- the queue --------------------------------------------------------------------------------

bool TBNBlecExplorer::queuedLocked(const std::string& bleId) const {
    return std::find(connectQueue_.begin(), connectQueue_.end(), bleId) != connectQueue_.end();
}

void TBNBlecExplorer::queueOrValidateLocked(const std::shared_ptr<TBNBlecPeripheral>& record,
                                            const std::shared_ptr<ble::BlePeripheral>& peripheral,
                                            const std::string& queuedText) {
    if (peripheral->state() != ble::PeripheralState::Disconnected || validator_->blecPeripheral()) {
        logLine(blec::LogLevel::Debug, queuedText + ": " + phone(*peripheral));
        connectQueue_.push_back(record->bleId());
    } else {
        validator_->validate(record);
    }
}

void TBNBlecExplorer::centralManagerDidDiscoverPeripheral(
    ble::BleCentral&, const std::shared_ptr<ble::BlePeripheral>& peripheral,
    const ble::AdvertisementData& ad, int rssi) {
    if (!peripheral) return;
    // Results still on their way when the scan stopped start nothing.
    if (!explorering()) return;
    // Phones running the app advertise connectable, without manufacturer data.
    if ((ad.isConnectable && !*ad.isConnectable) || ad.manufacturerData) return;
    if (!(ad.entryCount() == 1 && ad.isConnectable)) {
        logLine(blec::LogLevel::Verbose, kDashes);
        logLine(blec::LogLevel::Verbose, "advertisementData = " + describe(ad) +
                                             ", peripheral = " + phone(*peripheral) +
                                             ", RSSI = " + std::to_string(rssi));
        logLine(blec::LogLevel::Verbose, kDashes);
    }
    const std::string bleId = peripheralId(*peripheral);
    std::lock_guard<std::recursive_mutex> lock(queueLock_);
    if (auto record = store_->blePeripheralByBleId(bleId)) {
        const uint64_t state = record->state();
        logLine(blec::LogLevel::Verbose,
                "discover exist peripheral: " + phone(*peripheral) +
                    " state = " + TBNBlecPeripheral::strBlecPeripheralStateByState(state));
        if (state != TBNBlecPeripheralStateUnknown && state != TBNBlecPeripheralStateAvailable &&
            state != TBNBlecPeripheralStateSupported) {
            return;
        }
        auto current = validator_->blecPeripheral();
        if (queuedLocked(bleId) || (current && current->bleId() == bleId)) return;
        logLine(blec::LogLevel::Debug, kPluses);
        queueOrValidateLocked(record, peripheral, "readd device to connect");
        logLine(blec::LogLevel::Debug, kPluses);
        return;
    }
    logLine(blec::LogLevel::Debug, kPluses);
    logLine(blec::LogLevel::Debug, "discover new peripheral: " + phone(*peripheral));
    auto record = std::make_shared<TBNBlecPeripheral>(bleId);
    store_->setBlePeripheral(record, bleId);
    queueOrValidateLocked(record, peripheral, "add device to connect");
    logLine(blec::LogLevel::Debug, kPluses);
}

void TBNBlecExplorer::validateNextAvailablePeripheral() {
    std::lock_guard<std::recursive_mutex> lock(queueLock_);
    // A run already going on keeps the queue as it is.
    if (validator_->blecPeripheral()) return;
    const size_t n = connectQueue_.size();
    for (size_t i = 0; i < n && !connectQueue_.empty(); ++i) {
        const std::string bleId = connectQueue_.front();
        connectQueue_.erase(connectQueue_.begin());
        auto record = store_->blePeripheralByBleId(bleId);
        if (!record) continue;
        auto peripheral = central_->periphealByBleId(bleId);
        if (!peripheral) {
            logLine(blec::LogLevel::Verbose, "peripheral == nil");
            store_->removeBlePeripheralByBleId(bleId);
            continue;
        }
        logLine(blec::LogLevel::Verbose, "blecPeripheral = " + phone(*peripheral));
        if (blecNowSeconds(*clock_) > record->nextConnectTime()) {
            validator_->validate(record);
            return;
        }
        logLine(blec::LogLevel::Verbose, "readd device to connect");
        connectQueue_.push_back(bleId);
    }
}

// ---- connection events ------------------------------------------------------------------------

void TBNBlecExplorer::centralManagerDidConnectPeripheral(
    ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral) {
    if (!peripheral) return;
    const std::string bleId = peripheralId(*peripheral);
    std::lock_guard<std::recursive_mutex> lock(queueLock_);
    logLine(blec::LogLevel::Debug, kPluses);
    logLine(blec::LogLevel::Debug, "did connect to device: " + phone(*peripheral));
    logLine(blec::LogLevel::Debug, kPluses);
    if (auto current = validator_->blecPeripheral(); current && current->bleId() == bleId) {
        validator_->centralManagerDidConnectPeripheral(central, peripheral);
        return;
    }
    auto record = store_->blePeripheralByBleId(bleId);
    if (!record) return;
    const uint64_t state = record->state();
    if (state == TBNBlecPeripheralStateUnknown || state == TBNBlecPeripheralStateNotAvailable) {
        logLine(blec::LogLevel::Debug, "available peripheral");
        setBlecPeripheralState(TBNBlecPeripheralStateAvailable, record);
    }
    record->setFailConnectCount(0);
    record->setNextConnectTime(blecNowSeconds(*clock_));
    central.cancelPeripheralConnection(peripheral);
    connectQueue_.erase(std::remove(connectQueue_.begin(), connectQueue_.end(), bleId),
                        connectQueue_.end());
    connectQueue_.insert(connectQueue_.begin(), bleId);
}

void TBNBlecExplorer::centralManagerDidFailToConnectPeripheral(
    ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral,
    const std::optional<ble::BleError>& error) {
    if (!peripheral) return;
    logLine(blec::LogLevel::Debug, kBangs);
    logLine(blec::LogLevel::Error, "did fail to connect to device: " + phone(*peripheral) +
                                       " with " + (error ? error->message : std::string("(null)")));
    logLine(blec::LogLevel::Debug, kBangs);
    std::lock_guard<std::recursive_mutex> lock(queueLock_);
    if (auto current = validator_->blecPeripheral();
        current && current->bleId() == peripheralId(*peripheral)) {
        validator_->centralManagerDidFailToConnectPeripheral(central, peripheral, error);
    }
}

void TBNBlecExplorer::centralManagerDidDisconnectPeripheral(
    ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral,
    const std::optional<ble::BleError>& error) {
    if (!peripheral) return;
    logLine(blec::LogLevel::Debug, kEquals);
    if (error) {
        logLine(blec::LogLevel::Error,
                "did disconnect from device: " + phone(*peripheral) + " with " + error->message);
    } else {
        logLine(blec::LogLevel::Debug, "did disconnect from device: " + phone(*peripheral));
    }
    logLine(blec::LogLevel::Debug, kEquals);
    std::lock_guard<std::recursive_mutex> lock(queueLock_);
    if (auto current = validator_->blecPeripheral();
        current && current->bleId() == peripheralId(*peripheral)) {
        validator_->centralManagerDidDisconnectPeripheral(central, peripheral, error);
    }
}

// ---- validator reports ------------------------------------------------------------------------

void TBNBlecExplorer::blecPeriphialValidatorDidDisconnectFrom(
    TBNBlecPeriphialValidator*, const std::shared_ptr<TBNBlecPeripheral>& record) {
    if (!record) return;
    std::lock_guard<std::recursive_mutex> lock(queueLock_);
    logLine(blec::LogLevel::Debug, "blecPeripheral = '<" + record->bleId() + ">'");
    // A run that ends after exploring stopped leaves the emptied queue empty.
    if (!explorering()) return;
    const uint64_t state = record->state();
    if (state != TBNBlecPeripheralStateNotAvailable && state != TBNBlecPeripheralStateUnsupported) {
        logLine(blec::LogLevel::Debug, "readd device to connect");
        if (!queuedLocked(record->bleId())) connectQueue_.push_back(record->bleId());
    }
    validateNextAvailablePeripheral();
}

void TBNBlecExplorer::blecPeriphialValidatorUpdatePeriphealInfo(
    TBNBlecPeriphialValidator*, const std::shared_ptr<TBNBlecPeripheral>& record) {
    if (!record) return;
    auto deviceId = record->deviceId();
    deliver([deviceId](TBNBlecExplorerDelegate& d, TBNBlecExplorer& e) {
        d.blecExplorerOnDidUpdateDevice(e, deviceId);
    });
}

void TBNBlecExplorer::blecPeriphialValidatorUpdatePeripheal(
    TBNBlecPeriphialValidator*, const std::shared_ptr<TBNBlecPeripheral>& record,
    uint64_t fromState, uint64_t toState) {
    if (!record) return;
    logLine(blec::LogLevel::Debug,
            "chnage '" + TBNBlecPeripheral::strBlecPeripheralStateByState(fromState) +
                "' state to '" + TBNBlecPeripheral::strBlecPeripheralStateByState(toState) +
                "': '<" + record->bleId() + ">'");
    auto deviceId = record->deviceId();
    if (fromState == TBNBlecPeripheralStateFound) {
        deliver([deviceId](TBNBlecExplorerDelegate& d, TBNBlecExplorer& e) {
            d.blecExplorerOnDidLostDevice(e, deviceId);
        });
    } else if (toState == TBNBlecPeripheralStateFound) {
        deliver([deviceId](TBNBlecExplorerDelegate& d, TBNBlecExplorer& e) {
            d.blecExplorerOnDidFindDevice(e, deviceId);
        });
    }
}

void TBNBlecExplorer::setBlecPeripheralState(uint64_t state,
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
