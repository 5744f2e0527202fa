#pragma once
// The loopback line that maps the local TLS identity's host name to 127.0.0.1, shared by
// the checks in the application and by the small privileged helper that adds it.
#include <string>
#include <string_view>

namespace lumvane {

// The host name the HTTPS servers' certificate is issued for. It lives under the
// product's own domain and must resolve to the loopback address through the hosts file.
inline constexpr std::string_view kLocalHostName = "local.lumvane.io";
inline constexpr std::string_view kLoopbackAddress = "127.0.0.1";
inline constexpr std::string_view kSystemHostsFile = "/etc/hosts";

// "127.0.0.1 local.lumvane.io": the address, exactly one space, the name.
std::string hostsRecordLine();

// True when some line of the text starts (after optional leading blanks) with the record
// line and the name ends there (end of line, a blank or a comment follows). A commented
// line, a longer name, or a tab or several spaces between address and name do not count.
bool hostsTextHasRecord(std::string_view text);

enum class HostsUpdate { AlreadyPresent, Appended, Failed };

// Appends the record line to the hosts file when it is missing (creating the file when it
// does not exist), under an exclusive lock, fsynced; other lines are left untouched.
HostsUpdate addHostsRecord(const std::string& hostsFile);

}  // namespace lumvane
