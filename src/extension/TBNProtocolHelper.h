#pragma once
// Makes the request and response info records that carry ids, time stamps and
// context names: every response of the extension handlers and every request sent
// to the phone gets one. Ids and context numbers count up from 0 in each process.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "idl/protocols.h"

namespace lumvane {

class TBNProtocolHelper {
  public:
    // Seconds since 1970 (wall time, whole seconds).
    using WallClock = std::function<int64_t()>;

    static TBNProtocolHelper& sharedHelper();

    explicit TBNProtocolHelper(WallClock clock = systemSeconds);

    // Id "<n>" from the request counter, the current time, context "x<m>" from the
    // context counter. Safe from any thread: no two records share an id.
    std::shared_ptr<TBNRequestInfo> nextRequest();
    // Id from the response counter, the current time, and the request id and
    // context name of the given request (both left unset without a request).
    std::shared_ptr<TBNResponseInfo> nextResponseForRequest(
        const std::shared_ptr<TBNRequestInfo>& request, std::shared_ptr<TBNError> error);
    std::shared_ptr<TBNResponseInfo> nextResponseForRequest(
        const std::shared_ptr<TBNRequestInfo>& request);

    uint64_t nextRequestId() const { return nextRequestId_.load(); }
    void setNextRequestId(uint64_t value) { nextRequestId_.store(value); }
    uint64_t nextResponceId() const { return nextResponceId_.load(); }
    void setNextResponceId(uint64_t value) { nextResponceId_.store(value); }
    uint64_t nextContextId() const { return nextContextId_.load(); }
    void setNextContextId(uint64_t value) { nextContextId_.store(value); }

    static int64_t systemSeconds();

  private:
    WallClock clock_;
    std::atomic<uint64_t> nextRequestId_{0};
    std::atomic<uint64_t> nextResponceId_{0};
    std::atomic<uint64_t> nextContextId_{0};
};

}  // namespace lumvane
