#pragma once
// SHA-256 digests with several output forms, and URL-safe unpadded base64.
#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "runtime/Bytes.h"

namespace lumvane {

class SHA256 {
  public:
    enum class SError { BadEncoding };
    class Exception : public std::runtime_error {
      public:
        Exception() : std::runtime_error("SHA256.SError.BadEncoding") {}
        SError code() const noexcept { return SError::BadEncoding; }
    };

    // Length of the buffer that receives a digest; values below 32 are treated as 32
    // so the digest always fits.
    static std::atomic<int> digestLength;

    explicit SHA256(const Bytes& data);

    const Bytes& digest() const { return digest_; }
    void setDigest(Bytes digest) { digest_ = std::move(digest); }

    std::array<uint8_t, 32> digestBytes() const;
    // Standard base64 (no line breaks) of the digest, as bytes.
    Bytes base64Digest() const;
    std::string webSafeDigest() const;

    static Bytes hashData(const Bytes& data);
    static Bytes hashString(const std::string& string);
    static std::array<uint8_t, 32> hashDataBytes(const Bytes& data);
    // Throws SHA256::Exception (BadEncoding) when the text is not valid UTF-8.
    static std::array<uint8_t, 32> hashStringBytes(const std::string& string);
    static Bytes hashDataBase64(const Bytes& data);
    static std::string hashDataWebSafe(const Bytes& data);

  private:
    Bytes digest_;
};

class WebSafeBase64 {
  public:
    static std::string encode(const Bytes& data);
    // Nothing for a length of 1 modulo 4 or for text that is not base64.
    static std::optional<Bytes> decode(const std::string& text);
    // `length` secure random bytes, encoded; a negative length gives nothing.
    static std::optional<std::string> random(int64_t length = 32);

    // Standard base64 helpers the two classes share.
    static std::string standardEncode(const Bytes& data);
    static std::optional<Bytes> standardDecode(const std::string& text);
};

}  // namespace lumvane
