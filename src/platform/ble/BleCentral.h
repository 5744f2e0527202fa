#pragma once
// The Bluetooth LE central layer: a central manager, the peripherals it finds and
// their GATT services and characteristics, with events for two delegates (one for
// the central, one per peripheral) delivered on the DispatchQueue the central was
// made with. The shape follows the system the phone link was written for, so the
// link's components can keep their event-driven design:
//
//   central:    state(), scanForPeripherals(), stopScan(), connect(),
//               cancelPeripheralConnection(), retrievePeripherals()
//   peripheral: discoverServices(), discoverCharacteristics(), readValue(),
//               writeValue(), setNotifyValue(), maximumWriteValueLength()
//
// Events of one central (its own and those of all its peripherals) arrive in the
// order they happened, one at a time, on its queue. A peripheral identifier is
// text: the BlueZ device address on real hardware, the simulated address on the
// simulated radio.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ble/BleTypes.h"

namespace lumvane {
class DispatchQueue;
}

namespace lumvane::ble {

class BleCentral;
class BlePeripheral;
class BleService;

class BleCharacteristic {
  public:
    BleCharacteristic(std::string uuid, uint32_t properties, std::weak_ptr<BleService> service);

    const std::string& uuid() const { return uuid_; }
    uint32_t properties() const { return properties_; }
    bool hasProperty(uint32_t bit) const { return (properties_ & bit) != 0; }
    std::shared_ptr<BleService> service() const { return service_.lock(); }
    // The last value read or notified (nothing before the first).
    std::optional<Bytes> value() const;
    bool isNotifying() const;

    // For implementations of the layer.
    void setValue(std::optional<Bytes> value);
    void setNotifying(bool on);

  private:
    const std::string uuid_;
    const uint32_t properties_;
    const std::weak_ptr<BleService> service_;
    mutable std::mutex mutex_;
    std::optional<Bytes> value_;
    bool notifying_ = false;
};

class BleService {
  public:
    BleService(std::string uuid, std::weak_ptr<BlePeripheral> peripheral);

    const std::string& uuid() const { return uuid_; }
    std::shared_ptr<BlePeripheral> peripheral() const { return peripheral_.lock(); }
    // Discovered characteristics, in the order the peripheral lists them.
    std::vector<std::shared_ptr<BleCharacteristic>> characteristics() const;
    // First discovered characteristic whose UUID text equals `uuid` exactly
    // (case-sensitive), or null.
    std::shared_ptr<BleCharacteristic> characteristicByCharacteristicId(
        const std::string& uuid) const;

    // For implementations of the layer.
    void setCharacteristics(std::vector<std::shared_ptr<BleCharacteristic>> list);

  private:
    const std::string uuid_;
    const std::weak_ptr<BlePeripheral> peripheral_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<BleCharacteristic>> characteristics_;
};

// Peripheral events. Every operation has an empty default.
class BlePeripheralDelegate {
  public:
    virtual ~BlePeripheralDelegate() = default;
    virtual void peripheralDidDiscoverServices(BlePeripheral&, const std::optional<BleError>&) {}
    // Services the peripheral took away (they are gone from services()).
    virtual void peripheralDidModifyServices(
        BlePeripheral&, const std::vector<std::shared_ptr<BleService>>& /*invalidated*/) {}
    virtual void peripheralDidDiscoverCharacteristicsForService(BlePeripheral&,
                                                                const std::shared_ptr<BleService>&,
                                                                const std::optional<BleError>&) {}
    // A read answer or a notification. `value` is the value of this event (the
    // characteristic's value() may already hold a later one).
    virtual void peripheralDidUpdateValueForCharacteristic(
        BlePeripheral&, const std::shared_ptr<BleCharacteristic>&,
        const std::optional<Bytes>& /*value*/, const std::optional<BleError>&) {}
    // Confirmation of a write with response.
    virtual void peripheralDidWriteValueForCharacteristic(BlePeripheral&,
                                                          const std::shared_ptr<BleCharacteristic>&,
                                                          const std::optional<BleError>&) {}
    virtual void peripheralDidUpdateNotificationStateForCharacteristic(
        BlePeripheral&, const std::shared_ptr<BleCharacteristic>&, const std::optional<BleError>&) {
    }
    virtual void peripheralDidUpdateName(BlePeripheral&) {}
    virtual void peripheralDidUpdateRSSI(BlePeripheral&, int /*rssi*/,
                                         const std::optional<BleError>&) {}
};

class BlePeripheral : public std::enable_shared_from_this<BlePeripheral> {
  public:
    explicit BlePeripheral(std::string identifier);
    virtual ~BlePeripheral();

    // The peripheral's identifier text (peripheralId).
    const std::string& identifier() const { return identifier_; }
    std::optional<std::string> name() const;
    PeripheralState state() const;
    // Discovered services, in the order the peripheral lists them.
    std::vector<std::shared_ptr<BleService>> services() const;
    // First discovered service whose UUID text equals `uuid` exactly, or null.
    std::shared_ptr<BleService> serviceByServiceId(const std::string& uuid) const;

    // The delegate is held weakly; events for a gone delegate are dropped.
    void setDelegate(std::weak_ptr<BlePeripheralDelegate> delegate);
    std::shared_ptr<BlePeripheralDelegate> delegate() const;

    // Empty filter: every service. Answer: peripheralDidDiscoverServices.
    virtual void discoverServices(const std::vector<std::string>& serviceUuids) = 0;
    // Empty filter: every characteristic. Answer: ...DidDiscoverCharacteristicsForService.
    virtual void discoverCharacteristics(const std::vector<std::string>& characteristicUuids,
                                         const std::shared_ptr<BleService>& service) = 0;
    // Answer: peripheralDidUpdateValueForCharacteristic.
    virtual void readValue(const std::shared_ptr<BleCharacteristic>& characteristic) = 0;
    // With response: answered by peripheralDidWriteValueForCharacteristic. A value
    // longer than maximumWriteValueLength(type) fails (with response: in the answer;
    // without: it is dropped and false is returned). False when the peripheral is
    // not connected or the characteristic does not take that kind of write.
    virtual bool writeValue(const Bytes& value,
                            const std::shared_ptr<BleCharacteristic>& characteristic,
                            WriteType type) = 0;
    // Answer: peripheralDidUpdateNotificationStateForCharacteristic.
    virtual void setNotifyValue(bool enabled,
                                const std::shared_ptr<BleCharacteristic>& characteristic) = 0;
    // Largest value one write of that type carries (from the connection's MTU).
    virtual size_t maximumWriteValueLength(WriteType type) const = 0;

    // For implementations of the layer.
    void setName(std::optional<std::string> name);
    void setState(PeripheralState state);
    void setServices(std::vector<std::shared_ptr<BleService>> services);

  private:
    const std::string identifier_;
    mutable std::mutex mutex_;
    std::optional<std::string> name_;
    PeripheralState state_ = PeripheralState::Disconnected;
    std::vector<std::shared_ptr<BleService>> services_;
    std::weak_ptr<BlePeripheralDelegate> delegate_;
};

// Central events. Every operation has an empty default.
class BleCentralDelegate {
  public:
    virtual ~BleCentralDelegate() = default;
    virtual void centralManagerDidUpdateState(BleCentral&) {}
    virtual void centralManagerDidDiscoverPeripheral(BleCentral&,
                                                     const std::shared_ptr<BlePeripheral>&,
                                                     const AdvertisementData&, int /*rssi*/) {}
    virtual void centralManagerDidConnectPeripheral(BleCentral&,
                                                    const std::shared_ptr<BlePeripheral>&) {}
    virtual void centralManagerDidFailToConnectPeripheral(BleCentral&,
                                                          const std::shared_ptr<BlePeripheral>&,
                                                          const std::optional<BleError>&) {}
    virtual void centralManagerDidDisconnectPeripheral(BleCentral&,
                                                       const std::shared_ptr<BlePeripheral>&,
                                                       const std::optional<BleError>&) {}
};

struct BleCentralOptions {
    // Whether the platform may ask the user to switch Bluetooth on (never, here).
    bool showPowerAlert = false;
};

class BleCentral : public std::enable_shared_from_this<BleCentral> {
  public:
    virtual ~BleCentral();

    virtual CentralState state() const = 0;
    // A system without a per-application Bluetooth permission allows every application.
    virtual CentralAuthorization authorization() const {
        return CentralAuthorization::AllowedAlways;
    }
    // Empty filter: every advertiser. With allowDuplicates every advertisement is
    // reported, else one per peripheral and scan (and again when its data change).
    virtual void scanForPeripherals(const std::vector<std::string>& serviceUuids,
                                    bool allowDuplicates) = 0;
    virtual void stopScan() = 0;
    virtual bool isScanning() const = 0;
    // Answer: centralManagerDidConnectPeripheral or ...DidFailToConnectPeripheral;
    // a connection that ends later: ...DidDisconnectPeripheral.
    virtual void connect(const std::shared_ptr<BlePeripheral>& peripheral,
                         bool notifyOnDisconnection = true) = 0;
    // Ends a connection or a pending connect; answered by ...DidDisconnectPeripheral.
    virtual void cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>& peripheral) = 0;
    // The peripherals this central knows under the given identifiers (found by a
    // scan or connected before), in the order asked; unknown ones are left out.
    virtual std::vector<std::shared_ptr<BlePeripheral>> retrievePeripherals(
        const std::vector<std::string>& identifiers) = 0;

    std::shared_ptr<BleCentralDelegate> delegate() const { return delegate_.lock(); }
    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }

  protected:
    BleCentral(std::weak_ptr<BleCentralDelegate> delegate, std::shared_ptr<DispatchQueue> queue);

    // Runs `event` on the queue after every event posted before it has finished:
    // events keep their order and never overlap, even on a concurrent queue.
    void post(std::function<void()> event);

  private:
    const std::weak_ptr<BleCentralDelegate> delegate_;
    const std::shared_ptr<DispatchQueue> queue_;
    struct EventLine;
    const std::shared_ptr<EventLine> events_;
};

// Makes the central a component asks for. The program sets one at start-up
// (BlueZ, or the simulated radio for --ble=sim:PATH).
using BleCentralFactory = std::function<std::shared_ptr<BleCentral>(
    std::weak_ptr<BleCentralDelegate>, std::shared_ptr<DispatchQueue>, const BleCentralOptions&)>;

// Process-wide factory; without one, centrals report Unsupported.
void setDefaultBleCentralFactory(BleCentralFactory factory);
std::shared_ptr<BleCentral> createBleCentral(std::weak_ptr<BleCentralDelegate> delegate,
                                             std::shared_ptr<DispatchQueue> queue,
                                             const BleCentralOptions& options = {});

// Factory for a "--ble=" value: "sim:PATH" gives the simulated radio at the
// socket PATH; nothing for a value this build cannot serve.
std::optional<BleCentralFactory> bleCentralFactoryForSpec(const std::string& spec);

}  // namespace lumvane::ble
