// Phone-link chunking throughput: split (+ compress + encrypt) and reassemble
// (+ decrypt + decompress) at the chunk sizes the link uses. The yardstick is the
// radio: the LE 2M PHY carries at most about 175 KB/s of application data, so the
// uncompressed encrypted path should run at least 100x faster (17.5 MB/s) to stay
// out of the link's way. Counters report MB/s of message bytes (decimal MB).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "blec/BLECDataManager.h"

using lumvane::BLECDataManager;
using lumvane::Bytes;

namespace {

// Vault-like text: compressible, but not trivially.
Bytes message(size_t n) {
    static const char* words[] = {"login",  "password", "example.com", "account", "token",
                                  "secret", "2fa",      "notes",       "mail",    "user"};
    Bytes b;
    b.reserve(n);
    uint32_t x = 12345;
    while (b.size() < n) {
        x = x * 1103515245 + 12345;
        const char* w = words[(x >> 16) % 10];
        for (const char* p = w; *p && b.size() < n; ++p) b.push_back(static_cast<uint8_t>(*p));
        if (b.size() < n) b.push_back(static_cast<uint8_t>('0' + (x >> 8) % 10));
    }
    return b;
}

enum Mode { kPlain = 0, kEncrypted = 1, kCompressedEncrypted = 2 };

void splitAndReassemble(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const auto chunkSize = static_cast<uint16_t>(state.range(1));
    const Mode mode = static_cast<Mode>(state.range(2));
    const Bytes data = message(size);
    const Bytes key(32, 0x42);
    const std::optional<Bytes> encryptKey =
        mode == kPlain ? std::nullopt : std::optional<Bytes>(key);
    const std::vector<Bytes> keys{key};
    BLECDataManager sender;
    BLECDataManager receiver;
    size_t chunkCount = 0;
    for (auto _ : state) {
        auto chunks =
            sender.splitDataToChunks(data, 1, chunkSize, encryptKey, mode == kCompressedEncrypted);
        chunkCount = chunks.size();
        if (chunks.empty()) {
            // At chunk size 20 the format numbers at most 16,384 chunks: 294,904 bytes.
            state.SkipWithError("message does not fit the chunk format at this chunk size");
            return;
        }
        bool ok = false;
        for (const auto& chunk : chunks) {
            receiver.proccessChunk(
                chunk, [&] { return keys; },
                [&](uint16_t, std::optional<Bytes> got, bool, bool, std::optional<Bytes>,
                    BLECDataManager::Central) { ok = got && got->size() == size; });
        }
        if (!ok) {
            state.SkipWithError("round trip failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * size) / 1e6, benchmark::Counter::kIsRate);
    state.counters["x_radio"] = benchmark::Counter(
        static_cast<double>(state.iterations() * size) / 175e3, benchmark::Counter::kIsRate);
    state.counters["chunks"] = static_cast<double>(chunkCount);
}

void args(benchmark::internal::Benchmark* b) {
    for (int64_t size : {1 << 10, 64 << 10, 1 << 20}) {
        for (int64_t chunk : {20, 182, 512}) {
            for (int64_t mode : {kPlain, kEncrypted, kCompressedEncrypted}) {
                b->Args({size, chunk, mode});
            }
        }
    }
    b->ArgNames({"bytes", "chunk", "mode"});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

// mode: 0 plain, 1 encrypted, 2 compressed + encrypted
BENCHMARK(splitAndReassemble)->Apply(args);

BENCHMARK_MAIN();
