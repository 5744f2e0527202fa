#include "PhoneSim.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <iostream>
#include <thread>

#include <thrift/TApplicationException.h>
#include <thrift/protocol/TProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include "blec/BLECCharacteristics.h"
#include "protocol/ProtocolLimits.h"
#include "runtime/DispatchQueue.h"

namespace lumvane::phonesim {

namespace P = ble::CharacteristicProperty;
namespace code = blec::code;

namespace {

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

const std::set<std::string>& storageMethods() {
    static const std::set<std::string> m = {"getLoginData",    "addLoginData", "deleteLoginData",
                                            "updateLoginData", "getSiteData",  "getSiteDataList",
                                            "deleteSiteData",  "get2FACode"};
    return m;
}

}  // namespace

std::shared_ptr<PhoneSim> PhoneSim::create(PhoneSimOptions options, VaultContent vault) {
    return std::make_shared<PhoneSim>(Token{}, std::move(options), std::move(vault));
}

PhoneSim::PhoneSim(Token, PhoneSimOptions options, VaultContent vault)
    : options_(std::move(options)),
      vault_(std::move(vault)),
      work_(DispatchQueue::create("phone-sim.work")),
      silent_(options_.silent),
      disconnectAfterChunks_(options_.disconnectAfterChunks) {
    storage_ = vault_.storageService();
    mobile_ = vault_.mobileStorageService();
    const auto d = vault_.content().device;
    values_[code::kBatteryLevel] = d.batteryLevel;
    values_[code::kBatteryState] = d.batteryState;
    values_[code::kAppState] = d.appState;
    values_[code::kNeedCommunicate] = 0;
    if (options_.key) linkKeys_.push_back(*options_.key);
    asleep_ = options_.sleeping;
}

PhoneSim::~PhoneSim() {
    stop();
}

std::string PhoneSim::deviceId() const {
    return upper(vault_.content().device.id);
}

std::vector<ble::sim::SimService> PhoneSim::services() const {
    struct Def {
        const char* code;
        uint32_t props;
    };
    std::vector<Def> defs = {
        {code::kDeviceId, P::Read},
        {code::kDeviceName, P::Read},
        {code::kDeviceToken, P::Read},
        {code::kDeviceModel, P::Read},
        {code::kBatteryLevel, P::Read | P::Notify},
        {code::kBatteryState, P::Read | P::Notify},
        {code::kOsVersion, P::Read},
        {code::kAppVersion, P::Read},
        {code::kAppState, P::Read | P::Notify},
        {code::kDbUpdated, P::Notify},
        {code::kCommunicate, P::Write | P::WriteWithoutResponse | P::Notify},
        {code::kNeedCommunicate, P::Read | P::Notify},
        {code::kA051, P::Notify},
        {code::kAuthResponseData, P::Read},
    };
    if (options_.deliveredId) {
        defs.push_back(
            {code::kCommunicateDeliveredId, P::Write | P::WriteWithoutResponse | P::Notify});
    }
    if (options_.secondChannel) defs.push_back({code::kCommunicate2, P::Notify});
    const bool noAppVersion = !vault_.content().device.appVersion.has_value();
    ble::sim::SimService s;
    s.uuid = blec::kServiceUuid;
    for (const auto& d : defs) {
        if (options_.omit.count(d.code)) continue;
        if (noAppVersion && std::string(d.code) == code::kAppVersion) continue;
        s.characteristics.push_back({blec::characteristicUuid(d.code), d.props, std::nullopt});
    }
    return {s};
}

bool PhoneSim::start() {
    ble::sim::SimPeripheralOptions o;
    o.socketPath = options_.socketPath;
    o.identifier = options_.address;
    o.name = vault_.content().device.name;
    o.mtu = options_.mtu;
    device_ = ble::sim::SimBlePeripheralDevice::create(o, weak_from_this());
    if (!device_->open()) return false;
    if (!device_->setServices(services())) return false;
    if (options_.advertise && !asleep()) {
        ble::AdvertisementData ad;
        ad.localName = vault_.content().device.name;
        ad.serviceUuids = std::vector<std::string>{deviceId()};
        ad.isConnectable = true;
        if (!device_->startAdvertising(ad)) return false;
    }
    return true;
}

void PhoneSim::stop() {
    if (stopped_.exchange(true)) return;
    if (device_) device_->close();
}

PhoneSimStats PhoneSim::stats() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
}

void PhoneSim::setSilent(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    silent_ = on;
}

void PhoneSim::setForcedError(std::optional<std::pair<int32_t, int64_t>> error) {
    vault_.setForcedError(error);
}

void PhoneSim::setDisconnectAfterChunks(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    disconnectAfterChunks_ = n;
}

void PhoneSim::setUInt32(const std::string& c, uint32_t value) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        values_[c] = value;
    }
    if (device_) {
        device_->notify(blec::kServiceUuid, blec::characteristicUuid(c.c_str()),
                        blec::encodeUInt32(value));
    }
}

void PhoneSim::notifyDbUpdated() {
    if (device_) {
        device_->notify(blec::kServiceUuid, blec::characteristicUuid(code::kDbUpdated), Bytes{1});
    }
}

std::optional<Bytes> PhoneSim::valueOf(const std::string& c) const {
    const auto d = vault_.content().device;
    if (c == code::kDeviceId) return blec::encodeString(d.id);
    if (c == code::kDeviceName) return blec::encodeString(d.name);
    if (c == code::kDeviceToken) return blec::encodeString(d.token);
    if (c == code::kDeviceModel) return blec::encodeString(d.model);
    if (c == code::kOsVersion) return blec::encodeString(d.osVersion);
    if (c == code::kAppVersion && d.appVersion) return blec::encodeString(*d.appVersion);
    if (c == code::kAuthResponseData) return pairingAnswer().value_or(Bytes{});
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = values_.find(c);
    if (it != values_.end()) return blec::encodeUInt32(it->second);
    return std::nullopt;
}

void PhoneSim::simPeripheralCentralConnected(ble::sim::SimBlePeripheralDevice&,
                                             const std::string& central, uint16_t mtu) {
    std::lock_guard<std::mutex> lock(mutex_);
    managers_[central] = std::make_shared<BLECDataManager>();
    mtus_[central] = mtu;
}

void PhoneSim::simPeripheralCentralDisconnected(ble::sim::SimBlePeripheralDevice&,
                                                const std::string& central) {
    std::lock_guard<std::mutex> lock(mutex_);
    managers_.erase(central);
    mtus_.erase(central);
}

std::optional<Bytes> PhoneSim::simPeripheralRead(ble::sim::SimBlePeripheralDevice&,
                                                 const std::string&, const std::string&,
                                                 const std::string& characteristic) {
    auto c = blec::characteristicCode(characteristic);
    if (!c) return std::nullopt;
    return valueOf(*c);
}

uint8_t PhoneSim::simPeripheralWrite(ble::sim::SimBlePeripheralDevice&, const std::string& central,
                                     const std::string&, const std::string& characteristic,
                                     const Bytes& value, bool) {
    const auto c = blec::characteristicCode(characteristic).value_or("");
    if (c == code::kCommunicateDeliveredId) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++stats_.macAcks;
        stats_.macAckIds.push_back(blec::decodeUInt32(value));
        return ble::sim::Status::Ok;
    }
    if (c != code::kCommunicate) return ble::sim::Status::Ok;
    std::shared_ptr<BLECDataManager> manager;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = managers_.find(central);
        if (it == managers_.end()) {
            it = managers_.emplace(central, std::make_shared<BLECDataManager>()).first;
        }
        manager = it->second;
        stats_.largestRequestChunk = std::max(stats_.largestRequestChunk, value.size());
        if (value.size() >= BLECDataManager::kFirstHeaderSize && (value[1] & 0x80)) {
            stats_.announcedChunkSize = uint16_t(value[4] | (value[5] << 8));
        }
    }
    std::weak_ptr<PhoneSim> weak = weak_from_this();
    manager->proccessChunk(
        value,
        [weak]() -> std::optional<std::vector<Bytes>> {
            auto self = weak.lock();
            auto keys = self ? self->linkKeys() : std::vector<Bytes>{};
            if (keys.empty()) return std::nullopt;
            return keys;
        },
        [weak, central](uint16_t id, std::optional<Bytes> message, bool encrypted, bool compressed,
                        std::optional<Bytes> usedKey, BLECDataManager::Central) {
            if (auto self = weak.lock()) {
                self->onMessage(central, id, std::move(message), encrypted, compressed,
                                std::move(usedKey));
            }
        });
    return ble::sim::Status::Ok;
}

void PhoneSim::onMessage(const std::string& central, uint16_t id, std::optional<Bytes> message,
                         bool encrypted, bool compressed, std::optional<Bytes> usedKey) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!message) {
            ++stats_.failedRequests;
            return;
        }
        ++stats_.requests;
        stats_.requestIds.push_back(id);
        stats_.lastRequestEncrypted = encrypted;
        stats_.lastRequestCompressed = compressed;
        if (silent_) return;
    }
    if (options_.deliveredId && !options_.noAck) {
        device_->notify(blec::kServiceUuid, blec::characteristicUuid(code::kCommunicateDeliveredId),
                        blec::encodeUInt32(id), central);
    }
    std::weak_ptr<PhoneSim> weak = weak_from_this();
    std::optional<Bytes> replyKey = encrypted ? usedKey : std::nullopt;
    work_->async([weak, central, id, message = std::move(*message), replyKey, compressed] {
        auto self = weak.lock();
        if (!self || self->stopped_) return;
        if (self->options_.replyDelay > 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(self->options_.replyDelay));
        }
        Bytes answer = self->process(message);
        if (answer.empty()) return;
        bool compress = compressed;
        if (self->options_.compress == PhoneSimOptions::Compress::Always) compress = true;
        if (self->options_.compress == PhoneSimOptions::Compress::Never) compress = false;
        self->reply(central, id, answer, replyKey, compress);
    });
}

Bytes PhoneSim::process(const Bytes& request) {
    using apache::thrift::protocol::TMessageType;
    std::string name;
    try {
        auto peek = makeCompactProtocol(makeReadBuffer(request.data(), request.size()));
        TMessageType type;
        int32_t seq = 0;
        peek->readMessageBegin(name, type, seq);
    } catch (const std::exception& e) {
        std::cerr << "phone-sim: unreadable request: " << e.what() << "\n";
        return {};
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stats_.methods.push_back(name);
    }
    if (name == "approveClient" && pairing()) return processApproval(request);
    auto in = makeCompactProtocol(makeReadBuffer(request.data(), request.size()));
    auto outBuffer = makeWriteBuffer();
    auto out = makeCompactProtocol(outBuffer);
    try {
        if (storageMethods().count(name)) {
            TBNStorageServiceProcessor(storage_).process(in, out, nullptr);
        } else {
            TBNMobileStorageServiceProcessor(mobile_).process(in, out, nullptr);
        }
    } catch (const std::exception& e) {
        std::cerr << "phone-sim: request failed: " << e.what() << "\n";
        return {};
    }
    const std::string bytes = outBuffer->getBufferAsString();
    return Bytes(bytes.begin(), bytes.end());
}

void PhoneSim::reply(const std::string& central, uint16_t id, const Bytes& answer,
                     std::optional<Bytes> key, bool compress) {
    uint16_t mtu;
    int dropAfter;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = mtus_.find(central);
        if (it == mtus_.end()) return;  // the central went away
        mtu = it->second;
        dropAfter = disconnectAfterChunks_;
    }
    uint16_t chunkSize = uint16_t(mtu - 3);
    if (options_.chunkSize) chunkSize = std::min(chunkSize, options_.chunkSize);
    BLECDataManager splitter;
    const auto chunks = splitter.splitDataToChunks(answer, id, chunkSize, key, compress);
    const char* channel = options_.secondChannel ? code::kCommunicate2 : code::kCommunicate;
    int sent = 0;
    for (const auto& chunk : chunks) {
        if (stopped_) return;
        if (dropAfter >= 0 && sent >= dropAfter) {
            device_->disconnectCentral(central);
            return;
        }
        device_->notify(blec::kServiceUuid, blec::characteristicUuid(channel), chunk, central);
        ++sent;
        if (options_.chunkPause > 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(options_.chunkPause));
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++stats_.replies;
}

}  // namespace lumvane::phonesim
