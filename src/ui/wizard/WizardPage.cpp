#include "ui/wizard/WizardPage.h"

#include "ui/wizard/WizardServices.h"

namespace lumvane {

WizardPage::WizardPage(std::string identifier, std::shared_ptr<WizardContext> context)
    : identifier_(std::move(identifier)), context_(std::move(context)) {}

WizardPage::~WizardPage() = default;

void WizardPage::load() {
    if (loaded_) return;
    loaded_ = true;
    didLoad();
}

void WizardPage::updateButtons() {
    if (host_) host_->wizardPageWillUpdateButtons(*this);
}

void WizardPage::goToNextView() {
    if (host_) host_->wizardPageGoToNextView(*this);
}

void WizardPage::changed() {
    if (changed_) changed_();
}

// The loop holds the page only weakly: a page nobody shows any more has nothing to do, and
// the loop (held by the page's context) must not keep its own pages alive.
void WizardPage::onMain(std::function<void(WizardPage&)> task) {
    std::weak_ptr<WizardPage> weak = shared_from_this();
    context_->services.loop->post([weak, task = std::move(task)] {
        auto self = weak.lock();
        if (!self || self->context_->closed) return;
        task(*self);
    });
}

void WizardPage::onMainAfter(double seconds, std::function<void(WizardPage&)> task) {
    std::weak_ptr<WizardPage> weak = shared_from_this();
    context_->services.loop->postAfter(seconds, [weak, task = std::move(task)] {
        auto self = weak.lock();
        if (!self || self->context_->closed) return;
        task(*self);
    });
}

void WizardContext::windowClosed() {
    if (closed) return;
    closed = true;
    if (runningPairing_ != 0) {
        runningPairing_ = 0;
        if (services.stopPair) services.stopPair();
    }
}

uint64_t WizardContext::pairingStarted() {
    runningPairing_ = ++lastPairing_;
    return runningPairing_;
}

void WizardContext::pairingEnded(uint64_t pairing) {
    if (runningPairing_ == pairing) runningPairing_ = 0;
}

}  // namespace lumvane
