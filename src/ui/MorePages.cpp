#include "ui/MorePages.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <thread>

#include "runtime/log/TBNLogger.h"
#include "ui/DriverSetup.h"
#include "ui/PageEnvironment.h"
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
        messageTextField->setText(ui::text("U2F_DRIVER_FAILED").arg(QString::fromStdString(error)));
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

}  // namespace lumvane
