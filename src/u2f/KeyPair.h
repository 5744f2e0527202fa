#pragma once
// P-256 key pairs of the security key, kept in the keychain (generic-password items
// of TBNKeyChainManager, so the Secret Service or the file store). A pair belongs to
// a use by its label; it is told apart from the other pairs of that label by its
// application label (SHA-1 of the public point, assigned when the key is stored) and
// by its application tag, which its owner writes.
//
// Only the private key is stored; the public key is derived from it. An index item
// lists the stored keys so they can be found by label or by tag.
//
// Failures give an empty result and, where noted, print one line to standard output.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/Bytes.h"

typedef struct evp_pkey_st EVP_PKEY;

namespace lumvane {

class TBNKeyChainManager;

// One key: a private key (with its public half) or a public key alone.
struct KeyRef {
    std::shared_ptr<EVP_PKEY> pkey;
    bool isPrivate = false;
};

enum class KeyAttribute { Label, ApplicationLabel, ApplicationTag, TokenID };

class Keychain {
  public:
    static constexpr const char* kIndexItem = "com.tobrin.lumvane.u2f.keys";
    static constexpr const char* kItemPrefix = "com.tobrin.lumvane.u2f.key.";
    static constexpr int kCountLimit = 100;
    static constexpr int kPrivateKeysLimit = 1000;

    // The keychain the key items live in; TBNKeyChainManager::sharedManager() unless
    // set (tests give one over an in-memory store).
    static void setManager(std::shared_ptr<TBNKeyChainManager> manager);

    static std::optional<int> countKeys(const std::string& label);
    static std::vector<KeyRef> privateKeys(const std::string& label);
    // The prompt is what a system that asks the user would show; software keys need
    // no consent and ignore it.
    static std::optional<KeyRef> privateKeyByApplicationLabel(const Bytes& applicationLabel,
                                                              const std::string& prompt);
    static std::optional<KeyRef> privateKeyByApplicationTag(const Bytes& applicationTag,
                                                            const std::string& prompt);
    static std::optional<Bytes> privateKeyDataAttribute(const Bytes& applicationLabel,
                                                        KeyAttribute attribute);
    static std::optional<std::string> privateKeyStringAttribute(const Bytes& applicationLabel,
                                                                KeyAttribute attribute);
    // Only the application tag can be written.
    static bool setPrivateKeyAttribute(const Bytes& applicationLabel, KeyAttribute attribute,
                                       const Bytes& value);
    // Deletes every key item matching the given fields; true when any was deleted.
    static bool deleteItems(const std::optional<std::string>& label,
                            const std::optional<Bytes>& applicationLabel);
    static std::optional<Bytes> keyDataAttribute(const KeyRef& key, KeyAttribute attribute);
    // X9.63: the uncompressed public point, followed for a private key by the scalar.
    static std::optional<Bytes> exportKey(const KeyRef& key);
    static std::optional<KeyRef> importPrivateKey(const std::string& label, const Bytes& keyData);
    // A stored pair (public, private). There is no secure element here: asking for
    // one prints a line and gives nothing rather than a weaker key.
    static std::optional<std::pair<KeyRef, KeyRef>> generateKeyPair(const std::string& label,
                                                                    bool inSecureEnclave);
    static std::optional<KeyRef> copyPublicKey(const KeyRef& key);
    // DER ECDSA signature over SHA-256 of the data.
    static std::optional<Bytes> sign(const KeyRef& privateKey, const Bytes& data);
    static bool verify(const KeyRef& publicKey, const Bytes& data, const Bytes& signature);
    // Moves application tags from stored public-key items to their private keys.
    // Public keys are never stored here, so there is nothing to move.
    static void repairKeyPairs(const std::string& label);

  private:
    struct Item;
    static std::shared_ptr<TBNKeyChainManager> manager();
    static std::optional<std::vector<std::string>> readIndex(bool& failed);
    static bool writeIndex(const std::vector<std::string>& index);
    static std::optional<Item> readItem(const std::string& service, int& status);
    static bool writeItem(const std::string& service, const Item& item);
    static std::recursive_mutex& mutex();
};

class KeyPair {
  public:
    static constexpr const char* kExportPrivateKey = "privateKey";
    static constexpr const char* kExportAppTag = "appTag";
    using ExportRecord = std::map<std::string, Bytes>;

    KeyPair(std::string label, Bytes applicationLabel, KeyRef publicKey, KeyRef privateKey);

    const std::string& label() const { return label_; }
    const Bytes& applicationLabel() const { return applicationLabel_; }
    const KeyRef& publicKey() const { return publicKey_; }
    const KeyRef& privateKey() const { return privateKey_; }

    std::optional<Bytes> applicationTag() const;
    // Writing nothing writes empty bytes.
    void setApplicationTag(const std::optional<Bytes>& tag) const;
    std::optional<Bytes> publicKeyData() const;
    std::optional<Bytes> privateKeyData() const;
    bool isInSecureEnclave() const;

    static std::optional<KeyPair> generate(const std::string& label, bool inSecureEnclave);
    static std::optional<KeyPair> findByApplicationLabel(const std::string& label,
                                                         const Bytes& applicationLabel,
                                                         const std::string& prompt);
    static std::optional<KeyPair> findByApplicationTag(const std::string& label,
                                                       const Bytes& applicationTag,
                                                       const std::string& prompt);

    bool deleteFromKeychain() const;
    std::optional<Bytes> sign(const Bytes& data) const;
    bool verify(const Bytes& data, const Bytes& signature) const;

    static std::optional<int> countForLabel(const std::string& label);
    static bool deleteAllForLabel(const std::string& label);
    static std::vector<KeyPair> allForLabel(const std::string& label);
    static void repairForLabel(const std::string& label);
    static std::vector<ExportRecord> exportForLabel(const std::string& label);
    static bool importForLabel(const std::string& label, const std::vector<ExportRecord>& records);
    static void dumpForLabel(const std::string& label);
    static void dumpVerboseForLabel(const std::string& label);

  private:
    std::string label_;
    Bytes applicationLabel_;
    KeyRef publicKey_;
    KeyRef privateKey_;
};

// Texts of 31 bytes or more become their first 14 characters, "..", and their last 14.
std::string abbreviateForDump(const std::string& text);

}  // namespace lumvane
