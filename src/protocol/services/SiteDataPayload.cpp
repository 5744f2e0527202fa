#include "protocol/services/SiteDataPayload.h"

#include <algorithm>
#include <limits>

#include <thrift/protocol/TProtocolException.h>

#include "runtime/BZip2.h"

namespace lumvane {

using apache::thrift::protocol::TProtocolException;

std::optional<Bytes> bzip2Compress(const Bytes& input) {
    return bz2::compress(input);
}

Bytes bzip2Decompress(const Bytes& input, size_t maxOutput) {
    bz2::Failure why = bz2::Failure::kDamaged;
    auto out = bz2::decompress(input, maxOutput, &why);
    if (!out && why == bz2::Failure::kTooLarge) {
        throw TProtocolException(TProtocolException::SIZE_LIMIT, "bzip2: output exceeds the limit");
    }
    if (!out) throw TProtocolException(TProtocolException::INVALID_DATA, "bzip2: damaged stream");
    return std::move(*out);
}

Bytes compactBytes(const apache::thrift::TBase& record) {
    auto buffer = makeWriteBuffer();
    auto protocol = makeCompactProtocol(buffer);
    record.write(protocol.get());
    uint8_t* data = nullptr;
    uint32_t size = 0;
    buffer->getBuffer(&data, &size);
    return Bytes(data, data + size);
}

SerializedRecords serializeRecords(const apache::thrift::TBase& record, bool compress) {
    SerializedRecords out;
    out.bytes = compactBytes(record);
    if (compress) {
        if (auto packed = bzip2Compress(out.bytes)) {
            out.typeSerialize = static_cast<int32_t>(1);
            out.bytes = std::move(*packed);
        }
    }
    return out;
}

void deserializeRecords(apache::thrift::TBase& into, int32_t typeSerialize, const Bytes& data,
                        const ProtocolLimits& limits) {
    const Bytes* compact = &data;
    Bytes unpacked;
    if (typeSerialize == 1) {
        unpacked = bzip2Decompress(data, static_cast<size_t>(limits.maxMessageSize));
        compact = &unpacked;
    } else if (typeSerialize != 0) {
        return;
    }
    auto buffer = makeReadBuffer(compact->data(), compact->size(), limits);
    auto protocol = makeCompactProtocol(buffer, limits);
    into.read(protocol.get());
}

}  // namespace lumvane
