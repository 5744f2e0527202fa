#pragma once
// The steps of the program's start-up that bring the service side up: the settings
// key, the settings file, the extension credentials, the upgrade and the log level.
// The headless mode runs them on their own; the status-item application runs them
// between the logging set-up and the creation of its windows.
//
// Every step logs its failures under "ui|app" and carries on, except where going on
// would lose the settings: a settings key that nothing can store, or a keychain that
// cannot be read while a settings file sealed under its key exists, stops the start
// (StartupStopped) before a settings file is written. Nothing a step cannot open is
// ever deleted: an unreadable settings file is moved aside.
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "runtime/Bytes.h"

namespace lumvane {

class TBNKeyChainManager;
class TBNSettings;
class TBNLogFilter;
class TBNLogFormatter;
class TBNBrowserExtensionManager;
class TBNService;

// A start that must not go on; what() is the sentence for the user.
class StartupStopped : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class StartupSteps {
  public:
    // Keychain item holding the 32-byte AES key of the settings file's encrypted part.
    static constexpr const char* kSettingsKeyItem = "com.tobrin.lumvane.passcode";
    // Keychain item holding "<client id>:<client secret>" of the Safari extension.
    static constexpr const char* kExtensionCredentialsItem = "com.tobrin.lumvane.safariauth";
    // Older versions sealed the encrypted part with the digest of this phrase.
    static constexpr const char* kOldSettingsKeyPhrase = "wrb.fendlox.garimu.net";
    // Stored versions below this one had a favicon cache that must be cleared.
    static constexpr const char* kFaviconCacheVersion = "0.8.4.3";
    static constexpr size_t kSettingsKeySize = 32;

    // Moves a settings file left in the old folder to the new path when none is there
    // yet; a failed move is logged and ignored. True when it was moved.
    static bool moveOldSettingsFile(const std::filesystem::path& settingFile,
                                    const std::filesystem::path& oldSettingFile);

    // The settings key from the keychain. A missing item, or one that is empty or not
    // a key of 32 bytes, is replaced by a fresh key, which is stored before it is
    // returned: nothing may be saved under a key the next start cannot find. Throws
    // StartupStopped when the fresh key cannot be stored, and when the keychain cannot
    // be read at all while `settingFile` exists (a fresh key would not open it).
    static Bytes settingsKey(TBNKeyChainManager& keychain,
                             const std::filesystem::path& settingFile = {});

    // Loads the settings file and opens its encrypted part: with the key; else with the
    // old fixed key, re-sealing the file under the key; else the file is moved aside
    // and new settings are started under the key. Returns the attempt that worked
    // (1, 2 or 3), 0 when none did.
    static int loadSettings(TBNSettings& settings, const std::filesystem::path& settingFile,
                            const Bytes& key);

    // Reads the extension credentials and approves them as an extension client; makes,
    // approves and stores a fresh pair when the item is missing or empty. An item that
    // does not hold exactly one ":" between two non-empty parts approves nothing and
    // is left as it is. Returns the approved pair.
    static std::optional<std::pair<std::string, std::string>> approveExtensionCredentials(
        TBNKeyChainManager& keychain, TBNSettings& settings);

    // Upgrades the settings (defaults, migrations) and says whether the stored version
    // was old enough for the favicon cache to be cleared.
    static bool updateSettings(TBNSettings& settings);

    // Applies the stored log level to the logger and to the file log's filter and
    // formatter (when given). Values 1 and 2 are stored back as 0.
    static void applyLogLevel(TBNSettings& settings, TBNLogFilter* filter,
                              TBNLogFormatter* formatter);

    // All of the above in order, inside one exception scope: an exception that
    // escapes a step is logged and the remaining steps are skipped. True when every
    // step ran.
    struct Result {
        bool completed = false;
        int settingsAttempt = 0;
        std::optional<std::pair<std::string, std::string>> extensionCredentials;
        // Where an unreadable settings file was moved (attempt 3): the paired phone and
        // the approvals are gone, which the user must be told.
        std::optional<std::filesystem::path> settingsMovedAside;
        // Why the start stopped before the settings were touched (StartupStopped).
        std::optional<std::string> stopped;
        // The keychain keeps its items in the fallback file (keyInFileText).
        std::optional<std::string> keychainNotice;
    };
    static Result runServiceSideSteps(TBNKeyChainManager& keychain, TBNSettings& settings,
                                      const std::filesystem::path& settingFile,
                                      const std::filesystem::path& oldSettingFile,
                                      TBNLogFilter* filter, TBNLogFormatter* formatter);

    // Runs the start-up steps after the service side (the application's objects, the
    // service or the wizard, the status item, the update checks) in one exception scope:
    // an exception that escapes them is logged and the steps after it are skipped; the
    // start goes on with the manifests. Nothing when every step ran, else what was thrown.
    static std::optional<std::string> runInExceptionScope(const std::function<void()>& steps);

    // Writes the native-messaging manifest of every installed browser, so that the
    // browser can start this program as its host. Returns the names of the browsers it
    // registered with, in the order written.
    static std::vector<std::string> installNativeMessagingManifests(
        TBNBrowserExtensionManager& manager);
    // The line that tells the user which browsers these are.
    static std::string manifestsText(const std::vector<std::string>& browsers);

    // The sentence that tells the user the settings file was moved aside.
    static std::string movedAsideText(const std::filesystem::path& movedTo);

    // The system-information block at the head of every log file.
    static void stashSystemInfoToLog();

    // The end of a run: stops the pairing, the phone link and the servers, waiting at
    // most `grace` for requests blocked on the phone (nothing is saved at quit, so they
    // are dropped after that), then writes the settings changes still pending and
    // flushes the log.
    static void stopService(const std::shared_ptr<TBNService>& service, TBNSettings& settings,
                            std::chrono::milliseconds grace);
};

}  // namespace lumvane
