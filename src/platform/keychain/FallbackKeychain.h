#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "platform/keychain/FileKeychain.h"
#include "platform/keychain/KeychainStore.h"

namespace lumvane {

// The Secret Service with the 0600 file store behind it. A Secret Service may answer on
// the bus and still take nothing (no usable collection, a full disk): an item it does not
// take, or does not give back once stored, goes to the file instead, so that a key the
// program made is never kept in memory alone.
//
// Reads look in the file first: the file only ever holds items the preferred store
// refused, so an item there is the newer one. An item the preferred store takes is
// removed from the file, so that an older copy there never hides it.
class FallbackKeychain final : public KeychainStore {
  public:
    FallbackKeychain(std::shared_ptr<KeychainStore> preferred, std::filesystem::path folder);

    KeychainStatus addItem(const std::string& service, const std::vector<uint8_t>& value) override;
    KeychainStatus copyItem(const std::string& service, std::vector<uint8_t>& value) override;
    KeychainStatus deleteItem(const std::string& service) override;
    std::string storeName() const override;
    std::optional<KeychainFallbackUse> fallbackUse() const override;

  private:
    std::shared_ptr<KeychainStore> preferred_;
    FileKeychain file_;
    mutable std::mutex mutex_;
    bool usedFile_ = false;
    std::optional<KeychainStatus> refused_;
};

}  // namespace lumvane
