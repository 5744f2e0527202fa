#include <gtest/gtest.h>

#include <ctime>
#include <deque>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/DateString.h"
#include "runtime/Digest.h"
#include "runtime/HexString.h"
#include "runtime/QueueStack.h"
#include "runtime/TBNUtil.h"
#include "runtime/TBNWeakPointer.h"

using namespace lumvane;

namespace {

TEST(Digest, Sha256OfKnownInputs) {
    EXPECT_EQ(stringWithHexData(sha256(Bytes{})),
              "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
    EXPECT_EQ(stringWithHexData(sha256(std::string_view("abc"))),
              "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    const Bytes abc{'a', 'b', 'c'};
    EXPECT_EQ(sha256(abc), sha256(std::string_view("abc")));
}

TEST(Digest, RandomBytesHaveTheAskedSizeAndDiffer) {
    EXPECT_TRUE(randomBytes(0).empty());
    const Bytes a = randomBytes(32), b = randomBytes(32);
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, b);
}

TEST(TBNUtil, PairingCodeMatchesAnIndependentComputation) {
    // sha256("DEVICE-1" "CLIENT-2" "SECRET-3"), 16 little-endian words XORed.
    EXPECT_EQ(TBNUtil::getSecreteCodeFromDeviceId("DEVICE-1", "pk1", "CLIENT-2", "pk2", "SECRET-3"),
              "11553");
    EXPECT_EQ(TBNUtil::getSecreteCodeFromDeviceId("DEVICE-1", "", "CLIENT-2", "", ""), "51979");
}

TEST(TBNUtil, PairingCodeIgnoresPublicKeysAndAnEmptySecret) {
    const auto base = TBNUtil::getSecreteCodeFromDeviceId("dev", "a", "cli", "b", "");
    EXPECT_EQ(TBNUtil::getSecreteCodeFromDeviceId("dev", "other", "cli", "keys", ""), base);
    EXPECT_EQ(TBNUtil::getSecreteCodeFromDeviceId("dev", "", "cli", "", ""), base);
    EXPECT_NE(TBNUtil::getSecreteCodeFromDeviceId("dev", "a", "cli", "b", "s"), base);
    EXPECT_EQ(base.size(), 5u);
}

TEST(TBNUtil, CheckCodeOfADigestIsTheXorOfItsLittleEndianWordsPaddedToFiveDigits) {
    struct Case {
        std::vector<std::pair<int, uint8_t>> bytes;  // index, value; others 0
        const char* code;
    };
    const Case cases[] = {
        {{}, "00000"},
        {{{0, 7}}, "00007"},
        {{{1, 1}}, "00256"},                  // second byte is the high one
        {{{0, 5}, {2, 2}}, "00007"},          // 5 ^ 2
        {{{30, 0xFF}, {31, 0xFF}}, "65535"},  // the last word counts
        {{{0, 0xFF}, {1, 0xFF}, {2, 0xFF}, {3, 0xFF}}, "00000"},
    };
    for (const auto& c : cases) {
        Bytes digest(32, 0);
        for (auto [i, v] : c.bytes) digest[i] = v;
        EXPECT_EQ(TBNUtil::secreteCodeFromDigest(digest), c.code);
    }
}

TEST(TBNUtil, GeneratedIdsAreUpperCaseVersion4Uuids) {
    const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const auto id = TBNUtil::generateId();
        EXPECT_TRUE(std::regex_match(id, form)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 50u);
}

TEST(TBNUtil, IdsConvertBetweenTextAndBytes) {
    Bytes bytes;
    for (int i = 0; i < 20; ++i) bytes.push_back(static_cast<uint8_t>(0xA0 + i));
    EXPECT_EQ(TBNUtil::idFromData(bytes), "A0A1A2A3-A4A5-A6A7-A8A9-AAABACADAEAF");
    EXPECT_EQ(TBNUtil::idFromData(Bytes{0x01, 0x02}), "01020000-0000-0000-0000-000000000000");
    EXPECT_EQ(TBNUtil::dataIdFromStringId("a0a1a2a3-a4a5-a6a7-a8a9-aaabacadaeaf"),
              Bytes(bytes.begin(), bytes.begin() + 16));
    const auto id = TBNUtil::generateId();
    EXPECT_EQ(TBNUtil::idFromData(TBNUtil::dataIdFromStringId(id)), id);
    for (const char* bad : {"", "not-an-id", "A0A1A2A3A4A5-A6A7-A8A9-AAABACADAEAF",
                            "G0A1A2A3-A4A5-A6A7-A8A9-AAABACADAEAF"}) {
        EXPECT_THROW(TBNUtil::dataIdFromStringId(bad), std::invalid_argument) << bad;
    }
}

TEST(TBNUtil, VersionCode) {
    struct Case {
        const char* text;
        uint64_t code;
    };
    const Case cases[] = {
        {"0.8.4.3", 0x00080403},     {"1.2", 0x01020000},
        {"256.1", 0x00010000},       {"", 0},
        {"1.2.3.4.5", 0x01020304},   {"1.x.3", 0x01000300},
        {" 7.+8.9z.10", 0x0708090A}, {"-1.0", 0xFF000000},
        {"1..2", 0x01000200},        {"99999999999.1", 0xFF010000},
    };
    for (const auto& c : cases) EXPECT_EQ(TBNUtil::versionCode(c.text), c.code) << c.text;
    EXPECT_LT(TBNUtil::versionCode("0.8.4.2"), TBNUtil::versionCode("0.8.4.3"));
}

TEST(TBNUtil, ValidateUrl) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"localhost", false},       {"a.b", true},
        {"a b.c", false},           {"https://example.com/path?q=1#top", true},
        {"example.com:8080", true}, {"", false},
        {"http://a.b/%zz", false},  {"http://a.b/%2F", true},
        {"a.b#x#y", false},         {"a.b\n", false},
        {"\xC3\xA9.com", false},
    };
    for (const auto& c : cases) EXPECT_EQ(TBNUtil::validateUrl(c.text), c.valid) << c.text;
}

TEST(HexString, HexTextToDataAndBack) {
    struct Case {
        const char* text;
        Bytes data;
    };
    const Case cases[] = {
        {"", {}},
        {"z", {}},
        {"0A:ff", {0x0A, 0xFF}},
        {"0aFF", {0x0A, 0xFF}},
        {"abc", {0xAB}},
        {"00 01 fe", {0x00, 0x01, 0xFE}},
    };
    for (const auto& c : cases) EXPECT_EQ(hexData(c.text), c.data) << c.text;
    EXPECT_EQ(stringWithHexData({}), "");
    EXPECT_EQ(stringWithHexData({0x00, 0x0A, 0xFF}), "000AFF");
}

TEST(HexString, BitStrings) {
    const Bytes data{0x05, 0xA0, 0xFF};
    EXPECT_EQ(bitStringForData({0x05, 0xA0}), "00000101_10100000");
    EXPECT_EQ(bitStringForData(data, 1, 1), "10100000");
    EXPECT_EQ(bitStringForData(data, 3, 0), "");
    EXPECT_EQ(bitStringForData({}), "");
    EXPECT_THROW(bitStringForData(data, 2, 2), std::out_of_range);
    EXPECT_THROW(bitStringForData(data, 4, 0), std::out_of_range);
    EXPECT_THROW(bitStringForData(data, 1, SIZE_MAX), std::out_of_range);
}

TEST(QueueStack, StackAndQueueUse) {
    std::vector<int> stack;
    EXPECT_EQ(pop(stack), std::nullopt);
    push(stack, 1);
    push(stack, 2);
    EXPECT_EQ(pop(stack), 2);
    EXPECT_EQ(pop(stack), 1);
    EXPECT_EQ(pop(stack), std::nullopt);

    std::deque<std::string> queue;
    EXPECT_THROW(shift(queue), std::out_of_range);
    EXPECT_TRUE(queue.empty());
    push(queue, "a");
    push(queue, "b");
    EXPECT_EQ(shift(queue), "a");
    EXPECT_EQ(shift(queue), "b");
    EXPECT_THROW(shift(queue), std::out_of_range);
}

TEST(TBNWeakPointer, ReadsNullOnceTheObjectIsGone) {
    auto object = std::make_shared<int>(5);
    auto box = TBNWeakPointer<int>::weakPointerForObject(object);
    ASSERT_NE(box->weakObject(), nullptr);
    EXPECT_EQ(*box->weakObject(), 5);
    object.reset();
    EXPECT_EQ(box->weakObject(), nullptr);

    auto other = std::make_shared<std::string>("x");
    auto anyBox = TBNWeakPointer<>::weakPointerForObject(other);
    EXPECT_EQ(anyBox->weakObject(), other);
    anyBox->setWeakObject(nullptr);
    EXPECT_EQ(anyBox->weakObject(), nullptr);
}

TEST(DateString, ParsesAndFormatsMinutesInLocalTime) {
    const auto date = dateFromString("2020-01-31 13:45");
    ASSERT_TRUE(date.has_value());
    const std::time_t t = std::chrono::system_clock::to_time_t(*date);
    std::tm tm{};
    localtime_r(&t, &tm);
    EXPECT_EQ(tm.tm_year, 120);
    EXPECT_EQ(tm.tm_mon, 0);
    EXPECT_EQ(tm.tm_mday, 31);
    EXPECT_EQ(tm.tm_hour, 13);
    EXPECT_EQ(tm.tm_min, 45);
    EXPECT_EQ(tm.tm_sec, 0);
    EXPECT_EQ(toString(*date), "2020-01-31 13:45");
    EXPECT_EQ(toString(*date + std::chrono::seconds(59)), "2020-01-31 13:45");

    for (const char* bad : {"2020-01-31", "", "2020-02-30 10:00", "2020-01-31 24:00",
                            "2020-01-31 13:45:10", "2020/01/31 13:45", "x2020-01-31 13:45"}) {
        EXPECT_FALSE(dateFromString(bad).has_value()) << bad;
    }
    EXPECT_TRUE(formatter().dateFromString("2024-02-29 00:00").has_value());
}

}  // namespace
