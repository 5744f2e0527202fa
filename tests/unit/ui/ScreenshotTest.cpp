// A picture of every page at its default size, saved under the build's artefacts for a
// person to look at, and a check that no text or button of a page is cut off.
#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "UITestSupport.h"
#include "idl/settings.h"
#include "ui/MenuItemViews.h"
#include "ui/MorePages.h"
#include "ui/QRCodeWindow.h"
#include "ui/UserInterface.h"

namespace lumvane::testing {
namespace {

class ScreenshotTest : public PageFixture {
  protected:
    void SetUp() override {
        PageFixture::SetUp();
        QDir().mkpath(LUMVANE_UI_ARTEFACTS);
    }

    // Every shown child fits: wrapped labels have the height their text needs, other
    // widgets at least their minimum size, and all lie inside the page.
    static void expectNothingClipped(QWidget* page) {
        for (QWidget* w : page->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(page) || w->width() == 0) continue;
            SCOPED_TRACE(w->metaObject()->className() + std::string(" ") +
                         w->objectName().toStdString());
            auto* label = qobject_cast<QLabel*>(w);
            if (label && label->wordWrap() && !label->text().isEmpty()) {
                EXPECT_LE(label->heightForWidth(label->width()), label->height())
                    << label->text().toStdString();
            } else if (qobject_cast<QAbstractButton*>(w) || (label && !label->text().isEmpty())) {
                EXPECT_GE(w->width(), w->minimumSizeHint().width());
            }
            const QRect inPage(w->mapTo(page, QPoint(0, 0)), w->size());
            EXPECT_TRUE(page->rect().contains(inPage))
                << "outside the page: " << inPage.x() << "," << inPage.y() << " " << inPage.width()
                << "x" << inPage.height();
        }
    }

    void shoot(const std::shared_ptr<TBNPopoverViewController>& page, const QString& name,
               std::function<void()> before = {}) {
        SCOPED_TRACE(name.toStdString());
        present(page);
        if (before) {
            before();
            advance(0.7);
        }
        settle();
        QWidget* window = presenter_->window();
        window->adjustSize();
        settle();
        expectNothingClipped(page.get());
        const QString path = QDir(LUMVANE_UI_ARTEFACTS).filePath(name + ".png");
        EXPECT_TRUE(window->grab().save(path));
        presenter_->hideCurrentPopover();
        advance(0.4);
    }

    void shootWidget(QWidget* widget, const QString& name) {
        SCOPED_TRACE(name.toStdString());
        widget->show();
        widget->adjustSize();
        settle();
        expectNothingClipped(widget);
        EXPECT_TRUE(widget->grab().save(QDir(LUMVANE_UI_ARTEFACTS).filePath(name + ".png")));
    }

    template <class Page>
    std::shared_ptr<Page> page(const char* identifier) {
        return std::dynamic_pointer_cast<Page>(ui::popoverAtName(identifier));
    }

    static TBNSaveAccountQuestion login() {
        return {"alice@example.com", "correct horse battery", "example.com",
                "https://www.example.com/login", false};
    }
};

TEST_F(ScreenshotTest, EveryPage) {
    auto choose =
        page<TBNChooseAccountPopoverViewController>("TBNChooseAccountPopoverViewController");
    choose->setAccounts({"alice@example.com", "bob@example.com", "carol"},
                        "https://mail.example.com", "mail.example.com");
    shoot(choose, "choose-account");

    pairPhone(false);
    auto waiting = page<TBNSaveAccountPopoverViewController>("TBNSaveAccountPopoverViewController");
    waiting->setQuestion(login());
    shoot(waiting, "save-account-waiting-for-phone");

    setPhoneOnline(true);
    auto saving = page<TBNSaveAccountPopoverViewController>("TBNSaveAccountPopoverViewController");
    saving->setQuestion(login());
    shoot(saving, "save-account-saving");

    auto update = page<TBNSaveAccountPopoverViewController>("TBNSaveAccountPopoverViewController");
    auto changed = login();
    changed.isUpdate = true;
    update->setQuestion(changed);
    shoot(update, "save-account-update");

    auto create = page<TBNSaveAccountPopoverViewController>("TBNSaveAccountPopoverViewController");
    create->setQuestion({});
    shoot(create, "save-account-new");

    shoot(ui::popoverAtName("TBNRestoreDatabasePopoverViewController"), "restore");
    settings_->setBackupLocation((root_ / "backups").string());
    settings_->waitForPendingSaves();
    shoot(ui::popoverAtName("TBNBackupDatabasePopoverViewController"), "backup");

    auto guide = page<TBNGuidePopoverViewController>("TBNGuidePopoverViewController");
    guide->updateTitle(ui::text("GUIDE_WELCOME_TITLE"), ui::text("GUIDE_WELCOME_MESSAGE"));
    shoot(guide, "guide");
    auto large = page<TBNGuidePopoverViewController>("TBNGuidePopoverLargeViewController");
    large->updateTitle(ui::text("GUIDE_RESET_ANALYTICS_TITLE"),
                       ui::text("GUIDE_RESET_ANALYTICS_MESSAGE"));
    shoot(large, "guide-large");

    auto message = page<TBNMessagePopoverViewController>("TBNMessagePopoverViewController");
    message->updateTitle("Phone found", "Your phone is back in reach.", "OK", false);
    shoot(message, "message");

    auto rate = page<TBNRatePopoverViewController>("TBNRatePopoverViewController");
    shoot(rate, "rate-question");
    auto stars = page<TBNRatePopoverViewController>("TBNRatePopoverViewController");
    shoot(stars, "rate-stars", [&] {
        stars->buttonRate->click();
        advance(0.7);
        stars->updateRate(4);
    });
    auto review = page<TBNRatePopoverViewController>("TBNRatePopoverViewController");
    shoot(review, "rate-review", [&] {
        review->buttonRate->click();
        advance(0.7);
        review->updateRate(5);
        review->buttonRate->click();
    });

    for (auto [type, name] : {std::pair{TBNInstallDriverViewType::Install, "driver-install"},
                              std::pair{TBNInstallDriverViewType::Start, "driver-start"}}) {
        auto driver =
            page<TBNInstallDriverPopoverViewController>("TBNInstallDriverPopoverViewController");
        driver->setViewType(type);
        shoot(driver, name);
    }

    shoot(ui::popoverAtName("TBNPasswordGeneratorPopoverViewController"), "password-generator");
    auto v2 = page<TBNPasswordGeneratorV2PopoverViewController>(
        "TBNPasswordGeneratorV2PopoverViewController");
    shoot(v2, "password-generator-v2-custom",
          [&] { v2->generalSlider->setValue(v2->generalSlider->maximum()); });
    shoot(ui::popoverAtName("TBNAboutPopoverViewController"), "about");
    shoot(ui::popoverAtName("TBNDebugSettingsPopoverViewController"), "debug-settings");

    shoot(ui::popoverAtName("TBNPairDevicePopoverViewController"), "pair-device-searching");
    auto phone = std::make_shared<TBNOSXDeviceInfo>();
    phone->setDeviceId(std::string("DEV-7"));
    phone->setHardwareId(std::string("HW-7"));
    phone->setName(std::string("Anna's Pixel"));
    phone->setModel(std::string("Pixel 8"));
    phone->setOsVersion(std::string("14"));
    phone->setOnline(true);
    settings_->addOnlineDevice(phone);
    settings_->waitForPendingSaves();
    shoot(ui::popoverAtName("TBNPairDevicePopoverViewController"), "pair-device-list");
    auto pairing = page<TBNPairDevicePopoverViewController>("TBNPairDevicePopoverViewController");
    shoot(pairing, "pair-device-code", [&] {
        pairing->searchDevicesTableView->setCurrentRow(0);
        pairing->pairButton->click();
    });

    TBNQRCodeViewController qr(TBNQRCodeViewController::Pairing{});
    qr.setQRCodeValue(std::string("https://lumvane.io/auth/appinstall.html#pairing"));
    shootWidget(&qr, "qr-pairing-window");
    TBNGuideViewController guideWindow;
    shootWidget(&guideWindow, "guide-window");
    phone->setAppVersion(std::string("3.1"));
    phone->setRssi(3);
    std::unique_ptr<QWidget> menuView(ui::makePairedDeviceMenuItemView(phone));
    shootWidget(menuView.get(), "menu-paired-phone");
}

}  // namespace
}  // namespace lumvane::testing
