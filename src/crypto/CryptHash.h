#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/CryptoTypes.h"

namespace lumvane {

// Argon2 over libargon2.
//
// The configuration string holds six non-empty "$"-separated fields (empty
// fields are dropped): mode code ("0" Argon2d, "1" Argon2i, "2" Argon2id, any
// other text 0), an ignored field, the time cost (default 6), the memory cost in
// KiB (default 131072), the parallelism (default 2) and the salt text. The hash
// is 32 bytes, Argon2 version 1.3, no secret and no associated data.
class CryptHash {
  public:
    // Lower-case hex of the hash; nothing when the configuration does not have
    // six fields or the parameters are refused (out of range, over the memory cap).
    static std::optional<std::string> hexstrArgonFromString(std::optional<std::string_view> string,
                                                            std::optional<std::string_view> config);

    // Memory above this (KiB) is refused rather than allocated: 4 GiB.
    static constexpr int64_t kMaxMemoryKiB = int64_t{4} << 20;

    // The raw Argon2 call under the helper, with every input of the algorithm.
    struct Params {
        int type = 2;  // 0 Argon2d, 1 Argon2i, 2 Argon2id
        uint32_t timeCost = 6;
        uint32_t memoryKiB = 131072;
        uint32_t lanes = 2;
        uint32_t tagLength = 32;
        ByteView password;
        ByteView salt;
        ByteView secret;
        ByteView associatedData;
    };
    // The tag, or nothing when libargon2 refuses the parameters.
    static std::optional<Bytes> argon2(const Params& params);
};

}  // namespace lumvane
