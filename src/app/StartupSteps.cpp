#include "app/StartupSteps.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <set>
#include <system_error>
#include <thread>
#include <typeinfo>

#include "app/StartupNotices.h"
#include "core/service/TBNService.h"
#include "crypto/TBNCryptAES.h"
#include "crypto/TBNCryptHash.h"
#include "crypto/TBNKeyChainManager.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "runtime/TBNUtil.h"
#include "runtime/log/TBNLogHelper.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"

namespace lumvane {

namespace fs = std::filesystem;

namespace {

constexpr const char* kTags = "ui|app";

// The text after "KEY=" in /etc/os-release, without quotes.
std::string osReleaseValue(const std::string& key) {
    std::ifstream in("/etc/os-release");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) != 0) continue;
        std::string v = line.substr(key.size() + 1);
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
            v = v.substr(1, v.size() - 2);
        }
        return v;
    }
    return {};
}

// The files beside the settings file that hold an unreadable settings file moved aside
// ("<name>.unreadable-<time>[-n]"), left by the settings store or by loadSettings.
std::set<fs::path> movedAsideFiles(const fs::path& settingFile) {
    const std::string prefix = settingFile.filename().string() + ".unreadable-";
    std::set<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(settingFile.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().filename().string().rfind(prefix, 0) == 0) found.insert(it->path());
    }
    return found;
}

}  // namespace

std::vector<std::string> StartupSteps::installNativeMessagingManifests(
    TBNBrowserExtensionManager& manager) {
    using M = TBNBrowserExtensionManager;
    struct Browser {
        const char* name;
        bool (M::*installed)() const;
        bool (M::*write)();
    };
    // The order of the manager's own installNMManifests.
    static const Browser kBrowsers[] = {
        {"Chrome", &M::isChromeInstalled, &M::createChromeNativeMessageManifest},
        {"Firefox", &M::isFirefoxInstalled, &M::createFireFoxNativeMessageManifest},
        {"Edge", &M::isEdgeInstalled, &M::createEdgeNativeMessageManifest},
        {"Brave", &M::isBraveInstalled, &M::createBraveNativeMessageManifest},
        {"Opera", &M::isOperaInstalled, &M::createOperaNativeMessageManifest},
        {"Vivaldi", &M::isVivaldiInstalled, &M::createVivaldiNativeMessageManifest},
        {"Chromium", &M::isChromiumInstalled, &M::createChromiumNativeMessageManifest},
    };
    std::vector<std::string> registered;
    for (const Browser& browser : kBrowsers) {
        if (!(manager.*browser.installed)()) continue;
        if ((manager.*browser.write)()) registered.emplace_back(browser.name);
    }
    return registered;
}

std::string StartupSteps::manifestsText(const std::vector<std::string>& browsers) {
    if (browsers.empty()) {
        return "no supported browser found (Chrome, Chromium, Firefox, Edge, Brave, Opera, "
               "Vivaldi); no browser can start the native-messaging host yet";
    }
    std::string names;
    for (const auto& name : browsers) names += (names.empty() ? "" : ", ") + name;
    return "native-messaging host registered with " + names;
}

std::string StartupSteps::movedAsideText(const fs::path& movedTo) {
    return "the settings file could not be read and was moved aside to " + movedTo.string() +
           "; the paired phone and the approved browser extensions are lost: pair the phone "
           "again";
}

bool StartupSteps::moveOldSettingsFile(const fs::path& settingFile,
                                       const fs::path& oldSettingFile) {
    std::error_code ec;
    if (fs::exists(settingFile, ec) || !fs::exists(oldSettingFile, ec)) return false;
    fs::create_directories(settingFile.parent_path(), ec);
    fs::rename(oldSettingFile, settingFile, ec);
    if (ec) {
        TBN_LOG_ERROR(kTags, "move old settings file - error: {}", ec.message());
        return false;
    }
    TBN_LOG_INFO(kTags, "moved the settings file of the old settings folder");
    return true;
}

Bytes StartupSteps::settingsKey(TBNKeyChainManager& keychain, const fs::path& settingFile) {
    Bytes key;
    try {
        key = keychain.dataForKey(std::string(kSettingsKeyItem));
    } catch (const TBNKeyChainItemNotFoundException& e) {
        // The first start: no key yet, one is made below.
        TBN_LOG_INFO(kTags, "get hashMasterPassword - error: {}", e.what());
        key.clear();
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTags, "get hashMasterPassword - error: {}", e.what());
        std::error_code ec;
        if (!settingFile.empty() && fs::exists(settingFile, ec)) {
            // A locked or unreachable keychain is not a missing key: a fresh key would
            // not open the file, which would then be moved aside with the paired phone.
            throw StartupStopped(notice::keychainUnreadableText(e.what(), settingFile.string()));
        }
        key.clear();
    }
    if (!key.empty() && key.size() != kSettingsKeySize) {
        // Nothing could be opened with it; a fresh key at least lets the settings be
        // saved again (the file the old key sealed is moved aside, not lost).
        TBN_LOG_ERROR(kTags, "get hashMasterPassword - error: stored key has {} bytes", key.size());
        key.clear();
    }
    if (!key.empty()) return key;

    key = TBNCryptAES::generateKey();
    try {
        keychain.removeObjectForKey(std::string(kSettingsKeyItem));
        keychain.setData(key, std::string(kSettingsKeyItem));
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTags, "set hashMasterPassword - error: {}", e.what());
        // Settings saved under a key kept in memory alone are lost at the next start,
        // which finds no key: better to stop before anything is written.
        throw StartupStopped(notice::keyNotStoredText(e.what()));
    }
    return key;
}

int StartupSteps::loadSettings(TBNSettings& settings, const fs::path& settingFile,
                               const Bytes& key) {
    try {
        settings.loadBySettingsClass(settingFile);
        settings.decryptEncryptedSettingsByKey(key);
        return 1;
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTags, "decrypt settings by hashMasterPassword - error: {}", e.what());
    }
    try {
        settings.reloadBySettingsClass();
        settings.decryptEncryptedSettingsByKey(
            TBNCryptHash::sha256FromString(std::string(kOldSettingsKeyPhrase)));
        settings.changeEncryptedSettingsKey(key);
        return 2;
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTags, "decrypt settings by old passcode - error: {}", e.what());
    }
    try {
        // Neither key opens the file: keep it aside for the user instead of deleting
        // the paired phone and every other setting for good.
        if (!settings.moveSettingsFileAside()) {
            std::error_code ec;
            if (fs::exists(settingFile, ec)) {
                TBN_LOG_ERROR(kTags, "settings file could not be moved aside; left in place");
            }
        }
        settings.reloadBySettingsClass();
        settings.decryptEncryptedSettingsByKey(key);
        return 3;
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTags, "create settings with hashMasterPassword - error: {}", e.what());
    }
    return 0;
}

std::optional<std::pair<std::string, std::string>> StartupSteps::approveExtensionCredentials(
    TBNKeyChainManager& keychain, TBNSettings& settings) {
    std::optional<std::string> text;
    bool readable = true;
    try {
        text = keychain.stringForKey(std::string(kExtensionCredentialsItem));
        if (!text) {
            // An item that is there but is not text: nobody can use it, and we do not
            // overwrite what we cannot read.
            readable = false;
            TBN_LOG_ERROR(kTags, "get safari auth - error: item is not text");
        }
    } catch (const TBNKeyChainItemNotFoundException& e) {
        // The first start: a pair is made below.
        TBN_LOG_INFO(kTags, "get safari auth - error: {}", e.what());
        text.reset();
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTags, "get safari auth - error: {}", e.what());
        text.reset();
    }
    if (!readable) return std::nullopt;

    if (text && !text->empty()) {
        const auto colon = text->find(':');
        if (colon == std::string::npos || text->find(':', colon + 1) != std::string::npos) {
            TBN_LOG_ERROR(kTags, "safari auth item does not hold one client; nothing approved");
            return std::nullopt;
        }
        std::string clientId = text->substr(0, colon);
        std::string secret = text->substr(colon + 1);
        if (clientId.empty() || secret.empty()) {
            // An empty secret would approve a client that proves nothing.
            TBN_LOG_ERROR(kTags, "safari auth item has an empty part; nothing approved");
            return std::nullopt;
        }
        settings.approveExtForClientId(clientId, secret);
        TBN_LOG_INFO(kTags, "approved the extension client {}", clientId);
        return std::make_pair(std::move(clientId), std::move(secret));
    }

    std::string clientId = TBNUtil::generateId();
    std::string secret = TBNUtil::generateId();
    settings.approveExtForClientId(clientId, secret);
    try {
        keychain.removeObjectForKey(std::string(kExtensionCredentialsItem));
        keychain.setString(clientId + ":" + secret, std::string(kExtensionCredentialsItem));
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTags, "set safari auth - error: {}", e.what());
    }
    TBN_LOG_INFO(kTags, "approved the new extension client {}", clientId);
    return std::make_pair(std::move(clientId), std::move(secret));
}

bool StartupSteps::updateSettings(TBNSettings& settings) {
    TBN_LOG_INFO_BEGIN(kTags);
    settings.upgrade();
    // There is no favicon cache in this build; the check stays so the start-up reports it.
    const bool oldVersion = settings.appVersionCode() < TBNUtil::versionCode(kFaviconCacheVersion);
    if (oldVersion) TBN_LOG_INFO(kTags, "settings of a version below {}", kFaviconCacheVersion);
    TBN_LOG_INFO_END(kTags);
    return oldVersion;
}

void StartupSteps::applyLogLevel(TBNSettings& settings, TBNLogFilter* filter,
                                 TBNLogFormatter* formatter) {
    int32_t level = settings.loggingLevel();
    if (level >= 0 && level <= 2) {
        if (level != 0) settings.setLoggingLevel(0);
        level = 0;
    }
    if (filter && formatter) {
        TBNLogHelper::applyLoggingLevel(level, *filter, *formatter);
    } else if (auto mask = TBNLogHelper::maxLevelForLoggingLevel(level)) {
        TBNLogger::setMaxLevel(*mask);
    }
}

StartupSteps::Result StartupSteps::runServiceSideSteps(
    TBNKeyChainManager& keychain, TBNSettings& settings, const fs::path& settingFile,
    const fs::path& oldSettingFile, TBNLogFilter* filter, TBNLogFormatter* formatter) {
    Result result;
    try {
        moveOldSettingsFile(settingFile, oldSettingFile);
        const Bytes key = settingsKey(keychain, settingFile);
        const std::set<fs::path> before = movedAsideFiles(settingFile);
        result.settingsAttempt = loadSettings(settings, settingFile, key);
        for (const auto& file : movedAsideFiles(settingFile)) {
            if (!before.count(file)) result.settingsMovedAside = file;
        }
        result.extensionCredentials = approveExtensionCredentials(keychain, settings);
        if (auto use = keychain.store()->fallbackUse()) {
            result.keychainNotice = notice::keyInFileText(
                use->folder.string(),
                use->refused
                    ? std::optional<std::string>(TBNKeyChainManager::statusText(*use->refused))
                    : std::nullopt);
        }
        updateSettings(settings);
        applyLogLevel(settings, filter, formatter);
        result.completed = true;
    } catch (const StartupStopped& e) {
        TBN_LOG_ERROR(kTags, "start-up stopped: {}", e.what());
        result.stopped = e.what();
    } catch (const std::exception& e) {
        TBN_LOG_ERROR(kTags, "exception = '{}'", e.what());
    }
    return result;
}

std::optional<std::string> StartupSteps::runInExceptionScope(const std::function<void()>& steps) {
    try {
        steps();
        return std::nullopt;
    } catch (const std::exception& e) {
        // A C++ exception carries no call stack: its type stands in for it.
        TBN_LOG_ERROR(kTags, "exception = '{}' ({}); the remaining start-up steps are skipped",
                      e.what(), typeid(e).name());
        return std::string(e.what());
    } catch (...) {
        TBN_LOG_ERROR(kTags, "exception = 'unknown'; the remaining start-up steps are skipped");
        return std::string("unknown exception");
    }
}

void StartupSteps::stashSystemInfoToLog() {
    const std::string line(140, '-');
    struct utsname u {};
    std::string machine = "unknown";
    if (uname(&u) == 0) machine = std::string(u.machine) + ", " + u.nodename;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    const double memory =
        pages > 0 && pageSize > 0 ? double(pages) * double(pageSize) / (1024.0 * 1024 * 1024) : 0;
    std::string os = osReleaseValue("PRETTY_NAME");
    if (os.empty()) os = "Linux";
    TBN_LOG_INFO("", "{}", line);
    TBN_LOG_INFO("", "device:    {}", machine);
    TBN_LOG_INFO("", "memory:    {:.0f} Gb", memory);
    TBN_LOG_INFO("", "os:        {} - {}", os, uname(&u) == 0 ? u.release : "");
    TBN_LOG_INFO("", "{}", line);
    TBN_LOG_INFO("", "");
}

void StartupSteps::stopService(const std::shared_ptr<TBNService>& service, TBNSettings& settings,
                               std::chrono::milliseconds grace) {
    auto stopped = std::make_shared<std::promise<void>>();
    auto stoppedFuture = stopped->get_future();
    std::thread([service, stopped] {
        service->stopPair();
        service->stop();
        stopped->set_value();
    }).detach();
    if (stoppedFuture.wait_for(grace) != std::future_status::ready) {
        TBN_LOG_WARN(kTags, "requests still waiting for the phone are dropped");
    }
    settings.waitForPendingSaves();
    TBNLogHelper::flushLog();
}

}  // namespace lumvane
