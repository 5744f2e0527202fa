#pragma once
// Durable replacement of small state files: the bytes go to a private temporary file in
// the target's own folder (".<name>.tmp-XXXXXX"), are fsynced, and the file is renamed
// over the target, so a crash leaves either the old or the new file, never a torn one.
#include <sys/types.h>

#include <string>
#include <string_view>

namespace lumvane {

// Writes the file atomically with the given mode (the temporary file is created with it,
// so the bytes are never readable by others, not even for a moment). Returns false on
// any failure and leaves the previous file in place; `error`, when given, then holds the
// failing step, the path and the system's reason. Without `sync` (tests and fuzzing
// only) the file and folder are not fsynced: the rename still never shows a torn file
// to readers, but a crash of the machine may lose the write.
bool writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode = 0600,
                         std::string* error = nullptr, bool sync = true);

// Prefix of the temporary files writeFileAtomically() makes for `path`.
std::string atomicTemporaryPrefix(const std::string& path);

// Creates the folder (and missing parents) and sets the folder itself to the mode.
bool ensurePrivateFolder(const std::string& path, mode_t mode = 0700);

// Whole file as bytes; false when it cannot be read.
bool readWholeFile(const std::string& path, std::string& bytes);

}  // namespace lumvane
