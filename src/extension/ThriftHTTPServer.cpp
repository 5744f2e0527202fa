#include "extension/ThriftHTTPServer.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <thrift/transport/TBufferTransports.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <list>
#include <nlohmann/json.hpp>
#include <string_view>
#include <typeinfo>

#include "crypto/TBNCryptAES.h"
#include "extension/ThriftTransportCheckExeption.h"
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
class ElasticThreadPool : public httplib::TaskQueue {
  public:
    ElasticThreadPool(size_t maxThreads, std::string label)
        : max_(std::max<size_t>(1, maxThreads)), label_(std::move(label)) {}
    ~ElasticThreadPool() override { shutdown(); }

    void enqueue(std::function<void()> fn) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (shutdown_) return;
        jobs_.push_back(std::move(fn));
        reapLocked();
        if (idle_ >= jobs_.size() || live_ >= max_) {
            cond_.notify_one();
            return;
        }
        ++live_;
        workers_.emplace_back();
        Worker& w = workers_.back();
        w.thread = std::thread([this, &w] { run(w); });
    }

    void shutdown() override {
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

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// A request that a web page makes carries its page's origin; browser extensions
// send their own scheme (chrome-extension:, moz-extension:, safari-web-extension:)
// and native clients send none.
bool isWebOrigin(std::string_view origin) {
    while (!origin.empty() && (origin.front() == ' ' || origin.front() == '\t'))
        origin.remove_prefix(1);
    return startsWithNoCase(origin, "http:") || startsWithNoCase(origin, "https:") ||
           startsWithNoCase(origin, "file:") || startsWithNoCase(origin, "null");
}

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
// ThriftHTTPConnection: answers the requests of the embedded server's
// connections.

class ThriftHTTPConnection {
  public:
    static void install(RootHTTPServer& root, httplib::Server& server, size_t maxBodyBytes) {
        server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
            if (req.has_header("Origin") && isWebOrigin(req.get_header_value("Origin"))) {
                TBN_LOG_WARN(kTag, "refused {} {} from a web page", req.method, req.path);
                res.status = 403;
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        server.Post("/thrift",
                    [&root, maxBodyBytes](const httplib::Request& req, httplib::Response& res,
                                          const httplib::ContentReader& reader) {
                        answer(root, maxBodyBytes, req, res, reader);
                    });
        // Runs once the response is written, on the connection's thread.
        server.set_logger([](const httplib::Request& req, const httplib::Response&) {
            if (uint64_t& tag = timing::currentTag(); tag != 0) {
                timing::mark(timing::Mark::ResponseWritten, tag,
                             static_cast<uint64_t>(req.remote_port));
                tag = 0;
            }
        });
        server.set_exception_handler(
            [](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
                TBN_LOG_ERROR(kTag, "{} {} failed", req.method, req.path);
                res.status = 500;
            });
    }

  private:
    static void answer(RootHTTPServer& root, size_t maxBodyBytes, const httplib::Request& req,
                       httplib::Response& res, const httplib::ContentReader& reader) {
        // The path is compared exactly: a query string makes it another path.
        if (req.target != "/thrift") {
            TBN_LOG_VERBOSE(kTag, "{} {}: not served", req.method, req.path);
            res.status = 404;
            return;
        }
        std::string body;
        bool tooLarge = false;
        bool complete = reader([&](const char* data, size_t length) {
            if (length > maxBodyBytes - body.size()) {
                tooLarge = true;
                return false;
            }
            body.append(data, length);
            return true;
        });
        if (tooLarge || res.status == 413) {
            TBN_LOG_WARN(kTag, "POST /thrift: body above {} bytes refused", maxBodyBytes);
            res.status = 413;
            res.set_header("Connection", "close");
            return;
        }
        if (!complete) {
            TBN_LOG_WARN(kTag, "POST /thrift: body could not be read");
            res.status = 400;
            res.set_header("Connection", "close");
            return;
        }
        ThriftHTTPServer* server = root.rootObject();
        if (!server) {
            TBN_LOG_WARN(kTag, "connection without a root object: no response");
            res.status = 500;
            return;
        }
        if (timing::enabled()) {
            static std::atomic<uint64_t> serial{0};
            timing::currentTag() = ++serial;
            timing::mark(timing::Mark::RequestRead, timing::currentTag(),
                         static_cast<uint64_t>(req.remote_port));
        }
        std::string reply = server->processRequest(body);
        TBN_LOG_DEBUG(kTag, "POST /thrift: body {} bytes, reply {} bytes", body.size(),
                      reply.size());
        res.status = 200;
        res.body = std::move(reply);  // no content type, as the clients expect
        TBN_LOG_VERBOSE(kTag, "POST /thrift -> {}", res.status);
    }
};

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

bool RootHTTPServer::start(uint16_t port, size_t maxBodyBytes, size_t maxThreads,
                           std::string& error) {
    if (server_) {
        error = "already started";
        return false;
    }
    if (sslIdentity_) {
        auto ssl = std::make_unique<httplib::SSLServer>(sslIdentity_->certificatePath.c_str(),
                                                        sslIdentity_->privateKeyPath.c_str());
        if (!ssl->is_valid()) {
            error = "the TLS identity could not be loaded";
            return false;
        }
        SSL_CTX_set_min_proto_version(ssl->ssl_context(), TLS1_2_VERSION);
        server_ = std::move(ssl);
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
    // SO_REUSEADDR only: the library's default SO_REUSEPORT would let another
    // process bind the same port beside us and take a share of the connections.
    server_->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server_->set_tcp_nodelay(true);
    server_->set_payload_max_length(maxBodyBytes);
    std::string label = queueLabel();
    server_->new_task_queue = [maxThreads, label] {
        return new ElasticThreadPool(maxThreads, label);
    };
    ThriftHTTPConnection::install(*this, *server_, maxBodyBytes);

    int bound = -1;
    errno = 0;
    if (port == 0) {
        bound = server_->bind_to_any_port(kLoopback);
    } else if (server_->bind_to_port(kLoopback, port)) {
        bound = port;
    }
    if (bound <= 0) {
        error = std::string("cannot listen on ") + kLoopback + ":" + std::to_string(port) +
                (errno ? std::string(": ") + std::strerror(errno) : std::string());
        server_.reset();
        return false;
    }
    port_ = static_cast<uint16_t>(bound);
    running_ = true;
    listener_ = std::thread([this] {
        server_->listen_after_bind();
        running_ = false;
    });
    return true;
}

void RootHTTPServer::stop() {
    if (!listener_.joinable()) return;
    // The library ignores a stop that comes before its accept loop is up.
    while (running_ && !server_->is_running()) std::this_thread::yield();
    server_->stop();
    listener_.join();
    running_ = false;
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
    if (!httpServer_->start(port, options.maxBodyBytes, options.maxConnectionThreads, error)) {
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
        // Each processor reads its own copy of the message from the start.
        auto input = message.empty()
                         ? std::make_shared<TMemoryBuffer>()
                         : std::make_shared<TMemoryBuffer>(
                               reinterpret_cast<uint8_t*>(const_cast<char*>(message.data())),
                               static_cast<uint32_t>(message.size()), TMemoryBuffer::COPY);
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

    bool enveloped = body.find(kEnvelopeMarker) != std::string::npos && isValidUtf8(body);
    if (!enveloped) {
        std::string answer = offerToProcessors(body);
        TBN_LOG_DEBUG(kTag, "answer {} bytes", answer.size());
        return answer;
    }

    Envelope env = parseEnvelope(body);
    std::string message;
    std::optional<Bytes> key;
    if (!env.readable) {
        // Not an object with a text "request": nothing any processor can read.
        TBN_LOG_WARN(kTag, "unreadable request envelope of {} bytes", body.size());
    } else if (!env.encrypted) {
        message = std::move(env.request);
    } else {
        auto owner = delegate();
        if (owner && env.clientId) key = owner->thriftHTTPServer(*this, *env.clientId);
        if (!key) {
            TBN_LOG_WARN(kTag, "encrypted request of an unknown client");
            return errorAnswer("not authorized");
        }
        auto cipher = base64Decode(env.request);
        Bytes plain;
        if (cipher) plain = TBNCryptAES::decryptData(*cipher, *key);
        std::string_view text(reinterpret_cast<const char*>(plain.data()), plain.size());
        if (!cipher || !isValidUtf8(text) ||
            text.substr(0, kVersionOneStart.size()) != kVersionOneStart) {
            TBN_LOG_WARN(kTag, "encrypted request that the client's key does not open");
            return errorAnswer("client secret not valid");
        }
        message.assign(text);
    }

    std::string reply = offerToProcessors(message);
    nlohmann::json answer;
    if (key) {
        Bytes cipher = TBNCryptAES::encryptData(
            ByteView(reinterpret_cast<const uint8_t*>(reply.data()), reply.size()), *key);
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
