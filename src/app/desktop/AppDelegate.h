#pragma once
// The application delegate of the desktop: the status icon, the status menu and what each
// of its items does, the log level, start at login, the answers to the service, the
// settings and the set-up wizard. What it reaches outside the program (the desktop's
// browser and file manager, dialogs, the mail program, the end of the program) goes
// through DesktopEnvironment, so a test drives the real menu with recorders in its place.
//
// The menu's actions never run inside the menu: a chosen item is carried out once the
// menu has closed and Qt's menu code has returned, so an action may open a dialog with
// an event loop of its own while the menu it came from is deleted.
#include <QMenu>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/desktop/DesktopApp.h"
#include "app/desktop/Notices.h"
#include "app/desktop/SoftwareUpdater.h"
#include "app/desktop/StartAtLogin.h"
#include "app/desktop/StatusMenuModel.h"
#include "app/desktop/TBNStatusItem.h"
#include "core/service/TBNService.h"
#include "settings/TBNSettings.h"
#include "ui/wizard/WizardLauncher.h"

namespace lumvane {

class TBNBrowserExtensionManager;
class TBNLogFilter;
class TBNLogFormatter;
class DesktopNoticeBackend;
class ServiceContainer;
enum class TBNBrowser;

// The desktop around the application.
struct DesktopEnvironment {
    // Opens a web address in the user's browser.
    std::function<void(const std::string& url)> openUrl;
    // Shows a folder in the file manager.
    std::function<void(const std::filesystem::path& folder)> openFolder;
    // A message in a dialog of its own; returns once the user closed it.
    std::function<void(const std::string& text)> showMessage;
    // Asks for a folder, starting at `current`; nothing when the user cancelled.
    std::function<std::optional<std::string>(const std::string& title, const std::string& current)>
        chooseFolder;
    // Hands the log archive to the mail program; false when none took it.
    std::function<bool(const std::string& archive)> mailLogs;
    // Ends the program (the event loop returns).
    std::function<void()> quit;
    // The test crash of the extended menu.
    std::function<void()> crash;

    // The real desktop: QDesktopServices, QMessageBox, QFileDialog, xdg-email,
    // QCoreApplication::exit and abort().
    static DesktopEnvironment system();
};

// Puts the user-interface side of the service together once: notices on the desktop's
// notification server, the UI service of the pages, the generator page's copy notice and
// the service layer's container.
class TBNConfig {
  public:
    // `backend`: where notices go; none: the desktop's notification server (with the
    // tray balloon where no server answers), which also asks for security-key presence.
    void configure(const std::shared_ptr<TBNService>& service,
                   const std::shared_ptr<TBNStatusItem>& statusItem,
                   const std::shared_ptr<MainLoop>& loop, const UserInterfaceFactory& ui,
                   std::shared_ptr<NoticeBackend> backend = nullptr);

    const std::shared_ptr<DesktopNotifications>& notifications() const { return notifications_; }
    const std::shared_ptr<TBNNotificationServiceProtocol> notificationService() const {
        return notificationService_;
    }
    const std::shared_ptr<TBNUIServiceProtocol>& uiService() const { return uiService_; }
    const std::shared_ptr<NoticeBackend>& noticeBackend() const { return noticeBackend_; }
    // The start-up texts, one notice after another.
    const std::shared_ptr<StartupNoticeQueue>& startupNotices() const { return startupNotices_; }
    // Lets go of the Qt objects (the pages' UI service, the notification server's client):
    // notices and pages asked for afterwards are dropped.
    void tearDown();

  private:
    std::shared_ptr<TBNService> service_;
    std::shared_ptr<TBNUIServiceProtocol> uiService_;
    std::shared_ptr<NoticeBackend> noticeBackend_;
    std::shared_ptr<TBNSystemNotifictionService> notificationService_;
    std::shared_ptr<DesktopNotifications> notifications_;
    std::shared_ptr<StartupNoticeQueue> startupNotices_;
    std::shared_ptr<ServiceContainer> container_;
};

class AppDelegate : public TBNStatusItemDelegate,
                    public TBNServiceDelegate,
                    public TBNSettingsDelegate,
                    public TBNWizardWindowControllerDelegate,
                    public SoftwareUpdaterDelegate,
                    public std::enable_shared_from_this<AppDelegate> {
  public:
    // `browsers`: null for the shared browser manager; `startAtLogin`: none for the
    // running program in the user's autostart folder.
    AppDelegate(UserInterfaceFactory ui, std::shared_ptr<MainLoop> loop, TBNSettings& settings,
                TBNLogFilter* filter, TBNLogFormatter* formatter,
                DesktopEnvironment environment = DesktopEnvironment::system(),
                TBNBrowserExtensionManager* browsers = nullptr,
                std::optional<StartAtLogin> startAtLogin = std::nullopt);

    std::shared_ptr<TBNService> service;
    std::shared_ptr<TBNStatusItem> statusItem;
    TBNConfig config;
    NoUpdateService updater;
    // Set by the anonymous-data switch: the program starts again once this run ended.
    bool relaunch = false;

    // Start at login follows the setting at each start.
    void reconcileStartAtLogin();
    void enableStartAtLogin();
    void disableStartAtLogin();

    // At the end of the run, on the main thread while the QApplication still exists: the
    // status item, its pages and the notices' Qt objects go now, whoever still holds the
    // delegate (a queue's task may, and would otherwise delete them on its thread after
    // the application).
    void tearDown();

    void createStatusBarItem();
    void updateStatusBarIcon();
    void setLogLevel(int32_t level);
    // Starts the service on the high-priority queue; `reportServing` then tells when the
    // servers listen.
    void startService();

    // ---- The status menu ----
    QMenu* menuToShowStatusItem(TBNStatusItem&) override { return createMenu(); }
    // A new menu for the state now (the caller owns it).
    QMenu* createMenu();
    // What the menu model shows now.
    StatusMenuState menuState();
    // Carries out the menu action of that name (on the main thread).
    void perform(const std::string& action);
    const std::string& currentPassword() const { return currentPassword_; }

    // Opens the extensions' registration window and tells the user so; `browser`: the
    // browser whose install page was opened (empty: none), `started`: whether it started.
    void openExtensionRegistration(const std::string& browser = {}, bool started = true);

    // ---- TBNServiceDelegate ----
    void serviceDidUpdateUI(TBNService&) override;
    // ---- TBNSettingsDelegate (high-priority queue) ----
    void settingsDidUpdated(TBNSettings&, TBNSettingsComponents components) override;
    // ---- TBNWizardWindowControllerDelegate ----
    void wizardWindowControllerDidCanceled() override;
    void wizardWindowControllerStartService() override { startService(); }
    void wizardWindowControllerDidFinished() override;
    // ---- SoftwareUpdaterDelegate ----
    bool updaterShouldOfferPrereleases() override { return false; }
    void updaterWillDownloadUpdate() override {}

  private:
    void fill(QMenu* menu, const std::vector<StatusMenuItem>& items);
    std::string generatePassword();
    void showPopover(const std::string& identifier);
    void unpair();
    void sendLogs();
    void changeBackupLocation();
    static void reportServing(const std::shared_ptr<TBNService>& service);
    void installExtension(TBNBrowser browser);

    UserInterfaceFactory ui_;
    std::shared_ptr<MainLoop> loop_;
    TBNSettings& settings_;
    TBNLogFilter* logFilter_;
    TBNLogFormatter* logFormatter_;
    DesktopEnvironment environment_;
    TBNBrowserExtensionManager* browsers_;
    StartAtLogin startAtLogin_;
    std::string currentPassword_;  // main thread
};

}  // namespace lumvane
