#include "SafariURL.h"

#include <cctype>
#include <cstdint>

#include "protocol/site/HostPath.h"

namespace lumvane {

namespace {
bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool allowedInURL(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f) return false;
    switch (c) {
        case '"':
        case '<':
        case '>':
        case '\\':
        case '^':
        case '`':
        case '{':
        case '|':
        case '}':
            return false;
        default:
            return true;
    }
}
}  // namespace

std::optional<SafariURL> SafariURL::parse(std::string_view text) {
    if (text.empty()) return std::nullopt;
    int hashes = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (!allowedInURL(c)) return std::nullopt;
        if (c == '#' && ++hashes > 1) return std::nullopt;
        if (c == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))) {
            return std::nullopt;
        }
    }
    SafariURL url;
    url.absoluteString = std::string(text);
    std::string_view rest = text;
    // Scheme: a letter, then letters, digits, "+", "-" or ".", then ":".
    if (std::isalpha(static_cast<unsigned char>(rest[0]))) {
        size_t i = 1;
        while (i < rest.size() && (std::isalnum(static_cast<unsigned char>(rest[i])) ||
                                   rest[i] == '+' || rest[i] == '-' || rest[i] == '.')) {
            ++i;
        }
        if (i < rest.size() && rest[i] == ':') {
            url.scheme = std::string(rest.substr(0, i));
            rest.remove_prefix(i + 1);
        }
    }
    size_t end = rest.find_first_of("?#");
    std::string_view hier = rest.substr(0, end);
    if (hier.substr(0, 2) == "//") {
        hier.remove_prefix(2);
        size_t slash = hier.find('/');
        std::string_view authority = hier.substr(0, slash);
        url.path = slash == std::string_view::npos ? "" : std::string(hier.substr(slash));
        size_t at = authority.rfind('@');
        if (at != std::string_view::npos) authority.remove_prefix(at + 1);
        std::string_view host = authority;
        if (!host.empty() && host[0] == '[') {
            size_t close = host.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            std::string_view after = host.substr(close + 1);
            if (!after.empty() && after[0] != ':') return std::nullopt;
            host = host.substr(0, close + 1);
        } else {
            size_t colon = host.rfind(':');
            if (colon != std::string_view::npos) {
                std::string_view port = host.substr(colon + 1);
                for (char c : port) {
                    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
                }
                host = host.substr(0, colon);
            }
        }
        url.host = std::string(host);
    } else {
        url.path = std::string(hier);
    }
    return url;
}

std::optional<std::string> SafariURL::siteDomain() const {
    if (!host || host->empty()) return std::nullopt;
    return siteDomainName(absoluteString);
}

std::string SafariURL::pageKey() const {
    if (!host || host->empty()) return path;
    return *host + path;
}

std::string SafariURL::storedAddress() const {
    if (scheme && host && !host->empty()) return *scheme + "://" + *host + path;
    return absoluteString;
}

std::optional<std::string> siteDomainOfText(const std::string& text) {
    auto url = SafariURL::parse(text);
    if (!url) return std::nullopt;
    return url->siteDomain();
}

bool isValidUTF8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        uint8_t c = uint8_t(s[i]);
        size_t n;
        uint32_t cp;
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
        if (i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k) {
            uint8_t cc = uint8_t(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += n + 1;
    }
    return true;
}

}  // namespace lumvane
