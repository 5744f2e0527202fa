// The store's core: loading, keys, saving, the value cache and the observers.
#include <sys/stat.h>

#include <thread>

#include "SettingsTestSupport.h"

namespace lumvane::settingstest {
namespace {

using Store = std::shared_ptr<TBNSettings>;

mode_t modeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 0777;
}

std::vector<fs::path> asideFiles(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().filename().string().find(".unreadable-") != std::string::npos) {
            found.push_back(e.path());
        }
    }
    return found;
}

TEST_F(SettingsTest, FirstStartCreatesPrivateFileAndTheKeyAddsTheEncryptedPart) {
    auto store = makeStore();
    store->loadBySettingsClass(filePath());
    store->waitForPendingSaves();

    ASSERT_TRUE(fs::exists(filePath()));
    EXPECT_EQ(modeOf(filePath()), 0600u);
    EXPECT_EQ(modeOf(filePath().parent_path()), 0700u);
    auto first = openFile(filePath(), std::nullopt);
    EXPECT_TRUE(first.blob.settingsIsSet());
    EXPECT_FALSE(first.blob.encryptedSettingsIsSet());

    store->decryptEncryptedSettingsByKey(testKey());
    store->waitForPendingSaves();
    auto second = openFile(filePath(), testKey());
    ASSERT_TRUE(second.blob.encryptedSettingsIsSet());
    ASSERT_TRUE(second.encrypted.has_value());
    EXPECT_EQ(store->key(), testKey());
    EXPECT_EQ(modeOf(filePath()), 0600u);
}

TEST_F(SettingsTest, ValuesOfBothPartsSurviveARestart) {
    {
        auto store = startStore(false);
        store->setClientId(std::string("mac-1"));
        store->setClientSecret(std::string("s3cret"));
        store->setLoggingLevel(12);
        store->waitForPendingSaves();
    }
    auto store = makeStore();
    store->loadBySettingsClass(filePath());
    EXPECT_EQ(store->clientId(), "mac-1");
    EXPECT_EQ(store->clientSecret(), std::nullopt) << "the encrypted part waits for the key";
    store->decryptEncryptedSettingsByKey(testKey());
    EXPECT_EQ(store->clientSecret(), "s3cret");
    EXPECT_EQ(store->loggingLevel(), 12);
    EXPECT_EQ(store->valueFromSettings<bool>([](TBNSettings& s) -> std::optional<bool> {
        return s.osxSettings().pausedIsSet();
    }),
              false)
        << "a field never set stays unset through the file";
}

TEST_F(SettingsTest, BytesAfterTheRecordAreIgnored) {
    {
        auto store = startStore(false);
        store->setClientId(std::string("with-tail"));
        store->waitForPendingSaves();
    }
    // Files written in place by earlier versions keep an old, longer content's tail.
    Bytes data = readBytes(filePath());
    for (int i = 0; i < 300; ++i) data.push_back(static_cast<uint8_t>(0xA5 ^ i));
    writeBytes(filePath(), data);

    auto store = startStore(false);
    EXPECT_EQ(store->clientId(), "with-tail");
    EXPECT_TRUE(asideFiles(filePath().parent_path()).empty());
}

TEST_F(SettingsTest, EverySaveDrawsFreshSalts) {
    auto store = startStore(false);
    Bytes before = readBytes(filePath());
    store->save();
    store->waitForPendingSaves();
    Bytes after = readBytes(filePath());
    EXPECT_NE(before, after);
    auto a = parseBlob(before);
    auto b = parseBlob(after);
    EXPECT_NE(a.settings(), b.settings());
    EXPECT_NE(a.encryptedSettings(), b.encryptedSettings());
}

TEST_F(SettingsTest, WrongKeyKeepsNoKeyAndTheEncryptedPartIsWrittenBackUnchanged) {
    {
        auto store = startStore(false);
        store->setClientSecret(std::string("keep-me"));
        store->waitForPendingSaves();
    }
    const auto originalPart = parseBlob(readBytes(filePath())).encryptedSettings();
    ASSERT_TRUE(originalPart.has_value());

    auto store = makeStore();
    store->loadBySettingsClass(filePath());
    EXPECT_ANY_THROW(store->decryptEncryptedSettingsByKey(testKey(99)));
    EXPECT_FALSE(store->key().has_value());

    store->setClientId(std::string("changed"));
    store->waitForPendingSaves();
    auto blob = parseBlob(readBytes(filePath()));
    EXPECT_EQ(blob.encryptedSettings(), originalPart);
    EXPECT_EQ(openFile(filePath(), std::nullopt).settings.clientId(), "changed");
    // The right key still opens it.
    EXPECT_EQ(openFile(filePath(), testKey()).encrypted->clientSecret(), "keep-me");
}

TEST_F(SettingsTest, MisuseRaisesWithFixedReasons) {
    auto store = makeStore();
    auto reason = [](const std::function<void()>& f) -> std::string {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(nothing raised)";
    };
    EXPECT_EQ(reason([&] { store->reloadBySettingsClass(); }), "Settings are not loaded");
    EXPECT_EQ(reason([&] { store->decryptEncryptedSettingsByKey(testKey()); }),
              "Settings are not loaded");
    store->loadBySettingsClass(filePath());
    EXPECT_EQ(reason([&] { store->loadBySettingsClass(filePath()); }),
              "Settings are already loaded");
    EXPECT_EQ(reason([&] { store->decryptEncryptedSettingsByKey(Bytes(16, 1)); }),
              "Invalid settings key");
    EXPECT_EQ(reason([&] { store->changeEncryptedSettingsKey(Bytes()); }), "Invalid settings key");
    EXPECT_FALSE(store->key().has_value());
}

TEST_F(SettingsTest, BeforeLoadingReadsGiveNothingAndChangesAreDropped) {
    auto store = makeStore();
    EXPECT_EQ(store->clientId(), std::nullopt);
    EXPECT_FALSE(store->paused());
    store->setClientId(std::string("too-early"));
    store->waitForPendingSaves();
    EXPECT_FALSE(fs::exists(filePath()));
    store->loadBySettingsClass(filePath());
    EXPECT_EQ(store->clientId(), std::nullopt);
}

struct Damage {
    const char* name;
    std::function<Bytes(const Bytes& good)> make;
};

class UnreadableFileTest : public SettingsTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(UnreadableFileTest, IsMovedAsideKeptByteForByteAndANewFileStarts) {
    {
        auto store = startStore(false);
        store->setClientId(std::string("old"));
        store->waitForPendingSaves();
    }
    const Bytes damaged = GetParam().make(readBytes(filePath()));
    writeBytes(filePath(), damaged);

    auto store = makeStore();
    store->loadBySettingsClass(filePath());
    store->waitForPendingSaves();

    auto aside = asideFiles(filePath().parent_path());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readBytes(aside[0]), damaged);
    EXPECT_NE(aside[0].filename().string().find("settings.tbnlmveprf.unreadable-20231114-"),
              std::string::npos)
        << aside[0];
    EXPECT_EQ(store->clientId(), std::nullopt);
    // The new file is whole and the store works on.
    store->decryptEncryptedSettingsByKey(testKey());
    store->setClientId(std::string("new"));
    store->waitForPendingSaves();
    EXPECT_EQ(openFile(filePath(), testKey()).settings.clientId(), "new");
}

INSTANTIATE_TEST_SUITE_P(
    Damages, UnreadableFileTest,
    ::testing::Values(
        Damage{"Empty", [](const Bytes&) { return Bytes(); }},
        Damage{"Garbage", [](const Bytes&) { return Bytes(100, 0x5A); }},
        Damage{"Truncated",
               [](const Bytes& good) { return Bytes(good.begin(), good.begin() + good.size() / 2); }},
        Damage{"CipherFlipped",
               [](const Bytes& good) {
                   Bytes b = good;
                   b[12] ^= 0xFF;  // inside the plain part's ciphertext
                   return b;
               }},
        Damage{"PlainPartMissing",
               [](const Bytes&) {
                   TBNSettingsBlob blob;
                   blob.setEncryptedSettings(Bytes(32, 1));
                   auto buffer = std::make_shared<apache::thrift::transport::TMemoryBuffer>();
                   apache::thrift::protocol::TBinaryProtocol p(buffer);
                   blob.write(&p);
                   std::string s = buffer->getBufferAsString();
                   return Bytes(s.begin(), s.end());
               }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, TwoUnreadableFilesInOneSecondGetDistinctNames) {
    for (int round = 0; round < 2; ++round) {
        fs::create_directories(filePath().parent_path());
        writeBytes(filePath(), Bytes(10, static_cast<uint8_t>(round)));
        auto store = makeStore();
        store->loadBySettingsClass(filePath());
        store->waitForPendingSaves();
    }
    EXPECT_EQ(asideFiles(filePath().parent_path()).size(), 2u);
}

TEST_F(SettingsTest, TemporaryFilesOfAKilledSaveAreRemovedAtLoad) {
    auto store = startStore(false);
    const fs::path stale = filePath().parent_path() / ".settings.tbnlmveprf.tmp-AbC123";
    writeBytes(stale, Bytes(5, 1));
    auto again = makeStore();
    again->loadBySettingsClass(filePath());
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(filePath()));
}

TEST_F(SettingsTest, ReloadDropsTheKeySoNothingIsSealedUnderAnUnprovenKey) {
    {
        auto store = startStore(false);
        store->setClientSecret(std::string("secret-A"));
        store->waitForPendingSaves();
    }
    auto store = startStore(false);
    store->reloadBySettingsClass();
    EXPECT_FALSE(store->key().has_value());
    store->setClientId(std::string("after-reload"));
    store->waitForPendingSaves();
    EXPECT_EQ(openFile(filePath(), testKey()).encrypted->clientSecret(), "secret-A");
    store->decryptEncryptedSettingsByKey(testKey());
    EXPECT_EQ(store->clientSecret(), "secret-A");
}

TEST_F(SettingsTest, ChangingTheKeyReSealsTheEncryptedPart) {
    auto store = startStore(false);
    store->setClientSecret(std::string("moving"));
    store->changeEncryptedSettingsKey(testKey(42));
    store->waitForPendingSaves();
    EXPECT_ANY_THROW(openFile(filePath(), testKey()));
    EXPECT_EQ(openFile(filePath(), testKey(42)).encrypted->clientSecret(), "moving");

    store->resetEncryptedSettings();
    store->waitForPendingSaves();
    // With the key held the next save writes the part again.
    EXPECT_TRUE(parseBlob(readBytes(filePath())).encryptedSettingsIsSet());
}

TEST_F(SettingsTest, MoveSettingsFileAsideKeepsTheFileAndReloadStartsANewOne) {
    auto store = startStore(false);
    store->setClientId(std::string("aside"));
    ASSERT_TRUE(store->moveSettingsFileAside());
    auto aside = asideFiles(filePath().parent_path());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(openFile(aside[0], std::nullopt).settings.clientId(), "aside");
    store->reloadBySettingsClass();
    store->decryptEncryptedSettingsByKey(testKey());
    store->waitForPendingSaves();
    EXPECT_TRUE(fs::exists(filePath()));
    EXPECT_EQ(store->clientId(), std::nullopt);
}

// ---- value cache --------------------------------------------------------------------------

TEST_F(SettingsTest, CacheHoldsValuesUntilAnUpdateOfTheirKey) {
    auto store = startStore(false);
    std::atomic<int> reads{0};
    TBNSettings::ReadBlock<std::string> read = [&](TBNSettings& s) -> std::optional<std::string> {
        ++reads;
        return s.osxSettings().clientId();
    };
    store->updateSettings([](TBNSettings& s) -> TBNSettingsComponents {
        s.osxSettings().setClientId(std::string("v1"));
        return 0;
    });
    EXPECT_EQ(store->strValueFromCacheForKey(std::string("k"), read), "v1");
    EXPECT_EQ(store->strValueFromCacheForKey(std::string("k"), read), "v1");
    EXPECT_EQ(reads.load(), 1);

    store->updateForCacheKey(std::string("k"), [&](TBNSettings& s) -> TBNSettingsComponents {
        s.osxSettings().setClientId(std::string("v2"));
        return 0;
    });
    // The key is out of the cache as soon as the change is handed over: the next read
    // waits for the change and runs its block again.
    EXPECT_EQ(store->strValueFromCacheForKey(std::string("k"), read), "v2");
    EXPECT_EQ(reads.load(), 2);
    EXPECT_EQ(store->strValueFromCacheForKey(std::string("k"), read), "v2");
    EXPECT_EQ(reads.load(), 2);

    // Without key nothing is cached.
    EXPECT_EQ(store->strValueFromSettings(read), "v2");
    EXPECT_EQ(store->strValueFromSettings(read), "v2");
    EXPECT_EQ(reads.load(), 4);
}

TEST_F(SettingsTest, AGetterAfterASetterSeesTheNewValueWhileReadersRefillTheCache) {
    auto store = startStore();
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load()) (void)store->paused();
    });
    for (int i = 0; i < 500; ++i) {
        const bool value = i % 2 == 0;
        store->setPaused(value);
        ASSERT_EQ(store->paused(), value) << "round " << i;
    }
    stop = true;
    reader.join();
}

TEST_F(SettingsTest, AnAnswerOfNothingIsNotCached) {
    auto store = startStore(false);
    std::atomic<int> reads{0};
    auto read = [&](TBNSettings&) -> std::optional<std::string> {
        ++reads;
        return std::nullopt;
    };
    EXPECT_EQ(store->strValueFromCacheForKey(std::string("none"), read), std::nullopt);
    EXPECT_EQ(store->strValueFromCacheForKey(std::string("none"), read), std::nullopt);
    EXPECT_EQ(reads.load(), 2);
}

TEST_F(SettingsTest, ConcurrentCachedReadsAndWritesStayConsistent) {
    auto store = startStore();
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 8; ++t) {
        readers.emplace_back([&, t] {
            while (!stop.load()) {
                auto level = store->loggingLevel();
                if (level < 11 || level > 13) ++bad;
                auto id = store->clientId();
                if (!id || id->empty()) ++bad;
                if (t % 2) (void)store->paused();
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        store->setLoggingLevel(11 + i % 3);
        if (i % 10 == 0) store->setClientId("id-" + std::to_string(i));
        if (i % 7 == 0) store->setPaused(i % 2 == 0);
    }
    store->waitForPendingSaves();
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(store->loggingLevel(), 11 + 299 % 3);
    EXPECT_EQ(store->clientId(), "id-290");
}

// ---- observers ----------------------------------------------------------------------------

TEST_F(SettingsTest, ObserversAreToldEveryMaskAfterTheFileWasWritten) {
    auto store = startStore(false);
    auto once = std::make_shared<RecordingDelegate>();
    auto twice = std::make_shared<RecordingDelegate>();
    auto silent = std::make_shared<TBNSettingsDelegate>();  // implements nothing
    store->addDelegate(once);
    store->addDelegate(twice);
    store->addDelegate(twice);
    store->addDelegate(silent);

    std::atomic<bool> sawFile{false};
    const fs::path file = filePath();
    once->onUpdate = [&](TBNSettings&, TBNSettingsComponents m) {
        if (m == TBNSettingsComponentPaused) {
            sawFile = openFile(file, std::nullopt).settings.paused();
        }
    };
    store->setPaused(true);
    ASSERT_TRUE(once->waitForCount(1));
    ASSERT_TRUE(twice->waitForCount(2));
    EXPECT_TRUE(sawFile.load()) << "the file held the change when the observer was told";
    EXPECT_EQ(once->masks(), std::vector<TBNSettingsComponents>{TBNSettingsComponentPaused});

    store->save();
    ASSERT_TRUE(once->waitForCount(2));
    EXPECT_EQ(once->masks().back(), 0u);
}

TEST_F(SettingsTest, AReleasedObserverIsNotCalled) {
    auto store = startStore(false);
    auto kept = std::make_shared<RecordingDelegate>();
    auto gone = std::make_shared<RecordingDelegate>();
    std::weak_ptr<RecordingDelegate> goneWeak = gone;
    store->addDelegate(kept);
    store->addDelegate(gone);
    gone.reset();
    EXPECT_TRUE(goneWeak.expired());
    store->setOsxExtendedMode(true);
    ASSERT_TRUE(kept->waitForCount(1));
    EXPECT_EQ(kept->masks()[0], TBNSettingsComponentSwitches);
}

TEST_F(SettingsTest, ABurstOfChangesIsMergedIntoFewWritesAndEveryMaskArrives) {
    auto store = startStore(false);
    auto observer = std::make_shared<RecordingDelegate>();
    store->addDelegate(observer);
    const uint64_t writesBefore = store->fileWrites();
    constexpr int kBurst = 1000;
    for (int i = 0; i < kBurst; ++i) {
        if (i % 2) {
            store->setPaused(i % 4 == 1);
        } else {
            store->setWizardSafariState(i);
        }
    }
    store->waitForPendingSaves();
    ASSERT_TRUE(observer->waitForCount(kBurst));
    const uint64_t writes = store->fileWrites() - writesBefore;
    EXPECT_GE(writes, 1u);
    EXPECT_LT(writes, static_cast<uint64_t>(kBurst) / 2) << "saves were not merged";
    auto masks = observer->masks();
    EXPECT_EQ(std::count(masks.begin(), masks.end(), TBNSettingsComponentPaused), kBurst / 2);
    EXPECT_EQ(std::count(masks.begin(), masks.end(), TBNSettingsComponentSession), kBurst / 2);
    // The last state is in the file.
    EXPECT_EQ(openFile(filePath(), std::nullopt).settings.paused(), (kBurst - 1) % 4 == 1);
}

TEST_F(SettingsTest, AFailedWriteIsLoggedAndObserversAreStillTold) {
    auto store = startStore(false);
    auto observer = std::make_shared<RecordingDelegate>();
    store->addDelegate(observer);
    // The folder disappears (an uninstaller removed it): nothing may be written there.
    fs::remove_all(filePath().parent_path());
    store->setPaused(true);
    ASSERT_TRUE(observer->waitForCount(1));
    EXPECT_FALSE(fs::exists(filePath().parent_path()));
    EXPECT_TRUE(store->paused());
}

// ---- copies ------------------------------------------------------------------------------

TEST_F(SettingsTest, RecordsHandedOutOrInAreNeverSharedWithTheStore) {
    auto store = startStore();

    auto generator = store->generatorSettings();
    ASSERT_TRUE(generator && generator->config());
    generator->config()->setLenght(3);
    generator->setProfile(1);
    EXPECT_EQ(store->generatorSettings()->config()->lenght(), 20);
    EXPECT_EQ(store->generatorSettings()->profile(), 99);

    auto handedIn = std::make_shared<TBNGeneratorSettings>(
        5, std::make_shared<TBNGeneratorConfig>(12, 0, 0, 0, 0, true, true, true));
    store->setGeneratorSettings(handedIn);
    handedIn->config()->setLenght(99);
    EXPECT_EQ(store->generatorSettings()->config()->lenght(), 12);

    auto cert = std::make_shared<TBNCertSettings>(2048, "pub", "priv", "cert");
    store->setClientCert(cert);
    cert->setPrivateKey(std::string("changed"));
    auto out = store->clientCert();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->privateKey(), "priv");
    out->setPrivateKey(std::string("mutated"));
    EXPECT_EQ(store->clientCert()->privateKey(), "priv");

    auto device = phone("H1", "D1");
    store->addPairedDevice(device);
    device->setName(std::string("changed by caller"));
    auto copy = store->pairedDeviceByHardwareId(std::string("H1"));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->name(), "Phone D1");
    copy->setName(std::string("changed copy"));
    EXPECT_EQ(store->firstPairedDevice()->name(), "Phone D1");

    auto peripheral = std::make_shared<TBNOSXBlecPeripheral>(4, "ble", "D1", "n", "m", "os", "app");
    store->setAllBlePeripherals({peripheral});
    peripheral->setState(1);
    auto list = store->allBlePeripherals();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->state(), 4);
    list[0]->setState(2);
    EXPECT_EQ(store->allBlePeripherals()[0]->state(), 4);

    auto sites = std::make_shared<TBNSitesCache>(5, std::make_shared<std::set<std::string>>(),
                                                 nullptr, nullptr);
    store->updateSitesCache(sites, std::string("H1"));
    sites->urlsCache()->insert("late");
    bool isProtected = false;
    EXPECT_FALSE(store->cachedSiteUrl(std::string("late"), std::string("H1"), &isProtected));
}

}  // namespace
}  // namespace lumvane::settingstest
