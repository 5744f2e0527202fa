// Arbitrary POST bodies through the servers' request logic: envelope detection,
// envelope parsing, base64, decryption, processors and the reply envelope.
#include <openssl/sha.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "TBNHostStorageService.h"
#include "extension/ThriftHTTPServer.h"
#include "extension/ThriftJSONProtocol.h"
#include "runtime/log/TBNLogger.h"

namespace {

namespace wt = lumvane::wiretest;

class Host : public wt::TBNHostStorageServiceIf {
  public:
    void sendPing(wt::TBNPongTestResponse& out, const wt::TBNPingTestRequest& request) override {
        out.__set_clientSecret(request.auth.clientSecret);
    }
};

// Knows one client, whose key is the digest of "secret".
class Keys : public lumvane::ThriftHTTPServerDelegate {
  public:
    std::optional<lumvane::Bytes> thriftHTTPServer(lumvane::ThriftHTTPServer&,
                                                   const std::string& clientId) override {
        if (clientId != "c") return std::nullopt;
        lumvane::Bytes key(SHA256_DIGEST_LENGTH);
        SHA256(reinterpret_cast<const uint8_t*>("secret"), 6, key.data());
        return key;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto keys = std::make_shared<Keys>();
    static auto server = [] {
        lumvane::TBNLogger::setMaxLevel(lumvane::kTBNLogLevelOff);
        lumvane::ThriftHTTPServer::Options options;
        options.listen = false;
        auto s = lumvane::ThriftHTTPServer::initAsConcurrentWithPort(
            0, std::nullopt, lumvane::ThriftJSONProtocolFactory::sharedFactory(),
            {std::make_shared<wt::TBNHostStorageServiceProcessor>(std::make_shared<Host>())},
            options);
        s->setDelegate(keys);
        return s;
    }();
    server->processRequest(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
