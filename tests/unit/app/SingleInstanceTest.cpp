#include "app/SingleInstance.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumvane {
namespace {

namespace fs = std::filesystem;

class SingleInstanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumvane-instance-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) savedRuntime_ = runtime;
    }
    void TearDown() override {
        if (savedRuntime_) {
            ::setenv("XDG_RUNTIME_DIR", savedRuntime_->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    fs::path root_;
    std::optional<std::string> savedRuntime_;
};

TEST_F(SingleInstanceTest, SecondHolderIsToldWhoRunsUntilTheFirstLetsGo) {
    const fs::path file = root_ / "data" / "Lumvane" / "lumvane.lock";
    std::optional<SingleInstance> first = SingleInstance::acquire(file);
    ASSERT_EQ(first->state(), SingleInstance::State::Acquired) << first->problem();

    // Another open of the same file is another holder, as another process would be.
    SingleInstance second = SingleInstance::acquire(file);
    EXPECT_EQ(second.state(), SingleInstance::State::Running);
    EXPECT_EQ(second.holder(), std::optional<pid_t>(::getpid()));
    EXPECT_NE(alreadyRunningText(second).find("process " + std::to_string(::getpid())),
              std::string::npos);

    // A child process sees the lock too.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SingleInstance inChild = SingleInstance::acquire(file);
        ::_exit(inChild.state() == SingleInstance::State::Running ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // Moved, the lock is still held; gone, the next start takes it.
    SingleInstance moved = std::move(*first);
    first.reset();
    EXPECT_EQ(SingleInstance::acquire(file).state(), SingleInstance::State::Running);
    { SingleInstance ended = std::move(moved); }
    EXPECT_EQ(SingleInstance::acquire(file).state(), SingleInstance::State::Acquired);
}

// Two starts for one settings folder meet the same lock, however their environments spell
// or place it: with and without a runtime folder (an autostart beside a `su` shell), a
// home reached through a link, a path with "." and "..". A start for another folder
// does not.
TEST_F(SingleInstanceTest, EveryStartOfOneSettingsFolderMeetsTheSameLock) {
    const fs::path realHome = root_ / "real-home";
    const fs::path settings = realHome / ".local" / "share" / "Lumvane";
    fs::create_directories(realHome);
    fs::create_directory_symlink(realHome, root_ / "home-link");
    const fs::path runtime = root_ / "run";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);

    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    std::optional<SingleInstance> first =
        SingleInstance::acquire(SingleInstance::lockFileFor(settings));
    ASSERT_EQ(first->state(), SingleInstance::State::Acquired) << first->problem();
    EXPECT_EQ(first->lockFile(),
              fs::canonical(realHome) / ".local" / "share" / "Lumvane" / "lumvane.lock");

    struct Start {
        const char* name;
        std::optional<std::string> runtimeDir;
        fs::path settingsFolder;
    };
    const std::vector<Start> starts = {
        {"same environment", runtime.string(), settings},
        {"no runtime folder", std::nullopt, settings},
        {"unusable runtime folder", "relative/run", settings},
        {"another runtime folder", (root_ / "real-home").string(), settings},
        {"home through a link", runtime.string(),
         root_ / "home-link" / ".local" / "share" / "Lumvane"},
        {"home through a link, no runtime folder", std::nullopt,
         root_ / "home-link" / ".local" / "share" / "Lumvane"},
        {"dots in the path", std::nullopt,
         realHome / "." / ".local" / "x" / ".." / "share" / "Lumvane"},
    };
    for (const auto& start : starts) {
        SCOPED_TRACE(start.name);
        if (start.runtimeDir) {
            ::setenv("XDG_RUNTIME_DIR", start.runtimeDir->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        SingleInstance second =
            SingleInstance::acquire(SingleInstance::lockFileFor(start.settingsFolder));
        EXPECT_EQ(second.state(), SingleInstance::State::Running) << second.lockFile();
        EXPECT_EQ(second.holder(), std::optional<pid_t>(::getpid()));
    }

    // Another folder is another lock.
    EXPECT_EQ(
        SingleInstance::acquire(SingleInstance::lockFileFor(root_ / "other" / "Lumvane")).state(),
        SingleInstance::State::Acquired);
    // Nothing is left in the runtime folder.
    EXPECT_TRUE(fs::is_empty(runtime));
}

TEST_F(SingleInstanceTest, QtIsGivenAPrivateRuntimeFolderWhenTheVariableNamesNone) {
    const fs::path good = root_ / "run";
    fs::create_directories(good);
    fs::permissions(good, fs::perms::owner_all, fs::perm_options::replace);
    const fs::path open = root_ / "open";
    fs::create_directories(open);
    fs::permissions(open, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::replace);
    const fs::path link = root_ / "link";
    fs::create_directory_symlink(good, link);
    const fs::path tmp = root_ / "tmp";
    fs::create_directories(tmp);
    const char* savedTmp = std::getenv("TMPDIR");
    const std::string keptTmp = savedTmp ? savedTmp : "";
    ::setenv("TMPDIR", tmp.c_str(), 1);
    const fs::path fallback = tmp / ("lumvane-runtime-" + std::to_string(::geteuid()));

    struct Case {
        std::optional<std::string> value;
        fs::path expected;
    };
    for (const Case& c : {Case{good.string(), good}, Case{std::nullopt, fallback},
                          Case{"", fallback}, Case{"relative/run", fallback},
                          Case{(root_ / "missing").string(), fallback},
                          Case{open.string(), fallback}, Case{link.string(), fallback}}) {
        SCOPED_TRACE(c.value.value_or("(unset)"));
        if (c.value) {
            ::setenv("XDG_RUNTIME_DIR", c.value->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        EXPECT_EQ(provideRuntimeFolder(), c.expected);
        ASSERT_NE(std::getenv("XDG_RUNTIME_DIR"), nullptr);
        EXPECT_EQ(fs::path(std::getenv("XDG_RUNTIME_DIR")), c.expected);
        EXPECT_EQ(fs::status(c.expected).permissions(), fs::perms::owner_all);
    }
    // A fallback left with the wrong mode is put right; the open folder is not touched.
    fs::permissions(fallback, fs::perms::owner_all | fs::perms::group_exec,
                    fs::perm_options::replace);
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(provideRuntimeFolder(), fallback);
    EXPECT_EQ(fs::status(fallback).permissions(), fs::perms::owner_all);
    EXPECT_NE(fs::status(open).permissions(), fs::perms::owner_all);
    if (savedTmp) {
        ::setenv("TMPDIR", keptTmp.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
}

TEST_F(SingleInstanceTest, AFolderThatCannotBeMadeFailsWithoutBlocking) {
    const fs::path blocker = root_ / "file";
    {
        std::FILE* f = std::fopen(blocker.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    SingleInstance lock = SingleInstance::acquire(blocker / "sub" / "lumvane.lock");
    EXPECT_EQ(lock.state(), SingleInstance::State::Failed);
    EXPECT_FALSE(lock.problem().empty());
}

}  // namespace
}  // namespace lumvane
