#include "protocol/ProtocolLimits.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TCompactProtocol.h>
#include <thrift/transport/TTransportException.h>

namespace lumvane {

using apache::thrift::TConfiguration;
using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::protocol::TCompactProtocol;
using apache::thrift::transport::TMemoryBuffer;
using apache::thrift::transport::TTransport;
using apache::thrift::transport::TTransportException;

std::shared_ptr<TConfiguration> limitedConfiguration(const ProtocolLimits& limits) {
    const int maxFrameSize = TConfiguration::DEFAULT_MAX_FRAME_SIZE;
    return std::make_shared<TConfiguration>(
        limits.maxMessageSize, maxFrameSize, limits.recursionLimit);
}

std::shared_ptr<apache::thrift::protocol::TProtocol> makeCompactProtocol(
    std::shared_ptr<TTransport> transport, const ProtocolLimits& limits) {
    return std::make_shared<TCompactProtocol>(
        std::move(transport), limits.maxStringSize, limits.maxContainerSize);
}

std::shared_ptr<apache::thrift::protocol::TProtocol> makeBinaryProtocol(
    std::shared_ptr<TTransport> transport, const ProtocolLimits& limits) {
    // strict read off: peers may send the old header form; strict write on.
    return std::make_shared<TBinaryProtocol>(
        std::move(transport), limits.maxStringSize, limits.maxContainerSize, false, true);
}

std::shared_ptr<TMemoryBuffer> makeReadBuffer(
    const uint8_t* data, size_t size, const ProtocolLimits& limits) {
    if (size > static_cast<size_t>(limits.maxMessageSize)) {
        throw TTransportException(TTransportException::END_OF_FILE, "MaxMessageSize reached");
    }
    auto buffer = std::make_shared<TMemoryBuffer>(static_cast<uint32_t>(size > 0 ? size : 1),
        limitedConfiguration(limits));
    if (size > 0) {
        buffer->write(data, static_cast<uint32_t>(size));
    }
    return buffer;
}

std::shared_ptr<TMemoryBuffer> makeWriteBuffer(const ProtocolLimits& limits) {
    return std::make_shared<TMemoryBuffer>(limitedConfiguration(limits));
}

}  // namespace lumvane
