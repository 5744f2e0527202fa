#include "location/FakeLocationZone.h"

namespace lumvane {

FakeLocationZone::FakeLocationZone(std::optional<uint32_t> immediateZone)
    : immediateZone_(immediateZone) {}

void FakeLocationZone::accessibilityZone(Completion completion) {
    std::optional<uint32_t> zone;
    {
        std::lock_guard<std::mutex> g(mutex_);
        zone = immediateZone_;
        if (!zone) {
            waiting_.push_back(std::move(completion));
            ++requests_;
            cv_.notify_all();
            return;
        }
    }
    // An immediate answer is delivered before the request is counted, so a test that
    // waits for the request also sees the answer applied.
    completion(*zone);
    std::lock_guard<std::mutex> g(mutex_);
    ++requests_;
    cv_.notify_all();
}

size_t FakeLocationZone::answer(uint32_t zone) {
    std::vector<Completion> waiting;
    {
        std::lock_guard<std::mutex> g(mutex_);
        waiting.swap(waiting_);
    }
    for (auto& c : waiting) c(zone);
    return waiting.size();
}

size_t FakeLocationZone::requests() const {
    std::lock_guard<std::mutex> g(mutex_);
    return requests_;
}

bool FakeLocationZone::waitForRequests(size_t n, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lk(mutex_);
    return cv_.wait_for(lk, limit, [&] { return requests_ >= n; });
}

}  // namespace lumvane
