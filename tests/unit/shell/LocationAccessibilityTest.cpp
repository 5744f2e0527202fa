#include "app/shell/LocationAccessibility.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "FakeServiceHTTPClient.h"
#include "app/shell/ServicePrint.h"

namespace lumvane {
namespace {

using test::FakeServiceHTTPClient;

LocationZone zoneFor(std::string continent, std::string country) {
    LocationAccessibilityRepositoryImpl repository;
    repository.service = std::make_shared<LocationServiceMock>(continent, "", country, "");
    repository.rules = std::make_shared<LocationRulesDataSourceImpl>();
    return repository.accessibilityZone();
}

TEST(LocationZoneRuleTest, ZonesFromContinentAndCountry) {
    struct Case {
        const char* continent;
        const char* country;
        LocationZone zone;
    } cases[] = {
        {"EU", "DE", LocationZone::black}, {"EU", "CH", LocationZone::white},
        {"NA", "US", LocationZone::white}, {"XX", "FR", LocationZone::black},
        {"XX", "CH", LocationZone::grey},  {"eu", "de", LocationZone::grey},
        {"", "", LocationZone::grey},      {"AS", "GB", LocationZone::black},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zoneFor(c.continent, c.country), c.zone) << c.continent << "/" << c.country;
    }
}

TEST(LocationZoneRuleTest, MissingWiringIsGrey) {
    LocationAccessibilityRepositoryImpl repository;
    EXPECT_EQ(repository.accessibilityZone(), LocationZone::grey);
    repository.service = std::make_shared<LocationServiceMock>("NA", "", "US", "");
    EXPECT_EQ(repository.accessibilityZone(), LocationZone::grey);
}

TEST(LocationRulesTest, MembershipByZone) {
    LocationRulesDataSourceImpl rules;
    EXPECT_TRUE(rules.isContinent("EU", LocationZone::white));
    EXPECT_FALSE(rules.isContinent("EU", LocationZone::grey));
    EXPECT_TRUE(rules.isContinent("XX", LocationZone::grey));
    EXPECT_FALSE(rules.isContinent("EU", LocationZone::black));
    EXPECT_TRUE(rules.isCountry("CH", LocationZone::grey));
    EXPECT_FALSE(rules.isCountry("FR", LocationZone::grey));
    EXPECT_TRUE(rules.isCountry("FR", LocationZone::black));
    EXPECT_EQ(rules.whiteContinentCode.size(), 7u);
    EXPECT_EQ(rules.blackCountryCode.size(), 28u);
}

class LocationServiceTest : public ::testing::Test {
  protected:
    std::shared_ptr<FakeServiceHTTPClient> http = std::make_shared<FakeServiceHTTPClient>();
    std::vector<std::string> printed;
    ScopedServicePrintSink sink{[this](std::string_view line) { printed.emplace_back(line); }};

    LocationZone zoneOf(const std::shared_ptr<LocationService>& service) {
        LocationAccessibilityRepositoryImpl repository;
        repository.service = service;
        repository.rules = std::make_shared<LocationRulesDataSourceImpl>();
        return repository.accessibilityZone();
    }
};

TEST_F(LocationServiceTest, RequestShapeAndAnswerIsCachedForTheProcess) {
    auto service = std::make_shared<LocationServiceImpl>(http, "geo.example",
                                                         "0123456789abcdef0123456789abcdef");
    http->answer(200, R"({"continent_code":"EU","continent_name":"Europe",
                          "country_code":"DE","country_name":"Germany","ip":"1.2.3.4"})");
    EXPECT_EQ(zoneOf(service), LocationZone::black);
    EXPECT_EQ(service->continentName(), "Europe");
    EXPECT_EQ(service->countryName(), "Germany");
    EXPECT_EQ(zoneOf(service), LocationZone::black);

    auto requests = http->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].url.scheme, "http");
    EXPECT_EQ(requests[0].url.host, "geo.example");
    EXPECT_EQ(requests[0].url.pathAndQuery, "/check?access_key=0123456789abcdef0123456789abcdef");
    EXPECT_TRUE(requests[0].body.empty());
    EXPECT_TRUE(requests[0].headers.empty());
    EXPECT_EQ(requests[0].timeout, std::chrono::seconds(60));
    EXPECT_TRUE(printed.empty());
}

TEST_F(LocationServiceTest, OddFieldsReadAsEmptyTexts) {
    auto service = std::make_shared<LocationServiceImpl>(http);
    http->answer(200, R"({"continent_code":7,"continent_name":null,
                          "country_code":["DE"],"country_name":{"x":1}})");
    EXPECT_EQ(service->continentCode(), "");
    EXPECT_EQ(service->continentName(), "");
    EXPECT_EQ(service->countryCode(), "");
    EXPECT_EQ(service->countryName(), "");
    EXPECT_EQ(http->requests().size(), 1u);
}

TEST_F(LocationServiceTest, ObjectWithoutTheKeysIsGreyAndStaysCached) {
    auto service = std::make_shared<LocationServiceImpl>(http);
    http->answer(200, R"({"ip":"1.2.3.4"})");
    EXPECT_EQ(zoneOf(service), LocationZone::grey);
    EXPECT_EQ(zoneOf(service), LocationZone::grey);
    EXPECT_EQ(http->requests().size(), 1u);
    EXPECT_TRUE(service->responceCache().has_value());
}

TEST_F(LocationServiceTest, FailedLookupsCacheNothingAndAreRetried) {
    auto service = std::make_shared<LocationServiceImpl>(http);
    http->answer(200, R"(["EU","DE"])");  // not an object
    http->answer(200, "not json");        // parse error: one printed line
    http->fail("could not connect");      // transport error
    http->answer(500, R"({"continent_code":"EU","country_code":"DE"})");  // error status
    EXPECT_EQ(zoneOf(service), LocationZone::grey);  // two lookups per question
    EXPECT_EQ(zoneOf(service), LocationZone::grey);
    EXPECT_EQ(http->requests().size(), 4u);
    EXPECT_FALSE(service->responceCache().has_value());
    EXPECT_EQ(printed.size(), 1u);

    http->answer(200, R"({"continent_code":"NA","country_code":"US"})");
    EXPECT_EQ(zoneOf(service), LocationZone::white);
    EXPECT_EQ(http->requests().size(), 5u);
}

TEST_F(LocationServiceTest, ConcurrentFirstQuestionsSendOneRequest) {
    auto service = std::make_shared<LocationServiceImpl>(http);
    http->answer(200, R"({"continent_code":"NA","country_code":"US"})");
    std::vector<std::thread> askers;
    std::vector<LocationZone> zones(8, LocationZone::grey);
    for (int i = 0; i < 8; ++i) {
        askers.emplace_back([&, i] { zones[i] = zoneOf(service); });
    }
    for (auto& t : askers) t.join();
    for (auto zone : zones) EXPECT_EQ(zone, LocationZone::white);
    EXPECT_EQ(http->requests().size(), 1u);
}

}  // namespace
}  // namespace lumvane
