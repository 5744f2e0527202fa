#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "U2FTestSupport.h"
#include "u2f/softu2f.h"

using namespace lumvane;
using namespace lumvane::u2ftest;

namespace {

// The client driven frame by frame on the test thread, its time on a manual clock.
class SoftU2FTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock = std::make_shared<ManualClock>();
        ctx = softu2f_connect_device(pipe.device(), 0, clock);
        ASSERT_NE(ctx, nullptr);
        softu2f_set_frame_gap(ctx, std::chrono::microseconds(0));
    }
    void TearDown() override { softu2f_free(ctx); }

    void receive(const HidFrame& frame) { softu2f_receive_frame(ctx, frame); }
    void receiveMessage(uint32_t cid, uint8_t cmd, const Bytes& payload) {
        for (const auto& f : hostFrames(cid, cmd, payload)) receive(f);
    }
    // The next message the client sent, which must be an error with this code.
    void expectError(uint32_t cid, uint8_t code) {
        auto msg = pipe.nextMessage(std::chrono::milliseconds(100));
        ASSERT_TRUE(msg.has_value()) << "no answer";
        EXPECT_EQ(msg->cid, cid);
        EXPECT_EQ(msg->cmd, U2FHID_ERROR);
        EXPECT_EQ(msg->payload, Bytes{code});
    }
    void expectNothingSent() { EXPECT_FALSE(pipe.nextMessage(std::chrono::milliseconds(0))); }

    FramePipe pipe;
    std::shared_ptr<ManualClock> clock;
    softu2f_ctx* ctx = nullptr;
};

TEST_F(SoftU2FTest, InitOnBroadcastHandsOutNewChannels) {
    const Bytes nonce = hex("0102030405060708");
    receiveMessage(kU2FHIDBroadcastCid, U2FHID_INIT, nonce);
    auto first = pipe.nextMessage();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->cid, kU2FHIDBroadcastCid);
    EXPECT_EQ(first->cmd, U2FHID_INIT);
    EXPECT_EQ(first->payload, concat({nonce, hex("01000000 02 000000 01")}));

    receiveMessage(kU2FHIDBroadcastCid, U2FHID_INIT, nonce);
    EXPECT_EQ(pipe.nextMessage()->payload, concat({nonce, hex("02000000 02 000000 01")}));

    receiveMessage(5, U2FHID_INIT, nonce);
    auto onFive = pipe.nextMessage();
    EXPECT_EQ(onFive->cid, 5u);
    EXPECT_EQ(onFive->payload, concat({nonce, hex("05000000 02 000000 01")}));
}

TEST_F(SoftU2FTest, ShortInitNonceIsRefusedNotOverread) {
    receiveMessage(kU2FHIDBroadcastCid, U2FHID_INIT, hex("010203"));
    expectError(kU2FHIDBroadcastCid, ERR_INVALID_LEN);
}

TEST_F(SoftU2FTest, PingEchoesAcrossFrames) {
    Bytes payload(100);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
    receiveMessage(7, U2FHID_PING, payload);
    ASSERT_TRUE(pipe.waitSentCount(2));
    auto frames = pipe.sent();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], hostFrames(7, U2FHID_PING, payload)[0]);
    EXPECT_EQ(frames[1], hostFrames(7, U2FHID_PING, payload)[1]);
    EXPECT_EQ(frames[1][4], 0);  // SEQ 0
}

TEST_F(SoftU2FTest, PayloadLengthLimits) {
    receiveMessage(3, U2FHID_PING, {});
    auto empty = pipe.nextMessage();
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->payload.empty());

    Bytes largest(kU2FHIDMaxPayload, 0x5A);
    auto frames = hostFrames(3, U2FHID_PING, largest);
    ASSERT_EQ(frames.size(), 129u);
    EXPECT_EQ(frames.back()[4], 127);
    for (const auto& f : frames) receive(f);
    auto echo = pipe.nextMessage();
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->payload, largest);

    receive(initFrame(3, U2FHID_PING, kU2FHIDMaxPayload + 1));
    expectError(3, ERR_INVALID_LEN);
    EXPECT_EQ(softu2f_pending_count(ctx), 0u);
}

// Frame-level protocol errors, each from a fresh state.
TEST_F(SoftU2FTest, ProtocolErrorTable) {
    struct Case {
        const char* name;
        std::vector<HidFrame> frames;
        uint32_t errorCid;
        uint8_t error;  // 0: no answer at all
    };
    const Bytes big(200, 1);
    auto first = hostFrames(1, U2FHID_PING, big);
    const Case cases[] = {
        {"channel 0", {initFrame(0, U2FHID_PING, 0)}, 0, ERR_INVALID_CID},
        {"CONT without message", {contFrame(9, 0)}, 0, 0},
        {"SEQ 0, 1, 3", {first[0], first[1], first[2], contFrame(1, 3)}, 1, ERR_INVALID_SEQ},
        {"PING INIT on incomplete channel",
         {first[0], initFrame(1, U2FHID_PING, 1)},
         1,
         ERR_INVALID_SEQ},
        {"PING while other channel incomplete",
         {first[0], initFrame(2, U2FHID_PING, 1)},
         2,
         ERR_CHANNEL_BUSY},
        {"SYNC opens a message", {initFrame(4, U2FHID_SYNC, 0)}, 4, ERR_INVALID_CMD},
        {"LOCK", {initFrame(4, U2FHID_LOCK, 1, hex("05"))}, 4, ERR_INVALID_CMD},
        {"MSG without handler", {initFrame(4, U2FHID_MSG, 1, hex("05"))}, 4, ERR_INVALID_CMD},
        {"non-INIT on broadcast",
         {initFrame(kU2FHIDBroadcastCid, U2FHID_PING, 0)},
         kU2FHIDBroadcastCid,
         ERR_INVALID_CID},
        {"non-INIT on broadcast while another is pending",
         {first[0], initFrame(kU2FHIDBroadcastCid, U2FHID_PING, 0)},
         kU2FHIDBroadcastCid,
         ERR_CHANNEL_BUSY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FramePipe fresh;
        softu2f_ctx* local = softu2f_connect_device(fresh.device(), 0, clock);
        for (const auto& f : c.frames) softu2f_receive_frame(local, f);
        auto answer = fresh.nextMessage(std::chrono::milliseconds(0));
        if (c.error == 0) {
            EXPECT_FALSE(answer.has_value());
        } else {
            ASSERT_TRUE(answer.has_value());
            EXPECT_EQ(answer->cid, c.errorCid);
            EXPECT_EQ(answer->cmd, U2FHID_ERROR);
            EXPECT_EQ(answer->payload, Bytes{c.error});
        }
        EXPECT_FALSE(fresh.nextMessage(std::chrono::milliseconds(0))) << "a second answer";
        softu2f_free(local);
    }
}

TEST_F(SoftU2FTest, DroppedMessageFreesItsChannel) {
    Bytes big(200, 1);
    auto frames = hostFrames(1, U2FHID_PING, big);
    receive(frames[0]);
    receive(contFrame(1, 5));
    expectError(1, ERR_INVALID_SEQ);
    EXPECT_EQ(softu2f_pending_count(ctx), 0u);
    // Channel 2 is no longer told the device is busy.
    receiveMessage(2, U2FHID_PING, hex("aa"));
    EXPECT_EQ(pipe.nextMessage()->payload, hex("aa"));
}

TEST_F(SoftU2FTest, SecondInitRestartsIncompleteMessage) {
    receive(initFrame(1, U2FHID_INIT, 60, hex("01")));  // needs a CONT frame
    receive(initFrame(1, U2FHID_INIT, 8, hex("1122334455667788")));
    auto answer = pipe.nextMessage();
    ASSERT_TRUE(answer);
    EXPECT_EQ(Bytes(answer->payload.begin(), answer->payload.begin() + 8), hex("1122334455667788"));
    // INIT from channel 2 is accepted while channel 1 is incomplete.
    receive(initFrame(1, U2FHID_PING, 100));
    receiveMessage(2, U2FHID_INIT, hex("0000000000000009"));
    EXPECT_EQ(pipe.nextMessage()->cid, 2u);
}

TEST_F(SoftU2FTest, IncompleteMessageTimesOutOnTheClock) {
    receive(initFrame(6, U2FHID_PING, 100, Bytes(57, 1)));
    clock->advance(0.5);
    softu2f_timer_tick(ctx);
    expectNothingSent();
    clock->advance(0.001);
    softu2f_timer_tick(ctx);
    expectError(6, ERR_MSG_TIMEOUT);
    EXPECT_EQ(softu2f_pending_count(ctx), 0u);
    // A late CONT for the timed-out message is ignored.
    receive(contFrame(6, 0, Bytes(43, 1)));
    expectNothingSent();
}

TEST_F(SoftU2FTest, RegisteredHandlerGetsCompleteMessage) {
    std::vector<softu2f_hid_message> seen;
    softu2f_set_handler(ctx, U2FHID_MSG, [&](softu2f_ctx*, softu2f_hid_message* msg) {
        seen.push_back(*msg);
        return false;  // only logged
    });
    softu2f_set_handler(ctx, U2FHID_LOCK, [&](softu2f_ctx*, softu2f_hid_message*) {
        ADD_FAILURE() << "LOCK has no slot";
        return true;
    });
    Bytes payload(80, 0x42);
    receiveMessage(8, U2FHID_MSG, payload);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].cid, 8u);
    EXPECT_EQ(seen[0].cmd, U2FHID_MSG);
    EXPECT_EQ(seen[0].bcnt, 80);
    EXPECT_EQ(*seen[0].data, payload);
    receiveMessage(8, U2FHID_LOCK, hex("01"));
    expectError(8, ERR_INVALID_CMD);
}

TEST_F(SoftU2FTest, SendingStopsAtFirstFailedFrameAndRefusesUnframeable) {
    softu2f_hid_message msg;
    msg.cmd = U2FHID_MSG;
    msg.cid = 4;
    msg.data = std::make_shared<const Bytes>(Bytes(200, 1));
    pipe.failSendsAfter(1, -5);
    EXPECT_FALSE(softu2f_hid_msg_send(ctx, &msg));
    EXPECT_EQ(pipe.sentCount(), 1u);

    FramePipe other;
    softu2f_ctx* local = softu2f_connect_device(other.device(), 0, clock);
    msg.data = std::make_shared<const Bytes>(Bytes(kU2FHIDMaxPayload + 1, 1));
    EXPECT_FALSE(softu2f_hid_msg_send(local, &msg));
    EXPECT_EQ(other.sentCount(), 0u);
    msg.data = nullptr;  // an empty payload still goes out as one frame
    EXPECT_TRUE(softu2f_hid_msg_send(local, &msg));
    EXPECT_EQ(other.sent().at(0), initFrame(4, U2FHID_MSG, 0));
    softu2f_free(local);
}

// The loop on its own thread, on real time: frames are answered, a message whose
// CONT frames stop is timed out by the tick alone, and shutdown ends the loop.
TEST(SoftU2FRunLoop, RunsUntilShutdown) {
    FramePipe pipe;
    softu2f_ctx* ctx = softu2f_connect_device(pipe.device(), 0);
    softu2f_shutdown(ctx);  // not running: nothing happens
    std::atomic<bool> started{false};
    softu2f_set_run_observer(ctx, [&](bool running) {
        if (running) started = true;
    });
    std::thread loop([&] { softu2f_run(ctx); });
    while (!started) std::this_thread::yield();
    EXPECT_TRUE(softu2f_is_running(ctx));
    softu2f_run(ctx);  // already running: returns at once

    pipe.pushMessage(kU2FHIDBroadcastCid, U2FHID_INIT, hex("0807060504030201"));
    auto init = pipe.nextMessage();
    ASSERT_TRUE(init);
    EXPECT_EQ(init->cmd, U2FHID_INIT);

    pipe.push(initFrame(1, U2FHID_PING, 100));
    auto timeout = pipe.nextMessage();
    ASSERT_TRUE(timeout);
    EXPECT_EQ(timeout->payload, Bytes{ERR_MSG_TIMEOUT});

    softu2f_shutdown(ctx);
    loop.join();
    EXPECT_FALSE(softu2f_is_running(ctx));
    softu2f_free(ctx);
}

}  // namespace
