#pragma once
// The central manager wrapper of the phone link: one Bluetooth LE central with
// the concurrent queue its events arrive on, a cache that keeps looked-up
// peripherals alive while they are used, the small lookups the link needs on
// top of the central layer, and the repeating timer of the link's 1 s loops.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ble/BleCentral.h"
#include "runtime/Clock.h"

namespace lumvane {

class DispatchQueue;

class TBNBlecCentralManager {
  public:
    // Makes the concurrent queue `queueLabel` and a central on it whose events go
    // to `delegate` (held weakly). No power alert is asked for. An empty factory
    // takes the program's central (ble::createBleCentral). The queue's delayed
    // blocks (the 1 s loops) read `clock` (null: the steady clock).
    TBNBlecCentralManager(std::weak_ptr<ble::BleCentralDelegate> delegate,
                          const std::string& queueLabel, ble::BleCentralFactory factory = {},
                          std::shared_ptr<Clock> clock = nullptr);
    TBNBlecCentralManager(const TBNBlecCentralManager&) = delete;
    TBNBlecCentralManager& operator=(const TBNBlecCentralManager&) = delete;

    std::shared_ptr<ble::BleCentral> centralManager() const { return centralManager_; }
    std::shared_ptr<DispatchQueue> centralManagerQueue() const { return centralManagerQueue_; }

    // The peripheral the central knows under `bleId`, or null (also for no id).
    // A found one is kept in the cache; an unknown id is dropped from it.
    std::shared_ptr<ble::BlePeripheral> periphealByBleId(const std::optional<std::string>& bleId);

    // A copy of the cache (identifier -> peripheral).
    std::map<std::string, std::shared_ptr<ble::BlePeripheral>> peripheals() const;

  private:
    std::shared_ptr<DispatchQueue> centralManagerQueue_;
    std::shared_ptr<ble::BleCentral> centralManager_;
    mutable std::mutex peripherealsMutex_;
    std::map<std::string, std::shared_ptr<ble::BlePeripheral>> peripheals_;
};

// The central's state as text ("CBCentralManagerStatePoweredOn", ...); any value
// outside 0..5 gives "CBCentralManagerStateUnknown".
std::string strState(int state);
std::string strState(const ble::BleCentral& central);

// The identifier text the link names a phone's peripheral by.
std::string peripheralId(const ble::BlePeripheral& peripheral);

// Runs `block` on `queue` one `interval` (seconds) from now, and again one
// interval after each run ended, until the block sets its stop flag. Runs never
// overlap. There is no handle: the block decides.
void dispatch_repeat_after_interval(const std::shared_ptr<DispatchQueue>& queue,
                                    std::function<void(bool* stop)> block, double interval);

}  // namespace lumvane
