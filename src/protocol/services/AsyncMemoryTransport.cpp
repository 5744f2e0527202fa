#include "protocol/services/AsyncMemoryTransport.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <thrift/transport/TTransportException.h>

namespace lumvane {

using apache::thrift::TException;
using apache::thrift::transport::TTransportException;

AsyncMemoryTransport::AsyncMemoryTransport(Exchange exchange, Executor executor,
                                           const ProtocolLimits& limits)
    : TAsyncTransport(limitedConfiguration(limits)),
      exchange_(std::move(exchange)),
      executor_(std::move(executor)),
      limits_(limits) {
    if (!executor_) executor_ = [](std::function<void()> work) { work(); };
}

std::string AsyncMemoryTransport::takeWritten() {
    std::lock_guard lock(mutex_);
    std::string call;
    call.swap(written_);
    lastCall_ = call;
    return call;
}

void AsyncMemoryTransport::setReply(const std::string& reply) {
    if (reply.size() > static_cast<size_t>(limits_.maxMessageSize)) {
        throw TTransportException(TTransportException::END_OF_FILE, "MaxMessageSize reached");
    }
    std::lock_guard lock(mutex_);
    reply_ = reply;
    replyOffset_ = 0;
    // The protocols' size checks compare announced lengths with the reply's real size,
    // so no string or container is sized beyond the bytes that arrived. (Consumption
    // is not counted down: the compact reader checks an announced length together
    // with the bytes of its own prefix, as the stock memory buffer allows.)
    knownMessageSize_ = static_cast<long>(reply.size());
    remainingMessageSize_ = static_cast<long>(reply.size());
}

void AsyncMemoryTransport::flush(Completion completion, Failure failure) {
    std::string call = takeWritten();
    executor_([this, call = std::move(call), completion = std::move(completion),
               failure = std::move(failure)]() {
        try {
            setReply(exchange_(call));
        } catch (const TException& e) {
            if (failure) failure(e);
            return;
        }
        if (completion) completion();
    });
}

void AsyncMemoryTransport::flush() {
    setReply(exchange_(takeWritten()));
}

std::string AsyncMemoryTransport::lastCall() const {
    std::lock_guard lock(mutex_);
    return lastCall_;
}

uint32_t AsyncMemoryTransport::read_virt(uint8_t* buf, uint32_t len) {
    std::lock_guard lock(mutex_);
    const size_t n = std::min<size_t>(len, reply_.size() - replyOffset_);
    std::memcpy(buf, reply_.data() + replyOffset_, n);
    replyOffset_ += n;
    return static_cast<uint32_t>(n);
}

void AsyncMemoryTransport::write_virt(const uint8_t* buf, uint32_t len) {
    std::lock_guard lock(mutex_);
    if (written_.size() + len > static_cast<size_t>(limits_.maxMessageSize)) {
        throw TTransportException(TTransportException::BAD_ARGS, "message too large");
    }
    written_.append(reinterpret_cast<const char*>(buf), len);
}

}  // namespace lumvane
