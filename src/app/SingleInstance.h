#pragma once
// One running copy of the program per settings folder. A second copy started while one
// runs would read and rewrite the settings file before it finds the loopback port taken;
// it takes this lock first, and when another copy holds it, says so and leaves without
// touching anything.
//
// The lock is an flock() on "lumvane.lock" in the settings folder, opened through the
// folder's real path (symbolic links resolved), holding the holder's process id. Every
// start that uses the same folder meets the same file, whatever else its environment
// says ($XDG_RUNTIME_DIR set or not, a home folder reached through a link). The kernel
// drops the lock when the process ends, however it ends, so a stale file never blocks a
// start.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace lumvane {

class SingleInstance {
  public:
    enum class State {
        Acquired,  // this process holds the lock until the object goes
        Running,   // another process holds it
        Failed,    // no lock file could be opened; `problem()` says why
    };

    // Takes the lock of the given file, without waiting; the folder it lies in is made
    // when missing.
    static SingleInstance acquire(const std::filesystem::path& lockFile);
    // The real path of the settings folder: the part that exists with its links
    // resolved, the rest as spelled.
    static std::filesystem::path realFolder(const std::filesystem::path& settingsFolder);
    // The lock file of the settings folder (see above).
    static std::filesystem::path lockFileFor(const std::filesystem::path& settingsFolder);

    SingleInstance(SingleInstance&& other) noexcept;
    SingleInstance& operator=(SingleInstance&& other) noexcept;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    ~SingleInstance();

    State state() const { return state_; }
    // The process id the holder wrote, when it is Running and the file tells.
    std::optional<pid_t> holder() const { return holder_; }
    const std::string& problem() const { return problem_; }
    const std::filesystem::path& lockFile() const { return lockFile_; }

  private:
    SingleInstance() = default;

    int fd_ = -1;
    State state_ = State::Failed;
    std::optional<pid_t> holder_;
    std::string problem_;
    std::filesystem::path lockFile_;
};

// What both the headless run and the desktop application call before they read the
// settings: takes the lock of this user's settings folder. When another copy holds it,
// prints one "lumvane:" line saying so and returns nothing: the caller ends with a
// non-zero status. With `askToShow` (a start of the desktop application) it also asks
// the running copy to show its way in (its menu, or its window where there is no tray)
// and says so in a second line when it did. A lock that cannot be made at all does not
// stop the start (it only guards against a mistake), so that also returns an object.
std::optional<SingleInstance> takeSingleInstanceLock(bool askToShow = false);

// Qt wants a private runtime folder ($XDG_RUNTIME_DIR: a folder of this user with mode
// 0700) and warns on standard error, at the start and at each later use, when there is
// none (su, sudo, a container). Called before Qt starts: when the variable names no such
// folder, a private one in the temporary folder ($TMPDIR, else /tmp) is made or reused
// and the variable names it. Returns the folder the variable names afterwards; empty
// when none could be made (Qt then says why itself).
std::filesystem::path provideRuntimeFolder();

// The line printed when another copy runs (without the "lumvane: " prefix).
std::string alreadyRunningText(const SingleInstance& lock);

}  // namespace lumvane
