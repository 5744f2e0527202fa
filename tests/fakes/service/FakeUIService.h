#pragma once
// The user in a test: records every question and page the service shows and answers the
// questions from a script. An answer queued for a kind of question is given as soon as
// such a question is shown; without one the question stays open until the test answers
// it (answerSave, answerChoose, ...) or lets it time out.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/service/TBNUIService.h"

namespace lumvane {

class FakeUIService : public TBNUIServiceProtocol {
  public:
    // ---- Script ----
    void queueSaveAnswer(std::optional<TBNSaveAccountAnswer> answer);
    void queueChooseAnswer(std::optional<uint64_t> answer);
    void queueRestoreAnswer(std::optional<std::string> path);
    void setCreateSSLIdentity(bool create);
    // Close driver pages at once (default) or keep them open until closeDriverPages().
    void setCloseDriverPagesAtOnce(bool atOnce);

    // ---- Questions still open (oldest first); true when there was one to answer ----
    bool answerSave(size_t index, std::optional<TBNSaveAccountAnswer> answer);
    bool answerChoose(size_t index, std::optional<uint64_t> answer);
    bool answerRestore(size_t index, std::optional<std::string> path);
    void closeDriverPages();
    size_t openSaveQuestions() const;
    size_t openChooseQuestions() const;

    // ---- What was shown ----
    std::vector<TBNSaveAccountQuestion> saveQuestions() const;
    std::vector<TBNChooseAccountQuestion> chooseQuestions() const;
    size_t restoreQuestions() const;
    std::vector<TBNInstallDriverViewType> driverPages() const;
    size_t sslAlerts() const;
    size_t sslFailedAlerts() const;
    std::vector<std::string> guides() const;  // "title|message|large" or "...|small"
    size_t rates() const;
    size_t hides() const;
    // Blocks (real time) until `count()` reaches n; false after the limit.
    bool waitFor(const std::function<size_t()>& count, size_t n,
                 std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    // ---- TBNUIServiceProtocol ----
    void showSaveAccount(const TBNSaveAccountQuestion& question, SaveAccountReply reply) override;
    void showChooseAccount(const TBNChooseAccountQuestion& question,
                           ChooseAccountReply reply) override;
    void showRestoreDatabase(RestoreDatabaseReply reply) override;
    void showInstallDriver(TBNInstallDriverViewType type, Closed closed) override;
    void showCreateSSLIdentityAlert(CreateSSLIdentityReply reply) override;
    void showSSLIdentityFailedAlert(Closed closed) override;
    void showGuide(const std::string& titleKey, const std::string& messageKey, bool large) override;
    void showRate() override;
    void hideCurrentPopover() override;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;

    std::deque<std::optional<TBNSaveAccountAnswer>> saveScript_;
    std::deque<std::optional<uint64_t>> chooseScript_;
    std::deque<std::optional<std::string>> restoreScript_;
    bool createSSLIdentity_ = false;
    bool closeDriverAtOnce_ = true;

    std::vector<SaveAccountReply> openSave_;
    std::vector<ChooseAccountReply> openChoose_;
    std::vector<RestoreDatabaseReply> openRestore_;
    std::vector<Closed> openDriver_;

    std::vector<TBNSaveAccountQuestion> saveQuestions_;
    std::vector<TBNChooseAccountQuestion> chooseQuestions_;
    size_t restoreQuestions_ = 0;
    std::vector<TBNInstallDriverViewType> driverPages_;
    size_t sslAlerts_ = 0;
    size_t sslFailedAlerts_ = 0;
    std::vector<std::string> guides_;
    size_t rates_ = 0;
    size_t hides_ = 0;
};

}  // namespace lumvane
