#pragma once
// Everything the wizard pages need from the rest of the program, as replaceable functions,
// so the pages run against fakes in tests (no Bluetooth, no pkexec, no certutil, no file
// dialogs) and against the application service in the program (wizardServicesFor()).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/service/TBNService.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "runtime/MainLoop.h"

namespace lumvane {

class TBNSettings;

// A question in an alert on the wizard window. Texts are localisation keys.
struct WizardAlert {
    enum class Style { Warning, Critical };
    std::string messageKey;
    std::string informativeKey;  // empty: none
    std::vector<std::string> buttonKeys;
    Style style = Style::Warning;
};

// An open or save panel.
struct WizardFilePanel {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    std::string extension;         // offered first; other files stay selectable
    std::string defaultName;       // save panels
    std::filesystem::path folder;  // empty: the user's documents folder
};

struct WizardServices {
    using Callback = std::function<void(std::optional<std::string> error)>;
    using Started = std::function<void()>;

    std::shared_ptr<TBNSettings> settings;
    std::shared_ptr<MainLoop> loop;
    // Blocking work off the main thread (the Bluetooth check, the identity set-up).
    std::function<void(std::function<void()>)> runAsync;

    // Shows the alert on the wizard window and answers the index of the button that
    // ended it (main thread).
    std::function<void(const WizardAlert&, std::function<void(int button)>)> showAlert;
    // Shows the panel; answers the chosen path, nothing when dismissed (main thread).
    std::function<void(const WizardFilePanel&,
                       std::function<void(std::optional<std::string> path)>)>
        chooseFile;
    // Brings the wizard window to the front.
    std::function<void()> activateWindow;
    // The application ends (no Bluetooth LE, identity refused or not made).
    std::function<void()> terminate;
    std::function<void(const std::string& url)> openUrl;

    // Welcome: blocks until the system reported the Bluetooth state.
    std::function<bool()> canSupportBluetoothLowEnergy;
    // Consent: 0 white, 1 grey, 2 black; blocks while the location is looked up.
    std::function<uint64_t()> locationZone;

    // Browser extensions and the local TLS identity.
    std::function<bool(TBNBrowser)> isBrowserInstalled;
    std::function<void(TBNBrowser)> installExtension;
    std::function<void()> openExtensionRegistration;
    bool generateSSLCerts = true;
    std::function<bool()> isSetupedSSLIdentity;
    std::function<bool()> setupSSLIdentity;  // blocks; may ask for an administrator password
    std::function<void()> startService;
    std::function<void()> stopService;

    // Pairing by QR code.
    std::function<void(TBNService::PairURLHandler, TBNService::PairProcessHandler,
                       TBNService::PairSuccessHandler, TBNService::PairFailHandler)>
        startPair;
    std::function<void()> stopPair;

    // Import and export (the callbacks come on the service's threads).
    std::function<void(int32_t source, const std::filesystem::path& file, Callback approved,
                       Started startSendToDevice, Callback completion)>
        importFile;
    std::function<void()> cancelImport;
    std::function<void(int32_t destination, const std::filesystem::path& file, Callback approved,
                       Started startSaveToFile, Callback completion)>
        exportFile;
    std::function<void()> cancelExport;
};

// What one wizard window shares among its pages.
struct WizardContext {
    explicit WizardContext(WizardServices s) : services(std::move(s)) {}

    WizardServices services;

    // The window ended (Cancel, Finish or its close button); nothing the pages scheduled
    // runs after this. Stops the pairing this window started, when it still runs.
    void windowClosed();
    bool closed = false;

    // The pairing this window started and that has neither succeeded nor failed yet, nor
    // been skipped (then it goes on in the service). Only this window stops it, and only
    // while it is its own.
    uint64_t pairingStarted();
    void pairingEnded(uint64_t pairing);
    bool ownsRunningPairing() const { return runningPairing_ != 0; }

    bool serviceStarted = false;

  private:
    uint64_t lastPairing_ = 0;
    uint64_t runningPairing_ = 0;
};

// The program's services for a wizard on `service` (alerts, file panels, window and
// termination are left to the window that shows the wizard).
WizardServices wizardServicesFor(const std::shared_ptr<TBNService>& service);

}  // namespace lumvane
