#pragma once
// A temporary home with a fake installation of the program: everything it makes on this
// system (settings, logs, TLS identity and its trust, keychain items, browser manifests,
// start-at-login entry, hosts line, program files, backups, running instances), next to
// things of the user that an uninstall must leave alone.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/StartupSteps.h"
#include "extension/browser/ChildProcess.h"
#include "extension/browser/HostsRecord.h"
#include "extension/browser/NSSTrust.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "extension/browser/TLSIdentity.h"
#include "keychain/FakeKeychain.h"
#include "runtime/Paths.h"
#include "uninstaller/UninstallEnvironment.h"

namespace lumvane::testing {

namespace fs = std::filesystem;

inline void writeText(const fs::path& path, const std::string& text, mode_t mode = 0644) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    chmod(path.c_str(), mode);
}

inline std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

inline bool present(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

inline bool processAlive(pid_t pid) {
    // A child that ended but is not reaped yet is a zombie: it counts as ended.
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

inline size_t certificatesNamed(const fs::path& database, const std::string& nickname) {
    auto listed =
        runChildProcess({"certutil", "-L", "-d", "sql:" + database.string(), "-n", nickname, "-a"});
    if (listed.exitStatus != 0) return 0;
    size_t count = 0;
    for (size_t at = 0; (at = listed.output.find("BEGIN CERTIFICATE", at)) != std::string::npos;
         ++at) {
        ++count;
    }
    return count;
}

// Starts a copy of sleep under the given path, so that its executable carries the
// program's name; with ignoreTerm it ignores SIGTERM (the setting survives exec).
inline pid_t startFakeProgram(const fs::path& executable, bool ignoreTerm = false) {
    if (!present(executable)) {
        fs::create_directories(executable.parent_path());
        fs::copy_file("/bin/sleep", executable);
        fs::permissions(executable, fs::perms::owner_all);
    }
    pid_t pid = fork();
    if (pid == 0) {
        if (ignoreTerm) signal(SIGTERM, SIG_IGN);
        const char* argv[] = {"lumvane", "300", nullptr};
        execv(executable.c_str(), const_cast<char* const*>(argv));
        _exit(127);
    }
    // Wait until the child runs the program (its executable link shows it).
    for (int i = 0; i < 2000; ++i) {
        std::error_code error;
        auto exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
        if (!error && exe == executable) break;
        usleep(1000);
    }
    return pid;
}

inline void endProcess(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

// The temporary home and the fake installation in it.
class FakeInstall {
  public:
    FakeInstall() {
        std::string pattern = (fs::temp_directory_path() / "lumvane-uninstall-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        if (!made) throw std::runtime_error("mkdtemp failed");
        home = made;
        Paths::setRootOverride(home);
        keychain = std::make_shared<FakeKeychain>();
    }
    ~FakeInstall() {
        for (pid_t pid : processes) endProcess(pid);
        Paths::setRootOverride(std::nullopt);
        std::error_code error;
        fs::remove_all(home, error);
    }
    FakeInstall(const FakeInstall&) = delete;
    FakeInstall& operator=(const FakeInstall&) = delete;

    fs::path settings() const { return home / ".local/share/Lumvane"; }
    fs::path oldSettings() const { return home / ".local/share/Tobrin/Lumvane"; }
    fs::path backups() const { return home / "Documents/Lumvane"; }
    fs::path bin() const { return home / "opt/bin"; }
    fs::path program() const { return bin() / "lumvane"; }
    fs::path hosts() const { return home / "etc/hosts"; }
    fs::path nssdb() const { return home / ".pki/nssdb"; }
    fs::path firefoxProfile() const { return home / ".mozilla/firefox/abcd.default"; }
    fs::path autostart() const { return home / ".config/autostart"; }
    fs::path chromeManifest() const {
        return home / ".config/google-chrome/NativeMessagingHosts" /
               TBNBrowserExtensionManager::kManifestFileName;
    }
    fs::path firefoxManifest() const {
        return home / ".mozilla/native-messaging-hosts" /
               TBNBrowserExtensionManager::kManifestFileName;
    }
    fs::path braveManifest() const {
        return home / ".config/BraveSoftware/Brave-Browser/NativeMessagingHosts" /
               TBNBrowserExtensionManager::kManifestFileName;
    }

    BrowserIntegrationOptions browserOptions() const {
        BrowserIntegrationOptions options;
        options.environment = BrowserEnvironment::underHome(home.string());
        options.executablePath = program().string();
        options.hostsFile = hosts().string();
        options.hostsHelper = LUMVANE_HOSTS_HELPER;
        options.elevation = {};
        return options;
    }

    // The environment the uninstaller is given for this home.
    UninstallEnvironment environment() const {
        UninstallEnvironment environment = UninstallEnvironment::fromProcess();
        environment.browser.hostsFile = hosts().string();
        environment.browser.elevation = {};
        environment.hostsRemovalHelper = LUMVANE_UNINSTALL_HOSTS_HELPER;
        environment.programFolder = bin();
        environment.keychain = keychain;
        environment.dpkgInfoFolder = home / "var/lib/dpkg/info";
        return environment;
    }

    static constexpr const char* kUserHosts =
        "127.0.0.1 localhost\n::1 localhost ip6-localhost\n"
        "192.168.1.7 nas.local\n";

    // Everything the program makes, and the user's things beside it.
    void populate(bool withTrust = true) {
        // Settings folder: settings file, file keychain, logs, extension logs.
        writeText(settings() / "settings.tbnlmveprf", "sealed settings", 0600);
        writeText(settings() / "keychain.json", "{}", 0600);
        writeText(settings() / "logs/Lumvane 1.0.0.0 2026-12-11.tbnlog", "log line\n", 0600);
        writeText(settings() / "logs/extensions/chrome-lumvane.log", "ext line\n", 0600);
        writeText(oldSettings() / "settings.tbnlmveprf", "old settings", 0600);
        writeText(backups() / "backup_261211_101500.lmbk", "backup", 0600);
        // Keychain items of the program, and one of someone else.
        keychain->addItem(StartupSteps::kSettingsKeyItem, std::vector<uint8_t>(32, 7));
        keychain->addItem(StartupSteps::kExtensionCredentialsItem, {'i', 'd', ':', 's'});
        keychain->addItem("org.example.other", {'x'});

        // Program files, and a tool of the user beside them.
        fs::create_directories(bin());
        fs::copy_file("/bin/sleep", program());
        writeText(bin() / "lumvane-hosts-helper", "helper", 0755);
        writeText(bin() / "other-tool", "mine", 0755);
        writeText(home / "opt/share/lumvane/uniq_dict_8_n.dic", "words\n");
        writeText(home / "opt/share/other/data", "mine\n");

        // Browsers: the program's manifests beside another program's manifest.
        TBNBrowserExtensionManager manager(browserOptions());
        EXPECT_TRUE(manager.createChromeNativeMessageManifest());
        EXPECT_TRUE(manager.createFireFoxNativeMessageManifest());
        EXPECT_TRUE(manager.createBraveNativeMessageManifest());
        writeText(home / ".config/google-chrome/NativeMessagingHosts/org.other.host.json", "{}");

        // Start at login: the program's entry and another one.
        writeText(
            autostart() / "lumvane.desktop",
            "[Desktop Entry]\nType=Application\nName=Lumvane\nExec=" + program().string() + "\n");
        writeText(autostart() / "other.desktop",
                  "[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/other --tray\n");

        // The local TLS identity with its trust and hosts line, next to the user's lines
        // and another trusted certificate.
        writeText(hosts(), kUserHosts);
        EXPECT_TRUE(manager.generateSSLIdentity());
        if (withTrust) {
            fs::create_directories(firefoxProfile());
            EXPECT_EQ(runChildProcess({"certutil", "-N", "-d", "sql:" + firefoxProfile().string(),
                                       "--empty-password"})
                          .exitStatus,
                      0);
            EXPECT_TRUE(manager.writeTrustSSLIdentity());
            EXPECT_TRUE(manager.writeTrustSSLIdentityForFirefox());
            TLSIdentityPem other =
                makeSelfSignedIdentity("other.example", 3600, std::time(nullptr));
            writeText(home / "other.pem", other.certificate);
            NSSTrust nss;
            EXPECT_TRUE(
                nss.importTrusted(nssdb().string(), "Other CA", (home / "other.pem").string()));
        } else {
            writeText(hosts(), std::string(kUserHosts) + hostsRecordLine() + "\n");
        }
    }

    pid_t startProgram(bool ignoreTerm = false) {
        pid_t pid = startFakeProgram(program(), ignoreTerm);
        processes.push_back(pid);
        return pid;
    }

    fs::path home;
    std::shared_ptr<FakeKeychain> keychain;
    std::vector<pid_t> processes;
};

}  // namespace lumvane::testing
