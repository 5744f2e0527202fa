#include "ui/DriverSetup.h"

#include <filesystem>
#include <system_error>

#include "extension/browser/ChildProcess.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace fs = std::filesystem;

namespace {
constexpr const char* kTag = "ui|popover";

std::string besideExecutable(const std::string& name) {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return name;
    return (self.parent_path() / name).string();
}
}  // namespace

TBNDriverSetup::TBNDriverSetup(Options options) : options_(std::move(options)) {}

std::shared_ptr<TBNDriverSetup> TBNDriverSetup::system() {
    return std::make_shared<TBNDriverSetup>(Options{});
}

TBNDriverState TBNDriverSetup::probe() const {
    std::error_code ec;
    TBNDriverState state;
    state.installed = fs::is_regular_file(options_.ruleFile, ec);
    state.running = fs::is_directory(options_.moduleFolder, ec);
    return state;
}

std::vector<std::string> TBNDriverSetup::installCommand() const {
    std::vector<std::string> argv = options_.elevation;
    argv.push_back(options_.helper.empty() ? besideExecutable("lumvane-uhid-helper")
                                           : options_.helper);
    argv.push_back(kUhidHelperInstallCommand);
    return argv;
}

std::string TBNDriverSetup::install() {
    const auto argv = installCommand();
    std::string errors;
    int status = -1;
    if (options_.runner) {
        status = options_.runner(argv, &errors);
    } else {
        ChildResult result = runChildProcess(argv);
        status = result.started ? result.exitStatus : -1;
        errors = result.errors;
    }
    TBN_LOG_INFO(kTag, "security-key set-up helper ended with {}", status);
    if (status == 0) return {};
    while (!errors.empty() && (errors.back() == '\n' || errors.back() == '\r')) errors.pop_back();
    if (status == -1) return "the helper could not be started";
    // pkexec: 126 the user dismissed the password dialog, 127 not authorised.
    if (status == 126 || status == 127) return "permission was not given";
    return errors.empty() ? "the helper failed (status " + std::to_string(status) + ")" : errors;
}

}  // namespace lumvane
