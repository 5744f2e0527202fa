#include "blec/TBNBLEChecker.h"

#include "blec/BLECLog.h"
#include "runtime/Clock.h"
#include "runtime/DispatchQueue.h"

namespace lumvane {

std::shared_ptr<TBNBLEChecker> TBNBLEChecker::create(std::shared_ptr<Clock> clock,
                                                     ble::BleCentralFactory factory,
                                                     std::shared_ptr<DispatchQueue> queue) {
    return std::shared_ptr<TBNBLEChecker>(
        new TBNBLEChecker(std::move(clock), std::move(factory), std::move(queue)));
}

TBNBLEChecker::TBNBLEChecker(std::shared_ptr<Clock> clock, ble::BleCentralFactory factory,
                             std::shared_ptr<DispatchQueue> queue)
    : clock_(clock ? std::move(clock) : Clock::steady()),
      factory_(std::move(factory)),
      queue_(queue ? std::move(queue) : DispatchQueue::create("com.tobrin.lumvane.blechecker")) {}

bool TBNBLEChecker::answerForState(ble::CentralState state) {
    return state != ble::CentralState::Unsupported && state != ble::CentralState::Unauthorized;
}

bool TBNBLEChecker::canSupportBluetoothLowEnergy() {
    bool create = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        create = !creating_;
        creating_ = true;
    }
    if (create) {
        // Made outside the lock: a central may report while it is being made.
        ble::BleCentralOptions options;
        options.showPowerAlert = false;
        std::weak_ptr<ble::BleCentralDelegate> self = shared_from_this();
        auto central = factory_ ? factory_(self, queue_, options)
                                : ble::createBleCentral(self, queue_, options);
        std::lock_guard<std::mutex> lock(mutex_);
        manager_ = std::move(central);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    const auto deadline = clock_->deadlineAfter(kTimeout);
    clock_->waitUntil(lock, cv_, deadline, [this] { return answer_.has_value(); });
    return answer_.value_or(false);
}

void TBNBLEChecker::centralManagerDidUpdateState(ble::BleCentral& central) {
    const ble::CentralState state = central.state();
    const char* text = "bluetooth.state = unknown";
    switch (state) {
        case ble::CentralState::Resetting:
            text = "bluetooth.state = resetting";
            break;
        case ble::CentralState::Unsupported:
            text = "bluetooth.state = unsupported";
            break;
        case ble::CentralState::Unauthorized:
            text = "bluetooth.state = unauthorized";
            break;
        case ble::CentralState::PoweredOff:
            text = "bluetooth.state = powered off";
            break;
        case ble::CentralState::PoweredOn:
            text = "bluetooth.state = powered on";
            break;
        default:
            break;
    }
    blec::log(blec::LogLevel::Info, "", text);
    if (state == ble::CentralState::Unauthorized) {
        // Says why the application may not use Bluetooth.
        const char* authorization = "bluetooth.authorization = not determined";
        switch (central.authorization()) {
            case ble::CentralAuthorization::Restricted:
                authorization = "bluetooth.authorization = restricted";
                break;
            case ble::CentralAuthorization::Denied:
                authorization = "bluetooth.authorization = denied";
                break;
            case ble::CentralAuthorization::AllowedAlways:
                authorization = "bluetooth.authorization = allowed always";
                break;
            default:
                break;
        }
        blec::log(blec::LogLevel::Info, "", authorization);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Only the first report answers; later ones change nothing.
        if (answer_) return;
        answer_ = answerForState(state);
    }
    cv_.notify_all();
}

std::shared_ptr<ble::BleCentral> TBNBLEChecker::manager() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return manager_;
}

}  // namespace lumvane
