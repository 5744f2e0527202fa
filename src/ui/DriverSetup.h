#pragma once
// The "driver" of the virtual security key on Linux: the user's access to /dev/uhid.
// Installing it puts a udev rule in place and loads the uhid module, both done by our
// small helper program run as root through pkexec with a fixed argument vector (no
// shell). The probe reads the rule file and /sys/module/uhid. No Qt here.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumvane {

struct TBNDriverState {
    bool installed = false;  // our udev rule is in place
    bool running = false;    // the uhid module is loaded
};

class TBNDriverSetup {
  public:
    // The helper's exit status; -1 when it could not be started. Blocking.
    using Runner = std::function<int(const std::vector<std::string>& argv, std::string* errors)>;

    struct Options {
        std::string ruleFile = "/etc/udev/rules.d/70-lumvane-uhid.rules";
        std::string moduleFolder = "/sys/module/uhid";
        // The helper program; empty: lumvane-uhid-helper next to this executable.
        std::string helper;
        std::vector<std::string> elevation = {"pkexec"};
        Runner runner;  // none: run the child process
    };

    explicit TBNDriverSetup(Options options);
    // The set-up of this machine.
    static std::shared_ptr<TBNDriverSetup> system();

    TBNDriverState probe() const;
    // The argument vector that installs the rule and loads the module.
    std::vector<std::string> installCommand() const;
    // Runs the install (blocking; call it off the GUI thread). Empty on success, else
    // what went wrong.
    std::string install();

  private:
    Options options_;
};

// The helper's one command and the rule it writes.
inline constexpr const char* kUhidHelperInstallCommand = "install-uhid-access";
inline constexpr const char* kUhidRule =
    "# Lumvane: the logged-in user may create virtual security keys.\n"
    "KERNEL==\"uhid\", SUBSYSTEM==\"misc\", TAG+=\"uaccess\", OPTIONS+=\"static_node=uhid\"\n";

}  // namespace lumvane
