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
