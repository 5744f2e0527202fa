#pragma once
// Shared pieces of the phone-client, validator and explorer tests: a radio hub per
// test, simple peripherals with a chosen advertisement and GATT table, and
// real-time waiting for events that travel over the simulated radio.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "blec/BLECCharacteristics.h"
#include "blec/TBNBlecPeriphialValidator.h"
#include "platform/ble/BleCentral.h"
#include "platform/ble/SimBleAir.h"
#include "platform/ble/SimBlePeripheral.h"

namespace lumvane::blectest {

inline std::string socketPath() {
    static std::atomic<int> n{0};
    return "/tmp/lumvane-blecclient-" + std::to_string(::getpid()) + "-" + std::to_string(n++) +
           ".sock";
}

// Polls `pred` (real time) until it holds or `limit` has passed.
inline bool waitFor(const std::function<bool()>& pred,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Lets events already on their way arrive (for checks that something did NOT happen).
inline void settle(std::chrono::milliseconds d = std::chrono::milliseconds(400)) {
    std::this_thread::sleep_for(d);
}

inline ble::sim::SimCharacteristic readable(const std::string& uuid, const std::string& text) {
    return {uuid, ble::CharacteristicProperty::Read, blec::encodeString(text)};
}

inline ble::sim::SimService deviceInformation(const std::string& model) {
    return {TBNBlecPeriphialValidator::kDeviceInformationService,
            {readable(TBNBlecPeriphialValidator::kModelNumberCharacteristic, model)}};
}

// The phone app's service with enough of its characteristics for a connection to
// read the device id and begin its handshake.
inline ble::sim::SimService appService(const std::string& deviceId,
                                       std::optional<std::string> authToken = std::nullopt,
                                       std::optional<Bytes> authResponse = std::nullopt) {
    namespace P = ble::CharacteristicProperty;
    using blec::characteristicUuid;
    ble::sim::SimService s{blec::kServiceUuid, {}};
    auto& c = s.characteristics;
    c.push_back(readable(characteristicUuid(blec::code::kDeviceId), deviceId));
    c.push_back(readable(characteristicUuid(blec::code::kDeviceName), "Look-alike"));
    c.push_back(readable(characteristicUuid(blec::code::kDeviceToken), "0000"));
    c.push_back(readable(characteristicUuid(blec::code::kDeviceModel), "iPhone9,3"));
    c.push_back(readable(characteristicUuid(blec::code::kOsVersion), "10.3.1"));
    c.push_back({characteristicUuid(blec::code::kBatteryLevel), P::Read | P::Notify,
                 blec::encodeUInt32(50)});
    c.push_back({characteristicUuid(blec::code::kBatteryState), P::Read | P::Notify,
                 blec::encodeUInt32(1)});
    c.push_back(
        {characteristicUuid(blec::code::kAppState), P::Read | P::Notify, blec::encodeUInt32(1)});
    c.push_back({characteristicUuid(blec::code::kDbUpdated), P::Notify, std::nullopt});
    c.push_back({characteristicUuid(blec::code::kCommunicate),
                 P::Write | P::WriteWithoutResponse | P::Notify, std::nullopt});
    if (authToken)
        c.push_back(readable(TBNBlecPeriphialValidator::kAuthTokenCharacteristic, *authToken));
    if (authResponse) {
        c.push_back(
            {TBNBlecPeriphialValidator::kAuthResponseDataCharacteristic, P::Read, *authResponse});
    }
    return s;
}

// A peripheral on the simulated radio with a fixed advertisement and GATT table.
class FakePeripheral {
  public:
    FakePeripheral(const std::string& path, std::string address, ble::AdvertisementData ad,
                   std::vector<ble::sim::SimService> services,
                   std::optional<std::string> name = "Fake")
        : address_(std::move(address)), ad_(std::move(ad)), services_(std::move(services)) {
        ble::sim::SimPeripheralOptions o;
        o.socketPath = path;
        o.identifier = address_;
        o.name = std::move(name);
        device_ = ble::sim::SimBlePeripheralDevice::create(o, {});
    }
    ~FakePeripheral() { device_->close(); }

    bool start() {
        return device_->open() && device_->setServices(services_) && device_->startAdvertising(ad_);
    }
    void stopAdvertising() { device_->stopAdvertising(); }
    void close() { device_->close(); }
    const std::string& address() const { return address_; }
    ble::sim::SimBlePeripheralDevice& device() { return *device_; }
    size_t connectedCentrals() const { return device_->connectedCentrals().size(); }

  private:
    std::string address_;
    ble::AdvertisementData ad_;
    std::vector<ble::sim::SimService> services_;
    std::shared_ptr<ble::sim::SimBlePeripheralDevice> device_;
};

inline ble::AdvertisementData advertising(std::vector<std::string> services) {
    ble::AdvertisementData ad;
    ad.serviceUuids = std::move(services);
    ad.isConnectable = true;
    return ad;
}

}  // namespace lumvane::blectest
