#pragma once
// An in-process central and peripheral for the request-queue tests: the
// peripheral offers the phone service with the characteristics a test asks for
// and records every write; nothing travels anywhere.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "blec/BLECCharacteristics.h"
#include "blec/BLECMutableThriftFactoryTransport.h"
#include "blec/TBNBlecCentralManager.h"
#include "platform/ble/BleCentral.h"
#include "runtime/DispatchQueue.h"

namespace lumvane::linktest {

class FakePeripheral : public ble::BlePeripheral {
  public:
    explicit FakePeripheral(std::string id) : BlePeripheral(std::move(id)) {}

    void discoverServices(const std::vector<std::string>&) override {}
    void discoverCharacteristics(const std::vector<std::string>&,
                                 const std::shared_ptr<ble::BleService>&) override {}
    void readValue(const std::shared_ptr<ble::BleCharacteristic>& c) override {
        std::lock_guard<std::mutex> lock(mutex_);
        reads.push_back(c->uuid());
    }
    bool writeValue(const Bytes& value, const std::shared_ptr<ble::BleCharacteristic>& c,
                    ble::WriteType) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failWrites) return false;
        writes.emplace_back(c->uuid(), value);
        return true;
    }
    void setNotifyValue(bool, const std::shared_ptr<ble::BleCharacteristic>& c) override {
        std::lock_guard<std::mutex> lock(mutex_);
        subscribes.push_back(c->uuid());
    }
    size_t maximumWriteValueLength(ble::WriteType) const override { return maxWrite; }

    // Publishes the phone service with the characteristics of these codes.
    void offer(const std::vector<std::string>& codes) {
        auto service = std::make_shared<ble::BleService>(
            blec::kServiceUuid, std::weak_ptr<ble::BlePeripheral>(shared_from_this()));
        std::vector<std::shared_ptr<ble::BleCharacteristic>> list;
        for (const auto& code : codes) {
            list.push_back(std::make_shared<ble::BleCharacteristic>(
                blec::characteristicUuid(code.c_str()),
                ble::CharacteristicProperty::Read | ble::CharacteristicProperty::Write |
                    ble::CharacteristicProperty::WriteWithoutResponse |
                    ble::CharacteristicProperty::Notify,
                service));
        }
        service->setCharacteristics(list);
        setServices({service});
    }

    std::shared_ptr<ble::BleCharacteristic> characteristic(const char* code) const {
        auto s = serviceByServiceId(blec::kServiceUuid);
        return s ? s->characteristicByCharacteristicId(blec::characteristicUuid(code)) : nullptr;
    }

    std::vector<std::pair<std::string, Bytes>> writesTo(const char* code) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::pair<std::string, Bytes>> out;
        for (const auto& w : writes) {
            if (w.first == blec::characteristicUuid(code)) out.push_back(w);
        }
        return out;
    }
    std::vector<std::string> readsCopy() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return reads;
    }
    std::vector<std::string> subscribesCopy() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return subscribes;
    }

    mutable std::mutex mutex_;
    bool failWrites = false;
    size_t maxWrite = 20;
    std::vector<std::pair<std::string, Bytes>> writes;
    std::vector<std::string> reads;
    std::vector<std::string> subscribes;
};

class FakeCentral : public ble::BleCentral {
  public:
    FakeCentral(std::weak_ptr<ble::BleCentralDelegate> d, std::shared_ptr<DispatchQueue> q)
        : BleCentral(std::move(d), std::move(q)) {}
    ble::CentralState state() const override { return ble::CentralState::PoweredOn; }
    void scanForPeripherals(const std::vector<std::string>&, bool) override {}
    void stopScan() override {}
    bool isScanning() const override { return false; }
    void connect(const std::shared_ptr<ble::BlePeripheral>& p, bool) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++connects;
        p->setState(ble::PeripheralState::Connecting);
    }
    void cancelPeripheralConnection(const std::shared_ptr<ble::BlePeripheral>& p) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++cancels;
        p->setState(ble::PeripheralState::Disconnecting);
    }
    std::vector<std::shared_ptr<ble::BlePeripheral>> retrievePeripherals(
        const std::vector<std::string>& ids) override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::shared_ptr<ble::BlePeripheral>> out;
        for (const auto& id : ids) {
            if (peripheral && peripheral->identifier() == id) out.push_back(peripheral);
        }
        return out;
    }
    int cancelCount() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return cancels;
    }

    mutable std::mutex mutex_;
    std::shared_ptr<FakePeripheral> peripheral;
    int connects = 0;
    int cancels = 0;
};

// A connection over a fake peripheral offering `codes`, on a manual clock.
struct FakeLink {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<FakePeripheral> peripheral =
        std::make_shared<FakePeripheral>("AA:BB:CC:00:00:01");
    std::shared_ptr<FakeCentral> central;
    std::shared_ptr<TBNBlecCentralManager> manager;
    std::shared_ptr<BLECPeripheral> record = std::make_shared<BLECPeripheral>();
    std::shared_ptr<BLECMutableThriftFactoryTransport> connection;

    explicit FakeLink(const std::vector<std::string>& codes,
                      std::weak_ptr<BLECMutableThriftTransportFactoryDelegate> mDelegate = {}) {
        peripheral->offer(codes);
        peripheral->setState(ble::PeripheralState::Connected);
        manager = std::make_shared<TBNBlecCentralManager>(
            std::weak_ptr<ble::BleCentralDelegate>(), "link-test",
            [this](std::weak_ptr<ble::BleCentralDelegate> d, std::shared_ptr<DispatchQueue> q,
                   const ble::BleCentralOptions&) {
                central = std::make_shared<FakeCentral>(d, q);
                central->peripheral = peripheral;
                return central;
            });
        record->setBleId(peripheral->identifier());
        connection = BLECMutableThriftFactoryTransport::create("", "", record, nullptr, manager,
                                                               mDelegate, clock);
        connection->setChunkPause(0);
    }
    ~FakeLink() { clock->cancelAll(); }
};

inline std::vector<std::string> allCodes(bool withDelivered = true) {
    std::vector<std::string> c = {"A000", "A001", "A002", "A003", "A010", "A011", "A012",
                                  "A020", "A021", "A030", "A040", "A050", "A051", "A060"};
    if (withDelivered) c.push_back("A041");
    return c;
}

}  // namespace lumvane::linktest
