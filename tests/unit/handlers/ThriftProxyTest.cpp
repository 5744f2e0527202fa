// The storage handler for extensions: approval and pause checks, the local-then-remote
// order, the error answers, and the Base64 password boundary.
#include <thrift/transport/TBufferTransports.h>

#include "HandlersTestSupport.h"
#include "extension/ThriftHTTPServer.h"
#include "extension/ThriftJSONProtocol.h"
#include "protocol/PasswordEncoding.h"
#include "protocol/TBNErrors.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane::handlerstest {
namespace {

class ThriftProxyTest : public HandlersFixture {
  protected:
    void SetUp() override {
        HandlersFixture::SetUp();
        local_ = std::make_shared<FakeStorage>();
        remote_ = std::make_shared<FakeStorage>();
        TBNThriftProxy::Options options;
        options.settings = settings_;
        options.protocolHelper = &helper_;
        proxy_ = TBNThriftProxy::initWithLocalSevice(local_, remote_, options);
    }

    std::shared_ptr<TBNGetLoginDataRequest> getLogin(std::shared_ptr<TBNAuthentication> a) {
        auto r = std::make_shared<TBNGetLoginDataRequest>();
        r->setInfo(requestInfo());
        r->setAuth(std::move(a));
        r->setSiteUrl(std::string("https://www.example.com/login"));
        return r;
    }
    std::shared_ptr<TBNAddLoginDataRequest> addLogin(std::optional<std::string> password) {
        auto r = std::make_shared<TBNAddLoginDataRequest>();
        r->setInfo(requestInfo());
        r->setAuth(approvedAuth());
        r->setSiteUrl(std::string("https://www.example.com/login"));
        r->setLoginData(loginData(std::string("alice"), std::move(password)));
        return r;
    }

    std::shared_ptr<FakeStorage> local_;
    std::shared_ptr<FakeStorage> remote_;
    std::shared_ptr<TBNThriftProxy> proxy_;
};

// Every operation refuses a client that is not approved, whatever part of the credentials
// is missing or wrong, without asking either service.
TEST_F(ThriftProxyTest, ClientsThatAreNotApprovedAreRefusedByEveryOperation) {
    const std::vector<std::pair<const char*, std::shared_ptr<TBNAuthentication>>> cases = {
        {"no auth", nullptr},
        {"empty id", auth(std::string(), std::string(kClientSecret))},
        {"empty secret", auth(std::string(kClientId), std::string())},
        {"absent secret", auth(std::string(kClientId), std::nullopt)},
        {"wrong secret", auth(std::string(kClientId), std::string("EXT-SECRET-0002"))},
        {"unknown id", auth(std::string("OTHER"), std::string(kClientSecret))},
    };
    for (const auto& [name, a] : cases) {
        SCOPED_TRACE(name);
        auto login = proxy_->getLoginData(getLogin(a));
        EXPECT_EQ(errorOf(login->info()), std::make_pair(1, int64_t{1}));
        EXPECT_EQ(login->info()->error()->debugMessage(), "Client not authorized");
        EXPECT_EQ(login->info()->requestId(), "req-7");
        EXPECT_EQ(login->data(), nullptr);

        auto add = std::make_shared<TBNAddLoginDataRequest>();
        add->setAuth(a);
        auto added = proxy_->addLoginData(add);
        EXPECT_EQ(errorOf(added->info()), std::make_pair(1, int64_t{1}));
        EXPECT_TRUE(added->isUpdatedIsSet());
        EXPECT_FALSE(added->isUpdated());

        auto del = std::make_shared<TBNDeleteLoginDataRequest>();
        del->setAuth(a);
        EXPECT_EQ(errorOf(proxy_->deleteLoginData(del)->info()), std::make_pair(1, int64_t{1}));
        auto upd = std::make_shared<TBNUpdateLoginDataRequest>();
        upd->setAuth(a);
        EXPECT_EQ(errorOf(proxy_->updateLoginData(upd)->info()), std::make_pair(1, int64_t{1}));
        auto site = std::make_shared<TBNGetSiteDataRequest>();
        site->setAuth(a);
        EXPECT_EQ(errorOf(proxy_->getSiteData(site)->info()), std::make_pair(1, int64_t{1}));
        auto list = std::make_shared<TBNGetSiteDataListRequest>();
        list->setAuth(a);
        EXPECT_EQ(errorOf(proxy_->getSiteDataList(list)->info()), std::make_pair(1, int64_t{1}));
        auto delSite = std::make_shared<TBNDeleteSiteDataRequest>();
        delSite->setAuth(a);
        EXPECT_EQ(errorOf(proxy_->deleteSiteData(delSite)->info()), std::make_pair(1, int64_t{1}));
        auto code = std::make_shared<TBNGet2FACodeRequest>();
        code->setAuth(a);
        EXPECT_EQ(errorOf(proxy_->get2FACode(code)->info()), std::make_pair(1, int64_t{1}));
    }
    // A call without its argument at all is refused the same way.
    EXPECT_EQ(errorOf(proxy_->getSiteDataList(nullptr)->info()), std::make_pair(1, int64_t{1}));
    EXPECT_EQ(local_->calls, 0);
    EXPECT_EQ(remote_->calls, 0);
}

TEST_F(ThriftProxyTest, PauseRefusesApprovedClientsAfterTheApprovalCheck) {
    settings_->setPaused(true);
    settings_->waitForPendingSaves();

    auto paused = proxy_->getLoginData(getLogin(approvedAuth()));
    EXPECT_EQ(errorOf(paused->info()), std::make_pair(4, int64_t{16}));
    EXPECT_EQ(paused->info()->error()->debugMessage(), "Service paused");
    auto added = proxy_->addLoginData(addLogin(base64Encode("pw")));
    EXPECT_EQ(errorOf(added->info()), std::make_pair(4, int64_t{16}));
    // Not approved wins over paused.
    auto refused = proxy_->getLoginData(getLogin(auth(std::string(kClientId), std::string("x"))));
    EXPECT_EQ(errorOf(refused->info()), std::make_pair(1, int64_t{1}));
    EXPECT_EQ(local_->calls, 0);
    EXPECT_EQ(remote_->calls, 0);
}

TEST_F(ThriftProxyTest, LocalAnswerIsReturnedAsItIsAndThePhoneIsNotAsked) {
    auto localAnswer = std::make_shared<TBNAddLoginDataResponse>(
        helper_.nextResponseForRequest(requestInfo(), TBNErrors::duplicatedAccount()), false);
    local_->onAddLoginData = [&](std::shared_ptr<TBNAddLoginDataRequest>) { return localAnswer; };
    auto answer = proxy_->addLoginData(addLogin(base64Encode("pw")));
    EXPECT_EQ(answer, localAnswer);
    EXPECT_EQ(local_->calls, 1);
    EXPECT_EQ(remote_->calls, 0);
}

TEST_F(ThriftProxyTest, RemoteAnswerWithoutInfoGetsOneAndPhoneErrorsPassUnchanged) {
    remote_->onGetLoginData = [](auto) { return std::make_shared<TBNGetLoginDataResponse>(); };
    auto answer = proxy_->getLoginData(getLogin(approvedAuth()));
    ASSERT_NE(answer->info(), nullptr);
    EXPECT_EQ(answer->info()->requestId(), "req-7");
    EXPECT_EQ(answer->info()->contextName(), "ctx-7");
    EXPECT_EQ(answer->info()->error(), nullptr);
    EXPECT_EQ(local_->calls, 1);
    EXPECT_EQ(remote_->calls, 1);

    auto phoneError = std::make_shared<TBNError>(3, int64_t{8}, std::string("DB locked"));
    remote_->onGetLoginData = [&](auto) {
        auto r = std::make_shared<TBNGetLoginDataResponse>();
        r->setInfo(std::make_shared<TBNResponseInfo>(
            std::string("p1"), int64_t{5}, std::string("req-7"), phoneError, std::string("phone")));
        return r;
    };
    answer = proxy_->getLoginData(getLogin(approvedAuth()));
    EXPECT_EQ(answer->info()->id(), "p1");
    EXPECT_EQ(answer->info()->error(), phoneError);
}

TEST_F(ThriftProxyTest, NoAnswerFromEitherServiceIsDeviceNotAvailable) {
    auto answer = proxy_->getLoginData(getLogin(approvedAuth()));
    EXPECT_EQ(errorOf(answer->info()), std::make_pair(3, int64_t{7}));
    EXPECT_EQ(answer->info()->error()->debugMessage(), "Device not available");
    EXPECT_EQ(answer->data(), nullptr);

    auto codeRequest = std::make_shared<TBNGet2FACodeRequest>();
    codeRequest->setAuth(approvedAuth());
    auto code = proxy_->get2FACode(codeRequest);
    EXPECT_EQ(errorOf(code->info()), std::make_pair(3, int64_t{7}));
    EXPECT_TRUE(code->periodIsSet());
    EXPECT_EQ(code->period(), 0);
    EXPECT_TRUE(code->startTimestampIsSet());
    EXPECT_EQ(code->startTimestamp(), 0);
    EXPECT_FALSE(code->code().has_value());

    // A phone service that no longer exists counts as one that answered nothing.
    remote_.reset();
    answer = proxy_->getLoginData(getLogin(approvedAuth()));
    EXPECT_EQ(errorOf(answer->info()), std::make_pair(3, int64_t{7}));
}

TEST_F(ThriftProxyTest, ServiceExceptionsBecomeErrorAnswers) {
    remote_->onGetSiteData = [](auto) -> std::shared_ptr<TBNGetSiteDataResponse> {
        throw apache::thrift::TException("link broke");
    };
    auto request = std::make_shared<TBNGetSiteDataRequest>();
    request->setAuth(approvedAuth());
    auto answer = proxy_->getSiteData(request);
    EXPECT_EQ(errorOf(answer->info()), std::make_pair(4, int64_t{10}));
    EXPECT_EQ(answer->record(), nullptr);
}

// Passwords leave as Base64 of their UTF-8 bytes; the phone's own records stay plain.
TEST_F(ThriftProxyTest, ReturnedPasswordsAreEncodedInCopies) {
    auto phoneLogin = loginData(std::string("alice"), std::string("pä55 wörd"));
    remote_->onGetLoginData = [&](auto) {
        auto r = std::make_shared<TBNGetLoginDataResponse>();
        r->setData(phoneLogin);
        return r;
    };
    auto site = std::make_shared<TBNSiteData>();
    site->setLoginData(std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>(
        std::vector<std::shared_ptr<TBNLoginData>>{loginData(std::string("a"), std::string("one")),
                                                   loginData(std::string("b"), std::nullopt),
                                                   nullptr}));
    remote_->onGetSiteData = [&](auto) {
        auto r = std::make_shared<TBNGetSiteDataResponse>();
        r->setRecord(site);
        return r;
    };
    remote_->onGetSiteDataList = [&](auto) {
        auto r = std::make_shared<TBNGetSiteDataListResponse>();
        r->setRecords(std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>(
            std::vector<std::shared_ptr<TBNSiteData>>{site, std::make_shared<TBNSiteData>()}));
        return r;
    };

    auto login = proxy_->getLoginData(getLogin(approvedAuth()));
    EXPECT_EQ(login->data()->password(), base64Encode("pä55 wörd"));
    EXPECT_EQ(login->data()->login(), "alice");
    EXPECT_EQ(phoneLogin->password(), "pä55 wörd");

    auto siteRequest = std::make_shared<TBNGetSiteDataRequest>();
    siteRequest->setAuth(approvedAuth());
    auto siteAnswer = proxy_->getSiteData(siteRequest);
    const auto& logins = *siteAnswer->record()->loginData();
    ASSERT_EQ(logins.size(), 3u);
    EXPECT_EQ(logins[0]->password(), base64Encode("one"));
    EXPECT_FALSE(logins[1]->password().has_value());
    EXPECT_EQ(logins[2], nullptr);
    EXPECT_EQ((*site->loginData())[0]->password(), "one");

    auto listRequest = std::make_shared<TBNGetSiteDataListRequest>();
    listRequest->setAuth(approvedAuth());
    auto list = proxy_->getSiteDataList(listRequest);
    ASSERT_EQ(list->records()->size(), 2u);
    EXPECT_EQ((*(*list->records())[0]->loginData())[0]->password(), base64Encode("one"));
    EXPECT_EQ((*list->records())[1]->loginData(), nullptr);
}

TEST_F(ThriftProxyTest, AddDecodesThePasswordAndUpdatePassesItOnAsReceived) {
    proxy_->addLoginData(addLogin(base64Encode("s3cret ü")));
    EXPECT_EQ(local_->lastAddPassword, "s3cret ü");
    EXPECT_EQ(remote_->lastAddPassword, "s3cret ü");

    auto update = std::make_shared<TBNUpdateLoginDataRequest>();
    update->setAuth(approvedAuth());
    update->setLoginData(loginData(std::string("alice"), base64Encode("new")));
    proxy_->updateLoginData(update);
    EXPECT_EQ(local_->lastUpdatePassword, base64Encode("new"));
    EXPECT_EQ(remote_->lastUpdatePassword, base64Encode("new"));

    // A login to add without a password goes on without one.
    proxy_->addLoginData(addLogin(std::nullopt));
    EXPECT_EQ(remote_->lastAddPassword, "(absent)");
}

// A password that is not Base64 of UTF-8 text is an error to the extension; nothing with an
// empty or garbled password reaches the phone.
TEST_F(ThriftProxyTest, UndecodablePasswordToAddIsRefused) {
    for (const std::string& bad : std::vector<std::string>{
             "not base64!", "abc", "////", base64Encode("\xff\xfe"), base64Encode("\xc0\xaf")}) {
        SCOPED_TRACE(bad);
        auto answer = proxy_->addLoginData(addLogin(bad));
        ASSERT_NE(answer->info()->error(), nullptr);
        EXPECT_EQ(answer->info()->error()->category(), 4);
        EXPECT_FALSE(answer->isUpdated());
    }
    EXPECT_EQ(local_->calls, 0);
    EXPECT_EQ(remote_->calls, 0);

    EXPECT_EQ(TBNThriftProxy::decodePassword(std::string()), std::string());
    EXPECT_EQ(TBNThriftProxy::decodePassword(std::nullopt), std::nullopt);
    EXPECT_EQ(TBNThriftProxy::encodePassword(std::nullopt), std::nullopt);
    EXPECT_EQ(TBNThriftProxy::encodePassword(std::string("pw")), "cHc=");
}

// The client's secret and the passwords never reach a log line; the client id does.
TEST_F(ThriftProxyTest, SecretsAndPasswordsAreNeverLogged) {
    auto capture = std::make_shared<CapturingLogger>();
    LogDispatcher::sharedInstance().addLogger(capture);
    const uint64_t level = TBNLogger::maxLevel();
    TBNLogger::setMaxLevel(kTBNLogLevelVerbose);

    remote_->onGetLoginData = [](auto) {
        auto r = std::make_shared<TBNGetLoginDataResponse>();
        r->setData(loginData(std::string("alice"), std::string("Phone-Pass-Marker")));
        return r;
    };
    proxy_->getLoginData(getLogin(approvedAuth()));
    proxy_->addLoginData(addLogin(base64Encode("Add-Pass-Marker")));
    proxy_->getLoginData(
        getLogin(auth(std::string(kClientId), std::string("Wrong-Secret-Marker"))));

    LogDispatcher::sharedInstance().flush();
    TBNLogger::setMaxLevel(level);
    LogDispatcher::sharedInstance().removeAllLoggers();
    std::lock_guard<std::mutex> lock(capture->mutex);
    bool clientIdLogged = false;
    for (const auto& line : capture->lines) {
        for (const std::string& secret :
             {std::string(kClientSecret), std::string("Wrong-Secret-Marker"),
              std::string("Phone-Pass-Marker"), std::string("Add-Pass-Marker"),
              base64Encode("Phone-Pass-Marker"), base64Encode("Add-Pass-Marker")}) {
            EXPECT_EQ(line.find(secret), std::string::npos) << line;
        }
        if (line.find(kClientId) != std::string::npos) clientIdLogged = true;
    }
    EXPECT_TRUE(clientIdLogged);
}

// The whole handler road as the servers drive it: JSON messages through the processors
// that TBNExtensionProcessors makes.
TEST_F(ThriftProxyTest, ProcessorsServeJsonMessagesThroughTheServer) {
    using apache::thrift::transport::TMemoryBuffer;
    remote_->onGetLoginData = [](auto) {
        auto r = std::make_shared<TBNGetLoginDataResponse>();
        r->setData(loginData(std::string("alice"), std::string("pw1")));
        return r;
    };
    TBNThriftProxy::Options options;
    options.settings = settings_;
    options.protocolHelper = &helper_;
    auto made = TBNExtensionProcessors::make(host_, remote_, options);
    ThriftHTTPServer::Options serverOptions;
    serverOptions.listen = false;
    auto server = ThriftHTTPServer::initAsConcurrentWithPort(
        0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(),
        {made.hostStorage, made.storage}, serverOptions);

    auto call = [&](auto send, auto receive) {
        auto out = std::make_shared<TMemoryBuffer>();
        auto protocol = ThriftJSONProtocolFactory::sharedFactory()->getProtocol(out);
        send(protocol);
        std::string reply = server->processRequest(out->getBufferAsString());
        auto in = std::make_shared<TMemoryBuffer>(
            reinterpret_cast<uint8_t*>(const_cast<char*>(reply.data())),
            static_cast<uint32_t>(reply.size()), TMemoryBuffer::COPY);
        return receive(ThriftJSONProtocolFactory::sharedFactory()->getProtocol(in));
    };

    auto ping = std::make_shared<TBNPingTestRequest>();
    ping->setAuth(approvedAuth());
    auto pong = call([&](auto p) { TBNHostStorageServiceClient(p).send_sendPing(ping); },
                     [](auto p) { return TBNHostStorageServiceClient(p).recv_sendPing(); });
    EXPECT_EQ(errorOf(pong->info()), std::make_pair(0, int64_t{0}));

    auto login = call(
        [&](auto p) { TBNStorageServiceClient(p).send_getLoginData(getLogin(approvedAuth())); },
        [](auto p) { return TBNStorageServiceClient(p).recv_getLoginData(); });
    ASSERT_NE(login->data(), nullptr);
    EXPECT_EQ(login->data()->password(), base64Encode("pw1"));

    auto refused =
        call([&](auto p) { TBNStorageServiceClient(p).send_getLoginData(getLogin(nullptr)); },
             [](auto p) { return TBNStorageServiceClient(p).recv_getLoginData(); });
    EXPECT_EQ(errorOf(refused->info()), std::make_pair(1, int64_t{1}));
    EXPECT_FALSE(refused->dataIsSet() && refused->data());
}

}  // namespace
}  // namespace lumvane::handlerstest
