#include "protocol/site/UrlHost.h"

namespace lumvane {
namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Length of a leading "scheme:" (including the colon), or 0 when the URL does not start with one.
std::size_t schemeLength(std::string_view url) {
    if (url.empty() || !isAlpha(url[0])) {
        return 0;
    }
    for (std::size_t i = 1; i < url.size(); ++i) {
        char c = url[i];
        if (c == ':') {
            return i + 1;
        }
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') {
            return 0;
        }
    }
    return 0;
}

bool hasForbiddenByte(std::string_view host) {
    for (unsigned char c : host) {
        if (c <= 0x20 || c == 0x7f) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<UrlHost> parseUrlHost(std::string_view url) {
    std::string_view rest = url.substr(schemeLength(url));
    if (rest.size() < 2 || rest[0] != '/' || rest[1] != '/') {
        return std::nullopt;
    }
    rest.remove_prefix(2);

    std::string_view authority = rest.substr(0, rest.find_first_of("/\\?#"));
    if (std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }

    UrlHost result;
    std::string_view host;
    if (!authority.empty() && authority[0] == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after[0] != ':') {
            return std::nullopt;
        }
        host = authority.substr(1, close - 1);
        result.ipLiteral = true;
    } else {
        host = authority.substr(0, authority.find(':'));
    }
    if (hasForbiddenByte(host)) {
        return std::nullopt;
    }
    result.host.assign(host);
    return result;
}

}  // namespace lumvane
