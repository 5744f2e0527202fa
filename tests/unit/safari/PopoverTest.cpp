// The popover's commands against the in-memory browser and the loopback application.
#include <fstream>
#include <thread>

#include "HandlerFixture.h"

namespace lumvane {
namespace {

using nlohmann::json;
using safaritest::HandlerFixture;

class SafariPopoverTest : public HandlerFixture {
  protected:
    void SetUp() override {
        webView = std::make_shared<FakePopupWebView>();
        popover().viewDidLoad(webView);
    }
    SafariExtensionViewController& popover() { return handler->popoverViewController(); }
    void command(const std::string& name, json extra = json::object()) {
        extra["command"] = name;
        popover().userContentControllerDidReceiveScriptMessage("service", extra);
    }
    void drainMain() {
        drainQueue();
        session->mainQueue()->sync([] {});
    }
    json lastCall(const std::string& fn) {
        drainMain();
        auto scripts = webView->scripts();
        for (auto it = scripts.rbegin(); it != scripts.rend(); ++it) {
            if (it->rfind(fn + "(", 0) == 0) {
                std::string arg = it->substr(fn.size() + 1, it->size() - fn.size() - 3);
                return arg.empty() ? json() : json::parse(arg);
            }
        }
        ADD_FAILURE() << "no call of " << fn;
        return json();
    }
    // The page reports its focused input after the popover asked for it.
    void reportInputs(json info) {
        send("tbn-active-element",
             json{{"context", tabCtx()}, {"message", {{"activeElementInfo", info}}}});
        drainMain();
    }
    std::shared_ptr<FakePopupWebView> webView;
};

TEST_F(SafariPopoverTest, StateReplyFollowsTheWindowAndTheBlocks) {
    command("getState");
    EXPECT_EQ(lastCall("gcGetStateResult"), (json{{"serviceState", "online"},
                                                  {"blockPage", false},
                                                  {"blockSite", false},
                                                  {"autoLogin", false},
                                                  {"autoLogout", false}}));
    for (auto s : {LumvaneServiceState::offline, LumvaneServiceState::deviceNotPaired}) {
        session->setServiceState(*window, s);
        command("getState");
        EXPECT_EQ(lastCall("gcGetStateResult")["serviceState"], "online");
    }
    session->setServiceState(*window, LumvaneServiceState::paused);
    command("getState");
    EXPECT_EQ(lastCall("gcGetStateResult")["serviceState"], "paused");

    command("switchBlockPage");
    EXPECT_EQ(lastCall("gcGetStateResult")["blockPage"], true);
    command("switchBlockPage");
    EXPECT_EQ(lastCall("gcGetStateResult")["blockPage"], false);
    command("switchBlockSite");
    auto state = lastCall("gcGetStateResult");
    EXPECT_EQ(state["blockSite"], true);
    EXPECT_TRUE(session->config().isBlocked(*SafariURL::parse("https://other.example.com/")));
    command("switchAutoLogin");
    EXPECT_EQ(lastCall("gcGetStateResult")["autoLogin"], true);
    command("switchAutoLogout");
    EXPECT_EQ(lastCall("gcGetStateResult")["autoLogout"], true);

    page->setPropertiesMissing(true);
    command("getState");
    state = lastCall("gcGetStateResult");
    EXPECT_EQ(state["blockSite"], false);
    EXPECT_EQ(state["blockPage"], false);

    webView->clear();
    app->setActiveWindow(nullptr);
    command("getState");
    drainMain();
    EXPECT_TRUE(webView->scripts().empty());
}

TEST_F(SafariPopoverTest, AccountsArriveAfterOneSecond) {
    auto site = std::make_shared<TBNSiteData>();
    auto l = std::make_shared<TBNLoginData>();
    l->setLogin(std::string("alice"));
    site->setLoginData(std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>(
        std::vector<std::shared_ptr<TBNLoginData>>{l, l}));
    server.app->siteData->setRecord(site);
    command("getAccounts");
    drainMain();
    EXPECT_TRUE(webView->scripts().empty());
    clock->advance(1.0);
    ASSERT_TRUE(webView->waitForScripts(1));
    EXPECT_EQ(lastCall("gcGetAccountsResult"), (json{{"accounts", {"alice", "alice"}}}));

    page->setURL(std::nullopt);
    webView->clear();
    command("getAccounts");
    clock->advance(1.0);
    ASSERT_TRUE(webView->waitForScripts(1));
    EXPECT_EQ(lastCall("gcGetAccountsResult"), (json{{"accounts", json::array()}}));
}

TEST_F(SafariPopoverTest, OnlyTheFirstReportAfterARequestCounts) {
    openTab();
    send("start", bare(tabCtx()));  // remembers the tab's context
    page->clearMessages();
    command("getActiveElement");
    drainMain();
    auto asked = page->messagesNamed("tbn-get-active-element");
    ASSERT_EQ(asked.size(), 1u);
    auto c = JSContext::fromDictionary(asked[0].userInfo["context"]);
    EXPECT_EQ(c.source, "menu");
    EXPECT_FALSE(c.frameId.has_value());
    EXPECT_EQ(c.sessionId, "s1");
    EXPECT_FALSE(asked[0].userInfo.contains("message"));

    reportInputs({{"activeInputType", "text"}, {"nextInputType", "password"}});
    reportInputs({{"activeInputType", "password"}});
    auto scripts = webView->scripts();
    EXPECT_EQ(std::count(scripts.begin(), scripts.end(), "gcGetActiveElementResult();"), 1);
    EXPECT_EQ(session->lastActiveInputs(tabKey())->activeInputType, "text");
    EXPECT_TRUE(log.systemContains("    activeInputs: JSActiveInputs("));

    command("getActiveElement");
    drainMain();
    EXPECT_FALSE(session->lastActiveInputs(tabKey()).has_value());
    reportInputs({{"activeInputType", 3}});  // undecodable: ignored
    EXPECT_FALSE(session->lastActiveInputs(tabKey()).has_value());
}

TEST_F(SafariPopoverTest, SelectingAnAccountFillsTheReportedInputs) {
    openTab();
    setTabURL("https://www.example.com/login");
    send("start", bare(tabCtx()));
    auto data = std::make_shared<TBNLoginData>();
    data->setLogin(std::string("alice"));
    data->setPassword(std::string("c2VjcmV0"));
    server.app->loginData->setData(data);

    struct Case {
        json report;
        json expected;
    };
    std::vector<Case> cases = {
        {{{"activeInputType", "text"}, {"nextInputType", "password"}},
         {{"activeInputValue", "alice"}, {"nextInputValue", "secret"}}},
        {{{"activeInputType", "password"}}, {{"activeInputValue", "secret"}}},
        {{{"activeInputType", "text"}}, {{"activeInputValue", "alice"}}},
    };
    for (const auto& c : cases) {
        command("getActiveElement");
        drainMain();
        reportInputs(c.report);
        page->clearMessages();
        int dismissed = webView->dismissals();
        command("selectAccount", {{"account", "alice"}});
        drainMain();
        auto sent = page->messagesNamed("tbn-insert-value");
        ASSERT_EQ(sent.size(), 1u) << c.report.dump();
        EXPECT_EQ(sent[0].userInfo["message"], c.expected) << c.report.dump();
        EXPECT_EQ(JSContext::fromDictionary(sent[0].userInfo["context"]).source, "menu");
        EXPECT_EQ(webView->dismissals(), dismissed + 1);
    }
    EXPECT_FALSE(log.systemContains("secret"));

    // Without a stored report nothing is sent, but the popover still closes.
    command("getActiveElement");
    drainMain();
    page->clearMessages();
    command("selectAccount", {{"account", "alice"}});
    drainMain();
    EXPECT_TRUE(page->messagesNamed("tbn-insert-value").empty());
    command("selectAccount", {{"account", 5}});
    drainMain();
    EXPECT_TRUE(page->messagesNamed("tbn-insert-value").empty());
}

TEST_F(SafariPopoverTest, AddCredentialSendsAnEmptyAccountAndCloses) {
    command("addCredential");
    drainMain();
    ASSERT_EQ(server.app->adds.size(), 1u);
    EXPECT_EQ(server.app->adds[0]->siteUrl(), "https://www.example.com/login?x=1");
    EXPECT_FALSE(server.app->adds[0]->loginData()->login().has_value());
    EXPECT_EQ(webView->dismissals(), 1);
}

TEST_F(SafariPopoverTest, EveryAppearanceReloadsThePageWhenTheBundleHasIt) {
    SafariBundle::setResourceDirectory(tmp.path);
    popover().viewDidAppear();
    EXPECT_TRUE(webView->loads().empty());
    { std::ofstream(tmp.path + "/popup-view.html") << "<html></html>"; }
    popover().viewDidAppear();
    popover().viewDidAppear();
    EXPECT_EQ(webView->loads(), (std::vector<std::string>(2, tmp.path + "/popup-view.html")));
    SafariBundle::setResourceDirectory(std::nullopt);
}

TEST_F(SafariPopoverTest, LogMessagesAndJunkAreHandledQuietly) {
    popover().userContentControllerDidReceiveScriptMessage("log", "hello");
    EXPECT_EQ(log.printed().back(), "popup log: hello");
    for (json body : {json("x"), json::object(), json{{"command", 1}}, json{{"command", "nope"}}}) {
        popover().userContentControllerDidReceiveScriptMessage("service", body);
    }
    drainMain();
    EXPECT_TRUE(webView->scripts().empty());
    popover().sendToPopup("gcGetStateResult", json{{"bad", std::string("\xff", 1)}});
    EXPECT_EQ(webView->scripts().back(), "gcGetStateResult();");
}

}  // namespace
}  // namespace lumvane
