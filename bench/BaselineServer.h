#pragma once
// Plain Asio/Beast HTTP servers that the benchmarks measure the service's own server
// against, in the same process and alternated with it, so that a figure says how far we
// are from what the machine allows right now rather than what the neighbours leave us.
//
//  - Inline: one I/O thread reads each request and writes a fixed body at once.
//  - HandOff: the shape of a request that waits for the phone. The I/O thread hands the
//    request to a worker; the worker hands a message to a "link" thread, which answers
//    after a fixed delay; the worker then writes the response. Its marks are those the
//    service makes (runtime/RequestTiming.h), so its desktop side is timed the same way.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/RequestTiming.h"

namespace lumvane::bench {

class BaselineServer {
  public:
    enum class Shape { Inline, HandOff };
    using MarkSink = void (*)(timing::Mark mark, uint64_t tag, uint64_t detail,
                              timing::Clock::time_point at);

    struct Options {
        Shape shape = Shape::Inline;
        std::string replyBody;  // the body of every answer
        MarkSink marks = nullptr;
        std::chrono::microseconds linkDelay{5000};
        int workers = 8;
    };

    explicit BaselineServer(Options options);
    ~BaselineServer();
    BaselineServer(const BaselineServer&) = delete;
    BaselineServer& operator=(const BaselineServer&) = delete;

    uint16_t port() const;

    class Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace lumvane::bench
