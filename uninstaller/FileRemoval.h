#pragma once
// Removing files and folders without ever following a symbolic link out of the tree
// being removed, and with an error that names the item that could not go.
#include <filesystem>
#include <set>
#include <string>

namespace lumvane {

enum class Removal { Removed, Missing, Failed };

// Removes the item (a file, a link, or a folder with everything in it). A missing item is
// Missing, not a failure. On failure `error` names the item and the system's reason;
// whatever could be removed before is gone.
Removal removeTree(const std::filesystem::path& path, std::string& error);

// Removes every entry of the folder except those whose names are listed; the folder
// itself stays. Entries that cannot be removed do not stop the others; `error` holds the
// first failure. Missing when the folder does not exist.
Removal clearFolderExcept(const std::filesystem::path& folder, const std::set<std::string>& kept,
                          std::string& error);

}  // namespace lumvane
