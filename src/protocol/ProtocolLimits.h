#pragma once
// Limits for every protocol that reads peer input: message size (through the transport's
// TConfiguration), string and container sizes (through the protocol). Build reading
// protocols with these helpers rather than constructing TCompactProtocol or
// TBinaryProtocol directly.
#include <cstddef>
#include <cstdint>
#include <memory>

#include <thrift/TConfiguration.h>
#include <thrift/protocol/TProtocol.h>
#include <thrift/transport/TBufferTransports.h>

namespace lumvane {

struct ProtocolLimits {
    int32_t maxMessageSize = 64 * 1024 * 1024;  // whole message, bytes
    int32_t maxStringSize = 32 * 1024 * 1024;   // one string or binary, bytes
    int32_t maxContainerSize = 1024 * 1024;     // elements of one list, set or map
    int32_t recursionLimit = 64;                // nesting of records and containers
};

std::shared_ptr<apache::thrift::TConfiguration> limitedConfiguration(
    const ProtocolLimits& limits = {});

std::shared_ptr<apache::thrift::protocol::TProtocol> makeCompactProtocol(
    std::shared_ptr<apache::thrift::transport::TTransport> transport,
    const ProtocolLimits& limits = {});

std::shared_ptr<apache::thrift::protocol::TProtocol> makeBinaryProtocol(
    std::shared_ptr<apache::thrift::transport::TTransport> transport,
    const ProtocolLimits& limits = {});

// A memory buffer holding a copy of `size` bytes to be read, configured with the limits.
// Throws TTransportException when the bytes exceed the message size limit.
std::shared_ptr<apache::thrift::transport::TMemoryBuffer> makeReadBuffer(
    const uint8_t* data, size_t size, const ProtocolLimits& limits = {});

// An empty memory buffer to write a message into.
std::shared_ptr<apache::thrift::transport::TMemoryBuffer> makeWriteBuffer(
    const ProtocolLimits& limits = {});

}  // namespace lumvane
