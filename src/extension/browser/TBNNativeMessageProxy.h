#pragma once
// The native-messaging relay: a browser starts `lumvane` with an argument containing
// "extension", writes framed messages to its standard input and reads framed replies from
// its standard output. Every message goes unchanged, by HTTP POST, to the running
// application's plain-HTTP server on the loopback interface; the host never parses them.
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/Bytes.h"

namespace lumvane {

// Answer written in place of a reply above kNativeMessageMaxReplyLength: the error shape
// the extension already knows from the server's own error answers.
inline constexpr std::string_view kNativeMessageReplyTooLarge = R"({"error":"reply too large"})";

struct NativeMessagingOptions {
    std::string host = "127.0.0.1";
    int port = 19521;
    std::string path = "/thrift";
    std::chrono::seconds connectTimeout{5};
    // The server holds a request while the phone is woken and the user answers a popover
    // (waits of several minutes can follow each other), so the wait for a reply is long.
    std::chrono::seconds readTimeout{3600};
    std::chrono::seconds writeTimeout{60};
    // Requests under way at once; the reader waits for a free slot before relaying more.
    size_t maxInFlight = 64;
};

// Called once with the reply body (whatever the HTTP status), or with nothing when no
// response came (no connection, time-out, other transport error).
using NativeMessageCompletion = std::function<void(std::optional<Bytes> reply)>;

class TBNNativeMessageProxy {
  public:
    // Starts the POST of one message and returns at once; the completion runs later on
    // the request's own thread (or at once on this one if no thread can be started).
    static void sendRequest(Bytes message, NativeMessageCompletion completionHandler);
    static void sendRequest(Bytes message, NativeMessageCompletion completionHandler,
                            const NativeMessagingOptions& options);

    // The request itself, on the calling thread. A reply above the reply limit is not
    // read further; kNativeMessageReplyTooLarge is returned in its place.
    static std::optional<Bytes> postMessage(const Bytes& message,
                                            const NativeMessagingOptions& options);
};

// True when an argument after the program name contains "extension" (case-sensitive).
// Options (arguments beginning with "-", and the value of "--ble" given as the next
// argument) never count, whatever they contain.
bool isNativeMessagingHostInvocation(int argc, const char* const* argv);

// Runs the host: reads frames from in_fd, relays each at once without waiting for earlier
// replies, and writes every reply framed to out_fd, one whole frame at a time. Returns 0
// (the exit status) at the end of input, a zero length, a cut-off length or message, an
// announced length above 64 MiB or a read error, without waiting for requests still under
// way; replies not begun by then are dropped. Neither descriptor is closed; the host writes through
// its own duplicate of out_fd, so a caller may close out_fd once this returns. Ignores
// SIGPIPE for the process, so a browser that went away cannot kill it mid-write.
// Request threads may still be running when this returns: a program should end on the
// status with std::quick_exit or _exit rather than run static destructors under them.
int runNativeMessagingHost(int in_fd, int out_fd, const NativeMessagingOptions& options = {});

}  // namespace lumvane
