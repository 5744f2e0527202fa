#include "SafariExtensionHandler.h"

#include <set>

#include "ExceptionGuard.h"
#include "Parsers.h"
#include "SafariExtensionViewController.h"
#include "SafariLog.h"
#include "runtime/DispatchQueue.h"

namespace lumvane {

SafariExtensionHandler::SafariExtensionHandler(SessionStorage& session) : session_(session) {}

void SafariExtensionHandler::messageReceived(const std::string& name, const PagePtr& page,
                                             const std::optional<JSDictionary>& userInfo) {
    enqueueMessage(name, page, userInfo);
}

void SafariExtensionHandler::enqueueMessage(const std::string& name, const PagePtr& page,
                                            const std::optional<JSDictionary>& userInfo) {
    session_.messageQueue()->sync([&] { handleMessage(userInfo, page, name); });
}

SafariExtensionViewController& SafariExtensionHandler::popoverViewController() {
    return session_.popupViewController();
}

JSDictionary SafariExtensionHandler::redactedForLog(const JSDictionary& value) {
    static const std::set<std::string> kSecretKeys = {
        "password", "currentPassword", "activeInputValue", "nextInputValue",
        "code",     "prevCode",        "nextCode",         "clientSecret"};
    if (value.is_object()) {
        JSDictionary out = JSDictionary::object();
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (kSecretKeys.count(it.key()) && it.value().is_string()) {
                out[it.key()] = "<" +
                                std::to_string(it.value().get_ref<const std::string&>().size()) +
                                " chars>";
            } else {
                out[it.key()] = redactedForLog(it.value());
            }
        }
        return out;
    }
    if (value.is_array()) {
        JSDictionary out = JSDictionary::array();
        for (const auto& e : value) out.push_back(redactedForLog(e));
        return out;
    }
    return value;
}

namespace {
std::string userInfoLine(const std::optional<JSDictionary>& userInfo) {
    return "userInfo: " +
           (userInfo ? printedForm(SafariExtensionHandler::redactedForLog(*userInfo)) : "nil");
}
}  // namespace

void SafariExtensionHandler::handleMessage(const std::optional<JSDictionary>& userInfo,
                                           const PagePtr& page, const std::string& name) {
    try {
        if (!userInfo || !userInfo->is_object() || userInfo->empty() ||
            !userInfo->contains("context")) {
            throw JSError::HasNotContext();
        }
        JSContext context = JSContext::fromDictionary((*userInfo)["context"]);
        Param message;
        if (auto it = userInfo->find("message"); it != userInfo->end() && it->is_object()) {
            message = *it;
        }
        Param param;
        if (message && !message->empty()) {
            if (auto it = message->find("param"); it != message->end() && !it->is_null()) {
                param = *it;
            }
        }
        context.source = "back";
        context.destination = "page";
        if (page) {
            JSContext stored = context;
            SessionStorage* session = &session_;
            page->getContainingTab([session, stored](std::shared_ptr<SafariTab> tab) {
                if (!tab) return;
                resolveTabKey(tab, [session, stored](const std::string& key) {
                    session->setLastTabContext(key, stored);
                });
            });
        }

        if (name == "sendRemoteLog") {
            onSendRemoteLog(context, param, page);
        } else if (name == "tbn-request-script-running-permission") {
            onRequestScriptRunningPermission(context, page);
        } else if (name == "tbn-send-running-permission-to-all-iframes") {
            onSendRunningPermissionToAllIframes(context, message, page);
        } else if (name == "init") {
            onInit(context, param, page);
        } else if (name == "start") {
            onStart(context, page);
        } else if (name == "getParserInfo") {
            onGetParserInfo(context, page);
        } else if (name == "getFormsInfo") {
            onGetFormsInfo(context, param, page);
        } else if (name == "chooseUserAccount") {
            onChooseUserAccount(context, param, page);
        } else if (name == "getUserPassword") {
            onGetUserPassword(context, param, page);
        } else if (name == "get2FACode") {
            onGet2FACode(context, param, page);
        } else if (name == "saveLoginForm") {
            onSaveLoginForm(context, param);
        } else if (name == "cancelLoginFormSaving") {
            session_.cancelScheduledSave(context);
        } else if (name == "beforeUnload") {
            onBeforeUnload(context);
        } else if (name == "storeLastEvent") {
            onStoreLastEvent(context, param);
        } else if (name == "tryToApplyUserAccount") {
            onTryToApplyUserAccount(context, param, page);
        } else if (name == "loginButtonPressed") {
            onLoginButtonPressed(context, param);
        } else if (name == "tbn-active-element") {
            onActiveElement(context, message, page);
        } else {
            SafariLog::system("!!!! unparsed !!!!");
            SafariLog::system("==========================");
            SafariLog::system(name);
            SafariLog::system(userInfo ? printedForm(redactedForLog(*userInfo)) : "nil");
            SafariLog::system("--------------------------");
        }
    } catch (const std::exception& e) {
        SafariLog::system(std::string("error: ") + e.what());
        SafariLog::system(userInfoLine(userInfo));
    }
}

void SafariExtensionHandler::resolveTabKey(const std::shared_ptr<SafariTab>& tab,
                                           std::function<void(const std::string&)> completion) {
    if (!tab) return;
    int64_t tabHash = tab->hash();
    tab->getContainingWindow(
        [tabHash, completion = std::move(completion)](std::shared_ptr<SafariWindow> window) {
            if (!window) return;
            completion(std::to_string(window->hash()) + "_" + std::to_string(tabHash));
        });
}

void SafariExtensionHandler::tabKeyOfPage(const PagePtr& page,
                                          std::function<void(const std::string&)> completion) {
    if (!page) return;
    page->getContainingTab([completion = std::move(completion)](std::shared_ptr<SafariTab> tab) {
        if (!tab) return;
        resolveTabKey(tab, completion);
    });
}

void SafariExtensionHandler::sendMessageToPage(const std::string& name, const JSContext& context,
                                               const std::optional<JSDictionary>& payload,
                                               const PagePtr& page) {
    SafariLog::system("<<  " + name);
    SafariLog::system("    context: " + context.debugDescription());
    JSDictionary reply = JSDictionary::object();
    if (auto encoded = context.dictionary()) reply["context"] = *encoded;
    if (payload) {
        SafariLog::system("    message: " + printedForm(redactedForLog(*payload)));
        reply["message"] = *payload;
    }
    if (page) page->dispatchMessageToScript(name, reply);
}

void SafariExtensionHandler::validateToolbarItem(
    const std::shared_ptr<SafariWindow>& window,
    const std::function<void(bool, const std::string&)>& validationHandler) {
    if (window && !session_.hasWindow(*window)) {
        session_.touchWindow(*window);
        // Counted before it is queued, so a shutdown waits for this loop too.
        session_.pingLoopStarted();
        SessionStorage* session = &session_;
        DispatchQueue::global(DispatchQueue::Priority::Background)->async([session, window] {
            runWindowPingLoop(*session, window);
            session->pingLoopEnded();
        });
    }
    if (validationHandler) validationHandler(true, "");
}

// ---- ping loop and toolbar icon ----

LumvaneServiceState SafariExtensionHandler::stateForPing(PingStatus word) {
    if (PingWord::extendedMode(word) == 2) return LumvaneServiceState::offline;
    if (PingWord::serviceError(word) == 2) return LumvaneServiceState::paused;
    if (PingWord::serviceError(word) == 1) return LumvaneServiceState::offline;
    if (PingWord::phoneState(word) == 3) return LumvaneServiceState::deviceNotPaired;
    if (PingWord::phoneState(word) == 2) return LumvaneServiceState::deviceOfflined;
    return LumvaneServiceState::running;
}

const char* SafariExtensionHandler::toolbarImageName(LumvaneServiceState state) {
    switch (state) {
        case LumvaneServiceState::unknown:
            return "browser_action_icon_inactive_38x38";
        case LumvaneServiceState::unauthorized:
        case LumvaneServiceState::offline:
            return "browser_action_icon_error_38x38";
        case LumvaneServiceState::paused:
            return "browser_action_icon_paused_38x38";
        case LumvaneServiceState::running:
        case LumvaneServiceState::deviceNotPaired:
        case LumvaneServiceState::deviceOfflined:
            return "browser_action_icon_38x38";
    }
    return "browser_action_icon_inactive_38x38";
}

void SafariExtensionHandler::setToolbarIcon(const std::shared_ptr<SafariToolbarItem>& item,
                                            LumvaneServiceState state) {
    if (!item) return;
    item->setImage(toolbarImageName(state));
    item->setEnabled(true);
}

void SafariExtensionHandler::runWindowPingLoop(SessionStorage& session,
                                               const std::shared_ptr<SafariWindow>& window) {
    if (!window) return;
    SessionStorage* s = &session;
    while (true) {
        if (session.isWindowStale(*window)) {
            session.removeWindow(*window);
            return;
        }
        std::weak_ptr<SafariWindow> weak = window;
        window->getAllTabs([s, weak](std::vector<std::shared_ptr<SafariTab>>) {
            if (auto w = weak.lock()) s->touchWindow(*w);
        });
        LumvaneServiceState state = stateForPing(session.communication().sendPing());
        if (state != session.serviceState(*window)) {
            session.setServiceState(*window, state);
            window->getToolbarItem(
                [state](std::shared_ptr<SafariToolbarItem> item) { setToolbarIcon(item, state); });
        }
        if (!session.pause(kPingIntervalSeconds)) return;
    }
}

void SafariExtensionHandler::onActiveElement(const JSContext& context, const Param& message,
                                             const PagePtr& page) {
    std::optional<JSDictionary> info;
    if (message) {
        auto it = message->find("activeElementInfo");
        if (it != message->end() && !it->is_null()) {
            if (!it->is_object()) return;
            info = *it;
        }
        auto frame = message->find("frameUrl");
        if (frame != message->end() && !frame->is_null() && !frame->is_string()) return;
    }
    session_.popupViewController().onActiveElement(context, info, page);
}

}  // namespace lumvane
