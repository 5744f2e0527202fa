#pragma once
// Looks for phones that run the phone app without knowing them beforehand: its
// own central scans for every connectable advertiser without manufacturer data,
// keeps a known-peripheral record for each, queues those worth a closer look and
// hands them one at a time to its validator (TBNBlecPeriphialValidator), which
// connects, checks the model and reads the device id. The delegate hears when
// exploring starts or stops (and every Bluetooth change while not exploring),
// and when a phone is found, updated or lost.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "blec/TBNBlecCentralManager.h"
#include "blec/TBNBlecPeripheralStore.h"
#include "blec/TBNBlecPeriphialValidator.h"
#include "platform/ble/BleCentral.h"
#include "runtime/Clock.h"

namespace lumvane {

class DispatchQueue;
class TBNBlecExplorer;

// Every notification runs asynchronously on the explorer's delegate queue, in the
// order the events happened (a find is never overtaken by the loss that follows).
class TBNBlecExplorerDelegate {
  public:
    virtual ~TBNBlecExplorerDelegate() = default;
    // blecExplorer:onStateChange: exploring started (true) or stopped, or Bluetooth
    // changed while exploring was not asked for (false).
    virtual void blecExplorerOnStateChange(TBNBlecExplorer& explorer, bool on) = 0;
    // blecExplorer:onDidFindDevice: a record entered state found.
    virtual void blecExplorerOnDidFindDevice(TBNBlecExplorer& explorer,
                                             const std::optional<std::string>& deviceId) = 0;
    // blecExplorer:onDidUpdateDevice: a record's auth token or auth response data
    // was read.
    virtual void blecExplorerOnDidUpdateDevice(TBNBlecExplorer& explorer,
                                               const std::optional<std::string>& deviceId) = 0;
    // blecExplorer:onDidLostDevice: a record left state found.
    virtual void blecExplorerOnDidLostDevice(TBNBlecExplorer& explorer,
                                             const std::optional<std::string>& deviceId) = 0;
};

struct TBNBlecExplorerOptions {
    // Makes the explorer's central; empty: the program's central.
    ble::BleCentralFactory centralFactory;
    TBNBlecPeripheralStore* peripheralStore = nullptr;  // null: the shared store
    std::shared_ptr<Clock> clock;                       // null: the steady clock
    // Where notifications run; null: a serial queue of the explorer's own. A
    // concurrent queue here gives up their order.
    std::shared_ptr<DispatchQueue> delegateQueue;
    std::string queueLabel = "com.tobrin.ios.centralManagerExpQueue";
};

class TBNBlecExplorer : public ble::BleCentralDelegate,
                        public TBNBlecPeriphialValidatorDelegate,
                        public std::enable_shared_from_this<TBNBlecExplorer> {
  public:
    using Options = TBNBlecExplorerOptions;

    // initWithDelegate: an idle explorer whose central exists (and reports its
    // state) from now on.
    static std::shared_ptr<TBNBlecExplorer> create(std::weak_ptr<TBNBlecExplorerDelegate> delegate,
                                                   Options options = {});
    ~TBNBlecExplorer() override;

    // Asks for exploring; starts at once when Bluetooth is on, else when it comes on.
    void start();
    // Revokes exploring, stops it if running, demotes found records, empties the queue.
    void stop();

    bool starting() const;
    bool explorering() const;
    std::vector<std::string> connectQueue() const;
    std::shared_ptr<TBNBlecCentralManager> blecCentralManager() const { return central_; }
    std::shared_ptr<TBNBlecPeriphialValidator> periphialValidator() const { return validator_; }

    // Steps, also offered as operations (take their locks themselves).
    void startExplorer();
    void stopExplorer();
    void validateNextAvailablePeripheral();
    void setBlecPeripheralState(uint64_t state, const std::shared_ptr<TBNBlecPeripheral>& record);

    // Central events.
    void centralManagerDidUpdateState(ble::BleCentral& central) override;
    void centralManagerDidDiscoverPeripheral(ble::BleCentral& central,
                                             const std::shared_ptr<ble::BlePeripheral>& peripheral,
                                             const ble::AdvertisementData& ad, int rssi) override;
    void centralManagerDidConnectPeripheral(
        ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral) override;
    void centralManagerDidFailToConnectPeripheral(
        ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral,
        const std::optional<ble::BleError>& error) override;
    void centralManagerDidDisconnectPeripheral(
        ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral,
        const std::optional<ble::BleError>& error) override;

    // Validator reports.
    void blecPeriphialValidatorDidDisconnectFrom(
        TBNBlecPeriphialValidator* validator,
        const std::shared_ptr<TBNBlecPeripheral>& record) override;
    void blecPeriphialValidatorUpdatePeriphealInfo(
        TBNBlecPeriphialValidator* validator,
        const std::shared_ptr<TBNBlecPeripheral>& record) override;
    void blecPeriphialValidatorUpdatePeripheal(TBNBlecPeriphialValidator* validator,
                                               const std::shared_ptr<TBNBlecPeripheral>& record,
                                               uint64_t fromState, uint64_t toState) override;

    static constexpr double kTickInterval = 1.0;

    struct Token {};
    TBNBlecExplorer(Token, std::weak_ptr<TBNBlecExplorerDelegate> delegate, Options options);

  private:
    void deliver(std::function<void(TBNBlecExplorerDelegate&, TBNBlecExplorer&)> call);
    void queueOrValidateLocked(const std::shared_ptr<TBNBlecPeripheral>& record,
                               const std::shared_ptr<ble::BlePeripheral>& peripheral,
                               const std::string& queuedText);
    bool queuedLocked(const std::string& bleId) const;
    bool poweredOn() const;

    const std::weak_ptr<TBNBlecExplorerDelegate> delegate_;
    Options options_;
    TBNBlecPeripheralStore* const store_;
    const std::shared_ptr<Clock> clock_;
    const std::shared_ptr<DispatchQueue> delegateQueue_;
    std::shared_ptr<TBNBlecCentralManager> central_;
    std::shared_ptr<TBNBlecPeriphialValidator> validator_;

    mutable std::recursive_mutex explorerLock_;  // start, stop, Bluetooth state
    mutable std::recursive_mutex wrapperLock_;   // the scan and the tick's start
    mutable std::recursive_mutex queueLock_;     // the connect queue and what uses it
    bool starting_ = false;
    bool explorering_ = false;
    uint64_t tickGeneration_ = 0;
    std::vector<std::string> connectQueue_;
};

}  // namespace lumvane
