// Site and account caches (digests only), approved extension clients, account choices.
#include "crypto/TBNCryptHash.h"
#include "protocol/site/HostPath.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"

namespace lumvane {

namespace {

using Text = TBNSettings::Text;
using AccountsMap = std::map<std::string, std::shared_ptr<TBNAccountsCache>>;
using SitesMap = std::map<std::string, std::shared_ptr<TBNSitesCache>>;
using StringMap = std::map<std::string, std::string>;
using ListMap = std::map<std::string, std::vector<std::string>>;

bool empty(const Text& t) { return !t || t->empty(); }

TBNCryptHash::Text view(const Text& t) {
    if (!t) return std::nullopt;
    return std::string_view(*t);
}

// Digest of the site domain of a URL; a URL without one gives the digest of "".
std::string siteDigestOfUrl(const Text& url) {
    std::optional<std::string> domain = url ? siteDomainName(*url) : std::nullopt;
    return TBNCryptHash::strSha256FromSiteUrl(domain ? TBNCryptHash::Text(*domain) : std::nullopt);
}

std::shared_ptr<TBNSitesCache> localEntry(TBNSettings& s, const std::string& hardwareId) {
    const auto& local = s.osxSessionSettings().localSitesCache();
    if (!local) return nullptr;
    auto it = local->find(hardwareId);
    return it == local->end() ? nullptr : it->second;
}

std::shared_ptr<TBNSitesCache> phoneCache(TBNSettings& s, const std::string& hardwareId) {
    const auto& paired = s.osxSettings().pairedDevices();
    if (!paired) return nullptr;
    auto it = paired->find(hardwareId);
    if (it == paired->end() || !it->second) return nullptr;
    return it->second->sitesCache();
}

std::shared_ptr<TBNAccountsCache> accountsOf(const std::shared_ptr<TBNSitesCache>& sites,
                                             const std::string& siteDigest) {
    if (!sites || !sites->accountsCache()) return nullptr;
    auto it = sites->accountsCache()->find(siteDigest);
    return it == sites->accountsCache()->end() ? nullptr : it->second;
}

bool contains(const std::shared_ptr<std::set<std::string>>& set, const std::string& v) {
    return set && set->count(v) > 0;
}

template <class Map>
Map& mapOf(TBNOSXSettings& r, const std::shared_ptr<Map>& (TBNOSXSettings::*get)() const,
           void (TBNOSXSettings::*set)(std::shared_ptr<Map>)) {
    if (!(r.*get)()) (r.*set)(std::make_shared<Map>());
    return *(r.*get)();
}

bool readFlag(TBNSettings& s, const std::function<bool(TBNSettings&)>& block) {
    return s.valueFromSettings<bool>([&](TBNSettings& st) -> std::optional<bool> {
                return block(st);
            })
        .value_or(false);
}

// One lookup of a login (or login-and-password) digest for a site.
bool isCached(TBNSettings& s, const std::string& hardwareId, const std::string& siteDigest,
              const std::string& digest,
              const std::shared_ptr<std::set<std::string>>& (TBNAccountsCache::*set)() const) {
    return readFlag(s, [&](TBNSettings& st) {
        auto local = accountsOf(localEntry(st, hardwareId), siteDigest);
        if (local && contains(((*local).*set)(), digest)) return true;
        auto phone = accountsOf(phoneCache(st, hardwareId), siteDigest);
        return phone != nullptr && contains(((*phone).*set)(), digest);
    });
}

}  // namespace

// ---- caches -------------------------------------------------------------------------------

void TBNSettings::updateSitesCache(const std::shared_ptr<TBNSitesCache>& cache,
                                   const Text& forPairedDeviceByHardwareId) {
    if (!forPairedDeviceByHardwareId || !cache) return;
    // Copies of the phone's collections (a missing one stays missing).
    const int64_t timeStamp = cache->updateTimeStamp();
    auto urls = cache->urlsCache() ? std::make_shared<std::set<std::string>>(*cache->urlsCache())
                                   : nullptr;
    auto protectedUrls = cache->protectedUrlsCache()
                             ? std::make_shared<std::set<std::string>>(*cache->protectedUrlsCache())
                             : nullptr;
    std::shared_ptr<AccountsMap> accounts;
    if (cache->accountsCache()) {
        accounts = std::make_shared<AccountsMap>();
        for (const auto& [site, record] : *cache->accountsCache()) {
            (*accounts)[site] = cloneAccountsCache(record);
        }
    }
    updateCaches([=, h = *forPairedDeviceByHardwareId](TBNSettings& s) -> TBNSettingsComponents {
        if (auto local = localEntry(s, h)) {
            local->setUrlsCache(nullptr);
            local->setProtectedUrlsCache(nullptr);
            local->setAccountsCache(nullptr);
        }
        const auto& paired = s.osxSettings().pairedDevices();
        if (paired) {
            auto it = paired->find(h);
            if (it != paired->end() && it->second) {
                auto& device = *it->second;
                if (!device.sitesCache()) {
                    device.setSitesCache(
                        std::make_shared<TBNSitesCache>(0, nullptr, nullptr, nullptr));
                }
                auto& stored = *device.sitesCache();
                stored.setUpdateTimeStamp(timeStamp);
                stored.setUrlsCache(urls);
                stored.setProtectedUrlsCache(protectedUrls);
                stored.setAccountsCache(accounts);
            }
        }
        return TBNSettingsComponentCaches;
    });
}

void TBNSettings::updateAccountsCache(const std::shared_ptr<TBNAccountsCache>& cache,
                                      const Text& forSiteUrl,
                                      const Text& andPairedDeviceByHardwareId) {
    if (!forSiteUrl || !andPairedDeviceByHardwareId) return;
    auto copy = cloneAccountsCache(cache);
    const std::string siteDigest = siteDigestOfUrl(forSiteUrl);
    updateCaches([copy, siteDigest,
                    h = *andPairedDeviceByHardwareId](TBNSettings& s) -> TBNSettingsComponents {
        if (auto local = localEntry(s, h); local && local->accountsCache()) {
            local->accountsCache()->erase(siteDigest);
        }
        const auto& paired = s.osxSettings().pairedDevices();
        if (paired) {
            auto it = paired->find(h);
            if (it != paired->end() && it->second && it->second->sitesCache()) {
                auto& sites = *it->second->sitesCache();
                if (!sites.accountsCache()) sites.setAccountsCache(std::make_shared<AccountsMap>());
                if (copy) {
                    (*sites.accountsCache())[siteDigest] = copy;
                } else {
                    sites.accountsCache()->erase(siteDigest);
                }
            }
        }
        return TBNSettingsComponentCaches;
    });
}

void TBNSettings::addToCacheUserName(const Text& userName, const Text& andPassword,
                                     const Text& forSiteUrl,
                                     const Text& andPairedDeviceByHardwareId) {
    if (empty(andPairedDeviceByHardwareId)) {
        TBN_LOG_WARN("settings", "a login without the phone's hardware id is not cached");
        return;
    }
    const std::string siteDigest = siteDigestOfUrl(forSiteUrl);
    const std::string loginDigest = TBNCryptHash::strSha256FromLogin(view(userName));
    const std::string passwordDigest =
        TBNCryptHash::strSha256FromLogin(view(userName), view(andPassword));
    updateCaches([=, h = *andPairedDeviceByHardwareId](TBNSettings& s) -> TBNSettingsComponents {
        auto& session = s.osxSessionSettings();
        if (!session.localSitesCache()) session.setLocalSitesCache(std::make_shared<SitesMap>());
        auto& local = *session.localSitesCache();
        auto& entry = local[h];
        if (!entry) {
            entry = std::make_shared<TBNSitesCache>(0, nullptr, std::make_shared<AccountsMap>(),
                                                    nullptr);
        } else if (!entry->accountsCache()) {
            entry->setAccountsCache(std::make_shared<AccountsMap>());
        }
        auto& record = (*entry->accountsCache())[siteDigest];
        if (!record) {
            record = std::make_shared<TBNAccountsCache>(0, std::make_shared<std::set<std::string>>(),
                                                        std::make_shared<std::set<std::string>>());
        }
        if (!record->loginsCache()) record->setLoginsCache(std::make_shared<std::set<std::string>>());
        if (!record->passwordsCache()) {
            record->setPasswordsCache(std::make_shared<std::set<std::string>>());
        }
        record->loginsCache()->insert(loginDigest);
        record->passwordsCache()->insert(passwordDigest);
        return TBNSettingsComponentCaches;
    });
}

bool TBNSettings::cachedSiteUrl(const Text& siteUrl, const Text& forPairedDeviceByHardwareId,
                                bool* isProtected) {
    if (!forPairedDeviceByHardwareId) return false;
    if (isProtected) *isProtected = false;
    const std::string digest = TBNCryptHash::strSha256FromSiteUrl(view(siteUrl));
    const std::string h = *forPairedDeviceByHardwareId;
    auto answer = valueFromSettings<std::pair<bool, bool>>(
        [&](TBNSettings& s) -> std::optional<std::pair<bool, bool>> {
            auto local = localEntry(s, h);
            if (local && contains(local->urlsCache(), digest)) return std::pair{true, false};
            auto phone = phoneCache(s, h);
            if (!phone) return std::pair{false, false};
            if (contains(phone->urlsCache(), digest)) return std::pair{true, false};
            if (contains(phone->protectedUrlsCache(), digest)) return std::pair{true, true};
            return std::pair{false, false};
        });
    if (!answer) return false;
    if (isProtected && answer->second) *isProtected = true;
    return answer->first;
}

bool TBNSettings::isCachedUserName(const Text& userName, const Text& forSiteUrl,
                                   const Text& andPairedDeviceByHardwareId) {
    if (!andPairedDeviceByHardwareId) return false;
    return isCached(*this, *andPairedDeviceByHardwareId,
                    TBNCryptHash::strSha256FromSiteUrl(view(forSiteUrl)),
                    TBNCryptHash::strSha256FromLogin(view(userName)), &TBNAccountsCache::loginsCache);
}

bool TBNSettings::isCachedUserName(const Text& userName, const Text& andPassword,
                                   const Text& forSiteUrl,
                                   const Text& andPairedDeviceByHardwareId) {
    if (!andPairedDeviceByHardwareId) return false;
    return isCached(*this, *andPairedDeviceByHardwareId,
                    TBNCryptHash::strSha256FromSiteUrl(view(forSiteUrl)),
                    TBNCryptHash::strSha256FromLogin(view(userName), view(andPassword)),
                    &TBNAccountsCache::passwordsCache);
}

// ---- extension clients ----------------------------------------------------------------------

void TBNSettings::approveExtForClientId(const Text& clientId, const Text& andClientSecret) {
    if (empty(clientId) || empty(andClientSecret)) return;
    // A client that pings again during its registration is approved again with the same
    // secret: nothing changes, so nothing waits for a change or writes the file. The read
    // sees every change handed over before it, so a different secret queued meanwhile is
    // not mistaken for this one.
    if (isApprovedExtensionClient(clientId, andClientSecret)) return;
    updateSettings([id = *clientId, secret = *andClientSecret](TBNSettings& s) -> TBNSettingsComponents {
        // The map is made on first use: the start-up approves its own extension's
        // credentials before the upgrade has created the maps.
        mapOf<StringMap>(s.osxSettings(), &TBNOSXSettings::approvedExtIdMap,
                         &TBNOSXSettings::setApprovedExtIdMap)[id] = secret;
        return 0;
    });
}

bool TBNSettings::isApprovedExtensionClient(const Text& clientId, const Text& andClientSecret) {
    if (empty(clientId) || empty(andClientSecret)) return false;
    return readFlag(*this, [&](TBNSettings& s) {
        const auto& map = s.osxSettings().approvedExtIdMap();
        if (!map) return false;
        auto it = map->find(*clientId);
        return it != map->end() && secretsEqual(it->second, *andClientSecret);
    });
}

bool TBNSettings::isApprovedExtensionClient(const Text& clientId) {
    if (empty(clientId)) return false;
    return readFlag(*this, [&](TBNSettings& s) {
        const auto& map = s.osxSettings().approvedExtIdMap();
        return map && map->count(*clientId) > 0;
    });
}

Text TBNSettings::clientSecretByClientId(const Text& clientId) {
    if (empty(clientId)) return std::nullopt;
    return strValueFromSettings([&](TBNSettings& s) -> Text {
        const auto& map = s.osxSettings().approvedExtIdMap();
        if (!map) return std::nullopt;
        auto it = map->find(*clientId);
        if (it == map->end()) return std::nullopt;
        return it->second;
    });
}

// ---- account choices ----------------------------------------------------------------------------

std::optional<std::vector<std::string>> TBNSettings::chooseAccountsListByKey(const Text& key) {
    if (empty(key)) return std::nullopt;
    return valueFromSettings<std::vector<std::string>>(
        [&](TBNSettings& s) -> std::optional<std::vector<std::string>> {
            const auto& map = s.osxSettings().chooseAccountsCache();
            if (!map) return std::nullopt;
            auto it = map->find(*key);
            if (it == map->end()) return std::nullopt;
            return it->second;
        });
}

void TBNSettings::setChooseAccouts(const std::optional<std::vector<std::string>>& accounts,
                                   const Text& forKey) {
    if (!accounts || accounts->empty() || empty(forKey)) return;
    updateSettings([list = *accounts, key = *forKey](TBNSettings& s) -> TBNSettingsComponents {
        mapOf<ListMap>(s.osxSettings(), &TBNOSXSettings::chooseAccountsCache,
                       &TBNOSXSettings::setChooseAccountsCache)[key] = list;
        return 0;
    });
}

bool TBNSettings::existChooseAccoutForSiteUrlHash(const Text& siteUrlHash) {
    if (empty(siteUrlHash)) return false;
    return readFlag(*this, [&](TBNSettings& s) {
        const auto& map = s.osxSettings().chooseAccounts();
        return map && map->count(*siteUrlHash) > 0;
    });
}

bool TBNSettings::canChooseAccoutHash(const Text& accountHash, const Text& forSiteUrlHash) {
    if (empty(accountHash) || empty(forSiteUrlHash)) return false;
    return existChooseAccoutForSiteUrlHash(forSiteUrlHash);
}

void TBNSettings::setChooseAccoutHash(const Text& accountHash, const Text& forSiteUrlHash) {
    if (empty(accountHash) || empty(forSiteUrlHash)) return;
    updateSettings([account = *accountHash,
                    site = *forSiteUrlHash](TBNSettings& s) -> TBNSettingsComponents {
        mapOf<StringMap>(s.osxSettings(), &TBNOSXSettings::chooseAccounts,
                         &TBNOSXSettings::setChooseAccounts)[site] = account;
        return 0;
    });
}

}  // namespace lumvane
