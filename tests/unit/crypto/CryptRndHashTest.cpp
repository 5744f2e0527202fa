#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "TestSupport.h"
#include "crypto/TBNCryptHash.h"
#include "crypto/TBNCryptRnd.h"

using namespace lumvane;
using namespace lumvane::test;

namespace {

const std::string kEmptySha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(CryptRnd, DataAndHexLengths) {
    auto& rnd = TBNCryptRnd::shareRnd();
    EXPECT_EQ(&rnd, &TBNCryptRnd::shareRnd());
    const std::pair<uint64_t, size_t> data[] = {{0, 0}, {1, 1}, {4, 4}, {5, 5}, {33, 33}};
    for (auto [n, size] : data) {
        EXPECT_EQ(rnd.randomDataByLenght(n).size(), size) << n;
    }
    const std::pair<uint64_t, size_t> hex[] = {{16, 16}, {15, 14}, {1, 0}, {0, 0}, {64, 64}};
    for (auto [n, size] : hex) {
        std::string text = rnd.randomHexByLenght(n);
        EXPECT_EQ(text.size(), size) << n;
        EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(c) || (c >= 'A' && c <= 'F');
        })) << text;
    }
    EXPECT_NE(rnd.randomHexByLenght(32), rnd.randomHexByLenght(32));
}

// Words are drawn whole (one more than needed) and an all-ones word is drawn again
// in its place.
TEST(CryptRnd, DataComesFromWholeWordsWithoutAllOnes) {
    ScriptedRandomSource script(wordsLE({0xFFFFFFFFu, 0x04030201u, 0x08070605u}));
    ScopedRandomSource scope(script);
    EXPECT_EQ(TBNCryptRnd::shareRnd().randomDataByLenght(5), fromHex("0506070801"));
    EXPECT_EQ(script.left(), 0u);
}

TEST(CryptRnd, PicksFromSourceAndShuffles) {
    auto& rnd = TBNCryptRnd::shareRnd();
    EXPECT_TRUE(rnd.randomDataByLenght(0, {}).empty()) << "count 0 never reads the source";
    EXPECT_THROW(rnd.randomDataByLenght(3, {}), std::invalid_argument);
    const Bytes source = bytesOf("xyz");
    Bytes picks = rnd.randomDataByLenght(3000, source);
    ASSERT_EQ(picks.size(), 3000u);
    std::set<uint8_t> seen(picks.begin(), picks.end());
    EXPECT_EQ(seen, std::set<uint8_t>(source.begin(), source.end()));

    EXPECT_TRUE(rnd.randomSortData({}).empty());
    EXPECT_EQ(rnd.randomSortData(bytesOf("q")), bytesOf("q"));
    const Bytes input = bytesOf("abcdefghijklmnopqrstuvwxyz0123456789");
    const Bytes original = input;
    Bytes shuffled = rnd.randomSortData(input);
    EXPECT_EQ(input, original) << "input untouched";
    EXPECT_TRUE(std::is_permutation(shuffled.begin(), shuffled.end(), input.begin()));
    bool moved = false;
    for (int i = 0; i < 5 && !moved; ++i) {
        moved = rnd.randomSortData(input) != input;
    }
    EXPECT_TRUE(moved);
}

TEST(CryptRnd, SourceRangeIsHalfOpenAndCoversWideSpans) {
    auto& rnd = TBNCryptRnd::shareRnd();
    EXPECT_EQ(rnd.randomBySourceRange({5, 5}), 0u);
    EXPECT_EQ(rnd.randomBySourceRange({7, 3}), 0u);
    std::set<uint64_t> seen;
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(rnd.randomBySourceRange({0, 1}), 0u);
        seen.insert(rnd.randomBySourceRange({10, 12}));
    }
    EXPECT_EQ(seen, (std::set<uint64_t>{10, 11}));
    // A span wider than 32 bits reaches above 2^32 (a 32-bit word could not).
    bool above = false;
    for (int i = 0; i < 20 && !above; ++i) {
        above = rnd.randomBySourceRange({0, uint64_t{1} << 40}) > 0xFFFFFFFFu;
    }
    EXPECT_TRUE(above);
}

// With the bound 2^31 + 1, every draw from the bound upwards would fold onto the
// low values with a modulo; such draws are rejected instead.
TEST(CryptRnd, UniformDrawsRejectTheBiasedTail) {
    ScriptedRandomSource script(wordsLE({0xFFFFFFFFu, 0x80000001u, 0x80000000u}));
    ScopedRandomSource scope(script);
    EXPECT_EQ(randomUniform32(0x80000001u), 0x80000000u);
    EXPECT_EQ(script.left(), 0u);
}

TEST(CryptHash, DigestsAndKeys) {
    EXPECT_EQ(toHex(TBNCryptHash::sha256FromData({})), kEmptySha256);
    EXPECT_EQ(TBNCryptHash::strSha256FromString(""), kEmptySha256);
    EXPECT_EQ(TBNCryptHash::strSha256FromString(std::nullopt), kEmptySha256);
    EXPECT_EQ(TBNCryptHash::strSha256FromString("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(TBNCryptHash::sha256FromString("abc"), TBNCryptHash::sha256FromData(bytesOf("abc")));
    EXPECT_EQ(TBNCryptHash::strSha256FromSiteUrl("abc"), TBNCryptHash::strSha256FromString("abc"));
    EXPECT_EQ(TBNCryptHash::strSha256FromLogin("abc"), TBNCryptHash::strSha256FromString("abc"));
    EXPECT_EQ(TBNCryptHash::strSha256FromPassword("abc"), TBNCryptHash::strSha256FromString("abc"));
    EXPECT_EQ(TBNCryptHash::strSha256FromLogin("a", "b_c"),
              TBNCryptHash::strSha256FromLogin("a_b", "c"));
    EXPECT_EQ(TBNCryptHash::strSha256FromLogin("a", "b"), TBNCryptHash::strSha256FromString("a_b"));
    EXPECT_EQ(TBNCryptHash::strSha256FromSiteUrl("s", "l"),
              TBNCryptHash::strSha256FromString("s_l"));
    EXPECT_EQ(TBNCryptHash::strSha256FromSiteUrl("s", "l", "p"),
              TBNCryptHash::strSha256FromString("s_l_p"));
    EXPECT_EQ(TBNCryptHash::strSha256FromLogin(std::nullopt, "p"),
              TBNCryptHash::strSha256FromString("(null)_p"));
    std::string key = TBNCryptHash::strSha256FromString("x");
    EXPECT_EQ(key.size(), 64u);
    EXPECT_TRUE(std::all_of(key.begin(), key.end(),
                            [](char c) { return std::isxdigit(c) && !std::isupper(c); }));
}

TEST(CryptHash, ClearZeroesThenEmpties) {
    Bytes empty;
    clear(empty);
    EXPECT_TRUE(empty.empty());
    Bytes data(10, 0xAB);
    const uint8_t* storage = data.data();
    clear(data);
    EXPECT_TRUE(data.empty());
    // The storage is still owned by the vector (capacity kept): its bytes are zero.
    ASSERT_GE(data.capacity(), 10u);
    EXPECT_TRUE(std::all_of(storage, storage + 10, [](uint8_t b) { return b == 0; }));
}

TEST(CryptHash, SecretsCompareByContentAndLength) {
    EXPECT_TRUE(secretsEqual(bytesOf("same"), bytesOf("same")));
    EXPECT_FALSE(secretsEqual(bytesOf("same"), bytesOf("sane")));
    EXPECT_FALSE(secretsEqual(bytesOf("same"), bytesOf("same!")));
    EXPECT_TRUE(secretsEqual(Bytes{}, Bytes{}));
    EXPECT_TRUE(secretsEqual(std::string_view("k:s"), std::string_view("k:s")));
    EXPECT_FALSE(secretsEqual(std::string_view("k:s"), std::string_view("k:t")));
}

}  // namespace
