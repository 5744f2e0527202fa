#include "blec/BLECCharacteristics.h"

#include <cctype>

namespace lumvane::blec {

std::string characteristicUuid(const char* code) {
    return std::string("05550D60-") + code + "-11E5-97D7-0002A5D5C51B";
}

std::optional<std::string> characteristicCode(const std::string& uuid) {
    static const std::string prefix = "05550D60-";
    static const std::string suffix = "-11E5-97D7-0002A5D5C51B";
    if (uuid.size() != prefix.size() + 4 + suffix.size()) return std::nullopt;
    if (uuid.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    if (uuid.compare(prefix.size() + 4, suffix.size(), suffix) != 0) return std::nullopt;
    return uuid.substr(prefix.size(), 4);
}

namespace {

bool validUtf8(const Bytes& b) {
    size_t i = 0;
    while (i < b.size()) {
        const uint8_t c = b[i];
        size_t n = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= b.size()) return false;
        for (size_t k = 1; k <= n; ++k) {
            if ((b[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += n + 1;
    }
    return true;
}

}  // namespace

std::optional<std::string> decodeString(const Bytes& value) {
    if (!validUtf8(value)) return std::nullopt;
    return std::string(value.begin(), value.end());
}

Bytes encodeString(const std::string& value) {
    return Bytes(value.begin(), value.end());
}

uint32_t decodeUInt32(const Bytes& value) {
    if (value.size() != 4) return 0;
    return uint32_t(value[0]) | (uint32_t(value[1]) << 8) | (uint32_t(value[2]) << 16) |
           (uint32_t(value[3]) << 24);
}

Bytes encodeUInt32(uint32_t v) {
    return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

}  // namespace lumvane::blec
