#pragma once
// The main loop as the wizard's page logic sees it, served by the Qt event loop of the
// application object's thread. Posting works from any thread.
#include <memory>

#include "runtime/MainLoop.h"

namespace lumvane {

class WizardQtLoop : public MainLoop {
  public:
    // The process's one Qt loop (needs a QCoreApplication).
    static std::shared_ptr<WizardQtLoop> shared();
    WizardQtLoop();
    ~WizardQtLoop() override;

    void post(Task task) override;
    TaskId postAfter(Clock::Duration delay, Task task) override;
    using MainLoop::postAfter;
    bool cancel(TaskId id) override;
    bool isMainThread() const override;
    std::shared_ptr<Clock> clock() const override;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace lumvane
