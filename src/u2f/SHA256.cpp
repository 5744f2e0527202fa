#include "u2f/SHA256.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>

#include "u2f/Utf8.h"

namespace lumvane {

std::atomic<int> SHA256::digestLength{32};

SHA256::SHA256(const Bytes& data) {
    digest_.assign(static_cast<size_t>(std::max(32, digestLength.load())), 0);
    unsigned int length = 0;
    // EVP_Digest takes a size_t count, so large inputs are hashed whole.
    EVP_Digest(data.data(), data.size(), digest_.data(), &length, EVP_sha256(), nullptr);
}

std::array<uint8_t, 32> SHA256::digestBytes() const {
    std::array<uint8_t, 32> out{};
    std::copy_n(digest_.begin(), std::min<size_t>(32, digest_.size()), out.begin());
    return out;
}

Bytes SHA256::base64Digest() const {
    std::string text = WebSafeBase64::standardEncode(digest_);
    return Bytes(text.begin(), text.end());
}

std::string SHA256::webSafeDigest() const {
    return WebSafeBase64::encode(digest_);
}

Bytes SHA256::hashData(const Bytes& data) {
    return SHA256(data).digest();
}

Bytes SHA256::hashString(const std::string& string) {
    return SHA256(Bytes(string.begin(), string.end())).digest();
}

std::array<uint8_t, 32> SHA256::hashDataBytes(const Bytes& data) {
    return SHA256(data).digestBytes();
}

std::array<uint8_t, 32> SHA256::hashStringBytes(const std::string& string) {
    Bytes bytes(string.begin(), string.end());
    if (!isValidUtf8(bytes)) throw Exception();
    return SHA256(bytes).digestBytes();
}

Bytes SHA256::hashDataBase64(const Bytes& data) {
    return SHA256(data).base64Digest();
}

std::string SHA256::hashDataWebSafe(const Bytes& data) {
    return SHA256(data).webSafeDigest();
}

// ---- base64 ----

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
}  // namespace

std::string WebSafeBase64::standardEncode(const Bytes& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        uint32_t v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    size_t rest = data.size() - i;
    if (rest == 1) {
        uint32_t v = data[i] << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        uint32_t v = (data[i] << 16) | (data[i + 1] << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

// Strict: length a multiple of 4, padding only at the end, no other characters.
std::optional<Bytes> WebSafeBase64::standardDecode(const std::string& text) {
    if (text.size() % 4 != 0) return std::nullopt;
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int v[4];
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            if (c == '=') {
                if (!last || k < 2) return std::nullopt;
                ++pad;
                v[k] = 0;
            } else {
                if (pad > 0) return std::nullopt;
                v[k] = valueOf(c);
                if (v[k] < 0) return std::nullopt;
            }
        }
        uint32_t n = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
        out.push_back(static_cast<uint8_t>(n >> 16));
        if (pad < 2) out.push_back(static_cast<uint8_t>(n >> 8));
        if (pad < 1) out.push_back(static_cast<uint8_t>(n));
    }
    return out;
}

std::string WebSafeBase64::encode(const Bytes& data) {
    std::string text = standardEncode(data);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '+')
            out += '-';
        else if (c == '/')
            out += '_';
        else if (c != '=')
            out += c;
    }
    return out;
}

std::optional<Bytes> WebSafeBase64::decode(const std::string& text) {
    std::string s = text;
    for (char& c : s) {
        if (c == '-')
            c = '+';
        else if (c == '_')
            c = '/';
    }
    switch (s.size() % 4) {
        case 0:
            break;
        case 2:
            s += "==";
            break;
        case 3:
            s += "=";
            break;
        default:
            return std::nullopt;
    }
    return standardDecode(s);
}

std::optional<std::string> WebSafeBase64::random(int64_t length) {
    if (length < 0) return std::nullopt;
    Bytes bytes(static_cast<size_t>(length));
    if (!bytes.empty() && RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1)
        return std::nullopt;
    return encode(bytes);
}

}  // namespace lumvane
