// Arbitrary bytes on the native-messaging input, delivered in pieces of varying size:
// every frame read must match the bytes it came from, and memory must follow the bytes
// that arrived rather than the announced length.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "extension/browser/NativeMessageFraming.h"

using lumvane::NativeMessageFrame;
using lumvane::NativeMessageFrameStatus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // First byte: how many bytes the source hands out per call (0 = all it is asked for).
    // Second byte: a small length limit, or the real one when it is 0.
    const size_t step = data[0] % 17;
    const uint32_t maxLength = data[1] == 0 ? lumvane::kNativeMessageMaxIncomingLength : data[1];
    const std::span<const uint8_t> input(data + 2, size - 2);

    size_t offset = 0;
    const lumvane::NativeMessageSource source = [&](uint8_t* buffer, size_t length) -> ssize_t {
        size_t n = std::min(length, input.size() - offset);
        if (step != 0) n = std::min(n, step);
        if (n > 0) std::memcpy(buffer, input.data() + offset, n);
        offset += n;
        return static_cast<ssize_t>(n);
    };

    for (;;) {
        const size_t start = offset;
        NativeMessageFrame frame = lumvane::readNativeMessageFrame(source, maxLength);
        if (frame.body.capacity() > 2 * frame.body.size() + 2 * 64 * 1024) std::abort();
        switch (frame.status) {
            case NativeMessageFrameStatus::message: {
                if (frame.length == 0 || frame.length > maxLength) std::abort();
                if (frame.body.size() != frame.length) std::abort();
                if (offset - start != 4 + frame.body.size()) std::abort();
                const lumvane::Bytes again = lumvane::encodeNativeMessageFrame(frame.body);
                if (!std::equal(again.begin(), again.end(), input.begin() + start)) std::abort();
                continue;
            }
            case NativeMessageFrameStatus::endOfInput:
                if (offset != input.size() || start != offset) std::abort();
                return 0;
            case NativeMessageFrameStatus::shortLength:
                if (offset != input.size() || offset - start >= 4) std::abort();
                return 0;
            case NativeMessageFrameStatus::zeroLength:
                if (frame.length != 0 || offset - start != 4) std::abort();
                return 0;
            case NativeMessageFrameStatus::tooLarge:
                // Nothing past the length may have been read.
                if (frame.length <= maxLength || offset - start != 4) std::abort();
                return 0;
            case NativeMessageFrameStatus::truncated:
                if (offset != input.size() || frame.body.size() >= frame.length) std::abort();
                if (offset - start != 4 + frame.body.size()) std::abort();
                if (!std::equal(frame.body.begin(), frame.body.end(), input.begin() + start + 4)) {
                    std::abort();
                }
                return 0;
            case NativeMessageFrameStatus::readError:
                std::abort();  // the memory source never fails
        }
    }
}
