#include "app/desktop/DesktopApp.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "app/HeadlessApp.h"
#include "app/SecurityKeyBridge.h"
#include "app/SingleInstance.h"
#include "app/StartupNotices.h"
#include "app/StartupSteps.h"
#include "app/desktop/DesktopNoticeBackend.h"
#include "app/desktop/Notices.h"
#include "app/desktop/QtPasteboard.h"
#include "app/desktop/SoftwareUpdater.h"
#include "app/desktop/StartAtLogin.h"
#include "app/desktop/StatusMenuModel.h"
#include "app/desktop/TBNStatusItem.h"
#include "app/shell/AppAssembly.h"
#include "app/shell/QtMainLoop.h"
#include "app/shell/ServiceLayerBridges.h"
#include "core/pasteboard/Pasteboard.h"
#include "core/remote/BlecPhoneLink.h"
#include "core/service/TBNService.h"
#include "core/service/TBNServiceHandlers.h"
#include "crypto/TBNKeyChainManager.h"
#include "crypto/TBNPasswordGenerator.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "platform/ble/BleCentral.h"
#include "runtime/DispatchQueue.h"
#include "runtime/Paths.h"
#include "runtime/TBNWaitManager.h"
#include "runtime/log/TBNLogHelper.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"
#include "u2f/U2FAuthenticatorBridge.h"
#include "u2f/UserPresence.h"
#include "ui/wizard/WizardLauncher.h"

#ifdef LUMVANE_HAVE_QT_BLE
#include "platform/ble/qt/BleCentralSelect.h"
#endif
#ifdef LUMVANE_HAVE_LOGIND
#include "platform/power/LogindSleepWakeSource.h"
#endif

// The tray images are compiled into the program (outside any namespace, as Qt asks).
static void initDesktopResources() {
    Q_INIT_RESOURCE(desktop_resources);
}

namespace lumvane {

namespace {

constexpr const char* kTags = "ui|app";
constexpr std::chrono::seconds kStopGrace{5};
constexpr const char* kSupportAddress = "support@lumvane.io";
constexpr const char* kWebHost = "https://lumvane.io";

std::mutex gOutputMutex;

void sayLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(gOutputMutex);
    std::fputs(("lumvane: " + line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// What the user must hear about this run: a line on standard output and a desktop
// notice. Sentences said before the notices are set up wait for them.
class UserNotices {
  public:
    void say(const std::string& text) {
        sayLine(text);
        std::function<void(const std::string&)> show;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!show_) {
                pending_.push_back(text);
                return;
            }
            show = show_;
        }
        show(text);
    }
    void sayOnce(const std::string& topic, const std::string& text) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!topics_.insert(topic).second) return;
        }
        say(text);
    }
    void attach(std::function<void(const std::string&)> show) {
        std::vector<std::string> pending;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            show_ = show;
            pending.swap(pending_);
        }
        for (const auto& text : pending) show(text);
    }

  private:
    std::mutex mutex_;
    std::function<void(const std::string&)> show_;
    std::vector<std::string> pending_;
    std::set<std::string> topics_;
};

// ---- Crash hooks: the log is flushed before the process goes -------------------------------

void flushOnFatalSignal(int signalNumber) {
    // Best effort: the log's own buffers are written before the default action runs.
    TBN_LOG_ERROR(kTags, "!!!! app crashed !!!! (signal {})", signalNumber);
    TBNLogHelper::flushLog();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void installCrashHooks() {
    std::set_terminate([] {
        std::string what = "unknown";
        if (auto current = std::current_exception()) {
            try {
                std::rethrow_exception(current);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
        }
        TBN_LOG_ERROR(kTags, "!!!! app crashed !!!!");
        TBN_LOG_ERROR(kTags, "exception = '{}'", what);
        TBNLogHelper::flushLog();
        std::abort();
    });
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        struct sigaction action {};
        action.sa_handler = flushOnFatalSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigaction(s, &action, nullptr);
    }
}

std::optional<ble::BleCentralFactory> centralFactory(const std::string& spec) {
    if (spec.rfind("sim:", 0) == 0) return ble::bleCentralFactoryForSpec(spec);
#ifdef LUMVANE_HAVE_QT_BLE
    return ble::makeBleCentralFactory(spec);
#else
    return std::nullopt;
#endif
}

QIcon trayImage(const QString& name) {
    QIcon icon;
    icon.addFile(":/tray/" + name + ".png");
    if (QFile::exists(":/tray/" + name + "@2x.png")) icon.addFile(":/tray/" + name + "@2x.png");
    return icon;
}

void openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void openFolder(const std::filesystem::path& folder) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
}

// ---- The composition root ----------------------------------------------------------------

// Puts the user-interface side of the service together once: notices on the desktop's
// notification server, the UI service of the pages, and the service layer's container.
class TBNConfig {
  public:
    void configure(const std::shared_ptr<TBNService>& service,
                   const std::shared_ptr<TBNStatusItem>& statusItem,
                   const std::shared_ptr<MainLoop>& loop, const UserInterfaceFactory& ui) {
        QPointer<QSystemTrayIcon> tray = &statusItem->trayIcon();
        noticeBackend_ = std::make_shared<DesktopNoticeBackend>(
            [tray, loop](const std::string& title, const std::string& text) {
                loop->post([tray, title, text] {
                    if (tray) {
                        tray->showMessage(QString::fromStdString(title),
                                          QString::fromStdString(text),
                                          QSystemTrayIcon::Information, 10000);
                    }
                });
            });
        notificationService_ = std::make_shared<TBNSystemNotifictionService>(noticeBackend_, loop);
        notifications_ = std::make_shared<DesktopNotifications>(notificationService_);
        if (ui.makePopoverUIService) uiService_ = ui.makePopoverUIService(statusItem);
        if (!uiService_) uiService_ = std::make_shared<TBNHeadlessUIService>();
        service_ = service;
        service->setUiService(uiService_);
        service->setNotifications(notifications_);
        // The service layer (rating, QR images, location zone) is built once, here, for the
        // pages that use it.
        container_ = AppAssembly::shared();
        UserPresence::setEnvironment(noticeBackend_, loop->clock());
    }

    const std::shared_ptr<DesktopNotifications>& notifications() const { return notifications_; }
    const std::shared_ptr<TBNUIServiceProtocol>& uiService() const { return uiService_; }
    const std::shared_ptr<DesktopNoticeBackend>& noticeBackend() const { return noticeBackend_; }

  private:
    std::shared_ptr<TBNService> service_;
    std::shared_ptr<TBNUIServiceProtocol> uiService_;
    std::shared_ptr<DesktopNoticeBackend> noticeBackend_;
    std::shared_ptr<TBNSystemNotifictionService> notificationService_;
    std::shared_ptr<DesktopNotifications> notifications_;
    std::shared_ptr<ServiceContainer> container_;
};

// ---- The application delegate ---------------------------------------------------------

class AppDelegate : public TBNStatusItemDelegate,
                    public TBNServiceDelegate,
                    public TBNSettingsDelegate,
                    public TBNWizardWindowControllerDelegate,
                    public SoftwareUpdaterDelegate,
                    public std::enable_shared_from_this<AppDelegate> {
  public:
    AppDelegate(const UserInterfaceFactory& ui, std::shared_ptr<MainLoop> loop,
                TBNSettings& settings, TBNLogFilter* filter, TBNLogFormatter* formatter)
        : ui_(ui),
          loop_(std::move(loop)),
          settings_(settings),
          logFilter_(filter),
          logFormatter_(formatter),
          startAtLogin_(StartAtLogin::runningProgram()) {}

    std::shared_ptr<TBNService> service;
    std::shared_ptr<TBNStatusItem> statusItem;
    TBNConfig config;
    NoUpdateService updater;
    bool relaunch = false;

    // Start at login follows the setting at each start.
    void reconcileStartAtLogin() {
        const bool wanted = settings_.startAtLogin();
        if (wanted && !startAtLogin_.isEnabled()) {
            enableStartAtLogin();
        } else if (!wanted && startAtLogin_.isEnabled()) {
            disableStartAtLogin();
        }
    }

    void enableStartAtLogin() {
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

    void disableStartAtLogin() {
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

    void createStatusBarItem() {
        statusItem =
            TBNStatusItem::create(trayImage("TrayIconBlack"), trayImage("TrayIconWhite"), loop_);
        statusItem->setDelegate(this);
        updateStatusBarIcon();
    }

    void updateStatusBarIcon() {
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
        // The panel's look is not known here: a dark image, and its inverse while open.
        const QString name = QString::fromStdString(base);
        statusItem->setImage(trayImage(name + "_dark_34_44"),
                             trayImage(name + "_dark_invert_34_44"));
    }

    void setLogLevel(int32_t level) {
        if (level != 0 && level != 1 && level != 2 && level != 11 && level != 12 && level != 13) {
            return;  // not a level: nothing stored, nothing applied
        }
        settings_.setLoggingLevel(level <= 2 ? 0 : level);
        StartupSteps::applyLogLevel(settings_, logFilter_, logFormatter_);
    }

    void startService() {
        auto service = this->service;
        std::weak_ptr<AppDelegate> weak = weak_from_this();
        // With the simulated radio the service's identity source never asks (see
        // runDesktop).
        const bool asks = static_cast<bool>(ui_.makePopoverUIService);
        DispatchQueue::global(DispatchQueue::Priority::High)->async([service, weak, asks, this] {
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
            reportServing();
            loop_->post([weak] {
                if (auto self = weak.lock()) self->updateStatusBarIcon();
            });
        });
    }

    void reportServing() {
        // Wait for the start (with a question the servers come later).
        for (int i = 0; i < 600; ++i) {
            if (ThriftHTTPServer* http = service->server(); http && http->isListening()) {
                sayLine("serving http://127.0.0.1:" + std::to_string(http->port()) + "/thrift");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        sayLine("the service did not start; see the log in " + TBNSettings::logsFolder().string());
    }

    // ---- TBNStatusItemDelegate ----
    QMenu* menuToShowStatusItem(TBNStatusItem&) override { return createMenu(); }

    QMenu* createMenu() {
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
        auto& browsers = TBNBrowserExtensionManager::sharedManager();
        s.browserInstalled = {browsers.isSafariInstalled(), browsers.isChromeInstalled(),
                              browsers.isEdgeInstalled(),   browsers.isFirefoxInstalled(),
                              browsers.isOperaInstalled(),  browsers.isBraveInstalled(),
                              browsers.isVivaldiInstalled()};
        s.startAtLoginEnabled = startAtLogin_.isEnabled();
        if (s.extendedMode) {
            if (currentPassword_.empty()) currentPassword_ = generatePassword();
            s.currentPassword = currentPassword_;
        }
        auto* menu = new QMenu();
        fill(menu, buildStatusMenu(s));
        return menu;
    }

    void fill(QMenu* menu, const std::vector<StatusMenuItem>& items) {
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
            if (!item.action.empty()) {
                std::weak_ptr<AppDelegate> weak = weak_from_this();
                const std::string name = item.action;
                QObject::connect(action, &QAction::triggered, [weak, name] {
                    if (auto self = weak.lock()) self->perform(name);
                });
            }
        }
    }

    std::string generatePassword() {
        try {
            auto generator = settings_.generatorSettings();
            if (generator && generator->config()) {
                return TBNPasswordGenerator::sharedGenerator().generateByConfig(
                    *generator->config());
            }
        } catch (const std::exception& e) {
            TBN_LOG_ERROR(kTags, "cannot generate a password: {}", e.what());
        }
        return {};
    }

    void showPopover(const std::string& identifier) {
        TBN_LOG_DEBUG(kTags, "show {}", identifier);
        if (!ui_.popoverAtName || !statusItem) return;
        if (auto page = ui_.popoverAtName(identifier)) {
            statusItem->showPopoverViewController(page);
        }
    }

    void perform(const std::string& action) {
        TBN_LOG_DEBUG(kTags, "menu action {}", action);
        auto notices = config.notifications();
        auto remote = service ? service->remoteService() : nullptr;
        auto& browsers = TBNBrowserExtensionManager::sharedManager();
        auto installExtension = [this](void (TBNBrowserExtensionManager::*install)()) {
            (TBNBrowserExtensionManager::sharedManager().*install)();
            if (service) service->openExtensionRegistration();
        };
        if (action == "menuWarningAction") {
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
            service->showInstallDriver();
        } else if (action == "menuRunU2FDriverAction") {
            service->showRunDriver();
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
            QMessageBox::information(nullptr, "Lumvane",
                                     "Lumvane is updated by your system's package manager (" +
                                         QString::fromStdString(updater.checkInteractively()) +
                                         " here).");
        } else if (action == "menuInstallSafariExt") {
            browsers.installSafariExtension();
        } else if (action == "menuInstallChromeExt") {
            installExtension(&TBNBrowserExtensionManager::installChromeExtension);
        } else if (action == "menuInstallEdgeExt") {
            installExtension(&TBNBrowserExtensionManager::installEdgeExtension);
        } else if (action == "menuInstallFirefoxExt") {
            installExtension(&TBNBrowserExtensionManager::installFirefoxExtension);
        } else if (action == "menuInstallOperaExt") {
            installExtension(&TBNBrowserExtensionManager::installOperaExtension);
        } else if (action == "menuInstallBraveExt") {
            installExtension(&TBNBrowserExtensionManager::installBraveExtension);
        } else if (action == "menuInstallVivaldiExt") {
            installExtension(&TBNBrowserExtensionManager::installVivaldiExtension);
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
            QTimer::singleShot(1000, qApp, [] { quitApplication(); });
        } else if (action == "menuLoggingDisableAction") {
            setLogLevel(0);
        } else if (action == "menuLoggingInfoLelelAction") {
            setLogLevel(11);
        } else if (action == "menuLoggingDebugLelelAction") {
            setLogLevel(12);
        } else if (action == "menuLoggingVerboseLevelAction") {
            setLogLevel(13);
        } else if (action == "menuLoggingOpenInFinderAction") {
            openFolder(TBNSettings::logsFolder());
        } else if (action == "menuLoggingSendAllLogsAction") {
            sendLogs();
        } else if (action == "menuBackupOpenInFinderAction") {
            if (auto folder = settings_.backupLocation()) openFolder(*folder);
        } else if (action == "menuBackupChangeLocationAction") {
            changeBackupLocation();
        } else if (action == "menuShowFeedbackDialog") {
            openUrl("mailto:" + std::string(kSupportAddress) + "?subject=Lumvane%20feedback");
        } else if (action == "menuShowHelp") {
            openUrl(std::string(kWebHost) + "/docs/index.html");
        } else if (action == "menuShowPrivacyPolicy") {
            openUrl(std::string(kWebHost) + "/docs/privacy-policy.html");
        } else if (action == "menuShowTermsOfUse") {
            openUrl(std::string(kWebHost) + "/terms.html");
        } else if (action == "menuShowReviewOnFacebook") {
            openUrl("https://www.facebook.com/lumvane/reviews");
        } else if (action == "menuShowShareViaFacebook") {
            openUrl("https://www.facebook.com/sharer/sharer.php?u=https%3A//lumvane.io");
        } else if (action == "menuShowShareViaTwitter") {
            openUrl(
                "https://twitter.com/home?status=I%20keep%20every%20password%20safe%20with%20"
                "%40lumvane%20(https%3A//lumvane.io)");
        } else if (action == "menuShowShareViaLinkedin") {
            openUrl("https://www.linkedin.com/sharing/share-offsite/?url=https%3A%2F%2Flumvane.io");
        } else if (action == "menuQuitAction") {
            quitApplication();
        } else if (action == "menuShowRateAction") {
            showPopover("TBNRatePopoverViewController");
        } else if (action == "menuOpenPreferencesFolder") {
            openFolder(TBNSettings::settingFolder());
        } else if (action == "menuCopyPasswordToOSXAction") {
            if (Pasteboard::general()->setString(currentPassword_)) {
                notices->notifyOfCopyPasswordToMacClipboard();
            }
        } else if (action == "menuCopyPasswordToIOSAction") {
            std::weak_ptr<AppDelegate> weak = weak_from_this();
            service->sendPasswordToPairedDevice(currentPassword_, [weak](bool sent) {
                if (!sent) return;
                if (auto self = weak.lock()) {
                    self->loop_->post([weak] {
                        if (auto self = weak.lock()) {
                            self->config.notifications()->notifyOfCopyPasswordToPhoneClipboard();
                        }
                    });
                }
            });
        } else if (action == "menuCopyPasswordToOSXAndIOSAction") {
            Pasteboard::general()->setString(currentPassword_);
            service->sendPasswordToPairedDevice(currentPassword_, [](bool) {});
            notices->notifyOfCopyPasswordToMacAndPhoneClipboards();
        } else if (action == "menuRegeneratePasswordAction") {
            currentPassword_ = generatePassword();
        } else if (action == "menuCreateAccountAction") {
            auto s = service;
            DispatchQueue::global()->async([s] { s->createAccountWithPassword(std::nullopt); });
        } else if (action == "menuFlushAllLogsAction") {
            DispatchQueue::global()->async([] { TBNLogHelper::flushLog(); });
        } else if (action == "menuClearFavIconCacheAction") {
            // The pages keep no icon cache on this platform.
        } else if (action == "menuCrashAppAction") {
            std::abort();
        } else if (action == "menuPause") {
            settings_.setPaused(true);
        } else if (action == "menuResume") {
            settings_.setPaused(false);
        }
    }

    void unpair() {
        auto phone = settings_.firstPairedDevice();
        if (auto remote = service ? service->remoteService() : nullptr) {
            remote->unpairFromDevice(phone ? phone->deviceId() : std::nullopt);
        }
    }

    void sendLogs() {
        std::weak_ptr<AppDelegate> weak = weak_from_this();
        DispatchQueue::global()->async([weak] {
            auto archive =
                TBNLogHelper::archiveAllLogsToZipFile(TBNSettings::logsFolder().string());
            auto self = weak.lock();
            if (!self) return;
            self->loop_->post([archive] {
                if (!archive) {
                    openFolder(TBNSettings::logsFolder());
                    return;
                }
                // The mail program gets the archive; without one the file manager shows it.
                const QStringList arguments = {
                    "--subject", "Lumvane app logs for [issue description]", "--attach",
                    QString::fromStdString(*archive), QString(kSupportAddress)};
                const QString mail = QStandardPaths::findExecutable("xdg-email");
                if (mail.isEmpty() || !QProcess::startDetached(mail, arguments)) {
                    openFolder(std::filesystem::path(*archive).parent_path());
                }
            });
        });
    }

    void changeBackupLocation();

    // ---- TBNServiceDelegate ----
    void serviceDidUpdateUI(TBNService&) override {
        std::weak_ptr<AppDelegate> weak = weak_from_this();
        loop_->post([weak] {
            if (auto self = weak.lock()) self->updateStatusBarIcon();
        });
    }

    // ---- TBNSettingsDelegate (high-priority queue) ----
    void settingsDidUpdated(TBNSettings&, TBNSettingsComponents components) override {
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
    void wizardWindowControllerDidCanceled() override { quitApplication(); }
    void wizardWindowControllerStartService() override { startService(); }
    void wizardWindowControllerDidFinished() override {
        std::weak_ptr<AppDelegate> weak = weak_from_this();
        loop_->postAfter(1.0, [weak] {
            auto self = weak.lock();
            if (!self) return;
            if (auto ui = self->config.uiService()) {
                ui->showGuide("GUIDE_WELCOME_TITLE", "GUIDE_WELCOME_MESSAGE", false);
            }
        });
    }

    // ---- SoftwareUpdaterDelegate ----
    bool updaterShouldOfferPrereleases() override { return false; }
    void updaterWillDownloadUpdate() override {}

  private:
    const UserInterfaceFactory& ui_;
    std::shared_ptr<MainLoop> loop_;
    TBNSettings& settings_;
    TBNLogFilter* logFilter_;
    TBNLogFormatter* logFormatter_;
    StartAtLogin startAtLogin_;
    std::string currentPassword_;  // main thread
};

}  // namespace
}  // namespace lumvane

#include <QFileDialog>

namespace lumvane {
namespace {

void AppDelegate::changeBackupLocation() {
    const std::string current = settings_.backupLocation().value_or("");
    const QString chosen = QFileDialog::getExistingDirectory(
        nullptr, QString::fromStdString(desktopText("RESTORE_LOADPANEL_TITLE")),
        QString::fromStdString(current));
    if (chosen.isEmpty() || chosen.toStdString() == current) return;
    const std::string path = chosen.toStdString();
    TBNSettings* settings = &settings_;
    DispatchQueue::global()->async([settings, path] {
        settings->setBackupLocation(path);
        settings->setUserChangedBackupLocation(true);
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
    });
}

}  // namespace

std::optional<std::string> keychainBlocksStartup(TBNKeyChainManager& keychain,
                                                 const std::filesystem::path& settingFile) {
    std::error_code ec;
    if (!std::filesystem::exists(settingFile, ec)) return std::nullopt;
    try {
        (void)keychain.dataForKey(std::string(StartupSteps::kSettingsKeyItem));
    } catch (const TBNKeyChainItemNotFoundException&) {
        return std::nullopt;  // no key yet: the steps make one
    } catch (const TBNKeyChainException& e) {
        return notice::keychainUnreadableText(e.what(), settingFile.string());
    }
    return std::nullopt;
}

bool desktopDisplayAvailable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

int runDesktop(int argc, char** argv, const CommandLine& commandLine,
               const UserInterfaceFactory& ui) {
    // Stop signals are taken by one thread with sigwait; every thread made from here on
    // inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const std::string bleSpec = commandLine.ble.value_or("qt");
    auto factory = centralFactory(bleSpec);
    if (!factory) {
        std::fprintf(stderr, "lumvane: this build cannot use --ble=%s\n", bleSpec.c_str());
        return 2;
    }
    auto notices = std::make_shared<UserNotices>();
    if (bleSpec.rfind("sim:", 0) == 0) {
        // The simulated radio looks switched off while its hub is not there.
        const std::string socketPath = bleSpec.substr(4);
        factory = watchBluetoothState(*factory, [notices, socketPath](ble::CentralState state) {
            if (state == ble::CentralState::PoweredOff) {
                notices->sayOnce("radio", notice::simulatedRadioText(socketPath));
            }
        });
    }
    std::optional<TBNThriftRemoteMobileSevice::PushConnector> pushConnector;
    if (commandLine.push) {
        auto connector = pushConnectorForSpec(*commandLine.push);
        if (!connector) {
            std::fprintf(stderr, "lumvane: cannot use --push=%s\n", commandLine.push->c_str());
            return 2;
        }
        pushConnector = *connector;
    }

    // One copy per settings folder: a second one would rewrite the settings under the first.
    std::optional<SingleInstance> instance = takeSingleInstanceLock();
    if (!instance) return kExitAlreadyRunning;
    if (bleSpec.rfind("sim:", 0) == 0 && !unixSocketAnswers(bleSpec.substr(4))) {
        notices->sayOnce("radio", notice::simulatedRadioText(bleSpec.substr(4)));
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Lumvane");
    QApplication::setQuitOnLastWindowClosed(false);
    initDesktopResources();

    installCrashHooks();
    TBNLogFilter* logFilter = nullptr;
    TBNLogFormatter* logFormatter = nullptr;
    try {
        Paths::createPrivateFolder(TBNSettings::logsFolder());
        TBNLogHelper::initializeLogsInFolder(TBNSettings::logsFolder().string(), {},
                                             [&](TBNLogFilter& filter, TBNLogFormatter& formatter) {
                                                 logFilter = &filter;
                                                 logFormatter = &formatter;
                                             });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumvane: cannot write logs in %s: %s\n",
                     TBNSettings::logsFolder().c_str(), e.what());
    }
    StartupSteps::stashSystemInfoToLog();
    TBN_LOG_INFO(kTags, "desktop start, Bluetooth back end {}", bleSpec);

    // The runtime's main loop is Qt's from here on.
    auto loop = std::make_shared<QtMainLoop>();
    MainLoop::setMain(loop);
    Pasteboard::setGeneral(std::make_shared<QtPasteboard>());

    // A locked or unreachable keychain is not a missing key: the settings stay untouched
    // and the user is told, instead of a fresh key taking their place.
    if (auto why = keychainBlocksStartup(TBNKeyChainManager::sharedManager(),
                                         TBNSettings::settingsFilePath())) {
        TBN_LOG_ERROR(kTags, "{}", *why);
        sayLine(*why);
        QMessageBox::critical(nullptr, "Lumvane", QString::fromStdString(*why));
        TBNLogHelper::flushLog();
        return 1;
    }

    TBNSettings& settings = TBNSettings::sharedSettings();
    // A change that does not reach the disk is gone at the next start: say so once per
    // streak of failed saves, and say when saving works again.
    settings.setSaveHealthHandler([notices](const TBNSettings::SaveHealth& health) {
        notices->say(health.saving ? notice::settingsSavedAgainText()
                                   : notice::settingsNotSavedText(health.reason));
    });
    auto startup = StartupSteps::runServiceSideSteps(
        TBNKeyChainManager::sharedManager(), settings, TBNSettings::settingsFilePath(),
        TBNSettings::oldSettingFolder() / TBNSettings::kSettingsFileName, logFilter, logFormatter);
    if (startup.stopped) {
        sayLine(*startup.stopped);
        QMessageBox::critical(nullptr, "Lumvane", QString::fromStdString(*startup.stopped));
        TBNLogHelper::flushLog();
        return 1;
    }
    if (startup.keychainNotice) notices->sayOnce("keychain", *startup.keychainNotice);
    if (!startup.completed || !settings.isLoaded()) {
        // The settings stay as they are on disk; nothing is replaced behind the user's back.
        sayLine("start-up failed; see the log in " + TBNSettings::logsFolder().string());
        QMessageBox::critical(nullptr, "Lumvane",
                              "Lumvane cannot open its settings. See the log in " +
                                  QString::fromStdString(TBNSettings::logsFolder().string()));
        TBNLogHelper::flushLog();
        return 1;
    }
    if (startup.settingsMovedAside) {
        // The pairing and approvals went with the old file: the user has to know.
        notices->say(StartupSteps::movedAsideText(*startup.settingsMovedAside));
    } else if (startup.settingsAttempt == 3) {
        sayLine("settings could not be opened: started with new settings");
    }

    auto delegate = std::make_shared<AppDelegate>(ui, loop, settings, logFilter, logFormatter);
    delegate->reconcileStartAtLogin();

    ble::setDefaultBleCentralFactory(*factory);
    TBNService::Options options;
    options.settings = settings.shared_from_this();
    options.mainLoop = loop;
    options.remoteOptions.settings = options.settings;
    options.remoteOptions.clientFactory = makeBlecPhoneClientFactory();
    if (pushConnector) options.remoteOptions.pushConnector = *pushConnector;
#ifdef LUMVANE_HAVE_LOGIND
    options.sleepWake = std::make_shared<LogindSleepWakeSource>();
#endif
    if (bleSpec.rfind("sim:", 0) == 0) {
        // With the simulated radio (tests, demonstrations) the application never creates
        // or trusts an identity, which needs an administrator password; like a headless
        // run it uses one an earlier run made, else plain HTTP.
        options.identitySource.isSetuped = [] { return true; };
        options.identitySource.identity = []() -> std::optional<SSLIdentity> {
            auto& manager = TBNBrowserExtensionManager::sharedManager();
            if (!manager.isExistSSLIdentity() || manager.isExpiredSSLIdentity()) {
                return std::nullopt;
            }
            auto identity = manager.sslIdentity();
            if (!identity) return std::nullopt;
            return SSLIdentity{identity->certificatePath, identity->privateKeyPath};
        };
    }
    TBNServiceHandlers::applyStandard(options);
    options.terminate = [loop] { loop->post([] { quitApplication(); }); };
    TBNService::configureSharedService(std::move(options));
    auto service = TBNService::sharedService();
    delegate->service = service;
    service->setDelegate(delegate);
    if (const auto& remote = service->remoteService()) connectSecurityKey(*remote);

    delegate->createStatusBarItem();
    delegate->config.configure(service, delegate->statusItem, loop, ui);
    settings.addDelegate(delegate);
    sayLine("status item shown");
    if (auto desktopNotices = delegate->config.notifications()) {
        if (auto noticeService = desktopNotices->notificationService()) {
            notices->attach([noticeService, loop](const std::string& text) {
                loop->post([noticeService, text] {
                    noticeService->showNotification(text, std::string("Lumvane"), std::nullopt);
                });
            });
        }
    }

    // Updates come from the package manager: the checks answer so and fetch nothing.
    delegate->updater.setDelegate(delegate.get());
    loop->postAfter(10.0, [delegate] { delegate->updater.checkInBackground(); });
    QTimer updateTimer;
    updateTimer.setInterval(std::chrono::hours(1));
    QObject::connect(&updateTimer, &QTimer::timeout,
                     [delegate] { delegate->updater.checkInBackground(); });
    updateTimer.start();

    // Browsers can start the native-messaging host only once their manifests are there.
    sayLine(StartupSteps::manifestsText(StartupSteps::installNativeMessagingManifests(
        TBNBrowserExtensionManager::sharedManager())));

    if (settings.doneWizard()) {
        delegate->startService();
    } else if (ui.showFirstRunWizard) {
        TBN_LOG_INFO(kTags, "first run: the set-up wizard");
        sayLine("first start: showing the set-up wizard");
        ui.showFirstRunWizard(service, delegate);
    } else {
        sayLine("first start: no set-up wizard in this build; starting the service");
        delegate->startService();
    }
    DispatchQueue::global()->async([] { (void)TBNPasswordGenerator::sharedGenerator(); });

    std::atomic<bool> stopping{false};
    std::thread signalThread([&stopSignals, &stopping, loop] {
        for (;;) {
            int received = 0;
            if (sigwait(&stopSignals, &received) != 0) continue;
            if (stopping.load()) return;
            TBN_LOG_INFO(kTags, "signal {}: stopping", received);
            loop->post([] { quitApplication(); });
            return;
        }
    });

    const int status = app.exec();
    TBN_LOG_INFO(kTags, "desktop stop");

    StartupSteps::stopService(service, settings, kStopGrace);
    sayLine("stopped");
    stopping.store(true);
    if (signalThread.joinable()) {
        pthread_kill(signalThread.native_handle(), SIGTERM);
        signalThread.join();
    }
    if (delegate->relaunch) {
        instance.reset();  // the new copy takes the lock
        // Started once this run has let go of its ports; no shell, the real program path.
        QStringList arguments;
        for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
        QProcess::startDetached(QString::fromStdString(StartAtLogin::runningProgram().string()),
                                arguments);
    }
    std::fflush(nullptr);
    return status;
}

}  // namespace lumvane
