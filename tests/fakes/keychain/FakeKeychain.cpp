#include "FakeKeychain.h"

namespace lumvane {

std::optional<KeychainStatus> FakeKeychain::takeFailure(Operation operation) {
    if (!available_) {
        return kKeychainNotAvailable;
    }
    auto it = nextFailure_.find(operation);
    if (it == nextFailure_.end()) {
        return std::nullopt;
    }
    const KeychainStatus status = it->second;
    nextFailure_.erase(it);
    return status;
}

KeychainStatus FakeKeychain::addItem(const std::string& service,
                                     const std::vector<uint8_t>& value) {
    std::lock_guard guard(mutex_);
    if (auto failure = takeFailure(Operation::add)) return *failure;
    if (refusal_) return *refusal_;
    if (items_.count(service) != 0) return kKeychainDuplicateItem;
    items_[service] = value;
    return kKeychainSuccess;
}

KeychainStatus FakeKeychain::copyItem(const std::string& service, std::vector<uint8_t>& value) {
    std::lock_guard guard(mutex_);
    if (auto failure = takeFailure(Operation::copy)) return *failure;
    auto it = items_.find(service);
    if (it == items_.end()) return kKeychainItemNotFound;
    value = it->second;
    return kKeychainSuccess;
}

KeychainStatus FakeKeychain::deleteItem(const std::string& service) {
    std::lock_guard guard(mutex_);
    if (auto failure = takeFailure(Operation::remove)) return *failure;
    return items_.erase(service) != 0 ? kKeychainSuccess : kKeychainItemNotFound;
}

void FakeKeychain::setAvailable(bool available) {
    std::lock_guard guard(mutex_);
    available_ = available;
}

void FakeKeychain::failNextWith(Operation operation, KeychainStatus status) {
    std::lock_guard guard(mutex_);
    nextFailure_[operation] = status;
}

void FakeKeychain::refuseToStore(std::optional<KeychainStatus> status) {
    std::lock_guard guard(mutex_);
    refusal_ = status;
}

size_t FakeKeychain::itemCount() const {
    std::lock_guard guard(mutex_);
    return items_.size();
}

}  // namespace lumvane
