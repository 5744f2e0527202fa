// The client of the main application against a loopback server with scripted replies.
#include <gtest/gtest.h>

#include <future>

#include "Communication.h"
#include "SafariTestSupport.h"

namespace lumvane {
namespace {

using safaritest::LogCapture;
using safaritest::MainAppServer;

class SafariCommunicationTest : public ::testing::Test {
  protected:
    CommunicationEnvironment env(std::string url,
                                 std::optional<std::string> creds = "cid:csecret") {
        CommunicationEnvironment e;
        e.url = std::move(url);
        e.credentialsText = [this, creds] {
            ++credentialReads_;
            return creds;
        };
        e.nowSeconds = [] { return int64_t(1700000000); };
        return e;
    }
    std::shared_ptr<TBNPongTestResponse> pongWith(std::optional<int64_t> flags,
                                                  std::optional<bool> ext) {
        auto p = std::make_shared<TBNPongTestResponse>();
        if (flags) p->setFlags(*flags);
        if (ext) p->setExtendedMode(*ext);
        return p;
    }
    static std::shared_ptr<TBNResponseInfo> errorInfo(int32_t category, int64_t id) {
        auto info = std::make_shared<TBNResponseInfo>();
        info->setError(std::make_shared<TBNError>(category, id, std::string("boom")));
        return info;
    }
    LogCapture log_;
    MainAppServer server_;
    int credentialReads_ = 0;
};

TEST_F(SafariCommunicationTest, PingWordsFromFlagsAndErrors) {
    Communication c(env(server_.url()));
    struct Case {
        std::function<std::shared_ptr<TBNPongTestResponse>()> pong;
        PingStatus expected;
    };
    std::vector<Case> cases = {
        {[&] { return pongWith(2 | 16 | 4, true); }, 0x0101000202ull},
        {[&] { return pongWith(std::nullopt, std::nullopt); }, 0x100},
        {[&] { return pongWith(48 | 3, false); }, 0x3},
        {[&] { return pongWith(32 | 1, false); }, 0x301},
        {[] {
             auto p = std::make_shared<TBNPongTestResponse>();
             p->setInfo(errorInfo(7, 16));
             return p;
         },
         PingWord::kPaused},
        {[] {
             auto p = std::make_shared<TBNPongTestResponse>();
             p->setInfo(errorInfo(1, 1));
             return p;
         },
         PingWord::kFailure},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        server_.app->pong = cases[i].pong;
        EXPECT_EQ(c.sendPing(), cases[i].expected) << "case " << i;
    }
    EXPECT_TRUE(log_.systemContains("error: "));
    auto ping = server_.app->lastPing;
    EXPECT_EQ(ping->appIdentifier(), "com.tobrin.safari.lumvane");
    EXPECT_EQ(ping->appVersion(), "20.5.28.1");
    EXPECT_EQ(ping->auth()->clientId(), "cid");
    EXPECT_EQ(ping->auth()->clientSecret(), "csecret");
    EXPECT_EQ(ping->info()->timeStampUtc(), 1700000000);
    EXPECT_EQ(ping->info()->contextName(), "");
}

TEST_F(SafariCommunicationTest, UnreachableApplicationAndBadAddress) {
    Communication dead(env(safaritest::deadURL()));
    EXPECT_EQ(dead.sendPing(), PingWord::kFailure);
    EXPECT_TRUE(log_.systemContains("error: "));
    EXPECT_TRUE(dead.getSiteData(*SafariURL::parse("https://a.com")).empty());
    EXPECT_FALSE(dead.getLoginData(*SafariURL::parse("https://a.com"), "u").has_value());
    EXPECT_EQ(dead.requestId(), 3);  // a failing call still uses up its number

    Communication noClient(env("not a url"));
    EXPECT_EQ(noClient.sendPing(), PingWord::kNoReply);
    EXPECT_EQ(noClient.requestId(), 0);
}

TEST_F(SafariCommunicationTest, RequestIdsCountAcrossOperations) {
    Communication c(env(server_.url()));
    auto url = *SafariURL::parse("https://login.example.com/a?b=1");
    c.sendPing();
    c.getSiteData(url);
    c.get2FACode(url, "u");
    EXPECT_EQ(server_.app->requestIds, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(credentialReads_, 1);
    auto r = server_.app->lastSiteData;
    EXPECT_EQ(r->siteUrl(), "https://login.example.com/a?b=1");
    EXPECT_EQ(r->domain(), "example.com");
    EXPECT_TRUE(r->includeLoginDataIsSet() && r->includeLoginData());
    EXPECT_TRUE(r->includePasswordsIsSet() && !r->includePasswords());
    EXPECT_TRUE(r->manual());
}

TEST_F(SafariCommunicationTest, CredentialsNeedExactlyTwoParts) {
    struct Case {
        std::optional<std::string> text;
        std::optional<std::string> id, secret;
        int readsAfterTwoCalls;
    };
    std::vector<Case> cases = {{"a:b", "a", "b", 1},
                               {":", "", "", 1},
                               {"a:b:c", std::nullopt, std::nullopt, 2},
                               {"ab", std::nullopt, std::nullopt, 2},
                               {std::nullopt, std::nullopt, std::nullopt, 2}};
    for (const auto& cs : cases) {
        credentialReads_ = 0;
        Communication c(env(server_.url(), cs.text));
        c.sendPing();
        c.sendPing();
        auto auth = server_.app->lastPing->auth();
        EXPECT_EQ(auth->clientId(), cs.id) << cs.text.value_or("<none>");
        EXPECT_EQ(auth->clientSecret(), cs.secret);
        EXPECT_EQ(credentialReads_, cs.readsAfterTwoCalls);
    }
}

TEST_F(SafariCommunicationTest, SiteDataAndLoginDataBecomeAccounts) {
    Communication c(env(server_.url()));
    auto url = *SafariURL::parse("https://a.com/login");
    auto site = std::make_shared<TBNSiteData>();
    auto l1 = std::make_shared<TBNLoginData>();
    l1->setLogin(std::string("first"));
    auto l2 = std::make_shared<TBNLoginData>();
    l2->setLogin(std::string("second"));
    site->setLoginData(std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>(
        std::vector<std::shared_ptr<TBNLoginData>>{l1, l2}));
    server_.app->siteData->setRecord(site);
    auto accounts = c.getSiteData(url);
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].login, "first");
    EXPECT_EQ(accounts[1].login, "second");
    EXPECT_EQ(accounts[0].password, "");
    EXPECT_EQ(accounts[0].isLoginFinal, true);
    EXPECT_EQ(accounts[0].autoSubmit, false);

    auto data = std::make_shared<TBNLoginData>();
    data->setLogin(std::string("u"));
    data->setEmail(std::string("u@a.com"));
    data->setUserName(std::string("uname"));
    data->setPassword(std::string("c2VjcmV0"));  // "secret"
    server_.app->loginData->setData(data);
    auto found = c.getLoginData(url, "u");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->password, "secret");
    EXPECT_EQ(found->userName, "uname");
    EXPECT_FALSE(found->email.has_value());
    EXPECT_EQ(found->isLoginFinal, false);
    EXPECT_FALSE(server_.app->lastLogin->manual());
    EXPECT_EQ(server_.app->lastLogin->login(), "u");

    for (const char* bad : {"c2Vj\ncmV0", "@@@@", "/w=="}) {  // bad alphabet, line break, not UTF-8
        data->setPassword(std::string(bad));
        auto f = c.getLoginData(url, "u");
        ASSERT_TRUE(f) << bad;
        EXPECT_FALSE(f->password.has_value()) << bad;
        EXPECT_EQ(f->login, "u");
    }
    server_.app->loginData->setInfo(errorInfo(3, 7));
    EXPECT_FALSE(c.getLoginData(url, "u").has_value());
}

TEST_F(SafariCommunicationTest, ChooseAndTwoFactor) {
    Communication c(env(server_.url()));
    auto url = *SafariURL::parse("https://a.com/");
    EXPECT_FALSE(c.chooseSiteData(url, {"x", "y"}, true).has_value());
    EXPECT_EQ(*server_.app->lastChoose->accounts(), (std::vector<std::string>{"x", "y"}));
    EXPECT_TRUE(server_.app->lastChoose->noCache());
    server_.app->choose->setChoosedAccount(std::string("y"));
    EXPECT_EQ(c.chooseSiteData(url, {"x", "y"}, false), "y");

    server_.app->code->setCode(std::string("123456"));
    auto code = c.get2FACode(url, "x");
    ASSERT_TRUE(code);
    EXPECT_EQ(code->code, "123456");
    EXPECT_FALSE(code->prevCode.has_value());
    EXPECT_EQ(code->period, 0);
    EXPECT_EQ(code->startTimestamp, 0);
}

TEST_F(SafariCommunicationTest, AddAndUpdateSendTheLoginRecord) {
    Communication c(env(server_.url()));
    JSAccount a;
    a.login = "u";
    a.password = "pässword";
    a.email = "e@x";
    a.currentPassword = "old";
    c.addLoginData(a, *SafariURL::parse("https://a.com/x"));
    JSAccount noPassword;
    noPassword.login = "v";
    noPassword.isLoginFinal = false;
    c.updateLoginData(noPassword, *SafariURL::parse("https://a.com"), "old");
    ASSERT_EQ(server_.app->adds.size(), 1u);
    auto sent = server_.app->adds[0]->loginData();
    EXPECT_EQ(sent->password(), base64Encode("pässword"));
    EXPECT_FALSE(sent->passwordProvided());
    EXPECT_TRUE(sent->isLoginFinal());
    EXPECT_EQ(sent->email(), "e@x");
    EXPECT_TRUE(sent->updatePasswordTimeStampIsSet());
    EXPECT_FALSE(server_.app->adds[0]->isSecured());
    ASSERT_EQ(server_.app->updates.size(), 1u);
    auto upd = server_.app->updates[0];
    EXPECT_EQ(upd->currentLogin(), "old");
    EXPECT_FALSE(upd->loginData()->password().has_value());
    EXPECT_FALSE(upd->loginData()->isLoginFinal());
}

TEST_F(SafariCommunicationTest, AddressWithoutSiteDomainSendsNoDomain) {
    Communication c(env(server_.url()));
    c.getSiteData(*SafariURL::parse("about:blank"));
    EXPECT_FALSE(server_.app->lastSiteData->domain().has_value());
}

// A main application that takes the connection and never answers: each call ends by its own
// bound (the ping by the ping bound, the questions by theirs) with its failure result.
TEST_F(SafariCommunicationTest, SilentApplicationCallsEndByTheirBounds) {
    using std::chrono::milliseconds;
    const auto url = *SafariURL::parse("https://a.com/login");
    struct Outcome {
        PingStatus ping = 0;
        bool siteDataEmpty = false, noChoice = false, noLogin = false, noCode = false;
    };
    struct Case {
        const char* name;
        milliseconds ping, question;
        bool callPing;
    };
    // The other bound is far beyond the wait below, so only the right one can end the call.
    const Case cases[] = {{"ping", milliseconds(150), std::chrono::minutes(10), true},
                          {"questions", std::chrono::minutes(10), milliseconds(150), false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        safaritest::SilentServer silent;
        auto e = env(silent.url());
        e.pingTimeout = k.ping;
        e.questionTimeout = k.question;
        Communication c(e);
        auto calls = std::async(std::launch::async, [&] {
            Outcome o;
            if (k.callPing) {
                o.ping = c.sendPing();
                return o;
            }
            o.siteDataEmpty = c.getSiteData(url).empty();
            o.noChoice = !c.chooseSiteData(url, {"a", "b"}, false);
            o.noLogin = !c.getLoginData(url, "u");
            o.noCode = !c.get2FACode(url, "u");
            JSAccount a;
            a.login = "u";
            c.addLoginData(a, url);
            c.updateLoginData(a, url, "old");
            return o;
        });
        const bool ended = calls.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
        silent.stop();  // frees a call that would otherwise wait for ever
        ASSERT_TRUE(ended);
        Outcome o = calls.get();
        if (k.callPing) {
            EXPECT_EQ(o.ping, PingWord::kFailure);
            EXPECT_EQ(c.requestId(), 1);
        } else {
            EXPECT_TRUE(o.siteDataEmpty);
            EXPECT_TRUE(o.noChoice);
            EXPECT_TRUE(o.noLogin);
            EXPECT_TRUE(o.noCode);
            EXPECT_EQ(c.requestId(), 6);
        }
        EXPECT_TRUE(log_.systemContains("error: "));
    }
}

// A main application whose connection queue is full: making the connection ends by its own
// bound, however long the call itself may take.
TEST_F(SafariCommunicationTest, UnansweredConnectionEndsByTheConnectBound) {
    safaritest::FullBacklogServer full;
    ASSERT_TRUE(full.full()) << "the listener's queue did not fill";
    auto e = env(full.url());
    e.connectTimeout = std::chrono::milliseconds(150);
    e.pingTimeout = std::chrono::minutes(10);
    e.questionTimeout = std::chrono::minutes(10);
    Communication c(e);
    auto ping = std::async(std::launch::async, [&] { return c.sendPing(); });
    const bool ended = ping.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    full.stop();  // refuses a connection that would otherwise wait for minutes
    ASSERT_TRUE(ended);
    EXPECT_EQ(ping.get(), PingWord::kFailure);
    EXPECT_TRUE(log_.systemContains("error: "));
}

}  // namespace
}  // namespace lumvane
