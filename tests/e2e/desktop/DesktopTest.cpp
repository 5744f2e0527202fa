// The desktop application as a person meets it, on a virtual display: Xvfb with a real
// XEmbed tray (trayer), a private session bus with a stand-in notification server, the
// simulated radio, and `lumvane` started without a mode in a temporary home folder. The
// icon appears in the tray, a click opens the status menu (a screenshot of it is kept in
// the build's artefacts folder), a second click closes it; the first start leaves the
// settings, the autostart entry and the browsers' native-messaging manifests; and the
// notices reach the notification server with their button as an action.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "../E2EHarness.h"

namespace lumvane::e2e {
namespace {

constexpr Seconds kStartTime{60};

// A notice title as the fake server prints it (a regular expression of the text).
std::string desktopTitle(const std::string& title) {
    return std::regex_replace(title, std::regex(R"([.^$|()\\[\]{}*+?])"), R"(\$&)");
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The tool's path on PATH; empty when it is not installed.
std::string tool(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const fs::path candidate = fs::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return {};
}

// `base` with the named variables replaced by `overrides` ("NAME=value").
std::vector<std::string> withEnvironment(std::vector<std::string> base,
                                         const std::vector<std::string>& overrides) {
    for (const auto& o : overrides) {
        const std::string name = o.substr(0, o.find('=') + 1);
        std::erase_if(base, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
        base.push_back(o);
    }
    return base;
}

class DesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool :
             {"Xvfb", "trayer", "xdotool", "xwininfo", "import", "dbus-daemon", "xclip"}) {
            if (lumvane::e2e::tool(tool).empty())
                GTEST_SKIP() << tool << " is not installed (scripts/setup.sh)";
        }
        const std::string busy = busyPorts({19521, 19523, 19524});
        if (!busy.empty()) GTEST_FAIL() << busy;
        home_ = std::make_unique<TempHome>();

        // A session bus of our own that starts no services (no keyring, no real
        // notification server): only what this test registers answers there.
        const fs::path busConfig = home_->path() / "session.conf";
        std::ofstream(busConfig) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus "
                                    "Configuration 1.0//EN\"\n"
                                    " \"http://www.freedesktop.org/standards/dbus/1.0/"
                                    "busconfig.dtd\">\n"
                                    "<busconfig><type>session</type>"
                                    "<listen>unix:dir="
                                 << home_->path().string()
                                 << "</listen><auth>EXTERNAL</auth>"
                                    "<policy context=\"default\"><allow send_destination=\"*\" "
                                    "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow "
                                    "own=\"*\"/></policy></busconfig>\n";
        bus_ = start({tool("dbus-daemon"), "--config-file=" + busConfig.string(), "--nofork",
                      "--print-address=1"},
                     "bus");
        auto address = bus_->waitForLine("^(unix:.*)$", kStartTime);
        ASSERT_TRUE(address) << bus_->errors();
        busAddress_ = *address;

        xvfb_ = start(
            {tool("Xvfb"), "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
            "xvfb");
        auto display = xvfb_->waitForLine("^([0-9]+)$", kStartTime);
        ASSERT_TRUE(display) << xvfb_->errors();
        display_ = ":" + *display;

        tray_ = start({tool("trayer"), "--edge", "top", "--align", "right", "--widthtype",
                       "request", "--height", "32", "--transparent", "false", "--tint", "0xdddddd",
                       "--SetDockType", "true"},
                      "trayer");
        notifications_ =
            start({std::string(LUMVANE_E2E_FAKE_NOTIFICATIONS)}, "notifications", /*stdin=*/true);
        ASSERT_TRUE(notifications_->waitForLine("notification server ready", kStartTime))
            << notifications_->errors();
        air_ = start({Programs::bleAir(), (home_->path() / "air.sock").string()}, "air");
        ASSERT_TRUE(air_->waitForLine("listening on", kStartTime)) << air_->errors();
        // A browser the application finds (its launcher) with its configuration folder,
        // and one that is not there.
        fs::create_directories(home_->dataHome() / "applications");
        std::ofstream(home_->dataHome() / "applications" / "google-chrome.desktop")
            << "[Desktop Entry]\nType=Application\nName=Google Chrome\nExec=true\n";
        fs::create_directories(home_->path() / ".config" / "google-chrome");
    }

    void TearDown() override {
        const bool failed = HasFailure();
        if (lumvane_) {
            lumvane_->stop(Seconds(30));
            if (failed) {
                std::cerr << "--- lumvane output:\n"
                          << lumvane_->output() << "--- lumvane errors:\n"
                          << lumvane_->errors();
            }
        }
        if (failed && notifications_) {
            std::cerr << "--- notification server:\n" << notifications_->output();
        }
        if (failed && phone_) std::cerr << "--- phone-sim output:\n" << phone_->output();
        for (auto* p : {&lumvane_, &phone_, &notifications_, &air_, &tray_, &xvfb_, &bus_}) {
            if (*p) (*p)->stop(Seconds(5));
            p->reset();
        }
        home_.reset();
    }

    std::vector<std::string> environment() const {
        return withEnvironment(home_->environment(),
                               {"DISPLAY=" + display_, "DBUS_SESSION_BUS_ADDRESS=" + busAddress_,
                                "QT_QPA_PLATFORM=xcb"});
    }

    std::unique_ptr<Process> start(std::vector<std::string> argv, const std::string& name,
                                   bool pipeStdin = false) {
        auto process = std::make_unique<Process>(Process::Options{
            std::move(argv), busAddress_.empty() ? home_->environment() : environment(),
            home_->path() / (name + ".err"), pipeStdin});
        EXPECT_TRUE(process->started()) << name;
        return process;
    }

    // Runs an X tool to its end; its output.
    std::string x(std::vector<std::string> argv) {
        Process tool(
            Process::Options{std::move(argv), environment(), home_->path() / "xtool.err", false});
        EXPECT_TRUE(tool.waitExit(Seconds(30)));
        return tool.output();
    }

    // The application's windows that are mapped now.
    size_t visibleWindows() {
        std::stringstream lines(
            x({tool("xdotool"), "search", "--onlyvisible", "--classname", "lumvane"}));
        size_t count = 0;
        for (std::string line; std::getline(lines, line);) count += !line.empty();
        return count;
    }

    // Polls `done` every 100 ms up to the deadline.
    static bool eventually(const std::function<bool()>& done, Seconds limit = kStartTime) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return true;
    }

    // The centre of the program's icon in the tray (a window of its class inside the
    // panel at the top); false when there is none within the time.
    bool trayIcon(const std::string& program, int& iconX, int& iconY) {
        const std::regex window(
            "\\(\"" + program +
            R"re(" "[^"]*"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re");
        return eventually([&] {
            const std::string tree = x({tool("xwininfo"), "-root", "-tree"});
            for (std::sregex_iterator it(tree.begin(), tree.end(), window), end; it != end; ++it) {
                const auto& m = *it;
                const int w = std::stoi(m[1]), h = std::stoi(m[2]);
                const int left = std::stoi(m[3]), top = std::stoi(m[4]);
                if (w < 8 || h < 8 || w > 64 || top < 0 || top + h > 34) continue;
                iconX = left + w / 2;
                iconY = top + h / 2;
                return true;
            }
            return false;
        });
    }

    void click(int atX, int atY) {
        x({tool("xdotool"), "mousemove", std::to_string(atX), std::to_string(atY), "click", "1"});
    }

    void screenshot(const std::string& name) {
        fs::create_directories(std::string(LUMVANE_E2E_ARTEFACTS));
        x({tool("import"), "-window", "root",
           (fs::path(std::string(LUMVANE_E2E_ARTEFACTS)) / name).string()});
        EXPECT_TRUE(fs::exists(fs::path(std::string(LUMVANE_E2E_ARTEFACTS)) / name)) << name;
    }

    std::unique_ptr<TempHome> home_;
    std::string busAddress_;
    std::string display_;
    std::unique_ptr<Process> bus_, xvfb_, tray_, notifications_, air_, lumvane_, phone_;
};

TEST_F(DesktopTest, IconMenuNoticesAndWhatTheFirstStartLeaves) {
    lumvane_ = start({Programs::lumvane(), "--ble=sim:" + (home_->path() / "air.sock").string()},
                     "lumvane");
    ASSERT_TRUE(lumvane_->waitForLine("^lumvane: status item shown$", kStartTime))
        << lumvane_->output() << lumvane_->errors();
    ASSERT_TRUE(
        lumvane_->waitForLine("^lumvane: serving http://127.0.0.1:19521/thrift$", kStartTime))
        << lumvane_->output();

    // The icon is docked in the tray: an embedded window of the application.
    int iconX = -1;
    int iconY = -1;
    ASSERT_TRUE(trayIcon("lumvane", iconX, iconY)) << x({tool("xwininfo"), "-root", "-tree"});

    const size_t before = visibleWindows();
    x({tool("xdotool"), "mousemove", std::to_string(iconX), std::to_string(iconY), "click", "1"});
    ASSERT_TRUE(eventually([&] { return visibleWindows() > before; })) << "no menu after the click";
    // The menu is mapped; give it its first paint before the picture is taken.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    screenshot("desktop-status-menu.png");

    x({tool("xdotool"), "mousemove", std::to_string(iconX), std::to_string(iconY), "click", "1"});
    ASSERT_TRUE(eventually([&] { return visibleWindows() <= before; }))
        << "the second click did not close the menu";
    screenshot("desktop-menu-closed.png");

    // The first start: settings, the autostart entry for the real program, the manifest of
    // the browser that is there and none for one that is not.
    EXPECT_TRUE(fs::exists(home_->settingsFolder() / "settings.tbnlmveprf"));
    const fs::path entry = home_->path() / ".config" / "autostart" / "io.lumvane.Lumvane.desktop";
    ASSERT_TRUE(fs::exists(entry));
    const std::string program = fs::canonical(Programs::lumvane()).string();
    EXPECT_NE(readFile(entry).find("\nExec=" + program + "\n"), std::string::npos)
        << readFile(entry);
    const fs::path manifest = home_->path() / ".config" / "google-chrome" / "NativeMessagingHosts" /
                              "com.tobrin.lumvane.extension.json";
    ASSERT_TRUE(fs::exists(manifest));
    EXPECT_NE(readFile(manifest).find(program), std::string::npos) << readFile(manifest);
    EXPECT_FALSE(fs::exists(home_->path() / ".config" / "chromium" / "NativeMessagingHosts"));

    // The radio goes away: the service tells the user that Bluetooth is off, through the
    // notification server, with the notice's button as an action; 10 s later the notice
    // is taken away again.
    air_->stop(Seconds(5));
    auto notice = notifications_->waitForLine(
        "^notify id=([0-9]+) replaces=[0-9]+ app=Lumvane summary=.+ body=.+ "
        "actions=button=.+ timeout=-1$",
        kStartTime);
    ASSERT_TRUE(notice) << notifications_->output();
    EXPECT_TRUE(notifications_->waitForLine("^close id=[0-9]+$", Seconds(60)))
        << notifications_->output();

    lumvane_->signal(SIGTERM);
    auto status = lumvane_->waitExit(Seconds(30));
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0) << lumvane_->errors();
    EXPECT_TRUE(lumvane_->waitForLine("^lumvane: stopped$", Seconds(1)));
    for (const char* mark : {"runtime error:", "ERROR: AddressSanitizer"}) {
        EXPECT_EQ(lumvane_->errors().find(mark), std::string::npos) << lumvane_->errors();
    }
}

// The status item's pages on a real display, with stand-in pages: one at a time in a
// frameless window at the icon, normal pages giving way, a priority page staying, a click
// on the icon closing the page (and showing the next) instead of opening the menu.
TEST_F(DesktopTest, PagesShowOneAtATimeAtTheIcon) {
    auto probe = start({std::string(LUMVANE_E2E_STATUS_ITEM_PROBE)}, "probe", /*stdin=*/true);
    ASSERT_TRUE(probe->waitForLine("^ready$", kStartTime)) << probe->errors();
    int iconX = -1;
    int iconY = -1;
    ASSERT_TRUE(trayIcon("status-item-probe", iconX, iconY))
        << x({tool("xwininfo"), "-root", "-tree"});

    probe->writeStdin("page A normal\n");
    const std::regex shownA(R"(shown A (-?\d+) (-?\d+) (\d+) (\d+))");
    auto shown = probe->waitForLine("^(shown A .*)$", kStartTime);
    ASSERT_TRUE(shown) << probe->output() << probe->errors();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(*shown, m, shownA)) << *shown;
    const int wx = std::stoi(m[1]), wy = std::stoi(m[2]), ww = std::stoi(m[3]);
    EXPECT_GE(wy, iconY) << "under the icon of a top panel";
    EXPECT_LE(wx, iconX);
    EXPECT_GE(wx + ww, iconX) << "the page's window spans the icon horizontally";
    EXPECT_LE(wx + ww, 1024) << "inside the screen";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // first paint
    screenshot("desktop-popover-page.png");

    auto order = [&](const std::vector<std::string>& lines) {
        return probe->waitForOutput(
            [&](const std::string& out) {
                size_t at = 0;
                for (const auto& line : lines) {
                    at = out.find(line, at);
                    if (at == std::string::npos) return false;
                }
                return true;
            },
            kStartTime);
    };
    probe->writeStdin("page B normal\n");
    ASSERT_TRUE(order({"hiding A", "shown B"})) << probe->output();
    probe->writeStdin("page P priority\n");
    ASSERT_TRUE(order({"hiding A", "shown B", "hiding B", "shown P"})) << probe->output();
    probe->writeStdin("page C normal\n");
    // The priority page stays; a click on the icon closes it and C follows, no menu.
    click(iconX, iconY);
    ASSERT_TRUE(order({"shown P", "hiding P", "shown C"})) << probe->output();
    probe->writeStdin("close C\n");
    ASSERT_TRUE(order({"shown C", "hiding C"})) << probe->output();
    ASSERT_TRUE(order({"released A", "released B"})) << probe->output();
    // With no page left, the click opens the menu and the next one closes it.
    ASSERT_TRUE(eventually([&] { return probe->output().find("released C") != std::string::npos; }))
        << probe->output();
    click(iconX, iconY);
    ASSERT_TRUE(order({"released C", "menu open"})) << probe->output();
    click(iconX, iconY);
    ASSERT_TRUE(order({"menu open", "menu closed"})) << probe->output();
    EXPECT_LT(probe->output().find("hiding C"), probe->output().find("menu open"))
        << "no click opened the menu while a page was shown";
    probe->closeStdin();
    EXPECT_TRUE(probe->waitExit(Seconds(30)));
}

// Without a display the program says so in one line and serves as --headless would.
TEST_F(DesktopTest, WithoutADisplayItRunsHeadless) {
    std::vector<std::string> env = environment();
    std::erase_if(env, [](const std::string& e) {
        return e.rfind("DISPLAY=", 0) == 0 || e.rfind("WAYLAND_DISPLAY=", 0) == 0;
    });
    lumvane_ = std::make_unique<Process>(Process::Options{
        {Programs::lumvane(), "--ble=sim:" + (home_->path() / "air.sock").string()},
        env,
        home_->path() / "lumvane.err",
        false});
    ASSERT_TRUE(
        lumvane_->waitForLine("^lumvane: serving http://127.0.0.1:19521/thrift$", kStartTime))
        << lumvane_->output() << lumvane_->errors();
    const std::string out = lumvane_->output();
    EXPECT_EQ(out.rfind("lumvane: no display (DISPLAY and WAYLAND_DISPLAY are unset): running as "
                        "--headless\n",
                        0),
              0u)
        << out;
    EXPECT_EQ(out.find("status item"), std::string::npos);
    lumvane_->signal(SIGTERM);
    auto status = lumvane_->waitExit(Seconds(30));
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
}

// The phone puts a password on this computer's clipboard: another X client reads it there,
// marked as a secret for clipboard managers, and finds it gone once the phone's time ran
// out; the user is told with a notice.
TEST_F(DesktopTest, APasswordCopiedFromThePhoneReachesTheXClipboardUntilItExpires) {
    const std::string air = "--ble=sim:" + (home_->path() / "air.sock").string();
    // Paired once, the way a headless run pairs (the pairing window is not needed here).
    auto pairing = start({Programs::lumvane(), "--headless", air, "--pair"}, "pairing");
    auto url = pairing->waitForLine("^lumvane: pairing URL: (\\S+)$", kStartTime);
    ASSERT_TRUE(url) << pairing->output() << pairing->errors();
    phone_ = start({Programs::phoneSim(), "--air", (home_->path() / "air.sock").string(),
                    "--fixture", Programs::vaultFixture(), "--pair-url", *url},
                   "phone", /*stdin=*/true);
    ASSERT_TRUE(phone_->waitForLine("phone-sim ready", kStartTime)) << phone_->errors();
    ASSERT_TRUE(pairing->waitForLine("^lumvane: (paired .*)$", Seconds(120)))
        << pairing->output() << phone_->output();
    pairing->signal(SIGTERM);
    auto pairingStatus = pairing->waitExit(Seconds(30));
    ASSERT_TRUE(pairingStatus);
    EXPECT_EQ(*pairingStatus, 0);
    pairing.reset();

    lumvane_ = start({Programs::lumvane(), air}, "lumvane");
    ASSERT_TRUE(
        lumvane_->waitForLine("^lumvane: serving http://127.0.0.1:19521/thrift$", kStartTime))
        << lumvane_->output() << lumvane_->errors();

    const std::string password = "Tr0ub4dor&3-correct";
    auto clipboard = [&] { return x({tool("xclip"), "-o", "-selection", "clipboard"}); };
    // The phone asks again until the application has the link up and fetched it.
    const auto end = std::chrono::steady_clock::now() + Seconds(120);
    bool copied = false;
    while (!copied && std::chrono::steady_clock::now() < end) {
        phone_->writeStdin("copy-to-host alice@example.com " + password + " 4\n");
        copied = eventually([&] { return clipboard() == password; }, Seconds(5));
    }
    ASSERT_TRUE(copied) << "the password never reached the clipboard; phone said:\n"
                        << phone_->output();
    // Marked as a secret (the mark stays on the cleared text too, so this holds at any
    // moment from here on).
    std::string targets;
    EXPECT_TRUE(eventually(
        [&] {
            targets = x({tool("xclip"), "-o", "-selection", "clipboard", "-t", "TARGETS"});
            return targets.find("x-kde-passwordManagerHint") != std::string::npos;
        },
        Seconds(20)))
        << targets;
    EXPECT_TRUE(notifications_->waitForLine(
        "^notify id=[0-9]+ .*summary=" + desktopTitle("Password copied") +
            " body=.*alice@example\\.com.*",
        Seconds(30)))
        << notifications_->output();
    // Cleared after the phone's 4 s (the text was not replaced meanwhile).
    EXPECT_TRUE(eventually([&] { return clipboard().empty(); }, Seconds(30)))
        << "still on the clipboard: " << clipboard();
}

}  // namespace
}  // namespace lumvane::e2e
