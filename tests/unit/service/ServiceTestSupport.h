#pragma once
// The application service in a test: a private settings store in a temporary folder, a
// manual clock for every time-out, a main loop served on a thread of its own, the remote
// phone service on a phone client that only counts, a scripted user and recorded notices.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "blec/TBNBlecPeripheralStore.h"
#include "core/pasteboard/Pasteboard.h"
#include "core/service/TBNService.h"
#include "power/FakeSleepWakeSource.h"
#include "runtime/Clock.h"
#include "runtime/MainLoop.h"
#include "runtime/TBNWaitManager.h"
#include "service/FakeUIService.h"
#include "settings/TBNSettings.h"

namespace lumvane::servicetest {

namespace fs = std::filesystem;

// Polls (real time) until the condition holds: for hand-overs between threads only; the
// service's own time-outs run on the manual clock.
inline bool eventually(const std::function<bool()>& condition, double seconds = 10) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

// A phone client that connects nothing and counts what the service asks of it.
class CountingClient : public RemotePhoneClient {
  public:
    void setDelegate(std::weak_ptr<RemotePhoneClientDelegate>) override {}
    void startForDeviceId(const std::optional<std::string>&,
                          const std::optional<std::string>&) override {
        ++starts;
    }
    void startForAuthToken(const std::string& token) override {
        std::lock_guard<std::mutex> lock(mutex);
        tokens.push_back(token);
    }
    void stop() override { ++stops; }
    void setPairedDeviceId(const std::optional<std::string>&,
                           const std::optional<std::string>&) override {}

    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::mutex mutex;
    std::vector<std::string> tokens;
};

class RecordingNotifications : public TBNNotifications {
  public:
    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    size_t count(const std::string& name) const {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t n = 0;
        for (const auto& e : events_) n += e.rfind(name, 0) == 0;
        return n;
    }
    void notifyOfBluetoothOff() override { add("bluetoothOff"); }
    void notifyOfSearchPairedPhone() override { add("searchPairedPhone"); }
    void notifyOfWaitingDevice() override { add("waitingDevice"); }
    void notifyOfPiringLost() override { add("piringLost"); }
    void notifyOfClientNotAuthorized() override { add("clientNotAuthorized"); }
    void notifyOfPiringSuccess() override { add("piringSuccess"); }
    void notifyOfPiringFailWithError(const std::string& d) override { add("piringFail:" + d); }
    void notifyOfCopyPasswordFromPhoneToMacClipboardForLogin(const std::string& l) override {
        add("copyPassword:" + l);
    }
    void notifyOfCopyAccountIdFromPhoneToMacClipboardForLogin(const std::string& l) override {
        add("copyAccountId:" + l);
    }
    void notifyOfCopyCommentFromPhoneToMacClipboardForLogin(const std::string& l) override {
        add("copyComment:" + l);
    }
    void notifyOfCopyTwoFactorCodeFromPhoneToMacClipboardForLogin(const std::string& l) override {
        add("copyTwoFactorCode:" + l);
    }
    void notifyOfCopyLoginFromPhoneToMacClipboard(const std::string& l) override {
        add("copyLogin:" + l);
    }
    void notifyOfSaveAccountForLogin(const std::string& l, const std::string& s) override {
        add("saveAccount:" + l + "@" + s);
    }
    void notifyOfAccessDenyForSiteName(const std::string& s) override { add("accessDeny:" + s); }
    void notifyOfAccessTimeoutForSiteName(const std::string& s) override {
        add("accessTimeout:" + s);
    }

  private:
    void add(std::string e) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(e));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

class UIDelegate : public TBNServiceDelegate {
  public:
    void serviceDidUpdateUI(TBNService&) override { ++updates; }
    std::atomic<int> updates{0};
};

inline Bytes testSettingsKey() {
    return Bytes(32, 0x5A);
}

class ServiceFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        root_ = fs::temp_directory_path() /
                ("lumvane-service-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(root_);
        TBNSettings::Options so;
        so.clock = clock_;
        so.bundleVersion = "1.0.0.0";
        settings_ = TBNSettings::create(so);
        settings_->loadBySettingsClass(root_ / TBNSettings::kSettingsFileName);
        settings_->decryptEncryptedSettingsByKey(testSettingsKey());
        settings_->setClientId(std::string("MAC-CLIENT-ID"));
        settings_->waitForPendingSaves();

        loop_ = std::make_shared<HeadlessMainLoop>(clock_);
        mainThread_ = std::thread([loop = loop_] { loop->run(); });
        // Until its loop runs, the thread that made the loop counts as the main thread.
        drainMain();
        store_.setNotifier([](std::function<void()> f) { f(); });
        pasteboard_ = TBNPasteboard::create(memory_, loop_);
    }

    void TearDown() override {
        if (service_) service_->stop();
        service_.reset();
        clock_->cancelAll();
        loop_->stop();
        mainThread_.join();
        settings_->waitForPendingSaves();
        settings_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    TBNService::Options options() {
        TBNService::Options o;
        o.settings = settings_;
        o.waitManager = &waits_;
        o.clock = clock_;
        o.mainLoop = loop_;
        o.httpPort = 0;
        o.httpsPort = 0;
        o.loggingPort = 0;
        o.sleepWake = sleep_;
        o.pasteboard = pasteboard_;
        o.computerName = "Test Computer";
        o.terminate = [this] { ++terminations_; };
        auto client = client_;
        auto settings = settings_;
        auto* store = &store_;
        auto* waits = &waits_;
        auto clock = clock_;
        o.remoteServiceFactory = [=](std::weak_ptr<TBNThriftRemoteMobileServiceDelegate> d) {
            TBNThriftRemoteMobileSevice::Options ro;
            ro.settings = settings;
            ro.peripheralStore = store;
            ro.waitManager = waits;
            ro.clock = clock;
            ro.clientFactory = [client](const auto&, const auto&) { return client; };
            ro.pushConnector = [](std::string*) { return std::shared_ptr<PushClient>(); };
            ro.connectPushAsync = false;
            ro.osVersion = "OSX 12.00";
            return TBNThriftRemoteMobileSevice::create(std::move(d), ro);
        };
        return o;
    }

    std::shared_ptr<TBNService> makeService(TBNService::Options o) {
        service_ = TBNService::create(std::move(o));
        service_->setUiService(ui_);
        service_->setNotifications(notes_);
        service_->setDelegate(uiDelegate_);
        return service_;
    }
    std::shared_ptr<TBNService> makeService() { return makeService(options()); }

    // Waits until everything posted to the main loop so far has run.
    void drainMain() {
        auto done = std::make_shared<std::promise<void>>();
        auto f = done->get_future();
        loop_->post([done] { done->set_value(); });
        ASSERT_EQ(f.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    }

    // A paired phone record in the settings (and nothing else).
    void pairPhone(bool online, int32_t appState = 1, bool near = false) {
        auto device = std::make_shared<TBNOSXDeviceInfo>();
        device->setDeviceId(std::string("0F0E0D0C-0000-4000-8000-000000000001"));
        device->setHardwareId(std::string("5A:12:9C:00:00:01"));
        device->setName(std::string("Test iPhone"));
        device->setAppState(appState);
        device->setOnline(online);
        device->setDeviceIsNear(near);
        settings_->addPairedDevice(device);
        settings_->waitForPendingSaves();
    }

    fs::path root_;
    std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
    TBNWaitManager waits_{clock_};
    std::shared_ptr<TBNSettings> settings_;
    std::shared_ptr<HeadlessMainLoop> loop_;
    std::thread mainThread_;
    TBNBlecPeripheralStore store_;
    std::shared_ptr<CountingClient> client_ = std::make_shared<CountingClient>();
    std::shared_ptr<FakeSleepWakeSource> sleep_ = std::make_shared<FakeSleepWakeSource>();
    std::shared_ptr<FakeUIService> ui_ = std::make_shared<FakeUIService>();
    std::shared_ptr<RecordingNotifications> notes_ = std::make_shared<RecordingNotifications>();
    std::shared_ptr<UIDelegate> uiDelegate_ = std::make_shared<UIDelegate>();
    std::shared_ptr<MemoryPasteboard> memory_ = std::make_shared<MemoryPasteboard>();
    std::shared_ptr<TBNPasteboard> pasteboard_;
    std::atomic<int> terminations_{0};
    std::shared_ptr<TBNService> service_;
};

}  // namespace lumvane::servicetest
