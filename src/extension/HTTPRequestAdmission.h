#pragma once
// What the loopback servers make of a request's head: the limits its parser reads it
// under, and whether the request is served. Kept apart from the connection code so that
// tests and fuzzing reach exactly the checks the servers apply.
//
// Boost 1.74's coroutine support uses std::exchange without including <utility>; GCC 12
// turns that support on, so the header has to come first.
#include <utility>

#include <boost/beast/http.hpp>

#include <cstddef>

namespace lumvane {

using HTTPRequest = boost::beast::http::request<boost::beast::http::string_body>;
using HTTPRequestParser = boost::beast::http::request_parser<boost::beast::http::string_body>;

// The longest request head (request line and header fields) a server reads.
inline constexpr size_t kMaxRequestHeadBytes = 16 * 1024;

// Sets the limits a request is read under: the head, and a body of at most maxBodyBytes
// (a longer one ends the read with http::error::body_limit, answered with 413).
void limitRequestParser(HTTPRequestParser& parser, size_t maxBodyBytes);

enum class RequestAdmission {
    Serve,      // POST /thrift from this machine's extensions or native clients
    Forbidden,  // 403: Host does not name this machine, or an Origin is a page's
    BadRequest, // 400: a second Host, or more than one origin: which one counts is open
    NotFound,   // 404: another method or path
};

// Host must pass isLoopbackHost and every Origin header isExtensionOrigin (a page cannot
// hide behind a second one); there must be one Host and at most one Origin naming one
// origin; then only POST to exactly "/thrift" is served.
RequestAdmission admitRequest(const HTTPRequest& request);

}  // namespace lumvane
