#include <gtest/gtest.h>

#include "U2FTestSupport.h"
#include "u2f/APDUResponse.h"
#include "u2f/SelfSignedCertificate.h"

using namespace lumvane;
using namespace lumvane::u2ftest;

namespace {

template <class F>
std::optional<ResponseErrorCode> responseError(F&& f) {
    try {
        f();
    } catch (const ResponseError& e) {
        return e.code();
    }
    return std::nullopt;
}

template <class F>
bool typeError(F&& f) {
    try {
        f();
    } catch (const DataReaderError& e) {
        return e.code() == DataReaderErrorCode::TypeError;
    }
    return false;
}

TEST(ResponseStatus, WordsAndErrorCode) {
    EXPECT_EQ(ErrorResponse::build(ResponseStatus::WrongLength).raw(), hex("6700"));
    EXPECT_EQ(ErrorResponse::build(ResponseStatus::NoError).raw(), hex("9000"));
    EXPECT_EQ(ResponseStatusError(ResponseStatus::ConditionsNotSatisfied).code(), 27013);
    EXPECT_FALSE(responseStatusFromWord(0x1234).has_value());
    EXPECT_EQ(responseStatusFromWord(0x6A80), ResponseStatus::WrongData);
}

TEST(ErrorResponse, Reading) {
    ErrorResponse busy = ErrorResponse::fromRaw(hex("6985"));
    EXPECT_TRUE(busy.body.empty());
    EXPECT_EQ(busy.trailer, ResponseStatus::ConditionsNotSatisfied);
    EXPECT_EQ(responseError([] { ErrorResponse::fromRaw(hex("019000")); }),
              ResponseErrorCode::BadSize);
    EXPECT_TRUE(typeError([] { ErrorResponse::fromRaw(hex("1234")); }));
    // Fewer than two bytes cannot hold a status word.
    EXPECT_THROW(ErrorResponse::fromRaw(hex("90")), DataReaderError);
    EXPECT_THROW(ErrorResponse::fromRaw({}), DataReaderError);
}

TEST(VersionResponse, BuildReadAndChecks) {
    Bytes raw = VersionResponse::build("U2F_V2").raw();
    EXPECT_EQ(raw, hex("5532465f56329000"));
    EXPECT_EQ(VersionResponse::fromRaw(raw).version(), "U2F_V2");
    EXPECT_EQ(responseError([] { VersionResponse::fromRaw(hex("9000")); }),
              ResponseErrorCode::BadSize);
    EXPECT_EQ(responseError([] { VersionResponse::fromRaw(hex("5532465f56326f00")); }),
              ResponseErrorCode::BadStatus);
    auto notText = VersionResponse::fromParts(hex("ff"), ResponseStatus::NoError);
    EXPECT_EQ(notText.version(), "");
    EXPECT_EQ(responseError([] { VersionResponse::fromRaw(hex("ff9000")); }),
              ResponseErrorCode::BadSize);
}

TEST(AuthenticationResponse, BuildReadAndChecks) {
    Bytes signature = repeat(0x5A, 70);
    Bytes raw = AuthenticationResponse::build(0x01, 0x01020304, signature).raw();
    EXPECT_EQ(raw, concat({hex("01 01020304"), signature, hex("9000")}));
    auto read = AuthenticationResponse::fromRaw(raw);
    EXPECT_EQ(read.userPresence(), 1);
    EXPECT_EQ(read.counter(), 0x01020304u);
    EXPECT_EQ(read.signature(), signature);
    EXPECT_EQ(responseError([] { AuthenticationResponse::fromRaw(hex("0100000001 9000")); }),
              ResponseErrorCode::BadSize);
    EXPECT_EQ(responseError([] { AuthenticationResponse::fromRaw(hex("010000000130 6985")); }),
              ResponseErrorCode::BadStatus);
}

TEST(RegisterResponse, BuildReadMeasuresCertificate) {
    Bytes cert = *SelfSignedCertificate::toDer();
    Bytes publicKey = concat({hex("04"), repeat(0x22, 64)});
    Bytes handle = repeat(0x33, 70);
    Bytes signature = *SelfSignedCertificate::signData(hex("00"));
    auto built = RegisterResponse::build(publicKey, handle, cert, signature);
    auto read = RegisterResponse::fromRaw(built.raw());
    EXPECT_EQ(read.reservedByte(), 0x05);
    EXPECT_EQ(read.publicKey(), publicKey);
    EXPECT_EQ(read.keyHandle(), handle);
    EXPECT_EQ(read.certificate(), cert);
    EXPECT_EQ(read.signature(), signature);

    // Sizes first, then the certificate.
    Bytes body66 = repeat(0x05, 66);
    EXPECT_EQ(responseError([&] {
                  RegisterResponse::fromRaw(concat({body66, hex("9000")}));
              }),
              ResponseErrorCode::BadSize);
    Bytes overlong = concat({hex("05"), publicKey, hex("10"), repeat(0x33, 16), hex("9000")});
    EXPECT_EQ(responseError([&] { RegisterResponse::fromRaw(overlong); }),
              ResponseErrorCode::BadSize);
    Bytes noCert =
        concat({hex("05"), publicKey, hex("01"), hex("33"), repeat(0x44, 20), hex("9000")});
    EXPECT_EQ(responseError([&] { RegisterResponse::fromRaw(noCert); }),
              ResponseErrorCode::BadCertificate);
    EXPECT_TRUE(
        RegisterResponse::fromParts(hex("05"), ResponseStatus::NoError).keyHandle().empty());
    EXPECT_THROW(RegisterResponse::build(publicKey, repeat(1, 256), cert, signature),
                 std::invalid_argument);
}

}  // namespace
