#include "runtime/AfterReply.h"

#include <exception>
#include <utility>

#include "runtime/log/TBNLogger.h"

namespace lumvane {
namespace {
thread_local std::vector<std::function<void()>>* t_pending = nullptr;

void runGuarded(const std::function<void()>& work) {
    // Bookkeeping after a reply must not take the request's thread down.
    try {
        work();
    } catch (const std::exception& e) {
        TBN_LOG_ERROR("runtime", "work after a reply failed: {}", e.what());
    }
}
}  // namespace

void afterReply(std::function<void()> work) {
    if (!work) return;
    if (t_pending) {
        t_pending->push_back(std::move(work));
        return;
    }
    work();
}

AfterReplyScope::AfterReplyScope() : outer_(t_pending) {
    t_pending = &pending_;
}

AfterReplyScope::~AfterReplyScope() {
    runPending();
    t_pending = outer_;
}

void AfterReplyScope::runPending() {
    // Work may ask for more work; it joins this run. While it runs, new work lands in
    // the list that is taken next.
    while (!pending_.empty()) {
        std::vector<std::function<void()>> batch;
        batch.swap(pending_);
        for (const auto& work : batch) runGuarded(work);
    }
}

}  // namespace lumvane
