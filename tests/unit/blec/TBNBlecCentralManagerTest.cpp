// The central manager wrapper, its lookups, the repeating timer and the
// Bluetooth check with its latched first state report.
#include <gtest/gtest.h>

#include <future>

#include "SimTestSupport.h"
#include "blec/BLECLog.h"
#include "blec/TBNBLEChecker.h"
#include "blec/TBNBlecCentralManager.h"
#include "platform/ble/SimBleAir.h"
#include "platform/ble/SimBleCentral.h"
#include "platform/ble/SimBlePeripheral.h"
#include "runtime/Clock.h"

namespace lumvane {
namespace {

using namespace ble;

// A central whose state the test sets and reports when it wants.
class FakeCentral : public BleCentral {
  public:
    FakeCentral(std::weak_ptr<BleCentralDelegate> d, std::shared_ptr<DispatchQueue> q,
                CentralState s)
        : BleCentral(std::move(d), std::move(q)), state_(s) {}

    // Reports on the calling thread, at once.
    void reportNow() {
        if (auto d = delegate()) d->centralManagerDidUpdateState(*this);
    }
    void setStateValue(CentralState s) { state_ = s; }
    void setAuthorizationValue(CentralAuthorization a) { authorization_ = a; }

    CentralState state() const override { return state_; }
    CentralAuthorization authorization() const override { return authorization_; }
    void scanForPeripherals(const std::vector<std::string>&, bool) override {}
    void stopScan() override {}
    bool isScanning() const override { return false; }
    void connect(const std::shared_ptr<BlePeripheral>&, bool) override {}
    void cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>&) override {}
    std::vector<std::shared_ptr<BlePeripheral>> retrievePeripherals(
        const std::vector<std::string>&) override {
        return {};
    }

  private:
    std::atomic<CentralState> state_;
    std::atomic<CentralAuthorization> authorization_{CentralAuthorization::NotDetermined};
};

class QuietLog {
  public:
    QuietLog() {
        old_ = blec::setLogSink([this](blec::LogLevel, std::string_view, std::string_view text) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.emplace_back(text);
        });
    }
    ~QuietLog() { blec::setLogSink(old_); }
    std::mutex mutex;
    std::vector<std::string> lines;

  private:
    blec::LogSink old_;
};

TEST(TBNStrState, NamesEveryStateAndUnknownOutside) {
    const std::pair<int, const char*> table[] = {
        {0, "CBCentralManagerStateUnknown"},     {1, "CBCentralManagerStateResetting"},
        {2, "CBCentralManagerStateUnsupported"}, {3, "CBCentralManagerStateUnauthorized"},
        {4, "CBCentralManagerStatePoweredOff"},  {5, "CBCentralManagerStatePoweredOn"},
        {6, "CBCentralManagerStateUnknown"},     {-1, "CBCentralManagerStateUnknown"},
        {1000, "CBCentralManagerStateUnknown"}};
    for (const auto& [value, text] : table) EXPECT_EQ(strState(value), text) << value;
}

TEST(TBNBlecCentralManager, LooksPeripheralsUpThroughTheCentralAndCachesThem) {
    const std::string path = blectest::tempSocketPath("wrapper");
    ble::sim::SimBleAir air(path);
    ASSERT_TRUE(air.start());
    auto phoneDelegate = std::make_shared<ble::sim::SimPeripheralDelegate>();
    auto phone = ble::sim::SimBlePeripheralDevice::create(
        {path, "5A:00:00:00:00:07", "Phone", ble::sim::kDefaultMtu}, phoneDelegate);
    ASSERT_TRUE(phone->open());
    AdvertisementData adv;
    adv.isConnectable = true;
    ASSERT_TRUE(phone->startAdvertising(adv));

    auto recorder = std::make_shared<blectest::Recorder>("com.tobrin.ios.centralManagerQueue");
    auto factory = *bleCentralFactoryForSpec("sim:" + path);
    TBNBlecCentralManager wrapper(recorder, "com.tobrin.ios.centralManagerQueue", factory);
    EXPECT_EQ(wrapper.centralManagerQueue()->label(), "com.tobrin.ios.centralManagerQueue");
    EXPECT_EQ(wrapper.centralManagerQueue()->kind(), DispatchQueue::Kind::Concurrent);
    ASSERT_TRUE(recorder->events.waitFor("state CBCentralManagerStatePoweredOn"));
    EXPECT_EQ(strState(*wrapper.centralManager()), "CBCentralManagerStatePoweredOn");

    EXPECT_FALSE(wrapper.periphealByBleId(std::nullopt));
    EXPECT_FALSE(wrapper.periphealByBleId("5A:00:00:00:00:07")) << "not seen yet";
    EXPECT_TRUE(wrapper.peripheals().empty());

    wrapper.centralManager()->scanForPeripherals({}, false);
    ASSERT_TRUE(recorder->events.waitFor("discover 5A:00:00:00:00:07"));
    auto p = wrapper.periphealByBleId("5A:00:00:00:00:07");
    ASSERT_TRUE(p);
    EXPECT_EQ(peripheralId(*p), "5A:00:00:00:00:07");
    EXPECT_EQ(wrapper.peripheals().count("5A:00:00:00:00:07"), 1u);
    EXPECT_FALSE(wrapper.periphealByBleId("5A:00:00:00:00:08"));
    EXPECT_EQ(wrapper.peripheals().size(), 1u);
}

TEST(TBNBlecCentralManager, UnknownIdentifierDropsItsCacheEntry) {
    // A central that knew a peripheral once and forgot it.
    class Forgetful : public FakeCentral {
      public:
        using FakeCentral::FakeCentral;
        std::shared_ptr<BlePeripheral> known;
        std::vector<std::shared_ptr<BlePeripheral>> retrievePeripherals(
            const std::vector<std::string>&) override {
            if (known) return {known};
            return {};
        }
    };
    class Plain : public BlePeripheral {
      public:
        using BlePeripheral::BlePeripheral;
        void discoverServices(const std::vector<std::string>&) override {}
        void discoverCharacteristics(const std::vector<std::string>&,
                                     const std::shared_ptr<BleService>&) override {}
        void readValue(const std::shared_ptr<BleCharacteristic>&) override {}
        bool writeValue(const Bytes&, const std::shared_ptr<BleCharacteristic>&,
                        WriteType) override {
            return false;
        }
        void setNotifyValue(bool, const std::shared_ptr<BleCharacteristic>&) override {}
        size_t maximumWriteValueLength(WriteType) const override { return 20; }
    };
    std::shared_ptr<Forgetful> central;
    BleCentralFactory factory = [&](std::weak_ptr<BleCentralDelegate> d,
                                    std::shared_ptr<DispatchQueue> q, const BleCentralOptions&) {
        central = std::make_shared<Forgetful>(d, q, CentralState::PoweredOn);
        return central;
    };
    auto delegate = std::make_shared<BleCentralDelegate>();
    TBNBlecCentralManager wrapper(delegate, "test.forget", factory);
    central->known = std::make_shared<Plain>("AA");
    EXPECT_TRUE(wrapper.periphealByBleId("AA"));
    EXPECT_EQ(wrapper.peripheals().size(), 1u);
    central->known.reset();
    EXPECT_FALSE(wrapper.periphealByBleId("AA"));
    EXPECT_TRUE(wrapper.peripheals().empty());
}

TEST(DispatchRepeatAfterInterval, FirstRunOneIntervalLaterAndStopsWhenAsked) {
    auto clock = std::make_shared<ManualClock>();
    auto queue = DispatchQueue::create("test.repeat", DispatchQueue::Kind::Serial,
                                       DispatchQueue::Priority::Default, clock);
    std::mutex m;
    std::condition_variable cv;
    int runs = 0;
    int stopAt = 3;
    dispatch_repeat_after_interval(
        queue,
        [&](bool* stop) {
            std::lock_guard<std::mutex> lock(m);
            ++runs;
            if (runs == stopAt) *stop = true;
            cv.notify_all();
        },
        1.0);
    auto waitRuns = [&](int n) {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, std::chrono::seconds(10), [&] { return runs >= n; });
    };
    clock->advance(0.999);
    queue->sync([] {});
    {
        std::lock_guard<std::mutex> lock(m);
        EXPECT_EQ(runs, 0) << "no run before one interval";
    }
    for (int n = 1; n <= 3; ++n) {
        // Each run schedules the next one only after it ended.
        clock->advance(n == 1 ? 0.001 : 1.0);
        ASSERT_TRUE(waitRuns(n));
        queue->sync([] {});
    }
    clock->advance(10.0);
    queue->sync([] {});
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(clock->pendingCalls(), 0u);
}

TEST(DispatchRepeatAfterInterval, BlockThatStopsAtOnceRunsExactlyOnce) {
    auto clock = std::make_shared<ManualClock>();
    auto queue = DispatchQueue::create("test.once", DispatchQueue::Kind::Serial,
                                       DispatchQueue::Priority::Default, clock);
    std::atomic<int> runs{0};
    dispatch_repeat_after_interval(
        queue, [&](bool* stop) { ++runs, *stop = true; }, 0.5);
    clock->advance(0.5);
    queue->sync([] {});
    clock->advance(5.0);
    queue->sync([] {});
    EXPECT_EQ(runs, 1);
}

// --- the Bluetooth check ----------------------------------------------------

struct CheckCase {
    CentralState state;
    bool answer;
};

class BluetoothCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(BluetoothCheck, AReportThatCameBeforeTheWaitIsStillSeen) {
    QuietLog quiet;
    auto clock = std::make_shared<ManualClock>();
    const CheckCase tc = GetParam();
    // The central reports while it is being made, before the check waits.
    BleCentralFactory factory = [&](std::weak_ptr<BleCentralDelegate> d,
                                    std::shared_ptr<DispatchQueue> q, const BleCentralOptions&) {
        auto c = std::make_shared<FakeCentral>(d, q, tc.state);
        c->reportNow();
        return c;
    };
    auto checker = TBNBLEChecker::create(clock, factory);
    // Time stands still: only a latched answer lets this return.
    auto answer =
        std::async(std::launch::async, [&] { return checker->canSupportBluetoothLowEnergy(); });
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the check waited for a report that had already come";
    EXPECT_EQ(answer.get(), tc.answer);
    EXPECT_TRUE(checker->manager());
}

INSTANTIATE_TEST_SUITE_P(States, BluetoothCheck,
                         ::testing::Values(CheckCase{CentralState::Unknown, true},
                                           CheckCase{CentralState::Resetting, true},
                                           CheckCase{CentralState::Unsupported, false},
                                           CheckCase{CentralState::Unauthorized, false},
                                           CheckCase{CentralState::PoweredOff, true},
                                           CheckCase{CentralState::PoweredOn, true}),
                         [](const auto& info) {
                             return std::to_string(static_cast<int>(info.param.state));
                         });

TEST(BluetoothCheckWait, ReportDuringTheWaitAnswersAndLaterReportsChangeNothing) {
    QuietLog quiet;
    auto clock = std::make_shared<ManualClock>();
    std::shared_ptr<FakeCentral> central;
    BleCentralFactory factory = [&](std::weak_ptr<BleCentralDelegate> d,
                                    std::shared_ptr<DispatchQueue> q, const BleCentralOptions&) {
        central = std::make_shared<FakeCentral>(d, q, CentralState::Unknown);
        return central;
    };
    auto checker = TBNBLEChecker::create(clock, factory);
    auto answer =
        std::async(std::launch::async, [&] { return checker->canSupportBluetoothLowEnergy(); });
    ASSERT_TRUE(clock->waitForSleepers(1));
    central->setStateValue(CentralState::Unsupported);
    central->reportNow();
    central->setStateValue(CentralState::PoweredOn);
    central->reportNow();
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(answer.get());
    std::lock_guard<std::mutex> lock(quiet.mutex);
    EXPECT_EQ(quiet.lines.front(), "bluetooth.state = unsupported");
}

// Only the unauthorized state says, in a second line, what the system allows.
TEST(BluetoothCheckLog, UnauthorizedStateAlsoLogsTheAuthorization) {
    struct Case {
        CentralState state;
        CentralAuthorization authorization;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {CentralState::Unauthorized,
         CentralAuthorization::NotDetermined,
         {"bluetooth.state = unauthorized", "bluetooth.authorization = not determined"}},
        {CentralState::Unauthorized,
         CentralAuthorization::Restricted,
         {"bluetooth.state = unauthorized", "bluetooth.authorization = restricted"}},
        {CentralState::Unauthorized,
         CentralAuthorization::Denied,
         {"bluetooth.state = unauthorized", "bluetooth.authorization = denied"}},
        {CentralState::Unauthorized,
         CentralAuthorization::AllowedAlways,
         {"bluetooth.state = unauthorized", "bluetooth.authorization = allowed always"}},
        {CentralState::PoweredOn, CentralAuthorization::Denied, {"bluetooth.state = powered on"}},
        {CentralState::Unsupported,
         CentralAuthorization::Restricted,
         {"bluetooth.state = unsupported"}},
    };
    for (const auto& c : cases) {
        QuietLog quiet;
        BleCentralFactory factory = [&](std::weak_ptr<BleCentralDelegate> d,
                                        std::shared_ptr<DispatchQueue> q,
                                        const BleCentralOptions&) {
            auto central = std::make_shared<FakeCentral>(d, q, c.state);
            central->setAuthorizationValue(c.authorization);
            central->reportNow();
            return central;
        };
        auto checker = TBNBLEChecker::create(std::make_shared<ManualClock>(), factory);
        EXPECT_EQ(checker->canSupportBluetoothLowEnergy(), c.state == CentralState::PoweredOn);
        std::lock_guard<std::mutex> lock(quiet.mutex);
        EXPECT_EQ(quiet.lines, c.lines)
            << static_cast<int>(c.state) << " " << static_cast<int>(c.authorization);
    }
}

TEST(BluetoothCheckWait, NoReportWithin2000SecondsMeansNo) {
    QuietLog quiet;
    auto clock = std::make_shared<ManualClock>();
    BleCentralFactory factory = [&](std::weak_ptr<BleCentralDelegate> d,
                                    std::shared_ptr<DispatchQueue> q, const BleCentralOptions&) {
        return std::make_shared<FakeCentral>(d, q, CentralState::PoweredOn);
    };
    auto checker = TBNBLEChecker::create(clock, factory);
    auto answer =
        std::async(std::launch::async, [&] { return checker->canSupportBluetoothLowEnergy(); });
    ASSERT_TRUE(clock->waitForSleepers(1));
    clock->advance(1999.0);
    EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    clock->advance(1.0);
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(answer.get());
}

TEST(BluetoothCheckWait, WithoutABluetoothBackendTheAnswerIsNo) {
    QuietLog quiet;
    setDefaultBleCentralFactory({});
    auto checker = TBNBLEChecker::create();
    EXPECT_FALSE(checker->canSupportBluetoothLowEnergy());
}

}  // namespace
}  // namespace lumvane
