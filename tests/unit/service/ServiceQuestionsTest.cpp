// The questions the service puts to the user for the extension server: save, update and
// account choice, the pause of save questions, pings, client keys and driver pages.
#include <future>

#include "ServiceTestSupport.h"
#include "crypto/TBNCryptHash.h"

namespace lumvane::servicetest {
namespace {

class ServiceQuestionsTest : public ServiceFixture {
  protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        makeService();
    }

    static TBNLoginData login(const std::string& name, const std::string& password) {
        TBNLoginData data;
        data.setLogin(name);
        data.setPassword(password);
        return data;
    }

    static TBNSaveAccountAnswer answer(const std::string& account, const std::string& password,
                                       bool secure) {
        TBNSaveAccountAnswer a;
        a.account = account;
        a.password = password;
        a.siteUrl = "https://example.com";
        a.siteName = "example.com";
        a.secure = secure;
        return a;
    }

    // Runs a question on a thread of its own (as a server connection would).
    template <class F>
    auto onConnection(F f) {
        return std::async(std::launch::async, std::move(f));
    }
};

TEST_F(ServiceQuestionsTest, WithoutPairedPhoneSaveAndUpdateAreDeclinedWithoutAsking) {
    auto data = login("alice", "secret");
    EXPECT_EQ(service_->canSaveLoginData(data, "https://example.com", "example.com"),
              TBNSaveVariantDecline);
    EXPECT_EQ(service_->canUpdateLoginData(data, "https://example.com", "example.com"),
              TBNSaveVariantDecline);
    drainMain();
    EXPECT_TRUE(ui_->saveQuestions().empty());
}

// The online phone asks the user itself: the desktop only tells and answers "save".
TEST_F(ServiceQuestionsTest, OnlinePhoneWithCompleteLoginSavesAtOnceWithANotice) {
    pairPhone(true);
    auto data = login("alice", "secret");
    EXPECT_EQ(service_->canSaveLoginData(data, "https://example.com", "example.com"),
              TBNSaveVariantSave);
    drainMain();
    EXPECT_TRUE(ui_->saveQuestions().empty());
    EXPECT_EQ(notes_->count("saveAccount:alice@example.com"), 1u);

    // Something missing: the popover is shown after all.
    struct Case {
        std::string login, password, url;
    } cases[] = {{"", "secret", "https://example.com"},
                 {"alice", "", "https://example.com"},
                 {"alice", "secret", ""}};
    for (const auto& c : cases) {
        ui_->queueSaveAnswer(std::nullopt);
        auto d = login(c.login, c.password);
        EXPECT_EQ(service_->canSaveLoginData(d, c.url, "example.com"), TBNSaveVariantDecline)
            << c.login << "/" << c.password << "/" << c.url;
    }
    EXPECT_EQ(ui_->saveQuestions().size(), 3u);
}

TEST_F(ServiceQuestionsTest, AnswerReplacesLoginAndPasswordAndSecureGivesSecuredVariant) {
    pairPhone(false);
    struct Case {
        std::optional<TBNSaveAccountAnswer> answer;
        TBNSaveVariant variant;
        std::string login, password;
    } cases[] = {
        {answer("bob", "typed", false), TBNSaveVariantSave, "bob", "typed"},
        {answer("carol", "typed2", true), TBNSaveVariantSaveSecured, "carol", "typed2"},
        {std::nullopt, TBNSaveVariantDecline, "alice", "secret"},
    };
    for (const auto& c : cases) {
        ui_->queueSaveAnswer(c.answer);
        auto data = login("alice", "secret");
        EXPECT_EQ(service_->canSaveLoginData(data, "https://example.com", "example.com"),
                  c.variant);
        EXPECT_EQ(data.login(), c.login);
        EXPECT_EQ(data.password(), c.password);
    }
    auto shown = ui_->saveQuestions();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].account, "alice");
    EXPECT_EQ(shown[0].password, "secret");
    EXPECT_EQ(shown[0].siteUrl, "https://example.com");
    EXPECT_EQ(shown[0].siteName, "example.com");
    EXPECT_FALSE(shown[0].isUpdate);
}

TEST_F(ServiceQuestionsTest, SkipUntilOnlineHoldsBackSaveButNotUpdateAndEndsWhenPhoneIsOnline) {
    pairPhone(false);
    settings_->setSkipUntilOnline(true);
    auto data = login("alice", "secret");
    EXPECT_EQ(service_->canSaveLoginData(data, "https://example.com", "example.com"),
              TBNSaveVariantDecline);
    drainMain();
    EXPECT_TRUE(ui_->saveQuestions().empty());

    ui_->queueSaveAnswer(answer("alice", "secret", false));
    EXPECT_EQ(service_->canUpdateLoginData(data, "https://example.com", "example.com"),
              TBNSaveVariantSave);
    ASSERT_EQ(ui_->saveQuestions().size(), 1u);
    EXPECT_TRUE(ui_->saveQuestions()[0].isUpdate);

    // Any save of the settings while the phone is offline leaves the pause on ...
    settings_->setLastChromeExtVersion(std::string("1.0"));
    settings_->waitForPendingSaves();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(settings_->skipUntilOnline());
    // ... and the phone coming online ends it.
    settings_->unpairDeviceAtHardwareId(std::string("5A:12:9C:00:00:01"));
    pairPhone(true);
    EXPECT_TRUE(eventually([&] { return !settings_->skipUntilOnline(); }));
}

TEST_F(ServiceQuestionsTest, UnansweredSaveQuestionTimesOutOnTheClockAsDecline) {
    pairPhone(false);
    auto data = login("alice", "secret");
    auto result = onConnection(
        [&] { return service_->canSaveLoginData(data, "https://example.com", "example.com"); });
    ASSERT_TRUE(clock_->waitForSleepers(1));
    clock_->advance(TBNService::kQuestionTimeout - 1);
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    clock_->advance(2.0);
    EXPECT_EQ(result.get(), TBNSaveVariantDecline);
    // The page answering late reaches nobody.
    EXPECT_TRUE(ui_->answerSave(0, answer("late", "late", true)));
    EXPECT_EQ(service_->pendingQuestions(), 0u);
}

// Two save questions at once each get the user's answer to their own page.
TEST_F(ServiceQuestionsTest, ConcurrentSaveQuestionsNeverShareAnAnswer) {
    pairPhone(false);
    auto first = login("first", "p1");
    auto second = login("second", "p2");
    auto r1 = onConnection(
        [&] { return service_->canSaveLoginData(first, "https://one.example", "one.example"); });
    ASSERT_TRUE(ui_->waitFor([&] { return ui_->openSaveQuestions(); }, 1));
    auto r2 = onConnection(
        [&] { return service_->canSaveLoginData(second, "https://two.example", "two.example"); });
    ASSERT_TRUE(ui_->waitFor([&] { return ui_->openSaveQuestions(); }, 2));

    // Answer the second page first; the first question keeps waiting.
    EXPECT_TRUE(ui_->answerSave(1, answer("second-typed", "x2", true)));
    EXPECT_EQ(r2.get(), TBNSaveVariantSaveSecured);
    EXPECT_EQ(second.login(), "second-typed");
    EXPECT_EQ(r1.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    EXPECT_EQ(first.login(), "first");

    EXPECT_TRUE(ui_->answerSave(0, std::nullopt));
    EXPECT_EQ(r1.get(), TBNSaveVariantDecline);
    EXPECT_EQ(first.login(), "first");
}

TEST_F(ServiceQuestionsTest, StopEndsWaitingQuestionsAsCancelled) {
    pairPhone(false);
    auto data = login("alice", "secret");
    auto result = onConnection(
        [&] { return service_->canSaveLoginData(data, "https://example.com", "example.com"); });
    ASSERT_TRUE(ui_->waitFor([&] { return ui_->openSaveQuestions(); }, 1));
    service_->stop();
    EXPECT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(result.get(), TBNSaveVariantDecline);
}

TEST_F(ServiceQuestionsTest, WithoutUIServiceQuestionsAreAnsweredAsCancelledAtOnce) {
    pairPhone(false);
    service_->setUiService(std::weak_ptr<TBNUIServiceProtocol>());
    auto data = login("alice", "secret");
    EXPECT_EQ(service_->canSaveLoginData(data, "https://example.com", "example.com"),
              TBNSaveVariantDecline);
    EXPECT_EQ(
        service_->chooseDefaultAccount({"a", "b"}, "https://example.com", "example.com", true), -1);
}

TEST_F(ServiceQuestionsTest, HeadlessUIAnswersEveryQuestionAsCancelled) {
    pairPhone(false);
    auto headless = std::make_shared<TBNHeadlessUIService>();
    service_->setUiService(headless);
    auto data = login("alice", "secret");
    EXPECT_EQ(service_->canUpdateLoginData(data, "https://example.com", "example.com"),
              TBNSaveVariantDecline);
    EXPECT_EQ(data.login(), "alice");
    EXPECT_EQ(
        service_->chooseDefaultAccount({"a", "b"}, "https://example.com", "example.com", false),
        -1);
    Bytes buffer{9};
    auto error = service_->remoteMobileCanLoadBackUp(*service_->remoteService(), buffer);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->category(), 2);
    EXPECT_EQ(error->id(), 3);
}

TEST_F(ServiceQuestionsTest, AccountChoiceIsReusedForTenSecondsWhenTheCacheIsAllowed) {
    const std::vector<std::string> accounts = {"alice", "bob", "carol"};
    const std::string url = "https://example.com";
    ui_->queueChooseAnswer(uint64_t{1});
    EXPECT_EQ(service_->chooseDefaultAccount(accounts, url, "example.com", true), 1);
    EXPECT_EQ(ui_->chooseQuestions().size(), 1u);
    EXPECT_EQ(ui_->chooseQuestions()[0].accounts, accounts);

    clock_->advance(5.0);
    EXPECT_EQ(service_->chooseDefaultAccount(accounts, url, "example.com", true), 1);
    EXPECT_EQ(ui_->chooseQuestions().size(), 1u);

    // Not allowed: asked again, and the old entry stays until the new answer replaces it.
    ui_->queueChooseAnswer(std::nullopt);
    EXPECT_EQ(service_->chooseDefaultAccount(accounts, url, "example.com", false), -1);
    EXPECT_EQ(ui_->chooseQuestions().size(), 2u);
    EXPECT_EQ(service_->chooseDefaultAccount(accounts, url, "example.com", true), 1);
    EXPECT_EQ(ui_->chooseQuestions().size(), 2u);

    // Another site is its own entry.
    ui_->queueChooseAnswer(uint64_t{0});
    EXPECT_EQ(service_->chooseDefaultAccount(accounts, "https://other.example", "other", true), 0);

    // Older than 10 s: asked again.
    clock_->advance(6.0);
    ui_->queueChooseAnswer(uint64_t{2});
    EXPECT_EQ(service_->chooseDefaultAccount(accounts, url, "example.com", true), 2);
    EXPECT_EQ(ui_->chooseQuestions().size(), 4u);
}

TEST_F(ServiceQuestionsTest, TimedOutOrImpossibleChoiceIsNoChoiceAndIsNotRemembered) {
    const std::vector<std::string> accounts = {"alice", "bob"};
    const std::string url = "https://example.com";
    auto result = onConnection(
        [&] { return service_->chooseDefaultAccount(accounts, url, "example.com", true); });
    ASSERT_TRUE(clock_->waitForSleepers(1));
    clock_->advance(TBNService::kQuestionTimeout + 1);
    EXPECT_EQ(result.get(), -1);

    ui_->queueChooseAnswer(uint64_t{7});  // past the end of the list
    EXPECT_EQ(service_->chooseDefaultAccount(accounts, url, "example.com", true), -1);

    ui_->queueChooseAnswer(uint64_t{0});
    EXPECT_EQ(service_->chooseDefaultAccount(accounts, url, "example.com", true), 0);
    EXPECT_EQ(ui_->chooseQuestions().size(), 3u);
}

// A second account question waits for the first and then takes its answer from the cache.
TEST_F(ServiceQuestionsTest, AccountQuestionsAreAskedOneAtATime) {
    const std::vector<std::string> accounts = {"alice", "bob"};
    const std::string url = "https://example.com";
    auto r1 = onConnection(
        [&] { return service_->chooseDefaultAccount(accounts, url, "example.com", true); });
    ASSERT_TRUE(ui_->waitFor([&] { return ui_->openChooseQuestions(); }, 1));
    auto r2 = onConnection(
        [&] { return service_->chooseDefaultAccount(accounts, url, "example.com", true); });
    EXPECT_EQ(r2.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    EXPECT_EQ(ui_->chooseQuestions().size(), 1u);
    EXPECT_TRUE(ui_->answerChoose(0, uint64_t{1}));
    EXPECT_EQ(r1.get(), 1);
    EXPECT_EQ(r2.get(), 1);
    EXPECT_EQ(ui_->chooseQuestions().size(), 1u);
}

TEST_F(ServiceQuestionsTest, PingsRememberExtensionVersionsByFamily) {
    struct Case {
        std::string id;
        std::optional<std::string> safari, chrome;
    } cases[] = {
        {"com.tobrin.safari.lumvane", "2.0", std::nullopt},
        {"com.tobrin.chrome.lumvane", "2.0", "2.0"},
        {"com.tobrin.edge.lumvane", "2.0", "2.0"},
        {"com.tobrin.firefox.lumvane", "2.0", "2.0"},
        {"com.tobrin.opera.lumvane", "2.0", "2.0"},
        {"com.example.other", "2.0", "2.0"},
    };
    for (const auto& c : cases) {
        service_->didPingFromExtension(c.id, std::string("2.0"));
        EXPECT_EQ(settings_->lastSafariExtVersion(), c.safari) << c.id;
        EXPECT_EQ(settings_->lastChromeExtVersion(), c.chrome) << c.id;
    }
    // The same version again writes nothing.
    settings_->waitForPendingSaves();
    auto writes = settings_->fileWrites();
    service_->didPingFromExtension(std::string("com.tobrin.edge.lumvane"), std::string("2.0"));
    service_->didPingFromExtension(std::nullopt, std::string("3.0"));
    settings_->waitForPendingSaves();
    EXPECT_EQ(settings_->fileWrites(), writes);
}

TEST_F(ServiceQuestionsTest, PingDelegateHearsEveryPingOnTheMainLoop) {
    struct PingDelegate : TBNServicePingDelegate {
        explicit PingDelegate(std::shared_ptr<MainLoop> l) : loop(std::move(l)) {}
        void serviceDidPingFromExtensionId(TBNService&, const std::string& id,
                                           const std::string& version) override {
            std::lock_guard<std::mutex> lock(mutex);
            pings.push_back(id + "/" + version);
            onMain = onMain && loop->isMainThread();
        }
        std::shared_ptr<MainLoop> loop;
        std::mutex mutex;
        std::vector<std::string> pings;
        bool onMain = true;
    };
    auto d = std::make_shared<PingDelegate>(loop_);
    service_->setPingDelegate(d);
    service_->didPingFromExtension(std::string("com.tobrin.chrome.lumvane"), std::string("1.2"));
    service_->didPingFromExtension(std::string("com.example.other"), std::nullopt);
    drainMain();
    std::lock_guard<std::mutex> lock(d->mutex);
    EXPECT_EQ(d->pings,
              (std::vector<std::string>{"com.tobrin.chrome.lumvane/1.2", "com.example.other/"}));
    EXPECT_TRUE(d->onMain);
}

TEST_F(ServiceQuestionsTest, ClientKeyIsTheDigestOfTheApprovedSecret) {
    settings_->approveExtForClientId(std::string("EXT-1"), std::string("the-secret"));
    settings_->waitForPendingSaves();
    auto key = service_->clientKeyForClientId("EXT-1");
    ASSERT_TRUE(key);
    EXPECT_EQ(*key, TBNCryptHash::sha256FromString(std::string("the-secret")));
    EXPECT_EQ(key->size(), 32u);
    EXPECT_FALSE(service_->clientKeyForClientId(""));
    EXPECT_FALSE(service_->clientKeyForClientId("EXT-UNKNOWN"));
}

TEST_F(ServiceQuestionsTest, OneDriverPageAtATime) {
    ui_->setCloseDriverPagesAtOnce(false);
    service_->showInstallDriver();
    EXPECT_TRUE(service_->showingInstallDriver());
    ASSERT_TRUE(ui_->waitFor([&] { return ui_->driverPages().size(); }, 1));
    service_->showRunDriver();
    service_->showInstallDriver();
    drainMain();
    EXPECT_EQ(ui_->driverPages().size(), 1u);

    ui_->closeDriverPages();
    ASSERT_TRUE(eventually([&] { return !service_->showingInstallDriver(); }));
    service_->showUpdateDriver();
    ASSERT_TRUE(ui_->waitFor([&] { return ui_->driverPages().size(); }, 2));
    EXPECT_EQ(ui_->driverPages()[1], TBNInstallDriverViewType::Update);
    // A page nobody closes ends with the wait.
    ASSERT_TRUE(clock_->waitForSleepers(1));
    clock_->advance(TBNService::kInstallDriverTimeout + 1);
    EXPECT_TRUE(eventually([&] { return !service_->showingInstallDriver(); }));
}

TEST_F(ServiceQuestionsTest, QuestionAskedOnTheMainLoopIsCancelledInsteadOfHanging) {
    pairPhone(false);
    auto done = std::make_shared<std::promise<TBNSaveVariant>>();
    auto f = done->get_future();
    loop_->post([this, done] {
        auto data = login("alice", "secret");
        done->set_value(service_->canSaveLoginData(data, "https://example.com", "example.com"));
    });
    ASSERT_EQ(f.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(f.get(), TBNSaveVariantDecline);
}

}  // namespace
}  // namespace lumvane::servicetest
