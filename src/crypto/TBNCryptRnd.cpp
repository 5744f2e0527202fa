#include "crypto/TBNCryptRnd.h"

#include <limits>
#include <stdexcept>
#include <utility>

#include "crypto/RandomSource.h"

namespace lumvane {

namespace {
constexpr uint32_t kWordBound = 0xFFFFFFFFu;
}

TBNCryptRnd& TBNCryptRnd::shareRnd() {
    static TBNCryptRnd instance;
    return instance;
}

uint32_t TBNCryptRnd::randomWord() {
    return randomUniform32(kWordBound);
}

Bytes TBNCryptRnd::randomDataByLenght(uint64_t n) const {
    // One word more than needed, as whole words; words equal to 0xFFFFFFFF are
    // drawn again so each word is uniform over 0 ... 0xFFFFFFFE.
    if (n > std::numeric_limits<size_t>::max() - 8) {
        throw std::length_error("Random data length too large");
    }
    const uint64_t words = n / 4 + 1;
    Bytes out(static_cast<size_t>(words * 4));
    currentRandomSource().fill(out);
    for (size_t i = 0; i < out.size(); i += 4) {
        while (out[i] == 0xFF && out[i + 1] == 0xFF && out[i + 2] == 0xFF && out[i + 3] == 0xFF) {
            currentRandomSource().fill({out.data() + i, 4});
        }
    }
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string TBNCryptRnd::randomHexByLenght(uint64_t n) const {
    static const char kDigits[] = "0123456789ABCDEF";
    const Bytes data = randomDataByLenght(n / 2);
    std::string out;
    out.reserve(data.size() * 2);
    for (uint8_t b : data) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

Bytes TBNCryptRnd::randomDataByLenght(uint64_t count, ByteView sourceData) const {
    if (count == 0) {
        return {};
    }
    if (sourceData.empty()) {
        throw std::invalid_argument("Cannot pick random bytes from an empty source");
    }
    Bytes out(static_cast<size_t>(count));
    for (auto& b : out) {
        b = sourceData[static_cast<size_t>(randomUniform64(sourceData.size()))];
    }
    return out;
}

Bytes TBNCryptRnd::randomSortData(ByteView data) const {
    Bytes out(data.begin(), data.end());
    for (size_t k = out.size(); k >= 1; --k) {
        const size_t j = static_cast<size_t>(randomUniform64(k));
        std::swap(out[j], out[k - 1]);
    }
    return out;
}

uint64_t TBNCryptRnd::randomBySourceRange(SourceRange range) const {
    if (range.length <= range.location) {
        return 0;
    }
    return range.location + randomUniform64(range.length - range.location);
}

}  // namespace lumvane
