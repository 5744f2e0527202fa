#pragma once
// The simulated phone's in-memory vault (sites, logins, two-factor secrets),
// loaded from a small JSON fixture, and the two services the phone serves from
// it: storage and mobile storage.
//
// Fixture (every member optional unless marked):
//   {
//     "device":  { "id": UUID text, "name", "token", "model", "osVersion",
//                  "appVersion", "batteryLevel", "batteryState", "appState" },
//     "clients": [ { "clientId", "clientSecret" } ],   // when present, calls must
//                                                      // carry one of these
//     "sites": [ { "siteUrl", "domain" (required), "displayName",
//                  "updateTimeStamp", "isSecured", "isFavorited", "formUrls": [..],
//                  "logins": [ { "login" (required), "password", "email", "notes",
//                                "title", "isSecured",
//                                "twoFactor": { "secretHex", "algorithm",
//                                               "digits", "period" } } ] } ]
//   }
//
// Errors the phone answers with (category, id, text): not authorised (1, 1),
// site not found (4, 6), account not found (4, 8), account duplicated (4, 9),
// method not implemented (4, 11); the Mac passes them on unchanged.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PhoneMobileStorage.h"
#include "idl/protocols.h"
#include "runtime/Bytes.h"

namespace lumvane::phonesim {

struct VaultDevice {
    std::string id = "6F1C2D3E-4A5B-4C6D-8E9F-A0B1C2D3E4F5";
    std::string name = "Test iPhone";
    std::string token = "0011223344556677";
    std::string model = "iPhone9,3";
    std::string osVersion = "10.3.1";
    std::optional<std::string> appVersion = std::string("1.2.0");
    uint32_t batteryLevel = 80;
    uint32_t batteryState = 2;
    uint32_t appState = 1;
};

struct VaultTwoFactor {
    Bytes secret;
    std::string algorithm = "SHA1";
    int64_t digits = 6;
    double period = 30;
};

struct VaultLogin {
    std::string login;
    std::string password;
    std::optional<std::string> email, notes, title;
    bool isSecured = false;
    std::optional<VaultTwoFactor> twoFactor;
};

struct VaultSite {
    std::string siteUrl;
    std::string domain;
    std::optional<std::string> displayName;
    int64_t updateTimeStamp = 0;
    bool isSecured = false;
    bool isFavorited = false;
    std::vector<std::string> formUrls;
    std::vector<VaultLogin> logins;
};

struct VaultContent {
    VaultDevice device;
    std::vector<std::pair<std::string, std::string>> clients;
    std::vector<VaultSite> sites;
};

// Throws std::runtime_error with a readable reason on a malformed fixture.
VaultContent parseVaultJson(const std::string& text);
VaultContent loadVaultFile(const std::string& path);

class PhoneVault {
  public:
    explicit PhoneVault(VaultContent content);

    VaultContent content() const;
    // When set, every call is answered with this error instead.
    void setForcedError(std::optional<std::pair<int32_t, int64_t>> error);

    std::shared_ptr<TBNStorageService> storageService();
    std::shared_ptr<TBNMobileStorageService> mobileStorageService();
    // The phone's side of the Mac's own calls (backups, clipboard, import, export, U2F).
    PhoneMobileStorage& mobileStorage() { return *mobileStorage_; }

    // Helpers the services share.
    std::shared_ptr<TBNResponseInfo> responseFor(const std::shared_ptr<TBNRequestInfo>& info,
                                                 std::shared_ptr<TBNError> error = nullptr) const;
    std::shared_ptr<TBNError> checkAuth(const std::shared_ptr<TBNAuthentication>& auth) const;
    std::optional<VaultSite> findSite(const std::optional<std::string>& domain,
                                      const std::optional<std::string>& siteUrl) const;
    static std::shared_ptr<TBNLoginData> loginRecord(const VaultLogin& login, bool withPassword);
    static std::shared_ptr<TBNSiteData> siteRecord(const VaultSite& site, bool withLogins,
                                                   bool withPasswords);
    static std::shared_ptr<TBNError> error(int32_t category, int64_t id, const std::string& text);

    mutable std::mutex mutex_;
    VaultContent content_;
    std::optional<std::pair<int32_t, int64_t>> forcedError_;
    const std::unique_ptr<PhoneMobileStorage> mobileStorage_ =
        std::make_unique<PhoneMobileStorage>(*this);
};

}  // namespace lumvane::phonesim
