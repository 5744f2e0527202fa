#include "uninstaller/RunningPrograms.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace fs = std::filesystem;

namespace lumvane {
namespace {

constexpr const char* kDeletedSuffix = " (deleted)";

int openProcess(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

int signalProcess(int pidfd, int signal) {
#ifdef SYS_pidfd_send_signal
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
#else
    (void)pidfd;
    (void)signal;
    errno = ENOSYS;
    return -1;
#endif
}

// The state letter of /proc/<pid>/stat; a zombie ('Z') or dead ('X') process has ended.
// Read with plain read(2): a process that ends between open and read makes the read
// fail with ESRCH, which is an ended process here, not an error of the scan.
char processState(const fs::path& processFolder) {
    const int fd = open((processFolder / "stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return '?';
    std::string text;
    char buffer[512];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) text.clear();
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return '?';
    return text[close + 2];
}

std::optional<pid_t> pidOf(const std::string& name) {
    if (name.empty() || name.size() > 9) return std::nullopt;
    pid_t pid = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return std::nullopt;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

}  // namespace

std::vector<RunningProgram> findRunningPrograms(const std::string& name,
                                                const std::optional<fs::path>& folder,
                                                const fs::path& procRoot) {
    std::vector<RunningProgram> found;
    std::optional<fs::path> wantedFolder;
    if (folder) {
        std::error_code error;
        fs::path canonical = fs::weakly_canonical(*folder, error);
        wantedFolder = error ? folder->lexically_normal() : canonical;
    }
    const pid_t self = getpid();
    const uid_t user = getuid();
    std::error_code error;
    fs::directory_iterator it(procRoot, error), end;
    for (; !error && it != end; it.increment(error)) {
        const auto& entry = *it;
        auto pid = pidOf(entry.path().filename().string());
        if (!pid || *pid == self) continue;
        struct stat info {};
        if (stat(entry.path().c_str(), &info) != 0 || info.st_uid != user) continue;
        char state = processState(entry.path());
        if (state == 'Z' || state == 'X' || state == '?') continue;
        std::error_code linkError;
        std::string executable = fs::read_symlink(entry.path() / "exe", linkError).string();
        if (linkError || executable.empty()) continue;
        // A program replaced on disk while it runs still counts.
        const size_t suffix = std::strlen(kDeletedSuffix);
        if (executable.size() > suffix &&
            executable.compare(executable.size() - suffix, suffix, kDeletedSuffix) == 0) {
            executable.resize(executable.size() - suffix);
        }
        fs::path path(executable);
        if (path.filename() != name) continue;
        if (wantedFolder && path.parent_path() != *wantedFolder) continue;
        found.push_back({*pid, path});
    }
    return found;
}

StopResult stopPrograms(const std::vector<RunningProgram>& programs,
                        std::chrono::milliseconds timeout) {
    StopResult result;
    std::vector<std::pair<RunningProgram, int>> waiting;
    for (const auto& program : programs) {
        int pidfd = openProcess(program.pid);
        if (pidfd < 0) {
            if (errno == ESRCH) {
                result.stopped.push_back(program);
            } else {
                result.failed.push_back({program, std::strerror(errno)});
            }
            continue;
        }
        if (signalProcess(pidfd, SIGTERM) != 0) {
            int code = errno;
            close(pidfd);
            if (code == ESRCH) {
                result.stopped.push_back(program);
            } else {
                result.failed.push_back({program, std::strerror(code)});
            }
            continue;
        }
        waiting.push_back({program, pidfd});
    }

    // A process file descriptor turns readable when its process ends.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!waiting.empty()) {
        std::vector<pollfd> fds;
        for (const auto& item : waiting) fds.push_back({item.second, POLLIN, 0});
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        int ready = poll(fds.data(), fds.size(), left.count() > 0 ? int(left.count()) : 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        std::vector<std::pair<RunningProgram, int>> still;
        for (size_t i = 0; i < waiting.size(); ++i) {
            if (fds[i].revents != 0) {
                close(waiting[i].second);
                result.stopped.push_back(waiting[i].first);
            } else {
                still.push_back(waiting[i]);
            }
        }
        waiting.swap(still);
    }
    for (auto& item : waiting) {
        close(item.second);
        result.stillRunning.push_back(item.first);
    }
    return result;
}

}  // namespace lumvane
