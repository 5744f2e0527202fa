// Start, identity check, servers, stop, sleep and wake, and the warning state.
#include <httplib.h>

#include <fstream>

#include <thrift/transport/TBufferTransports.h>

#include "ServiceTestSupport.h"
#include "extension/ThriftJSONProtocol.h"
#include "extension/browser/TLSIdentity.h"

namespace lumvane::servicetest {
namespace {

using apache::thrift::transport::TMemoryBuffer;

class StubHostService : public TBNHostStorageService {
  public:
    std::shared_ptr<TBNPongTestResponse> sendPing(std::shared_ptr<TBNPingTestRequest>) override {
        ++pings;
        return std::make_shared<TBNPongTestResponse>();
    }
    std::shared_ptr<TBNChooseSiteDataResponse> chooseSiteData(
        std::shared_ptr<TBNChooseSiteDataRequest>) override {
        return std::make_shared<TBNChooseSiteDataResponse>();
    }
    std::shared_ptr<TBNImportSiteDataFromGoogleResponse> importSiteDataFromGoogle(
        std::shared_ptr<TBNImportSiteDataFromGoogleRequest>) override {
        return std::make_shared<TBNImportSiteDataFromGoogleResponse>();
    }
    std::shared_ptr<TBNGeneratePasswordResponse> generatePassword(
        std::shared_ptr<TBNGeneratePasswordRequest>) override {
        return std::make_shared<TBNGeneratePasswordResponse>();
    }
    std::atomic<int> pings{0};
    std::atomic<int> registrations{0};
    std::weak_ptr<TBNThriftHostServiceDelegate> delegate;
};

class StubLogging : public TBNLoggingService {
  public:
    void sendLog(std::shared_ptr<TBNLogMessage>) override { ++logs; }
    std::atomic<int> logs{0};
};

std::string pingBody() {
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBNHostStorageServiceClient client(
        ThriftJSONProtocolFactory::sharedFactory()->getProtocol(buffer));
    auto request = std::make_shared<TBNPingTestRequest>();
    request->setInfo(std::make_shared<TBNRequestInfo>());
    client.send_sendPing(request);
    return buffer->getBufferAsString();
}

std::shared_ptr<TBNPongTestResponse> readPong(const std::string& body) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    buffer->write(reinterpret_cast<const uint8_t*>(body.data()),
                  static_cast<uint32_t>(body.size()));
    TBNHostStorageServiceClient client(
        ThriftJSONProtocolFactory::sharedFactory()->getProtocol(buffer));
    return client.recv_sendPing();
}

class ServiceLifecycleTest : public ServiceFixture {
  protected:
    TBNService::Options options() {
        auto o = ServiceFixture::options();
        auto host = host_;
        o.handlers.hostService = [host](std::weak_ptr<TBNThriftHostServiceDelegate> d,
                                        TBNWaitManager&) {
            host->delegate = d;
            return std::static_pointer_cast<TBNHostStorageService>(host);
        };
        o.handlers.processors = [](const std::shared_ptr<TBNHostStorageService>& h,
                                   const std::shared_ptr<TBNThriftRemoteMobileSevice>& remote) {
            TBNServiceHandlerFactories::Processors p;
            p.hostStorage = std::make_shared<TBNHostStorageServiceProcessor>(h);
            p.storage = std::make_shared<TBNStorageServiceProcessor>(remote);
            return p;
        };
        o.handlers.openExtensionRegistration = [host](TBNHostStorageService&) {
            ++host->registrations;
        };
        o.loggingService = logging_;
        o.identitySource.isSetuped = [this] { return identitySetUp_.load(); };
        o.identitySource.isExpired = [this] { return identityExpired_.load(); };
        o.identitySource.setup = [this] {
            ++setups_;
            identitySetUp_ = setupWorks_.load();
            identityExpired_ = false;
            return setupWorks_.load();
        };
        o.identitySource.identity = [this]() -> std::optional<SSLIdentity> {
            if (!identitySetUp_) return std::nullopt;
            return identity_;
        };
        return o;
    }

    void makeIdentityFiles() {
        auto pem = makeSelfSignedIdentity("localhost", 3600, std::time(nullptr));
        identity_.certificatePath = (root_ / "cert.pem").string();
        identity_.privateKeyPath = (root_ / "key.pem").string();
        std::ofstream(identity_.certificatePath) << pem.certificate;
        std::ofstream(identity_.privateKeyPath) << pem.privateKey;
    }

    std::shared_ptr<StubHostService> host_ = std::make_shared<StubHostService>();
    std::shared_ptr<StubLogging> logging_ = std::make_shared<StubLogging>();
    std::atomic<bool> identitySetUp_{true};
    std::atomic<bool> identityExpired_{false};
    std::atomic<bool> setupWorks_{true};
    std::atomic<int> setups_{0};
    SSLIdentity identity_{"/nonexistent/cert.pem", "/nonexistent/key.pem"};
};

TEST_F(ServiceLifecycleTest, TrustedIdentityBuildsTheThreeServersAtOnceWithTheirProcessors) {
    pairPhone(false);
    makeIdentityFiles();
    makeService(options());
    EXPECT_FALSE(service_->isRunning());
    service_->start();
    ASSERT_TRUE(service_->isRunning());
    EXPECT_EQ(client_->starts, 1);

    auto* http = service_->server();
    auto* https = service_->sslServer();
    auto* log = service_->sslLogServer();
    ASSERT_TRUE(http && https && log);
    EXPECT_TRUE(http->isListening());
    EXPECT_TRUE(https->isListening());
    EXPECT_TRUE(log->isListening());
    EXPECT_FALSE(http->httpServer().isSecure());
    EXPECT_TRUE(https->httpServer().isSecure());
    EXPECT_TRUE(log->httpServer().isSecure());
    EXPECT_EQ(https->httpServer().queueKind(), RootHTTPServer::QueueKind::Concurrent);
    EXPECT_EQ(log->httpServer().queueKind(), RootHTTPServer::QueueKind::Serial);

    // Host storage first, then storage, then logging (19521 only).
    auto kinds = [](const ThriftHTTPServer::Processors& ps) {
        std::vector<std::string> names;
        for (const auto& p : ps) {
            if (std::dynamic_pointer_cast<TBNHostStorageServiceProcessor>(p)) {
                names.push_back("host");
            } else if (std::dynamic_pointer_cast<TBNStorageServiceProcessor>(p)) {
                names.push_back("storage");
            } else if (std::dynamic_pointer_cast<TBNLoggingServiceProcessor>(p)) {
                names.push_back("logging");
            }
        }
        return names;
    };
    EXPECT_EQ(kinds(http->processors()), (std::vector<std::string>{"host", "storage", "logging"}));
    EXPECT_EQ(kinds(https->processors()), (std::vector<std::string>{"host", "storage"}));
    EXPECT_EQ(kinds(log->processors()), (std::vector<std::string>{"logging"}));
    for (auto* s : {http, https, log}) EXPECT_EQ(s->delegate().get(), service_.get());
    drainMain();
    EXPECT_EQ(ui_->sslAlerts(), 0u);
}

TEST_F(ServiceLifecycleTest, PlainAndTlsServersAnswerExtensions) {
    makeIdentityFiles();
    makeService(options());
    service_->startWithSSLIdentity(identity_);
    ASSERT_TRUE(service_->server() && service_->sslServer());

    httplib::Client plain("127.0.0.1", service_->server()->port());
    auto r = plain.Post("/thrift", pingBody(), "application/x-thrift");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_TRUE(readPong(r->body));

    httplib::SSLClient tls("127.0.0.1", service_->sslServer()->port());
    tls.enable_server_certificate_verification(false);
    r = tls.Post("/thrift", pingBody(), "application/x-thrift");
    ASSERT_TRUE(r) << httplib::to_string(r.error());
    EXPECT_EQ(r->status, 200);
    EXPECT_TRUE(readPong(r->body));
    EXPECT_EQ(host_->pings, 2);
}

TEST_F(ServiceLifecycleTest, WithoutIdentityOnlyThePlainServerRuns) {
    makeService(options());
    service_->startWithSSLIdentity(std::nullopt);
    ASSERT_TRUE(service_->server());
    EXPECT_TRUE(service_->server()->isListening());
    EXPECT_EQ(service_->sslServer(), nullptr);
    EXPECT_EQ(service_->sslLogServer(), nullptr);
}

TEST_F(ServiceLifecycleTest, MissingOrExpiringIdentityIsOfferedAndRefusalQuits) {
    struct Case {
        const char* name;
        bool setUp, expired, userCreates, setupWorks;
        size_t failedAlerts;
        int terminations;
        bool running;
    } cases[] = {
        {"missing, refused", false, false, false, true, 0, 1, false},
        {"expiring, refused", true, true, false, true, 0, 1, false},
        {"missing, created", false, false, true, true, 0, 0, true},
        {"expiring, created", true, true, true, true, 0, 0, true},
        {"creation fails", false, false, true, false, 1, 1, false},
    };
    makeIdentityFiles();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui_ = std::make_shared<FakeUIService>();
        ui_->setCreateSSLIdentity(c.userCreates);
        identitySetUp_ = c.setUp;
        identityExpired_ = c.expired;
        setupWorks_ = c.setupWorks;
        terminations_ = 0;
        setups_ = 0;
        makeService(options());
        service_->start();
        EXPECT_TRUE(ui_->waitFor([&] { return ui_->sslAlerts(); }, 1));
        if (c.running) {
            EXPECT_TRUE(eventually([&] { return service_->isRunning(); }));
            EXPECT_TRUE(service_->sslServer());
            EXPECT_EQ(setups_, 1);
        } else {
            EXPECT_TRUE(eventually([&] { return terminations_.load() == c.terminations; }));
            drainMain();
            EXPECT_FALSE(service_->isRunning());
        }
        EXPECT_EQ(ui_->sslFailedAlerts(), c.failedAlerts);
        EXPECT_EQ(terminations_, c.terminations);
        service_->stop();
        service_.reset();
    }
}

// The first-run wizard asks the identity question exactly when start() would: with the
// HTTPS switch off or no source (the simulated radio's source always reports one), never.
TEST_F(ServiceLifecycleTest, TheIdentityQuestionIsAskedWhereStartWouldAskIt) {
    struct Case {
        const char* name;
        bool https, source, setUp, expired, asks;
    } cases[] = {
        {"trusted", true, true, true, false, false},
        {"missing", true, true, false, false, true},
        {"expiring", true, true, true, true, true},
        {"HTTPS off", false, true, false, false, false},
        {"no source", true, false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        identitySetUp_ = c.setUp;
        identityExpired_ = c.expired;
        auto o = options();
        o.generateSSLCerts = c.https;
        if (!c.source) o.identitySource = {};
        makeService(std::move(o));
        EXPECT_EQ(service_->wouldAskForSSLIdentity(), c.asks);
        EXPECT_EQ(setups_, 0) << "asking whether to ask creates nothing";
        service_.reset();
    }
}

TEST_F(ServiceLifecycleTest, SleepStopsOnlyThePhoneLinkAndWakeBringsItBack) {
    pairPhone(false);
    makeService(options());
    // Before the service runs, waking starts nothing.
    ASSERT_TRUE(sleep_->listening());
    sleep_->sleep();
    sleep_->wake();
    EXPECT_EQ(client_->starts, 0);

    service_->startWithSSLIdentity(std::nullopt);
    EXPECT_EQ(client_->starts, 1);
    const int stopsBefore = client_->stops;
    ASSERT_TRUE(sleep_->sleep());
    EXPECT_TRUE(service_->isSleeping());
    EXPECT_EQ(client_->stops, stopsBefore + 1);
    ASSERT_TRUE(service_->server());
    httplib::Client plain("127.0.0.1", service_->server()->port());
    auto r = plain.Post("/thrift", pingBody(), "application/x-thrift");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);

    const int updates = uiDelegate_->updates;
    ASSERT_TRUE(sleep_->wake());
    EXPECT_FALSE(service_->isSleeping());
    EXPECT_EQ(client_->starts, 2);
    EXPECT_EQ(uiDelegate_->updates, updates + 1);
}

TEST_F(ServiceLifecycleTest, StopReleasesTheServersAndRestartBuildsThemAgain) {
    pairPhone(false);
    makeIdentityFiles();
    makeService(options());
    service_->startWithSSLIdentity(identity_);
    const uint16_t port = service_->server()->port();
    service_->stop();
    EXPECT_FALSE(service_->isRunning());
    EXPECT_EQ(service_->server(), nullptr);
    EXPECT_GE(client_->stops, 1);
    httplib::Client plain("127.0.0.1", port);
    plain.set_connection_timeout(1);
    EXPECT_FALSE(plain.Post("/thrift", pingBody(), "application/x-thrift"));

    // Twice in a row: the second start replaces the first servers.
    service_->startWithSSLIdentity(identity_);
    service_->startWithSSLIdentity(identity_);
    ASSERT_TRUE(service_->server() && service_->sslServer() && service_->sslLogServer());
    EXPECT_TRUE(service_->server()->isListening());
    EXPECT_TRUE(service_->sslServer()->isListening());
}

TEST_F(ServiceLifecycleTest, WarningStateTable) {
    struct Case {
        const char* name;
        bool bluetoothOn;
        bool expected;
        bool paired, online;
        int32_t appState;
        bool near;
        TBNServiceWarningType warning;
    } cases[] = {
        {"no phone", true, false, false, false, 1, false, TBNServiceWarningTypeNotPairedPhone},
        {"bluetooth off, no phone", false, false, false, false, 1, false,
         TBNServiceWarningTypeBluetoothOff},
        {"bluetooth off, online phone", false, false, true, true, 1, false,
         TBNServiceWarningTypeBluetoothOff},
        {"awaited", true, true, true, true, 1, false, TBNServiceWarningTypeSearchingPhone},
        {"online, locked", true, false, true, true, 2, false, TBNServiceWarningDeviceDBLocked},
        {"online", true, false, true, true, 1, false, TBNServiceWarningTypeNone},
        {"online, not reported", true, false, true, true, 0, false, TBNServiceWarningTypeNone},
        {"offline, near", true, false, true, false, 1, true,
         TBNServiceWarningTypeCannotFindLumvaneApp},
        {"offline, away", true, false, true, false, 1, false,
         TBNServiceWarningTypeCannotFindPairedPhone},
    };
    makeService(options());
    auto& remote = *service_->remoteService();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings_->removeAllDevices();
        settings_->setExpectedDeviceId(c.expected ? std::optional<std::string>("DEVICE")
                                                  : std::nullopt);
        settings_->waitForPendingSaves();
        if (c.paired) pairPhone(c.online, c.appState, c.near);
        remote.blecClientDidBluetoothStateChange(*client_, c.bluetoothOn);
        EXPECT_EQ(service_->warningType(), c.warning);
        EXPECT_EQ(service_->warning(), TBNServiceWarningTypeNone);
    }

    auto o = options();
    o.remoteServiceFactory = [](auto) { return std::shared_ptr<TBNThriftRemoteMobileSevice>(); };
    auto bare = TBNService::create(o);
    EXPECT_EQ(bare->warningType(), TBNServiceWarningTypeNotInitialized);
}

TEST_F(ServiceLifecycleTest, HostServiceKnowsTheServiceAndRegistrationIsForwarded) {
    makeService(options());
    EXPECT_EQ(host_->delegate.lock().get(),
              static_cast<TBNThriftHostServiceDelegate*>(service_.get()));
    service_->openExtensionRegistration();
    EXPECT_EQ(host_->registrations, 1);
}

}  // namespace
}  // namespace lumvane::servicetest
