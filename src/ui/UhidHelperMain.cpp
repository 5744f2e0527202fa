// lumvane-uhid-helper: run through pkexec, it gives the logged-in user access to /dev/uhid
// (a udev rule that tags the device for the seat's user) and loads the uhid module, so
// that the virtual security key can be created. It does nothing else.
//
// Usage: lumvane-uhid-helper install-uhid-access
// Exit status: 0 done, 1 a step failed (the reason on standard error), 2 wrong usage.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ui/DriverSetup.h"

namespace {

constexpr const char* kRuleFile = "/etc/udev/rules.d/70-lumvane-uhid.rules";
constexpr const char* kModulesLoadFile = "/etc/modules-load.d/lumvane-uhid.conf";

// Runs a program by absolute path with an argument vector (no shell); its exit status.
int run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The first of the usual places that holds the program.
std::string find(const char* name) {
    for (const char* dir : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
        std::string path = std::string(dir) + name;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return {};
}

bool writeFile(const char* path, const std::string& text) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const std::string temp = std::string(path) + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << text;
        if (!out.good()) return false;
    }
    return std::rename(temp.c_str(), path) == 0;
}

int fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], lumvane::kUhidHelperInstallCommand) != 0) {
        std::fprintf(stderr, "usage: lumvane-uhid-helper %s\n", lumvane::kUhidHelperInstallCommand);
        return 2;
    }
    if (!writeFile(kRuleFile, lumvane::kUhidRule)) return fail("could not write the udev rule");
    // Loaded again at every start of the machine.
    if (!writeFile(kModulesLoadFile, "uhid\n")) return fail("could not write the module list");
    const std::string modprobe = find("modprobe");
    if (modprobe.empty() || run({modprobe, "uhid"}) != 0) return fail("could not load uhid");
    const std::string udevadm = find("udevadm");
    if (udevadm.empty()) return fail("udevadm is missing");
    if (run({udevadm, "control", "--reload-rules"}) != 0) return fail("udev did not take the rule");
    // The device node may exist already: apply the rule to it now.
    if (run({udevadm, "trigger", "--action=change", "--sysname-match=uhid"}) != 0) {
        return fail("udev did not apply the rule");
    }
    return 0;
}
