#include "app/shell/QRCodeGenerator.h"

#include <gtest/gtest.h>

#include <string>

namespace lumvane {
namespace {

TEST(CorrectionLevelTest, RawValuesRoundTripAndOtherTextsGiveNoLevel) {
    for (auto level :
         {CorrectionLevel::L, CorrectionLevel::M, CorrectionLevel::Q, CorrectionLevel::H}) {
        EXPECT_EQ(correctionLevelFromRawValue(rawValue(level)), level);
    }
    for (const char* text : {"h", "l", "", "HH", "X", " H"}) {
        EXPECT_FALSE(correctionLevelFromRawValue(text).has_value()) << '"' << text << '"';
    }
}

TEST(QRCodeEncodingTest, MatrixHasFinderPatternsAndGrowsWithLevel) {
    auto low = encodeQRCode("lumvane://pair?code=abc", CorrectionLevel::L);
    auto high = encodeQRCode(std::string(120, 'x'), CorrectionLevel::H);
    ASSERT_TRUE(low && high);
    EXPECT_EQ(low->width % 4, 1);  // 17 + 4 * version
    EXPECT_GE(low->width, 21);
    EXPECT_GT(high->width, low->width);
    // The three finder patterns: dark outer ring, light ring, dark 3x3 core.
    for (auto [ox, oy] : {std::pair{0, 0}, {low->width - 7, 0}, {0, low->width - 7}}) {
        EXPECT_TRUE(low->dark(ox, oy));
        EXPECT_TRUE(low->dark(ox + 6, oy + 6));
        EXPECT_FALSE(low->dark(ox + 1, oy + 1));
        EXPECT_TRUE(low->dark(ox + 3, oy + 3));
    }
}

TEST(QRCodeEncodingTest, EmptyOrTooLongValuesAreRefused) {
    EXPECT_FALSE(encodeQRCode("", CorrectionLevel::H));
    // Level H holds at most 1273 bytes in 8-bit mode.
    EXPECT_TRUE(encodeQRCode(std::string(1273, 'a'), CorrectionLevel::H));
    EXPECT_FALSE(encodeQRCode(std::string(1274, 'a'), CorrectionLevel::H));
    EXPECT_TRUE(encodeQRCode(std::string(1274, 'a'), CorrectionLevel::L));
}

TEST(QRCodeGeneratorTest, DefaultsAreBlackOnWhiteAtLevelH) {
    QRCodeGenerator generator;
    EXPECT_EQ(generator.correctionLevel(), CorrectionLevel::H);
    EXPECT_EQ(generator.foregroundColor(), QColor(Qt::black));
    EXPECT_EQ(generator.backgroundColor(), QColor(Qt::white));
}

TEST(QRCodeGeneratorTest, PictureHasRequestedSizeAndOnlyTheTwoColours) {
    QRCodeGenerator generator;
    for (auto [w, h] : {std::pair{320.0, 320.0}, {200.0, 200.0}, {57.0, 91.0}}) {
        auto image = generator.createImageWithValue("pairing-value-123", w, h);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width(), static_cast<int>(w));
        EXPECT_EQ(image->height(), static_cast<int>(h));
        int darkCount = 0;
        for (int y = 0; y < image->height(); ++y) {
            for (int x = 0; x < image->width(); ++x) {
                QRgb p = image->pixel(x, y);
                ASSERT_TRUE(p == qRgb(0, 0, 0) || p == qRgb(255, 255, 255));
                darkCount += p == qRgb(0, 0, 0);
            }
        }
        EXPECT_GT(darkCount, 0);
        // The quiet zone keeps the corners light.
        EXPECT_EQ(image->pixel(0, 0), qRgb(255, 255, 255));
        EXPECT_EQ(image->pixel(image->width() - 1, image->height() - 1), qRgb(255, 255, 255));
    }
}

TEST(QRCodeGeneratorTest, PictureFollowsTheMatrixModuleByModule) {
    QRCodeGenerator generator;
    auto matrix = encodeQRCode("abc", CorrectionLevel::H);
    ASSERT_TRUE(matrix);
    const int total = matrix->width + 2 * QRCodeGenerator::kQuietZoneModules;
    const int scale = 10;
    auto image = generator.createImageWithValue("abc", total * scale, total * scale);
    ASSERT_TRUE(image);
    for (int my = 0; my < matrix->width; ++my) {
        for (int mx = 0; mx < matrix->width; ++mx) {
            int cx = (mx + QRCodeGenerator::kQuietZoneModules) * scale + scale / 2;
            int cy = (my + QRCodeGenerator::kQuietZoneModules) * scale + scale / 2;
            ASSERT_EQ(image->pixel(cx, cy) == qRgb(0, 0, 0), matrix->dark(mx, my))
                << mx << "," << my;
        }
    }
}

TEST(QRCodeGeneratorTest, CustomColoursAndLevelAreUsed) {
    QRCodeGenerator generator;
    generator.setForegroundColor(QColor(10, 20, 30));
    generator.setBackgroundColor(QColor(200, 210, 220));
    generator.setCorrectionLevel(CorrectionLevel::L);
    std::string value(1500, 'z');  // too long for H, fits L
    auto image = generator.createImageWithValue(value, 400, 400);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixel(0, 0), qRgb(200, 210, 220));
    bool sawDark = false;
    for (int x = 0; x < 400 && !sawDark; ++x) sawDark = image->pixel(x, 200) == qRgb(10, 20, 30);
    EXPECT_TRUE(sawDark);
}

TEST(QRCodeGeneratorTest, UnencodableValueOrUnusableSizeGivesNothing) {
    QRCodeGenerator generator;
    EXPECT_FALSE(generator.createImageWithValue(std::string(3000, 'a'), 320, 320));
    EXPECT_FALSE(generator.createImageWithValue("", 320, 320));
    for (auto [w, h] :
         {std::pair{0.0, 320.0}, {320.0, -1.0}, {320.0, 1e12}, {std::nan(""), 320.0}}) {
        EXPECT_FALSE(generator.createImageWithValue("value", w, h)) << w << "x" << h;
    }
}

}  // namespace
}  // namespace lumvane
