#include "runtime/HexString.h"

#include <stdexcept>

namespace lumvane {

std::string stringWithHexData(const Bytes& data) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(data.size() * 2);
    for (uint8_t b : data) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

Bytes hexData(std::string_view text) {
    Bytes out;
    out.reserve(text.size() / 2);
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            continue;
        }
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

std::string bitStringForData(const Bytes& data) {
    return bitStringForData(data, 0, data.size());
}

std::string bitStringForData(const Bytes& data, size_t start, size_t length) {
    if (start > data.size() || length > data.size() - start) {
        throw std::out_of_range("bit string range beyond the data");
    }
    std::string out;
    for (size_t i = start; i < start + length; ++i) {
        if (i != start) out.push_back('_');
        for (int bit = 7; bit >= 0; --bit) out.push_back((data[i] >> bit) & 1 ? '1' : '0');
    }
    return out;
}

}  // namespace lumvane
