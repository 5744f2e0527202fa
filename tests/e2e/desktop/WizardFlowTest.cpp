// The first-run wizard in the real application, as a new user meets it: Xvfb with an
// XEmbed tray (trayer), a private session bus, the simulated radio and phone, and
// `lumvane` started for the first time in a temporary home folder. The test goes through
// the pages with the mouse and keyboard (xdotool), keeps a screenshot of each page in the
// build's artefacts folder, reads the QR code off the screen (zbarimg) and hands it to
// the simulated phone, which pairs; the second start then opens no wizard and the status
// icon shows the paired phone. Closing the window (a window manager's close request) on
// the first page or on the QR page ends the application with nothing left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "DesktopFixture.h"

namespace lumvane::e2e {
namespace {

// Sends WM_DELETE_WINDOW to the window (defined at the end: Xlib's macros stay out of the
// test code).
bool sendCloseRequest(const std::string& display, unsigned long window);

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};

// The desktop tests' display, tray, bus and radio, and the QR reader as well.
class WizardFlowTest : public DesktopFixture {
  protected:
    void SetUp() override {
        DesktopFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (tool("zbarimg").empty()) GTEST_SKIP() << "zbarimg is not installed (scripts/setup.sh)";
    }

    void startLumvane() {
        lumvane_ = start({Programs::lumvane(), "--ble=sim:" + airSocket().string()}, "lumvane");
        ASSERT_TRUE(lumvane_->waitForLine("^lumvane: status item shown$", kStartTime))
            << lumvane_->output() << lumvane_->errors();
    }

    // The mapped wizard window showing the page titled `title`; 0 when there is none.
    unsigned long pageWindow(const std::string& title) {
        std::stringstream ids(
            x({tool("xdotool"), "search", "--onlyvisible", "--name", " " + title + "$"}));
        unsigned long id = 0;
        ids >> id;
        return id;
    }

    // Waits for the wizard to show the page titled `title`; its window.
    unsigned long waitForPage(const std::string& title, Seconds limit = kStartTime) {
        unsigned long id = 0;
        eventually([&] { return (id = pageWindow(title)) != 0; }, limit);
        return id;
    }

    Geometry geometry(unsigned long window) {
        Geometry g;
        std::stringstream lines(
            x({tool("xdotool"), "getwindowgeometry", "--shell", std::to_string(window)}));
        for (std::string line; std::getline(lines, line);) {
            const auto eq = line.find('=');
            if (eq == std::string::npos) continue;
            const std::string name = line.substr(0, eq);
            const int value = std::atoi(line.c_str() + eq + 1);
            if (name == "X") g.x = value;
            if (name == "Y") g.y = value;
            if (name == "WIDTH") g.width = value;
            if (name == "HEIGHT") g.height = value;
        }
        return g;
    }

    // The window's footer: Cancel at the left, Continue (or Finish) at the right, each
    // about 120 px wide and 28 px high inside the window's 28 px and 20 px margins.
    void clickNext(unsigned long window) {
        const Geometry g = geometry(window);
        click(g.x + g.width - 28 - 60, g.y + g.height - 20 - 14);
    }
    void clickCancel(unsigned long window) {
        const Geometry g = geometry(window);
        click(g.x + 28 + 60, g.y + g.height - 20 - 14);
    }

    // Clicks Continue until the page titled `next` shows: a button that is still disabled
    // (a check under way) ignores the click.
    unsigned long advanceTo(unsigned long window, const std::string& next) {
        unsigned long id = 0;
        eventually(
            [&] {
                clickNext(window);
                return (id = waitForPage(next, Seconds(2))) != 0;
            },
            kStartTime);
        return id;
    }

    // The mapped windows of the application other than `besides` that are large enough
    // to be a dialog (the tray icon and the menu's helpers are not).
    std::vector<unsigned long> otherWindows(unsigned long besides) {
        std::stringstream ids(
            x({tool("xdotool"), "search", "--onlyvisible", "--classname", "lumvane"}));
        std::vector<unsigned long> found;
        for (unsigned long id = 0; ids >> id;) {
            if (id == besides) continue;
            const Geometry g = geometry(id);
            if (g.width >= 150 && g.height >= 80) found.push_back(id);
        }
        return found;
    }

    // What a window manager sends when the user clicks the window's close button.
    void requestClose(unsigned long window) {
        EXPECT_TRUE(sendCloseRequest(display_, window)) << display_;
    }

    fs::path artefact(const std::string& name) {
        const fs::path folder(LUMVANE_E2E_ARTEFACTS);
        fs::create_directories(folder);
        return folder / name;
    }

    // The whole screen into the artefacts folder; its path.
    fs::path screenshot(const std::string& name) {
        const fs::path file = artefact(name);
        fs::remove(file);
        x({tool("import"), "-window", "root", file.string()});
        EXPECT_TRUE(fs::exists(file)) << name;
        return file;
    }

    // The page's picture once it had its first paint.
    fs::path pageScreenshot(const std::string& name) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        return screenshot(name);
    }

    // The application's log as written so far.
    std::string log() {
        std::string text;
        const fs::path folder = home_->settingsFolder() / "logs";
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            std::ifstream in(entry.path());
            std::stringstream s;
            s << in.rdbuf();
            text += s.str();
        }
        return text;
    }

    // The status icon's changes in the log.
    std::string iconLog() {
        std::stringstream lines(log());
        std::string found;
        for (std::string line; std::getline(lines, line);) {
            if (line.find("status bar icon") != std::string::npos) found += line + "\n";
        }
        return found;
    }

    // The application ended by itself with success, leaving no process of its group and
    // no server behind.
    void expectEndedCleanly() {
        auto status = lumvane_->waitExit(Seconds(30));
        ASSERT_TRUE(status) << "lumvane is still running";
        EXPECT_EQ(*status, 0) << lumvane_->errors();
        EXPECT_TRUE(lumvane_->waitForLine("^lumvane: stopped$", Seconds(1))) << lumvane_->output();
        EXPECT_TRUE(eventually([&] { return ::kill(-lumvane_->pid(), 0) != 0; }, Seconds(10)))
            << "a process of the application's group is left";
        EXPECT_TRUE(portIsFree(19521)) << "something still listens on 19521";
        for (const char* mark : {"runtime error:", "ERROR: AddressSanitizer"}) {
            EXPECT_EQ(lumvane_->errors().find(mark), std::string::npos) << lumvane_->errors();
        }
    }
};

const std::string kWelcome = "Welcome to Lumvane";
const std::string kLicence = "Licence agreement";
const std::string kConsent = "Help us improve Lumvane";
const std::string kExtensions = "Browser extensions";
const std::string kPair = "Pair your phone";
const std::string kDone = "All set";
const std::string kPairedIcon = "status bar icon: statusitem_icon_lumvane ";

TEST_F(WizardFlowTest, FirstStartPairsThePhoneThroughTheWizardAndTheSecondStartOpensNone) {
    startLumvane();
    ASSERT_TRUE(
        lumvane_->waitForLine("^lumvane: first start: showing the set-up wizard$", kStartTime))
        << lumvane_->output();

    const unsigned long welcome = waitForPage(kWelcome);
    ASSERT_NE(welcome, 0u) << "no wizard window";
    const Geometry g = geometry(welcome);
    EXPECT_GE(g.width, 600);
    EXPECT_GE(g.height, 400);
    // The Bluetooth check sees the simulated radio: Continue becomes usable.
    pageScreenshot("wizard-1-welcome.png");
    EXPECT_EQ(lumvane_->output().find("serving"), std::string::npos)
        << "the service started before the extensions page";

    const unsigned long licence = advanceTo(welcome, kLicence);
    ASSERT_NE(licence, 0u) << "Continue on the welcome page did not lead to the licence";
    pageScreenshot("wizard-2-licence.png");

    // Continue asks to accept the licence in an alert; its default button is Accept.
    std::vector<unsigned long> alerts;
    ASSERT_TRUE(eventually([&] {
        clickNext(licence);
        return eventually([&] { return !(alerts = otherWindows(licence)).empty(); }, Seconds(3));
    })) << "no licence alert";
    pageScreenshot("wizard-3-licence-alert.png");
    unsigned long consent = 0;
    ASSERT_TRUE(eventually([&] {
        x({tool("xdotool"), "windowfocus", std::to_string(alerts.front())});
        x({tool("xdotool"), "key", "Return"});
        return (consent = waitForPage(kConsent, Seconds(3))) != 0;
    })) << "accepting the licence did not lead on";
    pageScreenshot("wizard-4-consent.png");

    const unsigned long extensions = advanceTo(consent, kExtensions);
    ASSERT_NE(extensions, 0u);
    // The page starts the service (the simulated radio never asks for a TLS identity).
    ASSERT_TRUE(
        lumvane_->waitForLine("^lumvane: serving http://127.0.0.1:19521/thrift", kStartTime))
        << lumvane_->output();
    EXPECT_TRUE(otherWindows(extensions).empty()) << "an alert on the extensions page";
    pageScreenshot("wizard-5-extensions.png");

    const unsigned long pair = advanceTo(extensions, kPair);
    ASSERT_NE(pair, 0u);
    // The code on the screen is the invitation: the phone takes it and pairs.
    std::string url;
    ASSERT_TRUE(eventually([&] {
        const fs::path shot = screenshot("wizard-6-pair.png");
        url = x({tool("zbarimg"), "--quiet", "--raw", shot.string()});
        while (!url.empty() && (url.back() == '\n' || url.back() == '\r')) url.pop_back();
        return !url.empty();
    })) << "no QR code readable on the pairing page";
    EXPECT_TRUE(std::regex_match(url, std::regex(R"([a-z][a-z0-9+.-]*://\S+)"))) << url;
    phone_ = start({Programs::phoneSim(), "--air", airSocket().string(), "--fixture",
                    Programs::vaultFixture(), "--pair-url", url},
                   "phone", /*stdin=*/true);
    ASSERT_TRUE(phone_->waitForLine("phone-sim ready", kStartTime)) << phone_->errors();

    // Paired, the wizard moves on by itself.
    const unsigned long done = waitForPage(kDone, Seconds(120));
    ASSERT_NE(done, 0u) << "the wizard did not reach its last page";
    pageScreenshot("wizard-7-done.png");
    // The status icon follows the service while and after the pages change: once the
    // link to the new phone is up it shows the phone ready, without a restart.
    EXPECT_TRUE(eventually([&] {
        const std::string icons = iconLog();
        const size_t last = icons.rfind("status bar icon: ");
        return last != std::string::npos &&
               icons.compare(last, kPairedIcon.size(), kPairedIcon) == 0;
    })) << "the status icon does not show the paired phone ready:\n"
        << iconLog();

    clickNext(done);
    ASSERT_TRUE(eventually([&] { return waitForPage(kDone, Seconds(0)) == 0; }))
        << "Finish did not close the wizard";
    // The application goes on in the tray and shows its welcome guide at the icon.
    std::vector<unsigned long> guide;
    ASSERT_TRUE(eventually([&] { return !(guide = otherWindows(0)).empty(); }))
        << "no guide page after the wizard";
    ASSERT_FALSE(lumvane_->waitExit(Seconds(0))) << "the application quit with the wizard";
    screenshot("wizard-8-after-finish.png");

    // A stop while a page is shown (pages refuse to be closed by anyone but the icon)
    // still ends the application.
    lumvane_->signal(SIGTERM);
    expectEndedCleanly();
    const size_t iconLines = [&] {
        size_t n = 0;
        const std::string text = log();
        for (size_t at = text.find(kPairedIcon); at != std::string::npos;
             at = text.find(kPairedIcon, at + 1)) {
            ++n;
        }
        return n;
    }();

    // The second start: the wizard is done, the service starts at once and the icon
    // shows the phone again.
    startLumvane();
    ASSERT_TRUE(
        lumvane_->waitForLine("^lumvane: serving http://127.0.0.1:19521/thrift", kStartTime))
        << lumvane_->output();
    EXPECT_EQ(lumvane_->output().find("set-up wizard"), std::string::npos) << lumvane_->output();
    EXPECT_TRUE(eventually([&] {
        const std::string text = log();
        size_t n = 0;
        for (size_t at = text.find(kPairedIcon); at != std::string::npos;
             at = text.find(kPairedIcon, at + 1)) {
            ++n;
        }
        return n > iconLines;
    })) << "the status icon did not show the paired phone after the second start";
    for (const auto& title : {kWelcome, kLicence, kPair}) {
        EXPECT_EQ(pageWindow(title), 0u) << title;
    }
    screenshot("wizard-9-second-start.png");
    lumvane_->signal(SIGTERM);
    expectEndedCleanly();
}

// The window's close button is Cancel on every page: the application ends, with the
// service stopped when the extensions page had started it and the pairing stopped on the
// QR page; the next start opens the wizard again.
TEST_F(WizardFlowTest, ClosingTheWindowOnAnyPageEndsTheApplication) {
    const std::vector<std::string> pages = {kWelcome, kLicence, kConsent, kExtensions, kPair};
    for (size_t last = 0; last < pages.size(); ++last) {
        SCOPED_TRACE("closed on " + pages[last]);
        startLumvane();
        unsigned long window = waitForPage(kWelcome);
        ASSERT_NE(window, 0u) << "no wizard window";
        for (size_t page = 1; page <= last; ++page) {
            if (pages[page] == kConsent) {
                ASSERT_TRUE(eventually([&] {
                    clickNext(window);
                    std::vector<unsigned long> alerts;
                    if (!eventually([&] { return !(alerts = otherWindows(window)).empty(); },
                                    Seconds(3)))
                        return false;
                    x({tool("xdotool"), "windowfocus", std::to_string(alerts.front())});
                    x({tool("xdotool"), "key", "Return"});
                    return waitForPage(kConsent, Seconds(3)) != 0;
                }));
                window = pageWindow(kConsent);
            } else {
                window = advanceTo(window, pages[page]);
            }
            ASSERT_NE(window, 0u) << pages[page];
        }
        const bool serviceStarted = last >= 3;
        if (serviceStarted) {
            ASSERT_TRUE(lumvane_->waitForLine("^lumvane: serving http://127.0.0.1:19521/thrift",
                                              kStartTime))
                << lumvane_->output();
        }
        if (pages[last] == kPair) {
            ASSERT_TRUE(eventually([&] {
                const fs::path shot = screenshot("wizard-close-on-pair.png");
                return !x({tool("zbarimg"), "--quiet", "--raw", shot.string()}).empty();
            })) << "the pairing never showed its code";
        }
        requestClose(window);
        expectEndedCleanly();
        if (!serviceStarted) {
            EXPECT_EQ(lumvane_->output().find("serving"), std::string::npos) << lumvane_->output();
        }
        if (HasFailure()) return;
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
