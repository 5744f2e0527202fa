#include "blec/BLECThriftTransportFactory.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "blec/BLECCharacteristics.h"
#include "blec/BLECLog.h"
#include "blec/BLECThriftTransport.h"
#include "blec/TBNBlecCentralManager.h"
#include "runtime/DispatchQueue.h"
#include "runtime/TBNUtil.h"

namespace lumvane {

namespace {
constexpr const char* kTags = "core|thrift|blec";

void logLine(blec::LogLevel level, const std::string& text) {
    blec::log(level, kTags, text);
}

std::string valueLine(const char* name, uint64_t value) {
    return std::string("<: ") + name + " = " + std::to_string(value) + " :>";
}

void runCompletions(const std::vector<std::shared_ptr<BLECRequest>>& requests) {
    for (const auto& r : requests) r->sendResponse(std::nullopt);
}
}  // namespace

// ---- BLECRequest -------------------------------------------------------------

std::shared_ptr<BLECRequest> BLECRequest::requestWithData(Bytes data, CompletionHandler handler) {
    return std::make_shared<BLECRequest>(std::move(data), std::move(handler));
}

BLECRequest::BLECRequest(Bytes data, CompletionHandler handler)
    : data_(std::move(data)), completionHandler_(std::move(handler)) {}

std::optional<Clock::TimePoint> BLECRequest::timeout() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return timeout_;
}

bool BLECRequest::isDelivered() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return isDelivered_;
}

void BLECRequest::sent(Clock::TimePoint now) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    timeout_ = now;
}

void BLECRequest::delivered() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    isDelivered_ = true;
}

double BLECRequest::undeliveredLimit(size_t length) {
    return double(std::max<size_t>(length / 250, 1)) * 10.0;
}

bool BLECRequest::check(Clock::TimePoint now) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    // A request in the map has always been written; one without a write time
    // cannot be judged and is left alone.
    if (!timeout_) return false;
    const double elapsed = std::chrono::duration<double>(now - *timeout_).count();
    return elapsed > (isDelivered_ ? kDeliveredLimit : undeliveredLimit(data_.size()));
}

void BLECRequest::sendResponse(std::optional<Bytes> response) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (answered_) return;
    answered_ = true;
    auto handler = std::move(completionHandler_);
    completionHandler_ = nullptr;
    if (handler) handler(std::move(response));
}

// ---- BLECThriftTransportFactory: set-up ---------------------------------------

BLECThriftTransportFactory::BLECThriftTransportFactory(
    std::shared_ptr<BLECPeripheral> blecPeripheral,
    std::shared_ptr<TBNBlecCentralManager> blecCentralManager,
    std::shared_ptr<BLECMutableDeviceInfo> deviceInfo, std::shared_ptr<Clock> clock)
    : clock_(clock ? std::move(clock) : Clock::steady()),
      blecCentralManager_(blecCentralManager),
      blecPeripheral_(blecPeripheral),
      bleId_(blecPeripheral ? blecPeripheral->bleId() : std::optional<std::string>()),
      mDeviceInfo_(deviceInfo ? std::move(deviceInfo) : std::make_shared<BLECMutableDeviceInfo>()) {
}

BLECThriftTransportFactory::~BLECThriftTransportFactory() {
    std::lock_guard<std::mutex> lock(watchdogMutex_);
    if (watchdogCall_) clock_->cancel(watchdogCall_);
}

std::shared_ptr<BLECThriftTransportFactoryDelegate> BLECThriftTransportFactory::delegate() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return delegate_.lock();
}

void BLECThriftTransportFactory::setDelegate(
    std::weak_ptr<BLECThriftTransportFactoryDelegate> delegate) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<BLECThriftTransport> BLECThriftTransportFactory::transport() {
    return std::make_shared<BLECThriftTransport>(weak_from_this());
}

std::shared_ptr<ble::BlePeripheral> BLECThriftTransportFactory::systemPeripheral() const {
    auto central = blecCentralManager_.lock();
    if (!central || !bleId_) return nullptr;
    return central->periphealByBleId(bleId_);
}

void BLECThriftTransportFactory::setChunkPause(double seconds) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    chunkPause_ = seconds;
}

uint16_t BLECThriftTransportFactory::nextRequestId() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return nextRequestId_;
}
void BLECThriftTransportFactory::setNextRequestId(uint16_t id) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    nextRequestId_ = id;
}
int BLECThriftTransportFactory::requestTimeoutCount() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return requestTimeoutCount_;
}
size_t BLECThriftTransportFactory::waitingRequestCount() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return requestsQueue_.size();
}
size_t BLECThriftTransportFactory::requestsInProcessCount() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return requestsInProcesses_.size();
}
bool BLECThriftTransportFactory::hasCurrentRequest() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return currentRequest_ != nullptr;
}

// ---- queueing and writing ------------------------------------------------------

void BLECThriftTransportFactory::sendRequest(const Bytes& data, CompletionHandler completion) {
    logLine(blec::LogLevel::Debug, valueLine("data.length", data.size()));
    auto request = BLECRequest::requestWithData(data, std::move(completion));
    if (timing::enabled()) {
        // Handed to the link: from here on it waits for the link (its lock included).
        request->setTimingTag(timing::currentTag());
        timing::mark(timing::Mark::LinkQueued, request->timingTag());
    }
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        requestsQueue_.push_back(std::move(request));
        trySendNextRequest();
    }
    startWatchdog();
}

void BLECThriftTransportFactory::trySendNextRequest() {
    std::vector<std::shared_ptr<BLECRequest>> failed;
    {
        std::unique_lock<std::recursive_mutex> lock(lock_);
        [&] {
            if (currentRequest_ || requestsQueue_.empty()) return;
            if (!blecPeripheral_.lock()) {
                // The phone record (which owns this connection) is gone: nothing
                // will ever write these requests, so they fail now rather than
                // wait for a drop that cannot come.
                failed.swap(requestsQueue_);
                return;
            }
            logLine(blec::LogLevel::Verbose, valueLine("self.nextRequestId", nextRequestId_));
            auto peripheral = systemPeripheral();
            if (!peripheral) {
                logLine(blec::LogLevel::Error, "trySendNextRequest: peripheral == nil");
                disconnectFromCurrentPeripheral();
                return;
            }
            auto service = peripheral->serviceByServiceId(blec::kServiceUuid);
            if (!service) {
                logLine(blec::LogLevel::Error, "trySendNextRequest: service == nil");
                disconnectFromCurrentPeripheral();
                return;
            }
            auto communicate = service->characteristicByCharacteristicId(
                blec::characteristicUuid(blec::code::kCommunicate));
            if (!communicate) {
                logLine(blec::LogLevel::Error,
                        "trySendNextRequest: communicateCharacteristic == nil");
                disconnectFromCurrentPeripheral();
                return;
            }
            const uint64_t versionCode =
                TBNUtil::versionCode(mDeviceInfo_->appVersion().value_or(""));
            auto request = requestsQueue_.back();
            requestsQueue_.pop_back();
            const uint16_t id = nextRequestId_;
            timing::mark(timing::Mark::LinkSplit, request->timingTag());
            currentRequest_ = request;
            requestsInProcesses_[id] = request;

            std::optional<Bytes> key;
            if (auto d = delegate_.lock()) key = d->encryptKeyForBlecThriftTransportFactory(*this);
            const auto type =
                communicate->hasProperty(ble::CharacteristicProperty::WriteWithoutResponse)
                    ? ble::WriteType::WithoutResponse
                    : ble::WriteType::WithResponse;
            const uint16_t chunkSize =
                uint16_t(std::min<size_t>(peripheral->maximumWriteValueLength(type), 0xFFFF));
            auto chunks = dataManager_.splitDataToChunks(request->data(), id, chunkSize, key,
                                                         versionCode > kCompressionVersionCode);
            logLine(blec::LogLevel::Verbose, valueLine("chunks.count", chunks.size()));

            // An empty list means the message cannot be cut at this chunk size.
            if (!chunks.empty()) timing::mark(timing::Mark::LinkWritten, request->timingTag());
            if (!chunks.empty() && writeChunks(chunks, communicate)) {
                request->sent(clock_->now());
                logLine(blec::LogLevel::Info,
                        "send request: id = " + std::to_string(id) +
                            ",  data.len = " + std::to_string(request->data().size()));
                if (!service->characteristicByCharacteristicId(
                        blec::characteristicUuid(blec::code::kCommunicateDeliveredId))) {
                    logLine(blec::LogLevel::Info,
                            "delivered (auto) request: id = " + std::to_string(id));
                    request->delivered();
                    currentRequest_ = nullptr;
                }
            } else {
                currentRequest_ = nullptr;
                requestsInProcesses_.erase(id);
                failed.push_back(request);
                logLine(blec::LogLevel::Info, "fail send request: id = " + std::to_string(id));
            }
            nextRequestId_ = uint16_t(nextRequestId_ + 1);
        }();
        if (!requestsInProcesses_.empty()) {
            startWatchdog();
        } else {
            cancelWatchdog();
        }
    }
    // Completions run outside the connection's lock, so a completion that calls
    // back into the connection cannot deadlock it.
    runCompletions(failed);
}

bool BLECThriftTransportFactory::writeChunks(
    const std::vector<Bytes>& chunks,
    const std::shared_ptr<ble::BleCharacteristic>& characteristic) {
    auto peripheral = systemPeripheral();
    if (!peripheral) {
        logLine(blec::LogLevel::Error, "peripheral == nil");
        return false;
    }
    if (!characteristic) return false;
    const auto type = characteristic->hasProperty(ble::CharacteristicProperty::WriteWithoutResponse)
                          ? ble::WriteType::WithoutResponse
                          : ble::WriteType::WithResponse;
    double pause;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        pause = chunkPause_;
    }
    try {
        for (const auto& chunk : chunks) {
            // The layer refuses a write it cannot hand on (not connected, too
            // long); such a request has not reached the phone.
            if (!peripheral->writeValue(chunk, characteristic, type)) return false;
            if (pause > 0) std::this_thread::sleep_for(std::chrono::duration<double>(pause));
        }
    } catch (const std::exception& e) {
        logLine(blec::LogLevel::Error,
                std::string("exception = '") + e.what() + "'\n*** First throw call stack:\n");
        return false;
    }
    return true;
}

bool BLECThriftTransportFactory::writeData(
    const Bytes& data, const std::shared_ptr<ble::BleCharacteristic>& characteristic) {
    auto peripheral = systemPeripheral();
    if (!peripheral) {
        logLine(blec::LogLevel::Error, "peripheral == nil");
        return false;
    }
    if (!characteristic) return false;
    const auto type = characteristic->hasProperty(ble::CharacteristicProperty::WriteWithoutResponse)
                          ? ble::WriteType::WithoutResponse
                          : ble::WriteType::WithResponse;
    try {
        return peripheral->writeValue(data, characteristic, type);
    } catch (const std::exception& e) {
        logLine(blec::LogLevel::Error,
                std::string("exception = '") + e.what() + "'\n*** First throw call stack:\n");
        return false;
    }
}

// ---- acknowledgements and replies ----------------------------------------------

void BLECThriftTransportFactory::handleDeliveredValue(const Bytes& value) {
    const uint32_t deliveredRequestId = blec::decodeUInt32(value);
    logLine(blec::LogLevel::Verbose, valueLine("deliveredRequestId", deliveredRequestId));
    const uint16_t id = uint16_t(deliveredRequestId & 0xFFFF);
    std::lock_guard<std::recursive_mutex> lock(lock_);
    auto it = requestsInProcesses_.find(id);
    if (it == requestsInProcesses_.end()) return;
    logLine(blec::LogLevel::Info, "delivered request: id = " + std::to_string(id));
    it->second->delivered();
    if (currentRequest_ == it->second) currentRequest_ = nullptr;
    trySendNextRequest();
}

void BLECThriftTransportFactory::handleReplyChunk(const Bytes& chunk, bool secondChannel) {
    std::weak_ptr<BLECThriftTransportFactory> weak = weak_from_this();
    auto keys = [weak]() -> std::optional<std::vector<Bytes>> {
        auto self = weak.lock();
        if (!self) return std::nullopt;
        auto d = self->delegate();
        if (!d) return std::nullopt;
        return d->decryptKeysForBlecThriftTransportFactory(*self);
    };
    auto completion = [weak](uint16_t requestId, std::optional<Bytes> message, bool, bool,
                             std::optional<Bytes>, BLECDataManager::Central) {
        Bytes reply = message ? std::move(*message) : Bytes{};
        // Never under the data manager's lock.
        DispatchQueue::global()->async([weak, requestId, reply = std::move(reply)]() mutable {
            if (auto self = weak.lock()) self->handleReply(requestId, std::move(reply));
        });
    };
    (secondChannel ? dataManager2Chnl_ : dataManager_).proccessChunk(chunk, keys, completion);
}

void BLECThriftTransportFactory::handleReply(uint16_t requestId, Bytes reply) {
    logLine(blec::LogLevel::Info, valueLine("requestId", requestId));
    if (auto peripheral = systemPeripheral()) {
        if (auto service = peripheral->serviceByServiceId(blec::kServiceUuid)) {
            if (auto delivered = service->characteristicByCharacteristicId(
                    blec::characteristicUuid(blec::code::kCommunicateDeliveredId))) {
                writeData(blec::encodeUInt32(requestId), delivered);
            }
        }
    }
    logLine(blec::LogLevel::Info, "received response: id = " + std::to_string(requestId) +
                                      ",  data.len = " + std::to_string(reply.size()));
    std::shared_ptr<BLECRequest> request;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        auto it = requestsInProcesses_.find(requestId);
        if (it != requestsInProcesses_.end()) {
            request = it->second;
            requestsInProcesses_.erase(it);
        }
        requestTimeoutCount_ = 0;
        if (request && currentRequest_ == request) currentRequest_ = nullptr;
        trySendNextRequest();
    }
    // Handed back to the caller: the wait for the link's lock since the reply was whole
    // (another call's chunks being paced out) is the link's.
    if (request && request->timingTag())
        timing::mark(timing::Mark::LinkReply, request->timingTag());
    if (request) request->sendResponse(std::move(reply));
}

// ---- watchdog --------------------------------------------------------------------

bool BLECThriftTransportFactory::watchdogTick() {
    std::vector<std::shared_ptr<BLECRequest>> failed;
    bool again = true;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        const auto now = clock_->now();
        std::vector<uint16_t> timedOut;
        for (const auto& [id, request] : requestsInProcesses_) {
            if (!request->check(now)) continue;
            timedOut.push_back(id);
            failed.push_back(request);
            logLine(blec::LogLevel::Info, "timeout request: id = " + std::to_string(id));
            if (currentRequest_ == request) currentRequest_ = nullptr;
            ++requestTimeoutCount_;
        }
        for (auto id : timedOut) requestsInProcesses_.erase(id);
        // Several requests timing out in one tick can carry the count past the
        // limit; it still counts as reached.
        if (requestTimeoutCount_ >= kWatchdogTimeoutCount) {
            logLine(blec::LogLevel::Info, "run watchdog timeout request");
            for (auto& [id, request] : requestsInProcesses_) failed.push_back(request);
            requestsInProcesses_.clear();
            currentRequest_ = nullptr;
            std::weak_ptr<BLECThriftTransportFactory> weak = weak_from_this();
            DispatchQueue::global()->async([weak] {
                auto self = weak.lock();
                if (!self) return;
                {
                    std::lock_guard<std::recursive_mutex> l(self->lock_);
                    self->requestTimeoutCount_ = 0;
                }
                self->disconnectFromCurrentPeripheral();
            });
            again = false;
        } else {
            trySendNextRequest();
        }
    }
    runCompletions(failed);
    return again;
}

bool BLECThriftTransportFactory::watchdogRunning() const {
    std::lock_guard<std::mutex> lock(watchdogMutex_);
    return watchdogRunning_;
}

void BLECThriftTransportFactory::startWatchdog() {
    std::lock_guard<std::mutex> lock(watchdogMutex_);
    if (watchdogRunning_) return;
    watchdogRunning_ = true;
    armWatchdogLocked();
}

void BLECThriftTransportFactory::cancelWatchdog() {
    std::lock_guard<std::mutex> lock(watchdogMutex_);
    watchdogRunning_ = false;
    ++watchdogGeneration_;
    if (watchdogCall_) clock_->cancel(watchdogCall_);
    watchdogCall_ = 0;
}

void BLECThriftTransportFactory::armWatchdogLocked() {
    const uint64_t generation = ++watchdogGeneration_;
    std::weak_ptr<BLECThriftTransportFactory> weak = weak_from_this();
    watchdogCall_ = clock_->callAt(clock_->deadlineAfter(1.0), [weak, generation] {
        DispatchQueue::global()->async([weak, generation] {
            if (auto self = weak.lock()) self->watchdogFired(generation);
        });
    });
}

void BLECThriftTransportFactory::watchdogFired(uint64_t generation) {
    {
        std::lock_guard<std::mutex> lock(watchdogMutex_);
        if (generation != watchdogGeneration_) return;  // cancelled or re-armed meanwhile
        watchdogCall_ = 0;
    }
    const bool again = watchdogTick();
    std::lock_guard<std::mutex> lock(watchdogMutex_);
    if (again) {
        // A tick that goes on schedules its next run even when its own write
        // attempt cancelled the timer.
        if (!watchdogCall_) {
            watchdogRunning_ = true;
            armWatchdogLocked();
        }
    } else {
        watchdogRunning_ = false;
        ++watchdogGeneration_;
        if (watchdogCall_) clock_->cancel(watchdogCall_);
        watchdogCall_ = 0;
    }
}

// ---- dropping ----------------------------------------------------------------------

void BLECThriftTransportFactory::failAllRequests() {
    std::vector<std::shared_ptr<BLECRequest>> failed;
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (currentRequest_) failed.push_back(currentRequest_);
        currentRequest_ = nullptr;
        for (auto& r : requestsQueue_) failed.push_back(r);
        requestsQueue_.clear();
        for (auto& [id, r] : requestsInProcesses_) failed.push_back(r);
        requestsInProcesses_.clear();
    }
    runCompletions(failed);  // a request answered twice runs its completion once
}

void BLECThriftTransportFactory::disconnectFromCurrentPeripheral() {
    failAllRequests();
}

}  // namespace lumvane
