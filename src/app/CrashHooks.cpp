#include "app/CrashHooks.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <string>

#include "runtime/log/LogFileLogger.h"
#include "runtime/log/TBNLogHelper.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

constexpr const char* kTags = "ui|app";

// Copies `text` to `out` at `at` (bounded by `size`); the new end. Async-signal-safe.
size_t append(char* out, size_t at, size_t size, const char* text) {
    while (*text && at + 1 < size) out[at++] = *text++;
    return at;
}

size_t appendNumber(char* out, size_t at, size_t size, int value) {
    char digits[12];
    size_t n = 0;
    unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0 && n < sizeof digits);
    while (n > 0 && at + 1 < size) out[at++] = digits[--n];
    return at;
}

const char* signalName(int signalNumber) {
    switch (signalNumber) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "signal";
    }
}

void onFatalSignal(int signalNumber) {
    // Only write(2) and the signal itself from here on: the heap or a lock may be broken.
    char line[128];
    size_t n = 0;
    n = append(line, n, sizeof line, "lumvane: !!!! app crashed !!!! (");
    n = append(line, n, sizeof line, signalName(signalNumber));
    n = append(line, n, sizeof line, ", signal ");
    n = appendNumber(line, n, sizeof line, signalNumber);
    n = append(line, n, sizeof line, ")\n");
    ssize_t ignored = ::write(STDERR_FILENO, line, n);
    (void)ignored;
    // The log gets the lines it still held, then the same line without the prefix.
    constexpr size_t kPrefix = sizeof("lumvane: ") - 1;
    LogFileLogger::writeAtFatalSignal(line + kPrefix, n - kPrefix);
    // The handler was reset on entry (SA_RESETHAND): the default action ends the process.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

}  // namespace

void installCrashHooks() {
    std::set_terminate([] {
        std::string what = "unknown";
        if (auto current = std::current_exception()) {
            try {
                std::rethrow_exception(current);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
        }
        TBN_LOG_ERROR(kTags, "!!!! app crashed !!!!");
        TBN_LOG_ERROR(kTags, "exception = '{}'", what);
        TBNLogHelper::flushLog();
        std::abort();
    });
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        struct sigaction action {};
        action.sa_handler = onFatalSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigaction(s, &action, nullptr);
    }
}

}  // namespace lumvane
