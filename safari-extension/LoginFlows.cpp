// Filling logins into page forms and saving submitted logins.
#include <set>

#include "ExceptionGuard.h"
#include "SafariExtensionHandler.h"
#include "SafariLog.h"

namespace lumvane {

namespace {
bool contains(const std::vector<std::string>& list, const char* value) {
    for (const auto& e : list) {
        if (e == value) return true;
    }
    return false;
}
}  // namespace

std::optional<SafariURL> SafariExtensionHandler::tabPageAddress(const JSContext& context) {
    std::optional<std::string> text;
    {
        auto lock = session_.lockTabs();
        auto tab = session_.tabState(SessionStorage::tabStateKey(context));
        if (!tab || !tab->url) return std::nullopt;
        text = tab->url;
    }
    return SafariURL::parse(*text);
}

bool SafariExtensionHandler::shouldAutoSubmit(const JSContext& context, int64_t step) {
    double now = session_.now();
    int64_t clickStep = 0;
    double clickTime = 0;
    {
        auto lock = session_.lockTabs();
        auto tab = session_.tabState(SessionStorage::tabStateKey(context));
        if (!tab) return false;
        clickStep = tab->loginClickStep;
        clickTime = tab->loginButtonClickTimestamp;
    }
    if (!session_.config().autoLogin()) return false;
    if (clickStep < step) return true;
    return now - clickTime > kAutoSubmitQuietSeconds;
}

void SafariExtensionHandler::onLoginButtonPressed(const JSContext& context, const Param& param) {
    if (!param) throw JSError::HasNotParameter();
    int64_t step;
    try {
        step = jscodec::readInteger(*param, "param", INT64_MIN, INT64_MAX);
    } catch (const JSDecodingError&) {
        throw JSError::HasNotParameter();
    }
    auto lock = session_.lockTabs();
    auto tab = session_.tabState(SessionStorage::tabStateKey(context));
    if (!tab) return;
    tab->loginClickStep = step;
    tab->loginButtonClickTimestamp = session_.now();
}

void SafariExtensionHandler::onGetFormsInfo(const JSContext& context, const Param& param,
                                            const PagePtr& page) {
    if (!param) throw JSError::HasNotParameter();
    auto request = JSGetFormsInfoRequest::fromDictionary(*param);
    std::optional<SafariURL> url;
    if (request.url) {
        if (!request.tags) return;
        url = SafariURL::parse(*request.url);
    } else {
        std::optional<std::string> text;
        {
            auto lock = session_.lockTabs();
            auto tab = session_.tabState(SessionStorage::tabStateKey(context));
            if (!tab || !tab->url) return;
            text = tab->url;
        }
        if (!request.tags) return;
        url = SafariURL::parse(*text);
    }
    if (!url) return;
    const auto& tags = *request.tags;
    if (contains(tags, "login") || contains(tags, "change-password")) {
        auto accounts = session_.communication().getSiteData(*url);
        if (request.force != true) {
            JSGetFormsInfoResponse response;
            response.loginAccounts = accounts;
            sendEncodableToPage("chooseAccount", context,
                                std::optional<JSGetFormsInfoResponse>(response), page);
            return;
        }
        std::vector<std::string> names;
        for (const auto& a : accounts) {
            if (a.login) names.push_back(*a.login);
        }
        if (names.size() == 1) {
            JSApplyUserAccountResponse response;
            response.tag = std::string("login");
            response.account = names.front();
            response.autoSubmit = shouldAutoSubmit(context, 1);
            response.force = true;
            sendEncodableToPage("applySelectedUserAccount", context,
                                std::optional<JSApplyUserAccountResponse>(response), page);
            return;
        }
        JSChooseUserAccountRequest choose;
        choose.accounts = names;
        choose.tag = std::string("login");
        choose.force = true;
        onChooseUserAccount(context, choose.dictionary(), page);
        return;
    }
    if (contains(tags, "registration")) return;
    sendMessageToPage("done", context, JSDictionary("extManager.getFormsInfo error"), page);
}

void SafariExtensionHandler::onChooseUserAccount(const JSContext& context, const Param& param,
                                                 const PagePtr& page) {
    if (!param) throw JSError::HasNotParameter();
    auto request = JSChooseUserAccountRequest::fromDictionary(*param);
    if (!request.accounts || !request.tag) return;
    auto url = tabPageAddress(context);
    if (!url) return;
    const std::string& tag = *request.tag;
    if (tag == "login" || tag == "change-password") {
        auto chosen =
            session_.communication().chooseSiteData(*url, *request.accounts, request.force == true);
        bool autoSubmit = shouldAutoSubmit(context, 1);
        if (chosen) {
            JSApplyUserAccountResponse response;
            response.tag = tag;
            response.account = *chosen;
            response.autoSubmit = autoSubmit;
            response.force = request.force;
            sendEncodableToPage("applySelectedUserAccount", context,
                                std::optional<JSApplyUserAccountResponse>(response), page);
            return;
        }
    }
    sendMessageToPage("done", context, JSDictionary("extManager.chooseUserAccounts " + tag), page);
}

void SafariExtensionHandler::onGetUserPassword(const JSContext& context, const Param& param,
                                               const PagePtr& page) {
    if (!param) throw JSError::HasNotParameter();
    auto request = JSAccount::fromDictionary(*param);
    if (!request.login) return;
    auto url = tabPageAddress(context);
    if (!url) return;
    auto found = session_.communication().getLoginData(*url, *request.login);
    if (!found) {
        sendMessageToPage("done", context, JSDictionary("extManager.getUserPassword"), page);
        return;
    }
    found->autoSubmit = shouldAutoSubmit(context, 2);
    sendEncodableToPage("applyInputData", context, found, page);
}

void SafariExtensionHandler::onGet2FACode(const JSContext& context, const Param& param,
                                          const PagePtr& page) {
    if (!param || !param->is_string()) throw JSError::HasNotParameter();
    std::string name = param->get<std::string>();
    auto url = tabPageAddress(context);
    if (!url) return;
    auto code = session_.communication().get2FACode(*url, name);
    if (!code) return;
    JSGet2FACodeResponse response;
    response.mfaData = *code;
    response.autoSubmit = shouldAutoSubmit(context, 3);
    sendEncodableToPage("apply2FACode", context, std::optional<JSGet2FACodeResponse>(response),
                        page);
}

void SafariExtensionHandler::onTryToApplyUserAccount(const JSContext& context, const Param& param,
                                                     const PagePtr& page) {
    if (!param) throw JSError::HasNotParameter();
    auto request = JSApplyUserAccountRequest::fromDictionary(*param);
    JSApplyUserAccountResponse response;
    response.tag = request.tag;
    response.account = request.account;
    response.autoSubmit = shouldAutoSubmit(context, 1);
    response.force = false;
    sendEncodableToPage("applySelectedUserAccount", context,
                        std::optional<JSApplyUserAccountResponse>(response), page);
}

void SafariExtensionHandler::onSaveLoginForm(const JSContext& context, const Param& param) {
    if (!param) throw JSError::HasNotParameter();
    auto request = JSSaveLoginFormRequest::fromDictionary(*param);
    session_.cancelScheduledSave(context);
    if (!request.account || !request.account->password || !request.urls || request.urls->empty()) {
        return;
    }
    JSAccount account = *request.account;
    std::vector<std::string> urls = *request.urls;
    if (request.pause) {
        SessionStorage* session = &session_;
        session_.scheduleSave(context, static_cast<double>(*request.pause) / 1000.0,
                              [session, account, urls, context] {
                                  SafariExtensionHandler(*session).storeCredentials(account, urls,
                                                                                    context);
                              });
        return;
    }
    storeCredentials(account, urls, context);
}

void SafariExtensionHandler::storeCredentials(const JSAccount& account,
                                              const std::vector<std::string>& urls,
                                              const JSContext& context) {
    {
        auto lock = session_.lockTabs();
        auto tab = session_.tabState(SessionStorage::tabStateKey(context));
        if (!tab) return;
    }
    std::optional<SafariURL> pageURL;
    for (const auto& text : urls) {
        auto url = SafariURL::parse(text);
        if (url && url->siteDomain()) {
            pageURL = url;
            break;
        }
    }
    if (!pageURL) {
        SafariLog::system(
            "error: the submitted form names no address with a site; login not saved");
        return;
    }
    {
        auto lock = session_.lockTabs();
        if (auto tab = session_.tabState(SessionStorage::tabStateKey(context))) {
            tab->lastEvent.reset();
            tab->prevLastEvent.reset();
        }
    }
    bool update = false;
    if (account.currentLogin && account.password == account.currentPassword) {
        update = account.currentLogin->empty() || account.login == account.userName ||
                 account.login == account.email || account.login == account.phone;
    }
    if (update) {
        session_.communication().updateLoginData(account, *pageURL, *account.currentLogin);
    } else {
        session_.communication().addLoginData(account, *pageURL);
    }
}

}  // namespace lumvane
