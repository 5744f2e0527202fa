#pragma once

#include <memory>

#include "platform/keychain/KeychainStore.h"

namespace lumvane {

// Items in the Secret Service (GNOME Keyring, KWallet, KeePassXC, ...) through
// libsecret, in the default collection, under the attribute "service".
class SecretServiceKeychain final : public KeychainStore {
  public:
    // A store when a Secret Service answers on the session bus, else nothing.
    static std::shared_ptr<SecretServiceKeychain> connect();

    KeychainStatus addItem(const std::string& service, const std::vector<uint8_t>& value) override;
    KeychainStatus copyItem(const std::string& service, std::vector<uint8_t>& value) override;
    KeychainStatus deleteItem(const std::string& service) override;
    std::string storeName() const override { return "secret-service"; }

  private:
    SecretServiceKeychain() = default;
};

}  // namespace lumvane
