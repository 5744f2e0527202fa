// A process killed at random moments while it saves never leaves a settings file that
// does not load: every time the file holds one whole state, old or new.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "SettingsTestSupport.h"

extern char** environ;

namespace lumvane::settingstest {
namespace {

std::string hex(const Bytes& b) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (uint8_t c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

long tokenNumber(const std::optional<std::string>& token) {
    if (!token || token->rfind("n-", 0) != 0) return -1;
    return std::stol(token->substr(2));
}

// Starts the child and waits until it has loaded the file and begun saving. With
// `output`, the rest of the child's output stays readable there (the caller closes it).
pid_t startChild(const fs::path& file, const Bytes& key, const char* mode = nullptr,
                 int* output = nullptr) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const std::string program = LUMVANE_SETTINGS_CRASH_CHILD;
    const std::string path = file.string();
    const std::string keyHex = hex(key);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()),
                    const_cast<char*>(keyHex.c_str()), const_cast<char*>(mode), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 30000), 1) << "the child did not start";
    if (output) {
        // Just the "ready" line; what follows is the caller's.
        std::string line;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') line += c;
        EXPECT_EQ(line, "ready");
        *output = fds[0];
    } else {
        char buf[8] = {};
        EXPECT_GT(::read(fds[0], buf, sizeof buf), 0);
        ::close(fds[0]);
    }
    return pid;
}

// Everything left in the pipe of a child that has ended.
std::string drain(int fd) {
    std::string all;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return all;
}

TEST_F(SettingsTest, KilledWhileSavingTheFileAlwaysLoadsWhole) {
    {
        auto store = startStore(false);  // a valid file with both parts to begin with
    }
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> delayMs(5, 150);
    long lastSeen = -1;
    int advanced = 0;
    constexpr int kKills = 30;
    for (int round = 0; round < kKills; ++round) {
        pid_t pid = startChild(filePath(), testKey());
        // Real time is what the child runs on; the kill lands at a random point of a save.
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(rng)));
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own, status " << status;

        // Opened without the store, then loaded by a store: both must see one whole state.
        FileContent content;
        ASSERT_NO_THROW(content = openFile(filePath(), testKey())) << "round " << round;
        ASSERT_TRUE(content.encrypted.has_value());
        const long n = tokenNumber(content.settings.clientId());
        EXPECT_EQ(content.settings.lastSafariExtVersion(), content.settings.clientId());
        EXPECT_EQ(content.encrypted->clientSecret(), content.settings.clientId());
        EXPECT_GE(n, lastSeen) << "an older state came back";
        if (n > lastSeen) ++advanced;
        lastSeen = n;

        auto store = makeStore();
        store->loadBySettingsClass(filePath());
        ASSERT_NO_THROW(store->decryptEncryptedSettingsByKey(testKey()));
        EXPECT_EQ(store->clientSecret(), content.settings.clientId());
        store->waitForPendingSaves();
    }
    for (const auto& e : fs::directory_iterator(filePath().parent_path())) {
        EXPECT_EQ(e.path().filename().string().find(".unreadable-"), std::string::npos)
            << "a file was found unreadable: " << e.path();
    }
    // Not vacuous: the child did save between kills (how often depends on the machine).
    EXPECT_GE(advanced, 3) << "the child hardly saved anything between kills";
}

TEST_F(SettingsTest, KilledAmidCacheTrafficNeverLosesAChangeItWasToldIsSaved) {
    { auto store = startStore(false); }
    std::mt19937 rng(777);
    std::uniform_int_distribution<int> delayMs(20, 200);
    long lastSaved = -1;
    int rounds = 0;
    for (int round = 0; round < 15; ++round) {
        int output = -1;
        pid_t pid = startChild(filePath(), testKey(), "mixed", &output);
        ASSERT_GE(output, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(rng)));
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own, status " << status;
        // The last change the child was told is saved.
        const std::string said = drain(output);
        long told = -1;
        for (size_t at = 0, end; (end = said.find('\n', at)) != std::string::npos; at = end + 1) {
            told = std::stol(said.substr(at, end - at));
        }
        FileContent content;
        ASSERT_NO_THROW(content = openFile(filePath(), testKey())) << "round " << round;
        ASSERT_TRUE(content.encrypted.has_value());
        const long n = tokenNumber(content.settings.clientId());
        EXPECT_EQ(content.encrypted->clientSecret(), content.settings.clientId());
        EXPECT_GE(n, told) << "round " << round << ": a saved change was lost";
        EXPECT_GE(n, lastSaved) << "an older state came back";
        if (told > lastSaved) ++rounds;
        lastSaved = std::max(lastSaved, n);
    }
    // Not vacuous: the child reported saved changes in several rounds.
    EXPECT_GE(rounds, 3) << "the child hardly saved anything between kills";
}

}  // namespace
}  // namespace lumvane::settingstest
