#pragma once
// Shared pieces of the simulated-radio tests: socket paths, an event recorder
// that waits for what it expects, and a central delegate that records.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ble/BleCentral.h"
#include "runtime/DispatchQueue.h"

namespace lumvane::blectest {

inline std::string tempSocketPath(const char* tag) {
    static std::atomic<int> counter{0};
    return "/tmp/lumvane-blec-" + std::string(tag) + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + ".sock";
}

// Lines of what happened, with a wait for a line (events come from other threads).
class Events {
  public:
    void add(std::string line) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(std::move(line));
        }
        cv_.notify_all();
    }

    // Waits (up to 10 s of real time: socket traffic, not a time-out under test)
    // until a line equal to `line` has been added since `from`.
    bool waitFor(const std::string& line, size_t from = 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] {
            for (size_t i = from; i < lines_.size(); ++i) {
                if (lines_[i] == line) return true;
            }
            return false;
        });
    }

    // Waits up to 10 s for `pred`, which may read this object (it runs unlocked,
    // again after every added line and at least every 20 ms).
    bool waitUntil(const std::function<bool()>& pred) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            if (pred()) return true;
            std::unique_lock<std::mutex> lock(mutex_);
            if (std::chrono::steady_clock::now() >= deadline) return false;
            cv_.wait_for(lock, std::chrono::milliseconds(20));
        }
    }

    size_t size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_.size();
    }

    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

    size_t count(const std::string& line) const {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t n = 0;
        for (const auto& l : lines_) n += l == line;
        return n;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> lines_;
};

inline std::string hex(const Bytes& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t x : b) {
        s.push_back(digits[x >> 4]);
        s.push_back(digits[x & 15]);
    }
    return s;
}

// Records every central and peripheral event as a line and checks the queue.
class Recorder : public ble::BleCentralDelegate, public ble::BlePeripheralDelegate {
  public:
    explicit Recorder(std::string queueLabel) : label_(std::move(queueLabel)) {}

    Events events;
    std::atomic<int> offQueue{0};

    std::shared_ptr<ble::BlePeripheral> peripheral(const std::string& id) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = found_.find(id);
        return it == found_.end() ? nullptr : it->second;
    }
    ble::AdvertisementData lastAdvertisement(const std::string& id) {
        std::lock_guard<std::mutex> lock(mutex_);
        return adverts_[id];
    }

    void centralManagerDidUpdateState(ble::BleCentral& c) override {
        check();
        events.add(std::string("state ") + ble::centralStateName(c.state()));
    }
    void centralManagerDidDiscoverPeripheral(ble::BleCentral&,
                                             const std::shared_ptr<ble::BlePeripheral>& p,
                                             const ble::AdvertisementData& adv, int) override {
        check();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            found_[p->identifier()] = p;
            adverts_[p->identifier()] = adv;
        }
        events.add("discover " + p->identifier());
    }
    void centralManagerDidConnectPeripheral(ble::BleCentral&,
                                            const std::shared_ptr<ble::BlePeripheral>& p) override {
        check();
        events.add("connect " + p->identifier());
    }
    void centralManagerDidFailToConnectPeripheral(ble::BleCentral&,
                                                  const std::shared_ptr<ble::BlePeripheral>& p,
                                                  const std::optional<ble::BleError>& e) override {
        check();
        events.add("fail " + p->identifier() + (e ? " error" : ""));
    }
    void centralManagerDidDisconnectPeripheral(ble::BleCentral&,
                                               const std::shared_ptr<ble::BlePeripheral>& p,
                                               const std::optional<ble::BleError>& e) override {
        check();
        events.add("disconnect " + p->identifier() + (e ? " error" : ""));
    }

    void peripheralDidDiscoverServices(ble::BlePeripheral& p,
                                       const std::optional<ble::BleError>& e) override {
        check();
        std::string line = "services";
        for (const auto& s : p.services()) line += " " + s->uuid();
        events.add(e ? "services error" : line);
    }
    void peripheralDidModifyServices(
        ble::BlePeripheral&, const std::vector<std::shared_ptr<ble::BleService>>& gone) override {
        check();
        std::string line = "modified";
        for (const auto& s : gone) line += " " + s->uuid();
        events.add(line);
    }
    void peripheralDidDiscoverCharacteristicsForService(
        ble::BlePeripheral&, const std::shared_ptr<ble::BleService>& s,
        const std::optional<ble::BleError>& e) override {
        check();
        std::string line = "characteristics " + s->uuid();
        for (const auto& c : s->characteristics()) line += " " + c->uuid();
        events.add(e ? "characteristics error" : line);
    }
    void peripheralDidUpdateValueForCharacteristic(ble::BlePeripheral&,
                                                   const std::shared_ptr<ble::BleCharacteristic>& c,
                                                   const std::optional<Bytes>& value,
                                                   const std::optional<ble::BleError>& e) override {
        check();
        events.add("value " + c->uuid() + " " + (e ? "error" : hex(value.value_or(Bytes{}))));
    }
    void peripheralDidWriteValueForCharacteristic(ble::BlePeripheral&,
                                                  const std::shared_ptr<ble::BleCharacteristic>& c,
                                                  const std::optional<ble::BleError>& e) override {
        check();
        events.add("written " + c->uuid() + (e ? " error" : ""));
    }
    void peripheralDidUpdateNotificationStateForCharacteristic(
        ble::BlePeripheral&, const std::shared_ptr<ble::BleCharacteristic>& c,
        const std::optional<ble::BleError>& e) override {
        check();
        events.add("notifying " + c->uuid() + (e ? " error" : c->isNotifying() ? " on" : " off"));
    }

  private:
    void check() {
        if (DispatchQueue::currentLabel() != label_) ++offQueue;
    }

    const std::string label_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<ble::BlePeripheral>> found_;
    std::map<std::string, ble::AdvertisementData> adverts_;
};

}  // namespace lumvane::blectest
