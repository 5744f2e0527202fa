// getLoginData along the whole road, with the phone answering at once: an HTTP client posts
// the JSON-encoded call to the service's server on 127.0.0.1, the extension handlers pass it
// to the remote phone service, which sends it over the phone link on the simulated radio to
// the in-process simulated phone (vault fixture) and back.
//
// Besides throughput and latency percentiles, the phone client is wrapped so that every
// round trip on the link (the RPC transport's flush, which sends the call and blocks until
// the reply is there) is timed.
//
// What this computer adds to a request (the "desktop side") comes from the server's own
// timestamps (runtime/RequestTiming.h): from reading the request to handing the call to
// the link's queue, from the link taking it off the queue to its chunks being written, and
// from the reply being whole to the response being written. Waiting in the link's queue
// behind other calls and the radio round trip are the link's; the benchmark's HTTP client
// is nobody's. It is reported per request and per client, at 1 and 8 clients.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TTransport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PhoneSim.h"
#include "PhoneVault.h"
#include "blec/TBNBlecPeripheralStore.h"
#include "core/pasteboard/Pasteboard.h"
#include "core/remote/BlecPhoneLink.h"
#include "core/remote/TBNThriftRemoteMobileSevice.h"
#include "core/service/TBNService.h"
#include "core/service/TBNServiceHandlers.h"
#include "extension/ThriftJSONProtocol.h"
#include "platform/ble/BleCentral.h"
#include "platform/ble/SimBleAir.h"
#include "runtime/MainLoop.h"
#include "runtime/RequestTiming.h"
#include "settings/TBNSettings.h"

namespace lumvane::roadbench {
namespace {

namespace fs = std::filesystem;
using apache::thrift::transport::TMemoryBuffer;
using apache::thrift::transport::TTransport;
using Steady = std::chrono::steady_clock;

constexpr const char* kPhoneAddress = "5A:12:9C:00:00:31";
constexpr const char* kMacClientId = "MAC-CLIENT-ID";
constexpr const char* kMacSecret = "MAC-SECRET";
constexpr const char* kExtId = "EXT-BENCH";
constexpr const char* kExtSecret = "EXT-BENCH-SECRET";

// Time spent inside link round trips, in nanoseconds, and each round trip's duration.
std::atomic<int64_t> gLinkNanos{0};
std::atomic<int64_t> gLinkTrips{0};
std::mutex gTripMutex;
struct Span {
    std::chrono::steady_clock::time_point start, end;
};
std::vector<Span> gTrips;

double seconds(Steady::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Every timing mark the service makes while the hook is installed.
struct MarkEvent {
    timing::Mark mark;
    uint64_t tag;
    uint64_t detail;
    Steady::time_point at;
};
std::mutex gMarkMutex;
std::vector<MarkEvent> gMarks;

void recordMark(timing::Mark mark, uint64_t tag, uint64_t detail, Steady::time_point at) {
    std::lock_guard<std::mutex> lock(gMarkMutex);
    gMarks.push_back({mark, tag, detail, at});
}

std::vector<MarkEvent> takeMarks() {
    std::lock_guard<std::mutex> lock(gMarkMutex);
    std::vector<MarkEvent> out;
    out.swap(gMarks);
    return out;
}

// One request as the server saw it.
struct ServerRequest {
    uint64_t port = 0;
    std::optional<Steady::time_point> read, written;
    // Per link trip: queued, taken for sending, chunks written, reply whole.
    std::vector<Steady::time_point> queued, split, sent, replied;
    bool complete() const {
        return read && written && !queued.empty() && queued.size() == split.size() &&
               split.size() == sent.size() && sent.size() == replied.size();
    }
    // Everything but the link: the request's whole time in the server less, for each
    // trip, its wait in the link's queue and its time on the air.
    double desktopSeconds() const {
        Steady::duration link{0};
        for (size_t i = 0; i < queued.size(); ++i) {
            link += (split[i] - queued[i]) + (replied[i] - sent[i]);
        }
        return seconds(*written - *read - link);
    }
    // The three pieces of the desktop side: request in to the link's queue, the link's own
    // work on the call (split, compress, encrypt), reply whole to response written.
    double inSeconds() const { return seconds(queued.front() - *read); }
    double splitSeconds() const {
        Steady::duration d{0};
        for (size_t i = 0; i < split.size(); ++i) d += sent[i] - split[i];
        return seconds(d);
    }
    double outSeconds() const { return seconds(*written - replied.back()); }
};

std::map<uint64_t, ServerRequest> requestsFrom(const std::vector<MarkEvent>& marks) {
    std::map<uint64_t, ServerRequest> out;
    for (const auto& m : marks) {
        if (m.tag == 0) continue;
        auto& r = out[m.tag];
        switch (m.mark) {
            case timing::Mark::RequestRead:
                r.read = m.at;
                r.port = m.detail;
                break;
            case timing::Mark::LinkQueued:
                r.queued.push_back(m.at);
                break;
            case timing::Mark::LinkSplit:
                r.split.push_back(m.at);
                break;
            case timing::Mark::LinkWritten:
                r.sent.push_back(m.at);
                break;
            case timing::Mark::LinkReply:
                r.replied.push_back(m.at);
                break;
            case timing::Mark::ResponseWritten:
                r.written = m.at;
                break;
        }
    }
    return out;
}

// The RPC transport with its flush timed.
class TimedTTransport : public TTransport {
  public:
    explicit TimedTTransport(std::shared_ptr<TTransport> inner) : inner_(std::move(inner)) {}
    bool isOpen() const override { return inner_->isOpen(); }
    bool peek() override { return inner_->peek(); }
    void open() override { inner_->open(); }
    void close() override { inner_->close(); }
    uint32_t read_virt(uint8_t* buf, uint32_t len) override { return inner_->read(buf, len); }
    uint32_t readAll_virt(uint8_t* buf, uint32_t len) override { return inner_->readAll(buf, len); }
    uint32_t readEnd() override { return inner_->readEnd(); }
    void write_virt(const uint8_t* buf, uint32_t len) override { inner_->write(buf, len); }
    uint32_t writeEnd() override { return inner_->writeEnd(); }
    const uint8_t* borrow_virt(uint8_t* buf, uint32_t* len) override {
        return inner_->borrow(buf, len);
    }
    void consume_virt(uint32_t len) override { inner_->consume(len); }
    const std::string getOrigin() const override { return inner_->getOrigin(); }
    void flush() override {
        const auto start = Steady::now();
        struct Record {
            Steady::time_point start;
            ~Record() {
                const auto end = Steady::now();
                gLinkNanos +=
                    std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
                ++gLinkTrips;
                std::lock_guard<std::mutex> lock(gTripMutex);
                gTrips.push_back({start, end});
            }
        } record{start};
        inner_->flush();
    }

  private:
    const std::shared_ptr<TTransport> inner_;
};

// One phone connection, passed through; its RPC transport comes back timed and its reports
// name this wrapper, so the service only ever sees the wrapper.
class TimedPhoneTransport : public RemotePhoneTransport,
                            public RemotePhoneTransportDelegate,
                            public std::enable_shared_from_this<TimedPhoneTransport> {
  public:
    explicit TimedPhoneTransport(std::shared_ptr<RemotePhoneTransport> inner)
        : inner_(std::move(inner)) {}

    std::shared_ptr<BLECDeviceInfo> deviceInfo() const override { return inner_->deviceInfo(); }
    std::shared_ptr<TTransport> transport() override {
        auto t = inner_->transport();
        std::lock_guard<std::mutex> lock(mutex_);
        if (t != lastInner_) {
            lastInner_ = t;
            lastTimed_ = t ? std::make_shared<TimedTTransport>(t) : nullptr;
        }
        return lastTimed_;
    }
    std::optional<std::string> peerPublicKey() const override { return inner_->peerPublicKey(); }
    void setDelegate(std::weak_ptr<RemotePhoneTransportDelegate> delegate) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            delegate_ = std::move(delegate);
        }
        inner_->setDelegate(weak_from_this());
    }
    std::recursive_mutex& objectLock() override { return inner_->objectLock(); }

    void blecThriftTransportFactoryDidDeviceInfoUpdated(
        const std::shared_ptr<RemotePhoneTransport>&) override {
        if (auto d = delegate()) d->blecThriftTransportFactoryDidDeviceInfoUpdated(self());
    }
    void blecThriftTransportFactoryDidDBUpdated(
        const std::shared_ptr<RemotePhoneTransport>&) override {
        if (auto d = delegate()) d->blecThriftTransportFactoryDidDBUpdated(self());
    }
    void blecThriftTransportFactoryDidNeedCommunicationTypeUpdated(
        const std::shared_ptr<RemotePhoneTransport>&, uint64_t type) override {
        if (auto d = delegate())
            d->blecThriftTransportFactoryDidNeedCommunicationTypeUpdated(self(), type);
    }
    std::optional<Bytes> encryptKeyForBlecThriftTransportFactory(
        const std::shared_ptr<RemotePhoneTransport>&) override {
        auto d = delegate();
        return d ? d->encryptKeyForBlecThriftTransportFactory(self()) : std::nullopt;
    }
    std::optional<std::vector<Bytes>> decryptKeysForBlecThriftTransportFactory(
        const std::shared_ptr<RemotePhoneTransport>&) override {
        auto d = delegate();
        return d ? d->decryptKeysForBlecThriftTransportFactory(self()) : std::nullopt;
    }

  private:
    std::shared_ptr<RemotePhoneTransport> self() { return shared_from_this(); }
    std::shared_ptr<RemotePhoneTransportDelegate> delegate() {
        std::lock_guard<std::mutex> lock(mutex_);
        return delegate_.lock();
    }

    const std::shared_ptr<RemotePhoneTransport> inner_;
    std::mutex mutex_;
    std::weak_ptr<RemotePhoneTransportDelegate> delegate_;
    std::shared_ptr<TTransport> lastInner_;
    std::shared_ptr<TTransport> lastTimed_;
};

// The real phone client with its connections wrapped.
class TimedPhoneClient : public RemotePhoneClient,
                         public RemotePhoneClientDelegate,
                         public std::enable_shared_from_this<TimedPhoneClient> {
  public:
    explicit TimedPhoneClient(std::shared_ptr<RemotePhoneClient> inner)
        : inner_(std::move(inner)) {}

    void setDelegate(std::weak_ptr<RemotePhoneClientDelegate> delegate) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            delegate_ = std::move(delegate);
        }
        inner_->setDelegate(weak_from_this());
    }
    void startForDeviceId(const std::optional<std::string>& deviceId,
                          const std::optional<std::string>& bleId) override {
        inner_->startForDeviceId(deviceId, bleId);
    }
    void startForAuthToken(const std::string& token) override { inner_->startForAuthToken(token); }
    void stop() override { inner_->stop(); }
    void setPairedDeviceId(const std::optional<std::string>& deviceId,
                           const std::optional<std::string>& bleId) override {
        inner_->setPairedDeviceId(deviceId, bleId);
    }

    void blecClientDidBluetoothStateChange(RemotePhoneClient&, bool on) override {
        if (auto d = delegate()) d->blecClientDidBluetoothStateChange(*this, on);
    }
    std::shared_ptr<BLECMutableDeviceInfo> blecClientGetPairedDeviceInfoByBLEId(
        RemotePhoneClient&, const std::string& bleId) override {
        auto d = delegate();
        return d ? d->blecClientGetPairedDeviceInfoByBLEId(*this, bleId) : nullptr;
    }
    void blecClientDidFindTransportFactory(
        RemotePhoneClient&, const std::shared_ptr<RemotePhoneTransport>& transport) override {
        if (auto d = delegate()) d->blecClientDidFindTransportFactory(*this, wrap(transport));
    }
    void blecClientDidLostTransportFactory(
        RemotePhoneClient&, const std::shared_ptr<RemotePhoneTransport>& transport) override {
        std::shared_ptr<RemotePhoneTransport> wrapped;
        if (transport) {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = wrapped_.find(transport.get());
            if (it != wrapped_.end()) {
                wrapped = it->second;
                wrapped_.erase(it);
            }
        }
        if (auto d = delegate()) d->blecClientDidLostTransportFactory(*this, wrapped);
    }
    void blecClientDidInvalidateDeviceId(RemotePhoneClient&) override {
        if (auto d = delegate()) d->blecClientDidInvalidateDeviceId(*this);
    }
    void blecClientDidChangePairingStatus(RemotePhoneClient&, const std::string& status) override {
        if (auto d = delegate()) d->blecClientDidChangePairingStatus(*this, status);
    }

  private:
    std::shared_ptr<RemotePhoneTransport> wrap(const std::shared_ptr<RemotePhoneTransport>& t) {
        if (!t) return nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        auto& slot = wrapped_[t.get()];
        if (!slot) slot = std::make_shared<TimedPhoneTransport>(t);
        return slot;
    }
    std::shared_ptr<RemotePhoneClientDelegate> delegate() {
        std::lock_guard<std::mutex> lock(mutex_);
        return delegate_.lock();
    }

    const std::shared_ptr<RemotePhoneClient> inner_;
    std::mutex mutex_;
    std::weak_ptr<RemotePhoneClientDelegate> delegate_;
    std::map<RemotePhoneTransport*, std::shared_ptr<TimedPhoneTransport>> wrapped_;
};

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "road_bench: %s\n", why.c_str());
    // The run's folder and radio socket (named after the process) go with it.
    const std::string tag = std::to_string(::getpid());
    std::error_code ec;
    fs::remove_all(fs::temp_directory_path() / ("lumvane-roadbench-" + tag), ec);
    fs::remove("/tmp/lumvane-roadbench-" + tag + ".sock", ec);
    std::_Exit(1);
}

// Radio hub, simulated phone (paired before, answering at once) and the service with the
// standard handlers on an ephemeral HTTP port.
class Road {
  public:
    void start() {
        const std::string tag = std::to_string(::getpid());
        root_ = fs::temp_directory_path() / ("lumvane-roadbench-" + tag);
        fs::create_directories(root_);
        socket_ = "/tmp/lumvane-roadbench-" + tag + ".sock";
        air_ = std::make_unique<ble::sim::SimBleAir>(socket_);
        if (!air_->start()) fail("the simulated radio does not listen on " + socket_);

        TBNSettings::Options so;
        so.bundleVersion = "1.0.0.0";
        settings_ = TBNSettings::create(so);
        settings_->loadBySettingsClass(root_ / TBNSettings::kSettingsFileName);
        settings_->decryptEncryptedSettingsByKey(Bytes(32, 0x5A));
        settings_->upgrade();
        settings_->setClientId(std::string(kMacClientId));
        settings_->approveExtForClientId(std::string(kExtId), std::string(kExtSecret));
        settings_->waitForPendingSaves();
        store_.setNotifier([](std::function<void()> f) { f(); });

        phonesim::VaultContent vault = phonesim::loadVaultFile(ROAD_BENCH_VAULT);
        vault.clients.emplace_back(kMacClientId, kMacSecret);
        phonesim::PhoneSimOptions po;
        po.socketPath = socket_;
        po.address = kPhoneAddress;
        phone_ = phonesim::PhoneSim::create(po, vault);
        if (!phone_->start()) fail("the simulated phone did not start");

        // A pairing made earlier: settings, the phone's client list and its link key agree.
        auto record = std::make_shared<TBNOSXDeviceInfo>(
            phone_->deviceId(), std::string(kPhoneAddress), 0, std::string("Bench iPhone"),
            std::string("iPhone9,3"), std::string("0011223344556677"), 80, 2, std::string("10.3.1"),
            std::string("1.2.0"), 1, false, false, nullptr, std::nullopt);
        settings_->addPairedDevice(record);
        settings_->setClientSecret(std::string(kMacSecret));
        settings_->waitForPendingSaves();
        phone_->addLinkKey(
            TBNThriftRemoteMobileSevice::decodeBase64(settings_->clientSecretKey().value_or("")));

        loop_ = std::make_shared<HeadlessMainLoop>();
        mainThread_ = std::thread([loop = loop_] { loop->run(); });

        TBNService::Options o;
        o.settings = settings_;
        o.mainLoop = loop_;
        o.httpPort = 0;
        o.httpsPort = 0;
        o.loggingPort = 0;
        o.generateSSLCerts = false;
        o.identitySource.isSetuped = [] { return false; };
        o.pasteboard = TBNPasteboard::create(std::make_shared<MemoryPasteboard>(), loop_);
        o.openUrl = [](const std::string&) { return false; };
        o.computerName = "Bench Computer";
        o.terminate = [] {};
        o.bluetoothCheck = [] { return true; };
        BlecPhoneLinkOptions link;
        link.centralFactory = *ble::bleCentralFactoryForSpec("sim:" + socket_);
        link.peripheralStore = &store_;
        auto real = makeBlecPhoneClientFactory(link);
        o.remoteOptions.settings = settings_;
        o.remoteOptions.peripheralStore = &store_;
        o.remoteOptions.clientFactory = [real](const auto& key, const auto& cert) {
            return std::make_shared<TimedPhoneClient>(real(key, cert));
        };
        o.remoteOptions.explorerFactory = makeBlecExplorerFactory(link);
        o.remoteOptions.pushConnector = [](std::string*) { return std::shared_ptr<PushClient>(); };
        o.remoteOptions.connectPushAsync = false;
        o.remoteOptions.osVersion = "OSX 12.00";
        TBNServiceHandlers::applyStandard(o);
        service_ = TBNService::create(std::move(o));
        service_->startWithSSLIdentity(std::nullopt);
        if (!service_->server() || !service_->server()->isListening())
            fail("the service's HTTP server is not listening");
        port_ = service_->server()->port();
    }

    void stop() {
        if (service_) service_->stop();
        service_.reset();
        if (loop_) loop_->stop();
        if (mainThread_.joinable()) mainThread_.join();
        if (phone_) phone_->stop();
        if (air_) air_->stop();
        if (settings_) settings_->waitForPendingSaves();
        settings_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
        fs::remove(socket_, ec);
    }

    int port() const { return port_; }

  private:
    fs::path root_;
    std::string socket_;
    std::unique_ptr<ble::sim::SimBleAir> air_;
    std::shared_ptr<TBNSettings> settings_;
    TBNBlecPeripheralStore store_;
    std::shared_ptr<phonesim::PhoneSim> phone_;
    std::shared_ptr<HeadlessMainLoop> loop_;
    std::thread mainThread_;
    std::shared_ptr<TBNService> service_;
    int port_ = 0;
};

Road gRoad;

// The extension's side: one keep-alive HTTP connection posting JSON-encoded calls.
class ExtensionConnection {
  public:
    // `ports` learns every local port this connection's sockets get (the server closes
    // a kept-alive connection now and then; the client then opens a new one).
    ExtensionConnection(int port, std::function<void(uint16_t)> ports = nullptr)
        : http_("127.0.0.1", port) {
        http_.set_keep_alive(true);
        if (ports) {
            // Bound here, before the library connects it, so its port is known.
            http_.set_socket_options([ports](socket_t sock) {
                sockaddr_in local{};
                local.sin_family = AF_INET;
                local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                socklen_t length = sizeof local;
                if (::bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                    ::getsockname(sock, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
                    ports(ntohs(local.sin_port));
                }
            });
        }
        http_.set_read_timeout(30);
        auto request = std::make_shared<TBNGetLoginDataRequest>();
        request->setInfo(std::make_shared<TBNRequestInfo>());
        request->setAuth(
            std::make_shared<TBNAuthentication>(std::string(kExtId), std::string(kExtSecret)));
        request->setSiteUrl(std::string("https://github.com/login"));
        request->setDomain(std::string("github.com"));
        request->setLogin(std::string("alice"));
        auto out = std::make_shared<TMemoryBuffer>();
        TBNStorageServiceClient writer(
            ThriftJSONProtocolFactory::sharedFactory()->getProtocol(out));
        writer.send_getLoginData(request);
        body_ = out->getBufferAsString();
    }

    // One call; true when the phone's login came back without an error.
    bool call(std::string* why = nullptr) {
        auto r = http_.Post("/thrift", body_, "application/x-thrift");
        if (!r || r->status != 200) {
            if (why) *why = r ? "HTTP status " + std::to_string(r->status) : "no HTTP answer";
            return false;
        }
        auto in = std::make_shared<TMemoryBuffer>();
        in->write(reinterpret_cast<const uint8_t*>(r->body.data()),
                  static_cast<uint32_t>(r->body.size()));
        TBNStorageServiceClient reader(ThriftJSONProtocolFactory::sharedFactory()->getProtocol(in));
        auto response = reader.recv_getLoginData();
        const bool ok =
            response && response->info() && !response->info()->error() && response->data();
        if (!ok && why) {
            const auto error = response && response->info() ? response->info()->error() : nullptr;
            *why = error ? "error " + std::to_string(error->category()) + "/" +
                               std::to_string(error->id())
                         : "no login in the answer";
        }
        return ok;
    }

  private:
    httplib::Client http_;
    std::string body_;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
    return v[i];
}

// One run: `connections` extensions each make `perConnection` calls at once; every call's
// latency and (single connection) the link time inside it are recorded.
void BM_GetLoginDataRoad(benchmark::State& state) {
    const int connections = static_cast<int>(state.range(0));
    const int perConnection = static_cast<int>(state.range(1));
    std::vector<double> latencies, desktop, deskIn, deskSplit, deskOut;
    std::vector<Span> spans;
    std::map<int, std::vector<double>> perClientDesktop, perClientLatency;
    int64_t untimed = 0;
    int64_t failures = 0, linkNanos = 0, linkTrips = 0;
    {
        std::lock_guard<std::mutex> lock(gTripMutex);
        gTrips.clear();
    }
    for (auto _ : state) {
        std::vector<std::unique_ptr<ExtensionConnection>> extensions;
        std::mutex portMutex;
        std::map<uint64_t, int> clientOfPort;
        for (int c = 0; c < connections; ++c) {
            extensions.push_back(
                std::make_unique<ExtensionConnection>(gRoad.port(), [&, c](uint16_t port) {
                    std::lock_guard<std::mutex> lock(portMutex);
                    clientOfPort[port] = c;
                }));
        }
        // Warm the connections up (and check the road) outside the measurement.
        std::string why;
        for (auto& e : extensions)
            if (!e->call(&why)) fail("getLoginData did not bring back the phone's login: " + why);
        takeMarks();
        {
            std::lock_guard<std::mutex> lock(gTripMutex);
            gTrips.clear();
        }
        const int64_t nanosBefore = gLinkNanos.load(), tripsBefore = gLinkTrips.load();
        std::mutex mutex;
        std::vector<std::thread> workers;
        const auto start = Steady::now();
        for (int c = 0; c < connections; ++c) {
            workers.emplace_back([&, c] {
                std::vector<Span> mine;
                int64_t bad = 0;
                for (int i = 0; i < perConnection; ++i) {
                    const auto t0 = Steady::now();
                    if (!extensions[c]->call()) ++bad;
                    mine.push_back({t0, Steady::now()});
                }
                std::lock_guard<std::mutex> lock(mutex);
                spans.insert(spans.end(), mine.begin(), mine.end());
                for (const auto& m : mine) perClientLatency[c].push_back(seconds(m.end - m.start));
                failures += bad;
            });
        }
        for (auto& w : workers) w.join();
        state.SetIterationTime(seconds(Steady::now() - start));
        auto marksTaken = takeMarks();
        for (const auto& [tag, r] : requestsFrom(marksTaken)) {
            if (!r.complete()) {
                ++untimed;
                continue;
            }
            desktop.push_back(r.desktopSeconds());
            deskIn.push_back(r.inSeconds());
            deskSplit.push_back(r.splitSeconds());
            deskOut.push_back(r.outSeconds());
            std::lock_guard<std::mutex> lock(portMutex);
            auto it = clientOfPort.find(r.port);
            if (it != clientOfPort.end()) perClientDesktop[it->second].push_back(desktop.back());
        }
        linkNanos += gLinkNanos.load() - nanosBefore;
        linkTrips += gLinkTrips.load() - tripsBefore;
    }
    std::vector<Span> tripSpans;
    {
        std::lock_guard<std::mutex> lock(gTripMutex);
        tripSpans = gTrips;
    }
    std::vector<double> trips;
    for (const auto& t : tripSpans) trips.push_back(seconds(t.end - t.start));
    for (const auto& r : spans) latencies.push_back(seconds(r.end - r.start));
    const auto requests = static_cast<int64_t>(latencies.size());
    state.SetItemsProcessed(requests);
    double meanLatency = 0;
    for (double l : latencies) meanLatency += l;
    meanLatency = requests ? meanLatency / static_cast<double>(requests) : 0;
    const double linkPerRequest =
        requests ? static_cast<double>(linkNanos) * 1e-9 / static_cast<double>(requests) : 0;
    auto ms = [](double s) { return benchmark::Counter(s * 1e3); };
    state.counters["connections"] = connections;
    state.counters["failures"] = static_cast<double>(failures);
    state.counters["p50_ms"] = ms(percentile(latencies, 0.50));
    state.counters["p99_ms"] = ms(percentile(latencies, 0.99));
    state.counters["mean_ms"] = ms(meanLatency);
    state.counters["link_trips_per_req"] =
        requests ? static_cast<double>(linkTrips) / static_cast<double>(requests) : 0;
    state.counters["link_mean_ms"] = ms(linkPerRequest);
    state.counters["link_p50_ms"] = ms(percentile(trips, 0.50));
    state.counters["link_p99_ms"] = ms(percentile(trips, 0.99));
    // The desktop side from the server's timestamps.
    state.counters["desk_p50_ms"] = ms(percentile(desktop, 0.50));
    state.counters["desk_p99_ms"] = ms(percentile(desktop, 0.99));
    state.counters["desk_max_ms"] = ms(percentile(desktop, 1.0));
    state.counters["desk_in_p50_ms"] = ms(percentile(deskIn, 0.50));
    state.counters["desk_in_p99_ms"] = ms(percentile(deskIn, 0.99));
    state.counters["desk_split_p50_ms"] = ms(percentile(deskSplit, 0.50));
    state.counters["desk_split_p99_ms"] = ms(percentile(deskSplit, 0.99));
    state.counters["desk_out_p50_ms"] = ms(percentile(deskOut, 0.50));
    state.counters["desk_out_p99_ms"] = ms(percentile(deskOut, 0.99));
    state.counters["desk_untimed"] = static_cast<double>(untimed);
    double longestWait = 0, worstClientDeskP99 = 0;
    std::printf("\n  %d client(s): per client, latency seen by the client and desktop side\n",
                connections);
    for (const auto& [c, l] : perClientLatency) {
        const auto& d = perClientDesktop[c];
        const double maxWait = percentile(l, 1.0);
        longestWait = std::max(longestWait, maxWait);
        worstClientDeskP99 = std::max(worstClientDeskP99, percentile(d, 0.99));
        std::printf(
            "    client %d: %3zu calls  latency p50 %8.2f ms  p99 %8.2f ms  longest %8.2f ms"
            "  | desktop %3zu timed  p50 %6.3f ms  p99 %6.3f ms\n",
            c, l.size(), percentile(l, 0.5) * 1e3, percentile(l, 0.99) * 1e3, maxWait * 1e3,
            d.size(), percentile(d, 0.5) * 1e3, percentile(d, 0.99) * 1e3);
    }
    std::fflush(stdout);
    state.counters["longest_wait_ms"] = ms(longestWait);
    state.counters["desk_worst_client_p99_ms"] = ms(worstClientDeskP99);
}

BENCHMARK(BM_GetLoginDataRoad)
    ->ArgNames({"conns", "calls_per_conn"})
    ->Args({1, 150})
    ->Args({8, 25})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

// The phone link comes up in the background; the benchmarks start once a call goes through.
void waitUntilThePhoneAnswers() {
    ExtensionConnection probe(gRoad.port());
    std::string why;
    const auto end = Steady::now() + std::chrono::seconds(30);
    while (!probe.call(&why)) {
        if (Steady::now() > end) fail("the phone never answered getLoginData: " + why);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

}  // namespace lumvane::roadbench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    lumvane::timing::setHook(&lumvane::roadbench::recordMark);
    lumvane::roadbench::gRoad.start();
    lumvane::roadbench::waitUntilThePhoneAnswers();
    benchmark::RunSpecifiedBenchmarks();
    lumvane::roadbench::gRoad.stop();
    benchmark::Shutdown();
    return 0;
}
