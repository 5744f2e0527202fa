#pragma once
// Sleep and wake from systemd-logind: the PrepareForSleep(bool) signal of
// org.freedesktop.login1.Manager on the system bus. While listening, the source holds a
// "delay" inhibitor lock, which makes logind wait (up to its InhibitDelayMaxSec) until
// the will-sleep handler has run; the lock is released then and taken again on wake.
//
// Qt DBus runs on a thread of the source's own with a Qt event loop (a QCoreApplication
// is made there when the process has none), so the program needs no Qt loop of its own.
#include <memory>
#include <string>

#include "platform/power/SleepWakeSource.h"

namespace lumvane {

class LogindSleepWakeSource : public SleepWakeSource {
  public:
    struct Options {
        // D-Bus address of the bus to use; empty: the system bus.
        std::string busAddress;
        std::string service = "org.freedesktop.login1";
        std::string path = "/org/freedesktop/login1";
        std::string interface = "org.freedesktop.login1.Manager";
        bool takeDelayLock = true;
    };

    LogindSleepWakeSource();
    explicit LogindSleepWakeSource(Options options);
    ~LogindSleepWakeSource() override;

    void setHandlers(Handler willSleep, Handler didWake) override;
    bool start() override;
    void stop() override;

    // Whether a delay lock is held right now (tests, diagnostics).
    bool holdsDelayLock() const;

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace lumvane
