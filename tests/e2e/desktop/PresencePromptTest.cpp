// The security-key presence prompt as a desktop notice with "Approve" and "Reject" as
// its actions, answered through a stand-in notification server on a private session bus
// (no display needed): each answer a person can give reaches the prompt's caller.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <fstream>
#include <optional>
#include <regex>

#include "../E2EHarness.h"
#include "app/desktop/DesktopNoticeBackend.h"
#include "runtime/Clock.h"
#include "u2f/UserPresence.h"

namespace lumvane::e2e {
namespace {

constexpr Seconds kStartTime{60};

std::string dbusDaemon() {
    for (const char* candidate : {"/usr/bin/dbus-daemon", "/bin/dbus-daemon"}) {
        if (::access(candidate, X_OK) == 0) return candidate;
    }
    return {};
}

class PresencePromptTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (dbusDaemon().empty()) return;
        home_ = new TempHome();
        const fs::path config = home_->path() / "session.conf";
        std::ofstream(config) << "<busconfig><type>session</type><listen>unix:dir="
                              << home_->path().string()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                 "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow "
                                 "eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        bus_ = new Process(Process::Options{
            {dbusDaemon(), "--config-file=" + config.string(), "--nofork", "--print-address=1"},
            home_->environment(),
            home_->path() / "bus.err",
            false});
        auto address = bus_->waitForLine("^(unix:.*)$", kStartTime);
        if (!address) return;
        address_ = *address;
        std::vector<std::string> env = home_->environment();
        std::erase_if(
            env, [](const std::string& e) { return e.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) == 0; });
        env.push_back("DBUS_SESSION_BUS_ADDRESS=" + address_);
        server_ = new Process(Process::Options{{std::string(LUMVANE_E2E_FAKE_NOTIFICATIONS)},
                                               env,
                                               home_->path() / "notifications.err",
                                               true});
        if (!server_->waitForLine("notification server ready", kStartTime)) return;
        // This process talks to the same private bus.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
        static int argc = 1;
        static char name[] = "desktop_e2e_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
        backend_ = new std::shared_ptr<DesktopNoticeBackend>(
            std::make_shared<DesktopNoticeBackend>(nullptr));
        UserPresence::setEnvironment(*backend_, Clock::steady());
    }
    static void TearDownTestSuite() {
        UserPresence::setEnvironment(nullptr, Clock::steady());
        delete backend_;
        backend_ = nullptr;
        delete server_;
        server_ = nullptr;
        delete bus_;
        bus_ = nullptr;
        delete home_;
        home_ = nullptr;
    }
    void SetUp() override {
        if (!backend_) GTEST_SKIP() << "no private session bus (dbus-daemon)";
    }

    // Serves the bus's signals until the answer came or a generous deadline passed.
    static std::optional<bool> answer(const std::shared_ptr<std::optional<bool>>& result) {
        const auto end = std::chrono::steady_clock::now() + Seconds(30);
        while (!result->has_value() && std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return *result;
    }

    // Asks, waits for the prompt at the server; its notice id.
    std::string ask(const std::string& facet, const std::shared_ptr<std::optional<bool>>& result) {
        UserPresence::confirm(UserPresence::Notification::Register(facet), false,
                              [result](bool approved) { *result = approved; });
        auto id = server_->waitForLine(
            "^notify id=([0-9]+) .*summary=Security Key Request body=Register with " + facet +
                " actions=approve=Approve;reject=Reject timeout=0$",
            kStartTime);
        EXPECT_TRUE(id) << server_->output();
        return id.value_or("0");
    }

    static inline TempHome* home_ = nullptr;
    static inline Process* bus_ = nullptr;
    static inline Process* server_ = nullptr;
    static inline std::string address_;
    static inline std::shared_ptr<DesktopNoticeBackend>* backend_ = nullptr;
};

TEST_F(PresencePromptTest, ApproveRejectAndDismissReachTheCaller) {
    struct Case {
        const char* facet;
        const char* command;  // what the person does, as the server's command
        bool approved;
    };
    for (const auto& c : std::vector<Case>{{"approve.example", "invoke {} approve", true},
                                           {"reject.example", "invoke {} reject", false},
                                           {"dismiss.example", "dismiss {}", false},
                                           {"body.example", "invoke {} default", false}}) {
        SCOPED_TRACE(c.facet);
        auto result = std::make_shared<std::optional<bool>>();
        const std::string id = ask(c.facet, result);
        std::string command = c.command;
        command.replace(command.find("{}"), 2, id);
        server_->writeStdin(command + "\n");
        EXPECT_EQ(answer(result), c.approved);
    }
}

// A second request while one waits: the first is rejected before the second shows.
TEST_F(PresencePromptTest, ANewRequestRejectsTheOneWaiting) {
    auto first = std::make_shared<std::optional<bool>>();
    ask("first.example", first);
    auto second = std::make_shared<std::optional<bool>>();
    const std::string id = ask("second.example", second);
    EXPECT_EQ(answer(first), false);
    server_->writeStdin("invoke " + id + " approve\n");
    EXPECT_EQ(answer(second), true);
}

}  // namespace
}  // namespace lumvane::e2e
