// A program that crashes on purpose, with the application's crash hooks installed, in a
// state where doing more than async-signal-safe work in the signal handler would wait for
// ever. Arguments: the mode and the log folder.
//
//   log    the log's dispatcher is stuck in a logger; the main thread gets SIGSEGV
//   heap   the allocator finds its heap corrupted and aborts while it holds the lock of
//          its arena (run with the per-thread cache off: GLIBC_TUNABLES=
//          glibc.malloc.tcache_count=0, so that every allocation needs that lock)
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "app/CrashHooks.h"
#include "runtime/log/LogDispatcher.h"
#include "runtime/log/TBNLogHelper.h"
#include "runtime/log/TBNLogger.h"

namespace {

std::atomic<bool> gLoggerStuck{false};

// Never returns from the first record it gets.
class StuckLogger : public lumvane::Logger {
  public:
    void logMessage(const lumvane::LogRecord&) override {
        gLoggerStuck = true;
        std::mutex m;
        std::unique_lock<std::mutex> lock(m);
        std::condition_variable never;
        never.wait(lock, [] { return false; });
    }
    std::string loggerName() const override { return "stuck"; }
};

void waitFor(const std::atomic<bool>& flag) {
    while (!flag.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s log|heap LOG-FOLDER\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    lumvane::TBNLogHelper::initializeLogsInFolder(argv[2], {}, {});
    lumvane::installCrashHooks();
    // More than one thread: the allocator then locks its arena on every call.
    std::atomic<bool> threadStarted{false};
    std::thread([&threadStarted] {
        threadStarted = true;
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }).detach();
    waitFor(threadStarted);

    if (mode == "log") {
        lumvane::LogDispatcher::sharedInstance().addLogger(std::make_shared<StuckLogger>());
        TBN_LOG_ERROR("ui|app", "the last line before the crash");
        waitFor(gLoggerStuck);
        std::fputs("crashing\n", stdout);
        std::fflush(stdout);
        raise(SIGSEGV);
    } else if (mode == "heap") {
        TBN_LOG_ERROR("ui|app", "the last line before the crash");
        lumvane::TBNLogHelper::flushLog();
        std::fputs("crashing\n", stdout);
        std::fflush(stdout);
        // A freed chunk's link in the fast bin is overwritten (safe-linking mangles it with
        // the chunk's own address): the next allocation of that size finds it unaligned.
        void* victim = std::malloc(24);
        void* guard = std::malloc(24);
        std::free(victim);
        auto* link = static_cast<volatile uintptr_t*>(victim);
        *link = (reinterpret_cast<uintptr_t>(victim) >> 12) ^ uintptr_t { 0x1001 };
        void* again = std::malloc(24);
        std::fprintf(stderr, "the allocator did not notice (%p %p)\n", again, guard);
        return 1;
    }
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
