#pragma once
// One phone connection's request machinery: the queue of waiting requests (the
// newest goes out first), the one request being written, the requests written
// and not yet answered by 16-bit request id, chunk writes paced 50 ms apart,
// 4-byte delivered acknowledgements both ways, the hand-over of replies, and a
// 1 s watchdog that fails requests that take too long and drops the connection
// after repeated time-outs. BLECMutableThriftFactoryTransport adds connecting,
// discovery and the handshake.
//
// Callers see no error objects: a completion that receives nothing or empty bytes
// is a failed request. Every time-out reads the connection's Clock.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "blec/BLECDataManager.h"
#include "blec/BLECDeviceInfo.h"
#include "platform/ble/BleCentral.h"
#include "runtime/Bytes.h"
#include "runtime/Clock.h"
#include "runtime/RequestTiming.h"

namespace lumvane {

class BLECThriftTransport;
class BLECThriftTransportFactory;
class DispatchQueue;
class TBNBlecCentralManager;

// One queued or written request.
class BLECRequest {
  public:
    using CompletionHandler = std::function<void(std::optional<Bytes>)>;

    static std::shared_ptr<BLECRequest> requestWithData(Bytes data, CompletionHandler handler);
    BLECRequest(Bytes data, CompletionHandler handler);  // initWithData:andCompletionHandler:

    const Bytes& data() const { return data_; }
    // The request this call serves, for the timing marks (0: not timed).
    uint64_t timingTag() const { return timingTag_; }
    void setTimingTag(uint64_t tag) { timingTag_ = tag; }
    // The moment the request was written; nothing until then.
    std::optional<Clock::TimePoint> timeout() const;
    bool isDelivered() const;

    void sent(Clock::TimePoint now);
    void delivered();
    // True when the request has timed out at `now`: a delivered one 400 s after
    // its write, one not delivered max(L / 250, 1) x 10 s after it (L = call length).
    bool check(Clock::TimePoint now) const;
    // Runs the completion; a request is answered once, later calls do nothing.
    void sendResponse(std::optional<Bytes> response);

    // Seconds a request of `length` bytes may wait for its delivered acknowledgement.
    static double undeliveredLimit(size_t length);
    static constexpr double kDeliveredLimit = 400;

  private:
    const Bytes data_;
    mutable std::recursive_mutex mutex_;
    CompletionHandler completionHandler_;
    std::optional<Clock::TimePoint> timeout_;
    bool isDelivered_ = false;
    bool answered_ = false;
    uint64_t timingTag_ = 0;
};

// The remote phone service's view of a connection. Every operation is optional.
class BLECThriftTransportFactoryDelegate {
  public:
    virtual ~BLECThriftTransportFactoryDelegate() = default;
    virtual void blecThriftTransportFactoryDidDeviceInfoUpdated(BLECThriftTransportFactory&) {}
    virtual void blecThriftTransportFactoryDidDBUpdated(BLECThriftTransportFactory&) {}
    // blecThriftTransportFactory:didNeedCommunicationTypeUpdated:
    virtual void blecThriftTransportFactory(BLECThriftTransportFactory&, uint64_t /*type*/) {}
    // The key for the next request; nothing sends it in the clear.
    virtual std::optional<Bytes> encryptKeyForBlecThriftTransportFactory(
        BLECThriftTransportFactory&) {
        return std::nullopt;
    }
    // The keys to try on an encrypted reply, in order.
    virtual std::optional<std::vector<Bytes>> decryptKeysForBlecThriftTransportFactory(
        BLECThriftTransportFactory&) {
        return std::nullopt;
    }
};

// The phone client's view of a connection.
class BLECMutableThriftTransportFactoryDelegate {
  public:
    virtual ~BLECMutableThriftTransportFactoryDelegate() = default;
    virtual void blecThriftTransportFactoryDidFindDevice(BLECThriftTransportFactory&) = 0;
    virtual void blecThriftTransportFactoryDidLostDevice(BLECThriftTransportFactory&) = 0;
    // blecThriftTransportFactory:didDisconnectFromPeripheralId:
    virtual void blecThriftTransportFactory(BLECThriftTransportFactory&,
                                            const std::string& peripheralId) = 0;
};

class BLECThriftTransportFactory : public ble::BlePeripheralDelegate,
                                   public std::enable_shared_from_this<BLECThriftTransportFactory> {
  public:
    using CompletionHandler = BLECRequest::CompletionHandler;

    ~BLECThriftTransportFactory() override;
    BLECThriftTransportFactory(const BLECThriftTransportFactory&) = delete;
    BLECThriftTransportFactory& operator=(const BLECThriftTransportFactory&) = delete;

    // Queues one call; `completion` later receives the reply, or nothing / empty
    // bytes when the request failed.
    void sendRequest(const Bytes& data, CompletionHandler completion);
    // Writes at most one waiting request. Takes the connection's lock.
    void trySendNextRequest();
    bool writeChunks(const std::vector<Bytes>& chunks,
                     const std::shared_ptr<ble::BleCharacteristic>& characteristic);
    bool writeData(const Bytes& data,
                   const std::shared_ptr<ble::BleCharacteristic>& characteristic);

    // A new RPC transport over this connection, one per client.
    std::shared_ptr<BLECThriftTransport> transport();
    std::shared_ptr<BLECMutableDeviceInfo> deviceInfo() const { return mDeviceInfo_; }
    std::optional<std::string> peerPublicKey() const { return dataManager_.peerPublicKey(); }

    std::shared_ptr<BLECThriftTransportFactoryDelegate> delegate() const;
    void setDelegate(std::weak_ptr<BLECThriftTransportFactoryDelegate> delegate);
    std::shared_ptr<BLECPeripheral> blecPeripheral() const { return blecPeripheral_.lock(); }
    std::shared_ptr<TBNBlecCentralManager> blecCentralManager() const {
        return blecCentralManager_.lock();
    }

    // Drops the connection; every request fails. The base class only fails them.
    virtual void disconnectFromCurrentPeripheral();

    // The watchdog's tick (the timer runs it every second on the default global
    // queue): fails timed-out requests, drops the connection once 4 or more have
    // timed out since the last reply, else tries the next waiting request.
    // Answers whether the watchdog goes on.
    bool watchdogTick();

    // The delivered acknowledgement and the reply hand-over (called by the
    // connection's value events; public for the tests of the queue).
    void handleDeliveredValue(const Bytes& value);
    void handleReplyChunk(const Bytes& chunk, bool secondChannel);
    // A completed reply message (bytes empty on failure), on the reply queue.
    void handleReply(uint16_t requestId, Bytes reply);

    // Queue state, for tests and logs.
    uint16_t nextRequestId() const;
    void setNextRequestId(uint16_t id);
    int requestTimeoutCount() const;
    size_t waitingRequestCount() const;
    size_t requestsInProcessCount() const;
    bool hasCurrentRequest() const;
    bool watchdogRunning() const;

    std::shared_ptr<Clock> clock() const { return clock_; }
    // The pause after every chunk write (0.05 s; real time: it paces the radio).
    void setChunkPause(double seconds);

    static constexpr double kChunkPause = 0.05;
    static constexpr int kWatchdogTimeoutCount = 4;
    static constexpr uint32_t kCompressionVersionCode = 0x01000401;

  protected:
    BLECThriftTransportFactory(std::shared_ptr<BLECPeripheral> blecPeripheral,
                               std::shared_ptr<TBNBlecCentralManager> blecCentralManager,
                               std::shared_ptr<BLECMutableDeviceInfo> deviceInfo,
                               std::shared_ptr<Clock> clock);

    std::shared_ptr<ble::BlePeripheral> systemPeripheral() const;
    // Fails the current, the waiting and the written requests (completions run
    // after the lock is released).
    void failAllRequests();
    void startWatchdog();
    void cancelWatchdog();

    mutable std::recursive_mutex lock_;  // the connection's lock
    const std::shared_ptr<Clock> clock_;
    std::weak_ptr<BLECThriftTransportFactoryDelegate> delegate_;
    const std::weak_ptr<TBNBlecCentralManager> blecCentralManager_;
    const std::weak_ptr<BLECPeripheral> blecPeripheral_;
    const std::optional<std::string> bleId_;
    const std::shared_ptr<BLECMutableDeviceInfo> mDeviceInfo_;

  private:
    void armWatchdogLocked();
    void watchdogFired(uint64_t generation);

    uint16_t nextRequestId_ = 0;
    std::vector<std::shared_ptr<BLECRequest>> requestsQueue_;
    std::shared_ptr<BLECRequest> currentRequest_;
    std::map<uint16_t, std::shared_ptr<BLECRequest>> requestsInProcesses_;
    int requestTimeoutCount_ = 0;
    BLECDataManager dataManager_;
    BLECDataManager dataManager2Chnl_;
    double chunkPause_ = kChunkPause;

    mutable std::mutex watchdogMutex_;
    bool watchdogRunning_ = false;
    Clock::CallId watchdogCall_ = 0;
    uint64_t watchdogGeneration_ = 0;
};

}  // namespace lumvane
