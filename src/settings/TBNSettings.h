#pragma once
// The settings store: the one place that holds the program's preferences, paired and
// online phones, site and account caches and approved extension clients.
//
// It keeps three records: the plain settings and the encrypted settings, saved
// together in the settings file "settings.tbnlmveprf" (each part a salted blob under
// AES-256; the plain part under a key built into the program, the encrypted part under
// the 32-byte key kept in the keychain), and the session settings, which live in memory
// only.
//
// Threading. Reads run as ordinary blocks on a concurrent queue (concurrently with each
// other, never during a change) or are answered from a value cache; every change runs
// as a barrier block on that queue, is followed by a save on a serial save queue, and
// then every observer is told the change's component mask on the high-priority global
// queue. Setters never wait; getters wait for the changes handed over before them, so
// a getter called after a setter returned sees the new value.
// Every operation may be called from any thread.
//
// Records the store hands out are copies, and records handed in are copied: a caller
// never shares a record with the store.
#include <any>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "idl/settings.h"
#include "runtime/Bytes.h"
#include "runtime/Clock.h"
#include "runtime/DispatchQueue.h"
#include "settings/LocationZone.h"

namespace lumvane {

class TBNSettings;

// What a change touched; observers filter on these bits.
using TBNSettingsComponents = uint64_t;
inline constexpr TBNSettingsComponents TBNSettingsComponentNone = 0;
inline constexpr TBNSettingsComponents TBNSettingsComponentSession = 1;
inline constexpr TBNSettingsComponents TBNSettingsComponentDeviceInfo = 2;
inline constexpr TBNSettingsComponents TBNSettingsComponentOnlineDevices = 4;
inline constexpr TBNSettingsComponents TBNSettingsComponentPairedDeviceInfo = 8;
inline constexpr TBNSettingsComponents TBNSettingsComponentPairedDevices = 16;
inline constexpr TBNSettingsComponents TBNSettingsComponentAppState = 32;
inline constexpr TBNSettingsComponents TBNSettingsComponentGenerator = 64;
inline constexpr TBNSettingsComponents TBNSettingsComponentCaches = 128;
inline constexpr TBNSettingsComponents TBNSettingsComponentClientCert = 512;
inline constexpr TBNSettingsComponents TBNSettingsComponentPaused = 1024;
inline constexpr TBNSettingsComponents TBNSettingsComponentSwitches = 2048;

// An observer of the store. Held weakly: it leaves the list when it is destroyed.
class TBNSettingsDelegate {
  public:
    virtual ~TBNSettingsDelegate() = default;
    // Called on the high-priority global queue after the file was written (or the write
    // failed), once per change and observer; calls may overlap and arrive in any order.
    // A cache or counter change (see kDeferredSaveDelaySeconds) is told before its write.
    virtual void settingsDidUpdated(TBNSettings& settings, TBNSettingsComponents components) {
        (void)settings;
        (void)components;
    }
};

class TBNSettings : public std::enable_shared_from_this<TBNSettings> {
  public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;
    using Date = std::chrono::system_clock::time_point;
    using Text = std::optional<std::string>;
    using DevicePtr = std::shared_ptr<TBNOSXDeviceInfo>;

    struct Options {
        // Bounds the upgrade's wait for the location zone (null: Clock::steady()).
        std::shared_ptr<Clock> clock;
        // Wall time for the rating state and the upgrade (null: the system clock).
        WallClock now;
        // The version the upgrade records as the application's version.
        Text bundleVersion;
        // Asked once by the upgrade for the analytics default (null: not asked).
        std::shared_ptr<LocationZoneSource> locationZone;
        // How long the upgrade waits for the location zone.
        double locationZoneTimeoutSeconds = 5.0;
        // Off only in tests and fuzzing, which write thousands of files: writes are not
        // fsynced (each is still a whole-file replace by rename).
        bool syncWrites = true;
    };

    // The fixed phrase whose SHA-256 digest seals the plain part of the file.
    static constexpr const char* kPlainPartPhrase = "plOmbu VatDeno";
    static constexpr const char* kSettingsFileName = "settings.tbnlmveprf";

    // The process-wide store, made on first use with default options.
    static TBNSettings& sharedSettings();
    // A store of its own (tests, tools). Use through the returned shared pointer. The
    // first form records the program's own version in the upgrade.
    static std::shared_ptr<TBNSettings> create();
    static std::shared_ptr<TBNSettings> create(Options options);

    ~TBNSettings();
    TBNSettings(const TBNSettings&) = delete;
    TBNSettings& operator=(const TBNSettings&) = delete;

    // ---- Loading, keys and saving ------------------------------------------------

    // Loads the settings file at `fromFile` once (the store's records are always
    // TBNOSXSettings, TBNOSXEncryptedSettings and TBNOSXSessionSettings). Throws
    // std::logic_error("Settings are already loaded") on a second call. A missing file
    // is created (its folder 0700 when made here). A file that cannot be read, or whose
    // plain part does not decrypt, is moved aside under a time-stamped name, logged, and
    // a new file is started; nothing is ever deleted.
    void loadBySettingsClass(const std::filesystem::path& fromFile);
    // Loads the kept file again with new records. Throws std::logic_error("Settings are
    // not loaded") before the first load. Drops the settings key, so that nothing is
    // written under a key that has not opened the file's encrypted part: follow with
    // decryptEncryptedSettingsByKey().
    void reloadBySettingsClass();
    // Opens the file's encrypted part with the 32-byte key and keeps the key; with no
    // encrypted part yet, keeps the key and saves (which writes one). Throws
    // std::runtime_error("Invalid settings key") for a key of another length or one
    // that opens no valid part, the crypto layer's "Failed decrypt data" or a record
    // reader's exception otherwise; the key is kept only on success, and the unreadable
    // part is then written back unchanged by later saves.
    void decryptEncryptedSettingsByKey(const Bytes& key);
    // Keeps the new key and saves, so the encrypted part is written under it from now on.
    void changeEncryptedSettingsKey(const Bytes& key);
    // Drops the file's encrypted part and saves.
    void resetEncryptedSettings();
    // Moves the settings file aside under a time-stamped name (in place of deleting an
    // unusable file); true when it was moved.
    bool moveSettingsFileAside();

    void save();
    // Saves the current records and then tells every observer `components`. Returns at
    // once. Saves that queue up while one is written are merged into one file write;
    // every observer is still told every mask, in order.
    void saveWithComponents(TBNSettingsComponents components);
    // Blocks until every change handed over so far is in the file, the cache and counter
    // changes still waiting for their merged write included (tests, shutdown: call it at
    // stop). Not from inside a read or update block.
    void waitForPendingSaves();
    // Cache and counter changes (user-name cache, site and account caches, rating ticks)
    // are not worth a disk write each: they are merged into one write at most this long
    // after the first of them, or into the next write of a change that matters, whichever
    // comes first. Readers see them at once; their observers are told at once, or on a
    // thread answering a request once its reply is out (runtime/AfterReply.h). A crash
    // may lose them; it never loses a change of the user's, which is written at once.
    static constexpr double kDeferredSaveDelaySeconds = 5.0;
    // How many times the file was written since the store was made.
    uint64_t fileWrites() const { return fileWrites_.load(std::memory_order_relaxed); }

    // How saving goes. A failed write starts a streak: the handler hears of its first
    // failure (saving false, with the reason) and of the first write that works again
    // (saving true); failures in between are not told again. While writes fail, the
    // records are written again kSaveRetrySeconds after each failure, so a change made
    // before the cause went away still reaches the file. The handler is called on the
    // save queue and must not block; one set during a streak hears of it at once.
    struct SaveHealth {
        bool saving = true;
        std::string reason;
    };
    using SaveHealthHandler = std::function<void(const SaveHealth&)>;
    void setSaveHealthHandler(SaveHealthHandler handler);
    static constexpr double kSaveRetrySeconds = 15.0;
    // Whether the last write failed.
    bool savesFailing() const;

    // Adds an observer (held weakly). An observer added twice is told twice.
    void addDelegate(const std::shared_ptr<TBNSettingsDelegate>& delegate);

    // ---- Core read and update operations -----------------------------------------

    template <class T>
    using ReadBlock = std::function<std::optional<T>(TBNSettings&)>;
    using UpdateBlock = std::function<TBNSettingsComponents(TBNSettings&)>;

    // A cached value under `key`, or the block's answer (run on the read queue, cached
    // under the key when it is a value). A block that answers nothing caches nothing.
    template <class T>
    std::optional<T> valueFromCacheForKey(const Text& key, const ReadBlock<T>& block);
    std::optional<std::string> strValueFromCacheForKey(const Text& key,
                                                       const ReadBlock<std::string>& block) {
        return valueFromCacheForKey<std::string>(key, block);
    }
    std::optional<int64_t> numValueFromCacheForKey(const Text& key,
                                                   const ReadBlock<int64_t>& block) {
        return valueFromCacheForKey<int64_t>(key, block);
    }
    // The block's answer, never cached.
    template <class T>
    std::optional<T> valueFromSettings(const ReadBlock<T>& block) {
        return valueFromCacheForKey<T>(std::nullopt, block);
    }
    std::optional<std::string> strValueFromSettings(const ReadBlock<std::string>& block) {
        return valueFromSettings<std::string>(block);
    }
    std::optional<int64_t> numValueFromSettings(const ReadBlock<int64_t>& block) {
        return valueFromSettings<int64_t>(block);
    }
    // Hands `block` to the read queue as a barrier and returns at once. The barrier
    // drops `key` from the cache, runs the block and saves with the mask it returns.
    void updateForCacheKey(const Text& key, UpdateBlock block);
    void updateSettings(UpdateBlock block) { updateForCacheKey(std::nullopt, std::move(block)); }

    // Runs the change and writes the file before returning (the observers are told as
    // after any change). True when the file now holds the change: for changes the next
    // start cannot do without, which the caller reports only once they are on disk. Not
    // from inside a read or update block, nor on the save queue.
    bool updateSettingsDurably(UpdateBlock block, std::vector<std::string> cacheKeys = {});

    // The store's records themselves: only for read blocks (read-only) and update
    // blocks. Valid once loaded.
    TBNOSXSettings& osxSettings() { return *settings_; }
    TBNOSXEncryptedSettings& osxEncryptedSettings() { return *encryptedSettings_; }
    TBNOSXSessionSettings& osxSessionSettings() { return *sessionSettings_; }
    bool isLoaded() const { return loaded_.load(std::memory_order_acquire); }

    std::filesystem::path filePath() const;
    std::optional<Bytes> key() const;
    // A copy of the file's content as last read or written.
    TBNSettingsBlob settingsBlob() const;
    const std::shared_ptr<DispatchQueue>& rwDispatchQueue() const { return rwQueue_; }
    const std::shared_ptr<DispatchQueue>& saveDispatchQueue() const { return saveQueue_; }
    // Hands the location-zone source to the store (the service layer makes it).
    void setLocationZoneSource(std::shared_ptr<LocationZoneSource> source);

    // ---- Folders and fixed answers -----------------------------------------------

    static std::filesystem::path settingFolder();
    static std::filesystem::path oldSettingFolder();
    static std::filesystem::path logsFolder();
    // The settings file in the settings folder.
    static std::filesystem::path settingsFilePath();
    static bool isDebugVersion() { return false; }

    // ---- Scalar preferences ------------------------------------------------------

    Text clientId();
    void setClientId(const Text& value);
    Text appVersion();
    uint64_t appVersionCode();
    bool startAtLogin();
    void setStartAtLogin(bool value);
    bool sendReports();
    void setSendReports(bool value);
    bool resetSendReports();
    void setResetSendReports(bool value);
    int32_t loggingLevel();
    void setLoggingLevel(int32_t value);
    // Copies: change a generator by handing in a new record.
    std::shared_ptr<TBNGeneratorSettings> generatorSettings();
    void setGeneratorSettings(const std::shared_ptr<TBNGeneratorSettings>& value);
    std::shared_ptr<TBNCertSettings> clientCert();
    void setClientCert(const std::shared_ptr<TBNCertSettings>& value);
    Text clientSecret();
    void setClientSecret(const Text& value);
    Text clientSecretKey();
    Text backupLocation();
    void setBackupLocation(const Text& value);
    Text altBackupLocation();
    void setAltBackupLocation(const Text& value);
    Text lastBackupFilePath();
    void setLastBackupFilePath(const Text& value);
    // Whole seconds since 1970; an unset time reads as 1970-01-01 00:00:00 UTC.
    Date lastBackupTime();
    // Truncates toward zero; no date stores 0.
    void setLastBackupTime(const std::optional<Date>& value);
    bool userChangedBackupLocation();
    void setUserChangedBackupLocation(bool value);
    Text lastSafariExtVersion();
    void setLastSafariExtVersion(const Text& value);
    Text lastChromeExtVersion();
    void setLastChromeExtVersion(const Text& value);
    bool paused();
    void setPaused(bool value);
    bool osxExtendedMode();
    void setOsxExtendedMode(bool value);
    bool extensionExtendedMode();
    void setExtensionExtendedMode(bool value);
    bool updateToPrerelease();
    void setUpdateToPrerelease(bool value);
    bool enableBLETesting();
    void setEnableBLETesting(bool value);
    bool supportYubiKey();
    void setSupportYubiKey(bool value);
    bool firstFillGuideShowed();
    void setFirstFillGuideShowed(bool value);
    bool doneWizard();
    void setDoneWizard(bool value);
    bool skipUntilOnline();
    void setSkipUntilOnline(bool value);
    int32_t wizardSafariState();
    void setWizardSafariState(int32_t value);
    int32_t wizardChromeState();
    void setWizardChromeState(int32_t value);

    // ---- Rating ------------------------------------------------------------------

    bool showRateView();
    void rateTriggerTick();
    // Ask again one day later.
    void skipRate();
    void cancelRate();
    void successRate();

    // ---- Pong flags --------------------------------------------------------------

    int64_t pongFlags();
    static int64_t getPongFlagsFromLoggingLevel(int32_t loggingLevel);

    // ---- Paired and online phones (keyed by hardware id) -------------------------

    DevicePtr firstPairedDevice();
    DevicePtr pairedDeviceByHardwareId(const Text& hardwareId);
    DevicePtr pairedDeviceByDeviceId(const Text& deviceId);
    bool isPairedDeviceByHardwareId(const Text& hardwareId);
    bool isPairedDeviceByDeviceId(const Text& deviceId);
    Text pairedDeviceHardwareIdByDeviceId(const Text& deviceId);
    // Refused (with a warning) for a record without hardware id or device id.
    void addPairedDevice(const DevicePtr& device);
    // A newly paired phone and the client secret it approved, stored together in one
    // write before returning. True when the file holds both; on false (or a refused
    // record) neither is kept, so no start ever finds the phone without the secret it
    // accepts.
    bool addPairedDeviceWithClientSecret(const DevicePtr& device, const std::string& clientSecret);
    void removePairedDeviceAtHardwareId(const Text& hardwareId);
    void pairDeviceAtHardwareId(const Text& hardwareId);
    void unpairDeviceAtHardwareId(const Text& hardwareId);
    void removeAllDevices();
    void updateDeviceInfoWithDeviceId(const Text& deviceId, const Text& hardwareId, int32_t rssi,
                                      const Text& name, const Text& model, const Text& token,
                                      int32_t batteryLevel, int32_t batteryState,
                                      const Text& osVersion, const Text& appVersion,
                                      int32_t appState, bool online);
    DevicePtr onlineDeviceByHardwareId(const Text& hardwareId);
    std::vector<DevicePtr> allOnlineDevices();
    // Refused (with a warning) for a record without hardware id.
    void addOnlineDevice(const DevicePtr& device);
    void removeOnlineDeviceAtHardwareId(const Text& hardwareId);
    std::vector<std::shared_ptr<TBNOSXBlecPeripheral>> allBlePeripherals();
    void setAllBlePeripherals(
        const std::vector<std::shared_ptr<TBNOSXBlecPeripheral>>& peripherals);
    Text expectedDeviceId();
    void setExpectedDeviceId(const Text& value);
    Text pairingHardwareId();
    void setPairingHardwareId(const Text& value);

    // Deep copies (every field of a device copy is marked set).
    static DevicePtr cloneDeviceInfo(const std::shared_ptr<const TBNOSXDeviceInfo>& device);
    static std::shared_ptr<TBNSitesCache> cloneSitesCache(
        const std::shared_ptr<const TBNSitesCache>& cache);
    static std::shared_ptr<TBNAccountsCache> cloneAccountsCache(
        const std::shared_ptr<const TBNAccountsCache>& cache);

    // ---- Site and account caches (digests only) ----------------------------------

    void updateSitesCache(const std::shared_ptr<TBNSitesCache>& cache,
                          const Text& forPairedDeviceByHardwareId);
    void updateAccountsCache(const std::shared_ptr<TBNAccountsCache>& cache, const Text& forSiteUrl,
                             const Text& andPairedDeviceByHardwareId);
    // Refused (with a warning) without a hardware id.
    void addToCacheUserName(const Text& userName, const Text& andPassword, const Text& forSiteUrl,
                            const Text& andPairedDeviceByHardwareId);
    // `isProtected` (may be null) is set to whether the site was found only among the
    // protected sites.
    bool cachedSiteUrl(const Text& siteUrl, const Text& forPairedDeviceByHardwareId,
                       bool* isProtected);
    bool isCachedUserName(const Text& userName, const Text& forSiteUrl,
                          const Text& andPairedDeviceByHardwareId);
    bool isCachedUserName(const Text& userName, const Text& andPassword, const Text& forSiteUrl,
                          const Text& andPairedDeviceByHardwareId);

    // ---- Extension clients -------------------------------------------------------

    void approveExtForClientId(const Text& clientId, const Text& andClientSecret);
    // The secret is compared in constant time.
    bool isApprovedExtensionClient(const Text& clientId, const Text& andClientSecret);
    bool isApprovedExtensionClient(const Text& clientId);
    Text clientSecretByClientId(const Text& clientId);

    // ---- Account choices ---------------------------------------------------------

    std::optional<std::vector<std::string>> chooseAccountsListByKey(const Text& key);
    void setChooseAccouts(const std::optional<std::vector<std::string>>& accounts,
                          const Text& forKey);
    bool existChooseAccoutForSiteUrlHash(const Text& siteUrlHash);
    bool canChooseAccoutHash(const Text& accountHash, const Text& forSiteUrlHash);
    void setChooseAccoutHash(const Text& accountHash, const Text& forSiteUrlHash);

    // ---- Upgrade -----------------------------------------------------------------

    // Fills defaults and migrates old values; run once per start after loading and
    // decrypting. Returns at once. The analytics default that depends on the location
    // zone is decided afterwards, outside the store's exclusive block, waiting at most
    // the configured time for the zone; without an answer it is left for the next start.
    void upgrade();

  private:
    struct Token {};

  public:
    TBNSettings(Token, Options options);

  private:
    // Cache guarded by its own lock: looked up on callers' threads, filled by read
    // blocks that run concurrently, emptied by barriers.
    std::optional<std::any> cacheLookup(const std::string& key) const;
    void cacheStore(const std::string& key, std::any value);
    // An update of `key` is queued / has run.
    void cacheBeginUpdate(const std::string& key);
    void cacheEndUpdate(const std::string& key);
    // Drops every value (pending updates stay counted).
    void cacheClear();

    void updateForCacheKeys(std::vector<std::string> keys, UpdateBlock block,
                            bool deferSave = false);
    // Runs an update block inside an exclusive block: its mask, nothing before the
    // settings are loaded.
    std::optional<TBNSettingsComponents> applyUpdate(const UpdateBlock& block);
    // An update whose change is only a cache or a counter: its save is deferred.
    void updateCaches(UpdateBlock block) { updateForCacheKeys({}, std::move(block), true); }
    void queueSave(TBNSettingsComponents components, bool deferred);
    // On the save queue: write the file now / when deferred changes wait.
    void writeFile();
    void flushDeferredSave();
    // On the save queue, after each write: keeps the streak and the retry timer.
    void noteWriteOutcome(bool written, const std::string& reason);

    // Runs inside an exclusive block.
    void loadLocked(const std::filesystem::path& path);
    void internalLoad();
    void startNewFile();
    void resetRecords();

    void runSave();
    void notifyDelegates(const std::vector<TBNSettingsComponents>& masks);
    Date now() const;

    void askLocationZone();
    void applyLocationZone(uint32_t zone);

    Options options_;
    std::shared_ptr<DispatchQueue> rwQueue_;
    std::shared_ptr<DispatchQueue> saveQueue_;

    // Records: touched only inside blocks of rwQueue_.
    std::shared_ptr<TBNOSXSettings> settings_;
    std::shared_ptr<TBNOSXEncryptedSettings> encryptedSettings_;
    std::shared_ptr<TBNOSXSessionSettings> sessionSettings_;
    std::atomic<bool> loaded_{false};

    // A key with changes still queued is never answered from the cache nor filled, so a
    // getter called after a setter returned sees the new value.
    struct CacheEntry {
        std::optional<std::any> value;
        int pendingUpdates = 0;
    };
    mutable std::shared_mutex cacheMutex_;
    std::map<std::string, CacheEntry, std::less<>> cache_;

    // The pong flags word, asked on every extension ping: it reads several fields, so
    // any change drops it, and while a change is queued it is not answered from here.
    static constexpr int64_t kNoPongFlags = INT64_MIN;
    std::atomic<int64_t> pongFlags_{kNoPongFlags};
    std::atomic<int> queuedChanges_{0};

    // File state shared between the caller of load/decrypt and the save queue.
    mutable std::mutex fileMutex_;
    std::filesystem::path filePath_;
    std::optional<Bytes> key_;
    TBNSettingsBlob settingsBlob_;

    // Saves waiting for the save queue; one queued task writes them all.
    mutable std::mutex saveMutex_;
    std::vector<TBNSettingsComponents> pendingMasks_;
    bool saveScheduled_ = false;
    bool urgentSavePending_ = false;  // a queued save is of a change that matters
    bool deferredDirty_ = false;      // deferred changes are not in the file yet
    bool deferredTimerArmed_ = false;
    std::atomic<uint64_t> fileWrites_{0};
    // The failure streak (guarded by saveMutex_).
    bool savesFailing_ = false;
    std::string saveFailure_;
    bool retryArmed_ = false;
    SaveHealthHandler saveHealthHandler_;

    std::mutex delegatesMutex_;
    std::vector<std::weak_ptr<TBNSettingsDelegate>> delegates_;

    std::mutex zoneMutex_;
    std::shared_ptr<LocationZoneSource> zoneSource_;
};

// ---- template definitions ---------------------------------------------------------

template <class T>
std::optional<T> TBNSettings::valueFromCacheForKey(const Text& key, const ReadBlock<T>& block) {
    if (key) {
        if (auto hit = cacheLookup(*key)) {
            if (const T* value = std::any_cast<T>(&*hit)) return *value;
        }
    }
    return rwQueue_->sync([&]() -> std::optional<T> {
        if (!settings_) return std::nullopt;
        std::optional<T> result = block(*this);
        if (key && result) cacheStore(*key, *result);
        return result;
    });
}

}  // namespace lumvane
