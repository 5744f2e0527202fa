#pragma once
// What the desktop tests stand on: Xvfb with a real XEmbed tray (trayer), a private
// session bus with a stand-in notification server, the simulated radio, a temporary home
// folder with a browser in it, and the X tools that find, click and photograph windows.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "../E2EHarness.h"

namespace lumvane::e2e {

inline constexpr Seconds kStartTime{60};

// A notice title as the fake server prints it (a regular expression of the text).
inline std::string desktopTitle(const std::string& title) {
    return std::regex_replace(title, std::regex(R"([.^$|()\\[\]{}*+?])"), R"(\$&)");
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The tool's path on PATH; empty when it is not installed.
inline std::string tool(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const fs::path candidate = fs::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return {};
}

// `base` with the named variables replaced by `overrides` ("NAME=value").
inline std::vector<std::string> withEnvironment(std::vector<std::string> base,
                                                const std::vector<std::string>& overrides) {
    for (const auto& o : overrides) {
        const std::string name = o.substr(0, o.find('=') + 1);
        std::erase_if(base, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
        base.push_back(o);
    }
    return base;
}

class DesktopFixture : public ::testing::Test {
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

        if (trayLooks_) startTray(*trayLooks_);
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

    // A tray at the top right of the screen; `looks` are trayer's options for its
    // background.
    void startTray(const std::vector<std::string>& looks) {
        std::vector<std::string> argv = {tool("trayer"), "--edge",        "top",     "--align",
                                         "right",        "--widthtype",   "request", "--height",
                                         "32",           "--SetDockType", "true"};
        argv.insert(argv.end(), looks.begin(), looks.end());
        tray_ = start(argv, "trayer");
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

    // Marks the set-up wizard done in the temporary home, through the keychain and
    // settings file the application itself opens there: the next start is not a first one.
    void seedDoneWizard() {
        Process seed(Process::Options{{std::string(LUMVANE_E2E_SETTINGS_SEED)},
                                      environment(),
                                      home_->path() / "seed.err",
                                      false});
        auto status = seed.waitExit(Seconds(60));
        ASSERT_TRUE(status) << "settings-seed did not end";
        ASSERT_EQ(*status, 0) << seed.output() << seed.errors();
        ASSERT_TRUE(seed.waitForLine("^settings-seed: doneWizard set", Seconds(1)))
            << seed.output();
    }

    fs::path airSocket() const { return home_->path() / "air.sock"; }

    // The tray SetUp starts (trayer's options), none when unset: a test changes it
    // before SetUp.
    std::optional<std::vector<std::string>> trayLooks_ =
        std::vector<std::string>{"--transparent", "false", "--tint", "0xdddddd"};
    std::unique_ptr<TempHome> home_;
    std::string busAddress_;
    std::string display_;
    std::unique_ptr<Process> bus_, xvfb_, tray_, notifications_, air_, lumvane_, phone_;
};

}  // namespace lumvane::e2e
