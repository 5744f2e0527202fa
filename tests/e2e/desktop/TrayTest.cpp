// The status icon against the panel and the desktop without a tray, on a virtual display:
// the icon's glyph stands out on a light and on a dark tray (trayer with an opaque tint);
// with no tray the program says so, shows a notice and a window holding the status menu,
// a later start brings that window back, and a tray that comes later takes the icon and
// the window goes. Screenshots of each are kept in the build's artefacts folder.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <sstream>

#include "DesktopFixture.h"

namespace lumvane::e2e {
namespace {

// Sends WM_DELETE_WINDOW to the window, as a window manager's close button does (defined
// at the end: Xlib's macros stay out of the test code).
bool sendCloseRequest(const std::string& display, unsigned long window);

struct Pixel {
    int r = 0, g = 0, b = 0;
};

double luminance(const Pixel& p) {
    auto linear = [](int v) {
        const double c = v / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(p.r) + 0.7152 * linear(p.g) + 0.0722 * linear(p.b);
}

double contrast(const Pixel& a, const Pixel& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

struct Panel {
    const char* name;
    const char* tint;  // trayer's colour
    Pixel colour;
};

void PrintTo(const Panel& panel, std::ostream* out) {
    *out << panel.name;
}

class TrayTest : public DesktopFixture {
  protected:
    // The pixels of a part of the screen, row by row.
    std::vector<Pixel> screenPixels(int left, int top, int width, int height) {
        const fs::path shot = home_->path() / "shot.png";
        x({tool("import"), "-window", "root", shot.string()});
        const std::string text = x({tool("convert"), shot.string(), "-crop",
                                    std::to_string(width) + "x" + std::to_string(height) + "+" +
                                        std::to_string(left) + "+" + std::to_string(top),
                                    "+repage", "txt:-"});
        std::vector<Pixel> pixels;
        const std::regex hex("#([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})");
        std::stringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            std::smatch m;
            if (line.empty() || line[0] == '#' || !std::regex_search(line, m, hex)) continue;
            pixels.push_back(Pixel{std::stoi(m[1], nullptr, 16), std::stoi(m[2], nullptr, 16),
                                   std::stoi(m[3], nullptr, 16)});
        }
        return pixels;
    }

    // Pixels of the glyph that stand out on the panel: grey ones (not the coloured dot
    // of the state) with a contrast of at least 3:1 against it.
    static size_t standingOut(const std::vector<Pixel>& pixels, const Pixel& panel) {
        size_t count = 0;
        for (const auto& p : pixels) {
            const int spread = std::max({p.r, p.g, p.b}) - std::min({p.r, p.g, p.b});
            count += spread < 40 && contrast(p, panel) >= 3.0;
        }
        return count;
    }

    void startLumvane(const std::string& name = "lumvane") {
        lumvane_ = start({Programs::lumvane(), "--ble=sim:" + airSocket().string()}, name);
    }

    // A later start of the program: its exit status and output.
    std::pair<int, std::string> startAgain(const std::string& name) {
        Process again(Process::Options{{Programs::lumvane(), "--ble=sim:" + airSocket().string()},
                                       environment(),
                                       home_->path() / (name + ".err"),
                                       false});
        auto status = again.waitExit(Seconds(60));
        EXPECT_TRUE(status) << name << " did not end";
        return {status.value_or(-1), again.output()};
    }

    // The window that stands in for the tray, when it is mapped; 0 otherwise.
    unsigned long fallbackWindow() {
        std::stringstream ids(
            x({tool("xdotool"), "search", "--onlyvisible", "--name", "^Lumvane$"}));
        unsigned long id = 0;
        ids >> id;
        return id;
    }

    bool windowGeometry(unsigned long id, int& left, int& top, int& width, int& height) {
        const std::string shell =
            x({tool("xdotool"), "getwindowgeometry", "--shell", std::to_string(id)});
        std::smatch m;
        const std::regex pattern(R"(X=(-?\d+)\s+Y=(-?\d+)\s+WIDTH=(\d+)\s+HEIGHT=(\d+))");
        if (!std::regex_search(shell, m, pattern)) return false;
        left = std::stoi(m[1]);
        top = std::stoi(m[2]);
        width = std::stoi(m[3]);
        height = std::stoi(m[4]);
        return true;
    }

    // Keeps a screenshot and a four-times enlargement of the tray's corner.
    void keepTray(const std::string& name) {
        screenshot(name + ".png");
        const fs::path folder(std::string(LUMVANE_E2E_ARTEFACTS));
        x({tool("convert"), (folder / (name + ".png")).string(), "-crop", "160x40+864+0", "+repage",
           "-scale", "400%", (folder / (name + "-zoom.png")).string()});
    }
};

class TrayLooksTest : public TrayTest, public ::testing::WithParamInterface<Panel> {
  protected:
    void SetUp() override {
        trayLooks_ = std::vector<std::string>{"--transparent", "true",         "--alpha", "0",
                                              "--tint",        GetParam().tint};
        TrayTest::SetUp();
    }
};

// The glyph of the icon stands out on the panel, light or dark.
TEST_P(TrayLooksTest, TheIconStandsOutOnThePanel) {
    const Panel panel = GetParam();
    ASSERT_NO_FATAL_FAILURE(seedDoneWizard());
    startLumvane();
    ASSERT_TRUE(lumvane_->waitForLine("^lumvane: status item shown$", kStartTime))
        << lumvane_->output() << lumvane_->errors();
    int iconX = -1;
    int iconY = -1;
    ASSERT_TRUE(trayIcon("lumvane", iconX, iconY)) << x({tool("xwininfo"), "-root", "-tree"});

    // The panel as the tray paints it beside the icon's glyph.
    const auto corner = screenPixels(iconX - 11, iconY - 11, 3, 3);
    ASSERT_FALSE(corner.empty());
    EXPECT_LT(contrast(corner[0], panel.colour), 1.2) << "the tray is not the colour asked for";

    // The key's strokes: dozens of pixels that stand out (the set follows the panel
    // within a few seconds of docking).
    size_t strokes = 0;
    EXPECT_TRUE(eventually(
        [&] {
            strokes = standingOut(screenPixels(iconX - 11, iconY - 11, 22, 22), panel.colour);
            return strokes >= 30;
        },
        Seconds(30)))
        << strokes << " pixels of the glyph stand out on the " << panel.name << " panel";
    keepTray(std::string("tray-") + panel.name + "-panel");

    lumvane_->signal(SIGTERM);
    auto status = lumvane_->waitExit(Seconds(30));
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0) << lumvane_->errors();
}

INSTANTIATE_TEST_SUITE_P(Panels, TrayLooksTest,
                         ::testing::Values(Panel{"light", "0xdddddd", Pixel{0xdd, 0xdd, 0xdd}},
                                           Panel{"dark", "0x202020", Pixel{0x20, 0x20, 0x20}}),
                         [](const auto& info) { return std::string(info.param.name); });

class NoTrayTest : public TrayTest {
  protected:
    void SetUp() override {
        trayLooks_.reset();
        TrayTest::SetUp();
    }
};

// No tray: said in one line and a notice naming the fix, and the status menu is in a
// window; a later start brings the closed window back; a tray that comes takes the icon,
// the window goes, and a later start then opens the menu at the icon.
TEST_F(NoTrayTest, TheMenuIsInAWindowUntilATrayComes) {
    ASSERT_NO_FATAL_FAILURE(seedDoneWizard());
    startLumvane();
    ASSERT_TRUE(
        lumvane_->waitForLine("^lumvane: no system tray on this desktop for the icon: .*"
                              "add a tray \\(on GNOME the extension .*AppIndicator",
                              kStartTime))
        << lumvane_->output() << lumvane_->errors();
    EXPECT_EQ(lumvane_->output().find("status item shown"), std::string::npos)
        << "no icon is shown anywhere";
    EXPECT_TRUE(notifications_->waitForLine(
        "^notify id=[0-9]+ .*summary=Lumvane has no icon in the panel body=.*AppIndicator",
        kStartTime))
        << notifications_->output();

    unsigned long window = 0;
    ASSERT_TRUE(eventually([&] { return (window = fallbackWindow()) != 0; }))
        << "no window stands in for the tray";
    int left = 0, top = 0, width = 0, height = 0;
    ASSERT_TRUE(windowGeometry(window, left, top, width, height));
    EXPECT_GE(left, 0);
    EXPECT_GE(top, 0);
    EXPECT_LE(left + width, 1024) << "inside the screen";
    EXPECT_LE(top + height, 768) << "inside the screen";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // first paint
    screenshot("desktop-no-tray-window.png");

    // "Open the menu" (bottom left) opens the status menu under it.
    const size_t before = visibleWindows();
    click(left + 40, top + height - 30);
    ASSERT_TRUE(eventually([&] { return visibleWindows() > before; }))
        << "no menu from the window's button";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // first paint
    screenshot("desktop-no-tray-menu.png");
    x({tool("xdotool"), "key", "Escape"});
    ASSERT_TRUE(eventually([&] { return visibleWindows() <= before; })) << "the menu stayed";

    // Closed, the window goes and the program stays; a later start brings it back.
    ASSERT_TRUE(sendCloseRequest(display_, window));
    ASSERT_TRUE(eventually([&] { return fallbackWindow() == 0; })) << "the window stayed";
    auto [status, said] = startAgain("again");
    EXPECT_EQ(status, 3) << said;
    EXPECT_NE(said.find("lumvane: Lumvane is already running (process " +
                        std::to_string(lumvane_->pid()) + ")"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("lumvane: the running Lumvane shows its window\n"), std::string::npos)
        << said;
    EXPECT_TRUE(eventually([&] { return fallbackWindow() != 0; })) << "the window is not back";

    // A tray comes: the icon goes there and the window goes.
    startTray({"--transparent", "false", "--tint", "0xdddddd"});
    EXPECT_TRUE(
        lumvane_->waitForLine("^lumvane: a system tray appeared: status item shown", kStartTime))
        << lumvane_->output();
    int iconX = -1;
    int iconY = -1;
    ASSERT_TRUE(trayIcon("lumvane", iconX, iconY)) << x({tool("xwininfo"), "-root", "-tree"});
    EXPECT_TRUE(eventually([&] { return fallbackWindow() == 0; })) << "the window stayed";

    // Now a later start opens the menu at the icon.
    const size_t withIcon = visibleWindows();
    auto [statusAtIcon, saidAtIcon] = startAgain("again-with-tray");
    EXPECT_EQ(statusAtIcon, 3) << saidAtIcon;
    EXPECT_NE(saidAtIcon.find("lumvane: the running Lumvane opened its menu at its icon\n"),
              std::string::npos)
        << saidAtIcon;
    EXPECT_TRUE(eventually([&] { return visibleWindows() > withIcon; })) << "no menu";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // first paint
    screenshot("desktop-menu-for-a-later-start.png");

    lumvane_->signal(SIGTERM);
    auto end = lumvane_->waitExit(Seconds(30));
    ASSERT_TRUE(end);
    EXPECT_EQ(*end, 0) << lumvane_->errors();
    for (const char* mark : {"runtime error:", "ERROR: AddressSanitizer"}) {
        EXPECT_EQ(lumvane_->errors().find(mark), std::string::npos) << lumvane_->errors();
    }
}

}  // namespace
}  // namespace lumvane::e2e

#include <X11/Xlib.h>

namespace lumvane::e2e {
namespace {

bool sendCloseRequest(const std::string& name, unsigned long window) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, window, False, NoEventMask, &event) != 0;
    XFlush(display);
    XCloseDisplay(display);
    return sent;
}

}  // namespace
}  // namespace lumvane::e2e
