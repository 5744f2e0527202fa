// The bytes a client sends the loopback servers before the body is processed: Beast's
// request parser under the servers' limits, fed in pieces as the socket would, reading
// head then body and then the next request on the connection, and the Host and Origin
// checks that decide what is served.
//
// The first byte picks the body limit (0: the servers' own, else a small one so that the
// limit is reached), the second how many bytes each read delivers. A body never grows past
// the limit, a refused body stops at it, and only POST /thrift naming this machine is
// served.
#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/beast/core.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "extension/HTTPRequestAdmission.h"
#include "extension/ThriftHTTPServer.h"

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace asio = boost::asio;

// A socket's reading side over fixed bytes: at most `piece` bytes a read, then the end.
class PieceStream {
  public:
    using executor_type = asio::any_io_executor;

    PieceStream(std::string_view bytes, size_t piece) : bytes_(bytes), piece_(piece) {}

    template <class MutableBufferSequence>
    size_t read_some(const MutableBufferSequence& buffers, beast::error_code& ec) {
        if (bytes_.empty()) {
            ec = asio::error::eof;
            return 0;
        }
        ec = {};
        size_t n = std::min(bytes_.size(), piece_);
        n = asio::buffer_copy(buffers, asio::buffer(bytes_.data(), n));
        bytes_.remove_prefix(n);
        return n;
    }
    template <class MutableBufferSequence>
    size_t read_some(const MutableBufferSequence& buffers) {
        beast::error_code ec;
        const size_t n = read_some(buffers, ec);
        if (ec) throw beast::system_error(ec);
        return n;
    }

  private:
    std::string_view bytes_;
    size_t piece_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t maxBody = data[0] == 0 ? lumvane::ThriftHTTPServer::kMaxBodyBytes : data[0] * 4u;
    const size_t piece = data[1] % 64 + 1;
    PieceStream stream(std::string_view(reinterpret_cast<const char*>(data + 2), size - 2), piece);
    // The connection's buffer, as large as the servers' own.
    beast::flat_buffer buffer{64 * 1024 + 4096};

    for (int request = 0; request < 64; ++request) {
        lumvane::HTTPRequestParser parser;
        lumvane::limitRequestParser(parser, maxBody);
        beast::error_code ec;
        http::read_header(stream, buffer, parser, ec);
        if (!ec) http::read(stream, buffer, parser, ec);
        if (parser.get().body().size() > maxBody) std::abort();
        if (ec) return 0;  // answered with 413 or 400, or the connection closes
        lumvane::HTTPRequest req = parser.release();
        const auto verdict = lumvane::admitRequest(req);
        if (verdict == lumvane::RequestAdmission::Serve &&
            (req.method() != http::verb::post || req.target() != "/thrift" ||
             req.find(http::field::host) == req.end()))
            std::abort();
        if (!req.keep_alive()) return 0;
    }
    return 0;
}
