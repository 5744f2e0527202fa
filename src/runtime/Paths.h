#pragma once
// Where the program keeps its files, after the XDG base-directory rules:
//   settings folder      $XDG_DATA_HOME/Lumvane        (default ~/.local/share/Lumvane)
//   logs folder          <settings folder>/logs
//   old settings folder  $XDG_DATA_HOME/Tobrin/Lumvane
//   documents folder     XDG_DOCUMENTS_DIR of user-dirs.dirs (default ~/Documents)
// Tests point everything below a folder of their own with setRootOverride(): that folder
// then stands for the home folder and the XDG variables of the environment are ignored.
#include <filesystem>
#include <optional>

namespace lumvane {

class Paths {
  public:
    static std::filesystem::path homeFolder();
    static std::filesystem::path dataHome();
    static std::filesystem::path configHome();
    static std::filesystem::path settingsFolder();
    static std::filesystem::path logsFolder();
    static std::filesystem::path oldSettingsFolder();
    static std::filesystem::path documentsFolder();

    // Creates the folder and its missing parents; the folders it creates are 0700.
    // Throws std::filesystem::filesystem_error when that fails.
    static void createPrivateFolder(const std::filesystem::path& folder);

    static void setRootOverride(std::optional<std::filesystem::path> root);
    static std::optional<std::filesystem::path> rootOverride();
};

}  // namespace lumvane
