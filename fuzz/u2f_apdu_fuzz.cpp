// Security-key request and response parsing: whatever the bytes, the parsers either
// throw their own errors or give messages that write back to what they read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "u2f/APDUCommand.h"
#include "u2f/APDUResponse.h"

using namespace lumvane;

namespace {

// A trailer always writes an Le, so an absent Le (0) reads back as 65536; and a
// request without data whose trailer does not say "no body" cannot be written in an
// accepted form. Everything else reads back as it was.
template <class Request>
void roundTrip(const Bytes& raw) {
    Request request;
    try {
        request = Request::fromRaw(raw);
    } catch (const ResponseStatusError&) {
        return;
    }
    Bytes again = request.raw();
    bool writable = request.header.dataLength > 0 || request.trailer.noBody;
    try {
        Request reread = Request::fromRaw(again);
        if (!writable) std::abort();
        int64_t expected = request.trailer.maxResponse == 0 ? 65536 : request.trailer.maxResponse;
        if (reread.header != request.header || reread.body != request.body ||
            reread.trailer.noBody != request.trailer.noBody ||
            reread.trailer.maxResponse != expected)
            std::abort();
        // The written form is canonical: writing it once more changes nothing.
        if (reread.raw() != again) std::abort();
    } catch (const ResponseStatusError& e) {
        if (writable || e.status() != ResponseStatus::WrongLength) std::abort();
    }
}

template <class Response>
void readResponse(const Bytes& raw) {
    try {
        Response response = Response::fromRaw(raw);
        if (response.raw() != raw) std::abort();
    } catch (const ResponseError&) {
    } catch (const DataReaderError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes raw(data, data + size);
    try {
        CommandHeader header = CommandHeader::fromRaw(raw);
        (void)header;
    } catch (const ResponseStatusError&) {
    }
    roundTrip<RegisterRequest>(raw);
    roundTrip<VersionRequest>(raw);
    try {
        AuthenticationRequest request = AuthenticationRequest::fromRaw(raw);
        if (request.keyHandle().size() != request.keyHandleLength()) std::abort();
        if (request.applicationParameter().size() != 32) std::abort();
    } catch (const ResponseStatusError&) {
    }
    roundTrip<AuthenticationRequest>(raw);
    readResponse<ErrorResponse>(raw);
    readResponse<VersionResponse>(raw);
    readResponse<AuthenticationResponse>(raw);
    try {
        RegisterResponse response = RegisterResponse::fromRaw(raw);
        Bytes cert = response.certificate();
        if (cert.empty()) std::abort();
        (void)response.signature();
    } catch (const ResponseError&) {
    } catch (const DataReaderError&) {
    }
    return 0;
}
