// The extension-facing half of the application service: the save, update and
// account-choice questions, extension pings, the clients' envelope keys, the pause of
// save questions while the phone is away, and the security-key driver pages.
#include "core/service/TBNService.h"
#include "core/service/TBNServiceAsk.h"
#include "crypto/TBNCryptHash.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

constexpr const char* kTag = "ui|service";
constexpr const char* kSiteUrlTag = "ui|service|siteurl";

const char* variantName(TBNSaveVariant variant) {
    switch (variant) {
        case TBNSaveVariantTimeout:
            return "TBNSaveVariantTimeout";
        case TBNSaveVariantDecline:
            return "TBNSaveVariantDecline";
        case TBNSaveVariantSave:
            return "TBNSaveVariantSave";
        case TBNSaveVariantSaveSecured:
            return "TBNSaveVariantSaveSecured";
    }
    return "unknown";
}

}  // namespace

// ---- Save and update questions ---------------------------------------------------------

TBNSaveVariant TBNService::thriftHostServiceCanSaveLoginData(TBNThriftHostService&,
                                                             TBNLoginData& loginData,
                                                             const std::string& siteUrl,
                                                             const std::string& siteName) {
    return canSaveLoginData(loginData, siteUrl, siteName);
}

TBNSaveVariant TBNService::thriftHostServiceCanUpdateLoginData(TBNThriftHostService&,
                                                               TBNLoginData& loginData,
                                                               const std::string& siteUrl,
                                                               const std::string& siteName) {
    return canUpdateLoginData(loginData, siteUrl, siteName);
}

TBNSaveVariant TBNService::canSaveLoginData(TBNLoginData& loginData, const std::string& siteUrl,
                                            const std::string& siteName) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    TBN_LOG_DEBUG(kSiteUrlTag, "site url: {}", siteUrl);
    auto device = settings_->firstPairedDevice();
    if (!device) {
        TBN_LOG_DEBUG(kTag, "saveVariant = {} (no paired phone)",
                      variantName(TBNSaveVariantDecline));
        return TBNSaveVariantDecline;
    }
    const std::string login = loginData.login().value_or("");
    const std::string password = loginData.password().value_or("");
    if (device->online() && !siteUrl.empty() && !login.empty() && !password.empty()) {
        // The phone itself asks the user; here the user only learns that it did.
        notify([login, siteName](TBNNotifications& n) {
            n.notifyOfSaveAccountForLogin(login, siteName);
        });
        TBN_LOG_DEBUG(kTag, "saveVariant = {}", variantName(TBNSaveVariantSave));
        return TBNSaveVariantSave;
    }
    if (settings_->skipUntilOnline()) {
        TBN_LOG_DEBUG(kTag, "saveVariant = {} (held back until the phone is online)",
                      variantName(TBNSaveVariantDecline));
        return TBNSaveVariantDecline;
    }
    return askSaveQuestion(loginData, siteUrl, siteName, false);
}

TBNSaveVariant TBNService::canUpdateLoginData(TBNLoginData& loginData, const std::string& siteUrl,
                                              const std::string& siteName) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    TBN_LOG_DEBUG(kSiteUrlTag, "site url: {}", siteUrl);
    if (!settings_->firstPairedDevice()) {
        TBN_LOG_DEBUG(kTag, "saveVariant = {} (no paired phone)",
                      variantName(TBNSaveVariantDecline));
        return TBNSaveVariantDecline;
    }
    return askSaveQuestion(loginData, siteUrl, siteName, true);
}

TBNSaveVariant TBNService::askSaveQuestion(TBNLoginData& loginData, const std::string& siteUrl,
                                           const std::string& siteName, bool isUpdate) {
    TBNSaveAccountQuestion question;
    question.account = loginData.login().value_or("");
    question.password = loginData.password().value_or("");
    question.siteName = siteName;
    question.siteUrl = siteUrl;
    question.isUpdate = isUpdate;
    auto answer = ask<TBNSaveAccountAnswer>(
        "saveAccount", kQuestionTimeout,
        [question](TBNUIServiceProtocol& ui, TBNUIServiceProtocol::SaveAccountReply reply) {
            ui.showSaveAccount(question, std::move(reply));
        });
    TBNSaveVariant variant = TBNSaveVariantDecline;
    if (answer) {
        loginData.setLogin(answer->account);
        loginData.setPassword(answer->password);
        variant = answer->secure ? TBNSaveVariantSaveSecured : TBNSaveVariantSave;
    }
    TBN_LOG_DEBUG(kTag, "saveVariant = {}", variantName(variant));
    return variant;
}

// ---- New account from the status menu ----------------------------------------------------

void TBNService::createAccountWithPassword(const std::optional<std::string>& password) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    if (!settings_->firstPairedDevice()) {
        TBN_LOG_DEBUG_ALT_END(kTag);
        return;
    }
    TBNSaveAccountQuestion question;
    question.password = password.value_or("");
    auto answer = ask<TBNSaveAccountAnswer>(
        "saveAccount", kQuestionTimeout,
        [question](TBNUIServiceProtocol& ui, TBNUIServiceProtocol::SaveAccountReply reply) {
            ui.showSaveAccount(question, std::move(reply));
        });
    if (answer && remoteService_) {
        remoteService_->createAccount(answer->account, answer->password, answer->siteUrl,
                                      answer->siteName, answer->secure);
    }
    TBN_LOG_DEBUG_END(kTag);
}

// ---- Account question --------------------------------------------------------------------

std::optional<int64_t> TBNService::thriftHostServiceChooseDefaultAccount(
    TBNThriftHostService&, const std::vector<std::string>& accounts, const std::string& siteUrl,
    const std::string& siteName, bool usingAccountCache) {
    return chooseDefaultAccount(accounts, siteUrl, siteName, usingAccountCache);
}

int64_t TBNService::chooseDefaultAccount(const std::vector<std::string>& accounts,
                                         const std::string& siteUrl, const std::string& siteName,
                                         bool usingAccountCache) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    // One account question at a time; a later one for the same site may take the
    // answer just given from the cache.
    std::lock_guard<std::mutex> lock(chooseAccountMutex_);
    const std::string key = TBNCryptHash::strSha256FromSiteUrl(siteUrl);
    auto found = chooseAccountCache_.find(key);
    if (found != chooseAccountCache_.end() && usingAccountCache) {
        const auto age = clock_->now() - found->second.date;
        if (age <= Clock::seconds(kChooseAccountCacheSeconds) &&
            found->second.index < accounts.size()) {
            TBN_LOG_DEBUG(kTag, "account {} taken from the cache", found->second.index);
            return static_cast<int64_t>(found->second.index);
        }
        chooseAccountCache_.erase(found);
    }
    TBNChooseAccountQuestion question;
    question.accounts = accounts;
    question.siteUrl = siteUrl;
    question.siteName = siteName;
    auto answer = ask<uint64_t>(
        "chooseAccount", kQuestionTimeout,
        [question](TBNUIServiceProtocol& ui, TBNUIServiceProtocol::ChooseAccountReply reply) {
            ui.showChooseAccount(question, std::move(reply));
        });
    if (!answer) {
        TBN_LOG_DEBUG(kTag, "no account chosen");
        return -1;
    }
    if (*answer >= accounts.size()) {
        TBN_LOG_WARN(kTag, "chosen index {} is outside the {} accounts: no choice", *answer,
                     accounts.size());
        return -1;
    }
    chooseAccountCache_[key] = ChosenAccount{clock_->now(), *answer};
    TBN_LOG_DEBUG(kTag, "account {} chosen", *answer);
    return static_cast<int64_t>(*answer);
}

// ---- Pings and client keys -----------------------------------------------------------------

void TBNService::thriftHostServiceDidPingFromExtensionId(
    TBNThriftHostService&, const std::optional<std::string>& extensionId,
    const std::optional<std::string>& extensionVersion) {
    didPingFromExtension(extensionId, extensionVersion);
}

void TBNService::didPingFromExtension(const std::optional<std::string>& extensionId,
                                      const std::optional<std::string>& extensionVersion) {
    TBN_LOG_VERBOSE(kTag, "ping from {} version {}", extensionId.value_or("(null)"),
                    extensionVersion.value_or("(null)"));
    if (pingDelegate()) {
        std::weak_ptr<TBNService> weakSelf = weak_from_this();
        std::string id = extensionId.value_or(""), version = extensionVersion.value_or("");
        onMain([weakSelf, id, version] {
            auto self = weakSelf.lock();
            if (!self) return;
            if (auto d = self->pingDelegate()) d->serviceDidPingFromExtensionId(*self, id, version);
        });
    }
    if (!extensionId) return;
    const std::string& id = *extensionId;
    if (id == "com.tobrin.safari.lumvane") {
        if (settings_->lastSafariExtVersion() != extensionVersion) {
            settings_->setLastSafariExtVersion(extensionVersion);
        }
    } else if (id == "com.tobrin.chrome.lumvane" || id == "com.tobrin.firefox.lumvane" ||
               id == "com.tobrin.opera.lumvane" || id == "com.tobrin.edge.lumvane") {
        if (settings_->lastChromeExtVersion() != extensionVersion) {
            settings_->setLastChromeExtVersion(extensionVersion);
        }
    }
}

std::optional<Bytes> TBNService::thriftHTTPServer(ThriftHTTPServer&, const std::string& clientId) {
    return clientKeyForClientId(clientId);
}

std::optional<Bytes> TBNService::clientKeyForClientId(const std::string& clientId) {
    if (clientId.empty()) return std::nullopt;
    auto secret = settings_->clientSecretByClientId(clientId);
    if (!secret) return std::nullopt;
    return TBNCryptHash::sha256FromString(*secret);
}

// ---- Settings --------------------------------------------------------------------------------

void TBNService::settingsDidUpdated(TBNSettings& settings, TBNSettingsComponents) {
    if (!settings.skipUntilOnline()) return;
    auto device = settings.firstPairedDevice();
    if (device && device->online()) {
        TBN_LOG_INFO(kTag, "the phone is online again: save questions resume");
        settings.setSkipUntilOnline(false);
    }
}

// ---- Security-key driver pages -------------------------------------------------------------

void TBNService::showInstallDriver() {
    showDriverPage(TBNInstallDriverViewType::Install, "need install U2F driver");
}

void TBNService::showRunDriver() {
    showDriverPage(TBNInstallDriverViewType::Start, "need run U2F driver");
}

void TBNService::showUpdateDriver() {
    showDriverPage(TBNInstallDriverViewType::Update, "want update U2F driver");
}

void TBNService::showDriverPage(TBNInstallDriverViewType type, const char* logText) {
    // One driver page at a time: the flag is taken here, not later on the queue, so two
    // quick calls cannot both pass.
    bool expected = false;
    if (!showingInstallDriver_.compare_exchange_strong(expected, true)) return;
    TBN_LOG_INFO(kTag, "{}", logText);
    std::weak_ptr<TBNService> weakSelf = weak_from_this();
    async([weakSelf, type] {
        auto self = weakSelf.lock();
        if (!self) return;
        self->ask<bool>(
            "installDriver", kInstallDriverTimeout,
            [type](TBNUIServiceProtocol& ui, std::function<void(std::optional<bool>)> reply) {
                ui.showInstallDriver(type, [reply] { reply(true); });
            });
        self->showingInstallDriver_ = false;
    });
}

}  // namespace lumvane
