// The vault's own generated records, clients and processors through the JSON
// encoding and the loopback server, and the info records they carry.
#include <gtest/gtest.h>
#include <httplib.h>
#include <thrift/TApplicationException.h>
#include <thrift/transport/TBufferTransports.h>

#include <set>
#include <thread>

#include "extension/TBNProtocolHelper.h"
#include "extension/ThriftHTTPServer.h"
#include "extension/ThriftJSONProtocol.h"
#include "idl/protocols.h"

namespace lumvane {
namespace {

using apache::thrift::TApplicationException;
using apache::thrift::transport::TMemoryBuffer;

std::string textOf(const std::shared_ptr<TMemoryBuffer>& buffer) {
    return buffer->getBufferAsString();
}

TEST(GeneratedServicesOverJSON, DeleteLoginDataReplyIsWrittenByteForByte) {
    auto info = std::make_shared<TBNResponseInfo>("7", 42, "3", nullptr, "x3");
    TBNDeleteLoginData_result result(std::make_shared<TBNDeleteLoginDataResponse>(info));
    auto buffer = std::make_shared<TMemoryBuffer>();
    ThriftJSONProtocol p(buffer);
    p.writeMessageBegin("deleteLoginData", apache::thrift::protocol::T_REPLY, 0);
    result.write(&p);
    p.writeMessageEnd();
    EXPECT_EQ(textOf(buffer),
              R"([1,"deleteLoginData",2,0,{"0":{"rec":{"1":{"rec":{"1":{"str":"7"},)"
              R"("2":{"i64":42},"3":{"str":"3"},"5":{"str":"x3"}}}}}}])");
}

TEST(GeneratedServicesOverJSON, RecordWrittenOutOfIdOrderHasSortedMembers) {
    // Declared (and written) in the order 1, 2, 3, 6, 4, 5.
    TBNAddLoginDataRequest request;
    request.setInfo(std::make_shared<TBNRequestInfo>("1", 2, "x1"));
    request.setAuth(std::make_shared<TBNAuthentication>());
    request.setSiteUrl("https://example.com");
    request.setDomain("example.com");
    auto login = std::make_shared<TBNLoginData>();
    login->setLogin("alice");
    request.setLoginData(login);
    request.setIsSecured(false);
    auto buffer = std::make_shared<TMemoryBuffer>();
    ThriftJSONProtocol p(buffer);
    request.write(&p);
    EXPECT_EQ(textOf(buffer),
              R"({"1":{"rec":{"1":{"str":"1"},"2":{"i64":2},"3":{"str":"x1"}}},"2":{"rec":{}},)"
              R"("3":{"str":"https://example.com"},"4":{"rec":{"1":{"str":"alice"}}},)"
              R"("5":{"tf":0},"6":{"str":"example.com"}})");
}

class FakeStorage : public TBNStorageService {
  public:
    std::shared_ptr<TBNGetLoginDataResponse> getLoginData(
        std::shared_ptr<TBNGetLoginDataRequest>) override {
        return nullptr;
    }
    std::shared_ptr<TBNAddLoginDataResponse> addLoginData(
        std::shared_ptr<TBNAddLoginDataRequest>) override {
        return nullptr;
    }
    std::shared_ptr<TBNDeleteLoginDataResponse> deleteLoginData(
        std::shared_ptr<TBNDeleteLoginDataRequest> request) override {
        return std::make_shared<TBNDeleteLoginDataResponse>(
            helper.nextResponseForRequest(request->info()));
    }
    std::shared_ptr<TBNUpdateLoginDataResponse> updateLoginData(
        std::shared_ptr<TBNUpdateLoginDataRequest>) override {
        return nullptr;
    }
    std::shared_ptr<TBNGetSiteDataResponse> getSiteData(
        std::shared_ptr<TBNGetSiteDataRequest>) override {
        return nullptr;
    }
    std::shared_ptr<TBNGetSiteDataListResponse> getSiteDataList(
        std::shared_ptr<TBNGetSiteDataListRequest> request) override {
        auto sites = std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>();
        for (int i = 0; i < 3; ++i) {
            auto site = std::make_shared<TBNSiteData>();
            site->setSiteUrl("https://site" + std::to_string(i) + ".example/login");
            site->setDomain("site" + std::to_string(i) + ".example");
            site->setFormUrls(std::make_shared<std::set<std::string>>(
                std::set<std::string>{"https://a.example", "https://b.example"}));
            auto logins = std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>();
            auto login = std::make_shared<TBNLoginData>();
            login->setLogin("user\"" + std::to_string(i));
            login->setPassword("cGFzc3dvcmQ=");
            login->setIsFavorited(i % 2 == 1);
            login->setPasswordStrength(-1);
            login->setAccessCreateTimeStamp(1733874000123);
            logins->push_back(login);
            site->setLoginData(logins);
            sites->push_back(site);
        }
        return std::make_shared<TBNGetSiteDataListResponse>(
            helper.nextResponseForRequest(request->info()), sites);
    }
    std::shared_ptr<TBNDeleteSiteDataResponse> deleteSiteData(
        std::shared_ptr<TBNDeleteSiteDataRequest>) override {
        return nullptr;
    }
    std::shared_ptr<TBNGet2FACodeResponse> get2FACode(
        std::shared_ptr<TBNGet2FACodeRequest>) override {
        return nullptr;
    }

    TBNProtocolHelper helper{[] { return int64_t{1733874000}; }};
};

TEST(GeneratedServicesOverJSON, ClientAndProcessorRoundTrip) {
    auto handler = std::make_shared<FakeStorage>();
    TBNStorageServiceProcessor processor(handler);
    auto requestBuffer = std::make_shared<TMemoryBuffer>();
    auto replyBuffer = std::make_shared<TMemoryBuffer>();
    TBNStorageServiceClient client(std::make_shared<ThriftJSONProtocol>(replyBuffer),
                                   std::make_shared<ThriftJSONProtocol>(requestBuffer));
    TBNProtocolHelper helper([] { return int64_t{1733874000}; });

    auto request = std::make_shared<TBNGetSiteDataListRequest>();
    request->setInfo(helper.nextRequest());
    client.send_getSiteDataList(request);
    processor.process(std::make_shared<ThriftJSONProtocol>(requestBuffer),
                      std::make_shared<ThriftJSONProtocol>(replyBuffer), nullptr);
    std::string replyText = replyBuffer->getBufferAsString();
    auto reply = client.recv_getSiteDataList();
    ASSERT_NE(reply, nullptr);
    ASSERT_NE(reply->info(), nullptr);
    EXPECT_EQ(reply->info()->requestId(), "0");
    EXPECT_EQ(reply->info()->contextName(), "x0");
    ASSERT_NE(reply->records(), nullptr);
    auto expected = handler->getSiteDataList(request);
    expected->setInfo(reply->info());
    EXPECT_TRUE(*reply == *expected) << replyText;
    EXPECT_NE(replyText.find(R"("20":{"i16":-1})"), std::string::npos);
    EXPECT_NE(replyText.find(R"({"str":"user\"1"})"), std::string::npos);

    // A method that the processor does not know: its exception, read by the client
    // as the peer's application exception.
    auto bogus = std::make_shared<TMemoryBuffer>();
    std::string call = R"([1,"getLoginDatum",1,0,{"1":{"rec":{}}}])";
    bogus->write(reinterpret_cast<const uint8_t*>(call.data()), static_cast<uint32_t>(call.size()));
    auto excBuffer = std::make_shared<TMemoryBuffer>();
    processor.process(std::make_shared<ThriftJSONProtocol>(bogus),
                      std::make_shared<ThriftJSONProtocol>(excBuffer), nullptr);
    TBNStorageServiceClient excClient(std::make_shared<ThriftJSONProtocol>(excBuffer));
    try {
        excClient.recv_getLoginData();
        ADD_FAILURE() << "no exception";
    } catch (const TApplicationException& x) {
        EXPECT_EQ(x.getType(), TApplicationException::UNKNOWN_METHOD);
        EXPECT_STREQ(x.what(), "Invalid method name: 'getLoginDatum'");
    }
}

class FakeHost : public TBNHostStorageService {
  public:
    std::shared_ptr<TBNPongTestResponse> sendPing(
        std::shared_ptr<TBNPingTestRequest> request) override {
        return std::make_shared<TBNPongTestResponse>(
            TBNProtocolHelper::sharedHelper().nextResponseForRequest(request->info()), false, 32,
            std::nullopt);
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

TEST(GeneratedServicesOverJSON, ServerOffersStorageCallsPastTheHostProcessor) {
    auto factory = ThriftJSONProtocolFactory::sharedFactory();
    auto server = ThriftHTTPServer::initAsConcurrentWithPort(
        0, std::nullopt, factory,
        {std::make_shared<TBNHostStorageServiceProcessor>(std::make_shared<FakeHost>()),
         std::make_shared<TBNStorageServiceProcessor>(std::make_shared<FakeStorage>())});
    ASSERT_TRUE(server->isListening());

    auto callBuffer = std::make_shared<TMemoryBuffer>();
    auto request = std::make_shared<TBNDeleteLoginDataRequest>();
    request->setInfo(std::make_shared<TBNRequestInfo>("3", 5, "x3"));
    TBNStorageServiceClient(std::make_shared<ThriftJSONProtocol>(callBuffer))
        .send_deleteLoginData(request);

    httplib::Client http("127.0.0.1", server->port());
    auto res = http.Post("/thrift", callBuffer->getBufferAsString(), "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    // The handler's helper counts from 0 and stamps a fixed time.
    EXPECT_EQ(res->body, R"([1,"deleteLoginData",2,0,{"0":{"rec":{"1":{"rec":{"1":{"str":"0"},)"
                         R"("2":{"i64":1733874000},"3":{"str":"3"},"5":{"str":"x3"}}}}}}])");

    auto pingBuffer = std::make_shared<TMemoryBuffer>();
    auto ping = std::make_shared<TBNPingTestRequest>();
    ping->setInfo(std::make_shared<TBNRequestInfo>("8", 5, "x8"));
    TBNHostStorageServiceClient(std::make_shared<ThriftJSONProtocol>(pingBuffer))
        .send_sendPing(ping);
    res = http.Post("/thrift", pingBuffer->getBufferAsString(), "application/json");
    ASSERT_TRUE(res);
    auto replyBuffer = std::make_shared<TMemoryBuffer>();
    replyBuffer->write(reinterpret_cast<const uint8_t*>(res->body.data()),
                       static_cast<uint32_t>(res->body.size()));
    auto pong = TBNHostStorageServiceClient(std::make_shared<ThriftJSONProtocol>(replyBuffer))
                    .recv_sendPing();
    ASSERT_NE(pong, nullptr);
    EXPECT_EQ(pong->flags(), 32);
    EXPECT_EQ(pong->info()->requestId(), "8");
}

TEST(TBNProtocolHelper, InfoRecordsCountFromZero) {
    int64_t now = 1700000000;
    TBNProtocolHelper helper([&] { return now; });
    auto first = helper.nextRequest();
    now += 3;
    auto second = helper.nextRequest();
    EXPECT_EQ(first->id(), "0");
    EXPECT_EQ(first->contextName(), "x0");
    EXPECT_EQ(first->timeStampUtc(), 1700000000);
    EXPECT_EQ(second->id(), "1");
    EXPECT_EQ(second->contextName(), "x1");
    EXPECT_EQ(second->timeStampUtc(), 1700000003);

    auto error = std::make_shared<TBNError>(4, 16, "Service paused");
    auto response = helper.nextResponseForRequest(second, error);
    EXPECT_EQ(response->id(), "0");
    EXPECT_EQ(response->requestId(), "1");
    EXPECT_EQ(response->contextName(), "x1");
    EXPECT_EQ(response->timeStampUtc(), 1700000003);
    EXPECT_EQ(response->error(), error);

    // Without a request: no request id, no context name (and none on the wire).
    auto orphan = helper.nextResponseForRequest(nullptr);
    EXPECT_EQ(orphan->id(), "1");
    EXPECT_FALSE(orphan->requestId().has_value());
    EXPECT_FALSE(orphan->contextName().has_value());
    auto buffer = std::make_shared<TMemoryBuffer>();
    ThriftJSONProtocol p(buffer);
    orphan->write(&p);
    EXPECT_EQ(buffer->getBufferAsString(), R"({"1":{"str":"1"},"2":{"i64":1700000003}})");

    helper.setNextRequestId(41);
    helper.setNextContextId(7);
    auto later = helper.nextRequest();
    EXPECT_EQ(later->id(), "41");
    EXPECT_EQ(later->contextName(), "x7");
    EXPECT_EQ(helper.nextResponceId(), 2u);
}

TEST(TBNProtocolHelper, ConcurrentCallersNeverShareAnId) {
    TBNProtocolHelper helper([] { return int64_t{0}; });
    constexpr int kThreads = 8;
    constexpr int kEach = 500;
    std::vector<std::vector<std::string>> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                auto request = helper.nextRequest();
                ids[t].push_back(*request->id() + "/" +
                                 *helper.nextResponseForRequest(request)->id());
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<std::string> requestIds, responseIds;
    for (const auto& list : ids) {
        for (const auto& pair : list) {
            requestIds.insert(pair.substr(0, pair.find('/')));
            responseIds.insert(pair.substr(pair.find('/') + 1));
        }
    }
    EXPECT_EQ(requestIds.size(), size_t{kThreads * kEach});
    EXPECT_EQ(responseIds.size(), size_t{kThreads * kEach});
    EXPECT_EQ(helper.nextContextId(), uint64_t{kThreads * kEach});
}

}  // namespace
}  // namespace lumvane
