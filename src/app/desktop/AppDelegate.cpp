#include "app/desktop/AppDelegate.h"
#include "app/desktop/TrayPresence.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QStyle>
#include <QUrl>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/StartupNotices.h"
#include "app/StartupSteps.h"
#include "app/desktop/DesktopNoticeBackend.h"
#include "app/shell/AppAssembly.h"
#include "app/shell/QtMainLoop.h"
#include "core/pasteboard/Pasteboard.h"
#include "crypto/TBNPasswordGenerator.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "extension/handlers/TBNThriftHostService.h"
#include "runtime/DispatchQueue.h"
#include "runtime/TBNWaitManager.h"
#include "runtime/log/TBNLogHelper.h"
#include "runtime/log/TBNLogger.h"
#include "u2f/U2FAuthenticatorBridge.h"
#include "u2f/UserPresence.h"
#include "ui/PageEnvironment.h"

namespace lumvane {

namespace {

constexpr const char* kTags = "ui|app";
constexpr const char* kSupportAddress = "support@lumvane.io";
constexpr const char* kWebHost = "https://lumvane.io";

QIcon trayImage(const QString& name) {
    QIcon icon;
    icon.addFile(":/tray/" + name + ".png");
    if (QFile::exists(":/tray/" + name + "@2x.png")) icon.addFile(":/tray/" + name + "@2x.png");
    return icon;
}

// The browser of each install line of the menu.
std::optional<TBNBrowser> browserOfAction(const std::string& action) {
    static const std::vector<std::pair<const char*, TBNBrowser>> actions = {
        {"menuInstallChromeExt", TBNBrowser::Chrome},
        {"menuInstallChromiumExt", TBNBrowser::Chromium},
        {"menuInstallEdgeExt", TBNBrowser::Edge},
        {"menuInstallFirefoxExt", TBNBrowser::Firefox},
        {"menuInstallOperaExt", TBNBrowser::Opera},
        {"menuInstallBraveExt", TBNBrowser::Brave},
        {"menuInstallVivaldiExt", TBNBrowser::Vivaldi},
    };
    for (const auto& [name, browser] : actions) {
        if (action == name) return browser;
    }
    return std::nullopt;
}

}  // namespace

// ---- The desktop ------------------------------------------------------------------------

DesktopEnvironment DesktopEnvironment::system() {
    DesktopEnvironment e;
    e.openUrl = [](const std::string& url) {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    };
    e.openFolder = [](const std::filesystem::path& folder) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
    };
    e.showMessage = [](const std::string& text) {
        QMessageBox::information(nullptr, "Lumvane", QString::fromStdString(text));
    };
    e.chooseFolder = [](const std::string& title,
                        const std::string& current) -> std::optional<std::string> {
        const QString chosen = QFileDialog::getExistingDirectory(
            nullptr, QString::fromStdString(title), QString::fromStdString(current));
        if (chosen.isEmpty()) return std::nullopt;
        return chosen.toStdString();
    };
    e.mailLogs = [](const std::string& archive) {
        const QStringList arguments = {"--subject", "Lumvane app logs for [issue description]",
                                       "--attach", QString::fromStdString(archive),
                                       QString(kSupportAddress)};
        const QString mail = QStandardPaths::findExecutable("xdg-email");
        return !mail.isEmpty() && QProcess::startDetached(mail, arguments);
    };
    e.quit = [] { quitApplication(); };
    e.crash = [] { std::abort(); };
    return e;
}

// ---- The composition root ----------------------------------------------------------------

void TBNConfig::configure(const std::shared_ptr<TBNService>& service,
                          const std::shared_ptr<TBNStatusItem>& statusItem,
                          const std::shared_ptr<MainLoop>& loop, const UserInterfaceFactory& ui,
                          std::shared_ptr<NoticeBackend> backend) {
    if (!backend) {
        QPointer<QSystemTrayIcon> tray = statusItem ? &statusItem->trayIcon() : nullptr;
        auto desktop = std::make_shared<DesktopNoticeBackend>(
            [tray, loop](const std::string& title, const std::string& text) {
                loop->post([tray, title, text] {
                    if (tray) {
                        tray->showMessage(QString::fromStdString(title),
                                          QString::fromStdString(text),
                                          QSystemTrayIcon::Information, 10000);
                    }
                });
            });
        UserPresence::setEnvironment(desktop, loop->clock());
        backend = desktop;
    }
    noticeBackend_ = backend;
    notificationService_ = std::make_shared<TBNSystemNotifictionService>(noticeBackend_, loop);
    notifications_ = std::make_shared<DesktopNotifications>(notificationService_);
    startupNotices_ = std::make_shared<StartupNoticeQueue>(notificationService_, loop);
    if (ui.makePopoverUIService && statusItem) uiService_ = ui.makePopoverUIService(statusItem);
    if (!uiService_) uiService_ = std::make_shared<TBNHeadlessUIService>();
    service_ = service;
    if (service) {
        service->setUiService(uiService_);
        service->setNotifications(notifications_);
    }
    // The generator page's Copy tells the user, as the menu's copy does.
    ui::PageEnvironment pages = ui::environment();
    std::weak_ptr<DesktopNotifications> notices = notifications_;
    pages.notifyPasswordCopied = [notices] {
        if (auto n = notices.lock()) n->notifyOfCopyPasswordToMacClipboard();
    };
    ui::setEnvironment(std::move(pages));
    // The service layer (rating, QR images, location zone) is built once, here, for the
    // pages that use it.
    container_ = AppAssembly::shared();
}

void TBNConfig::tearDown() {
    if (service_) {
        service_->setUiService(std::weak_ptr<TBNUIServiceProtocol>());
        service_->setNotifications(std::weak_ptr<TBNNotifications>());
    }
    uiService_.reset();
    startupNotices_.reset();
    notifications_.reset();
    notificationService_.reset();
    noticeBackend_.reset();
}

// ---- The application delegate ---------------------------------------------------------

void AppDelegate::tearDown() {
    config.tearDown();
    if (statusItem) statusItem->setDelegate(nullptr);
    statusItem.reset();
}

AppDelegate::AppDelegate(UserInterfaceFactory ui, std::shared_ptr<MainLoop> loop,
                         TBNSettings& settings, TBNLogFilter* filter, TBNLogFormatter* formatter,
                         DesktopEnvironment environment, TBNBrowserExtensionManager* browsers,
                         std::optional<StartAtLogin> startAtLogin)
    : ui_(std::move(ui)),
      loop_(std::move(loop)),
      settings_(settings),
      logFilter_(filter),
      logFormatter_(formatter),
      environment_(std::move(environment)),
      browsers_(browsers ? browsers : &TBNBrowserExtensionManager::sharedManager()),
      startAtLogin_(startAtLogin ? std::move(*startAtLogin)
                                 : StartAtLogin(StartAtLogin::runningProgram())) {}

// The entry names the program that runs: one written by another copy (the build folder,
// before an install) would start that copy at the next login.
void AppDelegate::reconcileStartAtLogin() {
    const bool wanted = settings_.startAtLogin();
    if (wanted && !startAtLogin_.isEnabled()) {
        enableStartAtLogin();
    } else if (wanted && !startAtLogin_.isCurrent()) {
        std::string error;
        if (startAtLogin_.enable(&error)) {
            TBN_LOG_INFO(kTags, "start at login now names {}",
                         StartAtLogin::runningProgram().string());
        } else {
            TBN_LOG_ERROR(kTags, "did not update start at login: {}", error);
        }
    } else if (!wanted && startAtLogin_.isEnabled()) {
        disableStartAtLogin();
    }
}

void AppDelegate::enableStartAtLogin() {
    if (startAtLogin_.isEnabled()) {
        TBN_LOG_DEBUG(kTags, "already enabled start at login");
        settings_.setStartAtLogin(true);
        return;
    }
    std::string error;
    if (startAtLogin_.enable(&error)) {
        TBN_LOG_DEBUG(kTags, "enabled start at login");
        settings_.setStartAtLogin(true);
    } else {
        TBN_LOG_ERROR(kTags, "did not enable start at login: {}", error);
    }
}

void AppDelegate::disableStartAtLogin() {
    if (!startAtLogin_.isEnabled()) {
        TBN_LOG_DEBUG(kTags, "already disabled start at login");
        settings_.setStartAtLogin(false);
        return;
    }
    std::string error;
    if (startAtLogin_.disable(&error)) {
        TBN_LOG_DEBUG(kTags, "disabled start at login");
        settings_.setStartAtLogin(false);
    } else {
        TBN_LOG_ERROR(kTags, "did not disable start at login: {}", error);
    }
}

void AppDelegate::createStatusBarItem() {
    statusItem =
        TBNStatusItem::create(trayImage("TrayIconBlack"), trayImage("TrayIconWhite"), loop_);
    statusItem->setDelegate(this);
    updateStatusBarIcon();
}

void AppDelegate::updateStatusBarIcon() {
    if (!statusItem) return;
    StatusIconState state;
    state.paused = settings_.paused();
    state.warningType = service ? service->warningType() : 0;
    if (auto phone = settings_.firstPairedDevice()) {
        state.phonePaired = true;
        state.phoneOnline = phone->online();
        state.phoneAppState = phone->appState();
    }
    const std::string base = statusIconBaseName(state);
    TBN_LOG_INFO(kTags, "status bar icon: {}", base);
    // The set that stands out on the panel: a light glyph on a dark one.
    const auto [image, active] = statusIconImageNames(base, statusItem->glyphForPanel());
    statusItem->setImage(trayImage(QString::fromStdString(image)),
                         trayImage(QString::fromStdString(active)));
}

void AppDelegate::setLogLevel(int32_t level) {
    if (level != 0 && level != 1 && level != 2 && level != 11 && level != 12 && level != 13) {
        return;  // not a level: nothing stored, nothing applied
    }
    settings_.setLoggingLevel(level <= 2 ? 0 : level);
    StartupSteps::applyLogLevel(settings_, logFilter_, logFormatter_);
}

void AppDelegate::startService() {
    auto service = this->service;
    if (!service) return;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    // With the simulated radio the service's identity source never asks (see
    // runDesktop).
    const bool asks = static_cast<bool>(ui_.makePopoverUIService);
    DispatchQueue::global(DispatchQueue::Priority::High)->async([service, weak, asks] {
        TBN_LOG_INFO(kTags, "starting the service");
        if (asks) {
            service->start();  // may ask for the local TLS identity first
        } else {
            // Without pages nobody can answer the identity question: use the one an
            // earlier run made, else plain HTTP.
            std::optional<SSLIdentity> identity;
            auto& manager = TBNBrowserExtensionManager::sharedManager();
            if (manager.isExistSSLIdentity() && !manager.isExpiredSSLIdentity()) {
                if (auto i = manager.sslIdentity()) {
                    identity = SSLIdentity{i->certificatePath, i->privateKeyPath};
                }
            }
            service->startWithSSLIdentity(identity);
        }
        // The delegate is not held meanwhile: it is the main thread's to delete.
        reportServing(service);
        if (auto self = weak.lock()) {
            self->loop_->post([weak] {
                if (auto self = weak.lock()) self->updateStatusBarIcon();
            });
        }
    });
}

void AppDelegate::reportServing(const std::shared_ptr<TBNService>& service) {
    // Wait for the start (with a question the servers come later).
    for (int i = 0; i < 600; ++i) {
        if (ThriftHTTPServer* http = service->server(); http && http->isListening()) {
            sayToUser("serving http://127.0.0.1:" + std::to_string(http->port()) + "/thrift");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    sayToUser("the service did not start; see the log in " + TBNSettings::logsFolder().string());
}

StatusMenuState AppDelegate::menuState() {
    StatusMenuState s;
    s.paused = settings_.paused();
    s.extendedMode = settings_.osxExtendedMode();
    s.sendReports = settings_.sendReports();
    s.loggingLevel = settings_.loggingLevel();
    if (auto phone = settings_.firstPairedDevice()) {
        s.pairedPhone =
            StatusMenuState::Phone{phone->name().value_or(""), phone->model().value_or(""),
                                   phone->osVersion().value_or("")};
    }
    s.warningType = service ? service->warningType() : 0;
    s.securityKeyFeature = TBNOSXFeatureManager::yubikey(settings_);
    if (s.securityKeyFeature) {
        s.driverInstalled = U2FAuthenticatorBridge::driverInstalled();
        s.driverRunning = U2FAuthenticatorBridge::driverRunning();
    }
    const auto& b = *browsers_;
    s.browserInstalled = {b.isSafariInstalled(), b.isChromeInstalled(),  b.isChromiumInstalled(),
                          b.isEdgeInstalled(),   b.isFirefoxInstalled(), b.isOperaInstalled(),
                          b.isBraveInstalled(),  b.isVivaldiInstalled()};
    s.startAtLoginEnabled = startAtLogin_.isEnabled();
    if (s.extendedMode) {
        if (currentPassword_.empty()) currentPassword_ = generatePassword();
        s.currentPassword = currentPassword_;
    }
    return s;
}

QMenu* AppDelegate::createMenu() {
    TBN_LOG_DEBUG(kTags, "createMenu");
    auto* menu = new QMenu();
    fill(menu, buildStatusMenu(menuState()));
    return menu;
}

void AppDelegate::fill(QMenu* menu, const std::vector<StatusMenuItem>& items) {
    for (const auto& item : items) {
        if (item.kind == StatusMenuItem::Kind::Separator) {
            menu->addSeparator();
            continue;
        }
        if (!item.submenu.empty()) {
            QMenu* sub = menu->addMenu(QString::fromStdString(item.title));
            fill(sub, item.submenu);
            continue;
        }
        QAction* action = menu->addAction(QString::fromStdString(item.title));
        if (item.image == "menu_icon_warning_22_22") {
            action->setIcon(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning));
        }
        if (item.passwordStyle) {
            QFont font = action->font();
            font.setFamily("monospace");
            action->setFont(font);
        }
        action->setCheckable(item.checkable);
        action->setChecked(item.checked);
        action->setEnabled(item.enabled());
        action->setObjectName(QString::fromStdString(item.action));
        if (!item.action.empty()) {
            std::weak_ptr<AppDelegate> weak = weak_from_this();
            const std::string name = item.action;
            QObject::connect(action, &QAction::triggered, [weak, name] {
                auto self = weak.lock();
                if (!self) return;
                // Once the menu's own handling has returned: an action that opens a
                // dialog runs an event loop, in which the closed menu is deleted.
                self->loop_->post([weak, name] {
                    if (auto self = weak.lock()) self->perform(name);
                });
            });
        }
    }
}

std::string AppDelegate::generatePassword() {
    try {
        auto generator = settings_.generatorSettings();
        if (generator && generator->config()) {
            return TBNPasswordGenerator::sharedGenerator().generateByConfig(*generator->config());
        }
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTags, "cannot generate a password: {}", e.what());
    }
    return {};
}

void AppDelegate::showPopover(const std::string& identifier) {
    TBN_LOG_DEBUG(kTags, "show {}", identifier);
    if (!ui_.popoverAtName || !statusItem) return;
    if (auto page = ui_.popoverAtName(identifier)) statusItem->showPopoverViewController(page);
}

void AppDelegate::openExtensionRegistration(const std::string& browser, bool started) {
    if (service) service->openExtensionRegistration();
    const double seconds = TBNThriftHostService::kExtensionRegistrationSeconds;
    sayToUser("extension registration open for " + std::to_string(static_cast<int>(seconds)) +
              " s");
    if (auto notices = config.notifications()) {
        notices->notifyOfExtensionRegistrationOpen(browser, started);
    }
}

void AppDelegate::installExtension(TBNBrowser browser) {
    const bool started = browsers_->installExtension(browser);
    openExtensionRegistration(browsers_->applicationName(browser), started);
}

void AppDelegate::perform(const std::string& action) {
    TBN_LOG_DEBUG(kTags, "menu action {}", action);
    auto notices = config.notifications();
    if (auto browser = browserOfAction(action)) {
        installExtension(*browser);
    } else if (action == "menuWarningAction") {
        switch (service ? service->warningType() : 0) {
            case 2:
                notices->notifyOfBluetoothOff();
                break;
            case 3:
                notices->notifyOfSearchPairedPhone();
                break;
            case 4:
                perform("menuStartPairViaQRCodeAction");
                break;
            case 5:
                notices->notifyOfCannotFindPairedPhone();
                break;
            case 6:
                notices->notifyOfCannotFindLumvaneOnPhone();
                break;
            case 7:
                notices->notifyOfDatabaseIsLocked();
                break;
            default:
                break;
        }
    } else if (action == "menuInstallU2FDriverAction") {
        if (service) service->showInstallDriver();
    } else if (action == "menuRunU2FDriverAction") {
        if (service) service->showRunDriver();
    } else if (action == "menuPasswordGeneratorAction") {
        showPopover("TBNPasswordGeneratorPopoverViewController");
    } else if (action == "menuDeviceUnpairAction") {
        unpair();
    } else if (action == "menuStartPairViaQRCodeAction") {
        if (settings_.firstPairedDevice()) unpair();
        if (ui_.showQRCodeWindow) ui_.showQRCodeWindow(service);
    } else if (action == "menuAboutAction") {
        std::weak_ptr<AppDelegate> weak = weak_from_this();
        DispatchQueue::global()->async([weak] {
            auto answer = TBNWaitManager::sharedManager().waitWithName("debugSettingsPopover",
                                                                       std::any(), 30.0);
            if (!answer.has_value()) return;
            if (auto self = weak.lock()) {
                self->loop_->post([weak] {
                    if (auto self = weak.lock()) {
                        self->showPopover("TBNDebugSettingsPopoverViewController");
                    }
                });
            }
        });
        showPopover("TBNAboutPopoverViewController");
    } else if (action == "menuCheckForUpdateDialog") {
        environment_.showMessage(updater.checkInteractively());
    } else if (action == "menuInstallSafariExt") {
        browsers_->installSafariExtension();
    } else if (action == "menuImportAction") {
        if (ui_.showImportWindow) ui_.showImportWindow(service);
    } else if (action == "menuExportAction") {
        if (ui_.showExportWindow) ui_.showExportWindow(service);
    } else if (action == "menuStartAtLoginAction") {
        if (startAtLogin_.isEnabled()) {
            disableStartAtLogin();
        } else {
            enableStartAtLogin();
        }
    } else if (action == "menuAllowAnonymousDataAction") {
        settings_.setSendReports(!settings_.sendReports());
        relaunch = true;
        std::weak_ptr<AppDelegate> weak = weak_from_this();
        loop_->postAfter(1.0, [weak] {
            if (auto self = weak.lock()) self->environment_.quit();
        });
    } else if (action == "menuLoggingDisableAction") {
        setLogLevel(0);
    } else if (action == "menuLoggingInfoLelelAction") {
        setLogLevel(11);
    } else if (action == "menuLoggingDebugLelelAction") {
        setLogLevel(12);
    } else if (action == "menuLoggingVerboseLevelAction") {
        setLogLevel(13);
    } else if (action == "menuLoggingOpenInFinderAction") {
        environment_.openFolder(TBNSettings::logsFolder());
    } else if (action == "menuLoggingSendAllLogsAction") {
        sendLogs();
    } else if (action == "menuBackupOpenInFinderAction") {
        if (auto folder = settings_.backupLocation()) environment_.openFolder(*folder);
    } else if (action == "menuBackupChangeLocationAction") {
        changeBackupLocation();
    } else if (action == "menuShowFeedbackDialog") {
        environment_.openUrl("mailto:" + std::string(kSupportAddress) +
                             "?subject=Lumvane%20feedback");
    } else if (action == "menuShowHelp") {
        environment_.openUrl(std::string(kWebHost) + "/docs/index.html");
    } else if (action == "menuShowPrivacyPolicy") {
        environment_.openUrl(std::string(kWebHost) + "/docs/privacy-policy.html");
    } else if (action == "menuShowTermsOfUse") {
        environment_.openUrl(std::string(kWebHost) + "/terms.html");
    } else if (action == "menuShowReviewOnFacebook") {
        environment_.openUrl("https://www.facebook.com/lumvane/reviews");
    } else if (action == "menuShowShareViaFacebook") {
        environment_.openUrl("https://www.facebook.com/sharer/sharer.php?u=https%3A//lumvane.io");
    } else if (action == "menuShowShareViaTwitter") {
        environment_.openUrl(
            "https://twitter.com/home?status=I%20keep%20every%20password%20safe%20with%20"
            "%40lumvane%20(https%3A//lumvane.io)");
    } else if (action == "menuShowShareViaLinkedin") {
        environment_.openUrl(
            "https://www.linkedin.com/sharing/share-offsite/?url=https%3A%2F%2Flumvane.io");
    } else if (action == "menuQuitAction") {
        environment_.quit();
    } else if (action == "menuShowRateAction") {
        showPopover("TBNRatePopoverViewController");
    } else if (action == "menuOpenPreferencesFolder") {
        environment_.openFolder(TBNSettings::settingFolder());
    } else if (action == "menuCopyPasswordToOSXAction") {
        if (Pasteboard::general()->setString(currentPassword_) && notices) {
            notices->notifyOfCopyPasswordToMacClipboard();
        }
    } else if (action == "menuCopyPasswordToIOSAction") {
        if (!service) return;
        std::weak_ptr<AppDelegate> weak = weak_from_this();
        service->sendPasswordToPairedDevice(currentPassword_, [weak](bool sent) {
            if (!sent) return;
            if (auto self = weak.lock()) {
                self->loop_->post([weak] {
                    auto self = weak.lock();
                    if (!self) return;
                    if (auto n = self->config.notifications()) {
                        n->notifyOfCopyPasswordToPhoneClipboard();
                    }
                });
            }
        });
    } else if (action == "menuCopyPasswordToOSXAndIOSAction") {
        Pasteboard::general()->setString(currentPassword_);
        if (service) service->sendPasswordToPairedDevice(currentPassword_, [](bool) {});
        if (notices) notices->notifyOfCopyPasswordToMacAndPhoneClipboards();
    } else if (action == "menuRegeneratePasswordAction") {
        currentPassword_ = generatePassword();
    } else if (action == "menuCreateAccountAction") {
        if (auto s = service) {
            DispatchQueue::global()->async([s] { s->createAccountWithPassword(std::nullopt); });
        }
    } else if (action == "menuFlushAllLogsAction") {
        DispatchQueue::global()->async([] { TBNLogHelper::flushLog(); });
    } else if (action == "menuClearFavIconCacheAction") {
        // The pages keep no icon cache on this platform.
    } else if (action == "menuCrashAppAction") {
        environment_.crash();
    } else if (action == "menuPause") {
        settings_.setPaused(true);
    } else if (action == "menuResume") {
        settings_.setPaused(false);
    } else {
        TBN_LOG_ERROR(kTags, "no such menu action: {}", action);
    }
}

void AppDelegate::unpair() {
    auto phone = settings_.firstPairedDevice();
    if (auto remote = service ? service->remoteService() : nullptr) {
        remote->unpairFromDevice(phone ? phone->deviceId() : std::nullopt);
    }
}

void AppDelegate::sendLogs() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    DispatchQueue::global()->async([weak] {
        auto archive = TBNLogHelper::archiveAllLogsToZipFile(TBNSettings::logsFolder().string());
        auto self = weak.lock();
        if (!self) return;
        self->loop_->post([weak, archive] {
            auto self = weak.lock();
            if (!self) return;
            if (!archive) {
                self->environment_.openFolder(TBNSettings::logsFolder());
                return;
            }
            // The mail program gets the archive; without one the file manager shows it.
            if (!self->environment_.mailLogs(*archive)) {
                self->environment_.openFolder(std::filesystem::path(*archive).parent_path());
            }
        });
    });
}

void AppDelegate::changeBackupLocation() {
    const std::string current = settings_.backupLocation().value_or("");
    const auto chosen = environment_.chooseFolder(desktopText("RESTORE_LOADPANEL_TITLE"), current);
    if (!chosen || chosen->empty() || *chosen == current) return;
    const std::string path = *chosen;
    TBNSettings* settings = &settings_;
    DispatchQueue::global()->async([settings, path] {
        settings->setBackupLocation(path);
        settings->setUserChangedBackupLocation(true);
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
    });
}

// ---- TBNServiceDelegate ----

void AppDelegate::serviceDidUpdateUI(TBNService&) {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    loop_->post([weak] {
        if (auto self = weak.lock()) self->updateStatusBarIcon();
    });
}

// ---- TBNSettingsDelegate ----

void AppDelegate::settingsDidUpdated(TBNSettings&, TBNSettingsComponents components) {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    if (components & 64) {
        loop_->post([weak] {
            if (auto self = weak.lock()) self->currentPassword_ = self->generatePassword();
        });
    }
    if (components & TBNSettingsComponentPaused) {
        loop_->post([weak] {
            if (auto self = weak.lock()) self->updateStatusBarIcon();
        });
    }
    if (components & (16 | 32)) {
        loop_->postAfter(2.0, [weak] {
            if (auto self = weak.lock()) self->updateStatusBarIcon();
        });
    }
}

// ---- TBNWizardWindowControllerDelegate ----

void AppDelegate::wizardWindowControllerDidCanceled() {
    environment_.quit();
}

void AppDelegate::wizardWindowControllerDidFinished() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    loop_->postAfter(1.0, [weak] {
        auto self = weak.lock();
        if (!self) return;
        if (auto ui = self->config.uiService()) {
            ui->showGuide("GUIDE_WELCOME_TITLE", "GUIDE_WELCOME_MESSAGE", false);
        }
    });
}

}  // namespace lumvane
