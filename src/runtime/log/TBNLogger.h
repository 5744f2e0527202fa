#pragma once
// The one entry point of the program's own log lines.
//
//   TBN_LOG_INFO("core|thrift", "connected to {} after {} ms", name, ms);
//   TBN_LOG_DEBUG_BEGIN("core|blec");            // "--> Class::method"
//   TBN_LOG_DEBUG_END("core|blec");              // "<-- Class::method"
//   TBN_LOG_VERBOSE_VALUE("core", count);        // "<: count = 3 :>"
//
// Formatting is libfmt's ("{}"), checked at compile time. The macros test the level
// mask before anything else, so a call at a disabled level costs one atomic load.
//
// Function text. Every macro passes the calling function as "Class::method": the
// compiler's full name without namespaces of lumvane, return type, parameters and
// qualifiers ("lumvane::TBNService::start(int) const" gives "TBNService::start").
// Static member functions read the same. A plain function gives its name alone
// ("main"), a function of another namespace keeps that namespace as its first part.
// A call made inside a lambda gives the enclosing function's text followed by
// "::<lambda>" ("TBNService::start::<lambda>"). The log filter reads exactly this
// form: class = the part before the last "::", method = the part after it, and only
// when both are plain names (so lambdas, plain functions and operators give neither).
#include <fmt/format.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "runtime/log/LogRecord.h"

namespace lumvane {

// Level flags, one bit each.
inline constexpr uint64_t kTBNLogFlagError = 1;
inline constexpr uint64_t kTBNLogFlagWarning = 2;
inline constexpr uint64_t kTBNLogFlagInfo = 4;
inline constexpr uint64_t kTBNLogFlagDebug = 8;
inline constexpr uint64_t kTBNLogFlagVerbose = 16;

// Level masks that the program sets.
inline constexpr uint64_t kTBNLogLevelOff = 0;
inline constexpr uint64_t kTBNLogLevelInfo = 7;
inline constexpr uint64_t kTBNLogLevelDebug = 15;
inline constexpr uint64_t kTBNLogLevelVerbose = 31;

// The kind of a record; also the record's context number in the framework. Values
// above 7 can occur (they arrive from extensions) and are kept as they are.
enum TBNLogTagType : uint64_t {
    TBNLogTagTypeMessage = 0,
    TBNLogTagTypeMethodBegin = 1,
    TBNLogTagTypeMethodEnd = 2,
    TBNLogTagTypeMethodAltEnd = 3,
    TBNLogTagTypeMethodFail = 4,
    TBNLogTagTypeTimeBegin = 5,
    TBNLogTagTypeTimeEnd = 6,
    TBNLogTagTypeValue = 7,
};

class TBNLogTag;
using TBNLogTagPtr = std::shared_ptr<const TBNLogTag>;

// Tags, kind and context of one record. Immutable, shared freely between threads.
// The tags string is split at "|" once: "" gives no tags, "a||b" gives a, "" and b.
class TBNLogTag final : public LogTagObject {
  public:
    TBNLogTag(std::string_view tags, TBNLogTagType type, std::string_view context);

    const std::vector<std::string>& logTags() const { return logTags_; }
    // The tags string the tag was made from.
    const std::string& tagsText() const { return tagsText_; }
    TBNLogTagType logType() const { return logType_; }
    const std::string& context() const { return context_; }

    static TBNLogTagPtr messageTag();
    static TBNLogTagPtr messageTagWithTags(std::string_view tags);
    static TBNLogTagPtr messageTagWithContext(std::string_view context);
    static TBNLogTagPtr messageTagWithTags(std::string_view tags, std::string_view context);

    static TBNLogTagPtr methodBeginTag();
    static TBNLogTagPtr methodBeginTagWithTags(std::string_view tags);
    static TBNLogTagPtr methodBeginTagWithContext(std::string_view context);
    static TBNLogTagPtr methodBeginTagWithTags(std::string_view tags, std::string_view context);

    static TBNLogTagPtr methodEndTag();
    static TBNLogTagPtr methodEndTagWithTags(std::string_view tags);
    static TBNLogTagPtr methodEndTagWithContext(std::string_view context);
    static TBNLogTagPtr methodEndTagWithTags(std::string_view tags, std::string_view context);

    static TBNLogTagPtr methodAltEndTag();
    static TBNLogTagPtr methodAltEndTagWithTags(std::string_view tags);
    static TBNLogTagPtr methodAltEndTagWithContext(std::string_view context);
    static TBNLogTagPtr methodAltEndTagWithTags(std::string_view tags, std::string_view context);

    static TBNLogTagPtr methodFailTag();
    static TBNLogTagPtr methodFailTagWithTags(std::string_view tags);
    static TBNLogTagPtr methodFailTagWithContext(std::string_view context);
    static TBNLogTagPtr methodFailTagWithTags(std::string_view tags, std::string_view context);

    static TBNLogTagPtr timeBeginTag();
    static TBNLogTagPtr timeBeginTagWithTags(std::string_view tags);
    static TBNLogTagPtr timeBeginTagWithContext(std::string_view context);
    static TBNLogTagPtr timeBeginTagWithTags(std::string_view tags, std::string_view context);

    static TBNLogTagPtr timeEndTag();
    static TBNLogTagPtr timeEndTagWithTags(std::string_view tags);
    static TBNLogTagPtr timeEndTagWithContext(std::string_view context);
    static TBNLogTagPtr timeEndTagWithTags(std::string_view tags, std::string_view context);

    static TBNLogTagPtr valueTag();
    static TBNLogTagPtr valueTagWithTags(std::string_view tags);
    static TBNLogTagPtr valueTagWithContext(std::string_view context);
    static TBNLogTagPtr valueTagWithTags(std::string_view tags, std::string_view context);

    static TBNLogTagPtr tagWithTags(std::string_view tags, uint64_t type);
    static TBNLogTagPtr tagWithTags(std::string_view tags, uint64_t type, std::string_view context);

  private:
    std::string tagsText_;
    std::vector<std::string> logTags_;
    TBNLogTagType logType_;
    std::string context_;
};

namespace logdetail {
// The level mask lives here so the enabled test inlines into every call site.
inline std::atomic<uint64_t> g_maxLevel{kTBNLogLevelInfo};

// The macros keep the tag object of their first call and hand it out again while the
// tags string stays the same (tag objects are immutable), so a call site does not make
// a new tag per line.
inline TBNLogTagPtr sameOrNewTag(const TBNLogTagPtr& cached, uint64_t kind, std::string_view tags) {
    if (cached->tagsText() == tags) return cached;
    return TBNLogTag::tagWithTags(tags, kind);
}
}  // namespace logdetail

// The process-wide logger: a level mask and the hand-over to the shared dispatcher.
class TBNLogger {
  public:
    static TBNLogger& shared();

    static uint64_t maxLevel() { return logdetail::g_maxLevel.load(std::memory_order_relaxed); }
    static void setMaxLevel(uint64_t mask) {
        logdetail::g_maxLevel.store(mask, std::memory_order_relaxed);
    }
    // Whether a record with this flag passes the mask: every bit of the flag must lie
    // inside it (a flag of 0 always passes).
    static bool isEnabled(uint64_t flag) { return (flag & maxLevel()) == flag; }

    // Formats and logs one line. A record whose flag lies outside the mask is dropped
    // before its text is built. An absent file or function becomes the empty string.
    template <typename... Args>
    static void log(bool asynchronous, uint64_t flag, std::shared_ptr<const LogTagObject> tag,
                    const char* file, const char* function, uint64_t line,
                    fmt::format_string<Args...> format, Args&&... args) {
        if (!isEnabled(flag)) return;
        shared().logMessage(asynchronous, flag, std::move(tag), file ? file : "",
                            function ? function : "", line,
                            fmt::format(format, std::forward<Args>(args)...));
    }
    // An absent format logs nothing.
    static void log(bool, uint64_t, std::shared_ptr<const LogTagObject>, const char*, const char*,
                    uint64_t, std::nullptr_t) {}

    // Logs a finished message text (absent: nothing is logged).
    static void logText(bool asynchronous, uint64_t flag, std::shared_ptr<const LogTagObject> tag,
                        std::string_view file, std::string_view function, uint64_t line,
                        std::optional<std::string> message);

    // Instance side: the level test and the hand-over to the shared dispatcher.
    void logMessage(bool asynchronous, uint64_t flag, std::shared_ptr<const LogTagObject> tag,
                    std::string_view file, std::string_view function, uint64_t line,
                    std::string message);
    uint64_t instanceMaxLevel() const { return maxLevel(); }
    void setInstanceMaxLevel(uint64_t mask) { setMaxLevel(mask); }

  private:
    TBNLogger() = default;
};

class Logger;
class TBNLogFilter;
class TBNLogFormatter;

// Fronts the logger's level and registers loggers with the shared dispatcher (the
// registering operations are defined with the log set-up, TBNLogHelper.cpp).
class TBNLog {
  public:
    static uint64_t maxLevel() { return TBNLogger::maxLevel(); }
    static void setMaxLevel(uint64_t mask) { TBNLogger::setMaxLevel(mask); }

    // Adds the logger as it is.
    static void addLoggerWithoutFilterAndFormatter(std::shared_ptr<Logger> logger);
    // Gives the logger the chain filter -> formatter (or the one that is given; with
    // neither its formatter stays) and adds it.
    static void addLogger(std::shared_ptr<Logger> logger, std::shared_ptr<TBNLogFilter> filter,
                          std::shared_ptr<TBNLogFormatter> formatter);
    // Makes a new filter and formatter, lets the callback (may be empty) configure
    // them before they are attached, chains them and adds the logger.
    static void addLoggerWithDefaultFilterAndFormatter(
        std::shared_ptr<Logger> logger,
        std::function<void(TBNLogFilter&, TBNLogFormatter&)> configBlock = {});
};

// The "Class::method" text of a compiler's full function name (see the top of this
// file). The result lives until the process ends; the macros compute it once per call
// site.
const char* logFunctionText(const char* prettyFunction);
std::string makeLogFunctionText(std::string_view prettyFunction);

// Text of a value record: "<: name = value :>", booleans as TR and FL, reals as "%f".
template <typename T>
std::string logValueText(std::string_view name, const T& value) {
    if constexpr (std::is_same_v<std::decay_t<T>, bool>) {
        return fmt::format("<: {} = {} :>", name, value ? "TR" : "FL");
    } else if constexpr (std::is_floating_point_v<std::decay_t<T>>) {
        return fmt::format("<: {} = {:f} :>", name, value);
    } else {
        return fmt::format("<: {} = {} :>", name, value);
    }
}

}  // namespace lumvane

#define TBN_LOG_FLAG_ERROR ::lumvane::kTBNLogFlagError
#define TBN_LOG_FLAG_WARN ::lumvane::kTBNLogFlagWarning
#define TBN_LOG_FLAG_INFO ::lumvane::kTBNLogFlagInfo
#define TBN_LOG_FLAG_DEBUG ::lumvane::kTBNLogFlagDebug
#define TBN_LOG_FLAG_VERBOSE ::lumvane::kTBNLogFlagVerbose

// The general form: a flag, a tag object (evaluated only when the level is enabled)
// and a libfmt format with its arguments.
#define TBN_LOG_WITH_TAG(flag_, tagObject_, ...)                                                  \
    do {                                                                                          \
        const uint64_t tbnLogFlag_ = (flag_);                                                     \
        if (::lumvane::TBNLogger::isEnabled(tbnLogFlag_)) {                                       \
            static const char* const tbnLogFunction_ =                                            \
                ::lumvane::logFunctionText(__PRETTY_FUNCTION__);                                  \
            ::lumvane::TBNLogger::log(true, tbnLogFlag_, (tagObject_), __FILE__, tbnLogFunction_, \
                                      __LINE__, __VA_ARGS__);                                     \
        }                                                                                         \
    } while (0)

// The same with a tag of the given kind made from a tags string.
#define TBN_LOG_WITH_KIND(flag_, kind_, tags_, ...)                                             \
    do {                                                                                        \
        const uint64_t tbnLogFlag_ = (flag_);                                                   \
        if (::lumvane::TBNLogger::isEnabled(tbnLogFlag_)) {                                     \
            static const char* const tbnLogFunction_ =                                          \
                ::lumvane::logFunctionText(__PRETTY_FUNCTION__);                                \
            const std::string_view tbnLogTags_ = (tags_);                                       \
            static const ::lumvane::TBNLogTagPtr tbnLogTag_ =                                   \
                ::lumvane::TBNLogTag::tagWithTags(tbnLogTags_, (kind_));                        \
            ::lumvane::TBNLogger::log(                                                          \
                true, tbnLogFlag_,                                                              \
                ::lumvane::logdetail::sameOrNewTag(tbnLogTag_, (kind_), tbnLogTags_), __FILE__, \
                tbnLogFunction_, __LINE__, __VA_ARGS__);                                        \
        }                                                                                       \
    } while (0)

// Message lines: TBN_LOG_INFO("core|thrift", "format {}", args...).
#define TBN_LOG_ERROR(tags_, ...) \
    TBN_LOG_WITH_KIND(TBN_LOG_FLAG_ERROR, ::lumvane::TBNLogTagTypeMessage, tags_, __VA_ARGS__)
#define TBN_LOG_WARN(tags_, ...) \
    TBN_LOG_WITH_KIND(TBN_LOG_FLAG_WARN, ::lumvane::TBNLogTagTypeMessage, tags_, __VA_ARGS__)
#define TBN_LOG_INFO(tags_, ...) \
    TBN_LOG_WITH_KIND(TBN_LOG_FLAG_INFO, ::lumvane::TBNLogTagTypeMessage, tags_, __VA_ARGS__)
#define TBN_LOG_DEBUG(tags_, ...) \
    TBN_LOG_WITH_KIND(TBN_LOG_FLAG_DEBUG, ::lumvane::TBNLogTagTypeMessage, tags_, __VA_ARGS__)
#define TBN_LOG_VERBOSE(tags_, ...) \
    TBN_LOG_WITH_KIND(TBN_LOG_FLAG_VERBOSE, ::lumvane::TBNLogTagTypeMessage, tags_, __VA_ARGS__)

// Scope, time and value lines at a level given by its word (ERROR, WARN, INFO, DEBUG,
// VERBOSE): TBN_LOG_BEGIN(DEBUG, "core"), TBN_LOG_END(DEBUG, "core"),
// TBN_LOG_FAIL(DEBUG, "core", "no answer from {}", name).
#define TBN_LOG_BEGIN(level_, tags_) \
    TBN_LOG_WITH_KIND(TBN_LOG_FLAG_##level_, ::lumvane::TBNLogTagTypeMethodBegin, tags_, "")
#define TBN_LOG_END(level_, tags_) \
    TBN_LOG_WITH_KIND(TBN_LOG_FLAG_##level_, ::lumvane::TBNLogTagTypeMethodEnd, tags_, "")
#define TBN_LOG_ALT_END(level_, tags_) \
    TBN_LOG_WITH_KIND(TBN_LOG_FLAG_##level_, ::lumvane::TBNLogTagTypeMethodAltEnd, tags_, "")
#define TBN_LOG_FAIL(level_, tags_, ...) \
    TBN_LOG_WITH_KIND(TBN_LOG_FLAG_##level_, ::lumvane::TBNLogTagTypeMethodFail, tags_, __VA_ARGS__)
// The time key is the text (the function text when it is empty).
#define TBN_LOG_TIME_BEGIN(level_, tags_, ...) \
    TBN_LOG_WITH_KIND(TBN_LOG_FLAG_##level_, ::lumvane::TBNLogTagTypeTimeBegin, tags_, __VA_ARGS__)
#define TBN_LOG_TIME_END(level_, tags_, ...) \
    TBN_LOG_WITH_KIND(TBN_LOG_FLAG_##level_, ::lumvane::TBNLogTagTypeTimeEnd, tags_, __VA_ARGS__)
// A variable's value: TBN_LOG_VALUE(DEBUG, "core", count) logs "<: count = 3 :>".
#define TBN_LOG_VALUE(level_, tags_, variable_)                                          \
    TBN_LOG_WITH_KIND(TBN_LOG_FLAG_##level_, ::lumvane::TBNLogTagTypeValue, tags_, "{}", \
                      ::lumvane::logValueText(#variable_, (variable_)))

// Short forms for the levels that scopes are mostly logged at.
#define TBN_LOG_INFO_BEGIN(tags_) TBN_LOG_BEGIN(INFO, tags_)
#define TBN_LOG_INFO_END(tags_) TBN_LOG_END(INFO, tags_)
#define TBN_LOG_DEBUG_BEGIN(tags_) TBN_LOG_BEGIN(DEBUG, tags_)
#define TBN_LOG_DEBUG_END(tags_) TBN_LOG_END(DEBUG, tags_)
#define TBN_LOG_DEBUG_ALT_END(tags_) TBN_LOG_ALT_END(DEBUG, tags_)
#define TBN_LOG_DEBUG_FAIL(tags_, ...) TBN_LOG_FAIL(DEBUG, tags_, __VA_ARGS__)
#define TBN_LOG_VERBOSE_BEGIN(tags_) TBN_LOG_BEGIN(VERBOSE, tags_)
#define TBN_LOG_VERBOSE_END(tags_) TBN_LOG_END(VERBOSE, tags_)
#define TBN_LOG_VERBOSE_ALT_END(tags_) TBN_LOG_ALT_END(VERBOSE, tags_)
#define TBN_LOG_VERBOSE_FAIL(tags_, ...) TBN_LOG_FAIL(VERBOSE, tags_, __VA_ARGS__)
#define TBN_LOG_DEBUG_VALUE(tags_, variable_) TBN_LOG_VALUE(DEBUG, tags_, variable_)
#define TBN_LOG_VERBOSE_VALUE(tags_, variable_) TBN_LOG_VALUE(VERBOSE, tags_, variable_)
