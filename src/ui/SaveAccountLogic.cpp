#include "ui/SaveAccountLogic.h"

#include "protocol/site/HostPath.h"
#include "runtime/TBNUtil.h"

namespace lumvane {

TBNSaveAccountLogic::TBNSaveAccountLogic(std::shared_ptr<Clock> clock,
                                         std::function<void(std::function<void()>)> post)
    : clock_(std::move(clock)), post_(std::move(post)) {}

TBNSaveAccountLogic::~TBNSaveAccountLogic() {
    *alive_ = false;
    stopTimer();
}

void TBNSaveAccountLogic::setQuestion(const TBNSaveAccountQuestion& q) {
    account_ = q.account;
    password_ = q.password;
    siteUrl_ = q.siteUrl;
    siteName_ = q.siteName;
    isUpdate_ = q.isUpdate;
    secure_ = false;
    // A complete new login saves itself; anything else asks.
    autosave_ = !isUpdate_ && !siteUrl_.empty() && !account_.empty() && !password_.empty();
    update();
}

void TBNSaveAccountLogic::setPhoneOnline(bool online) {
    online_ = online;
    update();
}

void TBNSaveAccountLogic::userTouched() {
    if (!autosave_) return;
    autosave_ = false;
    update();
}

void TBNSaveAccountLogic::siteEdited(const std::string& text) {
    if (text.empty() || text.size() > 256) return;
    if (TBNUtil::validateUrl(text)) {
        siteUrl_ = text.find("://") == std::string::npos ? "http://" + text : text;
        siteName_ = siteDomainName(siteUrl_).value_or(text);
    } else {
        siteUrl_.clear();
        siteName_ = text;
    }
}

std::optional<TBNSaveAccountAnswer> TBNSaveAccountLogic::answer() const {
    if (siteUrl_.empty() && siteName_.empty()) return std::nullopt;
    if (account_.empty() && password_.empty()) return std::nullopt;
    TBNSaveAccountAnswer a;
    a.account = account_;
    a.password = password_;
    a.siteUrl = siteUrl_;
    a.siteName = siteName_;
    a.secure = secure_;
    return a;
}

void TBNSaveAccountLogic::stop() {
    stopped_ = true;
    stopTimer();
}

std::string TBNSaveAccountLogic::titleKey() const {
    if (isUpdate_) return "UPDATE_TEXTFIELD_TITLE";
    return autosave_ ? "SAVING_TEXTFIELD_TITLE" : "SAVE_TEXTFIELD_TITLE";
}

std::string TBNSaveAccountLogic::saveButtonKey() const {
    return isUpdate_ ? "UPDATE_BUTTON" : "SAVE_BUTTON";
}

void TBNSaveAccountLogic::update() {
    // The timer runs exactly while the page would save itself and the phone can take it;
    // a phone that comes back gives a fresh 5 s.
    if (autosave_ && online_ && !stopped_) {
        if (!timer_) startTimer();
    } else {
        stopTimer();
    }
    if (onChange) onChange();
}

void TBNSaveAccountLogic::startTimer() {
    const uint64_t generation = ++generation_;
    std::weak_ptr<bool> alive = alive_;
    auto post = post_;
    timer_ =
        clock_->callAt(clock_->deadlineAfter(kAutoSaveSeconds), [this, alive, generation, post] {
            post([this, alive, generation] {
                auto a = alive.lock();
                if (!a || !*a || generation != generation_ || stopped_) return;
                timer_ = 0;
                if (autosave_ && online_ && onAutoSave) onAutoSave();
            });
        });
}

void TBNSaveAccountLogic::stopTimer() {
    ++generation_;
    if (timer_) clock_->cancel(timer_);
    timer_ = 0;
}

}  // namespace lumvane
