#pragma once

#include <cstdint>
#include <span>

#include "runtime/Bytes.h"

namespace lumvane {

// Read-only byte arguments take a span so that callers can pass any contiguous
// buffer (a Bytes vector converts implicitly) without copying.
using ByteView = std::span<const uint8_t>;

}  // namespace lumvane
