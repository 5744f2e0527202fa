#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "crypto/TBNCryptAES.h"

using namespace lumvane;
using namespace lumvane::test;

namespace {

const Bytes kKey256 = fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");

TEST(CryptAES, CiphertextLengthIsPaddedToNextBlock) {
    const std::pair<size_t, size_t> cases[] = {{0, 16}, {15, 16}, {16, 32}, {31, 32}, {32, 48}};
    for (auto [plain, cipher] : cases) {
        Bytes data(plain, 0x5a);
        Bytes enc = TBNCryptAES::encryptData(data, kKey256);
        EXPECT_EQ(enc.size(), cipher) << "plaintext length " << plain;
        EXPECT_EQ(TBNCryptAES::decryptData(enc, kKey256), data) << "plaintext length " << plain;
    }
}

// FIPS-197 Appendix C: with a zero IV the first CBC block is the plain block cipher.
TEST(CryptAES, FirstBlockMatchesFipsVectorsForEachKeySize) {
    const Bytes plain = fromHex("00112233445566778899aabbccddeeff");
    const std::pair<std::string, std::string> cases[] = {
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "8ea2b7ca516745bfeafc49904b496089"},
    };
    for (const auto& [key, block] : cases) {
        Bytes enc = TBNCryptAES::encryptData(plain, fromHex(key));
        ASSERT_EQ(enc.size(), 32u);
        EXPECT_EQ(toHex({enc.data(), 16}), block) << "key " << key;
        EXPECT_EQ(TBNCryptAES::decryptData(enc, fromHex(key)), plain);
    }
}

TEST(CryptAES, DeterministicForSameKeyAndData) {
    Bytes data = bytesOf("the same plaintext twice");
    EXPECT_EQ(TBNCryptAES::encryptData(data, kKey256), TBNCryptAES::encryptData(data, kKey256));
}

TEST(CryptAES, FailuresGiveEmptyBytes) {
    Bytes data = bytesOf("secret");
    EXPECT_TRUE(TBNCryptAES::encryptData(data, Bytes(10, 1)).empty()) << "10-byte key";
    EXPECT_TRUE(TBNCryptAES::encryptData(data, {}).empty()) << "empty key";
    Bytes enc = TBNCryptAES::encryptData(data, kKey256);
    EXPECT_TRUE(TBNCryptAES::decryptData(Bytes(17, 0), kKey256).empty()) << "17 bytes";
    EXPECT_TRUE(TBNCryptAES::decryptData({}, kKey256).empty()) << "empty ciphertext";
    EXPECT_TRUE(TBNCryptAES::decryptData(enc, Bytes(10, 1)).empty()) << "bad key length";
    // A wrong key nearly always breaks the padding; it must never give the plaintext.
    Bytes wrong = kKey256;
    wrong[0] ^= 1;
    EXPECT_NE(TBNCryptAES::decryptData(enc, wrong), data);
    Bytes truncated(enc.begin(), enc.end() - 1);
    EXPECT_TRUE(TBNCryptAES::decryptData(truncated, kKey256).empty()) << "truncated";
}

TEST(CryptAES, GenerateKeyGivesFreshThirtyTwoBytes) {
    Bytes a = TBNCryptAES::generateKey();
    Bytes b = TBNCryptAES::generateKey();
    EXPECT_EQ(a.size(), 32u);
    EXPECT_EQ(b.size(), 32u);
    EXPECT_NE(a, b);
}

TEST(CryptAES, GenerateKeyFailsLoudlyWhenRandomSourceFails) {
    ScriptedRandomSource empty({});
    ScopedRandomSource scope(empty);
    EXPECT_THROW(TBNCryptAES::generateKey(), CryptoRandomError);
}

// Our ciphertext must be plain AES-256-CBC/PKCS#7 that any standard tool opens.
TEST(CryptAES, OpensslCommandLineDecryptsOurOutput) {
    namespace fs = std::filesystem;
    Bytes plain;
    for (int i = 0; i < 1000; ++i) {
        plain.push_back(static_cast<uint8_t>(i * 7 + 3));
    }
    Bytes key = TBNCryptAES::generateKey();
    Bytes enc = TBNCryptAES::encryptData(plain, key);
    fs::path dir = fs::temp_directory_path() / ("lumvane-aes-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    {
        std::ofstream out(dir / "in.bin", std::ios::binary);
        out.write(reinterpret_cast<const char*>(enc.data()),
                  static_cast<std::streamsize>(enc.size()));
    }
    std::string cmd = "openssl enc -d -aes-256-cbc -K " + toHex(key) + " -iv " +
                      std::string(32, '0') + " -in " + (dir / "in.bin").string() + " -out " +
                      (dir / "out.bin").string() + " 2>&1";
    int rc = std::system(cmd.c_str());
    ASSERT_EQ(rc, 0) << cmd;
    std::ifstream in(dir / "out.bin", std::ios::binary);
    Bytes got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, plain);
    fs::remove_all(dir);
}

}  // namespace
