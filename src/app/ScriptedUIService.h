#pragma once
// Test-only answers for the questions a headless run would otherwise cancel, so that
// the end-to-end tests can drive the save, update and choose roads through a real
// process. Read from the environment variable LUMVANE_TEST_UI_ANSWERS, a comma list:
//
//   save=plain|secure|cancel     answer to every save question
//   update=plain|secure|cancel   answer to every update question
//   choose=N|cancel              index answered to every account question
//
// "plain" and "secure" keep the account and password the question shows; "secure"
// marks the login as secured. Kinds not listed are answered as cancelled. This is not
// a user feature: a person never has a reason to set it.
#include <optional>
#include <string>

#include "core/service/TBNUIService.h"

namespace lumvane {

class ScriptedUIService : public TBNHeadlessUIService {
  public:
    static constexpr const char* kEnvironmentVariable = "LUMVANE_TEST_UI_ANSWERS";

    enum class SaveAnswer { Cancel, Plain, Secure };
    struct Script {
        SaveAnswer save = SaveAnswer::Cancel;
        SaveAnswer update = SaveAnswer::Cancel;
        std::optional<uint64_t> choose;
    };

    // The script of a text in the form above; nothing (with the reason) when a part
    // cannot be read.
    static std::optional<Script> parse(const std::string& text, std::string* error = nullptr);

    explicit ScriptedUIService(Script script) : script_(script) {}

    void showSaveAccount(const TBNSaveAccountQuestion& question, SaveAccountReply reply) override;
    void showChooseAccount(const TBNChooseAccountQuestion& question,
                           ChooseAccountReply reply) override;

    const Script& script() const { return script_; }

  private:
    Script script_;
};

}  // namespace lumvane
