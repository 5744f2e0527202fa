#pragma once
// A repeating timer: runs its callback after `interval` seconds, and again after each
// run whose callback returns true. The pause is measured on the main loop (and its
// Clock); the callback runs on the main thread, or synchronously on the given queue
// while the main thread waits for it. The next pause starts when the callback returned,
// so the callback never runs twice at a time. run(), reset(), resetWithInterval() and
// cancel() may be called from any thread.
//
// Own a timer through the shared_ptr the factories return; an armed pause keeps the
// timer alive until it ends or is cancelled. The loop is not kept alive by its timers.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "runtime/DispatchQueue.h"
#include "runtime/MainLoop.h"

namespace lumvane {

class TBNTimer : public std::enable_shared_from_this<TBNTimer> {
  public:
    using Block = std::function<bool()>;
    // Called with the context, or null once the context object is gone.
    using BlockWithContext = std::function<bool(const std::shared_ptr<void>&)>;

    // New stopped timers. A null queue (or the main queue) runs the callback on the main
    // thread; a null loop means MainLoop::main(). A null callback is refused.
    static std::shared_ptr<TBNTimer> timerWithInterval(double interval, Block block,
                                                       std::shared_ptr<MainLoop> loop = nullptr);
    static std::shared_ptr<TBNTimer> timerWithInterval(double interval, std::weak_ptr<void> context,
                                                       BlockWithContext block,
                                                       std::shared_ptr<MainLoop> loop = nullptr);
    static std::shared_ptr<TBNTimer> timerWithInterval(double interval,
                                                       std::shared_ptr<DispatchQueue> queue,
                                                       Block block,
                                                       std::shared_ptr<MainLoop> loop = nullptr);
    static std::shared_ptr<TBNTimer> timerWithInterval(double interval,
                                                       std::shared_ptr<DispatchQueue> queue,
                                                       std::weak_ptr<void> context,
                                                       BlockWithContext block,
                                                       std::shared_ptr<MainLoop> loop = nullptr);

    ~TBNTimer();
    TBNTimer(const TBNTimer&) = delete;
    TBNTimer& operator=(const TBNTimer&) = delete;

    // Starts a stopped timer; nothing when it runs already.
    void run();
    // Restarts the pending pause from now; nothing when stopped.
    void reset();
    // Stores the interval (also when stopped), then reset().
    void resetWithInterval(double interval);
    // Drops the pending pause and stops; a callback running now finishes, no run follows.
    void cancel();
    bool running() const;

    double interval() const;
    void setInterval(double interval);
    std::shared_ptr<DispatchQueue> dispatchQueue() const;
    void setDispatchQueue(std::shared_ptr<DispatchQueue> queue);
    std::shared_ptr<void> context() const;
    void setContext(std::weak_ptr<void> context);

  private:
    struct Token {};

  public:
    TBNTimer(Token, double interval, std::shared_ptr<DispatchQueue> queue,
             std::weak_ptr<void> context, Block block, BlockWithContext blockWithContext,
             std::shared_ptr<MainLoop> loop);

  private:
    void resetTimer();
    void dropPause();
    void armOnMainThread();
    void runner(uint64_t generation);
    bool runBlock();

    double interval_;
    std::shared_ptr<DispatchQueue> dispatchQueue_;
    std::weak_ptr<void> context_;
    const Block block_;
    const BlockWithContext blockWithContext_;
    // Weak: an armed pause in the loop holds the timer, so a strong reference back
    // would keep both alive for ever. Without its loop a timer runs nothing. A timer made
    // without a loop follows MainLoop::main() as it is at each step.
    const std::weak_ptr<MainLoop> loop_;
    const bool followsMain_;
    std::shared_ptr<MainLoop> loop() const;

    mutable std::recursive_mutex lock_;
    bool running_ = false;
    MainLoop::TaskId timer_ = 0;  // the pending pause, 0 when none
    uint64_t generation_ = 0;     // bumped by every arming and stop; stale runners stop
    uint64_t cancels_ = 0;        // bumped by cancel()
};

}  // namespace lumvane
