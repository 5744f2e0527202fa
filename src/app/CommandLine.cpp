#include "app/CommandLine.h"

namespace lumvane {

CommandLine CommandLine::parse(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
    return parse(arguments);
}

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine c;
    bool headless = false;
    auto fail = [&c](std::string why) {
        if (!c.error) c.error = std::move(why);
    };
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--headless") {
            headless = true;
        } else if (a == "--pair") {
            c.pair = true;
        } else if (a == "--open-registration") {
            c.openRegistration = true;
        } else if (a.rfind("--ble=", 0) == 0 || a == "--ble") {
            std::string spec;
            if (a == "--ble") {
                if (i + 1 >= arguments.size()) {
                    fail("--ble needs a value");
                    continue;
                }
                spec = arguments[++i];
            } else {
                spec = a.substr(6);
            }
            if (spec.empty()) {
                fail("--ble needs a value");
            } else if (spec.rfind("sim:", 0) == 0 && spec.size() == 4) {
                fail("--ble=sim: needs the socket path of the simulated radio");
            } else if (spec != "qt" && spec.rfind("sim:", 0) != 0) {
                fail("unknown --ble value: " + spec);
            } else if (c.ble && *c.ble != spec) {
                fail("--ble given twice");
            }
            c.ble = spec;
        } else if (a.rfind("--push=", 0) == 0) {
            const std::string spec = a.substr(7);
            if (spec.rfind("file:", 0) != 0 || spec.size() == 5) {
                fail("unknown --push value: " + spec);
            }
            c.push = spec;
        } else if (a == "--version") {
            c.mode = Mode::Version;
        } else if (a == "--help" || a == "-h") {
            c.mode = Mode::Help;
        } else {
            fail("unknown argument: " + a);
        }
    }
    if (c.mode == Mode::Help || c.mode == Mode::Version) return c;
    if (headless) {
        c.mode = Mode::Headless;
    } else if (c.pair || c.openRegistration) {
        // The application pairs through its QR window and opens the registration from
        // its menu; the radio and the wake-up path work in both modes.
        fail(std::string(c.pair ? "--pair" : "--open-registration") + " only goes with --headless");
    }
    return c;
}

std::string CommandLine::usage(const std::string& program) {
    return "usage: " + program +
           " [--ble=sim:PATH|--ble=qt] [--push=file:PATH]\n"
           "       " +
           program +
           " --headless [--ble=...] [--push=...] [--pair] [--open-registration]\n"
           "       " +
           program +
           " --version | --help\n"
           "Modes:\n"
           "  (no mode)         the desktop application: an icon in the panel with the status\n"
           "                    menu, notices and the first-run set-up; needs a display\n"
           "                    (DISPLAY or WAYLAND_DISPLAY), else it runs as --headless\n"
           "  --headless        run the service without status item or windows; stops on\n"
           "                    SIGTERM or SIGINT; questions to the user count as cancelled\n"
           "  --version         print the version\n"
           "  --help            print this text\n"
           "  (a browser starts " +
           program +
           " with its extension's origin as argument: the\n"
           "  native-messaging host, which relays to the running application)\n"
           "Options:\n"
           "  --ble=sim:PATH    talk to phones on the simulated radio at the socket PATH\n"
           "  --ble=qt          talk to phones through BlueZ (the default)\n"
           "  --push=file:PATH  append phone wake-ups to PATH (the simulated phone reads it)\n"
           "  --pair            (--headless) start pairing a phone: print the invitation URL\n"
           "                    and its QR code\n"
           "  --open-registration  (--headless) let a new browser extension register in the\n"
           "                    next 120 s (SIGUSR1 opens the window again)\n";
}

}  // namespace lumvane
