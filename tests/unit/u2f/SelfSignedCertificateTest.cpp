#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "U2FTestSupport.h"
#include "u2f/SelfSignedCertificate.h"
#include "u2f/SelfSignedCertificateData.h"

using namespace lumvane;
using namespace lumvane::u2ftest;

namespace {

bool verifiesWithCertificate(const Bytes& data, const Bytes& signature) {
    Bytes der = *SelfSignedCertificate::toDer();
    const unsigned char* p = der.data();
    std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &p, der.size()), X509_free);
    EVP_PKEY* key = X509_get0_pubkey(cert.get());
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key);
    return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(),
                            data.size()) == 1;
}

TEST(SelfSignedCertificate, DerIsTheBuiltInCertificate) {
    auto der = SelfSignedCertificate::toDer();
    ASSERT_TRUE(der.has_value());
    EXPECT_EQ(*der, Bytes(kAttestationCertificateDer,
                          kAttestationCertificateDer + kAttestationCertificateDerLength));
    // The FIDO transports extension is present with its value.
    const unsigned char* p = der->data();
    std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &p, der->size()), X509_free);
    ASSERT_TRUE(cert);
    EXPECT_EQ(X509_get_ext_count(cert.get()), 1);
    EXPECT_EQ(X509_check_issued(cert.get(), cert.get()), X509_V_OK);
}

TEST(SelfSignedCertificate, SignaturesVerifyWithTheCertificateKey) {
    for (const Bytes& data : {Bytes{}, hex("00"), repeat(0x61, 1000)}) {
        auto signature = SelfSignedCertificate::signData(data);
        ASSERT_TRUE(signature.has_value());
        EXPECT_LE(signature->size(), 72u);
        EXPECT_EQ((*signature)[0], 0x30);
        EXPECT_TRUE(verifiesWithCertificate(data, *signature));
        EXPECT_FALSE(verifiesWithCertificate(concat({data, hex("01")}), *signature));
    }
}

TEST(SelfSignedCertificate, ParseMeasuresLeadingCertificate) {
    Bytes der = *SelfSignedCertificate::toDer();
    int consumed = -1;
    EXPECT_TRUE(SelfSignedCertificate::parseX509(concat({der, repeat(0x30, 71)}), consumed));
    EXPECT_EQ(consumed, static_cast<int>(der.size()));
    consumed = -1;
    EXPECT_FALSE(SelfSignedCertificate::parseX509(repeat(0x42, 50), consumed));
    EXPECT_FALSE(SelfSignedCertificate::parseX509(Bytes(der.begin(), der.end() - 1), consumed));
    EXPECT_FALSE(SelfSignedCertificate::parseX509({}, consumed));
    EXPECT_EQ(consumed, -1);
}

}  // namespace
