#include "PhoneMobileStorage.h"

#include <algorithm>

#include "PhoneVault.h"
#include "protocol/services/SiteDataPayload.h"

namespace lumvane::phonesim {

PhoneMobileStorage::PhoneMobileStorage(PhoneVault& vault) : vault_(vault) {}

void PhoneMobileStorage::setBackUp(std::optional<Bytes> backUp, int64_t lastBackUpTime) {
    std::lock_guard<std::mutex> lock(mutex_);
    backUp_ = std::move(backUp);
    lastBackUpTime_ = lastBackUpTime;
}

void PhoneMobileStorage::setClipboard(std::shared_ptr<TBNLoadDataForClipboardResponse> answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    clipboard_ = std::move(answer);
}

void PhoneMobileStorage::setUrlToOpen(std::optional<std::string> url) {
    std::lock_guard<std::mutex> lock(mutex_);
    url_ = std::move(url);
}

void PhoneMobileStorage::setExportRecords(std::shared_ptr<TBNSiteDataCollection> records) {
    std::lock_guard<std::mutex> lock(mutex_);
    exportRecords_ = std::move(records);
    exportPayload_.reset();
}

void PhoneMobileStorage::setExportPayload(int32_t typeSerialize, Bytes bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    exportPayload_ = std::make_pair(typeSerialize, std::move(bytes));
}

void PhoneMobileStorage::setU2FResponder(U2FResponder responder) {
    std::lock_guard<std::mutex> lock(mutex_);
    u2f_ = std::move(responder);
}

void PhoneMobileStorage::setBeforeAnswer(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    beforeAnswer_ = std::move(hook);
}

void PhoneMobileStorage::setMethodError(const std::string& method,
                                        std::shared_ptr<TBNError> error) {
    std::lock_guard<std::mutex> lock(mutex_);
    methodErrors_.erase(std::remove_if(methodErrors_.begin(), methodErrors_.end(),
                                       [&](const auto& e) { return e.first == method; }),
                        methodErrors_.end());
    if (error) methodErrors_.emplace_back(method, std::move(error));
}

PhoneMobileStorage::Received PhoneMobileStorage::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::shared_ptr<TBNSiteDataCollection> PhoneMobileStorage::vaultCollection() const {
    auto records = std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>();
    {
        std::lock_guard<std::mutex> lock(vault_.mutex_);
        for (const auto& site : vault_.content_.sites)
            records->push_back(PhoneVault::siteRecord(site, true, true));
    }
    auto collection = std::make_shared<TBNSiteDataCollection>();
    collection->setRecords(records);
    collection->setUpdateTimeStamp(0);
    collection->setU2fRecords(std::make_shared<std::vector<std::shared_ptr<TBNU2FData>>>());
    return collection;
}

// The calls this file answers; the rest go to the vault's own handler.
class PhoneMobileStorage::Service : public TBNMobileStorageService {
  public:
    Service(PhoneMobileStorage& s, std::shared_ptr<TBNMobileStorageService> inner)
        : s_(s), inner_(std::move(inner)) {}

    std::shared_ptr<TBNApproveClientResponse> approveClient(
        std::shared_ptr<TBNApproveClientRequest> r) override {
        return inner_->approveClient(r);
    }
    std::shared_ptr<TBNUpdateInfoResponse> updateInfo(
        std::shared_ptr<TBNUpdateInfoRequest> r) override {
        return inner_->updateInfo(r);
    }
    std::shared_ptr<TBNGetSitesCacheResponse> getSitesCache(
        std::shared_ptr<TBNGetSitesCacheRequest> r) override {
        before("getSitesCache");
        {
            std::lock_guard<std::mutex> lock(s_.mutex_);
            CacheRequest seen;
            seen.method = "getSitesCache";
            seen.updateTimeStamp = r->updateTimeStampIsSet() ? r->updateTimeStamp() : -1;
            seen.includeAccountsCache = r->includeAccountsCache();
            s_.received_.cacheRequests.push_back(seen);
        }
        return inner_->getSitesCache(r);
    }
    std::shared_ptr<TBNGetAccountsCacheResponse> getAccountsCache(
        std::shared_ptr<TBNGetAccountsCacheRequest> r) override {
        before("getAccountsCache");
        {
            std::lock_guard<std::mutex> lock(s_.mutex_);
            CacheRequest seen;
            seen.method = "getAccountsCache";
            seen.updateTimeStamp = r->updateTimeStampIsSet() ? r->updateTimeStamp() : -1;
            seen.siteUrl = r->siteUrl();
            seen.domain = r->domain();
            s_.received_.cacheRequests.push_back(seen);
        }
        return inner_->getAccountsCache(r);
    }

    std::shared_ptr<TBNGetBackUpResponse> getBackUp(
        std::shared_ptr<TBNGetBackUpRequest> r) override {
        before("getBackUp");
        auto resp = std::make_shared<TBNGetBackUpResponse>();
        std::lock_guard<std::mutex> lock(s_.mutex_);
        s_.received_.backUpRequests.push_back({r->lastBackUpTime()});
        if (refuse("getBackUp", r->info(), r->auth(), *resp)) return resp;
        if (s_.backUp_) {
            resp->setBackUp(s_.backUp_);
            resp->setLastBackUpTime(s_.lastBackUpTime_);
        }
        return resp;
    }

    void setBackUpResult(std::shared_ptr<TBNSetBackUpResult> r) override {
        before("setBackUpResult");
        std::lock_guard<std::mutex> lock(s_.mutex_);
        note(r->auth());
        s_.received_.backUpResults.push_back({r->result(), r->backupTime()});
    }

    void setBackUp(std::shared_ptr<TBNSetBackUp> r) override {
        before("setBackUp");
        std::lock_guard<std::mutex> lock(s_.mutex_);
        note(r->auth());
        s_.received_.restores.push_back({r->backUp(), r->result()});
    }

    std::shared_ptr<TBNSendPasswordResponse> sendPassword(
        std::shared_ptr<TBNSendPasswordRequest> r) override {
        before("sendPassword");
        auto resp = std::make_shared<TBNSendPasswordResponse>();
        std::lock_guard<std::mutex> lock(s_.mutex_);
        if (refuse("sendPassword", r->info(), r->auth(), *resp)) return resp;
        s_.received_.passwords.push_back(r->newPassword().value_or(""));
        return resp;
    }

    std::shared_ptr<TBNLoadDataForClipboardResponse> loadDataForClipboard(
        std::shared_ptr<TBNLoadDataForClipboardRequest> r) override {
        before("loadDataForClipboard");
        std::lock_guard<std::mutex> lock(s_.mutex_);
        auto resp = s_.clipboard_
                        ? std::make_shared<TBNLoadDataForClipboardResponse>(*s_.clipboard_)
                        : std::make_shared<TBNLoadDataForClipboardResponse>();
        if (refuse("loadDataForClipboard", r->info(), r->auth(), *resp)) {
            auto bare = std::make_shared<TBNLoadDataForClipboardResponse>();
            bare->setInfo(resp->info());
            return bare;
        }
        ++s_.received_.clipboardRequests;
        return resp;
    }

    std::shared_ptr<TBNGetUrlToOpenResponce> getUrlToOpen(
        std::shared_ptr<TBNGetUrlToOpenRequest> r) override {
        before("getUrlToOpen");
        auto resp = std::make_shared<TBNGetUrlToOpenResponce>();
        std::lock_guard<std::mutex> lock(s_.mutex_);
        if (refuse("getUrlToOpen", r->info(), r->auth(), *resp)) return resp;
        ++s_.received_.urlRequests;
        if (s_.url_) resp->setUrl(s_.url_);
        return resp;
    }

    std::shared_ptr<TBNRequestForImportSiteDataResponse> requestForImportSiteData(
        std::shared_ptr<TBNRequestForImportSiteDataRequest> r) override {
        before("requestForImportSiteData");
        auto resp = std::make_shared<TBNRequestForImportSiteDataResponse>();
        std::lock_guard<std::mutex> lock(s_.mutex_);
        ImportRequest seen;
        seen.source = r->sourceIsSet() ? r->source() : -1;
        seen.sourceName = r->sourceName();
        seen.sourceDetail = r->sourceDetail();
        seen.recordCount = r->recordCountIsSet() ? r->recordCount() : -1;
        s_.received_.importRequests.push_back(seen);
        if (refuse("requestForImportSiteData", r->info(), r->auth(), *resp)) return resp;
        resp->setToken(newToken("IMPORT", s_.importTokens_));
        return resp;
    }

    std::shared_ptr<TBNImportSiteDataResponse> importSiteData(
        std::shared_ptr<TBNImportSiteDataRequest> r) override {
        before("importSiteData");
        auto resp = std::make_shared<TBNImportSiteDataResponse>();
        std::lock_guard<std::mutex> lock(s_.mutex_);
        if (refuse("importSiteData", r->info(), r->auth(), *resp)) return resp;
        const std::string token = r->token().value_or("");
        if (!takeToken(token, s_.importTokens_)) {
            s_.received_.badTokens.push_back(token);
            std::lock_guard<std::mutex> vaultLock(s_.vault_.mutex_);
            resp->setInfo(s_.vault_.responseFor(r->info(),
                                                PhoneVault::error(2, 4, "Import token not valid")));
            return resp;
        }
        Imported imported;
        imported.token = token;
        imported.typeSerialize = r->typeSerializeIsSet() ? r->typeSerialize() : -1;
        try {
            auto records = std::make_shared<TBNSiteDataCollection>();
            deserializeRecords(*records, r->typeSerialize(),
                               r->serializedRecords().value_or(Bytes{}));
            imported.records = records;
        } catch (const std::exception&) {
            std::lock_guard<std::mutex> vaultLock(s_.vault_.mutex_);
            resp->setInfo(s_.vault_.responseFor(
                r->info(), PhoneVault::error(4, 10, "exception: records not readable")));
        }
        s_.received_.imports.push_back(imported);
        return resp;
    }

    std::shared_ptr<TBNRequestForExportSiteDataResponse> requestForExportSiteData(
        std::shared_ptr<TBNRequestForExportSiteDataRequest> r) override {
        before("requestForExportSiteData");
        auto resp = std::make_shared<TBNRequestForExportSiteDataResponse>();
        std::lock_guard<std::mutex> lock(s_.mutex_);
        ExportRequest seen;
        seen.destination = r->destinationIsSet() ? r->destination() : -1;
        seen.destinationName = r->destinationName();
        seen.destinationDetail = r->destinationDetail();
        s_.received_.exportRequests.push_back(seen);
        if (refuse("requestForExportSiteData", r->info(), r->auth(), *resp)) return resp;
        resp->setToken(newToken("EXPORT", s_.exportTokens_));
        return resp;
    }

    std::shared_ptr<TBNExportSiteDataResponse> exportSiteData(
        std::shared_ptr<TBNExportSiteDataRequest> r) override {
        before("exportSiteData");
        auto resp = std::make_shared<TBNExportSiteDataResponse>();
        std::shared_ptr<TBNSiteDataCollection> records;
        {
            std::lock_guard<std::mutex> lock(s_.mutex_);
            if (refuse("exportSiteData", r->info(), r->auth(), *resp)) return resp;
            const std::string token = r->token().value_or("");
            if (!takeToken(token, s_.exportTokens_)) {
                s_.received_.badTokens.push_back(token);
                std::lock_guard<std::mutex> vaultLock(s_.vault_.mutex_);
                resp->setInfo(s_.vault_.responseFor(
                    r->info(), PhoneVault::error(2, 4, "Export token not valid")));
                return resp;
            }
            ++s_.received_.exports;
            if (s_.exportPayload_) {
                resp->setTypeSerialize(s_.exportPayload_->first);
                resp->setSerializedRecords(s_.exportPayload_->second);
                return resp;
            }
            records = s_.exportRecords_;
        }
        if (!records) records = s_.vaultCollection();
        auto payload = serializeRecords(*records, true);
        resp->setTypeSerialize(payload.typeSerialize);
        resp->setSerializedRecords(std::move(payload.bytes));
        return resp;
    }

    std::shared_ptr<TBNRegisterYubikeyResponse> registerYubikey(
        std::shared_ptr<TBNRegisterYubikeyRequest> r) override {
        auto resp = std::make_shared<TBNRegisterYubikeyResponse>();
        auto answer = u2f(true, "registerYubikey", *r, *resp);
        if (answer) resp->setResponseRaw(answer);
        return resp;
    }

    std::shared_ptr<TBNAuthenticationYubikeyResponse> authenticationYubikey(
        std::shared_ptr<TBNAuthenticationYubikeyRequest> r) override {
        auto resp = std::make_shared<TBNAuthenticationYubikeyResponse>();
        auto answer = u2f(false, "authenticationYubikey", *r, *resp);
        if (answer) resp->setResponseRaw(answer);
        return resp;
    }

  private:
    void before(const std::string& method) {
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard<std::mutex> lock(s_.mutex_);
            hook = s_.beforeAnswer_;
        }
        if (hook) hook(method);
    }

    // Called holding s_.mutex_. Records the caller; answers the method's forced error, the
    // vault's forced error or an authorisation failure. Sets the response's info either way.
    template <class Response>
    bool refuse(const std::string& method, const std::shared_ptr<TBNRequestInfo>& info,
                const std::shared_ptr<TBNAuthentication>& auth, Response& resp) {
        note(auth);
        std::shared_ptr<TBNError> error;
        for (const auto& e : s_.methodErrors_)
            if (e.first == method) error = e.second;
        std::lock_guard<std::mutex> vaultLock(s_.vault_.mutex_);
        if (!error) error = s_.vault_.checkAuth(auth);
        resp.setInfo(s_.vault_.responseFor(info, error));
        return resp.info()->error() != nullptr;
    }

    void note(const std::shared_ptr<TBNAuthentication>& auth) {
        s_.received_.clientIds.push_back(auth && auth->clientId() ? *auth->clientId() : "");
    }

    std::string newToken(const char* kind, std::vector<std::string>& tokens) {
        std::string token = std::string(kind) + "-TOKEN-" + std::to_string(++s_.tokenCounter_);
        tokens.push_back(token);
        return token;
    }

    static bool takeToken(const std::string& token, std::vector<std::string>& tokens) {
        auto it = std::find(tokens.begin(), tokens.end(), token);
        if (it == tokens.end()) return false;
        tokens.erase(it);
        return true;
    }

    template <class Request, class Response>
    std::optional<Bytes> u2f(bool registering, const char* method, const Request& r,
                             Response& resp) {
        before(method);
        U2FResponder responder;
        {
            std::lock_guard<std::mutex> lock(s_.mutex_);
            if (refuse(method, r.info(), r.auth(), resp)) return std::nullopt;
            U2FRequest seen;
            seen.registering = registering;
            seen.requestRaw = r.requestRaw().value_or(Bytes{});
            seen.siteUrlSet = r.siteUrlIsSet();
            seen.loginSet = r.loginIsSet();
            s_.received_.u2fRequests.push_back(seen);
            responder = s_.u2f_;
        }
        // Outside the lock: a responder may be slow on purpose.
        if (!responder) return std::nullopt;
        return responder(registering, r.requestRaw().value_or(Bytes{}));
    }

    PhoneMobileStorage& s_;
    std::shared_ptr<TBNMobileStorageService> inner_;
};

std::shared_ptr<TBNMobileStorageService> PhoneMobileStorage::wrap(
    std::shared_ptr<TBNMobileStorageService> inner) {
    return std::make_shared<Service>(*this, std::move(inner));
}

}  // namespace lumvane::phonesim
