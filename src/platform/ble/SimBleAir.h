#pragma once
// The simulated radio ("air"): a hub on a Unix socket that simulated centrals and
// peripherals connect to. It relays advertisements to scanning centrals, keeps
// connections and GATT subscriptions, answers service and characteristic
// discovery from the tables the peripherals publish, and passes reads, writes
// and notifications between the two sides unchanged. A peripheral or central
// whose socket goes away is disconnected from everyone it was connected to.
//
// Run it in-process (tests) or as the program lumvane-ble-air PATH.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ble/BleTypes.h"

namespace lumvane::ble::sim {

class SimBleAir {
  public:
    explicit SimBleAir(std::string socketPath);
    ~SimBleAir();
    SimBleAir(const SimBleAir&) = delete;
    SimBleAir& operator=(const SimBleAir&) = delete;

    // Listens and starts the hub's thread; false (errno set) when it cannot listen.
    bool start();
    // Closes every connection and the socket, removes the socket file.
    void stop();

    const std::string& socketPath() const { return path_; }

    // The radio state centrals see (PoweredOn at start). Leaving PoweredOn drops
    // every connection and scan, as switching the adapter off does.
    void setCentralState(CentralState state);
    CentralState centralState() const;

    // How often a peripheral's advertisement reaches centrals that scan with
    // duplicates (100 ms unless set).
    void setAdvertisingInterval(std::chrono::milliseconds interval);

    // Counters for tests and demos.
    size_t peripheralCount() const;
    size_t centralCount() const;
    size_t connectionCount() const;

  private:
    struct State;
    void run();

    const std::string path_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace lumvane::ble::sim
