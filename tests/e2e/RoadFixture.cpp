#include "RoadFixture.h"

#include <signal.h>

#include <fstream>
#include <iostream>

#include "extension/browser/TBNBrowserExtensionManager.h"

namespace lumvane::e2e {

namespace {
constexpr Seconds kStartTime{60};
constexpr Seconds kPairTime{120};
}  // namespace

void RoadTest::SetUp() {
    const std::string busy = busyPorts({19521, 19523, 19524});
    if (!busy.empty()) GTEST_FAIL() << busy;
    home_ = std::make_unique<TempHome>();
    air_ = std::make_unique<Process>(Process::Options{{Programs::bleAir(), airSocket().string()},
                                                      home_->environment(),
                                                      home_->path() / "air.err",
                                                      false});
    ASSERT_TRUE(air_->started());
    ASSERT_TRUE(air_->waitForLine("listening on", kStartTime)) << air_->errors();
}

// A sanitizer report on standard error is a failure even when the run went on.
void RoadTest::expectNoSanitizerReport(const Process& process, const char* name) {
    const std::string errors = process.errors();
    for (const char* mark : {"runtime error:", "ERROR: AddressSanitizer", "ERROR: LeakSanitizer"}) {
        EXPECT_EQ(errors.find(mark), std::string::npos) << name << ": " << errors;
    }
}

// The end of each log file of the runs, to see what the service was doing.
void RoadTest::dumpLumvaneLogs() const {
    std::error_code ec;
    const fs::path logs = home_->settingsFolder() / "logs";
    for (fs::directory_iterator it(logs, ec), end; !ec && it != end; it.increment(ec)) {
        std::ifstream in(it->path());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        const size_t from = lines.size() > 200 ? lines.size() - 200 : 0;
        std::cerr << "--- " << it->path().filename().string() << " (last " << lines.size() - from
                  << " lines)\n";
        for (size_t i = from; i < lines.size(); ++i) std::cerr << lines[i] << "\n";
    }
}

void RoadTest::TearDown() {
    const bool failed = HasFailure();
    if (phone_) {
        phone_->stop();
        if (failed) {
            std::cerr << "--- phone-sim output:\n"
                      << phone_->output() << "--- phone-sim errors:\n"
                      << phone_->errors();
        }
    }
    if (lumvane_) {
        // Every run ends the way a service manager ends it: SIGTERM, a clean stop.
        EXPECT_EQ(lumvane_->stop(Seconds(30)), 0) << "lumvane did not stop cleanly";
        expectNoSanitizerReport(*lumvane_, "lumvane");
        lumvaneOutputs_.push_back(lumvane_->output());
        if (failed) std::cerr << "--- lumvane errors:\n" << lumvane_->errors();
    }
    if (failed) {
        for (const auto& out : lumvaneOutputs_) std::cerr << "--- lumvane output:\n" << out;
    }
    if (failed && home_) dumpLumvaneLogs();
    phone_.reset();
    lumvane_.reset();
    if (air_) air_->stop();
    air_.reset();
    home_.reset();
}

void RoadTest::startLumvane(bool pair, const std::string& uiAnswers, bool openRegistration) {
    std::vector<std::string> argv = {Programs::lumvane(), "--headless",
                                     "--ble=sim:" + airSocket().string()};
    if (openRegistration) argv.push_back("--open-registration");
    if (pair) argv.push_back("--pair");
    std::vector<std::string> extra;
    if (!uiAnswers.empty()) extra.push_back("LUMVANE_TEST_UI_ANSWERS=" + uiAnswers);
    const fs::path err = home_->path() / ("lumvane-" + std::to_string(++lumvaneRuns_) + ".err");
    lumvane_ =
        std::make_unique<Process>(Process::Options{argv, home_->environment(extra), err, false});
    ASSERT_TRUE(lumvane_->started());
    ASSERT_TRUE(lumvane_->waitForLine("lumvane: serving http://127.0.0.1:19521/thrift", kStartTime))
        << lumvane_->output() << lumvane_->errors();
}

void RoadTest::stopLumvane() {
    ASSERT_TRUE(lumvane_);
    expectNoSanitizerReport(*lumvane_, "lumvane");
    lumvane_->signal(SIGTERM);
    const auto status = lumvane_->waitExit(Seconds(30));
    ASSERT_TRUE(status) << "lumvane did not stop within 30 s of SIGTERM";
    EXPECT_EQ(*status, 0) << lumvane_->errors();
    EXPECT_TRUE(lumvane_->waitForLine("^lumvane: stopped$", Seconds(1)));
    lumvaneOutputs_.push_back(lumvane_->output());
    lumvane_.reset();
}

void RoadTest::startPhone(const std::optional<std::string>& pairUrl) {
    std::vector<std::string> argv = {Programs::phoneSim(), "--air", airSocket().string(),
                                     "--fixture", Programs::vaultFixture()};
    if (pairUrl) {
        argv.push_back("--pair-url");
        argv.push_back(*pairUrl);
    }
    const fs::path err = home_->path() / ("phone-" + std::to_string(++phoneRuns_) + ".err");
    phone_ = std::make_unique<Process>(Process::Options{argv, home_->environment(), err, false});
    ASSERT_TRUE(phone_->started());
    ASSERT_TRUE(phone_->waitForLine("phone-sim ready", kStartTime))
        << phone_->output() << phone_->errors();
}

void RoadTest::stopPhone() {
    ASSERT_TRUE(phone_);
    phone_->stop();
    phone_.reset();
}

void RoadTest::startRoad(const RoadOptions& options) {
    if (options.tlsIdentity) {
        BrowserIntegrationOptions o;
        o.environment = BrowserEnvironment::underHome(home_->path().string());
        o.settingsFolder = home_->settingsFolder().string();
        TBNBrowserExtensionManager manager(o);
        ASSERT_TRUE(manager.generateSSLIdentity());
        ASSERT_TRUE(manager.isExistSSLIdentity());
    }
    ASSERT_NO_FATAL_FAILURE(startLumvane(true, options.uiAnswers));
    const auto url = lumvane_->waitForLine("^lumvane: pairing URL: (\\S+)$", kStartTime);
    ASSERT_TRUE(url) << lumvane_->output();
    ASSERT_NO_FATAL_FAILURE(startPhone(*url));
    ASSERT_TRUE(lumvane_->waitForLine("^lumvane: (paired .*)$", kPairTime))
        << "no pairing; lumvane said:\n"
        << lumvane_->output() << "phone-sim said:\n"
        << phone_->output();
    EXPECT_FALSE(lumvane_->waitForLine("pairing failed", Seconds(0)));

    // A new extension registers inside the window: it pings with a client id of its
    // own and no secret, and is handed the secret it uses from then on.
    ExtensionClient::Credentials registering{"E2E-CLIENT-" + std::to_string(::getpid()), ""};
    client_.setCredentials(ExtensionClient::Credentials{registering.clientId, ""});
    auto pong = client_.sendPing("com.tobrin.lumvane.e2e", "1.0.0");
    ASSERT_TRUE(pong);
    ASSERT_TRUE(pong->info());
    ASSERT_FALSE(pong->info()->error()) << pong->info()->error()->debugMessage().value_or("");
    ASSERT_TRUE(pong->clientSecret());
    ASSERT_FALSE(pong->clientSecret()->empty());
    client_.setCredentials(
        ExtensionClient::Credentials{registering.clientId, *pong->clientSecret()});
}

}  // namespace lumvane::e2e
