#include "runtime/TBNUtil.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <stdexcept>

#include "runtime/Digest.h"

namespace lumvane {

std::string TBNUtil::getSecreteCodeFromDeviceId(std::string_view deviceId,
                                                std::string_view /*devicePublicKey*/,
                                                std::string_view clientId,
                                                std::string_view /*clientPublicKey*/,
                                                std::string_view clientSecret) {
    std::string input;
    input.reserve(deviceId.size() + clientId.size() + clientSecret.size());
    input.append(deviceId);
    input.append(clientId);
    input.append(clientSecret);
    return secreteCodeFromDigest(sha256(input));
}

std::string TBNUtil::secreteCodeFromDigest(const Bytes& digest) {
    unsigned code = 0;
    for (size_t i = 0; i + 1 < digest.size() && i < 32; i += 2) {
        code ^= static_cast<unsigned>(digest[i]) | static_cast<unsigned>(digest[i + 1]) << 8;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%05u", code);
    return buf;
}

std::string TBNUtil::generateId() {
    Bytes b = randomBytes(16);
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
    return idFromData(b);
}

std::string TBNUtil::idFromData(const Bytes& data) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        const uint8_t b = i < data.size() ? data[i] : 0;
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

Bytes TBNUtil::dataIdFromStringId(std::string_view id) {
    auto fail = [] { return std::invalid_argument("not an identifier"); };
    if (id.size() != 36) throw fail();
    Bytes out;
    out.reserve(16);
    int high = -1;
    for (size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') throw fail();
            continue;
        }
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            throw fail();
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

namespace {

// The leading decimal integer of a text the way a 32-bit "int value" reads it: optional
// white space and sign, then digits; 0 when there are none; saturated at the int range.
int32_t leadingInt(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1)
            value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    return static_cast<int32_t>(value);
}

}  // namespace

uint64_t TBNUtil::versionCode(std::string_view version) {
    uint64_t code = 0;
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        uint64_t byte = 0;
        if (start <= version.size()) {
            size_t end = version.find('.', start);
            if (end == std::string_view::npos) end = version.size();
            byte = static_cast<uint32_t>(leadingInt(version.substr(start, end - start))) & 0xFF;
            start = end + 1;
        }
        code |= byte << (24 - 8 * part);
    }
    return code;
}

bool TBNUtil::validateUrl(std::string_view text) {
    if (text.find('.') == std::string_view::npos) return false;
    bool fragment = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (std::isalnum(c)) continue;
        switch (c) {
            case '-':
            case '.':
            case '_':
            case '~':  // unreserved
            case ':':
            case '/':
            case '?':
            case '[':
            case ']':
            case '@':
            case '!':
            case '$':
            case '&':
            case '\'':
            case '(':
            case ')':
            case '*':
            case '+':
            case ',':
            case ';':
            case '=':
                continue;
            case '#':
                if (fragment) return false;  // a second fragment mark
                fragment = true;
                continue;
            case '%':
                if (i + 2 >= text.size() ||
                    !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
                    !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
                    return false;
                }
                i += 2;
                continue;
            default:
                return false;  // spaces, controls, non-ASCII, quotes, braces, ...
        }
    }
    return true;
}

}  // namespace lumvane
