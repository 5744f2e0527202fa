#include "app/ScriptedUIService.h"

#include <sstream>

#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

constexpr const char* kTag = "ui|service";

std::optional<ScriptedUIService::SaveAnswer> saveAnswer(const std::string& v) {
    using A = ScriptedUIService::SaveAnswer;
    if (v == "plain") return A::Plain;
    if (v == "secure") return A::Secure;
    if (v == "cancel") return A::Cancel;
    return std::nullopt;
}

}  // namespace

std::optional<ScriptedUIService::Script> ScriptedUIService::parse(const std::string& text,
                                                                  std::string* error) {
    Script s;
    std::stringstream in(text);
    std::string part;
    auto fail = [error](const std::string& why) -> std::optional<Script> {
        if (error) *error = why;
        return std::nullopt;
    };
    while (std::getline(in, part, ',')) {
        if (part.empty()) continue;
        const auto eq = part.find('=');
        if (eq == std::string::npos) return fail("no '=' in \"" + part + "\"");
        const std::string key = part.substr(0, eq);
        const std::string value = part.substr(eq + 1);
        if (key == "save" || key == "update") {
            auto a = saveAnswer(value);
            if (!a) return fail("bad answer \"" + value + "\" for " + key);
            (key == "save" ? s.save : s.update) = *a;
        } else if (key == "choose") {
            if (value == "cancel") {
                s.choose.reset();
                continue;
            }
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
                value.size() > 9) {
                return fail("bad account index \"" + value + "\"");
            }
            s.choose = std::stoull(value);
        } else {
            return fail("unknown question kind \"" + key + "\"");
        }
    }
    return s;
}

void ScriptedUIService::showSaveAccount(const TBNSaveAccountQuestion& question,
                                        SaveAccountReply reply) {
    const SaveAnswer a = question.isUpdate ? script_.update : script_.save;
    if (a == SaveAnswer::Cancel) {
        TBNHeadlessUIService::showSaveAccount(question, std::move(reply));
        return;
    }
    TBN_LOG_INFO(kTag, "scripted answer: {} question accepted{}",
                 question.isUpdate ? "update" : "save", a == SaveAnswer::Secure ? " (secure)" : "");
    TBNSaveAccountAnswer answer;
    answer.account = question.account;
    answer.password = question.password;
    answer.siteUrl = question.siteUrl;
    answer.siteName = question.siteName;
    answer.secure = a == SaveAnswer::Secure;
    if (reply) reply(std::move(answer));
}

void ScriptedUIService::showChooseAccount(const TBNChooseAccountQuestion& question,
                                          ChooseAccountReply reply) {
    if (!script_.choose) {
        TBNHeadlessUIService::showChooseAccount(question, std::move(reply));
        return;
    }
    TBN_LOG_INFO(kTag, "scripted answer: account {} of {}", *script_.choose,
                 question.accounts.size());
    if (reply) reply(*script_.choose);
}

}  // namespace lumvane
