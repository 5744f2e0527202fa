// The compressor's memory is reused between streams: the streams must stay byte for byte
// what the library makes with its own allocator, on every thread and after any earlier
// stream, and short inputs that can never shrink are not tried.
#include "runtime/BZip2.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

namespace lumvane {
namespace {

// The library's own one-shot compressor with its default allocator, at the settings
// the system uses: block size 9, default work factor.
Bytes reference(const Bytes& in) {
    std::vector<char> out(in.size() + in.size() / 100 + 601);
    unsigned outLen = static_cast<unsigned>(out.size());
    char none = 0;  // the library refuses a null source even for no bytes
    char* source = in.empty() ? &none : reinterpret_cast<char*>(const_cast<uint8_t*>(in.data()));
    const int rc = BZ2_bzBuffToBuffCompress(out.data(), &outLen, source,
                                            static_cast<unsigned>(in.size()), 9, 0, 0);
    EXPECT_EQ(rc, BZ_OK);
    return Bytes(out.begin(), out.begin() + outLen);
}

Bytes randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

Bytes repeated(size_t n, uint8_t v) {
    return Bytes(n, v);
}

Bytes text(size_t n) {
    const std::string words = "login password example.com account token secret notes ";
    Bytes b;
    while (b.size() < n) b.push_back(static_cast<uint8_t>(words[(b.size() * 7) % words.size()]));
    return b;
}

std::vector<Bytes> inputs() {
    return {
        Bytes{},
        Bytes{0x41},
        repeated(36, 'a'),
        repeated(40, 'a'),
        text(100),
        randomBytes(100, 1),
        text(1024),
        randomBytes(1024, 2),
        repeated(5000, 0),
        text(64 << 10),
        randomBytes(64 << 10, 3),
        // More than one block at block size 9.
        text(1'000'000),
    };
}

TEST(BZip2, StreamsAreThoseOfTheLibraryWhateverCameBefore) {
    // Twice over, so the second round runs on memory dirtied by every earlier stream,
    // in an order that puts short streams after long ones.
    for (int round = 0; round < 2; ++round) {
        for (const Bytes& in : inputs()) {
            SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(in.size()) +
                         " bytes");
            auto got = bz2::compress(in);
            ASSERT_TRUE(got);
            EXPECT_EQ(*got, reference(in));
            auto back = bz2::decompress(*got, in.size() + 1);
            ASSERT_TRUE(back);
            EXPECT_EQ(*back, in);
        }
    }
}

TEST(BZip2, ThreadsCompressSideBySideWithTheSameResult) {
    const auto table = inputs();
    std::vector<Bytes> expected;
    for (const Bytes& in : table) expected.push_back(reference(in));
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < table.size(); ++i) {
                const size_t k = (i + static_cast<size_t>(t)) % table.size();
                auto got = bz2::compress(table[k]);
                if (!got || *got != expected[k]) ++mismatches[static_cast<size_t>(t)];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST(BZip2, KeepsTheStreamOnlyWhenStrictlyShorter) {
    struct Case {
        Bytes in;
        bool kept;
    };
    const std::vector<Case> cases = {
        {Bytes{}, false},
        {Bytes{0x41}, false},
        {repeated(36, 'a'), false},
        {repeated(40, 'a'), true},  // the shortest input the library shrinks
        {randomBytes(1024, 4), false},
        {text(1024), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.in.size()) + " bytes");
        auto got = bz2::compressIfSmaller(c.in);
        EXPECT_EQ(got.has_value(), c.kept);
        if (got) EXPECT_EQ(*got, reference(c.in));
    }
}

TEST(BZip2, NoInputUpToTheSkipSizeEverShrinks) {
    // The skipped sizes really cannot win: the most compressible inputs of every such
    // length (runs and short periods of bytes) give streams at least as long.
    for (size_t n = 1; n <= bz2::kNeverSmallerUpTo; ++n) {
        for (const Bytes& in : {repeated(n, 0), repeated(n, 'z'), text(n), randomBytes(n, 5)}) {
            auto stream = bz2::compress(in);
            ASSERT_TRUE(stream);
            EXPECT_GE(stream->size(), n) << n;
            EXPECT_GT(stream->size(), bz2::kNeverSmallerUpTo) << n;
        }
    }
}

}  // namespace
}  // namespace lumvane
