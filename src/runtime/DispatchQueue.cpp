#include "runtime/DispatchQueue.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <stdexcept>
#include <thread>
#include <vector>

#include "runtime/MainLoop.h"
#include "runtime/log/ThreadInfo.h"

namespace lumvane {

namespace {

// Worker threads of one priority. Blocks may block for minutes (named waits), so a job
// does not wait for a busy worker: when no worker is idle a new one starts, up to a
// limit that only a runaway burst reaches. Idle workers end after a while.
class WorkerPool {
  public:
    static constexpr int kMaxThreads = 256;

    WorkerPool(std::string name, int niceness) : name_(std::move(name)), niceness_(niceness) {}

    void submit(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> g(mutex_);
            jobs_.push_back(std::move(job));
            if (jobs_.size() > static_cast<size_t>(idle_) && threads_ < kMaxThreads) {
                ++threads_;
                std::thread([this] { work(); }).detach();
                return;
            }
        }
        // Outside the lock: a woken worker does not run into it and sleep again.
        cv_.notify_one();
    }

  private:
    void work() {
        threadinfo::setCurrentThreadName(name_);
        if (niceness_ > 0) {
            setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), niceness_);
        }
        std::unique_lock<std::mutex> lk(mutex_);
        for (;;) {
            while (jobs_.empty()) {
                ++idle_;
                const bool got =
                    cv_.wait_for(lk, std::chrono::seconds(30), [&] { return !jobs_.empty(); });
                --idle_;
                if (!got) {
                    --threads_;
                    return;
                }
            }
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lk.unlock();
            job();
            job = nullptr;
            lk.lock();
        }
    }

    const std::string name_;
    const int niceness_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    int idle_ = 0;
    int threads_ = 0;
};

WorkerPool& pool(DispatchQueue::Priority p) {
    // Leaked on purpose: detached workers may still use them while the process exits.
    static auto* pools = new WorkerPool[4]{{"lumvane.high", 0},
                                           {"lumvane.default", 0},
                                           {"lumvane.low", 5},
                                           {"lumvane.background", 10}};
    return pools[static_cast<int>(p)];
}

// The queues whose blocks run on this thread, innermost last, with whether each runs
// exclusively (serial or barrier).
struct Running {
    const DispatchQueue* queue;
    bool exclusive;
};
thread_local std::vector<Running> t_running;

const Running* findRunning(const DispatchQueue* q) {
    for (auto it = t_running.rbegin(); it != t_running.rend(); ++it) {
        if (it->queue == q) return &*it;
    }
    return nullptr;
}

class RunningScope {
  public:
    RunningScope(const DispatchQueue* q, bool exclusive, const std::string& label) : label_(label) {
        t_running.push_back({q, exclusive});
    }
    ~RunningScope() { t_running.pop_back(); }

  private:
    threadinfo::QueueLabelScope label_;
};

}  // namespace

struct DispatchQueue::SyncTurn {
    std::mutex mutex;
    std::condition_variable cv;
    bool go = false;
};

DispatchQueue::DispatchQueue(Token, std::string label, Kind kind, Priority priority, Target target,
                             bool global, std::shared_ptr<Clock> clock)
    : label_(std::move(label)),
      kind_(kind),
      priority_(priority),
      target_(target),
      global_(global),
      clock_(clock ? std::move(clock) : Clock::steady()) {}

DispatchQueue::~DispatchQueue() = default;

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label, Kind kind,
                                                     Priority priority,
                                                     std::shared_ptr<Clock> clock) {
    return std::make_shared<DispatchQueue>(Token{}, std::move(label), kind, priority, Target::Pool,
                                           false, std::move(clock));
}

std::shared_ptr<DispatchQueue> DispatchQueue::global(Priority priority) {
    // Process-wide queues are never destroyed: workers may use them while the process exits.
    static const auto* queues = [] {
        const char* names[] = {"io.lumvane.global.high", "io.lumvane.global.default",
                               "io.lumvane.global.low", "io.lumvane.global.background"};
        auto* v = new std::vector<std::shared_ptr<DispatchQueue>>;
        for (int i = 0; i < 4; ++i) {
            v->push_back(std::make_shared<DispatchQueue>(Token{}, names[i], Kind::Concurrent,
                                                         static_cast<Priority>(i), Target::Pool,
                                                         true, nullptr));
        }
        return v;
    }();
    return (*queues)[static_cast<int>(priority)];
}

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
    static const auto* queue = new std::shared_ptr<DispatchQueue>(
        std::make_shared<DispatchQueue>(Token{}, "io.lumvane.main-thread", Kind::Serial,
                                        Priority::High, Target::Main, false, nullptr));
    return *queue;
}

const std::string& DispatchQueue::currentLabel() {
    return threadinfo::currentQueueLabel();
}

bool DispatchQueue::isCurrent() const {
    return findRunning(this) != nullptr;
}

void DispatchQueue::async(Block block) {
    enqueue(std::move(block), isSerial());
}

void DispatchQueue::asyncBarrier(Block block) {
    enqueue(std::move(block), isSerial() || !global_);
}

void DispatchQueue::sync(const Block& block) {
    syncImpl(block, false);
}

void DispatchQueue::syncBarrier(const Block& block) {
    syncImpl(block, !global_);
}

void DispatchQueue::after(Clock::Duration delay, Block block) {
    auto self = shared_from_this();
    clock_->callAt(clock_->deadlineAfter(delay), [self, block = std::move(block)]() mutable {
        // Hand the block over whole: the timer's copy of the closure must keep nothing.
        Block due;
        due.swap(block);
        self->async(std::move(due));
    });
}

void DispatchQueue::after(double seconds, Block block) {
    after(Clock::seconds(seconds), std::move(block));
}

void DispatchQueue::enqueue(Block block, bool exclusive) {
    if (!block) throw std::invalid_argument("dispatch of an empty block");
    std::deque<Item> startable;
    {
        std::lock_guard<std::mutex> g(mutex_);
        pending_.push_back({std::move(block), exclusive, nullptr});
        startable = takeStartable();
    }
    for (auto& item : startable) start(std::move(item));
}

std::deque<DispatchQueue::Item> DispatchQueue::takeStartable() {
    std::deque<Item> out;
    while (!pending_.empty()) {
        Item& front = pending_.front();
        if (front.exclusive) {
            if (exclusive_ || running_ > 0) break;
            exclusive_ = true;
        } else {
            if (exclusive_) break;
            ++running_;
        }
        out.push_back(std::move(front));
        pending_.pop_front();
    }
    return out;
}

void DispatchQueue::start(Item item) {
    if (item.turn) {
        std::lock_guard<std::mutex> g(item.turn->mutex);
        item.turn->go = true;
        item.turn->cv.notify_all();
        return;
    }
    auto self = shared_from_this();
    auto job = [self, block = std::move(item.block), exclusive = item.exclusive]() mutable {
        self->runOwned(block, exclusive);
    };
    if (target_ == Target::Main) {
        MainLoop::main()->post(std::move(job));
    } else {
        pool(priority_).submit(std::move(job));
    }
}

void DispatchQueue::runOwned(Block& block, bool exclusive) {
    struct Finish {
        DispatchQueue* q;
        bool exclusive;
        ~Finish() { q->finished(exclusive); }
    } finish{this, exclusive};
    // The block's captures die here, before finished() lets the next block, barrier or
    // sync() caller go: whoever waited for the queue must not find a reference the block
    // held still alive (a thrown exception unwinds in the same order).
    Block local;
    local.swap(block);
    RunningScope scope(this, exclusive, label_);
    local();
}

void DispatchQueue::runOnThisThread(const Block& block, bool exclusive) {
    struct Finish {
        DispatchQueue* q;
        bool exclusive;
        ~Finish() { q->finished(exclusive); }
    } finish{this, exclusive};
    RunningScope scope(this, exclusive, label_);
    block();
}

void DispatchQueue::finished(bool exclusive) {
    std::deque<Item> startable;
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (exclusive) {
            exclusive_ = false;
        } else {
            --running_;
        }
        startable = takeStartable();
    }
    for (auto& item : startable) start(std::move(item));
}

void DispatchQueue::syncImpl(const Block& block, bool barrier) {
    if (!block) throw std::invalid_argument("dispatch of an empty block");
    const bool exclusive = isSerial() || barrier;
    if (const Running* r = findRunning(this)) {
        // Already inside this queue: a shared block may run on, an exclusive one would
        // wait for the very block that waits for it.
        if (exclusive && !r->exclusive) {
            throw std::logic_error("barrier sync onto the concurrent queue \"" + label_ +
                                   "\" from one of its own blocks would deadlock");
        }
        if (isSerial()) {
            throw std::logic_error("sync onto the serial queue \"" + label_ +
                                   "\" from its own block would deadlock");
        }
        RunningScope scope(this, r->exclusive, label_);
        block();
        return;
    }

    if (target_ == Target::Main) {
        auto loop = MainLoop::main();
        if (loop->isMainThread()) {
            throw std::logic_error("sync onto the main queue from the main thread would deadlock");
        }
        auto done = std::make_shared<SyncTurn>();
        std::exception_ptr error;
        enqueue(
            [&block, &error, done] {
                try {
                    block();
                } catch (...) {
                    error = std::current_exception();
                }
                std::lock_guard<std::mutex> g(done->mutex);
                done->go = true;
                done->cv.notify_all();
            },
            true);
        std::unique_lock<std::mutex> lk(done->mutex);
        done->cv.wait(lk, [&] { return done->go; });
        if (error) std::rethrow_exception(error);
        return;
    }

    SyncTurn turn;
    std::deque<Item> startable;
    {
        std::lock_guard<std::mutex> g(mutex_);
        pending_.push_back({Block(), exclusive, &turn});
        startable = takeStartable();
    }
    for (auto& item : startable) start(std::move(item));
    {
        std::unique_lock<std::mutex> lk(turn.mutex);
        turn.cv.wait(lk, [&] { return turn.go; });
    }
    runOnThisThread(block, exclusive);
}

}  // namespace lumvane
