#pragma once
// Between a browser extension and the desktop the password of every login record
// travels as Base64 text of its UTF-8 bytes: in `data` of the getLoginData response,
// in the logins of `record`/`records` of the getSiteData and getSiteDataList responses,
// and in `loginData` of the addLoginData and updateLoginData requests. The phone gets
// and sends passwords as plain text. These helpers convert one way or the other, in
// place; null or unset passwords are left alone.
#include <optional>
#include <string>
#include <string_view>

#include "idl/protocols.h"

namespace lumvane {

std::string base64Encode(std::string_view bytes);
// Standard alphabet with padding; whitespace is not accepted. Nothing on malformed text.
std::optional<std::string> base64Decode(std::string_view text);

// Plain -> Base64 (towards an extension).
void encodePassword(TBNLoginData& login);
void encodePasswords(TBNGetLoginDataResponse& response);
void encodePasswords(TBNGetSiteDataResponse& response);
void encodePasswords(TBNGetSiteDataListResponse& response);

// Base64 -> plain (from an extension). False when a password is not valid Base64; that
// password is then left as it arrived and the caller decides (a clear error is expected).
bool decodePassword(TBNLoginData& login);
bool decodePasswords(TBNAddLoginDataRequest& request);
bool decodePasswords(TBNUpdateLoginDataRequest& request);

}  // namespace lumvane
