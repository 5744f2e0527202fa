// Export of a vault to each file format through the phone, and import of the file back:
// what the format carries comes back unchanged, tricky values included. Also the export's
// failures and the way its files are written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "ImportExportTestSupport.h"
#include "core/importexport/LoginFiles.h"

namespace lumvane::importtest {
namespace {

const std::vector<std::string> kTricky = {
    "comma, inside",
    "say \"hello\"",
    "two\nlines\r\nand more",
    "literal \\n and \\\\ backslashes \\",
    "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\x91",
    "'single' & <angle> &amp; entity",
    "#starts with hash",
    "=\"formula\"",
    "",
};

std::shared_ptr<TBNLoginData> makeLogin(size_t i, bool full) {
    auto l = std::make_shared<TBNLoginData>();
    const auto& t = kTricky[i % kTricky.size()];
    l->setLogin("user" + std::to_string(i) + (t.empty() ? "" : " " + t));
    l->setPassword("pw-" + t + "-" + std::to_string(i));
    l->setNotes("note " + std::to_string(i) + ": " + t);
    l->setEmail(t.empty() ? "" : "e" + std::to_string(i) + "@example.com");
    l->setAccount(t);
    l->setPhone_prefix("+44");
    l->setPhone(t);
    l->setUserName(t);
    l->setFirstName("Zo\xC3\xAB");
    l->setLastName(t);
    l->setFullName(t);
    l->setCompany(t);
    l->setApplicantId(t);
    l->setZipcode("SW1A 1AA");
    l->setIsSecured(i % 2 == 0);
    l->setIsFavorited(i % 3 == 0);
    if (full) {
        l->setTags("work," + t);
        l->setTitle("Title " + t);
        if (i % 2 == 0) {
            l->setTwoFactor(std::make_shared<TBNTwoFactorData>(
                1, Bytes{0, 0xFF, 0x10, 0x80, static_cast<uint8_t>(i)}, "SHA256", 8, 1, 60.0));
        } else {
            l->setTwoFactor(
                std::make_shared<TBNTwoFactorData>(0, Bytes{9, 8, 7}, "SHA1", 6, 5, 30.0));
        }
        l->setYubikey(std::make_shared<TBNYubikeyData>("kh-" + std::to_string(i)));
    }
    return l;
}

// Sites whose address equals their domain, one form address each, as the importers
// build them.
TBNSiteDataList makeVault(bool full) {
    TBNSiteDataList sites;
    const std::vector<std::pair<std::string, std::string>> domains = {
        {"example.com", "https://login.example.com/a?x=1,2"},
        {"example.org", "https://shop.example.org/"},
        {"xn--caf-dma.net", "https://www.xn--caf-dma.net/login"},
    };
    size_t n = 0;
    for (size_t s = 0; s < domains.size(); ++s) {
        auto site = std::make_shared<TBNSiteData>();
        site->setDomain(domains[s].first);
        site->setSiteUrl(domains[s].first);
        site->setFormUrls(
            std::make_shared<std::set<std::string>>(std::set<std::string>{domains[s].second}));
        site->setDisplayName(s == 1 ? "Shop, \"the\" one" : "Site " + std::to_string(s));
        auto logins = std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>();
        for (size_t i = 0; i < 4; ++i) logins->push_back(makeLogin(n++, full));
        site->setLoginData(logins);
        sites.push_back(site);
    }
    return sites;
}

std::string str(const std::optional<std::string>& v) {
    return v.value_or("");
}

// Compares what a format carries.
void expectSameLogins(const TBNSiteDataList& want, const TBNSiteDataList& got, bool full,
                      bool lastpass) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t s = 0; s < want.size(); ++s) {
        SCOPED_TRACE("site " + std::to_string(s));
        EXPECT_EQ(str(got[s]->domain()), str(want[s]->domain()));
        EXPECT_EQ(str(got[s]->siteUrl()), str(want[s]->siteUrl()));
        EXPECT_EQ(*got[s]->formUrls(), *want[s]->formUrls());
        if (!lastpass) EXPECT_EQ(str(got[s]->displayName()), str(want[s]->displayName()));
        ASSERT_EQ(got[s]->loginData()->size(), want[s]->loginData()->size());
        for (size_t i = 0; i < want[s]->loginData()->size(); ++i) {
            const auto& w = *want[s]->loginData()->at(i);
            const auto& g = *got[s]->loginData()->at(i);
            SCOPED_TRACE("login " + str(w.login()));
            EXPECT_EQ(str(g.login()), str(w.login()));
            EXPECT_EQ(str(g.password()), str(w.password()));
            EXPECT_EQ(str(g.notes()), str(w.notes()));
            EXPECT_EQ(g.isFavorited(), w.isFavorited());
            if (lastpass) continue;
            EXPECT_EQ(str(g.email()), str(w.email()));
            EXPECT_EQ(str(g.account()), str(w.account()));
            EXPECT_EQ(str(g.phone_prefix()), str(w.phone_prefix()));
            EXPECT_EQ(str(g.phone()), str(w.phone()));
            EXPECT_EQ(str(g.userName()), str(w.userName()));
            EXPECT_EQ(str(g.firstName()), str(w.firstName()));
            EXPECT_EQ(str(g.lastName()), str(w.lastName()));
            EXPECT_EQ(str(g.fullName()), str(w.fullName()));
            EXPECT_EQ(str(g.company()), str(w.company()));
            EXPECT_EQ(str(g.applicantId()), str(w.applicantId()));
            EXPECT_EQ(str(g.zipcode()), str(w.zipcode()));
            EXPECT_EQ(g.isSecured(), w.isSecured());
            if (!full) continue;
            EXPECT_EQ(str(g.tags()), str(w.tags()));
            EXPECT_EQ(str(g.title()), str(w.title()));
            ASSERT_TRUE(g.twoFactor());
            EXPECT_EQ(*g.twoFactor(), *w.twoFactor());
            ASSERT_TRUE(g.yubikey());
            EXPECT_EQ(g.yubikey()->keyHandle(), w.yubikey()->keyHandle());
        }
    }
}

class RoundTripTest : public ::testing::Test {
  protected:
    std::shared_ptr<FakePhone> phone_ = std::make_shared<FakePhone>();
    std::shared_ptr<ImportExportService> service_ = makeService(phone_);
    TempDir dir_;
};

TEST_F(RoundTripTest, EachFormatBringsTheVaultBack) {
    struct Format {
        int32_t destination;
        TBNImportSource source;
        std::string file;
        bool full;
        bool lastpass;
    };
    const std::vector<Format> formats = {
        {0, TBNImportSource::LUMVANE_JSON, "Untitled.lumvane.json", true, false},
        {1, TBNImportSource::LUMVANE_CSV, "Untitled.lumvane.csv", false, false},
        {2, TBNImportSource::LASTPASS_CSV, "Untitled.lastpass.csv", false, true},
    };
    for (const auto& f : formats) {
        SCOPED_TRACE(f.file);
        auto vault = makeVault(f.full);
        phone_->vault = vault;
        phone_->vaultKeys.clear();
        if (f.full) {
            auto key = std::make_shared<TBNU2FData>(Bytes{0xA1, 0, 0xFF}, Bytes{1, 2, 3, 4});
            auto emptyTag = std::make_shared<TBNU2FData>(Bytes{}, Bytes{5});
            phone_->vaultKeys = {key, emptyTag};
        }
        auto keys = phone_->vaultKeys;
        auto file = dir_ / f.file;
        EXPECT_EQ(runExport(*service_, f.destination, file), kExportSucceeded);
        EXPECT_EQ(phone_->sourceDetail, f.file);
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        phone_->vault.clear();
        phone_->vaultKeys.clear();
        EXPECT_EQ(runImport(*service_, f.source, file), kImportSucceeded);
        expectSameLogins(vault, phone_->vault, f.full, f.lastpass);
        ASSERT_EQ(phone_->vaultKeys.size(), keys.size());
        for (size_t i = 0; i < keys.size(); ++i) {
            EXPECT_EQ(phone_->vaultKeys[i]->applicationTag().value_or(Bytes{}),
                      keys[i]->applicationTag().value_or(Bytes{}));
            EXPECT_EQ(phone_->vaultKeys[i]->privateKey(), keys[i]->privateKey());
        }
    }
}

TEST_F(RoundTripTest, FileShapes) {
    auto site = std::make_shared<TBNSiteData>();
    site->setDomain("Example");
    site->setSiteUrl("");
    site->setFormUrls(std::make_shared<std::set<std::string>>());
    auto login = std::make_shared<TBNLoginData>();
    login->setLogin("me");
    login->setNotes("a\nb");
    auto tf = std::make_shared<TBNTwoFactorData>();
    tf->setType(1);
    tf->setPeriod(30);
    tf->setDigits(6);
    login->setTwoFactor(tf);
    site->setLoginData(std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>(1, login));

    auto csv = lumvaneCsvText({site});
    EXPECT_EQ(csv,
              "domain,display_name,login,password,account,email,phone_prefix,phone,user_name,"
              "first_name,last_name,full_name,company,applicant_id,zipcode,is_secured,is_favorited,"
              "url,notes\n"
              "Example,,me,,,,,,,,,,,,,false,false,,a\\nb\n");
    EXPECT_EQ(lastpassCsvText({site}),
              "url,username,password,extra,name,grouping,fav\n"
              "\"\",\"me\",\"\",\"a\\nb\",\"Example\",\"\",\"0\"\n");
    auto json = nlohmann::json::parse(lumvaneJsonText({site}, {}));
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["domain"], "Example");
    EXPECT_FALSE(json[0].contains("url"));
    EXPECT_FALSE(json[0].contains("isFavorited"));
    EXPECT_EQ(json[0]["2faType"], "TOTP");
    EXPECT_EQ(json[0]["2faPeriod"], 30.0);
    EXPECT_EQ(json[0]["2faDigits"], 6);
    EXPECT_FALSE(json[0].contains("2faCounter"));

    // An empty vault: a header only, an empty array.
    EXPECT_EQ(lumvaneCsvText({}).find('\n') + 1, lumvaneCsvText({}).size());
    EXPECT_EQ(lumvaneJsonText({}, {}), "[]");
}

TEST_F(RoundTripTest, ExportFailuresEndWithOneCompletion) {
    phone_->vault = makeVault(false);
    auto file = dir_ / "out.csv";
    {
        auto offline = makeService(phone_, false);
        CallbackLog log;
        offline->exportWithDestinationType(1, file, log.approved(), log.started(),
                                           log.completion());
        EXPECT_EQ(log.snapshot(), (Events{"completion:Paired device is offline"}));
        EXPECT_EQ(phone_->exports, 0);
    }
    EXPECT_EQ(runExport(*service_, 3, file), (Events{"completion:Unsuported data format"}));
    EXPECT_EQ(phone_->exports, 0);

    phone_->mode = FakePhone::Mode::RefuseRequest;
    EXPECT_EQ(runExport(*service_, 1, file),
              (Events{"approved:User refused export", "completion:User refused export"}));
    phone_->mode = FakePhone::Mode::FailCall;
    EXPECT_EQ(runExport(*service_, 1, file), (Events{"approved:nil", "completion:Vault locked"}));
    phone_->mode = FakePhone::Mode::DropCallbacks;
    EXPECT_EQ(runExport(*service_, 1, file),
              (Events{"approved:Device not available", "completion:Device not available"}));
    EXPECT_FALSE(fs::exists(file));

    // A payload type nobody knows gives an empty collection: a file with the header only.
    phone_->mode = FakePhone::Mode::Accept;
    phone_->exportTypeSerialize = 7;
    EXPECT_EQ(runExport(*service_, 1, file), kExportSucceeded);
    EXPECT_EQ(readText(file), lumvaneCsvText({}));
    phone_->exportTypeSerialize = -1;

    // Partial data: a hole in the records writes nothing.
    phone_->deliverHole = true;
    fs::remove(file);
    EXPECT_EQ(runExport(*service_, 0, file),
              (Events{"approved:nil", "completion:Unsuported data format"}));
    EXPECT_FALSE(fs::exists(file));
    phone_->deliverHole = false;

    // Text that is not UTF-8 cannot become JSON: the serialiser's message, no file.
    phone_->vault[0]->loginData()->at(0)->setPassword(std::string("\xFF\xFE"));
    auto events = runExport(*service_, 0, file);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_NE(events[2], "completion:nil");
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(RoundTripTest, WriteFailureIsReportedAndOldFileKept) {
    phone_->vault = makeVault(false);
    // A folder that does not exist.
    auto events = runExport(*service_, 1, dir_ / "no-such-dir" / "out.csv");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].rfind("completion:Cannot create file", 0), 0u) << events[2];

    // Replacing an existing file works and leaves no temporary file behind.
    writeText(dir_ / "out.csv", "old");
    EXPECT_EQ(runExport(*service_, 1, dir_ / "out.csv"), kExportSucceeded);
    EXPECT_NE(readText(dir_ / "out.csv"), "old");
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(dir_.path()))
        entries += e.path().filename().string().starts_with(".") ? 1 : 0;
    EXPECT_EQ(entries, 0u);

    // A folder we may not write into keeps the file it had.
    auto locked = dir_ / "locked";
    fs::create_directory(locked);
    writeText(locked / "out.csv", "old");
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(locked.c_str(), W_OK) == 0)
        GTEST_SKIP() << "running with rights that ignore modes";
    events = runExport(*service_, 1, locked / "out.csv");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_NE(events[2], "completion:nil");
    EXPECT_EQ(readText(locked / "out.csv"), "old");
    fs::permissions(locked, fs::perms::owner_all);
}

}  // namespace
}  // namespace lumvane::importtest

namespace lumvane::importtest {
namespace {

// The phone keeps full addresses as site addresses; the own JSON writes them as the
// sites' names, and reading them back must keep the sites apart under their domains.
TEST(RoundTripSiteNames, FullSiteAddressesComeBackAsSeparateSites) {
    TBNSiteDataList sites;
    const std::vector<std::pair<std::string, std::string>> addresses = {
        {"https://github.com/login", "github.com"},
        {"https://bank.example.com", "example.com"},
        {"http://intranet.example.org:8080/x", "example.org"},
    };
    for (const auto& [address, domain] : addresses) {
        auto site = std::make_shared<TBNSiteData>();
        site->setSiteUrl(address);
        site->setDomain(domain);
        site->setFormUrls(std::make_shared<std::set<std::string>>());
        auto logins = std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>();
        logins->push_back(makeLogin(logins->size(), false));
        site->setLoginData(logins);
        sites.push_back(site);
    }
    auto back = readLumvaneJson(lumvaneJsonText(sites, {}));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->sites.size(), sites.size());
    for (size_t i = 0; i < sites.size(); ++i) {
        EXPECT_EQ(str(back->sites[i]->domain()), addresses[i].second);
        ASSERT_EQ(back->sites[i]->loginData()->size(), 1u);
        EXPECT_EQ(str(back->sites[i]->loginData()->at(0)->login()),
                  str(sites[i]->loginData()->at(0)->login()));
        // No form address was invented for a site that had none.
        EXPECT_TRUE(back->sites[i]->formUrls()->empty());
    }
}

}  // namespace
}  // namespace lumvane::importtest
