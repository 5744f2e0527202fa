#include "ui/wizard/WizardFlow.h"

#include "ui/wizard/WizardServices.h"

namespace lumvane {

WizardFlow::WizardFlow(std::shared_ptr<WizardContext> context) : context_(std::move(context)) {}

WizardFlow::~WizardFlow() {
    if (current_) current_->setHost(nullptr);
}

void WizardFlow::start() {
    if (ended()) return;
    replacePage(first_);
}

void WizardFlow::replacePage(std::shared_ptr<WizardPage> page) {
    if (current_) {
        for (auto& b : buttons_) b.visible = false;
        current_->willDisappear();
        current_->setHost(nullptr);
        current_->setChangedHandler({});
        if (view_) view_->wizardFlowRemovePage(current_);
    }
    current_ = std::move(page);
    if (current_) {
        current_->setHost(this);
        current_->load();
        if (view_) view_->wizardFlowShowPage(current_);
        std::weak_ptr<WizardFlow> weak = weak_from_this();
        context_->services.loop->postAfter(kWillAppearDelay, [weak] {
            auto self = weak.lock();
            if (!self || self->ended() || !self->current_) return;
            self->current_->willAppear();
        });
    }
    updateButtons();
}

void WizardFlow::updateButtons() {
    if (!current_) {
        if (view_) view_->wizardFlowButtonsChanged();
        return;
    }
    const std::optional<std::string> titles[] = {
        current_->cancelButtonTitle(), current_->backButtonTitle(), current_->nextButtonTitle()};
    for (size_t i = 0; i < buttons_.size(); ++i) {
        // A title that became nothing leaves the button as it was until the next page.
        if (titles[i]) {
            buttons_[i].title = *titles[i];
            buttons_[i].visible = true;
        }
    }
    buttons_[0].enabled = current_->canEnableCancelButton();
    buttons_[1].enabled = current_->canEnableBackButton();
    buttons_[2].enabled = current_->canEnableNextButton();
    if (view_) view_->wizardFlowButtonsChanged();
}

bool WizardFlow::hidden(WizardSender sender) const {
    return sender && !buttons_[static_cast<size_t>(*sender)].visible;
}

void WizardFlow::cancel(WizardSender sender) {
    if (ended() || hidden(sender) || !current_) return;
    if (sender && !button(*sender).enabled) return;
    auto page = current_;
    if (!page->willCancelClick(sender)) return;
    page->didCancelClick(sender);
    finishWith(End::Cancelled);
}

void WizardFlow::back(WizardSender sender) {
    if (ended() || hidden(sender) || !current_) return;
    if (sender && !button(*sender).enabled) return;
    auto page = current_;
    if (!page->willBackClick(sender)) return;
    page->didBackClick(sender);
    if (auto previous = page->previousPage()) replacePage(std::move(previous));
}

void WizardFlow::next(WizardSender sender) {
    if (ended() || hidden(sender) || !current_) return;
    if (sender && !button(*sender).enabled) return;
    auto page = current_;
    if (!page->willNextClick(sender)) return;
    const uint64_t request = ++nextRequest_;
    std::weak_ptr<WizardFlow> weak = weak_from_this();
    page->willNextClick(sender, [weak, request, sender](bool proceed) {
        auto self = weak.lock();
        // A completion that comes after the wizard ended, or a second time, does nothing.
        if (!self || !proceed || self->ended() || self->nextRequest_ != request) return;
        self->nextRequest_ = 0;
        auto current = self->current_;
        if (!current) return;
        current->didNextClick(sender);
        if (self->ended()) return;
        if (current->nextIsFinish(sender)) {
            self->finishWith(End::Finished);
            return;
        }
        if (auto following = current->nextPage()) self->replacePage(std::move(following));
    });
}

void WizardFlow::closeRequested() {
    if (ended()) return;
    if (!current_) {
        finishWith(End::Cancelled);
        return;
    }
    if (button(WizardButton::Cancel).visible) {
        auto page = current_;
        if (!page->willCancelClick(WizardButton::Cancel)) return;
        page->didCancelClick(WizardButton::Cancel);
        finishWith(End::Cancelled);
        return;
    }
    if (current_->nextIsFinish(std::nullopt)) {
        finishWith(End::Finished);
        return;
    }
    current_->didCancelClick(std::nullopt);
    finishWith(End::Cancelled);
}

void WizardFlow::abort() {
    if (ended()) return;
    if (current_) current_->didCancelClick(std::nullopt);
    finishWith(End::Cancelled);
}

void WizardFlow::finishWith(End end) {
    if (ended()) return;
    end_ = end;
    // The pages' scheduled work and the pairing this window started end with it.
    context_->windowClosed();
    if (auto delegate = delegate_.lock()) {
        if (end == End::Cancelled) {
            delegate->wizardFlowDidCancel();
        } else {
            delegate->wizardFlowDidFinish();
        }
    }
    if (view_) view_->wizardFlowCloseWindow();
}

void WizardFlow::wizardPageWillUpdateButtons(WizardPage& page) {
    if (&page == current_.get()) updateButtons();
}

void WizardFlow::wizardPageGoToNextView(WizardPage& page) {
    if (&page == current_.get()) next(std::nullopt);
}

}  // namespace lumvane
