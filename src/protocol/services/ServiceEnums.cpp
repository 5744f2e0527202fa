#include "protocol/services/ServiceEnums.h"

namespace lumvane {

namespace {
struct SourceRow {
    int32_t value;
    const char* key;
    const char* name;  // null: not importable
};
constexpr SourceRow kSources[] = {
    {0, "LUMVANE_JSON", "Lumvane JSON"},        {1, "LUMVANE_CSV", "Lumvane CSV"},
    {2, "LASTPASS_CSV", "LastPass CSV"},        {3, "DASHLANE_CSV", "Dashlane CSV"},
    {4, "KEEPASS_CSV", "KeePass CSV"},          {5, "TRUEKEY_CSV", "TrueKey CSV"},
    {6, "1PASSWORD_CSV", "1Password CSV"},      {7, "DASHLANE_JSON", "Dashlane JSON"},
    {50, "GOOGLE_ACCOUNT", "Google Passwords"}, {51, "KEYCHAIN_WIFI_PASS", nullptr},
    {52, "KEYCHAIN_INTERNET_PASS", nullptr},
};
}  // namespace

std::optional<std::string> importSourceName(int32_t source) {
    for (const SourceRow& row : kSources) {
        if (row.value == source && row.name) return std::string(row.name);
    }
    return std::nullopt;
}

std::optional<std::string> importSourceKeyName(int32_t source) {
    for (const SourceRow& row : kSources) {
        if (row.value == source) return std::string(row.key);
    }
    return std::nullopt;
}

std::string exportDestinationName(int32_t destination) {
    switch (destination) {
        case 0:
            return "Lumvane JSON";
        case 1:
            return "Lumvane CSV";
        case 2:
            return "LastPass CSV";
        default:
            return "";
    }
}

}  // namespace lumvane
