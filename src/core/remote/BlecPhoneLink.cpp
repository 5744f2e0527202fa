#include "core/remote/BlecPhoneLink.h"

#include <fcntl.h>
#include <unistd.h>

#include <map>

#include "blec/BLECThriftTransport.h"
#include "runtime/HexString.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

constexpr const char* kTag = "core|thrift|blec";

// One adapter per live connection. The map holds neither side strongly; entries whose
// adapter is gone are swept on the next lookup.
struct AdapterRegistry {
    std::mutex mutex;
    std::map<const BLECThriftTransportFactory*, std::pair<std::weak_ptr<BLECThriftTransportFactory>,
                                                          std::weak_ptr<BlecPhoneTransport>>>
        adapters;
};

AdapterRegistry& registry() {
    static AdapterRegistry r;
    return r;
}

}  // namespace

// ---- BlecPhoneTransport ----------------------------------------------------------------

std::shared_ptr<BlecPhoneTransport> BlecPhoneTransport::forConnection(
    const std::shared_ptr<BLECThriftTransportFactory>& connection) {
    if (!connection) return nullptr;
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto it = r.adapters.begin(); it != r.adapters.end();) {
        if (it->second.second.expired() || it->second.first.expired()) {
            it = r.adapters.erase(it);
        } else {
            ++it;
        }
    }
    auto it = r.adapters.find(connection.get());
    if (it != r.adapters.end()) {
        // The address may have been reused by a newer connection: compare owners.
        auto known = it->second.first.lock();
        auto adapter = it->second.second.lock();
        if (known == connection && adapter) return adapter;
    }
    auto adapter = std::make_shared<BlecPhoneTransport>(Token{}, connection);
    r.adapters[connection.get()] = {connection, adapter};
    return adapter;
}

BlecPhoneTransport::BlecPhoneTransport(
    Token, const std::shared_ptr<BLECThriftTransportFactory>& connection)
    : connection_(connection),
      deviceInfo_(connection && connection->deviceInfo()
                      ? std::shared_ptr<BLECDeviceInfo>(connection->deviceInfo())
                      : std::make_shared<BLECDeviceInfo>()) {}

BlecPhoneTransport::~BlecPhoneTransport() = default;

std::shared_ptr<BLECDeviceInfo> BlecPhoneTransport::deviceInfo() const {
    return deviceInfo_;
}

std::shared_ptr<apache::thrift::transport::TTransport> BlecPhoneTransport::transport() {
    if (auto c = connection()) return c->transport();
    // A transport without a connection: every call fails at once, as on a dropped link.
    return std::make_shared<BLECThriftTransport>(std::weak_ptr<BLECThriftTransportFactory>());
}

std::optional<std::string> BlecPhoneTransport::peerPublicKey() const {
    auto c = connection();
    return c ? c->peerPublicKey() : std::nullopt;
}

void BlecPhoneTransport::setDelegate(std::weak_ptr<RemotePhoneTransportDelegate> delegate) {
    const bool attach = !delegate.expired();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        delegate_ = std::move(delegate);
    }
    auto c = connection();
    if (!c) return;
    if (attach) {
        c->setDelegate(std::weak_ptr<BLECThriftTransportFactoryDelegate>(shared_from_this()));
    } else if (c->delegate().get() == this) {
        c->setDelegate({});
    }
}

std::shared_ptr<RemotePhoneTransportDelegate> BlecPhoneTransport::remoteDelegate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delegate_.lock();
}

void BlecPhoneTransport::blecThriftTransportFactoryDidDeviceInfoUpdated(
    BLECThriftTransportFactory&) {
    if (auto d = remoteDelegate())
        d->blecThriftTransportFactoryDidDeviceInfoUpdated(shared_from_this());
}

void BlecPhoneTransport::blecThriftTransportFactoryDidDBUpdated(BLECThriftTransportFactory&) {
    if (auto d = remoteDelegate()) d->blecThriftTransportFactoryDidDBUpdated(shared_from_this());
}

void BlecPhoneTransport::blecThriftTransportFactory(BLECThriftTransportFactory&, uint64_t type) {
    if (auto d = remoteDelegate())
        d->blecThriftTransportFactoryDidNeedCommunicationTypeUpdated(shared_from_this(), type);
}

std::optional<Bytes> BlecPhoneTransport::encryptKeyForBlecThriftTransportFactory(
    BLECThriftTransportFactory&) {
    auto d = remoteDelegate();
    return d ? d->encryptKeyForBlecThriftTransportFactory(shared_from_this()) : std::nullopt;
}

std::optional<std::vector<Bytes>> BlecPhoneTransport::decryptKeysForBlecThriftTransportFactory(
    BLECThriftTransportFactory&) {
    auto d = remoteDelegate();
    return d ? d->decryptKeysForBlecThriftTransportFactory(shared_from_this()) : std::nullopt;
}

// ---- BlecPhoneClient -------------------------------------------------------------------

std::shared_ptr<BlecPhoneClient> BlecPhoneClient::create(std::shared_ptr<BLECClient> client) {
    if (!client) return nullptr;
    auto self = std::make_shared<BlecPhoneClient>(Token{}, std::move(client));
    self->client_->setDelegate(std::weak_ptr<BLECClientDelegate>(self));
    return self;
}

BlecPhoneClient::BlecPhoneClient(Token, std::shared_ptr<BLECClient> client)
    : client_(std::move(client)) {}

void BlecPhoneClient::setDelegate(std::weak_ptr<RemotePhoneClientDelegate> delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<RemotePhoneClientDelegate> BlecPhoneClient::remoteDelegate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delegate_.lock();
}

void BlecPhoneClient::startForDeviceId(const std::optional<std::string>& deviceId,
                                       const std::optional<std::string>& bleId) {
    client_->startForDeviceId(deviceId, bleId);
}

void BlecPhoneClient::startForAuthToken(const std::string& authToken) {
    client_->startForAuthToken(authToken);
}

void BlecPhoneClient::stop() {
    client_->stop();
}

void BlecPhoneClient::setPairedDeviceId(const std::optional<std::string>& deviceId,
                                        const std::optional<std::string>& bleId) {
    client_->setPairedDeviceId(deviceId, bleId);
}

void BlecPhoneClient::blecClientDidBluetoothStateChange(BLECClient&, bool on) {
    if (auto d = remoteDelegate()) d->blecClientDidBluetoothStateChange(*this, on);
}

std::shared_ptr<BLECMutableDeviceInfo> BlecPhoneClient::blecClientGetPairedDeviceInfoByBLEId(
    BLECClient&, const std::string& bleId) {
    auto d = remoteDelegate();
    return d ? d->blecClientGetPairedDeviceInfoByBLEId(*this, bleId) : nullptr;
}

void BlecPhoneClient::blecClientDidFindTransportFactory(
    BLECClient&, const std::shared_ptr<BLECMutableThriftFactoryTransport>& transport) {
    auto adapter = BlecPhoneTransport::forConnection(transport);
    if (!adapter) return;
    if (auto d = remoteDelegate()) d->blecClientDidFindTransportFactory(*this, adapter);
}

void BlecPhoneClient::blecClientDidLostTransportFactory(
    BLECClient&, const std::shared_ptr<BLECMutableThriftFactoryTransport>& transport) {
    auto adapter = BlecPhoneTransport::forConnection(transport);
    if (auto d = remoteDelegate()) d->blecClientDidLostTransportFactory(*this, adapter);
}

void BlecPhoneClient::blecClientDidInvalidateDeviceId(BLECClient&) {
    if (auto d = remoteDelegate()) d->blecClientDidInvalidateDeviceId(*this);
}

void BlecPhoneClient::blecClientDidChangePairingStatus(BLECClient&, const std::string& status) {
    if (auto d = remoteDelegate()) d->blecClientDidChangePairingStatus(*this, status);
}

RemotePhoneClientFactory makeBlecPhoneClientFactory(BlecPhoneLinkOptions options) {
    return [options](const std::optional<std::string>& privateKey,
                     const std::optional<std::string>& cert) -> std::shared_ptr<RemotePhoneClient> {
        BLECClientOptions o;
        o.centralFactory = options.centralFactory;
        o.clock = options.clock;
        o.peripheralStore = options.peripheralStore;
        return BlecPhoneClient::create(
            BLECClient::create(privateKey.value_or(""), cert.value_or(""), std::move(o)));
    };
}

std::function<std::shared_ptr<TBNBlecExplorer>(std::weak_ptr<TBNBlecExplorerDelegate>)>
makeBlecExplorerFactory(BlecPhoneLinkOptions options) {
    return [options](std::weak_ptr<TBNBlecExplorerDelegate> delegate) {
        TBNBlecExplorerOptions o;
        o.centralFactory = options.centralFactory;
        o.peripheralStore = options.peripheralStore;
        o.clock = options.clock;
        return TBNBlecExplorer::create(std::move(delegate), std::move(o));
    };
}

// ---- File push client ------------------------------------------------------------------

namespace {

class FilePushClient : public PushClient {
  public:
    explicit FilePushClient(std::string path) : path_(std::move(path)) {}

    std::optional<std::string> sendNotification(const PushNotification& n) override {
        std::string line = stringWithHexData(n.deviceToken) + " ";
        line.append(n.payload.begin(), n.payload.end());
        line += "\n";
        std::lock_guard<std::mutex> lock(mutex_);
        // One write per line, appended, so a reader never sees half a notification.
        int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) return "cannot open " + path_;
        ssize_t written = ::write(fd, line.data(), line.size());
        ::close(fd);
        if (written != static_cast<ssize_t>(line.size())) return "cannot write " + path_;
        TBN_LOG_DEBUG(kTag, "wake-up written to {} ({} bytes)", path_, line.size());
        return std::nullopt;
    }

  private:
    const std::string path_;
    std::mutex mutex_;
};

}  // namespace

std::shared_ptr<PushClient> makeFilePushClient(const std::string& path) {
    return std::make_shared<FilePushClient>(path);
}

std::optional<std::function<std::shared_ptr<PushClient>(std::string* error)>> pushConnectorForSpec(
    const std::string& spec) {
    const std::string prefix = "file:";
    if (spec.rfind(prefix, 0) != 0 || spec.size() == prefix.size()) return std::nullopt;
    const std::string path = spec.substr(prefix.size());
    return std::function<std::shared_ptr<PushClient>(std::string*)>(
        [path](std::string*) { return makeFilePushClient(path); });
}

}  // namespace lumvane
