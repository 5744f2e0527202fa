#include "crypto/TBNCryptThrift.h"

#include <openssl/crypto.h>
#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TBufferTransports.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "crypto/RandomSource.h"
#include "crypto/TBNCryptAES.h"
#include "crypto/TBNCryptHash.h"
#include "crypto/TBNCryptRnd.h"
#include "protocol/ProtocolLimits.h"
#include "runtime/BZip2.h"

namespace lumvane {

namespace {

using apache::thrift::transport::TMemoryBuffer;

// Serialises into a growable buffer and hands the bytes to `use` without copying
// them; the buffer is wiped before it is released (it may hold secrets).
template <class Use>
auto withWritten(const TBNCryptThrift::Record& object, bool compact, Use use, size_t sizeHint = 0) {
    // Our own records need no read limits; a plain buffer grows by doubling, or
    // starts at the size the caller expects.
    auto buffer = sizeHint > 0 && sizeHint < UINT32_MAX
                      ? std::make_shared<TMemoryBuffer>(static_cast<uint32_t>(sizeHint))
                      : std::make_shared<TMemoryBuffer>();
    auto protocol = compact ? makeCompactProtocol(buffer) : makeBinaryProtocol(buffer);
    object.write(protocol.get());
    uint8_t* data = nullptr;
    uint32_t size = 0;
    buffer->getBuffer(&data, &size);
    struct Wipe {
        uint8_t* data;
        uint32_t size;
        ~Wipe() {
            if (size > 0) OPENSSL_cleanse(data, size);
        }
    } wipe{data, size};
    return use(ByteView(data, size));
}

Bytes writeWith(const TBNCryptThrift::Record& object, bool compact) {
    return withWritten(object, compact,
                       [](ByteView bytes) { return Bytes(bytes.begin(), bytes.end()); });
}

// Reading outside bytes: no string, container or message can claim more than the
// bytes that are there.
void readWith(TBNCryptThrift::Record& object, ByteView data, bool compact) {
    if (data.size() > static_cast<size_t>(INT32_MAX)) {
        throw apache::thrift::transport::TTransportException(
            apache::thrift::transport::TTransportException::END_OF_FILE, "MaxMessageSize reached");
    }
    ProtocolLimits limits;
    const auto size = static_cast<int32_t>(std::max<size_t>(data.size(), 1));
    limits.maxMessageSize = size;
    limits.maxStringSize = size;
    limits.maxContainerSize = size;
    auto buffer = makeReadBuffer(data.data(), data.size(), limits);
    std::shared_ptr<apache::thrift::protocol::TProtocol> protocol;
    if (compact) {
        protocol = makeCompactProtocol(buffer, limits);
    } else {
        protocol = makeBinaryProtocol(buffer, limits);
    }
    object.read(protocol.get());
}

Bytes payloadOf(const std::optional<Bytes>& blob) {
    return blob ? *blob : Bytes();
}

}  // namespace

namespace {

// Random bytes for salts. A salt is drawn for every sealed message, and each call into
// the system source costs far more than the bytes it gives, so the system's bytes come
// through a per-thread store filled in bulk. A salt is no secret: it is written next to
// the ciphertext. Another source (a test's) is asked directly, byte for byte as needed.
void saltBytes(uint8_t* out, size_t n) {
    RandomSource& source = currentRandomSource();
    if (&source != &systemRandomSource()) {
        source.fill({out, n});
        return;
    }
    struct Store {
        std::array<uint8_t, 1024> bytes;
        size_t used = sizeof bytes;
    };
    thread_local Store store;
    if (store.bytes.size() - store.used < n) {
        source.fill(store.bytes);
        store.used = 0;
    }
    std::memcpy(out, store.bytes.data() + store.used, n);
    store.used += n;
}

}  // namespace

int64_t TBNCryptThrift::generateSalt() {
    // Two words, each uniform over 0 ... 0xFFFFFFFE like TBNCryptRnd::randomWord(): the
    // first two words of the stream that are not all ones, the usual two drawn at once.
    uint32_t words[2];
    saltBytes(reinterpret_cast<uint8_t*>(words), sizeof words);
    size_t have = 2, at = 0;
    auto next = [&] {
        for (;;) {
            if (at == have) {
                saltBytes(reinterpret_cast<uint8_t*>(words), sizeof words[0]);
                have = 1;
                at = 0;
            }
            const uint32_t word = words[at++];
            if (word != 0xFFFFFFFFu) return word;
        }
    };
    const uint64_t high = next();
    const uint64_t low = next();
    return static_cast<int64_t>(high << 32 | low);
}

int64_t TBNCryptThrift::marker() {
    static const int64_t kMarker = [] {
        const std::string text = TBNdatabaseConstants::TBNMarker();
        uint64_t value = 0;
        for (size_t i = 0; i < 8 && i < text.size(); ++i) {
            value |= uint64_t{static_cast<uint8_t>(text[i])} << (8 * i);
        }
        return static_cast<int64_t>(value);
    }();
    return kMarker;
}

std::shared_ptr<TBNEncryptedBlob> TBNCryptThrift::createBlobWithObject(const Record& object) {
    return std::make_shared<TBNEncryptedBlob>(generateSalt(), writeWith(object, false));
}

void TBNCryptThrift::getObject(Record& object, const TBNEncryptedBlob& blob) {
    readWith(object, payloadOf(blob.blob()), false);
}

std::shared_ptr<TBNEncryptedBlob> TBNCryptThrift::createBlobWithData(std::optional<Bytes> data) {
    return std::make_shared<TBNEncryptedBlob>(generateSalt(), std::move(data));
}

void TBNCryptThrift::getData(Bytes& data, const TBNEncryptedBlob& blob) {
    data = payloadOf(blob.blob());
}

std::shared_ptr<TBNEncryptedBlobV2> TBNCryptThrift::createBlobV2WithObject(const Record& object) {
    const int64_t salt = generateSalt();
    return std::make_shared<TBNEncryptedBlobV2>(salt, salt ^ marker(), writeWith(object, false));
}

void TBNCryptThrift::getObject(Record& object, const TBNEncryptedBlobV2& blob) {
    readWith(object, payloadOf(blob.blob()), false);
}

std::shared_ptr<TBNEncryptedBlobV2> TBNCryptThrift::createBlobV2WithData(
    std::optional<Bytes> data) {
    const int64_t salt = generateSalt();
    return std::make_shared<TBNEncryptedBlobV2>(salt, salt ^ marker(), std::move(data));
}

void TBNCryptThrift::getData(Bytes& data, const TBNEncryptedBlobV2& blob) {
    data = payloadOf(blob.blob());
}

Bytes TBNCryptThrift::encryptObject(const Record& object, ByteView key) {
    return withWritten(object, false,
                       [key](ByteView plain) { return TBNCryptAES::encryptData(plain, key); });
}

void TBNCryptThrift::decryptObject(Record& object, ByteView data, ByteView key) {
    Bytes plain = TBNCryptAES::decryptData(data, key);
    // An empty plaintext (any AES failure) and one that does not end in the
    // record's stop byte are the same failure; nothing past the end is read.
    struct Wipe {
        Bytes& bytes;
        ~Wipe() { clear(bytes); }
    } wipe{plain};
    if (plain.empty() || plain.back() != 0) {
        throw TBNCryptThriftException("Failed decrypt data");
    }
    readWith(object, plain, false);
}

namespace {

// The version-2 envelope in the binary protocol, laid out here so the payload goes from
// the caller's buffer straight into the ciphertext's: field 1 (i64 salt), field 2 (i64
// salt XOR marker), field 3 (binary payload, only when present), stop.
Bytes sealVersionTwo(const ByteView* data, ByteView key) {
    if (data && data->size() > static_cast<size_t>(INT32_MAX)) {
        throw apache::thrift::protocol::TProtocolException(
            apache::thrift::protocol::TProtocolException::SIZE_LIMIT);
    }
    const int64_t salt = TBNCryptThrift::generateSalt();
    uint8_t head[29];
    size_t at = 0;
    auto put16 = [&](uint16_t v) {
        head[at++] = static_cast<uint8_t>(v >> 8);
        head[at++] = static_cast<uint8_t>(v);
    };
    auto put64 = [&](int64_t v) {
        for (int shift = 56; shift >= 0; shift -= 8) {
            head[at++] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> shift);
        }
    };
    head[at++] = 0x0A;  // i64
    put16(1);
    put64(salt);
    head[at++] = 0x0A;
    put16(2);
    put64(salt ^ TBNCryptThrift::marker());
    if (data) {
        head[at++] = 0x0B;  // binary
        put16(3);
        const auto n = static_cast<uint32_t>(data->size());
        put16(static_cast<uint16_t>(n >> 16));
        put16(static_cast<uint16_t>(n));
    }
    static const uint8_t kStop = 0;
    Bytes cipher = TBNCryptAES::encryptPieces(
        {ByteView(head, at), data ? *data : ByteView(), ByteView(&kStop, 1)}, key);
    OPENSSL_cleanse(head, sizeof head);
    return cipher;
}

}  // namespace

Bytes TBNCryptThrift::encryptData(const std::optional<Bytes>& data, ByteView key) {
    if (!data) return sealVersionTwo(nullptr, key);
    const ByteView view(*data);
    return sealVersionTwo(&view, key);
}

Bytes TBNCryptThrift::encryptData(const Bytes& data, ByteView key) {
    const ByteView view(data);
    return sealVersionTwo(&view, key);
}

std::optional<Bytes> TBNCryptThrift::decryptData(ByteView data, ByteView key) {
    TBNEncryptedBlobV2 blob;
    decryptObject(blob, data, key);
    if (!blob.saltIsSet() || !blob.saltXorMarkerIsSet() || !blob.blobIsSet() || !blob.blob() ||
        (blob.salt() ^ blob.saltXorMarker()) != marker()) {
        return std::nullopt;
    }
    return *blob.blob();
}

std::optional<Bytes> TBNCryptThrift::compress(ByteView data) {
    return bz2::compress(data);
}

std::optional<Bytes> TBNCryptThrift::decompress(ByteView data, size_t maxOutput) {
    return bz2::decompress(data, maxOutput);
}

bool TBNCryptThrift::compressBlob(TBNEncryptedBlob& blob) {
    auto packed = compress(payloadOf(blob.blob()));
    if (!packed) return false;
    blob.setBlob(std::move(*packed));
    return true;
}

bool TBNCryptThrift::decompressBlob(TBNEncryptedBlob& blob) {
    auto unpacked = decompress(payloadOf(blob.blob()));
    if (!unpacked) return false;
    blob.setBlob(std::move(*unpacked));
    return true;
}

bool TBNCryptThrift::compressBlobV2(TBNEncryptedBlobV2& blob) {
    auto packed = compress(payloadOf(blob.blob()));
    if (!packed) return false;
    blob.setBlob(std::move(*packed));
    return true;
}

bool TBNCryptThrift::decompressBlobV2(TBNEncryptedBlobV2& blob) {
    auto unpacked = decompress(payloadOf(blob.blob()));
    if (!unpacked) return false;
    blob.setBlob(std::move(*unpacked));
    return true;
}

Bytes TBNCryptThrift::serializeObject(const Record& object) {
    return writeWith(object, true);
}

void TBNCryptThrift::deserializeObject(Record& object, ByteView data) {
    readWith(object, data, true);
}

Bytes TBNCryptThrift::serializeObjectWithBZip(const Record& object) {
    auto packed = compress(serializeObject(object));
    if (!packed) {
        throw TBNCryptThriftException("Failed compress data");
    }
    return std::move(*packed);
}

void TBNCryptThrift::deserializeObjectFromBZipData(Record& object, ByteView data) {
    auto unpacked = decompress(data);
    if (!unpacked) {
        throw TBNCryptThriftException("Failed decompress data");
    }
    readWith(object, *unpacked, true);
}

}  // namespace lumvane
