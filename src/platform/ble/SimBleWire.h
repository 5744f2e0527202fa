#pragma once
// The simulated radio's socket protocol. Centrals and peripherals connect to the
// "air" (a hub listening on a Unix socket) and exchange frames with it:
//
//   frame = length u32 LE (of what follows, 1..kMaxFrameLength) | op u8 | fields
//
// Fields are fixed-width little-endian integers, strings and byte strings with a
// u16 length, lists with a u16 count. Every length and count is bounded; a frame
// that breaks a bound or does not parse ends the connection that sent it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ble/BleTypes.h"

namespace lumvane::ble::sim {

inline constexpr uint32_t kMaxFrameLength = 64 * 1024;
inline constexpr size_t kMaxStringLength = 255;
inline constexpr size_t kMaxManufacturerDataLength = 255;
inline constexpr size_t kMaxListCount = 512;
inline constexpr uint16_t kDefaultMtu = 185;
inline constexpr uint16_t kMinMtu = 23;
inline constexpr uint16_t kMaxMtu = 517;

enum class Role : uint8_t { Central = 1, Peripheral = 2 };

// Status codes in answers (ATT error codes where one fits).
namespace Status {
inline constexpr uint8_t Ok = 0;
inline constexpr uint8_t ReadNotPermitted = 0x02;
inline constexpr uint8_t WriteNotPermitted = 0x03;
inline constexpr uint8_t InvalidAttributeLength = 0x0D;
inline constexpr uint8_t UnlikelyError = 0x0E;
inline constexpr uint8_t NotConnected = 0x80;
inline constexpr uint8_t UnknownAttribute = 0x81;
inline constexpr uint8_t NotSupported = 0x82;
}  // namespace Status

enum class Op : uint8_t {
    Hello = 1,                     // role, identifier, name?, mtu
    State = 3,                     // air -> central: radio state
    Advertise = 10,                // peripheral: adv
    StopAdvertise = 11,            // peripheral
    PublishGatt = 12,              // peripheral: gatt
    Notify = 13,                   // peripheral: central, service, characteristic, value
    ReadResponse = 14,             // peripheral: txn, status, value
    WriteResponse = 15,            // peripheral: txn, status
    DisconnectCentral = 16,        // peripheral: central
    ScanStart = 20,                // central: flag (duplicates), uuids (filter)
    ScanStop = 21,                 // central
    Connect = 22,                  // central: peer
    Cancel = 23,                   // central: peer
    DiscoverServices = 24,         // central: peer
    DiscoverCharacteristics = 25,  // central: peer, service
    Read = 26,                     // central: peer, service, characteristic
    Write = 27,                    // central: peer, service, characteristic, flag (response), value
    Subscribe = 28,                // central: peer, service, characteristic, flag (enable)
    AdvReport = 40,                // air -> central: peer, name?, rssi, adv
    Connected = 41,                // air -> central: peer, mtu
    ConnectFailed = 42,            // air -> central: peer, error
    Disconnected = 43,             // air -> central: peer, error
    Services = 44,                 // air -> central: peer, status, uuids
    Characteristics = 45,          // air -> central: peer, service, status, gatt[0].characteristics
    Value = 46,                    // air -> central: peer, service, characteristic, status, value
    WriteResult = 47,              // air -> central: peer, service, characteristic, status
    NotifyState = 48,              // air -> central: peer, service, characteristic, status, flag
    ServicesChanged = 49,          // air -> central: peer, uuids (invalidated)
    CentralConnected = 60,         // air -> peripheral: central, mtu
    CentralDisconnected = 61,      // air -> peripheral: central
    ReadRequest = 62,              // air -> peripheral: txn, central, service, characteristic
    WriteRequest = 63,      // air -> peripheral: txn, central, service, characteristic, flag, value
    SubscribeRequest = 64,  // air -> peripheral: central, service, characteristic, flag
};

struct GattCharacteristicInfo {
    std::string uuid;
    uint32_t properties = 0;
    bool operator==(const GattCharacteristicInfo&) const = default;
};

struct GattServiceInfo {
    std::string uuid;
    std::vector<GattCharacteristicInfo> characteristics;
    bool operator==(const GattServiceInfo&) const = default;
};

// One decoded frame; only the fields of its op are meaningful.
struct Message {
    Op op = Op::Hello;
    Role role = Role::Central;
    std::string identifier;
    std::optional<std::string> name;
    std::string peer;
    std::string central;
    std::string service;
    std::string characteristic;
    std::string error;
    uint16_t mtu = 0;
    uint32_t txn = 0;
    uint8_t status = 0;
    uint8_t state = 0;
    bool flag = false;
    int8_t rssi = 0;
    Bytes value;
    AdvertisementData adv;
    std::vector<std::string> uuids;
    std::vector<GattServiceInfo> gatt;

    bool operator==(const Message&) const = default;
};

class WireError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The frame (with its length prefix) of a message. Throws WireError when a field
// is beyond its bound.
Bytes encodeFrame(const Message& message);

// The message in a frame body (without the length prefix). Throws WireError.
Message decodeBody(std::span<const uint8_t> body);

// Cuts a byte stream into frame bodies. After an error the reader stays failed.
class FrameReader {
  public:
    // Appends received bytes. Throws WireError (and stays failed) on a length
    // prefix of 0 or above kMaxFrameLength.
    void feed(std::span<const uint8_t> bytes);
    // The next complete frame body, if one is there.
    std::optional<Bytes> next();
    bool failed() const { return failed_; }
    size_t buffered() const { return buffer_.size() - start_; }

  private:
    void check();

    Bytes buffer_;
    size_t start_ = 0;
    bool failed_ = false;
};

}  // namespace lumvane::ble::sim
