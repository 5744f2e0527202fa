#include "extension/handlers/TBNThriftHostService.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "crypto/TBNCryptHash.h"
#include "crypto/TBNPasswordGenerator.h"
#include "extension/TBNProtocolHelper.h"
#include "extension/handlers/TBNThriftProxy.h"
#include "protocol/TBNErrors.h"
#include "protocol/site/HostPath.h"
#include "protocol/site/UrlHost.h"
#include "runtime/TBNUtil.h"
#include "runtime/TBNWaitManager.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"

namespace lumvane {

namespace {

constexpr const char* kTag = "core|thrift";
constexpr const char* kSiteUrlTag = "core|thrift|siteurl";

// Used when neither the request nor the settings give a usable length.
constexpr int16_t kFallbackPasswordLength = 20;

bool isSchemeChar(char c, bool first) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    if (first) return false;
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// The scheme of an absolute URL ("http" of "http://a"), nothing when it has none.
std::optional<std::string> schemeOfUrl(std::string_view url) {
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    for (size_t i = 0; i < colon; ++i) {
        if (!isSchemeChar(url[i], i == 0)) return std::nullopt;
    }
    return std::string(url.substr(0, colon));
}

std::string textOf(const std::optional<std::string>& text) {
    return text.value_or(std::string());
}

}  // namespace

// ---- life cycle ------------------------------------------------------------------------------

std::shared_ptr<TBNThriftHostService> TBNThriftHostService::initWithDelegate(
    std::weak_ptr<TBNThriftHostServiceDelegate> delegate, Options options) {
    return std::make_shared<TBNThriftHostService>(Token{}, std::move(delegate), std::move(options));
}

TBNThriftHostService::TBNThriftHostService(Token,
                                           std::weak_ptr<TBNThriftHostServiceDelegate> delegate,
                                           Options options)
    : options_(std::move(options)), delegate_(std::move(delegate)) {
    TBN_LOG_INFO_BEGIN(kTag);
    if (!options_.settings) {
        options_.settings =
            std::shared_ptr<TBNSettings>(&TBNSettings::sharedSettings(), [](TBNSettings*) {});
    }
    if (!options_.waitManager) options_.waitManager = &TBNWaitManager::sharedManager();
    if (!options_.clock) options_.clock = Clock::steady();
    if (!options_.protocolHelper) options_.protocolHelper = &TBNProtocolHelper::sharedHelper();
    TBN_LOG_INFO_END(kTag);
}

TBNThriftHostService::~TBNThriftHostService() = default;

void TBNThriftHostService::openExtensionRegistration() {
    std::lock_guard<std::mutex> lock(clientSecretMutex_);
    extensionRegistrationDeadline_ = options_.clock->deadlineAfter(kExtensionRegistrationSeconds);
    registrationOpened_ = true;
    TBN_LOG_INFO(kTag, "extension registration open for {:.0f} s", kExtensionRegistrationSeconds);
}

bool TBNThriftHostService::isExtensionRegistrationOpen() const {
    std::lock_guard<std::mutex> lock(clientSecretMutex_);
    return registrationOpened_ && options_.clock->now() <= extensionRegistrationDeadline_;
}

std::shared_ptr<TBNThriftHostServiceDelegate> TBNThriftHostService::delegate() const {
    std::lock_guard<std::mutex> lock(delegateMutex_);
    return delegate_.lock();
}

void TBNThriftHostService::setDelegate(std::weak_ptr<TBNThriftHostServiceDelegate> delegate) {
    std::lock_guard<std::mutex> lock(delegateMutex_);
    delegate_ = std::move(delegate);
}

std::set<std::string> TBNThriftHostService::declinedSave() const {
    std::lock_guard<std::mutex> lock(declinedMutex_);
    return declinedSave_;
}

// ---- helpers ---------------------------------------------------------------------------------

std::string TBNThriftHostService::siteOriginOfUrl(std::string_view url) {
    auto scheme = schemeOfUrl(url);
    auto host = parseUrlHost(url);
    if (!scheme || !host || host->host.empty()) return std::string(url);
    std::string hostText = host->ipLiteral ? "[" + host->host + "]" : host->host;
    return *scheme + "://" + hostText;
}

std::string TBNThriftHostService::siteNameOfUrl(std::string_view url) {
    return siteDomainName(url).value_or(std::string());
}

std::shared_ptr<TBNResponseInfo> TBNThriftHostService::responseInfo(
    const std::shared_ptr<TBNRequestInfo>& info, std::shared_ptr<TBNError> error) const {
    return options_.protocolHelper->nextResponseForRequest(info, std::move(error));
}

std::shared_ptr<TBNError> TBNThriftHostService::checkApprovedAndNotPaused(
    const std::shared_ptr<TBNAuthentication>& auth) const {
    auto& settings = *options_.settings;
    if (!auth || !settings.isApprovedExtensionClient(auth->clientId(), auth->clientSecret())) {
        return TBNErrors::notAuthorized();
    }
    if (settings.paused()) return TBNErrors::paused();
    return nullptr;
}

// ---- host-storage service --------------------------------------------------------------------

std::shared_ptr<TBNPongTestResponse> TBNThriftHostService::sendPing(
    std::shared_ptr<TBNPingTestRequest> request) {
    // A call whose argument was left out is answered like one with an empty request.
    if (!request) request = std::make_shared<TBNPingTestRequest>();
    auto& settings = *options_.settings;
    std::shared_ptr<TBNError> error;
    std::optional<std::string> offeredSecret;
    const auto& auth = request->auth();
    {
        std::lock_guard<std::mutex> lock(clientSecretMutex_);
        if (settings.paused()) {
            error = TBNErrors::paused();
        } else if (!auth || !auth->clientId()) {
            error = TBNErrors::notAuthorized();
        } else {
            const std::string& clientId = *auth->clientId();
            const bool hasSecret = auth->clientSecret() && !auth->clientSecret()->empty();
            // A client that sends a secret has stored one: stop offering the cached copy.
            if (!clientId.empty() && hasSecret) clientSecretCache_.erase(clientId);
            if (settings.isApprovedExtensionClient(auth->clientId(), auth->clientSecret())) {
                // approved: nothing to hand out
            } else if (!registrationOpened_ ||
                       options_.clock->now() > extensionRegistrationDeadline_) {
                error = TBNErrors::notAuthorized();
            } else {
                auto cached = clientSecretCache_.find(clientId);
                if (cached == clientSecretCache_.end()) {
                    cached = clientSecretCache_.emplace(clientId, TBNUtil::generateId()).first;
                }
                offeredSecret = cached->second;
                settings.approveExtForClientId(clientId, *offeredSecret);
                TBN_LOG_INFO(kTag, "extension client {} registered", clientId);
            }
        }
    }
    if (auto d = delegate()) {
        d->thriftHostServiceDidPingFromExtensionId(*this, request->appIdentifier(),
                                                   request->appVersion());
    }
    auto response = std::make_shared<TBNPongTestResponse>();
    response->setInfo(responseInfo(request->info(), std::move(error)));
    response->setExtendedMode(settings.extensionExtendedMode());
    response->setFlags(settings.pongFlags());
    if (offeredSecret) response->setClientSecret(std::move(offeredSecret));
    return response;
}

std::shared_ptr<TBNChooseSiteDataResponse> TBNThriftHostService::chooseSiteData(
    std::shared_ptr<TBNChooseSiteDataRequest> request) {
    // A call whose argument was left out is answered like one with an empty request.
    if (!request) request = std::make_shared<TBNChooseSiteDataRequest>();
    TBN_LOG_INFO_BEGIN(kTag);
    auto response = std::make_shared<TBNChooseSiteDataResponse>();
    if (auto error = checkApprovedAndNotPaused(request->auth())) {
        response->setInfo(responseInfo(request->info(), std::move(error)));
        TBN_LOG_INFO_END(kTag);
        return response;
    }
    std::vector<std::string> accounts;
    if (request->accounts()) accounts = *request->accounts();
    response->setInfo(responseInfo(request->info(), nullptr));
    if (!accounts.empty()) response->setChoosedAccount(accounts.front());

    const std::string siteUrl = textOf(request->siteUrl());
    const std::string origin = siteOriginOfUrl(siteUrl);
    const std::string siteName = siteNameOfUrl(siteUrl);
    TBN_LOG_DEBUG(kSiteUrlTag, "site url {}", siteUrl);
    const std::string key =
        TBNCryptHash::strSha256FromString(textOf(request->auth()->clientId()) + "_" + origin);

    // Offer the accounts in the order the last choice for this client and site left.
    std::vector<std::string> working = accounts;
    if (auto order = options_.settings->chooseAccountsListByKey(key)) {
        std::unordered_map<std::string, size_t> position;
        for (size_t i = 0; i < order->size(); ++i) position.emplace((*order)[i], i);
        std::vector<std::pair<size_t, std::string>> ranked;
        ranked.reserve(working.size());
        for (auto& account : working) {
            auto it = position.find(TBNCryptHash::strSha256FromString(account));
            ranked.emplace_back(it == position.end() ? order->size() : it->second,
                                std::move(account));
        }
        std::stable_sort(ranked.begin(), ranked.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        working.clear();
        for (auto& entry : ranked) working.push_back(std::move(entry.second));
    }

    auto d = delegate();
    if (working.empty() || !d) {
        TBN_LOG_INFO_END(kTag);
        return response;
    }
    std::optional<int64_t> answer;
    {
        std::lock_guard<std::mutex> question(chooseQuestionMutex_);
        answer = d->thriftHostServiceChooseDefaultAccount(*this, working, origin, siteName,
                                                          request->noCache());
    }
    if (!answer) {  // the delegate does not ask the user
        TBN_LOG_INFO_END(kTag);
        return response;
    }
    const int64_t index = *answer;
    if (index < 0 || static_cast<uint64_t>(index) >= working.size()) {
        if (index >= 0)
            TBN_LOG_WARN(kTag, "choice {} beyond {} accounts: no choice", index, working.size());
        response->unsetChoosedAccount();
        TBN_LOG_INFO_END(kTag);
        return response;
    }
    const auto i = static_cast<size_t>(index);
    response->setChoosedAccount(working[i]);
    if (i > 0) std::rotate(working.begin(), working.begin() + i, working.begin() + i + 1);
    std::vector<std::string> digests;
    digests.reserve(working.size());
    for (const auto& account : working)
        digests.push_back(TBNCryptHash::strSha256FromString(account));
    options_.settings->setChooseAccouts(digests, key);
    TBN_LOG_INFO_END(kTag);
    return response;
}

std::shared_ptr<TBNImportSiteDataFromGoogleResponse> TBNThriftHostService::importSiteDataFromGoogle(
    std::shared_ptr<TBNImportSiteDataFromGoogleRequest> request) {
    // A call whose argument was left out is answered like one with an empty request.
    if (!request) request = std::make_shared<TBNImportSiteDataFromGoogleRequest>();
    TBN_LOG_INFO_BEGIN(kTag);
    auto response = std::make_shared<TBNImportSiteDataFromGoogleResponse>();
    if (auto error = checkApprovedAndNotPaused(request->auth())) {
        response->setInfo(responseInfo(request->info(), std::move(error)));
        TBN_LOG_INFO_END(kTag);
        return response;
    }
    // Only an import the user started takes records; anything else is refused rather than
    // reported as taken.
    if (!options_.waitManager->waitedWithName(kTBNImportFromGoogleWaitName)) {
        TBN_LOG_WARN(kTag, "records from Google refused: no import is waiting");
        response->setInfo(responseInfo(request->info(), TBNErrors::requestTimedOut()));
        TBN_LOG_INFO_END(kTag);
        return response;
    }
    TBNGoogleImportResult result;
    result.sourceDetail = textOf(request->detail());
    if (request->records()) {
        for (const auto& record : *request->records()) {
            if (!record) continue;
            if (!record->siteUrl() || record->siteUrl()->empty()) {
                const std::string domain = textOf(record->domain());
                if (!domain.empty()) record->setSiteUrl("http://" + domain);
            }
            if (record->siteUrl() && !record->siteUrl()->empty()) {
                auto forms = record->formUrls()
                                 ? std::make_shared<std::set<std::string>>(*record->formUrls())
                                 : std::make_shared<std::set<std::string>>();
                forms->insert(*record->siteUrl());
                record->setFormUrls(std::move(forms));
            }
            if (record->loginData()) {
                for (const auto& login : *record->loginData()) {
                    if (!login || !login->password()) continue;
                    auto plain = TBNThriftProxy::decodePassword(login->password());
                    if (plain) {
                        login->setPassword(std::move(plain));
                    } else {
                        login->unsetPassword();
                    }
                }
            }
            result.records.push_back(record);
        }
    }
    TBN_LOG_INFO(kTag, "{} records from Google handed to the import", result.records.size());
    options_.waitManager->releaseForName(kTBNImportFromGoogleWaitName, std::move(result));
    response->setInfo(responseInfo(request->info(), nullptr));
    TBN_LOG_INFO_END(kTag);
    return response;
}

std::shared_ptr<TBNGeneratePasswordResponse> TBNThriftHostService::generatePassword(
    std::shared_ptr<TBNGeneratePasswordRequest> request) {
    // A call whose argument was left out is answered like one with an empty request.
    if (!request) request = std::make_shared<TBNGeneratePasswordRequest>();
    TBN_LOG_INFO_BEGIN(kTag);
    auto response = std::make_shared<TBNGeneratePasswordResponse>();
    if (auto error = checkApprovedAndNotPaused(request->auth())) {
        response->setInfo(responseInfo(request->info(), std::move(error)));
        TBN_LOG_INFO_END(kTag);
        return response;
    }
    std::shared_ptr<TBNGeneratorConfig> configured;
    if (auto generator = options_.settings->generatorSettings()) configured = generator->config();

    auto use = [](int32_t requested, bool configuredCount) {
        if (requested == 2) return true;
        if (requested == 1) return false;
        return configuredCount;
    };
    const bool useCapitalization =
        use(request->capitalization(), configured && configured->capitalization() != 0);
    const bool useDigits = use(request->digits(), configured && configured->digits() != 0);
    const bool useSymbols = use(request->symbols(), configured && configured->symbols() != 0);

    // A length of 0, a negative one or none means "as configured" on either side.
    int32_t length = configured && configured->lenghtIsSet() && configured->lenght() > 0
                         ? configured->lenght()
                         : 0;
    const int32_t maxLength =
        request->maxLengthIsSet() && request->maxLength() > 0 ? request->maxLength() : 0;
    if (length == 0) {
        length = maxLength > 0 ? std::min<int32_t>(maxLength, std::numeric_limits<int16_t>::max())
                               : kFallbackPasswordLength;
    } else if (maxLength > 0) {
        length = std::min(length, maxLength);
    }

    TBNGeneratorConfig config(static_cast<int16_t>(length), 0, 0, 0, 0, useDigits, useSymbols,
                              useCapitalization);
    auto& generator =
        options_.generator ? *options_.generator : TBNPasswordGenerator::sharedGenerator();
    try {
        response->setGeneratedPassword(generator.generateByConfig(config));
        response->setInfo(responseInfo(request->info(), nullptr));
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTag, "password generation failed: {}", e.what());
        response->setInfo(responseInfo(request->info(), TBNErrors::internalException(e)));
    }
    TBN_LOG_INFO_END(kTag);
    return response;
}

// ---- local storage service -------------------------------------------------------------------

std::shared_ptr<TBNGetLoginDataResponse> TBNThriftHostService::getLoginData(
    std::shared_ptr<TBNGetLoginDataRequest>) {
    return nullptr;
}

std::shared_ptr<TBNAddLoginDataResponse> TBNThriftHostService::addLoginData(
    std::shared_ptr<TBNAddLoginDataRequest> request) {
    // A call whose argument was left out is answered like one with an empty request.
    if (!request) request = std::make_shared<TBNAddLoginDataRequest>();
    TBN_LOG_INFO_BEGIN(kTag);
    auto reply = [&](std::shared_ptr<TBNError> error) {
        TBN_LOG_WITH_KIND(TBN_LOG_FLAG_INFO, TBNLogTagTypeMethodAltEnd, kTag, "error = {}",
                          error->summary());
        return std::make_shared<TBNAddLoginDataResponse>(responseInfo(request->info(), error),
                                                         false);
    };
    auto& settings = *options_.settings;
    auto device = settings.firstPairedDevice();
    if (!device) return reply(TBNErrors::deviceNotPaired());

    const std::string siteUrl = textOf(request->siteUrl());
    request->setSiteUrl(siteUrl);
    if (!request->loginData()) request->setLoginData(std::make_shared<TBNLoginData>());
    auto& loginData = *request->loginData();
    const std::string login = textOf(loginData.login());
    const std::string password = textOf(loginData.password());
    loginData.setLogin(login);
    loginData.setPassword(password);

    std::string origin;
    std::string siteName;
    if (!siteUrl.empty()) {
        origin = siteOriginOfUrl(siteUrl);
        siteName = siteNameOfUrl(siteUrl);
    }
    TBN_LOG_DEBUG(kSiteUrlTag, "site url {}", siteUrl);

    const auto& hardwareId = device->hardwareId();
    bool isUpdate = false;
    if (!siteUrl.empty() && !login.empty() && !password.empty()) {
        if (settings.isCachedUserName(login, password, siteName, hardwareId)) {
            return reply(TBNErrors::duplicatedAccount());
        }
        const auto& sites = device->sitesCache();
        isUpdate = sites && sites->accountsCache() &&
                   settings.isCachedUserName(login, siteName, hardwareId);
    } else if (!siteUrl.empty() && !password.empty() && login.empty()) {
        if (settings.cachedSiteUrl(siteName, hardwareId, nullptr)) {
            return reply(TBNErrors::duplicatedAccount());
        }
    }

    auto d = delegate();
    if (!d) return reply(TBNErrors::requestTimedOut());  // nobody can ask the user
    TBNSaveVariant variant;
    {
        std::lock_guard<std::mutex> question(saveQuestionMutex_);
        TBN_LOG_INFO(kTag, "{}", isUpdate ? "canUpdateAccount" : "canSaveAccount");
        variant = isUpdate
                      ? d->thriftHostServiceCanUpdateLoginData(*this, loginData, origin, siteName)
                      : d->thriftHostServiceCanSaveLoginData(*this, loginData, origin, siteName);
    }
    TBN_LOG_INFO(kTag, "saveVariant = {}", variant);
    if (variant == TBNSaveVariantTimeout) return reply(TBNErrors::requestTimedOut());
    if (variant == TBNSaveVariantDecline) {
        {
            std::lock_guard<std::mutex> lock(declinedMutex_);
            declinedSave_.insert(origin);
        }
        return reply(TBNErrors::requestCanceledByUser());
    }
    request->setIsSecured(variant == TBNSaveVariantSaveSecured);
    TBN_LOG_INFO_END(kTag);
    return nullptr;
}

std::shared_ptr<TBNDeleteLoginDataResponse> TBNThriftHostService::deleteLoginData(
    std::shared_ptr<TBNDeleteLoginDataRequest>) {
    return nullptr;
}

std::shared_ptr<TBNUpdateLoginDataResponse> TBNThriftHostService::updateLoginData(
    std::shared_ptr<TBNUpdateLoginDataRequest>) {
    return nullptr;
}

std::shared_ptr<TBNGetSiteDataResponse> TBNThriftHostService::getSiteData(
    std::shared_ptr<TBNGetSiteDataRequest>) {
    return nullptr;
}

std::shared_ptr<TBNGetSiteDataListResponse> TBNThriftHostService::getSiteDataList(
    std::shared_ptr<TBNGetSiteDataListRequest>) {
    return nullptr;
}

std::shared_ptr<TBNDeleteSiteDataResponse> TBNThriftHostService::deleteSiteData(
    std::shared_ptr<TBNDeleteSiteDataRequest>) {
    return nullptr;
}

std::shared_ptr<TBNGet2FACodeResponse> TBNThriftHostService::get2FACode(
    std::shared_ptr<TBNGet2FACodeRequest>) {
    return nullptr;
}

}  // namespace lumvane
