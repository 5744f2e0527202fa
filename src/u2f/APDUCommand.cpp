#include "u2f/APDUCommand.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <stdexcept>

namespace lumvane {

std::optional<CommandCode> commandCodeFromByte(uint8_t byte) {
    if (byte >= 0x01 && byte <= 0x05) return static_cast<CommandCode>(byte);
    return std::nullopt;
}

std::optional<Control> controlFromByte(uint8_t byte) {
    switch (byte) {
        case 0x03:
        case 0x07:
        case 0xFF:
            return static_cast<Control>(byte);
        default:
            return std::nullopt;
    }
}

const char* commandCodeName(CommandCode code) {
    switch (code) {
        case CommandCode::Register:
            return "Register";
        case CommandCode::Authenticate:
            return "Authenticate";
        case CommandCode::Version:
            return "Version";
        case CommandCode::CheckRegister:
            return "CheckRegister";
        case CommandCode::AuthenticateBatch:
            return "AuthenticateBatch";
    }
    return "Unknown";
}

namespace {
[[noreturn]] void fail(ResponseStatus status) {
    throw ResponseStatusError(status);
}

Bytes slice(const Bytes& bytes, size_t from, size_t count) {
    if (from >= bytes.size()) return {};
    count = std::min(count, bytes.size() - from);
    return Bytes(bytes.begin() + static_cast<long>(from),
                 bytes.begin() + static_cast<long>(from + count));
}

// Runs a read step and turns running out of bytes into WrongLength.
template <class F>
auto lengthChecked(F&& step) {
    try {
        return step();
    } catch (const DataReaderError&) {
        fail(ResponseStatus::WrongLength);
    }
}
}  // namespace

// ---- header ----

Bytes CommandHeader::raw() const {
    if (dataLength < 0 || dataLength > 0xFFFF)
        throw std::invalid_argument("command data length outside 0..65535");
    DataWriter writer;
    writer.writeRaw(cla);
    writer.writeRaw(ins);
    writer.write(p1);
    writer.write(p2);
    if (dataLength > 0) {
        writer.write(uint8_t{0});
        writer.write(static_cast<uint16_t>(dataLength));
    }
    return writer.buffer();
}

CommandHeader CommandHeader::fromReader(DataReader& reader) {
    return lengthChecked([&] {
        CommandHeader header;
        if (reader.read<uint8_t>() != 0x00) fail(ResponseStatus::ClassNotSupported);
        auto ins = commandCodeFromByte(reader.read<uint8_t>());
        if (!ins) fail(ResponseStatus::InsNotSupported);
        header.ins = *ins;
        header.p1 = reader.read<uint8_t>();
        header.p2 = reader.read<uint8_t>();
        if (reader.remaining() < 3) fail(ResponseStatus::WrongLength);
        if (reader.remaining() == 3) {
            header.dataLength = 0;  // the three bytes are an extended Le
            return header;
        }
        if (reader.read<uint8_t>() != 0x00) fail(ResponseStatus::WrongLength);
        header.dataLength = reader.read<uint16_t>();
        return header;
    });
}

CommandHeader CommandHeader::fromRaw(const Bytes& raw) {
    DataReader reader(raw);
    return fromReader(reader);
}

void CommandHeader::dump() const {
    std::printf("Command Header:\n");
    std::printf("  cla:      %s\n", "Reserved");
    std::printf("  ins:      %s\n", commandCodeName(ins));
    std::printf("  p1:       0x%02x\n", p1);
    std::printf("  p2:       0x%02x\n", p2);
    std::printf("  data len: %" PRId64 "\n", dataLength);
}

// ---- trailer ----

Bytes CommandTrailer::raw() const {
    if (maxResponse < 0) throw std::invalid_argument("negative expected response length");
    DataWriter writer;
    if (noBody) writer.write(uint8_t{0});
    writer.write(static_cast<uint16_t>(maxResponse < 65536 ? maxResponse : 0));
    return writer.buffer();
}

CommandTrailer CommandTrailer::fromReader(DataReader& reader) {
    return lengthChecked([&] {
        CommandTrailer trailer;
        trailer.noBody = false;
        if (reader.remaining() == 3) {
            if (reader.read<uint8_t>() != 0x00) fail(ResponseStatus::WrongLength);
            trailer.noBody = true;
        }
        if (reader.remaining() == 0) {
            trailer.maxResponse = 0;
        } else if (reader.remaining() == 2) {
            uint16_t le = reader.read<uint16_t>();
            trailer.maxResponse = le == 0 ? 65536 : le;
        } else {
            fail(ResponseStatus::WrongLength);
        }
        return trailer;
    });
}

CommandTrailer CommandTrailer::fromRaw(const Bytes& raw) {
    DataReader reader(raw);
    return fromReader(reader);
}

void CommandTrailer::dump() const {
    std::printf("Command trailer (no body: %s):\n", noBody ? "true" : "false");
    std::printf("  Max response len: %" PRId64 "\n", maxResponse);
}

// ---- whole requests ----

Bytes commandRaw(const CommandHeader& header, const Bytes& body, const CommandTrailer& trailer) {
    DataWriter writer;
    writer.write(header.raw());
    writer.write(body);
    writer.write(trailer.raw());
    return writer.buffer();
}

void readCommandParts(const Bytes& raw, CommandHeader& header, Bytes& body,
                      CommandTrailer& trailer) {
    DataReader reader(raw);
    header = CommandHeader::fromReader(reader);
    body = lengthChecked([&] { return reader.readData(header.dataLength); });
    trailer = CommandTrailer::fromReader(reader);
}

RegisterRequest RegisterRequest::build(const Bytes& challengeParameter,
                                       const Bytes& applicationParameter) {
    Bytes body = challengeParameter;
    body.insert(body.end(), applicationParameter.begin(), applicationParameter.end());
    auto header = CommandHeader::make(CommandCode::Register, static_cast<int64_t>(body.size()));
    return fromParts(header, std::move(body), CommandTrailer::make(false));
}

void RegisterRequest::validateBody() const {
    if (body.size() != kU2FChallengeParameterSize + kU2FApplicationParameterSize)
        fail(ResponseStatus::WrongLength);
}

Bytes RegisterRequest::challengeParameter() const {
    return slice(body, 0, kU2FChallengeParameterSize);
}

Bytes RegisterRequest::applicationParameter() const {
    return slice(body, kU2FChallengeParameterSize, kU2FApplicationParameterSize);
}

AuthenticationRequest AuthenticationRequest::build(const Bytes& challengeParameter,
                                                   const Bytes& applicationParameter,
                                                   const Bytes& keyHandle, Control control) {
    if (keyHandle.size() > 255) throw std::invalid_argument("key handle longer than 255 bytes");
    Bytes body = challengeParameter;
    body.insert(body.end(), applicationParameter.begin(), applicationParameter.end());
    body.push_back(static_cast<uint8_t>(keyHandle.size()));
    body.insert(body.end(), keyHandle.begin(), keyHandle.end());
    auto header = CommandHeader::make(CommandCode::Authenticate, static_cast<int64_t>(body.size()),
                                      static_cast<uint8_t>(control));
    return fromParts(header, std::move(body), CommandTrailer::make(false));
}

void AuthenticationRequest::validateBody() const {
    if (body.size() < 65) fail(ResponseStatus::WrongLength);
    if (body.size() != 65u + body[64]) fail(ResponseStatus::WrongLength);
    if (control() == Control::Invalid) fail(ResponseStatus::OtherError);
}

Control AuthenticationRequest::control() const {
    return controlFromByte(header.p1).value_or(Control::Invalid);
}

Bytes AuthenticationRequest::challengeParameter() const {
    return slice(body, 0, kU2FChallengeParameterSize);
}

Bytes AuthenticationRequest::applicationParameter() const {
    return slice(body, kU2FChallengeParameterSize, kU2FApplicationParameterSize);
}

uint8_t AuthenticationRequest::keyHandleLength() const {
    return body.size() > 64 ? body[64] : 0;
}

Bytes AuthenticationRequest::keyHandle() const {
    return slice(body, 65, keyHandleLength());
}

VersionRequest VersionRequest::build() {
    return fromParts(CommandHeader::make(CommandCode::Version, 0), Bytes{},
                     CommandTrailer::make(true));
}

void VersionRequest::validateBody() const {
    if (!body.empty()) fail(ResponseStatus::WrongLength);
}

}  // namespace lumvane
