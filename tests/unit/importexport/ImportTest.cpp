// Import from each source of the import window, through a phone that keeps what it got,
// and every way an import can end.
#include <gtest/gtest.h>

#include <any>
#include <random>

#include "ImportExportTestSupport.h"
#include "core/importexport/LoginFiles.h"
#include "runtime/Clock.h"

namespace lumvane::importtest {
namespace {

std::shared_ptr<TBNSiteData> siteOf(const TBNSiteDataList& sites, const std::string& domain) {
    for (const auto& s : sites)
        if (s->domain() == domain) return s;
    ADD_FAILURE() << "no site " << domain;
    return std::make_shared<TBNSiteData>();
}

class ImportTest : public ::testing::Test {
  protected:
    std::shared_ptr<FakePhone> phone_ = std::make_shared<FakePhone>();
    std::shared_ptr<ImportExportService> service_ = makeService(phone_);
    TempDir dir_;
};

TEST_F(ImportTest, LastPassExportWithEntitiesMultiLineNotesAndFavourites) {
    EXPECT_EQ(runImport(*service_, TBNImportSource::LASTPASS_CSV, fixture("lastpass.csv")),
              kImportSucceeded);
    EXPECT_EQ(phone_->sourceName, "LastPass CSV");
    EXPECT_EQ(phone_->sourceDetail, "lastpass.csv");
    EXPECT_EQ(phone_->recordCount, 3);  // the secure note has neither login nor password
    EXPECT_EQ(phone_->importTypeSerialize, 1);
    ASSERT_EQ(phone_->vault.size(), 3u);
    auto example = siteOf(phone_->vault, "example.com")->loginData()->at(0);
    EXPECT_EQ(example->login(), "alice@example.com");
    EXPECT_EQ(example->password(), "Tom&Jerry<3");
    EXPECT_EQ(example->notes(), "Line one\nLine two, with comma");
    EXPECT_TRUE(example->isFavorited());
    auto shop = siteOf(phone_->vault, "test.org")->loginData()->at(0);
    EXPECT_EQ(shop->password(), "pa\"ss,word");
    EXPECT_FALSE(shop->isFavorited());
}

TEST_F(ImportTest, LastPassSavedOnWindowsWithBomCrlfAndEntitiesDecodedOnce) {
    EXPECT_EQ(runImport(*service_, TBNImportSource::LASTPASS_CSV, fixture("lastpass_windows.csv")),
              kImportSucceeded);
    EXPECT_EQ(phone_->recordCount, 1);  // the secure note has neither login nor password
    ASSERT_EQ(phone_->vault.size(), 1u);
    const auto& site = phone_->vault[0];
    EXPECT_EQ(site->domain(), "example.net");
    EXPECT_EQ(*site->formUrls(), std::set<std::string>{"https://portal.example.net/"});
    auto login = site->loginData()->at(0);
    EXPECT_EQ(login->login(), "erin@example.net");
    // "&amp;amp;" is a literal "&amp;" in the vault: one decoding pass, not two.
    EXPECT_EQ(login->password(), "R&D&amp;more");
    EXPECT_EQ(login->notes(), "Door code: 1234\r\nParking: B2, level -1");
    EXPECT_TRUE(login->isFavorited());
}

TEST_F(ImportTest, LastPassHeaderWithoutFavFallsBackToColumnNumbers) {
    // The header line becomes a data line; "name" has no dot and "url" gives no host, so
    // it yields nothing, and the one real line is read by position.
    std::optional<TBNCSVLoaderError> error;
    auto sites = ImportExportService::loadRecordsFromCSVSource(
        TBNImportSource::LASTPASS_CSV, fixture("lastpass_nofav.csv"), &error);
    EXPECT_FALSE(error);
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0]->domain(), "example.com");
    EXPECT_EQ(sites[0]->loginData()->at(0)->login(), "dave");
}

TEST_F(ImportTest, KeePassWithBomCrlfBackslashEscapesAndNonAscii) {
    EXPECT_EQ(runImport(*service_, TBNImportSource::KEEPASS_CSV, fixture("keepass.csv")),
              kImportSucceeded);
    EXPECT_EQ(phone_->sourceName, "KeePass CSV");
    auto github = siteOf(phone_->vault, "github.com")->loginData()->at(0);
    EXPECT_EQ(github->password(), "gh-\xC3\xA9t\xC3\xA9!");
    EXPECT_EQ(github->notes(), "Recovery codes:\r\nabc-123");
    auto bank = siteOf(phone_->vault, "example.com")->loginData()->at(0);
    EXPECT_EQ(bank->password(), "C:\\temp\\");
    // "Router" has no address and no dotted name: its own site without an address.
    auto routerSite = siteOf(phone_->vault, "Router");
    EXPECT_EQ(routerSite->siteUrl(), "");
    EXPECT_EQ(routerSite->loginData()->at(0)->notes(), "local \"device\"");
}

TEST_F(ImportTest, DashlaneCsvFiltersOtherRecordKinds) {
    EXPECT_EQ(runImport(*service_, TBNImportSource::DASHLANE_CSV, fixture("dashlane.csv")),
              kImportSucceeded);
    // Six-column and place-of-birth lines produce nothing; the two Facebook lines are
    // one login on one site with both addresses.
    EXPECT_EQ(phone_->recordCount, 2);
    auto fb = siteOf(phone_->vault, "facebook.com");
    EXPECT_EQ(fb->loginData()->size(), 1u);
    EXPECT_EQ(fb->formUrls()->size(), 2u);
    EXPECT_EQ(siteOf(phone_->vault, "twitter.com")->loginData()->at(0)->login(), "@harry");
}

TEST_F(ImportTest, TrueKeyKeepsOnlyExactLoginKind) {
    EXPECT_EQ(runImport(*service_, TBNImportSource::TRUEKEY_CSV, fixture("truekey.csv")),
              kImportSucceeded);
    ASSERT_EQ(phone_->vault.size(), 1u);
    auto login = phone_->vault[0]->loginData()->at(0);
    EXPECT_EQ(phone_->vault[0]->domain(), "amazon.com");
    EXPECT_EQ(login->account(), "M-77");
    EXPECT_EQ(login->email(), "ivy@example.com");
    EXPECT_EQ(login->phone(), "+1 555 0100");
    EXPECT_EQ(login->firstName(), "Ivy");
    EXPECT_EQ(login->zipcode(), "94110");
    EXPECT_EQ(login->notes(), "gift list");
}

TEST_F(ImportTest, OnePasswordByNameAndByColumnNumbers) {
    EXPECT_EQ(runImport(*service_, TBNImportSource::ONEPASSWORD_CSV, fixture("onepassword.csv")),
              kImportSucceeded);
    ASSERT_EQ(phone_->vault.size(), 1u);
    EXPECT_EQ(phone_->vault[0]->loginData()->at(0)->password(), "db,pass");

    EXPECT_EQ(runImport(*service_, TBNImportSource::ONEPASSWORD_CSV, fixture("onepassword4.csv")),
              kImportSucceeded);
    ASSERT_EQ(phone_->vault.size(), 1u);
    EXPECT_EQ(phone_->vault[0]->domain(), "slack.com");
    EXPECT_EQ(phone_->vault[0]->loginData()->at(0)->login(), "leo");

    // A file that fits none of the three attempts reports the message of the last.
    auto file = dir_ / "other.csv";
    writeText(file, "just,some,words\n");
    EXPECT_EQ(runImport(*service_, TBNImportSource::ONEPASSWORD_CSV, file),
              (Events{"completion:No entry for import"}));
}

TEST_F(ImportTest, DashlaneJson) {
    EXPECT_EQ(runImport(*service_, TBNImportSource::DASHLANE_JSON, fixture("dashlane.json")),
              kImportSucceeded);
    EXPECT_EQ(phone_->sourceName, "Dashlane JSON");
    auto netflix = siteOf(phone_->vault, "Netflix");
    EXPECT_EQ(netflix->siteUrl(), "netflix.com");
    EXPECT_EQ(*netflix->formUrls(), std::set<std::string>{"https://www.netflix.com/login"});
    auto login = netflix->loginData()->at(0);
    EXPECT_EQ(login->userName(), "mia2");
    EXPECT_EQ(login->notes(), "family plan");
    auto spotify = siteOf(phone_->vault, "spotify.com");
    EXPECT_EQ(*spotify->formUrls(), std::set<std::string>{"https://spotify.com"});
}

// A name with a dot that still names no site domain falls back as a login without a name
// does: the address's site domain, else "Unknown"; never a site with an empty domain.
TEST(JsonSiteRule, NameWithoutSiteDomainFallsBackLikeNoName) {
    struct Case {
        const char* name;
        std::string text;
        bool dashlane;
        std::string domain, siteUrl;
    };
    const std::vector<Case> cases = {
        {"dashlane, title only", R"({"AUTHENTIFIANT":[{"title":":."}]})", true, "Unknown", ""},
        {"dashlane, with address",
         R"({"AUTHENTIFIANT":[{"domain":"https://www.shop.com/in","title":":."}]})", true,
         "shop.com", "shop.com"},
        {"own, name only", R"([{"domain":":.","login":"a"}])", false, "Unknown", ""},
        {"own, with address", R"([{"url":"https://a.b.example.org/","domain":":."}])", false,
         "example.org", "example.org"},
        {"dashlane, plain title kept", R"({"AUTHENTIFIANT":[{"title":"Netflix"}]})", true,
         "Netflix", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<TBNSiteDataList> sites;
        if (c.dashlane) {
            sites = readDashlaneJson(c.text);
        } else if (auto own = readLumvaneJson(c.text)) {
            sites = own->sites;
        }
        ASSERT_TRUE(sites);
        ASSERT_EQ(sites->size(), 1u);
        EXPECT_EQ(sites->at(0)->domain(), c.domain);
        EXPECT_EQ(sites->at(0)->siteUrl(), c.siteUrl);
        EXPECT_EQ(sites->at(0)->loginData()->size(), 1u);
    }
}

TEST_F(ImportTest, OwnJsonSiteRulesAndTwoFactorDefaults) {
    auto file = dir_ / "vault.json";
    writeText(file, R"([
      {"url": "https://www.github.com/session", "login": "a", "password": "p"},
      {"url": "gitlab.com/users/sign_in", "login": "b", "password": "p"},
      {"login": "c", "password": "p"},
      {"url": "https://x.test/", "domain": "x.test", "login": "d", "password": "p",
       "2faType": "HOTP", "2faSecret": "AAEC", "2faPeriod": 60},
      {"u2fApplicationTag": "AQI=", "u2fPrivateKey": "AwQ=", "login": "not a login"},
      {"domain": "plain", "login": "e", "2faType": "TOTP", "2faSecret": "not base64!"},
      42
    ])");
    EXPECT_EQ(runImport(*service_, TBNImportSource::LUMVANE_JSON, file), kImportSucceeded);
    auto github = siteOf(phone_->vault, "github.com");
    EXPECT_EQ(github->siteUrl(), "github.com");
    EXPECT_EQ(*github->formUrls(), std::set<std::string>{"https://www.github.com/session"});
    EXPECT_EQ(*siteOf(phone_->vault, "gitlab.com")->formUrls(),
              std::set<std::string>{"https://gitlab.com/users/sign_in"});
    EXPECT_EQ(siteOf(phone_->vault, "Unknown")->siteUrl(), "");
    auto tf = siteOf(phone_->vault, "x.test")->loginData()->at(0)->twoFactor();
    ASSERT_TRUE(tf);
    EXPECT_EQ(tf->type(), 0);
    EXPECT_EQ(tf->counter(), 1);    // default initial counter
    EXPECT_EQ(tf->period(), 30.0);  // not read for HOTP
    EXPECT_EQ(*tf->secret(), (Bytes{0, 1, 2}));
    EXPECT_FALSE(siteOf(phone_->vault, "plain")->loginData()->at(0)->twoFactor());
    ASSERT_EQ(phone_->vaultKeys.size(), 1u);
    EXPECT_EQ(*phone_->vaultKeys[0]->applicationTag(), (Bytes{1, 2}));
}

TEST_F(ImportTest, EveryFailureEndsWithOneCompletion) {
    auto notJson = dir_ / "bad.json";
    writeText(notJson, "{ not json");
    auto object = dir_ / "object.json";
    writeText(object, "{\"a\": 1}");
    auto emptyArray = dir_ / "empty.json";
    writeText(emptyArray, "[]");
    auto noAuth = dir_ / "noauth.json";
    writeText(noAuth, "{\"IDENTITY\": []}");
    auto headerOnly = dir_ / "header.csv";
    writeText(headerOnly,
              "domain,display_name,login,password,account,email,phone_prefix,phone,user_name,"
              "first_name,last_name,full_name,company,applicant_id,zipcode,is_secured,"
              "is_favorited,url,notes\n");
    struct Case {
        int32_t source;
        fs::path file;
        std::string message;
    };
    const std::vector<Case> cases = {
        {51, notJson, "Unsuported data format"},
        {52, notJson, "Unsuported data format"},
        {99, notJson, "Unsuported data format"},
        {0, notJson, "Invalid file format"},
        {0, object, "Invalid file format"},
        {0, dir_ / "missing.json", "Invalid file format"},
        {0, emptyArray, "Unsuported data format"},
        {7, object, "Unsuported data format"},
        {7, noAuth, "Unsuported data format"},
        {7, emptyArray, "Invalid file format"},
        {1, headerOnly, "No entry for import"},
        {1, dir_ / "missing.csv", "Unsuported file format"},
    };
    for (const auto& c : cases) {
        CallbackLog log;
        service_->importWithSourceType(c.source, c.file, log.approved(), log.started(),
                                       log.completion());
        ASSERT_TRUE(log.waitDone());
        EXPECT_EQ(log.snapshot(), (Events{"completion:" + c.message})) << c.source << " " << c.file;
    }
    EXPECT_EQ(phone_->imports, 0);
}

// Read by column numbers, any bytes give "logins": what is not a password export must be
// refused before anything reaches the phone.
TEST_F(ImportTest, WhatIsNotALoginExportIsRefusedBeforeThePhoneHearsOfIt) {
    std::mt19937 random(20240611);
    // 1 MB of random bytes.
    std::string noise(1 << 20, '\0');
    for (auto& c : noise) c = static_cast<char>(random() & 0xFF);
    auto binary = dir_ / "export.csv";
    writeText(binary, noise);
    // Text, but nine lines in ten have no field separators at all: a log or a letter
    // with a few comma-rich lines in it.
    std::string prose;
    for (int i = 0; i < 500; ++i) {
        if (i % 10 == 0) {
            prose += "https://host" + std::to_string(i) + ".example.org,word" + std::to_string(i) +
                     ",more words," + "note,host" + std::to_string(i) + ".example.org,x,0\n";
        } else {
            prose += "Line " + std::to_string(i) + " of a text that holds no logins at all\n";
        }
    }
    auto letter = dir_ / "letter.csv";
    writeText(letter, prose);
    struct Case {
        TBNImportSource source;
        fs::path file;
        const char* message;
    };
    for (const Case& c :
         {Case{TBNImportSource::LASTPASS_CSV, binary, "The file is not a text file"},
          Case{TBNImportSource::KEEPASS_CSV, binary, "The file is not a text file"},
          Case{TBNImportSource::LASTPASS_CSV, letter,
               "Most lines of the file are not logins of this kind"}}) {
        SCOPED_TRACE(c.file.filename().string());
        EXPECT_EQ(runImport(*service_, c.source, c.file),
                  (Events{std::string("completion:") + c.message}));
    }
    EXPECT_EQ(phone_->imports, 0);
    // A real export whose lines are partly secure notes (no login, no password) still
    // goes through: those lines have the shape of a login.
    EXPECT_EQ(runImport(*service_, TBNImportSource::LASTPASS_CSV, fixture("lastpass.csv")),
              kImportSucceeded);
}

TEST_F(ImportTest, NoPairedPhoneAnswersAtOnce) {
    auto service = makeService(phone_, false);
    CallbackLog log;
    service->importWithSourceType(1, fixture("lastpass.csv"), log.approved(), log.started(),
                                  log.completion());
    // On the calling thread, before returning.
    EXPECT_EQ(log.snapshot(), (Events{"completion:Paired device is offline"}));
    EXPECT_EQ(phone_->imports, 0);
}

TEST_F(ImportTest, PhoneRefusalFailureAndSilence) {
    phone_->mode = FakePhone::Mode::RefuseRequest;
    EXPECT_EQ(runImport(*service_, TBNImportSource::LASTPASS_CSV, fixture("lastpass.csv")),
              (Events{"start", "approved:User refused import", "completion:User refused import"}));
    phone_->mode = FakePhone::Mode::FailCall;
    EXPECT_EQ(runImport(*service_, TBNImportSource::LASTPASS_CSV, fixture("lastpass.csv")),
              (Events{"start", "approved:nil", "completion:Storage full"}));
    // A phone service that gives up without a word still ends the import.
    phone_->mode = FakePhone::Mode::DropCallbacks;
    EXPECT_EQ(
        runImport(*service_, TBNImportSource::LASTPASS_CSV, fixture("lastpass.csv")),
        (Events{"start", "approved:Device not available", "completion:Device not available"}));
}

TEST_F(ImportTest, GoogleAccountReportTimeoutAndBrowserMissing) {
    auto clock = std::make_shared<ManualClock>();
    TBNWaitManager waits(clock);
    std::string opened;
    auto service = makeService(phone_, true, &waits, [&](const std::string& url) {
        opened = url;
        return true;
    });

    {  // The extension reports two sites.
        CallbackLog log;
        service->importWithSourceType(50, "", log.approved(), log.started(), log.completion());
        ASSERT_TRUE(clock->waitForSleepers(1));
        GoogleImportReport report;
        auto site = std::make_shared<TBNSiteData>();
        site->setDomain("example.com");
        site->setSiteUrl("example.com");
        auto login = std::make_shared<TBNLoginData>();
        login->setPassword("pw");
        site->setLoginData(std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>(1, login));
        report.records = {site};
        report.sourceDetail = "user@gmail.com";
        waits.releaseForName(ImportExportService::kGoogleWaitName, std::any(report));
        ASSERT_TRUE(log.waitDone());
        EXPECT_EQ(log.snapshot(), kImportSucceeded);
        EXPECT_NE(opened.find("lumvane=1"), std::string::npos);
        EXPECT_EQ(phone_->sourceName, "Google Passwords");
        EXPECT_EQ(phone_->sourceDetail, "user@gmail.com");
        // A login without a login name goes out with the empty one.
        EXPECT_EQ(phone_->vault[0]->loginData()->at(0)->login(), "");
    }
    {  // Nothing within the hour.
        CallbackLog log;
        service->importWithSourceType(50, "", log.approved(), log.started(), log.completion());
        ASSERT_TRUE(clock->waitForSleepers(1));
        clock->advance(3601.0);
        ASSERT_TRUE(log.waitDone());
        EXPECT_EQ(log.snapshot(), (Events{"completion:Timeout of import from google account"}));
    }
    {  // A report without records.
        CallbackLog log;
        service->importWithSourceType(50, "", log.approved(), log.started(), log.completion());
        ASSERT_TRUE(clock->waitForSleepers(1));
        waits.releaseForName(ImportExportService::kGoogleWaitName, std::any(GoogleImportReport{}));
        ASSERT_TRUE(log.waitDone());
        EXPECT_EQ(log.snapshot(), (Events{"completion:Unsuported data format"}));
    }
    {  // No browser to open: told at once rather than after an hour.
        auto noChrome = makeService(phone_, true, &waits, [](const std::string&) { return false; });
        CallbackLog log;
        noChrome->importWithSourceType(50, "", log.approved(), log.started(), log.completion());
        ASSERT_TRUE(log.waitDone());
        EXPECT_EQ(log.snapshot(), (Events{"completion:Google Chrome could not be opened"}));
    }
}

TEST_F(ImportTest, CancelWhileWaitingForGoogleEndsWithCancelText) {
    auto clock = std::make_shared<ManualClock>();
    TBNWaitManager waits(clock);
    auto service = makeService(phone_, true, &waits);
    CallbackLog log;
    service->importWithSourceType(50, "", log.approved(), log.started(), log.completion());
    ASSERT_TRUE(clock->waitForSleepers(1));
    service->cancelImport();
    ASSERT_TRUE(log.waitDone());
    EXPECT_EQ(log.snapshot(),
              (Events{"completion:" + *TBNErrors::requestCanceledByUser()->debugMessage()}));
    EXPECT_EQ(phone_->cancels, 1);
    EXPECT_EQ(phone_->imports, 0);
}

}  // namespace
}  // namespace lumvane::importtest
