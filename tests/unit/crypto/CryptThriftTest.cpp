#include <gtest/gtest.h>
#include <thrift/Thrift.h>

#include "TestSupport.h"
#include "crypto/TBNCryptAES.h"
#include "crypto/TBNCryptThrift.h"
#include "idl/database.h"
#include "idl/settings.h"
#include "idl/structures.h"

using namespace lumvane;
using namespace lumvane::test;

namespace {

const Bytes kKey = fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");

// Salt 0x0102030405060708: high word, then low word, each little-endian.
std::vector<uint8_t> saltScript() {
    return wordsLE({0x01020304u, 0x05060708u});
}

// "_tbnlmv_" as a little-endian i64 is 0x5f766d6c6e62745f; XOR the salt above.
const char* kSaltXorMarker = "5e746e686b647357";

TEST(CryptThrift, MarkerIsTheTextReadLittleEndian) {
    EXPECT_EQ(static_cast<uint64_t>(TBNCryptThrift::marker()), 0x5f766d6c6e62745fULL);
}

TEST(CryptThrift, VersionTwoLayoutOfEncryptData) {
    ScriptedRandomSource script(saltScript());
    ScopedRandomSource scope(script);
    const Bytes cipher = TBNCryptThrift::encryptData(bytesOf("abc"), kKey);
    EXPECT_EQ(script.left(), 0u);
    ASSERT_EQ(cipher.size(), 48u);
    const std::string expected = std::string("0a0001") + "0102030405060708" + "0a0002" +
                                 kSaltXorMarker + "0b0003" + "00000003" + "616263" + "00";
    EXPECT_EQ(toHex(TBNCryptAES::decryptData(cipher, kKey)), expected);
}

TEST(CryptThrift, EncryptDataIsTheSealedEnvelopeRecordByteForByte) {
    // The envelope is laid out by hand for speed; it must be exactly what the generic
    // record writer makes, sealed the same way, at every padding boundary.
    std::vector<std::optional<Bytes>> payloads = {std::nullopt, Bytes{}};
    for (size_t n : {1, 2, 14, 15, 16, 17, 18, 31, 32, 33, 1000, 65536, 1 << 20}) {
        Bytes b(n);
        for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 31 + 7);
        payloads.push_back(std::move(b));
    }
    for (const auto& payload : payloads) {
        SCOPED_TRACE(payload ? std::to_string(payload->size()) + " bytes" : "absent");
        ScriptedRandomSource script(saltScript());
        ScopedRandomSource scope(script);
        const Bytes cipher = TBNCryptThrift::encryptData(payload, kKey);
        const int64_t salt = 0x0102030405060708LL;
        const TBNEncryptedBlobV2 blob(salt, salt ^ TBNCryptThrift::marker(), payload);
        EXPECT_EQ(cipher, TBNCryptThrift::encryptObject(blob, kKey));
        EXPECT_EQ(TBNCryptThrift::decryptData(cipher, kKey), payload);
    }
}

TEST(CryptThrift, EncryptPiecesEqualsEncryptingTheJoinedBytes) {
    const Bytes a = bytesOf("0123456789abcdef0123");
    const Bytes b = bytesOf("xyz");
    Bytes joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    EXPECT_EQ(TBNCryptAES::encryptPieces({a, b}, kKey), TBNCryptAES::encryptData(joined, kKey));
    EXPECT_EQ(TBNCryptAES::encryptPieces({}, kKey), TBNCryptAES::encryptData(Bytes{}, kKey));
    EXPECT_TRUE(TBNCryptAES::encryptPieces({a}, Bytes(31, 1)).empty());  // no such AES key
}

TEST(CryptThrift, VersionOneLayoutOfEncryptObject) {
    ScriptedRandomSource script(saltScript());
    ScopedRandomSource scope(script);
    TBNEncryptedHeader header;
    header.setVersion(1);
    auto blob = TBNCryptThrift::createBlobWithObject(header);
    EXPECT_EQ(blob->salt(), 0x0102030405060708LL);
    const Bytes cipher = TBNCryptThrift::encryptObject(*blob, kKey);
    // The wrapped record: i16 field 1 = 1, stop.
    const std::string record = "060001000100";
    const std::string expected =
        std::string("0a0001") + "0102030405060708" + "0b0002" + "00000006" + record + "00";
    EXPECT_EQ(toHex(TBNCryptAES::decryptData(cipher, kKey)), expected);

    TBNEncryptedBlob opened;
    TBNCryptThrift::decryptObject(opened, cipher, kKey);
    TBNEncryptedHeader back;
    TBNCryptThrift::getObject(back, opened);
    EXPECT_EQ(back, header);
}

TEST(CryptThrift, CiphertextSizes) {
    const std::pair<size_t, size_t> cases[] = {{0, 32}, {1, 32}, {2, 48}, {17, 48}, {18, 64}};
    for (auto [payload, cipher] : cases) {
        EXPECT_EQ(TBNCryptThrift::encryptData(Bytes(payload, 7), kKey).size(), cipher) << payload;
    }
}

TEST(CryptThrift, SaltHalvesAreNeverAllOnes) {
    ScriptedRandomSource script(wordsLE({0xFFFFFFFFu, 0x11111111u, 0xFFFFFFFFu, 0x22222222u}));
    ScopedRandomSource scope(script);
    EXPECT_EQ(static_cast<uint64_t>(TBNCryptThrift::generateSalt()), 0x1111111122222222ULL);
}

TEST(CryptThrift, RoundTripsAndFreshSalts) {
    const Bytes data = bytesOf("chunk payload");
    const Bytes a = TBNCryptThrift::encryptData(data, kKey);
    const Bytes b = TBNCryptThrift::encryptData(data, kKey);
    EXPECT_NE(a, b);
    EXPECT_EQ(TBNCryptThrift::decryptData(a, kKey), data);
    EXPECT_EQ(TBNCryptThrift::decryptData(b, kKey), data);

    const Bytes empty = TBNCryptThrift::encryptData(Bytes{}, kKey);
    EXPECT_EQ(empty.size(), 32u);
    EXPECT_EQ(TBNCryptThrift::decryptData(empty, kKey), Bytes{}) << "empty bytes, not nothing";
    const Bytes absent = TBNCryptThrift::encryptData(std::nullopt, kKey);
    EXPECT_EQ(TBNCryptThrift::decryptData(absent, kKey), std::nullopt) << "no field 3";
}

TEST(CryptThrift, MarkerTestRejectsOtherBlobs) {
    // A version-1 blob: its binary field 2 does not match the i64 saltXorMarker.
    auto v1 = TBNCryptThrift::createBlobWithData(bytesOf("payload"));
    EXPECT_EQ(TBNCryptThrift::decryptData(TBNCryptThrift::encryptObject(*v1, kKey), kKey),
              std::nullopt);
    // A version-2 blob made with another marker opens without an exception but yields nothing.
    TBNEncryptedBlobV2 other(42, 42 ^ 0x1234, bytesOf("payload"));
    const Bytes cipher = TBNCryptThrift::encryptObject(other, kKey);
    EXPECT_EQ(TBNCryptThrift::decryptData(cipher, kKey), std::nullopt);
    // getObject reads the payload without the marker test.
    TBNEncryptedHeader header(3, 4);
    TBNEncryptedBlobV2 carrier(1, 2, TBNCryptThrift::createBlobWithObject(header)->blob());
    TBNEncryptedHeader back;
    TBNCryptThrift::getObject(back, carrier);
    EXPECT_EQ(back, header);
}

TEST(CryptThrift, WrongKeyNeverYieldsThePayload) {
    const Bytes data = bytesOf("secret chunk");
    int raised = 0;
    for (int i = 0; i < 200; ++i) {
        const Bytes cipher = TBNCryptThrift::encryptData(data, kKey);
        Bytes wrong = kKey;
        wrong[i % 32] ^= static_cast<uint8_t>(1 + i / 32);
        try {
            EXPECT_EQ(TBNCryptThrift::decryptData(cipher, wrong), std::nullopt);
        } catch (const std::exception&) {
            ++raised;
        }
    }
    EXPECT_GT(raised, 150) << "a wrong key nearly always fails the padding or the stop byte";
}

// Decryption failures of every kind surface as "Failed decrypt data" and never read
// outside the plaintext (an empty plaintext used to be indexed at its last byte).
TEST(CryptThrift, FailedDecryptionRaises) {
    const Bytes emptyPlain = TBNCryptAES::encryptData(Bytes{}, kKey);  // decrypts to nothing
    const Bytes notStop = TBNCryptAES::encryptData(bytesOf("ends in x"), kKey);
    const std::pair<Bytes, Bytes> cases[] = {
        {emptyPlain, kKey},         {notStop, kKey}, {Bytes(17, 1), kKey}, {Bytes{}, kKey},
        {emptyPlain, Bytes(10, 1)},
    };
    for (const auto& [cipher, key] : cases) {
        TBNEncryptedBlobV2 blob;
        try {
            TBNCryptThrift::decryptObject(blob, cipher, key);
            ADD_FAILURE() << "no exception for " << toHex(cipher);
        } catch (const TBNCryptThriftException& e) {
            EXPECT_STREQ(e.what(), "Failed decrypt data");
        }
        EXPECT_THROW(TBNCryptThrift::decryptData(cipher, key), TBNCryptThriftException);
    }
}

TEST(CryptThrift, InvalidRecordRaisesRuntimeException) {
    // Ends in 0 but announces a 2 GiB string: the reader refuses without allocating it.
    const Bytes plain = fromHex("0b00037fffffff00");
    const Bytes cipher = TBNCryptAES::encryptData(plain, kKey);
    TBNEncryptedBlobV2 blob;
    EXPECT_THROW(TBNCryptThrift::decryptObject(blob, cipher, kKey), apache::thrift::TException);
    const Bytes shortRecord = TBNCryptAES::encryptData(fromHex("0a000100"), kKey);
    EXPECT_THROW(TBNCryptThrift::decryptObject(blob, shortRecord, kKey),
                 apache::thrift::TException);
    // Bytes that name no wire type (as a field, a map key and a list element) are
    // refused before they are taken as a type.
    for (const char* hex : {"6c000100", "0d0001270b0000000100", "0f00019c0000000100"}) {
        TBNIOSSettings settings;
        EXPECT_THROW(TBNCryptThrift::decryptObject(
                         settings, TBNCryptAES::encryptData(fromHex(hex), kKey), kKey),
                     apache::thrift::TException)
            << hex;
    }
}

std::shared_ptr<TBNSiteDataCollection> sampleCollection() {
    auto login = std::make_shared<TBNLoginData>();
    login->setLogin("alice");
    login->setPassword("pa55word");
    auto site = std::make_shared<TBNSiteData>();
    site->setSiteUrl("example.com");
    site->setLoginData(std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>(
        std::vector<std::shared_ptr<TBNLoginData>>{login}));
    auto sites = std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>();
    for (int i = 0; i < 50; ++i) sites->push_back(site);
    return std::make_shared<TBNSiteDataCollection>(
        sites, 0, nullptr, std::make_shared<std::vector<std::shared_ptr<TBNU2FData>>>());
}

TEST(CryptThrift, CompactSerialisationWithAndWithoutBzip) {
    auto collection = sampleCollection();
    TBNSiteDataCollection plain;
    TBNCryptThrift::deserializeObject(plain, TBNCryptThrift::serializeObject(*collection));
    EXPECT_EQ(plain.records()->size(), 50u);
    EXPECT_FALSE(plain.auditsIsSet()) << "a null list is not written";

    const Bytes packed = TBNCryptThrift::serializeObjectWithBZip(*collection);
    EXPECT_EQ(std::string(packed.begin(), packed.begin() + 4), "BZh9");
    EXPECT_LT(packed.size(), TBNCryptThrift::serializeObject(*collection).size());
    TBNSiteDataCollection unpacked;
    TBNCryptThrift::deserializeObjectFromBZipData(unpacked, packed);
    EXPECT_EQ(unpacked, plain);
}

TEST(CryptThrift, BadBzipDataRaisesAndLeavesRecordUntouched) {
    const Bytes packed = TBNCryptThrift::serializeObjectWithBZip(*sampleCollection());
    const Bytes truncated(packed.begin(), packed.begin() + static_cast<long>(packed.size() / 2));
    for (const Bytes& bad : {bytesOf("not a bzip2 stream"), truncated, Bytes{}}) {
        TBNSiteDataCollection record;
        record.setUpdateTimeStamp(77);
        try {
            TBNCryptThrift::deserializeObjectFromBZipData(record, bad);
            ADD_FAILURE() << "no exception";
        } catch (const TBNCryptThriftException& e) {
            EXPECT_STREQ(e.what(), "Failed decompress data");
        }
        EXPECT_EQ(record.updateTimeStamp(), 77);
        EXPECT_FALSE(record.recordsIsSet());
    }
    // Output is bounded: a stream that expands past the limit is refused.
    EXPECT_EQ(TBNCryptThrift::decompress(TBNCryptThrift::compress(Bytes(1 << 20, 0)).value(), 1000),
              std::nullopt);
}

TEST(CryptThrift, BlobCompression) {
    auto blob = TBNCryptThrift::createBlobV2WithData(Bytes(4096, 'a'));
    ASSERT_TRUE(TBNCryptThrift::compressBlobV2(*blob));
    EXPECT_LT(blob->blob()->size(), 4096u);
    ASSERT_TRUE(TBNCryptThrift::decompressBlobV2(*blob));
    EXPECT_EQ(*blob->blob(), Bytes(4096, 'a'));
    auto v1 = TBNCryptThrift::createBlobWithData(bytesOf("plain, not bzip2"));
    EXPECT_FALSE(TBNCryptThrift::decompressBlob(*v1));
    EXPECT_EQ(*v1->blob(), bytesOf("plain, not bzip2")) << "unchanged on failure";
    ASSERT_TRUE(TBNCryptThrift::compressBlob(*v1));
    ASSERT_TRUE(TBNCryptThrift::decompressBlob(*v1));
    EXPECT_EQ(*v1->blob(), bytesOf("plain, not bzip2"));
    Bytes out = bytesOf("old");
    TBNCryptThrift::getData(out, *v1);
    EXPECT_EQ(out, bytesOf("plain, not bzip2"));
}

}  // namespace
