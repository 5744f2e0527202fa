#include "ui/MenuItemViews.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

#include "idl/settings.h"
#include "ui/Controls.h"
#include "ui/PageEnvironment.h"
#include "ui/SettingsObserver.h"
#include "ui/TBNUIHelper.h"

namespace lumvane {

// ---- Paired phone in the menu ---------------------------------------------------------

TBNMenuPairedDeviceViewController::TBNMenuPairedDeviceViewController(QWidget* parent)
    : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 6, 12, 6);
    row->setSpacing(10);
    deviceIconImageView = new QLabel(this);
    deviceIconImageView->setFixedSize(22, 22);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    deviceTitleTextField = new QLabel(this);
    deviceTitleTextField->setFont(TBNUIHelper::mediumFontWithSize(10.5));
    deviceSubTitleTextField = new QLabel(this);
    deviceSubTwoTitleTextField = new QLabel(this);
    for (QLabel* small : {deviceSubTitleTextField, deviceSubTwoTitleTextField}) {
        small->setFont(TBNUIHelper::regularFontWithSize(9));
        small->setForegroundRole(QPalette::PlaceholderText);
    }
    texts->addWidget(deviceTitleTextField);
    texts->addWidget(deviceSubTitleTextField);
    texts->addWidget(deviceSubTwoTitleTextField);
    deviceRSSILevelImageView = new QLabel(this);
    deviceRSSILevelImageView->setFixedSize(22, 22);
    row->addWidget(deviceIconImageView, 0, Qt::AlignTop);
    row->addLayout(texts, 1);
    row->addWidget(deviceRSSILevelImageView, 0, Qt::AlignTop);
    observer_ = ui::SettingsObserver::observe(
        ui::environment().settings, this, [this](TBNSettingsComponents components) {
            if (components & TBNSettingsComponentPairedDeviceInfo) update();
        });
    update();
}

TBNMenuPairedDeviceViewController::~TBNMenuPairedDeviceViewController() = default;

void TBNMenuPairedDeviceViewController::setPairedDevice(std::shared_ptr<TBNOSXDeviceInfo> device) {
    pairedDevice_ = std::move(device);
    update();
}

void TBNMenuPairedDeviceViewController::update() {
    const TBNOSXDeviceInfo* device = pairedDevice_.get();
    deviceIconImageView->setPixmap(TBNUIHelper::menuDeviceIconByDevice(device));
    deviceRSSILevelImageView->setPixmap(TBNUIHelper::menuRSSIIconByDevice(device));
    deviceTitleTextField->setText(TBNUIHelper::deviceNameByDevice(device));
    deviceSubTitleTextField->setText(TBNUIHelper::deviceInfoByDevice(device));
    deviceSubTwoTitleTextField->setText(TBNUIHelper::appInfoByDevice(device));
    deviceSubTwoTitleTextField->setVisible(!deviceSubTwoTitleTextField->text().isEmpty());
}

// ---- Guide window ---------------------------------------------------------------------

namespace {

// The guide's pictures: the menu bar with our icon and its menu open below it; the first
// numbers the icon (1) and the menu (2) as its text does, the second marks the pairing
// item, the third the phone that asks.
QPixmap guidePicture(size_t index) {
    QPixmap pixmap(300, 150);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 30));
    p.drawRoundedRect(QRectF(0, 0, 300, 150), 12, 12);
    p.setBrush(QColor(255, 255, 255, 60));
    p.drawRect(QRectF(0, 12, 300, 18));
    p.setBrush(TBNUIHelper::lightGreenColor());
    p.drawRoundedRect(QRectF(250, 14, 14, 14), 3, 3);
    const QRectF menu(170, 34, 110, 100);
    p.setBrush(QColor(255, 255, 255, 210));
    p.drawRoundedRect(menu, 6, 6);
    p.setBrush(QColor(0, 0, 0, 40));
    for (int line = 0; line < 3; ++line) {
        p.drawRoundedRect(QRectF(184, 50 + line * 24, 70, 6), 3, 3);
    }
    if (index >= 1) {
        p.setBrush(TBNUIHelper::blueColor());
        p.drawRoundedRect(QRectF(176, 44 + (index == 1 ? 0 : 24), 98, 18), 4, 4);
    }
    p.setFont(TBNUIHelper::boldFontWithSize(10));
    p.setPen(Qt::white);
    if (index == 0) {
        p.drawText(QRectF(218, 12, 30, 18), Qt::AlignCenter, "(1)");
        p.drawText(QRectF(126, 70, 40, 20), Qt::AlignCenter, "(2)");
    }
    if (index == 2) {
        QPixmap phone = TBNUIHelper::deviceIconByDevice(nullptr);
        p.drawPixmap(40, 50, phone.scaled(80, 80, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    return pixmap;
}

QPointer<TBNGuideViewController>& openGuide() {
    static QPointer<TBNGuideViewController> window;
    return window;
}

}  // namespace

TBNGuideViewController::TBNGuideViewController(QWidget* parent) : QWidget(parent) {
    setObjectName("page");
    ui::applyPageStyle(this);
    setWindowTitle(ui::text("GUIDE_WINDOW_TITLE"));
    setFixedWidth(ui::kPageWidth + 80);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(ui::kPageMargin, ui::kPageMargin, ui::kPageMargin, ui::kPageMargin);
    layout->setSpacing(ui::kPageSpacing);
    guideImageView = new QLabel(this);
    guideImageView->setAlignment(Qt::AlignCenter);
    guideTextField = ui::messageLabel(QString(), this);
    guideTextField->setMinimumHeight(90);
    guideTextField->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(guideImageView);
    layout->addWidget(guideTextField);
    skipButton =
        new TBNPressButton(ui::text("GUIDE_SKIP_BUTTON"), this, TBNPressButton::Role::Secondary);
    backButton =
        new TBNPressButton(ui::text("GUIDE_BACK_BUTTON"), this, TBNPressButton::Role::Secondary);
    nextButton = new TBNPressButton(ui::text("GUIDE_NEXT_BUTTON"), this);
    finishButton = new TBNPressButton(ui::text("GUIDE_FINISH_BUTTON"), this);
    auto* row = new QHBoxLayout;
    row->addWidget(skipButton);
    row->addStretch(1);
    row->addWidget(backButton);
    row->addWidget(nextButton);
    row->addWidget(finishButton);
    layout->addLayout(row);
    connect(skipButton, &QPushButton::clicked, this, [this] { actionSkipButton(); });
    connect(backButton, &QPushButton::clicked, this, [this] { actionBackButton(); });
    connect(nextButton, &QPushButton::clicked, this, [this] { actionNextButton(); });
    connect(finishButton, &QPushButton::clicked, this, [this] { actionFinishButton(); });

    guideMessages_ = {
        "\nWelcome to quick guide at Lumvane.\n\nIf Lumvane runnning you can see icon (1) in "
        "system menu. Click to Lumvane icon to open menu (2).",
        "\nPrimarily before use Lumvane you need pair your Mac with your phone.\n  - select "
        "'Start pairing...' in Lumvane menu\n  - select the phone in list and press 'Pair' "
        "button",
        "\nIn the phone you see request to autorize your Mac with your phone\n  - accept request "
        "in the phone\n  - bla bla bla ....",
    };
    updateUI();
}

void TBNGuideViewController::updateUI() {
    guideTextField->setText(guideMessages_[currentIndex_]);
    guideImageView->setPixmap(guidePicture(currentIndex_));
    backButton->setVisible(currentIndex_ > 0);
    nextButton->setVisible(currentIndex_ + 1 < guideMessages_.size());
    finishButton->setVisible(nextButton->isHidden());
}

void TBNGuideViewController::actionBackButton() {
    if (currentIndex_ == 0) return;
    --currentIndex_;
    updateUI();
}

void TBNGuideViewController::actionNextButton() {
    if (currentIndex_ + 1 >= guideMessages_.size()) return;
    ++currentIndex_;
    updateUI();
}

namespace ui {

QWidget* makePairedDeviceMenuItemView(std::shared_ptr<TBNOSXDeviceInfo> device, QWidget* parent) {
    auto* view = new TBNMenuPairedDeviceViewController(parent);
    view->setPairedDevice(std::move(device));
    return view;
}

TBNGuideViewController* showGuideWindow() {
    auto& window = openGuide();
    if (!window) {
        window = new TBNGuideViewController();
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

}  // namespace ui
}  // namespace lumvane
