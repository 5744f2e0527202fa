#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/uhid/HidFrameDevice.h"

namespace lumvane {

namespace {

// FIDO usage page, one 64-byte input and one 64-byte output report, no report ids.
const uint8_t kFidoReportDescriptor[] = {
    0x06, 0xD0, 0xF1,  // Usage Page (FIDO Alliance)
    0x09, 0x01,        // Usage (U2F Authenticator Device)
    0xA1, 0x01,        // Collection (Application)
    0x09, 0x20,        //   Usage (Input Report Data)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x40,        //   Report Count (64)
    0x81, 0x02,        //   Input (Data, Var, Abs)
    0x09, 0x21,        //   Usage (Output Report Data)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x40,        //   Report Count (64)
    0x91, 0x02,        //   Output (Data, Var, Abs)
    0xC0,              // End Collection
};

bool writeEvent(int fd, const uhid_event& event) {
    ssize_t n;
    do {
        n = ::write(fd, &event, sizeof(event));
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof(event));
}

class UhidFrameDevice final : public HidFrameDevice {
  public:
    UhidFrameDevice(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {}
    ~UhidFrameDevice() override {
        uhid_event event{};
        event.type = UHID_DESTROY;
        writeEvent(fd_, event);
        ::close(fd_);
        ::close(wakeFd_);
    }

    int sendFrame(const HidFrame& frame) override {
        uhid_event event{};
        event.type = UHID_INPUT2;
        event.u.input2.size = frame.size();
        std::memcpy(event.u.input2.data, frame.data(), frame.size());
        return writeEvent(fd_, event) ? 0 : (errno ? errno : EIO);
    }

    WaitResult waitFrame(std::chrono::milliseconds timeout, HidFrame& frame) override {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() < 0) return WaitResult::Timeout;
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
            int rc = ::poll(fds, 2, static_cast<int>(left.count()));
            if (rc < 0) {
                if (errno == EINTR) continue;
                return WaitResult::Closed;
            }
            if (rc == 0) return WaitResult::Timeout;
            if (fds[1].revents & POLLIN) {
                uint64_t count;
                (void)!::read(wakeFd_, &count, sizeof(count));
                return WaitResult::Interrupted;
            }
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return WaitResult::Closed;
            uhid_event event{};
            ssize_t n = ::read(fd_, &event, sizeof(event));
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return WaitResult::Closed;
            }
            if (n < static_cast<ssize_t>(sizeof(event.type))) continue;
            if (event.type == UHID_OUTPUT) {
                if (takeOutput(event.u.output.data, event.u.output.size, frame))
                    return WaitResult::Frame;
            } else if (event.type == UHID_GET_REPORT) {
                uhid_event reply{};
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply.id = event.u.get_report.id;
                reply.u.get_report_reply.err = EIO;
                writeEvent(fd_, reply);
            } else if (event.type == UHID_SET_REPORT) {
                uhid_event reply{};
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply.id = event.u.set_report.id;
                reply.u.set_report_reply.err = EIO;
                writeEvent(fd_, reply);
            }
            // UHID_START, UHID_STOP, UHID_OPEN and UHID_CLOSE need no answer.
        }
    }

    void interrupt() override {
        uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof(one));
    }

  private:
    // hidraw hands the report number (0 without report ids) in front of the 64 bytes.
    static bool takeOutput(const uint8_t* data, size_t size, HidFrame& frame) {
        if (size > UHID_DATA_MAX) return false;
        if (size == frame.size() + 1 && data[0] == 0) {
            ++data;
            --size;
        }
        if (size == 0 || size > frame.size()) return false;
        frame.fill(0);
        std::memcpy(frame.data(), data, size);
        return true;
    }

    int fd_;
    int wakeFd_;
};

}  // namespace

std::unique_ptr<HidFrameDevice> openUhidFrameDevice(const std::string& path,
                                                    const std::string& name, std::string& error) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        error = std::string("cannot create event fd: ") + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    uhid_event event{};
    event.type = UHID_CREATE2;
    std::strncpy(reinterpret_cast<char*>(event.u.create2.name), name.c_str(),
                 sizeof(event.u.create2.name) - 1);
    std::memcpy(event.u.create2.rd_data, kFidoReportDescriptor, sizeof(kFidoReportDescriptor));
    event.u.create2.rd_size = sizeof(kFidoReportDescriptor);
    event.u.create2.bus = 0x03;  // BUS_USB
    event.u.create2.vendor = 0x1209;
    event.u.create2.product = 0x7591;
    if (!writeEvent(fd, event)) {
        error = std::string("cannot create the HID device: ") + std::strerror(errno);
        ::close(fd);
        ::close(wakeFd);
        return nullptr;
    }
    return std::make_unique<UhidFrameDevice>(fd, wakeFd);
}

}  // namespace lumvane
