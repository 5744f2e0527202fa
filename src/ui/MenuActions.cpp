#include "ui/MenuActions.h"

#include "ui/MorePages.h"
#include "ui/UserInterface.h"

namespace lumvane::ui {

void showAbout(const std::shared_ptr<TBNPopoverPresenter>& presenter) {
    auto about = std::dynamic_pointer_cast<TBNAboutPopoverViewController>(
        popoverAtName("TBNAboutPopoverViewController"));
    if (!about) return;
    std::weak_ptr<TBNPopoverPresenter> weak = presenter;
    about->setDebugSettingsRequested([weak] {
        if (auto p = weak.lock()) {
            p->showPopoverViewController(popoverAtName("TBNDebugSettingsPopoverViewController"));
        }
    });
    presenter->showPopoverViewController(about);
}

void showPasswordGenerator(const std::shared_ptr<TBNPopoverPresenter>& presenter) {
    presenter->showPopoverViewController(
        popoverAtName("TBNPasswordGeneratorPopoverViewController"));
}

void showRate(const std::shared_ptr<TBNPopoverPresenter>& presenter) {
    presenter->showPopoverViewController(popoverAtName("TBNRatePopoverViewController"));
}

void showWelcomeGuide(const std::shared_ptr<TBNPopoverPresenter>& presenter) {
    auto guide = std::dynamic_pointer_cast<TBNGuidePopoverViewController>(
        popoverAtName("TBNGuidePopoverViewController"));
    if (!guide) return;
    guide->updateTitle(text("GUIDE_WELCOME_TITLE"), text("GUIDE_WELCOME_MESSAGE"));
    presenter->showPopoverViewController(guide);
}

}  // namespace lumvane::ui
