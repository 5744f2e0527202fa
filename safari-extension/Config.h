#pragma once
// The extension's own settings: automatic login and logout switches and the blocked pages
// and sites. Read once from the encrypted file "config.ejson" when made, rewritten whole
// after every change. The file is AES-256-CBC (zero IV, PKCS#7) of the compact JSON text,
// with the settings key of the main application.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "JSCodable.h"
#include "SafariURL.h"
#include "runtime/Bytes.h"

namespace lumvane {

class DispatchQueue;

struct StoreConfig : JSCodable<StoreConfig> {
    static constexpr const char* kTypeName = "StoreConfig";
    JSRequired<bool> autoLogin;
    JSRequired<bool> autoLogout;
    JSRequired<std::map<std::string, bool>> blockedSites;
    template <class V>
    void visitFields(V& v) {
        v("autoLogin", autoLogin);
        v("autoLogout", autoLogout);
        v("blockedSites", blockedSites);
    }
};

// Where the settings live and how the key is found; tests supply their own.
struct ConfigEnvironment {
    // The application-support folder the file lives in; nothing when there is none.
    std::function<std::optional<std::string>()> applicationSupportDirectory;
    // The settings key; nothing when it cannot be read. Asked at most once per Config.
    std::function<std::optional<Bytes>()> settingsKey;

    // $XDG_DATA_HOME/Lumvane/Safari (made 0700 on first use) and the keychain item
    // "com.tobrin.lumvane.passcode".
    static ConfigEnvironment system();
};

class Config {
  public:
    static constexpr const char* kFileName = "config.ejson";
    static constexpr const char* kSettingsKeyItem = "com.tobrin.lumvane.passcode";

    explicit Config(ConfigEnvironment environment = ConfigEnvironment::system());
    ~Config();
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    bool isBlocked(const SafariURL& url);
    void blockSite(const SafariURL& url);
    void unblockSite(const SafariURL& url);
    // Synchronous on the block queue: sees every change requested before it.
    bool isBlockedKey(const std::string& key);
    // Queued on the block queue; each change is followed by one save.
    void addBlockedKey(const std::string& key);
    void removeBlockedKey(const std::string& key);
    // Queues a write of the settings as they are when the write runs.
    void save();

    bool autoLogin() const { return autoLogin_.load(); }
    bool autoLogout() const { return autoLogout_.load(); }
    void setAutoLogin(bool on) { autoLogin_.store(on); }
    void setAutoLogout(bool on) { autoLogout_.store(on); }

    // A consistent copy of the settings in memory.
    StoreConfig storeConfig() const;
    // Waits until every queued change and write has been done.
    void flush();

    // The site key of a URL: its site domain, "" when there is none.
    static std::string siteKey(const SafariURL& url);

  private:
    StoreConfig load();
    std::optional<std::string> configFilePath();
    std::optional<Bytes> settingsKey();
    void writeFile();

    ConfigEnvironment env_;
    std::shared_ptr<DispatchQueue> blockLockQueue_;
    mutable std::mutex storeMutex_;
    std::map<std::string, bool> blockedSites_;
    std::atomic<bool> autoLogin_{false};
    std::atomic<bool> autoLogout_{false};
    std::shared_ptr<DispatchQueue> saveLockQueue_;
    std::once_flag keyOnce_;
    std::optional<Bytes> key_;
};

}  // namespace lumvane
