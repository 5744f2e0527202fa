#include "settings/TBNSettings.h"

#include <thrift/TConfiguration.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <stdexcept>
#include <string_view>
#include <system_error>
#include <typeinfo>

#include "crypto/TBNCryptThrift.h"
#include "lumvane/Version.h"
#include "protocol/ProtocolLimits.h"
#include "runtime/AfterReply.h"
#include "runtime/Digest.h"
#include "runtime/Paths.h"
#include "runtime/log/TBNLogger.h"
#include "settings/SettingsFile.h"

namespace lumvane {

namespace fs = std::filesystem;
using apache::thrift::TConfiguration;
using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::transport::TMemoryBuffer;

namespace {

constexpr const char* kRwQueueLabel = "com.tobrin.lumvane.settings.rw";
constexpr const char* kSaveQueueLabel = "com.tobrin.lumvane.settings.save";
constexpr size_t kKeySize = 32;

const Bytes& plainPartKey() {
    static const Bytes key = sha256(std::string_view(TBNSettings::kPlainPartPhrase));
    return key;
}

std::string exceptionText(const std::exception& e) {
    return std::string(typeid(e).name()) + ": " + e.what();
}

void logException(const char* context, const std::exception& e) {
    TBN_LOG_ERROR("settings", "{}: exception = '{}'", context, exceptionText(e));
}

Bytes writeBlob(const TBNSettingsBlob& blob) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol protocol(buffer);
    blob.write(&protocol);
    uint8_t* data = nullptr;
    uint32_t size = 0;
    buffer->getBuffer(&data, &size);
    return Bytes(data, data + size);
}

// Reads the file's record; bytes after its stop byte are left unread (files written
// in place by earlier versions may carry an old tail there).
TBNSettingsBlob readBlob(Bytes& data) {
    if (data.empty()) throw std::runtime_error("the settings file is empty");
    auto config = std::make_shared<TConfiguration>(static_cast<int>(settingsfile::kMaxFileSize),
                                                   static_cast<int>(settingsfile::kMaxFileSize));
    auto buffer = std::make_shared<TMemoryBuffer>(data.data(), static_cast<uint32_t>(data.size()),
                                                  TMemoryBuffer::OBSERVE, config);
    // The file is outside input: the checked reader refuses bytes that name no type.
    ProtocolLimits limits;
    limits.maxMessageSize = static_cast<int32_t>(settingsfile::kMaxFileSize);
    limits.maxStringSize = static_cast<int32_t>(settingsfile::kMaxFileSize);
    limits.maxContainerSize = 16;
    auto protocol = makeBinaryProtocol(buffer, limits);
    TBNSettingsBlob blob;
    blob.read(protocol.get());
    return blob;
}

}  // namespace

// ---- creation -----------------------------------------------------------------------

TBNSettings::TBNSettings(Token, Options options)
    : options_(std::move(options)),
      rwQueue_(DispatchQueue::create(kRwQueueLabel, DispatchQueue::Kind::Concurrent,
                                     DispatchQueue::Priority::Default)),
      saveQueue_(DispatchQueue::create(kSaveQueueLabel, DispatchQueue::Kind::Serial,
                                       DispatchQueue::Priority::Default)) {
    if (!options_.clock) options_.clock = Clock::steady();
    zoneSource_ = options_.locationZone;
}

TBNSettings::~TBNSettings() = default;

std::shared_ptr<TBNSettings> TBNSettings::create() {
    Options options;
    options.bundleVersion = std::string(kAppVersion);
    return create(std::move(options));
}

std::shared_ptr<TBNSettings> TBNSettings::create(Options options) {
    return std::make_shared<TBNSettings>(Token{}, std::move(options));
}

TBNSettings& TBNSettings::sharedSettings() {
    static const std::shared_ptr<TBNSettings> instance = create();
    return *instance;
}

void TBNSettings::setLocationZoneSource(std::shared_ptr<LocationZoneSource> source) {
    std::lock_guard<std::mutex> g(zoneMutex_);
    zoneSource_ = std::move(source);
}

TBNSettings::Date TBNSettings::now() const {
    return options_.now ? options_.now() : std::chrono::system_clock::now();
}

// ---- folders --------------------------------------------------------------------------

fs::path TBNSettings::settingFolder() {
    return Paths::settingsFolder();
}
fs::path TBNSettings::oldSettingFolder() {
    return Paths::oldSettingsFolder();
}
fs::path TBNSettings::logsFolder() {
    return Paths::logsFolder();
}
fs::path TBNSettings::settingsFilePath() {
    return settingFolder() / kSettingsFileName;
}

// ---- value cache ----------------------------------------------------------------------

std::optional<std::any> TBNSettings::cacheLookup(const std::string& key) const {
    std::shared_lock<std::shared_mutex> g(cacheMutex_);
    auto it = cache_.find(key);
    if (it == cache_.end() || it->second.pendingUpdates > 0) return std::nullopt;
    return it->second.value;
}

void TBNSettings::cacheStore(const std::string& key, std::any value) {
    std::unique_lock<std::shared_mutex> g(cacheMutex_);
    auto& entry = cache_[key];
    // A change of this key is queued behind this read: the value is about to be old.
    if (entry.pendingUpdates > 0) return;
    entry.value = std::move(value);
}

void TBNSettings::cacheBeginUpdate(const std::string& key) {
    std::unique_lock<std::shared_mutex> g(cacheMutex_);
    auto& entry = cache_[key];
    ++entry.pendingUpdates;
    entry.value.reset();
}

void TBNSettings::cacheEndUpdate(const std::string& key) {
    std::unique_lock<std::shared_mutex> g(cacheMutex_);
    auto it = cache_.find(key);
    if (it == cache_.end()) return;
    if (it->second.pendingUpdates > 0) --it->second.pendingUpdates;
    it->second.value.reset();
    if (it->second.pendingUpdates == 0) cache_.erase(it);
}

void TBNSettings::cacheClear() {
    pongFlags_.store(kNoPongFlags);
    std::unique_lock<std::shared_mutex> g(cacheMutex_);
    for (auto it = cache_.begin(); it != cache_.end();) {
        it->second.value.reset();
        it = it->second.pendingUpdates == 0 ? cache_.erase(it) : std::next(it);
    }
}

// ---- updates ----------------------------------------------------------------------------

void TBNSettings::updateForCacheKey(const Text& key, UpdateBlock block) {
    std::vector<std::string> keys;
    if (key) keys.push_back(*key);
    updateForCacheKeys(std::move(keys), std::move(block));
}

std::optional<TBNSettingsComponents> TBNSettings::applyUpdate(const UpdateBlock& block) {
    if (!settings_) {
        TBN_LOG_WARN("settings", "a change before the settings were loaded is dropped");
        return std::nullopt;
    }
    // Dropped after the block: a pong flags word read inside it may be older than
    // what the block changes after that read.
    struct DropPongFlags {
        std::atomic<int64_t>& word;
        ~DropPongFlags() { word.store(kNoPongFlags); }
    } drop{pongFlags_};
    try {
        return block(*this);
    } catch (const std::exception& e) {
        // What the block changed before it threw is saved like any change.
        logException("settings update", e);
        return TBNSettingsComponents{0};
    }
}

void TBNSettings::updateForCacheKeys(std::vector<std::string> keys, UpdateBlock block,
                                     bool deferSave) {
    if (deferSave && keys.empty() && !rwQueue_->isCurrent()) {
        // A cache or counter change is a few map insertions. Queued, it would keep every
        // reader waiting until a worker woke up for it; it runs here instead, between the
        // readers, and its save (with the observers' notice) waits until the caller's
        // reply is out.
        std::optional<TBNSettingsComponents> components;
        rwQueue_->syncBarrier([&] { components = applyUpdate(block); });
        if (components) {
            afterReply(
                [self = shared_from_this(), mask = *components] { self->queueSave(mask, true); });
        }
        return;
    }
    for (const auto& k : keys) cacheBeginUpdate(k);
    queuedChanges_.fetch_add(1);
    rwQueue_->asyncBarrier(
        [self = shared_from_this(), keys = std::move(keys), block = std::move(block), deferSave] {
            const auto components = self->applyUpdate(block);
            self->queuedChanges_.fetch_sub(1);
            for (const auto& k : keys) self->cacheEndUpdate(k);
            if (components) self->queueSave(*components, deferSave);
        });
}

// ---- loading ------------------------------------------------------------------------------

void TBNSettings::resetRecords() {
    settings_ = std::make_shared<TBNOSXSettings>();
    encryptedSettings_ = std::make_shared<TBNOSXEncryptedSettings>();
    sessionSettings_ = std::make_shared<TBNOSXSessionSettings>();
}

void TBNSettings::loadBySettingsClass(const fs::path& fromFile) {
    rwQueue_->syncBarrier([&] {
        if (settings_) throw std::runtime_error("Settings are already loaded");
        loadLocked(fromFile);
    });
}

void TBNSettings::reloadBySettingsClass() {
    rwQueue_->syncBarrier([&] {
        if (!settings_) throw std::runtime_error("Settings are not loaded");
        fs::path path;
        {
            std::lock_guard<std::mutex> g(fileMutex_);
            path = filePath_;
            // Until a key opens the reloaded file's encrypted part, saves write that
            // part back as it is instead of sealing empty records under the old key.
            key_.reset();
        }
        loadLocked(path);
    });
}

void TBNSettings::loadLocked(const fs::path& path) {
    {
        std::lock_guard<std::mutex> g(fileMutex_);
        filePath_ = path;
        settingsBlob_ = TBNSettingsBlob();
    }
    resetRecords();
    cacheClear();
    loaded_.store(true, std::memory_order_release);
    if (int n = settingsfile::removeStaleTemporaries(path); n > 0) {
        TBN_LOG_INFO("settings", "removed {} temporary file(s) of an interrupted save", n);
    }
    std::error_code ec;
    if (fs::exists(path, ec)) {
        internalLoad();
    } else {
        startNewFile();
    }
}

void TBNSettings::startNewFile() {
    fs::path folder;
    {
        std::lock_guard<std::mutex> g(fileMutex_);
        folder = filePath_.parent_path();
    }
    if (!folder.empty()) {
        try {
            Paths::createPrivateFolder(folder);
        } catch (const std::exception& e) {
            TBN_LOG_ERROR("settings", "cannot create the settings folder {}: {}", folder.string(),
                          e.what());
        }
    }
    saveWithComponents(TBNSettingsComponentNone);
}

void TBNSettings::internalLoad() {
    fs::path path;
    {
        std::lock_guard<std::mutex> g(fileMutex_);
        path = filePath_;
    }
    try {
        Bytes data = settingsfile::readWholeFile(path);
        TBNSettingsBlob blob = readBlob(data);
        if (!blob.settings()) throw std::runtime_error("the file has no settings part");
        TBNEncryptedBlob plain;
        TBNCryptThrift::decryptObject(plain, *blob.settings(), plainPartKey());
        if (!plain.saltIsSet() || !plain.blob()) {
            throw std::runtime_error("the settings part holds no record");
        }
        auto fresh = std::make_shared<TBNOSXSettings>();
        TBNCryptThrift::getObject(*fresh, plain);
        settings_ = fresh;
        std::lock_guard<std::mutex> g(fileMutex_);
        settingsBlob_ = std::move(blob);
        return;
    } catch (const std::exception& e) {
        logException("reading the settings file", e);
    }
    // Keep the unreadable file for inspection or recovery and start a new one.
    resetRecords();
    if (auto moved = settingsfile::moveAside(path, now())) {
        TBN_LOG_ERROR("settings", "the unreadable settings file was moved to {}", moved->string());
        startNewFile();
    } else {
        // Neither readable nor movable: leave it alone. Saves are refused while the
        // file stays there (writeFileAtomically would replace it).
        TBN_LOG_ERROR("settings",
                      "the unreadable settings file {} could not be moved aside; it is left "
                      "as it is and the settings are not saved in this run",
                      path.string());
        std::lock_guard<std::mutex> g(fileMutex_);
        filePath_.clear();
    }
}

void TBNSettings::decryptEncryptedSettingsByKey(const Bytes& key) {
    if (key.size() != kKeySize) throw std::runtime_error("Invalid settings key");
    rwQueue_->syncBarrier([&] {
        if (!settings_) throw std::runtime_error("Settings are not loaded");
        std::optional<Bytes> part;
        {
            std::lock_guard<std::mutex> g(fileMutex_);
            part = settingsBlob_.encryptedSettings();
        }
        if (part) {
            TBNEncryptedBlob blob;
            TBNCryptThrift::decryptObject(blob, *part, key);
            if (!blob.saltIsSet() || !blob.blob()) throw std::runtime_error("Invalid settings key");
            auto fresh = std::make_shared<TBNOSXEncryptedSettings>();
            TBNCryptThrift::getObject(*fresh, blob);
            encryptedSettings_ = fresh;
            {
                std::lock_guard<std::mutex> g(fileMutex_);
                key_ = key;
            }
            cacheClear();
        } else {
            {
                std::lock_guard<std::mutex> g(fileMutex_);
                key_ = key;
            }
            saveWithComponents(TBNSettingsComponentNone);
        }
    });
}

void TBNSettings::changeEncryptedSettingsKey(const Bytes& key) {
    if (key.size() != kKeySize) throw std::runtime_error("Invalid settings key");
    rwQueue_->syncBarrier([&] {
        if (!settings_) throw std::runtime_error("Settings are not loaded");
        {
            std::lock_guard<std::mutex> g(fileMutex_);
            key_ = key;
        }
        saveWithComponents(TBNSettingsComponentNone);
    });
}

void TBNSettings::resetEncryptedSettings() {
    rwQueue_->syncBarrier([&] {
        if (!settings_) throw std::runtime_error("Settings are not loaded");
        {
            std::lock_guard<std::mutex> g(fileMutex_);
            settingsBlob_.unsetEncryptedSettings();
        }
        saveWithComponents(TBNSettingsComponentNone);
    });
}

bool TBNSettings::moveSettingsFileAside() {
    waitForPendingSaves();
    bool moved = false;
    rwQueue_->syncBarrier([&] {
        fs::path path = filePath();
        if (path.empty()) return;
        if (auto target = settingsfile::moveAside(path, now())) {
            TBN_LOG_WARN("settings", "settings file moved aside to {}", target->string());
            moved = true;
        }
    });
    return moved;
}

fs::path TBNSettings::filePath() const {
    std::lock_guard<std::mutex> g(fileMutex_);
    return filePath_;
}

std::optional<Bytes> TBNSettings::key() const {
    std::lock_guard<std::mutex> g(fileMutex_);
    return key_;
}

TBNSettingsBlob TBNSettings::settingsBlob() const {
    std::lock_guard<std::mutex> g(fileMutex_);
    return settingsBlob_;
}

// ---- saving -------------------------------------------------------------------------------

void TBNSettings::save() {
    saveWithComponents(TBNSettingsComponentNone);
}

void TBNSettings::saveWithComponents(TBNSettingsComponents components) {
    queueSave(components, false);
}

void TBNSettings::queueSave(TBNSettingsComponents components, bool deferred) {
    bool schedule = false;
    {
        std::lock_guard<std::mutex> g(saveMutex_);
        pendingMasks_.push_back(components);
        if (!deferred) urgentSavePending_ = true;
        schedule = !saveScheduled_;
        saveScheduled_ = true;
    }
    if (schedule) saveQueue_->async([self = shared_from_this()] { self->runSave(); });
}

void TBNSettings::waitForPendingSaves() {
    // Every change handed over so far has run (and queued its save) once this barrier
    // gets its turn; the save queue then finishes those saves, and writes what deferred
    // changes are still waiting, before the second call returns.
    rwQueue_->syncBarrier([] {});
    saveQueue_->sync([this] { flushDeferredSave(); });
}

void TBNSettings::runSave() {
    std::vector<TBNSettingsComponents> masks;
    bool urgent = false;
    bool armTimer = false;
    {
        std::lock_guard<std::mutex> g(saveMutex_);
        masks.swap(pendingMasks_);
        saveScheduled_ = false;
        urgent = urgentSavePending_;
        urgentSavePending_ = false;
        if (urgent) {
            // This write takes every deferred change along.
            deferredDirty_ = false;
        } else {
            deferredDirty_ = true;
            armTimer = !deferredTimerArmed_;
            deferredTimerArmed_ = true;
        }
    }
    if (urgent) writeFile();
    if (armTimer) {
        // On the store's clock, holding the store weakly: a clock that never reaches the
        // deadline (a test's) keeps nothing alive.
        const auto& clock = options_.clock;
        clock->callAt(clock->deadlineAfter(kDeferredSaveDelaySeconds), [weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self) return;
            self->saveQueue_->async([weak] {
                auto store = weak.lock();
                if (!store) return;
                {
                    std::lock_guard<std::mutex> g(store->saveMutex_);
                    store->deferredTimerArmed_ = false;
                }
                store->flushDeferredSave();
            });
        });
    }
    // Deferred changes are told at once: only their file write waits.
    notifyDelegates(masks);
}

void TBNSettings::flushDeferredSave() {
    bool dirty = false;
    {
        std::lock_guard<std::mutex> g(saveMutex_);
        dirty = deferredDirty_;
        deferredDirty_ = false;
    }
    if (dirty) writeFile();
}

void TBNSettings::writeFile() {
    bool written = false;
    std::string reason;
    try {
        // One snapshot of both records, taken after every change whose save this is.
        std::shared_ptr<TBNEncryptedBlob> plainBlob;
        std::shared_ptr<TBNEncryptedBlob> encryptedBlob;
        rwQueue_->sync([&] {
            if (!settings_) return;
            plainBlob = TBNCryptThrift::createBlobWithObject(*settings_);
            encryptedBlob = TBNCryptThrift::createBlobWithObject(*encryptedSettings_);
        });
        if (!plainBlob) return;  // nothing loaded, nothing to write
        Bytes fileBytes;
        fs::path path;
        {
            Bytes plainCipher = TBNCryptThrift::encryptObject(*plainBlob, plainPartKey());
            std::lock_guard<std::mutex> g(fileMutex_);
            if (plainCipher.empty()) {
                reason = "the settings could not be encrypted";
            } else {
                settingsBlob_.setSettings(std::move(plainCipher));
                // Without a key the encrypted part keeps what the file held.
                if (key_) {
                    Bytes cipher = TBNCryptThrift::encryptObject(*encryptedBlob, *key_);
                    if (!cipher.empty()) settingsBlob_.setEncryptedSettings(std::move(cipher));
                }
                fileBytes = writeBlob(settingsBlob_);
                path = filePath_;
                if (path.empty()) {
                    reason =
                        "an unreadable settings file that could not be moved aside is in "
                        "the way";
                }
            }
        }
        if (!fileBytes.empty() && !path.empty()) {
            std::error_code ec;
            const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
            if (fs::is_directory(folder, ec)) {
                settingsfile::writeFileAtomically(path, fileBytes, options_.syncWrites);
                fileWrites_.fetch_add(1, std::memory_order_relaxed);
                written = true;
            } else {
                reason = "the settings folder " + folder.string() + " is missing";
            }
        }
    } catch (const std::exception& e) {
        logException("saving the settings file", e);
        reason = e.what();
    }
    if (!written) {
        if (reason.empty()) reason = "unknown error";
        TBN_LOG_ERROR("settings", "the settings were not saved: {}", reason);
    }
    noteWriteOutcome(written, reason);
}

void TBNSettings::noteWriteOutcome(bool written, const std::string& reason) {
    std::optional<SaveHealth> tell;
    SaveHealthHandler handler;
    bool armRetry = false;
    {
        std::lock_guard<std::mutex> g(saveMutex_);
        if (written) {
            if (savesFailing_) tell = SaveHealth{true, {}};
            savesFailing_ = false;
            saveFailure_.clear();
        } else {
            if (!savesFailing_) tell = SaveHealth{false, reason};
            savesFailing_ = true;
            saveFailure_ = reason;
            armRetry = !retryArmed_;
            retryArmed_ = true;
        }
        if (tell) handler = saveHealthHandler_;
    }
    if (tell) {
        if (tell->saving) {
            TBN_LOG_INFO("settings", "the settings are saved again");
        } else {
            TBN_LOG_ERROR("settings", "saving the settings fails; retrying every {} s",
                          kSaveRetrySeconds);
        }
        if (handler) handler(*tell);
    }
    if (!armRetry) return;
    // The records are written again even when no change comes to start a save: the
    // last change before the failure must not wait for the next one.
    const auto& clock = options_.clock;
    clock->callAt(clock->deadlineAfter(kSaveRetrySeconds), [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->saveQueue_->async([weak] {
            auto store = weak.lock();
            if (!store) return;
            bool retry = false;
            {
                std::lock_guard<std::mutex> g(store->saveMutex_);
                store->retryArmed_ = false;
                retry = store->savesFailing_;
            }
            if (retry) store->writeFile();
        });
    });
}

void TBNSettings::setSaveHealthHandler(SaveHealthHandler handler) {
    std::optional<SaveHealth> current;
    {
        std::lock_guard<std::mutex> g(saveMutex_);
        saveHealthHandler_ = handler;
        if (savesFailing_) current = SaveHealth{false, saveFailure_};
    }
    if (current && handler) handler(*current);
}

bool TBNSettings::savesFailing() const {
    std::lock_guard<std::mutex> g(saveMutex_);
    return savesFailing_;
}

bool TBNSettings::updateSettingsDurably(UpdateBlock block, std::vector<std::string> cacheKeys) {
    std::optional<TBNSettingsComponents> components;
    for (const auto& k : cacheKeys) cacheBeginUpdate(k);
    rwQueue_->syncBarrier([&] { components = applyUpdate(block); });
    for (const auto& k : cacheKeys) cacheEndUpdate(k);
    if (!components) return false;
    // The save queued here runs before the block below (the queue is serial), and its
    // snapshot of the records is taken after the change above.
    queueSave(*components, false);
    bool written = false;
    saveQueue_->sync([&] {
        std::lock_guard<std::mutex> g(saveMutex_);
        written = !savesFailing_;
    });
    return written;
}

// ---- observers ------------------------------------------------------------------------------

void TBNSettings::addDelegate(const std::shared_ptr<TBNSettingsDelegate>& delegate) {
    if (!delegate) return;
    std::lock_guard<std::mutex> g(delegatesMutex_);
    std::erase_if(delegates_, [](const auto& w) { return w.expired(); });
    delegates_.push_back(delegate);
}

void TBNSettings::notifyDelegates(const std::vector<TBNSettingsComponents>& masks) {
    std::vector<std::shared_ptr<TBNSettingsDelegate>> live;
    {
        std::lock_guard<std::mutex> g(delegatesMutex_);
        std::erase_if(delegates_, [](const auto& w) { return w.expired(); });
        for (const auto& w : delegates_) {
            if (auto d = w.lock()) live.push_back(std::move(d));
        }
    }
    auto queue = DispatchQueue::global(DispatchQueue::Priority::High);
    for (TBNSettingsComponents mask : masks) {
        for (const auto& d : live) {
            queue->async(
                [self = shared_from_this(), d, mask] { d->settingsDidUpdated(*self, mask); });
        }
    }
}

}  // namespace lumvane
