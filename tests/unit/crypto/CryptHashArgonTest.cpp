#include <gtest/gtest.h>

#include "TestSupport.h"
#include "crypto/CryptHash.h"
#include "crypto/TBNCryptHash.h"

using namespace lumvane;
using namespace lumvane::test;

namespace {

// RFC 9106 section 5: t=3, m=32 KiB, p=4, with secret and associated data.
TEST(CryptHashArgon, Rfc9106Vectors) {
    const Bytes password(32, 0x01), salt(16, 0x02), secret(8, 0x03), ad(12, 0x04);
    const std::pair<int, std::string> cases[] = {
        {0, "512b391b6f1162975371d30919734294f868e3be3984f3c1a13a4db9fabe4acb"},
        {1, "c814d9d1dc7f37aa13f0d77f2494bda1c8de6b016dd388d29952a4c4672b6ce8"},
        {2, "0d640df58d78766c08c037a34a8b53c9d01ef0452d75b65eb52520e96b01e659"},
    };
    for (const auto& [type, tag] : cases) {
        CryptHash::Params p;
        p.type = type;
        p.timeCost = 3;
        p.memoryKiB = 32;
        p.lanes = 4;
        p.tagLength = 32;
        p.password = password;
        p.salt = salt;
        p.secret = secret;
        p.associatedData = ad;
        auto out = CryptHash::argon2(p);
        ASSERT_TRUE(out) << type;
        EXPECT_EQ(toHex(*out), tag) << "type " << type;
    }
}

// The configuration string drives the same hash: mode, time, memory, lanes, salt.
TEST(CryptHashArgon, ConfigurationStringSelectsParameters) {
    // Reference-implementation vectors for "password"/"somesalt", t=2, m=64 MiB, p=1.
    EXPECT_EQ(CryptHash::hexstrArgonFromString("password", "$1$v=19$2$65536$1$somesalt"),
              "c1628832147d9720c5bd1cfd61367078729f6dfb6f8fea9ff98158e0d7816ed0");
    EXPECT_EQ(CryptHash::hexstrArgonFromString("password", "$2$v=19$2$65536$1$somesalt"),
              "09316115d5cf24ed5a15a31a3ba326e5cf32edc24702987c02b6566f61913cf7");
}

TEST(CryptHashArgon, FieldParsing) {
    const std::string base = "2$x$1$64$1$saltsalt";
    const auto reference = CryptHash::hexstrArgonFromString("pw", base);
    ASSERT_TRUE(reference);
    EXPECT_EQ(reference->size(), 64u);
    // Leading "$", doubled "$" and the ignored second field change nothing.
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", "$" + base), reference);
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", "2$x$$1$64$1$saltsalt"), reference);
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", "2$other$1$64$1$saltsalt"), reference);
    // Five or seven fields, or nothing at all: no result.
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", "2$x$1$64$1"), std::nullopt);
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", base + "$extra"), std::nullopt);
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", std::nullopt), std::nullopt);
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", ""), std::nullopt);
    // Any mode text other than "0", "1", "2" means mode 0.
    const auto mode0 = CryptHash::hexstrArgonFromString("pw", "0$x$1$64$1$saltsalt");
    for (const char* mode : {"02", " 2", "id", "3"}) {
        EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", std::string(mode) + "$x$1$64$1$saltsalt"),
                  mode0)
            << mode;
    }
    EXPECT_NE(mode0, reference);
    // Unusable numbers fall back to the defaults 6, 131072, 2.
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", "2$x$six$-$+$saltsalt"),
              CryptHash::hexstrArgonFromString("pw", "2$x$6$131072$2$saltsalt"));
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", "2$x$99999999999999999999$64$1$saltsalt"),
              CryptHash::hexstrArgonFromString("pw", "2$x$6$64$1$saltsalt"));
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", "2$x$+1$64$1$saltsalt"), reference);
    // A negative or oversized cost is refused instead of wrapping to a huge unsigned value.
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", "2$x$-1$64$1$saltsalt"), std::nullopt);
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", "2$x$1$4294967296$1$saltsalt"), std::nullopt);
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", "2$x$1$134217728$1$saltsalt"), std::nullopt)
        << "memory above the cap";
    // A salt shorter than the library's minimum: no result rather than a crash.
    EXPECT_EQ(CryptHash::hexstrArgonFromString("pw", "2$x$1$64$1$abc"), std::nullopt);
}

TEST(CryptHashArgon, BytesThroughHashHelper) {
    const auto hex = CryptHash::hexstrArgonFromString("pw", "2$x$1$64$1$saltsalt");
    ASSERT_TRUE(hex);
    EXPECT_EQ(toHex(TBNCryptHash::argonFromString("pw", "2$x$1$64$1$saltsalt")), *hex);
    EXPECT_TRUE(TBNCryptHash::argonFromString("pw", "bad").empty());
}

}  // namespace
