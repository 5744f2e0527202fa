// The first run end to end: wizard-demo (the wizard over a real application service on
// the simulated radio) in a temporary home, on a private Xvfb display when there is one, its QR
// image read with zbarimg, phone-sim pairing with what it read, the done page setting doneWizard,
// and a second start that opens no wizard, knows the paired phone, imports a CSV file into
// phone-sim through the import window and exports phone-sim's vault through the export window.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include <nlohmann/json.hpp>

#include <fstream>

#include "E2EHarness.h"
#include "core/importexport/ImportExportService.h"

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

// The absolute path of a program on PATH; empty when there is none.
std::string programPath(const std::string& name) {
    FILE* pipe = ::popen(("command -v " + name + " 2>/dev/null").c_str(), "r");
    if (!pipe) return "";
    std::array<char, 512> buffer{};
    std::string out;
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
        // A display of our own: Xvfb picks a free number and writes it to its output.
        if (const std::string xvfb = programPath("Xvfb"); !xvfb.empty()) {
            xvfb_ = std::make_unique<Process>(Process::Options{
                {xvfb, "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"},
                home_->environment(),
                home_->path() / "xvfb.err",
                false});
            ASSERT_TRUE(xvfb_->started());
            const auto display = xvfb_->waitForLine("^(\\d+)$", kStartTime);
            ASSERT_TRUE(display) << xvfb_->errors();
            displayEnvironment_ = {"DISPLAY=:" + *display, "QT_QPA_PLATFORM=xcb"};
        }
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
        if (xvfb_) xvfb_->stop();
        xvfb_.reset();
        if (air_) air_->stop();
        air_.reset();
        home_.reset();
    }

    std::unique_ptr<Process> startDemo(int run, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {Programs::lumvane(),
                                         "--ble=sim:" + (home_->path() / "air.sock").string(),
                                         "--shots", shots()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        auto p = std::make_unique<Process>(
            Process::Options{argv, home_->environment({"QT_QPA_PLATFORM=offscreen"}),
                             home_->path() / ("demo-" + std::to_string(run) + ".err"), false});
        EXPECT_TRUE(p->started());
        return p;
    }
    std::string shots() const { return std::string(LUMVANE_WIZARD_ARTEFACTS) + "/e2e"; }

    std::unique_ptr<TempHome> home_;
    std::unique_ptr<Process> air_;
    std::unique_ptr<Process> demo_;
    std::unique_ptr<Process> phone_;
    std::unique_ptr<Process> xvfb_;
    std::vector<std::string> displayEnvironment_{"QT_QPA_PLATFORM=offscreen"};
};

TEST_F(WizardFirstRunE2E, QRPairingThenImportAndExportThroughTheirWindows) {
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
    // The status icon's delegate of the service is still in place after the QR page.
    EXPECT_TRUE(demo_->waitForLine("^wizard-demo: finished .* delegate=kept$", Seconds(0)));
    EXPECT_TRUE(demo_->waitForLine("^wizard-demo: page TBNWizardDoneViewController$", Seconds(0)));
    EXPECT_EQ(demo_->waitExit(Seconds(60)), 0) << demo_->errors();

    // The second start: no wizard; the status menu's import and export windows.
    // Not the name the save panel proposes, nor its folder: the file must be the one typed.
    const std::string exported = (home_->path() / "my vault.lumvane.json").string();
    const std::string csv = std::string(LUMVANE_IMPORT_FIXTURES) + "/lastpass.csv";
    auto second = startDemo(2, {"--import", "2:" + csv, "--export", exported});
    const auto paired = second->waitForLine("^wizard-demo: no wizard, paired=(.+)$", kStartTime);
    ASSERT_TRUE(paired) << second->output() << second->errors();
    EXPECT_NE(*paired, "none");
    const auto imported = second->waitForLine("^wizard-demo: (import .*)$", kPairTime);
    ASSERT_TRUE(imported) << second->output() << second->errors();
    EXPECT_EQ(*imported, "import done");
    EXPECT_TRUE(phone_->waitForLine("^phone-sim imported: 3 sites$", kStartTime))
        << phone_->output();
    EXPECT_TRUE(phone_->waitForLine(
        "^phone-sim imported login: example.com alice@example.com notes=Line one\\\\nLine two, "
        "with comma$",
        Seconds(5)))
        << phone_->output();
    EXPECT_TRUE(
        second->waitForLine("^wizard-demo: save panel proposes Untitled.lumvane.json$", kStartTime))
        << second->output();
    const auto exportedLine =
        second->waitForLine("^wizard-demo: (export (done|failed).*)$", kPairTime);
    ASSERT_TRUE(exportedLine) << second->output() << second->errors();
    EXPECT_EQ(*exportedLine, "export done");
    EXPECT_EQ(second->waitExit(Seconds(60)), 0) << second->errors();

    // The file reads back as phone-sim's vault: its sites, their domains and logins.
    std::shared_ptr<TBNU2FDataList> keys;
    std::optional<std::string> readError;
    ImportExportService reader{ImportExportService::Options{}};
    auto sites = reader.loadRecordsFromLumvaneJsonFile(
        exported, keys, [&](std::optional<std::string> e) { readError = e; });
    ASSERT_FALSE(readError) << *readError;
    std::ifstream in(Programs::vaultFixture());
    const auto vault = nlohmann::json::parse(in);
    std::ifstream written(exported);
    const std::string text((std::istreambuf_iterator<char>(written)),
                           std::istreambuf_iterator<char>());
    ASSERT_EQ(sites.size(), vault["sites"].size()) << text;
    for (size_t i = 0; i < sites.size(); ++i) {
        const auto& want = vault["sites"][i];
        SCOPED_TRACE(want["siteUrl"].get<std::string>());
        EXPECT_EQ(sites[i]->domain().value_or(""), want["domain"].get<std::string>());
        ASSERT_TRUE(sites[i]->loginData());
        ASSERT_EQ(sites[i]->loginData()->size(), want["logins"].size());
        for (size_t j = 0; j < want["logins"].size(); ++j) {
            const auto& login = *sites[i]->loginData()->at(j);
            EXPECT_EQ(login.login().value_or(""), want["logins"][j]["login"].get<std::string>());
            EXPECT_EQ(login.password().value_or(""),
                      want["logins"][j]["password"].get<std::string>());
            EXPECT_EQ(login.notes().value_or(""), want["logins"][j].value("notes", ""));
        }
    }
}

}  // namespace
}  // namespace lumvane::e2e
