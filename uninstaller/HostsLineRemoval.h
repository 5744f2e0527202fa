#pragma once
// Taking the program's loopback line back out of the hosts file. Only the very line the
// program adds ("127.0.0.1 local.lumvane.io", trailing blanks aside) is removed; every
// other line, including the user's own entries for that name, stays as it is.
#include <string>
#include <string_view>

namespace lumvane {

// True when some line of the text is the program's line.
bool hostsTextHasOwnRecord(std::string_view text);
// The text without the program's lines; everything else byte for byte.
std::string hostsTextWithoutOwnRecord(std::string_view text);

enum class HostsRemoval { NotPresent, Removed, Failed };

// Rewrites the hosts file without the program's line, under the same exclusive lock the
// adding helper takes: a temporary file beside it with the file's mode and owner, fsynced
// and renamed over it, so a crash leaves the old or the new file, never a torn one. A
// symbolic link is followed and its target rewritten. `error` tells why it failed.
HostsRemoval removeHostsRecord(const std::string& hostsFile, std::string* error = nullptr);

}  // namespace lumvane
