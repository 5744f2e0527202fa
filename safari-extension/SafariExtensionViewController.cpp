#include "SafariExtensionViewController.h"

#include "Parsers.h"
#include "SafariExtensionHandler.h"
#include "SafariLog.h"
#include "SessionStorage.h"
#include "runtime/DispatchQueue.h"

namespace lumvane {

SafariExtensionViewController::SafariExtensionViewController(SessionStorage& session)
    : session_(session) {}

SafariExtensionViewController::~SafariExtensionViewController() {
    shutdown();
}

void SafariExtensionViewController::shutdown() {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    for (auto id : pendingCalls_) {
        if (session_.clock()->cancel(id)) --inFlight_;
    }
    pendingCalls_.clear();
    cv_.wait(lock, [&] { return inFlight_ == 0; });
}

void SafariExtensionViewController::viewDidLoad(std::shared_ptr<PopupWebView> webView) {
    std::lock_guard<std::mutex> lock(mutex_);
    webView_ = std::move(webView);
}

void SafariExtensionViewController::viewDidAppear() {
    auto path = SafariBundle::pathForResource("popup-view", "html");
    if (!path) return;
    std::shared_ptr<PopupWebView> webView;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        webView = webView_;
    }
    if (webView) webView->loadFileURL(*path);
}

void SafariExtensionViewController::onMain(std::function<void()> block) {
    session_.mainQueue()->async(std::move(block));
}

void SafariExtensionViewController::sendToPopup(const std::string& function,
                                                const std::optional<JSDictionary>& dictionary) {
    std::string script = function + "(";
    if (dictionary) {
        try {
            script += dictionary->dump();
        } catch (...) {
            // No text form: the function is called without an argument.
        }
    }
    script += ");";
    SafariLog::print("send to popup '" + script + "'");
    std::shared_ptr<PopupWebView> webView;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        webView = webView_;
    }
    if (webView) webView->evaluateJavaScript(script);
}

void SafariExtensionViewController::userContentControllerDidReceiveScriptMessage(
    const std::string& handlerName, const JSDictionary& body) {
    if (handlerName == "log") {
        SafariLog::print("popup log: " +
                         (body.is_string() ? body.get<std::string>() : printedForm(body)));
        return;
    }
    if (handlerName != "service") {
        SafariLog::print("message: " + handlerName + " - " + printedForm(body));
        return;
    }
    if (!body.is_object() || body.empty()) return;
    auto command = body.find("command");
    if (command == body.end() || !command->is_string()) return;
    const std::string& name = command->get_ref<const std::string&>();
    if (name == "getState") {
        getState();
    } else if (name == "getAccounts") {
        activeWindowPageURL([this](std::optional<SafariURL> url) { loadAccountsLater(url); });
    } else if (name == "selectAccount") {
        auto account = body.find("account");
        if (account == body.end() || !account->is_string()) return;
        selectAccount(account->get<std::string>());
    } else if (name == "addCredential") {
        addCredential();
    } else if (name == "switchBlockPage") {
        activeWindowPageURL([this](std::optional<SafariURL> url) {
            switchBlockPage(url);
            getState();
        });
    } else if (name == "switchBlockSite") {
        activeWindowPageURL([this](std::optional<SafariURL> url) {
            switchBlockSite(url);
            getState();
        });
    } else if (name == "switchAutoLogin") {
        session_.config().setAutoLogin(!session_.config().autoLogin());
        session_.config().save();
        getState();
    } else if (name == "switchAutoLogout") {
        session_.config().setAutoLogout(!session_.config().autoLogout());
        session_.config().save();
        getState();
    } else if (name == "getActiveElement") {
        activeWindowPage([this](std::shared_ptr<SafariPage> page) {
            if (!page) return;
            SafariExtensionHandler::tabKeyOfPage(
                page, [this, page](const std::string& key) { requestActiveElement(key, page); });
        });
    }
}

void SafariExtensionViewController::activeWindowPage(
    std::function<void(std::shared_ptr<SafariPage>)> completion) {
    auto app = session_.application();
    if (!app) return completion(nullptr);
    app->getActiveWindow([completion](std::shared_ptr<SafariWindow> window) {
        if (!window) return completion(nullptr);
        window->getActiveTab([completion](std::shared_ptr<SafariTab> tab) {
            if (!tab) return completion(nullptr);
            tab->getActivePage(completion);
        });
    });
}

void SafariExtensionViewController::activeWindowPageURL(
    std::function<void(std::optional<SafariURL>)> completion) {
    activeWindowPage([completion](std::shared_ptr<SafariPage> page) {
        if (!page) return completion(std::nullopt);
        page->getPageProperties([completion](std::optional<SafariPageProperties> props) {
            if (!props || !props->url) return completion(std::nullopt);
            completion(SafariURL::parse(*props->url));
        });
    });
}

// ---- state ----

void SafariExtensionViewController::getState() {
    auto app = session_.application();
    if (!app) return;
    app->getActiveWindow([this](std::shared_ptr<SafariWindow> window) {
        if (window) sendState(window);
    });
}

void SafariExtensionViewController::sendState(const std::shared_ptr<SafariWindow>& window) {
    LumvaneServiceState state = session_.serviceState(*window);
    SafariLog::print(std::string("winServiceState:  ") + serviceStateName(state));
    std::string text = state == LumvaneServiceState::paused ? "paused" : "online";
    activeWindowPageURL([this, text](std::optional<SafariURL> url) { sendStateForURL(url, text); });
}

void SafariExtensionViewController::sendStateForURL(const std::optional<SafariURL>& url,
                                                    const std::string& state) {
    JSPopupState popup;
    popup.serviceState = state;
    popup.autoLogin = session_.config().autoLogin();
    popup.autoLogout = session_.config().autoLogout();
    popup.blockPage =
        url ? session_.config().isBlockedKey(SafariExtensionHandler::pageKey(*url)) : false;
    popup.blockSite = url ? session_.config().isBlocked(*url) : false;
    onMain([this, popup] { sendToPopup("gcGetStateResult", popup.dictionary()); });
}

// ---- accounts ----

void SafariExtensionViewController::loadAccountsLater(const std::optional<SafariURL>& url) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    ++inFlight_;
    auto clock = session_.clock();
    auto holder = std::make_shared<Clock::CallId>(0);
    auto id = clock->callAt(clock->deadlineAfter(kAccountsDelaySeconds), [this, url, holder] {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pendingCalls_.erase(*holder);
        }
        DispatchQueue::global()->async([this, url] {
            loadAccounts(url);
            std::lock_guard<std::mutex> lock(mutex_);
            --inFlight_;
            cv_.notify_all();
        });
    });
    *holder = id;
    pendingCalls_.insert(id);
}

void SafariExtensionViewController::loadAccounts(const std::optional<SafariURL>& url) {
    std::vector<std::string> logins;
    if (url) {
        for (const auto& account : session_.communication().getSiteData(*url)) {
            if (account.login) logins.push_back(*account.login);
        }
    }
    onMain([this, logins] { sendAccounts(logins); });
}

void SafariExtensionViewController::sendAccounts(const std::vector<std::string>& logins) {
    JSDictionary body = JSDictionary::object();
    body["accounts"] = logins;
    sendToPopup("gcGetAccountsResult", body);
}

// ---- selecting an account ----

void SafariExtensionViewController::selectAccount(const std::string& login) {
    activeWindowPage(
        [this, login](std::shared_ptr<SafariPage> page) { selectAccountInPage(page, login); });
    onMain([this] {
        std::shared_ptr<PopupWebView> webView;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            webView = webView_;
        }
        if (webView) webView->dismissPopover();
    });
}

void SafariExtensionViewController::selectAccountInPage(const std::shared_ptr<SafariPage>& page,
                                                        const std::string& login) {
    if (!page) return;
    SafariExtensionHandler::tabKeyOfPage(
        page, [this, login, page](const std::string& key) { insertAccount(key, login, page); });
}

void SafariExtensionViewController::insertAccount(const std::string& tabKey,
                                                  const std::string& login,
                                                  const std::shared_ptr<SafariPage>& page) {
    auto context = session_.lastTabContext(tabKey);
    auto inputs = session_.lastActiveInputs(tabKey);
    if (!context || !inputs) return;
    std::optional<std::string> password;
    if (inputs->activeInputType == "password" || inputs->nextInputType == "password") {
        std::optional<std::string> text;
        {
            auto lock = session_.lockTabs();
            auto tab = session_.tabState(SessionStorage::tabStateKey(*context));
            if (!tab || !tab->url) return;
            text = tab->url;
        }
        auto url = SafariURL::parse(*text);
        if (!url) return;
        auto reply = session_.communication().getLoginData(*url, login);
        if (reply) password = reply->password;
    }
    JSActiveInputValues values;
    if (inputs->activeInputType == "text") {
        values.activeInputValue = login;
        if (inputs->nextInputType == "password") values.nextInputValue = password;
    } else {
        values.activeInputValue = password;
    }
    JSContext ctx = *context;
    onMain([this, ctx, values, page] { sendInsertValue(ctx, values, page); });
}

JSContext SafariExtensionViewController::menuContext(const JSContext& stored) {
    JSContext ctx;
    ctx.tabId = stored.tabId;
    ctx.sessionId = stored.sessionId;
    ctx.url = stored.url;
    ctx.source = "menu";
    ctx.destination = "page";
    return ctx;
}

void SafariExtensionViewController::sendInsertValue(const JSContext& context,
                                                    const JSActiveInputValues& values,
                                                    const std::shared_ptr<SafariPage>& page) {
    SafariExtensionHandler::sendEncodableToPage("tbn-insert-value", menuContext(context),
                                                std::optional<JSActiveInputValues>(values), page);
}

// ---- adding a login ----

void SafariExtensionViewController::addCredential() {
    activeWindowPageURL([this](std::optional<SafariURL> url) {
        if (url) session_.communication().addLoginData(JSAccount{}, *url);
    });
    onMain([this] {
        std::shared_ptr<PopupWebView> webView;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            webView = webView_;
        }
        if (webView) webView->dismissPopover();
    });
}

// ---- blocking ----

void SafariExtensionViewController::switchBlockPage(const std::optional<SafariURL>& url) {
    if (!url) return;
    std::string key = SafariExtensionHandler::pageKey(*url);
    if (session_.config().isBlockedKey(key)) {
        session_.config().removeBlockedKey(key);
    } else {
        session_.config().addBlockedKey(key);
    }
}

void SafariExtensionViewController::switchBlockSite(const std::optional<SafariURL>& url) {
    if (!url) return;
    if (session_.config().isBlocked(*url)) {
        session_.config().unblockSite(*url);
    } else {
        session_.config().blockSite(*url);
    }
}

// ---- focused input ----

void SafariExtensionViewController::requestActiveElement(const std::string& tabKey,
                                                         const std::shared_ptr<SafariPage>& page) {
    session_.removeLastActiveInputs(tabKey);
    onMain([this, tabKey, page] { sendGetActiveElement(tabKey, page); });
}

void SafariExtensionViewController::sendGetActiveElement(const std::string& tabKey,
                                                         const std::shared_ptr<SafariPage>& page) {
    auto context = session_.lastTabContext(tabKey);
    if (!context) return;
    SafariExtensionHandler::sendMessageToPage("tbn-get-active-element", menuContext(*context),
                                              std::nullopt, page);
}

void SafariExtensionViewController::onActiveElement(
    const JSContext& context, const std::optional<JSDictionary>& activeElementInfo,
    const std::shared_ptr<SafariPage>& page) {
    SafariLog::system("    context: " + context.debugDescription());
    if (!activeElementInfo) return;
    JSActiveInputs inputs;
    try {
        inputs = JSActiveInputs::fromDictionary(*activeElementInfo);
    } catch (const JSDecodingError&) {
        return;
    }
    SafariLog::system("    activeInputs: " + describeRecord(inputs));
    SafariExtensionHandler::tabKeyOfPage(
        page, [this, inputs](const std::string& key) { storeActiveInputs(key, inputs); });
}

void SafariExtensionViewController::storeActiveInputs(const std::string& tabKey,
                                                      const JSActiveInputs& inputs) {
    if (!session_.storeLastActiveInputsIfAbsent(tabKey, inputs)) return;
    onMain([this] { sendToPopup("gcGetActiveElementResult", std::nullopt); });
}

}  // namespace lumvane
