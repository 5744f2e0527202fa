#pragma once
// Fixture and fakes of the extension-handler tests: a settings store in a folder of its own,
// a manual clock, a private wait manager and protocol helper, a scripted fake of the
// application service's questions, and a fake storage service.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <any>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "extension/TBNProtocolHelper.h"
#include "extension/handlers/TBNThriftHostService.h"
#include "extension/handlers/TBNThriftProxy.h"
#include "idl/protocols.h"
#include "idl/settings.h"
#include "runtime/Clock.h"
#include "runtime/TBNWaitManager.h"
#include "runtime/log/LogDispatcher.h"
#include "runtime/log/Logger.h"
#include "settings/TBNSettings.h"

namespace lumvane::handlerstest {

namespace fs = std::filesystem;

inline constexpr const char* kClientId = "EXT-CLIENT";
inline constexpr const char* kClientSecret = "EXT-SECRET-0001";
inline constexpr const char* kHardwareId = "AA:BB:CC:DD:EE:FF";

inline std::shared_ptr<TBNAuthentication> auth(std::optional<std::string> id,
                                               std::optional<std::string> secret) {
    auto a = std::make_shared<TBNAuthentication>();
    if (id) a->setClientId(std::move(id));
    if (secret) a->setClientSecret(std::move(secret));
    return a;
}

inline std::shared_ptr<TBNAuthentication> approvedAuth() {
    return auth(kClientId, kClientSecret);
}

inline std::shared_ptr<TBNRequestInfo> requestInfo(const std::string& id = "req-7") {
    return std::make_shared<TBNRequestInfo>(id, int64_t{1700000000}, std::string("ctx-7"));
}

inline std::shared_ptr<TBNLoginData> loginData(std::optional<std::string> login,
                                               std::optional<std::string> password) {
    auto l = std::make_shared<TBNLoginData>();
    if (login) l->setLogin(std::move(login));
    if (password) l->setPassword(std::move(password));
    return l;
}

// Category and id of a response info's error; (0, 0) for none.
inline std::pair<int32_t, int64_t> errorOf(const std::shared_ptr<TBNResponseInfo>& info) {
    if (!info || !info->error()) return {0, 0};
    return {info->error()->category(), info->error()->id()};
}

// What the application service answers, scripted per test. Each question is recorded;
// a question may be made to wait until the test lets it go.
class ScriptedDelegate : public TBNThriftHostServiceDelegate {
  public:
    struct SaveQuestion {
        bool update = false;
        std::string login;
        std::string password;
        std::string siteUrl;
        std::string siteName;
    };
    struct ChooseQuestion {
        std::vector<std::string> accounts;
        std::string siteUrl;
        std::string siteName;
        bool usingAccountCache = false;
    };
    struct Ping {
        std::optional<std::string> id;
        std::optional<std::string> version;
    };

    // Answers to the save and update questions, in order; when empty, defaultVariant.
    std::deque<TBNSaveVariant> variants;
    TBNSaveVariant defaultVariant = TBNSaveVariantSave;
    // What the user typed (replaces login and password when set).
    std::optional<std::string> typedLogin;
    std::optional<std::string> typedPassword;
    // Answers to the account question, in order; when empty, chooseDefault.
    std::deque<std::optional<int64_t>> choices;
    std::optional<int64_t> chooseDefault = 0;
    // While true, every question blocks until release() is called once for it.
    bool holdQuestions = false;

    TBNSaveVariant thriftHostServiceCanSaveLoginData(TBNThriftHostService&, TBNLoginData& data,
                                                     const std::string& siteUrl,
                                                     const std::string& siteName) override {
        return save(false, data, siteUrl, siteName);
    }
    TBNSaveVariant thriftHostServiceCanUpdateLoginData(TBNThriftHostService&, TBNLoginData& data,
                                                       const std::string& siteUrl,
                                                       const std::string& siteName) override {
        return save(true, data, siteUrl, siteName);
    }
    std::optional<int64_t> thriftHostServiceChooseDefaultAccount(
        TBNThriftHostService&, const std::vector<std::string>& accounts, const std::string& siteUrl,
        const std::string& siteName, bool usingAccountCache) override {
        std::unique_lock<std::mutex> lock(mutex);
        chooseQuestions.push_back({accounts, siteUrl, siteName, usingAccountCache});
        enter(lock);
        std::optional<int64_t> answer = chooseDefault;
        if (!choices.empty()) {
            answer = choices.front();
            choices.pop_front();
        }
        leave(lock);
        return answer;
    }
    void thriftHostServiceDidPingFromExtensionId(
        TBNThriftHostService&, const std::optional<std::string>& id,
        const std::optional<std::string>& version) override {
        std::lock_guard<std::mutex> lock(mutex);
        pings.push_back({id, version});
    }

    // Lets one held question answer.
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        ++releases;
        cv.notify_all();
    }
    // Blocks until `n` questions are inside the delegate at once or were asked in total.
    bool waitForAsked(size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(10), [&] { return asked >= n; });
    }

    std::mutex mutex;
    std::condition_variable cv;
    std::vector<SaveQuestion> saveQuestions;
    std::vector<ChooseQuestion> chooseQuestions;
    std::vector<Ping> pings;
    size_t asked = 0;
    size_t inside = 0;
    size_t maxInside = 0;
    size_t releases = 0;
    size_t served = 0;

  private:
    TBNSaveVariant save(bool update, TBNLoginData& data, const std::string& siteUrl,
                        const std::string& siteName) {
        std::unique_lock<std::mutex> lock(mutex);
        saveQuestions.push_back({update, data.login().value_or("(absent)"),
                                 data.password().value_or("(absent)"), siteUrl, siteName});
        enter(lock);
        TBNSaveVariant variant = defaultVariant;
        if (!variants.empty()) {
            variant = variants.front();
            variants.pop_front();
        }
        if (typedLogin) data.setLogin(typedLogin);
        if (typedPassword) data.setPassword(typedPassword);
        leave(lock);
        return variant;
    }
    void enter(std::unique_lock<std::mutex>& lock) {
        ++asked;
        ++inside;
        maxInside = std::max(maxInside, inside);
        cv.notify_all();
        if (holdQuestions) {
            const size_t ticket = served++;
            cv.wait(lock, [&] { return releases > ticket; });
        }
    }
    void leave(std::unique_lock<std::mutex>&) { --inside; }
};

// A storage service whose answers the test sets per operation; counts the calls and keeps
// the last request of each.
class FakeStorage : public TBNStorageService {
  public:
    std::function<std::shared_ptr<TBNGetLoginDataResponse>(std::shared_ptr<TBNGetLoginDataRequest>)>
        onGetLoginData;
    std::function<std::shared_ptr<TBNAddLoginDataResponse>(std::shared_ptr<TBNAddLoginDataRequest>)>
        onAddLoginData;
    std::function<std::shared_ptr<TBNUpdateLoginDataResponse>(
        std::shared_ptr<TBNUpdateLoginDataRequest>)>
        onUpdateLoginData;
    std::function<std::shared_ptr<TBNGetSiteDataResponse>(std::shared_ptr<TBNGetSiteDataRequest>)>
        onGetSiteData;
    std::function<std::shared_ptr<TBNGetSiteDataListResponse>(
        std::shared_ptr<TBNGetSiteDataListRequest>)>
        onGetSiteDataList;
    std::function<std::shared_ptr<TBNGet2FACodeResponse>(std::shared_ptr<TBNGet2FACodeRequest>)>
        onGet2FACode;

    std::atomic<int> calls{0};
    std::shared_ptr<TBNAddLoginDataRequest> lastAdd;
    std::shared_ptr<TBNUpdateLoginDataRequest> lastUpdate;
    std::string lastAddPassword;  // as it was when the call came in
    std::string lastUpdatePassword;

    std::shared_ptr<TBNGetLoginDataResponse> getLoginData(
        std::shared_ptr<TBNGetLoginDataRequest> r) override {
        ++calls;
        return onGetLoginData ? onGetLoginData(r) : nullptr;
    }
    std::shared_ptr<TBNAddLoginDataResponse> addLoginData(
        std::shared_ptr<TBNAddLoginDataRequest> r) override {
        ++calls;
        lastAdd = r;
        lastAddPassword =
            r->loginData() ? r->loginData()->password().value_or("(absent)") : "(no login)";
        return onAddLoginData ? onAddLoginData(r) : nullptr;
    }
    std::shared_ptr<TBNDeleteLoginDataResponse> deleteLoginData(
        std::shared_ptr<TBNDeleteLoginDataRequest>) override {
        ++calls;
        return nullptr;
    }
    std::shared_ptr<TBNUpdateLoginDataResponse> updateLoginData(
        std::shared_ptr<TBNUpdateLoginDataRequest> r) override {
        ++calls;
        lastUpdate = r;
        lastUpdatePassword =
            r->loginData() ? r->loginData()->password().value_or("(absent)") : "(no login)";
        return onUpdateLoginData ? onUpdateLoginData(r) : nullptr;
    }
    std::shared_ptr<TBNGetSiteDataResponse> getSiteData(
        std::shared_ptr<TBNGetSiteDataRequest> r) override {
        ++calls;
        return onGetSiteData ? onGetSiteData(r) : nullptr;
    }
    std::shared_ptr<TBNGetSiteDataListResponse> getSiteDataList(
        std::shared_ptr<TBNGetSiteDataListRequest> r) override {
        ++calls;
        return onGetSiteDataList ? onGetSiteDataList(r) : nullptr;
    }
    std::shared_ptr<TBNDeleteSiteDataResponse> deleteSiteData(
        std::shared_ptr<TBNDeleteSiteDataRequest>) override {
        ++calls;
        return nullptr;
    }
    std::shared_ptr<TBNGet2FACodeResponse> get2FACode(
        std::shared_ptr<TBNGet2FACodeRequest> r) override {
        ++calls;
        return onGet2FACode ? onGet2FACode(r) : nullptr;
    }
};

// Collects the text of every log record while it is installed.
class CapturingLogger : public Logger {
  public:
    void logMessage(const LogRecord& record) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (record.message) lines.push_back(*record.message);
    }
    std::string loggerName() const override { return "handlers-capture"; }
    std::mutex mutex;
    std::vector<std::string> lines;
};

// A settings store of its own with one approved extension client, a manual clock, a
// private wait manager and protocol helper, the scripted delegate and the host service.
class HandlersFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        root_ = fs::temp_directory_path() / ("lumvane-handlers-" + std::to_string(::getpid()) +
                                             "-" + std::to_string(counter++));
        fs::create_directories(root_);
        TBNSettings::Options o;
        o.bundleVersion = "1.0.0.0";
        settings_ = TBNSettings::create(o);
        settings_->loadBySettingsClass(root_ / TBNSettings::kSettingsFileName);
        settings_->decryptEncryptedSettingsByKey(Bytes(32, 0x42));
        settings_->upgrade();
        settings_->approveExtForClientId(std::string(kClientId), std::string(kClientSecret));
        settings_->waitForPendingSaves();

        delegate_ = std::make_shared<ScriptedDelegate>();
        TBNThriftHostService::Options options;
        options.settings = settings_;
        options.waitManager = &waits_;
        options.clock = clock_;
        options.protocolHelper = &helper_;
        host_ = TBNThriftHostService::initWithDelegate(delegate_, options);
    }

    void TearDown() override {
        host_.reset();
        settings_->waitForPendingSaves();
        settings_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // A paired phone (optionally with a sites cache holding the given site's accounts).
    void pairPhone(bool online = false) {
        auto record = std::make_shared<TBNOSXDeviceInfo>();
        record->setDeviceId(std::string("PHONE-DEVICE-ID"));
        record->setHardwareId(std::string(kHardwareId));
        record->setOnline(online);
        settings_->addPairedDevice(record);
        settings_->waitForPendingSaves();
    }

    fs::path root_;
    std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
    TBNWaitManager waits_{clock_};
    TBNProtocolHelper helper_{[] { return int64_t{1800000000}; }};
    std::shared_ptr<TBNSettings> settings_;
    std::shared_ptr<ScriptedDelegate> delegate_;
    std::shared_ptr<TBNThriftHostService> host_;
};

}  // namespace lumvane::handlerstest
