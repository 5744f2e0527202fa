#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "crypto/CryptoTypes.h"

namespace lumvane {

// HOTP codes (RFC 4226) with HMAC-SHA1, -SHA256, -SHA512 or -MD5.
class OTPGenerator {
  public:
    virtual ~OTPGenerator() = default;

    static std::string defaultAlgorithm() { return "SHA1"; }
    static uint64_t defaultDigits() { return 6; }

    const std::string& algorithm() const { return algorithm_; }
    void setAlgorithm(std::string algorithm) { algorithm_ = std::move(algorithm); }
    const Bytes& secret() const { return secret_; }
    void setSecret(Bytes secret) { secret_ = std::move(secret); }
    uint64_t digits() const { return digits_; }

    // The code for a counter as exactly digits() decimal characters; nothing when
    // the algorithm name is not one of the four.
    std::optional<std::string> generateOTPForCounter(uint64_t counter) const;
    virtual std::optional<std::string> generateOTP() = 0;

  protected:
    OTPGenerator(Bytes secret, std::string algorithm, uint64_t digits)
        : algorithm_(std::move(algorithm)), secret_(std::move(secret)), digits_(digits) {}
    // Whether creation accepts these values (exact algorithm names, 6 to 8 digits,
    // a secret given; an empty secret is fine).
    static bool accepts(const std::optional<Bytes>& secret, const std::string& algorithm,
                        uint64_t digits);

  private:
    std::string algorithm_;
    Bytes secret_;
    uint64_t digits_;
};

// Time-based codes (RFC 6238).
class TOTPGenerator : public OTPGenerator {
  public:
    // Seconds since 1970-01-01 UTC as a double: far-future test times (year
    // 2603) fit, and fractions are kept.
    using Date = std::chrono::time_point<std::chrono::system_clock, std::chrono::duration<double>>;

    static double defaultPeriod() { return 30.0; }

    // Nothing unless the base values are accepted and 0 < period <= 300.
    static std::unique_ptr<TOTPGenerator> initWithSecret(std::optional<Bytes> secret,
                                                         std::string algorithm, uint64_t digits,
                                                         double period);

    double period() const { return period_; }
    void setPeriod(double period) { period_ = period; }

    // The code of now.
    std::optional<std::string> generateOTP() override;
    // The code of the given time, of now when missing.
    std::optional<std::string> generateOTPForDate(std::optional<Date> date) const;

  private:
    TOTPGenerator(Bytes secret, std::string algorithm, uint64_t digits, double period)
        : OTPGenerator(std::move(secret), std::move(algorithm), digits), period_(period) {}
    double period_;
};

// Counter-based codes that keep and advance their own counter.
class HOTPGenerator : public OTPGenerator {
  public:
    static uint64_t defaultInitialCounter() { return 1; }

    static std::unique_ptr<HOTPGenerator> initWithSecret(std::optional<Bytes> secret,
                                                         std::string algorithm, uint64_t digits,
                                                         uint64_t counter);

    uint64_t counter() const { return counter_; }
    void setCounter(uint64_t counter) { counter_ = counter; }

    // Advances the counter by one (also when no code comes out) and returns the
    // code of the new counter.
    std::optional<std::string> generateOTP() override;

  private:
    HOTPGenerator(Bytes secret, std::string algorithm, uint64_t digits, uint64_t counter)
        : OTPGenerator(std::move(secret), std::move(algorithm), digits), counter_(counter) {}
    uint64_t counter_;
};

}  // namespace lumvane
