#pragma once
// Sleep and wake of the machine as the core sees it. The Linux implementation listens to
// logind (LogindSleepWakeSource, Qt DBus); tests drive a fake. The core never includes Qt.
#include <functional>

namespace lumvane {

class SleepWakeSource {
  public:
    using Handler = std::function<void()>;

    virtual ~SleepWakeSource() = default;

    // `willSleep` runs before the machine suspends or hibernates, `didWake` after it
    // resumed; both on the source's own thread, one call at a time. A source holds off
    // the suspend until `willSleep` has returned where the system allows that, so the
    // handler should finish promptly.
    virtual void setHandlers(Handler willSleep, Handler didWake) = 0;
    // Begins listening; false when the system's sleep notices cannot be reached (the
    // program then runs without them). Calling it again while listening does nothing.
    virtual bool start() = 0;
    // Stops listening; no handler runs once it has returned.
    virtual void stop() = 0;
};

}  // namespace lumvane
