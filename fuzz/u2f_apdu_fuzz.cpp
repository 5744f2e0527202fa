// Security-key request and response parsing: whatever the bytes, the parsers either
// throw their own errors or give messages that write back to what they read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "u2f/APDUCommand.h"
#include "u2f/APDUResponse.h"
#include "u2f/softu2f.h"

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

// A device that takes every frame and never delivers any: the fuzzer hands frames to
// the reassembly directly.
class NullDevice : public HidFrameDevice {
  public:
    int sendFrame(const HidFrame&) override { return 0; }
    WaitResult waitFrame(std::chrono::milliseconds, HidFrame&) override {
        return WaitResult::Timeout;
    }
    void interrupt() override {}
};

// The HID frame reassembly over the same bytes, cut into 64-byte frames; complete MSG
// messages go through the request parser as the authenticator would.
void feedFrames(const Bytes& raw) {
    static std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    static softu2f_ctx* ctx = [] {
        softu2f_ctx* c = softu2f_connect_device(std::make_unique<NullDevice>(), 0, clock);
        softu2f_set_frame_gap(c, std::chrono::microseconds(0));
        softu2f_set_handler(c, U2FHID_MSG, [](softu2f_ctx*, softu2f_hid_message* msg) {
            if (!msg->data || msg->data->size() != msg->bcnt) std::abort();
            try {
                (void)CommandHeader::fromRaw(*msg->data);
            } catch (const ResponseStatusError&) {
            }
            return true;
        });
        return c;
    }();
    for (size_t at = 0; at + 64 <= raw.size(); at += 64) {
        HidFrame frame;
        std::copy(raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + 64),
                  frame.begin());
        softu2f_receive_frame(ctx, frame);
    }
    // Whatever is left incomplete times out, so no state leaks into the next input.
    clock->advance(1.0);
    softu2f_timer_tick(ctx);
    if (softu2f_pending_count(ctx) != 0) std::abort();
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
    feedFrames(raw);
    return 0;
}
