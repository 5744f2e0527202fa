// The simulated radio's frames: what the reader accepts, what it refuses, and a
// hub that survives a client speaking garbage.
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "SimTestSupport.h"
#include "platform/ble/SimBleAir.h"
#include "platform/ble/SimBleWire.h"
#include "platform/ble/SimSocket.h"

namespace lumvane {
namespace {

using namespace ble;
using namespace ble::sim;

Message sampleWrite() {
    Message m;
    m.op = Op::Write;
    m.peer = "5A:00:00:00:00:01";
    m.service = "05550D60-F72F-11E5-97D7-0002A5D5C51B";
    m.characteristic = "05550D60-A040-11E5-97D7-0002A5D5C51B";
    m.flag = true;
    m.value = Bytes(182, 0x42);
    return m;
}

Message sampleAdvert() {
    Message m;
    m.op = Op::AdvReport;
    m.peer = "5A:00:00:00:00:01";
    m.name = "Phone";
    m.rssi = -60;
    m.adv.localName = "Phone";
    m.adv.serviceUuids = std::vector<std::string>{"180A", "05550D60-F72F-11E5-97D7-0002A5D5C51B"};
    m.adv.manufacturerData = Bytes{0x4C, 0x00, 0x10, 0x05};
    m.adv.isConnectable = true;
    m.adv.txPowerLevel = -8;
    return m;
}

TEST(SimWire, FramesSurviveAnySplitOfTheStream) {
    Bytes stream;
    for (const Message& m : {sampleWrite(), sampleAdvert(), sampleWrite()}) {
        Bytes f = encodeFrame(m);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    for (size_t step : {size_t(1), size_t(3), size_t(7), stream.size()}) {
        FrameReader reader;
        std::vector<Message> got;
        for (size_t at = 0; at < stream.size(); at += step) {
            size_t n = std::min(step, stream.size() - at);
            reader.feed(std::span<const uint8_t>(stream.data() + at, n));
            while (auto body = reader.next()) got.push_back(decodeBody(*body));
        }
        ASSERT_EQ(got.size(), 3u) << "step " << step;
        EXPECT_EQ(got[0], sampleWrite());
        EXPECT_EQ(got[1], sampleAdvert());
        EXPECT_EQ(reader.buffered(), 0u);
    }
}

TEST(SimWire, ReaderRefusesLengthsOutOfBounds) {
    for (uint32_t length : {0u, kMaxFrameLength + 1, 0xFFFFFFFFu}) {
        FrameReader reader;
        Bytes header = {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16),
                        uint8_t(length >> 24)};
        EXPECT_THROW(reader.feed(header), WireError) << length;
        EXPECT_TRUE(reader.failed());
        EXPECT_FALSE(reader.next());
    }
    // The largest frame is accepted once it is all there.
    FrameReader reader;
    Bytes frame(4 + kMaxFrameLength, 0);
    frame[0] = uint8_t(kMaxFrameLength);
    frame[1] = uint8_t(kMaxFrameLength >> 8);
    frame[2] = uint8_t(kMaxFrameLength >> 16);
    reader.feed(std::span<const uint8_t>(frame.data(), frame.size() - 1));
    EXPECT_FALSE(reader.next());
    reader.feed(std::span<const uint8_t>(frame.data() + frame.size() - 1, 1));
    EXPECT_TRUE(reader.next());
}

TEST(SimWire, DecoderRefusesMalformedBodies) {
    Bytes good = encodeFrame(sampleWrite());
    Bytes body(good.begin() + 4, good.end());
    EXPECT_EQ(decodeBody(body), sampleWrite());

    // Every truncation fails, and so does a trailing byte.
    for (size_t n = 0; n < body.size(); ++n) {
        EXPECT_THROW(decodeBody(std::span<const uint8_t>(body.data(), n)), WireError) << n;
    }
    Bytes longer = body;
    longer.push_back(0);
    EXPECT_THROW(decodeBody(longer), WireError);

    // A value longer than an attribute may be, an unknown op, a bad boolean.
    Message big = sampleWrite();
    big.value = Bytes(kMaxAttributeValueLength + 1, 1);
    EXPECT_THROW(encodeFrame(big), WireError);
    EXPECT_THROW(decodeBody(Bytes{0xEE}), WireError);
    Bytes badFlag = body;
    // The response flag sits right before the value's length.
    badFlag[badFlag.size() - 182 - 3] = 2;
    EXPECT_THROW(decodeBody(badFlag), WireError);
}

TEST(SimWire, HubCutsOffAGarbageClientAndServesTheOthers) {
    const std::string path = blectest::tempSocketPath("wire");
    SimBleAir air(path);
    ASSERT_TRUE(air.start());

    auto recorder = std::make_shared<blectest::Recorder>("test.wire");
    // A client that announces a frame of 4 GiB.
    int bad = connectUnixSocket(path);
    ASSERT_GE(bad, 0);
    const uint8_t hostile[] = {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3};
    ASSERT_TRUE(writeAll(bad, hostile, sizeof hostile));
    char c;
    EXPECT_EQ(::read(bad, &c, 1), 0) << "the hub closes the connection";
    ::close(bad);

    // A client that speaks before saying hello.
    int rude = connectUnixSocket(path);
    Message scan;
    scan.op = Op::ScanStart;
    Bytes frame = encodeFrame(scan);
    ASSERT_TRUE(writeAll(rude, frame.data(), frame.size()));
    EXPECT_EQ(::read(rude, &c, 1), 0);
    ::close(rude);

    // A well-behaved central still gets its state.
    int fd = connectUnixSocket(path);
    blectest::Events events;
    FrameConnection conn(
        fd, [&](const Message& m) { events.add("op " + std::to_string(int(m.op))); },
        [&](const std::string&) { events.add("closed"); });
    Message hello;
    hello.op = Op::Hello;
    hello.role = Role::Central;
    hello.identifier = "probe";
    ASSERT_TRUE(conn.send(hello));
    conn.start();
    EXPECT_TRUE(events.waitFor("op " + std::to_string(int(Op::State))));
    EXPECT_EQ(air.centralCount(), 1u);
    air.stop();
    EXPECT_TRUE(events.waitFor("closed"));
}

}  // namespace
}  // namespace lumvane
