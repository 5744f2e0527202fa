#pragma once
// Encoding helpers shared by the protocol tests.
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TCompactProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/ProtocolLimits.h"

namespace lumvane::testing {

enum class Wire { Compact, Binary };

inline const char* wireName(Wire w) { return w == Wire::Compact ? "compact" : "binary"; }

inline std::shared_ptr<apache::thrift::protocol::TProtocol> protocolOn(
    std::shared_ptr<apache::thrift::transport::TMemoryBuffer> buffer, Wire wire) {
    return wire == Wire::Compact ? makeCompactProtocol(buffer) : makeBinaryProtocol(buffer);
}

// Anything with write(TProtocol*): our records and the stock ones alike.
template <class R>
std::string encode(const R& record, Wire wire) {
    auto buffer = makeWriteBuffer();
    auto protocol = protocolOn(buffer, wire);
    record.write(protocol.get());
    return buffer->getBufferAsString();
}

template <class R>
void decodeInto(R& record, const std::string& bytes, Wire wire) {
    auto buffer = makeReadBuffer(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    auto protocol = protocolOn(buffer, wire);
    record.read(protocol.get());
}

template <class R>
R decode(const std::string& bytes, Wire wire) {
    R record;
    decodeInto(record, bytes, wire);
    return record;
}

// The ids of the top-level fields of an encoded record, in wire order.
inline std::vector<int16_t> fieldIds(const std::string& bytes, Wire wire) {
    auto buffer = makeReadBuffer(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    auto protocol = protocolOn(buffer, wire);
    std::vector<int16_t> ids;
    std::string name;
    protocol->readStructBegin(name);
    while (true) {
        apache::thrift::protocol::TType type;
        int16_t id;
        protocol->readFieldBegin(name, type, id);
        if (type == apache::thrift::protocol::T_STOP) break;
        ids.push_back(id);
        protocol->skip(type);
        protocol->readFieldEnd();
    }
    return ids;
}

inline std::string bytesOf(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

}  // namespace lumvane::testing
