#pragma once
// What the save-account page decides, without widgets: the self-save mode and its 5 s
// timer, the site text the user typed, the answer, and whether a cancel holds back
// further questions until the phone is online. The page only shows this state.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/service/TBNUIService.h"
#include "runtime/Clock.h"

namespace lumvane {

class TBNSaveAccountLogic {
  public:
    static constexpr double kAutoSaveSeconds = 5.0;

    // `post` hands the timer's work to the thread the page lives on.
    TBNSaveAccountLogic(std::shared_ptr<Clock> clock,
                        std::function<void(std::function<void()>)> post);
    ~TBNSaveAccountLogic();

    void setQuestion(const TBNSaveAccountQuestion& question);
    // The first paired phone's online state (false when none is paired).
    void setPhoneOnline(bool online);
    bool phoneOnline() const { return online_; }

    // The user touched the page (began editing, showed the password): no self-save.
    void userTouched();
    // End of editing, with the field's text.
    void siteEdited(const std::string& text);
    void accountEdited(const std::string& text) { account_ = text; }
    void passwordEdited(const std::string& text) { password_ = text; }
    void secureChanged(bool secure) { secure_ = secure; }

    // The answer to give on Save; nothing when a site or a credential is missing.
    std::optional<TBNSaveAccountAnswer> answer() const;
    // The page hides: the self-save must not fire any more.
    void stop();

    bool autosave() const { return autosave_; }
    bool autoSavePending() const { return timer_ != 0; }
    bool isUpdate() const { return isUpdate_; }
    const std::string& siteName() const { return siteName_; }
    const std::string& siteUrl() const { return siteUrl_; }
    const std::string& account() const { return account_; }
    const std::string& password() const { return password_; }
    std::string titleKey() const;
    std::string saveButtonKey() const;

    // Called when the self-save time has come (on the page's thread).
    std::function<void()> onAutoSave;
    // Called when autosave(), the timer or the online state changed.
    std::function<void()> onChange;

  private:
    void update();
    void startTimer();
    void stopTimer();

    std::shared_ptr<Clock> clock_;
    std::function<void(std::function<void()>)> post_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    Clock::CallId timer_ = 0;
    uint64_t generation_ = 0;
    bool stopped_ = false;

    std::string account_, password_, siteUrl_, siteName_;
    bool isUpdate_ = false;
    bool secure_ = false;
    bool autosave_ = false;
    bool online_ = false;
};

}  // namespace lumvane
