#pragma once
// An asynchronous transport over memory: a flush hands the written message to an
// exchange function (a processor, a simulated peer) and makes its answer the reply to
// read. The exchange runs through an executor, inline unless one is given, so tests and
// in-process peers can choose the thread the callbacks run on.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <thrift/transport/TBufferTransports.h>

#include "protocol/ProtocolLimits.h"
#include "protocol/services/TAsyncTransport.h"

namespace lumvane {

class AsyncMemoryTransport : public TAsyncTransport {
  public:
    // Takes the bytes of one call, returns the bytes of its reply. A TException it
    // throws reaches the failure callback.
    using Exchange = std::function<std::string(const std::string& call)>;
    using Executor = std::function<void(std::function<void()>)>;

    explicit AsyncMemoryTransport(Exchange exchange, Executor executor = {},
                                  const ProtocolLimits& limits = {});

    bool isOpen() const override { return true; }
    using TAsyncTransport::flush;
    void flush(Completion completion, Failure failure) override;
    // A plain flush exchanges synchronously, so a synchronous client works too.
    void flush() override;

    // Bytes of the last call sent (for tests).
    std::string lastCall() const;

  protected:
    uint32_t read_virt(uint8_t* buf, uint32_t len) override;
    void write_virt(const uint8_t* buf, uint32_t len) override;

  private:
    std::string takeWritten();
    void setReply(const std::string& reply);

    Exchange exchange_;
    Executor executor_;
    ProtocolLimits limits_;
    mutable std::mutex mutex_;
    std::string written_;
    std::string reply_;
    size_t replyOffset_ = 0;
    std::string lastCall_;
};

}  // namespace lumvane
