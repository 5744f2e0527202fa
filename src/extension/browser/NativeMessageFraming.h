#pragma once
// Browser native-messaging framing: every message is a 4-byte unsigned length in the
// machine's own byte order followed by that many bytes. The same framing is used on
// standard input (from the browser) and standard output (to the browser).
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "runtime/Bytes.h"

namespace lumvane {

// Largest message accepted from the browser; a longer announced length is refused
// before anything is allocated for it.
inline constexpr uint32_t kNativeMessageMaxIncomingLength = 64u * 1024 * 1024;
// Largest reply handed to the browser (Chromium refuses longer ones).
inline constexpr size_t kNativeMessageMaxReplyLength = 1024 * 1024;

// Where frames are read from: behaves like read(2), giving the number of bytes placed
// in the buffer (at most `length`), 0 at the end of input, or a negative value on error.
using NativeMessageSource = std::function<ssize_t(uint8_t* buffer, size_t length)>;

// A source reading from a file descriptor; it retries on EINTR and waits on EAGAIN.
NativeMessageSource nativeMessageFdSource(int fd);

enum class NativeMessageFrameStatus {
    message,      // a whole message is in `body`
    endOfInput,   // input ended before a new length began
    zeroLength,   // a length of 0: the sender is done
    shortLength,  // input ended inside the 4-byte length
    truncated,    // input ended inside the message; `body` holds what came
    tooLarge,     // the announced length is above the limit; nothing after it was read
    readError,    // the source reported an error
};

struct NativeMessageFrame {
    NativeMessageFrameStatus status = NativeMessageFrameStatus::endOfInput;
    uint32_t length = 0;  // the announced length, when all 4 bytes of it came
    Bytes body;
};

// Reads one frame. Memory for the body grows with the bytes that actually arrive, so a
// large announced length followed by little data costs little.
NativeMessageFrame readNativeMessageFrame(const NativeMessageSource& source,
                                          uint32_t maxLength = kNativeMessageMaxIncomingLength);

// The length prefix followed by the message. The message must be shorter than 4 GiB.
Bytes encodeNativeMessageFrame(std::span<const uint8_t> message);

// Writes all of `data` to the descriptor, retrying on EINTR and short writes and waiting
// on EAGAIN. False when the descriptor fails (e.g. the reader went away).
bool writeAllToFd(int fd, std::span<const uint8_t> data);

}  // namespace lumvane
