// The status menu of the real application delegate, driven the way a user drives it
// (offscreen): every action of the menu model is chosen and what it does is checked (a
// page shown, a setting changed, a file written, a window or the program ended), with
// recorders for the desktop around the program. A second test chooses each item that
// opens a dialog from the open menu with the keyboard, as Qt's menu code delivers it, and
// opens the menu again: no dialog may run inside the menu's own handling, where the menu
// is deleted under Qt's feet (the test command also runs it under valgrind).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/StartupSteps.h"
#include "app/desktop/AppDelegate.h"
#include "app/shell/QtMainLoop.h"
#include "core/pasteboard/Pasteboard.h"
#include "core/remote/TBNThriftRemoteMobileSevice.h"
#include "core/service/TBNServiceHandlers.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "extension/handlers/TBNThriftHostService.h"
#include "idl/settings.h"
#include "runtime/TBNWaitManager.h"
#include "settings/TBNSettings.h"
#include "ui/MorePages.h"
#include "ui/PageEnvironment.h"
#include "ui/UserInterface.h"

namespace lumvane {
namespace {

namespace fs = std::filesystem;

// Counts how deep the delivery of input events to menus is nested right now: a dialog
// shown while it is above zero runs inside the menu's own handling.
class TrackingApplication : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        const bool menuInput =
            qobject_cast<QMenu*>(receiver) &&
            (event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonRelease);
        if (menuInput) ++menuInputDepth;
        const bool result = QApplication::notify(receiver, event);
        if (menuInput) --menuInputDepth;
        return result;
    }
    int menuInputDepth = 0;
};

TrackingApplication& application() {
    // The program's own folders (logs, settings) in a temporary place, not the user's.
    static const bool folders = [] {
        const fs::path home =
            fs::temp_directory_path() / ("status-menu-home-" + std::to_string(::getpid()));
        fs::create_directories(home);
        setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        return true;
    }();
    (void)folders;
    static int argc = 1;
    static char name[] = "status_menu_tests";
    static char* argv[] = {name, nullptr};
    static TrackingApplication* app = new TrackingApplication(argc, argv);
    return *app;
}

bool processUntil(const std::function<bool()>& done,
                  std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class StubPage : public TBNPopoverViewController {
  public:
    explicit StubPage(std::string identifier) : identifier_(std::move(identifier)) {
        auto* label = new QLabel(QString::fromStdString(identifier_), this);
        label->resize(200, 40);
        setFixedSize(220, 60);
    }
    QString identifier() const override { return QString::fromStdString(identifier_); }

  private:
    std::string identifier_;
};

class RecordingBackend : public NoticeBackend {
  public:
    uint32_t show(const DesktopNotice& notice, uint32_t) override {
        titles.push_back(notice.title);
        texts.push_back(notice.subtitle + " " + notice.body);
        return static_cast<uint32_t>(titles.size());
    }
    void close(uint32_t) override {}
    std::vector<std::string> titles;
    std::vector<std::string> texts;
};

const std::vector<std::pair<std::string, std::string>>& browserLaunchers() {
    static const std::vector<std::pair<std::string, std::string>> launchers = {
        {"google-chrome.desktop", "google-chrome/NativeMessagingHosts"},
        {"chromium.desktop", "chromium/NativeMessagingHosts"},
        {"microsoft-edge.desktop", "microsoft-edge/NativeMessagingHosts"},
        {"firefox.desktop", ""},
        {"opera.desktop", "opera/NativeMessagingHosts"},
        {"brave-browser.desktop", "BraveSoftware/Brave-Browser/NativeMessagingHosts"},
        {"vivaldi-stable.desktop", "vivaldi/NativeMessagingHosts"},
    };
    return launchers;
}

// One application delegate with its service, settings, browsers and desktop, all in a
// temporary home.
class World {
  public:
    explicit World(bool realDialogs = false) {
        static int counter = 0;
        root = fs::temp_directory_path() /
               ("status-menu-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(root);
        fs::create_directories(root / "home/.local/share/applications");
        for (const auto& [launcher, folder] : browserLaunchers()) {
            std::ofstream(root / "home/.local/share/applications" / launcher)
                << "[Desktop Entry]\nType=Application\nName=Browser\nExec=true %U\n";
        }
        loop = std::make_shared<QtMainLoop>();
        TBNSettings::Options so;
        so.bundleVersion = "1.0.0.0";
        settings = TBNSettings::create(so);
        settings->loadBySettingsClass(root / TBNSettings::kSettingsFileName);
        settings->decryptEncryptedSettingsByKey(Bytes(32, 0x5A));
        StartupSteps::updateSettings(*settings);
        settings->setOsxExtendedMode(true);
        settings->waitForPendingSaves();

        BrowserIntegrationOptions bo;
        bo.environment = BrowserEnvironment::underHome((root / "home").string());
        bo.executablePath = "/usr/bin/true";
        bo.generateSSLCerts = false;
        bo.urlOpener = [this](const std::string& url, const BrowserLaunch& launch) {
            opened.emplace_back(TBNBrowserExtensionManager::applicationName(launch.browser), url);
            return true;
        };
        browsers = std::make_unique<TBNBrowserExtensionManager>(bo);

        TBNService::Options options;
        options.settings = settings;
        options.mainLoop = loop;
        options.waitManager = &waits;
        options.httpPort = options.httpsPort = options.loggingPort = 0;
        options.pasteboard = TBNPasteboard::create(clipboard, loop);
        options.terminate = [] {};
        options.computerName = "Test Computer";
        TBNServiceHandlers::applyStandard(options);
        auto settingsForRemote = settings;
        options.remoteServiceFactory = [settingsForRemote](auto delegate) {
            TBNThriftRemoteMobileSevice::Options ro;
            ro.settings = settingsForRemote;
            ro.clientFactory = [](const auto&, const auto&) {
                return std::shared_ptr<RemotePhoneClient>();
            };
            ro.pushConnector = [](std::string*) { return std::shared_ptr<PushClient>(); };
            ro.connectPushAsync = false;
            return TBNThriftRemoteMobileSevice::create(std::move(delegate), ro);
        };
        service = TBNService::create(std::move(options));

        UserInterfaceFactory ui;
        ui.popoverAtName = [this](const std::string& identifier) {
            pages.push_back(identifier);
            return std::make_shared<StubPage>(identifier);
        };
        ui.showQRCodeWindow = [this](std::shared_ptr<TBNService>) { windows.push_back("qrcode"); };
        ui.showImportWindow = [this](std::shared_ptr<TBNService>) { windows.push_back("import"); };
        ui.showExportWindow = [this](std::shared_ptr<TBNService>) { windows.push_back("export"); };

        DesktopEnvironment desktop;
        desktop.openUrl = [this](const std::string& url) { urls.push_back(url); };
        desktop.openFolder = [this](const fs::path& folder) { folders.push_back(folder); };
        desktop.showMessage = [this](const std::string& text) { messages.push_back(text); };
        desktop.chooseFolder = [this](const std::string&, const std::string&) {
            return std::optional<std::string>((root / "chosen backups").string());
        };
        desktop.mailLogs = [this](const std::string& archive) {
            mailed.push_back(archive);
            return true;
        };
        desktop.quit = [this] { ++quits; };
        desktop.crash = [this] { ++crashes; };
        if (realDialogs) {
            const DesktopEnvironment system = DesktopEnvironment::system();
            desktop.showMessage = system.showMessage;
            desktop.chooseFolder = system.chooseFolder;
        }

        delegate = std::make_shared<AppDelegate>(ui, loop, *settings, nullptr, nullptr, desktop,
                                                 browsers.get(),
                                                 StartAtLogin("/usr/bin/lumvane", root / "config"));
        delegate->service = service;
        service->setDelegate(delegate);
        delegate->createStatusBarItem();
        delegate->config.configure(service, delegate->statusItem, loop, ui, notices);
        Pasteboard::setGeneral(clipboard);
    }

    ~World() {
        delegate->statusItem.reset();
        delegate.reset();
        service->stop();
        settings->waitForPendingSaves();
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    void pairPhone() {
        auto device = std::make_shared<TBNOSXDeviceInfo>();
        device->setDeviceId(std::string("0F0E0D0C-0000-4000-8000-000000000001"));
        device->setHardwareId(std::string("5A:12:9C:00:00:01"));
        device->setName(std::string("Test iPhone"));
        settings->addPairedDevice(device);
        settings->waitForPendingSaves();
    }

    bool registrationOpen() const {
        auto host = std::dynamic_pointer_cast<TBNThriftHostService>(service->hostService());
        return host && host->isExtensionRegistrationOpen();
    }

    // Everything posted to the main loop so far has run.
    void drain() {
        bool ran = false;
        loop->post([&ran] { ran = true; });
        ASSERT_TRUE(processUntil([&] { return ran; }));
    }

    fs::path root;
    TBNWaitManager waits;
    std::shared_ptr<QtMainLoop> loop;
    std::shared_ptr<TBNSettings> settings;
    std::unique_ptr<TBNBrowserExtensionManager> browsers;
    std::shared_ptr<MemoryPasteboard> clipboard = std::make_shared<MemoryPasteboard>();
    std::shared_ptr<RecordingBackend> notices = std::make_shared<RecordingBackend>();
    std::shared_ptr<TBNService> service;
    std::shared_ptr<AppDelegate> delegate;

    std::vector<std::pair<std::string, std::string>> opened;  // browser, page
    std::vector<std::string> pages, windows, urls, messages, mailed;
    std::vector<fs::path> folders;
    int quits = 0;
    int crashes = 0;
};

// The menu's action of that name, searched through the submenus; null when absent.
QAction* findAction(QMenu* menu, const std::string& name) {
    for (QAction* action : menu->actions()) {
        if (action->objectName().toStdString() == name) return action;
        if (QMenu* sub = action->menu()) {
            if (QAction* inner = findAction(sub, name)) return inner;
        }
    }
    return nullptr;
}

void collectActions(QMenu* menu, std::set<std::string>& names) {
    for (QAction* action : menu->actions()) {
        if (!action->objectName().isEmpty() && action->isEnabled()) {
            names.insert(action->objectName().toStdString());
        }
        if (QMenu* sub = action->menu()) collectActions(sub, names);
    }
}

struct ActionCase {
    std::string action;
    std::function<void(World&)> before;  // may be empty
    // Holds once the action did what it should (polled).
    std::function<bool(World&)> done;
    // Checked once `done` held (may be empty).
    std::function<void(World&)> then;
};

bool hasPage(const World& w, const std::string& page) {
    return std::find(w.pages.begin(), w.pages.end(), page) != w.pages.end();
}

bool hasTitle(const World& w, const std::string& title) {
    return std::find(w.notices->titles.begin(), w.notices->titles.end(), title) !=
           w.notices->titles.end();
}

ActionCase opensUrl(const std::string& action, const std::string& url) {
    return {action, {}, [url](World& w) { return w.urls == std::vector<std::string>{url}; }, {}};
}

ActionCase setsLogLevel(const std::string& action, int32_t level) {
    return {action,
            [level](World& w) { w.settings->setLoggingLevel(level == 13 ? 0 : 13); },
            [level](World& w) { return w.settings->loggingLevel() == level; },
            {}};
}

ActionCase installs(const std::string& action, const std::string& browser,
                    const std::string& manifestFolder) {
    return {action,
            {},
            [browser](World& w) { return !w.opened.empty() && w.registrationOpen(); },
            [browser, manifestFolder](World& w) {
                ASSERT_EQ(w.opened.size(), 1u);
                EXPECT_EQ(w.opened[0].first, browser);
                const fs::path manifest = manifestFolder.empty()
                                              ? w.root / "home/.mozilla/native-messaging-hosts"
                                              : w.root / "home/.config" / manifestFolder;
                EXPECT_TRUE(fs::exists(manifest / TBNBrowserExtensionManager::kManifestFileName))
                    << manifest;
                // The user is told that the extension may register now.
                EXPECT_TRUE(processUntil([&] { return hasTitle(w, "Add the Lumvane extension"); }));
            }};
}

// Nothing visible follows: no page, window, notice, URL, folder or end of the program.
ActionCase quiet(const std::string& action, std::function<void(World&)> before = {}) {
    return {action, std::move(before), [](World&) { return true; },
            [](World& w) {
                w.drain();
                EXPECT_TRUE(w.pages.empty());
                EXPECT_TRUE(w.windows.empty());
                EXPECT_TRUE(w.notices->titles.empty());
                EXPECT_TRUE(w.urls.empty());
                EXPECT_TRUE(w.folders.empty());
                EXPECT_EQ(w.quits + w.crashes, 0);
            }};
}

std::vector<ActionCase> actionCases() {
    return {
        // No phone paired: the warning line leads to pairing (warning 4), else it tells.
        {"menuWarningAction",
         {},
         [](World& w) { return w.service->warningType() != 4 || !w.windows.empty(); },
         [](World& w) {
             if (w.service->warningType() == 4)
                 EXPECT_EQ(w.windows, std::vector<std::string>{"qrcode"});
         }},
        {"menuInstallU2FDriverAction",
         {},
         [](World& w) { return w.service->showingInstallDriver(); },
         {}},
        {"menuRunU2FDriverAction",
         {},
         [](World& w) { return w.service->showingInstallDriver(); },
         {}},
        {"menuPasswordGeneratorAction",
         {},
         [](World& w) { return hasPage(w, "TBNPasswordGeneratorPopoverViewController"); },
         {}},
        {"menuDeviceUnpairAction", [](World& w) { w.pairPhone(); },
         [](World& w) { return !w.settings->firstPairedDevice(); },
         [](World& w) { EXPECT_TRUE(w.windows.empty()); }},
        {"menuStartPairViaQRCodeAction", [](World& w) { w.pairPhone(); },
         [](World& w) { return !w.windows.empty(); },
         [](World& w) {
             EXPECT_EQ(w.windows, std::vector<std::string>{"qrcode"});
             EXPECT_FALSE(w.settings->firstPairedDevice()) << "unpaired before pairing again";
         }},
        {"menuAboutAction",
         {},
         [](World& w) { return hasPage(w, "TBNAboutPopoverViewController"); },
         {}},
        {"menuCheckForUpdateDialog",
         {},
         [](World& w) { return w.messages.size() == 1; },
         [](World& w) {
             // Says how this copy is updated: the package manager, or building again.
             EXPECT_EQ(w.messages[0], NoUpdateService().checkInteractively());
         }},
        installs("menuInstallChromeExt", "Google Chrome", "google-chrome/NativeMessagingHosts"),
        installs("menuInstallChromiumExt", "Chromium", "chromium/NativeMessagingHosts"),
        installs("menuInstallEdgeExt", "Microsoft Edge", "microsoft-edge/NativeMessagingHosts"),
        installs("menuInstallFirefoxExt", "Firefox", ""),
        installs("menuInstallOperaExt", "Opera", "opera/NativeMessagingHosts"),
        installs("menuInstallBraveExt", "Brave Browser",
                 "BraveSoftware/Brave-Browser/NativeMessagingHosts"),
        installs("menuInstallVivaldiExt", "Vivaldi", "vivaldi/NativeMessagingHosts"),
        {"menuImportAction",
         {},
         [](World& w) { return w.windows == std::vector<std::string>{"import"}; },
         {}},
        {"menuExportAction",
         {},
         [](World& w) { return w.windows == std::vector<std::string>{"export"}; },
         {}},
        {"menuStartAtLoginAction",
         {},
         [](World& w) {
             return fs::exists(w.root / "config/autostart/io.lumvane.Lumvane.desktop");
         },
         [](World& w) { EXPECT_TRUE(w.settings->startAtLogin()); }},
        {"menuAllowAnonymousDataAction", [](World& w) { w.settings->setSendReports(false); },
         [](World& w) { return w.quits == 1; },
         [](World& w) {
             EXPECT_TRUE(w.settings->sendReports());
             EXPECT_TRUE(w.delegate->relaunch) << "the program starts again after it ended";
         }},
        setsLogLevel("menuLoggingDisableAction", 0),
        setsLogLevel("menuLoggingInfoLelelAction", 11),
        setsLogLevel("menuLoggingDebugLelelAction", 12),
        setsLogLevel("menuLoggingVerboseLevelAction", 13),
        {"menuLoggingOpenInFinderAction",
         {},
         [](World& w) { return w.folders == std::vector<fs::path>{TBNSettings::logsFolder()}; },
         {}},
        {"menuLoggingSendAllLogsAction",
         {},
         [](World& w) { return !w.mailed.empty() || !w.folders.empty(); },
         {}},
        {"menuBackupOpenInFinderAction",
         [](World& w) { w.settings->setBackupLocation((w.root / "backups").string()); },
         [](World& w) { return w.folders == std::vector<fs::path>{w.root / "backups"}; },
         {}},
        {"menuBackupChangeLocationAction",
         {},
         [](World& w) {
             return w.settings->backupLocation() == (w.root / "chosen backups").string() &&
                    fs::is_directory(w.root / "chosen backups");
         },
         [](World& w) { EXPECT_TRUE(w.settings->userChangedBackupLocation()); }},
        opensUrl("menuShowFeedbackDialog", "mailto:support@lumvane.io?subject=Lumvane%20feedback"),
        opensUrl("menuShowHelp", "https://lumvane.io/docs/index.html"),
        opensUrl("menuShowPrivacyPolicy", "https://lumvane.io/docs/privacy-policy.html"),
        opensUrl("menuShowTermsOfUse", "https://lumvane.io/terms.html"),
        opensUrl("menuShowReviewOnFacebook", "https://www.facebook.com/lumvane/reviews"),
        opensUrl("menuShowShareViaFacebook",
                 "https://www.facebook.com/sharer/sharer.php?u=https%3A//lumvane.io"),
        opensUrl("menuShowShareViaTwitter",
                 "https://twitter.com/home?status=I%20keep%20every%20password%20safe%20with%20"
                 "%40lumvane%20(https%3A//lumvane.io)"),
        opensUrl("menuShowShareViaLinkedin",
                 "https://www.linkedin.com/sharing/share-offsite/?url=https%3A%2F%2Flumvane.io"),
        {"menuQuitAction", {}, [](World& w) { return w.quits == 1; }, {}},
        {"menuShowRateAction",
         {},
         [](World& w) { return hasPage(w, "TBNRatePopoverViewController"); },
         {}},
        {"menuOpenPreferencesFolder",
         {},
         [](World& w) { return w.folders == std::vector<fs::path>{TBNSettings::settingFolder()}; },
         {}},
        {"menuCopyPasswordToOSXAction",
         {},
         [](World& w) { return hasTitle(w, "Password copied"); },
         [](World& w) {
             EXPECT_FALSE(w.delegate->currentPassword().empty());
             EXPECT_EQ(w.clipboard->string(), w.delegate->currentPassword());
         }},
        // Without a paired phone nothing is sent, and nothing is told.
        quiet("menuCopyPasswordToIOSAction"),
        {"menuCopyPasswordToOSXAndIOSAction",
         {},
         [](World& w) { return hasTitle(w, "Password copied"); },
         [](World& w) { EXPECT_EQ(w.clipboard->string(), w.delegate->currentPassword()); }},
        {"menuRegeneratePasswordAction",
         [](World& w) { w.pages.push_back(w.delegate->currentPassword()); },
         [](World& w) {
             return !w.delegate->currentPassword().empty() &&
                    w.delegate->currentPassword() != w.pages.front();
         },
         {}},
        quiet("menuCreateAccountAction"),
        quiet("menuFlushAllLogsAction"),
        quiet("menuClearFavIconCacheAction"),
        {"menuCrashAppAction", {}, [](World& w) { return w.crashes == 1; }, {}},
        {"menuPause", {}, [](World& w) { return w.settings->paused(); }, {}},
        {"menuResume",
         [](World& w) { w.settings->setPaused(true); },
         [](World& w) { return !w.settings->paused(); },
         {}},
    };
}

TEST(StatusMenuActions, EveryActionOfTheMenuDoesWhatItSays) {
    application();
    // The table covers every action the menu offers, in any state it can be in.
    std::set<std::string> offered;
    {
        World w;
        w.settings->setSupportYubiKey(true);
        for (bool paused : {false, true}) {
            w.settings->setPaused(paused);
            for (bool paired : {false, true}) {
                if (paired) w.pairPhone();
                std::unique_ptr<QMenu> menu(w.delegate->createMenu());
                collectActions(menu.get(), offered);
            }
            w.delegate->perform("menuDeviceUnpairAction");
        }
    }
    std::set<std::string> tested;
    for (const auto& c : actionCases()) tested.insert(c.action);
    for (const auto& name : offered) {
        if (name == "menuInstallSafariExt") continue;  // never installed on this system
        EXPECT_TRUE(tested.count(name)) << "no case for the menu's action " << name;
    }

    for (const auto& c : actionCases()) {
        SCOPED_TRACE(c.action);
        World w;
        if (c.before) c.before(w);
        w.drain();
        // Chosen in the menu when the menu offers it now, else carried out directly.
        std::unique_ptr<QMenu> menu(w.delegate->createMenu());
        if (QAction* action = findAction(menu.get(), c.action)) {
            EXPECT_TRUE(action->isEnabled());
            action->trigger();
        } else {
            w.delegate->perform(c.action);
        }
        EXPECT_TRUE(processUntil([&] { return c.done(w); }))
            << "the action did not do what it should";
        if (c.then) c.then(w);
        if (c.action != "menuQuitAction" && c.action != "menuAllowAnonymousDataAction") {
            EXPECT_EQ(w.quits, 0);
        }
    }
}

// Opens the status menu through the status item as a click does; the menu shown.
QMenu* openMenu(World& w) {
    w.delegate->statusItem->queue()->click();
    QMenu* menu = nullptr;
    processUntil([&] {
        menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        return menu && menu->isVisible();
    });
    return menu;
}

// Chooses the item in the open menu with the keyboard: into its submenu when it has one.
void chooseWithKeyboard(QMenu* menu, const std::string& name) {
    for (QAction* action : menu->actions()) {
        if (action->objectName().toStdString() == name) {
            menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Return);
            return;
        }
        if (QMenu* sub = action->menu(); sub && findAction(sub, name)) {
            menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Right);
            ASSERT_TRUE(processUntil([&] { return sub->isVisible(); }));
            chooseWithKeyboard(sub, name);
            return;
        }
    }
    FAIL() << "no item " << name;
}

TEST(StatusMenuActions, ItemsThatOpenADialogLeaveTheMenuWhole) {
    auto& app = application();
    World w(/*realDialogs=*/true);
    // Closes each dialog once it is up, noting whether it ran inside the menu's handling.
    int dialogs = 0;
    int insideMenu = 0;
    QTimer closer;
    closer.setInterval(50);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ++dialogs;
            if (app.menuInputDepth > 0) ++insideMenu;
            modal->close();
        }
    });
    closer.start();
    for (const std::string item : {"menuCheckForUpdateDialog", "menuBackupChangeLocationAction",
                                   "menuCheckForUpdateDialog"}) {
        SCOPED_TRACE(item);
        const int before = dialogs;
        QMenu* menu = openMenu(w);
        ASSERT_TRUE(menu) << "the menu did not open";
        QPointer<QMenu> chosenFrom = menu;
        chooseWithKeyboard(menu, item);
        ASSERT_TRUE(processUntil([&] { return dialogs > before; })) << "no dialog";
        EXPECT_EQ(insideMenu, 0) << "the dialog ran inside the menu's own event handling";
        ASSERT_TRUE(processUntil([&] {
            return !QApplication::activeModalWidget() && !w.delegate->statusItem->isShowingMenu();
        }));
        // The menu opens again, and closes.
        QMenu* again = openMenu(w);
        ASSERT_TRUE(again) << "the menu did not open again";
        QTest::keyClick(again, Qt::Key_Escape);
        ASSERT_TRUE(processUntil([&] { return !w.delegate->statusItem->isShowingMenu(); }));
        EXPECT_TRUE(processUntil([&] { return chosenFrom.isNull(); }))
            << "the menu of the chosen item is never deleted";
    }
}

// A picture of the menu with its browser lines, kept with the test's artefacts.
TEST(StatusMenuActions, PictureOfTheMenuWithItsBrowserLines) {
    application();
    World w;
    QMenu* menu = openMenu(w);
    ASSERT_TRUE(menu);
    QMenu* browsers = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->menu() && findAction(action->menu(), "menuInstallChromiumExt")) {
            browsers = action->menu();
            menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Right);
        }
    }
    ASSERT_TRUE(browsers);
    ASSERT_TRUE(processUntil([&] { return browsers->isVisible(); }));
    for (QAction* action : browsers->actions()) {
        EXPECT_EQ(action->isEnabled(), action->text() != "Safari") << action->text().toStdString();
    }
    const QPixmap main = menu->grab();
    const QPixmap sub = browsers->grab();
    QPixmap picture(main.width() + sub.width(), std::max(main.height(), sub.height()));
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawPixmap(0, 0, main);
    painter.drawPixmap(main.width(), browsers->y() - menu->y(), sub);
    painter.end();
    fs::create_directories(LUMVANE_DESKTOP_ARTEFACTS);
    const QString file = QString(LUMVANE_DESKTOP_ARTEFACTS) + "/status-menu-browsers.png";
    EXPECT_TRUE(picture.save(file));
    QTest::keyClick(browsers, Qt::Key_Escape);
    QTest::keyClick(menu, Qt::Key_Escape);
    EXPECT_TRUE(processUntil([&] { return !w.delegate->statusItem->isShowingMenu(); }));
}

// The generator page's Copy tells the user, as the menu's copy does.
TEST(StatusMenuActions, TheGeneratorPagesCopyIsToldWithANotice) {
    application();
    World w;
    ui::PageEnvironment pages = ui::environment();
    pages.settings = w.settings.get();
    pages.pasteboard = TBNPasteboard::create(w.clipboard, w.loop);
    ui::setEnvironment(pages);
    auto page = std::dynamic_pointer_cast<TBNPasswordGeneratorPopoverViewController>(
        ui::popoverAtName("TBNPasswordGeneratorPopoverViewController"));
    ASSERT_TRUE(page);
    page->passwordTextField->setText("Xk4#mP9!qL2$wZ7&vB5^");
    QTest::mouseClick(page->passwordCopyButton, Qt::LeftButton);
    EXPECT_EQ(w.clipboard->string(), "Xk4#mP9!qL2$wZ7&vB5^");
    EXPECT_TRUE(processUntil([&] { return hasTitle(w, "Password copied"); }))
        << "no notice for the page's copy";
    w.clipboard->setRefuseWrites(true);
    const size_t before = w.notices->titles.size();
    QTest::mouseClick(page->passwordCopyButton, Qt::LeftButton);
    w.drain();
    EXPECT_EQ(w.notices->titles.size(), before) << "a refused copy is not told";
}

}  // namespace
}  // namespace lumvane
