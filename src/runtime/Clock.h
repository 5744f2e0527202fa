#pragma once
// The monotonic time source behind every time-out of the program (waits, watchdogs,
// timers, delayed queue blocks). Production code uses Clock::steady(); tests hand a
// ManualClock around and move time with advance(), so nothing depends on real sleeps.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace lumvane {

class Clock {
  public:
    using Duration = std::chrono::steady_clock::duration;
    using TimePoint = std::chrono::steady_clock::time_point;
    using CallId = uint64_t;

    virtual ~Clock() = default;

    virtual TimePoint now() const = 0;

    // Blocks on `cv` until `pred()` holds or `deadline` has passed on this clock.
    // `lock` holds the mutex that guards what `pred` reads; whoever changes that state
    // notifies `cv` under the same mutex. Returns pred() with the lock held, like
    // std::condition_variable::wait_until. TimePoint::max() means no deadline.
    virtual bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                           TimePoint deadline, const std::function<bool()>& pred) = 0;

    // Runs `fn` once when `deadline` has come: on the clock's own thread for the real
    // clock, inside advance() for a manual one. `fn` must be short and must not block
    // (it usually hands work to a queue or loop). Returns an id for cancel().
    virtual CallId callAt(TimePoint deadline, std::function<void()> fn) = 0;

    // Drops a pending call; true when it was still pending (it will not run).
    virtual bool cancel(CallId id) = 0;

    // Sleeps the calling thread until the deadline on this clock.
    void sleepUntil(TimePoint deadline);

    // The process-wide real monotonic clock.
    static std::shared_ptr<Clock> steady();

    // Seconds as a duration: NaN and values <= 0 give zero, values beyond a century
    // give Duration::max() (which deadlineAfter() turns into "no deadline").
    static Duration seconds(double s);

    // now() + s seconds, saturating at TimePoint::max() for values beyond a century
    // or not a number, so that no overflow turns a long time-out into a short one.
    TimePoint deadlineAfter(double s) const;
    TimePoint deadlineAfter(Duration d) const;
};

// A clock that stands still until a test moves it. advance() wakes every sleeper whose
// deadline has passed and runs the due callAt() functions on the calling thread, in
// deadline order (and in order of registration for equal deadlines).
class ManualClock : public Clock {
  public:
    ManualClock();
    ~ManualClock() override;

    TimePoint now() const override;
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   TimePoint deadline, const std::function<bool()>& pred) override;
    CallId callAt(TimePoint deadline, std::function<void()> fn) override;
    bool cancel(CallId id) override;

    void advance(Duration d);
    void advance(double seconds) { advance(Clock::seconds(seconds)); }
    void advanceTo(TimePoint t);

    // How many threads are blocked in waitUntil() with a deadline right now; lets a
    // test know that a waiter has started before it moves time.
    size_t sleepers() const;
    // Blocks (on real time) until at least n threads sleep in waitUntil(); false when
    // that did not happen within `limit`.
    bool waitForSleepers(size_t n, std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Number of callAt() functions still pending.
    size_t pendingCalls() const;
    // Drops every pending call (a test's teardown: pending calls may hold their owners).
    void cancelAll();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumvane
