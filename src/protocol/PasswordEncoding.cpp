#include "protocol/PasswordEncoding.h"

#include <array>
#include <cstdint>

namespace lumvane {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeDecodeTable() {
    std::array<int8_t, 256> table{};
    for (auto& v : table) v = -1;
    for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
    return table;
}
constexpr auto kDecode = makeDecodeTable();

void encodeSite(const std::shared_ptr<TBNSiteData>& site) {
    if (!site || !site->loginData()) return;
    for (const auto& login : *site->loginData()) {
        if (login) encodePassword(*login);
    }
}

}  // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest == 1) {
        uint32_t v = uint8_t(bytes[i]) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int pad = 0;
        if (last && text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
        uint32_t v = 0;
        for (int j = 0; j < 4; ++j) {
            int8_t d = 0;
            if (j < 4 - pad) {
                d = kDecode[static_cast<uint8_t>(text[i + j])];
                if (d < 0) return std::nullopt;
            }
            v = (v << 6) | static_cast<uint32_t>(d);
        }
        out += static_cast<char>((v >> 16) & 0xff);
        if (pad < 2) out += static_cast<char>((v >> 8) & 0xff);
        if (pad < 1) out += static_cast<char>(v & 0xff);
    }
    return out;
}

void encodePassword(TBNLoginData& login) {
    if (login.passwordIsSet() && login.password()) {
        login.setPassword(base64Encode(*login.password()));
    }
}

void encodePasswords(TBNGetLoginDataResponse& response) {
    if (response.data()) encodePassword(*response.data());
}

void encodePasswords(TBNGetSiteDataResponse& response) { encodeSite(response.record()); }

void encodePasswords(TBNGetSiteDataListResponse& response) {
    if (!response.records()) return;
    for (const auto& site : *response.records()) encodeSite(site);
}

bool decodePassword(TBNLoginData& login) {
    if (!login.passwordIsSet() || !login.password()) return true;
    auto plain = base64Decode(*login.password());
    if (!plain) return false;
    login.setPassword(std::move(*plain));
    return true;
}

bool decodePasswords(TBNAddLoginDataRequest& request) {
    return !request.loginData() || decodePassword(*request.loginData());
}

bool decodePasswords(TBNUpdateLoginDataRequest& request) {
    return !request.loginData() || decodePassword(*request.loginData());
}

}  // namespace lumvane
