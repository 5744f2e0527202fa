#include "u2f/softu2f.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {
constexpr size_t kInitData = 57;
constexpr size_t kContData = 59;
constexpr auto kTickInterval = std::chrono::milliseconds(200);
constexpr auto kMessageTimeout = std::chrono::microseconds(500000);
}  // namespace

struct softu2f_ctx {
    std::unique_ptr<HidFrameDevice> device;
    uint32_t lastCid = 0;
    std::mutex mutex;  // the pending list and everything done under it
    std::list<softu2f_hid_message> pending;
    bool debug = false;
    softu2f_hid_message_handler handlers[5];
    std::shared_ptr<Clock> clock;
    void* owner = nullptr;
    std::chrono::microseconds frameGap{1000};

    std::mutex runMutex;  // running / stopRequested / observer
    bool running = false;
    bool stopRequested = false;
    std::function<void(bool)> runObserver;
};

namespace {

void debugLog(softu2f_ctx* ctx, const char* format, ...) __attribute__((format(printf, 2, 3)));
void debugLog(softu2f_ctx* ctx, const char* format, ...) {
    if (!ctx || !ctx->debug) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

int handlerSlot(uint8_t cmd) {
    switch (cmd) {
        case U2FHID_PING:
            return 0;
        case U2FHID_MSG:
            return 1;
        case U2FHID_INIT:
            return 2;
        case U2FHID_WINK:
            return 3;
        case U2FHID_SYNC:
            return 4;
        default:
            return -1;
    }
}

uint32_t frameCid(const HidFrame& frame) {
    uint32_t cid;
    std::memcpy(&cid, frame.data(), sizeof(cid));  // host order, bytes pass through
    return cid;
}

bool isInit(const HidFrame& frame) {
    return (frame[4] & 0x80) != 0;
}

void logFrame(softu2f_ctx* ctx, const char* heading, const HidFrame& frame) {
    if (!ctx->debug) return;
    std::string text = heading;
    char line[64];
    std::snprintf(line, sizeof(line), "\n\tCID: 0x%08x", frameCid(frame));
    text += line;
    size_t dataStart;
    if (isInit(frame)) {
        std::snprintf(line, sizeof(line),
                      "\n\tTYPE: INIT\n\tCMD: 0x%02x\n\tBCNTH: 0x%02x\n\tBCNTL: 0x%02x",
                      frame[4] & 0x7F, frame[5], frame[6]);
        dataStart = 7;
    } else {
        std::snprintf(line, sizeof(line), "\n\tTYPE: CONT\n\tSEQ: 0x%02x", frame[4]);
        dataStart = 5;
    }
    text += line;
    text += "\n\tDATA:";
    for (size_t i = dataStart; i < frame.size(); ++i) {
        std::snprintf(line, sizeof(line), " %02x", frame[i]);
        text += line;
    }
    text += "\n";
    debugLog(ctx, "%s", text.c_str());
}

std::list<softu2f_hid_message>::iterator findPending(softu2f_ctx* ctx, uint32_t cid) {
    for (auto it = ctx->pending.begin(); it != ctx->pending.end(); ++it)
        if (it->cid == cid) return it;
    return ctx->pending.end();
}

void appendCont(softu2f_hid_message& msg, const HidFrame& frame) {
    size_t have = msg.buf->size();
    size_t take = std::min(kContData, static_cast<size_t>(msg.bcnt) - have);
    msg.buf->insert(msg.buf->end(), frame.begin() + 5, frame.begin() + 5 + take);
}

// Step A: a new message from an INIT frame.
void startMessage(softu2f_ctx* ctx, const HidFrame& frame) {
    uint32_t cid = frameCid(frame);
    uint8_t cmd = frame[4];
    if (cid == kU2FHIDBroadcastCid && cmd != U2FHID_INIT) {
        debugLog(ctx, "Non U2FHID_INIT message on broadcast CID.");
        softu2f_hid_err_send(ctx, cid, ERR_INVALID_CID);
        return;
    }
    softu2f_hid_message msg;
    msg.start = ctx->clock->now();
    msg.cmd = cmd;
    msg.cid = cid;
    msg.bcnt = static_cast<uint16_t>(frame[5] << 8 | frame[6]);
    if (msg.bcnt > kU2FHIDMaxPayload) {
        debugLog(ctx, "BCNT too large (%u). Bailing.", static_cast<unsigned>(msg.bcnt));
        softu2f_hid_err_send(ctx, cid, ERR_INVALID_LEN);
        return;
    }
    msg.buf.emplace();
    msg.buf->reserve(msg.bcnt);
    size_t take = std::min<size_t>(msg.bcnt, kInitData);
    msg.buf->insert(msg.buf->end(), frame.begin() + 7, frame.begin() + 7 + take);
    ctx->pending.push_back(std::move(msg));
}

void handleFrame(softu2f_ctx* ctx, const HidFrame& frame) {
    uint32_t cid = frameCid(frame);
    if (cid == 0) {
        debugLog(ctx, "Frame with CID 0.");
        softu2f_hid_err_send(ctx, cid, ERR_INVALID_CID);
        return;
    }
    auto msg = findPending(ctx, cid);
    bool have = msg != ctx->pending.end();
    if (!isInit(frame)) {
        if (!have) {
            debugLog(ctx, "CONT frame out of order. Ignoring");
            return;
        }
        if (frame[4] == msg->lastSeq) {
            appendCont(*msg, frame);
            ++msg->lastSeq;
            return;
        }
        debugLog(ctx, "Bad SEQ in CONT frame (%d). Bailing", frame[4] & 0x7F);
        ctx->pending.erase(msg);
        softu2f_hid_err_send(ctx, cid, ERR_INVALID_SEQ);
        return;
    }
    uint8_t cmd = frame[4];
    if (have) {
        if (cmd == U2FHID_INIT) {
            debugLog(ctx, "U2FHID_INIT while waiting for CONT. Resetting.");
            ctx->pending.erase(msg);
            startMessage(ctx, frame);
            return;
        }
        debugLog(ctx, "INIT frame out of order. Bailing.");
        softu2f_hid_err_send(ctx, cid, ERR_INVALID_SEQ);
        ctx->pending.erase(msg);
        return;
    }
    if (cmd == U2FHID_INIT) {
        startMessage(ctx, frame);
        return;
    }
    if (cmd == U2FHID_SYNC) {
        debugLog(ctx, "SYNC frame out of order. Bailing.");
        softu2f_hid_err_send(ctx, cid, ERR_INVALID_CMD);
        return;
    }
    if (!ctx->pending.empty()) {
        debugLog(ctx, "INIT frame while waiting for CONT on other CID.");
        softu2f_hid_err_send(ctx, cid, ERR_CHANNEL_BUSY);
        return;
    }
    startMessage(ctx, frame);
}

void sendEcho(softu2f_ctx* ctx, softu2f_hid_message* msg) {
    softu2f_hid_msg_send(ctx, msg);
}

bool handleInit(softu2f_ctx* ctx, softu2f_hid_message* msg) {
    const Bytes& request = *msg->data;
    if (request.size() < 8) {
        // The answer echoes an 8-byte nonce; a shorter one is a malformed request.
        softu2f_hid_err_send(ctx, msg->cid, ERR_INVALID_LEN);
        return true;
    }
    uint32_t cid = msg->cid;
    if (msg->cid == kU2FHIDBroadcastCid) {
        // Never hand out the invalid channel 0 or the broadcast channel.
        do {
            cid = ++ctx->lastCid;
        } while (cid == 0 || cid == kU2FHIDBroadcastCid);
    }
    // Made at its full size first: copied in after a resize, GCC 12 takes the buffer for
    // the first 8 bytes only and warns (-Warray-bounds, a false positive).
    auto payload = std::make_shared<Bytes>(17, 0);
    std::copy_n(request.begin(), 8, payload->begin());
    std::memcpy(payload->data() + 8, &cid, sizeof(cid));
    (*payload)[12] = 2;     // U2F HID protocol version
    (*payload)[16] = 0x01;  // capabilities: wink
    softu2f_hid_message answer;
    answer.cmd = U2FHID_INIT;
    answer.cid = msg->cid;
    answer.bcnt = static_cast<uint16_t>(payload->size());
    answer.data = payload;
    return softu2f_hid_msg_send(ctx, &answer);
}

void dispatchMessages(softu2f_ctx* ctx) {
    for (auto it = ctx->pending.begin(); it != ctx->pending.end();) {
        softu2f_hid_message& msg = *it;
        if (msg.buf && msg.buf->size() == msg.bcnt) {
            msg.data = std::make_shared<const Bytes>(std::move(*msg.buf));
            msg.buf.reset();
            int slot = handlerSlot(msg.cmd);
            softu2f_hid_message_handler handler = slot >= 0 ? ctx->handlers[slot] : nullptr;
            if (!handler) {
                switch (msg.cmd) {
                    case U2FHID_INIT:
                        handler = handleInit;
                        break;
                    case U2FHID_PING:
                    case U2FHID_WINK:
                    case U2FHID_SYNC:
                        handler = [](softu2f_ctx* c, softu2f_hid_message* m) {
                            sendEcho(c, m);
                            return true;
                        };
                        break;
                    default:
                        break;
                }
            }
            if (!handler) {
                debugLog(ctx, "No handler for HID message");
                softu2f_hid_err_send(ctx, msg.cid, ERR_INVALID_CMD);
            } else if (!handler(ctx, &msg)) {
                debugLog(ctx, "Error handling HID message");
            }
            it = ctx->pending.erase(it);
            continue;
        }
        if (ctx->clock->now() - msg.start > kMessageTimeout) {
            debugLog(ctx, "Message timeout on CID: 0x%08x", msg.cid);
            softu2f_hid_err_send(ctx, msg.cid, ERR_MSG_TIMEOUT);
            it = ctx->pending.erase(it);
            continue;
        }
        ++it;
    }
}

}  // namespace

softu2f_ctx* softu2f_connect(int flags) {
    std::string error;
    auto device = openUhidFrameDevice(kUhidDevicePath, "Lumvane U2F Security Key", error);
    if (!device) {
        // Most machines give users no access to the device; the program tells the user
        // once, so this goes to the log and not to the terminal.
        if (flags & SOFTU2F_DEBUG) {
            TBN_LOG_INFO("u2f", "Error connecting to {}: {}", kUhidDevicePath, error);
        }
        return nullptr;
    }
    return softu2f_connect_device(std::move(device), flags);
}

softu2f_ctx* softu2f_connect_device(std::unique_ptr<HidFrameDevice> device, int flags,
                                    std::shared_ptr<Clock> clock) {
    if (!device) return nullptr;
    auto* ctx = new (std::nothrow) softu2f_ctx;
    if (!ctx) return nullptr;
    ctx->device = std::move(device);
    ctx->debug = (flags & SOFTU2F_DEBUG) != 0;
    ctx->clock = clock ? std::move(clock) : Clock::steady();
    return ctx;
}

void softu2f_free(softu2f_ctx* ctx) {
    delete ctx;
}

void softu2f_run(softu2f_ctx* ctx) {
    std::function<void(bool)> observer;
    {
        std::lock_guard lock(ctx->runMutex);
        if (ctx->running) {
            debugLog(ctx, "Can't start softu2f run loop. Already running.");
            return;
        }
        ctx->running = true;
        ctx->stopRequested = false;
        observer = ctx->runObserver;
    }
    debugLog(ctx, "Starting softu2f async run loop.");
    if (observer) observer(true);
    auto nextTick = std::chrono::steady_clock::now() + kTickInterval;
    for (;;) {
        {
            std::lock_guard lock(ctx->runMutex);
            if (ctx->stopRequested) break;
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            nextTick - std::chrono::steady_clock::now());
        if (wait.count() < 0) wait = std::chrono::milliseconds(0);
        HidFrame frame{};
        auto result = ctx->device->waitFrame(wait, frame);
        if (result == HidFrameDevice::WaitResult::Closed) {
            debugLog(ctx, "Shutting down softu2f async run loop because of error.");
            break;
        }
        if (result == HidFrameDevice::WaitResult::Frame) {
            logFrame(ctx, "Received frame:", frame);
            softu2f_receive_frame(ctx, frame);
        }
        if (std::chrono::steady_clock::now() >= nextTick) {
            softu2f_timer_tick(ctx);
            nextTick = std::chrono::steady_clock::now() + kTickInterval;
        }
    }
    {
        std::lock_guard lock(ctx->runMutex);
        ctx->running = false;
        ctx->stopRequested = false;
        observer = ctx->runObserver;
    }
    if (observer) observer(false);
}

void softu2f_shutdown(softu2f_ctx* ctx) {
    {
        std::lock_guard lock(ctx->runMutex);
        if (!ctx->running) {
            debugLog(ctx, "Error shutting down softu2f run loop.");
            return;
        }
        debugLog(ctx, "Shutting down softu2f run loop.");
        ctx->stopRequested = true;
    }
    ctx->device->interrupt();
}

bool softu2f_is_running(softu2f_ctx* ctx) {
    std::lock_guard lock(ctx->runMutex);
    return ctx->running;
}

void softu2f_set_run_observer(softu2f_ctx* ctx, std::function<void(bool)> observer) {
    std::lock_guard lock(ctx->runMutex);
    ctx->runObserver = std::move(observer);
}

void softu2f_set_handler(softu2f_ctx* ctx, uint8_t cmd, softu2f_hid_message_handler handler) {
    int slot = handlerSlot(cmd);
    if (slot < 0) return;
    std::lock_guard lock(ctx->mutex);
    ctx->handlers[slot] = std::move(handler);
}

bool softu2f_hid_msg_send(softu2f_ctx* ctx, const softu2f_hid_message* msg) {
    static const Bytes empty;
    const Bytes& data = msg->data ? *msg->data : empty;
    if (data.size() > kU2FHIDMaxPayload) {
        debugLog(ctx, "Message too long to send (%zu bytes).", data.size());
        return false;
    }
    HidFrame frame{};
    std::memcpy(frame.data(), &msg->cid, sizeof(msg->cid));
    frame[4] = msg->cmd | 0x80;
    frame[5] = static_cast<uint8_t>(data.size() >> 8);
    frame[6] = static_cast<uint8_t>(data.size());
    size_t sent = std::min(kInitData, data.size());
    if (sent > 0) std::memcpy(frame.data() + 7, data.data(), sent);
    uint8_t seq = 0;
    for (;;) {
        logFrame(ctx, "Sending frame:", frame);
        int rc = ctx->device->sendFrame(frame);
        if (rc != 0) {
            debugLog(ctx, "Error calling kSoftU2FUserClientSendFrame: 0x%08x",
                     static_cast<unsigned>(rc));
            return false;
        }
        if (sent >= data.size()) return true;
        if (ctx->frameGap.count() > 0) std::this_thread::sleep_for(ctx->frameGap);
        frame[4] = seq++;
        std::memset(frame.data() + 5, 0, frame.size() - 5);
        size_t take = std::min(kContData, data.size() - sent);
        std::memcpy(frame.data() + 5, data.data() + sent, take);
        sent += take;
    }
}

void softu2f_hid_err_send(softu2f_ctx* ctx, uint32_t cid, uint8_t code) {
    softu2f_hid_message msg;
    msg.cmd = U2FHID_ERROR;
    msg.cid = cid;
    msg.bcnt = 1;
    msg.data = std::make_shared<const Bytes>(Bytes{code});
    softu2f_hid_msg_send(ctx, &msg);
}

void softu2f_receive_frame(softu2f_ctx* ctx, const HidFrame& frame) {
    std::lock_guard lock(ctx->mutex);
    handleFrame(ctx, frame);
    dispatchMessages(ctx);
}

void softu2f_timer_tick(softu2f_ctx* ctx) {
    std::lock_guard lock(ctx->mutex);
    dispatchMessages(ctx);
}

void softu2f_set_owner(softu2f_ctx* ctx, void* owner) {
    ctx->owner = owner;
}
void* softu2f_owner(softu2f_ctx* ctx) {
    return ctx->owner;
}

void softu2f_set_frame_gap(softu2f_ctx* ctx, std::chrono::microseconds gap) {
    ctx->frameGap = gap;
}

size_t softu2f_pending_count(softu2f_ctx* ctx) {
    std::lock_guard lock(ctx->mutex);
    return ctx->pending.size();
}

}  // namespace lumvane
