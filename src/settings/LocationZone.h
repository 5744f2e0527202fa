#pragma once
// The location zone of the machine's current location, as the settings upgrade asks
// it for its analytics default: 0 white, 1 grey, 2 black. The service layer provides
// the real source (an IP-geolocation lookup); tests use a fake.
#include <cstdint>
#include <functional>
#include <memory>

namespace lumvane {

class LocationZoneSource {
  public:
    using Completion = std::function<void(uint32_t zone)>;

    virtual ~LocationZoneSource() = default;

    // Asks for the zone and returns at once. `completion` runs at most once, on any
    // thread, when the zone is known; a source that cannot tell may never call it
    // (the asker bounds its own wait). Values other than 0, 1 and 2 are reported as 0.
    virtual void accessibilityZone(Completion completion) = 0;

    // Wraps a blocking lookup (one that waits until the zone is known): each request
    // runs it on the low-priority global queue, so no caller thread waits for it.
    static std::shared_ptr<LocationZoneSource> fromBlockingLookup(std::function<uint32_t()> lookup);
};

}  // namespace lumvane
