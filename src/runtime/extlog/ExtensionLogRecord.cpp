#include "runtime/extlog/ExtensionLogRecord.h"

#include <algorithm>
#include <array>

#include "idl/protocols.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {
constexpr size_t kPrefixLength = 11;  // "com.tobrin."

// Length of the UTF-8 sequence that starts with `lead`, 0 for a byte that cannot start one.
size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}
}  // namespace

std::string shortAppId(std::string_view appId) {
    std::string out(appId.size() >= kPrefixLength ? appId.substr(kPrefixLength) : appId);
    for (char& c : out) {
        if (c == '.') c = '-';
    }
    return out;
}

std::string oneLine(std::string_view text, size_t maxBytes) {
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::string_view piece;
        size_t step = 1;
        bool blank = false;
        if (c < 0x20 || c == 0x7F) {
            blank = c != '\t';
            piece = text.substr(i, 1);
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0x85) {
            blank = true;  // U+0085
            step = 2;
        } else if (c == 0xE2 && i + 2 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                    static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            blank = true;  // U+2028, U+2029
            step = 3;
        } else {
            step = sequenceLength(c);
            if (step == 0 || i + step > text.size()) step = 1;
            piece = text.substr(i, step);
        }
        const size_t add = blank ? 1 : piece.size();
        if (out.size() + add > maxBytes) break;
        if (blank) {
            out += ' ';
        } else {
            out += piece;
        }
        i += step;
    }
    return out;
}

std::optional<std::string> decodeBase64Strict(std::string_view text) {
    static const std::array<int8_t, 256> table = [] {
        std::array<int8_t, 256> t{};
        t.fill(-1);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            t[static_cast<unsigned char>(alphabet[i])] = static_cast<int8_t>(i);
        return t;
    }();
    if (text.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    if (!text.empty() && text.back() == '=') ++padding;
    if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t group = 0;
        const bool last = i + 4 == text.size();
        for (size_t j = 0; j < 4; ++j) {
            const char ch = text[i + j];
            int8_t v;
            if (ch == '=') {
                if (!last || j < 4 - padding) return std::nullopt;
                v = 0;
            } else {
                v = table[static_cast<unsigned char>(ch)];
                if (v < 0) return std::nullopt;
            }
            group = (group << 6) | static_cast<uint32_t>(v);
        }
        out += static_cast<char>((group >> 16) & 0xFF);
        if (!last || padding < 2) out += static_cast<char>((group >> 8) & 0xFF);
        if (!last || padding < 1) out += static_cast<char>(group & 0xFF);
    }
    return out;
}

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t n = sequenceLength(c);
        if (n == 0 || i + n > text.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
        }
        if (n >= 3) {
            const auto c1 = static_cast<unsigned char>(text[i + 1]);
            if (c == 0xE0 && c1 < 0xA0) return false;   // overlong
            if (c == 0xED && c1 >= 0xA0) return false;  // surrogates
            if (c == 0xF0 && c1 < 0x90) return false;   // overlong
            if (c == 0xF4 && c1 >= 0x90) return false;  // above U+10FFFF
        }
        i += n;
    }
    return true;
}

std::optional<LogTimePoint> parseExtensionTimestamp(std::string_view t) {
    if (t.size() != 23) return std::nullopt;
    auto digits = [&](size_t at, size_t count, int& out) {
        out = 0;
        for (size_t k = 0; k < count; ++k) {
            const char ch = t[at + k];
            if (ch < '0' || ch > '9') return false;
            out = out * 10 + (ch - '0');
        }
        return true;
    };
    int year, month, day, hour, minute, second, millis;
    if (!digits(0, 4, year) || t[4] != '-' || !digits(5, 2, month) || t[7] != '-' ||
        !digits(8, 2, day) || t[10] != 'T' || !digits(11, 2, hour) || t[13] != ':' ||
        !digits(14, 2, minute) || t[16] != ':' || !digits(17, 2, second) || t[19] != '.' ||
        !digits(20, 3, millis)) {
        return std::nullopt;
    }
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year},
                              std::chrono::month{static_cast<unsigned>(month)},
                              std::chrono::day{static_cast<unsigned>(day)}};
    // The clock's nanosecond ticks reach only about 1678..2262; other years are no
    // time an extension can mean, so they count as unparsable.
    if (year < 1900 || year > 2199) return std::nullopt;
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    const sys_days days{date};
    return LogTimePoint(duration_cast<system_clock::duration>(
        days.time_since_epoch() + hours{hour} + minutes{minute} + seconds{second} +
        milliseconds{millis}));
}

uint64_t levelFlagForMessageLevel(int32_t level) {
    return level >= 0 && level <= 4 ? uint64_t{1} << level : uint64_t{16};
}

uint64_t kindForMessageType(int32_t type) {
    return type >= 1 && type <= 7 ? static_cast<uint64_t>(type) : 0;
}

LogRecord logRecordWithTBNLogMessage(const TBNLogMessage& m, const ExtensionFieldLimits& limits) {
    auto field = [](const std::optional<std::string>& v) -> std::string_view {
        return v ? std::string_view(*v) : std::string_view();
    };

    // Text: an invalid base64 text gives an empty one, bytes that are not UTF-8 none.
    std::optional<std::string> text;
    std::optional<std::string> decoded = decodeBase64Strict(field(m.message()));
    if (!decoded) decoded.emplace();
    if (isValidUtf8(*decoded)) text = oneLine(*decoded, limits.message);

    const uint64_t kind = kindForMessageType(m.type());
    if (kind == TBNLogTagTypeValue && text) text = "<: " + *text + " :>";

    TBNLogTagPtr tag = TBNLogTag::tagWithTags(oneLine(field(m.tags()), limits.tags), kind,
                                              oneLine(field(m.contextName()), limits.context));
    const uint64_t flag = levelFlagForMessageLevel(m.level());
    std::optional<LogTimePoint> time;
    if (m.timestamp()) time = parseExtensionTimestamp(*m.timestamp());

    LogRecord record = LogRecord::make(
        std::move(text), 31, flag, kind, oneLine(field(m.fileName()), limits.fileName),
        oneLine(field(m.funcName()), limits.funcName),
        static_cast<uint64_t>(std::max(m.fileLine(), 0)), std::move(tag), 0, time);
    const std::string_view threadName = field(m.threadName());
    record.queueLabel =
        oneLine(threadName.empty() ? shortAppId(field(m.appId())) : threadName, limits.threadName);
    return record;
}

}  // namespace lumvane
