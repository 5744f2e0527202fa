// Test-only: opens the settings of the home folder in its environment the way the
// program's start-up does (the settings key from the keychain, then the settings file,
// made when missing), marks the set-up wizard as done and waits until that is in the
// file, so that the next start of `lumvane` there is not a first start.
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "app/StartupSteps.h"
#include "crypto/TBNKeyChainManager.h"
#include "settings/TBNSettings.h"

int main() {
    using namespace lumvane;
    try {
        const Bytes key = StartupSteps::settingsKey(TBNKeyChainManager::sharedManager());
        TBNSettings& settings = TBNSettings::sharedSettings();
        const int attempt =
            StartupSteps::loadSettings(settings, TBNSettings::settingsFilePath(), key);
        if (attempt == 0 || !settings.isLoaded()) {
            std::fprintf(stderr, "settings-seed: cannot open %s\n",
                         TBNSettings::settingsFilePath().c_str());
            return 1;
        }
        settings.setDoneWizard(true);
        settings.waitForPendingSaves();
        std::printf("settings-seed: doneWizard set in %s (attempt %d)\n",
                    TBNSettings::settingsFilePath().c_str(), attempt);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "settings-seed: %s\n", e.what());
        return 1;
    }
    // The settings' save queue may still be parked: leave without static destructors.
    std::fflush(nullptr);
    _exit(0);
}
