#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "crypto/TBNPasswordGenerator.h"
#include "idl/settings.h"

using namespace lumvane;
using namespace lumvane::test;

namespace {

using Gen = TBNPasswordGenerator;

const Gen& builtGenerator() {
    static Gen gen(Gen::buildTreeWordListPath());
    return gen;
}

size_t countIn(const std::string& text, std::string_view set) {
    return static_cast<size_t>(std::count_if(
        text.begin(), text.end(), [&](char c) { return set.find(c) != std::string_view::npos; }));
}

GeneratorConfigValues flags(int16_t length, bool capitals, bool digits, bool symbols) {
    GeneratorConfigValues c;
    c.lenght = length;
    c.useCapitalization = capitals;
    c.useDigits = digits;
    c.useSymbols = symbols;
    return c;
}

TEST(PasswordGenerator, FlagFormHoldsEveryEnabledClassFromLengthSix) {
    const auto& gen = builtGenerator();
    struct Case {
        bool capitals, digits, symbols;
    };
    const Case cases[] = {{false, false, false}, {true, false, false}, {true, true, false},
                          {true, true, true},    {false, true, true},  {false, false, true}};
    for (const auto& c : cases) {
        for (int16_t length : {6, 7, 12, 40}) {
            for (int i = 0; i < 50; ++i) {
                const std::string pw =
                    gen.generateByConfig(flags(length, c.capitals, c.digits, c.symbols));
                ASSERT_EQ(pw.size(), static_cast<size_t>(length));
                EXPECT_GT(countIn(pw, Gen::kLetters), 0u) << pw;
                EXPECT_EQ(countIn(pw, Gen::kCapitalizationLetters) > 0, c.capitals) << pw;
                EXPECT_EQ(countIn(pw, Gen::kDigits) > 0, c.digits) << pw;
                EXPECT_EQ(countIn(pw, Gen::kSymbols) > 0, c.symbols) << pw;
                EXPECT_EQ(countIn(pw, "ilO01"), 0u) << pw;
            }
        }
    }
}

TEST(PasswordGenerator, ShortFlagFormIsUnchecked) {
    const auto& gen = builtGenerator();
    std::string pool = std::string(Gen::kLetters) + std::string(Gen::kCapitalizationLetters) +
                       std::string(Gen::kDigits) + std::string(Gen::kSymbols);
    bool missedAClass = false;
    for (int i = 0; i < 300; ++i) {
        const std::string pw = gen.generateByConfig(flags(5, true, true, true));
        ASSERT_EQ(pw.size(), 5u);
        EXPECT_EQ(countIn(pw, pool), 5u) << pw;
        missedAClass = missedAClass || countIn(pw, Gen::kLetters) == 0 ||
                       countIn(pw, Gen::kCapitalizationLetters) == 0 ||
                       countIn(pw, Gen::kDigits) == 0 || countIn(pw, Gen::kSymbols) == 0;
    }
    EXPECT_TRUE(missedAClass) << "length 5 is not re-drawn until every class shows";
    EXPECT_EQ(gen.generateByConfig(flags(0, true, true, true)), "");
}

TEST(PasswordGenerator, OlderFormCountsAndUnsetCapitalizationFlag) {
    const auto& gen = builtGenerator();
    GeneratorConfigValues c;
    c.lenght = 20;
    c.digits = 50;
    c.symbols = 0;
    c.capitalization = 50;
    c.useDigits = true;  // ignored: useCapitalization is unset
    c.useSymbols = true;
    for (int i = 0; i < 20; ++i) {
        const std::string pw = gen.generateByConfig(c);
        EXPECT_EQ(pw.size(), 20u);
        EXPECT_EQ(countIn(pw, Gen::kDigits), 10u) << pw;
        EXPECT_EQ(countIn(pw, Gen::kCapitalizationLetters), 5u) << pw;
        EXPECT_EQ(countIn(pw, Gen::kLetters), 5u) << pw;
        EXPECT_EQ(countIn(pw, Gen::kSymbols), 0u) << pw;
    }
    c.lenght = 7;
    c.digits = 30;
    c.symbols = 30;
    c.capitalization = 100;
    const std::string pw = gen.generateByConfigOld(c);
    EXPECT_EQ(countIn(pw, Gen::kDigits), 2u);
    EXPECT_EQ(countIn(pw, Gen::kSymbols), 2u);
    EXPECT_EQ(countIn(pw, Gen::kCapitalizationLetters), 3u);
}

TEST(PasswordGenerator, LimitsAreChecked) {
    const auto& gen = builtGenerator();
    EXPECT_THROW(gen.generateByConfig(flags(-1, true, false, false)), std::invalid_argument);
    GeneratorConfigValues c;
    c.lenght = 10;
    c.digits = 60;
    c.symbols = 50;
    EXPECT_THROW(gen.generateByConfigOld(c), std::invalid_argument) << "digits + symbols > 100";
    c.digits = -10;
    c.symbols = 0;
    EXPECT_THROW(gen.generateByConfigOld(c), std::invalid_argument);
    c.digits = 0;
    c.capitalization = 101;
    EXPECT_THROW(gen.generateByConfigOld(c), std::invalid_argument);
    c.capitalization = 0;
    c.lenght = -3;
    EXPECT_THROW(gen.generateByConfigOld(c), std::invalid_argument);
}

TEST(PasswordGenerator, Profiles) {
    const int16_t lengths[] = {8, 8, 20, 20, 30, 30, 40, 40, 50};
    const int16_t digits[] = {0, 50, 0, 50, 0, 50, 0, 50, 50};
    const int16_t capitals[] = {0, 50, 50, 50, 50, 50, 50, 50, 50};
    for (int p = 0; p <= 8; ++p) {
        auto c = Gen::configByProfile(p);
        ASSERT_TRUE(c) << p;
        GeneratorConfigValues expected{lengths[p],  digits[p], 0,     0,
                                       capitals[p], false,     false, false};
        EXPECT_EQ(*c, expected) << p;
    }
    EXPECT_FALSE(Gen::configByProfile(9));
    EXPECT_FALSE(Gen::configByProfile(-1));
}

// A settings record with is-set flags converts field by field.
struct FakeConfigRecord {
    int16_t lenght() const { return 12; }
    bool lenghtIsSet() const { return true; }
    int16_t digits() const { return 0; }
    bool digitsIsSet() const { return false; }
    int16_t symbols() const { return 0; }
    bool symbolsIsSet() const { return false; }
    int16_t readability() const { return 0; }
    bool readabilityIsSet() const { return false; }
    int16_t capitalization() const { return 0; }
    bool capitalizationIsSet() const { return false; }
    bool useDigits() const { return true; }
    bool useDigitsIsSet() const { return true; }
    bool useSymbols() const { return false; }
    bool useSymbolsIsSet() const { return true; }
    bool useCapitalization() const { return false; }
    bool useCapitalizationIsSet() const { return true; }
};

TEST(PasswordGenerator, ReadsRecordsThroughTheirIsSetFlags) {
    GeneratorConfigValues v = configValuesOf(FakeConfigRecord{});
    EXPECT_EQ(v.lenght, 12);
    EXPECT_FALSE(v.digits);
    EXPECT_EQ(v.useCapitalization, false);
    const std::string pw = builtGenerator().generateByConfig(FakeConfigRecord{});
    EXPECT_EQ(pw.size(), 12u);
    EXPECT_GT(countIn(pw, Gen::kDigits), 0u);

    // The settings record itself: useCapitalization unset selects the older form.
    TBNGeneratorConfig record;
    record.setLenght(10);
    record.setDigits(50);
    record.setUseSymbols(true);
    const std::string old = builtGenerator().generateByConfig(record);
    EXPECT_EQ(countIn(old, Gen::kDigits), 5u);
    EXPECT_EQ(countIn(old, Gen::kSymbols), 0u);
}

// Scores worked out term by term from the meter's rules.
TEST(PasswordStrength, ScoringTable) {
    struct Case {
        const char* password;
        int64_t score;
        unsigned strength;
    };
    const Case cases[] = {
        {"abc", 1, 0},        // 12 - 3 letters only - 2 run - 6 sequence
        {"abcdefgh", -4, 0},  // 32 - 8 - 7 - 21
        {"Ab1!", 39, 0},      // one letter step costs 3
        {"1Ac!", 40, 1},      // lower threshold is inclusive
        {"xK3#mP9", 68, 1},
        {"qW1eR#tYuIzPaSdFk5", 158, 3},
        {"qW1eR#tY5uIzPaSdFk", 160, 4},  // 4 starts at exactly 160
    };
    const auto& gen = builtGenerator();
    for (const auto& c : cases) {
        EXPECT_EQ(Gen::scorePassword(Gen::utf16(c.password)), c.score) << c.password;
        EXPECT_EQ(gen.strengthPassword(c.password), c.strength) << c.password;
    }
}

TEST(PasswordStrength, Terms) {
    EXPECT_EQ(Gen::coefRepeatCharactersForPassword(u"aaaa"), -9);
    EXPECT_EQ(Gen::coefRepeatCharactersForPassword(u"abcd"), 0);
    EXPECT_EQ(Gen::coefRepeatCharactersForPassword(u"password1"), -1);
    EXPECT_EQ(Gen::coefSequentialNumbersForPassword(u"890"), -6) << "0 follows 9 at the end";
    EXPECT_EQ(Gen::coefSequentialNumbersForPassword(u"9012"), -6)
        << "the closing 0 ends the run: 0-1 is not a step";
    EXPECT_EQ(Gen::coefSequentialSymbolsForPassword(u")!@#"), -9);
    EXPECT_EQ(Gen::coefSequentialLettersForPassword(u"XYZA"), -6) << "no wrap from z to a";
    EXPECT_EQ(Gen::coefSequentialLettersForPassword(u"zyx"), 0) << "forwards only";
    EXPECT_EQ(Gen::coefConsecutiveForPassword(u"aa1BB22c", Gen::CharacterClass::uppercaseLetters),
              -1);
    EXPECT_EQ(Gen::coefConsecutiveNumbersForPassword(u"1"), 0);
    EXPECT_EQ(Gen::coefNumbersOnlyForPassword(u"123"), -3);
    EXPECT_EQ(Gen::coefMiddleNumbersSymbolsForPassword(u"1a2"), 0) << "n < 4";
    EXPECT_EQ(Gen::coefRequirementsForPassword(u"aB1"), 6);
    EXPECT_EQ(Gen::coefRequirementsForPassword(u"abcdefgH"), 0) << "needs more than 3 at n >= 8";
    auto chars = Gen::charactersArrayFromString(u"a😀");
    ASSERT_EQ(chars.size(), 3u) << "UTF-16 code units";
}

// Classes are Unicode's, counted in UTF-16 code units.
TEST(PasswordStrength, UnicodeClasses) {
    EXPECT_EQ(Gen::uppercaseLettersForPassword(u"aÄbǅ"), u"Äǅ") << "title case counts as upper";
    EXPECT_EQ(Gen::lowercaseLettersForPassword(u"aÄßb"), u"aßb");
    EXPECT_EQ(Gen::numbersForPassword(u"x٣7"), u"٣7");
    EXPECT_EQ(Gen::symbolsForPassword(u"a😀-"), u"\xD83D\xDE00-");
    EXPECT_EQ(Gen::utf16("\xC3\xA4\xFF").size(), 2u) << "malformed byte becomes U+FFFD";
    EXPECT_EQ(Gen::coefNumberOfCharactersForPassword(Gen::utf16("😀")), 8);
}

TEST(PasswordStrength, WordList) {
    const auto& gen = builtGenerator();
    ASSERT_FALSE(gen.defaultPasswords().empty()) << Gen::buildTreeWordListPath();
    EXPECT_EQ(gen.strengthPassword(""), 0u);
    EXPECT_EQ(gen.strengthPassword(std::nullopt), 0u);
    // "password1" would score 64 on its own; the list makes it 0 in any case.
    EXPECT_EQ(Gen::scorePassword(u"password1"), 64);
    for (const char* pw : {"password1", "Password1", "PASSWORD1"}) {
        EXPECT_EQ(gen.strengthPassword(pw), 0u) << pw;
    }
    // Built list: lower-cased, unique, only entries of eight or more characters.
    std::set<std::string> unique;
    for (const auto& e : gen.defaultPasswords()) {
        if (e.empty()) continue;  // after the final line feed
        EXPECT_GE(e.size(), 8u) << e;
        EXPECT_TRUE(std::none_of(e.begin(), e.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
            << e;
        EXPECT_TRUE(unique.insert(e).second) << "duplicate " << e;
    }
}

TEST(PasswordStrength, ShortPasswordsAreNotLookedUpAndMissingListRejectsNothing) {
    namespace fs = std::filesystem;
    const fs::path list =
        fs::temp_directory_path() / ("lumvane-words-" + std::to_string(::getpid()));
    {
        std::ofstream out(list);
        out << "xk3#mp9\nqw1er#ty5uizpasdfk\n";
    }
    Gen gen(list);
    EXPECT_EQ(gen.strengthPassword("xK3#mP9"), 1u) << "7 characters: never looked up";
    EXPECT_EQ(gen.strengthPassword("qW1eR#tY5uIzPaSdFk"), 0u);
    fs::remove(list);
    Gen none(std::nullopt);
    EXPECT_TRUE(none.defaultPasswords().empty());
    EXPECT_EQ(none.strengthPassword("qW1eR#tY5uIzPaSdFk"), 4u);
    Gen missing(list);
    EXPECT_EQ(missing.strengthPassword("qW1eR#tY5uIzPaSdFk"), 4u);
}

TEST(PasswordStrength, VeryLongInputsAreRated) {
    const auto& gen = builtGenerator();
    EXPECT_EQ(gen.strengthPassword(std::string(8192, 'a')), 0u);
    std::string varied;
    for (int i = 0; i < 8192; ++i) {
        varied += "qW1eR#tY5uIzPaSdFk"[i % 18];
    }
    EXPECT_EQ(gen.strengthPassword(varied), 4u);
}

}  // namespace
