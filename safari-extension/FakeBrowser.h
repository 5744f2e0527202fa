#pragma once
// An in-memory browser for tests and the host program: windows hold tabs, tabs hold a
// page, pages record the messages sent to their scripts. Completions run at once on the
// calling thread unless a window is told to stop answering.
#include <condition_variable>
#include <mutex>

#include "Browser.h"

namespace lumvane {

class FakeWindow;
class FakeTab;

struct FakeSentMessage {
    std::string name;
    JSDictionary userInfo;
};

class FakePage : public SafariPage, public std::enable_shared_from_this<FakePage> {
  public:
    explicit FakePage(std::optional<std::string> url) : url_(std::move(url)) {}

    void getContainingTab(std::function<void(std::shared_ptr<SafariTab>)> completion) override;
    void getPageProperties(
        std::function<void(std::optional<SafariPageProperties>)> completion) override;
    void dispatchMessageToScript(const std::string& name, const JSDictionary& userInfo) override;

    void setURL(std::optional<std::string> url);
    void setTab(const std::shared_ptr<FakeTab>& tab);
    // A page whose properties cannot be read.
    void setPropertiesMissing(bool missing);

    std::vector<FakeSentMessage> messages() const;
    std::vector<FakeSentMessage> messagesNamed(const std::string& name) const;
    void clearMessages();
    // Waits (real time) until at least n messages were sent; false on time-out.
    bool waitForMessages(size_t n, int timeoutMs = 5000) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::optional<std::string> url_;
    bool propertiesMissing_ = false;
    std::weak_ptr<FakeTab> tab_;
    std::vector<FakeSentMessage> messages_;
};

class FakeTab : public SafariTab, public std::enable_shared_from_this<FakeTab> {
  public:
    explicit FakeTab(int64_t hash) : hash_(hash) {}
    int64_t hash() const override { return hash_; }
    void getContainingWindow(
        std::function<void(std::shared_ptr<SafariWindow>)> completion) override;
    void getActivePage(std::function<void(std::shared_ptr<SafariPage>)> completion) override;

    // Makes the page this tab's active page.
    void setPage(const std::shared_ptr<FakePage>& page);
    void setWindow(const std::shared_ptr<FakeWindow>& window);
    std::shared_ptr<FakePage> page() const;

  private:
    mutable std::mutex mutex_;
    int64_t hash_;
    std::weak_ptr<FakeWindow> window_;
    std::shared_ptr<FakePage> page_;
};

class FakeToolbarItem : public SafariToolbarItem {
  public:
    void setImage(const std::string& imageName) override;
    void setEnabled(bool enabled) override;
    std::vector<std::string> images() const;
    bool enabled() const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> images_;
    bool enabled_ = false;
};

class FakeWindow : public SafariWindow, public std::enable_shared_from_this<FakeWindow> {
  public:
    explicit FakeWindow(int64_t hash)
        : hash_(hash), toolbarItem_(std::make_shared<FakeToolbarItem>()) {}
    int64_t hash() const override { return hash_; }
    void getActiveTab(std::function<void(std::shared_ptr<SafariTab>)> completion) override;
    void getAllTabs(
        std::function<void(std::vector<std::shared_ptr<SafariTab>>)> completion) override;
    void getToolbarItem(
        std::function<void(std::shared_ptr<SafariToolbarItem>)> completion) override;

    // Adds a tab (with a page at the URL) and makes it active.
    std::shared_ptr<FakeTab> addTab(int64_t tabHash, std::optional<std::string> url);
    void setActiveTab(const std::shared_ptr<FakeTab>& tab);
    // A closed window no longer answers the tab listing.
    void setClosed(bool closed);
    void setHasToolbarItem(bool has);
    std::shared_ptr<FakeToolbarItem> toolbarItem() const { return toolbarItem_; }
    int tabListings() const;

  private:
    mutable std::mutex mutex_;
    int64_t hash_;
    std::vector<std::shared_ptr<FakeTab>> tabs_;
    std::shared_ptr<FakeTab> activeTab_;
    std::shared_ptr<FakeToolbarItem> toolbarItem_;
    bool closed_ = false;
    bool hasToolbarItem_ = true;
    int tabListings_ = 0;
};

class FakeSafariApplication : public SafariApplication {
  public:
    void getActiveWindow(std::function<void(std::shared_ptr<SafariWindow>)> completion) override;
    void setActiveWindow(std::shared_ptr<FakeWindow> window);
    std::shared_ptr<FakeWindow> activeWindow() const;

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<FakeWindow> active_;
};

class FakePopupWebView : public PopupWebView {
  public:
    void loadFileURL(const std::string& path) override;
    void evaluateJavaScript(const std::string& script) override;
    void dismissPopover() override;

    std::vector<std::string> scripts() const;
    std::vector<std::string> loads() const;
    int dismissals() const;
    bool waitForScripts(size_t n, int timeoutMs = 5000) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::vector<std::string> scripts_;
    std::vector<std::string> loads_;
    int dismissals_ = 0;
};

}  // namespace lumvane
