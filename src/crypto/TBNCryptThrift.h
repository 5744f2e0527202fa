#pragma once

#include <memory>
#include <optional>
#include <stdexcept>

#include <thrift/TBase.h>

#include "crypto/CryptoTypes.h"
#include "idl/database.h"

namespace lumvane {

// Raised with the fixed reasons "Failed decrypt data", "Failed compress data" and
// "Failed decompress data".
class TBNCryptThriftException : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Records to bytes and back: salted blobs (version 1 and 2) sealed with the AES
// helper, and plain compact-protocol serialisation, optionally bzip2-compressed.
// Stateless; every call may run on any thread. Readers of outside bytes are
// bounded by the bytes actually present.
class TBNCryptThrift {
  public:
    using Record = apache::thrift::TBase;

    // Two uniform 32-bit draws below 0xFFFFFFFF: high half, then low half.
    static int64_t generateSalt();
    // "_tbnlmv_" read as a little-endian i64.
    static int64_t marker();

    static std::shared_ptr<TBNEncryptedBlob> createBlobWithObject(const Record& object);
    // Reads the record in place from the blob's payload (binary protocol).
    static void getObject(Record& object, const TBNEncryptedBlob& blob);
    static std::shared_ptr<TBNEncryptedBlob> createBlobWithData(std::optional<Bytes> data);
    // Replaces the buffer's contents by the payload (empty when there is none).
    static void getData(Bytes& data, const TBNEncryptedBlob& blob);

    static std::shared_ptr<TBNEncryptedBlobV2> createBlobV2WithObject(const Record& object);
    // Reads the record from the payload; no marker test.
    static void getObject(Record& object, const TBNEncryptedBlobV2& blob);
    static std::shared_ptr<TBNEncryptedBlobV2> createBlobV2WithData(std::optional<Bytes> data);
    static void getData(Bytes& data, const TBNEncryptedBlobV2& blob);

    // AES of the record's binary-protocol bytes (empty when AES fails).
    static Bytes encryptObject(const Record& object, ByteView key);
    // Reads the record in place from the decrypted bytes. Throws
    // TBNCryptThriftException("Failed decrypt data") when decryption fails or the
    // plaintext does not end in a stop byte, and the RPC runtime's exceptions when
    // the bytes are not a valid record.
    static void decryptObject(Record& object, ByteView data, ByteView key);

    // AES of a version-2 blob holding the bytes (absent bytes: a blob without payload).
    static Bytes encryptData(const std::optional<Bytes>& data, ByteView key);
    // The same for bytes that are present, without copying them first.
    static Bytes encryptData(const Bytes& data, ByteView key);
    // The payload of a valid version-2 blob, nothing when a field is missing or the
    // marker test fails; throws like decryptObject().
    static std::optional<Bytes> decryptData(ByteView data, ByteView key);

    // Replace the payload by its bzip2 (de)compression; false (blob unchanged) on error.
    static bool compressBlob(TBNEncryptedBlob& blob);
    static bool decompressBlob(TBNEncryptedBlob& blob);
    static bool compressBlobV2(TBNEncryptedBlobV2& blob);
    static bool decompressBlobV2(TBNEncryptedBlobV2& blob);

    static Bytes serializeObject(const Record& object);
    static void deserializeObject(Record& object, ByteView data);
    // Throws TBNCryptThriftException("Failed compress data").
    static Bytes serializeObjectWithBZip(const Record& object);
    // Throws TBNCryptThriftException("Failed decompress data"); the record is untouched then.
    static void deserializeObjectFromBZipData(Record& object, ByteView data);

    // bzip2 with block size 9 and the default work factor. decompress() refuses
    // output above maxOutput (a bound against decompression bombs); both give
    // nothing on any error.
    static constexpr size_t kMaxDecompressedSize = size_t{256} << 20;
    static std::optional<Bytes> compress(ByteView data);
    static std::optional<Bytes> decompress(ByteView data, size_t maxOutput = kMaxDecompressedSize);
};

}  // namespace lumvane
