// The asynchronous clients over a memory transport whose callbacks the test runs by
// hand, standing in for a transport thread.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include <thrift/TApplicationException.h>
#include <thrift/transport/TTransportException.h>

#include "ServiceTestSupport.h"
#include "protocol/services/ProtocolFactories.h"
#include "protocol/services/ServiceAsync.h"
#include "protocol/services/SiteDataPayload.h"

namespace lumvane {
namespace {

using namespace lumvane::testing;
using apache::thrift::TApplicationException;
using apache::thrift::TException;
using apache::thrift::transport::TTransportException;

struct ManualExecutor {
    std::deque<std::function<void()>> pending;
    AsyncMemoryTransport::Executor executor() {
        return [this](std::function<void()> work) { pending.push_back(std::move(work)); };
    }
    void runAll() {
        while (!pending.empty()) {
            auto work = std::move(pending.front());
            pending.pop_front();
            work();
        }
    }
};

std::string replyWith(const char* name, apache::thrift::protocol::TMessageType type,
                      const std::function<void(apache::thrift::protocol::TProtocol&)>& body) {
    auto out = makeWriteBuffer();
    auto p = makeCompactProtocol(out);
    p->writeMessageBegin(name, type, 0);
    body(*p);
    p->writeMessageEnd();
    return out->getBufferAsString();
}

struct Outcome {
    int responses = 0;
    int failures = 0;
    std::shared_ptr<TBNGetBackUpResponse> response;
    int failureType = -1;  // application exception type, -2 for another exception
    std::string failureText;

    TBNAsyncFailure failure() {
        return [this](const TException& e) {
            ++failures;
            failureText = e.what();
            if (auto* app = dynamic_cast<const TApplicationException*>(&e)) {
                failureType = app->getType();
            } else {
                failureType = -2;
            }
        };
    }
};

class AsyncClient : public ::testing::Test {
  protected:
    std::shared_ptr<TBNMobileStorageServiceClientAsync> clientFor(
        AsyncMemoryTransport::Exchange exchange, const ProtocolLimits& limits = {}) {
        transport = std::make_shared<AsyncMemoryTransport>(std::move(exchange), executor.executor(),
                                                           limits);
        return std::make_shared<TBNMobileStorageServiceClientAsync>(
            std::make_shared<LimitedCompactProtocolFactory>(), transport);
    }
    ManualExecutor executor;
    std::shared_ptr<AsyncMemoryTransport> transport;
    Outcome outcome;
};

TEST_F(AsyncClient, ReplyReachesResponseCallbackOnTheTransportsTurn) {
    TBNGetBackUpResponse answer(sampleResponseInfo(), bytes("backup"), 1600000000);
    int exchanges = 0;
    auto client = clientFor([&](const std::string& call) {
        ++exchanges;
        EXPECT_NE(call.find("getBackUp"), std::string::npos);
        return replyWith("getBackUp", apache::thrift::protocol::T_REPLY, [&](auto& p) {
            TBNGetBackUp_result result;
            result.setSuccess(std::make_shared<TBNGetBackUpResponse>(answer));
            result.write(&p);
        });
    });
    client->getBackUp(
        std::make_shared<TBNGetBackUpRequest>(sampleRequestInfo(), sampleAuth(), 5),
        [&](std::shared_ptr<TBNGetBackUpResponse> r) {
            ++outcome.responses;
            outcome.response = std::move(r);
        },
        outcome.failure());
    EXPECT_EQ(exchanges, 0) << "the call returns before the transport works";
    // The client stays alive through the pending completion.
    std::weak_ptr<TBNMobileStorageServiceClientAsync> weak = client;
    client.reset();
    EXPECT_FALSE(weak.expired());
    executor.runAll();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(exchanges, 1);
    EXPECT_EQ(outcome.failures, 0);
    ASSERT_EQ(outcome.responses, 1);
    ASSERT_TRUE(outcome.response);
    // (The sample info carries a set-but-null error, which the wire cannot carry.)
    EXPECT_EQ(compactBytes(*outcome.response), compactBytes(answer));
}

TEST_F(AsyncClient, ExceptionReplyGoesToFailureOnly) {
    auto client = clientFor([](const std::string&) {
        return replyWith("getBackUp", apache::thrift::protocol::T_EXCEPTION, [](auto& p) {
            TApplicationException(TApplicationException::INTERNAL_ERROR, "locked").write(&p);
        });
    });
    client->getBackUp(
        std::make_shared<TBNGetBackUpRequest>(),
        [&](std::shared_ptr<TBNGetBackUpResponse>) { ++outcome.responses; }, outcome.failure());
    executor.runAll();
    EXPECT_EQ(outcome.responses, 0);
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.failureType, TApplicationException::INTERNAL_ERROR);
    EXPECT_EQ(outcome.failureText, "locked");
}

TEST_F(AsyncClient, MissingResultAndEmptyReplyAreFailures) {
    auto client = clientFor([](const std::string&) {
        return replyWith("getBackUp", apache::thrift::protocol::T_REPLY, [](auto& p) {
            p.writeStructBegin("GetBackUp_result");
            p.writeFieldStop();
            p.writeStructEnd();
        });
    });
    client->getBackUp(
        nullptr, [&](auto) { ++outcome.responses; }, outcome.failure());
    executor.runAll();
    EXPECT_EQ(outcome.responses, 0);
    EXPECT_EQ(outcome.failureType, TApplicationException::MISSING_RESULT);
    EXPECT_EQ(outcome.failureText, "getBackUp failed: unknown result");

    Outcome empty;
    auto silent = clientFor([](const std::string&) { return std::string(); });
    silent->getSitesCache(
        nullptr, [&](auto) { ++empty.responses; }, empty.failure());
    executor.runAll();
    EXPECT_EQ(empty.responses, 0);
    EXPECT_EQ(empty.failures, 1);
    EXPECT_EQ(empty.failureType, -2);
}

TEST_F(AsyncClient, VoidMethodCallsResponseWithoutArgumentWhateverTheBody) {
    auto client = clientFor([](const std::string&) {
        return replyWith("setBackUp", apache::thrift::protocol::T_REPLY, [](auto& p) {
            p.writeStructBegin("SetBackUp_result");
            p.writeFieldBegin("x", apache::thrift::protocol::T_STRING, 3);
            p.writeString("ignored");
            p.writeFieldEnd();
            p.writeFieldStop();
            p.writeStructEnd();
        });
    });
    client->setBackUp(
        std::make_shared<TBNSetBackUp>(), [&] { ++outcome.responses; }, outcome.failure());
    executor.runAll();
    EXPECT_EQ(outcome.responses, 1);
    EXPECT_EQ(outcome.failures, 0);
}

TEST_F(AsyncClient, TransportAndWriteFailuresReachFailure) {
    auto broken = clientFor([](const std::string&) -> std::string {
        throw TTransportException(TTransportException::TIMED_OUT, "phone gone");
    });
    broken->getUrlToOpen(
        nullptr, [&](auto) { ++outcome.responses; }, outcome.failure());
    executor.runAll();
    EXPECT_EQ(outcome.responses, 0);
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.failureText, "phone gone");

    // A call too large for the transport fails while writing: nothing is flushed.
    Outcome tooBig;
    ProtocolLimits tiny;
    tiny.maxMessageSize = 64;
    int exchanges = 0;
    auto small = clientFor(
        [&](const std::string&) {
            ++exchanges;
            return std::string();
        },
        tiny);
    small->sendPassword(
        std::make_shared<TBNSendPasswordRequest>(sampleRequestInfo(), sampleAuth(),
                                                 std::string(200, 'x')),
        [&](auto) { ++tooBig.responses; }, tooBig.failure());
    EXPECT_EQ(tooBig.failures, 1) << "reported on the calling thread";
    EXPECT_TRUE(executor.pending.empty());
    executor.runAll();
    EXPECT_EQ(exchanges, 0);
    EXPECT_EQ(tooBig.responses, 0);
}

TEST_F(AsyncClient, ResponseCallbackExceptionGoesToFailure) {
    auto client = clientFor([](const std::string&) {
        return replyWith("setBackUpResult", apache::thrift::protocol::T_REPLY, [](auto& p) {
            p.writeStructBegin("SetBackUpResult_result");
            p.writeFieldStop();
            p.writeStructEnd();
        });
    });
    client->setBackUpResult(
        nullptr, [] { throw TApplicationException(TApplicationException::UNKNOWN, "in A"); },
        outcome.failure());
    executor.runAll();
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.failureText, "in A");
}

// The host-storage and logging clients against their processors.
struct Host : TBNHostStorageService {
    std::shared_ptr<TBNPongTestResponse> sendPing(std::shared_ptr<TBNPingTestRequest> r) override {
        return std::make_shared<TBNPongTestResponse>(
            sampleResponseInfo(), true, 48, r && r->appIdentifier() ? *r->appIdentifier() : "none");
    }
    std::shared_ptr<TBNChooseSiteDataResponse> chooseSiteData(
        std::shared_ptr<TBNChooseSiteDataRequest>) override {
        return nullptr;
    }
    std::shared_ptr<TBNImportSiteDataFromGoogleResponse> importSiteDataFromGoogle(
        std::shared_ptr<TBNImportSiteDataFromGoogleRequest>) override {
        return nullptr;
    }
    std::shared_ptr<TBNGeneratePasswordResponse> generatePassword(
        std::shared_ptr<TBNGeneratePasswordRequest>) override {
        return nullptr;
    }
};
struct Logging : TBNLoggingService {
    int calls = 0;
    void sendLog(std::shared_ptr<TBNLogMessage>) override { ++calls; }
};

TEST(AsyncClients, HostAndLoggingClientsTalkToTheirProcessors) {
    ManualExecutor executor;
    auto factory = std::make_shared<LimitedBinaryProtocolFactory>();
    auto host = std::make_shared<TBNHostStorageServiceClientAsync>(
        factory, std::make_shared<AsyncMemoryTransport>(
                     processorExchange(
                         std::make_shared<TBNHostStorageServiceProcessor>(std::make_shared<Host>()),
                         Wire::Binary),
                     executor.executor()));
    std::shared_ptr<TBNPongTestResponse> pong;
    host->sendPing(
        std::make_shared<TBNPingTestRequest>(sampleRequestInfo(), sampleAuth(), "ext", "1"),
        [&](std::shared_ptr<TBNPongTestResponse> r) { pong = std::move(r); },
        [](const TException& e) { ADD_FAILURE() << e.what(); });
    executor.runAll();
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->flags(), 48);
    EXPECT_EQ(pong->clientSecret(), "ext");

    int missing = 0;
    host->chooseSiteData(
        nullptr, [](auto) { ADD_FAILURE(); },
        [&](const TException& e) {
            ++missing;
            EXPECT_STREQ(e.what(), "chooseSiteData failed: unknown result");
        });
    executor.runAll();
    EXPECT_EQ(missing, 1);

    auto handler = std::make_shared<Logging>();
    auto logging = std::make_shared<TBNLoggingServiceClientAsync>(
        factory,
        std::make_shared<AsyncMemoryTransport>(
            processorExchange(std::make_shared<TBNLoggingServiceProcessor>(handler), Wire::Binary),
            executor.executor()));
    int done = 0;
    logging->sendLog(
        std::make_shared<TBNLogMessage>(), [&] { ++done; },
        [](const TException& e) { ADD_FAILURE() << e.what(); });
    executor.runAll();
    EXPECT_EQ(done, 1);
    EXPECT_EQ(handler->calls, 1);
}

}  // namespace
}  // namespace lumvane
