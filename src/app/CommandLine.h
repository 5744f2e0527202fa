#pragma once
// The command line of `lumvane` outside the native-messaging host mode:
//
//   lumvane                      the status-item application
//   lumvane --headless [--ble=SPEC] [--push=SPEC] [--pair] [--open-registration]
//                                the service without status item or windows
//   lumvane --version | --help
//
// SPEC is "sim:PATH" (the simulated radio at the socket PATH) or "qt" (Bluetooth
// through BlueZ). --pair starts the QR pairing and prints the invitation.
#include <optional>
#include <string>
#include <vector>

namespace lumvane {

struct CommandLine {
    enum class Mode { Application, Headless, Version, Help };
    Mode mode = Mode::Application;
    std::optional<std::string> ble;
    bool pair = false;
    // Where wake-up notifications go: "file:PATH" appends them to a file the simulated
    // phone reads; unset: Apple's push service (needs its certificate).
    std::optional<std::string> push;
    // Opens at start the window in which a new browser extension may register (the
    // status menu's install entries open it in the application; SIGUSR1 reopens it).
    bool openRegistration = false;
    // Set when the arguments make no sense; the text says why.
    std::optional<std::string> error;

    static CommandLine parse(const std::vector<std::string>& arguments);
    static CommandLine parse(int argc, const char* const* argv);
    static std::string usage(const std::string& program);
};

}  // namespace lumvane
