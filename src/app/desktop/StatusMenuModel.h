#pragma once
// The status menu as data, built afresh from the current state at each opening; the
// status item turns it into a QMenu and sends each chosen item's action name to the
// application. No Qt here, so the layout rules are tested on plain values.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumvane {

struct StatusMenuItem {
    enum class Kind { Item, Separator };
    Kind kind = Kind::Item;
    std::string title;   // shown text (already localised)
    std::string action;  // empty: no action (disabled unless it has a submenu)
    bool checkable = false;
    bool checked = false;
    std::string image;           // icon name, empty for none
    bool passwordStyle = false;  // the generated password's coloured line
    std::vector<StatusMenuItem> submenu;

    bool enabled() const { return !action.empty() || !submenu.empty(); }
    static StatusMenuItem separator() {
        StatusMenuItem s;
        s.kind = Kind::Separator;
        return s;
    }
};

struct StatusMenuState {
    struct Phone {
        std::string name;
        std::string model;
        std::string osVersion;
    };
    bool paused = false;
    bool extendedMode = false;
    bool sendReports = false;
    int32_t loggingLevel = 0;
    std::optional<Phone> pairedPhone;
    uint64_t warningType = 0;
    bool securityKeyFeature = false;
    bool driverInstalled = false;
    bool driverRunning = false;
    // Safari, Chrome, Chromium, Edge, Firefox, Opera, Brave, Vivaldi (the lines' order).
    std::array<bool, 8> browserInstalled{};
    bool startAtLoginEnabled = false;  // the autostart entry exists
    std::string currentPassword;       // extended mode only
};

std::vector<StatusMenuItem> buildStatusMenu(const StatusMenuState& state);

// The password line's title: at most 32 characters, then "...".
std::string passwordMenuTitle(const std::string& password);

// The status icon for the state: "statusitem_icon_lumvane_paused", "..._warning",
// "statusitem_icon_lumvane" (paired phone online and its app ready) or "..._notinit".
struct StatusIconState {
    bool paused = false;
    uint64_t warningType = 0;
    bool phonePaired = false;
    bool phoneOnline = false;
    int32_t phoneAppState = 0;
};
std::string statusIconBaseName(const StatusIconState& state);

}  // namespace lumvane
