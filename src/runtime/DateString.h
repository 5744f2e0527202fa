#pragma once
// Dates as short texts "yyyy-MM-dd HH:mm" in the local time zone (seconds are neither
// written nor read).
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace lumvane {

using SystemTime = std::chrono::system_clock::time_point;

class DateFormatter {
  public:
    static constexpr const char* kPattern = "yyyy-MM-dd HH:mm";
    // Null when the text is not a valid date of the pattern.
    std::optional<SystemTime> dateFromString(std::string_view text) const;
    std::string stringFromDate(SystemTime date) const;
};

// A new formatter on each call; formatters are not shared between threads.
DateFormatter formatter();
std::optional<SystemTime> dateFromString(std::string_view text);
std::string toString(SystemTime date);

}  // namespace lumvane
