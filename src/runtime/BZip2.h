#pragma once
// bzip2 for every payload the system compresses (phone link chunks, import batches,
// encrypted blobs): block size 9 and the library's default work factor. Decompression
// is always capped, so a small stream can never make a large allocation.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "runtime/Bytes.h"

namespace lumvane::bz2 {

// The whole input as one bzip2 stream; nothing when the library reports an error.
std::optional<Bytes> compress(std::span<const uint8_t> data);

// Every non-empty stream is at least this long: the "BZh9" header (4 bytes), one block
// (48-bit magic, CRC, flag, origin pointer, symbol map, two coding tables and at least
// two symbols: at least 174 bits) and the end marker with the stream CRC (10 bytes).
// An input of at most this many bytes can never come out shorter. (Measured: the
// shortest stream the library makes is 37 bytes, and the shortest input it shrinks is
// 40 bytes of one repeated byte.)
inline constexpr size_t kNeverSmallerUpTo = 36;

// The stream only when it is strictly shorter than the input (empty input: nothing).
// Inputs of at most kNeverSmallerUpTo bytes are not tried.
std::optional<Bytes> compressIfSmaller(std::span<const uint8_t> data);

enum class Failure { kDamaged, kTooLarge };

// One or more concatenated bzip2 streams. Nothing when the input is empty, is not made
// of complete streams, or would give more than `maxOutput` bytes; `why` then says which.
std::optional<Bytes> decompress(std::span<const uint8_t> data, size_t maxOutput,
                                Failure* why = nullptr);

}  // namespace lumvane::bz2
