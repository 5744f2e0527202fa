#include "extension/handlers/TBNThriftProxy.h"

#include <exception>
#include <type_traits>
#include <utility>
#include <vector>

#include "extension/TBNProtocolHelper.h"
#include "extension/handlers/TBNThriftHostService.h"
#include "protocol/PasswordEncoding.h"
#include "protocol/TBNErrors.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"

namespace lumvane {

namespace {

constexpr const char* kTag = "core|thrift";
constexpr const char* kSiteUrlTag = "core|thrift|siteurl";

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const auto c = static_cast<uint8_t>(text[i]);
        size_t extra;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i <= extra) return false;  // cut off
        for (size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<uint8_t>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) ||
            (extra == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

// Copies of the returned login records with their passwords encoded: the records the
// remote service answered with are never changed, since it may keep them.
std::shared_ptr<TBNLoginData> encodedLogin(const std::shared_ptr<TBNLoginData>& login) {
    if (!login || !login->password()) return login;
    auto copy = std::make_shared<TBNLoginData>(*login);
    copy->setPassword(TBNThriftProxy::encodePassword(login->password()));
    return copy;
}

std::shared_ptr<TBNSiteData> encodedSite(const std::shared_ptr<TBNSiteData>& site) {
    if (!site || !site->loginData()) return site;
    auto copy = std::make_shared<TBNSiteData>(*site);
    auto logins = std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>();
    logins->reserve(site->loginData()->size());
    for (const auto& login : *site->loginData()) logins->push_back(encodedLogin(login));
    copy->setLoginData(std::move(logins));
    return copy;
}

template <class Response>
std::shared_ptr<Response> encodedResponse(const std::shared_ptr<Response>& response) {
    if constexpr (std::is_same_v<Response, TBNGetLoginDataResponse>) {
        if (!response->data()) return response;
        auto copy = std::make_shared<Response>(*response);
        copy->setData(encodedLogin(response->data()));
        return copy;
    } else if constexpr (std::is_same_v<Response, TBNGetSiteDataResponse>) {
        if (!response->record()) return response;
        auto copy = std::make_shared<Response>(*response);
        copy->setRecord(encodedSite(response->record()));
        return copy;
    } else if constexpr (std::is_same_v<Response, TBNGetSiteDataListResponse>) {
        if (!response->records()) return response;
        auto copy = std::make_shared<Response>(*response);
        auto records = std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>();
        records->reserve(response->records()->size());
        for (const auto& site : *response->records()) records->push_back(encodedSite(site));
        copy->setRecords(std::move(records));
        return copy;
    } else {
        return response;
    }
}

// An error answer: every field marked set, so false and 0 travel on the wire while
// absent texts and records do not.
template <class Response>
std::shared_ptr<Response> errorResponse(std::shared_ptr<TBNResponseInfo> info) {
    if constexpr (std::is_same_v<Response, TBNGetLoginDataResponse>) {
        return std::make_shared<Response>(std::move(info), nullptr);
    } else if constexpr (std::is_same_v<Response, TBNAddLoginDataResponse>) {
        return std::make_shared<Response>(std::move(info), false);
    } else if constexpr (std::is_same_v<Response, TBNGetSiteDataResponse>) {
        return std::make_shared<Response>(std::move(info), nullptr);
    } else if constexpr (std::is_same_v<Response, TBNGetSiteDataListResponse>) {
        return std::make_shared<Response>(std::move(info), nullptr);
    } else if constexpr (std::is_same_v<Response, TBNGet2FACodeResponse>) {
        return std::make_shared<Response>(std::move(info), std::nullopt, std::nullopt, std::nullopt,
                                          int16_t{0}, int64_t{0});
    } else {
        return std::make_shared<Response>(std::move(info));
    }
}

template <class Request>
constexpr bool kHasSiteUrl = !std::is_same_v<Request, TBNGetSiteDataListRequest>;

}  // namespace

// ---- life cycle ------------------------------------------------------------------------------

std::shared_ptr<TBNThriftProxy> TBNThriftProxy::initWithLocalSevice(
    std::weak_ptr<TBNStorageService> localService, std::weak_ptr<TBNStorageService> remoteService,
    Options options) {
    return std::make_shared<TBNThriftProxy>(std::move(localService), std::move(remoteService),
                                            std::move(options));
}

TBNThriftProxy::TBNThriftProxy(std::weak_ptr<TBNStorageService> localService,
                               std::weak_ptr<TBNStorageService> remoteService, Options options)
    : options_(std::move(options)),
      localService_(std::move(localService)),
      remoteService_(std::move(remoteService)) {
    if (!options_.settings) {
        options_.settings =
            std::shared_ptr<TBNSettings>(&TBNSettings::sharedSettings(), [](TBNSettings*) {});
    }
    if (!options_.protocolHelper) options_.protocolHelper = &TBNProtocolHelper::sharedHelper();
}

std::shared_ptr<TBNStorageService> TBNThriftProxy::localService() const {
    std::lock_guard<std::mutex> lock(servicesMutex_);
    return localService_.lock();
}

void TBNThriftProxy::setLocalService(std::weak_ptr<TBNStorageService> service) {
    std::lock_guard<std::mutex> lock(servicesMutex_);
    localService_ = std::move(service);
}

std::shared_ptr<TBNStorageService> TBNThriftProxy::remoteService() const {
    std::lock_guard<std::mutex> lock(servicesMutex_);
    return remoteService_.lock();
}

void TBNThriftProxy::setRemoteService(std::weak_ptr<TBNStorageService> service) {
    std::lock_guard<std::mutex> lock(servicesMutex_);
    remoteService_ = std::move(service);
}

// ---- passwords -------------------------------------------------------------------------------

std::optional<std::string> TBNThriftProxy::encodePassword(
    const std::optional<std::string>& password) {
    if (!password) return std::nullopt;
    return base64Encode(*password);
}

std::optional<std::string> TBNThriftProxy::decodePassword(
    const std::optional<std::string>& password) {
    if (!password) return std::nullopt;
    auto plain = base64Decode(*password);
    if (!plain || !isValidUtf8(*plain)) return std::nullopt;
    return plain;
}

// ---- the common steps of every operation -----------------------------------------------------

template <class Request, class Response>
std::shared_ptr<Response> TBNThriftProxy::handle(
    const char* operation, const std::shared_ptr<Request>& request,
    std::shared_ptr<Response> (TBNStorageService::*call)(std::shared_ptr<Request>)) {
    TBN_LOG_INFO_BEGIN(kTag);
    // Authentication records carry the client's secret: only the client id is logged.
    const auto& auth = request->auth();
    TBN_LOG_INFO(kTag, "{}: info {}, client {}", operation,
                 request->info() ? request->info()->summary() : std::string("(null)"),
                 auth && auth->clientId() ? *auth->clientId() : std::string("(null)"));
    if constexpr (kHasSiteUrl<Request>) {
        TBN_LOG_DEBUG(kSiteUrlTag, "site url {}", request->siteUrl().value_or("(null)"));
    }

    auto& helper = *options_.protocolHelper;
    auto refuse = [&](std::shared_ptr<TBNError> error) {
        TBN_LOG_INFO(kTag, "{}: error {}", operation, error->summary());
        TBN_LOG_ALT_END(INFO, kTag);
        return errorResponse<Response>(helper.nextResponseForRequest(request->info(), error));
    };

    auto& settings = *options_.settings;
    if (!auth || !settings.isApprovedExtensionClient(auth->clientId(), auth->clientSecret())) {
        return refuse(TBNErrors::notAuthorized());
    }
    if (settings.paused()) return refuse(TBNErrors::paused());

    if constexpr (std::is_same_v<Request, TBNAddLoginDataRequest>) {
        // A password that is not Base64 of UTF-8 text is refused: saving it as an empty or
        // garbled password on the phone would lose the user's login.
        const auto& login = request->loginData();
        if (login && login->password()) {
            auto plain = decodePassword(login->password());
            if (!plain) {
                TBN_LOG_WARN(kTag, "{}: password is not Base64 of UTF-8 text", operation);
                return refuse(TBNErrors::internalException("password is not valid Base64"));
            }
            login->setPassword(std::move(plain));
        }
    }

    std::shared_ptr<Response> response;
    try {
        if (auto local = localService()) response = ((*local).*call)(request);
        if (!response) {
            if (auto remote = remoteService()) {
                response = ((*remote).*call)(request);
                if (response && !response->info()) {
                    response->setInfo(helper.nextResponseForRequest(request->info()));
                }
            }
        }
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTag, "{} failed: {}", operation, e.what());
        return refuse(TBNErrors::internalException(e));
    }
    if (!response) return refuse(TBNErrors::deviceNotFound());

    response = encodedResponse(response);
    TBN_LOG_INFO(kTag, "{}: response info {}", operation,
                 response->info() ? response->info()->summary() : std::string("(null)"));
    if constexpr (std::is_same_v<Response, TBNGetSiteDataResponse>) {
        if (const auto& record = response->record()) {
            TBN_LOG_VERBOSE(kTag, "logins {}, favorited {}, secured {}",
                            record->loginData() ? record->loginData()->size() : 0,
                            record->isFavorited(), record->isSecured());
        }
    } else if constexpr (std::is_same_v<Response, TBNGetSiteDataListResponse>) {
        TBN_LOG_VERBOSE(kTag, "records {}", response->records() ? response->records()->size() : 0);
    }
    TBN_LOG_INFO_END(kTag);
    return response;
}

// A call whose argument was left out is answered like one with an empty request (which
// no approved client sends, so it is refused).
#define TBN_PROXY_OPERATION(name, Request, Response)                                   \
    std::shared_ptr<Response> TBNThriftProxy::name(std::shared_ptr<Request> request) { \
        if (!request) request = std::make_shared<Request>();                           \
        return handle<Request, Response>(#name, request, &TBNStorageService::name);    \
    }

TBN_PROXY_OPERATION(getLoginData, TBNGetLoginDataRequest, TBNGetLoginDataResponse)
TBN_PROXY_OPERATION(addLoginData, TBNAddLoginDataRequest, TBNAddLoginDataResponse)
TBN_PROXY_OPERATION(deleteLoginData, TBNDeleteLoginDataRequest, TBNDeleteLoginDataResponse)
TBN_PROXY_OPERATION(updateLoginData, TBNUpdateLoginDataRequest, TBNUpdateLoginDataResponse)
TBN_PROXY_OPERATION(getSiteData, TBNGetSiteDataRequest, TBNGetSiteDataResponse)
TBN_PROXY_OPERATION(getSiteDataList, TBNGetSiteDataListRequest, TBNGetSiteDataListResponse)
TBN_PROXY_OPERATION(deleteSiteData, TBNDeleteSiteDataRequest, TBNDeleteSiteDataResponse)
TBN_PROXY_OPERATION(get2FACode, TBNGet2FACodeRequest, TBNGet2FACodeResponse)

#undef TBN_PROXY_OPERATION

// ---- wiring ----------------------------------------------------------------------------------

TBNExtensionProcessors TBNExtensionProcessors::make(
    const std::shared_ptr<TBNThriftHostService>& hostService,
    std::weak_ptr<TBNStorageService> remoteService, TBNThriftProxy::Options options) {
    TBNExtensionProcessors made;
    std::weak_ptr<TBNStorageService> local =
        std::static_pointer_cast<TBNStorageService>(hostService);
    made.proxy =
        TBNThriftProxy::initWithLocalSevice(local, std::move(remoteService), std::move(options));
    made.hostStorage = std::make_shared<TBNHostStorageServiceProcessor>(
        std::static_pointer_cast<TBNHostStorageService>(hostService));
    made.storage = std::make_shared<TBNStorageServiceProcessor>(made.proxy);
    return made;
}

}  // namespace lumvane
