// The push client against a local HTTP/2 TLS server (nghttpd) that demands a client
// certificate: the PKCS#12 identity is presented, the notification arrives as an HTTP/2
// POST with the provider headers, and refusals come back as errors. A refusal whose body
// never ends is read only as far as the reason the client keeps.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/remote/TBNPushClient.h"
#include "core/remote/TBNThriftRemoteMobileSevice.h"

extern char** environ;

namespace lumvane {
namespace {

namespace fs = std::filesystem;

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool canConnect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A TLS server (HTTP/1.1) for one request, answered with a status and a body that does
// not end by itself: it is written until the client goes away or `cap` bytes are out.
class EndlessBodyServer {
  public:
    EndlessBodyServer(const fs::path& cert, const fs::path& key, size_t cap) : cap_(cap) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        ok_ = ctx_ && SSL_CTX_use_certificate_chain_file(ctx_, cert.c_str()) == 1 &&
              SSL_CTX_use_PrivateKey_file(ctx_, key.c_str(), SSL_FILETYPE_PEM) == 1;
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ok_ = ok_ && listener_ >= 0 &&
              ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
              ::listen(listener_, 1) == 0 &&
              ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
        port_ = ntohs(addr.sin_port);
        if (ok_) thread_ = std::thread([this] { serve(); });
    }
    ~EndlessBodyServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) ::close(listener_);
        SSL_CTX_free(ctx_);
    }
    bool ok() const { return ok_; }
    int port() const { return port_; }
    // Once the server is done: whether it wrote the whole cap (nobody stopped reading).
    bool wroteAll() {
        if (thread_.joinable()) thread_.join();
        return sent_ >= cap_;
    }

  private:
    void serve() {
        // A write to a client that left fails with EPIPE instead of ending the test.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 30000) != 1) return;
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        SSL* ssl = SSL_new(ctx_);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            // The request head (the small body comes with it or is left unread).
            std::string head;
            char buffer[4096];
            while (head.find("\r\n\r\n") == std::string::npos) {
                const int n = SSL_read(ssl, buffer, sizeof buffer);
                if (n <= 0) break;
                head.append(buffer, static_cast<size_t>(n));
            }
            const std::string answer =
                "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\n"
                "Connection: close\r\n\r\n";
            SSL_write(ssl, answer.data(), static_cast<int>(answer.size()));
            const std::string chunk(64 * 1024, 'r');
            while (!stop_ && sent_ < cap_) {
                const int n = SSL_write(ssl, chunk.data(), static_cast<int>(chunk.size()));
                if (n <= 0) break;
                sent_ += static_cast<size_t>(n);
            }
        }
        ERR_clear_error();
        SSL_free(ssl);
        ::close(fd);
    }

    size_t cap_;
    SSL_CTX* ctx_ = nullptr;
    int listener_ = -1;
    int port_ = 0;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> sent_{0};
    std::thread thread_;
};

class PushClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("lumvane-push-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        const std::string d = dir_.string();
        // Server certificate for the loopback name; provider identity with the bundle id
        // as its user id, sealed in PKCS#12 under the program's pass phrase.
        const std::string commands =
            "cd '" + d +
            "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout server.key -out server.crt "
            "-days 1 -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 "
            ">/dev/null 2>&1 && openssl req -x509 -newkey rsa:2048 -nodes -keyout client.key "
            "-out client.crt -days 1 -subj '/UID=com.tobrin.lumvane/CN=Push Services' "
            ">/dev/null 2>&1 && openssl pkcs12 -export -inkey client.key -in client.crt "
            "-out client.p12 -passout pass:Vusdrim >/dev/null 2>&1";
        ASSERT_EQ(std::system(commands.c_str()), 0) << "openssl could not make test certificates";
        p12_ = readFile(dir_ / "client.p12");
        ASSERT_FALSE(p12_.empty());
    }

    void TearDown() override {
        stopServer();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Starts nghttpd; false when it cannot run here.
    bool startServer() {
        port_ = freePort();
        const std::string portText = std::to_string(port_);
        const std::string key = (dir_ / "server.key").string();
        const std::string crt = (dir_ / "server.crt").string();
        const std::string log = (dir_ / "server.log").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> args = {"nghttpd",         "-v", "--echo-upload",
                                         "--verify-client", "-a", "127.0.0.1",
                                         portText,          key,  crt};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int rc = posix_spawnp(&server_, "nghttpd", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            server_ = 0;
            return false;
        }
        for (int i = 0; i < 250; ++i) {
            if (canConnect(port_)) return true;
            int status = 0;
            if (::waitpid(server_, &status, WNOHANG) == server_) {
                server_ = 0;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    void stopServer() {
        if (server_ > 0) {
            ::kill(server_, SIGTERM);
            int status = 0;
            ::waitpid(server_, &status, 0);
            server_ = 0;
        }
    }

    std::string serverLog() { return readText(dir_ / "server.log"); }

    ApnsPushClient::Endpoint endpoint() const {
        return {"https://localhost:" + std::to_string(port_), (dir_ / "server.crt").string()};
    }

    fs::path dir_;
    Bytes p12_;
    pid_t server_ = 0;
    int port_ = 0;
};

TEST_F(PushClientTest, CertificateAndPassPhraseAreCheckedAtConnect) {
    std::string error;
    auto client = ApnsPushClient::connect(p12_, "Vusdrim", PushEnvironment::Production, &error);
    ASSERT_TRUE(client) << error;
    EXPECT_EQ(client->topic(), "com.tobrin.lumvane");
    EXPECT_EQ(client->baseUrl(), "https://api.push.apple.com");
    EXPECT_EQ(ApnsPushClient::hostForEnvironment(PushEnvironment::Sandbox),
              "https://api.sandbox.push.apple.com");

    const std::vector<std::pair<Bytes, std::string>> refused = {
        {p12_, "wrong"}, {Bytes{}, "Vusdrim"}, {Bytes{0x30, 0x03, 0x02, 0x01, 0x00}, "Vusdrim"}};
    for (const auto& [bytes, phrase] : refused) {
        error.clear();
        EXPECT_FALSE(ApnsPushClient::connect(bytes, phrase, PushEnvironment::Sandbox, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST_F(PushClientTest, NotificationReachesAnHttp2ServerWithTheProviderHeaders) {
    if (!startServer()) GTEST_SKIP() << "nghttpd could not be started here";
    std::string error;
    auto client =
        ApnsPushClient::connect(p12_, "Vusdrim", PushEnvironment::Sandbox, &error, endpoint());
    ASSERT_TRUE(client) << error;

    PushNotification n;
    std::string payload = TBNThriftRemoteMobileSevice::pushPayload("Open Lumvane");
    n.payload.assign(payload.begin(), payload.end());
    n.deviceToken = Bytes{0xAB, 0xCD, 0x01};
    n.identifier = 1;
    n.expiration = 10;
    n.expires = true;
    n.priority = 10;
    auto result = client->sendNotification(n);
    EXPECT_FALSE(result) << *result;
    // A second notification reuses the client.
    EXPECT_FALSE(client->sendNotification(n));

    stopServer();
    const std::string log = serverLog();
    EXPECT_NE(log.find(":method: POST"), std::string::npos) << log;
    EXPECT_NE(log.find(":path: /3/device/abcd01"), std::string::npos) << log;
    EXPECT_NE(log.find("apns-priority: 10"), std::string::npos);
    EXPECT_NE(log.find("apns-expiration: 10"), std::string::npos);
    EXPECT_NE(log.find("apns-topic: com.tobrin.lumvane"), std::string::npos);
    EXPECT_NE(log.find("apns-push-type: alert"), std::string::npos);
    EXPECT_NE(log.find("content-length: " + std::to_string(payload.size())), std::string::npos);
}

TEST_F(PushClientTest, UnreachableOrUntrustedServerIsAnError) {
    std::string error;
    // Nobody listens on a fresh port.
    port_ = freePort();
    auto client =
        ApnsPushClient::connect(p12_, "Vusdrim", PushEnvironment::Sandbox, &error, endpoint());
    ASSERT_TRUE(client) << error;
    PushNotification n;
    n.payload = Bytes{'{', '}'};
    n.deviceToken = Bytes{0x01};
    EXPECT_TRUE(client->sendNotification(n));
    // No token: refused before any connection.
    n.deviceToken.clear();
    EXPECT_TRUE(client->sendNotification(n));

    if (!startServer()) GTEST_SKIP() << "nghttpd could not be started here";
    // The server's certificate is not trusted without the test CA.
    auto untrusting = ApnsPushClient::connect(p12_, "Vusdrim", PushEnvironment::Sandbox, &error,
                                              {"https://localhost:" + std::to_string(port_), ""});
    ASSERT_TRUE(untrusting);
    n.deviceToken = Bytes{0x01};
    EXPECT_TRUE(untrusting->sendNotification(n));
}

TEST_F(PushClientTest, RefusalWithEndlessBodyIsReadOnlyAsFarAsItsReason) {
    // Far more than the client keeps and than the sockets between the two hold.
    constexpr size_t kCap = size_t{64} << 20;
    EndlessBodyServer server(dir_ / "server.crt", dir_ / "server.key", kCap);
    ASSERT_TRUE(server.ok());
    std::string error;
    auto client = ApnsPushClient::connect(
        p12_, "Vusdrim", PushEnvironment::Sandbox, &error,
        {"https://localhost:" + std::to_string(server.port()), (dir_ / "server.crt").string()});
    ASSERT_TRUE(client) << error;
    PushNotification n;
    n.payload = Bytes{'{', '}'};
    n.deviceToken = Bytes{0x01};
    auto result = client->sendNotification(n);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, "push refused with status 400: " + std::string(512, 'r'));
    EXPECT_FALSE(server.wroteAll()) << "the client read the whole body";
}

}  // namespace
}  // namespace lumvane
