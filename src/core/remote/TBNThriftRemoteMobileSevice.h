#pragma once
// The Mac side of the link with the paired phone: owns the phone client, the push client
// that wakes the phone, and the transport of the phone that is online; pairs a phone
// through the QR exchange, approves the Mac as the phone's client, unpairs, and forwards
// the extensions' storage calls to the phone with the Mac's own credentials.
//
// Threads: storage calls and getOnlineTransportFactory() block their caller (up to the
// wake-up wait plus the app poll); link callbacks arrive on the link's queues and hand
// anything that calls back into the client, and every delayed step, to the
// default-priority global queue. Every time-out reads the injected Clock.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "blec/TBNBlecExplorer.h"
#include "blec/TBNBlecPeripheralStore.h"
#include "core/remote/RemotePhoneLink.h"
#include "core/remote/TBNPushClient.h"
#include "idl/protocols.h"
#include "idl/settings.h"
#include "runtime/Bytes.h"
#include "runtime/Clock.h"
#include "runtime/DispatchQueue.h"
#include "settings/TBNSettings.h"

namespace lumvane {

class TBNWaitManager;
class TBNThriftRemoteMobileSevice;

// The application service's side; every operation is optional.
class TBNThriftRemoteMobileServiceDelegate {
  public:
    virtual ~TBNThriftRemoteMobileServiceDelegate() = default;
    using Service = TBNThriftRemoteMobileSevice;
    virtual void remoteMobileClientDidBluetoothStateUpadate(Service&, bool on) { (void)on; }
    virtual void remoteMobileShowExpectingPopover(Service&) {}
    virtual void remoteMobileHideExpectingPopover(Service&) {}
    virtual void remoteMobileShowUpdatedDeviceIdForPairedDevice(Service&) {}
    virtual void remoteMobileShowWaitingPopover(Service&) {}
    virtual void remoteMobileHideWaitingPopover(Service&) {}
    virtual void remoteMobileShowClientNotAuthorized(Service&) {}
    virtual void remoteMobileShowFirstFillGuidePopover(Service&) {}
    virtual void remoteMobileShowRatePopover(Service&) {}
    virtual void remoteMobileShowResetAnalyticsPopover(Service&) {}
    // Null when the backup was stored, else the error.
    virtual std::shared_ptr<TBNError> remoteMobileCanSaveBackUp(Service&, const Bytes& backUp) {
        (void)backUp;
        return nullptr;
    }
    // Fills `backUp` and answers null, or answers an error.
    virtual std::shared_ptr<TBNError> remoteMobileCanLoadBackUp(Service&, Bytes& backUp) {
        (void)backUp;
        return TBNErrorsNoBackup();
    }
    virtual void remoteMobileCancelLoadOrSaveBackUp(Service&) {}
    virtual void remoteMobileDidCopyLogin(Service&, const std::optional<std::string>& login,
                                          const std::optional<std::string>& password,
                                          const std::optional<std::string>& accountId,
                                          const std::optional<std::string>& comment,
                                          const std::optional<std::string>& twoFactorCode,
                                          int16_t clearTimeout) {
        (void)login, (void)password, (void)accountId, (void)comment, (void)twoFactorCode,
            (void)clearTimeout;
    }
    virtual void remoteMobileDidOpenUrl(Service&, const std::string& url) { (void)url; }
    virtual void remoteMobileAccessDenyToSite(Service&, const std::string& site) { (void)site; }
    virtual void remoteMobileAccessTimeoutToSite(Service&, const std::string& site) { (void)site; }

  private:
    static std::shared_ptr<TBNError> TBNErrorsNoBackup();
};

class TBNThriftRemoteMobileSevice
    : public TBNStorageService,
      public RemotePhoneClientDelegate,
      public RemotePhoneTransportDelegate,
      public TBNSettingsDelegate,
      public TBNBlecPeripheralStoreDelegate,
      public TBNBlecExplorerDelegate,
      public std::enable_shared_from_this<TBNThriftRemoteMobileSevice> {
  public:
    using ProcessHandler = std::function<void(const std::string&)>;
    using SuccessHandler = std::function<void(uint32_t)>;
    using FailHandler = std::function<void(const std::shared_ptr<TBNError>&)>;
    using PushConnector = std::function<std::shared_ptr<PushClient>(std::string* error)>;

    // Everything the service talks to; unset members take the process-wide objects.
    struct Options {
        std::shared_ptr<TBNSettings> settings;  // default: TBNSettings::sharedSettings()
        TBNBlecPeripheralStore* peripheralStore = nullptr;  // default: the shared store
        TBNWaitManager* waitManager = nullptr;              // default: the shared manager
        std::shared_ptr<Clock> clock;  // delays and the app poll; default steady
        // Makes the phone client (given the client certificate's key and certificate).
        // Required: the service cannot reach a phone without one.
        std::function<std::shared_ptr<RemotePhoneClient>(const std::optional<std::string>& key,
                                                         const std::optional<std::string>& cert)>
            clientFactory;
        // Connects the push client; default: the certificate resource in resourceFolder.
        PushConnector pushConnector;
        std::string resourceFolder;  // where the push certificates are looked for
        bool connectPushAsync = true;
        std::function<std::shared_ptr<TBNRequestInfo>()> nextRequest;  // default: protocol helper
        std::string notificationMessage = "Open Lumvane on your phone to continue.";
        std::string clientName;   // default: the host name
        std::string clientModel;  // default: the host name
        std::string osVersion;    // default: "OSX %02lu.%02lu" from /etc/os-release
        std::function<void(std::function<void()>)> runAsync;  // default: global queue
        // Makes the explorer (with the service as its delegate); it is never started.
        // Empty: the service has no explorer.
        std::function<std::shared_ptr<TBNBlecExplorer>(std::weak_ptr<TBNBlecExplorerDelegate>)>
            explorerFactory;
    };

    // The wait names and their time-outs in seconds.
    static constexpr const char* kWaitPairToDevice = "pairToDevice";
    static constexpr const char* kWaitRemoteNotification = "remoteNotification";
    static constexpr double kWakeUpTimeout = 300.0;
    static constexpr double kPairTimeout = 300.0;
    static constexpr int kAppStatePolls = 101;
    static constexpr const char* kMinEncryptedAppVersion = "0.8.14.7";
    static constexpr const char* kPushPassphrase = "Vusdrim";
    static constexpr const char* kPhraseKeyText = "wrb.fendlox.garimu.net";

    // initWithDelegate:
    static std::shared_ptr<TBNThriftRemoteMobileSevice> create(
        std::weak_ptr<TBNThriftRemoteMobileServiceDelegate> delegate, Options options);
    ~TBNThriftRemoteMobileSevice() override;

    void start();
    void stop();

    // ---- Pairing ----
    void startPairWithAuthKey(const Bytes& authKey, const std::string& authToken,
                              ProcessHandler process, SuccessHandler success, FailHandler fail);
    void stopPair();
    void unpairFromDevice(const std::optional<std::string>& deviceId);
    void startPairToDevice(const std::string& deviceId, const std::string& clientSecret,
                           SuccessHandler success, FailHandler fail);
    static std::string osVersionText(unsigned long major, unsigned long minor);
    // Bytes of a Base64 text; empty for text that is not Base64.
    static Bytes decodeBase64(const std::string& text);

    // ---- Online transport ----
    std::shared_ptr<RemotePhoneTransport> getOnlineTransportFactory();
    bool requestDeviceToOnline(const std::string& message);
    // The payload of the wake-up push with the message as alert (JSON-escaped).
    static std::string pushPayload(const std::string& message);
    std::shared_ptr<TBNStorageServiceClient> createStorageServiceWithTransportFactory(
        const std::shared_ptr<RemotePhoneTransport>& transport);
    std::shared_ptr<TBNMobileStorageServiceClient> createMobileStorageServiceWithTransportFactory(
        const std::shared_ptr<RemotePhoneTransport>& transport);
    void storeBlePeripherals();
    void loadBlePeripherals();
    // The online transport when it belongs to the paired phone of `hardwareId` (same BLE
    // id and device id); null otherwise. Every call that sends credentials or vault data
    // goes through this check.
    std::shared_ptr<RemotePhoneTransport> pairedTransportForHardwareId(
        const std::optional<std::string>& hardwareId);
    // The same for a transport already at hand.
    bool transportBelongsToPairedPhone(const std::shared_ptr<RemotePhoneTransport>& transport);

    // ---- Storage calls (TBNStorageService) ----
    std::shared_ptr<TBNGetLoginDataResponse> getLoginData(
        std::shared_ptr<TBNGetLoginDataRequest> request) override;
    std::shared_ptr<TBNAddLoginDataResponse> addLoginData(
        std::shared_ptr<TBNAddLoginDataRequest> request) override;
    std::shared_ptr<TBNDeleteLoginDataResponse> deleteLoginData(
        std::shared_ptr<TBNDeleteLoginDataRequest> request) override;
    std::shared_ptr<TBNUpdateLoginDataResponse> updateLoginData(
        std::shared_ptr<TBNUpdateLoginDataRequest> request) override;
    std::shared_ptr<TBNGetSiteDataResponse> getSiteData(
        std::shared_ptr<TBNGetSiteDataRequest> request) override;
    std::shared_ptr<TBNGetSiteDataListResponse> getSiteDataList(
        std::shared_ptr<TBNGetSiteDataListRequest> request) override;
    std::shared_ptr<TBNDeleteSiteDataResponse> deleteSiteData(
        std::shared_ptr<TBNDeleteSiteDataRequest> request) override;
    std::shared_ptr<TBNGet2FACodeResponse> get2FACode(
        std::shared_ptr<TBNGet2FACodeRequest> request) override;
    std::shared_ptr<TBNError> processingError(const std::shared_ptr<TBNError>& error);

    // ---- Calls made for the user (backup, caches, clipboard, URL, U2F) ----
    // Their bodies live in TBNThriftRemoteMobileSeviceCalls.cpp.
    virtual void updateSiteCacheForHardwareId(const std::optional<std::string>& hardwareId);
    virtual void updateAccountsCacheForHardwareId(const std::optional<std::string>& hardwareId,
                                                  const std::string& siteUrl);
    virtual void getBackupForHardwareId(const std::optional<std::string>& hardwareId);
    virtual void getAccountForClipboardForHardwareId(const std::optional<std::string>& hardwareId);
    virtual void getURLToOpenForHardwareId(const std::optional<std::string>& hardwareId);
    virtual void startU2F();
    virtual void stopU2F();

    // ---- Link callbacks ----
    void blecClientDidBluetoothStateChange(RemotePhoneClient& client, bool on) override;
    std::shared_ptr<BLECMutableDeviceInfo> blecClientGetPairedDeviceInfoByBLEId(
        RemotePhoneClient& client, const std::string& bleId) override;
    void blecClientDidFindTransportFactory(
        RemotePhoneClient& client, const std::shared_ptr<RemotePhoneTransport>& transport) override;
    void blecClientDidLostTransportFactory(
        RemotePhoneClient& client, const std::shared_ptr<RemotePhoneTransport>& transport) override;
    void blecClientDidInvalidateDeviceId(RemotePhoneClient& client) override;
    void blecClientDidChangePairingStatus(RemotePhoneClient& client,
                                          const std::string& status) override;
    void blecThriftTransportFactoryDidDeviceInfoUpdated(
        const std::shared_ptr<RemotePhoneTransport>& transport) override;
    void blecThriftTransportFactoryDidDBUpdated(
        const std::shared_ptr<RemotePhoneTransport>& transport) override;
    void blecThriftTransportFactoryDidNeedCommunicationTypeUpdated(
        const std::shared_ptr<RemotePhoneTransport>& transport, uint64_t type) override;
    std::optional<Bytes> encryptKeyForBlecThriftTransportFactory(
        const std::shared_ptr<RemotePhoneTransport>& transport) override;
    std::optional<std::vector<Bytes>> decryptKeysForBlecThriftTransportFactory(
        const std::shared_ptr<RemotePhoneTransport>& transport) override;
    void settingsDidUpdated(TBNSettings& settings, TBNSettingsComponents components) override;
    void blecPeripheralStoreDidUpdate(TBNBlecPeripheralStore& store) override;
    void blecExplorerOnStateChange(TBNBlecExplorer& explorer, bool on) override;
    void blecExplorerOnDidFindDevice(TBNBlecExplorer& explorer,
                                     const std::optional<std::string>& deviceId) override;
    void blecExplorerOnDidUpdateDevice(TBNBlecExplorer& explorer,
                                       const std::optional<std::string>& deviceId) override;
    void blecExplorerOnDidLostDevice(TBNBlecExplorer& explorer,
                                     const std::optional<std::string>& deviceId) override;

    // ---- State ----
    std::shared_ptr<TBNThriftRemoteMobileServiceDelegate> delegate() const {
        return delegate_.lock();
    }
    const std::shared_ptr<RemotePhoneClient>& client() const { return client_; }
    const std::shared_ptr<TBNBlecExplorer>& blecExplorer() const { return blecExplorer_; }
    std::shared_ptr<TBNAuthentication> clientAuth() const;
    std::shared_ptr<RemotePhoneTransport> onlinedTransportFactory() const;
    std::shared_ptr<PushClient> pusher() const;
    bool bluetoothOn() const { return bluetoothOn_.load(); }
    bool backupRestoreProcessing() const { return backupRestoreProcessing_.load(); }
    std::optional<std::string> peerPublicKey() const;
    bool pairingInProgress() const;
    const std::shared_ptr<DispatchQueue>& backupRestoreQueue() const { return backupRestoreQueue_; }
    TBNSettings& settings() const { return *settings_; }

  protected:
    struct Token {};

  public:
    TBNThriftRemoteMobileSevice(Token, std::weak_ptr<TBNThriftRemoteMobileServiceDelegate> delegate,
                                Options options);

  protected:
    void init();
    void connectPush();

  public:
    // The push certificate the default connector reads from the resource folder.
    static std::string pushCertificatePath(const std::string& resourceFolder);

  protected:
    void approveClient(const std::shared_ptr<RemotePhoneTransport>& transport,
                       const std::string& clientSecret, const SuccessHandler& success,
                       const FailHandler& fail);
    void continuePairingLocked(const std::shared_ptr<RemotePhoneTransport>& transport);
    void restoreToTransport(const std::shared_ptr<RemotePhoneTransport>& transport);
    void after(double seconds, std::function<void()> block);
    void async(std::function<void()> block);
    bool needsEncryption(const std::shared_ptr<RemotePhoneTransport>& transport);
    Bytes secretKey();

    // Runs the common storage call; `send` makes the call on a fresh client.
    template <class Request, class Response>
    std::shared_ptr<Response> storageCall(
        const char* name, const std::shared_ptr<Request>& request,
        const std::function<std::shared_ptr<Response>(TBNStorageServiceClient&,
                                                      std::shared_ptr<Request>)>& send,
        std::shared_ptr<RemotePhoneTransport>* usedTransport = nullptr,
        const std::function<void(const std::shared_ptr<TBNError>&)>& onError = nullptr,
        bool* threw = nullptr);
    template <class Request, class Response>
    std::shared_ptr<Response> noticedCall(
        const char* name, const std::shared_ptr<Request>& request,
        const std::function<std::shared_ptr<Response>(TBNStorageServiceClient&,
                                                      std::shared_ptr<Request>)>& send,
        std::shared_ptr<RemotePhoneTransport>* usedTransport);

    std::weak_ptr<TBNThriftRemoteMobileServiceDelegate> delegate_;
    Options options_;
    std::shared_ptr<TBNSettings> settings_;
    TBNBlecPeripheralStore* store_;
    TBNWaitManager* waits_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<RemotePhoneClient> client_;
    std::shared_ptr<TBNBlecExplorer> blecExplorer_;
    std::shared_ptr<DispatchQueue> backupRestoreQueue_;

    mutable std::mutex mutex_;  // guards the members below
    std::shared_ptr<TBNAuthentication> clientAuth_;
    std::shared_ptr<RemotePhoneTransport> onlinedTransportFactory_;
    std::shared_ptr<PushClient> pusher_;
    std::optional<Bytes> currentAuthKey_;
    std::optional<std::string> currentClientSecret_;
    std::optional<std::string> currentPairingDeviceId_;
    ProcessHandler currentProcessHandler_;
    SuccessHandler currentSuccessHandler_;
    FailHandler currentFailHandler_;
    uint64_t pairingGeneration_ = 0;

    std::atomic<bool> bluetoothOn_{true};
    std::atomic<bool> backupRestoreProcessing_{false};
    std::atomic<bool> needCancelImport_{false};
    std::atomic<bool> needCancelExport_{false};

    // ==== Calls for the user and the phone's own requests ================================
    // Account, password, import/export hand-overs and U2F forwarding; their bodies, and
    // those of the cache, backup, clipboard and URL calls above, live in
    // TBNThriftRemoteMobileSeviceCalls.cpp. Keep this block together.
  public:
    using SiteList = std::vector<std::shared_ptr<TBNSiteData>>;
    using U2FList = std::vector<std::shared_ptr<TBNU2FData>>;
    using ErrorBlock = std::function<void(const std::shared_ptr<TBNError>&)>;
    using ExportBlock =
        std::function<void(std::shared_ptr<SiteList> sites, std::shared_ptr<U2FList> u2fRecords,
                           const std::shared_ptr<TBNError>& error)>;

    // The security-key authenticator as the service sees it (the U2F subsystem adapts its
    // bridge to this).
    class U2FBridge {
      public:
        // Answers a raw U2F request with the raw response; nothing: no answer.
        using Answer = std::function<std::optional<Bytes>(const Bytes& raw)>;
        virtual ~U2FBridge() = default;
        virtual void setupRegisterCallback(Answer answer) = 0;
        virtual void setupAuthenticationCallback(Answer answer) = 0;
        virtual bool running() const = 0;
        virtual bool start() = 0;
        virtual void stop() = 0;
    };

    static constexpr double kYubiKeyTimeout = 300.0;
    static constexpr double kBackupRetryDelay = 300.0;

    // In the background; nothing is reported back.
    void createAccount(const std::string& login, const std::string& password,
                       const std::string& siteUrl, const std::string& siteName, bool secure);
    // In the background; `completion` (if given) always comes: true once the phone took
    // the password, false when it refused or could not be reached.
    void sendPasswordToPairedDevice(const std::string& password,
                                    std::function<void(bool sent)> completion);
    // In the background. `approved` once with the phone's answer to the request (an error
    // also when no phone answered); only when that was no error, `completion` once with the
    // outcome of the transfer. A cancelled hand-over calls neither.
    void importRecords(SiteList sites, std::shared_ptr<U2FList> u2fRecords,
                       const std::string& sourceName, const std::string& sourceDetail,
                       ErrorBlock approved, ErrorBlock completion);
    void cancelImport();
    // The same rules; `completion` gets the records, or null lists and the error.
    void exportRecordsTo(const std::string& destinationName, const std::string& destinationDetail,
                         ErrorBlock approved, ExportBlock completion);
    void cancelExport();
    // Block their caller until the phone answered this very request (up to
    // kYubiKeyTimeout on the clock, plus a wake-up); nothing when the feature is off, no
    // phone answered or the phone refused.
    std::optional<Bytes> registerYubikeyWithRaw(const Bytes& raw);
    std::optional<Bytes> authenticationYubikeyWithRaw(const Bytes& raw);
    // Installs the two answer blocks on the bridge (each holds the service weakly) and
    // starts the bridge when the security-key feature is on.
    void setU2FBridge(std::shared_ptr<U2FBridge> bridge);
    std::shared_ptr<U2FBridge> u2fBridge() const;

  protected:
    std::optional<Bytes> forwardYubikey(bool registering, const Bytes& raw);
    void fetchBackup(const std::shared_ptr<RemotePhoneTransport>& transport,
                     const std::optional<std::string>& hardwareId);
    // The online transport for a call made for the user (wakes the phone), when it is the
    // paired phone's; null otherwise.
    std::shared_ptr<RemotePhoneTransport> userCallTransport();

    mutable std::mutex callsMutex_;  // guards the members below
    std::set<std::string> updateSitesCasheFlags_;
    std::set<std::string> updateAccountsCasheFlags_;
    std::shared_ptr<U2FBridge> u2fBridge_;
    // ==== end of the calls block ==========================================================
};

}  // namespace lumvane
