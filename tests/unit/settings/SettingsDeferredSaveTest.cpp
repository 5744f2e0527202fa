// Cache and counter changes share one write a few seconds later (or the next write of a
// change that matters); changes that matter are written at once; observers are told of
// every change at once either way.
#include <algorithm>

#include "SettingsTestSupport.h"
#include "runtime/AfterReply.h"

namespace lumvane::settingstest {
namespace {

class DeferredSaveTest : public SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        store_ = startStore(false);
        store_->updateSettings([](TBNSettings& s) -> TBNSettingsComponents {
            s.osxSettings().setRateTriggerCounter(100);
            return 0;
        });
        store_->waitForPendingSaves();
        observer_ = std::make_shared<RecordingDelegate>();
        store_->addDelegate(observer_);
        writes_ = store_->fileWrites();
    }

    // Cache and counter changes: `ticks` rating ticks and one user-name cache entry.
    void cacheTraffic(int ticks) {
        for (int i = 0; i < ticks; ++i) store_->rateTriggerTick();
        store_->addToCacheUserName("ann", "pw", "https://example.com/", "hw-1");
    }

    // Every change handed over has run and been told; timers that fell due have run.
    void settle(size_t told) {
        ASSERT_TRUE(observer_->waitForCount(told));
        store_->saveDispatchQueue()->sync([] {});
    }

    int64_t counterInFile() {
        return openFile(filePath(), testKey()).settings.rateTriggerCounter();
    }
    uint64_t newWrites() const { return store_->fileWrites() - writes_; }

    std::shared_ptr<TBNSettings> store_;
    std::shared_ptr<RecordingDelegate> observer_;
    uint64_t writes_ = 0;
};

TEST_F(DeferredSaveTest, CacheAndCounterChangesShareOneWriteAfterTheDelay) {
    cacheTraffic(30);
    settle(31);
    // Every mask was told at once (observers are called side by side, in any order);
    // nothing was written yet.
    auto masks = observer_->masks();
    EXPECT_EQ(std::count(masks.begin(), masks.end(), TBNSettingsComponentNone), 30);
    EXPECT_EQ(std::count(masks.begin(), masks.end(), TBNSettingsComponentCaches), 1);
    EXPECT_EQ(newWrites(), 0u);
    EXPECT_EQ(counterInFile(), 100);

    clock_->advance(TBNSettings::kDeferredSaveDelaySeconds - 0.5);
    settle(31);
    EXPECT_EQ(newWrites(), 0u);
    clock_->advance(0.5);
    settle(31);
    EXPECT_EQ(newWrites(), 1u);
    EXPECT_EQ(counterInFile(), 70);

    // Nothing waits any more: the next period writes nothing.
    clock_->advance(TBNSettings::kDeferredSaveDelaySeconds * 2);
    settle(31);
    EXPECT_EQ(newWrites(), 1u);
    // A new burst starts a new period.
    cacheTraffic(5);
    settle(37);
    EXPECT_EQ(newWrites(), 1u);
    clock_->advance(TBNSettings::kDeferredSaveDelaySeconds);
    settle(37);
    EXPECT_EQ(newWrites(), 2u);
    EXPECT_EQ(counterInFile(), 65);
}

TEST_F(DeferredSaveTest, AChangeThatMattersIsWrittenAtOnceWithWhatWaited) {
    cacheTraffic(10);
    store_->setPaused(true);
    settle(12);
    const auto masks = observer_->masks();
    EXPECT_EQ(std::count(masks.begin(), masks.end(), TBNSettingsComponentPaused), 1);
    EXPECT_EQ(newWrites(), 1u);
    const auto content = openFile(filePath(), testKey());
    EXPECT_TRUE(content.settings.paused());
    EXPECT_EQ(content.settings.rateTriggerCounter(), 90);
    // The waiting changes went with it: the timer finds nothing left to write.
    clock_->advance(TBNSettings::kDeferredSaveDelaySeconds);
    settle(12);
    EXPECT_EQ(newWrites(), 1u);
}

TEST_F(DeferredSaveTest, StoppingWritesWhatWaits) {
    cacheTraffic(3);
    store_->waitForPendingSaves();
    EXPECT_EQ(newWrites(), 1u);
    EXPECT_EQ(counterInFile(), 97);
    // A new store reads the counter back.
    auto again = makeStore();
    again->loadBySettingsClass(filePath());
    EXPECT_EQ(again->valueFromSettings<int64_t>([](TBNSettings& s) -> std::optional<int64_t> {
        return s.osxSettings().rateTriggerCounter();
    }),
              97);
}

// On a thread answering a request, cache and counter changes are in at once (a reader
// sees them) while their notices wait until the answer is out.
TEST_F(DeferredSaveTest, ARequestsChangesAreReadAtOnceAndToldAfterItsReply) {
    {
        AfterReplyScope reply;
        cacheTraffic(2);
        EXPECT_TRUE(store_->isCachedUserName(std::string("ann"), std::string("pw"),
                                             std::string("example.com"), std::string("hw-1")));
        EXPECT_EQ(store_->valueFromSettings<int64_t>([](TBNSettings& s) -> std::optional<int64_t> {
            return s.osxSettings().rateTriggerCounter();
        }),
                  98);
        store_->saveDispatchQueue()->sync([] {});
        EXPECT_TRUE(observer_->masks().empty());
        reply.runPending();
    }
    settle(3);
    EXPECT_EQ(newWrites(), 0u);
    clock_->advance(TBNSettings::kDeferredSaveDelaySeconds);
    settle(3);
    EXPECT_EQ(newWrites(), 1u);
    EXPECT_EQ(counterInFile(), 98);
}

}  // namespace
}  // namespace lumvane::settingstest
