#include "runtime/log/Logger.h"

namespace lumvane {

LogMultiFormatter::LogMultiFormatter(std::vector<std::shared_ptr<LogFormatter>> formatters)
    : formatters_(std::move(formatters)) {}

std::optional<std::string> LogMultiFormatter::formatRecord(
    const LogRecord& record, const std::optional<std::string>& message) {
    if (formatters_.empty()) return message;
    std::optional<std::string> text = formatters_.front()->formatRecord(record, message);
    for (size_t i = 1; i < formatters_.size() && text; ++i) {
        text = formatters_[i]->formatRecord(record, text);
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
