#pragma once
// The phone client: the one Bluetooth LE central client of the phone link. It
// scans for the paired phone (advertising its device id) or, in pairing mode,
// for a phone advertising the pairing token, builds exactly one connection
// (BLECMutableThriftFactoryTransport) for the phone it picks, forwards the
// central's connection events to it, runs its watchdog once a second, and tells
// its delegate about Bluetooth power, pairing progress, connections that can
// carry RPC calls, their loss, and a paired phone that now reports another
// device id.
//
//   auto client = BLECClient::create(key, cert, {.centralFactory = factory});
//   client->setDelegate(service);
//   client->startForDeviceId(deviceId, bleId);   // or startForAuthToken(token)
//   ...  delegate: blecClientDidFindTransportFactory(client, connection)
//   client->stop();
//
// A connection on another Bluetooth identifier than the paired phone's is handed
// over only when the device id it reads from the phone is the paired one; a
// look-alike that merely copies the advertisement is dropped and left alone for
// a while instead (the paired record stays as it is).
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "blec/BLECDeviceInfo.h"
#include "blec/BLECMutableThriftFactoryTransport.h"
#include "blec/TBNBlecCentralManager.h"
#include "blec/TBNBlecPeripheralStore.h"
#include "blec/TBNBlecPeriphialValidator.h"
#include "platform/ble/BleCentral.h"
#include "runtime/Clock.h"

namespace lumvane {

class BLECClient;
class DispatchQueue;

// What the client reports (the remote phone service). Operations run
// synchronously on the client's threads, several under its peripherals lock:
// never call back into the client synchronously from them. The Bluetooth state
// change runs asynchronously on the client's delegate queue.
class BLECClientDelegate {
  public:
    virtual ~BLECClientDelegate() = default;
    // blecClient:didBluetoothStateChange: powered on (true) or unknown, resetting
    // or powered off (false).
    virtual void blecClientDidBluetoothStateChange(BLECClient& client, bool on) = 0;
    // blecClient:getPairedDeviceInfoByBLEId: what is stored about a peripheral, to
    // seed its connection; null when nothing is.
    virtual std::shared_ptr<BLECMutableDeviceInfo> blecClientGetPairedDeviceInfoByBLEId(
        BLECClient& client, const std::string& bleId) = 0;
    // blecClient:didFindTransportFactory: once per connection, when it has read the
    // phone's device id, started its handshake and passed the identity check.
    virtual void blecClientDidFindTransportFactory(
        BLECClient& client,
        const std::shared_ptr<BLECMutableThriftFactoryTransport>& transport) = 0;
    // blecClient:didLostTransportFactory: the connection was lost, disconnected or
    // stopped. Null for a late disconnection after the client dropped its phone.
    virtual void blecClientDidLostTransportFactory(
        BLECClient& client,
        const std::shared_ptr<BLECMutableThriftFactoryTransport>& transport) = 0;
    // The peripheral known as the paired phone reports another device id.
    virtual void blecClientDidInvalidateDeviceId(BLECClient& client) = 0;
    // Pairing mode only: the (localised) text of a pairing status key.
    virtual void blecClientDidChangePairingStatus(BLECClient& client,
                                                  const std::string& status) = 0;
};

// How a client is built; unset members take the process-wide objects.
struct BLECClientOptions {
    // Makes the central; empty: the program's central (ble::createBleCentral).
    // bleCentralFactoryForSpec("sim:PATH") gives the simulated radio.
    ble::BleCentralFactory centralFactory;
    // Known-peripheral store; null: the shared store.
    TBNBlecPeripheralStore* peripheralStore = nullptr;
    // Time-outs, the 1 s loop and the connections' watchdogs; null: steady.
    std::shared_ptr<Clock> clock;
    // Where the Bluetooth state reports run, in order; null: a serial queue of the
    // client's own (on and off never overtake each other).
    std::shared_ptr<DispatchQueue> delegateQueue;
    // Label of the concurrent queue the central's events and the loop run on.
    std::string queueLabel = "com.tobrin.ios.centralManagerQueue";
    // Text for a pairing status key; empty: the built-in English texts.
    std::function<std::string(const std::string& key)> localizedString;
    // How long (seconds) a peripheral that failed the identity check is
    // ignored before it may be connected again.
    double rejectedPeripheralPause = 30;
};

class BLECClient : public ble::BleCentralDelegate,
                   public BLECMutableThriftTransportFactoryDelegate,
                   public TBNBlecPeriphialValidatorDelegate,
                   public std::enable_shared_from_this<BLECClient> {
  public:
    using Options = BLECClientOptions;

    // initWithPrivateKey:cert: a stopped client with its central wrapper and
    // validator; nothing is scanned. The key and certificate go unchanged to
    // every connection.
    static std::shared_ptr<BLECClient> create(const std::string& privateKey,
                                              const std::string& cert, Options options = {});
    ~BLECClient() override;

    std::shared_ptr<BLECClientDelegate> delegate() const;
    // A new delegate hears the central's current power state (on or off) at once:
    // the first report may have come before it was set.
    void setDelegate(std::weak_ptr<BLECClientDelegate> delegate);

    // Looks for the paired phone; ignored while running.
    void startForDeviceId(const std::optional<std::string>& deviceId,
                          const std::optional<std::string>& bleId);
    // Looks for a phone that shows the pairing token (16 characters); ignored
    // while running. A token of another length is refused (logged, not started).
    void startForAuthToken(const std::string& authToken);
    // Drops the current phone (reporting its loss) and stops scanning; ignored
    // while stopped.
    void stop();
    // Re-targets a running client to a newly paired phone; scan, token and the
    // current phone are left as they are.
    void setPairedDeviceId(const std::optional<std::string>& deviceId,
                           const std::optional<std::string>& bleId);

    bool running() const;
    // The current phone's peerPublicKey; nothing without a phone.
    std::optional<std::string> peerPublicKey() const;

    // Read-outs for the owner, logs and tests.
    std::optional<std::string> currentBleId() const;
    std::optional<std::string> currentDeviceId() const;
    std::optional<std::string> currentAuthToken() const;
    bool pairingMode() const;
    bool scanning() const;
    std::shared_ptr<BLECPeripheral> blecPeripheral() const;
    std::shared_ptr<BLECMutableThriftFactoryTransport> currentTransport() const;
    std::shared_ptr<TBNBlecCentralManager> blecCentralManager() const { return central_; }
    std::shared_ptr<TBNBlecPeriphialValidator> periphialValidator() const { return validator_; }
    std::vector<std::string> connectQueue() const;
    std::shared_ptr<Clock> clock() const { return clock_; }

    // The advertisement rule: whether `ad` names the phone looked for. Service
    // UUIDs must contain the device-id UUID or the token UUID; without a service
    // list (and outside pairing mode) the 19-byte manufacturer data starting
    // 4C 00 must have every bit of the device-id UUID's first four bytes set in
    // its bytes 3..6.
    enum class Match { None, ServiceUuid, ManufacturerData };
    static Match matchAdvertisement(const ble::AdvertisementData& ad,
                                    const std::optional<std::string>& deviceIdUuid,
                                    const std::optional<std::string>& authTokenUuid);
    // The service UUID a token is advertised as: its 16 UTF-8 bytes (upper-cased)
    // as a 128-bit UUID; nothing when the token is not 16 bytes long.
    static std::optional<std::string> authTokenUuid(const std::string& authToken);
    // The UUID of a device id (upper-cased, checked); nothing for other text.
    static std::optional<std::string> deviceIdUuid(const std::string& deviceId);
    // The built-in English text of a pairing status key.
    static std::string defaultPairingStatusText(const std::string& key);

    static constexpr double kUpdateInterval = 1.0;
    static constexpr double kReconnectPause = 5.0;

    // ---- central events
    void centralManagerDidUpdateState(ble::BleCentral& central) override;
    void centralManagerDidDiscoverPeripheral(ble::BleCentral& central,
                                             const std::shared_ptr<ble::BlePeripheral>& peripheral,
                                             const ble::AdvertisementData& ad, int rssi) override;
    void centralManagerDidConnectPeripheral(
        ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral) override;
    void centralManagerDidFailToConnectPeripheral(
        ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral,
        const std::optional<ble::BleError>& error) override;
    void centralManagerDidDisconnectPeripheral(
        ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral,
        const std::optional<ble::BleError>& error) override;

    // ---- connection reports
    void blecThriftTransportFactoryDidFindDevice(BLECThriftTransportFactory& factory) override;
    void blecThriftTransportFactoryDidLostDevice(BLECThriftTransportFactory& factory) override;
    void blecThriftTransportFactory(BLECThriftTransportFactory& factory,
                                    const std::string& peripheralId) override;

    // ---- validator reports
    void blecPeriphialValidatorDidDisconnectFrom(
        TBNBlecPeriphialValidator* validator,
        const std::shared_ptr<TBNBlecPeripheral>& record) override;
    void blecPeriphialValidatorUpdatePeriphealInfo(
        TBNBlecPeriphialValidator* validator,
        const std::shared_ptr<TBNBlecPeripheral>& record) override;
    void blecPeriphialValidatorUpdatePeripheal(TBNBlecPeriphialValidator* validator,
                                               const std::shared_ptr<TBNBlecPeripheral>& record,
                                               uint64_t fromState, uint64_t toState) override;

    // setBlecPeripheralState:toBlecPeripheral:
    void setBlecPeripheralState(uint64_t state, const std::shared_ptr<TBNBlecPeripheral>& record);

    struct Token {};
    BLECClient(Token, std::string privateKey, std::string cert, Options options);

  private:
    void startUpdate();
    void startScan();
    void stopScan();
    void tick(bool* stop);
    void pickLocked(const std::string& bleId, const std::optional<std::string>& name);
    void reportPairingStatus(const std::string& key);
    void reportBluetooth(bool on);
    bool rejectedLocked(const std::string& bleId);
    std::shared_ptr<BLECMutableThriftFactoryTransport> currentTransportFor(
        const std::string& bleId) const;

    const std::string privateKey_;
    const std::string cert_;
    Options options_;
    TBNBlecPeripheralStore* const store_;
    const std::shared_ptr<Clock> clock_;
    const std::shared_ptr<DispatchQueue> delegateQueue_;
    std::shared_ptr<TBNBlecCentralManager> central_;
    std::shared_ptr<TBNBlecPeriphialValidator> validator_;

    mutable std::recursive_mutex clientLock_;       // start, stop, re-target, power
    mutable std::recursive_mutex peripheralsLock_;  // blecPeripheral and what hangs on it
    mutable std::mutex scanLock_;                   // the scan and startScanTime
    mutable std::mutex idsLock_;                    // the ids the found check reads

    std::weak_ptr<BLECClientDelegate> delegate_;
    std::optional<bool> reportedOn_;  // the power state last told to the delegate
    bool running_ = false;
    uint64_t runGeneration_ = 0;
    std::optional<std::string> currentBleId_;
    std::optional<std::string> currentDeviceId_;
    std::optional<std::string> currentDeviceIdUuid_;
    std::optional<std::string> currentAuthToken_;
    std::optional<std::string> currentAuthTokenUuid_;
    std::shared_ptr<BLECPeripheral> blecPeripheral_;
    std::vector<std::string> connectQueue_;
    std::optional<Clock::TimePoint> startScanTime_;
    // Peripherals that failed the identity check, ignored until the time given.
    std::map<std::string, Clock::TimePoint> rejected_;
};

}  // namespace lumvane
