#pragma once
// The zone of the machine's current location (white, grey, black), from the continent
// and country of its public IP address. It decides whether anonymous usage data may be
// on by default.
#include <nlohmann/json.hpp>

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "app/shell/ServiceHTTPClient.h"

namespace lumvane {

enum class LocationZone { white = 0, grey = 1, black = 2 };

class LocationService {
  public:
    virtual ~LocationService() = default;
    // A missing value is the empty text.
    virtual std::string continentCode() = 0;
    virtual std::string continentName() = 0;
    virtual std::string countryCode() = 0;
    virtual std::string countryName() = 0;
};

// Asks the IP-geolocation service until it has one answer (a JSON object), which then
// serves the whole process. Failed lookups cache nothing, so the next read asks again.
class LocationServiceImpl : public LocationService {
  public:
    static constexpr const char* kDefaultHost = "api.ipapi.com";
    // The service account's access key; the deployment puts its own here.
    static constexpr const char* kDefaultAccessKey = "0b5f3c3e8d1a4b6c9e2f7a1d4c8b3e6f";

    explicit LocationServiceImpl(
        std::shared_ptr<ServiceHTTPClient> client = HttplibServiceHTTPClient::shared(),
        std::string host = kDefaultHost, std::string accessKey = kDefaultAccessKey);

    std::string continentCode() override { return text("continent_code"); }
    std::string continentName() override { return text("continent_name"); }
    std::string countryCode() override { return text("country_code"); }
    std::string countryName() override { return text("country_name"); }

    // The cached answer, if any (for inspection).
    std::optional<nlohmann::json> responceCache() const;

  private:
    std::string text(const char* key);
    nlohmann::json lookup();

    std::shared_ptr<ServiceHTTPClient> client_;
    std::string host_;
    std::string accessKey_;
    // Serialises lookups, so two first questions at once send one request, not two.
    std::mutex lookupMutex_;
    mutable std::mutex cacheMutex_;
    std::optional<nlohmann::json> responceCache_;
};

class LocationServiceMock : public LocationService {
  public:
    LocationServiceMock(std::string continentCode, std::string continentName,
                        std::string countryCode, std::string countryName)
        : _continentCode(std::move(continentCode)),
          _continentName(std::move(continentName)),
          _countryCode(std::move(countryCode)),
          _countryName(std::move(countryName)) {}
    std::string continentCode() override { return _continentCode; }
    std::string continentName() override { return _continentName; }
    std::string countryCode() override { return _countryCode; }
    std::string countryName() override { return _countryName; }

    std::string _continentCode;
    std::string _continentName;
    std::string _countryCode;
    std::string _countryName;
};

class LocationRulesDataSource {
  public:
    virtual ~LocationRulesDataSource() = default;
    virtual bool isContinent(const std::string& code, LocationZone zone) const = 0;
    virtual bool isCountry(const std::string& code, LocationZone zone) const = 0;
};

class LocationRulesDataSourceImpl : public LocationRulesDataSource {
  public:
    bool isContinent(const std::string& code, LocationZone zone) const override;
    bool isCountry(const std::string& code, LocationZone zone) const override;

    const std::set<std::string> whiteContinentCode{"AF", "NA", "OC", "AN", "AS", "SA", "EU"};
    const std::set<std::string> blackContinentCode{};
    const std::set<std::string> whiteCountryCode{};
    const std::set<std::string> blackCountryCode{
        "AT", "BE", "BG", "HR", "CY", "CZ", "DK", "EE", "FI", "FR", "DE", "GR", "HU", "IE",
        "IT", "LV", "LT", "LU", "MT", "NL", "PL", "PT", "RO", "SK", "SI", "ES", "SE", "GB"};
};

class LocationAccessibilityRepository {
  public:
    virtual ~LocationAccessibilityRepository() = default;
    virtual LocationZone accessibilityZone() = 0;
};

class LocationAccessibilityRepositoryImpl : public LocationAccessibilityRepository {
  public:
    LocationZone accessibilityZone() override;

    std::shared_ptr<LocationService> service;
    std::shared_ptr<LocationRulesDataSource> rules;
};

}  // namespace lumvane
