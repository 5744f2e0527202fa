#include "platform/ble/SimBlePeripheral.h"

#include <tuple>

#include "platform/ble/SimSocket.h"

namespace lumvane::ble::sim {

std::shared_ptr<SimBlePeripheralDevice> SimBlePeripheralDevice::create(
    SimPeripheralOptions options, std::weak_ptr<SimPeripheralDelegate> delegate) {
    return std::shared_ptr<SimBlePeripheralDevice>(
        new SimBlePeripheralDevice(std::move(options), std::move(delegate)));
}

SimBlePeripheralDevice::SimBlePeripheralDevice(SimPeripheralOptions options,
                                               std::weak_ptr<SimPeripheralDelegate> delegate)
    : options_(std::move(options)), delegate_(std::move(delegate)) {}

SimBlePeripheralDevice::~SimBlePeripheralDevice() {
    std::unique_ptr<FrameConnection> conn;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        conn = std::move(connection_);
    }
}

bool SimBlePeripheralDevice::open() {
    if (isOpen()) return true;
    if (options_.identifier.empty()) return false;
    int fd = connectUnixSocket(options_.socketPath);
    if (fd < 0) return false;
    std::weak_ptr<SimBlePeripheralDevice> weak = weak_from_this();
    auto conn = std::make_unique<FrameConnection>(
        fd,
        [weak](const Message& m) {
            if (auto self = weak.lock()) self->onMessage(m);
        },
        [weak](const std::string& reason) {
            if (auto self = weak.lock()) self->onClosed(reason);
        });
    Message hello;
    hello.op = Op::Hello;
    hello.role = Role::Peripheral;
    hello.identifier = options_.identifier;
    hello.name = options_.name;
    hello.mtu = options_.mtu;
    if (!conn->send(hello)) return false;
    std::vector<SimService> services;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connection_ = std::move(conn);
        connection_->start();
        services = services_;
    }
    if (!services.empty()) setServices(std::move(services));
    return true;
}

void SimBlePeripheralDevice::close() {
    std::unique_ptr<FrameConnection> conn;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        conn = std::move(connection_);
        centrals_.clear();
        subscriptions_.clear();
    }
    // Destroying the connection closes the socket: the hub sees the device go.
}

bool SimBlePeripheralDevice::isOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connection_ && connection_->isOpen();
}

bool SimBlePeripheralDevice::send(const Message& m) {
    std::lock_guard<std::mutex> lock(mutex_);
    return connection_ && connection_->send(m);
}

std::optional<std::pair<std::string, std::string>> SimBlePeripheralDevice::key(
    const std::string& service, const std::string& characteristic) const {
    auto s = canonicalUuid(service);
    auto c = canonicalUuid(characteristic);
    if (!s || !c) return std::nullopt;
    return std::make_pair(*s, *c);
}

bool SimBlePeripheralDevice::setServices(std::vector<SimService> services) {
    Message m;
    m.op = Op::PublishGatt;
    for (auto& s : services) {
        auto su = canonicalUuid(s.uuid);
        if (!su) return false;
        s.uuid = *su;
        GattServiceInfo info{*su, {}};
        for (auto& c : s.characteristics) {
            auto cu = canonicalUuid(c.uuid);
            if (!cu) return false;
            if (c.value && c.value->size() > kMaxAttributeValueLength) return false;
            c.uuid = *cu;
            info.characteristics.push_back({*cu, c.properties});
        }
        m.gatt.push_back(std::move(info));
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        services_ = std::move(services);
    }
    return send(m) || !isOpen();
}

bool SimBlePeripheralDevice::setValue(const std::string& service, const std::string& characteristic,
                                      Bytes value) {
    auto k = key(service, characteristic);
    if (!k || value.size() > kMaxAttributeValueLength) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& s : services_) {
        if (s.uuid != k->first) continue;
        for (auto& c : s.characteristics) {
            if (c.uuid == k->second) {
                c.value = std::move(value);
                return true;
            }
        }
    }
    return false;
}

bool SimBlePeripheralDevice::startAdvertising(const AdvertisementData& advertisement) {
    Message m;
    m.op = Op::Advertise;
    m.adv = advertisement;
    return send(m);
}

bool SimBlePeripheralDevice::stopAdvertising() {
    Message m;
    m.op = Op::StopAdvertise;
    return send(m);
}

size_t SimBlePeripheralDevice::notify(const std::string& service, const std::string& characteristic,
                                      const Bytes& value, const std::string& central) {
    auto k = key(service, characteristic);
    if (!k) return 0;
    std::vector<std::string> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [id, mtu] : centrals_) {
            if (!central.empty() && id != central) continue;
            if (!subscriptions_.count({id, k->first, k->second})) continue;
            if (value.size() + 3 > mtu) continue;
            targets.push_back(id);
        }
    }
    size_t sent = 0;
    for (const auto& id : targets) {
        Message m;
        m.op = Op::Notify;
        m.central = id;
        m.service = k->first;
        m.characteristic = k->second;
        m.value = value;
        if (send(m)) ++sent;
    }
    return sent;
}

bool SimBlePeripheralDevice::disconnectCentral(const std::string& central) {
    Message m;
    m.op = Op::DisconnectCentral;
    m.central = central;
    return send(m);
}

std::vector<std::string> SimBlePeripheralDevice::connectedCentrals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [id, mtu] : centrals_) out.push_back(id);
    return out;
}

bool SimBlePeripheralDevice::isSubscribed(const std::string& central, const std::string& service,
                                          const std::string& characteristic) const {
    auto k = key(service, characteristic);
    if (!k) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return subscriptions_.count({central, k->first, k->second}) > 0;
}

void SimBlePeripheralDevice::onMessage(const Message& m) {
    auto delegate = delegate_.lock();
    switch (m.op) {
        case Op::CentralConnected: {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                centrals_[m.central] = std::clamp<uint16_t>(m.mtu, kMinMtu, kMaxMtu);
            }
            if (delegate) delegate->simPeripheralCentralConnected(*this, m.central, m.mtu);
            break;
        }
        case Op::CentralDisconnected: {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                centrals_.erase(m.central);
                for (auto it = subscriptions_.begin(); it != subscriptions_.end();) {
                    it = std::get<0>(*it) == m.central ? subscriptions_.erase(it) : std::next(it);
                }
            }
            if (delegate) delegate->simPeripheralCentralDisconnected(*this, m.central);
            break;
        }
        case Op::ReadRequest: {
            std::optional<Bytes> value;
            if (delegate)
                value = delegate->simPeripheralRead(*this, m.central, m.service, m.characteristic);
            if (!value) {
                std::lock_guard<std::mutex> lock(mutex_);
                for (const auto& s : services_) {
                    if (s.uuid != m.service) continue;
                    for (const auto& c : s.characteristics) {
                        if (c.uuid == m.characteristic) value = c.value;
                    }
                }
            }
            Message r;
            r.op = Op::ReadResponse;
            r.txn = m.txn;
            if (value && value->size() <= kMaxAttributeValueLength) {
                r.status = Status::Ok;
                r.value = std::move(*value);
            } else {
                r.status = value ? Status::InvalidAttributeLength : Status::ReadNotPermitted;
            }
            send(r);
            break;
        }
        case Op::WriteRequest: {
            uint8_t status = Status::Ok;
            if (delegate) {
                status = delegate->simPeripheralWrite(*this, m.central, m.service, m.characteristic,
                                                      m.value, m.flag);
            }
            if (m.flag) {
                Message r;
                r.op = Op::WriteResponse;
                r.txn = m.txn;
                r.status = status;
                send(r);
            }
            break;
        }
        case Op::SubscribeRequest: {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                auto k = std::make_tuple(m.central, m.service, m.characteristic);
                if (m.flag) {
                    subscriptions_.insert(k);
                } else {
                    subscriptions_.erase(k);
                }
            }
            if (delegate) {
                delegate->simPeripheralSubscribe(*this, m.central, m.service, m.characteristic,
                                                 m.flag);
            }
            break;
        }
        default:
            break;
    }
}

void SimBlePeripheralDevice::onClosed(const std::string& reason) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        centrals_.clear();
        subscriptions_.clear();
    }
    if (auto delegate = delegate_.lock()) delegate->simPeripheralClosed(*this, reason);
}

}  // namespace lumvane::ble::sim
