#include "app/desktop/StatusMenuModel.h"

#include "app/desktop/Notices.h"

namespace lumvane {

namespace {

StatusMenuItem item(const char* key, std::string action = {}) {
    StatusMenuItem i;
    i.title = desktopText(key);
    i.action = std::move(action);
    return i;
}

StatusMenuItem fixed(const char* title, std::string action) {
    StatusMenuItem i;
    i.title = title;
    i.action = std::move(action);
    return i;
}

StatusMenuItem checkItem(const char* key, std::string action, bool checked) {
    StatusMenuItem i = item(key, std::move(action));
    i.checkable = true;
    i.checked = checked;
    return i;
}

StatusMenuItem withSubmenu(StatusMenuItem i, std::vector<StatusMenuItem> submenu) {
    i.submenu = std::move(submenu);
    return i;
}

const char* warningKey(uint64_t type) {
    switch (type) {
        case 1:
            return "MENU_WARNING_NOT_INITIALIZED";
        case 2:
            return "MENU_WARNING_BLUETOOTH_OFF";
        case 3:
            return "MENU_WARNING_SEARCHING_PHONE";
        case 4:
            return "MENU_WARNING_NOT_PAIRED";
        case 5:
            return "MENU_WARNING_CANNOT_FIND_PAIRED";
        case 6:
            return "MENU_WARNING_CANNOT_FIND_LUMVANE";
        case 7:
            return "MENU_WARNING_DEVICE_DB_LOCKED";
        default:
            return nullptr;
    }
}

StatusMenuItem passwordLine(const std::string& password) {
    const std::string title = passwordMenuTitle(password);
    StatusMenuItem line;
    line.title = title;
    line.passwordStyle = true;
    std::vector<StatusMenuItem> sub;
    if (title != password) {
        StatusMenuItem whole;
        whole.title = password;
        whole.passwordStyle = true;
        sub.push_back(whole);
        sub.push_back(StatusMenuItem::separator());
    }
    sub.push_back(item("MENU_ITEM_REGENERATE_PASSWORD", "menuRegeneratePasswordAction"));
    sub.push_back(StatusMenuItem::separator());
    sub.push_back(item("MENU_ITEM_COPY_PASSWORD_TO_OSX", "menuCopyPasswordToOSXAction"));
    sub.push_back(item("MENU_ITEM_COPY_PASSWORD_TO_IOS", "menuCopyPasswordToIOSAction"));
    sub.push_back(
        item("MENU_ITEM_COPY_PASSWORD_TO_OSX_AND_IOS", "menuCopyPasswordToOSXAndIOSAction"));
    sub.push_back(StatusMenuItem::separator());
    sub.push_back(item("MENU_ITEM_CUSTOMIZE_PASSWORD_GENERATOR", "menuPasswordGeneratorAction"));
    line.submenu = std::move(sub);
    return line;
}

}  // namespace

std::string passwordMenuTitle(const std::string& password) {
    // Counted in characters, not bytes, so a cut never splits one.
    size_t characters = 0;
    size_t cut = std::string::npos;
    for (size_t i = 0; i < password.size(); ++i) {
        if ((static_cast<unsigned char>(password[i]) & 0xC0) == 0x80) continue;
        if (characters == 32) cut = i;
        ++characters;
    }
    if (characters <= 32) return password;
    return password.substr(0, cut) + "...";
}

std::vector<StatusMenuItem> buildStatusMenu(const StatusMenuState& s) {
    std::vector<StatusMenuItem> menu;
    auto sep = [&menu] { menu.push_back(StatusMenuItem::separator()); };

    if (!s.paused) {
        if (const char* key = warningKey(s.warningType)) {
            StatusMenuItem warning = item(key, "menuWarningAction");
            warning.image = "menu_icon_warning_22_22";
            menu.push_back(warning);
            sep();
        }
        if (s.securityKeyFeature && !(s.driverInstalled && s.driverRunning)) {
            StatusMenuItem driver =
                s.driverInstalled
                    ? item("MENU_WARNING_U2F_DRIVER_NOT_RUNNING", "menuRunU2FDriverAction")
                    : item("MENU_WARNING_U2F_DRIVER_NOT_INSTALLED", "menuInstallU2FDriverAction");
            driver.image = "menu_icon_warning_22_22";
            menu.push_back(driver);
            sep();
        }
    }
    menu.push_back(item("MENU_ITEM_PASSWORD_GENERATOR", "menuPasswordGeneratorAction"));
    sep();
    if (s.pairedPhone) {
        StatusMenuItem phone;
        phone.title = formatObjects(
            "%@ (%@, %@)", {s.pairedPhone->name, s.pairedPhone->model, s.pairedPhone->osVersion});
        phone.image = "device";
        phone.submenu.push_back(item("MENU_ITEM_UNPAIR", "menuDeviceUnpairAction"));
        menu.push_back(phone);
        menu.push_back(
            item("MENU_ITEM_START_PAIR_TO_OTHER_QRCODE", "menuStartPairViaQRCodeAction"));
    } else {
        menu.push_back(item("MENU_ITEM_START_PAIR_VIA_QRCODE", "menuStartPairViaQRCodeAction"));
    }
    sep();
    menu.push_back(item("MENU_ITEM_ABOUT", "menuAboutAction"));
    menu.push_back(item("MENU_ITEM_UPDATE", "menuCheckForUpdateDialog"));
    sep();

    static const char* const browserKeys[8] = {
        "MENU_ITEM_INSTALL_SAFARI_EXT",   "MENU_ITEM_INSTALL_CHROME_EXT",
        "MENU_ITEM_INSTALL_CHROMIUM_EXT", "MENU_ITEM_INSTALL_EDGE_EXT",
        "MENU_ITEM_INSTALL_FIREFOX_EXT",  "MENU_ITEM_INSTALL_OPERA_EXT",
        "MENU_ITEM_INSTALL_BRAVE_EXT",    "MENU_ITEM_INSTALL_VIVALDI_EXT"};
    static const char* const browserActions[8] = {
        "menuInstallSafariExt", "menuInstallChromeExt",  "menuInstallChromiumExt",
        "menuInstallEdgeExt",   "menuInstallFirefoxExt", "menuInstallOperaExt",
        "menuInstallBraveExt",  "menuInstallVivaldiExt"};
    std::vector<StatusMenuItem> browsers;
    for (size_t i = 0; i < 8; ++i) {
        browsers.push_back(item(browserKeys[i], s.browserInstalled[i] ? browserActions[i] : ""));
    }
    menu.push_back(withSubmenu(item("MENU_ITEM_EXTENSION"), std::move(browsers)));
    sep();
    menu.push_back(item("MENU_ITEM_IMPORT", "menuImportAction"));
    menu.push_back(item("MENU_ITEM_EXPORT", "menuExportAction"));
    sep();

    std::vector<StatusMenuItem> preferences;
    if (s.extendedMode) {
        preferences.push_back(
            item("MENU_ITEM_OPEN_PREFERENCES_FOLDER", "menuOpenPreferencesFolder"));
        preferences.push_back(StatusMenuItem::separator());
    }
    preferences.push_back(
        checkItem("MENU_ITEM_START_ON_BOOT", "menuStartAtLoginAction", s.startAtLoginEnabled));
    preferences.push_back(
        checkItem("MENU_ITEM_ALLOW_ANONYMOUS_DATA", "menuAllowAnonymousDataAction", s.sendReports));
    preferences.push_back(StatusMenuItem::separator());
    std::vector<StatusMenuItem> logging = {
        checkItem("MENU_ITEM_LOGGING_DISABLED", "menuLoggingDisableAction", s.loggingLevel == 0),
        checkItem("MENU_ITEM_LOGGING_INFO", "menuLoggingInfoLelelAction", s.loggingLevel == 11),
        checkItem("MENU_ITEM_LOGGING_DEBUG", "menuLoggingDebugLelelAction", s.loggingLevel == 12),
        checkItem("MENU_ITEM_LOGGING_VERBOSE", "menuLoggingVerboseLevelAction",
                  s.loggingLevel == 13),
        StatusMenuItem::separator(),
        item("MENU_ITEM_LOGGING_OPENINFINDER", "menuLoggingOpenInFinderAction"),
        item("MENU_ITEM_LOGGING_SENDLOGS", "menuLoggingSendAllLogsAction"),
    };
    preferences.push_back(withSubmenu(item("MENU_ITEM_LOGGING"), std::move(logging)));
    menu.push_back(withSubmenu(item("MENU_ITEM_PREFERENCES"), std::move(preferences)));
    menu.push_back(
        withSubmenu(item("MENU_ITEM_BACKUPLOCATION"),
                    {item("MENU_ITEM_OPENINFINDER", "menuBackupOpenInFinderAction"),
                     item("MENU_ITEM_CHANGELOCATION", "menuBackupChangeLocationAction")}));
    sep();
    menu.push_back(withSubmenu(
        item("MENU_ITEM_SUPPORT"),
        {item("MENU_ITEM_FEEDBACK", "menuShowFeedbackDialog"), StatusMenuItem::separator(),
         item("MENU_ITEM_HELP", "menuShowHelp"),
         item("MENU_ITEM_PRIVACY_POLICY", "menuShowPrivacyPolicy"),
         item("MENU_ITEM_TERMS_OF_USE", "menuShowTermsOfUse"), StatusMenuItem::separator(),
         item("MENU_ITEM_REVIEW_ON_FACEBOOK", "menuShowReviewOnFacebook"),
         StatusMenuItem::separator(),
         item("MENU_ITEM_SHARE_VIA_FACEBOOK", "menuShowShareViaFacebook"),
         item("MENU_ITEM_SHARE_VIA_TWITTER", "menuShowShareViaTwitter"),
         item("MENU_ITEM_SHARE_VIA_LINKEDIN", "menuShowShareViaLinkedin")}));
    sep();
    if (s.extendedMode) {
        std::vector<StatusMenuItem> extended = {
            fixed("Rate Lumvane...", "menuShowRateAction"),
            StatusMenuItem::separator(),
            passwordLine(s.currentPassword),
            item("MENU_ITEM_CREATE_ACCOUNT", "menuCreateAccountAction"),
            StatusMenuItem::separator(),
            item("MENU_ITEM_FLUSH_ALL_LOGS", "menuFlushAllLogsAction"),
            StatusMenuItem::separator(),
            item("MENU_ITEM_CLEAR_CACHE", "menuClearFavIconCacheAction"),
            StatusMenuItem::separator(),
            fixed("Crash App", "menuCrashAppAction"),
            StatusMenuItem::separator(),
        };
        menu.push_back(withSubmenu(item("MENU_ITEM_EXTENDED"), std::move(extended)));
        sep();
        menu.push_back(s.paused ? item("MENU_ITEM_UNPAUSE", "menuResume")
                                : item("MENU_ITEM_PAUSE", "menuPause"));
        sep();
    }
    menu.push_back(item("MENU_ITEM_QUIT", "menuQuitAction"));
    return menu;
}

std::string statusIconBaseName(const StatusIconState& s) {
    if (s.paused) return "statusitem_icon_lumvane_paused";
    if (s.warningType != 0) return "statusitem_icon_lumvane_warning";
    if (s.phonePaired && s.phoneOnline && s.phoneAppState != 0 && s.phoneAppState != 2) {
        return "statusitem_icon_lumvane";
    }
    return "statusitem_icon_lumvane_notinit";
}

}  // namespace lumvane
