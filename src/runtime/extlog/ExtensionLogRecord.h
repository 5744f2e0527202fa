#pragma once
// Turns a log message that an extension sent into a record of our logging framework.
// Everything in the message comes from an unauthenticated local peer, so every text that
// can reach a log line is put on one line and cut to a bounded length here.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/log/LogRecord.h"

namespace lumvane {

class TBNLogMessage;

struct ExtensionFieldLimits {
    size_t message = 16 * 1024;  // decoded text, bytes
    size_t tags = 256;
    size_t context = 64;
    size_t threadName = 64;
    size_t fileName = 256;
    size_t funcName = 256;
};

// "com.tobrin.chrome.lumvane" -> "chrome-lumvane": the id without the length of
// "com.tobrin." in front (an id that short is taken whole), every "." made "-".
std::string shortAppId(std::string_view appId);

// Every line-break character (U+000A..U+000D, U+0085, U+2028, U+2029) and every other
// control character but tab becomes one blank; the result is cut to at most maxBytes
// bytes without splitting a UTF-8 sequence.
std::string oneLine(std::string_view text, size_t maxBytes);

// Strict standard base64 (alphabet, "=" padding, length a multiple of four); nothing
// for anything else.
std::optional<std::string> decodeBase64Strict(std::string_view text);

bool isValidUtf8(std::string_view text);

// "yyyy-MM-ddTHH:mm:ss.SSS" in UTC, exactly 23 characters, years 1900 to 2199;
// nothing otherwise.
std::optional<LogTimePoint> parseExtensionTimestamp(std::string_view text);

// Level bit of a message level: 0..4 give 1, 2, 4, 8, 16; anything else 16.
uint64_t levelFlagForMessageLevel(int32_t level);
// Kind of a message type: 1..7 unchanged, anything else 0 (plain message).
uint64_t kindForMessageType(int32_t type);

// The record of a message, as `initWithTBNLogMessage:` would make it: text decoded from
// base64 (an invalid one gives an empty text, bytes that are not UTF-8 no text) on one
// line and wrapped "<: %@ :>" for a value; level 31; the flag and kind from the
// message; the tag from the tags, kind and context; the message's time when it parses,
// else now; the queue label from the thread name or the shortened app id.
LogRecord logRecordWithTBNLogMessage(const TBNLogMessage& message,
                                     const ExtensionFieldLimits& limits = {});

}  // namespace lumvane
