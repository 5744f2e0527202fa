#pragma once
// Shared pieces of the service tests: protocols over memory, a transport that hands
// each call to a processor, and complete sample messages.
#include <memory>
#include <string>
#include <vector>

#include <thrift/TProcessor.h>
#include <thrift/transport/TBufferTransports.h>

#include "idl/protocols.h"
#include "protocol/ProtocolLimits.h"
#include "protocol/services/AsyncMemoryTransport.h"

namespace lumvane::testing {

enum class Wire { Compact, Binary };

inline const char* wireName(Wire w) {
    return w == Wire::Compact ? "Compact" : "Binary";
}

inline std::shared_ptr<apache::thrift::protocol::TProtocol> protocolOn(
    Wire wire, std::shared_ptr<apache::thrift::transport::TTransport> t) {
    return wire == Wire::Compact ? makeCompactProtocol(std::move(t))
                                 : makeBinaryProtocol(std::move(t));
}

inline std::string bytesOf(apache::thrift::transport::TMemoryBuffer& b) {
    return b.getBufferAsString();
}

// Runs one message through a processor and returns the reply bytes.
inline AsyncMemoryTransport::Exchange processorExchange(
    std::shared_ptr<apache::thrift::TProcessor> processor, Wire wire) {
    return [processor, wire](const std::string& call) {
        auto in = makeReadBuffer(reinterpret_cast<const uint8_t*>(call.data()), call.size());
        auto out = makeWriteBuffer();
        processor->process(protocolOn(wire, in), protocolOn(wire, out), nullptr);
        return out->getBufferAsString();
    };
}

inline std::shared_ptr<TBNRequestInfo> sampleRequestInfo(const std::string& id = "req-1") {
    return std::make_shared<TBNRequestInfo>(id, 1700000000, "ctx");
}

inline std::shared_ptr<TBNResponseInfo> sampleResponseInfo(const std::string& id = "resp-1") {
    return std::make_shared<TBNResponseInfo>(id, 1700000001, "req-1", nullptr, "ctx");
}

inline std::shared_ptr<TBNAuthentication> sampleAuth() {
    return std::make_shared<TBNAuthentication>("client-id", "client-secret");
}

inline std::shared_ptr<TBNError> sampleError() {
    return std::make_shared<TBNError>(2, 3, "User canceled");
}

inline Bytes bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

struct Sample {
    std::string name;
    std::shared_ptr<apache::thrift::TBase> request;
    std::shared_ptr<apache::thrift::TBase> response;  // null: the method returns nothing
};

// One complete call per mobile-storage method, every field set, in the service's order.
std::vector<Sample> mobileSamples();
std::shared_ptr<TBNSiteData> sampleSite(const std::string& url);

}  // namespace lumvane::testing
