#pragma once
// Runs a helper program (certutil, pkexec, a browser) as a child process with an
// argument vector: no shell is ever involved, so paths with spaces or quotes pass
// through untouched.
#include <optional>
#include <string>
#include <vector>

namespace lumvane {

struct ChildResult {
    bool started = false;  // false when the program could not be started at all
    int exitStatus = -1;   // exit code, or 128 + signal number when killed by a signal
    std::string output;    // standard output, when captured
    std::string errors;    // standard error, when captured
};

struct ChildOptions {
    bool captureOutput = true;  // standard output and standard error into ChildResult
    // Replaces the environment when set ("NAME=value" entries); the parent's otherwise.
    std::optional<std::vector<std::string>> environment;
};

// argv[0] is looked up on PATH when it holds no slash. Standard input is /dev/null.
// Blocks until the child has ended.
ChildResult runChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = {});

// Starts the program without waiting for it (a browser that may live for hours); the child
// is reaped in the background. Returns false when it could not be started.
bool startDetachedProcess(const std::vector<std::string>& argv);

}  // namespace lumvane
