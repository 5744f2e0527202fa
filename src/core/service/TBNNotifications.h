#pragma once
// The notices the application service shows the user. The application shell implements
// them with desktop notifications; TBNLogNotifications (below) writes each notice to the
// log instead, for runs without a display. Every operation may be called from any thread
// and must return promptly.
#include <string>

namespace lumvane {

class TBNNotifications {
  public:
    virtual ~TBNNotifications() = default;
    virtual void notifyOfBluetoothOff() = 0;
    virtual void notifyOfSearchPairedPhone() = 0;
    virtual void notifyOfWaitingDevice() = 0;
    virtual void notifyOfPiringLost() = 0;
    virtual void notifyOfClientNotAuthorized() = 0;
    virtual void notifyOfPiringSuccess() = 0;
    virtual void notifyOfPiringFailWithError(const std::string& description) = 0;
    virtual void notifyOfCopyPasswordFromPhoneToMacClipboardForLogin(const std::string& login) = 0;
    virtual void notifyOfCopyAccountIdFromPhoneToMacClipboardForLogin(const std::string& login) = 0;
    virtual void notifyOfCopyCommentFromPhoneToMacClipboardForLogin(const std::string& login) = 0;
    virtual void notifyOfCopyTwoFactorCodeFromPhoneToMacClipboardForLogin(
        const std::string& login) = 0;
    virtual void notifyOfCopyLoginFromPhoneToMacClipboard(const std::string& login) = 0;
    virtual void notifyOfSaveAccountForLogin(const std::string& login,
                                             const std::string& siteName) = 0;
    virtual void notifyOfAccessDenyForSiteName(const std::string& siteName) = 0;
    virtual void notifyOfAccessTimeoutForSiteName(const std::string& siteName) = 0;
};

// Writes every notice to the log at info level (logins and site names are not logged,
// only which notice it was).
class TBNLogNotifications : public TBNNotifications {
  public:
    void notifyOfBluetoothOff() override;
    void notifyOfSearchPairedPhone() override;
    void notifyOfWaitingDevice() override;
    void notifyOfPiringLost() override;
    void notifyOfClientNotAuthorized() override;
    void notifyOfPiringSuccess() override;
    void notifyOfPiringFailWithError(const std::string& description) override;
    void notifyOfCopyPasswordFromPhoneToMacClipboardForLogin(const std::string& login) override;
    void notifyOfCopyAccountIdFromPhoneToMacClipboardForLogin(const std::string& login) override;
    void notifyOfCopyCommentFromPhoneToMacClipboardForLogin(const std::string& login) override;
    void notifyOfCopyTwoFactorCodeFromPhoneToMacClipboardForLogin(
        const std::string& login) override;
    void notifyOfCopyLoginFromPhoneToMacClipboard(const std::string& login) override;
    void notifyOfSaveAccountForLogin(const std::string& login,
                                     const std::string& siteName) override;
    void notifyOfAccessDenyForSiteName(const std::string& siteName) override;
    void notifyOfAccessTimeoutForSiteName(const std::string& siteName) override;
};

}  // namespace lumvane
