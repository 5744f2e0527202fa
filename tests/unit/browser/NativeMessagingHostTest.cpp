// The native-messaging host against a stand-in for the application's HTTP server: framed
// messages go in through a pipe, framed replies come out of another, and the host runs on
// a thread of its own.
#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "extension/browser/NativeMessageFraming.h"
#include "extension/browser/TBNNativeMessageProxy.h"

namespace lumvane {
namespace {

using namespace std::chrono_literals;

// A guard against hangs only; nothing here waits for time to pass.
constexpr auto kGuard = 30s;
constexpr int kGuardMs = 30000;

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}
std::string textOf(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Bytes lengthPrefix(uint32_t length) {
    Bytes out(4);
    std::memcpy(out.data(), &length, 4);
    return out;
}

struct SeenRequest {
    std::string method;
    std::string path;
    std::string contentType;
    std::string contentLength;
    std::string body;
};

// Stands in for the application's plain-HTTP server on a free loopback port. Each request
// is recorded, may be held until the test lets it go, and is answered by `respond`.
class FakeAppServer {
  public:
    using Responder = std::function<void(const httplib::Request&, httplib::Response&)>;

    explicit FakeAppServer(Responder respond = echo) : respond_(std::move(respond)) {
        server_.Post(
            "/thrift", [this](const httplib::Request& request, httplib::Response& response) {
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    seen_.push_back({request.method, request.path,
                                     request.get_header_value("Content-Type"),
                                     request.get_header_value("Content-Length"), request.body});
                    ++active_;
                    maxActive_ = std::max(maxActive_, active_);
                    changed_.notify_all();
                    changed_.wait(lock, [&] { return !holding_ || releases_ > 0; });
                    if (holding_) --releases_;
                    --active_;
                    changed_.notify_all();
                }
                respond_(request, response);
            });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~FakeAppServer() {
        releaseAll();
        server_.stop();
        thread_.join();
    }

    static void echo(const httplib::Request& request, httplib::Response& response) {
        response.set_content("reply:" + request.body, "text/plain");
    }

    int port() const { return port_; }

    // Held requests wait until released, one per release.
    void hold() {
        std::lock_guard<std::mutex> lock(mutex_);
        holding_ = true;
    }
    void releaseOne() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++releases_;
        changed_.notify_all();
    }
    void releaseAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        holding_ = false;
        changed_.notify_all();
    }

    bool waitUntilSeen(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return seen_.size() >= count; });
    }
    bool waitUntilActive(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return active_ == count; });
    }
    std::vector<SeenRequest> seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }
    size_t maxActive() {
        std::lock_guard<std::mutex> lock(mutex_);
        return maxActive_;
    }

  private:
    Responder respond_;
    httplib::Server server_;
    int port_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SeenRequest> seen_;
    bool holding_ = false;
    size_t releases_ = 0;
    size_t active_ = 0;
    size_t maxActive_ = 0;
};

// A port on which nothing listens (taken and given back at once).
int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

// The host on its own thread, fed and read through two pipes the way a browser does.
class HostRun {
  public:
    explicit HostRun(NativeMessagingOptions options, bool nonBlocking = false) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        hostIn_ = in[0];
        toHost_ = in[1];
        fromHost_ = out[0];
        hostOut_ = out[1];
        if (nonBlocking) {
            ::fcntl(hostIn_, F_SETFL, ::fcntl(hostIn_, F_GETFL) | O_NONBLOCK);
            ::fcntl(hostOut_, F_SETFL, ::fcntl(hostOut_, F_GETFL) | O_NONBLOCK);
        }
        exit_ = std::async(std::launch::async, [this, options] {
            return runNativeMessagingHost(hostIn_, hostOut_, options);
        });
    }
    ~HostRun() {
        closeInput();
        if (exit_.valid()) exit_.wait();
        closeFd(hostIn_);
        closeFd(hostOut_);
        closeFd(fromHost_);
    }

    void send(const Bytes& raw) { ASSERT_TRUE(writeAllToFd(toHost_, raw)); }
    void sendMessage(const std::string& text) { send(encodeNativeMessageFrame(bytesOf(text))); }
    void closeInput() { closeFd(toHost_); }
    // The test's own copy of the host's output; the host writes through its duplicate.
    void closeOutputWriteEnd() { closeFd(hostOut_); }

    // One framed reply; fails the test instead of hanging.
    NativeMessageFrame readReply() {
        const int fd = fromHost_;
        NativeMessageSource source = [fd](uint8_t* buffer, size_t length) -> ssize_t {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, kGuardMs) <= 0) return -1;
            return ::read(fd, buffer, length);
        };
        return readNativeMessageFrame(source, 64u << 20);
    }
    std::string readReplyText() {
        NativeMessageFrame frame = readReply();
        EXPECT_EQ(frame.status, NativeMessageFrameStatus::message);
        return textOf(frame.body);
    }
    // Everything the host still writes until every writer of the pipe is gone.
    std::string drainOutput() {
        std::string all;
        char buffer[4096];
        for (;;) {
            pollfd p{fromHost_, POLLIN, 0};
            if (::poll(&p, 1, kGuardMs) <= 0) {
                ADD_FAILURE() << "host output stayed open";
                return all;
            }
            const ssize_t n = ::read(fromHost_, buffer, sizeof buffer);
            if (n <= 0) return all;
            all.append(buffer, static_cast<size_t>(n));
        }
    }
    // Bytes left unread on the host's input.
    std::string unreadInput() {
        ::fcntl(hostIn_, F_SETFL, ::fcntl(hostIn_, F_GETFL) | O_NONBLOCK);
        std::string all;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(hostIn_, buffer, sizeof buffer)) > 0) all.append(buffer, n);
        return all;
    }

    // The exit status, once the host has returned.
    std::optional<int> exitStatus() {
        if (exit_.wait_for(kGuard) != std::future_status::ready) return std::nullopt;
        return exit_.get();
    }

  private:
    static void closeFd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int hostIn_ = -1, toHost_ = -1, fromHost_ = -1, hostOut_ = -1;
    std::future<int> exit_;
};

NativeMessagingOptions optionsFor(int port) {
    NativeMessagingOptions options;
    options.port = port;
    options.readTimeout = 60s;
    return options;
}

TEST(NativeMessagingHost, RelaysEachMessageUnchangedAndWritesItsReplyFramed) {
    FakeAppServer server;
    HostRun host(optionsFor(server.port()));
    const std::vector<std::string> messages = {
        R"([1,"getSiteData",1,7,{"1":{"rec":{}}}])",
        R"({"request":"[1,\"sendPing\",1,1,{}]","clientId":"c1","encrypted":false})",
        std::string("binary\0\x01\xff\xfe tail", 16),
        "x",
    };
    for (const std::string& message : messages) {
        host.sendMessage(message);
        EXPECT_EQ(host.readReplyText(), "reply:" + message);
    }
    host.closeInput();
    EXPECT_EQ(host.exitStatus(), 0);

    const std::vector<SeenRequest> seen = server.seen();
    ASSERT_EQ(seen.size(), messages.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].method, "POST");
        EXPECT_EQ(seen[i].path, "/thrift");
        EXPECT_EQ(seen[i].contentType, "application/vnd.apache.thrift.json");
        EXPECT_EQ(seen[i].contentLength, std::to_string(messages[i].size()));
        EXPECT_EQ(seen[i].body, messages[i]);
    }
}

TEST(NativeMessagingHost, RepliesAreRelayedWhateverTheStatusAndCappedInLength) {
    const std::string tooLarge(kNativeMessageReplyTooLarge);
    const std::string limit(kNativeMessageMaxReplyLength, 'r');
    struct Case {
        const char* name;
        FakeAppServer::Responder respond;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"server error page",
         [](const httplib::Request&, httplib::Response& r) {
             r.status = 500;
             r.set_content("oops", "text/plain");
         },
         "oops"},
        {"empty body", [](const httplib::Request&, httplib::Response& r) { r.status = 200; }, ""},
        {"exactly the limit",
         [&](const httplib::Request&, httplib::Response& r) { r.set_content(limit, "text/plain"); },
         limit},
        {"one byte above the limit",
         [&](const httplib::Request&, httplib::Response& r) {
             r.set_content(limit + "r", "text/plain");
         },
         tooLarge},
        {"chunked and small",
         [](const httplib::Request&, httplib::Response& r) {
             r.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
                 sink.write("ab", 2);
                 sink.write("cd", 2);
                 sink.done();
                 return true;
             });
         },
         "abcd"},
        {"chunked past the limit",
         [](const httplib::Request&, httplib::Response& r) {
             r.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
                 const std::string piece(600 * 1024, 'c');
                 for (int i = 0; i < 3 && sink.is_writable(); ++i) {
                     sink.write(piece.data(), piece.size());
                 }
                 sink.done();
                 return true;
             });
         },
         tooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeAppServer server(c.respond);
        HostRun host(optionsFor(server.port()));
        host.sendMessage("request");
        NativeMessageFrame reply = host.readReply();
        EXPECT_EQ(reply.status, c.expected.empty() ? NativeMessageFrameStatus::zeroLength
                                                   : NativeMessageFrameStatus::message);
        EXPECT_EQ(reply.body.size(), c.expected.size());
        EXPECT_TRUE(textOf(reply.body) == c.expected);
        host.closeInput();
        EXPECT_EQ(host.exitStatus(), 0);
    }
}

TEST(NativeMessagingHost, WithTheApplicationNotRunningEveryMessageGetsAnEmptyReply) {
    HostRun host(optionsFor(closedPort()));
    host.sendMessage("first");
    host.sendMessage("second");
    for (int i = 0; i < 2; ++i) {
        NativeMessageFrame reply = host.readReply();
        EXPECT_EQ(reply.status, NativeMessageFrameStatus::zeroLength);
    }
    host.closeInput();
    EXPECT_EQ(host.exitStatus(), 0);
}

TEST(NativeMessagingHost, RelaysTheNextMessageBeforeTheFirstReplyComesBack) {
    // The first request is answered only after the test has read the second one's reply,
    // which can only come if the host relayed the second without waiting.
    std::promise<void> releaseFirst;
    std::shared_future<void> release = releaseFirst.get_future().share();
    FakeAppServer server([release](const httplib::Request& request, httplib::Response& response) {
        if (request.body == "first" && release.wait_for(kGuard) != std::future_status::ready) {
            return;
        }
        response.set_content(request.body + "-answer", "text/plain");
    });
    HostRun host(optionsFor(server.port()));
    Bytes both = encodeNativeMessageFrame(bytesOf("first"));
    const Bytes next = encodeNativeMessageFrame(bytesOf("second"));
    both.insert(both.end(), next.begin(), next.end());
    host.send(both);

    EXPECT_EQ(host.readReplyText(), "second-answer");
    releaseFirst.set_value();
    EXPECT_EQ(host.readReplyText(), "first-answer");
    host.closeInput();
    EXPECT_EQ(host.exitStatus(), 0);
}

TEST(NativeMessagingHost, ConcurrentRepliesAreEachWrittenWhole) {
    // Replies larger than a pipe's buffer force partial writes; non-blocking descriptors
    // force the host to wait for room instead of failing.
    FakeAppServer server;
    HostRun host(optionsFor(server.port()), /*nonBlocking=*/true);
    std::vector<std::string> expected;
    for (int i = 0; i < 24; ++i) {
        std::string message =
            std::to_string(i) + ":" + std::string(1 + (i * 37 % 9) * 30000, 'a' + i);
        expected.push_back("reply:" + message);
        host.sendMessage(message);
    }
    std::vector<std::string> replies;
    for (size_t i = 0; i < expected.size(); ++i) replies.push_back(host.readReplyText());
    std::sort(expected.begin(), expected.end());
    std::sort(replies.begin(), replies.end());
    EXPECT_TRUE(replies == expected);
    host.closeInput();
    EXPECT_EQ(host.exitStatus(), 0);
}

TEST(NativeMessagingHost, WaitsForAFreeSlotBeyondTheRequestsAllowedAtOnce) {
    FakeAppServer server;
    server.hold();
    NativeMessagingOptions options = optionsFor(server.port());
    options.maxInFlight = 2;
    HostRun host(options);
    for (int i = 0; i < 5; ++i) host.sendMessage("m" + std::to_string(i));
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(server.waitUntilActive(std::min(2, 5 - i)));
        server.releaseOne();
        host.readReplyText();
    }
    EXPECT_EQ(server.seen().size(), 5u);
    EXPECT_EQ(server.maxActive(), 2u);
    host.closeInput();
    EXPECT_EQ(host.exitStatus(), 0);
}

TEST(NativeMessagingHost, EndsAtOnceOnEveryInputEndingWhileARequestIsUnderWay) {
    const uint32_t limit = kNativeMessageMaxIncomingLength;
    auto concat = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char* name;
        Bytes ending;
        bool closeAfter;
        std::string unreadTail;  // what the host must not have read
    };
    const std::vector<Case> cases = {
        {"zero length", lengthPrefix(0), false, ""},
        {"zero length before more input", concat(lengthPrefix(0), bytesOf("more")), false, "more"},
        {"end of input", {}, true, ""},
        {"one byte of a length", {7}, true, ""},
        {"three bytes of a length", {7, 0, 0}, true, ""},
        {"message cut off", concat(lengthPrefix(10), bytesOf("four")), true, ""},
        {"largest length, message cut off", concat(lengthPrefix(limit), Bytes(100, 'x')), true, ""},
        {"length just above the limit", concat(lengthPrefix(limit + 1), bytesOf("tail")), false,
         "tail"},
        {"largest 32-bit length", concat(lengthPrefix(0xFFFFFFFFu), bytesOf("tail")), false,
         "tail"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeAppServer server;
        server.hold();
        HostRun host(optionsFor(server.port()));
        host.sendMessage("in flight");
        ASSERT_TRUE(server.waitUntilSeen(1));
        host.send(c.ending);
        if (c.closeAfter) host.closeInput();

        // The server still holds the request, so returning proves the host did not wait.
        EXPECT_EQ(host.exitStatus(), 0);
        EXPECT_EQ(host.unreadInput(), c.unreadTail);

        // Once the late reply has come and gone, nothing was written for it.
        host.closeOutputWriteEnd();
        server.releaseAll();
        EXPECT_EQ(host.drainOutput(), "");
        EXPECT_EQ(server.seen().size(), 1u);
    }
}

// A source over memory that hands out at most `step` bytes per call.
NativeMessageSource memorySource(const Bytes& data, size_t& offset, size_t step) {
    return [&data, &offset, step](uint8_t* buffer, size_t length) -> ssize_t {
        const size_t n = std::min({length, step, data.size() - offset});
        if (n > 0) std::memcpy(buffer, data.data() + offset, n);
        offset += n;
        return static_cast<ssize_t>(n);
    };
}

TEST(NativeMessageFraming, ReadsFramesFromAnyPacingOfTheInput) {
    using S = NativeMessageFrameStatus;
    const auto framed = [](const std::string& text) {
        return encodeNativeMessageFrame(bytesOf(text));
    };
    auto concat = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char* name;
        Bytes input;
        uint32_t maxLength;
        std::vector<std::pair<S, std::string>> frames;  // read until a non-message
        size_t consumed;
    };
    const std::vector<Case> cases = {
        {"empty input", {}, 100, {{S::endOfInput, ""}}, 0},
        {"two bytes", {1, 0}, 100, {{S::shortLength, ""}}, 2},
        {"zero length", lengthPrefix(0), 100, {{S::zeroLength, ""}}, 4},
        {"two messages then the end",
         concat(framed("abc"), framed("de")),
         100,
         {{S::message, "abc"}, {S::message, "de"}, {S::endOfInput, ""}},
         13},
        {"message at the limit",
         framed("12345"),
         5,
         {{S::message, "12345"}, {S::endOfInput, ""}},
         9},
        {"message one above the limit", framed("123456"), 5, {{S::tooLarge, ""}}, 4},
        {"cut-off message", concat(lengthPrefix(5), bytesOf("ab")), 100, {{S::truncated, "ab"}}, 6},
        {"zero length stops before what follows",
         concat(lengthPrefix(0), framed("x")),
         100,
         {{S::zeroLength, ""}},
         4},
    };
    for (const Case& c : cases) {
        for (size_t step : {size_t{1}, size_t{3}, size_t{1} << 20}) {
            SCOPED_TRACE(std::string(c.name) + ", step " + std::to_string(step));
            size_t offset = 0;
            const NativeMessageSource source = memorySource(c.input, offset, step);
            for (const auto& [status, body] : c.frames) {
                NativeMessageFrame frame = readNativeMessageFrame(source, c.maxLength);
                EXPECT_EQ(frame.status, status);
                EXPECT_EQ(textOf(frame.body), body);
                if (status == S::message) EXPECT_EQ(frame.length, body.size());
            }
            EXPECT_EQ(offset, c.consumed);
        }
    }
}

TEST(NativeMessageFraming, MemoryFollowsTheBytesThatCameNotTheAnnouncedLength) {
    Bytes input = lengthPrefix(kNativeMessageMaxIncomingLength);
    input.insert(input.end(), 1000, 'x');
    size_t offset = 0;
    NativeMessageFrame frame = readNativeMessageFrame(memorySource(input, offset, 1 << 20));
    EXPECT_EQ(frame.status, NativeMessageFrameStatus::truncated);
    EXPECT_EQ(frame.length, kNativeMessageMaxIncomingLength);
    EXPECT_EQ(frame.body.size(), 1000u);
    EXPECT_LT(frame.body.capacity(), size_t{1} << 20);
}

TEST(NativeMessageFraming, ASourceErrorEndsReading) {
    for (size_t failAfter : {size_t{0}, size_t{2}, size_t{6}}) {
        SCOPED_TRACE(failAfter);
        const Bytes input = encodeNativeMessageFrame(bytesOf("abcdef"));
        size_t offset = 0;
        NativeMessageSource source = [&](uint8_t* buffer, size_t length) -> ssize_t {
            if (offset >= failAfter) return -1;
            const size_t n = std::min(length, failAfter - offset);
            std::memcpy(buffer, input.data() + offset, n);
            offset += n;
            return static_cast<ssize_t>(n);
        };
        EXPECT_EQ(readNativeMessageFrame(source).status, NativeMessageFrameStatus::readError);
    }
}

TEST(NativeMessagingHost, HostModeIsChosenByAnArgumentContainingExtension) {
    struct Case {
        std::vector<const char*> argv;
        bool host;
    };
    const std::vector<Case> cases = {
        {{"lumvane"}, false},
        {{"lumvane", "--headless"}, false},
        {{"lumvane", "chrome-extension://abcdefghijklmnop/"}, true},
        {{"lumvane", "/home/u/.mozilla/native-messaging-hosts/x.json", "lumvane@extension.id"},
         true},
        {{"lumvane", "--headless", "extension"}, true},
        {{"extension"}, false},
        {{"lumvane", "Extension"}, false},
        // Options never select the host, whatever path or value they carry.
        {{"lumvane", "--headless", "--ble=sim:/tmp/my-extension-test/air.sock"}, false},
        {{"lumvane", "--push=file:/home/u/extension/wake"}, false},
        {{"lumvane", "-extension"}, false},
        {{"lumvane", "--ble", "sim:/tmp/my-extension-test/air.sock"}, false},
        {{"lumvane", "--headless", "chrome-extension://abc/"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argv.back());
        EXPECT_EQ(isNativeMessagingHostInvocation(static_cast<int>(c.argv.size()), c.argv.data()),
                  c.host);
    }
}

}  // namespace
}  // namespace lumvane
