// Import and export through the service and the simulated phone: the phone's records go
// to a file in each format and come back to the phone equal (what the format carries),
// tricky values included; the hand-overs' requests, cancellation and failures.
#include <sys/stat.h>

#include "../importexport/ImportExportTestSupport.h"
#include "RemoteCallsSupport.h"
#include "core/importexport/RemoteImportExportPhone.h"
#include "protocol/services/SiteDataPayload.h"

namespace lumvane::remotecalls {
namespace {

using importtest::CallbackLog;
using importtest::Events;
using importtest::TempDir;

const std::vector<std::string> kTricky = {
    "comma, inside",
    "say \"hello\", she said",
    "two\nlines\r\nthree",
    "literal \\n and \\\\ and \\",
    "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\x91",
    "",
};

std::shared_ptr<TBNLoginData> login(size_t i) {
    const auto& t = kTricky[i % kTricky.size()];
    auto l = std::make_shared<TBNLoginData>();
    l->setLogin("user" + std::to_string(i) + (t.empty() ? "" : " " + t));
    l->setPassword("pw " + t + " " + std::to_string(i));
    l->setNotes(t.empty() ? "" : "note: " + t);
    l->setEmail(t.empty() ? "" : "u" + std::to_string(i) + "@example.com");
    l->setAccount(t);
    l->setPhone_prefix("+49");
    l->setPhone(t);
    l->setUserName(t);
    l->setFirstName("J\xC3\xBCrgen");
    l->setLastName(t);
    l->setFullName(t);
    l->setCompany(t);
    l->setApplicantId(t);
    l->setZipcode("10115");
    l->setIsSecured(i % 2 == 1);
    l->setIsFavorited(i % 3 == 0);
    l->setTags("a," + t);
    l->setTitle("T " + t);
    if (i % 2 == 0) {
        l->setTwoFactor(std::make_shared<TBNTwoFactorData>(
            1, Bytes{0, 0xFF, 0x10, static_cast<uint8_t>(i)}, "SHA256", 8, 1, 60.0));
    } else {
        l->setTwoFactor(std::make_shared<TBNTwoFactorData>(0, Bytes{9, 8, 7}, "SHA1", 6, 5, 30.0));
    }
    l->setYubikey(std::make_shared<TBNYubikeyData>("kh-" + std::to_string(i)));
    return l;
}

// The phone's vault as the importers build sites: the address equals the domain, one
// form address.
std::shared_ptr<TBNSiteDataCollection> trickyVault() {
    auto records = std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>();
    const std::vector<std::pair<std::string, std::string>> domains = {
        {"example.com", "https://login.example.com/a?x=1,2&y=\"3\""},
        {"example.org", "https://shop.example.org/"},
    };
    size_t n = 0;
    for (size_t s = 0; s < domains.size(); ++s) {
        auto site = std::make_shared<TBNSiteData>();
        site->setDomain(domains[s].first);
        site->setSiteUrl(domains[s].first);
        site->setFormUrls(
            std::make_shared<std::set<std::string>>(std::set<std::string>{domains[s].second}));
        site->setDisplayName(s == 0 ? "Shop, \"the\" one\n" : "Caf\xC3\xA9");
        auto logins = std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>();
        for (size_t i = 0; i < 3; ++i) logins->push_back(login(n++));
        site->setLoginData(logins);
        records->push_back(site);
    }
    auto keys = std::make_shared<std::vector<std::shared_ptr<TBNU2FData>>>();
    keys->push_back(std::make_shared<TBNU2FData>(Bytes{0, 1, 2, 0xFE}, Bytes(32, 0xA5)));
    keys->push_back(std::make_shared<TBNU2FData>(Bytes{'t', 'a', 'g'}, Bytes{}));
    auto collection = std::make_shared<TBNSiteDataCollection>();
    collection->setRecords(records);
    collection->setUpdateTimeStamp(0);
    collection->setU2fRecords(keys);
    return collection;
}

std::string str(const std::optional<std::string>& v) {
    return v.value_or("");
}

struct Format {
    const char* name;
    TBNExportDestination destination;
    TBNImportSource source;
    const char* file;
    const char* sourceName;
    bool everyField;  // the own formats carry every login field
    bool json;        // two-factor, security keys, tags and titles
};

void expectSameVault(const TBNSiteDataCollection& want, const TBNSiteDataCollection& got,
                     const Format& f) {
    ASSERT_TRUE(got.records());
    ASSERT_EQ(got.records()->size(), want.records()->size());
    for (size_t s = 0; s < want.records()->size(); ++s) {
        const auto& ws = *want.records()->at(s);
        const auto& gs = *got.records()->at(s);
        SCOPED_TRACE("site " + str(ws.domain()));
        EXPECT_EQ(str(gs.domain()), str(ws.domain()));
        EXPECT_EQ(str(gs.siteUrl()), str(ws.siteUrl()));
        EXPECT_EQ(*gs.formUrls(), *ws.formUrls());
        if (f.everyField) EXPECT_EQ(str(gs.displayName()), str(ws.displayName()));
        ASSERT_EQ(gs.loginData()->size(), ws.loginData()->size());
        for (size_t i = 0; i < ws.loginData()->size(); ++i) {
            const auto& w = *ws.loginData()->at(i);
            const auto& g = *gs.loginData()->at(i);
            SCOPED_TRACE("login " + str(w.login()));
            EXPECT_EQ(str(g.login()), str(w.login()));
            EXPECT_EQ(str(g.password()), str(w.password()));
            EXPECT_EQ(str(g.notes()), str(w.notes()));
            EXPECT_EQ(g.isFavorited(), w.isFavorited());
            if (!f.everyField) continue;
            for (auto [gv, wv] : {std::pair{g.email(), w.email()},
                                  {g.account(), w.account()},
                                  {g.phone_prefix(), w.phone_prefix()},
                                  {g.phone(), w.phone()},
                                  {g.userName(), w.userName()},
                                  {g.firstName(), w.firstName()},
                                  {g.lastName(), w.lastName()},
                                  {g.fullName(), w.fullName()},
                                  {g.company(), w.company()},
                                  {g.applicantId(), w.applicantId()},
                                  {g.zipcode(), w.zipcode()}}) {
                EXPECT_EQ(str(gv), str(wv));
            }
            EXPECT_EQ(g.isSecured(), w.isSecured());
            if (!f.json) continue;
            EXPECT_EQ(str(g.tags()), str(w.tags()));
            EXPECT_EQ(str(g.title()), str(w.title()));
            ASSERT_TRUE(g.twoFactor());
            EXPECT_EQ(*g.twoFactor(), *w.twoFactor());
            ASSERT_TRUE(g.yubikey());
            EXPECT_EQ(g.yubikey()->keyHandle(), w.yubikey()->keyHandle());
        }
    }
    if (f.json) {
        ASSERT_TRUE(got.u2fRecords());
        ASSERT_EQ(got.u2fRecords()->size(), want.u2fRecords()->size());
        for (size_t k = 0; k < want.u2fRecords()->size(); ++k) {
            EXPECT_EQ(got.u2fRecords()->at(k)->applicationTag(),
                      want.u2fRecords()->at(k)->applicationTag());
            EXPECT_EQ(got.u2fRecords()->at(k)->privateKey().value_or(Bytes{}),
                      want.u2fRecords()->at(k)->privateKey().value_or(Bytes{}));
        }
    }
}

class ThroughPhoneTest : public CallsFixture {
  protected:
    std::shared_ptr<ImportExportService> files() {
        ImportExportService::Options o;
        o.phone = remoteImportExportPhone(service_);
        o.hasPairedDevice = [] { return true; };
        o.queue = DispatchQueue::create("import-export-test");
        o.openInChrome = [](const std::string&) { return false; };
        return ImportExportService::create(o);
    }
    TempDir dir_;
};

class RoundTripTest : public ThroughPhoneTest, public ::testing::WithParamInterface<Format> {};

TEST_P(RoundTripTest, ExportedVaultComesBackEqual) {
    const Format& f = GetParam();
    startService();
    auto vault = trickyVault();
    storage().setExportRecords(vault);
    auto service = files();
    const auto file = dir_ / f.file;

    EXPECT_EQ(importtest::runExport(*service, static_cast<int32_t>(f.destination), file),
              importtest::kExportSucceeded);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_EQ(importtest::runImport(*service, f.source, file), importtest::kImportSucceeded);

    auto r = received();
    ASSERT_EQ(r.exportRequests.size(), 1u);
    EXPECT_EQ(r.exportRequests[0].destination, 0);
    EXPECT_EQ(r.exportRequests[0].destinationDetail, std::string(f.file));
    ASSERT_EQ(r.importRequests.size(), 1u);
    EXPECT_EQ(r.importRequests[0].source, 0);
    EXPECT_EQ(r.importRequests[0].sourceName, std::string(f.sourceName));
    EXPECT_EQ(r.importRequests[0].sourceDetail, std::string(f.file));
    EXPECT_EQ(r.importRequests[0].recordCount, 6);
    ASSERT_EQ(r.imports.size(), 1u);
    EXPECT_EQ(r.imports[0].typeSerialize, 1);
    EXPECT_TRUE(r.badTokens.empty());
    ASSERT_TRUE(r.imports[0].records);
    expectSameVault(*vault, *r.imports[0].records, f);
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTripTest,
                         ::testing::Values(Format{"LumvaneJson", TBNExportDestination::LUMVANE_JSON,
                                                  TBNImportSource::LUMVANE_JSON,
                                                  "vault.lumvane.json", "Lumvane JSON", true, true},
                                           Format{"LumvaneCsv", TBNExportDestination::LUMVANE_CSV,
                                                  TBNImportSource::LUMVANE_CSV, "vault.lumvane.csv",
                                                  "Lumvane CSV", true, false},
                                           Format{"LastPassCsv", TBNExportDestination::LASTPASS_CSV,
                                                  TBNImportSource::LASTPASS_CSV,
                                                  "vault.lastpass.csv", "LastPass CSV", false,
                                                  false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The hand-overs themselves, straight on the service.
class HandOverTest : public ThroughPhoneTest {
  protected:
    struct Outcome {
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<std::string> events;
        std::shared_ptr<TBNSiteDataCollection> exported;
        void add(const std::string& e) {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(e);
            cv.notify_all();
        }
        std::vector<std::string> snapshot() {
            std::lock_guard<std::mutex> lock(mutex);
            return events;
        }
    };
    static std::string text(const std::shared_ptr<TBNError>& e) {
        return e ? str(e->debugMessage()) : "nil";
    }
    TBNThriftRemoteMobileSevice::ErrorBlock record(Outcome& o, const std::string& what) {
        return [&o, what](const std::shared_ptr<TBNError>& e) { o.add(what + ":" + text(e)); };
    }
    TBNThriftRemoteMobileSevice::ExportBlock exported(Outcome& o) {
        return [&o](auto sites, auto keys, const std::shared_ptr<TBNError>& e) {
            {
                std::lock_guard<std::mutex> lock(o.mutex);
                o.exported = std::make_shared<TBNSiteDataCollection>();
                if (sites) o.exported->setRecords(sites);
                if (keys) o.exported->setU2fRecords(keys);
            }
            o.add("completion:" + text(e));
        };
    }
    static TBNThriftRemoteMobileSevice::SiteList sitesWithLogins(std::vector<size_t> counts) {
        TBNThriftRemoteMobileSevice::SiteList sites;
        size_t n = 0;
        for (size_t count : counts) {
            auto site = std::make_shared<TBNSiteData>();
            site->setDomain("site" + std::to_string(sites.size()) + ".example");
            auto logins = std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>();
            for (size_t i = 0; i < count; ++i) logins->push_back(login(n++));
            site->setLoginData(logins);
            sites.push_back(site);
        }
        return sites;
    }
};

TEST_F(HandOverTest, ImportCountsLoginsAndSendsTheCompressedCollection) {
    startService();
    // A cancel made before the hand-over starts has no effect.
    service_->cancelImport();
    Outcome o;
    auto noLogin = sitesWithLogins({2, 0, 5});
    noLogin[2]->loginData()->at(1)->unsetLogin();
    service_->importRecords(noLogin, nullptr, "Lumvane CSV", "a.csv", record(o, "approved"),
                            record(o, "completion"));
    ASSERT_TRUE(eventually([&] { return o.snapshot().size() == 2; }));
    EXPECT_EQ(o.snapshot(), (std::vector<std::string>{"approved:nil", "completion:nil"}));
    auto r = received();
    EXPECT_EQ(r.importRequests[0].recordCount, 7);
    ASSERT_EQ(r.imports.size(), 1u);
    EXPECT_EQ(r.imports[0].typeSerialize, 1);
    const auto& got = *r.imports[0].records;
    ASSERT_EQ(got.records()->size(), 3u);
    EXPECT_EQ(got.records()->at(1)->loginData()->size(), 0u);
    // A login without a name travels with the empty text.
    EXPECT_EQ(got.records()->at(2)->loginData()->at(1)->login(), "");
    EXPECT_FALSE(got.auditsIsSet());
    EXPECT_TRUE(got.u2fRecords() && got.u2fRecords()->empty());
}

// The end of an import is where the process gives freed memory back to the system: by
// then nothing of the service may still hold the records, or a large import stays in
// memory for the rest of the run.
TEST_F(HandOverTest, NothingHoldsTheImportedRecordsWhenTheImportEnds) {
    startService();
    auto sites = sitesWithLogins({3, 2});
    std::weak_ptr<TBNSiteData> site = sites[0];
    std::weak_ptr<TBNLoginData> login = sites[1]->loginData()->at(0);
    Outcome o;
    bool releasedAtEnd = false;
    service_->importRecords(std::move(sites), nullptr, "Lumvane CSV", "a.csv",
                            record(o, "approved"), [&](const std::shared_ptr<TBNError>& e) {
                                releasedAtEnd = site.expired() && login.expired();
                                o.add("completion:" + text(e));
                            });
    ASSERT_TRUE(eventually([&] { return o.snapshot().size() == 2; }));
    EXPECT_EQ(o.snapshot(), (std::vector<std::string>{"approved:nil", "completion:nil"}));
    EXPECT_TRUE(releasedAtEnd);
}

TEST_F(HandOverTest, CancelAfterApprovalStopsBeforeTheRecordsLeave) {
    startService();
    Outcome o;
    service_->importRecords(
        sitesWithLogins({1}), nullptr, "Lumvane JSON", "a.json",
        [&](const std::shared_ptr<TBNError>& e) {
            o.add("approved:" + text(e));
            service_->cancelImport();
        },
        record(o, "completion"));
    ASSERT_TRUE(eventually([&] { return received().importRequests.size() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(o.snapshot(), std::vector<std::string>{"approved:nil"});
    EXPECT_TRUE(received().imports.empty());

    // The same for an export: no records are fetched.
    Outcome e;
    service_->exportRecordsTo(
        "Lumvane CSV", "b.csv",
        [&](const std::shared_ptr<TBNError>& err) {
            e.add("approved:" + text(err));
            service_->cancelExport();
        },
        exported(e));
    ASSERT_TRUE(eventually([&] { return received().exportRequests.size() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(e.snapshot(), std::vector<std::string>{"approved:nil"});
    EXPECT_EQ(received().exports, 0u);
}

TEST_F(HandOverTest, RefusalsAndFailuresEndWithAnAnswer) {
    startService();
    struct Case {
        const char* method;
        bool import;
        std::vector<std::string> events;
    };
    const std::vector<Case> cases = {
        {"requestForImportSiteData", true, {"approved:User refused"}},
        {"importSiteData", true, {"approved:nil", "completion:User refused"}},
        {"requestForExportSiteData", false, {"approved:User refused"}},
        {"exportSiteData", false, {"approved:nil", "completion:User refused"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        storage().setMethodError(c.method, makeError(2, 3, "User refused"));
        Outcome o;
        if (c.import) {
            service_->importRecords(sitesWithLogins({1}), nullptr, "n", "d", record(o, "approved"),
                                    record(o, "completion"));
        } else {
            service_->exportRecordsTo("n", "d", record(o, "approved"), exported(o));
        }
        ASSERT_TRUE(eventually([&] { return o.snapshot().size() == c.events.size(); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(o.snapshot(), c.events);
        storage().setMethodError(c.method, nullptr);
    }

    // No phone to be reached: the request is answered with the device error.
    client_->stop();
    Outcome offline;
    service_->importRecords(sitesWithLogins({1}), nullptr, "n", "d", record(offline, "approved"),
                            record(offline, "completion"));
    service_->exportRecordsTo("n", "d", record(offline, "approved"), exported(offline));
    ASSERT_TRUE(eventually([&] { return offline.snapshot().size() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(offline.snapshot(), (std::vector<std::string>{"approved:Device not available",
                                                            "approved:Device not available"}));
}

TEST_F(HandOverTest, ExportPayloadThatCannotBeReadWhollyIsAnError) {
    startService();
    auto whole = serializeRecords(*trickyVault(), true);
    struct Case {
        const char* name;
        int32_t type;
        Bytes bytes;
        std::string completion;
    };
    Bytes plain = serializeRecords(*trickyVault(), false).bytes;
    const std::vector<Case> cases = {
        {"compressed", 1, whole.bytes, "completion:nil"},
        {"plain", 0, plain, "completion:nil"},
        {"unknown type", 7, whole.bytes, "completion:Unsuported data format"},
        {"cut short", 0, Bytes(plain.begin(), plain.begin() + plain.size() / 2), ""},
        {"not bzip2", 1, plain, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        storage().setExportPayload(c.type, c.bytes);
        Outcome o;
        service_->exportRecordsTo("n", "d", record(o, "approved"), exported(o));
        ASSERT_TRUE(eventually([&] { return o.snapshot().size() == 2; }));
        auto events = o.snapshot();
        EXPECT_EQ(events[0], "approved:nil");
        if (!c.completion.empty()) {
            EXPECT_EQ(events[1], c.completion);
        } else {
            // Part of a vault is no export: an error, and no records to write.
            EXPECT_EQ(events[1].rfind("completion:exception: ", 0), 0u) << events[1];
        }
        std::lock_guard<std::mutex> lock(o.mutex);
        if (events[1] == "completion:nil") {
            ASSERT_TRUE(o.exported->records());
            EXPECT_EQ(o.exported->records()->size(), 2u);
        } else {
            EXPECT_FALSE(o.exported->records());
        }
    }
}

TEST_F(HandOverTest, ExportWithAnUnreadablePayloadWritesNoFile) {
    startService();
    storage().setExportPayload(9, Bytes{1, 2, 3});
    auto service = files();
    const auto file = dir_ / "out.lumvane.csv";
    EXPECT_EQ(importtest::runExport(*service, 1, file),
              (Events{"approved:nil", "completion:Unsuported data format"}));
    EXPECT_FALSE(fs::exists(file));
}

}  // namespace
}  // namespace lumvane::remotecalls
