// The request queue and watchdog of a phone connection, over an in-process
// fake peripheral and a manual clock (the watchdog's ticks are run by hand).
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "FakeBle.h"
#include "blec/BLECDataManager.h"
#include "runtime/RequestTiming.h"

namespace lumvane::linktest {
namespace {

// Completions as they arrive (some come on the global queue).
struct Results {
    std::mutex mutex;
    std::condition_variable cv;
    std::map<int, std::optional<Bytes>> byTag;

    BLECRequest::CompletionHandler handler(int tag) {
        return [this, tag](std::optional<Bytes> r) {
            // Notified under the lock: the waiter may destroy this object once it sees the entry.
            std::lock_guard<std::mutex> lock(mutex);
            byTag[tag] = std::move(r);
            cv.notify_all();
        };
    }
    bool has(int tag) {
        std::lock_guard<std::mutex> lock(mutex);
        return byTag.count(tag) != 0;
    }
    bool waitFor(int tag) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(10), [&] { return byTag.count(tag) != 0; });
    }
    std::optional<Bytes> get(int tag) {
        std::lock_guard<std::mutex> lock(mutex);
        return byTag.at(tag);
    }
};

uint16_t requestIdOf(const Bytes& firstChunk) {
    return uint16_t(firstChunk.at(2) | (firstChunk.at(3) << 8));
}

Bytes payloadOf(const Bytes& singleChunk) {
    return Bytes(singleChunk.begin() + 10, singleChunk.end());
}

// The watchdog's own timer must not tick behind a test's back.
void tickByHand(FakeLink& link, double seconds) {
    link.clock->cancelAll();
    link.clock->advance(seconds);
}

template <class Pred>
bool eventually(Pred pred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(RequestQueue, NewestWaitingRequestIsWrittenFirst) {
    FakeLink link(allCodes());
    Results results;
    link.connection->sendRequest(Bytes{1, 1, 1}, results.handler(1));
    link.connection->sendRequest(Bytes{2, 2, 2}, results.handler(2));
    link.connection->sendRequest(Bytes{3, 3, 3}, results.handler(3));
    ASSERT_EQ(link.peripheral->writesTo("A040").size(), 1u) << "one request at a time";
    EXPECT_EQ(link.connection->waitingRequestCount(), 2u);

    link.connection->handleDeliveredValue(blec::encodeUInt32(0));
    link.connection->handleDeliveredValue(blec::encodeUInt32(1));
    const auto writes = link.peripheral->writesTo("A040");
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(payloadOf(writes[0].second), (Bytes{1, 1, 1}));
    EXPECT_EQ(payloadOf(writes[1].second), (Bytes{3, 3, 3}));
    EXPECT_EQ(payloadOf(writes[2].second), (Bytes{2, 2, 2}));
    EXPECT_EQ(requestIdOf(writes[1].second), 1);
    EXPECT_EQ(requestIdOf(writes[2].second), 2);
}

TEST(RequestQueue, WithoutDeliveredCharacteristicRequestsCountAsDeliveredWhenWritten) {
    FakeLink link(allCodes(/*withDelivered=*/false));
    Results results;
    link.connection->sendRequest(Bytes(100, 7), results.handler(1));
    link.connection->sendRequest(Bytes(100, 8), results.handler(2));
    EXPECT_FALSE(link.connection->hasCurrentRequest());
    EXPECT_EQ(link.peripheral->writesTo("A040").size(),
              2 * BLECDataManager::chunkCountFor(100, 20));

    // Delivered at once: 400 s from the write, not the 10 s of an unacknowledged one.
    tickByHand(link, 399);
    EXPECT_TRUE(link.connection->watchdogTick());
    EXPECT_FALSE(results.has(1));
    tickByHand(link, 2);
    link.connection->watchdogTick();
    ASSERT_TRUE(results.has(1));
    EXPECT_FALSE(results.get(1).has_value());
    // No acknowledgement is written to a phone that has no place for it.
    link.connection->handleReply(0, Bytes{9});
    EXPECT_TRUE(link.peripheral->writesTo("A041").empty());
}

TEST(RequestQueue, TimeOutLimits) {
    struct Case {
        size_t length;
        bool delivered;
        double elapsed;
        bool timedOut;
    };
    const Case cases[] = {
        {100, false, 10.0, false},    {100, false, 10.01, true},   {499, false, 10.01, true},
        {500, false, 19.9, false},    {500, false, 20.01, true},   {749, false, 20.01, true},
        {2500, false, 100, false},    {2500, false, 100.01, true}, {0, false, 10.01, true},
        {100, true, 11, false},       {100, true, 400, false},     {100, true, 400.01, true},
        {100000, true, 400.01, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << " bytes, delivered " << c.delivered << ", "
                                        << c.elapsed << " s");
        ManualClock clock;
        BLECRequest request(Bytes(c.length, 1), nullptr);
        EXPECT_FALSE(request.check(clock.now())) << "a request not yet written never times out";
        request.sent(clock.now());
        if (c.delivered) request.delivered();
        clock.advance(c.elapsed);
        EXPECT_EQ(request.check(clock.now()), c.timedOut);
    }
}

TEST(RequestQueue, UnacknowledgedRequestFailsAfterItsLimitAndAcknowledgedOneWaits) {
    FakeLink link(allCodes());
    Results results;
    link.connection->sendRequest(Bytes(100, 1), results.handler(1));
    tickByHand(link, 10);
    link.connection->watchdogTick();
    EXPECT_FALSE(results.has(1));
    tickByHand(link, 0.5);
    link.connection->watchdogTick();
    ASSERT_TRUE(results.has(1));
    EXPECT_FALSE(results.get(1).has_value());
    EXPECT_EQ(link.connection->requestTimeoutCount(), 1);

    link.connection->sendRequest(Bytes(100, 2), results.handler(2));
    link.connection->handleDeliveredValue(blec::encodeUInt32(1));
    tickByHand(link, 399);
    link.connection->watchdogTick();
    EXPECT_FALSE(results.has(2));
    tickByHand(link, 2);
    link.connection->watchdogTick();
    EXPECT_TRUE(results.has(2));
}

// Puts `n` acknowledged requests in the map at once; they all time out together
// 400 s later.
void writeAcknowledged(FakeLink& link, Results& results, int firstTag, int n) {
    for (int i = 0; i < n; ++i) {
        const uint16_t id = link.connection->nextRequestId();
        link.connection->sendRequest(Bytes(20, uint8_t(firstTag + i)),
                                     results.handler(firstTag + i));
        link.connection->handleDeliveredValue(blec::encodeUInt32(id));
    }
}

TEST(RequestQueue, WatchdogDropsTheConnectionOnceFourOrMoreRequestsTimedOut) {
    struct Case {
        const char* name;
        std::vector<int> timeOutsPerTick;  // requests timing out together, tick by tick
        bool dropped;
    };
    const Case cases[] = {
        {"three single time-outs", {1, 1, 1}, false},
        {"fourth single time-out", {1, 1, 1, 1}, true},
        {"count 3 then two at once (past 4)", {1, 1, 1, 2}, true},
        {"four at once", {4}, true},
        {"five at once", {5}, true},
        {"two then one", {2, 1}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeLink link(allCodes());
        Results results;
        int tag = 0;
        bool lastAnswer = true;
        for (int n : c.timeOutsPerTick) {
            writeAcknowledged(link, results, tag, n);
            tag += n;
            tickByHand(link, 401);
            lastAnswer = link.connection->watchdogTick();
        }
        for (int t = 0; t < tag; ++t) {
            ASSERT_TRUE(results.has(t)) << "request " << t;
            EXPECT_FALSE(results.get(t).has_value());
        }
        EXPECT_EQ(lastAnswer, !c.dropped) << "the watchdog stops itself when it drops";
        if (c.dropped) {
            EXPECT_TRUE(eventually([&] { return link.central->cancelCount() == 1; }));
            EXPECT_TRUE(eventually([&] { return link.connection->requestTimeoutCount() == 0; }));
        } else {
            EXPECT_EQ(link.central->cancelCount(), 0);
        }
    }
}

TEST(RequestQueue, WatchdogDropFailsRequestsThatHaveNotTimedOutYet) {
    FakeLink link(allCodes());
    Results results;
    for (int i = 0; i < 3; ++i) {
        writeAcknowledged(link, results, i, 1);
        tickByHand(link, 401);
        link.connection->watchdogTick();
    }
    writeAcknowledged(link, results, 10, 1);  // will time out
    tickByHand(link, 300);
    writeAcknowledged(link, results, 11, 1);  // fresh
    tickByHand(link, 101);
    EXPECT_FALSE(link.connection->watchdogTick());
    ASSERT_TRUE(results.has(11));
    EXPECT_FALSE(results.get(11).has_value());
    EXPECT_EQ(link.connection->requestsInProcessCount(), 0u);
}

TEST(RequestQueue, ReplyForAnUnknownIdResetsTheCountAndIsAcknowledged) {
    FakeLink link(allCodes());
    Results results;
    writeAcknowledged(link, results, 0, 1);
    tickByHand(link, 401);
    link.connection->watchdogTick();
    ASSERT_EQ(link.connection->requestTimeoutCount(), 1);

    link.connection->handleReply(77, Bytes{});
    EXPECT_EQ(link.connection->requestTimeoutCount(), 0);
    const auto acks = link.peripheral->writesTo("A041");
    ASSERT_EQ(acks.size(), 1u);
    EXPECT_EQ(acks[0].second, blec::encodeUInt32(77));
}

TEST(RequestQueue, ReplyChunksCompleteTheRequestWithTheReplyBytes) {
    FakeLink link(allCodes());
    Results results;
    link.connection->setNextRequestId(300);
    link.connection->sendRequest(Bytes{1, 2, 3}, results.handler(1));
    Bytes reply(50);
    for (size_t i = 0; i < reply.size(); ++i) reply[i] = uint8_t(i * 7);
    BLECDataManager phone;
    for (const auto& chunk : phone.splitDataToChunks(reply, 300, 20, std::nullopt, false)) {
        link.connection->handleReplyChunk(chunk, false);
    }
    ASSERT_TRUE(results.waitFor(1));
    EXPECT_EQ(results.get(1), reply);
    EXPECT_TRUE(eventually([&] { return link.peripheral->writesTo("A041").size() == 1; }));
    EXPECT_EQ(link.peripheral->writesTo("A041")[0].second, blec::encodeUInt32(300));
    EXPECT_EQ(link.connection->requestsInProcessCount(), 0u);
}

TEST(RequestQueue, RequestIdsWrapAndAFailedWriteUsesUpItsId) {
    FakeLink link(allCodes());
    Results results;
    link.connection->setNextRequestId(65535);
    link.peripheral->failWrites = true;
    link.connection->sendRequest(Bytes{1}, results.handler(1));
    ASSERT_TRUE(results.has(1)) << "a failed write fails the request at once";
    EXPECT_FALSE(results.get(1).has_value());
    EXPECT_EQ(link.connection->nextRequestId(), 0);
    EXPECT_EQ(link.connection->requestsInProcessCount(), 0u);

    link.peripheral->failWrites = false;
    link.connection->sendRequest(Bytes{2}, results.handler(2));
    const auto writes = link.peripheral->writesTo("A040");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(requestIdOf(writes[0].second), 0);
}

TEST(RequestQueue, DeliveredValueIsTakenModulo65536) {
    struct Case {
        uint32_t value;
        bool acknowledges;
    };
    const Case cases[] = {{5, true}, {65541, true}, {6, false}, {0x00050000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        FakeLink link(allCodes());
        Results results;
        link.connection->setNextRequestId(5);
        link.connection->sendRequest(Bytes{1}, results.handler(1));
        ASSERT_TRUE(link.connection->hasCurrentRequest());
        link.connection->handleDeliveredValue(blec::encodeUInt32(c.value));
        EXPECT_EQ(!link.connection->hasCurrentRequest(), c.acknowledges);
    }
}

TEST(RequestQueue, DroppingTheConnectionFailsCurrentWaitingAndWrittenRequests) {
    FakeLink link(allCodes());
    Results results;
    writeAcknowledged(link, results, 0, 1);                      // written, delivered
    link.connection->sendRequest(Bytes{1}, results.handler(1));  // current
    link.connection->sendRequest(Bytes{2}, results.handler(2));  // waiting
    link.connection->disconnect();
    for (int t = 0; t <= 2; ++t) {
        ASSERT_TRUE(results.has(t)) << t;
        EXPECT_FALSE(results.get(t).has_value());
    }
    EXPECT_EQ(link.central->cancelCount(), 1);
    EXPECT_EQ(link.connection->waitingRequestCount(), 0u);
    EXPECT_FALSE(link.connection->hasCurrentRequest());
}

TEST(RequestQueue, PhoneDisconnectingFailsItsRequestsAtOnce) {
    FakeLink link(allCodes());
    Results results;
    link.connection->sendRequest(Bytes{1}, results.handler(1));
    link.connection->sendRequest(Bytes{2}, results.handler(2));
    link.peripheral->setState(ble::PeripheralState::Disconnected);
    link.connection->centralManagerDidDisconnectPeripheral(*link.central, link.peripheral,
                                                           std::nullopt);
    EXPECT_TRUE(results.has(1));
    EXPECT_TRUE(results.has(2));
}

TEST(RequestQueue, WatchdogTimerTicksOnTheConnectionClock) {
    FakeLink link(allCodes());
    Results results;
    link.connection->sendRequest(Bytes(10, 1), results.handler(1));
    EXPECT_TRUE(link.connection->watchdogRunning());
    for (int i = 0; i < 30 && !results.has(1); ++i) {
        link.clock->advance(1.0);
        // The tick runs on the global queue and re-arms itself on the clock.
        eventually([&] { return results.has(1) || link.clock->pendingCalls() > 0; });
    }
    ASSERT_TRUE(results.has(1));
    EXPECT_FALSE(results.get(1).has_value());
    EXPECT_EQ(link.connection->requestTimeoutCount(), 1);
}

TEST(RequestQueue, RecordlessConnectionFailsRequestsInsteadOfKeepingThem) {
    FakeLink link(allCodes());
    Results results;
    link.record.reset();  // the phone client let go of the phone
    link.connection->sendRequest(Bytes{1}, results.handler(1));
    ASSERT_TRUE(results.has(1));
    EXPECT_FALSE(results.get(1).has_value());
}

TEST(RequestQueue, DropOfAConnectionThatIsAlreadyDownFailsItsRequests) {
    FakeLink link(allCodes());
    Results results;
    link.connection->sendRequest(Bytes{1}, results.handler(1));
    link.connection->sendRequest(Bytes{2}, results.handler(2));
    link.peripheral->setState(ble::PeripheralState::Disconnected);
    link.connection->disconnect();
    EXPECT_TRUE(results.has(1));
    EXPECT_TRUE(results.has(2));
    EXPECT_EQ(link.central->cancelCount(), 0) << "nothing to cancel";
}

TEST(RequestQueue, MessageThatCannotBeCutFailsInsteadOfCountingAsSent) {
    FakeLink link(allCodes());
    link.peripheral->maxWrite = 9;  // below the 10-byte first-chunk header
    Results results;
    link.connection->sendRequest(Bytes{1, 2, 3}, results.handler(1));
    ASSERT_TRUE(results.has(1));
    EXPECT_FALSE(results.get(1).has_value());
    EXPECT_TRUE(link.peripheral->writesTo("A040").empty());
    EXPECT_EQ(link.connection->requestsInProcessCount(), 0u);
}

// The timing marks of the road benchmark: each call's marks carry the tag of the thread
// that handed it over, in the order the call goes through the link; none without a hook.
std::mutex gMarksMutex;
std::vector<std::pair<timing::Mark, uint64_t>> gMarks;

void recordMark(timing::Mark mark, uint64_t tag, uint64_t, timing::Clock::time_point) {
    std::lock_guard<std::mutex> lock(gMarksMutex);
    gMarks.emplace_back(mark, tag);
}

TEST(RequestQueue, TimingMarksFollowACallThroughTheLinkOnlyWhenAsked) {
    using timing::Mark;
    FakeLink link(allCodes());
    Results results;
    // Off: nothing is marked and requests carry no tag.
    timing::currentTag() = 5;
    link.connection->sendRequest(Bytes{1}, results.handler(1));
    link.connection->handleReply(0, Bytes{4});
    ASSERT_TRUE(results.waitFor(1));

    timing::setHook(&recordMark);
    link.connection->sendRequest(Bytes{2}, results.handler(2));
    timing::currentTag() = 6;
    link.connection->sendRequest(Bytes{3}, results.handler(3));  // waits behind request 1
    timing::currentTag() = 0;
    link.connection->handleReply(1, Bytes{5});
    link.connection->handleReply(2, Bytes{6});
    ASSERT_TRUE(results.waitFor(3));
    timing::setHook(nullptr);
    std::lock_guard<std::mutex> lock(gMarksMutex);
    // Request 3 goes out as soon as request 2's reply frees the link, before that reply
    // is handed back.
    const std::vector<std::pair<Mark, uint64_t>> expected = {
        {Mark::LinkQueued, 5}, {Mark::LinkSplit, 5}, {Mark::LinkWritten, 5},
        {Mark::LinkQueued, 6}, {Mark::LinkSplit, 6}, {Mark::LinkWritten, 6},
        {Mark::LinkReply, 5},  {Mark::LinkReply, 6},
    };
    EXPECT_EQ(gMarks, expected);
}

}  // namespace
}  // namespace lumvane::linktest
