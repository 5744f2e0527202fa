#pragma once
// Plain values of the Bluetooth LE central layer: states, advertisement data,
// errors and characteristic properties. UUIDs travel as text; the layer renders
// them upper-case (16-bit ones as four hex digits, e.g. "180A"; 128-bit ones in
// the 8-4-4-4-12 form), the way the link compares them.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/Bytes.h"

namespace lumvane::ble {

// Values and order follow the system the link was written for.
enum class CentralState : int {
    Unknown = 0,
    Resetting = 1,
    Unsupported = 2,
    Unauthorized = 3,
    PoweredOff = 4,
    PoweredOn = 5,
};

// Whether the system lets this application use Bluetooth (values as above).
enum class CentralAuthorization : int {
    NotDetermined = 0,
    Restricted = 1,
    Denied = 2,
    AllowedAlways = 3,
};

enum class PeripheralState { Disconnected, Connecting, Connected, Disconnecting };

enum class WriteType { WithResponse, WithoutResponse };

// GATT characteristic property bits.
namespace CharacteristicProperty {
inline constexpr uint32_t Broadcast = 0x01;
inline constexpr uint32_t Read = 0x02;
inline constexpr uint32_t WriteWithoutResponse = 0x04;
inline constexpr uint32_t Write = 0x08;
inline constexpr uint32_t Notify = 0x10;
inline constexpr uint32_t Indicate = 0x20;
}  // namespace CharacteristicProperty

// Largest attribute value GATT allows.
inline constexpr size_t kMaxAttributeValueLength = 512;

struct BleError {
    int code = 0;
    std::string message;
};

// One advertisement as a scan reports it; absent entries are nothing.
struct AdvertisementData {
    std::optional<std::string> localName;
    std::optional<std::vector<std::string>> serviceUuids;
    // Manufacturer-specific data including its two company-identifier bytes.
    std::optional<Bytes> manufacturerData;
    std::optional<bool> isConnectable;
    std::optional<int> txPowerLevel;

    // How many entries the advertisement carries.
    size_t entryCount() const {
        return size_t(localName.has_value()) + size_t(serviceUuids.has_value()) +
               size_t(manufacturerData.has_value()) + size_t(isConnectable.has_value()) +
               size_t(txPowerLevel.has_value());
    }
    bool operator==(const AdvertisementData&) const = default;
};

// "5" -> "CBCentralManagerStatePoweredOn" style names, for logs.
const char* centralStateName(CentralState state);

// Canonical text of a UUID: upper-case; nothing when the text is not a 16-, 32-
// or 128-bit UUID.
std::optional<std::string> canonicalUuid(const std::string& text);

}  // namespace lumvane::ble
