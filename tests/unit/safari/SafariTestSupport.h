#pragma once
// Shared fixtures of the Safari extension tests: a loopback main application with
// scriptable storage and host-storage services, captured log lines and a temp folder.
#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SafariLog.h"
#include "extension/ThriftHTTPServer.h"
#include "extension/ThriftJSONProtocol.h"
#include "idl/protocols.h"

namespace lumvane::safaritest {

struct FakeMainApp : public TBNStorageService, public TBNHostStorageService {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::shared_ptr<TBNPingTestRequest> lastPing;
    std::shared_ptr<TBNGetSiteDataRequest> lastSiteData;
    std::shared_ptr<TBNChooseSiteDataRequest> lastChoose;
    std::shared_ptr<TBNGetLoginDataRequest> lastLogin;
    std::shared_ptr<TBNGet2FACodeRequest> last2FA;
    std::vector<std::shared_ptr<TBNAddLoginDataRequest>> adds;
    std::vector<std::shared_ptr<TBNUpdateLoginDataRequest>> updates;
    std::vector<std::string> requestIds;

    std::function<std::shared_ptr<TBNPongTestResponse>()> pong = [] {
        return std::make_shared<TBNPongTestResponse>();
    };
    std::shared_ptr<TBNGetSiteDataResponse> siteData = std::make_shared<TBNGetSiteDataResponse>();
    std::shared_ptr<TBNChooseSiteDataResponse> choose =
        std::make_shared<TBNChooseSiteDataResponse>();
    std::shared_ptr<TBNGetLoginDataResponse> loginData =
        std::make_shared<TBNGetLoginDataResponse>();
    std::shared_ptr<TBNGet2FACodeResponse> code = std::make_shared<TBNGet2FACodeResponse>();

    template <class R>
    void note(const char* name, const R& request) {
        calls.push_back(name);
        if (request && request->info() && request->info()->id()) {
            requestIds.push_back(*request->info()->id());
        }
    }

    std::shared_ptr<TBNPongTestResponse> sendPing(std::shared_ptr<TBNPingTestRequest> r) override {
        std::lock_guard<std::mutex> l(mutex);
        note("sendPing", r);
        lastPing = r;
        return pong();
    }
    std::shared_ptr<TBNChooseSiteDataResponse> chooseSiteData(
        std::shared_ptr<TBNChooseSiteDataRequest> r) override {
        std::lock_guard<std::mutex> l(mutex);
        note("chooseSiteData", r);
        lastChoose = r;
        return choose;
    }
    std::shared_ptr<TBNImportSiteDataFromGoogleResponse> importSiteDataFromGoogle(
        std::shared_ptr<TBNImportSiteDataFromGoogleRequest>) override {
        return std::make_shared<TBNImportSiteDataFromGoogleResponse>();
    }
    std::shared_ptr<TBNGeneratePasswordResponse> generatePassword(
        std::shared_ptr<TBNGeneratePasswordRequest>) override {
        return std::make_shared<TBNGeneratePasswordResponse>();
    }
    std::shared_ptr<TBNGetLoginDataResponse> getLoginData(
        std::shared_ptr<TBNGetLoginDataRequest> r) override {
        std::lock_guard<std::mutex> l(mutex);
        note("getLoginData", r);
        lastLogin = r;
        return loginData;
    }
    std::shared_ptr<TBNAddLoginDataResponse> addLoginData(
        std::shared_ptr<TBNAddLoginDataRequest> r) override {
        std::lock_guard<std::mutex> l(mutex);
        note("addLoginData", r);
        adds.push_back(r);
        return std::make_shared<TBNAddLoginDataResponse>();
    }
    std::shared_ptr<TBNDeleteLoginDataResponse> deleteLoginData(
        std::shared_ptr<TBNDeleteLoginDataRequest>) override {
        return std::make_shared<TBNDeleteLoginDataResponse>();
    }
    std::shared_ptr<TBNUpdateLoginDataResponse> updateLoginData(
        std::shared_ptr<TBNUpdateLoginDataRequest> r) override {
        std::lock_guard<std::mutex> l(mutex);
        note("updateLoginData", r);
        updates.push_back(r);
        return std::make_shared<TBNUpdateLoginDataResponse>();
    }
    std::shared_ptr<TBNGetSiteDataResponse> getSiteData(
        std::shared_ptr<TBNGetSiteDataRequest> r) override {
        std::lock_guard<std::mutex> l(mutex);
        note("getSiteData", r);
        lastSiteData = r;
        return siteData;
    }
    std::shared_ptr<TBNGetSiteDataListResponse> getSiteDataList(
        std::shared_ptr<TBNGetSiteDataListRequest>) override {
        return std::make_shared<TBNGetSiteDataListResponse>();
    }
    std::shared_ptr<TBNDeleteSiteDataResponse> deleteSiteData(
        std::shared_ptr<TBNDeleteSiteDataRequest>) override {
        return std::make_shared<TBNDeleteSiteDataResponse>();
    }
    std::shared_ptr<TBNGet2FACodeResponse> get2FACode(
        std::shared_ptr<TBNGet2FACodeRequest> r) override {
        std::lock_guard<std::mutex> l(mutex);
        note("get2FACode", r);
        last2FA = r;
        return code;
    }

    std::vector<std::string> callNames() {
        std::lock_guard<std::mutex> l(mutex);
        return calls;
    }
};

// The fake application served on a free loopback port.
class MainAppServer {
  public:
    MainAppServer() : app(std::make_shared<FakeMainApp>()) {
        std::shared_ptr<TBNStorageService> storage(app, static_cast<TBNStorageService*>(app.get()));
        std::shared_ptr<TBNHostStorageService> host(app,
                                                    static_cast<TBNHostStorageService*>(app.get()));
        server = ThriftHTTPServer::initAsConcurrentWithPort(
            0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(),
            {std::make_shared<TBNHostStorageServiceProcessor>(host),
             std::make_shared<TBNStorageServiceProcessor>(storage)});
    }
    std::string url() const {
        return "http://127.0.0.1:" + std::to_string(server->port()) + "/thrift";
    }

    std::shared_ptr<FakeMainApp> app;
    std::unique_ptr<ThriftHTTPServer> server;
};

// A main application that accepts connections on a free loopback port and never answers.
// Stopping it closes what it accepted, which also frees a caller still waiting.
class SilentServer {
  public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ADD_FAILURE() << "no loopback listener";
            return;
        }
        port_ = ntohs(addr.sin_port);
        acceptor_ = std::thread([this] {
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0) continue;
                int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c < 0) continue;
                std::lock_guard<std::mutex> l(mutex_);
                accepted_.push_back(c);
                cv_.notify_all();
            }
        });
    }
    ~SilentServer() { stop(); }
    void stop() {
        stop_ = true;
        if (acceptor_.joinable()) acceptor_.join();
        std::lock_guard<std::mutex> l(mutex_);
        for (int c : accepted_) ::close(c);
        accepted_.clear();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/thrift"; }
    // Waits (bounded) until n connections were accepted in all.
    bool waitForConnections(size_t n) {
        std::unique_lock<std::mutex> l(mutex_);
        return cv_.wait_for(l, std::chrono::seconds(30), [&] { return accepted_.size() >= n; });
    }

  private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<int> accepted_;
};

// A loopback listener that never accepts and whose queue is full, so a new connection
// stays unanswered while it is being made. Stopping it refuses what is still waiting.
class FullBacklogServer {
  public:
    FullBacklogServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) ||
            ::listen(listener_, 0) ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len)) {
            ADD_FAILURE() << "no loopback listener";
            return;
        }
        port_ = ntohs(addr.sin_port);
        // Connect until one connection is left waiting: the queue is then full.
        for (int i = 0; i < 16 && !full_; ++i) {
            int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            fillers_.push_back(c);
            if (::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) continue;
            pollfd p{c, POLLOUT, 0};
            full_ = errno == EINPROGRESS && ::poll(&p, 1, 500) == 0;
        }
    }
    ~FullBacklogServer() { stop(); }
    void stop() {
        if (listener_ >= 0) ::close(listener_);
        listener_ = -1;
        for (int c : fillers_) ::close(c);
        fillers_.clear();
    }
    bool full() const { return full_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/thrift"; }

  private:
    int listener_ = -1;
    int port_ = 0;
    bool full_ = false;
    std::vector<int> fillers_;
};

// A loopback URL on which nothing listens.
inline std::string deadURL() {
    return "http://127.0.0.1:1/thrift";
}

class LogCapture {
  public:
    LogCapture() {
        prevSystem_ = SafariLog::setSystemSink([this](const std::string& l) {
            std::lock_guard<std::mutex> lock(mutex_);
            system_.push_back(l);
        });
        prevPrint_ = SafariLog::setPrintSink([this](const std::string& l) {
            std::lock_guard<std::mutex> lock(mutex_);
            print_.push_back(l);
        });
    }
    ~LogCapture() {
        SafariLog::setSystemSink(prevSystem_);
        SafariLog::setPrintSink(prevPrint_);
    }
    std::vector<std::string> system() {
        std::lock_guard<std::mutex> lock(mutex_);
        return system_;
    }
    std::vector<std::string> printed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return print_;
    }
    bool systemContains(const std::string& text) {
        for (const auto& l : system()) {
            if (l.find(text) != std::string::npos) return true;
        }
        return false;
    }
    std::string allSystem() {
        std::string out;
        for (const auto& l : system()) out += l + "\n";
        return out;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> system_, print_;
    SafariLog::Sink prevSystem_, prevPrint_;
};

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/lumvane-safari-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

}  // namespace lumvane::safaritest
