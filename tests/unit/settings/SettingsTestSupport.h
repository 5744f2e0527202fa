#pragma once
// Shared fixture of the settings tests: a private root folder (standing for the home
// folder), a store with a manual monotonic clock and a settable wall clock, a
// location-zone fake, an observer that records masks, and an independent reading of
// the settings file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include "crypto/TBNCryptThrift.h"
#include "location/FakeLocationZone.h"
#include "runtime/Clock.h"
#include "runtime/Digest.h"
#include "runtime/Paths.h"
#include "settings/TBNSettings.h"

namespace lumvane::settingstest {

namespace fs = std::filesystem;

inline Bytes testKey(uint8_t seed = 7) {
    Bytes key(32);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(seed + i * 13);
    return key;
}

inline Bytes readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeBytes(const fs::path& file, const Bytes& data) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline TBNSettingsBlob parseBlob(Bytes data) {
    auto buffer = std::make_shared<apache::thrift::transport::TMemoryBuffer>(
        data.data(), static_cast<uint32_t>(data.size()),
        apache::thrift::transport::TMemoryBuffer::COPY);
    apache::thrift::protocol::TBinaryProtocol protocol(buffer);
    TBNSettingsBlob blob;
    blob.read(&protocol);
    return blob;
}

// The two records of a settings file, opened without the store.
struct FileContent {
    TBNSettingsBlob blob;
    TBNOSXSettings settings;
    std::optional<TBNOSXEncryptedSettings> encrypted;
};

inline FileContent openFile(const fs::path& file, const std::optional<Bytes>& key) {
    FileContent c;
    c.blob = parseBlob(readBytes(file));
    TBNEncryptedBlob plain;
    TBNCryptThrift::decryptObject(plain, *c.blob.settings(),
                                  sha256(std::string_view(TBNSettings::kPlainPartPhrase)));
    TBNCryptThrift::getObject(c.settings, plain);
    if (key && c.blob.encryptedSettings()) {
        TBNEncryptedBlob enc;
        TBNCryptThrift::decryptObject(enc, *c.blob.encryptedSettings(), *key);
        c.encrypted.emplace();
        TBNCryptThrift::getObject(*c.encrypted, enc);
    }
    return c;
}

// Records every mask it is told, in arrival order.
class RecordingDelegate : public TBNSettingsDelegate {
  public:
    void settingsDidUpdated(TBNSettings& settings, TBNSettingsComponents components) override {
        if (onUpdate) onUpdate(settings, components);
        std::lock_guard<std::mutex> g(mutex_);
        masks_.push_back(components);
        cv_.notify_all();
    }
    // Blocks (real time, as a synchronisation point) until n masks arrived.
    bool waitForCount(size_t n, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lk(mutex_);
        return cv_.wait_for(lk, limit, [&] { return masks_.size() >= n; });
    }
    std::vector<TBNSettingsComponents> masks() const {
        std::lock_guard<std::mutex> g(mutex_);
        return masks_;
    }
    void clear() {
        std::lock_guard<std::mutex> g(mutex_);
        masks_.clear();
    }
    std::function<void(TBNSettings&, TBNSettingsComponents)> onUpdate;

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<TBNSettingsComponents> masks_;
};

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumvane-settings-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        Paths::setRootOverride(root_);
        wallSeconds_.store(1'700'000'000.0);
    }

    void TearDown() override {
        for (auto& s : stores_) s->waitForPendingSaves();
        stores_.clear();
        clock_->cancelAll();
        Paths::setRootOverride(std::nullopt);
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // A new store (as at a new start of the program).
    std::shared_ptr<TBNSettings> makeStore(std::shared_ptr<LocationZoneSource> zone = nullptr) {
        TBNSettings::Options options;
        options.clock = clock_;
        options.now = [this] {
            auto d = std::chrono::duration<double>(wallSeconds_.load());
            return TBNSettings::Date(std::chrono::duration_cast<std::chrono::system_clock::duration>(d));
        };
        options.bundleVersion = "1.2.3.4";
        options.locationZone = zone ? zone : zone_;
        auto store = TBNSettings::create(options);
        stores_.push_back(store);
        return store;
    }

    fs::path filePath() const { return TBNSettings::settingsFilePath(); }

    // A store loaded and keyed as the program does it at start-up.
    std::shared_ptr<TBNSettings> startStore(bool runUpgrade = true, const Bytes& key = testKey()) {
        auto store = makeStore();
        store->loadBySettingsClass(filePath());
        store->decryptEncryptedSettingsByKey(key);
        if (runUpgrade) store->upgrade();
        store->waitForPendingSaves();
        return store;
    }

    void setWallSeconds(double s) { wallSeconds_.store(s); }

    fs::path root_;
    std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
    std::shared_ptr<FakeLocationZone> zone_ = std::make_shared<FakeLocationZone>();
    std::atomic<double> wallSeconds_{0};
    std::vector<std::shared_ptr<TBNSettings>> stores_;
};

inline std::shared_ptr<TBNOSXDeviceInfo> phone(const std::string& hardwareId,
                                               const std::string& deviceId, bool online = true,
                                               int32_t appState = 1) {
    auto d = std::make_shared<TBNOSXDeviceInfo>();
    d->setHardwareId(hardwareId);
    d->setDeviceId(deviceId);
    d->setName("Phone " + deviceId);
    d->setModel("model-x");
    d->setOnline(online);
    d->setAppState(appState);
    d->setDeviceIsNear(true);
    return d;
}

}  // namespace lumvane::settingstest
