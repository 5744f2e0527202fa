#pragma once
// The records exchanged with page scripts and the popup page. Every field is optional;
// the JSON key of each field is given in its visitFields() line.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "JSCodable.h"

namespace lumvane {

using OptText = std::optional<std::string>;
using OptBool = std::optional<bool>;
using OptInt = std::optional<int64_t>;
using OptTexts = std::optional<std::vector<std::string>>;

// Which tab, frame and page session a message belongs to, and who sends it to whom.
struct JSContext : JSCodable<JSContext> {
    static constexpr const char* kTypeName = "JSContext";
    OptText tabId, frameId, sessionId, url, source, destination;
    template <class V>
    void visitFields(V& v) {
        v("tbn_tid", tabId);
        v("tbn_fid", frameId);
        v("tbn_sid", sessionId);
        v("tbn_url", url);
        v("tbn_src", source);
        v("tbn_dst", destination);
    }
    // One line for log lines: "tid: 7, fid: nil, sid: s1, src: back, dst: page, url: ...".
    std::string debugDescription() const;
};

struct JSPermissionRequest : JSCodable<JSPermissionRequest> {
    static constexpr const char* kTypeName = "JSPermissionRequest";
    OptBool executing;
    template <class V>
    void visitFields(V& v) {
        v("enableExecuting", executing);
    }
};

struct JSPermissionResponse : JSCodable<JSPermissionResponse> {
    static constexpr const char* kTypeName = "JSPermissionResponse";
    OptBool executing;
    template <class V>
    void visitFields(V& v) {
        v("enableExecuting", executing);
    }
};

struct JSInitRequest : JSCodable<JSInitRequest> {
    static constexpr const char* kTypeName = "JSInitRequest";
    OptInt navigationType, redirectCount;
    OptBool disabledPage;
    OptText referrer;
    template <class V>
    void visitFields(V& v) {
        v("navigation_type", navigationType);
        v("redirect_count", redirectCount);
        v("disabled_page", disabledPage);
        v("referrer", referrer);
    }
};

struct JSConfig : JSCodable<JSConfig> {
    static constexpr const char* kTypeName = "JSConfig";
    OptBool enableGA, debugGA;
    OptText idGA, clientId, appName, appId, appVersion;
    OptBool extendedMode, autoLogin, autoLogout;
    template <class V>
    void visitFields(V& v) {
        v("tbn_enable_ga", enableGA);
        v("tbn_ga_debug", debugGA);
        v("tbn_ga_id", idGA);
        v("tbn_client_id", clientId);
        v("tbn_app_name", appName);
        v("tbn_app_id", appId);
        v("tbn_app_version", appVersion);
        v("tbn_extended_mode", extendedMode);
        v("tbn_auto_submit", autoLogin);
        v("tbn_auto_logout", autoLogout);
    }
};

struct JSStartResponse : JSCodable<JSStartResponse> {
    static constexpr const char* kTypeName = "JSStartResponse";
    OptText url;
    std::optional<JSConfig> config;
    template <class V>
    void visitFields(V& v) {
        v("url", url);
        v("config", config);
    }
};

// A parser description handed to the page scripts unchanged.
struct JSParserInfo : JSCodable<JSParserInfo> {
    static constexpr const char* kTypeName = "JSParserInfo";
    OptTexts button_raters;
    OptText button_raters_pos;
    OptTexts form_raters;
    OptText form_raters_pos;
    OptTexts fill_forms;
    OptText fill_forms_pos;
    OptTexts input_raters;
    OptText input_raters_pos;
    OptTexts pre_page_raters;
    OptText pre_page_raters_pos;
    OptTexts post_page_raters;
    OptTexts post_page_raters_pos;
    OptTexts pre_raters;
    OptText pre_raters_pos;
    OptTexts post_raters;
    OptText post_raters_pos;
    OptTexts check_inputs;
    OptText check_inputs_pos;
    OptText parser;
    OptTexts appliers;
    OptTexts default_appliers;
    template <class V>
    void visitFields(V& v) {
        v("button_raters", button_raters);
        v("button_raters_pos", button_raters_pos);
        v("form_raters", form_raters);
        v("form_raters_pos", form_raters_pos);
        v("fill_forms", fill_forms);
        v("fill_forms_pos", fill_forms_pos);
        v("input_raters", input_raters);
        v("input_raters_pos", input_raters_pos);
        v("pre_page_raters", pre_page_raters);
        v("pre_page_raters_pos", pre_page_raters_pos);
        v("post_page_raters", post_page_raters);
        v("post_page_raters_pos", post_page_raters_pos);
        v("pre_raters", pre_raters);
        v("pre_raters_pos", pre_raters_pos);
        v("post_raters", post_raters);
        v("post_raters_pos", post_raters_pos);
        v("check_inputs", check_inputs);
        v("check_inputs_pos", check_inputs_pos);
        v("parser", parser);
        v("appliers", appliers);
        v("default_appliers", default_appliers);
    }
};

struct JSSite : JSCodable<JSSite> {
    static constexpr const char* kTypeName = "JSSite";
    std::optional<std::map<std::string, JSParserInfo>> paths;
    template <class V>
    void visitFields(V& v) {
        v("paths", paths);
    }
};

struct JSParsers : JSCodable<JSParsers> {
    static constexpr const char* kTypeName = "JSParsers";
    std::optional<std::map<std::string, JSSite>> sites;
    template <class V>
    void visitFields(V& v) {
        v("sites", sites);
    }
};

struct JSGetParserInfo : JSCodable<JSGetParserInfo> {
    static constexpr const char* kTypeName = "JSGetParserInfo";
    std::optional<JSParserInfo> parserInfo;
    template <class V>
    void visitFields(V& v) {
        v("parser_info", parserInfo);
    }
};

struct JSGetFormsInfoRequest : JSCodable<JSGetFormsInfoRequest> {
    static constexpr const char* kTypeName = "JSGetFormsInfoRequest";
    OptTexts tags;
    OptText url;
    OptBool force;
    template <class V>
    void visitFields(V& v) {
        v("tags", tags);
        v("url", url);
        v("force", force);
    }
};

struct JSAccount : JSCodable<JSAccount> {
    static constexpr const char* kTypeName = "JSAccount";
    OptText login, password, phone, email, userName, firstName, lastName, fullName, company,
        account, applicantId, zipcode;
    OptBool isLoginFinal, autoSubmit;
    OptText currentLogin, currentPassword;
    template <class V>
    void visitFields(V& v) {
        v("login", login);
        v("password", password);
        v("phone", phone);
        v("email", email);
        v("userName", userName);
        v("firstName", firstName);
        v("lastName", lastName);
        v("fullName", fullName);
        v("company", company);
        v("account", account);
        v("applicantId", applicantId);
        v("zipcode", zipcode);
        v("isLoginFinal", isLoginFinal);
        v("autoSubmit", autoSubmit);
        v("currentLogin", currentLogin);
        v("currentPassword", currentPassword);
    }
};

struct JSGetFormsInfoResponse : JSCodable<JSGetFormsInfoResponse> {
    static constexpr const char* kTypeName = "JSGetFormsInfoResponse";
    std::optional<std::vector<JSAccount>> loginAccounts, changePasswordAccounts,
        registrationAccounts;
    template <class V>
    void visitFields(V& v) {
        v("login", loginAccounts);
        v("change-password", changePasswordAccounts);
        v("registration", registrationAccounts);
    }
};

struct JSChooseUserAccountRequest : JSCodable<JSChooseUserAccountRequest> {
    static constexpr const char* kTypeName = "JSChooseUserAccountRequest";
    OptTexts accounts;
    OptText tag;
    OptBool force;
    template <class V>
    void visitFields(V& v) {
        v("accounts", accounts);
        v("tag", tag);
        v("force", force);
    }
};

struct JSApplyUserAccountRequest : JSCodable<JSApplyUserAccountRequest> {
    static constexpr const char* kTypeName = "JSApplyUserAccountRequest";
    OptText tag, account;
    template <class V>
    void visitFields(V& v) {
        v("tag", tag);
        v("account", account);
    }
};

struct JSApplyUserAccountResponse : JSCodable<JSApplyUserAccountResponse> {
    static constexpr const char* kTypeName = "JSApplyUserAccountResponse";
    OptText tag, account;
    OptBool autoSubmit, force;
    template <class V>
    void visitFields(V& v) {
        v("tag", tag);
        v("account", account);
        v("autoSubmit", autoSubmit);
        v("force", force);
    }
};

struct JS2FACode : JSCodable<JS2FACode> {
    static constexpr const char* kTypeName = "JS2FACode";
    OptText code, prevCode, nextCode;
    std::optional<int16_t> period;
    OptInt startTimestamp;
    template <class V>
    void visitFields(V& v) {
        v("code", code);
        v("prevCode", prevCode);
        v("nextCode", nextCode);
        v("period", period);
        v("startTimestamp", startTimestamp);
    }
};

struct JSGet2FACodeResponse : JSCodable<JSGet2FACodeResponse> {
    static constexpr const char* kTypeName = "JSGet2FACodeResponse";
    std::optional<JS2FACode> mfaData;
    OptBool autoSubmit;
    template <class V>
    void visitFields(V& v) {
        v("mfaData", mfaData);
        v("autoSubmit", autoSubmit);
    }
};

struct JSSaveLoginFormRequest : JSCodable<JSSaveLoginFormRequest> {
    static constexpr const char* kTypeName = "JSSaveLoginFormRequest";
    OptInt pause;
    std::optional<JSAccount> account;
    OptTexts urls;
    template <class V>
    void visitFields(V& v) {
        v("pause", pause);
        v("credentials", account);
        v("urls", urls);
    }
};

struct JSLogMessage : JSCodable<JSLogMessage> {
    static constexpr const char* kTypeName = "JSLogMessage";
    OptText filename, funcname;
    OptInt line;
    OptText message, tags, type;
    template <class V>
    void visitFields(V& v) {
        v("filename", filename);
        v("funcname", funcname);
        v("line", line);
        v("message", message);
        v("tags", tags);
        v("type", type);
    }
};

struct JSActiveInputs : JSCodable<JSActiveInputs> {
    static constexpr const char* kTypeName = "JSActiveInputs";
    OptText activeInputType, nextInputType;
    template <class V>
    void visitFields(V& v) {
        v("activeInputType", activeInputType);
        v("nextInputType", nextInputType);
    }
};

struct JSActiveInputValues : JSCodable<JSActiveInputValues> {
    static constexpr const char* kTypeName = "JSActiveInputValues";
    OptText activeInputValue, nextInputValue;
    template <class V>
    void visitFields(V& v) {
        v("activeInputValue", activeInputValue);
        v("nextInputValue", nextInputValue);
    }
};

struct JSPopupState : JSCodable<JSPopupState> {
    static constexpr const char* kTypeName = "JSPopupState";
    OptText serviceState;
    OptBool blockPage, blockSite, autoLogin, autoLogout;
    template <class V>
    void visitFields(V& v) {
        v("serviceState", serviceState);
        v("blockPage", blockPage);
        v("blockSite", blockSite);
        v("autoLogin", autoLogin);
        v("autoLogout", autoLogout);
    }
};

}  // namespace lumvane
