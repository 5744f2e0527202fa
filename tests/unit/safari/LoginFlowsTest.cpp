// Filling logins into forms, two-factor codes, the auto-submit decision and saving.
#include "HandlerFixture.h"

namespace lumvane {
namespace {

using nlohmann::json;
using safaritest::HandlerFixture;

class SafariLoginFlowsTest : public HandlerFixture {
  protected:
    void SetUp() override {
        openTab();
        setTabURL("https://www.example.com/login");
    }
    void siteLogins(std::vector<std::optional<std::string>> logins) {
        auto site = std::make_shared<TBNSiteData>();
        auto list = std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>();
        for (auto& l : logins) {
            auto d = std::make_shared<TBNLoginData>();
            if (l) d->setLogin(*l);
            list->push_back(d);
        }
        site->setLoginData(list);
        server.app->siteData->setRecord(site);
    }
};

TEST_F(SafariLoginFlowsTest, FormsInfoOffersOrAppliesAccounts) {
    siteLogins({"alice", "bob"});
    send("getFormsInfo", withParam(tabCtx(), {{"tags", {"login"}}}));
    auto r = page->messagesNamed("chooseAccount");
    ASSERT_EQ(r.size(), 1u);
    auto& m = r[0].userInfo["message"];
    EXPECT_EQ(m.size(), 1u);
    ASSERT_EQ(m["login"].size(), 2u);
    EXPECT_EQ(m["login"][0]["login"], "alice");
    EXPECT_EQ(m["login"][0]["password"], "");

    siteLogins({});
    page->clearMessages();
    send("getFormsInfo", withParam(tabCtx(), {{"tags", {"login"}}}));
    EXPECT_EQ(page->messagesNamed("chooseAccount").at(0).userInfo["message"],
              (json{{"login", json::array()}}));

    siteLogins({"only", std::nullopt});
    page->clearMessages();
    send("getFormsInfo", withParam(tabCtx(), {{"tags", {"change-password"}}, {"force", true}}));
    auto a = page->messagesNamed("applySelectedUserAccount");
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].userInfo["message"]["tag"], "login");
    EXPECT_EQ(a[0].userInfo["message"]["account"], "only");
    EXPECT_EQ(a[0].userInfo["message"]["force"], true);
}

TEST_F(SafariLoginFlowsTest, ForcedChoiceAmongSeveralAsksTheApplication) {
    siteLogins({"alice", "bob"});
    server.app->choose->setChoosedAccount(std::string("bob"));
    send("getFormsInfo", withParam(tabCtx(), {{"tags", {"login"}}, {"force", true}}));
    ASSERT_TRUE(server.app->lastChoose);
    EXPECT_EQ(*server.app->lastChoose->accounts(), (std::vector<std::string>{"alice", "bob"}));
    EXPECT_TRUE(server.app->lastChoose->noCache());
    auto a = page->messagesNamed("applySelectedUserAccount");
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].userInfo["message"]["account"], "bob");

    server.app->choose->unsetChoosedAccount();
    page->clearMessages();
    send("chooseUserAccount", withParam(tabCtx(), {{"accounts", {"a"}}, {"tag", "login"}}));
    EXPECT_FALSE(server.app->lastChoose->noCache());
    EXPECT_EQ(page->messagesNamed("done").at(0).userInfo["message"],
              "extManager.chooseUserAccounts login");
}

TEST_F(SafariLoginFlowsTest, FormsInfoTagsDecideTheReply) {
    struct Case {
        json param;
        const char* reply;  // nullptr: no reply
    };
    std::vector<Case> cases = {
        {{{"tags", {"registration"}}}, nullptr},
        {{{"tags", {"search"}}}, "done"},
        {{{"tags", json::array()}}, "done"},
        {json::object(), nullptr},
        {{{"tags", {"login"}}, {"url", "bad url"}}, nullptr},
    };
    for (const auto& c : cases) {
        page->clearMessages();
        send("getFormsInfo", withParam(tabCtx(), c.param));
        if (!c.reply) {
            EXPECT_TRUE(page->messages().empty()) << c.param.dump();
        } else {
            auto m = page->messagesNamed(c.reply);
            ASSERT_EQ(m.size(), 1u) << c.param.dump();
            EXPECT_EQ(m[0].userInfo["message"], "extManager.getFormsInfo error");
        }
    }
    page->clearMessages();
    auto before = server.app->callNames().size();
    send("chooseUserAccount", withParam(tabCtx(), {{"accounts", {"a"}}, {"tag", "registration"}}));
    EXPECT_EQ(page->messagesNamed("done").at(0).userInfo["message"],
              "extManager.chooseUserAccounts registration");
    EXPECT_EQ(server.app->callNames().size(), before);
}

TEST_F(SafariLoginFlowsTest, PasswordAndTwoFactorReplies) {
    send("getUserPassword", withParam(tabCtx(), {{"login", "u"}}));
    EXPECT_EQ(page->messagesNamed("done").at(0).userInfo["message"], "extManager.getUserPassword");

    auto data = std::make_shared<TBNLoginData>();
    data->setLogin(std::string("u"));
    data->setPassword(std::string("cHc="));
    server.app->loginData->setData(data);
    page->clearMessages();
    send("getUserPassword", withParam(tabCtx(), {{"login", "u"}}));
    auto r = page->messagesNamed("applyInputData");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].userInfo["message"]["password"], "pw");
    EXPECT_EQ(r[0].userInfo["message"]["autoSubmit"], false);
    EXPECT_FALSE(log.systemContains("\"pw\""));  // the trace never shows the password

    page->clearMessages();
    server.app->code->setCode(std::string("654321"));
    server.app->code->setPeriod(30);
    send("get2FACode", withParam(tabCtx(), "u"));
    auto c = page->messagesNamed("apply2FACode");
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].userInfo["message"]["mfaData"]["code"], "654321");
    EXPECT_EQ(c[0].userInfo["message"]["mfaData"]["period"], 30);
    EXPECT_FALSE(log.systemContains("654321"));

    send("get2FACode", withParam(tabCtx(), 5));
    EXPECT_TRUE(log.systemContains("error: HasNotParameter"));
}

TEST_F(SafariLoginFlowsTest, AutoSubmitDecision) {
    auto context = JSContext::fromDictionary(tabCtx());
    EXPECT_FALSE(handler->shouldAutoSubmit(context, 1));  // autoLogin off
    session->config().setAutoLogin(true);
    EXPECT_TRUE(handler->shouldAutoSubmit(context, 1));  // never pressed
    clock->advance(100.0);
    send("loginButtonPressed", withParam(tabCtx(), 1));
    clock->advance(15.0);
    EXPECT_FALSE(handler->shouldAutoSubmit(context, 1));
    EXPECT_TRUE(handler->shouldAutoSubmit(context, 2));
    clock->advance(0.5);
    EXPECT_TRUE(handler->shouldAutoSubmit(context, 1));
    JSContext unknown;
    unknown.tabId = "nope";
    EXPECT_FALSE(handler->shouldAutoSubmit(unknown, 3));

    send("tryToApplyUserAccount", withParam(tabCtx(), {{"tag", "login"}, {"account", "x"}}));
    auto r = page->messagesNamed("applySelectedUserAccount");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].userInfo["message"],
              (json{{"tag", "login"}, {"account", "x"}, {"autoSubmit", true}, {"force", false}}));
}

TEST_F(SafariLoginFlowsTest, DelayedSaveRunsOnceAndTheLatestFormWins) {
    auto form = [](const char* login) {
        return json{{"pause", 1500},
                    {"credentials", {{"login", login}, {"password", "p"}}},
                    {"urls", {"https://www.example.com/login"}}};
    };
    send("saveLoginForm", withParam(tabCtx(), form("first")));
    clock->advance(1.0);
    send("saveLoginForm", withParam(tabCtx(), form("second")));
    clock->advance(1.0);
    drainQueue();
    EXPECT_TRUE(server.app->adds.empty());
    clock->advance(0.6);
    drainQueue();
    ASSERT_EQ(server.app->adds.size(), 1u);
    EXPECT_EQ(server.app->adds[0]->loginData()->login(), "second");

    // A form without password cancels the pending save and saves nothing.
    send("saveLoginForm", withParam(tabCtx(), form("third")));
    send("saveLoginForm", withParam(tabCtx(), {{"pause", 10},
                                               {"credentials", {{"login", "x"}}},
                                               {"urls", {"https://a.com"}}}));
    clock->advance(5.0);
    drainQueue();
    EXPECT_EQ(server.app->adds.size(), 1u);
    EXPECT_FALSE(session->hasScheduledSave(tabKey()));
}

TEST_F(SafariLoginFlowsTest, AddOrUpdateDecision) {
    struct Case {
        json account;
        bool update;
    };
    std::vector<Case> cases = {
        {{{"login", "u"}, {"password", "p"}}, false},
        {{{"login", "u"}, {"password", "p"}, {"currentLogin", "old"}, {"currentPassword", "q"}},
         false},
        {{{"login", "e@x"},
          {"email", "e@x"},
          {"password", "p"},
          {"currentLogin", "old"},
          {"currentPassword", "p"}},
         true},
        {{{"login", "u"}, {"password", "p"}, {"currentLogin", ""}, {"currentPassword", "p"}}, true},
        {{{"login", "u"},
          {"userName", "v"},
          {"password", "p"},
          {"currentLogin", "old"},
          {"currentPassword", "p"}},
         false},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        size_t adds = server.app->adds.size(), updates = server.app->updates.size();
        send("saveLoginForm",
             withParam(tabCtx(), {{"credentials", cases[i].account},
                                  {"urls", {"about:blank", "https://x.example.com/a"}}}));
        EXPECT_EQ(server.app->updates.size() - updates, cases[i].update ? 1u : 0u) << i;
        EXPECT_EQ(server.app->adds.size() - adds, cases[i].update ? 0u : 1u) << i;
    }
    EXPECT_EQ(server.app->updates.back()->currentLogin(), "");
    EXPECT_EQ(server.app->adds.back()->siteUrl(), "https://x.example.com/a");
    EXPECT_EQ(server.app->adds.back()->domain(), "example.com");
}

TEST_F(SafariLoginFlowsTest, SaveWithoutAnySiteIsDroppedAndClearsNothing) {
    {
        auto lock = session->lockTabs();
        tabState()->lastEvent = json{{"a", 1}};
    }
    send("saveLoginForm", withParam(tabCtx(), {{"credentials", {{"login", "u"}, {"password", "p"}}},
                                               {"urls", {"about:blank"}}}));
    EXPECT_TRUE(server.app->adds.empty());
    EXPECT_TRUE(log.systemContains("error: "));
    EXPECT_TRUE(tabState()->lastEvent.has_value());
}

}  // namespace
}  // namespace lumvane
