#pragma once
// Finds the running instances of the program (this user's processes whose executable has
// the program's name) and asks them to quit with SIGTERM, on which the program stops its
// servers and link and flushes its logs. Signals go through process file descriptors, so
// a process id that is reused meanwhile never receives them.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumvane {

struct RunningProgram {
    pid_t pid = 0;
    std::filesystem::path executable;
};

// Processes of this user, other than this one and not yet ended, whose executable is
// named `name`; with `folder` only those whose executable lies directly in that folder.
std::vector<RunningProgram> findRunningPrograms(const std::string& name,
                                                const std::optional<std::filesystem::path>& folder,
                                                const std::filesystem::path& procRoot = "/proc");

struct StopResult {
    std::vector<RunningProgram> stopped;                         // ended (or were gone already)
    std::vector<RunningProgram> stillRunning;                    // did not end within the time-out
    std::vector<std::pair<RunningProgram, std::string>> failed;  // could not be signalled
};

// Sends SIGTERM to each and waits up to `timeout` for all of them to end.
StopResult stopPrograms(const std::vector<RunningProgram>& programs,
                        std::chrono::milliseconds timeout);

}  // namespace lumvane
