#include "app/desktop/TrayPresence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumvane {
namespace {

// The icon set against the panel: the colour seen around the icon decides; without one,
// GNOME's dark top bar, else the palette's window colour.
TEST(TrayGlyphTest, TheSetThatStandsOutOnThePanel) {
    struct Case {
        const char* name;
        std::optional<Rgb> panel;
        std::string desktop;
        Rgb palette;
        TrayGlyph expected;
    };
    const Rgb lightPalette{0xef, 0xef, 0xef};
    const Rgb darkPalette{0x31, 0x36, 0x3b};
    const std::vector<Case> cases = {
        {"light grey panel", Rgb{0xdd, 0xdd, 0xdd}, "", lightPalette, TrayGlyph::Dark},
        {"white panel", Rgb{0xff, 0xff, 0xff}, "", darkPalette, TrayGlyph::Dark},
        {"near-black panel", Rgb{0x20, 0x20, 0x20}, "", lightPalette, TrayGlyph::Light},
        {"black panel seen on GNOME", Rgb{0, 0, 0}, "GNOME", lightPalette, TrayGlyph::Light},
        {"light panel seen on GNOME", Rgb{0xf0, 0xf0, 0xf0}, "GNOME", darkPalette, TrayGlyph::Dark},
        {"mid blue panel", Rgb{0x3d, 0x5a, 0xfe}, "", lightPalette, TrayGlyph::Light},
        {"yellow panel", Rgb{0xff, 0xd7, 0x00}, "", darkPalette, TrayGlyph::Dark},
        {"unseen, GNOME", std::nullopt, "GNOME", lightPalette, TrayGlyph::Light},
        {"unseen, Ubuntu's GNOME", std::nullopt, "ubuntu:GNOME", lightPalette, TrayGlyph::Light},
        {"unseen, KDE light", std::nullopt, "KDE", lightPalette, TrayGlyph::Dark},
        {"unseen, KDE dark", std::nullopt, "KDE", darkPalette, TrayGlyph::Light},
        {"unseen, no desktop named", std::nullopt, "", lightPalette, TrayGlyph::Dark},
        {"unseen, a name that only contains gnome", std::nullopt, "GNOME-Flashback-x", lightPalette,
         TrayGlyph::Dark},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(chooseTrayGlyph(c.panel, c.desktop, c.palette), c.expected);
    }
    // The chosen glyph stands out clearly on the panels of the table.
    EXPECT_GE(contrastRatio(kLightGlyphColour, Rgb{0x20, 0x20, 0x20}), 4.5);
    EXPECT_GE(contrastRatio(kDarkGlyphColour, Rgb{0xdd, 0xdd, 0xdd}), 4.5);
    EXPECT_DOUBLE_EQ(contrastRatio(Rgb{0, 0, 0}, Rgb{255, 255, 255}), 21.0);

    EXPECT_EQ(statusIconImageNames("statusitem_icon_lumvane_warning", TrayGlyph::Light),
              std::make_pair(std::string("statusitem_icon_lumvane_warning_color_invert_34_44"),
                             std::string("statusitem_icon_lumvane_warning_color_invert_34_44")));
    EXPECT_EQ(statusIconImageNames("statusitem_icon_lumvane", TrayGlyph::Dark),
              std::make_pair(std::string("statusitem_icon_lumvane_dark_34_44"),
                             std::string("statusitem_icon_lumvane_dark_invert_34_44")));
}

// The panel's colour is the middle pixel by lightness: a few pixels of a neighbour's
// icon or of the glyph's edge do not move it; too few pixels tell nothing.
TEST(TrayGlyphTest, ThePanelColourIgnoresStrayPixels) {
    const Rgb panel{0x20, 0x20, 0x20};
    std::vector<Rgb> pixels(40, panel);
    for (int i = 0; i < 12; ++i) pixels.push_back(Rgb{0xff, 0xff, 0xff});
    for (int i = 0; i < 5; ++i) pixels.push_back(Rgb{0xf5, 0xa6, 0x23});
    EXPECT_EQ(panelColour(pixels), panel);
    EXPECT_EQ(panelColour(std::vector<Rgb>(15, panel)), std::nullopt);
    EXPECT_EQ(panelColour({}), std::nullopt);
}

class TrayPresenceTest : public ::testing::Test {
  protected:
    TrayPresence presence{TrayPresence::View{
        [this](const std::string& line) { events.push_back("say " + line); },
        [this](const std::string& title, const std::string&) {
            events.push_back("notice " + title);
        },
        [this] { events.push_back("show window"); },
        [this] { events.push_back("hide window"); },
        [this] { events.push_back("open menu"); },
    }};
    std::vector<std::string> events;

    std::vector<std::string> take() { return std::exchange(events, {}); }
};

// Without a tray: one line and a notice naming the fix, and the window; a later start
// brings the window; a tray that comes takes over (the window goes) and a later start
// then gets the menu; a tray that goes brings the window back, without a second notice.
TEST_F(TrayPresenceTest, WithoutATrayTheWindowStandsInUntilOneComes) {
    presence.trayAvailable(false);
    const auto start = take();
    ASSERT_EQ(start.size(), 3u);
    EXPECT_EQ(start[0], "say " + TrayPresence::noTrayLine());
    EXPECT_NE(start[0].find("AppIndicator"), std::string::npos) << "the line names the fix";
    EXPECT_EQ(start[1], "notice " + TrayPresence::noTrayNoticeTitle());
    EXPECT_NE(TrayPresence::noTrayNoticeText().find("AppIndicator"), std::string::npos);
    EXPECT_EQ(start[2], "show window");
    EXPECT_TRUE(presence.usesWindow());

    presence.trayAvailable(false);  // no change: nothing
    EXPECT_TRUE(take().empty());

    EXPECT_EQ(presence.reveal(), TrayPresence::kShownWindow);
    EXPECT_EQ(take(), std::vector<std::string>{"show window"});

    presence.trayAvailable(true);
    EXPECT_EQ(take(),
              (std::vector<std::string>{"say " + TrayPresence::trayCameLine(), "hide window"}));
    EXPECT_FALSE(presence.usesWindow());
    EXPECT_EQ(presence.reveal(), TrayPresence::kShownMenu);
    EXPECT_EQ(take(), std::vector<std::string>{"open menu"});

    presence.trayAvailable(false);
    EXPECT_EQ(take(),
              (std::vector<std::string>{"say " + TrayPresence::trayWentLine(), "show window"}));
}

// With a tray at start: the icon is said, no window, no notice.
TEST_F(TrayPresenceTest, WithATrayOnlyTheIconIsSaid) {
    EXPECT_EQ(presence.reveal(), "starting") << "nothing to show before the start has said";
    presence.trayAvailable(true);
    EXPECT_EQ(take(), (std::vector<std::string>{"say status item shown"}));
    presence.trayAvailable(true);
    EXPECT_TRUE(take().empty());
}

}  // namespace
}  // namespace lumvane
