// The crash hooks end the process whatever state it crashed in: with the log's dispatcher
// stuck, and with the allocator's lock held by the crashing thread (a corrupted heap). A
// handler that logged or flushed the log there would wait for ever.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace lumvane {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedAllocator = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizedAllocator = true;
#else
constexpr bool kSanitizedAllocator = false;
#endif
#else
constexpr bool kSanitizedAllocator = false;
#endif

std::string readAll(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Ending {
    bool ended = false;
    int status = 0;
    std::string errors;
    std::string log;
};

// Runs the child in the mode and waits for it at most `limit`; it is killed after that.
Ending runChild(const std::string& mode, std::vector<std::string> extraEnvironment,
                std::chrono::seconds limit) {
    const fs::path folder =
        fs::temp_directory_path() / ("crash-hooks-" + mode + "-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "logs");
    const fs::path errors = folder / "stderr.txt";

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (auto& extra : extraEnvironment) env.push_back(std::move(extra));
    // The child crashes on purpose: the sanitizers' own handlers would report it instead.
    env.emplace_back("ASAN_OPTIONS=handle_segv=0:handle_abort=0:detect_leaks=0");
    env.emplace_back("UBSAN_OPTIONS=handle_segv=0:handle_abort=0");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = LUMVANE_CRASH_HOOKS_CHILD;
    std::string logs = (folder / "logs").string();
    std::vector<char*> argv = {program.data(), const_cast<char*>(mode.c_str()), logs.data(),
                               nullptr};
    pid_t pid = 0;
    Ending ending;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return ending;
    }
    posix_spawn_file_actions_destroy(&actions);
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const pid_t done = waitpid(pid, &ending.status, WNOHANG);
        if (done == pid) {
            ending.ended = true;
            break;
        }
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &ending.status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ending.errors = readAll(errors);
    for (const auto& entry : fs::directory_iterator(folder / "logs")) {
        ending.log += readAll(entry.path());
    }
    fs::remove_all(folder);
    return ending;
}

TEST(CrashHooks, ASegmentationFaultWhileTheLogIsStuckStillEndsTheProcess) {
    const Ending e = runChild("log", {}, std::chrono::seconds(60));
    ASSERT_TRUE(e.ended) << "the crash handler hung; stderr:\n" << e.errors;
    ASSERT_TRUE(WIFSIGNALED(e.status)) << "status " << e.status << "\n" << e.errors;
    EXPECT_EQ(WTERMSIG(e.status), SIGSEGV);
    EXPECT_NE(e.errors.find("lumvane: !!!! app crashed !!!! (SIGSEGV, signal 11)\n"),
              std::string::npos)
        << e.errors;
    // What the log held and the crash itself are in its file, in that order.
    const size_t before = e.log.find("the last line before the crash");
    const size_t crash = e.log.find("!!!! app crashed !!!! (SIGSEGV");
    ASSERT_NE(before, std::string::npos) << e.log;
    ASSERT_NE(crash, std::string::npos) << e.log;
    EXPECT_LT(before, crash);
}

TEST(CrashHooks, AnAbortInsideTheAllocatorWithItsLockHeldStillEndsTheProcess) {
    if (kSanitizedAllocator) {
        GTEST_SKIP() << "the allocator is AddressSanitizer's in this build; the optimised build "
                        "of the test command runs this case";
    }
    const Ending e =
        runChild("heap", {"GLIBC_TUNABLES=glibc.malloc.tcache_count=0"}, std::chrono::seconds(60));
    ASSERT_TRUE(e.ended) << "the crash handler hung; stderr:\n" << e.errors;
    ASSERT_TRUE(WIFSIGNALED(e.status)) << "status " << e.status << "\n" << e.errors;
    EXPECT_EQ(WTERMSIG(e.status), SIGABRT);
    EXPECT_NE(e.errors.find("unaligned fastbin chunk"), std::string::npos) << e.errors;
    EXPECT_NE(e.errors.find("lumvane: !!!! app crashed !!!! (SIGABRT, signal 6)\n"),
              std::string::npos)
        << e.errors;
    EXPECT_NE(e.log.find("!!!! app crashed !!!! (SIGABRT"), std::string::npos) << e.log;
}

}  // namespace
}  // namespace lumvane
