#pragma once
// The desktop's own answers to browser extensions.
//
// As the handler of the host-storage service it answers pings (and registers new
// extension clients while the registration window is open), chooses among the accounts
// of a site, takes the logins an extension read from the user's Google account, and
// generates passwords. As a local storage service it is asked by TBNThriftProxy before
// the phone: only addLoginData does work here (duplicate check and the save or update
// question); every other storage operation answers nothing, which sends the request on
// to the phone.
//
// One instance lives for the whole process; the application service makes it with
// itself as delegate:
//
//   hostService_ = TBNThriftHostService::initWithDelegate(weakSelf);
//   auto hostProcessor = std::make_shared<TBNHostStorageServiceProcessor>(hostService_);
//   ... hostService_->openExtensionRegistration();   // when the user installs an extension
//
// Every operation may run on several server connection threads at once. The save,
// update and choose questions block their thread while the delegate waits for the user;
// they must never be asked on the main thread.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "extension/handlers/TBNThriftHostServiceDelegate.h"
#include "idl/protocols.h"
#include "runtime/Clock.h"

namespace lumvane {

class TBNSettings;
class TBNWaitManager;
class TBNProtocolHelper;
class TBNPasswordGenerator;

// Everything the host service talks to; unset members take the process-wide objects.
struct TBNThriftHostServiceOptions {
    std::shared_ptr<TBNSettings> settings;        // default: TBNSettings::sharedSettings()
    TBNWaitManager* waitManager = nullptr;        // default: TBNWaitManager::sharedManager()
    std::shared_ptr<Clock> clock;                 // registration window; default: steady
    TBNProtocolHelper* protocolHelper = nullptr;  // default: TBNProtocolHelper::sharedHelper()
    TBNPasswordGenerator* generator = nullptr;    // default: the shared generator
};

class TBNThriftHostService : public TBNHostStorageService,
                             public TBNStorageService,
                             public std::enable_shared_from_this<TBNThriftHostService> {
  public:
    using Options = TBNThriftHostServiceOptions;

    // How long the registration window stays open.
    static constexpr double kExtensionRegistrationSeconds = 120.0;

    static std::shared_ptr<TBNThriftHostService> initWithDelegate(
        std::weak_ptr<TBNThriftHostServiceDelegate> delegate, Options options = {});
    ~TBNThriftHostService() override;
    TBNThriftHostService(const TBNThriftHostService&) = delete;
    TBNThriftHostService& operator=(const TBNThriftHostService&) = delete;

    // Opens the registration window for kExtensionRegistrationSeconds from now; calling
    // it again restarts the window. Any thread.
    void openExtensionRegistration();
    bool isExtensionRegistrationOpen() const;

    std::shared_ptr<TBNThriftHostServiceDelegate> delegate() const;
    void setDelegate(std::weak_ptr<TBNThriftHostServiceDelegate> delegate);

    // Site origins whose save question the user declined in this run (a copy).
    std::set<std::string> declinedSave() const;

    // ---- Host-storage service ----
    std::shared_ptr<TBNPongTestResponse> sendPing(
        std::shared_ptr<TBNPingTestRequest> request) override;
    std::shared_ptr<TBNChooseSiteDataResponse> chooseSiteData(
        std::shared_ptr<TBNChooseSiteDataRequest> request) override;
    std::shared_ptr<TBNImportSiteDataFromGoogleResponse> importSiteDataFromGoogle(
        std::shared_ptr<TBNImportSiteDataFromGoogleRequest> request) override;
    std::shared_ptr<TBNGeneratePasswordResponse> generatePassword(
        std::shared_ptr<TBNGeneratePasswordRequest> request) override;

    // ---- Local storage service (null: ask the phone) ----
    std::shared_ptr<TBNGetLoginDataResponse> getLoginData(
        std::shared_ptr<TBNGetLoginDataRequest> request) override;
    // Expects approval, pause and the Base64 password already handled by the proxy.
    std::shared_ptr<TBNAddLoginDataResponse> addLoginData(
        std::shared_ptr<TBNAddLoginDataRequest> request) override;
    std::shared_ptr<TBNDeleteLoginDataResponse> deleteLoginData(
        std::shared_ptr<TBNDeleteLoginDataRequest> request) override;
    std::shared_ptr<TBNUpdateLoginDataResponse> updateLoginData(
        std::shared_ptr<TBNUpdateLoginDataRequest> request) override;
    std::shared_ptr<TBNGetSiteDataResponse> getSiteData(
        std::shared_ptr<TBNGetSiteDataRequest> request) override;
    std::shared_ptr<TBNGetSiteDataListResponse> getSiteDataList(
        std::shared_ptr<TBNGetSiteDataListRequest> request) override;
    std::shared_ptr<TBNDeleteSiteDataResponse> deleteSiteData(
        std::shared_ptr<TBNDeleteSiteDataRequest> request) override;
    std::shared_ptr<TBNGet2FACodeResponse> get2FACode(
        std::shared_ptr<TBNGet2FACodeRequest> request) override;

    // "scheme://host" of a URL (path, port, query and fragment dropped). A URL without a
    // scheme or without a host is its own origin, so distinct inputs stay distinct.
    static std::string siteOriginOfUrl(std::string_view url);
    // The site domain of a URL; empty when it has none.
    static std::string siteNameOfUrl(std::string_view url);

  private:
    struct Token {};

  public:
    TBNThriftHostService(Token, std::weak_ptr<TBNThriftHostServiceDelegate> delegate,
                         Options options);

  private:
    std::shared_ptr<TBNResponseInfo> responseInfo(const std::shared_ptr<TBNRequestInfo>& info,
                                                  std::shared_ptr<TBNError> error) const;
    // nullptr when the client may go on, else the error to answer.
    std::shared_ptr<TBNError> checkApprovedAndNotPaused(
        const std::shared_ptr<TBNAuthentication>& auth) const;

    Options options_;

    mutable std::mutex delegateMutex_;
    std::weak_ptr<TBNThriftHostServiceDelegate> delegate_;

    // Registration window and the secrets offered inside it; sendPing holds this lock
    // from its pause check to the approval.
    mutable std::mutex clientSecretMutex_;
    Clock::TimePoint extensionRegistrationDeadline_{};
    bool registrationOpened_ = false;
    std::map<std::string, std::string> clientSecretCache_;

    mutable std::mutex declinedMutex_;
    std::set<std::string> declinedSave_;

    // One save or update question at a time, and one account question at a time, so that
    // no answer of the user is ever taken for another question of the same kind.
    std::mutex saveQuestionMutex_;
    std::mutex chooseQuestionMutex_;
};

}  // namespace lumvane
