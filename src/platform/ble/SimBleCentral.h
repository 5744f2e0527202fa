#pragma once
// The central of the simulated radio: a BleCentral that speaks to the "air" hub
// on a Unix socket. Powered on while the hub is reachable; when the hub is not
// there (or goes away) it reports PoweredOff and tries again every second.
#include <memory>
#include <string>

#include "platform/ble/BleCentral.h"

namespace lumvane::ble::sim {

struct SimCentralOptions {
    std::string socketPath;
    // Shown to peripherals as the central's identifier (made unique by the hub).
    std::string identifier = "lumvane-central";
    uint16_t mtu = 517;
    // How long to wait between attempts to reach the hub.
    double reconnectInterval = 1.0;
};

std::shared_ptr<BleCentral> createSimBleCentral(const SimCentralOptions& options,
                                                std::weak_ptr<BleCentralDelegate> delegate,
                                                std::shared_ptr<DispatchQueue> queue);

}  // namespace lumvane::ble::sim
