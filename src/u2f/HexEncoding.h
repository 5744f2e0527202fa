#pragma once
// Hex texts of byte data for the security-key log lines and dumps.
#include <cstdint>
#include <string>

#include "runtime/Bytes.h"

namespace lumvane {

// Two lower-case hex digits per byte.
std::string hexString(const Bytes& bytes);

struct HexEncodingOptions {
    int64_t rawValue = 0;
    static constexpr int64_t upperCase = 1;
};

std::string hexEncodedString(const Bytes& bytes, HexEncodingOptions options = {});

}  // namespace lumvane
