#include "runtime/DateString.h"

#include <cstdio>
#include <ctime>

namespace lumvane {

namespace {

// Reads 1..maxDigits decimal digits at `pos`.
bool readNumber(std::string_view text, size_t& pos, size_t maxDigits, int& out) {
    size_t n = 0;
    out = 0;
    while (pos < text.size() && n < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
        out = out * 10 + (text[pos] - '0');
        ++pos;
        ++n;
    }
    return n > 0;
}

bool expect(std::string_view text, size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

int daysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::optional<SystemTime> DateFormatter::dateFromString(std::string_view text) const {
    size_t pos = 0;
    int year, month, day, hour, minute;
    if (!readNumber(text, pos, 4, year) || !expect(text, pos, '-') ||
        !readNumber(text, pos, 2, month) || !expect(text, pos, '-') ||
        !readNumber(text, pos, 2, day) || !expect(text, pos, ' ') ||
        !readNumber(text, pos, 2, hour) || !expect(text, pos, ':') ||
        !readNumber(text, pos, 2, minute) || pos != text.size()) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59) {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    return std::chrono::system_clock::from_time_t(t);
}

std::string DateFormatter::stringFromDate(SystemTime date) const {
    const std::time_t t =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(date));
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min);
    return buf;
}

DateFormatter formatter() {
    return DateFormatter();
}

std::optional<SystemTime> dateFromString(std::string_view text) {
    return formatter().dateFromString(text);
}

std::string toString(SystemTime date) {
    return formatter().stringFromDate(date);
}

}  // namespace lumvane
