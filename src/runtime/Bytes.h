#pragma once
// The byte buffer type every subsystem passes around (keys, digests, wire data).
#include <cstdint>
#include <vector>

namespace lumvane {

using Bytes = std::vector<uint8_t>;

}  // namespace lumvane
