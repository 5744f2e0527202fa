// Calls the service makes to the phone for its own work and for the user: site and
// accounts caches, backups, clipboard values and URLs the phone puts up, a new password,
// a new account, the import and export hand-overs and the U2F forwarding.
//
// The calls the phone triggers or that only refresh state go through
// pairedTransportForHardwareId() and do nothing while that phone is not online; the calls
// made for the user wake the phone (getOnlineTransportFactory()) and go only to the
// paired phone. Every call gets a client of its own on the connection's transport.
#include <condition_variable>
#include <exception>

#include <fmt/format.h>

#include "core/importexport/ImportPayload.h"
#include "core/pasteboard/Pasteboard.h"
#include "core/remote/TBNThriftRemoteMobileSevice.h"
#include "crypto/TBNCryptHash.h"
#include "crypto/TBNPasswordGenerator.h"
#include "protocol/TBNErrors.h"
#include "protocol/site/HostPath.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

constexpr const char* kTag = "core|thrift";
constexpr const char* kUnsupportedData = "Unsuported data format";

std::string show(const std::optional<std::string>& text) {
    return text.value_or("(null)");
}

template <class Response>
std::shared_ptr<TBNError> errorOf(const std::shared_ptr<Response>& response) {
    return response && response->info() ? response->info()->error() : nullptr;
}

std::string errorText(const std::shared_ptr<TBNError>& error) {
    if (!error) return "(null)";
    return fmt::format("({}, {}) {}", error->category(), error->id(),
                       error->debugMessage().value_or(""));
}

// What a log line may say about a response's info: never a description of a record.
template <class Response>
void logInfo(const std::shared_ptr<Response>& response, bool debugLevel = false) {
    std::string text = "(null)";
    if (response && response->info()) {
        const auto& info = response->info();
        text = fmt::format("requestId: {}, error: {}", show(info->requestId()),
                           info->error() ? errorText(info->error()) : "(null)");
    }
    if (debugLevel) {
        TBN_LOG_DEBUG(kTag, "<: {} = {} :>", "response.info", text);
    } else {
        TBN_LOG_INFO(kTag, "<: {} = {} :>", "response.info", text);
    }
}

// C++ exceptions carry no call stack; the line keeps its three-line form without one.
void logThrow(const std::exception& e) {
    TBN_LOG_ERROR(kTag, "{} = '{}'\n*** First throw call stack:\n{}", "exception", e.what(), "");
}

int64_t secondsOf(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

size_t sizeOf(const auto& pointer) {
    return pointer ? pointer->size() : 0;
}

std::shared_ptr<TBNError> unsupportedDataError() {
    return std::make_shared<TBNError>(TBNErrors::kCategoryService, 10,
                                      std::string(kUnsupportedData));
}

// One U2F request's answer: each caller waits for its own, never another request's.
struct U2FAnswerSlot {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::optional<Bytes> answer;

    void fulfil(std::optional<Bytes> value) {
        std::lock_guard<std::mutex> lock(mutex);
        if (done) return;
        done = true;
        answer = std::move(value);
        cv.notify_all();
    }
};

}  // namespace

// ---- Helpers --------------------------------------------------------------------------

std::shared_ptr<RemotePhoneTransport> TBNThriftRemoteMobileSevice::userCallTransport() {
    auto transport = getOnlineTransportFactory();
    if (!transport) return nullptr;
    // Credentials and vault data go only to the paired phone.
    return transportBelongsToPairedPhone(transport) ? transport : nullptr;
}

// ---- Site and accounts caches ---------------------------------------------------------

void TBNThriftRemoteMobileSevice::updateSiteCacheForHardwareId(
    const std::optional<std::string>& hardwareId) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    TBN_LOG_DEBUG(kTag, "hardwareId = {}", show(hardwareId));
    if (!hardwareId) {
        TBN_LOG_DEBUG_ALT_END(kTag);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(callsMutex_);
        if (!updateSitesCasheFlags_.insert(*hardwareId).second) {
            TBN_LOG_DEBUG(kTag, "[self.updateSitesCasheFlags objectForKey:hardwareId] != nil");
            TBN_LOG_DEBUG_ALT_END(kTag);
            return;
        }
    }
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    const std::string id = *hardwareId;
    async([weak, id] {
        auto self = weak.lock();
        if (!self) return;
        TBN_LOG_DEBUG_BEGIN(kTag);
        TBN_LOG_DEBUG(kTag, "default_async");
        auto transport = self->pairedTransportForHardwareId(id);
        auto record = self->settings_->pairedDeviceByHardwareId(id);
        if (!transport) {
            TBN_LOG_DEBUG(kTag, "transportFactory == nil  ({})", id);
        } else if (!record) {
            TBN_LOG_DEBUG(kTag, "deviceInfo == nil  ({})", id);
        } else {
            try {
                TBN_LOG_INFO(kTag, "get sites cache from device: '<{}> {}'",
                             show(record->hardwareId()), show(record->name()));
                auto request = std::make_shared<TBNGetSitesCacheRequest>();
                request->setInfo(self->options_.nextRequest());
                request->setAuth(self->clientAuth());
                request->setUpdateTimeStamp(
                    record->sitesCache() ? record->sitesCache()->updateTimeStamp() : 0);
                request->setIncludeAccountsCache(false);
                auto client = self->createMobileStorageServiceWithTransportFactory(transport);
                auto response = client->getSitesCache(request);
                logInfo(response);
                if (auto error = errorOf(response)) {
                    TBN_LOG_ERROR(
                        kTag, "did fail to get sites cache from device: '<{}> {}' with error: {}",
                        show(record->hardwareId()), show(record->name()), errorText(error));
                    self->processingError(error);
                } else if (response && response->sitesCache()) {
                    const auto& cache = response->sitesCache();
                    TBN_LOG_INFO(kTag, "did get sites cache from device: '<{}> {}'",
                                 show(record->hardwareId()), show(record->name()));
                    TBN_LOG_DEBUG(kTag, "<: {} = {} :>", "sitesCache.updateTimeStamp",
                                  cache->updateTimeStamp());
                    TBN_LOG_DEBUG(kTag, "<: {} = {} :>", "sitesCache.urlsCache.count",
                                  sizeOf(cache->urlsCache()));
                    TBN_LOG_DEBUG(kTag, "<: {} = {} :>", "sitesCache.accountsCache.count",
                                  sizeOf(cache->accountsCache()));
                    TBN_LOG_DEBUG(kTag, "<: {} = {} :>", "sitesCache.protectedUrlsCache.count",
                                  sizeOf(cache->protectedUrlsCache()));
                    self->settings_->updateSitesCache(TBNSettings::cloneSitesCache(cache), id);
                } else {
                    TBN_LOG_INFO(kTag, "response.siteCache == nil !!! VALIDATED !!! ({})", id);
                }
            } catch (const std::exception& e) {
                TBN_LOG_ERROR(
                    kTag, "did fail to get sites cache from device: '<{}> {}' with exception: {}",
                    show(record->hardwareId()), show(record->name()), e.what());
            }
        }
        {
            std::lock_guard<std::mutex> lock(self->callsMutex_);
            self->updateSitesCasheFlags_.erase(id);
        }
        TBN_LOG_DEBUG_END(kTag);
    });
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::updateAccountsCacheForHardwareId(
    const std::optional<std::string>& hardwareId, const std::string& siteUrl) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    TBN_LOG_DEBUG(kTag, "hardwareId = {}", show(hardwareId));
    if (!hardwareId) {
        TBN_LOG_DEBUG_ALT_END(kTag);
        return;
    }
    {
        // One refresh per phone at a time, whatever the site.
        std::lock_guard<std::mutex> lock(callsMutex_);
        if (!updateAccountsCasheFlags_.insert(*hardwareId).second) {
            TBN_LOG_DEBUG(kTag, "[self.updateAccountsCasheFlags objectForKey:hardwareId] != nil");
            TBN_LOG_DEBUG_ALT_END(kTag);
            return;
        }
    }
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    const std::string id = *hardwareId;
    async([weak, id, siteUrl] {
        auto self = weak.lock();
        if (!self) return;
        TBN_LOG_DEBUG_BEGIN(kTag);
        TBN_LOG_DEBUG(kTag, "default_async");
        auto transport = self->pairedTransportForHardwareId(id);
        auto record = self->settings_->pairedDeviceByHardwareId(id);
        if (!transport) {
            TBN_LOG_DEBUG(kTag, "transportFactory == nil  ({})", id);
        } else if (!record) {
            TBN_LOG_DEBUG(kTag, "deviceInfo == nil  ({})", id);
        } else {
            try {
                TBN_LOG_INFO(kTag, "get accounts cache from device: '<{}> {}'",
                             show(record->hardwareId()), show(record->name()));
                int64_t updateTimeStamp = 0;
                if (const auto& sites = record->sitesCache(); sites && sites->accountsCache()) {
                    const auto key = TBNCryptHash::strSha256FromSiteUrl(siteDomainName(siteUrl));
                    auto entry = sites->accountsCache()->find(key);
                    if (entry != sites->accountsCache()->end() && entry->second) {
                        updateTimeStamp = entry->second->updateTimeStamp();
                    }
                }
                auto request = std::make_shared<TBNGetAccountsCacheRequest>();
                request->setInfo(self->options_.nextRequest());
                request->setAuth(self->clientAuth());
                request->setUpdateTimeStamp(updateTimeStamp);
                request->setSiteUrl(siteUrl);
                request->setDomain(std::string());
                auto client = self->createMobileStorageServiceWithTransportFactory(transport);
                auto response = client->getAccountsCache(request);
                logInfo(response);
                if (auto error = errorOf(response)) {
                    TBN_LOG_ERROR(
                        kTag,
                        "did fail to get accounts cache from device: '<{}> {}' with error: {}",
                        show(record->hardwareId()), show(record->name()), errorText(error));
                    self->processingError(error);
                } else if (response && response->accountsCache()) {
                    const auto& cache = response->accountsCache();
                    TBN_LOG_INFO(kTag, "did get accounts cache from device: '<{}> {}'",
                                 show(record->hardwareId()), show(record->name()));
                    TBN_LOG_DEBUG(kTag, "<: {} = {} :>", "accountsCache.updateTimeStamp",
                                  cache->updateTimeStamp());
                    TBN_LOG_DEBUG(kTag, "<: {} = {} :>", "accountsCache.loginsCache.count",
                                  sizeOf(cache->loginsCache()));
                    TBN_LOG_DEBUG(kTag, "<: {} = {} :>", "accountsCache.passwordsCache.count",
                                  sizeOf(cache->passwordsCache()));
                    self->settings_->updateAccountsCache(TBNSettings::cloneAccountsCache(cache),
                                                         siteUrl, id);
                } else {
                    TBN_LOG_INFO(kTag, "response.accountsCache == nil !!! VALIDATED !!! ({})", id);
                }
            } catch (const std::exception& e) {
                TBN_LOG_ERROR(
                    kTag,
                    "did fail to get accounts cache from device: '<{}> {}' with exception: {}",
                    show(record->hardwareId()), show(record->name()), e.what());
            }
        }
        {
            std::lock_guard<std::mutex> lock(self->callsMutex_);
            self->updateAccountsCasheFlags_.erase(id);
        }
        TBN_LOG_DEBUG_END(kTag);
    });
    TBN_LOG_DEBUG_END(kTag);
}

// ---- Backup ---------------------------------------------------------------------------

void TBNThriftRemoteMobileSevice::getBackupForHardwareId(
    const std::optional<std::string>& hardwareId) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    TBN_LOG_DEBUG(kTag, "hardwareId = {}", show(hardwareId));
    auto transport = pairedTransportForHardwareId(hardwareId);
    if (!transport) {
        TBN_LOG_DEBUG(kTag, "transportFactory == nil  ({})", show(hardwareId));
        TBN_LOG_DEBUG_ALT_END(kTag);
        return;
    }
    // A backup and a restore never overlap: both run on the backup queue.
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    backupRestoreQueue_->async([weak, transport, hardwareId] {
        if (auto self = weak.lock()) self->fetchBackup(transport, hardwareId);
    });
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::fetchBackup(
    const std::shared_ptr<RemotePhoneTransport>& transport,
    const std::optional<std::string>& hardwareId) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    TBN_LOG_DEBUG(kTag, "backupRestoreQueue_async");
    backupRestoreProcessing_ = true;
    auto info = transport->deviceInfo()->snapshot();
    std::shared_ptr<TBNError> result;
    try {
        TBN_LOG_INFO(kTag, "get backUp data from device: '<{}> {}'", show(info.bleId),
                     show(info.name));
        auto request = std::make_shared<TBNGetBackUpRequest>();
        request->setInfo(options_.nextRequest());
        request->setAuth(clientAuth());
        request->setLastBackUpTime(secondsOf(settings_->lastBackupTime()));
        auto response =
            createMobileStorageServiceWithTransportFactory(transport)->getBackUp(request);
        logInfo(response, true);
        if (auto error = errorOf(response)) {
            TBN_LOG_ERROR(kTag, "did fail to get backUp data from device: '<{}> {}' with error: {}",
                          show(info.bleId), show(info.name), errorText(error));
            processingError(error);
            result = error;
        } else if (response && response->backUp()) {
            TBN_LOG_INFO(kTag, "did get backUp data from device: '<{}> {}'", show(info.bleId),
                         show(info.name));
            auto d = delegate();
            // Without the application service nothing stores the bytes: not a success.
            result = d ? d->remoteMobileCanSaveBackUp(*this, *response->backUp())
                       : TBNErrors::internalException(std::string("backup could not be stored"));
            if (!result) {
                settings_->setLastBackupTime(std::chrono::system_clock::time_point(
                    std::chrono::seconds(response->lastBackUpTime())));
            }
        } else {
            TBN_LOG_INFO(kTag, "backUp == nil !!! VALIDATED !!! ({})", show(hardwareId));
        }
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTag, "did fail to get backUp data from device: '<{}> {}' with exception: {}",
                      show(info.bleId), show(info.name), e.what());
        result = TBNErrors::internalException(e);
    }

    const int64_t backupTime = secondsOf(settings_->lastBackupTime());
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    async([weak, transport, info, result, backupTime] {
        auto self = weak.lock();
        if (!self) return;
        TBN_LOG_DEBUG(kTag, "default_async");
        try {
            TBN_LOG_INFO(kTag, "set backUp result to device: '<{}> {}'", show(info.bleId),
                         show(info.name));
            auto request = std::make_shared<TBNSetBackUpResult>();
            request->setInfo(self->options_.nextRequest());
            request->setAuth(self->clientAuth());
            request->setResult(result);
            request->setBackupTime(backupTime);
            self->createMobileStorageServiceWithTransportFactory(transport)->setBackUpResult(
                request);
        } catch (const std::exception& e) {
            TBN_LOG_ERROR(kTag,
                          "did fail to set backUp result to device: '<{}> {}' with exception: {}",
                          show(info.bleId), show(info.name), e.what());
        }
    });
    backupRestoreProcessing_ = false;

    if (result) {
        // Asked again until a backup is stored or the phone is gone.
        after(kBackupRetryDelay, [weak, hardwareId] {
            if (auto self = weak.lock()) self->getBackupForHardwareId(hardwareId);
        });
    }
    TBN_LOG_DEBUG_END(kTag);
}

// ---- Clipboard and URL ----------------------------------------------------------------

void TBNThriftRemoteMobileSevice::getAccountForClipboardForHardwareId(
    const std::optional<std::string>& hardwareId) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    auto transport = pairedTransportForHardwareId(hardwareId);
    if (!transport) {
        TBN_LOG_DEBUG(kTag, "transportFactory == nil  ({})", show(hardwareId));
        TBN_LOG_DEBUG_ALT_END(kTag);
        return;
    }
    auto info = transport->deviceInfo()->snapshot();
    try {
        TBN_LOG_INFO(kTag, "load data for clipboard from device: '<{}> {}'", show(info.bleId),
                     show(info.name));
        auto request = std::make_shared<TBNLoadDataForClipboardRequest>();
        request->setInfo(options_.nextRequest());
        request->setAuth(clientAuth());
        auto response =
            createMobileStorageServiceWithTransportFactory(transport)->loadDataForClipboard(
                request);
        logInfo(response, true);
        if (auto error = errorOf(response)) {
            // The phone's own matter: not a reason to unpair or to show a notice.
            TBN_LOG_ERROR(kTag, "did load data for clipboard from device: '<{}> {}' with error: {}",
                          show(info.bleId), show(info.name), errorText(error));
        } else if (response && (response->login() || response->password())) {
            TBN_LOG_INFO(kTag, "did load data for clipboard from device: '<{}> {}'",
                         show(info.bleId), show(info.name));
            if (auto d = delegate()) {
                d->remoteMobileDidCopyLogin(*this, response->login(), response->password(),
                                            response->accountId(), response->comment(),
                                            response->twoFactorCode(), response->clearTimeout());
            }
        } else {
            TBN_LOG_INFO(kTag, "data == nil ({})", show(hardwareId));
        }
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTag, "did load data for clipboard from device: '<{}> {}' with exception: {}",
                      show(info.bleId), show(info.name), e.what());
    }
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::getURLToOpenForHardwareId(
    const std::optional<std::string>& hardwareId) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    auto transport = pairedTransportForHardwareId(hardwareId);
    if (!transport) {
        TBN_LOG_DEBUG(kTag, "transportFactory == nil  ({})", show(hardwareId));
        TBN_LOG_DEBUG_ALT_END(kTag);
        return;
    }
    auto info = transport->deviceInfo()->snapshot();
    try {
        TBN_LOG_INFO(kTag, "get url for open from device: '<{}> {}'", show(info.bleId),
                     show(info.name));
        auto request = std::make_shared<TBNGetUrlToOpenRequest>();
        request->setInfo(options_.nextRequest());
        request->setAuth(clientAuth());
        auto response =
            createMobileStorageServiceWithTransportFactory(transport)->getUrlToOpen(request);
        logInfo(response, true);
        if (auto error = errorOf(response)) {
            TBN_LOG_ERROR(kTag, "get url for open from device: '<{}> {}' with error: {}",
                          show(info.bleId), show(info.name), errorText(error));
        } else if (response && response->url()) {
            TBN_LOG_INFO(kTag, "get url for open from device: '<{}> {}'", show(info.bleId),
                         show(info.name));
            if (auto d = delegate()) d->remoteMobileDidOpenUrl(*this, *response->url());
        } else {
            TBN_LOG_INFO(kTag, "data == nil ({})", show(hardwareId));
        }
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTag, "get url for open from device: '<{}> {}' with exception: {}",
                      show(info.bleId), show(info.name), e.what());
    }
    TBN_LOG_DEBUG_END(kTag);
}

// ---- New password and new account -----------------------------------------------------

void TBNThriftRemoteMobileSevice::sendPasswordToPairedDevice(
    const std::string& password, std::function<void(bool sent)> completion) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    async([weak, password, completion = std::move(completion)] {
        auto self = weak.lock();
        if (!self) {
            if (completion) completion(false);
            return;
        }
        TBN_LOG_DEBUG(kTag, "default_async");
        auto transport = self->userCallTransport();
        if (!transport) {
            TBN_LOG_DEBUG(kTag, "transportFactory == nil");
            // The caller is always told, also when no phone could be reached.
            if (completion) completion(false);
            return;
        }
        auto info = transport->deviceInfo()->snapshot();
        try {
            TBN_LOG_INFO(kTag, "send password to device: '<{}> {}'", show(info.bleId),
                         show(info.name));
            auto request = std::make_shared<TBNSendPasswordRequest>();
            request->setInfo(self->options_.nextRequest());
            request->setAuth(self->clientAuth());
            request->setNewPassword(password);
            auto response =
                self->createMobileStorageServiceWithTransportFactory(transport)->sendPassword(
                    request);
            logInfo(response);
            auto error = errorOf(response);
            if (completion) completion(response && !error);
            if (error) {
                TBN_LOG_ERROR(kTag, "did fail to send password to device: '<{}> {}' with error: {}",
                              show(info.bleId), show(info.name), errorText(error));
                self->processingError(error);
            }
        } catch (const std::exception& e) {
            TBN_LOG_ERROR(kTag, "did fail to send password to device: '<{}> {}' with exception: {}",
                          show(info.bleId), show(info.name), e.what());
            if (completion) completion(false);
        }
    });
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::createAccount(const std::string& login,
                                                const std::string& password,
                                                const std::string& siteUrl,
                                                const std::string& siteName, bool secure) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    async([weak, login, password, siteUrl, siteName, secure] {
        auto self = weak.lock();
        if (!self) return;
        TBN_LOG_DEBUG(kTag, "default_async");
        auto transport = self->userCallTransport();
        if (!transport) {
            TBN_LOG_DEBUG(kTag, "transportFactory == nil");
            return;
        }
        auto info = transport->deviceInfo()->snapshot();
        try {
            TBN_LOG_INFO(kTag, "add account to device: '<{}> {}'", show(info.bleId),
                         show(info.name));
            const std::string empty;
            auto data = std::make_shared<TBNLoginData>();
            data->setLogin(login);
            data->setPasswordProvided(true);
            data->setPassword(password);
            data->setEmail(empty);
            data->setPhone_prefix(empty);
            data->setPhone(empty);
            data->setUpdatePasswordTimeStamp(0);
            data->setUserName(empty);
            data->setFirstName(empty);
            data->setLastName(empty);
            data->setFullName(empty);
            data->setCompany(empty);
            data->setAccount(empty);
            data->setApplicantId(empty);
            data->setZipcode(empty);
            data->setIsLoginFinal(true);
            data->setNotes(empty);
            data->setIsSecured(false);
            data->setIsFavorited(false);
            data->setPasswordStrength(static_cast<int16_t>(
                TBNPasswordGenerator::sharedGenerator().strengthPassword(password)));
            data->setTags(empty);
            data->setTitle(empty);
            data->setAccessCreateTimeStamp(0);
            data->setAccessUpdateTimeStamp(0);
            data->setAccessReadTimeStamp(0);
            auto request = std::make_shared<TBNAddLoginDataRequest>();
            request->setInfo(self->options_.nextRequest());
            request->setAuth(self->clientAuth());
            request->setSiteUrl(siteUrl);
            request->setDomain(siteName);
            request->setLoginData(data);
            request->setIsSecured(secure);
            auto response =
                self->createStorageServiceWithTransportFactory(transport)->addLoginData(request);
            logInfo(response);
            if (auto error = errorOf(response)) {
                TBN_LOG_ERROR(kTag, "did fail to add account to device: '<{}> {}' with error: {}",
                              show(info.bleId), show(info.name), errorText(error));
                self->processingError(error);
            }
        } catch (const std::exception& e) {
            TBN_LOG_ERROR(kTag, "did fail to add account to device: '<{}> {}' with exception: {}",
                          show(info.bleId), show(info.name), e.what());
        }
    });
    TBN_LOG_DEBUG_END(kTag);
}

// ---- Import and export ----------------------------------------------------------------

void TBNThriftRemoteMobileSevice::importRecords(SiteList sites, std::shared_ptr<U2FList> u2fRecords,
                                                const std::string& sourceName,
                                                const std::string& sourceDetail,
                                                ErrorBlock approved, ErrorBlock completion) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    needCancelImport_ = false;
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    async([weak, sites = std::move(sites), u2fRecords, sourceName, sourceDetail,
           approved = std::move(approved), completion = std::move(completion)]() mutable {
        auto self = weak.lock();
        if (!self) return;
        TBN_LOG_DEBUG(kTag, "default_async");
        auto transport = self->userCallTransport();
        if (!transport) {
            TBN_LOG_DEBUG(kTag, "transportFactory == nil");
            if (approved) approved(TBNErrors::deviceNotFound());
            return;
        }
        auto info = transport->deviceInfo()->snapshot();
        auto cancelled = [&] {
            if (!self->needCancelImport_) return false;
            TBN_LOG_ERROR(kTag, "did cancel to request for import site data to device: '<{}> {}'",
                          show(info.bleId), show(info.name));
            return true;
        };
        bool wasApproved = false;
        try {
            const int32_t recordCount = importRecordCount(sites);
            auto collection = importCollection(sites, u2fRecords);
            SerializedRecords payload;
            try {
                payload = importPayload(*collection);
            } catch (const std::exception& e) {
                logThrow(e);
                try {
                    payload = serializeRecords(*collection, false);
                } catch (const std::exception& plainFailure) {
                    logThrow(plainFailure);
                    if (approved) approved(TBNErrors::internalException(plainFailure));
                    return;
                }
            }

            if (cancelled()) return;
            TBN_LOG_INFO(kTag, "request for import site data to device: '<{}> {}'",
                         show(info.bleId), show(info.name));
            auto request = std::make_shared<TBNRequestForImportSiteDataRequest>();
            request->setInfo(self->options_.nextRequest());
            request->setAuth(self->clientAuth());
            request->setSource(0);
            request->setSourceDetail(sourceDetail);
            request->setSourceName(sourceName);
            request->setRecordCount(recordCount);
            if (cancelled()) return;

            auto response = self->createMobileStorageServiceWithTransportFactory(transport)
                                ->requestForImportSiteData(request);
            logInfo(response);
            auto error = errorOf(response);
            if (!response) error = TBNErrors::internalException(std::string("no answer"));
            if (approved) approved(error);
            wasApproved = !error;
            if (error) {
                TBN_LOG_ERROR(
                    kTag,
                    "did fail to request for import site data to device: '<{}> {}' with error: {}",
                    show(info.bleId), show(info.name), errorText(error));
                self->processingError(error);
                return;
            }

            TBN_LOG_INFO(kTag, "import site data to device: '<{}> {}'", show(info.bleId),
                         show(info.name));
            if (cancelled()) return;
            auto importRequest = std::make_shared<TBNImportSiteDataRequest>();
            importRequest->setInfo(self->options_.nextRequest());
            importRequest->setAuth(self->clientAuth());
            importRequest->setToken(response->token());
            importRequest->setTypeSerialize(payload.typeSerialize);
            importRequest->setSerializedRecords(std::move(payload.bytes));
            if (cancelled()) return;

            auto importResponse =
                self->createMobileStorageServiceWithTransportFactory(transport)->importSiteData(
                    importRequest);
            logInfo(importResponse);
            auto importError = errorOf(importResponse);
            if (!importResponse)
                importError = TBNErrors::internalException(std::string("no answer"));
            // The records are with the phone: their memory goes before the caller hears
            // of the end (and gives what was freed back to the system then).
            importRequest.reset();
            collection.reset();
            SiteList().swap(sites);
            if (completion) completion(importError);
            if (importError) {
                TBN_LOG_ERROR(kTag,
                              "did fail to import site data to device: '<{}> {}' with error: {}",
                              show(info.bleId), show(info.name), errorText(importError));
                self->processingError(importError);
            }
        } catch (const std::exception& e) {
            TBN_LOG_ERROR(kTag,
                          "did fail to import site data to device: '<{}> {}' with exception: {}",
                          show(info.bleId), show(info.name), e.what());
            // The hand-over still ends with an answer: the phone was not reached.
            if (!wasApproved) {
                if (approved) approved(TBNErrors::internalException(e));
            } else if (completion) {
                completion(TBNErrors::internalException(e));
            }
        }
    });
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::cancelImport() {
    needCancelImport_ = true;
}

void TBNThriftRemoteMobileSevice::exportRecordsTo(const std::string& destinationName,
                                                  const std::string& destinationDetail,
                                                  ErrorBlock approved, ExportBlock completion) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    needCancelExport_ = false;
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    async([weak, destinationName, destinationDetail, approved = std::move(approved),
           completion = std::move(completion)] {
        auto self = weak.lock();
        if (!self) return;
        TBN_LOG_DEBUG(kTag, "default_async");
        auto transport = self->userCallTransport();
        if (!transport) {
            TBN_LOG_DEBUG(kTag, "transportFactory == nil");
            if (approved) approved(TBNErrors::deviceNotFound());
            return;
        }
        auto info = transport->deviceInfo()->snapshot();
        auto cancelled = [&] {
            if (!self->needCancelExport_) return false;
            // This one text says "to device".
            TBN_LOG_ERROR(kTag, "did cancel to request for export site data to device: '<{}> {}'",
                          show(info.bleId), show(info.name));
            return true;
        };
        auto fail = [&](const std::shared_ptr<TBNError>& error) {
            if (completion) completion(nullptr, nullptr, error);
        };
        bool wasApproved = false;
        try {
            TBN_LOG_INFO(kTag, "request for export site data from device: '<{}> {}'",
                         show(info.bleId), show(info.name));
            if (cancelled()) return;
            auto request = std::make_shared<TBNRequestForExportSiteDataRequest>();
            request->setInfo(self->options_.nextRequest());
            request->setAuth(self->clientAuth());
            request->setDestination(0);
            request->setDestinationDetail(destinationDetail);
            request->setDestinationName(destinationName);
            if (cancelled()) return;

            auto response = self->createMobileStorageServiceWithTransportFactory(transport)
                                ->requestForExportSiteData(request);
            logInfo(response);
            auto error = errorOf(response);
            if (!response) error = TBNErrors::internalException(std::string("no answer"));
            if (approved) approved(error);
            wasApproved = !error;
            if (error) {
                TBN_LOG_ERROR(
                    kTag,
                    "did fail to request for export site data from device: '<{}> {}' with error: "
                    "{}",
                    show(info.bleId), show(info.name), errorText(error));
                self->processingError(error);
                return;
            }

            TBN_LOG_INFO(kTag, "export site data from device: '<{}> {}'", show(info.bleId),
                         show(info.name));
            if (cancelled()) return;
            auto exportRequest = std::make_shared<TBNExportSiteDataRequest>();
            exportRequest->setInfo(self->options_.nextRequest());
            exportRequest->setAuth(self->clientAuth());
            exportRequest->setToken(response->token());
            if (cancelled()) return;

            auto exportResponse =
                self->createMobileStorageServiceWithTransportFactory(transport)->exportSiteData(
                    exportRequest);
            logInfo(exportResponse);
            auto exportError = errorOf(exportResponse);
            if (!exportResponse)
                exportError = TBNErrors::internalException(std::string("no answer"));
            if (exportError) {
                fail(exportError);
                TBN_LOG_ERROR(kTag,
                              "did fail to export site data from device: '<{}> {}' with error: {}",
                              show(info.bleId), show(info.name), errorText(exportError));
                self->processingError(exportError);
                return;
            }

            const int32_t type = exportResponse->typeSerialize();
            if (type != 0 && type != 1) {
                // Nothing of the vault could be read: an empty file would pass for a
                // successful export of an empty vault.
                TBN_LOG_ERROR(kTag, "unknown typeSerialize {} from device: '<{}> {}'", type,
                              show(info.bleId), show(info.name));
                fail(unsupportedDataError());
                return;
            }
            std::shared_ptr<TBNSiteDataCollection> collection;
            try {
                collection = recordsFromExportPayload(
                    type, exportResponse->serializedRecords().value_or(Bytes{}));
            } catch (const std::exception& e) {
                // A part of the vault is not a complete export.
                logThrow(e);
                fail(TBNErrors::internalException(e));
                return;
            }
            if (completion) completion(collection->records(), collection->u2fRecords(), nullptr);
        } catch (const std::exception& e) {
            TBN_LOG_ERROR(kTag,
                          "did fail to export site data from device: '<{}> {}' with exception: {}",
                          show(info.bleId), show(info.name), e.what());
            if (!wasApproved) {
                if (approved) approved(TBNErrors::internalException(e));
            } else {
                fail(TBNErrors::internalException(e));
            }
        }
    });
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::cancelExport() {
    needCancelExport_ = true;
}

// ---- U2F forwarding -------------------------------------------------------------------

std::optional<Bytes> TBNThriftRemoteMobileSevice::registerYubikeyWithRaw(const Bytes& raw) {
    return forwardYubikey(true, raw);
}

std::optional<Bytes> TBNThriftRemoteMobileSevice::authenticationYubikeyWithRaw(const Bytes& raw) {
    return forwardYubikey(false, raw);
}

std::optional<Bytes> TBNThriftRemoteMobileSevice::forwardYubikey(bool registering,
                                                                 const Bytes& raw) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    TBN_LOG_DEBUG(kTag, "<: {} = {} :>", "raw.length", raw.size());
    if (!TBNOSXFeatureManager::yubikey(*settings_)) {
        TBN_LOG_DEBUG(kTag, "!TBNOSXFeatureManager.yubikey");
        TBN_LOG_DEBUG_ALT_END(kTag);
        return std::nullopt;
    }
    auto transport = userCallTransport();
    if (!transport || !transport->deviceInfo()->bleId()) {
        TBN_LOG_DEBUG(kTag, "transportFactory == nil || transportFactory.deviceInfo.bleId == nil");
        TBN_LOG_DEBUG_ALT_END(kTag);
        return std::nullopt;
    }

    // Each request has its own answer slot, so requests in flight at the same time never
    // receive one another's answers, and an answer that comes before the caller starts
    // waiting is kept.
    auto slot = std::make_shared<U2FAnswerSlot>();
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    async([weak, registering, raw, transport, slot] {
        std::optional<Bytes> answer;
        auto self = weak.lock();
        if (self) {
            TBN_LOG_DEBUG(kTag, "default_async");
            const auto bleId = transport->deviceInfo()->bleId();
            auto record = self->settings_->pairedDeviceByHardwareId(bleId);
            const char* what = registering ? "register" : "authentication";
            if (!record) {
                TBN_LOG_DEBUG(kTag, "deviceInfo == nil  ({})", show(bleId));
            } else {
                try {
                    TBN_LOG_INFO(kTag, "{} YubiKey on device: '<{}> {}'", what,
                                 show(record->hardwareId()), show(record->name()));
                    auto client = self->createMobileStorageServiceWithTransportFactory(transport);
                    std::shared_ptr<TBNError> error;
                    std::optional<Bytes> responseRaw;
                    if (registering) {
                        auto request = std::make_shared<TBNRegisterYubikeyRequest>();
                        request->setInfo(self->options_.nextRequest());
                        request->setAuth(self->clientAuth());
                        request->setRequestRaw(raw);
                        auto response = client->registerYubikey(request);
                        logInfo(response);
                        error = errorOf(response);
                        if (response) responseRaw = response->responseRaw();
                    } else {
                        auto request = std::make_shared<TBNAuthenticationYubikeyRequest>();
                        request->setInfo(self->options_.nextRequest());
                        request->setAuth(self->clientAuth());
                        request->setRequestRaw(raw);
                        auto response = client->authenticationYubikey(request);
                        logInfo(response);
                        error = errorOf(response);
                        if (response) responseRaw = response->responseRaw();
                    }
                    if (error) {
                        TBN_LOG_ERROR(kTag,
                                      "did fail to {} YubiKey on device: '<{}> {}' with error: {}",
                                      what, show(record->hardwareId()), show(record->name()),
                                      errorText(error));
                        self->processingError(error);
                    } else if (responseRaw) {
                        TBN_LOG_INFO(kTag, "did {} YubiKey on device: '<{}> {}'", what,
                                     show(record->hardwareId()), show(record->name()));
                        TBN_LOG_DEBUG(kTag, "<: {} = {} :>", "response.responseRaw.length",
                                      responseRaw->size());
                        answer = std::move(responseRaw);
                    } else {
                        TBN_LOG_INFO(kTag, "responseRaw == nil ({})", show(bleId));
                    }
                } catch (const std::exception& e) {
                    TBN_LOG_ERROR(kTag,
                                  "did fail to {} YubiKey on device: '<{}> {}' with exception: {}",
                                  what, show(record->hardwareId()), show(record->name()), e.what());
                }
            }
        }
        slot->fulfil(std::move(answer));
    });

    std::optional<Bytes> answer;
    {
        std::unique_lock<std::mutex> lock(slot->mutex);
        clock_->waitUntil(lock, slot->cv, clock_->deadlineAfter(kYubiKeyTimeout),
                          [&] { return slot->done; });
        if (slot->done) answer = slot->answer;
    }
    // A late answer finds the slot closed and is dropped.
    slot->fulfil(std::nullopt);
    TBN_LOG_DEBUG(kTag, "response = {}", answer ? "answered" : "(null)");
    TBN_LOG_DEBUG_END(kTag);
    return answer;
}

void TBNThriftRemoteMobileSevice::setU2FBridge(std::shared_ptr<U2FBridge> bridge) {
    {
        std::lock_guard<std::mutex> lock(callsMutex_);
        u2fBridge_ = bridge;
    }
    if (!bridge) return;
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    bridge->setupRegisterCallback([weak](const Bytes& raw) -> std::optional<Bytes> {
        auto self = weak.lock();
        return self ? self->registerYubikeyWithRaw(raw) : std::nullopt;
    });
    bridge->setupAuthenticationCallback([weak](const Bytes& raw) -> std::optional<Bytes> {
        auto self = weak.lock();
        return self ? self->authenticationYubikeyWithRaw(raw) : std::nullopt;
    });
    if (TBNOSXFeatureManager::yubikey(*settings_)) startU2F();
}

std::shared_ptr<TBNThriftRemoteMobileSevice::U2FBridge> TBNThriftRemoteMobileSevice::u2fBridge()
    const {
    std::lock_guard<std::mutex> lock(callsMutex_);
    return u2fBridge_;
}

void TBNThriftRemoteMobileSevice::startU2F() {
    TBN_LOG_DEBUG_BEGIN(kTag);
    auto bridge = u2fBridge();
    if (bridge && !bridge->running()) bridge->start();
    TBN_LOG_DEBUG_END(kTag);
}

void TBNThriftRemoteMobileSevice::stopU2F() {
    TBN_LOG_DEBUG_BEGIN(kTag);
    auto bridge = u2fBridge();
    if (bridge && bridge->running()) bridge->stop();
    TBN_LOG_DEBUG_END(kTag);
}

}  // namespace lumvane
