#pragma once
// Identifiers, version codes, the pairing check code and a rough URL check.
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/Bytes.h"

namespace lumvane {

class TBNUtil {
  public:
    // The five-digit check code shown on both sides while a phone is paired. The public
    // keys take no part in it.
    static std::string getSecreteCodeFromDeviceId(std::string_view deviceId,
                                                  std::string_view devicePublicKey,
                                                  std::string_view clientId,
                                                  std::string_view clientPublicKey,
                                                  std::string_view clientSecret);
    // The check code of a digest: the XOR of its little-endian 16-bit words, "%05d".
    static std::string secreteCodeFromDigest(const Bytes& digest);

    // A new random (version 4) UUID, upper-case canonical form.
    static std::string generateId();
    // The UUID text of the first 16 bytes (missing bytes count as zero).
    static std::string idFromData(const Bytes& data);
    // The 16 bytes of a UUID text (either case); throws std::invalid_argument otherwise.
    static Bytes dataIdFromStringId(std::string_view id);

    // "a.b.c.d" as four bytes from the most significant; each part's leading integer,
    // low 8 bits; missing parts 0, parts after the fourth ignored.
    static uint64_t versionCode(std::string_view version);

    // True when the text is a well-formed URL reference and contains a '.'.
    static bool validateUrl(std::string_view text);
};

}  // namespace lumvane
