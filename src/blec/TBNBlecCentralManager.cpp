#include "blec/TBNBlecCentralManager.h"

#include <chrono>

#include "runtime/DispatchQueue.h"

namespace lumvane {

TBNBlecCentralManager::TBNBlecCentralManager(std::weak_ptr<ble::BleCentralDelegate> delegate,
                                             const std::string& queueLabel,
                                             ble::BleCentralFactory factory,
                                             std::shared_ptr<Clock> clock)
    : centralManagerQueue_(DispatchQueue::create(queueLabel, DispatchQueue::Kind::Concurrent,
                                                 DispatchQueue::Priority::Default,
                                                 std::move(clock))) {
    ble::BleCentralOptions options;
    options.showPowerAlert = false;
    centralManager_ =
        factory ? factory(std::move(delegate), centralManagerQueue_, options)
                : ble::createBleCentral(std::move(delegate), centralManagerQueue_, options);
}

std::shared_ptr<ble::BlePeripheral> TBNBlecCentralManager::periphealByBleId(
    const std::optional<std::string>& bleId) {
    if (!bleId) return nullptr;
    std::lock_guard<std::mutex> lock(peripherealsMutex_);
    // The central is always asked; the cache only keeps what it returned alive.
    auto found = centralManager_ ? centralManager_->retrievePeripherals({*bleId})
                                 : std::vector<std::shared_ptr<ble::BlePeripheral>>{};
    if (!found.empty() && found.front()) {
        peripheals_[*bleId] = found.front();
        return found.front();
    }
    peripheals_.erase(*bleId);
    return nullptr;
}

std::map<std::string, std::shared_ptr<ble::BlePeripheral>> TBNBlecCentralManager::peripheals()
    const {
    std::lock_guard<std::mutex> lock(peripherealsMutex_);
    return peripheals_;
}

std::string strState(int state) {
    if (state < 0 || state > 5) return ble::centralStateName(ble::CentralState::Unknown);
    return ble::centralStateName(static_cast<ble::CentralState>(state));
}

std::string strState(const ble::BleCentral& central) {
    return strState(static_cast<int>(central.state()));
}

std::string peripheralId(const ble::BlePeripheral& peripheral) {
    return peripheral.identifier();
}

void dispatch_repeat_after_interval(const std::shared_ptr<DispatchQueue>& queue,
                                    std::function<void(bool* stop)> block, double interval) {
    if (!queue || !block) return;
    const auto delay = std::chrono::duration_cast<Clock::Duration>(
        std::chrono::nanoseconds(static_cast<int64_t>(interval * 1000000000.0)));
    std::weak_ptr<DispatchQueue> weakQueue = queue;
    queue->after(delay, [weakQueue, block, interval] {
        bool stop = false;
        block(&stop);
        if (stop) return;
        if (auto q = weakQueue.lock()) dispatch_repeat_after_interval(q, block, interval);
    });
}

}  // namespace lumvane
