#include "core/service/TBNUIService.h"

#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {
constexpr const char* kTag = "ui|service";
}

void TBNHeadlessUIService::showSaveAccount(const TBNSaveAccountQuestion& question,
                                           SaveAccountReply reply) {
    TBN_LOG_INFO(kTag, "no display: {} question for {} answered as cancelled",
                 question.isUpdate ? "update" : "save", question.siteName);
    if (reply) reply(std::nullopt);
}

void TBNHeadlessUIService::showChooseAccount(const TBNChooseAccountQuestion& question,
                                             ChooseAccountReply reply) {
    TBN_LOG_INFO(kTag, "no display: account question for {} ({} accounts) answered as cancelled",
                 question.siteName, question.accounts.size());
    if (reply) reply(std::nullopt);
}

void TBNHeadlessUIService::showRestoreDatabase(RestoreDatabaseReply reply) {
    TBN_LOG_INFO(kTag, "no display: restore question answered as cancelled");
    if (reply) reply(std::nullopt);
}

void TBNHeadlessUIService::showInstallDriver(TBNInstallDriverViewType type, Closed closed) {
    TBN_LOG_INFO(kTag, "no display: security-key driver page ({}) closed", static_cast<int>(type));
    if (closed) closed();
}

void TBNHeadlessUIService::showCreateSSLIdentityAlert(CreateSSLIdentityReply reply) {
    TBN_LOG_WARN(kTag, "no display: the local TLS identity is {}",
                 options_.createSSLIdentity ? "created" : "refused");
    if (reply) reply(options_.createSSLIdentity);
}

void TBNHeadlessUIService::showSSLIdentityFailedAlert(Closed closed) {
    TBN_LOG_ERROR(kTag, "the local TLS identity could not be created");
    if (closed) closed();
}

void TBNHeadlessUIService::showGuide(const std::string& titleKey, const std::string& messageKey,
                                     bool large) {
    TBN_LOG_INFO(kTag, "no display: guide {} / {}{}", titleKey, messageKey,
                 large ? " (large)" : "");
}

void TBNHeadlessUIService::showRate() {
    TBN_LOG_INFO(kTag, "no display: rating page not shown");
}

void TBNHeadlessUIService::hideCurrentPopover() {}

}  // namespace lumvane
