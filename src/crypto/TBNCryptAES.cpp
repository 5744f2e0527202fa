#include "crypto/TBNCryptAES.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

#include "crypto/RandomSource.h"

namespace lumvane {

namespace {

struct CtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter>;

const EVP_CIPHER* cipherForKey(size_t keyLength) {
    switch (keyLength) {
        case 16:
            return EVP_aes_128_cbc();
        case 24:
            return EVP_aes_192_cbc();
        case 32:
            return EVP_aes_256_cbc();
        default:
            return nullptr;
    }
}

// EVP counts in int: large inputs go through in slices, each a whole number of
// blocks, so no length is ever cut to 32 bits.
constexpr size_t kSlice = size_t{1} << 30;

Bytes run(ByteView data, ByteView key, bool encrypt) {
    const EVP_CIPHER* cipher = cipherForKey(key.size());
    if (cipher == nullptr) {
        return {};
    }
    if (!encrypt && (data.empty() || data.size() % TBNCryptAES::kBlockSize != 0)) {
        return {};
    }
    CtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx) {
        return {};
    }
    static const unsigned char kZeroIv[TBNCryptAES::kBlockSize] = {};
    if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), kZeroIv, encrypt ? 1 : 0) != 1) {
        return {};
    }
    Bytes out(data.size() + TBNCryptAES::kBlockSize);
    size_t produced = 0;
    size_t offset = 0;
    while (offset < data.size()) {
        const size_t step = std::min(data.size() - offset, kSlice);
        int written = 0;
        if (EVP_CipherUpdate(ctx.get(), out.data() + produced, &written, data.data() + offset,
                             static_cast<int>(step)) != 1) {
            OPENSSL_cleanse(out.data(), out.size());
            return {};
        }
        produced += static_cast<size_t>(written);
        offset += step;
    }
    int finalWritten = 0;
    if (EVP_CipherFinal_ex(ctx.get(), out.data() + produced, &finalWritten) != 1) {
        OPENSSL_cleanse(out.data(), out.size());
        return {};
    }
    produced += static_cast<size_t>(finalWritten);
    if (produced > out.size()) {
        return {};
    }
    out.resize(produced);
    return out;
}

}  // namespace

Bytes TBNCryptAES::encryptPieces(std::initializer_list<ByteView> pieces, ByteView key) {
    const EVP_CIPHER* cipher = cipherForKey(key.size());
    if (cipher == nullptr) return {};
    size_t plainSize = 0;
    for (ByteView piece : pieces) plainSize += piece.size();
    // PKCS#7 always adds 1 to 16 bytes.
    const size_t cipherSize = (plainSize / kBlockSize + 1) * kBlockSize;
    CtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return {};
    static const unsigned char kZeroIv[kBlockSize] = {};
    if (EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, key.data(), kZeroIv) != 1) return {};
    Bytes out;
    out.reserve(cipherSize);
    for (ByteView piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
    // CBC encrypts in place (the same pointer in and out): each call writes the whole
    // blocks of what it took and holds a partial last block back for the final call,
    // which writes the padded block behind them.
    size_t consumed = 0;
    size_t produced = 0;
    while (consumed < plainSize) {
        const size_t step = std::min(plainSize - consumed, kSlice);
        int written = 0;
        if (EVP_EncryptUpdate(ctx.get(), out.data() + produced, &written, out.data() + consumed,
                              static_cast<int>(step)) != 1) {
            OPENSSL_cleanse(out.data(), out.size());
            return {};
        }
        consumed += step;
        produced += static_cast<size_t>(written);
    }
    out.resize(cipherSize);  // at most one block more, within the reserved room
    int finalWritten = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), out.data() + produced, &finalWritten) != 1 ||
        produced + static_cast<size_t>(finalWritten) != cipherSize) {
        OPENSSL_cleanse(out.data(), out.size());
        return {};
    }
    return out;
}

Bytes TBNCryptAES::encryptData(ByteView data, ByteView key) {
    return run(data, key, true);
}

Bytes TBNCryptAES::decryptData(ByteView data, ByteView key) {
    return run(data, key, false);
}

Bytes TBNCryptAES::generateKey() {
    Bytes key(kKeySize);
    currentRandomSource().fill(key);
    return key;
}

}  // namespace lumvane
