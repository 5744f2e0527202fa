#include "extension/browser/TBNNativeMessageProxy.h"

#include <fcntl.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "extension/browser/NativeMessageFraming.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

constexpr const char* kLogTags = "core|browser";

Bytes tooLargeAnswer() {
    return Bytes(kNativeMessageReplyTooLarge.begin(), kNativeMessageReplyTooLarge.end());
}

// What one host run shares with its requests. Requests still under way when the host
// returns keep it alive; they see `stopped` and drop their replies.
struct HostState {
    int out = -1;
    bool ownsOut = false;
    std::mutex writeLock;
    std::atomic<bool> stopped{false};

    std::mutex slotLock;
    std::condition_variable slotFree;
    size_t inFlight = 0;

    ~HostState() {
        if (ownsOut) ::close(out);
    }
};

void writeReply(HostState& state, std::optional<Bytes> reply) {
    if (reply && reply->size() > kNativeMessageMaxReplyLength) reply = tooLargeAnswer();
    const Bytes frame = encodeNativeMessageFrame(reply ? *reply : Bytes{});
    std::lock_guard<std::mutex> lock(state.writeLock);
    if (state.stopped.load()) return;
    if (!writeAllToFd(state.out, frame)) {
        TBN_LOG_WARN(kLogTags, "writing a reply of {} bytes failed: {}", frame.size() - 4,
                     std::strerror(errno));
    }
}

const char* frameEndText(NativeMessageFrameStatus status) {
    switch (status) {
        case NativeMessageFrameStatus::endOfInput:
            return "end of input";
        case NativeMessageFrameStatus::zeroLength:
            return "zero length";
        case NativeMessageFrameStatus::shortLength:
            return "input ended inside a length";
        case NativeMessageFrameStatus::truncated:
            return "input ended inside a message";
        case NativeMessageFrameStatus::tooLarge:
            return "length above the limit";
        case NativeMessageFrameStatus::readError:
            return "read error";
        case NativeMessageFrameStatus::message:
            break;
    }
    return "message";
}

}  // namespace

std::optional<Bytes> TBNNativeMessageProxy::postMessage(const Bytes& message,
                                                        const NativeMessagingOptions& options) {
    httplib::Client client(options.host, options.port);
    client.set_connection_timeout(options.connectTimeout);
    client.set_read_timeout(options.readTimeout);
    client.set_write_timeout(options.writeTimeout);

    httplib::Request request;
    request.method = "POST";
    request.path = options.path;
    request.headers.emplace("Content-Type", "application/vnd.apache.thrift.json");
    request.body.assign(message.begin(), message.end());

    Bytes reply;
    bool tooLarge = false;
    // Refuse an announced oversize body before reading it, and stop reading one without
    // a length (chunked or until close) as soon as it passes the limit.
    request.response_handler = [&](const httplib::Response& response) {
        if (!response.has_header("Content-Length")) return true;
        const std::string value = response.get_header_value("Content-Length");
        unsigned long long length = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
        if (ec == std::errc() && length > kNativeMessageMaxReplyLength) {
            tooLarge = true;
            return false;
        }
        return true;
    };
    request.content_receiver = [&](const char* data, size_t length, uint64_t, uint64_t) {
        if (reply.size() + length > kNativeMessageMaxReplyLength) {
            tooLarge = true;
            return false;
        }
        reply.insert(reply.end(), data, data + length);
        return true;
    };

    TBN_LOG_DEBUG(kLogTags, "relaying a message of {} bytes", message.size());
    const httplib::Result result = client.send(request);
    if (tooLarge) {
        TBN_LOG_WARN(kLogTags, "reply above {} bytes replaced by an error answer",
                     kNativeMessageMaxReplyLength);
        return tooLargeAnswer();
    }
    if (!result) {
        TBN_LOG_WARN(kLogTags, "relay request failed: {}", httplib::to_string(result.error()));
        return std::nullopt;
    }
    TBN_LOG_DEBUG(kLogTags, "reply of {} bytes, HTTP status {}", reply.size(), result->status);
    return reply;
}

void TBNNativeMessageProxy::sendRequest(Bytes message, NativeMessageCompletion completionHandler) {
    sendRequest(std::move(message), std::move(completionHandler), NativeMessagingOptions{});
}

void TBNNativeMessageProxy::sendRequest(Bytes message, NativeMessageCompletion completionHandler,
                                        const NativeMessagingOptions& options) {
    auto completion = std::make_shared<NativeMessageCompletion>(std::move(completionHandler));
    auto work = [message = std::move(message), options, completion]() {
        std::optional<Bytes> reply;
        try {
            reply = postMessage(message, options);
        } catch (const std::exception& e) {
            TBN_LOG_WARN(kLogTags, "relay request failed: {}", e.what());
        }
        (*completion)(std::move(reply));
    };
    try {
        std::thread(std::move(work)).detach();
    } catch (const std::system_error& e) {
        TBN_LOG_WARN(kLogTags, "no thread for a relay request: {}", e.what());
        (*completion)(std::nullopt);
    }
}

bool isNativeMessagingHostInvocation(int argc, const char* const* argv) {
    if (argv == nullptr) return false;
    for (int i = 1; i < argc; ++i) {
        // An option is never the browser's argument: "--ble=sim:/tmp/my-extension-test/s"
        // must start the program it names, not the host.
        if (argv[i] == nullptr) continue;
        if (argv[i][0] == '-') {
            // The one option whose value may come as the next argument.
            if (std::strcmp(argv[i], "--ble") == 0) ++i;
            continue;
        }
        if (std::strstr(argv[i], "extension") != nullptr) return true;
    }
    return false;
}

int runNativeMessagingHost(int in_fd, int out_fd, const NativeMessagingOptions& options) {
    std::signal(SIGPIPE, SIG_IGN);

    auto state = std::make_shared<HostState>();
    state->out = ::fcntl(out_fd, F_DUPFD_CLOEXEC, 0);
    state->ownsOut = state->out >= 0;
    if (!state->ownsOut) state->out = out_fd;
    const size_t maxInFlight = options.maxInFlight == 0 ? 1 : options.maxInFlight;

    const NativeMessageSource source = nativeMessageFdSource(in_fd);
    for (;;) {
        NativeMessageFrame frame = readNativeMessageFrame(source);
        if (frame.status != NativeMessageFrameStatus::message) {
            if (frame.status == NativeMessageFrameStatus::tooLarge ||
                frame.status == NativeMessageFrameStatus::truncated) {
                TBN_LOG_WARN(kLogTags, "native messaging ends: {} (length {}, {} bytes came)",
                             frameEndText(frame.status), frame.length, frame.body.size());
            } else {
                TBN_LOG_DEBUG(kLogTags, "native messaging ends: {}", frameEndText(frame.status));
            }
            break;
        }
        {
            std::unique_lock<std::mutex> lock(state->slotLock);
            state->slotFree.wait(lock, [&] { return state->inFlight < maxInFlight; });
            ++state->inFlight;
        }
        TBNNativeMessageProxy::sendRequest(
            std::move(frame.body),
            [state](std::optional<Bytes> reply) {
                writeReply(*state, std::move(reply));
                {
                    std::lock_guard<std::mutex> lock(state->slotLock);
                    --state->inFlight;
                }
                state->slotFree.notify_one();
            },
            options);
    }
    state->stopped.store(true);
    return 0;
}

}  // namespace lumvane
