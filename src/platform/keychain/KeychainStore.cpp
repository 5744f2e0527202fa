#include "platform/keychain/KeychainStore.h"

#include "platform/keychain/FallbackKeychain.h"
#include "platform/keychain/FileKeychain.h"
#include "platform/keychain/SecretServiceKeychain.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

std::shared_ptr<KeychainStore> makeSystemKeychainStore(
    const std::filesystem::path& fallbackFolder) {
    return makeKeychainStore(SecretServiceKeychain::connect(), fallbackFolder);
}

std::shared_ptr<KeychainStore> makeKeychainStore(std::shared_ptr<KeychainStore> preferred,
                                                 const std::filesystem::path& fallbackFolder) {
    if (preferred) {
        return std::make_shared<FallbackKeychain>(std::move(preferred), fallbackFolder);
    }
    TBN_LOG_WARN("keychain",
                 "No Secret Service answers on the session bus; keeping keys in a file readable "
                 "only by this user in {}",
                 fallbackFolder.string());
    return std::make_shared<FileKeychain>(fallbackFolder);
}

}  // namespace lumvane
