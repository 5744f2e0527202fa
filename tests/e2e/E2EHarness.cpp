#include "E2EHarness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <future>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "crypto/TBNCryptAES.h"
#include "crypto/TBNCryptHash.h"
#include "extension/ThriftJSONProtocol.h"

extern char** environ;

namespace lumvane::e2e {

using apache::thrift::transport::TMemoryBuffer;

// ---- TempHome ----------------------------------------------------------------------------

TempHome::TempHome() {
    char pattern[] = "/tmp/lumvane-e2e-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempHome::~TempHome() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::vector<std::string> TempHome::environment(const std::vector<std::string>& extra) const {
    std::vector<std::string> env;
    for (const char* keep : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "LANG"}) {
        if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
    }
    env.push_back("HOME=" + path_.string());
    env.push_back("XDG_DATA_HOME=" + dataHome().string());
    env.push_back("XDG_CONFIG_HOME=" + (path_ / ".config").string());
    env.push_back("XDG_CACHE_HOME=" + (path_ / ".cache").string());
    // No session bus: the keychain falls back to its file in the settings folder, and
    // no test ever touches the keyring of the person running it.
    env.push_back("DBUS_SESSION_BUS_ADDRESS=disabled:");
    env.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/lumvane-e2e");
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// ---- children on every exit path -----------------------------------------------------------

namespace {

// The process groups of the children still around, for the ways out of the test program
// that run no destructor (a fatal signal, exit()). Slots, so a signal handler can walk
// them without a lock.
constexpr int kMaxChildren = 128;
std::atomic<pid_t> gChildGroups[kMaxChildren];

// The write end of the pipe to the watchdog, -1 without one.
std::atomic<int> gWatchdogPipe{-1};

// A process of its own (own process group too) that learns of every child group through
// a pipe and kills the groups still known when the pipe ends: the test program died,
// even by SIGKILL, which leaves the grandchildren alone otherwise (PR_SET_PDEATHSIG only
// reaches the direct children). Forked before any child's pipes exist, it holds none of
// them; it calls only async-signal-safe functions, as a child of a threaded program must.
void startWatchdog() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(fds[0], 3);  // dup2 clears close-on-exec; there is no exec anyway
        // Nothing else stays open: a test runner waits for the end of the output pipes.
        for (int fd = 0; fd < 1024; ++fd) {
            if (fd != 3) ::close(fd);
        }
        pid_t groups[kMaxChildren] = {};
        pid_t record = 0;
        size_t have = 0;
        for (;;) {
            const ssize_t n =
                ::read(3, reinterpret_cast<char*>(&record) + have, sizeof record - have);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            have += size_t(n);
            if (have < sizeof record) continue;
            have = 0;
            for (auto& g : groups) {
                if (record > 0 && g == 0) {
                    g = record;
                    break;
                }
                if (record < 0 && g == -record) {
                    g = 0;
                    break;
                }
            }
        }
        for (pid_t g : groups) {
            if (g > 0) ::kill(-g, SIGKILL);
        }
        ::_exit(0);
    }
    ::close(fds[0]);
    if (pid < 0) {
        ::close(fds[1]);
        return;
    }
    gWatchdogPipe = fds[1];
}

void tellWatchdog(pid_t record) {
    const int fd = gWatchdogPipe.load();
    if (fd >= 0) (void)!::write(fd, &record, sizeof record);  // atomic: below PIPE_BUF
}

void rememberGroup(pid_t group) {
    tellWatchdog(group);
    for (auto& slot : gChildGroups) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, group)) return;
    }
}

void forgetGroup(pid_t group) {
    tellWatchdog(-group);
    for (auto& slot : gChildGroups) {
        pid_t expected = group;
        if (slot.compare_exchange_strong(expected, 0)) return;
    }
}

// Async-signal-safe.
void killAllGroups() {
    for (auto& slot : gChildGroups) {
        const pid_t group = slot.load();
        if (group > 0) ::kill(-group, SIGKILL);
    }
}

void onDeadlySignal(int signalNumber) {
    killAllGroups();
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

// A write to a closed socket or pipe (a server that hung up, a child that died) must
// fail with EPIPE, not end the test program: cpp-httplib sends without MSG_NOSIGNAL.
// Fatal signals and exit() take the children down first.
bool installGuards() {
    static const bool installed = [] {
        ::signal(SIGPIPE, SIG_IGN);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT}) {
            struct sigaction old {};
            if (::sigaction(s, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
            struct sigaction action {};
            action.sa_handler = onDeadlySignal;
            sigemptyset(&action.sa_mask);
            ::sigaction(s, &action, nullptr);
        }
        std::atexit(killAllGroups);
        startWatchdog();
        return true;
    }();
    return installed;
}

[[maybe_unused]] const bool kGuardsInstalled = installGuards();

// Children are forked on one thread that lives as long as the test program: a child's
// PR_SET_PDEATHSIG fires when the thread that forked it ends, not only the process.
class Launcher {
  public:
    static Launcher& instance() {
        static auto* launcher = new Launcher();  // never destroyed: its thread runs to the end
        return *launcher;
    }

    pid_t fork(const std::function<pid_t()>& forkChild) {
        std::packaged_task<pid_t()> task(forkChild);
        auto result = task.get_future();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        cv_.notify_one();
        return result.get();
    }

  private:
    Launcher() {
        std::thread([this] {
            for (;;) {
                std::unique_lock<std::mutex> lock(mutex_);
                cv_.wait(lock, [this] { return !tasks_.empty(); });
                auto task = std::move(tasks_.front());
                tasks_.pop_front();
                lock.unlock();
                task();
            }
        }).detach();
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::packaged_task<pid_t()>> tasks_;
};

}  // namespace

// ---- Process -----------------------------------------------------------------------------

Process::Process(Options options) : options_(std::move(options)) {
    installGuards();
    int out[2];
    int in[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    if (options_.pipeStdin && ::pipe2(in, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    std::vector<char*> argv;
    for (auto& a : options_.argv) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : options_.environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    int err = -1;
    if (!options_.errorFile.empty()) {
        err = ::open(options_.errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }

    const pid_t parent = ::getpid();
    pid_ = Launcher::instance().fork([&]() -> pid_t {
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Dies with the test program, however that ends (even by SIGKILL).
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(127);  // it ended before the line above
            ::dup2(out[1], STDOUT_FILENO);
            if (err >= 0) ::dup2(err, STDERR_FILENO);
            if (in[0] >= 0) {
                ::dup2(in[0], STDIN_FILENO);
            } else {
                int devnull = ::open("/dev/null", O_RDONLY);
                if (devnull >= 0) ::dup2(devnull, STDIN_FILENO);
            }
            // Own process group: a stray Ctrl-C of the test run does not reach it first,
            // and the clean-up ends whatever it started along with it.
            ::setpgid(0, 0);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT}) ::signal(s, SIG_DFL);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        if (pid > 0) {
            ::setpgid(pid, pid);  // also here, so the group exists before anyone kills it
            rememberGroup(pid);
        }
        return pid;
    });
    ::close(out[1]);
    if (err >= 0) ::close(err);
    if (in[0] >= 0) ::close(in[0]);
    stdinFd_ = in[1];
    if (pid_ < 0) {
        ::close(out[0]);
        if (stdinFd_ >= 0) ::close(stdinFd_);
        stdinFd_ = -1;
        return;
    }
    const int fd = out[0];
    reader_ = std::thread([this, fd] { readLoop(fd); });
}

Process::~Process() {
    if (pid_ > 0) {
        if (!exitStatus_) {
            killGroup();
            waitExit(Seconds(10));
        }
        killGroup();  // what the child left behind in its group
        forgetGroup(pid_);
    }
    closeStdin();
    stopReading_ = true;
    if (reader_.joinable()) reader_.join();
}

void Process::killGroup() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGKILL);
    if (!exitStatus_) ::kill(pid_, SIGKILL);  // in case it left the group
}

void Process::readLoop(int fd) {
    char buffer[4096];
    for (;;) {
        // Reads until the end of the output; a descendant that escaped the group and
        // keeps the pipe open does not hold the destructor up.
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 200);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            if (stopReading_) break;
            continue;
        }
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::lock_guard<std::mutex> lock(mutex_);
        output_.append(buffer, size_t(n));
        cv_.notify_all();
    }
    ::close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    outputClosed_ = true;
    cv_.notify_all();
}

std::optional<std::string> Process::waitForLine(const std::string& pattern, Seconds timeout) {
    const std::regex re(pattern);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::nanoseconds>(timeout);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        std::istringstream lines(output_);
        std::string line;
        while (std::getline(lines, line)) {
            std::smatch m;
            if (std::regex_search(line, m, re)) return m.size() > 1 ? m[1].str() : line;
        }
        if (outputClosed_) return std::nullopt;
        if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) return std::nullopt;
    }
}

std::optional<std::string> Process::waitForOutput(
    const std::function<bool(const std::string&)>& done, Seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::nanoseconds>(timeout);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (done(output_)) return output_;
        if (outputClosed_) return std::nullopt;
        if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) return std::nullopt;
    }
}

std::string Process::output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
}

std::string Process::errors() const {
    if (options_.errorFile.empty()) return {};
    std::ifstream in(options_.errorFile);
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    if (text.size() > 4000) text = "..." + text.substr(text.size() - 4000);
    return text;
}

void Process::writeStdin(const std::string& bytes) {
    size_t done = 0;
    while (stdinFd_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(stdinFd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
}

void Process::closeStdin() {
    if (stdinFd_ >= 0) ::close(stdinFd_);
    stdinFd_ = -1;
}

void Process::signal(int signalNumber) {
    if (pid_ > 0 && !exitStatus_) ::kill(pid_, signalNumber);
}

void Process::signalGroup(int signalNumber) {
    if (pid_ > 0) ::kill(-pid_, signalNumber);
}

std::optional<int> Process::waitExit(Seconds timeout) {
    if (pid_ <= 0) return std::nullopt;
    if (exitStatus_) return exitStatus_;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::nanoseconds>(timeout);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return exitStatus_;
        }
        if (r < 0 && errno != EINTR) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        ::usleep(20 * 1000);
    }
}

int Process::stop(Seconds grace) {
    if (pid_ <= 0) return -1;
    signal(SIGTERM);
    signal(SIGCONT);  // a stopped child acts on the SIGTERM only once it runs
    std::optional<int> status = waitExit(grace);
    if (!status) {
        killGroup();
        status = waitExit(Seconds(10));
    }
    killGroup();
    return status.value_or(-1);
}

// ---- ports and programs --------------------------------------------------------------------

bool portIsFree(uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

std::string busyPorts(const std::vector<uint16_t>& ports) {
    std::string busy;
    for (uint16_t p : ports) {
        if (!portIsFree(p)) busy += (busy.empty() ? "" : ", ") + std::to_string(p);
    }
    if (busy.empty()) return {};
    return "port(s) " + busy +
           " on 127.0.0.1 are taken (a running lumvane or a left-over test process?); the "
           "end-to-end tests need them free";
}

std::string Programs::lumvane() {
    return LUMVANE_E2E_LUMVANE;
}
std::string Programs::phoneSim() {
    return LUMVANE_E2E_PHONE_SIM;
}
std::string Programs::bleAir() {
    return LUMVANE_E2E_BLE_AIR;
}
std::string Programs::vaultFixture() {
    return LUMVANE_E2E_VAULT_FIXTURE;
}

// ---- encodings ---------------------------------------------------------------------------

std::string base64(const std::string& text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    out.resize(size_t(n));
    return out;
}

std::optional<std::string> unbase64(const std::string& text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out(text.size() / 4 * 3 + 1, '\0');
    const int n =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    if (n < 0) return std::nullopt;
    size_t len = size_t(n);
    if (!text.empty() && text.back() == '=') --len;
    if (text.size() >= 2 && text[text.size() - 2] == '=') --len;
    out.resize(len);
    return out;
}

std::string totp(const Bytes& secret, int64_t unixSeconds, int digits, int period) {
    uint64_t counter = uint64_t(unixSeconds / period);
    unsigned char msg[8];
    for (int i = 7; i >= 0; --i) {
        msg[i] = static_cast<unsigned char>(counter & 0xff);
        counter >>= 8;
    }
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLen = 0;
    HMAC(EVP_sha1(), secret.data(), int(secret.size()), msg, sizeof msg, mac, &macLen);
    const int offset = mac[macLen - 1] & 0x0f;
    const uint32_t bin = (uint32_t(mac[offset] & 0x7f) << 24) | (uint32_t(mac[offset + 1]) << 16) |
                         (uint32_t(mac[offset + 2]) << 8) | uint32_t(mac[offset + 3]);
    uint32_t mod = 1;
    for (int i = 0; i < digits; ++i) mod *= 10;
    std::string code = std::to_string(bin % mod);
    return std::string(size_t(digits) - code.size(), '0') + code;
}

// ---- ExtensionClient -----------------------------------------------------------------------

ExtensionClient::ExtensionClient(uint16_t port)
    : port_(port), out_(std::make_shared<TMemoryBuffer>()), in_(std::make_shared<TMemoryBuffer>()) {
    auto factory = ThriftJSONProtocolFactory::sharedFactory();
    auto inProtocol = factory->getProtocol(in_);
    auto outProtocol = factory->getProtocol(out_);
    storage_ = std::make_shared<TBNStorageServiceClient>(inProtocol, outProtocol);
    host_ = std::make_shared<TBNHostStorageServiceClient>(inProtocol, outProtocol);
}

std::optional<std::string> ExtensionClient::post(const std::string& body, Seconds timeout) {
    httplib::Client client("127.0.0.1", port_);
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
    client.set_connection_timeout(5);
    client.set_read_timeout(secs);
    client.set_write_timeout(secs);
    auto result = client.Post("/thrift", body, "application/vnd.apache.thrift.json");
    if (!result) return std::nullopt;
    return result->body;
}

std::shared_ptr<TBNRequestInfo> ExtensionClient::info() {
    return std::make_shared<TBNRequestInfo>("e2e-" + std::to_string(++counter_),
                                            int64_t(std::time(nullptr)), "e2e");
}

std::shared_ptr<TBNAuthentication> ExtensionClient::auth() {
    if (!credentials_) return std::make_shared<TBNAuthentication>(std::nullopt, std::nullopt);
    std::optional<std::string> secret;
    if (!credentials_->clientSecret.empty()) secret = credentials_->clientSecret;
    return std::make_shared<TBNAuthentication>(credentials_->clientId, secret);
}

std::string ExtensionClient::wrap(const std::string& message) {
    if (!encrypted_) return message;
    if (!credentials_) throw std::logic_error("an encrypted envelope needs credentials");
    const Bytes key = TBNCryptHash::sha256FromString(credentials_->clientSecret);
    const Bytes cipher = TBNCryptAES::encryptData(
        ByteView(reinterpret_cast<const uint8_t*>(message.data()), message.size()), key);
    nlohmann::json envelope;
    envelope["request"] = base64(std::string(cipher.begin(), cipher.end()));
    envelope["clientId"] = credentials_->clientId;
    envelope["encrypted"] = true;
    return envelope.dump();
}

std::string ExtensionClient::unwrap(const std::string& body) {
    if (!encrypted_) return body;
    auto envelope = nlohmann::json::parse(body, nullptr, false);
    if (!envelope.is_object() || !envelope.contains("response")) {
        throw std::runtime_error("not a reply envelope: " + body.substr(0, 200));
    }
    if (!envelope.value("encrypted", false)) {
        throw std::runtime_error("reply envelope is not encrypted");
    }
    auto cipher = unbase64(envelope["response"].get<std::string>());
    if (!cipher) throw std::runtime_error("reply envelope holds no Base64");
    const Bytes key = TBNCryptHash::sha256FromString(credentials_->clientSecret);
    const Bytes plain = TBNCryptAES::decryptData(
        ByteView(reinterpret_cast<const uint8_t*>(cipher->data()), cipher->size()), key);
    return std::string(plain.begin(), plain.end());
}

void ExtensionClient::roundTrip() {
    const std::string message = out_->getBufferAsString();
    out_->resetBuffer();
    auto body = post(wrap(message), timeout_);
    if (!body) throw std::runtime_error("no HTTP answer from 127.0.0.1:" + std::to_string(port_));
    const std::string reply = unwrap(*body);
    in_->resetBuffer(reinterpret_cast<uint8_t*>(const_cast<char*>(reply.data())),
                     uint32_t(reply.size()), TMemoryBuffer::COPY);
}

std::string ExtensionClient::encodeGetLoginData(const std::string& siteUrl,
                                                const std::string& login) {
    auto r = std::make_shared<TBNGetLoginDataRequest>();
    r->setInfo(info());
    r->setAuth(auth());
    r->setSiteUrl(siteUrl);
    r->setLogin(login);
    storage_->send_getLoginData(r);
    std::string message = out_->getBufferAsString();
    out_->resetBuffer();
    return message;
}

std::string ExtensionClient::encodePing(const std::string& appIdentifier) {
    auto r = std::make_shared<TBNPingTestRequest>();
    r->setInfo(info());
    r->setAuth(auth());
    r->setAppIdentifier(appIdentifier);
    r->setAppVersion(std::string("1.0.0"));
    host_->send_sendPing(r);
    std::string message = out_->getBufferAsString();
    out_->resetBuffer();
    return message;
}

std::shared_ptr<TBNGetLoginDataResponse> ExtensionClient::decodeGetLoginData(
    const std::string& reply) {
    in_->resetBuffer(reinterpret_cast<uint8_t*>(const_cast<char*>(reply.data())),
                     uint32_t(reply.size()), TMemoryBuffer::COPY);
    return storage_->recv_getLoginData();
}

std::shared_ptr<TBNPongTestResponse> ExtensionClient::decodePing(const std::string& reply) {
    in_->resetBuffer(reinterpret_cast<uint8_t*>(const_cast<char*>(reply.data())),
                     uint32_t(reply.size()), TMemoryBuffer::COPY);
    return host_->recv_sendPing();
}

std::shared_ptr<TBNPongTestResponse> ExtensionClient::sendPing(const std::string& appIdentifier,
                                                               const std::string& appVersion) {
    auto r = std::make_shared<TBNPingTestRequest>();
    r->setInfo(info());
    r->setAuth(auth());
    r->setAppIdentifier(appIdentifier);
    r->setAppVersion(appVersion);
    host_->send_sendPing(r);
    roundTrip();
    return host_->recv_sendPing();
}

std::shared_ptr<TBNGetLoginDataResponse> ExtensionClient::getLoginData(const std::string& siteUrl,
                                                                       const std::string& login) {
    auto r = std::make_shared<TBNGetLoginDataRequest>();
    r->setInfo(info());
    r->setAuth(auth());
    r->setSiteUrl(siteUrl);
    r->setLogin(login);
    storage_->send_getLoginData(r);
    roundTrip();
    return storage_->recv_getLoginData();
}

std::shared_ptr<TBNGet2FACodeResponse> ExtensionClient::get2FACode(const std::string& siteUrl,
                                                                   const std::string& login) {
    auto r = std::make_shared<TBNGet2FACodeRequest>();
    r->setInfo(info());
    r->setAuth(auth());
    r->setSiteUrl(siteUrl);
    r->setLogin(login);
    storage_->send_get2FACode(r);
    roundTrip();
    return storage_->recv_get2FACode();
}

std::shared_ptr<TBNAddLoginDataResponse> ExtensionClient::addLoginData(const std::string& siteUrl,
                                                                       const TBNLoginData& login) {
    auto r = std::make_shared<TBNAddLoginDataRequest>();
    r->setInfo(info());
    r->setAuth(auth());
    r->setSiteUrl(siteUrl);
    r->setLoginData(std::make_shared<TBNLoginData>(login));
    storage_->send_addLoginData(r);
    roundTrip();
    return storage_->recv_addLoginData();
}

std::shared_ptr<TBNGetSiteDataResponse> ExtensionClient::getSiteData(const std::string& siteUrl) {
    auto r = std::make_shared<TBNGetSiteDataRequest>();
    r->setInfo(info());
    r->setAuth(auth());
    r->setSiteUrl(siteUrl);
    r->setIncludeLoginData(true);
    r->setIncludePasswords(false);
    storage_->send_getSiteData(r);
    roundTrip();
    return storage_->recv_getSiteData();
}

}  // namespace lumvane::e2e
