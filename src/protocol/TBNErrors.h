#pragma once
// The standard error values put into response infos. Receivers decide by category and
// id, never by the text.
#include <exception>
#include <memory>
#include <string>

#include "idl/protocols.h"

namespace lumvane {

class TBNErrors {
public:
    TBNErrors() = delete;

    // Categories in use.
    static constexpr int32_t kCategoryClient = 1;   // the client is not allowed
    static constexpr int32_t kCategoryUser = 2;     // the user cancelled or did not answer
    static constexpr int32_t kCategoryDevice = 3;   // phone not paired or not reachable
    static constexpr int32_t kCategoryService = 4;  // the service or its data refused or failed

    // Each returns a new record with all three fields set.
    static std::shared_ptr<TBNError> notAuthorized();          // 1, 1
    static std::shared_ptr<TBNError> requestCanceledByUser();  // 2, 3
    static std::shared_ptr<TBNError> requestTimedOut();        // 2, 4
    static std::shared_ptr<TBNError> deviceNotPaired();        // 3, 5
    static std::shared_ptr<TBNError> deviceNotFound();         // 3, 7, "Device not available"
    static std::shared_ptr<TBNError> duplicatedAccount();      // 4, 9
    static std::shared_ptr<TBNError> paused();                 // 4, 16
    // 4, 10, "exception: " + the description of what failed.
    static std::shared_ptr<TBNError> internalException(const std::string& description);
    static std::shared_ptr<TBNError> internalException(const std::exception& e);
};

}  // namespace lumvane
