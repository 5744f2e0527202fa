#pragma once
// The pages of the first run: welcome (Bluetooth LE check), licence (accepted in an
// alert), consent (anonymous usage data, offered outside the white location zone),
// browser extensions (install buttons, the registration window, the local TLS identity,
// then the service starts), QR pairing and done (writes doneWizard).
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "extension/browser/TBNBrowserExtensionManager.h"
#include "runtime/MainLoop.h"
#include "ui/wizard/WizardPage.h"

namespace lumvane {

// Scene identifiers.
inline constexpr const char* kWelcomePageId = "TBNWizardWelcomeViewController";
inline constexpr const char* kLicensePageId = "TBNWizardLicenseViewController";
inline constexpr const char* kConsentPageId = "TBNWizardDebugViewController";
inline constexpr const char* kExtensionsPageId = "TBNWizardInstallExtensionsViewController";
inline constexpr const char* kPairQRCodePageId = "TBNWizardPairQRCodeViewController";
inline constexpr const char* kDonePageId = "TBNWizardDoneViewController";

// The product's web site; the pricing page is below it.
inline constexpr const char* kProductSite = "https://lumvane.io";

class WizardWelcomePage : public WizardPage {
  public:
    enum class Check { Running, Passed, Failed };
    explicit WizardWelcomePage(std::shared_ptr<WizardContext> context)
        : WizardPage(kWelcomePageId, std::move(context)) {}

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_CONTINUE"; }
    bool canEnableNextButton() const override { return nextEnabled_; }
    std::shared_ptr<WizardPage> nextPage() override;

    void openPricing();
    Check check() const { return check_; }

  protected:
    void didLoad() override;

  private:
    bool nextEnabled_ = false;
    Check check_ = Check::Running;
};

class WizardLicensePage : public WizardPage {
  public:
    explicit WizardLicensePage(std::shared_ptr<WizardContext> context)
        : WizardPage(kLicensePageId, std::move(context)) {}

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_CONTINUE"; }
    void willNextClick(WizardSender sender, Completion complete) override;
    std::shared_ptr<WizardPage> nextPage() override;
};

class WizardConsentPage : public WizardPage {
  public:
    explicit WizardConsentPage(std::shared_ptr<WizardContext> context)
        : WizardPage(kConsentPageId, std::move(context)) {}

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_CONTINUE"; }
    // What Next stores depends on the zone: the page waits for it.
    bool canEnableNextButton() const override { return zone_.has_value(); }
    bool willNextClick(WizardSender) override { return zone_.has_value(); }
    using WizardPage::willNextClick;
    void didNextClick(WizardSender sender) override;
    std::shared_ptr<WizardPage> nextPage() override;

    // Nothing until the location zone is known.
    std::optional<uint64_t> zone() const { return zone_; }
    bool switchVisible() const { return zone_ && *zone_ != 0; }
    std::string infoKey() const;
    bool checked() const { return checked_; }
    void setChecked(bool checked);

  protected:
    void didLoad() override;

  private:
    std::optional<uint64_t> zone_;
    bool checked_ = false;
};

class WizardExtensionsPage : public WizardPage {
  public:
    // How long a newly installed extension may register without a question.
    static constexpr double kRegistrationSeconds = 120.0;
    static constexpr double kStartDelay = 0.1;
    enum class Identity { Pending, Asking, Creating, Ready, Refused, Failed };

    struct BrowserRow {
        TBNBrowser browser;
        std::string name;
        bool installed = false;
    };

    explicit WizardExtensionsPage(std::shared_ptr<WizardContext> context)
        : WizardPage(kExtensionsPageId, std::move(context)) {}

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_CONTINUE"; }
    std::shared_ptr<WizardPage> nextPage() override;

    // The browsers of this system, in the order of the page.
    static std::vector<std::pair<TBNBrowser, std::string>> browsers();
    const std::vector<BrowserRow>& rows() const { return rows_; }
    void install(TBNBrowser browser);
    // The browser whose registration window is open now, if any.
    std::optional<TBNBrowser> registeringBrowser() const { return registering_; }
    Identity identity() const { return identity_; }

  protected:
    void didLoad() override;

  private:
    void startService();

    std::vector<BrowserRow> rows_;
    std::optional<TBNBrowser> registering_;
    MainLoop::TaskId registrationEnd_ = 0;
    Identity identity_ = Identity::Pending;
};

class WizardPairQRCodePage : public WizardPage {
  public:
    static constexpr double kStartDelay = 0.1;
    static constexpr double kAdvanceDelay = 0.5;
    enum class State { WaitingForCode, Pairing, Paired, Failed };

    explicit WizardPairQRCodePage(std::shared_ptr<WizardContext> context)
        : WizardPage(kPairQRCodePageId, std::move(context)) {}

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> nextButtonTitle() const override {
        return canContinue_ ? "BUTTON_CONTINUE" : "BUTTON_SKIP";
    }
    // Skip leaves the pairing running in the service.
    void didNextClick(WizardSender sender) override;
    std::shared_ptr<WizardPage> nextPage() override;

    const std::optional<std::string>& qrCodeValue() const { return qrCodeValue_; }
    const std::string& stateText() const { return stateText_; }
    const std::string& failureText() const { return failureText_; }
    bool canContinue() const { return canContinue_; }
    State state() const { return state_; }
    // The larger code window is open (its close is the page's to make on success).
    void setZoomOpen(bool open) { zoomOpen_ = open; }
    bool zoomOpen() const { return zoomOpen_; }

  protected:
    void didLoad() override;

  private:
    void startPairing();

    uint64_t pairing_ = 0;
    std::optional<std::string> qrCodeValue_;
    std::string stateText_;
    std::string failureText_;
    bool canContinue_ = false;
    bool zoomOpen_ = false;
    State state_ = State::WaitingForCode;
};

class WizardDonePage : public WizardPage {
  public:
    explicit WizardDonePage(std::shared_ptr<WizardContext> context)
        : WizardPage(kDonePageId, std::move(context)) {}

    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_FINISH"; }
    bool nextIsFinish(WizardSender) override { return true; }

    std::string infoKey() const {
        return paired_ ? "WIZARD_FINISH_INFO_DONE" : "WIZARD_FINISH_INFO_SKIP";
    }

  protected:
    void didLoad() override;

  private:
    bool paired_ = false;
};

}  // namespace lumvane
