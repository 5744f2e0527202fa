#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "crypto/CryptoTypes.h"

namespace lumvane {

// SHA-256 digests and the hash keys of sites, logins and passwords kept in the
// account caches. Texts are hashed as their UTF-8 bytes; a missing text hashes
// as empty input. Composite keys join their parts with "_" (no escaping) and
// write a missing part as "(null)", so existing cache keys stay valid.
class TBNCryptHash {
  public:
    using Text = std::optional<std::string_view>;

    static Bytes sha256FromData(ByteView data);
    static Bytes sha256FromString(Text string);
    // 64 lower-case hex characters.
    static std::string strSha256FromString(Text string);
    static std::string strSha256FromSiteUrl(Text siteUrl);
    static std::string strSha256FromLogin(Text login);
    static std::string strSha256FromPassword(Text password);
    static std::string strSha256FromLogin(Text login, Text password);
    static std::string strSha256FromSiteUrl(Text siteUrl, Text login);
    static std::string strSha256FromSiteUrl(Text siteUrl, Text login, Text password);
    // The bytes of the Argon2 hash of CryptHash::hexstrArgonFromString, or empty
    // bytes when that gives no result.
    static Bytes argonFromString(Text string, Text config);
};

// Overwrites the buffer with zeros (in a way the optimiser keeps), then empties it.
void clear(Bytes& data);

// Constant-time equality for secrets: the time depends on the lengths only.
bool secretsEqual(ByteView a, ByteView b);
bool secretsEqual(std::string_view a, std::string_view b);

}  // namespace lumvane
