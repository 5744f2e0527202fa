#pragma once
// `lumvane` on a desktop: one QApplication on the main thread, whose event loop is the
// runtime's main loop; the icon in the panel with the status menu and the popover pages;
// the notices; the real clipboard; start at login; and the first start that sets it all up.
//
// The pages and windows of the user interface plug in through UserInterfaceFactory, which
// the program's main() fills; a member left empty is done without (no page, no window).
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/CommandLine.h"
#include "core/service/TBNUIService.h"
#include "ui/TBNPopoverViewController.h"

namespace lumvane {

class TBNService;
class TBNWizardWindowControllerDelegate;

struct UserInterfaceFactory {
    // A new page by identifier; nullptr for one it does not know.
    std::function<std::shared_ptr<TBNPopoverViewController>(const std::string& identifier)>
        popoverAtName;
    // The service's questions and pages, shown through the status item.
    std::function<std::shared_ptr<TBNUIServiceProtocol>(std::shared_ptr<TBNPopoverPresenter>)>
        makePopoverUIService;
    std::function<void(std::shared_ptr<TBNService>)> showQRCodeWindow;
    // The first-run wizard; it starts the service itself.
    std::function<void(std::shared_ptr<TBNService>,
                       std::weak_ptr<TBNWizardWindowControllerDelegate>)>
        showFirstRunWizard;
    std::function<void(std::shared_ptr<TBNService>)> showImportWindow;
    std::function<void(std::shared_ptr<TBNService>)> showExportWindow;
};

class TBNKeyChainManager;

// Why the start-up must not go on with the settings file there: the keychain holding its
// key answered with an error other than "no such item" (locked, unreachable). Going on
// would make a new key and lose the settings; nothing when the start may go on (the key
// is readable, or missing, or there is no settings file to lose).
std::optional<std::string> keychainBlocksStartup(TBNKeyChainManager& keychain,
                                                 const std::filesystem::path& settingFile);

// Whether a display is there to show the application on.
bool desktopDisplayAvailable();

// Runs the application until the user quits it (or SIGTERM/SIGINT); the exit status.
int runDesktop(int argc, char** argv, const CommandLine& commandLine,
               const UserInterfaceFactory& ui);

}  // namespace lumvane
