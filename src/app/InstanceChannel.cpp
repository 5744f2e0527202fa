#include "app/InstanceChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "app/SingleInstance.h"

namespace lumvane {

namespace fs = std::filesystem;

namespace {

constexpr size_t kLineLimit = 256;

// A socket address for a file, through /proc/self/fd when its path does not fit.
class Address {
  public:
    bool make(const fs::path& file, std::string* error) {
        std::string path = file.string();
        if (path.size() >= sizeof addr_.sun_path) {
            folderFd_ = ::open(file.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (folderFd_ < 0) {
                if (error)
                    *error =
                        "cannot open " + file.parent_path().string() + ": " + std::strerror(errno);
                return false;
            }
            path = "/proc/self/fd/" + std::to_string(folderFd_) + "/" + file.filename().string();
            if (path.size() >= sizeof addr_.sun_path) {
                if (error) *error = "socket name too long: " + file.filename().string();
                return false;
            }
        }
        addr_.sun_family = AF_UNIX;
        std::memcpy(addr_.sun_path, path.c_str(), path.size() + 1);
        length_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
        return true;
    }
    ~Address() {
        if (folderFd_ >= 0) ::close(folderFd_);
    }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&addr_); }
    socklen_t length() const { return length_; }

  private:
    sockaddr_un addr_{};
    socklen_t length_ = 0;
    int folderFd_ = -1;
};

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// One line from the socket (without its end), read until the deadline; what came when
// the peer closed first; nothing when no byte came in time.
std::optional<std::string> readLine(int fd, Clock::time_point deadline) {
    std::string line;
    bool any = false;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char chunk[64];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        any = true;
        line.append(chunk, static_cast<size_t>(n));
        if (auto end = line.find('\n'); end != std::string::npos) {
            line.resize(end);
            return line;
        }
        if (line.size() > kLineLimit) return std::nullopt;  // not one of ours
    }
    if (!any) return std::nullopt;
    return line;
}

bool sendAll(int fd, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

fs::path InstanceChannel::socketFileFor(const fs::path& settingsFolder) {
    return SingleInstance::realFolder(settingsFolder) / "lumvane.sock";
}

std::optional<InstanceChannel> InstanceChannel::listen(const fs::path& socketFile,
                                                       std::string* error) {
    Address address;
    if (!address.make(socketFile, error)) return std::nullopt;
    // A socket left by a holder that ended goes; anything else of that name stays.
    struct stat st {};
    if (::lstat(socketFile.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            if (error) *error = socketFile.string() + " is there and is not a socket";
            return std::nullopt;
        }
        ::unlink(socketFile.c_str());
    }
    InstanceChannel channel;
    channel.fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (channel.fd_ < 0 || ::bind(channel.fd_, address.get(), address.length()) != 0 ||
        ::listen(channel.fd_, 8) != 0) {
        if (error) *error = "cannot serve " + socketFile.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    channel.socketFile_ = socketFile;
    ::chmod(socketFile.c_str(), 0600);
    if (::lstat(socketFile.c_str(), &st) == 0) {
        channel.device_ = st.st_dev;
        channel.inode_ = st.st_ino;
    }
    return channel;
}

InstanceChannel::InstanceChannel(InstanceChannel&& other) noexcept
    : fd_(other.fd_),
      socketFile_(std::move(other.socketFile_)),
      device_(other.device_),
      inode_(other.inode_) {
    other.fd_ = -1;
    other.socketFile_.clear();
}

InstanceChannel& InstanceChannel::operator=(InstanceChannel&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        socketFile_ = std::move(other.socketFile_);
        device_ = other.device_;
        inode_ = other.inode_;
        other.fd_ = -1;
        other.socketFile_.clear();
    }
    return *this;
}

InstanceChannel::~InstanceChannel() {
    close();
}

void InstanceChannel::close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    // A later holder may have put its own socket there already.
    struct stat st {};
    if (!socketFile_.empty() && ::lstat(socketFile_.c_str(), &st) == 0 && st.st_dev == device_ &&
        st.st_ino == inode_) {
        ::unlink(socketFile_.c_str());
    }
}

int InstanceChannel::serveWaiting(const std::function<std::string(const std::string&)>& answer,
                                  std::chrono::milliseconds readLimit) {
    int served = 0;
    for (;;) {
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return served;  // EAGAIN: nobody else waits
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        const bool ours = ::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
                          peer.uid == ::geteuid();
        if (ours) {
            if (auto request = readLine(client, Clock::now() + readLimit)) {
                sendAll(client, answer(*request) + "\n");
                ++served;
            }
        }
        ::close(client);
    }
}

std::optional<std::string> askRunningCopy(const fs::path& socketFile, const std::string& request,
                                          std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    Address address;
    if (!address.make(socketFile, nullptr)) return std::nullopt;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> answer;
    if (::connect(fd, address.get(), address.length()) == 0 && sendAll(fd, request + "\n")) {
        answer = readLine(fd, deadline);
    }
    ::close(fd);
    return answer;
}

}  // namespace lumvane
