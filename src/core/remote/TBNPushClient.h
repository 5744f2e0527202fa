#pragma once
// The push client that wakes the paired phone: Apple's push service over HTTP/2 with the
// provider's client certificate (libcurl). A connection is made from PKCS#12 bytes, a
// pass phrase and an environment; a notification carries payload bytes, the device token
// and the fields of the old binary interface (identifier, expiration, priority), of which
// the HTTP/2 interface keeps expiration and priority.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "runtime/Bytes.h"

namespace lumvane {

enum class PushEnvironment { Sandbox, Production };

struct PushNotification {
    Bytes payload;
    Bytes deviceToken;
    uint32_t identifier = 0;
    int64_t expiration = 0;  // seconds since 1970
    bool expires = false;
    uint8_t priority = 10;
};

class PushClient {
  public:
    virtual ~PushClient() = default;
    // Nothing on success, else the reason in words.
    virtual std::optional<std::string> sendNotification(const PushNotification& notification) = 0;
};

class ApnsPushClient : public PushClient {
  public:
    struct Endpoint {
        // "https://host:port"; empty: Apple's host of the environment.
        std::string baseUrl;
        // A CA file to trust in place of the system's (tests).
        std::string caFile;
    };

    // Checks the PKCS#12 bytes and pass phrase (a certificate and its private key must
    // come out) and keeps them for the connection, which opens with the first
    // notification and is reused after. Null with `error` filled when they are refused.
    static std::shared_ptr<ApnsPushClient> connect(const Bytes& pkcs12,
                                                   const std::string& passphrase,
                                                   PushEnvironment environment, std::string* error,
                                                   Endpoint endpoint = {});
    ~ApnsPushClient() override;

    std::optional<std::string> sendNotification(const PushNotification& notification) override;

    // The topic sent with each notification: the certificate's user id (the app's bundle
    // id), empty when the certificate has none.
    const std::string& topic() const { return topic_; }
    const std::string& baseUrl() const { return baseUrl_; }

    static std::string hostForEnvironment(PushEnvironment environment);

  private:
    ApnsPushClient() = default;

    std::mutex mutex_;
    void* curl_ = nullptr;  // CURL*, reused so the HTTP/2 connection stays open
    Bytes pkcs12_;
    std::string passphrase_;
    std::string topic_;
    std::string baseUrl_;
    std::string caFile_;
};

}  // namespace lumvane
