#pragma once
// The extension's channel to the main application: one synchronous RPC per operation,
// bare Thrift JSON messages POSTed to the storage service on the loopback address. Every
// call makes its own client, transport and protocol; only the request counter and the
// credentials read from the keychain are shared.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "JSRecords.h"
#include "SafariURL.h"

namespace lumvane {

class TBNRequestInfo;
class TBNAuthentication;
class TBNLoginData;

// The packed answer of sendPing, lowest byte first: log level, phone state (1 online,
// 2 offline, 3 not paired, 0 unrecognised), service error (1 failure, 2 paused),
// extended mode (0/1, or 2 for "no reply at all"), analytics (0/1).
using PingStatus = uint64_t;

struct PingWord {
    static constexpr PingStatus kFailure = 0x10000;
    static constexpr PingStatus kPaused = 0x20000;
    static constexpr PingStatus kNoReply = 0x2000000;
    static unsigned logLevel(PingStatus w) { return w & 0xff; }
    static unsigned phoneState(PingStatus w) { return (w >> 8) & 0xff; }
    static unsigned serviceError(PingStatus w) { return (w >> 16) & 0xff; }
    static unsigned extendedMode(PingStatus w) { return (w >> 24) & 0xff; }
    static unsigned analytics(PingStatus w) { return (w >> 32) & 0xff; }
};

struct CommunicationEnvironment {
    std::string url = "http://127.0.0.1:19521/thrift";
    // The text of the credentials item ("clientId:clientSecret"), nothing when unreadable.
    std::function<std::optional<std::string>()> credentialsText;
    // Whole seconds since 1970 (UTC).
    std::function<int64_t()> nowSeconds;
    // Bounds of one call, so that a main application that accepts and never answers holds
    // neither a tab nor the ping loop: reaching it, a whole ping, and a whole question (which
    // may wait for the user's answer in the main application).
    std::chrono::milliseconds connectTimeout{2000};
    std::chrono::milliseconds pingTimeout{5000};
    std::chrono::milliseconds questionTimeout{310000};

    // The loopback address above, the keychain item "com.tobrin.lumvane.safariauth" and
    // the system clock.
    static CommunicationEnvironment system();
};

class Communication {
  public:
    static constexpr const char* kAppIdentifier = "com.tobrin.safari.lumvane";
    static constexpr const char* kAppVersion = "20.5.28.1";
    static constexpr const char* kCredentialsItem = "com.tobrin.lumvane.safariauth";

    explicit Communication(
        CommunicationEnvironment environment = CommunicationEnvironment::system());

    PingStatus sendPing();
    std::vector<JSAccount> getSiteData(const SafariURL& url);
    std::optional<std::string> chooseSiteData(const SafariURL& url,
                                              const std::vector<std::string>& accounts,
                                              bool noCache);
    std::optional<JSAccount> getLoginData(const SafariURL& url, const std::string& login);
    std::optional<JS2FACode> get2FACode(const SafariURL& url, const std::string& login);
    void addLoginData(const JSAccount& account, const SafariURL& url);
    void updateLoginData(const JSAccount& account, const SafariURL& url,
                         const std::string& currentLogin);

    std::shared_ptr<TBNRequestInfo> makeRequestInfo();
    std::shared_ptr<TBNAuthentication> makeAuthentication();
    int64_t requestId() const { return requestId_.load(); }

    // The login record sent by addLoginData and updateLoginData.
    static std::shared_ptr<TBNLoginData> loginDataFromAccount(const JSAccount& account);
    // The account made from the login record of a getLoginData reply.
    static JSAccount accountFromLoginData(const TBNLoginData& data);

  private:
    struct Endpoint {
        std::string host;
        int port = 80;
        std::string path;
    };
    template <class Client>
    std::shared_ptr<Client> makeClient(std::chrono::milliseconds callTimeout);

    CommunicationEnvironment env_;
    std::optional<Endpoint> endpoint_;
    std::atomic<int64_t> requestId_{0};
    std::mutex credentialsMutex_;
    std::optional<std::string> clientId_;
    std::optional<std::string> clientSecret_;
};

}  // namespace lumvane
