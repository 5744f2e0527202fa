// The contract every generated record follows: the three field states, declaration-order
// writes, tolerant reads, equality, hash and the text form.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "WireHelpers.h"
#include "idl/shapes.h"
#include "idl/structures.h"

namespace lumvane {
namespace {

using apache::thrift::protocol::TProtocol;
using apache::thrift::protocol::TType;
using namespace apache::thrift::protocol;
using testing::bytesOf;
using testing::decode;
using testing::decodeInto;
using testing::encode;
using testing::fieldIds;
using testing::Wire;

// Writes a hand-made struct with the given protocol calls, to feed odd streams to read().
std::string handMade(Wire wire, const std::function<void(TProtocol&)>& body) {
    auto buffer = makeWriteBuffer();
    auto protocol = testing::protocolOn(buffer, wire);
    protocol->writeStructBegin("X");
    body(*protocol);
    protocol->writeFieldStop();
    protocol->writeStructEnd();
    return buffer->getBufferAsString();
}

class RecordWires : public ::testing::TestWithParam<Wire> {};
INSTANTIATE_TEST_SUITE_P(Wires, RecordWires, ::testing::Values(Wire::Compact, Wire::Binary),
    [](const auto& info) { return std::string(testing::wireName(info.param)); });

TEST(RecordStates, NullFromAllFieldsConstructorIsSetButNotWritten) {
    TBNHostUrl withNull(std::nullopt, "https://d.example");
    TBNHostUrl neverSet;
    neverSet.setDesktopUrl("https://d.example");

    EXPECT_TRUE(withNull.mobileUrlIsSet());
    EXPECT_FALSE(withNull.mobileUrl().has_value());
    EXPECT_EQ(fieldIds(encode(withNull, Wire::Compact), Wire::Compact), std::vector<int16_t>{2});
    EXPECT_EQ(withNull.description(),
        "TBNHostUrl(mobileUrl:\"(null)\",desktopUrl:\"https://d.example\")");
    EXPECT_FALSE(withNull == neverSet);
    // Both write the same bytes all the same.
    EXPECT_EQ(encode(withNull, Wire::Compact), encode(neverSet, Wire::Compact));

    // A record or container set to null: set, not written, printed as (null).
    TBNLoginData login;
    login.setTwoFactor(nullptr);
    EXPECT_TRUE(login.twoFactorIsSet());
    EXPECT_TRUE(fieldIds(encode(login, Wire::Binary), Wire::Binary).empty());
    EXPECT_NE(login.description().find(",twoFactor:(null),"), std::string::npos);
}

TEST(RecordStates, ScalarsAreWrittenWhenSetWhateverTheirValue) {
    TBNSiteData site;
    site.setIsFavorited(false);
    site.setUpdateTimeStamp(0);
    EXPECT_EQ(fieldIds(encode(site, Wire::Compact), Wire::Compact), (std::vector<int16_t>{4, 7}));
    site.unsetIsFavorited();
    EXPECT_EQ(fieldIds(encode(site, Wire::Compact), Wire::Compact), (std::vector<int16_t>{7}));
    EXPECT_TRUE(fieldIds(encode(TBNSiteData{}, Wire::Compact), Wire::Compact).empty());
}

TEST(RecordStates, UnsetScalarKeepsItsValueButPlaysNoPartInEqualityOrHash) {
    TBNSiteData a;
    a.setUpdateTimeStamp(42);
    a.unsetUpdateTimeStamp();
    TBNSiteData b;
    b.setUpdateTimeStamp(7);
    b.unsetUpdateTimeStamp();

    EXPECT_EQ(a.updateTimeStamp(), 42);
    EXPECT_FALSE(a.updateTimeStampIsSet());
    EXPECT_TRUE(fieldIds(encode(a, Wire::Binary), Wire::Binary).empty());
    EXPECT_TRUE(a == b);
    EXPECT_EQ(a.hash(), b.hash());
    // The text form shows the stored value of every field, set or not.
    EXPECT_NE(a.description().find("updateTimeStamp:42"), std::string::npos);
}

TEST(RecordStates, UnsetReferenceDropsTheValue) {
    TBNLoginData login;
    login.setPassword("pw");
    login.setYubikey(std::make_shared<TBNYubikeyData>("kh"));
    login.unsetPassword();
    login.unsetYubikey();
    EXPECT_FALSE(login.password().has_value());
    EXPECT_EQ(login.yubikey(), nullptr);
    EXPECT_FALSE(login.passwordIsSet());
}

TEST(RecordStates, ReferencesAreSharedNotCopied) {
    auto logins = std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>();
    auto urls = std::make_shared<std::set<std::string>>();
    TBNSiteData site;
    site.setLoginData(logins);
    site.setFormUrls(urls);

    // Callers add to a record's containers in place.
    site.loginData()->push_back(std::make_shared<TBNLoginData>());
    site.formUrls()->insert("https://a.example/login");
    EXPECT_EQ(site.loginData().get(), logins.get());
    EXPECT_EQ(logins->size(), 1u);
    EXPECT_EQ(urls->count("https://a.example/login"), 1u);
    EXPECT_EQ(fieldIds(encode(site, Wire::Compact), Wire::Compact), (std::vector<int16_t>{2, 3}));
}

TEST_P(RecordWires, WrongTypeForADeclaredIdIsSkippedAndLaterFieldsRead) {
    auto bytes = handMade(GetParam(), [](TProtocol& p) {
        p.writeFieldBegin("updatePasswordTimeStamp", T_STRING, 7);  // declared i64
        p.writeString("not a number");
        p.writeFieldEnd();
        p.writeFieldBegin("userName", T_STRING, 8);
        p.writeString("alice");
        p.writeFieldEnd();
    });
    auto login = decode<TBNLoginData>(bytes, GetParam());
    EXPECT_FALSE(login.updatePasswordTimeStampIsSet());
    EXPECT_EQ(login.userName(), "alice");
}

TEST_P(RecordWires, UndeclaredIdsAreSkippedWholeWithNestedValues) {
    auto bytes = handMade(GetParam(), [](TProtocol& p) {
        p.writeFieldBegin("unknownStruct", T_STRUCT, 99);
        p.writeStructBegin("Nested");
        p.writeFieldBegin("inner", T_LIST, 1);
        p.writeListBegin(T_STRING, 2);
        p.writeString("a");
        p.writeString("b");
        p.writeListEnd();
        p.writeFieldEnd();
        p.writeFieldStop();
        p.writeStructEnd();
        p.writeFieldEnd();
        p.writeFieldBegin("unknownMap", T_MAP, 40);
        p.writeMapBegin(T_STRING, T_I64, 1);
        p.writeString("k");
        p.writeI64(5);
        p.writeMapEnd();
        p.writeFieldEnd();
        p.writeFieldBegin("login", T_STRING, 1);
        p.writeString("bob");
        p.writeFieldEnd();
    });
    auto login = decode<TBNLoginData>(bytes, GetParam());
    EXPECT_EQ(login.login(), "bob");
    TBNLoginData expected;
    expected.setLogin("bob");
    EXPECT_TRUE(login == expected);
}

TEST_P(RecordWires, LaterDuplicateIdWins) {
    auto bytes = handMade(GetParam(), [](TProtocol& p) {
        for (const char* v : {"first", "second"}) {
            p.writeFieldBegin("login", T_STRING, 1);
            p.writeString(v);
            p.writeFieldEnd();
        }
    });
    EXPECT_EQ(decode<TBNLoginData>(bytes, GetParam()).login(), "second");
}

TEST_P(RecordWires, ReadKeepsAbsentFieldsAndReplacesNestedRecords) {
    TBNLoginData target;
    target.setLogin("kept");
    target.setTwoFactor(std::make_shared<TBNTwoFactorData>(
        1, Bytes{1, 2}, "SHA256", 8, 3, 30.0));

    TBNLoginData incoming;
    auto twoFactor = std::make_shared<TBNTwoFactorData>();
    twoFactor->setType(0);
    incoming.setTwoFactor(twoFactor);
    decodeInto(target, encode(incoming, GetParam()), GetParam());

    EXPECT_EQ(target.login(), "kept");
    ASSERT_NE(target.twoFactor(), nullptr);
    EXPECT_TRUE(*target.twoFactor() == *twoFactor);  // not merged: algorithm etc. are gone
    EXPECT_FALSE(target.twoFactor()->algorithmIsSet());
}

TEST_P(RecordWires, ListElementsAreReadAsTheDeclaredTypeWhateverTheHeaderSays) {
    auto bytes = handMade(GetParam(), [](TProtocol& p) {
        p.writeFieldBegin("loginData", T_LIST, 2);
        p.writeListBegin(T_I32, 2);  // claims numbers, carries records
        for (const char* name : {"one", "two"}) {
            TBNLoginData login;
            login.setLogin(name);
            login.write(&p);
        }
        p.writeListEnd();
        p.writeFieldEnd();
    });
    auto site = decode<TBNSiteData>(bytes, GetParam());
    ASSERT_NE(site.loginData(), nullptr);
    ASSERT_EQ(site.loginData()->size(), 2u);
    EXPECT_EQ((*site.loginData())[0]->login(), "one");
    EXPECT_EQ((*site.loginData())[1]->login(), "two");
}

TEST_P(RecordWires, EmptyContainersStaySetAndEmpty) {
    TBNSitesCache cache;
    cache.setUrlsCache(std::make_shared<std::set<std::string>>());
    auto bytes = encode(cache, GetParam());
    EXPECT_EQ(fieldIds(bytes, GetParam()), std::vector<int16_t>{2});
    auto back = decode<TBNSitesCache>(bytes, GetParam());
    EXPECT_TRUE(back.urlsCacheIsSet());
    ASSERT_NE(back.urlsCache(), nullptr);
    EXPECT_TRUE(back.urlsCache()->empty());
    EXPECT_TRUE(back == cache);
}

TEST_P(RecordWires, DuplicateMapKeysAndSetElementsCollapse) {
    auto bytes = handMade(GetParam(), [](TProtocol& p) {
        p.writeFieldBegin("loginsCache", T_SET, 2);
        p.writeSetBegin(T_STRING, 3);
        p.writeString("aa");
        p.writeString("aa");
        p.writeString("bb");
        p.writeSetEnd();
        p.writeFieldEnd();
    });
    auto accounts = decode<TBNAccountsCache>(bytes, GetParam());
    EXPECT_EQ(*accounts.loginsCache(), (std::set<std::string>{"aa", "bb"}));

    auto mapBytes = handMade(GetParam(), [](TProtocol& p) {
        p.writeFieldBegin("accountsCache", T_MAP, 3);
        p.writeMapBegin(T_STRING, T_STRUCT, 2);
        for (int64_t stamp : {1, 2}) {
            p.writeString("site");
            TBNAccountsCache value;
            value.setUpdateTimeStamp(stamp);
            value.write(&p);
        }
        p.writeMapEnd();
        p.writeFieldEnd();
    });
    auto sites = decode<TBNSitesCache>(mapBytes, GetParam());
    ASSERT_EQ(sites.accountsCache()->size(), 1u);
    EXPECT_EQ(sites.accountsCache()->at("site")->updateTimeStamp(), 2);
}

TEST(RecordEquality, NaNIsEqualOnlyToTheSameObject) {
    TBNTwoFactorData a;
    a.setPeriod(std::numeric_limits<double>::quiet_NaN());
    TBNTwoFactorData copy = a;
    EXPECT_TRUE(a == a);
    EXPECT_FALSE(a == copy);
}

TEST(RecordEquality, ComparesByValueThroughReferencesAndDerivedTypes) {
    auto make = [] {
        auto site = std::make_shared<TBNSiteData>();
        site->setLoginData(std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>());
        auto login = std::make_shared<TBNLoginData>();
        login->setLogin("u");
        site->loginData()->push_back(login);
        site->setFormUrls(std::make_shared<std::set<std::string>>(
            std::set<std::string>{"b", "a"}));
        return site;
    };
    auto a = make();
    auto b = make();
    EXPECT_TRUE(*a == *b);
    EXPECT_EQ(a->hash(), b->hash());
    (*b->loginData())[0]->setPassword("x");
    EXPECT_FALSE(*a == *b);

    struct Derived : TBNSiteData {};
    Derived d;
    EXPECT_TRUE(TBNSiteData{}.isEqual(d));
    EXPECT_FALSE(TBNSiteData{}.isEqual(TBNHostUrl{}));
}

TEST(RecordText, PrintsEveryFieldWithSecretsInClear) {
    EXPECT_EQ(TBNYubikeyData("abc").description(), "TBNYubikeyData(keyHandle:\"abc\")");

    TBNLoginData login;
    login.setLogin("alice");
    login.setPassword("s3cret");
    login.setPasswordStrength(3);
    login.setTwoFactor(std::make_shared<TBNTwoFactorData>(1, std::nullopt, "SHA1", 6, 1, 30.5));
    auto text = login.description();
    EXPECT_EQ(text.rfind("TBNLoginData(login:\"alice\",passwordProvided:0,password:\"s3cret\","
                         "email:\"(null)\",phone_prefix:\"(null)\"",
                  0),
        0u);
    EXPECT_NE(text.find(",passwordStrength:3,"), std::string::npos);
    EXPECT_NE(text.find(",twoFactor:TBNTwoFactorData(type:1,secret:\"(null)\",algorithm:\"SHA1\","
                        "digits:6,counter:1,period:30.500000),yubikey:(null))"),
        std::string::npos);

    EXPECT_EQ(TBNEmpty().description(), "TBNEmpty()");
}

TEST(RecordText, SummaryCarriesNoTextOfAnyField) {
    TBNLoginData login;
    login.setLogin("alice@example.com");
    login.setPassword("s3cret-password");
    login.setPasswordStrength(2);
    login.setTwoFactor(std::make_shared<TBNTwoFactorData>(1, Bytes{9, 9, 9}, "SHA1", 6, 1, 30));
    auto summary = login.summary();
    EXPECT_EQ(summary.find("s3cret"), std::string::npos);
    EXPECT_EQ(summary.find("alice"), std::string::npos);
    EXPECT_NE(summary.find("password:<15 chars>"), std::string::npos);
    EXPECT_NE(summary.find("secret:<3 bytes>"), std::string::npos);
    EXPECT_NE(summary.find("passwordStrength:2"), std::string::npos);
}

TEST(RecordShapes, RecordWithoutFieldsWritesOnlyTheStop) {
    EXPECT_EQ(encode(TBNEmpty{}, Wire::Compact), bytesOf({0x00}));
    EXPECT_EQ(encode(TBNEmpty{}, Wire::Binary), bytesOf({0x00}));
}

TEST_P(RecordWires, OtherContainerShapesRoundTrip) {
    TBNShapes shapes;
    shapes.setLists(std::make_shared<std::map<std::string, std::vector<std::string>>>(
        std::map<std::string, std::vector<std::string>>{{"k", {"a", "b"}}, {"e", {}}}));
    shapes.setNumbers(std::make_shared<std::set<int32_t>>(std::set<int32_t>{-1, 0, 7}));
    shapes.setBlobs(std::make_shared<std::vector<Bytes>>(std::vector<Bytes>{{}, {0, 255}}));
    shapes.setNames(std::make_shared<std::map<std::string, std::string>>(
        std::map<std::string, std::string>{{"a", ""}}));
    shapes.setKeys(std::make_shared<std::vector<std::shared_ptr<TBNU2FData>>>(
        std::vector<std::shared_ptr<TBNU2FData>>{
            std::make_shared<TBNU2FData>(Bytes{1}, Bytes{})}));
    shapes.setRatio(-0.25);
    shapes.setSmall(-3);
    auto back = decode<TBNShapes>(encode(shapes, GetParam()), GetParam());
    EXPECT_TRUE(back == shapes) << back.description();
    EXPECT_FALSE(back.countIsSet());
    EXPECT_EQ(TBNshapesConstants::GREETING(), "hello");
    EXPECT_EQ(TBNshapesConstants::ANSWER(), 42);
}

// --- the vault records' own cases -------------------------------------------------------

TEST_P(RecordWires, HostDataWritesIdsInDeclarationOrderAndSkipsUnusedIds) {
    TBNHostData host("s", "d", Bytes{1}, Bytes{2}, std::make_shared<TBNHostUrl>("m", "u"), true);
    auto bytes = encode(host, GetParam());
    EXPECT_EQ(fieldIds(bytes, GetParam()), (std::vector<int16_t>{1, 2, 3, 4, 10, 11}));
    EXPECT_TRUE(decode<TBNHostData>(bytes, GetParam()) == host);

    auto odd = handMade(GetParam(), [](TProtocol& p) {
        p.writeFieldBegin("gap", T_I64, 7);
        p.writeI64(1);
        p.writeFieldEnd();
        p.writeFieldBegin("icon", T_LIST, 3);  // icon must be binary
        p.writeListBegin(T_BYTE, 1);
        p.writeByte(1);
        p.writeListEnd();
        p.writeFieldEnd();
        p.writeFieldBegin("suportAutoLogin", T_BOOL, 11);
        p.writeBool(true);
        p.writeFieldEnd();
    });
    TBNHostData target;
    target.setIcon(Bytes{7, 7});
    decodeInto(target, odd, GetParam());
    EXPECT_EQ(target.icon(), (Bytes{7, 7}));
    EXPECT_TRUE(target.suportAutoLogin());
}

TEST_P(RecordWires, SitesCacheWithNullContainersWritesOnlyTheStamp) {
    TBNSitesCache cache(0, nullptr, nullptr, nullptr);
    EXPECT_TRUE(cache.urlsCacheIsSet() && cache.accountsCacheIsSet() &&
                cache.protectedUrlsCacheIsSet());
    auto bytes = encode(cache, GetParam());
    EXPECT_EQ(fieldIds(bytes, GetParam()), std::vector<int16_t>{1});
    auto back = decode<TBNSitesCache>(bytes, GetParam());
    EXPECT_TRUE(back.updateTimeStampIsSet());
    EXPECT_EQ(back.updateTimeStamp(), 0);
    EXPECT_FALSE(back.urlsCacheIsSet());
    EXPECT_FALSE(back == cache);
}

TEST(VaultRecords, AuditOperationAloneIsOneI32Field) {
    TBNAuditData audit;
    audit.setOperation(-1);
    // Short field header: delta 2, type i32 (5); zig-zag of -1 is 1; stop.
    EXPECT_EQ(encode(audit, Wire::Compact), bytesOf({0x25, 0x01, 0x00}));
}

TEST_P(RecordWires, EmptyPrivateKeyIsWrittenAndReadBackSet) {
    TBNU2FData key;
    key.setPrivateKey(Bytes{});
    auto back = decode<TBNU2FData>(encode(key, GetParam()), GetParam());
    EXPECT_TRUE(back.privateKeyIsSet());
    EXPECT_EQ(back.privateKey(), Bytes{});
}

TEST_P(RecordWires, TwoFactorPeriodIsADouble) {
    TBNTwoFactorData data;
    data.setType(1);
    data.setPeriod(30.5);
    auto back = decode<TBNTwoFactorData>(encode(data, GetParam()), GetParam());
    EXPECT_EQ(back.period(), 30.5);

    auto asInteger = handMade(GetParam(), [](TProtocol& p) {
        p.writeFieldBegin("period", T_I64, 30);
        p.writeI64(30);
        p.writeFieldEnd();
    });
    EXPECT_FALSE(decode<TBNTwoFactorData>(asInteger, GetParam()).periodIsSet());
}

TEST(VaultRecords, LoginWithEmptyYubikeyAndOnlyLoginAndPassword) {
    TBNLoginData login;
    login.setLogin("a");
    login.setPassword("p");
    EXPECT_EQ(fieldIds(encode(login, Wire::Compact), Wire::Compact), (std::vector<int16_t>{1, 3}));
    login.setYubikey(std::make_shared<TBNYubikeyData>());
    auto bytes = encode(login, Wire::Compact);
    EXPECT_EQ(fieldIds(bytes, Wire::Compact), (std::vector<int16_t>{1, 3, 51}));
    // field 51 after 3: long header (type 12, zig-zag 51 = 102 = 0x66), empty struct.
    EXPECT_EQ(bytes.substr(bytes.size() - 4), bytesOf({0x0c, 0x66, 0x00, 0x00}));
}

TEST_P(RecordWires, AllFieldsLoginWithNullTwoFactorIsNotEqualAfterTheTrip) {
    TBNLoginData login("u", true, "p", "", "", "", 0, "", "", "", "", "", "", "", "", true, "",
        false, false, 4, "", "", 0, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(login.twoFactorIsSet());
    auto bytes = encode(login, GetParam());
    auto ids = fieldIds(bytes, GetParam());
    EXPECT_EQ(ids.size(), 25u);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 50), 0);
    auto back = decode<TBNLoginData>(bytes, GetParam());
    EXPECT_FALSE(back.twoFactorIsSet());
    EXPECT_FALSE(back == login);
    login.unsetTwoFactor();
    login.unsetYubikey();
    EXPECT_TRUE(back == login);
}

TEST_P(RecordWires, SiteLoginsComeBackInOrder) {
    auto site = std::make_shared<TBNSiteData>();
    site->setLoginData(std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>());
    for (int i = 0; i < 5; ++i) {
        auto login = std::make_shared<TBNLoginData>();
        login->setLogin("user" + std::to_string(i));
        login->setPasswordStrength(static_cast<int16_t>(i));
        site->loginData()->push_back(login);
    }
    auto back = decode<TBNSiteData>(encode(*site, GetParam()), GetParam());
    ASSERT_EQ(back.loginData()->size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ((*back.loginData())[i]->login(), "user" + std::to_string(i));
    }
    EXPECT_TRUE(back == *site);
}

}  // namespace
}  // namespace lumvane
