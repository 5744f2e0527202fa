#pragma once
// The logging front end of the service layer: one function per level and record kind,
// tags taken from a per-source-file store when the call gives none, a class name
// registered for the source file put in front of the function name ("Class.function"),
// errors and values rendered into the message. Every record ends in TBNLogger.
//
//   setLogContext(*this, "u2f|core");                  // once, e.g. in a constructor
//   logInfo("started");                                 // tags u2f|core, "U2FAuthenticator.start"
//   logDebugMethodBegin(logTags("u2f"));                // own tags
//   logVerboseMethodFail("no answer", error);           // "no answer *** error: <what>"
//   logInfoValue(count);                                // "<: value = 3 :>"
//
// The call site (file, function, line) is filled in by the default argument of every
// function. A file's registration is found by the file text of the call site.
#include <fmt/format.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <ostream>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <typeinfo>
#include <unordered_map>

#include "runtime/log/TBNLogger.h"

namespace lumvane {

// Where a call was made; the defaults take the caller's location.
struct TBNLogLocation {
    // NOLINTNEXTLINE(google-explicit-constructor): filled in by default arguments
    TBNLogLocation(const char* file = __builtin_FILE(), const char* function = __builtin_FUNCTION(),
                   uint64_t line = __builtin_LINE())
        : file(file), function(function), line(line) {}
    const char* file;
    const char* function;
    uint64_t line;
};

// The tags ("a|b") and context name of a call; empty by default. Made with logTags(),
// so a message text is never mistaken for tags.
struct TBNLogTagsArg {
    TBNLogTagsArg() = default;
    explicit TBNLogTagsArg(std::string_view tags, std::string_view context = {})
        : tags(tags), context(context) {}
    std::string_view tags;
    std::string_view context;
};
inline TBNLogTagsArg logTags(std::string_view tags, std::string_view context = {}) {
    return TBNLogTagsArg(tags, context);
}

// An error as the front end shows it: its description.
class TBNLogError {
  public:
    TBNLogError(const std::exception& error) : description_(error.what()) {}      // NOLINT
    TBNLogError(const std::error_code& error) : description_(error.message()) {}  // NOLINT
    TBNLogError(const std::exception_ptr& error);                                 // NOLINT
    static TBNLogError withDescription(std::string description) {
        return TBNLogError(std::move(description), 0);
    }
    const std::string& description() const { return description_; }

  private:
    TBNLogError(std::string description, int) : description_(std::move(description)) {}
    std::string description_;
};

// The per-file tags and class names.
class TBNLogContextStore {
  public:
    static TBNLogContextStore& shared();

    void setClassName(std::string_view file, std::string className);
    void setTags(std::string_view file, std::string tags);
    std::string className(std::string_view file) const;
    std::string tags(std::string_view file) const;

  private:
    mutable std::shared_mutex mutex_;
    std::unordered_map<std::string, std::string> tags_;
    std::unordered_map<std::string, std::string> classNames_;
};

// The unqualified name of a type ("lumvane::u2f::U2FAuthenticator<int>" gives
// "U2FAuthenticator").
std::string logPlainTypeName(const std::type_info& type);

// Registration for the calling source file (a later call replaces an earlier one).
void setLogClassName(std::string_view className, const char* file = __builtin_FILE());
void setLogTags(std::string_view tags, const char* file = __builtin_FILE());
template <typename T>
void setLogContext(const T& object, std::string_view tags, const char* file = __builtin_FILE()) {
    setLogClassName(logPlainTypeName(typeid(object)), file);
    setLogTags(tags, file);
}

// The core: every function below ends here.
void logRecord(std::string_view message, uint64_t flag, uint64_t kind, std::string_view tags,
               std::string_view context, const char* file, const char* function, uint64_t line);

inline constexpr std::string_view kTBNLogUnsupportedType = "*** UNSUPPORTED TYPE ***";

namespace logdetail {
template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <typename T, typename = void>
struct IsStreamable : std::false_type {};
template <typename T>
struct IsStreamable<
    T, std::void_t<decltype(std::declval<std::ostream&>() << std::declval<const T&>())>>
    : std::true_type {};

std::string errorMessage(std::string_view message, const TBNLogError& error);
}  // namespace logdetail

// A value's text: absent (nullopt, a null pointer) gives "*** UNSUPPORTED TYPE ***".
template <typename T>
std::string logRenderValue(const T& value) {
    if constexpr (std::is_same_v<T, std::nullopt_t> || std::is_same_v<T, std::nullptr_t>) {
        return std::string(kTBNLogUnsupportedType);
    } else if constexpr (logdetail::IsOptional<T>::value) {
        return value ? logRenderValue(*value) : std::string(kTBNLogUnsupportedType);
    } else if constexpr (std::is_pointer_v<T> && !std::is_same_v<std::decay_t<T>, const char*> &&
                         !std::is_same_v<std::decay_t<T>, char*>) {
        return value ? logRenderValue(*value) : std::string(kTBNLogUnsupportedType);
    } else if constexpr (std::is_same_v<std::decay_t<T>, const char*> ||
                         std::is_same_v<std::decay_t<T>, char*>) {
        return value ? std::string(value) : std::string(kTBNLogUnsupportedType);
    } else if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (fmt::is_formattable<T>::value) {
        return fmt::format("{}", value);
    } else if constexpr (logdetail::IsStreamable<T>::value) {
        std::ostringstream out;
        out << value;
        return out.str();
    } else {
        return std::string(kTBNLogUnsupportedType);
    }
}

// ---- message records, every level ------------------------------------------------------
#define TBN_SL_MESSAGE(name, flag)                                                                \
    inline void name(std::string_view message, TBNLogTagsArg tags = {}, TBNLogLocation at = {}) { \
        if (!TBNLogger::isEnabled(flag)) return;                                                  \
        logRecord(message, flag, TBNLogTagTypeMessage, tags.tags, tags.context, at.file,          \
                  at.function, at.line);                                                          \
    }
TBN_SL_MESSAGE(logError, kTBNLogFlagError)
TBN_SL_MESSAGE(logWarning, kTBNLogFlagWarning)
TBN_SL_MESSAGE(logInfo, kTBNLogFlagInfo)
TBN_SL_MESSAGE(logDebug, kTBNLogFlagDebug)
TBN_SL_MESSAGE(logVerbose, kTBNLogFlagVerbose)
#undef TBN_SL_MESSAGE

// ---- errors, error level only ------------------------------------------------------------
inline void logError(const TBNLogError& error, TBNLogTagsArg tags = {}, TBNLogLocation at = {}) {
    if (!TBNLogger::isEnabled(kTBNLogFlagError)) return;
    logRecord("*** error: " + error.description(), kTBNLogFlagError, TBNLogTagTypeMessage,
              tags.tags, tags.context, at.file, at.function, at.line);
}
template <typename T>
void logErrorValue(const T& value, TBNLogTagsArg tags = {}, TBNLogLocation at = {}) {
    if (!TBNLogger::isEnabled(kTBNLogFlagError)) return;
    logRecord("*** error: " + logRenderValue(value), kTBNLogFlagError, TBNLogTagTypeMessage,
              tags.tags, tags.context, at.file, at.function, at.line);
}

// ---- scopes, times and values: info, debug and verbose -----------------------------------
#define TBN_SL_PLAIN(name, flag, kind)                                                            \
    inline void name(TBNLogTagsArg tags = {}, TBNLogLocation at = {}) {                           \
        if (!TBNLogger::isEnabled(flag)) return;                                                  \
        logRecord("", flag, kind, tags.tags, tags.context, at.file, at.function, at.line);        \
    }                                                                                             \
    inline void name(std::string_view message, TBNLogTagsArg tags = {}, TBNLogLocation at = {}) { \
        if (!TBNLogger::isEnabled(flag)) return;                                                  \
        logRecord(message, flag, kind, tags.tags, tags.context, at.file, at.function, at.line);   \
    }

#define TBN_SL_FAIL(name, flag)                                                                   \
    TBN_SL_PLAIN(name, flag, TBNLogTagTypeMethodFail)                                             \
    inline void name(const TBNLogError& error, TBNLogTagsArg tags = {}, TBNLogLocation at = {}) { \
        if (!TBNLogger::isEnabled(flag)) return;                                                  \
        logRecord(logdetail::errorMessage("", error), flag, TBNLogTagTypeMethodFail, tags.tags,   \
                  tags.context, at.file, at.function, at.line);                                   \
    }                                                                                             \
    inline void name(std::string_view message, const TBNLogError& error, TBNLogTagsArg tags = {}, \
                     TBNLogLocation at = {}) {                                                    \
        if (!TBNLogger::isEnabled(flag)) return;                                                  \
        logRecord(logdetail::errorMessage(message, error), flag, TBNLogTagTypeMethodFail,         \
                  tags.tags, tags.context, at.file, at.function, at.line);                        \
    }

#define TBN_SL_RESULT(name, flag)                                                                \
    inline void name(const std::optional<TBNLogError>& error, TBNLogTagsArg tags = {},           \
                     TBNLogLocation at = {}) {                                                   \
        if (!TBNLogger::isEnabled(flag)) return;                                                 \
        logRecord(error ? logdetail::errorMessage("", *error) : std::string(), flag,             \
                  error ? TBNLogTagTypeMethodFail : TBNLogTagTypeMethodEnd, tags.tags,           \
                  tags.context, at.file, at.function, at.line);                                  \
    }                                                                                            \
    inline void name(const std::optional<TBNLogError>& error, std::string_view message,          \
                     TBNLogTagsArg tags = {}, TBNLogLocation at = {}) {                          \
        if (!TBNLogger::isEnabled(flag)) return;                                                 \
        logRecord(error ? logdetail::errorMessage(message, *error) : std::string(message), flag, \
                  error ? TBNLogTagTypeMethodFail : TBNLogTagTypeMethodEnd, tags.tags,           \
                  tags.context, at.file, at.function, at.line);                                  \
    }

#define TBN_SL_VALUE(name, flag)                                                           \
    template <typename T>                                                                  \
    void name(const T& value, TBNLogTagsArg tags = {}, TBNLogLocation at = {}) {           \
        if (!TBNLogger::isEnabled(flag)) return;                                           \
        logRecord("<: value = " + logRenderValue(value) + " :>", flag, TBNLogTagTypeValue, \
                  tags.tags, tags.context, at.file, at.function, at.line);                 \
    }

#define TBN_SL_LEVEL(Level, flag)                                           \
    TBN_SL_PLAIN(log##Level##MethodBegin, flag, TBNLogTagTypeMethodBegin)   \
    TBN_SL_PLAIN(log##Level##MethodEnd, flag, TBNLogTagTypeMethodEnd)       \
    TBN_SL_PLAIN(log##Level##MethodAltEnd, flag, TBNLogTagTypeMethodAltEnd) \
    TBN_SL_FAIL(log##Level##MethodFail, flag)                               \
    TBN_SL_RESULT(log##Level##MethodResult, flag)                           \
    TBN_SL_PLAIN(log##Level##TimeBegin, flag, TBNLogTagTypeTimeBegin)       \
    TBN_SL_PLAIN(log##Level##TimeEnd, flag, TBNLogTagTypeTimeEnd)           \
    TBN_SL_VALUE(log##Level##Value, flag)

TBN_SL_LEVEL(Info, kTBNLogFlagInfo)
TBN_SL_LEVEL(Debug, kTBNLogFlagDebug)
TBN_SL_LEVEL(Verbose, kTBNLogFlagVerbose)

#undef TBN_SL_LEVEL
#undef TBN_SL_VALUE
#undef TBN_SL_RESULT
#undef TBN_SL_FAIL
#undef TBN_SL_PLAIN

// ---- the silent counterparts: same names with "silent", log nothing ----------------------
#define TBN_SL_SILENT(name)     \
    template <typename... Args> \
    inline void silent##name(Args&&...) {}
TBN_SL_SILENT(LogError)
TBN_SL_SILENT(LogWarning)
TBN_SL_SILENT(LogInfo)
TBN_SL_SILENT(LogDebug)
TBN_SL_SILENT(LogVerbose)
TBN_SL_SILENT(LogErrorValue)
#define TBN_SL_SILENT_LEVEL(Level)          \
    TBN_SL_SILENT(Log##Level##MethodBegin)  \
    TBN_SL_SILENT(Log##Level##MethodEnd)    \
    TBN_SL_SILENT(Log##Level##MethodAltEnd) \
    TBN_SL_SILENT(Log##Level##MethodFail)   \
    TBN_SL_SILENT(Log##Level##MethodResult) \
    TBN_SL_SILENT(Log##Level##TimeBegin)    \
    TBN_SL_SILENT(Log##Level##TimeEnd)      \
    TBN_SL_SILENT(Log##Level##Value)
TBN_SL_SILENT_LEVEL(Info)
TBN_SL_SILENT_LEVEL(Debug)
TBN_SL_SILENT_LEVEL(Verbose)
#undef TBN_SL_SILENT_LEVEL
#undef TBN_SL_SILENT

}  // namespace lumvane
