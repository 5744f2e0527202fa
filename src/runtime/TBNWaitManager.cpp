#include "runtime/TBNWaitManager.h"

#include <cmath>

namespace lumvane {

struct TBNWaitManager::TBNWaiter {
    std::string name;
    std::any context;
    std::any response;
    bool isRelease = false;
    std::condition_variable cv;
};

TBNWaitManager& TBNWaitManager::sharedManager() {
    // Never destroyed: threads may still wait on it while the process exits.
    static auto* manager = new TBNWaitManager();
    return *manager;
}

TBNWaitManager::TBNWaitManager(std::shared_ptr<Clock> clock)
    : clock_(clock ? std::move(clock) : Clock::steady()) {}

TBNWaitManager::~TBNWaitManager() {
    std::unique_lock<std::mutex> lk(mutex_);
    for (auto& [name, waiter] : waiters_) {
        waiter->isRelease = true;
        waiter->cv.notify_all();
    }
    waiters_.clear();
    drained_.wait(lk, [&] { return activeWaits_ == 0; });
}

void TBNWaitManager::setClock(std::shared_ptr<Clock> clock) {
    std::lock_guard<std::mutex> g(mutex_);
    clock_ = clock ? std::move(clock) : Clock::steady();
}

std::shared_ptr<Clock> TBNWaitManager::clock() const {
    std::lock_guard<std::mutex> g(mutex_);
    return clock_;
}

std::any TBNWaitManager::waitWithName(const std::string& name, std::any context, double timeout) {
    std::unique_lock<std::mutex> lk(mutex_);
    const std::shared_ptr<Clock> clock = clock_;
    ++activeWaits_;
    auto& slot = waiters_[name];
    if (!slot) {
        slot = std::make_shared<TBNWaiter>();
        slot->name = name;
        slot->context = std::move(context);
    }
    const std::shared_ptr<TBNWaiter> waiter = slot;

    const bool timed = timeout > 0 && !std::isnan(timeout);
    const Clock::TimePoint deadline =
        timed ? clock->deadlineAfter(timeout) : Clock::TimePoint::max();
    clock->waitUntil(lk, waiter->cv, deadline, [&] { return waiter->isRelease; });

    if (!waiter->isRelease) {
        // Our time-out ends the waiter for everyone who joined it.
        waiter->isRelease = true;
        waiter->cv.notify_all();
    }
    auto it = waiters_.find(name);
    if (it != waiters_.end() && it->second == waiter) waiters_.erase(it);
    std::any response = waiter->response;
    if (--activeWaits_ == 0) drained_.notify_all();
    return response;
}

std::any TBNWaitManager::waitWithName(const std::string& name) {
    return waitWithName(name, std::any(), 0);
}

std::any TBNWaitManager::waitWithName(const std::string& name, std::any context) {
    return waitWithName(name, std::move(context), 0);
}

std::any TBNWaitManager::waitWithName(const std::string& name, double timeout) {
    return waitWithName(name, std::any(), timeout);
}

void TBNWaitManager::releaseForName(const std::string& name, std::any response) {
    std::lock_guard<std::mutex> g(mutex_);
    auto it = waiters_.find(name);
    if (it == waiters_.end()) return;
    const auto waiter = it->second;
    waiters_.erase(it);
    waiter->response = std::move(response);
    waiter->isRelease = true;
    waiter->cv.notify_all();
}

void TBNWaitManager::releaseForName(const std::string& name) {
    releaseForName(name, std::any());
}

std::any TBNWaitManager::contextForName(const std::string& name) const {
    std::lock_guard<std::mutex> g(mutex_);
    auto it = waiters_.find(name);
    return it == waiters_.end() ? std::any() : it->second->context;
}

bool TBNWaitManager::waitedWithName(const std::string& name) const {
    std::lock_guard<std::mutex> g(mutex_);
    return waiters_.count(name) != 0;
}

}  // namespace lumvane
