#pragma once
// Enumerations that travel as plain i32 fields of the service messages. Values outside
// these lists can arrive from peers and must be handled by whoever reads the field.
#include <cstdint>
#include <optional>
#include <string>

namespace lumvane {

// `source` of an import request; the names are the suffixes of the interface texts
// "IMPORT_SOURCE_<name>".
enum class TBNImportSource : int32_t {
    LUMVANE_JSON = 0,
    LUMVANE_CSV = 1,
    LASTPASS_CSV = 2,
    DASHLANE_CSV = 3,
    KEEPASS_CSV = 4,
    TRUEKEY_CSV = 5,
    ONEPASSWORD_CSV = 6,  // "1PASSWORD_CSV" in the interface texts
    DASHLANE_JSON = 7,
    GOOGLE_ACCOUNT = 50,
    KEYCHAIN_WIFI_PASS = 51,
    KEYCHAIN_INTERNET_PASS = 52,
};

// `destination` of an export request.
enum class TBNExportDestination : int32_t {
    LUMVANE_JSON = 0,
    LUMVANE_CSV = 1,
    LASTPASS_CSV = 2,
};

// `typeSerialize`: how `serializedRecords` holds its record collection.
enum class TBNSerializeType : int32_t {
    COMPACT = 0,        // the collection written with the compact protocol
    COMPACT_BZIP2 = 1,  // the same bytes compressed with bzip2
};

// `capitalization`, `digits` and `symbols` of a password request; any other value
// means "as the generator configuration says".
enum class TBNGeneratorSwitch : int32_t {
    OFF = 1,
    ON = 2,
};

// The name of an import source as sent in `sourceName` ("Lumvane JSON", ...); nothing
// for the sources that cannot be imported (51, 52) and for unknown values.
std::optional<std::string> importSourceName(int32_t source);
// The name of the value as the interface texts spell it ("1PASSWORD_CSV"), nothing for
// an unknown value.
std::optional<std::string> importSourceKeyName(int32_t source);
// The name sent in `destinationName`; "" for an unknown destination.
std::string exportDestinationName(int32_t destination);

}  // namespace lumvane
