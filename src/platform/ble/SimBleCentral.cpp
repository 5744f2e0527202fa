#include "platform/ble/SimBleCentral.h"

#include <map>
#include <mutex>

#include "platform/ble/SimBleWire.h"
#include "platform/ble/SimSocket.h"
#include "runtime/DispatchQueue.h"

namespace lumvane::ble::sim {

namespace {

class SimCentral;

class SimPeripheral : public BlePeripheral {
  public:
    SimPeripheral(std::string id, std::weak_ptr<SimCentral> central)
        : BlePeripheral(std::move(id)), central_(std::move(central)) {}

    void discoverServices(const std::vector<std::string>& serviceUuids) override;
    void discoverCharacteristics(const std::vector<std::string>& characteristicUuids,
                                 const std::shared_ptr<BleService>& service) override;
    void readValue(const std::shared_ptr<BleCharacteristic>& characteristic) override;
    bool writeValue(const Bytes& value, const std::shared_ptr<BleCharacteristic>& characteristic,
                    WriteType type) override;
    void setNotifyValue(bool enabled,
                        const std::shared_ptr<BleCharacteristic>& characteristic) override;
    size_t maximumWriteValueLength(WriteType) const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return mtu_ - 3u;
    }

    void setMtu(uint16_t mtu) {
        std::lock_guard<std::mutex> lock(mutex_);
        mtu_ = mtu;
    }
    void setFilters(std::vector<std::string> services) {
        std::lock_guard<std::mutex> lock(mutex_);
        serviceFilter_ = std::move(services);
    }
    std::vector<std::string> serviceFilter() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return serviceFilter_;
    }
    void setCharacteristicFilter(const std::string& service, std::vector<std::string> list) {
        std::lock_guard<std::mutex> lock(mutex_);
        characteristicFilters_[service] = std::move(list);
    }
    std::vector<std::string> characteristicFilter(const std::string& service) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = characteristicFilters_.find(service);
        return it == characteristicFilters_.end() ? std::vector<std::string>{} : it->second;
    }

  private:
    std::weak_ptr<SimCentral> central_;
    mutable std::mutex mutex_;
    uint16_t mtu_ = kDefaultMtu;
    std::vector<std::string> serviceFilter_;
    std::map<std::string, std::vector<std::string>> characteristicFilters_;
};

std::optional<BleError> errorFor(uint8_t status) {
    if (status == Status::Ok) return std::nullopt;
    const char* text = "error";
    switch (status) {
        case Status::ReadNotPermitted:
            text = "read not permitted";
            break;
        case Status::WriteNotPermitted:
            text = "write not permitted";
            break;
        case Status::InvalidAttributeLength:
            text = "invalid attribute value length";
            break;
        case Status::NotConnected:
            text = "peripheral not connected";
            break;
        case Status::UnknownAttribute:
            text = "unknown attribute";
            break;
        case Status::NotSupported:
            text = "not supported";
            break;
        default:
            break;
    }
    return BleError{status, text};
}

bool inFilter(const std::vector<std::string>& filter, const std::string& uuid) {
    if (filter.empty()) return true;
    for (const auto& f : filter) {
        if (canonicalUuid(f).value_or(f) == uuid) return true;
    }
    return false;
}

class SimCentral : public BleCentral {
  public:
    SimCentral(SimCentralOptions options, std::weak_ptr<BleCentralDelegate> delegate,
               std::shared_ptr<DispatchQueue> queue)
        : BleCentral(std::move(delegate), std::move(queue)), options_(std::move(options)) {}

    ~SimCentral() override {
        std::unique_ptr<FrameConnection> conn;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            conn = std::move(connection_);
        }
        conn.reset();
    }

    std::shared_ptr<SimCentral> self() {
        return std::static_pointer_cast<SimCentral>(shared_from_this());
    }

    void attach() {
        int fd = connectUnixSocket(options_.socketPath);
        if (fd < 0) {
            setState(CentralState::PoweredOff);
            scheduleReattach();
            return;
        }
        std::weak_ptr<SimCentral> weak = self();
        auto conn = std::make_unique<FrameConnection>(
            fd,
            [weak](const Message& m) {
                if (auto s = weak.lock()) s->onMessage(m);
            },
            [weak](const std::string& reason) {
                if (auto s = weak.lock()) s->onClosed(reason);
            });
        FrameConnection* raw = conn.get();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            connection_ = std::move(conn);
        }
        Message hello;
        hello.op = Op::Hello;
        hello.role = Role::Central;
        hello.identifier = options_.identifier;
        hello.mtu = options_.mtu;
        raw->send(hello);
        raw->start();
    }

    // --- BleCentral ---
    CentralState state() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return state_;
    }

    void scanForPeripherals(const std::vector<std::string>& serviceUuids,
                            bool allowDuplicates) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (state_ != CentralState::PoweredOn) return;
            scanning_ = true;
        }
        Message m;
        m.op = Op::ScanStart;
        m.flag = allowDuplicates;
        m.uuids = serviceUuids;
        send(m);
    }

    void stopScan() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            scanning_ = false;
        }
        Message m;
        m.op = Op::ScanStop;
        send(m);
    }

    bool isScanning() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return scanning_;
    }

    void connect(const std::shared_ptr<BlePeripheral>& peripheral, bool) override {
        if (!peripheral) return;
        if (peripheral->state() == PeripheralState::Disconnected) {
            peripheral->setState(PeripheralState::Connecting);
        }
        Message m;
        m.op = Op::Connect;
        m.peer = peripheral->identifier();
        if (!send(m)) {
            peripheral->setState(PeripheralState::Disconnected);
            auto p = peripheral;
            postCentral([p](BleCentral& c, BleCentralDelegate& d) {
                d.centralManagerDidFailToConnectPeripheral(c, p,
                                                           BleError{-1, "radio not available"});
            });
        }
    }

    void cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>& peripheral) override {
        if (!peripheral) return;
        if (peripheral->state() == PeripheralState::Disconnected) return;
        peripheral->setState(PeripheralState::Disconnecting);
        Message m;
        m.op = Op::Cancel;
        m.peer = peripheral->identifier();
        send(m);
    }

    std::vector<std::shared_ptr<BlePeripheral>> retrievePeripherals(
        const std::vector<std::string>& identifiers) override {
        std::vector<std::shared_ptr<BlePeripheral>> out;
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& id : identifiers) {
            auto it = peripherals_.find(id);
            if (it != peripherals_.end()) out.push_back(it->second);
        }
        return out;
    }

    // --- used by SimPeripheral ---
    bool send(const Message& m) {
        std::lock_guard<std::mutex> lock(mutex_);
        return connection_ && connection_->send(m);
    }

    template <class F>
    void postPeripheral(const std::shared_ptr<SimPeripheral>& p, F f) {
        post([p, f] {
            if (auto d = p->delegate()) f(*p, *d);
        });
    }

  private:
    template <class F>
    void postCentral(F f) {
        std::weak_ptr<BleCentral> weak = weak_from_this();
        post([weak, f] {
            auto c = weak.lock();
            if (!c) return;
            if (auto d = c->delegate()) f(*c, *d);
        });
    }

    void setState(CentralState s) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (state_ == s) return;
            state_ = s;
            if (s != CentralState::PoweredOn) scanning_ = false;
        }
        postCentral(
            [](BleCentral& c, BleCentralDelegate& d) { d.centralManagerDidUpdateState(c); });
    }

    void scheduleReattach() {
        std::weak_ptr<SimCentral> weak = self();
        queue()->after(options_.reconnectInterval, [weak] {
            if (auto s = weak.lock()) s->attach();
        });
    }

    std::shared_ptr<SimPeripheral> peripheralFor(const std::string& id, bool create) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = peripherals_.find(id);
        if (it != peripherals_.end()) return it->second;
        if (!create) return nullptr;
        auto p = std::make_shared<SimPeripheral>(id, self());
        peripherals_[id] = p;
        return p;
    }

    std::shared_ptr<BleCharacteristic> characteristicFor(const std::shared_ptr<SimPeripheral>& p,
                                                         const Message& m) {
        auto service = p->serviceByServiceId(canonicalUuid(m.service).value_or(m.service));
        if (!service) return nullptr;
        return service->characteristicByCharacteristicId(
            canonicalUuid(m.characteristic).value_or(m.characteristic));
    }

    void disconnected(const std::shared_ptr<SimPeripheral>& p, const std::string& error) {
        const PeripheralState before = p->state();
        p->setState(PeripheralState::Disconnected);
        // Discovered attributes do not outlive the connection.
        p->setServices({});
        std::optional<BleError> err;
        if (!error.empty()) err = BleError{1, error};
        if (before == PeripheralState::Connecting) {
            postCentral([p, err](BleCentral& c, BleCentralDelegate& d) {
                d.centralManagerDidFailToConnectPeripheral(c, p, err);
            });
        } else {
            postCentral([p, err](BleCentral& c, BleCentralDelegate& d) {
                d.centralManagerDidDisconnectPeripheral(c, p, err);
            });
        }
    }

    void onMessage(const Message& m) {
        switch (m.op) {
            case Op::State: {
                auto s = static_cast<CentralState>(m.state);
                if (m.state > static_cast<uint8_t>(CentralState::PoweredOn))
                    s = CentralState::Unknown;
                setState(s);
                break;
            }
            case Op::AdvReport: {
                auto p = peripheralFor(m.peer, true);
                std::optional<std::string> name = m.adv.localName ? m.adv.localName : m.name;
                if (name && name != p->name()) p->setName(name);
                AdvertisementData adv = m.adv;
                int rssi = m.rssi;
                postCentral([p, adv, rssi](BleCentral& c, BleCentralDelegate& d) {
                    d.centralManagerDidDiscoverPeripheral(c, p, adv, rssi);
                });
                break;
            }
            case Op::Connected: {
                auto p = peripheralFor(m.peer, true);
                p->setMtu(std::clamp<uint16_t>(m.mtu, kMinMtu, kMaxMtu));
                p->setState(PeripheralState::Connected);
                postCentral([p](BleCentral& c, BleCentralDelegate& d) {
                    d.centralManagerDidConnectPeripheral(c, p);
                });
                break;
            }
            case Op::ConnectFailed: {
                if (auto p = peripheralFor(m.peer, false)) {
                    p->setState(PeripheralState::Disconnected);
                    BleError err{1, m.error};
                    postCentral([p, err](BleCentral& c, BleCentralDelegate& d) {
                        d.centralManagerDidFailToConnectPeripheral(c, p, err);
                    });
                }
                break;
            }
            case Op::Disconnected: {
                if (auto p = peripheralFor(m.peer, false)) disconnected(p, m.error);
                break;
            }
            case Op::Services: {
                auto p = peripheralFor(m.peer, false);
                if (!p) break;
                auto err = errorFor(m.status);
                if (!err) {
                    auto filter = p->serviceFilter();
                    std::vector<std::shared_ptr<BleService>> list;
                    for (const auto& uuid : m.uuids) {
                        if (!inFilter(filter, uuid)) continue;
                        // Keep service objects already known, as the platform does.
                        auto existing = p->serviceByServiceId(uuid);
                        list.push_back(existing ? existing : std::make_shared<BleService>(uuid, p));
                    }
                    p->setServices(std::move(list));
                }
                postPeripheral(p, [err](BlePeripheral& pp, BlePeripheralDelegate& d) {
                    d.peripheralDidDiscoverServices(pp, err);
                });
                break;
            }
            case Op::Characteristics: {
                auto p = peripheralFor(m.peer, false);
                if (!p) break;
                auto service = p->serviceByServiceId(canonicalUuid(m.service).value_or(m.service));
                if (!service) break;
                auto err = errorFor(m.status);
                if (!err && !m.gatt.empty()) {
                    auto filter = p->characteristicFilter(service->uuid());
                    std::vector<std::shared_ptr<BleCharacteristic>> list;
                    for (const auto& info : m.gatt.front().characteristics) {
                        if (!inFilter(filter, info.uuid)) continue;
                        auto existing = service->characteristicByCharacteristicId(info.uuid);
                        list.push_back(existing && existing->properties() == info.properties
                                           ? existing
                                           : std::make_shared<BleCharacteristic>(
                                                 info.uuid, info.properties, service));
                    }
                    service->setCharacteristics(std::move(list));
                }
                postPeripheral(p, [service, err](BlePeripheral& pp, BlePeripheralDelegate& d) {
                    d.peripheralDidDiscoverCharacteristicsForService(pp, service, err);
                });
                break;
            }
            case Op::Value: {
                auto p = peripheralFor(m.peer, false);
                if (!p) break;
                auto ch = characteristicFor(p, m);
                if (!ch) break;
                auto err = errorFor(m.status);
                std::optional<Bytes> value;
                if (!err) {
                    value = m.value;
                    ch->setValue(value);
                }
                postPeripheral(p, [ch, value, err](BlePeripheral& pp, BlePeripheralDelegate& d) {
                    d.peripheralDidUpdateValueForCharacteristic(pp, ch, value, err);
                });
                break;
            }
            case Op::WriteResult: {
                auto p = peripheralFor(m.peer, false);
                if (!p) break;
                auto ch = characteristicFor(p, m);
                if (!ch) break;
                auto err = errorFor(m.status);
                postPeripheral(p, [ch, err](BlePeripheral& pp, BlePeripheralDelegate& d) {
                    d.peripheralDidWriteValueForCharacteristic(pp, ch, err);
                });
                break;
            }
            case Op::NotifyState: {
                auto p = peripheralFor(m.peer, false);
                if (!p) break;
                auto ch = characteristicFor(p, m);
                if (!ch) break;
                auto err = errorFor(m.status);
                if (!err) ch->setNotifying(m.flag);
                postPeripheral(p, [ch, err](BlePeripheral& pp, BlePeripheralDelegate& d) {
                    d.peripheralDidUpdateNotificationStateForCharacteristic(pp, ch, err);
                });
                break;
            }
            case Op::ServicesChanged: {
                auto p = peripheralFor(m.peer, false);
                if (!p) break;
                std::vector<std::shared_ptr<BleService>> invalidated;
                std::vector<std::shared_ptr<BleService>> remaining;
                for (const auto& s : p->services()) {
                    bool gone =
                        std::find(m.uuids.begin(), m.uuids.end(), s->uuid()) != m.uuids.end();
                    (gone ? invalidated : remaining).push_back(s);
                }
                if (invalidated.empty()) break;
                p->setServices(std::move(remaining));
                postPeripheral(p, [invalidated](BlePeripheral& pp, BlePeripheralDelegate& d) {
                    d.peripheralDidModifyServices(pp, invalidated);
                });
                break;
            }
            default:
                break;  // ops meant for peripherals are not ours
        }
    }

    void onClosed(const std::string&) {
        std::vector<std::shared_ptr<SimPeripheral>> live;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto& [id, p] : peripherals_) {
                if (p->state() != PeripheralState::Disconnected) live.push_back(p);
            }
        }
        for (auto& p : live) disconnected(p, "radio lost");
        setState(CentralState::PoweredOff);
        // The reader thread owns this moment; the connection is replaced later.
        scheduleReattach();
    }

    const SimCentralOptions options_;
    mutable std::mutex mutex_;
    std::unique_ptr<FrameConnection> connection_;
    CentralState state_ = CentralState::Unknown;
    bool scanning_ = false;
    std::map<std::string, std::shared_ptr<SimPeripheral>> peripherals_;
};

void SimPeripheral::discoverServices(const std::vector<std::string>& serviceUuids) {
    auto c = central_.lock();
    if (!c) return;
    setFilters(serviceUuids);
    Message m;
    m.op = Op::DiscoverServices;
    m.peer = identifier();
    if (!c->send(m)) {
        auto self = std::static_pointer_cast<SimPeripheral>(shared_from_this());
        c->postPeripheral(self, [](BlePeripheral& pp, BlePeripheralDelegate& d) {
            d.peripheralDidDiscoverServices(pp, errorFor(Status::NotConnected));
        });
    }
}

void SimPeripheral::discoverCharacteristics(const std::vector<std::string>& characteristicUuids,
                                            const std::shared_ptr<BleService>& service) {
    auto c = central_.lock();
    if (!c || !service) return;
    setCharacteristicFilter(service->uuid(), characteristicUuids);
    Message m;
    m.op = Op::DiscoverCharacteristics;
    m.peer = identifier();
    m.service = service->uuid();
    c->send(m);
}

void SimPeripheral::readValue(const std::shared_ptr<BleCharacteristic>& characteristic) {
    auto c = central_.lock();
    auto service = characteristic ? characteristic->service() : nullptr;
    if (!c || !service) return;
    Message m;
    m.op = Op::Read;
    m.peer = identifier();
    m.service = service->uuid();
    m.characteristic = characteristic->uuid();
    c->send(m);
}

bool SimPeripheral::writeValue(const Bytes& value,
                               const std::shared_ptr<BleCharacteristic>& characteristic,
                               WriteType type) {
    auto c = central_.lock();
    auto service = characteristic ? characteristic->service() : nullptr;
    if (!c || !service || state() != PeripheralState::Connected) return false;
    const bool withResponse = type == WriteType::WithResponse;
    const uint32_t need =
        withResponse ? CharacteristicProperty::Write : CharacteristicProperty::WriteWithoutResponse;
    if (!characteristic->hasProperty(need)) return false;
    if (value.size() > maximumWriteValueLength(type)) return false;
    Message m;
    m.op = Op::Write;
    m.peer = identifier();
    m.service = service->uuid();
    m.characteristic = characteristic->uuid();
    m.flag = withResponse;
    m.value = value;
    return c->send(m);
}

void SimPeripheral::setNotifyValue(bool enabled,
                                   const std::shared_ptr<BleCharacteristic>& characteristic) {
    auto c = central_.lock();
    auto service = characteristic ? characteristic->service() : nullptr;
    if (!c || !service) return;
    Message m;
    m.op = Op::Subscribe;
    m.peer = identifier();
    m.service = service->uuid();
    m.characteristic = characteristic->uuid();
    m.flag = enabled;
    c->send(m);
}

}  // namespace

std::shared_ptr<BleCentral> createSimBleCentral(const SimCentralOptions& options,
                                                std::weak_ptr<BleCentralDelegate> delegate,
                                                std::shared_ptr<DispatchQueue> queue) {
    auto central = std::make_shared<SimCentral>(options, std::move(delegate), std::move(queue));
    central->attach();
    return central;
}

}  // namespace lumvane::ble::sim

namespace lumvane::ble {

std::optional<BleCentralFactory> bleCentralFactoryForSpec(const std::string& spec) {
    const std::string prefix = "sim:";
    if (spec.rfind(prefix, 0) != 0 || spec.size() == prefix.size()) return std::nullopt;
    const std::string path = spec.substr(prefix.size());
    return BleCentralFactory([path](std::weak_ptr<BleCentralDelegate> delegate,
                                    std::shared_ptr<DispatchQueue> queue,
                                    const BleCentralOptions&) {
        sim::SimCentralOptions options;
        options.socketPath = path;
        return sim::createSimBleCentral(options, std::move(delegate), std::move(queue));
    });
}

}  // namespace lumvane::ble
