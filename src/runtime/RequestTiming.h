#pragma once
// Timestamps of a request's way through this computer, for the road benchmark: the HTTP
// server marks a request read and its response written, the phone link marks a request
// handed to it, taken for sending, written to the radio and its reply put together.
// Off unless a hook is installed; then each mark costs one relaxed load and a branch.
#include <atomic>
#include <chrono>
#include <cstdint>

namespace lumvane::timing {

enum class Mark {
    RequestRead,      // the server has a whole request (detail: the client's port)
    LinkQueued,       // the call is handed to the phone link's queue
    LinkSplit,        // the link takes the call off its queue to cut it into chunks
    LinkWritten,      // the call's chunks are ready and handed to the radio
    LinkReply,        // the link hands the call's reply back
    ResponseWritten,  // the server has written the response
};

// `tag` names one request: the server's serial number, which the link learns from the
// thread that hands it the call. Called on whatever thread makes the mark.
using Clock = std::chrono::steady_clock;
using Hook = void (*)(Mark mark, uint64_t tag, uint64_t detail, Clock::time_point at);

inline std::atomic<Hook>& hookSlot() {
    static std::atomic<Hook> slot{nullptr};
    return slot;
}

inline void setHook(Hook hook) {
    hookSlot().store(hook, std::memory_order_release);
}

inline bool enabled() {
    return hookSlot().load(std::memory_order_relaxed) != nullptr;
}

inline void mark(Mark m, uint64_t tag, uint64_t detail = 0) {
    if (Hook h = hookSlot().load(std::memory_order_relaxed)) h(m, tag, detail, Clock::now());
}

// The request the calling thread works for (0: none).
inline uint64_t& currentTag() {
    thread_local uint64_t tag = 0;
    return tag;
}

}  // namespace lumvane::timing
