// The upgrade run at every start.
#include "SettingsTestSupport.h"

namespace lumvane::settingstest {
namespace {

using Change = std::function<void(TBNOSXSettings&, TBNOSXEncryptedSettings&)>;

class UpgradeTest : public SettingsTest {
  protected:
    // A settings file holding what `change` sets, as an older version left it.
    void prepareFile(const Change& change) {
        auto store = startStore(false);
        store->updateSettings([change](TBNSettings& s) -> TBNSettingsComponents {
            change(s.osxSettings(), s.osxEncryptedSettings());
            return 0;
        });
        store->waitForPendingSaves();
    }
    template <class T>
    T read(const std::shared_ptr<TBNSettings>& s, std::function<T(TBNSettings&)> f) {
        return *s->valueFromSettings<T>([&](TBNSettings& st) -> std::optional<T> { return f(st); });
    }
};

TEST_F(UpgradeTest, AnEmptyFileGetsEveryDefault) {
    auto store = makeStore();
    auto observer = std::make_shared<RecordingDelegate>();
    store->addDelegate(observer);
    store->loadBySettingsClass(filePath());
    store->decryptEncryptedSettingsByKey(testKey());
    observer->waitForCount(2);
    observer->clear();
    store->upgrade();
    store->waitForPendingSaves();
    ASSERT_TRUE(observer->waitForCount(1));
    EXPECT_EQ(observer->masks()[0], 0u);

    EXPECT_TRUE(store->startAtLogin());
    EXPECT_FALSE(store->doneWizard());
    ASSERT_TRUE(store->clientId());
    EXPECT_EQ(store->clientId()->size(), 36u);
    auto g = store->generatorSettings();
    EXPECT_EQ(*g, TBNGeneratorSettings(99, std::make_shared<TBNGeneratorConfig>(20, 30, 0, 0, 50, true, false, true)));
    EXPECT_EQ(store->loggingLevel(), 11);
    EXPECT_EQ(store->lastSafariExtVersion(), "");
    EXPECT_EQ(store->lastChromeExtVersion(), "");
    EXPECT_FALSE(store->paused() || store->osxExtendedMode() || store->extensionExtendedMode() ||
                 store->updateToPrerelease() || store->enableBLETesting() ||
                 store->firstFillGuideShowed());
    EXPECT_TRUE(read<bool>(store, [](TBNSettings& s) {
        auto& r = s.osxSettings();
        return r.pairedDevices() && r.pairedDevices()->empty() && r.pairedDeviceIdMap() &&
               r.blecPeripherals() && r.approvedExtIdMap() && r.chooseAccounts() &&
               r.chooseAccountsCache() && !r.sendReportsIsSet() && !r.resetSendReportsIsSet() &&
               r.pausedIsSet() && !r.skipRate() && r.rateTriggerCounter() == 10 &&
               r.nextRateTime() == 1'700'000'000;
    }));
    EXPECT_EQ(store->appVersion(), "1.2.3.4");
    const fs::path backups = Paths::documentsFolder() / "Lumvane";
    EXPECT_EQ(store->backupLocation(), backups.string());
    // The folder comes with the first backup, not with the settings.
    EXPECT_FALSE(fs::exists(backups));
    EXPECT_FALSE(store->userChangedBackupLocation());
    ASSERT_TRUE(store->clientSecretKey());
    EXPECT_EQ(store->clientSecretKey()->size(), 44u);
    EXPECT_TRUE(read<bool>(store, [](TBNSettings& s) {
        auto& x = s.osxSessionSettings();
        return x.onlineDevices() && x.declinedDevices() && x.localSitesCache() &&
               x.skipUntilOnlineIsSet() && !x.skipUntilOnline();
    }));
    EXPECT_EQ(zone_->requests(), 0u);
}

TEST_F(UpgradeTest, LoggingLevelMigration) {
    for (auto [stored, upgraded] : std::vector<std::pair<int32_t, int32_t>>{
             {1, 11}, {2, 13}, {0, 0}, {12, 12}, {13, 13}}) {
        prepareFile([stored = stored](auto& r, auto&) { r.setLoggingLevel(stored); });
        auto store = startStore();
        EXPECT_EQ(store->loggingLevel(), upgraded) << stored;
    }
}

TEST_F(UpgradeTest, AnalyticsDefaultByLocationZone) {
    for (uint32_t zone : {0u, 1u, 2u}) {
        prepareFile([](auto& r, auto&) {
            r.setSendReports(false);
            r.unsetResetSendReports();
        });
        auto fake = std::make_shared<FakeLocationZone>(zone);
        auto store = makeStore(fake);
        store->loadBySettingsClass(filePath());
        store->decryptEncryptedSettingsByKey(testKey());
        store->upgrade();
        ASSERT_TRUE(fake->waitForRequests(1));
        store->waitForPendingSaves();
        EXPECT_EQ(store->sendReports(), zone == 0) << zone;
        EXPECT_EQ(store->resetSendReports(), zone == 0) << zone;
        // The rule ran once: a second start asks nothing.
        auto again = makeStore(fake);
        again->loadBySettingsClass(filePath());
        again->decryptEncryptedSettingsByKey(testKey());
        again->upgrade();
        again->waitForPendingSaves();
        EXPECT_EQ(fake->requests(), 1u);
    }
    // Reports already allowed: no question, the flag is settled.
    prepareFile([](auto& r, auto&) { r.setSendReports(true); r.unsetResetSendReports(); });
    auto store = startStore();
    EXPECT_FALSE(store->resetSendReports());
    EXPECT_TRUE(read<bool>(store, [](TBNSettings& s) { return s.osxSettings().resetSendReportsIsSet(); }));
    EXPECT_EQ(zone_->requests(), 0u);
}

TEST_F(UpgradeTest, NoZoneAnswerLeavesTheRuleForTheNextStartAndBlocksNobody) {
    prepareFile([](auto& r, auto&) { r.setSendReports(false); r.unsetResetSendReports(); });
    auto store = makeStore();  // zone_ answers only when told
    store->loadBySettingsClass(filePath());
    store->decryptEncryptedSettingsByKey(testKey());
    store->upgrade();
    ASSERT_TRUE(zone_->waitForRequests(1));
    // The store keeps working while the question is open.
    store->setPaused(true);
    EXPECT_TRUE(store->paused());
    store->waitForPendingSaves();

    clock_->advance(5.0);  // the wait is over
    EXPECT_EQ(zone_->answer(0), 1u) << "a late answer";
    store->waitForPendingSaves();
    EXPECT_FALSE(store->sendReports());
    EXPECT_FALSE(read<bool>(store, [](TBNSettings& s) { return s.osxSettings().resetSendReportsIsSet(); }));

    // Next start: asked again, and this time answered in time.
    auto next = makeStore();
    next->loadBySettingsClass(filePath());
    next->decryptEncryptedSettingsByKey(testKey());
    next->upgrade();
    ASSERT_TRUE(zone_->waitForRequests(2));
    clock_->advance(4.0);
    zone_->answer(0);
    next->waitForPendingSaves();
    EXPECT_TRUE(next->sendReports());
    EXPECT_TRUE(next->resetSendReports());
}

TEST_F(UpgradeTest, NewestBackupFileIsChosenOnce) {
    const fs::path backups = Paths::documentsFolder() / "Lumvane";
    fs::create_directories(backups);
    for (const char* name : {"backup_190101_120000.lmbk", "backup_200101_120000.lmbk", "notes.txt",
                             "zz.txt"}) {
        writeBytes(backups / name, Bytes(3, 1));
    }
    auto store = startStore();
    EXPECT_EQ(store->lastBackupFilePath(), (backups / "backup_200101_120000.lmbk").string());
    writeBytes(backups / "backup_210101_120000.lmbk", Bytes(3, 1));
    auto again = startStore();
    EXPECT_EQ(again->lastBackupFilePath(), (backups / "backup_200101_120000.lmbk").string());
}

TEST_F(UpgradeTest, AChosenBackupFolderIsKeptEvenWhenMissing) {
    prepareFile([](auto& r, auto&) {
        r.setUserChangedBackupLocation(true);
        r.setBackupLocation(std::string("/nonexistent/backups"));
    });
    auto store = startStore();
    EXPECT_EQ(store->backupLocation(), "/nonexistent/backups");
    EXPECT_FALSE(fs::exists(Paths::documentsFolder() / "Lumvane"));
}

TEST_F(UpgradeTest, GeneratorMigration) {
    prepareFile([](auto& r, auto&) {
        auto config = std::make_shared<TBNGeneratorConfig>();
        config->setLenght(16);
        config->setDigits(0);
        config->setSymbols(5);
        config->setCapitalization(30);
        r.setGenerator(std::make_shared<TBNGeneratorSettings>(3, config));
    });
    auto old = startStore()->generatorSettings();
    EXPECT_EQ(old->profile(), 99);
    EXPECT_FALSE(old->config()->useDigits());
    EXPECT_TRUE(old->config()->useSymbols());
    EXPECT_TRUE(old->config()->useCapitalization());
    EXPECT_EQ(old->config()->symbols(), 5) << "the percentages stay";

    prepareFile([](auto& r, auto&) {
        auto config = std::make_shared<TBNGeneratorConfig>();
        config->setUseCapitalization(false);
        r.setGenerator(std::make_shared<TBNGeneratorSettings>(3, config));
    });
    auto current = startStore()->generatorSettings();
    EXPECT_EQ(current->profile(), 3);
    EXPECT_FALSE(current->config()->useDigitsIsSet());
}

TEST_F(UpgradeTest, PerStartResets) {
    prepareFile([](auto& r, auto&) { r.setEnableBLETesting(true); });
    auto store = startStore();
    store->addPairedDevice(phone("H", "D", true, 1));
    auto sites = std::make_shared<TBNSitesCache>(9, std::make_shared<std::set<std::string>>(),
                                                 std::make_shared<std::map<std::string, std::shared_ptr<TBNAccountsCache>>>(),
                                                 nullptr);
    store->updateSitesCache(sites, std::string("H"));
    store->addOnlineDevice(phone("H2", "D2"));
    store->waitForPendingSaves();
    EXPECT_FALSE(store->enableBLETesting());

    auto next = startStore();
    auto device = next->firstPairedDevice();
    ASSERT_TRUE(device);
    EXPECT_FALSE(device->online());
    EXPECT_EQ(device->appState(), 0);
    ASSERT_TRUE(device->sitesCache());
    EXPECT_EQ(device->sitesCache()->updateTimeStamp(), 0) << "no protected set: refetch";
    EXPECT_TRUE(next->allOnlineDevices().empty());
    const auto secretKey = next->clientSecretKey();
    // The link key is made once; later starts keep it and the paired phone.
    auto third = startStore();
    EXPECT_EQ(third->clientSecretKey(), secretKey);
    EXPECT_TRUE(third->isPairedDeviceByHardwareId(std::string("H")));
}

TEST_F(UpgradeTest, WithoutTheSettingsKeyPairedPhonesAndTheLinkKeySurvive) {
    {
        auto store = startStore();
        store->addPairedDevice(phone("H", "D"));
        store->waitForPendingSaves();
    }
    const auto secretKey = openFile(filePath(), testKey()).encrypted->secretKey();
    auto store = makeStore();
    store->loadBySettingsClass(filePath());
    EXPECT_ANY_THROW(store->decryptEncryptedSettingsByKey(testKey(3)));
    store->upgrade();
    store->waitForPendingSaves();
    EXPECT_TRUE(store->isPairedDeviceByHardwareId(std::string("H")));
    EXPECT_EQ(openFile(filePath(), testKey()).encrypted->secretKey(), secretKey);
}

}  // namespace
}  // namespace lumvane::settingstest
