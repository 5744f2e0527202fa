#pragma once
// SHA-256 and cryptographically strong random bytes, both through OpenSSL.
#include <cstddef>
#include <string_view>

#include "runtime/Bytes.h"

namespace lumvane {

// The 32-byte SHA-256 digest of the input (the empty input has a digest too).
Bytes sha256(const Bytes& data);
Bytes sha256(const void* data, size_t size);
Bytes sha256(std::string_view text);

// n bytes from OpenSSL's generator; throws std::runtime_error when it cannot deliver,
// never hands out weak or partial randomness.
Bytes randomBytes(size_t n);

}  // namespace lumvane
