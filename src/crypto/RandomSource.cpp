#include "crypto/RandomSource.h"

#include <openssl/rand.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

namespace lumvane {

namespace {

class OpenSslRandomSource final : public RandomSource {
  public:
    void fill(std::span<uint8_t> out) override {
        // RAND_bytes takes an int count: feed large buffers in slices.
        size_t done = 0;
        while (done < out.size()) {
            const size_t step = std::min<size_t>(out.size() - done, size_t{1} << 30);
            if (RAND_bytes(out.data() + done, static_cast<int>(step)) != 1) {
                throw CryptoRandomError("System random source failed");
            }
            done += step;
        }
    }
};

std::atomic<RandomSource*> g_source{nullptr};

}  // namespace

RandomSource& systemRandomSource() {
    static OpenSslRandomSource source;
    return source;
}

RandomSource& currentRandomSource() {
    RandomSource* source = g_source.load(std::memory_order_acquire);
    return source ? *source : systemRandomSource();
}

ScopedRandomSource::ScopedRandomSource(RandomSource& source)
    : previous_(g_source.exchange(&source, std::memory_order_acq_rel)) {}

ScopedRandomSource::~ScopedRandomSource() {
    g_source.store(previous_, std::memory_order_release);
}

uint32_t randomUniform32(uint32_t bound) {
    if (bound <= 1) {
        return 0;
    }
    // Accept only draws below the largest multiple of bound that fits in 2^32.
    const uint32_t limit =
        static_cast<uint32_t>((uint64_t{1} << 32) - ((uint64_t{1} << 32) % bound));
    RandomSource& source = currentRandomSource();
    for (;;) {
        uint32_t word = 0;
        source.fill({reinterpret_cast<uint8_t*>(&word), sizeof word});
        if (limit == 0 || word < limit) {
            return word % bound;
        }
    }
}

uint64_t randomUniform64(uint64_t bound) {
    if (bound <= 1) {
        return 0;
    }
    if (bound <= UINT32_MAX) {
        return randomUniform32(static_cast<uint32_t>(bound));
    }
    // 2^64 mod bound, computed without overflowing.
    const uint64_t rest = (0 - bound) % bound;
    RandomSource& source = currentRandomSource();
    for (;;) {
        uint64_t word = 0;
        source.fill({reinterpret_cast<uint8_t*>(&word), sizeof word});
        if (word <= UINT64_MAX - rest) {
            return word % bound;
        }
    }
}

}  // namespace lumvane
