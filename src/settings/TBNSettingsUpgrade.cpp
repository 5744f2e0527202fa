// The upgrade run at every start: defaults for a new settings file, migration of values
// older versions stored in another form, per-start resets, and the analytics default
// that depends on the location zone.
#include <openssl/evp.h>

#include <algorithm>
#include <system_error>

#include "crypto/TBNCryptAES.h"
#include "crypto/TBNCryptHash.h"
#include "runtime/Paths.h"
#include "runtime/TBNUtil.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"

namespace lumvane {

namespace fs = std::filesystem;

namespace {

std::string base64(const Bytes& data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data.data(),
                                  static_cast<int>(data.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

bool holdsText(const std::optional<std::string>& t) { return t && !t->empty(); }

// The newest backup file in `folder` (names carry their creation time, so the greatest
// name is the newest), or nothing.
std::optional<fs::path> newestBackup(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.size() >= 5 && name.compare(name.size() - 5, 5, ".lmbk") == 0) {
            names.push_back(std::move(name));
        }
    }
    if (names.empty()) return std::nullopt;
    return folder / *std::max_element(names.begin(), names.end());
}

std::shared_ptr<TBNGeneratorConfig> defaultGeneratorConfig() {
    return std::make_shared<TBNGeneratorConfig>(20, 30, 0, 0, 50, true, false, true);
}

}  // namespace

void TBNSettings::upgrade() {
    updateSettings([](TBNSettings& s) -> TBNSettingsComponents {
        // Values cached before the upgrade would hide what it changes.
        s.cacheClear();
        auto& r = s.osxSettings();
        auto& e = s.osxEncryptedSettings();
        auto& session = s.osxSessionSettings();
        using DeviceMap = std::map<std::string, std::shared_ptr<TBNOSXDeviceInfo>>;
        using StringMap = std::map<std::string, std::string>;

        if (!r.startAtLoginIsSet()) r.setStartAtLogin(true);
        // A file that already had a client id belongs to a user past the wizard.
        if (!r.doneWizardIsSet()) r.setDoneWizard(holdsText(r.clientId()));
        // A client id set without a value is as good as none.
        if (!r.clientIdIsSet() || !holdsText(r.clientId())) r.setClientId(TBNUtil::generateId());

        if (r.pairedDevices()) {
            for (auto& [hardwareId, device] : *r.pairedDevices()) {
                if (!device) continue;
                device->setOnline(false);
                device->setAppState(0);
                if (auto& cache = device->sitesCache()) {
                    if (!cache->protectedUrlsCache()) cache->setUpdateTimeStamp(0);
                    if (cache->accountsCache()) cache->setAccountsCache(nullptr);
                }
            }
            if (r.pairedDevices()->empty() && r.pairedDeviceIdMap()) r.pairedDeviceIdMap()->clear();
        } else {
            r.setPairedDevices(std::make_shared<DeviceMap>());
            r.setPairedDeviceIdMap(std::make_shared<StringMap>());
        }
        if (!r.pairedDeviceIdMap()) r.setPairedDeviceIdMap(std::make_shared<StringMap>());

        if (auto& generator = r.generator()) {
            if (!generator->config()) {
                // A generator without configuration cannot make passwords.
                generator->setProfile(99);
                generator->setConfig(defaultGeneratorConfig());
            } else if (!generator->config()->useCapitalizationIsSet()) {
                auto& config = *generator->config();
                if (generator->profile() != 99) generator->setProfile(99);
                if (!config.useDigitsIsSet()) config.setUseDigits(config.digits() > 0);
                if (!config.useSymbolsIsSet()) config.setUseSymbols(config.symbols() > 0);
                config.setUseCapitalization(config.capitalization() > 0);
            }
        } else {
            r.setGenerator(std::make_shared<TBNGeneratorSettings>(99, defaultGeneratorConfig()));
        }

        if (!r.loggingLevelIsSet() || r.loggingLevel() == 1) {
            r.setLoggingLevel(11);
        } else if (r.loggingLevel() == 2) {
            r.setLoggingLevel(13);
        }

        if (!r.lastSafariExtVersionIsSet()) r.setLastSafariExtVersion(std::string());
        if (!r.lastChromeExtVersionIsSet()) r.setLastChromeExtVersion(std::string());
        if (!r.pausedIsSet()) r.setPaused(false);
        if (!r.osxExtendedModeIsSet()) r.setOsxExtendedMode(false);
        if (!r.extensionExtendedModeIsSet()) r.setExtensionExtendedMode(false);
        if (!r.updateToPrereleaseIsSet()) r.setUpdateToPrerelease(false);
        r.setEnableBLETesting(false);

        if (!r.blecPeripherals()) {
            r.setBlecPeripherals(std::make_shared<std::vector<std::shared_ptr<TBNOSXBlecPeripheral>>>());
        }
        if (!r.approvedExtIdMap()) r.setApprovedExtIdMap(std::make_shared<StringMap>());
        if (!r.chooseAccounts()) r.setChooseAccounts(std::make_shared<StringMap>());
        if (!r.chooseAccountsCache()) {
            r.setChooseAccountsCache(
                std::make_shared<std::map<std::string, std::vector<std::string>>>());
        }
        if (!r.firstFillGuideShowedIsSet()) r.setFirstFillGuideShowed(false);

        // Analytics default, decided once per settings file. The zone lookup may take
        // long, so it is asked outside this block.
        if (!r.resetSendReportsIsSet() && r.sendReportsIsSet()) {
            if (r.sendReports()) {
                r.setResetSendReports(false);
            } else {
                s.askLocationZone();
            }
        }

        r.setAppVersion(s.options_.bundleVersion);

        if (!(r.userChangedBackupLocationIsSet() && r.userChangedBackupLocation())) {
            const fs::path folder = Paths::documentsFolder() / "Lumvane";
            // Only the location: the first backup makes the folder, so a user who never
            // backs up gets no empty folder in the documents.
            r.setBackupLocation(folder.string());
            r.setUserChangedBackupLocation(false);
        }
        if (!r.lastBackupFilePathIsSet() && holdsText(r.backupLocation())) {
            if (auto newest = newestBackup(*r.backupLocation())) {
                r.setLastBackupFilePath(newest->string());
            }
        }

        if (!r.skipRateIsSet()) {
            r.setSkipRate(false);
            r.setNextRateTime(std::chrono::duration_cast<std::chrono::seconds>(
                                  s.now().time_since_epoch())
                                  .count());
            r.setRateTriggerCounter(10);
        }

        if (!e.secretKeyIsSet()) {
            if (s.key()) {
                // A new link key: phones paired under an earlier one cannot talk to us.
                e.setSecretKey(base64(TBNCryptAES::generateKey()));
                r.pairedDevices()->clear();
            } else {
                // Without the settings key the encrypted part is not ours to judge: an
                // unopened part may well hold the key the paired phones use.
                TBN_LOG_WARN("settings",
                             "no settings key: the link key is left for a start with the key");
            }
        }

        session.setOnlineDevices(std::make_shared<DeviceMap>());
        session.setDeclinedDevices(std::make_shared<std::vector<std::string>>());
        session.setLocalSitesCache(
            std::make_shared<std::map<std::string, std::shared_ptr<TBNSitesCache>>>());
        session.setSkipUntilOnline(false);
        return 0;
    });
}

void TBNSettings::askLocationZone() {
    std::shared_ptr<LocationZoneSource> source;
    {
        std::lock_guard<std::mutex> g(zoneMutex_);
        source = zoneSource_;
    }
    if (!source) {
        TBN_LOG_INFO("settings", "no location zone source; the analytics default waits");
        return;
    }
    struct Ask {
        std::mutex mutex;
        bool done = false;
        std::optional<Clock::CallId> timer;
    };
    auto ask = std::make_shared<Ask>();
    auto clock = options_.clock;
    const double timeout = options_.locationZoneTimeoutSeconds;
    const Clock::CallId timer = clock->callAt(clock->deadlineAfter(timeout), [ask, timeout] {
        std::lock_guard<std::mutex> g(ask->mutex);
        if (ask->done) return;
        ask->done = true;
        TBN_LOG_INFO("settings",
                     "no location zone within {} s; the analytics default is decided at a later "
                     "start",
                     timeout);
    });
    {
        std::lock_guard<std::mutex> g(ask->mutex);
        if (!ask->done) ask->timer = timer;
    }
    auto self = shared_from_this();
    // Asked from a queue of its own so that a source that blocks holds up nobody.
    DispatchQueue::global(DispatchQueue::Priority::Default)->async([self, source, ask, clock] {
        source->accessibilityZone([self, ask, clock](uint32_t zone) {
            std::optional<Clock::CallId> timer;
            {
                std::lock_guard<std::mutex> g(ask->mutex);
                if (ask->done) return;  // too late: the rule runs again next start
                ask->done = true;
                timer = ask->timer;
            }
            if (timer) clock->cancel(*timer);
            self->applyLocationZone(zone <= 2 ? zone : 0);
        });
    });
}

void TBNSettings::applyLocationZone(uint32_t zone) {
    updateForCacheKeys({"sendReports", "resetSendReports"},
                       [zone](TBNSettings& s) -> TBNSettingsComponents {
                           auto& r = s.osxSettings();
                           // Decided meanwhile (by the user or another answer): keep it.
                           if (r.resetSendReportsIsSet() || !r.sendReportsIsSet() ||
                               r.sendReports()) {
                               return 0;
                           }
                           if (zone == 0) {
                               r.setResetSendReports(true);
                               r.setSendReports(true);
                           } else {
                               r.setResetSendReports(false);
                           }
                           return 0;
                       });
}

}  // namespace lumvane
