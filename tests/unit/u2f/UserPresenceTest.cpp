#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "u2f/UserPresence.h"

using namespace lumvane;

namespace {

// Shows notices in memory; the test plays the user.
class FakeNotificationCenter : public UserNotificationCenter {
  public:
    void deliver(const UserNotification& notification) override {
        delivered.push_back(notification);
        if (presents) shown.push_back(notification.identifier);
        if (auto d = delegate_.lock()) d->didDeliver(*this, notification);
    }
    bool isPresented(const std::string& id) override {
        return std::find(shown.begin(), shown.end(), id) != shown.end();
    }
    std::vector<std::string> deliveredIdentifiers() override { return shown; }
    void removeDelivered(const std::string& id) override {
        shown.erase(std::remove(shown.begin(), shown.end(), id), shown.end());
        removed.push_back(id);
    }
    std::weak_ptr<UserNotificationCenterDelegate> delegate() override { return delegate_; }
    void setDelegate(std::weak_ptr<UserNotificationCenterDelegate> d) override { delegate_ = d; }

    // The user clicks a button of the newest notice.
    void click(bool approve) {
        if (auto d = delegate_.lock()) d->didActivate(*this, delivered.back(), approve);
    }
    // The user closes the newest notice.
    void dismiss() {
        auto id = delivered.back().identifier;
        shown.erase(std::remove(shown.begin(), shown.end(), id), shown.end());
    }

    bool presents = true;
    std::vector<UserNotification> delivered;
    std::vector<std::string> shown;
    std::vector<std::string> removed;

  private:
    std::weak_ptr<UserNotificationCenterDelegate> delegate_;
};

class OtherDelegate : public UserNotificationCenterDelegate {
  public:
    void didDeliver(UserNotificationCenter&, const UserNotification&) override {}
    void didActivate(UserNotificationCenter&, const UserNotification&, bool) override {}
};

class UserPresenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        center = std::make_shared<FakeNotificationCenter>();
        clock = std::make_shared<ManualClock>();
        center->setDelegate(other);
        UserPresence::setEnvironment(center, clock);
    }
    void TearDown() override {
        clock->cancelAll();
        UserPresence::setEnvironment(nullptr, nullptr);
    }

    // A callback that records its answers.
    UserPresence::Callback record(std::vector<bool>& answers) {
        return [&answers](bool approved) { answers.push_back(approved); };
    }

    std::shared_ptr<FakeNotificationCenter> center;
    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<OtherDelegate> other = std::make_shared<OtherDelegate>();
};

TEST_F(UserPresenceTest, NoticeTexts) {
    std::vector<bool> answers;
    UserPresence::confirm(UserPresence::Notification::Register(), false, record(answers));
    ASSERT_EQ(center->delivered.size(), 1u);
    EXPECT_EQ(center->delivered[0].title, "Security Key Request");
    EXPECT_EQ(center->delivered[0].informativeText, "Register with site");
    EXPECT_EQ(center->delivered[0].actionButtonTitle, "Approve");
    EXPECT_EQ(center->delivered[0].otherButtonTitle, "Reject");
    EXPECT_EQ(UserPresence::informativeText(
                  UserPresence::Notification::Authenticate(std::string("example.com"))),
              "Authenticate with example.com");
    center->click(true);
}

TEST_F(UserPresenceTest, AnswersByButtonAndRestoresDelegate) {
    const std::pair<bool, bool> cases[] = {{true, true}, {false, false}};
    for (auto [approveButton, expected] : cases) {
        std::vector<bool> answers;
        UserPresence::confirm(UserPresence::Notification::Authenticate(), false, record(answers));
        EXPECT_NE(center->delegate().lock(), other);
        center->click(approveButton);
        EXPECT_EQ(answers, std::vector<bool>{expected});
        EXPECT_EQ(center->delegate().lock(), other);
        EXPECT_TRUE(center->shown.empty());  // the notice is removed
        center->click(true);                 // a late click reaches the old delegate only
        EXPECT_EQ(answers.size(), 1u);
    }
}

TEST_F(UserPresenceTest, NoAnswerWithinTenSecondsIsRejected) {
    std::vector<bool> answers;
    UserPresence::confirm(UserPresence::Notification::Register(), false, record(answers));
    clock->advance(9.95);
    EXPECT_TRUE(answers.empty());
    clock->advance(0.2);
    EXPECT_EQ(answers, std::vector<bool>{false});
    EXPECT_EQ(center->removed.size(), 1u);
    EXPECT_EQ(clock->pendingCalls(), 0u);
}

TEST_F(UserPresenceTest, DismissedNoticeIsRejectedAtNextTick) {
    std::vector<bool> answers;
    UserPresence::confirm(UserPresence::Notification::Register(), false, record(answers));
    clock->advance(1.0);
    EXPECT_TRUE(answers.empty());
    center->dismiss();
    clock->advance(0.1);
    EXPECT_EQ(answers, std::vector<bool>{false});
}

TEST_F(UserPresenceTest, NewRequestRejectsThePendingOneFirst) {
    std::vector<std::string> events;
    UserPresence::confirm(UserPresence::Notification::Register(), false,
                          [&](bool approved) { events.push_back(approved ? "1:yes" : "1:no"); });
    UserPresence::confirm(UserPresence::Notification::Authenticate(), false,
                          [&](bool approved) { events.push_back(approved ? "2:yes" : "2:no"); });
    ASSERT_EQ(events, std::vector<std::string>{"1:no"});
    EXPECT_EQ(center->delivered.size(), 2u);  // the first answer came before the second notice
    center->click(true);
    EXPECT_EQ(events, (std::vector<std::string>{"1:no", "2:yes"}));
    EXPECT_EQ(center->delegate().lock(), other);
}

TEST_F(UserPresenceTest, ApprovedAtOnceOrWhenNoticeNotShown) {
    std::vector<bool> answers;
    UserPresence::confirm(UserPresence::Notification::Register(), true, record(answers));
    EXPECT_EQ(answers, std::vector<bool>{true});
    EXPECT_TRUE(center->delivered.empty());

    UserPresence::approveAll = true;
    UserPresence::confirm(UserPresence::Notification::Register(), false, record(answers));
    UserPresence::approveAll = false;
    EXPECT_EQ(answers, (std::vector<bool>{true, true}));
    EXPECT_TRUE(center->delivered.empty());

    center->presents = false;  // the desktop did not show it
    UserPresence::confirm(UserPresence::Notification::Register(), false, record(answers));
    EXPECT_EQ(answers, (std::vector<bool>{true, true, false}));
}

TEST_F(UserPresenceTest, WithoutNotificationCenterRequestsAreRejected) {
    UserPresence::setEnvironment(nullptr, clock);
    std::vector<bool> answers;
    UserPresence::confirm(UserPresence::Notification::Register(), false, record(answers));
    EXPECT_EQ(answers, std::vector<bool>{false});
}

}  // namespace
