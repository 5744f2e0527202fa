#include "BaselineServer.h"

#include <sys/socket.h>

#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

namespace lumvane::bench {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

// Jobs run by a fixed set of threads, each woken through a condition variable.
class Workers {
  public:
    explicit Workers(int count) {
        for (int i = 0; i < count; ++i) threads_.emplace_back([this] { run(); });
    }
    ~Workers() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cond_.notify_all();
        for (auto& t : threads_) t.join();
    }
    void post(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        cond_.notify_one();
    }

  private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            cond_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<std::function<void()>> jobs_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// A worker waiting for the link's answer.
struct LinkCall {
    std::mutex mutex;
    std::condition_variable cond;
    bool answered = false;
};

}  // namespace

class BaselineServer::Impl : public std::enable_shared_from_this<BaselineServer::Impl> {
  public:
    explicit Impl(Options options)
        : options_(std::move(options)),
          acceptor_(io_, tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0)) {
        acceptor_.set_option(tcp::acceptor::reuse_address(true));
        if (options_.shape == Shape::HandOff) {
            workers_ = std::make_unique<Workers>(options_.workers);
            link_ = std::thread([this] { runLink(); });
        }
    }

    void start() {
        accept();
        io_thread_ = std::thread([self = shared_from_this()] { self->io_.run(); });
    }

    void stop() {
        asio::post(io_, [this] {
            beast::error_code ignored;
            acceptor_.close(ignored);
        });
        work_.reset();
        io_.stop();
        if (io_thread_.joinable()) io_thread_.join();
        workers_.reset();
        {
            std::lock_guard<std::mutex> lock(linkMutex_);
            linkStop_ = true;
        }
        linkCond_.notify_all();
        if (link_.joinable()) link_.join();
    }

    uint16_t port() const { return acceptor_.local_endpoint().port(); }

    // Hands a call to the link thread and waits for its answer.
    void callLink(uint64_t tag) {
        LinkCall call;
        mark(timing::Mark::LinkQueued, tag);
        {
            std::lock_guard<std::mutex> lock(linkMutex_);
            linkQueue_.push_back({&call, tag});
        }
        linkCond_.notify_one();
        std::unique_lock<std::mutex> lock(call.mutex);
        call.cond.wait(lock, [&] { return call.answered; });
    }

    void mark(timing::Mark m, uint64_t tag, uint64_t detail = 0) {
        if (options_.marks && tag) options_.marks(m, tag, detail, timing::Clock::now());
    }

    const Options& options() const { return options_; }
    Workers& workers() { return *workers_; }
    asio::io_context& io() { return io_; }
    uint64_t nextTag() { return (uint64_t{1} << 40) + ++serial_; }

  private:
    void accept();

    void runLink() {
        std::unique_lock<std::mutex> lock(linkMutex_);
        for (;;) {
            linkCond_.wait(lock, [this] { return linkStop_ || !linkQueue_.empty(); });
            if (linkQueue_.empty()) return;
            auto [call, tag] = linkQueue_.front();
            linkQueue_.pop_front();
            lock.unlock();
            mark(timing::Mark::LinkSplit, tag);
            mark(timing::Mark::LinkWritten, tag);
            std::this_thread::sleep_for(options_.linkDelay);
            mark(timing::Mark::LinkReply, tag);
            {
                std::lock_guard<std::mutex> callLock(call->mutex);
                call->answered = true;
            }
            call->cond.notify_one();
            lock.lock();
        }
    }

    const Options options_;
    asio::io_context io_{1};
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_{
        asio::make_work_guard(io_)};
    tcp::acceptor acceptor_;
    std::thread io_thread_;
    std::unique_ptr<Workers> workers_;
    std::thread link_;
    std::mutex linkMutex_;
    std::condition_variable linkCond_;
    std::deque<std::pair<LinkCall*, uint64_t>> linkQueue_;
    bool linkStop_ = false;
    std::atomic<uint64_t> serial_{0};
};

namespace {

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(std::shared_ptr<BaselineServer::Impl> server, tcp::socket socket)
        : server_(std::move(server)), socket_(std::move(socket)) {}

    void read() {
        request_ = {};
        http::async_read(socket_, buffer_, request_,
                         [self = shared_from_this()](beast::error_code ec, size_t) {
                             if (ec) return;
                             self->requestRead();
                         });
    }

  private:
    http::response<http::string_body> response() const {
        http::response<http::string_body> res{http::status::ok, request_.version()};
        res.body() = server_->options().replyBody;
        res.prepare_payload();
        res.keep_alive(request_.keep_alive());
        return res;
    }

    void requestRead() {
        if (server_->options().shape == BaselineServer::Shape::Inline) {
            auto res = std::make_shared<http::response<http::string_body>>(response());
            http::async_write(socket_, *res,
                              [self = shared_from_this(), res](beast::error_code ec, size_t) {
                                  if (ec) return;
                                  self->read();
                              });
            return;
        }
        const uint64_t tag = server_->nextTag();
        beast::error_code ignored;
        server_->mark(timing::Mark::RequestRead, tag, socket_.remote_endpoint(ignored).port());
        server_->workers().post([self = shared_from_this(), tag] {
            self->server_->callLink(tag);
            // The worker writes the answer itself, as the service's server does.
            std::ostringstream out;
            out << self->response();
            const std::string wire = std::move(out).str();
            size_t done = 0;
            while (done < wire.size()) {
                const ssize_t n = ::send(self->socket_.native_handle(), wire.data() + done,
                                         wire.size() - done, MSG_NOSIGNAL);
                if (n > 0) {
                    done += static_cast<size_t>(n);
                } else if (n < 0 && errno == EINTR) {
                    continue;
                } else {
                    return;
                }
            }
            self->server_->mark(timing::Mark::ResponseWritten, tag);
            asio::post(self->server_->io(), [self] { self->read(); });
        });
    }

    std::shared_ptr<BaselineServer::Impl> server_;
    tcp::socket socket_;
    beast::flat_buffer buffer_;
    http::request<http::string_body> request_;
};

}  // namespace

void BaselineServer::Impl::accept() {
    acceptor_.async_accept([self = shared_from_this()](beast::error_code ec, tcp::socket socket) {
        if (ec) return;
        socket.set_option(tcp::no_delay(true), ec);
        std::make_shared<Session>(self, std::move(socket))->read();
        self->accept();
    });
}

BaselineServer::BaselineServer(Options options)
    : impl_(std::make_shared<Impl>(std::move(options))) {
    impl_->start();
}

BaselineServer::~BaselineServer() {
    impl_->stop();
}

uint16_t BaselineServer::port() const {
    return impl_->port();
}

}  // namespace lumvane::bench
