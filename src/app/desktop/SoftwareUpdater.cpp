#include "app/desktop/SoftwareUpdater.h"

#include <fstream>

#include "app/desktop/StartAtLogin.h"

namespace lumvane {

std::string updateCheckText(const std::filesystem::path& program,
                            const std::filesystem::path& dpkgInfoFolder) {
    std::ifstream list(dpkgInfoFolder / "lumvane.list");
    std::string line;
    while (std::getline(list, line)) {
        if (line == program.string()) {
            return "Lumvane is updated by your system's package manager, with the package "
                   "lumvane (sudo apt upgrade). It looks for no updates itself.";
        }
    }
    return "This copy of Lumvane was built from its sources (" + program.string() +
           "): to update it, get the new sources and build again (scripts/run.sh), then "
           "install again if you installed it (cmake --install). It looks for no updates "
           "itself.";
}

std::string NoUpdateService::checkInteractively() {
    return updateCheckText(StartAtLogin::runningProgram());
}

}  // namespace lumvane
