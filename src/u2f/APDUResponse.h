#pragma once
// Response side of the security-key message codec: status words and the four
// response messages (body followed by a two-byte big-endian status word).
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "runtime/Bytes.h"
#include "u2f/DataReader.h"

namespace lumvane {

enum class ResponseStatus : uint16_t {
    NoError = 0x9000,
    WrongData = 0x6A80,
    ConditionsNotSatisfied = 0x6985,
    CommandNotAllowed = 0x6986,
    InsNotSupported = 0x6D00,
    WrongLength = 0x6700,
    ClassNotSupported = 0x6E00,
    OtherError = 0x6F00,
};

std::optional<ResponseStatus> responseStatusFromWord(uint16_t word);
const char* responseStatusName(ResponseStatus status);

template <>
struct EndianEnumTraits<ResponseStatus> {
    using Raw = uint16_t;
    static std::optional<ResponseStatus> fromRaw(Raw raw) { return responseStatusFromWord(raw); }
    static Raw toRaw(ResponseStatus status) { return static_cast<Raw>(status); }
};

// A status word raised as an error by the request parsers and the authenticator's
// handlers; code() is the status word itself.
class ResponseStatusError : public std::runtime_error {
  public:
    explicit ResponseStatusError(ResponseStatus status)
        : std::runtime_error(std::string("ResponseStatus.") + responseStatusName(status)),
          status_(status) {}
    ResponseStatus status() const noexcept { return status_; }
    int code() const noexcept { return static_cast<int>(status_); }

  private:
    ResponseStatus status_;
};

enum class ResponseErrorCode : int { BadSize = 0, BadStatus = 1, BadCertificate = 2, BadData = 3 };

class ResponseError : public std::runtime_error {
  public:
    explicit ResponseError(ResponseErrorCode code);
    ResponseErrorCode code() const noexcept { return code_; }

  private:
    ResponseErrorCode code_;
};

// Shared raw form of every response: the body, then the status word.
Bytes responseRaw(const Bytes& body, ResponseStatus trailer);

// Splits raw bytes into body and status word. Fewer than two bytes throw
// DataReaderError(End); a word that names no status throws DataReaderError(TypeError).
void splitResponse(const Bytes& raw, Bytes& body, ResponseStatus& trailer);

struct ErrorResponse {
    Bytes body;
    ResponseStatus trailer = ResponseStatus::NoError;

    static ErrorResponse build(ResponseStatus status) { return {Bytes{}, status}; }
    static ErrorResponse fromParts(Bytes body, ResponseStatus trailer) {
        return {std::move(body), trailer};
    }
    static ErrorResponse fromRaw(const Bytes& raw);
    void validate() const;
    Bytes raw() const { return responseRaw(body, trailer); }
};

struct VersionResponse {
    Bytes body;
    ResponseStatus trailer = ResponseStatus::NoError;

    static VersionResponse build(const std::string& version) {
        return {Bytes(version.begin(), version.end()), ResponseStatus::NoError};
    }
    static VersionResponse fromParts(Bytes body, ResponseStatus trailer) {
        return {std::move(body), trailer};
    }
    static VersionResponse fromRaw(const Bytes& raw);
    // The body as text; empty when it is not valid UTF-8.
    std::string version() const;
    void validate() const;
    Bytes raw() const { return responseRaw(body, trailer); }
};

struct RegisterResponse {
    static constexpr size_t kPublicKeySize = 65;
    Bytes body;
    ResponseStatus trailer = ResponseStatus::NoError;

    // Key handles longer than 255 bytes cannot be described by the length byte: throws
    // std::invalid_argument.
    static RegisterResponse build(const Bytes& publicKey, const Bytes& keyHandle,
                                  const Bytes& certificate, const Bytes& signature);
    static RegisterResponse fromParts(Bytes body, ResponseStatus trailer) {
        return {std::move(body), trailer};
    }
    static RegisterResponse fromRaw(const Bytes& raw);
    void validate() const;
    Bytes raw() const { return responseRaw(body, trailer); }

    // The accessors read a body that was built or validated; on a shorter body they
    // answer what is there (empty or 0), never reading past its end.
    uint8_t reservedByte() const;
    Bytes publicKey() const;
    uint8_t keyHandleLength() const;
    Bytes keyHandle() const;
    // The DER certificate after the key handle; empty when none can be measured.
    Bytes certificate() const;
    // The bytes after the certificate.
    Bytes signature() const;

  private:
    size_t certificateOffset() const;
    std::optional<size_t> certificateLength() const;
};

struct AuthenticationResponse {
    Bytes body;
    ResponseStatus trailer = ResponseStatus::NoError;

    static AuthenticationResponse build(uint8_t userPresence, uint32_t counter,
                                        const Bytes& signature);
    static AuthenticationResponse fromParts(Bytes body, ResponseStatus trailer) {
        return {std::move(body), trailer};
    }
    static AuthenticationResponse fromRaw(const Bytes& raw);
    void validate() const;
    Bytes raw() const { return responseRaw(body, trailer); }

    uint8_t userPresence() const;
    uint32_t counter() const;
    Bytes signature() const;
};

}  // namespace lumvane
