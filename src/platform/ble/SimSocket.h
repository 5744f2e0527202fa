#pragma once
// Unix-socket plumbing of the simulated radio: a framed connection with its own
// reader thread, used by the simulated central and the simulated peripheral.
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/ble/SimBleWire.h"

namespace lumvane::ble::sim {

// Connects to the Unix socket at `path`; -1 on failure (errno set).
int connectUnixSocket(const std::string& path);
// Binds and listens at `path` (an old socket file there is replaced); -1 on failure.
int listenUnixSocket(const std::string& path);
// Writes all bytes (no SIGPIPE); false when the peer is gone.
bool writeAll(int fd, const uint8_t* data, size_t size);

class FrameConnection {
  public:
    using MessageHandler = std::function<void(const Message&)>;
    using ClosedHandler = std::function<void(const std::string& reason)>;

    // Takes ownership of `fd`. Handlers run on the reader thread, in order; the
    // object may be destroyed from inside a handler.
    FrameConnection(int fd, MessageHandler onMessage, ClosedHandler onClosed);
    ~FrameConnection();
    FrameConnection(const FrameConnection&) = delete;
    FrameConnection& operator=(const FrameConnection&) = delete;

    void start();
    // Thread-safe; false when the connection is closed or the message does not encode.
    bool send(const Message& message);
    // Ends the connection; the closed handler runs once, on the reader thread (or
    // here when the reader never started). No handler runs after the destructor.
    void close();
    bool isOpen() const;

  private:
    struct Inner;
    std::shared_ptr<Inner> inner_;
    std::thread reader_;
};

}  // namespace lumvane::ble::sim
