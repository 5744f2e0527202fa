// Records whose fields go out in declaration order rather than id order, pinned to the
// exact compact bytes the phone and the extensions expect, and read back from any order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServiceTestSupport.h"
#include "protocol/services/SiteDataPayload.h"

namespace lumvane {
namespace {

using namespace lumvane::testing;

std::string hex(const Bytes& b) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (uint8_t c : b) {
        if (!out.empty()) out += ' ';
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

template <class Record>
std::shared_ptr<Record> readCompact(const std::string& hexText) {
    Bytes raw;
    for (size_t i = 0; i < hexText.size();) {
        if (hexText[i] == ' ') {
            ++i;
            continue;
        }
        raw.push_back(static_cast<uint8_t>(std::stoi(hexText.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    auto record = std::make_shared<Record>();
    deserializeRecords(*record, 0, raw);
    return record;
}

struct Golden {
    const char* what;
    std::shared_ptr<apache::thrift::TBase> record;
    const char* bytes;
};

TEST(WireOrder, OutOfIdOrderRecordsMatchGoldenCompactBytes) {
    auto emptyInfo = std::make_shared<TBNRequestInfo>();
    auto emptyResponseInfo = std::make_shared<TBNResponseInfo>();
    auto emptyAuth = std::make_shared<TBNAuthentication>();
    const std::vector<Golden> cases = {
        // ids 1, 2, 4, 3: field 3 comes after 4, so its header takes the long form.
        {"GetAccountsCacheResponse",
         std::make_shared<TBNGetAccountsCacheResponse>(emptyResponseInfo, "a", "b",
                                                       std::make_shared<TBNAccountsCache>()),
         "1c 00 18 01 61 28 01 62 0c 06 00 00"},
        // ids 1, 2, 3, 4, 6, 5: source and recordCount as i32.
        {"RequestForImportSiteDataRequest",
         std::make_shared<TBNRequestForImportSiteDataRequest>(emptyInfo, emptyAuth, 0, "d", "n", 3),
         "1c 00 1c 00 15 00 18 01 64 28 01 6e 05 0a 06 00"},
        // ids 1, 2, 3, 4, 6: there is no id 5.
        {"RequestForExportSiteDataRequest",
         std::make_shared<TBNRequestForExportSiteDataRequest>(emptyInfo, emptyAuth, 0, "f", "n"),
         "1c 00 1c 00 15 00 18 01 66 28 01 6e 00"},
        // ids 1..6 and then 10, an i16.
        {"LoadDataForClipboardResponse",
         std::make_shared<TBNLoadDataForClipboardResponse>(emptyResponseInfo, "l", "p", "c", "i",
                                                           "2", 30),
         "1c 00 18 01 6c 18 01 70 18 01 63 18 01 69 18 01 32 44 3c 00"},
        // ids 1, 2, 3, 5, 4, 6 with a list of strings and a bool.
        {"ChooseSiteDataRequest",
         std::make_shared<TBNChooseSiteDataRequest>(
             emptyInfo, emptyAuth, "s", "d",
             std::make_shared<std::vector<std::string>>(std::vector<std::string>{"x"}), true),
         "1c 00 1c 00 18 01 73 28 01 64 09 08 18 01 78 21 00"},
        // Scalars go out when set, also at 0 and false; a null object does not.
        {"PongTestResponse",
         std::make_shared<TBNPongTestResponse>(emptyResponseInfo, false, 0, std::nullopt),
         "1c 00 12 16 00 00"},
        {"SetBackUpResult with a null result",
         std::make_shared<TBNSetBackUpResult>(emptyInfo, emptyAuth, nullptr, 0),
         "1c 00 1c 00 26 00 00"},
        {"SetBackUp with zero bytes",
         std::make_shared<TBNSetBackUp>(emptyInfo, emptyAuth, Bytes{}, nullptr),
         "1c 00 1c 00 18 00 00"},
    };
    for (const Golden& g : cases) {
        SCOPED_TRACE(g.what);
        EXPECT_EQ(hex(compactBytes(*g.record)), g.bytes);
    }
}

TEST(WireOrder, CallMessageCarriesSequenceZeroAndArgumentInFieldOne) {
    auto buffer = makeWriteBuffer();
    TBNMobileStorageServiceClient client(makeCompactProtocol(buffer));
    client.send_setBackUp(std::make_shared<TBNSetBackUp>());
    // protocol id, version 1 with CALL, sequence 0, "setBackUp", field 1 struct: empty.
    const std::string written = buffer->getBufferAsString();
    Bytes raw(written.begin(), written.end());
    EXPECT_EQ(hex(raw), "82 21 00 09 73 65 74 42 61 63 6b 55 70 1c 00 00");

    auto nullBuffer = makeWriteBuffer();
    TBNMobileStorageServiceClient nullClient(makeCompactProtocol(nullBuffer));
    nullClient.send_sendPassword(nullptr);
    const std::string sent = nullBuffer->getBufferAsString();
    // A null request is a struct with only the stop marker.
    EXPECT_EQ(sent.back(), '\0');
    EXPECT_EQ(sent.substr(sent.size() - 2), std::string("d\0", 2));
}

TEST(WireOrder, ReadsFieldsInAnyOrderAndSkipsWrongTypes) {
    // GetAccountsCacheResponse with ids in the order 1, 2, 3, 4.
    auto inIdOrder = readCompact<TBNGetAccountsCacheResponse>("1c 00 18 01 61 1c 00 18 01 62 00");
    TBNGetAccountsCacheResponse expected(std::make_shared<TBNResponseInfo>(), "a", "b",
                                         std::make_shared<TBNAccountsCache>());
    EXPECT_TRUE(*inIdOrder == expected);

    // ChooseSiteDataRequest with ids 6, 5, 4, 3, 2, 1.
    auto reversed = readCompact<TBNChooseSiteDataRequest>(
        "61 08 0a 01 64 09 08 18 01 78 08 06 01 73 0c 04 00 0c 02 00 00");
    TBNChooseSiteDataRequest full(
        std::make_shared<TBNRequestInfo>(), std::make_shared<TBNAuthentication>(), "s", "d",
        std::make_shared<std::vector<std::string>>(std::vector<std::string>{"x"}), true);
    EXPECT_TRUE(*reversed == full);

    // typeSerialize sent as i64 and requestRaw as a struct are skipped.
    auto export_ = readCompact<TBNExportSiteDataResponse>("26 0e 00");
    EXPECT_FALSE(export_->typeSerializeIsSet());
    EXPECT_EQ(export_->typeSerialize(), 0);
    auto reg = readCompact<TBNRegisterYubikeyRequest>("3c 00 00");
    EXPECT_FALSE(reg->requestRawIsSet());

    // Field 5 of an export request does not exist and is skipped; 7 to 9 of a clipboard
    // answer likewise.
    auto exportRequest = readCompact<TBNRequestForExportSiteDataRequest>("58 01 7a 00");
    EXPECT_TRUE(*exportRequest == TBNRequestForExportSiteDataRequest());
    auto clipboard = readCompact<TBNLoadDataForClipboardResponse>("58 01 7a 28 01 7a 34 06 00");
    EXPECT_FALSE(clipboard->loginIsSet());
    EXPECT_TRUE(clipboard->accountIdIsSet());
    EXPECT_EQ(clipboard->clearTimeout(), 3);
}

}  // namespace
}  // namespace lumvane
