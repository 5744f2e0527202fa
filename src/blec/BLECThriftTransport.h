#pragma once
// The RPC runtime's transport over one phone connection, one object per client.
// write() collects a call; flush() hands it to the connection as one request and
// blocks until the reply arrives, the request fails, or 400 s pass on the
// connection's clock; the reply then is the read buffer (empty when the call
// failed). Reads never block. A read that cannot be served in full throws
// END_OF_FILE, so a failed or cut-short reply fails the call instead of letting
// the protocol use bytes that never arrived.
//
// Each flush waits on a state of its own: an answer that comes after its flush
// gave up can never reach a later call.
#include <cstdint>
#include <memory>
#include <mutex>

#include <thrift/transport/TVirtualTransport.h>

#include "runtime/Bytes.h"

namespace lumvane {

class BLECThriftTransportFactory;

class BLECThriftTransport
    : public apache::thrift::transport::TVirtualTransport<BLECThriftTransport> {
  public:
    static constexpr double kFlushTimeout = 400;

    // initWithTransportFactory:
    explicit BLECThriftTransport(std::weak_ptr<BLECThriftTransportFactory> transportFactory);

    bool isOpen() const override { return true; }
    void open() override {}
    void close() override {}

    // Appends to the call being written.
    void write(const uint8_t* buf, uint32_t len);
    // Copies up to len reply bytes; 0 at the end of the reply.
    uint32_t read(uint8_t* buf, uint32_t len);
    // Copies exactly len bytes or throws TTransportException(END_OF_FILE).
    uint32_t readAll(uint8_t* buf, uint32_t len);
    // Sends the call and waits for its reply. Raises nothing; a failed call
    // leaves the reply empty. Without a connection it returns at once.
    void flush() override;

    // The reply of the last call and the read position.
    Bytes responseData() const;
    int32_t responseDataOffset() const;
    // Bytes of the call written since the last flush.
    size_t pendingRequestLength() const;

    std::shared_ptr<BLECThriftTransportFactory> transportFactory() const {
        return transportFactory_.lock();
    }

  private:
    const std::weak_ptr<BLECThriftTransportFactory> transportFactory_;
    mutable std::mutex mutex_;
    Bytes requestData_;
    Bytes responseData_;
    int32_t responseDataOffset_ = 0;
};

}  // namespace lumvane
