#pragma once
// The peripheral side of the simulated radio: what a simulated phone uses to
// advertise, offer its GATT services, answer reads, take writes, send
// notifications and drop centrals. It connects to the "air" hub like a central.
//
// Delegate calls run on the device's reader thread, one at a time, in the order
// the hub sent them; they may call back into the device (notify, setValue, ...).
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/ble/BleTypes.h"
#include "platform/ble/SimBleWire.h"

namespace lumvane::ble::sim {

class FrameConnection;
class SimBlePeripheralDevice;

struct SimCharacteristic {
    std::string uuid;
    uint32_t properties = 0;
    // Served to reads that the delegate leaves to the device.
    std::optional<Bytes> value;
};

struct SimService {
    std::string uuid;
    std::vector<SimCharacteristic> characteristics;
};

class SimPeripheralDelegate {
  public:
    virtual ~SimPeripheralDelegate() = default;
    virtual void simPeripheralCentralConnected(SimBlePeripheralDevice&,
                                               const std::string& /*central*/, uint16_t /*mtu*/) {}
    virtual void simPeripheralCentralDisconnected(SimBlePeripheralDevice&,
                                                  const std::string& /*central*/) {}
    // The answer to a read; nothing leaves it to the stored value (a characteristic
    // without one answers "read not permitted").
    virtual std::optional<Bytes> simPeripheralRead(SimBlePeripheralDevice&,
                                                   const std::string& /*central*/,
                                                   const std::string& /*service*/,
                                                   const std::string& /*characteristic*/) {
        return std::nullopt;
    }
    // A write from a central; the status answers a write with response.
    virtual uint8_t simPeripheralWrite(SimBlePeripheralDevice&, const std::string& /*central*/,
                                       const std::string& /*service*/,
                                       const std::string& /*characteristic*/,
                                       const Bytes& /*value*/, bool /*withResponse*/) {
        return Status::Ok;
    }
    virtual void simPeripheralSubscribe(SimBlePeripheralDevice&, const std::string& /*central*/,
                                        const std::string& /*service*/,
                                        const std::string& /*characteristic*/, bool /*enabled*/) {}
    // The hub went away (or refused this device); the device is closed.
    virtual void simPeripheralClosed(SimBlePeripheralDevice&, const std::string& /*reason*/) {}
};

struct SimPeripheralOptions {
    std::string socketPath;
    // The peripheral's address on the air, e.g. "5A:12:9C:00:00:01"; unique there.
    std::string identifier;
    std::optional<std::string> name;
    uint16_t mtu = kDefaultMtu;
};

class SimBlePeripheralDevice : public std::enable_shared_from_this<SimBlePeripheralDevice> {
  public:
    static std::shared_ptr<SimBlePeripheralDevice> create(
        SimPeripheralOptions options, std::weak_ptr<SimPeripheralDelegate> delegate);
    ~SimBlePeripheralDevice();
    SimBlePeripheralDevice(const SimBlePeripheralDevice&) = delete;
    SimBlePeripheralDevice& operator=(const SimBlePeripheralDevice&) = delete;

    // Connects to the hub; false when it cannot be reached.
    bool open();
    // Leaves the air: every central connected to it sees a disconnection.
    void close();
    bool isOpen() const;

    const std::string& identifier() const { return options_.identifier; }

    // Publishes the GATT table (replacing the previous one; connected centrals
    // hear which services changed).
    bool setServices(std::vector<SimService> services);
    // Sets the stored value of a characteristic; false when it is not offered.
    bool setValue(const std::string& service, const std::string& characteristic, Bytes value);

    bool startAdvertising(const AdvertisementData& advertisement);
    bool stopAdvertising();

    // Sends a notification to every central subscribed to the characteristic (or
    // to `central` only). Returns how many centrals it went to; a value longer
    // than a central's MTU - 3 does not go to that central.
    size_t notify(const std::string& service, const std::string& characteristic, const Bytes& value,
                  const std::string& central = {});
    bool disconnectCentral(const std::string& central);

    std::vector<std::string> connectedCentrals() const;
    bool isSubscribed(const std::string& central, const std::string& service,
                      const std::string& characteristic) const;

  private:
    SimBlePeripheralDevice(SimPeripheralOptions options,
                           std::weak_ptr<SimPeripheralDelegate> delegate);
    void onMessage(const Message& m);
    void onClosed(const std::string& reason);
    bool send(const Message& m);
    std::optional<std::pair<std::string, std::string>> key(const std::string& service,
                                                           const std::string& characteristic) const;

    const SimPeripheralOptions options_;
    const std::weak_ptr<SimPeripheralDelegate> delegate_;
    mutable std::mutex mutex_;
    std::unique_ptr<FrameConnection> connection_;
    std::vector<SimService> services_;
    std::map<std::string, uint16_t> centrals_;  // connected central -> MTU
    std::set<std::tuple<std::string, std::string, std::string>> subscriptions_;
};

}  // namespace lumvane::ble::sim
