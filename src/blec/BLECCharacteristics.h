#pragma once
// The phone's GATT layout as the link sees it, and the encodings of its values.
// Every characteristic UUID is the service UUID with its second group replaced
// by the characteristic's code; UUIDs are compared as upper-case text.
#include <cstdint>
#include <optional>
#include <string>

#include "runtime/Bytes.h"

namespace lumvane::blec {

inline constexpr const char* kServiceUuid = "05550D60-F72F-11E5-97D7-0002A5D5C51B";

// "05550D60-<code>-11E5-97D7-0002A5D5C51B"
std::string characteristicUuid(const char* code);

// The four-hex-digit code of a characteristic of the phone's service, or nothing
// for any other UUID.
std::optional<std::string> characteristicCode(const std::string& uuid);

namespace code {
inline constexpr const char* kDeviceId = "A000";
inline constexpr const char* kDeviceName = "A001";
inline constexpr const char* kDeviceToken = "A002";
inline constexpr const char* kDeviceModel = "A003";
inline constexpr const char* kBatteryLevel = "A010";
inline constexpr const char* kBatteryState = "A011";
inline constexpr const char* kOsVersion = "A012";
inline constexpr const char* kAppVersion = "A020";
inline constexpr const char* kAppState = "A021";
inline constexpr const char* kDbUpdated = "A030";
inline constexpr const char* kCommunicate = "A040";
inline constexpr const char* kCommunicateDeliveredId = "A041";
inline constexpr const char* kCommunicate2 = "A042";
inline constexpr const char* kNeedCommunicate = "A050";
inline constexpr const char* kA051 = "A051";
inline constexpr const char* kAuthResponseData = "A060";
inline constexpr const char* kA061 = "A061";
}  // namespace code

// Value encodings: strings are UTF-8 without terminator (invalid UTF-8 gives
// nothing); 32-bit values are exactly 4 little-endian bytes (any other length
// reads as 0).
std::optional<std::string> decodeString(const Bytes& value);
Bytes encodeString(const std::string& value);
uint32_t decodeUInt32(const Bytes& value);
Bytes encodeUInt32(uint32_t value);

}  // namespace lumvane::blec
