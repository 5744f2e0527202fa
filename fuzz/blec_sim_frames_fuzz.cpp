// Arbitrary bytes into the simulated radio's frame reader and decoder: nothing
// but WireError may come out, and what decodes encodes back to the same message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/ble/SimBleWire.h"

using namespace lumvane::ble::sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FrameReader reader;
    // Feed in uneven pieces so that frames straddle reads.
    size_t at = 0;
    size_t piece = 1;
    try {
        while (at < size) {
            size_t n = std::min(piece, size - at);
            reader.feed(std::span<const uint8_t>(data + at, n));
            at += n;
            piece = piece * 3 % 97 + 1;
            while (auto body = reader.next()) {
                if (body->empty() || body->size() > kMaxFrameLength) std::abort();
                try {
                    Message m = decodeBody(*body);
                    lumvane::Bytes again = encodeFrame(m);
                    Message back =
                        decodeBody(std::span<const uint8_t>(again.data() + 4, again.size() - 4));
                    if (!(back == m)) std::abort();
                } catch (const WireError&) {
                }
            }
        }
    } catch (const WireError&) {
        if (!reader.failed()) std::abort();
    }
    return 0;
}
