#include "app/shell/ServiceLayerBridges.h"

#include "app/shell/AppAssembly.h"
#include "settings/LocationZone.h"

namespace lumvane {

std::optional<LocationZoneBridge> locationZoneBridgeFromValue(int64_t value) {
    if (value < 0 || value > 2) return std::nullopt;
    return static_cast<LocationZoneBridge>(value);
}

LocationZoneBridge toLocationZoneBridge(LocationZone zone) {
    return static_cast<LocationZoneBridge>(static_cast<int64_t>(zone));
}

LocationAccessibilityRepositoryBridge::LocationAccessibilityRepositoryBridge()
    : LocationAccessibilityRepositoryBridge(AppAssembly::shared()) {}

LocationAccessibilityRepositoryBridge::LocationAccessibilityRepositoryBridge(
    const std::shared_ptr<ServiceContainer>& container) {
    if (container) internalRepository = container->resolve<LocationAccessibilityRepository>();
}

LocationZoneBridge LocationAccessibilityRepositoryBridge::accessibilityZone() const {
    if (!internalRepository) return LocationZoneBridge::grey;
    return toLocationZoneBridge(internalRepository->accessibilityZone());
}

TBNLocationAccessibilityRepositoryBridge::TBNLocationAccessibilityRepositoryBridge()
    : bridge_(std::make_shared<LocationAccessibilityRepositoryBridge>()) {}

std::shared_ptr<TBNLocationAccessibilityRepositoryBridge>
TBNLocationAccessibilityRepositoryBridge::shareRepository() {
    static const auto shared = std::make_shared<TBNLocationAccessibilityRepositoryBridge>();
    return shared;
}

uint64_t TBNLocationAccessibilityRepositoryBridge::accessibilityZone() const {
    if (!bridge_) return 0;
    switch (bridge_->accessibilityZone()) {
        case LocationZoneBridge::black:
            return 2;
        case LocationZoneBridge::grey:
            return 1;
        default:
            return 0;
    }
}

std::shared_ptr<LocationZoneSource> makeServiceLayerLocationZoneSource() {
    return LocationZoneSource::fromBlockingLookup([]() -> uint32_t {
        return static_cast<uint32_t>(
            TBNLocationAccessibilityRepositoryBridge::shareRepository()->accessibilityZone());
    });
}

std::optional<ApplicationRatingPlatformBridge> applicationRatingPlatformBridgeFromValue(
    int64_t value) {
    if (value == 0) return ApplicationRatingPlatformBridge::iOS;
    if (value == 1) return ApplicationRatingPlatformBridge::macOS;
    return std::nullopt;
}

ApplicationRatingRepositoryBridge::ApplicationRatingRepositoryBridge()
    : ApplicationRatingRepositoryBridge(AppAssembly::shared()) {}

ApplicationRatingRepositoryBridge::ApplicationRatingRepositoryBridge(
    const std::shared_ptr<ServiceContainer>& container) {
    if (container) internalRepository = container->resolve<ApplicationRatingRepository>();
}

void ApplicationRatingRepositoryBridge::sendWithRating(
    int64_t rating, ApplicationRatingPlatformBridge platform) const {
    if (!internalRepository) return;
    switch (platform) {
        case ApplicationRatingPlatformBridge::iOS:
            internalRepository->send(rating, ApplicationRatingPlatform::iOS);
            return;
        case ApplicationRatingPlatformBridge::macOS:
            internalRepository->send(rating, ApplicationRatingPlatform::macOS);
            return;
    }
}

TBNApplicationRatingRepositoryBridge::TBNApplicationRatingRepositoryBridge()
    : bridge_(std::make_shared<ApplicationRatingRepositoryBridge>()) {}

std::shared_ptr<TBNApplicationRatingRepositoryBridge>
TBNApplicationRatingRepositoryBridge::shareRepository() {
    static const auto shared = std::make_shared<TBNApplicationRatingRepositoryBridge>();
    return shared;
}

void TBNApplicationRatingRepositoryBridge::sendRating(int64_t rating, uint64_t platform) const {
    if (!bridge_ || platform > 1) return;
    bridge_->sendWithRating(rating, platform == 0 ? ApplicationRatingPlatformBridge::iOS
                                                  : ApplicationRatingPlatformBridge::macOS);
}

}  // namespace lumvane
