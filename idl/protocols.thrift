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
//
// Served by the phone; the desktop calls it over the phone link with the compact
// protocol. Requests start with 1 info and 2 auth, responses with 1 info. Times are whole
// seconds since 1970-01-01 UTC. Several records declare their ids out of order: keep it.

struct ClientInfo {
  1: string name,
  2: string model,
  3: string osVersion,
  4: string appVersion,
}

struct DeviceInfo {
  1: string name,
  2: string model,
  3: string osVersion,
  4: string appVersion,
  5: string pushToken,
}

struct ApproveClientRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string clientName,
  4: string clientModel,
  // "OSX %02lu.%02lu"
  5: string osVersion,
  6: string appVersion,
  7: i64 lastBackupTime,
  8: string publicKey,
  9: string secretKey,
}

struct ApproveClientResponse {
  1: ResponseInfo info,
  2: string deviceId,
  3: DeviceInfo deviceInfo,
}

struct UpdateInfoRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: ClientInfo clientInfo,
}

struct UpdateInfoResponse {
  1: ResponseInfo info,
  2: DeviceInfo deviceInfo,
}

struct GetSitesCacheRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: i64 updateTimeStamp,
  4: bool includeAccountsCache,
}

struct GetSitesCacheResponse {
  1: ResponseInfo info,
  2: structures.SitesCache sitesCache,
}

struct GetAccountsCacheRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: i64 updateTimeStamp,
  4: string siteUrl,
  5: string domain,
}

// Written 1, 2, 4, 3.
struct GetAccountsCacheResponse {
  1: ResponseInfo info,
  2: string siteUrl,
  4: string domain,
  3: structures.AccountsCache accountsCache,
}

struct GetBackUpRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: i64 lastBackUpTime,
}

struct GetBackUpResponse {
  1: ResponseInfo info,
  2: binary backUp,
  3: i64 lastBackUpTime,
}

// Request-shaped, but the method returns nothing.
struct SetBackUpResult {
  1: RequestInfo info,
  2: Authentication auth,
  3: Error result,
  4: i64 backupTime,
}

struct SetBackUp {
  1: RequestInfo info,
  2: Authentication auth,
  3: binary backUp,
  4: Error result,
}

struct SendPasswordRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string newPassword,
}

struct SendPasswordResponse {
  1: ResponseInfo info,
}

struct LoadDataForClipboardRequest {
  1: RequestInfo info,
  2: Authentication auth,
}

// Ids 7 to 9 are not used.
struct LoadDataForClipboardResponse {
  1: ResponseInfo info,
  2: string login,
  3: string password,
  4: string comment,
  5: string accountId,
  6: string twoFactorCode,
  // seconds; 0 or less: never cleared
  10: i16 clearTimeout,
}

struct GetUrlToOpenRequest {
  1: RequestInfo info,
  2: Authentication auth,
}

struct GetUrlToOpenResponce {
  1: ResponseInfo info,
  2: string url,
}

// Written 1, 2, 3, 4, 6, 5.
struct RequestForImportSiteDataRequest {
  1: RequestInfo info,
  2: Authentication auth,
  // ImportSource (services/ServiceEnums.h)
  3: i32 source,
  4: string sourceDetail,
  6: string sourceName,
  5: i32 recordCount,
}

struct RequestForImportSiteDataResponse {
  1: ResponseInfo info,
  2: string token,
}

struct ImportSiteDataRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string token,
  // SerializeType: 0 compact SiteDataCollection, 1 the same bzip2-compressed
  4: i32 typeSerialize,
  5: binary serializedRecords,
}

struct ImportSiteDataResponse {
  1: ResponseInfo info,
}

// No id 5.
struct RequestForExportSiteDataRequest {
  1: RequestInfo info,
  2: Authentication auth,
  // ExportDestination (services/ServiceEnums.h)
  3: i32 destination,
  4: string destinationDetail,
  6: string destinationName,
}

struct RequestForExportSiteDataResponse {
  1: ResponseInfo info,
  2: string token,
}

struct ExportSiteDataRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string token,
}

struct ExportSiteDataResponse {
  1: ResponseInfo info,
  2: i32 typeSerialize,
  3: binary serializedRecords,
}

struct RegisterYubikeyRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: binary requestRaw,
  4: string siteUrl,
  5: string login,
}

struct RegisterYubikeyResponse {
  1: ResponseInfo info,
  2: binary responseRaw,
}

struct AuthenticationYubikeyRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: binary requestRaw,
  4: string siteUrl,
  5: string login,
}

struct AuthenticationYubikeyResponse {
  1: ResponseInfo info,
  2: binary responseRaw,
}

service MobileStorageService {
  ApproveClientResponse approveClient(1: ApproveClientRequest request),
  UpdateInfoResponse updateInfo(1: UpdateInfoRequest request),
  GetSitesCacheResponse getSitesCache(1: GetSitesCacheRequest request),
  GetAccountsCacheResponse getAccountsCache(1: GetAccountsCacheRequest request),
  GetBackUpResponse getBackUp(1: GetBackUpRequest request),
  void setBackUpResult(1: SetBackUpResult backupResult),
  void setBackUp(1: SetBackUp backUp),
  SendPasswordResponse sendPassword(1: SendPasswordRequest request),
  LoadDataForClipboardResponse loadDataForClipboard(1: LoadDataForClipboardRequest request),
  GetUrlToOpenResponce getUrlToOpen(1: GetUrlToOpenRequest request),
  RequestForImportSiteDataResponse requestForImportSiteData(1: RequestForImportSiteDataRequest request),
  ImportSiteDataResponse importSiteData(1: ImportSiteDataRequest request),
  RequestForExportSiteDataResponse requestForExportSiteData(1: RequestForExportSiteDataRequest request),
  ExportSiteDataResponse exportSiteData(1: ExportSiteDataRequest request),
  RegisterYubikeyResponse registerYubikey(1: RegisterYubikeyRequest request),
  AuthenticationYubikeyResponse authenticationYubikey(1: AuthenticationYubikeyRequest request),
}

// ---------------------------------------------------------------------------------------
// 4. HostStorageService (messages, then the service)
//
// Served by the desktop to browser extensions (JSON encoding).

struct PingTestRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string appIdentifier,
  4: string appVersion,
}

struct PongTestResponse {
  1: ResponseInfo info,
  2: bool extendedMode,
  // the pong flags word (LOG_LEVEL_MASK, GA_MASK, EXTENDED_MODE_MASK, DEVICE_STATE_MASK)
  3: i64 flags,
  4: string clientSecret,
}

// Written 1, 2, 3, 5, 4, 6.
struct ChooseSiteDataRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: string siteUrl,
  5: string domain,
  4: list<string> accounts,
  6: bool noCache,
}

struct ChooseSiteDataResponse {
  1: ResponseInfo info,
  2: string choosedAccount,
}

struct ImportSiteDataFromGoogleRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: list<structures.SiteData> records,
  4: string detail,
}

struct ImportSiteDataFromGoogleResponse {
  1: ResponseInfo info,
}

struct GeneratePasswordRequest {
  1: RequestInfo info,
  2: Authentication auth,
  3: bool interactive,
  4: i32 minLength,
  5: i32 maxLength,
  // GeneratorSwitch: 1 off, 2 on, anything else as configured
  6: i32 capitalization,
  7: i32 digits,
  8: i32 symbols,
}

struct GeneratePasswordResponse {
  1: ResponseInfo info,
  2: string generatedPassword,
}

service HostStorageService {
  PongTestResponse sendPing(1: PingTestRequest request),
  ChooseSiteDataResponse chooseSiteData(1: ChooseSiteDataRequest request),
  ImportSiteDataFromGoogleResponse importSiteDataFromGoogle(1: ImportSiteDataFromGoogleRequest request),
  GeneratePasswordResponse generatePassword(1: GeneratePasswordRequest request),
}

// ---------------------------------------------------------------------------------------
// 5. LoggingService (the log record, then the service)
//
// Served by the desktop to browser extensions, which send their own log lines.

struct LogMessage {
  // reverse-domain id of the sending extension; with appVersion it names the log files
  1: string appId,
  2: string appVersion,
  // tags joined by "|"
  3: string tags,
  // kind: 0 message, 1 method begin, 2 method end, 3 alternative end, 4 fail,
  // 5 time begin, 6 time end, 7 value
  4: i32 type,
  // 0 error, 1 warning, 2 info, 3 debug, 4 verbose
  5: i32 level,
  // "yyyy-MM-ddTHH:mm:ss.SSS", UTC
  6: string timestamp,
  7: string fileName,
  8: string funcName,
  9: i32 fileLine,
  10: string contextName,
  // base64 of the UTF-8 text
  11: string message,
  12: string threadName,
}

service LoggingService {
  void sendLog(1: LogMessage logMessage),
}
