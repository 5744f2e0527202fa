#pragma once
// How a later start reaches the copy that runs: a Unix socket "lumvane.sock" in the
// settings folder, found through the folder's real path like the single-instance lock,
// so it is found whenever the lock is. Only the lock's holder serves it; the folder is
// the user's own (0700), and a peer of another user is refused as well.
//
// A request is one line; the answer is one line; then the connection closes. Paths too
// long for a socket address are reached through the folder's descriptor in /proc.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace lumvane {

class InstanceChannel {
  public:
    // A later start of the desktop application asks to be shown the way in.
    static constexpr const char* kShowRequest = "show";

    static std::filesystem::path socketFileFor(const std::filesystem::path& settingsFolder);

    // Starts serving at `socketFile`, replacing a file an earlier holder left there (only
    // the holder of the lock may call this). Nothing, with `error` set, when it cannot.
    static std::optional<InstanceChannel> listen(const std::filesystem::path& socketFile,
                                                 std::string* error = nullptr);

    InstanceChannel(InstanceChannel&& other) noexcept;
    InstanceChannel& operator=(InstanceChannel&& other) noexcept;
    InstanceChannel(const InstanceChannel&) = delete;
    InstanceChannel& operator=(const InstanceChannel&) = delete;
    // Stops serving and removes the socket file (when it is still this one's).
    ~InstanceChannel();

    // The listening socket (non-blocking): readable when a start waits to be answered.
    int fd() const { return fd_; }
    const std::filesystem::path& socketFile() const { return socketFile_; }

    // Answers the starts waiting now: reads each one's request line (at most 256 bytes,
    // waiting at most `readLimit` for it) and writes answer(request) back. The number of
    // requests answered.
    int serveWaiting(const std::function<std::string(const std::string& request)>& answer,
                     std::chrono::milliseconds readLimit = std::chrono::milliseconds(1000));

  private:
    InstanceChannel() = default;
    void close();

    int fd_ = -1;
    std::filesystem::path socketFile_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

// Sends `request` to the copy serving `socketFile` and returns its answer line; nothing
// when none serves there or it does not answer within `timeout`.
std::optional<std::string> askRunningCopy(const std::filesystem::path& socketFile,
                                          const std::string& request,
                                          std::chrono::milliseconds timeout);

}  // namespace lumvane
