// The native-messaging host relaying bursts of messages to a real loopback server:
// every message written back to back must get its own reply. (A server whose accept
// queue held only a few connections lost some of a burst's requests to resets.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <thrift/transport/TBufferTransports.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TBNHostStorageService.h"
#include "extension/ThriftHTTPServer.h"
#include "extension/ThriftJSONProtocol.h"
#include "extension/browser/NativeMessageFraming.h"
#include "extension/browser/TBNNativeMessageProxy.h"

namespace lumvane {
namespace {

using apache::thrift::transport::TMemoryBuffer;
using namespace std::chrono_literals;
namespace wt = lumvane::wiretest;

class PingHandler : public wt::TBNHostStorageServiceIf {
  public:
    void sendPing(wt::TBNPongTestResponse& out, const wt::TBNPingTestRequest& request) override {
        wt::TBNResponseInfo info;
        info.__set_id("pong");
        info.__set_requestId(request.info.id);
        out.__set_info(info);
    }
};

std::string pingMessage(int id) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    auto protocol = std::make_shared<ThriftJSONProtocol>(buffer);
    wt::TBNHostStorageServiceClient client(protocol, protocol);
    wt::TBNPingTestRequest request;
    wt::TBNRequestInfo info;
    info.__set_id(std::to_string(id));
    request.__set_info(info);
    request.__set_appIdentifier("ext");
    client.send_sendPing(request);
    return buffer->getBufferAsString();
}

std::string pongRequestId(const std::string& reply) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    buffer->write(reinterpret_cast<const uint8_t*>(reply.data()),
                  static_cast<uint32_t>(reply.size()));
    auto protocol = std::make_shared<ThriftJSONProtocol>(buffer);
    wt::TBNHostStorageServiceClient client(protocol, protocol);
    wt::TBNPongTestResponse pong;
    client.recv_sendPing(pong);
    return pong.info.requestId;
}

// Reads exactly n bytes, waiting at most `limit` for each piece.
bool readExactly(int fd, uint8_t* out, size_t n, std::chrono::milliseconds limit) {
    while (n > 0) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
        ssize_t got = read(fd, out, n);
        if (got <= 0) return false;
        out += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

struct BurstResult {
    int replies = 0;
    int empty = 0;
    std::set<std::string> ids;
};

BurstResult burst(uint16_t port, int count) {
    int in[2], out[2];
    EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    NativeMessagingOptions options;
    options.port = port;
    std::thread host([&] { runNativeMessagingHost(in[0], out[1], options); });

    // All frames back to back, from a thread of their own: the host may hold its
    // reader while its requests are full, and the replies must be read meanwhile.
    std::thread writer([&] {
        Bytes all;
        for (int i = 0; i < count; ++i) {
            std::string m = pingMessage(i);
            Bytes frame = encodeNativeMessageFrame(
                std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(m.data()), m.size()));
            all.insert(all.end(), frame.begin(), frame.end());
        }
        writeAllToFd(in[1], all);
    });

    BurstResult result;
    for (int i = 0; i < count; ++i) {
        uint32_t length = 0;
        if (!readExactly(out[0], reinterpret_cast<uint8_t*>(&length), 4, 60s)) break;
        std::string reply(length, '\0');
        if (length > 0 &&
            !readExactly(out[0], reinterpret_cast<uint8_t*>(reply.data()), length, 60s))
            break;
        ++result.replies;
        if (length == 0) {
            ++result.empty;
        } else {
            result.ids.insert(pongRequestId(reply));
        }
    }
    writer.join();
    close(in[1]);  // the end of input ends the host
    host.join();
    close(in[0]);
    close(out[0]);
    close(out[1]);
    return result;
}

TEST(NativeMessagingBurst, EveryMessageOfABurstGetsItsRealReply) {
    auto server = ThriftHTTPServer::initAsConcurrentWithPort(
        0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(),
        {std::make_shared<wt::TBNHostStorageServiceProcessor>(std::make_shared<PingHandler>())});
    ASSERT_TRUE(server->isListening());
    constexpr int kRuns = 10;
    constexpr int kMessages = 300;
    for (int run = 0; run < kRuns; ++run) {
        BurstResult result = burst(server->port(), kMessages);
        ASSERT_EQ(result.replies, kMessages) << "run " << run;
        EXPECT_EQ(result.empty, 0) << "run " << run;
        EXPECT_EQ(result.ids.size(), static_cast<size_t>(kMessages)) << "run " << run;
    }
}

TEST(NativeMessagingBurst, ARelayThatReallyFailsAnswersWithAnEmptyReply) {
    // A port that was just free: nothing listens there.
    uint16_t port;
    {
        auto probe = ThriftHTTPServer::initAsConcurrentWithPort(
            0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(), {});
        ASSERT_TRUE(probe->isListening());
        port = probe->port();
    }
    BurstResult result = burst(port, 20);
    EXPECT_EQ(result.replies, 20);
    EXPECT_EQ(result.empty, 20);
}

}  // namespace
}  // namespace lumvane
