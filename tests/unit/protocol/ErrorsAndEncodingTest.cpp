// The error factory, the protocol constants, the password encoding and the read limits.
#include <gtest/gtest.h>
#include <thrift/Thrift.h>
#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TTransportException.h>
#include <thrift/transport/TVirtualTransport.h>

#include <algorithm>

#include "WireHelpers.h"
#include "protocol/PasswordEncoding.h"
#include "protocol/TBNErrors.h"

namespace lumvane {
namespace {

using namespace apache::thrift::protocol;
using apache::thrift::transport::TTransportException;
using testing::Wire;

TEST(Errors, CatalogueValues) {
    struct Case {
        const char* name;
        std::shared_ptr<TBNError> error;
        int32_t category;
        int64_t id;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"notAuthorized", TBNErrors::notAuthorized(), 1, 1, "Client not authorized"},
        {"requestCanceledByUser", TBNErrors::requestCanceledByUser(), 2, 3, "User canceled"},
        {"requestTimedOut", TBNErrors::requestTimedOut(), 2, 4, "User timeout"},
        {"deviceNotPaired", TBNErrors::deviceNotPaired(), 3, 5, "Device not paired"},
        {"deviceNotFound", TBNErrors::deviceNotFound(), 3, 7, "Device not available"},
        {"duplicatedAccount", TBNErrors::duplicatedAccount(), 4, 9, "Account duplicated"},
        {"paused", TBNErrors::paused(), 4, 16, "Service paused"},
        {"internalException", TBNErrors::internalException("abc"), 4, 10, "exception: abc"},
        {"internalException(std::exception)",
            TBNErrors::internalException(std::runtime_error("boom")), 4, 10, "exception: boom"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.error->categoryIsSet() && c.error->idIsSet() && c.error->debugMessageIsSet());
        EXPECT_EQ(c.error->category(), c.category);
        EXPECT_EQ(c.error->id(), c.id);
        EXPECT_EQ(c.error->debugMessage(), c.text);
    }
}

TEST(Errors, EachCallReturnsAFreshRecord) {
    auto a = TBNErrors::paused();
    auto b = TBNErrors::paused();
    EXPECT_NE(a.get(), b.get());
    EXPECT_TRUE(*a == *b);
    a->setId(99);
    EXPECT_EQ(b->id(), 16);
}

TEST(Constants, TextsAndFlagsWord) {
    EXPECT_EQ(TBNprotocolsConstants::EDM_CLIENT_BANED(), "Client baned");
    EXPECT_EQ(TBNprotocolsConstants::EDM_NOT_FOUND(), "Resource not found");
    EXPECT_EQ(TBNprotocolsConstants::EDM_DEVICE_NOT_FOUND(), "Device not found");
    EXPECT_EQ(TBNprotocolsConstants::EDM_METHOD_NOT_IMPLEMENTED(), "Method not implemented");

    using C = TBNprotocolsConstants;
    const int64_t word = 41;  // 32 + 8 + 1
    EXPECT_EQ(word & C::LOG_LEVEL_MASK(), C::LOG_LEVEL_INFO());
    EXPECT_NE(word & C::GA_MASK(), C::GA_ENABLED());
    EXPECT_EQ(word & C::EXTENDED_MODE_MASK(), C::EXTENDED_MODE_ENABLED());
    EXPECT_EQ(word & C::DEVICE_STATE_MASK(), C::DEVICE_STATE_DONTPAIRED());
    const int64_t zero = 0;
    EXPECT_EQ(zero & C::LOG_LEVEL_MASK(), C::LOG_LEVEL_OFF());
    EXPECT_EQ(zero & C::DEVICE_STATE_MASK(), C::DEVICE_STATE_ONLINE());
    EXPECT_EQ(C::DEVICE_STATE_OFFLINE(), 16);
    EXPECT_EQ(C::LOG_LEVEL_VERBOSE(), 3);
    EXPECT_EQ(C::LOG_LEVEL_DEBUG(), 2);
}

TEST(PasswordEncoding, Base64RoundTripAndRejects) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
        {"p\xC3\xA4ss w\xE2\x82\xAC", "cMOkc3Mgd+KCrA=="}};
    for (const auto& [plain, encoded] : table) {
        EXPECT_EQ(base64Encode(plain), encoded);
        EXPECT_EQ(base64Decode(encoded), plain);
    }
    for (const char* bad : {"Zg=", "Z===", "Zm9v!A==", "Zm 9", "=Zg="}) {
        EXPECT_EQ(base64Decode(bad), std::nullopt) << bad;
    }
}

TEST(PasswordEncoding, ConvertsEveryLoginOfTheMessagesInPlace) {
    auto makeLogin = [](std::optional<std::string> password) {
        auto l = std::make_shared<TBNLoginData>();
        l->setPassword(std::move(password));
        return l;
    };
    auto site = std::make_shared<TBNSiteData>();
    site->setLoginData(std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>(
        std::vector<std::shared_ptr<TBNLoginData>>{makeLogin("foo"), makeLogin(std::nullopt),
            std::make_shared<TBNLoginData>()}));
    TBNGetSiteDataListResponse list(nullptr,
        std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>(
            std::vector<std::shared_ptr<TBNSiteData>>{site, nullptr}));
    encodePasswords(list);
    EXPECT_EQ((*site->loginData())[0]->password(), "Zm9v");
    EXPECT_TRUE((*site->loginData())[1]->passwordIsSet());
    EXPECT_FALSE((*site->loginData())[1]->password().has_value());
    EXPECT_FALSE((*site->loginData())[2]->passwordIsSet());

    TBNGetLoginDataResponse one(nullptr, makeLogin("fo"));
    encodePasswords(one);
    EXPECT_EQ(one.data()->password(), "Zm8=");

    TBNAddLoginDataRequest add(nullptr, nullptr, "u", "d", makeLogin("Zm9v"), false);
    EXPECT_TRUE(decodePasswords(add));
    EXPECT_EQ(add.loginData()->password(), "foo");
    TBNUpdateLoginDataRequest update(nullptr, nullptr, "u", "d", makeLogin("not base64!"), "x");
    EXPECT_FALSE(decodePasswords(update));
    EXPECT_EQ(update.loginData()->password(), "not base64!");
}

class Limits : public ::testing::TestWithParam<Wire> {};
INSTANTIATE_TEST_SUITE_P(Wires, Limits, ::testing::Values(Wire::Compact, Wire::Binary),
    [](const auto& info) { return std::string(testing::wireName(info.param)); });

std::string listHeaderOnly(Wire wire, uint32_t count) {
    auto buffer = makeWriteBuffer();
    auto p = testing::protocolOn(buffer, wire);
    p->writeStructBegin("GetSiteDataListResponse");
    p->writeFieldBegin("records", T_LIST, 2);
    p->writeListBegin(T_STRUCT, count);
    p->writeStructBegin("SiteData");
    p->writeFieldStop();  // one element present, the rest missing
    return buffer->getBufferAsString();
}

TEST_P(Limits, AnnouncedCountsAboveTheBytesPresentAllocateNothingLarge) {
    // Under AddressSanitizer a reservation for the announced count would abort the test.
    auto bytes = listHeaderOnly(GetParam(), 1000000);
    EXPECT_THROW(testing::decode<TBNGetSiteDataListResponse>(bytes, GetParam()),
        TTransportException);
}

TEST(Limits, ReservationNeverExceedsTheUnreadBytes) {
    const std::string five(5, '\0');
    auto buffer = makeReadBuffer(reinterpret_cast<const uint8_t*>(five.data()), five.size());
    auto protocol = makeCompactProtocol(buffer);
    EXPECT_EQ(thriftsupport::boundedReserve(1000000, *protocol), 5u);
    EXPECT_EQ(thriftsupport::boundedReserve(3, *protocol), 3u);
    // A transport whose remaining size is unknown gets a small fixed reservation.
    auto framed = std::make_shared<apache::thrift::transport::TFramedTransport>(buffer);
    EXPECT_LE(thriftsupport::boundedReserve(1000000, *makeCompactProtocol(framed)), 64u);
}

TEST_P(Limits, ContainerStringAndMessageLimitsApply) {
    ProtocolLimits small;
    small.maxContainerSize = 10;
    small.maxStringSize = 8;
    small.maxMessageSize = 64;

    auto read = [&](const std::string& bytes) {
        auto buffer =
            makeReadBuffer(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), small);
        auto p = GetParam() == Wire::Compact ? makeCompactProtocol(buffer, small)
                                             : makeBinaryProtocol(buffer, small);
        TBNGetSiteDataListResponse r;
        r.read(p.get());
    };
    EXPECT_THROW(read(listHeaderOnly(GetParam(), 11)), TProtocolException);

    TBNGetSiteDataListResponse withLongId;
    withLongId.setInfo(std::make_shared<TBNResponseInfo>());
    withLongId.info()->setId("123456789");
    EXPECT_THROW(read(testing::encode(withLongId, GetParam())), TProtocolException);

    EXPECT_THROW(read(std::string(65, '\0')), TTransportException);
}

}  // namespace
}  // namespace lumvane

namespace lumvane {
namespace {

TEST(CheckedBinaryReader, RejectsTypeBytesOutsideTheKnownRange) {
    using testing::bytesOf;
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"field type", bytesOf({0x6b, 0x00, 0x01, 0x00})},
        // Unknown field 9 holding a struct whose inner field has type 0x80: found by skip.
        {"nested in a skipped struct", bytesOf({0x0c, 0x00, 0x09, 0x80, 0x00, 0x01, 0x00, 0x00})},
        {"list element type", bytesOf({0x0f, 0x00, 0x02, 0x7f, 0x00, 0x00, 0x00, 0x00, 0x00})},
    };
    for (const auto& [name, bytes] : cases) {
        EXPECT_THROW(testing::decode<TBNGetSiteDataListResponse>(bytes, Wire::Binary),
            TProtocolException)
            << name;
    }

    // A strict message header whose type byte is not CALL, REPLY, EXCEPTION or ONEWAY.
    auto header = bytesOf({0x80, 0x01, 0x00, 0x09, 0x00, 0x00, 0x00, 0x01, 'x', 0, 0, 0, 0});
    auto buffer = makeReadBuffer(reinterpret_cast<const uint8_t*>(header.data()), header.size());
    auto protocol = makeBinaryProtocol(buffer);
    std::string name;
    TMessageType type;
    int32_t seqid;
    EXPECT_THROW(protocol->readMessageBegin(name, type, seqid), TProtocolException);
}

}  // namespace
}  // namespace lumvane

namespace lumvane {
namespace {

// Transports that note the largest piece a reader asks them to fill: the reader holds a
// buffer of that size by then.
class NotingMemoryBuffer : public apache::thrift::transport::TMemoryBuffer {
  public:
    explicit NotingMemoryBuffer(const std::string& bytes)
        : TMemoryBuffer(reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data())),
                        static_cast<uint32_t>(bytes.size()), TMemoryBuffer::COPY) {}
    uint32_t readAll_virt(uint8_t* buf, uint32_t len) override {
        largest = std::max(largest, len);
        return TMemoryBuffer::readAll_virt(buf, len);
    }
    uint32_t largest = 0;
};

class NotingStream
    : public apache::thrift::transport::TVirtualTransport<NotingStream> {
  public:
    explicit NotingStream(std::string bytes) : bytes_(std::move(bytes)) {}
    uint32_t read(uint8_t* buf, uint32_t len) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(len, bytes_.size() - at_));
        std::copy_n(bytes_.data() + at_, n, buf);
        at_ += n;
        return n;
    }
    uint32_t readAll(uint8_t* buf, uint32_t len) {
        largest = std::max(largest, len);
        return apache::thrift::transport::readAll(*this, buf, len);
    }
    uint32_t largest = 0;

  private:
    std::string bytes_;
    size_t at_ = 0;
};

TEST(Limits, AnnouncedStringSizeIsNotAllocatedBeforeTheBytesArrive) {
    using testing::bytesOf;
    // 16 MiB announced, five bytes present: as the id of a response info, and as the name
    // of a message.
    const std::string five = "hello";
    struct Case {
        const char* name;
        Wire wire;
        bool message;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"binary field", Wire::Binary, false, bytesOf({0x0b, 0x00, 0x01, 0x01, 0, 0, 0}) + five},
        {"compact field", Wire::Compact, false, bytesOf({0x18, 0x80, 0x80, 0x80, 0x08}) + five},
        {"binary message name", Wire::Binary, true, bytesOf({0x80, 0x01, 0x00, 0x01, 0x01, 0, 0, 0}) + five},
        {"compact message name", Wire::Compact, true,
         bytesOf({0x82, 0x21, 0x01, 0x80, 0x80, 0x80, 0x08}) + five},
    };
    ProtocolLimits limits;  // the defaults: 32 MiB strings
    for (const auto& c : cases) {
        auto read = [&](const std::shared_ptr<apache::thrift::transport::TTransport>& transport) {
            auto protocol = c.wire == Wire::Compact ? makeCompactProtocol(transport, limits)
                                                    : makeBinaryProtocol(transport, limits);
            if (c.message) {
                std::string name;
                TMessageType type;
                int32_t seqid;
                protocol->readMessageBegin(name, type, seqid);
            } else {
                TBNResponseInfo info;
                info.read(protocol.get());
            }
        };
        auto memory = std::make_shared<NotingMemoryBuffer>(c.bytes);
        EXPECT_THROW(read(memory), TTransportException) << c.name;
        EXPECT_LE(memory->largest, c.bytes.size()) << c.name;
        auto stream = std::make_shared<NotingStream>(c.bytes);
        EXPECT_THROW(read(stream), TTransportException) << c.name;
        EXPECT_LE(stream->largest, 64u * 1024) << c.name;
    }
    // Strings that are all there still read, in pieces from a stream.
    TBNResponseInfo info;
    info.setId(std::string(200000, 'x'));
    const std::string bytes = testing::encode(info, Wire::Compact);
    auto stream = std::make_shared<NotingStream>(bytes);
    TBNResponseInfo back;
    back.read(makeCompactProtocol(stream, limits).get());
    EXPECT_EQ(back.id(), info.id());
}

TEST(ElementBudget, BoundsTheElementsOfOneMessageAcrossContainers) {
    // Two sets of 6: each fits a per-container limit, together they exceed a budget of 10.
    TBNAccountsCache cache;
    cache.setLoginsCache(std::make_shared<std::set<std::string>>());
    cache.setPasswordsCache(std::make_shared<std::set<std::string>>());
    for (int i = 0; i < 6; ++i) {
        cache.loginsCache()->insert("l" + std::to_string(i));
        cache.passwordsCache()->insert("p" + std::to_string(i));
    }
    const auto bytes = testing::encode(cache, Wire::Compact);
    {
        thriftsupport::ScopedElementBudget budget(10);
        EXPECT_THROW(testing::decode<TBNAccountsCache>(bytes, Wire::Compact), TProtocolException);
    }
    {
        thriftsupport::ScopedElementBudget budget(12);
        EXPECT_TRUE(testing::decode<TBNAccountsCache>(bytes, Wire::Compact) == cache);
    }
    // Outside any budget only the per-container limit applies.
    EXPECT_TRUE(testing::decode<TBNAccountsCache>(bytes, Wire::Compact) == cache);
}

TEST(ElementBudget, ClientRepliesAreBoundedByDefault) {
    // A reply of many one-byte empty sites would cost far more memory than bytes.
    const uint32_t count = thriftsupport::ScopedElementBudget::kDefaultPerMessage + 1;
    auto buffer = makeWriteBuffer();
    auto p = makeCompactProtocol(buffer);
    p->writeMessageBegin("getSiteDataList", T_REPLY, 0);
    p->writeStructBegin("GetSiteDataList_result");
    p->writeFieldBegin("success", T_STRUCT, 0);
    p->writeStructBegin("GetSiteDataListResponse");
    p->writeFieldBegin("records", T_LIST, 2);
    p->writeListBegin(T_STRUCT, count);
    for (uint32_t i = 0; i < count; ++i) TBNSiteData().write(p.get());
    p->writeListEnd();
    p->writeFieldEnd();
    p->writeFieldStop();
    p->writeStructEnd();
    p->writeFieldEnd();
    p->writeFieldStop();
    p->writeStructEnd();
    p->writeMessageEnd();
    const auto reply = buffer->getBufferAsString();

    auto in = makeReadBuffer(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
    TBNStorageServiceClient client(makeCompactProtocol(in), makeCompactProtocol(makeWriteBuffer()));
    try {
        client.recv_getSiteDataList();
        ADD_FAILURE() << "no limit";
    } catch (const TProtocolException& e) {
        EXPECT_EQ(e.getType(), TProtocolException::SIZE_LIMIT);
    }
}

}  // namespace
}  // namespace lumvane
