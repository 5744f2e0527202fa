#include "extension/browser/TBNBrowserExtensionManager.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "runtime/AtomicFile.h"
#include "extension/browser/ChildProcess.h"
#include "runtime/log/TBNLogger.h"

namespace fs = std::filesystem;

namespace lumvane {
namespace {

constexpr const char* kLogTag = "core|browser";

// Where each browser's folder lives: under the configuration home (Chromium family) or
// directly under the home folder (Firefox).
enum class FolderRoot { None, ConfigHome, Home };

struct BrowserEntry {
    TBNBrowser browser;
    const char* applicationName;   // the name callers ask isExistApplication for
    const char* bundleIdentifier;  // the browser's application identifier
    std::vector<const char*> executables;
    std::vector<const char*> desktopFiles;
    FolderRoot root;
    const char* manifestFolder;
};

const std::vector<BrowserEntry>& browserTable() {
    static const std::vector<BrowserEntry> table = {
        {TBNBrowser::Safari, "Safari", "com.apple.Safari", {}, {}, FolderRoot::None, ""},
        {TBNBrowser::Chrome,
         "Google Chrome",
         "com.google.chrome",
         {"google-chrome", "google-chrome-stable"},
         {"google-chrome.desktop"},
         FolderRoot::ConfigHome,
         "google-chrome/NativeMessagingHosts"},
        {TBNBrowser::Chromium,
         "Chromium",
         "org.chromium.Chromium",
         {"chromium", "chromium-browser"},
         {"chromium.desktop", "chromium-browser.desktop"},
         FolderRoot::ConfigHome,
         "chromium/NativeMessagingHosts"},
        {TBNBrowser::Edge,
         "Microsoft Edge",
         "com.microsoft.edgemac",
         {"microsoft-edge", "microsoft-edge-stable"},
         {"microsoft-edge.desktop"},
         FolderRoot::ConfigHome,
         "microsoft-edge/NativeMessagingHosts"},
        {TBNBrowser::Firefox,
         "Firefox",
         "org.mozilla.firefox",
         {"firefox", "firefox-esr"},
         {"firefox.desktop", "firefox-esr.desktop"},
         FolderRoot::Home,
         ".mozilla/native-messaging-hosts"},
        {TBNBrowser::Opera,
         "Opera",
         "com.operasoftware.Opera",
         {"opera"},
         {"opera.desktop"},
         FolderRoot::ConfigHome,
         "opera/NativeMessagingHosts"},
        {TBNBrowser::Brave,
         "Brave Browser",
         "com.brave.Browser",
         {"brave-browser", "brave"},
         {"brave-browser.desktop"},
         FolderRoot::ConfigHome,
         "BraveSoftware/Brave-Browser/NativeMessagingHosts"},
        {TBNBrowser::Vivaldi,
         "Vivaldi",
         "com.vivaldi.Vivaldi",
         {"vivaldi", "vivaldi-stable"},
         {"vivaldi-stable.desktop", "vivaldi.desktop"},
         FolderRoot::ConfigHome,
         "vivaldi/NativeMessagingHosts"},
    };
    return table;
}

const BrowserEntry& entryFor(TBNBrowser browser) {
    for (const auto& entry : browserTable()) {
        if (entry.browser == browser) return entry;
    }
    throw std::logic_error("unknown browser");
}

const BrowserEntry* entryNamed(const std::string& applicationName) {
    for (const auto& entry : browserTable()) {
        if (applicationName == entry.applicationName) return &entry;
    }
    return nullptr;
}

// Store pages of the published extensions.
constexpr const char* kDefaultChromeRemoteURL =
    "https://chromewebstore.google.com/detail/lumvane/hbkpmgaejdkmnlhcckpgbnmcfmkhnajb";
constexpr const char* kDefaultFirefoxRemoteURL =
    "https://addons.mozilla.org/firefox/addon/lumvane/";

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(':', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

bool isExecutableFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && access(path.c_str(), X_OK) == 0;
}

std::string runningExecutable() {
    // Inside an AppImage /proc/self/exe points into a mount that is gone after exit;
    // browsers must start the image file itself.
    std::string appImage = environmentValue("APPIMAGE");
    if (!appImage.empty() && appImage.front() == '/') return appImage;
    std::error_code error;
    fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

std::mutex& sharedLock() {
    static std::mutex lock;
    return lock;
}
std::unique_ptr<BrowserIntegrationOptions>& sharedOptions() {
    static std::unique_ptr<BrowserIntegrationOptions> options;
    return options;
}
bool& sharedCreated() {
    static bool created = false;
    return created;
}

}  // namespace

BrowserEnvironment BrowserEnvironment::fromProcess() {
    BrowserEnvironment environment;
    environment.home = environmentValue("HOME");
    environment.configHome = environmentValue("XDG_CONFIG_HOME");
    if (environment.configHome.empty()) environment.configHome = environment.home + "/.config";
    environment.dataHome = environmentValue("XDG_DATA_HOME");
    if (environment.dataHome.empty()) environment.dataHome = environment.home + "/.local/share";
    environment.dataDirs = splitList(environmentValue("XDG_DATA_DIRS"));
    if (environment.dataDirs.empty()) environment.dataDirs = {"/usr/local/share", "/usr/share"};
    environment.searchPath = splitList(environmentValue("PATH"));
    return environment;
}

BrowserEnvironment BrowserEnvironment::underHome(const std::string& home) {
    BrowserEnvironment environment;
    environment.home = home;
    environment.configHome = home + "/.config";
    environment.dataHome = home + "/.local/share";
    return environment;
}

const std::vector<std::string>& TBNBrowserExtensionManager::chromiumExtensionOrigins() {
    // Chrome Web Store, Edge Add-ons, Opera Add-ons, and the Chrome Web Store beta channel.
    static const std::vector<std::string> origins = {
        "chrome-extension://hbkpmgaejdkmnlhcckpgbnmcfmkhnajb/",
        "chrome-extension://ofdlmncfmjbkacmhgbhnphjmdgejjmkc/",
        "chrome-extension://kdpmbjhgnkoceggdlfhjpajckmogfjnc/",
        "chrome-extension://gmiaopkncbfjhejlbdnhbcnkelnmdpmi/",
    };
    return origins;
}

const std::string& TBNBrowserExtensionManager::firefoxExtensionIdentifier() {
    static const std::string identifier = "lumvane@lumvane.io";
    return identifier;
}

TBNBrowserExtensionManager& TBNBrowserExtensionManager::sharedManager() {
    static TBNBrowserExtensionManager* manager = [] {
        std::lock_guard<std::mutex> guard(sharedLock());
        sharedCreated() = true;
        auto& options = sharedOptions();
        return new TBNBrowserExtensionManager(options ? std::move(*options)
                                                      : BrowserIntegrationOptions{});
    }();
    return *manager;
}

void TBNBrowserExtensionManager::configureSharedManager(BrowserIntegrationOptions options) {
    std::lock_guard<std::mutex> guard(sharedLock());
    if (sharedCreated()) {
        throw std::logic_error("The browser extension manager is already in use");
    }
    sharedOptions() = std::make_unique<BrowserIntegrationOptions>(std::move(options));
}

TBNBrowserExtensionManager::TBNBrowserExtensionManager(BrowserIntegrationOptions options)
    : options_(std::move(options)),
      chromeRemoteURL_(options_.chromeRemoteURL.empty() ? kDefaultChromeRemoteURL
                                                        : options_.chromeRemoteURL),
      firefoxRemoteURL_(options_.firefoxRemoteURL.empty() ? kDefaultFirefoxRemoteURL
                                                          : options_.firefoxRemoteURL) {}

// --- Browsers ---

bool TBNBrowserExtensionManager::isSafariInstalled() const {
    return isExistApplication("Safari");
}
bool TBNBrowserExtensionManager::isChromeInstalled() const {
    return isExistApplication("Google Chrome");
}
bool TBNBrowserExtensionManager::isChromiumInstalled() const {
    return isExistApplication("Chromium");
}
bool TBNBrowserExtensionManager::isEdgeInstalled() const {
    return isExistApplication("Microsoft Edge");
}
bool TBNBrowserExtensionManager::isFirefoxInstalled() const {
    return isExistApplication("Firefox");
}
bool TBNBrowserExtensionManager::isOperaInstalled() const {
    return isExistApplication("Opera");
}
bool TBNBrowserExtensionManager::isBraveInstalled() const {
    return isExistApplication("Brave Browser");
}
bool TBNBrowserExtensionManager::isVivaldiInstalled() const {
    return isExistApplication("Vivaldi");
}

bool TBNBrowserExtensionManager::isExistApplication(const std::string& applicationName) const {
    const BrowserEntry* entry = entryNamed(applicationName);
    if (!entry) return false;
    BrowserLaunch launch = browserLaunch(entry->browser);
    return !launch.executable.empty() || !launch.desktopFile.empty();
}

BrowserLaunch TBNBrowserExtensionManager::browserLaunch(TBNBrowser browser) const {
    const BrowserEntry& entry = entryFor(browser);
    const BrowserEnvironment& environment = options_.environment;
    BrowserLaunch launch;
    launch.browser = browser;
    launch.bundleIdentifier = entry.bundleIdentifier;
    for (const char* name : entry.executables) {
        for (const auto& folder : environment.searchPath) {
            fs::path candidate = fs::path(folder) / name;
            if (candidate.is_absolute() && isExecutableFile(candidate)) {
                launch.executable = candidate.string();
                break;
            }
        }
        if (!launch.executable.empty()) break;
    }
    // The user's own applications folder first, then the system's.
    std::vector<std::string> applicationFolders;
    if (!environment.dataHome.empty()) applicationFolders.push_back(environment.dataHome);
    applicationFolders.insert(applicationFolders.end(), environment.dataDirs.begin(),
                              environment.dataDirs.end());
    for (const char* name : entry.desktopFiles) {
        for (const auto& folder : applicationFolders) {
            fs::path candidate = fs::path(folder) / "applications" / name;
            std::error_code error;
            if (fs::exists(candidate, error)) {
                launch.desktopFile = candidate.string();
                break;
            }
        }
        if (!launch.desktopFile.empty()) break;
    }
    return launch;
}

// --- Manifests ---

void TBNBrowserExtensionManager::installNMManifests() {
    if (isChromeInstalled()) createChromeNativeMessageManifest();
    if (isFirefoxInstalled()) createFireFoxNativeMessageManifest();
    if (isEdgeInstalled()) createEdgeNativeMessageManifest();
    if (isBraveInstalled()) createBraveNativeMessageManifest();
    if (isOperaInstalled()) createOperaNativeMessageManifest();
    if (isVivaldiInstalled()) createVivaldiNativeMessageManifest();
    if (isChromiumInstalled()) createChromiumNativeMessageManifest();
}

std::string TBNBrowserExtensionManager::manifestFolder(TBNBrowser browser) const {
    const BrowserEntry& entry = entryFor(browser);
    switch (entry.root) {
        case FolderRoot::ConfigHome:
            return (fs::path(options_.environment.configHome) / entry.manifestFolder).string();
        case FolderRoot::Home:
            return (fs::path(options_.environment.home) / entry.manifestFolder).string();
        case FolderRoot::None:
            break;
    }
    return {};
}

bool TBNBrowserExtensionManager::createChromeNativeMessageManifest() {
    return createNativeMessageManifestToAppFolder(manifestFolder(TBNBrowser::Chrome));
}
bool TBNBrowserExtensionManager::createChromiumNativeMessageManifest() {
    return createNativeMessageManifestToAppFolder(manifestFolder(TBNBrowser::Chromium));
}
bool TBNBrowserExtensionManager::createEdgeNativeMessageManifest() {
    return createNativeMessageManifestToAppFolder(manifestFolder(TBNBrowser::Edge));
}
bool TBNBrowserExtensionManager::createVivaldiNativeMessageManifest() {
    return createNativeMessageManifestToAppFolder(manifestFolder(TBNBrowser::Vivaldi));
}

// Opera and Brave read their own folders on Linux. They also get a copy in Chrome's
// folder when Chrome has one, as older builds of both looked there.
bool TBNBrowserExtensionManager::createOperaNativeMessageManifest() {
    bool written = createNativeMessageManifestToAppFolder(manifestFolder(TBNBrowser::Opera));
    std::error_code error;
    std::string chromeFolder = manifestFolder(TBNBrowser::Chrome);
    if (fs::is_directory(fs::path(chromeFolder).parent_path(), error)) {
        createChromeNativeMessageManifest();
    }
    return written;
}
bool TBNBrowserExtensionManager::createBraveNativeMessageManifest() {
    bool written = createNativeMessageManifestToAppFolder(manifestFolder(TBNBrowser::Brave));
    std::error_code error;
    std::string chromeFolder = manifestFolder(TBNBrowser::Chrome);
    if (fs::is_directory(fs::path(chromeFolder).parent_path(), error)) {
        createChromeNativeMessageManifest();
    }
    return written;
}

bool TBNBrowserExtensionManager::createFireFoxNativeMessageManifest() {
    return createManifestWithKey("allowed_extensions",
                                 nlohmann::json::array({firefoxExtensionIdentifier()}),
                                 manifestFolder(TBNBrowser::Firefox));
}

bool TBNBrowserExtensionManager::createNativeMessageManifestToAppFolder(const std::string& folder) {
    return createManifestWithKey("allowed_origins", nlohmann::json(chromiumExtensionOrigins()),
                                 folder);
}

nlohmann::json TBNBrowserExtensionManager::manifestWithKey(const std::string& key,
                                                           const nlohmann::json& value) const {
    nlohmann::json manifest = nlohmann::json::object();
    manifest["name"] = kNativeMessagingHostName;
    manifest["description"] = "Lumvane";
    manifest["path"] = nativeMessagingHostPath();
    manifest["type"] = "stdio";
    manifest[key] = value;
    return manifest;
}

bool TBNBrowserExtensionManager::createManifestWithKey(const std::string& key,
                                                       const nlohmann::json& value,
                                                       const std::string& folder) {
    std::string target = resolveFolder(folder);
    nlohmann::json manifest = manifestWithKey(key, value);
    if (manifest["path"].get<std::string>().empty()) {
        TBN_LOG_ERROR(kLogTag, "no path of the host program; no manifest written into {}", target);
        return false;
    }
    // Browsers do not make this folder themselves; without it they never find the host.
    std::error_code error;
    if (!fs::is_directory(target, error)) {
        fs::create_directories(target, error);
        if (error) {
            TBN_LOG_ERROR(kLogTag, "cannot create {}: {}", target, error.message());
            return false;
        }
        chmod(target.c_str(), 0700);
    }
    // Pretty-printed, UTF-8; the JSON writer never escapes "/".
    std::string text = manifest.dump(4) + "\n";
    std::string path = (fs::path(target) / kManifestFileName).string();
    if (!writeFileAtomically(path, text, 0644)) {
        TBN_LOG_ERROR(kLogTag, "cannot write the native-messaging manifest {}", path);
        return false;
    }
    TBN_LOG_INFO(kLogTag, "native-messaging manifest written: {}", path);
    return true;
}

std::string TBNBrowserExtensionManager::nativeMessagingHostPath() const {
    std::string path =
        options_.executablePath.empty() ? runningExecutable() : options_.executablePath;
    if (path.empty()) return {};
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    if (error) return {};
    fs::path canonical = fs::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal().string() : canonical.string();
}

std::string TBNBrowserExtensionManager::resolveFolder(const std::string& folder) const {
    fs::path path(folder);
    if (path.is_absolute()) return path.string();
    return (fs::path(options_.environment.configHome) / path).string();
}

// --- Extension installation ---

void TBNBrowserExtensionManager::installSafariExtension() {
    // There is no Safari here; its extension talks to the loopback server directly.
    TBN_LOG_INFO(kLogTag, "Safari extension {} cannot be installed on this system",
                 kSafariExtensionIdentifier);
}

bool TBNBrowserExtensionManager::installBrowserExtension(TBNBrowser browser,
                                                         const std::string& url) {
    BrowserLaunch launch = browserLaunch(browser);
    if (options_.urlOpener) return options_.urlOpener(url, launch);
    std::vector<std::string> command;
    if (!launch.executable.empty()) {
        command = {launch.executable, url};
    } else if (!launch.desktopFile.empty()) {
        // Installed where PATH does not reach (a Flatpak, a Snap, /opt): its launcher
        // knows how to start it.
        auto fromLauncher = launcherCommand(launch.desktopFile, url);
        if (!fromLauncher) {
            TBN_LOG_WARN(kLogTag, "{} has no usable Exec key; cannot open {}", launch.desktopFile,
                         url);
            return false;
        }
        command = std::move(*fromLauncher);
        if (fs::path(command.front()).filename() == command.front()) {
            for (const auto& folder : options_.environment.searchPath) {
                fs::path candidate = fs::path(folder) / command.front();
                if (candidate.is_absolute() && isExecutableFile(candidate)) {
                    command.front() = candidate.string();
                    break;
                }
            }
        }
    } else {
        TBN_LOG_WARN(kLogTag, "{} is not installed; cannot open {}",
                     entryFor(browser).applicationName, url);
        return false;
    }
    if (!startDetachedProcess(command)) {
        TBN_LOG_ERROR(kLogTag, "cannot start {}", command.front());
        return false;
    }
    return true;
}

bool TBNBrowserExtensionManager::installChromeExtension() {
    createChromeNativeMessageManifest();
    return installBrowserExtension(TBNBrowser::Chrome, chromeRemoteURL());
}
bool TBNBrowserExtensionManager::installChromiumExtension() {
    createChromiumNativeMessageManifest();
    return installBrowserExtension(TBNBrowser::Chromium, chromeRemoteURL());
}
bool TBNBrowserExtensionManager::installEdgeExtension() {
    createEdgeNativeMessageManifest();
    return installBrowserExtension(TBNBrowser::Edge, chromeRemoteURL());
}
bool TBNBrowserExtensionManager::installOperaExtension() {
    createOperaNativeMessageManifest();
    return installBrowserExtension(TBNBrowser::Opera, chromeRemoteURL());
}
bool TBNBrowserExtensionManager::installBraveExtension() {
    createBraveNativeMessageManifest();
    return installBrowserExtension(TBNBrowser::Brave, chromeRemoteURL());
}
bool TBNBrowserExtensionManager::installVivaldiExtension() {
    createVivaldiNativeMessageManifest();
    return installBrowserExtension(TBNBrowser::Vivaldi, chromeRemoteURL());
}
bool TBNBrowserExtensionManager::installFirefoxExtension() {
    createFireFoxNativeMessageManifest();
    if (options_.generateSSLCerts) writeTrustSSLIdentityForFirefox();
    return installBrowserExtension(TBNBrowser::Firefox, firefoxRemoteURL());
}

bool TBNBrowserExtensionManager::installExtension(TBNBrowser browser) {
    switch (browser) {
        case TBNBrowser::Safari:
            installSafariExtension();
            return false;
        case TBNBrowser::Chrome:
            return installChromeExtension();
        case TBNBrowser::Chromium:
            return installChromiumExtension();
        case TBNBrowser::Edge:
            return installEdgeExtension();
        case TBNBrowser::Firefox:
            return installFirefoxExtension();
        case TBNBrowser::Opera:
            return installOperaExtension();
        case TBNBrowser::Brave:
            return installBraveExtension();
        case TBNBrowser::Vivaldi:
            return installVivaldiExtension();
    }
    return false;
}

std::string TBNBrowserExtensionManager::applicationName(TBNBrowser browser) {
    return entryFor(browser).applicationName;
}

namespace {

// The string-value escapes of the Desktop Entry format.
std::string unescapeValue(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                out += value[i];
        }
    }
    return out;
}

// The Exec key's arguments: space-separated, double quotes around an argument with
// reserved characters, in which \" \` \$ and \\ stand for the character. Nothing for
// an unterminated quote.
std::optional<std::vector<std::pair<std::string, bool>>> splitExec(const std::string& exec) {
    std::vector<std::pair<std::string, bool>> arguments;  // (text, was quoted)
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    bool wasQuoted = false;
    for (size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < exec.size() &&
                       std::string("\"`$\\").find(exec[i + 1]) != std::string::npos) {
                current += exec[++i];
            } else {
                current += c;
            }
        } else if (c == ' ' || c == '\t') {
            if (inArgument) arguments.emplace_back(current, wasQuoted);
            current.clear();
            inArgument = wasQuoted = false;
        } else if (c == '"') {
            quoted = wasQuoted = inArgument = true;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted) return std::nullopt;
    if (inArgument) arguments.emplace_back(current, wasQuoted);
    return arguments;
}

}  // namespace

std::optional<std::vector<std::string>> TBNBrowserExtensionManager::launcherCommand(
    const std::string& desktopFile, const std::string& url) {
    std::ifstream in(desktopFile);
    if (!in) return std::nullopt;
    std::string exec;
    std::string icon;
    std::string name;
    bool inEntry = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        std::string value = line.substr(eq + 1);
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        if (key == "Exec") exec = unescapeValue(value);
        if (key == "Icon") icon = unescapeValue(value);
        if (key == "Name") name = unescapeValue(value);
    }
    auto arguments = splitExec(exec);
    if (!arguments || arguments->empty()) return std::nullopt;
    std::vector<std::string> command;
    bool urlPlaced = false;
    for (const auto& [argument, wasQuoted] : *arguments) {
        if (!wasQuoted) {
            // A field code standing alone: an argument of its own, or none.
            if (argument == "%u" || argument == "%U" || argument == "%f" || argument == "%F") {
                if (!urlPlaced) command.push_back(url);
                urlPlaced = true;
                continue;
            }
            if (argument == "%i") {
                if (!icon.empty()) {
                    command.push_back("--icon");
                    command.push_back(icon);
                }
                continue;
            }
        }
        std::string expanded;
        for (size_t i = 0; i < argument.size(); ++i) {
            if (argument[i] != '%' || i + 1 == argument.size()) {
                expanded += argument[i];
                continue;
            }
            switch (argument[++i]) {
                case '%':
                    expanded += '%';
                    break;
                case 'u':
                case 'U':
                case 'f':
                case 'F':
                    expanded += url;
                    urlPlaced = true;
                    break;
                case 'c':
                    expanded += name;
                    break;
                case 'k':
                    expanded += desktopFile;
                    break;
                default:
                    break;  // deprecated or unknown codes are dropped
            }
        }
        // An argument that was nothing but dropped codes is no argument.
        if (expanded.empty() && !wasQuoted) continue;
        command.push_back(expanded);
    }
    if (command.empty() || command.front().empty()) return std::nullopt;
    if (!urlPlaced) command.push_back(url);
    return command;
}

std::string TBNBrowserExtensionManager::chromeRemoteURL() const {
    std::lock_guard<std::mutex> guard(urlsLock_);
    return chromeRemoteURL_;
}
void TBNBrowserExtensionManager::setChromeRemoteURL(const std::string& url) {
    std::lock_guard<std::mutex> guard(urlsLock_);
    chromeRemoteURL_ = url;
}
std::string TBNBrowserExtensionManager::firefoxRemoteURL() const {
    std::lock_guard<std::mutex> guard(urlsLock_);
    return firefoxRemoteURL_;
}
void TBNBrowserExtensionManager::setFirefoxRemoteURL(const std::string& url) {
    std::lock_guard<std::mutex> guard(urlsLock_);
    firefoxRemoteURL_ = url;
}

}  // namespace lumvane
