#pragma once

#include <cstdint>
#include <string>

#include "crypto/CryptoTypes.h"

namespace lumvane {

// Random bytes, tokens, picks and shuffles. Every draw goes through the current
// RandomSource (the system CSPRNG outside tests) and throws CryptoRandomError
// when it fails; no draw is ever reduced with a biased modulo.
class TBNCryptRnd {
  public:
    // A half-open range [location, length): `length` is the exclusive upper bound.
    struct SourceRange {
        uint64_t location = 0;
        uint64_t length = 0;
    };

    static TBNCryptRnd& shareRnd();

    // Exactly n random bytes, built from whole 32-bit words below 0xFFFFFFFF.
    Bytes randomDataByLenght(uint64_t n) const;
    // 2 * floor(n / 2) upper-case hex characters.
    std::string randomHexByLenght(uint64_t n) const;
    // count bytes, each picked independently and uniformly from source. Throws
    // std::invalid_argument for an empty source with a non-zero count.
    Bytes randomDataByLenght(uint64_t count, ByteView sourceData) const;
    // A shuffled copy (Fisher-Yates); the input is left unchanged.
    Bytes randomSortData(ByteView data) const;
    // Uniform in [location, length), or 0 when length <= location.
    uint64_t randomBySourceRange(SourceRange range) const;

    // One uniform 32-bit word in 0 ... 0xFFFFFFFE, the unit of the word draws.
    static uint32_t randomWord();

  private:
    TBNCryptRnd() = default;
};

}  // namespace lumvane
