#include "ui/Pages.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>

#include "idl/settings.h"
#include "runtime/TBNUtil.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"
#include "ui/PageEnvironment.h"
#include "ui/SettingsObserver.h"
#include "ui/TBNUIHelper.h"

namespace lumvane {

namespace {

constexpr const char* kTag = "ui|popover";
constexpr double kFade = 0.3;

QHBoxLayout* buttonRow(std::initializer_list<QWidget*> buttons) {
    auto* row = new QHBoxLayout;
    row->setSpacing(ui::kPageSpacing);
    row->addStretch(1);
    for (QWidget* b : buttons) row->addWidget(b);
    return row;
}

bool firstPhoneOnline() {
    TBNSettings* settings = ui::environment().settings;
    if (!settings) return false;
    auto device = settings->firstPairedDevice();
    return device && device->online();
}

QString fromStd(const std::optional<std::string>& text) {
    return text ? QString::fromStdString(*text) : QString();
}

// The page style draws the box without the platform's drop-down button, whose square
// frame cut into the rounded corner; the arrow is drawn here instead.
class ArrowComboBox : public QComboBox {
  public:
    using QComboBox::QComboBox;

  protected:
    void paintEvent(QPaintEvent* event) override {
        QComboBox::paintEvent(event);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x1d, 0x2b, 0x2e));
        const QPointF c(width() - 14.0, height() / 2.0);
        const QPointF arrow[3] = {c + QPointF(-4.5, -2.5), c + QPointF(4.5, -2.5),
                                  c + QPointF(0, 3.0)};
        painter.drawPolygon(arrow, 3);
    }
};

}  // namespace

// ---- Fading page ----------------------------------------------------------------------

TBNFadingPage::TBNFadingPage(QWidget* parent) : TBNPopoverViewController(parent) {
    setObjectName("page");
    ui::applyPageStyle(this);
    setFixedWidth(ui::kPageWidth);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    pageBox = new QFrame(this);
    // The box, not the first text field, takes the focus when the window opens: a field
    // that takes the focus counts as the user's touch.
    pageBox->setFocusPolicy(Qt::StrongFocus);
    auto* box = new QVBoxLayout(pageBox);
    box->setContentsMargins(ui::kPageMargin, ui::kPageMargin, ui::kPageMargin, ui::kPageMargin);
    box->setSpacing(ui::kPageSpacing);
    outer->addWidget(pageBox);
    pageBox->installEventFilter(this);
    // Shown by the fade-in once the page is on screen.
    pageBox->hide();
}

QVBoxLayout* TBNFadingPage::content() const {
    return static_cast<QVBoxLayout*>(pageBox->layout());
}

bool TBNFadingPage::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest) fitHostLater();
    return TBNPopoverViewController::event(event);
}

bool TBNFadingPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pageBox && event->type() == QEvent::LayoutRequest) fitHostLater();
    return TBNPopoverViewController::eventFilter(watched, event);
}

void TBNFadingPage::fitHostLater() {
    if (fitPending_) return;
    fitPending_ = true;
    // Once the layouts have settled.
    QMetaObject::invokeMethod(
        this,
        [this] {
            fitPending_ = false;
            fitHostToContent();
        },
        Qt::QueuedConnection);
}

void TBNFadingPage::fitHostToContent() {
    // Only while shown: once its hiding has started the window may go at any time.
    TBNPopoverHost* host = delegate() ? parentPopoverController() : nullptr;
    if (!host) return;
    const QSize wanted(width(),
                       heightForWidth(width()) > 0 ? heightForWidth(width()) : sizeHint().height());
    if (host->contentSize() != wanted) host->setContentSize(wanted);
}

QList<QWidget*> TBNFadingPage::fadingViews() const {
    QList<QWidget*> views{pageBox};
    views.append(extraFadingViews);
    return views;
}

void TBNFadingPage::didShowViewControolerWithTimeAnimation(double seconds) {
    TBN_LOG_DEBUG(kTag, "{} shown", identifier().toStdString());
    fadeInViews({pageBox}, seconds, [this] { didFadeIn(); });
}

void TBNFadingPage::willHideViewControolerWithTimeAnimation(double seconds) {
    TBN_LOG_DEBUG(kTag, "{} hides", identifier().toStdString());
    willFadeOut();
    fadeOutViews(fadingViews(), seconds, [this] {
        if (!userClosed) closedWithoutAnswer();
    });
}

// ---- Site icon ------------------------------------------------------------------------

TBNSiteIconView::TBNSiteIconView(QWidget* parent) : QLabel(parent) {
    setFixedSize(44, 44);
    setAlignment(Qt::AlignCenter);
    setStyleSheet(
        "background: rgb(242,242,245); border: 1px solid rgb(204,204,204); border-radius: 8px;");
}

void TBNSiteIconView::showSite(const std::string& siteUrl) {
    if (!TBNUtil::validateUrl(siteUrl)) {
        clear();
        return;
    }
    QPointer<TBNSiteIconView> self(this);
    TBNUIHelper::faviconBySiteUrl(siteUrl, [self](const QPixmap& icon) {
        if (self) {
            self->setPixmap(icon.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        }
    });
}

// ---- Choose account -------------------------------------------------------------------

TBNChooseAccountPopoverViewController::TBNChooseAccountPopoverViewController(QWidget* parent)
    : TBNFadingPage(parent) {
    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    iconImageView = new TBNSiteIconView(pageBox);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    siteTextField = ui::titleLabel(ui::text("CHOOSE_ACCOUNT_TITLE"), pageBox);
    titles->addWidget(siteTextField);
    titles->addWidget(ui::messageLabel(ui::text("CHOOSE_ACCOUNT_MESSAGE"), pageBox));
    header->addWidget(iconImageView, 0, Qt::AlignTop);
    header->addLayout(titles, 1);
    content()->addLayout(header);

    accountsComboBox = new ArrowComboBox(pageBox);
    accountsComboBox->setMinimumHeight(32);
    content()->addWidget(accountsComboBox);
    connect(accountsComboBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { selectedIndex_ = index; });

    cancelButton =
        new TBNPressButton(ui::text("BUTTON_CANCEL"), pageBox, TBNPressButton::Role::Secondary);
    okButton = new TBNPressButton(ui::text("CHOOSE_ACCOUNT_OK_BUTTON"), pageBox);
    okButton->setDefault(true);
    content()->addSpacing(4);
    content()->addLayout(buttonRow({cancelButton, okButton}));
    connect(okButton, &QPushButton::clicked, this, [this] { actionOkButton(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { actionCancelButton(); });

    extraFadingViews = {iconImageView};
    closeAfter(kSelfCloseSeconds);
}

void TBNChooseAccountPopoverViewController::setAccounts(const std::vector<std::string>& accounts,
                                                        const std::string& siteUrl,
                                                        const std::string& siteName) {
    accounts_ = accounts;
    if (!siteName.empty()) siteTextField->setText(QString::fromStdString(siteName));
    accountsComboBox->clear();
    for (const auto& account : accounts_) {
        accountsComboBox->addItem(QString::fromStdString(account));
    }
    accountsComboBox->setCurrentIndex(accounts_.empty() ? -1 : 0);
    selectedIndex_ = accounts_.empty() ? -1 : 0;
    iconImageView->showSite(siteUrl);
}

void TBNChooseAccountPopoverViewController::actionOkButton() {
    if (selectedIndex_ < 0 || selectedIndex_ >= static_cast<int64_t>(accounts_.size())) return;
    answer_.give(static_cast<uint64_t>(selectedIndex_));
    userClosed = true;
    closePage();
}

void TBNChooseAccountPopoverViewController::actionCancelButton() {
    answer_.give(std::nullopt);
    userClosed = true;
    closePage();
}

// ---- Save account ---------------------------------------------------------------------

TBNSaveAccountPopoverViewController::TBNSaveAccountPopoverViewController(QWidget* parent)
    : TBNFadingPage(parent), logic_(ui::environment().clock, [this](std::function<void()> fn) {
          ui::onMain(this, std::move(fn));
      }) {
    titleTextField = ui::titleLabel(ui::text("SAVE_TEXTFIELD_TITLE"), pageBox);
    content()->addWidget(titleTextField);

    auto* site = new QHBoxLayout;
    site->setSpacing(12);
    iconImageView = new TBNSiteIconView(pageBox);
    siteUrlTextField = new TBNTextField(pageBox);
    siteUrlTextField->setPlaceholderText(ui::text("SAVE_SITE_PLACEHOLDER"));
    site->addWidget(iconImageView);
    site->addWidget(siteUrlTextField, 1);
    content()->addLayout(site);

    accountTextField = new TBNTextField(pageBox);
    accountTextField->setPlaceholderText(ui::text("SAVE_ACCOUNT_PLACEHOLDER"));
    content()->addWidget(accountTextField);

    auto* passwordRow = new QHBoxLayout;
    passwordRow->setSpacing(ui::kPageSpacing);
    passwordTextField = new TBNTextField(pageBox);
    passwordSecureTextField = new TBNSecureTextField(pageBox);
    passwordTextField->setPlaceholderText(ui::text("SAVE_PASSWORD_PLACEHOLDER"));
    passwordSecureTextField->setPlaceholderText(ui::text("SAVE_PASSWORD_PLACEHOLDER"));
    showPasswordButton = new TBNPressButton(ui::text("SAVE_SHOW_PASSWORD"), pageBox,
                                            TBNPressButton::Role::Secondary);
    hidePasswordButton = new TBNPressButton(ui::text("SAVE_HIDE_PASSWORD"), pageBox,
                                            TBNPressButton::Role::Secondary);
    passwordRow->addWidget(passwordTextField, 1);
    passwordRow->addWidget(passwordSecureTextField, 1);
    passwordRow->addWidget(showPasswordButton);
    passwordRow->addWidget(hidePasswordButton);
    content()->addLayout(passwordRow);

    auto* secureRow = new QHBoxLayout;
    secureSwitch = new TBNSwitch(pageBox);
    secureLabel_ = ui::messageLabel(ui::text("SAVE_SECURE_LABEL"), pageBox);
    secureRow->addWidget(secureSwitch);
    secureRow->addWidget(secureLabel_, 1);
    content()->addLayout(secureRow);

    waitingBox = new QFrame(pageBox);
    waitingBox->setProperty("role", "box");
    auto* waiting = new QVBoxLayout(waitingBox);
    waiting->setContentsMargins(12, 10, 12, 10);
    waitingTextField = ui::messageLabel(ui::text("SAVE_WAITING_TEXT"), waitingBox);
    progressIndicator = new QProgressBar(waitingBox);
    progressIndicator->setTextVisible(false);
    progressIndicator->setRange(0, 0);
    waiting->addWidget(waitingTextField);
    waiting->addWidget(progressIndicator);
    content()->addWidget(waitingBox);

    autoSaveHint = new QLabel(ui::text("SAVE_AUTOSAVE_HINT"), pageBox);
    autoSaveHint->setProperty("role", "hint");
    autoSaveHint->setWordWrap(true);
    content()->addWidget(autoSaveHint);

    cancelButton =
        new TBNPressButton(ui::text("BUTTON_CANCEL"), pageBox, TBNPressButton::Role::Secondary);
    oneCancelButton =
        new TBNPressButton(ui::text("BUTTON_CANCEL"), pageBox, TBNPressButton::Role::Secondary);
    saveButton = new TBNPressButton(ui::text("SAVE_BUTTON"), pageBox);
    content()->addSpacing(4);
    content()->addLayout(buttonRow({oneCancelButton, cancelButton, saveButton}));

    connect(saveButton, &QPushButton::clicked, this, [this] { actionSaveButton(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { actionCancelButton(); });
    connect(oneCancelButton, &QPushButton::clicked, this, [this] { actionCancelButton(); });
    connect(showPasswordButton, &QPushButton::clicked, this,
            [this] { actionShowPasswordButton(); });
    connect(hidePasswordButton, &QPushButton::clicked, this,
            [this] { actionHidePasswordButton(); });
    connect(secureSwitch, &QAbstractButton::toggled, this, [this](bool on) {
        logic_.userTouched();
        logic_.secureChanged(on);
    });

    passwordTextField->hide();
    hidePasswordButton->hide();
    oneCancelButton->hide();
    extraFadingViews = {iconImageView};

    logic_.onChange = [this] { showLayout(isVisible()); };
    logic_.onAutoSave = [this] { actionSaveButton(); };
    installEditingCallbacks();
    observer_ = ui::SettingsObserver::observe(
        ui::environment().settings, this, [this](TBNSettingsComponents components) {
            if (components &
                (TBNSettingsComponentPairedDeviceInfo | TBNSettingsComponentPairedDevices)) {
                updateUI(true);
            }
        });
    closeAfter(kSelfCloseSeconds);
}

TBNSaveAccountPopoverViewController::~TBNSaveAccountPopoverViewController() {
    logic_.onChange = nullptr;
    logic_.onAutoSave = nullptr;
    logic_.stop();
}

void TBNSaveAccountPopoverViewController::setQuestion(const TBNSaveAccountQuestion& question) {
    logic_.setQuestion(question);
    // The secure flag is a choice for new logins only.
    secureSwitch->setEnabled(!question.isUpdate);
    secureLabel_->setEnabled(!question.isUpdate);
    secureSwitch->setChecked(false);
    saveButton->setTitle(ui::text(logic_.saveButtonKey()));
    saveButton->setAlternateTitle(ui::text(logic_.saveButtonKey()));
    siteUrlTextField->setText(QString::fromStdString(logic_.siteName()));
    accountTextField->setText(QString::fromStdString(logic_.account()));
    passwordTextField->setText(QString::fromStdString(logic_.password()));
    passwordSecureTextField->setText(QString::fromStdString(logic_.password()));
    for (QLineEdit* field : std::initializer_list<QLineEdit*>{
             siteUrlTextField, accountTextField, passwordTextField, passwordSecureTextField}) {
        field->setCursorPosition(0);
    }
    // Setting the switch above counted as a touch; the mode follows the question.
    logic_.setQuestion(question);
    updateUI(false);
}

void TBNSaveAccountPopoverViewController::installEditingCallbacks() {
    auto began = [this](TBNTextField* field) {
        logic_.userTouched();
        field->setCursorPosition(static_cast<int>(field->text().size()));
        return true;
    };
    siteUrlTextField->didBeginEditing([this, began](TBNTextField* field) {
        began(field);
        if (!logic_.siteUrl().empty()) {
            field->setText(QString::fromStdString(logic_.siteUrl()));
            field->setCursorPosition(static_cast<int>(field->text().size()));
        }
        return true;
    });
    siteUrlTextField->didEndEditing([this](TBNTextField* field) {
        logic_.siteEdited(field->text().toStdString());
        field->setText(QString::fromStdString(logic_.siteName()));
        iconImageView->showSite(logic_.siteUrl());
    });
    accountTextField->didBeginEditing(began);
    accountTextField->didEndEditing(
        [this](TBNTextField* field) { logic_.accountEdited(field->text().toStdString()); });
    for (TBNTextField* field : {static_cast<TBNTextField*>(passwordTextField),
                                static_cast<TBNTextField*>(passwordSecureTextField)}) {
        field->didBeginEditing(began);
        field->didEndEditing([this](TBNTextField* edited) {
            logic_.passwordEdited(edited->text().toStdString());
            TBNTextField* other = edited == passwordTextField
                                      ? static_cast<TBNTextField*>(passwordSecureTextField)
                                      : passwordTextField;
            other->setText(edited->text());
        });
    }
}

void TBNSaveAccountPopoverViewController::updateUI(bool animated) {
    logic_.setPhoneOnline(firstPhoneOnline());
    showWaitingBox(animated);
    iconImageView->showSite(logic_.siteUrl());
}

void TBNSaveAccountPopoverViewController::showLayout(bool animated) {
    titleTextField->setText(ui::text(logic_.titleKey()));
    const bool autosave = logic_.autosave();
    autoSaveHint->setVisible(autosave && logic_.phoneOnline());
    saveButton->setEnabled(logic_.phoneOnline());
    if (autosave && oneCancelButton->isHidden()) {
        if (animated) {
            fadeOutViews({saveButton, cancelButton}, kFade);
            fadeInViews({oneCancelButton}, kFade);
        } else {
            saveButton->hide();
            cancelButton->hide();
            oneCancelButton->show();
        }
    } else if (!autosave && !oneCancelButton->isHidden()) {
        if (animated) {
            fadeOutViews({oneCancelButton}, kFade);
            fadeInViews({saveButton, cancelButton}, kFade);
        } else {
            oneCancelButton->hide();
            saveButton->show();
            cancelButton->show();
        }
    }
}

void TBNSaveAccountPopoverViewController::showWaitingBox(bool animated) {
    const bool online = logic_.phoneOnline();
    if (online && waitingShown_) {
        waitingShown_ = false;
        // The window follows the page's size by itself (fitHostToContent).
        if (animated) {
            fadeOutViews({waitingBox}, kFade, [this] { progressIndicator->setRange(0, 1); });
        } else {
            progressIndicator->setRange(0, 1);
            waitingBox->hide();
        }
    } else if (!online && !waitingShown_) {
        waitingShown_ = true;
        progressIndicator->setRange(0, 0);
        if (animated) {
            fadeInViews({waitingBox}, kFade);
        } else {
            waitingBox->show();
        }
    }
}

void TBNSaveAccountPopoverViewController::actionSaveButton() {
    // A field being edited ends its editing first, so its text is taken.
    if (QWidget* focused = focusWidget(); focused && focused != pageBox) focused->clearFocus();
    auto answer = logic_.answer();
    if (!answer) return;
    logic_.stop();
    userClosed = true;
    answer_.give(std::move(answer));
    closePage();
}

void TBNSaveAccountPopoverViewController::actionCancelButton() {
    if (!firstPhoneOnline()) {
        // No more save questions until the phone is back.
        if (TBNSettings* settings = ui::environment().settings) settings->setSkipUntilOnline(true);
    }
    logic_.stop();
    userClosed = true;
    answer_.give(std::nullopt);
    closePage();
}

void TBNSaveAccountPopoverViewController::actionShowPasswordButton() {
    showPasswordButton->hide();
    hidePasswordButton->show();
    passwordTextField->setText(passwordSecureTextField->text());
    passwordTextField->show();
    passwordSecureTextField->hide();
    logic_.userTouched();
}

void TBNSaveAccountPopoverViewController::actionHidePasswordButton() {
    hidePasswordButton->hide();
    showPasswordButton->show();
    passwordSecureTextField->setText(passwordTextField->text());
    passwordSecureTextField->show();
    passwordTextField->hide();
}

// ---- Guide ----------------------------------------------------------------------------

TBNGuidePopoverViewController::TBNGuidePopoverViewController(bool large, QWidget* parent)
    : TBNFadingPage(parent), large_(large) {
    if (large_) setFixedWidth(ui::kPageWidth + 120);
    titleTextField = ui::titleLabel(ui::text("GUIDE_WELCOME_TITLE"), pageBox);
    messageTextField = ui::messageLabel(ui::text("GUIDE_WELCOME_MESSAGE"), pageBox);
    closeButton =
        new TBNPressButton(ui::text("BUTTON_CLOSE"), pageBox, TBNPressButton::Role::Secondary);
    content()->addWidget(titleTextField);
    content()->addWidget(messageTextField);
    content()->addLayout(buttonRow({closeButton}));
    connect(closeButton, &QPushButton::clicked, this, [this] { actionCloseButton(); });
    closeAfter(kSelfCloseSeconds);
}

void TBNGuidePopoverViewController::updateTitle(const QString& title, const QString& message) {
    if (!title.isEmpty()) titleTextField->setText(title);
    if (!message.isEmpty()) messageTextField->setText(message);
}

void TBNGuidePopoverViewController::actionCloseButton() {
    userClosed = true;
    closePage();
}

// ---- Message --------------------------------------------------------------------------

TBNMessagePopoverViewController::TBNMessagePopoverViewController(QWidget* parent)
    : TBNFadingPage(parent) {
    titleTextField = ui::titleLabel(QString(), pageBox);
    messageTextField = ui::messageLabel(QString(), pageBox);
    progressIndicator = new QProgressBar(pageBox);
    progressIndicator->setTextVisible(false);
    progressIndicator->setRange(0, 0);
    buttonShort = new TBNPressButton(QString(), pageBox, TBNPressButton::Role::Secondary);
    buttonLong = new TBNPressButton(QString(), pageBox, TBNPressButton::Role::Secondary);
    buttonLong->setMinimumWidth(160);
    content()->addWidget(titleTextField);
    content()->addWidget(messageTextField);
    content()->addWidget(progressIndicator);
    content()->addLayout(buttonRow({buttonShort, buttonLong}));
    buttonShort->hide();
    buttonLong->hide();
    progressIndicator->hide();
    connect(buttonShort, &QPushButton::clicked, this, [this] { closePage(); });
    connect(buttonLong, &QPushButton::clicked, this, [this] { closePage(); });
}

void TBNMessagePopoverViewController::updateTitle(const QString& title, const QString& message,
                                                  const QString& buttonTitle, bool progress) {
    if (!title.isEmpty()) titleTextField->setText(title);
    if (!message.isEmpty()) messageTextField->setText(message);
    if (!buttonTitle.isEmpty()) {
        TBNPressButton* button = buttonTitle.size() < 9 ? buttonShort : buttonLong;
        button->setTitle(buttonTitle);
        button->setAlternateTitle(buttonTitle);
        button->show();
    }
    progressIndicator->setVisible(progress);
    progress_ = progress;
}

void TBNMessagePopoverViewController::didShowViewControolerWithTimeAnimation(double seconds) {
    TBNFadingPage::didShowViewControolerWithTimeAnimation(seconds);
    // Counted from the showing, so a page kept waiting in the queue is still read. A page
    // with progress stays until it is closed from outside.
    if (!progress_) closeAfter(kSelfCloseSeconds);
}

// ---- Backup and restore ---------------------------------------------------------------

QString proposedBackupName(const QString& folder, const QDate& today) {
    const QString base = "lumvane_" + today.toString("yyMMdd");
    const QDir dir(folder);
    auto exists = [&](const QString& name) {
        return QFileInfo::exists(dir.filePath(name + ".lmbk"));
    };
    if (!exists(base)) return base;
    for (int n = 1;; ++n) {
        const QString name = QString("%1 (%2)").arg(base).arg(n);
        if (!exists(name)) return name;
    }
}

namespace {

struct LocationRow {
    QLabel* field;
    TBNPressButton* button;
};

LocationRow makeLocationRow(QFrame* box, QVBoxLayout* layout) {
    auto* row = new QHBoxLayout;
    row->setSpacing(ui::kPageSpacing);
    auto* field = new QLabel(box);
    field->setProperty("role", "message");
    field->setWordWrap(true);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse);
    field->setMinimumHeight(30);
    field->setStyleSheet(
        "background: rgba(255,255,255,0.10); border-radius: 6px; padding: 4px 8px;");
    auto* button =
        new TBNPressButton(ui::text("BUTTON_CHOOSE"), box, TBNPressButton::Role::Secondary);
    row->addWidget(field, 1);
    row->addWidget(button);
    layout->addLayout(row);
    return {field, button};
}

void showLocation(QLabel* field, const QString& path) {
    field->setProperty("path", path);
    field->setText(path.isEmpty() ? ui::text("BACKUP_NO_LOCATION")
                                  : QDir::toNativeSeparators(path));
}

QString locationOf(const QLabel* field) {
    return field->property("path").toString();
}

const QString kBackupFilter = "Lumvane backups (*.lmbk);;All files (*)";

}  // namespace

TBNBackupDatabasePopoverViewController::TBNBackupDatabasePopoverViewController(QWidget* parent)
    : TBNFadingPage(parent) {
    content()->addWidget(ui::titleLabel(ui::text("BACKUP_TITLE"), pageBox));
    content()->addWidget(ui::messageLabel(ui::text("BACKUP_MESSAGE"), pageBox));
    auto row = makeLocationRow(pageBox, content());
    locationTextField = row.field;
    selectLocationButton = row.button;
    cancelButton =
        new TBNPressButton(ui::text("BUTTON_CANCEL"), pageBox, TBNPressButton::Role::Secondary);
    backupButton = new TBNPressButton(ui::text("BACKUP_BUTTON"), pageBox);
    content()->addSpacing(4);
    content()->addLayout(buttonRow({cancelButton, backupButton}));
    connect(selectLocationButton, &QPushButton::clicked, this,
            [this] { actionSelectLocationButton(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { actionCancelButton(); });
    connect(backupButton, &QPushButton::clicked, this, [this] { actionBackupButton(); });

    TBNSettings* settings = ui::environment().settings;
    const QString folder = settings ? fromStd(settings->backupLocation()) : QString();
    backupFileName = proposedBackupName(folder, QDate::currentDate());
    if (!folder.isEmpty()) {
        showLocation(locationTextField, QDir(folder).filePath(backupFileName + ".lmbk"));
        backupButton->setEnabled(true);
    } else {
        showLocation(locationTextField, {});
        backupButton->setEnabled(false);
    }
    closeAfter(kSelfCloseSeconds);
}

void TBNBackupDatabasePopoverViewController::actionSelectLocationButton() {
    TBNSettings* settings = ui::environment().settings;
    ui::FileQuestion q;
    q.kind = ui::FileQuestion::Kind::SaveFile;
    q.title = ui::text("BACKUP_SAVEPANEL_TITLE");
    q.directory = settings ? fromStd(settings->backupLocation()) : QString();
    q.proposedName = backupFileName + ".lmbk";
    q.filter = kBackupFilter;
    auto path = ui::environment().chooseFile(this, q);
    if (!path) return;
    if (settings) settings->setBackupLocation(QFileInfo(*path).absolutePath().toStdString());
    showLocation(locationTextField, *path);
    backupButton->setEnabled(true);
}

void TBNBackupDatabasePopoverViewController::actionBackupButton() {
    const QString path = locationOf(locationTextField);
    if (path.isEmpty()) return;
    answer_.give(path.toStdString());
    userClosed = true;
    closePage();
}

void TBNBackupDatabasePopoverViewController::actionCancelButton() {
    answer_.give(std::nullopt);
    userClosed = true;
    closePage();
}

TBNRestoreDatabasePopoverViewController::TBNRestoreDatabasePopoverViewController(QWidget* parent)
    : TBNFadingPage(parent) {
    content()->addWidget(ui::titleLabel(ui::text("RESTORE_TITLE"), pageBox));
    content()->addWidget(ui::messageLabel(ui::text("RESTORE_MESSAGE"), pageBox));
    auto row = makeLocationRow(pageBox, content());
    locationTextField = row.field;
    selectLocationButton = row.button;
    cancelButton =
        new TBNPressButton(ui::text("BUTTON_CANCEL"), pageBox, TBNPressButton::Role::Secondary);
    restoreButton = new TBNPressButton(ui::text("RESTORE_BUTTON"), pageBox);
    content()->addSpacing(4);
    content()->addLayout(buttonRow({cancelButton, restoreButton}));
    connect(selectLocationButton, &QPushButton::clicked, this,
            [this] { actionSelectLocationButton(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { actionCancelButton(); });
    connect(restoreButton, &QPushButton::clicked, this, [this] { actionRestoreButton(); });

    TBNSettings* settings = ui::environment().settings;
    const QString last = settings ? fromStd(settings->lastBackupFilePath()) : QString();
    if (!last.isEmpty() && QFileInfo(last).isFile()) {
        showLocation(locationTextField, last);
        restoreButton->setEnabled(true);
    } else {
        showLocation(locationTextField, {});
        restoreButton->setEnabled(false);
    }
    closeAfter(kSelfCloseSeconds);
}

void TBNRestoreDatabasePopoverViewController::actionSelectLocationButton() {
    TBNSettings* settings = ui::environment().settings;
    ui::FileQuestion q;
    q.kind = ui::FileQuestion::Kind::OpenFile;
    q.title = ui::text("RESTORE_LOADPANEL_TITLE");
    q.directory = settings ? fromStd(settings->backupLocation()) : QString();
    q.filter = kBackupFilter;
    auto path = ui::environment().chooseFile(this, q);
    if (!path) return;
    showLocation(locationTextField, *path);
    restoreButton->setEnabled(true);
    // Choosing a file restores it without a second click.
    actionRestoreButton();
}

void TBNRestoreDatabasePopoverViewController::actionRestoreButton() {
    const QString path = locationOf(locationTextField);
    if (path.isEmpty()) return;
    answer_.give(path.toStdString());
    userClosed = true;
    closePage();
}

void TBNRestoreDatabasePopoverViewController::actionCancelButton() {
    answer_.give(std::nullopt);
    userClosed = true;
    closePage();
}

}  // namespace lumvane
