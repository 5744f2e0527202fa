#pragma once
// Encryption of one chunked message's payload: the payload is wrapped in a salted
// version-2 envelope (salt, salt XOR marker, payload; Thrift binary protocol) and
// the envelope is AES-encrypted with the link key. The marker lets the receiver
// tell a right key from a wrong one.
#include <cstdint>
#include <optional>
#include <span>

#include "crypto/CryptoTypes.h"

namespace lumvane::blec {

// The marker "_tbnlmv_" read as a little-endian signed 64-bit integer.
int64_t blobMarker();

// The binary-protocol bytes of the envelope before encryption.
Bytes encodeBlobV2(int64_t salt, std::span<const uint8_t> payload);

// The payload of an envelope, or nothing when a field is missing or the salts do
// not match the marker. Throws std::exception subclasses on malformed input (the
// RPC runtime's protocol/transport exceptions, std::out_of_range).
std::optional<Bytes> decodeBlobV2(std::span<const uint8_t> plaintext);

// A fresh salt: two uniform draws below 0xFFFFFFFF, high half first.
int64_t generateBlobSalt();

// Ciphertext of a fresh envelope of `payload`; empty bytes when AES fails.
Bytes encryptPayload(std::span<const uint8_t> payload, std::span<const uint8_t> key);

// The payload, or nothing when this key does not open the ciphertext. Throws on
// a plaintext that is not a record (wrong key whose padding happened to pass).
std::optional<Bytes> decryptPayload(std::span<const uint8_t> ciphertext,
                                    std::span<const uint8_t> key);

}  // namespace lumvane::blec
