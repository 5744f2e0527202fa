#include "runtime/log/LogDateFormatter.h"

#include <fmt/format.h>

#include <ctime>

namespace lumvane {

LogDateFormatter::LogDateFormatter(std::string_view pattern) : pattern_(pattern) {
    size_t i = 0;
    auto addLiteral = [this](std::string_view text) {
        if (!tokens_.empty() && tokens_.back().field == Field::Literal) {
            tokens_.back().literal += text;
        } else {
            tokens_.push_back(Token{Field::Literal, 0, std::string(text)});
        }
    };
    while (i < pattern.size()) {
        char c = pattern[i];
        if (c == '\'') {
            if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                addLiteral("'");
                i += 2;
                continue;
            }
            size_t end = i + 1;
            std::string literal;
            while (end < pattern.size()) {
                if (pattern[end] == '\'') {
                    if (end + 1 < pattern.size() && pattern[end + 1] == '\'') {
                        literal += '\'';
                        end += 2;
                        continue;
                    }
                    break;
                }
                literal += pattern[end++];
            }
            addLiteral(literal);
            i = end + 1;
            continue;
        }
        size_t run = i;
        while (run < pattern.size() && pattern[run] == c) ++run;
        int width = static_cast<int>(run - i);
        Field field = Field::Literal;
        switch (c) {
            case 'y':
                field = Field::Year;
                break;
            case 'M':
                field = Field::Month;
                break;
            case 'd':
                field = Field::Day;
                break;
            case 'H':
                field = Field::Hour;
                break;
            case 'm':
                field = Field::Minute;
                break;
            case 's':
                field = Field::Second;
                break;
            case 'S':
                field = Field::Fraction;
                break;
            default:
                break;
        }
        if (field == Field::Literal) {
            addLiteral(pattern.substr(i, run - i));
        } else {
            tokens_.push_back(Token{field, width, {}});
        }
        i = run;
    }
}

std::string LogDateFormatter::stringFromDate(std::chrono::system_clock::time_point time) const {
    std::string out;
    appendDate(out, time);
    return out;
}

void LogDateFormatter::appendDate(std::string& out,
                                  std::chrono::system_clock::time_point time) const {
    using namespace std::chrono;
    auto since = time.time_since_epoch();
    long long totalMs = duration_cast<milliseconds>(since).count();
    long long second = totalMs / 1000;
    long long ms = totalMs % 1000;
    if (ms < 0) {
        ms += 1000;
        --second;
    }
    int parts[6];
    {
        std::lock_guard lock(cacheMutex_);
        if (second != cachedSecond_) {
            std::time_t t = static_cast<std::time_t>(second);
            std::tm tm{};
            localtime_r(&t, &tm);
            cached_[0] = tm.tm_year + 1900;
            cached_[1] = tm.tm_mon + 1;
            cached_[2] = tm.tm_mday;
            cached_[3] = tm.tm_hour;
            cached_[4] = tm.tm_min;
            cached_[5] = tm.tm_sec;
            cachedSecond_ = second;
        }
        for (int k = 0; k < 6; ++k) parts[k] = cached_[k];
    }
    auto appendNumber = [&out](long long value, int width) {
        char digits[24];
        int n = 0;
        unsigned long long v = value < 0 ? 0ULL : static_cast<unsigned long long>(value);
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0 && n < 20);
        for (int pad = n; pad < width; ++pad) out += '0';
        while (n > 0) out += digits[--n];
    };
    for (const Token& token : tokens_) {
        switch (token.field) {
            case Field::Literal:
                out += token.literal;
                break;
            case Field::Year:
                // "yy" is the year modulo 100; other widths give at least that many digits.
                appendNumber(token.width == 2 ? parts[0] % 100 : parts[0], token.width);
                break;
            case Field::Month:
                appendNumber(parts[1], token.width);
                break;
            case Field::Day:
                appendNumber(parts[2], token.width);
                break;
            case Field::Hour:
                appendNumber(parts[3], token.width);
                break;
            case Field::Minute:
                appendNumber(parts[4], token.width);
                break;
            case Field::Second:
                appendNumber(parts[5], token.width);
                break;
            case Field::Fraction: {
                // S..S: the leading digits of the fraction of the second.
                const char digits[3] = {static_cast<char>('0' + ms / 100),
                                        static_cast<char>('0' + ms / 10 % 10),
                                        static_cast<char>('0' + ms % 10)};
                if (token.width <= 3) {
                    out.append(digits, static_cast<size_t>(token.width));
                } else {
                    out.append(digits, 3);
                    out.append(static_cast<size_t>(token.width - 3), '0');
                }
                break;
            }
        }
    }
}

}  // namespace lumvane
