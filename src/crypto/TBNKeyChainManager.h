#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "crypto/CryptoTypes.h"
#include "platform/keychain/KeychainStore.h"

namespace lumvane {

// A keychain failure. name() is "NSGenericException"; what() is the reason
// (operation prefix, a blank and the status text); statusCode() the keychain
// status. Two subclasses let callers tell the cases that need different handling.
class TBNKeyChainException : public std::runtime_error {
  public:
    TBNKeyChainException(const std::string& reason, KeychainStatus status)
        : std::runtime_error(reason), status_(status) {}
    const char* name() const noexcept { return "NSGenericException"; }
    KeychainStatus statusCode() const noexcept { return status_; }

  private:
    KeychainStatus status_;
};

// No item under the key (status -25300).
class TBNKeyChainItemNotFoundException : public TBNKeyChainException {
  public:
    using TBNKeyChainException::TBNKeyChainException;
};

// No keychain could be reached (status -25291).
class TBNKeyChainUnavailableException : public TBNKeyChainException {
  public:
    using TBNKeyChainException::TBNKeyChainException;
};

// Small secrets in the keychain: one generic-password item per key. Every
// operation either succeeds or throws: std::invalid_argument for a missing
// argument, TBNKeyChainException (or a subclass) for a keychain failure.
class TBNKeyChainManager {
  public:
    // The process-wide manager. Its store is the one given to setSharedStore()
    // before first use, else the system keychain (Secret Service, or the file
    // store in the settings folder).
    static TBNKeyChainManager& sharedManager();
    // Must be called before the first sharedManager(); returns false afterwards.
    static bool setSharedStore(std::shared_ptr<KeychainStore> store);

    explicit TBNKeyChainManager(std::shared_ptr<KeychainStore> store);

    // Stores the bytes under the key, replacing an existing item.
    void setData(const std::optional<Bytes>& data, const std::optional<std::string>& key);
    // A copy of the item's value.
    Bytes dataForKey(const std::optional<std::string>& key);
    void setString(const std::optional<std::string>& string, const std::optional<std::string>& key);
    // The value as text; nothing when it is not valid UTF-8.
    std::optional<std::string> stringForKey(const std::optional<std::string>& key);
    // Deletes the item; a missing item is no error.
    void removeObjectForKey(const std::optional<std::string>& key);

    // The exception for a status of the status table, nothing for others.
    static std::optional<TBNKeyChainException> exceptionByStatus(KeychainStatus status,
                                                                 const std::string& prefix);
    // The text of a status ("Unknown keychain error N." for one outside the table).
    static std::string statusText(KeychainStatus status);
    // The settings folder the file store falls back to ($XDG_DATA_HOME/Lumvane).
    static std::string defaultFallbackFolder();

    const std::shared_ptr<KeychainStore>& store() const { return store_; }

  private:
    [[noreturn]] static void raise(KeychainStatus status, const std::string& prefix);

    std::shared_ptr<KeychainStore> store_;
};

}  // namespace lumvane
