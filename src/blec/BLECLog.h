#pragma once
// Where the phone link's log lines go: the program's logger (TBNLogger) unless a
// test puts a sink of its own in. Lines carry ids and sizes, never payload bytes
// or keys.
#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace lumvane::blec {

enum class LogLevel { Verbose, Debug, Info, Warning, Error };

using LogSink = std::function<void(LogLevel, std::string_view tags, std::string_view text)>;

// Replaces the sink; an empty function restores the default. Returns the old one.
LogSink setLogSink(LogSink sink);

void log(LogLevel level, std::string_view tags, std::string_view text);

// The error line of a caught exception, in the link's fixed form.
void logException(std::string_view tags, const std::exception& e);

}  // namespace lumvane::blec
