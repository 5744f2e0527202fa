// Saves the settings in a loop until it is killed. Each change writes one token into
// both parts of the file at once, so a reader can tell a whole state from a torn one.
//   settings_crash_child <settings file> <key as 64 hex digits>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/TBNSettings.h"

using namespace lumvane;

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[2]).size() != 64) {
        std::fprintf(stderr, "usage: %s <settings file> <key hex>\n", argv[0]);
        return 2;
    }
    Bytes key;
    for (int i = 0; i < 32; ++i) {
        key.push_back(static_cast<uint8_t>(std::stoi(std::string(argv[2] + 2 * i, 2), nullptr, 16)));
    }
    auto store = TBNSettings::create();
    store->loadBySettingsClass(argv[1]);
    store->decryptEncryptedSettingsByKey(key);

    long n = 0;
    if (auto id = store->clientId(); id && id->rfind("n-", 0) == 0) n = std::stol(id->substr(2));
    store->waitForPendingSaves();
    if (::write(1, "ready\n", 6) != 6) return 3;

    for (;;) {
        ++n;
        const std::string token = "n-" + std::to_string(n);
        store->updateSettings([token, n](TBNSettings& s) -> TBNSettingsComponents {
            s.osxSettings().setClientId(token);
            s.osxSettings().setLastSafariExtVersion(token);
            s.osxEncryptedSettings().setClientSecret(token);
            // Vary the file's length from save to save.
            auto lists = std::make_shared<std::map<std::string, std::vector<std::string>>>();
            (*lists)[token] = std::vector<std::string>(static_cast<size_t>(n % 64), token);
            s.osxSettings().setChooseAccountsCache(lists);
            return 0;
        });
        if (n % 4 == 0) store->waitForPendingSaves();
    }
}
