#include "app/shell/ServiceLayerBridges.h"

#include <gtest/gtest.h>

#include "FakeServiceHTTPClient.h"
#include "app/shell/AppAssembly.h"
#include "app/shell/ServicePrint.h"

namespace lumvane {
namespace {

struct FixedZoneRepository : LocationAccessibilityRepository {
    explicit FixedZoneRepository(int value) : value(value) {}
    LocationZone accessibilityZone() override { return static_cast<LocationZone>(value); }
    int value;
};

TEST(LocationBridgeTest, EnumValuesAndOuterMapping) {
    EXPECT_EQ(locationZoneBridgeFromValue(0), LocationZoneBridge::white);
    EXPECT_EQ(locationZoneBridgeFromValue(2), LocationZoneBridge::black);
    EXPECT_FALSE(locationZoneBridgeFromValue(3));
    EXPECT_FALSE(locationZoneBridgeFromValue(-1));
    EXPECT_EQ(applicationRatingPlatformBridgeFromValue(1), ApplicationRatingPlatformBridge::macOS);
    EXPECT_FALSE(applicationRatingPlatformBridgeFromValue(2));

    struct Case {
        int inner;
        uint64_t outer;
    } cases[] = {{0, 0}, {1, 1}, {2, 2}, {7, 0}, {-3, 0}};
    for (auto c : cases) {
        auto inner = std::make_shared<LocationAccessibilityRepositoryBridge>(nullptr);
        inner->internalRepository = std::make_shared<FixedZoneRepository>(c.inner);
        TBNLocationAccessibilityRepositoryBridge outer(inner);
        EXPECT_EQ(outer.accessibilityZone(), c.outer) << c.inner;
    }
    // No repository: the location is unknown.
    TBNLocationAccessibilityRepositoryBridge empty(
        std::make_shared<LocationAccessibilityRepositoryBridge>(nullptr));
    EXPECT_EQ(empty.accessibilityZone(), 1u);
}

TEST(LocationBridgeTest, ResolvesTheContainersRepositoryAndLooksUpOnce) {
    auto http = std::make_shared<test::FakeServiceHTTPClient>();
    ServiceLayerEnvironment env;
    env.httpClient = http;
    auto root = AppAssembly::build(env);
    http->answer(200, R"({"continent_code":"EU","country_code":"CH"})");
    TBNLocationAccessibilityRepositoryBridge bridge(
        std::make_shared<LocationAccessibilityRepositoryBridge>(root));
    EXPECT_EQ(bridge.accessibilityZone(), 0u);
    TBNLocationAccessibilityRepositoryBridge again(
        std::make_shared<LocationAccessibilityRepositoryBridge>(root));
    EXPECT_EQ(again.accessibilityZone(), 0u);
    EXPECT_EQ(http->requests().size(), 1u);
}

TEST(RatingBridgeTest, PlatformValuesSelectTheTextAndOthersSendNothing) {
    auto http = std::make_shared<test::FakeServiceHTTPClient>();
    ServiceLayerEnvironment env;
    env.httpClient = http;
    env.feedbackURL = "https://feedback.example/feedback/Prod";
    auto root = AppAssembly::build(env);
    std::vector<std::string> printed;
    ScopedServicePrintSink sink([&](std::string_view line) { printed.emplace_back(line); });
    TBNApplicationRatingRepositoryBridge bridge(
        std::make_shared<ApplicationRatingRepositoryBridge>(root));
    http->answer(200, "");
    http->answer(200, "");
    bridge.sendRating(5, 1);
    bridge.sendRating(4, 0);
    bridge.sendRating(3, 2);
    http->join();
    auto requests = http->requests();
    ASSERT_EQ(requests.size(), 2u);
    auto first = nlohmann::json::parse(requests[0].body);
    EXPECT_EQ(first["platform"], "macOS");
    EXPECT_EQ(first["rate"], 5);
    EXPECT_EQ(nlohmann::json::parse(requests[1].body)["platform"], "iOS");
    EXPECT_TRUE(printed.empty());
}

TEST(RatingBridgeTest, MissingRepositorySendsNothing) {
    ApplicationRatingRepositoryBridge inner(nullptr);
    EXPECT_FALSE(inner.internalRepository);
    inner.sendWithRating(5, ApplicationRatingPlatformBridge::macOS);  // must not crash
}

}  // namespace
}  // namespace lumvane
