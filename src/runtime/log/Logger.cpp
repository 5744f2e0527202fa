#include "runtime/log/Logger.h"

namespace lumvane {

LogMultiFormatter::LogMultiFormatter(std::vector<std::shared_ptr<LogFormatter>> formatters)
    : formatters_(std::move(formatters)) {}

std::optional<std::string> LogMultiFormatter::formatLogMessage(const LogRecord& record) {
    if (formatters_.empty()) return record.message;
    // The first link reads the record as it is; later links read a copy whose message
    // is the previous link's text.
    std::optional<std::string> text = formatters_.front()->formatLogMessage(record);
    if (!text || formatters_.size() == 1) return text;
    LogRecord copy = record;
    for (size_t i = 1; i < formatters_.size(); ++i) {
        copy.message = std::move(text);
        text = formatters_[i]->formatLogMessage(copy);
        if (!text) return std::nullopt;
    }
    return text;
}

std::shared_ptr<LogFormatter> Logger::logFormatter() const {
    std::lock_guard lock(formatterMutex_);
    return formatter_;
}

void Logger::setLogFormatter(std::shared_ptr<LogFormatter> formatter) {
    std::lock_guard lock(formatterMutex_);
    formatter_ = std::move(formatter);
}

std::optional<std::string> Logger::lineFor(const LogRecord& record) const {
    std::shared_ptr<LogFormatter> formatter = logFormatter();
    if (formatter) return formatter->formatLogMessage(record);
    return record.message;
}

}  // namespace lumvane
