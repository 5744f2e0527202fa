// The line formatter: columns, widths, message texts by kind, elapsed times, deltas.
#include "runtime/log/TBNLogFormatter.h"

#include <gtest/gtest.h>

#include "LogTestSupport.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {
namespace {

using testing::fixedTime;
using Moment = TBNLogFormatter::Moment;

class TBNLogFormatterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::useUtc();
        formatter_.setMomentClock([this] { return moment_; });
    }

    // The main log files' configuration.
    void mainConfiguration() {
        formatter_.setDateFormat(1);
        formatter_.setThreadFormat(5);
        formatter_.setContextFormat(1);
        formatter_.setLevelFormat(2);
        formatter_.setTagsFormat(1);
    }
    // Only the message column.
    void messageOnly() {
        formatter_.setDateFormat(0);
        formatter_.setThreadFormat(0);
        formatter_.setLevelFormat(0);
        formatter_.setPrintFormat(1);  // no padding
    }

    static LogRecord record(uint64_t kind, std::string message, uint64_t flag = 4,
                            const char* tags = "core|thrift", const char* context = "") {
        LogRecord r;
        r.flag = flag;
        r.context = kind;
        r.message = std::move(message);
        r.function = "TBNService::start";
        r.line = 42;
        r.tag = TBNLogTag::tagWithTags(tags, kind, context);
        r.timestamp = fixedTime();
        r.threadNumber = "7";
        r.threadName = "worker";
        r.queueLabel = "io.lumvane.main";
        return r;
    }
    std::optional<std::string> format(const LogRecord& r) { return formatter_.formatLogMessage(r); }
    void advance(double seconds) {
        moment_ +=
            std::chrono::duration_cast<Moment::duration>(std::chrono::duration<double>(seconds));
    }

    TBNLogFormatter formatter_;
    Moment moment_{std::chrono::seconds(1000)};
};

TEST_F(TBNLogFormatterTest, InitialOptions) {
    EXPECT_EQ(formatter_.dateFormat(), 3u);
    EXPECT_EQ(formatter_.threadFormat(), 5u);
    EXPECT_EQ(formatter_.levelFormat(), 2u);
    EXPECT_EQ(formatter_.threadNameLenght(), 24u);
    EXPECT_TRUE(formatter_.changedThreadNameLenght());
    EXPECT_NE(formatter_.dateFormatter(), nullptr);
    EXPECT_EQ(formatter_.seperator(), " | ");
    // The initial line: date pattern 3, thread 5, level, message.
    EXPECT_EQ(format(record(0, "hi")),
              "2026-03-04 05:06:07:089 |          7: main                     | INFO | >>  hi" +
                  std::string(138, ' '));
    // The width counts as set, so another thread format keeps 24.
    formatter_.setThreadFormat(2);
    EXPECT_EQ(formatter_.threadNameLenght(), 24u);
}

TEST_F(TBNLogFormatterTest, MainConfigurationGoldenLine) {
    mainConfiguration();
    std::string expected = "260304050607089 |          7: main" + std::string(20, ' ') + " | " +
                           std::string(10, ' ') + " | INFO | >>  started" + std::string(133, ' ') +
                           " | core:thrift" + std::string(21, ' ');
    EXPECT_EQ(format(record(0, "started")), expected);
    // Context column and levels.
    auto line = format(record(0, "x", 1, "ui", "Popover"));
    ASSERT_TRUE(line);
    EXPECT_NE(line->find(" | Popover    | ERRR | >>  x "), std::string::npos) << *line;
    // A flag that is not one level leaves the level column out.
    line = format(record(0, "x", 6, ""));
    ASSERT_TRUE(line);
    EXPECT_EQ(line->find("INFO"), std::string::npos);
    EXPECT_NE(line->find(std::string(10, ' ') + " | >>  x"), std::string::npos) << *line;
}

TEST_F(TBNLogFormatterTest, RecordsWithoutOurTagGiveNoLine) {
    LogRecord r = record(0, "x");
    r.tag = nullptr;
    EXPECT_FALSE(format(r));
    struct Other : LogTagObject {};
    r.tag = std::make_shared<Other>();
    EXPECT_FALSE(format(r));
}

TEST_F(TBNLogFormatterTest, MessageTextsByKindAndOptions) {
    messageOnly();
    struct Case {
        const char* name;
        uint64_t scopeFormat, timeFormat, valueFormat, messageFormat;
        uint64_t kind;
        const char* message;
        std::optional<std::string> line;
    };
    const std::optional<std::string> none;
    const Case cases[] = {
        {"message", 0, 0, 0, 0, 0, "hello", ">>  hello"},
        {"message, no prefix", 0, 0, 0, 2, 0, "hello", "hello"},
        {"message, function column", 0, 0, 0, 1, 0, "hello", ">>  hello | TBNService::start - 42"},
        {"message format 5", 0, 0, 0, 5, 0, "hello", ">>  hello"},
        {"message format 8", 0, 0, 0, 8, 0, "hello", "hello"},
        {"begin", 0, 0, 0, 0, 1, "", "--> TBNService::start"},
        {"begin with text", 0, 0, 0, 0, 1, "x", "--> TBNService::start - x"},
        {"begin, scope 1", 1, 0, 0, 0, 1, "", "TBNService::start"},
        {"begin, scope 3", 3, 0, 0, 0, 1, "", "TBNService::start"},
        {"begin, scope 2", 2, 0, 0, 0, 1, "", none},
        {"end", 0, 0, 0, 0, 2, "", "<-- TBNService::start"},
        {"alt end", 0, 0, 0, 0, 3, "", "<++ TBNService::start"},
        {"fail", 0, 0, 0, 0, 4, "no link", "<** TBNService::start - no link"},
        {"end, scope 1", 1, 0, 0, 0, 2, "", "TBNService::start"},
        {"end, scope 2", 2, 0, 0, 0, 2, "", ">>  TBNService::start"},
        {"fail, scope 2, no prefix", 2, 0, 0, 2, 4, "", "TBNService::start"},
        {"value 0", 0, 0, 0, 0, 7, "<: count = 3 :>", "    <: count = 3 :>"},
        {"value 1", 0, 0, 1, 0, 7, "<: count = 3 :>",
         "    <: count = 3 :> | TBNService::start - 42"},
        {"value 2", 0, 0, 2, 0, 7, "<: count = 3 :>", "<: count = 3 :>"},
        {"value 4", 0, 0, 4, 0, 7, "<: count = 3 :>", ">>  count = 3"},
        {"value 5", 0, 0, 5, 0, 7, "<: count = 3 :>", ">>  count = 3 | TBNService::start - 42"},
        {"value 4, no wrapping", 0, 0, 4, 0, 7, "count = 3", ">>  count = 3"},
        {"value 6", 0, 0, 6, 0, 7, "<: count = 3 :>", ""},
        {"value on one line", 0, 0, 2, 0, 7, "a\nb\r\nc", "a b  c"},
        {"value, unicode line ends", 0, 0, 2, 0, 7, "a\u2028b\u0085c", "a b c"},
        {"message keeps its line feed", 0, 0, 0, 2, 0, "a\nb", "a\nb"},
        {"kind 9", 0, 0, 0, 0, 9, "x", ""},
    };
    for (const Case& c : cases) {
        formatter_.setScopeFormat(c.scopeFormat);
        formatter_.setTimeFormat(c.timeFormat);
        formatter_.setValueFormat(c.valueFormat);
        formatter_.setMessageFormat(c.messageFormat);
        EXPECT_EQ(format(record(c.kind, c.message)), c.line) << c.name;
    }
}

TEST_F(TBNLogFormatterTest, ElapsedTimes) {
    messageOnly();
    EXPECT_EQ(format(record(5, "load")), "==> load");
    advance(1.5);
    EXPECT_EQ(format(record(6, "load")), "<== [1.500s] - load");
    advance(1.0);
    EXPECT_EQ(format(record(6, "load")), "<== [0.000s] - load");  // no begin any more

    // The key is the function text when the text is empty.
    formatter_.setTimeFormat(1);
    EXPECT_EQ(format(record(5, "")), "TBNService::start");
    advance(0.25);
    EXPECT_EQ(format(record(6, "")), "[0.250s] - TBNService::start");

    // Format 2: the begin gives no line but is remembered.
    formatter_.setTimeFormat(2);
    EXPECT_FALSE(format(record(5, "load")));
    EXPECT_EQ(formatter_.timeBegins().count("load"), 1u);
    advance(1.5);
    EXPECT_EQ(format(record(6, "load")), ">>  [1.500s] - load");
    EXPECT_TRUE(formatter_.timeBegins().empty());

    // A second begin replaces the first.
    formatter_.setTimeFormat(0);
    format(record(5, "k"));
    advance(2);
    format(record(5, "k"));
    advance(0.5);
    EXPECT_EQ(format(record(6, "k")), "<== [0.500s] - k");
}

TEST_F(TBNLogFormatterTest, DateFormatsAndDelta) {
    formatter_.setThreadFormat(0);
    formatter_.setLevelFormat(0);
    formatter_.setPrintFormat(1);
    struct Case {
        uint64_t format;
        std::string date;
    };
    const Case cases[] = {
        {0, ""},
        {7, ""},
        {1, "260304050607089 | "},
        {2, "1772600767.089000 | "},
        {3, "2026-03-04 05:06:07:089 | "},
        {4, "03-04 05:06:07:089 | "},
        {5, "05:06:07:089 | "},
        {6, "06:07:089 | "},
        {8, "2026-03-04 05:06:07:089 0000.250 | "},
        {9, "03-04 05:06:07:089 0000.250 | "},
        {10, "05:06:07:089 0000.250 | "},
        {11, "06:07:089 0000.250 | "},
    };
    for (const Case& c : cases) {
        formatter_.setDateFormat(c.format);
        formatter_.setLastTimestamp(fixedTime(-250));
        EXPECT_EQ(format(record(0, "m")), c.date + ">>  m") << c.format;
    }
    // The delta follows the last line that got a message column.
    formatter_.setDateFormat(10);
    LogRecord later = record(0, "m");
    later.timestamp = fixedTime(1500);
    EXPECT_EQ(format(later), "05:06:08:589 0001.500 | >>  m");
    // A dropped record leaves the last time stamp alone.
    formatter_.setScopeFormat(2);
    LogRecord dropped = record(1, "");
    dropped.timestamp = fixedTime(9000);
    EXPECT_FALSE(format(dropped));
    EXPECT_EQ(formatter_.lastTimestamp(), fixedTime(1500));

    // The same format again keeps the date formatter; a custom one replaces the column.
    auto before = formatter_.dateFormatter();
    formatter_.setDateFormat(10);
    EXPECT_EQ(formatter_.dateFormatter(), before);
    formatter_.setDateFormat(2);
    EXPECT_EQ(formatter_.dateFormatter(), nullptr);
    formatter_.setCustomDateFormatter(std::make_shared<LogDateFormatter>("HH'h'mm"));
    EXPECT_EQ(format(record(0, "m")), "05h06 | >>  m");
}

TEST_F(TBNLogFormatterTest, ThreadColumn) {
    formatter_.setDateFormat(0);
    formatter_.setLevelFormat(0);
    formatter_.setMessageFormat(2);
    formatter_.setThreadNameLenght(0);  // names without a width; the number keeps its 10
    struct Case {
        uint64_t format;
        const char* label;
        const char* name;
        const char* column;
    };
    const Case cases[] = {
        {1, "io.lumvane.main", "worker", "         7"},
        {2, "io.lumvane.main", "worker", "io.lumvane.main"},
        {3, "io.lumvane.main", "worker", "main"},
        {4, "io.lumvane.main", "worker", "         7: io.lumvane.main"},
        {5, "io.lumvane.main", "worker", "         7: main"},
        {5, "", "worker", "         7: worker"},
        {5, "io.lumvane.global.default", "worker", "         7: worker"},
        {5, "com.apple.root.default-priority", "", "         7: 7"},
        {3, "", "", "7"},
        {3, "nodots", "", "nodots"},
    };
    for (const Case& c : cases) {
        formatter_.setThreadFormat(c.format);
        LogRecord r = record(0, "m");
        r.queueLabel = c.label;
        r.threadName = c.name;
        EXPECT_EQ(format(r), std::string(c.column) + " | m" + std::string(143, ' '))
            << c.format << " " << c.label;
    }
    formatter_.setThreadFormat(0);
    formatter_.setPrintFormat(1);
    EXPECT_EQ(format(record(0, "m")), "m");
    // Print format 1 does not pad the number either.
    formatter_.setThreadFormat(1);
    EXPECT_EQ(format(record(0, "m")), "7 | m");
}

TEST_F(TBNLogFormatterTest, ComponentColumn) {
    messageOnly();
    formatter_.setMessageFormat(2);
    formatter_.setComponentFormat(2);
    const char* words[] = {"Mssg  ", "MthBgn", "MthEnd", "MthAlt",
                           "MthFl ", "TBegin", "TEnd  ", "Value "};
    for (uint64_t kind = 0; kind < 8; ++kind) {
        auto line = format(record(kind, "k"));
        ASSERT_TRUE(line);
        EXPECT_EQ(line->substr(0, 9), std::string(words[kind]) + " | ") << kind;
    }
    EXPECT_EQ(format(record(9, "k")), "");
    formatter_.setComponentFormat(1);
    EXPECT_EQ(format(record(9, "k")), "9 | ");
    EXPECT_EQ(format(record(0, "k")), "0 | k");
    formatter_.setLevelFormat(1);
    EXPECT_EQ(format(record(0, "k", 16)), "4 | 0 | k");
}

TEST_F(TBNLogFormatterTest, Widths) {
    struct Case {
        uint64_t printFormat;
        const char* text;
        uint64_t width;
        bool right;
        std::string result;
    };
    const Case cases[] = {
        {0, "abc", 5, true, "abc  "},
        {0, "abc", 5, false, "  abc"},
        {0, "abcdef", 5, true, "abcdef"},
        {2, "abcdef", 5, true, "abcde"},
        {2, "abc", 5, true, "abc  "},
        {1, "abc", 5, true, "abc"},
        {1, "abcdef", 5, true, "abcdef"},
        {0, "abc", 0, true, "abc"},
        {0, "abcde", 5, false, "abcde"},
        // Widths count UTF-16 code units: "é" is one, an emoji two.
        {0, "\xC3\xA9", 3, true, "\xC3\xA9  "},
        {0, "\xF0\x9F\x98\x80", 3, true, "\xF0\x9F\x98\x80 "},
        {2, "a\xF0\x9F\x98\x80", 2, true, "a"},
    };
    for (const Case& c : cases) {
        formatter_.setPrintFormat(c.printFormat);
        EXPECT_EQ(formatter_.normalizeValue(c.text, c.width, c.right), c.result)
            << c.printFormat << " " << c.text;
    }
    // A 40-character tag text is cut to 32 with print format 2.
    mainConfiguration();
    formatter_.setPrintFormat(2);
    std::string tags(40, 't');
    auto line = format(record(0, "m", 4, tags.c_str()));
    ASSERT_TRUE(line);
    EXPECT_EQ(line->substr(line->size() - 35), " | " + std::string(32, 't'));
    // Print format 1: nothing is padded.
    formatter_.setPrintFormat(1);
    formatter_.setSeperator("|");
    EXPECT_EQ(format(record(0, "m", 4, "a|b")), "260304050607089|7: main||INFO|>>  m|a:b");
}

TEST_F(TBNLogFormatterTest, RemoveValueRange) {
    EXPECT_EQ(TBNLogFormatter::removeValueRange("<: a = 1 :>"), "a = 1");
    EXPECT_EQ(TBNLogFormatter::removeValueRange("<: a = 1"), "a = 1");
    EXPECT_EQ(TBNLogFormatter::removeValueRange("a = 1 :>"), "a = 1");
    EXPECT_EQ(TBNLogFormatter::removeValueRange("<: :>"), ":>");
    EXPECT_EQ(TBNLogFormatter::removeValueRange(""), "");
}

}  // namespace
}  // namespace lumvane
