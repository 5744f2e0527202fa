#include "platform/ble/SimBleWire.h"

#include <cstring>

namespace lumvane::ble::sim {

namespace {

class Writer {
  public:
    Bytes out;

    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void i8(int8_t v) { u8(static_cast<uint8_t>(v)); }
    void boolean(bool v) { u8(v ? 1 : 0); }
    void str(const std::string& s, size_t max = kMaxStringLength) {
        if (s.size() > max) throw WireError("string too long");
        u16(static_cast<uint16_t>(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    }
    void bytes(const Bytes& b, size_t max) {
        if (b.size() > max) throw WireError("byte string too long");
        u16(static_cast<uint16_t>(b.size()));
        out.insert(out.end(), b.begin(), b.end());
    }
    void count(size_t n) {
        if (n > kMaxListCount) throw WireError("list too long");
        u16(static_cast<uint16_t>(n));
    }
};

class Reader {
  public:
    explicit Reader(std::span<const uint8_t> in) : in_(in) {}

    uint8_t u8() {
        need(1);
        return in_[pos_++];
    }
    uint16_t u16() {
        need(2);
        uint16_t v = static_cast<uint16_t>(in_[pos_] | (in_[pos_ + 1] << 8));
        pos_ += 2;
        return v;
    }
    uint32_t u32() {
        need(4);
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | in_[pos_ + i];
        pos_ += 4;
        return v;
    }
    int8_t i8() { return static_cast<int8_t>(u8()); }
    bool boolean() {
        uint8_t v = u8();
        if (v > 1) throw WireError("bad boolean");
        return v == 1;
    }
    std::string str(size_t max = kMaxStringLength) {
        size_t n = u16();
        if (n > max) throw WireError("string too long");
        need(n);
        std::string s(reinterpret_cast<const char*>(in_.data() + pos_), n);
        pos_ += n;
        return s;
    }
    Bytes bytes(size_t max) {
        size_t n = u16();
        if (n > max) throw WireError("byte string too long");
        need(n);
        Bytes b(in_.begin() + pos_, in_.begin() + pos_ + n);
        pos_ += n;
        return b;
    }
    size_t count() {
        size_t n = u16();
        if (n > kMaxListCount) throw WireError("list too long");
        return n;
    }
    bool atEnd() const { return pos_ == in_.size(); }

  private:
    void need(size_t n) {
        if (in_.size() - pos_ < n) throw WireError("frame too short");
    }

    std::span<const uint8_t> in_;
    size_t pos_ = 0;
};

// Field-by-field codecs that read into or write from a Message.
void put(Writer& w, const std::optional<std::string>& s) {
    w.boolean(s.has_value());
    if (s) w.str(*s);
}
void get(Reader& r, std::optional<std::string>& s) {
    if (r.boolean()) {
        s = r.str();
    } else {
        s.reset();
    }
}

void putUuids(Writer& w, const std::vector<std::string>& list) {
    w.count(list.size());
    for (const auto& u : list) w.str(u);
}
std::vector<std::string> getUuids(Reader& r) {
    std::vector<std::string> list(r.count());
    for (auto& u : list) u = r.str();
    return list;
}

void putCharacteristics(Writer& w, const std::vector<GattCharacteristicInfo>& list) {
    w.count(list.size());
    for (const auto& c : list) {
        w.str(c.uuid);
        w.u32(c.properties);
    }
}
std::vector<GattCharacteristicInfo> getCharacteristics(Reader& r) {
    std::vector<GattCharacteristicInfo> list(r.count());
    for (auto& c : list) {
        c.uuid = r.str();
        c.properties = r.u32();
    }
    return list;
}

void putAdv(Writer& w, const AdvertisementData& a) {
    put(w, a.localName);
    w.boolean(a.serviceUuids.has_value());
    if (a.serviceUuids) putUuids(w, *a.serviceUuids);
    w.boolean(a.manufacturerData.has_value());
    if (a.manufacturerData) w.bytes(*a.manufacturerData, kMaxManufacturerDataLength);
    w.boolean(a.isConnectable.has_value());
    if (a.isConnectable) w.boolean(*a.isConnectable);
    w.boolean(a.txPowerLevel.has_value());
    if (a.txPowerLevel) {
        if (*a.txPowerLevel < -128 || *a.txPowerLevel > 127) throw WireError("tx power");
        w.i8(static_cast<int8_t>(*a.txPowerLevel));
    }
}
AdvertisementData getAdv(Reader& r) {
    AdvertisementData a;
    get(r, a.localName);
    if (r.boolean()) a.serviceUuids = getUuids(r);
    if (r.boolean()) a.manufacturerData = r.bytes(kMaxManufacturerDataLength);
    if (r.boolean()) a.isConnectable = r.boolean();
    if (r.boolean()) a.txPowerLevel = r.i8();
    return a;
}

}  // namespace

Bytes encodeFrame(const Message& m) {
    Writer w;
    w.u32(0);  // length, filled in below
    w.u8(static_cast<uint8_t>(m.op));
    const size_t v = kMaxAttributeValueLength;
    switch (m.op) {
        case Op::Hello:
            w.u8(static_cast<uint8_t>(m.role));
            w.str(m.identifier);
            put(w, m.name);
            w.u16(m.mtu);
            break;
        case Op::State:
            w.u8(m.state);
            break;
        case Op::Advertise:
            putAdv(w, m.adv);
            break;
        case Op::StopAdvertise:
        case Op::ScanStop:
            break;
        case Op::PublishGatt:
            w.count(m.gatt.size());
            for (const auto& s : m.gatt) {
                w.str(s.uuid);
                putCharacteristics(w, s.characteristics);
            }
            break;
        case Op::Notify:
            w.str(m.central);
            w.str(m.service);
            w.str(m.characteristic);
            w.bytes(m.value, v);
            break;
        case Op::ReadResponse:
            w.u32(m.txn);
            w.u8(m.status);
            w.bytes(m.value, v);
            break;
        case Op::WriteResponse:
            w.u32(m.txn);
            w.u8(m.status);
            break;
        case Op::DisconnectCentral:
        case Op::CentralDisconnected:
            w.str(m.central);
            break;
        case Op::ScanStart:
            w.boolean(m.flag);
            putUuids(w, m.uuids);
            break;
        case Op::Connect:
        case Op::Cancel:
        case Op::DiscoverServices:
            w.str(m.peer);
            break;
        case Op::DiscoverCharacteristics:
            w.str(m.peer);
            w.str(m.service);
            break;
        case Op::Read:
            w.str(m.peer);
            w.str(m.service);
            w.str(m.characteristic);
            break;
        case Op::Write:
            w.str(m.peer);
            w.str(m.service);
            w.str(m.characteristic);
            w.boolean(m.flag);
            w.bytes(m.value, v);
            break;
        case Op::Subscribe:
            w.str(m.peer);
            w.str(m.service);
            w.str(m.characteristic);
            w.boolean(m.flag);
            break;
        case Op::AdvReport:
            w.str(m.peer);
            put(w, m.name);
            w.i8(m.rssi);
            putAdv(w, m.adv);
            break;
        case Op::Connected:
            w.str(m.peer);
            w.u16(m.mtu);
            break;
        case Op::ConnectFailed:
        case Op::Disconnected:
            w.str(m.peer);
            w.str(m.error);
            break;
        case Op::Services:
            w.str(m.peer);
            w.u8(m.status);
            putUuids(w, m.uuids);
            break;
        case Op::Characteristics:
            w.str(m.peer);
            w.str(m.service);
            w.u8(m.status);
            putCharacteristics(w, m.gatt.empty() ? std::vector<GattCharacteristicInfo>{}
                                                 : m.gatt.front().characteristics);
            break;
        case Op::Value:
            w.str(m.peer);
            w.str(m.service);
            w.str(m.characteristic);
            w.u8(m.status);
            w.bytes(m.value, v);
            break;
        case Op::WriteResult:
            w.str(m.peer);
            w.str(m.service);
            w.str(m.characteristic);
            w.u8(m.status);
            break;
        case Op::NotifyState:
            w.str(m.peer);
            w.str(m.service);
            w.str(m.characteristic);
            w.u8(m.status);
            w.boolean(m.flag);
            break;
        case Op::ServicesChanged:
            w.str(m.peer);
            putUuids(w, m.uuids);
            break;
        case Op::CentralConnected:
            w.str(m.central);
            w.u16(m.mtu);
            break;
        case Op::ReadRequest:
            w.u32(m.txn);
            w.str(m.central);
            w.str(m.service);
            w.str(m.characteristic);
            break;
        case Op::WriteRequest:
            w.u32(m.txn);
            w.str(m.central);
            w.str(m.service);
            w.str(m.characteristic);
            w.boolean(m.flag);
            w.bytes(m.value, v);
            break;
        case Op::SubscribeRequest:
            w.str(m.central);
            w.str(m.service);
            w.str(m.characteristic);
            w.boolean(m.flag);
            break;
        default:
            throw WireError("unknown op");
    }
    const size_t length = w.out.size() - 4;
    if (length > kMaxFrameLength) throw WireError("frame too long");
    for (int i = 0; i < 4; ++i) w.out[i] = static_cast<uint8_t>(length >> (8 * i));
    return std::move(w.out);
}

Message decodeBody(std::span<const uint8_t> body) {
    if (body.empty() || body.size() > kMaxFrameLength) throw WireError("bad frame length");
    Reader r(body);
    Message m;
    m.op = static_cast<Op>(r.u8());
    const size_t v = kMaxAttributeValueLength;
    switch (m.op) {
        case Op::Hello: {
            uint8_t role = r.u8();
            if (role != uint8_t(Role::Central) && role != uint8_t(Role::Peripheral)) {
                throw WireError("bad role");
            }
            m.role = static_cast<Role>(role);
            m.identifier = r.str();
            get(r, m.name);
            m.mtu = r.u16();
            break;
        }
        case Op::State:
            m.state = r.u8();
            break;
        case Op::Advertise:
            m.adv = getAdv(r);
            break;
        case Op::StopAdvertise:
        case Op::ScanStop:
            break;
        case Op::PublishGatt: {
            m.gatt.resize(r.count());
            for (auto& s : m.gatt) {
                s.uuid = r.str();
                s.characteristics = getCharacteristics(r);
            }
            break;
        }
        case Op::Notify:
            m.central = r.str();
            m.service = r.str();
            m.characteristic = r.str();
            m.value = r.bytes(v);
            break;
        case Op::ReadResponse:
            m.txn = r.u32();
            m.status = r.u8();
            m.value = r.bytes(v);
            break;
        case Op::WriteResponse:
            m.txn = r.u32();
            m.status = r.u8();
            break;
        case Op::DisconnectCentral:
        case Op::CentralDisconnected:
            m.central = r.str();
            break;
        case Op::ScanStart:
            m.flag = r.boolean();
            m.uuids = getUuids(r);
            break;
        case Op::Connect:
        case Op::Cancel:
        case Op::DiscoverServices:
            m.peer = r.str();
            break;
        case Op::DiscoverCharacteristics:
            m.peer = r.str();
            m.service = r.str();
            break;
        case Op::Read:
            m.peer = r.str();
            m.service = r.str();
            m.characteristic = r.str();
            break;
        case Op::Write:
            m.peer = r.str();
            m.service = r.str();
            m.characteristic = r.str();
            m.flag = r.boolean();
            m.value = r.bytes(v);
            break;
        case Op::Subscribe:
            m.peer = r.str();
            m.service = r.str();
            m.characteristic = r.str();
            m.flag = r.boolean();
            break;
        case Op::AdvReport:
            m.peer = r.str();
            get(r, m.name);
            m.rssi = r.i8();
            m.adv = getAdv(r);
            break;
        case Op::Connected:
            m.peer = r.str();
            m.mtu = r.u16();
            break;
        case Op::ConnectFailed:
        case Op::Disconnected:
            m.peer = r.str();
            m.error = r.str();
            break;
        case Op::Services:
            m.peer = r.str();
            m.status = r.u8();
            m.uuids = getUuids(r);
            break;
        case Op::Characteristics:
            m.peer = r.str();
            m.service = r.str();
            m.status = r.u8();
            m.gatt.push_back(GattServiceInfo{m.service, getCharacteristics(r)});
            break;
        case Op::Value:
            m.peer = r.str();
            m.service = r.str();
            m.characteristic = r.str();
            m.status = r.u8();
            m.value = r.bytes(v);
            break;
        case Op::WriteResult:
            m.peer = r.str();
            m.service = r.str();
            m.characteristic = r.str();
            m.status = r.u8();
            break;
        case Op::NotifyState:
            m.peer = r.str();
            m.service = r.str();
            m.characteristic = r.str();
            m.status = r.u8();
            m.flag = r.boolean();
            break;
        case Op::ServicesChanged:
            m.peer = r.str();
            m.uuids = getUuids(r);
            break;
        case Op::CentralConnected:
            m.central = r.str();
            m.mtu = r.u16();
            break;
        case Op::ReadRequest:
            m.txn = r.u32();
            m.central = r.str();
            m.service = r.str();
            m.characteristic = r.str();
            break;
        case Op::WriteRequest:
            m.txn = r.u32();
            m.central = r.str();
            m.service = r.str();
            m.characteristic = r.str();
            m.flag = r.boolean();
            m.value = r.bytes(v);
            break;
        case Op::SubscribeRequest:
            m.central = r.str();
            m.service = r.str();
            m.characteristic = r.str();
            m.flag = r.boolean();
            break;
        default:
            throw WireError("unknown op");
    }
    if (!r.atEnd()) throw WireError("trailing bytes in frame");
    return m;
}

void FrameReader::check() {
    if (buffered() < 4) return;
    const uint8_t* p = buffer_.data() + start_;
    uint32_t length = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                      (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    if (length == 0 || length > kMaxFrameLength) {
        failed_ = true;
        throw WireError("frame length out of bounds");
    }
}

void FrameReader::feed(std::span<const uint8_t> bytes) {
    if (failed_) throw WireError("frame reader failed before");
    // Drop what has been consumed before growing.
    if (start_ > 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    } else if (start_ > kMaxFrameLength) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    check();
}

std::optional<Bytes> FrameReader::next() {
    if (failed_) return std::nullopt;
    check();
    if (buffered() < 4) return std::nullopt;
    const uint8_t* p = buffer_.data() + start_;
    uint32_t length = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                      (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    if (buffered() < 4 + size_t(length)) return std::nullopt;
    Bytes body(p + 4, p + 4 + length);
    start_ += 4 + length;
    return body;
}

}  // namespace lumvane::ble::sim
