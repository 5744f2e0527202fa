#pragma once
// A session wired to the in-memory browser, a manual clock, a temp settings folder and
// the loopback main application.
#include <gtest/gtest.h>

#include "FakeBrowser.h"
#include "Parsers.h"
#include "SafariExtensionHandler.h"
#include "SafariExtensionViewController.h"
#include "SafariTestSupport.h"
#include "runtime/DispatchQueue.h"

namespace lumvane::safaritest {

class HandlerFixture : public ::testing::Test {
  protected:
    static constexpr int64_t kWindow = 1001;
    static constexpr int64_t kTab = 2002;

    HandlerFixture() {
        clock = std::make_shared<ManualClock>();
        app = std::make_shared<FakeSafariApplication>();
        window = std::make_shared<FakeWindow>(kWindow);
        tab = window->addTab(kTab, "https://www.example.com/login?x=1");
        page = tab->page();
        app->setActiveWindow(window);
        parsers = std::make_shared<Parsers>(std::nullopt);

        SessionEnvironment env;
        env.application = app;
        env.clock = clock;
        std::string dir = tmp.path;
        env.config.applicationSupportDirectory = [dir] { return std::optional<std::string>(dir); };
        env.config.settingsKey = [] { return std::optional<Bytes>(Bytes(32, 3)); };
        env.communication.url = server.url();
        env.communication.credentialsText = [] { return std::optional<std::string>("id:secret"); };
        env.communication.nowSeconds = [] { return int64_t(1); };
        auto p = parsers;
        env.parsers = [p]() -> const Parsers& { return *p; };
        session = std::make_unique<SessionStorage>(env);
        handler = std::make_unique<SafariExtensionHandler>(*session);
    }
    ~HandlerFixture() override {
        handler.reset();
        session.reset();
        clock->cancelAll();
    }

    std::string tabKey() const { return std::to_string(kWindow) + "_" + std::to_string(kTab); }

    static JSDictionary ctx(std::optional<std::string> tid, std::optional<std::string> fid = "0",
                            std::optional<std::string> url = "https://www.example.com/login",
                            std::optional<std::string> sid = "s1") {
        JSContext c;
        c.tabId = tid;
        c.frameId = fid;
        c.url = url;
        c.sessionId = sid;
        c.source = "page-src";
        c.destination = "back";
        return *c.dictionary();
    }
    JSDictionary tabCtx(std::optional<std::string> fid = "0") { return ctx(tabKey(), fid); }

    static JSDictionary withParam(const JSDictionary& context, const JSDictionary& param) {
        return JSDictionary{{"context", context}, {"message", {{"param", param}}}};
    }
    static JSDictionary bare(const JSDictionary& context) {
        return JSDictionary{{"context", context}};
    }

    void send(const std::string& name, const std::optional<JSDictionary>& userInfo,
              std::shared_ptr<FakePage> to = nullptr) {
        handler->messageReceived(name, to ? to : page, userInfo);
    }
    // Runs the tab's permission exchange so that a TabState exists under the tab key.
    void openTab() {
        send("tbn-request-script-running-permission", bare(ctx(std::nullopt)));
        page->clearMessages();
    }
    void setTabURL(const std::string& url) {
        auto lock = session->lockTabs();
        session->tabState(tabKey())->url = url;
    }
    std::shared_ptr<TabState> tabState() { return session->tabState(tabKey()); }
    void drainQueue() {
        session->messageQueue()->sync([] {});
    }

    LogCapture log;
    TempDir tmp;
    MainAppServer server;
    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<FakeSafariApplication> app;
    std::shared_ptr<FakeWindow> window;
    std::shared_ptr<FakeTab> tab;
    std::shared_ptr<FakePage> page;
    std::shared_ptr<Parsers> parsers;
    std::unique_ptr<SessionStorage> session;
    std::unique_ptr<SafariExtensionHandler> handler;
};

}  // namespace lumvane::safaritest
