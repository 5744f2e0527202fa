#include "runtime/log/TBNLogFormatter.h"

#include <fmt/format.h>

#include <array>

#include "runtime/log/TBNLogger.h"

namespace lumvane {
namespace {

// Date patterns by dateFormat; formats 8 to 11 repeat 3 to 6 and add the delta.
const char* datePattern(uint64_t format) {
    switch (format) {
        case 1:
            return "yyMMddHHmmssSSS";
        case 3:
        case 8:
            return "yyyy-MM-dd HH:mm:ss:SSS";
        case 4:
        case 9:
            return "MM-dd HH:mm:ss:SSS";
        case 5:
        case 10:
            return "HH:mm:ss:SSS";
        case 6:
        case 11:
            return "mm:ss:SSS";
        default:
            return "";  // a formatter without a pattern writes an empty date
    }
}

bool hasNoDateFormatter(uint64_t format) {
    return format == 0 || format == 2 || format == 7;
}

// Length of UTF-8 text in UTF-16 code units (what column widths count).
size_t utf16Length(std::string_view text) {
    size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) == 0x80) continue;  // continuation byte
        units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

// Byte length of the longest prefix that fits in `units` UTF-16 code units, never
// splitting a character.
size_t prefixBytesForUnits(std::string_view text, size_t units) {
    size_t used = 0;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t charBytes = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        size_t charUnits = c >= 0xF0 ? 2 : 1;
        if (used + charUnits > units) break;
        used += charUnits;
        i = std::min(text.size(), i + charBytes);
    }
    return i;
}

// The newline set: U+000A to U+000D, U+0085, U+2028, U+2029. Each becomes one blank.
std::string onOneLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x0A && c <= 0x0D) {
            out += ' ';
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0x85) {
            out += ' ';
            i += 1;
        } else if (c == 0xE2 && i + 2 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                    static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            out += ' ';
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

const char* levelWord(uint64_t flag) {
    switch (flag) {
        case 1:
            return "ERRR";
        case 2:
            return "WARN";
        case 4:
            return "INFO";
        case 8:
            return "DEBG";
        case 16:
            return "VERB";
        default:
            return nullptr;
    }
}

const char* levelDigit(uint64_t flag) {
    switch (flag) {
        case 1:
            return "0";
        case 2:
            return "1";
        case 4:
            return "2";
        case 8:
            return "3";
        case 16:
            return "4";
        default:
            return nullptr;
    }
}

// Kind 3 has a word of its own here, so every kind up to 7 gives the column.
const char* componentWord(uint64_t kind) {
    static constexpr std::array<const char*, 8> words{"Mssg  ", "MthBgn", "MthEnd", "MthAlt",
                                                      "MthFl ", "TBegin", "TEnd  ", "Value "};
    return kind < words.size() ? words[kind] : nullptr;
}

}  // namespace

TBNLogFormatter::TBNLogFormatter() : lastTimestamp_(logenv::now()) {
    dateFormatter_ = std::make_shared<const LogDateFormatter>(datePattern(3));
    setThreadFormat(5);
}

void TBNLogFormatter::setDateFormat(uint64_t format) {
    std::lock_guard lock(mutex_);
    if (format == dateFormat_.load()) return;
    dateFormat_.store(format);
    if (hasNoDateFormatter(format)) {
        dateFormatter_.reset();
    } else {
        dateFormatter_ = std::make_shared<const LogDateFormatter>(datePattern(format));
    }
}

void TBNLogFormatter::setThreadFormat(uint64_t format) {
    threadFormat_.store(format);
    std::lock_guard lock(mutex_);
    if (changedThreadNameLenght_) return;
    if (format == 2 || format == 4) {
        threadNameLenght_.store(32);
        changedThreadNameLenght_ = true;
    } else if (format == 3 || format == 5) {
        threadNameLenght_.store(24);
        changedThreadNameLenght_ = true;
    }
}

void TBNLogFormatter::setThreadNameLenght(uint64_t width) {
    std::lock_guard lock(mutex_);
    threadNameLenght_.store(width);
    changedThreadNameLenght_ = true;
}

std::shared_ptr<const LogDateFormatter> TBNLogFormatter::customDateFormatter() const {
    std::lock_guard lock(mutex_);
    return customDateFormatter_;
}

void TBNLogFormatter::setCustomDateFormatter(std::shared_ptr<const LogDateFormatter> formatter) {
    std::lock_guard lock(mutex_);
    customDateFormatter_ = std::move(formatter);
}

std::string TBNLogFormatter::seperator() const {
    std::lock_guard lock(mutex_);
    return seperator_;
}

void TBNLogFormatter::setSeperator(std::string separator) {
    std::lock_guard lock(mutex_);
    seperator_ = std::move(separator);
}

std::map<std::string, TBNLogFormatter::Moment> TBNLogFormatter::timeBegins() const {
    std::lock_guard lock(mutex_);
    return {timeBegins_.begin(), timeBegins_.end()};
}

std::shared_ptr<const LogDateFormatter> TBNLogFormatter::dateFormatter() const {
    std::lock_guard lock(mutex_);
    return dateFormatter_;
}

bool TBNLogFormatter::changedThreadNameLenght() const {
    std::lock_guard lock(mutex_);
    return changedThreadNameLenght_;
}

LogTimePoint TBNLogFormatter::lastTimestamp() const {
    std::lock_guard lock(mutex_);
    return lastTimestamp_;
}

void TBNLogFormatter::setLastTimestamp(LogTimePoint time) {
    std::lock_guard lock(mutex_);
    lastTimestamp_ = time;
}

void TBNLogFormatter::setMomentClock(std::function<Moment()> clock) {
    std::lock_guard lock(mutex_);
    momentClock_ = std::move(clock);
}

TBNLogFormatter::Moment TBNLogFormatter::currentMoment() const {
    return momentClock_ ? momentClock_() : std::chrono::steady_clock::now();
}

void TBNLogFormatter::appendNormalized(std::string& out, std::string_view text, uint64_t size,
                                       bool right) const {
    if (size == 0) {
        out += text;
        return;
    }
    const size_t length = utf16Length(text);
    const uint64_t print = printFormat_.load();
    if (length > size) {
        if (print == 2) {
            out += text.substr(0, prefixBytesForUnits(text, size));
        } else {
            out += text;
        }
        return;
    }
    if (length == size || (print != 0 && print != 2)) {
        out += text;
        return;
    }
    if (right) {
        out += text;
        out.append(size - length, ' ');
    } else {
        out.append(size - length, ' ');
        out += text;
    }
}

std::string TBNLogFormatter::normalizeValue(std::string_view text, uint64_t size,
                                            bool right) const {
    std::string out;
    appendNormalized(out, text, size, right);
    return out;
}

bool TBNLogFormatter::isGlobalQueueLabel(std::string_view label) {
    static constexpr std::string_view kApple[] = {"com.apple.root.low-priority",
                                                  "com.apple.root.default-priority",
                                                  "com.apple.root.high-priority",
                                                  "com.apple.root.low-overcommit-priority",
                                                  "com.apple.root.default-overcommit-priority",
                                                  "com.apple.root.high-overcommit-priority"};
    for (std::string_view known : kApple) {
        if (label == known) return true;
    }
    // Our DispatchQueue's global queues: "io.lumvane.global.<priority>".
    return label.rfind("io.lumvane.global.", 0) == 0;
}

std::string TBNLogFormatter::threadId(const LogRecord& record) const {
    return normalizeValue(record.threadNumber, 10, false);
}

namespace {
std::string_view threadNameOf(const LogRecord& record) {
    if (!record.queueLabel.empty() && !TBNLogFormatter::isGlobalQueueLabel(record.queueLabel)) {
        return record.queueLabel;
    }
    return record.threadName.empty() ? std::string_view(record.threadNumber)
                                     : std::string_view(record.threadName);
}
}  // namespace

std::string TBNLogFormatter::threadName(const LogRecord& record) const {
    return std::string(threadNameOf(record));
}

void TBNLogFormatter::appendThreadName(std::string& out, const LogRecord& record,
                                       bool shortName) const {
    std::string_view name = threadNameOf(record);
    if (shortName) {
        if (size_t dot = name.rfind('.'); dot != std::string_view::npos) {
            name = name.substr(dot + 1);
        }
    }
    appendNormalized(out, name, threadNameLenght_.load(), true);
}

std::string TBNLogFormatter::threadFullName(const LogRecord& record) const {
    std::string out;
    appendThreadName(out, record, false);
    return out;
}

std::string TBNLogFormatter::threadShortName(const LogRecord& record) const {
    std::string out;
    appendThreadName(out, record, true);
    return out;
}

std::string TBNLogFormatter::methodNameWith(const LogRecord& record, std::string_view message) {
    if (message.empty()) return record.function;
    std::string out;
    out.reserve(record.function.size() + 3 + message.size());
    out += record.function;
    out += " - ";
    out += message;
    return out;
}

std::string TBNLogFormatter::scopeMethodName(const LogRecord& record) const {
    return methodNameWith(record, record.message ? std::string_view(*record.message) : "");
}

std::string TBNLogFormatter::removeValueRange(std::string_view text) {
    if (text.substr(0, 3) == "<: ") text.remove_prefix(3);
    if (text.size() >= 3 && text.substr(text.size() - 3) == " :>") text.remove_suffix(3);
    return std::string(text);
}

std::optional<std::string> TBNLogFormatter::formatRecord(
    const LogRecord& record, const std::optional<std::string>& messageText) {
    const auto* tag = dynamic_cast<const TBNLogTag*>(record.tag.get());
    if (!tag) return std::nullopt;

    std::lock_guard lock(mutex_);
    const std::string_view message = messageText ? std::string_view(*messageText) : "";
    const uint64_t kind = tag->logType();
    const uint64_t dateFormat = dateFormat_.load();
    const uint64_t messageFormat = messageFormat_.load();
    const uint64_t valueFormat = valueFormat_.load();

    std::string line;
    line.reserve(256);
    bool first = true;
    auto column = [&]() -> std::string& {
        if (!first) line += seperator_;
        first = false;
        return line;
    };

    // Date, with the delta since the last line for formats 8 to 11.
    std::string delta;
    if (dateFormat >= 8 && dateFormat <= 11) {
        double seconds = std::chrono::duration<double>(record.timestamp - lastTimestamp_).count();
        delta = fmt::format(" {:08.3f}", seconds);
    }
    if (customDateFormatter_) {
        customDateFormatter_->appendDate(column(), record.timestamp);
    } else if (dateFormat == 2) {
        double seconds = std::chrono::duration<double>(record.timestamp.time_since_epoch()).count();
        fmt::format_to(std::back_inserter(column()), "{:f}{}", seconds, delta);
    } else if (dateFormatter_) {
        std::string& out = column();
        dateFormatter_->appendDate(out, record.timestamp);
        out += delta;
    }

    // Thread.
    const uint64_t threadFormat = threadFormat_.load();
    switch (threadFormat) {
        case 1:
            appendNormalized(column(), record.threadNumber, 10, false);
            break;
        case 2:
            appendThreadName(column(), record, false);
            break;
        case 3:
            appendThreadName(column(), record, true);
            break;
        case 4:
        case 5: {
            std::string& out = column();
            appendNormalized(out, record.threadNumber, 10, false);
            out += ": ";
            appendThreadName(out, record, threadFormat == 5);
            break;
        }
        default:
            break;
    }

    if (contextFormat_.load() == 1) appendNormalized(column(), tag->context(), 10, true);

    const uint64_t levelFormat = levelFormat_.load();
    if (levelFormat == 2 || levelFormat == 1) {
        const char* level = levelFormat == 2 ? levelWord(record.flag) : levelDigit(record.flag);
        if (level) column() += level;
    }

    const uint64_t componentFormat = componentFormat_.load();
    if (componentFormat == 1) {
        column() += std::to_string(kind);
    } else if (componentFormat == 2) {
        if (const char* word = componentWord(kind)) column() += word;
    }

    // Message text by kind.
    const bool prefixed = messageFormat <= 1 || messageFormat == 4 || messageFormat == 5;
    const std::string_view prefix = prefixed ? ">>  " : "";
    const uint64_t width = messageFormat >= 4 && messageFormat <= 7 ? 128 : 144;
    const uint64_t scopeFormat = scopeFormat_.load();
    const uint64_t timeFormat = timeFormat_.load();
    std::string text;
    switch (kind) {
        case TBNLogTagTypeMessage:
            if (printFormat_.load() == 2) {
                text.reserve(prefix.size() + message.size());
                text += prefix;
                text += message;
            }
            break;
        case TBNLogTagTypeMethodBegin:
            if (scopeFormat == 2) return std::nullopt;
            text = (scopeFormat == 0 ? "--> " : "") + methodNameWith(record, message);
            break;
        case TBNLogTagTypeMethodEnd:
        case TBNLogTagTypeMethodAltEnd:
        case TBNLogTagTypeMethodFail:
            if (scopeFormat == 0) {
                text = kind == TBNLogTagTypeMethodEnd      ? "<-- "
                       : kind == TBNLogTagTypeMethodAltEnd ? "<++ "
                                                           : "<** ";
            } else if (scopeFormat >= 2) {
                text = prefix;
            }
            text += methodNameWith(record, message);
            break;
        case TBNLogTagTypeTimeBegin: {
            std::string key = message.empty() ? record.function : std::string(message);
            timeBegins_[key] = currentMoment();
            if (timeFormat == 2) return std::nullopt;
            text = (timeFormat == 0 ? "==> " : "") + key;
            break;
        }
        case TBNLogTagTypeTimeEnd: {
            const Moment now = currentMoment();
            std::string key = message.empty() ? record.function : std::string(message);
            double elapsed = 0;
            if (auto it = timeBegins_.find(key); it != timeBegins_.end()) {
                elapsed = std::chrono::duration<double>(now - it->second).count();
                timeBegins_.erase(it);
            }
            if (timeFormat == 0) {
                text = fmt::format("<== [{:.3f}s] - {}", elapsed, key);
            } else if (timeFormat == 1) {
                text = fmt::format("[{:.3f}s] - {}", elapsed, key);
            } else {
                text = fmt::format("{}[{:.3f}s] - {}", prefix, elapsed, key);
            }
            break;
        }
        case TBNLogTagTypeValue: {
            if (valueFormat <= 1) {
                text = "    " + onOneLine(message);
            } else if (valueFormat <= 3) {
                text = onOneLine(message);
            } else if (valueFormat <= 5) {
                text = std::string(prefix) + removeValueRange(onOneLine(message));
            }
            break;
        }
        default:
            break;  // kinds above 7 have no text
    }
    if (kind == TBNLogTagTypeMessage && printFormat_.load() != 2) {
        // The common line: prefix and message go straight into the line.
        std::string& out = column();
        out += prefix;
        out += message;
        const size_t length = prefix.size() + utf16Length(message);
        if (printFormat_.load() == 0 && length < width) out.append(width - length, ' ');
    } else {
        appendNormalized(column(), text, width, true);
    }
    lastTimestamp_ = record.timestamp;

    if (tagsFormat_.load() == 1) {
        std::string tags;
        const std::vector<std::string>& list = tag->logTags();
        for (size_t i = 0; i < list.size(); ++i) {
            if (i != 0) tags += ':';
            tags += list[i];
        }
        appendNormalized(column(), tags, 32, true);
    }

    const bool functionColumn =
        (kind == TBNLogTagTypeMessage && messageFormat == 1) ||
        (kind == TBNLogTagTypeValue && (valueFormat == 1 || valueFormat == 5));
    if (functionColumn)
        fmt::format_to(std::back_inserter(column()), "{} - {}", record.function, record.line);
    return line;
}

}  // namespace lumvane
