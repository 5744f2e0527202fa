#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumvane {

// Outcome of a keychain operation, numbered like the keychain statuses the rest of
// the program reports (0 is success). "Item not found" and "keychain unavailable"
// are distinct values and stay distinct all the way up.
using KeychainStatus = int32_t;
inline constexpr KeychainStatus kKeychainSuccess = 0;
inline constexpr KeychainStatus kKeychainUnimplemented = -4;
inline constexpr KeychainStatus kKeychainIOError = -36;
inline constexpr KeychainStatus kKeychainParameterError = -50;
inline constexpr KeychainStatus kKeychainAllocateError = -108;
inline constexpr KeychainStatus kKeychainUserCanceled = -128;
inline constexpr KeychainStatus kKeychainBadRequest = -909;
inline constexpr KeychainStatus kKeychainInternalComponent = -2070;
inline constexpr KeychainStatus kKeychainNotAvailable = -25291;
inline constexpr KeychainStatus kKeychainAuthFailed = -25293;
inline constexpr KeychainStatus kKeychainDuplicateItem = -25299;
inline constexpr KeychainStatus kKeychainItemNotFound = -25300;
inline constexpr KeychainStatus kKeychainInteractionNotAllowed = -25308;
inline constexpr KeychainStatus kKeychainDecode = -26275;

// Items kept in the fallback file instead of the store they belong in.
struct KeychainFallbackUse {
    // The folder of the file.
    std::filesystem::path folder;
    // The preferred store's answer when it refused an item in this process; nothing when
    // the items were already in the file from an earlier run.
    std::optional<KeychainStatus> refused;
};

// A store of generic-password items: one value (bytes) per service name.
class KeychainStore {
  public:
    virtual ~KeychainStore() = default;

    // Adds an item; kKeychainDuplicateItem when the service already has one.
    virtual KeychainStatus addItem(const std::string& service,
                                   const std::vector<uint8_t>& value) = 0;
    // Copies the item's value; kKeychainItemNotFound when there is none.
    virtual KeychainStatus copyItem(const std::string& service, std::vector<uint8_t>& value) = 0;
    // Deletes the item; kKeychainItemNotFound when there was none.
    virtual KeychainStatus deleteItem(const std::string& service) = 0;
    // For log lines: which store this is.
    virtual std::string storeName() const = 0;
    // Whether items went to (or were read from) a fallback file because the preferred
    // store did not take them; nothing for a store without a fallback.
    virtual std::optional<KeychainFallbackUse> fallbackUse() const { return std::nullopt; }
};

// The keychain of this machine: the Secret Service when one answers on the
// session bus, with a 0600 file in the given folder for the items it does not take;
// the file alone (with a warning in the log) when no Secret Service answers.
std::shared_ptr<KeychainStore> makeSystemKeychainStore(const std::filesystem::path& fallbackFolder);
// The same around a given preferred store (the Secret Service, or a stand-in).
std::shared_ptr<KeychainStore> makeKeychainStore(std::shared_ptr<KeychainStore> preferred,
                                                 const std::filesystem::path& fallbackFolder);

}  // namespace lumvane
