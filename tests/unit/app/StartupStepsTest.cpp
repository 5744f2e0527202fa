#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <stdexcept>
#include <vector>

#include "app/StartupSteps.h"
#include "crypto/TBNCryptHash.h"
#include "crypto/TBNKeyChainManager.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "keychain/FakeKeychain.h"
#include "mounts/PrivateMounts.h"
#include "platform/keychain/FileKeychain.h"
#include "runtime/Paths.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"

namespace lumvane {
namespace {

namespace fs = std::filesystem;
using test::SmallTmpfs;

Bytes readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class StartupStepsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumvane-startup-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        Paths::setRootOverride(root_);
        store_ = std::make_shared<FakeKeychain>();
        keychain_ = std::make_unique<TBNKeyChainManager>(store_);
        settingFile_ = TBNSettings::settingsFilePath();
    }
    void TearDown() override {
        for (auto& s : settings_) s->waitForPendingSaves();
        settings_.clear();
        Paths::setRootOverride(std::nullopt);
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // A store as at a new start of the program.
    std::shared_ptr<TBNSettings> newSettings() {
        TBNSettings::Options o;
        o.bundleVersion = "1.0.0.0";
        auto s = TBNSettings::create(o);
        settings_.push_back(s);
        return s;
    }

    std::set<std::string> settingsFolderFiles() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(settingFile_.parent_path())) {
            names.insert(e.path().filename().string());
        }
        return names;
    }

    fs::path root_;
    fs::path settingFile_;
    std::shared_ptr<FakeKeychain> store_;
    std::unique_ptr<TBNKeyChainManager> keychain_;
    std::vector<std::shared_ptr<TBNSettings>> settings_;
};

TEST_F(StartupStepsTest, SettingsKeyIsKeptWhenGoodAndReplacedWhenMissingOrBroken) {
    const std::string item = StartupSteps::kSettingsKeyItem;

    // Missing: a fresh key is made and stored.
    const Bytes first = StartupSteps::settingsKey(*keychain_);
    ASSERT_EQ(first.size(), 32u);
    EXPECT_EQ(keychain_->dataForKey(item), first);

    // Readable: used as it is, never rewritten.
    EXPECT_EQ(StartupSteps::settingsKey(*keychain_), first);
    EXPECT_EQ(keychain_->dataForKey(item), first);

    // Empty or of the wrong length: nothing could be opened with it; replaced.
    for (const Bytes& broken : {Bytes{}, Bytes{1, 2, 3, 4, 5}, Bytes(33, 9)}) {
        keychain_->setData(broken, item);
        const Bytes key = StartupSteps::settingsKey(*keychain_);
        EXPECT_EQ(key.size(), 32u);
        EXPECT_NE(key, first);
        EXPECT_EQ(keychain_->dataForKey(item), key);
    }
}

TEST_F(StartupStepsTest, AKeyNothingCanStoreStopsTheStartBeforeAnySettingsFileIsWritten) {
    const fs::path old = TBNSettings::oldSettingFolder() / TBNSettings::kSettingsFileName;
    struct Case {
        const char* name;
        bool needsMount;
        // The keychain this start gets; `disk` is a full file system when mounted.
        std::function<std::shared_ptr<KeychainStore>(SmallTmpfs& disk)> keychain;
    };
    const std::vector<Case> cases = {
        // No keychain answers and there is no file store behind it.
        {"unavailable", false,
         [&](SmallTmpfs&) {
             store_->setAvailable(false);
             return store_;
         }},
        // The keyring refuses, and the key file's disk is full.
        {"refused, file disk full", true,
         [&](SmallTmpfs& disk) {
             store_->refuseToStore(kKeychainNotAvailable);
             disk.fill();
             return makeKeychainStore(store_, disk.path() / "Lumvane");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsMount && !test::inPrivateMountNamespace()) {
            std::cerr << "skipped (" << c.name << "): " << test::privateMountNamespaceProblem()
                      << "\n";
            continue;
        }
        store_ = std::make_shared<FakeKeychain>();
        SmallTmpfs disk(32 * 1024);
        if (c.needsMount) ASSERT_TRUE(disk.mounted());
        TBNKeyChainManager keychain(c.keychain(disk));
        auto settings = newSettings();
        auto result = StartupSteps::runServiceSideSteps(keychain, *settings, settingFile_, old,
                                                        nullptr, nullptr);
        settings->waitForPendingSaves();
        EXPECT_FALSE(result.completed);
        ASSERT_TRUE(result.stopped);
        EXPECT_NE(result.stopped->find("key of the settings cannot be stored"), std::string::npos)
            << *result.stopped;
        // Nothing was written that the next start could not read.
        EXPECT_FALSE(fs::exists(settingFile_));
        EXPECT_FALSE(settings->isLoaded());
    }
}

TEST_F(StartupStepsTest, AKeyTheKeyringRefusesIsKeptInTheFileAndTheNextStartOpensTheSettings) {
    const fs::path old = TBNSettings::oldSettingFolder() / TBNSettings::kSettingsFileName;
    const fs::path folder = settingFile_.parent_path();
    // A Secret Service that answers but has no collection to store into.
    store_->refuseToStore(kKeychainNotAvailable);
    TBNKeyChainManager first(makeKeychainStore(store_, folder));
    auto before = newSettings();
    auto r1 =
        StartupSteps::runServiceSideSteps(first, *before, settingFile_, old, nullptr, nullptr);
    ASSERT_TRUE(r1.completed);
    ASSERT_TRUE(r1.keychainNotice);
    EXPECT_NE(r1.keychainNotice->find(folder.string()), std::string::npos) << *r1.keychainNotice;
    EXPECT_NE(r1.keychainNotice->find("No keychain is available"), std::string::npos)
        << *r1.keychainNotice;
    auto device = std::make_shared<TBNOSXDeviceInfo>();
    device->setHardwareId("AA:BB:CC:DD:EE:FF");
    device->setDeviceId("phone-1");
    ASSERT_TRUE(before->addPairedDeviceWithClientSecret(device, "secret-1"));
    before->waitForPendingSaves();
    EXPECT_EQ(store_->itemCount(), 0u);
    struct stat st {};
    ASSERT_EQ(::stat((folder / FileKeychain::kFileName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The next start: the keyring still refuses; the key is found in the file.
    TBNKeyChainManager second(makeKeychainStore(store_, folder));
    auto after = newSettings();
    auto r2 =
        StartupSteps::runServiceSideSteps(second, *after, settingFile_, old, nullptr, nullptr);
    ASSERT_TRUE(r2.completed);
    EXPECT_EQ(r2.settingsAttempt, 1);
    EXPECT_FALSE(r2.settingsMovedAside);
    EXPECT_TRUE(after->isPairedDeviceByDeviceId(std::string("phone-1")));
    EXPECT_EQ(after->clientSecret(), std::optional<std::string>("secret-1"));
    EXPECT_EQ(r2.extensionCredentials, r1.extensionCredentials);
    // Said at every start the key lives there, without a refusal of this run to name.
    ASSERT_TRUE(r2.keychainNotice);
    EXPECT_EQ(r2.keychainNotice->find("refused"), std::string::npos) << *r2.keychainNotice;

    // A keyring that takes items again: the key already in the file stays the key.
    store_->refuseToStore(std::nullopt);
    TBNKeyChainManager third(makeKeychainStore(store_, folder));
    auto later = newSettings();
    auto r3 = StartupSteps::runServiceSideSteps(third, *later, settingFile_, old, nullptr, nullptr);
    ASSERT_TRUE(r3.completed);
    EXPECT_EQ(r3.settingsAttempt, 1);
    EXPECT_TRUE(later->isPairedDeviceByDeviceId(std::string("phone-1")));
}

TEST_F(StartupStepsTest, AnUnreadableKeychainWithSettingsThereStopsAndLeavesThemAlone) {
    const fs::path old = TBNSettings::oldSettingFolder() / TBNSettings::kSettingsFileName;
    auto first = newSettings();
    ASSERT_TRUE(
        StartupSteps::runServiceSideSteps(*keychain_, *first, settingFile_, old, nullptr, nullptr)
            .completed);
    first->waitForPendingSaves();
    const Bytes sealed = readBytes(settingFile_);
    const auto files = settingsFolderFiles();

    // A locked keyring: no key can be read, and a fresh one would not open the file.
    store_->setAvailable(false);
    auto second = newSettings();
    auto result =
        StartupSteps::runServiceSideSteps(*keychain_, *second, settingFile_, old, nullptr, nullptr);
    second->waitForPendingSaves();
    ASSERT_TRUE(result.stopped);
    EXPECT_NE(result.stopped->find(settingFile_.string()), std::string::npos);
    EXPECT_EQ(readBytes(settingFile_), sealed);
    EXPECT_EQ(settingsFolderFiles(), files);

    // Unlocked again: everything is where it was.
    store_->setAvailable(true);
    auto third = newSettings();
    auto again =
        StartupSteps::runServiceSideSteps(*keychain_, *third, settingFile_, old, nullptr, nullptr);
    EXPECT_TRUE(again.completed);
    EXPECT_EQ(again.settingsAttempt, 1);
}

TEST_F(StartupStepsTest, SettingsOpenWithTheKeyOnLaterStarts) {
    const Bytes key = StartupSteps::settingsKey(*keychain_);
    auto first = newSettings();
    EXPECT_EQ(StartupSteps::loadSettings(*first, settingFile_, key), 1);
    first->approveExtForClientId(std::string("ID1"), std::string("SECRET1"));
    first->waitForPendingSaves();

    auto second = newSettings();
    EXPECT_EQ(StartupSteps::loadSettings(*second, settingFile_, key), 1);
    EXPECT_TRUE(second->isApprovedExtensionClient(std::string("ID1"), std::string("SECRET1")));
}

TEST_F(StartupStepsTest, AFileOfTheOldFixedKeyIsResealedUnderTheKeychainKey) {
    const Bytes oldKey =
        TBNCryptHash::sha256FromString(std::string(StartupSteps::kOldSettingsKeyPhrase));
    auto old = newSettings();
    old->loadBySettingsClass(settingFile_);
    old->decryptEncryptedSettingsByKey(oldKey);
    old->approveExtForClientId(std::string("OLD"), std::string("S"));
    old->waitForPendingSaves();

    const Bytes key = StartupSteps::settingsKey(*keychain_);
    auto upgraded = newSettings();
    EXPECT_EQ(StartupSteps::loadSettings(*upgraded, settingFile_, key), 2);
    EXPECT_TRUE(upgraded->isApprovedExtensionClient(std::string("OLD"), std::string("S")));
    upgraded->waitForPendingSaves();

    // The next start needs no fallback.
    auto next = newSettings();
    EXPECT_EQ(StartupSteps::loadSettings(*next, settingFile_, key), 1);
    EXPECT_TRUE(next->isApprovedExtensionClient(std::string("OLD"), std::string("S")));
}

TEST_F(StartupStepsTest, AFileNeitherKeyOpensIsMovedAsideNotDeleted) {
    Bytes otherKey(32, 0x5a);
    auto other = newSettings();
    other->loadBySettingsClass(settingFile_);
    other->decryptEncryptedSettingsByKey(otherKey);
    other->approveExtForClientId(std::string("LOST"), std::string("S"));
    other->waitForPendingSaves();
    const Bytes original = readBytes(settingFile_);
    ASSERT_FALSE(original.empty());

    const Bytes key = StartupSteps::settingsKey(*keychain_);
    auto fresh = newSettings();
    EXPECT_EQ(StartupSteps::loadSettings(*fresh, settingFile_, key), 3);
    EXPECT_FALSE(fresh->isApprovedExtensionClient(std::string("LOST"), std::string("S")));
    fresh->waitForPendingSaves();

    // The unreadable file is still there under another name, byte for byte.
    bool kept = false;
    for (const auto& name : settingsFolderFiles()) {
        const fs::path p = settingFile_.parent_path() / name;
        if (p != settingFile_ && readBytes(p) == original) kept = true;
    }
    EXPECT_TRUE(kept);
    // And the new file opens with the keychain key.
    auto next = newSettings();
    EXPECT_EQ(StartupSteps::loadSettings(*next, settingFile_, key), 1);
}

TEST_F(StartupStepsTest, ExtensionCredentialsByItemContent) {
    const std::string item = StartupSteps::kExtensionCredentialsItem;
    struct Case {
        const char* name;
        std::optional<Bytes> stored;  // nothing: no item
        bool approved;
        std::optional<std::pair<std::string, std::string>> pair;  // for a stored pair
    };
    const std::vector<Case> cases = {
        {"one colon", bytesOf("CID:SECRET"), true, std::make_pair("CID", "SECRET")},
        {"two colons", bytesOf("A:B:C"), false, std::nullopt},
        {"no colon", bytesOf("ABC"), false, std::nullopt},
        {"empty client id", bytesOf(":SECRET"), false, std::nullopt},
        {"empty secret", bytesOf("CID:"), false, std::nullopt},
        {"not text", Bytes{0xff, 0xfe, ':', 0xc0}, false, std::nullopt},
    };
    auto settings = newSettings();
    ASSERT_EQ(
        StartupSteps::loadSettings(*settings, settingFile_, StartupSteps::settingsKey(*keychain_)),
        1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        keychain_->setData(*c.stored, item);
        auto got = StartupSteps::approveExtensionCredentials(*keychain_, *settings);
        EXPECT_EQ(got.has_value(), c.approved);
        if (c.pair) {
            ASSERT_TRUE(got);
            EXPECT_EQ(*got, *c.pair);
            EXPECT_TRUE(settings->isApprovedExtensionClient(c.pair->first, c.pair->second));
        }
        // What is not used is left exactly as it was.
        EXPECT_EQ(keychain_->dataForKey(item), *c.stored);
    }
    EXPECT_FALSE(settings->isApprovedExtensionClient(std::string("A")));
    EXPECT_FALSE(settings->isApprovedExtensionClient(std::string("")));
}

TEST_F(StartupStepsTest, MissingOrEmptyCredentialsGetAFreshApprovedPair) {
    const std::string item = StartupSteps::kExtensionCredentialsItem;
    auto settings = newSettings();
    StartupSteps::loadSettings(*settings, settingFile_, StartupSteps::settingsKey(*keychain_));

    for (bool emptyItem : {false, true}) {
        SCOPED_TRACE(emptyItem ? "empty item" : "no item");
        if (emptyItem) keychain_->setData(Bytes{}, item);
        auto got = StartupSteps::approveExtensionCredentials(*keychain_, *settings);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->first.size(), 36u);
        EXPECT_EQ(got->second.size(), 36u);
        EXPECT_NE(got->first, got->second);
        EXPECT_TRUE(settings->isApprovedExtensionClient(got->first, got->second));
        const auto text = keychain_->stringForKey(item);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, got->first + ":" + got->second);
        EXPECT_EQ(text->size(), 73u);
    }

    // A keychain that cannot store still leaves the pair approved for this run.
    store_->setAvailable(false);
    auto unstored = StartupSteps::approveExtensionCredentials(*keychain_, *settings);
    ASSERT_TRUE(unstored);
    EXPECT_TRUE(settings->isApprovedExtensionClient(unstored->first, unstored->second));
}

TEST_F(StartupStepsTest, OldSettingsFileMovesOnlyWhenNoNewOneExists) {
    const fs::path old = TBNSettings::oldSettingFolder() / TBNSettings::kSettingsFileName;
    fs::create_directories(old.parent_path());
    std::ofstream(old) << "old";
    EXPECT_TRUE(StartupSteps::moveOldSettingsFile(settingFile_, old));
    EXPECT_FALSE(fs::exists(old));
    EXPECT_EQ(readBytes(settingFile_), bytesOf("old"));

    std::ofstream(old) << "older";
    EXPECT_FALSE(StartupSteps::moveOldSettingsFile(settingFile_, old));
    EXPECT_EQ(readBytes(settingFile_), bytesOf("old"));
    EXPECT_TRUE(fs::exists(old));
}

TEST_F(StartupStepsTest, LogLevelIsAppliedAndDisabledValuesStoredBackAsZero) {
    auto settings = newSettings();
    StartupSteps::loadSettings(*settings, settingFile_, StartupSteps::settingsKey(*keychain_));
    const uint64_t before = TBNLogger::maxLevel();
    struct Case {
        int32_t stored;
        int32_t after;
        uint64_t mask;
    };
    for (const Case& c : {Case{13, 13, kTBNLogLevelVerbose}, Case{2, 0, kTBNLogLevelOff},
                          Case{11, 11, kTBNLogLevelInfo}, Case{1, 0, kTBNLogLevelOff},
                          Case{12, 12, kTBNLogLevelDebug}}) {
        SCOPED_TRACE(c.stored);
        settings->setLoggingLevel(c.stored);
        StartupSteps::applyLogLevel(*settings, nullptr, nullptr);
        EXPECT_EQ(settings->loggingLevel(), c.after);
        EXPECT_EQ(TBNLogger::maxLevel(), c.mask);
    }
    TBNLogger::setMaxLevel(before);
}

TEST_F(StartupStepsTest, TwoStartsShareKeyCredentialsAndSettings) {
    const fs::path old = TBNSettings::oldSettingFolder() / TBNSettings::kSettingsFileName;
    const uint64_t level = TBNLogger::maxLevel();
    auto first = newSettings();
    auto r1 =
        StartupSteps::runServiceSideSteps(*keychain_, *first, settingFile_, old, nullptr, nullptr);
    ASSERT_TRUE(r1.completed);
    EXPECT_EQ(r1.settingsAttempt, 1);
    EXPECT_FALSE(r1.settingsMovedAside);
    ASSERT_TRUE(r1.extensionCredentials);
    // The upgrade filled the defaults.
    EXPECT_TRUE(first->clientId().has_value());
    EXPECT_EQ(first->appVersion(), std::optional<std::string>("1.0.0.0"));
    first->waitForPendingSaves();

    auto second = newSettings();
    auto r2 =
        StartupSteps::runServiceSideSteps(*keychain_, *second, settingFile_, old, nullptr, nullptr);
    ASSERT_TRUE(r2.completed);
    EXPECT_EQ(r2.settingsAttempt, 1);
    EXPECT_FALSE(r2.settingsMovedAside);
    EXPECT_EQ(r2.extensionCredentials, r1.extensionCredentials);
    EXPECT_EQ(second->clientId(), first->clientId());
    EXPECT_TRUE(second->isApprovedExtensionClient(r1.extensionCredentials->first,
                                                  r1.extensionCredentials->second));
    TBNLogger::setMaxLevel(level);
}

TEST_F(StartupStepsTest, ASettingsFileMovedAsideIsReportedWithItsNewPlace) {
    const fs::path old = TBNSettings::oldSettingFolder() / TBNSettings::kSettingsFileName;
    struct Case {
        const char* name;
        std::function<void()> spoil;
    };
    const std::vector<Case> cases = {
        // Not a settings file at all: the store itself moves it aside while loading.
        {"garbage",
         [&] {
             fs::create_directories(settingFile_.parent_path());
             std::ofstream(settingFile_, std::ios::binary | std::ios::trunc) << "garbage";
         }},
        // A settings file that neither the keychain key nor the old key opens.
        {"foreign key",
         [&] {
             auto other = newSettings();
             other->loadBySettingsClass(settingFile_);
             other->decryptEncryptedSettingsByKey(Bytes(32, 7));
             other->waitForPendingSaves();
             store_->deleteItem(StartupSteps::kSettingsKeyItem);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ec;
        fs::remove_all(settingFile_.parent_path(), ec);
        c.spoil();
        const Bytes spoiled = readBytes(settingFile_);
        auto settings = newSettings();
        auto result = StartupSteps::runServiceSideSteps(*keychain_, *settings, settingFile_, old,
                                                        nullptr, nullptr);
        settings->waitForPendingSaves();
        ASSERT_TRUE(result.completed);
        ASSERT_TRUE(result.settingsMovedAside);
        EXPECT_EQ(result.settingsMovedAside->parent_path(), settingFile_.parent_path());
        EXPECT_EQ(readBytes(*result.settingsMovedAside), spoiled);
        const std::string text = StartupSteps::movedAsideText(*result.settingsMovedAside);
        EXPECT_NE(text.find(result.settingsMovedAside->string()), std::string::npos);

        // The next start finds the new file and reports nothing, though the old one stays.
        auto next = newSettings();
        auto again = StartupSteps::runServiceSideSteps(*keychain_, *next, settingFile_, old,
                                                       nullptr, nullptr);
        next->waitForPendingSaves();
        EXPECT_FALSE(again.settingsMovedAside);
        EXPECT_TRUE(fs::exists(*result.settingsMovedAside));
    }
}

TEST_F(StartupStepsTest, ManifestsAreWrittenForTheInstalledBrowsersAndNamedInOneLine) {
    const fs::path home = root_ / "browser-home";
    BrowserIntegrationOptions options;
    options.environment = BrowserEnvironment::underHome(home.string());
    options.executablePath = "/opt/lumvane/bin/lumvane";

    TBNBrowserExtensionManager none(options);
    EXPECT_TRUE(StartupSteps::installNativeMessagingManifests(none).empty());
    EXPECT_NE(StartupSteps::manifestsText({}).find("no supported browser"), std::string::npos);

    for (const char* desktop : {"firefox.desktop", "google-chrome.desktop"}) {
        fs::create_directories(home / ".local/share/applications");
        std::ofstream(home / ".local/share/applications" / desktop) << "[Desktop Entry]\n";
    }
    TBNBrowserExtensionManager manager(options);
    const auto browsers = StartupSteps::installNativeMessagingManifests(manager);
    EXPECT_EQ(browsers, (std::vector<std::string>{"Chrome", "Firefox"}));
    for (TBNBrowser browser : {TBNBrowser::Chrome, TBNBrowser::Firefox}) {
        const fs::path manifest = fs::path(manager.manifestFolder(browser)) /
                                  TBNBrowserExtensionManager::kManifestFileName;
        EXPECT_NE(readBytes(manifest).size(), 0u) << manifest;
    }
    EXPECT_FALSE(fs::exists(fs::path(manager.manifestFolder(TBNBrowser::Edge))));
    EXPECT_EQ(StartupSteps::manifestsText(browsers),
              "native-messaging host registered with Chrome, Firefox");
}

TEST(StartupExceptionScope, AnExceptionSkipsTheRemainingStepsAndIsReported) {
    std::vector<int> ran;
    auto failure = StartupSteps::runInExceptionScope([&] {
        ran.push_back(1);
        throw std::runtime_error("the status item cannot be made");
    });
    ASSERT_TRUE(failure);
    EXPECT_EQ(*failure, "the status item cannot be made");
    EXPECT_EQ(ran, std::vector<int>{1});
    EXPECT_EQ(StartupSteps::runInExceptionScope([] { throw 7; }), "unknown exception");
    EXPECT_FALSE(StartupSteps::runInExceptionScope([&] { ran.push_back(3); }));
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
}

}  // namespace
}  // namespace lumvane
