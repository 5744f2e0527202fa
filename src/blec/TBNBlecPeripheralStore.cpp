#include "blec/TBNBlecPeripheralStore.h"

#include <utility>

#include "runtime/DispatchQueue.h"

namespace lumvane {

TBNBlecPeripheral::TBNBlecPeripheral(std::string bleId) : bleId_(std::move(bleId)) {}

std::string TBNBlecPeripheral::strBlecPeripheralStateByState(uint64_t state) {
    switch (state) {
        case 1:
            return "not available";
        case 2:
            return "available";
        case 3:
            return "unsupported";
        case 4:
            return "supported";
        case 5:
            return "found";
        default:
            return "unknown";
    }
}

#define LUMVANE_FIELD(type, getter, setter, field) \
    type TBNBlecPeripheral::getter() const {       \
        std::lock_guard<std::mutex> lock(mutex_);  \
        return field;                              \
    }                                              \
    void TBNBlecPeripheral::setter(type v) {       \
        std::lock_guard<std::mutex> lock(mutex_);  \
        field = std::move(v);                      \
    }
LUMVANE_FIELD(uint64_t, state, setState, state_)
LUMVANE_FIELD(std::string, bleId, setBleId, bleId_)
LUMVANE_FIELD(std::optional<std::string>, deviceId, setDeviceId, deviceId_)
LUMVANE_FIELD(std::optional<std::string>, deviceName, setDeviceName, deviceName_)
LUMVANE_FIELD(std::optional<std::string>, deviceModel, setDeviceModel, deviceModel_)
LUMVANE_FIELD(std::optional<std::string>, osVersion, setOsVersion, osVersion_)
LUMVANE_FIELD(std::optional<std::string>, appVersion, setAppVersion, appVersion_)
LUMVANE_FIELD(std::optional<std::string>, authToken, setAuthToken, authToken_)
LUMVANE_FIELD(std::optional<Bytes>, authResponseData, setAuthResponseData, authResponseData_)
LUMVANE_FIELD(double, nextConnectTime, setNextConnectTime, nextConnectTime_)
LUMVANE_FIELD(uint64_t, failConnectCount, setFailConnectCount, failConnectCount_)
#undef LUMVANE_FIELD

TBNBlecPeripheralStore& TBNBlecPeripheralStore::sharedStore() {
    static TBNBlecPeripheralStore store;
    return store;
}

TBNBlecPeripheralStore::TBNBlecPeripheralStore() = default;

std::shared_ptr<TBNBlecPeripheralStoreDelegate> TBNBlecPeripheralStore::delegate() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return delegate_.lock();
}

void TBNBlecPeripheralStore::setDelegate(std::weak_ptr<TBNBlecPeripheralStoreDelegate> delegate) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    delegate_ = std::move(delegate);
}

void TBNBlecPeripheralStore::setNotifier(Notifier notifier) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    notifier_ = std::move(notifier);
}

std::optional<std::string> TBNBlecPeripheralStore::bleIdByDeviceId(
    const std::string& deviceId) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto it = deviceIdStore_.find(deviceId);
    if (it == deviceIdStore_.end()) return std::nullopt;
    return it->second;
}

void TBNBlecPeripheralStore::setBleId(const std::string& bleId, const std::string& deviceId) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto it = deviceIdStore_.find(deviceId);
    if (it != deviceIdStore_.end() && it->second != bleId) peripherals_.erase(it->second);
    deviceIdStore_[deviceId] = bleId;
    notify();
}

std::vector<TBNBlecPeripheralStore::Record> TBNBlecPeripheralStore::allBlePeripherals() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<Record> out;
    for (const auto& [k, v] : peripherals_) out.push_back(v);
    return out;
}

void TBNBlecPeripheralStore::setAllBlePeripheralsFromArray(const std::vector<Record>& records) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    peripherals_.clear();
    deviceIdStore_.clear();
    for (const auto& r : records) {
        if (!r) continue;
        const std::string bleId = r->bleId();
        peripherals_[bleId] = r;
        if (auto did = r->deviceId()) deviceIdStore_[*did] = bleId;
    }
}

TBNBlecPeripheralStore::Record TBNBlecPeripheralStore::blePeripheralByBleId(
    const std::string& bleId) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto it = peripherals_.find(bleId);
    return it == peripherals_.end() ? nullptr : it->second;
}

void TBNBlecPeripheralStore::setBlePeripheral(Record record, const std::string& bleId) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (record) {
        peripherals_[bleId] = std::move(record);
    } else {
        peripherals_.erase(bleId);
    }
    notify();
}

void TBNBlecPeripheralStore::removeBlePeripheralByBleId(const std::string& bleId) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    peripherals_.erase(bleId);
    notify();
}

void TBNBlecPeripheralStore::removeAllBlePeripherals() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    peripherals_.clear();
    deviceIdStore_.clear();
    notify();
}

void TBNBlecPeripheralStore::resetPeripheralByDeviceId(const std::string& deviceId) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto it = deviceIdStore_.find(deviceId);
    if (it == deviceIdStore_.end()) return;
    const std::string bleId = it->second;
    deviceIdStore_.erase(it);
    auto rec = peripherals_.find(bleId);
    if (rec == peripherals_.end()) return;
    rec->second->setDeviceId(std::nullopt);
    rec->second->setDeviceName(std::nullopt);
    rec->second->setOsVersion(std::nullopt);
    rec->second->setAppVersion(std::nullopt);
    rec->second->setState(TBNBlecPeripheralStateSupported);
    notify();
}

TBNBlecPeripheralStore::Record TBNBlecPeripheralStore::recordForDeviceIdLocked(
    const std::string& deviceId) const {
    auto it = deviceIdStore_.find(deviceId);
    if (it == deviceIdStore_.end()) return nullptr;
    auto rec = peripherals_.find(it->second);
    return rec == peripherals_.end() ? nullptr : rec->second;
}

std::optional<std::string> TBNBlecPeripheralStore::deviceNameByDeviceId(
    const std::string& deviceId) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto r = recordForDeviceIdLocked(deviceId);
    return r ? r->deviceName() : std::nullopt;
}

std::optional<std::string> TBNBlecPeripheralStore::deviceModelByDeviceId(
    const std::string& deviceId) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto r = recordForDeviceIdLocked(deviceId);
    return r ? r->deviceModel() : std::nullopt;
}

std::optional<std::string> TBNBlecPeripheralStore::osVersionByDeviceId(
    const std::string& deviceId) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto r = recordForDeviceIdLocked(deviceId);
    return r ? r->osVersion() : std::nullopt;
}

std::optional<std::string> TBNBlecPeripheralStore::deviceModelNameByDeviceId(
    const std::string& deviceId) const {
    return modelNameForModelIdentifier(deviceModelByDeviceId(deviceId));
}

std::optional<std::string> TBNBlecPeripheralStore::modelNameForModelIdentifier(
    const std::optional<std::string>& identifier) {
    if (!identifier) return std::nullopt;
    static const std::pair<const char*, const char*> kModels[] = {
        {"iPhone1,1", "iPhone 1G"},
        {"iPhone1,2", "iPhone 3G"},
        {"iPhone2,1", "iPhone 3GS"},
        {"iPhone3,1", "iPhone 4 (GSM)"},
        {"iPhone3,2", "iPhone 4 (GSM Rev A)"},
        {"iPhone3,3", "iPhone 4 (CDMA)"},
        {"iPhone4,1", "iPhone 4S"},
        {"iPhone5,1", "iPhone 5 (GSM)"},
        {"iPhone5,2", "iPhone 5 (Global)"},
        {"iPhone5,3", "iPhone 5c (GSM)"},
        {"iPhone5,4", "iPhone 5c (Global)"},
        {"iPhone6,1", "iPhone 5s (GSM)"},
        {"iPhone6,2", "iPhone 5s (Global)"},
        {"iPhone7,1", "iPhone 6 Plus"},
        {"iPhone7,2", "iPhone 6"},
        {"iPhone8,1", "iPhone 6s"},
        {"iPhone8,2", "iPhone 6s Plus"},
        {"iPhone8,4", "iPhone SE"},
        {"iPhone9,2", "iPhone 7 Plus"},
        {"iPhone9,3", "iPhone 7"},
        {"iPad1,1", "iPad 1G"},
        {"iPad2,1", "iPad 2 (Wi-Fi)"},
        {"iPad2,2", "iPad 2 (GSM)"},
        {"iPad2,3", "iPad 2 (CDMA)"},
        {"iPad2,4", "iPad 2 (Rev A)"},
        {"iPad3,1", "iPad 3 (Wi-Fi)"},
        {"iPad3,2", "iPad 3 (GSM)"},
        {"iPad3,3", "iPad 3 (Global)"},
        {"iPad3,4", "iPad 4 (Wi-Fi)"},
        {"iPad3,5", "iPad 4 (GSM)"},
        {"iPad3,6", "iPad 4 (Global)"},
        {"iPad4,1", "iPad Air (Wi-Fi)"},
        {"iPad4,2", "iPad Air (Cellular)"},
        {"iPad5,3", "iPad Air 2 (Wi-Fi)"},
        {"iPad5,4", "iPad Air 2 (Cellular)"},
        {"iPad2,5", "iPad mini 1G (Wi-Fi)"},
        {"iPad2,6", "iPad mini 1G (GSM)"},
        {"iPad2,7", "iPad mini 1G (Global)"},
        {"iPad4,4", "iPad mini 2G (Wi-Fi)"},
        {"iPad4,5", "iPad mini 2G (Cellular)"},
        {"iPad4,6", "iPad mini 2G (Cellular)"},
        {"iPad4,7", "iPad mini 3G (Wi-Fi)"},
        {"iPad4,8", "iPad mini 3G (Cellular)"},
        {"iPad4,9", "iPad mini 3G (Cellular)"},
        {"iPad5,1", "iPad mini 4G (Wi-Fi)"},
        {"iPad5,2", "iPad mini 4G (Cellular)"},
        {"iPad6,3", "iPad Pro (9.7 inch) 1G (Wi-Fi)"},
        {"iPad6,4", "iPad Pro (9.7 inch) 1G (Cellular)"},
        {"iPad6,7", "iPad Pro (12.9 inch) 1G (Wi-Fi)"},
        {"iPad6,8", "iPad Pro (12.9 inch) 1G (Cellular)"},
        {"iPod1,1", "iPod touch 1G"},
        {"iPod2,1", "iPod touch 2G"},
        {"iPod3,1", "iPod touch 3G"},
        {"iPod4,1", "iPod touch 4G"},
        {"iPod5,1", "iPod touch 5G"},
        {"iPod7,1", "iPod touch 6G"},
        {"AppleTV1,1", "Apple TV 1G"},
        {"AppleTV2,1", "Apple TV 2G"},
        {"AppleTV3,1", "Apple TV 3G"},
        {"AppleTV3,2", "Apple TV 3G"},
        {"AppleTV5,3", "Apple TV 4G"}};
    for (const auto& [id, name] : kModels) {
        if (*identifier == id) return std::string(name);
    }
    return identifier;
}

void TBNBlecPeripheralStore::notify() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto d = delegate_.lock();
    if (!d) return;
    std::weak_ptr<TBNBlecPeripheralStoreDelegate> weak = d;
    auto call = [this, weak] {
        if (auto del = weak.lock()) del->blecPeripheralStoreDidUpdate(*this);
    };
    if (notifier_) {
        notifier_(call);
    } else {
        DispatchQueue::global(DispatchQueue::Priority::Background)->async(call);
    }
}

}  // namespace lumvane
