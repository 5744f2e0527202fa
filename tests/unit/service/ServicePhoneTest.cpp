// The phone-facing half of the service: pairing invitations, backup files, restores,
// clipboard copies, URLs and the notices about the link.
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <set>

#include "ServiceTestSupport.h"
#include "protocol/PasswordEncoding.h"

namespace lumvane::servicetest {
namespace {

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

// Local time in these tests is UTC.
class UtcZone {
  public:
    UtcZone() {
        if (const char* tz = std::getenv("TZ")) old_ = tz;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    ~UtcZone() {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::optional<std::string> old_;
};

std::chrono::system_clock::time_point utc(int year, int month, int day, int h, int m, int s) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    return std::chrono::system_clock::from_time_t(timegm(&t));
}

// ---- Pairing invitation --------------------------------------------------------------------

TEST(PairingInvitationTest, EachInvitationIsFreshAndOpensToTokenAndKey) {
    std::set<std::string> tokens, urls;
    std::set<Bytes> keys;
    for (int i = 0; i < 3; ++i) {
        auto inv = TBNService::makePairingInvitation("Test Computer");
        EXPECT_TRUE(std::regex_match(inv.authToken, std::regex("[0-9A-F]{16}"))) << inv.authToken;
        EXPECT_EQ(inv.authKey.size(), 32u);
        tokens.insert(inv.authToken);
        keys.insert(inv.authKey);
        urls.insert(inv.url);

        std::smatch m;
        ASSERT_TRUE(std::regex_match(
            inv.url, m,
            std::regex(R"(https://[^/]+/auth/appinstall\.html\?client=([^&]*)&auth=(.*))")))
            << inv.url;
        EXPECT_EQ(m[1].str(), base64Encode("Test Computer"));
        const std::string auth = m[2].str();
        EXPECT_EQ(auth.size(), 88u);
        auto plain = TBNService::openPairingAuthValue(auth);
        ASSERT_TRUE(plain);
        ASSERT_EQ(plain->size(), 48u);
        EXPECT_EQ(std::string(plain->begin(), plain->begin() + 16), inv.authToken);
        EXPECT_EQ(Bytes(plain->begin() + 16, plain->end()), inv.authKey);
    }
    EXPECT_EQ(tokens.size(), 3u);
    EXPECT_EQ(keys.size(), 3u);
    EXPECT_EQ(urls.size(), 3u);
}

TEST(PairingInvitationTest, ComputerNameIsBase64OfItsUtf8BytesUnescaped) {
    // "Jürgen's Mäc?" gives Base64 with "+" and "/" that stand as they are in the query.
    const std::string name = "J\xC3\xBCrgen's M\xC3\xA4\x63\xFF\xFE?";
    auto inv = TBNService::makePairingInvitation(name);
    const std::string client = base64Encode(name);
    EXPECT_NE(client.find_first_of("+/="), std::string::npos) << client;
    EXPECT_NE(inv.url.find("?client=" + client + "&auth="), std::string::npos) << inv.url;
}

class ServicePhoneTest : public ServiceFixture {};

TEST_F(ServicePhoneTest, PairingHandsOutTheUrlFirstAndSearchesForItsToken) {
    makeService();
    std::promise<std::string> url;
    auto urlFuture = url.get_future();
    service_->startPairWithAuthUrl([&](const std::string& u) { url.set_value(u); }, nullptr,
                                   nullptr, nullptr);
    ASSERT_EQ(urlFuture.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const std::string u = urlFuture.get();
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(client_->mutex);
        return !client_->tokens.empty();
    }));
    auto auth = u.substr(u.find("&auth=") + 6);
    auto plain = TBNService::openPairingAuthValue(auth);
    ASSERT_TRUE(plain);
    std::lock_guard<std::mutex> lock(client_->mutex);
    EXPECT_EQ(client_->tokens.front(), std::string(plain->begin(), plain->begin() + 16));
}

// ---- Backup files ----------------------------------------------------------------------------

TEST(BackupNameTest, NamesUseTheCalendarYearNeverTheWeekYear) {
    UtcZone zone;
    struct Case {
        std::chrono::system_clock::time_point time;
        const char* name;
    } cases[] = {
        // Monday 30 December 2024 belongs to the first week of 2025.
        {utc(2024, 12, 30, 10, 0, 0), "backup_241230_100000"},
        {utc(2026, 12, 31, 23, 59, 59), "backup_261231_235959"},
        // Friday 1 January 2027 belongs to the last week of 2026.
        {utc(2027, 1, 1, 0, 0, 1), "backup_270101_000001"},
        {utc(2026, 6, 5, 7, 8, 9), "backup_260605_070809"},
    };
    for (const auto& c : cases) EXPECT_EQ(TBNService::backupFileBaseName(c.time), c.name);
}

TEST_F(ServicePhoneTest, BackupIsWrittenPrivatelyIntoANewFolderAndNeverOverwritten) {
    UtcZone zone;
    auto o = options();
    o.now = [] { return utc(2026, 12, 31, 23, 59, 59); };
    makeService(std::move(o));
    const fs::path folder = root_ / "backups" / "nested";
    settings_->setBackupLocation(folder.string());
    settings_->waitForPendingSaves();

    const Bytes first{1, 2, 3}, second{4, 5, 6, 7};
    EXPECT_EQ(service_->remoteMobileCanSaveBackUp(*service_->remoteService(), first), nullptr);
    EXPECT_EQ(service_->remoteMobileCanSaveBackUp(*service_->remoteService(), second), nullptr);

    const fs::path a = folder / "backup_261231_235959.lmbk";
    const fs::path b = folder / "backup_261231_235959_1.lmbk";
    EXPECT_EQ(readFile(a), first);
    EXPECT_EQ(readFile(b), second);
    EXPECT_EQ(modeOf(a), 0600u);
    EXPECT_EQ(modeOf(b), 0600u);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(settings_->lastBackupFilePath(), b.string());
    // Nothing but the two backups is left in the folder (no temporary files).
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(folder)) files += e.is_regular_file();
    EXPECT_EQ(files, 2u);
}

TEST_F(ServicePhoneTest, SecondFolderGetsACopyAndAMissingOneOnlyLosesTheCopy) {
    UtcZone zone;
    auto o = options();
    o.now = [] { return utc(2026, 3, 4, 5, 6, 7); };
    makeService(std::move(o));
    const fs::path folder = root_ / "primary";
    const fs::path alt = root_ / "alt";
    fs::create_directories(alt);
    settings_->setBackupLocation(folder.string());
    settings_->setAltBackupLocation(alt.string());
    settings_->waitForPendingSaves();
    const Bytes data{42, 43};
    EXPECT_EQ(service_->remoteMobileCanSaveBackUp(*service_->remoteService(), data), nullptr);
    EXPECT_EQ(readFile(alt / "backup_260304_050607.lmbk"), data);
    EXPECT_EQ(modeOf(alt / "backup_260304_050607.lmbk"), 0600u);

    settings_->setAltBackupLocation((root_ / "no-such-folder").string());
    settings_->waitForPendingSaves();
    EXPECT_EQ(service_->remoteMobileCanSaveBackUp(*service_->remoteService(), data), nullptr);
    EXPECT_FALSE(fs::exists(root_ / "no-such-folder"));
    EXPECT_TRUE(fs::exists(folder / "backup_260304_050607_1.lmbk"));
}

TEST_F(ServicePhoneTest, BackupThatCannotBeWrittenIsAnInternalError) {
    makeService();
    const Bytes data{1};
    // No folder set, and a folder path that is a file.
    auto error = service_->remoteMobileCanSaveBackUp(*service_->remoteService(), data);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->category(), 4);
    EXPECT_EQ(error->id(), 10);

    std::ofstream(root_ / "a-file") << "x";
    settings_->setBackupLocation((root_ / "a-file").string());
    settings_->waitForPendingSaves();
    error = service_->remoteMobileCanSaveBackUp(*service_->remoteService(), data);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->category(), 4);
    EXPECT_EQ(error->id(), 10);
    EXPECT_FALSE(settings_->lastBackupFilePath());
}

TEST_F(ServicePhoneTest, RestoreReadsTheChosenFileAndNeverRestoresNothing) {
    makeService();
    const fs::path good = root_ / "good.lmbk";
    std::ofstream(good, std::ios::binary) << "VAULT";
    const fs::path empty = root_ / "empty.lmbk";
    std::ofstream(empty, std::ios::binary).flush();

    struct Case {
        std::optional<std::string> answer;
        int category;  // 0: no error
        int64_t id;
        Bytes buffer;
    } cases[] = {
        {good.string(), 0, 0, Bytes{'V', 'A', 'U', 'L', 'T'}},
        {std::nullopt, 2, 3, Bytes{9}},
        {(root_ / "missing.lmbk").string(), 4, 10, Bytes{9}},
        {empty.string(), 4, 10, Bytes{9}},
        {root_.string(), 4, 10, Bytes{9}},  // a folder
    };
    for (const auto& c : cases) {
        ui_->queueRestoreAnswer(c.answer);
        Bytes buffer{9};
        auto error = service_->remoteMobileCanLoadBackUp(*service_->remoteService(), buffer);
        if (c.category == 0) {
            EXPECT_EQ(error, nullptr);
        } else {
            ASSERT_TRUE(error) << c.answer.value_or("(cancel)");
            EXPECT_EQ(error->category(), c.category);
            EXPECT_EQ(error->id(), c.id);
        }
        EXPECT_EQ(buffer, c.buffer) << c.answer.value_or("(cancel)");
    }
}

TEST_F(ServicePhoneTest, UnansweredRestoreTimesOutAsCancelled) {
    makeService();
    Bytes buffer;
    auto result = std::async(std::launch::async, [&] {
        return service_->remoteMobileCanLoadBackUp(*service_->remoteService(), buffer);
    });
    ASSERT_TRUE(clock_->waitForSleepers(1));
    clock_->advance(TBNService::kQuestionTimeout + 1);
    auto error = result.get();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->category(), 2);
    EXPECT_EQ(error->id(), 3);
    // The phone cancelling closes the page.
    service_->remoteMobileCancelLoadOrSaveBackUp(*service_->remoteService());
    drainMain();
    EXPECT_EQ(ui_->hides(), 1u);
}

// ---- Clipboard and URLs ----------------------------------------------------------------------

TEST_F(ServicePhoneTest, CopyTakesTheFirstValueAndNamesTheLogin) {
    makeService();
    using O = std::optional<std::string>;
    struct Case {
        O login, password, accountId, comment, code;
        std::string copied, notice;
    } cases[] = {
        {"alice", "pw", "id", "c", "123", "pw", "copyPassword:alice"},
        {"alice", std::nullopt, "id", "c", "123", "id", "copyAccountId:alice"},
        {"alice", std::nullopt, std::nullopt, "c", "123", "c", "copyComment:alice"},
        {"alice", std::nullopt, std::nullopt, std::nullopt, "123", "123",
         "copyTwoFactorCode:alice"},
        {"alice", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "alice",
         "copyLogin:alice"},
        {"alice", "", "id", std::nullopt, std::nullopt, "", "copyPassword:alice"},
    };
    size_t n = 0;
    for (const auto& c : cases) {
        service_->remoteMobileDidCopyLogin(*service_->remoteService(), c.login, c.password,
                                           c.accountId, c.comment, c.code, 0);
        EXPECT_EQ(memory_->string(), c.copied);
        drainMain();
        auto events = notes_->events();
        ASSERT_EQ(events.size(), ++n);
        EXPECT_EQ(events.back(), c.notice);
    }
}

TEST_F(ServicePhoneTest, CopyExpiryFollowsTheClockAndNegativeMeansNever) {
    makeService();
    service_->remoteMobileDidCopyLogin(*service_->remoteService(), "alice", "pw", {}, {}, {}, 30);
    EXPECT_TRUE(pasteboard_->expiryPending());
    service_->remoteMobileDidCopyLogin(*service_->remoteService(), "alice", "keep", {}, {}, {}, -5);
    EXPECT_FALSE(pasteboard_->expiryPending());
    clock_->advance(3600.0);
    drainMain();
    EXPECT_EQ(memory_->string(), "keep");

    // A clipboard that refuses: no notice.
    memory_->setRefuseWrites(true);
    const auto before = notes_->events().size();
    service_->remoteMobileDidCopyLogin(*service_->remoteService(), "alice", "pw", {}, {}, {}, 0);
    drainMain();
    EXPECT_EQ(notes_->events().size(), before);
}

TEST_F(ServicePhoneTest, OnlyWebUrlsAreOpened) {
    auto o = options();
    std::vector<std::string> opened;
    o.openUrl = [&](const std::string& url) {
        opened.push_back(url);
        return true;
    };
    makeService(std::move(o));
    for (const char* url : {"https://example.com/a?b=c", "HTTP://example.com", "file:///etc/passwd",
                            "javascript:alert(1)", "ssh://host", "https:", "example.com"}) {
        service_->remoteMobileDidOpenUrl(*service_->remoteService(), url);
    }
    EXPECT_EQ(opened,
              (std::vector<std::string>{"https://example.com/a?b=c", "HTTP://example.com"}));
}

// ---- Notices
// -------------------------------------------------------------------------------------

TEST_F(ServicePhoneTest, BluetoothReportsAreIgnoredWhileAsleep) {
    makeService();
    auto& remote = *service_->remoteService();
    service_->remoteMobileClientDidBluetoothStateUpadate(remote, true);
    drainMain();
    EXPECT_EQ(uiDelegate_->updates, 1);
    EXPECT_EQ(notes_->count("bluetoothOff"), 0u);

    service_->remoteMobileClientDidBluetoothStateUpadate(remote, false);
    drainMain();
    EXPECT_EQ(uiDelegate_->updates, 2);
    EXPECT_EQ(notes_->count("bluetoothOff"), 1u);

    ASSERT_TRUE(sleep_->sleep());
    service_->remoteMobileClientDidBluetoothStateUpadate(remote, false);
    drainMain();
    EXPECT_EQ(uiDelegate_->updates, 2);
    EXPECT_EQ(notes_->count("bluetoothOff"), 1u);
}

TEST_F(ServicePhoneTest, PairingLostIsToldOncePerRun) {
    makeService();
    auto& remote = *service_->remoteService();
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back(
            [&] { service_->remoteMobileShowUpdatedDeviceIdForPairedDevice(remote); });
    }
    for (auto& t : threads) t.join();
    service_->remoteMobileShowUpdatedDeviceIdForPairedDevice(remote);
    drainMain();
    EXPECT_EQ(notes_->count("piringLost"), 1u);
    EXPECT_TRUE(service_->showingUnpairedDevice());
}

TEST_F(ServicePhoneTest, LinkNoticesAndPagesReachTheUser) {
    makeService();
    auto& remote = *service_->remoteService();
    service_->remoteMobileShowExpectingPopover(remote);
    service_->remoteMobileHideExpectingPopover(remote);
    service_->remoteMobileShowWaitingPopover(remote);
    service_->remoteMobileHideWaitingPopover(remote);
    service_->remoteMobileShowClientNotAuthorized(remote);
    service_->remoteMobileAccessDenyToSite(remote, "example.com");
    service_->remoteMobileAccessTimeoutToSite(remote, "example.org");
    service_->remoteMobileShowFirstFillGuidePopover(remote);
    service_->remoteMobileShowResetAnalyticsPopover(remote);
    service_->remoteMobileShowRatePopover(remote);
    drainMain();
    auto events = notes_->events();
    std::multiset<std::string> got(events.begin(), events.end());
    EXPECT_EQ(got, (std::multiset<std::string>{"searchPairedPhone", "waitingDevice",
                                               "clientNotAuthorized", "accessDeny:example.com",
                                               "accessTimeout:example.org"}));
    EXPECT_EQ(ui_->guides(),
              (std::vector<std::string>{
                  "GUIDE_FIRSTFILL_TITLE|GUIDE_FIRSTFILL_MESSAGE|small",
                  "GUIDE_RESET_ANALYTICS_TITLE|GUIDE_RESET_ANALYTICS_MESSAGE|large"}));
    EXPECT_EQ(ui_->rates(), 1u);
}

}  // namespace
}  // namespace lumvane::servicetest

namespace lumvane::servicetest {
namespace {

TEST_F(ServicePhoneTest, PasswordForThePhoneAlwaysGetsItsAnswer) {
    makeService();
    std::promise<bool> unpaired;
    service_->sendPasswordToPairedDevice("pw", [&](bool sent) { unpaired.set_value(sent); });
    auto f = unpaired.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(f.get());

    // Paired, but the phone cannot be reached.
    pairPhone(false);
    std::promise<bool> unreachable;
    service_->sendPasswordToPairedDevice("pw", [&](bool sent) { unreachable.set_value(sent); });
    auto g = unreachable.get_future();
    // The phone is woken and waited for on the clock.
    for (int i = 0;
         i < 2000 && g.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready; ++i) {
        clock_->advance(1.0);
    }
    ASSERT_EQ(g.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(g.get());
}

TEST_F(ServicePhoneTest, NewAccountFromTheMenuAsksOnlyWithAPairedPhone) {
    makeService();
    service_->createAccountWithPassword(std::string("generated"));
    drainMain();
    EXPECT_TRUE(ui_->saveQuestions().empty());

    pairPhone(false);
    ui_->queueSaveAnswer(std::nullopt);
    service_->createAccountWithPassword(std::string("generated"));
    auto asked = ui_->saveQuestions();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].account, "");
    EXPECT_EQ(asked[0].password, "generated");
    EXPECT_EQ(asked[0].siteUrl, "");
    EXPECT_EQ(asked[0].siteName, "");
    EXPECT_FALSE(asked[0].isUpdate);
}

}  // namespace
}  // namespace lumvane::servicetest
