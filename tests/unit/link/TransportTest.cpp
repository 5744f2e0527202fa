// The RPC transport over a connection, and the connection's handshake and value
// handling, over the in-process fake peripheral.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include <thrift/transport/TTransportException.h>

#include "FakeBle.h"
#include "blec/BLECLog.h"
#include "blec/BLECThriftTransport.h"

namespace lumvane::linktest {
namespace {

using apache::thrift::transport::TTransportException;

template <class Pred>
bool eventually(Pred pred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Sends `reply` as the phone's answer to request `id`.
void answer(FakeLink& link, uint16_t id, const Bytes& reply) {
    BLECDataManager phone;
    for (const auto& chunk : phone.splitDataToChunks(reply, id, 20, std::nullopt, false)) {
        link.connection->handleReplyChunk(chunk, false);
    }
}

TEST(LinkTransport, FlushCarriesTheCallAndReadsServeTheReply) {
    FakeLink link(allCodes());
    auto transport = link.connection->transport();
    const uint8_t call[] = {1, 2, 3, 4};
    transport->write(call, 2);
    transport->write(call + 2, 2);
    auto flushed = std::async(std::launch::async, [&] { transport->flush(); });
    ASSERT_TRUE(eventually([&] { return link.connection->requestsInProcessCount() == 1; }));
    const auto writes = link.peripheral->writesTo("A040");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(Bytes(writes[0].second.begin() + 10, writes[0].second.end()), (Bytes{1, 2, 3, 4}));
    answer(link, 0, Bytes{9, 8, 7, 6});
    flushed.get();
    EXPECT_EQ(transport->pendingRequestLength(), 0u);

    uint8_t buf[10] = {};
    EXPECT_EQ(transport->read(buf, 10), 4u) << "asks for 10 when 4 remain: copies 4";
    EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{9, 8, 7, 6}));
    EXPECT_EQ(transport->read(buf, 10), 0u);
}

TEST(LinkTransport, ShortReadFailsTheCall) {
    FakeLink link(allCodes());
    auto transport = link.connection->transport();
    const uint8_t call[] = {1};
    transport->write(call, 1);
    auto flushed = std::async(std::launch::async, [&] { transport->flush(); });
    ASSERT_TRUE(eventually([&] { return link.connection->requestsInProcessCount() == 1; }));
    answer(link, 0, Bytes{1, 2, 3});
    flushed.get();
    uint8_t buf[8];
    EXPECT_EQ(transport->readAll(buf, 2), 2u);
    EXPECT_THROW(transport->readAll(buf, 2), TTransportException) << "one byte left";
}

TEST(LinkTransport, FailedWriteEndsFlushAtOnceWithAnEmptyReply) {
    FakeLink link(allCodes());
    link.peripheral->failWrites = true;
    auto transport = link.connection->transport();
    const uint8_t call[] = {1, 2};
    transport->write(call, 2);
    transport->flush();  // no time passes on the manual clock: only the failure can end it
    EXPECT_TRUE(transport->responseData().empty());
    uint8_t buf[1];
    EXPECT_THROW(transport->readAll(buf, 1), TTransportException);
}

TEST(LinkTransport, FlushWithoutConnectionReturnsAtOnce) {
    std::shared_ptr<BLECThriftTransport> transport;
    {
        FakeLink link(allCodes());
        transport = link.connection->transport();
        link.record.reset();
        link.connection.reset();
    }
    const uint8_t call[] = {1};
    transport->write(call, 1);
    transport->flush();
    EXPECT_TRUE(transport->responseData().empty());
}

TEST(LinkTransport, LateAnswerNeverReachesTheNextCall) {
    FakeLink link(allCodes());
    auto transport = link.connection->transport();
    const uint8_t call[] = {1};
    transport->write(call, 1);
    auto first = std::async(std::launch::async, [&] { transport->flush(); });
    ASSERT_TRUE(link.clock->waitForSleepers(1));
    link.clock->advance(BLECThriftTransport::kFlushTimeout + 1);  // the flush gives up
    first.get();
    EXPECT_TRUE(transport->responseData().empty());

    // The phone answers the first call late; the second call must not take it.
    transport->write(call, 1);
    auto second = std::async(std::launch::async, [&] { transport->flush(); });
    ASSERT_TRUE(link.clock->waitForSleepers(1));
    answer(link, 0, Bytes{0xAA});
    EXPECT_EQ(second.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    link.connection->handleDeliveredValue(blec::encodeUInt32(0));
    ASSERT_TRUE(eventually([&] { return link.peripheral->writesTo("A040").size() == 2; }));
    answer(link, 1, Bytes{0xBB});
    second.get();
    EXPECT_EQ(transport->responseData(), (Bytes{0xBB}));
}

// ---- handshake and values ------------------------------------------------------------

struct RecordingDelegate : BLECMutableThriftTransportFactoryDelegate,
                           BLECThriftTransportFactoryDelegate {
    std::atomic<int> found{0}, lost{0}, infoUpdates{0}, db{0};
    std::atomic<uint64_t> needType{0};
    void blecThriftTransportFactoryDidFindDevice(BLECThriftTransportFactory&) override { ++found; }
    void blecThriftTransportFactoryDidLostDevice(BLECThriftTransportFactory&) override { ++lost; }
    void blecThriftTransportFactory(BLECThriftTransportFactory&, const std::string&) override {}
    void blecThriftTransportFactoryDidDeviceInfoUpdated(BLECThriftTransportFactory&) override {
        ++infoUpdates;
    }
    void blecThriftTransportFactoryDidDBUpdated(BLECThriftTransportFactory&) override { ++db; }
    void blecThriftTransportFactory(BLECThriftTransportFactory&, uint64_t type) override {
        needType = type;
    }
};

struct LogCapture {
    std::mutex mutex;
    std::vector<std::string> errors;
    blec::LogSink old;
    LogCapture() {
        old = blec::setLogSink([this](blec::LogLevel level, std::string_view, std::string_view t) {
            if (level != blec::LogLevel::Error) return;
            std::lock_guard<std::mutex> lock(mutex);
            errors.emplace_back(t);
        });
    }
    ~LogCapture() { blec::setLogSink(old); }
    std::vector<std::string> handshakeErrors() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> out;
        for (const auto& e : errors) {
            if (e.rfind("nextHandshakeWithRecievedData", 0) == 0) out.push_back(e);
        }
        return out;
    }
};

void notifyState(FakeLink& link, const char* code) {
    auto c = link.peripheral->characteristic(code);
    c->setNotifying(true);
    link.connection->peripheralDidUpdateNotificationStateForCharacteristic(*link.peripheral, c,
                                                                           std::nullopt);
}

void value(FakeLink& link, const char* code, const Bytes& v) {
    link.connection->peripheralDidUpdateValueForCharacteristic(
        *link.peripheral, link.peripheral->characteristic(code), v, std::nullopt);
}

TEST(LinkHandshake, RunsOnceAndReadsInOrder) {
    auto d = std::make_shared<RecordingDelegate>();
    FakeLink link(allCodes(), d);
    notifyState(link, "A040");
    notifyState(link, "A040");
    EXPECT_EQ(d->found, 1) << "a second notification state does not restart the handshake";
    std::vector<std::string> expected;
    for (const char* c :
         {"A060", "A002", "A003", "A012", "A020", "A001", "A010", "A011", "A021", "A050"}) {
        expected.push_back(blec::characteristicUuid(c));
    }
    EXPECT_EQ(link.peripheral->readsCopy(), expected);
    std::vector<std::string> subs;
    for (const char* c : {"A010", "A011", "A021", "A030", "A050", "A051"}) {
        subs.push_back(blec::characteristicUuid(c));
    }
    EXPECT_EQ(link.peripheral->subscribesCopy(), subs);
}

TEST(LinkHandshake, StopsAtTheFirstMissingCharacteristicAndDrops) {
    LogCapture logs;
    std::vector<std::string> codes;
    for (const auto& c : allCodes()) {
        if (c != "A003" && c != "A030") codes.push_back(c);
    }
    FakeLink link(codes);
    notifyState(link, "A040");
    EXPECT_EQ(logs.handshakeErrors(),
              (std::vector<std::string>{
                  "nextHandshakeWithRecievedData: deviceModelCharacteristic == nil"}));
    EXPECT_EQ(link.central->cancelCount(), 1);
}

TEST(LinkHandshake, ValuesFillTheDeviceRecord) {
    auto d = std::make_shared<RecordingDelegate>();
    FakeLink link(allCodes(), d);
    link.connection->setDelegate(std::weak_ptr<BLECThriftTransportFactoryDelegate>(d));
    value(link, "A000", blec::encodeString("6f1c2d3e-4a5b-4c6d-8e9f-a0b1c2d3e4f5"));
    value(link, "A001", blec::encodeString("Phone"));
    value(link, "A002", blec::encodeString("tok"));
    value(link, "A003", blec::encodeString("iPhone9,3"));
    value(link, "A012", blec::encodeString("10.3"));
    value(link, "A020", blec::encodeString("1.2.0"));
    value(link, "A010", Bytes{1, 2, 3});  // not 4 bytes: reads as 0
    value(link, "A011", blec::encodeUInt32(2));
    value(link, "A060", Bytes{0xDE, 0xAD});
    const int updates = d->infoUpdates;
    value(link, "A021", blec::encodeUInt32(0));  // equal to the stored state: nothing
    EXPECT_EQ(d->infoUpdates, updates);
    value(link, "A021", blec::encodeUInt32(3));
    EXPECT_EQ(d->infoUpdates, updates + 1);
    value(link, "A030", Bytes{});
    value(link, "A050", blec::encodeUInt32(7));
    value(link, "A001", Bytes{0xFF, 0xFE});  // not UTF-8: no name

    const auto v = link.connection->deviceInfo()->snapshot();
    EXPECT_EQ(v.did, "6F1C2D3E-4A5B-4C6D-8E9F-A0B1C2D3E4F5");
    EXPECT_EQ(v.name, std::nullopt);
    EXPECT_EQ(v.token, "tok");
    EXPECT_EQ(v.model, "iPhone9,3");
    EXPECT_EQ(v.osVersion, "10.3");
    EXPECT_EQ(v.appVersion, "1.2.0");
    EXPECT_EQ(v.batteryLevel, 0u);
    EXPECT_EQ(v.batteryState, 2u);
    EXPECT_EQ(v.appState, 3u);
    EXPECT_EQ(v.authResponseData, (Bytes{0xDE, 0xAD}));
    EXPECT_EQ(v.bleId, link.peripheral->identifier());
    EXPECT_EQ(d->db, 1);
    EXPECT_EQ(d->needType, 7u);
    // The device id subscribed the communication channels.
    const auto subs = link.peripheral->subscribesCopy();
    EXPECT_EQ(subs.at(0), blec::characteristicUuid("A040"));
    EXPECT_EQ(subs.at(1), blec::characteristicUuid("A041"));
}

TEST(LinkHandshake, PhaseTimeOutsDropTheConnection) {
    auto d = std::make_shared<RecordingDelegate>();
    FakeLink link(allCodes(), d);
    link.peripheral->setState(ble::PeripheralState::Disconnected);
    EXPECT_TRUE(link.connection->connect());
    link.clock->cancelAll();
    link.clock->advance(10);
    link.connection->update();
    EXPECT_TRUE(link.connection->connectingTime().has_value()) << "10 s is still in time";
    link.clock->advance(0.5);
    link.connection->update();
    EXPECT_FALSE(link.connection->connectingTime().has_value());
    EXPECT_EQ(link.central->cancelCount(), 1) << "the pending connect is cancelled";
    EXPECT_TRUE(link.connection->disconnectingTime().has_value());

    // The drop is not confirmed: after 5 s the client hears of the end anyway.
    link.clock->advance(5.5);
    link.connection->update();
    EXPECT_FALSE(link.connection->disconnectingTime().has_value());
}

TEST(LinkHandshake, SetUpMustDeliverTheDeviceIdWithinTenSeconds) {
    FakeLink link(allCodes());
    link.connection->centralManagerDidConnectPeripheral(*link.central, link.peripheral);
    ASSERT_TRUE(link.connection->processingTime().has_value());
    link.clock->cancelAll();
    link.clock->advance(10.5);
    link.connection->update();
    EXPECT_EQ(link.central->cancelCount(), 1);
}

TEST(LinkHandshake, InvalidatedServiceDropsTheConnection) {
    FakeLink link(allCodes());
    auto service = link.peripheral->serviceByServiceId(blec::kServiceUuid);
    link.connection->peripheralDidModifyServices(*link.peripheral, {service});
    EXPECT_EQ(link.central->cancelCount(), 1);
}

}  // namespace
}  // namespace lumvane::linktest
