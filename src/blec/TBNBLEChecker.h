#pragma once
// One-shot check whether this machine can use Bluetooth LE at all: a central is
// made and its first state report answers. Unsupported and unauthorized mean no;
// every other state (also powered off) means yes; no report within 2000 s means no.
//
// The first report is latched: a check whose wait begins after the report came
// still sees it (the report does not need to find a waiter).
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/ble/BleCentral.h"

namespace lumvane {

class Clock;
class DispatchQueue;

class TBNBLEChecker : public ble::BleCentralDelegate,
                      public std::enable_shared_from_this<TBNBLEChecker> {
  public:
    static constexpr double kTimeout = 2000.0;
    static constexpr const char* kWaitName = "canSupportBluetoothLowEnergy";

    // Null clock: Clock::steady(); empty factory: the program's central; null
    // queue: a private serial queue for the central's events.
    static std::shared_ptr<TBNBLEChecker> create(std::shared_ptr<Clock> clock = nullptr,
                                                 ble::BleCentralFactory factory = {},
                                                 std::shared_ptr<DispatchQueue> queue = nullptr);

    // Blocks the caller until the first state report or the time-out. Call it off
    // the thread that delivers the central's events.
    bool canSupportBluetoothLowEnergy();

    void centralManagerDidUpdateState(ble::BleCentral& central) override;

    std::shared_ptr<ble::BleCentral> manager() const;

    // The answer a state gives.
    static bool answerForState(ble::CentralState state);

  private:
    TBNBLEChecker(std::shared_ptr<Clock> clock, ble::BleCentralFactory factory,
                  std::shared_ptr<DispatchQueue> queue);

    const std::shared_ptr<Clock> clock_;
    const ble::BleCentralFactory factory_;
    const std::shared_ptr<DispatchQueue> queue_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::shared_ptr<ble::BleCentral> manager_;
    bool creating_ = false;
    std::optional<bool> answer_;
};

}  // namespace lumvane
