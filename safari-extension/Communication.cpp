#include "Communication.h"

#include <thrift/transport/THttpClient.h>
#include <thrift/transport/TSocket.h>
#include <thrift/transport/TTransportException.h>

#include <algorithm>
#include <chrono>
#include <limits>

#include "ExceptionGuard.h"
#include "SafariLog.h"
#include "crypto/TBNKeyChainManager.h"
#include "extension/ThriftJSONProtocol.h"
#include "idl/protocols.h"

namespace lumvane {

using apache::thrift::transport::THttpClient;
using apache::thrift::transport::TSocket;
using apache::thrift::transport::TTransportException;

CommunicationEnvironment CommunicationEnvironment::system() {
    CommunicationEnvironment env;
    env.credentialsText = []() -> std::optional<std::string> {
        try {
            return TBNKeyChainManager::sharedManager().stringForKey(
                std::string(Communication::kCredentialsItem));
        } catch (...) {
            return std::nullopt;
        }
    };
    env.nowSeconds = [] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
    };
    return env;
}

Communication::Communication(CommunicationEnvironment environment) : env_(std::move(environment)) {
    // "http://host:port/path"; anything else leaves no endpoint, and every call then
    // ends as one without a client.
    auto url = SafariURL::parse(env_.url);
    if (url && url->scheme == "http" && url->host && !url->host->empty()) {
        Endpoint ep;
        ep.host = *url->host;
        ep.path = url->path.empty() ? "/" : url->path;
        std::string auth = env_.url.substr(7);
        auth = auth.substr(0, auth.find('/'));
        size_t colon = auth.rfind(':');
        if (colon != std::string::npos && colon + 1 < auth.size()) {
            try {
                ep.port = std::stoi(auth.substr(colon + 1));
            } catch (...) {
                ep.port = -1;
            }
        }
        if (ep.port > 0 && ep.port < 65536) endpoint_ = ep;
    }
}

namespace {

// A socket whose whole exchange ends by a deadline fixed when it is made: every read and
// write may wait only for what is left of it, so neither silence nor a reply trickling in
// byte by byte holds the caller longer.
class DeadlineSocket : public TSocket {
  public:
    DeadlineSocket(const std::string& host, int port, std::chrono::milliseconds connectTimeout,
                   std::chrono::milliseconds callTimeout)
        : TSocket(host, port), deadline_(std::chrono::steady_clock::now() + callTimeout) {
        setConnTimeout(static_cast<int>(std::max<int64_t>(1, connectTimeout.count())));
    }
    uint32_t read(uint8_t* buf, uint32_t len) override {
        setRecvTimeout(remainingMs());
        return TSocket::read(buf, len);
    }
    uint32_t write_partial(const uint8_t* buf, uint32_t len) override {
        setSendTimeout(remainingMs());
        return TSocket::write_partial(buf, len);
    }

  private:
    int remainingMs() const {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline_ - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            throw TTransportException(TTransportException::TIMED_OUT,
                                      "the main application did not answer in time");
        }
        return static_cast<int>(std::min<int64_t>(left, std::numeric_limits<int>::max()));
    }
    std::chrono::steady_clock::time_point deadline_;
};

}  // namespace

template <class Client>
std::shared_ptr<Client> Communication::makeClient(std::chrono::milliseconds callTimeout) {
    if (!endpoint_) return nullptr;
    auto socket = std::make_shared<DeadlineSocket>(endpoint_->host, endpoint_->port,
                                                   env_.connectTimeout, callTimeout);
    auto transport = std::make_shared<THttpClient>(socket, endpoint_->host, endpoint_->path);
    auto protocol = std::make_shared<ThriftJSONProtocol>(transport);
    return std::make_shared<Client>(protocol);
}

std::shared_ptr<TBNRequestInfo> Communication::makeRequestInfo() {
    int64_t id = ++requestId_;
    int64_t now = env_.nowSeconds ? env_.nowSeconds() : 0;
    return std::make_shared<TBNRequestInfo>(std::to_string(id), now, std::string());
}

std::shared_ptr<TBNAuthentication> Communication::makeAuthentication() {
    std::lock_guard<std::mutex> lock(credentialsMutex_);
    if (!clientId_ || !clientSecret_) {
        std::optional<std::string> text;
        if (env_.credentialsText) text = env_.credentialsText();
        if (text) {
            size_t colon = text->find(':');
            if (colon != std::string::npos && text->find(':', colon + 1) == std::string::npos) {
                clientId_ = text->substr(0, colon);
                clientSecret_ = text->substr(colon + 1);
            }
        }
    }
    return std::make_shared<TBNAuthentication>(clientId_, clientSecret_);
}

namespace {

// Runs one call; the caught exception is logged and reported as false.
template <class F>
bool guarded(F&& work) {
    try {
        ExceptionGuard::tryCatch(work);
        return true;
    } catch (const NSExceptionError& e) {
        SafariLog::system(std::string("error: ") + e.what());
        return false;
    }
}

template <class Reply>
const TBNError* replyError(const Reply& reply) {
    if (!reply.info()) return nullptr;
    return reply.info()->error().get();
}

void logError(const TBNError& error) {
    SafariLog::system("error: " + error.description());
}

}  // namespace

PingStatus Communication::sendPing() {
    auto client = makeClient<TBNHostStorageServiceClient>(env_.pingTimeout);
    if (!client) return PingWord::kNoReply;
    auto request =
        std::make_shared<TBNPingTestRequest>(makeRequestInfo(), makeAuthentication(),
                                             std::string(kAppIdentifier), std::string(kAppVersion));
    std::shared_ptr<TBNPongTestResponse> reply;
    if (!guarded([&] {
            client->outputProtocol()->getTransport()->open();
            reply = client->sendPing(request);
        })) {
        return PingWord::kFailure;
    }
    if (!reply) return PingWord::kNoReply;
    if (auto* error = replyError(*reply)) {
        logError(*error);
        return error->id() == 16 ? PingWord::kPaused : PingWord::kFailure;
    }
    int64_t flags = reply->flags();
    PingStatus level = 0;
    switch (flags & 3) {
        case 1:
            level = 1;
            break;
        case 2:
            level = 2;
            break;
        case 3:
            level = 3;
            break;
        default:
            level = 0;
    }
    PingStatus phone = 0;
    switch (flags & 48) {
        case 0:
            phone = 1;
            break;
        case 16:
            phone = 2;
            break;
        case 32:
            phone = 3;
            break;
        default:
            phone = 0;
    }
    PingStatus extended = reply->extendedMode() ? 1 : 0;
    PingStatus analytics = (flags & 4) == 4 ? 1 : 0;
    return level | (phone << 8) | (extended << 24) | (analytics << 32);
}

std::vector<JSAccount> Communication::getSiteData(const SafariURL& url) {
    auto client = makeClient<TBNStorageServiceClient>(env_.questionTimeout);
    if (!client) return {};
    auto info = makeRequestInfo();
    auto auth = makeAuthentication();
    auto request = std::make_shared<TBNGetSiteDataRequest>(
        info, auth, url.absoluteString, siteDomainOfText(url.absoluteString), true, false, true);
    std::shared_ptr<TBNGetSiteDataResponse> reply;
    if (!guarded([&] {
            client->outputProtocol()->getTransport()->open();
            reply = client->getSiteData(request);
        })) {
        return {};
    }
    if (!reply) return {};
    if (auto* error = replyError(*reply)) {
        logError(*error);
        return {};
    }
    std::vector<JSAccount> accounts;
    if (!reply->record() || !reply->record()->loginData()) return accounts;
    for (const auto& entry : *reply->record()->loginData()) {
        JSAccount account;
        if (entry) account.login = entry->login();
        account.password = std::string();
        account.isLoginFinal = true;
        account.autoSubmit = false;
        accounts.push_back(std::move(account));
    }
    return accounts;
}

std::optional<std::string> Communication::chooseSiteData(const SafariURL& url,
                                                         const std::vector<std::string>& accounts,
                                                         bool noCache) {
    auto client = makeClient<TBNHostStorageServiceClient>(env_.questionTimeout);
    if (!client) return std::nullopt;
    auto info = makeRequestInfo();
    auto auth = makeAuthentication();
    auto request = std::make_shared<TBNChooseSiteDataRequest>(
        info, auth, url.absoluteString, siteDomainOfText(url.absoluteString),
        std::make_shared<std::vector<std::string>>(accounts), noCache);
    std::shared_ptr<TBNChooseSiteDataResponse> reply;
    if (!guarded([&] {
            client->outputProtocol()->getTransport()->open();
            reply = client->chooseSiteData(request);
        })) {
        return std::nullopt;
    }
    if (!reply) return std::nullopt;
    if (auto* error = replyError(*reply)) {
        logError(*error);
        return std::nullopt;
    }
    return reply->choosedAccount();
}

JSAccount Communication::accountFromLoginData(const TBNLoginData& data) {
    JSAccount account;
    account.login = data.login();
    if (data.password()) {
        auto bytes = base64Decode(*data.password());
        if (bytes && isValidUTF8(*bytes)) account.password = *bytes;
    }
    account.phone = data.phone();
    account.userName = data.userName();
    account.firstName = data.firstName();
    account.lastName = data.lastName();
    account.fullName = data.fullName();
    account.company = data.company();
    account.account = data.account();
    account.applicantId = data.applicantId();
    account.zipcode = data.zipcode();
    account.isLoginFinal = data.isLoginFinal();
    account.autoSubmit = false;
    return account;
}

std::optional<JSAccount> Communication::getLoginData(const SafariURL& url,
                                                     const std::string& login) {
    auto client = makeClient<TBNStorageServiceClient>(env_.questionTimeout);
    if (!client) return std::nullopt;
    auto info = makeRequestInfo();
    auto auth = makeAuthentication();
    auto request = std::make_shared<TBNGetLoginDataRequest>(
        info, auth, url.absoluteString, siteDomainOfText(url.absoluteString), false, login);
    std::shared_ptr<TBNGetLoginDataResponse> reply;
    if (!guarded([&] {
            client->outputProtocol()->getTransport()->open();
            reply = client->getLoginData(request);
        })) {
        return std::nullopt;
    }
    if (!reply) return std::nullopt;
    if (auto* error = replyError(*reply)) {
        logError(*error);
        return std::nullopt;
    }
    if (!reply->data()) return std::nullopt;
    return accountFromLoginData(*reply->data());
}

std::optional<JS2FACode> Communication::get2FACode(const SafariURL& url, const std::string& login) {
    auto client = makeClient<TBNStorageServiceClient>(env_.questionTimeout);
    if (!client) return std::nullopt;
    auto info = makeRequestInfo();
    auto auth = makeAuthentication();
    auto request = std::make_shared<TBNGet2FACodeRequest>(
        info, auth, url.absoluteString, siteDomainOfText(url.absoluteString), login);
    std::shared_ptr<TBNGet2FACodeResponse> reply;
    if (!guarded([&] {
            client->outputProtocol()->getTransport()->open();
            reply = client->get2FACode(request);
        })) {
        return std::nullopt;
    }
    if (!reply) return std::nullopt;
    if (auto* error = replyError(*reply)) {
        logError(*error);
        return std::nullopt;
    }
    JS2FACode code;
    code.code = reply->code();
    code.prevCode = reply->prevCode();
    code.nextCode = reply->nextCode();
    code.period = reply->period();
    code.startTimestamp = reply->startTimestamp();
    return code;
}

std::shared_ptr<TBNLoginData> Communication::loginDataFromAccount(const JSAccount& a) {
    std::optional<std::string> password;
    if (a.password) password = base64Encode(*a.password);
    return std::make_shared<TBNLoginData>(a.login, false, password, a.email, std::nullopt, a.phone,
                                          0, a.userName, a.firstName, a.lastName, a.fullName,
                                          a.company, a.account, a.applicantId, a.zipcode,
                                          a.isLoginFinal.value_or(true), std::nullopt, false, false,
                                          0, std::nullopt, std::nullopt, 0, 0, 0, nullptr, nullptr);
}

void Communication::addLoginData(const JSAccount& account, const SafariURL& url) {
    auto client = makeClient<TBNStorageServiceClient>(env_.questionTimeout);
    if (!client) return;
    auto info = makeRequestInfo();
    auto auth = makeAuthentication();
    auto request = std::make_shared<TBNAddLoginDataRequest>(info, auth, url.absoluteString,
                                                            siteDomainOfText(url.absoluteString),
                                                            loginDataFromAccount(account), false);
    std::shared_ptr<TBNAddLoginDataResponse> reply;
    if (!guarded([&] {
            client->outputProtocol()->getTransport()->open();
            reply = client->addLoginData(request);
        })) {
        return;
    }
    if (reply) {
        if (auto* error = replyError(*reply)) logError(*error);
    }
}

void Communication::updateLoginData(const JSAccount& account, const SafariURL& url,
                                    const std::string& currentLogin) {
    auto client = makeClient<TBNStorageServiceClient>(env_.questionTimeout);
    if (!client) return;
    auto info = makeRequestInfo();
    auto auth = makeAuthentication();
    auto request = std::make_shared<TBNUpdateLoginDataRequest>(
        info, auth, url.absoluteString, siteDomainOfText(url.absoluteString),
        loginDataFromAccount(account), currentLogin);
    std::shared_ptr<TBNUpdateLoginDataResponse> reply;
    if (!guarded([&] {
            client->outputProtocol()->getTransport()->open();
            reply = client->updateLoginData(request);
        })) {
        return;
    }
    if (reply) {
        if (auto* error = replyError(*reply)) logError(*error);
    }
}

}  // namespace lumvane
