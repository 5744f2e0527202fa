// The local TLS identity half of the browser extension manager.
#include <openssl/crypto.h>

#include <algorithm>
#include <filesystem>

#include "runtime/AtomicFile.h"
#include "extension/browser/ChildProcess.h"
#include "extension/browser/HostsRecord.h"
#include "extension/browser/NSSTrust.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "runtime/log/TBNLogger.h"

namespace fs = std::filesystem;

namespace lumvane {
namespace {

constexpr const char* kLogTag = "core|browser";

constexpr const char* kIdentityFolderName = "tls";
constexpr const char* kCertificateFileName = "certificate.pem";
constexpr const char* kPrivateKeyFileName = "private.pem";
constexpr const char* kHostsHelperName = "lumvane-hosts-helper";

// Holds the private key text only as long as needed and wipes it afterwards.
struct WipedText {
    std::string text;
    ~WipedText() {
        if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
    }
};

}  // namespace

std::time_t TBNBrowserExtensionManager::now() const {
    return options_.clock ? options_.clock() : std::time(nullptr);
}

std::string TBNBrowserExtensionManager::identityFolder() const {
    fs::path settings = options_.settingsFolder.empty()
                            ? fs::path(options_.environment.dataHome) / "Lumvane"
                            : fs::path(options_.settingsFolder);
    return (settings / kIdentityFolderName).string();
}

std::string TBNBrowserExtensionManager::certificatePath() const {
    return (fs::path(identityFolder()) / kCertificateFileName).string();
}

std::string TBNBrowserExtensionManager::privateKeyPath() const {
    return (fs::path(identityFolder()) / kPrivateKeyFileName).string();
}

std::string TBNBrowserExtensionManager::nssDatabaseFolder() const {
    if (!options_.nssDatabase.empty()) return options_.nssDatabase;
    return (fs::path(options_.environment.home) / ".pki" / "nssdb").string();
}

std::string TBNBrowserExtensionManager::hostsHelperPath() const {
    if (!options_.hostsHelper.empty()) return options_.hostsHelper;
    // Installed next to the main program; pkexec wants an absolute path.
    std::string self = nativeMessagingHostPath();
    if (self.empty()) return kHostsHelperName;
    return (fs::path(self).parent_path() / kHostsHelperName).string();
}

// --- Checks ---

bool TBNBrowserExtensionManager::isSetupedSSLIdentity() const {
    return isExistSSLIdentity() && isValidatedHostsRecord() && isTrustedSSLIdentity();
}

bool TBNBrowserExtensionManager::isExistSSLIdentity() const {
    std::string certificate;
    WipedText key;
    if (!readWholeFile(certificatePath(), certificate)) return false;
    if (!readWholeFile(privateKeyPath(), key.text)) return false;
    return identityPemIsUsable(certificate, key.text, kLocalHostName);
}

bool TBNBrowserExtensionManager::isValidatedHostsRecord() const {
    std::string text;
    if (!readWholeFile(options_.hostsFile, text)) return false;
    return hostsTextHasRecord(text);
}

bool TBNBrowserExtensionManager::isTrustedSSLIdentity() const {
    std::optional<std::string> certificate = httpsCertificate();
    if (!certificate) return false;
    NSSTrust nss(options_.certutil);
    return nss.isTrusted(nssDatabaseFolder(), std::string(kLocalHostName), *certificate);
}

bool TBNBrowserExtensionManager::isExpiredSSLIdentity() const {
    std::optional<std::string> certificate = httpsCertificate();
    if (!certificate) return true;
    return certificateExpiresWithin(*certificate, kTLSIdentityExpiryMarginSeconds, now());
}

// --- Set-up ---

bool TBNBrowserExtensionManager::setupSSLIdentity() {
    std::lock_guard<std::mutex> guard(setupLock_);
    // Profiles that trusted the previous certificate would reject the new one: note them
    // before it is replaced, and trust the new one there too.
    NSSTrust nss(options_.certutil);
    std::vector<std::string> firefoxProfiles;
    for (const auto& profile : firefoxProfileFolders()) {
        if (nss.hasNickname(profile, std::string(kLocalHostName)))
            firefoxProfiles.push_back(profile);
    }
    if (!generateSSLIdentity()) return false;
    bool ok = writeTrustSSLIdentity();
    for (const auto& profile : firefoxProfiles) {
        ok = nss.importTrusted(profile, std::string(kLocalHostName), certificatePath()) && ok;
    }
    TBN_LOG_INFO(kLogTag, "local TLS identity set up: {}", ok ? "complete" : "incomplete");
    return ok;
}

bool TBNBrowserExtensionManager::generateSSLIdentity() {
    try {
        TLSIdentityPem identity =
            makeSelfSignedIdentity(kLocalHostName, options_.identityValiditySeconds, now());
        return writeSSLIdentity(identity);
    } catch (const std::exception& error) {
        TBN_LOG_ERROR(kLogTag, "cannot make the local TLS identity: {}", error.what());
        return false;
    }
}

bool TBNBrowserExtensionManager::writeSSLIdentity(const TLSIdentityPem& identity) {
    std::string folder = identityFolder();
    // A settings folder made here gets the same private mode the settings store uses.
    std::string settings = fs::path(folder).parent_path().string();
    std::error_code error;
    bool settingsOk = fs::is_directory(settings, error) || ensurePrivateFolder(settings, 0700);
    if (!settingsOk || !ensurePrivateFolder(folder, 0700)) {
        TBN_LOG_ERROR(kLogTag, "cannot create the identity folder {}", folder);
        return false;
    }
    // Key first: a crash between the two leaves a pair that does not match, which the
    // presence check reports as missing, so a new one is made.
    if (!writeFileAtomically(privateKeyPath(), identity.privateKey, 0600)) {
        TBN_LOG_ERROR(kLogTag, "cannot write the private key file {}", privateKeyPath());
        return false;
    }
    if (!writeFileAtomically(certificatePath(), identity.certificate, 0600)) {
        TBN_LOG_ERROR(kLogTag, "cannot write the certificate file {}", certificatePath());
        return false;
    }
    return true;
}

bool TBNBrowserExtensionManager::writeTrustSSLIdentity() {
    if (!httpsCertificate()) {
        TBN_LOG_ERROR(kLogTag, "no local certificate to trust");
        return false;
    }
    NSSTrust nss(options_.certutil);
    std::string database = nssDatabaseFolder();
    bool trusted = (NSSTrust::hasDatabase(database) || nss.createDatabase(database)) &&
                   nss.importTrusted(database, std::string(kLocalHostName), certificatePath());

    bool hostsOk = isValidatedHostsRecord();
    if (!hostsOk) {
        std::vector<std::string> command = options_.elevation;
        command.push_back(hostsHelperPath());
        if (options_.hostsFile != kSystemHostsFile) {
            command.push_back("--hosts-file");
            command.push_back(options_.hostsFile);
        }
        ChildResult result = runChildProcess(command);
        if (!result.started || result.exitStatus != 0) {
            TBN_LOG_ERROR(kLogTag, "the hosts line could not be added (status {})",
                          result.exitStatus);
        }
        hostsOk = isValidatedHostsRecord();
    }
    return trusted && hostsOk;
}

bool TBNBrowserExtensionManager::writeTrustSSLIdentityForFirefox() {
    if (!httpsCertificate()) return false;
    std::vector<std::string> profiles = firefoxProfileFolders();
    NSSTrust nss(options_.certutil);
    bool ok = !profiles.empty();
    for (const auto& profile : profiles) {
        ok = nss.importTrusted(profile, std::string(kLocalHostName), certificatePath()) && ok;
    }
    return ok;
}

// --- Accessors ---

std::optional<TBNSSLIdentity> TBNBrowserExtensionManager::sslIdentity() const {
    if (!isExistSSLIdentity()) return std::nullopt;
    return TBNSSLIdentity{certificatePath(), privateKeyPath()};
}

std::optional<std::string> TBNBrowserExtensionManager::httpsCertificate() const {
    std::string certificate;
    if (!readWholeFile(certificatePath(), certificate) || certificate.empty()) return std::nullopt;
    return certificate;
}

bool TBNBrowserExtensionManager::isGeneratedSSLIdentity() const {
    return httpsCertificate().has_value();
}

std::vector<std::string> TBNBrowserExtensionManager::firefoxProfileFolders() const {
    std::vector<std::string> roots = options_.firefoxProfileRoots;
    if (roots.empty()) {
        fs::path home(options_.environment.home);
        roots = {(home / ".mozilla" / "firefox").string(),
                 (home / "snap" / "firefox" / "common" / ".mozilla" / "firefox").string()};
    }
    std::vector<std::string> folders;
    for (const auto& root : roots) {
        std::error_code error;
        if (!fs::is_directory(root, error)) continue;
        if (hasFirefoxProfileCertDB(root)) folders.push_back(root);
        std::vector<std::string> children;
        for (const auto& entry : fs::directory_iterator(root, error)) {
            std::error_code entryError;
            if (entry.is_directory(entryError) && hasFirefoxProfileCertDB(entry.path().string())) {
                children.push_back(entry.path().string());
            }
        }
        std::sort(children.begin(), children.end());
        folders.insert(folders.end(), children.begin(), children.end());
    }
    return folders;
}

bool TBNBrowserExtensionManager::hasFirefoxProfileCertDB(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("cert", 0) == 0 && entry.path().extension() == ".db") return true;
    }
    return false;
}

}  // namespace lumvane
