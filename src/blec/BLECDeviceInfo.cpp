#include "blec/BLECDeviceInfo.h"

namespace lumvane {

#define LUMVANE_GETTER(type, name)                \
    type BLECDeviceInfo::name() const {           \
        std::lock_guard<std::mutex> lock(mutex_); \
        return v_.name;                           \
    }
LUMVANE_GETTER(uint32_t, rssi)
LUMVANE_GETTER(std::optional<std::string>, did)
LUMVANE_GETTER(std::optional<std::string>, name)
LUMVANE_GETTER(std::optional<std::string>, token)
LUMVANE_GETTER(std::optional<std::string>, model)
LUMVANE_GETTER(uint32_t, batteryLevel)
LUMVANE_GETTER(uint32_t, batteryState)
LUMVANE_GETTER(std::optional<std::string>, osVersion)
LUMVANE_GETTER(std::optional<std::string>, appVersion)
LUMVANE_GETTER(uint32_t, appState)
LUMVANE_GETTER(std::optional<std::string>, bleId)
LUMVANE_GETTER(std::optional<Bytes>, authResponseData)
#undef LUMVANE_GETTER

BLECDeviceInfoValues BLECDeviceInfo::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return v_;
}

BLECMutableDeviceInfo::BLECMutableDeviceInfo(std::optional<std::string> did,
                                             std::optional<std::string> token,
                                             std::optional<std::string> name,
                                             std::optional<std::string> model,
                                             std::optional<std::string> osVersion,
                                             std::optional<std::string> appVersion) {
    v_.did = std::move(did);
    v_.token = std::move(token);
    v_.name = std::move(name);
    v_.model = std::move(model);
    v_.osVersion = std::move(osVersion);
    v_.appVersion = std::move(appVersion);
}

std::shared_ptr<BLECMutableDeviceInfoDelegate> BLECMutableDeviceInfo::delegate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delegate_.lock();
}

void BLECMutableDeviceInfo::setDelegate(std::weak_ptr<BLECMutableDeviceInfoDelegate> delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = std::move(delegate);
}

#define LUMVANE_SETTER(method, type, field)       \
    void BLECMutableDeviceInfo::method(type v) {  \
        std::lock_guard<std::mutex> lock(mutex_); \
        v_.field = std::move(v);                  \
    }
LUMVANE_SETTER(updateRSSI, uint32_t, rssi)
LUMVANE_SETTER(updateDid, std::optional<std::string>, did)
LUMVANE_SETTER(updateName, std::optional<std::string>, name)
LUMVANE_SETTER(updateToken, std::optional<std::string>, token)
LUMVANE_SETTER(updateModel, std::optional<std::string>, model)
LUMVANE_SETTER(updateBatteryLevel, uint32_t, batteryLevel)
LUMVANE_SETTER(updateBatteryState, uint32_t, batteryState)
LUMVANE_SETTER(updateOsVersion, std::optional<std::string>, osVersion)
LUMVANE_SETTER(updateAppVersion, std::optional<std::string>, appVersion)
LUMVANE_SETTER(updateBLEId, std::optional<std::string>, bleId)
LUMVANE_SETTER(updateAuthResponseData, std::optional<Bytes>, authResponseData)
#undef LUMVANE_SETTER

void BLECMutableDeviceInfo::updateBatarryLevel(uint32_t level, uint32_t state) {
    bool changed;
    std::shared_ptr<BLECMutableDeviceInfoDelegate> d;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        changed = v_.batteryLevel != level || v_.batteryState != state;
        v_.batteryLevel = level;
        v_.batteryState = state;
        d = delegate_.lock();
    }
    if (changed && d) d->deviceInfoDidBatarryInfoUpdated(*this);
}

void BLECMutableDeviceInfo::updateAppState(uint32_t v) {
    std::shared_ptr<BLECMutableDeviceInfoDelegate> d;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        v_.appState = v;
        d = delegate_.lock();
    }
    if (d) d->deviceInfoDidAppStateUpdated(*this);
}

bool BLECMutableDeviceInfo::updateAppStateIfChanged(uint32_t v) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (v_.appState == v) return false;
    v_.appState = v;
    return true;
}

std::optional<std::string> BLECPeripheral::bleId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bleId_;
}
void BLECPeripheral::setBleId(std::optional<std::string> v) {
    std::lock_guard<std::mutex> lock(mutex_);
    bleId_ = std::move(v);
}
std::shared_ptr<BLECMutableThriftFactoryTransport> BLECPeripheral::transport() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return transport_;
}
void BLECPeripheral::setTransport(std::shared_ptr<BLECMutableThriftFactoryTransport> v) {
    std::lock_guard<std::mutex> lock(mutex_);
    transport_ = std::move(v);
}
bool BLECPeripheral::sentFounded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sentFounded_;
}
void BLECPeripheral::setSentFounded(bool v) {
    std::lock_guard<std::mutex> lock(mutex_);
    sentFounded_ = v;
}

}  // namespace lumvane
