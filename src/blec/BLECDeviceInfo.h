#pragma once
// What a phone reports about itself over the link (BLECDeviceInfo, filled by its
// connection from the phone's characteristics), and the phone the phone client is
// handling with its connection (BLECPeripheral).
//
// A device record is written by its connection on the Bluetooth LE queue and read
// by other threads: every field is guarded by the record's own lock, and
// snapshot() gives a consistent copy of all of them at once.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "runtime/Bytes.h"

namespace lumvane {

class BLECMutableThriftFactoryTransport;

// A consistent copy of a device record.
struct BLECDeviceInfoValues {
    uint32_t rssi = 0;
    std::optional<std::string> did;
    std::optional<std::string> name;
    std::optional<std::string> token;
    std::optional<std::string> model;
    uint32_t batteryLevel = 0;
    uint32_t batteryState = 0;
    std::optional<std::string> osVersion;
    std::optional<std::string> appVersion;
    uint32_t appState = 0;
    std::optional<std::string> bleId;
    std::optional<Bytes> authResponseData;
    bool operator==(const BLECDeviceInfoValues&) const = default;
};

class BLECDeviceInfo {
  public:
    BLECDeviceInfo() = default;
    virtual ~BLECDeviceInfo() = default;
    BLECDeviceInfo(const BLECDeviceInfo&) = delete;
    BLECDeviceInfo& operator=(const BLECDeviceInfo&) = delete;

    uint32_t rssi() const;
    std::optional<std::string> did() const;
    std::optional<std::string> name() const;
    std::optional<std::string> token() const;
    std::optional<std::string> model() const;
    uint32_t batteryLevel() const;
    uint32_t batteryState() const;
    std::optional<std::string> osVersion() const;
    std::optional<std::string> appVersion() const;
    uint32_t appState() const;
    std::optional<std::string> bleId() const;
    std::optional<Bytes> authResponseData() const;

    BLECDeviceInfoValues snapshot() const;

  protected:
    mutable std::mutex mutex_;
    BLECDeviceInfoValues v_;
};

class BLECMutableDeviceInfoDelegate {
  public:
    virtual ~BLECMutableDeviceInfoDelegate() = default;
    virtual void deviceInfoDidBatarryInfoUpdated(class BLECMutableDeviceInfo&) {}
    virtual void deviceInfoDidAppStateUpdated(class BLECMutableDeviceInfo&) {}
};

class BLECMutableDeviceInfo : public BLECDeviceInfo {
  public:
    BLECMutableDeviceInfo() = default;
    // initWithId:token:name:model:osVersion:appVersion:
    BLECMutableDeviceInfo(std::optional<std::string> did, std::optional<std::string> token,
                          std::optional<std::string> name, std::optional<std::string> model,
                          std::optional<std::string> osVersion,
                          std::optional<std::string> appVersion);

    std::shared_ptr<BLECMutableDeviceInfoDelegate> delegate() const;
    void setDelegate(std::weak_ptr<BLECMutableDeviceInfoDelegate> delegate);

    void updateRSSI(uint32_t v);
    void updateDid(std::optional<std::string> v);
    void updateName(std::optional<std::string> v);
    void updateToken(std::optional<std::string> v);
    void updateModel(std::optional<std::string> v);
    void updateBatteryLevel(uint32_t v);
    void updateBatteryState(uint32_t v);
    void updateOsVersion(std::optional<std::string> v);
    void updateAppVersion(std::optional<std::string> v);
    void updateBLEId(std::optional<std::string> v);
    void updateAuthResponseData(std::optional<Bytes> v);
    // Sets both; tells the delegate only when either changed.
    void updateBatarryLevel(uint32_t level, uint32_t state);
    // Sets the app state and tells the delegate, also when it did not change.
    void updateAppState(uint32_t v);
    // Sets the app state when it differs; true when it changed (the connection
    // tells its delegate only then).
    bool updateAppStateIfChanged(uint32_t v);

  private:
    std::weak_ptr<BLECMutableDeviceInfoDelegate> delegate_;
};

// The phone the phone client is handling. Made only by the client; it owns the
// connection, and the connection refers back to it weakly.
class BLECPeripheral {
  public:
    BLECPeripheral() = default;

    std::optional<std::string> bleId() const;
    void setBleId(std::optional<std::string> v);
    std::shared_ptr<BLECMutableThriftFactoryTransport> transport() const;
    void setTransport(std::shared_ptr<BLECMutableThriftFactoryTransport> v);
    bool sentFounded() const;
    void setSentFounded(bool v);

  private:
    mutable std::mutex mutex_;
    std::optional<std::string> bleId_;
    std::shared_ptr<BLECMutableThriftFactoryTransport> transport_;
    bool sentFounded_ = false;
};

}  // namespace lumvane
