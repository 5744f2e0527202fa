#include "protocol/TBNErrors.h"

namespace lumvane {

namespace {
std::shared_ptr<TBNError> make(int32_t category, int64_t id, std::string message) {
    return std::make_shared<TBNError>(category, id, std::move(message));
}
}  // namespace

std::shared_ptr<TBNError> TBNErrors::notAuthorized() {
    return make(kCategoryClient, 1, TBNprotocolsConstants::EDM_CLIENT_NOT_AUTHORIZED());
}

std::shared_ptr<TBNError> TBNErrors::requestCanceledByUser() {
    return make(kCategoryUser, 3, TBNprotocolsConstants::EDM_USER_CANCELED());
}

std::shared_ptr<TBNError> TBNErrors::requestTimedOut() {
    return make(kCategoryUser, 4, TBNprotocolsConstants::EDM_USER_TIMEOUT());
}

std::shared_ptr<TBNError> TBNErrors::deviceNotPaired() {
    return make(kCategoryDevice, 5, TBNprotocolsConstants::EDM_DEVICE_NOT_PAIRED());
}

std::shared_ptr<TBNError> TBNErrors::deviceNotFound() {
    return make(kCategoryDevice, 7, TBNprotocolsConstants::EDM_DEVICE_NOT_AVAILABLE());
}

std::shared_ptr<TBNError> TBNErrors::duplicatedAccount() {
    return make(kCategoryService, 9, TBNprotocolsConstants::EDM_ACCOUNT_DUPLICATED());
}

std::shared_ptr<TBNError> TBNErrors::paused() {
    return make(kCategoryService, 16, TBNprotocolsConstants::EDM_PAUSED());
}

std::shared_ptr<TBNError> TBNErrors::internalException(const std::string& description) {
    return make(kCategoryService, 10, "exception: " + description);
}

std::shared_ptr<TBNError> TBNErrors::internalException(const std::exception& e) {
    return internalException(std::string(e.what()));
}

}  // namespace lumvane
