// Feeds arbitrary bytes as a URL to the site-domain rule. It must not crash, and a result is
// always an ending of the URL's host that keeps the host's last label.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/site/HostPath.h"
#include "protocol/site/UrlHost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view url(reinterpret_cast<const char*>(data), size);
    std::optional<lumvane::UrlHost> parsed = lumvane::parseUrlHost(url);
    std::optional<std::string> site = lumvane::siteDomainName(url);
    if (parsed.has_value() != site.has_value()) {
        std::abort();
    }
    if (!parsed) {
        return 0;
    }
    const std::string& host = parsed->host;
    if (url.find(host) == std::string_view::npos) {
        std::abort();  // the host is a piece of the URL
    }
    if (site->size() > host.size() || !host.ends_with(*site)) {
        std::abort();
    }
    if (!parsed->ipLiteral) {
        std::string_view lastLabel = std::string_view(host).substr(host.rfind('.') + 1);
        if (host.empty() != site->empty() || !site->ends_with(lastLabel)) {
            std::abort();
        }
        // The result starts at a label boundary.
        if (site->size() < host.size() && host[host.size() - site->size() - 1] != '.') {
            std::abort();
        }
    }
    return 0;
}
