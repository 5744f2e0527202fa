#pragma once
// Helpers shared by the runtime tests.
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace lumvane::testing {

// Waits (on real time, bounded) until the condition holds; for start-up handshakes with
// other threads, never for measuring time.
inline bool eventually(const std::function<bool()>& cond,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::yield();
    }
    return true;
}

// True when the future has not completed after a short grace period; used only to show
// that something did NOT happen.
template <class T>
bool stillPending(std::future<T>& f) {
    return f.wait_for(std::chrono::milliseconds(30)) == std::future_status::timeout;
}

template <class T>
bool completes(std::future<T>& f) {
    return f.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}

}  // namespace lumvane::testing
