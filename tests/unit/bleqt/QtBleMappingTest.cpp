#include <gtest/gtest.h>

#include <set>

#include "platform/ble/qt/QtBleMapping.h"

namespace lumvane::ble::qt {
namespace {

TEST(QtBleMapping, UuidTextUsesShortFormsOnlyOnTheBaseUuid) {
    struct Case {
        QBluetoothUuid uuid;
        std::string text;
    };
    const Case cases[] = {
        {QBluetoothUuid(quint16(0x180A)), "180A"},
        {QBluetoothUuid(quint16(0x2902)), "2902"},
        {QBluetoothUuid(quint16(0x0001)), "0001"},
        {QBluetoothUuid(quint32(0x12345678)), "12345678"},
        // The base UUID written out in full is still a 16-bit one.
        {QBluetoothUuid(QUuid::fromString(u"0000fe9f-0000-1000-8000-00805f9b34fb")), "FE9F"},
        // Off the base UUID: the full form, upper-case, without braces.
        {QBluetoothUuid(QUuid::fromString(u"{05550d60-a040-11e5-97d7-0002a5d5c51b}")),
         "05550D60-A040-11E5-97D7-0002A5D5C51B"},
        {QBluetoothUuid(QUuid::fromString(u"0000180a-0000-1000-8000-00805f9b34fc")),
         "0000180A-0000-1000-8000-00805F9B34FC"},
    };
    for (const auto& c : cases) EXPECT_EQ(uuidText(c.uuid), c.text) << c.text;
}

TEST(QtBleMapping, QtUuidAcceptsTheLayersFormsAndRefusesOthers) {
    const std::vector<std::string> good = {"180A", "180a", "12345678",
                                           "05550D60-F72F-11E5-97D7-0002A5D5C51B",
                                           "05550d60-f72f-11e5-97d7-0002a5d5c51b"};
    for (const auto& text : good) {
        auto u = qtUuid(text);
        ASSERT_TRUE(u.has_value()) << text;
        EXPECT_EQ(uuidText(*u), *canonicalUuid(text)) << text;
    }
    const std::vector<std::string> bad = {"",
                                          "18A",
                                          "180G",
                                          "{05550D60-F72F-11E5-97D7-0002A5D5C51B}",
                                          "05550D60F72F11E597D70002A5D5C51B",
                                          "123456789",
                                          "05550D60-F72F-11E5-97D7-0002A5D5C51"};
    for (const auto& text : bad) EXPECT_FALSE(qtUuid(text).has_value()) << text;
}

TEST(QtBleMapping, ManufacturerDataGetsItsCompanyIdentifierBackLittleEndian) {
    struct Case {
        quint16 company;
        QByteArray data;
        Bytes expected;
    };
    const Case cases[] = {
        {0x004C, QByteArray::fromHex("0102"), {0x4C, 0x00, 0x01, 0x02}},
        {0x1234, QByteArray(), {0x34, 0x12}},
        {0xFFFF, QByteArray::fromHex("00"), {0xFF, 0xFF, 0x00}},
    };
    for (const auto& c : cases) EXPECT_EQ(manufacturerDataBytes(c.company, c.data), c.expected);
}

// A phone advertising without a service list: 17 data bytes after Apple's company
// identifier. The rebuilt record must be the 19 bytes the matching rule reads:
// 4C 00 in front and the device-id mask at bytes 3..6.
TEST(QtBleMapping, PhoneManufacturerAdvertisementComesOutAsNineteenBytes) {
    QByteArray payload = QByteArray::fromHex(
        "10"
        "05550D60"
        "000000000000000000000000");
    ASSERT_EQ(payload.size(), 17);
    QBluetoothDeviceInfo info(QBluetoothAddress(QStringLiteral("4A:5B:6C:7D:8E:9F")), QString(), 0);
    info.setCoreConfigurations(QBluetoothDeviceInfo::LowEnergyCoreConfiguration);
    info.setManufacturerData(0x004C, payload);

    const AdvertisementData adv = advertisementFrom(info);
    ASSERT_TRUE(adv.manufacturerData.has_value());
    const Bytes& m = *adv.manufacturerData;
    ASSERT_EQ(m.size(), 19u);
    EXPECT_EQ(m[0], 0x4C);
    EXPECT_EQ(m[1], 0x00);
    EXPECT_EQ(m[2], 0x10);
    const uint8_t deviceIdHead[4] = {0x05, 0x55, 0x0D, 0x60};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(m[3 + i] & deviceIdHead[i], deviceIdHead[i]) << i;
    EXPECT_FALSE(adv.serviceUuids.has_value());
    EXPECT_FALSE(adv.localName.has_value());
    EXPECT_EQ(adv.entryCount(), 1u);
}

TEST(QtBleMapping, SeveralManufacturerEntriesPreferApple) {
    QBluetoothDeviceInfo info(QBluetoothAddress(QStringLiteral("00:11:22:33:44:55")), QString(), 0);
    info.setManufacturerData(0x0006, QByteArray::fromHex("AA"));
    info.setManufacturerData(0x0075, QByteArray::fromHex("BB"));
    EXPECT_EQ(manufacturerDataOf(info), (Bytes{0x06, 0x00, 0xAA}));
    info.setManufacturerData(0x004C, QByteArray::fromHex("CC"));
    EXPECT_EQ(manufacturerDataOf(info), (Bytes{0x4C, 0x00, 0xCC}));

    QBluetoothDeviceInfo none(QBluetoothAddress(QStringLiteral("00:11:22:33:44:56")), QString(), 0);
    EXPECT_FALSE(manufacturerDataOf(none).has_value());
}

TEST(QtBleMapping, AdvertisementCarriesNameAndServicesInTheLayersForms) {
    QBluetoothDeviceInfo info(QBluetoothAddress(QStringLiteral("aa:bb:cc:dd:ee:ff")),
                              QStringLiteral("Ann's phone"), 0);
    info.setServiceUuids(
        {QBluetoothUuid(QUuid::fromString(u"6f1c2e7a-3b3d-4b8f-9a51-0c8e6d2f4a10")),
         QBluetoothUuid(quint16(0x180F))});
    const AdvertisementData adv = advertisementFrom(info);
    EXPECT_EQ(adv.localName, std::optional<std::string>("Ann's phone"));
    ASSERT_TRUE(adv.serviceUuids.has_value());
    EXPECT_EQ(*adv.serviceUuids,
              (std::vector<std::string>{"6F1C2E7A-3B3D-4B8F-9A51-0C8E6D2F4A10", "180F"}));
    EXPECT_FALSE(adv.manufacturerData.has_value());
    // Qt does not say these; they must stay "not stated".
    EXPECT_FALSE(adv.isConnectable.has_value());
    EXPECT_FALSE(adv.txPowerLevel.has_value());
    EXPECT_EQ(addressText(info.address()), "AA:BB:CC:DD:EE:FF");
}

TEST(QtBleMapping, ServiceFilter) {
    AdvertisementData withList;
    withList.serviceUuids =
        std::vector<std::string>{"180F", "05550D60-F72F-11E5-97D7-0002A5D5C51B"};
    AdvertisementData without;
    without.manufacturerData = Bytes{0x4C, 0x00};
    struct Case {
        const AdvertisementData* adv;
        std::vector<std::string> filter;
        bool passes;
    };
    const Case cases[] = {
        {&withList, {}, true},
        {&without, {}, true},
        {&withList, {"180f"}, true},
        {&withList, {"05550d60-f72f-11e5-97d7-0002a5d5c51b"}, true},
        {&withList, {"180A", "180F"}, true},
        {&withList, {"180A"}, false},
        {&without, {"180F"}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(passesServiceFilter(*c.adv, c.filter), c.passes);
}

TEST(QtBleMapping, CentralStates) {
    struct Case {
        bool valid;
        QBluetoothLocalDevice::HostMode mode;
        CentralState state;
    };
    const Case cases[] = {
        {false, QBluetoothLocalDevice::HostPoweredOff, CentralState::Unsupported},
        {false, QBluetoothLocalDevice::HostConnectable, CentralState::Unsupported},
        {true, QBluetoothLocalDevice::HostPoweredOff, CentralState::PoweredOff},
        {true, QBluetoothLocalDevice::HostConnectable, CentralState::PoweredOn},
        {true, QBluetoothLocalDevice::HostDiscoverable, CentralState::PoweredOn},
        {true, QBluetoothLocalDevice::HostDiscoverableLimitedInquiry, CentralState::PoweredOn},
    };
    for (const auto& c : cases)
        EXPECT_EQ(centralStateFor(c.valid, c.mode), c.state) << c.valid << " " << int(c.mode);
}

TEST(QtBleMapping, CharacteristicProperties) {
    using P = QLowEnergyCharacteristic;
    struct Case {
        QLowEnergyCharacteristic::PropertyTypes qt;
        uint32_t bits;
    };
    const Case cases[] = {
        {P::Unknown, 0},
        {P::Read, CharacteristicProperty::Read},
        {P::Read | P::Notify, CharacteristicProperty::Read | CharacteristicProperty::Notify},
        {P::Write | P::WriteNoResponse,
         CharacteristicProperty::Write | CharacteristicProperty::WriteWithoutResponse},
        {P::Indicate | P::Broadcasting,
         CharacteristicProperty::Indicate | CharacteristicProperty::Broadcast},
        // Bits the layer has no name for are left out.
        {P::WriteSigned | P::ExtendedProperty | P::Read, CharacteristicProperty::Read},
    };
    for (const auto& c : cases) EXPECT_EQ(characteristicProperties(c.qt), c.bits);
}

TEST(QtBleMapping, ErrorsKeepQtsCodeWithTheirOwnText) {
    EXPECT_FALSE(controllerError(QLowEnergyController::NoError).has_value());
    EXPECT_FALSE(serviceError(QLowEnergyService::NoError).has_value());
    EXPECT_FALSE(discoveryError(QBluetoothDeviceDiscoveryAgent::NoError).has_value());

    std::set<std::string> texts;
    for (auto e :
         {QLowEnergyController::UnknownError, QLowEnergyController::UnknownRemoteDeviceError,
          QLowEnergyController::NetworkError, QLowEnergyController::InvalidBluetoothAdapterError,
          QLowEnergyController::ConnectionError, QLowEnergyController::AdvertisingError,
          QLowEnergyController::RemoteHostClosedError, QLowEnergyController::AuthorizationError,
          QLowEnergyController::MissingPermissionsError}) {
        auto err = controllerError(e);
        ASSERT_TRUE(err.has_value());
        EXPECT_EQ(err->code, int(e));
        EXPECT_TRUE(texts.insert(err->message).second) << err->message;
    }
    texts.clear();
    for (auto e :
         {QLowEnergyService::OperationError, QLowEnergyService::CharacteristicWriteError,
          QLowEnergyService::DescriptorWriteError, QLowEnergyService::UnknownError,
          QLowEnergyService::CharacteristicReadError, QLowEnergyService::DescriptorReadError}) {
        auto err = serviceError(e);
        ASSERT_TRUE(err.has_value());
        EXPECT_EQ(err->code, int(e));
        EXPECT_TRUE(texts.insert(err->message).second) << err->message;
    }
    auto off = discoveryError(QBluetoothDeviceDiscoveryAgent::PoweredOffError);
    ASSERT_TRUE(off.has_value());
    EXPECT_EQ(off->code, int(QBluetoothDeviceDiscoveryAgent::PoweredOffError));
}

TEST(QtBleMapping, ClientConfigurationValues) {
    struct Case {
        bool enabled;
        uint32_t properties;
        QByteArray value;
    };
    const Case cases[] = {
        {true, CharacteristicProperty::Notify, QByteArray::fromHex("0100")},
        {true, CharacteristicProperty::Notify | CharacteristicProperty::Indicate,
         QByteArray::fromHex("0100")},
        {true, CharacteristicProperty::Indicate, QByteArray::fromHex("0200")},
        {false, CharacteristicProperty::Notify, QByteArray::fromHex("0000")},
        {false, CharacteristicProperty::Indicate, QByteArray::fromHex("0000")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(clientConfigurationValue(c.enabled, c.properties), c.value);
}

}  // namespace
}  // namespace lumvane::ble::qt

namespace lumvane::ble::qt {
namespace {

TEST(QtBleScanReports, DuplicatesOnlyWhenAskedForOrWhenTheDataChange) {
    AdvertisementData phone;
    phone.serviceUuids = std::vector<std::string>{"6F1C2E7A-3B3D-4B8F-9A51-0C8E6D2F4A10"};
    AdvertisementData phoneRenamed = phone;
    phoneRenamed.localName = "Ann";
    AdvertisementData beacon;
    beacon.manufacturerData = Bytes{0x4C, 0x00, 0x02};

    struct Step {
        std::string id;
        const AdvertisementData* adv;
        bool reported;
    };
    ScanReportFilter once;
    once.start({}, false);
    const Step without[] = {
        {"A", &phone, true},        {"A", &phone, false},        {"B", &phone, true},
        {"A", &phoneRenamed, true}, {"A", &phoneRenamed, false}, {"A", &phone, true},
        {"C", &beacon, true},       {"C", &beacon, false},
    };
    for (const auto& s : without) EXPECT_EQ(once.shouldReport(s.id, *s.adv), s.reported) << s.id;
    // A new scan reports everything again.
    once.start({}, false);
    EXPECT_TRUE(once.shouldReport("A", phone));

    ScanReportFilter every;
    every.start({}, true);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(every.shouldReport("A", phone));

    ScanReportFilter filtered;
    filtered.start({"6f1c2e7a-3b3d-4b8f-9a51-0c8e6d2f4a10"}, true);
    EXPECT_TRUE(filtered.shouldReport("A", phone));
    EXPECT_FALSE(filtered.shouldReport("C", beacon));
}

}  // namespace
}  // namespace lumvane::ble::qt
