// From a log message an extension sent to the record our logging framework writes.
#include <gtest/gtest.h>

#include <chrono>

#include "idl/protocols.h"
#include "runtime/extlog/ExtensionLogRecord.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {
namespace {

std::string b64(const std::string& text) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        uint32_t n = (uint8_t(text[i]) << 16) | (uint8_t(text[i + 1]) << 8) | uint8_t(text[i + 2]);
        for (int k = 3; k >= 0; --k) out += a[(n >> (6 * k)) & 63];
    }
    if (text.size() - i == 1) {
        uint32_t n = uint8_t(text[i]) << 16;
        out += a[(n >> 18) & 63];
        out += a[(n >> 12) & 63];
        out += "==";
    } else if (text.size() - i == 2) {
        uint32_t n = (uint8_t(text[i]) << 16) | (uint8_t(text[i + 1]) << 8);
        out += a[(n >> 18) & 63];
        out += a[(n >> 12) & 63];
        out += a[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

TEST(ExtensionLogRecord, ShortAppIdAndOneLine) {
    EXPECT_EQ(shortAppId("com.tobrin.chrome.lumvane"), "chrome-lumvane");
    EXPECT_EQ(shortAppId("com.tobrin."), "");
    EXPECT_EQ(shortAppId("org.x.y"), "org-x-y") << "shorter than the prefix: taken whole";
    EXPECT_EQ(shortAppId(""), "");

    struct Case {
        std::string in;
        size_t max;
        std::string out;
    };
    const Case cases[] = {
        {"a\nb", 100, "a b"},
        {"a\r\nb", 100, "a  b"},
        {"a\vb\fc", 100, "a b c"},
        {"x\xC2\x85y\xE2\x80\xA8z\xE2\x80\xA9!", 100, "x y z !"},
        {"tab\tstays", 100, "tab\tstays"},
        {"esc\x1b[31m", 100, "esc [31m"},
        {"h\xC3\xA9llo", 2, "h"},  // never half a character
        {"h\xC3\xA9llo", 3, "h\xC3\xA9"},
        {std::string(100, 'x'), 10, std::string(10, 'x')},
    };
    for (const Case& c : cases) EXPECT_EQ(oneLine(c.in, c.max), c.out) << c.in;
}

TEST(ExtensionLogRecord, StrictBase64AndUtf8) {
    EXPECT_EQ(decodeBase64Strict(b64("hello world")), "hello world");
    EXPECT_EQ(decodeBase64Strict(""), "");
    EXPECT_EQ(decodeBase64Strict("YQ=="), "a");
    EXPECT_EQ(decodeBase64Strict("YWI="), "ab");
    for (const char* bad : {"YQ", "Y===", "YQ=a", "YQ==YQ==", "a b=", "YW*=", "YQ=\n"}) {
        EXPECT_EQ(decodeBase64Strict(bad), std::nullopt) << bad;
    }
    EXPECT_TRUE(isValidUtf8("plain \xC3\xA9 \xF0\x9F\x98\x80"));
    EXPECT_FALSE(isValidUtf8("\xC3"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
}

TEST(ExtensionLogRecord, TimestampsLevelsAndKinds) {
    using namespace std::chrono;
    auto t = parseExtensionTimestamp("2020-01-31T12:34:56.789");
    ASSERT_TRUE(t);
    EXPECT_EQ(duration_cast<milliseconds>(t->time_since_epoch()).count(), 1580474096789LL);
    for (const char* bad :
         {"2020-01-31T12:34:56Z", "2020-01-31T12:34:56.789Z", "2020-13-31T12:34:56.789",
          "2021-02-29T12:34:56.789", "2020-01-31 12:34:56.789", "2020-01-31T24:00:00.000",
          "1010-01-31T12:34:55.789", "9999-12-31T23:59:59.999", ""}) {
        EXPECT_EQ(parseExtensionTimestamp(bad), std::nullopt) << bad;
    }
    const std::pair<int32_t, uint64_t> levels[] = {{0, 1},  {1, 2},  {2, 4},   {3, 8},
                                                   {4, 16}, {5, 16}, {99, 16}, {-1, 16}};
    for (auto [level, flag] : levels) EXPECT_EQ(levelFlagForMessageLevel(level), flag) << level;
    const std::pair<int32_t, uint64_t> kinds[] = {{0, 0}, {1, 1}, {5, 5}, {7, 7}, {8, 0}, {-3, 0}};
    for (auto [type, kind] : kinds) EXPECT_EQ(kindForMessageType(type), kind) << type;
}

TEST(ExtensionLogRecord, RecordFromMessage) {
    TBNLogMessage m;
    m.setAppId("com.tobrin.chrome.lumvane");
    m.setType(7);
    m.setLevel(3);
    m.setMessage(b64("a\nb"));
    m.setTags("one|two");
    m.setContextName("ctx\nforged | ERRR");
    m.setFileName("bg.js");
    m.setFuncName("run\r\nfake");
    m.setFileLine(12);
    m.setTimestamp("2020-05-28T10:11:12.345");
    LogRecord r = logRecordWithTBNLogMessage(m);
    EXPECT_EQ(r.message, "<: a b :>");
    EXPECT_EQ(r.flag, 8u);
    EXPECT_EQ(r.level, 31u);
    EXPECT_EQ(r.context, 7u);
    EXPECT_EQ(r.function, "run  fake");
    EXPECT_EQ(r.line, 12u);
    EXPECT_EQ(r.queueLabel, "chrome-lumvane");
    auto* tag = dynamic_cast<const TBNLogTag*>(r.tag.get());
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->logTags(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(tag->logType(), TBNLogTagTypeValue);
    EXPECT_EQ(tag->context(), "ctx forged | ERRR");
    EXPECT_EQ(r.timestamp, *parseExtensionTimestamp("2020-05-28T10:11:12.345"));

    // Unset fields: an error record of kind message with an empty text, the time of receipt.
    TBNLogMessage bare;
    bare.setThreadName("worker\n2");
    const auto before = std::chrono::system_clock::now();
    LogRecord b = logRecordWithTBNLogMessage(bare);
    EXPECT_EQ(b.flag, 1u);
    EXPECT_EQ(b.context, 0u);
    EXPECT_EQ(b.message, "");
    EXPECT_EQ(b.queueLabel, "worker 2");
    EXPECT_GE(b.timestamp, before - std::chrono::seconds(1));

    TBNLogMessage invalid;
    invalid.setMessage("not base64!");
    EXPECT_EQ(logRecordWithTBNLogMessage(invalid).message, "");
    invalid.setMessage(b64("\xC3("));
    EXPECT_EQ(logRecordWithTBNLogMessage(invalid).message, std::nullopt);

    TBNLogMessage huge;
    huge.setMessage(b64(std::string(100000, 'x')));
    huge.setTags(std::string(5000, 't'));
    huge.setThreadName(std::string(5000, 'n'));
    ExtensionFieldLimits limits;
    LogRecord h = logRecordWithTBNLogMessage(huge, limits);
    EXPECT_EQ(h.message->size(), limits.message);
    EXPECT_EQ(h.queueLabel.size(), limits.threadName);
    EXPECT_EQ(dynamic_cast<const TBNLogTag*>(h.tag.get())->logTags().front().size(), limits.tags);
}

}  // namespace
}  // namespace lumvane
