#include "settings/LocationZone.h"

#include <exception>
#include <utility>

#include "runtime/DispatchQueue.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

class BlockingLookupSource final : public LocationZoneSource {
  public:
    explicit BlockingLookupSource(std::function<uint32_t()> lookup) : lookup_(std::move(lookup)) {}

    void accessibilityZone(Completion completion) override {
        DispatchQueue::global(DispatchQueue::Priority::Low)
            ->async([lookup = lookup_, completion = std::move(completion)] {
                uint32_t zone = 0;
                try {
                    zone = lookup();
                } catch (const std::exception& e) {
                    TBN_LOG_WARN("settings", "location zone lookup failed: {}", e.what());
                    return;
                }
                completion(zone <= 2 ? zone : 0);
            });
    }

  private:
    std::function<uint32_t()> lookup_;
};

}  // namespace

std::shared_ptr<LocationZoneSource> LocationZoneSource::fromBlockingLookup(
    std::function<uint32_t()> lookup) {
    return std::make_shared<BlockingLookupSource>(std::move(lookup));
}

}  // namespace lumvane
