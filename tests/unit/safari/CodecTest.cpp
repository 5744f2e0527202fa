// Page-message records and their conversion to and from dictionaries.
#include <gtest/gtest.h>
#include <thrift/transport/TTransportException.h>

#include "ExceptionGuard.h"
#include "JSRecords.h"

namespace lumvane {
namespace {

using nlohmann::json;

TEST(SafariCodec, AllAbsentRecordEncodesToEmptyDictionary) {
    auto d = JSAccount{}.dictionary();
    ASSERT_TRUE(d.has_value());
    EXPECT_TRUE(d->is_object());
    EXPECT_TRUE(d->empty());
}

TEST(SafariCodec, NullAndMissingKeysDecodeAlikeAndExtraKeysAreIgnored) {
    auto a = JSContext::fromDictionary(json{{"tbn_tid", nullptr}, {"tbn_url", "https://a.b/"}});
    auto b = JSContext::fromDictionary(json{{"tbn_url", "https://a.b/"}, {"extra", 1}});
    EXPECT_FALSE(a.tabId.has_value());
    EXPECT_EQ(a.url, b.url);
    EXPECT_EQ(b.dictionary(), (json{{"tbn_url", "https://a.b/"}}));
}

// One wrong field fails the whole record, nested records included.
TEST(SafariCodec, TypeRulesFailTheWholeRecord) {
    struct Case {
        const char* name;
        std::function<void()> decode;
        bool ok;
    };
    std::vector<Case> cases = {
        {"fid text 0",
         [] {
             JSContext::fromDictionary(json{{"tbn_fid", "0"}});
         },
         true},
        {"fid number 0",
         [] {
             JSContext::fromDictionary(json{{"tbn_fid", 0}, {"tbn_tid", "7"}});
         },
         false},
        {"executing true",
         [] {
             JSPermissionRequest::fromDictionary(json{{"enableExecuting", true}});
         },
         true},
        {"executing 1",
         [] {
             JSPermissionRequest::fromDictionary(json{{"enableExecuting", 1}});
         },
         false},
        {"pause 1500",
         [] {
             JSSaveLoginFormRequest::fromDictionary(json{{"pause", 1500}});
         },
         true},
        {"pause 1500.5",
         [] {
             JSSaveLoginFormRequest::fromDictionary(json{{"pause", 1500.5}, {"urls", {"x"}}});
         },
         false},
        {"pause text",
         [] {
             JSSaveLoginFormRequest::fromDictionary(json{{"pause", "1"}});
         },
         false},
        {"nested isLoginFinal yes",
         [] {
             JSSaveLoginFormRequest::fromDictionary(
                 json{{"pause", 1},
                      {"urls", {"https://a.b"}},
                      {"credentials", {{"isLoginFinal", "yes"}}}});
         },
         false},
        {"period fits 16 bits",
         [] {
             JS2FACode::fromDictionary(json{{"period", 32767}});
         },
         true},
        {"period beyond 16 bits",
         [] {
             JS2FACode::fromDictionary(json{{"period", 32768}});
         },
         false},
        {"tags not a list",
         [] {
             JSGetFormsInfoRequest::fromDictionary(json{{"tags", "login"}});
         },
         false},
        {"list element not text",
         [] {
             JSGetFormsInfoRequest::fromDictionary(json{{"tags", {"login", 3}}});
         },
         false},
        {"not a dictionary", [] { JSContext::fromDictionary(json::array()); }, false},
        {"integer from bool",
         [] {
             JSInitRequest::fromDictionary(json{{"navigation_type", true}});
         },
         false},
    };
    for (const auto& c : cases) {
        if (c.ok) {
            EXPECT_NO_THROW(c.decode()) << c.name;
        } else {
            EXPECT_THROW(c.decode(), JSDecodingError) << c.name;
        }
    }
}

TEST(SafariCodec, KeysFollowTheirTables) {
    // The account of a save travels under "credentials"; "account" is an unknown key.
    auto misplaced = JSSaveLoginFormRequest::fromDictionary(json{{"account", {{"login", "u"}}}});
    EXPECT_FALSE(misplaced.account.has_value());
    auto save = JSSaveLoginFormRequest::fromDictionary(
        json{{"credentials", {{"login", "u"}, {"password", "p"}}}, {"urls", {"https://a.b"}}});
    ASSERT_TRUE(save.account.has_value());
    EXPECT_EQ(save.account->password, "p");

    JSConfig config;
    config.autoLogin = true;
    JSPopupState popup;
    popup.autoLogin = true;
    EXPECT_EQ(config.dictionary(), (json{{"tbn_auto_submit", true}}));
    EXPECT_EQ(popup.dictionary(), (json{{"autoLogin", true}}));

    JSGetFormsInfoResponse forms;
    forms.loginAccounts = std::vector<JSAccount>{};
    EXPECT_EQ(forms.dictionary(), (json{{"login", json::array()}}));

    JSPermissionResponse permission;
    EXPECT_EQ(permission.dictionary(), json::object());
    permission.executing = false;
    EXPECT_EQ(permission.dictionary(), (json{{"enableExecuting", false}}));

    JSGet2FACodeResponse code;
    code.mfaData = JS2FACode{};
    code.mfaData->period = 30;
    code.mfaData->startTimestamp = 1700000000;
    auto d = *code.dictionary();
    EXPECT_TRUE(d["mfaData"]["period"].is_number_integer());
    EXPECT_EQ(d["mfaData"]["startTimestamp"], 1700000000);
}

TEST(SafariCodec, RoundTripKeepsEveryField) {
    JSSaveLoginFormRequest r;
    r.pause = -5;
    r.urls = std::vector<std::string>{"https://a.b/x", ""};
    r.account = JSAccount{};
    r.account->login = "u";
    r.account->isLoginFinal = false;
    r.account->currentPassword = "";
    auto back = JSSaveLoginFormRequest::fromDictionary(*r.dictionary());
    EXPECT_EQ(back.dictionary(), r.dictionary());
    EXPECT_EQ(back.account->currentPassword, "");
    EXPECT_EQ(back.account->isLoginFinal, false);
}

TEST(SafariCodec, TextThatIsNotUTF8HasNoDictionary) {
    JSAccount a;
    a.login = std::string("\xff\xfe", 2);
    EXPECT_FALSE(a.dictionary().has_value());
}

TEST(SafariCodec, ContextDebugDescription) {
    JSContext c;
    c.tabId = "7";
    c.url = "about:blank";
    EXPECT_EQ(c.debugDescription(),
              "tid: 7, fid: nil, sid: nil, src: nil, dst: nil, url: about:blank");
    c.source = "";
    EXPECT_EQ(c.debugDescription(),
              "tid: 7, fid: nil, sid: nil, src: , dst: nil, url: about:blank");
}

TEST(SafariCodec, GenericLogFormNamesTypeAndFields) {
    JSActiveInputs in;
    in.activeInputType = "text";
    EXPECT_EQ(describeRecord(in), "JSActiveInputs(activeInputType: \"text\", nextInputType: nil)");
}

TEST(SafariExceptionGuard, ThriftExceptionBecomesNSExceptionErrorWithTheSameObject) {
    const apache::thrift::TException* raised = nullptr;
    try {
        ExceptionGuard::tryCatch([&] {
            static thread_local apache::thrift::transport::TTransportException e(
                apache::thrift::transport::TTransportException::NOT_OPEN, "connect refused");
            raised = &e;
            throw e;
        });
        FAIL() << "nothing thrown";
    } catch (const NSExceptionError& err) {
        EXPECT_EQ(err.reason(), "connect refused");
        try {
            std::rethrow_exception(err.exception());
        } catch (const apache::thrift::transport::TTransportException& e) {
            EXPECT_EQ(e.getType(), apache::thrift::transport::TTransportException::NOT_OPEN);
            EXPECT_STREQ(e.what(), raised->what());
        }
    }
}

TEST(SafariExceptionGuard, NormalReturnKeepsCapturedResultAndOtherExceptionsPass) {
    int value = 0;
    EXPECT_NO_THROW(ExceptionGuard::tryCatch([&] { value = 42; }));
    EXPECT_EQ(value, 42);
    EXPECT_THROW(ExceptionGuard::tryCatch([] { throw std::runtime_error("x"); }),
                 std::runtime_error);
}

TEST(SafariExceptionGuard, MessageErrorsCompareByCaseAndPrintTheirNames) {
    EXPECT_FALSE(JSError::HasNotContext() == JSError::HasNotParameter());
    EXPECT_TRUE(JSError::HasNotContext() == JSError::HasNotContext());
    EXPECT_STREQ(JSError::HasNotContext().what(), "HasNotContext");
    EXPECT_STREQ(JSError::HasNotParameter().what(), "HasNotParameter");
}

}  // namespace
}  // namespace lumvane
