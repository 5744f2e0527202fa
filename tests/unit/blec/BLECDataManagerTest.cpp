// Chunk format, payload pipeline and reassembly of the phone link's data manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "blec/BLECDataManager.h"
#include "blec/BLECLog.h"
#include "crypto/TBNCryptAES.h"
#include "runtime/BZip2.h"

namespace lumvane {
namespace {

Bytes filled(size_t n, uint8_t start = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(start + i * 7);
    return b;
}

Bytes randomBytes(size_t n, uint32_t seed = 42) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(gen());
    return b;
}

// Text-like bytes that bzip2 shrinks well.
Bytes compressible(size_t n) {
    static const std::string words = "login password site account example.com token ";
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(words[(i * 3 + i / 11) % words.size()]);
    return b;
}

Bytes key32(uint8_t seed) {
    Bytes k(32);
    for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(seed + i);
    return k;
}

uint16_t le16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t le32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

Bytes firstChunk(uint16_t flags, uint16_t id, uint16_t c, uint32_t total, const Bytes& payload) {
    Bytes b = {static_cast<uint8_t>(flags),       static_cast<uint8_t>(flags >> 8),
               static_cast<uint8_t>(id),          static_cast<uint8_t>(id >> 8),
               static_cast<uint8_t>(c),           static_cast<uint8_t>(c >> 8),
               static_cast<uint8_t>(total),       static_cast<uint8_t>(total >> 8),
               static_cast<uint8_t>(total >> 16), static_cast<uint8_t>(total >> 24)};
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes nextChunk(uint16_t word, const Bytes& payload) {
    Bytes b = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

struct Outcome {
    uint16_t id = 0;
    std::optional<Bytes> data;
    bool encrypted = false;
    bool compressed = false;
    std::optional<Bytes> key;
};

// Collects completions and counts key-provider calls.
struct Receiver {
    BLECDataManager manager;
    std::vector<Outcome> outcomes;
    std::optional<std::vector<Bytes>> keys;
    int keyCalls = 0;

    void feed(const Bytes& chunk) {
        manager.proccessChunk(
            chunk,
            [this] {
                ++keyCalls;
                return keys;
            },
            [this](uint16_t id, std::optional<Bytes> data, bool enc, bool comp,
                   std::optional<Bytes> key, BLECDataManager::Central) {
                outcomes.push_back({id, std::move(data), enc, comp, std::move(key)});
            });
    }
    void feedAll(const std::vector<Bytes>& chunks) {
        for (const auto& c : chunks) feed(c);
    }
};

// Keeps the error lines of the manager out of the test output and counts them.
class QuietLog {
  public:
    QuietLog() {
        old_ = blec::setLogSink([this](blec::LogLevel level, std::string_view, std::string_view) {
            if (level == blec::LogLevel::Error) ++errors;
        });
    }
    ~QuietLog() { blec::setLogSink(old_); }
    int errors = 0;

  private:
    blec::LogSink old_;
};

// --- splitting ---------------------------------------------------------------

struct SplitCase {
    const char* name;
    size_t length;
    uint16_t chunkSize;
    std::vector<size_t> chunkLengths;
    std::vector<uint16_t> leadingWords;  // flags of the first chunk, then sequence words
};

class SplitTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTable, ChunkLengthsAndWords) {
    const SplitCase& tc = GetParam();
    BLECDataManager manager;
    const Bytes message = filled(tc.length);
    auto chunks = manager.splitDataToChunks(message, 7, tc.chunkSize, std::nullopt, false);
    ASSERT_EQ(chunks.size(), tc.chunkLengths.size());
    ASSERT_EQ(BLECDataManager::chunkCountFor(tc.length, tc.chunkSize), tc.chunkLengths.size());
    Bytes joined;
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].size(), tc.chunkLengths[i]) << "chunk " << i;
        EXPECT_EQ(le16(chunks[i], 0), tc.leadingWords[i]) << "chunk " << i;
        const size_t header = i == 0 ? 10 : 2;
        joined.insert(joined.end(), chunks[i].begin() + header, chunks[i].end());
    }
    EXPECT_EQ(le16(chunks[0], 2), 7);
    EXPECT_EQ(le16(chunks[0], 4), tc.chunkSize);
    EXPECT_EQ(le32(chunks[0], 6), tc.length);
    EXPECT_EQ(joined, message);
}

INSTANTIATE_TEST_SUITE_P(
    Format, SplitTable,
    ::testing::Values(
        SplitCase{"FiveBytes", 5, 20, {15}, {0xC000}},
        SplitCase{"ThirtyBytes", 30, 20, {20, 20, 4}, {0x8000, 0x0001, 0x4002}},
        SplitCase{"ExactlyOneChunk", 10, 20, {20}, {0xC000}},
        SplitCase{"OneByteOver", 11, 20, {20, 3}, {0x8000, 0x4001}},
        SplitCase{"Empty", 0, 20, {10}, {0xC000}},
        SplitCase{"SmallestChunkSize", 17, 10, {10, 10, 10, 3}, {0x8000, 0x0001, 0x0002, 0x4003}},
        SplitCase{"Mtu185", 500, 182, {182, 182, 150}, {0x8000, 0x0001, 0x4002}},
        SplitCase{"Mtu517", 1000, 512, {512, 500}, {0x8000, 0x4001}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BLECDataManagerSplit, FiveByteMessageBytesExactly) {
    BLECDataManager manager;
    auto chunks = manager.splitDataToChunks({1, 2, 3, 4, 5}, 7, 20, std::nullopt, false);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0],
              (Bytes{0x00, 0xC0, 0x07, 0x00, 0x14, 0x00, 0x05, 0x00, 0x00, 0x00, 1, 2, 3, 4, 5}));
}

TEST(BLECDataManagerSplit, SequenceNumbersUseFourteenBitsUpToTheFormatLimit) {
    BLECDataManager manager;
    // The largest message at chunk size 20: 16,383 continuation chunks.
    const size_t largest = 10 + 16383 * 18;
    auto chunks = manager.splitDataToChunks(Bytes(largest, 0xAB), 1, 20, std::nullopt, false);
    ASSERT_EQ(chunks.size(), 16384u);
    EXPECT_EQ(le16(chunks[1], 0), 0x0001);
    EXPECT_EQ(le16(chunks[16382], 0), 16382);
    EXPECT_EQ(le16(chunks[16383], 0), 0x4000 | 0x3FFF);
    // One byte more would need sequence number 16,384, which travels as 0.
    QuietLog quiet;
    EXPECT_TRUE(
        manager.splitDataToChunks(Bytes(largest + 1, 0xAB), 1, 20, std::nullopt, false).empty());
}

TEST(BLECDataManagerSplit, RefusesChunkSizeBelowHeader) {
    QuietLog quiet;
    BLECDataManager manager;
    EXPECT_TRUE(manager.splitDataToChunks(filled(5), 1, 9, std::nullopt, false).empty());
    EXPECT_TRUE(manager.splitDataToChunks(filled(5), 1, 0, std::nullopt, false).empty());
    EXPECT_EQ(manager.splitDataToChunks(filled(5), 1, 10, std::nullopt, false).size(), 2u);
}

TEST(BLECDataManagerSplit, CompressionKeptOnlyWhenStrictlySmaller) {
    BLECDataManager manager;
    // Random bytes and the empty message do not shrink: sent as they are.
    for (const Bytes& message : {randomBytes(300), Bytes{}}) {
        auto chunks = manager.splitDataToChunks(message, 3, 182, std::nullopt, true);
        ASSERT_FALSE(chunks.empty());
        EXPECT_EQ(le16(chunks[0], 0) & BLECDataManager::kCompressedFlag, 0);
        EXPECT_EQ(le32(chunks[0], 6), message.size());
    }
    // Text shrinks: flagged, and the total is the compressed length.
    const Bytes text = compressible(4000);
    auto chunks = manager.splitDataToChunks(text, 3, 182, std::nullopt, true);
    EXPECT_NE(le16(chunks[0], 0) & BLECDataManager::kCompressedFlag, 0);
    EXPECT_LT(le32(chunks[0], 6), text.size());
    // Not allowed: never compressed.
    chunks = manager.splitDataToChunks(text, 3, 182, std::nullopt, false);
    EXPECT_EQ(le16(chunks[0], 0) & BLECDataManager::kCompressedFlag, 0);
}

TEST(BLECDataManagerSplit, CompressedPayloadIsAStandardBzip2Stream) {
    BLECDataManager manager;
    const Bytes text = compressible(2000);
    auto chunks = manager.splitDataToChunks(text, 3, 512, std::nullopt, true);
    ASSERT_EQ(chunks.size(), 1u);
    Bytes payload(chunks[0].begin() + 10, chunks[0].end());
    ASSERT_GE(payload.size(), 4u);
    EXPECT_EQ(std::string(payload.begin(), payload.begin() + 4), "BZh9");
    auto plain = bz2::decompress(payload, 1 << 20);
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain, text);
}

TEST(BLECDataManagerSplit, EncryptedPayloadIsASaltedEnvelopeUnderAes) {
    BLECDataManager manager;
    const Bytes key = key32(9);
    const Bytes message = filled(40);
    auto chunks = manager.splitDataToChunks(message, 5, 512, key, false);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(le16(chunks[0], 0), 0x8000 | 0x4000 | 0x0800);
    Bytes payload(chunks[0].begin() + 10, chunks[0].end());
    ASSERT_EQ(le32(chunks[0], 6), payload.size());
    // What the phone does: AES-decrypt, then read the binary-protocol envelope.
    Bytes plain = TBNCryptAES::decryptData(payload, key);
    ASSERT_EQ(plain.size(), 30 + message.size());
    EXPECT_EQ(plain[0], 0x0A);
    EXPECT_EQ(plain[1], 0x00);
    EXPECT_EQ(plain[2], 0x01);
    EXPECT_EQ(plain[11], 0x0A);
    EXPECT_EQ(plain[14 - 1], 0x02);
    EXPECT_EQ(plain[22], 0x0B);
    EXPECT_EQ(plain[24], 0x03);
    EXPECT_EQ(plain.back(), 0x00);
    uint64_t salt = 0, xored = 0;
    for (int i = 0; i < 8; ++i) {
        salt = (salt << 8) | plain[3 + i];
        xored = (xored << 8) | plain[14 + i];
    }
    // The marker "_tbnlmv_" read little-endian.
    uint64_t marker = 0;
    const char* text = "_tbnlmv_";
    for (int i = 7; i >= 0; --i) marker = (marker << 8) | static_cast<uint8_t>(text[i]);
    EXPECT_EQ(salt ^ xored, marker);
    EXPECT_EQ(Bytes(plain.begin() + 29, plain.end() - 1), message);

    // An empty message under a key is a 32-byte ciphertext.
    chunks = manager.splitDataToChunks({}, 5, 512, key, false);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(le32(chunks[0], 6), 32u);
    EXPECT_EQ(le16(chunks[0], 0), 0xC800);

    // Two encryptions of one message differ (fresh salts).
    auto again = manager.splitDataToChunks(message, 5, 512, key, false);
    EXPECT_NE(again[0], manager.splitDataToChunks(message, 5, 512, key, false)[0]);
}

TEST(BLECDataManagerSplit, EncryptionThatYieldsNothingFailsTheRequest) {
    QuietLog quiet;
    BLECDataManager manager;
    // AES takes 16, 24 or 32-byte keys; a 7-byte key makes encryption yield nothing.
    auto chunks = manager.splitDataToChunks(filled(50), 5, 182, Bytes(7, 1), false);
    EXPECT_TRUE(chunks.empty());
    EXPECT_GE(quiet.errors, 1);
}

// --- round trips ---------------------------------------------------------------

struct TripCase {
    size_t length;
    uint16_t chunkSize;
    bool compress;
    bool encrypt;
};

class RoundTrip : public ::testing::TestWithParam<TripCase> {};

TEST_P(RoundTrip, ReassemblesWhatWasSplit) {
    const TripCase& tc = GetParam();
    const Bytes message = tc.length > 1000 ? compressible(tc.length) : randomBytes(tc.length, 7);
    const Bytes key = key32(3);
    BLECDataManager sender;
    auto chunks = sender.splitDataToChunks(message, 0xBEEF, tc.chunkSize,
                                           tc.encrypt ? std::optional<Bytes>(key) : std::nullopt,
                                           tc.compress);
    ASSERT_FALSE(chunks.empty());
    for (size_t i = 0; i + 1 < chunks.size(); ++i) EXPECT_EQ(chunks[i].size(), tc.chunkSize);
    EXPECT_LE(chunks.back().size(), tc.chunkSize);

    Receiver rx;
    rx.keys = std::vector<Bytes>{key32(99), key};
    rx.feedAll(chunks);
    ASSERT_EQ(rx.outcomes.size(), 1u);
    const Outcome& o = rx.outcomes[0];
    EXPECT_EQ(o.id, 0xBEEF);
    ASSERT_TRUE(o.data);
    EXPECT_EQ(*o.data, message);
    EXPECT_EQ(o.encrypted, tc.encrypt);
    EXPECT_EQ(rx.keyCalls, tc.encrypt ? 1 : 0);
    EXPECT_EQ(o.key, tc.encrypt ? std::optional<Bytes>(key) : std::nullopt);
    // Compression is reported as it travelled (small random messages are not shrunk).
    EXPECT_EQ(o.compressed, (le16(chunks[0], 0) & BLECDataManager::kCompressedFlag) != 0);
    if (tc.compress && tc.length > 1000) EXPECT_TRUE(o.compressed);
    EXPECT_FALSE(rx.manager.hasMessageInProgress());
}

std::vector<TripCase> tripCases() {
    std::vector<TripCase> out;
    for (uint16_t c : {20, 182, 512}) {
        for (size_t n : {size_t(0), size_t(1), size_t(300), size_t(5000)}) {
            for (bool z : {false, true}) {
                for (bool e : {false, true}) out.push_back({n, c, z, e});
            }
        }
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrip, ::testing::ValuesIn(tripCases()), [](const auto& info) {
    const TripCase& t = info.param;
    return "n" + std::to_string(t.length) + "_c" + std::to_string(t.chunkSize) +
           (t.compress ? "_bz" : "") + (t.encrypt ? "_aes" : "");
});

// --- reassembly edge cases -----------------------------------------------------

TEST(BLECDataManagerReassembly, SingleChunkWithBothFlagsCompletesAtOnce) {
    Receiver rx;
    rx.feed(firstChunk(0xC000, 9, 20, 3, {7, 8, 9}));
    ASSERT_EQ(rx.outcomes.size(), 1u);
    EXPECT_EQ(rx.outcomes[0].id, 9);
    EXPECT_EQ(rx.outcomes[0].data, (Bytes{7, 8, 9}));
    EXPECT_FALSE(rx.outcomes[0].encrypted);
    EXPECT_FALSE(rx.outcomes[0].compressed);
    EXPECT_EQ(rx.keyCalls, 0);
}

TEST(BLECDataManagerReassembly, IgnoresRunts) {
    Receiver rx;
    rx.feed({});
    rx.feed(Bytes{0x00, 0xC0, 1, 0, 20, 0, 0, 0, 0});  // first chunk of 9 bytes
    rx.feed(Bytes{0x01, 0x40, 5});                     // continuation without a message
    EXPECT_TRUE(rx.outcomes.empty());
    EXPECT_FALSE(rx.manager.hasMessageInProgress());
    rx.feed(firstChunk(0x8000, 1, 20, 12, filled(10)));
    rx.feed(Bytes{0x01});  // continuation shorter than its sequence word
    EXPECT_TRUE(rx.manager.hasMessageInProgress());
    EXPECT_TRUE(rx.outcomes.empty());
}

TEST(BLECDataManagerReassembly, ContinuationsInAnyOrderBeforeTheLast) {
    BLECDataManager sender;
    const Bytes message = filled(70);
    auto chunks = sender.splitDataToChunks(message, 4, 20, std::nullopt, false);
    ASSERT_EQ(chunks.size(), 5u);
    Receiver rx;
    rx.feed(chunks[0]);
    rx.feed(chunks[3]);
    rx.feed(chunks[1]);
    rx.feed(chunks[2]);
    rx.feed(chunks[2]);  // a repeat changes nothing
    EXPECT_TRUE(rx.outcomes.empty());
    rx.feed(chunks[4]);
    ASSERT_EQ(rx.outcomes.size(), 1u);
    EXPECT_EQ(rx.outcomes[0].data, message);
}

TEST(BLECDataManagerReassembly, ChunksArrivingAheadWaitForTheGapAndResentOnesOverwrite) {
    BLECDataManager sender;
    const Bytes message = filled(1000);
    auto chunks = sender.splitDataToChunks(message, 8, 40, std::nullopt, false);
    ASSERT_EQ(chunks.size(), 27u);
    Receiver rx;
    rx.feed(chunks[0]);
    // Every continuation but the last, newest first, with garbage sent ahead of the real
    // bytes for a chunk still waiting (5) and for one already in place (1).
    Bytes wrong5 = chunks[5];
    std::fill(wrong5.begin() + 2, wrong5.end(), 0xEE);
    rx.feed(wrong5);
    for (size_t k = chunks.size() - 2; k >= 1; --k) rx.feed(chunks[k]);
    Bytes wrong1 = chunks[1];
    std::fill(wrong1.begin() + 2, wrong1.end(), 0xEE);
    rx.feed(wrong1);
    rx.feed(chunks[1]);
    EXPECT_TRUE(rx.outcomes.empty());
    rx.feed(chunks.back());
    ASSERT_EQ(rx.outcomes.size(), 1u);
    EXPECT_EQ(rx.outcomes[0].data, message);
}

TEST(BLECDataManagerReassembly, LastChunkBeforeAMiddleOneFailsInsteadOfZeros) {
    QuietLog quiet;
    BLECDataManager sender;
    auto chunks = sender.splitDataToChunks(filled(70), 4, 20, std::nullopt, false);
    Receiver rx;
    rx.feed(chunks[0]);
    rx.feed(chunks[1]);
    rx.feed(chunks[3]);
    rx.feed(chunks[4]);  // chunk 2 never came
    ASSERT_EQ(rx.outcomes.size(), 1u);
    EXPECT_EQ(rx.outcomes[0].id, 4);
    EXPECT_FALSE(rx.outcomes[0].data);
    EXPECT_FALSE(rx.manager.hasMessageInProgress());
    // The straggler that comes later belongs to no message.
    rx.feed(chunks[2]);
    EXPECT_EQ(rx.outcomes.size(), 1u);
}

TEST(BLECDataManagerReassembly, SequenceZeroIsDroppedAndTheMessageKept) {
    QuietLog quiet;
    BLECDataManager sender;
    const Bytes message = filled(30);
    auto chunks = sender.splitDataToChunks(message, 6, 20, std::nullopt, false);
    Receiver rx;
    rx.feed(chunks[0]);
    rx.feed(nextChunk(0x0000, Bytes(18, 0xEE)));
    EXPECT_EQ(quiet.errors, 1);
    EXPECT_TRUE(rx.manager.hasMessageInProgress());
    rx.feed(chunks[1]);
    rx.feed(chunks[2]);
    ASSERT_EQ(rx.outcomes.size(), 1u);
    EXPECT_EQ(rx.outcomes[0].data, message);
}

TEST(BLECDataManagerReassembly, NewFirstChunkGivesUpTheMessageInProgress) {
    Receiver rx;
    rx.feed(firstChunk(0x8000 | 0x0800 | 0x0400, 11, 20, 40, filled(10)));
    EXPECT_TRUE(rx.manager.isEncrypted());
    EXPECT_TRUE(rx.manager.isCompressed());
    EXPECT_EQ(rx.manager.dataId(), 11);
    rx.feed(firstChunk(0xC000, 12, 20, 2, {1, 2}));
    ASSERT_EQ(rx.outcomes.size(), 2u);
    EXPECT_EQ(rx.outcomes[0].id, 11);
    EXPECT_FALSE(rx.outcomes[0].data);
    EXPECT_FALSE(rx.outcomes[0].encrypted);
    EXPECT_FALSE(rx.outcomes[0].compressed);
    EXPECT_EQ(rx.outcomes[1].id, 12);
    EXPECT_EQ(rx.outcomes[1].data, (Bytes{1, 2}));
    EXPECT_EQ(rx.keyCalls, 0);
}

TEST(BLECDataManagerReassembly, KeysAreTriedInOrderAndFailuresReportNoBytes) {
    QuietLog quiet;
    BLECDataManager sender;
    const Bytes key = key32(1);
    const Bytes message = compressible(3000);
    auto chunks = sender.splitDataToChunks(message, 21, 182, key, true);

    Receiver second;
    second.keys = std::vector<Bytes>{key32(2), Bytes(5, 0), key};
    second.feedAll(chunks);
    ASSERT_EQ(second.outcomes.size(), 1u);
    EXPECT_EQ(second.outcomes[0].data, message);
    EXPECT_EQ(second.outcomes[0].key, key);
    EXPECT_TRUE(second.outcomes[0].encrypted);
    EXPECT_TRUE(second.outcomes[0].compressed);
    EXPECT_EQ(second.keyCalls, 1);

    for (std::optional<std::vector<Bytes>> keys :
         {std::optional<std::vector<Bytes>>(),
          std::optional<std::vector<Bytes>>(std::vector<Bytes>{}),
          std::optional<std::vector<Bytes>>(std::vector<Bytes>{key32(7), key32(8)})}) {
        Receiver rx;
        rx.keys = keys;
        rx.feedAll(chunks);
        ASSERT_EQ(rx.outcomes.size(), 1u);
        EXPECT_EQ(rx.outcomes[0].id, 21);
        EXPECT_FALSE(rx.outcomes[0].data);
        EXPECT_FALSE(rx.outcomes[0].encrypted);
        EXPECT_FALSE(rx.outcomes[0].compressed);
        EXPECT_FALSE(rx.outcomes[0].key);
        EXPECT_EQ(rx.keyCalls, 1);
    }
}

TEST(BLECDataManagerReassembly, MessageThatDoesNotDecompressFailsInsteadOfStayingCompressed) {
    QuietLog quiet;
    Receiver rx;
    rx.feed(
        firstChunk(0xC000 | 0x0400, 3, 40, 12, Bytes{'B', 'Z', 'h', '9', 1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_EQ(rx.outcomes.size(), 1u);
    EXPECT_FALSE(rx.outcomes[0].data);
    EXPECT_FALSE(rx.outcomes[0].compressed);

    // A real stream cut short fails too.
    auto stream = bz2::compress(compressible(5000));
    ASSERT_TRUE(stream);
    Bytes cut(stream->begin(), stream->begin() + static_cast<ptrdiff_t>(stream->size() / 2));
    BLECDataManager sender;
    Receiver rx2;
    for (const auto& chunk : sender.splitDataToChunks(cut, 4, 512, std::nullopt, false)) {
        Bytes c = chunk;
        if (le16(c, 0) & 0x8000) c[1] |= 0x04;  // mark compressed
        rx2.feed(c);
    }
    ASSERT_EQ(rx2.outcomes.size(), 1u);
    EXPECT_FALSE(rx2.outcomes[0].data);
}

TEST(BLECDataManagerReassembly, DecompressedSizeIsCapped) {
    QuietLog quiet;
    BLECDataManager sender;
    const Bytes big(200000, 'a');  // shrinks to a few hundred bytes
    auto chunks = sender.splitDataToChunks(big, 8, 512, std::nullopt, true);
    ASSERT_LT(chunks.size(), 3u);

    Receiver capped;
    capped.manager.setMaxMessageLength(100000);
    capped.feedAll(chunks);
    ASSERT_EQ(capped.outcomes.size(), 1u);
    EXPECT_FALSE(capped.outcomes[0].data);

    Receiver exact;
    exact.manager.setMaxMessageLength(big.size());
    exact.feedAll(chunks);
    ASSERT_EQ(exact.outcomes.size(), 1u);
    EXPECT_EQ(exact.outcomes[0].data, big);
}

// --- hostile headers ---------------------------------------------------------------

struct HostileFirst {
    const char* name;
    uint16_t chunkSize;
    uint32_t total;
    size_t payload;
};

class HostileFirstChunk : public ::testing::TestWithParam<HostileFirst> {};

TEST_P(HostileFirstChunk, IsRefusedAndReportedWithoutAllocating) {
    QuietLog quiet;
    const HostileFirst& tc = GetParam();
    Receiver rx;
    rx.manager.setMaxMessageLength(1 << 20);
    rx.feed(firstChunk(0x8000, 77, tc.chunkSize, tc.total, filled(tc.payload)));
    ASSERT_EQ(rx.outcomes.size(), 1u);
    EXPECT_EQ(rx.outcomes[0].id, 77);
    EXPECT_FALSE(rx.outcomes[0].data);
    EXPECT_FALSE(rx.manager.hasMessageInProgress());
    EXPECT_EQ(quiet.errors, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, HostileFirstChunk,
    ::testing::Values(HostileFirst{"ChunkSizeZero", 0, 5, 0},
                      HostileFirst{"ChunkSizeNine", 9, 5, 0},
                      HostileFirst{"TotalAboveCap", 182, (1u << 20) + 1, 172},
                      HostileFirst{"TotalFourGiB", 512, 0xFFFFFFFFu, 502},
                      HostileFirst{"MoreChunksThanTheFormatNumbers", 10, 16384 * 8 + 1, 0},
                      HostileFirst{"FirstChunkLongerThanItsChunkSize", 20, 100, 11}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BLECDataManagerReassembly, ContinuationsOutsideTheAnnouncedMessageAreDropped) {
    QuietLog quiet;
    Receiver rx;
    // Total 30 at chunk size 20: chunks 0..2; the last carries 2 bytes.
    rx.feed(firstChunk(0x8000, 5, 20, 30, filled(10)));
    rx.feed(nextChunk(3, Bytes(18, 1)));       // beyond the total
    rx.feed(nextChunk(0x3FFF, Bytes(18, 1)));  // far beyond
    rx.feed(nextChunk(1, Bytes(19, 1)));       // longer than the chunk size
    rx.feed(nextChunk(1, Bytes(17, 1)));       // shorter than its place
    EXPECT_EQ(quiet.errors, 4);
    EXPECT_TRUE(rx.outcomes.empty());
    EXPECT_TRUE(rx.manager.hasMessageInProgress());
    rx.feed(nextChunk(1, filled(18, 50)));
    rx.feed(nextChunk(0x4002, Bytes{1, 2}));
    ASSERT_EQ(rx.outcomes.size(), 1u);
    ASSERT_TRUE(rx.outcomes[0].data);
    EXPECT_EQ(rx.outcomes[0].data->size(), 30u);
}

TEST(BLECDataManagerReassembly, MalformedLastChunkEndsTheMessageAsFailed) {
    QuietLog quiet;
    Receiver rx;
    rx.feed(firstChunk(0x8000, 5, 20, 30, filled(10)));
    rx.feed(nextChunk(1, filled(18)));
    rx.feed(nextChunk(0x4002, Bytes(19, 1)));  // longer than the chunk size, with the last flag
    ASSERT_EQ(rx.outcomes.size(), 1u);
    EXPECT_FALSE(rx.outcomes[0].data);
    EXPECT_FALSE(rx.manager.hasMessageInProgress());
}

TEST(BLECDataManagerReassembly, BytesPastTheTotalAreLeftOut) {
    Receiver rx;
    // A first chunk that carries more than the announced total.
    rx.feed(firstChunk(0xC000, 2, 20, 3, {1, 2, 3, 4, 5}));
    ASSERT_EQ(rx.outcomes.size(), 1u);
    EXPECT_EQ(rx.outcomes[0].data, (Bytes{1, 2, 3}));
    // The last continuation chunk may carry trailing bytes too; the message is T long.
    rx.feed(firstChunk(0x8000, 3, 20, 12, filled(10)));
    rx.feed(nextChunk(0x4001, {8, 9, 0, 0, 0}));
    ASSERT_EQ(rx.outcomes.size(), 2u);
    ASSERT_TRUE(rx.outcomes[1].data);
    EXPECT_EQ(rx.outcomes[1].data->size(), 12u);
}

TEST(BLECDataManagerReassembly, ShortFirstChunkNeverDeliversItsGap) {
    QuietLog quiet;
    Receiver rx;
    // Announces 30 bytes at chunk size 20 but the first chunk carries only 5.
    rx.feed(firstChunk(0x8000, 4, 20, 30, filled(5)));
    rx.feed(nextChunk(1, filled(18)));
    rx.feed(nextChunk(0x4002, Bytes{1, 2}));
    ASSERT_EQ(rx.outcomes.size(), 1u);
    EXPECT_FALSE(rx.outcomes[0].data);
}

}  // namespace
}  // namespace lumvane
