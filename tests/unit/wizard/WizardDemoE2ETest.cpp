// The first run end to end: wizard-demo (the wizard over a real application service on
// the simulated radio) in a temporary home, its QR image read with zbarimg, phone-sim
// pairing with what it read, the done page setting doneWizard, and a second start that
// opens no wizard and knows the paired phone.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include "E2EHarness.h"

namespace lumvane::e2e {
namespace {

constexpr Seconds kStartTime{60};
constexpr Seconds kPairTime{180};

std::string zbarimg(const std::string& png) {
    const std::string command = "zbarimg --raw -q '" + png + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "";
    std::string out;
    std::array<char, 512> buffer{};
    while (size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
        out.append(buffer.data(), n);
    ::pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

class WizardFirstRunE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::system("command -v zbarimg >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
        }
        const std::string busy = busyPorts({19521});
        if (!busy.empty()) GTEST_FAIL() << busy;
        home_ = std::make_unique<TempHome>();
        air_ = std::make_unique<Process>(
            Process::Options{{Programs::bleAir(), (home_->path() / "air.sock").string()},
                             home_->environment(),
                             home_->path() / "air.err",
                             false});
        ASSERT_TRUE(air_->started());
        ASSERT_TRUE(air_->waitForLine("listening on", kStartTime)) << air_->errors();
    }

    void TearDown() override {
        const bool failed = HasFailure();
        for (auto* p : {&phone_, &demo_}) {
            if (!*p) continue;
            (*p)->stop();
            if (failed)
                std::cerr << "--- output:\n" << (*p)->output() << "--- errors:\n" << (*p)->errors();
        }
        phone_.reset();
        demo_.reset();
        if (air_) air_->stop();
        air_.reset();
        home_.reset();
    }

    std::unique_ptr<Process> startDemo(int run) {
        auto p = std::make_unique<Process>(Process::Options{
            {Programs::lumvane(), "--ble=sim:" + (home_->path() / "air.sock").string(), "--shots",
             shots()},
            home_->environment({"QT_QPA_PLATFORM=offscreen"}),
            home_->path() / ("demo-" + std::to_string(run) + ".err"),
            false});
        EXPECT_TRUE(p->started());
        return p;
    }
    std::string shots() const { return std::string(LUMVANE_WIZARD_ARTEFACTS) + "/e2e"; }

    std::unique_ptr<TempHome> home_;
    std::unique_ptr<Process> air_;
    std::unique_ptr<Process> demo_;
    std::unique_ptr<Process> phone_;
};

TEST_F(WizardFirstRunE2E, QRPageImagePairsPhoneSimAndTheSecondStartOpensNoWizard) {
    demo_ = startDemo(1);
    ASSERT_TRUE(
        demo_->waitForLine("^wizard-demo: page TBNWizardWelcomeViewController$", kStartTime))
        << demo_->output();
    const auto invitation = demo_->waitForLine("^wizard-demo: invitation (\\S+)$", kPairTime);
    ASSERT_TRUE(invitation) << demo_->output();
    const auto png = demo_->waitForLine("^wizard-demo: qr (\\S+)$", kStartTime);
    ASSERT_TRUE(png) << demo_->output();
    const std::string url = zbarimg(*png);
    EXPECT_EQ(url, *invitation);
    ASSERT_FALSE(url.empty());

    phone_ = std::make_unique<Process>(
        Process::Options{{Programs::phoneSim(), "--air", (home_->path() / "air.sock").string(),
                          "--fixture", Programs::vaultFixture(), "--pair-url", url},
                         home_->environment(),
                         home_->path() / "phone.err",
                         false});
    ASSERT_TRUE(phone_->started());
    const auto finished =
        demo_->waitForLine("^wizard-demo: finished doneWizard=(\\d) paired=.*$", kPairTime);
    ASSERT_TRUE(finished) << demo_->output() << phone_->output();
    EXPECT_EQ(*finished, "1");
    EXPECT_FALSE(demo_->waitForLine("paired=none", Seconds(0)));
    EXPECT_TRUE(demo_->waitForLine("^wizard-demo: page TBNWizardDoneViewController$", Seconds(0)));
    EXPECT_EQ(demo_->waitExit(Seconds(60)), 0) << demo_->errors();
    phone_->stop();

    auto second = startDemo(2);
    const auto paired = second->waitForLine("^wizard-demo: no wizard, paired=(.+)$", kStartTime);
    ASSERT_TRUE(paired) << second->output() << second->errors();
    EXPECT_NE(*paired, "none");
    EXPECT_EQ(second->waitExit(Seconds(30)), 0);
}

}  // namespace
}  // namespace lumvane::e2e
