#pragma once
// The other way through the first run: choose where the vault is (a phone with the app,
// a phone without it), choose a phone found nearby and pair with it, or invite someone
// to install the phone app by e-mail. No page of the usual first run leads here; only the
// Back buttons of two of these pages lead out, to the consent page.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/TBNSettings.h"
#include "ui/wizard/WizardPage.h"

namespace lumvane {

inline constexpr const char* kSelectSourcePageId = "TBNWizardSelectSourceViewController";
inline constexpr const char* kSelectDevicePageId = "TBNWizardSelectDeviceViewController";
inline constexpr const char* kPairingWithDevicePageId = "TBNWizardPairingWithDeviceViewController";
inline constexpr const char* kInviteToInstallPageId = "TBNWizardInviteToInstallViewController";
inline constexpr const char* kInviteDonePageId = "TBNWizardInviteDoneViewController";
inline constexpr const char* kSkipDonePageId = "TBNWizardSkipDoneViewController";

// Where invitations to install the phone app go.
inline constexpr const char* kInvitationAddress = "invite@lumvane.io";

// Colours of the wizard's table cells, as red, green, blue and alpha in 0..1.
struct CellColor {
    double r, g, b, a;
    bool operator==(const CellColor&) const = default;
};
struct CellStyle {
    CellColor fill;
    CellColor title;
    CellColor subtitle;
};
// Selected wins over disabled. (The device cells are the application's own, in ui/DeviceCell.)
CellStyle sourceCellStyle(bool selected, bool disabled);
// The texts of a source row (0 phone with the app, 1 phone without it, 2 this computer
// alone); nothing for any other type.
struct SourceCellTexts {
    std::string titleKey, subtitleKey;
};
std::optional<SourceCellTexts> sourceCellTexts(uint64_t type);

class WizardSelectSourcePage : public WizardPage {
  public:
    explicit WizardSelectSourcePage(std::shared_ptr<WizardContext> context)
        : WizardPage(kSelectSourcePageId, std::move(context)) {}

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> backButtonTitle() const override { return "BUTTON_BACK"; }
    std::optional<std::string> nextButtonTitle() const override {
        return selectedRow_ < 0 ? "BUTTON_SKIP" : "BUTTON_CONTINUE";
    }
    std::shared_ptr<WizardPage> previousPage() override;
    std::shared_ptr<WizardPage> nextPage() override;
    void didNextClick(WizardSender sender) override;

    static constexpr int kRows = 3;
    int selectedRow() const { return selectedRow_; }
    // Rows 0 and 1 may be chosen; the stand-alone row changes nothing.
    void selectRow(int row);

  private:
    int selectedRow_ = -1;
};

// Follows the settings' online phones on the main loop.
class WizardOnlineDevicesObserver;

class WizardSelectDevicePage : public WizardPage {
  public:
    explicit WizardSelectDevicePage(std::shared_ptr<WizardContext> context)
        : WizardPage(kSelectDevicePageId, std::move(context)) {}
    ~WizardSelectDevicePage() override;

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> backButtonTitle() const override { return "BUTTON_BACK"; }
    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_CONTINUE"; }
    bool canEnableNextButton() const override;
    std::shared_ptr<WizardPage> previousPage() override;
    std::shared_ptr<WizardPage> nextPage() override;
    void didCancelClick(WizardSender sender) override;
    void didBackClick(WizardSender sender) override;
    void didNextClick(WizardSender sender) override;

    const std::vector<std::shared_ptr<TBNOSXDeviceInfo>>& onlineDevices() const {
        return onlineDevices_;
    }
    int selectedRow() const { return selectedRow_; }
    void selectRow(int row);
    // The indicator runs exactly while no phone is online.
    bool searching() const { return searching_; }
    // The settings changed (main loop).
    void settingsChanged(TBNSettingsComponents components);

  protected:
    void didLoad() override;

  private:
    std::shared_ptr<WizardOnlineDevicesObserver> observer_;
    std::vector<std::shared_ptr<TBNOSXDeviceInfo>> onlineDevices_;
    int selectedRow_ = -1;
    bool searching_ = false;
};

class WizardPairingWithDevicePage : public WizardPage {
  public:
    explicit WizardPairingWithDevicePage(std::shared_ptr<WizardContext> context)
        : WizardPage(kPairingWithDevicePageId, std::move(context)) {}
    ~WizardPairingWithDevicePage() override;

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> backButtonTitle() const override { return "BUTTON_BACK"; }
    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_CONTINUE"; }
    // Only once paired, which nothing on this page brings about.
    bool canEnableNextButton() const override { return paired_; }
    std::shared_ptr<WizardPage> previousPage() override;
    std::shared_ptr<WizardPage> nextPage() override;

    const std::shared_ptr<TBNOSXDeviceInfo>& pairingDevice() const { return pairingDevice_; }
    const std::string& pairCode() const { return pairCode_; }
    bool paired() const { return paired_; }
    void settingsChanged(TBNSettingsComponents components);

  protected:
    void didLoad() override;

  private:
    void update();

    std::shared_ptr<WizardOnlineDevicesObserver> observer_;
    std::shared_ptr<TBNOSXDeviceInfo> pairingDevice_;
    std::string pairCode_;
    bool paired_ = false;
};

class WizardInviteToInstallPage : public WizardPage {
  public:
    explicit WizardInviteToInstallPage(std::shared_ptr<WizardContext> context)
        : WizardPage(kInviteToInstallPageId, std::move(context)) {}

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> backButtonTitle() const override { return "BUTTON_BACK"; }
    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_CONTINUE"; }
    std::shared_ptr<WizardPage> previousPage() override;
    std::shared_ptr<WizardPage> nextPage() override;
    void didNextClick(WizardSender sender) override;

    const std::string& email() const { return email_; }
    void setEmail(std::string email) { email_ = std::move(email); }
    // The mailto: address of the invitation e-mail.
    std::string invitationMailto() const;

  private:
    std::string email_;
};

// The end of the invite and of the skip way: the service starts 0.1 s after the page
// shows; Finish ends the wizard. Neither writes doneWizard.
class WizardStartServiceDonePage : public WizardPage {
  public:
    static constexpr double kStartDelay = 0.1;
    WizardStartServiceDonePage(std::shared_ptr<WizardContext> context, std::string identifier)
        : WizardPage(std::move(identifier), std::move(context)) {}

    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_FINISH"; }
    bool nextIsFinish(WizardSender) override { return true; }

  protected:
    void didLoad() override;
};

}  // namespace lumvane
