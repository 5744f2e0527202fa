#include "u2f/U2FAuthenticatorBridge.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

#include "platform/uhid/HidFrameDevice.h"
#include "u2f/U2FAuthenticator.h"

namespace lumvane {

namespace {
std::mutex& pathMutex() {
    static std::mutex m;
    return m;
}
std::string& pathSlot() {
    static std::string path = kUhidDevicePath;
    return path;
}
}  // namespace

bool U2FAuthenticatorBridge::running() {
    auto authenticator = U2FAuthenticator::shared();
    return authenticator && authenticator->running();
}

bool U2FAuthenticatorBridge::start() {
    auto authenticator = U2FAuthenticator::shared();
    return authenticator && authenticator->start();
}

bool U2FAuthenticatorBridge::stop() {
    auto authenticator = U2FAuthenticator::shared();
    return authenticator && authenticator->stop();
}

void U2FAuthenticatorBridge::setupRegisterCallback(Block block) {
    if (auto authenticator = U2FAuthenticator::shared())
        authenticator->setRegisterCallback(std::move(block));
}

void U2FAuthenticatorBridge::setupAuthenticationCallback(Block block) {
    if (auto authenticator = U2FAuthenticator::shared())
        authenticator->setAuthenticationCallback(std::move(block));
}

void U2FAuthenticatorBridge::bindRemoteSigner(const std::shared_ptr<U2FRemoteSigner>& signer) {
    std::weak_ptr<U2FRemoteSigner> weak = signer;
    setupRegisterCallback([weak](const Bytes& raw) -> std::optional<Bytes> {
        auto service = weak.lock();
        return service ? service->registerYubikeyWithRaw(raw) : std::nullopt;
    });
    setupAuthenticationCallback([weak](const Bytes& raw) -> std::optional<Bytes> {
        auto service = weak.lock();
        return service ? service->authenticationYubikeyWithRaw(raw) : std::nullopt;
    });
}

bool U2FAuthenticatorBridge::driverInstalled() {
    std::error_code error;
    return std::filesystem::exists(devicePath(), error);
}

bool U2FAuthenticatorBridge::driverRunning() {
    return ::access(devicePath().c_str(), R_OK | W_OK) == 0;
}

std::string U2FAuthenticatorBridge::driverVersion() {
    utsname name{};
    if (::uname(&name) != 0) return {};
    return name.release;
}

void U2FAuthenticatorBridge::setDevicePath(std::string path) {
    std::lock_guard lock(pathMutex());
    pathSlot() = std::move(path);
}

std::string U2FAuthenticatorBridge::devicePath() {
    std::lock_guard lock(pathMutex());
    return pathSlot();
}

}  // namespace lumvane
