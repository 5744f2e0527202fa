#include "protocol/services/SiteDataPayload.h"

#include <bzlib.h>

#include <algorithm>
#include <limits>

#include <thrift/protocol/TProtocolException.h>

namespace lumvane {

using apache::thrift::protocol::TProtocolException;

namespace {
constexpr int kBlockSize100k = 9;
constexpr int kWorkFactor = 0;  // the library's default (30)
constexpr size_t kChunk = 64 * 1024;
}  // namespace

std::optional<Bytes> bzip2Compress(const Bytes& input) {
    if (input.size() > std::numeric_limits<unsigned int>::max()) return std::nullopt;
    // The documented worst case: 1% larger plus 600 bytes.
    size_t bound = input.size() + input.size() / 100 + 601;
    if (bound > std::numeric_limits<unsigned int>::max()) return std::nullopt;
    Bytes out(bound);
    unsigned int outLen = static_cast<unsigned int>(bound);
    int rc = BZ2_bzBuffToBuffCompress(
        reinterpret_cast<char*>(out.data()), &outLen,
        const_cast<char*>(reinterpret_cast<const char*>(input.data())),
        static_cast<unsigned int>(input.size()), kBlockSize100k, 0, kWorkFactor);
    if (rc != BZ_OK || outLen == 0) return std::nullopt;
    out.resize(outLen);
    return out;
}

Bytes bzip2Decompress(const Bytes& input, size_t maxOutput) {
    bz_stream stream{};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
        throw TProtocolException(TProtocolException::UNKNOWN, "bzip2: cannot start");
    }
    struct Guard {
        bz_stream* s;
        ~Guard() { BZ2_bzDecompressEnd(s); }
    } guard{&stream};

    Bytes out;
    size_t inOffset = 0;
    while (true) {
        // Once the output has reached the cap, offer one probe byte: the stream may
        // still end there, but any further byte means it is too large.
        uint8_t probe = 0;
        const bool probing = out.size() >= maxOutput;
        if (probing) {
            stream.next_out = reinterpret_cast<char*>(&probe);
            stream.avail_out = 1;
        } else {
            const size_t old = out.size();
            const size_t grow = std::min(kChunk, maxOutput - old);
            out.resize(old + grow);
            stream.next_out = reinterpret_cast<char*>(out.data() + old);
            stream.avail_out = static_cast<unsigned int>(grow);
        }
        const unsigned int offered = stream.avail_out;
        const size_t inChunk =
            std::min<size_t>(input.size() - inOffset, std::numeric_limits<unsigned int>::max());
        stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(input.data() + inOffset));
        stream.avail_in = static_cast<unsigned int>(inChunk);
        const int rc = BZ2_bzDecompress(&stream);
        inOffset += inChunk - stream.avail_in;
        const unsigned int produced = offered - stream.avail_out;
        if (probing) {
            if (produced > 0) {
                throw TProtocolException(TProtocolException::SIZE_LIMIT,
                                         "bzip2: output exceeds the limit");
            }
        } else {
            out.resize(out.size() - stream.avail_out);
        }
        if (rc == BZ_STREAM_END) break;
        if (rc != BZ_OK) {
            throw TProtocolException(TProtocolException::INVALID_DATA, "bzip2: damaged data");
        }
        if (produced == 0 && inOffset >= input.size()) {
            throw TProtocolException(TProtocolException::INVALID_DATA, "bzip2: truncated data");
        }
    }
    return out;
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
