#pragma once
// The process-wide store of known peripherals (by BLE identifier) with the map
// from a phone's device id to the peripheral it was last seen on. It keeps
// nothing on disk: its delegate replaces the content at set-up and saves the
// records after every change notification.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "runtime/Bytes.h"

namespace lumvane {

enum TBNBlecPeripheralState : uint64_t {
    TBNBlecPeripheralStateUnknown = 0,
    TBNBlecPeripheralStateNotAvailable = 1,
    TBNBlecPeripheralStateAvailable = 2,
    TBNBlecPeripheralStateUnsupported = 3,
    TBNBlecPeripheralStateSupported = 4,
    TBNBlecPeripheralStateFound = 5,
};

// One known peripheral. Users change fields outside the store's lock, so each
// record guards its own fields.
class TBNBlecPeripheral {
  public:
    explicit TBNBlecPeripheral(std::string bleId);  // initWithPeripheralBleId:

    static std::string strBlecPeripheralStateByState(uint64_t state);

    uint64_t state() const;
    void setState(uint64_t v);
    std::string bleId() const;
    void setBleId(std::string v);
    std::optional<std::string> deviceId() const;
    void setDeviceId(std::optional<std::string> v);
    std::optional<std::string> deviceName() const;
    void setDeviceName(std::optional<std::string> v);
    std::optional<std::string> deviceModel() const;
    void setDeviceModel(std::optional<std::string> v);
    std::optional<std::string> osVersion() const;
    void setOsVersion(std::optional<std::string> v);
    std::optional<std::string> appVersion() const;
    void setAppVersion(std::optional<std::string> v);
    std::optional<std::string> authToken() const;
    void setAuthToken(std::optional<std::string> v);
    std::optional<Bytes> authResponseData() const;
    void setAuthResponseData(std::optional<Bytes> v);
    double nextConnectTime() const;
    void setNextConnectTime(double v);
    uint64_t failConnectCount() const;
    void setFailConnectCount(uint64_t v);

  private:
    mutable std::mutex mutex_;
    uint64_t state_ = 0;
    std::string bleId_;
    std::optional<std::string> deviceId_, deviceName_, deviceModel_, osVersion_, appVersion_,
        authToken_;
    std::optional<Bytes> authResponseData_;
    double nextConnectTime_ = 0;
    uint64_t failConnectCount_ = 0;
};

class TBNBlecPeripheralStore;

class TBNBlecPeripheralStoreDelegate {
  public:
    virtual ~TBNBlecPeripheralStoreDelegate() = default;
    virtual void blecPeripheralStoreDidUpdate(TBNBlecPeripheralStore& store) = 0;
};

class TBNBlecPeripheralStore {
  public:
    using Record = std::shared_ptr<TBNBlecPeripheral>;
    // Runs a notification; the default hands it to the background global queue.
    using Notifier = std::function<void(std::function<void()>)>;

    static TBNBlecPeripheralStore& sharedStore();
    TBNBlecPeripheralStore();
    TBNBlecPeripheralStore(const TBNBlecPeripheralStore&) = delete;
    TBNBlecPeripheralStore& operator=(const TBNBlecPeripheralStore&) = delete;

    std::shared_ptr<TBNBlecPeripheralStoreDelegate> delegate() const;
    void setDelegate(std::weak_ptr<TBNBlecPeripheralStoreDelegate> delegate);
    // Tests run notifications inline this way.
    void setNotifier(Notifier notifier);

    std::optional<std::string> bleIdByDeviceId(const std::string& deviceId) const;
    void setBleId(const std::string& bleId, const std::string& deviceId);  // setBleId:forDeviceId:
    std::vector<Record> allBlePeripherals() const;
    void setAllBlePeripheralsFromArray(const std::vector<Record>& records);
    Record blePeripheralByBleId(const std::string& bleId) const;
    void setBlePeripheral(Record record, const std::string& bleId);  // setBlePeripheral:forBleId:
    void removeBlePeripheralByBleId(const std::string& bleId);
    void removeAllBlePeripherals();
    void resetPeripheralByDeviceId(const std::string& deviceId);
    std::optional<std::string> deviceNameByDeviceId(const std::string& deviceId) const;
    std::optional<std::string> deviceModelByDeviceId(const std::string& deviceId) const;
    std::optional<std::string> osVersionByDeviceId(const std::string& deviceId) const;
    std::optional<std::string> deviceModelNameByDeviceId(const std::string& deviceId) const;
    static std::optional<std::string> modelNameForModelIdentifier(
        const std::optional<std::string>& identifier);
    void notify();

  private:
    Record recordForDeviceIdLocked(const std::string& deviceId) const;

    mutable std::recursive_mutex mutex_;
    std::weak_ptr<TBNBlecPeripheralStoreDelegate> delegate_;
    Notifier notifier_;
    std::map<std::string, Record> peripherals_;
    std::map<std::string, std::string> deviceIdStore_;
};

}  // namespace lumvane
