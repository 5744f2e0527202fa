#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumvane {

// The site domain of a URL: the string by which caches, lists and requests name a site.
// The host is cut down to its longest ending that is one label followed by a root domain of
// at least two labels, else to its last two labels; a dotted IPv4 address, a bracketed IP
// literal and a host of fewer than three labels are kept whole. No result when the URL has
// no host (see parseUrlHost). Labels are neither validated nor case-folded; empty labels
// count like any other. Never fails; safe from any thread.
std::optional<std::string> siteDomainName(std::string_view url);

// The same rule applied to a host that has already been taken out of its URL.
std::string siteDomainNameOfHost(std::string_view host);

// True for exactly four decimal numbers 0..255 joined by single dots, without leading zeros
// ("0" itself is fine) and with nothing before or after.
bool isDottedIPv4(std::string_view host);

}  // namespace lumvane
