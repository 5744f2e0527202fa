#pragma once
// The main thread's event loop as the rest of the program sees it: post work onto it,
// now or after a delay measured on its Clock. The application installs its Qt loop with
// MainLoop::setMain(); headless runs and tests use HeadlessMainLoop.
#include <functional>
#include <memory>

#include "runtime/Clock.h"

namespace lumvane {

class MainLoop {
  public:
    using Task = std::function<void()>;
    using TaskId = uint64_t;

    virtual ~MainLoop() = default;

    // Runs the task on the main thread, after the tasks posted before it.
    virtual void post(Task task) = 0;
    // Posts the task once `delay` has passed on clock(). Never returns 0.
    virtual TaskId postAfter(Clock::Duration delay, Task task) = 0;
    TaskId postAfter(double seconds, Task task);
    // Drops a delayed task that has not been posted yet; true when it was dropped.
    virtual bool cancel(TaskId id) = 0;
    // True on the thread that runs this loop.
    virtual bool isMainThread() const = 0;
    virtual std::shared_ptr<Clock> clock() const = 0;

    // The process's main loop: the one installed with setMain(), else a HeadlessMainLoop
    // on the steady clock made on first use (whoever owns the main thread runs it).
    static std::shared_ptr<MainLoop> main();
    static void setMain(std::shared_ptr<MainLoop> loop);
};

// Our own loop: run() serves it on the calling thread until stop(); runPending() serves
// what is queued and returns, which lets a test drive the loop from its own thread.
class HeadlessMainLoop : public MainLoop {
  public:
    explicit HeadlessMainLoop(std::shared_ptr<Clock> clock = Clock::steady());
    ~HeadlessMainLoop() override;

    void post(Task task) override;
    TaskId postAfter(Clock::Duration delay, Task task) override;
    using MainLoop::postAfter;
    bool cancel(TaskId id) override;
    bool isMainThread() const override;
    std::shared_ptr<Clock> clock() const override;

    // Serves tasks on the calling thread (the main thread from now on) until stop().
    void run();
    // Makes run() return after the task it is running; callable from any thread and
    // from a task. A stop() before run() makes the next run() return at once.
    void stop();
    // Runs the queued tasks, and those they queue, on the calling thread until none is
    // left; returns how many ran. The calling thread counts as the main thread.
    size_t runPending();
    // Tasks queued now (posted, or delayed ones whose time has come).
    size_t queuedTasks() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace lumvane
