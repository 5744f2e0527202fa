#include "U2FTestSupport.h"

#include <cstring>

namespace lumvane::u2ftest {

Bytes hex(const std::string& text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

std::string toHex(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

Bytes repeat(uint8_t byte, size_t count) {
    return Bytes(count, byte);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

static void putCid(HidFrame& f, uint32_t cid) {
    std::memcpy(f.data(), &cid, 4);
}

uint32_t frameCid(const HidFrame& frame) {
    uint32_t cid;
    std::memcpy(&cid, frame.data(), 4);
    return cid;
}

HidFrame initFrame(uint32_t cid, uint8_t cmd, uint16_t bcnt, const Bytes& data) {
    HidFrame f{};
    putCid(f, cid);
    f[4] = cmd;
    f[5] = static_cast<uint8_t>(bcnt >> 8);
    f[6] = static_cast<uint8_t>(bcnt);
    if (!data.empty()) std::memcpy(f.data() + 7, data.data(), std::min<size_t>(57, data.size()));
    return f;
}

HidFrame contFrame(uint32_t cid, uint8_t seq, const Bytes& data) {
    HidFrame f{};
    putCid(f, cid);
    f[4] = seq;
    if (!data.empty()) std::memcpy(f.data() + 5, data.data(), std::min<size_t>(59, data.size()));
    return f;
}

std::vector<HidFrame> hostFrames(uint32_t cid, uint8_t cmd, const Bytes& payload) {
    std::vector<HidFrame> frames;
    size_t first = std::min<size_t>(57, payload.size());
    frames.push_back(initFrame(cid, cmd, static_cast<uint16_t>(payload.size()),
                               Bytes(payload.begin(), payload.begin() + first)));
    size_t pos = first;
    uint8_t seq = 0;
    while (pos < payload.size()) {
        size_t n = std::min<size_t>(59, payload.size() - pos);
        frames.push_back(
            contFrame(cid, seq++, Bytes(payload.begin() + pos, payload.begin() + pos + n)));
        pos += n;
    }
    return frames;
}

struct FramePipe::State {
    mutable std::mutex mutex;
    std::condition_variable cv;
    std::deque<HidFrame> incoming;
    std::vector<HidFrame> sent;
    bool interrupted = false;
    size_t failAfter = SIZE_MAX;
    int failCode = 0;
};

class FramePipe::Device final : public HidFrameDevice {
  public:
    explicit Device(std::shared_ptr<State> state) : state_(std::move(state)) {}
    int sendFrame(const HidFrame& frame) override {
        std::lock_guard lock(state_->mutex);
        if (state_->sent.size() >= state_->failAfter) return state_->failCode;
        state_->sent.push_back(frame);
        state_->cv.notify_all();
        return 0;
    }
    WaitResult waitFrame(std::chrono::milliseconds timeout, HidFrame& frame) override {
        std::unique_lock lock(state_->mutex);
        state_->cv.wait_for(lock, timeout,
                            [&] { return state_->interrupted || !state_->incoming.empty(); });
        if (state_->interrupted) {
            state_->interrupted = false;
            return WaitResult::Interrupted;
        }
        if (state_->incoming.empty()) return WaitResult::Timeout;
        frame = state_->incoming.front();
        state_->incoming.pop_front();
        return WaitResult::Frame;
    }
    void interrupt() override {
        std::lock_guard lock(state_->mutex);
        state_->interrupted = true;
        state_->cv.notify_all();
    }

  private:
    std::shared_ptr<State> state_;
};

FramePipe::FramePipe() : state_(std::make_shared<State>()) {}
FramePipe::~FramePipe() = default;

std::unique_ptr<HidFrameDevice> FramePipe::device() {
    return std::make_unique<Device>(state_);
}

void FramePipe::push(const HidFrame& frame) {
    std::lock_guard lock(state_->mutex);
    state_->incoming.push_back(frame);
    state_->cv.notify_all();
}

void FramePipe::pushMessage(uint32_t cid, uint8_t cmd, const Bytes& payload) {
    for (const auto& f : hostFrames(cid, cmd, payload)) push(f);
}

std::vector<HidFrame> FramePipe::sent() const {
    std::lock_guard lock(state_->mutex);
    return state_->sent;
}

size_t FramePipe::sentCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->sent.size();
}

bool FramePipe::waitSentCount(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(state_->mutex);
    return state_->cv.wait_for(lock, limit, [&] { return state_->sent.size() >= count; });
}

std::optional<SentMessage> FramePipe::nextMessage(std::chrono::milliseconds limit) {
    if (!waitSentCount(consumed_ + 1, limit)) return std::nullopt;
    HidFrame first = sent()[consumed_];
    SentMessage msg;
    msg.cid = frameCid(first);
    msg.cmd = first[4];
    size_t bcnt = (first[5] << 8) | first[6];
    size_t take = std::min<size_t>(57, bcnt);
    msg.payload.assign(first.begin() + 7, first.begin() + 7 + take);
    ++consumed_;
    while (msg.payload.size() < bcnt) {
        if (!waitSentCount(consumed_ + 1, limit)) return std::nullopt;
        HidFrame cont = sent()[consumed_++];
        size_t n = std::min<size_t>(59, bcnt - msg.payload.size());
        msg.payload.insert(msg.payload.end(), cont.begin() + 5, cont.begin() + 5 + n);
    }
    return msg;
}

void FramePipe::failSendsAfter(size_t afterFrames, int code) {
    std::lock_guard lock(state_->mutex);
    state_->failAfter = afterFrames;
    state_->failCode = code;
}

}  // namespace lumvane::u2ftest
