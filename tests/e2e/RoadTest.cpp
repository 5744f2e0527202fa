// The whole road: extension -> 127.0.0.1:19521 -> lumvane --headless -> simulated radio
// -> phone-sim's vault, and back.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "RoadFixture.h"
#include "crypto/TBNKeyChainManager.h"
#include "extension/browser/HostsRecord.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "platform/keychain/FileKeychain.h"
#include "runtime/HexString.h"
#include "runtime/Paths.h"
#include "settings/TBNSettings.h"

namespace lumvane::e2e {
namespace {

void expectError(const std::shared_ptr<TBNResponseInfo>& info, int32_t category, int64_t id) {
    ASSERT_TRUE(info) << "no response info";
    ASSERT_TRUE(info->error()) << "no error in the response info";
    EXPECT_EQ(info->error()->category(), category);
    EXPECT_EQ(info->error()->id(), id);
}

void expectNoError(const std::shared_ptr<TBNResponseInfo>& info) {
    ASSERT_TRUE(info) << "no response info";
    EXPECT_FALSE(info->error()) << "error (" << info->error()->category() << ", "
                                << info->error()->id() << ") "
                                << info->error()->debugMessage().value_or("");
}

TEST_F(RoadTest, RegisteredClientGetsThePhonesLoginsBareAndEnveloped) {
    ASSERT_NO_FATAL_FAILURE(startRoad());

    // The registered secret is approved: a second ping is answered without a new one.
    auto pong = client_.sendPing("com.tobrin.lumvane.e2e", "1.0.0");
    ASSERT_TRUE(pong);
    expectNoError(pong->info());

    struct Case {
        const char* site;
        const char* login;
        const char* password;
    };
    for (bool encrypted : {false, true}) {
        client_.setEncrypted(encrypted);
        for (const Case& c :
             {Case{kGithub, "alice", kAlicePassword}, Case{kGithub, "alice-work", "Tr0ub4dor&3"},
              Case{kBank, "alice", "p\u00e4ssw\u00f6rd \u2713"}}) {
            SCOPED_TRACE(std::string(encrypted ? "envelope " : "bare ") + c.site + " " + c.login);
            auto r = client_.getLoginData(c.site, c.login);
            ASSERT_TRUE(r);
            expectNoError(r->info());
            ASSERT_TRUE(r->data());
            EXPECT_EQ(r->data()->login(), std::optional<std::string>(c.login));
            // Passwords cross the extension interface as Base64 of their UTF-8 bytes.
            ASSERT_TRUE(r->data()->password());
            EXPECT_EQ(*r->data()->password(), base64(c.password));
        }
    }
}

TEST_F(RoadTest, TwoFactorCodeIsTheOneThePhoneComputes) {
    ASSERT_NO_FATAL_FAILURE(startRoad());
    const auto before = std::time(nullptr);
    auto r = client_.get2FACode(kGithub, "alice");
    const auto after = std::time(nullptr);
    ASSERT_TRUE(r);
    expectNoError(r->info());
    ASSERT_TRUE(r->code());
    // The fixture's secret is the RFC 6238 test key "12345678901234567890".
    const Bytes secret = hexData("3132333435363738393031323334353637383930");
    EXPECT_TRUE(*r->code() == totp(secret, before) || *r->code() == totp(secret, after))
        << "code " << *r->code();
    EXPECT_NE(*r->code(), totp(secret, before - 90));
}

TEST_F(RoadTest, CompleteLoginsGoStraightToThePhonesVault) {
    ASSERT_NO_FATAL_FAILURE(startRoad());
    const std::string password = "n3w p\u00e4ss";
    TBNLoginData login;
    login.setLogin(std::string("bob"));
    login.setPassword(base64(password));

    // With the phone online and login and password given, the phone asks its user.
    auto added = client_.addLoginData(kGithub, login);
    ASSERT_TRUE(added);
    expectNoError(added->info());

    auto r = client_.getLoginData(kGithub, "bob");
    ASSERT_TRUE(r);
    expectNoError(r->info());
    ASSERT_TRUE(r->data());
    ASSERT_TRUE(r->data()->password());
    EXPECT_EQ(*r->data()->password(), base64(password));
}

TEST_F(RoadTest, ScriptedSaveAnswerAddsTheLoginAndACancelledOneDoesNot) {
    // A login without password is put to the user on the desktop: headless, that is a
    // cancel; with the test script answering "save" it reaches the phone.
    ASSERT_NO_FATAL_FAILURE(startRoad());
    TBNLoginData login;
    login.setLogin(std::string("carol"));

    auto refused = client_.addLoginData(kGithub, login);
    ASSERT_TRUE(refused);
    expectError(refused->info(), 2, 3);
    auto missing = client_.getLoginData(kGithub, "carol");
    ASSERT_TRUE(missing);
    EXPECT_TRUE(!missing->data() ||
                missing->data()->login() != std::optional<std::string>("carol"));

    ASSERT_NO_FATAL_FAILURE(stopLumvane());
    ASSERT_NO_FATAL_FAILURE(startLumvane(false, "save=plain"));
    std::shared_ptr<TBNAddLoginDataResponse> saved;
    // The restarted service finds the paired phone again before it can save.
    for (int attempt = 0; attempt < 20; ++attempt) {
        saved = client_.addLoginData(kGithub, login);
        ASSERT_TRUE(saved && saved->info());
        if (!saved->info()->error() || saved->info()->error()->category() != 3) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    expectNoError(saved->info());
    auto found = client_.getLoginData(kGithub, "carol");
    ASSERT_TRUE(found);
    expectNoError(found->info());
    ASSERT_TRUE(found->data());
    EXPECT_EQ(found->data()->login(), std::optional<std::string>("carol"));
}

TEST_F(RoadTest, PingsRegisterOnlyInsideTheRegistrationWindow) {
    ASSERT_NO_FATAL_FAILURE(startRoad());
    ASSERT_NO_FATAL_FAILURE(stopLumvane());
    ASSERT_NO_FATAL_FAILURE(startLumvane(false, "", false));

    // Window closed: a new client is handed no secret and stays unapproved.
    ExtensionClient late;
    late.setCredentials(ExtensionClient::Credentials{"E2E-LATE-CLIENT", ""});
    auto refused = late.sendPing("com.tobrin.lumvane.e2e", "1.0.0");
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->clientSecret() && !refused->clientSecret()->empty());
    expectError(refused->info(), 1, 1);

    // The client registered before the restart is still approved.
    auto pong = client_.sendPing("com.tobrin.lumvane.e2e", "1.0.0");
    ASSERT_TRUE(pong);
    expectNoError(pong->info());

    // SIGUSR1 opens the window, as the status menu's install entries do.
    lumvane_->signal(SIGUSR1);
    ASSERT_TRUE(lumvane_->waitForLine("registration open", Seconds(10)));
    auto registered = late.sendPing("com.tobrin.lumvane.e2e", "1.0.0");
    ASSERT_TRUE(registered);
    expectNoError(registered->info());
    ASSERT_TRUE(registered->clientSecret());
    EXPECT_FALSE(registered->clientSecret()->empty());
}

TEST_F(RoadTest, UnapprovedClientsAreRefused) {
    ASSERT_NO_FATAL_FAILURE(startRoad());
    ExtensionClient stranger;
    stranger.setCredentials(ExtensionClient::Credentials{"NOT-REGISTERED", "GUESSED-SECRET"});
    auto r = stranger.getLoginData(kGithub, "alice");
    ASSERT_TRUE(r);
    expectError(r->info(), 1, 1);
    EXPECT_FALSE(r->data());

    // A registered id with a wrong secret is no better.
    ExtensionClient impostor;
    impostor.setCredentials(
        ExtensionClient::Credentials{client_.credentials()->clientId, "GUESSED-SECRET"});
    auto r2 = impostor.getLoginData(kGithub, "alice");
    ASSERT_TRUE(r2);
    expectError(r2->info(), 1, 1);

    // An envelope of a client the server does not know is refused before any processor.
    auto body = stranger.post(
        R"({"request":"AAAAAAAAAAAAAAAAAAAAAA==","clientId":"NOT-REGISTERED","encrypted":true})");
    ASSERT_TRUE(body);
    EXPECT_EQ(*body, R"({"error":"not authorized"})");
}

TEST_F(RoadTest, PausedServiceAnswersPausedAfterARestart) {
    ASSERT_NO_FATAL_FAILURE(startRoad());
    ASSERT_NO_FATAL_FAILURE(stopLumvane());

    // Pause through the settings file, as the status menu's pause entry leaves it.
    {
        Paths::setRootOverride(home_->path());
        TBNKeyChainManager keychain(std::make_shared<FileKeychain>(home_->settingsFolder()));
        const Bytes key = keychain.dataForKey(std::string("com.tobrin.lumvane.passcode"));
        TBNSettings::Options o;
        auto settings = TBNSettings::create(o);
        settings->loadBySettingsClass(TBNSettings::settingsFilePath());
        settings->decryptEncryptedSettingsByKey(key);
        EXPECT_TRUE(settings->firstPairedDevice()) << "the pairing was stored";
        settings->setPaused(true);
        settings->waitForPendingSaves();
        Paths::setRootOverride(std::nullopt);
    }

    ASSERT_NO_FATAL_FAILURE(startLumvane(false));
    auto r = client_.getLoginData(kGithub, "alice");
    ASSERT_TRUE(r);
    expectError(r->info(), 4, 16);
    EXPECT_FALSE(r->data());
}

TEST_F(RoadTest, GonePhoneGivesDeviceNotFoundWithinTheBoundedWait) {
    ASSERT_NO_FATAL_FAILURE(startRoad());
    auto first = client_.getLoginData(kGithub, "alice");
    ASSERT_TRUE(first);
    expectNoError(first->info());

    ASSERT_NO_FATAL_FAILURE(stopPhone());
    // Without a way to wake the phone the answer is immediate; a phone that might still
    // come is waited for 300 s at most. Either way the answer comes, as (3, 7).
    client_.setTimeout(Seconds(330));
    const auto start = std::chrono::steady_clock::now();
    auto r = client_.getLoginData(kGithub, "alice");
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(r);
    expectError(r->info(), 3, 7);
    EXPECT_FALSE(r->data());
    EXPECT_LT(took, std::chrono::seconds(310));
}

TEST_F(RoadTest, SigtermEndsTheRunPromptlyWhileARequestWaitsForThePhone) {
    ASSERT_NO_FATAL_FAILURE(startRoad());
    // A phone that stops answering mid-connection: the request waits for its reply.
    phone_->signal(SIGSTOP);
    std::thread waiting([this] {
        ExtensionClient c;
        c.setCredentials(client_.credentials());
        c.setTimeout(Seconds(120));
        try {
            c.getLoginData(kGithub, "alice");
        } catch (const std::exception&) {
            // The answer is lost with the run; that is the point.
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto start = std::chrono::steady_clock::now();
    lumvane_->signal(SIGTERM);
    const auto status = lumvane_->waitExit(Seconds(30));
    const auto took = std::chrono::steady_clock::now() - start;
    phone_->signal(SIGCONT);
    waiting.join();
    ASSERT_TRUE(status) << "lumvane did not stop within 30 s of SIGTERM";
    EXPECT_EQ(*status, 0);
    EXPECT_LT(took, std::chrono::seconds(15));
    EXPECT_TRUE(lumvane_->waitForLine("^lumvane: stopped$", Seconds(1)));
}

size_t collect(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

TEST_F(RoadTest, HttpsAnswersWithTheLocalIdentity) {
    ASSERT_NO_FATAL_FAILURE(startRoad({"", true}));
    ASSERT_TRUE(lumvane_->waitForLine("and https on 19523", Seconds(0))) << lumvane_->output();

    BrowserIntegrationOptions o;
    o.environment = BrowserEnvironment::underHome(home_->path().string());
    o.settingsFolder = home_->settingsFolder().string();
    TBNBrowserExtensionManager manager(o);
    const std::string host(kLocalHostName);
    const std::string request = client_.encodePing("com.tobrin.lumvane.e2e");

    // The certificate names the local host name only; the client resolves it to the
    // loopback address and trusts exactly this certificate.
    CURL* curl = curl_easy_init();
    ASSERT_TRUE(curl);
    std::string reply;
    const std::string url = "https://" + host + ":19523/thrift";
    struct curl_slist* resolve = curl_slist_append(nullptr, (host + ":19523:127.0.0.1").c_str());
    struct curl_slist* headers =
        curl_slist_append(nullptr, "Content-Type: application/vnd.apache.thrift.json");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_RESOLVE, resolve);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_CAINFO, manager.certificatePath().c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(request.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(resolve);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    ASSERT_EQ(rc, CURLE_OK) << curl_easy_strerror(rc);
    EXPECT_EQ(status, 200);
    auto pong = client_.decodePing(reply);
    ASSERT_TRUE(pong);
    expectNoError(pong->info());

    // The same request to the plain port is not TLS: the HTTPS port refuses plain HTTP.
    ExtensionClient plainToTls(19523);
    EXPECT_NE(plainToTls.post(request, Seconds(10)).value_or(""), reply);
}

}  // namespace
}  // namespace lumvane::e2e

namespace lumvane::e2e {
namespace {

// Runs lumvane to its end; its exit status and standard output.
std::pair<int, std::string> runToEnd(const TempHome& home, std::vector<std::string> args) {
    args.insert(args.begin(), Programs::lumvane());
    Process p(Process::Options{args, home.environment(), home.path() / "run.err", false});
    const int status = p.waitExit(Seconds(60)).value_or(-1);
    p.waitForOutput([](const std::string&) { return false; }, Seconds(5));  // until EOF
    return {status, p.output()};
}

TEST(HeadlessRun, ATakenPortEndsTheRunWithAClearMessage) {
    const std::string busy = busyPorts({19521});
    if (!busy.empty()) GTEST_FAIL() << busy;
    TempHome home;
    // Someone else holds the plain-HTTP port.
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(s, 0);
    // Connections of earlier tests may linger in TIME_WAIT on the port.
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(19521);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(s, 1), 0);
    const auto [status, out] =
        runToEnd(home, {"--headless", "--ble=sim:" + (home.path() / "none.sock").string()});
    ::close(s);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("lumvane: cannot listen on 127.0.0.1:19521"), std::string::npos) << out;
}

TEST(HeadlessRun, MistakesOnTheCommandLineEndWithUsage) {
    TempHome home;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--headless", "--ble=carrier-pigeon"}, {"--pair"}, {"--headless", "--bogus"}}) {
        const auto [status, out] = runToEnd(home, args);
        EXPECT_EQ(status, 2) << args.back();
        EXPECT_EQ(out, "") << "usage goes to standard error";
    }
    // Nothing of the user's is created by a refused command line.
    EXPECT_FALSE(fs::exists(home.settingsFolder()));
}

}  // namespace
}  // namespace lumvane::e2e
