#include "platform/keychain/KeychainStore.h"

#include "platform/keychain/FileKeychain.h"
#include "platform/keychain/SecretServiceKeychain.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

std::shared_ptr<KeychainStore> makeSystemKeychainStore(
    const std::filesystem::path& fallbackFolder) {
    if (auto secretService = SecretServiceKeychain::connect()) {
        return secretService;
    }
    TBN_LOG_WARN("keychain",
                 "No Secret Service answers on the session bus; keeping keys in a file readable "
                 "only by this user in {}",
                 fallbackFolder.string());
    return std::make_shared<FileKeychain>(fallbackFolder);
}

}  // namespace lumvane
