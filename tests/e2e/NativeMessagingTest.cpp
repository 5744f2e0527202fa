// A browser's view: framed messages into `lumvane --extension`, relayed to the running
// headless service, framed replies back.
#include <cstring>

#include "RoadFixture.h"

namespace lumvane::e2e {
namespace {

std::string frame(const std::string& message) {
    const uint32_t length = uint32_t(message.size());
    std::string out(sizeof length, '\0');
    std::memcpy(out.data(), &length, sizeof length);
    return out + message;
}

// The whole frames at the head of `bytes`.
std::vector<std::string> frames(const std::string& bytes) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (bytes.size() - pos >= 4) {
        uint32_t length = 0;
        std::memcpy(&length, bytes.data() + pos, 4);
        if (bytes.size() - pos - 4 < length) break;
        out.push_back(bytes.substr(pos + 4, length));
        pos += 4 + length;
    }
    return out;
}

class NativeMessagingTest : public RoadTest {
  protected:
    std::unique_ptr<Process> startHost() {
        auto host = std::make_unique<Process>(
            Process::Options{{Programs::lumvane(), "chrome-extension://e2e/"},
                             home_->environment(),
                             home_->path() / "host.err",
                             true});
        EXPECT_TRUE(host->started());
        return host;
    }
};

TEST_F(NativeMessagingTest, RelayedRepliesEqualTheServersAndAZeroLengthEndsTheHost) {
    ASSERT_NO_FATAL_FAILURE(startRoad());
    const std::string ping = client_.encodePing("com.tobrin.lumvane.e2e");
    const std::string login = client_.encodeGetLoginData(kGithub, "alice");

    auto host = startHost();
    host->writeStdin(frame(ping));
    host->writeStdin(frame(login));
    auto out = host->waitForOutput([](const std::string& o) { return frames(o).size() >= 2; },
                                   Seconds(120));
    ASSERT_TRUE(out) << host->errors();
    const auto replies = frames(*out);
    ASSERT_EQ(replies.size(), 2u);

    // Replies come in the order they are ready; tell them apart by their method.
    const bool pingFirst = replies[0].find("\"sendPing\"") != std::string::npos;
    const std::string& pingReply = pingFirst ? replies[0] : replies[1];
    const std::string& loginReply = pingFirst ? replies[1] : replies[0];

    // What the HTTP server answers to the very same messages.
    auto viaHttpLogin = client_.post(login);
    auto viaHttpPing = client_.post(ping);
    ASSERT_TRUE(viaHttpLogin);
    ASSERT_TRUE(viaHttpPing);

    auto relayed = client_.decodeGetLoginData(loginReply);
    auto direct = client_.decodeGetLoginData(*viaHttpLogin);
    ASSERT_TRUE(relayed && direct);
    ASSERT_TRUE(relayed->info() && direct->info());
    EXPECT_FALSE(relayed->info()->error());
    EXPECT_EQ(relayed->info()->requestId(), direct->info()->requestId());
    ASSERT_TRUE(relayed->data() && direct->data());
    EXPECT_EQ(*relayed->data(), *direct->data());
    EXPECT_EQ(relayed->data()->password(), std::optional<std::string>(base64(kAlicePassword)));

    auto relayedPong = client_.decodePing(pingReply);
    auto directPong = client_.decodePing(*viaHttpPing);
    ASSERT_TRUE(relayedPong && directPong);
    ASSERT_TRUE(relayedPong->info() && directPong->info());
    EXPECT_FALSE(relayedPong->info()->error());
    EXPECT_EQ(relayedPong->info()->requestId(), directPong->info()->requestId());
    EXPECT_EQ(relayedPong->flags(), directPong->flags());
    EXPECT_EQ(relayedPong->extendedMode(), directPong->extendedMode());

    // A zero length ends the host at once, with status 0.
    host->writeStdin(std::string(4, '\0'));
    const auto status = host->waitExit(Seconds(5));
    ASSERT_TRUE(status) << "the host did not end after a zero length";
    EXPECT_EQ(*status, 0);
}

TEST_F(NativeMessagingTest, EndOfInputEndsTheHostPromptlyWithStatusZero) {
    ASSERT_NO_FATAL_FAILURE(startRoad());
    auto host = startHost();
    host->writeStdin(frame(client_.encodePing("com.tobrin.lumvane.e2e")));
    ASSERT_TRUE(host->waitForOutput([](const std::string& o) { return frames(o).size() >= 1; },
                                    Seconds(60)))
        << host->errors();
    host->closeStdin();
    const auto status = host->waitExit(Seconds(5));
    ASSERT_TRUE(status) << "the host did not end at the end of its input";
    EXPECT_EQ(*status, 0);
}

}  // namespace
}  // namespace lumvane::e2e
