#include "u2f/SelfSignedCertificate.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <climits>
#include <cstdio>
#include <memory>

#include "u2f/SelfSignedCertificateData.h"

namespace lumvane {

namespace {
void say(const char* line) {
    std::printf("%s\n", line);
}
}  // namespace

std::optional<Bytes> SelfSignedCertificate::toDer() {
    const unsigned char* p = kAttestationCertificateDer;
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(kAttestationCertificateDerLength));
    if (!cert) {
        say("failed to parse cert");
        return std::nullopt;
    }
    unsigned char* out = nullptr;
    int length = i2d_X509(cert, &out);
    if (length < 0) {
        say("failed to export cert");
        X509_free(cert);
        return std::nullopt;
    }
    X509_free(cert);
    Bytes der(out, out + length);
    OPENSSL_free(out);
    return der;
}

std::optional<Bytes> SelfSignedCertificate::signData(const Bytes& data) {
    const unsigned char* p = kAttestationPrivateKeyDer;
    // The SEC1 ECPrivateKey structure of the attestation key.
    EVP_PKEY* pkey = d2i_PrivateKey(EVP_PKEY_EC, nullptr, &p,
                                    static_cast<long>(kAttestationPrivateKeyDerLength));
    if (!pkey) {
        say("error importing private key");
        return std::nullopt;
    }
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(pkey, EVP_PKEY_free);
    {
        std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> check(
            EVP_PKEY_CTX_new(pkey, nullptr), EVP_PKEY_CTX_free);
        if (!check || EVP_PKEY_check(check.get()) != 1) {
            say("error checking key");
            return std::nullopt;
        }
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, pkey) != 1) {
        say("failed to init signing context");
        return std::nullopt;
    }
    if (EVP_DigestSignUpdate(ctx.get(), data.data(), data.size()) != 1) {
        say("failed to update digest");
        return std::nullopt;
    }
    int maxSize = EVP_PKEY_get_size(pkey);
    if (maxSize <= 0) {
        say("failed to malloc for sig");
        return std::nullopt;
    }
    Bytes signature(static_cast<size_t>(maxSize));
    size_t length = signature.size();
    if (EVP_DigestSignFinal(ctx.get(), signature.data(), &length) != 1) {
        say("failed to finalize digest");
        return std::nullopt;
    }
    signature.resize(length);
    return signature;
}

bool SelfSignedCertificate::parseX509(const Bytes& data, int& consumed) {
    if (data.empty() || data.size() > static_cast<size_t>(LONG_MAX)) return false;
    const unsigned char* start = data.data();
    const unsigned char* p = start;
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(data.size()));
    if (!cert) return false;
    X509_free(cert);
    consumed = static_cast<int>(p - start);
    return true;
}

}  // namespace lumvane
