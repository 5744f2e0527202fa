#include "crypto/TBNKeyChainManager.h"

#include <cstdlib>
#include <mutex>

#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

constexpr const char* kSetDataPrefix = "*** [TBNKeyChainManager:setData:forKey:] - ";
constexpr const char* kDataForKeyPrefix = "*** [TBNKeyChainManager:dataForKey:] - ";
constexpr const char* kRemovePrefix = "*** [TBNKeyChainManager:removeObjectForKey:] - ";

const char* textOf(KeychainStatus status) {
    switch (status) {
        case -4:
            return "Function or operation not implemented.";
        case -36:
            return "I/O error (bummers).";
        case -49:
            return "File already open with with write permission.";
        case -50:
            return "One or more parameters passed to a function where not valid.";
        case -108:
            return "Failed to allocate memory.";
        case -128:
            return "User canceled the operation.";
        case -909:
            return "Bad parameter or invalid state for operation.";
        case -2070:
            return "Internal component";
        case -25291:
            return "No keychain is available. You may need to restart your computer.";
        case -25293:
            return "The user name or passphrase you entered is not correct.";
        case -25299:
            return "The specified item already exists in the keychain.";
        case -25300:
            return "The specified item could not be found in the keychain.";
        case -25308:
            return "User interaction is not allowed.";
        case -26275:
            return "Unable to decode the provided data.";
        default:
            return nullptr;
    }
}

std::mutex g_sharedMutex;
std::shared_ptr<KeychainStore> g_sharedStore;
bool g_sharedCreated = false;

bool isValidUtf8(const Bytes& b) {
    size_t i = 0;
    while (i < b.size()) {
        const uint8_t c = b[i];
        size_t need = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            need = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            need = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            need = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + need >= b.size()) return false;
        for (size_t k = 1; k <= need; ++k) {
            if ((b[i + k] & 0xC0) != 0x80) return false;
            cp = cp << 6 | (b[i + k] & 0x3F);
        }
        static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[need] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += need + 1;
    }
    return true;
}

}  // namespace

TBNKeyChainManager& TBNKeyChainManager::sharedManager() {
    static TBNKeyChainManager* manager = [] {
        std::lock_guard guard(g_sharedMutex);
        g_sharedCreated = true;
        auto store =
            g_sharedStore ? g_sharedStore : makeSystemKeychainStore(defaultFallbackFolder());
        TBN_LOG_INFO("keychain", "Keychain store: {}", store->storeName());
        return new TBNKeyChainManager(std::move(store));
    }();
    return *manager;
}

bool TBNKeyChainManager::setSharedStore(std::shared_ptr<KeychainStore> store) {
    std::lock_guard guard(g_sharedMutex);
    if (g_sharedCreated) {
        return false;
    }
    g_sharedStore = std::move(store);
    return true;
}

std::string TBNKeyChainManager::defaultFallbackFolder() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (dataHome != nullptr && dataHome[0] == '/') {
        base = dataHome;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.local/share";
    }
    return base + "/Lumvane";
}

TBNKeyChainManager::TBNKeyChainManager(std::shared_ptr<KeychainStore> store)
    : store_(std::move(store)) {
    if (!store_) {
        throw std::invalid_argument("TBNKeyChainManager needs a keychain store");
    }
}

std::optional<TBNKeyChainException> TBNKeyChainManager::exceptionByStatus(
    KeychainStatus status, const std::string& prefix) {
    const char* text = textOf(status);
    if (text == nullptr) {
        return std::nullopt;
    }
    return TBNKeyChainException(prefix + " " + text, status);
}

std::string TBNKeyChainManager::statusText(KeychainStatus status) {
    const char* text = textOf(status);
    return text ? std::string(text) : "Unknown keychain error " + std::to_string(status) + ".";
}

void TBNKeyChainManager::raise(KeychainStatus status, const std::string& prefix) {
    // A status outside the table still fails loudly, with its number.
    const std::string reason = prefix + " " + statusText(status);
    if (status == kKeychainItemNotFound) {
        // A missing item is an answer, not a fault: every first start asks for items that
        // are not there yet. Callers that need the item report it themselves.
        TBN_LOG_INFO("keychain", "{} (status {})", reason, status);
    } else {
        TBN_LOG_ERROR("keychain", "{} (status {})", reason, status);
    }
    if (status == kKeychainItemNotFound) {
        throw TBNKeyChainItemNotFoundException(reason, status);
    }
    if (status == kKeychainNotAvailable) {
        throw TBNKeyChainUnavailableException(reason, status);
    }
    throw TBNKeyChainException(reason, status);
}

void TBNKeyChainManager::setData(const std::optional<Bytes>& data,
                                 const std::optional<std::string>& key) {
    if (!data) {
        throw std::invalid_argument(std::string(kSetDataPrefix) + "the data argument is nil");
    }
    if (!key) {
        throw std::invalid_argument(std::string(kSetDataPrefix) + "the key argument is nil");
    }
    KeychainStatus status = store_->addItem(*key, *data);
    if (status == kKeychainDuplicateItem) {
        removeObjectForKey(key);
        status = store_->addItem(*key, *data);
    }
    if (status != kKeychainSuccess) {
        raise(status, std::string(kSetDataPrefix) + "SecItemAdd can't add: ");
    }
}

Bytes TBNKeyChainManager::dataForKey(const std::optional<std::string>& key) {
    if (!key) {
        throw std::invalid_argument(std::string(kDataForKeyPrefix) + "the key argument is nil");
    }
    Bytes value;
    const KeychainStatus status = store_->copyItem(*key, value);
    if (status != kKeychainSuccess) {
        raise(status, std::string(kDataForKeyPrefix) + "SecItemCopyMatching can't copy: ");
    }
    return value;
}

void TBNKeyChainManager::setString(const std::optional<std::string>& string,
                                   const std::optional<std::string>& key) {
    std::optional<Bytes> data;
    if (string) {
        data = Bytes(string->begin(), string->end());
    }
    setData(data, key);
}

std::optional<std::string> TBNKeyChainManager::stringForKey(const std::optional<std::string>& key) {
    const Bytes data = dataForKey(key);
    if (!isValidUtf8(data)) {
        return std::nullopt;
    }
    return std::string(data.begin(), data.end());
}

void TBNKeyChainManager::removeObjectForKey(const std::optional<std::string>& key) {
    if (!key) {
        throw std::invalid_argument(std::string(kRemovePrefix) + "the key argument is nil");
    }
    const KeychainStatus status = store_->deleteItem(*key);
    if (status != kKeychainSuccess && status != kKeychainItemNotFound) {
        raise(status, std::string(kRemovePrefix) + "SecItemDelete can't delete: ");
    }
}

}  // namespace lumvane
