#include "extension/HTTPRequestAdmission.h"

#include <iterator>
#include <optional>
#include <string_view>

#include "extension/ThriftHTTPServer.h"

namespace lumvane {

namespace http = boost::beast::http;

namespace {

std::optional<std::string_view> headerValue(const HTTPRequest& req, http::field field) {
    auto it = req.find(field);
    if (it == req.end()) return std::nullopt;
    return std::string_view(it->value().data(), it->value().size());
}

bool originsPass(const HTTPRequest& req) {
    auto [begin, end] = req.equal_range(http::field::origin);
    for (auto it = begin; it != end; ++it) {
        if (!isExtensionOrigin(std::string_view(it->value().data(), it->value().size())))
            return false;
    }
    return true;
}

// A Host header and at most one Origin, naming one origin.
bool singleHostAndOrigin(const HTTPRequest& req) {
    if (req.count(http::field::host) != 1) return false;
    auto [begin, end] = req.equal_range(http::field::origin);
    if (begin == end) return true;
    if (std::next(begin) != end) return false;
    std::string_view origin(begin->value().data(), begin->value().size());
    while (!origin.empty() && (origin.back() == ' ' || origin.back() == '\t'))
        origin.remove_suffix(1);
    while (!origin.empty() && (origin.front() == ' ' || origin.front() == '\t'))
        origin.remove_prefix(1);
    // An origin list separates its origins by spaces.
    return origin.find_first_of(" \t,") == std::string_view::npos;
}

}  // namespace

void limitRequestParser(HTTPRequestParser& parser, size_t maxBodyBytes) {
    parser.body_limit(maxBodyBytes);
    parser.header_limit(static_cast<std::uint32_t>(kMaxRequestHeadBytes));
}

RequestAdmission admitRequest(const HTTPRequest& req) {
    if (!isLoopbackHost(headerValue(req, http::field::host)) || !originsPass(req))
        return RequestAdmission::Forbidden;
    if (!singleHostAndOrigin(req)) return RequestAdmission::BadRequest;
    // The path is compared exactly: a query string makes it another path.
    const std::string_view target(req.target().data(), req.target().size());
    if (req.method() != http::verb::post || target != "/thrift") return RequestAdmission::NotFound;
    return RequestAdmission::Serve;
}

}  // namespace lumvane
