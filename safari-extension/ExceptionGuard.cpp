#include "ExceptionGuard.h"

#include <thrift/Thrift.h>

namespace lumvane {

NSExceptionError::NSExceptionError(std::exception_ptr exception)
    : exception_(std::move(exception)) {
    try {
        if (exception_) std::rethrow_exception(exception_);
    } catch (const std::exception& e) {
        reason_ = e.what();
    } catch (...) {
        reason_ = "unknown exception";
    }
    description_ = "NSExceptionError(" + reason_ + ")";
}

void ExceptionGuard::tryCatch(const std::function<void()>& workItem) {
    try {
        workItem();
    } catch (const apache::thrift::TException&) {
        throw NSExceptionError(std::current_exception());
    }
}

const char* JSError::what() const noexcept {
    return case_ == Case::HasNotContext ? "HasNotContext" : "HasNotParameter";
}

}  // namespace lumvane
