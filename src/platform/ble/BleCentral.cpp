#include "platform/ble/BleCentral.h"

#include <cctype>
#include <deque>

#include "runtime/DispatchQueue.h"

namespace lumvane::ble {

const char* centralStateName(CentralState state) {
    switch (state) {
        case CentralState::Resetting:
            return "CBCentralManagerStateResetting";
        case CentralState::Unsupported:
            return "CBCentralManagerStateUnsupported";
        case CentralState::Unauthorized:
            return "CBCentralManagerStateUnauthorized";
        case CentralState::PoweredOff:
            return "CBCentralManagerStatePoweredOff";
        case CentralState::PoweredOn:
            return "CBCentralManagerStatePoweredOn";
        default:
            return "CBCentralManagerStateUnknown";
    }
}

std::optional<std::string> canonicalUuid(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text)
        out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(ch))));
    auto hexRun = [&](size_t from, size_t n) {
        if (from + n > out.size()) return false;
        for (size_t i = from; i < from + n; ++i) {
            if (!std::isxdigit(static_cast<unsigned char>(out[i]))) return false;
        }
        return true;
    };
    if ((out.size() == 4 || out.size() == 8) && hexRun(0, out.size())) return out;
    if (out.size() == 36 && hexRun(0, 8) && out[8] == '-' && hexRun(9, 4) && out[13] == '-' &&
        hexRun(14, 4) && out[18] == '-' && hexRun(19, 4) && out[23] == '-' && hexRun(24, 12)) {
        return out;
    }
    return std::nullopt;
}

// --- characteristic, service, peripheral ---------------------------------

BleCharacteristic::BleCharacteristic(std::string uuid, uint32_t properties,
                                     std::weak_ptr<BleService> service)
    : uuid_(std::move(uuid)), properties_(properties), service_(std::move(service)) {}

std::optional<Bytes> BleCharacteristic::value() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value_;
}

bool BleCharacteristic::isNotifying() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return notifying_;
}

void BleCharacteristic::setValue(std::optional<Bytes> value) {
    std::lock_guard<std::mutex> lock(mutex_);
    value_ = std::move(value);
}

void BleCharacteristic::setNotifying(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    notifying_ = on;
}

BleService::BleService(std::string uuid, std::weak_ptr<BlePeripheral> peripheral)
    : uuid_(std::move(uuid)), peripheral_(std::move(peripheral)) {}

std::vector<std::shared_ptr<BleCharacteristic>> BleService::characteristics() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return characteristics_;
}

std::shared_ptr<BleCharacteristic> BleService::characteristicByCharacteristicId(
    const std::string& uuid) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& c : characteristics_) {
        if (c->uuid() == uuid) return c;
    }
    return nullptr;
}

void BleService::setCharacteristics(std::vector<std::shared_ptr<BleCharacteristic>> list) {
    std::lock_guard<std::mutex> lock(mutex_);
    characteristics_ = std::move(list);
}

BlePeripheral::BlePeripheral(std::string identifier) : identifier_(std::move(identifier)) {}

BlePeripheral::~BlePeripheral() = default;

std::optional<std::string> BlePeripheral::name() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return name_;
}

PeripheralState BlePeripheral::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

std::vector<std::shared_ptr<BleService>> BlePeripheral::services() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return services_;
}

std::shared_ptr<BleService> BlePeripheral::serviceByServiceId(const std::string& uuid) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& s : services_) {
        if (s->uuid() == uuid) return s;
    }
    return nullptr;
}

void BlePeripheral::setDelegate(std::weak_ptr<BlePeripheralDelegate> delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<BlePeripheralDelegate> BlePeripheral::delegate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delegate_.lock();
}

void BlePeripheral::setName(std::optional<std::string> name) {
    std::lock_guard<std::mutex> lock(mutex_);
    name_ = std::move(name);
}

void BlePeripheral::setState(PeripheralState state) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
}

void BlePeripheral::setServices(std::vector<std::shared_ptr<BleService>> services) {
    std::lock_guard<std::mutex> lock(mutex_);
    services_ = std::move(services);
}

// --- central ---------------------------------------------------------------

struct BleCentral::EventLine {
    std::mutex mutex;
    std::deque<std::function<void()>> pending;
    bool draining = false;
};

BleCentral::BleCentral(std::weak_ptr<BleCentralDelegate> delegate,
                       std::shared_ptr<DispatchQueue> queue)
    : delegate_(std::move(delegate)),
      queue_(queue ? std::move(queue) : DispatchQueue::global()),
      events_(std::make_shared<EventLine>()) {}

BleCentral::~BleCentral() = default;

void BleCentral::post(std::function<void()> event) {
    bool start = false;
    {
        std::lock_guard<std::mutex> lock(events_->mutex);
        events_->pending.push_back(std::move(event));
        if (!events_->draining) {
            events_->draining = true;
            start = true;
        }
    }
    if (!start) return;
    // The line outlives the central while blocks are in flight.
    auto line = events_;
    queue_->async([line] {
        for (;;) {
            std::function<void()> next;
            {
                std::lock_guard<std::mutex> lock(line->mutex);
                if (line->pending.empty()) {
                    line->draining = false;
                    return;
                }
                next = std::move(line->pending.front());
                line->pending.pop_front();
            }
            next();
        }
    });
}

// --- default factory ---------------------------------------------------------

namespace {

// What a program without a Bluetooth backend gets: a central that says so.
class UnsupportedCentral : public BleCentral {
  public:
    UnsupportedCentral(std::weak_ptr<BleCentralDelegate> delegate,
                       std::shared_ptr<DispatchQueue> queue)
        : BleCentral(std::move(delegate), std::move(queue)) {}

    void announce() {
        std::weak_ptr<BleCentral> self = weak_from_this();
        post([self] {
            auto central = self.lock();
            if (!central) return;
            if (auto delegate = central->delegate())
                delegate->centralManagerDidUpdateState(*central);
        });
    }

    CentralState state() const override { return CentralState::Unsupported; }
    void scanForPeripherals(const std::vector<std::string>&, bool) override {}
    void stopScan() override {}
    bool isScanning() const override { return false; }
    void connect(const std::shared_ptr<BlePeripheral>&, bool) override {}
    void cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>&) override {}
    std::vector<std::shared_ptr<BlePeripheral>> retrievePeripherals(
        const std::vector<std::string>&) override {
        return {};
    }
};

std::mutex& factoryMutex() {
    static std::mutex m;
    return m;
}

BleCentralFactory& factorySlot() {
    static BleCentralFactory f;
    return f;
}

}  // namespace

void setDefaultBleCentralFactory(BleCentralFactory factory) {
    std::lock_guard<std::mutex> lock(factoryMutex());
    factorySlot() = std::move(factory);
}

std::shared_ptr<BleCentral> createBleCentral(std::weak_ptr<BleCentralDelegate> delegate,
                                             std::shared_ptr<DispatchQueue> queue,
                                             const BleCentralOptions& options) {
    BleCentralFactory factory;
    {
        std::lock_guard<std::mutex> lock(factoryMutex());
        factory = factorySlot();
    }
    if (factory) return factory(std::move(delegate), std::move(queue), options);
    auto central = std::make_shared<UnsupportedCentral>(std::move(delegate), std::move(queue));
    central->announce();
    return central;
}

}  // namespace lumvane::ble
