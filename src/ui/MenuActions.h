#pragma once
// What the status menu's items open, through any presenter (the status item).
// Main (GUI) thread only.
#include <memory>

#include "ui/TBNPopoverViewController.h"

namespace lumvane::ui {

// About; four quick clicks on its icon within 30 s then show the debug settings.
void showAbout(const std::shared_ptr<TBNPopoverPresenter>& presenter);
void showPasswordGenerator(const std::shared_ptr<TBNPopoverPresenter>& presenter);
void showRate(const std::shared_ptr<TBNPopoverPresenter>& presenter);
// The first-run guide, shown once the wizard has finished.
void showWelcomeGuide(const std::shared_ptr<TBNPopoverPresenter>& presenter);

}  // namespace lumvane::ui
