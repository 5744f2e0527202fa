#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/CommandLine.h"
#include "app/HeadlessApp.h"
#include "extension/browser/TBNNativeMessageProxy.h"
#include "lumvane/Version.h"

#ifdef LUMVANE_HAVE_DESKTOP
#include <any>

#include "app/desktop/DesktopApp.h"
#include "core/service/TBNUIService.h"
#include "runtime/TBNWaitManager.h"
#include "ui/MorePages.h"
#include "ui/UserInterface.h"
#include "ui/wizard/WizardLauncher.h"

namespace {

// The pages and windows of the user interface, handed to the application shell.
lumvane::UserInterfaceFactory userInterface() {
    lumvane::UserInterfaceFactory ui;
    ui.popoverAtName = [](const std::string& identifier) {
        auto page = lumvane::ui::popoverAtName(identifier);
        // The About action waits on "debugSettingsPopover" to open the debug settings.
        if (auto about = std::dynamic_pointer_cast<lumvane::TBNAboutPopoverViewController>(page)) {
            about->setDebugSettingsRequested([] {
                lumvane::TBNWaitManager::sharedManager().releaseForName("debugSettingsPopover",
                                                                        std::any(true));
            });
        }
        return page;
    };
    ui.makePopoverUIService = lumvane::ui::makePopoverUIService;
    ui.showQRCodeWindow = lumvane::ui::showQRCodeWindow;
    ui.showFirstRunWizard = lumvane::ui::showFirstRunWizard;
    ui.showImportWindow = lumvane::ui::showImportWindow;
    ui.showExportWindow = lumvane::ui::showExportWindow;
    return ui;
}

}  // namespace
#endif

int main(int argc, char** argv) {
    // A browser starts us with an argument naming its extension: relay its messages to
    // the running application and leave at once when the browser closes the pipe.
    if (lumvane::isNativeMessagingHostInvocation(argc, argv)) {
        std::fflush(nullptr);
        _exit(lumvane::runNativeMessagingHost(STDIN_FILENO, STDOUT_FILENO));
    }

    const std::string program = argc > 0 && argv[0] ? argv[0] : "lumvane";
    const auto commandLine = lumvane::CommandLine::parse(argc, argv);
    if (commandLine.error) {
        std::fprintf(stderr, "lumvane: %s\n%s", commandLine.error->c_str(),
                     lumvane::CommandLine::usage(program).c_str());
        return 2;
    }
    switch (commandLine.mode) {
        case lumvane::CommandLine::Mode::Help:
            std::fputs(lumvane::CommandLine::usage(program).c_str(), stdout);
            return 0;
        case lumvane::CommandLine::Mode::Version:
            std::printf("%s %s\n", lumvane::kAppName, lumvane::kAppVersion);
            return 0;
        case lumvane::CommandLine::Mode::Headless:
            break;
        case lumvane::CommandLine::Mode::Application:
#ifdef LUMVANE_HAVE_DESKTOP
            if (lumvane::desktopDisplayAvailable()) {
                const int status = lumvane::runDesktop(argc, argv, commandLine, userInterface());
                std::fflush(nullptr);
                _exit(status);
            }
            std::printf(
                "lumvane: no display (DISPLAY and WAYLAND_DISPLAY are unset): running "
                "as --headless\n");
#else
            std::printf(
                "lumvane: this build has no desktop application: running as "
                "--headless\n");
#endif
            std::fflush(stdout);
            break;
    }
    const int status = lumvane::runHeadless(commandLine);
    // Queue threads of the service may still be parked; end without running static
    // destructors under them (logs were flushed by the run).
    std::fflush(nullptr);
    _exit(status);
}
