// The import/export payload: compact bytes, bzip2 at block size 9, a bounded
// decompressor, and the typeSerialize switch.
#include <gtest/gtest.h>

#include <bzlib.h>

#include <thrift/Thrift.h>
#include <thrift/protocol/TProtocolException.h>

#include "ServiceTestSupport.h"
#include "protocol/services/ServiceEnums.h"
#include "protocol/services/SiteDataPayload.h"

namespace lumvane {
namespace {

using namespace lumvane::testing;
using apache::thrift::protocol::TProtocolException;

// A collection-shaped record: a list of sites and a text.
TBNImportSiteDataFromGoogleRequest sampleCollection(int sites) {
    auto list = std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>();
    for (int i = 0; i < sites; ++i) list->push_back(sampleSite("https://s" + std::to_string(i)));
    TBNImportSiteDataFromGoogleRequest r;
    r.setRecords(list);
    r.setDetail("detail");
    return r;
}

TEST(SiteDataPayload, CompressedRoundTripAndPlainFallback) {
    const auto original = sampleCollection(50);
    SerializedRecords packed = serializeRecords(original);
    EXPECT_EQ(packed.typeSerialize, static_cast<int32_t>(TBNSerializeType::COMPACT_BZIP2));
    ASSERT_GE(packed.bytes.size(), 4u);
    EXPECT_EQ(std::string(packed.bytes.begin(), packed.bytes.begin() + 4), "BZh9");
    EXPECT_LT(packed.bytes.size(), compactBytes(original).size());

    TBNImportSiteDataFromGoogleRequest back;
    deserializeRecords(back, packed.typeSerialize, packed.bytes);
    EXPECT_TRUE(back == original);

    SerializedRecords plain = serializeRecords(original, false);
    EXPECT_EQ(plain.typeSerialize, 0);
    EXPECT_EQ(plain.bytes, compactBytes(original));
    TBNImportSiteDataFromGoogleRequest back0;
    deserializeRecords(back0, 0, plain.bytes);
    EXPECT_TRUE(back0 == original);
}

TEST(SiteDataPayload, UnknownTypeLeavesTheRecordEmpty) {
    const auto original = sampleCollection(1);
    for (int32_t type : {2, 7, -1}) {
        TBNImportSiteDataFromGoogleRequest into;
        deserializeRecords(into, type, compactBytes(original));
        EXPECT_TRUE(into == TBNImportSiteDataFromGoogleRequest()) << type;
    }
}

TEST(SiteDataPayload, DecompressionIsBoundedAndRejectsDamage) {
    // 10 MiB of zeros compress to a few dozen bytes.
    Bytes zeros(10 * 1024 * 1024, 0);
    auto bomb = bzip2Compress(zeros);
    ASSERT_TRUE(bomb);
    EXPECT_LT(bomb->size(), 1024u);
    EXPECT_EQ(bzip2Decompress(*bomb, zeros.size()).size(), zeros.size()) << "exactly at the cap";
    try {
        bzip2Decompress(*bomb, zeros.size() - 1);
        FAIL() << "output above the cap must be refused";
    } catch (const TProtocolException& e) {
        EXPECT_EQ(e.getType(), TProtocolException::SIZE_LIMIT);
    }
    ProtocolLimits limits;
    limits.maxMessageSize = 1024 * 1024;
    TBNImportSiteDataFromGoogleRequest into;
    EXPECT_THROW(deserializeRecords(into, 1, *bomb, limits), TProtocolException);

    Bytes truncated(bomb->begin(), bomb->begin() + bomb->size() / 2);
    try {
        bzip2Decompress(truncated, zeros.size());
        FAIL();
    } catch (const TProtocolException& e) {
        EXPECT_EQ(e.getType(), TProtocolException::INVALID_DATA);
    }
    EXPECT_THROW(bzip2Decompress(bytes("not bzip2 at all"), 1024), TProtocolException);
    EXPECT_THROW(bzip2Decompress(Bytes{}, 1024), TProtocolException);
}

TEST(SiteDataPayload, ReadsWhatTheStockLibraryCompressed) {
    // The same framing as the bzip2 command line tool at -9.
    const std::string text(100000, 'q');
    unsigned int len = 200000;
    Bytes out(len);
    ASSERT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len,
                                       const_cast<char*>(text.data()),
                                       static_cast<unsigned int>(text.size()), 9, 0, 30),
              BZ_OK);
    out.resize(len);
    EXPECT_EQ(bzip2Decompress(out, text.size()), bytes(text));
    EXPECT_EQ(bzip2Compress(bytes(text)), out);
}

TEST(SiteDataPayload, EnumerationNames) {
    EXPECT_EQ(importSourceName(6), "1Password CSV");
    EXPECT_EQ(importSourceKeyName(6), "1PASSWORD_CSV");
    EXPECT_EQ(importSourceName(50), "Google Passwords");
    EXPECT_EQ(importSourceName(51), std::nullopt);
    EXPECT_EQ(importSourceKeyName(52), "KEYCHAIN_INTERNET_PASS");
    EXPECT_EQ(importSourceName(8), std::nullopt);
    EXPECT_EQ(exportDestinationName(2), "LastPass CSV");
    EXPECT_EQ(exportDestinationName(3), "");
}

}  // namespace
}  // namespace lumvane
