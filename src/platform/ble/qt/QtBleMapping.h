#pragma once
// Plain translations between Qt Bluetooth values and those of the central layer.
// They hold no state and need no radio.
#include <QBluetoothAddress>
#include <QBluetoothDeviceDiscoveryAgent>
#include <QBluetoothDeviceInfo>
#include <QBluetoothLocalDevice>
#include <QBluetoothUuid>
#include <QByteArray>
#include <QLowEnergyCharacteristic>
#include <QLowEnergyController>
#include <QLowEnergyService>
#include <map>
#include <optional>
#include <string>

#include "platform/ble/BleTypes.h"

namespace lumvane::ble::qt {

// Upper-case text of a UUID: four hex digits for a 16-bit one, eight for a
// 32-bit one (both on the Bluetooth base UUID), else the 8-4-4-4-12 form.
std::string uuidText(const QBluetoothUuid& uuid);
// The Qt UUID of any text canonicalUuid() accepts; nothing for other text.
std::optional<QBluetoothUuid> qtUuid(const std::string& text);

// The peripheral identifier: the device address as BlueZ writes it.
std::string addressText(const QBluetoothAddress& address);

// Manufacturer data as one byte string: Qt keeps the company identifier apart,
// the layer carries it in front, little-endian, as it was on the air.
Bytes manufacturerDataBytes(quint16 companyId, const QByteArray& data);
// The manufacturer entry of a scan result. An advertisement carries one in
// practice; when BlueZ holds several for a device, Apple's (0x004C) is the one
// phones send, else the lowest company identifier is taken.
std::optional<Bytes> manufacturerDataOf(const QBluetoothDeviceInfo& info);
// One scan result as the layer's advertisement record.
AdvertisementData advertisementFrom(const QBluetoothDeviceInfo& info);
// Whether an advertisement passes a scan's service filter (empty: everything).
bool passesServiceFilter(const AdvertisementData& adv, const std::vector<std::string>& filter);

// Which scan results reach the delegate. With duplicates every one does; without,
// one per peripheral and scan, and again whenever its advertisement changes.
class ScanReportFilter {
  public:
    void start(std::vector<std::string> serviceFilter, bool allowDuplicates);
    bool shouldReport(const std::string& identifier, const AdvertisementData& adv);

  private:
    std::vector<std::string> serviceFilter_;
    bool allowDuplicates_ = false;
    std::map<std::string, AdvertisementData> reported_;
};

// Adapter presence and host mode -> central state.
CentralState centralStateFor(bool adapterValid, QBluetoothLocalDevice::HostMode mode);
// Qt characteristic properties -> GATT property bits of the layer.
uint32_t characteristicProperties(QLowEnergyCharacteristic::PropertyTypes types);
// Qt errors -> layer errors (code = Qt's value, fixed text). NoError gives nothing.
std::optional<BleError> controllerError(QLowEnergyController::Error error);
std::optional<BleError> serviceError(QLowEnergyService::ServiceError error);
std::optional<BleError> discoveryError(QBluetoothDeviceDiscoveryAgent::Error error);

// Client characteristic configuration value for a subscription change.
QByteArray clientConfigurationValue(bool enabled, uint32_t properties);

}  // namespace lumvane::ble::qt
