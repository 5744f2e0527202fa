// Saves the settings in a loop until it is killed. Each change writes one token into
// both parts of the file at once, so a reader can tell a whole state from a torn one.
//   settings_crash_child <settings file> <key as 64 hex digits> [mixed]
// With "mixed", each token follows a run of cache and counter changes (whose writes are
// deferred), and the child prints "<n>" once it has been told that change n is saved.
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "settings/TBNSettings.h"

using namespace lumvane;

namespace {

// Counts the saves of changes that matter (told with the paused bit, which nothing
// else in this program uses).
class SavedChanges : public TBNSettingsDelegate {
  public:
    void settingsDidUpdated(TBNSettings&, TBNSettingsComponents components) override {
        if (!(components & TBNSettingsComponentPaused)) return;
        std::lock_guard<std::mutex> g(mutex_);
        ++count_;
        cv_.notify_all();
    }
    void waitFor(long n) {
        std::unique_lock<std::mutex> lk(mutex_);
        cv_.wait(lk, [&] { return count_ >= n; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    long count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4 || std::string(argv[2]).size() != 64) {
        std::fprintf(stderr, "usage: %s <settings file> <key hex> [mixed]\n", argv[0]);
        return 2;
    }
    const bool mixed = argc == 4 && std::string(argv[3]) == "mixed";
    Bytes key;
    for (int i = 0; i < 32; ++i) {
        key.push_back(
            static_cast<uint8_t>(std::stoi(std::string(argv[2] + 2 * i, 2), nullptr, 16)));
    }
    auto store = TBNSettings::create();
    store->loadBySettingsClass(argv[1]);
    store->decryptEncryptedSettingsByKey(key);

    long n = 0;
    if (auto id = store->clientId(); id && id->rfind("n-", 0) == 0) n = std::stol(id->substr(2));
    store->waitForPendingSaves();
    if (::write(1, "ready\n", 6) != 6) return 3;

    auto saved = std::make_shared<SavedChanges>();
    store->addDelegate(saved);
    long told = 0;
    for (;;) {
        ++n;
        const std::string token = "n-" + std::to_string(n);
        if (mixed) {
            for (int i = 0; i < 8; ++i) store->rateTriggerTick();
            store->addToCacheUserName(token, "pw", "https://example.com/", "hw-1");
        }
        store->updateSettings([token, n, mixed](TBNSettings& s) -> TBNSettingsComponents {
            s.osxSettings().setClientId(token);
            s.osxSettings().setLastSafariExtVersion(token);
            s.osxEncryptedSettings().setClientSecret(token);
            // Vary the file's length from save to save.
            auto lists = std::make_shared<std::map<std::string, std::vector<std::string>>>();
            (*lists)[token] = std::vector<std::string>(static_cast<size_t>(n % 64), token);
            s.osxSettings().setChooseAccountsCache(lists);
            return mixed ? TBNSettingsComponentPaused : 0;
        });
        if (mixed) {
            // Told only after the file was written: from now on a crash must keep n.
            saved->waitFor(++told);
            const std::string line = std::to_string(n) + "\n";
            if (::write(1, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 3;
        } else if (n % 4 == 0) {
            store->waitForPendingSaves();
        }
    }
}
