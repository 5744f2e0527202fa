#pragma once
// bzip2 for the chunk payloads: block size 9, work factor 0 (the library's 30).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "crypto/CryptoTypes.h"

namespace lumvane::blec {

// Compresses `data` and returns the stream only when it is strictly shorter than
// the input; nothing when bzip2 fails or the result would not be smaller.
std::optional<Bytes> bzip2CompressIfSmaller(const Bytes& data);

// Compresses `data` whatever its gain; nothing when bzip2 reports an error.
std::optional<Bytes> bzip2Compress(const Bytes& data);

// Decompresses one or more concatenated bzip2 streams. Nothing when the input is
// not a complete bzip2 stream or the output would exceed `maxOutput` bytes.
std::optional<Bytes> bzip2Decompress(const uint8_t* data, size_t size, size_t maxOutput);

}  // namespace lumvane::blec
