#pragma once
// The supported browsers on this machine: which are installed, the native-messaging
// manifests through which they start us as their host, the install pages of our
// extension, and the local TLS identity of the HTTPS servers with its trust and hosts line.
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "extension/browser/TLSIdentity.h"

namespace lumvane {

enum class TBNBrowser { Safari, Chrome, Chromium, Edge, Firefox, Opera, Brave, Vivaldi };

// Where browsers and their folders are looked for. Every root can be pointed elsewhere.
struct BrowserEnvironment {
    std::string home;
    std::string configHome;               // $XDG_CONFIG_HOME, else <home>/.config
    std::string dataHome;                 // $XDG_DATA_HOME, else <home>/.local/share
    std::vector<std::string> dataDirs;    // $XDG_DATA_DIRS, else /usr/local/share, /usr/share
    std::vector<std::string> searchPath;  // the folders of $PATH

    // From HOME, the XDG variables and PATH of this process.
    static BrowserEnvironment fromProcess();
    // Everything under the given home; no system folders and no PATH (for tests).
    static BrowserEnvironment underHome(const std::string& home);
};

// The browser a page is to be opened in.
struct BrowserLaunch {
    TBNBrowser browser = TBNBrowser::Chrome;
    std::string bundleIdentifier;  // the browser's application identifier, e.g. "com.google.chrome"
    std::string executable;        // absolute path of its program on PATH, empty when not found
    std::string desktopFile;       // path of its .desktop file, empty when not found
};

// Opens the URL in the given browser; answers whether it could be handed over.
using URLOpener = std::function<bool(const std::string& url, const BrowserLaunch& browser)>;

// The TLS identity as the HTTPS servers take it: PEM files of certificate and private key.
struct TBNSSLIdentity {
    std::string certificatePath;
    std::string privateKeyPath;
};

struct BrowserIntegrationOptions {
    BrowserEnvironment environment = BrowserEnvironment::fromProcess();
    // The program browsers start as their native-messaging host; empty: this executable.
    std::string executablePath;
    std::string chromeRemoteURL;   // empty: the built-in store page
    std::string firefoxRemoteURL;  // empty: the built-in add-on page
    URLOpener urlOpener;           // empty: start the browser's program with the URL
    bool generateSSLCerts = true;  // the HTTPS feature switch

    // Local TLS identity.
    std::string settingsFolder;  // empty: <dataHome>/Lumvane
    std::string hostsFile = "/etc/hosts";
    std::string hostsHelper;  // empty: lumvane-hosts-helper next to this executable
    std::vector<std::string> elevation = {"pkexec"};  // prefix that runs the helper as root
    std::string certutil = "certutil";
    std::string nssDatabase;                       // empty: <home>/.pki/nssdb (Chromium family)
    std::vector<std::string> firefoxProfileRoots;  // empty: <home>/.mozilla/firefox and snap's
    std::function<std::time_t()> clock;            // empty: the system clock
    int64_t identityValiditySeconds = kTLSIdentityValiditySeconds;
};

class TBNBrowserExtensionManager {
  public:
    // Native-messaging host name and manifest file name.
    static constexpr const char* kNativeMessagingHostName = "com.tobrin.lumvane.extension";
    static constexpr const char* kManifestFileName = "com.tobrin.lumvane.extension.json";
    static constexpr const char* kSafariExtensionIdentifier =
        "com.tobrin.osx.Lumvane.LumvaneSafari";
    // The four Chromium-family store extensions (as "chrome-extension://<id>/" origins) and
    // the Firefox add-on; they belong to the published extensions.
    static const std::vector<std::string>& chromiumExtensionOrigins();
    static const std::string& firefoxExtensionIdentifier();

    // The process-wide manager, made on first call (exactly once, also under concurrent
    // first calls) from the options given to configureSharedManager, else the defaults.
    static TBNBrowserExtensionManager& sharedManager();
    // Must come before the first sharedManager(); throws std::logic_error afterwards.
    static void configureSharedManager(BrowserIntegrationOptions options);

    explicit TBNBrowserExtensionManager(BrowserIntegrationOptions options = {});

    // --- Browsers ---
    bool isSafariInstalled() const;
    bool isChromeInstalled() const;
    bool isChromiumInstalled() const;
    bool isEdgeInstalled() const;
    bool isFirefoxInstalled() const;
    bool isOperaInstalled() const;
    bool isBraveInstalled() const;
    bool isVivaldiInstalled() const;
    // By the browser's application name ("Google Chrome", "Firefox", ...): its programs on
    // PATH, then its .desktop files in the user's and the system's applications folders.
    bool isExistApplication(const std::string& applicationName) const;
    BrowserLaunch browserLaunch(TBNBrowser browser) const;
    // The browser's application name ("Chromium", "Firefox", ...).
    static std::string applicationName(TBNBrowser browser);
    // The command that opens `url` through a browser's .desktop launcher: its Exec key
    // (of the [Desktop Entry] group) with the field codes filled in (the URL for %u, %U,
    // %f and %F; appended when there is none) and its quoting undone. Nothing when the
    // file has no usable Exec key.
    static std::optional<std::vector<std::string>> launcherCommand(const std::string& desktopFile,
                                                                   const std::string& url);

    // --- Manifests ---
    // Writes the manifest of every installed browser.
    void installNMManifests();
    bool createChromeNativeMessageManifest();
    bool createChromiumNativeMessageManifest();
    bool createEdgeNativeMessageManifest();
    bool createVivaldiNativeMessageManifest();
    bool createOperaNativeMessageManifest();
    bool createBraveNativeMessageManifest();
    bool createFireFoxNativeMessageManifest();
    // A Chromium-family manifest ("allowed_origins") into the folder; a relative folder is
    // taken under the configuration home.
    bool createNativeMessageManifestToAppFolder(const std::string& folder);
    // Writes the manifest with the given list member into the folder (made when missing).
    bool createManifestWithKey(const std::string& key, const nlohmann::json& value,
                               const std::string& folder);
    // The manifest object itself.
    nlohmann::json manifestWithKey(const std::string& key, const nlohmann::json& value) const;
    // The folder the browser reads its user-level manifests from (absolute).
    std::string manifestFolder(TBNBrowser browser) const;
    // Absolute, symlink-free path of the program named in every manifest.
    std::string nativeMessagingHostPath() const;

    // --- Extension installation ---
    // Each writes the browser's manifest and opens the extension's install page in that
    // browser: its program on PATH, else its .desktop launcher. True when the page was
    // handed to the browser.
    void installSafariExtension();
    bool installChromeExtension();
    bool installChromiumExtension();
    bool installEdgeExtension();
    bool installFirefoxExtension();
    bool installOperaExtension();
    bool installBraveExtension();
    bool installVivaldiExtension();
    // The one of the above for the browser (Safari: false, nothing to open here).
    bool installExtension(TBNBrowser browser);

    std::string chromeRemoteURL() const;
    void setChromeRemoteURL(const std::string& url);
    std::string firefoxRemoteURL() const;
    void setFirefoxRemoteURL(const std::string& url);

    // --- Local TLS identity ---
    // isExistSSLIdentity, then isValidatedHostsRecord, then isTrustedSSLIdentity.
    bool isSetupedSSLIdentity() const;
    // The certificate and key files are there, belong together and name the local host.
    bool isExistSSLIdentity() const;
    // The hosts file maps the local host name to 127.0.0.1.
    bool isValidatedHostsRecord() const;
    // Chromium's NSS database trusts this very certificate for TLS servers.
    bool isTrustedSSLIdentity() const;
    // The certificate ends within 48 hours, or cannot be read.
    bool isExpiredSSLIdentity() const;
    // generateSSLIdentity, writeTrustSSLIdentity, and the trust of Firefox profiles that
    // trusted an earlier identity. Answers whether every step worked.
    bool setupSSLIdentity();
    // A new key and certificate, stored in place of the previous ones.
    bool generateSSLIdentity();
    // Stores the PEM texts (0600 files in a 0700 folder, each written atomically).
    bool writeSSLIdentity(const TLSIdentityPem& identity);
    // Trust in Chromium's NSS database, then the hosts line (through the elevated helper,
    // only when it is missing).
    bool writeTrustSSLIdentity();
    // Trust in every Firefox profile; false when there is none or one fails.
    bool writeTrustSSLIdentityForFirefox();
    // What the HTTPS servers are given; none when there is no usable identity.
    std::optional<TBNSSLIdentity> sslIdentity() const;
    // The certificate in PEM armour, none when missing.
    std::optional<std::string> httpsCertificate() const;
    bool isGeneratedSSLIdentity() const;

    std::string identityFolder() const;
    std::string certificatePath() const;
    std::string privateKeyPath() const;
    std::string nssDatabaseFolder() const;
    // Firefox profile folders that hold a certificate database (roots first, then their
    // direct subfolders, in name order).
    std::vector<std::string> firefoxProfileFolders() const;
    static bool hasFirefoxProfileCertDB(const std::string& folder);

  private:
    bool installBrowserExtension(TBNBrowser browser, const std::string& url);
    std::string resolveFolder(const std::string& folder) const;
    std::time_t now() const;
    std::string hostsHelperPath() const;

    BrowserIntegrationOptions options_;
    mutable std::mutex urlsLock_;
    std::string chromeRemoteURL_;
    std::string firefoxRemoteURL_;
    std::mutex setupLock_;  // one identity set-up at a time
};

}  // namespace lumvane
