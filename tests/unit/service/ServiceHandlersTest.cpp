// The service with the program's own extension handlers: requests over HTTP reach the
// handlers, and the handlers' questions reach the service and its user.
#include <httplib.h>

#include <thrift/transport/TBufferTransports.h>

#include "ServiceTestSupport.h"
#include "core/service/TBNServiceHandlers.h"
#include "extension/ThriftJSONProtocol.h"
#include "protocol/PasswordEncoding.h"

namespace lumvane::servicetest {
namespace {

using apache::thrift::transport::TMemoryBuffer;

class ServiceHandlersTest : public ServiceFixture {
  protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        auto o = options();
        o.identitySource.isSetuped = [] { return false; };
        TBNServiceHandlers::applyStandard(o);
        makeService(std::move(o));
        service_->startWithSSLIdentity(std::nullopt);
        ASSERT_TRUE(service_->server() && service_->server()->isListening());
    }

    static std::shared_ptr<TBNAuthentication> auth(const std::string& id, const std::string& s) {
        return std::make_shared<TBNAuthentication>(id, s);
    }

    // One storage call over HTTP; `send` writes it, `receive` reads the answer.
    template <class Send, class Receive>
    auto call(Send send, Receive receive) {
        auto out = std::make_shared<TMemoryBuffer>();
        TBNStorageServiceClient writer(
            ThriftJSONProtocolFactory::sharedFactory()->getProtocol(out));
        send(writer);
        httplib::Client http("127.0.0.1", service_->server()->port());
        http.set_read_timeout(30);
        auto r = http.Post("/thrift", out->getBufferAsString(), "application/x-thrift");
        EXPECT_TRUE(r);
        EXPECT_EQ(r ? r->status : 0, 200);
        auto in = std::make_shared<TMemoryBuffer>();
        if (r)
            in->write(reinterpret_cast<const uint8_t*>(r->body.data()),
                      static_cast<uint32_t>(r->body.size()));
        TBNStorageServiceClient reader(ThriftJSONProtocolFactory::sharedFactory()->getProtocol(in));
        return receive(reader);
    }

    std::shared_ptr<TBNGetLoginDataResponse> getLoginData(std::shared_ptr<TBNAuthentication> a) {
        auto request = std::make_shared<TBNGetLoginDataRequest>();
        request->setInfo(std::make_shared<TBNRequestInfo>());
        request->setAuth(std::move(a));
        request->setSiteUrl(std::string("https://example.com/login"));
        request->setDomain(std::string("example.com"));
        return call([&](TBNStorageServiceClient& c) { c.send_getLoginData(request); },
                    [](TBNStorageServiceClient& c) { return c.recv_getLoginData(); });
    }

    static std::pair<int32_t, int64_t> errorOf(const std::shared_ptr<TBNResponseInfo>& info) {
        if (!info || !info->error()) return {0, 0};
        return {info->error()->category(), info->error()->id()};
    }
};

TEST_F(ServiceHandlersTest, UnapprovedAndPausedClientsAreRefused) {
    auto r = getLoginData(auth("EXT-UNKNOWN", "nope"));
    ASSERT_TRUE(r);
    EXPECT_EQ(errorOf(r->info()), (std::pair<int32_t, int64_t>{1, 1}));

    settings_->approveExtForClientId(std::string("EXT-1"), std::string("S1"));
    settings_->setPaused(true);
    settings_->waitForPendingSaves();
    r = getLoginData(auth("EXT-1", "S1"));
    ASSERT_TRUE(r);
    EXPECT_EQ(errorOf(r->info()), (std::pair<int32_t, int64_t>{4, 16}));
}

// A new login from an approved extension while the phone is away: the handler asks the
// service, which asks the user with the plain password; cancelling is the user's refusal.
TEST_F(ServiceHandlersTest, AddingALoginAsksTheUserThroughTheService) {
    settings_->approveExtForClientId(std::string("EXT-1"), std::string("S1"));
    settings_->waitForPendingSaves();
    pairPhone(false);
    ui_->queueSaveAnswer(std::nullopt);

    auto request = std::make_shared<TBNAddLoginDataRequest>();
    request->setInfo(std::make_shared<TBNRequestInfo>());
    request->setAuth(auth("EXT-1", "S1"));
    request->setSiteUrl(std::string("https://example.com/login"));
    request->setDomain(std::string("example.com"));
    auto login = std::make_shared<TBNLoginData>();
    login->setLogin(std::string("alice"));
    login->setPassword(base64Encode("pa55word"));
    request->setLoginData(login);
    auto r = call([&](TBNStorageServiceClient& c) { c.send_addLoginData(request); },
                  [](TBNStorageServiceClient& c) { return c.recv_addLoginData(); });
    ASSERT_TRUE(r);
    EXPECT_EQ(errorOf(r->info()), (std::pair<int32_t, int64_t>{2, 3}));
    auto asked = ui_->saveQuestions();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].account, "alice");
    EXPECT_EQ(asked[0].password, "pa55word");
    EXPECT_FALSE(asked[0].isUpdate);
}

}  // namespace
}  // namespace lumvane::servicetest
