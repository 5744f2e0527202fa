#pragma once
// Formats time stamps by a date pattern of the Unicode date-format standard, in the
// local time zone, Gregorian calendar, "en_US_POSIX" digits. The letters the logs use
// are understood: y (yy, yyyy), M (MM), d (dd), H (HH), m (mm), s (ss), S (SSS), and
// quoted literals ('--', '' for a quote); every other character is copied.
#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace lumvane {

class LogDateFormatter {
  public:
    explicit LogDateFormatter(std::string_view pattern);
    const std::string& pattern() const { return pattern_; }
    std::string stringFromDate(std::chrono::system_clock::time_point time) const;
    void appendDate(std::string& out, std::chrono::system_clock::time_point time) const;

  private:
    enum class Field { Literal, Year, Month, Day, Hour, Minute, Second, Fraction };
    struct Token {
        Field field;
        int width;
        std::string literal;
    };
    std::string pattern_;
    std::vector<Token> tokens_;
    // The broken-down local time of the last second formatted; lines come in bursts
    // within one second, and the local-time conversion is the costly part.
    mutable std::mutex cacheMutex_;
    mutable long long cachedSecond_ = -1;
    mutable int cached_[6] = {0, 0, 0, 0, 0, 0};
};

}  // namespace lumvane
