// Messages and services exchanged with the phone and with the browser extensions.
//
// Layout of this file:
//   1. common message parts (request/response info, error, authentication) and constants
//   2. StorageService: the vault, served by the phone and by the desktop to extensions
//   3. MobileStorageService: served by the phone
//   4. HostStorageService: served by the desktop to extensions
//   5. LoggingService: served by the desktop to extensions
//
// Declaration order is write order; several requests declare their ids out of order on
// purpose (the peers depend on that order), so never sort a record's fields.

include "structures.thrift"

// ---------------------------------------------------------------------------------------
// 1. Common message parts

struct Error {
  // 1 client not allowed, 2 user cancelled or timed out, 3 phone not paired or not
  // reachable, 4 service or its data refused or failed
  1: i32 category,
  2: i64 id,
  3: string debugMessage,
}

struct RequestInfo {
  1: string id,
  // whole seconds since 1970-01-01 UTC
  2: i64 timeStampUtc,
  3: string contextName,
}

struct ResponseInfo {
  1: string id,
  2: i64 timeStampUtc,
  3: string requestId,
  // present only when the request failed
  4: Error error,
  5: string contextName,
}

struct Authentication {
  1: string clientId,
  2: string clientSecret,
}

const string EDM_CLIENT_NOT_AUTHORIZED = "Client not authorized"
const string EDM_CLIENT_BANED = "Client baned"
const string EDM_USER_CANCELED = "User canceled"
const string EDM_USER_TIMEOUT = "User timeout"
const string EDM_DEVICE_NOT_PAIRED = "Device not paired"
const string EDM_DEVICE_NOT_FOUND = "Device not found"
const string EDM_DEVICE_NOT_AVAILABLE = "Device not available"
const string EDM_SITE_NOT_FOUND = "Site not found"
const string EDM_ACCOUNT_NOT_FOUND = "Account not found"
const string EDM_ACCOUNT_DUPLICATED = "Account duplicated"
const string EDM_METHOD_NOT_IMPLEMENTED = "Method not implemented"
const string EDM_DB_LOCKED = "DB locked"
const string EDM_ADD_ACCOUNT_BLOCKED = "Add account blocked"
const string EDM_NOT_FOUND = "Resource not found"
const string EDM_PAUSED = "Service paused"

// The pong flags word: take a field by AND with its mask.
const i64 LOG_LEVEL_MASK = 3
const i64 LOG_LEVEL_OFF = 0
const i64 LOG_LEVEL_INFO = 1
const i64 LOG_LEVEL_DEBUG = 2
const i64 LOG_LEVEL_VERBOSE = 3
const i64 GA_MASK = 4
const i64 GA_ENABLED = 4
const i64 EXTENDED_MODE_MASK = 8
const i64 EXTENDED_MODE_ENABLED = 8
const i64 DEVICE_STATE_MASK = 48
const i64 DEVICE_STATE_ONLINE = 0
const i64 DEVICE_STATE_OFFLINE = 16
const i64 DEVICE_STATE_DONTPAIRED = 32

// ---------------------------------------------------------------------------------------
// 2. StorageService
//
// Between a browser extension and the desktop the password of every login travels as
// Base64 of its UTF-8 bytes.

struct GetLoginDataRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string siteUrl,
  5: string domain,
  6: bool manual,
  4: string login,
}

struct GetLoginDataResponse {
  1: ResponseInfo info,
  2: structures.LoginData data,
}

struct AddLoginDataRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string siteUrl,
  6: string domain,
  4: structures.LoginData loginData,
  5: bool isSecured,
}

struct AddLoginDataResponse {
  1: ResponseInfo info,
  2: bool isUpdated,
}

struct DeleteLoginDataRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string siteUrl,
  5: string domain,
  4: string login,
}

struct DeleteLoginDataResponse {
  1: ResponseInfo info,
}

struct UpdateLoginDataRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string siteUrl,
  6: string domain,
  4: structures.LoginData loginData,
  5: string currentLogin,
}

struct UpdateLoginDataResponse {
  1: ResponseInfo info,
}

struct GetSiteDataRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string siteUrl,
  6: string domain,
  4: bool includeLoginData,
  5: bool includePasswords,
  7: bool manual,
}

struct GetSiteDataResponse {
  1: ResponseInfo info,
  2: structures.SiteData record,
}

struct GetSiteDataListRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: bool includeLoginData,
  4: bool includePasswords,
}

struct GetSiteDataListResponse {
  1: ResponseInfo info,
  2: list<structures.SiteData> records,
}

struct DeleteSiteDataRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string siteUrl,
  4: string domain,
}

struct DeleteSiteDataResponse {
  1: ResponseInfo info,
}

struct Get2FACodeRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string siteUrl,
  4: string domain,
  5: string login,
}

struct Get2FACodeResponse {
  1: ResponseInfo info,
  2: string code,
  3: string prevCode,
  4: string nextCode,
  5: i16 period,
  6: i64 startTimestamp,
}

service StorageService {
  GetLoginDataResponse getLoginData(1: GetLoginDataRequest request),
  AddLoginDataResponse addLoginData(1: AddLoginDataRequest request),
  DeleteLoginDataResponse deleteLoginData(1: DeleteLoginDataRequest request),
  UpdateLoginDataResponse updateLoginData(1: UpdateLoginDataRequest request),
  GetSiteDataResponse getSiteData(1: GetSiteDataRequest request),
  GetSiteDataListResponse getSiteDataList(1: GetSiteDataListRequest request),
  DeleteSiteDataResponse deleteSiteData(1: DeleteSiteDataRequest request),
  Get2FACodeResponse get2FACode(1: Get2FACodeRequest request),
}

// ---------------------------------------------------------------------------------------
// 3. MobileStorageService (messages, then the service)

// ---------------------------------------------------------------------------------------
// 4. HostStorageService (messages, then the service)

// ---------------------------------------------------------------------------------------
// 5. LoggingService (the log record, then the service)
