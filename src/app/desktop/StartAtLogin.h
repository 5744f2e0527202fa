#pragma once
// Start at login as an XDG autostart entry: $XDG_CONFIG_HOME/autostart/<id>.desktop
// (~/.config when the variable is unset or not absolute), naming the real path of the
// running program. The file is written atomically; its presence is the state.
#include <filesystem>
#include <string>
#include <vector>

namespace lumvane {

class StartAtLogin {
  public:
    static constexpr const char* kEntryId = "io.lumvane.Lumvane";

    // `program`: the absolute path the entry starts; `configHome`: empty for the
    // user's (XDG_CONFIG_HOME, else ~/.config).
    explicit StartAtLogin(std::filesystem::path program, std::filesystem::path configHome = {});

    std::filesystem::path entryFile() const;
    bool isEnabled() const;
    // True when the entry is there and is the one this program writes: an entry of
    // another copy (a build folder, an earlier install) names another program.
    bool isCurrent() const;
    // True when the entry is there afterwards; `error` says why not.
    bool enable(std::string* error = nullptr);
    // True when the entry is gone afterwards.
    bool disable(std::string* error = nullptr);

    // The entry's text.
    std::string entryText() const;

    // One argument of an Exec key, quoted when it needs to be, with the escapes of both
    // the Exec rules and the string-value rules of the Desktop Entry format.
    static std::string quoteExecArgument(const std::string& argument);
    static std::string execLine(const std::vector<std::string>& arguments);

    // The running program's real path (/proc/self/exe).
    static std::filesystem::path runningProgram();

  private:
    std::filesystem::path program_;
    std::filesystem::path configHome_;
};

}  // namespace lumvane
