#pragma once
// The Mac side of a phone link on the simulated radio, for tests and demos
// until the phone client drives connections: finds the phone that advertises a
// device id, makes its connection (BLECMutableThriftFactoryTransport), forwards
// the central's events to it and serves as both of its delegates (handing out
// the link key when one is set).
//
//   auto link = PhoneLinkHarness::create({.socketPath = air.socketPath()});
//   auto connection = link->connect(phone->deviceId());   // handshake started
//   auto transport = connection->transport();
//   TBNMobileStorageServiceClient client(makeCompactProtocol(transport));
//   client.getSitesCache(request);
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "blec/BLECMutableThriftFactoryTransport.h"
#include "blec/TBNBlecCentralManager.h"
#include "platform/ble/BleCentral.h"
#include "runtime/Clock.h"

namespace lumvane::phonesim {

struct PhoneLinkOptions {
    std::string socketPath;
    // The connection's clock (time-outs, watchdog); null: the steady clock.
    std::shared_ptr<Clock> clock;
    // The link key offered for requests and replies.
    std::optional<Bytes> key;
    // Pause after every request chunk (real time; 0.05 s on a real radio).
    double chunkPause = 0.0;
    uint16_t mtu = 517;
};

class PhoneLinkHarness : public ble::BleCentralDelegate,
                         public BLECMutableThriftTransportFactoryDelegate,
                         public BLECThriftTransportFactoryDelegate,
                         public std::enable_shared_from_this<PhoneLinkHarness> {
  public:
    static std::shared_ptr<PhoneLinkHarness> create(PhoneLinkOptions options);
    ~PhoneLinkHarness() override;

    // Scans for `deviceId`, connects and returns once the handshake has begun
    // (the connection takes requests from then on); null after `limit`.
    std::shared_ptr<BLECMutableThriftFactoryTransport> connect(
        const std::string& deviceId, std::chrono::milliseconds limit = std::chrono::seconds(10));
    std::shared_ptr<BLECMutableThriftFactoryTransport> connection() const;
    std::shared_ptr<BLECPeripheral> peripheral() const;
    std::shared_ptr<TBNBlecCentralManager> centralManager() const { return central_; }

    // Waits (real time) until `pred` holds; it is checked after every event.
    bool waitUntil(const std::function<bool()>& pred,
                   std::chrono::milliseconds limit = std::chrono::seconds(10));

    size_t foundCount() const;
    size_t lostCount() const;
    size_t deviceInfoUpdates() const;
    size_t dbUpdates() const;
    std::vector<std::string> disconnectedIds() const;

    // BleCentralDelegate
    void centralManagerDidUpdateState(ble::BleCentral&) override;
    void centralManagerDidDiscoverPeripheral(ble::BleCentral&,
                                             const std::shared_ptr<ble::BlePeripheral>&,
                                             const ble::AdvertisementData&, int) override;
    void centralManagerDidConnectPeripheral(ble::BleCentral&,
                                            const std::shared_ptr<ble::BlePeripheral>&) override;
    void centralManagerDidFailToConnectPeripheral(ble::BleCentral&,
                                                  const std::shared_ptr<ble::BlePeripheral>&,
                                                  const std::optional<ble::BleError>&) override;
    void centralManagerDidDisconnectPeripheral(ble::BleCentral&,
                                               const std::shared_ptr<ble::BlePeripheral>&,
                                               const std::optional<ble::BleError>&) override;

    // BLECMutableThriftTransportFactoryDelegate
    void blecThriftTransportFactoryDidFindDevice(BLECThriftTransportFactory&) override;
    void blecThriftTransportFactoryDidLostDevice(BLECThriftTransportFactory&) override;
    void blecThriftTransportFactory(BLECThriftTransportFactory&,
                                    const std::string& peripheralId) override;

    // BLECThriftTransportFactoryDelegate
    void blecThriftTransportFactoryDidDeviceInfoUpdated(BLECThriftTransportFactory&) override;
    void blecThriftTransportFactoryDidDBUpdated(BLECThriftTransportFactory&) override;
    using BLECThriftTransportFactoryDelegate::blecThriftTransportFactory;
    std::optional<Bytes> encryptKeyForBlecThriftTransportFactory(
        BLECThriftTransportFactory&) override;
    std::optional<std::vector<Bytes>> decryptKeysForBlecThriftTransportFactory(
        BLECThriftTransportFactory&) override;

    struct Token {};
    PhoneLinkHarness(Token, PhoneLinkOptions options);

  private:
    void changed();
    std::shared_ptr<BLECMutableThriftFactoryTransport> forwardTarget(
        const std::shared_ptr<ble::BlePeripheral>& p) const;

    const PhoneLinkOptions options_;
    std::shared_ptr<TBNBlecCentralManager> central_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::string wantedDeviceId_;
    std::optional<std::string> foundBleId_;
    std::shared_ptr<BLECPeripheral> peripheral_;
    size_t found_ = 0, lost_ = 0, infoUpdates_ = 0, dbUpdates_ = 0;
    std::vector<std::string> disconnected_;
};

}  // namespace lumvane::phonesim
