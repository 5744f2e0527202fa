// Floods of slow and idle connections on all three loopback ports must not keep a
// registered extension's pings waiting, and what the flood took is given back when it
// ends.
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "RoadFixture.h"

namespace lumvane::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The test's own descriptors: thousands of sockets.
void raiseDescriptorLimit() {
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
}

size_t descriptorLimit() {
    rlimit lim{};
    return getrlimit(RLIMIT_NOFILE, &lim) == 0 ? size_t(lim.rlim_cur) : 1024;
}

size_t openDescriptors(pid_t pid) {
    size_t n = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         !ec && it != fs::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

// Resident memory in KiB.
size_t residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

// Keeps `slow` connections that send one byte of a request head (or of a TLS hello)
// per second and `idle` connections that send nothing open on each port, opening a
// new one whenever the server closes one, until stopped.
class Flood {
  public:
    struct Port {
        uint16_t port;
        bool tls;
    };

    Flood(std::vector<Port> ports, size_t slow, size_t idle) {
        for (const Port& p : ports) {
            for (size_t i = 0; i < slow + idle; ++i) sockets_.push_back({-1, p, i < slow, 0});
        }
    }
    ~Flood() { stop(); }

    void start(Seconds limit) {
        thread_ = std::thread([this, until = Clock::now() + limit] {
            while (!stopping_ && Clock::now() < until) {
                tick();
                ++ticks_;
                std::unique_lock<std::mutex> lock(mutex_);
                cv_.wait_for(lock, 1s, [this] { return stopping_.load(); });
            }
            for (auto& s : sockets_) closeSocket(s);
        });
    }
    void stop() {
        stopping_ = true;
        cv_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    int ticks() const { return ticks_; }
    size_t reopened() const { return reopened_; }

  private:
    struct Socket {
        int fd;
        Port port;
        bool slow;
        size_t sent;
    };

    static void closeSocket(Socket& s) {
        if (s.fd >= 0) close(s.fd);
        s.fd = -1;
        s.sent = 0;
    }

    void open(Socket& s) {
        s.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s.fd < 0) return;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(s.port.port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
            errno != EINPROGRESS)
            closeSocket(s);
    }

    // Whether the server has closed it (end of input, reset or refused).
    static bool closedByPeer(const Socket& s) {
        char buf[256];
        ssize_t n = recv(s.fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) return false;  // an answer (e.g. 408); the close follows
        return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTCONN);
    }

    void nextByte(Socket& s) {
        static const std::string head =
            "POST /thrift HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(4096, 'a');
        // A handshake record announcing 512 bytes, then its bytes one at a time.
        static const std::string hello =
            std::string("\x16\x03\x01\x02\x00\x01", 6) + std::string(4096, '\x01');
        const std::string& bytes = s.port.tls ? hello : head;
        if (s.sent >= bytes.size()) return;
        if (send(s.fd, bytes.data() + s.sent, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1) ++s.sent;
    }

    void tick() {
        for (auto& s : sockets_) {
            if (stopping_) return;
            if (s.fd >= 0 && closedByPeer(s)) {
                closeSocket(s);
                ++reopened_;
            }
            if (s.fd < 0) open(s);
            if (s.fd >= 0 && s.slow) nextByte(s);
        }
    }

    std::vector<Socket> sockets_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> ticks_{0};
    std::atomic<size_t> reopened_{0};
};

// Waits until `done` holds, looking every 100 ms; false when the time passed.
bool waitFor(const std::function<bool()>& done, Seconds limit) {
    const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
    while (!done()) {
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

class FloodTest : public RoadTest {
  protected:
    // Floods the ports, sends 100 pings through the flood (and one request to each TLS
    // port), ends the flood and waits for descriptors and memory to come back.
    void floodRound(const std::vector<Flood::Port>& ports, size_t kSlow, size_t kIdle, pid_t pid,
                    size_t baseFds, size_t baseKiB, size_t& afterKiB, size_t& peakOutKiB) {
        Flood flood(ports, kSlow, kIdle);
        flood.start(Seconds(300));  // stops by itself should the test never get to it
        // The flood is in place when the program holds thousands of its connections.
        size_t peakFds = 0;
        const bool inPlace = waitFor(
            [&] {
                peakFds = std::max(peakFds, openDescriptors(pid));
                return flood.ticks() >= 3 && peakFds >= baseFds + 2000;
            },
            Seconds(120));
        ASSERT_TRUE(inPlace) << "descriptors " << baseFds << " -> " << peakFds;

        std::vector<double> latencies;
        for (int i = 0; i < 100; ++i) {
            const auto t0 = Clock::now();
            auto pong = client_.sendPing("com.tobrin.lumvane.e2e", "1.0.0");
            ASSERT_TRUE(pong) << "ping " << i << " unanswered";
            ASSERT_TRUE(pong->info());
            EXPECT_FALSE(pong->info()->error());
            latencies.push_back(Seconds(Clock::now() - t0).count());
        }
        // The TLS ports still complete handshakes and answer.
        for (uint16_t port : {uint16_t(19523), uint16_t(19524)}) {
            httplib::SSLClient tls("127.0.0.1", port);
            tls.enable_server_certificate_verification(false);
            tls.set_connection_timeout(10s);
            tls.set_read_timeout(10s);
            auto res = tls.Post("/thrift", client_.encodePing("com.tobrin.lumvane.e2e"),
                                "application/vnd.apache.thrift.json");
            ASSERT_TRUE(res) << port << ": " << httplib::to_string(res.error());
            EXPECT_EQ(res->status, 200) << port;
        }
        peakFds = std::max(peakFds, openDescriptors(pid));
        const size_t peakKiB = residentKiB(pid);
        const size_t reopened = flood.reopened();
        flood.stop();

        std::sort(latencies.begin(), latencies.end());
        const double p99 = latencies[98];
        std::cout << "flood: descriptors " << baseFds << " -> " << peakFds << ", memory " << baseKiB
                  << " -> " << peakKiB << " KiB, connections reopened " << reopened
                  << "; ping median " << latencies[50] << " s, p99 " << p99 << " s\n";
        EXPECT_LT(p99, 1.0) << "p99 of 100 pings during the flood";

        // Descriptors back to where they were, memory back near it.
        size_t fds = 0, kib = 0;
        EXPECT_TRUE(
            waitFor([&] { return (fds = openDescriptors(pid)) <= baseFds + 2; }, Seconds(60)))
            << "descriptors " << baseFds << " before, " << fds << " after";
        // How much of the rise the allocator hands back, and when, is its own choice
        // (the sanitizer build's allocator returns pages only where whole size classes
        // came free), so the resident size is reported here, not asserted; what the
        // caller asserts is that a second flood piles nothing on top of the first.
        const size_t slackKiB =
            std::max<size_t>(32 * 1024, (peakKiB - std::min(peakKiB, baseKiB)) / 3);
        waitFor([&] { return (kib = residentKiB(pid)) <= baseKiB + slackKiB; }, Seconds(20));
        std::cout << "after the flood: descriptors " << fds << ", memory " << kib << " KiB\n";
        afterKiB = kib;
        peakOutKiB = peakKiB;
    }
};

TEST_F(FloodTest, PingsAreAnsweredPromptlyThroughFloodsOfSlowAndIdleConnections) {
    constexpr size_t kSlow = 1000, kIdle = 1000;
    const std::vector<Flood::Port> ports = {{19521, false}, {19523, true}, {19524, true}};
    raiseDescriptorLimit();
    if (descriptorLimit() < ports.size() * (kSlow + kIdle) + 512)
        GTEST_SKIP() << "the descriptor limit (" << descriptorLimit() << ") is too low";
    // What the program itself gives back, not what the address sanitizer holds in
    // its quarantine of freed memory.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string asanOptions = std::string(asan ? asan : "") +
                              ":quarantine_size_mb=0:allocator_release_to_os_interval_ms=100";
    setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);

    RoadOptions options;
    options.tlsIdentity = true;
    ASSERT_NO_FATAL_FAILURE(startRoad(options));
    const pid_t pid = lumvane_->pid();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(client_.sendPing("com.tobrin.lumvane.e2e", "1.0.0"));
    const size_t baseFds = openDescriptors(pid);
    const size_t baseKiB = residentKiB(pid);

    // Two floods one after the other: the first shows that pings pass and what was
    // taken comes back, the second that nothing piles up from one flood to the next.
    // Each flood holds at most the servers' connection caps, so a second one that
    // needs more memory than the first at its peak, or leaves more behind than the
    // first's peak, keeps something per connection.
    size_t firstPeakKiB = 0;
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("flood " + std::to_string(round));
        size_t afterKiB = 0, peakKiB = 0;
        ASSERT_NO_FATAL_FAILURE(
            floodRound(ports, kSlow, kIdle, pid, baseFds, baseKiB, afterKiB, peakKiB));
        if (round == 1) {
            firstPeakKiB = peakKiB;
        } else {
            EXPECT_LE(peakKiB, firstPeakKiB + 32 * 1024)
                << "peak memory of the first flood " << firstPeakKiB << " KiB, of the second "
                << peakKiB;
            EXPECT_LE(afterKiB, firstPeakKiB) << "memory after the second flood " << afterKiB
                                              << " KiB, the first flood's peak " << firstPeakKiB;
        }
    }
    ASSERT_TRUE(client_.sendPing("com.tobrin.lumvane.e2e", "1.0.0"));
}

// Sends one large body on each of many connections at once, as fast as the server reads,
// and reads the answers; stops by itself at `limit`. Counts the answers by status.
class BodyFlood {
  public:
    BodyFlood(uint16_t port, size_t connections, size_t bodyBytes)
        : port_(port), count_(connections), bodyBytes_(bodyBytes) {}
    ~BodyFlood() {
        if (thread_.joinable()) thread_.join();
    }

    void start(Seconds limit) {
        const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
        thread_ = std::thread([this, until] { run(until); });
    }
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    size_t ok() const { return ok_; }
    size_t busy() const { return busy_; }
    size_t other() const { return other_; }
    bool done() const { return done_; }

  private:
    struct Conn {
        int fd = -1;
        std::string head;
        size_t sent = 0;  // of head and body
        std::string answer;
        bool finished = false;
    };

    void run(Clock::time_point until) {
        static const std::string chunk(64 * 1024, 'a');
        std::vector<Conn> conns(count_);
        for (auto& c : conns) {
            c.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(port_);
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (c.fd < 0 || connect(c.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
                c.finished = true;
                ++other_;
                continue;
            }
            fcntl(c.fd, F_SETFL, O_NONBLOCK);
            c.head =
                "POST /thrift HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                "Content-Length: " +
                std::to_string(bodyBytes_) + "\r\n\r\n";
        }
        size_t open = count_ - other_;
        while (open > 0 && Clock::now() < until) {
            std::vector<pollfd> fds;
            std::vector<Conn*> which;
            for (auto& c : conns) {
                if (c.finished) continue;
                const bool sending = c.sent < c.head.size() + bodyBytes_;
                fds.push_back({c.fd, short(POLLIN | (sending ? POLLOUT : 0)), 0});
                which.push_back(&c);
            }
            if (poll(fds.data(), fds.size(), 200) <= 0) continue;
            for (size_t i = 0; i < fds.size(); ++i) {
                Conn& c = *which[i];
                if (fds[i].revents & POLLOUT) {
                    while (c.sent < c.head.size() + bodyBytes_) {
                        const char* data;
                        size_t n;
                        if (c.sent < c.head.size()) {
                            data = c.head.data() + c.sent;
                            n = c.head.size() - c.sent;
                        } else {
                            data = chunk.data();
                            n = std::min(chunk.size(), c.head.size() + bodyBytes_ - c.sent);
                        }
                        const ssize_t got = send(c.fd, data, n, MSG_NOSIGNAL);
                        if (got <= 0) break;
                        c.sent += static_cast<size_t>(got);
                    }
                }
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                    char buf[4096];
                    ssize_t got;
                    while ((got = recv(c.fd, buf, sizeof buf, 0)) > 0)
                        c.answer.append(buf, size_t(got));
                    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                        // Closed by the server: the answer is whatever came.
                        if (c.answer.rfind("HTTP/1.1 200", 0) == 0) {
                            ++ok_;
                        } else if (c.answer.rfind("HTTP/1.1 503", 0) == 0) {
                            ++busy_;
                        } else {
                            ++other_;
                        }
                        close(c.fd);
                        c.finished = true;
                        --open;
                    }
                }
            }
        }
        for (auto& c : conns)
            if (!c.finished) close(c.fd);
        done_ = open == 0;
    }

    const uint16_t port_;
    const size_t count_;
    const size_t bodyBytes_;
    std::thread thread_;
    std::atomic<size_t> ok_{0}, busy_{0}, other_{0};
    std::atomic<bool> done_{false};
};

// Hundreds of connections each sending a 4 MiB body at once: the server holds a bounded
// amount of them (the others are told it is busy), its memory stays bounded, and a ping
// that comes meanwhile is answered promptly.
TEST_F(FloodTest, LargeBodiesFromManyConnectionsHoldBoundedMemoryAndPingsPass) {
    constexpr size_t kConnections = 256, kBody = 4u * 1024 * 1024;
    raiseDescriptorLimit();
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string asanOptions = std::string(asan ? asan : "") +
                              ":quarantine_size_mb=0:allocator_release_to_os_interval_ms=100";
    setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
    ASSERT_NO_FATAL_FAILURE(startRoad());
    const pid_t pid = lumvane_->pid();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(client_.sendPing("com.tobrin.lumvane.e2e", "1.0.0"));
    const size_t baseKiB = residentKiB(pid);

    BodyFlood flood(19521, kConnections, kBody);
    flood.start(Seconds(120));
    std::vector<double> latencies;
    size_t peakKiB = baseKiB;
    while (!flood.done() && latencies.size() < 2000) {
        peakKiB = std::max(peakKiB, residentKiB(pid));
        const auto t0 = Clock::now();
        auto pong = client_.sendPing("com.tobrin.lumvane.e2e", "1.0.0");
        ASSERT_TRUE(pong) << "ping " << latencies.size() << " unanswered";
        latencies.push_back(Seconds(Clock::now() - t0).count());
        std::this_thread::sleep_for(20ms);
        if (latencies.size() > 3 && flood.ok() + flood.busy() + flood.other() >= kConnections)
            break;
    }
    flood.join();
    peakKiB = std::max(peakKiB, residentKiB(pid));
    ASSERT_GE(latencies.size(), 3u);
    std::sort(latencies.begin(), latencies.end());
    const double p99 = latencies[latencies.size() * 99 / 100];
    size_t afterKiB = 0;
    waitFor([&] { return (afterKiB = residentKiB(pid)) <= baseKiB + 64 * 1024; }, Seconds(20));
    std::cout << "body flood: " << flood.ok() << " answered, " << flood.busy() << " busy, "
              << flood.other() << " other; memory " << baseKiB << " -> peak " << peakKiB << " -> "
              << afterKiB << " KiB; " << latencies.size() << " pings, median "
              << latencies[latencies.size() / 2] << " s, p99 " << p99 << " s, longest "
              << latencies.back() << " s\n";
    EXPECT_EQ(flood.ok() + flood.busy(), kConnections) << flood.other() << " got neither";
    EXPECT_GT(flood.ok(), 0u);
    EXPECT_LT(peakKiB, 300u * 1024) << "resident memory during the flood";
    EXPECT_LT(p99, 1.0) << "p99 of the pings during the flood";
    ASSERT_TRUE(client_.sendPing("com.tobrin.lumvane.e2e", "1.0.0"));
}

}  // namespace
}  // namespace lumvane::e2e
