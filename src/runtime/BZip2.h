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

// The stream only when it is strictly shorter than the input (empty input: nothing).
std::optional<Bytes> compressIfSmaller(std::span<const uint8_t> data);

enum class Failure { kDamaged, kTooLarge };

// One or more concatenated bzip2 streams. Nothing when the input is empty, is not made
// of complete streams, or would give more than `maxOutput` bytes; `why` then says which.
std::optional<Bytes> decompress(std::span<const uint8_t> data, size_t maxOutput,
                                Failure* why = nullptr);

}  // namespace lumvane::bz2
