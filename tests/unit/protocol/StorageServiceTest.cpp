// The storage-service client and processor: message framing, unknown methods, missing
// results and exception replies.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thrift/TApplicationException.h>
#include <thrift/transport/TVirtualTransport.h>

#include <cstring>

#include "WireHelpers.h"
#include "idl/protocols.h"

namespace lumvane {
namespace {

using apache::thrift::TApplicationException;
using namespace apache::thrift::protocol;
using testing::Wire;

class FakeStorage : public TBNStorageService {
public:
    std::shared_ptr<TBNGetLoginDataRequest> lastGetLogin;
    bool called = false;
    std::shared_ptr<TBNGetLoginDataResponse> getLoginAnswer;

    std::shared_ptr<TBNGetLoginDataResponse> getLoginData(
        std::shared_ptr<TBNGetLoginDataRequest> request) override {
        called = true;
        lastGetLogin = request;
        return getLoginAnswer;
    }
    std::shared_ptr<TBNAddLoginDataResponse> addLoginData(
        std::shared_ptr<TBNAddLoginDataRequest>) override {
        called = true;
        return nullptr;
    }
    std::shared_ptr<TBNDeleteLoginDataResponse> deleteLoginData(
        std::shared_ptr<TBNDeleteLoginDataRequest>) override {
        called = true;
        return nullptr;
    }
    std::shared_ptr<TBNUpdateLoginDataResponse> updateLoginData(
        std::shared_ptr<TBNUpdateLoginDataRequest>) override {
        called = true;
        return nullptr;
    }
    std::shared_ptr<TBNGetSiteDataResponse> getSiteData(
        std::shared_ptr<TBNGetSiteDataRequest> request) override {
        called = true;
        auto response = std::make_shared<TBNGetSiteDataResponse>();
        auto site = std::make_shared<TBNSiteData>();
        site->setSiteUrl(request && request->siteUrl() ? *request->siteUrl() : "none");
        response->setRecord(site);
        return response;
    }
    std::shared_ptr<TBNGetSiteDataListResponse> getSiteDataList(
        std::shared_ptr<TBNGetSiteDataListRequest>) override {
        called = true;
        return nullptr;
    }
    std::shared_ptr<TBNDeleteSiteDataResponse> deleteSiteData(
        std::shared_ptr<TBNDeleteSiteDataRequest>) override {
        called = true;
        return nullptr;
    }
    std::shared_ptr<TBNGet2FACodeResponse> get2FACode(
        std::shared_ptr<TBNGet2FACodeRequest>) override {
        called = true;
        throw std::runtime_error("handler failed");
    }
};

struct Reply {
    std::string name;
    TMessageType type;
    int32_t seqid;
    std::shared_ptr<apache::thrift::transport::TMemoryBuffer> buffer;
    std::shared_ptr<TProtocol> protocol;
};

class ProcessorTest : public ::testing::TestWithParam<Wire> {
protected:
    std::shared_ptr<FakeStorage> storage = std::make_shared<FakeStorage>();
    TBNStorageServiceProcessor processor{storage};

    // Builds one incoming message with `body` writing its argument struct.
    std::string message(const std::string& name, TMessageType type, int32_t seqid,
        const std::function<void(TProtocol&)>& body) {
        auto buffer = makeWriteBuffer();
        auto p = testing::protocolOn(buffer, GetParam());
        p->writeMessageBegin(name, type, seqid);
        body(*p);
        p->writeMessageEnd();
        return buffer->getBufferAsString();
    }

    // Runs the processor; returns the reply header and a protocol positioned after it.
    Reply serve(const std::string& bytes, size_t* leftUnread = nullptr) {
        auto in = makeReadBuffer(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        auto out = makeWriteBuffer();
        EXPECT_TRUE(processor.process(testing::protocolOn(in, GetParam()),
            testing::protocolOn(out, GetParam()), nullptr));
        if (leftUnread) *leftUnread = in->available_read();
        Reply reply;
        auto text = out->getBufferAsString();
        reply.buffer = makeReadBuffer(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        reply.protocol = testing::protocolOn(reply.buffer, GetParam());
        reply.protocol->readMessageBegin(reply.name, reply.type, reply.seqid);
        return reply;
    }

    static void argsWith(TProtocol& p, const apache::thrift::TBase& request) {
        p.writeStructBegin("args");
        p.writeFieldBegin("request", T_STRUCT, 1);
        request.write(&p);
        p.writeFieldEnd();
        p.writeFieldStop();
        p.writeStructEnd();
    }
};
INSTANTIATE_TEST_SUITE_P(Wires, ProcessorTest, ::testing::Values(Wire::Compact, Wire::Binary),
    [](const auto& info) { return std::string(testing::wireName(info.param)); });

TEST_P(ProcessorTest, UnknownMethodsGetAnExceptionReplyAndTheArgumentsAreConsumed) {
    for (const char* name : {"listLogins", "GetLoginData"}) {
        size_t unread = 99;
        auto reply = serve(message(name, T_CALL, 9,
                               [](TProtocol& p) { argsWith(p, TBNGetLoginDataRequest{}); }),
            &unread);
        EXPECT_EQ(reply.name, name);
        EXPECT_EQ(reply.type, T_EXCEPTION);
        EXPECT_EQ(reply.seqid, 9);
        TApplicationException x;
        x.read(reply.protocol.get());
        EXPECT_EQ(x.getType(), TApplicationException::UNKNOWN_METHOD);
        EXPECT_EQ(std::string(x.what()), std::string("Invalid method name: '") + name + "'");
        EXPECT_EQ(unread, 0u);
        EXPECT_FALSE(storage->called);
    }
}

TEST_P(ProcessorTest, AnyMessageTypeIsServedAsACallAndTheSequenceIdIsEchoed) {
    for (auto [type, seqid] : std::vector<std::pair<TMessageType, int32_t>>{
             {T_CALL, 0}, {T_ONEWAY, 17}, {T_REPLY, -5}}) {
        TBNGetSiteDataRequest request;
        request.setSiteUrl("https://a.example");
        auto reply = serve(message("getSiteData", type, seqid,
            [&](TProtocol& p) { argsWith(p, request); }));
        EXPECT_EQ(reply.name, "getSiteData");
        EXPECT_EQ(reply.type, T_REPLY);
        EXPECT_EQ(reply.seqid, seqid);
        TBNGetSiteData_result result;
        result.read(reply.protocol.get());
        ASSERT_TRUE(result.successIsSet());
        EXPECT_EQ(result.success()->record()->siteUrl(), "https://a.example");
    }
}

TEST_P(ProcessorTest, ArgumentsWithoutARequestStructReachTheHandlerAsNone) {
    const std::vector<std::function<void(TProtocol&)>> bodies = {
        [](TProtocol& p) {  // no field at all
            p.writeStructBegin("args");
            p.writeFieldStop();
            p.writeStructEnd();
        },
        [](TProtocol& p) {  // field 1 of the wrong type, plus an unknown field
            p.writeStructBegin("args");
            p.writeFieldBegin("request", T_STRING, 1);
            p.writeString("x");
            p.writeFieldEnd();
            p.writeFieldBegin("other", T_I32, 2);
            p.writeI32(1);
            p.writeFieldEnd();
            p.writeFieldStop();
            p.writeStructEnd();
        },
    };
    for (const auto& body : bodies) {
        storage->lastGetLogin = std::make_shared<TBNGetLoginDataRequest>();
        storage->getLoginAnswer = std::make_shared<TBNGetLoginDataResponse>();
        auto reply = serve(message("getLoginData", T_CALL, 1, body));
        EXPECT_EQ(reply.type, T_REPLY);
        EXPECT_EQ(storage->lastGetLogin, nullptr);
    }
}

TEST_P(ProcessorTest, HandlerFailureLeavesBeforeAnyReplyIsWritten) {
    auto in = message("get2FACode", T_CALL, 3,
        [](TProtocol& p) { argsWith(p, TBNGet2FACodeRequest{}); });
    auto inBuffer = makeReadBuffer(reinterpret_cast<const uint8_t*>(in.data()), in.size());
    auto out = makeWriteBuffer();
    EXPECT_THROW(processor.process(testing::protocolOn(inBuffer, GetParam()),
                     testing::protocolOn(out, GetParam()), nullptr),
        std::runtime_error);
    EXPECT_EQ(out->available_read(), 0u);
}

// A transport that hands every flushed call to a server function and reads its answer.
class LoopbackTransport
    : public apache::thrift::transport::TVirtualTransport<LoopbackTransport> {
public:
    explicit LoopbackTransport(std::function<std::string(const std::string&)> server)
        : server_(std::move(server)) {}
    void write(const uint8_t* buf, uint32_t len) {
        request_.append(reinterpret_cast<const char*>(buf), len);
    }
    void flush() override {
        reply_ = server_(request_);
        request_.clear();
        offset_ = 0;
    }
    uint32_t read(uint8_t* buf, uint32_t len) {
        uint32_t n = std::min<uint32_t>(len, static_cast<uint32_t>(reply_.size() - offset_));
        std::memcpy(buf, reply_.data() + offset_, n);
        offset_ += n;
        return n;
    }
    std::string lastRequest;

private:
    std::function<std::string(const std::string&)> server_;
    std::string request_;
    std::string reply_;
    size_t offset_ = 0;
};

class ClientTest : public ::testing::TestWithParam<Wire> {
protected:
    std::string seenCall;
    std::function<std::string(const std::string&)> answer;

    std::shared_ptr<TBNStorageServiceClient> client() {
        auto transport = std::make_shared<LoopbackTransport>([this](const std::string& call) {
            seenCall = call;
            return answer(call);
        });
        auto protocol = GetParam() == Wire::Compact ? makeCompactProtocol(transport)
                                                    : makeBinaryProtocol(transport);
        return std::make_shared<TBNStorageServiceClient>(protocol);
    }

    std::string replyMessage(const std::string& name, TMessageType type, int32_t seqid,
        const std::function<void(TProtocol&)>& body) {
        auto buffer = makeWriteBuffer();
        auto p = testing::protocolOn(buffer, GetParam());
        p->writeMessageBegin(name, type, seqid);
        body(*p);
        p->writeMessageEnd();
        return buffer->getBufferAsString();
    }
};
INSTANTIATE_TEST_SUITE_P(Wires, ClientTest, ::testing::Values(Wire::Compact, Wire::Binary),
    [](const auto& info) { return std::string(testing::wireName(info.param)); });

TEST_P(ClientTest, CallsCarrySequenceIdZeroAndRepliesAreNotMatchedToTheCall) {
    auto response = std::make_shared<TBNGetLoginDataResponse>();
    response->setData(std::make_shared<TBNLoginData>());
    response->data()->setLogin("alice");
    answer = [&](const std::string&) {
        // Another name and sequence id: read as the reply all the same.
        return replyMessage("somethingElse", T_REPLY, 77, [&](TProtocol& p) {
            TBNGetLoginData_result(response).write(&p);
        });
    };
    auto request = std::make_shared<TBNGetLoginDataRequest>();
    request->setLogin("alice");
    auto got = client()->getLoginData(request);
    ASSERT_NE(got, nullptr);
    EXPECT_TRUE(*got == *response);

    auto buffer = makeReadBuffer(reinterpret_cast<const uint8_t*>(seenCall.data()), seenCall.size());
    auto p = testing::protocolOn(buffer, GetParam());
    std::string name;
    TMessageType type;
    int32_t seqid = -1;
    p->readMessageBegin(name, type, seqid);
    EXPECT_EQ(name, "getLoginData");
    EXPECT_EQ(type, T_CALL);
    EXPECT_EQ(seqid, 0);
    TBNgetLoginData_args args;
    args.read(p.get());
    ASSERT_NE(args.request(), nullptr);
    EXPECT_TRUE(*args.request() == *request);
}

TEST_P(ClientTest, NullRequestWritesAnEmptyArgumentStruct) {
    answer = [&](const std::string& call) {
        auto b = makeReadBuffer(reinterpret_cast<const uint8_t*>(call.data()), call.size());
        auto p = testing::protocolOn(b, GetParam());
        std::string name;
        TMessageType type;
        int32_t seqid;
        p->readMessageBegin(name, type, seqid);
        EXPECT_TRUE(testing::fieldIds(call.substr(call.size() - b->available_read()),
                        GetParam())
                        .empty());
        return replyMessage("deleteSiteData", T_REPLY, 0, [](TProtocol& p) {
            TBNDeleteSiteData_result(std::make_shared<TBNDeleteSiteDataResponse>()).write(&p);
        });
    };
    EXPECT_NE(client()->deleteSiteData(nullptr), nullptr);
}

TEST_P(ClientTest, MissingResultRaisesTypeFiveWithTheMethodsText) {
    // Through the real processor with a handler that answers nothing.
    auto storage = std::make_shared<FakeStorage>();
    auto processor = std::make_shared<TBNStorageServiceProcessor>(storage);
    answer = [&](const std::string& call) {
        auto in = makeReadBuffer(reinterpret_cast<const uint8_t*>(call.data()), call.size());
        auto out = makeWriteBuffer();
        processor->process(testing::protocolOn(in, GetParam()), testing::protocolOn(out, GetParam()),
            nullptr);
        return out->getBufferAsString();
    };
    struct Case {
        const char* text;
        std::function<void(TBNStorageServiceClient&)> call;
    };
    const std::vector<Case> cases = {
        {"getLoginData failed: unknown result",
            [](auto& c) { c.getLoginData(std::make_shared<TBNGetLoginDataRequest>()); }},
        {"addLoginData failed: unknown result",
            [](auto& c) { c.addLoginData(std::make_shared<TBNAddLoginDataRequest>()); }},
        {"deleteLoginData failed: unknown result",
            [](auto& c) { c.deleteLoginData(nullptr); }},
        {"updateLoginData failed: unknown result",
            [](auto& c) { c.updateLoginData(nullptr); }},
        {"getSiteDataList failed: unknown result",
            [](auto& c) { c.getSiteDataList(nullptr); }},
        {"deleteSiteData failed: unknown result", [](auto& c) { c.deleteSiteData(nullptr); }},
    };
    for (const auto& c : cases) {
        try {
            c.call(*client());
            ADD_FAILURE() << c.text;
        } catch (const TApplicationException& x) {
            EXPECT_EQ(x.getType(), TApplicationException::MISSING_RESULT);
            EXPECT_STREQ(x.what(), c.text);
        }
    }
}

TEST_P(ClientTest, ExceptionReplyIsRaisedUnchangedAndUnknownResultFieldsSkipped) {
    answer = [&](const std::string&) {
        return replyMessage("getSiteData", T_EXCEPTION, 0, [](TProtocol& p) {
            TApplicationException(TApplicationException::INTERNAL_ERROR, "phone said no").write(&p);
        });
    };
    try {
        client()->getSiteData(std::make_shared<TBNGetSiteDataRequest>());
        ADD_FAILURE() << "no exception";
    } catch (const TApplicationException& x) {
        EXPECT_EQ(x.getType(), TApplicationException::INTERNAL_ERROR);
        EXPECT_STREQ(x.what(), "phone said no");
    }

    answer = [&](const std::string&) {
        return replyMessage("get2FACode", T_REPLY, 0, [](TProtocol& p) {
            p.writeStructBegin("Get2FACode_result");
            p.writeFieldBegin("stray", T_STRING, 3);
            p.writeString("x");
            p.writeFieldEnd();
            p.writeFieldBegin("success", T_I32, 0);  // wrong type: not a result
            p.writeI32(1);
            p.writeFieldEnd();
            p.writeFieldStop();
            p.writeStructEnd();
        });
    };
    EXPECT_THROW(client()->get2FACode(nullptr), TApplicationException);
}

}  // namespace
}  // namespace lumvane
