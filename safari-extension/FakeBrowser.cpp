#include "FakeBrowser.h"

#include <chrono>

namespace lumvane {

void FakePage::getContainingTab(std::function<void(std::shared_ptr<SafariTab>)> completion) {
    std::shared_ptr<FakeTab> tab;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tab = tab_.lock();
    }
    completion(tab);
}

void FakePage::getPageProperties(
    std::function<void(std::optional<SafariPageProperties>)> completion) {
    std::optional<SafariPageProperties> props;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!propertiesMissing_) props = SafariPageProperties{url_};
    }
    completion(props);
}

void FakePage::dispatchMessageToScript(const std::string& name, const JSDictionary& userInfo) {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back({name, userInfo});
    cv_.notify_all();
}

void FakePage::setURL(std::optional<std::string> url) {
    std::lock_guard<std::mutex> lock(mutex_);
    url_ = std::move(url);
}

void FakePage::setTab(const std::shared_ptr<FakeTab>& tab) {
    std::lock_guard<std::mutex> lock(mutex_);
    tab_ = tab;
}

void FakePage::setPropertiesMissing(bool missing) {
    std::lock_guard<std::mutex> lock(mutex_);
    propertiesMissing_ = missing;
}

std::vector<FakeSentMessage> FakePage::messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::vector<FakeSentMessage> FakePage::messagesNamed(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<FakeSentMessage> out;
    for (const auto& m : messages_) {
        if (m.name == name) out.push_back(m);
    }
    return out;
}

void FakePage::clearMessages() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}

bool FakePage::waitForMessages(size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return messages_.size() >= n; });
}

void FakeTab::getContainingWindow(std::function<void(std::shared_ptr<SafariWindow>)> completion) {
    std::shared_ptr<FakeWindow> window;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        window = window_.lock();
    }
    completion(window);
}

void FakeTab::getActivePage(std::function<void(std::shared_ptr<SafariPage>)> completion) {
    std::shared_ptr<FakePage> page;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        page = page_;
    }
    completion(page);
}

void FakeTab::setPage(const std::shared_ptr<FakePage>& page) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        page_ = page;
    }
    if (page) page->setTab(shared_from_this());
}

void FakeTab::setWindow(const std::shared_ptr<FakeWindow>& window) {
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = window;
}

std::shared_ptr<FakePage> FakeTab::page() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return page_;
}

void FakeToolbarItem::setImage(const std::string& imageName) {
    std::lock_guard<std::mutex> lock(mutex_);
    images_.push_back(imageName);
}

void FakeToolbarItem::setEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    enabled_ = enabled;
}

std::vector<std::string> FakeToolbarItem::images() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return images_;
}

bool FakeToolbarItem::enabled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return enabled_;
}

void FakeWindow::getActiveTab(std::function<void(std::shared_ptr<SafariTab>)> completion) {
    std::shared_ptr<FakeTab> tab;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tab = activeTab_;
    }
    completion(tab);
}

void FakeWindow::getAllTabs(
    std::function<void(std::vector<std::shared_ptr<SafariTab>>)> completion) {
    std::vector<std::shared_ptr<SafariTab>> tabs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        ++tabListings_;
        tabs.assign(tabs_.begin(), tabs_.end());
    }
    completion(tabs);
}

void FakeWindow::getToolbarItem(
    std::function<void(std::shared_ptr<SafariToolbarItem>)> completion) {
    std::shared_ptr<SafariToolbarItem> item;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (hasToolbarItem_) item = toolbarItem_;
    }
    completion(item);
}

std::shared_ptr<FakeTab> FakeWindow::addTab(int64_t tabHash, std::optional<std::string> url) {
    auto tab = std::make_shared<FakeTab>(tabHash);
    tab->setWindow(shared_from_this());
    tab->setPage(std::make_shared<FakePage>(std::move(url)));
    std::lock_guard<std::mutex> lock(mutex_);
    tabs_.push_back(tab);
    activeTab_ = tab;
    return tab;
}

void FakeWindow::setActiveTab(const std::shared_ptr<FakeTab>& tab) {
    std::lock_guard<std::mutex> lock(mutex_);
    activeTab_ = tab;
}

void FakeWindow::setClosed(bool closed) {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = closed;
}

void FakeWindow::setHasToolbarItem(bool has) {
    std::lock_guard<std::mutex> lock(mutex_);
    hasToolbarItem_ = has;
}

int FakeWindow::tabListings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tabListings_;
}

void FakeSafariApplication::getActiveWindow(
    std::function<void(std::shared_ptr<SafariWindow>)> completion) {
    std::shared_ptr<FakeWindow> window;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        window = active_;
    }
    completion(window);
}

void FakeSafariApplication::setActiveWindow(std::shared_ptr<FakeWindow> window) {
    std::lock_guard<std::mutex> lock(mutex_);
    active_ = std::move(window);
}

std::shared_ptr<FakeWindow> FakeSafariApplication::activeWindow() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return active_;
}

void FakePopupWebView::loadFileURL(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    loads_.push_back(path);
}

void FakePopupWebView::evaluateJavaScript(const std::string& script) {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_.push_back(script);
    cv_.notify_all();
}

void FakePopupWebView::dismissPopover() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++dismissals_;
    cv_.notify_all();
}

std::vector<std::string> FakePopupWebView::scripts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scripts_;
}

std::vector<std::string> FakePopupWebView::loads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return loads_;
}

int FakePopupWebView::dismissals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dismissals_;
}

bool FakePopupWebView::waitForScripts(size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return scripts_.size() >= n; });
}

void FakePopupWebView::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_.clear();
    loads_.clear();
    dismissals_ = 0;
}

}  // namespace lumvane
