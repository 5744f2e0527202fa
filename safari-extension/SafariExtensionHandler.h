#pragma once
// The extension's entry point: page messages (routed by name on one serial message
// queue), toolbar validation (which starts a window's ping loop) and the popover.
// The handler keeps no state of its own; everything lives in SessionStorage.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Browser.h"
#include "JSRecords.h"
#include "SafariURL.h"
#include "SessionStorage.h"

namespace lumvane {

class Parsers;
class SafariExtensionViewController;

class SafariExtensionHandler {
  public:
    static constexpr const char* kIdGA = "UA-58260497-5";
    static constexpr const char* kAppName = "Lumvane Safari Extension";
    static constexpr double kPingIntervalSeconds = 5.0;
    static constexpr double kAutoSubmitQuietSeconds = 15.0;

    explicit SafariExtensionHandler(SessionStorage& session = SessionStorage::shared());

    // Called by the browser.
    void messageReceived(const std::string& name, const std::shared_ptr<SafariPage>& page,
                         const std::optional<JSDictionary>& userInfo);
    void validateToolbarItem(
        const std::shared_ptr<SafariWindow>& window,
        const std::function<void(bool enabled, const std::string& badge)>& validationHandler);
    SafariExtensionViewController& popoverViewController();

    // Runs the dispatcher synchronously on the message queue.
    void enqueueMessage(const std::string& name, const std::shared_ptr<SafariPage>& page,
                        const std::optional<JSDictionary>& userInfo);
    void handleMessage(const std::optional<JSDictionary>& userInfo,
                       const std::shared_ptr<SafariPage>& page, const std::string& name);

    // The tab key "<window hash>_<tab hash>"; the completion is not called without a window.
    static void resolveTabKey(const std::shared_ptr<SafariTab>& tab,
                              std::function<void(const std::string&)> completion);
    // The tab key of a page (page -> tab -> window).
    static void tabKeyOfPage(const std::shared_ptr<SafariPage>& page,
                             std::function<void(const std::string&)> completion);
    static void sendMessageToPage(const std::string& name, const JSContext& context,
                                  const std::optional<JSDictionary>& payload,
                                  const std::shared_ptr<SafariPage>& page);
    template <class Record>
    static void sendEncodableToPage(const std::string& name, const JSContext& context,
                                    const std::optional<Record>& record,
                                    const std::shared_ptr<SafariPage>& page) {
        std::optional<JSDictionary> payload;
        if (record) payload = record->dictionary();
        sendMessageToPage(name, context, payload, page);
    }

    // Tab permissions and navigation.
    static std::string pageKey(const SafariURL& url);
    // True when the frame id reads as the decimal integer 0 ("0", "00", "+0", "-0").
    static bool isTopFrame(const std::optional<std::string>& frameId);
    // The URL of the active page of the active window, nothing when any step is missing.
    static void activePageURL(const std::shared_ptr<SafariApplication>& application,
                              std::function<void(std::optional<SafariURL>)> completion);

    // Login flows.
    bool shouldAutoSubmit(const JSContext& context, int64_t step);
    void storeCredentials(const JSAccount& account, const std::vector<std::string>& urls,
                          const JSContext& context);

    // Ping loop and toolbar icon.
    static void runWindowPingLoop(SessionStorage& session,
                                  const std::shared_ptr<SafariWindow>& window);
    static LumvaneServiceState stateForPing(PingStatus word);
    static const char* toolbarImageName(LumvaneServiceState state);
    static void setToolbarIcon(const std::shared_ptr<SafariToolbarItem>& item,
                               LumvaneServiceState state);

    // For log lines: the value with every secret-bearing member replaced by its length.
    static JSDictionary redactedForLog(const JSDictionary& value);

  private:
    using Param = std::optional<JSDictionary>;
    using PagePtr = std::shared_ptr<SafariPage>;

    void onSendRemoteLog(const JSContext& context, const Param& param, const PagePtr& page);
    void onRequestScriptRunningPermission(const JSContext& context, const PagePtr& page);
    void assignTabSession(const std::string& tabKey, const JSContext& context, const PagePtr& page);
    void sendTabScriptRunningPermission(const std::optional<SafariURL>& url,
                                        const JSContext& context, const PagePtr& page);
    void onSendRunningPermissionToAllIframes(const JSContext& context, const Param& message,
                                             const PagePtr& page);
    void onInit(const JSContext& context, const Param& param, const PagePtr& page);
    void onStart(const JSContext& context, const PagePtr& page);
    void onGetParserInfo(const JSContext& context, const PagePtr& page);
    void onBeforeUnload(const JSContext& context);
    void onStoreLastEvent(const JSContext& context, const Param& param);

    void onGetFormsInfo(const JSContext& context, const Param& param, const PagePtr& page);
    void onChooseUserAccount(const JSContext& context, const Param& param, const PagePtr& page);
    void onGetUserPassword(const JSContext& context, const Param& param, const PagePtr& page);
    void onGet2FACode(const JSContext& context, const Param& param, const PagePtr& page);
    void onTryToApplyUserAccount(const JSContext& context, const Param& param, const PagePtr& page);
    void onLoginButtonPressed(const JSContext& context, const Param& param);
    void onSaveLoginForm(const JSContext& context, const Param& param);
    void onActiveElement(const JSContext& context, const Param& message, const PagePtr& page);

    // The tab's page address (its stored url), nothing when missing or unparsable.
    std::optional<SafariURL> tabPageAddress(const JSContext& context);

    SessionStorage& session_;
};

}  // namespace lumvane
