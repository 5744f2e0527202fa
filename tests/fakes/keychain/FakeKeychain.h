#pragma once

#include <map>
#include <mutex>
#include <optional>

#include "platform/keychain/KeychainStore.h"

namespace lumvane {

// In-memory keychain for tests. It can play an unavailable keychain and fail the
// next operation with a chosen status.
class FakeKeychain final : public KeychainStore {
  public:
    KeychainStatus addItem(const std::string& service, const std::vector<uint8_t>& value) override;
    KeychainStatus copyItem(const std::string& service, std::vector<uint8_t>& value) override;
    KeychainStatus deleteItem(const std::string& service) override;
    std::string storeName() const override { return "fake"; }

    enum class Operation { add, copy, remove };

    void setAvailable(bool available);
    // The next call of that operation returns the status instead of doing anything.
    void failNextWith(Operation operation, KeychainStatus status);
    // Plays a Secret Service that answers but takes nothing: every add returns the
    // status (nothing: adds work again); reads and deletes go on as before.
    void refuseToStore(std::optional<KeychainStatus> status);
    size_t itemCount() const;

  private:
    std::optional<KeychainStatus> takeFailure(Operation operation);

    mutable std::mutex mutex_;
    std::map<std::string, std::vector<uint8_t>> items_;
    bool available_ = true;
    std::map<Operation, KeychainStatus> nextFailure_;
    std::optional<KeychainStatus> refusal_;
};

}  // namespace lumvane
