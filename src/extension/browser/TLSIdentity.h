#pragma once
// The OpenSSL side of the local TLS identity: making a self-signed certificate for the
// loopback host name and reading one back. No files and no child processes here.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace lumvane {

inline constexpr int kTLSIdentityKeyBits = 2048;  // browsers refuse RSA keys below 2048 bits
inline constexpr int64_t kTLSIdentityValiditySeconds = 3650LL * 24 * 3600;
inline constexpr int64_t kTLSIdentityExpiryMarginSeconds = 172800;  // 48 hours

// PEM texts of a fresh identity. The key text is wiped when the object goes away.
struct TLSIdentityPem {
    std::string certificate;
    std::string privateKey;
    TLSIdentityPem() = default;
    TLSIdentityPem(const TLSIdentityPem&) = delete;
    TLSIdentityPem& operator=(const TLSIdentityPem&) = delete;
    TLSIdentityPem(TLSIdentityPem&&) = default;
    TLSIdentityPem& operator=(TLSIdentityPem&&) = default;
    ~TLSIdentityPem();
};

// RSA 2048, SHA-256, self-signed, valid from a few minutes before `now` for
// `validitySeconds`; the host name is the common name and the only DNS name. Throws
// std::runtime_error when OpenSSL fails.
TLSIdentityPem makeSelfSignedIdentity(std::string_view hostName, int64_t validitySeconds,
                                      std::time_t now);

// True when the certificate text parses, is issued for the host name, and the key text
// is the private half of the certificate's public key.
bool identityPemIsUsable(const std::string& certificatePem, const std::string& privateKeyPem,
                         std::string_view hostName);

// True when the certificate ends at or before now + marginSeconds, or cannot be read.
bool certificateExpiresWithin(const std::string& certificatePem, int64_t marginSeconds,
                              std::time_t now);

// True when both PEM texts hold the same certificate (compared in DER form).
bool sameCertificate(const std::string& pemA, const std::string& pemB);

}  // namespace lumvane
