#include "runtime/Digest.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>
#include <stdexcept>
#include <string>

namespace lumvane {

Bytes sha256(const void* data, size_t size) {
    // Fetched once: EVP_sha256() looks the algorithm up in the provider store on every
    // call, which costs more than hashing a short text.
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
    Bytes out(32);
    unsigned int len = 0;
    static const unsigned char kEmpty = 0;
    if (!md || EVP_Digest(size ? data : &kEmpty, size, out.data(), &len, md, nullptr) != 1 ||
        len != out.size()) {
        throw std::runtime_error("SHA-256 failed");
    }
    return out;
}

Bytes sha256(const Bytes& data) {
    return sha256(data.data(), data.size());
}

Bytes sha256(std::string_view text) {
    return sha256(text.data(), text.size());
}

Bytes randomBytes(size_t n) {
    Bytes out(n);
    size_t done = 0;
    while (done < n) {
        const size_t chunk = std::min<size_t>(n - done, INT_MAX);
        if (RAND_bytes(out.data() + done, static_cast<int>(chunk)) != 1) {
            const unsigned long err = ERR_get_error();
            char text[256] = {0};
            ERR_error_string_n(err, text, sizeof text);
            throw std::runtime_error(std::string("random bytes unavailable: ") + text);
        }
        done += chunk;
    }
    return out;
}

}  // namespace lumvane
