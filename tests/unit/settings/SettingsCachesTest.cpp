// Site and account caches, extension clients and account choices.
#include "SettingsTestSupport.h"
#include "crypto/TBNCryptHash.h"

namespace lumvane::settingstest {
namespace {

using Set = std::set<std::string>;

std::string digest(const std::string& text) { return TBNCryptHash::strSha256FromString(text); }

class CachesTest : public SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        store_ = startStore();
        store_->addPairedDevice(phone("H", "D"));
        store_->waitForPendingSaves();
    }
    bool hasLogin(const std::string& user, const std::string& site) {
        return store_->isCachedUserName(user, site, std::string("H"));
    }
    std::shared_ptr<TBNSettings> store_;
};

TEST_F(CachesTest, ALoginHandedOutIsFoundUnderItsSiteDomainUntilThePhoneUpdates) {
    store_->addToCacheUserName(std::string("alice"), std::string("pw"),
                               std::string("https://login.example.com/signin?x=1"),
                               std::string("H"));
    EXPECT_TRUE(hasLogin("alice", "example.com"));
    EXPECT_TRUE(store_->isCachedUserName(std::string("alice"), std::string("pw"),
                                         std::string("example.com"), std::string("H")));
    EXPECT_FALSE(store_->isCachedUserName(std::string("alice"), std::string("other"),
                                          std::string("example.com"), std::string("H")));
    EXPECT_FALSE(hasLogin("alice", "https://login.example.com/signin?x=1"));
    EXPECT_FALSE(hasLogin("bob", "example.com"));

    // The phone's answer supersedes what the desktop added.
    auto accounts = std::make_shared<TBNAccountsCache>(1, std::make_shared<Set>(Set{digest("bob")}),
                                                       std::make_shared<Set>());
    auto sites = std::make_shared<TBNSitesCache>();
    sites->setUpdateTimeStamp(7);
    sites->setUrlsCache(std::make_shared<Set>(Set{digest("example.com")}));
    sites->setAccountsCache(std::make_shared<std::map<std::string, std::shared_ptr<TBNAccountsCache>>>(
        std::map<std::string, std::shared_ptr<TBNAccountsCache>>{{digest("example.com"), accounts}}));
    store_->updateSitesCache(sites, std::string("H"));
    EXPECT_FALSE(hasLogin("alice", "example.com"));
    EXPECT_TRUE(hasLogin("bob", "example.com"));
}

TEST_F(CachesTest, ProtectedSitesSetTheFlag) {
    auto sites = std::make_shared<TBNSitesCache>();
    sites->setUrlsCache(std::make_shared<Set>(Set{digest("both.com"), digest("open.com")}));
    sites->setProtectedUrlsCache(std::make_shared<Set>(Set{digest("both.com"), digest("safe.com")}));
    store_->updateSitesCache(sites, std::string("H"));
    struct Case {
        const char* site;
        bool found, isProtected;
    };
    for (auto c : {Case{"safe.com", true, true}, Case{"both.com", true, false},
                   Case{"open.com", true, false}, Case{"none.com", false, false}}) {
        bool flag = !c.isProtected;
        EXPECT_EQ(store_->cachedSiteUrl(std::string(c.site), std::string("H"), &flag), c.found)
            << c.site;
        EXPECT_EQ(flag, c.isProtected) << c.site;
    }
    bool untouched = true;
    EXPECT_FALSE(store_->cachedSiteUrl(std::string("safe.com"), std::nullopt, &untouched));
    EXPECT_TRUE(untouched);
}

TEST_F(CachesTest, UpdatesForPhonesThatAreNotPairedOrHaveNoCacheStoreNothing) {
    auto observer = std::make_shared<RecordingDelegate>();
    store_->addDelegate(observer);
    store_->addOnlineDevice(phone("HO", "DO"));
    auto sites = std::make_shared<TBNSitesCache>();
    sites->setUrlsCache(std::make_shared<Set>(Set{digest("a.com")}));
    store_->updateSitesCache(sites, std::string("HO"));
    ASSERT_TRUE(observer->waitForCount(2));
    // Notifications may arrive in any order.
    const auto masks = observer->masks();
    EXPECT_EQ(std::set<TBNSettingsComponents>(masks.begin(), masks.end()),
              (std::set<TBNSettingsComponents>{TBNSettingsComponentOnlineDevices,
                                                TBNSettingsComponentCaches}));
    EXPECT_FALSE(store_->cachedSiteUrl(std::string("a.com"), std::string("HO"), nullptr));
    EXPECT_EQ(store_->onlineDeviceByHardwareId(std::string("HO"))->sitesCache(), nullptr);

    // The paired phone H has no sites cache yet.
    auto accounts = std::make_shared<TBNAccountsCache>(1, std::make_shared<Set>(Set{digest("u")}),
                                                       std::make_shared<Set>());
    store_->updateAccountsCache(accounts, std::string("https://a.com"), std::string("H"));
    EXPECT_FALSE(hasLogin("u", "a.com"));
    EXPECT_EQ(store_->firstPairedDevice()->sitesCache(), nullptr);

    store_->updateSitesCache(std::make_shared<TBNSitesCache>(), std::string("H"));
    store_->updateAccountsCache(accounts, std::string("https://www.a.com/x"), std::string("H"));
    EXPECT_TRUE(hasLogin("u", "a.com"));
}

TEST_F(CachesTest, ExtensionClients) {
    // Approval works on a file whose map does not exist yet.
    store_->updateSettings([](TBNSettings& s) -> TBNSettingsComponents {
        s.osxSettings().unsetApprovedExtIdMap();
        return 0;
    });
    store_->approveExtForClientId(std::string("ext"), std::string(""));
    EXPECT_FALSE(store_->isApprovedExtensionClient(std::string("ext")));
    store_->approveExtForClientId(std::string("ext"), std::string("first"));
    store_->approveExtForClientId(std::string("ext"), std::string("second"));
    EXPECT_TRUE(store_->isApprovedExtensionClient(std::string("ext"), std::string("second")));
    EXPECT_FALSE(store_->isApprovedExtensionClient(std::string("ext"), std::string("first")));
    EXPECT_FALSE(store_->isApprovedExtensionClient(std::string("ext"), std::string("")));
    EXPECT_FALSE(store_->isApprovedExtensionClient(std::string(""), std::string("second")));
    EXPECT_EQ(store_->clientSecretByClientId(std::string("ext")), "second");
    EXPECT_EQ(store_->clientSecretByClientId(std::string("other")), std::nullopt);
}

// A client that pings during its registration is approved again and again with the same
// secret: nothing changes, so nothing is written; a new secret is, and a secret handed over
// right after another is not mistaken for the one stored before.
TEST_F(CachesTest, ApprovingTheSameSecretAgainChangesNothing) {
    store_->approveExtForClientId(std::string("ext"), std::string("first"));
    store_->waitForPendingSaves();
    const uint64_t writes = store_->fileWrites();
    for (int i = 0; i < 5; ++i) store_->approveExtForClientId(std::string("ext"), std::string("first"));
    store_->waitForPendingSaves();
    EXPECT_EQ(store_->fileWrites(), writes);

    store_->approveExtForClientId(std::string("ext"), std::string("second"));
    store_->approveExtForClientId(std::string("ext"), std::string("first"));
    store_->waitForPendingSaves();
    EXPECT_EQ(store_->clientSecretByClientId(std::string("ext")), "first");
    EXPECT_GT(store_->fileWrites(), writes);
}

TEST_F(CachesTest, AccountChoices) {
    store_->setChooseAccouts(std::vector<std::string>{}, std::string("k"));
    EXPECT_EQ(store_->chooseAccountsListByKey(std::string("k")), std::nullopt);
    store_->setChooseAccouts(std::vector<std::string>{"a1", "a2"}, std::string("k"));
    EXPECT_EQ(store_->chooseAccountsListByKey(std::string("k")),
              (std::vector<std::string>{"a1", "a2"}));
    EXPECT_EQ(store_->chooseAccountsListByKey(std::string("")), std::nullopt);

    EXPECT_FALSE(store_->existChooseAccoutForSiteUrlHash(std::string("s")));
    store_->setChooseAccoutHash(std::string("acc"), std::string("s"));
    EXPECT_TRUE(store_->existChooseAccoutForSiteUrlHash(std::string("s")));
    EXPECT_TRUE(store_->canChooseAccoutHash(std::string("any other"), std::string("s")));
    EXPECT_FALSE(store_->canChooseAccoutHash(std::string(""), std::string("s")));
}

}  // namespace
}  // namespace lumvane::settingstest
