#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace lumvane {

// Byte strings travel as plain vectors; read-only arguments take a span so that
// callers can pass any contiguous buffer without copying.
using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

}  // namespace lumvane
