#include "service/FakeUIService.h"

namespace lumvane {

namespace {
// Takes the reply at `index` out of `open`; empty when there is none.
template <class Reply>
Reply takeOpen(std::vector<Reply>& open, size_t index) {
    if (index >= open.size()) return {};
    Reply reply = std::move(open[index]);
    open.erase(open.begin() + static_cast<long>(index));
    return reply;
}
}  // namespace

void FakeUIService::queueSaveAnswer(std::optional<TBNSaveAccountAnswer> answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    saveScript_.push_back(std::move(answer));
}

void FakeUIService::queueChooseAnswer(std::optional<uint64_t> answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    chooseScript_.push_back(answer);
}

void FakeUIService::queueRestoreAnswer(std::optional<std::string> path) {
    std::lock_guard<std::mutex> lock(mutex_);
    restoreScript_.push_back(std::move(path));
}

void FakeUIService::setCreateSSLIdentity(bool create) {
    std::lock_guard<std::mutex> lock(mutex_);
    createSSLIdentity_ = create;
}

void FakeUIService::setCloseDriverPagesAtOnce(bool atOnce) {
    std::lock_guard<std::mutex> lock(mutex_);
    closeDriverAtOnce_ = atOnce;
}

bool FakeUIService::answerSave(size_t index, std::optional<TBNSaveAccountAnswer> answer) {
    SaveAccountReply reply;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reply = takeOpen(openSave_, index);
    }
    if (!reply) return false;
    reply(std::move(answer));
    return true;
}

bool FakeUIService::answerChoose(size_t index, std::optional<uint64_t> answer) {
    ChooseAccountReply reply;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reply = takeOpen(openChoose_, index);
    }
    if (!reply) return false;
    reply(answer);
    return true;
}

bool FakeUIService::answerRestore(size_t index, std::optional<std::string> path) {
    RestoreDatabaseReply reply;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reply = takeOpen(openRestore_, index);
    }
    if (!reply) return false;
    reply(std::move(path));
    return true;
}

void FakeUIService::closeDriverPages() {
    std::vector<Closed> pages;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pages.swap(openDriver_);
    }
    for (auto& closed : pages) closed();
}

size_t FakeUIService::openSaveQuestions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return openSave_.size();
}

size_t FakeUIService::openChooseQuestions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return openChoose_.size();
}

std::vector<TBNSaveAccountQuestion> FakeUIService::saveQuestions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return saveQuestions_;
}

std::vector<TBNChooseAccountQuestion> FakeUIService::chooseQuestions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return chooseQuestions_;
}

size_t FakeUIService::restoreQuestions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return restoreQuestions_;
}

std::vector<TBNInstallDriverViewType> FakeUIService::driverPages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return driverPages_;
}

size_t FakeUIService::sslAlerts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sslAlerts_;
}

size_t FakeUIService::sslFailedAlerts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sslFailedAlerts_;
}

std::vector<std::string> FakeUIService::guides() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return guides_;
}

size_t FakeUIService::rates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rates_;
}

size_t FakeUIService::hides() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hides_;
}

bool FakeUIService::waitFor(const std::function<size_t()>& count, size_t n,
                            std::chrono::milliseconds limit) const {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (count() >= n) return true;
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(5));
    }
    return count() >= n;
}

void FakeUIService::showSaveAccount(const TBNSaveAccountQuestion& question,
                                    SaveAccountReply reply) {
    std::optional<std::optional<TBNSaveAccountAnswer>> scripted;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        saveQuestions_.push_back(question);
        if (!saveScript_.empty()) {
            scripted = std::move(saveScript_.front());
            saveScript_.pop_front();
        } else {
            openSave_.push_back(reply);
        }
    }
    changed_.notify_all();
    if (scripted) reply(std::move(*scripted));
}

void FakeUIService::showChooseAccount(const TBNChooseAccountQuestion& question,
                                      ChooseAccountReply reply) {
    std::optional<std::optional<uint64_t>> scripted;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        chooseQuestions_.push_back(question);
        if (!chooseScript_.empty()) {
            scripted = chooseScript_.front();
            chooseScript_.pop_front();
        } else {
            openChoose_.push_back(reply);
        }
    }
    changed_.notify_all();
    if (scripted) reply(*scripted);
}

void FakeUIService::showRestoreDatabase(RestoreDatabaseReply reply) {
    std::optional<std::optional<std::string>> scripted;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++restoreQuestions_;
        if (!restoreScript_.empty()) {
            scripted = std::move(restoreScript_.front());
            restoreScript_.pop_front();
        } else {
            openRestore_.push_back(reply);
        }
    }
    changed_.notify_all();
    if (scripted) reply(std::move(*scripted));
}

void FakeUIService::showInstallDriver(TBNInstallDriverViewType type, Closed closed) {
    bool atOnce = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        driverPages_.push_back(type);
        atOnce = closeDriverAtOnce_;
        if (!atOnce) openDriver_.push_back(closed);
    }
    changed_.notify_all();
    if (atOnce && closed) closed();
}

void FakeUIService::showCreateSSLIdentityAlert(CreateSSLIdentityReply reply) {
    bool create = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++sslAlerts_;
        create = createSSLIdentity_;
    }
    changed_.notify_all();
    reply(create);
}

void FakeUIService::showSSLIdentityFailedAlert(Closed closed) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++sslFailedAlerts_;
    }
    changed_.notify_all();
    closed();
}

void FakeUIService::showGuide(const std::string& titleKey, const std::string& messageKey,
                              bool large) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        guides_.push_back(titleKey + "|" + messageKey + (large ? "|large" : "|small"));
    }
    changed_.notify_all();
}

void FakeUIService::showRate() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++rates_;
    }
    changed_.notify_all();
}

void FakeUIService::hideCurrentPopover() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++hides_;
    }
    changed_.notify_all();
}

}  // namespace lumvane
