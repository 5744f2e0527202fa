#pragma once
// What the application shell needs of the user interface. Main (GUI) thread only
// unless said otherwise.
#include <memory>
#include <string>

#include "core/service/TBNUIService.h"
#include "ui/TBNPopoverViewController.h"

namespace lumvane {

class TBNService;

namespace ui {

// A new page by its identifier ("TBNAboutPopoverViewController",
// "TBNGuidePopoverLargeViewController", ...); nullptr for an identifier we do not know.
std::shared_ptr<TBNPopoverViewController> popoverAtName(const std::string& identifier);

// The application service's questions and pages, shown through `presenter`.
std::shared_ptr<TBNUIServiceProtocol> makePopoverUIService(
    std::shared_ptr<TBNPopoverPresenter> presenter);

// The QR pairing window (one at a time; a second call raises the open one).
void showQRCodeWindow(std::shared_ptr<TBNService> service);

}  // namespace ui
}  // namespace lumvane
