#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace lumvane {
namespace {

struct Case {
    std::vector<std::string> args;
    CommandLine::Mode mode;
    std::optional<std::string> ble;
    bool pair;
    bool error;
};

TEST(CommandLine, ModesOptionsAndMistakes) {
    using M = CommandLine::Mode;
    const std::vector<Case> cases = {
        {{}, M::Application, std::nullopt, false, false},
        {{"--headless"}, M::Headless, std::nullopt, false, false},
        {{"--headless", "--ble=sim:/tmp/air.sock"}, M::Headless, "sim:/tmp/air.sock", false, false},
        {{"--ble", "sim:/a b", "--headless", "--pair"}, M::Headless, "sim:/a b", true, false},
        {{"--headless", "--ble=qt"}, M::Headless, "qt", false, false},
        {{"--version"}, M::Version, std::nullopt, false, false},
        {{"--help", "--bogus"}, M::Help, std::nullopt, false, true},
        // Pairing from the command line only for the service without a status item; the
        // radio is chosen in both modes.
        {{"--pair"}, M::Application, std::nullopt, true, true},
        {{"--ble=sim:/x"}, M::Application, "sim:/x", false, false},
        {{"--headless", "--ble=sim:"}, M::Headless, "sim:", false, true},
        {{"--headless", "--ble="}, M::Headless, "", false, true},
        {{"--headless", "--ble"}, M::Headless, std::nullopt, false, true},
        {{"--headless", "--ble=bluez"}, M::Headless, "bluez", false, true},
        {{"--headless", "--ble=sim:/a", "--ble=sim:/b"}, M::Headless, "sim:/b", false, true},
        {{"--headless", "--frobnicate"}, M::Headless, std::nullopt, false, true},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        const auto line = CommandLine::parse(c.args);
        EXPECT_EQ(line.error.has_value(), c.error) << line.error.value_or("");
        if (line.error) continue;
        EXPECT_EQ(line.mode, c.mode);
        EXPECT_EQ(line.ble, c.ble);
        EXPECT_EQ(line.pair, c.pair);
    }
}

TEST(CommandLine, PushSpecOnlyAsFile) {
    auto ok = CommandLine::parse({"--headless", "--push=file:/tmp/wake"});
    ASSERT_FALSE(ok.error);
    EXPECT_EQ(ok.push, "file:/tmp/wake");
    EXPECT_TRUE(CommandLine::parse({"--headless", "--push=apns"}).error);
    EXPECT_TRUE(CommandLine::parse({"--headless", "--push=file:"}).error);
    EXPECT_FALSE(CommandLine::parse({"--push=file:/tmp/wake"}).error);
}

TEST(CommandLine, RegistrationWindowOnlyWithHeadless) {
    auto ok = CommandLine::parse({"--headless", "--open-registration"});
    ASSERT_FALSE(ok.error);
    EXPECT_TRUE(ok.openRegistration);
    EXPECT_FALSE(CommandLine::parse({"--headless"}).openRegistration);
    EXPECT_TRUE(CommandLine::parse({"--open-registration"}).error);
}

TEST(CommandLine, ArgvFormSkipsTheProgramName) {
    const char* argv[] = {"lumvane", "--headless", "--pair", nullptr};
    const auto line = CommandLine::parse(3, argv);
    ASSERT_FALSE(line.error);
    EXPECT_EQ(line.mode, CommandLine::Mode::Headless);
    EXPECT_TRUE(line.pair);
    EXPECT_NE(CommandLine::usage("lumvane").find("--headless"), std::string::npos);
}

}  // namespace
}  // namespace lumvane
