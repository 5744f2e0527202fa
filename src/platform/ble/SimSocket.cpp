#include "platform/ble/SimSocket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace lumvane::ble::sim {

namespace {

bool fillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

}  // namespace

int connectUnixSocket(const std::string& path) {
    sockaddr_un addr;
    if (!fillAddress(path, addr)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

int listenUnixSocket(const std::string& path) {
    sockaddr_un addr;
    if (!fillAddress(path, addr)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

struct FrameConnection::Inner {
    int fd;
    MessageHandler onMessage;
    ClosedHandler onClosed;
    std::mutex writeMutex;
    std::mutex handlerMutex;  // guards the handlers against their reset
    std::atomic<bool> open{true};
    std::atomic<bool> closedReported{false};

    ~Inner() { ::close(fd); }

    void reportClosed(const std::string& reason) {
        if (closedReported.exchange(true)) return;
        ClosedHandler handler;
        {
            std::lock_guard<std::mutex> lock(handlerMutex);
            handler = onClosed;
        }
        if (handler) handler(reason);
    }

    void readLoop() {
        FrameReader reader;
        uint8_t buffer[16 * 1024];
        std::string reason = "peer closed the connection";
        while (open) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            try {
                reader.feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
                while (auto body = reader.next()) {
                    Message message = decodeBody(*body);
                    MessageHandler handler;
                    {
                        std::lock_guard<std::mutex> lock(handlerMutex);
                        handler = onMessage;
                    }
                    if (!handler || !open) break;
                    handler(message);
                }
            } catch (const WireError& e) {
                reason = std::string("protocol error: ") + e.what();
                break;
            }
        }
        open = false;
        ::shutdown(fd, SHUT_RDWR);
        reportClosed(reason);
    }
};

FrameConnection::FrameConnection(int fd, MessageHandler onMessage, ClosedHandler onClosed)
    : inner_(std::make_shared<Inner>()) {
    inner_->fd = fd;
    inner_->onMessage = std::move(onMessage);
    inner_->onClosed = std::move(onClosed);
}

FrameConnection::~FrameConnection() {
    {
        std::lock_guard<std::mutex> lock(inner_->handlerMutex);
        inner_->onMessage = nullptr;
        inner_->onClosed = nullptr;
    }
    inner_->closedReported = true;
    close();
    if (reader_.joinable()) {
        if (reader_.get_id() == std::this_thread::get_id()) {
            reader_.detach();  // the thread keeps Inner alive until it ends
        } else {
            reader_.join();
        }
    }
}

void FrameConnection::start() {
    auto inner = inner_;
    reader_ = std::thread([inner] { inner->readLoop(); });
}

bool FrameConnection::isOpen() const {
    return inner_->open;
}

bool FrameConnection::send(const Message& message) {
    if (!inner_->open) return false;
    Bytes frame;
    try {
        frame = encodeFrame(message);
    } catch (const WireError&) {
        return false;
    }
    std::lock_guard<std::mutex> lock(inner_->writeMutex);
    if (!inner_->open) return false;
    if (!writeAll(inner_->fd, frame.data(), frame.size())) {
        inner_->open = false;
        ::shutdown(inner_->fd, SHUT_RDWR);
        return false;
    }
    return true;
}

void FrameConnection::close() {
    bool wasOpen = inner_->open.exchange(false);
    if (wasOpen) ::shutdown(inner_->fd, SHUT_RDWR);
    if (!reader_.joinable()) inner_->reportClosed("closed");
}

}  // namespace lumvane::ble::sim
