// Arbitrary chunk sequences into the phone link's reassembly. Input: a run of
// [length u16 LE][chunk bytes]. A first byte of 0xFF instead splits the rest as
// a message and checks that reassembly gives it back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "blec/BLECDataManager.h"
#include "blec/BLECLog.h"

using lumvane::BLECDataManager;
using lumvane::Bytes;

namespace {

const Bytes kKey(32, 0x5A);
constexpr size_t kMaxMessage = 1 << 20;

void roundTrip(const uint8_t* data, size_t size) {
    if (size < 4) return;
    const uint16_t c = static_cast<uint16_t>(10 + (data[0] | (data[1] << 8)) % 600);
    const bool compress = data[2] & 1;
    const bool encrypt = data[2] & 2;
    Bytes message(data + 3, data + size);
    BLECDataManager sender;
    auto chunks = sender.splitDataToChunks(
        message, 9, c, encrypt ? std::optional<Bytes>(kKey) : std::nullopt, compress);
    if (chunks.empty()) std::abort();
    BLECDataManager receiver;
    int completions = 0;
    for (const auto& chunk : chunks) {
        if (chunk.size() > c) std::abort();
        receiver.proccessChunk(
            chunk, [] { return std::vector<Bytes>{kKey}; },
            [&](uint16_t id, std::optional<Bytes> got, bool, bool, std::optional<Bytes>,
                BLECDataManager::Central) {
                ++completions;
                if (id != 9 || !got || *got != message) std::abort();
            });
    }
    if (completions != 1) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        lumvane::blec::setLogSink(
            [](lumvane::blec::LogLevel, std::string_view, std::string_view) {});
        return true;
    }();
    (void)quiet;
    if (size > 0 && data[0] == 0xFF) {
        roundTrip(data + 1, size - 1);
        return 0;
    }
    BLECDataManager manager;
    manager.setMaxMessageLength(kMaxMessage);
    size_t at = 0;
    while (at + 2 <= size) {
        size_t n = data[at] | (data[at + 1] << 8);
        at += 2;
        n = std::min(n, size - at);
        Bytes chunk(data + at, data + at + n);
        at += n;
        manager.proccessChunk(
            chunk,
            [] {
                return std::vector<Bytes>{Bytes(16, 1), kKey};
            },
            [](uint16_t, std::optional<Bytes> got, bool, bool, std::optional<Bytes>,
               BLECDataManager::Central) {
                if (got && got->size() > kMaxMessage) std::abort();
            });
    }
    return 0;
}
