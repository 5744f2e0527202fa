#include "core/service/TBNNotifications.h"

#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {
constexpr const char* kTag = "ui|service|notice";
}

void TBNLogNotifications::notifyOfBluetoothOff() {
    TBN_LOG_INFO(kTag, "notifyOfBluetoothOff");
}

void TBNLogNotifications::notifyOfSearchPairedPhone() {
    TBN_LOG_INFO(kTag, "notifyOfSearchPairedPhone");
}

void TBNLogNotifications::notifyOfWaitingDevice() {
    TBN_LOG_INFO(kTag, "notifyOfWaitingDevice");
}

void TBNLogNotifications::notifyOfPiringLost() {
    TBN_LOG_INFO(kTag, "notifyOfPiringLost");
}

void TBNLogNotifications::notifyOfClientNotAuthorized() {
    TBN_LOG_INFO(kTag, "notifyOfClientNotAuthorized");
}

void TBNLogNotifications::notifyOfPiringSuccess() {
    TBN_LOG_INFO(kTag, "notifyOfPiringSuccess");
}

void TBNLogNotifications::notifyOfPiringFailWithError(const std::string& description) {
    TBN_LOG_INFO(kTag, "notifyOfPiringFailWithError: {}", description);
}

void TBNLogNotifications::notifyOfCopyPasswordFromPhoneToMacClipboardForLogin(const std::string&) {
    TBN_LOG_INFO(kTag, "notifyOfCopyPasswordFromPhoneToMacClipboardForLogin");
}

void TBNLogNotifications::notifyOfCopyAccountIdFromPhoneToMacClipboardForLogin(const std::string&) {
    TBN_LOG_INFO(kTag, "notifyOfCopyAccountIdFromPhoneToMacClipboardForLogin");
}

void TBNLogNotifications::notifyOfCopyCommentFromPhoneToMacClipboardForLogin(const std::string&) {
    TBN_LOG_INFO(kTag, "notifyOfCopyCommentFromPhoneToMacClipboardForLogin");
}

void TBNLogNotifications::notifyOfCopyTwoFactorCodeFromPhoneToMacClipboardForLogin(
    const std::string&) {
    TBN_LOG_INFO(kTag, "notifyOfCopyTwoFactorCodeFromPhoneToMacClipboardForLogin");
}

void TBNLogNotifications::notifyOfCopyLoginFromPhoneToMacClipboard(const std::string&) {
    TBN_LOG_INFO(kTag, "notifyOfCopyLoginFromPhoneToMacClipboard");
}

void TBNLogNotifications::notifyOfSaveAccountForLogin(const std::string&, const std::string&) {
    TBN_LOG_INFO(kTag, "notifyOfSaveAccountForLogin");
}

void TBNLogNotifications::notifyOfAccessDenyForSiteName(const std::string&) {
    TBN_LOG_INFO(kTag, "notifyOfAccessDenyForSiteName");
}

void TBNLogNotifications::notifyOfAccessTimeoutForSiteName(const std::string&) {
    TBN_LOG_INFO(kTag, "notifyOfAccessTimeoutForSiteName");
}

}  // namespace lumvane
