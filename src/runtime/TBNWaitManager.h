#pragma once
// Named waits: a thread blocks under a name until another thread releases that name with
// a response, or until its time-out passes on the manager's Clock.
//
// One waiter per name: the first wait registers it (with its context), later waits on
// the same name join it and share its outcome. A release, or the time-out of any wait
// on it, ends the waiter and takes it out of the map at once, so a wait that begins
// after that always starts afresh: it never receives an answer meant for an earlier one.
// A release that finds no waiter is dropped.
#include <any>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "runtime/Clock.h"

namespace lumvane {

class TBNWaitManager {
  public:
    // The process-wide manager, on the steady clock.
    static TBNWaitManager& sharedManager();

    // A manager of its own (e.g. private to one transport); null clock: Clock::steady().
    explicit TBNWaitManager(std::shared_ptr<Clock> clock = nullptr);
    // Ends every pending wait with a null response and returns once no thread is inside
    // a wait of this manager any more.
    ~TBNWaitManager();
    TBNWaitManager(const TBNWaitManager&) = delete;
    TBNWaitManager& operator=(const TBNWaitManager&) = delete;

    // Blocks until a release (returns its response) or the time-out (returns an empty
    // value). A time-out of 0, negative or not a number means no time-out.
    std::any waitWithName(const std::string& name, std::any context, double timeout);
    std::any waitWithName(const std::string& name);
    std::any waitWithName(const std::string& name, std::any context);
    std::any waitWithName(const std::string& name, double timeout);

    void releaseForName(const std::string& name, std::any response);
    void releaseForName(const std::string& name);

    // The clock of the waits that begin from now on (tests drive the shared manager
    // with a ManualClock this way); null: Clock::steady().
    void setClock(std::shared_ptr<Clock> clock);
    std::shared_ptr<Clock> clock() const;

    // The context of the waiter registered under the name, empty when there is none.
    std::any contextForName(const std::string& name) const;
    // True while a waiter under that name is pending (not yet released or timed out).
    bool waitedWithName(const std::string& name) const;

  private:
    struct TBNWaiter;
    std::shared_ptr<Clock> clock_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<TBNWaiter>> waiters_;
    int activeWaits_ = 0;
    std::condition_variable drained_;
};

}  // namespace lumvane
