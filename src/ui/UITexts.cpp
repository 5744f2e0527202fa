// Our English texts for the localisation keys of the pages: short and plain. A strings
// table of the application that has a key wins over the text here.
#include <QHash>

#include "ui/PageSupport.h"

namespace lumvane::ui {

namespace {

const QHash<QString, QString>& table() {
    static const QHash<QString, QString> texts = {
        // Shared buttons
        {"BUTTON_OK", "OK"},
        {"BUTTON_CANCEL", "Cancel"},
        {"BUTTON_CLOSE", "Close"},
        {"BUTTON_CHOOSE", "Choose…"},
        // Choose account
        {"CHOOSE_ACCOUNT_TITLE", "Which account?"},
        {"CHOOSE_ACCOUNT_MESSAGE", "Pick the account to sign in with on this site."},
        {"CHOOSE_ACCOUNT_OK_BUTTON", "Use account"},
        // Save account
        {"SAVE_TEXTFIELD_TITLE", "Save this login?"},
        {"SAVING_TEXTFIELD_TITLE", "Saving the login…"},
        {"UPDATE_TEXTFIELD_TITLE", "Update this login?"},
        {"SAVE_BUTTON", "Save"},
        {"UPDATE_BUTTON", "Update"},
        {"SAVE_SITE_PLACEHOLDER", "Site"},
        {"SAVE_ACCOUNT_PLACEHOLDER", "Account"},
        {"SAVE_PASSWORD_PLACEHOLDER", "Password"},
        {"SAVE_SECURE_LABEL", "Ask the phone before filling"},
        {"SAVE_SHOW_PASSWORD", "Show"},
        {"SAVE_HIDE_PASSWORD", "Hide"},
        {"SAVE_WAITING_TEXT", "Waiting for your phone… Open Lumvane on the phone."},
        {"SAVE_AUTOSAVE_HINT", "Saves by itself in a few seconds. Touch anything to change it."},
        {"SAVE_MENU_ITEM_ONCE", "Not now"},
        {"SAVE_MENU_ITEM_NEVER_THIS_SITE", "Never for this site"},
        {"SAVE_MENU_ITEM_NEVER_THIS_ACCOUNT", "Never for this account"},
        {"SAVE_MENU_ITEM_NEVER_THIS_ACCOUNT_AND_SITE", "Never for this account on this site"},
        // Phone texts
        {"MESSAGE_UNKNOWN_DEVICE", "Unknown phone"},
        {"MESSAGE_UNKNOWN_MODEL", "Unknown model"},
        {"MESSAGE_OS_VERSION", ", system %1"},
        {"MESSAGE_LUMVANE_VERSION", "Lumvane %1"},
        // Pair device
        {"PAIR_SELECT_TEXTFIELD_TITLE", "Pick your phone"},
        {"PAIR_PAIRING_TEXTFIELD_TITLE", "Check the code on your phone"},
        {"PAIR_PAIRING_MESSAGE", "Accept the pairing on the phone if it shows this code."},
        {"PAIR_SEARCHING_TEXT", "Looking for phones nearby…"},
        {"PAIR_BUTTON", "Pair"},
        {"PAIR_TRY_AGAIN_BUTTON", "Try again"},
        {"PAIR_PAIRED_MESSAGE", "Paired. Your phone is ready."},
        {"PAIR_FAILED_NOTAUTHORIZED_MESSAGE_TEXTFIELD_TITLE", "The phone refused the pairing."},
        {"PAIR_FAILED_TIMEDOUT_MESSAGE_TEXTFIELD_TITLE", "The phone did not answer in time."},
        // QR pairing window
        {"QRCODE_WINDOW_TITLE", "Pair a phone"},
        {"QRCODE_INFO_TEXT",
         "Open Lumvane on your phone and scan this code to pair it with this computer."},
        {"QRCODE_WAITING_TEXT", "Preparing the code…"},
        // Guides
        {"GUIDE_WELCOME_TITLE", "Lumvane is running"},
        {"GUIDE_WELCOME_MESSAGE",
         "Click this icon for the menu: pair your phone, make passwords and more."},
        {"GUIDE_FIRSTFILL_TITLE", "Filled from your phone"},
        {"GUIDE_FIRSTFILL_MESSAGE",
         "Your phone sent this login. Lumvane fills logins like this from now on."},
        {"GUIDE_RESET_ANALYTICS_TITLE", "Anonymous reports"},
        {"GUIDE_RESET_ANALYTICS_MESSAGE",
         "Lumvane sends anonymous usage reports only where you allow it. Your earlier "
         "choice was reset to the default for your region."},
        // Backup and restore
        {"BACKUP_TITLE", "Back up the vault"},
        {"BACKUP_MESSAGE", "Where should the backup go?"},
        {"BACKUP_BUTTON", "Back up"},
        {"BACKUP_SAVEPANEL_TITLE", "Save the backup"},
        {"BACKUP_SAVEPANEL_PROMPT", "Save"},
        {"RESTORE_TITLE", "Restore the vault"},
        {"RESTORE_MESSAGE", "Your phone asks for a backup. Pick the file to send it."},
        {"RESTORE_BUTTON", "Restore"},
        {"RESTORE_LOADPANEL_TITLE", "Pick a backup"},
        {"RESTORE_LOADPANEL_PROMPT", "Restore"},
        {"BACKUP_NO_LOCATION", "No file chosen"},
        // Password generator
        {"PASSWORD_GENERATOR_VC_TITLE", "New password"},
        {"PASSWORD_GENERATOR_VC_LENGTH", "Length"},
        {"PASSWORD_GENERATOR_VC_CAPITALS", "Capitals"},
        {"PASSWORD_GENERATOR_VC_DIGITS", "Digits"},
        {"PASSWORD_GENERATOR_VC_SYMBOLS", "Symbols"},
        {"PASSWORD_GENERATOR_VC_PROFILE", "Strength"},
        {"PASSWORD_GENERATOR_VC_CUSTOM", "Custom"},
        {"PASSWORD_GENERATOR_VC_HIGH", "Preset"},
        {"PASSWORD_GENERATOR_VC_NEW_BUTTON", "New"},
        {"PASSWORD_GENERATOR_VC_COPY_BUTTON", "Copy"},
        {"PASSWORD_GENERATOR_VC_SAVE_BUTTON", "Save"},
        {"PASSWORD_GENERATOR_VC_COPIED", "Copied. The clipboard is cleared again soon."},
        {"PASSWORD_GENERATOR_VC_PASSWORD_STRENGTH_VERYWEAK", "Very weak"},
        {"PASSWORD_GENERATOR_VC_PASSWORD_STRENGTH_WEAK", "Weak"},
        {"PASSWORD_GENERATOR_VC_PASSWORD_STRENGTH_GOOD", "Good"},
        {"PASSWORD_GENERATOR_VC_PASSWORD_STRENGTH_STRONG", "Strong"},
        {"PASSWORD_GENERATOR_VC_PASSWORD_STRENGTH_VERYSTRONG", "Very strong"},
        {"MENU_INFO_COPY_PASS_TO_OSX_TITLE", "Password copied"},
        {"MENU_INFO_COPY_PASS_TO_OSX_MESSAGE", "The new password is on the clipboard."},
        {"MENU_INFo_COPY_PASS_TO_OSX_BUTTON", "OK"},
        // Install driver (the security key's access to /dev/uhid)
        {"INSTALL_U2F_DRIVER_TITLE", "Set up the security key"},
        {"INSTALL_U2F_DRIVER_MESSAGE",
         "To use your phone as a security key, Lumvane needs access to /dev/uhid. "
         "Your password is asked once."},
        {"INSTALL_U2F_DRIVER_BUTTON", "Set up"},
        {"INSTALL_U2F_DRIVER_PROCESSING", "Setting up… Enter your password if asked."},
        {"RUN_U2F_DRIVER_TITLE", "Start the security key"},
        {"RUN_U2F_DRIVER_MESSAGE",
         "The security key is set up but not running. Start it to use your phone as a "
         "security key."},
        {"RUN_U2F_DRIVER_BUTTON", "Start"},
        {"RUN_U2F_DRIVER_PROCESSING", "Starting… Enter your password if asked."},
        {"UPDATE_U2F_DRIVER_TITLE", "Update the security key"},
        {"UPDATE_U2F_DRIVER_MESSAGE",
         "The security key set-up is out of date. Update it to keep using your phone as a "
         "security key."},
        {"UPDATE_U2F_DRIVER_BUTTON", "Update"},
        {"UPDATE_U2F_DRIVER_PROCESSING", "Updating… Enter your password if asked."},
        {"U2F_DRIVER_DONE", "Done. Your phone can now act as a security key."},
        {"U2F_DRIVER_FAILED", "That did not work: %1. Try again?"},
        // About and debug settings
        {"ABOUT_TITLE", "Lumvane"},
        {"TEXTFIELD_VERSION", "Version %1"},
        {"TEXTFIELD_VERSION_EXTENDED", "Version %1 (extended mode)"},
        {"ABOUT_MESSAGE", "Your phone keeps your passwords. Lumvane brings them to this computer."},
        {"ABOUT_WEBSITE", "Web site"},
        {"ABOUT_PRIVACY", "Privacy policy"},
        {"DEBUG_TITLE", "Debug settings"},
        {"DEBUG_EXTENDED_MODE", "Extended mode (desktop)"},
        {"DEBUG_EXT_EXTENDED_MODE", "Extended mode (browser extension)"},
        {"DEBUG_YUBIKEY", "Security key support"},
        {"DEBUG_PRERELEASE", "Pre-release updates"},
        {"DEBUG_BLE_TESTING", "Bluetooth testing"},
        {"DEBUG_COPY_BACKUP", "Also copy backups to"},
        {"DEBUG_BACKUP_PANEL_TITLE", "Alt backup folder"},
        // Rate
        {"RATE_TITLE", "Enjoying Lumvane?"},
        {"RATE_QUESTION", "Would you rate Lumvane? It takes a second."},
        {"RATE_STARS", "How many stars?"},
        {"RATE_DONE", "Thank you! Would you write a short review too?"},
        {"RATE_NO_BUTTON", "No"},
        {"RATE_LATER_BUTTON", "Later"},
        {"RATE_RATE_BUTTON", "Rate"},
        {"RATE_REVIEW_BUTTON", "Review"},
        // Guide window
        {"GUIDE_WINDOW_TITLE", "Quick guide"},
        {"GUIDE_SKIP_BUTTON", "Skip"},
        {"GUIDE_BACK_BUTTON", "Back"},
        {"GUIDE_NEXT_BUTTON", "Next"},
        {"GUIDE_FINISH_BUTTON", "Finish"},
        // TLS identity alerts
        {"SSL_IDENTITY_TITLE", "Secure connection to the browser"},
        {"SSL_IDENTITY_MESSAGE",
         "Lumvane needs a local certificate to talk to your browser safely. Create it now?"},
        {"SSL_IDENTITY_CREATE", "Create"},
        {"SSL_IDENTITY_QUIT", "Quit"},
        {"SSL_IDENTITY_FAILED_MESSAGE",
         "The local certificate could not be created. Lumvane quits now."},
    };
    return texts;
}

}  // namespace

QString englishText(const std::string& key) {
    return table().value(QString::fromStdString(key));
}

}  // namespace lumvane::ui
