// Running permission, start-up configuration, parser description and navigation
// tracking of the page scripts.
#include <cctype>

#include "ExceptionGuard.h"
#include "Parsers.h"
#include "SafariExtensionHandler.h"

namespace lumvane {

namespace {

// The value of an integer text: optional sign, then digits only; nothing otherwise.
std::optional<bool> integerTextIsZero(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    size_t i = (*text)[0] == '+' || (*text)[0] == '-' ? 1 : 0;
    if (i == text->size()) return std::nullopt;
    bool zero = true;
    for (; i < text->size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>((*text)[i]))) return std::nullopt;
        if ((*text)[i] != '0') zero = false;
    }
    return zero;
}

std::optional<int64_t> timestampOf(const JSDictionary& event) {
    auto it = event.find("timestamp");
    if (it == event.end()) return std::nullopt;
    try {
        return jscodec::readInteger(*it, "timestamp", INT64_MIN, INT64_MAX);
    } catch (const JSDecodingError&) {
        return std::nullopt;
    }
}

}  // namespace

bool SafariExtensionHandler::isTopFrame(const std::optional<std::string>& frameId) {
    return integerTextIsZero(frameId).value_or(false);
}

std::string SafariExtensionHandler::pageKey(const SafariURL& url) {
    return url.pageKey();
}

void SafariExtensionHandler::activePageURL(
    const std::shared_ptr<SafariApplication>& application,
    std::function<void(std::optional<SafariURL>)> completion) {
    if (!application) {
        completion(std::nullopt);
        return;
    }
    application->getActiveWindow([completion](std::shared_ptr<SafariWindow> window) {
        if (!window) return completion(std::nullopt);
        window->getActiveTab([completion](std::shared_ptr<SafariTab> tab) {
            if (!tab) return completion(std::nullopt);
            tab->getActivePage([completion](std::shared_ptr<SafariPage> page) {
                if (!page) return completion(std::nullopt);
                page->getPageProperties([completion](std::optional<SafariPageProperties> props) {
                    if (!props || !props->url) return completion(std::nullopt);
                    completion(SafariURL::parse(*props->url));
                });
            });
        });
    });
}

void SafariExtensionHandler::onSendRemoteLog(const JSContext&, const Param& param, const PagePtr&) {
    if (!param) throw JSError::HasNotParameter();
    (void)JSLogMessage::fromDictionary(*param);
}

void SafariExtensionHandler::onRequestScriptRunningPermission(const JSContext& context,
                                                              const PagePtr& page) {
    if (!isTopFrame(context.frameId) || !page) return;
    SessionStorage* session = &session_;
    page->getContainingTab([session, context, page](std::shared_ptr<SafariTab> tab) {
        if (!tab) return;
        resolveTabKey(tab, [session, context, page](const std::string& key) {
            SafariExtensionHandler(*session).assignTabSession(key, context, page);
        });
    });
}

void SafariExtensionHandler::assignTabSession(const std::string& tabKey, const JSContext& context,
                                              const PagePtr& page) {
    JSContext fresh = context;
    fresh.tabId = tabKey;
    fresh.frameId = "0";
    fresh.sessionId = "s" + std::to_string(session_.nextSessionId());
    session_.ensureTabState(tabKey);
    SessionStorage* session = &session_;
    activePageURL(session_.application(), [session, fresh, page](std::optional<SafariURL> url) {
        SafariExtensionHandler(*session).sendTabScriptRunningPermission(url, fresh, page);
    });
}

void SafariExtensionHandler::sendTabScriptRunningPermission(const std::optional<SafariURL>& url,
                                                            const JSContext& context,
                                                            const PagePtr& page) {
    bool executing = true;
    if (url) {
        if (session_.config().isBlockedKey(pageKey(*url))) {
            executing = false;
        } else {
            executing = !session_.config().isBlocked(*url);
        }
    }
    JSPermissionResponse response;
    response.executing = executing;
    sendEncodableToPage("tbn-tab-script-running-permission", context,
                        std::optional<JSPermissionResponse>(response), page);
}

void SafariExtensionHandler::onSendRunningPermissionToAllIframes(const JSContext& context,
                                                                 const Param& message,
                                                                 const PagePtr& page) {
    if (!message) throw JSError::HasNotParameter();
    auto request = JSPermissionRequest::fromDictionary(*message);
    JSPermissionResponse response;
    response.executing = request.executing;
    JSContext reply = context;
    reply.frameId.reset();
    sendEncodableToPage("tbn-change-running-permission", reply,
                        std::optional<JSPermissionResponse>(response), page);
}

void SafariExtensionHandler::onInit(const JSContext& context, const Param& param,
                                    const PagePtr& page) {
    if (!param) throw JSError::HasNotParameter();
    auto request = JSInitRequest::fromDictionary(*param);
    auto frameZero = integerTextIsZero(context.frameId);
    if (!frameZero) return;
    std::optional<JSDictionary> handBack;
    {
        auto lock = session_.lockTabs();
        auto tab = session_.tabState(SessionStorage::tabStateKey(context));
        if (!tab) return;
        if (!context.url) return;
        auto url = SafariURL::parse(*context.url);
        if (!url) return;
        if (!*frameZero) return;

        std::optional<int64_t> type = request.navigationType;
        if (type == 1 && request.referrer && tab->referrer && *request.referrer != *tab->referrer) {
            type = 0;
        }
        std::string address = url->storedAddress();
        if (type == 0) {
            bool continues = false;
            if (tab->url) {
                continues = request.referrer.has_value() ||
                            (request.redirectCount && *request.redirectCount > 0) ||
                            siteDomainOfText(*tab->url) == siteDomainOfText(address);
            }
            tab->referrer = request.referrer;
            if (continues) {
                tab->prevUrl = tab->url;
                tab->prevLastEvent = tab->lastEvent;
                handBack = tab->lastEvent;
            } else {
                tab->lastEvent.reset();
                tab->prevLastEvent.reset();
                tab->prevUrl.reset();
            }
        } else if (type == 1) {
            if (tab->prevLastEvent) tab->lastEvent = tab->prevLastEvent;
            handBack = tab->prevLastEvent;
        } else {
            tab->lastEvent.reset();
            tab->prevLastEvent.reset();
            tab->referrer.reset();
            tab->prevUrl.reset();
        }
        tab->url = address;
    }
    sendMessageToPage("restoreLastEventFromExt", context, handBack, page);
}

void SafariExtensionHandler::onStart(const JSContext& context, const PagePtr& page) {
    if (isTopFrame(context.frameId)) session_.cancelScheduledSave(context);
    JSConfig config;
    config.enableGA = false;
    config.debugGA = false;
    config.idGA = std::string(kIdGA);
    config.clientId = std::string();
    config.appName = std::string(kAppName);
    config.appId = std::string(Communication::kAppIdentifier);
    config.appVersion = std::string(Communication::kAppVersion);
    config.extendedMode = false;
    config.autoLogin = session_.config().autoLogin();
    config.autoLogout = session_.config().autoLogout();
    JSStartResponse response;
    response.url = std::string();
    response.config = config;
    sendEncodableToPage("prepare", context, std::optional<JSStartResponse>(response), page);
}

void SafariExtensionHandler::onGetParserInfo(const JSContext& context, const PagePtr& page) {
    {
        auto lock = session_.lockTabs();
        auto tab = session_.tabState(SessionStorage::tabStateKey(context));
        if (!tab || !tab->url) return;
    }
    JSGetParserInfo reply;
    reply.parserInfo = session_.parsers().defaultParserInfo();
    sendEncodableToPage("parserInit", context, std::optional<JSGetParserInfo>(reply), page);
}

void SafariExtensionHandler::onStoreLastEvent(const JSContext& context, const Param& param) {
    if (param && !param->is_object()) throw JSError::HasNotParameter();
    auto lock = session_.lockTabs();
    auto tab = session_.tabState(SessionStorage::tabStateKey(context));
    if (!tab) return;
    if (!param) {
        tab->lastEvent.reset();
        return;
    }
    if (!tab->lastEvent) {
        tab->lastEvent = *param;
        return;
    }
    auto stored = timestampOf(*tab->lastEvent);
    auto incoming = timestampOf(*param);
    if (stored && incoming && *incoming > *stored) tab->lastEvent = *param;
}

void SafariExtensionHandler::onBeforeUnload(const JSContext& context) {
    if (!context.sessionId) return;
    bool cancel = false;
    {
        auto lock = session_.lockTabs();
        auto tab = session_.tabState(SessionStorage::tabStateKey(context));
        // Only an unload after another page session's recorded unload acts. Nothing records a
        // tab's first unload, so the event of a multi-page login survives to the next page.
        if (!tab || !tab->unloadSessionId || tab->unloadSessionId == context.sessionId) return;
        tab->lastEvent.reset();
        tab->unloadSessionId = context.sessionId;
        cancel = true;
    }
    if (cancel) session_.cancelScheduledSave(context);
}

}  // namespace lumvane
