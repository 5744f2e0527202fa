#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/TerminalQRCode.h"

namespace lumvane {
namespace {

// Reads a drawing back into light/dark rows: each glyph carries two rows.
std::vector<std::vector<bool>> readBack(const std::string& drawing, int side) {
    std::vector<std::vector<bool>> rows;  // true = dark
    size_t pos = 0;
    while (pos < drawing.size()) {
        const size_t end = drawing.find('\n', pos);
        EXPECT_NE(end, std::string::npos) << "every line ends with a line break";
        if (end == std::string::npos) break;
        const std::string line = drawing.substr(pos, end - pos);
        pos = end + 1;
        std::vector<bool> top, bottom;
        for (size_t i = 0; i < line.size();) {
            if (line[i] == ' ') {
                top.push_back(true);
                bottom.push_back(true);
                ++i;
                continue;
            }
            const std::string glyph = line.substr(i, 3);
            i += 3;
            if (glyph == "\u2588") {
                top.push_back(false);
                bottom.push_back(false);
            } else if (glyph == "\u2580") {
                top.push_back(false);
                bottom.push_back(true);
            } else if (glyph == "\u2584") {
                top.push_back(true);
                bottom.push_back(false);
            } else {
                ADD_FAILURE() << "unexpected glyph";
                return rows;
            }
        }
        EXPECT_EQ(int(top.size()), side);
        rows.push_back(top);
        rows.push_back(bottom);
    }
    return rows;
}

TEST(TerminalQRCode, DrawingHoldsEveryModuleInsideALightQuietZone) {
    const std::string url =
        "https://lumvane.io/auth/appinstall.html?client=dm0=&auth=SwqJywvovCkRXVujOwRRtLDnq2RSDRw9"
        "U/d4zEJEXRa5vfMf96ck8jbsp+z34TfAkV97yHJXeMKjgjeKyHy4xA==";
    const auto modules = TerminalQRCode::encode(url);
    ASSERT_TRUE(modules);
    ASSERT_GE(modules->width, 21);
    ASSERT_EQ((modules->width - 21) % 4, 0) << "a QR code side is 21 + 4k modules";

    const int m = TerminalQRCode::kMargin;
    const int side = modules->width + 2 * m;
    const auto rows = readBack(TerminalQRCode::render(*modules), side);
    ASSERT_EQ(int(rows.size()), side + side % 2);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const bool dark = modules->isDark(x - m, y - m);
            ASSERT_EQ(rows[size_t(y)][size_t(x)], dark) << "module " << x - m << "," << y - m;
        }
    }
    // The three finder patterns: dark corners of the code itself.
    EXPECT_TRUE(modules->isDark(0, 0));
    EXPECT_TRUE(modules->isDark(modules->width - 1, 0));
    EXPECT_TRUE(modules->isDark(0, modules->width - 1));
}

TEST(TerminalQRCode, NothingForEmptyOrOversizedText) {
    EXPECT_FALSE(TerminalQRCode::encode(""));
    EXPECT_EQ(TerminalQRCode::draw(""), "");
    EXPECT_FALSE(TerminalQRCode::encode(std::string(5000, 'x')));
    EXPECT_EQ(TerminalQRCode::render(QRModules{}), "");
}

}  // namespace
}  // namespace lumvane
