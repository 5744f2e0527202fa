#include "extension/browser/TLSIdentity.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace lumvane {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

using BioPtr = Owned<BIO, BIO_free_all>;
using X509Ptr = Owned<X509, X509_free>;
using KeyPtr = Owned<EVP_PKEY, EVP_PKEY_free>;
using BignumPtr = Owned<BIGNUM, BN_free>;
using ExtensionPtr = Owned<X509_EXTENSION, X509_EXTENSION_free>;

// Subject of the certificate; the maker's details, the unit and the host name.
constexpr const char* kSubjectCountry = "US";
constexpr const char* kSubjectState = "Delaware";
constexpr const char* kSubjectLocality = "Wilmington";
constexpr const char* kSubjectOrganisation = "Tobrin Inc.";
constexpr const char* kSubjectUnit = "Dev";
constexpr const char* kSubjectEmail = "support@lumvane.io";
// Issued a little in the past so that a clock a few minutes behind still accepts it.
constexpr int64_t kBackdateSeconds = 300;

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(what);
}

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

X509Ptr readCertificate(const std::string& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return nullptr;
    return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

void addText(X509_NAME* name, const char* field, std::string_view value) {
    if (X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.data()),
                                   static_cast<int>(value.size()), -1, 0) != 1) {
        fail("cannot build the certificate subject");
    }
}

void addExtension(X509* cert, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    if (!extension || X509_add_ext(cert, extension.get(), -1) != 1) {
        fail("cannot add a certificate extension");
    }
}

void setRandomSerial(X509* cert) {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) fail("no random bytes for the serial number");
    bytes[0] &= 0x7f;  // serial numbers are positive
    BignumPtr serial(BN_bin2bn(bytes, sizeof bytes, nullptr));
    if (!serial || !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert))) {
        fail("cannot set the serial number");
    }
}

}  // namespace

TLSIdentityPem::~TLSIdentityPem() {
    if (!privateKey.empty()) OPENSSL_cleanse(privateKey.data(), privateKey.size());
}

TLSIdentityPem makeSelfSignedIdentity(std::string_view hostName, int64_t validitySeconds,
                                      std::time_t now) {
    KeyPtr key(EVP_RSA_gen(kTLSIdentityKeyBits));
    if (!key) fail("cannot generate the RSA key");

    X509Ptr cert(X509_new());
    if (!cert) fail("out of memory");
    if (X509_set_version(cert.get(), 2) != 1) fail("cannot set the certificate version");
    setRandomSerial(cert.get());
    if (!X509_time_adj_ex(X509_getm_notBefore(cert.get()), 0, -kBackdateSeconds, &now) ||
        !X509_time_adj_ex(X509_getm_notAfter(cert.get()), 0, static_cast<long>(validitySeconds),
                          &now)) {
        fail("cannot set the validity");
    }
    if (X509_set_pubkey(cert.get(), key.get()) != 1) fail("cannot set the public key");

    X509_NAME* subject = X509_get_subject_name(cert.get());
    addText(subject, "C", kSubjectCountry);
    addText(subject, "ST", kSubjectState);
    addText(subject, "L", kSubjectLocality);
    addText(subject, "O", kSubjectOrganisation);
    addText(subject, "OU", kSubjectUnit);
    addText(subject, "CN", hostName);
    addText(subject, "emailAddress", kSubjectEmail);
    if (X509_set_issuer_name(cert.get(), subject) != 1) fail("cannot set the issuer");

    addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment");
    addExtension(cert.get(), NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), NID_subject_alt_name, "DNS:" + std::string(hostName));
    addExtension(cert.get(), NID_subject_key_identifier, "hash");
    addExtension(cert.get(), NID_authority_key_identifier, "keyid:always");

    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) fail("cannot sign the certificate");

    TLSIdentityPem pem;
    BioPtr certBio(BIO_new(BIO_s_mem()));
    if (!certBio || PEM_write_bio_X509(certBio.get(), cert.get()) != 1) {
        fail("cannot encode the certificate");
    }
    pem.certificate = bioText(certBio.get());

    BioPtr keyBio(BIO_new(BIO_s_secmem()));
    if (!keyBio) keyBio.reset(BIO_new(BIO_s_mem()));
    if (!keyBio || PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                            nullptr) != 1) {
        fail("cannot encode the private key");
    }
    pem.privateKey = bioText(keyBio.get());
    return pem;
}

bool identityPemIsUsable(const std::string& certificatePem, const std::string& privateKeyPem,
                         std::string_view hostName) {
    X509Ptr cert = readCertificate(certificatePem);
    if (!cert) return false;
    BioPtr keyBio(BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())));
    if (!keyBio) return false;
    KeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (!key) return false;
    if (X509_check_private_key(cert.get(), key.get()) != 1) return false;
    return X509_check_host(cert.get(), hostName.data(), hostName.size(),
                           X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr) == 1;
}

bool certificateExpiresWithin(const std::string& certificatePem, int64_t marginSeconds,
                              std::time_t now) {
    X509Ptr cert = readCertificate(certificatePem);
    if (!cert) return true;
    std::time_t limit = now + static_cast<std::time_t>(marginSeconds);
    // -1: ends before or at the limit; 0: the time could not be read.
    return X509_cmp_time(X509_get0_notAfter(cert.get()), &limit) != 1;
}

bool sameCertificate(const std::string& pemA, const std::string& pemB) {
    X509Ptr a = readCertificate(pemA);
    X509Ptr b = readCertificate(pemB);
    return a && b && X509_cmp(a.get(), b.get()) == 0;
}

}  // namespace lumvane
