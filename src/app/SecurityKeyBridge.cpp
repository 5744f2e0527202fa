#include "app/SecurityKeyBridge.h"

#include <sys/stat.h>
#include <unistd.h>

#include "app/StartupNotices.h"
#include "u2f/U2FAuthenticatorBridge.h"

namespace lumvane {

namespace {
constexpr const char* kUhidPath = "/dev/uhid";
}  // namespace

void SecurityKeyBridge::setupRegisterCallback(Answer answer) {
    U2FAuthenticatorBridge::setupRegisterCallback(std::move(answer));
}

void SecurityKeyBridge::setupAuthenticationCallback(Answer answer) {
    U2FAuthenticatorBridge::setupAuthenticationCallback(std::move(answer));
}

bool SecurityKeyBridge::running() const {
    return U2FAuthenticatorBridge::running();
}

bool SecurityKeyBridge::start() {
    const bool started = U2FAuthenticatorBridge::start();
    if (!started && ::access(kUhidPath, W_OK) != 0) {
        // Not a fault of the program: the system keeps the device from this user.
        struct stat st {};
        sayToUserOnce("uhid", notice::uhidText(::stat(kUhidPath, &st) == 0));
    }
    return started;
}

void SecurityKeyBridge::stop() {
    U2FAuthenticatorBridge::stop();
}

void connectSecurityKey(TBNThriftRemoteMobileSevice& service) {
    service.setU2FBridge(std::make_shared<SecurityKeyBridge>());
}

}  // namespace lumvane
