#pragma once
// Work a request's thread does once its reply is on the way. A server that answers a
// request on a worker thread opens an AfterReplyScope around the handling and calls
// runPending() once the reply is handed to the connection; bookkeeping a handler asks
// for with afterReply() (saving a cache, telling observers) then costs the reply nothing.
// Outside a scope afterReply() runs the work at once, so callers need no server.
#include <functional>
#include <vector>

namespace lumvane {

// Runs `work` after the current reply on this thread, or now when there is none.
void afterReply(std::function<void()> work);

class AfterReplyScope {
  public:
    AfterReplyScope();
    // Runs what is still pending.
    ~AfterReplyScope();
    AfterReplyScope(const AfterReplyScope&) = delete;
    AfterReplyScope& operator=(const AfterReplyScope&) = delete;

    // Runs the pending work in the order it was asked for (work added meanwhile too).
    void runPending();

  private:
    std::vector<std::function<void()>>* outer_;
    std::vector<std::function<void()>> pending_;
};

}  // namespace lumvane
