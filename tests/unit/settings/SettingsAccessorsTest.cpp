// Scalar preferences, the rating state and the pong flags word.
#include <condition_variable>
#include <future>
#include <mutex>

#include "SettingsTestSupport.h"
#include "runtime/TBNUtil.h"

namespace lumvane::settingstest {
namespace {

TEST(SettingsPongFlags, LogLevelBits) {
    const std::vector<std::pair<int32_t, int64_t>> cases = {
        {10, 0}, {11, 1}, {12, 2}, {13, 3}, {14, 0}, {-1, 0}, {0, 0}, {2, 0}};
    for (auto [level, bits] : cases) {
        EXPECT_EQ(TBNSettings::getPongFlagsFromLoggingLevel(level), bits) << level;
    }
}

TEST_F(SettingsTest, PongFlagsWord) {
    struct Case {
        int32_t level;
        bool reports, extended, paired, online;
        int64_t word;
    };
    const std::vector<Case> cases = {
        {12, true, false, true, false, 22},
        {0, false, false, false, false, 32},
        {13, true, true, true, true, 15},
    };
    auto store = startStore();
    for (const auto& c : cases) {
        store->setLoggingLevel(c.level);
        store->setSendReports(c.reports);
        store->setExtensionExtendedMode(c.extended);
        store->removeAllDevices();
        if (c.paired) store->addPairedDevice(phone("H", "D", c.online));
        EXPECT_EQ(store->pongFlags(), c.word) << c.level;
    }
}

// The word is asked on every ping: once read it is answered without the queue, so a ping
// does not wait behind whatever the queue is busy with, and every change drops it.
TEST_F(SettingsTest, PongFlagsAreKeptUntilAChange) {
    auto store = startStore();
    store->setLoggingLevel(12);
    store->addPairedDevice(phone("H", "D", true));
    EXPECT_EQ(store->pongFlags(), 2);

    // The queue is held by a long block: the word comes all the same.
    std::mutex mutex;
    std::condition_variable cond;
    bool open = false, holding = false;
    store->rwDispatchQueue()->asyncBarrier([&] {
        std::unique_lock<std::mutex> lock(mutex);
        holding = true;
        cond.notify_all();
        cond.wait(lock, [&] { return open; });
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        cond.wait(lock, [&] { return holding; });
    }
    auto word = std::async(std::launch::async, [&] { return store->pongFlags(); });
    const bool answered = word.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
    }
    cond.notify_all();
    ASSERT_TRUE(answered) << "the word waited for the queue";
    EXPECT_EQ(word.get(), 2);

    // Each change is seen by the first read after it.
    struct Change {
        const char* what;
        std::function<void()> make;
        int64_t word;
    };
    const std::vector<Change> changes = {
        {"phone offline", [&] {
             store->updateDeviceInfoWithDeviceId(std::string("D"), std::string("H"), 0, {}, {}, {},
                                                 0, 0, {}, {}, 0, false);
         }, 18},
        {"reports on", [&] { store->setSendReports(true); }, 22},
        {"a block of its own", [&] {
             store->updateSettings([](TBNSettings& s) -> TBNSettingsComponents {
                 s.osxSettings().setExtensionExtendedMode(true);
                 return 0;
             });
         }, 30},
        // Read inside a change, before the change: the next read still sees the change.
        {"read inside the block", [&] {
             store->updateSettings([](TBNSettings& s) -> TBNSettingsComponents {
                 (void)s.pongFlags();
                 s.osxSettings().setLoggingLevel(13);
                 return 0;
             });
         }, 31},
        {"unpaired", [&] { store->removeAllDevices(); }, 47},
    };
    for (const auto& c : changes) {
        c.make();
        EXPECT_EQ(store->pongFlags(), c.word) << c.what;
        EXPECT_EQ(store->pongFlags(), c.word) << c.what << ", read again";
    }
}

TEST_F(SettingsTest, RatingTrigger) {
    auto store = startStore();
    const int64_t start = 1'700'000'000;
    auto setCounter = [&](int16_t v) {
        store->updateSettings([v](TBNSettings& s) -> TBNSettingsComponents {
            s.osxSettings().setRateTriggerCounter(v);
            return 0;
        });
    };
    // The upgrade started the countdown at 10 with the start time.
    EXPECT_FALSE(store->showRateView());
    setCounter(0);
    setWallSeconds(static_cast<double>(start));
    EXPECT_FALSE(store->showRateView()) << "not past the stored second yet";
    setWallSeconds(start + 0.5);
    EXPECT_TRUE(store->showRateView());
    setCounter(1);
    EXPECT_FALSE(store->showRateView());

    store->rateTriggerTick();
    EXPECT_TRUE(store->showRateView()) << "the tick brought the counter to 0";
    store->rateTriggerTick();
    EXPECT_EQ(store->valueFromSettings<int64_t>([](TBNSettings& s) -> std::optional<int64_t> {
        return s.osxSettings().rateTriggerCounter();
    }),
              0);
    setCounter(-3);
    store->rateTriggerTick();
    EXPECT_EQ(store->valueFromSettings<int64_t>([](TBNSettings& s) -> std::optional<int64_t> {
        return s.osxSettings().rateTriggerCounter();
    }),
              -3);

    setCounter(0);
    store->skipRate();  // later: one day
    EXPECT_FALSE(store->showRateView());
    setWallSeconds(start + 86400.5);
    EXPECT_TRUE(store->showRateView());
    store->successRate();
    EXPECT_FALSE(store->showRateView());
}

TEST_F(SettingsTest, LastBackupTimeIsWholeSecondsTruncatedTowardZero) {
    auto store = startStore();
    using namespace std::chrono;
    auto at = [](double s) {
        return TBNSettings::Date(duration_cast<system_clock::duration>(duration<double>(s)));
    };
    EXPECT_EQ(store->lastBackupTime(), TBNSettings::Date{}) << "unset reads as 1970";
    const std::vector<std::pair<double, int64_t>> cases = {{1.9, 1}, {-0.5, 0}, {1e9 + 0.99, 1000000000}};
    for (auto [given, stored] : cases) {
        store->setLastBackupTime(at(given));
        EXPECT_EQ(store->lastBackupTime(), TBNSettings::Date(seconds(stored))) << given;
    }
    store->setLastBackupTime(std::nullopt);
    EXPECT_EQ(store->lastBackupTime(), TBNSettings::Date{});
}

// Every setter writes the field its getter reads, reports its mask, and (for the two
// persistent records) the value is in the file.
TEST_F(SettingsTest, EverySetterWritesItsFieldAndReportsItsMask) {
    auto store = startStore();
    auto observer = std::make_shared<RecordingDelegate>();
    store->addDelegate(observer);
    struct Row {
        const char* name;
        std::function<void(TBNSettings&)> set;
        std::function<bool(TBNSettings&)> check;
        TBNSettingsComponents mask;
    };
    const std::vector<Row> rows = {
        {"clientId", [](auto& s) { s.setClientId(std::string("c")); },
         [](auto& s) { return s.clientId() == "c"; }, 0},
        {"startAtLogin", [](auto& s) { s.setStartAtLogin(false); },
         [](auto& s) { return !s.startAtLogin(); }, 0},
        {"sendReports", [](auto& s) { s.setSendReports(true); },
         [](auto& s) { return s.sendReports(); }, 0},
        {"resetSendReports", [](auto& s) { s.setResetSendReports(true); },
         [](auto& s) { return s.resetSendReports(); }, 0},
        {"loggingLevel", [](auto& s) { s.setLoggingLevel(13); },
         [](auto& s) { return s.loggingLevel() == 13; }, 0},
        {"clientSecret", [](auto& s) { s.setClientSecret(std::string("x")); },
         [](auto& s) { return s.clientSecret() == "x"; }, 0},
        {"backupLocation", [](auto& s) { s.setBackupLocation(std::string("/b")); },
         [](auto& s) { return s.backupLocation() == "/b"; }, 0},
        {"altBackupLocation", [](auto& s) { s.setAltBackupLocation(std::string("/a")); },
         [](auto& s) { return s.altBackupLocation() == "/a"; }, 0},
        {"lastBackupFilePath", [](auto& s) { s.setLastBackupFilePath(std::string("/f")); },
         [](auto& s) { return s.lastBackupFilePath() == "/f"; }, 0},
        {"userChangedBackupLocation", [](auto& s) { s.setUserChangedBackupLocation(true); },
         [](auto& s) { return s.userChangedBackupLocation(); }, 0},
        {"lastSafariExtVersion", [](auto& s) { s.setLastSafariExtVersion(std::string("1")); },
         [](auto& s) { return s.lastSafariExtVersion() == "1"; }, 0},
        {"lastChromeExtVersion", [](auto& s) { s.setLastChromeExtVersion(std::string("2")); },
         [](auto& s) { return s.lastChromeExtVersion() == "2"; }, 0},
        {"paused", [](auto& s) { s.setPaused(true); }, [](auto& s) { return s.paused(); },
         TBNSettingsComponentPaused},
        {"osxExtendedMode", [](auto& s) { s.setOsxExtendedMode(true); },
         [](auto& s) { return s.osxExtendedMode(); }, TBNSettingsComponentSwitches},
        {"extensionExtendedMode", [](auto& s) { s.setExtensionExtendedMode(true); },
         [](auto& s) { return s.extensionExtendedMode(); }, TBNSettingsComponentSwitches},
        {"updateToPrerelease", [](auto& s) { s.setUpdateToPrerelease(true); },
         [](auto& s) { return s.updateToPrerelease(); }, TBNSettingsComponentSwitches},
        {"enableBLETesting", [](auto& s) { s.setEnableBLETesting(true); },
         [](auto& s) { return s.enableBLETesting(); }, TBNSettingsComponentSwitches},
        {"supportYubiKey", [](auto& s) { s.setSupportYubiKey(true); },
         [](auto& s) { return s.supportYubiKey(); }, TBNSettingsComponentSwitches},
        {"firstFillGuideShowed", [](auto& s) { s.setFirstFillGuideShowed(true); },
         [](auto& s) { return s.firstFillGuideShowed(); }, 0},
        {"doneWizard", [](auto& s) { s.setDoneWizard(true); },
         [](auto& s) { return s.doneWizard(); }, 0},
        {"skipUntilOnline", [](auto& s) { s.setSkipUntilOnline(true); },
         [](auto& s) { return s.skipUntilOnline(); }, TBNSettingsComponentSession},
        {"wizardSafariState", [](auto& s) { s.setWizardSafariState(1); },
         [](auto& s) { return s.wizardSafariState() == 1; }, TBNSettingsComponentSession},
        {"wizardChromeState", [](auto& s) { s.setWizardChromeState(1); },
         [](auto& s) { return s.wizardChromeState() == 1; }, TBNSettingsComponentSession},
        {"expectedDeviceId", [](auto& s) { s.setExpectedDeviceId(std::string("D")); },
         [](auto& s) { return s.expectedDeviceId() == "D"; }, TBNSettingsComponentSession},
        {"pairingHardwareId", [](auto& s) { s.setPairingHardwareId(std::string("H")); },
         [](auto& s) { return s.pairingHardwareId() == "H"; }, TBNSettingsComponentSession},
        {"generatorSettings",
         [](auto& s) {
             s.setGeneratorSettings(std::make_shared<TBNGeneratorSettings>(
                 3, std::make_shared<TBNGeneratorConfig>(9, 0, 0, 0, 0, true, true, true)));
         },
         [](auto& s) { return s.generatorSettings()->config()->lenght() == 9; },
         TBNSettingsComponentGenerator},
        {"clientCert",
         [](auto& s) { s.setClientCert(std::make_shared<TBNCertSettings>(1, "p", "k", "c")); },
         [](auto& s) { return s.clientCert() && s.clientCert()->cert() == "c"; },
         TBNSettingsComponentClientCert},
    };
    size_t told = 0;
    for (const auto& row : rows) {
        observer->clear();
        told = 0;
        (void)row.check(*store);  // fill the cache with the old value first
        row.set(*store);
        EXPECT_TRUE(row.check(*store)) << row.name;
        ASSERT_TRUE(observer->waitForCount(++told)) << row.name;
        EXPECT_EQ(observer->masks().at(0), row.mask) << row.name;
    }
    store->waitForPendingSaves();
    // After a restart the persistent values are still there; the session ones are not.
    auto again = startStore(false);
    for (const auto& row : rows) {
        const std::string name = row.name;
        const bool session = name == "skipUntilOnline" || name == "wizardSafariState" ||
                             name == "wizardChromeState" || name == "expectedDeviceId" ||
                             name == "pairingHardwareId";
        EXPECT_EQ(row.check(*again), !session) << name;
    }
}

TEST_F(SettingsTest, AppVersionCodeFollowsTheRecordedVersion) {
    auto store = startStore();
    EXPECT_EQ(store->appVersion(), "1.2.3.4");
    EXPECT_EQ(store->appVersionCode(), 0x01020304u);
}

TEST_F(SettingsTest, FoldersFollowTheDataHome) {
    EXPECT_EQ(TBNSettings::settingFolder(), Paths::settingsFolder());
    EXPECT_EQ(TBNSettings::logsFolder(), TBNSettings::settingFolder() / "logs");
    EXPECT_EQ(TBNSettings::settingFolder().filename(), "Lumvane");
    EXPECT_EQ(TBNSettings::oldSettingFolder().parent_path().filename(), "Tobrin");
    EXPECT_EQ(TBNSettings::settingsFilePath().filename(), "settings.tbnlmveprf");
    EXPECT_FALSE(TBNSettings::isDebugVersion());
}

}  // namespace
}  // namespace lumvane::settingstest
