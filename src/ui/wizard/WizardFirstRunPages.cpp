#include "ui/wizard/WizardFirstRunPages.h"

#include "protocol/TBNErrors.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"
#include "ui/wizard/WizardServices.h"

namespace lumvane {

namespace {
constexpr const char* kTag = "ui|wizard";
}  // namespace

// ---- Welcome ---------------------------------------------------------------------

void WizardWelcomePage::didLoad() {
    nextEnabled_ = false;
    check_ = Check::Running;
    auto& services = context()->services;
    auto self = std::static_pointer_cast<WizardWelcomePage>(shared_from_this());
    // The check waits for the system's Bluetooth report, which must not block the window.
    services.runAsync([self] {
        const auto& check = self->context()->services.canSupportBluetoothLowEnergy;
        const bool supported = check ? check() : false;
        self->onMain([supported](WizardPage& page) {
            auto& welcome = as<WizardWelcomePage>(page);
            if (supported) {
                welcome.check_ = Check::Passed;
                welcome.nextEnabled_ = true;
                welcome.updateButtons();
                welcome.changed();
                return;
            }
            welcome.check_ = Check::Failed;
            welcome.changed();
            WizardAlert alert;
            alert.messageKey = "DONT_SUPPORT_BLE_ALERT_MESSAGE";
            alert.informativeKey = "DONT_SUPPORT_BLE_ALERT_INFO";
            alert.buttonKeys = {"DONT_SUPPORT_BLE_BUTTON_CLOSE"};
            alert.style = WizardAlert::Style::Critical;
            auto context = welcome.context();
            context->services.showAlert(alert, [context](int) {
                if (context->services.terminate) context->services.terminate();
            });
        });
    });
}

std::shared_ptr<WizardPage> WizardWelcomePage::nextPage() {
    return std::make_shared<WizardLicensePage>(context());
}

void WizardWelcomePage::openPricing() {
    if (context()->services.openUrl) {
        context()->services.openUrl(std::string(kProductSite) + "/pricing.html");
    }
}

// ---- Licence ---------------------------------------------------------------------

void WizardLicensePage::willNextClick(WizardSender, Completion complete) {
    WizardAlert alert;
    alert.messageKey = "LICENSE_ALERT_MESSAGE";
    alert.buttonKeys = {"LICENSE_ALERT_BUTTON_ACCEPT", "LICENSE_ALERT_BUTTON_DECLINE"};
    context()->services.showAlert(
        alert, [complete = std::move(complete)](int button) { complete(button == 0); });
}

std::shared_ptr<WizardPage> WizardLicensePage::nextPage() {
    return std::make_shared<WizardConsentPage>(context());
}

// ---- Consent ---------------------------------------------------------------------

void WizardConsentPage::didLoad() {
    auto& services = context()->services;
    services.settings->setResetSendReports(false);
    checked_ = services.settings->sendReports();
    auto self = shared_from_this();
    // The zone may need a look-up over the network; the page shows without the switch
    // until it is known.
    services.runAsync([self] {
        const auto& zoneOf = self->context()->services.locationZone;
        const uint64_t zone = zoneOf ? zoneOf() : 1;
        self->onMain([zone](WizardPage& page) {
            auto& consent = as<WizardConsentPage>(page);
            consent.zone_ = zone > 2 ? 0 : zone;
            consent.updateButtons();
            consent.changed();
        });
    });
}

std::string WizardConsentPage::infoKey() const {
    if (!zone_) return "WIZARD_HELP_INFO_WAIT";
    return *zone_ == 0 ? "WIZARD_HELP_INFO_1" : "WIZARD_HELP_INFO_2";
}

void WizardConsentPage::setChecked(bool checked) {
    // In the white zone the switch is not offered, so it cannot be changed.
    if (!switchVisible()) return;
    checked_ = checked;
    changed();
}

void WizardConsentPage::didNextClick(WizardSender) {
    context()->services.settings->setSendReports(checked_);
}

std::shared_ptr<WizardPage> WizardConsentPage::nextPage() {
    return std::make_shared<WizardExtensionsPage>(context());
}

// ---- Browser extensions ------------------------------------------------------------

std::vector<std::pair<TBNBrowser, std::string>> WizardExtensionsPage::browsers() {
    return {{TBNBrowser::Chrome, "Google Chrome"}, {TBNBrowser::Chromium, "Chromium"},
            {TBNBrowser::Firefox, "Firefox"},      {TBNBrowser::Edge, "Microsoft Edge"},
            {TBNBrowser::Opera, "Opera"},          {TBNBrowser::Brave, "Brave"},
            {TBNBrowser::Vivaldi, "Vivaldi"}};
}

void WizardExtensionsPage::didLoad() {
    TBN_LOG_TIME_BEGIN(DEBUG, kTag, "extensions page load");
    TBN_LOG_DEBUG_BEGIN(kTag);
    const auto& installed = context()->services.isBrowserInstalled;
    rows_.clear();
    for (const auto& [browser, name] : browsers()) {
        rows_.push_back({browser, name, installed ? installed(browser) : false});
    }
    onMainAfter(kStartDelay,
                [](WizardPage& page) { as<WizardExtensionsPage>(page).startService(); });
    TBN_LOG_DEBUG_END(kTag);
    TBN_LOG_TIME_END(DEBUG, kTag, "extensions page load");
}

void WizardExtensionsPage::startService() {
    auto context = this->context();
    auto& services = context->services;
    if (context->serviceStarted) return;
    if (services.generateSSLCerts && services.isSetupedSSLIdentity &&
        !services.isSetupedSSLIdentity()) {
        identity_ = Identity::Asking;
        changed();
        WizardAlert alert;
        alert.messageKey = "CONFIG_SSL_IDENTITY_ALERT_MESSAGE";
        alert.informativeKey = "CONFIG_SSL_IDENTITY_ALERT_INFO";
        alert.buttonKeys = {"SSL_IDENTITY_ALERT_BUTTON_CREATE", "SSL_IDENTITY_ALERT_BUTTON_CLOSE"};
        auto self = std::static_pointer_cast<WizardExtensionsPage>(shared_from_this());
        services.showAlert(alert, [self](int button) {
            auto context = self->context();
            if (context->closed) return;
            if (button != 0) {
                self->identity_ = Identity::Refused;
                self->changed();
                if (context->services.terminate) context->services.terminate();
                return;
            }
            self->identity_ = Identity::Creating;
            self->changed();
            context->services.runAsync([self] {
                const auto& services = self->context()->services;
                if (services.setupSSLIdentity) services.setupSSLIdentity();
                const bool ready = services.isSetupedSSLIdentity();
                self->onMain([ready](WizardPage& page) {
                    auto& extensions = as<WizardExtensionsPage>(page);
                    auto context = extensions.context();
                    if (ready) {
                        extensions.identity_ = Identity::Ready;
                        extensions.changed();
                        if (context->services.activateWindow) context->services.activateWindow();
                        context->serviceStarted = true;
                        // The start may check the identity again; not on the window's thread.
                        auto start = context->services.startService;
                        context->services.runAsync([start] {
                            if (start) start();
                        });
                        return;
                    }
                    extensions.identity_ = Identity::Failed;
                    extensions.changed();
                    WizardAlert failed;
                    failed.messageKey = "CONFIG_SSL_IDENTITY_FAIL_ALERT_MESSAGE";
                    failed.informativeKey = "CONFIG_SSL_IDENTITY_FAIL_ALERT_INFO";
                    failed.buttonKeys = {"SSL_IDENTITY_ALERT_BUTTON_CLOSE"};
                    failed.style = WizardAlert::Style::Critical;
                    context->services.showAlert(failed, [context](int) {
                        if (context->services.terminate) context->services.terminate();
                    });
                });
            });
        });
        return;
    }
    identity_ = Identity::Ready;
    context->serviceStarted = true;
    changed();
    if (services.startService) services.startService();
}

void WizardExtensionsPage::install(TBNBrowser browser) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    auto& services = context()->services;
    if (services.installExtension) services.installExtension(browser);
    if (services.openExtensionRegistration) services.openExtensionRegistration();
    // Every click opens the window anew for its full length.
    if (registrationEnd_ != 0) services.loop->cancel(registrationEnd_);
    registering_ = browser;
    std::weak_ptr<WizardPage> weak = shared_from_this();
    registrationEnd_ = services.loop->postAfter(kRegistrationSeconds, [weak] {
        auto self = weak.lock();
        if (!self) return;
        auto& page = as<WizardExtensionsPage>(*self);
        page.registering_.reset();
        page.registrationEnd_ = 0;
        page.changed();
    });
    changed();
    TBN_LOG_DEBUG_END(kTag);
}

std::shared_ptr<WizardPage> WizardExtensionsPage::nextPage() {
    return std::make_shared<WizardPairQRCodePage>(context());
}

// ---- QR pairing ----------------------------------------------------------------------

void WizardPairQRCodePage::didLoad() {
    canContinue_ = false;
    state_ = State::WaitingForCode;
    onMainAfter(kStartDelay,
                [](WizardPage& page) { as<WizardPairQRCodePage>(page).startPairing(); });
}

void WizardPairQRCodePage::startPairing() {
    auto context = this->context();
    if (!context->services.startPair) return;
    const uint64_t pairing = context->pairingStarted();
    pairing_ = pairing;
    auto self = std::static_pointer_cast<WizardPairQRCodePage>(shared_from_this());
    // The callbacks come on the service's threads; every change is made on the main loop.
    context->services.startPair(
        [self](const std::string& url) {
            self->onMain([url](WizardPage& page) {
                auto& qr = as<WizardPairQRCodePage>(page);
                qr.qrCodeValue_ = url;
                if (qr.state_ == State::WaitingForCode) qr.state_ = State::Pairing;
                qr.changed();
            });
        },
        [self](const std::string& status) {
            self->onMain([status](WizardPage& page) {
                auto& qr = as<WizardPairQRCodePage>(page);
                qr.stateText_ = status;
                qr.changed();
            });
        },
        [self, pairing](uint32_t) {
            self->onMain([pairing](WizardPage& page) {
                auto& qr = as<WizardPairQRCodePage>(page);
                qr.context()->pairingEnded(pairing);
                qr.canContinue_ = true;
                qr.state_ = State::Paired;
                qr.zoomOpen_ = false;
                qr.updateButtons();
                qr.changed();
                qr.onMainAfter(kAdvanceDelay, [](WizardPage& p) { p.goToNextView(); });
            });
        },
        [self, pairing](const std::shared_ptr<TBNError>& error) {
            std::string why;
            if (error) why = error->debugMessage().value_or("");
            self->onMain([pairing, why](WizardPage& page) {
                auto& qr = as<WizardPairQRCodePage>(page);
                qr.context()->pairingEnded(pairing);
                qr.state_ = State::Failed;
                qr.failureText_ = why;
                qr.zoomOpen_ = false;
                qr.changed();
            });
        });
}

void WizardPairQRCodePage::didNextClick(WizardSender) {
    // Skipped: the phone may still take the code after the wizard, so the pairing is no
    // longer this window's to stop when it ends.
    if (pairing_ != 0) context()->pairingEnded(pairing_);
}

std::shared_ptr<WizardPage> WizardPairQRCodePage::nextPage() {
    // The service's delegate stays as it is: the status icon keeps following the service.
    return std::make_shared<WizardDonePage>(context());
}

// ---- Done ------------------------------------------------------------------------

void WizardDonePage::didLoad() {
    auto& settings = *context()->services.settings;
    settings.setDoneWizard(true);
    paired_ = settings.firstPairedDevice() != nullptr;
}

}  // namespace lumvane
