// Runs the simulated radio's hub at a socket path until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstring>

#include "platform/ble/SimBleAir.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: %s SOCKET_PATH\n", argv[0]);
        return 2;
    }
    // Block the stop signals in every thread; main takes them with sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    lumvane::ble::sim::SimBleAir air(argv[1]);
    if (!air.start()) {
        std::perror("lumvane-ble-air: cannot listen");
        return 1;
    }
    std::printf("listening on %s\n", argv[1]);
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    air.stop();
    return 0;
}
