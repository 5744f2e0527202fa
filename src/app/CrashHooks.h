#pragma once
// What the program does when it crashes: a fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT) writes one line to standard error and into the log, with the lines the log
// still holds, and then ends the process by the same signal; an exception that nothing
// caught is logged before the program aborts.
//
// The signal handler does only async-signal-safe work (write(2) of text prepared in
// advance, then the signal again): after heap corruption or with a lock of the allocator
// or the logger held, anything more could wait for ever instead of ending the process.
namespace lumvane {

void installCrashHooks();

}  // namespace lumvane
