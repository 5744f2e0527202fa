#pragma once
// The loopback RPC servers that browser extensions, the Safari extension and the
// native-messaging host talk to. Each request is one RPC message in the JSON
// encoding, POSTed to "/thrift", either bare or inside a JSON envelope
// {"request","clientId","encrypted"} whose request may be encrypted with the
// client's AES-256 key. The message is offered to the server's processors in
// order; the first reply that is not an exception is the answer.
//
// Every server listens on 127.0.0.1 only and announces nothing on the network.
// Bodies above the cap get 413. Only requests addressed to a loopback name
// (Host 127.0.0.1, localhost or the local TLS host name, any port) and coming
// from no page at all or from a browser extension (an Origin whose scheme ends
// in "-extension") are taken; everything else gets 403, which also defeats DNS
// rebinding. Bodies and replies are logged by their length only.
//
// The sockets are served by one event-driven I/O thread per server, so slow or
// idle clients cost a descriptor and a little memory but no thread: a request
// head and body must arrive whole within a deadline, a TLS handshake within
// another, and when connections run short the longest-idle keep-alive
// connections are closed first, then the oldest unfinished ones. Requests are
// processed on worker threads, since a handler may wait minutes for the phone; the few
// methods whose handlers never wait (Options::quickMethods) are answered on the I/O
// thread itself, which spares them two thread wake-ups.
//
// The bytes that request bodies hold are bounded across every connection of every
// server (BodyBudget): a body that does not fit is refused with 503 before it is read.
//
// The service layer starts the three servers like this:
//
//   auto factory = ThriftJSONProtocolFactory::sharedFactory();
//   http_ = ThriftHTTPServer::initAsConcurrentWithPort(
//       ThriftHTTPServer::kHTTPPort, std::nullopt, factory, {host, storage, logging});
//   https_ = ThriftHTTPServer::initAsConcurrentWithPort(
//       ThriftHTTPServer::kHTTPSPort, identity, factory, {host, storage});
//   logging_ = ThriftHTTPServer::initAsSerialQueueWithPort(
//       ThriftHTTPServer::kLoggingPort, identity, factory, logging);
//   for (auto* s : {http_.get(), https_.get(), logging_.get()}) s->setDelegate(service);
//
// and stops them by destroying them.
#include <thrift/TProcessor.h>
#include <thrift/protocol/TProtocol.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/CryptoTypes.h"

namespace lumvane {

class ThriftHTTPServer;

// The TLS identity of an HTTPS server: PEM files of the certificate (chain) and of
// its private key.
struct SSLIdentity {
    std::string certificatePath;
    std::string privateKeyPath;
};

class ThriftHTTPServerDelegate {
  public:
    virtual ~ThriftHTTPServerDelegate() = default;
    // The AES key of a client (the SHA-256 digest of its stored secret), or nothing
    // for a client that is not known.
    virtual std::optional<Bytes> thriftHTTPServer(ThriftHTTPServer& server,
                                                  const std::string& clientId) = 0;
};

struct ThriftHTTPServerOptions;

// The bytes that request bodies may hold at once, from the moment a head announces its
// body until the answer is handed over. A body larger than kSmallBody is taken only while
// the large bodies held stay within the capacity; smaller ones are counted but never
// refused (the connection cap bounds them), so that pings pass whatever else is held.
class BodyBudget {
  public:
    static constexpr size_t kSmallBody = 16 * 1024;
    // Shared by every server of the process unless it is given its own.
    static constexpr size_t kSharedCapacity = 32u * 1024 * 1024;

    explicit BodyBudget(size_t capacity) : capacity_(capacity) {}
    static const std::shared_ptr<BodyBudget>& shared();

    // False when a large body does not fit; nothing is taken then.
    bool take(size_t bytes);
    void give(size_t bytes);
    size_t held() const { return held_.load(std::memory_order_relaxed); }
    size_t capacity() const { return capacity_; }

  private:
    const size_t capacity_;
    std::atomic<size_t> held_{0};
    std::atomic<size_t> largeHeld_{0};
};

// The embedded HTTP(S) server of one ThriftHTTPServer: the listening socket, the
// I/O thread, the worker threads and the back link to its owner.
class RootHTTPServer {
  public:
    enum class QueueKind { Serial, Concurrent };

    RootHTTPServer(ThriftHTTPServer* rootObject, std::optional<SSLIdentity> sslIdentity,
                   QueueKind queue);
    ~RootHTTPServer();
    RootHTTPServer(const RootHTTPServer&) = delete;
    RootHTTPServer& operator=(const RootHTTPServer&) = delete;

    static std::unique_ptr<RootHTTPServer> initAsSerialQueueWithRootObject(
        ThriftHTTPServer* rootObject, std::optional<SSLIdentity> sslIdentity);
    static std::unique_ptr<RootHTTPServer> initAsConcurrentQueueWithAndRootObject(
        ThriftHTTPServer* rootObject, std::optional<SSLIdentity> sslIdentity);

    ThriftHTTPServer* rootObject() const { return rootObject_; }
    const std::optional<SSLIdentity>& sslIdentity() const { return sslIdentity_; }
    bool isSecure() const { return sslIdentity_.has_value(); }
    QueueKind queueKind() const { return queue_; }
    // "com.tobrin.lumvane.httpconnection.serial" or "...concurrent".
    const char* queueLabel() const;

    // Binds 127.0.0.1:port (port 0 picks a free one) and serves on a thread of its
    // own; no other interface is ever bound. The first start raises the process's
    // soft descriptor limit to its hard limit, since each connection holds one, and has
    // the allocator map every block above 256 KiB on its own (request bodies), so that
    // freeing one gives it back to the system.
    // Returns false, with the reason in error, when that is not possible.
    bool start(uint16_t port, const ThriftHTTPServerOptions& options, std::string& error);
    // Closes the listener and every connection, then waits for requests still being
    // processed.
    void stop();
    bool isRunning() const { return running_; }
    uint16_t port() const { return port_; }
    // Connections open right now (accepted and not yet closed).
    size_t connectionCount() const;

    class Engine;

  private:
    ThriftHTTPServer* rootObject_;
    std::optional<SSLIdentity> sslIdentity_;
    QueueKind queue_;
    std::shared_ptr<Engine> engine_;
    std::atomic<bool> running_{false};
    uint16_t port_ = 0;
};

// Whether a request may be taken, by its Host and Origin headers (nothing when the
// header is missing): Host must name 127.0.0.1, localhost or the local TLS host name,
// with any port; Origin must be absent or have a scheme ending in "-extension".
bool isLoopbackHost(std::optional<std::string_view> host);
bool isExtensionOrigin(std::optional<std::string_view> origin);

struct ThriftHTTPServerOptions {
    size_t maxBodyBytes = 4u * 1024 * 1024;
    // Worker threads of one server (one on a serial server). Handlers may block
    // for minutes while the phone is asked, so this is well above the number of
    // requests in flight.
    size_t maxConnectionThreads = 128;
    // Open connections at most; lowered to what the descriptor limit allows.
    size_t maxConnections = 1024;
    // Connections the kernel holds for the server before it accepts them. Well
    // above the requests a native-messaging host starts at once: when a burst
    // overflows the queue, the kernel drops the handshake's last step and the
    // connection the client believes open is reset, and the message is lost.
    int listenBacklog = 512;
    // From the first byte of a request until its head and body are in.
    std::chrono::milliseconds requestDeadline{10000};
    // A connection waiting for its (next) request.
    std::chrono::milliseconds idleTimeout{30000};
    // From accepting a TLS connection until its handshake is done.
    std::chrono::milliseconds handshakeDeadline{10000};
    // Writing one answer.
    std::chrono::milliseconds writeDeadline{30000};
    // Off: the server processes requests given to processRequest() but never
    // opens a socket.
    bool listen = true;
    // Methods whose handlers never wait (no phone, no user, no lock held for long):
    // a small request for one of them is answered on the I/O thread instead of being
    // handed to a worker. Never used on a serial server.
    std::vector<std::string> quickMethods;
    // Where request bodies are counted (null: BodyBudget::shared()).
    std::shared_ptr<BodyBudget> bodyBudget;
};

class ThriftHTTPServer {
  public:
    using Processors = std::vector<std::shared_ptr<apache::thrift::TProcessor>>;
    using ProtocolFactory = std::shared_ptr<apache::thrift::protocol::TProtocolFactory>;

    static constexpr uint16_t kHTTPPort = 19521;
    static constexpr uint16_t kHTTPSPort = 19523;
    static constexpr uint16_t kLoggingPort = 19524;
    static constexpr size_t kMaxBodyBytes = 4u * 1024 * 1024;

    using Options = ThriftHTTPServerOptions;

    // Create, configure and start a server; the server is returned whether or not
    // it could start (isListening() tells). Port 0 picks a free port.
    static std::unique_ptr<ThriftHTTPServer> initAsConcurrentWithPort(
        uint16_t port, std::optional<SSLIdentity> sslIdentity, ProtocolFactory protocolFactory,
        Processors processors, Options options = {});
    static std::unique_ptr<ThriftHTTPServer> initAsSerialQueueWithPort(
        uint16_t port, std::optional<SSLIdentity> sslIdentity, ProtocolFactory protocolFactory,
        Processors processors, Options options = {});
    static std::unique_ptr<ThriftHTTPServer> initAsConcurrentQueueWithPort(
        uint16_t port, std::optional<SSLIdentity> sslIdentity, ProtocolFactory protocolFactory,
        std::shared_ptr<apache::thrift::TProcessor> processor, Options options = {});
    static std::unique_ptr<ThriftHTTPServer> initAsSerialQueueWithPort(
        uint16_t port, std::optional<SSLIdentity> sslIdentity, ProtocolFactory protocolFactory,
        std::shared_ptr<apache::thrift::TProcessor> processor, Options options = {});

    // Stops listening; returns once no connection thread runs any more.
    ~ThriftHTTPServer();
    ThriftHTTPServer(const ThriftHTTPServer&) = delete;
    ThriftHTTPServer& operator=(const ThriftHTTPServer&) = delete;

    // The whole request logic of one POST body: envelope, decryption, processors,
    // reply envelope. Returns the answer body.
    std::string processRequest(const std::string& body);

    // A body taken out of its envelope (and decrypted): either the message for the
    // processors (the body itself when it has no envelope), or an answer already
    // decided (an envelope error).
    struct OpenedRequest {
        std::string message;       // when enveloped
        std::optional<Bytes> key;  // the client's key, for the reply
        bool enveloped = false;
        std::optional<std::string> answer;
    };
    // processRequest() in two steps: the first is cheap and tells the method called.
    OpenedRequest openRequest(const std::string& body);
    std::string answerRequest(const std::string& body, OpenedRequest request);
    // The method name of a JSON-encoded message ("sendPing" of [1,"sendPing",1,...]);
    // empty when it cannot be read without parsing the message.
    static std::string_view methodNameOf(std::string_view message);

    std::shared_ptr<ThriftHTTPServerDelegate> delegate() const;
    void setDelegate(std::weak_ptr<ThriftHTTPServerDelegate> delegate);

    RootHTTPServer& httpServer() { return *httpServer_; }
    const ProtocolFactory& inputProtocolFactory() const { return inputProtocolFactory_; }
    const ProtocolFactory& outputProtocolFactory() const { return outputProtocolFactory_; }
    const Processors& processors() const { return processors_; }

    bool isListening() const { return httpServer_->isRunning(); }
    // The port actually bound (useful when 0 was asked for).
    uint16_t port() const { return httpServer_->port(); }

  private:
    ThriftHTTPServer(uint16_t port, std::optional<SSLIdentity> sslIdentity,
                     ProtocolFactory protocolFactory, Processors processors,
                     RootHTTPServer::QueueKind queue, const Options& options);

    std::string offerToProcessors(const std::string& message);

    mutable std::mutex delegateMutex_;
    std::weak_ptr<ThriftHTTPServerDelegate> delegate_;
    ProtocolFactory inputProtocolFactory_;
    ProtocolFactory outputProtocolFactory_;
    Processors processors_;
    bool serial_;
    std::mutex serialMutex_;  // one request at a time on a serial server
    std::unique_ptr<RootHTTPServer> httpServer_;
};

}  // namespace lumvane
