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
    const std::regex iconLine(
        R"re("Lumvane": \("lumvane" "Lumvane"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re");
    int iconX = -1;
    int iconY = -1;
    ASSERT_TRUE(eventually([&] {
        const std::string tree = x({tool("xwininfo"), "-root", "-tree"});
        std::smatch m;
        if (!std::regex_search(tree, m, iconLine)) return false;
        const int w = std::stoi(m[1]), h = std::stoi(m[2]);
        if (w < 8 || h < 8) return false;
        iconX = std::stoi(m[3]) + w / 2;
        iconY = std::stoi(m[4]) + h / 2;
        return iconY >= 0 && iconY < 32;  // inside the panel at the top
    })) << x({tool("xwininfo"), "-root", "-tree"});

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
