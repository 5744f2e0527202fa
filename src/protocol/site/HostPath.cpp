#include "protocol/site/HostPath.h"

#include <algorithm>
#include <utility>

#include "protocol/site/TBNRootDomains.h"
#include "protocol/site/UrlHost.h"

namespace lumvane {
namespace {

// No ending longer than the longest key can be a key, so the walk skips those lookups; this
// keeps the rule linear in the host's length however many labels it has.
std::size_t longestRootDomain() {
    static const std::size_t longest = [] {
        std::size_t n = 0;
        for (const auto& entry : *TBNRootDomains()) {
            n = std::max(n, entry.first.size());
        }
        return n;
    }();
    return longest;
}

}  // namespace

bool isDottedIPv4(std::string_view host) {
    std::size_t pos = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (pos >= host.size() || host[pos] != '.') {
                return false;
            }
            ++pos;
        }
        std::size_t start = pos;
        unsigned value = 0;
        while (pos < host.size() && pos - start < 3 && host[pos] >= '0' && host[pos] <= '9') {
            value = value * 10 + static_cast<unsigned>(host[pos] - '0');
            ++pos;
        }
        std::size_t digits = pos - start;
        if (digits == 0 || value > 255 || (digits > 1 && host[start] == '0')) {
            return false;
        }
    }
    return pos == host.size();
}

std::string siteDomainNameOfHost(std::string_view host) {
    if (isDottedIPv4(host)) {
        return std::string(host);
    }
    std::size_t lastDot = host.rfind('.');
    if (lastDot == std::string_view::npos || lastDot == 0) {
        return std::string(host);  // fewer than three labels
    }
    std::size_t secondLastDot = host.rfind('.', lastDot - 1);
    if (secondLastDot == std::string_view::npos) {
        return std::string(host);  // fewer than three labels
    }
    const std::size_t lastTwoStart = secondLastDot + 1;

    const RootDomainTable& roots = *TBNRootDomains();
    const std::size_t longest = longestRootDomain();
    // Walk from the left: the first rest (all labels after the current first one) that is a
    // key wins, so the longest root domain decides. The rest always has two or more labels.
    std::size_t current = 0;
    while (true) {
        std::size_t restStart = host.find('.', current) + 1;
        std::string_view rest = host.substr(restStart);
        if (rest.size() <= longest && roots.find(rest) != roots.end()) {
            return std::string(host.substr(current));
        }
        current = restStart;
        if (current == lastTwoStart) {
            return std::string(host.substr(current));
        }
    }
}

std::optional<std::string> siteDomainName(std::string_view url) {
    std::optional<UrlHost> parsed = parseUrlHost(url);
    if (!parsed) {
        return std::nullopt;
    }
    // An IP literal names a machine, not a domain: its dots (as in "::ffff:10.0.0.1") are no
    // label separators.
    if (parsed->ipLiteral) {
        return std::move(parsed->host);
    }
    return siteDomainNameOfHost(parsed->host);
}

}  // namespace lumvane
