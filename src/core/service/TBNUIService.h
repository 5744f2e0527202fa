#pragma once
// What the application service needs of the user interface: questions it asks the user
// for the extension server and the phone (save or update a login, choose an account,
// pick a backup to restore, install the security-key driver, create the local TLS
// identity) and the pages it only shows (guides, rating).
//
// A question is shown by a show...() call that returns at once; the answer comes later
// through the reply function handed in, from any thread. Every question has a reply of
// its own: answering one question never answers another, and a reply that comes after
// the service stopped waiting (time-out) is dropped. A reply called with nothing means
// the user cancelled or closed the page. Calling a reply more than once is harmless;
// only the first call counts.
//
// The service calls these operations on the main loop. The Qt popovers implement this
// interface in the user interface; TBNHeadlessUIService (below) answers every question
// as cancelled, the way a program without a display has to.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumvane {

// The login a save or update question shows; the user may change account and password.
struct TBNSaveAccountQuestion {
    std::string account;
    std::string password;
    std::string siteName;
    std::string siteUrl;
    bool isUpdate = false;
};

// The user's answer to a save or update question.
struct TBNSaveAccountAnswer {
    std::string account;
    std::string password;
    std::string siteUrl;
    std::string siteName;
    bool secure = false;
};

struct TBNChooseAccountQuestion {
    std::vector<std::string> accounts;
    std::string siteUrl;
    std::string siteName;
};

// What the security-key driver page offers.
enum class TBNInstallDriverViewType : int { Install = 0, Start = 1, Update = 2 };

class TBNUIServiceProtocol {
  public:
    using SaveAccountReply = std::function<void(std::optional<TBNSaveAccountAnswer>)>;
    // The index of the chosen account in the question's list.
    using ChooseAccountReply = std::function<void(std::optional<uint64_t>)>;
    // The path of the backup file the user picked.
    using RestoreDatabaseReply = std::function<void(std::optional<std::string>)>;
    // true: create the identity; false: quit.
    using CreateSSLIdentityReply = std::function<void(bool)>;
    using Closed = std::function<void()>;

    virtual ~TBNUIServiceProtocol() = default;

    virtual void showSaveAccount(const TBNSaveAccountQuestion& question,
                                 SaveAccountReply reply) = 0;
    virtual void showChooseAccount(const TBNChooseAccountQuestion& question,
                                   ChooseAccountReply reply) = 0;
    virtual void showRestoreDatabase(RestoreDatabaseReply reply) = 0;
    // `closed` runs when the page goes away, whatever the user did there.
    virtual void showInstallDriver(TBNInstallDriverViewType type, Closed closed) = 0;
    // The local TLS identity is missing or about to expire: create it, or quit.
    virtual void showCreateSSLIdentityAlert(CreateSSLIdentityReply reply) = 0;
    // Creating the identity failed; the program quits once `closed` has run.
    virtual void showSSLIdentityFailedAlert(Closed closed) = 0;

    // Pages without an answer. Titles and messages are localisation keys.
    virtual void showGuide(const std::string& titleKey, const std::string& messageKey,
                           bool large) = 0;
    virtual void showRate() = 0;
    // Closes the page being shown, if any (its question is answered as cancelled).
    virtual void hideCurrentPopover() = 0;
};

// For runs without a display: every question is answered at once the way cancelling
// or closing its page would answer it; pages without an answer are only logged. The
// TLS identity alert is answered "quit" unless createSSLIdentity is set.
class TBNHeadlessUIService : public TBNUIServiceProtocol {
  public:
    struct Options {
        bool createSSLIdentity = false;
    };
    TBNHeadlessUIService() = default;
    explicit TBNHeadlessUIService(Options options) : options_(options) {}

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
    Options options_;
};

}  // namespace lumvane
