// The page-message dispatcher, tab permissions and navigation tracking.
#include <fstream>

#include "HandlerFixture.h"

namespace lumvane {
namespace {

using nlohmann::json;
using safaritest::HandlerFixture;
using safaritest::LogCapture;

class SafariDispatcherTest : public HandlerFixture {};

TEST_F(SafariDispatcherTest, MessagesWithoutContextAreLoggedAndUnanswered) {
    for (auto info : std::vector<std::optional<json>>{std::nullopt, json::object(),
                                                      json{{"message", {{"param", 1}}}}}) {
        LogCapture capture;
        send("start", info);
        auto lines = capture.system();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], "error: HasNotContext");
        EXPECT_EQ(lines[1].rfind("userInfo", 0), 0u);
    }
    EXPECT_TRUE(page->messages().empty());
}

TEST_F(SafariDispatcherTest, NamesAreComparedExactly) {
    for (const char* name : {"Init", "init "}) {
        LogCapture capture;
        send(name, bare(tabCtx()));
        auto lines = capture.system();
        ASSERT_EQ(lines.size(), 5u) << name;
        EXPECT_EQ(lines[0], "!!!! unparsed !!!!");
        EXPECT_EQ(lines[1], std::string(26, '='));
        EXPECT_EQ(lines[2], name);
        EXPECT_EQ(lines[4], std::string(26, '-'));
    }
    EXPECT_TRUE(page->messages().empty());
}

TEST_F(SafariDispatcherTest, RepliesCarryBackAndPageAndKeepTheIds) {
    send("start", bare(ctx("T1", "4", "https://a.com/", "s9")));
    auto replies = page->messagesNamed("prepare");
    ASSERT_EQ(replies.size(), 1u);
    auto c = JSContext::fromDictionary(replies[0].userInfo["context"]);
    EXPECT_EQ(c.source, "back");
    EXPECT_EQ(c.destination, "page");
    EXPECT_EQ(c.tabId, "T1");
    EXPECT_EQ(c.frameId, "4");
    EXPECT_EQ(c.sessionId, "s9");
    auto config = replies[0].userInfo["message"]["config"];
    EXPECT_EQ(config["tbn_ga_id"], "UA-58260497-5");
    EXPECT_EQ(config["tbn_app_name"], "Lumvane Safari Extension");
    EXPECT_EQ(config["tbn_auto_submit"], false);
    EXPECT_EQ(replies[0].userInfo["message"]["url"], "");
    // The context is remembered under the page's tab key.
    auto stored = session->lastTabContext(tabKey());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->tabId, "T1");
}

TEST_F(SafariDispatcherTest, ParameterErrorsAndPagesWithoutWindow) {
    openTab();
    send("loginButtonPressed", bare(tabCtx()));
    EXPECT_TRUE(log.systemContains("error: HasNotParameter"));
    EXPECT_EQ(tabState()->loginClickStep, 0);
    send("loginButtonPressed", withParam(tabCtx(), "two"));
    EXPECT_EQ(tabState()->loginClickStep, 0);
    send("loginButtonPressed", withParam(tabCtx(), 2));
    EXPECT_EQ(tabState()->loginClickStep, 2);

    auto orphanTab = std::make_shared<FakeTab>(77);
    auto orphan = std::make_shared<FakePage>("https://a.com");
    orphanTab->setPage(orphan);
    send("start", bare(ctx("T9")), orphan);
    EXPECT_EQ(orphan->messagesNamed("prepare").size(), 1u);
    EXPECT_FALSE(session->lastTabContext("0_77").has_value());
}

TEST_F(SafariDispatcherTest, ErrorLinesNeverCarrySecrets) {
    send(
        "saveLoginForm",
        withParam(tabCtx(), {{"credentials", {{"password", "hunter2"}, {"isLoginFinal", "yes"}}}}));
    EXPECT_TRUE(log.systemContains("error: "));
    EXPECT_FALSE(log.systemContains("hunter2"));
}

TEST_F(SafariDispatcherTest, PermissionExchangeGivesSessionsInOrder) {
    send("tbn-request-script-running-permission", bare(ctx(std::nullopt, "3")));
    send("tbn-request-script-running-permission", bare(ctx(std::nullopt, std::nullopt)));
    EXPECT_TRUE(page->messages().empty());

    send("tbn-request-script-running-permission", bare(ctx(std::nullopt, "+0")));
    send("tbn-request-script-running-permission", bare(ctx(std::nullopt, "00")));
    auto replies = page->messagesNamed("tbn-tab-script-running-permission");
    ASSERT_EQ(replies.size(), 2u);
    auto c1 = JSContext::fromDictionary(replies[0].userInfo["context"]);
    auto c2 = JSContext::fromDictionary(replies[1].userInfo["context"]);
    EXPECT_EQ(c1.tabId, tabKey());
    EXPECT_EQ(c1.frameId, "0");
    EXPECT_EQ(c1.sessionId, "s1");
    EXPECT_EQ(c2.sessionId, "s2");
    EXPECT_EQ(c1.url, "https://www.example.com/login");
    EXPECT_EQ(replies[0].userInfo["message"], (json{{"enableExecuting", true}}));
}

TEST_F(SafariDispatcherTest, SecondExchangeKeepsTheTabState) {
    openTab();
    send("storeLastEvent", withParam(tabCtx(), {{"timestamp", 5}}));
    openTab();
    ASSERT_TRUE(tabState()->lastEvent);
    EXPECT_EQ((*tabState()->lastEvent)["timestamp"], 5);
}

TEST_F(SafariDispatcherTest, PermissionFollowsTheActivePageBlocks) {
    auto other = std::make_shared<FakeWindow>(5);
    auto bgTab = other->addTab(6, "https://news.other.org/");
    session->config().blockSite(*SafariURL::parse("https://www.example.com/"));
    send("tbn-request-script-running-permission", bare(ctx(std::nullopt)), bgTab->page());
    auto r = bgTab->page()->messagesNamed("tbn-tab-script-running-permission");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].userInfo["message"]["enableExecuting"], false);

    session->config().unblockSite(*SafariURL::parse("https://www.example.com/"));
    session->config().addBlockedKey("www.example.com/login");
    page->clearMessages();
    openTab();
    send("tbn-request-script-running-permission", bare(ctx(std::nullopt)));
    EXPECT_EQ(page->messages().back().userInfo["message"]["enableExecuting"], false);

    app->setActiveWindow(nullptr);
    send("tbn-request-script-running-permission", bare(ctx(std::nullopt)));
    EXPECT_EQ(page->messages().back().userInfo["message"]["enableExecuting"], true);
}

TEST_F(SafariDispatcherTest, BroadcastDropsFrameAndKeepsAbsentPermission) {
    send("tbn-send-running-permission-to-all-iframes",
         json{{"context", tabCtx()}, {"message", json::object()}});
    auto r = page->messagesNamed("tbn-change-running-permission");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].userInfo["message"], json::object());
    auto c = JSContext::fromDictionary(r[0].userInfo["context"]);
    EXPECT_FALSE(c.frameId.has_value());
    EXPECT_EQ(c.tabId, tabKey());
    send("tbn-send-running-permission-to-all-iframes", bare(tabCtx()));
    EXPECT_TRUE(log.systemContains("error: HasNotParameter"));
}

struct NavCase {
    const char* name;
    std::string newURL;
    json request;
    bool expectHandBack;
    bool expectPrevUrl;
};

TEST_F(SafariDispatcherTest, NavigationTable) {
    std::vector<NavCase> cases = {
        {"same site", "https://login.example.com/next", {{"navigation_type", 0}}, true, true},
        {"other site", "https://other.org/", {{"navigation_type", 0}}, false, false},
        {"other site redirected",
         "https://other.org/",
         {{"navigation_type", 0}, {"redirect_count", 1}},
         true,
         true},
        {"other site with referrer",
         "https://other.org/",
         {{"navigation_type", 0}, {"referrer", "r"}},
         true,
         true},
        {"type 2", "https://www.example.com/x", {{"navigation_type", 2}}, false, false},
        {"no type", "https://www.example.com/x", json::object(), false, false},
    };
    for (const auto& c : cases) {
        openTab();
        {
            auto lock = session->lockTabs();
            auto t = tabState();
            t->url = "https://www.example.com/login";
            t->lastEvent = json{{"timestamp", 1}, {"step", "user"}};
            t->prevLastEvent.reset();
            t->prevUrl.reset();
            t->referrer.reset();
        }
        page->clearMessages();
        send("init", withParam(ctx(tabKey(), "0", c.newURL + "?q=1#f"), c.request));
        auto r = page->messagesNamed("restoreLastEventFromExt");
        ASSERT_EQ(r.size(), 1u) << c.name;
        EXPECT_EQ(r[0].userInfo.contains("message"), c.expectHandBack) << c.name;
        EXPECT_EQ(tabState()->url, c.newURL) << c.name;
        EXPECT_EQ(tabState()->prevUrl.has_value(), c.expectPrevUrl) << c.name;
        if (c.expectHandBack) {
            EXPECT_EQ(tabState()->prevLastEvent, tabState()->lastEvent) << c.name;
        } else {
            EXPECT_FALSE(tabState()->lastEvent.has_value()) << c.name;
        }
    }
}

TEST_F(SafariDispatcherTest, ReloadRestoresTheSavedEventUnlessTheReferrerChanged) {
    openTab();
    {
        auto lock = session->lockTabs();
        tabState()->url = "https://www.example.com/a";
        tabState()->prevLastEvent = json{{"timestamp", 3}};
        tabState()->referrer = "https://ref/";
    }
    send("init", withParam(tabCtx(), {{"navigation_type", 1}, {"referrer", "https://ref/"}}));
    auto r = page->messagesNamed("restoreLastEventFromExt");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].userInfo["message"], (json{{"timestamp", 3}}));
    EXPECT_EQ(tabState()->lastEvent, (json{{"timestamp", 3}}));

    // A different referrer makes it a new navigation (same site: event handed back).
    page->clearMessages();
    send("init", withParam(ctx(tabKey(), "0", "https://other.net/"),
                           {{"navigation_type", 1}, {"referrer", "https://elsewhere/"}}));
    EXPECT_EQ(tabState()->referrer, "https://elsewhere/");
    EXPECT_TRUE(tabState()->prevUrl.has_value());
}

TEST_F(SafariDispatcherTest, InitOnlyForTheTopFrameOfAKnownTab) {
    send("init", withParam(tabCtx(), {{"navigation_type", 0}}));  // no tab state yet
    openTab();
    send("init", withParam(tabCtx("1"), {{"navigation_type", 0}}));
    send("init", withParam(tabCtx("top"), {{"navigation_type", 0}}));
    send("init", withParam(ctx(tabKey(), "0", "has space"), {{"navigation_type", 0}}));
    EXPECT_TRUE(page->messages().empty());
    EXPECT_FALSE(tabState()->url.has_value());
}

TEST_F(SafariDispatcherTest, StoreLastEventKeepsTheNewest) {
    openTab();
    auto store = [&](json event) { send("storeLastEvent", withParam(tabCtx(), event)); };
    store({{"timestamp", 10}, {"n", 1}});
    store({{"timestamp", 9}, {"n", 2}});
    EXPECT_EQ((*tabState()->lastEvent)["n"], 1);
    store({{"timestamp", 10}, {"n", 3}});
    EXPECT_EQ((*tabState()->lastEvent)["n"], 1);
    store({{"n", 4}});
    EXPECT_EQ((*tabState()->lastEvent)["n"], 1);
    store({{"timestamp", "11"}, {"n", 5}});
    EXPECT_EQ((*tabState()->lastEvent)["n"], 1);
    store({{"timestamp", 11}, {"n", 6}});
    EXPECT_EQ((*tabState()->lastEvent)["n"], 6);
    send("storeLastEvent", bare(tabCtx()));
    EXPECT_FALSE(tabState()->lastEvent.has_value());
    store({{"n", 7}});
    store({{"timestamp", 99}, {"n", 8}});
    EXPECT_EQ((*tabState()->lastEvent)["n"], 7);
}

TEST_F(SafariDispatcherTest, StartCancelsTheSaveOnlyFromTheTopFrame) {
    openTab();
    session->scheduleSave(JSContext::fromDictionary(tabCtx()), 10, [] {});
    send("start", bare(tabCtx("2")));
    EXPECT_TRUE(session->hasScheduledSave(tabKey()));
    EXPECT_EQ(page->messagesNamed("prepare").size(), 1u);
    send("start", bare(tabCtx()));
    EXPECT_FALSE(session->hasScheduledSave(tabKey()));
}

TEST_F(SafariDispatcherTest, ParserInfoNeedsAKnownPage) {
    std::string path = tmp.path + "/parserdb.json";
    { std::ofstream(path) << R"({"sites":{"default":{"paths":{"":{"parser":"generic"}}}}})"; }
    *parsers = Parsers(path);
    openTab();
    send("getParserInfo", bare(tabCtx()));
    EXPECT_TRUE(page->messages().empty());
    setTabURL("https://www.example.com/login");
    send("getParserInfo", bare(tabCtx()));
    auto r = page->messagesNamed("parserInit");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].userInfo["message"], (json{{"parser_info", {{"parser", "generic"}}}}));
}

struct UnloadCase {
    const char* name;
    std::optional<std::string> storedUnloadSession;
    std::optional<std::string> contextSession;
    bool acts;
};

// An unload acts only when the tab already recorded the unload of another page session.
TEST_F(SafariDispatcherTest, BeforeUnloadActsOnlyAfterAnotherSessionsUnload) {
    const std::vector<UnloadCase> cases = {
        {"first unload of the tab", std::nullopt, "s1", false},
        {"same page session", "s1", "s1", false},
        {"another page session", "s0", "s1", true},
        {"no page session", "s0", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        openTab();
        {
            auto lock = session->lockTabs();
            tabState()->lastEvent = json{{"a", 1}};
            tabState()->unloadSessionId = c.storedUnloadSession;
        }
        auto context = ctx(tabKey(), "0", "https://www.example.com/login", c.contextSession);
        session->scheduleSave(JSContext::fromDictionary(context), 10, [] {});
        send("beforeUnload", bare(context));
        EXPECT_EQ(tabState()->lastEvent.has_value(), !c.acts);
        EXPECT_EQ(session->hasScheduledSave(tabKey()), !c.acts);
        EXPECT_EQ(tabState()->unloadSessionId, c.acts ? c.contextSession : c.storedUnloadSession);
        session->cancelScheduledSave(JSContext::fromDictionary(context));
    }
}

// A login spread over two pages: the event stored on the first page survives its unload and
// is handed to the second.
TEST_F(SafariDispatcherTest, MultiPageLoginIsHandedBackAcrossTheUnload) {
    openTab();
    send("init", withParam(ctx(tabKey(), "0", "https://www.example.com/login", "s1"),
                           {{"navigation_type", 0}}));
    send("storeLastEvent", withParam(ctx(tabKey(), "0", "https://www.example.com/login", "s1"),
                                     {{"timestamp", 7}, {"step", "user"}}));
    send("beforeUnload", bare(ctx(tabKey(), "0", "https://www.example.com/login", "s1")));
    page->clearMessages();
    send("init", withParam(ctx(tabKey(), "0", "https://www.example.com/password", "s2"),
                           {{"navigation_type", 0}}));
    auto r = page->messagesNamed("restoreLastEventFromExt");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].userInfo["message"], (json{{"timestamp", 7}, {"step", "user"}}));

    // The second page unloads too; the third page of the flow still gets the event.
    send("beforeUnload", bare(ctx(tabKey(), "0", "https://www.example.com/password", "s2")));
    page->clearMessages();
    send("init", withParam(ctx(tabKey(), "0", "https://www.example.com/otp", "s3"),
                           {{"navigation_type", 0}}));
    r = page->messagesNamed("restoreLastEventFromExt");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].userInfo["message"], (json{{"timestamp", 7}, {"step", "user"}}));
}

TEST_F(SafariDispatcherTest, RemoteLogIsDecodedAndDropped) {
    send("sendRemoteLog", withParam(tabCtx(), {{"message", "hello"}, {"line", 3}}));
    EXPECT_TRUE(page->messages().empty());
    EXPECT_FALSE(log.systemContains("hello"));
    send("sendRemoteLog", withParam(tabCtx(), {{"line", "x"}}));
    EXPECT_TRUE(log.systemContains("error: "));
}

}  // namespace
}  // namespace lumvane
