#include "extension/ThriftHTTPServer.h"

#include <malloc.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thrift/transport/TBufferTransports.h>

// Boost 1.74's coroutine support uses std::exchange without including <utility>;
// GCC 12 turns that support on, so the header has to come first.
#include <utility>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>  // async_read/write over asio::ssl::stream

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <list>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>
#include <thread>
#include <typeinfo>

#include "crypto/TBNCryptAES.h"
#include "extension/HTTPRequestAdmission.h"
#include "extension/ThriftTransportCheckExeption.h"
#include "extension/browser/HostsRecord.h"
#include "runtime/AfterReply.h"
#include "runtime/RequestTiming.h"
#include "runtime/log/TBNLogger.h"
#include "runtime/log/ThreadInfo.h"

namespace lumvane {

using apache::thrift::TProcessor;
using apache::thrift::transport::TMemoryBuffer;

namespace {

constexpr const char* kTag = "core|thrift|http";
constexpr const char* kLoopback = "127.0.0.1";
constexpr std::string_view kEnvelopeMarker = "\"clientId\":";
constexpr std::string_view kVersionOneStart = "[1,\"";

// Connection threads made on demand up to a limit, so that handlers blocked for
// minutes on the phone do not keep other requests (pings) waiting. Threads idle
// for a while end again.
class ElasticThreadPool {
  public:
    ElasticThreadPool(size_t maxThreads, std::string label)
        : max_(std::max<size_t>(1, maxThreads)), label_(std::move(label)) {}
    ~ElasticThreadPool() { shutdown(); }

    void enqueue(std::function<void()> fn) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (shutdown_) return;
        jobs_.push_back(std::move(fn));
        reapLocked();
        if (idle_ >= jobs_.size() || live_ >= max_) {
            // Outside the lock: the woken worker does not run into it and sleep again.
            lock.unlock();
            cond_.notify_one();
            return;
        }
        ++live_;
        workers_.emplace_back();
        Worker& w = workers_.back();
        w.thread = std::thread([this, &w] { run(w); });
    }

    void shutdown() {
        std::list<Worker> workers;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (shutdown_ && workers_.empty()) return;
            shutdown_ = true;
            cond_.notify_all();
            workers.swap(workers_);
        }
        for (auto& w : workers)
            if (w.thread.joinable()) w.thread.join();
    }

  private:
    struct Worker {
        std::thread thread;
        bool done = false;
    };

    void reapLocked() {
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (it->done) {
                it->thread.join();  // it has left run(); the join is immediate
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }

    void run(Worker& self) {
        threadinfo::QueueLabelScope label(label_);
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            ++idle_;
            bool woke =
                cond_.wait_for(lock, kIdleTimeout, [this] { return shutdown_ || !jobs_.empty(); });
            --idle_;
            if (!woke || (shutdown_ && jobs_.empty())) break;
            auto fn = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            fn();
            lock.lock();
        }
        --live_;
        self.done = true;
    }

    static constexpr std::chrono::seconds kIdleTimeout{30};
    const size_t max_;
    const std::string label_;
    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<std::function<void()>> jobs_;
    std::list<Worker> workers_;
    size_t live_ = 0;
    size_t idle_ = 0;
    bool shutdown_ = false;
};

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const Bytes& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        uint32_t v = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8) | data[i + 2];
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += kBase64Alphabet[(v >> 6) & 63];
        out += kBase64Alphabet[v & 63];
    }
    if (i + 1 == data.size()) {
        uint32_t v = uint32_t(data[i]) << 16;
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == data.size()) {
        uint32_t v = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8);
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += kBase64Alphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

// Standard alphabet with padding; any other character (line breaks included)
// makes the text undecodable.
std::optional<Bytes> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int pad = 0;
        if (last && text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            int d = 0;
            if (k < 4 - pad) {
                d = value(text[i + k]);
                if (d < 0) return std::nullopt;
            }
            v = (v << 6) | static_cast<uint32_t>(d);
        }
        out.push_back(static_cast<uint8_t>(v >> 16));
        if (pad < 2) out.push_back(static_cast<uint8_t>(v >> 8));
        if (pad < 1) out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

bool isValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        size_t n;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 4;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) < n) return false;
        for (size_t k = 1; k < n; ++k)
            if ((p[k] & 0xC0) != 0x80) return false;
        if (c == 0xE0 && p[1] < 0xA0) return false;
        if (c == 0xED && p[1] >= 0xA0) return false;
        if (c == 0xF0 && p[1] < 0x90) return false;
        if (c == 0xF4 && p[1] >= 0x90) return false;
        p += n;
    }
    return true;
}

std::string errorAnswer(const char* text) {
    return nlohmann::json{{"error", text}}.dump();
}

// What the envelope of a request holds, when the body is one.
struct Envelope {
    std::string request;
    std::optional<std::string> clientId;
    bool encrypted = false;
    bool readable = false;
};

Envelope parseEnvelope(const std::string& body) {
    Envelope env;
    nlohmann::json json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) return env;
    auto request = json.find("request");
    if (request == json.end() || !request->is_string()) return env;
    auto encrypted = json.find("encrypted");
    if (encrypted != json.end()) {
        if (encrypted->is_boolean()) {
            env.encrypted = encrypted->get<bool>();
        } else if (encrypted->is_number()) {
            env.encrypted = encrypted->get<double>() != 0;
        } else if (!encrypted->is_null()) {
            return env;
        }
    }
    auto clientId = json.find("clientId");
    if (clientId != json.end() && clientId->is_string())
        env.clientId = clientId->get<std::string>();
    env.request = request->get<std::string>();
    env.readable = true;
    return env;
}

}  // namespace

// ---------------------------------------------------------------------------
// Request admission: only loopback names and extension origins.

namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

bool isLoopbackHost(std::optional<std::string_view> host) {
    if (!host) return false;
    std::string_view name = trimBlanks(*host);
    if (auto colon = name.rfind(':'); colon != std::string_view::npos) {
        std::string_view port = name.substr(colon + 1);
        if (port.empty() || port.size() > 5) return false;
        for (char c : port)
            if (c < '0' || c > '9') return false;
        name = name.substr(0, colon);
    }
    return name == kLoopback || equalsNoCase(name, "localhost") ||
           equalsNoCase(name, kLocalHostName);
}

bool isExtensionOrigin(std::optional<std::string_view> origin) {
    if (!origin) return true;  // not sent by a page: native clients
    std::string_view text = trimBlanks(*origin);
    auto colon = text.find(':');
    if (colon == std::string_view::npos || text.substr(colon, 3) != "://") return false;
    std::string_view scheme = text.substr(0, colon);
    constexpr std::string_view kSuffix = "-extension";
    if (scheme.size() <= kSuffix.size()) return false;
    for (char c : scheme) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '+' || c == '-' || c == '.';
        if (!ok) return false;
    }
    return equalsNoCase(scheme.substr(scheme.size() - kSuffix.size()), kSuffix);
}

// ---------------------------------------------------------------------------
// The engine: one I/O thread per server accepts and reads every connection
// without blocking, and hands complete requests to the worker threads.

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// Raises the process's soft descriptor limit to its hard limit once, since every
// open connection holds a descriptor; answers the soft limit then.
rlim_t descriptorLimit() {
    static const rlim_t limit = [] {
        rlimit lim{};
        if (getrlimit(RLIMIT_NOFILE, &lim) != 0) return rlim_t(1024);
        if (lim.rlim_cur < lim.rlim_max) {
            rlimit raised = lim;
            raised.rlim_cur = lim.rlim_max;
            if (setrlimit(RLIMIT_NOFILE, &raised) == 0) lim = raised;
        }
        return lim.rlim_cur;
    }();
    return limit;
}

// Request bodies of up to 4 MiB, and the copies processing makes of them, would otherwise
// end up in the heap of whichever thread allocated them; glibc keeps such memory once it
// was freed (its mmap threshold rises to the largest block freed). A fixed threshold
// maps every large block on its own, so freeing one hands it back to the system at once.
void useOwnMappingsForLargeBlocks() {
    static const bool done = [] {
        mallopt(M_MMAP_THRESHOLD, 256 * 1024);
        return true;
    }();
    (void)done;
}

// Hands freed heap memory back to the system on a thread of its own: trimming walks the
// whole heap and can take seconds after a flood, too long for an I/O thread. A request
// made while a trim runs is served by one more trim after it.
void trimHeapSoon() {
    static std::atomic<int> asked{0};
    if (asked.fetch_add(1) != 0) return;  // a trim runs, and will look again
    std::thread([] {
        int seen = 1;
        do {
            seen = asked.load();
            malloc_trim(0);
        } while (!asked.compare_exchange_strong(seen, 0));
    }).detach();
}

// What a connection is doing, which decides who gives way when connections run short.
enum class Phase {
    Handshake,   // TLS handshake under way
    Fresh,       // waiting for the first byte of the first request
    Idle,        // served before, waiting for the first byte of the next request
    Reading,     // a request is coming in
    Processing,  // a worker has it
    Writing,     // the answer is going out
    Closing,     // draining before the close
    Closed,      // gone, waiting for its last handler
};

}  // namespace

class ConnectionBase;

class RootHTTPServer::Engine : public std::enable_shared_from_this<RootHTTPServer::Engine> {
  public:
    Engine(RootHTTPServer& root, const ThriftHTTPServerOptions& options)
        : root_(root),
          options_(options),
          maxConnections_(
              std::max<size_t>(8, std::min<size_t>(options.maxConnections, descriptorLimit() / 4))),
          pool_(root.queueKind() == QueueKind::Serial ? 1 : options.maxConnectionThreads,
                root.queueLabel()),
          budget_(options.bodyBudget ? options.bodyBudget : BodyBudget::shared()),
          acceptor_(io_),
          retry_(io_) {
        useOwnMappingsForLargeBlocks();
    }

    bool open(uint16_t port, std::string& error);
    void run() {
        thread_ = std::thread([self = shared_from_this()] {
            threadinfo::QueueLabelScope label(self->root_.queueLabel());
            // A handler that throws costs its connection, not the server.
            for (;;) {
                try {
                    self->io_.run();
                    break;
                } catch (const std::exception& e) {
                    TBN_LOG_ERROR(kTag, "connection handler failed: {}", e.what());
                }
            }
        });
    }
    void stop();

    size_t connectionCount() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return connections_.size();
    }
    // Connections not yet closed; on the I/O thread.
    size_t openConnections() const;

    // Connection registry, in the order of acceptance.
    std::list<ConnectionBase*>::iterator add(ConnectionBase* c) {
        std::lock_guard<std::mutex> lock(mutex_);
        return connections_.insert(connections_.end(), c);
    }
    void remove(std::list<ConnectionBase*>::iterator it) {
        bool drained = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            connections_.erase(it);
            highWater_ = std::max(highWater_, connections_.size() + 1);
            if (connections_.empty() && highWater_ >= kTrimAfter) {
                highWater_ = 0;
                drained = true;
            }
        }
        // After a flood of connections the heap is full of freed connection state;
        // hand it back to the system rather than keep it for the next flood.
        if (drained) trimHeapSoon();
    }

    asio::io_context& io() { return io_; }
    const ThriftHTTPServerOptions& options() const { return options_; }
    RootHTTPServer& root() { return root_; }
    ElasticThreadPool& pool() { return pool_; }
    BodyBudget& budget() { return *budget_; }
    // Whether requests may be answered on the I/O thread (never on a serial server,
    // whose requests wait for each other), and whether one for `method` may.
    bool hasQuickMethods() const {
        return !options_.quickMethods.empty() && root_.queueKind() != QueueKind::Serial;
    }
    bool isQuick(std::string_view method) const {
        if (method.empty() || !hasQuickMethods()) return false;
        for (const auto& m : options_.quickMethods)
            if (m == method) return true;
        return false;
    }
    asio::ssl::context* tls() { return tls_.get(); }

  private:
    void accept();
    void accepted(tcp::socket socket);
    // Closes the connection that gives way first; false when none can.
    bool evictOne();

    RootHTTPServer& root_;
    const ThriftHTTPServerOptions options_;
    const size_t maxConnections_;
    ElasticThreadPool pool_;
    const std::shared_ptr<BodyBudget> budget_;
    // Declared before the I/O context: handlers it still holds when it goes end
    // connections, which leave the registry and use the TLS context.
    static constexpr size_t kTrimAfter = 256;
    mutable std::mutex mutex_;
    std::list<ConnectionBase*> connections_;
    size_t highWater_ = 0;
    std::unique_ptr<asio::ssl::context> tls_;
    asio::io_context io_{1};
    tcp::acceptor acceptor_;
    asio::steady_timer retry_;
    std::thread thread_;
};

class ConnectionBase {
  public:
    explicit ConnectionBase(RootHTTPServer::Engine& engine) : engine_(engine) {
        slot_ = engine_.add(this);
    }
    virtual ~ConnectionBase() { engine_.remove(slot_); }
    ConnectionBase(const ConnectionBase&) = delete;
    ConnectionBase& operator=(const ConnectionBase&) = delete;

    // On the I/O thread only.
    Phase phase() const { return phase_; }
    Clock::time_point since() const { return since_; }
    Clock::time_point accepted() const { return accepted_; }
    virtual void abort() = 0;

  protected:
    void enter(Phase phase) {
        phase_ = phase;
        since_ = Clock::now();
    }

    RootHTTPServer::Engine& engine_;

  private:
    std::list<ConnectionBase*>::iterator slot_;
    Phase phase_ = Phase::Fresh;
    Clock::time_point since_ = Clock::now();
    const Clock::time_point accepted_ = since_;
};

size_t RootHTTPServer::Engine::openConnections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const ConnectionBase* c : connections_) n += c->phase() != Phase::Closed;
    return n;
}

namespace {

using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

Response makeResponse(const Request& req, http::status status, std::string body = {}) {
    Response res{status, req.version()};
    res.body() = std::move(body);
    res.prepare_payload();
    res.keep_alive(req.keep_alive());
    return res;
}

// Requests up to this size are opened on the I/O thread, to see whether their method may
// be answered there.
constexpr size_t kQuickBodyBytes = 64 * 1024;

template <class Stream>
class ThriftHTTPConnection : public ConnectionBase,
                             public std::enable_shared_from_this<ThriftHTTPConnection<Stream>> {
  public:
    template <class... Args>
    ThriftHTTPConnection(RootHTTPServer::Engine& engine, Args&&... args)
        : ConnectionBase(engine), stream_(std::forward<Args>(args)...), timer_(engine.io()) {}
    ~ThriftHTTPConnection() override { releaseBody(); }

    void start() {
        if constexpr (kSecure) {
            enter(Phase::Handshake);
            arm(engine_.options().handshakeDeadline);
            stream_.async_handshake(asio::ssl::stream_base::server,
                                    [self = this->shared_from_this()](beast::error_code ec) {
                                        if (ec) return self->abort();
                                        self->waitForRequest();
                                    });
        } else {
            waitForRequest();
        }
    }

    void abort() override {
        if (closed_) return;
        std::lock_guard<std::mutex> lock(socketMutex_);  // a worker may be writing
        closed_ = true;
        enter(Phase::Closed);
        timer_.cancel();
        beast::error_code ignored;
        socket().shutdown(tcp::socket::shutdown_both, ignored);
        socket().close(ignored);
    }

  private:
    static constexpr bool kSecure = !std::is_same_v<Stream, tcp::socket>;

    tcp::socket& socket() { return beast::get_lowest_layer(stream_); }

    // Closes the connection when the phase it is in lasts too long; the whole of a
    // phase counts, however the bytes trickle in. Most phases end long before their
    // deadline, so the timer is moved only when a deadline comes sooner than the one it
    // is set for: otherwise it fires as set, and then looks at the deadline in force.
    // It is never set further out than a request's deadline, so that a kept-alive
    // connection whose next request begins finds it set early enough already.
    void arm(std::chrono::milliseconds limit) {
        const auto now = Clock::now();
        deadline_ = now + limit;
        if (timerSet_ && timerAt_ <= deadline_) return;
        setTimer(std::min(deadline_, now + engine_.options().requestDeadline));
    }
    // The phase has no deadline (the request is with a worker).
    void disarm() { deadline_ = Clock::time_point::max(); }

    void setTimer(Clock::time_point at) {
        timerSet_ = true;
        timerAt_ = at;
        timer_.expires_at(at);  // a wait already set ends as cancelled
        timer_.async_wait(
            [weak = this->weak_from_this(), wait = ++timerWaits_](beast::error_code ec) {
                auto self = weak.lock();
                if (ec || !self || wait != self->timerWaits_) return;
                self->timerSet_ = false;
                const auto now = Clock::now();
                if (now >= self->deadline_) return self->abort();
                if (self->deadline_ != Clock::time_point::max()) {
                    self->setTimer(
                        std::min(self->deadline_, now + self->engine_.options().requestDeadline));
                }
            });
    }

    void waitForRequest() {
        if (closed_) return;
        parser_.emplace();
        limitRequestParser(*parser_, engine_.options().maxBodyBytes);
        if (buffer_.size() > 0) {
            // Pipelined bytes are already here; read them from a fresh handler, so that
            // a run of small requests does not nest one answer inside the other.
            asio::post(engine_.io(), [self = this->shared_from_this()] { self->readHead(); });
            return;
        }
        // A new connection has the request deadline for its first request; one that
        // was served may wait longer for its next.
        if (served_ == 0) {
            enter(Phase::Fresh);
            arm(engine_.options().requestDeadline);
        } else {
            enter(Phase::Idle);
            arm(engine_.options().idleTimeout);
        }
        stream_.async_read_some(buffer_.prepare(4096),
                                [self = this->shared_from_this()](beast::error_code ec, size_t n) {
                                    if (ec) return self->abort();
                                    self->buffer_.commit(n);
                                    self->readHead();
                                });
    }

    void readHead() {
        if (closed_) return;
        // A new connection's deadline runs from its acceptance (or handshake) on.
        const bool fresh = phase() == Phase::Fresh;
        enter(Phase::Reading);
        if (!fresh) arm(engine_.options().requestDeadline);
        // A small request usually came whole with its first bytes: parsed here, it needs
        // no further read.
        if (buffer_.size() > 0) {
            beast::error_code ec;
            buffer_.consume(parser_->put(buffer_.data(), ec));
            if (!ec && parser_->is_header_done()) return headRead();
            if (ec && ec != http::error::need_more) return readFailed(ec);
        }
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = this->shared_from_this()](beast::error_code ec, size_t) {
                                    if (ec) return self->readFailed(ec);
                                    self->headRead();
                                });
    }

    void headRead() {
        // The body is read only when the bytes it announces may be held; without a
        // length (chunks) it may grow to the cap.
        if (!parser_->is_done()) {
            const auto length = parser_->content_length();
            const size_t announced =
                length ? static_cast<size_t>(*length) : engine_.options().maxBodyBytes;
            if (!engine_.budget().take(announced)) {
                TBN_LOG_WARN(kTag, "a body of {} bytes refused: {} bytes of bodies held", announced,
                             engine_.budget().held());
                Request req = parser_->get();
                req.keep_alive(false);
                return respond(makeResponse(req, http::status::service_unavailable));
            }
            heldBodyBytes_ = announced;
        }
        auto& head = parser_->get();
        auto expect = head.find(http::field::expect);
        if (expect != head.end() && beast::iequals(expect->value(), "100-continue") &&
            !parser_->is_done()) {
            auto cont = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                           head.version());
            http::async_write(
                stream_, *cont,
                [self = this->shared_from_this(), cont](beast::error_code ec, size_t) {
                    if (ec) return self->abort();
                    self->readBody();
                });
            return;
        }
        readBody();
    }

    void readBody() {
        if (!parser_->is_done() && buffer_.size() > 0) {
            beast::error_code ec;
            buffer_.consume(parser_->put(buffer_.data(), ec));
            if (ec && ec != http::error::need_more) return readFailed(ec);
        }
        if (parser_->is_done()) return requestRead();
        http::async_read(stream_, buffer_, *parser_,
                         [self = this->shared_from_this()](beast::error_code ec, size_t) {
                             if (ec) return self->readFailed(ec);
                             self->requestRead();
                         });
    }

    void readFailed(beast::error_code ec) {
        if (closed_) return;
        if (ec == http::error::body_limit) {
            TBN_LOG_WARN(kTag, "POST /thrift: body above {} bytes refused",
                         engine_.options().maxBodyBytes);
            Request req = parser_->get();
            req.keep_alive(false);
            return respond(makeResponse(req, http::status::payload_too_large));
        }
        // A client that went away or was cut off gets nothing; during a flood these
        // are many, so they are not logged one by one.
        if (ec == http::error::end_of_stream || ec == http::error::partial_message ||
            ec == asio::error::eof || ec == asio::error::operation_aborted ||
            ec == asio::error::connection_reset)
            return abort();
        if (ec.category() == http::make_error_code(http::error::bad_method).category()) {
            TBN_LOG_VERBOSE(kTag, "unreadable request: {}", ec.message());
            Request req;
            req.version(11);
            req.keep_alive(false);
            return respond(makeResponse(req, http::status::bad_request));
        }
        abort();
    }

    void requestRead() {
        request_ = parser_->release();
        parser_.reset();
        const Request& req = request_;
        std::string_view method(req.method_string().data(), req.method_string().size());
        std::string_view target(req.target().data(), req.target().size());
        switch (admitRequest(req)) {
            case RequestAdmission::Forbidden:
                TBN_LOG_WARN(kTag, "refused {} {}: not from this machine's extensions", method,
                             target);
                return respond(makeResponse(req, http::status::forbidden));
            case RequestAdmission::BadRequest: {
                TBN_LOG_WARN(kTag, "refused {} {}: more than one Host or origin", method, target);
                auto res = makeResponse(req, http::status::bad_request);
                res.keep_alive(false);
                return respond(std::move(res));
            }
            case RequestAdmission::NotFound:
                TBN_LOG_VERBOSE(kTag, "{} {}: not served", method, target);
                return respond(makeResponse(req, http::status::not_found));
            case RequestAdmission::Serve:
                break;
        }
        enter(Phase::Processing);
        disarm();
        if (timing::enabled()) {
            static std::atomic<uint64_t> serial{0};
            beast::error_code ignored;
            timingTag_ = ++serial;
            timingPort_ = socket().remote_endpoint(ignored).port();
            timing::mark(timing::Mark::RequestRead, timingTag_, timingPort_);
        }
        ThriftHTTPServer* server = engine_.root().rootObject();
        std::optional<ThriftHTTPServer::OpenedRequest> opened;
        if (server && engine_.hasQuickMethods() && req.body().size() <= kQuickBodyBytes) {
            // Small requests are opened here, and answered here when their handler
            // never waits: a hand-off to a worker and back costs more than the work.
            try {
                opened = server->openRequest(req.body());
            } catch (const std::exception& e) {
                TBN_LOG_ERROR(kTag, "POST /thrift failed: {}", e.what());
                return respond(makeResponse(req, http::status::internal_server_error));
            }
            if (opened->answer ||
                engine_.isQuick(ThriftHTTPServer::methodNameOf(
                    opened->enveloped ? std::string_view(opened->message) : req.body()))) {
                return answerHere(*server, std::move(*opened));
            }
        }
        // The worker may wait minutes for the phone; the I/O thread goes on meanwhile.
        engine_.pool().enqueue([self = this->shared_from_this(),
                                opened = std::move(opened)]() mutable {
            // The handlers' bookkeeping runs once the reply is handed over.
            AfterReplyScope afterReply;
            std::string reply;
            http::status status = http::status::ok;
            ThriftHTTPServer* server = self->engine_.root().rootObject();
            if (!server) {
                TBN_LOG_WARN(kTag, "connection without a root object: no response");
                status = http::status::internal_server_error;
            } else {
                // The phone link learns the request's tag from this thread.
                timing::currentTag() = self->timingTag_;
                try {
                    reply = opened
                                ? server->answerRequest(self->request_.body(), std::move(*opened))
                                : server->processRequest(self->request_.body());
                } catch (const std::exception& e) {
                    TBN_LOG_ERROR(kTag, "POST /thrift failed: {}", e.what());
                    status = http::status::internal_server_error;
                }
                timing::currentTag() = 0;
            }
            TBN_LOG_DEBUG(kTag, "POST /thrift: body {} bytes, reply {} bytes",
                          self->request_.body().size(), reply.size());
            TBN_LOG_VERBOSE(kTag, "POST /thrift -> {}", static_cast<int>(status));
            auto& io = self->engine_.io();
            Response res = makeResponse(self->request_, status, std::move(reply));
            if constexpr (!kSecure) {
                // A plain connection gets its answer from this thread: waking the I/O
                // thread to write it would cost the extension that wake-up.
                std::string wire = serialized(res);
                const size_t sent = self->sendHere(wire);
                if (sent > 0 || wire.empty()) {
                    const bool keepAlive = res.keep_alive();
                    asio::post(io, [self = std::move(self), wire = std::move(wire), sent,
                                    keepAlive]() mutable {
                        self->finishWrite(std::move(wire), sent, keepAlive);
                    });
                    afterReply.runPending();
                    return;
                }
            }
            // The handler takes the last reference over, so the connection ends on the
            // I/O thread.
            asio::post(io, [self = std::move(self), res = std::move(res)]() mutable {
                self->respond(std::move(res));
            });
            afterReply.runPending();
        });
    }

    // On the I/O thread: processes a request whose handler never waits and answers it.
    void answerHere(ThriftHTTPServer& server, ThriftHTTPServer::OpenedRequest opened) {
        AfterReplyScope afterReply;
        std::string reply;
        http::status status = http::status::ok;
        try {
            reply = server.answerRequest(request_.body(), std::move(opened));
        } catch (const std::exception& e) {
            TBN_LOG_ERROR(kTag, "POST /thrift failed: {}", e.what());
            status = http::status::internal_server_error;
        }
        TBN_LOG_DEBUG(kTag, "POST /thrift: body {} bytes, reply {} bytes", request_.body().size(),
                      reply.size());
        Response res = makeResponse(request_, status, std::move(reply));
        if constexpr (!kSecure) {
            // Written straight away: the socket takes a small answer whole.
            std::string wire = serialized(res);
            const size_t sent = sendHere(wire);
            if (sent > 0 || wire.empty()) {
                finishWrite(std::move(wire), sent, res.keep_alive());
                afterReply.runPending();
                return;
            }
        }
        respond(std::move(res));
        afterReply.runPending();
    }

    // The bytes of an answer: its status line, its few fields and its body.
    static std::string serialized(const Response& res) {
        const auto reason = res.reason();
        std::string wire;
        wire.reserve(64 + reason.size() + res.body().size());
        wire += res.version() == 10 ? "HTTP/1.0 " : "HTTP/1.1 ";
        wire += std::to_string(res.result_int());
        wire += ' ';
        wire.append(reason.data(), reason.size());
        wire += "\r\n";
        for (const auto& field : res) {
            wire.append(field.name_string().data(), field.name_string().size());
            wire += ": ";
            wire.append(field.value().data(), field.value().size());
            wire += "\r\n";
        }
        wire += "\r\n";
        wire += res.body();
        return wire;
    }

    // On a worker, while the request is processed (no operation of the I/O thread is
    // pending on the socket): writes what the socket takes at once. 0 when nothing could
    // be written or the connection is closed; the I/O thread then writes the whole answer.
    size_t sendHere(const std::string& wire) {
        std::lock_guard<std::mutex> lock(socketMutex_);
        if (closed_) return 0;
        const int fd = socket().native_handle();
        size_t done = 0;
        while (done < wire.size()) {
            const ssize_t n =
                ::send(fd, wire.data() + done, wire.size() - done, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                break;  // full or failed: the I/O thread finishes (and sees a failure)
            }
        }
        if (done == wire.size() && timingTag_) {
            timing::mark(timing::Mark::ResponseWritten, timingTag_, timingPort_);
        }
        return done;
    }

    // On the I/O thread: the answer was written up to `sent` by a worker; writes the rest.
    void finishWrite(std::string wire, size_t sent, bool keepAlive) {
        if (closed_) return;
        request_ = {};
        releaseBody();
        if (sent == wire.size()) return written(keepAlive);
        enter(Phase::Writing);
        arm(engine_.options().writeDeadline);
        auto rest = std::make_shared<std::string>(std::move(wire));
        asio::async_write(
            socket(), asio::buffer(rest->data() + sent, rest->size() - sent),
            [self = this->shared_from_this(), rest, keepAlive](beast::error_code ec, size_t) {
                if (ec) return self->abort();
                if (self->timingTag_) {
                    timing::mark(timing::Mark::ResponseWritten, self->timingTag_,
                                 self->timingPort_);
                }
                self->written(keepAlive);
            });
    }

    void written(bool keepAlive) {
        timingTag_ = 0;
        ++served_;
        if (keepAlive) return waitForRequest();
        linger();
    }

    void respond(Response res) {
        if (closed_) return;
        enter(Phase::Writing);
        arm(engine_.options().writeDeadline);
        response_ = std::move(res);
        request_ = {};
        releaseBody();
        http::async_write(stream_, response_,
                          [self = this->shared_from_this()](beast::error_code ec, size_t) {
                              if (ec) return self->abort();
                              if (self->timingTag_) {
                                  timing::mark(timing::Mark::ResponseWritten, self->timingTag_,
                                               self->timingPort_);
                              }
                              const bool again = self->response_.keep_alive();
                              self->response_ = {};
                              self->written(again);
                          });
    }

    // After the last answer: stop sending and swallow what the client still sends
    // for a moment, so that it reads the answer instead of a reset.
    void linger() {
        if (closed_) return;
        enter(Phase::Closing);
        arm(std::chrono::milliseconds(2000));
        beast::error_code ignored;
        socket().shutdown(tcp::socket::shutdown_send, ignored);
        drain();
    }

    void drain() {
        buffer_.clear();
        socket().async_read_some(buffer_.prepare(64 * 1024), [self = this->shared_from_this()](
                                                                 beast::error_code ec, size_t n) {
            if (ec) return self->abort();
            self->drained_ += n;
            if (self->drained_ > 2 * self->engine_.options().maxBodyBytes + (1u << 20))
                return self->abort();
            self->drain();
        });
    }

    // Gives the body's share of the budget back once nothing refers to the body.
    void releaseBody() {
        if (const size_t n = std::exchange(heldBodyBytes_, 0)) engine_.budget().give(n);
    }

    Stream stream_;
    asio::steady_timer timer_;
    beast::flat_buffer buffer_{64 * 1024 + 4096};
    std::optional<http::request_parser<http::string_body>> parser_;
    Request request_;
    Response response_;
    size_t drained_ = 0;
    size_t served_ = 0;
    size_t heldBodyBytes_ = 0;  // taken from the budget for the request being served
    // The deadline of the phase, and when the timer is set to fire (I/O thread only).
    Clock::time_point deadline_ = Clock::time_point::max();
    Clock::time_point timerAt_;
    bool timerSet_ = false;
    uint64_t timerWaits_ = 0;
    uint64_t timingTag_ = 0;  // the request being timed (0: timing off)
    uint16_t timingPort_ = 0;
    // Written on the I/O thread; read there freely and by a worker writing an answer
    // under socketMutex_, which also keeps the socket open while that worker writes.
    bool closed_ = false;
    std::mutex socketMutex_;
};

}  // namespace

bool RootHTTPServer::Engine::open(uint16_t port, std::string& error) {
    if (const auto& identity = root_.sslIdentity()) {
        tls_ = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
        SSL_CTX* ctx = tls_->native_handle();
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        // Idle TLS connections give their read and write buffers back.
        SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
        SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
        if (SSL_CTX_use_certificate_chain_file(ctx, identity->certificatePath.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, identity->privateKeyPath.c_str(), SSL_FILETYPE_PEM) !=
                1 ||
            SSL_CTX_check_private_key(ctx) != 1) {
            ERR_clear_error();
            error = "the TLS identity could not be loaded";
            return false;
        }
    }
    beast::error_code ec;
    tcp::endpoint endpoint(asio::ip::make_address_v4(kLoopback), port);
    acceptor_.open(endpoint.protocol(), ec);
    // SO_REUSEADDR only: with SO_REUSEPORT another process could bind the same port
    // beside us and take a share of the connections.
    if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(std::max(1, options_.listenBacklog), ec);
    if (ec) {
        error = std::string("cannot listen on ") + kLoopback + ":" + std::to_string(port) + ": " +
                ec.message();
        return false;
    }
    root_.port_ = acceptor_.local_endpoint().port();
    accept();
    return true;
}

void RootHTTPServer::Engine::accept() {
    acceptor_.async_accept([self = shared_from_this()](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !self->acceptor_.is_open()) return;
        if (ec) {
            // Out of descriptors: make room, and try again a moment later.
            if (ec == asio::error::no_descriptors || ec.value() == ENFILE) self->evictOne();
            TBN_LOG_WARN(kTag, "accepting a connection failed: {}", ec.message());
            self->retry_.expires_after(std::chrono::milliseconds(20));
            self->retry_.async_wait([self](beast::error_code ec) {
                if (!ec) self->accept();
            });
            return;
        }
        self->accepted(std::move(socket));
        self->accept();
    });
}

void RootHTTPServer::Engine::accepted(tcp::socket socket) {
    if (openConnections() >= maxConnections_ && !evictOne()) {
        // Every connection has a request in the works: the newcomer waits its turn
        // at the client's side.
        beast::error_code ignored;
        socket.close(ignored);
        return;
    }
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    if (tls_) {
        std::make_shared<ThriftHTTPConnection<asio::ssl::stream<tcp::socket>>>(
            *this, std::move(socket), *tls_)
            ->start();
    } else {
        std::make_shared<ThriftHTTPConnection<tcp::socket>>(*this, std::move(socket))->start();
    }
}

bool RootHTTPServer::Engine::evictOne() {
    // The longest-idle keep-alive connection first, then the oldest one whose
    // handshake or first request is still unfinished; never one whose request is
    // being answered.
    ConnectionBase* idle = nullptr;
    ConnectionBase* unfinished = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (ConnectionBase* c : connections_) {
            switch (c->phase()) {
                case Phase::Idle:
                case Phase::Closing:
                    if (!idle || c->since() < idle->since()) idle = c;
                    break;
                case Phase::Handshake:
                case Phase::Fresh:
                case Phase::Reading:
                    if (!unfinished || c->accepted() < unfinished->accepted()) unfinished = c;
                    break;
                default:
                    break;
            }
        }
    }
    ConnectionBase* victim = idle ? idle : unfinished;
    if (!victim) return false;
    victim->abort();
    return true;
}

void RootHTTPServer::Engine::stop() {
    asio::post(io_, [self = shared_from_this()] {
        beast::error_code ignored;
        self->acceptor_.close(ignored);
        self->retry_.cancel();
        std::vector<ConnectionBase*> open;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            open.assign(self->connections_.begin(), self->connections_.end());
        }
        for (ConnectionBase* c : open) c->abort();
        // With nothing left to wait for, the I/O thread's run ends by itself.
    });
    if (thread_.joinable()) thread_.join();
    // Requests still with a worker finish; their answers go nowhere.
    pool_.shutdown();
}

// ---------------------------------------------------------------------------
// BodyBudget

const std::shared_ptr<BodyBudget>& BodyBudget::shared() {
    static const auto budget = std::make_shared<BodyBudget>(kSharedCapacity);
    return budget;
}

bool BodyBudget::take(size_t bytes) {
    if (bytes > kSmallBody) {
        size_t large = largeHeld_.load(std::memory_order_relaxed);
        do {
            if (large > capacity_ || bytes > capacity_ - large) return false;
        } while (
            !largeHeld_.compare_exchange_weak(large, large + bytes, std::memory_order_relaxed));
    }
    held_.fetch_add(bytes, std::memory_order_relaxed);
    return true;
}

void BodyBudget::give(size_t bytes) {
    held_.fetch_sub(bytes, std::memory_order_relaxed);
    // The last of a burst of large bodies is gone: give their memory back.
    if (bytes > kSmallBody && largeHeld_.fetch_sub(bytes, std::memory_order_relaxed) == bytes)
        trimHeapSoon();
}

// ---------------------------------------------------------------------------
// RootHTTPServer

RootHTTPServer::RootHTTPServer(ThriftHTTPServer* rootObject, std::optional<SSLIdentity> sslIdentity,
                               QueueKind queue)
    : rootObject_(rootObject), sslIdentity_(std::move(sslIdentity)), queue_(queue) {}

RootHTTPServer::~RootHTTPServer() {
    stop();
}

std::unique_ptr<RootHTTPServer> RootHTTPServer::initAsSerialQueueWithRootObject(
    ThriftHTTPServer* rootObject, std::optional<SSLIdentity> sslIdentity) {
    return std::make_unique<RootHTTPServer>(rootObject, std::move(sslIdentity), QueueKind::Serial);
}

std::unique_ptr<RootHTTPServer> RootHTTPServer::initAsConcurrentQueueWithAndRootObject(
    ThriftHTTPServer* rootObject, std::optional<SSLIdentity> sslIdentity) {
    return std::make_unique<RootHTTPServer>(rootObject, std::move(sslIdentity),
                                            QueueKind::Concurrent);
}

const char* RootHTTPServer::queueLabel() const {
    return queue_ == QueueKind::Serial ? "com.tobrin.lumvane.httpconnection.serial"
                                       : "com.tobrin.lumvane.httpconnection.concurrent";
}

bool RootHTTPServer::start(uint16_t port, const ThriftHTTPServerOptions& options,
                           std::string& error) {
    if (engine_) {
        error = "already started";
        return false;
    }
    auto engine = std::make_shared<Engine>(*this, options);
    if (!engine->open(port, error)) {
        port_ = 0;
        return false;
    }
    engine_ = std::move(engine);
    running_ = true;
    engine_->run();
    return true;
}

void RootHTTPServer::stop() {
    if (!engine_) return;
    engine_->stop();
    engine_.reset();
    running_ = false;
}

size_t RootHTTPServer::connectionCount() const {
    return engine_ ? engine_->connectionCount() : 0;
}

// ---------------------------------------------------------------------------
// ThriftHTTPServer

ThriftHTTPServer::ThriftHTTPServer(uint16_t port, std::optional<SSLIdentity> sslIdentity,
                                   ProtocolFactory protocolFactory, Processors processors,
                                   RootHTTPServer::QueueKind queue, const Options& options)
    : inputProtocolFactory_(protocolFactory),
      outputProtocolFactory_(protocolFactory),
      processors_(std::move(processors)),
      serial_(queue == RootHTTPServer::QueueKind::Serial) {
    TBN_LOG_INFO(kTag, "port {}", port);
    if (protocolFactory) {
        const auto& factory = *protocolFactory;
        TBN_LOG_DEBUG(kTag, "protocol factory {}", typeid(factory).name());
    }
    TBN_LOG_DEBUG(kTag, "{} processors", processors_.size());
    httpServer_ = serial_
                      ? RootHTTPServer::initAsSerialQueueWithRootObject(this, sslIdentity)
                      : RootHTTPServer::initAsConcurrentQueueWithAndRootObject(this, sslIdentity);
    if (!options.listen) return;
    std::string error;
    if (!httpServer_->start(port, options, error)) {
        TBN_LOG_ERROR(kTag, "<: error = {} :>", error);
    }
}

ThriftHTTPServer::~ThriftHTTPServer() {
    httpServer_->stop();
}

std::unique_ptr<ThriftHTTPServer> ThriftHTTPServer::initAsConcurrentWithPort(
    uint16_t port, std::optional<SSLIdentity> sslIdentity, ProtocolFactory protocolFactory,
    Processors processors, Options options) {
    return std::unique_ptr<ThriftHTTPServer>(new ThriftHTTPServer(
        port, std::move(sslIdentity), std::move(protocolFactory), std::move(processors),
        RootHTTPServer::QueueKind::Concurrent, options));
}

std::unique_ptr<ThriftHTTPServer> ThriftHTTPServer::initAsSerialQueueWithPort(
    uint16_t port, std::optional<SSLIdentity> sslIdentity, ProtocolFactory protocolFactory,
    Processors processors, Options options) {
    return std::unique_ptr<ThriftHTTPServer>(
        new ThriftHTTPServer(port, std::move(sslIdentity), std::move(protocolFactory),
                             std::move(processors), RootHTTPServer::QueueKind::Serial, options));
}

std::unique_ptr<ThriftHTTPServer> ThriftHTTPServer::initAsConcurrentQueueWithPort(
    uint16_t port, std::optional<SSLIdentity> sslIdentity, ProtocolFactory protocolFactory,
    std::shared_ptr<TProcessor> processor, Options options) {
    return initAsConcurrentWithPort(port, std::move(sslIdentity), std::move(protocolFactory),
                                    Processors{std::move(processor)}, std::move(options));
}

std::unique_ptr<ThriftHTTPServer> ThriftHTTPServer::initAsSerialQueueWithPort(
    uint16_t port, std::optional<SSLIdentity> sslIdentity, ProtocolFactory protocolFactory,
    std::shared_ptr<TProcessor> processor, Options options) {
    return initAsSerialQueueWithPort(port, std::move(sslIdentity), std::move(protocolFactory),
                                     Processors{std::move(processor)}, std::move(options));
}

std::shared_ptr<ThriftHTTPServerDelegate> ThriftHTTPServer::delegate() const {
    std::lock_guard<std::mutex> lock(delegateMutex_);
    return delegate_.lock();
}

void ThriftHTTPServer::setDelegate(std::weak_ptr<ThriftHTTPServerDelegate> delegate) {
    std::lock_guard<std::mutex> lock(delegateMutex_);
    delegate_ = std::move(delegate);
}

std::string ThriftHTTPServer::offerToProcessors(const std::string& message) {
    std::string reply;
    for (const auto& processor : processors_) {
        // Each processor reads the message from the start, through a buffer of its own
        // that only looks at the bytes (a large message is not copied once per processor).
        auto input = message.empty()
                         ? std::make_shared<TMemoryBuffer>()
                         : std::make_shared<TMemoryBuffer>(
                               reinterpret_cast<uint8_t*>(const_cast<char*>(message.data())),
                               static_cast<uint32_t>(message.size()), TMemoryBuffer::OBSERVE);
        auto output = std::make_shared<TMemoryBuffer>();
        auto check = std::make_shared<ThriftTransportCheckExeption>(
            outputProtocolFactory_->getProtocol(output));
        bool raised = false;
        try {
            processor->process(inputProtocolFactory_->getProtocol(input), check, nullptr);
        } catch (const std::exception& e) {
            raised = true;
            TBN_LOG_ERROR(kTag, "{} = '{}: {}'", "te", typeid(e).name(), e.what());
        } catch (...) {
            raised = true;
            TBN_LOG_ERROR(kTag, "{} = '{}'", "te", "unknown exception");
        }
        reply = output->getBufferAsString();
        if (!raised && check->isSeccuss()) break;
    }
    return reply;
}

std::string ThriftHTTPServer::processRequest(const std::string& body) {
    TBN_LOG_DEBUG(kTag, "request {} bytes", body.size());
    std::unique_lock<std::mutex> serialLock(serialMutex_, std::defer_lock);
    if (serial_) serialLock.lock();
    return answerRequest(body, openRequest(body));
}

std::string_view ThriftHTTPServer::methodNameOf(std::string_view message) {
    if (message.substr(0, kVersionOneStart.size()) != kVersionOneStart) return {};
    message.remove_prefix(kVersionOneStart.size());
    const size_t end = message.find_first_of("\"\\");
    // An escaped name is left to the protocol reader.
    if (end == std::string_view::npos || message[end] != '"') return {};
    return message.substr(0, end);
}

ThriftHTTPServer::OpenedRequest ThriftHTTPServer::openRequest(const std::string& body) {
    OpenedRequest opened;
    opened.enveloped = body.find(kEnvelopeMarker) != std::string::npos && isValidUtf8(body);
    if (!opened.enveloped) return opened;  // the body itself is the message
    Envelope env = parseEnvelope(body);
    if (!env.readable) {
        // Not an object with a text "request": nothing any processor can read.
        TBN_LOG_WARN(kTag, "unreadable request envelope of {} bytes", body.size());
    } else if (!env.encrypted) {
        opened.message = std::move(env.request);
    } else {
        auto owner = delegate();
        if (owner && env.clientId) opened.key = owner->thriftHTTPServer(*this, *env.clientId);
        if (!opened.key) {
            TBN_LOG_WARN(kTag, "encrypted request of an unknown client");
            opened.answer = errorAnswer("not authorized");
            return opened;
        }
        auto cipher = base64Decode(env.request);
        Bytes plain;
        if (cipher) plain = TBNCryptAES::decryptData(*cipher, *opened.key);
        std::string_view text(reinterpret_cast<const char*>(plain.data()), plain.size());
        if (!cipher || !isValidUtf8(text) ||
            text.substr(0, kVersionOneStart.size()) != kVersionOneStart) {
            TBN_LOG_WARN(kTag, "encrypted request that the client's key does not open");
            opened.key.reset();
            opened.answer = errorAnswer("client secret not valid");
            return opened;
        }
        opened.message.assign(text);
    }
    return opened;
}

std::string ThriftHTTPServer::answerRequest(const std::string& body, OpenedRequest opened) {
    if (opened.answer) return std::move(*opened.answer);
    std::string reply = offerToProcessors(opened.enveloped ? opened.message : body);
    if (!opened.enveloped) {
        TBN_LOG_DEBUG(kTag, "answer {} bytes", reply.size());
        return reply;
    }
    nlohmann::json answer;
    if (opened.key) {
        Bytes cipher = TBNCryptAES::encryptData(
            ByteView(reinterpret_cast<const uint8_t*>(reply.data()), reply.size()), *opened.key);
        answer["response"] = base64Encode(cipher);
        answer["encrypted"] = true;
    } else {
        answer["response"] = std::move(reply);
        answer["encrypted"] = false;
    }
    std::string text = answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    TBN_LOG_DEBUG(kTag, "answer {} bytes", text.size());
    return text;
}

}  // namespace lumvane
