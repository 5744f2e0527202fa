#pragma once
// Helpers of the security-key tests: hex bytes and a frame pipe that plays the host
// side of the virtual HID device.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/uhid/HidFrameDevice.h"
#include "runtime/Bytes.h"

namespace lumvane::u2ftest {

Bytes hex(const std::string& text);
std::string toHex(const Bytes& bytes);
Bytes repeat(uint8_t byte, size_t count);
Bytes concat(std::initializer_list<Bytes> parts);

// Frames of one message on one channel, as the host would write them.
std::vector<HidFrame> hostFrames(uint32_t cid, uint8_t cmd, const Bytes& payload);
HidFrame initFrame(uint32_t cid, uint8_t cmd, uint16_t bcnt, const Bytes& data = {});
HidFrame contFrame(uint32_t cid, uint8_t seq, const Bytes& data = {});
uint32_t frameCid(const HidFrame& frame);

// One message the device sent, reassembled from its frames.
struct SentMessage {
    uint32_t cid = 0;
    uint8_t cmd = 0;
    Bytes payload;
};

// Both ends of the virtual device in memory. The client side (HidFrameDevice) reads
// what the test pushes and records what the client sends; the test waits for sent
// frames with a real-time limit (only as a guard against hangs).
class FramePipe {
  public:
    class Device;
    FramePipe();
    ~FramePipe();

    // The client end; the pipe stays usable after the device is gone.
    std::unique_ptr<HidFrameDevice> device();

    void push(const HidFrame& frame);
    void pushMessage(uint32_t cid, uint8_t cmd, const Bytes& payload);
    // Frames sent so far.
    std::vector<HidFrame> sent() const;
    size_t sentCount() const;
    bool waitSentCount(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Reassembles the next whole message from the sent frames (consuming them).
    std::optional<SentMessage> nextMessage(
        std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Makes every send fail with this code from frame number `afterFrames` on.
    void failSendsAfter(size_t afterFrames, int code);

  private:
    struct State;
    std::shared_ptr<State> state_;
    size_t consumed_ = 0;
};

}  // namespace lumvane::u2ftest
