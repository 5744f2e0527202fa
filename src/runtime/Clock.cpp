#include "runtime/Clock.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace lumvane {

namespace {

// Pending callAt() functions ordered by deadline, then by id (registration order).
class CallTable {
  public:
    Clock::CallId add(Clock::TimePoint deadline, std::function<void()> fn) {
        const Clock::CallId id = ++lastId_;
        calls_.emplace(std::make_pair(deadline, id), std::move(fn));
        deadlines_.emplace(id, deadline);
        return id;
    }
    // Moves the call out so that the caller destroys it outside its lock.
    bool remove(Clock::CallId id, std::function<void()>& removed) {
        auto it = deadlines_.find(id);
        if (it == deadlines_.end()) return false;
        auto call = calls_.find(std::make_pair(it->second, id));
        removed = std::move(call->second);
        calls_.erase(call);
        deadlines_.erase(it);
        return true;
    }
    // Moves every call out (for the caller to destroy outside its lock); ids go on.
    void clearInto(std::vector<std::function<void()>>& out) {
        for (auto& [key, fn] : calls_) out.push_back(std::move(fn));
        calls_.clear();
        deadlines_.clear();
    }
    bool empty() const { return calls_.empty(); }
    size_t size() const { return calls_.size(); }
    Clock::TimePoint earliest() const { return calls_.begin()->first.first; }
    // Takes the earliest call when it is due at `now`.
    bool takeDue(Clock::TimePoint now, std::function<void()>& out) {
        if (calls_.empty() || calls_.begin()->first.first > now) return false;
        auto first = calls_.begin();
        out = std::move(first->second);
        deadlines_.erase(first->first.second);
        calls_.erase(first);
        return true;
    }

  private:
    Clock::CallId lastId_ = 0;
    std::map<std::pair<Clock::TimePoint, Clock::CallId>, std::function<void()>> calls_;
    std::unordered_map<Clock::CallId, Clock::TimePoint> deadlines_;
};

class SteadyClock final : public Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }

    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   TimePoint deadline, const std::function<bool()>& pred) override {
        if (deadline == TimePoint::max()) {
            cv.wait(lock, pred);
            return true;
        }
        // libstdc++ waits on CLOCK_MONOTONIC for steady_clock deadlines.
        return cv.wait_until(lock, deadline, pred);
    }

    CallId callAt(TimePoint deadline, std::function<void()> fn) override {
        std::lock_guard<std::mutex> g(mutex_);
        if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
        const CallId id = calls_.add(deadline, std::move(fn));
        // Only a deadline before the thread's own wake-up needs a call: a call armed and
        // cancelled per request (a notice's time-out) costs the thread nothing then.
        if (deadline < wakeAt_) cv_.notify_all();
        return id;
    }

    bool cancel(CallId id) override {
        std::function<void()> removed;
        std::lock_guard<std::mutex> g(mutex_);
        return calls_.remove(id, removed);
    }

  private:
    // The process-wide clock is never destroyed, so its thread runs for the process.
    [[noreturn]] void loop() {
        std::unique_lock<std::mutex> lk(mutex_);
        for (;;) {
            std::function<void()> fn;
            if (calls_.takeDue(now(), fn)) {
                lk.unlock();
                fn();
                fn = nullptr;
                lk.lock();
                continue;
            }
            wakeAt_ = calls_.empty() ? TimePoint::max() : calls_.earliest();
            if (wakeAt_ == TimePoint::max()) {
                cv_.wait(lk);
            } else {
                cv_.wait_until(lk, wakeAt_);
            }
            wakeAt_ = TimePoint::min();  // awake: it looks at the table before it sleeps
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    CallTable calls_;
    // When the thread wakes by itself; min() while it is awake, max() before it starts
    // (the first call starts it) and while it waits without a deadline.
    TimePoint wakeAt_ = TimePoint::max();
    std::thread thread_;
};

}  // namespace

void Clock::sleepUntil(TimePoint deadline) {
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock<std::mutex> lk(m);
    waitUntil(lk, cv, deadline, [] { return false; });
}

std::shared_ptr<Clock> Clock::steady() {
    // Leaked on purpose: its scheduler thread may run until the process ends.
    static auto* clock = new std::shared_ptr<Clock>(new SteadyClock);
    return *clock;
}

namespace {
constexpr double kCentury = 100.0 * 365.25 * 86400.0;
}

Clock::Duration Clock::seconds(double s) {
    if (std::isnan(s) || s <= 0) return Duration::zero();
    if (s > kCentury) return Duration::max();
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

Clock::TimePoint Clock::deadlineAfter(double s) const {
    if (std::isnan(s) || s > kCentury) return TimePoint::max();
    return deadlineAfter(seconds(s));
}

Clock::TimePoint Clock::deadlineAfter(Duration d) const {
    const TimePoint t = now();
    if (d <= Duration::zero()) return t;
    if (d >= TimePoint::max() - t) return TimePoint::max();
    return t + d;
}

// ---------------------------------------------------------------------------------------

struct ManualClock::Impl {
    struct Sleeper {
        std::mutex* mutex;
        std::condition_variable* cv;
    };

    // Starts a day after the clock's epoch so that callers may subtract intervals.
    std::atomic<Clock::Duration::rep> now{
        std::chrono::duration_cast<Clock::Duration>(std::chrono::hours(24)).count()};

    // Guards the sleeper list and the call table; never held while a sleeper's mutex is.
    mutable std::mutex mutex;
    std::condition_variable sleepersChanged;
    std::vector<Sleeper*> sleepers;
    CallTable calls;

    // Held by advance() while it notifies sleepers and by a sleeper while it leaves the
    // list, so a sleeper's mutex and condition stay alive while they are notified.
    std::mutex notifyMutex;
};

ManualClock::ManualClock() : impl_(std::make_unique<Impl>()) {}
ManualClock::~ManualClock() = default;

Clock::TimePoint ManualClock::now() const {
    return TimePoint(Duration(impl_->now.load()));
}

bool ManualClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                            TimePoint deadline, const std::function<bool()>& pred) {
    if (pred()) return true;
    if (deadline == TimePoint::max()) {
        cv.wait(lock, pred);
        return true;
    }
    if (now() >= deadline) return false;

    Impl::Sleeper self{lock.mutex(), &cv};
    lock.unlock();
    {
        std::lock_guard<std::mutex> g(impl_->mutex);
        impl_->sleepers.push_back(&self);
        impl_->sleepersChanged.notify_all();
    }
    lock.lock();
    // advance() stores the new time before it takes our mutex to notify, so a deadline
    // that passes between the test and the wait still wakes us.
    while (!pred() && now() < deadline) cv.wait(lock);
    lock.unlock();
    {
        std::lock_guard<std::mutex> n(impl_->notifyMutex);
        std::lock_guard<std::mutex> g(impl_->mutex);
        auto& list = impl_->sleepers;
        list.erase(std::find(list.begin(), list.end(), &self));
        impl_->sleepersChanged.notify_all();
    }
    lock.lock();
    return pred();
}

Clock::CallId ManualClock::callAt(TimePoint deadline, std::function<void()> fn) {
    std::lock_guard<std::mutex> g(impl_->mutex);
    return impl_->calls.add(deadline, std::move(fn));
}

bool ManualClock::cancel(CallId id) {
    std::function<void()> removed;
    std::lock_guard<std::mutex> g(impl_->mutex);
    return impl_->calls.remove(id, removed);
}

void ManualClock::advance(Duration d) {
    if (d < Duration::zero()) d = Duration::zero();
    advanceTo(now() + d);
}

void ManualClock::advanceTo(TimePoint t) {
    {
        std::lock_guard<std::mutex> n(impl_->notifyMutex);
        std::vector<Impl::Sleeper*> sleepers;
        {
            std::lock_guard<std::mutex> g(impl_->mutex);
            if (t > now()) impl_->now.store(t.time_since_epoch().count());
            sleepers = impl_->sleepers;
        }
        for (Impl::Sleeper* s : sleepers) {
            std::lock_guard<std::mutex> g(*s->mutex);
            s->cv->notify_all();
        }
    }
    // Due calls run here, outside every lock; a call that schedules another one that is
    // already due runs in this advance too.
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> g(impl_->mutex);
            if (!impl_->calls.takeDue(now(), fn)) break;
        }
        fn();
    }
}

size_t ManualClock::sleepers() const {
    std::lock_guard<std::mutex> g(impl_->mutex);
    return impl_->sleepers.size();
}

bool ManualClock::waitForSleepers(size_t n, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lk(impl_->mutex);
    return impl_->sleepersChanged.wait_for(lk, limit, [&] { return impl_->sleepers.size() >= n; });
}

void ManualClock::cancelAll() {
    std::vector<std::function<void()>> dropped;
    std::lock_guard<std::mutex> g(impl_->mutex);
    impl_->calls.clearInto(dropped);
}

size_t ManualClock::pendingCalls() const {
    std::lock_guard<std::mutex> g(impl_->mutex);
    return impl_->calls.size();
}

}  // namespace lumvane
