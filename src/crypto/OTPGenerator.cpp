#include "crypto/OTPGenerator.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumvane {

namespace {

const EVP_MD* digestFor(const std::string& algorithm) {
    if (algorithm == "SHA1") return EVP_sha1();
    if (algorithm == "SHA256") return EVP_sha256();
    if (algorithm == "SHA512") return EVP_sha512();
    if (algorithm == "MD5") return EVP_md5();
    return nullptr;
}

constexpr uint32_t kPowersOfTen[] = {1,      10,      100,      1000,      10000,
                                     100000, 1000000, 10000000, 100000000, 1000000000};

}  // namespace

bool OTPGenerator::accepts(const std::optional<Bytes>& secret, const std::string& algorithm,
                           uint64_t digits) {
    return secret.has_value() && digestFor(algorithm) != nullptr && digits >= 6 && digits <= 8;
}

std::optional<std::string> OTPGenerator::generateOTPForCounter(uint64_t counter) const {
    const EVP_MD* md = digestFor(algorithm_);
    if (md == nullptr || digits_ < 1 || digits_ > 9) {
        return std::nullopt;
    }
    unsigned char message[8];
    for (int i = 7; i >= 0; --i) {
        message[i] = static_cast<unsigned char>(counter & 0xFF);
        counter >>= 8;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    static const unsigned char kEmptyKey[1] = {0};
    if (HMAC(md, secret_.empty() ? kEmptyKey : secret_.data(), static_cast<int>(secret_.size()),
             message, sizeof message, digest, &length) == nullptr ||
        length < 4) {
        return std::nullopt;
    }
    // The offset nibble can reach 15, which would run past a 16-byte MD5 digest:
    // the window is clamped so that it always ends inside the digest.
    const size_t offset = std::min<size_t>(digest[length - 1] & 0x0F, length - 4);
    const uint32_t binary = (uint32_t{digest[offset]} & 0x7F) << 24 |
                            uint32_t{digest[offset + 1]} << 16 | uint32_t{digest[offset + 2]} << 8 |
                            uint32_t{digest[offset + 3]};
    const uint32_t code = binary % kPowersOfTen[digits_];
    char text[16];
    std::snprintf(text, sizeof text, "%0*u", static_cast<int>(digits_), code);
    return std::string(text);
}

std::unique_ptr<TOTPGenerator> TOTPGenerator::initWithSecret(std::optional<Bytes> secret,
                                                             std::string algorithm, uint64_t digits,
                                                             double period) {
    if (!accepts(secret, algorithm, digits) || !(period > 0.0 && period <= 300.0)) {
        return nullptr;
    }
    return std::unique_ptr<TOTPGenerator>(
        new TOTPGenerator(std::move(*secret), std::move(algorithm), digits, period));
}

std::optional<std::string> TOTPGenerator::generateOTP() {
    return generateOTPForDate(std::nullopt);
}

std::optional<std::string> TOTPGenerator::generateOTPForDate(std::optional<Date> date) const {
    const Date when = date.value_or(Date(std::chrono::system_clock::now()));
    const double steps = std::trunc(when.time_since_epoch().count() / period_);
    // Times before 1970 (or a period set to something unusable) give counter 0
    // rather than an undefined conversion; far-future times saturate.
    uint64_t counter = 0;
    if (steps >= 18446744073709551615.0) {
        counter = UINT64_MAX;
    } else if (steps > 0.0) {
        counter = static_cast<uint64_t>(steps);
    }
    return generateOTPForCounter(counter);
}

std::unique_ptr<HOTPGenerator> HOTPGenerator::initWithSecret(std::optional<Bytes> secret,
                                                             std::string algorithm, uint64_t digits,
                                                             uint64_t counter) {
    if (!accepts(secret, algorithm, digits)) {
        return nullptr;
    }
    return std::unique_ptr<HOTPGenerator>(
        new HOTPGenerator(std::move(*secret), std::move(algorithm), digits, counter));
}

std::optional<std::string> HOTPGenerator::generateOTP() {
    const uint64_t next = counter() + 1;
    auto code = generateOTPForCounter(next);
    setCounter(next);
    return code;
}

}  // namespace lumvane
