#pragma once
// What the remote phone service needs of the Bluetooth LE phone link: the connection to
// one phone (its device record, its RPC transport, its lock and its delegate) and the
// phone client that finds and keeps that phone. The link's own classes implement these
// (or are adapted to them); the tests drive the service through small fakes.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <thrift/transport/TTransport.h>

#include "blec/BLECDeviceInfo.h"
#include "runtime/Bytes.h"

namespace lumvane {

class RemotePhoneTransport;

// Told by a connection what the phone reported; every operation is optional.
class RemotePhoneTransportDelegate {
  public:
    virtual ~RemotePhoneTransportDelegate() = default;
    virtual void blecThriftTransportFactoryDidDeviceInfoUpdated(
        const std::shared_ptr<RemotePhoneTransport>& transport) {
        (void)transport;
    }
    virtual void blecThriftTransportFactoryDidDBUpdated(
        const std::shared_ptr<RemotePhoneTransport>& transport) {
        (void)transport;
    }
    virtual void blecThriftTransportFactoryDidNeedCommunicationTypeUpdated(
        const std::shared_ptr<RemotePhoneTransport>& transport, uint64_t type) {
        (void)transport;
        (void)type;
    }
    // The key a request is encrypted with; nothing: the request travels in clear.
    virtual std::optional<Bytes> encryptKeyForBlecThriftTransportFactory(
        const std::shared_ptr<RemotePhoneTransport>& transport) {
        (void)transport;
        return std::nullopt;
    }
    // The keys an encrypted reply is tried with, in order; nothing: no reply may be
    // encrypted.
    virtual std::optional<std::vector<Bytes>> decryptKeysForBlecThriftTransportFactory(
        const std::shared_ptr<RemotePhoneTransport>& transport) {
        (void)transport;
        return std::nullopt;
    }
};

// One connection to a phone whose handshake has finished.
class RemotePhoneTransport {
  public:
    virtual ~RemotePhoneTransport() = default;
    // The phone's information as far as known (never null).
    virtual std::shared_ptr<BLECDeviceInfo> deviceInfo() const = 0;
    // The RPC transport the generated clients write to: flush sends the call and
    // blocks until the reply is there or the link fails (then it throws).
    virtual std::shared_ptr<apache::thrift::transport::TTransport> transport() = 0;
    virtual std::optional<std::string> peerPublicKey() const = 0;
    virtual void setDelegate(std::weak_ptr<RemotePhoneTransportDelegate> delegate) = 0;
    // The connection object's own lock: reports of one connection are handled one after
    // the other under it.
    virtual std::recursive_mutex& objectLock() = 0;
};

class RemotePhoneClient;

// What the phone client reports.
class RemotePhoneClientDelegate {
  public:
    virtual ~RemotePhoneClientDelegate() = default;
    virtual void blecClientDidBluetoothStateChange(RemotePhoneClient& client, bool on) = 0;
    virtual std::shared_ptr<BLECMutableDeviceInfo> blecClientGetPairedDeviceInfoByBLEId(
        RemotePhoneClient& client, const std::string& bleId) = 0;
    virtual void blecClientDidFindTransportFactory(
        RemotePhoneClient& client, const std::shared_ptr<RemotePhoneTransport>& transport) = 0;
    // The transport may be null (a late report after the client dropped its phone).
    virtual void blecClientDidLostTransportFactory(
        RemotePhoneClient& client, const std::shared_ptr<RemotePhoneTransport>& transport) = 0;
    virtual void blecClientDidInvalidateDeviceId(RemotePhoneClient& client) = 0;
    virtual void blecClientDidChangePairingStatus(RemotePhoneClient& client,
                                                  const std::string& status) = 0;
};

// The phone client: scans for the paired phone (or for the phone that advertises a
// pairing token), connects it and keeps it.
class RemotePhoneClient {
  public:
    virtual ~RemotePhoneClient() = default;
    virtual void setDelegate(std::weak_ptr<RemotePhoneClientDelegate> delegate) = 0;
    virtual void startForDeviceId(const std::optional<std::string>& deviceId,
                                  const std::optional<std::string>& bleId) = 0;
    virtual void startForAuthToken(const std::string& authToken) = 0;
    virtual void stop() = 0;
    virtual void setPairedDeviceId(const std::optional<std::string>& deviceId,
                                   const std::optional<std::string>& bleId) = 0;
};

}  // namespace lumvane
