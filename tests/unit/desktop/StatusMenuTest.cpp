// The status menu's layout rules, the status icon's state and the autostart entry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/desktop/Notices.h"
#include "app/desktop/StartAtLogin.h"
#include "app/desktop/StatusMenuModel.h"

namespace lumvane {
namespace {

const StatusMenuItem* find(const std::vector<StatusMenuItem>& items, const std::string& action) {
    for (const auto& i : items) {
        if (i.action == action) return &i;
        if (const auto* inner = find(i.submenu, action)) return inner;
    }
    return nullptr;
}

const StatusMenuItem* findTitle(const std::vector<StatusMenuItem>& items, const std::string& key) {
    const std::string title = desktopText(key);
    for (const auto& i : items) {
        if (i.title == title) return &i;
        if (const auto* inner = findTitle(i.submenu, key)) return inner;
    }
    return nullptr;
}

TEST(StatusMenu, PausedHidesWarningAndDriverAndOffersResumeInExtendedMode) {
    StatusMenuState s;
    s.warningType = 3;
    s.securityKeyFeature = true;
    s.extendedMode = true;
    s.currentPassword = "pw";
    auto running = buildStatusMenu(s);
    EXPECT_TRUE(find(running, "menuWarningAction"));
    EXPECT_TRUE(find(running, "menuInstallU2FDriverAction"));
    EXPECT_TRUE(find(running, "menuPause"));

    s.paused = true;
    auto paused = buildStatusMenu(s);
    EXPECT_FALSE(find(paused, "menuWarningAction"));
    EXPECT_FALSE(find(paused, "menuInstallU2FDriverAction"));
    EXPECT_TRUE(find(paused, "menuResume"));
    EXPECT_FALSE(find(paused, "menuPause"));

    s.extendedMode = false;
    auto plain = buildStatusMenu(s);
    EXPECT_FALSE(find(plain, "menuResume")) << "no pause or resume outside extended mode";
    EXPECT_EQ(plain.back().action, "menuQuitAction");
}

TEST(StatusMenu, WarningTypesAndPairedPhone) {
    StatusMenuState s;
    for (uint64_t type : {0u, 8u}) {
        s.warningType = type;
        EXPECT_FALSE(find(buildStatusMenu(s), "menuWarningAction")) << type;
    }
    s.warningType = 4;
    const auto withWarning = buildStatusMenu(s);
    const auto* warning = find(withWarning, "menuWarningAction");
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->title, desktopText("MENU_WARNING_NOT_PAIRED"));
    EXPECT_TRUE(findTitle(buildStatusMenu(s), "MENU_ITEM_START_PAIR_VIA_QRCODE"));

    s.pairedPhone = StatusMenuState::Phone{"Alice's phone", "iPhone", "17.2"};
    auto menu = buildStatusMenu(s);
    EXPECT_TRUE(find(menu, "menuDeviceUnpairAction"));
    EXPECT_TRUE(findTitle(menu, "MENU_ITEM_START_PAIR_TO_OTHER_QRCODE"));
    bool phoneLine = false;
    for (const auto& i : menu) phoneLine |= i.title == "Alice's phone (iPhone, 17.2)";
    EXPECT_TRUE(phoneLine);
}

TEST(StatusMenu, EveryBrowserTheWizardOffersHasALineDisabledWhenNotInstalled) {
    // Safari, Chrome, Chromium, Edge, Firefox, Opera, Brave, Vivaldi.
    const std::vector<std::pair<const char*, const char*>> lines = {
        {"MENU_ITEM_INSTALL_SAFARI_EXT", "menuInstallSafariExt"},
        {"MENU_ITEM_INSTALL_CHROME_EXT", "menuInstallChromeExt"},
        {"MENU_ITEM_INSTALL_CHROMIUM_EXT", "menuInstallChromiumExt"},
        {"MENU_ITEM_INSTALL_EDGE_EXT", "menuInstallEdgeExt"},
        {"MENU_ITEM_INSTALL_FIREFOX_EXT", "menuInstallFirefoxExt"},
        {"MENU_ITEM_INSTALL_OPERA_EXT", "menuInstallOperaExt"},
        {"MENU_ITEM_INSTALL_BRAVE_EXT", "menuInstallBraveExt"},
        {"MENU_ITEM_INSTALL_VIVALDI_EXT", "menuInstallVivaldiExt"},
    };
    for (size_t installed = 0; installed < lines.size(); ++installed) {
        StatusMenuState s;
        s.browserInstalled[installed] = true;
        const auto menu = buildStatusMenu(s);
        const StatusMenuItem* extensions = findTitle(menu, "MENU_ITEM_EXTENSION");
        ASSERT_TRUE(extensions);
        ASSERT_EQ(extensions->submenu.size(), lines.size());
        for (size_t i = 0; i < lines.size(); ++i) {
            SCOPED_TRACE(lines[i].first);
            const StatusMenuItem& line = extensions->submenu[i];
            EXPECT_EQ(line.title, desktopText(lines[i].first));
            EXPECT_NE(line.title, lines[i].first) << "a text of its own";
            EXPECT_EQ(line.enabled(), i == installed);
            EXPECT_EQ(line.action, i == installed ? lines[i].second : "");
        }
    }
}

TEST(StatusMenu, LoggingChecksAndStartAtLoginFollowTheirInputs) {
    struct Case {
        int32_t level;
        const char* checked;  // nullptr: none checked
    };
    for (const auto& c : std::vector<Case>{{0, "menuLoggingDisableAction"},
                                           {1, nullptr},
                                           {2, nullptr},
                                           {11, "menuLoggingInfoLelelAction"},
                                           {12, "menuLoggingDebugLelelAction"},
                                           {13, "menuLoggingVerboseLevelAction"}}) {
        SCOPED_TRACE(c.level);
        StatusMenuState s;
        s.loggingLevel = c.level;
        auto menu = buildStatusMenu(s);
        for (const char* a : {"menuLoggingDisableAction", "menuLoggingInfoLelelAction",
                              "menuLoggingDebugLelelAction", "menuLoggingVerboseLevelAction"}) {
            const auto* item = find(menu, a);
            ASSERT_TRUE(item);
            EXPECT_EQ(item->checked, c.checked && std::string(c.checked) == a) << a;
        }
    }
    StatusMenuState s;
    s.startAtLoginEnabled = true;
    const auto menu = buildStatusMenu(s);
    EXPECT_TRUE(find(menu, "menuStartAtLoginAction")->checked);
}

TEST(StatusMenu, PasswordLineShortensAfter32Characters) {
    StatusMenuState s;
    s.extendedMode = true;
    s.currentPassword = std::string(32, 'p');
    auto menu = buildStatusMenu(s);
    ASSERT_TRUE(find(menu, "menuRegeneratePasswordAction"));
    const StatusMenuItem* line = nullptr;
    for (const auto& i : menu) {
        for (const auto& e : i.submenu) {
            if (e.passwordStyle) line = &e;
        }
    }
    ASSERT_TRUE(line);
    EXPECT_EQ(line->title, std::string(32, 'p'));
    EXPECT_EQ(line->submenu.front().action, "menuRegeneratePasswordAction");

    EXPECT_EQ(passwordMenuTitle(std::string(33, 'q')), std::string(32, 'q') + "...");
    s.currentPassword = std::string(33, 'q');
    menu = buildStatusMenu(s);
    for (const auto& i : menu) {
        for (const auto& e : i.submenu) {
            if (e.passwordStyle) line = &e;
        }
    }
    EXPECT_EQ(line->title, std::string(32, 'q') + "...");
    EXPECT_EQ(line->submenu.front().title, std::string(33, 'q')) << "the whole password first";
    EXPECT_EQ(line->submenu[1].kind, StatusMenuItem::Kind::Separator);
    // Characters, not bytes: a 33-character password of two-byte letters.
    std::string wide;
    for (int i = 0; i < 33; ++i) wide += "\xC3\xA9";
    EXPECT_EQ(passwordMenuTitle(wide), wide.substr(0, 64) + "...");
}

TEST(StatusIcon, StateToBaseName) {
    struct Case {
        StatusIconState state;
        const char* name;
    };
    const std::vector<Case> cases = {
        {{true, 3, true, true, 1}, "statusitem_icon_lumvane_paused"},
        {{false, 3, true, true, 1}, "statusitem_icon_lumvane_warning"},
        {{false, 0, true, true, 1}, "statusitem_icon_lumvane"},
        {{false, 0, true, true, 2}, "statusitem_icon_lumvane_notinit"},
        {{false, 0, true, false, 1}, "statusitem_icon_lumvane_notinit"},
        {{false, 0, false, false, 0}, "statusitem_icon_lumvane_notinit"},
    };
    for (const auto& c : cases) EXPECT_EQ(statusIconBaseName(c.state), c.name);
}

TEST(StartAtLogin, ExecQuotingFollowsTheDesktopEntryRules) {
    EXPECT_EQ(StartAtLogin::quoteExecArgument("/usr/bin/lumvane"), "/usr/bin/lumvane");
    EXPECT_EQ(StartAtLogin::quoteExecArgument("/opt/My Apps/lumvane"), "\"/opt/My Apps/lumvane\"");
    // Inside quotes " ` $ \ get a backslash; the string-value rules then double each
    // backslash once more.
    EXPECT_EQ(StartAtLogin::quoteExecArgument("/a$b"), "\"/a\\\\$b\"");
    EXPECT_EQ(StartAtLogin::quoteExecArgument("/a\\b"), "\"/a\\\\\\\\b\"");
    EXPECT_EQ(StartAtLogin::quoteExecArgument("/100%/x"), "/100%%/x");
    EXPECT_EQ(StartAtLogin::quoteExecArgument(""), "\"\"");
}

TEST(StartAtLogin, EntryIsWrittenRemovedAndNamesTheProgram) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("startatlogin-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    StartAtLogin entry("/opt/Lumvane Beta/lumvane", folder);
    EXPECT_FALSE(entry.isEnabled());
    std::string error;
    ASSERT_TRUE(entry.enable(&error)) << error;
    EXPECT_TRUE(entry.isEnabled());
    EXPECT_EQ(entry.entryFile(), folder / "autostart" / "io.lumvane.Lumvane.desktop");
    std::ifstream in(entry.entryFile());
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.str().find("\nExec=\"/opt/Lumvane Beta/lumvane\"\n"), std::string::npos);
    EXPECT_NE(text.str().find("\nType=Application\n"), std::string::npos);
    ASSERT_TRUE(entry.enable(&error)) << "a second enable keeps it";
    ASSERT_TRUE(entry.disable(&error)) << error;
    EXPECT_FALSE(entry.isEnabled());
    EXPECT_TRUE(entry.disable(&error)) << "already gone is fine";
    std::filesystem::remove_all(folder);
}

TEST(StartAtLogin, AnEntryOfAnotherCopyIsNotCurrent) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("startatlogin-copy-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    StartAtLogin fromBuild("/home/me/lumvane/build/release/src/app/lumvane", folder);
    StartAtLogin installed("/home/me/.local/bin/lumvane", folder);
    EXPECT_FALSE(installed.isCurrent()) << "no entry";
    std::string error;
    ASSERT_TRUE(fromBuild.enable(&error)) << error;
    EXPECT_TRUE(installed.isEnabled());
    EXPECT_FALSE(installed.isCurrent());
    ASSERT_TRUE(installed.enable(&error)) << error;
    EXPECT_TRUE(installed.isCurrent());
    EXPECT_FALSE(fromBuild.isCurrent());
    std::ifstream in(installed.entryFile());
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("\nExec=/home/me/.local/bin/lumvane\n"), std::string::npos);
    std::filesystem::remove_all(folder);
}

TEST(StartAtLogin, RunningProgramIsTheRealPath) {
    const auto self = StartAtLogin::runningProgram();
    EXPECT_TRUE(self.is_absolute());
    EXPECT_TRUE(std::filesystem::exists(self));
    EXPECT_EQ(self.filename(), "desktop_tests");
}

}  // namespace
}  // namespace lumvane
