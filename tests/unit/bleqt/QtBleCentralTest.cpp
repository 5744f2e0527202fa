#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ble/qt/BleCentralSelect.h"
#include "platform/ble/qt/QtBleCentral.h"
#include "runtime/DispatchQueue.h"

namespace lumvane::ble {
namespace {

// Records state reports and the queue they arrived on.
class StateRecorder : public BleCentralDelegate {
  public:
    void centralManagerDidUpdateState(BleCentral& central) override {
        std::lock_guard<std::mutex> lock(mutex_);
        states_.push_back(central.state());
        labels_.push_back(DispatchQueue::currentLabel());
        cv_.notify_all();
    }

    // Real threads and D-Bus answer here, so the bound is generous real time.
    bool waitForReports(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return states_.size() >= n; });
    }
    std::vector<CentralState> states() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return states_;
    }
    std::vector<std::string> labels() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return labels_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<CentralState> states_;
    std::vector<std::string> labels_;
};

// Lets the event being delivered finish: it holds the central while it runs.
void drain(const std::shared_ptr<DispatchQueue>& queue) {
    queue->sync([] {});
}

// The last reference may be let go on the Qt thread a moment after the test's
// own (a Qt callback still holds it): wait, bounded, for the thread to stop.
bool qtThreadStops() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (qt::qtBleThreadRunning()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool machineHasAdapter() {
    std::error_code ec;
    std::filesystem::directory_iterator it("/sys/class/bluetooth", ec);
    return !ec && it != std::filesystem::directory_iterator();
}

TEST(QtBleCentral, StartsReportsItsStateOnItsQueueAndStopsCleanly) {
    // Twice: the Qt thread must come back after the last central stopped it.
    for (int round = 0; round < 2; ++round) {
        auto recorder = std::make_shared<StateRecorder>();
        auto queue = DispatchQueue::create("test.bleqt.central");
        auto central = qt::createQtBleCentral(recorder, queue);
        ASSERT_TRUE(central);
        EXPECT_TRUE(qt::qtBleThreadRunning());
        ASSERT_TRUE(recorder->waitForReports(1)) << "no state report, round " << round;
        const CentralState s = recorder->states().front();
        EXPECT_EQ(central->state(), s);
        EXPECT_EQ(recorder->labels().front(), "test.bleqt.central");
        if (!machineHasAdapter()) {
            EXPECT_EQ(s, CentralState::Unsupported);
        } else {
            EXPECT_NE(s, CentralState::Unknown);
        }
        if (s != CentralState::PoweredOn) {
            // Nothing to scan with: the request is ignored, not queued.
            central->scanForPeripherals({}, true);
            EXPECT_FALSE(central->isScanning());
            central->stopScan();
        }
        EXPECT_TRUE(central->retrievePeripherals({"00:11:22:33:44:55"}).empty());
        drain(queue);
        central.reset();
        EXPECT_TRUE(qtThreadStops());
    }
}

TEST(QtBleCentral, CentralsShareOneQtThreadUntilTheLastGoes) {
    auto recorder = std::make_shared<StateRecorder>();
    auto queue = DispatchQueue::create("test.bleqt.shared");
    auto first = qt::createQtBleCentral(recorder, queue);
    auto second = qt::createQtBleCentral(recorder, queue);
    ASSERT_TRUE(recorder->waitForReports(2));
    drain(queue);
    first.reset();
    EXPECT_TRUE(qt::qtBleThreadRunning());
    EXPECT_NE(second->state(), CentralState::Unknown);
    second.reset();
    EXPECT_TRUE(qtThreadStops());
}

TEST(QtBleCentral, DelegateGoneBeforeTheFirstReportIsHarmless) {
    auto queue = DispatchQueue::create("test.bleqt.gone");
    auto central = qt::createQtBleCentral(std::weak_ptr<BleCentralDelegate>(), queue);
    central.reset();
    EXPECT_TRUE(qtThreadStops());
}

TEST(BleCentralSelect, PicksTheBackEndOfTheValue) {
    auto queue = DispatchQueue::create("test.bleqt.select");
    for (const std::string spec : {"", "qt"}) {
        auto recorder = std::make_shared<StateRecorder>();
        auto central = makeBleCentral(spec, recorder, queue);
        ASSERT_TRUE(central) << spec;
        EXPECT_TRUE(qt::qtBleThreadRunning()) << spec;
        ASSERT_TRUE(recorder->waitForReports(1));
        drain(queue);
        central.reset();
        EXPECT_TRUE(qtThreadStops());
    }
    {
        // The simulated radio with no hub at the path: powered off, and no Qt.
        auto recorder = std::make_shared<StateRecorder>();
        auto central = makeBleCentral("sim:/nonexistent/lumvane-bleqt.sock", recorder, queue);
        ASSERT_TRUE(central);
        EXPECT_TRUE(qtThreadStops());
        ASSERT_TRUE(recorder->waitForReports(1));
        EXPECT_EQ(recorder->states().front(), CentralState::PoweredOff);
    }
    for (const std::string spec : {"sim:", "bluez", "QT", "sim", " qt"}) {
        EXPECT_FALSE(makeBleCentralFactory(spec).has_value()) << spec;
        EXPECT_EQ(makeBleCentral(spec, std::weak_ptr<BleCentralDelegate>(), queue), nullptr)
            << spec;
    }
}

}  // namespace
}  // namespace lumvane::ble
