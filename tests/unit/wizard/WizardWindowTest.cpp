// The wizard windows drawn offscreen: a screenshot of every page (for a person to look
// at), the QR code read back with zbarimg, and the window's close button at each page of
// the first run ending the wizard without leaving anything half started.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "WizardTestSupport.h"
#include "ui/TBNUIHelper.h"
#include "ui/wizard/WizardDevicePages.h"
#include "ui/wizard/WizardFirstRunPages.h"
#include "ui/wizard/WizardImportExportPages.h"
#include "ui/wizard/WizardWindows.h"

namespace lumvane::wizardtest {
namespace {

void settle() {
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

QString artefact(const std::string& name) {
    QDir().mkpath(LUMVANE_WIZARD_ARTEFACTS);
    return QString::fromStdString(std::string(LUMVANE_WIZARD_ARTEFACTS) + "/" + name + ".png");
}

// What zbarimg reads in a picture (empty when nothing).
std::string decodeQRCode(const QString& png) {
    const std::string command = "zbarimg --raw -q '" + png.toStdString() + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "";
    std::string out;
    std::array<char, 512> buffer{};
    while (size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
        out.append(buffer.data(), n);
    ::pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

bool haveZbarimg() {
    return std::system("command -v zbarimg >/dev/null 2>&1") == 0;
}

class WizardWindowTest : public ::testing::Test {
  protected:
    // A window whose first page is `page` (made on the window's context).
    template <class Page, class... Args>
    std::shared_ptr<Page> openAt(Args&&... args) {
        context_ = std::make_shared<WizardContext>(services);
        auto page = std::make_shared<Page>(context_, std::forward<Args>(args)...);
        flow_ = std::make_shared<WizardFlow>(context_);
        flow_->setFirstPage(page);
        flow_->setDelegate(delegate);
        window_ = std::make_unique<WizardWindow>(flow_);
        window_->start();
        world.pump();
        settle();
        return page;
    }

    void shoot(const std::string& name) {
        world.pump();
        settle();
        ASSERT_TRUE(window_->grab().save(artefact(name)));
    }

    void TearDown() override {
        window_.reset();
        settle();
    }

    FakeWizardWorld world;
    WizardServices services = world.services();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<WizardContext> context_;
    std::shared_ptr<WizardFlow> flow_;
    std::unique_ptr<WizardWindow> window_;
};

TEST_F(WizardWindowTest, ScreenshotOfEveryFirstRunPage) {
    openAt<WizardWelcomePage>();
    EXPECT_TRUE(window_->button(WizardButton::Cancel)->isVisible());
    EXPECT_FALSE(window_->button(WizardButton::Next)->isEnabled());
    shoot("01-welcome-checking");
    world.runBackground();
    EXPECT_TRUE(window_->button(WizardButton::Next)->isEnabled());
    shoot("02-welcome");

    openAt<WizardLicensePage>();
    shoot("03-licence");

    world.zone = 1;
    world.settings->setSendReports(true);
    openAt<WizardConsentPage>();
    EXPECT_FALSE(window_->button(WizardButton::Next)->isEnabled());
    shoot("04-consent-region-unknown");
    world.runBackground();
    EXPECT_TRUE(window_->button(WizardButton::Next)->isEnabled());
    auto* sw = window_->findChild<QAbstractButton*>("debugSwitch");
    ASSERT_TRUE(sw);
    EXPECT_TRUE(sw->isVisible());
    EXPECT_TRUE(sw->isChecked());
    shoot("04-consent-grey-zone");
    world.zone = 0;
    openAt<WizardConsentPage>();
    world.runBackground();
    EXPECT_FALSE(window_->findChild<QAbstractButton*>("debugSwitch")->isVisible());
    shoot("05-consent-white-zone");

    auto extensions = openAt<WizardExtensionsPage>();
    auto* firefox = window_->findChild<QPushButton*>("installButton_Firefox");
    auto* opera = window_->findChild<QPushButton*>("installButton_Opera");
    ASSERT_TRUE(firefox && opera);
    EXPECT_TRUE(firefox->isEnabled());
    EXPECT_FALSE(opera->isEnabled());
    firefox->click();
    EXPECT_EQ(world.installs, (std::vector<TBNBrowser>{TBNBrowser::Firefox}));
    world.advance(0.1);
    EXPECT_EQ(world.serviceStarts, 1);
    shoot("06-extensions");

    auto qr = openAt<WizardPairQRCodePage>();
    shoot("07-pair-waiting-for-code");
    world.advance(0.1);
    ASSERT_EQ(world.pairings.size(), 1u);
    world.pairings[0].url("https://lumvane.io/auth/appinstall.html#auth=SCREENSHOT");
    world.pairings[0].process("Searching for your phone…");
    shoot("08-pair-code");
    auto error = std::make_shared<TBNError>();
    error->setDebugMessage(std::string("the phone did not answer in time"));
    world.pairings[0].fail(error);
    shoot("09-pair-failed");

    openAt<WizardDonePage>();
    shoot("10-done-skipped");
}

TEST_F(WizardWindowTest, ScreenshotOfEveryImportAndExportPage) {
    std::vector<WizardServices::Callback> approved, completion;
    std::vector<WizardServices::Started> started;
    services.importFile = [&](int32_t, const std::filesystem::path&, WizardServices::Callback a,
                              WizardServices::Started s, WizardServices::Callback c) {
        approved.push_back(a);
        started.push_back(s);
        completion.push_back(c);
    };
    services.exportFile = services.importFile;

    auto list = openAt<WizardImportPage>();
    auto* rows = window_->findChild<QListWidget*>("sourceTableView");
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->count(), 7);
    EXPECT_EQ(rows->currentRow(), 0);
    rows->setCurrentRow(1);
    EXPECT_EQ(list->selectedRow(), 1);
    shoot("11-import-sources");

    auto file = openAt<WizardImportSourceFilePage>(2);
    window_->findChild<QPushButton*>("fileSelectButton")->click();
    ASSERT_EQ(world.panels.size(), 1u);
    world.panels[0].answer("/home/user/Documents/lastpass_export.csv");
    EXPECT_EQ(window_->findChild<QLineEdit*>("fileTextField")->text(),
              "/home/user/Documents/lastpass_export.csv");
    EXPECT_TRUE(window_->button(WizardButton::Next)->isEnabled());
    shoot("12-import-file");

    openAt<WizardImportProgressPage>(2, "/tmp/x.csv");
    ASSERT_EQ(started.size(), 1u);
    started[0]();
    shoot("13-import-waiting-approval");
    completion[0]("Unsuported data format");
    world.pump();
    EXPECT_TRUE(window_->button(WizardButton::Next)->isEnabled());
    // The message is a key of ours: the window shows its text, spelt right.
    EXPECT_EQ(window_->findChild<QLabel*>("failedMessageTextField")->text(),
              "Unsupported data format");
    shoot("14-import-failed");
    openAt<WizardImportProgressPage>(2, "/tmp/x.csv");
    approved[1](std::nullopt);
    completion[1](std::nullopt);
    world.pump();
    EXPECT_TRUE(window_->findChild<QLabel*>("doneTextField")->isVisible());
    shoot("15-import-done");

    auto exportPage = openAt<WizardExportPage>();
    exportPage->setFilePath("/home/user/Documents/Untitled.lumvane.json");
    shoot("16-export");
    openAt<WizardExportProgressPage>(0, "/tmp/x.json");
    shoot("17-export-waiting-approval");
    approved[2](std::nullopt);
    started[2]();
    completion[2](std::nullopt);
    shoot("18-export-done");
}

TEST_F(WizardWindowTest, ScreenshotOfEveryDevicePairingPage) {
    auto source = openAt<WizardSelectSourcePage>();
    source->selectRow(0);
    shoot("19-select-source");

    auto device = std::make_shared<TBNOSXDeviceInfo>();
    device->setHardwareId(std::string("HW-1"));
    device->setDeviceId(std::string("DEV-1"));
    device->setName(std::string("Alice's iPhone"));
    device->setModel(std::string("iPhone9,3"));
    device->setOsVersion(std::string("16.1"));
    device->setAppVersion(std::string("1.2.0"));
    auto select = openAt<WizardSelectDevicePage>();
    shoot("20-select-device-searching");
    world.settings->addOnlineDevice(device);
    auto second = std::make_shared<TBNOSXDeviceInfo>(*device);
    second->setHardwareId(std::string("HW-2"));
    second->setName(std::string("Work phone"));
    world.settings->addOnlineDevice(second);
    select->settingsChanged(TBNSettingsComponentOnlineDevices);
    select->selectRow(0);
    EXPECT_TRUE(window_->button(WizardButton::Next)->isEnabled());
    shoot("21-select-device");

    world.settings->setPairingHardwareId(std::string("HW-1"));
    openAt<WizardPairingWithDevicePage>();
    EXPECT_FALSE(window_->button(WizardButton::Next)->isEnabled());
    shoot("22-pairing-with-device");
    openAt<WizardInviteToInstallPage>();
    shoot("23-invite");
    openAt<WizardStartServiceDonePage>(kInviteDonePageId);
    shoot("24-invite-done");
    openAt<WizardStartServiceDonePage>(kSkipDonePageId);
    shoot("25-skip-done");
}

TEST_F(WizardWindowTest, QRCodeOfThePairingPageReadsBackAsTheInvitation) {
    if (!haveZbarimg()) GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
    auto qr = openAt<WizardPairQRCodePage>();
    world.advance(0.1);
    // The larger code opened before the invitation came shows it when it comes.
    window_->findChild<QPushButton*>("zoomButton")->click();
    settle();
    EXPECT_TRUE(qr->zoomOpen());
    const std::string url = TBNService::makePairingInvitation("wizard-test").url;
    world.pairings.at(0).url(url);
    world.pump();
    settle();
    auto* image = window_->findChild<QLabel*>("qrCodeImageView");
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->isVisible());
    const QString png = artefact("qr-code");
    ASSERT_TRUE(image->pixmap().save(png));
    EXPECT_EQ(decodeQRCode(png), url);
    auto* zoom = window_->findChild<QWidget*>("qrZoomWindow");
    ASSERT_TRUE(zoom);
    const QString zoomed = artefact("qr-code-zoomed");
    ASSERT_TRUE(zoom->grab().save(zoomed));
    EXPECT_EQ(decodeQRCode(zoomed), url);
    world.pairings.at(0).success(1);
    world.pump();
    settle();
    EXPECT_FALSE(window_->findChild<QWidget*>("qrZoomWindow"));
}

// Before the invitation arrives the larger window says so, readable on its white ground.
TEST_F(WizardWindowTest, EnlargedCodeWindowIsReadableBeforeTheCodeArrives) {
    openAt<WizardPairQRCodePage>();
    world.advance(0.1);
    window_->findChild<QPushButton*>("zoomButton")->click();
    settle();
    auto* zoom = window_->findChild<QWidget*>("qrZoomWindow");
    ASSERT_TRUE(zoom);
    const QImage image = zoom->grab().toImage();
    ASSERT_TRUE(image.save(artefact("qr-code-zoomed-waiting")));
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 128) ++dark;
        }
    }
    EXPECT_GT(dark, 100) << "the waiting text is drawn in a colour that shows on white";
    EXPECT_EQ(QColor(image.pixel(4, 4)), QColor(Qt::white));
}

// Whether a pixel of `area` is within `tolerance` of `colour` in every channel.
bool hasPixelNear(const QImage& image, const QRect& area, const QColor& colour,
                  int tolerance = 12) {
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) <= tolerance &&
                std::abs(c.green() - colour.green()) <= tolerance &&
                std::abs(c.blue() - colour.blue()) <= tolerance)
                return true;
        }
    }
    return false;
}

// The device cell is the application's: its palette and the phone texts every other view
// shows (a phone that told nothing yet reads as unknown, not as an empty line).
TEST_F(WizardWindowTest, DeviceCellsUseTheApplicationsColoursAndPhoneTexts) {
    auto full = std::make_shared<TBNOSXDeviceInfo>();
    full->setHardwareId(std::string("HW-1"));
    full->setDeviceId(std::string("DEV-1"));
    full->setName(std::string("Alice's iPhone"));
    full->setModel(std::string("iPhone9,3"));
    full->setOsVersion(std::string("16.1"));
    full->setAppVersion(std::string("1.2.0"));
    full->setOnline(true);
    auto bare = std::make_shared<TBNOSXDeviceInfo>();
    bare->setHardwareId(std::string("HW-2"));
    bare->setDeviceId(std::string("DEV-2"));
    bare->setOnline(true);
    world.settings->addOnlineDevice(full);
    world.settings->addOnlineDevice(bare);
    const std::vector<std::shared_ptr<TBNOSXDeviceInfo>> phones{full, bare};
    auto select = openAt<WizardSelectDevicePage>();
    ASSERT_EQ(select->onlineDevices().size(), 2u);

    for (int chosen : {0, 1}) {
        SCOPED_TRACE(chosen);
        select->selectRow(chosen);
        world.pump();
        settle();
        std::vector<QWidget*> cells;
        for (QWidget* w : window_->findChildren<QWidget*>()) {
            if (w->isVisible() && w->inherits("lumvane::TBNWizardDeviceTableCellView"))
                cells.push_back(w);
        }
        ASSERT_EQ(cells.size(), 2u);
        std::sort(cells.begin(), cells.end(), [](QWidget* a, QWidget* b) {
            return a->mapToGlobal(QPoint()).y() < b->mapToGlobal(QPoint()).y();
        });
        for (int row = 0; row < 2; ++row) {
            SCOPED_TRACE(row);
            QWidget* cell = cells[static_cast<size_t>(row)];
            const TBNOSXDeviceInfo* device = phones[static_cast<size_t>(row)].get();
            auto* title = cell->findChild<QLabel*>("titleTextField");
            auto* subtitle = cell->findChild<QLabel*>("subTitleTextField");
            auto* second = cell->findChild<QLabel*>("subTwoTitleTextField");
            ASSERT_TRUE(title && subtitle && second);
            EXPECT_EQ(title->text(), TBNUIHelper::deviceNameByDevice(device));
            EXPECT_EQ(subtitle->text(), TBNUIHelper::deviceInfoByDevice(device));
            EXPECT_FALSE(subtitle->text().isEmpty());
            EXPECT_EQ(second->text(), TBNUIHelper::appInfoByDevice(device));
            const QImage image = cell->grab().toImage();
            auto area = [&](QLabel* label) {
                return QRect(label->mapTo(cell, QPoint()), label->size());
            };
            const bool selected = row == chosen;
            const QColor text = selected ? TBNUIHelper::darkBlueColor() : QColor(Qt::white);
            EXPECT_TRUE(hasPixelNear(image, area(title), text));
            EXPECT_TRUE(hasPixelNear(image, area(subtitle), text));
            if (!second->text().isEmpty()) {
                EXPECT_TRUE(second->isVisible());
                EXPECT_TRUE(hasPixelNear(
                    image, area(second),
                    selected ? TBNUIHelper::darkRedColor() : TBNUIHelper::yellowColor()));
            }
            if (selected) {
                EXPECT_EQ(QColor(image.pixel(cell->width() / 2, 2)), QColor(Qt::white));
            }
        }
        shoot(chosen == 0 ? "26-device-cells-first-chosen" : "27-device-cells-second-chosen");
    }
}

TEST_F(WizardWindowTest, WindowAlertAnswersTheIndexOfTheButtonThatEndedIt) {
    openAt<WizardLicensePage>();
    WizardAlert alert;
    alert.messageKey = "LICENSE_ALERT_MESSAGE";
    alert.buttonKeys = {"LICENSE_ALERT_BUTTON_ACCEPT", "LICENSE_ALERT_BUTTON_DECLINE"};
    for (int pick : {1, 0}) {
        std::vector<int> answers;
        window_->showAlert(alert, [&](int button) { answers.push_back(button); });
        settle();
        auto* box = window_->findChild<QMessageBox*>();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text(), "Do you accept the terms of the Lumvane licence agreement?");
        ASSERT_EQ(box->buttons().size(), 2);
        QAbstractButton* target = nullptr;
        for (auto* b : box->buttons()) {
            if (b->text() == (pick == 0 ? "Accept" : "Decline")) target = b;
        }
        ASSERT_TRUE(target);
        target->click();
        settle();
        EXPECT_EQ(answers, (std::vector<int>{pick}));
        EXPECT_FALSE(window_->findChild<QMessageBox*>());
    }
}

// Drives a first-run window page by page with its buttons and closes it with the window's
// close button at page `stop`.
TEST(WizardWindowClose, CloseButtonAtEachFirstRunPageEndsTheWizardCleanly) {
    const char* pages[] = {kWelcomePageId,    kLicensePageId,    kConsentPageId,
                           kExtensionsPageId, kPairQRCodePageId, kDonePageId};
    for (int stop = 0; stop < 6; ++stop) {
        SCOPED_TRACE(pages[stop]);
        FakeWizardWorld world;
        auto delegate = std::make_shared<RecordingDelegate>();
        QPointer<WizardWindow> window =
            openWizardWindow(WizardKind::FirstRun, world.services(), delegate);
        ASSERT_TRUE(window);
        auto flow = window->flow();
        auto context = flow->context();
        auto next = [&] {
            window->button(WizardButton::Next)->click();
            world.pump();
        };
        world.runBackground();
        for (int i = 0; i < stop; ++i) {
            next();
            if (i == 1) world.answerAlert(0);  // licence accepted
            world.runBackground();
            world.advance(0.1);  // the service start, the pairing start
        }
        settle();
        ASSERT_EQ(flow->currentPage()->identifier(), pages[stop]);
        const bool pairingStarted = !world.pairings.empty();
        EXPECT_EQ(world.serviceStarts, stop >= 3 ? 1 : 0);

        window->close();
        settle();
        EXPECT_FALSE(window) << "the window is gone";
        EXPECT_TRUE(flow->ended());
        EXPECT_TRUE(context->closed);
        EXPECT_FALSE(context->ownsRunningPairing());
        if (stop == 5) {
            EXPECT_EQ(delegate->finished, 1);
            EXPECT_EQ(delegate->cancelled, 0);
            EXPECT_TRUE(world.settings->doneWizard());
        } else {
            EXPECT_EQ(delegate->cancelled, 1);
            EXPECT_EQ(delegate->finished, 0);
            EXPECT_FALSE(world.settings->doneWizard());
        }
        // On the QR page the pairing is the window's; once skipped, it is the service's.
        EXPECT_EQ(world.pairStops, pairingStarted && stop == 4 ? 1 : 0);
        // Whatever the pages had scheduled does not start anything afterwards.
        const int starts = world.serviceStarts;
        world.runBackground();
        world.advance(5);
        EXPECT_EQ(world.serviceStarts, starts);
        EXPECT_EQ(world.pairings.size(), pairingStarted ? 1u : 0u);
    }
}

}  // namespace
}  // namespace lumvane::wizardtest
