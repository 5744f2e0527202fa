// Common message parts and the storage-service messages: ids, order and golden bytes.
#include <gtest/gtest.h>
#include <thrift/Thrift.h>
#include <thrift/protocol/TProtocolException.h>

#include "WireHelpers.h"
#include "idl/protocols.h"

namespace lumvane {
namespace {

using namespace apache::thrift::protocol;
using testing::bytesOf;
using testing::decode;
using testing::encode;
using testing::fieldIds;
using testing::Wire;

std::shared_ptr<TBNRequestInfo> info() {
    return std::make_shared<TBNRequestInfo>("req-1", 1700000000, "ctx");
}
std::shared_ptr<TBNAuthentication> auth() {
    return std::make_shared<TBNAuthentication>("client", "secret");
}
std::shared_ptr<TBNLoginData> login() {
    auto l = std::make_shared<TBNLoginData>();
    l->setLogin("alice");
    l->setPassword("pw");
    return l;
}

class MessageWires : public ::testing::TestWithParam<Wire> {};
INSTANTIATE_TEST_SUITE_P(Wires, MessageWires, ::testing::Values(Wire::Compact, Wire::Binary),
    [](const auto& info) { return std::string(testing::wireName(info.param)); });

TEST(StorageMessages, GetLoginDataRequestGoldenCompactBytes) {
    TBNGetLoginDataRequest request;
    request.setSiteUrl("u");
    request.setDomain("d");
    request.setLogin("l");
    // 3 and 5 take the short header (0x38, 0x28); 4 after 5 takes the long one: 0x08 then
    // zig-zag 4 = 0x08.
    const auto golden = bytesOf({0x38, 0x01, 'u', 0x28, 0x01, 'd', 0x08, 0x08, 0x01, 'l', 0x00});
    EXPECT_EQ(encode(request, Wire::Compact), golden);

    // The same request with its fields in id order reads to an equal record.
    const auto idOrder = bytesOf({0x38, 0x01, 'u', 0x18, 0x01, 'l', 0x18, 0x01, 'd', 0x00});
    auto fromIdOrder = decode<TBNGetLoginDataRequest>(idOrder, Wire::Compact);
    auto fromGolden = decode<TBNGetLoginDataRequest>(golden, Wire::Compact);
    EXPECT_TRUE(fromIdOrder == fromGolden);
    EXPECT_TRUE(fromGolden == request);
}

TEST_P(MessageWires, RequestsWriteInDeclarationOrder) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<int16_t> ids;
    };
    const Wire w = GetParam();
    const std::vector<Case> cases = {
        {"getLoginData",
            encode(TBNGetLoginDataRequest(info(), auth(), "u", "d", false, "l"), w),
            {1, 2, 3, 5, 6, 4}},
        {"addLoginData",
            encode(TBNAddLoginDataRequest(info(), auth(), "u", "d", login(), true), w),
            {1, 2, 3, 6, 4, 5}},
        {"updateLoginData",
            encode(TBNUpdateLoginDataRequest(info(), auth(), "u", "d", login(), "old"), w),
            {1, 2, 3, 6, 4, 5}},
        {"deleteLoginData",
            encode(TBNDeleteLoginDataRequest(info(), auth(), "u", "d", "l"), w), {1, 2, 3, 5, 4}},
        {"getSiteData",
            encode(TBNGetSiteDataRequest(info(), auth(), "u", "d", true, false, true), w),
            {1, 2, 3, 6, 4, 5, 7}},
        {"getSiteDataList", encode(TBNGetSiteDataListRequest(info(), auth(), true, true), w),
            {1, 2, 3, 4}},
        {"deleteSiteData", encode(TBNDeleteSiteDataRequest(info(), auth(), "u", "d"), w),
            {1, 2, 3, 4}},
        {"get2FACode", encode(TBNGet2FACodeRequest(info(), auth(), "u", "d", "l"), w),
            {1, 2, 3, 4, 5}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fieldIds(c.bytes, w), c.ids) << c.name;
    }
}

TEST_P(MessageWires, NullsFromTheFullInitialiserAreSetButNotWritten) {
    TBNGetSiteDataRequest request(info(), auth(), std::nullopt, std::nullopt, true, false, true);
    EXPECT_TRUE(request.siteUrlIsSet());
    EXPECT_EQ(fieldIds(encode(request, GetParam()), GetParam()),
        (std::vector<int16_t>{1, 2, 4, 5, 7}));

    TBNResponseInfo response("r", 5, "req-1", nullptr, "ctx");
    EXPECT_TRUE(response.errorIsSet());
    auto bytes = encode(response, GetParam());
    EXPECT_EQ(fieldIds(bytes, GetParam()), (std::vector<int16_t>{1, 2, 3, 5}));
    auto read = decode<TBNResponseInfo>(bytes, GetParam());
    EXPECT_FALSE(read.errorIsSet());
    EXPECT_EQ(read.error(), nullptr);
}

TEST_P(MessageWires, FailureAnswersCarryTheirZerosAndFalses) {
    auto failed = std::make_shared<TBNResponseInfo>();
    TBNAddLoginDataResponse add(failed, false);
    auto addBytes = encode(add, GetParam());
    EXPECT_EQ(fieldIds(addBytes, GetParam()), (std::vector<int16_t>{1, 2}));
    auto addBack = decode<TBNAddLoginDataResponse>(addBytes, GetParam());
    EXPECT_TRUE(addBack.isUpdatedIsSet());
    EXPECT_FALSE(addBack.isUpdated());

    TBNGet2FACodeResponse code(failed, std::nullopt, std::nullopt, std::nullopt, 0, 0);
    EXPECT_EQ(fieldIds(encode(code, GetParam()), GetParam()), (std::vector<int16_t>{1, 5, 6}));
}

TEST_P(MessageWires, SiteListEmptyNullAndCounts) {
    TBNGetSiteDataListResponse empty(std::make_shared<TBNResponseInfo>(),
        std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>());
    auto bytes = encode(empty, GetParam());
    EXPECT_EQ(fieldIds(bytes, GetParam()), (std::vector<int16_t>{1, 2}));
    auto back = decode<TBNGetSiteDataListResponse>(bytes, GetParam());
    ASSERT_NE(back.records(), nullptr);
    EXPECT_TRUE(back.records()->empty());

    TBNGetSiteDataListResponse none(std::make_shared<TBNResponseInfo>(), nullptr);
    EXPECT_EQ(fieldIds(encode(none, GetParam()), GetParam()), std::vector<int16_t>{1});

    // A negative count is malformed input: the protocol rejects it.
    auto buffer = makeWriteBuffer();
    auto p = testing::protocolOn(buffer, GetParam());
    p->writeStructBegin("GetSiteDataListResponse");
    p->writeFieldBegin("records", T_LIST, 2);
    std::string negative;
    if (GetParam() == Wire::Binary) {
        p->writeListBegin(T_STRUCT, static_cast<uint32_t>(-1));
        negative = buffer->getBufferAsString();
    } else {
        // Long list header (0xfc: size follows, struct elements), varint of -1.
        negative = buffer->getBufferAsString() + bytesOf({0xfc, 0xff, 0xff, 0xff, 0xff, 0x0f});
    }
    EXPECT_THROW(decode<TBNGetSiteDataListResponse>(negative, GetParam()), TProtocolException);
}

TEST_P(MessageWires, FieldsWithTheWrongTypeAreSkipped) {
    struct Case {
        const char* name;
        TType type;
        int16_t id;
        std::function<void(TProtocol&)> value;
        std::function<bool(const std::string&)> stillUnset;
    };
    const Wire w = GetParam();
    const std::vector<Case> cases = {
        {"period as i32", T_I32, 5, [](TProtocol& p) { p.writeI32(30); },
            [w](const std::string& b) { return !decode<TBNGet2FACodeResponse>(b, w).periodIsSet(); }},
        {"records as set", T_SET, 2,
            [](TProtocol& p) {
                p.writeSetBegin(T_STRUCT, 1);
                TBNSiteData().write(&p);
                p.writeSetEnd();
            },
            [w](const std::string& b) {
                return !decode<TBNGetSiteDataListResponse>(b, w).recordsIsSet();
            }},
        {"error as string", T_STRING, 4, [](TProtocol& p) { p.writeString("x"); },
            [w](const std::string& b) { return !decode<TBNResponseInfo>(b, w).errorIsSet(); }},
        {"category as i64", T_I64, 1, [](TProtocol& p) { p.writeI64(4); },
            [w](const std::string& b) { return !decode<TBNError>(b, w).categoryIsSet(); }},
    };
    for (const auto& c : cases) {
        auto buffer = makeWriteBuffer();
        auto p = testing::protocolOn(buffer, w);
        p->writeStructBegin("X");
        p->writeFieldBegin("f", c.type, c.id);
        c.value(*p);
        p->writeFieldEnd();
        p->writeFieldStop();
        p->writeStructEnd();
        EXPECT_TRUE(c.stillUnset(buffer->getBufferAsString())) << c.name;
    }
}

TEST(StorageMessages, PausedErrorGoldenBytes) {
    TBNError paused(4, 16, "Service paused");
    auto expected = bytesOf({0x15, 0x08, 0x16, 0x20, 0x18, 14});
    expected += "Service paused";
    expected += '\0';
    EXPECT_EQ(encode(paused, Wire::Compact), expected);
}

TEST(StorageMessages, DescriptionsFollowDeclarationOrder) {
    EXPECT_EQ(TBNGetLoginDataRequest().description(),
        "TBNGetLoginDataRequest(info:(null),auth:(null),siteUrl:\"(null)\",domain:\"(null)\","
        "manual:0,login:\"(null)\")");
    EXPECT_EQ(TBNResponseInfo("a", 1, "b", std::make_shared<TBNError>(3, 7, "x"), "c")
                  .description(),
        "TBNResponseInfo(id:\"a\",timeStampUtc:1,requestId:\"b\","
        "error:TBNError(category:3,id:7,debugMessage:\"x\"),contextName:\"c\")");
    EXPECT_EQ(TBNAuthentication("id", "secret").description(),
        "TBNAuthentication(clientId:\"id\",clientSecret:\"secret\")");
    EXPECT_EQ(TBNget2FACode_args().description(), "TBNget2FACode_args(request:(null))");
    EXPECT_EQ(TBNGet2FACode_result(std::make_shared<TBNGet2FACodeResponse>()).description(),
        "TBNGet2FACode_result(success:TBNGet2FACodeResponse(info:(null),code:\"(null)\","
        "prevCode:\"(null)\",nextCode:\"(null)\",period:0,startTimestamp:0))");
    // The log-safe form keeps request ids but never the secret.
    auto summary = TBNGetLoginDataRequest(info(), auth(), "u", "d", false, "alice").summary();
    EXPECT_NE(summary.find("\"req-1\""), std::string::npos);
    EXPECT_EQ(summary.find("secret"), std::string::npos);
    EXPECT_EQ(summary.find("alice"), std::string::npos);
}

}  // namespace
}  // namespace lumvane
