// The generators, About with its debug settings, pairing with a phone nearby, the paired
// phone's menu view, the quick guide and the QR pairing window.
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QSlider>
#include <QTest>

#include "UITestSupport.h"
#include "idl/settings.h"
#include "ui/MenuActions.h"
#include "ui/MenuItemViews.h"
#include "ui/MorePages.h"
#include "ui/QRCodeWindow.h"
#include "ui/TBNUIHelper.h"
#include "ui/UserInterface.h"

namespace lumvane::testing {
namespace {

class SettingsPagesTest : public PageFixture {
  protected:
    template <class Page>
    std::shared_ptr<Page> open(const char* identifier) {
        auto page = std::dynamic_pointer_cast<Page>(ui::popoverAtName(identifier));
        present(page);
        return page;
    }

    void storeGenerator(int32_t profile, int length, int digits, int symbols) {
        auto config = std::make_shared<TBNGeneratorConfig>();
        config->setLenght(static_cast<int16_t>(length));
        config->setDigits(static_cast<int16_t>(digits));
        config->setSymbols(static_cast<int16_t>(symbols));
        config->setCapitalization(30);
        config->setReadability(0);
        config->setUseDigits(true);
        config->setUseSymbols(true);
        config->setUseCapitalization(true);
        auto g = std::make_shared<TBNGeneratorSettings>();
        g->setProfile(profile);
        g->setConfig(config);
        settings_->setGeneratorSettings(g);
        settings_->waitForPendingSaves();
    }

    std::shared_ptr<TBNGeneratorConfig> storedConfig() {
        settings_->waitForPendingSaves();
        return settings_->generatorSettings()->config();
    }
};

// ---- Password generator ---------------------------------------------------------------

TEST_F(SettingsPagesTest, GeneratorChangesAreStoredAtOnceAndSurviveReopening) {
    storeGenerator(3, 16, 20, 20);
    {
        auto page = open<TBNPasswordGeneratorPopoverViewController>(
            "TBNPasswordGeneratorPopoverViewController");
        EXPECT_EQ(page->lenghtSlider->value(), 16);
        EXPECT_EQ(page->passwordTextField->text().size(), 16);
        page->lenghtSlider->setValue(24);
        EXPECT_EQ(storedConfig()->lenght(), 24);
        EXPECT_EQ(page->lenghtValueTextField->text(), "24");
        EXPECT_EQ(page->passwordTextField->text().size(), 24);
        QTest::mouseClick(page->symbolsSwitch, Qt::LeftButton);
        EXPECT_FALSE(storedConfig()->useSymbols());
        QTest::mouseClick(page->digitsSwitch, Qt::LeftButton);
        EXPECT_FALSE(storedConfig()->useDigits());
        // No digit and no symbol in the new password.
        EXPECT_FALSE(page->passwordTextField->text().contains(QRegularExpression("[^A-Za-z]")));
        presenter_->hideCurrentPopover();
        advance(0.4);
    }
    auto again = open<TBNPasswordGeneratorPopoverViewController>(
        "TBNPasswordGeneratorPopoverViewController");
    EXPECT_EQ(again->lenghtSlider->value(), 24);
    EXPECT_FALSE(again->symbolsSwitch->isChecked());
    EXPECT_FALSE(again->digitsSwitch->isChecked());
    EXPECT_TRUE(again->capitalizationSwitch->isChecked());
}

TEST_F(SettingsPagesTest, GeneratorLengthIsClampedToTheSlider) {
    for (int stored : {2, 500}) {
        SCOPED_TRACE(stored);
        storeGenerator(3, stored, 20, 20);
        TBNGeneratorLogic logic(settings_.get());
        EXPECT_EQ(logic.length(),
                  stored < 10 ? TBNGeneratorLogic::kMinLength : TBNGeneratorLogic::kMaxLength);
        logic.setLength(-7);
        EXPECT_EQ(logic.length(), TBNGeneratorLogic::kMinLength);
    }
}

TEST_F(SettingsPagesTest, GeneratorShowsStrengthAsTheUserTypesAndCopies) {
    auto page = open<TBNPasswordGeneratorPopoverViewController>(
        "TBNPasswordGeneratorPopoverViewController");
    struct Case {
        const char* typed;
        unsigned strength;
    };
    for (const Case& c : {Case{"a", 0}, Case{"Xk4#mP9!qL2$wZ7&vB5^", 4}}) {
        SCOPED_TRACE(c.typed);
        ASSERT_EQ(TBNGeneratorLogic::strength(c.typed), c.strength);
        page->passwordTextField->clear();
        page->passwordTextField->setFocus();
        QTest::keyClicks(page->passwordTextField, c.typed);
        EXPECT_EQ(page->strengthPasswordTextField->text(),
                  ui::text(TBNGeneratorLogic::strengthKey(c.strength)));
    }
    const QString password = page->passwordTextField->text();
    QTest::mouseClick(page->passwordCopyButton, Qt::LeftButton);
    EXPECT_EQ(memory_->string(), password.toStdString());
    EXPECT_EQ(copyNotices_, 1);
    EXPECT_FALSE(page->copiedTextField->isHidden());

    // A clipboard that refuses shows no notice.
    memory_->setRefuseWrites(true);
    QTest::mouseClick(page->passwordCopyButton, Qt::LeftButton);
    EXPECT_EQ(copyNotices_, 1);
}

TEST_F(SettingsPagesTest, SecondGeneratorKeepsDigitsAndSymbolsWithinAHundred) {
    struct Case {
        int digits, symbols;
        bool moveSymbols;
        int to;
        int wantDigits, wantSymbols;
    };
    const Case cases[] = {
        {70, 10, true, 40, 60, 40},
        {30, 70, false, 30, 30, 70},
        {20, 50, false, 90, 90, 10},
        {20, 50, false, 150, 100, 0},
    };
    for (const auto& c : cases) {
        storeGenerator(TBNGeneratorLogic::kCustomProfile, 16, c.digits, c.symbols);
        auto page = open<TBNPasswordGeneratorV2PopoverViewController>(
            "TBNPasswordGeneratorV2PopoverViewController");
        EXPECT_EQ(page->generalSlider->value(), page->generalSlider->maximum());
        EXPECT_FALSE(page->customBox->isHidden());
        EXPECT_TRUE(page->saveButton->isHidden());
        if (c.moveSymbols) {
            page->actionSymbolsSlider(c.to);
        } else {
            page->actionDigitsSlider(c.to);
        }
        EXPECT_EQ(page->logic().digits(), c.wantDigits);
        EXPECT_EQ(page->logic().symbols(), c.wantSymbols);
        EXPECT_EQ(page->digitsSlider->value(), c.wantDigits);
        EXPECT_EQ(page->symbolsSlider->value(), c.wantSymbols);
        EXPECT_EQ(page->saveButton->isHidden(),
                  c.wantDigits == c.digits && c.wantSymbols == c.symbols);
        presenter_->hideCurrentPopover();
        advance(0.4);
    }
}

TEST_F(SettingsPagesTest, SecondGeneratorStoresOnlyOnSave) {
    storeGenerator(2, 16, 20, 20);
    auto page = open<TBNPasswordGeneratorV2PopoverViewController>(
        "TBNPasswordGeneratorV2PopoverViewController");
    EXPECT_TRUE(page->customBox->isHidden());
    const int profile2Length = page->logic().length();
    page->generalSlider->setValue(page->generalSlider->maximum());
    EXPECT_FALSE(page->customBox->isHidden());
    EXPECT_EQ(page->logic().profile(), TBNGeneratorLogic::kCustomProfile);
    EXPECT_EQ(page->logic().length(), profile2Length);
    EXPECT_FALSE(page->saveButton->isHidden());
    EXPECT_EQ(settings_->generatorSettings()->profile(), 2);
    page->saveButton->click();
    EXPECT_EQ(settings_->generatorSettings()->profile(), TBNGeneratorLogic::kCustomProfile);
    EXPECT_TRUE(page->saveButton->isHidden());
}

// ---- About and debug settings ---------------------------------------------------------

TEST_F(SettingsPagesTest, FourQuickIconClicksAskForTheDebugSettings) {
    struct Case {
        const char* name;
        std::vector<double> clicks;
        int opens;
    };
    const Case cases[] = {
        {"four clicks 0.5 s apart", {0.0, 0.5, 1.0, 1.5}, 1},
        {"a gap of 1 s restarts the count", {0.0, 0.5, 1.5, 2.0}, 0},
        {"the count restarts at the slow click", {0.0, 1.2, 1.7, 2.2, 2.7}, 1},
        {"eight quick clicks ask once", {0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto page = std::dynamic_pointer_cast<TBNAboutPopoverViewController>(
            ui::popoverAtName("TBNAboutPopoverViewController"));
        int opens = 0;
        page->setDebugSettingsRequested([&] { ++opens; });
        for (double t : c.clicks) page->actionIconImageView(1000 + t);
        EXPECT_EQ(opens, c.opens);
    }
}

TEST_F(SettingsPagesTest, AboutShowsTheVersionAndOpensItsLinks) {
    auto page = open<TBNAboutPopoverViewController>("TBNAboutPopoverViewController");
    EXPECT_TRUE(page->versionTextField->text().contains(
        QString::fromStdString(settings_->appVersion().value_or("1.2.3"))));
    page->policyButton->click();
    ASSERT_EQ(urlsOpened_.size(), 1u);
    EXPECT_EQ(urlsOpened_[0], TBNAboutPopoverViewController::kPrivacyPolicy);
    advance(0.4);
    EXPECT_EQ(presenter_->current(), nullptr);
}

TEST_F(SettingsPagesTest, DebugSwitchesWriteTheSettingsAtOnce) {
    auto page =
        open<TBNDebugSettingsPopoverViewController>("TBNDebugSettingsPopoverViewController");
    EXPECT_FALSE(page->supportYubiKeySwitch->isEnabled());
    page->osxExtModeSwitch->click();
    settings_->waitForPendingSaves();
    EXPECT_TRUE(settings_->osxExtendedMode());
    EXPECT_TRUE(page->supportYubiKeySwitch->isEnabled());
    page->supportYubiKeySwitch->click();
    settings_->waitForPendingSaves();
    EXPECT_TRUE(settings_->supportYubiKey());
    // Turning the extended mode off disables the key switch but keeps its setting.
    page->osxExtModeSwitch->click();
    settings_->waitForPendingSaves();
    EXPECT_FALSE(page->supportYubiKeySwitch->isEnabled());
    EXPECT_TRUE(settings_->supportYubiKey());
    page->enableBLETestintSwitch->click();
    settings_->waitForPendingSaves();
    EXPECT_TRUE(settings_->enableBLETesting());
}

TEST_F(SettingsPagesTest, DebugBackupFolderChoice) {
    qputenv("HOME", QByteArray::fromStdString(root_.string()));
    auto page =
        open<TBNDebugSettingsPopoverViewController>("TBNDebugSettingsPopoverViewController");
    EXPECT_FALSE(page->selectBackupLocationButton->isEnabled());
    page->enableCopyBackupSwitch->click();
    settings_->waitForPendingSaves();
    const auto folder = settings_->altBackupLocation();
    ASSERT_TRUE(folder);
    EXPECT_TRUE(QString::fromStdString(*folder).endsWith("Lumvane_backups"));
    EXPECT_TRUE(std::filesystem::is_directory(*folder));
    EXPECT_TRUE(page->selectBackupLocationButton->isEnabled());

    // Cancelling or confirming the same folder changes nothing.
    fileAnswer_.reset();
    page->selectBackupLocationButton->click();
    fileAnswer_ = QString::fromStdString(*folder);
    page->selectBackupLocationButton->click();
    settings_->waitForPendingSaves();
    EXPECT_EQ(settings_->altBackupLocation(), folder);
    const auto other = root_ / "elsewhere" / "backups";
    fileAnswer_ = QString::fromStdString(other.string());
    page->selectBackupLocationButton->click();
    settings_->waitForPendingSaves();
    EXPECT_EQ(settings_->altBackupLocation(), other.string());
    EXPECT_TRUE(std::filesystem::is_directory(other));

    page->enableCopyBackupSwitch->click();
    settings_->waitForPendingSaves();
    EXPECT_FALSE(settings_->altBackupLocation());
    EXPECT_TRUE(page->backupLocationTextField->text().isEmpty());
}

// ---- Pair device ----------------------------------------------------------------------

TEST_F(SettingsPagesTest, PairDeviceListsPhonesAndEndsByTheResult) {
    struct Case {
        const char* name;
        std::function<void(TBNPairDevicePopoverViewController&)> end;
        double closesAfter;  // < 0: stays open
        bool tryAgain;
    };
    const Case cases[] = {
        {"success", [](auto& p) { p.successPair(); }, 5, false},
        // Its 10 s start when the failure has faded in.
        {"not authorised", [](auto& p) { p.failPairWithError(1, 1); }, 10.3, false},
        {"timed out", [](auto& p) { p.failPairWithError(3, 7); }, -1, true},
    };
    auto phone = std::make_shared<TBNOSXDeviceInfo>();
    phone->setDeviceId(std::string("DEV-9"));
    phone->setHardwareId(std::string("HW-9"));
    phone->setName(std::string("Nearby phone"));
    phone->setOnline(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings_->removeOnlineDeviceAtHardwareId(std::string("HW-9"));
        settings_->waitForPendingSaves();
        int closed = 0;
        auto page = std::dynamic_pointer_cast<TBNPairDevicePopoverViewController>(
            ui::popoverAtName("TBNPairDevicePopoverViewController"));
        page->setClosed([&] { ++closed; });
        present(page);
        EXPECT_EQ(page->searchDevicesTableView->count(), 0);
        EXPECT_FALSE(page->searchingTextField->isHidden());
        EXPECT_FALSE(page->pairButton->isEnabled());
        page->actionPair();
        EXPECT_FALSE(page->pairingDevice());

        settings_->addOnlineDevice(phone);
        ASSERT_TRUE(waitFor([&] { return page->searchDevicesTableView->count() == 1; }));
        EXPECT_TRUE(page->searchingTextField->isHidden());
        page->searchDevicesTableView->setCurrentRow(0);
        EXPECT_TRUE(page->pairButton->isEnabled());
        page->pairButton->click();
        advance(0.7);
        EXPECT_EQ(page->pairingCodeTextField->text().size(), 5);
        EXPECT_EQ(page->selectedDeviceTitleTextField->text(), "Nearby phone");
        c.end(*page);
        advance(0.7);
        if (c.closesAfter > 0) {
            advance(c.closesAfter - 0.8);
            EXPECT_EQ(presenter_->current(), page);
            advance(0.3);
            EXPECT_EQ(presenter_->current(), nullptr);
        } else {
            advance(30);
            EXPECT_EQ(presenter_->current(), page);
            EXPECT_FALSE(page->tryAgainButton->isHidden());
            page->tryAgainButton->click();
            advance(0.7);
            EXPECT_FALSE(page->searchDevicesBox->isHidden());
            EXPECT_FALSE(page->pairButton->isEnabled());
            presenter_->clickIcon();
        }
        advance(0.4);
        EXPECT_EQ(closed, 1);
    }
}

// The phones are the device cells the wizard shows; a spinner turns while none is found and
// while the phone is asked.
TEST_F(SettingsPagesTest, PairDeviceShowsPhonesInDeviceCellsAndSpinsWhileWaiting) {
    auto page = std::dynamic_pointer_cast<TBNPairDevicePopoverViewController>(
        ui::popoverAtName("TBNPairDevicePopoverViewController"));
    present(page);
    auto* searching = page->findChild<QWidget*>("searchDevicesProgressIndicator");
    ASSERT_TRUE(searching);
    EXPECT_TRUE(searching->isVisible());
    EXPECT_TRUE(searching->property("animating").toBool());

    auto phone = std::make_shared<TBNOSXDeviceInfo>();
    phone->setDeviceId(std::string("DEV-3"));
    phone->setHardwareId(std::string("HW-3"));
    phone->setName(std::string("Anna's phone"));
    phone->setOnline(true);  // no model, no system, no application version known yet
    settings_->addOnlineDevice(phone);
    ASSERT_TRUE(waitFor([&] { return page->searchDevicesTableView->count() == 1; }));
    EXPECT_FALSE(searching->isVisible());
    EXPECT_FALSE(searching->property("animating").toBool());
    QWidget* cell = page->searchDevicesTableView->itemWidget(page->searchDevicesTableView->item(0));
    ASSERT_TRUE(cell);
    EXPECT_TRUE(cell->inherits("lumvane::TBNWizardDeviceTableCellView"));
    auto label = [&](const char* name) {
        auto* l = cell->findChild<QLabel*>(name);
        return l ? l->text() : QString("(none)");
    };
    EXPECT_EQ(label("titleTextField"), "Anna's phone");
    EXPECT_EQ(label("subTitleTextField"), ui::text("MESSAGE_UNKNOWN_MODEL"));
    page->searchDevicesTableView->setCurrentRow(0);
    settle();
    presenter_->window()->adjustSize();
    settle();
    QDir().mkpath(LUMVANE_UI_ARTEFACTS);
    EXPECT_TRUE(presenter_->window()->grab().save(
        QDir(LUMVANE_UI_ARTEFACTS).filePath("pair-device-selected.png")));

    page->pairButton->click();
    advance(0.7);
    auto* pairing = page->findChild<QWidget*>("pairingProgressIndicator");
    ASSERT_TRUE(pairing);
    EXPECT_TRUE(pairing->isVisible());
    EXPECT_TRUE(pairing->property("animating").toBool());
    page->successPair();
    advance(0.7);
    EXPECT_FALSE(pairing->property("animating").toBool());
    EXPECT_FALSE(page->pairedBox->isHidden());
}

// ---- Menu view, guide window, QR window, TLS alerts -------------------------------------

TEST_F(SettingsPagesTest, PairedPhoneMenuViewShowsThePhoneOrUnknownTexts) {
    std::unique_ptr<QWidget> view(ui::makePairedDeviceMenuItemView(nullptr));
    auto* phoneView = static_cast<TBNMenuPairedDeviceViewController*>(view.get());
    EXPECT_EQ(phoneView->deviceTitleTextField->text(), ui::text("MESSAGE_UNKNOWN_DEVICE"));
    EXPECT_EQ(phoneView->deviceSubTitleTextField->text(), ui::text("MESSAGE_UNKNOWN_MODEL"));
    EXPECT_TRUE(phoneView->deviceSubTwoTitleTextField->text().isEmpty());

    auto phone = std::make_shared<TBNOSXDeviceInfo>();
    phone->setName(std::string("Pixel of Anna"));
    phone->setModel(std::string("Pixel 8"));
    phone->setOsVersion(std::string("14"));
    phone->setAppVersion(std::string("3.1"));
    phone->setOnline(true);
    phone->setRssi(3);
    phoneView->setPairedDevice(phone);
    EXPECT_EQ(phoneView->deviceTitleTextField->text(), "Pixel of Anna");
    EXPECT_EQ(phoneView->deviceSubTitleTextField->text(),
              "Pixel 8" + ui::text("MESSAGE_OS_VERSION").arg("14"));
    EXPECT_EQ(phoneView->deviceSubTwoTitleTextField->text(),
              ui::text("MESSAGE_LUMVANE_VERSION").arg("3.1"));
    EXPECT_EQ(TBNUIHelper::menuRSSIIconNameByDevice(phone.get()), "menu_icon_rssi_3_22_22");
    EXPECT_EQ(TBNUIHelper::menuDeviceIconNameByDevice(phone.get(), true),
              "menu_icon_device_online_white_22_22");
    phone->setOnline(false);
    EXPECT_EQ(TBNUIHelper::menuRSSIIconNameByDevice(phone.get()), "menu_icon_empty_22_22");
}

TEST_F(SettingsPagesTest, GuideWindowSteps) {
    auto* guide = ui::showGuideWindow();
    QPointer<TBNGuideViewController> alive(guide);
    EXPECT_TRUE(guide->backButton->isHidden());
    EXPECT_TRUE(guide->finishButton->isHidden());
    guide->actionBackButton();
    EXPECT_EQ(guide->currentIndex(), 0u);
    guide->nextButton->click();
    guide->nextButton->click();
    EXPECT_EQ(guide->currentIndex(), 2u);
    EXPECT_TRUE(guide->nextButton->isHidden());
    EXPECT_FALSE(guide->finishButton->isHidden());
    guide->actionNextButton();
    EXPECT_EQ(guide->currentIndex(), 2u);
    guide->finishButton->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(alive);
}

// The first page's text points at the icon (1) and the menu (2): its picture shows both.
TEST_F(SettingsPagesTest, GuideWindowPicturesShowWhatTheirTextsPointAt) {
    TBNGuideViewController guide;
    auto opaqueWhiteIn = [](const QImage& image, const QRect& area) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() == 255 && c.red() > 240 && c.green() > 240 && c.blue() > 240)
                    return true;
            }
        }
        return false;
    };
    // The open menu below the icon, its lower part empty of items on every page.
    const QRect menu(180, 110, 90, 18);
    // Left of the menu, where its number stands.
    const QRect menuLabel(110, 40, 56, 80);
    for (size_t page = 0; page < guide.pageCount(); ++page) {
        SCOPED_TRACE(page);
        const QImage image = guide.guideImageView->pixmap().toImage();
        ASSERT_FALSE(image.isNull());
        const QColor inMenu = image.pixelColor(menu.center());
        EXPECT_GT(inMenu.alpha(), 180) << "the open menu is drawn";
        if (page == 0) {
            EXPECT_TRUE(guide.guideTextField->text().contains("(2)"));
            EXPECT_TRUE(opaqueWhiteIn(image, menuLabel)) << "the menu's (2)";
        }
        guide.actionNextButton();
    }
    guide.show();
    guide.actionBackButton();
    guide.actionBackButton();
    settle();
    QDir().mkpath(LUMVANE_UI_ARTEFACTS);
    EXPECT_TRUE(guide.grab().save(QDir(LUMVANE_UI_ARTEFACTS).filePath("guide-window-first.png")));
}

TEST_F(SettingsPagesTest, QRWindowPairsByItselfOrOnlyShowsTheWizardsCode) {
    std::function<void(const std::string&)> url, progress;
    std::function<void()> success;
    int stops = 0;
    TBNQRCodeViewController::Pairing pairing;
    pairing.start = [&](auto u, auto p, auto s, auto) {
        url = u;
        progress = p;
        success = s;
    };
    pairing.stop = [&] { ++stops; };
    auto* window = ui::showQRCodeWindowWith(pairing, std::nullopt);
    QPointer<TBNQRCodeViewController> alive(window);
    EXPECT_FALSE(window->fromWizard());
    EXPECT_TRUE(window->qrCodeImageView->isHidden());
    // A second opening raises the same window.
    EXPECT_EQ(ui::showQRCodeWindowWith(pairing, std::nullopt), window);
    url("https://lumvane.io/auth/appinstall.html#abc");
    progress("Waiting for the phone");
    settle();
    EXPECT_FALSE(window->qrCodeImageView->isHidden());
    EXPECT_EQ(window->qrCodeImageView->pixmap().width(), 200);
    EXPECT_EQ(window->stateTextField->text(), "Waiting for the phone");
    success();
    settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(alive);
    EXPECT_EQ(stops, 0);

    auto* shown = ui::showQRCodeWindowWith(pairing, std::string("wizard-value"));
    EXPECT_TRUE(shown->fromWizard());
    EXPECT_EQ(shown->qrCodeImageView->pixmap().width(), 320);
    shown->closeButton->click();
    EXPECT_EQ(stops, 1);
}

TEST_F(SettingsPagesTest, TlsIdentityAlertAnswersCreateOrQuit) {
    auto service = ui::makePopoverUIService(presenter_);
    for (bool create : {true, false}) {
        SCOPED_TRACE(create);
        std::vector<bool> answers;
        service->showCreateSSLIdentityAlert([&](bool yes) { answers.push_back(yes); });
        settle();
        auto* box = application().findChild<QMessageBox*>();
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == "createSSLIdentityAlert") box = static_cast<QMessageBox*>(w);
        }
        ASSERT_TRUE(box);
        EXPECT_TRUE(box->isModal());
        for (QAbstractButton* b : box->buttons()) {
            if ((box->buttonRole(b) == QMessageBox::AcceptRole) == create) b->click();
        }
        settle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(answers, std::vector<bool>{create});
    }
}

TEST_F(SettingsPagesTest, TlsIdentityFailureTellsWhenItIsClosed) {
    auto service = ui::makePopoverUIService(presenter_);
    int closed = 0;
    service->showSSLIdentityFailedAlert([&] { ++closed; });
    settle();
    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "sslIdentityFailedAlert") box = static_cast<QMessageBox*>(w);
    }
    ASSERT_TRUE(box);
    EXPECT_EQ(closed, 0);
    box->button(QMessageBox::Ok)->click();
    settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(closed, 1);
}

}  // namespace
}  // namespace lumvane::testing

namespace lumvane::testing {
namespace {

class MenuActionsTest : public PageFixture {};

TEST_F(MenuActionsTest, QuickClicksOnAboutOpenTheDebugSettingsOnlyWithinThirtySeconds) {
    struct Case {
        const char* name;
        double waitFirst;
        bool opens;
    };
    for (const Case& c : {Case{"at once", 0, true}, Case{"after 31 s", 31, false}}) {
        SCOPED_TRACE(c.name);
        ui::showAbout(presenter_);
        settle();
        auto about =
            std::dynamic_pointer_cast<TBNAboutPopoverViewController>(presenter_->current());
        ASSERT_TRUE(about);
        advance(c.waitFirst + 0.3);
        for (double t : {0.0, 0.3, 0.6, 0.9}) about->actionIconImageView(5000 + t);
        settle();
        ASSERT_TRUE(presenter_->current());
        EXPECT_EQ(presenter_->current()->identifier() == "TBNDebugSettingsPopoverViewController",
                  c.opens);
        presenter_->hideCurrentPopover();
        advance(0.4);
    }
}

}  // namespace
}  // namespace lumvane::testing
