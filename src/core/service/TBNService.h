#pragma once
// The application service: owns the remote phone service, the extensions' host-storage
// and logging services and the three loopback servers (19521 HTTP; 19523 and 19524
// HTTPS), starts and stops the phone link (also around the machine's sleep), derives
// the warning state the status icon shows, and answers the phone's requests and the
// extension server's questions, asking the user through the UI service.
//
// Start-up (the application shell, or `lumvane --headless`):
//
//   TBNService::Options o;
//   o.remoteOptions.clientFactory = ...;              // the phone link
//   TBNServiceHandlers::applyStandard(o);             // handlers, extension logs, TLS identity
//   o.sleepWake = std::make_shared<LogindSleepWakeSource>();
//   auto service = TBNService::create(std::move(o));  // or configureSharedService + sharedService
//   service->setUiService(ui);                        // held weakly; none: answered as cancelled
//   service->setNotifications(notices);               // held weakly; none: not shown
//   service->start();                                 // identity check, servers, phone link
//     or service->startWithSSLIdentity(identity);     // no check; no identity: 19521 only
//   ...
//   service->stop();                                  // phone link, then the servers
//
// Threads. start() and startWithSSLIdentity() may run on any thread (an identity offer
// is shown on the main loop, and what follows it runs on the global queue). Questions run
// on the servers' connection threads and block them until answered or timed out; they
// must not be asked on the main loop's thread, which shows the questions. Notices and
// pages are posted to the main loop. Every time-out reads the injected Clock.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/remote/TBNThriftRemoteMobileSevice.h"
#include "core/service/TBNNotifications.h"
#include "core/service/TBNUIService.h"
#include "extension/ThriftHTTPServer.h"
#include "extension/handlers/TBNThriftHostServiceDelegate.h"
#include "idl/protocols.h"
#include "platform/power/SleepWakeSource.h"
#include "runtime/Bytes.h"
#include "runtime/Clock.h"
#include "runtime/DispatchQueue.h"
#include "runtime/MainLoop.h"
#include "settings/TBNSettings.h"

namespace lumvane {

class TBNService;
class TBNWaitManager;
class TBNPasteboard;

// The warning state of the status icon and menu.
using TBNServiceWarningType = uint64_t;
inline constexpr TBNServiceWarningType TBNServiceWarningTypeNone = 0;
inline constexpr TBNServiceWarningType TBNServiceWarningTypeNotInitialized = 1;
inline constexpr TBNServiceWarningType TBNServiceWarningTypeBluetoothOff = 2;
inline constexpr TBNServiceWarningType TBNServiceWarningTypeSearchingPhone = 3;
inline constexpr TBNServiceWarningType TBNServiceWarningTypeNotPairedPhone = 4;
inline constexpr TBNServiceWarningType TBNServiceWarningTypeCannotFindPairedPhone = 5;
inline constexpr TBNServiceWarningType TBNServiceWarningTypeCannotFindLumvaneApp = 6;
inline constexpr TBNServiceWarningType TBNServiceWarningDeviceDBLocked = 7;

// The application delegate: told to redraw the status icon.
class TBNServiceDelegate {
  public:
    virtual ~TBNServiceDelegate() = default;
    virtual void serviceDidUpdateUI(TBNService& service) = 0;
};

// Optional observer of extension pings (on the main loop).
class TBNServicePingDelegate {
  public:
    virtual ~TBNServicePingDelegate() = default;
    virtual void serviceDidPingFromExtensionId(TBNService& service, const std::string& extensionId,
                                               const std::string& extensionVersion) = 0;
};

// The service as the service layer sees it.
class TBNServiceProtocolDelegate {
  public:
    virtual ~TBNServiceProtocolDelegate() = default;
    virtual void serviceDidWarningChange(TBNService& service, TBNServiceWarningType warning) {
        (void)service;
        (void)warning;
    }
};

// How the service makes the extension handlers (they live in their own library, which
// the program links; TBNServiceHandlers::standard() gives the real ones).
struct TBNServiceHandlerFactories {
    // The host-storage service, with the application service as its delegate; it is also
    // the local storage service the storage handler asks first. Made once, at creation.
    std::function<std::shared_ptr<TBNHostStorageService>(
        std::weak_ptr<TBNThriftHostServiceDelegate> delegate, TBNWaitManager& waits)>
        hostService;
    // What the servers need of the handlers each time they are built: the host-storage
    // and storage processors (the storage handler asks the host service, then the phone).
    struct Processors {
        std::shared_ptr<apache::thrift::TProcessor> hostStorage;
        std::shared_ptr<apache::thrift::TProcessor> storage;
        std::shared_ptr<void> keepAlive;  // e.g. the storage handler itself
    };
    std::function<Processors(const std::shared_ptr<TBNHostStorageService>& hostService,
                             const std::shared_ptr<TBNThriftRemoteMobileSevice>& remoteService)>
        processors;
    // Opens the window in which a new extension may register.
    std::function<void(TBNHostStorageService&)> openExtensionRegistration;
};

// Where the local TLS identity comes from (TBNServiceHandlers::identitySource() gives the
// browser integration's). Without isSetuped, start() runs without identity.
struct TBNServiceIdentitySource {
    std::function<bool()> isSetuped;  // exists, hosts line present, trusted
    std::function<bool()> isExpired;  // expires within 48 hours
    std::function<bool()> setup;      // creates it (answer not relied upon)
    std::function<std::optional<SSLIdentity>()> identity;
};

class TBNService : public TBNThriftRemoteMobileServiceDelegate,
                   public TBNThriftHostServiceDelegate,
                   public TBNSettingsDelegate,
                   public ThriftHTTPServerDelegate,
                   public std::enable_shared_from_this<TBNService> {
  public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    // Seconds a question waits for the user.
    static constexpr double kQuestionTimeout = 310.0;
    static constexpr double kInstallDriverTimeout = 300.0;
    // How long a remembered account choice is reused.
    static constexpr double kChooseAccountCacheSeconds = 10.0;
    static constexpr const char* kPairingPhrase = "nu.bafrimo.tosxwed";
    static constexpr const char* kPairingURLFormat = "https://lumvane.io/auth/appinstall.html";
    static constexpr const char* kBackupExtension = ".lmbk";

    struct Options {
        std::shared_ptr<TBNSettings> settings;  // default: TBNSettings::sharedSettings()
        TBNWaitManager* waitManager = nullptr;  // default: the shared manager
        std::shared_ptr<Clock> clock;           // question time-outs, cache age; default steady
        WallClock now;                          // backup names; default: the system clock
        std::shared_ptr<MainLoop> mainLoop;     // notices and pages; default MainLoop::main()
        // Blocks that run off the caller's thread (pairing, driver page); default: the
        // default-priority global queue.
        std::function<void(std::function<void()>)> runAsync;

        uint16_t httpPort = ThriftHTTPServer::kHTTPPort;
        uint16_t httpsPort = ThriftHTTPServer::kHTTPSPort;
        uint16_t loggingPort = ThriftHTTPServer::kLoggingPort;
        ThriftHTTPServer::Options serverOptions;

        // The remote phone service, made at creation with the service as its delegate.
        // Default: TBNThriftRemoteMobileSevice::create(delegate, remoteOptions) (which
        // needs remoteOptions.clientFactory). A factory that answers null leaves the
        // service without a phone (warning state 1).
        TBNThriftRemoteMobileSevice::Options remoteOptions;
        std::function<std::shared_ptr<TBNThriftRemoteMobileSevice>(
            std::weak_ptr<TBNThriftRemoteMobileServiceDelegate>)>
            remoteServiceFactory;
        TBNServiceHandlerFactories handlers;
        // The extensions' logging service (TBNServiceHandlers::loggingService()); none: the
        // servers run without the logging processor and 19524 is not built.
        std::shared_ptr<TBNLoggingService> loggingService;
        // Sleep and wake notices; none: the phone link runs through sleep.
        std::shared_ptr<SleepWakeSource> sleepWake;
        TBNServiceIdentitySource identitySource;
        bool generateSSLCerts = true;  // the HTTPS feature switch
        // Ends the program when the user refuses the TLS identity or creating it failed;
        // default: std::exit(EXIT_SUCCESS) on the main loop.
        std::function<void()> terminate;
        // Clipboard copies the phone asks for; default TBNPasteboard::generalPasteboard().
        std::shared_ptr<TBNPasteboard> pasteboard;
        // URLs the phone asks to open (http and https only); default: xdg-open.
        std::function<bool(const std::string&)> openUrl;
        // The computer's name in the pairing invitation; default: the host name.
        std::string computerName;
        // Whether Bluetooth LE can be used; default: a TBNBLEChecker on the program's
        // central.
        std::function<bool()> bluetoothCheck;
    };

    // The process-wide service, made on first use from the options given to
    // configureSharedService() (which must come first; it throws std::logic_error once
    // the service exists).
    static std::shared_ptr<TBNService> sharedService();
    static void configureSharedService(Options options);
    // A service of its own (tests, headless runs).
    static std::shared_ptr<TBNService> create(Options options);
    ~TBNService() override;
    TBNService(const TBNService&) = delete;
    TBNService& operator=(const TBNService&) = delete;

    // ---- Life cycle ----
    // Checks the local TLS identity (when the HTTPS switch is on): missing, untrusted or
    // expiring, it is offered through the UI service and start returns at once; the rest
    // then runs on the global queue, or the program ends on refusal or a failed creation.
    // Otherwise startWithSSLIdentity() runs on the calling thread.
    void start();
    // Builds the three servers (no identity: only the plain-HTTP one) and starts the phone
    // link. A second call while running first stops the servers it built before.
    void startWithSSLIdentity(const std::optional<SSLIdentity>& identity);
    // Stops the phone link, then the servers.
    void stop();
    // The machine goes to sleep / woke up (the sleep-wake source calls these).
    void goToSleep();
    void wakeFromSleep();

    // ---- State ----
    TBNServiceWarningType warningType();
    // Always TBNServiceWarningTypeNone (the service layer's view).
    TBNServiceWarningType warning() const { return TBNServiceWarningTypeNone; }
    void addDelegate(const std::shared_ptr<TBNServiceProtocolDelegate>&) {}
    void removeDelegate(const std::shared_ptr<TBNServiceProtocolDelegate>&) {}
    bool isSleeping() const { return isSleeping_.load(); }
    bool showingInstallDriver() const { return showingInstallDriver_.load(); }
    bool showingUnpairedDevice() const;
    bool isRunning() const;
    // Questions waiting for the user right now.
    size_t pendingQuestions() const;

    std::shared_ptr<TBNServiceDelegate> delegate() const;
    void setDelegate(std::weak_ptr<TBNServiceDelegate> delegate);
    std::shared_ptr<TBNServicePingDelegate> pingDelegate() const;
    void setPingDelegate(std::weak_ptr<TBNServicePingDelegate> delegate);
    std::shared_ptr<TBNUIServiceProtocol> uiService() const;
    void setUiService(std::weak_ptr<TBNUIServiceProtocol> uiService);
    std::shared_ptr<TBNNotifications> notifications() const;
    void setNotifications(std::weak_ptr<TBNNotifications> notifications);

    const std::shared_ptr<TBNThriftRemoteMobileSevice>& remoteService() const {
        return remoteService_;
    }
    const std::shared_ptr<TBNHostStorageService>& hostService() const { return hostService_; }
    const std::shared_ptr<TBNLoggingService>& logService() const { return logService_; }
    // The servers while running (null otherwise, or when not built for want of identity).
    ThriftHTTPServer* server() const;
    ThriftHTTPServer* sslServer() const;
    ThriftHTTPServer* sslLogServer() const;
    TBNSettings& settings() const { return *settings_; }

    void openExtensionRegistration();
    bool canSupportBluetoothLowEnergy();
    // Whether start() would ask for the local TLS identity (HTTPS switch on, and the
    // source reports it missing, untrusted or expiring), and the source that makes it:
    // the first-run wizard asks the same question the same way.
    bool wouldAskForSSLIdentity() const;
    const TBNServiceIdentitySource& identitySource() const { return options_.identitySource; }

    // ---- Pairing and the status menu ----
    using PairURLHandler = std::function<void(const std::string& url)>;
    using PairProcessHandler = std::function<void(const std::string& status)>;
    using PairSuccessHandler = std::function<void(uint32_t)>;
    using PairFailHandler = std::function<void(const std::shared_ptr<TBNError>&)>;
    // Builds a fresh invitation, hands its URL to `authUrl` first, then starts the pairing
    // search. Returns at once; everything runs on the global queue.
    void startPairWithAuthUrl(PairURLHandler authUrl, PairProcessHandler process,
                              PairSuccessHandler success, PairFailHandler fail);
    void stopPair();
    // Hands a password from the status menu to the paired phone; `completion` (may be
    // empty) gets whether the phone took it, also false at once without a paired phone.
    void sendPasswordToPairedDevice(const std::string& password,
                                    std::function<void(bool sent)> completion);
    // The status menu's new account: the save question, empty but for the password, and
    // the answer goes to the phone. Nothing without a paired phone. Blocks its caller
    // until the user answered (never call it on the main loop).
    void createAccountWithPassword(const std::optional<std::string>& password);

    // The pairing invitation: token, key and the URL the QR code carries.
    struct PairingInvitation {
        std::string authToken;  // 16 upper-case hex characters
        Bytes authKey;          // 32 bytes
        std::string url;
    };
    static PairingInvitation makePairingInvitation(const std::string& computerName);
    // The auth blob of an invitation URL's "auth" value, opened with the pairing phrase;
    // nothing when it does not open (tests, diagnostics).
    static std::optional<Bytes> openPairingAuthValue(const std::string& authValue);

    // ---- Backup files ----
    // "backup_yyMMdd_HHmmss" in local time (calendar year).
    static std::string backupFileBaseName(std::chrono::system_clock::time_point time);
    // Writes the backup into `folder` (made 0700 when missing) as a 0600 file, atomically
    // and never over an existing file ("_1", "_2", ... are added to a taken name).
    // Returns the path written; throws std::runtime_error with the reason on failure.
    // Without `createFolder` a missing folder is an error.
    static std::string writeBackupFile(const std::string& folder, const std::string& baseName,
                                       const Bytes& data, bool createFolder = true);
    // The bytes of a backup file to restore; nothing (with the reason) for a file that
    // cannot be read, is empty or is implausibly large.
    static std::optional<Bytes> readBackupFile(const std::string& path, std::string* error);

    // ---- Remote phone service delegate ----
    void remoteMobileClientDidBluetoothStateUpadate(Service& service, bool on) override;
    void remoteMobileShowExpectingPopover(Service& service) override;
    void remoteMobileHideExpectingPopover(Service& service) override;
    void remoteMobileShowUpdatedDeviceIdForPairedDevice(Service& service) override;
    void remoteMobileShowWaitingPopover(Service& service) override;
    void remoteMobileHideWaitingPopover(Service& service) override;
    void remoteMobileShowClientNotAuthorized(Service& service) override;
    void remoteMobileShowFirstFillGuidePopover(Service& service) override;
    void remoteMobileShowRatePopover(Service& service) override;
    void remoteMobileShowResetAnalyticsPopover(Service& service) override;
    std::shared_ptr<TBNError> remoteMobileCanSaveBackUp(Service& service,
                                                        const Bytes& backUp) override;
    std::shared_ptr<TBNError> remoteMobileCanLoadBackUp(Service& service, Bytes& backUp) override;
    void remoteMobileCancelLoadOrSaveBackUp(Service& service) override;
    void remoteMobileDidCopyLogin(Service& service, const std::optional<std::string>& login,
                                  const std::optional<std::string>& password,
                                  const std::optional<std::string>& accountId,
                                  const std::optional<std::string>& comment,
                                  const std::optional<std::string>& twoFactorCode,
                                  int16_t clearTimeout) override;
    void remoteMobileDidOpenUrl(Service& service, const std::string& url) override;
    void remoteMobileAccessDenyToSite(Service& service, const std::string& site) override;
    void remoteMobileAccessTimeoutToSite(Service& service, const std::string& site) override;

    // ---- Host service delegate (questions for the extension server) ----
    TBNSaveVariant thriftHostServiceCanSaveLoginData(TBNThriftHostService& service,
                                                     TBNLoginData& loginData,
                                                     const std::string& siteUrl,
                                                     const std::string& siteName) override;
    TBNSaveVariant thriftHostServiceCanUpdateLoginData(TBNThriftHostService& service,
                                                       TBNLoginData& loginData,
                                                       const std::string& siteUrl,
                                                       const std::string& siteName) override;
    std::optional<int64_t> thriftHostServiceChooseDefaultAccount(
        TBNThriftHostService& service, const std::vector<std::string>& accounts,
        const std::string& siteUrl, const std::string& siteName, bool usingAccountCache) override;
    void thriftHostServiceDidPingFromExtensionId(
        TBNThriftHostService& service, const std::optional<std::string>& extensionId,
        const std::optional<std::string>& extensionVersion) override;

    // The same questions without a host service at hand (status menu, tests).
    TBNSaveVariant canSaveLoginData(TBNLoginData& loginData, const std::string& siteUrl,
                                    const std::string& siteName);
    TBNSaveVariant canUpdateLoginData(TBNLoginData& loginData, const std::string& siteUrl,
                                      const std::string& siteName);
    int64_t chooseDefaultAccount(const std::vector<std::string>& accounts,
                                 const std::string& siteUrl, const std::string& siteName,
                                 bool usingAccountCache);
    void didPingFromExtension(const std::optional<std::string>& extensionId,
                              const std::optional<std::string>& extensionVersion);

    // ---- Server delegate: a client's envelope key (SHA-256 of its secret) ----
    std::optional<Bytes> thriftHTTPServer(ThriftHTTPServer& server,
                                          const std::string& clientId) override;
    std::optional<Bytes> clientKeyForClientId(const std::string& clientId);

    // ---- Settings delegate ----
    void settingsDidUpdated(TBNSettings& settings, TBNSettingsComponents components) override;

    // ---- Security-key driver pages ----
    void showInstallDriver();
    void showRunDriver();
    void showUpdateDriver();

  private:
    struct Token {};

  public:
    TBNService(Token, Options options);

  private:
    struct Servers;
    template <class T>
    struct Question;

    void init();
    void createIdentityAndStart();
    void onMain(std::function<void()> block);
    // A notice / a page on the main loop, when there is a notices object / UI service.
    void notify(std::function<void(TBNNotifications&)> notice);
    void onMainUI(std::function<void(TBNUIServiceProtocol&)> page);
    // Ends every waiting question as cancelled.
    void cancelPendingQuestions();
    void async(std::function<void()> block);
    void terminateApplication();
    // Shows a question on the main loop and waits for its own answer (or the time-out).
    template <class T, class Show>
    std::optional<T> ask(const char* name, double timeout, Show show);
    TBNSaveVariant askSaveQuestion(TBNLoginData& loginData, const std::string& siteUrl,
                                   const std::string& siteName, bool isUpdate);
    void showDriverPage(TBNInstallDriverViewType type, const char* logText);
    bool pairedDeviceOnline();
    static std::string localHostName();

    Options options_;
    std::shared_ptr<TBNSettings> settings_;
    TBNWaitManager* waits_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<MainLoop> mainLoop_;

    std::shared_ptr<TBNThriftRemoteMobileSevice> remoteService_;
    std::shared_ptr<TBNHostStorageService> hostService_;
    std::shared_ptr<TBNLoggingService> logService_;

    mutable std::mutex serversMutex_;  // start, stop and the server pointers
    std::unique_ptr<Servers> servers_;
    bool linkStarted_ = false;  // the phone link was started and not stopped since

    mutable std::mutex questionsMutex_;  // questions waiting for the user
    bool questionsClosed_ = false;       // stopped: new questions are answered as cancelled
    uint64_t lastQuestionId_ = 0;
    std::unordered_map<uint64_t, std::function<void()>> pendingQuestions_;

    mutable std::mutex refsMutex_;  // the weak references below
    std::weak_ptr<TBNServiceDelegate> delegate_;
    std::weak_ptr<TBNServicePingDelegate> pingDelegate_;
    std::weak_ptr<TBNUIServiceProtocol> uiService_;
    std::weak_ptr<TBNNotifications> notifications_;

    mutable std::mutex lock_;  // the pairing-lost notice
    bool showingUnpairedDevice_ = false;
    std::atomic<bool> isSleeping_{false};
    std::atomic<bool> showingInstallDriver_{false};

    // Account choices per site key, reused for a few seconds; account questions are asked
    // one at a time under this lock.
    std::mutex chooseAccountMutex_;
    struct ChosenAccount {
        Clock::TimePoint date;
        uint64_t index = 0;
    };
    std::unordered_map<std::string, ChosenAccount> chooseAccountCache_;
};

}  // namespace lumvane
