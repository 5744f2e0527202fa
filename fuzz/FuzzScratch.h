#pragma once
// A folder of this fuzzing run's own for targets that write files. libFuzzer ends a run
// whose time is up with exit(), which removes the folder; a run that died on a finding
// ends with _Exit() and leaves its folder, which the next run removes. The folder is in
// memory (/dev/shm) where there is one: file systems on disk make replacing and removing
// thousands of small files a second cost milliseconds each.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace lumvane::fuzz {

inline const std::filesystem::path& scratchFolder() {
    namespace fs = std::filesystem;
    static const fs::path folder = [] {
        const std::string prefix = "lumvane-fuzz-";
        std::error_code ec;
        fs::path temp = "/dev/shm";
        if (!fs::is_directory(temp, ec) || ::access(temp.c_str(), W_OK | X_OK) != 0)
            temp = fs::temp_directory_path(ec);
        // Folders of earlier runs whose process is gone.
        for (fs::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.rfind(prefix, 0) != 0) continue;
            char* rest = nullptr;
            const long pid = std::strtol(name.c_str() + prefix.size(), &rest, 10);
            if (pid <= 0 || rest == nullptr || *rest != '-') continue;
            if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                std::error_code removeEc;
                fs::remove_all(it->path(), removeEc);
            }
        }
        std::string pattern = (temp / (prefix + std::to_string(::getpid()) + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) std::abort();
        // Kept apart from `folder`, which is destroyed before the exit handler runs.
        static const std::string* toRemove = new std::string(pattern);
        std::atexit([] {
            std::error_code removeEc;
            fs::remove_all(*toRemove, removeEc);
        });
        return fs::path(pattern);
    }();
    return folder;
}

}  // namespace lumvane::fuzz
