#pragma once
// The page protocol of the wizard windows (first run, import, export), free of any GUI
// toolkit. The container (WizardFlow) asks the current page what its three buttons say,
// whether they are enabled, whether a click may proceed, which page comes before or after
// it and whether Next ends the wizard. Pages keep their own state; the window's widgets
// only draw it and hand user actions back.
//
// Main thread only: a page that learns something on another thread posts to the loop of
// its context before it touches its state or calls updateButtons()/goToNextView().
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace lumvane {

struct WizardContext;
class WizardPage;

enum class WizardButton { Cancel = 0, Back = 1, Next = 2 };

// Who asked for a step: a button, or nothing when a page moved on by itself.
using WizardSender = std::optional<WizardButton>;

// What a page asks of the container while it is current.
class WizardPageHost {
  public:
    virtual ~WizardPageHost() = default;
    virtual void wizardPageWillUpdateButtons(WizardPage& page) = 0;
    virtual void wizardPageGoToNextView(WizardPage& page) = 0;
};

class WizardPage : public std::enable_shared_from_this<WizardPage> {
  public:
    using Completion = std::function<void(bool proceed)>;

    WizardPage(std::string identifier, std::shared_ptr<WizardContext> context);
    virtual ~WizardPage();
    WizardPage(const WizardPage&) = delete;
    WizardPage& operator=(const WizardPage&) = delete;

    const std::string& identifier() const { return identifier_; }
    const std::shared_ptr<WizardContext>& context() const { return context_; }

    // Runs didLoad() the first time the container shows the page.
    void load();
    bool isLoaded() const { return loaded_; }

    virtual void willAppear() {}
    virtual void willDisappear() {}
    virtual std::shared_ptr<WizardPage> previousPage() { return nullptr; }
    virtual std::shared_ptr<WizardPage> nextPage() { return nullptr; }
    // Localisation keys of the button titles; nothing keeps the button hidden.
    virtual std::optional<std::string> cancelButtonTitle() const { return std::nullopt; }
    virtual std::optional<std::string> backButtonTitle() const { return std::nullopt; }
    virtual std::optional<std::string> nextButtonTitle() const { return std::nullopt; }
    virtual bool canEnableCancelButton() const { return true; }
    virtual bool canEnableBackButton() const { return true; }
    virtual bool canEnableNextButton() const { return true; }
    virtual bool willCancelClick(WizardSender) { return true; }
    virtual bool willBackClick(WizardSender) { return true; }
    virtual bool willNextClick(WizardSender) { return true; }
    // A page that asks the user before leaving calls `complete` later, on the main thread.
    virtual void willNextClick(WizardSender, Completion complete) { complete(true); }
    virtual bool nextIsFinish(WizardSender) { return false; }
    virtual void didCancelClick(WizardSender) {}
    virtual void didBackClick(WizardSender) {}
    virtual void didNextClick(WizardSender) {}

    // The container while the page is current; null otherwise.
    WizardPageHost* host() const { return host_; }
    void setHost(WizardPageHost* host) { host_ = host; }
    // Tell the container that titles or enabled states changed / move on by itself.
    void updateButtons();
    void goToNextView();

    // The page's widget redraws itself when the page's state changed.
    void setChangedHandler(std::function<void()> handler) { changed_ = std::move(handler); }
    void changed();

    // Runs `task` on the main loop, if the page is still held by someone (its window, or a
    // service call under way) and its window has not closed. A page that is no longer
    // current reaches nobody through updateButtons()/goToNextView().
    void onMain(std::function<void(WizardPage&)> task);
    void onMainAfter(double seconds, std::function<void(WizardPage&)> task);

  protected:
    virtual void didLoad() {}

  private:
    std::string identifier_;
    std::shared_ptr<WizardContext> context_;
    WizardPageHost* host_ = nullptr;
    bool loaded_ = false;
    std::function<void()> changed_;
};

// Casts the page handed to onMain back to the page's own class.
template <class T>
T& as(WizardPage& page) {
    return static_cast<T&>(page);
}

}  // namespace lumvane
