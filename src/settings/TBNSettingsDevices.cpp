// Paired and online phones, known Bluetooth LE peripherals, and deep copies of records.
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"

namespace lumvane {

namespace {

using Text = TBNSettings::Text;
using DevicePtr = TBNSettings::DevicePtr;
using DeviceMap = std::map<std::string, std::shared_ptr<TBNOSXDeviceInfo>>;
using IdMap = std::map<std::string, std::string>;

bool present(const Text& id) { return id && !id->empty(); }

// The maps are made on first use, so no operation depends on the upgrade having run.
DeviceMap& pairedMap(TBNSettings& s) {
    auto& r = s.osxSettings();
    if (!r.pairedDevices()) r.setPairedDevices(std::make_shared<DeviceMap>());
    return *r.pairedDevices();
}
IdMap& idMap(TBNSettings& s) {
    auto& r = s.osxSettings();
    if (!r.pairedDeviceIdMap()) r.setPairedDeviceIdMap(std::make_shared<IdMap>());
    return *r.pairedDeviceIdMap();
}
DeviceMap& onlineMap(TBNSettings& s) {
    auto& r = s.osxSessionSettings();
    if (!r.onlineDevices()) r.setOnlineDevices(std::make_shared<DeviceMap>());
    return *r.onlineDevices();
}

// Read-only lookups: never create anything inside a read block.
const DeviceMap* pairedMapIfAny(TBNSettings& s) { return s.osxSettings().pairedDevices().get(); }
const IdMap* idMapIfAny(TBNSettings& s) { return s.osxSettings().pairedDeviceIdMap().get(); }
const DeviceMap* onlineMapIfAny(TBNSettings& s) {
    return s.osxSessionSettings().onlineDevices().get();
}

std::shared_ptr<TBNOSXDeviceInfo> find(const DeviceMap* map, const std::string& key) {
    if (!map) return nullptr;
    auto it = map->find(key);
    return it == map->end() ? nullptr : it->second;
}

std::optional<std::string> findId(const IdMap* map, const std::string& key) {
    if (!map) return std::nullopt;
    auto it = map->find(key);
    if (it == map->end()) return std::nullopt;
    return it->second;
}

template <class Set>
std::shared_ptr<Set> copySet(const std::shared_ptr<Set>& set) {
    return set ? std::make_shared<Set>(*set) : nullptr;
}

DevicePtr readDevice(TBNSettings& s, const std::function<DevicePtr(TBNSettings&)>& block) {
    return s.valueFromSettings<DevicePtr>([&](TBNSettings& st) -> std::optional<DevicePtr> {
                return block(st);
            })
        .value_or(nullptr);
}

bool readFlag(TBNSettings& s, const std::function<bool(TBNSettings&)>& block) {
    return s.valueFromSettings<bool>([&](TBNSettings& st) -> std::optional<bool> {
                return block(st);
            })
        .value_or(false);
}

}  // namespace

// ---- copies --------------------------------------------------------------------------------

std::shared_ptr<TBNAccountsCache> TBNSettings::cloneAccountsCache(
    const std::shared_ptr<const TBNAccountsCache>& cache) {
    if (!cache) return nullptr;
    return std::make_shared<TBNAccountsCache>(cache->updateTimeStamp(), copySet(cache->loginsCache()),
                                              copySet(cache->passwordsCache()));
}

std::shared_ptr<TBNSitesCache> TBNSettings::cloneSitesCache(
    const std::shared_ptr<const TBNSitesCache>& cache) {
    if (!cache) return nullptr;
    auto accounts = std::make_shared<std::map<std::string, std::shared_ptr<TBNAccountsCache>>>();
    if (cache->accountsCache()) {
        for (const auto& [site, record] : *cache->accountsCache()) {
            (*accounts)[site] = cloneAccountsCache(record);
        }
    }
    return std::make_shared<TBNSitesCache>(cache->updateTimeStamp(), copySet(cache->urlsCache()),
                                           accounts, copySet(cache->protectedUrlsCache()));
}

DevicePtr TBNSettings::cloneDeviceInfo(const std::shared_ptr<const TBNOSXDeviceInfo>& d) {
    if (!d) return nullptr;
    return std::make_shared<TBNOSXDeviceInfo>(
        d->deviceId(), d->hardwareId(), d->rssi(), d->name(), d->model(), d->token(),
        d->batteryLevel(), d->batteryState(), d->osVersion(), d->appVersion(), d->appState(),
        d->online(), d->deviceIsNear(), cloneSitesCache(d->sitesCache()), d->publicKey());
}

// ---- paired devices -----------------------------------------------------------------------

DevicePtr TBNSettings::firstPairedDevice() {
    return readDevice(*this, [](TBNSettings& s) -> DevicePtr {
        const auto* map = pairedMapIfAny(s);
        if (!map || map->empty()) return nullptr;
        return cloneDeviceInfo(map->begin()->second);
    });
}

DevicePtr TBNSettings::pairedDeviceByHardwareId(const Text& hardwareId) {
    if (!hardwareId) return nullptr;
    return readDevice(*this, [&](TBNSettings& s) {
        return cloneDeviceInfo(find(pairedMapIfAny(s), *hardwareId));
    });
}

DevicePtr TBNSettings::pairedDeviceByDeviceId(const Text& deviceId) {
    if (!deviceId) return nullptr;
    return readDevice(*this, [&](TBNSettings& s) -> DevicePtr {
        auto hardwareId = findId(idMapIfAny(s), *deviceId);
        if (!hardwareId) return nullptr;
        return cloneDeviceInfo(find(pairedMapIfAny(s), *hardwareId));
    });
}

bool TBNSettings::isPairedDeviceByHardwareId(const Text& hardwareId) {
    if (!hardwareId) return false;
    return readFlag(*this, [&](TBNSettings& s) {
        return find(pairedMapIfAny(s), *hardwareId) != nullptr;
    });
}

bool TBNSettings::isPairedDeviceByDeviceId(const Text& deviceId) {
    if (!deviceId) return false;
    return readFlag(*this, [&](TBNSettings& s) {
        auto hardwareId = findId(idMapIfAny(s), *deviceId);
        return hardwareId && find(pairedMapIfAny(s), *hardwareId) != nullptr;
    });
}

Text TBNSettings::pairedDeviceHardwareIdByDeviceId(const Text& deviceId) {
    if (!deviceId) return std::nullopt;
    return strValueFromSettings(
        [&](TBNSettings& s) -> Text { return findId(idMapIfAny(s), *deviceId); });
}

void TBNSettings::addPairedDevice(const DevicePtr& device) {
    if (!device) return;
    if (!present(device->hardwareId()) || !present(device->deviceId())) {
        TBN_LOG_WARN("settings", "a paired phone without hardware id or device id is refused");
        return;
    }
    auto copy = cloneDeviceInfo(device);
    updateSettings([copy](TBNSettings& s) -> TBNSettingsComponents {
        pairedMap(s)[*copy->hardwareId()] = copy;
        idMap(s)[*copy->deviceId()] = *copy->hardwareId();
        return TBNSettingsComponentPairedDevices;
    });
}

bool TBNSettings::addPairedDeviceWithClientSecret(const DevicePtr& device,
                                                  const std::string& clientSecret) {
    if (!device || !present(device->hardwareId()) || !present(device->deviceId())) {
        TBN_LOG_WARN("settings", "a paired phone without hardware id or device id is refused");
        return false;
    }
    auto copy = cloneDeviceInfo(device);
    const std::string hardwareId = *copy->hardwareId();
    const std::string deviceId = *copy->deviceId();
    // What the change replaces, to put back when it does not reach the file.
    struct Before {
        DevicePtr paired;
        std::optional<std::string> hardwareIdOfDevice;
        Text secret;
        bool secretSet = false;
    };
    auto before = std::make_shared<Before>();
    const bool written = updateSettingsDurably(
        [copy, hardwareId, deviceId, clientSecret,
         before](TBNSettings& s) -> TBNSettingsComponents {
            auto& paired = pairedMap(s);
            if (auto it = paired.find(hardwareId); it != paired.end()) before->paired = it->second;
            auto& ids = idMap(s);
            if (auto it = ids.find(deviceId); it != ids.end())
                before->hardwareIdOfDevice = it->second;
            before->secret = s.osxEncryptedSettings().clientSecret();
            before->secretSet = s.osxEncryptedSettings().clientSecretIsSet();
            paired[hardwareId] = copy;
            ids[deviceId] = hardwareId;
            s.osxEncryptedSettings().setClientSecret(clientSecret);
            return TBNSettingsComponentPairedDevices;
        },
        {std::string("clientSecret")});
    if (written) return true;
    TBN_LOG_ERROR("settings", "the new pairing could not be saved; it is dropped");
    updateForCacheKey(std::string("clientSecret"),
                      [hardwareId, deviceId, before](TBNSettings& s) -> TBNSettingsComponents {
                          auto& paired = pairedMap(s);
                          if (before->paired) {
                              paired[hardwareId] = before->paired;
                          } else {
                              paired.erase(hardwareId);
                          }
                          auto& ids = idMap(s);
                          if (before->hardwareIdOfDevice) {
                              ids[deviceId] = *before->hardwareIdOfDevice;
                          } else {
                              ids.erase(deviceId);
                          }
                          if (before->secretSet) {
                              s.osxEncryptedSettings().setClientSecret(before->secret);
                          } else {
                              s.osxEncryptedSettings().unsetClientSecret();
                          }
                          return TBNSettingsComponentPairedDevices;
                      });
    return false;
}

void TBNSettings::removePairedDeviceAtHardwareId(const Text& hardwareId) {
    if (!hardwareId) return;
    updateSettings([h = *hardwareId](TBNSettings& s) -> TBNSettingsComponents {
        pairedMap(s).erase(h);
        return TBNSettingsComponentPairedDevices;
    });
}

void TBNSettings::pairDeviceAtHardwareId(const Text& hardwareId) {
    if (!hardwareId) return;
    updateSettings([h = *hardwareId](TBNSettings& s) -> TBNSettingsComponents {
        auto& online = onlineMap(s);
        auto it = online.find(h);
        if (it != online.end()) {
            auto device = it->second;
            online.erase(it);
            pairedMap(s)[h] = device;
            if (device && present(device->deviceId())) {
                idMap(s)[*device->deviceId()] = h;
            } else {
                TBN_LOG_WARN("settings", "paired a phone that has no device id; it is not indexed");
            }
        }
        return TBNSettingsComponentPairedDevices | TBNSettingsComponentOnlineDevices;
    });
}

void TBNSettings::unpairDeviceAtHardwareId(const Text& hardwareId) {
    if (!hardwareId) return;
    updateSettings([h = *hardwareId](TBNSettings& s) -> TBNSettingsComponents {
        auto& paired = pairedMap(s);
        auto it = paired.find(h);
        if (it != paired.end()) {
            auto device = it->second;
            paired.erase(it);
            if (device && device->deviceId()) idMap(s).erase(*device->deviceId());
            if (device && device->online()) onlineMap(s)[h] = device;
        }
        return TBNSettingsComponentPairedDevices | TBNSettingsComponentOnlineDevices;
    });
}

void TBNSettings::removeAllDevices() {
    updateSettings([](TBNSettings& s) -> TBNSettingsComponents {
        pairedMap(s).clear();
        idMap(s).clear();
        onlineMap(s).clear();
        return TBNSettingsComponentPairedDevices | TBNSettingsComponentOnlineDevices;
    });
}

void TBNSettings::updateDeviceInfoWithDeviceId(const Text& deviceId, const Text& hardwareId,
                                               int32_t rssi, const Text& name, const Text& model,
                                               const Text& token, int32_t batteryLevel,
                                               int32_t batteryState, const Text& osVersion,
                                               const Text& appVersion, int32_t appState,
                                               bool online) {
    if (!present(hardwareId)) return;
    updateSettings([=](TBNSettings& s) -> TBNSettingsComponents {
        const std::string& h = *hardwareId;
        bool foundAmongPaired = false;
        std::shared_ptr<TBNOSXDeviceInfo> device;
        if (const auto* paired = pairedMapIfAny(s); paired && paired->count(h)) {
            device = paired->at(h);
            foundAmongPaired = true;
        } else if (const auto* onl = onlineMapIfAny(s); onl && onl->count(h)) {
            device = onl->at(h);
        } else {
            if (!present(deviceId)) return TBNSettingsComponentDeviceInfo;
            // The same phone may be known under an earlier hardware id.
            auto earlier = findId(idMapIfAny(s), *deviceId);
            if (earlier) {
                DeviceMap* map = nullptr;
                if (find(pairedMapIfAny(s), *earlier)) {
                    map = &pairedMap(s);
                } else if (find(onlineMapIfAny(s), *earlier)) {
                    map = &onlineMap(s);
                }
                if (map) {
                    device = (*map)[*earlier];
                    map->erase(*earlier);
                    (*map)[h] = device;
                    idMap(s)[*deviceId] = h;
                }
            }
        }
        if (!device) return TBNSettingsComponentDeviceInfo;
        const int32_t previousState = device->appState();
        device->setDeviceId(deviceId);
        device->setHardwareId(hardwareId);
        device->setRssi(rssi);
        device->setName(name);
        device->setModel(model);
        device->setToken(token);
        device->setBatteryLevel(batteryLevel);
        device->setBatteryState(batteryState);
        device->setOsVersion(osVersion);
        device->setAppVersion(appVersion);
        device->setAppState(appState);
        device->setOnline(online);
        TBNSettingsComponents mask = foundAmongPaired ? TBNSettingsComponentPairedDeviceInfo
                                                      : TBNSettingsComponentDeviceInfo;
        if (appState != previousState) mask |= TBNSettingsComponentAppState;
        return mask;
    });
}

// ---- online devices -------------------------------------------------------------------------

DevicePtr TBNSettings::onlineDeviceByHardwareId(const Text& hardwareId) {
    if (!hardwareId) return nullptr;
    return readDevice(*this, [&](TBNSettings& s) {
        return cloneDeviceInfo(find(onlineMapIfAny(s), *hardwareId));
    });
}

std::vector<DevicePtr> TBNSettings::allOnlineDevices() {
    return valueFromSettings<std::vector<DevicePtr>>(
               [](TBNSettings& s) -> std::optional<std::vector<DevicePtr>> {
                   std::vector<DevicePtr> list;
                   if (const auto* map = onlineMapIfAny(s)) {
                       for (const auto& [h, d] : *map) {
                           if (d) list.push_back(cloneDeviceInfo(d));
                       }
                   }
                   return list;
               })
        .value_or(std::vector<DevicePtr>{});
}

void TBNSettings::addOnlineDevice(const DevicePtr& device) {
    if (!device) return;
    if (!present(device->hardwareId())) {
        TBN_LOG_WARN("settings", "an online phone without hardware id is refused");
        return;
    }
    auto copy = cloneDeviceInfo(device);
    updateSettings([copy](TBNSettings& s) -> TBNSettingsComponents {
        onlineMap(s)[*copy->hardwareId()] = copy;
        return TBNSettingsComponentOnlineDevices;
    });
}

void TBNSettings::removeOnlineDeviceAtHardwareId(const Text& hardwareId) {
    if (!hardwareId) return;
    updateSettings([h = *hardwareId](TBNSettings& s) -> TBNSettingsComponents {
        onlineMap(s).erase(h);
        return TBNSettingsComponentOnlineDevices;
    });
}

// ---- peripherals ------------------------------------------------------------------------------

std::vector<std::shared_ptr<TBNOSXBlecPeripheral>> TBNSettings::allBlePeripherals() {
    using List = std::vector<std::shared_ptr<TBNOSXBlecPeripheral>>;
    return valueFromSettings<List>([](TBNSettings& s) -> std::optional<List> {
               List list;
               if (const auto& stored = s.osxSettings().blecPeripherals()) {
                   for (const auto& p : *stored) {
                       if (p) list.push_back(std::make_shared<TBNOSXBlecPeripheral>(*p));
                   }
               }
               return list;
           })
        .value_or(List{});
}

void TBNSettings::setAllBlePeripherals(
    const std::vector<std::shared_ptr<TBNOSXBlecPeripheral>>& peripherals) {
    auto copy = std::make_shared<std::vector<std::shared_ptr<TBNOSXBlecPeripheral>>>();
    for (const auto& p : peripherals) {
        if (p) copy->push_back(std::make_shared<TBNOSXBlecPeripheral>(*p));
    }
    updateSettings([copy](TBNSettings& s) -> TBNSettingsComponents {
        s.osxSettings().setBlecPeripherals(copy);
        return 0;
    });
}

}  // namespace lumvane
