#pragma once
// One connection to the phone: connects, discovers the phone's service and
// characteristics, reads the device id, subscribes to the communication
// channels, runs the handshake that reads the phone's information, keeps the
// device record up to date from the values the phone sends, routes reply chunks
// and acknowledgements to the request queue, and watches the connecting, set-up
// and disconnecting phases (update(), once a second).
//
// Getting a connected transport (what the phone client does): make the object
// with create() for a BLECPeripheral whose bleId the central knows, forward the
// central's connect / fail / disconnect events for that peripheral to it, call
// connect(), call update() every second. Once mDelegate hears
// blecThriftTransportFactoryDidFindDevice the phone takes requests: each RPC
// client gets its own transport() with the compact protocol.
#include <memory>
#include <optional>
#include <string>

#include "blec/BLECThriftTransportFactory.h"

namespace lumvane {

class BLECMutableThriftFactoryTransport : public BLECThriftTransportFactory,
                                          public ble::BleCentralDelegate {
  public:
    // initWithPrivateKey:cert:blecPeripheral:deviceInfo:blecCentralManager:andDelegate:
    // The key and certificate are kept for the caller's sake only. A null clock
    // is the steady clock.
    static std::shared_ptr<BLECMutableThriftFactoryTransport> create(
        const std::string& privateKey, const std::string& cert,
        const std::shared_ptr<BLECPeripheral>& blecPeripheral,
        const std::shared_ptr<BLECDeviceInfo>& deviceInfo,
        const std::shared_ptr<TBNBlecCentralManager>& blecCentralManager,
        std::weak_ptr<BLECMutableThriftTransportFactoryDelegate> delegate,
        std::shared_ptr<Clock> clock = nullptr);

    std::shared_ptr<BLECMutableThriftTransportFactoryDelegate> mDelegate() const {
        return mDelegate_.lock();
    }

    // True when the system was asked to connect; false when the central knows no
    // peripheral for the record.
    bool connect();
    void disconnect();
    // Applies the phase time-outs (connecting 10 s, set-up 10 s, disconnecting 5 s).
    void update();
    void reset();
    void startHandshake();
    void nextHandshakeWithRecievedData(const std::optional<Bytes>& data);
    void disconnectFromCurrentPeripheral() override;

    bool handshakeProcessing() const;
    std::optional<Clock::TimePoint> connectingTime() const;
    std::optional<Clock::TimePoint> processingTime() const;
    std::optional<Clock::TimePoint> disconnectingTime() const;

    static Bytes encodeUInt32(uint32_t value);
    static uint32_t decodeUInt32(const Bytes& value);
    static Bytes encodeString(const std::string& value);
    static std::optional<std::string> decodeString(const Bytes& value);

    // Central events (forwarded by the phone client).
    void centralManagerDidUpdateState(ble::BleCentral&) override {}
    void centralManagerDidConnectPeripheral(ble::BleCentral&,
                                            const std::shared_ptr<ble::BlePeripheral>&) override;
    void centralManagerDidFailToConnectPeripheral(ble::BleCentral&,
                                                  const std::shared_ptr<ble::BlePeripheral>&,
                                                  const std::optional<ble::BleError>&) override;
    void centralManagerDidDisconnectPeripheral(ble::BleCentral&,
                                               const std::shared_ptr<ble::BlePeripheral>&,
                                               const std::optional<ble::BleError>&) override;

    // Peripheral events (the connection is the system peripheral's delegate).
    void peripheralDidDiscoverServices(ble::BlePeripheral&,
                                       const std::optional<ble::BleError>&) override;
    void peripheralDidModifyServices(ble::BlePeripheral&,
                                     const std::vector<std::shared_ptr<ble::BleService>>&) override;
    void peripheralDidDiscoverCharacteristicsForService(
        ble::BlePeripheral&, const std::shared_ptr<ble::BleService>&,
        const std::optional<ble::BleError>&) override;
    void peripheralDidUpdateValueForCharacteristic(ble::BlePeripheral&,
                                                   const std::shared_ptr<ble::BleCharacteristic>&,
                                                   const std::optional<Bytes>&,
                                                   const std::optional<ble::BleError>&) override;
    void peripheralDidWriteValueForCharacteristic(ble::BlePeripheral&,
                                                  const std::shared_ptr<ble::BleCharacteristic>&,
                                                  const std::optional<ble::BleError>&) override;
    void peripheralDidUpdateNotificationStateForCharacteristic(
        ble::BlePeripheral&, const std::shared_ptr<ble::BleCharacteristic>&,
        const std::optional<ble::BleError>&) override;

    static constexpr double kConnectTimeout = 10;
    static constexpr double kProcessingTimeout = 10;
    static constexpr double kDisconnectTimeout = 5;

    // Public for make_shared; use create().
    struct Token {};
    BLECMutableThriftFactoryTransport(Token, const std::shared_ptr<BLECPeripheral>& blecPeripheral,
                                      const std::shared_ptr<TBNBlecCentralManager>& central,
                                      std::weak_ptr<BLECMutableThriftTransportFactoryDelegate> d,
                                      std::shared_ptr<Clock> clock);

  private:
    void handleValue(ble::BlePeripheral& peripheral,
                     const std::shared_ptr<ble::BleCharacteristic>& characteristic,
                     const Bytes& value);
    void tellDeviceInfoUpdated();
    void tellLost(bool lost);
    std::string describe() const;

    const std::weak_ptr<BLECMutableThriftTransportFactoryDelegate> mDelegate_;
    bool handshakeProcessing_ = false;
    std::optional<Clock::TimePoint> connectingTime_;
    std::optional<Clock::TimePoint> processingTime_;
    std::optional<Clock::TimePoint> disconnectingTime_;
};

}  // namespace lumvane
