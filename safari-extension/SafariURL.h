#pragma once
// The few URL operations the extension needs: a strict parse (text with a space, a
// non-ASCII byte, a stray "%" or another character that a URL cannot hold is no URL),
// the host and path, the site domain, and standard Base64 for passwords.
#include <optional>
#include <string>
#include <string_view>

#include "protocol/PasswordEncoding.h"

namespace lumvane {

struct SafariURL {
    std::string absoluteString;
    std::optional<std::string> scheme;
    std::optional<std::string> host;  // present when the URL has an authority
    std::string path;

    static std::optional<SafariURL> parse(std::string_view text);

    // The site domain by the root-domain rule, nothing without a host.
    std::optional<std::string> siteDomain() const;
    // Host immediately followed by the path; the path alone without a host.
    std::string pageKey() const;
    // scheme "://" host path when both scheme and host exist; the whole text otherwise.
    std::string storedAddress() const;
};

// The site domain of a URL made again from its text; nothing when the text does not
// parse or the rule gives no domain.
std::optional<std::string> siteDomainOfText(const std::string& text);

// Base64 (base64Encode, base64Decode) is the one the passwords travel in:
// protocol/PasswordEncoding.h.
bool isValidUTF8(std::string_view text);

}  // namespace lumvane
