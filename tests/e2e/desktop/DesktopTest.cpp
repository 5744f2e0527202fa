// The desktop application as a person meets it, on a virtual display: Xvfb with a real
// XEmbed tray (trayer), a private session bus with a stand-in notification server, the
// simulated radio, and `lumvane` started without a mode in a temporary home folder. The
// icon appears in the tray, a click opens the status menu (a screenshot of it is kept in
// the build's artefacts folder), a second click closes it; the first start leaves the
// settings (and the wizard, not the service, takes over); a later start leaves the
// autostart entry and the browsers' native-messaging manifests; and the notices reach the
// notification server with their button as an action.
#include "DesktopFixture.h"

namespace lumvane::e2e {
namespace {

class DesktopTest : public DesktopFixture {};

TEST_F(DesktopTest, IconMenuNoticesAndWhatTheFirstStartLeaves) {
    const std::string air = "--ble=sim:" + airSocket().string();
    // The first start writes the settings and leaves the service to the set-up wizard.
    auto first = start({Programs::lumvane(), air}, "first");
    ASSERT_TRUE(first->waitForLine("^lumvane: first start: showing the set-up wizard$", kStartTime))
        << first->output() << first->errors();
    EXPECT_TRUE(fs::exists(home_->settingsFolder() / "settings.tbnlmveprf"));
    first->signal(SIGTERM);
    auto firstStatus = first->waitExit(Seconds(30));
    ASSERT_TRUE(firstStatus) << "the first start did not stop";
    EXPECT_EQ(*firstStatus, 0) << first->errors();
    first.reset();

    // From here on a start after the wizard was done.
    ASSERT_NO_FATAL_FAILURE(seedDoneWizard());
    lumvane_ = start({Programs::lumvane(), air}, "lumvane");
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

    // The autostart entry for the real program, the manifest of the browser that is there
    // and none for one that is not.
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

// What a headless run says about its surroundings (no keyring, no push certificate) the
// desktop shows as notices, one after another; SIGUSR1 opens the extensions' registration
// window again, as in a headless run, and tells so, instead of ending the program.
TEST_F(DesktopTest, StartUpTextsAreNoticesAndSIGUSR1OpensTheRegistrationWindow) {
    ASSERT_NO_FATAL_FAILURE(seedDoneWizard());
    lumvane_ = start({Programs::lumvane(), "--ble=sim:" + airSocket().string()}, "lumvane");
    ASSERT_TRUE(
        lumvane_->waitForLine("^lumvane: serving http://127.0.0.1:19521/thrift$", kStartTime))
        << lumvane_->output() << lumvane_->errors();
    // The private bus has no keyring and the home no push certificate.
    for (const char* text : {"no Secret Service", "the phone is reached only while"}) {
        EXPECT_TRUE(lumvane_->waitForLine(std::string("^lumvane: ") + text, Seconds(1)))
            << lumvane_->output();
        EXPECT_TRUE(notifications_->waitForLine(
            std::string("^notify id=[0-9]+ replaces=[0-9]+ app=Lumvane summary=Lumvane body=") +
                text + ".*",
            kStartTime))
            << text << "\n"
            << notifications_->output();
    }

    lumvane_->signal(SIGUSR1);
    EXPECT_TRUE(
        lumvane_->waitForLine("^lumvane: extension registration open for 120 s$", kStartTime))
        << lumvane_->output();
    EXPECT_TRUE(notifications_->waitForLine(
        "^notify id=[0-9]+ .*summary=Add the Lumvane extension body=.*120(\\\\n| )seconds.*",
        kStartTime))
        << notifications_->output();
    EXPECT_FALSE(lumvane_->waitExit(Seconds(1))) << "SIGUSR1 ended the program";

    lumvane_->signal(SIGTERM);
    auto status = lumvane_->waitExit(Seconds(30));
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0) << lumvane_->errors();
}

// What a start has to say reaches the desktop as a notice too, also when it was found
// before the notices were set up (the simulated radio is checked first of all).
TEST_F(DesktopTest, WhatTheStartSaysIsAlsoANotice) {
    ASSERT_NO_FATAL_FAILURE(seedDoneWizard());
    const fs::path nowhere = home_->path() / "no-hub.sock";
    lumvane_ = start({Programs::lumvane(), "--ble=sim:" + nowhere.string()}, "lumvane");
    ASSERT_TRUE(lumvane_->waitForLine("^lumvane: the simulated radio is not there ", kStartTime))
        << lumvane_->output() << lumvane_->errors();
    ASSERT_TRUE(lumvane_->waitForLine("^lumvane: status item shown$", kStartTime))
        << lumvane_->output() << lumvane_->errors();
    EXPECT_TRUE(notifications_->waitForLine(
        "^notify id=[0-9]+ replaces=[0-9]+ app=Lumvane summary=Lumvane.*simulated radio is "
        "not there",
        kStartTime))
        << notifications_->output();
    lumvane_->signal(SIGTERM);
    auto status = lumvane_->waitExit(Seconds(30));
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0) << lumvane_->errors();
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

    ASSERT_NO_FATAL_FAILURE(seedDoneWizard());
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
