// getLoginData along the whole road, with the phone answering at once: an HTTP client posts
// the JSON-encoded call to the service's server on 127.0.0.1, the extension handlers pass it
// to the remote phone service, which sends it over the phone link on the simulated radio to
// the in-process simulated phone (vault fixture) and back.
//
// Besides throughput and latency percentiles, the phone client is wrapped so that every
// round trip on the link (the RPC transport's flush, which sends the call and blocks until
// the reply is there) is timed. A request's time while the link was busy (with its own trip
// or another's) is waiting on the link; the rest is what this computer adds itself.
#include <benchmark/benchmark.h>
#include <httplib.h>
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

// The RPC transport with its flush timed.
class TimedTTransport : public TTransport {
  public:
    explicit TimedTTransport(std::shared_ptr<TTransport> inner) : inner_(std::move(inner)) {}
    bool isOpen() const override { return inner_->isOpen(); }
    bool peek() override { return inner_->peek(); }
    void open() override { inner_->open(); }
    void close() override { inner_->close(); }
    uint32_t read_virt(uint8_t* buf, uint32_t len) override { return inner_->read(buf, len); }
    uint32_t readAll_virt(uint8_t* buf, uint32_t len) override {
        return inner_->readAll(buf, len);
    }
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
            std::string("iPhone9,3"), std::string("0011223344556677"), 80, 2,
            std::string("10.3.1"), std::string("1.2.0"), 1, false, false, nullptr, std::nullopt);
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
    explicit ExtensionConnection(int port) : http_("127.0.0.1", port) {
        http_.set_keep_alive(true);
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

// How long the link was busy with round trips during `request`: the union of the trips
// clipped to the request. A trip of another request (or of the service's own) that overlaps
// is time this request waited on the link too.
double linkBusyWithin(const Span& request, const std::vector<Span>& trips) {
    std::vector<Span> clipped;
    for (const auto& t : trips) {
        const auto a = std::max(t.start, request.start), b = std::min(t.end, request.end);
        if (a < b) clipped.push_back({a, b});
    }
    std::sort(clipped.begin(), clipped.end(),
              [](const Span& x, const Span& y) { return x.start < y.start; });
    Steady::duration busy{0};
    Steady::time_point reached{};
    for (const auto& c : clipped) {
        const auto from = std::max(c.start, reached);
        if (c.end > from) busy += c.end - from;
        reached = std::max(reached, c.end);
    }
    return seconds(busy);
}

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
    std::vector<double> latencies, macSide;
    std::vector<Span> spans;
    int64_t failures = 0, linkNanos = 0, linkTrips = 0;
    {
        std::lock_guard<std::mutex> lock(gTripMutex);
        gTrips.clear();
    }
    for (auto _ : state) {
        std::vector<std::unique_ptr<ExtensionConnection>> extensions;
        for (int c = 0; c < connections; ++c)
            extensions.push_back(std::make_unique<ExtensionConnection>(gRoad.port()));
        // Warm the connections up (and check the road) outside the measurement.
        std::string why;
        for (auto& e : extensions)
            if (!e->call(&why)) fail("getLoginData did not bring back the phone's login: " + why);
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
                failures += bad;
            });
        }
        for (auto& w : workers) w.join();
        state.SetIterationTime(seconds(Steady::now() - start));
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
    // With one connection, where the Mac's own time goes: before the first trip of a request
    // (HTTP, handlers, service, encoding) and after its last one (decoding, answer, HTTP).
    std::vector<double> before, after;
    for (const auto& r : spans) {
        latencies.push_back(seconds(r.end - r.start));
        macSide.push_back(latencies.back() - linkBusyWithin(r, tripSpans));
        std::optional<Span> first, last;
        for (const auto& t : tripSpans) {
            if (t.start < r.start || t.end > r.end) continue;
            if (!first || t.start < first->start) first = t;
            if (!last || t.end > last->end) last = t;
        }
        if (connections == 1 && first) {
            before.push_back(seconds(first->start - r.start));
            after.push_back(seconds(r.end - last->end));
        }
    }
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
    // What this computer adds: each request's time while the link was not busy.
    double meanMac = 0;
    for (double m : macSide) meanMac += m;
    meanMac = requests ? meanMac / static_cast<double>(requests) : 0;
    state.counters["mac_p50_ms"] = ms(percentile(macSide, 0.50));
    state.counters["mac_p99_ms"] = ms(percentile(macSide, 0.99));
    state.counters["mac_mean_ms"] = ms(meanMac);
    if (connections == 1) {
        state.counters["mac_before_link_p50_ms"] = ms(percentile(before, 0.50));
        state.counters["mac_before_link_p99_ms"] = ms(percentile(before, 0.99));
        state.counters["mac_after_link_p50_ms"] = ms(percentile(after, 0.50));
        state.counters["mac_after_link_p99_ms"] = ms(percentile(after, 0.99));
    }
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
    lumvane::roadbench::gRoad.start();
    lumvane::roadbench::waitUntilThePhoneAnswers();
    benchmark::RunSpecifiedBenchmarks();
    lumvane::roadbench::gRoad.stop();
    benchmark::Shutdown();
    return 0;
}
