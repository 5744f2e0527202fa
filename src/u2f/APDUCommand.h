#pragma once
// Command side of the security-key message codec: ISO 7816-4 command APDUs in the
// extended-length encoding only, carrying the register, authenticate and version
// requests. Every parse failure is thrown as a ResponseStatusError, whose status
// word is what the browser gets back.
#include <cstdint>
#include <optional>
#include <string>

#include "runtime/Bytes.h"
#include "u2f/APDUResponse.h"
#include "u2f/DataReader.h"

namespace lumvane {

enum class CommandClass : uint8_t { Reserved = 0x00 };

enum class CommandCode : uint8_t {
    Register = 0x01,
    Authenticate = 0x02,
    Version = 0x03,
    CheckRegister = 0x04,
    AuthenticateBatch = 0x05,
};

enum class Control : uint8_t {
    EnforceUserPresenceAndSign = 0x03,
    CheckOnly = 0x07,
    Invalid = 0xFF,
};

std::optional<CommandCode> commandCodeFromByte(uint8_t byte);
std::optional<Control> controlFromByte(uint8_t byte);
const char* commandCodeName(CommandCode code);

template <>
struct EndianEnumTraits<CommandClass> {
    using Raw = uint8_t;
    static std::optional<CommandClass> fromRaw(Raw raw) {
        return raw == 0 ? std::optional(CommandClass::Reserved) : std::nullopt;
    }
    static Raw toRaw(CommandClass c) { return static_cast<Raw>(c); }
};
template <>
struct EndianEnumTraits<CommandCode> {
    using Raw = uint8_t;
    static std::optional<CommandCode> fromRaw(Raw raw) { return commandCodeFromByte(raw); }
    static Raw toRaw(CommandCode c) { return static_cast<Raw>(c); }
};
template <>
struct EndianEnumTraits<Control> {
    using Raw = uint8_t;
    static std::optional<Control> fromRaw(Raw raw) { return controlFromByte(raw); }
    static Raw toRaw(Control c) { return static_cast<Raw>(c); }
};

inline constexpr size_t kU2FChallengeParameterSize = 32;
inline constexpr size_t kU2FApplicationParameterSize = 32;
inline constexpr int64_t kU2FDefaultMaxResponse = 65536;

struct CommandHeader {
    CommandClass cla = CommandClass::Reserved;
    CommandCode ins = CommandCode::Version;
    uint8_t p1 = 0;
    uint8_t p2 = 0;
    int64_t dataLength = 0;

    static CommandHeader make(CommandCode ins, int64_t dataLength, uint8_t p1 = 0, uint8_t p2 = 0,
                              CommandClass cla = CommandClass::Reserved) {
        return {cla, ins, p1, p2, dataLength};
    }
    // Throws std::invalid_argument for a dataLength outside 0..65535.
    Bytes raw() const;
    static CommandHeader fromReader(DataReader& reader);
    // Bytes after the header are ignored.
    static CommandHeader fromRaw(const Bytes& raw);
    void dump() const;

    bool operator==(const CommandHeader&) const = default;
};

struct CommandTrailer {
    bool noBody = false;
    int64_t maxResponse = kU2FDefaultMaxResponse;

    static CommandTrailer make(bool noBody, int64_t maxResponse = kU2FDefaultMaxResponse) {
        return {noBody, maxResponse};
    }
    // Throws std::invalid_argument for a negative maxResponse.
    Bytes raw() const;
    static CommandTrailer fromReader(DataReader& reader);
    static CommandTrailer fromRaw(const Bytes& raw);
    void dump() const;

    bool operator==(const CommandTrailer&) const = default;
};

// header + body + trailer, the raw form of every request.
Bytes commandRaw(const CommandHeader& header, const Bytes& body, const CommandTrailer& trailer);

// Reads header, body and trailer of a whole request; running out of bytes is
// WrongLength, bytes left after the trailer are WrongLength too.
void readCommandParts(const Bytes& raw, CommandHeader& header, Bytes& body,
                      CommandTrailer& trailer);

template <class Self>
struct CommandBase {
    CommandHeader header;
    Bytes body;
    CommandTrailer trailer;

    static Self fromParts(CommandHeader header, Bytes body, CommandTrailer trailer) {
        Self self;
        self.header = header;
        self.body = std::move(body);
        self.trailer = trailer;
        return self;
    }
    static Self fromRaw(const Bytes& raw) {
        CommandHeader header;
        Bytes body;
        CommandTrailer trailer;
        readCommandParts(raw, header, body, trailer);
        Self self = fromParts(header, std::move(body), trailer);
        self.validate();
        return self;
    }
    Bytes raw() const { return commandRaw(header, body, trailer); }
    void validate() const { static_cast<const Self*>(this)->validateBody(); }
};

struct RegisterRequest : CommandBase<RegisterRequest> {
    static RegisterRequest build(const Bytes& challengeParameter,
                                 const Bytes& applicationParameter);
    void validateBody() const;
    Bytes challengeParameter() const;
    Bytes applicationParameter() const;
};

struct AuthenticationRequest : CommandBase<AuthenticationRequest> {
    // Throws std::invalid_argument for a key handle longer than 255 bytes.
    static AuthenticationRequest build(const Bytes& challengeParameter,
                                       const Bytes& applicationParameter, const Bytes& keyHandle,
                                       Control control);
    void validateBody() const;
    Control control() const;
    Bytes challengeParameter() const;
    Bytes applicationParameter() const;
    uint8_t keyHandleLength() const;
    Bytes keyHandle() const;
};

struct VersionRequest : CommandBase<VersionRequest> {
    static VersionRequest build();
    void validateBody() const;
};

}  // namespace lumvane
