#include "blec/BLECPayloadCipher.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <cstring>
#include <limits>
#include <stdexcept>

#include "crypto/RandomSource.h"
#include "crypto/TBNCryptAES.h"

namespace lumvane::blec {

namespace {

void putBE(Bytes& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

int64_t blobMarker() {
    static constexpr char kMarker[] = "_tbnlmv_";
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(kMarker[i]);
    return static_cast<int64_t>(v);
}

Bytes encodeBlobV2(int64_t salt, std::span<const uint8_t> payload) {
    if (payload.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        throw std::length_error("payload too large for an envelope");
    }
    Bytes out;
    out.reserve(30 + payload.size());
    out.push_back(0x0A);  // i64
    putBE(out, 1, 2);
    putBE(out, static_cast<uint64_t>(salt), 8);
    out.push_back(0x0A);  // i64
    putBE(out, 2, 2);
    putBE(out, static_cast<uint64_t>(salt ^ blobMarker()), 8);
    out.push_back(0x0B);  // binary
    putBE(out, 3, 2);
    putBE(out, payload.size(), 4);
    out.insert(out.end(), payload.begin(), payload.end());
    out.push_back(0x00);  // stop
    return out;
}

std::optional<Bytes> decodeBlobV2(std::span<const uint8_t> plaintext) {
    using apache::thrift::protocol::TBinaryProtocol;
    using apache::thrift::protocol::TType;
    using apache::thrift::transport::TMemoryBuffer;

    // A record in the binary protocol always ends with its stop byte.
    if (plaintext.empty()) throw std::out_of_range("empty plaintext");
    if (plaintext.back() != 0) throw std::runtime_error("Failed decrypt data");
    if (plaintext.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        throw std::length_error("plaintext too large");
    }

    auto buffer = std::make_shared<TMemoryBuffer>(const_cast<uint8_t*>(plaintext.data()),
                                                  static_cast<uint32_t>(plaintext.size()),
                                                  TMemoryBuffer::OBSERVE);
    // No string or container may claim more than the bytes that are there.
    const auto limit = static_cast<int32_t>(plaintext.size());
    TBinaryProtocol proto(buffer, limit, limit, false, false);

    std::optional<int64_t> salt;
    std::optional<int64_t> saltXorMarker;
    std::optional<std::string> blob;
    std::string name;
    proto.readStructBegin(name);
    for (;;) {
        TType type;
        int16_t id;
        proto.readFieldBegin(name, type, id);
        if (type == apache::thrift::protocol::T_STOP) break;
        if (id == 1 && type == apache::thrift::protocol::T_I64) {
            int64_t v;
            proto.readI64(v);
            salt = v;
        } else if (id == 2 && type == apache::thrift::protocol::T_I64) {
            int64_t v;
            proto.readI64(v);
            saltXorMarker = v;
        } else if (id == 3 && type == apache::thrift::protocol::T_STRING) {
            std::string v;
            proto.readBinary(v);
            blob = std::move(v);
        } else {
            proto.skip(type);
        }
        proto.readFieldEnd();
    }
    proto.readStructEnd();

    if (!salt || !saltXorMarker || !blob) return std::nullopt;
    if ((*salt ^ *saltXorMarker) != blobMarker()) return std::nullopt;
    return Bytes(blob->begin(), blob->end());
}

int64_t generateBlobSalt() {
    uint64_t high = randomUniform32(0xFFFFFFFFu);
    uint64_t low = randomUniform32(0xFFFFFFFFu);
    return static_cast<int64_t>((high << 32) | low);
}

Bytes encryptPayload(std::span<const uint8_t> payload, std::span<const uint8_t> key) {
    Bytes plain;
    try {
        plain = encodeBlobV2(generateBlobSalt(), payload);
    } catch (const std::exception&) {
        return {};
    }
    return TBNCryptAES::encryptData(plain, key);
}

std::optional<Bytes> decryptPayload(std::span<const uint8_t> ciphertext,
                                    std::span<const uint8_t> key) {
    Bytes plain = TBNCryptAES::decryptData(ciphertext, key);
    return decodeBlobV2(plain);
}

}  // namespace lumvane::blec
