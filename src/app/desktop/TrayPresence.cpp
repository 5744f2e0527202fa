#include "app/desktop/TrayPresence.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>

#include "app/desktop/Notices.h"

namespace lumvane {

namespace {

double channel(int value) {
    const double c = std::clamp(value, 0, 255) / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(Rgb colour) {
    return 0.2126 * channel(colour.r) + 0.7152 * channel(colour.g) + 0.0722 * channel(colour.b);
}

TrayGlyph against(Rgb background) {
    return contrastRatio(kLightGlyphColour, background) >
                   contrastRatio(kDarkGlyphColour, background)
               ? TrayGlyph::Light
               : TrayGlyph::Dark;
}

// Desktops whose top bar is dark whatever the colour scheme of the windows.
bool hasDarkTopBar(const std::string& currentDesktop) {
    std::stringstream names(currentDesktop);
    for (std::string name; std::getline(names, name, ':');) {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (name == "gnome" || name == "unity") return true;
    }
    return false;
}

}  // namespace

double contrastRatio(Rgb a, Rgb b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

std::optional<Rgb> panelColour(std::vector<Rgb> pixels, size_t minimum) {
    if (pixels.empty() || pixels.size() < minimum) return std::nullopt;
    auto middle = pixels.begin() + static_cast<std::ptrdiff_t>(pixels.size() / 2);
    std::nth_element(pixels.begin(), middle, pixels.end(),
                     [](Rgb a, Rgb b) { return luminance(a) < luminance(b); });
    return *middle;
}

TrayGlyph chooseTrayGlyph(const std::optional<Rgb>& panel, const std::string& currentDesktop,
                          Rgb paletteWindow) {
    if (panel) return against(*panel);
    if (hasDarkTopBar(currentDesktop)) return TrayGlyph::Light;
    return against(paletteWindow);
}

std::pair<std::string, std::string> statusIconImageNames(const std::string& baseName,
                                                         TrayGlyph glyph) {
    if (glyph == TrayGlyph::Light) {
        const std::string image = baseName + "_color_invert_34_44";
        return {image, image};
    }
    return {baseName + "_dark_34_44", baseName + "_dark_invert_34_44"};
}

// ---- Where the application is reached ----------------------------------------------------

void TrayPresence::trayAvailable(bool available) {
    const State next = available ? State::Tray : State::Window;
    if (next == state_) return;
    const State before = state_;
    state_ = next;
    if (available) {
        view_.say(before == State::Unknown ? "status item shown" : trayCameLine());
        if (before == State::Window) view_.hideWindow();
        return;
    }
    if (before == State::Unknown) {
        view_.say(noTrayLine());
        view_.notify(noTrayNoticeTitle(), noTrayNoticeText());
    } else {
        view_.say(trayWentLine());
    }
    view_.showWindow();
}

std::string TrayPresence::reveal() {
    switch (state_) {
        case State::Window:
            view_.showWindow();
            return kShownWindow;
        case State::Tray:
            view_.openMenu();
            return kShownMenu;
        case State::Unknown:
            break;
    }
    return "starting";
}

std::string TrayPresence::noTrayLine() {
    return "no system tray on this desktop for the icon: the status menu is in the Lumvane "
           "window instead; to get the icon, add a tray (on GNOME the extension \"AppIndicator "
           "and KStatusNotifierItem Support\", package gnome-shell-extension-appindicator)";
}

std::string TrayPresence::noTrayNoticeTitle() {
    return "Lumvane has no icon in the panel";
}

std::string TrayPresence::noTrayNoticeText() {
    return "Its menu is in the Lumvane window. For the icon, add a tray: on GNOME the "
           "AppIndicator extension.";
}

std::string TrayPresence::trayCameLine() {
    return "a system tray appeared: status item shown, the Lumvane window is closed";
}

std::string TrayPresence::trayWentLine() {
    return "the system tray went away: the status menu is in the Lumvane window";
}

std::string TrayPresence::windowTitle() {
    return "Lumvane";
}

std::string TrayPresence::windowHeading() {
    return "Lumvane is running";
}

std::string TrayPresence::windowText() {
    return "This desktop has no system tray for Lumvane's icon, so its menu is here: pairing, "
           "browser extensions, preferences and the rest.\n\n"
           "To have the icon in the panel, add a tray. On GNOME, turn on the extension "
           "\"AppIndicator and KStatusNotifierItem Support\" (package "
           "gnome-shell-extension-appindicator). When a tray comes, the icon moves there (on "
           "some desktops from Lumvane's next start on).\n\n"
           "Closing this window keeps Lumvane running; start Lumvane again to bring the window "
           "back.";
}

std::string TrayPresence::windowMenuButton() {
    return "Open the menu";
}

std::string TrayPresence::windowQuitButton() {
    return desktopText("MENU_ITEM_QUIT");
}

}  // namespace lumvane
