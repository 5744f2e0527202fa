#include "extension/HTTPRequestAdmission.h"

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

}  // namespace

void limitRequestParser(HTTPRequestParser& parser, size_t maxBodyBytes) {
    parser.body_limit(maxBodyBytes);
    parser.header_limit(static_cast<std::uint32_t>(kMaxRequestHeadBytes));
}

RequestAdmission admitRequest(const HTTPRequest& req) {
    if (!isLoopbackHost(headerValue(req, http::field::host)) || !originsPass(req))
        return RequestAdmission::Forbidden;
    // The path is compared exactly: a query string makes it another path.
    const std::string_view target(req.target().data(), req.target().size());
    if (req.method() != http::verb::post || target != "/thrift") return RequestAdmission::NotFound;
    return RequestAdmission::Serve;
}

}  // namespace lumvane
