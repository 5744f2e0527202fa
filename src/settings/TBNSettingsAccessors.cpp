// Scalar preferences, the rating state and the pong flags word.
#include <cmath>

#include "idl/protocols.h"
#include "runtime/TBNUtil.h"
#include "settings/TBNSettings.h"

namespace lumvane {

namespace {

using Text = TBNSettings::Text;

double secondsSince1970(TBNSettings::Date date) {
    return std::chrono::duration<double>(date.time_since_epoch()).count();
}

int64_t wholeSecondsSince1970(TBNSettings::Date date) {
    // duration_cast truncates toward zero, before 1970 as well.
    return std::chrono::duration_cast<std::chrono::seconds>(date.time_since_epoch()).count();
}

}  // namespace

// Each accessor reads or writes one field of one record; the key names its cache entry.
#define LUMVANE_TEXT_GETTER(getter, record, field, key)                                   \
    Text TBNSettings::getter() {                                                          \
        return strValueFromCacheForKey(std::string(key), [](TBNSettings& s) -> Text {     \
            return s.record().field();                                                    \
        });                                                                               \
    }
#define LUMVANE_TEXT_ACCESSORS(getter, Setter, record, key, mask)                         \
    LUMVANE_TEXT_GETTER(getter, record, getter, key)                                      \
    void TBNSettings::set##Setter(const Text& value) {                                    \
        updateForCacheKey(std::string(key), [value](TBNSettings& s) -> TBNSettingsComponents { \
            s.record().set##Setter(value);                                                \
            return mask;                                                                  \
        });                                                                               \
    }
#define LUMVANE_FLAG_ACCESSORS(getter, Setter, record, key, mask)                         \
    bool TBNSettings::getter() {                                                          \
        return numValueFromCacheForKey(std::string(key),                                  \
                                       [](TBNSettings& s) -> std::optional<int64_t> {     \
                                           return s.record().getter() ? 1 : 0;            \
                                       })                                                 \
                   .value_or(0) != 0;                                                     \
    }                                                                                     \
    void TBNSettings::set##Setter(bool value) {                                           \
        updateForCacheKey(std::string(key), [value](TBNSettings& s) -> TBNSettingsComponents { \
            s.record().set##Setter(value);                                                \
            return mask;                                                                  \
        });                                                                               \
    }
#define LUMVANE_INT32_ACCESSORS(getter, Setter, record, key, mask)                        \
    int32_t TBNSettings::getter() {                                                       \
        return static_cast<int32_t>(                                                      \
            numValueFromCacheForKey(std::string(key),                                     \
                                    [](TBNSettings& s) -> std::optional<int64_t> {        \
                                        return s.record().getter();                       \
                                    })                                                    \
                .value_or(0));                                                            \
    }                                                                                     \
    void TBNSettings::set##Setter(int32_t value) {                                        \
        updateForCacheKey(std::string(key), [value](TBNSettings& s) -> TBNSettingsComponents { \
            s.record().set##Setter(value);                                                \
            return mask;                                                                  \
        });                                                                               \
    }

LUMVANE_TEXT_ACCESSORS(clientId, ClientId, osxSettings, "clientId", 0)
LUMVANE_TEXT_GETTER(appVersion, osxSettings, appVersion, "appVersion")
LUMVANE_FLAG_ACCESSORS(startAtLogin, StartAtLogin, osxSettings, "startAtLogin", 0)
LUMVANE_FLAG_ACCESSORS(sendReports, SendReports, osxSettings, "sendReports", 0)
LUMVANE_FLAG_ACCESSORS(resetSendReports, ResetSendReports, osxSettings, "resetSendReports", 0)
LUMVANE_INT32_ACCESSORS(loggingLevel, LoggingLevel, osxSettings, "loggingLevel", 0)
LUMVANE_TEXT_ACCESSORS(clientSecret, ClientSecret, osxEncryptedSettings, "clientSecret", 0)
LUMVANE_TEXT_GETTER(clientSecretKey, osxEncryptedSettings, secretKey, "clientSecretKey")
LUMVANE_TEXT_ACCESSORS(backupLocation, BackupLocation, osxSettings, "backupLocation", 0)
LUMVANE_TEXT_ACCESSORS(altBackupLocation, AltBackupLocation, osxSettings, "altBackupLocation", 0)
LUMVANE_TEXT_ACCESSORS(lastBackupFilePath, LastBackupFilePath, osxSettings, "lastBackupFilePath", 0)
LUMVANE_FLAG_ACCESSORS(userChangedBackupLocation, UserChangedBackupLocation, osxSettings,
                       "userChangedBackupLocation", 0)
LUMVANE_TEXT_ACCESSORS(lastSafariExtVersion, LastSafariExtVersion, osxSettings,
                       "lastSafariExtVersion", 0)
LUMVANE_TEXT_ACCESSORS(lastChromeExtVersion, LastChromeExtVersion, osxSettings,
                       "lastChromeExtVersion", 0)
LUMVANE_FLAG_ACCESSORS(paused, Paused, osxSettings, "paused", TBNSettingsComponentPaused)
LUMVANE_FLAG_ACCESSORS(osxExtendedMode, OsxExtendedMode, osxSettings, "osxExtendedMode",
                       TBNSettingsComponentSwitches)
LUMVANE_FLAG_ACCESSORS(extensionExtendedMode, ExtensionExtendedMode, osxSettings,
                       "extensionExtendedMode", TBNSettingsComponentSwitches)
LUMVANE_FLAG_ACCESSORS(updateToPrerelease, UpdateToPrerelease, osxSettings, "updateToPrerelease",
                       TBNSettingsComponentSwitches)
LUMVANE_FLAG_ACCESSORS(enableBLETesting, EnableBLETesting, osxSettings, "enableBLETesting",
                       TBNSettingsComponentSwitches)
LUMVANE_FLAG_ACCESSORS(supportYubiKey, SupportYubiKey, osxSettings, "supportYubiKey",
                       TBNSettingsComponentSwitches)
LUMVANE_FLAG_ACCESSORS(firstFillGuideShowed, FirstFillGuideShowed, osxSettings,
                       "firstFillGuideShowed", 0)
LUMVANE_FLAG_ACCESSORS(doneWizard, DoneWizard, osxSettings, "doneWizard", 0)
LUMVANE_FLAG_ACCESSORS(skipUntilOnline, SkipUntilOnline, osxSessionSettings, "skipUntilOnline",
                       TBNSettingsComponentSession)
LUMVANE_INT32_ACCESSORS(wizardSafariState, WizardSafariState, osxSessionSettings,
                        "wizardSafariState", TBNSettingsComponentSession)
LUMVANE_INT32_ACCESSORS(wizardChromeState, WizardChromeState, osxSessionSettings,
                        "wizardChromeState", TBNSettingsComponentSession)
LUMVANE_TEXT_ACCESSORS(expectedDeviceId, ExpectedDeviceId, osxSessionSettings, "expectedDeviceId",
                       TBNSettingsComponentSession)
LUMVANE_TEXT_ACCESSORS(pairingHardwareId, PairingHardwareId, osxSessionSettings,
                       "pairingHardwareId", TBNSettingsComponentSession)

#undef LUMVANE_TEXT_GETTER
#undef LUMVANE_TEXT_ACCESSORS
#undef LUMVANE_FLAG_ACCESSORS
#undef LUMVANE_INT32_ACCESSORS

uint64_t TBNSettings::appVersionCode() {
    return static_cast<uint64_t>(
        numValueFromCacheForKey(std::string("appVersionCode"),
                                [](TBNSettings& s) -> std::optional<int64_t> {
                                    const auto& v = s.osxSettings().appVersion();
                                    return static_cast<int64_t>(v ? TBNUtil::versionCode(*v) : 0);
                                })
            .value_or(0));
}

// ---- records --------------------------------------------------------------------------------

std::shared_ptr<TBNGeneratorSettings> TBNSettings::generatorSettings() {
    return valueFromSettings<std::shared_ptr<TBNGeneratorSettings>>(
               [](TBNSettings& s) -> std::optional<std::shared_ptr<TBNGeneratorSettings>> {
                   const auto& stored = s.osxSettings().generator();
                   if (!stored) return std::nullopt;
                   auto copy = std::make_shared<TBNGeneratorSettings>(*stored);
                   if (stored->config()) {
                       copy->setConfig(std::make_shared<TBNGeneratorConfig>(*stored->config()));
                   }
                   return copy;
               })
        .value_or(nullptr);
}

void TBNSettings::setGeneratorSettings(const std::shared_ptr<TBNGeneratorSettings>& value) {
    std::shared_ptr<TBNGeneratorSettings> copy;
    if (value) {
        copy = std::make_shared<TBNGeneratorSettings>(*value);
        if (value->config()) copy->setConfig(std::make_shared<TBNGeneratorConfig>(*value->config()));
    }
    updateSettings([copy](TBNSettings& s) -> TBNSettingsComponents {
        s.osxSettings().setGenerator(copy);
        return TBNSettingsComponentGenerator;
    });
}

std::shared_ptr<TBNCertSettings> TBNSettings::clientCert() {
    using Cached = std::shared_ptr<const TBNCertSettings>;
    auto cached = valueFromCacheForKey<Cached>(
        std::string("clientCert"), [](TBNSettings& s) -> std::optional<Cached> {
            const auto& stored = s.osxEncryptedSettings().clientCert();
            if (!stored) return std::nullopt;
            return std::make_shared<const TBNCertSettings>(*stored);
        });
    if (!cached || !*cached) return nullptr;
    return std::make_shared<TBNCertSettings>(**cached);
}

void TBNSettings::setClientCert(const std::shared_ptr<TBNCertSettings>& value) {
    auto copy = value ? std::make_shared<TBNCertSettings>(*value) : nullptr;
    updateForCacheKey(std::string("clientCert"), [copy](TBNSettings& s) -> TBNSettingsComponents {
        s.osxEncryptedSettings().setClientCert(copy);
        return TBNSettingsComponentClientCert;
    });
}

// ---- times ----------------------------------------------------------------------------------

TBNSettings::Date TBNSettings::lastBackupTime() {
    auto date = valueFromCacheForKey<Date>(std::string("lastBackupTime"),
                                           [](TBNSettings& s) -> std::optional<Date> {
                                               return Date(std::chrono::seconds(
                                                   s.osxSettings().lastBackupTime()));
                                           });
    return date.value_or(Date{});
}

void TBNSettings::setLastBackupTime(const std::optional<Date>& value) {
    const int64_t seconds = value ? wholeSecondsSince1970(*value) : 0;
    updateForCacheKey(std::string("lastBackupTime"),
                      [seconds](TBNSettings& s) -> TBNSettingsComponents {
                          s.osxSettings().setLastBackupTime(seconds);
                          return 0;
                      });
}

// ---- rating -----------------------------------------------------------------------------------

bool TBNSettings::showRateView() {
    return valueFromSettings<bool>([](TBNSettings& s) -> std::optional<bool> {
               const auto& r = s.osxSettings();
               return !r.skipRate() && r.rateTriggerCounter() <= 0 &&
                      secondsSince1970(s.now()) > static_cast<double>(r.nextRateTime());
           })
        .value_or(false);
}

void TBNSettings::rateTriggerTick() {
    // A counter: merged into a later write.
    updateCaches([](TBNSettings& s) -> TBNSettingsComponents {
        auto& r = s.osxSettings();
        if (r.rateTriggerCounter() > 0) r.setRateTriggerCounter(r.rateTriggerCounter() - 1);
        return 0;
    });
}

void TBNSettings::skipRate() {
    updateSettings([](TBNSettings& s) -> TBNSettingsComponents {
        s.osxSettings().setNextRateTime(
            static_cast<int64_t>(std::trunc(secondsSince1970(s.now()) + 86400.0)));
        return 0;
    });
}

void TBNSettings::cancelRate() {
    updateSettings([](TBNSettings& s) -> TBNSettingsComponents {
        s.osxSettings().setSkipRate(true);
        return 0;
    });
}

void TBNSettings::successRate() { cancelRate(); }

// ---- pong flags ---------------------------------------------------------------------------------

int64_t TBNSettings::getPongFlagsFromLoggingLevel(int32_t loggingLevel) {
    switch (loggingLevel) {
        case 11: return TBNprotocolsConstants::LOG_LEVEL_INFO();
        case 12: return TBNprotocolsConstants::LOG_LEVEL_DEBUG();
        case 13: return TBNprotocolsConstants::LOG_LEVEL_VERBOSE();
        default: return TBNprotocolsConstants::LOG_LEVEL_OFF();
    }
}

int64_t TBNSettings::pongFlags() {
    // A change queued before this call has not run yet: wait for it like any getter.
    if (queuedChanges_.load() == 0) {
        const int64_t kept = pongFlags_.load();
        if (kept != kNoPongFlags) return kept;
    }
    return numValueFromSettings([](TBNSettings& s) -> std::optional<int64_t> {
               const auto& r = s.osxSettings();
               int64_t flags = getPongFlagsFromLoggingLevel(r.loggingLevel());
               if (r.sendReports()) flags |= TBNprotocolsConstants::GA_ENABLED();
               if (r.extensionExtendedMode()) flags |= TBNprotocolsConstants::EXTENDED_MODE_ENABLED();
               const auto& paired = r.pairedDevices();
               if (!paired || paired->empty()) {
                   flags |= TBNprotocolsConstants::DEVICE_STATE_DONTPAIRED();
               } else {
                   const auto& first = paired->begin()->second;
                   flags |= (first && first->online()) ? TBNprotocolsConstants::DEVICE_STATE_ONLINE()
                                                       : TBNprotocolsConstants::DEVICE_STATE_OFFLINE();
               }
               // No change runs beside a read block, and the next one drops the word.
               s.pongFlags_.store(flags);
               return flags;
           })
        .value_or(TBNprotocolsConstants::DEVICE_STATE_DONTPAIRED());
}

}  // namespace lumvane
