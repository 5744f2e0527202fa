#include "runtime/BZip2.h"

#include <bzlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

namespace lumvane::bz2 {
namespace {

constexpr int kBlockSize = 9;
constexpr int kWorkFactor = 0;  // the library's default (30)
// bzip2 counts in unsigned int: feed and drain in slices no larger than this.
constexpr size_t kSlice = UINT_MAX / 2;

char* in(std::span<const uint8_t> data, size_t offset) {
    // The library's input pointer is not const but it never writes through it.
    return reinterpret_cast<char*>(const_cast<uint8_t*>(data.data() + offset));
}

// The library's set-up allocates about 7.6 MB (block size 9) for every stream and a
// decompressor about 3.7 MB; getting that from malloc each time (fresh mappings, page
// faults, unmapping) costs far more than compressing a short message. Each thread keeps
// the blocks it was given and hands them out again for the next stream. The library
// initialises every byte it reads, so reused memory never changes the stream.
class Arena {
  public:
    ~Arena() {
        for (const Block& b : blocks_) std::free(b.memory);
    }

    void* allocate(size_t size) {
        for (Block& b : blocks_) {
            if (!b.used && b.size == size) {
                b.used = true;
                return b.memory;
            }
        }
        if (blocks_.size() >= kMaxBlocks) dropOneUnused();
        void* memory = std::malloc(size);
        if (!memory) return nullptr;
        blocks_.push_back(Block{memory, size, true});
        return memory;
    }

    void release(void* memory) {
        for (Block& b : blocks_) {
            if (b.memory == memory) {
                b.used = false;
                return;
            }
        }
        std::free(memory);
    }

  private:
    struct Block {
        void* memory;
        size_t size;
        bool used;
    };
    // A compressor takes 4 blocks and a decompressor 2 or 3; streams of other block
    // sizes take other sizes, and the oldest unused ones make room for them.
    static constexpr size_t kMaxBlocks = 8;

    void dropOneUnused() {
        auto it =
            std::find_if(blocks_.begin(), blocks_.end(), [](const Block& b) { return !b.used; });
        if (it == blocks_.end()) return;
        std::free(it->memory);
        blocks_.erase(it);
    }

    std::vector<Block> blocks_;
};

Arena& threadArena() {
    thread_local Arena arena;
    return arena;
}

void* arenaAlloc(void* opaque, int items, int size) {
    if (items < 0 || size < 0) return nullptr;
    return static_cast<Arena*>(opaque)->allocate(static_cast<size_t>(items) *
                                                 static_cast<size_t>(size));
}

void arenaFree(void* opaque, void* memory) {
    if (memory) static_cast<Arena*>(opaque)->release(memory);
}

void useArena(bz_stream& stream) {
    stream.bzalloc = arenaAlloc;
    stream.bzfree = arenaFree;
    stream.opaque = &threadArena();
}

}  // namespace

std::optional<Bytes> compress(std::span<const uint8_t> data) {
    bz_stream stream{};
    useArena(stream);
    if (BZ2_bzCompressInit(&stream, kBlockSize, 0, kWorkFactor) != BZ_OK) return std::nullopt;
    // The documented worst case: 1% larger plus 600 bytes.
    Bytes out(data.size() + data.size() / 100 + 601);
    size_t inOffset = 0;
    size_t outOffset = 0;
    for (;;) {
        const size_t inStep = std::min(data.size() - inOffset, kSlice);
        stream.next_in = in(data, inOffset);
        stream.avail_in = static_cast<unsigned>(inStep);
        if (out.size() - outOffset < 4096) out.resize(out.size() * 2);
        const size_t outStep = std::min(out.size() - outOffset, kSlice);
        stream.next_out = reinterpret_cast<char*>(out.data() + outOffset);
        stream.avail_out = static_cast<unsigned>(outStep);
        const bool last = inOffset + inStep == data.size();
        const int rc = BZ2_bzCompress(&stream, last ? BZ_FINISH : BZ_RUN);
        inOffset += inStep - stream.avail_in;
        outOffset += outStep - stream.avail_out;
        if (rc == BZ_STREAM_END) break;
        if (rc != BZ_RUN_OK && rc != BZ_FINISH_OK) {
            BZ2_bzCompressEnd(&stream);
            return std::nullopt;
        }
    }
    BZ2_bzCompressEnd(&stream);
    out.resize(outOffset);
    return out;
}

std::optional<Bytes> compressIfSmaller(std::span<const uint8_t> data) {
    // No stream can be that short, so compressing could only be thrown away.
    if (data.size() <= kNeverSmallerUpTo) return std::nullopt;
    auto stream = compress(data);
    if (!stream || stream->size() >= data.size()) return std::nullopt;
    return stream;
}

std::optional<Bytes> decompress(std::span<const uint8_t> data, size_t maxOutput, Failure* why) {
    auto fail = [why](Failure reason) -> std::optional<Bytes> {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (data.empty()) return fail(Failure::kDamaged);
    Bytes out(std::min(maxOutput, std::max<size_t>(data.size() * 4, 4096)));
    size_t produced = 0;
    size_t consumed = 0;
    while (consumed < data.size()) {
        bz_stream stream{};
        useArena(stream);
        if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return fail(Failure::kDamaged);
        struct End {
            bz_stream* s;
            ~End() { BZ2_bzDecompressEnd(s); }
        } end{&stream};
        for (;;) {
            const size_t inStep = std::min(data.size() - consumed, kSlice);
            stream.next_in = in(data, consumed);
            stream.avail_in = static_cast<unsigned>(inStep);
            if (produced == out.size()) {
                if (out.size() >= maxOutput) {
                    // Full at the cap: acceptable only when the stream ends right here.
                    char probe;
                    stream.next_out = &probe;
                    stream.avail_out = 1;
                    const int rc = BZ2_bzDecompress(&stream);
                    consumed += inStep - stream.avail_in;
                    if (rc == BZ_STREAM_END && stream.avail_out == 1) break;
                    return fail(rc == BZ_OK || rc == BZ_STREAM_END ? Failure::kTooLarge
                                                                   : Failure::kDamaged);
                }
                out.resize(std::min(maxOutput, out.size() * 2));
            }
            const size_t room = std::min(out.size() - produced, kSlice);
            stream.next_out = reinterpret_cast<char*>(out.data() + produced);
            stream.avail_out = static_cast<unsigned>(room);
            const int rc = BZ2_bzDecompress(&stream);
            const size_t used = inStep - stream.avail_in;
            const size_t made = room - stream.avail_out;
            consumed += used;
            produced += made;
            if (rc == BZ_STREAM_END) break;
            // An error, or no progress at all: a damaged or truncated stream.
            if (rc != BZ_OK || (used == 0 && made == 0)) return fail(Failure::kDamaged);
        }
    }
    out.resize(produced);
    return out;
}

}  // namespace lumvane::bz2
