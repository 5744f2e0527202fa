#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "app/InstanceChannel.h"
#include "runtime/Paths.h"

namespace lumvane {

namespace fs = std::filesystem;

namespace {

std::optional<pid_t> readHolder(int fd) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return std::nullopt;
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    if (pid <= 0 || end == text) return std::nullopt;
    return static_cast<pid_t>(pid);
}

}  // namespace

fs::path SingleInstance::realFolder(const fs::path& settingsFolder) {
    std::error_code ec;
    fs::path real = fs::weakly_canonical(settingsFolder, ec);
    if (ec || real.empty()) real = fs::absolute(settingsFolder, ec).lexically_normal();
    return real;
}

fs::path SingleInstance::lockFileFor(const fs::path& settingsFolder) {
    return realFolder(settingsFolder) / "lumvane.lock";
}

SingleInstance SingleInstance::acquire(const fs::path& lockFile) {
    SingleInstance lock;
    lock.lockFile_ = lockFile;
    try {
        Paths::createPrivateFolder(lockFile.parent_path());
    } catch (const std::exception& e) {
        lock.problem_ = e.what();
        return lock;
    }
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        lock.problem_ = "cannot open " + lockFile.string() + ": " + std::strerror(errno);
        return lock;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            lock.state_ = State::Running;
            lock.holder_ = readHolder(fd);
        } else {
            lock.problem_ = "cannot lock " + lockFile.string() + ": " + std::strerror(error);
        }
        ::close(fd);
        return lock;
    }
    // Only the holder writes, so a reader sees either the old or the new number.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    lock.fd_ = fd;
    lock.state_ = State::Acquired;
    return lock;
}

SingleInstance::SingleInstance(SingleInstance&& other) noexcept
    : fd_(other.fd_),
      state_(other.state_),
      holder_(other.holder_),
      problem_(std::move(other.problem_)),
      lockFile_(std::move(other.lockFile_)) {
    other.fd_ = -1;
}

SingleInstance& SingleInstance::operator=(SingleInstance&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        state_ = other.state_;
        holder_ = other.holder_;
        problem_ = std::move(other.problem_);
        lockFile_ = std::move(other.lockFile_);
        other.fd_ = -1;
    }
    return *this;
}

SingleInstance::~SingleInstance() {
    // The file stays: removing it would let a third copy lock a new file while a
    // second one still waits on the old one.
    if (fd_ >= 0) ::close(fd_);
}

std::string alreadyRunningText(const SingleInstance& lock) {
    std::string text = "Lumvane is already running";
    if (lock.holder()) text += " (process " + std::to_string(*lock.holder()) + ")";
    text += "; this copy ends without changing anything";
    return text;
}

namespace {

// A folder Qt takes as a runtime folder without a word: this user's, mode 0700, not a link.
bool privateFolder(const fs::path& folder) {
    struct stat st {};
    return folder.is_absolute() && ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700;
}

}  // namespace

fs::path provideRuntimeFolder() {
    const char* value = std::getenv("XDG_RUNTIME_DIR");
    if (value && privateFolder(value)) return value;
    const char* tmp = std::getenv("TMPDIR");
    const fs::path base = tmp && tmp[0] == '/' ? fs::path(tmp) : fs::path("/tmp");
    const fs::path named = base / ("lumvane-runtime-" + std::to_string(::geteuid()));
    fs::path folder;
    if (::mkdir(named.c_str(), 0700) == 0 || errno == EEXIST) {
        // Made now with the umask, or left by an earlier run: only this user's will do.
        struct stat st {};
        if (::lstat(named.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()) {
            ::chmod(named.c_str(), 0700);
        }
        if (privateFolder(named)) folder = named;
    }
    if (folder.empty()) {
        // Someone else holds that name: a fresh folder instead.
        std::string pattern = (base / "lumvane-runtime-XXXXXX").string();
        if (::mkdtemp(pattern.data())) folder = pattern;
    }
    if (folder.empty()) return {};
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    return folder;
}

std::optional<SingleInstance> takeSingleInstanceLock(bool askToShow) {
    const fs::path folder = Paths::settingsFolder();
    SingleInstance lock = SingleInstance::acquire(SingleInstance::lockFileFor(folder));
    if (lock.state() == SingleInstance::State::Running) {
        std::printf("lumvane: %s\n", alreadyRunningText(lock).c_str());
        std::fflush(stdout);
        if (askToShow) {
            // The running copy may be busy starting: a few seconds, then leave anyway.
            const auto answer =
                askRunningCopy(InstanceChannel::socketFileFor(folder),
                               InstanceChannel::kShowRequest, std::chrono::seconds(5));
            if (answer == "window") {
                std::printf("lumvane: the running Lumvane shows its window\n");
            } else if (answer == "menu") {
                std::printf("lumvane: the running Lumvane opened its menu at its icon\n");
            }
            std::fflush(stdout);
        }
        return std::nullopt;
    }
    if (lock.state() == SingleInstance::State::Failed) {
        std::fprintf(stderr, "lumvane: no single-instance lock (%s)\n", lock.problem().c_str());
    }
    return lock;
}

}  // namespace lumvane
