#pragma once
// Where the extension's diagnostic lines go. The system-log lines ("error: ...", the
// dispatcher's message trace) and the lines printed to standard output are two separate
// sinks, so tests and the host can capture either one.
#include <functional>
#include <string>

namespace lumvane {

class SafariLog {
  public:
    using Sink = std::function<void(const std::string& line)>;

    // One line of the system log (stderr by default).
    static void system(const std::string& line);
    // One line on standard output.
    static void print(const std::string& line);

    // Replace a sink; an empty function restores the default. Returns the previous sink.
    static Sink setSystemSink(Sink sink);
    static Sink setPrintSink(Sink sink);
};

}  // namespace lumvane
