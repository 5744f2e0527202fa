// The process-wide connection when no device can be opened at first use: nothing for
// the life of the process, and the bridge answers false. One program of its own,
// since the process-wide instances are made once.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "U2FTestSupport.h"
#include "u2f/U2FAuthenticator.h"
#include "u2f/U2FAuthenticatorBridge.h"
#include "u2f/U2FHID.h"

using namespace lumvane;
using namespace lumvane::u2ftest;

namespace {

class CountingSigner : public U2FRemoteSigner {
  public:
    std::optional<Bytes> registerYubikeyWithRaw(const Bytes&) override {
        ++calls;
        return std::nullopt;
    }
    std::optional<Bytes> authenticationYubikeyWithRaw(const Bytes&) override {
        ++calls;
        return std::nullopt;
    }
    int calls = 0;
};

TEST(SharedAbsent, NoDeviceAtFirstUseMeansNoKeyForGood) {
    U2FHID::setSharedDeviceOpener([] { return std::unique_ptr<HidFrameDevice>(); });
    EXPECT_FALSE(U2FHID::shared());
    EXPECT_FALSE(U2FAuthenticator::shared());
    EXPECT_FALSE(U2FAuthenticatorBridge::running());
    EXPECT_FALSE(U2FAuthenticatorBridge::start());
    EXPECT_FALSE(U2FAuthenticatorBridge::stop());
    auto signer = std::make_shared<CountingSigner>();
    U2FAuthenticatorBridge::bindRemoteSigner(signer);  // dropped, nothing to install on
    U2FAuthenticatorBridge::setupRegisterCallback([](const Bytes&) { return std::nullopt; });

    // The device appears later: the process does not look for it again.
    FramePipe pipe;
    U2FHID::setSharedDeviceOpener([&] { return pipe.device(); });
    EXPECT_FALSE(U2FHID::shared());
    EXPECT_FALSE(U2FAuthenticatorBridge::start());
    EXPECT_EQ(signer->calls, 0);

    // The device checks still tell the truth.
    auto dir = std::filesystem::temp_directory_path() / "u2f-shared-absent";
    std::filesystem::create_directories(dir);
    U2FAuthenticatorBridge::setDevicePath((dir / "missing").string());
    EXPECT_FALSE(U2FAuthenticatorBridge::driverInstalled());
    EXPECT_FALSE(U2FAuthenticatorBridge::driverRunning());
    std::ofstream((dir / "uhid").string()) << "";
    U2FAuthenticatorBridge::setDevicePath((dir / "uhid").string());
    EXPECT_TRUE(U2FAuthenticatorBridge::driverInstalled());
    EXPECT_TRUE(U2FAuthenticatorBridge::driverRunning());
    EXPECT_FALSE(U2FAuthenticatorBridge::driverVersion().empty());
    std::filesystem::remove_all(dir);
}

}  // namespace
