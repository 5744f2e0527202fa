#include "u2f/APDUResponse.h"

#include <algorithm>

#include "u2f/SelfSignedCertificate.h"
#include "u2f/Utf8.h"

namespace lumvane {

std::optional<ResponseStatus> responseStatusFromWord(uint16_t word) {
    switch (static_cast<ResponseStatus>(word)) {
        case ResponseStatus::NoError:
        case ResponseStatus::WrongData:
        case ResponseStatus::ConditionsNotSatisfied:
        case ResponseStatus::CommandNotAllowed:
        case ResponseStatus::InsNotSupported:
        case ResponseStatus::WrongLength:
        case ResponseStatus::ClassNotSupported:
        case ResponseStatus::OtherError:
            return static_cast<ResponseStatus>(word);
    }
    return std::nullopt;
}

const char* responseStatusName(ResponseStatus status) {
    switch (status) {
        case ResponseStatus::NoError:
            return "NoError";
        case ResponseStatus::WrongData:
            return "WrongData";
        case ResponseStatus::ConditionsNotSatisfied:
            return "ConditionsNotSatisfied";
        case ResponseStatus::CommandNotAllowed:
            return "CommandNotAllowed";
        case ResponseStatus::InsNotSupported:
            return "InsNotSupported";
        case ResponseStatus::WrongLength:
            return "WrongLength";
        case ResponseStatus::ClassNotSupported:
            return "ClassNotSupported";
        case ResponseStatus::OtherError:
            return "OtherError";
    }
    return "Unknown";
}

namespace {
const char* responseErrorText(ResponseErrorCode code) {
    switch (code) {
        case ResponseErrorCode::BadSize:
            return "ResponseError.BadSize";
        case ResponseErrorCode::BadStatus:
            return "ResponseError.BadStatus";
        case ResponseErrorCode::BadCertificate:
            return "ResponseError.BadCertificate";
        case ResponseErrorCode::BadData:
            return "ResponseError.BadData";
    }
    return "ResponseError";
}

[[noreturn]] void fail(ResponseErrorCode code) {
    throw ResponseError(code);
}

template <class R>
R readResponse(const Bytes& raw) {
    Bytes body;
    ResponseStatus trailer;
    splitResponse(raw, body, trailer);
    R response = R::fromParts(std::move(body), trailer);
    response.validate();
    return response;
}
}  // namespace

ResponseError::ResponseError(ResponseErrorCode code)
    : std::runtime_error(responseErrorText(code)), code_(code) {}

Bytes responseRaw(const Bytes& body, ResponseStatus trailer) {
    DataWriter writer;
    writer.write(body);
    writer.writeRaw(trailer);
    return writer.buffer();
}

void splitResponse(const Bytes& raw, Bytes& body, ResponseStatus& trailer) {
    if (raw.size() < 2) throw DataReaderError(DataReaderErrorCode::End);
    DataReader reader(raw);
    body = reader.readData(raw.size() - 2);
    trailer = reader.readRaw<ResponseStatus>();
}

// ---- ErrorResponse ----

ErrorResponse ErrorResponse::fromRaw(const Bytes& raw) {
    return readResponse<ErrorResponse>(raw);
}

void ErrorResponse::validate() const {
    if (!body.empty()) fail(ResponseErrorCode::BadSize);
}

// ---- VersionResponse ----

VersionResponse VersionResponse::fromRaw(const Bytes& raw) {
    return readResponse<VersionResponse>(raw);
}

std::string VersionResponse::version() const {
    if (!isValidUtf8(body)) return {};
    return std::string(body.begin(), body.end());
}

void VersionResponse::validate() const {
    if (version().empty()) fail(ResponseErrorCode::BadSize);
    if (trailer != ResponseStatus::NoError) fail(ResponseErrorCode::BadStatus);
}

// ---- RegisterResponse ----

RegisterResponse RegisterResponse::build(const Bytes& publicKey, const Bytes& keyHandle,
                                         const Bytes& certificate, const Bytes& signature) {
    if (keyHandle.size() > 255) throw std::invalid_argument("key handle longer than 255 bytes");
    DataWriter writer;
    writer.write(uint8_t{0x05});
    writer.write(publicKey);
    writer.write(static_cast<uint8_t>(keyHandle.size()));
    writer.write(keyHandle);
    writer.write(certificate);
    writer.write(signature);
    return {writer.buffer(), ResponseStatus::NoError};
}

RegisterResponse RegisterResponse::fromRaw(const Bytes& raw) {
    return readResponse<RegisterResponse>(raw);
}

void RegisterResponse::validate() const {
    if (body.size() < 67) fail(ResponseErrorCode::BadSize);
    if (body.size() < 68u + body[66]) fail(ResponseErrorCode::BadSize);
    if (!certificateLength()) fail(ResponseErrorCode::BadCertificate);
}

uint8_t RegisterResponse::reservedByte() const {
    return body.empty() ? 0 : body[0];
}

namespace {
Bytes slice(const Bytes& bytes, size_t from, size_t count) {
    if (from >= bytes.size()) return {};
    count = std::min(count, bytes.size() - from);
    return Bytes(bytes.begin() + static_cast<long>(from),
                 bytes.begin() + static_cast<long>(from + count));
}
}  // namespace

Bytes RegisterResponse::publicKey() const {
    return slice(body, 1, kPublicKeySize);
}

uint8_t RegisterResponse::keyHandleLength() const {
    return body.size() > 66 ? body[66] : 0;
}

Bytes RegisterResponse::keyHandle() const {
    return slice(body, 67, keyHandleLength());
}

size_t RegisterResponse::certificateOffset() const {
    return 67u + keyHandleLength();
}

std::optional<size_t> RegisterResponse::certificateLength() const {
    size_t offset = certificateOffset();
    if (offset >= body.size()) return std::nullopt;
    Bytes rest(body.begin() + static_cast<long>(offset), body.end());
    int consumed = 0;
    if (!SelfSignedCertificate::parseX509(rest, consumed) || consumed <= 0) return std::nullopt;
    return static_cast<size_t>(consumed);
}

Bytes RegisterResponse::certificate() const {
    auto length = certificateLength();
    if (!length) return {};
    return slice(body, certificateOffset(), *length);
}

Bytes RegisterResponse::signature() const {
    auto length = certificateLength();
    if (!length) return {};
    return slice(body, certificateOffset() + *length, body.size());
}

// ---- AuthenticationResponse ----

AuthenticationResponse AuthenticationResponse::build(uint8_t userPresence, uint32_t counter,
                                                     const Bytes& signature) {
    DataWriter writer;
    writer.write(userPresence);
    writer.write(counter);
    writer.write(signature);
    return {writer.buffer(), ResponseStatus::NoError};
}

AuthenticationResponse AuthenticationResponse::fromRaw(const Bytes& raw) {
    return readResponse<AuthenticationResponse>(raw);
}

void AuthenticationResponse::validate() const {
    if (body.size() <= 5) fail(ResponseErrorCode::BadSize);
    if (trailer != ResponseStatus::NoError) fail(ResponseErrorCode::BadStatus);
}

uint8_t AuthenticationResponse::userPresence() const {
    return body.empty() ? 0 : body[0];
}

uint32_t AuthenticationResponse::counter() const {
    DataReader reader(body, 1);
    return reader.peek<uint32_t>().value_or(0);
}

Bytes AuthenticationResponse::signature() const {
    return slice(body, 5, body.size());
}

}  // namespace lumvane
