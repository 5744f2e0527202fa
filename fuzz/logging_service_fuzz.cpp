// The logging service as extensions reach it: a POST body to the serial logging server
// (port 19524; the same processor also serves on 19521), bare or in its envelope, in the
// JSON encoding, into the extension log handler, which writes files in a folder of this
// run's own. Each input's lines are written out before the next input starts, so what
// one input leaves behind is only files.
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

struct Service {
    std::shared_ptr<lumvane::TBNOSXLoggingService> handler;
    std::unique_ptr<lumvane::ThriftHTTPServer> server;

    Service() {
        lumvane::TBNLogger::setMaxLevel(lumvane::kTBNLogLevelOff);
        lumvane::TBNOSXLoggingService::Options o;
        o.folder = lumvane::fuzz::scratchFolder() / "extensions";
        o.folderQuota = 4 * 1024 * 1024;
        o.notificationCenter = nullptr;
        o.logHelper = nullptr;
        handler = lumvane::TBNOSXLoggingService::create(13, o);  // verbose: every line
        lumvane::ThriftHTTPServer::Options options;
        options.listen = false;
        server = lumvane::ThriftHTTPServer::initAsSerialQueueWithPort(
            0, std::nullopt, lumvane::ThriftJSONProtocolFactory::sharedFactory(),
            std::make_shared<lumvane::TBNLoggingServiceProcessor>(handler), options);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Service* service = new Service();  // the whole run, like the program's
    service->server->processRequest(std::string(reinterpret_cast<const char*>(data), size));
    service->handler->flushLog();
    return 0;
}
