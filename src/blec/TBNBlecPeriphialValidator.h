#pragma once
// Examines one discovered peripheral at a time: connects, decides from the
// Device Information service whether it is a phone that can run the phone app,
// and where the app's service is present reads the identity the app publishes
// (device id, then auth token or auth response data). What it learns goes into
// the peripheral's known-peripheral record, together with the record's state and
// retry schedule (fail count, next-connect time). The owner forwards the central's
// connection events for the record's peripheral and calls update() once a second;
// update() enforces the connect, processing and disconnect time-outs.
//
// Times are seconds on the validator's Clock (records keep nextConnectTime in the
// same scale; see blecNowSeconds()).
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "blec/TBNBlecPeripheralStore.h"
#include "platform/ble/BleCentral.h"
#include "runtime/Clock.h"

namespace lumvane {

class DispatchQueue;
class TBNBlecCentralManager;
class TBNBlecPeriphialValidator;

// Seconds since the clock's epoch, the scale of the records' nextConnectTime.
double blecNowSeconds(const Clock& clock);

class TBNBlecPeriphialValidatorDelegate {
  public:
    virtual ~TBNBlecPeriphialValidatorDelegate() = default;
    // blecPeriphialValidator:didDisconnectFrom: the run for the record is over and
    // the validator is idle again.
    virtual void blecPeriphialValidatorDidDisconnectFrom(
        TBNBlecPeriphialValidator* validator, const std::shared_ptr<TBNBlecPeripheral>& record) = 0;
    // blecPeriphialValidator:updatePeriphealInfo: the auth token or the auth
    // response data was read into the record.
    virtual void blecPeriphialValidatorUpdatePeriphealInfo(
        TBNBlecPeriphialValidator* validator, const std::shared_ptr<TBNBlecPeripheral>& record) = 0;
    // blecPeriphialValidator:updatePeripheal:fromState:toState: (the validator is
    // null when an owner reports a change it made itself).
    virtual void blecPeriphialValidatorUpdatePeripheal(
        TBNBlecPeriphialValidator* validator, const std::shared_ptr<TBNBlecPeripheral>& record,
        uint64_t fromState, uint64_t toState) = 0;
};

struct TBNBlecPeriphialValidatorOptions {
    // Where found device ids are recorded (setBleId:forDeviceId:); null: the
    // shared store.
    TBNBlecPeripheralStore* peripheralStore = nullptr;
    std::shared_ptr<Clock> clock;  // null: the steady clock
    // Where delegate notifications run, in the order they happened; null: a serial
    // queue of the validator's own.
    std::shared_ptr<DispatchQueue> notifyQueue;
};

class TBNBlecPeriphialValidator : public ble::BleCentralDelegate,
                                  public ble::BlePeripheralDelegate,
                                  public std::enable_shared_from_this<TBNBlecPeriphialValidator> {
  public:
    using Options = TBNBlecPeriphialValidatorOptions;

    // initWithBlecCentralManager:andDelegate:
    static std::shared_ptr<TBNBlecPeriphialValidator> create(
        std::weak_ptr<TBNBlecCentralManager> blecCentralManager,
        std::weak_ptr<TBNBlecPeriphialValidatorDelegate> delegate, Options options = {});

    // Starts a run for the record when idle; ignored while another run goes on.
    void validate(const std::shared_ptr<TBNBlecPeripheral>& record);
    // The watchdog tick.
    void update();
    // Ends the current run at once (disconnecting first when connected).
    void invalidate();

    std::shared_ptr<TBNBlecPeripheral> blecPeripheral() const;
    double connectingTime() const;
    double processingTime() const;
    double disconnectingTime() const;

    // Steps of a run, offered as operations of their own. They expect a current
    // record; the validator's lock is recursive, so owners may call them directly.
    void disconnectFromPeripheral();
    void didFailProcessPeripheral();
    void notifyDidDisconectFromPeripheral();
    void setBlecPeripheralState(uint64_t state);

    // Central events (forwarded by the owner for the record's peripheral).
    void centralManagerDidUpdateState(ble::BleCentral&) override {}
    void centralManagerDidConnectPeripheral(ble::BleCentral&,
                                            const std::shared_ptr<ble::BlePeripheral>&) override;
    void centralManagerDidFailToConnectPeripheral(ble::BleCentral&,
                                                  const std::shared_ptr<ble::BlePeripheral>&,
                                                  const std::optional<ble::BleError>&) override;
    void centralManagerDidDisconnectPeripheral(ble::BleCentral&,
                                               const std::shared_ptr<ble::BlePeripheral>&,
                                               const std::optional<ble::BleError>&) override;

    // Peripheral events (the validator is the peripheral's delegate during a run).
    void peripheralDidDiscoverServices(ble::BlePeripheral&,
                                       const std::optional<ble::BleError>&) override;
    void peripheralDidModifyServices(ble::BlePeripheral&,
                                     const std::vector<std::shared_ptr<ble::BleService>>&) override;
    void peripheralDidDiscoverCharacteristicsForService(
        ble::BlePeripheral&, const std::shared_ptr<ble::BleService>&,
        const std::optional<ble::BleError>&) override;
    void peripheralDidUpdateValueForCharacteristic(ble::BlePeripheral&,
                                                   const std::shared_ptr<ble::BleCharacteristic>&,
                                                   const std::optional<Bytes>&,
                                                   const std::optional<ble::BleError>&) override;
    void peripheralDidWriteValueForCharacteristic(ble::BlePeripheral&,
                                                  const std::shared_ptr<ble::BleCharacteristic>&,
                                                  const std::optional<ble::BleError>&) override;
    void peripheralDidUpdateNotificationStateForCharacteristic(
        ble::BlePeripheral&, const std::shared_ptr<ble::BleCharacteristic>&,
        const std::optional<ble::BleError>&) override;
    void peripheralDidUpdateName(ble::BlePeripheral&) override;
    void peripheralDidUpdateRSSI(ble::BlePeripheral&, int,
                                 const std::optional<ble::BleError>&) override;

    // Service and characteristic identifiers the validator looks at.
    static constexpr const char* kDeviceInformationService = "180A";
    static constexpr const char* kModelNumberCharacteristic = "2A24";
    static constexpr const char* kAppService = "05550D60-F72F-11E5-97D7-0002A5D5C51B";
    static constexpr const char* kDeviceIdCharacteristic = "05550D60-A000-11E5-97D7-0002A5D5C51B";
    static constexpr const char* kAuthTokenCharacteristic = "05550D60-A061-11E5-97D7-0002A5D5C51B";
    static constexpr const char* kAuthResponseDataCharacteristic =
        "05550D60-A060-11E5-97D7-0002A5D5C51B";

    // Time-outs (seconds) and the retry schedule.
    static constexpr double kConnectTimeoutUnknown = 4;
    static constexpr double kConnectTimeout = 10;
    static constexpr double kProcessingTimeout = 10;
    static constexpr double kDisconnectTimeout = 2;
    static constexpr double kRetryAfterFailure = 5;
    static constexpr double kRetryAfterLimit = 30;
    static constexpr double kRetryAfterLimitUnknown = 60;
    static constexpr double kRetryAfterDisconnectError = 1;
    static constexpr double kRetryAfterDisconnect = 10;

    struct Token {};
    TBNBlecPeriphialValidator(Token, std::weak_ptr<TBNBlecCentralManager> blecCentralManager,
                              std::weak_ptr<TBNBlecPeriphialValidatorDelegate> delegate,
                              Options options);

  private:
    double now() const;
    std::shared_ptr<ble::BlePeripheral> platformPeripheral() const;
    void deliver(std::function<void(TBNBlecPeriphialValidatorDelegate&)> call);
    bool isCurrent(const ble::BlePeripheral& peripheral) const;
    void readFirst(ble::BlePeripheral& peripheral, const std::shared_ptr<ble::BleService>& service,
                   std::initializer_list<const char*> characteristics);

    const std::weak_ptr<TBNBlecCentralManager> blecCentralManager_;
    const std::weak_ptr<TBNBlecPeriphialValidatorDelegate> delegate_;
    TBNBlecPeripheralStore* const store_;
    const std::shared_ptr<Clock> clock_;
    const std::shared_ptr<DispatchQueue> notifyQueue_;

    mutable std::recursive_mutex lock_;
    std::shared_ptr<TBNBlecPeripheral> blecPeripheral_;
    double connectingTime_ = 0;
    double processingTime_ = 0;
    double disconnectingTime_ = 0;
    // The next-connect time the failure step set during the current run (0: none).
    double failureNextConnectTime_ = 0;
};

}  // namespace lumvane
