// What `lumvane --headless` keeps across a hard stop and says when the disk or the radio
// lets it down: a pairing announced is a pairing kept, failed saves are said (and so is
// their end), a key that cannot be stored stops the first start, a missing radio is said.
#include <signal.h>

#include <fstream>

#include "RoadFixture.h"

namespace lumvane::e2e {
namespace {

constexpr Seconds kStartTime{60};
constexpr Seconds kPairTime{120};

// Registers `client` inside the registration window of the running lumvane (opened just
// after it starts serving).
void registerClient(Process& lumvane, ExtensionClient& client, const std::string& clientId) {
    ASSERT_TRUE(lumvane.waitForLine("^lumvane: extension registration open for 120 s$", kStartTime))
        << lumvane.output();
    client.setCredentials(ExtensionClient::Credentials{clientId, ""});
    auto pong = client.sendPing("com.tobrin.lumvane.e2e", "1.0.0");
    ASSERT_TRUE(pong);
    ASSERT_TRUE(pong->info());
    ASSERT_FALSE(pong->info()->error()) << pong->info()->error()->debugMessage().value_or("");
    ASSERT_TRUE(pong->clientSecret());
    client.setCredentials(ExtensionClient::Credentials{clientId, *pong->clientSecret()});
}

void expectPassword(ExtensionClient& client, const std::string& site, const std::string& login,
                    const std::string& password) {
    auto r = client.getLoginData(site, login);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->info());
    ASSERT_FALSE(r->info()->error())
        << r->info()->error()->debugMessage().value_or("") << " (" << r->info()->error()->category()
        << ", " << r->info()->error()->id() << ")";
    ASSERT_TRUE(r->data());
    EXPECT_EQ(unbase64(r->data()->password().value_or("")), std::optional<std::string>(password));
}

// The kill comes the moment "paired" is printed: the next start must find the phone, and
// the phone must take the credentials it finds.
TEST_F(RoadTest, APhonePairedJustBeforeAKillStaysPaired) {
    ASSERT_NO_FATAL_FAILURE(startLumvane(true));
    const auto url = lumvane_->waitForLine("^lumvane: pairing URL: (\\S+)$", kStartTime);
    ASSERT_TRUE(url) << lumvane_->output();
    ASSERT_NO_FATAL_FAILURE(startPhone(*url));
    ASSERT_TRUE(lumvane_->waitForLine("^lumvane: (paired .*)$", kPairTime)) << lumvane_->output();
    lumvane_->signalGroup(SIGKILL);
    ASSERT_TRUE(lumvane_->waitExit(Seconds(30)));
    lumvaneOutputs_.push_back(lumvane_->output());
    lumvane_.reset();

    ASSERT_NO_FATAL_FAILURE(startLumvane(false));
    ASSERT_NO_FATAL_FAILURE(registerClient(*lumvane_, client_, "E2E-AFTER-KILL"));
    ASSERT_NO_FATAL_FAILURE(expectPassword(client_, kGithub, "alice", kAlicePassword));
}

// The settings folder goes away while the program runs, a file in its place so nothing can
// make it again (as a full or read-only disk would refuse it): the approval of a new extension is
// said not to be saved, and when the folder is back the retry saves it, which is said too; the next
// start still knows the extension.
TEST_F(RoadTest, SavesThatFailAreSaidRetriedAndTheirEndIsSaid) {
    ASSERT_NO_FATAL_FAILURE(startLumvane(false));
    const fs::path folder = home_->settingsFolder();
    const fs::path away = home_->path() / "away";
    fs::rename(folder, away);
    { std::ofstream(folder) << "in the way"; }
    ASSERT_NO_FATAL_FAILURE(registerClient(*lumvane_, client_, "E2E-SAVED-LATER"));
    ASSERT_TRUE(lumvane_->waitForLine("^lumvane: the settings cannot be saved \\(", Seconds(30)))
        << lumvane_->output();
    fs::remove(folder);
    fs::rename(away, folder);
    ASSERT_TRUE(lumvane_->waitForLine("^lumvane: the settings are saved again$", Seconds(90)))
        << lumvane_->output();
    const std::string out = lumvane_->output();
    size_t said = 0;
    for (size_t at = out.find("settings cannot be saved"); at != std::string::npos;
         at = out.find("settings cannot be saved", at + 1)) {
        ++said;
    }
    EXPECT_EQ(said, 1u) << "once per streak:\n" << out;
    ASSERT_NO_FATAL_FAILURE(stopLumvane());

    // The approval reached the disk: the extension's ping is answered without a new secret
    // outside the registration window.
    ASSERT_NO_FATAL_FAILURE(startLumvane(false, {}, false));
    auto pong = client_.sendPing("com.tobrin.lumvane.e2e", "1.0.0");
    ASSERT_TRUE(pong);
    ASSERT_TRUE(pong->info());
    EXPECT_FALSE(pong->info()->error()) << pong->info()->error()->debugMessage().value_or("");
}

// A first start where nothing can keep the settings key (no keyring, a data folder that
// cannot be made): it stops with a sentence that says so, and leaves no settings file that
// the next start could not open.
TEST_F(RoadTest, AFirstStartThatCannotStoreTheKeyStopsAndSaysWhy) {
    { std::ofstream(home_->path() / ".local") << "a file where the data folder should be"; }
    Process run(
        Process::Options{{Programs::lumvane(), "--headless", "--ble=sim:" + airSocket().string()},
                         home_->environment(),
                         home_->path() / "nokey.err",
                         false});
    ASSERT_TRUE(run.started());
    const auto status = run.waitExit(Seconds(60));
    ASSERT_TRUE(status) << run.output();
    EXPECT_EQ(*status, 1) << run.output();
    EXPECT_TRUE(
        run.waitForLine("^lumvane: the key of the settings cannot be stored \\(", Seconds(1)))
        << run.output() << run.errors();
    EXPECT_EQ(run.output().find("serving"), std::string::npos) << run.output();
    expectNoSanitizerReport(run, "lumvane");
}

TEST_F(RoadTest, AMissingSimulatedRadioIsSaid) {
    const fs::path nowhere = home_->path() / "no-such-hub.sock";
    Process run(
        Process::Options{{Programs::lumvane(), "--headless", "--ble=sim:" + nowhere.string()},
                         home_->environment(),
                         home_->path() / "noradio.err",
                         false});
    ASSERT_TRUE(run.started());
    EXPECT_TRUE(
        run.waitForLine("^lumvane: the simulated radio is not there \\(nothing listens at " +
                            nowhere.string() + "\\)",
                        kStartTime))
        << run.output();
    EXPECT_TRUE(run.waitForLine("^lumvane: serving ", kStartTime)) << run.output();
    EXPECT_EQ(run.stop(Seconds(30)), 0);
    expectNoSanitizerReport(run, "lumvane");
    // Said once, however often the central tries the socket again.
    const std::string out = run.output();
    EXPECT_EQ(out.find("simulated radio is not there"), out.rfind("simulated radio is not there"));
}

}  // namespace
}  // namespace lumvane::e2e
