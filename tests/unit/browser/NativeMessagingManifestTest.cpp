// Browser detection and native-messaging manifests in a temporary home with fake installs.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "BrowserTestSupport.h"
#include "extension/browser/TBNBrowserExtensionManager.h"

namespace fs = std::filesystem;
using lumvane::BrowserEnvironment;
using lumvane::BrowserIntegrationOptions;
using lumvane::BrowserLaunch;
using lumvane::TBNBrowser;
using lumvane::TBNBrowserExtensionManager;
using lumvane::testing::readText;
using lumvane::testing::TempRoot;
using lumvane::testing::writeText;

namespace {

struct BrowserCase {
    TBNBrowser browser;
    const char* executable;
    const char* desktopFile;
    const char* folder;  // relative to the home folder
    bool firefox;
};

const std::vector<BrowserCase>& browserCases() {
    static const std::vector<BrowserCase> cases = {
        {TBNBrowser::Chrome, "google-chrome", "google-chrome.desktop",
         ".config/google-chrome/NativeMessagingHosts", false},
        {TBNBrowser::Chromium, "chromium", "chromium.desktop",
         ".config/chromium/NativeMessagingHosts", false},
        {TBNBrowser::Edge, "microsoft-edge", "microsoft-edge.desktop",
         ".config/microsoft-edge/NativeMessagingHosts", false},
        {TBNBrowser::Firefox, "firefox", "firefox.desktop", ".mozilla/native-messaging-hosts",
         true},
        {TBNBrowser::Opera, "opera", "opera.desktop", ".config/opera/NativeMessagingHosts", false},
        {TBNBrowser::Brave, "brave-browser", "brave-browser.desktop",
         ".config/BraveSoftware/Brave-Browser/NativeMessagingHosts", false},
        {TBNBrowser::Vivaldi, "vivaldi", "vivaldi-stable.desktop",
         ".config/vivaldi/NativeMessagingHosts", false},
    };
    return cases;
}

bool installed(const TBNBrowserExtensionManager& manager, TBNBrowser browser) {
    switch (browser) {
        case TBNBrowser::Safari:
            return manager.isSafariInstalled();
        case TBNBrowser::Chrome:
            return manager.isChromeInstalled();
        case TBNBrowser::Chromium:
            return manager.isChromiumInstalled();
        case TBNBrowser::Edge:
            return manager.isEdgeInstalled();
        case TBNBrowser::Firefox:
            return manager.isFirefoxInstalled();
        case TBNBrowser::Opera:
            return manager.isOperaInstalled();
        case TBNBrowser::Brave:
            return manager.isBraveInstalled();
        case TBNBrowser::Vivaldi:
            return manager.isVivaldiInstalled();
    }
    return false;
}

class ManifestTest : public ::testing::Test {
  protected:
    ManifestTest() {
        fs::create_directories(bin());
        fs::create_directories(systemData());
        // The program lies behind a symbolic link; manifests must name the real file.
        writeText(root / "opt/Lumvane Dir/lumvane", "#!/bin/sh\n", 0755);
        fs::create_symlink(root / "opt/Lumvane Dir/lumvane", bin() + "/lumvane");
    }

    std::string home() const { return root / "home"; }
    std::string bin() const { return root / "bin"; }
    std::string systemData() const { return root / "usr/share"; }
    std::string realProgram() const { return fs::canonical(root / "opt/Lumvane Dir/lumvane"); }

    void fakeExecutable(const std::string& name, mode_t mode = 0755) {
        writeText(bin() + "/" + name, "#!/bin/sh\n", mode);
    }

    BrowserIntegrationOptions options() {
        BrowserIntegrationOptions options;
        options.environment = BrowserEnvironment::underHome(home());
        options.environment.searchPath = {bin()};
        options.environment.dataDirs = {systemData()};
        options.executablePath = bin() + "/lumvane";
        options.settingsFolder = root / "settings";
        options.urlOpener = [this](const std::string& url, const BrowserLaunch& launch) {
            opened.emplace_back(url, launch);
            return true;
        };
        return options;
    }

    nlohmann::json manifestIn(const std::string& folderUnderHome) {
        std::string path = home() + "/" + folderUnderHome + "/com.tobrin.lumvane.extension.json";
        EXPECT_TRUE(fs::exists(path)) << path;
        std::string text = readText(path);
        EXPECT_EQ(text.find("\\/"), std::string::npos) << "escaped slash in " << path;
        return nlohmann::json::parse(text, nullptr, false);
    }

    TempRoot root;
    std::vector<std::pair<std::string, BrowserLaunch>> opened;
};

TEST_F(ManifestTest, EveryInstalledBrowserGetsItsManifestWithTheRightMembers) {
    for (const auto& c : browserCases()) fakeExecutable(c.executable);
    TBNBrowserExtensionManager manager(options());
    manager.installNMManifests();

    const std::regex origin("chrome-extension://[a-p]{32}/");
    for (const auto& c : browserCases()) {
        SCOPED_TRACE(c.executable);
        nlohmann::json manifest = manifestIn(c.folder);
        ASSERT_TRUE(manifest.is_object());
        EXPECT_EQ(manifest.size(), 5u);
        EXPECT_EQ(manifest["name"], "com.tobrin.lumvane.extension");
        EXPECT_EQ(manifest["description"], "Lumvane");
        EXPECT_EQ(manifest["type"], "stdio");
        EXPECT_EQ(manifest["path"], realProgram());
        EXPECT_TRUE(fs::path(manifest["path"].get<std::string>()).is_absolute());
        if (c.firefox) {
            EXPECT_FALSE(manifest.contains("allowed_origins"));
            ASSERT_TRUE(manifest["allowed_extensions"].is_array());
            EXPECT_EQ(
                manifest["allowed_extensions"],
                nlohmann::json::array({TBNBrowserExtensionManager::firefoxExtensionIdentifier()}));
        } else {
            EXPECT_FALSE(manifest.contains("allowed_extensions"));
            ASSERT_TRUE(manifest["allowed_origins"].is_array());
            ASSERT_EQ(manifest["allowed_origins"].size(), 4u);
            for (const auto& item : manifest["allowed_origins"]) {
                EXPECT_TRUE(std::regex_match(item.get<std::string>(), origin)) << item;
            }
        }
    }
}

TEST_F(ManifestTest, DetectionByProgramOnPathOrDesktopFile) {
    TBNBrowserExtensionManager manager(options());
    for (const auto& c : browserCases())
        EXPECT_FALSE(installed(manager, c.browser)) << c.executable;
    EXPECT_FALSE(manager.isSafariInstalled());
    EXPECT_FALSE(manager.isExistApplication("No Such Browser"));

    // A program that is not executable does not count.
    fakeExecutable("google-chrome", 0644);
    EXPECT_FALSE(manager.isChromeInstalled());
    fakeExecutable("google-chrome", 0755);
    EXPECT_TRUE(manager.isChromeInstalled());
    EXPECT_EQ(manager.browserLaunch(TBNBrowser::Chrome).executable, bin() + "/google-chrome");
    EXPECT_TRUE(manager.isExistApplication("Google Chrome"));

    // Only in the user's own applications folder.
    writeText(home() + "/.local/share/applications/firefox.desktop", "[Desktop Entry]\n");
    EXPECT_TRUE(manager.isFirefoxInstalled());
    // Only in a system applications folder.
    writeText(systemData() + "/applications/vivaldi-stable.desktop", "[Desktop Entry]\n");
    EXPECT_TRUE(manager.isVivaldiInstalled());
    EXPECT_FALSE(manager.isEdgeInstalled());
    EXPECT_FALSE(manager.isBraveInstalled());
}

TEST_F(ManifestTest, NoManifestForBrowsersThatAreNotInstalled) {
    fakeExecutable("vivaldi");
    TBNBrowserExtensionManager manager(options());
    manager.installNMManifests();
    EXPECT_TRUE(fs::exists(
        home() + "/.config/vivaldi/NativeMessagingHosts/com.tobrin.lumvane.extension.json"));
    EXPECT_FALSE(fs::exists(home() + "/.config/google-chrome"));
    EXPECT_FALSE(fs::exists(home() + "/.mozilla"));
    EXPECT_FALSE(fs::exists(home() + "/.config/opera"));
}

TEST_F(ManifestTest, OperaAndBraveAlsoFillChromesFolderOnlyWhenChromeHasOne) {
    fakeExecutable("opera");
    fakeExecutable("brave-browser");
    TBNBrowserExtensionManager manager(options());
    manager.installNMManifests();
    manifestIn(".config/opera/NativeMessagingHosts");
    manifestIn(".config/BraveSoftware/Brave-Browser/NativeMessagingHosts");
    EXPECT_FALSE(fs::exists(home() + "/.config/google-chrome"));

    fs::create_directories(home() + "/.config/google-chrome");
    manager.installNMManifests();
    nlohmann::json copy = manifestIn(".config/google-chrome/NativeMessagingHosts");
    EXPECT_EQ(copy["allowed_origins"].size(), 4u);
}

TEST_F(ManifestTest, WritingTwiceLeavesOneIdenticalManifestPerFolder) {
    fakeExecutable("google-chrome");
    fakeExecutable("firefox");
    TBNBrowserExtensionManager manager(options());
    manager.installNMManifests();
    std::string chrome = home() + "/.config/google-chrome/NativeMessagingHosts";
    std::string firefox = home() + "/.mozilla/native-messaging-hosts";
    std::string first = readText(chrome + "/com.tobrin.lumvane.extension.json");
    manager.installNMManifests();
    for (const auto& folder : {chrome, firefox}) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(names, std::vector<std::string>{"com.tobrin.lumvane.extension.json"}) << folder;
    }
    EXPECT_EQ(readText(chrome + "/com.tobrin.lumvane.extension.json"), first);
}

TEST_F(ManifestTest, HostPathDefaultsToTheRunningProgram) {
    BrowserIntegrationOptions o = options();
    o.executablePath.clear();
    TBNBrowserExtensionManager manager(o);
    EXPECT_EQ(manager.nativeMessagingHostPath(), fs::canonical("/proc/self/exe").string());

    // Started from an AppImage, browsers must start the image, not its passing mount.
    writeText(root / "Lumvane.AppImage", "", 0755);
    setenv("APPIMAGE", (root / "Lumvane.AppImage").c_str(), 1);
    std::string fromImage = manager.nativeMessagingHostPath();
    unsetenv("APPIMAGE");
    EXPECT_EQ(fromImage, fs::canonical(root / "Lumvane.AppImage").string());

    // A relative path given by the caller is made absolute.
    o.executablePath = "relative/lumvane";
    TBNBrowserExtensionManager relative(o);
    EXPECT_EQ(relative.nativeMessagingHostPath(),
              (fs::current_path() / "relative/lumvane").lexically_normal().string());
}

TEST_F(ManifestTest, InstallWritesTheManifestThenOpensTheStorePageInThatBrowser) {
    fakeExecutable("microsoft-edge");
    fakeExecutable("firefox");
    BrowserIntegrationOptions o = options();
    o.generateSSLCerts = false;
    std::vector<bool> manifestPresentWhenOpened;
    o.urlOpener = [&](const std::string& url, const BrowserLaunch& launch) {
        opened.emplace_back(url, launch);
        std::string folder = launch.browser == TBNBrowser::Firefox
                                 ? home() + "/.mozilla/native-messaging-hosts"
                                 : home() + "/.config/microsoft-edge/NativeMessagingHosts";
        manifestPresentWhenOpened.push_back(
            fs::exists(folder + "/com.tobrin.lumvane.extension.json"));
        return true;
    };
    TBNBrowserExtensionManager manager(o);
    manager.setChromeRemoteURL("https://example.test/chrome-store");
    manager.installEdgeExtension();
    manager.installFirefoxExtension();
    manager.installSafariExtension();  // nothing to open here

    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].first, "https://example.test/chrome-store");
    EXPECT_EQ(opened[0].second.browser, TBNBrowser::Edge);
    EXPECT_EQ(opened[0].second.bundleIdentifier, "com.microsoft.edgemac");
    EXPECT_EQ(opened[0].second.executable, bin() + "/microsoft-edge");
    EXPECT_EQ(opened[1].first, manager.firefoxRemoteURL());
    EXPECT_EQ(opened[1].second.browser, TBNBrowser::Firefox);
    EXPECT_EQ(opened[1].second.bundleIdentifier, "org.mozilla.firefox");
    EXPECT_EQ(manifestPresentWhenOpened, (std::vector<bool>{true, true}));
}

TEST_F(ManifestTest, InstallOfAMissingBrowserStillHandsThePageOver) {
    TBNBrowserExtensionManager manager(options());
    manager.installVivaldiExtension();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].first, manager.chromeRemoteURL());
    EXPECT_TRUE(opened[0].second.executable.empty());
    EXPECT_EQ(opened[0].second.bundleIdentifier, "com.vivaldi.Vivaldi");
}

TEST(LauncherCommandTest, TheExecKeyWithItsFieldCodesAndQuoting) {
    TempRoot root;
    struct Case {
        const char* entry;
        std::vector<std::string> command;  // empty: none
    };
    const std::string url = "https://store.test/x?a=1&b=2";
    const std::string desktop = root / "b.desktop";
    const std::vector<Case> cases = {
        {"[Desktop Entry]\nExec=/usr/bin/chromium %U\n", {"/usr/bin/chromium", url}},
        {"[Desktop Entry]\nExec=flatpak run org.chromium.Chromium @@u %u @@\n",
         {"flatpak", "run", "org.chromium.Chromium", "@@u", url, "@@"}},
        {"[Desktop Entry]\nExec=browser --class=%c %i %k\nName=Web\nIcon=web\n",
         {"browser", "--class=Web", "--icon", "web", desktop, url}},
        {"[Desktop Entry]\nExec=\"/opt/My Browser/run\" --x \"a\\\\\"b\" 100%%\n",
         {"/opt/My Browser/run", "--x", "a\"b", "100%", url}},
        {"[Desktop Entry]\nExec=browser\\sname %F %D\n", {"browser", "name", url}},
        // Actions of other groups are not the program's own line.
        {"[Desktop Action new]\nExec=wrong %u\n[Desktop Entry]\nExec=right %u\n", {"right", url}},
        {"[Desktop Entry]\nExec=\"unterminated %u\n", {}},
        {"[Desktop Entry]\nName=No Exec\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        writeText(desktop, c.entry, 0644);
        auto command = TBNBrowserExtensionManager::launcherCommand(desktop, url);
        if (c.command.empty()) {
            EXPECT_FALSE(command);
        } else {
            ASSERT_TRUE(command);
            EXPECT_EQ(*command, c.command);
        }
    }
}

// A browser found only by its launcher (not on PATH) is started through it with the page.
TEST_F(ManifestTest, ABrowserFoundOnlyByItsLauncherIsStartedThroughIt) {
    const std::string seen = root / "started-with";
    writeText((root / "opt/chromium-launch"),
              "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + seen + ".tmp' && mv '" + seen + ".tmp' '" +
                  seen + "'\n",
              0755);
    writeText(home() + "/.local/share/applications/chromium.desktop",
              "[Desktop Entry]\nType=Application\nName=Chromium\nExec=\"" +
                  (root / "opt/chromium-launch") + "\" --new-window %U\n",
              0644);
    BrowserIntegrationOptions o = options();
    o.urlOpener = nullptr;  // really start it
    TBNBrowserExtensionManager manager(o);
    ASSERT_TRUE(manager.isChromiumInstalled());
    EXPECT_TRUE(manager.installChromiumExtension());
    EXPECT_TRUE(fs::exists(home() + "/.config/chromium/NativeMessagingHosts/"
                                    "com.tobrin.lumvane.extension.json"));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(seen) && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(fs::exists(seen)) << "the launcher was not started";
    EXPECT_EQ(readText(seen), "--new-window\n" + manager.chromeRemoteURL() + "\n");
}

TEST(SharedManagerTest, ConcurrentFirstCallsGetTheSameManager) {
    std::vector<TBNBrowserExtensionManager*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back(
            [&seen, i] { seen[i] = &TBNBrowserExtensionManager::sharedManager(); });
    }
    for (auto& thread : threads) thread.join();
    for (auto* manager : seen) EXPECT_EQ(manager, seen[0]);
}

TEST(SharedManagerTest, IsCreatedOnceAndCannotBeReconfiguredAfterwards) {
    TBNBrowserExtensionManager* first = &TBNBrowserExtensionManager::sharedManager();
    EXPECT_EQ(first, &TBNBrowserExtensionManager::sharedManager());
    EXPECT_THROW(TBNBrowserExtensionManager::configureSharedManager({}), std::logic_error);
}

}  // namespace
