// The harness itself: its children end on every way out of a test, and a peer that hangs
// up makes a write fail instead of ending the test program.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "E2EHarness.h"

namespace lumvane::e2e {
namespace {

// True once the process is gone or a zombie (nobody may have reaped it yet).
bool ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return true;
    const size_t close = text.rfind(')');
    return close == std::string::npos || text.compare(close + 2, 1, "Z") == 0 ||
           text.compare(close + 2, 1, "X") == 0;
}

bool endsWithin(pid_t pid, Seconds limit) {
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::nanoseconds>(limit);
    while (!ended(pid)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string selfPath() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

// A shell that starts a long sleep in the background and prints its pid.
Process::Options sleeperShell() {
    return Process::Options{{"/bin/sh", "-c", "sleep 300 & echo sleeper $!; wait"}, {}, {}, false};
}

TEST(Harness, TheDestructorEndsTheChildAndWhatItStarted) {
    pid_t shell = 0;
    pid_t sleeper = 0;
    {
        Process p(sleeperShell());
        ASSERT_TRUE(p.started());
        shell = p.pid();
        auto pid = p.waitForLine("^sleeper ([0-9]+)$", Seconds(30));
        ASSERT_TRUE(pid) << p.output();
        sleeper = std::stoi(*pid);
    }
    EXPECT_TRUE(endsWithin(shell, Seconds(10)));
    EXPECT_TRUE(endsWithin(sleeper, Seconds(10)));
}

TEST(Harness, StopEndsTheGroupEvenWhenTheChildIsStopped) {
    Process p(sleeperShell());
    ASSERT_TRUE(p.started());
    auto pid = p.waitForLine("^sleeper ([0-9]+)$", Seconds(30));
    ASSERT_TRUE(pid) << p.output();
    p.signal(SIGSTOP);
    EXPECT_NE(p.stop(Seconds(10)), -1);
    EXPECT_TRUE(endsWithin(std::stoi(*pid), Seconds(10)));
}

// Run by the next test in a program of its own: starts a sleeper through the harness,
// says so and waits to be killed.
TEST(Harness, DISABLED_HelperThatIsKilled) {
    Process p(sleeperShell());
    auto pid = p.waitForLine("^sleeper ([0-9]+)$", Seconds(30));
    ASSERT_TRUE(pid);
    std::cout << "child " << p.pid() << " sleeper " << *pid << std::endl;
    std::this_thread::sleep_for(std::chrono::seconds(300));
}

TEST(Harness, ChildrenDieWithATestProgramThatIsKilled) {
    for (int deadly : {SIGKILL, SIGTERM}) {
        SCOPED_TRACE(deadly);
        Process helper(Process::Options{{selfPath(), "--gtest_also_run_disabled_tests",
                                         "--gtest_filter=Harness.DISABLED_HelperThatIsKilled"},
                                        {},
                                        {},
                                        false});
        ASSERT_TRUE(helper.started());
        auto line = helper.waitForLine("^child ([0-9]+ sleeper [0-9]+)$", Seconds(60));
        ASSERT_TRUE(line) << helper.output();
        const pid_t child = std::stoi(*line);
        const pid_t sleeper = std::stoi(line->substr(line->rfind(' ') + 1));
        helper.signal(deadly);
        EXPECT_TRUE(helper.waitExit(Seconds(30)));
        EXPECT_TRUE(endsWithin(child, Seconds(10)));
        EXPECT_TRUE(endsWithin(sleeper, Seconds(10)));
    }
}

TEST(Harness, WritesToAPeerThatHungUpFailWithoutEndingTheProgram) {
    // A server that takes each connection and drops it at once, as the TLS port drops a
    // plain HTTP request.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::atomic<bool> done{false};
    std::thread server([&] {
        while (!done) {
            const int c = ::accept(listener, nullptr, nullptr);
            if (c < 0) continue;
            linger reset{1, 0};
            ::setsockopt(c, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            ::close(c);
        }
    });
    ExtensionClient client(ntohs(address.sin_port));
    // Larger than the socket buffers, so the client is still writing when the reset comes.
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(client.post(std::string(8 << 20, 'x'), Seconds(30)));
    done = true;
    ::shutdown(listener, SHUT_RDWR);
    server.join();
    ::close(listener);

    // The same for a child's standard input after the child ended.
    Process p(Process::Options{{"/bin/true"}, {}, {}, true});
    ASSERT_TRUE(p.waitExit(Seconds(30)));
    p.writeStdin(std::string(1 << 20, 'x'));
}

}  // namespace
}  // namespace lumvane::e2e
