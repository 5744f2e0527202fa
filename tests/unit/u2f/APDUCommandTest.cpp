#include <gtest/gtest.h>

#include "U2FTestSupport.h"
#include "u2f/APDUCommand.h"

using namespace lumvane;
using namespace lumvane::u2ftest;

namespace {

template <class F>
std::optional<ResponseStatus> statusOf(F&& f) {
    try {
        f();
    } catch (const ResponseStatusError& e) {
        return e.status();
    }
    return std::nullopt;
}

const Bytes kChallenge = repeat(0xC1, 32);
const Bytes kApp = repeat(0xA9, 32);

Bytes registerApdu(const Bytes& lc, const Bytes& data, const Bytes& tail) {
    return concat({hex("00010000"), lc, data, tail});
}

Bytes authBody(uint8_t announced, size_t handleLength) {
    return concat({kChallenge, kApp, Bytes{announced}, repeat(0x11, handleLength)});
}

Bytes authApdu(uint8_t p1, const Bytes& body) {
    Bytes apdu = {0x00,
                  0x02,
                  p1,
                  0x00,
                  0x00,
                  static_cast<uint8_t>(body.size() >> 8),
                  static_cast<uint8_t>(body.size())};
    return concat({apdu, body, hex("0000")});
}

TEST(APDUCommand, VersionRequestRoundTrips) {
    const Bytes raw = hex("00030000000000");
    VersionRequest request = VersionRequest::fromRaw(raw);
    EXPECT_EQ(request.header.ins, CommandCode::Version);
    EXPECT_EQ(request.header.dataLength, 0);
    EXPECT_TRUE(request.trailer.noBody);
    EXPECT_EQ(request.trailer.maxResponse, 65536);
    EXPECT_EQ(request.raw(), raw);
    EXPECT_EQ(VersionRequest::build().raw(), raw);
}

// Every accepted and refused encoding after CLA INS P1 P2, one row each.
TEST(APDUCommand, EncodingTable) {
    struct Case {
        const char* name;
        Bytes raw;
        std::optional<ResponseStatus> status;  // nothing: accepted
        int64_t dataLength = 0;
        int64_t maxResponse = 0;
        bool noBody = false;
    };
    const Bytes data64 = concat({kChallenge, kApp});
    const Case cases[] = {
        {"empty", {}, ResponseStatus::WrongLength},
        {"one byte", hex("00"), ResponseStatus::WrongLength},
        {"bare four bytes", hex("00030000"), ResponseStatus::WrongLength},
        {"short Le", hex("0003000000"), ResponseStatus::WrongLength},
        {"bare two-byte Le", hex("000300000000"), ResponseStatus::WrongLength},
        {"class", hex("01030000000000"), ResponseStatus::ClassNotSupported},
        {"instruction", hex("00060000000000"), ResponseStatus::InsNotSupported},
        {"instruction zero", hex("00000000000000"), ResponseStatus::InsNotSupported},
        {"three bytes not extended", hex("00030000010000"), ResponseStatus::WrongLength},
        {"extended Le 0100", hex("00030000000100"), std::nullopt, 0, 256, true},
        {"Lc 0 then Le", hex("00030000 000000 000a"), std::nullopt, 0, 10, false},
        {"three zero bytes alone", hex("00030000 000000"), std::nullopt, 0, 65536, true},
        {"Lc and data", registerApdu(hex("000040"), data64, {}), std::nullopt, 64, 0, false},
        {"Lc data Le", registerApdu(hex("000040"), data64, hex("0000")), std::nullopt, 64, 65536,
         false},
        {"Lc data Le 0x20", registerApdu(hex("000040"), data64, hex("0020")), std::nullopt, 64, 32,
         false},
        {"Lc data extended Le", registerApdu(hex("000040"), data64, hex("000100")), std::nullopt,
         64, 256, true},
        {"short Lc", registerApdu(hex("40"), data64, {}), ResponseStatus::WrongLength},
        {"data short of Lc", registerApdu(hex("000040"), repeat(1, 63), {}),
         ResponseStatus::WrongLength},
        {"one byte after data", registerApdu(hex("000040"), data64, hex("00")),
         ResponseStatus::WrongLength},
        {"four bytes after data", registerApdu(hex("000040"), data64, hex("00000000")),
         ResponseStatus::WrongLength},
        {"three bytes after data, not 00", registerApdu(hex("000040"), data64, hex("010000")),
         ResponseStatus::WrongLength},
        {"Lc 3f with 63 bytes", registerApdu(hex("00003f"), repeat(1, 63), hex("0000")),
         ResponseStatus::WrongLength},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<RegisterRequest> parsed;
        auto status = statusOf([&] {
            if (c.raw.size() > 1 && c.raw[1] == 0x03)
                VersionRequest::fromRaw(c.raw);
            else
                parsed = RegisterRequest::fromRaw(c.raw);
        });
        EXPECT_EQ(status, c.status);
        if (!c.status && parsed) {
            EXPECT_EQ(parsed->header.dataLength, c.dataLength);
            EXPECT_EQ(parsed->trailer.maxResponse, c.maxResponse);
            EXPECT_EQ(parsed->trailer.noBody, c.noBody);
        }
        if (!c.status && !parsed) {
            CommandHeader header;
            Bytes body;
            CommandTrailer trailer;
            readCommandParts(c.raw, header, body, trailer);
            EXPECT_EQ(trailer.maxResponse, c.maxResponse);
            EXPECT_EQ(trailer.noBody, c.noBody);
        }
    }
}

TEST(APDUCommand, RegisterRequestBuildAndAccessors) {
    RegisterRequest built = RegisterRequest::build(kChallenge, kApp);
    Bytes raw = built.raw();
    ASSERT_EQ(raw.size(), 73u);
    EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 7), hex("00010000000040"));
    EXPECT_EQ(Bytes(raw.end() - 2, raw.end()), hex("0000"));
    RegisterRequest read = RegisterRequest::fromRaw(raw);
    EXPECT_EQ(read.challengeParameter(), kChallenge);
    EXPECT_EQ(read.applicationParameter(), kApp);
    EXPECT_EQ(read.header, built.header);
}

TEST(APDUCommand, AuthenticationRequestChecks) {
    EXPECT_EQ(statusOf([&] { AuthenticationRequest::fromRaw(authApdu(0x03, authBody(0x40, 64))); }),
              std::nullopt);
    AuthenticationRequest ok = AuthenticationRequest::fromRaw(authApdu(0x03, authBody(0x40, 64)));
    EXPECT_EQ(ok.control(), Control::EnforceUserPresenceAndSign);
    EXPECT_EQ(ok.applicationParameter(), kApp);
    EXPECT_EQ(ok.keyHandleLength(), 64);
    EXPECT_EQ(ok.keyHandle(), repeat(0x11, 64));

    EXPECT_EQ(statusOf([&] { AuthenticationRequest::fromRaw(authApdu(0x03, authBody(0x41, 64))); }),
              ResponseStatus::WrongLength);
    EXPECT_EQ(statusOf([&] {
                  AuthenticationRequest::fromRaw(authApdu(0x03, concat({kChallenge, kApp})));
              }),
              ResponseStatus::WrongLength);
    for (uint8_t p1 : {0x08, 0x00, 0xFF}) {
        EXPECT_EQ(
            statusOf([&] { AuthenticationRequest::fromRaw(authApdu(p1, authBody(0x40, 64))); }),
            ResponseStatus::OtherError)
            << int(p1);
    }
    AuthenticationRequest check = AuthenticationRequest::fromRaw(authApdu(0x07, authBody(0, 0)));
    EXPECT_EQ(check.control(), Control::CheckOnly);

    auto built = AuthenticationRequest::build(kChallenge, kApp, repeat(7, 3), Control::CheckOnly);
    EXPECT_EQ(AuthenticationRequest::fromRaw(built.raw()).keyHandle(), repeat(7, 3));
    EXPECT_THROW(AuthenticationRequest::build(kChallenge, kApp, repeat(7, 256), Control::CheckOnly),
                 std::invalid_argument);
}

TEST(APDUCommand, VersionWithDataAndPartsWithoutBody) {
    EXPECT_EQ(statusOf([&] {
                  VersionRequest::fromRaw(
                      hex("0003000000000"
                          "1aa"));
              }),
              ResponseStatus::WrongLength);
    // No data field and a trailer that does not say so: CLA INS P1 P2 Le1 Le2.
    auto odd = VersionRequest::fromParts(CommandHeader::make(CommandCode::Version, 0), {},
                                         CommandTrailer::make(false));
    EXPECT_EQ(odd.raw(), hex("000300000000"));
    EXPECT_EQ(statusOf([&] { VersionRequest::fromRaw(odd.raw()); }), ResponseStatus::WrongLength);
}

TEST(APDUCommand, HeaderAndTrailerFromRawIgnoreWhatFollows) {
    CommandHeader header = CommandHeader::fromRaw(concat({hex("0002070000 0041"), repeat(9, 80)}));
    EXPECT_EQ(header.ins, CommandCode::Authenticate);
    EXPECT_EQ(header.p1, 0x07);
    EXPECT_EQ(header.dataLength, 0x41);
    // Only the trailer's own bytes are looked at when it is read on its own.
    CommandTrailer trailer = CommandTrailer::fromRaw(hex("000100"));
    EXPECT_TRUE(trailer.noBody);
    EXPECT_EQ(trailer.maxResponse, 256);
    // Instructions 4 and 5 pass the header; the authenticator refuses them.
    EXPECT_EQ(CommandHeader::fromRaw(hex("00040000000000")).ins, CommandCode::CheckRegister);
    EXPECT_EQ(CommandHeader::fromRaw(hex("00050000000000")).ins, CommandCode::AuthenticateBatch);
}

TEST(APDUCommand, WritingOutOfRangeFieldsIsRefused) {
    EXPECT_THROW(CommandHeader::make(CommandCode::Register, 65536).raw(), std::invalid_argument);
    EXPECT_THROW(CommandTrailer::make(false, -1).raw(), std::invalid_argument);
    EXPECT_EQ(CommandTrailer::make(false, 0).raw(), hex("0000"));
    EXPECT_EQ(CommandTrailer::make(true, 70000).raw(), hex("000000"));
}

}  // namespace
