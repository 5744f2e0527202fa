#include "crypto/TBNCryptHash.h"

#include <openssl/crypto.h>

#include <stdexcept>

#include "crypto/CryptHash.h"
#include "runtime/Digest.h"

namespace lumvane {

namespace {

std::string lowerHex(ByteView bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

std::string_view orNull(TBNCryptHash::Text text) {
    return text ? *text : std::string_view("(null)");
}

std::string joined(std::initializer_list<TBNCryptHash::Text> parts) {
    std::string out;
    bool first = true;
    for (const auto& part : parts) {
        if (!first) {
            out += '_';
        }
        out += orNull(part);
        first = false;
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Bytes TBNCryptHash::sha256FromData(ByteView data) {
    return sha256(data.data(), data.size());
}

Bytes TBNCryptHash::sha256FromString(Text string) {
    const std::string_view text = string.value_or(std::string_view());
    return sha256FromData({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

std::string TBNCryptHash::strSha256FromString(Text string) {
    return lowerHex(sha256FromString(string));
}

std::string TBNCryptHash::strSha256FromSiteUrl(Text siteUrl) {
    return strSha256FromString(siteUrl);
}

std::string TBNCryptHash::strSha256FromLogin(Text login) {
    return strSha256FromString(login);
}

std::string TBNCryptHash::strSha256FromPassword(Text password) {
    return strSha256FromString(password);
}

std::string TBNCryptHash::strSha256FromLogin(Text login, Text password) {
    return strSha256FromString(joined({login, password}));
}

std::string TBNCryptHash::strSha256FromSiteUrl(Text siteUrl, Text login) {
    return strSha256FromString(joined({siteUrl, login}));
}

std::string TBNCryptHash::strSha256FromSiteUrl(Text siteUrl, Text login, Text password) {
    return strSha256FromString(joined({siteUrl, login, password}));
}

Bytes TBNCryptHash::argonFromString(Text string, Text config) {
    const auto hex = CryptHash::hexstrArgonFromString(string, config);
    if (!hex || hex->size() % 2 != 0) {
        return {};
    }
    Bytes out;
    out.reserve(hex->size() / 2);
    for (size_t i = 0; i < hex->size(); i += 2) {
        const int hi = hexValue((*hex)[i]);
        const int lo = hexValue((*hex)[i + 1]);
        if (hi < 0 || lo < 0) {
            return {};
        }
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return out;
}

void clear(Bytes& data) {
    if (!data.empty()) {
        OPENSSL_cleanse(data.data(), data.size());
    }
    data.clear();
}

bool secretsEqual(ByteView a, ByteView b) {
    if (a.size() != b.size()) {
        return false;
    }
    return a.empty() || CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool secretsEqual(std::string_view a, std::string_view b) {
    return secretsEqual(ByteView(reinterpret_cast<const uint8_t*>(a.data()), a.size()),
                        ByteView(reinterpret_cast<const uint8_t*>(b.data()), b.size()));
}

}  // namespace lumvane
