// lumvane-hosts-helper: run through pkexec, it adds the one fixed loopback line of the
// local TLS identity to the hosts file when that line is missing, and does nothing else.
//
// Usage: lumvane-hosts-helper [--hosts-file PATH]
// The path option exists for tests. When started by pkexec (PKEXEC_UID is set, and pkexec
// clears the caller's environment so it cannot be faked) only the system hosts file may be
// touched, so the elevated helper can never be aimed at another file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "extension/browser/HostsRecord.h"

int main(int argc, char** argv) {
    std::string hostsFile(lumvane::kSystemHostsFile);
    if (argc == 3 && std::strcmp(argv[1], "--hosts-file") == 0 && argv[2][0] != '\0') {
        if (std::getenv("PKEXEC_UID") != nullptr && hostsFile != argv[2]) {
            std::fprintf(stderr, "lumvane-hosts-helper: only %s may be changed when elevated\n",
                         hostsFile.c_str());
            return 2;
        }
        hostsFile = argv[2];
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: lumvane-hosts-helper [--hosts-file PATH]\n");
        return 2;
    }
    switch (lumvane::addHostsRecord(hostsFile)) {
        case lumvane::HostsUpdate::AlreadyPresent:
        case lumvane::HostsUpdate::Appended:
            return 0;
        case lumvane::HostsUpdate::Failed:
            break;
    }
    std::fprintf(stderr, "lumvane-hosts-helper: could not update %s\n", hostsFile.c_str());
    return 1;
}
