#include "app/InstanceChannel.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

namespace lumvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class InstanceChannelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumvane-channel-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // Serves the requests that come until `expected` were answered (each wait bounded).
    static int serve(InstanceChannel& channel, int expected, const std::string& answer) {
        int served = 0;
        for (int round = 0; round < 100 && served < expected; ++round) {
            pollfd p{channel.fd(), POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            served += channel.serveWaiting(
                [&](const std::string& request) { return request + ":" + answer; });
        }
        return served;
    }

    fs::path root_;
};

// A later start reaches the one serving the settings folder, also through a linked home
// and from a folder whose path is too long for a socket address; once the server is
// gone, nobody answers and the socket file is gone with it.
TEST_F(InstanceChannelTest, ALaterStartIsAnsweredByTheCopyThatServes) {
    struct Case {
        const char* name;
        fs::path settingsFolder;
        fs::path askedFolder;
    };
    fs::create_directories(root_ / "home" / "Lumvane");
    fs::create_directory_symlink(root_ / "home", root_ / "home-link");
    fs::path deep = root_;
    for (int i = 0; i < 8; ++i) deep /= "a-rather-long-folder-name";
    fs::create_directories(deep);
    const std::vector<Case> cases = {
        {"same path", root_ / "home" / "Lumvane", root_ / "home" / "Lumvane"},
        {"home through a link", root_ / "home" / "Lumvane", root_ / "home-link" / "Lumvane"},
        {"long path", deep, deep},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = InstanceChannel::socketFileFor(c.settingsFolder);
        EXPECT_EQ(file, InstanceChannel::socketFileFor(c.askedFolder));
        std::string error;
        std::optional<InstanceChannel> channel = InstanceChannel::listen(file, &error);
        ASSERT_TRUE(channel) << error;
        auto answer = std::async(std::launch::async, [&] {
            return askRunningCopy(InstanceChannel::socketFileFor(c.askedFolder),
                                  InstanceChannel::kShowRequest, 30s);
        });
        EXPECT_EQ(serve(*channel, 1, "window"), 1);
        EXPECT_EQ(answer.get(), std::optional<std::string>("show:window"));

        channel.reset();
        EXPECT_FALSE(fs::exists(fs::symlink_status(file)));
        EXPECT_EQ(askRunningCopy(file, "show", 30s), std::nullopt);
    }
}

// What an earlier holder left: its socket file is replaced; a file of another kind with
// that name is left alone and nothing is served.
TEST_F(InstanceChannelTest, ASocketLeftByAnEndedHolderIsReplacedOtherFilesAreNot) {
    const fs::path file = root_ / "lumvane.sock";
    {
        // A holder that ended without removing its socket (killed).
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, file.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    ASSERT_TRUE(fs::is_socket(file));
    EXPECT_EQ(askRunningCopy(file, "show", 30s), std::nullopt) << "nobody serves a left file";
    {
        std::optional<InstanceChannel> channel = InstanceChannel::listen(file);
        ASSERT_TRUE(channel);
        auto answer =
            std::async(std::launch::async, [&] { return askRunningCopy(file, "show", 30s); });
        EXPECT_EQ(serve(*channel, 1, "menu"), 1);
        EXPECT_EQ(answer.get(), std::optional<std::string>("show:menu"));
    }

    std::ofstream(file) << "someone's notes";
    std::string error;
    EXPECT_FALSE(InstanceChannel::listen(file, &error));
    EXPECT_FALSE(error.empty());
    std::ifstream in(file);
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "someone's notes");
}

// A peer that connects and says nothing (or too much) costs the server at most its read
// limit and gets no answer; the next start is answered as usual.
TEST_F(InstanceChannelTest, APeerThatSaysNothingUsefulDoesNotHoldTheServerUp) {
    const fs::path file = root_ / "lumvane.sock";
    std::optional<InstanceChannel> channel = InstanceChannel::listen(file);
    ASSERT_TRUE(channel);

    auto connectRaw = [&](const std::string& say) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, file.c_str());
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        if (!say.empty())
            EXPECT_EQ(::send(fd, say.data(), say.size(), MSG_NOSIGNAL),
                      static_cast<ssize_t>(say.size()));
        return fd;
    };
    const int silent = connectRaw("");
    const int flood = connectRaw(std::string(1000, 'x'));
    int calls = 0;
    const int served = channel->serveWaiting(
        [&](const std::string&) {
            ++calls;
            return std::string("window");
        },
        100ms);
    EXPECT_EQ(served, 0);
    EXPECT_EQ(calls, 0);
    char byte;
    EXPECT_EQ(::recv(silent, &byte, 1, 0), 0) << "closed without an answer";
    ::close(silent);
    ::close(flood);

    auto answer = std::async(std::launch::async, [&] { return askRunningCopy(file, "show", 30s); });
    EXPECT_EQ(serve(*channel, 1, "window"), 1);
    EXPECT_EQ(answer.get(), std::optional<std::string>("show:window"));
}

}  // namespace
}  // namespace lumvane
