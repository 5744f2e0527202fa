#include "app/desktop/DesktopApp.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
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

#include "app/CrashHooks.h"
#include "app/HeadlessApp.h"
#include "app/InstanceChannel.h"
#include "app/SecurityKeyBridge.h"
#include "app/SingleInstance.h"
#include "app/StartupNotices.h"
#include "app/StartupSteps.h"
#include "app/desktop/AppDelegate.h"
#include "app/desktop/QtPasteboard.h"
#include "app/desktop/StartAtLogin.h"
#include "app/desktop/StatusMenuModel.h"
#include "app/desktop/TBNStatusItem.h"
#include "app/desktop/TrayFallback.h"
#include "app/shell/AppAssembly.h"
#include "app/shell/QtMainLoop.h"
#include "app/shell/ServiceLayerBridges.h"
#include "core/pasteboard/Pasteboard.h"
#include "core/remote/BlecPhoneLink.h"
#include "core/remote/TBNThriftRemoteMobileSevice.h"
#include "core/service/TBNService.h"
#include "core/service/TBNServiceHandlers.h"
#include "crypto/TBNKeyChainManager.h"
#include "crypto/TBNPasswordGenerator.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "platform/ble/BleCentral.h"
#include "runtime/DispatchQueue.h"
#include "runtime/Paths.h"
#include "runtime/log/TBNLogHelper.h"
#include "runtime/log/TBNLogger.h"
#include "settings/LocationZone.h"
#include "settings/TBNSettings.h"

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

void sayLine(const std::string& line) {
    sayToUser(line);
}

std::optional<ble::BleCentralFactory> centralFactory(const std::string& spec) {
    if (spec.rfind("sim:", 0) == 0) return ble::bleCentralFactoryForSpec(spec);
#ifdef LUMVANE_HAVE_QT_BLE
    return ble::makeBleCentralFactory(spec);
#else
    return std::nullopt;
#endif
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
    // Stop signals (and SIGUSR1, which opens the extensions' registration window again) are
    // taken by one thread with sigwait; every thread made from here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const std::string bleSpec = commandLine.ble.value_or("qt");
    auto factory = centralFactory(bleSpec);
    if (!factory) {
        std::fprintf(stderr, "lumvane: this build cannot use --ble=%s\n", bleSpec.c_str());
        return 2;
    }
    if (bleSpec == "qt") {
        // Bluetooth switched off is told by the service's own notice; what no switch
        // mends is told once at the start.
        factory = watchBluetoothState(*factory, [](ble::CentralState state) {
            if (state == ble::CentralState::Unsupported ||
                state == ble::CentralState::Unauthorized) {
                sayToUserOnce("bluetooth", notice::bluetoothText(state));
            }
        });
    } else if (bleSpec.rfind("sim:", 0) == 0) {
        // The simulated radio looks switched off while its hub is not there.
        const std::string socketPath = bleSpec.substr(4);
        factory = watchBluetoothState(*factory, [socketPath](ble::CentralState state) {
            if (state == ble::CentralState::PoweredOff) {
                sayToUserOnce("radio", notice::simulatedRadioText(socketPath));
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
    // A later start asks this one to show its menu or window (see TrayFallback).
    std::optional<SingleInstance> instance = takeSingleInstanceLock(/*askToShow=*/true);
    if (!instance) return kExitAlreadyRunning;
    std::optional<InstanceChannel> channel;
    if (instance->state() == SingleInstance::State::Acquired) {
        std::string error;
        channel = InstanceChannel::listen(InstanceChannel::socketFileFor(Paths::settingsFolder()),
                                          &error);
        if (!channel) sayLine("later starts cannot reach this one: " + error);
    }
    if (bleSpec.rfind("sim:", 0) == 0 && !unixSocketAnswers(bleSpec.substr(4))) {
        sayToUserOnce("radio", notice::simulatedRadioText(bleSpec.substr(4)));
    }

    // Without a private runtime folder Qt warns on the terminal at the start and after
    // menu actions; one is provided instead.
    provideRuntimeFolder();
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
    // The upgrade asks where the computer is for the default of the anonymous reports.
    settings.setLocationZoneSource(makeServiceLayerLocationZoneSource());
    // A change that does not reach the disk is gone at the next start: say so once per
    // streak of failed saves, and say when saving works again.
    settings.setSaveHealthHandler([](const TBNSettings::SaveHealth& health) {
        tellUser(health.saving ? notice::settingsSavedAgainText()
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
    if (startup.keychainNotice) sayToUserOnce("keychain", *startup.keychainNotice);
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
        sayToUserOnce("settings", StartupSteps::movedAsideText(*startup.settingsMovedAside));
    } else if (startup.settingsAttempt == 3) {
        sayLine("settings could not be opened: started with new settings");
    }
    if (TBNKeyChainManager::sharedManager().store()->storeName() == "file") {
        sayToUserOnce("keychain",
                      notice::secretServiceText(TBNKeyChainManager::defaultFallbackFolder()));
    }

    auto delegate = std::make_shared<AppDelegate>(ui, loop, settings, logFilter, logFormatter);
    std::shared_ptr<TBNService> service;
    QTimer updateTimer;
    std::unique_ptr<TrayFallback> fallback;
    // From here to the update checks one exception scope: an exception is logged and told,
    // the steps after it are skipped, and the start goes on with the manifests.
    auto failure = StartupSteps::runInExceptionScope([&] {
        delegate->reconcileStartAtLogin();

        ble::setDefaultBleCentralFactory(*factory);
        TBNService::Options options;
        options.settings = settings.shared_from_this();
        options.mainLoop = loop;
        options.remoteOptions.settings = options.settings;
        options.remoteOptions.clientFactory = makeBlecPhoneClientFactory();
        if (pushConnector) {
            options.remoteOptions.pushConnector = *pushConnector;
        } else {
            const std::string certificate = TBNThriftRemoteMobileSevice::pushCertificatePath(
                options.remoteOptions.resourceFolder);
            std::error_code error;
            if (!std::filesystem::exists(certificate, error)) {
                TBN_LOG_INFO(kTags, "no push certificate at {}: no wake-ups", certificate);
                sayToUserOnce("push", notice::pushCertificateText());
            }
        }
#ifdef LUMVANE_HAVE_LOGIND
        options.sleepWake = std::make_shared<LogindSleepWakeSource>();
#endif
        if (bleSpec.rfind("sim:", 0) == 0) {
            // With the simulated radio (tests, demonstrations) the application never
            // creates or trusts an identity, which needs an administrator password; like a
            // headless run it uses one an earlier run made, else plain HTTP.
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
        service = TBNService::sharedService();
        delegate->service = service;
        service->setDelegate(delegate);
        if (const auto& remote = service->remoteService()) connectSecurityKey(*remote);

        delegate->createStatusBarItem();
        delegate->config.configure(service, delegate->statusItem, loop, ui);
        // The start-up texts, those said so far and any later one, as notices.
        std::weak_ptr<StartupNoticeQueue> notices = delegate->config.startupNotices();
        setStartupNoticeSink([notices](const std::string& text) {
            if (auto queue = notices.lock()) queue->add(text);
        });
        settings.addDelegate(delegate);
        // The icon where a tray shows it, else a window with the menu; said either way.
        fallback = std::make_unique<TrayFallback>(
            delegate->statusItem, std::move(channel),
            TrayFallback::Hooks{sayLine,
                                [delegate](const std::string& title, const std::string& text) {
                                    if (auto notices = delegate->config.notifications()) {
                                        if (auto service = notices->notificationService()) {
                                            service->showNotification(text, title, std::nullopt);
                                        }
                                    }
                                },
                                [delegate] { delegate->updateStatusBarIcon(); },
                                [] { quitApplication(); }});
        fallback->start();

        // Updates come from the package manager: the checks answer so and fetch nothing.
        delegate->updater.setDelegate(delegate.get());
        std::weak_ptr<AppDelegate> weak = delegate;
        loop->postAfter(10.0, [weak] {
            if (auto d = weak.lock()) d->updater.checkInBackground();
        });
        updateTimer.setInterval(std::chrono::hours(1));
        QObject::connect(&updateTimer, &QTimer::timeout, [weak] {
            if (auto d = weak.lock()) d->updater.checkInBackground();
        });
        updateTimer.start();

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
    });
    if (failure) {
        sayLine("the start stopped at an error (" + *failure + "); see the log in " +
                TBNSettings::logsFolder().string());
    }

    // Browsers can start the native-messaging host only once their manifests are there.
    sayLine(StartupSteps::manifestsText(StartupSteps::installNativeMessagingManifests(
        TBNBrowserExtensionManager::sharedManager())));
    DispatchQueue::global()->async([] { (void)TBNPasswordGenerator::sharedGenerator(); });

    std::atomic<bool> stopping{false};
    std::weak_ptr<AppDelegate> weakDelegate = delegate;
    std::thread signalThread([&stopSignals, &stopping, loop, weakDelegate] {
        for (;;) {
            int received = 0;
            if (sigwait(&stopSignals, &received) != 0) continue;
            if (stopping.load()) return;
            if (received == SIGUSR1) {
                // As in a headless run: the extensions may register for a while again.
                loop->post([weakDelegate] {
                    if (auto d = weakDelegate.lock()) d->openExtensionRegistration();
                });
                continue;
            }
            TBN_LOG_INFO(kTags, "signal {}: stopping", received);
            loop->post([] { quitApplication(); });
            return;
        }
    });

    const int status = app.exec();
    TBN_LOG_INFO(kTags, "desktop stop");

    setStartupNoticeSink(nullptr);
    if (service) StartupSteps::stopService(service, settings, kStopGrace);
    // Qt's objects go while the application is still there.
    delegate->tearDown();
    sayLine("stopped");
    stopping.store(true);
    if (signalThread.joinable()) {
        pthread_kill(signalThread.native_handle(), SIGTERM);
        signalThread.join();
    }
    fallback.reset();  // its window and the channel go before the lock
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
