#include <gtest/gtest.h>

#include "app/ScriptedUIService.h"

namespace lumvane {
namespace {

using A = ScriptedUIService::SaveAnswer;

TEST(ScriptedUIService, ParsesScriptsAndRefusesMistakes) {
    struct Case {
        std::string text;
        bool ok;
        A save;
        A update;
        std::optional<uint64_t> choose;
    };
    const std::vector<Case> cases = {
        {"", true, A::Cancel, A::Cancel, std::nullopt},
        {"save=plain", true, A::Plain, A::Cancel, std::nullopt},
        {"save=secure,update=plain,choose=2", true, A::Secure, A::Plain, 2},
        {"choose=0,choose=cancel", true, A::Cancel, A::Cancel, std::nullopt},
        {"save=yes", false, A::Cancel, A::Cancel, std::nullopt},
        {"save", false, A::Cancel, A::Cancel, std::nullopt},
        {"choose=-1", false, A::Cancel, A::Cancel, std::nullopt},
        {"choose=12345678901", false, A::Cancel, A::Cancel, std::nullopt},
        {"restore=plain", false, A::Cancel, A::Cancel, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        auto s = ScriptedUIService::parse(c.text, &error);
        ASSERT_EQ(s.has_value(), c.ok) << error;
        if (!s) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(s->save, c.save);
        EXPECT_EQ(s->update, c.update);
        EXPECT_EQ(s->choose, c.choose);
    }
}

TEST(ScriptedUIService, AnswersEachKindAsScriptedAndCancelsTheRest) {
    ScriptedUIService::Script script;
    script.save = A::Secure;
    script.choose = 1;
    ScriptedUIService ui(script);

    TBNSaveAccountQuestion q{"alice", "pw", "GitHub", "https://github.com", false};
    std::optional<TBNSaveAccountAnswer> saved;
    int calls = 0;
    ui.showSaveAccount(q, [&](std::optional<TBNSaveAccountAnswer> a) {
        ++calls;
        saved = std::move(a);
    });
    ASSERT_EQ(calls, 1);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->account, "alice");
    EXPECT_EQ(saved->password, "pw");
    EXPECT_EQ(saved->siteUrl, "https://github.com");
    EXPECT_TRUE(saved->secure);

    // Update is not scripted: cancelled.
    q.isUpdate = true;
    bool cancelled = false;
    ui.showSaveAccount(q, [&](std::optional<TBNSaveAccountAnswer> a) { cancelled = !a; });
    EXPECT_TRUE(cancelled);

    std::optional<uint64_t> chosen;
    ui.showChooseAccount({{"a", "b"}, "https://x", "X"},
                         [&](std::optional<uint64_t> i) { chosen = i; });
    EXPECT_EQ(chosen, 1u);

    ScriptedUIService none(ScriptedUIService::Script{});
    bool noChoice = false;
    none.showChooseAccount({{"a"}, "https://x", "X"},
                           [&](std::optional<uint64_t> i) { noChoice = !i; });
    EXPECT_TRUE(noChoice);
}

}  // namespace
}  // namespace lumvane
