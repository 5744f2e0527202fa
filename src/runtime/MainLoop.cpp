#include "runtime/MainLoop.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace lumvane {

MainLoop::TaskId MainLoop::postAfter(double seconds, Task task) {
    return postAfter(Clock::seconds(seconds), std::move(task));
}

namespace {
// Never destroyed: queues and timers may reach the main loop while the process exits.
struct MainSlot {
    std::mutex mutex;
    std::shared_ptr<MainLoop> loop;
};
MainSlot& mainSlot() {
    static auto* slot = new MainSlot;
    return *slot;
}
}  // namespace

std::shared_ptr<MainLoop> MainLoop::main() {
    auto& slot = mainSlot();
    std::lock_guard<std::mutex> g(slot.mutex);
    if (!slot.loop) slot.loop = std::make_shared<HeadlessMainLoop>();
    return slot.loop;
}

void MainLoop::setMain(std::shared_ptr<MainLoop> loop) {
    std::shared_ptr<MainLoop> previous;
    auto& slot = mainSlot();
    std::lock_guard<std::mutex> g(slot.mutex);
    previous = std::move(slot.loop);  // destroyed after the lock is released
    slot.loop = std::move(loop);
}

struct HeadlessMainLoop::State {
    explicit State(std::shared_ptr<Clock> c) : clock(std::move(c)) {}

    std::shared_ptr<Clock> clock;
    mutable std::mutex mutex;
    std::condition_variable cv;
    std::deque<Task> tasks;
    // Delayed tasks not yet due: our id -> the clock's call id (0 until known).
    std::unordered_map<TaskId, Clock::CallId> delayed;
    TaskId lastId = 0;
    bool stopRequested = false;
    std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};

    void push(Task task) {
        {
            std::lock_guard<std::mutex> g(mutex);
            tasks.push_back(std::move(task));
        }
        cv.notify_all();
    }

    bool popOne(Task& out) {
        std::lock_guard<std::mutex> g(mutex);
        if (tasks.empty()) return false;
        out = std::move(tasks.front());
        tasks.pop_front();
        return true;
    }
};

HeadlessMainLoop::HeadlessMainLoop(std::shared_ptr<Clock> clock)
    : state_(std::make_shared<State>(clock ? std::move(clock) : Clock::steady())) {}

HeadlessMainLoop::~HeadlessMainLoop() {
    std::unordered_map<TaskId, Clock::CallId> delayed;
    {
        std::lock_guard<std::mutex> g(state_->mutex);
        delayed.swap(state_->delayed);
    }
    for (auto& [id, callId] : delayed) {
        if (callId) state_->clock->cancel(callId);
    }
}

void HeadlessMainLoop::post(Task task) {
    state_->push(std::move(task));
}

MainLoop::TaskId HeadlessMainLoop::postAfter(Clock::Duration delay, Task task) {
    TaskId id;
    {
        std::lock_guard<std::mutex> g(state_->mutex);
        id = ++state_->lastId;
        state_->delayed.emplace(id, 0);
    }
    std::weak_ptr<State> weak = state_;
    const Clock::CallId callId = state_->clock->callAt(
        state_->clock->deadlineAfter(delay), [weak, id, task = std::move(task)]() mutable {
            auto state = weak.lock();
            if (!state) return;
            {
                std::lock_guard<std::mutex> g(state->mutex);
                if (state->delayed.erase(id) == 0) return;  // cancelled
                state->tasks.push_back(std::move(task));
            }
            state->cv.notify_all();
        });
    std::lock_guard<std::mutex> g(state_->mutex);
    auto it = state_->delayed.find(id);
    if (it != state_->delayed.end()) it->second = callId;
    return id;
}

bool HeadlessMainLoop::cancel(TaskId id) {
    Clock::CallId callId = 0;
    {
        std::lock_guard<std::mutex> g(state_->mutex);
        auto it = state_->delayed.find(id);
        if (it == state_->delayed.end()) return false;
        callId = it->second;
        state_->delayed.erase(it);
    }
    if (callId) state_->clock->cancel(callId);
    return true;
}

bool HeadlessMainLoop::isMainThread() const {
    return state_->mainThread.load() == std::this_thread::get_id();
}

std::shared_ptr<Clock> HeadlessMainLoop::clock() const {
    return state_->clock;
}

void HeadlessMainLoop::run() {
    state_->mainThread.store(std::this_thread::get_id());
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lk(state_->mutex);
            state_->cv.wait(lk, [&] { return state_->stopRequested || !state_->tasks.empty(); });
            if (state_->stopRequested) {
                state_->stopRequested = false;
                return;
            }
            task = std::move(state_->tasks.front());
            state_->tasks.pop_front();
        }
        task();
    }
}

void HeadlessMainLoop::stop() {
    {
        std::lock_guard<std::mutex> g(state_->mutex);
        state_->stopRequested = true;
    }
    state_->cv.notify_all();
}

size_t HeadlessMainLoop::runPending() {
    state_->mainThread.store(std::this_thread::get_id());
    size_t count = 0;
    Task task;
    while (state_->popOne(task)) {
        task();
        task = nullptr;
        ++count;
    }
    return count;
}

size_t HeadlessMainLoop::queuedTasks() const {
    std::lock_guard<std::mutex> g(state_->mutex);
    return state_->tasks.size();
}

}  // namespace lumvane
