#include "platform/ble/qt/QtBleMapping.h"

#include <QBluetoothDeviceDiscoveryAgent>
#include <QUuid>
#include <cstdio>

namespace lumvane::ble::qt {

std::string uuidText(const QBluetoothUuid& uuid) {
    bool ok = false;
    char buf[16];
    const quint16 u16 = uuid.toUInt16(&ok);
    if (ok) {
        std::snprintf(buf, sizeof buf, "%04X", unsigned(u16));
        return buf;
    }
    const quint32 u32 = uuid.toUInt32(&ok);
    if (ok) {
        std::snprintf(buf, sizeof buf, "%08X", unsigned(u32));
        return buf;
    }
    return uuid.toString(QUuid::WithoutBraces).toUpper().toStdString();
}

std::optional<QBluetoothUuid> qtUuid(const std::string& text) {
    auto canon = canonicalUuid(text);
    if (!canon) return std::nullopt;
    if (canon->size() == 4) return QBluetoothUuid(quint16(std::stoul(*canon, nullptr, 16)));
    if (canon->size() == 8) return QBluetoothUuid(quint32(std::stoul(*canon, nullptr, 16)));
    QUuid q = QUuid::fromString(QString::fromStdString(*canon));
    if (q.isNull() && *canon != "00000000-0000-0000-0000-000000000000") return std::nullopt;
    return QBluetoothUuid(q);
}

std::string addressText(const QBluetoothAddress& address) {
    return address.toString().toStdString();
}

Bytes manufacturerDataBytes(quint16 companyId, const QByteArray& data) {
    Bytes out;
    out.reserve(2 + size_t(data.size()));
    out.push_back(uint8_t(companyId & 0xff));
    out.push_back(uint8_t(companyId >> 8));
    out.insert(out.end(), reinterpret_cast<const uint8_t*>(data.constData()),
               reinterpret_cast<const uint8_t*>(data.constData()) + data.size());
    return out;
}

std::optional<Bytes> manufacturerDataOf(const QBluetoothDeviceInfo& info) {
    const auto ids = info.manufacturerIds();
    if (ids.isEmpty()) return std::nullopt;
    constexpr quint16 kApple = 0x004C;
    quint16 pick = ids.front();
    for (quint16 id : ids) {
        if (id == kApple) {
            pick = id;
            break;
        }
        if (id < pick) pick = id;
    }
    return manufacturerDataBytes(pick, info.manufacturerData(pick));
}

AdvertisementData advertisementFrom(const QBluetoothDeviceInfo& info) {
    AdvertisementData adv;
    if (!info.name().isEmpty()) adv.localName = info.name().toStdString();
    const auto uuids = info.serviceUuids();
    if (!uuids.isEmpty()) {
        std::vector<std::string> list;
        list.reserve(size_t(uuids.size()));
        for (const auto& u : uuids) list.push_back(uuidText(u));
        adv.serviceUuids = std::move(list);
    }
    adv.manufacturerData = manufacturerDataOf(info);
    // Qt reports neither connectability nor transmit power of an advertisement:
    // both stay absent ("not stated"), never guessed.
    return adv;
}

bool passesServiceFilter(const AdvertisementData& adv, const std::vector<std::string>& filter) {
    if (filter.empty()) return true;
    if (!adv.serviceUuids) return false;
    for (const auto& want : filter) {
        const std::string w = canonicalUuid(want).value_or(want);
        for (const auto& have : *adv.serviceUuids) {
            if (have == w) return true;
        }
    }
    return false;
}

void ScanReportFilter::start(std::vector<std::string> serviceFilter, bool allowDuplicates) {
    serviceFilter_ = std::move(serviceFilter);
    allowDuplicates_ = allowDuplicates;
    reported_.clear();
}

bool ScanReportFilter::shouldReport(const std::string& identifier, const AdvertisementData& adv) {
    if (!passesServiceFilter(adv, serviceFilter_)) return false;
    if (allowDuplicates_) return true;
    auto it = reported_.find(identifier);
    if (it != reported_.end() && it->second == adv) return false;
    reported_[identifier] = adv;
    return true;
}

CentralState centralStateFor(bool adapterValid, QBluetoothLocalDevice::HostMode mode) {
    if (!adapterValid) return CentralState::Unsupported;
    switch (mode) {
        case QBluetoothLocalDevice::HostPoweredOff:
            return CentralState::PoweredOff;
        case QBluetoothLocalDevice::HostConnectable:
        case QBluetoothLocalDevice::HostDiscoverable:
        case QBluetoothLocalDevice::HostDiscoverableLimitedInquiry:
            return CentralState::PoweredOn;
    }
    return CentralState::Unknown;
}

uint32_t characteristicProperties(QLowEnergyCharacteristic::PropertyTypes types) {
    uint32_t out = 0;
    if (types & QLowEnergyCharacteristic::Broadcasting) out |= CharacteristicProperty::Broadcast;
    if (types & QLowEnergyCharacteristic::Read) out |= CharacteristicProperty::Read;
    if (types & QLowEnergyCharacteristic::WriteNoResponse)
        out |= CharacteristicProperty::WriteWithoutResponse;
    if (types & QLowEnergyCharacteristic::Write) out |= CharacteristicProperty::Write;
    if (types & QLowEnergyCharacteristic::Notify) out |= CharacteristicProperty::Notify;
    if (types & QLowEnergyCharacteristic::Indicate) out |= CharacteristicProperty::Indicate;
    return out;
}

std::optional<BleError> controllerError(QLowEnergyController::Error error) {
    const int code = int(error);
    switch (error) {
        case QLowEnergyController::NoError:
            return std::nullopt;
        case QLowEnergyController::UnknownRemoteDeviceError:
            return BleError{code, "unknown remote device"};
        case QLowEnergyController::NetworkError:
            return BleError{code, "network error"};
        case QLowEnergyController::InvalidBluetoothAdapterError:
            return BleError{code, "no Bluetooth adapter"};
        case QLowEnergyController::ConnectionError:
            return BleError{code, "connection failed"};
        case QLowEnergyController::AdvertisingError:
            return BleError{code, "advertising error"};
        case QLowEnergyController::RemoteHostClosedError:
            return BleError{code, "remote host closed the connection"};
        case QLowEnergyController::AuthorizationError:
            return BleError{code, "not authorized"};
        case QLowEnergyController::MissingPermissionsError:
            return BleError{code, "missing permissions"};
        default:
            return BleError{code, "unknown error"};
    }
}

std::optional<BleError> serviceError(QLowEnergyService::ServiceError error) {
    const int code = int(error);
    switch (error) {
        case QLowEnergyService::NoError:
            return std::nullopt;
        case QLowEnergyService::OperationError:
            return BleError{code, "operation not possible in this state"};
        case QLowEnergyService::CharacteristicWriteError:
            return BleError{code, "characteristic write failed"};
        case QLowEnergyService::DescriptorWriteError:
            return BleError{code, "descriptor write failed"};
        case QLowEnergyService::CharacteristicReadError:
            return BleError{code, "characteristic read failed"};
        case QLowEnergyService::DescriptorReadError:
            return BleError{code, "descriptor read failed"};
        default:
            return BleError{code, "unknown error"};
    }
}

std::optional<BleError> discoveryError(QBluetoothDeviceDiscoveryAgent::Error error) {
    const int code = int(error);
    switch (error) {
        case QBluetoothDeviceDiscoveryAgent::NoError:
            return std::nullopt;
        case QBluetoothDeviceDiscoveryAgent::PoweredOffError:
            return BleError{code, "Bluetooth is powered off"};
        case QBluetoothDeviceDiscoveryAgent::InvalidBluetoothAdapterError:
            return BleError{code, "no Bluetooth adapter"};
        case QBluetoothDeviceDiscoveryAgent::UnsupportedDiscoveryMethod:
            return BleError{code, "low-energy discovery not supported"};
        case QBluetoothDeviceDiscoveryAgent::MissingPermissionsError:
            return BleError{code, "missing permissions"};
        default:
            return BleError{code, "discovery failed"};
    }
}

QByteArray clientConfigurationValue(bool enabled, uint32_t properties) {
    // 0x0001 notifications, 0x0002 indications, little-endian.
    if (!enabled) return QByteArray::fromHex("0000");
    if (!(properties & CharacteristicProperty::Notify) &&
        (properties & CharacteristicProperty::Indicate))
        return QByteArray::fromHex("0200");
    return QByteArray::fromHex("0100");
}

}  // namespace lumvane::ble::qt
