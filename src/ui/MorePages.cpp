#include "ui/MorePages.h"

#include <QDateTime>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <thread>

#include "core/pasteboard/Pasteboard.h"
#include "idl/settings.h"
#include "runtime/TBNUtil.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"
#include "ui/DeviceCell.h"
#include "ui/DriverSetup.h"
#include "ui/PageEnvironment.h"
#include "ui/SettingsObserver.h"
#include "ui/TBNUIHelper.h"

namespace lumvane {

namespace {

constexpr const char* kTag = "ui|popover";
constexpr double kFade = 0.3;
// The rows of the phones found nearby.
constexpr int kDeviceRowHeight = 50;

QHBoxLayout* buttonRow(std::initializer_list<QWidget*> buttons) {
    auto* row = new QHBoxLayout;
    row->setSpacing(ui::kPageSpacing);
    row->addStretch(1);
    for (QWidget* b : buttons) row->addWidget(b);
    return row;
}

struct DriverTexts {
    const char* title;
    const char* message;
    const char* button;
    const char* working;
};

DriverTexts driverTexts(TBNInstallDriverViewType type) {
    switch (type) {
        case TBNInstallDriverViewType::Start:
            return {"RUN_U2F_DRIVER_TITLE", "RUN_U2F_DRIVER_MESSAGE", "RUN_U2F_DRIVER_BUTTON",
                    "RUN_U2F_DRIVER_PROCESSING"};
        case TBNInstallDriverViewType::Update:
            return {"UPDATE_U2F_DRIVER_TITLE", "UPDATE_U2F_DRIVER_MESSAGE",
                    "UPDATE_U2F_DRIVER_BUTTON", "UPDATE_U2F_DRIVER_PROCESSING"};
        case TBNInstallDriverViewType::Install:
            break;
    }
    return {"INSTALL_U2F_DRIVER_TITLE", "INSTALL_U2F_DRIVER_MESSAGE", "INSTALL_U2F_DRIVER_BUTTON",
            "INSTALL_U2F_DRIVER_PROCESSING"};
}

// A star the user clicks; drawn lit or unlit.
class StarButton : public QAbstractButton {
  public:
    explicit StarButton(QWidget* parent) : QAbstractButton(parent) {
        setCheckable(true);
        setFixedSize(32, 32);
        setCursor(Qt::PointingHandCursor);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPolygonF star;
        const QPointF c(16, 16.5);
        for (int i = 0; i < 10; ++i) {
            const double r = i % 2 == 0 ? 14.0 : 6.0;
            const double a = -M_PI / 2 + i * M_PI / 5;
            star << QPointF(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        }
        p.setPen(QPen(isChecked() ? TBNUIHelper::yellowColor() : QColor(255, 255, 255, 150), 1.5));
        p.setBrush(isChecked() ? TBNUIHelper::yellowColor() : QColor(Qt::transparent));
        p.drawPolygon(star);
    }
};

QSlider* slider(QWidget* parent, int min, int max) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setRange(min, max);
    s->setMinimumWidth(150);
    return s;
}

QLabel* valueLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setMinimumWidth(40);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QLineEdit* passwordField(QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setFont(QFont("DejaVu Sans Mono", 12));
    field->setMinimumHeight(34);
    return field;
}

QFrame* box(QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setProperty("role", "box");
    return frame;
}

TBNSettings* settings() {
    return ui::environment().settings;
}

// The switches of a page, row by row: a label and its switch on the right.
void addSwitchRow(QGridLayout* grid, int row, const QString& label, TBNSwitch* sw) {
    grid->setColumnStretch(0, 1);
    grid->addWidget(ui::messageLabel(label), row, 0);
    grid->addWidget(sw, row, 1, Qt::AlignRight);
}

}  // namespace

// ---- Install driver -------------------------------------------------------------------

TBNInstallDriverPopoverViewController::TBNInstallDriverPopoverViewController(QWidget* parent)
    : TBNFadingPage(parent) {
    titleTextField = ui::titleLabel(QString(), pageBox);
    messageTextField = ui::messageLabel(QString(), pageBox);
    updatedTextField = ui::messageLabel(ui::text("U2F_DRIVER_DONE"), pageBox);
    cancelButton =
        new TBNPressButton(ui::text("BUTTON_CANCEL"), pageBox, TBNPressButton::Role::Secondary);
    installButton = new TBNPressButton(QString(), pageBox);
    closeButton =
        new TBNPressButton(ui::text("BUTTON_CLOSE"), pageBox, TBNPressButton::Role::Secondary);
    content()->addWidget(titleTextField);
    content()->addWidget(messageTextField);
    content()->addWidget(updatedTextField);
    content()->addSpacing(4);
    content()->addLayout(buttonRow({cancelButton, installButton, closeButton}));
    updatedTextField->hide();
    closeButton->hide();
    connect(installButton, &QPushButton::clicked, this, [this] { actionInstallButton(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { actionCancelButton(); });
    connect(closeButton, &QPushButton::clicked, this, [this] {
        userClosed = true;
        closed_.give(true);
        closePage();
    });
    setViewType(TBNInstallDriverViewType::Install);
}

void TBNInstallDriverPopoverViewController::setViewType(TBNInstallDriverViewType type) {
    viewType_ = type;
    const DriverTexts t = driverTexts(type);
    titleTextField->setText(ui::text(t.title));
    messageTextField->setText(ui::text(t.message));
    installButton->setTitle(ui::text(t.button));
}

void TBNInstallDriverPopoverViewController::actionInstallButton() {
    if (working_) return;
    auto setup = ui::environment().driverSetup;
    if (!setup) return;
    working_ = true;
    installButton->setEnabled(false);
    messageTextField->setText(ui::text(driverTexts(viewType_).working));
    QPointer<TBNInstallDriverPopoverViewController> self(this);
    // pkexec shows its own password dialog and may wait long for the user.
    std::thread([setup, self] {
        std::string error = setup->install();
        ui::onMain(nullptr, [self, error] {
            if (self) self->finished(error);
        });
    }).detach();
}

void TBNInstallDriverPopoverViewController::finished(const std::string& error) {
    working_ = false;
    if (!error.empty()) {
        TBN_LOG_WARN(kTag, "security-key set-up failed: {}", error);
        // The helper's words may come in lines and end with a full stop of their own: one
        // sentence per line, and the text around them adds the last full stop.
        QStringList sentences;
        for (QString line : QString::fromStdString(error).split('\n')) {
            line = line.simplified();
            if (line.isEmpty()) continue;
            if (!sentences.isEmpty() && !QString(".!?:;").contains(sentences.back().back()))
                sentences.back() += '.';
            sentences.push_back(line);
        }
        QString why = sentences.join(' ');
        while (why.endsWith('.')) why.chop(1);
        messageTextField->setText(ui::text("U2F_DRIVER_FAILED").arg(why));
        installButton->setEnabled(true);
        return;
    }
    if (const auto& start = ui::environment().startSecurityKey) start();
    fadeOutViews({messageTextField, cancelButton, installButton}, kFade, [this] {
        fadeInViews({updatedTextField, closeButton}, kFade);
        closeAfter(kDoneCloseSeconds);
    });
}

void TBNInstallDriverPopoverViewController::actionCancelButton() {
    userClosed = true;
    closed_.give(true);
    closePage();
}

// ---- Rate -----------------------------------------------------------------------------

TBNRatePopoverViewController::TBNRatePopoverViewController(QWidget* parent)
    : TBNFadingPage(parent) {
    titleTextField = ui::titleLabel(ui::text("RATE_TITLE"), pageBox);
    questionTextField = ui::messageLabel(ui::text("RATE_QUESTION"), pageBox);
    rateTextField = ui::messageLabel(ui::text("RATE_STARS"), pageBox);
    doneTextField = ui::messageLabel(ui::text("RATE_DONE"), pageBox);
    rateView = new QWidget(pageBox);
    auto* starRow = new QHBoxLayout(rateView);
    starRow->setContentsMargins(0, 0, 0, 0);
    starRow->setSpacing(6);
    starRow->addStretch(1);
    for (int i = 1; i <= 5; ++i) {
        auto* star = new StarButton(rateView);
        star->setObjectName(QString("star%1").arg(i));
        connect(star, &QAbstractButton::clicked, this, [this, i] { updateRate(i); });
        starRow->addWidget(star);
        stars.push_back(star);
    }
    starRow->addStretch(1);
    buttonNo =
        new TBNPressButton(ui::text("RATE_NO_BUTTON"), pageBox, TBNPressButton::Role::Secondary);
    buttonLater =
        new TBNPressButton(ui::text("RATE_LATER_BUTTON"), pageBox, TBNPressButton::Role::Secondary);
    buttonCancel =
        new TBNPressButton(ui::text("BUTTON_CANCEL"), pageBox, TBNPressButton::Role::Secondary);
    buttonReview = new TBNPressButton(ui::text("RATE_REVIEW_BUTTON"), pageBox);
    buttonRate = new TBNPressButton(ui::text("RATE_RATE_BUTTON"), pageBox);
    content()->addWidget(titleTextField);
    content()->addWidget(questionTextField);
    content()->addWidget(rateTextField);
    content()->addWidget(rateView);
    content()->addWidget(doneTextField);
    content()->addSpacing(4);
    content()->addLayout(
        buttonRow({buttonNo, buttonLater, buttonCancel, buttonRate, buttonReview}));
    for (QWidget* w :
         {static_cast<QWidget*>(rateTextField), rateView, static_cast<QWidget*>(buttonCancel),
          static_cast<QWidget*>(doneTextField), static_cast<QWidget*>(buttonReview)}) {
        w->hide();
    }
    connect(buttonNo, &QPushButton::clicked, this, [this] { actionNoButton(); });
    connect(buttonLater, &QPushButton::clicked, this, [this] { actionLaterButton(); });
    connect(buttonRate, &QPushButton::clicked, this, [this] { actionRateButton(); });
    connect(buttonCancel, &QPushButton::clicked, this, [this] { actionCancelButton(); });
    connect(buttonReview, &QPushButton::clicked, this, [this] { actionReviewButton(); });
    updateRate(0);
    closeAfter(kSelfCloseSeconds);
}

void TBNRatePopoverViewController::updateRate(uint64_t rate) {
    rate_ = rate;
    for (size_t i = 0; i < stars.size(); ++i) stars[i]->setChecked(i < rate);
}

void TBNRatePopoverViewController::actionNoButton() {
    ui::environment().recordRate(ui::PageEnvironment::RateRecord::Cancel);
    userClosed = true;
    closePage();
}

void TBNRatePopoverViewController::actionLaterButton() {
    ui::environment().recordRate(ui::PageEnvironment::RateRecord::Skip);
    userClosed = true;
    closePage();
}

void TBNRatePopoverViewController::actionRateButton() {
    if (!ratting_) {
        ratting_ = true;
        fadeOutViews({questionTextField, buttonNo, buttonLater}, kFade, [this] {
            fadeInViews({rateTextField, rateView, buttonCancel}, kFade);
        });
        return;
    }
    if (rate_ == 0) return;
    ui::environment().sendRating(static_cast<int64_t>(std::min<uint64_t>(rate_, 5)));
    ui::environment().recordRate(ui::PageEnvironment::RateRecord::Success);
    if (rate_ > 4) {
        ratting_ = false;
        reviewing_ = true;
        fadeOutViews({rateTextField, rateView, buttonRate}, kFade, [this] {
            fadeInViews({doneTextField, buttonReview}, kFade);
        });
    } else {
        userClosed = true;
        closePage();
    }
}

void TBNRatePopoverViewController::actionCancelButton() {
    if (!reviewing_) ui::environment().recordRate(ui::PageEnvironment::RateRecord::Skip);
    userClosed = true;
    closePage();
}

void TBNRatePopoverViewController::actionReviewButton() {
    ui::environment().openUrl(kReviewUrl);
    userClosed = true;
    closePage();
}

void TBNRatePopoverViewController::willFadeOut() {
    // Closed by its own time-out or from outside: ask again later.
    if (!userClosed) ui::environment().recordRate(ui::PageEnvironment::RateRecord::Skip);
}

// ---- Password generator ---------------------------------------------------------------

TBNPasswordGeneratorPopoverViewController::TBNPasswordGeneratorPopoverViewController(
    QWidget* parent)
    : TBNFadingPage(parent), logic_(settings()) {
    content()->addWidget(ui::titleLabel(ui::text("PASSWORD_GENERATOR_VC_TITLE"), pageBox));
    passwordTextField = passwordField(pageBox);
    content()->addWidget(passwordTextField);
    auto* strengthRow = new QHBoxLayout;
    strengthPasswordTextField = new QLabel(pageBox);
    strengthPasswordTextField->setFont(TBNUIHelper::mediumFontWithSize(10.5));
    passwordRefreshButton = new TBNPressButton(ui::text("PASSWORD_GENERATOR_VC_NEW_BUTTON"),
                                               pageBox, TBNPressButton::Role::Secondary);
    passwordCopyButton = new TBNPressButton(ui::text("PASSWORD_GENERATOR_VC_COPY_BUTTON"), pageBox);
    strengthRow->addWidget(strengthPasswordTextField, 1);
    strengthRow->addWidget(passwordRefreshButton);
    strengthRow->addWidget(passwordCopyButton);
    content()->addLayout(strengthRow);

    auto* settingsBox = box(pageBox);
    auto* grid = new QGridLayout(settingsBox);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setVerticalSpacing(8);
    auto* lengthRow = new QHBoxLayout;
    lenghtSlider =
        slider(settingsBox, TBNGeneratorLogic::kMinLength, TBNGeneratorLogic::kMaxLength);
    lenghtValueTextField = valueLabel(settingsBox);
    lengthRow->addWidget(lenghtSlider, 1);
    lengthRow->addWidget(lenghtValueTextField);
    grid->addWidget(ui::messageLabel(ui::text("PASSWORD_GENERATOR_VC_LENGTH")), 0, 0);
    grid->addLayout(lengthRow, 0, 1);
    capitalizationSwitch = new TBNSwitch(settingsBox);
    digitsSwitch = new TBNSwitch(settingsBox);
    symbolsSwitch = new TBNSwitch(settingsBox);
    addSwitchRow(grid, 1, ui::text("PASSWORD_GENERATOR_VC_CAPITALS"), capitalizationSwitch);
    addSwitchRow(grid, 2, ui::text("PASSWORD_GENERATOR_VC_DIGITS"), digitsSwitch);
    addSwitchRow(grid, 3, ui::text("PASSWORD_GENERATOR_VC_SYMBOLS"), symbolsSwitch);
    // The length slider takes the room; the switches stay on the right.
    grid->setColumnStretch(0, 0);
    grid->setColumnStretch(1, 1);
    content()->addWidget(settingsBox);

    copiedTextField = new QLabel(ui::text("PASSWORD_GENERATOR_VC_COPIED"), pageBox);
    copiedTextField->setProperty("role", "hint");
    copiedTextField->setWordWrap(true);
    copiedTextField->hide();
    content()->addWidget(copiedTextField);
    closeButton =
        new TBNPressButton(ui::text("BUTTON_CLOSE"), pageBox, TBNPressButton::Role::Secondary);
    content()->addLayout(buttonRow({closeButton}));

    lenghtSlider->setValue(logic_.length());
    capitalizationSwitch->setChecked(logic_.useCapitalization());
    digitsSwitch->setChecked(logic_.useDigits());
    symbolsSwitch->setChecked(logic_.useSymbols());

    connect(lenghtSlider, &QSlider::valueChanged, this, [this](int v) { actionLenghtSlider(v); });
    connect(capitalizationSwitch, &QAbstractButton::clicked, this,
            [this] { actionCapitalizationSwitch(); });
    connect(digitsSwitch, &QAbstractButton::clicked, this, [this] { actionDigitsSwitch(); });
    connect(symbolsSwitch, &QAbstractButton::clicked, this, [this] { actionSymbolsSwitch(); });
    connect(passwordRefreshButton, &QPushButton::clicked, this, [this] { actionPasswordButton(); });
    connect(passwordCopyButton, &QPushButton::clicked, this, [this] { actionCopyButton(); });
    connect(closeButton, &QPushButton::clicked, this, [this] { closePage(); });
    // The strength follows what the user types.
    connect(passwordTextField, &QLineEdit::textEdited, this, [this] { showStrength(); });
    updateConrols();
}

void TBNPasswordGeneratorPopoverViewController::actionPasswordButton() {
    updateConrols();
}

void TBNPasswordGeneratorPopoverViewController::actionCopyButton() {
    const std::string password = passwordTextField->text().toStdString();
    auto pasteboard = ui::environment().pasteboard;
    if (password.empty() || !pasteboard || !pasteboard->setString(password, kClipboardSeconds)) {
        return;
    }
    copiedTextField->show();
    if (const auto& notify = ui::environment().notifyPasswordCopied) notify();
}

void TBNPasswordGeneratorPopoverViewController::actionLenghtSlider(int value) {
    logic_.setLength(value);
    saveAndRefresh();
}

void TBNPasswordGeneratorPopoverViewController::actionCapitalizationSwitch() {
    logic_.setUseCapitalization(capitalizationSwitch->isChecked());
    saveAndRefresh();
}

void TBNPasswordGeneratorPopoverViewController::actionDigitsSwitch() {
    logic_.setUseDigits(digitsSwitch->isChecked());
    saveAndRefresh();
}

void TBNPasswordGeneratorPopoverViewController::actionSymbolsSwitch() {
    logic_.setUseSymbols(symbolsSwitch->isChecked());
    saveAndRefresh();
}

void TBNPasswordGeneratorPopoverViewController::saveAndRefresh() {
    logic_.save();
    updateConrols();
}

void TBNPasswordGeneratorPopoverViewController::updateConrols() {
    lenghtValueTextField->setText(QString::number(logic_.length()));
    passwordTextField->setText(QString::fromStdString(logic_.generate()));
    copiedTextField->hide();
    showStrength();
}

void TBNPasswordGeneratorPopoverViewController::showStrength() {
    const unsigned strength = TBNGeneratorLogic::strength(passwordTextField->text().toStdString());
    const char* key = TBNGeneratorLogic::strengthKey(strength);
    if (!key) return;
    const QColor colour = strength <= 1   ? TBNUIHelper::redColor()
                          : strength == 2 ? TBNUIHelper::yellowColor()
                                          : TBNUIHelper::greenColor();
    strengthPasswordTextField->setText(ui::text(key));
    strengthPasswordTextField->setStyleSheet(QString("color: %1;").arg(TBNUIHelper::css(colour)));
}

// ---- Second password generator --------------------------------------------------------

TBNPasswordGeneratorV2PopoverViewController::TBNPasswordGeneratorV2PopoverViewController(
    QWidget* parent)
    : TBNFadingPage(parent), logic_(settings()) {
    content()->addWidget(ui::titleLabel(ui::text("PASSWORD_GENERATOR_VC_TITLE"), pageBox));
    passwordTextField = passwordField(pageBox);
    content()->addWidget(passwordTextField);
    auto* actions = new QHBoxLayout;
    passwordRefreshButton = new TBNPressButton(ui::text("PASSWORD_GENERATOR_VC_NEW_BUTTON"),
                                               pageBox, TBNPressButton::Role::Secondary);
    passwordCopyButton = new TBNPressButton(ui::text("PASSWORD_GENERATOR_VC_COPY_BUTTON"), pageBox);
    actions->addStretch(1);
    actions->addWidget(passwordRefreshButton);
    actions->addWidget(passwordCopyButton);
    content()->addLayout(actions);

    auto* generalBox = box(pageBox);
    auto* general = new QGridLayout(generalBox);
    general->setContentsMargins(12, 10, 12, 10);
    generalSlider = slider(generalBox, 0, TBNGeneratorLogic::kLastProfile + 1);
    highAndCustomTextField = valueLabel(generalBox);
    highAndCustomTextField->setMinimumWidth(60);
    general->addWidget(ui::messageLabel(ui::text("PASSWORD_GENERATOR_VC_PROFILE")), 0, 0);
    general->addWidget(generalSlider, 0, 1);
    general->addWidget(highAndCustomTextField, 0, 2);
    content()->addWidget(generalBox);

    customBox = box(pageBox);
    auto* grid = new QGridLayout(customBox);
    grid->setContentsMargins(12, 10, 12, 10);
    struct Row {
        const char* key;
        QSlider** slider;
        QLabel** value;
        int min, max;
    };
    const Row rows[] = {
        {"PASSWORD_GENERATOR_VC_LENGTH", &lenghtSlider, &lenghtValueTextField,
         TBNGeneratorLogic::kMinLength, TBNGeneratorLogic::kMaxLength},
        {"PASSWORD_GENERATOR_VC_CAPITALS", &capitalizationSlider, &capitalizationValueTextField, 0,
         100},
        {"PASSWORD_GENERATOR_VC_DIGITS", &digitsSlider, &digitsValueTextField, 0, 100},
        {"PASSWORD_GENERATOR_VC_SYMBOLS", &symbolsSlider, &symbolsValueTextField, 0, 100},
    };
    int r = 0;
    for (const Row& row : rows) {
        *row.slider = slider(customBox, row.min, row.max);
        *row.value = valueLabel(customBox);
        grid->addWidget(ui::messageLabel(ui::text(row.key)), r, 0);
        grid->addWidget(*row.slider, r, 1);
        grid->addWidget(*row.value, r, 2);
        ++r;
    }
    content()->addWidget(customBox);

    saveButton = new TBNPressButton(ui::text("PASSWORD_GENERATOR_VC_SAVE_BUTTON"), pageBox);
    closeButton =
        new TBNPressButton(ui::text("BUTTON_CLOSE"), pageBox, TBNPressButton::Role::Secondary);
    content()->addLayout(buttonRow({closeButton, saveButton}));

    // The sliders set the shares; a share above 0 turns its characters on.
    logic_.linkFlagsToPercentages();
    generalSlider->setValue(logic_.generalPosition());
    showConfig();
    connect(generalSlider, &QSlider::valueChanged, this, [this](int v) { actionGeneralSlider(v); });
    connect(lenghtSlider, &QSlider::valueChanged, this, [this](int v) { actionLenghtSlider(v); });
    connect(capitalizationSlider, &QSlider::valueChanged, this,
            [this](int v) { actionCapitalizationSlider(v); });
    connect(digitsSlider, &QSlider::valueChanged, this, [this](int v) { actionDigitsSlider(v); });
    connect(symbolsSlider, &QSlider::valueChanged, this, [this](int v) { actionSymbolsSlider(v); });
    connect(saveButton, &QPushButton::clicked, this, [this] { actionSaveButton(); });
    connect(passwordRefreshButton, &QPushButton::clicked, this,
            [this] { passwordTextField->setText(QString::fromStdString(logic_.generate())); });
    connect(passwordCopyButton, &QPushButton::clicked, this, [this] { actionCopyButton(); });
    connect(closeButton, &QPushButton::clicked, this, [this] { closePage(); });
    updateConrols();
}

void TBNPasswordGeneratorV2PopoverViewController::showConfig() {
    const QSignalBlocker b1(lenghtSlider), b2(capitalizationSlider), b3(digitsSlider),
        b4(symbolsSlider);
    lenghtSlider->setValue(logic_.length());
    capitalizationSlider->setValue(logic_.capitalization());
    digitsSlider->setValue(logic_.digits());
    symbolsSlider->setValue(logic_.symbols());
}

void TBNPasswordGeneratorV2PopoverViewController::actionGeneralSlider(int value) {
    logic_.setGeneralPosition(value);
    showConfig();
    updateConrols();
}

void TBNPasswordGeneratorV2PopoverViewController::actionLenghtSlider(int value) {
    logic_.setLength(value);
    updateConrols();
}

void TBNPasswordGeneratorV2PopoverViewController::actionCapitalizationSlider(int value) {
    logic_.setCapitalization(value);
    updateConrols();
}

void TBNPasswordGeneratorV2PopoverViewController::actionDigitsSlider(int value) {
    logic_.setDigits(value);
    showConfig();
    updateConrols();
}

void TBNPasswordGeneratorV2PopoverViewController::actionSymbolsSlider(int value) {
    logic_.setSymbols(value);
    showConfig();
    updateConrols();
}

void TBNPasswordGeneratorV2PopoverViewController::actionSaveButton() {
    logic_.save();
    if (TBNSettings* s = settings()) s->waitForPendingSaves();
    updateConrols();
}

void TBNPasswordGeneratorV2PopoverViewController::actionCopyButton() {
    auto pasteboard = ui::environment().pasteboard;
    const std::string password = passwordTextField->text().toStdString();
    if (pasteboard && !password.empty()) {
        pasteboard->setString(password,
                              TBNPasswordGeneratorPopoverViewController::kClipboardSeconds);
    }
}

void TBNPasswordGeneratorV2PopoverViewController::updateConrols() {
    const bool custom = generalSlider->value() == generalSlider->maximum();
    highAndCustomTextField->setText(
        ui::text(custom ? "PASSWORD_GENERATOR_VC_CUSTOM" : "PASSWORD_GENERATOR_VC_HIGH"));
    customBox->setVisible(custom);
    lenghtValueTextField->setText(QString::number(logic_.length()));
    capitalizationValueTextField->setText(QString("%1%").arg(logic_.capitalization()));
    digitsValueTextField->setText(QString("%1%").arg(logic_.digits()));
    symbolsValueTextField->setText(QString("%1%").arg(logic_.symbols()));
    saveButton->setVisible(logic_.differsFromStored());
    passwordTextField->setText(QString::fromStdString(logic_.generate()));
}

// ---- About and debug settings ---------------------------------------------------------

bool TBNClickCounter::click(double now) {
    bool opens = false;
    if (lastClick_ > 0) {
        clickCount_ = now - lastClick_ < 1.0 ? clickCount_ + 1 : 0;
        if (clickCount_ == 3) {
            clickCount_ = 0;
            opens = true;
        }
    }
    lastClick_ = now;
    return opens;
}

namespace {

QPixmap appIcon() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(TBNUIHelper::lightGreenColor());
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(22, 16), QPointF(22, 46));
    p.drawLine(QPointF(22, 46), QPointF(44, 46));
    return pixmap;
}

}  // namespace

TBNAboutPopoverViewController::TBNAboutPopoverViewController(QWidget* parent)
    : TBNFadingPage(parent) {
    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    iconImageView = new QLabel(pageBox);
    iconImageView->setPixmap(appIcon());
    iconImageView->installEventFilter(this);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(ui::titleLabel(ui::text("ABOUT_TITLE"), pageBox));
    versionTextField = ui::messageLabel(QString(), pageBox);
    titles->addWidget(versionTextField);
    header->addWidget(iconImageView, 0, Qt::AlignTop);
    header->addLayout(titles, 1);
    content()->addLayout(header);
    content()->addWidget(ui::messageLabel(ui::text("ABOUT_MESSAGE"), pageBox));
    policyButton = new TBNPressButton(ui::text("ABOUT_PRIVACY"), pageBox);
    lumvaneIOButton = new TBNPressButton(ui::text("ABOUT_WEBSITE"), pageBox);
    for (TBNPressButton* link : {policyButton, lumvaneIOButton}) {
        link->setProperty("role", "link");
        link->setTextColor(TBNUIHelper::lightBlueColor());
        link->setAlternateTextColor(TBNUIHelper::redColor());
    }
    closeButton =
        new TBNPressButton(ui::text("BUTTON_CLOSE"), pageBox, TBNPressButton::Role::Secondary);
    auto* row = new QHBoxLayout;
    row->addWidget(lumvaneIOButton);
    row->addWidget(policyButton);
    row->addStretch(1);
    row->addWidget(closeButton);
    content()->addLayout(row);
    connect(policyButton, &QPushButton::clicked, this, [this] {
        ui::environment().openUrl(kPrivacyPolicy);
        closePage();
    });
    connect(lumvaneIOButton, &QPushButton::clicked, this, [this] {
        ui::environment().openUrl(kWebSite);
        closePage();
    });
    connect(closeButton, &QPushButton::clicked, this, [this] { closePage(); });
    ui::afterSeconds(this, kDebugWindowSeconds, [this] { debugRequested_ = nullptr; });

    TBNSettings* s = settings();
    const bool extended = s && s->osxExtendedMode();
    const QString version =
        s && s->appVersion() ? QString::fromStdString(*s->appVersion()) : ui::environment().version;
    versionTextField->setText(
        ui::text(extended ? "TEXTFIELD_VERSION_EXTENDED" : "TEXTFIELD_VERSION").arg(version));
}

void TBNAboutPopoverViewController::actionIconImageView(double now) {
    if (counter_.click(now) && debugRequested_) {
        auto requested = std::move(debugRequested_);
        debugRequested_ = nullptr;
        requested();
    }
}

bool TBNAboutPopoverViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == iconImageView && event->type() == QEvent::MouseButtonPress) {
        actionIconImageView(QDateTime::currentMSecsSinceEpoch() / 1000.0);
        return true;
    }
    return TBNFadingPage::eventFilter(watched, event);
}

QString TBNDebugSettingsPopoverViewController::defaultBackupFolder() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString folder = QDir(desktop).filePath(kDefaultBackupFolderName);
    QDir().mkpath(folder);
    return folder;
}

TBNDebugSettingsPopoverViewController::TBNDebugSettingsPopoverViewController(QWidget* parent)
    : TBNFadingPage(parent) {
    content()->addWidget(ui::titleLabel(ui::text("DEBUG_TITLE"), pageBox));
    auto* switches = box(pageBox);
    auto* grid = new QGridLayout(switches);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setVerticalSpacing(8);
    TBNSettings* s = settings();
    struct Row {
        const char* key;
        TBNSwitch** sw;
        bool (TBNSettings::*get)();
        void (TBNSettings::*set)(bool);
    };
    const Row rows[] = {
        {"DEBUG_EXTENDED_MODE", &osxExtModeSwitch, &TBNSettings::osxExtendedMode,
         &TBNSettings::setOsxExtendedMode},
        {"DEBUG_EXT_EXTENDED_MODE", &extExtModeSwitch, &TBNSettings::extensionExtendedMode,
         &TBNSettings::setExtensionExtendedMode},
        {"DEBUG_PRERELEASE", &updateToPrereleaseSwitch, &TBNSettings::updateToPrerelease,
         &TBNSettings::setUpdateToPrerelease},
        {"DEBUG_BLE_TESTING", &enableBLETestintSwitch, &TBNSettings::enableBLETesting,
         &TBNSettings::setEnableBLETesting},
        {"DEBUG_YUBIKEY", &supportYubiKeySwitch, &TBNSettings::supportYubiKey,
         &TBNSettings::setSupportYubiKey},
    };
    int r = 0;
    for (const Row& row : rows) {
        *row.sw = new TBNSwitch(switches);
        (*row.sw)->setChecked(s && (s->*row.get)());
        addSwitchRow(grid, r++, ui::text(row.key), *row.sw);
        TBNSwitch* sw = *row.sw;
        auto set = row.set;
        connect(sw, &QAbstractButton::clicked, this, [this, sw, set] {
            if (TBNSettings* st = settings()) (st->*set)(sw->isChecked());
            if (sw == osxExtModeSwitch) supportYubiKeySwitch->setEnabled(sw->isChecked());
        });
    }
    supportYubiKeySwitch->setEnabled(osxExtModeSwitch->isChecked());
    content()->addWidget(switches);

    auto* backup = box(pageBox);
    auto* backupLayout = new QGridLayout(backup);
    backupLayout->setContentsMargins(12, 10, 12, 10);
    enableCopyBackupSwitch = new TBNSwitch(backup);
    addSwitchRow(backupLayout, 0, ui::text("DEBUG_COPY_BACKUP"), enableCopyBackupSwitch);
    backupLocationTextField = ui::messageLabel(QString(), backup);
    backupLocationTextField->setMinimumHeight(24);
    selectBackupLocationButton =
        new TBNPressButton(ui::text("BUTTON_CHOOSE"), backup, TBNPressButton::Role::Secondary);
    backupLayout->addWidget(backupLocationTextField, 1, 0);
    backupLayout->addWidget(selectBackupLocationButton, 1, 1);
    content()->addWidget(backup);
    closeButton =
        new TBNPressButton(ui::text("BUTTON_CLOSE"), pageBox, TBNPressButton::Role::Secondary);
    content()->addLayout(buttonRow({closeButton}));
    connect(enableCopyBackupSwitch, &QAbstractButton::clicked, this,
            [this] { actionEnableCopyBackupSwitch(); });
    connect(selectBackupLocationButton, &QPushButton::clicked, this,
            [this] { actionSelectBackupLocationButton(); });
    connect(closeButton, &QPushButton::clicked, this, [this] { closePage(); });

    const auto alt = s ? s->altBackupLocation() : std::nullopt;
    enableCopyBackupSwitch->setChecked(alt.has_value() && !alt->empty());
    showBackupLocation(enableCopyBackupSwitch->isChecked() ? QString::fromStdString(*alt)
                                                           : QString());
}

void TBNDebugSettingsPopoverViewController::showBackupLocation(const QString& path) {
    backupLocationTextField->setText(QDir::toNativeSeparators(path));
    backupLocationTextField->setProperty("path", path);
    const bool on = enableCopyBackupSwitch->isChecked();
    backupLocationTextField->setEnabled(on);
    selectBackupLocationButton->setEnabled(on);
}

void TBNDebugSettingsPopoverViewController::actionEnableCopyBackupSwitch() {
    TBNSettings* s = settings();
    if (enableCopyBackupSwitch->isChecked()) {
        const QString folder = defaultBackupFolder();
        if (s) s->setAltBackupLocation(folder.toStdString());
        showBackupLocation(folder);
    } else {
        if (s) s->setAltBackupLocation(std::nullopt);
        showBackupLocation({});
    }
}

void TBNDebugSettingsPopoverViewController::actionSelectBackupLocationButton() {
    ui::FileQuestion q;
    q.kind = ui::FileQuestion::Kind::Folder;
    q.title = ui::text("DEBUG_BACKUP_PANEL_TITLE");
    q.directory = backupLocationTextField->property("path").toString();
    auto folder = ui::environment().chooseFile(this, q);
    if (!folder || *folder == q.directory) return;
    QDir().mkpath(*folder);
    if (TBNSettings* s = settings()) s->setAltBackupLocation(folder->toStdString());
    showBackupLocation(*folder);
}

// ---- Pair device ----------------------------------------------------------------------

TBNPairDevicePopoverViewController::TBNPairDevicePopoverViewController(QWidget* parent)
    : TBNFadingPage(parent) {
    titleTextField = ui::titleLabel(ui::text("PAIR_SELECT_TEXTFIELD_TITLE"), pageBox);
    content()->addWidget(titleTextField);

    searchDevicesBox = new QFrame(pageBox);
    auto* search = new QVBoxLayout(searchDevicesBox);
    search->setContentsMargins(0, 0, 0, 0);
    auto* searching = new QHBoxLayout;
    searching->setSpacing(8);
    searchDevicesProgressIndicator = new TBNSpinner(searchDevicesBox);
    searchDevicesProgressIndicator->setObjectName("searchDevicesProgressIndicator");
    searchingTextField = ui::messageLabel(ui::text("PAIR_SEARCHING_TEXT"), searchDevicesBox);
    searching->addWidget(searchDevicesProgressIndicator, 0, Qt::AlignVCenter);
    searching->addWidget(searchingTextField, 1);
    searchDevicesTableView = new QListWidget(searchDevicesBox);
    searchDevicesTableView->setObjectName("searchDevicesTableView");
    // Two rows without scrolling; the rows are the device cells, which draw the selection.
    searchDevicesTableView->setMinimumHeight(2 * kDeviceRowHeight + 2 * 4 + 4);
    searchDevicesTableView->setSpacing(2);
    searchDevicesTableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    searchDevicesTableView->setStyleSheet(
        "QListWidget { background: transparent; border: none; outline: none; }"
        " QListWidget::item, QListWidget::item:selected, QListWidget::item:hover"
        " { background: transparent; border: none; }");
    search->addLayout(searching);
    search->addWidget(searchDevicesTableView);
    content()->addWidget(searchDevicesBox);

    selectedDeviceBox = box(pageBox);
    auto* selected = new QHBoxLayout(selectedDeviceBox);
    selected->setContentsMargins(12, 10, 12, 10);
    selectedDeviceIconImageView = new QLabel(selectedDeviceBox);
    auto* names = new QVBoxLayout;
    selectedDeviceTitleTextField = ui::messageLabel(QString(), selectedDeviceBox);
    selectedDeviceTitleTextField->setFont(TBNUIHelper::mediumFontWithSize(11));
    selectedDeviceSubTitleTextField = ui::messageLabel(QString(), selectedDeviceBox);
    names->addWidget(selectedDeviceTitleTextField);
    names->addWidget(selectedDeviceSubTitleTextField);
    selected->addWidget(selectedDeviceIconImageView);
    selected->addLayout(names, 1);
    content()->addWidget(selectedDeviceBox);

    pairingBox = new QFrame(pageBox);
    auto* pairing = new QVBoxLayout(pairingBox);
    pairing->setContentsMargins(0, 0, 0, 0);
    pairing->addWidget(ui::messageLabel(ui::text("PAIR_PAIRING_MESSAGE"), pairingBox));
    pairingCodeTextField = new QLabel(pairingBox);
    pairingCodeTextField->setAlignment(Qt::AlignCenter);
    pairingCodeTextField->setFont(TBNUIHelper::boldFontWithSize(26));
    pairing->addWidget(pairingCodeTextField);
    pairingProgressIndicator = new TBNSpinner(pairingBox);
    pairingProgressIndicator->setObjectName("pairingProgressIndicator");
    pairing->addWidget(pairingProgressIndicator, 0, Qt::AlignHCenter);
    content()->addWidget(pairingBox);

    pairedBox = new QFrame(pageBox);
    auto* paired = new QVBoxLayout(pairedBox);
    paired->setContentsMargins(0, 0, 0, 0);
    paired->addWidget(ui::messageLabel(ui::text("PAIR_PAIRED_MESSAGE"), pairedBox));
    content()->addWidget(pairedBox);

    failedBox = new QFrame(pageBox);
    auto* failed = new QVBoxLayout(failedBox);
    failed->setContentsMargins(0, 0, 0, 0);
    failedMessageTextField = ui::messageLabel(QString(), failedBox);
    failed->addWidget(failedMessageTextField);
    content()->addWidget(failedBox);

    closePairButton =
        new TBNPressButton(ui::text("BUTTON_CLOSE"), pageBox, TBNPressButton::Role::Secondary);
    pairButton = new TBNPressButton(ui::text("PAIR_BUTTON"), pageBox);
    cancelButton =
        new TBNPressButton(ui::text("BUTTON_CANCEL"), pageBox, TBNPressButton::Role::Secondary);
    closeButton =
        new TBNPressButton(ui::text("BUTTON_CLOSE"), pageBox, TBNPressButton::Role::Secondary);
    tryAgainButton = new TBNPressButton(ui::text("PAIR_TRY_AGAIN_BUTTON"), pageBox);
    content()->addLayout(
        buttonRow({closePairButton, cancelButton, closeButton, tryAgainButton, pairButton}));

    for (QWidget* w : {static_cast<QWidget*>(selectedDeviceBox), static_cast<QWidget*>(pairingBox),
                       static_cast<QWidget*>(pairedBox), static_cast<QWidget*>(failedBox),
                       static_cast<QWidget*>(cancelButton), static_cast<QWidget*>(closeButton),
                       static_cast<QWidget*>(tryAgainButton)}) {
        w->hide();
    }
    pairButton->setEnabled(false);

    connect(searchDevicesTableView, &QListWidget::currentRowChanged, this,
            [this](int row) { selectRow(row); });
    connect(pairButton, &QPushButton::clicked, this, [this] { actionPair(); });
    connect(closePairButton, &QPushButton::clicked, this, [this] { actionClose(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { actionCancel(); });
    connect(closeButton, &QPushButton::clicked, this, [this] { actionClose(); });
    connect(tryAgainButton, &QPushButton::clicked, this, [this] { actionTryAgain(); });
    observer_ =
        ui::SettingsObserver::observe(settings(), this, [this](TBNSettingsComponents components) {
            if (!(components &
                  (TBNSettingsComponentDeviceInfo | TBNSettingsComponentOnlineDevices))) {
                return;
            }
            if (pairingDevice_) {
                updateDeviceInfo();
            } else {
                reloadDevices();
            }
        });
    reloadDevices();
}

TBNPairDevicePopoverViewController::~TBNPairDevicePopoverViewController() = default;

void TBNPairDevicePopoverViewController::didFadeIn() {
    reloadDevices();
}

void TBNPairDevicePopoverViewController::reloadDevices() {
    TBNSettings* s = settings();
    onlineDevices_ = s ? s->allOnlineDevices() : std::vector<std::shared_ptr<TBNOSXDeviceInfo>>{};
    const QSignalBlocker block(searchDevicesTableView);
    searchDevicesTableView->clear();
    for (size_t row = 0; row < onlineDevices_.size(); ++row) {
        auto* item = new QListWidgetItem(searchDevicesTableView);
        item->setSizeHint(QSize(0, kDeviceRowHeight));
        auto* cell = new TBNWizardDeviceTableCellView(kDeviceRowHeight);
        const int index = static_cast<int>(row);
        cell->clicked = [this, index] { searchDevicesTableView->setCurrentRow(index); };
        searchDevicesTableView->setItemWidget(item, cell);
    }
    if (selectedRow_ >= static_cast<int>(onlineDevices_.size())) selectedRow_ = -1;
    searchDevicesTableView->setCurrentRow(selectedRow_);
    updateCells();
    showSearching(onlineDevices_.empty());
    pairButton->setEnabled(selectedRow_ != -1);
}

void TBNPairDevicePopoverViewController::updateCells() {
    for (int row = 0; row < searchDevicesTableView->count(); ++row) {
        auto* cell = static_cast<TBNWizardDeviceTableCellView*>(
            searchDevicesTableView->itemWidget(searchDevicesTableView->item(row)));
        if (!cell || row >= static_cast<int>(onlineDevices_.size())) continue;
        cell->updateForDevice(onlineDevices_[static_cast<size_t>(row)].get(), row == selectedRow_);
    }
}

void TBNPairDevicePopoverViewController::showSearching(bool searching) {
    searchDevicesProgressIndicator->setVisible(searching);
    searchingTextField->setVisible(searching);
    if (searching) {
        searchDevicesProgressIndicator->startAnimation();
    } else {
        searchDevicesProgressIndicator->stopAnimation();
    }
}

void TBNPairDevicePopoverViewController::selectRow(int row) {
    selectedRow_ = row;
    pairButton->setEnabled(selectedRow_ != -1);
    updateCells();
}

void TBNPairDevicePopoverViewController::updateDeviceInfo() {
    const TBNOSXDeviceInfo* device = pairingDevice_.get();
    selectedDeviceIconImageView->setPixmap(TBNUIHelper::deviceIconByDevice(device).scaled(
        40, 40, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    selectedDeviceTitleTextField->setText(TBNUIHelper::deviceNameByDevice(device));
    selectedDeviceSubTitleTextField->setText(TBNUIHelper::deviceInfoByDevice(device));
}

void TBNPairDevicePopoverViewController::actionPair() {
    if (selectedRow_ < 0 || selectedRow_ >= static_cast<int>(onlineDevices_.size())) return;
    pairingDevice_ = onlineDevices_[static_cast<size_t>(selectedRow_)];
    updateDeviceInfo();
    fadeOutViews({searchDevicesBox, closePairButton, pairButton}, kFade, [this] {
        TBNSettings* s = settings();
        std::string clientId, publicKey;
        if (s) {
            clientId = s->clientId().value_or("");
            if (auto cert = s->clientCert()) publicKey = cert->publicKey().value_or("");
        }
        const std::string code =
            TBNUtil::getSecreteCodeFromDeviceId(pairingDevice_->deviceId().value_or(""), "",
                                                clientId, publicKey, TBNUtil::generateId());
        titleTextField->setText(ui::text("PAIR_PAIRING_TEXTFIELD_TITLE"));
        pairingCodeTextField->setText(QString::fromStdString(code));
        pairingProgressIndicator->startAnimation();
        fadeInViews({selectedDeviceBox, pairingBox, cancelButton}, kFade);
    });
}

void TBNPairDevicePopoverViewController::successPair() {
    fadeOutViews({pairingBox, cancelButton}, kFade, [this] {
        pairingProgressIndicator->stopAnimation();
        fadeInViews({pairedBox, closeButton}, kFade);
    });
    closeAfter(5);
}

void TBNPairDevicePopoverViewController::failPairWithError(int32_t category, int64_t id) {
    const bool notAuthorized = category == 1 && id == 1;
    fadeOutViews({pairingBox, cancelButton}, kFade, [this, notAuthorized] {
        pairingProgressIndicator->stopAnimation();
        failedMessageTextField->setText(
            ui::text(notAuthorized ? "PAIR_FAILED_NOTAUTHORIZED_MESSAGE_TEXTFIELD_TITLE"
                                   : "PAIR_FAILED_TIMEDOUT_MESSAGE_TEXTFIELD_TITLE"));
        if (notAuthorized) {
            fadeInViews({failedBox, closeButton}, kFade);
            closeAfter(10);
        } else {
            fadeInViews({failedBox, closeButton, tryAgainButton}, kFade);
        }
    });
}

void TBNPairDevicePopoverViewController::actionTryAgain() {
    fadeOutViews({selectedDeviceBox, failedBox, closeButton, tryAgainButton}, kFade, [this] {
        selectedRow_ = -1;
        pairingDevice_.reset();
        titleTextField->setText(ui::text("PAIR_SELECT_TEXTFIELD_TITLE"));
        reloadDevices();
        pairButton->setEnabled(false);
        fadeInViews({searchDevicesBox, closePairButton, pairButton}, kFade);
    });
}

}  // namespace lumvane
