#pragma once
// The security key as the rest of the program sees it: start and stop it, install the
// callbacks that answer register and authenticate requests, and tell whether the
// virtual HID device (the kernel's uhid) is there and usable.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "runtime/Bytes.h"
#include "u2f/U2FRemoteSigner.h"

namespace lumvane {

class U2FAuthenticatorBridge {
  public:
    using Block = std::function<std::optional<Bytes>(const Bytes&)>;

    // Without an authenticator (no device when first used) these answer false and
    // the callbacks are dropped.
    static bool running();
    static bool start();
    static bool stop();
    static void setupRegisterCallback(Block block);
    static void setupAuthenticationCallback(Block block);

    // Installs both callbacks over the remote phone service, held weakly: once the
    // service is gone they answer nothing.
    static void bindRemoteSigner(const std::shared_ptr<U2FRemoteSigner>& signer);

    // The device file exists (the uhid module is there).
    static bool driverInstalled();
    // This user can open the device file for reading and writing.
    static bool driverRunning();
    // The running kernel's release, which the uhid module belongs to.
    static std::string driverVersion();

    // The device file the two checks look at (tests point it elsewhere).
    static void setDevicePath(std::string path);
    static std::string devicePath();
};

}  // namespace lumvane
