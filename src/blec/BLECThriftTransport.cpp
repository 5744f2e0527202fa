#include "blec/BLECThriftTransport.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <optional>

#include <thrift/transport/TTransportException.h>

#include "blec/BLECLog.h"
#include "blec/BLECThriftTransportFactory.h"
#include "protocol/ProtocolLimits.h"

namespace lumvane {

using apache::thrift::transport::TTransportException;

BLECThriftTransport::BLECThriftTransport(std::weak_ptr<BLECThriftTransportFactory> transportFactory)
    : TVirtualTransport(limitedConfiguration()), transportFactory_(std::move(transportFactory)) {}

void BLECThriftTransport::write(const uint8_t* buf, uint32_t len) {
    std::lock_guard<std::mutex> lock(mutex_);
    requestData_.insert(requestData_.end(), buf, buf + len);
}

uint32_t BLECThriftTransport::read(uint8_t* buf, uint32_t len) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t left = responseData_.size() - size_t(responseDataOffset_);
    const uint32_t n = uint32_t(std::min<size_t>(len, left));
    if (n) std::memcpy(buf, responseData_.data() + responseDataOffset_, n);
    responseDataOffset_ += int32_t(n);
    return n;
}

uint32_t BLECThriftTransport::readAll(uint8_t* buf, uint32_t len) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t left = responseData_.size() - size_t(responseDataOffset_);
    if (left < len) {
        throw TTransportException(TTransportException::END_OF_FILE,
                                  "reply from the phone ended early");
    }
    if (len) std::memcpy(buf, responseData_.data() + responseDataOffset_, len);
    responseDataOffset_ += int32_t(len);
    return len;
}

void BLECThriftTransport::flush() {
    Bytes request;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        responseData_.clear();
        responseDataOffset_ = 0;
        request.swap(requestData_);
    }
    resetConsumedMessageSize();

    auto factory = transportFactory_.lock();
    if (!factory) {
        blec::log(blec::LogLevel::Error, "core|thrift|blec", "flush: connection is gone");
        return;
    }
    struct Pending {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        std::optional<Bytes> reply;
    };
    auto pending = std::make_shared<Pending>();
    auto clock = factory->clock();
    factory->sendRequest(request, [pending](std::optional<Bytes> reply) {
        {
            std::lock_guard<std::mutex> lock(pending->mutex);
            pending->reply = std::move(reply);
            pending->done = true;
        }
        pending->cv.notify_all();
    });
    // The wait must not keep the connection alive.
    factory.reset();

    std::optional<Bytes> reply;
    {
        std::unique_lock<std::mutex> lock(pending->mutex);
        clock->waitUntil(lock, pending->cv, clock->deadlineAfter(kFlushTimeout),
                         [&] { return pending->done; });
        if (pending->done) reply = std::move(pending->reply);
    }
    if (!reply) return;
    if (reply->size() > size_t(getMaxMessageSize())) {
        blec::log(blec::LogLevel::Error, "core|thrift|blec",
                  "flush: reply of " + std::to_string(reply->size()) + " bytes refused");
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    responseData_ = std::move(*reply);
    // No read may claim more than the reply holds.
    resetConsumedMessageSize(long(responseData_.size()));
}

Bytes BLECThriftTransport::responseData() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return responseData_;
}

int32_t BLECThriftTransport::responseDataOffset() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return responseDataOffset_;
}

size_t BLECThriftTransport::pendingRequestLength() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requestData_.size();
}

}  // namespace lumvane
