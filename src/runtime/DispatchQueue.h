#pragma once
// Dispatch queues: serial or concurrent lists of blocks run on a shared pool of worker
// threads, with barrier blocks, synchronous calls, delayed blocks on the queue's Clock,
// the global queues by priority and the main queue (blocks run on MainLoop::main()).
// While a block runs, its queue's label is the thread's queue label (log lines show it).
//
// Rules for sync():
//  - it runs the block on the calling thread once the queue lets it (main queue: on the
//    main thread), and rethrows what the block throws;
//  - sync onto a serial queue, or a barrier sync, from a block already running on that
//    queue would wait for itself: it throws std::logic_error instead of hanging;
//  - a plain sync onto a concurrent queue from one of its own blocks runs at once.
// A queued block (its captures included) is destroyed before the queue lets the next block,
// barrier or sync() caller go, so whoever waited finds no reference the block held; a
// destructor run that way must not sync() onto the same queue.
// Global queues ignore the barrier flag, as the system's dispatch queues did.
// A block that throws out of async() ends the program, like any uncaught exception.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "runtime/Clock.h"

namespace lumvane {

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
  public:
    using Block = std::function<void()>;
    enum class Kind { Serial, Concurrent };
    enum class Priority { High, Default, Low, Background };

    // A new queue; its blocks run on the worker pool of `priority`, its after() reads
    // `clock` (null: Clock::steady()).
    static std::shared_ptr<DispatchQueue> create(std::string label, Kind kind = Kind::Serial,
                                                 Priority priority = Priority::Default,
                                                 std::shared_ptr<Clock> clock = nullptr);
    // The process-wide concurrent queue of a priority.
    static std::shared_ptr<DispatchQueue> global(Priority priority = Priority::Default);
    // The serial queue whose blocks run on MainLoop::main().
    static std::shared_ptr<DispatchQueue> main();
    // The label of the queue whose block runs on the calling thread, empty outside queues.
    static const std::string& currentLabel();

    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const { return label_; }
    Kind kind() const { return kind_; }
    bool isSerial() const { return kind_ == Kind::Serial; }
    Priority priority() const { return priority_; }
    std::shared_ptr<Clock> clock() const { return clock_; }
    // True while a block of this queue runs on the calling thread (also inside sync()).
    bool isCurrent() const;

    void async(Block block);
    // On a concurrent queue: waits for the blocks before it, runs alone, then lets the
    // blocks after it run. On a serial queue the same as async().
    void asyncBarrier(Block block);
    void sync(const Block& block);
    void syncBarrier(const Block& block);
    // sync() that hands back (a copy of) the block's result.
    template <class F>
    requires(!std::is_void_v<std::invoke_result_t<F&>>) std::decay_t<std::invoke_result_t<F&>> sync(
        F&& f) {
        std::optional<std::decay_t<std::invoke_result_t<F&>>> result;
        sync(Block([&] { result.emplace(f()); }));
        return std::move(*result);
    }
    // Queues the block once `delay` has passed on clock().
    void after(Clock::Duration delay, Block block);
    void after(double seconds, Block block);

  private:
    enum class Target { Pool, Main };
    struct SyncTurn;
    struct Item {
        Block block;
        bool exclusive;
        SyncTurn* turn;  // set for a sync() caller waiting for its turn
    };
    struct Token {};

  public:
    DispatchQueue(Token, std::string label, Kind kind, Priority priority, Target target,
                  bool global, std::shared_ptr<Clock> clock);

  private:
    void enqueue(Block block, bool exclusive);
    void syncImpl(const Block& block, bool barrier);
    // Starts what the queue's state allows; called with mutex_ held, starts outside it.
    std::deque<Item> takeStartable();
    void start(Item item);
    // Runs a queued block and destroys it before the queue moves on; leaves `block` empty.
    void runOwned(Block& block, bool exclusive);
    void runOnThisThread(const Block& block, bool exclusive);
    void finished(bool exclusive);

    const std::string label_;
    const Kind kind_;
    const Priority priority_;
    const Target target_;
    const bool global_;
    const std::shared_ptr<Clock> clock_;

    std::mutex mutex_;
    std::deque<Item> pending_;
    int running_ = 0;         // shared blocks in flight
    bool exclusive_ = false;  // a serial or barrier block in flight
};

}  // namespace lumvane
