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
//
// The machines these run on are shared, so every goal is a ratio to a baseline run in the
// same process and alternated with it (BaselineServer.h): the desktop side against a plain
// Beast server of the same shape (I/O thread -> worker -> link thread answering after
// 5 ms -> worker writes), sendPing throughput (wrk) against a one-thread Beast server
// answering with a body of the same size, and the resident memory after large bodies
// against the resident memory while serving before them.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TTransport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BaselineServer.h"
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
        lastReply_ = r->body;
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

    const std::string& lastReply() const { return lastReply_; }

  private:
    httplib::Client http_;
    std::string body_;
    std::string lastReply_;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
    return v[i];
}

// The baseline of the desktop side: the same shape of work with a link that answers after
// 5 ms, answering with the bytes the service answered with (so the client's work is the
// same). Made once the service has answered.
std::unique_ptr<bench::BaselineServer> gHandOffBaseline;

// `connections` extensions, each making `perConnection` calls at once against `port`.
struct CallsRun {
    std::vector<Span> spans;
    std::map<int, std::vector<double>> perClientLatency;
    std::map<uint64_t, int> clientOfPort;
    std::vector<MarkEvent> marks;
    int64_t failures = 0;
    double seconds = 0;
};

CallsRun runCalls(int port, int connections, int perConnection) {
    CallsRun run;
    std::vector<std::unique_ptr<ExtensionConnection>> extensions;
    std::mutex portMutex;
    for (int c = 0; c < connections; ++c) {
        extensions.push_back(std::make_unique<ExtensionConnection>(port, [&, c](uint16_t p) {
            std::lock_guard<std::mutex> lock(portMutex);
            run.clientOfPort[p] = c;
        }));
    }
    // Warm the connections up (and check the road) outside the measurement.
    std::string why;
    for (auto& e : extensions)
        if (!e->call(&why)) fail("getLoginData did not bring back the phone's login: " + why);
    takeMarks();
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
            run.spans.insert(run.spans.end(), mine.begin(), mine.end());
            for (const auto& m : mine) run.perClientLatency[c].push_back(seconds(m.end - m.start));
            run.failures += bad;
        });
    }
    for (auto& w : workers) w.join();
    run.seconds = seconds(Steady::now() - start);
    run.marks = takeMarks();
    return run;
}

// One run: `connections` extensions each make `perConnection` calls at once; every call's
// latency and (single connection) the link time inside it are recorded. Then the same
// against the baseline of the same shape, whose desktop side the ratios divide by.
void BM_GetLoginDataRoad(benchmark::State& state) {
    const int connections = static_cast<int>(state.range(0));
    const int perConnection = static_cast<int>(state.range(1));
    std::vector<double> latencies, desktop, deskIn, deskSplit, deskOut, baseDesktop;
    std::vector<Span> spans;
    std::map<int, std::vector<double>> perClientDesktop, perClientLatency;
    int64_t untimed = 0;
    int64_t failures = 0, linkNanos = 0, linkTrips = 0;
    {
        std::lock_guard<std::mutex> lock(gTripMutex);
        gTrips.clear();
    }
    for (auto _ : state) {
        const int64_t nanosBefore = gLinkNanos.load(), tripsBefore = gLinkTrips.load();
        {
            std::lock_guard<std::mutex> lock(gTripMutex);
            gTrips.clear();
        }
        CallsRun run = runCalls(gRoad.port(), connections, perConnection);
        state.SetIterationTime(run.seconds);
        spans.insert(spans.end(), run.spans.begin(), run.spans.end());
        for (auto& [c, l] : run.perClientLatency)
            perClientLatency[c].insert(perClientLatency[c].end(), l.begin(), l.end());
        failures += run.failures;
        for (const auto& [tag, r] : requestsFrom(run.marks)) {
            if (!r.complete()) {
                ++untimed;
                continue;
            }
            desktop.push_back(r.desktopSeconds());
            deskIn.push_back(r.inSeconds());
            deskSplit.push_back(r.splitSeconds());
            deskOut.push_back(r.outSeconds());
            auto it = run.clientOfPort.find(r.port);
            if (it != run.clientOfPort.end())
                perClientDesktop[it->second].push_back(desktop.back());
        }
        linkNanos += gLinkNanos.load() - nanosBefore;
        linkTrips += gLinkTrips.load() - tripsBefore;

        // The baseline, right after, with the same clients and calls.
        CallsRun base = runCalls(gHandOffBaseline->port(), connections, perConnection);
        for (const auto& [tag, r] : requestsFrom(base.marks)) {
            if (r.complete()) baseDesktop.push_back(r.desktopSeconds());
        }
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
    // The baseline's desktop side and ours divided by it.
    const double baseP50 = percentile(baseDesktop, 0.50), baseP99 = percentile(baseDesktop, 0.99);
    state.counters["base_desk_p50_ms"] = ms(baseP50);
    state.counters["base_desk_p99_ms"] = ms(baseP99);
    state.counters["ratio_desk_p50"] = baseP50 > 0 ? percentile(desktop, 0.50) / baseP50 : 0;
    state.counters["ratio_desk_p99"] = baseP99 > 0 ? percentile(desktop, 0.99) / baseP99 : 0;
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
    std::printf(
        "    desktop side p50 / p99: ours %.3f / %.3f ms, baseline %.3f / %.3f ms, "
        "ratio %.2f / %.2f\n",
        percentile(desktop, 0.5) * 1e3, percentile(desktop, 0.99) * 1e3, baseP50 * 1e3,
        baseP99 * 1e3, baseP50 > 0 ? percentile(desktop, 0.5) / baseP50 : 0,
        baseP99 > 0 ? percentile(desktop, 0.99) / baseP99 : 0);
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

// ---- sendPing throughput, against a one-thread Beast server -----------------------------

// An approved extension's ping, as a bare JSON-encoded call.
std::string pingBody() {
    auto request = std::make_shared<TBNPingTestRequest>();
    request->setInfo(std::make_shared<TBNRequestInfo>());
    request->setAuth(
        std::make_shared<TBNAuthentication>(std::string(kExtId), std::string(kExtSecret)));
    request->setAppIdentifier(std::string("com.example.bench"));
    request->setAppVersion(std::string("1.0"));
    auto out = std::make_shared<TMemoryBuffer>();
    TBNHostStorageServiceClient writer(
        ThriftJSONProtocolFactory::sharedFactory()->getProtocol(out));
    writer.send_sendPing(request);
    return out->getBufferAsString();
}

std::string gPingReply;
std::unique_ptr<bench::BaselineServer> gInlineBaseline;
fs::path gWrkScript;

// wrk's requests per second against `port` with `connections` kept-alive connections.
double wrkRate(int port, int connections, double secondsToRun) {
    const std::string command = "wrk -t2 -c" + std::to_string(connections) + " -d" +
                                std::to_string(static_cast<int>(secondsToRun)) + "s -s " +
                                gWrkScript.string() + " http://127.0.0.1:" + std::to_string(port) +
                                "/thrift 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) fail("wrk could not be started");
    std::string out;
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
    const int status = ::pclose(pipe);
    const auto at = out.find("Requests/sec:");
    if (status != 0 || at == std::string::npos) fail("wrk failed: " + out);
    if (out.find("Non-2xx") != std::string::npos) fail("wrk saw errors: " + out);
    return std::strtod(out.c_str() + at + 13, nullptr);
}

// Ours and the baseline, one right after the other.
void BM_PingThroughput(benchmark::State& state) {
    const int connections = static_cast<int>(state.range(0));
    double ours = 0, beast = 0;
    // No request timing here: the service runs as it does for the extensions.
    timing::setHook(nullptr);
    struct Restore {
        ~Restore() { timing::setHook(&recordMark); }
    } restore;
    // Three short runs of each, alternated; the medians are compared.
    for (auto _ : state) {
        std::vector<double> mine, theirs;
        for (int round = 0; round < 3; ++round) {
            mine.push_back(wrkRate(gRoad.port(), connections, 1));
            theirs.push_back(wrkRate(gInlineBaseline->port(), connections, 1));
        }
        ours = percentile(mine, 0.5);
        beast = percentile(theirs, 0.5);
        state.SetIterationTime(6);
    }
    state.counters["ours_rps"] = ours;
    state.counters["beast_rps"] = beast;
    state.counters["ratio"] = beast > 0 ? ours / beast : 0;
    std::printf("\n  sendPing, %d connections: ours %.0f/s, one-thread Beast %.0f/s, ratio %.2f\n",
                connections, ours, beast, beast > 0 ? ours / beast : 0);
    std::fflush(stdout);
}

BENCHMARK(BM_PingThroughput)
    ->ArgNames({"conns"})
    ->Arg(8)
    ->Arg(64)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// ---- memory after large bodies --------------------------------------------------------------

size_t residentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
    }
    return 0;
}

// The resident memory some time after 8 extensions sent a 4 MiB body each at once, against
// the resident memory while serving just before (LUMVANE_RSS_WAIT_S, 30 s by default).
void BM_LargeBodiesRss(benchmark::State& state) {
    const char* waitText = std::getenv("LUMVANE_RSS_WAIT_S");
    const double wait = waitText ? std::strtod(waitText, nullptr) : 30.0;
    // A 4 MiB envelope (its request unreadable): what the server parses and copies.
    const std::string body = "{\"clientId\":\"" + std::string(kExtId) +
                             "\",\"encrypted\":false,\"request\":\"" +
                             std::string(4u * 1024 * 1024 - 80, 'a') + "\"}";
    double serving = 0, after = 0, peak = 0;
    int refused = 0;
    for (auto _ : state) {
        {
            ExtensionConnection ping(gRoad.port());
            if (!ping.call()) fail("the service does not answer before the large bodies");
        }
        serving = static_cast<double>(residentBytes());
        std::vector<std::thread> senders;
        std::atomic<int> busy{0};
        for (int i = 0; i < 8; ++i) {
            senders.emplace_back([&] {
                httplib::Client http("127.0.0.1", gRoad.port());
                http.set_read_timeout(60);
                auto r = http.Post("/thrift", body, "application/json");
                if (!r) fail("a large body got no answer");
                if (r->status == 503) ++busy;
            });
        }
        for (auto& t : senders) t.join();
        refused += busy.load();
        peak = std::max(peak, static_cast<double>(residentBytes()));
        std::this_thread::sleep_for(std::chrono::duration<double>(wait));
        after = static_cast<double>(residentBytes());
        state.SetIterationTime(wait);
    }
    state.counters["serving_mb"] = serving / 1e6;
    state.counters["peak_mb"] = peak / 1e6;
    state.counters["after_mb"] = after / 1e6;
    state.counters["refused"] = refused;
    state.counters["ratio"] = serving > 0 ? after / serving : 0;
    std::printf(
        "\n  8 x 4 MiB bodies: resident %.1f MB serving, %.1f MB just after, %.1f MB "
        "%.0f s later (ratio %.2f); %d refused as busy\n",
        serving / 1e6, peak / 1e6, after / 1e6, wait, serving > 0 ? after / serving : 0, refused);
    std::fflush(stdout);
}

BENCHMARK(BM_LargeBodiesRss)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

// The phone link comes up in the background; the benchmarks start once a call goes through.
// Then the baselines start, answering with what the service answered.
void waitUntilThePhoneAnswers() {
    ExtensionConnection probe(gRoad.port());
    std::string why;
    const auto end = Steady::now() + std::chrono::seconds(30);
    while (!probe.call(&why)) {
        if (Steady::now() > end) fail("the phone never answered getLoginData: " + why);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    bench::BaselineServer::Options handOff;
    handOff.shape = bench::BaselineServer::Shape::HandOff;
    handOff.replyBody = probe.lastReply();
    handOff.marks = &recordMark;
    gHandOffBaseline = std::make_unique<bench::BaselineServer>(handOff);

    const std::string ping = pingBody();
    httplib::Client http("127.0.0.1", gRoad.port());
    auto pong = http.Post("/thrift", ping, "application/x-thrift");
    if (!pong || pong->status != 200) fail("the extension's ping is not answered");
    {
        auto in = std::make_shared<TMemoryBuffer>();
        in->write(reinterpret_cast<const uint8_t*>(pong->body.data()),
                  static_cast<uint32_t>(pong->body.size()));
        TBNHostStorageServiceClient reader(
            ThriftJSONProtocolFactory::sharedFactory()->getProtocol(in));
        auto answer = reader.recv_sendPing();
        if (!answer || !answer->info() || answer->info()->error())
            fail("the approved extension's ping is answered with an error");
    }
    gPingReply = pong->body;
    bench::BaselineServer::Options inlineOptions;
    inlineOptions.replyBody = gPingReply;
    gInlineBaseline = std::make_unique<bench::BaselineServer>(inlineOptions);
    // In the run's folder, which goes with the run however it ends.
    gWrkScript = fs::temp_directory_path() / ("lumvane-roadbench-" + std::to_string(::getpid())) /
                 "ping.lua";
    std::ofstream script(gWrkScript);
    nlohmann::json text = ping;
    script << "wrk.method = \"POST\"\nwrk.headers[\"Content-Type\"] = \"application/x-thrift\"\n"
           << "wrk.body = " << text.dump() << "\n";
}

void stopBaselines() {
    gHandOffBaseline.reset();
    gInlineBaseline.reset();
    std::error_code ec;
    fs::remove(gWrkScript, ec);
}

}  // namespace lumvane::roadbench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    lumvane::timing::setHook(&lumvane::roadbench::recordMark);
    lumvane::roadbench::gRoad.start();
    lumvane::roadbench::waitUntilThePhoneAnswers();
    benchmark::RunSpecifiedBenchmarks();
    lumvane::roadbench::stopBaselines();
    lumvane::roadbench::gRoad.stop();
    benchmark::Shutdown();
    return 0;
}
