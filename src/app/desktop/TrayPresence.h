#pragma once
// How the person reaches the running application: its icon in the panel's tray, or, on a
// desktop that shows no tray (stock GNOME has none), a small ordinary window holding the
// status menu; and which icon set stands out on the panel. No Qt here: the status item
// and the window are the view (TrayFallback.h), tests drive a fake one.
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumvane {

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
    bool operator==(const Rgb&) const = default;
};

// The contrast ratio of two colours (1 to 21), as the web's accessibility guidelines
// define it.
double contrastRatio(Rgb a, Rgb b);

// The two icon sets: a dark glyph for light panels, a light one for dark panels.
enum class TrayGlyph { Dark, Light };
inline constexpr Rgb kDarkGlyphColour{0x20, 0x20, 0x20};
inline constexpr Rgb kLightGlyphColour{0xf2, 0xf2, 0xf2};

// The panel's colour from the pixels seen around the glyph: the middle one by lightness,
// so that a few stray pixels do not count; nothing for fewer than `minimum` pixels.
std::optional<Rgb> panelColour(std::vector<Rgb> pixels, size_t minimum = 16);

// The set that stands out: against the panel's colour when it could be seen; else on a
// desktop whose top bar is dark in every colour scheme (GNOME's), the light one; else
// against the window colour of the desktop's palette. `currentDesktop` is
// $XDG_CURRENT_DESKTOP (names separated by ":").
TrayGlyph chooseTrayGlyph(const std::optional<Rgb>& panel, const std::string& currentDesktop,
                          Rgb paletteWindow);

// The image and the active image of a state's icon ("statusitem_icon_lumvane_warning"...)
// in that set: the light glyph is one image for both states.
std::pair<std::string, std::string> statusIconImageNames(const std::string& baseName,
                                                         TrayGlyph glyph);

class TrayPresence {
  public:
    struct View {
        // One "lumvane: " line for the person who started the program.
        std::function<void(const std::string& line)> say;
        // A notice on the desktop.
        std::function<void(const std::string& title, const std::string& text)> notify;
        // The window with the status menu: shown and brought to the front, or hidden.
        std::function<void()> showWindow;
        std::function<void()> hideWindow;
        // The status menu at the icon.
        std::function<void()> openMenu;
    };

    // The answers a later start gets.
    static constexpr const char* kShownMenu = "menu";
    static constexpr const char* kShownWindow = "window";

    explicit TrayPresence(View view) : view_(std::move(view)) {}

    // Whether a tray shows the icon: once at start, then at every change (a tray may
    // come later, or its panel may go).
    void trayAvailable(bool available);
    // A later start asks for the way in: the menu at the icon, or the window. The answer
    // names which.
    std::string reveal();
    bool usesWindow() const { return state_ == State::Window; }

    // Texts.
    static std::string noTrayLine();
    static std::string noTrayNoticeTitle();
    static std::string noTrayNoticeText();
    static std::string trayCameLine();
    static std::string trayWentLine();
    static std::string windowTitle();
    static std::string windowHeading();
    static std::string windowText();
    static std::string windowMenuButton();
    static std::string windowQuitButton();

  private:
    enum class State { Unknown, Tray, Window };
    View view_;
    State state_ = State::Unknown;
};

}  // namespace lumvane
