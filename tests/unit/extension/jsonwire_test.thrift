// Records and services of the tests of the JSON encoding and the servers, shaped
// like the vault's own messages, compiled with the stock C++ generator.
namespace cpp lumvane.wiretest

struct TBNError {
  1: optional i32 category
  2: optional i64 id
  3: optional string debugMessage
}

struct TBNRequestInfo {
  1: optional string id
  2: optional i64 timeStampUtc
  3: optional string contextName
}

struct TBNResponseInfo {
  1: optional string id
  2: optional i64 timeStampUtc
  3: optional string requestId
  4: optional TBNError error
  5: optional string contextName
}

struct TBNAuthentication {
  1: optional string clientId
  2: optional string clientSecret
}

struct TBNLoginData {
  1: optional string login
  2: optional string password
  3: optional string email
  4: optional string notes
  5: optional bool favorite
  6: optional i16 strength
  7: optional i64 created
  8: optional i64 modified
}

struct TBNSiteData {
  1: optional string siteUrl
  2: optional list<TBNLoginData> loginData
  3: optional set<string> formUrls
  4: optional string displayName
  5: optional string domain
  6: optional bool isProtected
}

struct TBNDeleteLoginDataRequest {
  1: optional TBNRequestInfo info
  2: optional TBNAuthentication auth
  3: optional string siteUrl
  4: optional string login
}

struct TBNDeleteLoginDataResponse {
  1: optional TBNResponseInfo info
}

struct TBNGetSiteDataListRequest {
  1: optional TBNRequestInfo info
  2: optional TBNAuthentication auth
}

struct TBNGetSiteDataListResponse {
  1: optional TBNResponseInfo info
  2: optional list<TBNSiteData> records
}

struct TBNPingTestRequest {
  1: optional TBNRequestInfo info
  2: optional TBNAuthentication auth
  3: optional string appIdentifier
  4: optional string appVersion
}

struct TBNPongTestResponse {
  1: optional TBNResponseInfo info
  2: optional bool extendedMode
  3: optional i64 flags
  4: optional string clientSecret
}

// Every type of the table, for the encoding's edge cases.
struct AllTypes {
  1: optional bool flag
  2: optional byte small
  3: optional i16 shortValue
  4: optional i32 intValue
  5: optional i64 longValue
  6: optional double real
  7: optional string text
  8: optional binary raw
  9: optional map<string, i32> byName
  10: optional map<i32, string> byNumber
  11: optional list<i32> numbers
  12: optional set<string> names
  13: optional TBNError nested
  14: optional list<list<i32>> grid
  15: optional map<i64, TBNError> errors
}

service TBNStorageService {
  TBNDeleteLoginDataResponse deleteLoginData(1: TBNDeleteLoginDataRequest request)
  TBNGetSiteDataListResponse getSiteDataList(1: TBNGetSiteDataListRequest request)
}

service TBNHostStorageService {
  TBNPongTestResponse sendPing(1: TBNPingTestRequest request)
}

service TBNLoggingService {
  TBNPongTestResponse sendLog(1: TBNPingTestRequest request)
}
