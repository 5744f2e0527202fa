#include "app/desktop/Notices.h"

#include <map>

#include "app/shell/LocalizationExtensions.h"
#include "extension/handlers/TBNThriftHostService.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

constexpr const char* kTags = "ui|app";
constexpr size_t kSplitLimit = 45;
constexpr int kRegistrationSeconds =
    static_cast<int>(TBNThriftHostService::kExtensionRegistrationSeconds);

// Length of a UTF-8 code point starting with this byte (1 for a stray byte).
size_t codePointBytes(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

// UTF-16 units of a UTF-8 text (four-byte code points take two).
size_t utf16Length(const std::string& text) {
    size_t units = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t n = codePointBytes(static_cast<unsigned char>(text[i]));
        units += n == 4 ? 2 : 1;
        i += n;
    }
    return units;
}

// The byte offset after at most `limit` UTF-16 units, never inside a code point.
size_t utf16Prefix(const std::string& text, size_t limit) {
    size_t units = 0;
    size_t i = 0;
    while (i < text.size()) {
        const size_t n = codePointBytes(static_cast<unsigned char>(text[i]));
        const size_t u = n == 4 ? 2 : 1;
        if (units + u > limit) break;
        units += u;
        i = std::min(text.size(), i + n);
    }
    return i;
}

const std::map<std::string, std::string>& englishTexts() {
    static const std::map<std::string, std::string> texts = {
        {"MENU_WARNING_BLUETOOTH_OFF", "Bluetooth is off"},
        {"MENU_WARNING_BLUETOOTH_OFF_MESSAGE",
         "Switch Bluetooth on so Lumvane can reach your phone."},
        {"MENU_WARNING_BLUETOOTH_OFF_BUTTON", "OK"},
        {"MENU_WARNING_SEARCH_PAIRED_PHONE", "Looking for your phone"},
        {"MENU_WARNING_SEARCH_PAIRED_PHONE_MESSAGE",
         "Open Lumvane on your phone and keep it near this computer."},
        {"MENU_WARNING_SEARCH_PAIRED_PHONE_BUTTON", "OK"},
        {"MENU_WARNING_CANNOT_FIND_PAIRED", "Cannot find your phone"},
        {"MENU_WARNING_CANNOT_FIND_PAIRED_MESSAGE",
         "Your paired phone is out of reach or its Bluetooth is off."},
        {"MENU_WARNING_CANNOT_FIND_PAIRED_BUTTON", "OK"},
        {"MENU_WARNING_CANNOT_FIND_LUMVANE", "Lumvane is not running on your phone"},
        {"MENU_WARNING_CANNOT_FIND_LUMVANE_MESSAGE",
         "Open Lumvane on your phone to use your passwords here."},
        {"MENU_WARNING_CANNOT_FIND_LUMVANE_BUTTON", "OK"},
        {"MENU_WARNING_DEVICE_DB_LOCKED", "Your phone's vault is locked"},
        {"MENU_WARNING_CANNOT_DB_LOCKED_MESSAGE", "Unlock Lumvane on your phone."},
        {"MENU_WARNING_CANNOT_DB_LOCKED_BUTTON", "OK"},
        {"MENU_WARNING_DEVICE_CHANGED_DEVICE_ID", "Pairing lost"},
        {"MENU_WARNING_DEVICE_CHANGED_DEVICE_ID_MESSAGE",
         "Your phone no longer knows this computer. Pair again from the menu."},
        {"MENU_WARNING_DEVICE_CHANGED_DEVICE_ID_BUTTON", "OK"},
        {"MENU_WARNING_DEVICE_PAIR_SUCCESS", "Phone paired"},
        {"MENU_WARNING_DEVICE_PAIR_SUCCESS_MESSAGE", "Your phone and this computer are paired."},
        {"MENU_WARNING_DEVICE_PAIR_SUCCESS_BUTTON", "OK"},
        {"MENU_WARNING_DEVICE_PAIR_FAIL", "Pairing failed"},
        {"MENU_WARNING_DEVICE_PAIR_FAIL_MESSAGE",
         "Your phone and this computer could not be paired. Please try again."},
        {"MENU_WARNING_DEVICE_PAIR_FAIL_BUTTON", "OK"},
        {"MENU_WARNING_WAITING_DEVICE_RESPONCE", "Waiting for your phone"},
        {"MENU_WARNING_WAITING_DEVICE_RESPONCE_MESSAGE",
         "Confirm the request in Lumvane on your phone."},
        {"MENU_WARNING_WAITING_DEVICE_RESPONCE_BUTTON", "OK"},
        {"MENU_INFO_COPY_PASS_TO_OSX_TITLE", "Password copied"},
        {"MENU_INFO_COPY_PASS_TO_OSX_MESSAGE", "The new password is on the clipboard."},
        {"MENU_INFo_COPY_PASS_TO_OSX_BUTTON", "OK"},
        {"MENU_INFO_COPY_PASS_TO_IOS_TITLE", "Password sent"},
        {"MENU_INFO_COPY_PASS_TO_IOS_MESSAGE", "The new password is on your phone's clipboard."},
        {"MENU_INFo_COPY_PASS_TO_IOS_BUTTON", "OK"},
        {"MENU_INFO_COPY_PASS_TO_OSX_AND_IOS_TITLE", "Password copied"},
        {"MENU_INFO_COPY_PASS_TO_OSX_AND_IOS_MESSAGE",
         "The new password is on this computer's and your phone's clipboards."},
        {"MENU_INFo_COPY_PASS_TO_OSX_AND_IOS_BUTTON", "OK"},
        {"MENU_INFO_COPY_LOGIN_TO_OSX_FROM_IOS_TITLE", "Login copied"},
        {"MENU_INFO_COPY_LOGIN_TO_OSX_FROM_IOS_MESSAGE", "The login %@ is on the clipboard."},
        {"MENU_INFo_COPY_LOGIN_TO_OSX_FROM_IOS_BUTTON", "OK"},
        {"MENU_INFO_COPY_PASS_TO_OSX_FROM_IOS_TITLE", "Password copied"},
        {"MENU_INFO_COPY_PASS_TO_OSX_FROM_IOS_MESSAGE", "The password of %@ is on the clipboard."},
        {"MENU_INFo_COPY_PASS_TO_OSX_FROM_IOS_BUTTON", "OK"},
        {"MENU_INFO_COPY_ACCID_TO_OSX_FROM_IOS_TITLE", "Account id copied"},
        {"MENU_INFO_COPY_ACCID_TO_OSX_FROM_IOS_MESSAGE",
         "The account id of %@ is on the clipboard."},
        {"MENU_INFo_COPY_ACCID_TO_OSX_FROM_IOS_BUTTON", "OK"},
        {"MENU_INFO_COPY_COMM_TO_OSX_FROM_IOS_TITLE", "Comment copied"},
        {"MENU_INFO_COPY_COMM_TO_OSX_FROM_IOS_MESSAGE", "The comment of %@ is on the clipboard."},
        {"MENU_INFo_COPY_COMM_TO_OSX_FROM_IOS_BUTTON", "OK"},
        {"MENU_INFO_COPY_CODE_TO_OSX_FROM_IOS_TITLE", "Code copied"},
        {"MENU_INFO_COPY_CODE_TO_OSX_FROM_IOS_MESSAGE",
         "The two-factor code of %@ is on the clipboard."},
        {"MENU_INFo_COPY_CODE_TO_OSX_FROM_IOS_BUTTON", "OK"},
        {"MENU_INFO_SAVED_ACCOUNT_TITLE", "Login saved"},
        {"MENU_INFO_SAVED_ACCOUNT_MESSAGE", "%@ for %@ is saved on your phone."},
        {"MENU_INFO_SAVED_ACCOUNT_BUTTON", "OK"},
        {"MENU_INFO_ACCESS_DENY_TITLE", "Access refused"},
        {"MENU_INFO_ACCESS_DENY_MESSAGE", "Your phone refused the request of %@."},
        {"MENU_INFO_ACCESS_DENY_BUTTON", "OK"},
        {"MENU_INFO_ACCESS_TIMEOUT_TITLE", "No answer from your phone"},
        {"MENU_INFO_ACCESS_TIMEOUT_MESSAGE", "The request of %@ was not confirmed in time."},
        {"MENU_INFO_ACCESS_TIMEOUT_BUTTON", "OK"},
        {"MENU_INFO_CLIENT_NOT_AUTHORIZED_TITLE", "Not authorised"},
        {"MENU_INFO_CLIENT_NOT_AUTHORIZED_MESSAGE",
         "Your phone no longer accepts this computer. Pair again from the menu."},
        {"MENU_INFO_CLIENT_NOT_AUTHORIZED_BUTTON", "OK"},
        // Status menu.
        {"MENU_WARNING_NOT_INITIALIZED", "Starting…"},
        {"MENU_WARNING_SEARCHING_PHONE", "Looking for your phone…"},
        {"MENU_WARNING_NOT_PAIRED", "No phone paired: pair one"},
        {"MENU_WARNING_U2F_DRIVER_NOT_INSTALLED", "Install the security-key driver"},
        {"MENU_WARNING_U2F_DRIVER_NOT_RUNNING", "Start the security-key driver"},
        {"MENU_ITEM_PASSWORD_GENERATOR", "Password Generator…"},
        {"MENU_ITEM_UNPAIR", "Unpair"},
        {"MENU_ITEM_START_PAIR_TO_OTHER_QRCODE", "Pair Another Phone…"},
        {"MENU_ITEM_START_PAIR_VIA_QRCODE", "Pair Your Phone…"},
        {"MENU_ITEM_ABOUT", "About Lumvane"},
        {"MENU_ITEM_UPDATE", "Check for Updates…"},
        {"MENU_ITEM_EXTENSION", "Browser Extensions"},
        {"MENU_ITEM_INSTALL_SAFARI_EXT", "Safari"},
        {"MENU_ITEM_INSTALL_CHROME_EXT", "Chrome"},
        {"MENU_ITEM_INSTALL_CHROMIUM_EXT", "Chromium"},
        {"MENU_ITEM_INSTALL_EDGE_EXT", "Edge"},
        {"MENU_ITEM_INSTALL_FIREFOX_EXT", "Firefox"},
        {"MENU_ITEM_INSTALL_OPERA_EXT", "Opera"},
        {"MENU_ITEM_INSTALL_BRAVE_EXT", "Brave"},
        {"MENU_ITEM_INSTALL_VIVALDI_EXT", "Vivaldi"},
        {"MENU_ITEM_IMPORT", "Import Logins…"},
        {"MENU_ITEM_EXPORT", "Export Logins…"},
        {"MENU_ITEM_PREFERENCES", "Preferences"},
        {"MENU_ITEM_OPEN_PREFERENCES_FOLDER", "Open Settings Folder"},
        {"MENU_ITEM_START_ON_BOOT", "Start at Login"},
        {"MENU_ITEM_ALLOW_ANONYMOUS_DATA", "Send Anonymous Usage Data"},
        {"MENU_ITEM_LOGGING", "Logging"},
        {"MENU_ITEM_LOGGING_DISABLED", "Off"},
        {"MENU_ITEM_LOGGING_INFO", "Info"},
        {"MENU_ITEM_LOGGING_DEBUG", "Debug"},
        {"MENU_ITEM_LOGGING_VERBOSE", "Verbose"},
        {"MENU_ITEM_LOGGING_OPENINFINDER", "Open Log Folder"},
        {"MENU_ITEM_LOGGING_SENDLOGS", "Send Logs…"},
        {"MENU_ITEM_BACKUPLOCATION", "Backups"},
        {"MENU_ITEM_OPENINFINDER", "Open Backup Folder"},
        {"MENU_ITEM_CHANGELOCATION", "Change Backup Folder…"},
        {"MENU_ITEM_SUPPORT", "Support"},
        {"MENU_ITEM_FEEDBACK", "Send Feedback…"},
        {"MENU_ITEM_HELP", "Help"},
        {"MENU_ITEM_PRIVACY_POLICY", "Privacy Policy"},
        {"MENU_ITEM_TERMS_OF_USE", "Terms of Use"},
        {"MENU_ITEM_REVIEW_ON_FACEBOOK", "Review on Facebook"},
        {"MENU_ITEM_SHARE_VIA_FACEBOOK", "Share on Facebook"},
        {"MENU_ITEM_SHARE_VIA_TWITTER", "Share on Twitter"},
        {"MENU_ITEM_SHARE_VIA_LINKEDIN", "Share on LinkedIn"},
        {"MENU_ITEM_EXTENDED", "Extended"},
        {"MENU_ITEM_PAUSE", "Pause"},
        {"MENU_ITEM_UNPAUSE", "Resume"},
        {"MENU_ITEM_QUIT", "Quit Lumvane"},
        {"MENU_ITEM_CREATE_ACCOUNT", "Create Account"},
        {"MENU_ITEM_FLUSH_ALL_LOGS", "Flush Logs"},
        {"MENU_ITEM_CLEAR_CACHE", "Clear Icon Cache"},
        {"MENU_ITEM_REGENERATE_PASSWORD", "New Password"},
        {"MENU_ITEM_COPY_PASSWORD_TO_OSX", "Copy to This Computer"},
        {"MENU_ITEM_COPY_PASSWORD_TO_IOS", "Copy to Phone"},
        {"MENU_ITEM_COPY_PASSWORD_TO_OSX_AND_IOS", "Copy to Both"},
        {"MENU_ITEM_CUSTOMIZE_PASSWORD_GENERATOR", "Customise…"},
        {"MENU_INFO_REGISTRATION_OPEN_TITLE", "Add the Lumvane extension"},
        {"MENU_INFO_REGISTRATION_OPEN_MESSAGE",
         "%@ shows the extension's page. Lumvane accepts a new extension for %@ seconds."},
        {"MENU_INFO_REGISTRATION_NO_BROWSER_MESSAGE",
         "%@ could not be started: open the extension's page in it yourself. Lumvane "
         "accepts a new extension for %@ seconds."},
        {"MENU_INFO_REGISTRATION_ONLY_MESSAGE", "Lumvane accepts a new extension for %@ seconds."},
        {"MENU_INFO_REGISTRATION_OPEN_BUTTON", "OK"},
        {"GUIDE_WELCOME_TITLE", "Welcome to Lumvane"},
        {"GUIDE_WELCOME_MESSAGE", "Lumvane lives in your panel. Click its icon for the menu."},
        {"RESTORE_LOADPANEL_TITLE", "Backup Folder"},
        {"RESTORE_LOADPANEL_PROMPT", "Choose"},
    };
    return texts;
}

}  // namespace

std::pair<std::string, std::string> splitNoticeMessage(const std::string& text) {
    if (utf16Length(text) <= kSplitLimit) return {text, ""};
    std::string first;
    std::string second;
    bool overflow = false;
    size_t start = 0;
    for (;;) {
        const size_t space = text.find(' ', start);
        std::string word =
            text.substr(start, space == std::string::npos ? std::string::npos : space - start);
        if (!overflow && utf16Length(first) + utf16Length(word) + 1 <= kSplitLimit) {
            first = first.empty() ? word : first + " " + word;
        } else {
            if (first.empty()) {
                const size_t cut = utf16Prefix(word, kSplitLimit);
                first = word.substr(0, cut) + "-";
                word = word.substr(cut);
            }
            second = second.empty() ? word : second + " " + word;
            overflow = true;
        }
        if (space == std::string::npos) break;
        start = space + 1;
    }
    return {first, second};
}

TBNSystemNotifictionService::TBNSystemNotifictionService(std::shared_ptr<NoticeBackend> backend,
                                                         std::shared_ptr<MainLoop> loop)
    : backend_(std::move(backend)), loop_(std::move(loop)) {}

void TBNSystemNotifictionService::showNotification(const std::string& message,
                                                   const std::optional<std::string>& title,
                                                   const std::optional<std::string>& buttonTitle) {
    DesktopNotice notice;
    notice.title = title.value_or("");
    std::tie(notice.subtitle, notice.body) = splitNoticeMessage(message);
    notice.buttonTitle = buttonTitle.value_or("");

    std::lock_guard<std::mutex> lock(mutex_);
    // The notice before goes (replaced in place when the server can), and so does its timer.
    if (timer_ != 0) loop_->cancel(timer_);
    timer_ = 0;
    const uint32_t previous = shown_;
    shown_ = backend_ ? backend_->show(notice, previous) : 0;
    if (previous != 0 && shown_ != previous && backend_) backend_->close(previous);
    const uint64_t generation = ++generation_;
    std::weak_ptr<TBNSystemNotifictionService> weak = weak_from_this();
    timer_ = loop_->postAfter(kRemoveAfterSeconds, [weak, generation] {
        if (auto self = weak.lock()) self->timerRunner(generation);
    });
}

void TBNSystemNotifictionService::timerRunner(uint64_t generation) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != generation_) return;  // a newer notice took over
    if (shown_ != 0 && backend_) backend_->close(shown_);
    shown_ = 0;
    timer_ = 0;
}

StartupNoticeQueue::StartupNoticeQueue(std::weak_ptr<TBNNotificationServiceProtocol> service,
                                       std::shared_ptr<MainLoop> loop)
    : service_(std::move(service)), loop_(std::move(loop)) {}

void StartupNoticeQueue::add(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_.push_back(text);
        if (showing_) return;
        showing_ = true;
    }
    std::weak_ptr<StartupNoticeQueue> weak = weak_from_this();
    loop_->post([weak] {
        if (auto self = weak.lock()) self->showNext();
    });
}

void StartupNoticeQueue::showNext() {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_.empty()) {
            showing_ = false;
            return;
        }
        text = waiting_.front();
        waiting_.erase(waiting_.begin());
    }
    if (auto service = service_.lock()) {
        service->showNotification(text, std::string("Lumvane"), std::nullopt);
    }
    std::weak_ptr<StartupNoticeQueue> weak = weak_from_this();
    loop_->postAfter(TBNSystemNotifictionService::kRemoveAfterSeconds, [weak] {
        if (auto self = weak.lock()) self->showNext();
    });
}

std::optional<uint32_t> TBNSystemNotifictionService::shownNotice() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shown_ == 0) return std::nullopt;
    return shown_;
}

std::string desktopText(const std::string& key) {
    std::string text = LocalizationExtensions::localizedString(key);
    if (text != key) return text;
    const auto& english = englishTexts();
    auto it = english.find(key);
    return it == english.end() ? key : it->second;
}

std::string formatObjects(const std::string& format, const std::vector<std::string>& arguments) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '@') {
            if (next < arguments.size()) out += arguments[next];
            ++next;
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

DesktopNotifications::DesktopNotifications(std::weak_ptr<TBNNotificationServiceProtocol> service)
    : service_(std::move(service)) {}

std::shared_ptr<TBNNotificationServiceProtocol> DesktopNotifications::notificationService() const {
    return service_.lock();
}

void DesktopNotifications::notify(const char* titleKey, const char* messageKey,
                                  const char* buttonKey,
                                  const std::vector<std::string>& arguments) {
    auto service = service_.lock();
    TBN_LOG_INFO(kTags, "notice {}", titleKey);
    if (!service) return;
    service->showNotification(formatObjects(desktopText(messageKey), arguments),
                              desktopText(titleKey), desktopText(buttonKey));
}

void DesktopNotifications::notifyOfBluetoothOff() {
    notify("MENU_WARNING_BLUETOOTH_OFF", "MENU_WARNING_BLUETOOTH_OFF_MESSAGE",
           "MENU_WARNING_BLUETOOTH_OFF_BUTTON");
}
void DesktopNotifications::notifyOfSearchPairedPhone() {
    notify("MENU_WARNING_SEARCH_PAIRED_PHONE", "MENU_WARNING_SEARCH_PAIRED_PHONE_MESSAGE",
           "MENU_WARNING_SEARCH_PAIRED_PHONE_BUTTON");
}
void DesktopNotifications::notifyOfCannotFindPairedPhone() {
    notify("MENU_WARNING_CANNOT_FIND_PAIRED", "MENU_WARNING_CANNOT_FIND_PAIRED_MESSAGE",
           "MENU_WARNING_CANNOT_FIND_PAIRED_BUTTON");
}
void DesktopNotifications::notifyOfCannotFindLumvaneOnPhone() {
    notify("MENU_WARNING_CANNOT_FIND_LUMVANE", "MENU_WARNING_CANNOT_FIND_LUMVANE_MESSAGE",
           "MENU_WARNING_CANNOT_FIND_LUMVANE_BUTTON");
}
void DesktopNotifications::notifyOfDatabaseIsLocked() {
    notify("MENU_WARNING_DEVICE_DB_LOCKED", "MENU_WARNING_CANNOT_DB_LOCKED_MESSAGE",
           "MENU_WARNING_CANNOT_DB_LOCKED_BUTTON");
}
void DesktopNotifications::notifyOfPiringLost() {
    notify("MENU_WARNING_DEVICE_CHANGED_DEVICE_ID", "MENU_WARNING_DEVICE_CHANGED_DEVICE_ID_MESSAGE",
           "MENU_WARNING_DEVICE_CHANGED_DEVICE_ID_BUTTON");
}
void DesktopNotifications::notifyOfPiringSuccess() {
    notify("MENU_WARNING_DEVICE_PAIR_SUCCESS", "MENU_WARNING_DEVICE_PAIR_SUCCESS_MESSAGE",
           "MENU_WARNING_DEVICE_PAIR_SUCCESS_BUTTON");
}
void DesktopNotifications::notifyOfPiringFailWithError(const std::string& description) {
    (void)description;  // the same texts whatever went wrong
    notify("MENU_WARNING_DEVICE_PAIR_FAIL", "MENU_WARNING_DEVICE_PAIR_FAIL_MESSAGE",
           "MENU_WARNING_DEVICE_PAIR_FAIL_BUTTON");
}
void DesktopNotifications::notifyOfWaitingDevice() {
    notify("MENU_WARNING_WAITING_DEVICE_RESPONCE", "MENU_WARNING_WAITING_DEVICE_RESPONCE_MESSAGE",
           "MENU_WARNING_WAITING_DEVICE_RESPONCE_BUTTON");
}
void DesktopNotifications::notifyOfCopyPasswordToMacClipboard() {
    notify("MENU_INFO_COPY_PASS_TO_OSX_TITLE", "MENU_INFO_COPY_PASS_TO_OSX_MESSAGE",
           "MENU_INFo_COPY_PASS_TO_OSX_BUTTON");
}
void DesktopNotifications::notifyOfCopyPasswordToPhoneClipboard() {
    notify("MENU_INFO_COPY_PASS_TO_IOS_TITLE", "MENU_INFO_COPY_PASS_TO_IOS_MESSAGE",
           "MENU_INFo_COPY_PASS_TO_IOS_BUTTON");
}
void DesktopNotifications::notifyOfCopyPasswordToMacAndPhoneClipboards() {
    notify("MENU_INFO_COPY_PASS_TO_OSX_AND_IOS_TITLE", "MENU_INFO_COPY_PASS_TO_OSX_AND_IOS_MESSAGE",
           "MENU_INFo_COPY_PASS_TO_OSX_AND_IOS_BUTTON");
}
void DesktopNotifications::notifyOfExtensionRegistrationOpen(const std::string& browser,
                                                             bool browserStarted) {
    const std::string seconds = std::to_string(kRegistrationSeconds);
    if (browser.empty()) {
        notify("MENU_INFO_REGISTRATION_OPEN_TITLE", "MENU_INFO_REGISTRATION_ONLY_MESSAGE",
               "MENU_INFO_REGISTRATION_OPEN_BUTTON", {seconds});
    } else {
        notify("MENU_INFO_REGISTRATION_OPEN_TITLE",
               browserStarted ? "MENU_INFO_REGISTRATION_OPEN_MESSAGE"
                              : "MENU_INFO_REGISTRATION_NO_BROWSER_MESSAGE",
               "MENU_INFO_REGISTRATION_OPEN_BUTTON", {browser, seconds});
    }
}
void DesktopNotifications::notifyOfCopyLoginFromPhoneToMacClipboard(const std::string& login) {
    notify("MENU_INFO_COPY_LOGIN_TO_OSX_FROM_IOS_TITLE",
           "MENU_INFO_COPY_LOGIN_TO_OSX_FROM_IOS_MESSAGE",
           "MENU_INFo_COPY_LOGIN_TO_OSX_FROM_IOS_BUTTON", {login});
}
void DesktopNotifications::notifyOfCopyPasswordFromPhoneToMacClipboardForLogin(
    const std::string& login) {
    notify("MENU_INFO_COPY_PASS_TO_OSX_FROM_IOS_TITLE",
           "MENU_INFO_COPY_PASS_TO_OSX_FROM_IOS_MESSAGE",
           "MENU_INFo_COPY_PASS_TO_OSX_FROM_IOS_BUTTON", {login});
}
void DesktopNotifications::notifyOfCopyAccountIdFromPhoneToMacClipboardForLogin(
    const std::string& login) {
    notify("MENU_INFO_COPY_ACCID_TO_OSX_FROM_IOS_TITLE",
           "MENU_INFO_COPY_ACCID_TO_OSX_FROM_IOS_MESSAGE",
           "MENU_INFo_COPY_ACCID_TO_OSX_FROM_IOS_BUTTON", {login});
}
void DesktopNotifications::notifyOfCopyCommentFromPhoneToMacClipboardForLogin(
    const std::string& login) {
    notify("MENU_INFO_COPY_COMM_TO_OSX_FROM_IOS_TITLE",
           "MENU_INFO_COPY_COMM_TO_OSX_FROM_IOS_MESSAGE",
           "MENU_INFo_COPY_COMM_TO_OSX_FROM_IOS_BUTTON", {login});
}
void DesktopNotifications::notifyOfCopyTwoFactorCodeFromPhoneToMacClipboardForLogin(
    const std::string& login) {
    notify("MENU_INFO_COPY_CODE_TO_OSX_FROM_IOS_TITLE",
           "MENU_INFO_COPY_CODE_TO_OSX_FROM_IOS_MESSAGE",
           "MENU_INFo_COPY_CODE_TO_OSX_FROM_IOS_BUTTON", {login});
}
void DesktopNotifications::notifyOfSaveAccountForLogin(const std::string& login,
                                                       const std::string& siteName) {
    notify("MENU_INFO_SAVED_ACCOUNT_TITLE", "MENU_INFO_SAVED_ACCOUNT_MESSAGE",
           "MENU_INFO_SAVED_ACCOUNT_BUTTON", {login, siteName});
}
void DesktopNotifications::notifyOfAccessDenyForSiteName(const std::string& siteName) {
    notify("MENU_INFO_ACCESS_DENY_TITLE", "MENU_INFO_ACCESS_DENY_MESSAGE",
           "MENU_INFO_ACCESS_DENY_BUTTON", {siteName});
}
void DesktopNotifications::notifyOfAccessTimeoutForSiteName(const std::string& siteName) {
    notify("MENU_INFO_ACCESS_TIMEOUT_TITLE", "MENU_INFO_ACCESS_TIMEOUT_MESSAGE",
           "MENU_INFO_ACCESS_TIMEOUT_BUTTON", {siteName});
}
void DesktopNotifications::notifyOfClientNotAuthorized() {
    notify("MENU_INFO_CLIENT_NOT_AUTHORIZED_TITLE", "MENU_INFO_CLIENT_NOT_AUTHORIZED_MESSAGE",
           "MENU_INFO_CLIENT_NOT_AUTHORIZED_BUTTON");
}

}  // namespace lumvane
