#include "u2f/HexEncoding.h"

namespace lumvane {

namespace {
std::string encode(const Bytes& bytes, const char* digits) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}
}  // namespace

std::string hexString(const Bytes& bytes) {
    return encode(bytes, "0123456789abcdef");
}

std::string hexEncodedString(const Bytes& bytes, HexEncodingOptions options) {
    return encode(bytes, (options.rawValue & HexEncodingOptions::upperCase) ? "0123456789ABCDEF"
                                                                            : "0123456789abcdef");
}

}  // namespace lumvane
