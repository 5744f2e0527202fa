#include "extension/browser/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace lumvane {
namespace {

std::vector<char*> toCharVector(const std::vector<std::string>& items) {
    std::vector<char*> out;
    out.reserve(items.size() + 1);
    for (const auto& item : items) out.push_back(const_cast<char*>(item.c_str()));
    out.push_back(nullptr);
    return out;
}

int waitForChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void closeIfOpen(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Reads both pipes until both reach end of file (polling, so a child that fills one pipe
// while we block on the other cannot dead-lock us).
void drainPipes(int outFd, int errFd, std::string& out, std::string& err) {
    struct pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

}  // namespace

ChildResult runChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
    ChildResult result;
    if (argv.empty() || argv[0].empty()) return result;

    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if (options.captureOutput) {
        if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
        if (pipe2(errPipe, O_CLOEXEC) != 0) {
            close(outPipe[0]);
            close(outPipe[1]);
            return result;
        }
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (options.captureOutput) {
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    }

    std::vector<char*> args = toCharVector(argv);
    std::vector<char*> env;
    if (options.environment) env = toCharVector(*options.environment);
    char** envp = options.environment ? env.data() : environ;

    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    closeIfOpen(outPipe[1]);
    closeIfOpen(errPipe[1]);
    if (rc != 0) {
        closeIfOpen(outPipe[0]);
        closeIfOpen(errPipe[0]);
        return result;
    }
    result.started = true;
    if (options.captureOutput) {
        drainPipes(outPipe[0], errPipe[0], result.output, result.errors);
        closeIfOpen(outPipe[0]);
        closeIfOpen(errPipe[0]);
    }
    result.exitStatus = waitForChild(pid);
    return result;
}

bool startDetachedProcess(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own session: the browser must not die with us or share our terminal signals.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::vector<char*> args = toCharVector(argv);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) return false;
    std::thread([pid] { waitForChild(pid); }).detach();
    return true;
}

}  // namespace lumvane
