#pragma once

#include <initializer_list>

#include "crypto/CryptoTypes.h"

namespace lumvane {

// AES-CBC with PKCS#7 padding and an all-zero IV. The key length picks the
// variant: 16, 24 or 32 bytes give AES-128, -192 or -256. The output carries no
// header, IV or tag; callers that need distinct ciphertexts for equal inputs add
// their own salt.
class TBNCryptAES {
  public:
    // Ciphertext, or empty bytes on any failure (bad key length, cipher error).
    static Bytes encryptData(ByteView data, ByteView key);
    // Ciphertext of the pieces one after the other, as one plaintext; empty bytes on
    // any failure. The plaintext is gathered straight into the ciphertext's buffer,
    // allocated once at its final size, and encrypted there.
    static Bytes encryptPieces(std::initializer_list<ByteView> pieces, ByteView key);
    // Plaintext, or empty bytes on any failure (bad key length, length not a
    // multiple of 16, bad padding). An empty plaintext also yields empty bytes.
    static Bytes decryptData(ByteView data, ByteView key);
    // A fresh 32-byte key from the system random source. Throws
    // CryptoRandomError when the random source cannot deliver.
    static Bytes generateKey();

    static constexpr size_t kBlockSize = 16;
    static constexpr size_t kKeySize = 32;
};

}  // namespace lumvane
