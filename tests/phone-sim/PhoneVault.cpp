#include "PhoneVault.h"

#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "crypto/OTPGenerator.h"
#include "runtime/Digest.h"
#include "runtime/HexString.h"

namespace lumvane::phonesim {

using nlohmann::json;

namespace {

std::optional<std::string> optString(const json& j, const char* key) {
    if (!j.contains(key) || j[key].is_null()) return std::nullopt;
    if (!j[key].is_string()) throw std::runtime_error(std::string("\"") + key + "\" must be text");
    return j[key].get<std::string>();
}

template <class T>
T value(const json& j, const char* key, T fallback) {
    if (!j.contains(key) || j[key].is_null()) return fallback;
    try {
        return j[key].get<T>();
    } catch (const json::exception&) {
        throw std::runtime_error(std::string("\"") + key + "\" has the wrong type");
    }
}

std::string lowerHex(const Bytes& b) {
    std::string s = stringWithHexData(b);
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

VaultContent parseVaultJson(const std::string& text) {
    json j;
    try {
        j = json::parse(text);
    } catch (const json::exception& e) {
        throw std::runtime_error(std::string("fixture is not JSON: ") + e.what());
    }
    if (!j.is_object()) throw std::runtime_error("fixture must be a JSON object");
    VaultContent c;
    if (j.contains("device")) {
        const json& d = j["device"];
        if (!d.is_object()) throw std::runtime_error("\"device\" must be an object");
        c.device.id = optString(d, "id").value_or(c.device.id);
        c.device.name = optString(d, "name").value_or(c.device.name);
        c.device.token = optString(d, "token").value_or(c.device.token);
        c.device.model = optString(d, "model").value_or(c.device.model);
        c.device.osVersion = optString(d, "osVersion").value_or(c.device.osVersion);
        if (d.contains("appVersion")) c.device.appVersion = optString(d, "appVersion");
        c.device.batteryLevel = value<uint32_t>(d, "batteryLevel", c.device.batteryLevel);
        c.device.batteryState = value<uint32_t>(d, "batteryState", c.device.batteryState);
        c.device.appState = value<uint32_t>(d, "appState", c.device.appState);
    }
    if (j.contains("clients")) {
        for (const auto& cl : j["clients"]) {
            c.clients.emplace_back(optString(cl, "clientId").value_or(""),
                                   optString(cl, "clientSecret").value_or(""));
        }
    }
    if (j.contains("sites")) {
        if (!j["sites"].is_array()) throw std::runtime_error("\"sites\" must be a list");
        for (const auto& s : j["sites"]) {
            VaultSite site;
            auto domain = optString(s, "domain");
            if (!domain || domain->empty()) throw std::runtime_error("a site needs a \"domain\"");
            site.domain = *domain;
            site.siteUrl = optString(s, "siteUrl").value_or("https://" + site.domain);
            site.displayName = optString(s, "displayName");
            site.updateTimeStamp = value<int64_t>(s, "updateTimeStamp", 0);
            site.isSecured = value<bool>(s, "isSecured", false);
            site.isFavorited = value<bool>(s, "isFavorited", false);
            if (s.contains("formUrls")) {
                for (const auto& u : s["formUrls"]) site.formUrls.push_back(u.get<std::string>());
            }
            if (s.contains("logins")) {
                for (const auto& l : s["logins"]) {
                    VaultLogin login;
                    auto name = optString(l, "login");
                    if (!name) throw std::runtime_error("a login needs \"login\"");
                    login.login = *name;
                    login.password = optString(l, "password").value_or("");
                    login.email = optString(l, "email");
                    login.notes = optString(l, "notes");
                    login.title = optString(l, "title");
                    login.isSecured = value<bool>(l, "isSecured", false);
                    if (l.contains("twoFactor")) {
                        const json& t = l["twoFactor"];
                        VaultTwoFactor tf;
                        tf.secret = hexData(optString(t, "secretHex").value_or(""));
                        tf.algorithm = optString(t, "algorithm").value_or("SHA1");
                        tf.digits = value<int64_t>(t, "digits", 6);
                        tf.period = value<double>(t, "period", 30);
                        login.twoFactor = tf;
                    }
                    site.logins.push_back(std::move(login));
                }
            }
            c.sites.push_back(std::move(site));
        }
    }
    return c;
}

VaultContent loadVaultFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read fixture " + path);
    std::stringstream ss;
    ss << in.rdbuf();
    return parseVaultJson(ss.str());
}

// ---- shared helpers -------------------------------------------------------------

PhoneVault::PhoneVault(VaultContent content) : content_(std::move(content)) {}

VaultContent PhoneVault::content() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return content_;
}

void PhoneVault::setForcedError(std::optional<std::pair<int32_t, int64_t>> error) {
    std::lock_guard<std::mutex> lock(mutex_);
    forcedError_ = error;
}

std::shared_ptr<TBNError> PhoneVault::error(int32_t category, int64_t id, const std::string& text) {
    auto e = std::make_shared<TBNError>();
    e->setCategory(category);
    e->setId(id);
    e->setDebugMessage(text);
    return e;
}

std::shared_ptr<TBNResponseInfo> PhoneVault::responseFor(
    const std::shared_ptr<TBNRequestInfo>& info, std::shared_ptr<TBNError> err) const {
    auto r = std::make_shared<TBNResponseInfo>();
    r->setId("phone-" + std::to_string(nowSeconds()));
    r->setTimeStampUtc(nowSeconds());
    if (info) {
        r->setRequestId(info->id());
        r->setContextName(info->contextName());
    }
    if (!err && forcedError_) {
        err = error(forcedError_->first, forcedError_->second, "forced by the simulated phone");
    }
    if (err) r->setError(err);
    return r;
}

std::shared_ptr<TBNError> PhoneVault::checkAuth(
    const std::shared_ptr<TBNAuthentication>& auth) const {
    if (content_.clients.empty()) return nullptr;
    if (auth) {
        for (const auto& [id, secret] : content_.clients) {
            if (auth->clientId() == id && auth->clientSecret() == secret) return nullptr;
        }
    }
    return error(1, 1, "Client not authorized");
}

std::optional<VaultSite> PhoneVault::findSite(const std::optional<std::string>& domain,
                                              const std::optional<std::string>& siteUrl) const {
    for (const auto& s : content_.sites) {
        if (domain && !domain->empty() && s.domain == *domain) return s;
    }
    if (siteUrl) {
        for (const auto& s : content_.sites) {
            if (s.siteUrl == *siteUrl) return s;
            if (siteUrl->find("://" + s.domain) != std::string::npos) return s;
        }
    }
    return std::nullopt;
}

std::shared_ptr<TBNLoginData> PhoneVault::loginRecord(const VaultLogin& l, bool withPassword) {
    auto r = std::make_shared<TBNLoginData>();
    r->setLogin(l.login);
    r->setPasswordProvided(!l.password.empty());
    if (withPassword) r->setPassword(l.password);
    if (l.email) r->setEmail(l.email);
    if (l.notes) r->setNotes(l.notes);
    if (l.title) r->setTitle(l.title);
    r->setIsSecured(l.isSecured);
    if (l.twoFactor) {
        auto t = std::make_shared<TBNTwoFactorData>();
        t->setType(1);
        if (withPassword) t->setSecret(l.twoFactor->secret);
        t->setAlgorithm(l.twoFactor->algorithm);
        t->setDigits(l.twoFactor->digits);
        t->setPeriod(l.twoFactor->period);
        r->setTwoFactor(t);
    }
    return r;
}

std::shared_ptr<TBNSiteData> PhoneVault::siteRecord(const VaultSite& s, bool withLogins,
                                                    bool withPasswords) {
    auto r = std::make_shared<TBNSiteData>();
    r->setSiteUrl(s.siteUrl);
    r->setDomain(s.domain);
    if (s.displayName) r->setDisplayName(s.displayName);
    r->setUpdateTimeStamp(s.updateTimeStamp);
    r->setIsSecured(s.isSecured);
    r->setIsFavorited(s.isFavorited);
    r->setFormUrls(std::make_shared<std::set<std::string>>(s.formUrls.begin(), s.formUrls.end()));
    if (withLogins) {
        auto list = std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>();
        for (const auto& l : s.logins) list->push_back(loginRecord(l, withPasswords));
        r->setLoginData(list);
    }
    return r;
}

// ---- storage service ---------------------------------------------------------------

namespace {

const VaultLogin* findLogin(const VaultSite& site, const std::optional<std::string>& login) {
    for (const auto& l : site.logins) {
        if (!login || login->empty() || l.login == *login) return &l;
    }
    return nullptr;
}

class StorageHandler : public TBNStorageService {
  public:
    explicit StorageHandler(PhoneVault& v) : v_(v) {}

    std::shared_ptr<TBNGetLoginDataResponse> getLoginData(
        std::shared_ptr<TBNGetLoginDataRequest> req) override {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<TBNGetLoginDataResponse>();
        if (auto e = v_.checkAuth(req->auth())) return withInfo(resp, req->info(), e);
        auto site = v_.findSite(req->domain(), req->siteUrl());
        if (!site) return withInfo(resp, req->info(), PhoneVault::error(4, 6, "Site not found"));
        const VaultLogin* l = findLogin(*site, req->login());
        if (!l) return withInfo(resp, req->info(), PhoneVault::error(4, 8, "Account not found"));
        resp->setData(PhoneVault::loginRecord(*l, true));
        return withInfo(resp, req->info());
    }

    std::shared_ptr<TBNAddLoginDataResponse> addLoginData(
        std::shared_ptr<TBNAddLoginDataRequest> req) override {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<TBNAddLoginDataResponse>();
        if (auto e = v_.checkAuth(req->auth())) return withInfo(resp, req->info(), e);
        if (!req->loginData() || !req->loginData()->login()) {
            return withInfo(resp, req->info(), PhoneVault::error(4, 8, "Account not found"));
        }
        VaultSite* site = mutableSite(req->domain(), req->siteUrl());
        if (!site) {
            VaultSite s;
            s.domain = req->domain().value_or(req->siteUrl().value_or(""));
            s.siteUrl = req->siteUrl().value_or("https://" + s.domain);
            v_.content_.sites.push_back(s);
            site = &v_.content_.sites.back();
        }
        bool updated = false;
        for (auto& l : site->logins) {
            if (l.login == *req->loginData()->login()) {
                l.password = req->loginData()->password().value_or(l.password);
                updated = true;
            }
        }
        if (!updated) {
            VaultLogin l;
            l.login = *req->loginData()->login();
            l.password = req->loginData()->password().value_or("");
            l.isSecured = req->isSecured();
            site->logins.push_back(l);
        }
        resp->setIsUpdated(updated);
        return withInfo(resp, req->info());
    }

    std::shared_ptr<TBNDeleteLoginDataResponse> deleteLoginData(
        std::shared_ptr<TBNDeleteLoginDataRequest> req) override {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<TBNDeleteLoginDataResponse>();
        if (auto e = v_.checkAuth(req->auth())) return withInfo(resp, req->info(), e);
        VaultSite* site = mutableSite(req->domain(), req->siteUrl());
        if (!site) return withInfo(resp, req->info(), PhoneVault::error(4, 6, "Site not found"));
        auto before = site->logins.size();
        std::erase_if(site->logins, [&](const VaultLogin& l) { return l.login == req->login(); });
        if (before == site->logins.size()) {
            return withInfo(resp, req->info(), PhoneVault::error(4, 8, "Account not found"));
        }
        return withInfo(resp, req->info());
    }

    std::shared_ptr<TBNUpdateLoginDataResponse> updateLoginData(
        std::shared_ptr<TBNUpdateLoginDataRequest> req) override {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<TBNUpdateLoginDataResponse>();
        if (auto e = v_.checkAuth(req->auth())) return withInfo(resp, req->info(), e);
        VaultSite* site = mutableSite(req->domain(), req->siteUrl());
        if (!site) return withInfo(resp, req->info(), PhoneVault::error(4, 6, "Site not found"));
        for (auto& l : site->logins) {
            if (l.login == req->currentLogin() && req->loginData()) {
                l.login = req->loginData()->login().value_or(l.login);
                l.password = req->loginData()->password().value_or(l.password);
                return withInfo(resp, req->info());
            }
        }
        return withInfo(resp, req->info(), PhoneVault::error(4, 8, "Account not found"));
    }

    std::shared_ptr<TBNGetSiteDataResponse> getSiteData(
        std::shared_ptr<TBNGetSiteDataRequest> req) override {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<TBNGetSiteDataResponse>();
        if (auto e = v_.checkAuth(req->auth())) return withInfo(resp, req->info(), e);
        auto site = v_.findSite(req->domain(), req->siteUrl());
        if (!site) return withInfo(resp, req->info(), PhoneVault::error(4, 6, "Site not found"));
        resp->setRecord(
            PhoneVault::siteRecord(*site, req->includeLoginData(), req->includePasswords()));
        return withInfo(resp, req->info());
    }

    std::shared_ptr<TBNGetSiteDataListResponse> getSiteDataList(
        std::shared_ptr<TBNGetSiteDataListRequest> req) override {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<TBNGetSiteDataListResponse>();
        if (auto e = v_.checkAuth(req->auth())) return withInfo(resp, req->info(), e);
        auto list = std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>();
        for (const auto& s : v_.content_.sites) {
            list->push_back(
                PhoneVault::siteRecord(s, req->includeLoginData(), req->includePasswords()));
        }
        resp->setRecords(list);
        return withInfo(resp, req->info());
    }

    std::shared_ptr<TBNDeleteSiteDataResponse> deleteSiteData(
        std::shared_ptr<TBNDeleteSiteDataRequest> req) override {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<TBNDeleteSiteDataResponse>();
        if (auto e = v_.checkAuth(req->auth())) return withInfo(resp, req->info(), e);
        auto before = v_.content_.sites.size();
        std::erase_if(v_.content_.sites, [&](const VaultSite& s) {
            return (req->domain() && s.domain == *req->domain()) ||
                   (req->siteUrl() && s.siteUrl == *req->siteUrl());
        });
        if (before == v_.content_.sites.size()) {
            return withInfo(resp, req->info(), PhoneVault::error(4, 6, "Site not found"));
        }
        return withInfo(resp, req->info());
    }

    std::shared_ptr<TBNGet2FACodeResponse> get2FACode(
        std::shared_ptr<TBNGet2FACodeRequest> req) override {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<TBNGet2FACodeResponse>();
        if (auto e = v_.checkAuth(req->auth())) return withInfo(resp, req->info(), e);
        auto site = v_.findSite(req->domain(), req->siteUrl());
        if (!site) return withInfo(resp, req->info(), PhoneVault::error(4, 6, "Site not found"));
        const VaultLogin* l = findLogin(*site, req->login());
        if (!l || !l->twoFactor) {
            return withInfo(resp, req->info(), PhoneVault::error(4, 8, "Account not found"));
        }
        auto gen =
            TOTPGenerator::initWithSecret(l->twoFactor->secret, l->twoFactor->algorithm,
                                          uint64_t(l->twoFactor->digits), l->twoFactor->period);
        if (!gen) {
            return withInfo(resp, req->info(),
                            PhoneVault::error(4, 10, "exception: unusable two-factor secret"));
        }
        const double period = l->twoFactor->period;
        const double now = double(nowSeconds());
        const double start = std::floor(now / period) * period;
        auto at = [&](double t) {
            return gen->generateOTPForDate(TOTPGenerator::Date(std::chrono::duration<double>(t)));
        };
        resp->setCode(at(now));
        resp->setPrevCode(at(now - period));
        resp->setNextCode(at(now + period));
        resp->setPeriod(int16_t(period));
        resp->setStartTimestamp(int64_t(start));
        return withInfo(resp, req->info());
    }

  private:
    template <class R>
    std::shared_ptr<R> withInfo(std::shared_ptr<R> resp,
                                const std::shared_ptr<TBNRequestInfo>& info,
                                std::shared_ptr<TBNError> e = nullptr) {
        resp->setInfo(v_.responseFor(info, std::move(e)));
        return resp;
    }

    VaultSite* mutableSite(const std::optional<std::string>& domain,
                           const std::optional<std::string>& siteUrl) {
        for (auto& s : v_.content_.sites) {
            if ((domain && s.domain == *domain) || (siteUrl && s.siteUrl == *siteUrl)) return &s;
        }
        return nullptr;
    }

    PhoneVault& v_;
};

// ---- mobile-storage service ----------------------------------------------------------

class MobileStorageHandler : public TBNMobileStorageService {
  public:
    explicit MobileStorageHandler(PhoneVault& v) : v_(v) {}

    std::shared_ptr<TBNApproveClientResponse> approveClient(
        std::shared_ptr<TBNApproveClientRequest> req) override {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<TBNApproveClientResponse>();
        if (req->auth() && req->auth()->clientId()) {
            bool known = false;
            for (const auto& c : v_.content_.clients)
                known = known || c.first == req->auth()->clientId();
            if (!known) {
                v_.content_.clients.emplace_back(req->auth()->clientId().value_or(""),
                                                 req->auth()->clientSecret().value_or(""));
            }
        }
        resp->setDeviceId(v_.content_.device.id);
        resp->setDeviceInfo(deviceInfo());
        resp->setInfo(v_.responseFor(req->info()));
        return resp;
    }

    std::shared_ptr<TBNUpdateInfoResponse> updateInfo(
        std::shared_ptr<TBNUpdateInfoRequest> req) override {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<TBNUpdateInfoResponse>();
        auto e = v_.checkAuth(req->auth());
        if (!e) resp->setDeviceInfo(deviceInfo());
        resp->setInfo(v_.responseFor(req->info(), e));
        return resp;
    }

    std::shared_ptr<TBNGetSitesCacheResponse> getSitesCache(
        std::shared_ptr<TBNGetSitesCacheRequest> req) override {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<TBNGetSitesCacheResponse>();
        if (auto e = v_.checkAuth(req->auth())) {
            resp->setInfo(v_.responseFor(req->info(), e));
            return resp;
        }
        auto cache = std::make_shared<TBNSitesCache>();
        auto urls = std::make_shared<std::set<std::string>>();
        auto protectedUrls = std::make_shared<std::set<std::string>>();
        auto accounts =
            std::make_shared<std::map<std::string, std::shared_ptr<TBNAccountsCache>>>();
        int64_t ts = 0;
        for (const auto& s : v_.content_.sites) {
            urls->insert(s.domain);
            if (s.isSecured) protectedUrls->insert(s.domain);
            ts = std::max(ts, s.updateTimeStamp);
            if (req->includeAccountsCache()) (*accounts)[s.domain] = accountsCache(s);
        }
        cache->setUpdateTimeStamp(ts);
        cache->setUrlsCache(urls);
        cache->setProtectedUrlsCache(protectedUrls);
        if (req->includeAccountsCache()) cache->setAccountsCache(accounts);
        resp->setSitesCache(cache);
        resp->setInfo(v_.responseFor(req->info()));
        return resp;
    }

    std::shared_ptr<TBNGetAccountsCacheResponse> getAccountsCache(
        std::shared_ptr<TBNGetAccountsCacheRequest> req) override {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<TBNGetAccountsCacheResponse>();
        std::shared_ptr<TBNError> e = v_.checkAuth(req->auth());
        std::optional<VaultSite> site;
        if (!e) {
            site = v_.findSite(req->domain(), req->siteUrl());
            if (!site) e = PhoneVault::error(4, 6, "Site not found");
        }
        if (site) {
            resp->setSiteUrl(site->siteUrl);
            resp->setDomain(site->domain);
            resp->setAccountsCache(accountsCache(*site));
        }
        resp->setInfo(v_.responseFor(req->info(), e));
        return resp;
    }

    std::shared_ptr<TBNGetBackUpResponse> getBackUp(
        std::shared_ptr<TBNGetBackUpRequest> r) override {
        return notImplemented<TBNGetBackUpResponse>(r->info());
    }
    void setBackUpResult(std::shared_ptr<TBNSetBackUpResult>) override {}
    void setBackUp(std::shared_ptr<TBNSetBackUp>) override {}
    std::shared_ptr<TBNSendPasswordResponse> sendPassword(
        std::shared_ptr<TBNSendPasswordRequest> r) override {
        return notImplemented<TBNSendPasswordResponse>(r->info());
    }
    std::shared_ptr<TBNLoadDataForClipboardResponse> loadDataForClipboard(
        std::shared_ptr<TBNLoadDataForClipboardRequest> r) override {
        return notImplemented<TBNLoadDataForClipboardResponse>(r->info());
    }
    std::shared_ptr<TBNGetUrlToOpenResponce> getUrlToOpen(
        std::shared_ptr<TBNGetUrlToOpenRequest> r) override {
        return notImplemented<TBNGetUrlToOpenResponce>(r->info());
    }
    std::shared_ptr<TBNRequestForImportSiteDataResponse> requestForImportSiteData(
        std::shared_ptr<TBNRequestForImportSiteDataRequest> r) override {
        return notImplemented<TBNRequestForImportSiteDataResponse>(r->info());
    }
    std::shared_ptr<TBNImportSiteDataResponse> importSiteData(
        std::shared_ptr<TBNImportSiteDataRequest> r) override {
        return notImplemented<TBNImportSiteDataResponse>(r->info());
    }
    std::shared_ptr<TBNRequestForExportSiteDataResponse> requestForExportSiteData(
        std::shared_ptr<TBNRequestForExportSiteDataRequest> r) override {
        return notImplemented<TBNRequestForExportSiteDataResponse>(r->info());
    }
    std::shared_ptr<TBNExportSiteDataResponse> exportSiteData(
        std::shared_ptr<TBNExportSiteDataRequest> r) override {
        return notImplemented<TBNExportSiteDataResponse>(r->info());
    }
    std::shared_ptr<TBNRegisterYubikeyResponse> registerYubikey(
        std::shared_ptr<TBNRegisterYubikeyRequest> r) override {
        return notImplemented<TBNRegisterYubikeyResponse>(r->info());
    }
    std::shared_ptr<TBNAuthenticationYubikeyResponse> authenticationYubikey(
        std::shared_ptr<TBNAuthenticationYubikeyRequest> r) override {
        return notImplemented<TBNAuthenticationYubikeyResponse>(r->info());
    }

  private:
    template <class R>
    std::shared_ptr<R> notImplemented(const std::shared_ptr<TBNRequestInfo>& info) {
        std::lock_guard<std::mutex> lock(v_.mutex_);
        auto resp = std::make_shared<R>();
        resp->setInfo(v_.responseFor(info, PhoneVault::error(4, 11, "Method not implemented")));
        return resp;
    }

    std::shared_ptr<TBNDeviceInfo> deviceInfo() const {
        auto d = std::make_shared<TBNDeviceInfo>();
        d->setName(v_.content_.device.name);
        d->setModel(v_.content_.device.model);
        d->setOsVersion(v_.content_.device.osVersion);
        d->setAppVersion(v_.content_.device.appVersion);
        d->setPushToken(v_.content_.device.token);
        return d;
    }

    static std::shared_ptr<TBNAccountsCache> accountsCache(const VaultSite& s) {
        auto a = std::make_shared<TBNAccountsCache>();
        auto logins = std::make_shared<std::set<std::string>>();
        auto passwords = std::make_shared<std::set<std::string>>();
        for (const auto& l : s.logins) {
            logins->insert(lowerHex(sha256(l.login)));
            passwords->insert(lowerHex(sha256(l.login + l.password)));
        }
        a->setUpdateTimeStamp(s.updateTimeStamp);
        a->setLoginsCache(logins);
        a->setPasswordsCache(passwords);
        return a;
    }

    PhoneVault& v_;
};

}  // namespace

std::shared_ptr<TBNStorageService> PhoneVault::storageService() {
    return std::make_shared<StorageHandler>(*this);
}

std::shared_ptr<TBNMobileStorageService> PhoneVault::mobileStorageService() {
    return mobileStorage_->wrap(std::make_shared<MobileStorageHandler>(*this));
}

}  // namespace lumvane::phonesim
