// Settings records. The desktop keeps its own settings in the records of section 1;
// section 2 holds the phone application's settings records, which this file shares
// with the phone (the desktop carries them as records only: nothing here builds,
// sends or reads them).
//
// Every field is optional and has no default (the generated records keep an is-set
// flag per field). Declaration order is write order.

include "structures.thrift"
include "database.thrift"

// =======================================================================================
// 1. Desktop settings records (settings store)
//
// Only the records that section 2 refers to are declared so far; the settings store's
// own records join them in this section.

// The password generator's configuration. Whether useCapitalization is SET selects
// the flag form (set) or the older percentage form (unset).
struct GeneratorConfig {
  1: i16 lenght,
  2: i16 digits,
  3: i16 symbols,
  4: i16 readability,
  5: i16 capitalization,
  10: bool useDigits,
  11: bool useSymbols,
  12: bool useCapitalization,
}

struct GeneratorSettings {
  // 0-8 the generator's presets, 99 a custom configuration
  1: i32 profile,
  2: GeneratorConfig config,
}

struct CertSettings {
  1: i16 keySize,
  2: string publicKey,
  3: string privateKey,
  4: string cert,
}

// =======================================================================================
// 2. Phone-side settings records (shared with the phone application)

// One desktop client known to the phone.
struct IOSClientInfo {
  1: string name,
  2: string cid,
  3: bool approved,
  4: string publicKey,
  5: string secretKey,
  6: string clientSecret,
}

struct IOSAnalytics {
  1: set<i32> achievements,
}

struct IOSAutoFillDomain {
  1: string domain,
  2: i64 createTime,
}

struct IOSSettings {
  1: string deviceId,
  2: string pushToken,
  3: bool sendReports,
  4: i32 authenticationType,
  5: i16 lockTimeout,
  6: bool allowedNotifications,
  7: bool allowedBluetooth,
  8: i64 lastBackupTime,
  9: bool enableNotificationSound,
  10: bool enableNotificationVibrate,
  12: i32 backupEncryptionMethod,
  13: bool enableAutoBackup,
  14: i32 sitesGuideState,
  15: i32 accountGuideState,
  16: i32 loggingLevel,
  17: bool doneWizard,
  18: bool concealPassword,
  19: bool doNotShowEnableBluetoothGuide,
  20: GeneratorSettings generator,
  21: bool autoFillIfExistOneAccount,
  22: i32 autoFillGuideState,
  23: bool resetSendReports,
  24: i32 sitesSort,
  25: bool requestCredentialForYubikey,
  26: binary encMasterKey,
  27: i16 autoLockTimeout,
  28: i16 clearClipboardTimeout,
  29: string encMasterKeyConfig,
  30: bool extendedMode,
  31: bool extPasswordStrengthForSites,
  32: bool extSortingForSites,
  33: bool extYubiKey,
  34: bool extBankCards,
  35: bool extExtendedSettings,
  36: bool extYubiKeyShowAppLabel,
  37: bool extForceEnableAnalytics,
  38: bool extFavoritesPinnedForSites,
  40: bool autoFillWithOutUI,
  // spelled so on both sides of the wire
  41: bool autoFillWithOutUINotProtedAccount,
  42: map<string, IOSAutoFillDomain> autoFillServiceIdentifiers,
  99: map<string, IOSClientInfo> clients,
  100: string appVersion,
  101: i64 appVersionUpdateTime,
  102: i64 lastCheckPromotionsTime,
}

struct IOSEncryptedSettings {
  1: binary hashPinCode,
  2: IOSAnalytics analytics,
  3: i64 lastTimeEnterMasterPassword,
  4: database.EncryptedBackupHeader backupEncryptedHeader,
  5: binary backupEncryptKey,
  6: CertSettings serverCert,
  10: bool coreUser,
  12: i16 pinCodeWaitTimer,
  13: i16 pinCodeNextWaitTimer,
  14: i16 pinCodeFailCounter,
}

struct IOSSessionSettings {
  1: binary hashMasterPassword,
  2: i16 failedPasswordCount,
  3: i16 failedPinCodeCount,
  4: map<string, IOSClientInfo> onlineClients,
  5: i64 lastCopyToClipboardTime,
  6: string loginCopiedToClipboard,
  7: string passwordCopiedToClipboard,
  8: bool unlocked,
  9: string commentCopiedToClipboard,
  10: string accountIdCopiedToClipboard,
  11: string urlToOpen,
  12: string twoFactorCodeCopiedToClipboard,
}

// End of section 2.
// =======================================================================================

// =======================================================================================
// 3. Desktop settings store records: the settings file and the three records the
//    settings store keeps (plain part, encrypted part, in-memory session values).
//    Field ids and wire types are the file format; ids skipped here are unused.

// The settings file: two sealed parts, each a salted blob encrypted with AES.
struct SettingsBlob {
  // OSXSettings, under the key derived from the built-in phrase
  1: binary settings,
  // OSXEncryptedSettings, under the 32-byte key kept in the keychain
  2: binary encryptedSettings,
}

// One phone: paired, or seen online during this run.
struct OSXDeviceInfo {
  1: string deviceId,
  // the phone's Bluetooth LE peripheral identifier; the key of the device maps
  2: string hardwareId,
  3: i32 rssi,
  4: string name,
  5: string model,
  6: string token,
  7: i32 batteryLevel,
  8: i32 batteryState,
  9: string osVersion,
  10: string appVersion,
  // 0 not reported yet, 2 vault locked, anything else ready
  11: i32 appState,
  12: bool online,
  13: bool deviceIsNear,
  14: structures.SitesCache sitesCache,
  15: string publicKey,
}

// One Bluetooth LE peripheral known to the phone link.
struct OSXBlecPeripheral {
  // 0 unknown, 1 not available, 2 available, 3 unsupported, 4 supported, 5 found
  1: i32 state,
  2: string bleId,
  3: string deviceId,
  4: string deviceName,
  5: string deviceModel,
  6: string osVersion,
  7: string appVersion,
}

struct OSXSettings {
  1: string clientId,
  3: GeneratorSettings generator,
  4: bool sendReports,
  5: bool startAtLogin,
  6: string backupLocation,
  7: string lastBackupFilePath,
  8: i64 lastBackupTime,
  9: bool userChangedBackupLocation,
  // hardware id -> phone
  10: map<string, OSXDeviceInfo> pairedDevices,
  // device id -> hardware id
  11: map<string, string> pairedDeviceIdMap,
  // 0-2 off, 11 info, 12 debug, 13 verbose
  12: i32 loggingLevel,
  13: string lastSafariExtVersion,
  14: string lastChromeExtVersion,
  15: bool firstFillGuideShowed,
  16: bool doneWizard,
  17: string altBackupLocation,
  18: bool resetSendReports,
  20: list<OSXBlecPeripheral> blecPeripherals,
  // extension client id -> client secret
  21: map<string, string> approvedExtIdMap,
  // site digest -> account digest
  22: map<string, string> chooseAccounts,
  30: bool skipRate,
  31: i64 nextRateTime,
  32: i16 rateTriggerCounter,
  40: map<string, OSXDeviceInfo> pairedDevicesByDeviceId,
  // key -> account digests offered
  51: map<string, list<string>> chooseAccountsCache,
  90: bool paused,
  91: bool osxExtendedMode,
  92: bool extensionExtendedMode,
  93: bool updateToPrerelease,
  94: bool enableBLETesting,
  95: bool supportYubiKey,
  100: string appVersion,
}

struct OSXEncryptedSettings {
  1: CertSettings clientCert,
  // base64 of the 32-byte link key made once per installation
  2: string secretKey,
  3: string clientSecret,
  10: binary httpsPrivateKey,
  11: binary httpsCertificate,
  12: binary httpsCertWrapper,
}

// Values of the running process; never written anywhere.
struct OSXSessionSettings {
  1: string expectedDeviceId,
  2: string pairingHardwareId,
  // hardware id -> phone seen online and not paired
  3: map<string, OSXDeviceInfo> onlineDevices,
  4: list<string> declinedDevices,
  // hardware id -> cache entries the desktop added itself
  5: map<string, structures.SitesCache> localSitesCache,
  6: bool skipUntilOnline,
  10: i32 wizardSafariState,
  11: i32 wizardChromeState,
}

// End of section 3.
// =======================================================================================
