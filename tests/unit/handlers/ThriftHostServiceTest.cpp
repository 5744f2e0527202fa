// The host-storage handler: client registration, the account choice, the Google import
// hand-over, password generation, and the save/update decision of a login to add.
#include <future>
#include <thread>

#include "HandlersTestSupport.h"
#include "crypto/TBNCryptHash.h"
#include "crypto/TBNPasswordGenerator.h"
#include "protocol/PasswordEncoding.h"

namespace lumvane::handlerstest {
namespace {

using Variant = TBNSaveVariant;

class ThriftHostServiceTest : public HandlersFixture {
  protected:
    std::shared_ptr<TBNPongTestResponse> ping(std::shared_ptr<TBNAuthentication> a) {
        auto r = std::make_shared<TBNPingTestRequest>();
        r->setInfo(requestInfo());
        if (a) r->setAuth(std::move(a));
        r->setAppIdentifier(std::string("com.tobrin.chrome.lumvane"));
        r->setAppVersion(std::string("2.1"));
        return host_->sendPing(r);
    }
    std::shared_ptr<TBNChooseSiteDataResponse> choose(std::vector<std::string> accounts,
                                                      bool noCache = false) {
        auto r = std::make_shared<TBNChooseSiteDataRequest>();
        r->setInfo(requestInfo());
        r->setAuth(approvedAuth());
        r->setSiteUrl(std::string("https://login.example.com:8443/a?b#c"));
        r->setAccounts(std::make_shared<std::vector<std::string>>(std::move(accounts)));
        r->setNoCache(noCache);
        return host_->chooseSiteData(r);
    }
    std::string choiceKey() {
        return TBNCryptHash::strSha256FromString(std::string(kClientId) +
                                                 "_https://login.example.com");
    }
    static std::vector<std::string> digests(const std::vector<std::string>& accounts) {
        std::vector<std::string> out;
        for (const auto& a : accounts) out.push_back(TBNCryptHash::strSha256FromString(a));
        return out;
    }
    std::shared_ptr<TBNAddLoginDataRequest> add(std::optional<std::string> siteUrl,
                                                std::optional<std::string> login,
                                                std::optional<std::string> password) {
        auto r = std::make_shared<TBNAddLoginDataRequest>();
        r->setInfo(requestInfo());
        r->setAuth(approvedAuth());
        if (siteUrl) r->setSiteUrl(std::move(siteUrl));
        r->setLoginData(loginData(std::move(login), std::move(password)));
        return r;
    }
    // The phone's cache: the site is known, "alice" with "pw" is stored, "bob" is known
    // with another password.
    void cacheSiteOnPhone() {
        auto sites = std::make_shared<TBNSitesCache>();
        sites->setUrlsCache(std::make_shared<std::set<std::string>>(
            std::set<std::string>{TBNCryptHash::strSha256FromSiteUrl("example.com")}));
        settings_->updateSitesCache(sites, std::string(kHardwareId));
        auto accounts = std::make_shared<TBNAccountsCache>();
        accounts->setLoginsCache(std::make_shared<std::set<std::string>>(std::set<std::string>{
            TBNCryptHash::strSha256FromLogin("alice"), TBNCryptHash::strSha256FromLogin("bob")}));
        accounts->setPasswordsCache(std::make_shared<std::set<std::string>>(
            std::set<std::string>{TBNCryptHash::strSha256FromLogin("alice", "pw"),
                                  TBNCryptHash::strSha256FromLogin("bob", "old")}));
        settings_->updateAccountsCache(accounts, std::string("https://example.com/"),
                                       std::string(kHardwareId));
        settings_->waitForPendingSaves();
    }
};

// ---- sendPing ----------------------------------------------------------------------------

TEST_F(ThriftHostServiceTest, NewClientRegistersOnlyInsideTheWindow) {
    const auto newcomer = [] { return auth(std::string("NEW-EXT"), std::nullopt); };
    // Never opened.
    auto refused = ping(newcomer());
    EXPECT_EQ(errorOf(refused->info()), std::make_pair(1, int64_t{1}));
    EXPECT_FALSE(refused->clientSecret().has_value());

    host_->openExtensionRegistration();
    clock_->advance(10.0);
    auto first = ping(newcomer());
    EXPECT_EQ(errorOf(first->info()), std::make_pair(0, int64_t{0}));
    ASSERT_TRUE(first->clientSecret().has_value());
    EXPECT_EQ(first->clientSecret()->size(), 36u);
    EXPECT_TRUE(
        settings_->isApprovedExtensionClient(std::string("NEW-EXT"), first->clientSecret()));

    auto again = ping(newcomer());
    EXPECT_EQ(again->clientSecret(), first->clientSecret());

    auto stored = ping(auth(std::string("NEW-EXT"), first->clientSecret()));
    EXPECT_EQ(errorOf(stored->info()), std::make_pair(0, int64_t{0}));
    EXPECT_FALSE(stored->clientSecret().has_value());

    // Once it has pinged with its secret, a ping without it inside the window gets a new
    // secret, approved in place of the old one.
    auto renewed = ping(newcomer());
    ASSERT_TRUE(renewed->clientSecret().has_value());
    EXPECT_NE(renewed->clientSecret(), first->clientSecret());
    EXPECT_FALSE(
        settings_->isApprovedExtensionClient(std::string("NEW-EXT"), first->clientSecret()));

    // 121 s after opening the window is closed; the approved secret still works.
    clock_->advance(111.0);
    auto late = ping(auth(std::string("LATE-EXT"), std::nullopt));
    EXPECT_EQ(errorOf(late->info()), std::make_pair(1, int64_t{1}));
    EXPECT_FALSE(late->clientSecret().has_value());
    EXPECT_FALSE(host_->isExtensionRegistrationOpen());
    auto known = ping(auth(std::string("NEW-EXT"), renewed->clientSecret()));
    EXPECT_EQ(errorOf(known->info()), std::make_pair(0, int64_t{0}));

    // Opening again restarts the window from now.
    host_->openExtensionRegistration();
    clock_->advance(100.0);
    EXPECT_TRUE(host_->isExtensionRegistrationOpen());
}

// Pings of one new client that arrive together all get the one secret that was approved.
TEST_F(ThriftHostServiceTest, ConcurrentFirstPingsShareOneSecret) {
    host_->openExtensionRegistration();
    std::vector<std::future<std::optional<std::string>>> pings;
    for (int i = 0; i < 8; ++i) {
        pings.push_back(std::async(std::launch::async, [this] {
            return ping(auth(std::string("RACE-EXT"), std::nullopt))->clientSecret();
        }));
    }
    std::set<std::optional<std::string>> secrets;
    for (auto& p : pings) secrets.insert(p.get());
    ASSERT_EQ(secrets.size(), 1u);
    ASSERT_TRUE(secrets.begin()->has_value());
    EXPECT_TRUE(settings_->isApprovedExtensionClient(std::string("RACE-EXT"), *secrets.begin()));
}

TEST_F(ThriftHostServiceTest, PingsWithoutClientOrWhilePausedAreRefusedButStillReported) {
    host_->openExtensionRegistration();
    EXPECT_EQ(errorOf(ping(nullptr)->info()), std::make_pair(1, int64_t{1}));
    EXPECT_EQ(errorOf(ping(auth(std::nullopt, std::string("s")))->info()),
              std::make_pair(1, int64_t{1}));
    settings_->setPaused(true);
    settings_->waitForPendingSaves();
    auto paused = ping(approvedAuth());
    EXPECT_EQ(errorOf(paused->info()), std::make_pair(4, int64_t{16}));
    EXPECT_FALSE(paused->clientSecret().has_value());

    std::lock_guard<std::mutex> lock(delegate_->mutex);
    ASSERT_EQ(delegate_->pings.size(), 3u);
    EXPECT_EQ(delegate_->pings[2].id, "com.tobrin.chrome.lumvane");
    EXPECT_EQ(delegate_->pings[2].version, "2.1");
}

TEST_F(ThriftHostServiceTest, PongCarriesExtendedModeAndFlags) {
    settings_->setExtensionExtendedMode(true);
    settings_->waitForPendingSaves();
    auto pong = ping(approvedAuth());
    EXPECT_TRUE(pong->extendedModeIsSet());
    EXPECT_TRUE(pong->extendedMode());
    EXPECT_EQ(pong->flags(), settings_->pongFlags());
    EXPECT_EQ(pong->flags() & 48, 32);  // no paired phone
    EXPECT_EQ(pong->info()->requestId(), "req-7");
}

// ---- chooseSiteData ----------------------------------------------------------------------

TEST_F(ThriftHostServiceTest, ChoiceFollowsTheStoredOrderAndStoresTheNewOne) {
    settings_->setChooseAccouts(digests({"c", "a"}), choiceKey());
    settings_->waitForPendingSaves();
    delegate_->choices = {2};
    auto answer = choose({"a", "b", "c"});
    EXPECT_EQ(errorOf(answer->info()), std::make_pair(0, int64_t{0}));
    EXPECT_EQ(answer->choosedAccount(), "b");
    ASSERT_EQ(delegate_->chooseQuestions.size(), 1u);
    const auto& q = delegate_->chooseQuestions[0];
    EXPECT_EQ(q.accounts, (std::vector<std::string>{"c", "a", "b"}));
    EXPECT_EQ(q.siteUrl, "https://login.example.com");
    EXPECT_EQ(q.siteName, "example.com");
    EXPECT_EQ(settings_->chooseAccountsListByKey(choiceKey()), digests({"b", "c", "a"}));
}

TEST_F(ThriftHostServiceTest, ChoiceAnswersWithoutAChosenAccount) {
    // Empty list: no question, no account, no error.
    auto empty = choose({});
    EXPECT_EQ(errorOf(empty->info()), std::make_pair(0, int64_t{0}));
    EXPECT_FALSE(empty->choosedAccount().has_value());
    EXPECT_TRUE(delegate_->chooseQuestions.empty());

    // Negative and past-the-end answers are no choice, and store nothing.
    for (int64_t index : {int64_t{-1}, int64_t{2}, int64_t{1000}}) {
        SCOPED_TRACE(index);
        delegate_->choices = {index};
        auto answer = choose({"a", "b"});
        EXPECT_EQ(errorOf(answer->info()), std::make_pair(0, int64_t{0}));
        EXPECT_FALSE(answer->choosedAccount().has_value());
    }
    EXPECT_FALSE(settings_->chooseAccountsListByKey(choiceKey()).has_value());

    // A delegate that does not ask leaves the first account.
    delegate_->choices = {std::nullopt};
    EXPECT_EQ(choose({"x", "y"})->choosedAccount(), "x");

    // noCache reaches the delegate unchanged.
    choose({"a"}, true);
    EXPECT_TRUE(delegate_->chooseQuestions.back().usingAccountCache);
}

TEST_F(ThriftHostServiceTest, ChoiceNeedsApprovalThenNoPause) {
    auto r = std::make_shared<TBNChooseSiteDataRequest>();
    r->setAuth(auth(std::string(kClientId), std::string("wrong")));
    r->setAccounts(std::make_shared<std::vector<std::string>>(std::vector<std::string>{"a"}));
    auto refused = host_->chooseSiteData(r);
    EXPECT_EQ(errorOf(refused->info()), std::make_pair(1, int64_t{1}));
    EXPECT_FALSE(refused->choosedAccount().has_value());
    settings_->setPaused(true);
    settings_->waitForPendingSaves();
    EXPECT_EQ(errorOf(host_->chooseSiteData(r)->info()), std::make_pair(1, int64_t{1}));
    EXPECT_EQ(errorOf(choose({"a"})->info()), std::make_pair(4, int64_t{16}));
    EXPECT_TRUE(delegate_->chooseQuestions.empty());
}

// ---- importSiteDataFromGoogle ------------------------------------------------------------

class GoogleImportTest : public ThriftHostServiceTest {
  protected:
    std::shared_ptr<TBNImportSiteDataFromGoogleRequest> request(
        std::shared_ptr<TBNAuthentication> a) {
        auto withDomain = std::make_shared<TBNSiteData>();
        withDomain->setDomain(std::string("example.com"));
        withDomain->setLoginData(std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>(
            std::vector<std::shared_ptr<TBNLoginData>>{
                loginData(std::string("alice"), base64Encode("pä55")),
                loginData(std::string("bob"), std::string("%%not base64%%")),
                loginData(std::string("carol"), std::nullopt)}));
        auto withUrl = std::make_shared<TBNSiteData>();
        withUrl->setSiteUrl(std::string("https://other.org/login"));
        withUrl->setFormUrls(std::make_shared<std::set<std::string>>(
            std::set<std::string>{"https://other.org/form"}));
        auto r = std::make_shared<TBNImportSiteDataFromGoogleRequest>();
        r->setInfo(requestInfo());
        r->setAuth(std::move(a));
        r->setRecords(std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>(
            std::vector<std::shared_ptr<TBNSiteData>>{withDomain, nullptr, withUrl}));
        r->setDetail(std::string("chrome"));
        return r;
    }

    // Starts the import's wait on another thread; the future gives what it received.
    std::future<std::any> startImport() {
        auto f = std::async(std::launch::async, [this] {
            return waits_.waitWithName(kTBNImportFromGoogleWaitName, std::any(),
                                       kTBNImportFromGoogleTimeout);
        });
        EXPECT_TRUE(clock_->waitForSleepers(1));
        return f;
    }
};

TEST_F(GoogleImportTest, RecordsReachTheWaitingImportPrepared) {
    auto pending = startImport();
    auto answer = host_->importSiteDataFromGoogle(request(approvedAuth()));
    EXPECT_EQ(errorOf(answer->info()), std::make_pair(0, int64_t{0}));
    std::any received = pending.get();
    auto* result = std::any_cast<TBNGoogleImportResult>(&received);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->sourceDetail, "chrome");
    ASSERT_EQ(result->records.size(), 2u);
    const auto& first = *result->records[0];
    EXPECT_EQ(first.siteUrl(), "http://example.com");
    EXPECT_EQ(*first.formUrls(), (std::set<std::string>{"http://example.com"}));
    EXPECT_EQ((*first.loginData())[0]->password(), "pä55");
    EXPECT_FALSE((*first.loginData())[1]->password().has_value());
    EXPECT_FALSE((*first.loginData())[2]->password().has_value());
    EXPECT_EQ(*result->records[1]->formUrls(),
              (std::set<std::string>{"https://other.org/form", "https://other.org/login"}));
}

TEST_F(GoogleImportTest, RecordsAreRefusedWithoutApprovalPauseOrAWaitingImport) {
    // Nobody waits: refused, not reported as taken.
    auto unasked = host_->importSiteDataFromGoogle(request(approvedAuth()));
    EXPECT_EQ(errorOf(unasked->info()), std::make_pair(2, int64_t{4}));

    auto pending = startImport();
    auto stranger =
        host_->importSiteDataFromGoogle(request(auth(std::string("X"), std::string("Y"))));
    EXPECT_EQ(errorOf(stranger->info()), std::make_pair(1, int64_t{1}));
    settings_->setPaused(true);
    settings_->waitForPendingSaves();
    auto paused = host_->importSiteDataFromGoogle(request(approvedAuth()));
    EXPECT_EQ(errorOf(paused->info()), std::make_pair(4, int64_t{16}));
    // The import still waits; its time-out ends it with nothing.
    EXPECT_TRUE(waits_.waitedWithName(kTBNImportFromGoogleWaitName));
    clock_->advance(kTBNImportFromGoogleTimeout + 1);
    EXPECT_FALSE(pending.get().has_value());
}

// ---- generatePassword --------------------------------------------------------------------

class GeneratePasswordTest : public ThriftHostServiceTest {
  protected:
    void configure(int16_t length, int16_t digits) {
        auto generator = std::make_shared<TBNGeneratorSettings>();
        generator->setProfile(99);
        generator->setConfig(std::make_shared<TBNGeneratorConfig>(length, digits, 0, 0, 0,
                                                                  digits > 0, false, false));
        settings_->setGeneratorSettings(generator);
        settings_->waitForPendingSaves();
    }
    std::shared_ptr<TBNGeneratePasswordResponse> generate(std::optional<int32_t> maxLength,
                                                          int32_t digits = 0) {
        auto r = std::make_shared<TBNGeneratePasswordRequest>();
        r->setInfo(requestInfo());
        r->setAuth(approvedAuth());
        if (maxLength) r->setMaxLength(*maxLength);
        r->setDigits(digits);
        return host_->generatePassword(r);
    }
    static bool hasDigit(const std::string& s) {
        return s.find_first_of(TBNPasswordGenerator::kDigits) != std::string::npos;
    }
};

TEST_F(GeneratePasswordTest, LengthIsTheSmallerOfRequestAndSettings) {
    configure(20, 0);
    struct Case {
        std::optional<int32_t> maxLength;
        size_t expected;
    };
    // 0, negative and absent mean "as configured".
    for (const Case& c : {Case{12, 12}, Case{20, 20}, Case{30, 20}, Case{0, 20}, Case{-5, 20},
                          Case{std::nullopt, 20}, Case{1, 1}}) {
        SCOPED_TRACE(c.maxLength.value_or(-999));
        auto answer = generate(c.maxLength);
        EXPECT_EQ(errorOf(answer->info()), std::make_pair(0, int64_t{0}));
        ASSERT_TRUE(answer->generatedPassword().has_value());
        EXPECT_EQ(answer->generatedPassword()->size(), c.expected);
    }
}

TEST_F(GeneratePasswordTest, SwitchesOverrideTheConfiguredKinds) {
    configure(40, 5);  // digits configured
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(hasDigit(*generate(40, 1)->generatedPassword()));
    EXPECT_TRUE(hasDigit(*generate(40, 0)->generatedPassword()));  // as configured
    configure(40, 0);
    EXPECT_TRUE(hasDigit(*generate(40, 2)->generatedPassword()));
}

TEST_F(GeneratePasswordTest, NeedsApprovalThenNoPause) {
    auto r = std::make_shared<TBNGeneratePasswordRequest>();
    auto refused = host_->generatePassword(r);
    EXPECT_EQ(errorOf(refused->info()), std::make_pair(1, int64_t{1}));
    EXPECT_FALSE(refused->generatedPassword().has_value());
    settings_->setPaused(true);
    settings_->waitForPendingSaves();
    auto paused = generate(10);
    EXPECT_EQ(errorOf(paused->info()), std::make_pair(4, int64_t{16}));
    EXPECT_FALSE(paused->generatedPassword().has_value());
}

// ---- addLoginData (local storage) --------------------------------------------------------

TEST_F(ThriftHostServiceTest, AddWithoutPairedPhoneIsRefusedBeforeAsking) {
    auto answer = host_->addLoginData(
        add(std::string("https://example.com"), std::string("a"), std::string("p")));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(errorOf(answer->info()), std::make_pair(3, int64_t{5}));
    EXPECT_FALSE(answer->isUpdated());
    EXPECT_TRUE(delegate_->saveQuestions.empty());
    // The other storage operations never answer here.
    EXPECT_EQ(host_->getLoginData(std::make_shared<TBNGetLoginDataRequest>()), nullptr);
    EXPECT_EQ(host_->get2FACode(std::make_shared<TBNGet2FACodeRequest>()), nullptr);
}

// Which question a login gets, or which duplicate error, from the phone's cache.
TEST_F(ThriftHostServiceTest, AddDecidesBetweenDuplicateUpdateAndNewLogin) {
    pairPhone();
    cacheSiteOnPhone();
    struct Case {
        const char* name;
        std::optional<std::string> siteUrl, login, password;
        std::pair<int32_t, int64_t> error;  // (0, 0): a question was asked
        bool update;
    };
    const std::string url = "https://www.example.com/login";
    const std::vector<Case> cases = {
        {"same login and password", url, "alice", "pw", {4, 9}, false},
        {"known login, new password", url, "bob", "new", {0, 0}, true},
        {"unknown login", url, "zed", "pw", {0, 0}, false},
        {"no login, known site", url, "", "pw", {4, 9}, false},
        {"no login, unknown site",
         std::string("https://other.org"),
         std::nullopt,
         "pw",
         {0, 0},
         false},
        {"no password", url, "alice", std::nullopt, {0, 0}, false},
        {"no site url", std::nullopt, "alice", "pw", {0, 0}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t asked = delegate_->saveQuestions.size();
        auto request = add(c.siteUrl, c.login, c.password);
        auto answer = host_->addLoginData(request);
        if (c.error.first != 0) {
            ASSERT_NE(answer, nullptr);
            EXPECT_EQ(errorOf(answer->info()), c.error);
            EXPECT_EQ(delegate_->saveQuestions.size(), asked);
            continue;
        }
        EXPECT_EQ(answer, nullptr);
        ASSERT_EQ(delegate_->saveQuestions.size(), asked + 1);
        EXPECT_EQ(delegate_->saveQuestions.back().update, c.update);
        // Absent texts are filled with empty ones before the question.
        EXPECT_EQ(delegate_->saveQuestions.back().login, c.login.value_or(""));
        EXPECT_EQ(delegate_->saveQuestions.back().password, c.password.value_or(""));
        EXPECT_EQ(request->siteUrl(), c.siteUrl.value_or(""));
    }
    // Without a site URL the question has empty origin and site name.
    EXPECT_EQ(delegate_->saveQuestions.back().siteUrl, "");
    EXPECT_EQ(delegate_->saveQuestions.back().siteName, "");
    EXPECT_EQ(delegate_->saveQuestions.front().siteUrl, "https://www.example.com");
    EXPECT_EQ(delegate_->saveQuestions.front().siteName, "example.com");
}

TEST_F(ThriftHostServiceTest, SaveVariantsDecideTheAnswer) {
    pairPhone();
    struct Case {
        Variant variant;
        std::pair<int32_t, int64_t> error;
        bool secured;
    };
    for (const Case& c :
         {Case{TBNSaveVariantTimeout, {2, 4}, false}, Case{TBNSaveVariantDecline, {2, 3}, false},
          Case{TBNSaveVariantSave, {0, 0}, false}, Case{TBNSaveVariantSaveSecured, {0, 0}, true},
          Case{7, {0, 0}, false}}) {
        SCOPED_TRACE(c.variant);
        delegate_->variants = {c.variant};
        auto request =
            add(std::string("https://a.example.net/x"), std::string("u"), std::string("p"));
        request->setIsSecured(!c.secured);
        auto answer = host_->addLoginData(request);
        if (c.error.first != 0) {
            ASSERT_NE(answer, nullptr);
            EXPECT_EQ(errorOf(answer->info()), c.error);
            EXPECT_FALSE(answer->isUpdated());
        } else {
            EXPECT_EQ(answer, nullptr);
            EXPECT_TRUE(request->isSecuredIsSet());
            EXPECT_EQ(request->isSecured(), c.secured);
        }
    }
    EXPECT_EQ(host_->declinedSave(), (std::set<std::string>{"https://a.example.net"}));
}

TEST_F(ThriftHostServiceTest, WhatTheUserTypedGoesOnToThePhone) {
    pairPhone();
    delegate_->typedLogin = "typed-login";
    delegate_->typedPassword = "typed-pass";
    auto request = add(std::string("https://example.com"), std::string("a"), std::string("b"));
    EXPECT_EQ(host_->addLoginData(request), nullptr);
    EXPECT_EQ(request->loginData()->login(), "typed-login");
    EXPECT_EQ(request->loginData()->password(), "typed-pass");
}

// Two logins to save at once: the second question is asked only after the first is
// answered, and each gets its own answer.
TEST_F(ThriftHostServiceTest, SaveQuestionsAreAskedOneAtATime) {
    pairPhone();
    delegate_->holdQuestions = true;
    delegate_->variants = {TBNSaveVariantDecline, TBNSaveVariantSaveSecured};
    auto first = add(std::string("https://one.example.com"), std::string("a"), std::string("p"));
    auto second = add(std::string("https://two.example.com"), std::string("b"), std::string("q"));
    auto a = std::async(std::launch::async, [&] { return host_->addLoginData(first); });
    ASSERT_TRUE(delegate_->waitForAsked(1));
    auto b = std::async(std::launch::async, [&] { return host_->addLoginData(second); });
    // The second call is parked before the delegate while the first question is open.
    EXPECT_EQ(b.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    {
        std::lock_guard<std::mutex> lock(delegate_->mutex);
        EXPECT_EQ(delegate_->asked, 1u);
    }
    delegate_->release();
    auto firstAnswer = a.get();
    ASSERT_TRUE(delegate_->waitForAsked(2));
    delegate_->release();
    auto secondAnswer = b.get();

    ASSERT_NE(firstAnswer, nullptr);
    EXPECT_EQ(errorOf(firstAnswer->info()), std::make_pair(2, int64_t{3}));
    EXPECT_EQ(secondAnswer, nullptr);
    EXPECT_TRUE(second->isSecured());
    EXPECT_EQ(delegate_->maxInside, 1u);
    EXPECT_EQ(host_->declinedSave(), (std::set<std::string>{"https://one.example.com"}));
}

TEST_F(ThriftHostServiceTest, AccountQuestionsAreAskedOneAtATime) {
    delegate_->holdQuestions = true;
    delegate_->choices = {1, 0};
    auto a = std::async(std::launch::async, [&] { return choose({"a1", "a2"}); });
    ASSERT_TRUE(delegate_->waitForAsked(1));
    auto b = std::async(std::launch::async, [&] { return choose({"b1", "b2"}); });
    EXPECT_EQ(b.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    delegate_->release();
    EXPECT_EQ(a.get()->choosedAccount(), "a2");
    ASSERT_TRUE(delegate_->waitForAsked(2));
    delegate_->release();
    EXPECT_EQ(b.get()->choosedAccount(), "b1");
    EXPECT_EQ(delegate_->maxInside, 1u);
}

// ---- site origin -------------------------------------------------------------------------

TEST(SiteOrigin, OriginKeepsSchemeAndHostOnly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"https://www.example.com/login?x=1#f", "https://www.example.com"},
        {"http://user:pw@Example.COM:8080/a", "http://Example.COM"},
        {"https://[::1]:443/", "https://[::1]"},
        {"example.com/login", "example.com/login"},
        {"mailto:a@b.c", "mailto:a@b.c"},
        {"", ""},
    };
    for (const auto& [url, origin] : cases) {
        EXPECT_EQ(TBNThriftHostService::siteOriginOfUrl(url), origin) << url;
    }
    EXPECT_EQ(TBNThriftHostService::siteNameOfUrl("https://a.b.example.co.uk/x"), "example.co.uk");
    EXPECT_EQ(TBNThriftHostService::siteNameOfUrl("no host"), "");
}

}  // namespace
}  // namespace lumvane::handlerstest
