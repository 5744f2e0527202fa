#include "ui/QRCodeWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include "app/shell/QRCodeGenerator.h"
#include "core/service/TBNService.h"
#include "runtime/log/TBNLogger.h"
#include "ui/Controls.h"
#include "ui/PageSupport.h"
#include "ui/UserInterface.h"

namespace lumvane {

namespace {
constexpr const char* kTag = "ui|qrcode";
constexpr int kOwnPairingSide = 200;
constexpr int kWizardSide = 320;

QPointer<TBNQRCodeViewController>& openWindow() {
    static QPointer<TBNQRCodeViewController> window;
    return window;
}
}  // namespace

TBNQRCodeViewController::TBNQRCodeViewController(Pairing pairing, QWidget* parent)
    : QWidget(parent), pairing_(std::move(pairing)) {
    setObjectName("page");
    ui::applyPageStyle(this);
    setWindowTitle(ui::text("QRCODE_WINDOW_TITLE"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(ui::kPageMargin, ui::kPageMargin, ui::kPageMargin, ui::kPageMargin);
    layout->setSpacing(ui::kPageSpacing);
    layout->addWidget(ui::titleLabel(ui::text("QRCODE_WINDOW_TITLE"), this));
    infoTextField = ui::messageLabel(ui::text("QRCODE_INFO_TEXT"), this);
    layout->addWidget(infoTextField);
    qrCodeImageView = new QLabel(this);
    qrCodeImageView->setAlignment(Qt::AlignCenter);
    qrCodeImageView->setMinimumSize(kOwnPairingSide + 24, kOwnPairingSide + 24);
    qrCodeImageView->setStyleSheet("background: white; border-radius: 8px; padding: 12px;");
    layout->addWidget(qrCodeImageView, 0, Qt::AlignHCenter);
    stateTextField = ui::messageLabel(ui::text("QRCODE_WAITING_TEXT"), this);
    stateTextField->setAlignment(Qt::AlignCenter);
    layout->addWidget(stateTextField);
    closeButton =
        new TBNPressButton(ui::text("BUTTON_CLOSE"), this, TBNPressButton::Role::Secondary);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(closeButton);
    layout->addLayout(row);
    connect(closeButton, &QPushButton::clicked, this, [this] { actionCloseButton(); });
    qrCodeImageView->hide();
    setFixedWidth(ui::kPageWidth + 40);
}

void TBNQRCodeViewController::showCode(const std::string& value, int side) {
    qrCodeValue_ = value;
    QRCodeGenerator generator;
    auto image = generator.createImageWithValue(value, side, side);
    if (!image) {
        TBN_LOG_WARN(kTag, "no QR image for the pairing value");
        return;
    }
    qrCodeImageView->setMinimumSize(side + 24, side + 24);
    qrCodeImageView->setPixmap(QPixmap::fromImage(*image));
    qrCodeImageView->show();
}

void TBNQRCodeViewController::setQRCodeValue(const std::optional<std::string>& value) {
    if (value) {
        fromWizard_ = true;
        stateTextField->hide();
        showCode(*value, kWizardSide);
        return;
    }
    fromWizard_ = false;
    if (!pairing_.start) return;
    QPointer<TBNQRCodeViewController> self(this);
    pairing_.start(
        [self](const std::string& url) {
            ui::onMain(nullptr, [self, url] {
                if (self) self->showCode(url, kOwnPairingSide);
            });
        },
        [self](const std::string& status) {
            ui::onMain(nullptr, [self, status] {
                if (self) self->stateTextField->setText(QString::fromStdString(status));
            });
        },
        [self] {
            ui::onMain(nullptr, [self] {
                if (self) self->close();
            });
        },
        [self] {
            // The service tells the user about the failure itself.
            ui::onMain(nullptr, [self] {
                if (self) self->close();
            });
        });
}

void TBNQRCodeViewController::actionCloseButton() {
    close();
    if (pairing_.stop) pairing_.stop();
}

namespace ui {

TBNQRCodeViewController* showQRCodeWindowWith(TBNQRCodeViewController::Pairing pairing,
                                              const std::optional<std::string>& value) {
    auto& window = openWindow();
    if (window) {
        window->raise();
        window->activateWindow();
        return window;
    }
    auto* created = new TBNQRCodeViewController(std::move(pairing));
    created->setAttribute(Qt::WA_DeleteOnClose);
    window = created;
    created->setQRCodeValue(value);
    created->show();
    created->raise();
    created->activateWindow();
    return created;
}

void showQRCodeWindow(std::shared_ptr<TBNService> service) {
    TBNQRCodeViewController::Pairing pairing;
    std::weak_ptr<TBNService> weak = service;
    pairing.start = [weak](auto url, auto progress, auto success, auto failure) {
        if (auto s = weak.lock()) {
            s->startPairWithAuthUrl(
                std::move(url), std::move(progress), [success](uint32_t) { success(); },
                [failure](const std::shared_ptr<TBNError>&) { failure(); });
        }
    };
    pairing.stop = [weak] {
        if (auto s = weak.lock()) s->stopPair();
    };
    showQRCodeWindowWith(std::move(pairing), std::nullopt);
}

}  // namespace ui
}  // namespace lumvane
