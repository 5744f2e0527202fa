#pragma once
// A location-zone source driven by the test: it records each request and answers only
// when the test calls answer() (or at once, when given a zone up front).
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "settings/LocationZone.h"

namespace lumvane {

class FakeLocationZone : public LocationZoneSource {
  public:
    // With a zone: every request is answered at once with it. Without: requests wait
    // for answer().
    explicit FakeLocationZone(std::optional<uint32_t> immediateZone = std::nullopt);

    void accessibilityZone(Completion completion) override;

    // Answers every waiting request with `zone`; returns how many were answered.
    size_t answer(uint32_t zone);
    // Requests made so far.
    size_t requests() const;
    // Blocks (real time) until at least n requests were made.
    bool waitForRequests(size_t n, std::chrono::milliseconds limit = std::chrono::seconds(10));

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::optional<uint32_t> immediateZone_;
    std::vector<Completion> waiting_;
    size_t requests_ = 0;
};

}  // namespace lumvane
