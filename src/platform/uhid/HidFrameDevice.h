#pragma once
// A virtual HID security key as the host sees it: every 64-byte output report the
// host writes arrives as one frame, every frame sent becomes one input report.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace lumvane {

using HidFrame = std::array<uint8_t, 64>;

class HidFrameDevice {
  public:
    enum class WaitResult { Frame, Timeout, Interrupted, Closed };

    virtual ~HidFrameDevice() = default;

    // Sends one input report to the host; 0 on success, otherwise an error code
    // (an errno value for the kernel device).
    virtual int sendFrame(const HidFrame& frame) = 0;
    // Waits at most `timeout` for the host's next output report.
    virtual WaitResult waitFrame(std::chrono::milliseconds timeout, HidFrame& frame) = 0;
    // Makes the wait in progress, or else the next one, return Interrupted. Any thread.
    virtual void interrupt() = 0;
};

// The kernel's user-space HID device (/dev/uhid): creates a FIDO U2F HID device
// named `name`. Nothing, with a reason in `error`, when the device file cannot be
// opened (it usually needs root or a udev rule) or the device cannot be created.
std::unique_ptr<HidFrameDevice> openUhidFrameDevice(const std::string& path,
                                                    const std::string& name, std::string& error);

inline constexpr const char* kUhidDevicePath = "/dev/uhid";

}  // namespace lumvane
