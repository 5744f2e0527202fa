#include "power/FakeSleepWakeSource.h"

namespace lumvane {

void FakeSleepWakeSource::setHandlers(Handler willSleep, Handler didWake) {
    std::lock_guard<std::mutex> lock(mutex_);
    willSleep_ = std::move(willSleep);
    didWake_ = std::move(didWake);
}

bool FakeSleepWakeSource::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    listening_ = available_;
    return listening_;
}

void FakeSleepWakeSource::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    listening_ = false;
}

void FakeSleepWakeSource::setAvailable(bool available) {
    std::lock_guard<std::mutex> lock(mutex_);
    available_ = available;
}

bool FakeSleepWakeSource::listening() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return listening_;
}

bool FakeSleepWakeSource::sleep() {
    return fire(true);
}

bool FakeSleepWakeSource::wake() {
    return fire(false);
}

bool FakeSleepWakeSource::fire(bool sleeping) {
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!listening_) return false;
        handler = sleeping ? willSleep_ : didWake_;
    }
    if (handler) handler();
    return static_cast<bool>(handler);
}

}  // namespace lumvane
