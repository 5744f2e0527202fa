#include "platform/ble/SimBleAir.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <vector>

#include "platform/ble/SimBleWire.h"
#include "platform/ble/SimSocket.h"

namespace lumvane::ble::sim {

namespace {

// A client that does not read is cut off rather than letting the hub grow.
constexpr size_t kMaxPendingOutput = 16u * 1024 * 1024;
constexpr int8_t kRssi = -50;

struct Client {
    int fd = -1;
    FrameReader reader;
    Bytes out;
    size_t outStart = 0;
    bool hello = false;
    bool dead = false;
    Role role = Role::Central;
    std::string id;
    std::optional<std::string> name;
    uint16_t mtu = kDefaultMtu;
    // peripheral side
    std::optional<AdvertisementData> adv;
    std::vector<GattServiceInfo> gatt;
    // central side
    bool scanning = false;
    bool duplicates = false;
    std::vector<std::string> filter;
    std::map<std::string, AdvertisementData> reported;
    std::set<std::string> pendingConnects;
};

struct Connection {
    uint16_t mtu = kDefaultMtu;
    std::set<std::pair<std::string, std::string>> subscriptions;
};

struct Txn {
    int centralFd;
    std::string peripheralId;
    std::string service;
    std::string characteristic;
    bool isRead;
};

}  // namespace

struct SimBleAir::State {
    mutable std::mutex mutex;
    int listenFd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::atomic<bool> stopping{false};
    CentralState radio = CentralState::PoweredOn;
    std::chrono::milliseconds interval{100};
    std::map<int, Client> clients;
    std::map<std::string, int> peripherals;                         // id -> fd
    std::map<std::string, int> centrals;                            // id -> fd
    std::map<std::pair<int, std::string>, Connection> connections;  // (central fd, peripheral id)
    std::map<uint32_t, Txn> txns;
    uint32_t nextTxn = 1;

    void wake() {
        if (wakeWrite >= 0) {
            uint8_t b = 1;
            [[maybe_unused]] ssize_t n = ::write(wakeWrite, &b, 1);
        }
    }

    void queue(Client& c, const Message& m) {
        if (c.dead) return;
        Bytes frame;
        try {
            frame = encodeFrame(m);
        } catch (const WireError&) {
            return;
        }
        if (c.out.size() - c.outStart + frame.size() > kMaxPendingOutput) {
            c.dead = true;
            return;
        }
        c.out.insert(c.out.end(), frame.begin(), frame.end());
        flush(c);
    }

    void queue(int fd, const Message& m) {
        auto it = clients.find(fd);
        if (it != clients.end()) queue(it->second, m);
    }

    void flush(Client& c) {
        while (!c.dead && c.outStart < c.out.size()) {
            ssize_t n = ::send(c.fd, c.out.data() + c.outStart, c.out.size() - c.outStart,
                               MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                c.dead = true;
                break;
            }
            c.outStart += static_cast<size_t>(n);
        }
        if (c.outStart == c.out.size()) {
            c.out.clear();
            c.outStart = 0;
        }
    }

    Client* peripheral(const std::string& id) {
        auto it = peripherals.find(id);
        if (it == peripherals.end()) return nullptr;
        auto c = clients.find(it->second);
        return c == clients.end() || c->second.dead ? nullptr : &c->second;
    }

    static bool matches(const Client& central, const AdvertisementData& adv) {
        if (central.filter.empty()) return true;
        if (!adv.serviceUuids) return false;
        for (const auto& u : *adv.serviceUuids) {
            auto canon = canonicalUuid(u);
            if (canon && std::find(central.filter.begin(), central.filter.end(), *canon) !=
                             central.filter.end()) {
                return true;
            }
        }
        return false;
    }

    void report(Client& central, const Client& p, bool force) {
        if (!p.adv || !central.scanning || radio != CentralState::PoweredOn) return;
        if (!matches(central, *p.adv)) return;
        auto it = central.reported.find(p.id);
        if (!force && !central.duplicates && it != central.reported.end() && it->second == *p.adv) {
            return;
        }
        central.reported[p.id] = *p.adv;
        Message m;
        m.op = Op::AdvReport;
        m.peer = p.id;
        m.name = p.name;
        m.rssi = kRssi;
        m.adv = *p.adv;
        queue(central, m);
    }

    static bool connectable(const Client& p) { return p.adv && p.adv->isConnectable != false; }

    void establish(Client& central, Client& p) {
        central.pendingConnects.erase(p.id);
        auto key = std::make_pair(central.fd, p.id);
        uint16_t mtu = std::clamp<uint16_t>(std::min(central.mtu, p.mtu), kMinMtu, kMaxMtu);
        bool fresh = connections.find(key) == connections.end();
        if (fresh) connections[key] = Connection{mtu, {}};
        Message m;
        m.op = Op::Connected;
        m.peer = p.id;
        m.mtu = connections[key].mtu;
        queue(central, m);
        if (fresh) {
            Message n;
            n.op = Op::CentralConnected;
            n.central = central.id;
            n.mtu = mtu;
            queue(p, n);
        }
    }

    // Ends one connection and tells both sides.
    void drop(int centralFd, const std::string& pid, const std::string& why, bool tellPeripheral) {
        auto key = std::make_pair(centralFd, pid);
        if (connections.erase(key) == 0) return;
        for (auto it = txns.begin(); it != txns.end();) {
            if (it->second.centralFd == centralFd && it->second.peripheralId == pid) {
                it = txns.erase(it);
            } else {
                ++it;
            }
        }
        Message m;
        m.op = Op::Disconnected;
        m.peer = pid;
        m.error = why;
        queue(centralFd, m);
        if (tellPeripheral) {
            if (Client* p = peripheral(pid)) {
                auto c = clients.find(centralFd);
                Message n;
                n.op = Op::CentralDisconnected;
                n.central = c != clients.end() ? c->second.id : std::string();
                queue(*p, n);
            }
        }
    }

    const GattServiceInfo* findService(const Client& p, const std::string& uuid) {
        for (const auto& s : p.gatt) {
            if (s.uuid == canonicalUuid(uuid).value_or("")) return &s;
        }
        return nullptr;
    }

    const GattCharacteristicInfo* findCharacteristic(const Client& p, const std::string& service,
                                                     const std::string& uuid) {
        const GattServiceInfo* s = findService(p, service);
        if (!s) return nullptr;
        for (const auto& c : s->characteristics) {
            if (c.uuid == canonicalUuid(uuid).value_or("")) return &c;
        }
        return nullptr;
    }

    void setRadio(CentralState state) {
        if (state == radio) return;
        radio = state;
        if (state != CentralState::PoweredOn) {
            std::vector<std::pair<int, std::string>> all;
            for (const auto& [key, conn] : connections) all.push_back(key);
            for (const auto& [fd, pid] : all) drop(fd, pid, "powered off", true);
            for (auto& [fd, c] : clients) {
                c.scanning = false;
                c.pendingConnects.clear();
            }
        }
        for (auto& [fd, c] : clients) {
            if (c.hello && c.role == Role::Central) {
                Message m;
                m.op = Op::State;
                m.state = static_cast<uint8_t>(state);
                queue(c, m);
            }
        }
    }

    void tick() {
        for (auto& [fd, central] : clients) {
            if (!central.hello || central.role != Role::Central || !central.scanning ||
                !central.duplicates) {
                continue;
            }
            for (auto& [pfd, p] : clients) {
                if (p.hello && p.role == Role::Peripheral && !p.dead) report(central, p, true);
            }
        }
    }

    void removeClient(int fd) {
        auto it = clients.find(fd);
        if (it == clients.end()) return;
        Client& c = it->second;
        c.dead = true;
        if (c.hello && c.role == Role::Peripheral) {
            std::vector<int> cs;
            for (const auto& [key, conn] : connections) {
                if (key.second == c.id) cs.push_back(key.first);
            }
            for (int cfd : cs) drop(cfd, c.id, "peripheral vanished", false);
            if (peripherals[c.id] == fd) peripherals.erase(c.id);
        } else if (c.hello) {
            std::vector<std::string> ps;
            for (const auto& [key, conn] : connections) {
                if (key.first == fd) ps.push_back(key.second);
            }
            for (const auto& pid : ps) {
                connections.erase(std::make_pair(fd, pid));
                if (Client* p = peripheral(pid)) {
                    Message n;
                    n.op = Op::CentralDisconnected;
                    n.central = c.id;
                    queue(*p, n);
                }
            }
            for (auto t = txns.begin(); t != txns.end();) {
                t = t->second.centralFd == fd ? txns.erase(t) : std::next(t);
            }
            if (centrals[c.id] == fd) centrals.erase(c.id);
        }
        ::close(fd);
        clients.erase(it);
    }

    // Handles one message; false ends the sender's connection.
    bool handle(Client& c, const Message& m);
    bool handleCentral(Client& c, const Message& m);
    bool handlePeripheral(Client& c, const Message& m);
};

bool SimBleAir::State::handle(Client& c, const Message& m) {
    if (!c.hello) {
        if (m.op != Op::Hello || m.identifier.empty()) return false;
        auto& registry = m.role == Role::Peripheral ? peripherals : centrals;
        std::string id = m.identifier;
        if (registry.count(id)) {
            // Two radios with one address cannot share the air.
            if (m.role == Role::Peripheral) return false;
            id += "#" + std::to_string(c.fd);
        }
        c.hello = true;
        c.role = m.role;
        c.id = id;
        c.name = m.name;
        c.mtu = std::clamp<uint16_t>(m.mtu ? m.mtu : kDefaultMtu, kMinMtu, kMaxMtu);
        registry[id] = c.fd;
        if (c.role == Role::Central) {
            Message s;
            s.op = Op::State;
            s.state = static_cast<uint8_t>(radio);
            queue(c, s);
        }
        return true;
    }
    if (m.op == Op::Hello) return false;
    return c.role == Role::Central ? handleCentral(c, m) : handlePeripheral(c, m);
}

bool SimBleAir::State::handlePeripheral(Client& p, const Message& m) {
    switch (m.op) {
        case Op::Advertise: {
            p.adv = m.adv;
            for (auto& [fd, c] : clients) {
                if (c.hello && c.role == Role::Central) report(c, p, false);
            }
            if (connectable(p)) {
                for (auto& [fd, c] : clients) {
                    if (c.hello && c.role == Role::Central && c.pendingConnects.count(p.id) &&
                        radio == CentralState::PoweredOn) {
                        establish(c, p);
                    }
                }
            }
            return true;
        }
        case Op::StopAdvertise:
            p.adv.reset();
            return true;
        case Op::PublishGatt: {
            std::vector<GattServiceInfo> gatt;
            for (const auto& s : m.gatt) {
                auto su = canonicalUuid(s.uuid);
                if (!su) return false;
                GattServiceInfo info{*su, {}};
                for (const auto& ch : s.characteristics) {
                    auto cu = canonicalUuid(ch.uuid);
                    if (!cu) return false;
                    info.characteristics.push_back({*cu, ch.properties});
                }
                gatt.push_back(std::move(info));
            }
            std::vector<std::string> invalidated;
            for (const auto& old : p.gatt) {
                auto it = std::find_if(gatt.begin(), gatt.end(), [&](const GattServiceInfo& s) {
                    return s.uuid == old.uuid;
                });
                if (it == gatt.end() || !(*it == old)) invalidated.push_back(old.uuid);
            }
            p.gatt = std::move(gatt);
            if (!invalidated.empty()) {
                for (const auto& [key, conn] : connections) {
                    if (key.second != p.id) continue;
                    Message n;
                    n.op = Op::ServicesChanged;
                    n.peer = p.id;
                    n.uuids = invalidated;
                    queue(key.first, n);
                }
            }
            return true;
        }
        case Op::Notify: {
            auto su = canonicalUuid(m.service).value_or("");
            auto cu = canonicalUuid(m.characteristic).value_or("");
            for (const auto& [key, conn] : connections) {
                if (key.second != p.id) continue;
                auto c = clients.find(key.first);
                if (c == clients.end()) continue;
                if (!m.central.empty() && c->second.id != m.central) continue;
                if (!conn.subscriptions.count({su, cu})) continue;
                // A notification carries at most MTU - 3 bytes.
                if (m.value.size() + 3 > conn.mtu) continue;
                Message n;
                n.op = Op::Value;
                n.peer = p.id;
                n.service = su;
                n.characteristic = cu;
                n.status = Status::Ok;
                n.value = m.value;
                queue(c->second, n);
            }
            return true;
        }
        case Op::ReadResponse:
        case Op::WriteResponse: {
            auto it = txns.find(m.txn);
            if (it == txns.end() || it->second.peripheralId != p.id) return true;
            Txn t = it->second;
            txns.erase(it);
            if (!connections.count({t.centralFd, t.peripheralId})) return true;
            Message n;
            n.op = m.op == Op::ReadResponse ? Op::Value : Op::WriteResult;
            n.peer = p.id;
            n.service = t.service;
            n.characteristic = t.characteristic;
            n.status = m.status;
            if (m.op == Op::ReadResponse && m.status == Status::Ok) n.value = m.value;
            queue(t.centralFd, n);
            return true;
        }
        case Op::DisconnectCentral: {
            auto it = centrals.find(m.central);
            if (it != centrals.end()) drop(it->second, p.id, "peripheral disconnected", true);
            return true;
        }
        default:
            return false;
    }
}

bool SimBleAir::State::handleCentral(Client& c, const Message& m) {
    const bool on = radio == CentralState::PoweredOn;
    auto connected = [&](const std::string& pid) -> Client* {
        if (!connections.count({c.fd, pid})) return nullptr;
        return peripheral(pid);
    };
    switch (m.op) {
        case Op::ScanStart: {
            if (!on) return true;
            c.scanning = true;
            c.duplicates = m.flag;
            c.filter.clear();
            for (const auto& u : m.uuids) {
                if (auto canon = canonicalUuid(u)) c.filter.push_back(*canon);
            }
            c.reported.clear();
            for (auto& [fd, p] : clients) {
                if (p.hello && p.role == Role::Peripheral && !p.dead) report(c, p, true);
            }
            return true;
        }
        case Op::ScanStop:
            c.scanning = false;
            return true;
        case Op::Connect: {
            if (!on) {
                Message n;
                n.op = Op::ConnectFailed;
                n.peer = m.peer;
                n.error = "powered off";
                queue(c, n);
                return true;
            }
            Client* p = peripheral(m.peer);
            if (p && (connectable(*p) || connections.count({c.fd, m.peer}))) {
                establish(c, *p);
            } else {
                // Like a radio: the connection comes when the peripheral advertises.
                c.pendingConnects.insert(m.peer);
            }
            return true;
        }
        case Op::Cancel: {
            if (connections.count({c.fd, m.peer})) {
                drop(c.fd, m.peer, "", true);
            } else if (c.pendingConnects.erase(m.peer)) {
                Message n;
                n.op = Op::Disconnected;
                n.peer = m.peer;
                queue(c, n);
            }
            return true;
        }
        case Op::DiscoverServices: {
            Message n;
            n.op = Op::Services;
            n.peer = m.peer;
            if (Client* p = connected(m.peer)) {
                n.status = Status::Ok;
                for (const auto& s : p->gatt) n.uuids.push_back(s.uuid);
            } else {
                n.status = Status::NotConnected;
            }
            queue(c, n);
            return true;
        }
        case Op::DiscoverCharacteristics: {
            Message n;
            n.op = Op::Characteristics;
            n.peer = m.peer;
            n.service = m.service;
            Client* p = connected(m.peer);
            const GattServiceInfo* s = p ? findService(*p, m.service) : nullptr;
            n.status = !p ? Status::NotConnected : !s ? Status::UnknownAttribute : Status::Ok;
            n.gatt.push_back(GattServiceInfo{
                m.service, s ? s->characteristics : std::vector<GattCharacteristicInfo>{}});
            queue(c, n);
            return true;
        }
        case Op::Read:
        case Op::Write:
        case Op::Subscribe: {
            Client* p = connected(m.peer);
            const GattCharacteristicInfo* ch =
                p ? findCharacteristic(*p, m.service, m.characteristic) : nullptr;
            uint8_t status = !p    ? Status::NotConnected
                             : !ch ? Status::UnknownAttribute
                                   : Status::Ok;
            const auto key = std::make_pair(c.fd, m.peer);
            if (status == Status::Ok) {
                if (m.op == Op::Read && !(ch->properties & CharacteristicProperty::Read)) {
                    status = Status::ReadNotPermitted;
                } else if (m.op == Op::Write) {
                    uint32_t need = m.flag ? CharacteristicProperty::Write
                                           : CharacteristicProperty::WriteWithoutResponse;
                    if (!(ch->properties & need)) {
                        status = Status::WriteNotPermitted;
                    } else if (m.value.size() + 3 > connections[key].mtu) {
                        status = Status::InvalidAttributeLength;
                    }
                } else if (m.op == Op::Subscribe &&
                           !(ch->properties &
                             (CharacteristicProperty::Notify | CharacteristicProperty::Indicate))) {
                    status = Status::NotSupported;
                }
            }
            const std::string su = ch ? canonicalUuid(m.service).value_or(m.service) : m.service;
            const std::string cu = ch ? ch->uuid : m.characteristic;
            if (status != Status::Ok) {
                if (m.op == Op::Write && !m.flag) return true;  // nobody hears of it
                Message n;
                n.op = m.op == Op::Read    ? Op::Value
                       : m.op == Op::Write ? Op::WriteResult
                                           : Op::NotifyState;
                n.peer = m.peer;
                n.service = m.service;
                n.characteristic = m.characteristic;
                n.status = status;
                queue(c, n);
                return true;
            }
            if (m.op == Op::Subscribe) {
                auto& subs = connections[key].subscriptions;
                if (m.flag) {
                    subs.insert({su, cu});
                } else {
                    subs.erase({su, cu});
                }
                Message r;
                r.op = Op::SubscribeRequest;
                r.central = c.id;
                r.service = su;
                r.characteristic = cu;
                r.flag = m.flag;
                queue(*p, r);
                Message n;
                n.op = Op::NotifyState;
                n.peer = m.peer;
                n.service = su;
                n.characteristic = cu;
                n.status = Status::Ok;
                n.flag = m.flag;
                queue(c, n);
                return true;
            }
            Message r;
            r.op = m.op == Op::Read ? Op::ReadRequest : Op::WriteRequest;
            r.central = c.id;
            r.service = su;
            r.characteristic = cu;
            r.flag = m.flag;
            r.value = m.value;
            if (m.op == Op::Read || m.flag) {
                r.txn = nextTxn++;
                if (nextTxn == 0) nextTxn = 1;
                txns[r.txn] = Txn{c.fd, m.peer, su, cu, m.op == Op::Read};
            }
            queue(*p, r);
            return true;
        }
        default:
            return false;
    }
}

SimBleAir::SimBleAir(std::string socketPath)
    : path_(std::move(socketPath)), state_(std::make_shared<State>()) {}

SimBleAir::~SimBleAir() {
    stop();
}

bool SimBleAir::start() {
    if (thread_.joinable()) return true;
    int fd = listenUnixSocket(path_);
    if (fd < 0) return false;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
    state_->listenFd = fd;
    state_->wakeRead = pipeFds[0];
    state_->wakeWrite = pipeFds[1];
    state_->stopping = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void SimBleAir::stop() {
    if (!thread_.joinable()) return;
    state_->stopping = true;
    state_->wake();
    thread_.join();
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (auto& [fd, c] : state_->clients) ::close(fd);
    state_->clients.clear();
    state_->peripherals.clear();
    state_->centrals.clear();
    state_->connections.clear();
    state_->txns.clear();
    ::close(state_->listenFd);
    ::close(state_->wakeRead);
    ::close(state_->wakeWrite);
    state_->listenFd = state_->wakeRead = state_->wakeWrite = -1;
    ::unlink(path_.c_str());
}

void SimBleAir::setCentralState(CentralState state) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->setRadio(state);
    state_->wake();
}

CentralState SimBleAir::centralState() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->radio;
}

void SimBleAir::setAdvertisingInterval(std::chrono::milliseconds interval) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->interval = std::max(interval, std::chrono::milliseconds(1));
    state_->wake();
}

size_t SimBleAir::peripheralCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->peripherals.size();
}

size_t SimBleAir::centralCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->centrals.size();
}

size_t SimBleAir::connectionCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->connections.size();
}

void SimBleAir::run() {
    State& s = *state_;
    auto nextTick = std::chrono::steady_clock::now();
    {
        // The interval may be changed from other threads while the hub runs.
        std::lock_guard<std::mutex> lock(s.mutex);
        nextTick += s.interval;
    }
    while (!s.stopping) {
        std::vector<pollfd> fds;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            fds.push_back({s.listenFd, POLLIN, 0});
            fds.push_back({s.wakeRead, POLLIN, 0});
            for (auto& [fd, c] : s.clients) {
                short events = POLLIN;
                if (c.outStart < c.out.size()) events |= POLLOUT;
                fds.push_back({fd, events, 0});
            }
        }
        auto now = std::chrono::steady_clock::now();
        int timeout = static_cast<int>(std::max<int64_t>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now).count()));
        int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) break;

        std::lock_guard<std::mutex> lock(s.mutex);
        if (fds[1].revents & POLLIN) {
            uint8_t drain[64];
            while (::read(s.wakeRead, drain, sizeof drain) > 0) {
            }
        }
        if (fds[0].revents & POLLIN) {
            int cfd = ::accept4(s.listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (cfd >= 0) {
                Client c;
                c.fd = cfd;
                s.clients.emplace(cfd, std::move(c));
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            auto it = s.clients.find(fds[i].fd);
            if (it == s.clients.end()) continue;
            Client& c = it->second;
            if (fds[i].revents & POLLOUT) s.flush(c);
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                uint8_t buffer[16 * 1024];
                ssize_t r = ::read(c.fd, buffer, sizeof buffer);
                if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) {
                    c.dead = true;
                } else if (r > 0) {
                    try {
                        c.reader.feed(std::span<const uint8_t>(buffer, static_cast<size_t>(r)));
                        while (!c.dead) {
                            auto body = c.reader.next();
                            if (!body) break;
                            if (!s.handle(c, decodeBody(*body))) c.dead = true;
                        }
                    } catch (const WireError&) {
                        c.dead = true;
                    }
                }
            }
        }
        if (std::chrono::steady_clock::now() >= nextTick) {
            s.tick();
            nextTick = std::chrono::steady_clock::now() + s.interval;
        }
        // Remove the dead until none is left (a removal can overflow another client).
        for (bool again = true; again;) {
            again = false;
            for (auto& [fd, c] : s.clients) {
                if (c.dead) {
                    s.removeClient(fd);
                    again = true;
                    break;
                }
            }
        }
    }
}

}  // namespace lumvane::ble::sim
