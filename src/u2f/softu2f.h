#pragma once
// Client of the virtual HID security key: reassembles the host's 64-byte frames into
// U2F HID messages, answers the transport commands INIT, PING, WINK and SYNC itself,
// hands other complete messages to the handler registered for their command, and
// splits outgoing messages into frames. It turns its loop on the thread that calls
// softu2f_run() until softu2f_shutdown(). Log lines go to standard error, and only
// with the debug flag.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/uhid/HidFrameDevice.h"
#include "runtime/Bytes.h"
#include "runtime/Clock.h"

namespace lumvane {

inline constexpr uint32_t kU2FHIDBroadcastCid = 0xFFFFFFFF;
// 57 bytes in the INIT frame and 59 in each of 128 CONT frames.
inline constexpr size_t kU2FHIDMaxPayload = 57 + 128 * 59;

enum : uint8_t {
    U2FHID_PING = 0x81,
    U2FHID_MSG = 0x83,
    U2FHID_LOCK = 0x84,
    U2FHID_INIT = 0x86,
    U2FHID_WINK = 0x88,
    U2FHID_SYNC = 0xBC,
    U2FHID_ERROR = 0xBF,
};

enum : uint8_t {
    ERR_INVALID_CMD = 1,
    ERR_INVALID_LEN = 3,
    ERR_INVALID_SEQ = 4,
    ERR_MSG_TIMEOUT = 5,
    ERR_CHANNEL_BUSY = 6,
    ERR_INVALID_CID = 11,
};

enum : int { SOFTU2F_DEBUG = 1 };

// One message being assembled or sent.
struct softu2f_hid_message {
    uint8_t cmd = 0;    // bit 7 set
    uint16_t bcnt = 0;  // announced payload length
    uint32_t cid = 0;
    std::shared_ptr<const Bytes> data;  // the whole payload, once complete / to send
    std::optional<Bytes> buf;           // what has arrived while assembling
    uint8_t lastSeq = 0;                // SEQ the next CONT frame must carry
    Clock::TimePoint start{};           // when the INIT frame arrived
};

struct softu2f_ctx;

// Called on the client's thread with the context mutex held and a complete message;
// answers whether it handled the message.
using softu2f_hid_message_handler = std::function<bool(softu2f_ctx*, softu2f_hid_message*)>;

// Opens the kernel's virtual HID device (/dev/uhid); nothing when that fails.
softu2f_ctx* softu2f_connect(int flags);
// A client over any frame device; `clock` times incomplete messages out (null: the
// steady clock). Nothing without a device.
softu2f_ctx* softu2f_connect_device(std::unique_ptr<HidFrameDevice> device, int flags,
                                    std::shared_ptr<Clock> clock = nullptr);
void softu2f_free(softu2f_ctx* ctx);

void softu2f_run(softu2f_ctx* ctx);
// Any thread.
void softu2f_shutdown(softu2f_ctx* ctx);
bool softu2f_is_running(softu2f_ctx* ctx);
// Called with true when the loop has started and false when it has ended.
void softu2f_set_run_observer(softu2f_ctx* ctx, std::function<void(bool)> observer);

void softu2f_set_handler(softu2f_ctx* ctx, uint8_t cmd, softu2f_hid_message_handler handler);
// Any thread; frames are paced 1 ms apart. False when a frame could not be sent or the
// payload cannot be framed (more than kU2FHIDMaxPayload bytes).
bool softu2f_hid_msg_send(softu2f_ctx* ctx, const softu2f_hid_message* msg);
void softu2f_hid_err_send(softu2f_ctx* ctx, uint32_t cid, uint8_t code);

// What the loop does with one frame from the host, and on each 0.2 s tick; both take
// the context mutex.
void softu2f_receive_frame(softu2f_ctx* ctx, const HidFrame& frame);
void softu2f_timer_tick(softu2f_ctx* ctx);

// An opaque pointer the owner of the context can find again from a handler.
void softu2f_set_owner(softu2f_ctx* ctx, void* owner);
void* softu2f_owner(softu2f_ctx* ctx);
void softu2f_set_frame_gap(softu2f_ctx* ctx, std::chrono::microseconds gap);
size_t softu2f_pending_count(softu2f_ctx* ctx);

}  // namespace lumvane
