#pragma once
// The pages that answer a question of the application service (choose and save an
// account, back up and restore) and the pages that only inform (guide, message).
// Each page answers its own opener exactly once: with the user's answer, or with nothing
// when it closes any other way. Main (GUI) thread only.
#include <QFrame>
#include <QLabel>
#include <QPointer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/service/TBNUIService.h"
#include "ui/Controls.h"
#include "ui/PageSupport.h"
#include "ui/SaveAccountLogic.h"
#include "ui/TBNPopoverViewController.h"

class QComboBox;
class QVBoxLayout;
class QProgressBar;
class QStackedWidget;
class QDate;

namespace lumvane {

class TBNSettingsDelegate;

// A page with a content box that fades in when shown and out when hidden.
class TBNFadingPage : public TBNPopoverViewController {
    Q_OBJECT
  public:
    explicit TBNFadingPage(QWidget* parent = nullptr);
    void didShowViewControolerWithTimeAnimation(double seconds) override;
    void willHideViewControolerWithTimeAnimation(double seconds) override;

    QFrame* pageBox = nullptr;
    // Set when one of the page's own buttons ended it.
    bool userClosed = false;

    // Gives the hosting window the page's size when a part of the page came or went.
    void fitHostToContent();

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The box's layout, for the page's content.
    QVBoxLayout* content() const;
    // After the fade-in.
    virtual void didFadeIn() {}
    // When the hiding starts, before the fade-out.
    virtual void willFadeOut() {}
    // After the fade-out, when no button of the page ended it.
    virtual void closedWithoutAnswer() {}
    QList<QWidget*> fadingViews() const;
    QList<QWidget*> extraFadingViews;

  private:
    void fitHostLater();
    bool fitPending_ = false;
};

// The site's icon in a light rounded square.
class TBNSiteIconView : public QLabel {
    Q_OBJECT
  public:
    explicit TBNSiteIconView(QWidget* parent = nullptr);
    void showSite(const std::string& siteUrl);
};

class TBNChooseAccountPopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr double kSelfCloseSeconds = 300;
    explicit TBNChooseAccountPopoverViewController(QWidget* parent = nullptr);
    QString identifier() const override { return "TBNChooseAccountPopoverViewController"; }
    bool isPriorityViewController() const override { return true; }

    void setAccounts(const std::vector<std::string>& accounts, const std::string& siteUrl,
                     const std::string& siteName);
    void setReply(TBNUIServiceProtocol::ChooseAccountReply reply) {
        answer_.setReply(std::move(reply));
    }

    void actionOkButton();
    void actionCancelButton();
    int64_t selectedIndex() const { return selectedIndex_; }

    TBNSiteIconView* iconImageView = nullptr;
    QLabel* siteTextField = nullptr;
    QComboBox* accountsComboBox = nullptr;
    TBNPressButton* cancelButton = nullptr;
    TBNPressButton* okButton = nullptr;

  protected:
    void closedWithoutAnswer() override { answer_.give(std::nullopt); }

  private:
    std::vector<std::string> accounts_;
    int64_t selectedIndex_ = -1;
    ui::PageAnswer<uint64_t> answer_;
};

class TBNSaveAccountPopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr double kSelfCloseSeconds = 300;
    explicit TBNSaveAccountPopoverViewController(QWidget* parent = nullptr);
    ~TBNSaveAccountPopoverViewController() override;
    QString identifier() const override { return "TBNSaveAccountPopoverViewController"; }
    bool isPriorityViewController() const override { return true; }

    void setQuestion(const TBNSaveAccountQuestion& question);
    void setReply(TBNUIServiceProtocol::SaveAccountReply reply) {
        answer_.setReply(std::move(reply));
    }

    void actionSaveButton();
    void actionCancelButton();
    void actionShowPasswordButton();
    void actionHidePasswordButton();
    // Reads the phone's state from the settings again.
    void updateUI(bool animated);
    const TBNSaveAccountLogic& logic() const { return logic_; }

    QLabel* titleTextField = nullptr;
    TBNSiteIconView* iconImageView = nullptr;
    TBNTextField* siteUrlTextField = nullptr;
    TBNTextField* accountTextField = nullptr;
    TBNTextField* passwordTextField = nullptr;
    TBNSecureTextField* passwordSecureTextField = nullptr;
    TBNSwitch* secureSwitch = nullptr;
    TBNPressButton* showPasswordButton = nullptr;
    TBNPressButton* hidePasswordButton = nullptr;
    QFrame* waitingBox = nullptr;
    QLabel* waitingTextField = nullptr;
    QProgressBar* progressIndicator = nullptr;
    QLabel* autoSaveHint = nullptr;
    TBNPressButton* saveButton = nullptr;
    TBNPressButton* cancelButton = nullptr;
    TBNPressButton* oneCancelButton = nullptr;

  protected:
    void willFadeOut() override { logic_.stop(); }
    void closedWithoutAnswer() override { answer_.give(std::nullopt); }

  private:
    void installEditingCallbacks();
    void showLayout(bool animated);
    void showWaitingBox(bool animated);

    TBNSaveAccountLogic logic_;
    QLabel* secureLabel_ = nullptr;
    std::shared_ptr<TBNSettingsDelegate> observer_;
    bool waitingShown_ = true;
    ui::PageAnswer<TBNSaveAccountAnswer> answer_;
};

class TBNGuidePopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr double kSelfCloseSeconds = 60;
    explicit TBNGuidePopoverViewController(bool large = false, QWidget* parent = nullptr);
    QString identifier() const override {
        return large_ ? "TBNGuidePopoverLargeViewController" : "TBNGuidePopoverViewController";
    }
    // Empty texts leave the page's own.
    void updateTitle(const QString& title, const QString& message);
    void actionCloseButton();

    QLabel* titleTextField = nullptr;
    QLabel* messageTextField = nullptr;
    TBNPressButton* closeButton = nullptr;

  private:
    bool large_ = false;
};

class TBNMessagePopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr double kSelfCloseSeconds = 15;
    explicit TBNMessagePopoverViewController(QWidget* parent = nullptr);
    QString identifier() const override { return "TBNMessagePopoverViewController"; }
    // Call before the page is shown.
    void updateTitle(const QString& title, const QString& message, const QString& buttonTitle,
                     bool progress);
    // Without progress the page closes itself 15 s after it came on screen.
    void didShowViewControolerWithTimeAnimation(double seconds) override;

    QLabel* titleTextField = nullptr;
    QLabel* messageTextField = nullptr;
    QProgressBar* progressIndicator = nullptr;
    TBNPressButton* buttonShort = nullptr;
    TBNPressButton* buttonLong = nullptr;

  private:
    bool progress_ = false;
};

// Where a new backup goes: "lumvane_yyMMdd", or with " (1)", " (2)", ... when a backup of
// that name already is in `folder`. The calendar year, so late December keeps its year.
QString proposedBackupName(const QString& folder, const QDate& today);

class TBNBackupDatabasePopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr double kSelfCloseSeconds = 300;
    explicit TBNBackupDatabasePopoverViewController(QWidget* parent = nullptr);
    QString identifier() const override { return "TBNBackupDatabasePopoverViewController"; }
    bool isPriorityViewController() const override { return true; }
    void setReply(TBNUIServiceProtocol::RestoreDatabaseReply reply) {
        answer_.setReply(std::move(reply));
    }

    void actionSelectLocationButton();
    void actionBackupButton();
    void actionCancelButton();
    QString backupFileName;

    QLabel* locationTextField = nullptr;
    TBNPressButton* selectLocationButton = nullptr;
    TBNPressButton* cancelButton = nullptr;
    TBNPressButton* backupButton = nullptr;

  protected:
    void closedWithoutAnswer() override { answer_.give(std::nullopt); }

  private:
    ui::PageAnswer<std::string> answer_;
};

class TBNRestoreDatabasePopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr double kSelfCloseSeconds = 300;
    explicit TBNRestoreDatabasePopoverViewController(QWidget* parent = nullptr);
    QString identifier() const override { return "TBNRestoreDatabasePopoverViewController"; }
    bool isPriorityViewController() const override { return true; }
    void setReply(TBNUIServiceProtocol::RestoreDatabaseReply reply) {
        answer_.setReply(std::move(reply));
    }

    void actionSelectLocationButton();
    void actionRestoreButton();
    void actionCancelButton();

    QLabel* locationTextField = nullptr;
    TBNPressButton* selectLocationButton = nullptr;
    TBNPressButton* cancelButton = nullptr;
    TBNPressButton* restoreButton = nullptr;

  protected:
    void closedWithoutAnswer() override { answer_.give(std::nullopt); }

  private:
    ui::PageAnswer<std::string> answer_;
};

}  // namespace lumvane
