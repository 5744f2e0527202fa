#pragma once
// Lays one record out as one line: date, thread, context, level, component (kind),
// message, tags and function columns joined by a separator, each switched on and
// shaped by a numeric option. The message column shows the kind by a prefix: arrows
// for method begin and end, the elapsed time of a timed stretch, a value's text.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/log/LogDateFormatter.h"
#include "runtime/log/Logger.h"

namespace lumvane {

class TBNLogFormatter : public LogFormatter {
  public:
    using Moment = std::chrono::steady_clock::time_point;

    TBNLogFormatter();

    std::optional<std::string> formatRecord(const LogRecord& record,
                                            const std::optional<std::string>& message) override;

    // Options (see the tables of the formats in the implementation).
    uint64_t dateFormat() const { return dateFormat_.load(); }
    // Makes the date formatter of the new format; the same value again changes nothing.
    void setDateFormat(uint64_t format);
    uint64_t threadFormat() const { return threadFormat_.load(); }
    // Sets the thread-name width to 32 (formats 2, 4) or 24 (3, 5) unless a width
    // has been set before (which the constructor does).
    void setThreadFormat(uint64_t format);
    uint64_t threadNameLenght() const { return threadNameLenght_.load(); }
    void setThreadNameLenght(uint64_t width);
#define TBN_FORMATTER_OPTION(name, Name) \
    uint64_t name() const {              \
        return name##_.load();           \
    }                                    \
    void set##Name(uint64_t value) {     \
        name##_.store(value);            \
    }
    TBN_FORMATTER_OPTION(contextFormat, ContextFormat)
    TBN_FORMATTER_OPTION(tagsFormat, TagsFormat)
    TBN_FORMATTER_OPTION(levelFormat, LevelFormat)
    TBN_FORMATTER_OPTION(componentFormat, ComponentFormat)
    TBN_FORMATTER_OPTION(scopeFormat, ScopeFormat)
    TBN_FORMATTER_OPTION(timeFormat, TimeFormat)
    TBN_FORMATTER_OPTION(valueFormat, ValueFormat)
    TBN_FORMATTER_OPTION(messageFormat, MessageFormat)
    TBN_FORMATTER_OPTION(printFormat, PrintFormat)
#undef TBN_FORMATTER_OPTION

    std::shared_ptr<const LogDateFormatter> customDateFormatter() const;
    void setCustomDateFormatter(std::shared_ptr<const LogDateFormatter> formatter);
    std::string seperator() const;
    void setSeperator(std::string separator);

    // Inner state.
    std::map<std::string, Moment> timeBegins() const;
    std::shared_ptr<const LogDateFormatter> dateFormatter() const;
    bool changedThreadNameLenght() const;
    LogTimePoint lastTimestamp() const;
    void setLastTimestamp(LogTimePoint time);

    // The clock of elapsed times (moments at which begin and end records are laid
    // out); tests replace it. An empty function restores the steady clock.
    void setMomentClock(std::function<Moment()> clock);

    // Pads (printFormat 0 or 2) or cuts (printFormat 2) a text to a width counted in
    // UTF-16 code units; right = true pads after the text. Width 0 leaves it alone.
    std::string normalizeValue(std::string_view text, uint64_t size, bool right) const;
    std::string normalizeValue(std::string_view text, uint64_t size) const {
        return normalizeValue(text, size, true);
    }

    std::string threadId(const LogRecord& record) const;
    std::string threadFullName(const LogRecord& record) const;
    std::string threadShortName(const LogRecord& record) const;
    std::string threadName(const LogRecord& record) const;
    std::string scopeMethodName(const LogRecord& record) const;
    static std::string removeValueRange(std::string_view text);
    // Labels of the shared global queues, which say nothing about the work; the thread
    // column shows the thread's name or number instead.
    static bool isGlobalQueueLabel(std::string_view label);

  private:
    void appendNormalized(std::string& out, std::string_view text, uint64_t size, bool right) const;
    Moment currentMoment() const;
    void appendThreadName(std::string& out, const LogRecord& record, bool shortName) const;
    static std::string methodNameWith(const LogRecord& record, std::string_view message);

    std::atomic<uint64_t> dateFormat_{3};
    std::atomic<uint64_t> threadFormat_{5};
    std::atomic<uint64_t> contextFormat_{0};
    std::atomic<uint64_t> tagsFormat_{0};
    std::atomic<uint64_t> levelFormat_{2};
    std::atomic<uint64_t> componentFormat_{0};
    std::atomic<uint64_t> scopeFormat_{0};
    std::atomic<uint64_t> timeFormat_{0};
    std::atomic<uint64_t> valueFormat_{0};
    std::atomic<uint64_t> messageFormat_{0};
    std::atomic<uint64_t> threadNameLenght_{24};
    std::atomic<uint64_t> printFormat_{0};

    mutable std::mutex mutex_;
    std::shared_ptr<const LogDateFormatter> customDateFormatter_;
    std::string seperator_{" | "};
    std::map<std::string, Moment, std::less<>> timeBegins_;
    std::shared_ptr<const LogDateFormatter> dateFormatter_;
    bool changedThreadNameLenght_ = false;
    LogTimePoint lastTimestamp_;
    std::function<Moment()> momentClock_;
};

}  // namespace lumvane
