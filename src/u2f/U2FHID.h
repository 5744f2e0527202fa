#pragma once
// The process's one connection to the virtual HID security key: handlers by command,
// sending of MSG answers, and the thread on which the driver client's loop turns.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "u2f/softu2f.h"

namespace lumvane {

class U2FHID {
  public:
    enum class MessageType : uint8_t {
        Ping = 0x81,
        Msg = 0x83,
        Lock = 0x84,
        Init = 0x86,
        Wink = 0x88,
        Sync = 0xBC,
        Error = 0xBF,
    };
    static std::optional<MessageType> messageTypeFromByte(uint8_t byte);

    using Handler = std::function<bool(const softu2f_hid_message&)>;
    using DeviceOpener = std::function<std::unique_ptr<HidFrameDevice>()>;

    // The process-wide instance, made on first use; nothing when the device could not
    // be opened then, and nothing for good afterwards.
    static std::shared_ptr<U2FHID> shared();
    // What shared() opens (default: /dev/uhid). Only takes effect before its first use.
    static void setSharedDeviceOpener(DeviceOpener opener);

    // A connection over the device; nothing without one, or while another exists.
    static std::shared_ptr<U2FHID> create(std::unique_ptr<HidFrameDevice> device,
                                          std::shared_ptr<Clock> clock = nullptr);
    ~U2FHID();
    U2FHID(const U2FHID&) = delete;
    U2FHID& operator=(const U2FHID&) = delete;

    // Sends a MSG message; false when the payload cannot be framed (more than
    // kU2FHIDMaxPayload bytes) or a frame could not be sent.
    bool sendMessage(uint32_t cid, const Bytes& payload);
    void setHandler(MessageType type, Handler handler);
    // Starts the client's thread; false when it already runs.
    bool run();
    // Stops it; true once the thread has ended (within 2 s), false otherwise.
    bool stop();
    bool isRunning() const;
    softu2f_ctx* ctx() const { return ctx_; }

  private:
    struct RunState {
        std::mutex mutex;
        std::condition_variable cv;
        bool started = false;
        bool finished = false;
    };
    explicit U2FHID(softu2f_ctx* ctx);
    static bool forward(softu2f_ctx* ctx, softu2f_hid_message* msg);

    softu2f_ctx* ctx_;
    mutable std::mutex mutex_;
    std::map<uint8_t, Handler> handlers_;
    std::shared_ptr<RunState> runThread_;
};

}  // namespace lumvane
