// wizard-demo (test only): the first-run wizard over a real application service on the
// simulated radio, driven page by page by itself so a test can pair phone-sim through the
// QR page. Each page is saved as a picture before its Next is pressed.
//
//   wizard-demo --ble=sim:SOCKET --shots FOLDER
//
// Standard output, one line per event:
//   wizard-demo: page IDENTIFIER
//   wizard-demo: invitation URL          (what the QR page shows)
//   wizard-demo: qr PNG                  (the QR image as the page shows it)
//   wizard-demo: finished doneWizard=0|1 paired=NAME|none
//   wizard-demo: cancelled
//   wizard-demo: no wizard, paired=NAME|none   (doneWizard was already set)
// Questions are answered with their first button. The HTTPS servers and the location
// look-up are left out (no administrator password, no network).
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <mutex>
#include <set>
#include <string>

#include "app/StartupSteps.h"
#include "core/remote/BlecPhoneLink.h"
#include "core/service/TBNService.h"
#include "core/service/TBNServiceHandlers.h"
#include "core/service/TBNUIService.h"
#include "crypto/TBNKeyChainManager.h"
#include "platform/ble/BleCentral.h"
#include "runtime/MainLoop.h"
#include "settings/TBNSettings.h"
#include "ui/wizard/WizardFirstRunPages.h"
#include "ui/wizard/WizardQtLoop.h"
#include "ui/wizard/WizardWindows.h"

using namespace lumvane;

namespace {

std::mutex gOutput;

void say(const std::string& line) {
    std::lock_guard<std::mutex> lock(gOutput);
    std::cout << "wizard-demo: " << line << std::endl;
}

std::string pairedName(TBNSettings& settings) {
    auto device = settings.firstPairedDevice();
    if (!device) return "none";
    return device->name().value_or("unnamed");
}

class DemoDelegate : public WizardFlowDelegate {
  public:
    explicit DemoDelegate(std::shared_ptr<TBNSettings> settings) : settings_(std::move(settings)) {}
    void wizardFlowDidCancel() override {
        say("cancelled");
        QTimer::singleShot(0, qApp, [] { QApplication::exit(3); });
    }
    void wizardFlowDidFinish() override {
        say(std::string("finished doneWizard=") + (settings_->doneWizard() ? "1" : "0") +
            " paired=" + pairedName(*settings_));
        QTimer::singleShot(0, qApp, [] { QApplication::exit(0); });
    }

  private:
    std::shared_ptr<TBNSettings> settings_;
};

// Presses Next on each page once it may be pressed, after saving the page as a picture.
class Driver {
  public:
    Driver(QPointer<WizardWindow> window, QString shots) : window_(window), shots_(shots) {}

    void tick() {
        if (!window_) return;
        auto page = window_->flow()->currentPage();
        if (!page) return;
        const std::string id = page->identifier();
        if (id != current_) {
            current_ = id;
            shot_ = false;
            say("page " + id);
            return;  // one tick for the page to settle
        }
        if (id == kPairQRCodePageId) {
            auto qr = std::static_pointer_cast<WizardPairQRCodePage>(page);
            auto* image = window_->findChild<QLabel*>("qrCodeImageView");
            if (qr->qrCodeValue() && image && !image->pixmap().isNull() && !qrSaved_) {
                const QString png = shots_ + "/qr.png";
                image->pixmap().save(png);
                save(id);
                qrSaved_ = true;
                say("invitation " + *qr->qrCodeValue());
                say("qr " + png.toStdString());
            }
            return;  // the page moves on by itself once paired
        }
        if (id == kExtensionsPageId) {
            auto extensions = std::static_pointer_cast<WizardExtensionsPage>(page);
            if (extensions->identity() != WizardExtensionsPage::Identity::Ready) return;
        }
        QPushButton* next = window_->button(WizardButton::Next);
        if (!next->isVisible() || !next->isEnabled()) return;
        if (!shot_) {
            save(id);
            shot_ = true;
            return;
        }
        next->click();
    }

  private:
    void save(const std::string& id) {
        window_->grab().save(shots_ + QStringLiteral("/%1-%2.png")
                                          .arg(++shots_count_, 2, 10, QChar('0'))
                                          .arg(QString::fromStdString(id)));
    }

    QPointer<WizardWindow> window_;
    QString shots_;
    std::string current_;
    bool shot_ = false;
    bool qrSaved_ = false;
    int shots_count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    std::string ble;
    QString shots = QDir::currentPath();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--ble=", 0) == 0) {
            ble = a.substr(6);
        } else if (a == "--shots" && i + 1 < argc) {
            shots = QString::fromLocal8Bit(argv[++i]);
        }
    }
    auto factory = ble::bleCentralFactoryForSpec(ble);
    if (!factory) {
        std::cerr << "wizard-demo: needs --ble=sim:SOCKET\n";
        return 2;
    }
    QDir().mkpath(shots);

    TBNSettings& settings = TBNSettings::sharedSettings();
    auto startup = StartupSteps::runServiceSideSteps(
        TBNKeyChainManager::sharedManager(), settings, TBNSettings::settingsFilePath(),
        TBNSettings::oldSettingFolder() / TBNSettings::kSettingsFileName, nullptr, nullptr);
    if (!startup.completed || !settings.isLoaded()) {
        std::cerr << "wizard-demo: start-up failed\n";
        return 1;
    }
    if (settings.doneWizard()) {
        say("no wizard, paired=" + pairedName(settings));
        return 0;
    }

    QApplication app(argc, argv);
    ble::setDefaultBleCentralFactory(*factory);
    auto loop = WizardQtLoop::shared();
    MainLoop::setMain(loop);

    TBNService::Options options;
    options.settings = settings.shared_from_this();
    options.mainLoop = loop;
    options.remoteOptions.settings = options.settings;
    options.remoteOptions.clientFactory = makeBlecPhoneClientFactory();
    TBNServiceHandlers::applyStandard(options);
    options.terminate = [] { QApplication::exit(4); };
    auto service = TBNService::create(std::move(options));
    auto ui = std::make_shared<TBNHeadlessUIService>();
    service->setUiService(ui);

    WizardServices services = wizardServicesFor(service);
    services.locationZone = [] { return uint64_t{0}; };
    services.generateSSLCerts = false;
    std::weak_ptr<TBNService> weak = service;
    services.startService = [weak] {
        if (auto s = weak.lock()) s->startWithSSLIdentity(std::nullopt);
    };
    services.showAlert = [](const WizardAlert& alert, std::function<void(int)> answer) {
        say("alert " + alert.messageKey);
        QTimer::singleShot(0, qApp, [answer] { answer(0); });
    };
    auto delegate = std::make_shared<DemoDelegate>(settings.shared_from_this());
    QPointer<WizardWindow> window =
        openWizardWindow(WizardKind::FirstRun, std::move(services), delegate);
    Driver driver(window, shots);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&driver] { driver.tick(); });
    timer.start(100);

    const int status = app.exec();
    timer.stop();
    service->stopPair();
    service->stop();
    settings.waitForPendingSaves();
    return status;
}
