// The kernel's virtual HID device, end to end through hidraw. It needs write access
// to /dev/uhid (root or a udev rule), so it is skipped elsewhere.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "U2FTestSupport.h"
#include "platform/uhid/HidFrameDevice.h"
#include "u2f/U2FHID.h"

using namespace lumvane;
using namespace lumvane::u2ftest;

namespace {

const char* kName = "Lumvane U2F Test Key";

// The hidraw node the kernel made for our device, found by its name.
std::string findHidraw() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (DIR* dir = opendir("/sys/class/hidraw")) {
            while (dirent* entry = readdir(dir)) {
                std::string node = entry->d_name;
                if (node.rfind("hidraw", 0) != 0) continue;
                std::ifstream uevent("/sys/class/hidraw/" + node + "/device/uevent");
                std::string line;
                while (std::getline(uevent, line)) {
                    if (line == std::string("HID_NAME=") + kName) {
                        closedir(dir);
                        return "/dev/" + node;
                    }
                }
            }
            closedir(dir);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
}

TEST(UhidDevice, InitRequestIsAnsweredThroughHidraw) {
    if (::access(kUhidDevicePath, W_OK) != 0)
        GTEST_SKIP() << kUhidDevicePath << " is not writable here (needs root or a udev rule)";
    std::string error;
    auto device = openUhidFrameDevice(kUhidDevicePath, kName, error);
    ASSERT_TRUE(device) << error;
    auto hid = U2FHID::create(std::move(device));
    ASSERT_TRUE(hid);
    ASSERT_TRUE(hid->run());

    std::string node = findHidraw();
    ASSERT_FALSE(node.empty()) << "no hidraw node for the device";
    int fd = ::open(node.c_str(), O_RDWR);
    ASSERT_GE(fd, 0) << node << ": " << std::strerror(errno);

    HidFrame request = initFrame(kU2FHIDBroadcastCid, 0x86, 8, hex("0102030405060708"));
    uint8_t report[65] = {0};  // report number 0, then the frame
    std::memcpy(report + 1, request.data(), request.size());
    ASSERT_EQ(::write(fd, report, sizeof(report)), 65);

    pollfd pfd{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 5000), 1);
    uint8_t answer[64];
    ASSERT_EQ(::read(fd, answer, sizeof(answer)), 64);
    EXPECT_EQ(answer[4], 0x86);
    EXPECT_EQ(answer[6], 17);
    EXPECT_EQ(Bytes(answer + 7, answer + 15), hex("0102030405060708"));
    ::close(fd);
    EXPECT_TRUE(hid->stop());
}

}  // namespace
