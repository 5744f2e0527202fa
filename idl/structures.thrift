// Vault records: the logins and sites that the phone keeps and sends to the desktop.
//
// Every field is optional and has no default: the generated records keep an is-set
// flag per field. Declaration order is the order of writing, so keep new fields in
// the place where they belong, whatever their ids. Enumerations travel as i32 and
// carry no member names in the records.

struct TwoFactorData {
  // 0 counter-based (HOTP), 1 time-based (TOTP)
  1: i32 type,
  10: binary secret,
  // "SHA1", "SHA256", "SHA512" or "MD5"
  11: string algorithm,
  12: i64 digits,
  20: i64 counter,
  30: double period,
}

struct YubikeyData {
  1: string keyHandle,
}

struct LoginData {
  1: string login,
  2: bool passwordProvided,
  3: string password,
  4: string email,
  5: string phone_prefix,
  6: string phone,
  7: i64 updatePasswordTimeStamp,
  8: string userName,
  9: string firstName,
  10: string lastName,
  11: string fullName,
  12: string company,
  13: string account,
  14: string applicantId,
  15: string zipcode,
  16: bool isLoginFinal,
  17: string notes,
  18: bool isSecured,
  19: bool isFavorited,
  20: i16 passwordStrength,
  21: string tags,
  22: string title,
  30: i64 accessCreateTimeStamp,
  31: i64 accessUpdateTimeStamp,
  32: i64 accessReadTimeStamp,
  50: TwoFactorData twoFactor,
  51: YubikeyData yubikey,
}

struct SiteData {
  1: string siteUrl,
  2: list<LoginData> loginData,
  3: set<string> formUrls,
  4: bool isFavorited,
  5: bool isSecured,
  6: string displayName,
  7: i64 updateTimeStamp,
  8: string domain,
}

// Digests are SHA-256 of the UTF-8 text, 64 lower-case hex digits.
struct AccountsCache {
  1: i64 updateTimeStamp,
  // digest of each user name
  2: set<string> loginsCache,
  // digest of user name + "_" + password
  3: set<string> passwordsCache,
}

struct SitesCache {
  1: i64 updateTimeStamp,
  // digests of the site domains
  2: set<string> urlsCache,
  // site-domain digest -> that site's accounts
  3: map<string, AccountsCache> accountsCache,
  4: set<string> protectedUrlsCache,
}

struct U2FData {
  1: binary applicationTag,
  2: binary privateKey,
}

struct HostUrl {
  1: string mobileUrl,
  2: string desktopUrl,
}

struct HostData {
  1: string siteUrl,
  2: string displayName,
  3: binary icon,
  4: binary logo,
  10: HostUrl loginUrl,
  11: bool suportAutoLogin,
}

struct AuditData {
  1: i64 time,
  // enumeration; no member is known on the desktop side
  2: i32 operation,
  3: string operand1,
  4: string operand2,
  5: string operand3,
  6: string operand4,
  7: string operand5,
  8: string clientId,
}
