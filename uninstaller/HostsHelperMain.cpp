// lumvane-uninstall-hosts-helper: run through pkexec, it takes the program's one fixed
// loopback line out of the hosts file, and does nothing else.
//
// Usage: lumvane-uninstall-hosts-helper [--hosts-file PATH]
// The path option exists for tests. When started by pkexec (PKEXEC_UID is set; pkexec
// clears the caller's environment, so it cannot be faked) only the system hosts file may
// be touched, so the elevated helper can never be aimed at another file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "extension/browser/HostsRecord.h"
#include "uninstaller/HostsLineRemoval.h"

int main(int argc, char** argv) {
    std::string hostsFile(lumvane::kSystemHostsFile);
    if (argc == 3 && std::strcmp(argv[1], "--hosts-file") == 0 && argv[2][0] != '\0') {
        if (std::getenv("PKEXEC_UID") != nullptr && hostsFile != argv[2]) {
            std::fprintf(stderr,
                         "lumvane-uninstall-hosts-helper: only %s may be changed when elevated\n",
                         hostsFile.c_str());
            return 2;
        }
        hostsFile = argv[2];
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: lumvane-uninstall-hosts-helper [--hosts-file PATH]\n");
        return 2;
    }
    std::string error;
    switch (lumvane::removeHostsRecord(hostsFile, &error)) {
        case lumvane::HostsRemoval::NotPresent:
        case lumvane::HostsRemoval::Removed:
            return 0;
        case lumvane::HostsRemoval::Failed:
            break;
    }
    std::fprintf(stderr, "lumvane-uninstall-hosts-helper: %s\n", error.c_str());
    return 1;
}
