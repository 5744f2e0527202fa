#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <thread>

#include "U2FTestSupport.h"
#include "u2f/APDUCommand.h"
#include "u2f/HexEncoding.h"
#include "u2f/U2FAuthenticator.h"
#include "u2f/U2FHID.h"

using namespace lumvane;
using namespace lumvane::u2ftest;

namespace {

// ---- U2FHID ----

TEST(U2FHID, OneConnectionAtATime) {
    FramePipe pipe;
    auto first = U2FHID::create(pipe.device());
    ASSERT_TRUE(first);
    FramePipe other;
    EXPECT_FALSE(U2FHID::create(other.device()));
    EXPECT_FALSE(U2FHID::create(nullptr));
    first.reset();
    EXPECT_TRUE(U2FHID::create(other.device()));
}

TEST(U2FHID, RunStopLifecycle) {
    FramePipe pipe;
    auto hid = U2FHID::create(pipe.device());
    ASSERT_TRUE(hid);
    EXPECT_FALSE(hid->stop());
    EXPECT_TRUE(hid->run());
    EXPECT_FALSE(hid->run());
    EXPECT_TRUE(hid->isRunning());
    EXPECT_TRUE(hid->stop());
    EXPECT_FALSE(hid->isRunning());
    EXPECT_TRUE(hid->run());
    // Destroying a running connection stops its thread first.
}

TEST(U2FHID, MessagesReachHandlersAndAnswersGoOut) {
    FramePipe pipe;
    auto hid = U2FHID::create(pipe.device());
    ASSERT_TRUE(hid);
    softu2f_set_frame_gap(hid->ctx(), std::chrono::microseconds(0));
    std::mutex mutex;
    std::condition_variable cv;
    std::optional<softu2f_hid_message> seen;
    hid->setHandler(U2FHID::MessageType::Msg, [&](const softu2f_hid_message& msg) {
        std::lock_guard lock(mutex);
        seen = msg;
        cv.notify_all();
        return true;
    });
    ASSERT_TRUE(hid->run());
    pipe.pushMessage(9, U2FHID_MSG, Bytes(70, 3));
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return seen.has_value(); }));
        EXPECT_EQ(seen->cid, 9u);
        EXPECT_EQ(*seen->data, Bytes(70, 3));
    }
    EXPECT_TRUE(hid->sendMessage(9, {}));
    auto sent = pipe.nextMessage();
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->cmd, U2FHID_MSG);
    EXPECT_TRUE(sent->payload.empty());
    EXPECT_EQ(pipe.sent().back(), initFrame(9, U2FHID_MSG, 0));
    EXPECT_FALSE(hid->sendMessage(9, Bytes(kU2FHIDMaxPayload + 1, 0)));
    EXPECT_TRUE(hid->stop());
}

TEST(U2FHID, MessageTypes) {
    EXPECT_EQ(U2FHID::messageTypeFromByte(0x83), U2FHID::MessageType::Msg);
    EXPECT_EQ(U2FHID::messageTypeFromByte(0xBF), U2FHID::MessageType::Error);
    EXPECT_FALSE(U2FHID::messageTypeFromByte(0x85).has_value());
    EXPECT_FALSE(U2FHID::messageTypeFromByte(0x03).has_value());
}

// ---- authenticator ----

// A phone whose answer the test hands over when it wants to.
class SlowPhone {
  public:
    U2FAuthenticator::Callback callback() {
        return [this](const Bytes& raw) {
            std::unique_lock lock(mutex_);
            ++calls_;
            requests_.push_back(raw);
            cv_.notify_all();
            cv_.wait(lock, [&] { return released_; });
            released_ = false;
            return answer_;
        };
    }
    void answer(std::optional<Bytes> answer) {
        std::lock_guard lock(mutex_);
        answer_ = std::move(answer);
        released_ = true;
        cv_.notify_all();
    }
    bool waitCalls(int n) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return calls_ >= n; });
    }
    int calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<Bytes> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int calls_ = 0;
    bool released_ = false;
    std::optional<Bytes> answer_;
    std::vector<Bytes> requests_;
};

const Bytes kApp = repeat(0xA1, 32);

Bytes registerRaw(const Bytes& app = kApp) {
    return RegisterRequest::build(repeat(0xC0, 32), app).raw();
}
Bytes authenticateRaw(Control control, const Bytes& app = kApp) {
    return AuthenticationRequest::build(repeat(0xC0, 32), app, repeat(0x77, 70), control).raw();
}

class U2FAuthenticatorTest : public ::testing::Test {
  protected:
    // A failed set-up fails the test and leaves nothing for the tear-down to trip over.
    void SetUp() override {
        hid = U2FHID::create(pipe.device());
        ASSERT_TRUE(hid) << "the connection could not be made (is an earlier one still open?)";
        softu2f_set_frame_gap(hid->ctx(), std::chrono::microseconds(0));
        queue = DispatchQueue::create("u2f-test", DispatchQueue::Kind::Concurrent);
        authenticator = U2FAuthenticator::create(hid, queue);
        ASSERT_TRUE(authenticator);
        ::testing::internal::CaptureStdout();  // the request lines
        capturing = true;
    }
    void TearDown() override {
        if (capturing) ::testing::internal::GetCapturedStdout();
        if (queue) queue->syncBarrier([] {});
        std::weak_ptr<U2FHID> connection = hid;
        authenticator.reset();
        hid.reset();
        // The next test opens its own connection: this one must really be closed now.
        EXPECT_TRUE(connection.expired()) << "something still holds the connection";
    }

    // Sends a MSG request on the channel and answers the reply's bytes.
    Bytes ask(const Bytes& raw, uint32_t cid = 0x01020304) {
        for (const auto& f : hostFrames(cid, U2FHID_MSG, raw)) softu2f_receive_frame(hid->ctx(), f);
        auto reply = pipe.nextMessage();
        if (!reply) {
            ADD_FAILURE() << "no reply";
            return {};
        }
        EXPECT_EQ(reply->cid, cid);
        EXPECT_EQ(reply->cmd, U2FHID_MSG);
        return reply->payload;
    }
    // Waits until every work item submitted so far has ended.
    void settle() {
        queue->syncBarrier([] {});
    }

    FramePipe pipe;
    std::shared_ptr<U2FHID> hid;
    std::shared_ptr<DispatchQueue> queue;
    std::shared_ptr<U2FAuthenticator> authenticator;
    bool capturing = false;
};

TEST_F(U2FAuthenticatorTest, LocalAnswers) {
    const std::pair<Bytes, Bytes> cases[] = {
        {hex("00030000000000"), hex("5532465f5632 9000")},
        {hex("00040000000000"), hex("6d00")},
        {hex("00050000000000"), hex("6d00")},
        {hex("00090000000000"), hex("6d00")},
        {hex("80030000000000"), hex("6e00")},
        {hex("0003"), hex("6700")},
        {{}, hex("6700")},
        {hex("000300000000 01aa"), hex("6700")},
        {authenticateRaw(Control::CheckOnly), hex("6985")},
        {registerRaw(), hex("6f00")},  // no callback installed yet
        {authenticateRaw(Control::EnforceUserPresenceAndSign), hex("6f00")},
    };
    for (const auto& [request, reply] : cases) EXPECT_EQ(ask(request), reply) << toHex(request);
}

TEST_F(U2FAuthenticatorTest, PhoneAnswerIsHandedOverOnceOnRepetition) {
    SlowPhone phone;
    authenticator->setRegisterCallback(phone.callback());
    EXPECT_EQ(ask(registerRaw()), hex("6985"));
    ASSERT_TRUE(phone.waitCalls(1));
    EXPECT_EQ(phone.requests().at(0), registerRaw());  // the raw bytes, unchanged

    EXPECT_EQ(ask(registerRaw()), hex("6985"));  // still working
    phone.answer(hex("0504aa9000"));
    settle();
    EXPECT_EQ(phone.calls(), 1);
    EXPECT_EQ(ask(registerRaw()), hex("0504aa9000"));

    // The answer was handed out: the next repetition asks the phone again.
    EXPECT_EQ(ask(registerRaw()), hex("6985"));
    ASSERT_TRUE(phone.waitCalls(2));
    phone.answer(hex("01"));
    settle();
}

TEST_F(U2FAuthenticatorTest, NoAnswerFromPhoneIsReportedThenStartsAnew) {
    SlowPhone phone;
    authenticator->setAuthenticationCallback(phone.callback());
    auto request = authenticateRaw(Control::EnforceUserPresenceAndSign);
    EXPECT_EQ(ask(request), hex("6985"));
    ASSERT_TRUE(phone.waitCalls(1));
    phone.answer(std::nullopt);
    settle();
    EXPECT_EQ(ask(request), hex("6f00"));
    EXPECT_EQ(ask(request), hex("6985"));
    ASSERT_TRUE(phone.waitCalls(2));
    phone.answer(hex("0100000001 30"));
    settle();
    EXPECT_EQ(ask(request), hex("0100000001 30"));
}

// An answer goes only to a repetition of its own request: not to an authenticate
// request of the same application, nor to a register request with a new challenge.
TEST_F(U2FAuthenticatorTest, AnswerGoesOnlyToARepetitionOfItsRequest) {
    SlowPhone registerPhone, authPhone;
    authenticator->setRegisterCallback(registerPhone.callback());
    authenticator->setAuthenticationCallback(authPhone.callback());
    EXPECT_EQ(ask(registerRaw()), hex("6985"));
    ASSERT_TRUE(registerPhone.waitCalls(1));
    registerPhone.answer(hex("05ff"));
    settle();

    auto auth = authenticateRaw(Control::EnforceUserPresenceAndSign);
    EXPECT_EQ(ask(auth), hex("6985"));
    ASSERT_TRUE(authPhone.waitCalls(1));
    authPhone.answer(hex("01000000023045"));
    settle();
    EXPECT_EQ(ask(auth), hex("01000000023045"));

    Bytes newChallenge = RegisterRequest::build(repeat(0xD0, 32), kApp).raw();
    EXPECT_EQ(ask(newChallenge), hex("6985"));
    ASSERT_TRUE(registerPhone.waitCalls(2));
    EXPECT_EQ(registerPhone.requests().at(1), newChallenge);
    registerPhone.answer(hex("05ee"));
    settle();
    EXPECT_EQ(ask(newChallenge, 78), hex("05ee"));
    // The first answer is still there for its own request.
    EXPECT_EQ(ask(registerRaw(), 79), hex("05ff"));
}

TEST_F(U2FAuthenticatorTest, OldestUnclaimedAnswersAreDropped) {
    int calls = 0;
    authenticator->setRegisterCallback([&](const Bytes&) -> std::optional<Bytes> {
        ++calls;
        return hex("05");
    });
    auto app = [](size_t i) {
        Bytes a(32, 0);
        a[0] = static_cast<uint8_t>(i);
        a[1] = static_cast<uint8_t>(i >> 8);
        return a;
    };
    const size_t n = U2FAuthenticator::kMaxCachedResponses + 1;
    for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(ask(registerRaw(app(i))), hex("6985"));
        settle();
    }
    // The newest is still there; the oldest went and is asked for again.
    EXPECT_EQ(ask(registerRaw(app(n - 1))), hex("05"));
    EXPECT_EQ(ask(registerRaw(app(0))), hex("6985"));
    settle();
    EXPECT_EQ(calls, static_cast<int>(n + 1));
}

TEST_F(U2FAuthenticatorTest, StartAndStopFollowTheHidThread) {
    EXPECT_FALSE(authenticator->running());
    EXPECT_TRUE(authenticator->start());
    EXPECT_TRUE(authenticator->running());
    EXPECT_FALSE(authenticator->start());
    EXPECT_TRUE(authenticator->running());
    EXPECT_TRUE(authenticator->stop());
    EXPECT_FALSE(authenticator->running());
    EXPECT_FALSE(authenticator->stop());
}

TEST(HexEncoding, Forms) {
    EXPECT_EQ(hexString(hex("00ab")), "00ab");
    EXPECT_EQ(hexString({}), "");
    EXPECT_EQ(hexEncodedString(hex("00ab")), "00ab");
    EXPECT_EQ(hexEncodedString(hex("00ab"), {HexEncodingOptions::upperCase}), "00AB");
}

}  // namespace
