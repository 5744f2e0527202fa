// Window and tab state, save timers, and the per-window ping loop with its toolbar icon.
#include <future>
#include <thread>

#include "HandlerFixture.h"

namespace lumvane {
namespace {

using nlohmann::json;
using safaritest::HandlerFixture;

class SafariSessionTest : public HandlerFixture {};

TEST_F(SafariSessionTest, WindowStateAndStaleness) {
    FakeWindow w(42);
    EXPECT_EQ(session->serviceState(w), LumvaneServiceState::unknown);
    EXPECT_FALSE(session->hasWindow(w));
    EXPECT_FALSE(session->isWindowStale(w));

    session->setServiceState(w, LumvaneServiceState::paused);
    EXPECT_TRUE(session->hasWindow(w));
    clock->advance(12.0);
    EXPECT_FALSE(session->isWindowStale(w));  // exactly 12 s is not stale
    clock->advance(0.001);
    EXPECT_TRUE(session->isWindowStale(w));
    session->setServiceState(w, LumvaneServiceState::running);  // keeps the old time
    EXPECT_TRUE(session->isWindowStale(w));
    session->touchWindow(w);
    EXPECT_FALSE(session->isWindowStale(w));
    EXPECT_EQ(session->serviceState(w), LumvaneServiceState::running);
    auto removed = session->removeWindow(w);
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->serviceState, LumvaneServiceState::running);

    FakeWindow fresh(43);
    session->touchWindow(fresh);
    EXPECT_EQ(session->serviceState(fresh), LumvaneServiceState::unknown);
    EXPECT_STREQ(serviceStateName(LumvaneServiceState::deviceOfflined), "deviceOfflined");
}

TEST_F(SafariSessionTest, SaveTimersOnePerTabFirstWins) {
    int first = 0, second = 0, anon = 0;
    JSContext a;
    a.tabId = "A";
    session->scheduleSave(a, 2.0, [&] { ++first; });
    session->scheduleSave(a, 0.5, [&] { ++second; });
    JSContext noTab;
    session->scheduleSave(noTab, 1.0, [&] { ++anon; });
    EXPECT_TRUE(session->hasScheduledSave("empty"));
    clock->advance(1.0);
    drainQueue();
    EXPECT_EQ(second, 0);
    EXPECT_EQ(anon, 1);
    clock->advance(1.0);
    drainQueue();
    EXPECT_EQ(first, 1);
    // A fired timer still blocks a new one until it is cancelled.
    session->scheduleSave(a, 0.1, [&] { ++second; });
    clock->advance(1.0);
    drainQueue();
    EXPECT_EQ(second, 0);
    session->cancelScheduledSave(a);
    session->scheduleSave(a, 0.1, [&] { ++second; });
    clock->advance(1.0);
    drainQueue();
    EXPECT_EQ(second, 1);
}

class SafariPingLoopTest : public HandlerFixture {
  protected:
    size_t pings() { return server.app->callNames().size(); }
    // Waits until the loop has sent ping number n and gone to sleep after it.
    void waitForPass(size_t n) {
        for (int i = 0; i < 500 && pings() < n; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_GE(pings(), n);
        ASSERT_TRUE(clock->waitForSleepers(1));
    }
    void nextPass() {
        size_t n = pings() + 1;
        clock->advance(5.0);
        waitForPass(n);
    }
};

TEST(SafariPingMapping, WordsToStatesAndImages) {
    struct Case {
        PingStatus word;
        LumvaneServiceState state;
        const char* image;
    };
    std::vector<Case> cases = {
        {0x2000000, LumvaneServiceState::offline, "browser_action_icon_error_38x38"},
        {0x2020000, LumvaneServiceState::offline, "browser_action_icon_error_38x38"},
        {0x20000, LumvaneServiceState::paused, "browser_action_icon_paused_38x38"},
        {0x10000, LumvaneServiceState::offline, "browser_action_icon_error_38x38"},
        {0x300, LumvaneServiceState::deviceNotPaired, "browser_action_icon_38x38"},
        {0x200, LumvaneServiceState::deviceOfflined, "browser_action_icon_38x38"},
        {0x1000100, LumvaneServiceState::running, "browser_action_icon_38x38"},
        {0x100000001ull, LumvaneServiceState::running, "browser_action_icon_38x38"},
    };
    for (const auto& c : cases) {
        auto s = SafariExtensionHandler::stateForPing(c.word);
        EXPECT_EQ(s, c.state) << std::hex << c.word;
        EXPECT_STREQ(SafariExtensionHandler::toolbarImageName(s), c.image);
    }
    EXPECT_STREQ(SafariExtensionHandler::toolbarImageName(LumvaneServiceState::unknown),
                 "browser_action_icon_inactive_38x38");
    EXPECT_STREQ(SafariExtensionHandler::toolbarImageName(LumvaneServiceState::unauthorized),
                 "browser_action_icon_error_38x38");
}

TEST_F(SafariPingLoopTest, LoopSetsTheIconOnChangesAndEndsWhenTheWindowGoesStale) {
    int calls = 0;
    std::string badge = "x";
    handler->validateToolbarItem(window, [&](bool enabled, const std::string& b) {
        ++calls;
        EXPECT_TRUE(enabled);
        badge = b;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(badge, "");
    waitForPass(1);
    handler->validateToolbarItem(window, [](bool, const std::string&) {});  // no second loop
    EXPECT_EQ(session->serviceState(*window), LumvaneServiceState::running);
    EXPECT_EQ(window->toolbarItem()->images(),
              (std::vector<std::string>{"browser_action_icon_38x38"}));
    EXPECT_TRUE(window->toolbarItem()->enabled());

    nextPass();  // same answer: no new image
    EXPECT_EQ(window->toolbarItem()->images().size(), 1u);

    server.app->pong = [] {
        auto p = std::make_shared<TBNPongTestResponse>();
        auto info = std::make_shared<TBNResponseInfo>();
        info->setError(std::make_shared<TBNError>(4, 16, std::string("paused")));
        p->setInfo(info);
        return p;
    };
    nextPass();
    EXPECT_EQ(session->serviceState(*window), LumvaneServiceState::paused);
    EXPECT_EQ(window->toolbarItem()->images().back(), "browser_action_icon_paused_38x38");
    EXPECT_EQ(pings(), 3u);

    // Closed: no more tab listings, so the entry ages and the loop removes it.
    window->setClosed(true);
    nextPass();
    nextPass();
    clock->advance(5.0);
    for (int i = 0; i < 200 && session->hasWindow(*window); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(session->hasWindow(*window));

    // A later validation starts a new loop whose first pass sets the icon again.
    server.app->pong = [] { return std::make_shared<TBNPongTestResponse>(); };
    window->setClosed(false);
    size_t before = pings();
    handler->validateToolbarItem(window, [](bool, const std::string&) {});
    waitForPass(before + 1);
    EXPECT_EQ(window->toolbarItem()->images().back(), "browser_action_icon_38x38");
}

TEST_F(SafariPingLoopTest, WithoutToolbarItemTheStateIsStillStored) {
    window->setHasToolbarItem(false);
    handler->validateToolbarItem(window, [](bool, const std::string&) {});
    waitForPass(1);
    EXPECT_EQ(session->serviceState(*window), LumvaneServiceState::running);
    EXPECT_TRUE(window->toolbarItem()->images().empty());
}

// A main application that accepts and never answers: the window's ping ends by its bound, the
// window is shown offline, and the session's destructor returns.
TEST(SafariSilentApplication, SessionEndsWhileTheApplicationStaysSilent) {
    safaritest::LogCapture log;
    safaritest::SilentServer silent;
    safaritest::TempDir tmp;
    auto clock = std::make_shared<ManualClock>();
    auto app = std::make_shared<FakeSafariApplication>();
    auto window = std::make_shared<FakeWindow>(7);
    window->addTab(8, "https://a.com/");
    app->setActiveWindow(window);
    SessionEnvironment env;
    env.application = app;
    env.clock = clock;
    std::string dir = tmp.path;
    env.config.applicationSupportDirectory = [dir] { return std::optional<std::string>(dir); };
    env.config.settingsKey = [] { return std::optional<Bytes>(Bytes(32, 3)); };
    env.communication.url = silent.url();
    env.communication.credentialsText = [] { return std::optional<std::string>("id:secret"); };
    env.communication.nowSeconds = [] { return int64_t(1); };
    env.communication.pingTimeout = std::chrono::milliseconds(200);
    env.communication.questionTimeout = std::chrono::milliseconds(200);
    auto parsers = std::make_shared<Parsers>(std::nullopt);
    env.parsers = [parsers]() -> const Parsers& { return *parsers; };
    auto session = std::make_unique<SessionStorage>(env);
    auto handler = std::make_unique<SafariExtensionHandler>(*session);

    handler->validateToolbarItem(window, [](bool, const std::string&) {});
    EXPECT_TRUE(silent.waitForConnections(1));
    bool offline = false;
    for (int i = 0; i < 3000 && !offline; ++i) {
        offline = session->serviceState(*window) == LumvaneServiceState::offline;
        if (!offline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // The loop sleeps on the manual clock now; a second window's ping stays unanswered while
    // the session goes.
    auto second = std::make_shared<FakeWindow>(9);
    handler->validateToolbarItem(second, [](bool, const std::string&) {});
    EXPECT_TRUE(silent.waitForConnections(2));
    auto ended = std::async(std::launch::async, [&] {
        handler.reset();
        session.reset();
    });
    const bool done = ended.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    silent.stop();  // frees a ping that would otherwise wait for ever
    ended.wait();
    clock->cancelAll();
    EXPECT_TRUE(offline);
    EXPECT_TRUE(done);
}

}  // namespace
}  // namespace lumvane
