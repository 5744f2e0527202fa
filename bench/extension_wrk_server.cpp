// A loopback RPC server with a fake host-storage handler, for load tests with wrk:
//   extension_wrk_server [port] [seconds]
// prints the port it listens on and the body of a sendPing call, then serves for
// the given time (60 s by default).
#include <cstdlib>
#include <iostream>
#include <thread>

#include <thrift/transport/TBufferTransports.h>

#include "extension/TBNProtocolHelper.h"
#include "extension/ThriftHTTPServer.h"
#include "extension/ThriftJSONProtocol.h"
#include "idl/protocols.h"
#include "runtime/log/TBNLogger.h"

namespace {

class FakeHost : public lumvane::TBNHostStorageService {
  public:
    std::shared_ptr<lumvane::TBNPongTestResponse> sendPing(
        std::shared_ptr<lumvane::TBNPingTestRequest> request) override {
        return std::make_shared<lumvane::TBNPongTestResponse>(
            lumvane::TBNProtocolHelper::sharedHelper().nextResponseForRequest(request->info()),
            false, 32, std::nullopt);
    }
    std::shared_ptr<lumvane::TBNChooseSiteDataResponse> chooseSiteData(
        std::shared_ptr<lumvane::TBNChooseSiteDataRequest>) override {
        return nullptr;
    }
    std::shared_ptr<lumvane::TBNImportSiteDataFromGoogleResponse> importSiteDataFromGoogle(
        std::shared_ptr<lumvane::TBNImportSiteDataFromGoogleRequest>) override {
        return nullptr;
    }
    std::shared_ptr<lumvane::TBNGeneratePasswordResponse> generatePassword(
        std::shared_ptr<lumvane::TBNGeneratePasswordRequest>) override {
        return nullptr;
    }
};

}  // namespace

int main(int argc, char** argv) {
    lumvane::TBNLogger::setMaxLevel(lumvane::kTBNLogLevelOff);
    uint16_t port = argc > 1 ? static_cast<uint16_t>(std::atoi(argv[1])) : 0;
    int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    auto factory = lumvane::ThriftJSONProtocolFactory::sharedFactory();
    auto host =
        std::make_shared<lumvane::TBNHostStorageServiceProcessor>(std::make_shared<FakeHost>());
    auto server =
        lumvane::ThriftHTTPServer::initAsConcurrentWithPort(port, std::nullopt, factory, {host});
    if (!server->isListening()) {
        std::cerr << "cannot listen\n";
        return 1;
    }
    auto buffer = std::make_shared<apache::thrift::transport::TMemoryBuffer>();
    auto ping = std::make_shared<lumvane::TBNPingTestRequest>();
    ping->setInfo(lumvane::TBNProtocolHelper::sharedHelper().nextRequest());
    ping->setAppIdentifier("com.example.extension");
    ping->setAppVersion("1.0");
    lumvane::TBNHostStorageServiceClient(std::make_shared<lumvane::ThriftJSONProtocol>(buffer))
        .send_sendPing(ping);
    std::cout << server->port() << "\n" << buffer->getBufferAsString() << std::endl;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}
