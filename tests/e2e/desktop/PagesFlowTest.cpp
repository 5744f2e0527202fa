// The service's questions reach a person as pages under the tray icon and the answer goes
// back to the extension that asked: a login added while the phone is away (phone-sim asleep)
// opens the save page, which saves by itself once the phone is back, and the login lands in the
// phone's vault; a site with two accounts opens the choose page, and a click on the second account
// hands that account to the extension. Screenshots of both pages are kept in the build's
// artefacts folder.
#include <thrift/transport/TBufferTransports.h>

#include <ctime>
#include <future>

#include "DesktopFixture.h"
#include "extension/ThriftJSONProtocol.h"

namespace lumvane::e2e {
namespace {

constexpr const char* kGithub = "https://github.com/login";
// The page width of the popover pages.
constexpr int kPageWidth = 360;

struct WindowGeometry {
    std::string id;
    int x = 0, y = 0, width = 0, height = 0;
};

class PagesFlowTest : public DesktopFixture {
  protected:
    void TearDown() override {
        if (HasFailure() && lumvane_) {
            lumvane_->stop(Seconds(30));
            dumpLogs();
        }
        // The processes go first, so that a request still waiting for its answer ends.
        DesktopFixture::TearDown();
        for (auto& wait : calls_) wait();
    }

    // The end of each of lumvane's logs, for a failure.
    void dumpLogs() const {
        std::error_code ec;
        const fs::path logs = home_->settingsFolder() / "logs";
        for (fs::directory_iterator it(logs, ec), end; !ec && it != end; it.increment(ec)) {
            std::ifstream in(it->path());
            std::vector<std::string> lines;
            for (std::string line; std::getline(in, line);) lines.push_back(line);
            const size_t from = lines.size() > 150 ? lines.size() - 150 : 0;
            std::cerr << "--- " << it->path().filename().string() << "\n";
            for (size_t i = from; i < lines.size(); ++i) std::cerr << lines[i] << "\n";
        }
    }

    // Pairs the phone the way a headless run does and registers the extension client in
    // the same run (the client's key stays in the settings); the run is stopped again and
    // the set-up wizard is marked done, so the desktop application starts as on any later
    // day. The phone keeps running: it holds the pairing.
    void pairAndRegister() {
        auto pairing = start({Programs::lumvane(), "--headless", "--pair", "--open-registration",
                              "--ble=sim:" + airSocket().string()},
                             "pairing");
        auto url = pairing->waitForLine("^lumvane: pairing URL: (\\S+)$", kStartTime);
        ASSERT_TRUE(url) << pairing->output() << pairing->errors();
        ASSERT_NO_FATAL_FAILURE(startPhone(*url));
        ASSERT_TRUE(pairing->waitForLine("^lumvane: (paired .*)$", Seconds(120)))
            << pairing->output() << phone_->output();

        ExtensionClient::Credentials registering{"E2E-PAGES-" + std::to_string(::getpid()), ""};
        client_.setCredentials(registering);
        auto pong = client_.sendPing("com.tobrin.lumvane.e2e", "1.0.0");
        ASSERT_TRUE(pong && pong->clientSecret() && !pong->clientSecret()->empty())
            << pairing->output();
        client_.setCredentials(
            ExtensionClient::Credentials{registering.clientId, *pong->clientSecret()});

        pairing->signal(SIGTERM);
        auto status = pairing->waitExit(Seconds(30));
        ASSERT_TRUE(status) << "the pairing run did not stop";
        ASSERT_EQ(*status, 0) << pairing->errors();
        ASSERT_NO_FATAL_FAILURE(seedDoneWizard());
    }

    void startPhone(const std::string& pairUrl) {
        std::vector<std::string> argv = {Programs::phoneSim(), "--air", airSocket().string(),
                                         "--fixture", Programs::vaultFixture()};
        argv.push_back("--pair-url");
        argv.push_back(pairUrl);
        phone_ = start(argv, "phone", /*stdin=*/true);
        ASSERT_TRUE(phone_->waitForLine("phone-sim ready", kStartTime)) << phone_->errors();
    }

    void startDesktop() {
        lumvane_ = start({Programs::lumvane(), "--ble=sim:" + airSocket().string()}, "lumvane");
        ASSERT_TRUE(
            lumvane_->waitForLine("^lumvane: serving http://127.0.0.1:19521/thrift$", kStartTime))
            << lumvane_->output() << lumvane_->errors();
        int iconX = -1;
        int iconY = -1;
        ASSERT_TRUE(trayIcon("lumvane", iconX, iconY)) << x({tool("xwininfo"), "-root", "-tree"});
        iconX_ = iconX;
        iconY_ = iconY;
    }

    // The shown page's window (the application's visible window of the page width).
    std::optional<WindowGeometry> pageWindow() {
        std::stringstream ids(
            x({tool("xdotool"), "search", "--onlyvisible", "--classname", "lumvane"}));
        for (std::string id; std::getline(ids, id);) {
            if (id.empty()) continue;
            const std::string shell = x({tool("xdotool"), "getwindowgeometry", "--shell", id});
            WindowGeometry g{id};
            std::smatch m;
            auto field = [&](const char* name) {
                return std::regex_search(shell, m, std::regex(std::string(name) + "=(-?\\d+)"))
                           ? std::stoi(m[1])
                           : -1;
            };
            g.x = field("X");
            g.y = field("Y");
            g.width = field("WIDTH");
            g.height = field("HEIGHT");
            if (g.width == kPageWidth && g.height > 100) return g;
        }
        return std::nullopt;
    }

    std::optional<WindowGeometry> waitForPage() {
        std::optional<WindowGeometry> page;
        eventually([&] { return (page = pageWindow()).has_value(); });
        return page;
    }

    // The page sits under the icon of the top panel, spans it and stays on the screen.
    void expectAtTheIcon(const WindowGeometry& page) {
        EXPECT_GE(page.y, iconY_) << "under the icon of a top panel";
        EXPECT_LE(page.y, 40) << "right under the panel";
        EXPECT_LE(page.x, iconX_);
        EXPECT_GE(page.x + page.width, iconX_) << "the page spans the icon horizontally";
        EXPECT_LE(page.x + page.width, 1024) << "inside the screen";
        EXPECT_LE(page.y + page.height, 768) << "inside the screen";
    }

    // Runs an extension request on a thread of its own; the fixture waits for it on every
    // way out of the test (after the processes are gone).
    template <class F>
    std::shared_future<std::invoke_result_t<F>> inBackground(F f) {
        auto future = std::async(std::launch::async, std::move(f)).share();
        calls_.push_back([future] { future.wait(); });
        return future;
    }

    // The host service's chooseSiteData as an extension sends it: the chosen account.
    std::optional<std::string> chooseSiteData(const std::string& siteUrl,
                                              const std::vector<std::string>& accounts) {
        using apache::thrift::transport::TMemoryBuffer;
        auto out = std::make_shared<TMemoryBuffer>();
        auto in = std::make_shared<TMemoryBuffer>();
        auto factory = ThriftJSONProtocolFactory::sharedFactory();
        TBNHostStorageServiceClient host(factory->getProtocol(in), factory->getProtocol(out));
        auto request = std::make_shared<TBNChooseSiteDataRequest>();
        request->setInfo(std::make_shared<TBNRequestInfo>(
            std::string("e2e-choose"), int64_t(std::time(nullptr)), std::string("e2e")));
        request->setAuth(std::make_shared<TBNAuthentication>(client_.credentials()->clientId,
                                                             client_.credentials()->clientSecret));
        request->setSiteUrl(siteUrl);
        request->setAccounts(std::make_shared<std::vector<std::string>>(accounts));
        request->setNoCache(true);
        host.send_chooseSiteData(request);
        ExtensionClient poster;
        auto body = poster.post(out->getBufferAsString(), Seconds(330));
        if (!body) return std::nullopt;
        in->resetBuffer(reinterpret_cast<uint8_t*>(body->data()), uint32_t(body->size()),
                        TMemoryBuffer::COPY);
        auto response = host.recv_chooseSiteData();
        if (!response || (response->info() && response->info()->error())) return std::nullopt;
        return response->choosedAccount();
    }

    ExtensionClient client_;
    int iconX_ = -1;
    int iconY_ = -1;
    std::vector<std::function<void()>> calls_;
};

TEST_F(PagesFlowTest, ALoginAddedWhileThePhoneIsAwayIsSavedOnceItIsBack) {
    ASSERT_NO_FATAL_FAILURE(pairAndRegister());
    // The phone goes away (it keeps its pairing and vault).
    phone_->writeStdin("sleep\n");
    ASSERT_TRUE(phone_->waitForLine("^phone-sim asleep$", kStartTime)) << phone_->output();
    ASSERT_NO_FATAL_FAILURE(startDesktop());

    const std::string password = "s4ved fr0m the p\u00e4ge";
    TBNLoginData login;
    login.setLogin(std::string("bob"));
    login.setPassword(base64(password));
    // The page waits up to 300 s for the user; the request waits for the page.
    auto added = inBackground([this, login] {
        ExtensionClient adder;
        adder.setCredentials(client_.credentials());
        adder.setTimeout(Seconds(330));
        return adder.addLoginData(kGithub, login);
    });

    // The phone is away: the save page asks, with its waiting box.
    auto page = waitForPage();
    ASSERT_TRUE(page) << "no save page; lumvane said:\n" << lumvane_->output();
    expectAtTheIcon(*page);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));  // the fade-in
    page = pageWindow();                                          // with its content shown
    ASSERT_TRUE(page);
    expectAtTheIcon(*page);
    screenshot("pages-save-account-waiting.png");
    EXPECT_EQ(added.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "the request was answered before the page was";

    // The phone comes back: 5 s later the page saves by itself and goes away.
    phone_->writeStdin("wake\n");
    ASSERT_TRUE(phone_->waitForLine("^phone-sim awake$", kStartTime)) << phone_->output();
    // Its waiting box goes (the page as it counts down to saving itself is kept as a
    // picture), then the page saves and closes.
    std::string heights;
    bool online = false;
    eventually([&] {
        auto shown = pageWindow();
        heights += shown ? std::to_string(shown->height) + " " : "- ";
        // The waiting box gives way to the self-save's hint: another height.
        if (shown && shown->height != page->height) {
            online = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(600));  // the fades
            if ((shown = pageWindow())) {
                expectAtTheIcon(*shown);
                screenshot("pages-save-account-online.png");
            }
            return true;
        }
        return added.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    EXPECT_TRUE(online) << "the page never showed the phone online; its heights: " << heights;
    ASSERT_EQ(added.wait_for(std::chrono::seconds(90)), std::future_status::ready)
        << "the page did not save by itself; lumvane said:\n"
        << lumvane_->output();
    auto response = added.get();
    ASSERT_TRUE(response && response->info());
    EXPECT_FALSE(response->info()->error())
        << response->info()->error()->debugMessage().value_or("");
    EXPECT_TRUE(eventually([&] { return !pageWindow(); }, Seconds(30))) << "the page stayed";

    // The login is in the phone's vault.
    client_.setTimeout(Seconds(60));
    auto found = client_.getLoginData(kGithub, "bob");
    ASSERT_TRUE(found && found->info());
    EXPECT_FALSE(found->info()->error()) << found->info()->error()->debugMessage().value_or("");
    ASSERT_TRUE(found->data() && found->data()->password());
    EXPECT_EQ(*found->data()->password(), base64(password));
}

TEST_F(PagesFlowTest, AClickOnTheSecondAccountGivesTheExtensionThatAccount) {
    ASSERT_NO_FATAL_FAILURE(pairAndRegister());
    ASSERT_NO_FATAL_FAILURE(startDesktop());

    // The fixture's site with two accounts.
    const std::vector<std::string> accounts = {"alice", "alice-work"};
    auto chosen = inBackground([this, accounts] { return chooseSiteData(kGithub, accounts); });
    auto page = waitForPage();
    ASSERT_TRUE(page) << "no choose page; lumvane said:\n" << lumvane_->output();
    expectAtTheIcon(*page);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));  // the fade-in
    page = pageWindow();                                          // with its content shown
    ASSERT_TRUE(page);
    expectAtTheIcon(*page);
    screenshot("pages-choose-account.png");

    // From the page's bottom edge up: margin 18, the buttons' row (32), 10 + 4 + 10 of
    // spacing, then the combo box of the accounts (32).
    const int bottom = page->y + page->height;
    const int comboY = bottom - 18 - 32 - 24 - 16;
    const int comboX = page->x + page->width / 2;
    const size_t before = visibleWindows();
    click(comboX, comboY);
    // The list of accounts opens as a window of its own; its second row is the second
    // account.
    std::optional<WindowGeometry> list;
    ASSERT_TRUE(eventually(
        [&] {
            std::stringstream ids(
                x({tool("xdotool"), "search", "--onlyvisible", "--classname", "lumvane"}));
            for (std::string id; std::getline(ids, id);) {
                if (id.empty() || id == page->id) continue;
                const std::string shell = x({tool("xdotool"), "getwindowgeometry", "--shell", id});
                std::smatch m;
                WindowGeometry g{id};
                if (!std::regex_search(
                        shell, m,
                        std::regex(R"(X=(-?\d+)\s+Y=(-?\d+)\s+WIDTH=(\d+)\s+HEIGHT=(\d+))")))
                    continue;
                g.x = std::stoi(m[1]);
                g.y = std::stoi(m[2]);
                g.width = std::stoi(m[3]);
                g.height = std::stoi(m[4]);
                // Below the panel, over the page.
                if (g.y > 34 && g.height >= 20 && g.x >= page->x - 4 &&
                    g.x + g.width <= page->x + page->width + 4) {
                    list = g;
                    return true;
                }
            }
            return false;
        },
        Seconds(20)))
        << "the accounts' list did not open (" << before << " windows before)";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    screenshot("pages-choose-account-list.png");
    click(list->x + list->width / 2, list->y + list->height * 3 / 4);
    ASSERT_TRUE(eventually([&] { return visibleWindows() <= before; }, Seconds(20)))
        << "the list stayed open";

    // OK is the rightmost button of the bottom row.
    click(page->x + page->width - 18 - 20, bottom - 18 - 16);
    ASSERT_EQ(chosen.wait_for(std::chrono::seconds(60)), std::future_status::ready)
        << "no answer after OK; lumvane said:\n"
        << lumvane_->output();
    EXPECT_EQ(chosen.get(), std::optional<std::string>("alice-work"));

    // The extension then asks for that account's login: the phone's password of it.
    client_.setTimeout(Seconds(60));
    auto login = client_.getLoginData(kGithub, "alice-work");
    ASSERT_TRUE(login && login->info());
    EXPECT_FALSE(login->info()->error()) << login->info()->error()->debugMessage().value_or("");
    ASSERT_TRUE(login->data() && login->data()->password());
    EXPECT_EQ(*login->data()->password(), base64("Tr0ub4dor&3"));
}

}  // namespace
}  // namespace lumvane::e2e
