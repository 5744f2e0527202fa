// The stock C++ code that `thrift --gen cpp` makes from the same interface file reads
// every mobile-storage call our client writes in the compact protocol: same method
// name, CALL, sequence id 0, the whole message consumed, and the argument it decodes
// writes back into the same record.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include <thrift/protocol/TCompactProtocol.h>

#include "MobileStorageService.h"
#include "ServiceTestSupport.h"
#include "protocol/services/SiteDataPayload.h"

namespace lumvane {
namespace {

using namespace lumvane::testing;
using apache::thrift::protocol::TCompactProtocol;
using apache::thrift::transport::TMemoryBuffer;

using Send =
    std::function<void(TBNMobileStorageServiceClient&, std::shared_ptr<apache::thrift::TBase>)>;

template <class StockArgs, class OurArgs>
void checkCall(const Sample& sample, const Send& send) {
    SCOPED_TRACE(sample.name);
    auto ours = makeWriteBuffer();
    TBNMobileStorageServiceClient client(makeCompactProtocol(ours));
    send(client, sample.request);
    const std::string call = ours->getBufferAsString();

    // The stock reader.
    auto in =
        std::make_shared<TMemoryBuffer>(reinterpret_cast<uint8_t*>(const_cast<char*>(call.data())),
                                        static_cast<uint32_t>(call.size()), TMemoryBuffer::COPY);
    TCompactProtocol stockIn(in);
    std::string name;
    apache::thrift::protocol::TMessageType type;
    int32_t seq = -1;
    stockIn.readMessageBegin(name, type, seq);
    EXPECT_EQ(name, sample.name);
    EXPECT_EQ(type, apache::thrift::protocol::T_CALL);
    EXPECT_EQ(seq, 0);
    StockArgs stockArgs;
    stockArgs.read(&stockIn);
    stockIn.readMessageEnd();
    EXPECT_EQ(in->available_read(), 0u) << "the stock reader left bytes";

    // What the stock code decoded, written back by it (in id order) and read by us.
    auto back = std::make_shared<TMemoryBuffer>();
    TCompactProtocol stockOut(back);
    stockArgs.write(&stockOut);
    const std::string stockBytes = back->getBufferAsString();
    OurArgs fromStock;
    deserializeRecords(fromStock, 0, bytes(stockBytes));

    // Our own reading of our call, for comparison.
    auto again = makeReadBuffer(reinterpret_cast<const uint8_t*>(call.data()), call.size());
    auto ourIn = makeCompactProtocol(again);
    std::string ourName;
    apache::thrift::protocol::TMessageType ourType;
    int32_t ourSeq;
    ourIn->readMessageBegin(ourName, ourType, ourSeq);
    OurArgs direct;
    direct.read(ourIn.get());
    EXPECT_EQ(compactBytes(fromStock), compactBytes(direct));
}

#define LV_ORACLE(method, Req)                                                                \
    {                                                                                         \
#method, [](const Sample& s) {                                                              \
         checkCall<svc_stock::MobileStorageService_##method##_args, TBN##method##_args>(          \
             s, [](TBNMobileStorageServiceClient& c, std::shared_ptr<apache::thrift::TBase> r) { \
                 c.send_##method(std::static_pointer_cast<TBN##Req>(r));                         \
             });                                                                                 \
     } \
    }

TEST(StockOracle, DecodesEveryCompactMobileStorageCall) {
    const std::map<std::string, std::function<void(const Sample&)>> checks = {
        LV_ORACLE(approveClient, ApproveClientRequest),
        LV_ORACLE(updateInfo, UpdateInfoRequest),
        LV_ORACLE(getSitesCache, GetSitesCacheRequest),
        LV_ORACLE(getAccountsCache, GetAccountsCacheRequest),
        LV_ORACLE(getBackUp, GetBackUpRequest),
        LV_ORACLE(setBackUpResult, SetBackUpResult),
        LV_ORACLE(setBackUp, SetBackUp),
        LV_ORACLE(sendPassword, SendPasswordRequest),
        LV_ORACLE(loadDataForClipboard, LoadDataForClipboardRequest),
        LV_ORACLE(getUrlToOpen, GetUrlToOpenRequest),
        LV_ORACLE(requestForImportSiteData, RequestForImportSiteDataRequest),
        LV_ORACLE(importSiteData, ImportSiteDataRequest),
        LV_ORACLE(requestForExportSiteData, RequestForExportSiteDataRequest),
        LV_ORACLE(exportSiteData, ExportSiteDataRequest),
        LV_ORACLE(registerYubikey, RegisterYubikeyRequest),
        LV_ORACLE(authenticationYubikey, AuthenticationYubikeyRequest),
    };
    size_t checked = 0;
    for (const Sample& sample : mobileSamples()) {
        auto it = checks.find(sample.name);
        ASSERT_NE(it, checks.end()) << sample.name;
        it->second(sample);
        ++checked;
    }
    EXPECT_EQ(checked, 16u);
}

// Field by field for the out-of-order import request: the values land in the stock
// record's fields of the same ids.
TEST(StockOracle, ImportRequestFieldsLandUnderTheirIds) {
    auto buffer = makeWriteBuffer();
    TBNMobileStorageServiceClient client(makeCompactProtocol(buffer));
    client.send_requestForImportSiteData(std::make_shared<TBNRequestForImportSiteDataRequest>(
        sampleRequestInfo(), sampleAuth(), 0, "file.csv", "LastPass CSV", 17));
    const std::string call = buffer->getBufferAsString();
    auto in =
        std::make_shared<TMemoryBuffer>(reinterpret_cast<uint8_t*>(const_cast<char*>(call.data())),
                                        static_cast<uint32_t>(call.size()), TMemoryBuffer::COPY);
    TCompactProtocol p(in);
    std::string name;
    apache::thrift::protocol::TMessageType type;
    int32_t seq;
    p.readMessageBegin(name, type, seq);
    svc_stock::MobileStorageService_requestForImportSiteData_args args;
    args.read(&p);
    EXPECT_EQ(args.request.sourceDetail, "file.csv");
    EXPECT_EQ(args.request.sourceName, "LastPass CSV");
    EXPECT_EQ(args.request.recordCount, 17);
    EXPECT_TRUE(args.request.__isset.source);
    EXPECT_EQ(args.request.source, 0);
    EXPECT_EQ(args.request.auth.clientSecret, "client-secret");
}

}  // namespace
}  // namespace lumvane
