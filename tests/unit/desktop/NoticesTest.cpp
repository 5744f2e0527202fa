// The notices: the 45-unit split, one notice at a time with its 10 s removal, and the
// texts each notice is made of.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/desktop/Notices.h"
#include "runtime/Clock.h"
#include "runtime/MainLoop.h"

namespace lumvane {
namespace {

TEST(SplitNoticeMessage, TableOfCases) {
    struct Case {
        const char* name;
        std::string text;
        std::string first;
        std::string second;
    };
    const std::string fifty(50, 'w');
    const std::vector<Case> cases = {
        {"exactly 45 is not split", std::string(45, 'a'), std::string(45, 'a'), ""},
        // 44 units fit ("aaaa ... " words of 10 plus spaces); the word that does not fit
        // starts the second part, and so does every word after it.
        {"words that fit go first", "aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd eeeeeeeeee f g",
         "aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd", "eeeeeeeeee f g"},
        {"a first word of 50", fifty + " x y", std::string(45, 'w') + "-", "wwwww x y"},
        // The empty first word takes no room, and the 45-unit word after it is cut as a
        // first word.
        {"a leading space, then a word of 45", " " + std::string(45, 'z'),
         std::string(45, 'z') + "-", ""},
        // Two-unit characters: 22 of them are 44 units; the 23rd does not fit in 45.
        {"counted in UTF-16 units",
         [] {
             std::string s;
             for (int i = 0; i < 23; ++i) s += "\xF0\x9F\x94\x91";  // U+1F511, two units
             return s;
         }(),
         [] {
             std::string s;
             for (int i = 0; i < 22; ++i) s += "\xF0\x9F\x94\x91";
             return s + "-";
         }(),
         "\xF0\x9F\x94\x91"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto [first, second] = splitNoticeMessage(c.text);
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(second, c.second);
    }
}

// A 46-unit message that starts with a space: the empty first word adds nothing, the
// next word starts the first part.
TEST(SplitNoticeMessage, LeadingSpaceThenShortWords) {
    const std::string text = " " + std::string(20, 'a') + " " + std::string(24, 'b');
    ASSERT_EQ(text.size(), 46u);
    const auto [first, second] = splitNoticeMessage(text);
    EXPECT_EQ(first, std::string(20, 'a') + " " + std::string(24, 'b'));
    EXPECT_EQ(second, "");
}

class FakeBackend : public NoticeBackend {
  public:
    uint32_t show(const DesktopNotice& notice, uint32_t replaces) override {
        shown.push_back(notice);
        replaced.push_back(replaces);
        const uint32_t id = replaces != 0 ? replaces : ++last;
        if (std::find(open.begin(), open.end(), id) == open.end()) open.push_back(id);
        return id;
    }
    void close(uint32_t id) override {
        closed.push_back(id);
        std::erase(open, id);
    }
    std::vector<DesktopNotice> shown;
    std::vector<uint32_t> replaced;
    std::vector<uint32_t> closed;
    std::vector<uint32_t> open;
    uint32_t last = 0;
};

class NoticeServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock = std::make_shared<ManualClock>();
        loop = std::make_shared<HeadlessMainLoop>(clock);
        backend = std::make_shared<FakeBackend>();
        service = std::make_shared<TBNSystemNotifictionService>(backend, loop);
        notices = std::make_shared<DesktopNotifications>(service);
    }
    void TearDown() override { clock->cancelAll(); }
    void advance(double s) {
        clock->advance(s);
        loop->runPending();
    }
    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<HeadlessMainLoop> loop;
    std::shared_ptr<FakeBackend> backend;
    std::shared_ptr<TBNSystemNotifictionService> service;
    std::shared_ptr<DesktopNotifications> notices;
};

TEST_F(NoticeServiceTest, OnlyTheLastNoticeStaysAndGoesTenSecondsAfterItCame) {
    notices->notifyOfBluetoothOff();
    advance(4.0);
    notices->notifyOfPiringSuccess();
    ASSERT_EQ(backend->shown.size(), 2u);
    EXPECT_EQ(backend->replaced[1], backend->open.front()) << "the second replaces the first";
    EXPECT_EQ(backend->open.size(), 1u);
    advance(6.0);  // ten seconds after the first: the second stays
    EXPECT_EQ(backend->open.size(), 1u);
    advance(4.0);  // ten seconds after the second
    EXPECT_TRUE(backend->open.empty());
    EXPECT_FALSE(service->shownNotice());
}

TEST_F(NoticeServiceTest, NoticeTextsButtonAndArguments) {
    notices->notifyOfCopyPasswordFromPhoneToMacClipboardForLogin("alice@example.com");
    ASSERT_EQ(backend->shown.size(), 1u);
    const auto& n = backend->shown.back();
    EXPECT_EQ(n.title, desktopText("MENU_INFO_COPY_PASS_TO_OSX_FROM_IOS_TITLE"));
    EXPECT_NE((n.subtitle + " " + n.body).find("alice@example.com"), std::string::npos);
    EXPECT_EQ(n.buttonTitle, desktopText("MENU_INFo_COPY_PASS_TO_OSX_FROM_IOS_BUTTON"));
    EXPECT_FALSE(n.buttonTitle.empty());

    // The failed pairing shows the same texts whatever the error.
    notices->notifyOfPiringFailWithError("timeout");
    notices->notifyOfPiringFailWithError("refused by the phone");
    const auto& a = backend->shown[1];
    const auto& b = backend->shown[2];
    EXPECT_EQ(a.title, b.title);
    EXPECT_EQ(a.subtitle + a.body, b.subtitle + b.body);
}

// Several start-up texts at once: each is shown for its ten seconds, one after another,
// none replacing another unseen; one said later waits for its turn too.
TEST_F(NoticeServiceTest, StartUpTextsAreShownOneAfterAnother) {
    auto queue = std::make_shared<StartupNoticeQueue>(service, loop);
    queue->add("no Secret Service answers");
    queue->add("no push certificate");
    loop->runPending();
    ASSERT_EQ(backend->shown.size(), 1u);
    EXPECT_EQ(backend->shown[0].title, "Lumvane");
    EXPECT_EQ(backend->shown[0].subtitle, "no Secret Service answers");
    advance(9.9);
    EXPECT_EQ(backend->shown.size(), 1u) << "the first had its time not yet";
    queue->add("no usable Bluetooth adapter");
    advance(0.2);
    ASSERT_EQ(backend->shown.size(), 2u);
    EXPECT_EQ(backend->shown[1].subtitle, "no push certificate");
    advance(10.0);
    ASSERT_EQ(backend->shown.size(), 3u);
    EXPECT_EQ(backend->shown[2].subtitle, "no usable Bluetooth adapter");
    advance(10.0);
    EXPECT_TRUE(backend->open.empty());
    // Idle again: the next text shows at once.
    queue->add("later");
    loop->runPending();
    ASSERT_EQ(backend->shown.size(), 4u);
    EXPECT_EQ(backend->shown[3].subtitle, "later");
}

// The registration window's notice: with the browser that took the page, or the browser
// that could not be started, or none (SIGUSR1); always for how long.
TEST_F(NoticeServiceTest, RegistrationNoticeNamesTheBrowserAndTheTime) {
    notices->notifyOfExtensionRegistrationOpen("Chromium", true);
    notices->notifyOfExtensionRegistrationOpen("Chromium", false);
    notices->notifyOfExtensionRegistrationOpen("", true);
    ASSERT_EQ(backend->shown.size(), 3u);
    for (const auto& n : backend->shown) {
        EXPECT_EQ(n.title, "Add the Lumvane extension");
        EXPECT_NE((n.subtitle + " " + n.body).find("120 seconds"), std::string::npos);
    }
    const auto text = [&](size_t i) {
        return backend->shown[i].subtitle + " " + backend->shown[i].body;
    };
    EXPECT_NE(text(0).find("Chromium shows"), std::string::npos) << text(0);
    EXPECT_NE(text(1).find("Chromium could not be started"), std::string::npos) << text(1);
    EXPECT_EQ(text(2).find("Chromium"), std::string::npos) << text(2);
}

TEST(DesktopText, UnknownKeyShowsTheKeyAndFormatsFillInOrder) {
    EXPECT_EQ(desktopText("NO_SUCH_KEY_ANYWHERE"), "NO_SUCH_KEY_ANYWHERE");
    EXPECT_EQ(formatObjects("%@ for %@ is saved", {"bob", "example.com"}),
              "bob for example.com is saved");
    EXPECT_EQ(formatObjects("%@ and %@", {"one"}), "one and ");
}

}  // namespace
}  // namespace lumvane
