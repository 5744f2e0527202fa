// Complete sample calls shared by the service tests.
#include <map>
#include <set>

#include "ServiceTestSupport.h"

namespace lumvane::testing {

namespace {
std::shared_ptr<std::set<std::string>> setOf(std::initializer_list<std::string> v) {
    return std::make_shared<std::set<std::string>>(v);
}

std::shared_ptr<TBNAccountsCache> sampleAccountsCache() {
    return std::make_shared<TBNAccountsCache>(77, setOf({"aa", "bb"}), setOf({"cc"}));
}

std::shared_ptr<TBNSitesCache> sampleSitesCache() {
    auto accounts = std::make_shared<std::map<std::string, std::shared_ptr<TBNAccountsCache>>>();
    (*accounts)["site"] = sampleAccountsCache();
    return std::make_shared<TBNSitesCache>(42, setOf({"s1", "s2"}), accounts, setOf({"p1"}));
}

std::shared_ptr<TBNDeviceInfo> sampleDevice() {
    return std::make_shared<TBNDeviceInfo>("phone", "model", "17.1", "2.0", "push");
}

}  // namespace

std::shared_ptr<TBNSiteData> sampleSite(const std::string& url) {
    auto login = std::make_shared<TBNLoginData>();
    login->setLogin("user");
    login->setPassword("cGFzcw==");
    auto logins = std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>();
    logins->push_back(login);
    return std::make_shared<TBNSiteData>(url, logins, setOf({url}), true, false, "Site", 5,
                                         "example.com");
}

// One complete sample call per mobile-storage method, in the service's order.
std::vector<Sample> mobileSamples() {
    auto info = [] { return sampleRequestInfo(); };
    auto rinfo = [] { return sampleResponseInfo(); };
    return {
        {"approveClient",
         std::make_shared<TBNApproveClientRequest>(info(), sampleAuth(), "My Mac", "host.local",
                                                   "OSX 12.04", "1.0.0.0", 0, std::nullopt,
                                                   "c2VjcmV0a2V5"),
         std::make_shared<TBNApproveClientResponse>(rinfo(), "device-1", sampleDevice())},
        {"updateInfo",
         std::make_shared<TBNUpdateInfoRequest>(
             info(), sampleAuth(), std::make_shared<TBNClientInfo>("n", "m", "o", "a")),
         std::make_shared<TBNUpdateInfoResponse>(rinfo(), sampleDevice())},
        {"getSitesCache", std::make_shared<TBNGetSitesCacheRequest>(info(), sampleAuth(), 0, false),
         std::make_shared<TBNGetSitesCacheResponse>(rinfo(), sampleSitesCache())},
        {"getAccountsCache",
         std::make_shared<TBNGetAccountsCacheRequest>(info(), sampleAuth(), 9,
                                                      "https://example.com", ""),
         std::make_shared<TBNGetAccountsCacheResponse>(rinfo(), "https://example.com",
                                                       "example.com", sampleAccountsCache())},
        {"getBackUp", std::make_shared<TBNGetBackUpRequest>(info(), sampleAuth(), 1600000000),
         std::make_shared<TBNGetBackUpResponse>(rinfo(), bytes(std::string("\0\1\2backup", 9)),
                                                1600000001)},
        {"setBackUpResult",
         std::make_shared<TBNSetBackUpResult>(info(), sampleAuth(), sampleError(), 1600000001),
         nullptr},
        {"setBackUp", std::make_shared<TBNSetBackUp>(info(), sampleAuth(), Bytes{}, nullptr),
         nullptr},
        {"sendPassword", std::make_shared<TBNSendPasswordRequest>(info(), sampleAuth(), "n3w-P@ss"),
         std::make_shared<TBNSendPasswordResponse>(rinfo())},
        {"loadDataForClipboard",
         std::make_shared<TBNLoadDataForClipboardRequest>(info(), sampleAuth()),
         std::make_shared<TBNLoadDataForClipboardResponse>(rinfo(), "user", "pw", "note", "acc",
                                                           "123456", -5)},
        {"getUrlToOpen", std::make_shared<TBNGetUrlToOpenRequest>(info(), sampleAuth()),
         std::make_shared<TBNGetUrlToOpenResponce>(rinfo(), "https://example.com/x")},
        {"requestForImportSiteData",
         std::make_shared<TBNRequestForImportSiteDataRequest>(info(), sampleAuth(), 0, "export.csv",
                                                              "Lumvane CSV", 12),
         std::make_shared<TBNRequestForImportSiteDataResponse>(rinfo(), "token-1")},
        {"importSiteData",
         std::make_shared<TBNImportSiteDataRequest>(info(), sampleAuth(), "token-1", 1,
                                                    bytes("BZh9...")),
         std::make_shared<TBNImportSiteDataResponse>(rinfo())},
        {"requestForExportSiteData",
         std::make_shared<TBNRequestForExportSiteDataRequest>(info(), sampleAuth(), 0, "out.json",
                                                              "Lumvane JSON"),
         std::make_shared<TBNRequestForExportSiteDataResponse>(rinfo(), "token-2")},
        {"exportSiteData", std::make_shared<TBNExportSiteDataRequest>(info(), sampleAuth(), "t"),
         std::make_shared<TBNExportSiteDataResponse>(rinfo(), 0, bytes("records"))},
        {"registerYubikey",
         std::make_shared<TBNRegisterYubikeyRequest>(info(), sampleAuth(), bytes("apdu-reg"),
                                                     std::nullopt, std::nullopt),
         std::make_shared<TBNRegisterYubikeyResponse>(rinfo(), bytes("resp-reg"))},
        {"authenticationYubikey",
         std::make_shared<TBNAuthenticationYubikeyRequest>(info(), sampleAuth(), bytes("apdu-auth"),
                                                           "https://site", "login"),
         std::make_shared<TBNAuthenticationYubikeyResponse>(rinfo(), bytes("resp-auth"))},
    };
}

}  // namespace lumvane::testing
