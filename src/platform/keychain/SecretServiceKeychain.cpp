#include "platform/keychain/SecretServiceKeychain.h"

#include <libsecret/secret.h>

#include <mutex>

#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

const SecretSchema* schema() {
    static const SecretSchema kSchema = {"com.tobrin.lumvane.GenericPassword",
                                         SECRET_SCHEMA_NONE,
                                         {
                                             {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                             {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         },
                                         0,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr};
    return &kSchema;
}

struct Attributes {
    explicit Attributes(const std::string& service)
        : table(g_hash_table_new(g_str_hash, g_str_equal)) {
        g_hash_table_insert(table, const_cast<char*>("service"),
                            const_cast<char*>(service.c_str()));
    }
    ~Attributes() { g_hash_table_unref(table); }
    GHashTable* table;
};

// Locked collections and refused prompts need the user; everything else that
// fails means the service did not answer properly.
KeychainStatus statusOf(GError* error) {
    if (error == nullptr) {
        return kKeychainSuccess;
    }
    KeychainStatus status = kKeychainNotAvailable;
    if (error->domain == secret_error_get_quark()) {
        switch (error->code) {
            case SECRET_ERROR_IS_LOCKED:
                status = kKeychainInteractionNotAllowed;
                break;
            case SECRET_ERROR_NO_SUCH_OBJECT:
                status = kKeychainItemNotFound;
                break;
            case SECRET_ERROR_ALREADY_EXISTS:
                status = kKeychainDuplicateItem;
                break;
            default:
                break;
        }
    } else if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED) {
        status = kKeychainUserCanceled;
    }
    TBN_LOG_ERROR("keychain", "Secret Service error {} ({})", error->code,
                  error->message ? error->message : "");
    g_error_free(error);
    return status;
}

}  // namespace

std::shared_ptr<SecretServiceKeychain> SecretServiceKeychain::connect() {
    GError* error = nullptr;
    // Opening a session talks to the service, so a bus without one fails here.
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (service == nullptr || error != nullptr) {
        if (error != nullptr) {
            TBN_LOG_INFO("keychain", "No Secret Service: {}", error->message ? error->message : "");
            g_error_free(error);
        }
        if (service != nullptr) {
            g_object_unref(service);
        }
        return nullptr;
    }
    g_object_unref(service);
    return std::shared_ptr<SecretServiceKeychain>(new SecretServiceKeychain());
}

KeychainStatus SecretServiceKeychain::addItem(const std::string& service,
                                              const std::vector<uint8_t>& value) {
    std::vector<uint8_t> existing;
    const KeychainStatus found = copyItem(service, existing);
    std::fill(existing.begin(), existing.end(), 0);
    if (found == kKeychainSuccess) {
        return kKeychainDuplicateItem;
    }
    if (found != kKeychainItemNotFound) {
        return found;
    }
    Attributes attributes(service);
    SecretValue* secret =
        secret_value_new(reinterpret_cast<const gchar*>(value.data()),
                         static_cast<gssize>(value.size()), "application/octet-stream");
    GError* error = nullptr;
    const std::string label = "Lumvane: " + service;
    secret_password_storev_binary_sync(schema(), attributes.table, SECRET_COLLECTION_DEFAULT,
                                       label.c_str(), secret, nullptr, &error);
    secret_value_unref(secret);
    return statusOf(error);
}

KeychainStatus SecretServiceKeychain::copyItem(const std::string& service,
                                               std::vector<uint8_t>& value) {
    Attributes attributes(service);
    GError* error = nullptr;
    SecretValue* secret =
        secret_password_lookupv_binary_sync(schema(), attributes.table, nullptr, &error);
    if (error != nullptr) {
        if (secret != nullptr) {
            secret_value_unref(secret);
        }
        return statusOf(error);
    }
    if (secret == nullptr) {
        return kKeychainItemNotFound;
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(secret, &length);
    value.assign(reinterpret_cast<const uint8_t*>(bytes),
                 reinterpret_cast<const uint8_t*>(bytes) + length);
    secret_value_unref(secret);
    return kKeychainSuccess;
}

KeychainStatus SecretServiceKeychain::deleteItem(const std::string& service) {
    Attributes attributes(service);
    GError* error = nullptr;
    const gboolean removed =
        secret_password_clearv_sync(schema(), attributes.table, nullptr, &error);
    if (error != nullptr) {
        return statusOf(error);
    }
    return removed ? kKeychainSuccess : kKeychainItemNotFound;
}

}  // namespace lumvane
