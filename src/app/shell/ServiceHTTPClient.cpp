#include "app/shell/ServiceHTTPClient.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "runtime/DispatchQueue.h"

namespace lumvane {

std::optional<ServiceURL> ServiceURL::parse(const std::string& text) {
    ServiceURL url;
    std::string rest;
    if (text.rfind("https://", 0) == 0) {
        url.scheme = "https";
        url.port = 443;
        rest = text.substr(8);
    } else if (text.rfind("http://", 0) == 0) {
        url.scheme = "http";
        url.port = 80;
        rest = text.substr(7);
    } else {
        return std::nullopt;
    }
    auto pathStart = rest.find_first_of("/?");
    std::string authority = rest.substr(0, pathStart);
    url.pathAndQuery = pathStart == std::string::npos ? "/" : rest.substr(pathStart);
    if (url.pathAndQuery[0] == '?') url.pathAndQuery.insert(0, "/");
    auto colon = authority.find(':');
    url.host = authority.substr(0, colon);
    if (colon != std::string::npos) {
        std::string port = authority.substr(colon + 1);
        int value = 0;
        auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value < 1 ||
            value > 65535) {
            return std::nullopt;
        }
        url.port = value;
    }
    bool hostOk = !url.host.empty() && std::all_of(url.host.begin(), url.host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
    });
    if (!hostOk) return std::nullopt;
    if (std::any_of(url.pathAndQuery.begin(), url.pathAndQuery.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; })) {
        return std::nullopt;
    }
    return url;
}

std::string ServiceURL::text() const {
    bool defaultPort = (scheme == "https" && port == 443) || (scheme == "http" && port == 80);
    return scheme + "://" + host + (defaultPort ? "" : ":" + std::to_string(port)) + pathAndQuery;
}

HttplibServiceHTTPClient::HttplibServiceHTTPClient()
    : queue_(DispatchQueue::create("service.http", DispatchQueue::Kind::Concurrent)) {}

std::shared_ptr<HttplibServiceHTTPClient> HttplibServiceHTTPClient::shared() {
    static auto client = std::make_shared<HttplibServiceHTTPClient>();
    return client;
}

void HttplibServiceHTTPClient::start(ServiceHTTPRequest request, Completion completion) {
    queue_->async([request = std::move(request), completion = std::move(completion)]() {
        ServiceHTTPResult result;
        try {
            httplib::Client client(request.url.scheme + "://" + request.url.host + ":" +
                                   std::to_string(request.url.port));
            auto timeout = std::chrono::duration_cast<std::chrono::seconds>(request.timeout);
            client.set_connection_timeout(timeout);
            client.set_read_timeout(timeout);
            client.set_write_timeout(timeout);
            httplib::Headers headers;
            std::string contentType;
            for (const auto& [name, value] : request.headers) {
                if (name == "Content-Type") {
                    contentType = value;
                } else {
                    headers.emplace(name, value);
                }
            }
            httplib::Request req;
            req.method = request.method;
            req.path = request.url.pathAndQuery;
            req.headers = headers;
            if (!request.body.empty() || request.method == "POST") {
                req.body = request.body;
                req.set_header("Content-Type",
                               contentType.empty() ? "application/octet-stream" : contentType);
            }
            std::string body;
            bool tooLarge = false;
            req.content_receiver = [&](const char* data, size_t size, uint64_t, uint64_t) {
                if (body.size() + size > kMaxBodySize) {
                    tooLarge = true;
                    return false;
                }
                body.append(data, size);
                return true;
            };
            httplib::Response res;
            httplib::Error error = httplib::Error::Success;
            bool ok = client.send(req, res, error);
            if (tooLarge) {
                result.error = "reply body too large";
            } else if (!ok) {
                result.error = httplib::to_string(error);
            } else {
                result.response = ServiceHTTPResponse{res.status, std::move(body)};
            }
        } catch (const std::exception& e) {
            result.error = e.what();
        }
        completion(std::move(result));
    });
}

}  // namespace lumvane
