#pragma once
// A sleep-wake source the test drives: sleep() and wake() run the handlers on the calling
// thread, as the real source runs them on its own.
#include <mutex>

#include "platform/power/SleepWakeSource.h"

namespace lumvane {

class FakeSleepWakeSource : public SleepWakeSource {
  public:
    void setHandlers(Handler willSleep, Handler didWake) override;
    bool start() override;
    void stop() override;

    // What start() answers (a machine without logind answers false).
    void setAvailable(bool available);
    bool listening() const;
    // Run the handlers when listening; false when nothing ran.
    bool sleep();
    bool wake();

  private:
    bool fire(bool sleeping);

    mutable std::mutex mutex_;
    Handler willSleep_;
    Handler didWake_;
    bool available_ = true;
    bool listening_ = false;
};

}  // namespace lumvane
