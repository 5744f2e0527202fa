// The storage service's asynchronous client against the storage processor over a memory
// transport whose completions the test runs by hand: every method round trips in both
// wire formats, and each way a call can fail reaches the failure callback only.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>

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
using apache::thrift::TBase;
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

// Records each call and answers with what the test put up for that method (none when
// nothing was put up).
struct FakeStorage : TBNStorageService {
    std::vector<std::string> calls;
    std::shared_ptr<TBase> lastRequest;
    std::map<std::string, std::shared_ptr<TBase>> answers;

    template <class Resp>
    std::shared_ptr<Resp> answer(const char* name, std::shared_ptr<TBase> request) {
        calls.push_back(name);
        lastRequest = std::move(request);
        auto it = answers.find(name);
        return it == answers.end() ? nullptr : std::static_pointer_cast<Resp>(it->second);
    }

#define LV_STORAGE(Resp, name, Req)                                         \
    std::shared_ptr<TBN##Resp> name(std::shared_ptr<TBN##Req> r) override { \
        return answer<TBN##Resp>(#name, std::move(r));                      \
    }
    LV_STORAGE(GetLoginDataResponse, getLoginData, GetLoginDataRequest)
    LV_STORAGE(AddLoginDataResponse, addLoginData, AddLoginDataRequest)
    LV_STORAGE(DeleteLoginDataResponse, deleteLoginData, DeleteLoginDataRequest)
    LV_STORAGE(UpdateLoginDataResponse, updateLoginData, UpdateLoginDataRequest)
    LV_STORAGE(GetSiteDataResponse, getSiteData, GetSiteDataRequest)
    LV_STORAGE(GetSiteDataListResponse, getSiteDataList, GetSiteDataListRequest)
    LV_STORAGE(DeleteSiteDataResponse, deleteSiteData, DeleteSiteDataRequest)
    LV_STORAGE(Get2FACodeResponse, get2FACode, Get2FACodeRequest)
#undef LV_STORAGE
};

// What one asynchronous call ended with.
struct Outcome {
    int responses = 0;
    int failures = 0;
    std::shared_ptr<TBase> response;
    int failureType = -1;  // application exception type, -2 for another exception
    std::string failureText;
};

using AsyncCall = std::function<void(TBNStorageServiceAsync&, std::shared_ptr<TBase>, Outcome&)>;

template <class Req, class Resp>
AsyncCall asyncCall(void (TBNStorageServiceAsync::*method)(
    std::shared_ptr<Req>, std::function<void(std::shared_ptr<Resp>)>, TBNAsyncFailure)) {
    return [method](TBNStorageServiceAsync& client, std::shared_ptr<TBase> request, Outcome& o) {
        (client.*method)(
            std::static_pointer_cast<Req>(request),
            [&o](std::shared_ptr<Resp> r) {
                ++o.responses;
                o.response = std::move(r);
            },
            [&o](const TException& e) {
                ++o.failures;
                o.failureText = e.what();
                auto* app = dynamic_cast<const TApplicationException*>(&e);
                o.failureType = app ? app->getType() : -2;
            });
    };
}

struct StorageCase {
    std::string name;
    std::shared_ptr<TBase> request;
    std::shared_ptr<TBase> response;
    AsyncCall call;
};

std::shared_ptr<TBNLoginData> sampleLogin() {
    auto login = std::make_shared<TBNLoginData>();
    login->setLogin("alice");
    login->setPassword("cGFzcw==");
    login->setIsLoginFinal(true);
    return login;
}

// One call per method, in the service's order, each request and response with fields set.
std::vector<StorageCase> storageCases() {
    using S = TBNStorageServiceAsync;
    const std::string url = "https://example.com/login";
    const std::string domain = "example.com";
    auto sites = std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>();
    sites->push_back(sampleSite("https://a.example"));
    sites->push_back(sampleSite("https://b.example"));
    auto info = [] { return sampleResponseInfo(); };
    return {
        {"getLoginData",
         std::make_shared<TBNGetLoginDataRequest>(sampleRequestInfo("1"), sampleAuth(), url, domain,
                                                  false, "alice"),
         std::make_shared<TBNGetLoginDataResponse>(info(), sampleLogin()),
         asyncCall(&S::getLoginData)},
        {"addLoginData",
         std::make_shared<TBNAddLoginDataRequest>(sampleRequestInfo("2"), sampleAuth(), url, domain,
                                                  sampleLogin(), true),
         std::make_shared<TBNAddLoginDataResponse>(info(), true), asyncCall(&S::addLoginData)},
        {"deleteLoginData",
         std::make_shared<TBNDeleteLoginDataRequest>(sampleRequestInfo("3"), sampleAuth(), url,
                                                     domain, "alice"),
         std::make_shared<TBNDeleteLoginDataResponse>(info()), asyncCall(&S::deleteLoginData)},
        {"updateLoginData",
         std::make_shared<TBNUpdateLoginDataRequest>(sampleRequestInfo("4"), sampleAuth(), url,
                                                     domain, sampleLogin(), "old-alice"),
         std::make_shared<TBNUpdateLoginDataResponse>(info()), asyncCall(&S::updateLoginData)},
        {"getSiteData",
         std::make_shared<TBNGetSiteDataRequest>(sampleRequestInfo("5"), sampleAuth(), url, domain,
                                                 true, false, true),
         std::make_shared<TBNGetSiteDataResponse>(info(), sampleSite(url)),
         asyncCall(&S::getSiteData)},
        {"getSiteDataList",
         std::make_shared<TBNGetSiteDataListRequest>(sampleRequestInfo("6"), sampleAuth(), true,
                                                     true),
         std::make_shared<TBNGetSiteDataListResponse>(info(), sites),
         asyncCall(&S::getSiteDataList)},
        {"deleteSiteData",
         std::make_shared<TBNDeleteSiteDataRequest>(sampleRequestInfo("7"), sampleAuth(), url,
                                                    domain),
         std::make_shared<TBNDeleteSiteDataResponse>(info()), asyncCall(&S::deleteSiteData)},
        {"get2FACode",
         std::make_shared<TBNGet2FACodeRequest>(sampleRequestInfo("8"), sampleAuth(), url, domain,
                                                "alice"),
         std::make_shared<TBNGet2FACodeResponse>(info(), "123456", "654321", "111111", 30,
                                                 1700000000),
         asyncCall(&S::get2FACode)},
    };
}

class StorageAsyncClient : public ::testing::TestWithParam<Wire> {
  protected:
    std::shared_ptr<TBNStorageServiceClientAsync> clientFor(AsyncMemoryTransport::Exchange e) {
        std::shared_ptr<apache::thrift::protocol::TProtocolFactory> factory;
        if (GetParam() == Wire::Compact) {
            factory = std::make_shared<LimitedCompactProtocolFactory>();
        } else {
            factory = std::make_shared<LimitedBinaryProtocolFactory>();
        }
        return std::make_shared<TBNStorageServiceClientAsync>(
            factory, std::make_shared<AsyncMemoryTransport>(std::move(e), executor.executor()));
    }
    std::shared_ptr<TBNStorageServiceClientAsync> clientForProcessor() {
        return clientFor(
            processorExchange(std::make_shared<TBNStorageServiceProcessor>(storage), GetParam()));
    }
    ManualExecutor executor;
    std::shared_ptr<FakeStorage> storage = std::make_shared<FakeStorage>();
};

TEST_P(StorageAsyncClient, EveryMethodRoundTripsThroughTheProcessor) {
    auto cases = storageCases();
    ASSERT_EQ(cases.size(), 8u);
    for (const auto& c : cases) storage->answers[c.name] = c.response;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto client = clientForProcessor();
        Outcome outcome;
        const size_t callsBefore = storage->calls.size();
        c.call(*client, c.request, outcome);
        EXPECT_EQ(storage->calls.size(), callsBefore) << "the call returns before the transport";
        std::weak_ptr<TBNStorageServiceClientAsync> weak = client;
        client.reset();
        EXPECT_FALSE(weak.expired()) << "the pending completion holds the client";
        executor.runAll();
        EXPECT_TRUE(weak.expired());
        ASSERT_EQ(storage->calls.size(), callsBefore + 1);
        EXPECT_EQ(storage->calls.back(), c.name);
        ASSERT_TRUE(storage->lastRequest);
        EXPECT_EQ(compactBytes(*storage->lastRequest), compactBytes(*c.request));
        EXPECT_EQ(outcome.failures, 0) << outcome.failureText;
        ASSERT_EQ(outcome.responses, 1);
        ASSERT_TRUE(outcome.response);
        EXPECT_EQ(compactBytes(*outcome.response), compactBytes(*c.response));
    }
}

// The processor answers a method whose implementation gave nothing with an empty result,
// which every method reports as its own missing result.
TEST_P(StorageAsyncClient, NoResponseIsEachMethodsMissingResult) {
    for (const auto& c : storageCases()) {
        SCOPED_TRACE(c.name);
        auto client = clientForProcessor();
        Outcome outcome;
        c.call(*client, nullptr, outcome);
        executor.runAll();
        EXPECT_EQ(storage->calls.back(), c.name);
        EXPECT_FALSE(storage->lastRequest) << "a call without request reaches it as none";
        EXPECT_EQ(outcome.responses, 0);
        EXPECT_EQ(outcome.failures, 1);
        EXPECT_EQ(outcome.failureType, TApplicationException::MISSING_RESULT);
        EXPECT_EQ(outcome.failureText, c.name + " failed: unknown result");
    }
}

TEST_P(StorageAsyncClient, ExceptionRepliesTransportFailuresAndBrokenRepliesAreFailures) {
    const auto cases = storageCases();
    const auto& getSiteData = cases[4];
    ASSERT_EQ(getSiteData.name, "getSiteData");
    struct FailureCase {
        const char* name;
        AsyncMemoryTransport::Exchange exchange;
        int type;
        std::string text;
    };
    const Wire wire = GetParam();
    const std::vector<FailureCase> failureCases = {
        {"exception reply",
         [wire](const std::string&) {
             auto out = makeWriteBuffer();
             auto p = protocolOn(wire, out);
             p->writeMessageBegin("getSiteData", apache::thrift::protocol::T_EXCEPTION, 0);
             TApplicationException(TApplicationException::INTERNAL_ERROR, "vault locked")
                 .write(p.get());
             p->writeMessageEnd();
             return out->getBufferAsString();
         },
         TApplicationException::INTERNAL_ERROR, "vault locked"},
        {"transport failure",
         [](const std::string&) -> std::string {
             throw TTransportException(TTransportException::NOT_OPEN, "main application gone");
         },
         -2, "main application gone"},
        {"empty reply", [](const std::string&) { return std::string(); }, -2, ""},
    };
    for (const auto& f : failureCases) {
        SCOPED_TRACE(f.name);
        auto client = clientFor(f.exchange);
        Outcome outcome;
        getSiteData.call(*client, getSiteData.request, outcome);
        EXPECT_EQ(outcome.failures, 0) << "nothing fails before the transport works";
        executor.runAll();
        EXPECT_EQ(outcome.responses, 0);
        EXPECT_EQ(outcome.failures, 1);
        EXPECT_EQ(outcome.failureType, f.type);
        if (!f.text.empty()) EXPECT_EQ(outcome.failureText, f.text);
    }

    // A response callback that raises the runtime's kind of failure hands it to the failure
    // callback of the same call.
    storage->answers["deleteSiteData"] = cases[6].response;
    auto client = clientForProcessor();
    int failures = 0;
    std::string text;
    client->deleteSiteData(
        std::static_pointer_cast<TBNDeleteSiteDataRequest>(cases[6].request),
        [](std::shared_ptr<TBNDeleteSiteDataResponse>) {
            throw TApplicationException(TApplicationException::UNKNOWN, "caller refused");
        },
        [&](const TException& e) {
            ++failures;
            text = e.what();
        });
    executor.runAll();
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(text, "caller refused");
}

INSTANTIATE_TEST_SUITE_P(Wires, StorageAsyncClient, ::testing::Values(Wire::Compact, Wire::Binary),
                         [](const auto& info) { return std::string(wireName(info.param)); });

}  // namespace
}  // namespace lumvane
