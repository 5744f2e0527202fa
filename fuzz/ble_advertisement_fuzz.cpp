// What any phone-shaped device in range can send: its advertisement, as Qt Bluetooth
// reports it (service UUIDs, manufacturer entries) and as the central layer carries it,
// matched against the phone looked for; and the values of its characteristics, through
// the decoders the link reads them with.
//
// The rule's answers are checked against the rule itself: a service match names one of
// the two UUIDs, a manufacturer match is a 19-byte Apple entry carrying the device id's
// bits. Decoded strings are exactly the valid UTF-8 values, UUID texts are canonical.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "blec/BLECCharacteristics.h"
#include "blec/BLECClient.h"
#include "platform/ble/BleTypes.h"

#ifdef LUMVANE_HAVE_QT_BLE
#include "platform/ble/qt/QtBleMapping.h"
#endif

namespace {

using namespace lumvane;
using Match = BLECClient::Match;

bool strictUtf8(const std::string& s) {
    try {
        (void)nlohmann::json(s).dump();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

void checkUuidText(const std::optional<std::string>& uuid) {
    if (uuid && (uuid->size() != 36 || ble::canonicalUuid(*uuid) != uuid)) std::abort();
}

void checkMatch(const ble::AdvertisementData& ad, const std::optional<std::string>& id,
                const std::optional<std::string>& token) {
    const Match match = BLECClient::matchAdvertisement(ad, id, token);
    if (match == Match::ServiceUuid) {
        bool named = false;
        for (const auto& s : *ad.serviceUuids) {
            auto c = ble::canonicalUuid(s);
            named = named || (c && (c == id || c == token));
        }
        if (!named) std::abort();
    } else if (match == Match::ManufacturerData) {
        const auto& m = ad.manufacturerData;
        if (ad.serviceUuids || token || !id || !m || m->size() != 19 || (*m)[0] != 0x4C ||
            (*m)[1] != 0x00)
            std::abort();
    }
}

// The characteristic decoders over one value.
void decodeValue(const std::string& code, const Bytes& value) {
    const auto decoded = blec::decodeString(value);
    const std::string text(value.begin(), value.end());
    if (decoded.has_value() != strictUtf8(text)) std::abort();
    if (decoded && (*decoded != text || blec::encodeString(*decoded) != value)) std::abort();
    const uint32_t number = blec::decodeUInt32(value);
    if (value.size() == 4 ? blec::encodeUInt32(number) != value : number != 0) std::abort();
    if (code.find('\0') == std::string::npos) {
        const auto back = blec::characteristicCode(blec::characteristicUuid(code.c_str()));
        if (code.size() == 4 && back != code) std::abort();
        if (back && back->size() != 4) std::abort();
    }
    if (auto c = blec::characteristicCode(text); c && c->size() != 4) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    const auto id = BLECClient::deviceIdUuid(in.ConsumeRandomLengthString(48));
    const auto token = (flags & 1) ? BLECClient::authTokenUuid(in.ConsumeRandomLengthString(20))
                                   : std::nullopt;
    checkUuidText(id);
    checkUuidText(token);

    ble::AdvertisementData ad;
    if (flags & 2) {
        std::vector<std::string> services;
        const size_t n = in.ConsumeIntegralInRange<size_t>(0, 8);
        for (size_t i = 0; i < n; ++i) services.push_back(in.ConsumeRandomLengthString(40));
        for (const auto& s : services) {
            auto c = ble::canonicalUuid(s);
            if (c && ble::canonicalUuid(*c) != c) std::abort();
        }
        ad.serviceUuids = std::move(services);
    }
    if (flags & 4) {
        const auto bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 32));
        ad.manufacturerData = Bytes(bytes.begin(), bytes.end());
    }
    checkMatch(ad, id, token);

#ifdef LUMVANE_HAVE_QT_BLE
    if (flags & 8) {
        // The same through Qt's scan record: 16- and 128-bit service UUIDs and several
        // manufacturer entries.
        QBluetoothDeviceInfo info(QBluetoothAddress(in.ConsumeIntegral<uint64_t>()),
                                  QString::fromStdString(in.ConsumeRandomLengthString(16)), 0);
        QList<QBluetoothUuid> uuids;
        const size_t n = in.ConsumeIntegralInRange<size_t>(0, 4);
        for (size_t i = 0; i < n; ++i) {
            if (in.ConsumeBool()) {
                uuids.push_back(QBluetoothUuid(in.ConsumeIntegral<quint16>()));
            } else {
                quint128 raw{};
                const auto bytes = in.ConsumeBytes<uint8_t>(16);
                std::copy(bytes.begin(), bytes.end(), raw.data);
                uuids.push_back(QBluetoothUuid(raw));
            }
        }
        info.setServiceUuids(uuids);
        const size_t entries = in.ConsumeIntegralInRange<size_t>(0, 3);
        bool apple = false;
        for (size_t i = 0; i < entries; ++i) {
            const quint16 company = in.ConsumeBool() ? 0x004C : in.ConsumeIntegral<quint16>();
            apple = apple || company == 0x004C;
            const auto bytes = in.ConsumeBytes<char>(in.ConsumeIntegralInRange<size_t>(0, 24));
            info.setManufacturerData(company, QByteArray(bytes.data(), qsizetype(bytes.size())));
        }
        const ble::AdvertisementData fromQt = ble::qt::advertisementFrom(info);
        for (const auto& u : uuids) {
            const std::string text = ble::qt::uuidText(u);
            if (ble::canonicalUuid(text) != text || ble::qt::qtUuid(text) != u) std::abort();
        }
        if (apple && (!fromQt.manufacturerData || fromQt.manufacturerData->size() < 2 ||
                      (*fromQt.manufacturerData)[0] != 0x4C || (*fromQt.manufacturerData)[1] != 0))
            std::abort();
        checkMatch(fromQt, id, token);
    }
#endif

    const std::string code = in.ConsumeRandomLengthString(6);
    const auto rest = in.ConsumeRemainingBytes<uint8_t>();
    decodeValue(code, Bytes(rest.begin(), rest.end()));
    return 0;
}
