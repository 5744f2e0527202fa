#include "u2f/U2FHID.h"

#include <cstdio>
#include <thread>

namespace lumvane {

namespace {
std::atomic<bool> gClientOpen{false};

std::mutex& openerMutex() {
    static std::mutex m;
    return m;
}
U2FHID::DeviceOpener& openerSlot() {
    static U2FHID::DeviceOpener opener;
    return opener;
}

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}
}  // namespace

std::optional<U2FHID::MessageType> U2FHID::messageTypeFromByte(uint8_t byte) {
    switch (byte) {
        case 0x81:
        case 0x83:
        case 0x84:
        case 0x86:
        case 0x88:
        case 0xBC:
        case 0xBF:
            return static_cast<MessageType>(byte);
        default:
            return std::nullopt;
    }
}

void U2FHID::setSharedDeviceOpener(DeviceOpener opener) {
    std::lock_guard lock(openerMutex());
    openerSlot() = std::move(opener);
}

std::shared_ptr<U2FHID> U2FHID::shared() {
    static const std::shared_ptr<U2FHID> instance = [] {
        DeviceOpener opener;
        {
            std::lock_guard lock(openerMutex());
            opener = openerSlot();
        }
        if (!opener) {
            if (gClientOpen.exchange(true)) return std::shared_ptr<U2FHID>();
            softu2f_ctx* ctx = softu2f_connect(SOFTU2F_DEBUG);
            if (!ctx) {
                gClientOpen = false;
                return std::shared_ptr<U2FHID>();
            }
            return std::shared_ptr<U2FHID>(new U2FHID(ctx));
        }
        return create(opener());
    }();
    return instance;
}

std::shared_ptr<U2FHID> U2FHID::create(std::unique_ptr<HidFrameDevice> device,
                                       std::shared_ptr<Clock> clock) {
    if (!device) return nullptr;
    if (gClientOpen.exchange(true)) return nullptr;
    softu2f_ctx* ctx = softu2f_connect_device(std::move(device), SOFTU2F_DEBUG, std::move(clock));
    if (!ctx) {
        gClientOpen = false;
        return nullptr;
    }
    return std::shared_ptr<U2FHID>(new U2FHID(ctx));
}

U2FHID::U2FHID(softu2f_ctx* ctx) : ctx_(ctx) {
    softu2f_set_owner(ctx_, this);
}

U2FHID::~U2FHID() {
    std::shared_ptr<RunState> state;
    {
        std::lock_guard lock(mutex_);
        state = runThread_;
    }
    if (state) {
        // The thread uses the context: it must be gone before the context is freed.
        softu2f_shutdown(ctx_);
        std::unique_lock lock(state->mutex);
        state->cv.wait(lock, [&] { return state->finished; });
    }
    softu2f_free(ctx_);
    gClientOpen = false;
}

bool U2FHID::sendMessage(uint32_t cid, const Bytes& payload) {
    if (payload.size() > kU2FHIDMaxPayload) return false;
    softu2f_hid_message msg;
    msg.cmd = U2FHID_MSG;
    msg.bcnt = static_cast<uint16_t>(payload.size());
    msg.cid = cid;
    msg.data = std::make_shared<const Bytes>(payload);
    return softu2f_hid_msg_send(ctx_, &msg);
}

bool U2FHID::forward(softu2f_ctx* ctx, softu2f_hid_message* msg) {
    if (!msg || !ctx) return false;
    auto* self = static_cast<U2FHID*>(softu2f_owner(ctx));
    if (!self) return false;
    Handler handler;
    {
        std::lock_guard lock(self->mutex_);
        auto it = self->handlers_.find(msg->cmd);
        if (it == self->handlers_.end()) return false;
        handler = it->second;
    }
    softu2f_hid_message copy = *msg;
    return handler(copy);
}

void U2FHID::setHandler(MessageType type, Handler handler) {
    uint8_t cmd = static_cast<uint8_t>(type);
    {
        std::lock_guard lock(mutex_);
        handlers_[cmd] = std::move(handler);
    }
    softu2f_set_handler(ctx_, cmd, forward);
}

bool U2FHID::run() {
    auto state = std::make_shared<RunState>();
    {
        std::lock_guard lock(mutex_);
        if (runThread_) return false;
        runThread_ = state;
    }
    say("Starting U2FHID thread");
    softu2f_set_run_observer(ctx_, [state](bool running) {
        if (!running) return;
        std::lock_guard stateLock(state->mutex);
        state->started = true;
        state->cv.notify_all();
    });
    softu2f_ctx* ctx = ctx_;
    std::thread([this, ctx, state] {
        say("U2FHID thread started");
        softu2f_run(ctx);
        {
            std::lock_guard selfLock(mutex_);
            if (runThread_ == state) runThread_.reset();
        }
        say("U2FHID thread stopped");
        std::lock_guard stateLock(state->mutex);
        state->finished = true;
        state->cv.notify_all();
    }).detach();
    // Returning only once the loop turns means a stop() right after run() is not lost.
    std::unique_lock stateLock(state->mutex);
    state->cv.wait(stateLock, [&] { return state->started || state->finished; });
    return true;
}

bool U2FHID::stop() {
    std::shared_ptr<RunState> state;
    {
        std::lock_guard lock(mutex_);
        state = runThread_;
    }
    if (!state) return false;
    say("Stopping U2FHID thread");
    softu2f_shutdown(ctx_);
    {
        std::unique_lock lock(state->mutex);
        if (state->cv.wait_for(lock, std::chrono::seconds(2), [&] { return state->finished; }))
            return true;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return false;
}

bool U2FHID::isRunning() const {
    std::lock_guard lock(mutex_);
    return runThread_ != nullptr;
}

}  // namespace lumvane
