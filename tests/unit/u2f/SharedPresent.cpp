// The process-wide key over a frame pipe, driven through the bridge as the remote
// phone service drives it. One program of its own, since the process-wide instances
// are made once.
#include <gtest/gtest.h>

#include <atomic>

#include "U2FTestSupport.h"
#include "u2f/APDUCommand.h"
#include "u2f/U2FAuthenticator.h"
#include "u2f/U2FAuthenticatorBridge.h"
#include "u2f/U2FHID.h"

using namespace lumvane;
using namespace lumvane::u2ftest;

namespace {

class FakeSigner : public U2FRemoteSigner {
  public:
    std::optional<Bytes> registerYubikeyWithRaw(const Bytes& raw) override {
        lastRegister = raw;
        return hex("05 0102 9000");
    }
    std::optional<Bytes> authenticationYubikeyWithRaw(const Bytes&) override {
        return hex("01 00000001 3044 9000");
    }
    std::optional<Bytes> lastRegister;
};

// Asks until the answer is no longer "busy": the phone's answer is stored by a
// background work item after the phone returns.
Bytes askUntilAnswered(FramePipe& pipe, uint32_t cid, const Bytes& raw) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        pipe.pushMessage(cid, U2FHID_MSG, raw);
        auto reply = pipe.nextMessage();
        if (!reply) return {};
        if (reply->payload != hex("6985")) return reply->payload;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return hex("6985");
}

TEST(SharedPresent, BridgeRunsTheKeyAndForwardsToTheSigner) {
    FramePipe pipe;
    U2FHID::setSharedDeviceOpener([&] { return pipe.device(); });
    ASSERT_TRUE(U2FHID::shared());
    ASSERT_TRUE(U2FAuthenticator::shared());
    ::testing::internal::CaptureStdout();

    EXPECT_FALSE(U2FAuthenticatorBridge::running());
    EXPECT_TRUE(U2FAuthenticatorBridge::start());
    EXPECT_TRUE(U2FAuthenticatorBridge::running());

    auto signer = std::make_shared<FakeSigner>();
    U2FAuthenticatorBridge::bindRemoteSigner(signer);

    Bytes request = RegisterRequest::build(repeat(1, 32), repeat(2, 32)).raw();
    EXPECT_EQ(askUntilAnswered(pipe, 11, request), hex("05 0102 9000"));
    EXPECT_EQ(signer->lastRegister, request);
    Bytes auth = AuthenticationRequest::build(repeat(1, 32), repeat(3, 32), repeat(4, 70),
                                              Control::EnforceUserPresenceAndSign)
                     .raw();
    EXPECT_EQ(askUntilAnswered(pipe, 12, auth), hex("01 00000001 3044 9000"));

    // Once the service is gone the callbacks answer nothing, which the browser is told.
    signer.reset();
    Bytes other = RegisterRequest::build(repeat(1, 32), repeat(5, 32)).raw();
    EXPECT_EQ(askUntilAnswered(pipe, 13, other), hex("6f00"));

    EXPECT_TRUE(U2FAuthenticatorBridge::stop());
    EXPECT_FALSE(U2FAuthenticatorBridge::running());
    EXPECT_FALSE(U2FAuthenticatorBridge::stop());
    ::testing::internal::GetCapturedStdout();
}

}  // namespace
