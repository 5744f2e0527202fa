// Every method of the three services: our client drives our processor over memory, in
// the compact and the binary protocol, and the handler sees exactly the request that was
// sent while the caller gets exactly the response the handler gave.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <vector>

#include <thrift/TApplicationException.h>

#include "ServiceTestSupport.h"
#include "protocol/services/SiteDataPayload.h"

namespace lumvane {
namespace {

using namespace lumvane::testing;
using apache::thrift::TApplicationException;
using apache::thrift::TBase;

// A handler that records each call and answers with whatever the test put up.
struct Recorder {
    std::vector<std::string> calls;
    std::shared_ptr<TBase> lastRequest;
    std::shared_ptr<TBase> nextResponse;

    template <class Resp>
    std::shared_ptr<Resp> answer(const char* name, std::shared_ptr<TBase> request) {
        calls.push_back(name);
        lastRequest = std::move(request);
        return std::static_pointer_cast<Resp>(nextResponse);
    }
};

#define LV_FAKE(Resp, name, Req)                                            \
    std::shared_ptr<TBN##Resp> name(std::shared_ptr<TBN##Req> r) override { \
        return rec.answer<TBN##Resp>(#name, std::move(r));                  \
    }
#define LV_FAKE_VOID(name, Req)                       \
    void name(std::shared_ptr<TBN##Req> r) override { \
        rec.answer<TBase>(#name, std::move(r));       \
    }

struct FakeMobile : TBNMobileStorageService {
    Recorder rec;
    LV_FAKE(ApproveClientResponse, approveClient, ApproveClientRequest)
    LV_FAKE(UpdateInfoResponse, updateInfo, UpdateInfoRequest)
    LV_FAKE(GetSitesCacheResponse, getSitesCache, GetSitesCacheRequest)
    LV_FAKE(GetAccountsCacheResponse, getAccountsCache, GetAccountsCacheRequest)
    LV_FAKE(GetBackUpResponse, getBackUp, GetBackUpRequest)
    LV_FAKE_VOID(setBackUpResult, SetBackUpResult)
    LV_FAKE_VOID(setBackUp, SetBackUp)
    LV_FAKE(SendPasswordResponse, sendPassword, SendPasswordRequest)
    LV_FAKE(LoadDataForClipboardResponse, loadDataForClipboard, LoadDataForClipboardRequest)
    LV_FAKE(GetUrlToOpenResponce, getUrlToOpen, GetUrlToOpenRequest)
    LV_FAKE(RequestForImportSiteDataResponse, requestForImportSiteData,
            RequestForImportSiteDataRequest)
    LV_FAKE(ImportSiteDataResponse, importSiteData, ImportSiteDataRequest)
    LV_FAKE(RequestForExportSiteDataResponse, requestForExportSiteData,
            RequestForExportSiteDataRequest)
    LV_FAKE(ExportSiteDataResponse, exportSiteData, ExportSiteDataRequest)
    LV_FAKE(RegisterYubikeyResponse, registerYubikey, RegisterYubikeyRequest)
    LV_FAKE(AuthenticationYubikeyResponse, authenticationYubikey, AuthenticationYubikeyRequest)
};

struct FakeHost : TBNHostStorageService {
    Recorder rec;
    LV_FAKE(PongTestResponse, sendPing, PingTestRequest)
    LV_FAKE(ChooseSiteDataResponse, chooseSiteData, ChooseSiteDataRequest)
    LV_FAKE(ImportSiteDataFromGoogleResponse, importSiteDataFromGoogle,
            ImportSiteDataFromGoogleRequest)
    LV_FAKE(GeneratePasswordResponse, generatePassword, GeneratePasswordRequest)
};

struct FakeLogging : TBNLoggingService {
    Recorder rec;
    LV_FAKE_VOID(sendLog, LogMessage)
};

// One method: what the test sends, what the handler answers, how the client calls it.
struct MethodCase {
    std::string name;
    std::shared_ptr<TBase> request;
    std::shared_ptr<TBase> response;  // null for a method that returns nothing
    std::function<std::shared_ptr<TBase>(std::shared_ptr<TBase>)> call;
};

template <class Client, class Req, class Resp>
std::function<std::shared_ptr<TBase>(std::shared_ptr<TBase>)> caller(
    Client& client, std::shared_ptr<Resp> (Client::*method)(std::shared_ptr<Req>)) {
    return [&client, method](std::shared_ptr<TBase> r) -> std::shared_ptr<TBase> {
        return (client.*method)(std::static_pointer_cast<Req>(r));
    };
}
template <class Client, class Req>
std::function<std::shared_ptr<TBase>(std::shared_ptr<TBase>)> caller(
    Client& client, void (Client::*method)(std::shared_ptr<Req>)) {
    return [&client, method](std::shared_ptr<TBase> r) -> std::shared_ptr<TBase> {
        (client.*method)(std::static_pointer_cast<Req>(r));
        return nullptr;
    };
}

void runCases(const std::vector<MethodCase>& cases, Recorder& rec) {
    for (const MethodCase& c : cases) {
        SCOPED_TRACE(c.name);
        rec.nextResponse = c.response;
        std::shared_ptr<TBase> got = c.call(c.request);
        ASSERT_FALSE(rec.calls.empty());
        EXPECT_EQ(rec.calls.back(), c.name);
        ASSERT_TRUE(rec.lastRequest);
        EXPECT_EQ(compactBytes(*rec.lastRequest), compactBytes(*c.request))
            << "request changed on the way";
        EXPECT_NE(rec.lastRequest, c.request) << "the handler must see a decoded copy";
        if (c.response) {
            ASSERT_TRUE(got);
            EXPECT_EQ(compactBytes(*got), compactBytes(*c.response))
                << "response changed on the way";
        } else {
            EXPECT_FALSE(got);
        }
    }
}

class ServiceBindings : public ::testing::TestWithParam<Wire> {
  protected:
    template <class Processor, class Handler>
    std::shared_ptr<apache::thrift::protocol::TProtocol> connect(std::shared_ptr<Handler> h) {
        auto transport = std::make_shared<AsyncMemoryTransport>(
            processorExchange(std::make_shared<Processor>(h), GetParam()));
        return protocolOn(GetParam(), transport);
    }
};

TEST_P(ServiceBindings, MobileStorageEveryMethodRoundTrips) {
    auto handler = std::make_shared<FakeMobile>();
    TBNMobileStorageServiceClient client(connect<TBNMobileStorageServiceProcessor>(handler));
    using C = TBNMobileStorageServiceClient;
    std::map<std::string, std::function<std::shared_ptr<TBase>(std::shared_ptr<TBase>)>> callers = {
        {"approveClient", caller(client, &C::approveClient)},
        {"updateInfo", caller(client, &C::updateInfo)},
        {"getSitesCache", caller(client, &C::getSitesCache)},
        {"getAccountsCache", caller(client, &C::getAccountsCache)},
        {"getBackUp", caller(client, &C::getBackUp)},
        {"setBackUpResult", caller(client, &C::setBackUpResult)},
        {"setBackUp", caller(client, &C::setBackUp)},
        {"sendPassword", caller(client, &C::sendPassword)},
        {"loadDataForClipboard", caller(client, &C::loadDataForClipboard)},
        {"getUrlToOpen", caller(client, &C::getUrlToOpen)},
        {"requestForImportSiteData", caller(client, &C::requestForImportSiteData)},
        {"importSiteData", caller(client, &C::importSiteData)},
        {"requestForExportSiteData", caller(client, &C::requestForExportSiteData)},
        {"exportSiteData", caller(client, &C::exportSiteData)},
        {"registerYubikey", caller(client, &C::registerYubikey)},
        {"authenticationYubikey", caller(client, &C::authenticationYubikey)},
    };
    std::vector<MethodCase> cases;
    for (const Sample& sample : mobileSamples()) {
        ASSERT_TRUE(callers.count(sample.name)) << sample.name;
        cases.push_back({sample.name, sample.request, sample.response, callers[sample.name]});
    }
    ASSERT_EQ(cases.size(), 16u);
    runCases(cases, handler->rec);
    EXPECT_EQ(handler->rec.calls.size(), 16u);
}

TEST_P(ServiceBindings, HostStorageEveryMethodRoundTrips) {
    auto handler = std::make_shared<FakeHost>();
    TBNHostStorageServiceClient client(connect<TBNHostStorageServiceProcessor>(handler));
    using C = TBNHostStorageServiceClient;
    auto sites = std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>();
    sites->push_back(sampleSite("https://a.example"));
    sites->push_back(sampleSite("https://b.example"));
    std::vector<MethodCase> cases = {
        {"sendPing",
         std::make_shared<TBNPingTestRequest>(sampleRequestInfo(), sampleAuth(), "ext.id", "3.1"),
         std::make_shared<TBNPongTestResponse>(sampleResponseInfo(), false, 0, std::nullopt),
         caller(client, &C::sendPing)},
        {"chooseSiteData",
         std::make_shared<TBNChooseSiteDataRequest>(
             sampleRequestInfo(), sampleAuth(), "https://example.com/login", "example.com",
             std::make_shared<std::vector<std::string>>(std::vector<std::string>{"a", "b", "a"}),
             true),
         std::make_shared<TBNChooseSiteDataResponse>(sampleResponseInfo(), "b"),
         caller(client, &C::chooseSiteData)},
        {"importSiteDataFromGoogle",
         std::make_shared<TBNImportSiteDataFromGoogleRequest>(sampleRequestInfo(), sampleAuth(),
                                                              sites, "google"),
         std::make_shared<TBNImportSiteDataFromGoogleResponse>(sampleResponseInfo()),
         caller(client, &C::importSiteDataFromGoogle)},
        {"generatePassword",
         std::make_shared<TBNGeneratePasswordRequest>(sampleRequestInfo(), sampleAuth(), false, 8,
                                                      0, 2, 1, 7),
         std::make_shared<TBNGeneratePasswordResponse>(sampleResponseInfo(), "Xy7#abcd"),
         caller(client, &C::generatePassword)},
    };
    runCases(cases, handler->rec);
}

TEST_P(ServiceBindings, LoggingSendLogRoundTrips) {
    auto handler = std::make_shared<FakeLogging>();
    TBNLoggingServiceClient client(connect<TBNLoggingServiceProcessor>(handler));
    std::vector<MethodCase> cases = {
        {"sendLog",
         std::make_shared<TBNLogMessage>("com.tobrin.chrome.lumvane", "3.1.0", "a|b", 7, 2,
                                         "2020-01-31T12:34:56.789", "bg.js", "run", 42, "ctx",
                                         "eCA9IDU=", "worker"),
         nullptr, caller(client, &TBNLoggingServiceClient::sendLog)},
    };
    runCases(cases, handler->rec);
}

// The argument as the handler sees it when the caller passed none, and the empty
// result of a handler that answered nothing.
TEST_P(ServiceBindings, NullRequestAndNullAnswer) {
    auto handler = std::make_shared<FakeMobile>();
    TBNMobileStorageServiceClient client(connect<TBNMobileStorageServiceProcessor>(handler));
    handler->rec.nextResponse = std::make_shared<TBNSendPasswordResponse>(sampleResponseInfo());
    client.sendPassword(nullptr);
    EXPECT_EQ(handler->rec.lastRequest, nullptr);

    handler->rec.nextResponse = nullptr;
    try {
        client.getSitesCache(std::make_shared<TBNGetSitesCacheRequest>());
        FAIL() << "a null answer must reach the caller as a missing result";
    } catch (const TApplicationException& e) {
        EXPECT_EQ(e.getType(), TApplicationException::MISSING_RESULT);
        EXPECT_STREQ(e.what(), "getSitesCache failed: unknown result");
    }
    // A method that returns nothing has no result to miss.
    EXPECT_NO_THROW(client.setBackUp(nullptr));
}

// A method the processor does not know: an EXCEPTION of type 1 naming it, and the
// processor is still good for the next call.
TEST_P(ServiceBindings, UnknownMethodAnswersTypeOne) {
    auto mobile = std::make_shared<FakeMobile>();
    TBNLoggingServiceClient wrongService(connect<TBNMobileStorageServiceProcessor>(mobile));
    try {
        wrongService.sendLog(std::make_shared<TBNLogMessage>());
        FAIL() << "expected an application exception";
    } catch (const TApplicationException& e) {
        EXPECT_EQ(e.getType(), TApplicationException::UNKNOWN_METHOD);
        EXPECT_STREQ(e.what(), "Invalid method name: 'sendLog'");
    }
    EXPECT_TRUE(mobile->rec.calls.empty());

    auto logging = std::make_shared<FakeLogging>();
    TBNHostStorageServiceClient hostToLogging(connect<TBNLoggingServiceProcessor>(logging));
    EXPECT_THROW(hostToLogging.sendPing(nullptr), TApplicationException);
    TBNLoggingServiceClient right(connect<TBNLoggingServiceProcessor>(logging));
    right.sendLog(std::make_shared<TBNLogMessage>());
    EXPECT_EQ(logging->rec.calls, std::vector<std::string>{"sendLog"});
}

// The peer's own EXCEPTION reply reaches the caller with its type and text unchanged.
TEST_P(ServiceBindings, ExceptionReplyPassesThrough) {
    const Wire wire = GetParam();
    for (int type : {1, 5, 6}) {
        SCOPED_TRACE(type);
        auto transport = std::make_shared<AsyncMemoryTransport>([wire, type](const std::string&) {
            auto out = makeWriteBuffer();
            auto p = protocolOn(wire, out);
            p->writeMessageBegin("whatever", apache::thrift::protocol::T_EXCEPTION, 99);
            TApplicationException(
                static_cast<TApplicationException::TApplicationExceptionType>(type),
                "phone says no")
                .write(p.get());
            p->writeMessageEnd();
            return out->getBufferAsString();
        });
        TBNMobileStorageServiceClient client(protocolOn(wire, transport));
        try {
            client.getBackUp(std::make_shared<TBNGetBackUpRequest>());
            FAIL();
        } catch (const TApplicationException& e) {
            EXPECT_EQ(e.getType(), type);
            EXPECT_STREQ(e.what(), "phone says no");
        }
        // Also for a method that returns nothing.
        EXPECT_THROW(client.setBackUpResult(nullptr), TApplicationException);
    }
}

INSTANTIATE_TEST_SUITE_P(Wires, ServiceBindings, ::testing::Values(Wire::Compact, Wire::Binary),
                         [](const auto& info) { return std::string(wireName(info.param)); });

}  // namespace
}  // namespace lumvane
