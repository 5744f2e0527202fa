#pragma once
// Hex and bit-string texts of byte data.
#include <cstddef>
#include <string>
#include <string_view>

#include "runtime/Bytes.h"

namespace lumvane {

// Two upper-case hex digits per byte, nothing between them.
std::string stringWithHexData(const Bytes& data);

// Bytes from the hex digits of the text; any other character is skipped and a last
// single digit is ignored ("0A:ff" and "0aFF" give 0A FF; "abc" gives AB).
Bytes hexData(std::string_view text);

// Eight '0'/'1' characters per byte, most significant bit first, groups joined by '_'.
std::string bitStringForData(const Bytes& data);
// The same over `length` bytes from `start`; throws std::out_of_range when the range
// reaches beyond the data.
std::string bitStringForData(const Bytes& data, size_t start, size_t length);

}  // namespace lumvane
