#pragma once
// What the extension needs of the browser: windows, tabs, pages, the toolbar item, page
// messages and the popover's web view. Every lookup answers through a completion that
// may run on any thread, possibly after the call has returned; a missing object is an
// empty pointer (or no value).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "JSCodable.h"

namespace lumvane {

class SafariWindow;
class SafariTab;
class SafariPage;

struct SafariPageProperties {
    std::optional<std::string> url;
};

class SafariToolbarItem {
  public:
    virtual ~SafariToolbarItem() = default;
    virtual void setImage(const std::string& imageName) = 0;
    virtual void setEnabled(bool enabled) = 0;
};

class SafariPage {
  public:
    virtual ~SafariPage() = default;
    virtual void getContainingTab(std::function<void(std::shared_ptr<SafariTab>)> completion) = 0;
    virtual void getPageProperties(
        std::function<void(std::optional<SafariPageProperties>)> completion) = 0;
    // Delivers a message to the page's scripts.
    virtual void dispatchMessageToScript(const std::string& name, const JSDictionary& userInfo) = 0;
};

class SafariTab {
  public:
    virtual ~SafariTab() = default;
    // Stable while the tab exists.
    virtual int64_t hash() const = 0;
    virtual void getContainingWindow(
        std::function<void(std::shared_ptr<SafariWindow>)> completion) = 0;
    virtual void getActivePage(std::function<void(std::shared_ptr<SafariPage>)> completion) = 0;
};

class SafariWindow {
  public:
    virtual ~SafariWindow() = default;
    // Stable while the window exists.
    virtual int64_t hash() const = 0;
    virtual void getActiveTab(std::function<void(std::shared_ptr<SafariTab>)> completion) = 0;
    virtual void getAllTabs(
        std::function<void(std::vector<std::shared_ptr<SafariTab>>)> completion) = 0;
    virtual void getToolbarItem(
        std::function<void(std::shared_ptr<SafariToolbarItem>)> completion) = 0;
};

class SafariApplication {
  public:
    virtual ~SafariApplication() = default;
    virtual void getActiveWindow(std::function<void(std::shared_ptr<SafariWindow>)> completion) = 0;
};

// The web view that shows the popover's page, and the popover around it.
class PopupWebView {
  public:
    virtual ~PopupWebView() = default;
    // Loads a local page, granting read access to that file only.
    virtual void loadFileURL(const std::string& path) = 0;
    // Runs script text in the page; the result is not needed.
    virtual void evaluateJavaScript(const std::string& script) = 0;
    // Closes the popover.
    virtual void dismissPopover() = 0;
};

}  // namespace lumvane
