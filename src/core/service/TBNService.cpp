#include "core/service/TBNService.h"
#include "core/service/TBNServiceAsk.h"

#include <unistd.h>

#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>

#include "blec/TBNBLEChecker.h"
#include "core/pasteboard/Pasteboard.h"
#include "crypto/TBNCryptAES.h"
#include "crypto/TBNCryptHash.h"
#include "crypto/TBNCryptRnd.h"
#include "extension/ThriftJSONProtocol.h"
#include "protocol/PasswordEncoding.h"
#include "protocol/TBNErrors.h"
#include "runtime/TBNWaitManager.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

constexpr const char* kTag = "ui|service";

const char* warningName(TBNServiceWarningType type) {
    switch (type) {
        case TBNServiceWarningTypeNone:
            return "TBNServiceWarningTypeNone";
        case TBNServiceWarningTypeNotInitialized:
            return "TBNServiceWarningTypeNotInitialized";
        case TBNServiceWarningTypeBluetoothOff:
            return "TBNServiceWarningTypeBluetoothOff";
        case TBNServiceWarningTypeSearchingPhone:
            return "TBNServiceWarningTypeSearchingPhone";
        case TBNServiceWarningTypeNotPairedPhone:
            return "TBNServiceWarningTypeNotPairedPhone";
        case TBNServiceWarningTypeCannotFindPairedPhone:
            return "TBNServiceWarningTypeCannotFindPairedPhone";
        case TBNServiceWarningTypeCannotFindLumvaneApp:
            return "TBNServiceWarningTypeCannotFindLumvaneApp";
        case TBNServiceWarningDeviceDBLocked:
            return "TBNServiceWarningDeviceDBLocked";
    }
    return "unknown";
}

}  // namespace

struct TBNService::Servers {
    std::unique_ptr<ThriftHTTPServer> server;
    std::unique_ptr<ThriftHTTPServer> sslServer;
    std::unique_ptr<ThriftHTTPServer> sslLogServer;
    std::shared_ptr<void> keepAlive;
};

// ---- Creation --------------------------------------------------------------------------

namespace {
std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
std::optional<TBNService::Options>& sharedOptions() {
    static std::optional<TBNService::Options> options;
    return options;
}
std::shared_ptr<TBNService>& sharedInstance() {
    static std::shared_ptr<TBNService> instance;
    return instance;
}
}  // namespace

std::shared_ptr<TBNService> TBNService::sharedService() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    auto& instance = sharedInstance();
    if (!instance) {
        instance = create(sharedOptions() ? std::move(*sharedOptions()) : Options{});
        sharedOptions().reset();
    }
    return instance;
}

void TBNService::configureSharedService(Options options) {
    std::lock_guard<std::mutex> lock(sharedMutex());
    if (sharedInstance()) throw std::logic_error("The service already exists");
    sharedOptions() = std::move(options);
}

std::shared_ptr<TBNService> TBNService::create(Options options) {
    auto service = std::make_shared<TBNService>(Token{}, std::move(options));
    service->init();
    return service;
}

TBNService::TBNService(Token, Options options) : options_(std::move(options)) {
    settings_ =
        options_.settings ? options_.settings : TBNSettings::sharedSettings().shared_from_this();
    waits_ = options_.waitManager ? options_.waitManager : &TBNWaitManager::sharedManager();
    clock_ = options_.clock ? options_.clock : Clock::steady();
    mainLoop_ = options_.mainLoop ? options_.mainLoop : MainLoop::main();
}

TBNService::~TBNService() {
    if (options_.sleepWake) options_.sleepWake->stop();
    cancelPendingQuestions();
}

void TBNService::init() {
    TBN_LOG_DEBUG_BEGIN(kTag);
    settings_->addDelegate(shared_from_this());

    std::weak_ptr<TBNService> weakSelf = weak_from_this();
    if (options_.remoteServiceFactory) {
        remoteService_ = options_.remoteServiceFactory(weakSelf);
    } else if (options_.remoteOptions.clientFactory) {
        auto remoteOptions = options_.remoteOptions;
        if (!remoteOptions.settings) remoteOptions.settings = settings_;
        if (!remoteOptions.waitManager) remoteOptions.waitManager = waits_;
        if (!remoteOptions.clock) remoteOptions.clock = clock_;
        remoteService_ = TBNThriftRemoteMobileSevice::create(weakSelf, std::move(remoteOptions));
    }
    if (!remoteService_)
        TBN_LOG_ERROR(kTag, "no remote phone service: the phone cannot be reached");

    if (options_.handlers.hostService) {
        hostService_ = options_.handlers.hostService(weakSelf, *waits_);
    }
    if (!hostService_) TBN_LOG_ERROR(kTag, "no host-storage service for the extensions");
    logService_ = options_.loggingService;
    if (!logService_) TBN_LOG_WARN(kTag, "no logging service for the extensions");

    if (options_.sleepWake) {
        options_.sleepWake->setHandlers(
            [weakSelf] {
                if (auto self = weakSelf.lock()) self->goToSleep();
            },
            [weakSelf] {
                if (auto self = weakSelf.lock()) self->wakeFromSleep();
            });
        if (!options_.sleepWake->start()) {
            TBN_LOG_WARN(kTag, "sleep and wake notices are not available; the phone link runs on");
        }
    }
    TBN_LOG_DEBUG_END(kTag);
}

// ---- Helpers ---------------------------------------------------------------------------

void TBNService::onMain(std::function<void()> block) {
    mainLoop_->post(std::move(block));
}

void TBNService::async(std::function<void()> block) {
    if (options_.runAsync) {
        options_.runAsync(std::move(block));
    } else {
        DispatchQueue::global(DispatchQueue::Priority::Default)->async(std::move(block));
    }
}

void TBNService::terminateApplication() {
    TBN_LOG_ERROR(kTag, "the service cannot run without its TLS identity; quitting");
    if (options_.terminate) {
        options_.terminate();
    } else {
        onMain([] { std::exit(EXIT_SUCCESS); });
    }
}

void TBNService::cancelPendingQuestions() {
    std::vector<std::function<void()>> cancels;
    {
        std::lock_guard<std::mutex> lock(questionsMutex_);
        for (auto& [id, cancel] : pendingQuestions_) cancels.push_back(cancel);
    }
    for (auto& cancel : cancels) cancel();
}

size_t TBNService::pendingQuestions() const {
    std::lock_guard<std::mutex> lock(questionsMutex_);
    return pendingQuestions_.size();
}

std::string TBNService::localHostName() {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return "localhost";
    return buffer;
}

bool TBNService::pairedDeviceOnline() {
    auto device = settings_->firstPairedDevice();
    return device && device->online();
}

// ---- Life cycle --------------------------------------------------------------------------

void TBNService::start() {
    TBN_LOG_DEBUG_BEGIN(kTag);
    if (!options_.generateSSLCerts) {
        startWithSSLIdentity(std::nullopt);
        return;
    }
    auto& source = options_.identitySource;
    if (!source.isSetuped) {
        TBN_LOG_WARN(kTag, "no source of the local TLS identity: HTTPS servers not started");
        startWithSSLIdentity(std::nullopt);
        TBN_LOG_DEBUG_END(kTag);
        return;
    }
    const bool setUp = source.isSetuped();
    const bool expired = setUp && source.isExpired && source.isExpired();
    if (setUp && !expired) {
        startWithSSLIdentity(source.identity ? source.identity() : std::nullopt);
        TBN_LOG_DEBUG_END(kTag);
        return;
    }
    TBN_LOG_WARN(kTag, "the local TLS identity is {}; asking to create it",
                 setUp ? "about to expire" : "missing or not trusted");
    std::weak_ptr<TBNService> weakSelf = weak_from_this();
    auto once = std::make_shared<std::once_flag>();
    onMain([weakSelf, once] {
        auto self = weakSelf.lock();
        if (!self) return;
        auto reply = [weakSelf, once](bool create) {
            std::call_once(*once, [&] {
                auto self = weakSelf.lock();
                if (!self) return;
                if (!create) {
                    self->terminateApplication();
                    return;
                }
                self->async([weakSelf] {
                    auto self = weakSelf.lock();
                    if (self) self->createIdentityAndStart();
                });
            });
        };
        auto ui = self->uiService();
        if (ui) {
            ui->showCreateSSLIdentityAlert(reply);
        } else {
            reply(false);
        }
    });
    TBN_LOG_DEBUG_END(kTag);
}

void TBNService::createIdentityAndStart() {
    auto& source = options_.identitySource;
    if (source.setup) source.setup();
    if (source.isSetuped && source.isSetuped()) {
        startWithSSLIdentity(source.identity ? source.identity() : std::nullopt);
        return;
    }
    TBN_LOG_ERROR(kTag, "creating the local TLS identity failed");
    std::weak_ptr<TBNService> weakSelf = weak_from_this();
    onMain([weakSelf] {
        auto self = weakSelf.lock();
        if (!self) return;
        auto ui = self->uiService();
        auto closed = [weakSelf] {
            if (auto self = weakSelf.lock()) self->terminateApplication();
        };
        if (ui) {
            ui->showSSLIdentityFailedAlert(closed);
        } else {
            closed();
        }
    });
}

void TBNService::startWithSSLIdentity(const std::optional<SSLIdentity>& identity) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    std::unique_ptr<Servers> old;
    {
        std::lock_guard<std::mutex> lock(serversMutex_);
        old = std::move(servers_);
    }
    // Servers of an earlier start give up their ports before the new ones bind them.
    old.reset();
    {
        std::lock_guard<std::mutex> lock(questionsMutex_);
        questionsClosed_ = false;
    }

    auto servers = std::make_unique<Servers>();
    TBNServiceHandlerFactories::Processors made;
    if (options_.handlers.processors && hostService_) {
        made = options_.handlers.processors(hostService_, remoteService_);
    }
    servers->keepAlive = made.keepAlive;
    std::shared_ptr<apache::thrift::TProcessor> logging;
    if (logService_) logging = std::make_shared<TBNLoggingServiceProcessor>(logService_);

    ThriftHTTPServer::Processors plain, secure;
    for (auto& p : {made.hostStorage, made.storage, logging}) {
        if (p) plain.push_back(p);
    }
    for (auto& p : {made.hostStorage, made.storage}) {
        if (p) secure.push_back(p);
    }
    if (!made.hostStorage || !made.storage) {
        TBN_LOG_ERROR(kTag, "extension handlers missing: storage calls are not served");
    }

    auto factory = ThriftJSONProtocolFactory::sharedFactory();
    std::weak_ptr<ThriftHTTPServerDelegate> weakSelf = weak_from_this();
    auto serverOptions = options_.serverOptions;
    // The host handler answers these from the settings alone: they never wait for the
    // phone or the user, so the servers answer them without a hand-off to a worker.
    if (serverOptions.quickMethods.empty())
        serverOptions.quickMethods = {"sendPing", "generatePassword"};
    servers->server = ThriftHTTPServer::initAsConcurrentWithPort(options_.httpPort, std::nullopt,
                                                                 factory, plain, serverOptions);
    servers->server->setDelegate(weakSelf);
    if (identity) {
        servers->sslServer = ThriftHTTPServer::initAsConcurrentWithPort(
            options_.httpsPort, identity, factory, secure, serverOptions);
        servers->sslServer->setDelegate(weakSelf);
        if (logging) {
            servers->sslLogServer = ThriftHTTPServer::initAsSerialQueueWithPort(
                options_.loggingPort, identity, factory, logging, serverOptions);
            servers->sslLogServer->setDelegate(weakSelf);
        }
    } else {
        // Never plain HTTP on the ports the extensions reach over TLS.
        TBN_LOG_WARN(kTag, "no local TLS identity: only the plain-HTTP server runs");
    }
    {
        std::lock_guard<std::mutex> lock(serversMutex_);
        servers_ = std::move(servers);
        linkStarted_ = true;
    }
    if (remoteService_) remoteService_->start();
    TBN_LOG_DEBUG_END(kTag);
}

void TBNService::stop() {
    TBN_LOG_DEBUG_BEGIN(kTag);
    if (remoteService_) remoteService_->stop();
    std::unique_ptr<Servers> servers;
    {
        std::lock_guard<std::mutex> lock(serversMutex_);
        servers = std::move(servers_);
        linkStarted_ = false;
    }
    {
        std::lock_guard<std::mutex> lock(questionsMutex_);
        questionsClosed_ = true;
    }
    // Questions blocking a connection thread end now, so the servers can wind down.
    cancelPendingQuestions();
    if (servers) {
        servers->server.reset();
        servers->sslServer.reset();
        servers->sslLogServer.reset();
    }
    TBN_LOG_DEBUG_END(kTag);
}

bool TBNService::isRunning() const {
    std::lock_guard<std::mutex> lock(serversMutex_);
    return servers_ != nullptr;
}

ThriftHTTPServer* TBNService::server() const {
    std::lock_guard<std::mutex> lock(serversMutex_);
    return servers_ ? servers_->server.get() : nullptr;
}

ThriftHTTPServer* TBNService::sslServer() const {
    std::lock_guard<std::mutex> lock(serversMutex_);
    return servers_ ? servers_->sslServer.get() : nullptr;
}

ThriftHTTPServer* TBNService::sslLogServer() const {
    std::lock_guard<std::mutex> lock(serversMutex_);
    return servers_ ? servers_->sslLogServer.get() : nullptr;
}

void TBNService::goToSleep() {
    TBN_LOG_INFO(kTag, "going to sleep: stopping the phone link");
    isSleeping_ = true;
    if (remoteService_) remoteService_->stop();
}

void TBNService::wakeFromSleep() {
    TBN_LOG_INFO(kTag, "woke up");
    if (auto d = delegate()) d->serviceDidUpdateUI(*this);
    isSleeping_ = false;
    bool started = false;
    {
        std::lock_guard<std::mutex> lock(serversMutex_);
        started = linkStarted_;
    }
    // Only a link that ran before the sleep comes back (not one the user never started).
    if (started && remoteService_) remoteService_->start();
}

// ---- State ---------------------------------------------------------------------------------

TBNServiceWarningType TBNService::warningType() {
    TBNServiceWarningType type = TBNServiceWarningTypeNone;
    if (!remoteService_) {
        TBN_LOG_INFO(kTag, "service {} has no remote phone service", fmt::ptr(this));
        type = TBNServiceWarningTypeNotInitialized;
    } else if (!remoteService_->bluetoothOn()) {
        type = TBNServiceWarningTypeBluetoothOff;
    } else if (settings_->expectedDeviceId()) {
        type = TBNServiceWarningTypeSearchingPhone;
    } else if (auto device = settings_->firstPairedDevice(); !device) {
        type = TBNServiceWarningTypeNotPairedPhone;
    } else if (device->online()) {
        type =
            device->appState() == 2 ? TBNServiceWarningDeviceDBLocked : TBNServiceWarningTypeNone;
    } else {
        type = device->deviceIsNear() ? TBNServiceWarningTypeCannotFindLumvaneApp
                                      : TBNServiceWarningTypeCannotFindPairedPhone;
    }
    TBN_LOG_INFO(kTag, "warning type: {}", warningName(type));
    return type;
}

bool TBNService::showingUnpairedDevice() const {
    std::lock_guard<std::mutex> lock(lock_);
    return showingUnpairedDevice_;
}

std::shared_ptr<TBNServiceDelegate> TBNService::delegate() const {
    std::lock_guard<std::mutex> lock(refsMutex_);
    return delegate_.lock();
}
void TBNService::setDelegate(std::weak_ptr<TBNServiceDelegate> delegate) {
    std::lock_guard<std::mutex> lock(refsMutex_);
    delegate_ = std::move(delegate);
}
std::shared_ptr<TBNServicePingDelegate> TBNService::pingDelegate() const {
    std::lock_guard<std::mutex> lock(refsMutex_);
    return pingDelegate_.lock();
}
void TBNService::setPingDelegate(std::weak_ptr<TBNServicePingDelegate> delegate) {
    std::lock_guard<std::mutex> lock(refsMutex_);
    pingDelegate_ = std::move(delegate);
}
std::shared_ptr<TBNUIServiceProtocol> TBNService::uiService() const {
    std::lock_guard<std::mutex> lock(refsMutex_);
    return uiService_.lock();
}
void TBNService::setUiService(std::weak_ptr<TBNUIServiceProtocol> uiService) {
    std::lock_guard<std::mutex> lock(refsMutex_);
    uiService_ = std::move(uiService);
}
std::shared_ptr<TBNNotifications> TBNService::notifications() const {
    std::lock_guard<std::mutex> lock(refsMutex_);
    return notifications_.lock();
}
void TBNService::setNotifications(std::weak_ptr<TBNNotifications> notifications) {
    std::lock_guard<std::mutex> lock(refsMutex_);
    notifications_ = std::move(notifications);
}

void TBNService::notify(std::function<void(TBNNotifications&)> notice) {
    std::weak_ptr<TBNService> weakSelf = weak_from_this();
    onMain([weakSelf, notice = std::move(notice)] {
        auto self = weakSelf.lock();
        if (!self) return;
        if (auto n = self->notifications()) notice(*n);
    });
}

void TBNService::onMainUI(std::function<void(TBNUIServiceProtocol&)> page) {
    std::weak_ptr<TBNService> weakSelf = weak_from_this();
    onMain([weakSelf, page = std::move(page)] {
        auto self = weakSelf.lock();
        if (!self) return;
        if (auto ui = self->uiService()) page(*ui);
    });
}

void TBNService::openExtensionRegistration() {
    if (hostService_ && options_.handlers.openExtensionRegistration) {
        options_.handlers.openExtensionRegistration(*hostService_);
    }
}

bool TBNService::wouldAskForSSLIdentity() const {
    const auto& source = options_.identitySource;
    if (!options_.generateSSLCerts || !source.isSetuped) return false;
    return !source.isSetuped() || (source.isExpired && source.isExpired());
}

bool TBNService::canSupportBluetoothLowEnergy() {
    if (options_.bluetoothCheck) return options_.bluetoothCheck();
    return TBNBLEChecker::create(clock_)->canSupportBluetoothLowEnergy();
}

}  // namespace lumvane
