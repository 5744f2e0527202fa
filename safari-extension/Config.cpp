#include "Config.h"

#include "SafariLog.h"
#include "crypto/TBNCryptAES.h"
#include "crypto/TBNKeyChainManager.h"
#include "runtime/AtomicFile.h"
#include "runtime/DispatchQueue.h"
#include "runtime/Paths.h"

namespace lumvane {

ConfigEnvironment ConfigEnvironment::system() {
    ConfigEnvironment env;
    env.applicationSupportDirectory = []() -> std::optional<std::string> {
        try {
            std::string dir = (Paths::settingsFolder() / "Safari").string();
            if (!ensurePrivateFolder(dir)) return std::nullopt;
            return dir;
        } catch (...) {
            return std::nullopt;
        }
    };
    env.settingsKey = []() -> std::optional<Bytes> {
        try {
            return TBNKeyChainManager::sharedManager().dataForKey(
                std::string(Config::kSettingsKeyItem));
        } catch (...) {
            return std::nullopt;
        }
    };
    return env;
}

Config::Config(ConfigEnvironment environment) : env_(std::move(environment)) {
    blockLockQueue_ = DispatchQueue::create("com.lumvane.safari.config.blockLockQueue");
    StoreConfig loaded = load();
    blockedSites_ = std::move(loaded.blockedSites.value);
    autoLogin_ = loaded.autoLogin.value;
    autoLogout_ = loaded.autoLogout.value;
    saveLockQueue_ = DispatchQueue::create("com.lumvane.safari.config.saveLockQueue");
}

Config::~Config() {
    flush();
}

std::string Config::siteKey(const SafariURL& url) {
    return siteDomainOfText(url.absoluteString).value_or("");
}

bool Config::isBlocked(const SafariURL& url) {
    return isBlockedKey(siteKey(url));
}
void Config::blockSite(const SafariURL& url) {
    addBlockedKey(siteKey(url));
}
void Config::unblockSite(const SafariURL& url) {
    removeBlockedKey(siteKey(url));
}

bool Config::isBlockedKey(const std::string& key) {
    return blockLockQueue_->sync([&] {
        std::lock_guard<std::mutex> lock(storeMutex_);
        if (blockedSites_.empty()) return false;
        return blockedSites_.count(key) != 0;
    });
}

void Config::addBlockedKey(const std::string& key) {
    blockLockQueue_->async([this, key] {
        {
            std::lock_guard<std::mutex> lock(storeMutex_);
            blockedSites_[key] = true;
        }
        save();
    });
}

void Config::removeBlockedKey(const std::string& key) {
    blockLockQueue_->async([this, key] {
        {
            std::lock_guard<std::mutex> lock(storeMutex_);
            blockedSites_.erase(key);
        }
        save();
    });
}

void Config::save() {
    saveLockQueue_->async([this] { writeFile(); });
}

StoreConfig Config::storeConfig() const {
    StoreConfig copy;
    copy.autoLogin.value = autoLogin_.load();
    copy.autoLogout.value = autoLogout_.load();
    std::lock_guard<std::mutex> lock(storeMutex_);
    copy.blockedSites.value = blockedSites_;
    return copy;
}

void Config::flush() {
    blockLockQueue_->sync([] {});
    saveLockQueue_->sync([] {});
}

std::optional<std::string> Config::configFilePath() {
    std::optional<std::string> dir;
    if (env_.applicationSupportDirectory) dir = env_.applicationSupportDirectory();
    if (!dir) return std::nullopt;
    SafariLog::print(*dir);
    return *dir + "/" + kFileName;
}

std::optional<Bytes> Config::settingsKey() {
    std::call_once(keyOnce_, [this] {
        if (env_.settingsKey) key_ = env_.settingsKey();
        if (key_ && key_->empty()) key_.reset();
    });
    return key_;
}

StoreConfig Config::load() {
    StoreConfig defaults;
    auto path = configFilePath();
    if (!path) return defaults;
    std::string bytes;
    if (!readWholeFile(*path, bytes)) return defaults;
    auto key = settingsKey();
    if (!key) return defaults;
    Bytes plain = TBNCryptAES::decryptData(
        ByteView(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), *key);
    auto parsed = nlohmann::json::parse(plain.begin(), plain.end(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return defaults;
    try {
        return StoreConfig::fromDictionary(parsed);
    } catch (const JSDecodingError&) {
        return defaults;
    }
}

void Config::writeFile() {
    auto dictionary = storeConfig().dictionary();
    if (!dictionary) return;
    std::string text;
    try {
        text = dictionary->dump();
    } catch (...) {
        return;
    }
    auto key = settingsKey();
    if (!key) return;
    Bytes cipher = TBNCryptAES::encryptData(
        ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size()), *key);
    // An empty ciphertext means the encryption failed; writing it would wipe the settings.
    if (cipher.empty()) return;
    auto path = configFilePath();
    if (!path) return;
    // Replaced atomically and kept private, so a crash never leaves a torn settings file.
    writeFileAtomically(
        *path, std::string_view(reinterpret_cast<const char*>(cipher.data()), cipher.size()), 0600);
}

}  // namespace lumvane
