#pragma once
// The container of a wizard window: the current page, the three navigation buttons and
// the steps of Cancel, Back and Next (with the pages' vetoes and asynchronous next), free
// of any GUI toolkit. The window renders the buttons and the page and hands clicks here.
//
// The wizard ends only here: Cancel (after the page's veto), Next on a finishing page, or
// the window's close button (closeRequested). Each end is reported once to the delegate,
// then the context is closed (which stops the pairing the window started) and the view is
// asked to close the window. Main thread only.
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "ui/wizard/WizardPage.h"

namespace lumvane {

struct WizardButtonState {
    std::string title;  // localisation key
    bool visible = false;
    bool enabled = false;
};

class WizardFlowView {
  public:
    virtual ~WizardFlowView() = default;
    virtual void wizardFlowButtonsChanged() = 0;
    virtual void wizardFlowShowPage(const std::shared_ptr<WizardPage>& page) = 0;
    virtual void wizardFlowRemovePage(const std::shared_ptr<WizardPage>& page) = 0;
    virtual void wizardFlowCloseWindow() = 0;
};

class WizardFlowDelegate {
  public:
    virtual ~WizardFlowDelegate() = default;
    virtual void wizardFlowDidCancel() = 0;
    virtual void wizardFlowDidFinish() = 0;
};

class WizardFlow : public WizardPageHost, public std::enable_shared_from_this<WizardFlow> {
  public:
    enum class End { None, Cancelled, Finished };
    // Seconds between showing a page and telling it that it appears.
    static constexpr double kWillAppearDelay = 0.2;

    explicit WizardFlow(std::shared_ptr<WizardContext> context);
    ~WizardFlow() override;

    void setView(WizardFlowView* view) { view_ = view; }
    void setDelegate(std::weak_ptr<WizardFlowDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    const std::shared_ptr<WizardContext>& context() const { return context_; }

    void setFirstPage(std::shared_ptr<WizardPage> page) { first_ = std::move(page); }
    // The window comes on screen: shows the first page.
    void start();
    void replacePage(std::shared_ptr<WizardPage> page);
    void updateButtons();

    // Clicks (sender: the button) or a page moving on by itself (no sender).
    void cancel(WizardSender sender);
    void back(WizardSender sender);
    void next(WizardSender sender);
    // The window manager's close button: Cancel when the page offers Cancel (its veto
    // keeps the window), Finish on a page whose Next finishes without Cancel (the done
    // page), else the wizard ends as cancelled.
    void closeRequested();
    // Ends as cancelled without asking the page (the application is about to end).
    void abort();

    const std::shared_ptr<WizardPage>& currentPage() const { return current_; }
    const WizardButtonState& button(WizardButton b) const {
        return buttons_[static_cast<size_t>(b)];
    }
    End end() const { return end_; }
    bool ended() const { return end_ != End::None; }

    void wizardPageWillUpdateButtons(WizardPage& page) override;
    void wizardPageGoToNextView(WizardPage& page) override;

  private:
    bool hidden(WizardSender sender) const;
    void finishWith(End end);

    std::shared_ptr<WizardContext> context_;
    WizardFlowView* view_ = nullptr;
    std::weak_ptr<WizardFlowDelegate> delegate_;
    std::shared_ptr<WizardPage> first_;
    std::shared_ptr<WizardPage> current_;
    std::array<WizardButtonState, 3> buttons_;
    End end_ = End::None;
    uint64_t nextRequest_ = 0;  // the Next step whose completion is awaited
};

}  // namespace lumvane
