#include "extension/TBNProtocolHelper.h"

#include <chrono>
#include <string>

namespace lumvane {

TBNProtocolHelper& TBNProtocolHelper::sharedHelper() {
    static TBNProtocolHelper helper;
    return helper;
}

TBNProtocolHelper::TBNProtocolHelper(WallClock clock) : clock_(std::move(clock)) {}

int64_t TBNProtocolHelper::systemSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::shared_ptr<TBNRequestInfo> TBNProtocolHelper::nextRequest() {
    // Each counter is taken and increased in one step, so threads that make info
    // records at the same moment still get distinct ids.
    uint64_t id = nextRequestId_.fetch_add(1);
    uint64_t context = nextContextId_.fetch_add(1);
    // Appended, not "x" + std::string&&, on which GCC 12 warns (-Wrestrict, a false
    // positive).
    std::string contextName = "x";
    contextName += std::to_string(context);
    return std::make_shared<TBNRequestInfo>(std::to_string(id), clock_(), std::move(contextName));
}

std::shared_ptr<TBNResponseInfo> TBNProtocolHelper::nextResponseForRequest(
    const std::shared_ptr<TBNRequestInfo>& request, std::shared_ptr<TBNError> error) {
    uint64_t id = nextResponceId_.fetch_add(1);
    auto info = std::make_shared<TBNResponseInfo>(
        std::to_string(id), clock_(), request ? request->id() : std::nullopt, std::move(error),
        request ? request->contextName() : std::nullopt);
    return info;
}

std::shared_ptr<TBNResponseInfo> TBNProtocolHelper::nextResponseForRequest(
    const std::shared_ptr<TBNRequestInfo>& request) {
    return nextResponseForRequest(request, nullptr);
}

}  // namespace lumvane
