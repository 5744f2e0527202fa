#pragma once
// The HTTP client of the service layer (geolocation lookup, feedback): an interface so
// tests can answer without a network, and a cpp-httplib implementation that runs each
// request on a queue of its own and reports there.
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace lumvane {

class DispatchQueue;

// An absolute http or https URL, split for the client.
struct ServiceURL {
    std::string scheme;  // "http" or "https"
    std::string host;
    int port = 0;
    std::string pathAndQuery;  // starts with "/"

    // Nothing for anything but "http(s)://host[:port][/path][?query]" with a sane host and port.
    static std::optional<ServiceURL> parse(const std::string& text);
    std::string text() const;
};

struct ServiceHTTPRequest {
    ServiceURL url;
    std::string method = "GET";
    std::map<std::string, std::string> headers;
    std::string body;
    std::chrono::seconds timeout{60};
};

struct ServiceHTTPResponse {
    int status = 0;
    std::string body;
};

// Exactly one of the two is set.
struct ServiceHTTPResult {
    std::optional<ServiceHTTPResponse> response;
    std::optional<std::string> error;
};

class ServiceHTTPClient {
  public:
    using Completion = std::function<void(ServiceHTTPResult)>;
    virtual ~ServiceHTTPClient() = default;
    // Starts the request and returns; `completion` runs exactly once, on the client's queue.
    virtual void start(ServiceHTTPRequest request, Completion completion) = 0;
};

class HttplibServiceHTTPClient : public ServiceHTTPClient {
  public:
    // Larger reply bodies are refused (the answers we read are a few hundred bytes).
    static constexpr size_t kMaxBodySize = 1 << 20;

    HttplibServiceHTTPClient();
    void start(ServiceHTTPRequest request, Completion completion) override;

    static std::shared_ptr<HttplibServiceHTTPClient> shared();

  private:
    std::shared_ptr<DispatchQueue> queue_;
};

}  // namespace lumvane
