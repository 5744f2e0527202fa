#include "PhoneLinkHarness.h"

#include <algorithm>
#include <cctype>

#include "platform/ble/SimBleCentral.h"
#include "runtime/DispatchQueue.h"

namespace lumvane::phonesim {

namespace {
std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}
}  // namespace

std::shared_ptr<PhoneLinkHarness> PhoneLinkHarness::create(PhoneLinkOptions options) {
    auto self = std::make_shared<PhoneLinkHarness>(Token{}, options);
    ble::sim::SimCentralOptions co;
    co.socketPath = options.socketPath;
    co.mtu = options.mtu;
    self->central_ = std::make_shared<TBNBlecCentralManager>(
        std::weak_ptr<ble::BleCentralDelegate>(self), "com.tobrin.ios.centralManagerQueue",
        [co](std::weak_ptr<ble::BleCentralDelegate> d, std::shared_ptr<DispatchQueue> q,
             const ble::BleCentralOptions&) { return ble::sim::createSimBleCentral(co, d, q); });
    return self;
}

PhoneLinkHarness::PhoneLinkHarness(Token, PhoneLinkOptions options)
    : options_(std::move(options)) {}

PhoneLinkHarness::~PhoneLinkHarness() {
    if (auto c = connection()) c->disconnect();
}

void PhoneLinkHarness::changed() {
    { std::lock_guard<std::mutex> lock(mutex_); }
    cv_.notify_all();
}

bool PhoneLinkHarness::waitUntil(const std::function<bool()>& pred,
                                 std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (std::chrono::steady_clock::now() >= deadline) return pred();
        cv_.wait_for(lock, std::chrono::milliseconds(10));
    }
    return true;
}

std::shared_ptr<BLECMutableThriftFactoryTransport> PhoneLinkHarness::connect(
    const std::string& deviceId, std::chrono::milliseconds limit) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wantedDeviceId_ = upper(deviceId);
        foundBleId_.reset();
    }
    auto central = central_->centralManager();
    if (!waitUntil([&] { return central->state() == ble::CentralState::PoweredOn; }, limit)) {
        return nullptr;
    }
    central->scanForPeripherals({}, true);
    if (!waitUntil(
            [&] {
                std::lock_guard<std::mutex> lock(mutex_);
                return foundBleId_.has_value();
            },
            limit)) {
        central->stopScan();
        return nullptr;
    }
    central->stopScan();
    auto peripheral = std::make_shared<BLECPeripheral>();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        peripheral->setBleId(foundBleId_);
        peripheral_ = peripheral;
        found_ = 0;
    }
    auto connection = BLECMutableThriftFactoryTransport::create(
        "", "", peripheral, nullptr, central_,
        std::weak_ptr<BLECMutableThriftTransportFactoryDelegate>(shared_from_this()),
        options_.clock);
    connection->setDelegate(std::weak_ptr<BLECThriftTransportFactoryDelegate>(shared_from_this()));
    connection->setChunkPause(options_.chunkPause);
    if (!connection->connect()) return nullptr;
    if (!waitUntil([&] { return foundCount() > 0; }, limit)) return nullptr;
    return connection;
}

std::shared_ptr<BLECMutableThriftFactoryTransport> PhoneLinkHarness::connection() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return peripheral_ ? peripheral_->transport() : nullptr;
}

std::shared_ptr<BLECPeripheral> PhoneLinkHarness::peripheral() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return peripheral_;
}

size_t PhoneLinkHarness::foundCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return found_;
}
size_t PhoneLinkHarness::lostCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lost_;
}
size_t PhoneLinkHarness::deviceInfoUpdates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return infoUpdates_;
}
size_t PhoneLinkHarness::dbUpdates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dbUpdates_;
}
std::vector<std::string> PhoneLinkHarness::disconnectedIds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return disconnected_;
}

void PhoneLinkHarness::centralManagerDidUpdateState(ble::BleCentral&) {
    changed();
}

void PhoneLinkHarness::centralManagerDidDiscoverPeripheral(
    ble::BleCentral&, const std::shared_ptr<ble::BlePeripheral>& p,
    const ble::AdvertisementData& ad, int) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (foundBleId_ || !ad.serviceUuids) return;
        for (const auto& u : *ad.serviceUuids) {
            if (upper(u) == wantedDeviceId_) foundBleId_ = p->identifier();
        }
    }
    changed();
}

std::shared_ptr<BLECMutableThriftFactoryTransport> PhoneLinkHarness::forwardTarget(
    const std::shared_ptr<ble::BlePeripheral>& p) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!peripheral_ || !p || peripheral_->bleId() != p->identifier()) return nullptr;
    return peripheral_->transport();
}

void PhoneLinkHarness::centralManagerDidConnectPeripheral(
    ble::BleCentral& c, const std::shared_ptr<ble::BlePeripheral>& p) {
    if (auto t = forwardTarget(p)) t->centralManagerDidConnectPeripheral(c, p);
    changed();
}

void PhoneLinkHarness::centralManagerDidFailToConnectPeripheral(
    ble::BleCentral& c, const std::shared_ptr<ble::BlePeripheral>& p,
    const std::optional<ble::BleError>& e) {
    if (auto t = forwardTarget(p)) t->centralManagerDidFailToConnectPeripheral(c, p, e);
    changed();
}

void PhoneLinkHarness::centralManagerDidDisconnectPeripheral(
    ble::BleCentral& c, const std::shared_ptr<ble::BlePeripheral>& p,
    const std::optional<ble::BleError>& e) {
    if (auto t = forwardTarget(p)) t->centralManagerDidDisconnectPeripheral(c, p, e);
    changed();
}

void PhoneLinkHarness::blecThriftTransportFactoryDidFindDevice(BLECThriftTransportFactory&) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++found_;
    }
    changed();
}

void PhoneLinkHarness::blecThriftTransportFactoryDidLostDevice(BLECThriftTransportFactory&) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++lost_;
    }
    changed();
}

void PhoneLinkHarness::blecThriftTransportFactory(BLECThriftTransportFactory&,
                                                  const std::string& peripheralId) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        disconnected_.push_back(peripheralId);
    }
    changed();
}

void PhoneLinkHarness::blecThriftTransportFactoryDidDeviceInfoUpdated(BLECThriftTransportFactory&) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++infoUpdates_;
    }
    changed();
}

void PhoneLinkHarness::blecThriftTransportFactoryDidDBUpdated(BLECThriftTransportFactory&) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++dbUpdates_;
    }
    changed();
}

std::optional<Bytes> PhoneLinkHarness::encryptKeyForBlecThriftTransportFactory(
    BLECThriftTransportFactory&) {
    return options_.key;
}

std::optional<std::vector<Bytes>> PhoneLinkHarness::decryptKeysForBlecThriftTransportFactory(
    BLECThriftTransportFactory&) {
    if (!options_.key) return std::nullopt;
    return std::vector<Bytes>{*options_.key};
}

}  // namespace lumvane::phonesim
