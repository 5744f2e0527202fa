// What happens when the settings cannot reach the disk: failed saves are told once per
// streak and retried until they work, a change that must survive a restart is reported
// only once it is on disk, and a settings file kept elsewhere through a link stays a link.
#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

#include "SettingsTestSupport.h"
#include "mounts/PrivateMounts.h"

namespace lumvane::settingstest {
namespace {

using Store = std::shared_ptr<TBNSettings>;
using test::inPrivateMountNamespace;
using test::privateMountNamespaceProblem;
using test::SmallTmpfs;

// Collects what the store tells of its saves (held by the handler, so it outlives any
// call the store makes after the test's end).
class HealthLog {
  public:
    static std::shared_ptr<HealthLog> attach(TBNSettings& store) {
        auto log = std::make_shared<HealthLog>();
        store.setSaveHealthHandler([log](const TBNSettings::SaveHealth& h) {
            std::lock_guard<std::mutex> g(log->mutex_);
            log->events_.push_back(h);
            log->cv_.notify_all();
        });
        return log;
    }
    bool waitForCount(size_t n) {
        std::unique_lock<std::mutex> lk(mutex_);
        return cv_.wait_for(lk, std::chrono::seconds(20), [&] { return events_.size() >= n; });
    }
    std::vector<TBNSettings::SaveHealth> events() const {
        std::lock_guard<std::mutex> g(mutex_);
        return events_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<TBNSettings::SaveHealth> events_;
};

// One way for the disk to refuse the settings, and the way back.
struct Cause {
    const char* name;
    bool needsMount;
    std::function<void(SmallTmpfs*, const fs::path& folder)> breakIt;
    std::function<void(SmallTmpfs*, const fs::path& folder)> mend;
};

void PrintTo(const Cause& cause, std::ostream* os) {
    *os << cause.name;
}

class SaveFailureTest : public SettingsTest, public ::testing::WithParamInterface<Cause> {};

TEST_P(SaveFailureTest, IsToldOncePerStreakRetriedAndToldWhenSavingWorksAgain) {
    const Cause& cause = GetParam();
    std::unique_ptr<SmallTmpfs> disk;
    if (cause.needsMount) {
        if (!inPrivateMountNamespace()) GTEST_SKIP() << privateMountNamespaceProblem();
        disk = std::make_unique<SmallTmpfs>(64 * 1024);
        ASSERT_TRUE(disk->mounted());
        Paths::setRootOverride(disk->path());
    }
    auto store = startStore(false);
    const fs::path folder = filePath().parent_path();
    auto log = HealthLog::attach(*store);

    cause.breakIt(disk.get(), folder);
    store->setPaused(true);
    ASSERT_TRUE(log->waitForCount(1));
    store->setLoggingLevel(5);
    store->waitForPendingSaves();
    // A retry while the cause is still there says nothing new.
    clock_->advance(TBNSettings::kSaveRetrySeconds);
    store->waitForPendingSaves();
    EXPECT_TRUE(store->savesFailing());
    {
        auto events = log->events();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_FALSE(events[0].saving);
        EXPECT_FALSE(events[0].reason.empty());
    }

    // No further change comes: the retry alone brings the last ones to the file.
    cause.mend(disk.get(), folder);
    clock_->advance(TBNSettings::kSaveRetrySeconds);
    ASSERT_TRUE(log->waitForCount(2));
    EXPECT_TRUE(log->events()[1].saving);
    EXPECT_FALSE(store->savesFailing());
    const FileContent written = openFile(filePath(), testKey());
    EXPECT_TRUE(written.settings.paused());
    EXPECT_EQ(written.settings.loggingLevel(), 5);

    // A new failure starts a new streak, told again.
    cause.breakIt(disk.get(), folder);
    store->setPaused(false);
    ASSERT_TRUE(log->waitForCount(3));
    EXPECT_FALSE(log->events()[2].saving);
    cause.mend(disk.get(), folder);
    store->waitForPendingSaves();
    clock_->advance(TBNSettings::kSaveRetrySeconds);
    ASSERT_TRUE(log->waitForCount(4));
    store->waitForPendingSaves();
}

INSTANTIATE_TEST_SUITE_P(
    Causes, SaveFailureTest,
    ::testing::Values(
        // The folder was removed while the program ran (or never could be made).
        Cause{"FolderGone", false,
              [](SmallTmpfs*, const fs::path& folder) {
                  std::error_code ec;
                  fs::remove_all(folder, ec);
              },
              [](SmallTmpfs*, const fs::path& folder) { fs::create_directories(folder); }},
        // The disk filled up.
        Cause{"DiskFull", true, [](SmallTmpfs* disk, const fs::path&) { disk->fill(); },
              [](SmallTmpfs* disk, const fs::path&) { disk->release(); }},
        // The file system went read-only.
        Cause{"ReadOnly", true, [](SmallTmpfs* disk, const fs::path&) { disk->setReadOnly(true); },
              [](SmallTmpfs* disk, const fs::path&) { disk->setReadOnly(false); }}),
    [](const ::testing::TestParamInfo<Cause>& info) { return std::string(info.param.name); });

// A first start in a data folder that cannot be made: the very first save is told, not
// only logged, and the store keeps trying.
TEST_F(SettingsTest, AFirstStartWhoseFolderCannotBeMadeIsTold) {
    { std::ofstream(root_ / ".local") << "a file where the data folder should be"; }
    auto store = makeStore();
    auto log = HealthLog::attach(*store);
    store->loadBySettingsClass(filePath());
    store->decryptEncryptedSettingsByKey(testKey());
    ASSERT_TRUE(log->waitForCount(1));
    EXPECT_FALSE(log->events()[0].saving);
    EXPECT_NE(log->events()[0].reason.find(filePath().parent_path().string()), std::string::npos)
        << log->events()[0].reason;
    store->setLoggingLevel(5);
    store->waitForPendingSaves();
    EXPECT_EQ(log->events().size(), 1u);

    fs::remove(root_ / ".local");
    fs::create_directories(filePath().parent_path());
    clock_->advance(TBNSettings::kSaveRetrySeconds);
    ASSERT_TRUE(log->waitForCount(2));
    EXPECT_TRUE(log->events()[1].saving);
    EXPECT_EQ(openFile(filePath(), testKey()).settings.loggingLevel(), 5);
}

TEST_F(SettingsTest, AHandlerSetDuringAStreakHearsOfItAtOnce) {
    auto store = startStore(false);
    std::error_code ec;
    fs::remove_all(filePath().parent_path(), ec);
    store->setPaused(true);
    store->waitForPendingSaves();
    ASSERT_TRUE(store->savesFailing());
    auto log = HealthLog::attach(*store);
    ASSERT_TRUE(log->waitForCount(1));
    EXPECT_FALSE(log->events()[0].saving);
}

// ---- changes that must be on disk before they are reported --------------------------------

TEST_F(SettingsTest, APairingIsOnDiskWithItsSecretWhenItIsReported) {
    auto store = startStore();
    store->setClientSecret(std::string("old-secret"));
    store->waitForPendingSaves();

    ASSERT_TRUE(store->addPairedDeviceWithClientSecret(phone("AA:BB", "dev-1"), "new-secret"));
    // No wait: the call itself returned after the write.
    const FileContent file = openFile(filePath(), testKey());
    ASSERT_TRUE(file.settings.pairedDevices());
    EXPECT_EQ(file.settings.pairedDevices()->count("AA:BB"), 1u);
    ASSERT_TRUE(file.encrypted);
    EXPECT_EQ(file.encrypted->clientSecret(), std::optional<std::string>("new-secret"));
    EXPECT_EQ(store->clientSecret(), std::optional<std::string>("new-secret"));

    // A record that cannot be indexed is refused, and nothing changes.
    auto noDeviceId = phone("CC:DD", "x");
    noDeviceId->unsetDeviceId();
    EXPECT_FALSE(store->addPairedDeviceWithClientSecret(noDeviceId, "other"));
    EXPECT_EQ(store->clientSecret(), std::optional<std::string>("new-secret"));
}

TEST_F(SettingsTest, APairingThatCannotBeSavedIsNotKeptInMemoryEither) {
    auto store = startStore();
    store->setClientSecret(std::string("old-secret"));
    store->waitForPendingSaves();
    std::error_code ec;
    fs::remove_all(filePath().parent_path(), ec);

    EXPECT_FALSE(store->addPairedDeviceWithClientSecret(phone("AA:BB", "dev-1"), "new-secret"));
    EXPECT_FALSE(store->isPairedDeviceByHardwareId(std::string("AA:BB")));
    EXPECT_FALSE(store->isPairedDeviceByDeviceId(std::string("dev-1")));
    EXPECT_EQ(store->clientSecret(), std::optional<std::string>("old-secret"));

    // Once the disk takes writes again, the retry writes the state before the pairing.
    fs::create_directories(filePath().parent_path());
    clock_->advance(TBNSettings::kSaveRetrySeconds);
    store->waitForPendingSaves();
    ASSERT_TRUE(fs::exists(filePath()));
    const FileContent file = openFile(filePath(), testKey());
    EXPECT_TRUE(!file.settings.pairedDevices() || file.settings.pairedDevices()->empty());
    ASSERT_TRUE(file.encrypted);
    EXPECT_EQ(file.encrypted->clientSecret(), std::optional<std::string>("old-secret"));
}

// ---- a settings file kept elsewhere ---------------------------------------------------------

TEST_F(SettingsTest, ASettingsFileThatIsALinkStaysALinkAndItsTargetIsWritten) {
    struct Case {
        const char* name;
        bool relative;
        bool chain;
    };
    for (const Case& c : {Case{"absolute", false, false}, Case{"relative", true, false},
                          Case{"link to a link", false, true}}) {
        SCOPED_TRACE(c.name);
        for (auto& s : stores_) s->waitForPendingSaves();
        stores_.clear();
        std::error_code ec;
        fs::remove_all(root_, ec);
        fs::create_directories(filePath().parent_path());
        const fs::path elsewhere = root_ / "synced" / "lumvane.prf";
        fs::create_directories(elsewhere.parent_path());
        {
            auto seed = makeStore();
            seed->loadBySettingsClass(elsewhere);
            seed->decryptEncryptedSettingsByKey(testKey());
            seed->setLoggingLevel(7);
            seed->waitForPendingSaves();
        }
        fs::path target =
            c.relative ? fs::relative(elsewhere, filePath().parent_path()) : elsewhere;
        if (c.chain) {
            const fs::path middle = root_ / "middle.prf";
            fs::create_symlink(elsewhere, middle);
            target = middle;
        }
        fs::create_symlink(target, filePath());

        auto store = startStore(false);
        EXPECT_EQ(store->loggingLevel(), 7);
        store->setLoggingLevel(9);
        store->waitForPendingSaves();

        EXPECT_TRUE(fs::is_symlink(filePath()));
        EXPECT_EQ(fs::read_symlink(filePath()), target);
        EXPECT_EQ(openFile(elsewhere, testKey()).settings.loggingLevel(), 9);
        // No temporary file was left beside the link or the target.
        for (const auto& folder : {filePath().parent_path(), elsewhere.parent_path()}) {
            for (const auto& e : fs::directory_iterator(folder)) {
                EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos)
                    << e.path();
            }
        }
        struct stat st {};
        ASSERT_EQ(::stat(elsewhere.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

}  // namespace
}  // namespace lumvane::settingstest
