#pragma once
// Where the phone link's log lines go: the program's logger (TBNLogger) unless a
// test puts a sink of its own in. Lines carry ids and sizes, never payload bytes
// or keys.
#include <functional>
#include <string>
#include <string_view>

namespace lumvane::blec {

enum class LogLevel { Verbose, Debug, Info, Warning, Error };

using LogSink = std::function<void(LogLevel, std::string_view tags, std::string_view text)>;

// Replaces the sink; an empty function restores the default. Returns the old one.
LogSink setLogSink(LogSink sink);

void log(LogLevel level, std::string_view tags, std::string_view text);

}  // namespace lumvane::blec
