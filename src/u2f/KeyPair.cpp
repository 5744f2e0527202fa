#include "u2f/KeyPair.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/sha.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

#include "crypto/TBNKeyChainManager.h"
#include "u2f/HexEncoding.h"

namespace lumvane {

namespace {

constexpr size_t kPointSize = 65;
constexpr size_t kScalarSize = 32;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
}
void sayStatus(KeychainStatus status) {
    say("Error from keychain: " + std::to_string(status));
}

std::string opensslError() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown error";
    char text[256];
    ERR_error_string_n(code, text, sizeof(text));
    return text;
}

std::shared_ptr<EVP_PKEY> wrap(EVP_PKEY* key) {
    return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

std::optional<Bytes> publicPoint(EVP_PKEY* key) {
    Bytes point(kPointSize);
    size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(),
                                        &length) != 1 ||
        length != kPointSize)
        return std::nullopt;
    return point;
}

std::optional<Bytes> privateScalar(EVP_PKEY* key) {
    BIGNUM* d = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d) != 1) return std::nullopt;
    Bytes scalar(kScalarSize);
    int ok = BN_bn2binpad(d, scalar.data(), static_cast<int>(scalar.size()));
    BN_clear_free(d);
    if (ok != static_cast<int>(kScalarSize)) return std::nullopt;
    return scalar;
}

// A P-256 key from its X9.63 form: 65 bytes public, 97 bytes private.
std::shared_ptr<EVP_PKEY> keyFromX963(const Bytes& data, bool isPrivate, std::string& error) {
    if (data.size() != (isPrivate ? kPointSize + kScalarSize : kPointSize) || data[0] != 0x04) {
        error = "bad key data length or format";
        return nullptr;
    }
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    BIGNUM* d = nullptr;
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, data.data(), kPointSize);
    if (isPrivate) {
        d = BN_bin2bn(data.data() + kPointSize, static_cast<int>(kScalarSize), nullptr);
        OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, d);
    }
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY* key = nullptr;
    bool ok = params && ctx && EVP_PKEY_fromdata_init(ctx) == 1 &&
              EVP_PKEY_fromdata(ctx, &key, isPrivate ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                                params) == 1;
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_clear_free(d);
    if (!ok) {
        error = opensslError();
        EVP_PKEY_free(key);
        return nullptr;
    }
    auto wrapped = wrap(key);
    // The point must lie on the curve and, for a private key, belong to the scalar.
    EVP_PKEY_CTX* check = EVP_PKEY_CTX_new(key, nullptr);
    int valid =
        check ? (isPrivate ? EVP_PKEY_pairwise_check(check) : EVP_PKEY_public_check(check)) : 0;
    EVP_PKEY_CTX_free(check);
    if (valid != 1) {
        error = "key check failed";
        ERR_clear_error();
        return nullptr;
    }
    return wrapped;
}

Bytes applicationLabelOf(EVP_PKEY* key) {
    auto point = publicPoint(key);
    if (!point) return {};
    Bytes digest(SHA_DIGEST_LENGTH);
    ::SHA1(point->data(), point->size(), digest.data());
    return digest;
}

std::optional<Bytes> fromHexText(const std::string& text) {
    if (text.size() % 2) return std::nullopt;
    Bytes out;
    for (size_t i = 0; i < text.size(); i += 2) {
        auto value = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            return -1;
        };
        int hi = value(text[i]), lo = value(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return out;
}

std::shared_ptr<TBNKeyChainManager>& managerSlot() {
    static std::shared_ptr<TBNKeyChainManager> slot;
    return slot;
}

std::string serviceFor(const Bytes& applicationLabel) {
    return std::string(Keychain::kItemPrefix) + hexString(applicationLabel);
}

}  // namespace

struct Keychain::Item {
    std::string label;
    Bytes keyData;  // X9.63 private form
    std::optional<Bytes> tag;
};

std::recursive_mutex& Keychain::mutex() {
    static std::recursive_mutex m;
    return m;
}

void Keychain::setManager(std::shared_ptr<TBNKeyChainManager> manager) {
    std::lock_guard lock(mutex());
    managerSlot() = std::move(manager);
}

std::shared_ptr<TBNKeyChainManager> Keychain::manager() {
    std::lock_guard lock(mutex());
    auto& slot = managerSlot();
    if (!slot)
        slot = std::shared_ptr<TBNKeyChainManager>(&TBNKeyChainManager::sharedManager(),
                                                   [](TBNKeyChainManager*) {});
    return slot;
}

std::optional<std::vector<std::string>> Keychain::readIndex(bool& failed) {
    failed = false;
    Bytes data;
    try {
        data = manager()->dataForKey(std::string(kIndexItem));
    } catch (const TBNKeyChainItemNotFoundException&) {
        return std::vector<std::string>{};
    } catch (const TBNKeyChainException& e) {
        sayStatus(e.statusCode());
        failed = true;
        return std::nullopt;
    }
    auto json = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (!json.is_array()) {
        // Never rewritten while unreadable: the keys it lists would be lost.
        sayStatus(kKeychainDecode);
        failed = true;
        return std::nullopt;
    }
    std::vector<std::string> index;
    for (const auto& entry : json)
        if (entry.is_string()) index.push_back(entry.get<std::string>());
    return index;
}

bool Keychain::writeIndex(const std::vector<std::string>& index) {
    std::string text = nlohmann::json(index).dump();
    try {
        manager()->setData(Bytes(text.begin(), text.end()), std::string(kIndexItem));
        return true;
    } catch (const TBNKeyChainException& e) {
        sayStatus(e.statusCode());
        return false;
    }
}

std::optional<Keychain::Item> Keychain::readItem(const std::string& service, int& status) {
    Bytes data;
    try {
        data = manager()->dataForKey(service);
    } catch (const TBNKeyChainException& e) {
        status = e.statusCode();
        return std::nullopt;
    }
    auto json = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (!json.is_object() || !json.contains("label") || !json["label"].is_string() ||
        !json.contains("privateKey") || !json["privateKey"].is_string()) {
        status = kKeychainDecode;
        return std::nullopt;
    }
    Item item;
    item.label = json["label"].get<std::string>();
    auto key = fromHexText(json["privateKey"].get<std::string>());
    if (!key) {
        status = kKeychainDecode;
        return std::nullopt;
    }
    item.keyData = *key;
    if (json.contains("applicationTag") && json["applicationTag"].is_string()) {
        item.tag = fromHexText(json["applicationTag"].get<std::string>());
    }
    status = kKeychainSuccess;
    return item;
}

bool Keychain::writeItem(const std::string& service, const Item& item) {
    nlohmann::json json = {{"label", item.label}, {"privateKey", hexString(item.keyData)}};
    if (item.tag) json["applicationTag"] = hexString(*item.tag);
    std::string text = json.dump();
    try {
        manager()->setData(Bytes(text.begin(), text.end()), service);
        return true;
    } catch (const TBNKeyChainException& e) {
        sayStatus(e.statusCode());
        return false;
    }
}

namespace {
std::optional<KeyRef> privateRef(const Bytes& keyData) {
    std::string error;
    auto key = keyFromX963(keyData, true, error);
    if (!key) return std::nullopt;
    return KeyRef{key, true};
}
}  // namespace

std::optional<int> Keychain::countKeys(const std::string& label) {
    std::lock_guard lock(mutex());
    bool failed;
    auto index = readIndex(failed);
    if (!index) return std::nullopt;
    int count = 0;
    for (const auto& service : *index) {
        int status;
        auto item = readItem(service, status);
        if (item && item->label == label && ++count == kCountLimit) break;
    }
    return count;
}

std::vector<KeyRef> Keychain::privateKeys(const std::string& label) {
    std::lock_guard lock(mutex());
    std::vector<KeyRef> keys;
    bool failed;
    auto index = readIndex(failed);
    if (!index) return keys;
    for (const auto& service : *index) {
        int status;
        auto item = readItem(service, status);
        if (!item || item->label != label) continue;
        if (auto ref = privateRef(item->keyData)) keys.push_back(*ref);
        if (keys.size() == static_cast<size_t>(kPrivateKeysLimit)) break;
    }
    return keys;
}

std::optional<KeyRef> Keychain::privateKeyByApplicationLabel(const Bytes& applicationLabel,
                                                             const std::string& /*prompt*/) {
    std::lock_guard lock(mutex());
    int status;
    auto item = readItem(serviceFor(applicationLabel), status);
    if (!item) {
        sayStatus(status);
        return std::nullopt;
    }
    auto ref = privateRef(item->keyData);
    if (!ref) sayStatus(kKeychainDecode);
    return ref;
}

std::optional<KeyRef> Keychain::privateKeyByApplicationTag(const Bytes& applicationTag,
                                                           const std::string& /*prompt*/) {
    std::lock_guard lock(mutex());
    bool failed;
    auto index = readIndex(failed);
    if (!index) return std::nullopt;
    for (const auto& service : *index) {
        int status;
        auto item = readItem(service, status);
        if (item && item->tag && *item->tag == applicationTag) {
            auto ref = privateRef(item->keyData);
            if (ref) return ref;
        }
    }
    sayStatus(kKeychainItemNotFound);
    return std::nullopt;
}

std::optional<Bytes> Keychain::privateKeyDataAttribute(const Bytes& applicationLabel,
                                                       KeyAttribute attribute) {
    std::lock_guard lock(mutex());
    int status;
    auto item = readItem(serviceFor(applicationLabel), status);
    if (!item) {
        sayStatus(status);
        return std::nullopt;
    }
    switch (attribute) {
        case KeyAttribute::ApplicationTag:
            return item->tag;
        case KeyAttribute::ApplicationLabel:
            return applicationLabel;
        default:
            return std::nullopt;
    }
}

std::optional<std::string> Keychain::privateKeyStringAttribute(const Bytes& applicationLabel,
                                                               KeyAttribute attribute) {
    std::lock_guard lock(mutex());
    int status;
    auto item = readItem(serviceFor(applicationLabel), status);
    if (!item) {
        sayStatus(status);
        return std::nullopt;
    }
    if (attribute == KeyAttribute::Label) return item->label;
    return std::nullopt;  // no token holds these keys
}

bool Keychain::setPrivateKeyAttribute(const Bytes& applicationLabel, KeyAttribute attribute,
                                      const Bytes& value) {
    std::lock_guard lock(mutex());
    if (attribute != KeyAttribute::ApplicationTag) {
        sayStatus(kKeychainParameterError);
        return false;
    }
    int status;
    std::string service = serviceFor(applicationLabel);
    auto item = readItem(service, status);
    if (!item) {
        sayStatus(status);
        return false;
    }
    item->tag = value;
    return writeItem(service, *item);
}

bool Keychain::deleteItems(const std::optional<std::string>& label,
                           const std::optional<Bytes>& applicationLabel) {
    std::lock_guard lock(mutex());
    bool failed;
    auto index = readIndex(failed);
    if (!index) return false;
    std::vector<std::string> kept;
    bool deleted = false;
    bool error = false;
    for (const auto& service : *index) {
        int status;
        auto item = readItem(service, status);
        bool matches = item && (!label || item->label == *label) &&
                       (!applicationLabel || service == serviceFor(*applicationLabel));
        if (!matches) {
            kept.push_back(service);
            continue;
        }
        try {
            manager()->removeObjectForKey(service);
            deleted = true;
        } catch (const TBNKeyChainException& e) {
            sayStatus(e.statusCode());
            kept.push_back(service);
            error = true;
        }
    }
    if (deleted && !writeIndex(kept)) return false;
    (void)error;
    return deleted;
}

std::optional<Bytes> Keychain::keyDataAttribute(const KeyRef& key, KeyAttribute attribute) {
    if (!key.pkey || attribute != KeyAttribute::ApplicationLabel) return std::nullopt;
    Bytes label = applicationLabelOf(key.pkey.get());
    if (label.empty()) return std::nullopt;
    return label;
}

std::optional<Bytes> Keychain::exportKey(const KeyRef& key) {
    if (!key.pkey) {
        say("Error exporting key");
        return std::nullopt;
    }
    auto point = publicPoint(key.pkey.get());
    if (!point) {
        say("Error exporting key");
        return std::nullopt;
    }
    if (!key.isPrivate) return point;
    auto scalar = privateScalar(key.pkey.get());
    if (!scalar) {
        say("Error exporting key");
        return std::nullopt;
    }
    point->insert(point->end(), scalar->begin(), scalar->end());
    return point;
}

std::optional<KeyRef> Keychain::importPrivateKey(const std::string& label, const Bytes& keyData) {
    std::string error;
    auto key = keyFromX963(keyData, true, error);
    if (!key) {
        say("Error importing key:  " + error);
        return std::nullopt;
    }
    std::lock_guard lock(mutex());
    bool failed;
    auto index = readIndex(failed);
    if (!index) return std::nullopt;
    std::string service = serviceFor(applicationLabelOf(key.get()));
    int status;
    if (readItem(service, status)) {
        say("Error add key:  The specified item already exists in the keychain.");
        return std::nullopt;
    }
    if (!writeItem(service, Item{label, keyData, std::nullopt})) return std::nullopt;
    index->push_back(service);
    if (!writeIndex(*index)) {
        try {
            manager()->removeObjectForKey(service);
        } catch (const TBNKeyChainException&) {
        }
        return std::nullopt;
    }
    return KeyRef{key, true};
}

std::optional<std::pair<KeyRef, KeyRef>> Keychain::generateKeyPair(const std::string& label,
                                                                   bool inSecureEnclave) {
    if (inSecureEnclave) {
        say("Cannot generate keys in a secure element on this system");
        return std::nullopt;
    }
    EVP_PKEY* raw = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (!raw) {
        say("Error generating key pair: " + opensslError());
        return std::nullopt;
    }
    KeyRef privateKey{wrap(raw), true};
    auto data = exportKey(privateKey);
    if (!data) return std::nullopt;
    auto stored = importPrivateKey(label, *data);
    if (!stored) return std::nullopt;
    auto publicKey = copyPublicKey(*stored);
    if (!publicKey) {
        say("Keys not returned from key generation");
        return std::nullopt;
    }
    return std::make_pair(*publicKey, *stored);
}

std::optional<KeyRef> Keychain::copyPublicKey(const KeyRef& key) {
    if (!key.pkey) return std::nullopt;
    auto point = publicPoint(key.pkey.get());
    if (!point) return std::nullopt;
    std::string error;
    auto pub = keyFromX963(*point, false, error);
    if (!pub) return std::nullopt;
    return KeyRef{pub, false};
}

std::optional<Bytes> Keychain::sign(const KeyRef& privateKey, const Bytes& data) {
    if (!privateKey.pkey || !privateKey.isPrivate) {
        say("Error creating signature: not a private key");
        return std::nullopt;
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    size_t length = 0;
    if (!ctx ||
        EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, privateKey.pkey.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &length, data.data(), data.size()) != 1) {
        say("Error creating signature: " + opensslError());
        return std::nullopt;
    }
    Bytes signature(length);
    if (EVP_DigestSign(ctx.get(), signature.data(), &length, data.data(), data.size()) != 1) {
        say("Error creating signature: " + opensslError());
        return std::nullopt;
    }
    signature.resize(length);
    return signature;
}

bool Keychain::verify(const KeyRef& publicKey, const Bytes& data, const Bytes& signature) {
    if (!publicKey.pkey) return false;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr,
                                     publicKey.pkey.get()) != 1) {
        say("Error verifying signature: " + opensslError());
        return false;
    }
    int rc =
        EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(), data.size());
    if (rc == 1) return true;
    say("Error verifying signature: " +
        (rc == 0 ? std::string("the signature does not match") : opensslError()));
    ERR_clear_error();
    return false;
}

void Keychain::repairKeyPairs(const std::string& /*label*/) {}

// ---- KeyPair ----

KeyPair::KeyPair(std::string label, Bytes applicationLabel, KeyRef publicKey, KeyRef privateKey)
    : label_(std::move(label)),
      applicationLabel_(std::move(applicationLabel)),
      publicKey_(std::move(publicKey)),
      privateKey_(std::move(privateKey)) {}

std::optional<Bytes> KeyPair::applicationTag() const {
    return Keychain::privateKeyDataAttribute(applicationLabel_, KeyAttribute::ApplicationTag);
}

void KeyPair::setApplicationTag(const std::optional<Bytes>& tag) const {
    Keychain::setPrivateKeyAttribute(applicationLabel_, KeyAttribute::ApplicationTag,
                                     tag.value_or(Bytes{}));
}

std::optional<Bytes> KeyPair::publicKeyData() const {
    return Keychain::exportKey(publicKey_);
}

std::optional<Bytes> KeyPair::privateKeyData() const {
    return Keychain::exportKey(privateKey_);
}

bool KeyPair::isInSecureEnclave() const {
    return Keychain::privateKeyStringAttribute(applicationLabel_, KeyAttribute::TokenID)
        .has_value();
}

std::optional<KeyPair> KeyPair::generate(const std::string& label, bool inSecureEnclave) {
    auto keys = Keychain::generateKeyPair(label, inSecureEnclave);
    if (!keys) return std::nullopt;
    auto applicationLabel = Keychain::keyDataAttribute(keys->first, KeyAttribute::ApplicationLabel);
    if (!applicationLabel) return std::nullopt;
    return KeyPair(label, *applicationLabel, keys->first, keys->second);
}

std::optional<KeyPair> KeyPair::findByApplicationLabel(const std::string& label,
                                                       const Bytes& applicationLabel,
                                                       const std::string& prompt) {
    auto privateKey = Keychain::privateKeyByApplicationLabel(applicationLabel, prompt);
    if (!privateKey) return std::nullopt;
    auto publicKey = Keychain::copyPublicKey(*privateKey);
    if (!publicKey) return std::nullopt;
    return KeyPair(label, applicationLabel, *publicKey, *privateKey);
}

std::optional<KeyPair> KeyPair::findByApplicationTag(const std::string& label,
                                                     const Bytes& applicationTag,
                                                     const std::string& prompt) {
    auto privateKey = Keychain::privateKeyByApplicationTag(applicationTag, prompt);
    if (!privateKey) return std::nullopt;
    auto publicKey = Keychain::copyPublicKey(*privateKey);
    if (!publicKey) return std::nullopt;
    auto applicationLabel = Keychain::keyDataAttribute(*publicKey, KeyAttribute::ApplicationLabel);
    if (!applicationLabel) return std::nullopt;
    return KeyPair(label, *applicationLabel, *publicKey, *privateKey);
}

bool KeyPair::deleteFromKeychain() const {
    return Keychain::deleteItems(std::nullopt, applicationLabel_);
}

std::optional<Bytes> KeyPair::sign(const Bytes& data) const {
    return Keychain::sign(privateKey_, data);
}

bool KeyPair::verify(const Bytes& data, const Bytes& signature) const {
    return Keychain::verify(publicKey_, data, signature);
}

std::optional<int> KeyPair::countForLabel(const std::string& label) {
    return Keychain::countKeys(label);
}

bool KeyPair::deleteAllForLabel(const std::string& label) {
    return Keychain::deleteItems(label, std::nullopt);
}

std::vector<KeyPair> KeyPair::allForLabel(const std::string& label) {
    std::vector<KeyPair> pairs;
    for (const auto& privateKey : Keychain::privateKeys(label)) {
        auto publicKey = Keychain::copyPublicKey(privateKey);
        auto applicationLabel =
            Keychain::keyDataAttribute(privateKey, KeyAttribute::ApplicationLabel);
        if (!publicKey || !applicationLabel) continue;
        pairs.emplace_back(label, *applicationLabel, *publicKey, privateKey);
    }
    return pairs;
}

void KeyPair::repairForLabel(const std::string& label) {
    Keychain::repairKeyPairs(label);
}

std::vector<KeyPair::ExportRecord> KeyPair::exportForLabel(const std::string& label) {
    std::vector<ExportRecord> records;
    for (const auto& pair : allForLabel(label)) {
        auto privateKey = pair.privateKeyData();
        auto tag = pair.applicationTag();
        if (privateKey && tag)
            records.push_back({{kExportPrivateKey, *privateKey}, {kExportAppTag, *tag}});
    }
    return records;
}

bool KeyPair::importForLabel(const std::string& label, const std::vector<ExportRecord>& records) {
    std::vector<Bytes> existing;
    for (const auto& pair : allForLabel(label))
        if (auto tag = pair.applicationTag()) existing.push_back(*tag);
    for (const auto& record : records) {
        auto tag = record.find(kExportAppTag);
        auto key = record.find(kExportPrivateKey);
        if (tag == record.end() || key == record.end()) continue;
        if (std::find(existing.begin(), existing.end(), tag->second) != existing.end()) continue;
        auto imported = Keychain::importPrivateKey(label, key->second);
        if (!imported) continue;
        if (auto applicationLabel =
                Keychain::keyDataAttribute(*imported, KeyAttribute::ApplicationLabel))
            Keychain::setPrivateKeyAttribute(*applicationLabel, KeyAttribute::ApplicationTag,
                                             tag->second);
    }
    return true;
}

std::string abbreviateForDump(const std::string& text) {
    if (text.size() < 31) return text;
    return text.substr(0, 14) + ".." + text.substr(text.size() - 14);
}

namespace {
std::string dumpHex(const std::optional<Bytes>& bytes) {
    return bytes ? hexString(*bytes) : std::string("<none>");
}
}  // namespace

void KeyPair::dumpForLabel(const std::string& label) {
    auto pairs = allForLabel(label);
    std::printf("------------------------  kcdb  ---------------------------- %zu\n", pairs.size());
    for (const auto& pair : pairs) {
        auto tag = pair.applicationTag();
        std::printf("%s %s %s %s\n", tag ? abbreviateForDump(hexString(*tag)).c_str() : "<unknown>",
                    abbreviateForDump(hexString(pair.applicationLabel())).c_str(),
                    abbreviateForDump(dumpHex(pair.publicKeyData())).c_str(),
                    abbreviateForDump(dumpHex(pair.privateKeyData())).c_str());
    }
    std::printf("------------------------------------------------------------\n");
}

void KeyPair::dumpVerboseForLabel(const std::string& label) {
    auto pairs = allForLabel(label);
    std::printf("------------------------  kcdb  ---------------------------- %zu\n", pairs.size());
    for (const auto& pair : pairs) {
        auto tag = pair.applicationTag();
        std::printf("\n");
        std::printf("     appTag: %s\n", tag ? hexString(*tag).c_str() : "<unknown>");
        std::printf("   appLabel: %s\n", hexString(pair.applicationLabel()).c_str());
        std::printf("  publicKey: %s\n", dumpHex(pair.publicKeyData()).c_str());
        std::printf(" PrivateKey: %s\n", dumpHex(pair.privateKeyData()).c_str());
        std::printf("\n");
    }
    std::printf("------------------------------------------------------------\n");
}

}  // namespace lumvane
