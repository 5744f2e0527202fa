// Copies that clear themselves, on a manual clock, and the feature switches.
#include <gtest/gtest.h>

#include <thread>

#include "core/pasteboard/Pasteboard.h"
#include "runtime/Clock.h"
#include "runtime/MainLoop.h"

namespace lumvane {
namespace {

class PasteboardTest : public ::testing::Test {
  protected:
    void advance(double seconds) {
        clock_->advance(seconds);
        loop_->runPending();
    }
    std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
    std::shared_ptr<HeadlessMainLoop> loop_ = std::make_shared<HeadlessMainLoop>(clock_);
    std::shared_ptr<MemoryPasteboard> board_ = std::make_shared<MemoryPasteboard>();
    std::shared_ptr<TBNPasteboard> paste_ = TBNPasteboard::create(board_, loop_);

    void TearDown() override { clock_->cancelAll(); }
};

TEST_F(PasteboardTest, CopyExpiresAfterItsInterval) {
    EXPECT_TRUE(paste_->setString("secret", 30));
    EXPECT_EQ(board_->string(), "secret");
    EXPECT_EQ(paste_->string(), "secret");
    advance(29.9);
    EXPECT_EQ(board_->string(), "secret");
    advance(0.2);
    // Cleared to the empty text, and nothing is pending any more.
    EXPECT_EQ(board_->string(), "");
    EXPECT_FALSE(paste_->string());
    EXPECT_FALSE(paste_->expiryPending());
}

TEST_F(PasteboardTest, SecondCopyReplacesTheFirstExpiry) {
    EXPECT_TRUE(paste_->setString("first", 30));
    advance(20);
    EXPECT_TRUE(paste_->setString("second", 30));
    advance(15);  // 35 s after the first copy: its expiry never fires
    EXPECT_EQ(board_->string(), "second");
    advance(15.1);
    EXPECT_EQ(board_->string(), "");
}

TEST_F(PasteboardTest, CopyWithoutIntervalCancelsAndNeverExpires) {
    EXPECT_TRUE(paste_->setString("first", 30));
    EXPECT_TRUE(paste_->setString("stays", 0));
    EXPECT_FALSE(paste_->expiryPending());
    advance(1000);
    EXPECT_EQ(board_->string(), "stays");
    EXPECT_TRUE(paste_->setString("negative", -5));
    advance(1000);
    EXPECT_EQ(board_->string(), "negative");
}

TEST_F(PasteboardTest, UserCopyIsLeftAloneButTheSameTextIsCleared) {
    EXPECT_TRUE(paste_->setString("secret", 10));
    board_->setString("user's own text");
    advance(11);
    EXPECT_EQ(board_->string(), "user's own text");

    EXPECT_TRUE(paste_->setString("secret", 10));
    board_->setString("secret");  // copied again by the user: same text
    advance(11);
    EXPECT_EQ(board_->string(), "");
}

TEST_F(PasteboardTest, RefusedWriteLeavesNoExpiry) {
    EXPECT_TRUE(paste_->setString("old", 10));
    board_->setRefuseWrites(true);
    EXPECT_FALSE(paste_->setString("new", 10));
    EXPECT_FALSE(paste_->expiryPending());
    board_->setRefuseWrites(false);
    advance(11);
    // The earlier expiry was cancelled before the refused write.
    EXPECT_EQ(board_->string(), "old");
}

TEST_F(PasteboardTest, CopiesFromOtherThreadsKeepTheLastExpiry) {
    std::thread a([&] {
        for (int i = 0; i < 200; ++i) paste_->setString("a" + std::to_string(i), 5);
    });
    std::thread b([&] {
        for (int i = 0; i < 200; ++i) paste_->setString("b" + std::to_string(i), 5);
    });
    a.join();
    b.join();
    auto pending = paste_->string();
    ASSERT_TRUE(pending);
    EXPECT_EQ(board_->string(), pending);
    advance(6);
    EXPECT_EQ(board_->string(), "");
}

}  // namespace
}  // namespace lumvane
