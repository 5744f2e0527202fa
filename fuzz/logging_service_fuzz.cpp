// The logging service as extensions reach it: a POST body to the serial logging server
// (port 19524; the same processor also serves on 19521), bare or in its envelope, in the
// JSON encoding, into the extension log handler, which writes files in a folder of this
// run's own. An input's lines are written out before the next input starts, so what one
// input leaves behind is only files.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "FuzzScratch.h"
#include "extension/ThriftHTTPServer.h"
#include "extension/ThriftJSONProtocol.h"
#include "idl/protocols.h"
#include "runtime/extlog/TBNOSXLoggingService.h"
#include "runtime/log/TBNLogger.h"

namespace {

// Hands every call to the extension log handler and notes that a line came.
class Noting : public lumvane::TBNLoggingService {
  public:
    explicit Noting(std::shared_ptr<lumvane::TBNOSXLoggingService> handler)
        : handler_(std::move(handler)) {}
    void sendLog(std::shared_ptr<lumvane::TBNLogMessage> message) override {
        called = true;
        handler_->sendLog(std::move(message));
    }
    bool called = false;

  private:
    std::shared_ptr<lumvane::TBNOSXLoggingService> handler_;
};

struct Service {
    std::shared_ptr<lumvane::TBNOSXLoggingService> handler;
    std::shared_ptr<Noting> noting;
    std::unique_ptr<lumvane::ThriftHTTPServer> server;

    Service() {
        lumvane::TBNLogger::setMaxLevel(lumvane::kTBNLogLevelOff);
        lumvane::TBNOSXLoggingService::Options o;
        o.folder = lumvane::fuzz::scratchFolder() / "extensions";
        o.folderQuota = 4 * 1024 * 1024;
        o.notificationCenter = nullptr;
        o.logHelper = nullptr;
        // Fewer logs open at once than the program allows: each flush below waits for
        // every open log, and logs are closed and opened more often.
        o.maxLiveLogs = 4;
        handler = lumvane::TBNOSXLoggingService::create(13, o);  // verbose: every line
        noting = std::make_shared<Noting>(handler);
        lumvane::ThriftHTTPServer::Options options;
        options.listen = false;
        server = lumvane::ThriftHTTPServer::initAsSerialQueueWithPort(
            0, std::nullopt, lumvane::ThriftJSONProtocolFactory::sharedFactory(),
            std::make_shared<lumvane::TBNLoggingServiceProcessor>(noting), options);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Service* service = new Service();  // the whole run, like the program's
    service->noting->called = false;
    service->server->processRequest(std::string(reinterpret_cast<const char*>(data), size));
    if (service->noting->called) service->handler->flushLog();
    return 0;
}
