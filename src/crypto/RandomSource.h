#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>

namespace lumvane {

// Raised when the system random source fails: there is no safe fallback.
class CryptoRandomError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Where every key, salt, token and generated password takes its randomness from.
class RandomSource {
  public:
    virtual ~RandomSource() = default;
    // Fills the whole buffer or throws CryptoRandomError.
    virtual void fill(std::span<uint8_t> out) = 0;
};

// The operating system's CSPRNG (OpenSSL RAND_bytes).
RandomSource& systemRandomSource();

// The source in use; the system source unless a test has swapped in another.
RandomSource& currentRandomSource();

// Swaps the process-wide source for the life of the object (tests only:
// deterministic salts and keys). Not meant to be nested across threads.
class ScopedRandomSource {
  public:
    explicit ScopedRandomSource(RandomSource& source);
    ~ScopedRandomSource();
    ScopedRandomSource(const ScopedRandomSource&) = delete;
    ScopedRandomSource& operator=(const ScopedRandomSource&) = delete;

  private:
    RandomSource* previous_;
};

// Uniform integer in [0, bound) by rejection sampling (no modulo bias).
// A bound of 0 yields 0.
uint32_t randomUniform32(uint32_t bound);
uint64_t randomUniform64(uint64_t bound);

}  // namespace lumvane
