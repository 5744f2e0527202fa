#include "extension/browser/NativeMessageFraming.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace lumvane {

namespace {

// Body memory is added in steps of this size as bytes arrive.
constexpr size_t kReadStep = 64 * 1024;

void waitFor(int fd, short events) {
    pollfd p{fd, events, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
}

// Fills buffer[0, length) from the source; returns how many bytes came before the end
// of input, or -1 on error.
ssize_t readFully(const NativeMessageSource& source, uint8_t* buffer, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = source(buffer + done, length - done);
        if (n < 0) return -1;
        if (n == 0) break;
        done += std::min(static_cast<size_t>(n), length - done);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

NativeMessageSource nativeMessageFdSource(int fd) {
    return [fd](uint8_t* buffer, size_t length) -> ssize_t {
        for (;;) {
            const ssize_t n = ::read(fd, buffer, length);
            if (n >= 0) return n;
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                waitFor(fd, POLLIN);
                continue;
            }
            return -1;
        }
    };
}

NativeMessageFrame readNativeMessageFrame(const NativeMessageSource& source, uint32_t maxLength) {
    NativeMessageFrame frame;
    uint8_t prefix[4];
    const ssize_t got = readFully(source, prefix, sizeof prefix);
    if (got < 0) {
        frame.status = NativeMessageFrameStatus::readError;
        return frame;
    }
    if (got == 0) {
        frame.status = NativeMessageFrameStatus::endOfInput;
        return frame;
    }
    if (got < static_cast<ssize_t>(sizeof prefix)) {
        frame.status = NativeMessageFrameStatus::shortLength;
        return frame;
    }
    std::memcpy(&frame.length, prefix, sizeof prefix);
    if (frame.length == 0) {
        frame.status = NativeMessageFrameStatus::zeroLength;
        return frame;
    }
    if (frame.length > maxLength) {
        frame.status = NativeMessageFrameStatus::tooLarge;
        return frame;
    }

    size_t have = 0;
    while (have < frame.length) {
        const size_t step = std::min<size_t>(frame.length - have, kReadStep);
        frame.body.resize(have + step);
        const ssize_t n = readFully(source, frame.body.data() + have, step);
        if (n < 0) {
            frame.body.resize(have);
            frame.status = NativeMessageFrameStatus::readError;
            return frame;
        }
        have += static_cast<size_t>(n);
        if (static_cast<size_t>(n) < step) {
            frame.body.resize(have);
            frame.status = NativeMessageFrameStatus::truncated;
            return frame;
        }
    }
    frame.status = NativeMessageFrameStatus::message;
    return frame;
}

Bytes encodeNativeMessageFrame(std::span<const uint8_t> message) {
    if (message.size() > std::numeric_limits<uint32_t>::max()) {
        throw std::length_error("native message longer than its length field allows");
    }
    const auto length = static_cast<uint32_t>(message.size());
    Bytes out(sizeof length + message.size());
    std::memcpy(out.data(), &length, sizeof length);
    if (!message.empty()) std::memcpy(out.data() + sizeof length, message.data(), message.size());
    return out;
}

bool writeAllToFd(int fd, std::span<const uint8_t> data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            waitFor(fd, POLLOUT);
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace lumvane
