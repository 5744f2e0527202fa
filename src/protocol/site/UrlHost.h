#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumvane {

// The host component of a URL as the site-domain rule wants it.
struct UrlHost {
    std::string host;        // without user, password, port or brackets; case kept as written
    bool ipLiteral = false;  // written in brackets ("[::1]")
};

// Extracts the host of an absolute URL ("scheme://authority...") or of a network-path
// reference ("//authority..."). No host when the URL has no authority ("mailto:a@b",
// "example.com", "/path"), when a bracketed literal is not closed or is followed by anything
// but a port, or when the host holds a space, a control character or DEL. An authority
// without a host ("http://", "http://user@:80") gives the empty host.
//
// The host is never case-folded, percent-decoded or stripped of a trailing dot. The userinfo
// ends at the last "@" and the authority at the first "/", "\", "?" or "#", as browsers read
// them, so the host reported is the one a browser would connect to.
std::optional<UrlHost> parseUrlHost(std::string_view url);

}  // namespace lumvane
