#pragma once
// The remote phone service on the real Bluetooth LE phone link: adapters from the link's
// classes to the narrow interfaces of RemotePhoneLink.h, and the factory that makes the
// phone client the service owns.
//
//   BlecPhoneTransport  one phone connection (BLECThriftTransportFactory, in practice a
//                       BLECMutableThriftFactoryTransport) seen as a RemotePhoneTransport;
//                       exactly one adapter exists per live connection, so its lock is
//                       the connection's lock for the service's reactions.
//   BlecPhoneClient     the phone client (BLECClient) seen as a RemotePhoneClient; hands
//                       its connections over as BlecPhoneTransport adapters.
//
// Wiring the service to the link (what the application service and `lumvane --headless`
// do; the central comes from the program's default factory unless one is given):
//
//   ble::setDefaultBleCentralFactory(*ble::makeBleCentralFactory("sim:/tmp/air.sock"));
//   TBNThriftRemoteMobileSevice::Options o;
//   o.clientFactory = makeBlecPhoneClientFactory();
//   o.explorerFactory = makeBlecExplorerFactory();
//   if (auto push = pushConnectorForSpec("file:/tmp/wake")) o.pushConnector = *push;
//   auto remote = TBNThriftRemoteMobileSevice::create(delegate, std::move(o));
//   remote->start();   // looks for the paired phone, when there is one
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "blec/BLECClient.h"
#include "blec/BLECThriftTransportFactory.h"
#include "blec/TBNBlecExplorer.h"
#include "core/remote/RemotePhoneLink.h"
#include "core/remote/TBNPushClient.h"
#include "platform/ble/BleCentral.h"
#include "runtime/Clock.h"

namespace lumvane {

class BlecPhoneTransport : public RemotePhoneTransport,
                           public BLECThriftTransportFactoryDelegate,
                           public std::enable_shared_from_this<BlecPhoneTransport> {
  public:
    // The adapter of `connection`: the same object for as long as anyone holds it; null
    // for a null connection.
    static std::shared_ptr<BlecPhoneTransport> forConnection(
        const std::shared_ptr<BLECThriftTransportFactory>& connection);
    ~BlecPhoneTransport() override;

    // The adapted connection; null once it is gone.
    std::shared_ptr<BLECThriftTransportFactory> connection() const { return connection_.lock(); }

    // RemotePhoneTransport
    std::shared_ptr<BLECDeviceInfo> deviceInfo() const override;
    std::shared_ptr<apache::thrift::transport::TTransport> transport() override;
    std::optional<std::string> peerPublicKey() const override;
    // Setting a delegate makes the adapter the connection's delegate; clearing it lets
    // the connection go without one.
    void setDelegate(std::weak_ptr<RemotePhoneTransportDelegate> delegate) override;
    std::recursive_mutex& objectLock() override { return objectLock_; }

    // BLECThriftTransportFactoryDelegate: forwarded to the service with this adapter.
    void blecThriftTransportFactoryDidDeviceInfoUpdated(BLECThriftTransportFactory&) override;
    void blecThriftTransportFactoryDidDBUpdated(BLECThriftTransportFactory&) override;
    void blecThriftTransportFactory(BLECThriftTransportFactory&, uint64_t type) override;
    std::optional<Bytes> encryptKeyForBlecThriftTransportFactory(
        BLECThriftTransportFactory&) override;
    std::optional<std::vector<Bytes>> decryptKeysForBlecThriftTransportFactory(
        BLECThriftTransportFactory&) override;

    struct Token {};
    BlecPhoneTransport(Token, const std::shared_ptr<BLECThriftTransportFactory>& connection);

  private:
    std::shared_ptr<RemotePhoneTransportDelegate> remoteDelegate() const;

    const std::weak_ptr<BLECThriftTransportFactory> connection_;
    // Kept so deviceInfo() never returns null, also after the connection is gone.
    const std::shared_ptr<BLECDeviceInfo> deviceInfo_;
    mutable std::mutex mutex_;
    std::weak_ptr<RemotePhoneTransportDelegate> delegate_;
    std::recursive_mutex objectLock_;
};

// How the phone client reaches the radio.
struct BlecPhoneLinkOptions {
    // The central the client scans with; empty: the program's default factory
    // (ble::setDefaultBleCentralFactory).
    ble::BleCentralFactory centralFactory;
    // The clock of the client's 1 s loop and of its connections' time-outs and watchdog;
    // null: steady.
    std::shared_ptr<Clock> clock;
    // The known-peripheral store; null: the shared store (give the service the same one).
    TBNBlecPeripheralStore* peripheralStore = nullptr;
};

class BlecPhoneClient : public RemotePhoneClient,
                        public BLECClientDelegate,
                        public std::enable_shared_from_this<BlecPhoneClient> {
  public:
    // Wraps `client` and becomes its delegate.
    static std::shared_ptr<BlecPhoneClient> create(std::shared_ptr<BLECClient> client);
    const std::shared_ptr<BLECClient>& client() const { return client_; }

    // RemotePhoneClient
    void setDelegate(std::weak_ptr<RemotePhoneClientDelegate> delegate) override;
    void startForDeviceId(const std::optional<std::string>& deviceId,
                          const std::optional<std::string>& bleId) override;
    void startForAuthToken(const std::string& authToken) override;
    void stop() override;
    void setPairedDeviceId(const std::optional<std::string>& deviceId,
                           const std::optional<std::string>& bleId) override;

    // BLECClientDelegate: forwarded with the connections wrapped.
    void blecClientDidBluetoothStateChange(BLECClient&, bool on) override;
    std::shared_ptr<BLECMutableDeviceInfo> blecClientGetPairedDeviceInfoByBLEId(
        BLECClient&, const std::string& bleId) override;
    void blecClientDidFindTransportFactory(
        BLECClient&, const std::shared_ptr<BLECMutableThriftFactoryTransport>& transport) override;
    void blecClientDidLostTransportFactory(
        BLECClient&, const std::shared_ptr<BLECMutableThriftFactoryTransport>& transport) override;
    void blecClientDidInvalidateDeviceId(BLECClient&) override;
    void blecClientDidChangePairingStatus(BLECClient&, const std::string& status) override;

    struct Token {};
    BlecPhoneClient(Token, std::shared_ptr<BLECClient> client);

  private:
    std::shared_ptr<RemotePhoneClientDelegate> remoteDelegate() const;

    const std::shared_ptr<BLECClient> client_;
    mutable std::mutex mutex_;
    std::weak_ptr<RemotePhoneClientDelegate> delegate_;
};

// What TBNThriftRemoteMobileSevice::Options::clientFactory takes: makes a BLECClient
// with the Mac's client key and certificate (empty texts when the settings hold none)
// and wraps it.
using RemotePhoneClientFactory = std::function<std::shared_ptr<RemotePhoneClient>(
    const std::optional<std::string>& privateKey, const std::optional<std::string>& cert)>;
RemotePhoneClientFactory makeBlecPhoneClientFactory(BlecPhoneLinkOptions options = {});

// What TBNThriftRemoteMobileSevice::Options::explorerFactory takes: an explorer on its own
// central (made by the same central factory), which the service never starts.
std::function<std::shared_ptr<TBNBlecExplorer>(std::weak_ptr<TBNBlecExplorerDelegate>)>
makeBlecExplorerFactory(BlecPhoneLinkOptions options = {});

// A push client for the simulated phone: appends each notification as one line
// "<device token hex> <payload>" to the file at `path` (phone-sim --wake-file PATH reads
// it). Nothing is sent anywhere else.
std::shared_ptr<PushClient> makeFilePushClient(const std::string& path);

// The push connector for a "--push=" value: "file:PATH" gives makeFilePushClient(PATH);
// nothing for any other value (the service then connects Apple's service itself).
std::optional<std::function<std::shared_ptr<PushClient>(std::string* error)>> pushConnectorForSpec(
    const std::string& spec);

}  // namespace lumvane
