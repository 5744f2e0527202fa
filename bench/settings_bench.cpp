// Settings store: cached getter latency (1 and 8 readers), setter-to-file latency, and a
// burst of 1000 changes (file writes merged, every observer told every mask).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "runtime/Paths.h"
#include "settings/TBNSettings.h"

using namespace lumvane;

namespace {

struct Counter : TBNSettingsDelegate {
    std::mutex mutex;
    std::condition_variable cv;
    uint64_t count = 0;
    void settingsDidUpdated(TBNSettings&, TBNSettingsComponents) override {
        std::lock_guard<std::mutex> g(mutex);
        ++count;
        cv.notify_all();
    }
    void waitFor(uint64_t n) {
        std::unique_lock<std::mutex> lk(mutex);
        cv.wait(lk, [&] { return count >= n; });
    }
};

std::shared_ptr<TBNSettings> makeStore() {
    static std::filesystem::path root = [] {
        char pattern[] = "/tmp/lumvane-settings-bench-XXXXXX";
        std::filesystem::path p = ::mkdtemp(pattern);
        Paths::setRootOverride(p);
        // Removed when the program ends (after the store, made after this, is gone).
        static const std::string* folder = new std::string(p.string());
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*folder, ec);
        });
        return p;
    }();
    auto store = TBNSettings::create();
    std::error_code ec;
    std::filesystem::remove(TBNSettings::settingsFilePath(), ec);
    store->loadBySettingsClass(TBNSettings::settingsFilePath());
    store->decryptEncryptedSettingsByKey(Bytes(32, 7));
    store->upgrade();
    store->waitForPendingSaves();
    return store;
}

std::shared_ptr<TBNSettings>& shared() {
    static std::shared_ptr<TBNSettings> store = makeStore();
    return store;
}

void BM_CachedGetter(benchmark::State& state) {
    auto& store = shared();
    (void)store->clientId();
    for (auto _ : state) {
        benchmark::DoNotOptimize(store->paused());
        benchmark::DoNotOptimize(store->clientId());
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_CachedGetter)->Threads(1)->Threads(8)->UseRealTime();

void BM_UncachedGetter(benchmark::State& state) {
    auto& store = shared();
    for (auto _ : state) benchmark::DoNotOptimize(store->pongFlags());
}
BENCHMARK(BM_UncachedGetter)->Threads(1)->Threads(8)->UseRealTime();

// From a setter to the change being in the file (encrypted, fsynced, renamed).
void BM_SetterToFile(benchmark::State& state) {
    auto& store = shared();
    int i = 0;
    for (auto _ : state) {
        store->setLoggingLevel(11 + (++i % 3));
        store->waitForPendingSaves();
    }
}
BENCHMARK(BM_SetterToFile)->UseRealTime()->Unit(benchmark::kMillisecond);

// 1000 changes handed over at once, until the last observer call.
void BM_Burst1000(benchmark::State& state) {
    auto& store = shared();
    auto counter = std::make_shared<Counter>();
    store->addDelegate(counter);
    uint64_t expected = 0;
    uint64_t writes = 0;
    for (auto _ : state) {
        const uint64_t before = store->fileWrites();
        for (int i = 0; i < 1000; ++i) store->setWizardSafariState(i);
        store->waitForPendingSaves();
        expected += 1000;
        counter->waitFor(expected);
        writes += store->fileWrites() - before;
    }
    state.counters["fileWritesPerBurst"] =
        benchmark::Counter(static_cast<double>(writes) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_Burst1000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
