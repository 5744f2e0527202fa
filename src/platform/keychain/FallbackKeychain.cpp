#include "platform/keychain/FallbackKeychain.h"

#include <algorithm>

#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

constexpr const char* kTag = "keychain";

void wipe(std::vector<uint8_t>& bytes) {
    std::fill(bytes.begin(), bytes.end(), 0);
}

}  // namespace

FallbackKeychain::FallbackKeychain(std::shared_ptr<KeychainStore> preferred,
                                   std::filesystem::path folder)
    : preferred_(std::move(preferred)), file_(std::move(folder)) {}

std::string FallbackKeychain::storeName() const {
    return preferred_->storeName() + "+file";
}

std::optional<KeychainFallbackUse> FallbackKeychain::fallbackUse() const {
    std::lock_guard guard(mutex_);
    if (!usedFile_) return std::nullopt;
    return KeychainFallbackUse{file_.path().parent_path(), refused_};
}

KeychainStatus FallbackKeychain::addItem(const std::string& service,
                                         const std::vector<uint8_t>& value) {
    // The file is read first, so an item there counts as present.
    std::vector<uint8_t> existing;
    const KeychainStatus inFile = file_.copyItem(service, existing);
    wipe(existing);
    if (inFile == kKeychainSuccess) return kKeychainDuplicateItem;

    KeychainStatus status = preferred_->addItem(service, value);
    if (status == kKeychainDuplicateItem) return status;
    if (status == kKeychainSuccess) {
        // Some services accept an item into a collection that keeps nothing (a session
        // collection, a store that failed to write): only an item that reads back counts.
        std::vector<uint8_t> stored;
        const KeychainStatus readBack = preferred_->copyItem(service, stored);
        const bool same = readBack == kKeychainSuccess && stored == value;
        wipe(stored);
        if (same) {
            const KeychainStatus removed = file_.deleteItem(service);
            if (removed != kKeychainSuccess && removed != kKeychainItemNotFound) {
                // An older copy left in the file would be read in place of this one.
                TBN_LOG_ERROR(kTag, "an older copy of {} in {} cannot be removed (status {})",
                              service, file_.path().string(), removed);
                return removed;
            }
            return kKeychainSuccess;
        }
        TBN_LOG_ERROR(kTag, "the {} store took {} but does not give it back (status {})",
                      preferred_->storeName(), service, readBack);
        (void)preferred_->deleteItem(service);
        status = readBack == kKeychainSuccess ? kKeychainIOError : readBack;
    }

    TBN_LOG_WARN(kTag, "the {} store refused {} (status {}); keeping it in {}",
                 preferred_->storeName(), service, status, file_.path().string());
    const KeychainStatus filed = file_.addItem(service, value);
    if (filed != kKeychainSuccess) {
        TBN_LOG_ERROR(kTag, "{} cannot be kept in {} either (status {})", service,
                      file_.path().string(), filed);
        return filed;
    }
    std::lock_guard guard(mutex_);
    usedFile_ = true;
    refused_ = status;
    return kKeychainSuccess;
}

KeychainStatus FallbackKeychain::copyItem(const std::string& service, std::vector<uint8_t>& value) {
    const KeychainStatus inFile = file_.copyItem(service, value);
    if (inFile == kKeychainSuccess) {
        std::lock_guard guard(mutex_);
        usedFile_ = true;
        return inFile;
    }
    // A file that is there but cannot be read is not a missing item: a caller that took
    // it for one would make a new key and lose what the old one sealed.
    if (inFile != kKeychainItemNotFound) return inFile;
    return preferred_->copyItem(service, value);
}

KeychainStatus FallbackKeychain::deleteItem(const std::string& service) {
    const KeychainStatus inFile = file_.deleteItem(service);
    if (inFile != kKeychainSuccess && inFile != kKeychainItemNotFound) return inFile;
    const KeychainStatus preferred = preferred_->deleteItem(service);
    if (preferred == kKeychainSuccess || inFile == kKeychainSuccess) return kKeychainSuccess;
    if (preferred != kKeychainItemNotFound) {
        // A service that cannot delete will not take the replacement either; the
        // replacement then goes to the file, which is read first.
        TBN_LOG_WARN(kTag, "the {} store did not delete {} (status {})", preferred_->storeName(),
                     service, preferred);
    }
    return kKeychainItemNotFound;
}

}  // namespace lumvane
