#pragma once
// How the rest of the application reaches the service layer: one pair of bridges for the
// location zone and one for sending a rating. The outer bridges are process-wide
// singletons; the inner ones resolve their repository from the container when created.
#include <cstdint>
#include <memory>
#include <optional>

#include "app/shell/ApplicationRating.h"
#include "app/shell/LocationAccessibility.h"
#include "app/shell/ServiceContainer.h"

namespace lumvane {

class LocationZoneSource;

enum class LocationZoneBridge : int64_t { white = 0, grey = 1, black = 2 };
std::optional<LocationZoneBridge> locationZoneBridgeFromValue(int64_t value);
LocationZoneBridge toLocationZoneBridge(LocationZone zone);

class LocationAccessibilityRepositoryBridge {
  public:
    // Resolves the unnamed repository from the process's root container.
    LocationAccessibilityRepositoryBridge();
    explicit LocationAccessibilityRepositoryBridge(
        const std::shared_ptr<ServiceContainer>& container);

    // Blocks while the location is looked up. Without a repository the zone is grey
    // (the location is unknown), which callers treat like black.
    LocationZoneBridge accessibilityZone() const;

    std::shared_ptr<LocationAccessibilityRepository> internalRepository;
};

class TBNLocationAccessibilityRepositoryBridge {
  public:
    static std::shared_ptr<TBNLocationAccessibilityRepositoryBridge> shareRepository();

    // Builds its inner bridge from the root container.
    TBNLocationAccessibilityRepositoryBridge();
    explicit TBNLocationAccessibilityRepositoryBridge(
        std::shared_ptr<LocationAccessibilityRepositoryBridge> bridge)
        : bridge_(std::move(bridge)) {}

    // 0 white, 1 grey, 2 black; anything else the inner bridge answers counts as white.
    uint64_t accessibilityZone() const;

    const std::shared_ptr<LocationAccessibilityRepositoryBridge>& bridge() const { return bridge_; }

  private:
    std::shared_ptr<LocationAccessibilityRepositoryBridge> bridge_;
};

// The settings store's view of the zone: the shared location bridge, asked on a
// background queue.
std::shared_ptr<LocationZoneSource> makeServiceLayerLocationZoneSource();

enum class ApplicationRatingPlatformBridge : int64_t { iOS = 0, macOS = 1 };
std::optional<ApplicationRatingPlatformBridge> applicationRatingPlatformBridgeFromValue(
    int64_t value);

class ApplicationRatingRepositoryBridge {
  public:
    ApplicationRatingRepositoryBridge();
    explicit ApplicationRatingRepositoryBridge(const std::shared_ptr<ServiceContainer>& container);

    // Without a repository nothing is sent.
    void sendWithRating(int64_t rating, ApplicationRatingPlatformBridge platform) const;

    std::shared_ptr<ApplicationRatingRepository> internalRepository;
};

class TBNApplicationRatingRepositoryBridge {
  public:
    static std::shared_ptr<TBNApplicationRatingRepositoryBridge> shareRepository();

    TBNApplicationRatingRepositoryBridge();
    explicit TBNApplicationRatingRepositoryBridge(
        std::shared_ptr<ApplicationRatingRepositoryBridge> bridge)
        : bridge_(std::move(bridge)) {}

    // Platform 0 is iOS, 1 macOS; any other value is ignored. Does not wait for the send.
    void sendRating(int64_t rating, uint64_t platform) const;

    const std::shared_ptr<ApplicationRatingRepositoryBridge>& bridge() const { return bridge_; }

  private:
    std::shared_ptr<ApplicationRatingRepositoryBridge> bridge_;
};

}  // namespace lumvane
