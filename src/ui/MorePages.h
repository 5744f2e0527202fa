#pragma once
// The pages the status menu and the service open without waiting for a value: the
// security-key driver set-up, rating, password generators, about and debug settings,
// pairing with a phone nearby. Main (GUI) thread only.
#include <QPointer>

#include <memory>
#include <optional>
#include <vector>

#include "core/service/TBNUIService.h"
#include "ui/GeneratorLogic.h"
#include "ui/Pages.h"

class QSlider;
class QListWidget;

namespace lumvane {

class TBNGeneratorSettings;
class TBNOSXDeviceInfo;
class TBNError;

class TBNInstallDriverPopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr double kDoneCloseSeconds = 5;
    explicit TBNInstallDriverPopoverViewController(QWidget* parent = nullptr);
    QString identifier() const override { return "TBNInstallDriverPopoverViewController"; }

    void setViewType(TBNInstallDriverViewType type);
    TBNInstallDriverViewType viewType() const { return viewType_; }
    // Runs once when the page goes away, whatever happened there.
    void setClosed(TBNUIServiceProtocol::Closed closed) {
        closed_.setReply([closed](auto) {
            if (closed) closed();
        });
    }

    void actionInstallButton();
    void actionCancelButton();
    bool working() const { return working_; }

    QLabel* titleTextField = nullptr;
    QLabel* messageTextField = nullptr;
    QLabel* updatedTextField = nullptr;
    TBNPressButton* cancelButton = nullptr;
    TBNPressButton* installButton = nullptr;
    TBNPressButton* closeButton = nullptr;

  protected:
    void closedWithoutAnswer() override { closed_.give(true); }

  private:
    void finished(const std::string& error);

    TBNInstallDriverViewType viewType_ = TBNInstallDriverViewType::Install;
    bool working_ = false;
    ui::PageAnswer<bool> closed_;
};

class TBNRatePopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr double kSelfCloseSeconds = 60;
    static constexpr const char* kReviewUrl = "https://www.facebook.com/lumvane/reviews";
    explicit TBNRatePopoverViewController(QWidget* parent = nullptr);
    QString identifier() const override { return "TBNRatePopoverViewController"; }

    void actionNoButton();
    void actionLaterButton();
    void actionRateButton();
    void actionCancelButton();
    void actionReviewButton();
    void updateRate(uint64_t rate);
    uint64_t rate() const { return rate_; }
    bool ratting() const { return ratting_; }
    bool reviewing() const { return reviewing_; }

    QLabel* titleTextField = nullptr;
    QLabel* questionTextField = nullptr;
    QLabel* rateTextField = nullptr;
    QLabel* doneTextField = nullptr;
    QWidget* rateView = nullptr;
    std::vector<QAbstractButton*> stars;
    TBNPressButton* buttonNo = nullptr;
    TBNPressButton* buttonLater = nullptr;
    TBNPressButton* buttonReview = nullptr;
    TBNPressButton* buttonCancel = nullptr;
    TBNPressButton* buttonRate = nullptr;

  protected:
    void willFadeOut() override;

  private:
    uint64_t rate_ = 0;
    bool ratting_ = false;
    bool reviewing_ = false;
};

// The password generator: length and three switches, stored at once; the strength of
// the password shown, also as the user edits it.
class TBNPasswordGeneratorPopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr double kClipboardSeconds = 90;
    explicit TBNPasswordGeneratorPopoverViewController(QWidget* parent = nullptr);
    QString identifier() const override { return "TBNPasswordGeneratorPopoverViewController"; }

    void actionPasswordButton();
    void actionCopyButton();
    void actionLenghtSlider(int value);
    void actionCapitalizationSwitch();
    void actionDigitsSwitch();
    void actionSymbolsSwitch();
    const TBNGeneratorLogic& logic() const { return logic_; }

    QLineEdit* passwordTextField = nullptr;
    QLabel* strengthPasswordTextField = nullptr;
    QLabel* lenghtValueTextField = nullptr;
    QSlider* lenghtSlider = nullptr;
    TBNSwitch* capitalizationSwitch = nullptr;
    TBNSwitch* digitsSwitch = nullptr;
    TBNSwitch* symbolsSwitch = nullptr;
    TBNPressButton* passwordRefreshButton = nullptr;
    TBNPressButton* passwordCopyButton = nullptr;
    TBNPressButton* closeButton = nullptr;
    QLabel* copiedTextField = nullptr;

  private:
    void saveAndRefresh();
    void updateConrols();
    void showStrength();

    TBNGeneratorLogic logic_;
};

// The second design: a profile slider whose last position opens four custom sliders;
// changes are stored only by Save, shown while they differ from the stored settings.
class TBNPasswordGeneratorV2PopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    explicit TBNPasswordGeneratorV2PopoverViewController(QWidget* parent = nullptr);
    QString identifier() const override { return "TBNPasswordGeneratorV2PopoverViewController"; }

    void actionGeneralSlider(int value);
    void actionLenghtSlider(int value);
    void actionCapitalizationSlider(int value);
    void actionDigitsSlider(int value);
    void actionSymbolsSlider(int value);
    void actionSaveButton();
    void actionCopyButton();
    const TBNGeneratorLogic& logic() const { return logic_; }

    QLineEdit* passwordTextField = nullptr;
    QLabel* highAndCustomTextField = nullptr;
    QFrame* customBox = nullptr;
    QSlider* generalSlider = nullptr;
    QSlider* lenghtSlider = nullptr;
    QSlider* capitalizationSlider = nullptr;
    QSlider* digitsSlider = nullptr;
    QSlider* symbolsSlider = nullptr;
    QLabel* lenghtValueTextField = nullptr;
    QLabel* capitalizationValueTextField = nullptr;
    QLabel* digitsValueTextField = nullptr;
    QLabel* symbolsValueTextField = nullptr;
    TBNPressButton* passwordRefreshButton = nullptr;
    TBNPressButton* passwordCopyButton = nullptr;
    TBNPressButton* saveButton = nullptr;
    TBNPressButton* closeButton = nullptr;

  private:
    void showConfig();
    void updateConrols();

    TBNGeneratorLogic logic_;
};

// Counts quick clicks on the About page's icon: the fourth click, each less than 1 s
// after the one before, opens the debug settings. No Qt here.
class TBNClickCounter {
  public:
    // True when this click opens the debug settings.
    bool click(double now);

  private:
    uint64_t clickCount_ = 0;
    double lastClick_ = 0;
};

class TBNAboutPopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr const char* kWebSite = "https://lumvane.io";
    static constexpr const char* kPrivacyPolicy = "https://lumvane.io/privacy-policy.html";
    // The debug settings can be asked for this long after the page was made.
    static constexpr double kDebugWindowSeconds = 30;
    explicit TBNAboutPopoverViewController(QWidget* parent = nullptr);
    QString identifier() const override { return "TBNAboutPopoverViewController"; }

    // Called (once, within kDebugWindowSeconds) when the user asked for the debug settings;
    // the opener shows them.
    void setDebugSettingsRequested(std::function<void()> requested) {
        debugRequested_ = std::move(requested);
    }
    // A click on the icon at `now` (seconds).
    void actionIconImageView(double now);

    QLabel* iconImageView = nullptr;
    QLabel* versionTextField = nullptr;
    TBNPressButton* policyButton = nullptr;
    TBNPressButton* lumvaneIOButton = nullptr;
    TBNPressButton* closeButton = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    TBNClickCounter counter_;
    std::function<void()> debugRequested_;
};

class TBNDebugSettingsPopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr const char* kDefaultBackupFolderName = "Lumvane_backups";
    explicit TBNDebugSettingsPopoverViewController(QWidget* parent = nullptr);
    QString identifier() const override { return "TBNDebugSettingsPopoverViewController"; }

    // The Desktop's "Lumvane_backups", made when missing.
    static QString defaultBackupFolder();
    void actionEnableCopyBackupSwitch();
    void actionSelectBackupLocationButton();

    TBNSwitch* osxExtModeSwitch = nullptr;
    TBNSwitch* extExtModeSwitch = nullptr;
    TBNSwitch* updateToPrereleaseSwitch = nullptr;
    TBNSwitch* enableBLETestintSwitch = nullptr;
    TBNSwitch* supportYubiKeySwitch = nullptr;
    TBNSwitch* enableCopyBackupSwitch = nullptr;
    QLabel* backupLocationTextField = nullptr;
    TBNPressButton* selectBackupLocationButton = nullptr;
    TBNPressButton* closeButton = nullptr;

  private:
    void showBackupLocation(const QString& path);
};

// Pairing with a phone found nearby: pick it, compare the check code, see the result.
class TBNPairDevicePopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    explicit TBNPairDevicePopoverViewController(QWidget* parent = nullptr);
    ~TBNPairDevicePopoverViewController() override;
    QString identifier() const override { return "TBNPairDevicePopoverViewController"; }
    bool isPriorityViewController() const override { return true; }
    // Runs once when the page goes away.
    void setClosed(std::function<void()> closed) {
        closed_.setReply([closed](auto) {
            if (closed) closed();
        });
    }

    void actionPair();
    void actionCancel() { closePage(); }
    void actionClose() { closePage(); }
    void actionTryAgain();
    void successPair();
    void failPairWithError(int32_t category, int64_t id);
    void selectRow(int row);
    // Reads the phones online from the settings again.
    void reloadDevices();

    QLabel* titleTextField = nullptr;
    QFrame* searchDevicesBox = nullptr;
    QListWidget* searchDevicesTableView = nullptr;
    TBNSpinner* searchDevicesProgressIndicator = nullptr;
    QLabel* searchingTextField = nullptr;
    QFrame* selectedDeviceBox = nullptr;
    QLabel* selectedDeviceIconImageView = nullptr;
    QLabel* selectedDeviceTitleTextField = nullptr;
    QLabel* selectedDeviceSubTitleTextField = nullptr;
    QFrame* pairingBox = nullptr;
    QLabel* pairingCodeTextField = nullptr;
    TBNSpinner* pairingProgressIndicator = nullptr;
    QFrame* pairedBox = nullptr;
    QFrame* failedBox = nullptr;
    QLabel* failedMessageTextField = nullptr;
    TBNPressButton* pairButton = nullptr;
    TBNPressButton* closePairButton = nullptr;
    TBNPressButton* cancelButton = nullptr;
    TBNPressButton* closeButton = nullptr;
    TBNPressButton* tryAgainButton = nullptr;
    std::shared_ptr<TBNOSXDeviceInfo> pairingDevice() const { return pairingDevice_; }

  protected:
    void closedWithoutAnswer() override { closed_.give(true); }
    void didFadeIn() override;

  private:
    void updateDeviceInfo();
    // Gives each row's cell the selected or unselected look.
    void updateCells();
    // The spinner turns while no phone is listed.
    void showSearching(bool searching);

    std::vector<std::shared_ptr<TBNOSXDeviceInfo>> onlineDevices_;
    int selectedRow_ = -1;
    std::shared_ptr<TBNOSXDeviceInfo> pairingDevice_;
    std::shared_ptr<TBNSettingsDelegate> observer_;
    ui::PageAnswer<bool> closed_;
};

}  // namespace lumvane
