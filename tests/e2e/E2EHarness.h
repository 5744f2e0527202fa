#pragma once
// What the end-to-end tests run on: real processes (the radio hub, phone-sim and
// `lumvane --headless`) in a temporary home folder, their output read line by line,
// and an RPC client that speaks the extensions' JSON encoding over HTTP to
// 127.0.0.1:19521, bare or in the encrypted envelope.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <thrift/transport/TBufferTransports.h>

#include "idl/protocols.h"
#include "runtime/Bytes.h"

namespace lumvane::e2e {

namespace fs = std::filesystem;
using Seconds = std::chrono::duration<double>;

// A private folder that stands for the home folder of every process of one test.
class TempHome {
  public:
    TempHome();
    ~TempHome();
    const fs::path& path() const { return path_; }
    fs::path dataHome() const { return path_ / ".local" / "share"; }
    fs::path settingsFolder() const { return dataHome() / "Lumvane"; }
    // The environment of a child: the parent's PATH and sanitizer options, the home and
    // XDG folders below this one, no session bus (keys go to the file store) and no
    // display. `extra` entries ("NAME=value") are added.
    std::vector<std::string> environment(const std::vector<std::string>& extra = {}) const;

  private:
    fs::path path_;
};

// One child process with its standard output collected (standard error goes to a
// file next to it, shown when a test fails). Each child leads a process group of its
// own, dies with the test program (PR_SET_PDEATHSIG, SIGKILL), and its group is killed
// by the destructor, by stop() and on the test program's fatal signals and exit().
// The test program ignores SIGPIPE: writes to a closed socket or pipe fail with EPIPE.
class Process {
  public:
    struct Options {
        std::vector<std::string> argv;
        std::vector<std::string> environment;
        fs::path errorFile;  // standard error; empty: inherited
        bool pipeStdin = false;
    };
    explicit Process(Options options);
    ~Process();  // SIGKILL to its group
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }

    // Waits until the output holds a line matching the pattern and answers its first
    // capture group (or the whole line); nothing when the time passes or the process
    // ended without it.
    std::optional<std::string> waitForLine(const std::string& pattern, Seconds timeout);
    // Waits until the output as a whole satisfies `done`; the output then, or nothing.
    std::optional<std::string> waitForOutput(const std::function<bool(const std::string&)>& done,
                                             Seconds timeout);
    std::string output() const;
    std::string errors() const;

    void writeStdin(const std::string& bytes);
    void closeStdin();

    // To the child alone; signalGroup() to the child and what it started.
    void signal(int signalNumber);
    void signalGroup(int signalNumber);
    // Waits for the end; the exit status (128 + signal for a killed process), nothing
    // when the time passed.
    std::optional<int> waitExit(Seconds timeout);
    // SIGTERM, then SIGKILL to the group after the grace time; the exit status. Whatever
    // is left of the group afterwards is killed too.
    int stop(Seconds grace = Seconds(10));

  private:
    void readLoop(int fd);
    void killGroup();

    Options options_;
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    std::optional<int> exitStatus_;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::string output_;
    bool outputClosed_ = false;
    std::atomic<bool> stopReading_{false};
};

// Whether 127.0.0.1:port can be bound right now.
bool portIsFree(uint16_t port);
// A message naming the ports of `ports` that are taken; empty when all are free.
std::string busyPorts(const std::vector<uint16_t>& ports);

// Paths of the programs under test (set by the build).
struct Programs {
    static std::string lumvane();
    static std::string phoneSim();
    static std::string bleAir();
    static std::string vaultFixture();
};

// The extensions' view of the server: one RPC per HTTP POST to /thrift, the message in
// the JSON encoding, bare or in the envelope {"request","clientId","encrypted"}.
class ExtensionClient {
  public:
    struct Credentials {
        std::string clientId;
        std::string clientSecret;
    };

    explicit ExtensionClient(uint16_t port = 19521);

    void setCredentials(std::optional<Credentials> credentials) { credentials_ = credentials; }
    const std::optional<Credentials>& credentials() const { return credentials_; }
    // Encrypted envelope on every call (needs credentials).
    void setEncrypted(bool on) { encrypted_ = on; }
    // How long a call waits for its answer (60 s unless set).
    void setTimeout(Seconds timeout) { timeout_ = timeout; }

    // The raw POST: the answer body, nothing when no answer came.
    std::optional<std::string> post(const std::string& body, Seconds timeout = Seconds(60));

    // The message bytes a call would send (bare), for relays that send them themselves.
    std::string encodeGetLoginData(const std::string& siteUrl, const std::string& login);
    std::string encodePing(const std::string& appIdentifier);

    std::shared_ptr<TBNPongTestResponse> sendPing(const std::string& appIdentifier,
                                                  const std::string& appVersion);
    std::shared_ptr<TBNGetLoginDataResponse> getLoginData(const std::string& siteUrl,
                                                          const std::string& login);
    std::shared_ptr<TBNGet2FACodeResponse> get2FACode(const std::string& siteUrl,
                                                      const std::string& login);
    std::shared_ptr<TBNAddLoginDataResponse> addLoginData(const std::string& siteUrl,
                                                          const TBNLoginData& login);
    std::shared_ptr<TBNGetSiteDataResponse> getSiteData(const std::string& siteUrl);

    // Decoders of a reply body (bare message), for replies that came another way.
    std::shared_ptr<TBNGetLoginDataResponse> decodeGetLoginData(const std::string& reply);
    std::shared_ptr<TBNPongTestResponse> decodePing(const std::string& reply);

  private:
    std::shared_ptr<TBNRequestInfo> info();
    std::shared_ptr<TBNAuthentication> auth();
    // Sends what the client wrote to out_, puts the answer into in_ for the reader.
    void roundTrip();
    std::string wrap(const std::string& message);
    std::string unwrap(const std::string& body);

    uint16_t port_;
    std::optional<Credentials> credentials_;
    bool encrypted_ = false;
    Seconds timeout_{60};
    int counter_ = 0;
    std::shared_ptr<apache::thrift::transport::TMemoryBuffer> out_;
    std::shared_ptr<apache::thrift::transport::TMemoryBuffer> in_;
    std::shared_ptr<TBNStorageServiceClient> storage_;
    std::shared_ptr<TBNHostStorageServiceClient> host_;
};

// The password as extensions see it: Base64 of its UTF-8 bytes.
std::string base64(const std::string& text);
std::optional<std::string> unbase64(const std::string& text);
// The RFC 6238 code (SHA-1) of the secret for the time step that holds `unixSeconds`.
std::string totp(const Bytes& secret, int64_t unixSeconds, int digits = 6, int period = 30);

}  // namespace lumvane::e2e
