#pragma once
// Durable file operations of the settings store: whole-file reads with a size cap,
// replace-by-rename writes that never leave a torn file, and moving an unreadable
// file aside under a time-stamped name.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "runtime/Bytes.h"

namespace lumvane::settingsfile {

// A settings file larger than this is not read (it cannot be ours).
inline constexpr size_t kMaxFileSize = size_t{256} << 20;

// The whole file. Throws std::runtime_error when it cannot be opened or read, or
// is larger than kMaxFileSize.
Bytes readWholeFile(const std::filesystem::path& file);

// Replaces `file` with `data` so that a crash at any moment leaves either the old or
// the new content: a 0600 temporary file in the same folder is written and fsynced,
// renamed over `file`, and the folder is fsynced. The folder must exist. A `file` that
// is a symbolic link stays one: its target is replaced that way (in the target's
// folder). Throws std::runtime_error (with the failing step and errno text) on
// failure; the temporary file is removed then. Without `sync` (tests and fuzzing only)
// nothing is fsynced.
void writeFileAtomically(const std::filesystem::path& file, const Bytes& data, bool sync = true);

// The file a path names once its symbolic links are followed (the path itself when it
// is none, or when the links loop); the final target need not exist.
std::filesystem::path followLinks(const std::filesystem::path& file);

// Prefix of the temporary files writeFileAtomically() makes for `file`.
std::string temporaryPrefix(const std::filesystem::path& file);

// Removes temporary files left behind by a writer that was killed mid-save.
// Returns how many were removed; errors are ignored.
int removeStaleTemporaries(const std::filesystem::path& file);

// Renames `file` to "<name>.unreadable-YYYYMMDD-HHMMSS" (UTC of `when`; "-2", "-3" ...
// appended when that name is taken) in the same folder. Returns the new path, or
// nothing when the rename failed (the file then stays where it is).
std::optional<std::filesystem::path> moveAside(const std::filesystem::path& file,
                                               std::chrono::system_clock::time_point when);

}  // namespace lumvane::settingsfile
