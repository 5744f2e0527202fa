// wizard-demo (test only): the first-run wizard over a real application service on the
// simulated radio, driven page by page by itself so a test can pair phone-sim through the
// QR page. Each page is saved as a picture before its Next is pressed.
//
//   wizard-demo --ble=sim:SOCKET --shots FOLDER [--import SOURCE:FILE] [--export FILE]
//
// With doneWizard already set, --import and --export run the import and the export
// window (in that order) through their pages, the file panels answered with FILE.
//
// Standard output, one line per event:
//   wizard-demo: page IDENTIFIER
//   wizard-demo: invitation URL          (what the QR page shows)
//   wizard-demo: qr PNG                  (the QR image as the page shows it)
//   wizard-demo: finished doneWizard=0|1 paired=NAME|none delegate=kept|lost
//   wizard-demo: cancelled
//   wizard-demo: no wizard, paired=NAME|none   (doneWizard was already set)
//   wizard-demo: import done | import failed: TEXT
//   wizard-demo: export done | export failed: TEXT
// Questions are answered with their first button. The HTTPS servers and the location
// look-up are left out (no administrator password, no network).
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

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
#include "ui/wizard/WizardImportExportPages.h"
#include "ui/wizard/WizardLauncher.h"
#include "app/shell/QtMainLoop.h"
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

// Stands for the application delegate, which keeps the status icon up to date.
class StatusIconDelegate : public TBNServiceDelegate {
  public:
    void serviceDidUpdateUI(TBNService&) override {}
};

class DemoDelegate : public WizardFlowDelegate {
  public:
    DemoDelegate(std::shared_ptr<TBNSettings> settings, std::shared_ptr<TBNService> service,
                 std::shared_ptr<TBNServiceDelegate> statusIcon)
        : settings_(std::move(settings)), service_(service), statusIcon_(std::move(statusIcon)) {}
    void wizardFlowDidCancel() override {
        say("cancelled");
        QTimer::singleShot(0, qApp, [] { QApplication::exit(3); });
    }
    void wizardFlowDidFinish() override {
        auto service = service_.lock();
        const bool kept = service && service->delegate() == statusIcon_;
        say(std::string("finished doneWizard=") + (settings_->doneWizard() ? "1" : "0") +
            " paired=" + pairedName(*settings_) + " delegate=" + (kept ? "kept" : "lost"));
        QTimer::singleShot(0, qApp, [] { QApplication::exit(0); });
    }

  private:
    std::shared_ptr<TBNSettings> settings_;
    std::weak_ptr<TBNService> service_;
    std::shared_ptr<TBNServiceDelegate> statusIcon_;
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

// Runs one import or export window through its pages.
class TransferDriver {
  public:
    TransferDriver(QPointer<WizardWindow> window, QString shots, std::string name, int32_t type,
                   std::string file)
        : window_(window),
          shots_(shots),
          name_(std::move(name)),
          type_(type),
          file_(std::move(file)) {}

    // False once the window is gone.
    bool tick() {
        if (!window_) return false;
        auto page = window_->flow()->currentPage();
        if (!page) return true;
        if (page->identifier() != current_) {
            current_ = page->identifier();
            shot_ = false;
            return true;
        }
        if (auto list = std::dynamic_pointer_cast<WizardImportPage>(page)) {
            const auto& sources = list->sources();
            for (size_t i = 0; i < sources.size(); ++i) {
                if (sources[i] == type_) list->selectRow(static_cast<int>(i));
            }
        } else if (auto exportPage = std::dynamic_pointer_cast<WizardExportPage>(page)) {
            for (size_t i = 0; i < exportPage->destinations().size(); ++i) {
                if (exportPage->destinations()[i] == type_ &&
                    exportPage->selectedRow() != static_cast<int>(i)) {
                    exportPage->selectRow(static_cast<int>(i));
                }
            }
            if (exportPage->filePath().empty()) pressFileButton();
        } else if (auto file = std::dynamic_pointer_cast<WizardImportSourceFilePage>(page)) {
            if (file->filePath().empty()) pressFileButton();
        } else if (auto progress = std::dynamic_pointer_cast<WizardTransferProgressPage>(page)) {
            if (!progress->done() && !progress->failed()) return true;
            if (!told_) {
                told_ = true;
                say(name_ +
                    (progress->done() ? " done" : " failed: " + progress->failureMessage()));
            }
        }
        QPushButton* next = window_->button(WizardButton::Next);
        if (!next->isVisible() || !next->isEnabled()) return true;
        if (!shot_) {
            window_->grab().save(shots_ + QStringLiteral("/%1-%2.png")
                                              .arg(QString::fromStdString(name_))
                                              .arg(QString::fromStdString(current_)));
            shot_ = true;
            return true;
        }
        next->click();
        return true;
    }

  private:
    // The window's own file panel: opened with the button, answered as a person does, by
    // typing the file's full path into its name field and taking it. (selectFile() is no
    // answer: while the name field has the focus, which depends on the window manager and
    // on timing, Qt leaves the field as it was.) A panel that did not take the answer stays
    // open and is answered again on the next tick.
    void pressFileButton() {
        if (auto* dialog = window_->findChild<QFileDialog*>(); dialog && dialog->isVisible()) {
            if (!proposalTold_) {
                proposalTold_ = true;
                const QString proposed = dialog->selectedFiles().value(0);
                if (name_ == "export")
                    say("save panel proposes " + QFileInfo(proposed).fileName().toStdString());
            }
            auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!field) {
                std::cerr << "wizard-demo: the file panel has no name field\n";
                return;
            }
            field->setFocus();
            field->setText(QString::fromStdString(file_));
            static_cast<QDialog*>(dialog)->accept();  // the panel's own checks run
            if (dialog->isVisible()) {
                std::cerr << "wizard-demo: the file panel did not take " << file_ << "\n";
            }
            return;
        }
        if (auto* button = window_->findChild<QPushButton*>("fileSelectButton")) button->click();
    }

    QPointer<WizardWindow> window_;
    QString shots_;
    std::string name_;
    int32_t type_;
    std::string file_;
    std::string current_;
    bool shot_ = false;
    bool told_ = false;
    bool proposalTold_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    std::string ble;
    QString shots = QDir::currentPath();
    std::optional<std::pair<int32_t, std::string>> importFile;
    std::optional<std::string> exportFile;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--ble=", 0) == 0) {
            ble = a.substr(6);
        } else if (a == "--shots" && i + 1 < argc) {
            shots = QString::fromLocal8Bit(argv[++i]);
        } else if (a == "--import" && i + 1 < argc) {
            const std::string v = argv[++i];
            const auto colon = v.find(':');
            if (colon == std::string::npos) return 2;
            importFile = std::make_pair(std::stoi(v.substr(0, colon)), v.substr(colon + 1));
        } else if (a == "--export" && i + 1 < argc) {
            exportFile = argv[++i];
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
    const bool transfers = importFile || exportFile;
    if (settings.doneWizard()) {
        say("no wizard, paired=" + pairedName(settings));
        if (!transfers) return 0;
    }

    QApplication app(argc, argv);
    // Like the application in the tray: closing a window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    // Qt's own file panels, which the demo can answer.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    ble::setDefaultBleCentralFactory(*factory);
    auto loop = std::make_shared<QtMainLoop>();
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

    if (settings.doneWizard()) {
        // The import and export windows of the status menu, one after the other.
        service->startWithSSLIdentity(std::nullopt);
        std::vector<std::tuple<WizardKind, std::string, int32_t, std::string>> jobs;
        if (importFile)
            jobs.emplace_back(WizardKind::Import, "import", importFile->first, importFile->second);
        if (exportFile) jobs.emplace_back(WizardKind::Export, "export", 0, *exportFile);
        size_t job = 0;
        std::unique_ptr<TransferDriver> driver;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (driver && driver->tick()) return;
            if (job == jobs.size()) {
                QApplication::exit(0);
                return;
            }
            const auto& [kind, name, type, path] = jobs[job++];
            // As the status menu opens them.
            if (kind == WizardKind::Import) {
                ui::showImportWindow(service);
            } else {
                ui::showExportWindow(service);
            }
            QPointer<WizardWindow> window;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* wizard = dynamic_cast<WizardWindow*>(w); wizard && wizard->isVisible()) {
                    window = wizard;
                }
            }
            driver = std::make_unique<TransferDriver>(window, shots, name, type, path);
        });
        timer.start(100);
        const int status = app.exec();
        timer.stop();
        service->stop();
        settings.waitForPendingSaves();
        return status;
    }

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
    auto statusIcon = std::make_shared<StatusIconDelegate>();
    service->setDelegate(statusIcon);
    auto delegate =
        std::make_shared<DemoDelegate>(settings.shared_from_this(), service, statusIcon);
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
