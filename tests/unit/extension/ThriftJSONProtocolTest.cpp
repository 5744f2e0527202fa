#include "extension/ThriftJSONProtocol.h"

#include <gtest/gtest.h>
#include <thrift/TApplicationException.h>
#include <thrift/transport/TBufferTransports.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "TBNHostStorageService.h"
#include "TBNStorageService.h"
#include "jsonwire_test_types.h"

namespace lumvane {
namespace {

using apache::thrift::TApplicationException;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::transport::TMemoryBuffer;
using namespace apache::thrift::protocol;
namespace wt = lumvane::wiretest;

std::string encode(const std::function<void(ThriftJSONProtocol&)>& write) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    ThriftJSONProtocol protocol(buffer);
    write(protocol);
    return buffer->getBufferAsString();
}

std::shared_ptr<ThriftJSONProtocol> reader(const std::string& text) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    buffer->write(reinterpret_cast<const uint8_t*>(text.data()),
                  static_cast<uint32_t>(text.size()));
    return std::make_shared<ThriftJSONProtocol>(buffer);
}

wt::TBNResponseInfo responseInfo(const std::string& id, int64_t ts, const std::string& requestId,
                                 const std::string& context) {
    wt::TBNResponseInfo info;
    info.__set_id(id);
    info.__set_timeStampUtc(ts);
    info.__set_requestId(requestId);
    info.__set_contextName(context);
    return info;
}

// The reply to deleteLoginData whose response carries only its info.
TEST(ThriftJSONProtocol, DeleteLoginDataReplyIsWrittenByteForByte) {
    wt::TBNStorageService_deleteLoginData_result result;
    wt::TBNDeleteLoginDataResponse response;
    response.__set_info(responseInfo("7", 42, "3", "x3"));
    result.success = response;
    result.__isset.success = true;
    std::string text = encode([&](ThriftJSONProtocol& p) {
        p.writeMessageBegin("deleteLoginData", T_REPLY, 0);
        result.write(&p);
        p.writeMessageEnd();
    });
    EXPECT_EQ(text, R"([1,"deleteLoginData",2,0,{"0":{"rec":{"1":{"rec":{"1":{"str":"7"},)"
                    R"("2":{"i64":42},"3":{"str":"3"},"5":{"str":"x3"}}}}}}])");

    // And a client reads it back into the same response.
    auto in = reader(text);
    wt::TBNStorageServiceClient client(in, in);
    wt::TBNDeleteLoginDataResponse got;
    client.recv_deleteLoginData(got);
    EXPECT_EQ(got, response);
}

struct WriteCase {
    const char* name;
    std::function<void(ThriftJSONProtocol&)> write;
    const char* expected;
};

void field(ThriftJSONProtocol& p, int16_t id, TType type, const std::function<void()>& value) {
    p.writeFieldBegin("ignored", type, id);
    value();
    p.writeFieldEnd();
}

TEST(ThriftJSONProtocol, WriterEdgeCases) {
    const WriteCase cases[] = {
        {"members sorted by field id whatever the write order",
         [](ThriftJSONProtocol& p) {
             p.writeStructBegin("R");
             for (int16_t id : {1, 2, 3, 6, 4, 5})
                 field(p, id, T_I32, [&] { p.writeI32(id * 10); });
             p.writeFieldStop();
             p.writeStructEnd();
         },
         R"({"1":{"i32":10},"2":{"i32":20},"3":{"i32":30},"4":{"i32":40},"5":{"i32":50},"6":{"i32":60}})"},
        {"record without fields",
         [](ThriftJSONProtocol& p) {
             p.writeStructBegin("R");
             p.writeFieldStop();
             p.writeStructEnd();
         },
         "{}"},
        {"a later write of the same field id replaces the earlier",
         [](ThriftJSONProtocol& p) {
             p.writeStructBegin("R");
             field(p, 2, T_STRING, [&] { p.writeString("old"); });
             field(p, 1, T_I32, [&] { p.writeI32(1); });
             field(p, 2, T_STRING, [&] { p.writeString("new"); });
             p.writeStructEnd();
         },
         R"({"1":{"i32":1},"2":{"str":"new"}})"},
        {"nested records are sorted each on its own",
         [](ThriftJSONProtocol& p) {
             p.writeStructBegin("R");
             field(p, 9, T_STRUCT, [&] {
                 p.writeStructBegin("S");
                 field(p, 2, T_BOOL, [&] { p.writeBool(true); });
                 field(p, 1, T_BOOL, [&] { p.writeBool(false); });
                 p.writeStructEnd();
             });
             field(p, 3, T_BYTE, [&] { p.writeByte(-1); });
             p.writeStructEnd();
         },
         R"({"3":{"i8":255},"9":{"rec":{"1":{"tf":0},"2":{"tf":1}}}})"},
        {"a list keeps its declared count",
         [](ThriftJSONProtocol& p) {
             p.writeListBegin(T_I32, 3);
             p.writeI32(1);
             p.writeI32(2);
             p.writeListEnd();
         },
         R"(["i32",3,1,2])"},
        {"a set of strings",
         [](ThriftJSONProtocol& p) {
             p.writeSetBegin(T_STRING, 2);
             p.writeString("a");
             p.writeString("b");
             p.writeSetEnd();
         },
         R"(["str",2,"a","b"])"},
        {"a map carries the pairs actually written, in write order",
         [](ThriftJSONProtocol& p) {
             p.writeMapBegin(T_STRING, T_I32, 7);
             p.writeString("b");
             p.writeI32(2);
             p.writeString("a");
             p.writeI32(1);
             p.writeMapEnd();
         },
         R"(["str","i32",2,{"b":2,"a":1}])"},
        {"number keys are quoted",
         [](ThriftJSONProtocol& p) {
             p.writeMapBegin(T_I64, T_STRUCT, 1);
             p.writeI64(5);
             p.writeStructBegin("E");
             field(p, 1, T_I32, [&] { p.writeI32(-3); });
             p.writeStructEnd();
             p.writeMapEnd();
         },
         R"(["i64","rec",1,{"5":{"1":{"i32":-3}}}])"},
        {"an empty map",
         [](ThriftJSONProtocol& p) {
             p.writeMapBegin(T_STRING, T_STRING, 0);
             p.writeMapEnd();
         },
         R"(["str","str",0,{}])"},
        {"integers of every width",
         [](ThriftJSONProtocol& p) {
             p.writeListBegin(T_I64, 6);
             p.writeI16(-32768);
             p.writeI32(2147483647);
             p.writeI64(1733874000123);
             p.writeI64(INT64_MIN);
             p.writeByte(127);
             p.writeByte(-128);
             p.writeListEnd();
         },
         R"(["i64",6,-32768,2147483647,1733874000123,-9223372036854775808,127,128])"},
        {"doubles: integral without fraction, others shortest",
         [](ThriftJSONProtocol& p) {
             p.writeListBegin(T_DOUBLE, 4);
             p.writeDouble(30.0);
             p.writeDouble(0.1);
             p.writeDouble(-2.5);
             p.writeDouble(1e21);
             p.writeListEnd();
         },
         R"(["dbl",4,30,0.1,-2.5,1e+21])"},
        {"strings escape quote, reverse solidus and control characters only",
         [](ThriftJSONProtocol& p) {
             p.writeString(std::string("a\"b\\c\nd\te/f\x01\x1f\0g", 15) + "\xc3\xa9\xe2\x82\xac");
         },
         "\"a\\\"b\\\\c\\nd\\te/f\\u0001\\u001f\\u0000g\xc3\xa9\xe2\x82\xac\""},
        {"binary that is UTF-8 is written as text",
         [](ThriftJSONProtocol& p) { p.writeBinary("raw \xf0\x9f\x94\x91"); },
         "\"raw \xf0\x9f\x94\x91\""},
        {"binary that is not UTF-8 becomes null",
         [](ThriftJSONProtocol& p) {
             p.writeListBegin(T_STRING, 3);
             p.writeBinary("\xff\xfe");
             p.writeString("\xc3");          // truncated sequence
             p.writeString("\xed\xa0\x80");  // surrogate
             p.writeListEnd();
         },
         R"(["str",3,null,null,null])"},
        {"a map key that is not UTF-8 stays a member name",
         [](ThriftJSONProtocol& p) {
             p.writeMapBegin(T_STRING, T_STRING, 1);
             p.writeString("\xff");
             p.writeString("\xfe");
             p.writeMapEnd();
         },
         R"(["str","str",1,{"":null}])"},
        {"a call message",
         [](ThriftJSONProtocol& p) {
             p.writeMessageBegin("sendPing", T_CALL, 17);
             p.writeStructBegin("args");
             field(p, 1, T_STRUCT, [&] {
                 p.writeStructBegin("req");
                 p.writeStructEnd();
             });
             p.writeStructEnd();
             p.writeMessageEnd();
         },
         R"([1,"sendPing",1,17,{"1":{"rec":{}}}])"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encode(c.write), c.expected) << c.name;
    }
}

TEST(ThriftJSONProtocol, NothingReachesTheTransportBeforeMessageEnd) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    ThriftJSONProtocol p(buffer);
    p.writeMessageBegin("m", T_CALL, 1);
    p.writeStructBegin("args");
    field(p, 1, T_STRING, [&] { p.writeString("x"); });
    p.writeStructEnd();
    EXPECT_EQ(buffer->available_read(), 0u);
    p.writeMessageEnd();
    EXPECT_EQ(buffer->getBufferAsString(), R"([1,"m",1,1,{"1":{"str":"x"}}])");
}

TEST(ThriftJSONProtocol, TypesWithoutWireNameCannotBeWritten) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    ThriftJSONProtocol p(buffer);
    p.writeStructBegin("R");
    EXPECT_THROW(p.writeFieldBegin("f", T_VOID, 1), TProtocolException);
    EXPECT_THROW(p.writeListBegin(T_UTF16, 0), TProtocolException);
    EXPECT_THROW(p.writeDouble(std::numeric_limits<double>::infinity()), TProtocolException);
}

TEST(ThriftJSONProtocol, EveryTypeRoundTrips) {
    wt::AllTypes all;
    all.__set_flag(false);
    all.__set_small(-1);
    all.__set_shortValue(-12345);
    all.__set_intValue(-2147483647 - 1);
    all.__set_longValue(4102444800123);
    all.__set_real(30.0);
    all.__set_text("quote \" back \\ line\nend \xc3\xa9");
    all.__set_raw("bytes \x01\x7f");
    all.__set_byName({{"one", 1}, {"two", 2}, {"", -1}});
    all.__set_byNumber({{-5, "minus"}, {0, "zero"}, {12, "twelve"}});
    all.__set_numbers({3, 1, 2});
    all.__set_names({"b", "a"});
    wt::TBNError err;
    err.__set_category(4);
    err.__set_id(16);
    err.__set_debugMessage("Service paused");
    all.__set_nested(err);
    all.__set_grid({{1, 2}, {}, {3}});
    all.__set_errors({{9000000000, err}, {-1, wt::TBNError()}});

    std::string text = encode([&](ThriftJSONProtocol& p) {
        p.writeMessageBegin("all", T_CALL, -7);
        all.write(&p);
        p.writeMessageEnd();
    });
    auto in = reader(text);
    std::string name;
    TMessageType type;
    int32_t seqid = 0;
    in->readMessageBegin(name, type, seqid);
    wt::AllTypes back;
    back.read(in.get());
    in->readMessageEnd();
    EXPECT_EQ(name, "all");
    EXPECT_EQ(type, T_CALL);
    EXPECT_EQ(seqid, -7);
    EXPECT_EQ(back, all) << text;
    EXPECT_NE(text.find(R"("2":{"i8":255})"), std::string::npos);
    EXPECT_NE(text.find(R"("6":{"dbl":30})"), std::string::npos);
    EXPECT_NE(text.find(R"("1":{"tf":0})"), std::string::npos);
}

struct ReadFailure {
    const char* name;
    std::string input;
    std::string reasonPrefix;
    TProtocolException::TProtocolExceptionType type;
};

TEST(ThriftJSONProtocol, UnreadableMessagesFailWithTheirReason) {
    using E = TProtocolException;
    const ReadFailure cases[] = {
        {"wrong version", R"([2,"m",1,0,{}])", "Wrong thrift protocol version: 2", E::INVALID_DATA},
        {"version as text", R"(["1","m",1,0,{}])", "Wrong thrift protocol version: 1",
         E::INVALID_DATA},
        {"not JSON", "hello", "Fialed json parsing: ", E::INVALID_DATA},
        {"empty input", "", "Fialed json parsing: ", E::INVALID_DATA},
        {"truncated", R"([1,"m",1,0,{"1":{"str":"x)", "Fialed json parsing: ", E::INVALID_DATA},
        {"trailing garbage", R"([1,"m",1,0,{}]x)", "Fialed json parsing: ", E::INVALID_DATA},
        {"invalid UTF-8", "[1,\"m\xff\",1,0,{}]", "Fialed json parsing: ", E::INVALID_DATA},
        {"lone surrogate escape", R"([1,"\ud800",1,0,{}])",
         "Fialed json parsing: ", E::INVALID_DATA},
        {"nesting beyond the limit", std::string(100000, '['),
         "Fialed json parsing: ", E::INVALID_DATA},
        {"top level not an array", R"({"1":1})", "Message is not an array", E::INVALID_DATA},
        {"fewer than five elements", R"([1,"m",1,0])", "Message has fewer than five elements",
         E::INVALID_DATA},
        {"name not a string", R"([1,5,1,0,{}])", "Message name is not a string", E::INVALID_DATA},
        {"message type outside call, reply, exception, one-way", R"([1,"m",11,0,{}])",
         "Invalid message type 11", E::INVALID_DATA},
        {"message type zero", R"([1,"m",0,0,{}])", "Invalid message type 0", E::INVALID_DATA},
    };
    for (const auto& c : cases) {
        auto in = reader(c.input);
        std::string name;
        TMessageType type;
        int32_t seqid;
        try {
            in->readMessageBegin(name, type, seqid);
            ADD_FAILURE() << c.name << ": no failure";
        } catch (const ThriftJSONProtocolException& e) {
            EXPECT_EQ(std::string(e.name()), "ThriftJSONProtocol");
            EXPECT_EQ(e.reason().rfind(c.reasonPrefix, 0), 0u) << c.name << ": " << e.reason();
            EXPECT_EQ(e.getType(), c.type) << c.name;
        }
    }
}

// Reads the arguments record of a call into an AllTypes through the generated reader.
wt::AllTypes readAllTypes(const std::string& record) {
    auto in = reader(R"([1,"m",1,0,)" + record + "]");
    std::string name;
    TMessageType type;
    int32_t seqid;
    in->readMessageBegin(name, type, seqid);
    wt::AllTypes all;
    all.read(in.get());
    return all;
}

TEST(ThriftJSONProtocol, ReaderWalksRecordsByFieldId) {
    // Members out of order in the text are read by ascending id.
    auto in = reader(R"([1,"m",1,0,{"3":{"i32":3},"1":{"i32":1},"2":{"i32":2}}])");
    std::string name;
    TMessageType type;
    int32_t seqid;
    in->readMessageBegin(name, type, seqid);
    in->readStructBegin(name);
    std::vector<int16_t> order;
    while (true) {
        TType ft;
        int16_t id;
        in->readFieldBegin(name, ft, id);
        if (ft == T_STOP) break;
        int32_t v;
        in->readI32(v);
        EXPECT_EQ(v, id);
        order.push_back(id);
        in->readFieldEnd();
    }
    in->readStructEnd();
    EXPECT_EQ(order, (std::vector<int16_t>{1, 2, 3}));

    // A type name outside the table ends its record; the enclosing record reads on.
    wt::AllTypes all = readAllTypes(
        R"({"13":{"rec":{"1":{"i32":4},"2":{"xyz":1},"3":{"str":"unread"}}},"4":{"i32":99}})");
    EXPECT_EQ(all.nested.category, 4);
    EXPECT_FALSE(all.nested.__isset.id);
    EXPECT_FALSE(all.nested.__isset.debugMessage);
    EXPECT_EQ(all.intValue, 99);

    // Unknown ids and fields of an unexpected type are skipped by the generated reader.
    all = readAllTypes(R"({"4":{"str":"x"},"77":{"lst":["rec",1,{"1":{"i32":1}}]},"5":{"i64":8}})");
    EXPECT_FALSE(all.__isset.intValue);
    EXPECT_EQ(all.longValue, 8);
}

TEST(ThriftJSONProtocol, ReaderScalarConversions) {
    struct Case {
        const char* record;
        std::function<void(const wt::AllTypes&)> check;
    };
    const Case cases[] = {
        {R"({"1":{"tf":2}})", [](const wt::AllTypes& a) { EXPECT_FALSE(a.flag); }},
        {R"({"1":{"tf":1}})", [](const wt::AllTypes& a) { EXPECT_TRUE(a.flag); }},
        {R"({"1":{"tf":true}})", [](const wt::AllTypes& a) { EXPECT_TRUE(a.flag); }},
        {R"({"1":{"tf":false}})", [](const wt::AllTypes& a) { EXPECT_FALSE(a.flag); }},
        {R"({"1":{"tf":257}})", [](const wt::AllTypes& a) { EXPECT_TRUE(a.flag); }},
        {R"({"2":{"i8":255}})", [](const wt::AllTypes& a) { EXPECT_EQ(a.small, -1); }},
        {R"({"2":{"i8":-1}})", [](const wt::AllTypes& a) { EXPECT_EQ(a.small, -1); }},
        {R"({"3":{"i16":65535}})", [](const wt::AllTypes& a) { EXPECT_EQ(a.shortValue, -1); }},
        {R"({"5":{"i64":9007199254740993}})",
         [](const wt::AllTypes& a) { EXPECT_EQ(a.longValue, 9007199254740993); }},
        {R"({"5":{"i64":2147483648}})",
         [](const wt::AllTypes& a) { EXPECT_EQ(a.longValue, 2147483648); }},
        {R"({"6":{"dbl":30}})", [](const wt::AllTypes& a) { EXPECT_EQ(a.real, 30.0); }},
        {R"({"6":{"dbl":1.5e3}})", [](const wt::AllTypes& a) { EXPECT_EQ(a.real, 1500.0); }},
        {R"({"7":{"str":"a\"b\\c\nd\u00e9\ud83d\udd11"}})",
         [](const wt::AllTypes& a) { EXPECT_EQ(a.text, "a\"b\\c\nd\xc3\xa9\xf0\x9f\x94\x91"); }},
        {R"({"7":{"str":null}})", [](const wt::AllTypes& a) { EXPECT_EQ(a.text, ""); }},
        {R"({"10":{"map":["i32","str",2,{"12":"b","-3":"a"}]}})",
         [](const wt::AllTypes& a) {
             EXPECT_EQ(a.byNumber, (std::map<int32_t, std::string>{{-3, "a"}, {12, "b"}}));
         }},
        {R"({"14":{"lst":["lst",2,["i32",1,7],["i32",0]]}})",
         [](const wt::AllTypes& a) {
             EXPECT_EQ(a.grid, (std::vector<std::vector<int32_t>>{{7}, {}}));
         }},
        // A list that announces fewer elements than it holds reads the announced ones.
        {R"({"11":{"lst":["i32",1,5,6]}})",
         [](const wt::AllTypes& a) { EXPECT_EQ(a.numbers, std::vector<int32_t>{5}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.record);
        c.check(readAllTypes(c.record));
    }
}

TEST(ThriftJSONProtocol, AnnouncedCountsNeverExceedWhatIsPresent) {
    const char* cases[] = {
        R"({"11":{"lst":["i32",2147483647,1]}})",
        R"({"11":{"lst":["i32",3,1,2]}})",
        R"({"11":{"lst":["i32",-1]}})",
        R"({"12":{"set":["str",1000000000]}})",
        R"({"9":{"map":["str","i32",1000000,{"a":1}]}})",
        R"({"9":{"map":["str","i32",-5,{}]}})",
        R"({"14":{"lst":["lst",1,["i32",99999999]]}})",
        R"({"11":{"lst":["i32"]}})",
        R"({"9":{"map":["str","i32",1]}})",
    };
    for (const char* record : cases) {
        EXPECT_THROW(readAllTypes(record), TProtocolException) << record;
    }
}

TEST(ThriftJSONProtocol, MalformedShapesAreErrorsNotCrashes) {
    const char* cases[] = {
        R"(5)",                       // record is a number
        R"({"1":5})",                 // field is not an object
        R"({"1":{"tf":1,"i8":2}})",   // field object of two members
        R"({"7":{"str":5}})",         // string read from a number
        R"({"4":{"i32":[1]}})",       // number read from an array
        R"({"4":{"i32":null}})",      // number read from null
        R"({"13":{"rec":[1]}})",      // record read from an array
        R"({"11":{"lst":{"a":1}}})",  // list read from an object
        R"({"9":{"map":["str","i32",1,[]]}})",
    };
    for (const char* record : cases) {
        EXPECT_THROW(readAllTypes(record), TProtocolException) << record;
    }
}

TEST(ThriftJSONProtocol, MessageSizeIsBounded) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    std::string text = R"([1,"m",1,0,{"7":{"str":")" + std::string(2000, 'a') + R"("}}])";
    buffer->write(reinterpret_cast<const uint8_t*>(text.data()),
                  static_cast<uint32_t>(text.size()));
    ThriftJSONProtocol small(buffer, 1000);
    std::string name;
    TMessageType type;
    int32_t seqid;
    try {
        small.readMessageBegin(name, type, seqid);
        ADD_FAILURE() << "no failure";
    } catch (const TProtocolException& e) {
        EXPECT_EQ(e.getType(), TProtocolException::SIZE_LIMIT);
    }
}

// A stream that hands out a few bytes per read and must not be read past the
// message: a socket or HTTP stream would block there waiting for the next one.
class TrickleTransport : public apache::thrift::transport::TTransport {
  public:
    explicit TrickleTransport(std::string data) : data_(std::move(data)) {}
    uint32_t read_virt(uint8_t* buf, uint32_t len) override {
        if (pos_ == data_.size()) {
            ADD_FAILURE() << "read past the end of the message";
            return 0;
        }
        uint32_t n = std::min<uint32_t>({len, 7u, static_cast<uint32_t>(data_.size() - pos_)});
        std::memcpy(buf, data_.data() + pos_, n);
        pos_ += n;
        return n;
    }

  private:
    std::string data_;
    size_t pos_ = 0;
};

TEST(ThriftJSONProtocol, StreamsAreReadUpToTheEndOfTheMessageOnly) {
    std::string text = R"([1,"m",2,0,{"7":{"str":"a]\"}[{"},"4":{"i32":5}}])";
    ThriftJSONProtocol in(std::make_shared<TrickleTransport>(text));
    std::string name;
    TMessageType type;
    int32_t seqid;
    in.readMessageBegin(name, type, seqid);
    wt::AllTypes all;
    all.read(&in);
    EXPECT_EQ(all.text, "a]\"}[{");
    EXPECT_EQ(all.intValue, 5);
}

class StorageHandler : public wt::TBNStorageServiceIf {
  public:
    void deleteLoginData(wt::TBNDeleteLoginDataResponse& out,
                         const wt::TBNDeleteLoginDataRequest& request) override {
        out.__set_info(responseInfo("1", 100, request.info.id, request.info.contextName));
    }
    void getSiteDataList(wt::TBNGetSiteDataListResponse& out,
                         const wt::TBNGetSiteDataListRequest& request) override {
        out.__set_info(responseInfo("2", 200, request.info.id, request.info.contextName));
        wt::TBNSiteData site;
        site.__set_siteUrl("https://example.com/login");
        site.__set_formUrls({"https://example.com/a", "https://example.com/b"});
        wt::TBNLoginData login;
        login.__set_login("alice");
        login.__set_password("cGFzcw==");
        login.__set_favorite(true);
        site.__set_loginData({login, login});
        out.__set_records({site});
    }
};

TEST(ThriftJSONProtocol, ClientAndProcessorTalkThroughTheEncoding) {
    wt::TBNStorageServiceProcessor processor(std::make_shared<StorageHandler>());
    auto request = std::make_shared<TMemoryBuffer>();
    auto reply = std::make_shared<TMemoryBuffer>();
    auto out = std::make_shared<ThriftJSONProtocol>(request);
    auto in = std::make_shared<ThriftJSONProtocol>(reply);
    wt::TBNStorageServiceClient client(in, out);

    wt::TBNGetSiteDataListRequest req;
    wt::TBNRequestInfo info;
    info.__set_id("41");
    info.__set_contextName("x9");
    req.__set_info(info);
    client.send_getSiteDataList(req);
    EXPECT_EQ(request->getBufferAsString(),
              R"([1,"getSiteDataList",1,0,{"1":{"rec":{"1":{"rec":{"1":{"str":"41"},)"
              R"("3":{"str":"x9"}}}}}}])");

    auto pin = std::make_shared<ThriftJSONProtocol>(request);
    auto pout = std::make_shared<ThriftJSONProtocol>(reply);
    ASSERT_TRUE(processor.process(pin, pout, nullptr));
    wt::TBNGetSiteDataListResponse got;
    client.recv_getSiteDataList(got);
    EXPECT_EQ(got.info.requestId, "41");
    ASSERT_EQ(got.records.size(), 1u);
    EXPECT_EQ(got.records[0].loginData.size(), 2u);
    EXPECT_TRUE(got.records[0].loginData[1].favorite);
    EXPECT_EQ(got.records[0].formUrls.size(), 2u);

    // A method the processor does not know is answered with an exception.
    auto unknown = reader(R"([1,"nope",1,5,{"1":{"rec":{}}}])");
    auto excOut = std::make_shared<TMemoryBuffer>();
    processor.process(unknown, std::make_shared<ThriftJSONProtocol>(excOut), nullptr);
    auto excIn = std::make_shared<ThriftJSONProtocol>(excOut);
    std::string name;
    TMessageType type;
    int32_t seqid;
    excIn->readMessageBegin(name, type, seqid);
    EXPECT_EQ(name, "nope");
    EXPECT_EQ(type, T_EXCEPTION);
    EXPECT_EQ(seqid, 5);
    TApplicationException x;
    x.read(excIn.get());
    EXPECT_EQ(x.getType(), TApplicationException::UNKNOWN_METHOD);
    EXPECT_STREQ(x.what(), "Invalid method name: 'nope'");
}

TEST(ThriftJSONProtocol, FactoryIsSharedAndMakesProtocolsOnTheTransport) {
    auto factory = ThriftJSONProtocolFactory::sharedFactory();
    EXPECT_EQ(factory, ThriftJSONProtocolFactory::sharedFactory());
    auto buffer = std::make_shared<TMemoryBuffer>();
    auto protocol = factory->getProtocol(buffer);
    ASSERT_NE(dynamic_cast<ThriftJSONProtocol*>(protocol.get()), nullptr);
    EXPECT_EQ(protocol->getTransport(), buffer);
}

}  // namespace
}  // namespace lumvane
