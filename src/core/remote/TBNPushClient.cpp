#include "core/remote/TBNPushClient.h"

#include <curl/curl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <algorithm>

#include <fmt/format.h>

#include "runtime/HexString.h"

namespace lumvane {

namespace {

std::string opensslError() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown error";
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    return buffer;
}

// The UID attribute of the subject: Apple's provider certificates carry the bundle id.
std::string userIdOf(X509* cert) {
    X509_NAME* subject = X509_get_subject_name(cert);
    int index = X509_NAME_get_index_by_NID(subject, NID_userId, -1);
    if (index < 0) return {};
    ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length < 0) return {};
    std::string text(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return text;
}

// The body of a refused push is read for its reason only: the first bytes are kept and
// the transfer ends there, whatever the server goes on sending.
constexpr size_t kMaxReplyBody = 512;

struct ReplyBody {
    std::string text;
    bool cut = false;  // the server sent more than was kept
};

size_t appendBody(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<ReplyBody*>(user);
    const size_t n = size * count;
    const size_t room = kMaxReplyBody - body->text.size();
    body->text.append(data, std::min(n, room));
    if (n <= room) return n;
    body->cut = true;
    return 0;  // less than offered: curl stops the transfer
}

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

}  // namespace

std::string ApnsPushClient::hostForEnvironment(PushEnvironment environment) {
    return environment == PushEnvironment::Sandbox ? "https://api.sandbox.push.apple.com"
                                                   : "https://api.push.apple.com";
}

std::shared_ptr<ApnsPushClient> ApnsPushClient::connect(const Bytes& pkcs12,
                                                        const std::string& passphrase,
                                                        PushEnvironment environment,
                                                        std::string* error, Endpoint endpoint) {
    static CurlGlobal curlGlobal;
    auto fail = [&](std::string reason) -> std::shared_ptr<ApnsPushClient> {
        if (error) *error = std::move(reason);
        return nullptr;
    };
    if (pkcs12.empty()) return fail("no certificate data");
    if (pkcs12.size() > 1024 * 1024) return fail("certificate data too large");

    BIO* bio = BIO_new_mem_buf(pkcs12.data(), static_cast<int>(pkcs12.size()));
    PKCS12* p12 = bio ? d2i_PKCS12_bio(bio, nullptr) : nullptr;
    BIO_free(bio);
    if (!p12) return fail("not a PKCS#12 file: " + opensslError());
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    int parsed = PKCS12_parse(p12, passphrase.c_str(), &key, &cert, nullptr);
    PKCS12_free(p12);
    if (parsed != 1 || !key || !cert) {
        EVP_PKEY_free(key);
        X509_free(cert);
        return fail("certificate or pass phrase refused: " + opensslError());
    }
    std::string topic = userIdOf(cert);
    EVP_PKEY_free(key);
    X509_free(cert);

    CURL* curl = curl_easy_init();
    if (!curl) return fail("no HTTP client");
    std::shared_ptr<ApnsPushClient> client(new ApnsPushClient());
    client->curl_ = curl;
    client->pkcs12_ = pkcs12;
    client->passphrase_ = passphrase;
    client->topic_ = std::move(topic);
    client->baseUrl_ =
        endpoint.baseUrl.empty() ? hostForEnvironment(environment) : endpoint.baseUrl;
    client->caFile_ = std::move(endpoint.caFile);
    return client;
}

ApnsPushClient::~ApnsPushClient() {
    if (curl_) curl_easy_cleanup(static_cast<CURL*>(curl_));
}

std::optional<std::string> ApnsPushClient::sendNotification(const PushNotification& notification) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (notification.deviceToken.empty()) return "no device token";
    CURL* curl = static_cast<CURL*>(curl_);
    curl_easy_reset(curl);

    std::string tokenHex = stringWithHexData(notification.deviceToken);
    for (auto& c : tokenHex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string url = baseUrl_ + "/3/device/" + tokenHex;

    curl_slist* headers = nullptr;
    auto addHeader = [&](const std::string& header) {
        headers = curl_slist_append(headers, header.c_str());
    };
    addHeader("content-type: application/json");
    addHeader("apns-push-type: alert");
    addHeader(fmt::format("apns-priority: {}", notification.priority));
    // The binary interface's "no expiration" is 0; the HTTP/2 header means the same.
    addHeader(fmt::format("apns-expiration: {}",
                          notification.expires ? notification.expiration : int64_t{0}));
    if (!topic_.empty()) addHeader("apns-topic: " + topic_);

    curl_blob certBlob{};
    certBlob.data = pkcs12_.data();
    certBlob.len = pkcs12_.size();
    certBlob.flags = CURL_BLOB_COPY;

    ReplyBody body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_2TLS);
    curl_easy_setopt(curl, CURLOPT_SSLCERTTYPE, "P12");
    curl_easy_setopt(curl, CURLOPT_SSLCERT_BLOB, &certBlob);
    curl_easy_setopt(curl, CURLOPT_KEYPASSWD, passphrase_.c_str());
    if (!caFile_.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile_.c_str());
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, notification.payload.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(notification.payload.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");

    CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    // The answer was complete enough once the kept part of its body was in.
    if (result == CURLE_WRITE_ERROR && body.cut && status != 0) result = CURLE_OK;
    if (result != CURLE_OK) return fmt::format("push failed: {}", curl_easy_strerror(result));
    if (status != 200) return fmt::format("push refused with status {}: {}", status, body.text);
    return std::nullopt;
}

}  // namespace lumvane
