#include <gtest/gtest.h>

#include "U2FTestSupport.h"
#include "u2f/SHA256.h"

using namespace lumvane;
using namespace lumvane::u2ftest;

namespace {

TEST(WebSafeBase64, AlphabetAndPadding) {
    // fb ff bf: standard "+/+/" territory.
    Bytes data = hex("fbffbf fbef");
    EXPECT_EQ(WebSafeBase64::standardEncode(data), "+/+/++8=");
    EXPECT_EQ(WebSafeBase64::encode(data), "-_-_--8");
    EXPECT_EQ(WebSafeBase64::decode("-_-_--8"), data);
    EXPECT_EQ(WebSafeBase64::encode(hex("00")), "AA");
    EXPECT_EQ(WebSafeBase64::decode("AA"), hex("00"));
    EXPECT_EQ(WebSafeBase64::decode("AAA"), hex("0000"));
    EXPECT_EQ(WebSafeBase64::decode(""), Bytes{});
}

TEST(WebSafeBase64, RefusesMalformedText) {
    for (const char* text : {"A", "AAAAA", "A*AA", "AA=A", "=AAA", "AA A"}) {
        EXPECT_FALSE(WebSafeBase64::decode(text).has_value()) << text;
    }
    // Padding is allowed where standard base64 has it.
    EXPECT_EQ(WebSafeBase64::decode("AA=="), hex("00"));
}

TEST(WebSafeBase64, RandomTextLengthAndAlphabet) {
    auto text = WebSafeBase64::random();
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->size(), 43u);
    EXPECT_EQ(
        text->find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
        std::string::npos);
    EXPECT_NE(*text, *WebSafeBase64::random());
    EXPECT_EQ(WebSafeBase64::random(0), "");
    EXPECT_FALSE(WebSafeBase64::random(-1).has_value());
}

TEST(SHA256, DigestForms) {
    const Bytes empty = hex("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(SHA256::hashString(""), empty);
    EXPECT_EQ(SHA256::hashData({}), empty);
    auto bytes = SHA256::hashDataBytes({});
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), empty);
    std::string webSafe = SHA256::hashDataWebSafe({});
    EXPECT_EQ(webSafe.size(), 43u);
    EXPECT_EQ(WebSafeBase64::decode(webSafe), empty);
    std::string b64 = "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=";
    EXPECT_EQ(SHA256::hashDataBase64({}), Bytes(b64.begin(), b64.end()));
    auto abc = SHA256::hashStringBytes("abc");
    EXPECT_EQ(Bytes(abc.begin(), abc.end()),
              hex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_THROW(SHA256::hashStringBytes(std::string("\xff\xfe")), SHA256::Exception);
}

TEST(SHA256, ShortDigestLengthStillHoldsTheDigest) {
    SHA256::digestLength = 4;
    Bytes digest = SHA256::hashString("");
    SHA256::digestLength = 32;
    EXPECT_EQ(digest.size(), 32u);
    EXPECT_EQ(digest, SHA256::hashString(""));
}

}  // namespace
