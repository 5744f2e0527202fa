#include "app/HeadlessApp.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "app/ScriptedUIService.h"
#include "app/SecurityKeyBridge.h"
#include "app/SingleInstance.h"
#include "app/StartupNotices.h"
#include "app/StartupSteps.h"
#include "app/TerminalQRCode.h"
#include "core/remote/BlecPhoneLink.h"
#include "core/remote/TBNThriftRemoteMobileSevice.h"
#include "core/service/TBNService.h"
#include "core/service/TBNServiceHandlers.h"
#include "crypto/TBNKeyChainManager.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "platform/ble/BleCentral.h"
#include "runtime/MainLoop.h"
#include "runtime/Paths.h"
#include "runtime/log/TBNLogHelper.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"

#ifdef LUMVANE_HAVE_QT_BLE
#include "platform/ble/qt/BleCentralSelect.h"
#endif
#ifdef LUMVANE_HAVE_LOGIND
#include "platform/power/LogindSleepWakeSource.h"
#endif

namespace lumvane {

namespace {

constexpr const char* kTags = "ui|app";
// How long a stop waits for requests under way before the run ends without them.
constexpr std::chrono::seconds kStopGrace{5};

// Lines on standard output come from several threads (pairing runs on a global queue);
// StartupNotices keeps each one whole.
void say(const std::string& text) {
    writeToUser(text);
}

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

// The identity the HTTPS servers get. A headless run never creates or trusts one (that
// asks for a password); it uses the one an earlier interactive run made, or serves
// plain HTTP alone.
std::optional<SSLIdentity> headlessIdentity() {
    auto& manager = TBNBrowserExtensionManager::sharedManager();
    if (!manager.isExistSSLIdentity()) {
        TBN_LOG_WARN(kTags, "no local TLS identity: the HTTPS servers are not started");
        return std::nullopt;
    }
    if (manager.isExpiredSSLIdentity()) {
        TBN_LOG_WARN(kTags,
                     "the local TLS identity expires soon: the HTTPS servers are not started");
        return std::nullopt;
    }
    auto identity = manager.sslIdentity();
    if (!identity) return std::nullopt;
    return SSLIdentity{identity->certificatePath, identity->privateKeyPath};
}

}  // namespace

int runHeadless(const CommandLine& commandLine) {
    // Stop signals are taken by one thread with sigwait; every thread made from here on
    // inherits the mask, so none of them is interrupted by them.
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
        routeQtMessagesToLog();
        factory = watchBluetoothState(*factory, [](ble::CentralState state) {
            if (state == ble::CentralState::Unsupported ||
                state == ble::CentralState::Unauthorized ||
                state == ble::CentralState::PoweredOff) {
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
    std::optional<ScriptedUIService::Script> script;
    if (const char* answers = std::getenv(ScriptedUIService::kEnvironmentVariable)) {
        std::string error;
        script = ScriptedUIService::parse(answers, &error);
        if (!script) {
            std::fprintf(stderr, "lumvane: %s: %s\n", ScriptedUIService::kEnvironmentVariable,
                         error.c_str());
            return 2;
        }
    }

    // Before anything is read or written: a second copy would rewrite the settings file
    // of the one that runs.
    std::optional<SingleInstance> instance = takeSingleInstanceLock();
    if (!instance) return kExitAlreadyRunning;

    // Logging first, so every later step can report.
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
    TBN_LOG_INFO(kTags, "headless start, Bluetooth back end {}", bleSpec);

    TBNSettings& settings = TBNSettings::sharedSettings();
    // A change that does not reach the disk is gone at the next start: say so once per
    // streak of failed saves, and say when saving works again.
    settings.setSaveHealthHandler([](const TBNSettings::SaveHealth& health) {
        sayLine(health.saving ? notice::settingsSavedAgainText()
                              : notice::settingsNotSavedText(health.reason));
    });
    auto startup = StartupSteps::runServiceSideSteps(
        TBNKeyChainManager::sharedManager(), settings, TBNSettings::settingsFilePath(),
        TBNSettings::oldSettingFolder() / TBNSettings::kSettingsFileName, logFilter, logFormatter);
    if (startup.stopped) {
        sayLine(*startup.stopped);
        TBNLogHelper::flushLog();
        return 1;
    }
    if (startup.settingsMovedAside) {
        sayLine(StartupSteps::movedAsideText(*startup.settingsMovedAside));
    }
    if (startup.keychainNotice) sayToUserOnce("keychain", *startup.keychainNotice);
    if (!startup.completed || !settings.isLoaded()) {
        sayLine("start-up failed; see the log in " + TBNSettings::logsFolder().string());
        TBNLogHelper::flushLog();
        return 1;
    }

    if (TBNKeyChainManager::sharedManager().store()->storeName() == "file") {
        sayToUserOnce("keychain",
                      notice::secretServiceText(TBNKeyChainManager::defaultFallbackFolder()));
    }

    if (bleSpec.rfind("sim:", 0) == 0 && !unixSocketAnswers(bleSpec.substr(4))) {
        sayToUserOnce("radio", notice::simulatedRadioText(bleSpec.substr(4)));
    }
    ble::setDefaultBleCentralFactory(*factory);
    auto mainLoop = std::make_shared<HeadlessMainLoop>();
    MainLoop::setMain(mainLoop);

    TBNService::Options options;
    options.settings = settings.shared_from_this();
    options.mainLoop = mainLoop;
    options.remoteOptions.settings = options.settings;
    options.remoteOptions.clientFactory = makeBlecPhoneClientFactory();
    if (pushConnector) {
        options.remoteOptions.pushConnector = *pushConnector;
    } else {
        const std::string certificate =
            TBNThriftRemoteMobileSevice::pushCertificatePath(options.remoteOptions.resourceFolder);
        std::error_code error;
        if (!std::filesystem::exists(certificate, error)) {
            TBN_LOG_INFO(kTags, "no push certificate at {}: no wake-ups", certificate);
            sayToUserOnce("push", notice::pushCertificateText());
        }
    }
#ifdef LUMVANE_HAVE_LOGIND
    options.sleepWake = std::make_shared<LogindSleepWakeSource>();
#endif
    TBNServiceHandlers::applyStandard(options);
    // A run without a display never offers to create the identity (see headlessIdentity).
    options.terminate = [mainLoop] { mainLoop->stop(); };

    std::shared_ptr<TBNUIServiceProtocol> ui;
    if (script) {
        TBN_LOG_WARN(kTags, "questions answered by the test script of {}",
                     ScriptedUIService::kEnvironmentVariable);
        ui = std::make_shared<ScriptedUIService>(*script);
    } else {
        ui = std::make_shared<TBNHeadlessUIService>();
    }
    auto notices = std::make_shared<TBNLogNotifications>();

    auto service = TBNService::create(std::move(options));
    service->setUiService(ui);
    service->setNotifications(notices);
    if (const auto& remote = service->remoteService()) connectSecurityKey(*remote);
    const auto identity = headlessIdentity();
    service->startWithSSLIdentity(identity);

    ThriftHTTPServer* http = service->server();
    if (!http || !http->isListening()) {
        sayLine("cannot listen on 127.0.0.1:" + std::to_string(ThriftHTTPServer::kHTTPPort) +
                " (is another lumvane running?)");
        TBN_LOG_ERROR(kTags, "the HTTP server did not start");
        service->stop();
        TBNLogHelper::flushLog();
        return 1;
    }
    std::string serving = "serving http://127.0.0.1:" + std::to_string(http->port()) + "/thrift";
    if (ThriftHTTPServer* https = service->sslServer(); https && https->isListening()) {
        serving += " and https on " + std::to_string(https->port());
        if (ThriftHTTPServer* log = service->sslLogServer(); log && log->isListening()) {
            serving += ", " + std::to_string(log->port());
        }
    } else if (identity) {
        sayLine("cannot listen on 127.0.0.1:" + std::to_string(ThriftHTTPServer::kHTTPSPort) +
                "; serving plain HTTP only");
    }
    sayLine(serving);
    sayLine(notice::headlessHintText(commandLine.pair));

    // Browsers find the host only through these files; they are rewritten at every start
    // so that they name this executable.
    sayLine(StartupSteps::manifestsText(StartupSteps::installNativeMessagingManifests(
        TBNBrowserExtensionManager::sharedManager())));

    if (commandLine.pair) {
        service->startPairWithAuthUrl(
            [](const std::string& url) {
                TBN_LOG_INFO(kTags, "pairing invitation ready");
                std::string text = "lumvane: pairing URL: " + url + "\n";
                text += "Scan this code with Lumvane on your phone:\n";
                text += TerminalQRCode::draw(url);
                say(text);
            },
            [](const std::string& status) { sayLine("pairing status: " + status); },
            [](uint32_t type) { sayLine("paired (connection type " + std::to_string(type) + ")"); },
            [](const std::shared_ptr<TBNError>& error) {
                std::string why = "unknown error";
                if (error) {
                    why = error->debugMessage().value_or("") + " (" +
                          std::to_string(error->category()) + ", " + std::to_string(error->id()) +
                          ")";
                }
                sayLine("pairing failed: " + why);
            });
    }

    if (commandLine.openRegistration) {
        service->openExtensionRegistration();
        sayLine("extension registration open for 120 s");
    }

    std::atomic<bool> stopping{false};
    std::thread signalThread([&stopSignals, &stopping, mainLoop, service] {
        for (;;) {
            int received = 0;
            if (sigwait(&stopSignals, &received) != 0) continue;
            if (stopping.load()) return;
            if (received == SIGUSR1) {
                // Stands in for the status menu's install entries.
                service->openExtensionRegistration();
                sayLine("extension registration open for 120 s");
                continue;
            }
            TBN_LOG_INFO(kTags, "signal {}: stopping", received);
            mainLoop->stop();
            return;
        }
    });
    mainLoop->run();

    TBN_LOG_INFO(kTags, "headless stop");
    // A request may be blocked for minutes waiting for the phone; nothing is saved at
    // quit, so the run ends once the link and servers had a fair chance to stop.
    StartupSteps::stopService(service, settings, kStopGrace);
    sayLine("stopped");
    // The signal thread is still in sigwait when the loop stopped for another reason.
    stopping.store(true);
    if (signalThread.joinable()) {
        pthread_kill(signalThread.native_handle(), SIGTERM);
        signalThread.join();
    }
    return 0;
}

}  // namespace lumvane
