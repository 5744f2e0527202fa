#include "extension/ThriftHTTPServer.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <thrift/TApplicationException.h>
#include <thrift/transport/TBufferTransports.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "TBNHostStorageService.h"
#include "TBNLoggingService.h"
#include "TBNStorageService.h"
#include "crypto/TBNCryptAES.h"
#include "extension/ThriftJSONProtocol.h"
#include "runtime/log/LogDispatcher.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {
namespace {

using apache::thrift::TApplicationException;
using apache::thrift::TProcessor;
using apache::thrift::protocol::TMessageType;
using apache::thrift::protocol::TProtocol;
using apache::thrift::transport::TMemoryBuffer;
using namespace std::chrono_literals;
namespace wt = lumvane::wiretest;

// ---- Fake handlers -------------------------------------------------------

// Calls whose app identifier is "block" wait until the gate opens.
struct Gate {
    std::mutex mutex;
    std::condition_variable cond;
    bool open = false;
    int inside = 0;
    int maxInside = 0;

    void enter() {
        std::unique_lock<std::mutex> lock(mutex);
        ++inside;
        maxInside = std::max(maxInside, inside);
        cond.notify_all();
    }
    void leave() {
        std::lock_guard<std::mutex> lock(mutex);
        --inside;
    }
    bool waitInside(int n, std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex);
        return cond.wait_for(lock, limit, [&] { return inside >= n; });
    }
    void waitOpen() {
        std::unique_lock<std::mutex> lock(mutex);
        cond.wait(lock, [&] { return open; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        cond.notify_all();
    }
};

wt::TBNResponseInfo infoFor(const wt::TBNRequestInfo& request, const std::string& id) {
    wt::TBNResponseInfo info;
    info.__set_id(id);
    info.__set_timeStampUtc(1700000000);
    info.__set_requestId(request.id);
    info.__set_contextName(request.contextName);
    return info;
}

class HostHandler : public wt::TBNHostStorageServiceIf {
  public:
    explicit HostHandler(Gate* gate = nullptr) : gate_(gate) {}
    void sendPing(wt::TBNPongTestResponse& out, const wt::TBNPingTestRequest& request) override {
        if (request.appIdentifier == "block" && gate_) {
            gate_->enter();
            gate_->waitOpen();
            gate_->leave();
        }
        out.__set_info(infoFor(request.info, "pong"));
        out.__set_flags(16);
        out.__set_clientSecret(request.auth.clientSecret);
    }

  private:
    Gate* gate_;
};

class StorageHandler : public wt::TBNStorageServiceIf {
  public:
    void deleteLoginData(wt::TBNDeleteLoginDataResponse& out,
                         const wt::TBNDeleteLoginDataRequest& request) override {
        out.__set_info(infoFor(request.info, "deleted"));
    }
    void getSiteDataList(wt::TBNGetSiteDataListResponse& out,
                         const wt::TBNGetSiteDataListRequest& request) override {
        out.__set_info(infoFor(request.info, "list"));
    }
};

// Holds every call for a while to see whether another call overlaps it.
class LoggingHandler : public wt::TBNLoggingServiceIf {
  public:
    explicit LoggingHandler(Gate* gate = nullptr) : gate_(gate) {}
    void sendLog(wt::TBNPongTestResponse& out, const wt::TBNPingTestRequest& request) override {
        if (gate_) {
            gate_->enter();
            gate_->waitInside(2, 150ms);
            gate_->leave();
        }
        out.__set_info(infoFor(request.info, "logged"));
    }

  private:
    Gate* gate_;
};

// Counts how often the server offers it a message.
class CountingProcessor : public TProcessor {
  public:
    explicit CountingProcessor(std::shared_ptr<TProcessor> inner) : inner_(std::move(inner)) {}
    bool process(std::shared_ptr<TProtocol> in, std::shared_ptr<TProtocol> out,
                 void* context) override {
        ++calls;
        return inner_->process(in, out, context);
    }
    std::atomic<int> calls{0};

  private:
    std::shared_ptr<TProcessor> inner_;
};

class ThrowingProcessor : public TProcessor {
  public:
    bool process(std::shared_ptr<TProtocol>, std::shared_ptr<TProtocol> out, void*) override {
        out->getTransport()->write(reinterpret_cast<const uint8_t*>("partial"), 7);
        throw std::runtime_error("handler failed");
    }
};

Bytes sha256(const std::string& text) {
    Bytes digest(SHA256_DIGEST_LENGTH);
    SHA256(reinterpret_cast<const uint8_t*>(text.data()), text.size(), digest.data());
    return digest;
}

class KeyDelegate : public ThriftHTTPServerDelegate {
  public:
    std::optional<Bytes> thriftHTTPServer(ThriftHTTPServer&, const std::string& clientId) override {
        auto it = secrets.find(clientId);
        if (it == secrets.end()) return std::nullopt;
        return sha256(it->second);
    }
    std::map<std::string, std::string> secrets{{"client-1", "secret-1"}};
};

// ---- Message helpers ------------------------------------------------------

wt::TBNPingTestRequest pingRequest(const std::string& app = "ext") {
    wt::TBNPingTestRequest req;
    wt::TBNRequestInfo info;
    info.__set_id("5");
    info.__set_contextName("x5");
    req.__set_info(info);
    wt::TBNAuthentication auth;
    auth.__set_clientId("client-1");
    auth.__set_clientSecret("S3cr3t-Marker");
    req.__set_auth(auth);
    req.__set_appIdentifier(app);
    return req;
}

template <typename Client, typename Send>
std::string callText(Send send) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    auto protocol = std::make_shared<ThriftJSONProtocol>(buffer);
    Client client(protocol, protocol);
    send(client);
    return buffer->getBufferAsString();
}

std::string pingText(const std::string& app = "ext") {
    return callText<wt::TBNHostStorageServiceClient>(
        [&](auto& c) { c.send_sendPing(pingRequest(app)); });
}

std::string logText() {
    return callText<wt::TBNLoggingServiceClient>([&](auto& c) { c.send_sendLog(pingRequest()); });
}

std::string deleteText() {
    wt::TBNDeleteLoginDataRequest req;
    wt::TBNRequestInfo info;
    info.__set_id("9");
    info.__set_contextName("x9");
    req.__set_info(info);
    return callText<wt::TBNStorageServiceClient>([&](auto& c) { c.send_deleteLoginData(req); });
}

std::shared_ptr<ThriftJSONProtocol> replyReader(const std::string& text) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    buffer->write(reinterpret_cast<const uint8_t*>(text.data()),
                  static_cast<uint32_t>(text.size()));
    return std::make_shared<ThriftJSONProtocol>(buffer);
}

wt::TBNPongTestResponse readPong(const std::string& text) {
    auto in = replyReader(text);
    wt::TBNHostStorageServiceClient client(in, in);
    wt::TBNPongTestResponse pong;
    client.recv_sendPing(pong);
    return pong;
}

// The application exception that a reply carries, with the method name.
std::pair<std::string, TApplicationException> readException(const std::string& text) {
    auto in = replyReader(text);
    std::string name;
    TMessageType type;
    int32_t seqid;
    in->readMessageBegin(name, type, seqid);
    EXPECT_EQ(type, apache::thrift::protocol::T_EXCEPTION);
    TApplicationException x;
    x.read(in.get());
    return {name, x};
}

std::string encryptToBase64(const std::string& plain, const Bytes& key) {
    Bytes cipher = TBNCryptAES::encryptData(
        ByteView(reinterpret_cast<const uint8_t*>(plain.data()), plain.size()), key);
    std::string bin(cipher.begin(), cipher.end());
    // Base64 by OpenSSL, so the test does not share the server's encoder.
    std::string out(4 * ((bin.size() + 2) / 3) + 1, '\0');
    int n =
        EVP_EncodeBlock(reinterpret_cast<uint8_t*>(out.data()),
                        reinterpret_cast<const uint8_t*>(bin.data()), static_cast<int>(bin.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string decryptFromBase64(const std::string& text, const Bytes& key) {
    std::string bin(text.size(), '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<uint8_t*>(bin.data()),
                            reinterpret_cast<const uint8_t*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0) return {};
    size_t pad = 0;
    if (!text.empty() && text.back() == '=') ++pad;
    if (text.size() > 1 && text[text.size() - 2] == '=') ++pad;
    bin.resize(static_cast<size_t>(n) - pad);
    Bytes plain = TBNCryptAES::decryptData(
        ByteView(reinterpret_cast<const uint8_t*>(bin.data()), bin.size()), key);
    return std::string(plain.begin(), plain.end());
}

std::string envelope(const std::string& request, bool encrypted,
                     const std::string& clientId = "client-1") {
    return nlohmann::json{{"request", request}, {"clientId", clientId}, {"encrypted", encrypted}}
        .dump();
}

// ---- Fixture: the three servers on free ports -----------------------------

class ThriftHTTPServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto factory = ThriftJSONProtocolFactory::sharedFactory();
        host = std::make_shared<CountingProcessor>(
            std::make_shared<wt::TBNHostStorageServiceProcessor>(
                std::make_shared<HostHandler>(&gate)));
        storage = std::make_shared<CountingProcessor>(
            std::make_shared<wt::TBNStorageServiceProcessor>(std::make_shared<StorageHandler>()));
        logging = std::make_shared<CountingProcessor>(
            std::make_shared<wt::TBNLoggingServiceProcessor>(std::make_shared<LoggingHandler>()));
        http = ThriftHTTPServer::initAsConcurrentWithPort(0, std::nullopt, factory,
                                                          {host, storage, logging});
        ASSERT_TRUE(http->isListening());
        delegate = std::make_shared<KeyDelegate>();
        http->setDelegate(delegate);
    }

    httplib::Result post(const std::string& body, const httplib::Headers& headers = {},
                         const std::string& path = "/thrift") {
        httplib::Client client("127.0.0.1", http->port());
        return client.Post(path, headers, body, "application/json");
    }

    Gate gate;
    std::shared_ptr<CountingProcessor> host, storage, logging;
    std::unique_ptr<ThriftHTTPServer> http;
    std::shared_ptr<KeyDelegate> delegate;
};

TEST_F(ThriftHTTPServerTest, BareMessagesReachTheProcessorThatKnowsTheMethod) {
    auto res = post(pingText());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    wt::TBNPongTestResponse pong = readPong(res->body);
    EXPECT_EQ(pong.info.requestId, "5");
    EXPECT_EQ(pong.flags, 16);
    EXPECT_EQ(host->calls, 1);
    EXPECT_EQ(storage->calls, 0);

    // The host-storage processor answers deleteLoginData with an exception; the
    // storage processor's reply is kept.
    res = post(deleteText());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    auto in = replyReader(res->body);
    wt::TBNStorageServiceClient client(in, in);
    wt::TBNDeleteLoginDataResponse deleted;
    client.recv_deleteLoginData(deleted);
    EXPECT_EQ(deleted.info.id, "deleted");
    EXPECT_EQ(deleted.info.requestId, "9");
    EXPECT_EQ(host->calls, 2);
    EXPECT_EQ(storage->calls, 1);
    EXPECT_EQ(logging->calls, 0);
}

TEST_F(ThriftHTTPServerTest, UnknownMethodGetsTheLastProcessorsException) {
    auto res = post(R"([1,"noSuchMethod",1,3,{"1":{"rec":{}}}])");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    auto [name, x] = readException(res->body);
    EXPECT_EQ(name, "noSuchMethod");
    EXPECT_EQ(x.getType(), TApplicationException::UNKNOWN_METHOD);
    EXPECT_STREQ(x.what(), "Invalid method name: 'noSuchMethod'");
    EXPECT_EQ(host->calls, 1);
    EXPECT_EQ(storage->calls, 1);
    EXPECT_EQ(logging->calls, 1);
}

TEST_F(ThriftHTTPServerTest, PlainEnvelopeGetsPlainReplyEnvelope) {
    auto res = post(envelope(pingText(), false));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    auto answer = nlohmann::json::parse(res->body);
    EXPECT_EQ(answer.size(), 2u);
    EXPECT_EQ(answer["encrypted"], false);
    EXPECT_EQ(readPong(answer["response"].get<std::string>()).info.requestId, "5");
    // No white space in the envelope.
    EXPECT_EQ(res->body.find(' '), std::string::npos);
}

TEST_F(ThriftHTTPServerTest, EncryptedEnvelopeUsesTheClientsKeyBothWays) {
    Bytes key = sha256("secret-1");
    auto res = post(envelope(encryptToBase64(pingText(), key), true));
    ASSERT_TRUE(res);
    auto answer = nlohmann::json::parse(res->body);
    EXPECT_EQ(answer["encrypted"], true);
    std::string reply = decryptFromBase64(answer["response"].get<std::string>(), key);
    EXPECT_EQ(readPong(reply).info.requestId, "5");
}

TEST_F(ThriftHTTPServerTest, EnvelopeErrorAnswers) {
    Bytes key = sha256("secret-1");
    Bytes wrongKey = sha256("not-the-secret");
    struct Case {
        const char* name;
        std::string body;
        const char* error;
    };
    const Case cases[] = {
        {"unknown client", envelope(encryptToBase64(pingText(), key), true, "stranger"),
         "not authorized"},
        {"client id not text", R"({"request":"AAAA","clientId":5,"encrypted":true})",
         "not authorized"},
        {"wrong secret", envelope(encryptToBase64(pingText(), wrongKey), true),
         "client secret not valid"},
        {"plaintext starting with a space", envelope(encryptToBase64(" " + pingText(), key), true),
         "client secret not valid"},
        {"not base64", envelope("!!!!" + encryptToBase64(pingText(), key), true),
         "client secret not valid"},
        {"base64 with a line break", envelope(encryptToBase64(pingText(), key) + "\n", true),
         "client secret not valid"},
        {"empty request", envelope("", true), "client secret not valid"},
    };
    for (const auto& c : cases) {
        auto res = post(c.body);
        ASSERT_TRUE(res) << c.name;
        EXPECT_EQ(res->status, 200) << c.name;
        EXPECT_EQ(nlohmann::json::parse(res->body), (nlohmann::json{{"error", c.error}})) << c.name;
    }
    EXPECT_EQ(host->calls, 0);

    // Without a delegate no client is known.
    http->setDelegate({});
    auto res = post(envelope(encryptToBase64(pingText(), key), true));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, R"({"error":"not authorized"})");
}

TEST_F(ThriftHTTPServerTest, EnvelopesOfAnotherShapeAreUnreadableRequests) {
    const std::string cases[] = {
        R"({"clientId":"a"})",
        R"([{"clientId":"a"}])",
        R"({"request":5,"clientId":"a"})",
        R"({"request":["x"],"clientId":"a"})",
        R"({"request":"x","clientId":"a","encrypted":"yes"})",
        R"({"clientId": "unterminated)",
        R"("clientId":)",
    };
    for (const auto& body : cases) {
        auto res = post(body);
        ASSERT_TRUE(res) << body;
        EXPECT_EQ(res->status, 200) << body;
        EXPECT_EQ(nlohmann::json::parse(res->body),
                  (nlohmann::json{{"response", ""}, {"encrypted", false}}))
            << body;
    }
}

TEST_F(ThriftHTTPServerTest, OnlyPostToExactlyThriftIsServed) {
    httplib::Client client("127.0.0.1", http->port());
    auto get = client.Get("/thrift");
    ASSERT_TRUE(get);
    EXPECT_NE(get->status, 200);
    auto query = post(pingText(), {}, "/thrift?x=1");
    ASSERT_TRUE(query);
    EXPECT_EQ(query->status, 404);
    auto other = post(pingText(), {}, "/other");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 404);
    EXPECT_EQ(host->calls, 0);
}

TEST_F(ThriftHTTPServerTest, BodiesAboveTheCapAreRefused) {
    std::string big(ThriftHTTPServer::kMaxBodyBytes + 1, 'a');
    auto res = post(big);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 413);

    // Also when the body comes in chunks without a length.
    httplib::Client client("127.0.0.1", http->port());
    size_t sent = 0;
    auto chunked = client.Post(
        "/thrift",
        [&](size_t, httplib::DataSink& sink) {
            std::string piece(64 * 1024, 'b');
            if (sent > ThriftHTTPServer::kMaxBodyBytes + piece.size()) {
                sink.done();
                return true;
            }
            sent += piece.size();
            return sink.write(piece.data(), piece.size());
        },
        "application/json");
    ASSERT_TRUE(chunked) << httplib::to_string(chunked.error());
    EXPECT_EQ(chunked->status, 413);
    EXPECT_EQ(host->calls, 0);

    // A body at the cap still goes through (and is unreadable as a message).
    std::string atCap(ThriftHTTPServer::kMaxBodyBytes, ' ');
    res = post(atCap);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
}

TEST_F(ThriftHTTPServerTest, WebPagesAreRefusedExtensionsPass) {
    struct Case {
        const char* origin;
        int status;
    };
    const Case cases[] = {
        {"http://evil.example", 403},
        {"https://evil.example:8443", 403},
        {"HTTPS://EVIL.EXAMPLE", 403},
        {"null", 403},
        {"file://", 403},
        {"chrome-extension://abcdefghijklmnopabcdefghijklmnop", 200},
        {"moz-extension://0e5f0c51-9a1d-4bf6-a8f1-3c5b6a1e2d40", 200},
        {"safari-web-extension://E1A2B3C4", 200},
    };
    for (const auto& c : cases) {
        auto res = post(pingText(), {{"Origin", c.origin}});
        ASSERT_TRUE(res) << c.origin;
        EXPECT_EQ(res->status, c.status) << c.origin;
    }
    EXPECT_EQ(host->calls, 3);
}

TEST(ThriftHTTPServerAdmission, OnlyLoopbackHostsAndExtensionOriginsAreTaken) {
    struct HostCase {
        std::optional<std::string_view> host;
        bool taken;
    };
    const HostCase hosts[] = {
        {"127.0.0.1", true},
        {"127.0.0.1:19521", true},
        {"localhost", true},
        {"LocalHost:8080", true},
        {"local.lumvane.io:19523", true},
        {"LOCAL.LUMVANE.IO", true},
        {std::nullopt, false},
        {"", false},
        {"evil.example", false},
        {"evil.example:19521", false},
        {"127.0.0.1.evil.example", false},
        {"localhost.evil.example:80", false},
        {"sub.local.lumvane.io", false},
        {"127.0.0.2", false},
        {"0.0.0.0:19521", false},
        {"[::1]:19521", false},
        {"127.0.0.1:", false},
        {"127.0.0.1:80x", false},
        {"127.0.0.1:19521:1", false},
    };
    for (const auto& c : hosts) {
        EXPECT_EQ(isLoopbackHost(c.host), c.taken) << (c.host ? *c.host : "(none)");
    }

    struct OriginCase {
        std::optional<std::string_view> origin;
        bool taken;
    };
    const OriginCase origins[] = {
        {std::nullopt, true},
        {"chrome-extension://abcdefghijklmnopabcdefghijklmnop", true},
        {"moz-extension://0e5f0c51-9a1d-4bf6-a8f1-3c5b6a1e2d40", true},
        {"safari-web-extension://E1A2B3C4", true},
        {"MS-BROWSER-EXTENSION://x", true},
        {"", false},
        {"null", false},
        {"http://evil.example", false},
        {"https://127.0.0.1", false},
        {"file://", false},
        {"data:", false},
        {"blob:https://evil.example/1", false},
        {"ftp://x", false},
        {"extension://x", false},
        {"-extension://x", false},
        {"chrome-extension:x", false},
        {"http://chrome-extension://x", false},
        {"evil example-extension://x", false},
    };
    for (const auto& c : origins) {
        EXPECT_EQ(isExtensionOrigin(c.origin), c.taken) << (c.origin ? *c.origin : "(none)");
    }
}

// ---- Raw sockets: slow, idle and cut-off clients ---------------------------

int connectRaw(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Whether the server closed the connection within the time (end of input or a reset).
bool closedByServer(int fd, std::chrono::milliseconds within) {
    auto until = std::chrono::steady_clock::now() + within;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        int n = poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
        if (n > 0) {
            char buf[512];
            ssize_t got = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (got <= 0 && !(got < 0 && errno == EAGAIN)) return true;
            continue;  // an answer: keep reading until the close
        }
        if (left.count() <= 0) return false;
    }
}

// A raw request with the given head lines (Host and Origin among them, or not).
std::string rawExchange(uint16_t port, const std::string& request) {
    int fd = connectRaw(port);
    if (fd < 0) return {};
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buf[4096];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 30000) > 0) {
        ssize_t got = recv(fd, buf, sizeof buf, 0);
        if (got <= 0) break;
        answer.append(buf, static_cast<size_t>(got));
    }
    close(fd);
    return answer;
}

TEST_F(ThriftHTTPServerTest, RequestsForeignHostsOrPagesGet403) {
    // Through a client that names the host it was given (as after DNS rebinding).
    auto res = post(pingText(), {{"Host", "evil.example:" + std::to_string(http->port())}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 403);
    res = post(pingText(), {{"Host", "localhost:" + std::to_string(http->port())}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);

    // Without any Host (HTTP/1.0), and with a second Origin behind an extension's.
    const std::string body = pingText();
    std::string noHost = "POST /thrift HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) +
                         "\r\n\r\n" + body;
    EXPECT_EQ(rawExchange(http->port(), noHost).rfind("HTTP/1.0 403", 0), 0u);
    std::string twoOrigins =
        "POST /thrift HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        "Origin: chrome-extension://abc\r\nOrigin: https://evil.example\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
    EXPECT_EQ(rawExchange(http->port(), twoOrigins).rfind("HTTP/1.1 403", 0), 0u);
    EXPECT_EQ(host->calls, 1);
}

// A request that names its host twice, or several origins, leaves open which one a check
// would go by: refused as malformed, whatever the names are.
TEST_F(ThriftHTTPServerTest, TwoHostsOrSeveralOriginsAre400) {
    const std::string body = pingText();
    struct Case {
        const char* headers;
        const char* status;
    };
    const Case cases[] = {
        {"Host: 127.0.0.1\r\nHost: 127.0.0.1\r\n", "HTTP/1.1 400"},
        {"Host: 127.0.0.1\r\nHost: evil.example\r\n", "HTTP/1.1 400"},
        {"Host: localhost\r\nOrigin: chrome-extension://abc chrome-extension://def\r\n",
         "HTTP/1.1 400"},
        {"Host: localhost\r\nOrigin: chrome-extension://abc https://evil.example\r\n",
         "HTTP/1.1 400"},
        {"Host: localhost\r\nOrigin: chrome-extension://abc,moz-extension://def\r\n",
         "HTTP/1.1 400"},
        {"Host: localhost\r\nOrigin: chrome-extension://abc\r\nOrigin: moz-extension://d\r\n",
         "HTTP/1.1 400"},
        // One of each, blanks around the origin: taken.
        {"Host: localhost\r\nOrigin:  chrome-extension://abc \r\n", "HTTP/1.1 200"},
        {"Host: 127.0.0.1\r\n", "HTTP/1.1 200"},
    };
    for (const auto& c : cases) {
        const std::string request =
            std::string("POST /thrift HTTP/1.1\r\n") + c.headers +
            "Connection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
            body;
        const std::string answer = rawExchange(http->port(), request);
        EXPECT_EQ(answer.rfind(c.status, 0), 0u) << c.headers << "-> " << answer.substr(0, 20);
    }
    EXPECT_EQ(host->calls, 2);
}

std::string readAnswer(int fd);

// A processor that holds every call until the gate opens, and answers nothing.
class HoldingProcessor : public TProcessor {
  public:
    explicit HoldingProcessor(Gate& gate) : gate_(gate) {}
    bool process(std::shared_ptr<TProtocol>, std::shared_ptr<TProtocol>, void*) override {
        gate_.enter();
        gate_.waitOpen();
        gate_.leave();
        return true;
    }

  private:
    Gate& gate_;
};

// A method named quick is answered on the I/O thread: with the one worker held by a call
// that waits, a ping still comes back, in the clear and in an encrypted envelope.
TEST(ThriftHTTPServerQuick, QuickMethodsNeedNoFreeWorker) {
    Gate gate;
    auto host =
        std::make_shared<wt::TBNHostStorageServiceProcessor>(std::make_shared<HostHandler>());
    ThriftHTTPServer::Options options;
    options.maxConnectionThreads = 1;
    options.quickMethods = {"sendPing"};
    auto server = ThriftHTTPServer::initAsConcurrentWithPort(
        0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(),
        {host, std::make_shared<HoldingProcessor>(gate)}, options);
    ASSERT_TRUE(server->isListening());
    auto delegate = std::make_shared<KeyDelegate>();
    server->setDelegate(delegate);

    // deleteLoginData is no host method: the holding processor gets it, on the worker.
    std::thread held([&] {
        httplib::Client client("127.0.0.1", server->port());
        client.set_read_timeout(60s);
        client.Post("/thrift", deleteText(), "application/json");
    });
    const bool inside = gate.waitInside(1, 30s);
    std::optional<std::string> plain, sealed;
    if (inside) {
        httplib::Client client("127.0.0.1", server->port());
        client.set_read_timeout(20s);
        if (auto res = client.Post("/thrift", pingText(), "application/json");
            res && res->status == 200)
            plain = res->body;
        const Bytes key = sha256("secret-1");
        if (auto res = client.Post("/thrift", envelope(encryptToBase64(pingText(), key), true),
                                   "application/json");
            res && res->status == 200)
            sealed = res->body;
    }
    gate.release();
    held.join();
    ASSERT_TRUE(inside);
    ASSERT_TRUE(plain) << "the ping waited for the held worker";
    EXPECT_EQ(readPong(*plain).info.id, "pong");
    ASSERT_TRUE(sealed) << "the encrypted ping waited for the held worker";
    auto answer = nlohmann::json::parse(*sealed);
    ASSERT_TRUE(answer["encrypted"].get<bool>());
    EXPECT_EQ(readPong(decryptFromBase64(answer["response"].get<std::string>(), sha256("secret-1")))
                  .info.id,
              "pong");
}

// The bytes bodies hold are bounded across connections: a large body that does not fit
// beside those held is refused with 503 before it is read, small requests pass all the
// same, and the share of a body is given back once it was answered.
TEST(ThriftHTTPServerBudget, LargeBodiesBeyondTheBudgetAre503AndPingsStillPass) {
    constexpr size_t kLarge = 256 * 1024;
    auto budget = std::make_shared<BodyBudget>(kLarge + kLarge / 2);
    auto host = std::make_shared<CountingProcessor>(
        std::make_shared<wt::TBNHostStorageServiceProcessor>(std::make_shared<HostHandler>()));
    ThriftHTTPServer::Options options;
    options.bodyBudget = budget;
    auto server = ThriftHTTPServer::initAsConcurrentWithPort(
        0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(), {host}, options);
    ASSERT_TRUE(server->isListening());
    auto head = [](size_t length) {
        return "POST /thrift HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
               std::to_string(length) + "\r\n\r\n";
    };
    auto waitHeld = [&](size_t bytes) {
        const auto until = std::chrono::steady_clock::now() + 30s;
        while (budget->held() != bytes && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(5ms);
        return budget->held() == bytes;
    };

    // The first large body is under way: its head is in, its bytes trickle.
    int first = connectRaw(server->port());
    ASSERT_GE(first, 0);
    const std::string firstHead = head(kLarge);
    ASSERT_EQ(send(first, firstHead.data(), firstHead.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(firstHead.size()));
    ASSERT_TRUE(waitHeld(kLarge)) << "held " << budget->held();

    // A second one does not fit: 503 at once, its body unread.
    const std::string second = rawExchange(server->port(), head(kLarge) + std::string(kLarge, ' '));
    EXPECT_EQ(second.rfind("HTTP/1.1 503", 0), 0u) << second.substr(0, 40);

    // A ping is small: answered.
    const std::string ping = pingText();
    const std::string pong =
        rawExchange(server->port(),
                    "POST /thrift HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                    "Content-Length: " +
                        std::to_string(ping.size()) + "\r\n\r\n" + ping);
    EXPECT_EQ(pong.rfind("HTTP/1.1 200", 0), 0u) << pong.substr(0, 40);

    // The first body completes and is answered; its share comes back, and a large body
    // fits again.
    const std::string rest(kLarge, ' ');
    ASSERT_EQ(send(first, rest.data(), rest.size(), MSG_NOSIGNAL), static_cast<ssize_t>(kLarge));
    EXPECT_EQ(readAnswer(first).rfind("HTTP/1.1 200", 0), 0u);
    close(first);
    EXPECT_TRUE(waitHeld(0)) << "held " << budget->held();
    const std::string again =
        rawExchange(server->port(),
                    "POST /thrift HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                    "Content-Length: " +
                        std::to_string(kLarge) + "\r\n\r\n" + rest);
    EXPECT_EQ(again.rfind("HTTP/1.1 200", 0), 0u) << again.substr(0, 40);
    EXPECT_TRUE(waitHeld(0)) << "held " << budget->held();
}

// Clients that keep a request head trickling in, or connect and send nothing, must
// not keep a normal request from being answered, however many there are.
TEST(ThriftHTTPServerFlood, SlowAndIdleClientsDoNotBlockARequest) {
    Gate gate;
    auto host =
        std::make_shared<wt::TBNHostStorageServiceProcessor>(std::make_shared<HostHandler>(&gate));
    ThriftHTTPServer::Options options;
    options.maxConnections = 64;
    // Long enough that the flood stays for the whole test.
    options.requestDeadline = 10min;
    options.idleTimeout = 10min;
    auto server = ThriftHTTPServer::initAsConcurrentWithPort(
        0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(), {host}, options);
    ASSERT_TRUE(server->isListening());

    constexpr int kEach = 150;  // per kind, well above the connection limit
    std::vector<int> slow, idle;
    for (int i = 0; i < kEach; ++i) {
        int s = connectRaw(server->port());
        ASSERT_GE(s, 0);
        send(s, "P", 1, MSG_NOSIGNAL);
        slow.push_back(s);
        int d = connectRaw(server->port());
        ASSERT_GE(d, 0);
        idle.push_back(d);
    }
    std::atomic<bool> flooding{true};
    std::thread trickle([&] {
        const char head[] =
            "OST /thrift HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: aaaaaaaaaaaaaaaaaaaa";
        size_t at = 0;
        auto until = std::chrono::steady_clock::now() + 120s;
        while (flooding && std::chrono::steady_clock::now() < until) {
            for (int s : slow) send(s, head + at % (sizeof head - 1), 1, MSG_NOSIGNAL);
            ++at;
            std::this_thread::sleep_for(100ms);  // the pace of the slow clients
        }
    });

    // Several requests, a blocked one among them, all answered while the flood lasts.
    std::thread blocked([&] {
        httplib::Client client("127.0.0.1", server->port());
        client.set_read_timeout(60s);
        client.Post("/thrift", pingText("block"), "application/json");
    });
    bool inside = gate.waitInside(1, 30s);
    int answered = 0;
    for (int i = 0; i < 10 && inside; ++i) {
        httplib::Client client("127.0.0.1", server->port());
        client.set_connection_timeout(30s);
        client.set_read_timeout(30s);
        auto res = client.Post("/thrift", pingText(), "application/json");
        if (res && res->status == 200 && readPong(res->body).info.id == "pong") ++answered;
    }
    const size_t during = server->httpServer().connectionCount();
    gate.release();
    blocked.join();
    flooding = false;
    trickle.join();
    EXPECT_TRUE(inside);
    EXPECT_EQ(answered, 10);
    // The limit held: the flood was pushed out, idle connections first.
    EXPECT_LE(during, options.maxConnections + 2);

    for (int fd : slow) close(fd);
    for (int fd : idle) close(fd);
    // Everything the flood opened is given back.
    auto until = std::chrono::steady_clock::now() + 30s;
    while (server->httpServer().connectionCount() > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(server->httpServer().connectionCount(), 0u);
}

// Reads one answer with a Content-Length; empty when none came whole.
std::string readAnswer(int fd) {
    std::string answer;
    char buf[4096];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 30000) > 0) {
        ssize_t got = recv(fd, buf, sizeof buf, 0);
        if (got <= 0) return {};
        answer.append(buf, static_cast<size_t>(got));
        auto end = answer.find("\r\n\r\n");
        auto length = answer.find("Content-Length: ");
        if (end == std::string::npos || length == std::string::npos) continue;
        if (answer.size() >= end + 4 + std::stoul(answer.substr(length + 16))) return answer;
    }
    return {};
}

// Sends one whole request on a kept-alive connection and reads its answer.
bool serveOnce(int fd, const std::string& body) {
    std::string request = "POST /thrift HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size()))
        return false;
    return readAnswer(fd).rfind("HTTP/1.1 200", 0) == 0;
}

TEST_F(ThriftHTTPServerTest, AClientThatAsksToContinueIsToldToAndAnswered) {
    int fd = connectRaw(http->port());
    ASSERT_GE(fd, 0);
    const std::string body = pingText();
    const std::string head =
        "POST /thrift HTTP/1.1\r\nHost: 127.0.0.1\r\nExpect: 100-continue\r\n"
        "Content-Length: " +
        std::to_string(body.size()) + "\r\n\r\n";
    send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    std::string interim;
    char buf[4096];
    pollfd p{fd, POLLIN, 0};
    while (interim.find("\r\n\r\n") == std::string::npos && poll(&p, 1, 30000) > 0) {
        ssize_t got = recv(fd, buf, sizeof buf, 0);
        if (got <= 0) break;
        interim.append(buf, static_cast<size_t>(got));
    }
    EXPECT_EQ(interim.rfind("HTTP/1.1 100", 0), 0u) << interim;
    send(fd, body.data(), body.size(), MSG_NOSIGNAL);
    const std::string answer = readAnswer(fd);
    close(fd);
    ASSERT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_EQ(readPong(answer.substr(answer.find("\r\n\r\n") + 4)).info.id, "pong");
}

TEST(ThriftHTTPServerFlood, IdleConnectionsGiveWayBeforeUnfinishedRequests) {
    auto host =
        std::make_shared<wt::TBNHostStorageServiceProcessor>(std::make_shared<HostHandler>());
    ThriftHTTPServer::Options options;
    options.maxConnections = 8;
    options.requestDeadline = 10min;
    options.idleTimeout = 10min;
    auto server = ThriftHTTPServer::initAsConcurrentWithPort(
        0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(), {host}, options);
    ASSERT_TRUE(server->isListening());

    // Unfinished requests first (the older ones), then kept-alive connections that
    // were served and now wait.
    std::vector<int> unfinished, idle;
    for (int i = 0; i < 4; ++i) {
        int fd = connectRaw(server->port());
        ASSERT_GE(fd, 0);
        send(fd, "POST /thr", 9, MSG_NOSIGNAL);
        unfinished.push_back(fd);
    }
    for (int i = 0; i < 4; ++i) {
        int fd = connectRaw(server->port());
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(serveOnce(fd, pingText()));
        idle.push_back(fd);
    }
    auto until = std::chrono::steady_clock::now() + 30s;
    while (server->httpServer().connectionCount() < 8 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(server->httpServer().connectionCount(), 8u);

    httplib::Client client("127.0.0.1", server->port());
    auto res = client.Post("/thrift", pingText(), "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);

    EXPECT_TRUE(closedByServer(idle.front(), 30s)) << "the longest-idle connection stays";
    for (int fd : unfinished) EXPECT_FALSE(closedByServer(fd, 0ms));
    for (int fd : unfinished) close(fd);
    for (int fd : idle) close(fd);
}

TEST(ThriftHTTPServerFlood, AHeadThatTricklesInIsCutOffAtTheDeadline) {
    auto host =
        std::make_shared<wt::TBNHostStorageServiceProcessor>(std::make_shared<HostHandler>());
    ThriftHTTPServer::Options options;
    options.requestDeadline = 500ms;
    auto server = ThriftHTTPServer::initAsConcurrentWithPort(
        0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(), {host}, options);
    ASSERT_TRUE(server->isListening());

    // One byte every 50 ms: a time-out per read would never fire.
    int fd = connectRaw(server->port());
    ASSERT_GE(fd, 0);
    const std::string head =
        "POST /thrift HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + std::string(400, 'a');
    bool closed = false;
    for (size_t i = 0; i < head.size() && !closed; ++i) {
        send(fd, &head[i], 1, MSG_NOSIGNAL);
        closed = closedByServer(fd, 50ms);
    }
    close(fd);
    EXPECT_TRUE(closed) << "a head sent a byte at a time was never cut off";

    // Idle keep-alive connections are not held to it: a request after a pause passes.
    httplib::Client client("127.0.0.1", server->port());
    client.set_keep_alive(true);
    ASSERT_TRUE(client.Post("/thrift", pingText(), "application/json"));
    std::this_thread::sleep_for(700ms);  // longer than the request deadline, on purpose
    auto res = client.Post("/thrift", pingText(), "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
}

TEST_F(ThriftHTTPServerTest, ListensOnLoopbackOnlyAndAlone) {
    // The listening socket in the kernel's table: 127.0.0.1 (0100007F) on our port.
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    char expected[32];
    std::snprintf(expected, sizeof expected, "0100007F:%04X", http->port());
    char anyAddress[32];
    std::snprintf(anyAddress, sizeof anyAddress, "00000000:%04X", http->port());
    bool found = false;
    while (std::getline(tcp, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state != "0A") continue;  // LISTEN
        if (local == expected) found = true;
        EXPECT_NE(local, anyAddress);
    }
    EXPECT_TRUE(found);

    // Nobody can bind the same port beside us, not even with SO_REUSEPORT.
    int sock = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(http->port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(sock);

    // And a second server on a taken port is returned, not listening.
    auto second = ThriftHTTPServer::initAsConcurrentWithPort(
        http->port(), std::nullopt, ThriftJSONProtocolFactory::sharedFactory(), {host});
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->isListening());
}

TEST_F(ThriftHTTPServerTest, PingsAreAnsweredWhileManyHandlersBlock) {
    constexpr int kBlocked = 24;  // more than the library's default pool
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int i = 0; i < kBlocked; ++i) {
        clients.emplace_back([&] {
            // Blocked on purpose: the client must outwait the library's 5 s read
            // time-out when a loaded machine is slow to bring all of them in.
            httplib::Client client("127.0.0.1", http->port());
            client.set_read_timeout(120, 0);
            auto res = client.Post("/thrift", pingText("block"), "application/json");
            if (res && res->status == 200) ++answered;
        });
    }
    const bool allInside = gate.waitInside(kBlocked, 60s);
    std::optional<std::string> pong;
    if (allInside) {
        if (auto res = post(pingText()); res && res->status == 200) pong = res->body;
    }
    gate.release();
    for (auto& t : clients) t.join();
    ASSERT_TRUE(allInside) << "blocked calls were not processed at once";
    ASSERT_TRUE(pong) << "the ping went unanswered while the handlers blocked";
    EXPECT_EQ(readPong(*pong).info.id, "pong");
    EXPECT_EQ(answered, kBlocked);
}

// A reply far above what the socket takes at once: the part the worker cannot write is
// written by the I/O thread, and the kept-alive connection serves the next request.
TEST_F(ThriftHTTPServerTest, AReplyLargerThanTheSocketTakesArrivesWholeOnAKeptConnection) {
    auto request = pingRequest("ext");
    const std::string secret(3u << 20, 'k');
    request.auth.__set_clientSecret(secret);
    const std::string big =
        callText<wt::TBNHostStorageServiceClient>([&](auto& c) { c.send_sendPing(request); });
    httplib::Client client("127.0.0.1", http->port());
    client.set_keep_alive(true);
    client.set_read_timeout(60, 0);
    // A small receive window keeps most of the reply out of the socket at first.
    client.set_socket_options([](socket_t sock) {
        int size = 4096;
        setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    });
    auto first = client.Post("/thrift", big, "application/json");
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 200);
    EXPECT_EQ(readPong(first->body).clientSecret, secret);
    auto second = client.Post("/thrift", pingText(), "application/json");
    ASSERT_TRUE(second);
    ASSERT_EQ(second->status, 200);
    EXPECT_EQ(readPong(second->body).clientSecret, "S3cr3t-Marker");
}

TEST(ThriftHTTPServerSerial, SerialServerProcessesOneRequestAtATime) {
    Gate gate;
    auto logging =
        std::make_shared<wt::TBNLoggingServiceProcessor>(std::make_shared<LoggingHandler>(&gate));
    auto server = ThriftHTTPServer::initAsSerialQueueWithPort(
        0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(), logging);
    ASSERT_TRUE(server->isListening());
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int i = 0; i < 4; ++i) {
        clients.emplace_back([&] {
            httplib::Client client("127.0.0.1", server->port());
            auto res = client.Post("/thrift", logText(), "application/json");
            if (res && res->status == 200) ++answered;
        });
    }
    for (auto& t : clients) t.join();
    EXPECT_EQ(answered, 4);
    EXPECT_EQ(gate.maxInside, 1);

    // The storage service is not served here: the logging processor's exception.
    httplib::Client client("127.0.0.1", server->port());
    auto res = client.Post("/thrift", deleteText(), "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(readException(res->body).second.getType(), TApplicationException::UNKNOWN_METHOD);
}

TEST(ThriftHTTPServerProcessing, RaisingProcessorIsSkippedAndItsOutputDropped) {
    auto host =
        std::make_shared<wt::TBNHostStorageServiceProcessor>(std::make_shared<HostHandler>());
    ThriftHTTPServer::Options options;
    options.listen = false;
    auto server = ThriftHTTPServer::initAsConcurrentWithPort(
        0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(),
        {std::make_shared<ThrowingProcessor>(), host}, options);
    EXPECT_FALSE(server->isListening());
    EXPECT_EQ(readPong(server->processRequest(pingText())).info.requestId, "5");

    // When every processor raises, the last one's partial output is the answer.
    auto failing = ThriftHTTPServer::initAsConcurrentWithPort(
        0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(),
        {std::make_shared<ThrowingProcessor>()}, options);
    EXPECT_EQ(failing->processRequest(pingText()), "partial");

    auto none = ThriftHTTPServer::initAsConcurrentWithPort(
        0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(), {}, options);
    EXPECT_EQ(none->processRequest(pingText()), "");
}

// Collects the text of every log record.
class CapturingLogger : public Logger {
  public:
    void logMessage(const LogRecord& record) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (record.message) lines.push_back(*record.message);
    }
    std::string loggerName() const override { return "capture"; }
    std::mutex mutex;
    std::vector<std::string> lines;
};

TEST_F(ThriftHTTPServerTest, BodiesAndRepliesAreLoggedByLengthOnly) {
    auto capture = std::make_shared<CapturingLogger>();
    LogDispatcher::sharedInstance().addLogger(capture);
    uint64_t level = TBNLogger::maxLevel();
    TBNLogger::setMaxLevel(kTBNLogLevelVerbose);

    Bytes key = sha256("secret-1");
    post(pingText());
    post(envelope(pingText(), false));
    post(envelope(encryptToBase64(pingText(), key), true));
    post(envelope(encryptToBase64(pingText(), sha256("wrong")), true));
    post(R"({"request":"S3cr3t-Marker","clientId":"a"})");
    post(R"([2,"S3cr3t-Marker",1,0,{}])");

    LogDispatcher::sharedInstance().flush();
    TBNLogger::setMaxLevel(level);
    LogDispatcher::sharedInstance().removeAllLoggers();
    std::lock_guard<std::mutex> lock(capture->mutex);
    EXPECT_FALSE(capture->lines.empty());
    bool lengths = false;
    for (const auto& line : capture->lines) {
        EXPECT_EQ(line.find("S3cr3t-Marker"), std::string::npos) << line;
        EXPECT_EQ(line.find("secret-1"), std::string::npos) << line;
        if (line.find("bytes") != std::string::npos) lengths = true;
    }
    EXPECT_TRUE(lengths);
}

// ---- HTTPS ------------------------------------------------------------------

// A self-signed P-256 identity for 127.0.0.1 written as PEM files.
SSLIdentity makeIdentity(const std::filesystem::path& dir) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "IP:127.0.0.1");
    X509_add_ext(cert, san, -1);
    X509_EXTENSION_free(san);
    X509_sign(cert, key, EVP_sha256());

    SSLIdentity identity{(dir / "cert.pem").string(), (dir / "key.pem").string()};
    FILE* f = std::fopen(identity.certificatePath.c_str(), "w");
    PEM_write_X509(f, cert);
    std::fclose(f);
    f = std::fopen(identity.privateKeyPath.c_str(), "w");
    PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
    X509_free(cert);
    EVP_PKEY_free(key);
    return identity;
}

TEST(ThriftHTTPServerTLS, ServesHTTPSFromTheGivenIdentity) {
    auto dir =
        std::filesystem::temp_directory_path() / ("lumvane-tls-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    SSLIdentity identity = makeIdentity(dir);

    auto host =
        std::make_shared<wt::TBNHostStorageServiceProcessor>(std::make_shared<HostHandler>());
    auto server = ThriftHTTPServer::initAsConcurrentWithPort(
        0, identity, ThriftJSONProtocolFactory::sharedFactory(), {host});
    ASSERT_TRUE(server->isListening());
    EXPECT_TRUE(server->httpServer().isSecure());

    httplib::SSLClient client("127.0.0.1", server->port());
    client.set_ca_cert_path(identity.certificatePath.c_str());
    client.enable_server_certificate_verification(true);
    auto res = client.Post("/thrift", pingText(), "application/json");
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(readPong(res->body).info.requestId, "5");

    // Plain HTTP gets nothing from an HTTPS server.
    httplib::Client plain("127.0.0.1", server->port());
    plain.set_read_timeout(2s);
    auto refused = plain.Post("/thrift", pingText(), "application/json");
    EXPECT_TRUE(!refused || refused->status != 200);

    // A missing identity: the server is returned and does not listen.
    auto broken = ThriftHTTPServer::initAsConcurrentWithPort(
        0, SSLIdentity{(dir / "missing.pem").string(), (dir / "missing.key").string()},
        ThriftJSONProtocolFactory::sharedFactory(), {host});
    EXPECT_FALSE(broken->isListening());
    std::filesystem::remove_all(dir);
}

TEST(ThriftHTTPServerTLS, SlowHandshakesHoldNothingAndEndAtTheirDeadline) {
    auto dir =
        std::filesystem::temp_directory_path() / ("lumvane-tls-slow-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    SSLIdentity identity = makeIdentity(dir);
    auto host =
        std::make_shared<wt::TBNHostStorageServiceProcessor>(std::make_shared<HostHandler>());
    ThriftHTTPServer::Options options;
    options.handshakeDeadline = 2s;
    auto server = ThriftHTTPServer::initAsConcurrentWithPort(
        0, identity, ThriftJSONProtocolFactory::sharedFactory(), {host}, options);
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(server->isListening());

    // Many clients that begin a handshake record and stop there.
    const unsigned char hello[] = {0x16, 0x03, 0x01, 0x02, 0x00, 0x01};
    std::vector<int> slow;
    for (int i = 0; i < 200; ++i) {
        int fd = connectRaw(server->port());
        ASSERT_GE(fd, 0);
        send(fd, hello, sizeof hello, MSG_NOSIGNAL);
        slow.push_back(fd);
    }
    httplib::SSLClient client("127.0.0.1", server->port());
    client.enable_server_certificate_verification(false);
    client.set_connection_timeout(30s);
    client.set_read_timeout(30s);
    auto res = client.Post("/thrift", pingText(), "application/json");
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 200);

    // Sending on, a byte at a time, does not keep a handshake alive past its deadline.
    int fd = slow.front();
    bool closed = false;
    for (int i = 0; i < 600 && !closed; ++i) {
        send(fd, "\x01", 1, MSG_NOSIGNAL);
        closed = closedByServer(fd, 50ms);
    }
    EXPECT_TRUE(closed);
    for (int s : slow) close(s);
}

}  // namespace
}  // namespace lumvane
