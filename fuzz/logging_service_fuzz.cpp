// The logging service as extensions reach it: one message through the processor (the
// first byte picks the binary or compact protocol) into the extension log handler,
// which writes files in a folder of this run's own, removed at the end.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include <thrift/Thrift.h>

#include "FuzzScratch.h"
#include "protocol/ProtocolLimits.h"
#include "runtime/extlog/TBNOSXLoggingService.h"

namespace {

lumvane::ProtocolLimits fuzzLimits() {
    lumvane::ProtocolLimits l;
    l.maxMessageSize = 1 << 20;
    l.maxStringSize = 1 << 20;
    l.maxContainerSize = 4096;
    return l;
}

std::shared_ptr<lumvane::TBNOSXLoggingService> service() {
    static std::shared_ptr<lumvane::TBNOSXLoggingService> s = [] {
        lumvane::TBNOSXLoggingService::Options o;
        o.folder = lumvane::fuzz::scratchFolder() / "extensions";
        o.folderQuota = 4 * 1024 * 1024;
        o.notificationCenter = nullptr;
        o.logHelper = nullptr;
        return lumvane::TBNOSXLoggingService::create(13, o);
    }();
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static lumvane::TBNLoggingServiceProcessor processor(service());
    const lumvane::ProtocolLimits limits = fuzzLimits();
    const bool compact = data[0] & 1;
    try {
        auto in = lumvane::makeReadBuffer(data + 1, size - 1, limits);
        auto out = lumvane::makeWriteBuffer(limits);
        auto inProt = compact ? lumvane::makeCompactProtocol(in, limits)
                              : lumvane::makeBinaryProtocol(in, limits);
        auto outProt = compact ? lumvane::makeCompactProtocol(out, limits)
                               : lumvane::makeBinaryProtocol(out, limits);
        processor.process(inProt, outProt, nullptr);
    } catch (const apache::thrift::TException&) {
        // Malformed input is refused by the protocol; nothing else may escape.
    }
    return 0;
}
