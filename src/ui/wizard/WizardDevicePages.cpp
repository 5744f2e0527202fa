#include "ui/wizard/WizardDevicePages.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>

#include "lumvane/Version.h"
#include "runtime/TBNUtil.h"
#include "ui/wizard/WizardFirstRunPages.h"
#include "ui/wizard/WizardServices.h"

namespace lumvane {

// ---- Cells -------------------------------------------------------------------------

CellStyle sourceCellStyle(bool selected, bool disabled) {
    constexpr CellColor kWhite{1.0, 1.0, 1.0, 1.0};
    constexpr CellColor kLight{0.98, 0.87, 0.68, 1.0};
    if (selected) return {kWhite, {0.09, 0.29, 0.60, 1.0}, {0.56, 0.45, 0.23, 1.0}};
    if (disabled) return {{0.7, 0.7, 0.7, 1.0}, kWhite, kLight};
    return {{0.65, 0.75, 0.90, 0.2}, kWhite, kLight};
}

std::optional<SourceCellTexts> sourceCellTexts(uint64_t type) {
    switch (type) {
        case 0:
            return SourceCellTexts{"TEXTFIELD_PHONE_WITH_LUMVANE_TITLE",
                                   "TEXTFIELD_PHONE_WITH_LUMVANE_SUBTITLE"};
        case 1:
            return SourceCellTexts{"TEXTFIELD_PHONE_WITHOUT_LUMVANE_TITLE",
                                   "TEXTFIELD_PHONE_WITHOUT_LUMVANE_SUBTITLE"};
        case 2:
            return SourceCellTexts{"TEXTFIELD_STANDALONE_TITLE", "TEXTFIELD_STANDALONE_SUBTITLE"};
        default:
            return std::nullopt;
    }
}

// ---- Settings observer ---------------------------------------------------------------

class WizardOnlineDevicesObserver : public TBNSettingsDelegate {
  public:
    using Handler = std::function<void(WizardPage&, TBNSettingsComponents)>;
    WizardOnlineDevicesObserver(std::weak_ptr<WizardPage> page, Handler handler)
        : page_(std::move(page)), handler_(std::move(handler)) {}
    // The settings' notification thread: the page's work goes to the main loop.
    void settingsDidUpdated(TBNSettings&, TBNSettingsComponents components) override {
        auto page = page_.lock();
        if (!page) return;
        auto handler = handler_;
        page->onMain([handler, components](WizardPage& p) { handler(p, components); });
    }

  private:
    std::weak_ptr<WizardPage> page_;
    Handler handler_;
};

// ---- Select source -------------------------------------------------------------------

void WizardSelectSourcePage::selectRow(int row) {
    if (row != 0 && row != 1) return;
    selectedRow_ = row;
    updateButtons();
    changed();
}

std::shared_ptr<WizardPage> WizardSelectSourcePage::previousPage() {
    return std::make_shared<WizardConsentPage>(context());
}

void WizardSelectSourcePage::didNextClick(WizardSender) {
    context()->services.settings->setClientId(TBNUtil::generateId());
}

std::shared_ptr<WizardPage> WizardSelectSourcePage::nextPage() {
    switch (selectedRow_) {
        case 0:
            return std::make_shared<WizardSelectDevicePage>(context());
        case 1:
            return std::make_shared<WizardInviteToInstallPage>(context());
        default:
            return std::make_shared<WizardStartServiceDonePage>(context(), kSkipDonePageId);
    }
}

// ---- Select device -------------------------------------------------------------------

WizardSelectDevicePage::~WizardSelectDevicePage() = default;

void WizardSelectDevicePage::didLoad() {
    auto& services = context()->services;
    observer_ = std::make_shared<WizardOnlineDevicesObserver>(
        weak_from_this(), [](WizardPage& page, TBNSettingsComponents components) {
            as<WizardSelectDevicePage>(page).settingsChanged(components);
        });
    services.settings->addDelegate(observer_);
    onlineDevices_ = services.settings->allOnlineDevices();
    selectedRow_ = -1;
    searching_ = onlineDevices_.empty();
    context()->serviceStarted = true;
    auto start = services.startService;
    services.runAsync([start] {
        if (start) start();
    });
}

bool WizardSelectDevicePage::canEnableNextButton() const {
    return selectedRow_ >= 0 && selectedRow_ < static_cast<int>(onlineDevices_.size());
}

void WizardSelectDevicePage::selectRow(int row) {
    selectedRow_ = row;
    updateButtons();
    changed();
}

void WizardSelectDevicePage::settingsChanged(TBNSettingsComponents components) {
    onlineDevices_ = context()->services.settings->allOnlineDevices();
    if (components & (TBNSettingsComponentDeviceInfo | TBNSettingsComponentOnlineDevices)) {
        searching_ = onlineDevices_.empty();
    }
    updateButtons();
    changed();
}

// Cancel and Back are the only steps that stop the service this page started.
void WizardSelectDevicePage::didCancelClick(WizardSender) {
    context()->serviceStarted = false;
    if (context()->services.stopService) context()->services.stopService();
}

void WizardSelectDevicePage::didBackClick(WizardSender) {
    context()->serviceStarted = false;
    if (context()->services.stopService) context()->services.stopService();
}

void WizardSelectDevicePage::didNextClick(WizardSender) {
    if (!canEnableNextButton()) return;
    context()->services.settings->setPairingHardwareId(
        onlineDevices_[static_cast<size_t>(selectedRow_)]->hardwareId());
}

std::shared_ptr<WizardPage> WizardSelectDevicePage::previousPage() {
    return std::make_shared<WizardConsentPage>(context());
}

std::shared_ptr<WizardPage> WizardSelectDevicePage::nextPage() {
    return std::make_shared<WizardPairingWithDevicePage>(context());
}

// ---- Pairing with a device -----------------------------------------------------------

WizardPairingWithDevicePage::~WizardPairingWithDevicePage() = default;

void WizardPairingWithDevicePage::didLoad() {
    auto& settings = *context()->services.settings;
    observer_ = std::make_shared<WizardOnlineDevicesObserver>(
        weak_from_this(), [](WizardPage& page, TBNSettingsComponents components) {
            as<WizardPairingWithDevicePage>(page).settingsChanged(components);
        });
    settings.addDelegate(observer_);
    update();
    pairCode_ = "XXXXX";
    paired_ = false;
}

void WizardPairingWithDevicePage::update() {
    auto& settings = *context()->services.settings;
    pairingDevice_ = settings.onlineDeviceByHardwareId(settings.pairingHardwareId());
}

void WizardPairingWithDevicePage::settingsChanged(TBNSettingsComponents components) {
    if (!(components & (TBNSettingsComponentDeviceInfo | TBNSettingsComponentOnlineDevices)))
        return;
    update();
    changed();
}

std::shared_ptr<WizardPage> WizardPairingWithDevicePage::previousPage() {
    return std::make_shared<WizardSelectDevicePage>(context());
}

std::shared_ptr<WizardPage> WizardPairingWithDevicePage::nextPage() {
    // After a pairing this way the first run is as done as after the QR page.
    return std::make_shared<WizardDonePage>(context());
}

// ---- Invite --------------------------------------------------------------------------

namespace {

std::string percentEncoded(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

}  // namespace

std::string WizardInviteToInstallPage::invitationMailto() const {
    unsigned long major = 0, minor = 0;
    struct utsname system {};
    if (::uname(&system) == 0) std::sscanf(system.release, "%lu.%lu", &major, &minor);
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    char body[1024];
    std::snprintf(body, sizeof body,
                  "Email: %s\nOS: Linux %02lu.%02lu\nHardware: %s\nApplication: Lumvane Linux v.%s",
                  email_.c_str(), major, minor, host, kAppVersion);
    return std::string("mailto:") + kInvitationAddress +
           "?subject=" + percentEncoded("Get invited for Lumvane (from osx wizard)") +
           "&body=" + percentEncoded(body);
}

void WizardInviteToInstallPage::didNextClick(WizardSender) {
    // The address typed is not checked: the e-mail is only composed, not sent.
    if (context()->services.openUrl) context()->services.openUrl(invitationMailto());
}

std::shared_ptr<WizardPage> WizardInviteToInstallPage::previousPage() {
    return std::make_shared<WizardSelectSourcePage>(context());
}

std::shared_ptr<WizardPage> WizardInviteToInstallPage::nextPage() {
    return std::make_shared<WizardStartServiceDonePage>(context(), kInviteDonePageId);
}

// ---- Invite done, skip done ----------------------------------------------------------

void WizardStartServiceDonePage::didLoad() {
    onMainAfter(kStartDelay, [](WizardPage& page) {
        auto context = page.context();
        if (context->serviceStarted) return;
        context->serviceStarted = true;
        if (context->services.startService) context->services.startService();
    });
}

}  // namespace lumvane
