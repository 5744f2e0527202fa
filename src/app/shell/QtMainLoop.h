#pragma once
// The runtime's main loop as a view of Qt's event loop: posted tasks run on the thread of
// the QCoreApplication, between Qt's own events; delayed tasks are timed on the loop's
// Clock and then posted. The desktop application installs it with MainLoop::setMain().
#include <QObject>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "runtime/MainLoop.h"

namespace lumvane {

class QtMainLoop : public MainLoop, public std::enable_shared_from_this<QtMainLoop> {
  public:
    // Needs a QCoreApplication; the loop runs on its thread.
    explicit QtMainLoop(std::shared_ptr<Clock> clock = Clock::steady());
    ~QtMainLoop() override;

    void post(Task task) override;
    TaskId postAfter(Clock::Duration delay, Task task) override;
    using MainLoop::postAfter;
    bool cancel(TaskId id) override;
    bool isMainThread() const override;
    std::shared_ptr<Clock> clock() const override;

  private:
    const std::shared_ptr<Clock> clock_;
    QObject* context_;  // lives on the main thread; posted tasks run in its name
    std::mutex mutex_;
    TaskId nextId_ = 1;
    std::unordered_map<TaskId, Clock::CallId> delayed_;
};

// Ends the application's event loop. Qt's quit() first asks every window to close and
// gives up when one refuses, which a shown page does; a stop must not depend on that.
void quitApplication();

}  // namespace lumvane
