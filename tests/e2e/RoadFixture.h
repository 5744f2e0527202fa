#pragma once
// One whole road per test: the radio hub, `lumvane --headless` pairing through its
// printed invitation, phone-sim with the vault fixture scanning it, and an extension
// client registered through the host service's ping while the registration window is
// open.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "E2EHarness.h"

namespace lumvane::e2e {

struct RoadOptions {
    // Answers lumvane's questions with this script (LUMVANE_TEST_UI_ANSWERS).
    std::string uiAnswers;
    // Makes a local TLS identity in the home folder first, so 19523 serves HTTPS.
    bool tlsIdentity = false;
};

class RoadTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts hub, lumvane and phone-sim, pairs them and registers `client`.
    void startRoad(const RoadOptions& options = RoadOptions());
    // Starts lumvane alone on the home folder as it is (paired before, or not).
    void startLumvane(bool pair, const std::string& uiAnswers = {}, bool openRegistration = true);
    // SIGTERM; expects a clean stop.
    void stopLumvane();
    void startPhone(const std::optional<std::string>& pairUrl);
    void stopPhone();
    void dumpLumvaneLogs() const;
    static void expectNoSanitizerReport(const Process& process, const char* name);

    // The site and logins of the vault fixture.
    static constexpr const char* kGithub = "https://github.com/login";
    static constexpr const char* kAlicePassword = "correct horse battery staple";
    static constexpr const char* kBank = "https://bank.example.com";

    fs::path airSocket() const { return home_->path() / "air.sock"; }

    std::unique_ptr<TempHome> home_;
    std::unique_ptr<Process> air_;
    std::unique_ptr<Process> lumvane_;
    std::unique_ptr<Process> phone_;
    int lumvaneRuns_ = 0;
    int phoneRuns_ = 0;
    // Registered through sendPing inside the registration window.
    ExtensionClient client_;
    std::vector<std::string> lumvaneOutputs_;
};

}  // namespace lumvane::e2e
