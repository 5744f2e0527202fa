// Our records, clients and processors against an independent implementation: the stock
// C++ generator's code for the same interface files (namespace lumvane_stock).
#include <gtest/gtest.h>
#include <thrift/transport/TVirtualTransport.h>

#include <cstdint>
#include <cstring>

#include "StorageService.h"
#include "WireHelpers.h"
#include "idl/protocols.h"
#include "protocols_types.h"
#include "structures_types.h"

namespace lumvane {
namespace {

using testing::decode;
using testing::encode;
using testing::Wire;
namespace stock = lumvane_stock;

template <class T>
using Shared = std::shared_ptr<T>;

Shared<TBNLoginData> richLogin(int site, int i) {
    auto l = std::make_shared<TBNLoginData>();
    l->setLogin("user" + std::to_string(site) + "." + std::to_string(i));
    l->setPassword("pw-" + std::to_string(site) + "-" + std::to_string(i));
    l->setPasswordProvided(i % 2 == 0);
    l->setPhone_prefix("+27");
    l->setEmail(std::nullopt);  // set, null: must not travel
    l->setUpdatePasswordTimeStamp(-1);
    l->setPasswordStrength(static_cast<int16_t>(i));
    l->setAccessReadTimeStamp(INT64_MAX);
    if (i == 0) {
        l->setTwoFactor(std::make_shared<TBNTwoFactorData>(
            1, Bytes{0, 1, 2, 255}, "SHA512", 8, 1LL << 40, 30.5));
        l->setYubikey(std::make_shared<TBNYubikeyData>());
    }
    return l;
}

Shared<TBNSiteData> richSite(int site, int logins) {
    auto s = std::make_shared<TBNSiteData>();
    s->setSiteUrl("https://site" + std::to_string(site) + ".example/login");
    s->setDomain("site" + std::to_string(site) + ".example");
    s->setLoginData(std::make_shared<std::vector<Shared<TBNLoginData>>>());
    for (int i = 0; i < logins; ++i) s->loginData()->push_back(richLogin(site, i));
    s->setFormUrls(std::make_shared<std::set<std::string>>(
        std::set<std::string>{"https://b.example/", "https://a.example/", ""}));
    s->setIsSecured(true);
    s->setDisplayName(std::nullopt);
    s->setUpdateTimeStamp(123456789012LL);
    return s;
}

Shared<TBNRequestInfo> info() { return std::make_shared<TBNRequestInfo>("r1", 1700000000, "c"); }
Shared<TBNAuthentication> auth() { return std::make_shared<TBNAuthentication>("id", "secret"); }
std::shared_ptr<TBNError> TBNErrors_paused() {
    return std::make_shared<TBNError>(4, 16, "Service paused");
}
Shared<TBNResponseInfo> responseInfo(bool failed) {
    return std::make_shared<TBNResponseInfo>("resp", 1700000001, "r1",
        failed ? TBNErrors_paused() : nullptr, "c");
}

class Interop : public ::testing::TestWithParam<Wire> {
protected:
    // ours -> bytes -> stock -> bytes -> ours: nothing is lost or changed on the way, and
    // our re-encoding decodes in the stock code to the same value again.
    template <class Ours, class Stock>
    Stock crossCheck(const Ours& ours) {
        const Wire w = GetParam();
        auto bytes = encode(ours, w);
        auto fromStock = decode<Stock>(bytes, w);
        auto direct = decode<Ours>(bytes, w);
        auto back = decode<Ours>(encode(fromStock, w), w);
        EXPECT_TRUE(back == direct) << "ours:  " << direct.description()
                                    << "\nstock: " << back.description();
        EXPECT_TRUE(decode<Stock>(encode(back, w), w) == fromStock);
        return fromStock;
    }
};
INSTANTIATE_TEST_SUITE_P(Wires, Interop, ::testing::Values(Wire::Compact, Wire::Binary),
    [](const auto& info) { return std::string(testing::wireName(info.param)); });

TEST_P(Interop, AllStorageMessagesSurviveTheStockCode) {
    auto login = richLogin(0, 0);
    crossCheck<TBNGetLoginDataRequest, stock::GetLoginDataRequest>(
        TBNGetLoginDataRequest(info(), auth(), "https://a.example/x", "a.example", true, "u"));
    auto getLogin = crossCheck<TBNGetLoginDataResponse, stock::GetLoginDataResponse>(
        TBNGetLoginDataResponse(responseInfo(false), login));
    EXPECT_EQ(getLogin.data.password, "pw-0-0");
    EXPECT_EQ(getLogin.data.twoFactor.secret, std::string("\0\1\2\xff", 4));
    EXPECT_EQ(getLogin.data.twoFactor.period, 30.5);
    EXPECT_FALSE(getLogin.data.__isset.email);
    EXPECT_TRUE(getLogin.data.__isset.yubikey);
    EXPECT_FALSE(getLogin.data.yubikey.__isset.keyHandle);

    crossCheck<TBNAddLoginDataRequest, stock::AddLoginDataRequest>(
        TBNAddLoginDataRequest(info(), auth(), std::nullopt, "a.example", login, false));
    auto added = crossCheck<TBNAddLoginDataResponse, stock::AddLoginDataResponse>(
        TBNAddLoginDataResponse(responseInfo(true), false));
    EXPECT_EQ(added.info.error.id, 16);
    EXPECT_TRUE(added.__isset.isUpdated);
    crossCheck<TBNDeleteLoginDataRequest, stock::DeleteLoginDataRequest>(
        TBNDeleteLoginDataRequest(info(), nullptr, "u", "d", "l"));
    crossCheck<TBNDeleteLoginDataResponse, stock::DeleteLoginDataResponse>(
        TBNDeleteLoginDataResponse(responseInfo(false)));
    crossCheck<TBNUpdateLoginDataRequest, stock::UpdateLoginDataRequest>(
        TBNUpdateLoginDataRequest(info(), auth(), "u", "d", login, "old"));
    crossCheck<TBNUpdateLoginDataResponse, stock::UpdateLoginDataResponse>(
        TBNUpdateLoginDataResponse(responseInfo(true)));
    crossCheck<TBNGetSiteDataRequest, stock::GetSiteDataRequest>(
        TBNGetSiteDataRequest(info(), auth(), "u", std::nullopt, true, false, true));
    auto site = crossCheck<TBNGetSiteDataResponse, stock::GetSiteDataResponse>(
        TBNGetSiteDataResponse(responseInfo(false), richSite(1, 3)));
    ASSERT_EQ(site.record.loginData.size(), 3u);
    EXPECT_EQ(site.record.loginData[2].login, "user1.2");
    EXPECT_EQ(site.record.formUrls.size(), 3u);
    EXPECT_FALSE(site.record.__isset.displayName);
    crossCheck<TBNGetSiteDataListRequest, stock::GetSiteDataListRequest>(
        TBNGetSiteDataListRequest(info(), auth(), true, true));
    auto list = crossCheck<TBNGetSiteDataListResponse, stock::GetSiteDataListResponse>(
        TBNGetSiteDataListResponse(responseInfo(false),
            std::make_shared<std::vector<Shared<TBNSiteData>>>(
                std::vector<Shared<TBNSiteData>>{richSite(0, 0), richSite(1, 2), richSite(2, 1)})));
    ASSERT_EQ(list.records.size(), 3u);
    EXPECT_EQ(list.records[1].loginData[1].password, "pw-1-1");
    crossCheck<TBNDeleteSiteDataRequest, stock::DeleteSiteDataRequest>(
        TBNDeleteSiteDataRequest(info(), auth(), "", ""));
    crossCheck<TBNDeleteSiteDataResponse, stock::DeleteSiteDataResponse>(
        TBNDeleteSiteDataResponse(nullptr));
    crossCheck<TBNGet2FACodeRequest, stock::Get2FACodeRequest>(
        TBNGet2FACodeRequest(info(), auth(), "u", "d", "l"));
    auto code = crossCheck<TBNGet2FACodeResponse, stock::Get2FACodeResponse>(
        TBNGet2FACodeResponse(responseInfo(false), "123456", "654321", std::nullopt, -30,
            INT64_MIN));
    EXPECT_EQ(code.period, -30);
    EXPECT_EQ(code.startTimestamp, INT64_MIN);
    EXPECT_FALSE(code.__isset.nextCode);
}

TEST_P(Interop, CachesWithMapsAndOtherVaultRecords) {
    auto accounts = std::make_shared<TBNAccountsCache>(5,
        std::make_shared<std::set<std::string>>(std::set<std::string>{"l1", "l2"}),
        std::make_shared<std::set<std::string>>());
    TBNSitesCache cache(9, std::make_shared<std::set<std::string>>(std::set<std::string>{"x"}),
        std::make_shared<std::map<std::string, Shared<TBNAccountsCache>>>(
            std::map<std::string, Shared<TBNAccountsCache>>{
                {"k1", accounts}, {"k2", std::make_shared<TBNAccountsCache>()}}),
        nullptr);
    auto fromStock = crossCheck<TBNSitesCache, stock::SitesCache>(cache);
    EXPECT_EQ(fromStock.accountsCache.at("k1").loginsCache.count("l2"), 1u);
    EXPECT_TRUE(fromStock.accountsCache.at("k1").__isset.passwordsCache);
    EXPECT_FALSE(fromStock.__isset.protectedUrlsCache);

    crossCheck<TBNHostData, stock::HostData>(TBNHostData(
        "s", std::nullopt, Bytes{1, 2}, Bytes{}, std::make_shared<TBNHostUrl>("m", "d"), false));
    TBNAuditData audit;
    audit.setOperation(-1);
    audit.setOperand5("o5");
    crossCheck<TBNAuditData, stock::AuditData>(audit);
    crossCheck<TBNU2FData, stock::U2FData>(TBNU2FData(Bytes{9}, Bytes{8, 7}));
}

TEST_P(Interop, StockEncodedRecordsReadIntoOurs) {
    stock::GetSiteDataListResponse theirs;
    theirs.__set_info(stock::ResponseInfo());
    theirs.info.__set_requestId("q");
    std::vector<stock::SiteData> sites(2);
    sites[0].__set_siteUrl("https://one.example");
    stock::LoginData l;
    l.__set_login("x");
    l.__set_password("y");
    l.__set_passwordStrength(-2);
    stock::TwoFactorData tf;
    tf.__set_secret(std::string("\0\x10", 2));
    tf.__set_period(15.25);
    l.__set_twoFactor(tf);
    sites[1].__set_loginData({l, l});
    sites[1].__set_formUrls({"a", "b"});
    sites[1].__set_isFavorited(false);
    theirs.__set_records(sites);

    auto ours = decode<TBNGetSiteDataListResponse>(encode(theirs, GetParam()), GetParam());
    ASSERT_NE(ours.records(), nullptr);
    ASSERT_EQ(ours.records()->size(), 2u);
    const auto& second = *(*ours.records())[1];
    EXPECT_FALSE((*ours.records())[0]->loginDataIsSet());
    EXPECT_TRUE(second.isFavoritedIsSet());
    EXPECT_FALSE(second.isFavorited());
    ASSERT_EQ(second.loginData()->size(), 2u);
    const auto& login = *(*second.loginData())[1];
    EXPECT_EQ(login.password(), "y");
    EXPECT_EQ(login.passwordStrength(), -2);
    EXPECT_EQ(login.twoFactor()->secret(), (Bytes{0, 0x10}));
    EXPECT_EQ(login.twoFactor()->period(), 15.25);
    EXPECT_FALSE(login.twoFactor()->typeIsSet());
    EXPECT_EQ(ours.info()->requestId(), "q");
    EXPECT_FALSE(ours.info()->errorIsSet());
    // ... and back into the stock code unchanged.
    EXPECT_TRUE(decode<stock::GetSiteDataListResponse>(encode(ours, GetParam()), GetParam()) ==
                theirs);
}

// --- whole calls: our client against the stock processor and the other way round -------

class LoopbackTransport
    : public apache::thrift::transport::TVirtualTransport<LoopbackTransport> {
public:
    explicit LoopbackTransport(std::function<std::string(const std::string&)> server)
        : server_(std::move(server)) {}
    void write(const uint8_t* buf, uint32_t len) {
        request_.append(reinterpret_cast<const char*>(buf), len);
    }
    void flush() override {
        reply_ = server_(request_);
        request_.clear();
        offset_ = 0;
    }
    uint32_t read(uint8_t* buf, uint32_t len) {
        uint32_t n = std::min<uint32_t>(len, static_cast<uint32_t>(reply_.size() - offset_));
        std::memcpy(buf, reply_.data() + offset_, n);
        offset_ += n;
        return n;
    }

private:
    std::function<std::string(const std::string&)> server_;
    std::string request_;
    std::string reply_;
    size_t offset_ = 0;
};

std::function<std::string(const std::string&)> serverFor(
    std::shared_ptr<apache::thrift::TProcessor> processor, Wire wire) {
    return [processor, wire](const std::string& call) {
        auto in = makeReadBuffer(reinterpret_cast<const uint8_t*>(call.data()), call.size());
        auto out = makeWriteBuffer();
        processor->process(testing::protocolOn(in, wire), testing::protocolOn(out, wire), nullptr);
        return out->getBufferAsString();
    };
}

std::shared_ptr<apache::thrift::protocol::TProtocol> clientProtocol(
    std::function<std::string(const std::string&)> server, Wire wire) {
    auto transport = std::make_shared<LoopbackTransport>(std::move(server));
    return wire == Wire::Compact ? makeCompactProtocol(transport) : makeBinaryProtocol(transport);
}

class StockHandler : public stock::StorageServiceIf {
public:
    void getLoginData(stock::GetLoginDataResponse& r, const stock::GetLoginDataRequest& q) override {
        r.__set_data(stock::LoginData());
        r.data.__set_login(q.login);
        r.data.__set_password("from-stock");
    }
    void addLoginData(stock::AddLoginDataResponse& r, const stock::AddLoginDataRequest& q) override {
        r.__set_isUpdated(q.isSecured);
    }
    void deleteLoginData(stock::DeleteLoginDataResponse& r,
        const stock::DeleteLoginDataRequest&) override {
        r.__set_info(stock::ResponseInfo());
    }
    void updateLoginData(stock::UpdateLoginDataResponse& r,
        const stock::UpdateLoginDataRequest& q) override {
        r.__set_info(stock::ResponseInfo());
        r.info.__set_requestId(q.currentLogin);
    }
    void getSiteData(stock::GetSiteDataResponse& r, const stock::GetSiteDataRequest& q) override {
        r.__set_record(stock::SiteData());
        r.record.__set_domain(q.domain);
    }
    void getSiteDataList(stock::GetSiteDataListResponse& r,
        const stock::GetSiteDataListRequest& q) override {
        r.__set_records(std::vector<stock::SiteData>(q.includeLoginData ? 3 : 1));
    }
    void deleteSiteData(stock::DeleteSiteDataResponse& r,
        const stock::DeleteSiteDataRequest& q) override {
        r.__set_info(stock::ResponseInfo());
        r.info.__set_contextName(q.info.contextName);
    }
    void get2FACode(stock::Get2FACodeResponse& r, const stock::Get2FACodeRequest& q) override {
        r.__set_code(q.login + "-code");
        r.__set_period(30);
    }
};

TEST_P(Interop, OurClientCallsTheStockProcessor) {
    auto processor = std::make_shared<stock::StorageServiceProcessor>(
        std::make_shared<StockHandler>());
    TBNStorageServiceClient client(clientProtocol(serverFor(processor, GetParam()), GetParam()));

    auto getLogin = std::make_shared<TBNGetLoginDataRequest>();
    getLogin->setLogin("alice");
    EXPECT_EQ(client.getLoginData(getLogin)->data()->password(), "from-stock");
    EXPECT_TRUE(
        client.addLoginData(std::make_shared<TBNAddLoginDataRequest>(info(), auth(), "u", "d",
                                richLogin(0, 0), true))
            ->isUpdated());
    auto update = std::make_shared<TBNUpdateLoginDataRequest>();
    update->setCurrentLogin("before");
    EXPECT_EQ(client.updateLoginData(update)->info()->requestId(), "before");
    auto site = std::make_shared<TBNGetSiteDataRequest>();
    site->setDomain("d.example");
    EXPECT_EQ(client.getSiteData(site)->record()->domain(), "d.example");
    auto list = std::make_shared<TBNGetSiteDataListRequest>();
    list->setIncludeLoginData(true);
    EXPECT_EQ(client.getSiteDataList(list)->records()->size(), 3u);
    auto del = std::make_shared<TBNDeleteSiteDataRequest>(info(), auth(), "u", "d");
    EXPECT_EQ(client.deleteSiteData(del)->info()->contextName(), "c");
    EXPECT_NE(client.deleteLoginData(std::make_shared<TBNDeleteLoginDataRequest>()), nullptr);
    auto code = std::make_shared<TBNGet2FACodeRequest>();
    code->setLogin("bob");
    auto codeResponse = client.get2FACode(code);
    EXPECT_EQ(codeResponse->code(), "bob-code");
    EXPECT_EQ(codeResponse->period(), 30);
}

class OurHandler : public TBNStorageService {
public:
    Shared<TBNGetLoginDataResponse> getLoginData(Shared<TBNGetLoginDataRequest> q) override {
        auto r = std::make_shared<TBNGetLoginDataResponse>();
        r->setData(richLogin(7, 0));
        r->data()->setLogin(q->login());
        return r;
    }
    Shared<TBNAddLoginDataResponse> addLoginData(Shared<TBNAddLoginDataRequest> q) override {
        return std::make_shared<TBNAddLoginDataResponse>(responseInfo(true), q->isSecured());
    }
    Shared<TBNDeleteLoginDataResponse> deleteLoginData(Shared<TBNDeleteLoginDataRequest>) override {
        return std::make_shared<TBNDeleteLoginDataResponse>(responseInfo(false));
    }
    Shared<TBNUpdateLoginDataResponse> updateLoginData(Shared<TBNUpdateLoginDataRequest>) override {
        return std::make_shared<TBNUpdateLoginDataResponse>(responseInfo(false));
    }
    Shared<TBNGetSiteDataResponse> getSiteData(Shared<TBNGetSiteDataRequest>) override {
        return std::make_shared<TBNGetSiteDataResponse>(responseInfo(false), richSite(3, 2));
    }
    Shared<TBNGetSiteDataListResponse> getSiteDataList(Shared<TBNGetSiteDataListRequest>) override {
        return std::make_shared<TBNGetSiteDataListResponse>(responseInfo(false),
            std::make_shared<std::vector<Shared<TBNSiteData>>>(
                std::vector<Shared<TBNSiteData>>{richSite(0, 1), richSite(1, 1)}));
    }
    Shared<TBNDeleteSiteDataResponse> deleteSiteData(Shared<TBNDeleteSiteDataRequest>) override {
        return std::make_shared<TBNDeleteSiteDataResponse>(responseInfo(false));
    }
    Shared<TBNGet2FACodeResponse> get2FACode(Shared<TBNGet2FACodeRequest>) override {
        return nullptr;  // the stock client must report a missing result
    }
};

TEST_P(Interop, StockClientCallsOurProcessor) {
    auto processor = std::make_shared<TBNStorageServiceProcessor>(std::make_shared<OurHandler>());
    stock::StorageServiceClient client(clientProtocol(serverFor(processor, GetParam()), GetParam()));

    stock::GetLoginDataRequest getLogin;
    getLogin.__set_login("carol");
    stock::GetLoginDataResponse login;
    client.getLoginData(login, getLogin);
    EXPECT_EQ(login.data.login, "carol");
    EXPECT_EQ(login.data.twoFactor.algorithm, "SHA512");

    stock::AddLoginDataRequest add;
    add.__set_isSecured(true);
    stock::AddLoginDataResponse added;
    client.addLoginData(added, add);
    EXPECT_TRUE(added.isUpdated);
    EXPECT_EQ(added.info.error.debugMessage, "Service paused");

    stock::GetSiteDataListResponse list;
    client.getSiteDataList(list, stock::GetSiteDataListRequest());
    ASSERT_EQ(list.records.size(), 2u);
    EXPECT_EQ(list.records[1].loginData[0].password, "pw-1-0");

    stock::GetSiteDataResponse site;
    client.getSiteData(site, stock::GetSiteDataRequest());
    EXPECT_EQ(site.record.domain, "site3.example");

    stock::Get2FACodeResponse code;
    try {
        client.get2FACode(code, stock::Get2FACodeRequest());
        ADD_FAILURE() << "missing result not reported";
    } catch (const apache::thrift::TApplicationException& x) {
        EXPECT_EQ(x.getType(), apache::thrift::TApplicationException::MISSING_RESULT);
    }
}

}  // namespace
}  // namespace lumvane
