#include "blec/BLECBZip2.h"

#include <bzlib.h>

#include <algorithm>
#include <climits>

namespace lumvane::blec {

namespace {

constexpr int kBlockSize = 9;
constexpr int kWorkFactor = 0;

// The library takes unsigned int lengths; larger inputs are not ours to send.
constexpr size_t kMaxBzipInput = UINT_MAX / 2;

std::optional<Bytes> compressInto(const Bytes& data, size_t capacity) {
    if (data.size() > kMaxBzipInput || capacity > kMaxBzipInput) return std::nullopt;
    Bytes out(capacity);
    unsigned int outLen = static_cast<unsigned int>(capacity);
    // The library's source argument is not const but it never writes to it.
    char* src = reinterpret_cast<char*>(const_cast<uint8_t*>(data.data()));
    char* dst = reinterpret_cast<char*>(out.data());
    int rc = BZ2_bzBuffToBuffCompress(dst, &outLen, src, static_cast<unsigned int>(data.size()),
                                      kBlockSize, 0, kWorkFactor);
    if (rc != BZ_OK) return std::nullopt;
    out.resize(outLen);
    return out;
}

}  // namespace

std::optional<Bytes> bzip2CompressIfSmaller(const Bytes& data) {
    if (data.empty()) return std::nullopt;
    // Room for one byte less than the input: when the stream does not fit it is
    // not a gain, and the library says so (BZ_OUTBUFF_FULL) without overrunning.
    return compressInto(data, data.size() - 1);
}

std::optional<Bytes> bzip2Compress(const Bytes& data) {
    // Worst case per the library's documentation: 1% larger plus 600 bytes.
    return compressInto(data, data.size() + data.size() / 100 + 601);
}

std::optional<Bytes> bzip2Decompress(const uint8_t* data, size_t size, size_t maxOutput) {
    if (size == 0 || size > kMaxBzipInput) return std::nullopt;
    Bytes out;
    out.resize(std::min<size_t>(maxOutput, std::max<size_t>(size * 4, 4096)));
    size_t produced = 0;
    size_t consumed = 0;
    while (consumed < size) {
        bz_stream strm{};
        if (BZ2_bzDecompressInit(&strm, 0, 0) != BZ_OK) return std::nullopt;
        strm.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(data + consumed));
        strm.avail_in = static_cast<unsigned int>(size - consumed);
        int rc = BZ_OK;
        for (;;) {
            if (produced == out.size()) {
                if (out.size() >= maxOutput) {
                    // Full at the cap: only acceptable when the stream ends right here.
                    char probe;
                    strm.next_out = &probe;
                    strm.avail_out = 1;
                    rc = BZ2_bzDecompress(&strm);
                    if (rc == BZ_STREAM_END && strm.avail_out == 1) break;
                    BZ2_bzDecompressEnd(&strm);
                    return std::nullopt;
                }
                out.resize(std::min(maxOutput, out.size() * 2));
            }
            size_t room = std::min<size_t>(out.size() - produced, UINT_MAX);
            strm.next_out = reinterpret_cast<char*>(out.data() + produced);
            strm.avail_out = static_cast<unsigned int>(room);
            rc = BZ2_bzDecompress(&strm);
            produced += room - strm.avail_out;
            if (rc == BZ_STREAM_END) break;
            if (rc != BZ_OK) {
                BZ2_bzDecompressEnd(&strm);
                return std::nullopt;
            }
            // No progress with input left and room to spare: truncated stream.
            if (strm.avail_in == 0 && strm.avail_out > 0) {
                BZ2_bzDecompressEnd(&strm);
                return std::nullopt;
            }
        }
        consumed = size - strm.avail_in;
        BZ2_bzDecompressEnd(&strm);
    }
    out.resize(produced);
    return out;
}

}  // namespace lumvane::blec
