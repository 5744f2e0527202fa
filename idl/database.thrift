// Records of the vault database the phone keeps and exports, shared with the phone
// application: encrypted database and backup envelopes, the salted blobs every
// encrypted payload is wrapped in, and the record collections of import and export.
//
// Every field is optional and has no default (the generated records keep an is-set
// flag per field). Declaration order is write order.

include "structures.thrift"

// ---------------------------------------------------------------------------------------
// Envelopes

struct EncryptedHeader {
  1: i16 version,
  2: i64 marker,
}

struct EncryptedDatabase {
  1: binary header,
  2: binary data,
}

struct EncryptedBackupHeader {
  1: i16 version,
  // spelled so on both sides of the wire
  2: i16 encyptMethod,
  3: list<string> questions,
  4: list<binary> questionsKeys,
}

struct EncryptedBackup {
  1: binary header,
  2: binary data,
}

// ---------------------------------------------------------------------------------------
// Salted blobs: a random salt makes two encryptions of the same payload differ (the
// AES layer uses a zero IV). Version 2 adds salt XOR marker so a receiver can tell
// whether it used the right key.

struct EncryptedBlob {
  1: i64 salt,
  2: binary blob,
}

struct EncryptedBlobV2 {
  1: i64 salt,
  2: i64 saltXorMarker,
  3: binary blob,
}

// ---------------------------------------------------------------------------------------
// Record collections

// The payload of import and export.
struct SiteDataCollection {
  1: list<structures.SiteData> records,
  2: i64 updateTimeStamp,
  10: list<structures.AuditData> audits,
  11: list<structures.U2FData> u2fRecords,
}

struct HostDataCollection {
  1: i64 updateTimeStamp,
  2: map<string, structures.HostData> records,
}

struct YubiKeyHostDataCollection {
  1: i64 updateTimeStamp,
  2: map<string, string> records,
}

// ---------------------------------------------------------------------------------------
// Constants

const i16 Version0001 = 1
const i16 Version0002 = 2
const i16 CurrentVersion = 1
const i16 CurrentBackupVersion = 1
const i16 CurrentBackupEncryptionMethod = 2
// Read as a little-endian i64 it is the marker of the version-2 salted blob.
const string TBNMarker = "_tbnlmv_"
