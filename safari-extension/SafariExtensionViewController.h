#pragma once
// The back end of the toolbar popover, whose whole content is a local web page. The page
// posts commands to the "service" handler and log lines to "log"; answers go back by
// calling the page's functions gcGetStateResult, gcGetAccountsResult and
// gcGetActiveElementResult. Everything that touches the web view or closes the popover
// runs on the main queue.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Browser.h"
#include "JSRecords.h"
#include "SafariURL.h"
#include "runtime/Clock.h"

namespace lumvane {

class SessionStorage;
class SafariWindow;

class SafariExtensionViewController {
  public:
    static constexpr double kAccountsDelaySeconds = 1.0;

    explicit SafariExtensionViewController(SessionStorage& session);
    ~SafariExtensionViewController();

    // The view was made: the web view that shows the page.
    void viewDidLoad(std::shared_ptr<PopupWebView> webView);
    // The popover opens: (re)load the page "popup-view.html" of the bundle.
    void viewDidAppear();
    // One message posted by the page.
    void userContentControllerDidReceiveScriptMessage(const std::string& handlerName,
                                                      const JSDictionary& body);
    // A page script's report of its focused input ("tbn-active-element").
    void onActiveElement(const JSContext& context,
                         const std::optional<JSDictionary>& activeElementInfo,
                         const std::shared_ptr<SafariPage>& page);

    // Calls the page function with the dictionary (or no argument). Main queue only.
    void sendToPopup(const std::string& function, const std::optional<JSDictionary>& dictionary);

    // Stops delayed work and waits for work in flight (end of the session).
    void shutdown();

  private:
    void getState();
    void sendState(const std::shared_ptr<SafariWindow>& window);
    void sendStateForURL(const std::optional<SafariURL>& url, const std::string& state);
    void loadAccountsLater(const std::optional<SafariURL>& url);
    void loadAccounts(const std::optional<SafariURL>& url);
    void sendAccounts(const std::vector<std::string>& logins);
    void selectAccount(const std::string& login);
    void selectAccountInPage(const std::shared_ptr<SafariPage>& page, const std::string& login);
    void insertAccount(const std::string& tabKey, const std::string& login,
                       const std::shared_ptr<SafariPage>& page);
    void sendInsertValue(const JSContext& context, const JSActiveInputValues& values,
                         const std::shared_ptr<SafariPage>& page);
    void addCredential();
    void switchBlockPage(const std::optional<SafariURL>& url);
    void switchBlockSite(const std::optional<SafariURL>& url);
    void requestActiveElement(const std::string& tabKey, const std::shared_ptr<SafariPage>& page);
    void sendGetActiveElement(const std::string& tabKey, const std::shared_ptr<SafariPage>& page);
    void storeActiveInputs(const std::string& tabKey, const JSActiveInputs& inputs);
    // The active window's active page and its URL.
    void activeWindowPage(std::function<void(std::shared_ptr<SafariPage>)> completion);
    void activeWindowPageURL(std::function<void(std::optional<SafariURL>)> completion);
    void onMain(std::function<void()> block);
    static JSContext menuContext(const JSContext& stored);

    SessionStorage& session_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::shared_ptr<PopupWebView> webView_;
    bool stopping_ = false;
    int inFlight_ = 0;
    std::set<Clock::CallId> pendingCalls_;
};

}  // namespace lumvane
